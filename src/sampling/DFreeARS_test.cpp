#include "sampling/DFreeARS.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Hooks.h"
#include "Pipeline.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "sampling/GibbsSam.h"
#include "sampling/Samplers.h"
#include "store/Distrib.h"

namespace {

// --- Exact answers and Monte Carlo errors -------------------------------------

// Mean and variance of a density on [lo, hi] known by its logarithm, by
// Simpson's rule.
struct Moments {
  double mean = 0.0, var = 0.0;
};
Moments Exact(const std::function<double(double)>& logf, double lo, double hi, int n = 4000) {
  const double h = (hi - lo) / n;
  double top = -INFINITY;
  for (int i = 0; i <= n; ++i) top = std::max(top, logf(lo + i * h));
  double m0 = 0.0, m1 = 0.0, m2 = 0.0;
  for (int i = 0; i <= n; ++i) {
    const double x = lo + i * h, w = (i == 0 || i == n ? 1.0 : i % 2 == 1 ? 4.0 : 2.0) * std::exp(logf(x) - top);
    m0 += w, m1 += w * x, m2 += w * x * x;
  }
  return {m1 / m0, m2 / m0 - (m1 / m0) * (m1 / m0)};
}

double Mean(const std::vector<double>& v) {
  double s = 0.0;
  for (double x : v) s += x;
  return s / static_cast<double>(v.size());
}

// The standard error of the mean of a series by batch means, which holds
// for the autocorrelated draws of a Gibbs sweep as for independent ones.
double BatchSe(const std::vector<double>& v, int batches = 40) {
  const size_t len = v.size() / static_cast<size_t>(batches);
  std::vector<double> means;
  for (int b = 0; b < batches; ++b)
    means.push_back(Mean(std::vector<double>(v.begin() + static_cast<long>(b * len),
                                             v.begin() + static_cast<long>((b + 1) * len))));
  const double m = Mean(means);
  double ss = 0.0;
  for (double x : means) ss += (x - m) * (x - m);
  return std::sqrt(ss / (batches - 1) / batches);
}

// Mean and variance of the draws within four standard errors of the exact ones.
void ExpectMoments(const std::vector<double>& x, Moments exact, const std::string& what) {
  const double m = Mean(x);
  std::vector<double> sq;
  for (double v : x) sq.push_back((v - m) * (v - m));
  EXPECT_NEAR(m, exact.mean, 4.0 * BatchSe(x)) << what;
  EXPECT_NEAR(Mean(sq), exact.var, 4.0 * BatchSe(sq)) << what;
}

// ln P(r | eta) of a logistic observation.
double Logistic(double r, double eta) { return r > 0.5 ? -std::log1p(std::exp(-eta)) : -std::log1p(std::exp(eta)); }

std::string List(const std::vector<std::pair<std::string, std::vector<double>>>& vars) {
  std::string s = "list(";
  for (size_t k = 0; k < vars.size(); ++k) {
    s += (k > 0 ? ", " : "") + vars[k].first + " = c(";
    for (size_t i = 0; i < vars[k].second.size(); ++i) s += (i > 0 ? ", " : "") + std::to_string(vars[k].second[i]);
    s += ")";
  }
  return s + ")";
}

// Twenty logistic observations on two covariates, with responses of both
// kinds at every covariate level so that no coefficient runs off.
const std::vector<double> z = {-1.9, -1.7, -1.5, -1.3, -1.1, -0.9, -0.7, -0.5, -0.3, -0.1,
                               0.1,  0.3,  0.5,  0.7,  0.9,  1.1,  1.3,  1.5,  1.7,  1.9};
const std::vector<double> w = {0.8, -0.9, 0.1, 0.7, -1.0, 0.3, 0.6, -0.8, 0.4, -0.5,
                               -0.9, 0.0, 0.9, -0.7, -0.2, 0.8, -0.6, -0.3, 0.9, -0.5};
const std::vector<double> r = {0, 0, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 1, 0, 1};

double LogisticLik(double a, double b, double c) {
  double s = 0.0;
  for (size_t i = 0; i < z.size(); ++i) s += Logistic(r[i], a + b * z[i] + c * w[i]);
  return s;
}

// A log density set by the test in place of a node's own.
std::function<double(double)> custom;
double Custom(Graph_Node* node) { return custom(Graph_Own(node)); }

class DFreeARSTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitDFreeARS();
    InitSamplers();
  }
  // Compiled like the compile command does, linear predictors optimised.
  void Model(const std::string& model, const std::string& data, const std::string& inits = "") {
    ASSERT_TRUE(Build(model, data, inits)) << Console();
    Determ_OptDeterm();
  }
  // n updates of one node, none of which may fail; each leaves the fast
  // path off and the active node as it was.
  std::vector<double> Run(Samplers_Proc update, const std::string& name, int n) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    std::vector<double> draws;
    for (int i = 0; i < n && !Samplers_StateOf(s).error; ++i) {
      update(s);
      draws.push_back(Graph_Own(s.node));
      EXPECT_FALSE(Determ_fastLinear);
      EXPECT_EQ(Determ_activeNode, nullptr);
    }
    EXPECT_FALSE(Samplers_StateOf(s).error) << name << Console();
    return draws;
  }
  // One update that must fail, with the value as it was and a report,
  // naming the node, that holds the text given.
  void ExpectFailure(Samplers_Proc update, Samplers_Sampler& s, const std::string& reason) {
    const double before = Graph_Own(s.node);
    update(s);
    EXPECT_TRUE(Samplers_StateOf(s).error);
    EXPECT_EQ(Graph_Own(s.node), before);
    EXPECT_FALSE(Determ_fastLinear);
    Samplers_ReportFailure();
    EXPECT_TRUE(Says(reason)) << Console();
    EXPECT_TRUE(Says(" for node: ")) << Console();
  }
};

