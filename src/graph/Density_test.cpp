#include "graph/Density.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "HandGraph.h"
#include "Methods.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "language/Errors.h"
#include "language/SymTabs.h"
#include "numerics/SpecFunc.h"
#include "store/Distrib.h"

namespace {

constexpr double halfLogTwoPi = 0.91893853320467274;  // left out of every log gamma
using Nodes = std::vector<Graph_Node*>;

// ln Gamma(x) as the densities compute it.
double LnGamma(double x) { return std::lgamma(x) - halfLogTwoPi; }
double LnChoose(double n, double k) { return std::lgamma(n + 1) - std::lgamma(k + 1) - std::lgamma(n - k + 1); }

std::vector<int32_t> calls;  // labels of the recording terms, in evaluation order
double Recording(Graph_Node* node) {
  calls.push_back(node->label);
  return Graph_Own(node);
}

class DensityTest : public test::HandGraph {
 protected:
  void SetUp() override {
    HandGraph::SetUp();
    calls.clear();
  }
  static Graph_Node* Data(double value) { return Node(value, Graph_data); }
  static Graph_Node* Computed(double value) { return Logical({24, 24, 3, 21}, {Data(value), Data(1.0)}); }
  static Graph_Node* Dist(int32_t density, double value, Nodes parents, int32_t kind = Graph_stochastic) {
    Graph_Node* n = Node(value, kind);
    n->density = density;
    n->parents = std::move(parents);
    n->numParents = static_cast<int32_t>(n->parents.size());
    return n;
  }
  // A multivariate block of consecutive nodes sharing the first one's number.
  static Graph_Node* Block(int32_t density, const std::vector<double>& values, const Nodes& parents) {
    Graph_Node* first = nullptr;
    for (double v : values) {
      Graph_Node* n = Dist(density, v, parents);
      if (first == nullptr) first = n;
      n->label = first->label;
      n->size = static_cast<int32_t>(values.size());
    }
    return first;
  }
  static Graph_Node* Vector(const std::vector<double>& values) {
    Graph_Node* first = nullptr;
    for (double v : values) {
      Graph_Node* n = Data(v);
      if (first == nullptr) first = n;
    }
    return first;
  }
  static double Log(Graph_Node* node) {
    Density_SetDensity();
    return node->logDensity(node);
  }
};

TEST_F(DensityTest, ContinuousDensitiesMatchTheirClosedForms) {
  using std::log;
  EXPECT_NEAR(Log(Dist(Distrib_dbeta, 0.3, {Data(2.5), Data(1.5)})), 1.5 * log(0.3) + 0.5 * log(0.7), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dchisq, 3.2, {Computed(5.0)})), 1.5 * log(1.6) - 1.6 - LnGamma(2.5), 1e-9);
  EXPECT_NEAR(Log(Dist(Distrib_ddexp, -0.5, {Data(1.0), Computed(2.0)})), log(2.0) - 3.0, 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dexp, 0.8, {Computed(1.7)})), log(1.7) - 1.7 * 0.8, 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_df, 1.3, {Data(4.0), Computed(6.0)})), log(1.3) - 5.0 * log(1.0 + 4.0 * 1.3 / 6.0), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dgamma, 1.4, {Data(3.0), Computed(2.0)})), 2.0 * log(2.8) + log(2.0) - 2.8, 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dgum, 0.3, {Computed(1.0), Data(2.0)})), 1.4 - std::exp(1.4), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dlogis, 0.3, {Computed(1.0), Data(2.0)})), log(2.0) + 1.4 - 2.0 * log1p(std::exp(1.4)), 1e-13);
  // Far in either tail the logistic log density stays finite: ln b - |y|.
  for (double y : {-400.0, 402.0}) EXPECT_NEAR(Log(Dist(Distrib_dlogis, y, {Data(1.0), Data(2.0)})), log(2.0) - 802.0, 1e-12) << y;
  const double d = log(2.0) - 0.5;
  EXPECT_NEAR(Log(Dist(Distrib_dlnorm, 2.0, {Data(0.5), Computed(4.0)})), 0.5 * (log(4.0) - 4.0 * d * d) - log(2.0), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dnorm, 3.0, {Computed(1.0), Computed(0.25)})), 0.5 * (log(0.25) - 0.25 * 4.0), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dpar, 5.0, {Computed(3.0), Data(2.0)})), log(3.0 / 5.0) + 3.0 * log(2.0 / 5.0), 1e-13);
  // dpow(a) is a x^(a - 1) on (0, 1), the law its generator draws from.
  EXPECT_NEAR(Log(Dist(Distrib_dpow, 0.4, {Computed(2.5)})), log(2.5) + 1.5 * log(0.4), 1e-13);
  for (double x : {0.1, 3.9}) EXPECT_NEAR(Log(Dist(Distrib_dunif, x, {Data(0.0), Computed(4.0)})), -log(4.0), 1e-15);
  EXPECT_NEAR(Log(Dist(Distrib_dweib, 0.7, {Computed(1.5), Data(2.0)})), log(3.0) + 0.5 * log(0.7) - 2.0 * std::pow(0.7, 1.5), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dzipf, 3.0, {Data(2.0)})), -2.0 * log(3.0), 1e-13);
  // A stochastic exponent brings in ln zeta(a): zeta(2) = pi^2 / 6, zeta(4) = pi^4 / 90.
  const double pi = std::acos(-1.0);
  EXPECT_NEAR(Log(Dist(Distrib_dzipf, 3.0, {Computed(2.0)})), -2.0 * log(3.0) - log(pi * pi / 6.0), 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dzipf, 2.0, {Node(4.0)})), -4.0 * log(2.0) - log(std::pow(pi, 4) / 90.0), 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dzipf, 1.0, {Node(1.5)})), -log(2.612375348685488), 1e-12);
}

