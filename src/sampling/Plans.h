// Plans: precomputed full conditionals for the commonest conjugate updates.
//
// The general conjugate procedures find a node's full conditional by
// probing every likelihood term through the value procedures: for a
// regression coefficient that means evaluating every linear predictor twice,
// each at the cost of all its terms. Where the structure is known when the
// model is compiled, a plan lays out what the update needs in one
// contiguous array instead:
//
// - a node with a normal full conditional whose likelihood terms are all
//   dnorm or dlnorm with a mean that is the node itself or a linear form
//   holding it once, alone or times a fixed value;
// - a node with a gamma full conditional whose likelihood terms are all
//   dnorm or dlnorm with the node itself as their precision;
// - a multivariate normal block whose terms are all dmnorm with the block as
//   their mean and one shared precision, and a Wishart block whose terms are
//   all dmnorm with the block as their precision and one shared mean, while
//   every observation is data: the sums they need of the observations are
//   made once per update command.
//
// The linear forms such plans read are maintained: while an update command
// runs, each holds its whole sum, and the normal plans add the change of
// their node to every form that holds it. A form is maintained only when
// every unknown in it is updated by a normal plan, so nothing else can
// change it behind the plans' backs. The sums are formed afresh at the start
// of each update command and every Plans_resumEvery sweeps, which bounds
// the rounding the running sums gather.
//
// Outside an update command (and for records without a plan) the samplers
// use the general procedures.
#pragma once

#include <cstdint>
#include <span>

#include "sampling/Samplers.h"

constexpr int32_t Plans_resumEvery = 64;

void InitPlans();
// Makes the plans of the current update list and marks each record that has
// one. Run once the update methods are chosen and the logical nodes are in
// their final form.
void Plans_Build();
// What a chain keeps of the plans: its completed sweeps in this update
// command, which say when to form its sums afresh.
struct Plans_ChainPart {
  int32_t sweeps = 0;
};
extern thread_local constinit Plans_ChainPart* Plans_part;
// Binds a chain's part to the calling thread.
void Plans_Bind(Plans_ChainPart* part);

// Bracket the sweeps of one update command. In the main thread, once,
// while no chain sweeps: Begin reads the fixed values the plans copy (data,
// the same in every chain) and switches the linear forms to maintained
// sums; End, after every chain's EndChain, switches them back. In each
// chain's thread, with its record bound: BeginChain forms the chain's sums;
// SweepDone, after each completed sweep, forms them afresh every
// Plans_resumEvery sweeps; EndChain leaves the chain's forms holding their
// whole sums again. None of the chain procedures writes a node.
void Plans_Begin();
void Plans_BeginChain();
void Plans_SweepDone();
void Plans_EndChain();
void Plans_End();

// The normal full conditional of the record's node, as
// ConjDist_NormalParameters gives it. False, changing nothing, when the
// record has no plan or no update command is running.
bool Plans_Normal(const Samplers_Sampler& s, double& mean, double& precision);
// The normal plan's node moved from `from` to `to`: the maintained forms
// that hold it follow.
void Plans_NormalMoved(const Samplers_Sampler& s, double from, double to);
// The gamma full conditional of the record's node; false as for the normal.
bool Plans_Gamma(const Samplers_Sampler& s, double& shape, double& rate);
// A block's full conditional as ConjDist_MNormal2Parameters and
// ConjDist_WishartParameters give it. False, changing nothing the caller
// reads, when the record has no such plan, no update command is running,
// an observation is not data, or the matrix to factor is not positive
// definite (the general procedure then decides).
bool Plans_MNormal(const Samplers_Sampler& s, std::span<double> mu, std::span<double> U);
bool Plans_Wishart(const Samplers_Sampler& s, double& k, std::span<double> R);

