#include "graph/Density.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "HandGraph.h"
#include "Methods.h"
#include "graph/Determ.h"
#include "numerics/SpecFunc.h"
#include "store/Distrib.h"

namespace {

using Nodes = std::vector<Graph_Node*>;
const double inf = std::numeric_limits<double>::infinity();

// ln Gamma(x) as the densities compute it: without ln sqrt(2 pi).
double LnGamma(double x) { return std::lgamma(x) - 0.91893853320467274; }

std::vector<Graph_Node*> calls;  // the recording terms, in evaluation order
double Recording(Graph_Node* node) { calls.push_back(node); return Graph_Own(node); }

class DensityTest : public test::HandGraph {
 protected:
  static Graph_Node* Data(double value) { return Node(value, Graph_data); }
  static Graph_Node* Computed(double value) { return Logical({24, 24, 3, 21}, {Data(value), Data(1.0)}); }
  static Graph_Node* Dist(int32_t density, double value, Nodes parents, int32_t kind = Graph_stochastic) {
    Graph_Node* n = Node(value, kind);
    n->density = density, n->parents = std::move(parents), n->numParents = static_cast<int32_t>(n->parents.size());
    return n;
  }
  // A multivariate block of consecutive nodes sharing the first one's number.
  static Graph_Node* Block(int32_t density, const std::vector<double>& values, const Nodes& parents) {
    Graph_Node* first = nullptr;
    for (double v : values) {
      Graph_Node* n = Dist(density, v, parents);
      if (first == nullptr) first = n;
      n->label = first->label, n->size = static_cast<int32_t>(values.size());
    }
    return first;
  }
  static Graph_Node* Vector(const std::vector<double>& values) {
    Graph_Node* first = Data(values[0]);
    for (size_t i = 1; i < values.size(); ++i) Data(values[i]);
    return first;
  }
  static double Log(Graph_Node* node) { Density_SetDensity(); return node->logDensity(node); }
};

// Kinds of the node and each parameter ('d' data, 'c' computed, 's' stochastic): a changing parameter (or an
// unobserved count) brings in the normalising terms that depend on it; outside the support, -infinity.
TEST_F(DensityTest, LogDensitiesMatchTheirClosedForms) {
  using std::log;
  const double pi = std::acos(-1.0), d = log(2.0) - 0.5;
  const double lnB = LnGamma(2.5) + LnGamma(1.5) - LnGamma(4.0), beta = 1.5 * log(0.3) + 0.5 * log(0.7);
  const double binomial = 3.0 * log(0.3) + 7.0 * log(0.7), gamma = 2.0 * log(2.8) + log(2.0) - 2.8;
  const double n = 10.0 - 1e-11, x = 3.0 - 1e-11;  // counts are read after adding 1.0E-10
  const struct { int32_t id; double x; const char* kinds; std::vector<double> p; double expected; } rows[] = {
      {Distrib_dbeta, 0.3, "sdd", {2.5, 1.5}, beta}, {Distrib_dbeta, 0.3, "sds", {2.5, 1.5}, beta - lnB},
      {Distrib_dbeta, 0.3, "ssd", {2.5, 1.5}, beta - lnB}, {Distrib_dbeta, 0.3, "scc", {2.5, 1.5}, beta - lnB},
      {Distrib_dchisq, 3.2, "sc", {5.0}, 1.5 * log(1.6) - 1.6 - LnGamma(2.5)},
      {Distrib_ddexp, -0.5, "sdc", {1.0, 2.0}, log(2.0) - 3.0}, {Distrib_dexp, 0.8, "sc", {1.7}, log(1.7) - 1.7 * 0.8},
      {Distrib_df, 1.3, "sdc", {4.0, 6.0}, log(1.3) - 5.0 * log(1.0 + 4.0 * 1.3 / 6.0)},
      {Distrib_dgamma, 1.4, "sdc", {3.0, 2.0}, gamma}, {Distrib_dgamma, 1.4, "sds", {3.0, 2.0}, gamma},
      {Distrib_dgamma, 1.4, "ssd", {3.0, 2.0}, gamma - LnGamma(3.0)},
      {Distrib_dgamma, 1.4, "scd", {3.0, 2.0}, gamma - LnGamma(3.0)},
      {Distrib_dgum, 0.3, "scd", {1.0, 2.0}, 1.4 - std::exp(1.4)},
      {Distrib_dlogis, 0.3, "scd", {1.0, 2.0}, log(2.0) + 1.4 - 2.0 * log1p(std::exp(1.4))},
      {Distrib_dlogis, -400.0, "sdd", {1.0, 2.0}, log(2.0) - 802.0},  // far tails stay finite
      {Distrib_dlogis, 402.0, "sdd", {1.0, 2.0}, log(2.0) - 802.0},
      {Distrib_dlnorm, 2.0, "sdc", {0.5, 4.0}, 0.5 * (log(4.0) - 4.0 * d * d) - log(2.0)},
      {Distrib_dnorm, 3.0, "scc", {1.0, 0.25}, 0.5 * (log(0.25) - 0.25 * 4.0)},
      {Distrib_dpar, 5.0, "scd", {3.0, 2.0}, log(3.0 / 5.0) + 3.0 * log(2.0 / 5.0)},
      {Distrib_dpow, 0.4, "sc", {2.5}, log(2.5) + 1.5 * log(0.4)},  // a x^(a - 1) on (0, 1)
      {Distrib_dunif, 0.1, "sdc", {0.0, 4.0}, -log(4.0)}, {Distrib_dunif, 3.9, "sdc", {0.0, 4.0}, -log(4.0)},
      {Distrib_dweib, 0.7, "scd", {1.5, 2.0}, log(3.0) + 0.5 * log(0.7) - 2.0 * std::pow(0.7, 1.5)},
      {Distrib_dzipf, 3.0, "sd", {2.0}, -2.0 * log(3.0)},
      // A changing exponent brings in ln zeta(a).
      {Distrib_dzipf, 3.0, "sc", {2.0}, -2.0 * log(3.0) - log(pi * pi / 6.0)},
      {Distrib_dzipf, 2.0, "ss", {4.0}, -4.0 * log(2.0) - log(std::pow(pi, 4) / 90.0)},
      {Distrib_dzipf, 1.0, "ss", {1.5}, -log(2.612375348685488)}, {Distrib_dbern, 1.0, "sc", {0.3}, log(0.3)},
      {Distrib_dbern, 0.0, "sc", {0.3}, log(0.7)}, {Distrib_dbin, 3.0, "dcd", {0.3, 10.0}, binomial},
      {Distrib_dbin, 3.0, "dds", {0.3, 10.0}, binomial + log(120.0)}, {Distrib_dbin, 3.0, "sdd", {0.3, 10.0}, binomial + log(120.0)},
      {Distrib_dbin, x, "sds", {0.3, n}, x * log(0.3) + (n - x) * log(0.7) + log(120.0)},
      // Past the factorial table the coefficient is still exact.
      {Distrib_dbin, 30.0, "sds", {0.3, 120.0},
       30.0 * log(0.3) + 90.0 * log(0.7) + std::lgamma(121.0) - std::lgamma(31.0) - std::lgamma(91.0)},
      {Distrib_dgeom, 4.0, "sc", {0.25}, log(0.25) + 3.0 * log(0.75)}, {Distrib_dgeom, 1.0, "sc", {0.25}, log(0.25)},
      {Distrib_dnegbin, 5.0, "dcd", {0.4, 3.0}, 3.0 * log(0.4) + 5.0 * log(0.6)},
      {Distrib_dnegbin, 5.0, "scc", {0.4, 3.0}, 3.0 * log(0.4) + 5.0 * log(0.6) + log(21.0)},
      {Distrib_dpois, 4.0, "dc", {2.5}, 4.0 * log(2.5) - 2.5}, {Distrib_dpois, 4.0, "sc", {2.5}, 4.0 * log(2.5) - 2.5 - log(24.0)},
      // A vanishing mean or proportion makes a zero count certain, not undefined.
      {Distrib_dpois, 0.0, "dd", {0.0}, 0.0}, {Distrib_dbin, 0.0, "ddd", {0.0, 5.0}, 0.0},
      // Impossible values and parameters. (An observed count with a fixed size was checked by the model checks.)
      {Distrib_dbin, 11.0, "dss", {0.3, 10.0}, -inf}, {Distrib_dbin, 11.0, "sss", {0.3, 10.0}, -inf}, {Distrib_dbin, -1.0, "sss", {0.3, 10.0}, -inf},
      {Distrib_dbin, 2.5, "sss", {0.3, 10.0}, -inf}, {Distrib_dbin, 2.0, "sss", {0.3, 9.5}, -inf}, {Distrib_dbin, 2.0, "sss", {1.3, 10.0}, -inf},
      {Distrib_dbern, 0.6, "ss", {0.3}, -inf}, {Distrib_dbern, 2.0, "ss", {0.3}, -inf}, {Distrib_dpois, -1.0, "ss", {2.0}, -inf},
      {Distrib_dpois, 1.5, "ss", {2.0}, -inf}, {Distrib_dpois, 1.0, "ss", {-2.0}, -inf}, {Distrib_dgeom, 0.0, "ss", {0.5}, -inf},
      {Distrib_dnegbin, -2.0, "sss", {0.5, 3.0}, -inf}, {Distrib_dzipf, 0.0, "ss", {2.0}, -inf}, {Distrib_dzipf, 2.0, "ss", {1.0}, -inf},
      {Distrib_dnorm, 0.0, "sss", {0.0, -1.0}, -inf}, {Distrib_dgamma, -1.0, "sss", {2.0, 1.0}, -inf}, {Distrib_dgamma, 1.0, "sss", {-2.0, 1.0}, -inf},
      {Distrib_dgamma, 1.0, "sss", {2.0, -1.0}, -inf}, {Distrib_dbeta, 1.5, "sss", {2.0, 2.0}, -inf}, {Distrib_dexp, -0.5, "ss", {1.0}, -inf},
      {Distrib_dlnorm, -1.0, "sss", {0.0, 1.0}, -inf}, {Distrib_dpar, 1.5, "sss", {2.0, 2.0}, -inf}, {Distrib_dunif, 4.5, "sss", {0.0, 4.0}, -inf},
      {Distrib_dunif, 1.0, "sss", {4.0, 0.0}, -inf}, {Distrib_dweib, 1.0, "sss", {-1.0, -2.0}, -inf}, {Distrib_dgum, 1.0, "sss", {0.0, -2.0}, -inf},
      {Distrib_dpow, 1.5, "ss", {2.0}, -inf}, {Distrib_dchisq, -1.0, "ss", {3.0}, -inf}, {Distrib_df, -1.0, "sss", {3.0, 4.0}, -inf},
  };
  for (const auto& r : rows) {
    Nodes parents;
    for (size_t k = 0; k < r.p.size(); ++k) {
      const char kind = r.kinds[k + 1];
      parents.push_back(kind == 'd' ? Data(r.p[k]) : kind == 'c' ? Computed(r.p[k]) : Node(r.p[k]));
    }
    const double got = Log(Dist(r.id, r.x, parents, r.kinds[0] == 'd' ? Graph_data : Graph_stochastic));
    if (std::isfinite(r.expected)) { EXPECT_NEAR(got, r.expected, 1e-9 * std::max(1.0, std::fabs(r.expected))) << r.id << r.kinds << r.x; }
    else { EXPECT_EQ(got, r.expected) << r.id << " " << r.kinds << " at " << r.x; }
  }
}

TEST_F(DensityTest, VectorParametersAreReadFromTheirBlocks) {
  Graph_Node* p = Vector({0.2, 0.5, 0.3});
  Graph_Node* count = Data(3.0);
  for (auto [y, q] : {std::pair{3.0, std::log(0.3)}, {1.0, std::log(0.2)}, {3.0 - 1e-11, std::log(0.3)}})
    EXPECT_NEAR(Log(Dist(Distrib_dcat, y, {p, count})), q, 1e-15) << y;
  for (double y : {4.0, 0.0}) EXPECT_EQ(Log(Dist(Distrib_dcat, y, {p, Data(3.0)})), -inf) << y;
  EXPECT_EQ(Log(Dist(Distrib_dcat, 2.0, {Vector({0.5, 0.0, 0.5}), count})), -1.0E10);
  // A row picked from a 2 x 3 matrix by a stochastic index.
  Graph_Node* matrix = Vector({0.1, 0.2, 0.7, 0.6, 0.3, 0.1});
  Graph_Node* k = Node(2.0);
  Graph_Node* cat = Dist(Distrib_dcat, 2.0, {Logical({20, 1, matrix->label, 2, 3}, {k}), count});
  EXPECT_NEAR(Log(cat), std::log(0.3), 1e-15);
  Graph_Own(k) = 1.0;
  EXPECT_NEAR(cat->logDensity(cat), std::log(0.2), 1e-15);

  Graph_Node* multi = Block(Distrib_dmulti, {2.0, 0.0, 5.0}, {Vector({0.3, 0.0, 0.7}), Data(7.0)});
  EXPECT_NEAR(Log(multi), std::log(21.0) + 2.0 * std::log(0.3) + 5.0 * std::log(0.7), 1e-9);  // 7!/(2! 0! 5!)
  Graph_Own(Graph_Label(multi->label + 1)) = 1.0;  // an impossible category
  Graph_Own(Graph_Label(multi->label + 2)) = 4.0;
  EXPECT_NEAR(multi->logDensity(multi), -1.0E10 + std::log(105.0) + 2.0 * std::log(0.3) + 4.0 * std::log(0.7), 1e-3);
  Graph_Own(Graph_Label(multi->label + 2)) = 5.0;  // counts that do not add up to N
  EXPECT_EQ(multi->logDensity(multi), -inf);
}

TEST_F(DensityTest, MultivariateNormalUsesTheLowerTriangleOfThePrecision) {
  const std::vector<double> tau = {2.0, 0.5, 0.2, 0.5, 1.5, -0.3, 0.2, -0.3, 1.0};
  Graph_Node* t = Vector(tau);
  Graph_Node* mu = Computed(1.0);  // mu[1] computed, the rest data
  Vector({2.0, 3.0});
  Graph_Node* x = Block(Distrib_dmnorm, {1.5, 1.0, 4.0}, {mu, t});
  const double quadratic = 3.3;  // d' tau d, d = x - mu = (0.5, -1, 1)
  EXPECT_NEAR(Log(x), -0.5 * quadratic, 1e-14);
  Graph_Node* second = Graph_Label(x->label + 1);  // every component evaluates the whole block
  EXPECT_NEAR(second->logDensity(second), -0.5 * quadratic, 1e-14);
  Graph_Own(Graph_Label(t->label + 2)) = 99.0;  // above the diagonal: never read
  EXPECT_NEAR(x->logDensity(x), -0.5 * quadratic, 1e-14);
  Graph_Own(Graph_Label(t->label + 6)) = 0.7;  // below it: read
  EXPECT_NEAR(x->logDensity(x), -0.5 * quadratic - (0.7 - 0.2) * 1.0 * 0.5, 1e-14);
}

TEST_F(DensityTest, LikelihoodSumsInOrderAndStopsWhenHopeless) {
  EXPECT_EQ(Density_LogLiklihood(Graph_List{}), 0.0);
  Graph_Node *a = Node(1.0), *b = Node(-6.0E9), *c = Node(2.0), *edge = Node(-5.0E9), *near = Node(-4.9E9);
  for (Graph_Node* n : {a, b, c, edge, near}) n->logDensity = Recording;
  const struct { Nodes list; double sum; Nodes read; } rows[] = {
      {{a, c, near, a}, 1.0 + 2.0 - 4.9E9 + 1.0, {a, c, near, a}}, {{b, c}, -6.0E9, {b}}, {{a, b, c}, 1.0 - 6.0E9, {a, b}},
      {{edge, c}, -5.0E9, {edge}}};
  for (const auto& r : rows) {
    calls.clear();
    EXPECT_EQ(Density_LogLiklihood(Graph_List(r.list.begin(), r.list.end())), r.sum);
    EXPECT_EQ(calls, r.read) << r.sum;
  }
}

// ln p and ln(1 - p) under each link (ln mean for the log link), in long double from formulas of their own.
std::pair<double, double> Reference(int32_t op, double eta) {
  const long double x = eta, r = 0.70710678118654752440L;
  if (op == 10) return {static_cast<double>(-log1pl(expl(-x))), static_cast<double>(-log1pl(expl(x)))};
  if (op == 9) return {static_cast<double>(logl(-expm1l(-expl(x)))), static_cast<double>(-expl(x))};
  if (op == 19) return {static_cast<double>(logl(0.5L * erfcl(-x * r))), static_cast<double>(logl(0.5L * erfcl(x * r)))};
  return {eta, 0.0};
}

// A term over a linked predictor: to the bit what the interpreted link gives, and its closed form to rounding,
// out to where p, 1 - p or the mean under- or overflows.
TEST_F(DensityTest, LinkedTermsAgreeWithTheirLogDensityFromTheLinksValue) {
  struct TermCase { int32_t density; double value, size; };  // size: n of dbin, r of dnegbin
  const std::vector<TermCase> proportionTerms = {
      {Distrib_dbern, 0.0, 0.0}, {Distrib_dbern, 1.0, 0.0}, {Distrib_dbin, 0.0, 7.0}, {Distrib_dbin, 3.0, 7.0}, {Distrib_dbin, 7.0, 7.0},
      {Distrib_dgeom, 1.0, 0.0}, {Distrib_dgeom, 4.0, 0.0}, {Distrib_dnegbin, 0.0, 2.5}, {Distrib_dnegbin, 3.0, 2.5}};
  const std::vector<TermCase> meanTerms = {{Distrib_dpois, 0.0, 0.0}, {Distrib_dpois, 5.0, 0.0}};
  const auto expected = [](const TermCase& c, std::pair<double, double> l, double eta) {
    const auto times = [](double count, double log) { return count > 0.0 ? count * log : 0.0; };
    switch (c.density) {
      case Distrib_dbern: return c.value > 0.5 ? l.first : l.second;
      case Distrib_dbin: return times(c.value, l.first) + times(c.size - c.value, l.second);
      case Distrib_dgeom: return times(c.value - 1.0, l.second) + l.first;
      case Distrib_dnegbin: return c.size * l.first + times(c.value, l.second);
      default: return times(c.value, eta) - std::exp(eta);
    }
  };
  const std::vector<double> wide = {-800.0, -745.5, -40.0, -20.0, -3.0, -0.5, 0.0, 0.5, 3.0, 20.0, 36.0, 40.0, 800.0};
  // Relative tolerances: the probit's tail is good to about 1.2E-7.
  const struct { int32_t op; std::vector<double> etas; double tolerance; } links[] = {
      {10, wide, 4e-16}, {9, wide, 4e-16}, {19, {-30.0, -8.0, -3.0, -0.5, 0.0, 0.5, 3.0, 8.0, 30.0}, 2e-7},
      {8, {-700.0, -20.0, -0.5, 0.0, 0.5, 20.0, 700.0}, 4e-16}};
  for (const auto& link : links) {
    Graph_Node* eta = Node(0.0);
    Graph_Node *form = Logical({24, link.op, 21}, {eta}), *interpreted = Logical({24, link.op, 21}, {eta});
    interpreted->kind = Graph_data;  // stays interpreted
    Determ_OptDeterm();
    ASSERT_TRUE(form->valueFunction != interpreted->valueFunction);
    for (const TermCase& c : link.op == 8 ? meanTerms : proportionTerms) {
      Nodes fast{form}, slow{interpreted};
      if (c.size > 0.0) fast.push_back(Data(c.size)), slow.push_back(Data(c.size));
      Graph_Node *term = Dist(c.density, c.value, fast, Graph_data), *twin = Dist(c.density, c.value, slow, Graph_data);
      Density_SetDensity();
      for (double x : link.etas) {
        Graph_Own(eta) = x;
        const double got = term->logDensity(term), want = expected(c, Reference(link.op, x), x);
        SCOPED_TRACE("density " + std::to_string(c.density) + " count " + std::to_string(c.value) + " link " +
                     std::to_string(link.op) + " eta " + std::to_string(x));
        EXPECT_EQ(got, twin->logDensity(twin));
        if (std::isfinite(want)) { EXPECT_NEAR(got, want, link.tolerance * std::max(1.0, std::fabs(want))); }
        else { EXPECT_EQ(got, want); }
      }
    }
  }
}

// Gathered logistic terms against the terms one by one: to the bit on the first read, to rounding on the fast
// path after it. Six terms a predictor keep a partial sum; a normal term in the last model cannot be gathered.
class LogitTermsTest : public test::Methods {};

TEST_F(LogitTermsTest, GatheredTermsSumWhatTheTermsGiveOneByOne) {
  const std::string data =
      "list(y = c(1, 0, 0, 1, 1, 0), x = c(-1.3, 0.4, 2.2, -0.7, 30, -41), "
      "z = c(0.5, -2, 1.5, 0.25, -3, 7), g = c(1, 2, 1, 2, 1, 2), w = 0.3)";
  const std::string logistic =
      "const N = 6;\nvar y[N], x[N], z[N], g[N], u[2], p[N], a, b, c, w;\n"
      "{ for (i in 1:N) { logit(p[i]) <- a + u[g[i]] + b * x[i] + z[i] * c\n y[i] ~ dbern(p[i]) }\n"
      "  for (j in 1:2) { u[j] ~ dnorm(0, 1) }\n a ~ dnorm(0, 0.1) b ~ dnorm(0, 0.1) c ~ dnorm(0, 0.1) ";
  const struct { const char *extra, *node; int offset; bool gathered; } cases[] = {
      {"", "b", 0, true}, {"", "c", 0, true}, {"", "u", 1, true}, {"", "a", 0, true}, {"w ~ dnorm(b, 1)", "b", 0, false}};
  const auto termByTerm = [](Graph_Node* node) {
    double h = 0.0;
    for (Graph_Node* term : node->likelihood) h += term->logDensity(term);
    return h;
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.node) + " " + k.extra);
    Compile(logistic + k.extra + " }", data, "list(a = 0.2, b = -0.1, c = 0.3, u = c(0.5, -0.4))");
    Graph_Node* node = N(k.node, k.offset);
    Determ_activeNode = node;
    Determ_fastLinear = false;
    const double fresh = termByTerm(node);
    Density_LogitTerms terms;
    bool gathered = false;
    const double first = Density_FirstLogitTerms(node->likelihood, terms, 0.0, gathered);
    EXPECT_EQ(std::bit_cast<uint64_t>(first), std::bit_cast<uint64_t>(fresh));
    EXPECT_EQ(gathered, k.gathered);
    Determ_fastLinear = true;
    for (double t : {-3.7, -0.2, 0.0, 0.6, 4.1, 55.0}) {
      Graph_Own(node) = t;
      const double oneByOne = termByTerm(node);
      if (gathered) { EXPECT_NEAR(Density_SumLogitTerms(terms, t, 0.0), oneByOne, 1.0E-14 * (1.0 + std::fabs(oneByOne))) << t; }
    }
    Determ_fastLinear = false, Determ_activeNode = nullptr;
    TearDown();
    SetUp();
  }
}