// --- The point store and the envelope ------------------------------------------

TEST(DFreeARSPoints, FiftyPointsAtMostTheFiftyFirstDropsTheTopOne) {
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  const auto h = [](double x) { return -0.01 * x * x; };
  for (int k = 0; k < 50; ++k) EXPECT_EQ(DFreeARS_TestStore(k - 25.0, h(k - 25.0)), k + 1);
  // A point inside: stored in order, the top one (24) lost.
  EXPECT_EQ(DFreeARS_TestStore(0.5, h(0.5)), 50);
  double x = 0.0, y = 0.0;
  ASSERT_TRUE(DFreeARS_TestPoint(26, x, y));
  EXPECT_EQ(x, 0.5);
  ASSERT_TRUE(DFreeARS_TestPoint(49, x, y));
  EXPECT_EQ(x, 23.0);
  // A point above all of them takes the top place.
  EXPECT_EQ(DFreeARS_TestStore(30.0, h(30.0)), 50);
  ASSERT_TRUE(DFreeARS_TestPoint(49, x, y));
  EXPECT_EQ(x, 30.0);
  EXPECT_EQ(y, h(30.0));
  // A point on top of a stored one adds nothing.
  EXPECT_EQ(DFreeARS_TestStore(0.5, 7.0), 50);
  ASSERT_TRUE(DFreeARS_TestPoint(26, x, y));
  EXPECT_EQ(y, h(0.5));
}

