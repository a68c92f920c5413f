#include "sampling/ConjDist.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "numerics/MatrixAl.h"
#include "store/Distrib.h"

static_assert(ConjDist_maxOrder <= MatrixAl_maxOrder, "a block must fit the matrix routines");

namespace {

constexpr int matrixEntries = ConjDist_maxOrder * ConjDist_maxOrder;
constexpr double negligible = 1.0E-10;         // a coefficient this small means the term is idle
constexpr double integerTolerance = 1.0E-10;  // added before truncating a category or an order
constexpr double undefined = std::numeric_limits<double>::quiet_NaN();

using Vector = std::array<double, ConjDist_maxOrder>;
using Matrix = std::array<double, matrixEntries>;

inline double Parameter(Graph_Node* node, size_t i) { return Graph_ValueOf(node->parents[i]); }

// Component i of the vector or matrix parameter that starts at this parent.
inline double Component(Graph_Node* parent, int32_t i) {
  return Graph_ValueOf(Graph_Label(Determ_Base(parent) + i));
}

// Component i of the block this stochastic node heads or belongs to.
inline Graph_Node* Member(Graph_Node* node, int32_t i) { return Graph_Label(node->label + i); }

inline size_t At(int32_t i) { return static_cast<size_t>(i); }

// How the term parameter q moves with x: q(1) - q(0). A parameter that is
// not logical either is x itself or does not involve x at all; the second
// happens for the components of a block, which share one likelihood list,
// so a term on another component must contribute nothing.
double Coefficient(Graph_Node* q, Graph_Node* x) {
  if (q->kind != Graph_logical) return q == x ? 1.0 : 0.0;
  Graph_Own(x) = 1.0;
  const double q1 = Graph_ValueOf(q);
  Graph_Own(x) = 0.0;
  return q1 - Graph_ValueOf(q);
}

// Slope c and intercept d of a mean that is linear in x. The first
// evaluation, with the fast path off and x marked active, has every linear
// form on the way recompute its sum and keep it without x's term; the
// second, with the fast path on, then costs one term per form. Switching the
// fast path off first means a stale cache can never be read here.
void LinearProbe(Graph_Node* mean, Graph_Node* x, double& c, double& d) {
  Determ_fastLinear = false;
  Determ_activeNode = x;
  Graph_Own(x) = 1.0;
  const double m1 = Graph_ValueOf(mean);
  Determ_fastLinear = true;
  Graph_Own(x) = 0.0;
  d = Graph_ValueOf(mean);
  Determ_fastLinear = false;
  c = m1 - d;
}

// The prior part of the normal full conditional of one component of a
// multivariate normal block with mean mu and precision T, the other
// components held at their values: precision T_ii and precision-weighted
// mean T_ii mu_i - sum over j != i of T_ij (x_j - mu_j). A node missing from
// its own block gets an undefined prior, so the caller refuses the update.
void ComponentPrior(Graph_Node* node, double& m, double& precision) {
  const int32_t n = node->size;
  int32_t i = 0;
  while (i < n && Member(node, i) != node) ++i;
  if (i == n) {
    m = precision = undefined;
    return;
  }
  const int32_t mean = Determ_Base(node->parents[0]);
  const int32_t row = Determ_Base(node->parents[1]) + i * n;
  precision = Graph_ValueOf(Graph_Label(row + i));
  m = precision * Graph_ValueOf(Graph_Label(mean + i));
  for (int32_t j = 0; j < n; ++j)
    if (j != i) m -= Graph_ValueOf(Graph_Label(row + j)) * (Graph_Own(Member(node, j)) - Graph_ValueOf(Graph_Label(mean + j)));
}

// A block of n components, n at most limit, fits a vector of the capacity
// given and, when one is given, a matrix of n * n entries.
bool Fits(int32_t n, int32_t limit, size_t vectorCapacity,
          size_t matrixCapacity = std::numeric_limits<size_t>::max()) {
  return n >= 1 && n <= limit && At(n) <= vectorCapacity && At(n) * At(n) <= matrixCapacity;
}

// Solves P mu = b through the factored P: b becomes the posterior mean and
// P its factored precision. False when P is not positive definite.
bool Solve(Matrix& P, Vector& b, int32_t n) {
  if (!MatrixAl_LUDecomp(P.data(), n)) return false;
  MatrixAl_FordwardSub(P.data(), b.data(), n);
  MatrixAl_BackSub(P.data(), b.data(), n);
  return true;
}

void Deliver(const Vector& b, const Matrix& P, int32_t n, std::span<double> mu, std::span<double> U) {
  std::copy_n(b.begin(), n, mu.begin());
  std::copy_n(P.begin(), n * n, U.begin());
}

// The label a vector or matrix parameter starts at, as Determ_Base gives it,
// without the call for the parents that are not picks, which are most.
inline int32_t BaseOf(Graph_Node* parent) {
  const std::vector<int32_t>& c = parent->stack;
  return c.empty() || c[0] != Determ_pick ? parent->label : Determ_Base(parent);
}

// Copies count components of the vector or matrix parameter that starts at
// label base. One look-up of the base serves every component, which matters
// for a picked parameter: each look-up of its base evaluates its indices.
void Gather(int32_t base, int32_t count, std::span<double> out) {
  for (int32_t i = 0; i < count; ++i) out[At(i)] = Graph_ValueOf(Graph_Label(base + i));
}

// Terms are taken in batches: a first pass copies their observations or
// residuals into one array, a second adds them up in list order, exactly as
// adding term by term would. The second pass calls nothing, so for the
// small orders, which it knows at compile time, its sums stay in registers.
constexpr int32_t batchEntries = 512;
using Batch = std::array<double, batchEntries>;

// sum[j] += row t, component j, for each of the held rows of n components.
template <int32_t Order>
void AddRowsOf(const Batch& y, int32_t held, Vector& sum) {
  std::array<double, Order> s;
  for (int32_t j = 0; j < Order; ++j) s[At(j)] = sum[At(j)];
  for (int32_t t = 0; t < held; ++t)
    for (int32_t j = 0; j < Order; ++j) s[At(j)] += y[At(t * Order + j)];
  for (int32_t j = 0; j < Order; ++j) sum[At(j)] = s[At(j)];
}

void AddRows(const Batch& y, int32_t held, int32_t n, Vector& sum) {
  switch (n) {
    case 1: return AddRowsOf<1>(y, held, sum);
    case 2: return AddRowsOf<2>(y, held, sum);
    case 3: return AddRowsOf<3>(y, held, sum);
    case 4: return AddRowsOf<4>(y, held, sum);
    default:
      for (int32_t t = 0; t < held; ++t)
        for (int32_t j = 0; j < n; ++j) sum[At(j)] += y[At(t * n + j)];
  }
}

// S += r r' for each of the held residuals r of d components. Every entry
// of both triangles is summed, so the scale matrix stays symmetric whichever
// half a reader takes: r_i r_j and r_j r_i are the same number.
template <int32_t Order>
void AddOuterOf(const Batch& r, int32_t held, Matrix& S) {
  std::array<double, Order * Order> a;
  for (int32_t c = 0; c < Order * Order; ++c) a[At(c)] = S[At(c)];
  for (int32_t t = 0; t < held; ++t) {
    const int32_t o = t * Order;
    for (int32_t i = 0; i < Order; ++i)
      for (int32_t j = 0; j < Order; ++j) a[At(i * Order + j)] += r[At(o + i)] * r[At(o + j)];
  }
  for (int32_t c = 0; c < Order * Order; ++c) S[At(c)] = a[At(c)];
}

void AddOuter(const Batch& r, int32_t held, int32_t d, Matrix& S) {
  switch (d) {
    case 1: return AddOuterOf<1>(r, held, S);
    case 2: return AddOuterOf<2>(r, held, S);
    case 3: return AddOuterOf<3>(r, held, S);
    case 4: return AddOuterOf<4>(r, held, S);
    default:
      for (int32_t t = 0; t < held; ++t) {
        const int32_t o = t * d;
        for (int32_t i = 0; i < d; ++i)
          for (int32_t j = 0; j < d; ++j) S[At(i * d + j)] += r[At(o + i)] * r[At(o + j)];
      }
  }
}

// The terms' part of the posterior of a block that is the mean of each of
// its terms. A run of terms with one precision T adds count T to P and T
// times the sum of the run's observations to b: n operations per term and
// n * n per run instead of n * n per term. Runs are told apart by the label
// each term's precision resolves to, not by the parent node, so picks whose
// indices differ from term to term are kept apart. Nothing is written
// meanwhile, so T read at the start of a run holds for the whole of it.
// False for a term of another size.
bool MeanTerms(Graph_Node* node, int32_t n, Vector& b, Matrix& P) {
  const int32_t perBatch = batchEntries / n;
  Batch y;
  Matrix T;
  Vector sum;
  int32_t base = -1;  // no label is negative: the first term opens a run
  int32_t held = 0;   // terms in y
  double count = 0.0;
  auto close = [&] {
    AddRows(y, held, n, sum);
    held = 0;
    for (int32_t i = 0; i < n; ++i) {
      double s = 0.0;
      for (int32_t j = 0; j < n; ++j) {
        const double t = T[At(i * n + j)];
        P[At(i * n + j)] += count * t;
        s += t * sum[At(j)];
      }
      b[At(i)] += s;
    }
  };
  for (Graph_Node* term : node->likelihood) {
    if (term->density != Distrib_dmnorm) continue;
    if (term->size != n) return false;
    const int32_t precision = BaseOf(term->parents[1]);
    if (precision != base) {
      if (count > 0.0) close();
      Gather(precision, n * n, T);
      base = precision;
      count = 0.0;
      std::fill_n(sum.begin(), n, 0.0);
    }
    if (held == perBatch) {
      AddRows(y, held, n, sum);
      held = 0;
    }
    for (int32_t j = 0; j < n; ++j) y[At(held * n + j)] = Graph_Own(Member(term, j));
    ++held;
    count += 1.0;
  }
  if (count > 0.0) close();
  return true;
}

// Adds to S the outer product of each term's residual from its mean and
// counts the terms. A term's observation is the block it heads, whose
// components hold their values. Its mean is read again only when it
// resolves to another label than the last term's: nothing is written
// meanwhile, so a mean read for one term holds for the terms after it that
// share it. False for a term of another size.
bool ResidualTerms(Graph_Node* node, int32_t d, Matrix& S, double& degrees) {
  const int32_t perBatch = batchEntries / d;
  Batch r;
  Vector m;
  int32_t base = -1;  // no label is negative: the first term reads its mean
  int32_t held = 0;   // terms in r
  for (Graph_Node* term : node->likelihood) {
    if (term->density != Distrib_dmnorm) continue;
    if (term->size != d) return false;
    const int32_t mean = BaseOf(term->parents[0]);
    if (mean != base) {
      Gather(mean, d, m);
      base = mean;
    }
    if (held == perBatch) {
      AddOuter(r, held, d, S);
      held = 0;
    }
    for (int32_t i = 0; i < d; ++i) r[At(held * d + i)] = Graph_Own(Member(term, i)) - m[At(i)];
    ++held;
    degrees += 1.0;
  }
  AddOuter(r, held, d, S);
  return true;
}

}  // namespace

