#include "sampling/GibbsSam.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <span>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "graph/Density.h"
#include "numerics/MatrixAl.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"
#include "sampling/ConjDist.h"
#include "sampling/Plans.h"
#include "store/Distrib.h"

static_assert(GibbsSam_maxOrder <= ConjDist_maxOrder && GibbsSam_maxVector <= ConjDist_maxVector,
              "every block the samplers take must fit the conjugate parameters");
static_assert(GibbsSam_maxOrder <= MatrixAl_maxOrder, "every block must fit the matrix routines");

namespace {

constexpr int matrixEntries = GibbsSam_maxOrder * GibbsSam_maxOrder;
constexpr double squareTolerance = 1.0E-6;   // added before taking a block's matrix order
constexpr double integerTolerance = 1.0E-6;  // added before truncating a count or a bound
constexpr double infinity = std::numeric_limits<double>::infinity();

// Enumeration. A support of more points than this is refused; the weight
// buffer below holds twice as many so that a window can grow either way
// from where it started.
constexpr int64_t maxSupport = 1024;
// A point whose log full conditional is this far below the best one weighs
// nothing; exp is not called for it.
constexpr double negligible = -200.0;
// A likelihood sum gives up once it falls this low (and returns the partial
// sum): such a point is ruled out, and if every point is, nothing can be drawn.
constexpr double ruledOut = -5.0E9;
// A window over an unbounded support first holds all of the prior's mass
// but a tail of at most e^-tailLog (about 1.0E-12), then grows outward
// while the log full conditional at its end is within windowCutOff of the
// best point seen. The end then weighs less than e^-40 of the best, and
// where the full conditional falls away from its mode so does every point
// beyond it.
constexpr double tailLog = 27.631021115928547;  // -ln 1.0E-12
constexpr double windowCutOff = 40.0;
// The largest count the generators produce; the open end of an unbounded support.
constexpr int64_t maxCount = 2147483647;

inline double Parameter(Graph_Node* node, int i) { return Graph_ValueOf(node->parents[static_cast<size_t>(i)]); }

// Component i of the vector or matrix parameter that starts at this parent.
inline double Component(Graph_Node* parent, int32_t i) {
  return Graph_ValueOf(Graph_Label(Determ_Base(parent) + i));
}

inline Graph_Node* ComponentNode(Graph_Node* node, int32_t i) {
  return i == 0 ? node : Graph_Label(node->label + i);
}

inline void SetComponent(Graph_Node* node, int32_t i, double value) { Graph_Own(ComponentNode(node, i)) = value; }

inline bool Positive(double x) { return std::isfinite(x) && x > 0.0; }


// The values of a node, or of the first `count` components of a block, as
// they were before an update. The conjugate parameter procedures probe by
// overwriting them, so an update that then cannot draw puts them back. A
// block beyond the largest capacity is refused before anything is written,
// so its first components suffice.
class Saved {
 public:
  Saved(Graph_Node* node, int32_t count) : node_(node), count_(std::clamp<int32_t>(count, 1, matrixEntries)) {
    for (int32_t i = 0; i < count_; ++i) values_[static_cast<size_t>(i)] = Graph_Own(ComponentNode(node_, i));
  }
  void Restore() const {
    for (int32_t i = 0; i < count_; ++i) Graph_Own(ComponentNode(node_, i)) = values_[static_cast<size_t>(i)];
  }
  // Whether every component now holds a finite number.
  bool NowFinite() const {
    for (int32_t i = 0; i < count_; ++i)
      if (!std::isfinite(Graph_Own(ComponentNode(node_, i)))) return false;
    return true;
  }