TEST(DFreeARSPoints, LowEndsOnARisingSlopeBecomeBoundsAndInfiniteOnesEndTheSupport) {
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  for (double x : {-1.0, 0.0, 1.0}) DFreeARS_TestStore(x, -x * x);
  // 100 below the best at a rising left end: dropped, and the end is bounded there.
  EXPECT_EQ(DFreeARS_TestStore(-10.0, -100.0), 3);
  bool lower = false, upper = false;
  double lo = 0.0, hi = 0.0;
  DFreeARS_TestEnds(lower, lo, upper, hi);
  EXPECT_TRUE(lower);
  EXPECT_EQ(lo, -10.0);
  EXPECT_FALSE(upper);
  // The right end likewise.
  EXPECT_EQ(DFreeARS_TestStore(7.0, -49.0), 3);
  DFreeARS_TestEnds(lower, lo, upper, hi);
  EXPECT_TRUE(upper);
  EXPECT_EQ(hi, 7.0);
  // No trimming where the end does not rise: the second point is no lower
  // than the third.
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  for (double x : {0.0, 1.0, 2.0}) DFreeARS_TestStore(x, -x * x);
  EXPECT_EQ(DFreeARS_TestStore(-0.5, -60.0), 4);

  // A point of zero density beyond the stored ones ends the support there;
  // one between them, or a point beyond an end, adds nothing.
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  DFreeARS_TestStore(0.0, 0.0);
  DFreeARS_TestStore(1.0, -1.0);
  EXPECT_EQ(DFreeARS_TestStore(-2.0, -INFINITY), 2);
  EXPECT_EQ(DFreeARS_TestStore(0.5, -INFINITY), 2);
  EXPECT_EQ(DFreeARS_TestStore(3.0, -INFINITY), 2);
  EXPECT_EQ(DFreeARS_TestStore(4.0, -16.0), 2);
  EXPECT_EQ(DFreeARS_TestStore(-3.0, -9.0), 2);
  DFreeARS_TestEnds(lower, lo, upper, hi);
  EXPECT_TRUE(lower && upper);
  EXPECT_EQ(lo, -2.0);
  EXPECT_EQ(hi, 3.0);
}

TEST(DFreeARSPoints, EnvelopeOfATentIsInvertedExactly) {
  // Points of h = -|x| at -2, -1, 1, 2. The envelope is e^(x) left of -2,
  // flat at -1 from -2 to -1 (the chord through -1 and 1, extended), the
  // tent -|x| from -1 to 1, and the mirror image on the right: total area
  // 2 + 2 e^-2 free, 2 + 2 e^-3 with ends at -3 and 3.
  for (const bool bounded : {false, true}) {
    DFreeARS_TestReset(bounded, -3.0, bounded, 3.0);
    for (double x : {-2.0, -1.0, 1.0, 2.0}) DFreeARS_TestStore(x, -std::fabs(x));
    const double e1 = std::exp(-1.0), e2 = std::exp(-2.0), e3 = std::exp(-3.0);
    const double left = bounded ? e2 - e3 : e2, total = 2.0 + 2.0 * left;
    // Cumulative area below x on the left half, and its inverse.
    const auto quantile = [&](double p) {
      const double a = p * total;
      if (a < left) return std::log(a + (bounded ? e3 : 0.0));
      if (a < left + e1) return -2.0 + (a - left) / e1;
      return std::log(a - left);  // the rising side of the tent: left + e^-1 + (e^x - e^-1)
    };
    for (double p : {0.001, 0.02, 0.05, 0.1, 0.2, 0.3, 0.45, 0.5}) {
      EXPECT_NEAR(DFreeARS_TestQuantile(p), quantile(p), 1e-12) << p << (bounded ? " bounded" : " free");
      EXPECT_NEAR(DFreeARS_TestQuantile(1.0 - p), -quantile(p), 1e-12) << p << (bounded ? " bounded" : " free");
    }
  }
  // Fewer than three points make no envelope.
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  DFreeARS_TestStore(0.0, 0.0);
  DFreeARS_TestStore(1.0, -1.0);
  EXPECT_TRUE(std::isnan(DFreeARS_TestQuantile(0.5)));
}

// --- Draws compared with exact full conditionals -------------------------------

TEST_F(DFreeARSTest, StandardNormalDrawsAndTheirFirstCentiles) {
  Model("var x; { x ~ dnorm(0, 1) }", "", "list(x = 0.3)");
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("x");
  DFreeARS_FullArs(s);
  ASSERT_FALSE(Samplers_StateOf(s).error);
  ASSERT_TRUE(Samplers_StateOf(s).haveCentiles);
  // The envelope's 12.5, 40, 60 and 87.5 % points, near the normal ones
  // (the envelope's tails are the heavier).
  const std::array<double, 4> normal = {-1.1503, -0.2533, 0.2533, 1.1503};
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(Samplers_StateOf(s).centiles[i], normal[i], 0.35) << i;
  ExpectMoments(Run(DFreeARS_FullArs, "x", 20000), {0.0, 1.0}, "standard normal");
}