void InitConjDist() {}

void ConjDist_BetaParameters(Graph_Node* node, double& a, double& b) {
  // A uniform prior on a probability is beta(1, 1); its limits are bounds.
  if (node->density == Distrib_dunif) {
    a = 1.0;
    b = 1.0;
  } else if (node->density == Distrib_dpow) {
    // The power law a x^(a - 1) on (0, 1) is beta(a, 1).
    a = Parameter(node, 0);
    b = 1.0;
  } else {
    a = Parameter(node, 0);
    b = Parameter(node, 1);
  }
  for (Graph_Node* term : node->likelihood) {
    // Only a term whose probability the node enters says anything here.
    if (Distrib_Of(term->density).role[0] != Distrib_probabilityRole) continue;
    if (std::fabs(Coefficient(term->parents[0], node)) <= negligible) continue;
    const double y = Graph_Own(term);
    switch (term->density) {
      case Distrib_dbern:
        a += y;
        b += 1.0 - y;
        break;
      case Distrib_dbin:
        a += y;
        b += Parameter(term, 1) - y;
        break;
      // A geometric count is the number of trials up to the first success,
      // 1, 2, ..., as its density and generator have it: p (1 - p)^(y - 1).
      case Distrib_dgeom:
        a += 1.0;
        b += y - 1.0;
        break;
      case Distrib_dnegbin:
        a += Parameter(term, 1);
        b += y;
        break;
      default: break;
    }
  }
}