// Outside the support its parameters give, or with parameters outside their
// domain, every log density is -infinity: never a number that is none, and
// never a read beyond a table. (An observed count with a fixed size had its
// value checked once by the model checks; its density does not ask again.)
TEST_F(DensityTest, ValuesAndParametersOutsideTheirRangeAreImpossible) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    int32_t id;
    double x;
    std::vector<double> parameters;
    bool data;  // the node observed
  };
  const Case cases[] = {
      {Distrib_dbin, 11.0, {0.3, 10.0}, true},   {Distrib_dbin, 11.0, {0.3, 10.0}, false},
      {Distrib_dbin, -1.0, {0.3, 10.0}, false},  {Distrib_dbin, 2.5, {0.3, 10.0}, false},
      {Distrib_dbin, 2.0, {0.3, 9.5}, false},    {Distrib_dbin, 2.0, {1.3, 10.0}, false},
      {Distrib_dbern, 0.6, {0.3}, false},        {Distrib_dbern, 2.0, {0.3}, false},
      {Distrib_dpois, -1.0, {2.0}, false},       {Distrib_dpois, 1.5, {2.0}, false},
      {Distrib_dpois, 1.0, {-2.0}, false},       {Distrib_dgeom, 0.0, {0.5}, false},
      {Distrib_dnegbin, -2.0, {0.5, 3.0}, false}, {Distrib_dzipf, 0.0, {2.0}, false},
      {Distrib_dzipf, 2.0, {1.0}, false},        {Distrib_dcat, 4.0, {3.0}, false},
      {Distrib_dcat, 0.0, {3.0}, false},         {Distrib_dnorm, 0.0, {0.0, -1.0}, false},
      {Distrib_dgamma, -1.0, {2.0, 1.0}, false}, {Distrib_dgamma, 1.0, {-2.0, 1.0}, false},
      {Distrib_dgamma, 1.0, {2.0, -1.0}, false}, {Distrib_dbeta, 1.5, {2.0, 2.0}, false},
      {Distrib_dexp, -0.5, {1.0}, false},        {Distrib_dlnorm, -1.0, {0.0, 1.0}, false},
      {Distrib_dpar, 1.5, {2.0, 2.0}, false},    {Distrib_dunif, 4.5, {0.0, 4.0}, false},
      {Distrib_dunif, 1.0, {4.0, 0.0}, false},   {Distrib_dweib, 1.0, {-1.0, -2.0}, false},
      {Distrib_dgum, 1.0, {0.0, -2.0}, false},   {Distrib_dpow, 1.5, {2.0}, false},
      {Distrib_dchisq, -1.0, {3.0}, false},      {Distrib_df, -1.0, {3.0, 4.0}, false},
  };
  for (const Case& c : cases) {
    Nodes parameters;
    if (c.id == Distrib_dcat) parameters = {Vector({0.2, 0.3, 0.5}), Data(c.parameters[0])};
    else
      for (double v : c.parameters) parameters.push_back(Node(v));  // stochastic: the full variants
    EXPECT_EQ(Log(Dist(c.id, c.x, parameters, c.data ? Graph_data : Graph_stochastic)), -inf)
        << c.id << " at " << c.x;
  }
}

