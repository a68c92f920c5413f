#include "sampling/GibbsSam.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "numerics/MatrixAl.h"
#include "numerics/RandNum.h"

namespace {

constexpr int matrixEntries = GibbsSam_maxOrder * GibbsSam_maxOrder;
constexpr double squareTolerance = 1.0E-6;  // added before taking a block's matrix order

inline double ValueOf(Graph_Node* node) { return node->valueFunction(node); }
inline double Parameter(Graph_Node* node, int i) { return ValueOf(node->parents[static_cast<size_t>(i)]); }

// Component i of the vector or matrix parameter that starts at this parent.
inline double Component(Graph_Node* parent, int32_t i) {
  return ValueOf(Graph_Label(Determ_Base(parent) + i));
}

inline void SetComponent(Graph_Node* node, int32_t i, double value) {
  Graph_Label(node->label + i)->value = value;
}

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

// The bound parents of a node with more than two parents; either may be absent.
Graph_Node* LowerParent(Graph_Node* node) {
  return node->numParents > 2 ? node->parents[static_cast<size_t>(node->numParents - 2)] : nullptr;
}
Graph_Node* UpperParent(Graph_Node* node) {
  return node->numParents > 2 ? node->parents[static_cast<size_t>(node->numParents - 1)] : nullptr;
}

// Repeats the prior draw until it lies within the bounds asked for. A draw
// that is not a number can never be accepted, and a bound the prior almost
// never meets must not hold the program: either ends the search as a failure
// with the node's value as it was.
bool Bounded(Graph_Node* node, bool lower, bool upper) {
  Graph_Node* lo = LowerParent(node);
  Graph_Node* hi = UpperParent(node);
  if ((lower && lo == nullptr) || (upper && hi == nullptr)) return false;
  const double a = lower ? ValueOf(lo) : 0.0;
  const double b = upper ? ValueOf(hi) : 0.0;
  const double old = node->value;
  for (long tries = 0; tries < GibbsSam_maxTries; ++tries) {
    if (!GibbsSam_DirectSample(node)) break;
    const double x = node->value;
    if (std::isnan(x)) break;
    if ((!lower || x >= a) && (!upper || x <= b)) return true;
  }
  node->value = old;
  return false;
}

}  // namespace

bool GibbsSam_DirectSample(Graph_Node* node) {
  double x = 0.0;
  switch (node->density) {
    case CodeGen_dbern: x = RandNum_Bernoulli(Parameter(node, 0)); break;
    case CodeGen_dbeta: x = RandNum_Beta(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dbin: x = RandNum_Binomial(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_ddexp: x = RandNum_DoubleExp(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_df: x = RandNum_Fdist(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dgamma: x = RandNum_Gamma(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dgum: x = RandNum_Gumbel(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dlogis: x = RandNum_Logistic(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dlnorm: x = RandNum_LogNormal(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dnegbin: x = RandNum_NegativeBinomial(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dnorm: x = RandNum_Normal(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dpar: x = RandNum_Pareto(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dunif: x = RandNum_Uniform(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dweib: x = RandNum_Weibull(Parameter(node, 0), Parameter(node, 1)); break;
    case CodeGen_dchisq: x = RandNum_Gamma(0.5 * Parameter(node, 0), 0.5); break;
    case CodeGen_dexp: x = RandNum_Exponential(Parameter(node, 0)); break;
    case CodeGen_dgeom: x = RandNum_Geometric(Parameter(node, 0)); break;
    case CodeGen_dpois: x = RandNum_Poisson(Parameter(node, 0)); break;
    case CodeGen_dpow: x = RandNum_Power(Parameter(node, 0)); break;
    case CodeGen_dhypo:
    case CodeGen_dzipf: x = 0.0; break;
    // The discrete sampler, which enumerates the categories, draws dcat.
    case CodeGen_dcat: return true;
    case CodeGen_ddirch: return GibbsSam_Direchlet(node);
    case CodeGen_dmulti: return GibbsSam_Mulinomial(node);
    case CodeGen_dwish: return GibbsSam_Wishart(node);
    case CodeGen_dmnorm: return MNormal(node);
    default: return true;  // no distribution: nothing to draw
  }
  node->value = x;
  return true;
}

bool GibbsSam_LDirectSample(Graph_Node* node) { return Bounded(node, true, false); }
bool GibbsSam_UDirectSample(Graph_Node* node) { return Bounded(node, false, true); }
bool GibbsSam_TDirectSample(Graph_Node* node) { return Bounded(node, true, true); }

bool GibbsSam_WeibullTail(Graph_Node* node) {
  if (node->numParents < 3 || node->parents[2] == nullptr) return false;
  // Every Weibull draw is positive: a negative bound restricts nothing.
  node->value = RandNum_WeibullTail(Parameter(node, 0), Parameter(node, 1), std::max(Parameter(node, 2), 0.0));
  return true;
}

bool GibbsSam_GumbelRightTail(Graph_Node* node) {
  if (node->numParents < 3 || node->parents[2] == nullptr) return false;
  node->value = RandNum_GumbelRightTail(Parameter(node, 0), Parameter(node, 1), Parameter(node, 2));
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
  const int32_t size = node->size;
  const int d = static_cast<int>(std::sqrt(static_cast<double>(size) + squareTolerance));
  if (d < 1 || d > GibbsSam_maxOrder || d * d != size) return false;
  std::array<double, matrixEntries> R, W;
  for (int32_t i = 0; i < size; ++i) R[static_cast<size_t>(i)] = Component(node->parents[0], i);
  const double k = Parameter(node, 1);
  if (!MatrixAl_InvertMatrixULDecomp(R.data(), d) || !RandNum_Wishart(R, W, k, d)) return false;
  for (int32_t i = 0; i < size; ++i) SetComponent(node, i, W[static_cast<size_t>(i)]);
  return true;
}