 private:
  Graph_Node* node_;
  int32_t count_;
  std::array<double, matrixEntries> values_;
};

// ---------------------------------------------------------------------------
// Prior draws of one node.

bool MNormal(Graph_Node* node) {
  const int32_t m = node->size;
  if (m < 1 || m > GibbsSam_maxOrder) return false;
  std::array<double, GibbsSam_maxOrder> mu, x;
  std::array<double, matrixEntries> T;
  for (int32_t i = 0; i < m; ++i) mu[static_cast<size_t>(i)] = Component(node->parents[0], i);
  for (int32_t i = 0; i < m * m; ++i) T[static_cast<size_t>(i)] = Component(node->parents[1], i);
  if (!MatrixAl_LUDecomp(T.data(), m) || !RandNum_MNormal(mu, T, x, m)) return false;
  for (int32_t i = 0; i < m; ++i) SetComponent(node, i, x[static_cast<size_t>(i)]);
  return true;
}

// The order of a Wishart block, or 0 when its components do not make a
// square matrix that fits.
int WishartOrder(const Graph_Node* node) {
  const int d = static_cast<int>(std::sqrt(static_cast<double>(node->size) + squareTolerance));
  return d >= 1 && d <= GibbsSam_maxOrder && d * d == node->size ? d : 0;
}

// The bound parents of a node with more than two parents; either may be absent.
Graph_Node* LowerParent(Graph_Node* node) {
  return node->numParents > 2 ? node->parents[static_cast<size_t>(node->numParents - 2)] : nullptr;
}
Graph_Node* UpperParent(Graph_Node* node) {
  return node->numParents > 2 ? node->parents[static_cast<size_t>(node->numParents - 1)] : nullptr;
}

enum class Outcome { drawn, noBound, badBound, crossed, drawFailed, notFinite, capSpent, empty };

Outcome TruncatedStandardNormal(double a, double b, double& z);

// ln(1 - e^v) for v <= 0.
double LogOneMinusExp(double v) {
  return v > -0.6931471805599453 ? std::log(-std::expm1(v)) : std::log1p(-std::exp(v));
}

// ln P(Z > z) for a standard normal Z: Q(1/2, z^2 / 2) / 2 above 0.
double LogNormalUpper(double z) {
  const double q = SpecFunc_LogGammaQ(0.5, 0.5 * z * z);
  return z >= 0.0 ? std::log(0.5) + q : std::log1p(-0.5 * std::exp(q));
}

// ln P(a <= Z <= b) for a standard normal Z, in the tail that keeps its digits.
double LogNormalMass(double a, double b) {
  if (a >= 0.0) return LogNormalUpper(a) + LogOneMinusExp(LogNormalUpper(b) - LogNormalUpper(a));
  if (b <= 0.0) return LogNormalUpper(-b) + LogOneMinusExp(LogNormalUpper(-a) - LogNormalUpper(-b));
  return std::log(1.0 - std::exp(LogNormalUpper(-a)) - std::exp(LogNormalUpper(b)));
}

// The prior draw within [a, b] of the densities that have an exact
// bounded draw: gamma, chi-square, exponential and beta through the
// truncated generators, normal through the truncated standard normal when
// the bounds hold less than RandNum_rejectionMass (above it the plain draws
// are repeated, as for every other density). False, leaving outcome alone,
// when the density has none or its parameters are out of range (the plain
// draws then report them).
bool ExactBoundedPrior(Graph_Node* node, double a, double b, Outcome& outcome) {
  double x = 0.0;
  const auto params = [node](double& p0, double& p1) {
    p0 = Parameter(node, 0);
    p1 = Distrib_Of(node->density).numParameters > 1 ? Parameter(node, 1) : 0.0;
  };
  double p0 = 0.0, p1 = 0.0;
  switch (node->density) {
    case Distrib_dgamma:
      params(p0, p1);
      if (!Positive(p0) || !Positive(p1)) return false;
      x = RandNum_TruncatedGamma(p0, p1, a, b);
      break;
    case Distrib_dchisq:
      params(p0, p1);
      if (!Positive(p0)) return false;
      x = RandNum_TruncatedGamma(0.5 * p0, 0.5, a, b);
      break;
    case Distrib_dexp:
      params(p0, p1);
      if (!Positive(p0)) return false;
      x = RandNum_TruncatedGamma(1.0, p0, a, b);
      break;
    case Distrib_dbeta:
      params(p0, p1);
      if (!Positive(p0) || !Positive(p1)) return false;
      x = RandNum_TruncatedBeta(p0, p1, a, b);
      break;
    case Distrib_dnorm: {
      params(p0, p1);
      if (!Positive(p1) || !std::isfinite(p0)) return false;
      const double sd = 1.0 / std::sqrt(p1);
      const double za = (a - p0) / sd, zb = (b - p0) / sd;
      if (std::isnan(za) || std::isnan(zb) || LogNormalMass(za, zb) >= std::log(RandNum_rejectionMass)) return false;
      double z = 0.0;
      outcome = TruncatedStandardNormal(za, zb, z);
      if (outcome == Outcome::drawn) Graph_Own(node) = std::clamp(z * sd + p0, a, b);
      return true;
    }
    default:
      return false;
  }
  outcome = std::isnan(x) ? Outcome::empty : Outcome::drawn;
  if (outcome == Outcome::drawn) Graph_Own(node) = x;
  return true;
}

// The bounds asked for, read once; an absent side is infinite. A bound that
// is not a number, or bounds that cross, leave no value to draw.
Outcome ReadGivenBounds(Graph_Node* node, bool lower, bool upper, double& a, double& b) {
  a = -infinity;
  b = infinity;
  if (lower) {
    Graph_Node* lo = LowerParent(node);
    if (lo == nullptr) return Outcome::noBound;
    a = Graph_ValueOf(lo);
  }
  if (upper) {
    Graph_Node* hi = UpperParent(node);
    if (hi == nullptr) return Outcome::noBound;
    b = Graph_ValueOf(hi);
  }
  if (std::isnan(a) || std::isnan(b)) return Outcome::badBound;
  if (a > b) return Outcome::crossed;
  return Outcome::drawn;
}

// Most nodes have no bounds: their updates skip the call.
inline Outcome ReadBounds(Graph_Node* node, bool lower, bool upper, double& a, double& b) {
  if (lower || upper) return ReadGivenBounds(node, lower, upper, a, b);
  a = -infinity;
  b = infinity;
  return Outcome::drawn;
}

// Draws until a value falls within [a, b]. A value that is not a finite
// number is never accepted: it ends the search as a failure.
template <typename Draw>
Outcome Within(Draw draw, double a, double b, double& x) {
  for (long tries = 0; tries < GibbsSam_maxTries; ++tries) {
    x = draw();
    if (!std::isfinite(x)) return Outcome::notFinite;
    if (x >= a && x <= b) return Outcome::drawn;
  }
  return Outcome::capSpent;
}

// Repeats the prior draw until it lies within the bounds asked for. A bound
// the prior almost never meets must not hold the program: the search gives
// up after GibbsSam_maxTries draws, leaving the node's value as it was.
Outcome BoundedPrior(Graph_Node* node, bool lower, bool upper) {
  double a = 0.0, b = 0.0;
  const Outcome read = ReadBounds(node, lower, upper, a, b);
  if (read != Outcome::drawn) return read;
  if (Outcome exact = Outcome::drawn; ExactBoundedPrior(node, a, b, exact)) return exact;
  const double old = Graph_Own(node);
  bool drawFailed = false;
  double x = 0.0;
  const Outcome found = Within(
      [&] {
        if (GibbsSam_DirectSample(node)) return Graph_Own(node);
        drawFailed = true;
        return std::numeric_limits<double>::quiet_NaN();
      },
      a, b, x);
  if (found == Outcome::drawn) return found;
  Graph_Own(node) = old;
  return drawFailed ? Outcome::drawFailed : found;
}

}  // namespace

