// Converge: convergence and precision figures of one scalar quantity from
// the traces of one or more chains, as defined by Vehtari, Gelman, Simpson,
// Carpenter and Buerkner (2021), "Rank-normalization, folding, and
// localization: an improved R-hat for assessing convergence of MCMC".
//
// Every chain is split into its first and its second half (the middle draw
// of an odd length is left out), so that one chain that drifts shows as two
// chains that disagree. On the split chains:
//   - R-hat is the larger of the bulk R-hat (the classical potential scale
//     reduction of the rank-normalised draws) and the tail R-hat (the same
//     of the rank-normalised draws folded about the median, |x - median|).
//     Rank normalisation replaces each draw by the standard normal quantile
//     of (r - 3/8) / (S + 1/4), r its rank among all S split draws (ties
//     take their average rank).
//   - Bulk ESS is the effective sample size of the rank-normalised draws.
//   - Tail ESS is the smaller of the effective sample sizes of the
//     indicators x <= q05 and x <= q95, q the 5% and 95% quantiles of all
//     draws (linear interpolation between order statistics).
//   - MCSE of the mean is the standard deviation of all draws (divisor
//     S - 1) over the square root of the effective sample size of the draws
//     themselves.
// An effective sample size sums the chains' pooled autocorrelations with
// Geyer's initial monotone sequence: pairs of successive lags are summed
// while their sum stays positive, and each pair sum is capped by the one
// before it.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

// Each chain needs at least this many draws, two halves of six, for the
// figures to be computed at all: with fewer the autocorrelation sum could
// not look past the first lag. Figures from a few dozen draws are still
// rough.
inline constexpr size_t Converge_minimumLength = 12;

// The four figures of one quantity. A figure that is not defined is NaN:
// every figure when a chain is shorter than Converge_minimumLength or a draw
// is not finite; R-hat and both effective sizes when every draw is the same
// (nothing varies, so nothing can be said about mixing; the MCSE is then 0).
// A part of a figure that is not defined is left out: R-hat is the bulk
// R-hat alone when the folded draws are all equal, and the tail ESS uses the
// one quantile indicator that varies when the other does not (a discrete
// quantity piled on one value).
struct Converge_Summary {
  double rHat;
  double bulkEss;
  double tailEss;
  double mcseMean;
  size_t draws;  // draws used, over all chains
};

// The figures from the traces of m >= 1 chains of one quantity. Chains of
// unequal length are cut to the shortest, keeping each chain's first draws.
Converge_Summary Converge_Summarise(std::span<const std::span<const double>> chains);

void InitConverge();
