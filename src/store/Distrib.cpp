#include "store/Distrib.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "store/Graph.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
// Counts are read from reals: 3.9999999 is 4.
constexpr double countTolerance = 1.0E-6;

constexpr Distrib_End open{Distrib_none, 0.0, 0};
constexpr Distrib_End At(double v) { return {Distrib_fixed, v, 0}; }
constexpr Distrib_End Param(int32_t i) { return {Distrib_parameter, 0.0, i}; }

constexpr Distrib_Shape S = Distrib_scalar, V = Distrib_vector, M = Distrib_matrix;
constexpr Distrib_Domain any = Distrib_anything, prob = Distrib_probability, pos = Distrib_positive,
                         real = Distrib_real, scale = Distrib_positiveScale, fpos = Distrib_fixedPositive,
                         fcount = Distrib_fixedCount, fhalf = Distrib_fixedHalfCount,
                         whole1 = Distrib_wholeAtLeastOne;
constexpr Distrib_Role none = Distrib_noRole, p = Distrib_probabilityRole, rate = Distrib_rateRole,
                       mean = Distrib_meanRole, upper = Distrib_upperLimitRole, ps = Distrib_probabilitiesRole,
                       T = Distrib_precisionMatrixRole;

// Columns: keyword, name in the graph listing, parameters, node shape, parameter shapes, discrete, has a
// log density, lower end, upper end, ends are the bound slots, size parameters,
// what the checks ask of the first two parameters, and their conjugate roles.
constexpr std::array<Distrib_Row, Distrib_last + 1> rows = {{
    {"", "", 0, S, {S, S}, false, false, open, open, false, 0, {any, any}, {none, none}},
    {"dbern", "dbern", 1, S, {S, S}, true, true, At(0), At(1), false, 0, {prob, any}, {p, none}},
    {"dbeta", "dbeta", 2, S, {S, S}, false, true, At(0), At(1), false, 0, {pos, pos}, {none, none}},
    {"dbin", "dbin", 2, S, {S, S}, true, true, At(0), Param(1), false, 1u << 1, {prob, any}, {p, none}},
    {"dcat", "dcat", 2, S, {V, S}, true, true, At(1), Param(1), false, 1u << 1, {any, any}, {ps, none}},
    {"dchisq", "dchisq", 1, S, {S, S}, false, true, At(0), open, false, 0, {any, any}, {none, none}},
    {"ddirch", "ddirch", 1, V, {V, S}, false, false, At(0), At(1), false, 0, {any, any}, {none, none}},
    {"ddexp", "ddexp", 2, S, {S, S}, false, true, open, open, false, 0, {real, pos}, {none, rate}},
    {"dexp", "dexp", 1, S, {S, S}, false, true, At(0), open, false, 0, {pos, any}, {rate, none}},
    {"df", "df", 2, S, {S, S}, false, true, At(0), open, false, 0, {fcount, fcount}, {none, none}},
    {"dgamma", "dgamma", 2, S, {S, S}, false, true, At(0), open, false, 0, {pos, pos}, {none, rate}},
    {"dgeom", "dgeomt", 1, S, {S, S}, true, true, At(1), open, false, 0, {prob, any}, {p, none}},
    {"dgum", "dgum", 2, S, {S, S}, false, true, open, open, false, 0, {real, fpos}, {none, none}},
    {"dhypo", "dhypo", 2, S, {S, S}, true, false, At(0), open, false, 0, {any, any}, {none, none}},
    {"dlogis", "dlogis", 2, S, {S, S}, false, true, open, open, false, 0, {real, pos}, {none, none}},
    {"dlnorm", "dlnorm", 2, S, {S, S}, false, true, At(0), open, false, 0, {real, pos}, {mean, rate}},
    {"dmnorm", "dmnorm", 2, V, {V, M}, false, true, open, open, false, 0, {any, any}, {mean, T}},
    {"dmulti", "dmult", 2, V, {V, S}, true, true, At(0), Param(1), false, 1u << 1, {any, fcount}, {ps, none}},
    {"dnegbin", "dnegbin", 2, S, {S, S}, true, true, At(0), open, false, 0, {prob, fcount}, {p, none}},
    {"dnorm", "dnorm", 2, S, {S, S}, false, true, open, open, false, 0, {real, pos}, {mean, rate}},
    {"dpar", "dpar", 2, S, {S, S}, false, true, Param(1), open, true, 0, {scale, pos}, {none, none}},
    {"dpois", "dpois", 1, S, {S, S}, true, true, At(0), open, false, 0, {any, any}, {rate, none}},
    {"dpow", "dpow", 1, S, {S, S}, false, true, At(0), At(1), false, 0, {pos, any}, {none, none}},
    {"dunif", "dunif", 2, S, {S, S}, false, true, Param(0), Param(1), true, 0, {any, any}, {none, upper}},
    {"dweib", "dweib", 2, S, {S, S}, false, true, At(0), open, false, 0, {pos, pos}, {none, rate}},
    {"dwish", "dwish", 2, M, {M, S}, false, false, open, open, false, 0, {any, fhalf}, {none, none}},
    {"dzipf", "dzipf", 1, S, {S, S}, true, true, At(1), open, false, 0, {whole1, any}, {none, none}},
}};