TEST_F(DensityTest, DiscreteDensitiesAreLogProbabilities) {
  using std::log;
  Graph_Node* p = Computed(0.3);
  EXPECT_NEAR(Log(Dist(Distrib_dbern, 1.0, {p})), log(0.3), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dbern, 0.0, {p})), log(0.7), 1e-13);
  EXPECT_NEAR(Log(Dist(Distrib_dbin, 3.0, {p, Data(10.0)}, Graph_data)), 3.0 * log(0.3) + 7.0 * log(0.7), 1e-12);
  // dgeom counts trials: the first success on trial y.
  for (double y : {4.0, 1.0}) EXPECT_NEAR(Log(Dist(Distrib_dgeom, y, {Computed(0.25)})), log(0.25) + (y - 1.0) * log(0.75), 1e-13) << y;
  EXPECT_NEAR(Log(Dist(Distrib_dnegbin, 5.0, {Computed(0.4), Data(3.0)}, Graph_data)),
              3.0 * log(0.4) + 5.0 * log(0.6), 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dpois, 4.0, {Computed(2.5)}, Graph_data)), 4.0 * log(2.5) - 2.5, 1e-13);
  // An unobserved count, or a stochastic r, needs the coefficient that depends on them.
  EXPECT_NEAR(Log(Dist(Distrib_dpois, 4.0, {Computed(2.5)})), 4.0 * log(2.5) - 2.5 - log(24.0), 1e-9);
  EXPECT_NEAR(Log(Dist(Distrib_dnegbin, 5.0, {Computed(0.4), Computed(3.0)})),
              3.0 * log(0.4) + 5.0 * log(0.6) + log(21.0), 1e-9);  // C(7, 5) = 21
  // A vanishing proportion or mean has a finite log, so a zero count is certain, not undefined.
  EXPECT_EQ(Log(Dist(Distrib_dpois, 0.0, {Data(0.0)}, Graph_data)), 0.0);
  EXPECT_EQ(Log(Dist(Distrib_dbin, 0.0, {Data(0.0), Data(5.0)}, Graph_data)), 0.0);
}

TEST_F(DensityTest, VariantsAddNormalisingTermsOnlyForChangingParameters) {
  const double a = 2.5, b = 1.5, lnB = LnGamma(a) + LnGamma(b) - LnGamma(a + b);
  const double beta = Log(Dist(Distrib_dbeta, 0.3, {Data(a), Data(b)}));
  for (const Nodes& ab : {Nodes{Data(a), Node(b)}, Nodes{Node(a), Data(b)}, Nodes{Computed(a), Computed(b)}})
    EXPECT_NEAR(Log(Dist(Distrib_dbeta, 0.3, ab)), beta - lnB, 1e-9) << ab[0]->kind << " " << ab[1]->kind;

  Graph_Node* p = Data(0.3);
  const double binomial = Log(Dist(Distrib_dbin, 3.0, {p, Data(10.0)}, Graph_data));
  EXPECT_NEAR(Log(Dist(Distrib_dbin, 3.0, {p, Node(10.0)}, Graph_data)), binomial + std::log(120.0), 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dbin, 3.0, {p, Data(10.0)})), binomial + std::log(120.0), 1e-12);
  // The count and n are taken as integers after adding 1.0E-10, so rounding below them is no fault.
  const double n = 10.0 - 1e-11, x = 3.0 - 1e-11;
  EXPECT_NEAR(Log(Dist(Distrib_dbin, x, {p, Node(n)})), x * std::log(0.3) + (n - x) * std::log(0.7) + std::log(120.0), 1e-12);
  // Past the factorial table (n = 120 > 99) the coefficient is still exact.
  EXPECT_NEAR(Log(Dist(Distrib_dbin, 30.0, {p, Node(120.0)})) - Log(Dist(Distrib_dbin, 30.0, {p, Data(120.0)}, Graph_data)),
              LnChoose(120.0, 30.0), 1e-9);

  const double gamma = Log(Dist(Distrib_dgamma, 1.4, {Data(3.0), Node(2.0)}));
  for (Graph_Node* shape : {Node(3.0), Computed(3.0)})
    EXPECT_NEAR(Log(Dist(Distrib_dgamma, 1.4, {shape, Data(2.0)})), gamma - LnGamma(3.0), 1e-9) << shape->kind;
}