TEST_F(DFreeARSTest, LogisticRegressionCoefficients) {
  // Three coefficients, so that the linear predictor has five parents and
  // takes the fast path while one coefficient is updated.
  Model("var a, b, c, p[20], r[20], z[20], w[20];\n"
        "{ a ~ dnorm(0, 0.1) b ~ dnorm(0, 0.1) c ~ dnorm(0, 0.1)\n"
        "  for (i in 1:20) { logit(p[i]) <- a + b * z[i] + c * w[i] r[i] ~ dbern(p[i]) } }",
        List({{"r", r}, {"z", z}, {"w", w}}), "list(a = 0.3, b = 0.5, c = -0.4)");
  ASSERT_EQ(N("p")->numParents, 5);  // two product pairs and the intercept,
  ASSERT_EQ(N("p")->stack[0], Determ_ilogit);  // rewritten as a linear form
  // One conditional: b with a and c held.
  const auto condB = [](double b) { return -0.05 * b * b + LogisticLik(0.3, b, -0.4); };
  ExpectMoments(Run(DFreeARS_FullArs, "b", 4000), Exact(condB, -15.0, 15.0), "b given a and c");

  // Two coefficients, Gibbs-style, against their joint posterior with c held.
  Samplers_Sampler &sa = Samplers_Add(), &sb = Samplers_Add();
  sa.node = N("a");
  sb.node = N("b");
  std::vector<double> as, bs;
  for (int i = 0; i < 6000; ++i) {
    DFreeARS_FullArs(sa);
    DFreeARS_FullArs(sb);
    ASSERT_FALSE(Samplers_StateOf(sa).error || Samplers_StateOf(sb).error) << Console();
    as.push_back(Graph_Own(N("a")));
    bs.push_back(Graph_Own(N("b")));
  }
  const int n = 300;
  const double lo = -8.0, step = 16.0 / n;
  std::vector<double> joint;
  double top = -INFINITY;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      const double a = lo + i * step, b = lo + j * step;
      joint.push_back(-0.05 * (a * a + b * b) + LogisticLik(a, b, -0.4));
      top = std::max(top, joint.back());
    }
  double m0 = 0, ma = 0, mb = 0, maa = 0, mbb = 0;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      const double a = lo + i * step, b = lo + j * step;
      const double wgt = std::exp(joint[static_cast<size_t>(i * (n + 1) + j)] - top);
      m0 += wgt, ma += wgt * a, mb += wgt * b, maa += wgt * a * a, mbb += wgt * b * b;
    }
  ExpectMoments(as, {ma / m0, maa / m0 - (ma / m0) * (ma / m0)}, "a, joint");
  ExpectMoments(bs, {mb / m0, mbb / m0 - (mb / m0) * (mb / m0)}, "b, joint");
}

TEST_F(DFreeARSTest, PoissonAndExponentialLinksUnderNormalPriors) {
  const std::vector<double> y = {1, 0, 2, 4, 3, 7, 5, 9};
  const std::vector<double> t = {-1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.0};
  Model("var a, b, m[8], y[8], t[8], x, e, n[8];\n"
        "{ a ~ dnorm(0, 1) b ~ dnorm(0, 1) for (i in 1:8) { log(m[i]) <- a + b * t[i] y[i] ~ dpois(m[i]) }\n"
        "  x ~ dnorm(0.5, 4) e <- exp(x) for (i in 1:8) { n[i] ~ dpois(e) } }",
        List({{"y", y}, {"t", t}, {"n", y}}), "list(a = 0.8, b = 0)");
  // A log-link regression coefficient, the intercept held.
  const auto condB = [&](double b) {
    double s = -0.5 * b * b;
    for (size_t i = 0; i < y.size(); ++i) s += y[i] * (0.8 + b * t[i]) - std::exp(0.8 + b * t[i]);
    return s;
  };
  ExpectMoments(Run(DFreeARS_FullArs, "b", 4000), Exact(condB, -6.0, 6.0), "log-link coefficient");
  // A normal prior on a log-rate: the node's own term is formed inline.
  const auto condX = [](double x) { return -2.0 * (x - 0.5) * (x - 0.5) + 31.0 * x - 8.0 * std::exp(x); };
  ExpectMoments(Run(DFreeARS_FullArs, "x", 4000), Exact(condX, -6.0, 6.0), "normal prior, Poisson rate");
}