double EndValue(Graph_Node* node, const Distrib_Row& row, const Distrib_End& end, double none) {
  switch (end.kind) {
    case Distrib_fixed: return end.value;
    case Distrib_parameter: {
      const auto i = static_cast<size_t>(end.parameter);
      if (i >= node->parents.size() || node->parents[i] == nullptr) return none;
      const double v = Graph_ValueOf(node->parents[i]);
      return (row.sizeParameters >> end.parameter) & 1u ? std::trunc(v + countTolerance) : v;
    }
    default: return none;
  }
}

}  // namespace

const Distrib_Row& Distrib_Of(int32_t density) {
  return rows[Distrib_Valid(density) ? static_cast<size_t>(density) : 0];
}

bool Distrib_WholeLine(int32_t density) {
  const Distrib_Row& r = Distrib_Of(density);
  return Distrib_Valid(density) && r.lower.kind == Distrib_none && r.upper.kind == Distrib_none;
}

int32_t Distrib_RoleParameter(int32_t density, Distrib_Role role) {
  const Distrib_Row& row = Distrib_Of(density);
  for (int32_t k = 0; k < 2 && k < row.numParameters; ++k)
    if (row.role[k] == role) return k;
  return -1;
}

bool Distrib_NonNegative(int32_t density) {
  const Distrib_Row& row = Distrib_Of(density);
  if (!Distrib_Valid(density)) return false;
  if (row.lower.kind == Distrib_fixed) return row.lower.value >= 0.0;
  if (row.lower.kind != Distrib_parameter) return false;
  // An end given by a parameter that the model checks keep positive.
  const Distrib_Domain d = row.domain[row.lower.parameter];
  return d == Distrib_positive || d == Distrib_positiveScale || d == Distrib_fixedPositive;
}

bool Distrib_PositiveHalfLine(int32_t density) {
  const Distrib_Row& r = Distrib_Of(density);
  return !r.discrete && r.lower.kind == Distrib_fixed && r.lower.value == 0.0 && r.upper.kind == Distrib_none;
}

void Distrib_Support(Graph_Node* node, double& lower, double& upper) {
  const Distrib_Row& row = Distrib_Of(node->density);
  lower = EndValue(node, row, row.lower, -inf);
  upper = EndValue(node, row, row.upper, inf);
  const int32_t n = node->numParents;
  if (n < row.numParameters + 2 || n < 3) return;
  Graph_Node* lo = node->parents[static_cast<size_t>(n - 2)];
  Graph_Node* hi = node->parents[static_cast<size_t>(n - 1)];
  // A discrete node takes the whole numbers inside its bounds.
  if (lo != nullptr) {
    const double v = Graph_ValueOf(lo);
    lower = std::max(lower, row.discrete ? std::ceil(v - countTolerance) : v);
  }
  if (hi != nullptr) {
    const double v = Graph_ValueOf(hi);
    upper = std::min(upper, row.discrete ? std::floor(v + countTolerance) : v);
  }
}
