#include "graph/Analyse.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "graph/CodeGen.h"
#include "store/Graph.h"
#include "graph/Parents.h"
#include "language/Errors.h"
#include "store/Distrib.h"

bool Analyse_error = false;

namespace {

enum Message : int {
  alreadyDefined = 51,
  parameterOutsideRange = 55,
  parameterTooBigOrSmall = 56,
  parameterNotProportion = 57,
  parameterNotInteger = 58,
  parameterNotFixed = 59,
  valueNotPositive = 60,
  valueTooBigOrSmall = 61,
  valueNotProportion = 62,
  valueNotInteger = 63,
  valueBelowLowerBound = 81,
  valueAboveUpperBound = 82,
  partlyObserved = 79,
  notDefined = 98,
  valueBelowLowest = 99,
  valueAboveHighest = 100,
  noPrior = 111,
};

// The table has no text for these two faults.
constexpr std::string_view notBinary = "Node value must be 0 or 1";
constexpr std::string_view outsideUniform =
    "Node value is outside the limits of its uniform distribution";

constexpr double tiny = 1.0E-20;
constexpr double large = 1.0E+10;

[[noreturn]] void Fail(const Graph_Node* node, int number) {
  Analyse_error = true;
  Errors_NodeError(node, number);
}

[[noreturn]] void FailText(const Graph_Node* node, std::string_view text) {
  Analyse_error = true;
  Errors_NodeErrorText(node, text);
}

// A parameter by its position, null when the node has no such entry.
Graph_Node* Parameter(const Graph_Node* node, int32_t position) {
  if (position >= node->numParents || static_cast<size_t>(position) >= node->parents.size())
    return nullptr;
  return node->parents[static_cast<size_t>(position)];
}

// The whole part of a stored value, nudged up by the smallest tolerance so a
// value stored a hair below a whole number still counts as that number. It
// stays a double: truncation there is defined for every value, infinities
// and NaN included, where converting to an integer type would not be; and a
// NaN fails every comparison made with it below.
double Count(double value) { return std::trunc(value + tiny); }

// In every test below, "tested" is the node whose value is looked at and
// "node" the node the failure is reported for. Comparisons are written so
// that a NaN fails them.

void Defined(const Graph_Node* tested, const Graph_Node* node) {
  if (tested == nullptr) Fail(node, notDefined);
}

// The ranges below hold for fixed quantities (constants and data). A value
// that the samplers set, of a stochastic node or of a logical node computed
// from one, need only be positive, or finite: a vague prior reaches values
// far beyond those ranges (a dgamma(0.001, 0.001) draw of 1.0E-270), and
// a state saved from such a run must compile again.
bool Sampled(const Graph_Node* tested) { return tested->kind != Graph_data; }

void HalfRange(Graph_Node* tested, const Graph_Node* node, int number) {
  Defined(tested, node);
  const double v = tested->valueFunction(tested);
  const bool inside = Sampled(tested) ? v > 0.0 && std::isfinite(v) : v >= tiny && v <= large;
  if (!inside) Fail(node, number);
}

void FullRange(Graph_Node* tested, const Graph_Node* node, int number) {
  Defined(tested, node);
  const double v = tested->valueFunction(tested);
  const bool inside = Sampled(tested) ? std::isfinite(v) : v >= -large && v <= large;
  if (!inside) Fail(node, number);
}

void Proportion(Graph_Node* tested, const Graph_Node* node, int number) {
  Defined(tested, node);
  const double v = tested->valueFunction(tested);
  if (!(v >= -tiny && v <= 1.0)) Fail(node, number);
}

// Looks at the stored value and, unlike the other tests, reports the tested
// node itself: a parameter that is not whole is named, not its child.
void Integer(const Graph_Node* tested, const Graph_Node* node, int number) {
  Defined(tested, node);
  if (!(std::fabs(Count(Graph_Own(tested)) - Graph_Own(tested)) <= tiny)) Fail(tested, number);
}

// A constant or a node observed without a distribution of its own.
void Fixed(const Graph_Node* tested, const Graph_Node* node, int number) {
  Defined(tested, node);
  if (tested->kind == Graph_logical || tested->density != 0) Fail(node, number);
}

void AtLeast(const Graph_Node* tested, const Graph_Node* node, double lowest, int number) {
  Defined(tested, node);
  if (!(Count(Graph_Own(tested)) >= lowest)) Fail(node, number);
}

// A whole number of at least 1 that the sampler never changes: degrees of
// freedom and trial counts.
void FixedCount(const Graph_Node* tested, const Graph_Node* node) {
  Fixed(tested, node, parameterNotFixed);
  Integer(tested, node, parameterNotInteger);
  AtLeast(tested, node, 1.0, valueNotPositive);
}

// The test the row asks for one parameter, with its message.
void CheckDomain(Distrib_Domain domain, Graph_Node* tested, Graph_Node* node) {
  switch (domain) {
    case Distrib_probability: Proportion(tested, node, parameterNotProportion); break;
    case Distrib_positive: HalfRange(tested, node, parameterOutsideRange); break;
    case Distrib_real: FullRange(tested, node, parameterTooBigOrSmall); break;
    case Distrib_positiveScale: HalfRange(tested, node, parameterTooBigOrSmall); break;
    case Distrib_fixedPositive:
      Fixed(tested, node, parameterNotFixed);
      HalfRange(tested, node, parameterOutsideRange);
      break;
    case Distrib_fixedCount: FixedCount(tested, node); break;
    case Distrib_fixedHalfCount:
      // k may be whole or half a whole number, at least 0.5: twice it must
      // be a whole number of at least 1. The doubling is undone at once.
      Fixed(tested, node, parameterNotFixed);
      Graph_Own(tested) *= 2.0;
      Integer(tested, node, parameterNotInteger);
      AtLeast(tested, node, 1.0, valueNotPositive);
      Graph_Own(tested) /= 2.0;
      break;
    case Distrib_wholeAtLeastOne:
      Integer(tested, node, parameterNotInteger);
      AtLeast(tested, node, 1.0, valueNotPositive);
      break;
    default: break;
  }
}

void CheckParameters(Graph_Node* node) {
  if (node->density == 0) {
    // A parent of some stochastic node needs a distribution of its own.
    if (!node->likelihood.empty()) Fail(node, noPrior);
    return;
  }
  const Distrib_Row& row = Distrib_Of(node->density);
  for (int32_t k = 0; k < 2 && k < row.numParameters; ++k)
    if (row.domain[k] != Distrib_anything) CheckDomain(row.domain[k], Parameter(node, k), node);
}

// A size or count parameter (dbin's n) that a sampler changes must stay a
// whole number: every stochastic node it is computed from must be discrete.
// A continuous one (n ~ dnorm(20, 0.1)) is refused, naming that node.
void CheckSizes(Graph_Node* node) {
  const Distrib_Row& row = Distrib_Of(node->density);
  for (int32_t k = 0; k < row.numParameters; ++k) {
    if (!((row.sizeParameters >> k) & 1u)) continue;
    Graph_Node* size = Parameter(node, k);
    Defined(size, node);
    if (size->kind == Graph_data) continue;
    Graph_List parents;
    if (size->kind == Graph_logical) Parents_DeterministicParentLi(size, parents);
    else Graph_AddToList(parents, size);
    Graph_Node* continuous = nullptr;
    for (Graph_Node* p : parents)
      if (continuous == nullptr && p != nullptr && !Distrib_IsDiscrete(p->density)) continuous = p;
    Graph_DisposeList(parents);
    if (continuous != nullptr) Fail(continuous, parameterNotInteger);
  }
}

// The value rules follow the support in the distribution's row. A discrete
// node takes whole numbers between its ends (an end given by a count
// parameter is that count); a continuous one lies in [0, 1], on the positive
// half line, or anywhere finite; dunif and dpar have ends given by their
// parameters. Blocks and dhypo are not checked.
void CheckValue(Graph_Node* node) {
  if (!Distrib_Valid(node->density)) return;
  const Distrib_Row& row = Distrib_Of(node->density);
  if (row.shape != Distrib_scalar || !row.hasDensity) return;
  const auto end = [&](const Distrib_End& e) {
    if (e.kind == Distrib_fixed) return e.value;
    Graph_Node* p = Parameter(node, e.parameter);
    Defined(p, node);
    return Graph_ValueOf(p);  // a logical parameter holds no value of its own
  };
  if (row.discrete) {
    Integer(node, node, valueNotInteger);
    const double c = Count(Graph_Own(node));
    if (row.lower.kind == Distrib_fixed && row.upper.kind == Distrib_fixed) {
      if (!(c >= row.lower.value && c <= row.upper.value)) FailText(node, notBinary);
      return;
    }
    if (!(c >= end(row.lower))) Fail(node, valueBelowLowest);
    if (row.upper.kind != Distrib_none && !(c <= Count(end(row.upper)))) Fail(node, valueAboveHighest);
    return;
  }
  if (row.lower.kind == Distrib_parameter && row.upper.kind == Distrib_parameter) {
    const double lower = end(row.lower), upper = end(row.upper);
    if (!(Graph_Own(node) + tiny >= lower && Graph_Own(node) - tiny <= upper)) FailText(node, outsideUniform);
  } else if (row.lower.kind == Distrib_parameter) {
    HalfRange(node, node, valueNotPositive);
  } else if (row.lower.kind == Distrib_fixed && row.upper.kind == Distrib_fixed) {
    Proportion(node, node, valueNotProportion);
  } else if (row.lower.kind == Distrib_fixed) {
    HalfRange(node, node, valueNotPositive);
  } else {
    FullRange(node, node, valueTooBigOrSmall);
  }
}

// A value inside the distribution's support must also lie inside the node's
// I(,) bounds: the likelihood of an observed value outside them is zero, and
// every sampler of a bounded node assumes it starts inside them. Called once
// the support itself has passed, so a failure here is the bounds' own.
void CheckBounds(Graph_Node* node) {
  if (!Distrib_Valid(node->density)) return;
  const Distrib_Row& row = Distrib_Of(node->density);
  if (row.shape != Distrib_scalar || !row.hasDensity) return;
  if (node->numParents < row.numParameters + 2 || node->numParents < 3) return;  // no bound slots
  double lower = 0.0, upper = 0.0;
  Distrib_Support(node, lower, upper);
  // A discrete node's bounds are whole numbers; its value is whole up to the
  // tolerance the integer test allows.
  const double v = row.discrete ? Count(Graph_Own(node)) : Graph_Own(node);
  if (v < lower) Fail(node, valueBelowLowerBound);
  if (v > upper) Fail(node, valueAboveUpperBound);
}

// A multivariate block is sampled as a whole: a draw replaces every one of
// its components. One that is partly data would have its observed components
// overwritten, so it is refused, named by its first component. Called at the
// block's first component, whose number is the label every component shares.
void CheckBlock(int32_t number, const Graph_Node* node) {
  if (node->size <= 1 || node->label != number || !Distrib_Valid(node->density)) return;
  if (Distrib_Of(node->density).shape == Distrib_scalar) return;
  const bool observed = node->kind == Graph_data;
  for (int32_t k = 1; k < node->size; ++k) {
    const int32_t n = number + k;
    if (n >= Graph_numDeclaredNodes) break;
    const Graph_Node* c = Graph_nodes[static_cast<size_t>(n)];
    if (c != nullptr && (c->kind == Graph_data) != observed) Fail(node, partlyObserved);
  }
}

}  // namespace

void InitAnalyse() { Analyse_error = false; }

void Analyse_CheckBlocks() {
  Analyse_error = false;
  for (int32_t number = 0; number < Graph_numDeclaredNodes; ++number) {
    const Graph_Node* node = Graph_nodes[static_cast<size_t>(number)];
    if (node != nullptr && node->kind != Graph_logical) CheckBlock(number, node);
  }
}

void Analyse_CheckModel() {
  Analyse_error = false;
  for (int32_t number = 0; number < Graph_numDeclaredNodes; ++number) {  // the declared nodes
    Graph_Node* node = Graph_nodes[static_cast<size_t>(number)];
    if (node == nullptr || node->kind == Graph_logical) continue;
    // Still holding code, it was defined by a logical and a stochastic
    // relation and could not be folded into a constant.
    if (!node->stack.empty()) Fail(node, alreadyDefined);
    CheckBlock(number, node);
    CheckParameters(node);
    CheckSizes(node);
    CheckValue(node);
    CheckBounds(node);
  }
}
