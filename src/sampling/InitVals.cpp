#include "sampling/InitVals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/Write.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "graph/Parents.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "graph/Density.h"
#include "numerics/RandNum.h"
#include "sampling/GibbsSam.h"
#include "store/Distrib.h"

bool InitVals_error = false;

namespace {

constexpr int maxPasses = 10;
constexpr int64_t maxSupport = 1000;          // the largest upper end of a discrete support
constexpr double integerTolerance = 1.0E-10;  // added before truncating a count or bound
constexpr double cutOff = -100.0;             // a support point less likely than this weighs nothing
constexpr int generatingValues = 7;           // message
constexpr int cannotGenerate = 91;            // error

// Running sums of the discrete weights, for each thread that draws. They
// only grow, so one allocation serves every later draw.
thread_local std::vector<double> weights;

// Set with InitVals_error by a fault that no later pass can mend: the
// generation stops at once.
bool stopped = false;

void Error(int64_t position, int number) {
  InitVals_error = true;
  stopped = true;
  Errors_CompileError(position, number);
}

inline double Parameter(Graph_Node* node, int i) { return Graph_ValueOf(node->parents[static_cast<size_t>(i)]); }

// A count or bound held as a real, truncated towards zero. Values beyond
// any support the generation admits are held at a large end, so the
// conversion is always defined; not a number gives -1, an empty support.
int64_t ToCount(double x) {
  constexpr double limit = 1.0E12;
  const double t = std::trunc(x + integerTolerance);
  if (std::isnan(t)) return -1;
  if (t > limit) return static_cast<int64_t>(limit);
  if (t < -limit) return -static_cast<int64_t>(limit);
  return static_cast<int64_t>(t);
}

int32_t NumForward() {
  int32_t n = 0;
  for (int32_t i = 0; i < Graph_numDeclaredNodes; ++i) {
    const Graph_Node* node = Graph_nodes[static_cast<size_t>(i)];
    if (node != nullptr && node->kind == Graph_noInitial) ++n;
  }
  return n;
}

void Turn(int32_t from, int32_t to) {
  for (int32_t i = 0; i < Graph_numDeclaredNodes; ++i) {
    Graph_Node* node = Graph_nodes[static_cast<size_t>(i)];
    if (node != nullptr && node->kind == from) node->kind = to;
  }
}

void ReSet() { Turn(Graph_forwardSampled, Graph_noInitial); }
void SetToGibbs() { Turn(Graph_forwardSampled, Graph_stochastic); }

// Parents given a value in the current generation count as available.
bool CanForwardSample(Graph_Node* node) {
  Graph_List list;
  Parents_StochasticParentList(node, list);
  bool can = true;
  for (const Graph_Node* p : list)
    if (p == nullptr || p->kind == Graph_noInitial) can = false;
  Graph_DisposeList(list);
  return can;
}

Graph_Node* LowerParent(Graph_Node* node) {
  return node->numParents > 2 ? node->parents[static_cast<size_t>(node->numParents - 2)] : nullptr;
}
Graph_Node* UpperParent(Graph_Node* node) {
  return node->numParents > 2 ? node->parents[static_cast<size_t>(node->numParents - 1)] : nullptr;
}

// A discrete scalar node whose support has an upper end of its own (dbern,
// dbin, dcat) is drawn by enumerating that support.
bool Enumerated(const Graph_Node* node) {
  const Distrib_Row& row = Distrib_Of(node->density);
  return Distrib_Valid(node->density) && row.discrete && row.shape == Distrib_scalar &&
         row.upper.kind != Distrib_none;
}

// The support of a discrete node, narrowed by its bounds to the whole
// numbers inside them, as the samplers take it; an open upper end is the
// largest count.
void GetBounds(Graph_Node* node, int64_t& lower, int64_t& upper) {
  if (!Distrib_Valid(node->density) || !Distrib_IsDiscrete(node->density)) {
    lower = 0;
    upper = -1;  // no discrete support: nothing can be drawn
    return;
  }
  double lo = 0.0, hi = 0.0;
  Distrib_Support(node, lo, hi);
  lower = std::isfinite(lo) ? ToCount(lo) : 0;
  upper = hi < std::numeric_limits<double>::infinity() ? ToCount(hi) : INT32_MAX;
}

// A discrete node's first draw is from its prior alone, as if no likelihood
// term of it could be evaluated; Reconcile below then makes sure the value
// agrees with the terms that can. Failed is set when every support point is
// ruled out; the pass then starts afresh.
void DiscreteSample(Graph_Node* node, bool& failed) {
  if (!CanForwardSample(node)) return;  // waits for a later pass
  int64_t lo = 0, hi = -1;
  GetBounds(node, lo, hi);
  if (hi > maxSupport) return Error(1, cannotGenerate);
  if (hi < lo) {
    failed = true;
    return;
  }
  if (weights.size() < static_cast<size_t>(hi) + 1) weights.resize(static_cast<size_t>(hi) + 1);
  int64_t zeros = 0;
  for (int64_t k = lo; k <= hi; ++k) {
    Graph_Own(node) = static_cast<double>(k);
    const double L = node->logDensity(node);
    double w = 0.0;
    if (L < cutOff || std::isnan(L)) {
      ++zeros;
    } else {
      w = std::exp(L);
    }
    weights[static_cast<size_t>(k)] = k > lo ? w + weights[static_cast<size_t>(k - 1)] : w;
  }
  if (zeros == hi + 1 - lo) {
    failed = true;
    return;
  }
  const double u = RandNum_Rand() * weights[static_cast<size_t>(hi)];
  int64_t k = lo;
  while (k < hi && u > weights[static_cast<size_t>(k)]) ++k;
  Graph_Own(node) = static_cast<double>(k);
  node->kind = Graph_forwardSampled;
}

// ---- agreement with the likelihood terms that can be evaluated
//
// A draw from the prior alone can contradict an observation: N ~ dpois(20)
// may start at 12 while y ~ dbin(p, N) observes y = 15, and no sampler can
// start from a value whose full conditional is zero. Once a discrete node
// has its prior draw, the likelihood terms whose every other stochastic
// parent has a value already are weighed; when they rule the draw out, the
// starting value is drawn again from prior times those terms, by
// enumeration. A draw they admit is kept as it was.

// A full conditional that admits the value: neither ruled out nor not a number.
constexpr double ruledOut = -5.0E9;
bool Admits(double logConditional) { return logConditional > ruledOut && std::isfinite(logConditional); }
// The most support points weighed for one node, and how far below the best
// point the scan of an open support may stop.
constexpr int64_t maxScan = 100000;
constexpr double scanCutOff = 40.0;
constexpr double negligible = -200.0;

// The terms of the node's likelihood list that have a value and whose
// stochastic parents, the node itself aside, all have values.
void EvaluableTerms(Graph_Node* node, Graph_List& terms) {
  for (Graph_Node* term : node->likelihood) {
    if (term == nullptr || term->kind == Graph_noInitial) continue;
    Graph_List parents;
    Parents_StochasticParentList(term, parents);
    bool can = true;
    for (const Graph_Node* p : parents)
      if (p == nullptr || (p->kind == Graph_noInitial && p->label != node->label)) can = false;
    Graph_DisposeList(parents);
    if (can) Graph_AddNonUnique(terms, term);
  }
}

double Conditional(Graph_Node* node, const Graph_List& terms) {
  return node->logDensity(node) + Density_LogLiklihood(terms);
}

// Draws the node from prior times terms over its support; an open support
// is scanned upward until the conditional has fallen far below its best.
// False when no point is admitted.
bool Enumerate(Graph_Node* node, const Graph_List& terms) {
  int64_t lo = 0, hi = -1;
  GetBounds(node, lo, hi);
  if (hi < lo) return false;
  hi = std::min(hi, lo + maxScan - 1);
  double best = -std::numeric_limits<double>::infinity();
  int64_t last = lo - 1;
  for (int64_t k = lo; k <= hi; ++k) {
    Graph_Own(node) = static_cast<double>(k);
    const double L = Conditional(node, terms);
    const size_t at = static_cast<size_t>(k - lo);
    if (weights.size() <= at) weights.resize(at + 1);
    weights[at] = Admits(L) ? L : -std::numeric_limits<double>::infinity();
    last = k;
    if (Admits(L) && L > best) best = L;
    if (Admits(best) && weights[at] < best - scanCutOff) break;
  }
  if (!Admits(best)) return false;
  double total = 0.0;
  for (int64_t k = lo; k <= last; ++k) {
    double& w = weights[static_cast<size_t>(k - lo)];
    const double d = w - best;
    total += d > negligible ? std::exp(d) : 0.0;
    w = total;
  }
  const double u = RandNum_Rand() * total;
  int64_t k = lo;
  while (k < last && u > weights[static_cast<size_t>(k - lo)]) ++k;
  Graph_Own(node) = static_cast<double>(k);
  return true;
}

// Called after the node's prior draw; failed is set when no value of the
// node agrees with the terms (the pass then starts afresh).
void Reconcile(Graph_Node* node, bool& failed) {
  if (node->kind != Graph_forwardSampled || node->size != 1 || !Distrib_Valid(node->density)) return;
  const Distrib_Row& row = Distrib_Of(node->density);
  if (!row.discrete || !row.hasDensity || row.shape != Distrib_scalar) return;
  Graph_List terms;
  EvaluableTerms(node, terms);
  if (!terms.empty() && !Admits(Conditional(node, terms)) && !Enumerate(node, terms)) {
    node->kind = Graph_noInitial;
    failed = true;
  }
  Graph_DisposeList(terms);
}

// dwish(R, k): R is taken as it is read, as the factor the generator
// expects. Any positive-definite draw serves as a starting value.
bool Wishart(Graph_Node* node) {
  constexpr int entries = GibbsSam_maxOrder * GibbsSam_maxOrder;
  const int32_t size = node->size;
  const int d = static_cast<int>(std::sqrt(static_cast<double>(size) + integerTolerance));
  if (d < 1 || d > GibbsSam_maxOrder || d * d != size) return false;
  std::array<double, entries> R, W;
  const int32_t base = Determ_Base(node->parents[0]);
  for (int32_t i = 0; i < size; ++i) R[static_cast<size_t>(i)] = Graph_ValueOf(Graph_Label(base + i));
  const double k = Parameter(node, 1);
  if (!RandNum_Wishart(R, W, k, d)) return false;
  for (int32_t i = 0; i < size; ++i) Graph_Own(Graph_Label(node->label + i)) = W[static_cast<size_t>(i)];
  return true;
}

// The prior draw, except that the discrete sampler draws the finite
// supports (dbin, dcat), and the counts dnegbin and dhypo start at the low
// end of their support, 0.
bool DirectSample(Graph_Node* node) {
  if (Enumerated(node)) return true;
  switch (node->density) {
    case Distrib_dnegbin:
    case Distrib_dhypo: Graph_Own(node) = Distrib_Of(node->density).lower.value; return true;
    case Distrib_dzipf: {
      // The law is proper only for an exponent above 1; otherwise the
      // start is the low end of the support.
      const double a = Parameter(node, 0);
      Graph_Own(node) = a > 1.0 && std::isfinite(a) ? RandNum_Zipf(a) : Distrib_Of(Distrib_dzipf).lower.value;
      return true;
    }
    case Distrib_dwish: return Wishart(node);
    default: return GibbsSam_DirectSample(node);
  }
}

// The densities whose prior draw here differs from the samplers' own.
bool DrawnHere(const Graph_Node* node) {
  switch (node->density) {
    case Distrib_dbin:
    case Distrib_dcat:
    case Distrib_dnegbin:
    case Distrib_dhypo:
    case Distrib_dzipf:
    case Distrib_dwish: return true;
    default: return false;
  }
}

// The samplers' bounded prior draw, so that a starting value comes from the
// same law as the draws of the sweeps: for gamma, chi-square, exponential,
// beta and normal nodes it draws from the restricted law directly where
// the bounds hold little probability (a normal cut at 6 standard deviations
// has a starting value too). For the densities drawn differently here,
// DirectSample is repeated until the draw meets the bounds; that gives up,
// rather than hold the program, when a million draws have not.
bool Bounded(Graph_Node* node, bool lower, bool upper, double lowerValue, double upperValue) {
  if (!DrawnHere(node)) {
    if (lower && upper) return GibbsSam_TDirectSample(node);
    return lower ? GibbsSam_LDirectSample(node) : GibbsSam_UDirectSample(node);
  }
  for (long tries = 0; tries < GibbsSam_maxTries; ++tries) {
    if (!DirectSample(node)) return false;
    const double x = Graph_Own(node);
    if (std::isnan(x)) return false;
    if ((!lower || x >= lowerValue) && (!upper || x <= upperValue)) return true;
  }
  return false;
}

bool LDirectSample(Graph_Node* node) { return Bounded(node, true, false, Graph_ValueOf(LowerParent(node)), 0.0); }
bool UDirectSample(Graph_Node* node) { return Bounded(node, false, true, 0.0, Graph_ValueOf(UpperParent(node))); }
bool TDirectSample(Graph_Node* node) {
  return Bounded(node, true, true, Graph_ValueOf(LowerParent(node)), Graph_ValueOf(UpperParent(node)));
}

// A dweib or dgum node with a lower bound is drawn from the tail above it;
// with an upper bound too, the tail draw is repeated until it lies below.
bool TailSample(Graph_Node* node) {
  Graph_Node* upper = UpperParent(node);
  const double b = upper != nullptr ? Graph_ValueOf(upper) : 0.0;
  const double v = Parameter(node, 0), lambda = Parameter(node, 1), c = Graph_ValueOf(LowerParent(node));
  for (long tries = 0; tries < GibbsSam_maxTries; ++tries) {
    const double x = node->density == Distrib_dweib ? RandNum_WeibullTail(v, lambda, std::max(c, 0.0))
                                                    : RandNum_GumbelRightTail(v, lambda, c);
    Graph_Own(node) = x;
    if (std::isnan(x)) return false;
    if (upper == nullptr || x <= b) return true;
  }
  return false;
}

void ForwardSample(Graph_Node* node) {
  if (!CanForwardSample(node)) return;
  const int32_t n = node->numParents;
  bool drawn = true;
  if (node->density == Distrib_ddirch) {
    drawn = GibbsSam_Direchlet(node);
  } else if ((node->density == Distrib_dgum || node->density == Distrib_dweib) && n > 2 &&
             LowerParent(node) != nullptr) {
    drawn = TailSample(node);
  } else if (n > 2 && (LowerParent(node) != nullptr || UpperParent(node) != nullptr)) {
    if (UpperParent(node) == nullptr) {
      drawn = LDirectSample(node);
    } else if (LowerParent(node) == nullptr) {
      drawn = UDirectSample(node);
    } else {
      drawn = TDirectSample(node);
    }
  } else {
    drawn = DirectSample(node);
  }
  if (!drawn) return Error(1, cannotGenerate);
  for (int32_t i = 0; i < node->size; ++i) {
    Graph_Node* component = Graph_Label(node->label + i);
    if (component != nullptr) component->kind = Graph_forwardSampled;
  }
}

}  // namespace