void ConjDist_GammaPrior(Graph_Node* node, double& shape, double& rate) {
  switch (node->density) {
    case Distrib_dgamma:
      shape = Parameter(node, 0);
      rate = Parameter(node, 1);
      break;
    case Distrib_dexp:
      shape = 1.0;
      rate = Parameter(node, 0);
      break;
    case Distrib_dchisq:
      shape = 0.5 * Parameter(node, 0);
      rate = 0.5;
      break;
    // x^-(alpha + 1) is a gamma kernel of shape -alpha and rate 0; the
    // lower limit is a bound of the node and is enforced by the caller.
    case Distrib_dpar:
      shape = -Parameter(node, 0);
      rate = 0.0;
      break;
    default:  // dunif, and any prior taken as flat
      shape = 1.0;
      rate = 0.0;
      break;
  }
}

void ConjDist_GammaParameters(Graph_Node* node, double& shape, double& rate) {
  ConjDist_GammaPrior(node, shape, rate);
  for (Graph_Node* term : node->likelihood) {
    // The parameter through which x enters the term: the rate or precision.
    const int32_t probed = Distrib_RoleParameter(term->density, Distrib_rateRole);
    if (probed < 0) continue;
    const double c = Coefficient(term->parents[static_cast<size_t>(probed)], node);
    if (std::fabs(c) <= negligible) continue;
    const double y = Graph_Own(term);
    switch (term->density) {
      case Distrib_ddexp:
        rate += c * std::fabs(y - Parameter(term, 0));
        shape += 1.0;
        break;
      case Distrib_dexp:
        rate += c * y;
        shape += 1.0;
        break;
      case Distrib_dgamma:
        rate += c * y;
        shape += Parameter(term, 0);
        break;
      case Distrib_dnorm:
      case Distrib_dlnorm: {
        const double e = (term->density == Distrib_dnorm ? y : std::log(y)) - Parameter(term, 0);
        rate += 0.5 * c * e * e;
        shape += 0.5;
        break;
      }
      case Distrib_dpois:
        rate += c;
        shape += y;
        break;
      default:  // dweib
        rate += c * std::pow(y, Parameter(term, 0));
        shape += 1.0;
        break;
    }
  }
}

