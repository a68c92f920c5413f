#include "sampling/ConjDist.h"

#include <array>
#include <cmath>
#include <string>

#include "Pipeline.h"
#include "graph/Determ.h"
#include "numerics/MatrixAl.h"

namespace {

using Pair = std::array<double, 2>;
using Scalar = void (*)(Graph_Node*, double&, double&);

class ConjDistTest : public test::Pipeline {
 protected:
  void Model(const std::string& model, const std::string& data, const std::string& inits = "") {
    ASSERT_TRUE(Build(model, data, inits)) << Console();
  }
  // The factored 2 x 2 precision U (through U'U) and the mean of a normal block.
  static void ExpectScalar(Scalar procedure, Graph_Node* x, Pair expected) {
    Pair got{};
    procedure(x, got[0], got[1]);
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(got[i], expected[i], 1e-12) << x->label << " " << i;
  }
  template <typename Procedure>
  static void ExpectBlock(Procedure procedure, Graph_Node* x, std::array<double, 3> P, Pair mean) {
    Pair mu{};
    std::array<double, 4> U{};
    ASSERT_TRUE(procedure(x, mu, U));
    const double got[] = {U[0] * U[0], U[0] * U[1], U[1] * U[1] + U[3] * U[3], mu[0], mu[1]};
    const double want[] = {P[0], P[1], P[2], mean[0], mean[1]};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(got[i], want[i], 1e-12) << i;
  }
  // The degrees of freedom and the 2 x 2 scale (inverted) of a Wishart full conditional.
  static void ExpectWishart(Graph_Node* W, double degrees, const std::array<double, 4>& scale) {
    double k = 0.0;
    std::array<double, 4> R{}, inverse{1.0, 0.0, 0.0, 1.0};
    ASSERT_TRUE(ConjDist_WishartParameters(W, k, R));
    EXPECT_EQ(k, degrees);
    MatrixAl_SimilarityTransform(R.data(), inverse.data(), 2);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(inverse[i], scale[i], 1e-12) << i;
  }
};

const std::string T2 = "T = structure(.Data = c(2, 0.5, 0.5, 1), .Dim = c(2, 2)), mu = c(1, -1)";

// Each scalar conjugate full conditional's two parameters, in the order returned.
TEST_F(ConjDistTest, ScalarParametersAddUpTheirTerms) {
  const std::string gamma =
      "var x, y[2], t, z, s, s4, w, v, e, a, b, c, g, q, r;\n"
      "{ x ~ dgamma(1, 1) for (i in 1:2) { y[i] ~ dpois(x) } t ~ dgamma(2, 1) z ~ dnorm(0, t)\n"
      "  s ~ dgamma(1, 1) s4 <- 4 * s w ~ dnorm(1, s4) v ~ dlnorm(0, s)\n"
      "  e ~ dexp(2) a ~ dexp(e) b ~ dgamma(3, e) c ~ ddexp(1, e) g ~ dweib(2, e) q ~ dchisq(4) r ~ dexp(q) }";
  const char* gammaData = "list(y = c(2, 3), z = 2, w = 2, v = 5, a = 0.5, b = 2, c = -1, g = 3, r = 1)";
  const std::string beta =
      "var p, r, q, s, g, k, h, m;\n{ p ~ dbeta(1, 1) r ~ dbin(p, 10) q ~ dunif(0, 1) s ~ dbern(q)\n"
      "  g ~ dbeta(2, 2) k ~ dgeom(g) h ~ dbeta(1, 1) m ~ dnegbin(h, 3) }";
  const std::string normal =
      "var x, mx, y, l, ly, th, u[2];\n{ x ~ dnorm(0, 1) mx <- 2 * x + 1 y ~ dnorm(mx, 0.5) l ~ dnorm(0, 1)"
      " ly ~ dlnorm(l, 2) th ~ dpar(1, 2) for (i in 1:2) { u[i] ~ dunif(0, th) } }";
  const char* normalData = "list(y = 4, ly = 4.4816890703380645, u = c(3, 5))";
  // left: the value the probe leaves, where checked.
  const struct { const std::string& model; const char *data, *node; Scalar procedure; Pair expected; double left = NAN; }
      cases[] = {
      {gamma, gammaData, "x", ConjDist_GammaParameters, {6.0, 3.0}},
      {gamma, gammaData, "t", ConjDist_GammaParameters, {2.5, 3.0}},
      // The precision 4 s enters with coefficient 4; the log-normal term with ln 5.
      {gamma, gammaData, "s", ConjDist_GammaParameters, {2.0, 3.0 + 0.5 * std::log(5.0) * std::log(5.0)}},
      {gamma, gammaData, "e", ConjDist_GammaParameters, {7.0, 2.0 + 0.5 + 2.0 + 2.0 + 9.0}},
      {gamma, gammaData, "q", ConjDist_GammaParameters, {3.0, 1.5}},
      {beta, "list(r = 3, s = 1, k = 4, m = 5)", "p", ConjDist_BetaParameters, {4.0, 8.0}},
      {beta, "list(r = 3, s = 1, k = 4, m = 5)", "q", ConjDist_BetaParameters, {2.0, 1.0}},
      {beta, "list(r = 3, s = 1, k = 4, m = 5)", "g", ConjDist_BetaParameters, {3.0, 5.0}},  // 4 trials, 1 success
      {beta, "list(r = 3, s = 1, k = 4, m = 5)", "h", ConjDist_BetaParameters, {4.0, 6.0}},
      {normal, normalData, "x", ConjDist_NormalParameters, {1.0, 3.0}, 0.0},
      {normal, normalData, "l", ConjDist_NormalParameters, {1.0, 3.0}},  // ln y = 1.5
      {normal, normalData, "th", ConjDist_ParetoParameters, {5.0, 3.0}},
  };
  for (const auto& c : cases) {
    Model(c.model, c.data, "list(th = 6)");
    ExpectScalar(c.procedure, N(c.node), c.expected);
    EXPECT_TRUE(std::isnan(c.left) || Graph_Own(N(c.node)) == c.left) << c.node << " left " << Graph_Own(N(c.node));
  }
  // A flat prior and a term whose mean does not hold the node: no precision, so no mean.
  Model("var u, v; { u ~ dunif(0, 1) v ~ dnorm(0, u) }", "list(v = 1)");
  Pair u{};
  ConjDist_NormalParameters(N("u"), u[0], u[1]);
  EXPECT_EQ(u[1], 0.0);
  EXPECT_TRUE(std::isnan(u[0]));
}

TEST_F(ConjDistTest, FastLinearPathAgreesWithFullEvaluation) {
  Model("var a, b, c, y[5], z[5], w[5], mu[5];\n"
        "{ a ~ dnorm(0, 1) b ~ dnorm(0, 1) c ~ dnorm(0, 1)\n"
        "  for (i in 1:5) { mu[i] <- a + b * z[i] + c * w[i] y[i] ~ dnorm(mu[i], 2) } }",
        "list(y = c(1, -2, 0.5, 3, 1.5), z = c(1.5, 2, -0.75, 0.5, 3), w = c(2, -0.5, 1.25, -1.5, 0.25))");
  const std::array<const char*, 3> names{"a", "b", "c"};
  const std::array<double, 3> start{0.5, 0.3, -1.0};
  auto at = [&](int k) {
    for (int j = 0; j < 3; ++j) Graph_Own(N(names[j])) = start[j];
    Pair r{};
    ConjDist_NormalParameters(N(names[k]), r[0], r[1]);
    return r;
  };
  std::array<Pair, 3> before;
  for (int k = 0; k < 3; ++k) before[k] = at(k);
  // b: precision 1 + 2 sum z^2, weighted mean 2 sum z (y - a - c w).
  double precision = 1.0, m = 0.0;
  for (int i = 0; i < 5; ++i) {
    const double z = Graph_Own(N("z", i));
    precision += 2.0 * z * z;
    m += 2.0 * z * (Graph_Own(N("y", i)) - start[0] - start[2] * Graph_Own(N("w", i)));
  }
  EXPECT_NEAR(before[1][1], precision, 1e-12);
  EXPECT_NEAR(before[1][0], m / precision, 1e-12);
  Determ_OptDeterm();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(N("mu", i)->numParents, 5);  // large enough to cache
  for (int k : {1, 2, 0, 1})
    for (int i : {0, 1}) EXPECT_NEAR(at(k)[i], before[k][i], 1e-12) << k;
  EXPECT_FALSE(Determ_fastLinear);
  Graph_Own(N("b")) = 0.3;
  EXPECT_NEAR(N("mu")->valueFunction(N("mu")), 0.5 + 0.3 * 1.5 - 2.0, 1e-12);
}

TEST_F(ConjDistTest, NormalFromMultivariateTermsAndPriors) {
  Model("var m[2], S[2, 2], v[2], x[2], mu[2], T[2, 2], y1, y2;\n"
        "{ m[1] ~ dnorm(0, 1) m[2] ~ dnorm(0, 1) v[1:2] ~ dmnorm(m[], S[, ])\n"
        "  x[1:2] ~ dmnorm(mu[], T[, ]) y1 ~ dnorm(x[1], 2) y2 ~ dnorm(x[2], 5) }",
        "list(S = structure(.Data = c(2, 1, 1, 3), .Dim = c(2, 2)), v = c(1, 2), y1 = 1, y2 = 1, " + T2 + ")",
        "list(m = c(0.3, 0.5), x = c(3, 1))");
  // m[1] in the mean of v: precision 1 + 2, slope 2 * 1 + 1 * (2 - 0.5). x[1] given x[2] = 1:
  // prior 2 and 2 - 0.5 * 2, term 2 and 2 (x[2]'s term is not x[1]'s); x[2] given x[1] = 3 likewise.
  const std::pair<Graph_Node*, Pair> cases[] = {
      {N("m"), {3.5 / 3.0, 3.0}}, {N("x", 0), {3.0 / 4.0, 4.0}}, {N("x", 1), {3.0 / 6.0, 6.0}}};
  for (const auto& [node, expected] : cases) ExpectScalar(ConjDist_NormalParameters, node, expected);
  EXPECT_EQ(Graph_Own(N("m")), -1.0);
}

TEST_F(ConjDistTest, NormalBlockRefusalsChangeNothing) {
  Model("var x[2], mu[2], T[2, 2], z[2], S[2, 2]; { x[1:2] ~ dmnorm(mu[], T[, ]) z[1:2] ~ dmnorm(x[], S[, ]) }",
        "list(z = c(1, 2), S = structure(.Data = c(1, 0, 0, 2), .Dim = c(2, 2)), " + T2 + ")");
  // A matrix span too short, a precision not positive definite.
  Pair mu{1.0, 2.0};
  std::array<double, 4> U{3.0, 4.0, 5.0, 6.0};
  EXPECT_FALSE(ConjDist_MNormal2Parameters(N("x"), mu, std::span<double>(U).first(3)));
  Graph_Own(N("S", 3)) = -10.0;
  EXPECT_FALSE(ConjDist_MNormal2Parameters(N("x"), mu, U));
  EXPECT_EQ(mu, (Pair{1.0, 2.0}));
  EXPECT_EQ(U, (std::array<double, 4>{3.0, 4.0, 5.0, 6.0}));
  // A block beyond the order limit is refused.
  std::string zeros = "c(0", identity = "c(1";
  for (int i = 1; i < 26; ++i) zeros += ", 0";
  for (int i = 1; i < 26 * 26; ++i) identity += i % 27 == 0 ? ", 1" : ", 0";
  Model("var x[26], mu[26], T[26, 26]; { x[1:26] ~ dmnorm(mu[], T[, ]) }",
        "list(mu = " + zeros + "), T = structure(.Data = " + identity + "), .Dim = c(26, 26)))", "list(x = " + zeros + "))");
  std::array<double, 26> b{};
  std::array<double, 26 * 26> P{};
  EXPECT_FALSE(ConjDist_MNormalPrior(N("x"), b, P));
  EXPECT_FALSE(ConjDist_MNormal1Parameters(N("x"), b, P));
  EXPECT_EQ(P[0], 0.0);
}

// Terms that take turns between two precision matrices, named or picked by
// an unknown index: the likelihood list holds z[1], z[4], z[3], z[2], whose
// precisions are S1, S1, S2, S1. P = T + 3 S1 + S2 and
// b = T mu + S1 (z1 + z2 + z4) + S2 z3 = (1.5, -0.5) + (0, 8) + (5, 0).
TEST_F(ConjDistTest, MeanTermsEachTakeTheirOwnPrecision) {
  const std::string z = "z = structure(.Data = c(1, 2, 0, 1, 2, -1, -1, 1), .Dim = c(4, 2))";
  const Pair mean{(9.0 * 6.5 - 1.5 * 7.5) / 69.75, (8.0 * 7.5 - 1.5 * 6.5) / 69.75};
  Model("var x[2], mu[2], T[2, 2], z[4, 2], S1[2, 2], S2[2, 2];\n"
        "{ x[1:2] ~ dmnorm(mu[], T[, ]) z[1, 1:2] ~ dmnorm(x[], S1[, ]) z[2, 1:2] ~ dmnorm(x[], S1[, ])\n"
        "  z[3, 1:2] ~ dmnorm(x[], S2[, ]) z[4, 1:2] ~ dmnorm(x[], S1[, ]) }",
        "list(" + z + ", S1 = structure(.Data = c(1, 0, 0, 2), .Dim = c(2, 2)), " +
            "S2 = structure(.Data = c(3, 1, 1, 2), .Dim = c(2, 2)), " + T2 + ")");
  ExpectBlock(ConjDist_MNormal2Parameters, N("x"), {8.0, 1.5, 9.0}, mean);
  Model("var x[2], mu[2], T[2, 2], z[4, 2], Q[2, 2, 2], g[4], p[2];\n"
        "{ x[1:2] ~ dmnorm(mu[], T[, ]) for (i in 1:4) { g[i] ~ dcat(p[]) z[i, 1:2] ~ dmnorm(x[], Q[g[i], , ]) } }",
        "list(" + z + ", Q = structure(.Data = c(1, 0, 0, 2, 3, 1, 1, 2), .Dim = c(2, 2, 2)), p = c(0.5, 0.5), " + T2 + ")",
        "list(g = c(1, 1, 2, 1))");
  ExpectBlock(ConjDist_MNormal2Parameters, N("x"), {8.0, 1.5, 9.0}, mean);
  // Every term moved to Q[2, , ]: P = T + 4 S2, b = T mu + S2 (2, 3) = (10.5, 7.5).
  Graph_Own(N("g", 0)) = Graph_Own(N("g", 1)) = Graph_Own(N("g", 3)) = 2.0;
  ExpectBlock(ConjDist_MNormal2Parameters, N("x"), {14.0, 4.5, 9.0},
              {(9.0 * 10.5 - 4.5 * 7.5) / 105.75, (14.0 * 7.5 - 4.5 * 10.5) / 105.75});
}

// Means picked by an unknown index, taking turns in the likelihood list
// (v[1], v[4], v[3], v[2] with means m[1, ], m[1, ], m[2, ], m[1, ]):
// residuals (2, 2), (-1, 1), (1, -1), (1, -1), so the scale is [8 1; 1 8].
TEST_F(ConjDistTest, WishartAndDirichletCountTheirTerms) {
  const std::string I2 = "structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2))";
  Model("var W[2, 2], R[2, 2], v[4, 2], m[2, 2], h[4], p[2];\n"
        "{ W[, ] ~ dwish(R[, ], 3) for (i in 1:4) { h[i] ~ dcat(p[]) v[i, 1:2] ~ dmnorm(m[h[i], ], W[, ]) } }",
        "list(R = " + I2 + ", p = c(0.5, 0.5), m = structure(.Data = c(0, 1, 2, -1), .Dim = c(2, 2)), "
        "v = structure(.Data = c(2, 3, 1, 0, 3, -2, -1, 2), .Dim = c(4, 2)))",
        "list(W = " + I2 + ", h = c(1, 1, 2, 1))");
  ExpectWishart(N("W"), 7.0, {8.0 / 63, -1.0 / 63, -1.0 / 63, 8.0 / 63});
  Model("var p[3], q[3], a[3], c[3], n[3];\n"
        "{ p[1:3] ~ ddirch(a[]) for (i in 1:3) { c[i] ~ dcat(p[]) } q[1:3] ~ ddirch(a[]) n[1:3] ~ dmulti(q[], 4) }",
        "list(a = c(1, 1, 1), c = c(1, 3, 3), n = c(1, 2, 1))");
  std::array<double, 3> alpha{};
  ASSERT_TRUE(ConjDist_DirechletParameters(N("p"), alpha));
  EXPECT_EQ(alpha, (std::array<double, 3>{2.0, 1.0, 3.0}));
  ASSERT_TRUE(ConjDist_DirechletParameters(N("q"), alpha));
  EXPECT_EQ(alpha, (std::array<double, 3>{2.0, 3.0, 2.0}));
  EXPECT_FALSE(ConjDist_DirechletParameters(N("p"), std::span<double>(alpha).first(2)));
  EXPECT_EQ(alpha, (std::array<double, 3>{2.0, 3.0, 2.0}));
}

}  // namespace