TEST_F(DensityTest, SetDensityLeavesNodesWithoutAProcedureAlone) {
  ASSERT_TRUE(Graph_AllocateNodes(3));  // numbers 0..2 have no record
  Nodes untouched;
  for (int32_t id : {0, 6, 13, 25, 27, -1}) untouched.push_back(Dist(id, 1.0, {Data(1.0), Data(1.0)}));
  Graph_Node* own = Dist(Distrib_ddirch, 1.0, {Data(1.0)});
  own->logDensity = Recording;
  Graph_Node* normal = Dist(Distrib_dnorm, 0.0, {Data(0.0), Data(1.0)});
  Density_SetDensity();
  for (Graph_Node* n : untouched) EXPECT_EQ(n->logDensity, Graph_LogDensity) << n->density;
  EXPECT_EQ(own->logDensity, Recording);
  EXPECT_NE(normal->logDensity, Graph_LogDensity);
}

TEST_F(DensityTest, VectorParametersAreReadFromTheirBlocks) {
  Graph_Node* p = Vector({0.2, 0.5, 0.3});
  Graph_Node* count = Data(3.0);
  for (auto [y, q] : {std::pair{3.0, 0.3}, {1.0, 0.2}, {3.0 - 1e-11, 0.3}})
    EXPECT_NEAR(Log(Dist(Distrib_dcat, y, {p, count})), std::log(q), 1e-15) << y;
  EXPECT_EQ(Log(Dist(Distrib_dcat, 2.0, {Vector({0.5, 0.0, 0.5}), count})), -1.0E10);
  // A row picked from a 2 x 3 matrix by a stochastic index.
  Graph_Node* matrix = Vector({0.1, 0.2, 0.7, 0.6, 0.3, 0.1});
  Graph_Node* k = Node(2.0);
  Graph_Node* row = Logical({20, 1, matrix->label, 2, 3}, {k});
  Graph_Node* cat = Dist(Distrib_dcat, 2.0, {row, count});
  EXPECT_NEAR(Log(cat), std::log(0.3), 1e-15);
  Graph_Own(k) = 1.0;
  EXPECT_NEAR(cat->logDensity(cat), std::log(0.2), 1e-15);

  Graph_Node* multi = Block(Distrib_dmulti, {2.0, 0.0, 5.0}, {Vector({0.3, 0.0, 0.7}), Data(7.0)});
  const double coefficient = std::log(21.0);  // 7! / (2! 0! 5!)
  EXPECT_NEAR(Log(multi), coefficient + 2.0 * std::log(0.3) + 5.0 * std::log(0.7), 1e-9);
  Graph_Own(Graph_Label(multi->label + 1)) = 1.0;  // an impossible category
  Graph_Own(Graph_Label(multi->label + 2)) = 4.0;
  EXPECT_NEAR(multi->logDensity(multi), -1.0E10 + std::log(105.0) + 2.0 * std::log(0.3) + 4.0 * std::log(0.7),
              1e-3);  // 7! / (2! 1! 4!) = 105
  Graph_Own(Graph_Label(multi->label + 2)) = 5.0;  // counts that do not add up to N
  EXPECT_EQ(multi->logDensity(multi), -std::numeric_limits<double>::infinity());
}

TEST_F(DensityTest, MultivariateNormalUsesTheLowerTriangleOfThePrecision) {
  const double tau[3][3] = {{2.0, 0.5, 0.2}, {0.5, 1.5, -0.3}, {0.2, -0.3, 1.0}};
  Graph_Node* t = Vector({tau[0][0], tau[0][1], tau[0][2], tau[1][0], tau[1][1], tau[1][2], tau[2][0], tau[2][1], tau[2][2]});
  Graph_Node* mu = Logical({24, 24, 3, 21}, {Data(1.0), Data(1.0)});  // mu[1] computed, the rest data
  Vector({2.0, 3.0});
  Graph_Node* x = Block(Distrib_dmnorm, {1.5, 1.0, 4.0}, {mu, t});
  const double d[3] = {0.5, -1.0, 1.0};
  double quadratic = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) quadratic += d[i] * tau[i][j] * d[j];
  EXPECT_NEAR(Log(x), -0.5 * quadratic, 1e-14);
  Graph_Node* second = Graph_Label(x->label + 1);  // every component evaluates the whole block
  EXPECT_NEAR(second->logDensity(second), -0.5 * quadratic, 1e-14);
  Graph_Own(Graph_Label(t->label + 2)) = 99.0;  // above the diagonal: never read
  EXPECT_NEAR(x->logDensity(x), -0.5 * quadratic, 1e-14);
  Graph_Own(Graph_Label(t->label + 6)) = 0.7;  // below it: read
  EXPECT_NEAR(x->logDensity(x), -0.5 * quadratic - (0.7 - 0.2) * d[2] * d[0], 1e-14);
}