void ConjDist_NormalPrior(Graph_Node* node, double& m, double& precision) {
  m = 0.0;
  switch (node->density) {
    case Distrib_dunif:  // flat: the limits are bounds the caller enforces
      precision = 0.0;
      break;
    case Distrib_dmnorm:
      ComponentPrior(node, m, precision);
      break;
    default:
      precision = Parameter(node, 1);
      m = Parameter(node, 0) * precision;
      break;
  }
}

void ConjDist_NormalParameters(Graph_Node* node, double& mean, double& precision) {
  double m = 0.0;  // the precision-weighted mean
  ConjDist_NormalPrior(node, m, precision);
  for (Graph_Node* term : node->likelihood) {
    switch (term->density) {
      case Distrib_dnorm:
      case Distrib_dlnorm: {
        Graph_Node* mu = term->parents[0];
        double c = 1.0, d = 0.0;
        if (mu->kind == Graph_logical)
          LinearProbe(mu, node, c, d);
        else if (mu != node)
          break;  // the mean of another component of x's block
        const double t = Parameter(term, 1);
        const double y = term->density == Distrib_dnorm ? Graph_Own(term) : std::log(Graph_Own(term));
        precision += c * c * t;
        m += c * t * (y - d);
        break;
      }
      // A multivariate normal log density is quadratic in x: its second
      // difference over -1, 0, 1 is exactly its curvature and half the
      // difference of the ends its slope at 0.
      case Distrib_dmnorm: {
        Graph_Own(node) = 1.0;
        const double l1 = term->logDensity(term);
        Graph_Own(node) = 0.0;
        const double l0 = term->logDensity(term);
        Graph_Own(node) = -1.0;
        const double lm = term->logDensity(term);
        precision -= l1 - 2.0 * l0 + lm;
        m += 0.5 * (l1 - lm);
        break;
      }
      default: break;
    }
  }
  mean = precision > 0.0 && std::isfinite(precision) ? m / precision : undefined;
}

