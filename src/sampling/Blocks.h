// Blocks: joint updates of unknowns that the posterior correlates, asked for
// by the compile command's `blocks` option. Left to single-node updates,
// the intercept and slope of a regression on an uncentred covariate move by
// a sliver per sweep; drawn together they move freely.
//
// Two kinds of block are formed from scalar unknowns with normal priors and
// no bounds, connected through the likelihood terms they share:
//
// - linear: every term is dnorm or dlnorm with a mean linear in the members
//   and a precision free of them; a dmnorm block whose terms are all such
//   joins whole, its prior one multivariate factor. The block is drawn from its exact
//   multivariate normal full conditional. Terms whose observation and mean
//   involve no unknown but the members (a regression on data covariates)
//   are summed once, when the block is formed, into X'WX and X'Wy per
//   precision they share, so that a sweep costs O(p^2) to O(p^3) for p
//   members however many observations there are; the other terms are probed
//   at every update.
// - generalised linear: every term is dbern, dbin (known count) or dpois
//   whose parameter is a logit, probit, complementary log-log or log link of
//   a predictor linear in the members. The block moves by a
//   Metropolis-Hastings step whose proposal is the normal of one iteratively
//   reweighted least-squares step from the current value (Gamerman 1997,
//   "Sampling from the posterior distribution in generalized linear mixed
//   models"); when that normal cannot be formed the members are updated one
//   at a time by their own procedures for that sweep.
//
// A group of candidates with more than Blocks_maxMembers members, or whose
// terms turn out not to be jointly linear in the members, is refused: its
// members keep the procedures they had.
#pragma once

#include <cstdint>
#include <vector>

#include "sampling/Samplers.h"

constexpr int32_t Blocks_maxMembers = 25;

// Whether the compile forms blocks; the compile command's option sets it.
extern bool Blocks_on;

enum class Blocks_Kind { linear, generalised };

// What one chain counts of a block's Metropolis-Hastings steps.
struct Blocks_Counts {
  int64_t proposed = 0;
  int64_t accepted = 0;
  int64_t singly = 0;  // updates left to the single-node procedures
};
// A chain's part: the counts of each block by its number.
struct Blocks_ChainPart {
  std::vector<Blocks_Counts> counts;
};
extern thread_local constinit Blocks_ChainPart* Blocks_part;
void Blocks_Bind(Blocks_ChainPart* part);

// Forgets every block, and the option.
void InitBlocks();
// Groups the candidates of the update list into blocks, gives each block's
// first record in the sweep the block's procedure and the other members a
// procedure that leaves them to it, and writes one line per block formed.
// Run after the update methods are chosen and before the logical nodes take
// their fast evaluators.
void Blocks_Form();
int32_t Blocks_Count();
Blocks_Kind Blocks_KindOf(int32_t block);
// The members in increasing node number.
const std::vector<Graph_Node*>& Blocks_Members(int32_t block);
// The bound chain's counts for the block; zero before its first update.
Blocks_Counts Blocks_CountsOf(int32_t block);

// The procedures the blocks install.
void Blocks_Linear(Samplers_Sampler& s);
void Blocks_Generalised(Samplers_Sampler& s);
void Blocks_Member(Samplers_Sampler& s);
