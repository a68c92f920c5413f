#include "sampling/Griddy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "graph/CodeGen.h"
#include "graph/Density.h"
#include "numerics/RandNum.h"
#include "store/Distrib.h"

int32_t Griddy_numBins = 20;

namespace {

constexpr int32_t minBins = 8;
constexpr int32_t maxBins = 1000;
constexpr double infinity = std::numeric_limits<double>::infinity();
// A grid point this far below the best one in log density weighs nothing;
// exp is not called for it.
constexpr double negligible = -200.0;
// A proposal density below this gives the current value no mass to return to.
constexpr double noMass = 1.0E-20;
// Absorbs the rounding of (x - lower) / h just below a whole number.
constexpr double indexNudge = 1.0E-20;

// The proposal, rebuilt at every update: the density at the grid points and
// its integral up to each of them. Only entries 0 .. Griddy_numBins are used.
// Each thread updates with its own.
thread_local constinit std::array<double, maxBins + 1> f{};
thread_local constinit std::array<double, maxBins + 1> F{};

// The grid of the current update.
struct Grid {
  double lower = 0.0;
  double upper = 0.0;
  double h = 0.0;  // interval width
  int32_t n = 0;   // intervals

  // Grid point j; the last is the upper limit itself, free of rounding.
  double Point(int32_t j) const { return j == n ? upper : lower + j * h; }
};



// The sampling interval: the support of the node's own density, narrowed by
// the bounds the model gives it. A bound never widens the support: beyond
// it several log densities (dexp, dpar) still evaluate to finite numbers
// and would draw values the distribution cannot take. False, with the
// failure recorded, when no finite interval of positive width results.
bool Bounds(Samplers_Sampler& s, Grid& grid) {
  Graph_Node* node = s.node;
  double lower = -infinity, upper = infinity;
  Distrib_Support(node, lower, upper);
  if (node->numParents > 2)
    for (int32_t i : {node->numParents - 2, node->numParents - 1}) {
      Graph_Node* bound = node->parents[static_cast<size_t>(i)];
      if (bound != nullptr && std::isnan(Graph_ValueOf(bound))) lower = std::numeric_limits<double>::quiet_NaN();
    }
  if (std::isnan(lower) || std::isnan(upper)) {
    Samplers_FailWith(s, "A limit of the node's sampling interval is not a number.");
    return false;
  }
  if (!std::isfinite(lower) || !std::isfinite(upper)) {
    Samplers_FailWith(s, "The node's sampling interval (%g, %g) is not finite: the grid needs both limits.", lower, upper);
    return false;
  }
  if (!(lower < upper)) {
    Samplers_FailWith(s, "The lower limit %g is not below the upper limit %g: there is no interval to sample on.", lower,
         upper);
    return false;
  }
  grid.lower = lower;
  grid.upper = upper;
  grid.n = Griddy_numBins;
  grid.h = (upper - lower) / grid.n;
  if (!std::isfinite(grid.h) || !(grid.h > 0.0)) {
    Samplers_FailWith(s, "The interval (%g, %g) cannot be divided into %d grid intervals.", lower, upper, grid.n);
    return false;
  }
  return true;
}

// Fills f and F with the normalised piecewise-linear proposal. A grid point
// whose log full conditional is not a finite number weighs zero: NaN and
// -inf carry no mass, and +inf (an integrable pole at a limit, as of dbeta
// with a shape below 1) cannot be a weight; the Metropolis step corrects the
// proposal there. The node's value is restored. False, with the failure
// recorded, when no grid point carries mass.
bool BuildProposal(Samplers_Sampler& s, const Grid& grid) {
  Graph_Node* node = s.node;
  const double remembered = Graph_Own(node);
  const size_t n = static_cast<size_t>(grid.n);
  double max = -infinity;  // the best finite value
  for (size_t j = 0; j <= n; ++j) {
    Graph_Own(node) = grid.Point(static_cast<int32_t>(j));
    f[j] = Density_LogFullConditional(node);
    if (std::isfinite(f[j]) && f[j] > max) max = f[j];
  }
  Graph_Own(node) = remembered;
  if (max == -infinity) {
    Samplers_FailWith(s, "The full conditional is not a finite number at any of the %d grid points on (%g, %g): it has no mass to "
            "propose from.",
         grid.n + 1, grid.lower, grid.upper);
    return false;
  }
  for (size_t j = 0; j <= n; ++j) {
    const double d = f[j] - max;
    f[j] = std::isfinite(d) && d > negligible ? std::exp(d) : 0.0;
  }
  F[0] = 0.0;
  for (size_t j = 1; j <= n; ++j) F[j] = F[j - 1] + 0.5 * (f[j] + f[j - 1]) * grid.h;
  // The best point weighs 1, so the total is at least h / 2 > 0; only an
  // interval too narrow for its reciprocal is left to refuse.
  const double scale = 1.0 / F[n];
  if (!std::isfinite(scale) || !(scale > 0.0)) {
    Samplers_FailWith(s, "The proposal on (%g, %g) cannot be normalised.", grid.lower, grid.upper);
    return false;
  }
  for (size_t j = 0; j <= n; ++j) {
    f[j] *= scale;
    F[j] *= scale;
  }
  F[n] = 1.0;  // exactly, so every uniform finds its interval
  return true;
}

// The proposal density at x, interpolated linearly between grid points. A
// point at the upper limit or beyond it falls in the last interval, one
// below the lower limit in the first; either takes the density at the
// nearer end, so the result is always a finite number of at least 0. A
// value that is not a number has no mass.
double Proposal(double x, const Grid& grid) {
  if (std::isnan(x)) return 0.0;
  const double t = (x - grid.lower) / grid.h;
  int32_t i = 0;
  if (t >= grid.n) {
    i = grid.n - 1;
  } else if (t > 0.0) {
    i = std::clamp(static_cast<int32_t>(t + indexNudge), 0, grid.n - 1);
  }
  const double w = std::clamp(((x - grid.lower) - i * grid.h) / grid.h, 0.0, 1.0);
  const size_t k = static_cast<size_t>(i);
  return (1.0 - w) * f[k] + w * f[k + 1];
}

// A draw from the proposal by inverting its integral. Within an interval
// the density is a + s (x - x_i), so the offset solves a d + s d^2 / 2 = r.
// It is taken in the form 2 r / (sqrt(a^2 + 2 s r) + a), which needs no
// separate case for a flat interval (it is then r / a) and loses no digits
// when the slope is small. The result is kept within its interval.
double Sample(const Grid& grid) {
  const double u = RandNum_Rand();
  const size_t n = static_cast<size_t>(grid.n);
  // F[0] = 0 < u, so the first index with u <= F[i] is at least 1; F[n] = 1 > u.
  const size_t i = std::clamp<size_t>(
      static_cast<size_t>(std::lower_bound(F.begin() + 1, F.begin() + static_cast<ptrdiff_t>(n) + 1, u) - F.begin()),
      1, n);
  const double a = f[i - 1];
  const double slope = (f[i] - f[i - 1]) / grid.h;
  const double r = u - F[i - 1];
  const double root = std::sqrt(std::max(0.0, a * a + 2.0 * slope * r));
  const double left = grid.Point(static_cast<int32_t>(i - 1));
  const double right = grid.Point(static_cast<int32_t>(i));
  // The chosen interval carries mass, so the denominator is positive unless
  // it underflows; the division then gives +inf and the clamp the right end.
  return std::clamp(left + 2.0 * r / (root + a), left, right);
}

}  // namespace

void InitGriddy(int32_t bins) { Griddy_numBins = std::clamp(bins, minBins, maxBins); }

void Griddy_Updater(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  Grid grid;
  if (!Bounds(s, grid) || !BuildProposal(s, grid)) return;

  const double xOld = Graph_Own(node);
  const double lOld = Density_LogFullConditional(node);
  const double qOld = Proposal(xOld, grid);

  const double xNew = Sample(grid);
  Graph_Own(node) = xNew;
  const double lNew = Density_LogFullConditional(node);
  const double qNew = Proposal(xNew, grid);

  bool accept = false;
  if (!std::isfinite(lNew)) {
    // A value where the full conditional is not a finite number is never taken.
    accept = false;
  } else if (!std::isfinite(lOld) || qOld < noMass) {
    // The old value carries no mass the ratio could weigh: the full
    // conditional is not a finite number there, or the grid gives it no
    // chance to be proposed again. Keeping it could hold the chain there
    // for good, so the candidate replaces it.
    accept = true;
  } else {
    const double logR = (lNew - lOld) + std::log(qOld) - std::log(qNew);
    accept = logR > 0.0 || std::log(RandNum_Rand()) < logR;
  }
  if (!accept) Graph_Own(node) = xOld;
}