void ConjDist_ParetoParameters(Graph_Node* node, double& c, double& alpha) {
  c = Parameter(node, 1);
  alpha = Parameter(node, 0);
  for (Graph_Node* term : node->likelihood) {
    if (Distrib_Of(term->density).role[1] != Distrib_upperLimitRole) continue;
    c = std::max(c, Graph_Own(term));
    alpha += 1.0;
  }
}

bool ConjDist_DirechletParameters(Graph_Node* node, std::span<double> alpha) {
  const int32_t n = node->size;
  if (!Fits(n, ConjDist_maxVector, alpha.size())) return false;
  std::array<double, ConjDist_maxVector> w;
  for (int32_t i = 0; i < n; ++i) w[At(i)] = Component(node->parents[0], i);
  Graph_Node* first = Member(node, 0);
  for (Graph_Node* term : node->likelihood) {
    if (Distrib_Of(term->density).role[0] != Distrib_probabilitiesRole) continue;
    Graph_Node* q = Graph_Label(Determ_Base(term->parents[0]));
    const double a = Coefficient(q, first);
    if (std::fabs(a) <= negligible) continue;
    if (term->density == Distrib_dcat) {
      // Categories are numbered from 1; one outside the block has no cell.
      const double k = std::trunc(Graph_Own(term) + integerTolerance) - 1.0;
      if (!(k >= 0.0 && k < n)) return false;
      w[static_cast<size_t>(k)] += a;
    } else {
      if (term->size != n) return false;
      for (int32_t i = 0; i < n; ++i) w[At(i)] += Graph_Own(Member(term, i));
    }
  }
  std::copy_n(w.begin(), n, alpha.begin());
  return true;
}

bool ConjDist_MNormalPrior(Graph_Node* node, std::span<double> b, std::span<double> P) {
  const int32_t n = node->size;
  if (!Fits(n, ConjDist_maxOrder, b.size(), P.size())) return false;
  Vector mu0;
  Gather(BaseOf(node->parents[0]), n, mu0);
  Gather(BaseOf(node->parents[1]), n * n, P);
  for (int32_t i = 0; i < n; ++i) {
    double s = 0.0;
    for (int32_t j = 0; j < n; ++j) s += P[At(i * n + j)] * mu0[At(j)];
    b[At(i)] = s;
  }
  return true;
}