void InitInitVals() {
  InitVals_error = false;
  stopped = false;
  weights.clear();
  weights.shrink_to_fit();
}

void InitVals_ForgetStarts() { Turn(Graph_stochastic, Graph_noInitial); }

void InitVals_GenerateStartingValue(bool announce) {
  InitVals_error = false;
  stopped = false;
  bool again = false;
  int32_t n = NumForward();
  int pass = 0;
  if (n > 0 && announce) {
    Messages_Text(generatingValues);
    Write_Ln();
  }
  while (n > 0 && pass < maxPasses && !stopped) {
    ++pass;
    bool failed = false;
    for (int32_t i = 0; i < Graph_numDeclaredNodes && !failed && !stopped; ++i) {
      Graph_Node* node = Graph_nodes[static_cast<size_t>(i)];
      if (node == nullptr || node->kind != Graph_noInitial) continue;
      if (Enumerated(node)) {
        DiscreteSample(node, failed);
      } else {
        ForwardSample(node);
      }
      if (!failed && !stopped) Reconcile(node, failed);
    }
    if (stopped) return;
    if (failed) ReSet();
    n = NumForward();
    // The whole generation is made once more after it first succeeds.
    if (n == 0 && !again) {
      ReSet();
      again = true;
      n = NumForward();
    }
  }
  if (stopped) return;
  if (n > 0) return Error(1, cannotGenerate);
  SetToGibbs();
}