TEST_F(DensityTest, LinkedParametersGiveAccurateLogarithms) {
  Graph_Node* eta = Node(30.0);
  Graph_Node* logit = Logical({24, 10, 21}, {eta});
  const double lnP = -std::log1p(std::exp(-30.0)), lnQ = -30.0 + lnP;  // p within 1.0E-13 of 1
  EXPECT_NEAR(Log(Dist(Distrib_dbern, 0.0, {logit})), lnQ, 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dbin, 3.0, {logit, Data(10.0)}, Graph_data)), 3.0 * lnP + 7.0 * lnQ, 1e-11);
  EXPECT_NEAR(Log(Dist(Distrib_dgeom, 3.0, {logit})), lnP + 2.0 * lnQ, 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dnegbin, 2.0, {logit, Data(4.0)}, Graph_data)), 4.0 * lnP + 2.0 * lnQ, 1e-12);
  Graph_Own(eta) = -12.0;  // p near 0
  Graph_Node* low = Dist(Distrib_dbern, 1.0, {logit});
  EXPECT_NEAR(Log(low), -12.0 - std::log1p(std::exp(-12.0)), 1e-12);

  Graph_Node* cloglog = Logical({24, 9, 21}, {Node(3.0)});
  EXPECT_NEAR(Log(Dist(Distrib_dbern, 0.0, {cloglog})), -std::exp(3.0), 1e-12);
  EXPECT_NEAR(Log(Dist(Distrib_dbern, 1.0, {cloglog})), std::log(-std::expm1(-std::exp(3.0))), 1e-15);
  Graph_Node* rare = Logical({24, 9, 21}, {Node(-12.0)});
  EXPECT_NEAR(Log(Dist(Distrib_dbin, 1.0, {rare, Data(2.0)}, Graph_data)),
              std::log(-std::expm1(-std::exp(-12.0))) - std::exp(-12.0), 1e-9);

  Graph_Node* probit = Logical({24, 19, 21}, {Node(8.0)});
  EXPECT_EQ(Log(Dist(Distrib_dbern, 0.0, {probit})), SpecFunc_LogPhi(8.0));
  EXPECT_NEAR(Log(Dist(Distrib_dbern, 1.0, {probit})), -std::exp(SpecFunc_LogPhi(8.0)), 1e-15);
  EXPECT_EQ(Log(Dist(Distrib_dbern, 1.0, {Logical({24, 19, 21}, {Node(-8.0)})})), SpecFunc_LogPhi(-8.0));

  Graph_Node* linear = Node(2.5);
  Graph_Node* lambda = Logical({24, 8, 21}, {linear});
  Graph_Node* y = Dist(Distrib_dpois, 3.0, {lambda}, Graph_data);
  EXPECT_NEAR(Log(y), 3.0 * 2.5 - std::exp(2.5), 1e-12);
  Graph_Own(linear) = -800.0;  // the mean underflows; its log does not
  EXPECT_EQ(y->logDensity(y), -2400.0);
}

TEST_F(DensityTest, LikelihoodSumsInOrderAndStopsWhenHopeless) {
  EXPECT_EQ(Density_LogLiklihood(Graph_List{}), 0.0);
  Graph_Node *a = Node(1.0), *b = Node(-6.0E9), *c = Node(2.0), *edge = Node(-5.0E9), *near = Node(-4.9E9);
  for (Graph_Node* n : {a, b, c, edge, near}) n->logDensity = Recording;
  EXPECT_EQ(Density_LogLiklihood({a, c, near, a}), 1.0 + 2.0 - 4.9E9 + 1.0);
  EXPECT_EQ(calls, (std::vector<int32_t>{a->label, c->label, near->label, a->label}));
  calls.clear();
  EXPECT_EQ(Density_LogLiklihood({b, c}), -6.0E9);
  EXPECT_EQ(calls, std::vector<int32_t>{b->label});
  calls.clear();
  EXPECT_EQ(Density_LogLiklihood({a, b, c}), 1.0 - 6.0E9);
  EXPECT_EQ(calls, (std::vector<int32_t>{a->label, b->label}));
  EXPECT_EQ(Density_LogLiklihood({edge, c}), -5.0E9);
}