bool ConjDist_MNormal1Parameters(Graph_Node* node, std::span<double> mu, std::span<double> U) {
  const int32_t n = node->size;
  if (!Fits(n, ConjDist_maxOrder, mu.size(), U.size())) return false;
  Vector b, c;
  Matrix P;
  if (!ConjDist_MNormalPrior(node, b, P)) return false;
  // The components are looked up once; the probes below write them, so
  // nothing a term reads may be kept from one term to the next.
  std::array<Graph_Node*, ConjDist_maxOrder> x;
  for (int32_t i = 0; i < n; ++i) x[At(i)] = Member(node, i);
  for (Graph_Node* term : node->likelihood) {
    if (term->density != Distrib_dnorm && term->density != Distrib_dlnorm) continue;
    Graph_Node* mean = term->parents[0];
    for (int32_t i = 0; i < n; ++i) Graph_Own(x[At(i)]) = 0.0;
    const double t = Parameter(term, 1);
    const double d = Graph_ValueOf(mean);
    const double r = (term->density == Distrib_dnorm ? Graph_Own(term) : std::log(Graph_Own(term))) - d;
    for (int32_t i = 0; i < n; ++i) {
      Graph_Own(x[At(i)]) = 1.0;
      c[At(i)] = Graph_ValueOf(mean) - d;
      Graph_Own(x[At(i)]) = 0.0;
      b[At(i)] += r * c[At(i)] * t;
    }
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < n; ++j) P[At(i * n + j)] += c[At(i)] * c[At(j)] * t;
  }
  if (!Solve(P, b, n)) return false;
  Deliver(b, P, n, mu, U);
  return true;
}

bool ConjDist_MNormal2Parameters(Graph_Node* node, std::span<double> mu, std::span<double> U) {
  const int32_t n = node->size;
  if (!Fits(n, ConjDist_maxOrder, mu.size(), U.size())) return false;
  Vector b;
  Matrix P;
  if (!ConjDist_MNormalPrior(node, b, P)) return false;
  if (!MeanTerms(node, n, b, P)) return false;
  return ConjDist_MNormalPosterior(b, P, n, mu, U);
}

bool ConjDist_MNormalPosterior(std::span<const double> b, std::span<const double> P, int32_t n,
                               std::span<double> mu, std::span<double> U) {
  if (!Fits(n, ConjDist_maxOrder, std::min({b.size(), mu.size()}), std::min(P.size(), U.size()))) return false;
  Vector w;
  Matrix Q;
  std::copy_n(b.begin(), n, w.begin());
  std::copy_n(P.begin(), n * n, Q.begin());
  if (!Solve(Q, w, n)) return false;
  Deliver(w, Q, n, mu, U);
  return true;
}

int32_t ConjDist_WishartOrder(const Graph_Node* node) {
  const auto d = static_cast<int32_t>(std::sqrt(static_cast<double>(node->size) + integerTolerance));
  return d * d == node->size && d >= 1 && d <= ConjDist_maxOrder ? d : 0;
}

bool ConjDist_WishartPrior(Graph_Node* node, double& degrees, std::span<double> S) {
  const int32_t size = node->size;
  if (ConjDist_WishartOrder(node) == 0 || S.size() < At(size)) return false;
  degrees = Parameter(node, 1);
  Gather(BaseOf(node->parents[0]), size, S);
  return true;
}

bool ConjDist_WishartScale(std::span<const double> S, int32_t d, std::span<double> R) {
  if (!Fits(d, ConjDist_maxOrder, S.size(), R.size()) || S.size() < At(d * d)) return false;
  Matrix Q;
  std::copy_n(S.begin(), d * d, Q.begin());
  if (!MatrixAl_InvertMatrixULDecomp(Q.data(), d)) return false;
  std::copy_n(Q.begin(), d * d, R.begin());
  return true;
}

bool ConjDist_WishartParameters(Graph_Node* node, double& k, std::span<double> R) {
  const int32_t d = ConjDist_WishartOrder(node);
  double degrees = 0.0;
  Matrix S;
  if (d == 0 || !ConjDist_WishartPrior(node, degrees, S)) return false;
  if (!ResidualTerms(node, d, S, degrees)) return false;
  if (!ConjDist_WishartScale(S, d, R)) return false;
  k = degrees;
  return true;
}