TEST_F(DFreeARSTest, TruncatedSupportsOnEitherSideAndBoth) {
  // Standard normal priors with one logistic likelihood, truncated: above
  // 0.5; above 2.5, where the full conditional falls from the bound; below
  // -0.2; within (-0.5, 0.7); and within the narrow (1.5, 1.52).
  std::string body;
  const std::vector<std::string> names = {"x1", "x2", "x3", "x4", "x5"};
  const std::vector<std::string> bounds = {"I(0.5, )", "I(2.5, )", "I(, -0.2)", "I(-0.5, 0.7)", "I(1.5, 1.52)"};
  for (size_t k = 0; k < names.size(); ++k)
    body += names[k] + " ~ dnorm(0, 1) " + bounds[k] + " for (i in 1:20) { logit(p" + names[k] + "[i]) <- " +
            names[k] + " * z[i] r" + names[k] + "[i] ~ dbern(p" + names[k] + "[i]) }\n";
  std::string decl = "var z[20]";
  for (const auto& n : names) decl += ", " + n + ", p" + n + "[20], r" + n + "[20]";
  std::vector<std::pair<std::string, std::vector<double>>> data = {{"z", z}};
  for (const auto& n : names) data.push_back({"r" + n, r});
  Model(decl + "; {\n" + body + "}", List(data), "list(x1 = 1, x2 = 3, x3 = -1, x4 = 0, x5 = 1.51)");
  const auto cond = [](double x) { return -0.5 * x * x + LogisticLik(0.0, x, 0.0); };
  const struct {
    Samplers_Proc update;
    const char* node;
    double lo, hi;
  } cases[] = {{DFreeARS_LTruncArs, "x1", 0.5, 12.0},  {DFreeARS_LTruncArs, "x2", 2.5, 14.0},
               {DFreeARS_RTruncArs, "x3", -12.0, -0.2}, {DFreeARS_TruncArs, "x4", -0.5, 0.7},
               {DFreeARS_TruncArs, "x5", 1.5, 1.52}};
  for (const auto& c : cases) {
    const std::vector<double> draws = Run(c.update, c.node, 3000);
    EXPECT_GE(*std::min_element(draws.begin(), draws.end()), c.lo) << c.node;
    EXPECT_LE(*std::max_element(draws.begin(), draws.end()), c.hi) << c.node;
    ExpectMoments(draws, Exact(cond, c.lo, c.hi), c.node);
  }
}