// The fast path sums the logarithms through their product: against long double sums for lists shorter and longer
// than one run, products beyond a double's range, e^-|eta| underflowing, infinite and not-a-number predictors.
TEST(LogitTermsSum, AgreesWithTheTermsSummedInLongDouble) {
  const auto reference = [](const Density_LogitTerms& terms, double t) {
    long double sum = 0.0L;
    for (size_t i = 0; i < terms.partial.size(); ++i) {
      const long double eta = static_cast<long double>(terms.partial[i]) + t * terms.factor[i];
      const long double z = terms.complement[i] ? -eta : eta;
      sum += (z < 0.0L ? z : 0.0L) - log1pl(expl(-fabsl(z)));
    }
    return static_cast<double>(sum);
  };
  const struct { size_t count; double spread, t; } cases[] = {  // partials run evenly over [-spread, spread]
      {0, 0.0, 0.3}, {1, 0.0, -0.7}, {15, 2.0, 0.4}, {16, 3.0, -1.1}, {17, 4.0, 0.9}, {3000, 0.01, 0.0}, {500, 900.0, 2.5},
      {2000, 6.0, 0.05}};
  for (const auto& c : cases) {
    Density_LogitTerms terms;
    for (size_t i = 0; i < c.count; ++i) {
      const double r = c.count > 1 ? static_cast<double>(i) / static_cast<double>(c.count - 1) : 0.5;
      terms.partial.push_back(c.spread * (2.0 * r - 1.0));
      terms.factor.push_back(i % 3 == 0 ? 1.0 : -0.5 + 0.25 * static_cast<double>(i % 7));
      terms.complement.push_back(i % 2 == 0 || i % 5 == 0);
    }
    const double want = reference(terms, c.t);
    EXPECT_NEAR(Density_SumLogitTerms(terms, c.t, 2.5), 2.5 + want, 1.0E-14 * (1.0 + std::fabs(want))) << c.count;
  }
  const struct { double partial; bool complement; double expected; } extremes[] = {
      {inf, false, 0.0}, {inf, true, -inf}, {-inf, false, -inf}, {-inf, true, 0.0}, {std::nan(""), false, -inf}};
  const double rest = -std::log1p(std::exp(-0.5)) - std::log1p(std::exp(-0.25));
  for (const auto& e : extremes) {
    Density_LogitTerms terms{{0.5, e.partial, -0.25}, {1.0, 1.0, 1.0}, {0, static_cast<uint8_t>(e.complement), 1}};
    const double sum = Density_SumLogitTerms(terms, 0.0, 0.0);
    if (e.expected == -inf) { EXPECT_EQ(sum, -inf) << e.partial << " " << e.complement; }
    else { EXPECT_NEAR(sum, e.expected + rest, 1.0E-15) << e.partial << " " << e.complement; }
  }
}

}  // namespace