bool GibbsSam_DirectSample(Graph_Node* node) {
  double x = 0.0;
  switch (node->density) {
    case Distrib_dbern: x = RandNum_Bernoulli(Parameter(node, 0)); break;
    case Distrib_dbeta: x = RandNum_Beta(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dbin: x = RandNum_Binomial(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_ddexp: x = RandNum_DoubleExp(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_df: x = RandNum_Fdist(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dgamma: x = RandNum_Gamma(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dgum: x = RandNum_Gumbel(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dlogis: x = RandNum_Logistic(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dlnorm: x = RandNum_LogNormal(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dnegbin: x = RandNum_NegativeBinomial(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dnorm: x = RandNum_Normal(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dpar: x = RandNum_Pareto(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dunif: x = RandNum_Uniform(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dweib: x = RandNum_Weibull(Parameter(node, 0), Parameter(node, 1)); break;
    case Distrib_dchisq: x = RandNum_Gamma(0.5 * Parameter(node, 0), 0.5); break;
    case Distrib_dexp: x = RandNum_Exponential(Parameter(node, 0)); break;
    case Distrib_dgeom: x = RandNum_Geometric(Parameter(node, 0)); break;
    case Distrib_dpois: x = RandNum_Poisson(Parameter(node, 0)); break;
    case Distrib_dpow: x = RandNum_Power(Parameter(node, 0)); break;
    case Distrib_dzipf: x = RandNum_Zipf(Parameter(node, 0)); break;
    case Distrib_dhypo: x = 0.0; break;
    // The discrete sampler, which enumerates the categories, draws dcat.
    case Distrib_dcat: return true;
    case Distrib_ddirch: return GibbsSam_Direchlet(node);
    case Distrib_dmulti: return GibbsSam_Mulinomial(node);
    case Distrib_dwish: return GibbsSam_Wishart(node);
    case Distrib_dmnorm: return MNormal(node);
    default: return true;  // no distribution: nothing to draw
  }
  // A vague prior's draw can lie below the least positive number there is
  // (a dgamma(0.001, 0.001) draw does so about half the time) and come back
  // as 0, outside its support: it is taken as the least positive normal
  // number instead, which every sampler, and a restart, can start from.
  if (x == 0.0 && Distrib_PositiveHalfLine(node->density)) x = std::numeric_limits<double>::min();
  Graph_Own(node) = x;
  return true;
}

bool GibbsSam_LDirectSample(Graph_Node* node) { return BoundedPrior(node, true, false) == Outcome::drawn; }
bool GibbsSam_UDirectSample(Graph_Node* node) { return BoundedPrior(node, false, true) == Outcome::drawn; }
bool GibbsSam_TDirectSample(Graph_Node* node) { return BoundedPrior(node, true, true) == Outcome::drawn; }

bool GibbsSam_WeibullTail(Graph_Node* node) {
  if (node->numParents < 3 || node->parents[2] == nullptr) return false;
  // Every Weibull draw is positive: a negative bound restricts nothing.
  Graph_Own(node) = RandNum_WeibullTail(Parameter(node, 0), Parameter(node, 1), std::max(Parameter(node, 2), 0.0));
  return true;
}

bool GibbsSam_GumbelRightTail(Graph_Node* node) {
  if (node->numParents < 3 || node->parents[2] == nullptr) return false;
  Graph_Own(node) = RandNum_GumbelRightTail(Parameter(node, 0), Parameter(node, 1), Parameter(node, 2));
  return true;
}

bool GibbsSam_Direchlet(Graph_Node* node) {
  const int32_t m = node->size;
  if (m < 1 || m > GibbsSam_maxVector) return false;
  std::array<double, GibbsSam_maxVector> alpha, x;
  for (int32_t i = 0; i < m; ++i) alpha[static_cast<size_t>(i)] = Component(node->parents[0], i);
  if (!RandNum_Direchlet(alpha, x, m)) return false;
  for (int32_t i = 0; i < m; ++i) SetComponent(node, i, x[static_cast<size_t>(i)]);
  return true;
}

bool GibbsSam_Mulinomial(Graph_Node* node) {
  const int32_t m = node->size;
  if (m < 1 || m > GibbsSam_maxVector) return false;
  std::array<double, GibbsSam_maxVector> p, x;
  for (int32_t i = 0; i < m; ++i) p[static_cast<size_t>(i)] = Component(node->parents[0], i);
  const double N = Parameter(node, 1);
  if (!RandNum_Multinomial(p, x, N, m)) return false;
  for (int32_t i = 0; i < m; ++i) SetComponent(node, i, x[static_cast<size_t>(i)]);
  return true;
}

// dwish(R, k) has mean k R^-1: the generator takes the factored inverse of R.
bool GibbsSam_Wishart(Graph_Node* node) {
  const int d = WishartOrder(node);
  if (d == 0) return false;
  const int32_t size = node->size;
  std::array<double, matrixEntries> R, W;
  for (int32_t i = 0; i < size; ++i) R[static_cast<size_t>(i)] = Component(node->parents[0], i);
  const double k = Parameter(node, 1);
  if (!MatrixAl_InvertMatrixULDecomp(R.data(), d) || !RandNum_Wishart(R, W, k, d)) return false;
  for (int32_t i = 0; i < size; ++i) SetComponent(node, i, W[static_cast<size_t>(i)]);
  return true;
}

// ---------------------------------------------------------------------------
// Update procedures.

namespace {

constexpr const char* capacityText = "The block has %d components, more than the %d this update can hold.";

// The reason a bounded search ended without a value, for the report.
void FailSearch(Samplers_Sampler& s, Outcome outcome, double a, double b) {
  switch (outcome) {
    case Outcome::noBound: return Samplers_FailWith(s, "The node has no bound to meet.");
    case Outcome::badBound: return Samplers_FailWith(s, "A bound of the node is not a number.");
    case Outcome::crossed: return Samplers_FailWith(s, "The lower bound %g is above the upper bound %g.", a, b);
    case Outcome::drawFailed: return Samplers_FailWith(s, "The draw from the prior could not be made.");
    case Outcome::notFinite: return Samplers_FailWith(s, "A draw was not a finite number: a parameter is out of range.");
    case Outcome::capSpent:
      return Samplers_FailWith(s, "No draw out of %ld fell within the bounds (%g, %g): they hold almost no probability.",
                  GibbsSam_maxTries, a, b);
    case Outcome::empty:
      return Samplers_FailWith(s, "The bounds (%g, %g) hold no probability: no value can be drawn within them.", a, b);
    case Outcome::drawn: return;
  }
}

// Why the prior draw of a block failed: its size or its matrix.
void FailPriorBlock(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  switch (node->density) {
    case Distrib_ddirch:
    case Distrib_dmulti:
      if (node->size > GibbsSam_maxVector) return Samplers_FailWith(s, capacityText, node->size, GibbsSam_maxVector);
      break;
    case Distrib_dmnorm:
      if (node->size > GibbsSam_maxOrder) return Samplers_FailWith(s, capacityText, node->size, GibbsSam_maxOrder);
      return Samplers_FailWith(s, "The prior precision matrix of the block is not positive definite.");
    case Distrib_dwish: {
      if (WishartOrder(node) == 0)
        return Samplers_FailWith(s, "The block of %d components is not a square matrix of order at most %d.", node->size,
                    GibbsSam_maxOrder);
      const double k = Parameter(node, 1);
      if (!(std::isfinite(k) && k > WishartOrder(node) - 1))
        return Samplers_FailWith(s, "The degrees of freedom %g must be a number above %d, the order less one.", k,
                    WishartOrder(node) - 1);
      return Samplers_FailWith(s, "The prior scale matrix of the block is not positive definite.");
    }
    default:
      break;
  }
  Samplers_FailWith(s, "The draw from the prior could not be made.");
}

// Keeps a draw of the bounded procedures within its bounds when rounding
// in mean + z * sd has carried it just outside.
inline double Clamp(double x, double a, double b) { return std::min(std::max(x, a), b); }

// --- Beta and gamma --------------------------------------------------------

enum class Conjugate { beta, gamma };

// The conjugate draw within the bounds asked for: the truncated generators
// repeat the unbounded draw until it falls within them when they hold a
// large probability and invert the distribution function otherwise, so a
// region far out in a tail costs no more than one near the mode. With no
// bound the first finite draw is taken.
void BoundedConjugate(Samplers_Sampler& s, Conjugate kind, bool lower, bool upper) {
  Graph_Node* node = s.node;
  double lo = 0.0, hi = 0.0;
  if (const Outcome read = ReadBounds(node, lower, upper, lo, hi); read != Outcome::drawn)
    return FailSearch(s, read, lo, hi);
  const Saved saved(node, 1);
  double p = 0.0, q = 0.0;
  if (kind == Conjugate::beta)
    ConjDist_BetaParameters(node, p, q);
  else if (!Plans_Gamma(s, p, q))
    ConjDist_GammaParameters(node, p, q);
  if (!Positive(p) || !Positive(q)) {
    saved.Restore();
    return Samplers_FailWith(s,
                kind == Conjugate::beta
                    ? "The beta full conditional has parameters a = %g and b = %g: both must be positive."
                    : "The gamma full conditional has shape %g and rate %g: both must be positive.",
                p, q);
  }
  double x = 0.0;
  Outcome found = Outcome::drawn;
  if (!lower && !upper) {
    found = Within([&] { return kind == Conjugate::beta ? RandNum_Beta(p, q) : RandNum_Gamma(p, q); }, lo, hi, x);
  } else {
    x = kind == Conjugate::beta ? RandNum_TruncatedBeta(p, q, lo, hi) : RandNum_TruncatedGamma(p, q, lo, hi);
    if (std::isnan(x)) found = Outcome::empty;
  }
  if (found != Outcome::drawn) {
    saved.Restore();
    return FailSearch(s, found, lo, hi);
  }
  Graph_Own(node) = x;
}

// --- Normal ----------------------------------------------------------------

// The standard variate of a truncated normal, z within [a, b] (either may
// be infinite). Below the mean a lower bound rejects plain standard normal
// draws; at or above it the tail generator draws beyond the bound, and an
// upper bound is the mirror image. Two bounds reject standard normal draws
// when the interval is wide and not close around the mean; otherwise they
// draw uniformly on [a, b] under the envelope exp(-c^2 / 2), c the end
// nearer zero, or under 1 when the interval holds zero. Plain rejection
// accepts a draw with the probability of [a, b]: for a wide interval far
// out in one tail (a above about 4.5) the cap can be spent, and the update
// then fails rather than hold the program.
Outcome TruncatedStandardNormal(double a, double b, double& z) {
  const bool lower = a > -infinity, upper = b < infinity;
  if (lower && !upper) {
    if (a < 0.0) return Within(RandNum_StandardNormal, a, infinity, z);
    z = RandNum_StandardNormalTail(a);
    return Outcome::drawn;
  }
  if (upper && !lower) {
    if (b > 0.0) return Within(RandNum_StandardNormal, -infinity, b, z);
    // The tail below b. Mirrored so that b = 0 gives the lower half.
    z = -RandNum_StandardNormalTail(-b);
    return Outcome::drawn;
  }
  if (b - a > 0.1 && !(std::fabs(a) <= 1.0 && std::fabs(b) <= 1.0)) {
    // An interval wholly on one side of the mean is proposed from the tail
    // beyond its nearer end, which accepts at least as often as plain draws
    // do and stays efficient however far out the interval lies.
    if (a > 0.0) return Within([a] { return RandNum_StandardNormalTail(a); }, a, b, z);
    if (b < 0.0) return Within([b] { return -RandNum_StandardNormalTail(-b); }, a, b, z);
    return Within(RandNum_StandardNormal, a, b, z);
  }
  // The test t <= exp(-z^2 / 2) with t = U exp(-c^2 / 2) is made as
  // U <= exp((c^2 - z^2) / 2), which stays exact where both exponentials
  // would underflow, far out in a tail.
  const double c = (a < 0.0 && 0.0 < b) ? 0.0 : (std::fabs(a) < std::fabs(b) ? a : b);
  for (long tries = 0; tries < GibbsSam_maxTries; ++tries) {
    z = RandNum_Uniform(b, a);
    const double t = RandNum_Rand();
    if (t <= std::exp(0.5 * (c - z) * (c + z))) return Outcome::drawn;
  }
  return Outcome::capSpent;
}

// The normal conjugate draw within the bounds asked for.
void BoundedNormal(Samplers_Sampler& s, bool lower, bool upper) {
  Graph_Node* node = s.node;
  double lo = 0.0, hi = 0.0;
  if (const Outcome read = ReadBounds(node, lower, upper, lo, hi); read != Outcome::drawn)
    return FailSearch(s, read, lo, hi);
  const Saved saved(node, 1);
  const double from = Graph_Own(node);
  double mean = 0.0, precision = 0.0;
  if (!Plans_Normal(s, mean, precision)) ConjDist_NormalParameters(node, mean, precision);
  if (!Positive(precision) || !std::isfinite(mean)) {
    saved.Restore();
    return Samplers_FailWith(s,
                "The normal full conditional has mean %g and precision %g: the precision must be positive "
                "and both finite.",
                mean, precision);
  }
  if (!lower && !upper) {
    const double x = RandNum_Normal(mean, precision);
    if (!std::isfinite(x)) {
      saved.Restore();
      return FailSearch(s, Outcome::notFinite, lo, hi);
    }
    Graph_Own(node) = x;
    return Plans_NormalMoved(s, from, x);
  }
  const double sd = 1.0 / std::sqrt(precision);
  const double a = (lo - mean) / sd, b = (hi - mean) / sd;
  if ((lower && !std::isfinite(a)) || (upper && !std::isfinite(b))) {
    saved.Restore();
    return Samplers_FailWith(s, "The bounds (%g, %g) lie beyond any value the normal full conditional (mean %g, sd %g) reaches.",
                lo, hi, mean, sd);
  }
  double z = 0.0;
  const Outcome found = TruncatedStandardNormal(a, b, z);
  if (found != Outcome::drawn) {
    saved.Restore();
    return FailSearch(s, found, lo, hi);
  }
  Graph_Own(node) = Clamp(z * sd + mean, lo, hi);
  Plans_NormalMoved(s, from, Graph_Own(node));
}

// --- Blocks ----------------------------------------------------------------

// Writes a block's draw, or fails when any component of it is not finite.
bool Deliver(Samplers_Sampler& s, const Saved& saved, std::span<const double> x, int32_t m) {
  for (int32_t i = 0; i < m; ++i) {
    if (!std::isfinite(x[static_cast<size_t>(i)])) {
      saved.Restore();
      Samplers_FailWith(s, "Component %d of the block's draw was not a finite number.", i + 1);
      return false;
    }
  }
  for (int32_t i = 0; i < m; ++i) SetComponent(s.node, i, x[static_cast<size_t>(i)]);
  return true;
}

using MNormalParameters = bool (*)(Graph_Node*, std::span<double>, std::span<double>);

void MNormalBlock(Samplers_Sampler& s, MNormalParameters parameters) {
  Graph_Node* node = s.node;
  const int32_t m = node->size;
  if (m < 1 || m > GibbsSam_maxOrder) return Samplers_FailWith(s, capacityText, m, GibbsSam_maxOrder);
  const Saved saved(node, node->size);
  std::array<double, GibbsSam_maxOrder> mu, x;
  std::array<double, matrixEntries> U;
  if (!(Plans_MNormal(s, mu, U) || parameters(node, mu, U)) || !RandNum_MNormal(mu, U, x, m)) {
    saved.Restore();
    return Samplers_FailWith(s, "The precision matrix of the block's full conditional is not positive definite.");
  }
  Deliver(s, saved, x, m);
}

// ---------------------------------------------------------------------------
// Enumeration of discrete nodes.

// Log full conditionals of the support points, then their running weight
// sums, at index k - origin. Sized once for the widest window and its
// growth either way: no update allocates. Each thread draws with its own.
thread_local constinit std::array<double, 2 * maxSupport> weights{};

// A count or a bound held as a real, truncated towards zero. Values beyond
// any support are held at a far end so the conversion is always defined;
// false for a value that is not a number.
bool ToCount(double x, int64_t& n) {
  constexpr double limit = 1.0E12;
  const double t = std::trunc(x + integerTolerance);
  if (std::isnan(t)) return false;
  n = static_cast<int64_t>(std::clamp(t, -limit, limit));
  return true;
}

// The support of a discrete node, narrowed by its bounds. Open is set for
// the densities whose support has no upper end of its own; upper is then
// the largest count. False, after failing the update, when there is no
// support to enumerate.
bool GetBounds(Samplers_Sampler& s, int64_t& lower, int64_t& upper, bool& open) {
  Graph_Node* node = s.node;
  const Distrib_Row& row = Distrib_Of(node->density);
  if (node->density == Distrib_dhypo) {
    Samplers_FailWith(s, "A dhypo node cannot be sampled by enumeration: it has no log density here.");
    return false;
  }
  if (!row.discrete) {
    Samplers_FailWith(s, "The node is not discrete; it cannot be sampled by enumeration.");
    return false;
  }
  // The distribution's own ends (a count such as dbin's n read afresh),
  // narrowed by the node's bounds to the whole numbers inside them.
  double lo = 0.0, hi = 0.0;
  Distrib_Support(node, lo, hi);
  if (std::isnan(lo) || std::isnan(hi)) {
    Samplers_FailWith(s, "An end of the node's support is not a number.");
    return false;
  }
  for (Graph_Node* bound : {LowerParent(node), UpperParent(node)})
    if (bound != nullptr && std::isnan(Graph_ValueOf(bound))) {
      Samplers_FailWith(s, "A bound of the node is not a number.");
      return false;
    }
  open = hi == infinity;
  if (!ToCount(lo, lower)) lower = 0;
  if (open) {
    upper = maxCount;
  } else if (!ToCount(hi, upper)) {
    upper = lower - 1;
  }
  if (upper < lower) {
    Samplers_FailWith(s, "The support of the node is empty: no whole number lies from %lld to %lld.",
         static_cast<long long>(lower), static_cast<long long>(upper));
    return false;
  }
  if (!open && upper - lower + 1 > maxSupport) {
    Samplers_FailWith(s, "The support of the node, %lld to %lld, has more than %lld points to enumerate.",
         static_cast<long long>(lower), static_cast<long long>(upper), static_cast<long long>(maxSupport));
    return false;
  }
  return true;
}

constexpr const char* tooWideText =
    "The node's support would need a window of more than %lld points to hold all but a negligible part "
    "of its probability; it cannot be enumerated.";

// Steps outward from the mean to the first points beyond which a bound on
// the tail, logTail(t) = ln P(X >= t) above the mean and ln P(X <= t) below
// it, is at most -tailLog. False when that takes more than maxSupport points.
template <typename LogTail>
bool TailWindow(double mean, int64_t least, LogTail logTail, int64_t& lo, int64_t& hi) {
  if (!(mean <= static_cast<double>(maxCount))) return false;
  lo = std::max(least, static_cast<int64_t>(std::floor(mean)));
  hi = std::max(least, static_cast<int64_t>(std::ceil(mean)));
  while (logTail(static_cast<double>(hi)) > -tailLog) {
    if (hi - lo + 1 >= maxSupport) return false;
    ++hi;
  }
  while (lo > least && logTail(static_cast<double>(lo)) > -tailLog) {
    if (hi - lo + 1 >= maxSupport) return false;
    --lo;
  }
  return true;
}

// The window of an unbounded support that holds the prior's mass but for a
// tail of about 1.0E-12, from exact tail bounds: for the Poisson and
// negative binomial counts the exponential (moment generating function)
// bound on either side of the mean; for the geometric count its exact upper
// tail; for the Zipf count the integral bound on its power-law tail. False,
// after failing the update, for parameters outside their range or a window
// too wide, or false with wide set, without failing, when only the width is
// at fault.
bool PriorWindow(Samplers_Sampler& s, int64_t& lo, int64_t& hi, bool& wide) {
  Graph_Node* node = s.node;
  const auto tooWide = [&] {
    wide = true;
    return false;
  };
  switch (node->density) {
    case Distrib_dpois: {
      const double lambda = Parameter(node, 0);
      if (!(std::isfinite(lambda) && lambda >= 0.0)) {
        Samplers_FailWith(s, "The Poisson mean %g of the node must be a finite number at least 0.", lambda);
        return false;
      }
      if (lambda == 0.0) {
        lo = hi = 0;
        return true;
      }
      // ln of e^-lambda (e lambda / t)^t.
      const auto logTail = [lambda](double t) { return t > 0.0 ? t - lambda + t * std::log(lambda / t) : -lambda; };
      return TailWindow(lambda, 0, logTail, lo, hi) || tooWide();
    }
    case Distrib_dnegbin: {
      const double p = Parameter(node, 0), r = Parameter(node, 1);
      if (!(p > 0.0 && p <= 1.0 && Positive(r))) {
        Samplers_FailWith(s, "The negative binomial parameters p = %g and r = %g of the node are out of range.", p, r);
        return false;
      }
      if (p == 1.0) {
        lo = hi = 0;
        return true;
      }
      const double q = 1.0 - p;
      // Minimised over s of the moment generating function bound
      // (p / (1 - q e^s))^r e^(-s t).
      const auto logTail = [p, q, r](double t) {
        return t > 0.0 ? r * std::log(p * (t + r) / r) + t * std::log(q * (t + r) / t) : r * std::log(p);
      };
      return TailWindow(r * q / p, 0, logTail, lo, hi) || tooWide();
    }
    case Distrib_dgeom: {
      const double p = Parameter(node, 0);
      if (!(p > 0.0 && p <= 1.0)) {
        Samplers_FailWith(s, "The probability %g of the geometric node must lie above 0 and at most 1.", p);
        return false;
      }
      // P(X > K) = (1 - p)^K.
      const double K = std::ceil(tailLog / -std::log1p(-p));
      if (!(K <= static_cast<double>(maxSupport))) return tooWide();
      lo = 1;
      hi = std::max<int64_t>(1, static_cast<int64_t>(K));
      return true;
    }
    case Distrib_dzipf: {
      const double a = Parameter(node, 0);
      if (!(std::isfinite(a) && a > 1.0)) {
        Samplers_FailWith(s, "The exponent %g of the Zipf node must be a finite number above 1.", a);
        return false;
      }
      // P(X > K) <= K^(1 - a) / (a - 1), the normalising sum being at least 1.
      const double logK = (tailLog - std::log(a - 1.0)) / (a - 1.0);
      if (!(logK <= std::log(static_cast<double>(maxSupport)))) return tooWide();
      lo = 1;
      hi = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(std::exp(logK))));
      return true;
    }
    default:
      return tooWide();  // GetBounds lets no other density through
  }
}

// The points of one enumeration weighed so far, lo..hi, and the best log
// full conditional among them. Point k is kept at weights[k - origin]; the
// origin is fixed from the window's first lower end so that the index stays
// within the buffer however the window grows, as long as it holds at most
// maxSupport points.
struct Enumeration {
  Graph_Node* node;
  int64_t lo, hi;
  int64_t origin;
  double best;

  Enumeration(Graph_Node* n, int64_t from, int64_t to)
      : node(n), lo(from), hi(to), origin(from - (maxSupport - 1)), best(-infinity) {}
  double& At(int64_t k) const { return weights[static_cast<size_t>(k - origin)]; }
  bool Full() const { return hi - lo + 1 >= maxSupport; }
};

// The window an open support starts from: the prior's window (PriorWindow),
// moved within the bounds (a window wholly outside them starts at the nearer
// bound) and widened to take in the current value, so that the chain can
// always stay where it is. False, after failing the update, when no window
// of at most maxSupport points can be had.
bool StartingWindow(Samplers_Sampler& s, double old, int64_t lower, int64_t upper, int64_t& lo, int64_t& hi) {
  int64_t current = 0;
  const bool atCurrent = std::isfinite(old) && ToCount(old, current) && current >= lower && current <= upper;
  bool wide = false;
  if (PriorWindow(s, lo, hi, wide)) {
    lo = std::clamp(lo, lower, upper);
    hi = std::clamp(hi, lower, upper);
    if (atCurrent) {
      lo = std::min(lo, current);
      hi = std::max(hi, current);
    }
  } else if (wide && atCurrent) {
    // A prior with a heavy tail (a zipf law of exponent near 2) would need
    // more points than can be weighed to hold its mass, but its likelihood
    // terms usually confine the full conditional to far fewer: the window
    // then starts at the current value and grows below with the full
    // conditional alone, until both ends fall far below the best point.
    lo = hi = current;
  } else {
    if (wide) Samplers_FailWith(s, tooWideText, static_cast<long long>(maxSupport));
    return false;  // PriorWindow has failed the update when not wide
  }
  if (hi - lo + 1 > maxSupport) {
    Samplers_FailWith(s, tooWideText, static_cast<long long>(maxSupport));
    return false;
  }
  return true;
}

// The log full conditional at point k, kept as its weight for now; the node
// is left at k.
void Evaluate(Enumeration& e, int64_t k) {
  Graph_Own(e.node) = static_cast<double>(k);
  const double v = Density_LogFullConditional(e.node);
  e.At(k) = v;
  if (v > e.best) e.best = v;
}

// Every point of the window, from its lower end up.
void EvaluateWindow(Enumeration& e) {
  for (int64_t k = e.lo; k <= e.hi; ++k) Evaluate(e, k);
}

// Grows an open support's window outward, first above and then below, while
// the point at its end is within windowCutOff of the best one; best only
// grows, so an end that has fallen below the cut-off stays there. False,
// after putting the node's value back and failing the update, when the
// window would need more than maxSupport points.
bool GrowWindow(Samplers_Sampler& s, Enumeration& e, double old, int64_t lower, int64_t upper) {
  const auto carries = [&](int64_t k) { return e.At(k) > e.best - windowCutOff; };
  bool tooWide = false;
  while (e.hi < upper && carries(e.hi) && !tooWide) {
    if (e.Full()) tooWide = true;
    else Evaluate(e, ++e.hi);
  }
  while (e.lo > lower && carries(e.lo) && !tooWide) {
    if (e.Full()) tooWide = true;
    else Evaluate(e, --e.lo);
  }
  if (!tooWide) return true;
  Graph_Own(e.node) = old;
  Samplers_FailWith(s, tooWideText, static_cast<long long>(maxSupport));
  return false;
}

// Some point must be possible, and none infinitely likely, for the weights
// relative to the best one to mean anything. False, after putting the
// node's value back and failing the update, otherwise.
bool SomethingToDraw(Samplers_Sampler& s, const Enumeration& e, double old) {
  if (e.best > ruledOut && e.best != infinity) return true;
  Graph_Own(e.node) = old;
  if (e.best == infinity)
    Samplers_FailWith(s, "The log full conditional of the node is infinite within its support.");
  else
    Samplers_FailWith(s, "Every point of the node's support, %lld to %lld, is ruled out by its full conditional.",
                      static_cast<long long>(e.lo), static_cast<long long>(e.hi));
  return false;
}

// Turns the log full conditionals into running sums of weights relative to
// the best point, from the lower end up, and returns the total. A point far
// below the best weighs nothing and costs no exp; so does a point whose log
// full conditional is not a number (its difference is not one either).
double CumulativeWeights(const Enumeration& e) {
  double total = 0.0;
  for (int64_t k = e.lo; k <= e.hi; ++k) {
    const double d = e.At(k) - e.best;
    total += d > negligible ? std::exp(d) : 0.0;
    e.At(k) = total;
  }
  return total;
}

// One uniform number scaled to the total picks the first point whose running
// sum reaches it; the last point takes whatever rounding leaves over.
int64_t DrawPoint(const Enumeration& e, double total) {
  const double u = RandNum_Rand() * total;
  int64_t k = e.lo;
  while (k < e.hi && u > e.At(k)) ++k;
  return k;
}

}  // namespace

void GibbsSam_DirectSample(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  if (node->density == Distrib_dcat) return GibbsSam_DiscreteSample(s);  // the prior is the full conditional
  const Saved saved(node, node->size);
  if (!GibbsSam_DirectSample(node)) {
    saved.Restore();
    return FailPriorBlock(s);
  }
  if (!saved.NowFinite()) {
    saved.Restore();
    return FailSearch(s, Outcome::notFinite, 0.0, 0.0);
  }
}

namespace {

void BoundedDirect(Samplers_Sampler& s, bool lower, bool upper) {
  Graph_Node* node = s.node;
  if (node->density == Distrib_dcat) return GibbsSam_DiscreteSample(s);  // it honours the bounds itself
  const Outcome outcome = BoundedPrior(node, lower, upper);
  if (outcome == Outcome::drawn) return;
  double a = 0.0, b = 0.0;
  ReadBounds(node, lower, upper, a, b);
  FailSearch(s, outcome, a, b);
}

using TailDraw = bool (*)(Graph_Node*);

void Tail(Samplers_Sampler& s, TailDraw draw) {
  Graph_Node* node = s.node;
  const double old = Graph_Own(node);
  if (!draw(node)) return Samplers_FailWith(s, "The node has no lower bound to draw above.");
  if (!std::isfinite(Graph_Own(node))) {
    Graph_Own(node) = old;
    FailSearch(s, Outcome::notFinite, 0.0, 0.0);
  }
}

}  // namespace

void GibbsSam_LDirectSample(Samplers_Sampler& s) { BoundedDirect(s, true, false); }
void GibbsSam_UDirectSample(Samplers_Sampler& s) { BoundedDirect(s, false, true); }
void GibbsSam_TDirectSample(Samplers_Sampler& s) { BoundedDirect(s, true, true); }
void GibbsSam_WeibullTail(Samplers_Sampler& s) { Tail(s, GibbsSam_WeibullTail); }
void GibbsSam_GumbelRightTail(Samplers_Sampler& s) { Tail(s, GibbsSam_GumbelRightTail); }

void GibbsSam_Normal(Samplers_Sampler& s) { BoundedNormal(s, false, false); }
void GibbsSam_LNormal(Samplers_Sampler& s) { BoundedNormal(s, true, false); }
void GibbsSam_UNormal(Samplers_Sampler& s) { BoundedNormal(s, false, true); }
void GibbsSam_TNormal(Samplers_Sampler& s) { BoundedNormal(s, true, true); }
void GibbsSam_Gamma(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::gamma, false, false); }
void GibbsSam_LGamma(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::gamma, true, false); }
void GibbsSam_UGamma(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::gamma, false, true); }
void GibbsSam_TGamma(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::gamma, true, true); }
void GibbsSam_Beta(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::beta, false, false); }
void GibbsSam_LBeta(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::beta, true, false); }
void GibbsSam_UBeta(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::beta, false, true); }
void GibbsSam_TBeta(Samplers_Sampler& s) { BoundedConjugate(s, Conjugate::beta, true, true); }

void GibbsSam_Pareto(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  const Saved saved(node, 1);
  double c = 0.0, alpha = 0.0;
  ConjDist_ParetoParameters(node, c, alpha);
  if (!Positive(c) || !Positive(alpha)) {
    saved.Restore();
    return Samplers_FailWith(s, "The Pareto full conditional has scale %g and shape %g: both must be positive.", c, alpha);
  }
  const double x = RandNum_Pareto(alpha, c);
  if (!std::isfinite(x)) {
    saved.Restore();
    return FailSearch(s, Outcome::notFinite, 0.0, 0.0);
  }
  Graph_Own(node) = x;
}

void GibbsSam_Direchlet(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  const int32_t m = node->size;
  if (m < 1 || m > GibbsSam_maxVector) return Samplers_FailWith(s, capacityText, m, GibbsSam_maxVector);
  const Saved saved(node, node->size);
  std::array<double, GibbsSam_maxVector> alpha, x;
  if (!ConjDist_DirechletParameters(node, alpha)) {
    saved.Restore();
    return Samplers_FailWith(s, "The parameters of the block's Dirichlet full conditional could not be formed.");
  }
  for (int32_t i = 0; i < m; ++i) {
    if (!Positive(alpha[static_cast<size_t>(i)])) {
      saved.Restore();
      return Samplers_FailWith(s, "Parameter %d of the Dirichlet full conditional is %g: every parameter must be positive.",
                  i + 1, alpha[static_cast<size_t>(i)]);
    }
  }
  if (!RandNum_Direchlet(alpha, x, m)) {
    saved.Restore();
    return Samplers_FailWith(s, capacityText, m, GibbsSam_maxVector);
  }
  Deliver(s, saved, x, m);
}

void GibbsSam_MNormal1(Samplers_Sampler& s) { MNormalBlock(s, ConjDist_MNormal1Parameters); }
void GibbsSam_MNormal2(Samplers_Sampler& s) { MNormalBlock(s, ConjDist_MNormal2Parameters); }

void GibbsSam_Wishart(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  const int d = WishartOrder(node);
  if (d == 0)
    return Samplers_FailWith(s, "The block of %d components is not a square matrix of order at most %d.", node->size,
                GibbsSam_maxOrder);
  const Saved saved(node, node->size);
  double k = 0.0;
  std::array<double, matrixEntries> R, W;
  if (!(Plans_Wishart(s, k, R) || ConjDist_WishartParameters(node, k, R))) {
    saved.Restore();
    return Samplers_FailWith(s, "The scale matrix of the block's Wishart full conditional is not positive definite.");
  }
  if (!(std::isfinite(k) && k > d - 1)) {
    saved.Restore();
    return Samplers_FailWith(s, "The Wishart full conditional has %g degrees of freedom: it needs a number above %d.", k, d - 1);
  }
  if (!RandNum_Wishart(R, W, k, d)) {
    saved.Restore();
    return Samplers_FailWith(s, "The scale matrix of the block's Wishart full conditional is not positive definite.");
  }
  Deliver(s, saved, W, d * d);
}

// Enumeration over the support. For a dbern, dbin or dcat node that is its
// whole finite support; for a count without an upper end of its own it is a
// window that holds the prior's mass, the node's current value, and as far
// beyond as the likelihood carries the mass (see PriorWindow and the cut-off
// at the top of this file). Each point costs one evaluation of the log full
// conditional; points far below the best weigh nothing.
void GibbsSam_DiscreteSample(Samplers_Sampler& s) {
  Graph_Node* node = s.node;
  const double old = Graph_Own(node);
  int64_t lower = 0, upper = 0;
  bool open = false;
  if (!GetBounds(s, lower, upper, open)) return;
  int64_t lo = lower, hi = upper;
  if (open && !StartingWindow(s, old, lower, upper, lo, hi)) return;
  Enumeration e(node, lo, hi);
  EvaluateWindow(e);
  if (open && !GrowWindow(s, e, old, lower, upper)) return;
  if (!SomethingToDraw(s, e, old)) return;
  const double total = CumulativeWeights(e);
  Graph_Own(node) = static_cast<double>(DrawPoint(e, total));
}