TEST_F(DensityTest, FullConditionalAddsTheLikelihoodToTheOwnTerm) {
  Graph_Node* theta = Dist(Distrib_dnorm, 1.0, {Data(0.0), Data(0.5)});
  Graph_Node* y1 = Dist(Distrib_dnorm, 2.0, {theta, Data(4.0)}, Graph_data);
  Graph_Node* y2 = Dist(Distrib_dpois, 3.0, {Logical({24, 8, 21}, {theta})}, Graph_data);
  Graph_AddNonUnique(theta->likelihood, y1);
  Graph_AddNonUnique(theta->likelihood, y2);
  Density_SetDensity();
  for (double candidate : {1.0, -0.5, 2.25}) {
    Graph_Own(theta) = candidate;
    const double own = 0.5 * (std::log(0.5) - 0.5 * candidate * candidate);
    const double normal = 0.5 * (std::log(4.0) - 4.0 * (2.0 - candidate) * (2.0 - candidate));
    EXPECT_NEAR(Density_LogFullConditional(theta), own + normal + 3.0 * candidate - std::exp(candidate), 1e-12);
  }
  EXPECT_EQ(Density_LogFullConditional(y1), y1->logDensity(y1));
}

}  // namespace

namespace {

// The log of p and of 1 - p under each link, in long double and from
// formulas of their own, rounded to double at the end (so that a log that
// is -infinity in double is -infinity here too).
struct LinkLogs {
  double lnP, lnQ;
};

LinkLogs Reference(int32_t op, double eta) {
  const long double x = eta;
  switch (op) {
    case 10: return {static_cast<double>(-log1pl(expl(-x))), static_cast<double>(-log1pl(expl(x)))};
    case 9: return {static_cast<double>(logl(-expm1l(-expl(x)))), static_cast<double>(-expl(x))};
    case 19: {  // the normal tails through the complementary error function
      const long double r = 0.70710678118654752440L;
      return {static_cast<double>(logl(0.5L * erfcl(-x * r))), static_cast<double>(logl(0.5L * erfcl(x * r)))};
    }
    default: return {static_cast<double>(x), 0.0};  // log link: the log of the mean
  }
}

struct TermCase {
  int32_t density;
  double value;      // the observed count
  double size;       // n of dbin, r of dnegbin; unused otherwise
  const char* name;
};

// The term's log density from the reference logs: the formulas of the
// densities, with a count of 0 contributing nothing.
double Expected(const TermCase& c, const LinkLogs& l, double eta) {
  const auto times = [](double count, double log) { return count > 0.0 ? count * log : 0.0; };
  switch (c.density) {
    case Distrib_dbern: return c.value > 0.5 ? l.lnP : l.lnQ;
    case Distrib_dbin: return times(c.value, l.lnP) + times(c.size - c.value, l.lnQ);
    case Distrib_dgeom: return times(c.value - 1.0, l.lnQ) + l.lnP;
    case Distrib_dnegbin: return c.size * l.lnP + times(c.value, l.lnQ);
    default: return times(c.value, eta) - std::exp(eta);  // dpois under the log link
  }
}

// The gathered logistic terms stand for a likelihood list while one node is
// drawn, so they must give the sum that reading each term through its node
// gives: to the bit on the first read of a draw, to rounding on the fast
// path after it; and a list they cannot stand for must be read as before.
class LogitTermsTest : public test::Methods {
 protected:
  // The likelihood of the node read term by term, as the samplers read it.
  static double TermByTerm(Graph_Node* node) {
    double h = 0.0;
    for (Graph_Node* term : node->likelihood) h += term->logDensity(term);
    return h;
  }
};

// Each linear predictor has six terms, so it keeps a partial sum while one
// of them is drawn: an intercept, a group effect, and two covariates, one
// of them multiplying the coefficient from the left. The last model adds a
// normal term, which the gathered terms cannot stand for.
TEST_F(LogitTermsTest, GatheredTermsSumWhatTheTermsGiveOneByOne) {
  const std::string data =
      "list(y = c(1, 0, 0, 1, 1, 0), x = c(-1.3, 0.4, 2.2, -0.7, 30, -41), "
      "z = c(0.5, -2, 1.5, 0.25, -3, 7), g = c(1, 2, 1, 2, 1, 2), w = 0.3)";
  const std::string logistic =
      "const N = 6;\nvar y[N], x[N], z[N], g[N], u[2], p[N], a, b, c, w;\n"
      "{ for (i in 1:N) { logit(p[i]) <- a + u[g[i]] + b * x[i] + z[i] * c\n y[i] ~ dbern(p[i]) }\n"
      "  for (j in 1:2) { u[j] ~ dnorm(0, 1) }\n a ~ dnorm(0, 0.1) b ~ dnorm(0, 0.1) c ~ dnorm(0, 0.1) %EXTRA% }";
  struct Case {
    const char* extra;
    const char* node;
    int offset;
    bool gathered;
  };
  const Case cases[] = {
      {"", "b", 0, true}, {"", "c", 0, true}, {"", "u", 1, true}, {"", "a", 0, true},
      {"w ~ dnorm(b, 1)", "b", 0, false},
  };
  for (const Case& k : cases) {
    std::string model = logistic;
    model.replace(model.find("%EXTRA%"), 7, k.extra);
    Compile(model, data, "list(a = 0.2, b = -0.1, c = 0.3, u = c(0.5, -0.4))");
    Graph_Node* node = N(k.node, k.offset);
    Determ_activeNode = node;
    Determ_fastLinear = false;
    const double fresh = TermByTerm(node);
    Density_LogitTerms terms;
    bool gathered = false;
    const double first = Density_FirstLogitTerms(node->likelihood, terms, 0.0, gathered);
    EXPECT_EQ(std::bit_cast<uint64_t>(first), std::bit_cast<uint64_t>(fresh)) << k.node << " " << k.extra;
    EXPECT_EQ(gathered, k.gathered) << k.node << " " << k.extra;
    Determ_fastLinear = true;
    for (double t : {-3.7, -0.2, 0.0, 0.6, 4.1, 55.0}) {
      Graph_Own(node) = t;
      const double oneByOne = TermByTerm(node);
      if (!gathered) continue;
      const double summed = Density_SumLogitTerms(terms, t, 0.0);
      EXPECT_NEAR(summed, oneByOne, 1.0E-14 * (1.0 + std::fabs(oneByOne))) << k.node << " at " << t;
    }
    Determ_fastLinear = false;
    Determ_activeNode = nullptr;
    TearDown();
    SetUp();
  }
}

// The fast path sums the terms' logarithms through their product, which
// must agree with the terms summed one by one in long double: for lists
// shorter and longer than one run of the product, a product far beyond the
// range of a double (thousands of factors near 2), predictors out where
// e^-|eta| underflows, infinite ones, and one that is not a number, which
// rules the value out as a term read alone does.
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
  struct Case {
    size_t count;
    double spread;  // partials run evenly over [-spread, spread]
    double t;
    const char* what;
  };
  const Case cases[] = {
      {0, 0.0, 0.3, "no terms"},         {1, 0.0, -0.7, "one term"},
      {15, 2.0, 0.4, "under one run"},   {16, 3.0, -1.1, "one run"},
      {17, 4.0, 0.9, "one run and one"}, {3000, 0.01, 0.0, "product of 3000 factors near 2"},
      {500, 900.0, 2.5, "underflowing e^-|eta|"}, {2000, 6.0, 0.05, "a long list"},
  };
  for (const Case& c : cases) {
    Density_LogitTerms terms;
    for (size_t i = 0; i < c.count; ++i) {
      const double r = c.count > 1 ? static_cast<double>(i) / static_cast<double>(c.count - 1) : 0.5;
      terms.partial.push_back(c.spread * (2.0 * r - 1.0));
      terms.factor.push_back(i % 3 == 0 ? 1.0 : -0.5 + 0.25 * static_cast<double>(i % 7));
      terms.complement.push_back(i % 2 == 0 || i % 5 == 0);
    }
    const double expected = reference(terms, c.t);
    const double h = 2.5;
    EXPECT_NEAR(Density_SumLogitTerms(terms, c.t, h), h + expected, 1.0E-14 * (1.0 + std::fabs(expected))) << c.what;
  }
  const double inf = std::numeric_limits<double>::infinity();
  struct Extreme {
    double partial;
    bool complement;
    double expected;
  };
  const Extreme extremes[] = {
      {inf, false, 0.0}, {inf, true, -inf}, {-inf, false, -inf}, {-inf, true, 0.0},
      {std::numeric_limits<double>::quiet_NaN(), false, -inf},
  };
  for (const Extreme& e : extremes) {
    Density_LogitTerms terms;
    terms.partial = {0.5, e.partial, -0.25};
    terms.factor = {1.0, 1.0, 1.0};
    terms.complement = {0, static_cast<uint8_t>(e.complement), 1};
    const double rest = -std::log1p(std::exp(-0.5)) - std::log1p(std::exp(-0.25));
    const double sum = Density_SumLogitTerms(terms, 0.0, 0.0);
    if (e.expected == -inf) {
      EXPECT_EQ(sum, -inf) << e.partial << (e.complement ? " observed 0" : " observed 1");
    } else {
      EXPECT_NEAR(sum, e.expected + rest, 1.0E-15) << e.partial << (e.complement ? " observed 0" : " observed 1");
    }
  }
}


}  // namespace