TEST_F(DFreeARSTest, PriorsWithSupportsOfTheirOwn) {
  Model("var p, q[20], r[20], z[20], g, e, y[4], u, v[20], r2[20];\n"
        "{ p ~ dbeta(2, 3) for (i in 1:20) { logit(q[i]) <- p * z[i] r[i] ~ dbern(q[i]) }\n"
        "  g ~ dgamma(2, 1) e <- exp(g) for (i in 1:4) { y[i] ~ dpois(e) }\n"
        "  u ~ dunif(-1, 2) for (i in 1:20) { logit(v[i]) <- u * z[i] r2[i] ~ dbern(v[i]) } }",
        List({{"r", r}, {"z", z}, {"y", {1, 2, 0, 3}}, {"r2", r}}), "list(p = 0.5, g = 1, u = 0)");
  // A beta prior with a logistic likelihood, on (0, 1); no bound parents.
  const auto condP = [](double p) {
    return p > 0.0 && p < 1.0 ? std::log(p) + 2.0 * std::log(1.0 - p) + LogisticLik(0.0, p, 0.0) : -INFINITY;
  };
  const std::vector<double> ps = Run(DFreeARS_TruncArs, "p", 4000);
  EXPECT_GT(*std::min_element(ps.begin(), ps.end()), 0.0);
  EXPECT_LT(*std::max_element(ps.begin(), ps.end()), 1.0);
  ExpectMoments(ps, Exact(condP, 0.0, 1.0), "beta prior");
  // A gamma(2, 1) prior under a Poisson rate e^g, above 0.
  const auto condG = [](double g) { return g > 0.0 ? std::log(g) - g + 6.0 * g - 4.0 * std::exp(g) : -INFINITY; };
  const std::vector<double> gs = Run(DFreeARS_LTruncArs, "g", 4000);
  EXPECT_GT(*std::min_element(gs.begin(), gs.end()), 0.0);
  ExpectMoments(gs, Exact(condG, 0.0, 8.0), "gamma prior");
  // A uniform prior, even under the whole-line procedure, keeps to its limits.
  const auto condU = [](double u) { return LogisticLik(0.0, u, 0.0); };
  const std::vector<double> us = Run(DFreeARS_FullArs, "u", 4000);
  EXPECT_GT(*std::min_element(us.begin(), us.end()), -1.0);
  EXPECT_LT(*std::max_element(us.begin(), us.end()), 2.0);
  ExpectMoments(us, Exact(condU, -1.0, 2.0), "uniform prior");
}

TEST_F(DFreeARSTest, HeavyTailsThroughATPrior) {
  // b ~ dt(0, 1, 5) is a normal whose precision is a hidden chi-square(5)
  // node over 5; the sweep updates both, and b's draws must follow the t
  // prior times the likelihood of three observations.
  Model("var b, p[3], r[3], z[3]; { b ~ dt(0, 1, 5) for (i in 1:3) { logit(p[i]) <- b * z[i] r[i] ~ dbern(p[i]) } }",
        "list(r = c(1, 1, 0), z = c(1, 0.5, -0.5))", "list(b = 0)");
  Samplers_Sampler &sb = Samplers_Add(), &sw = Samplers_Add();
  sb.node = N("b");
  for (int32_t k = 0; k < Graph_totalNumNodes; ++k)
    if (Graph_Node* n = Graph_Label(k); n != nullptr && n->density == Distrib_dchisq) sw.node = n;
  ASSERT_NE(sw.node, nullptr);
  std::vector<double> bs;
  for (int i = 0; i < 20000; ++i) {
    GibbsSam_Gamma(sw);
    DFreeARS_FullArs(sb);
    ASSERT_FALSE(Samplers_StateOf(sb).error || Samplers_StateOf(sw).error) << Console();
    bs.push_back(Graph_Own(N("b")));
  }
  const auto cond = [](double b) {
    return -3.0 * std::log1p(b * b / 5.0) + Logistic(1, b) + Logistic(1, 0.5 * b) + Logistic(0, -0.5 * b);
  };
  ExpectMoments(bs, Exact(cond, -300.0, 300.0, 60000), "t prior");
}

TEST_F(DFreeARSTest, FlatUnitIntervalAndASupportNarrowerThanTheBounds) {
  Model("var u, v; { u ~ dunif(0, 1) v ~ dbeta(1, 1) }", "", "list(u = 0.3, v = 0.92)");
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("u");
  DFreeARS_TruncArs(s);
  ASSERT_FALSE(Samplers_StateOf(s).error);
  ASSERT_TRUE(Samplers_StateOf(s).haveCentiles);
  const std::array<double, 4> flatCentiles = {0.15, 0.25, 0.75, 0.85};
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(Samplers_StateOf(s).centiles[i], flatCentiles[i], 1e-12);
  ExpectMoments(Run(DFreeARS_TruncArs, "u", 4000), {0.5, 1.0 / 12.0}, "flat");

  // Density only on (0.9, 0.95), not a number elsewhere: the points of zero
  // density close the support in, and the draws are uniform there.
  N("v")->logDensity = Custom;
  custom = [](double x) { return x > 0.9 && x < 0.95 ? 0.0 : NAN; };
  const std::vector<double> vs = Run(DFreeARS_TruncArs, "v", 3000);
  EXPECT_GT(*std::min_element(vs.begin(), vs.end()), 0.9);
  EXPECT_LT(*std::max_element(vs.begin(), vs.end()), 0.95);
  ExpectMoments(vs, {0.925, 0.05 * 0.05 / 12.0}, "uniform on (0.9, 0.95)");
}