// Every term whose parameter is a link of a linear predictor is computed
// from the predictor alone, finishing only the logarithms its count needs.
// Over a table of links, distributions, counts and predictors out to where
// the proportion or mean underflows or overflows, it must give the number
// the same link computed by the interpreter gives (the value formed, its
// logs read from the link's trace) to the bit, and the closed form of its
// log density to rounding.
TEST_F(DensityTest, LinkedTermsAgreeWithTheirLogDensityFromTheLinksValue) {
  const std::vector<TermCase> proportionTerms = {
      {Distrib_dbern, 0.0, 0.0, "dbern 0"},    {Distrib_dbern, 1.0, 0.0, "dbern 1"},
      {Distrib_dbin, 0.0, 7.0, "dbin 0 of 7"}, {Distrib_dbin, 3.0, 7.0, "dbin 3 of 7"},
      {Distrib_dbin, 7.0, 7.0, "dbin 7 of 7"}, {Distrib_dgeom, 1.0, 0.0, "dgeom 1"},
      {Distrib_dgeom, 4.0, 0.0, "dgeom 4"},    {Distrib_dnegbin, 0.0, 2.5, "dnegbin 0"},
      {Distrib_dnegbin, 3.0, 2.5, "dnegbin 3"},
  };
  const std::vector<TermCase> meanTerms = {{Distrib_dpois, 0.0, 0.0, "dpois 0"}, {Distrib_dpois, 5.0, 0.0, "dpois 5"}};
  struct LinkCase {
    int32_t op;
    std::vector<double> etas;
    double tolerance;  // relative, against the reference
  };
  const std::vector<double> wide = {-800.0, -745.5, -40.0, -20.0, -3.0, -0.5, 0.0, 0.5, 3.0, 20.0, 36.0, 40.0, 800.0};
  // The probit's tail comes from an approximation good to about 1.2E-7.
  const LinkCase links[] = {{10, wide, 4e-16},
                            {9, wide, 4e-16},
                            {19, {-30.0, -8.0, -3.0, -0.5, 0.0, 0.5, 3.0, 8.0, 30.0}, 2e-7},
                            {8, {-700.0, -20.0, -0.5, 0.0, 0.5, 20.0, 700.0}, 4e-16}};
  for (const LinkCase& link : links) {
    Graph_Node* eta = Node(0.0);
    Graph_Node* form = Logical({24, link.op, 21}, {eta});
    Graph_Node* interpreted = Logical({24, link.op, 21}, {eta});
    interpreted->kind = Graph_data;  // stays interpreted
    Determ_OptDeterm();
    ASSERT_TRUE(form->valueFunction != interpreted->valueFunction);
    const bool mean = link.op == 8;
    for (const TermCase& c : mean ? meanTerms : proportionTerms) {
      Nodes fast{form}, slow{interpreted};
      if (c.density == Distrib_dbin || c.density == Distrib_dnegbin) {
        fast.push_back(Data(c.size));
        slow.push_back(Data(c.size));
      }
      Graph_Node* term = Dist(c.density, c.value, fast, Graph_data);
      Graph_Node* twin = Dist(c.density, c.value, slow, Graph_data);
      Density_SetDensity();
      for (double x : link.etas) {
        Graph_Own(eta) = x;
        const double got = term->logDensity(term), twinValue = twin->logDensity(twin);
        const double expected = Expected(c, Reference(link.op, x), x);
        SCOPED_TRACE(std::string(c.name) + " link op " + std::to_string(link.op) + " eta " + std::to_string(x));
        EXPECT_EQ(got, twinValue);
        if (std::isfinite(expected)) {
          EXPECT_NEAR(got, expected, link.tolerance * std::max(1.0, std::fabs(expected)));
        } else {
          EXPECT_EQ(got, expected);
        }
      }
    }
  }
}