// --- Failures --------------------------------------------------------------------

TEST_F(DFreeARSTest, WholeLineFailuresStopTheSweepWithTheReason) {
  Model("var x; { x ~ dlogis(0, 1) }", "", "list(x = 0)");
  N("x")->logDensity = Custom;
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("x");
  custom = [](double x) { return x; };  // rises for ever
  ExpectFailure(DFreeARS_FullArs, s, "Can not bracket mode of sampling density. The log full conditional still rose");
  Samplers_StateOf(s).error = false;
  custom = [](double x) { return -1.0E15 * x * x; };  // too narrow to locate in 50 steps
  ExpectFailure(DFreeARS_FullArs, s, "Can not locate mode of sampling density. 50 evaluations");
  Samplers_StateOf(s).error = false;
  custom = [](double) { return NAN; };
  ExpectFailure(DFreeARS_FullArs, s, "not a finite number at any point tried");
  Samplers_StateOf(s).error = false;
  custom = [](double) { return 0.0; };  // flat: no envelope falls away
  ExpectFailure(DFreeARS_FullArs, s, "does not fall away to the left");

  // A start from centiles costs five evaluations of a function that is
  // fine there; every candidate after them is 10^6 below: all rejected.
  Samplers_StateOf(s).error = false;
  Samplers_StateOf(s).centiles = {-2.0, -1.0, 1.0, 2.0};
  Samplers_StateOf(s).haveCentiles = true;
  int calls = 0;
  custom = [&calls](double x) { return ++calls <= 5 ? -9.9 * x * x : -1.0E6; };
  ExpectFailure(DFreeARS_FullArs, s, "Allowed number of function evaluations exceeded for ARS. All 50 candidates");
  EXPECT_EQ(calls, 55);
}

TEST_F(DFreeARSTest, BoundedFailuresFallBackToAMetropolisStep) {
  Model("var v, x, lo, hi; { v ~ dbeta(1, 1) x ~ dnorm(0, 1) I(lo, hi) }", "list(lo = -1, hi = 1)",
        "list(v = 0.5, x = 0.2)");
  // Each update's three starting points see no finite density, so its mode
  // cannot be found; the fall-back step then sees a Beta(4, 6) density.
  N("v")->logDensity = Custom;
  int calls = 0;
  custom = [&calls](double x) { return ++calls <= 3 ? NAN : 3.0 * std::log(x) + 5.0 * std::log(1.0 - x); };
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("v");
  std::vector<double> vs;
  for (int i = 0; i < 3000 && !Samplers_StateOf(s).error; ++i) {
    calls = 0;
    DFreeARS_TruncArs(s);
    vs.push_back(Graph_Own(N("v")));
    EXPECT_GT(calls, 256);  // the grid was built
  }
  ASSERT_FALSE(Samplers_StateOf(s).error) << Console();
  ExpectMoments(vs, {0.4, 0.24 / 11.0}, "fall-back Beta(4, 6)");

  // With no finite density anywhere even the fall-back fails.
  custom = [](double) { return NAN; };
  ExpectFailure(DFreeARS_TruncArs, s, "Nor had any point of the support (0, 1)");

  // Bounds that cross leave nothing to draw.
  Graph_Own(N("lo")) = 2.0;
  Samplers_Sampler& t = Samplers_Add();
  t.node = N("x");
  ExpectFailure(DFreeARS_TruncArs, t, "lower end 2 is not below its upper end 1");
}

}  // namespace
