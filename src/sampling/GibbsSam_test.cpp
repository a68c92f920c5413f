#include "sampling/GibbsSam.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "Pipeline.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "numerics/RandNum.h"

namespace {

class GibbsSamTest : public test::FrontEnd {
 protected:
  // Generates the nodes of a model whose parameters are all data.
  void Build(const std::string& model, const std::string& data) {
    Reset();
    InitCodeGen();
    InitDeterm();
    InitRandNum();
    test::WriteFile("d.dat", data);
    const size_t body = model.find('{');
    Parser_Tree* head = Compile("model m; " + model.substr(0, body) + " data in \"d.dat\";\n" + model.substr(body));
    ASSERT_NE(head, nullptr) << Console();
    CodeGen_WriteGraph(head);
    ASSERT_FALSE(CodeGen_error) << Console();
  }
  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }
};

TEST_F(GibbsSamTest, ChiSquareIsAGammaDraw) {
  Build("var x, k; { x ~ dchisq(k) }", "list(k = 4)");
  double sum = 0.0;
  const int draws = 20000;
  for (int i = 0; i < draws; ++i) {
    ASSERT_TRUE(GibbsSam_DirectSample(N("x")));
    sum += Graph_Own(N("x"));
  }
  EXPECT_NEAR(sum / draws, 4.0, 0.1);  // shape 2, rate 0.5
}

// Half the draws of gamma(0.001, 1) lie below the least positive double:
// every draw must still lie inside the support, above 0.
TEST_F(GibbsSamTest, VaguePositiveDrawsStayAboveZero) {
  Build("var g; { g ~ dgamma(0.001, 0.001) }", "list()");
  int tiny = 0;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(GibbsSam_DirectSample(N("g")));
    ASSERT_GT(Graph_Own(N("g")), 0.0);
    if (Graph_Own(N("g")) < 1.0E-300) ++tiny;
  }
  EXPECT_GT(tiny, 500);  // the case arises
}

TEST_F(GibbsSamTest, HypergeometricStartsAtZeroAndCategoriesAreLeftAlone) {
  Build("var h, c, p[3]; { h ~ dhypo(1, 2) c ~ dcat(p[]) }", "list(p = c(0.2, 0.3, 0.5))");
  Graph_Own(N("h")) = 7.0;
  Graph_Own(N("c")) = 2.0;
  for (const char* name : {"h", "c"}) ASSERT_TRUE(GibbsSam_DirectSample(N(name))) << name;
  EXPECT_EQ(Graph_Own(N("h")), 0.0);
  EXPECT_EQ(Graph_Own(N("c")), 2.0);
}

// A zipf prior is drawn from its own law: P(1) = 1 / zeta(a) and mean
// zeta(a - 1) / zeta(a).
TEST_F(GibbsSamTest, ZipfPriorDrawsFollowTheirLaw) {
  Build("var z; { z ~ dzipf(4) }", "list()");
  const auto zeta = [](double a) {
    double sum = 0.0;
    for (int k = 100000; k >= 1; --k) sum += std::pow(k, -a);
    return sum;
  };
  const int draws = 40000;
  double ones = 0.0, sum = 0.0;
  for (int i = 0; i < draws; ++i) {
    ASSERT_TRUE(GibbsSam_DirectSample(N("z")));
    const double z = Graph_Own(N("z"));
    ASSERT_TRUE(z >= 1.0 && z == std::floor(z)) << z;
    ones += z == 1.0;
    sum += z;
  }
  EXPECT_NEAR(ones / draws, 1.0 / zeta(4.0), 0.006);         // 0.9239, sd 0.0013
  EXPECT_NEAR(sum / draws, zeta(3.0) / zeta(4.0), 0.01);     // 1.1106, sd about 0.002
}

TEST_F(GibbsSamTest, BoundedDrawsMeetTheirBoundsOrGiveUp) {
  Build("var a, b, t; { a ~ dnorm(0, 1) I(1, ) b ~ dnorm(0, 1) I(-0.5, 0.5) t ~ dnorm(0, 1) I(40, ) }",
        "list(t = 0)");
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(GibbsSam_LDirectSample(N("a")));
    ASSERT_GE(Graph_Own(N("a")), 1.0);
    ASSERT_TRUE(GibbsSam_TDirectSample(N("b")));
    ASSERT_TRUE(Graph_Own(N("b")) >= -0.5 && Graph_Own(N("b")) <= 0.5);
  }
  // Forty standard deviations out no plain draw ever gets; the tail
  // draw does, within a few hundredths of the bound (the mean excess is
  // about 1 / 40).
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(GibbsSam_LDirectSample(N("t")));
    ASSERT_TRUE(Graph_Own(N("t")) >= 40.0 && Graph_Own(N("t")) < 40.5) << Graph_Own(N("t"));
  }
}

TEST_F(GibbsSamTest, WishartBlockIsASymmetricMatrixWithMeanKTimesTheInverse) {
  Build("var W[3, 3], R[3, 3]; { W[, ] ~ dwish(R[, ], 5) }",
        "list(R = structure(.Data = c(2, 0, 0, 0, 4, 0, 0, 0, 0.5), .Dim = c(3, 3)))");
  ASSERT_EQ(N("W")->size, 9);
  double mean[9] = {};
  const int draws = 20000;
  for (int n = 0; n < draws; ++n) {
    ASSERT_TRUE(GibbsSam_Wishart(N("W")));
    for (int i = 0; i < 9; ++i) mean[i] += Graph_Own(N("W", i)) / draws;
    ASSERT_EQ(Graph_Own(N("W", 1)), Graph_Own(N("W", 3)));
  }
  EXPECT_NEAR(mean[0], 2.5, 0.1);
  EXPECT_NEAR(mean[4], 1.25, 0.05);
  EXPECT_NEAR(mean[8], 10.0, 0.4);
  EXPECT_NEAR(mean[1], 0.0, 0.05);
}

TEST_F(GibbsSamTest, BlocksThatCannotBeDrawnAreRefused) {
  Build("var x[2], mu[2], T[2, 2]; { x[1:2] ~ dmnorm(mu[], T[,]) }",
        "list(mu = c(0, 1), T = structure(.Data = c(1, 2, 2, 1), .Dim = c(2, 2)))");
  Graph_Own(N("x", 0)) = 3.0;
  EXPECT_FALSE(GibbsSam_DirectSample(N("x")));
  EXPECT_EQ(Graph_Own(N("x", 0)), 3.0);
}

TEST_F(GibbsSamTest, MultinomialAndDirichletFillTheirBlocks) {
  Build("var y[3], q[3], p[3], a[3]; { y[1:3] ~ dmulti(p[], 10) q[1:3] ~ ddirch(a[]) }",
        "list(p = c(0.2, 0.3, 0.5), a = c(1, 2, 3))");
  ASSERT_TRUE(GibbsSam_DirectSample(N("y")));
  ASSERT_TRUE(GibbsSam_DirectSample(N("q")));
  EXPECT_EQ(Graph_Own(N("y", 0)) + Graph_Own(N("y", 1)) + Graph_Own(N("y", 2)), 10.0);
  EXPECT_NEAR(Graph_Own(N("q", 0)) + Graph_Own(N("q", 1)) + Graph_Own(N("q", 2)), 1.0, 1e-12);
}


// ---------------------------------------------------------------------------
// The update procedures, on models compiled up to the model checks.

// Draws of one quantity, with Monte Carlo standard errors from the draws
// themselves: of the mean, and of the variance through (x - mean)^2.
struct Sample {
  std::vector<double> x;
  double Central(int power, double about) const {
    double s = 0.0;
    for (double v : x) s += std::pow(v - about, power);
    return s / static_cast<double>(x.size());
  }
  double Mean() const { return Central(1, 0.0); }
  double Var() const { return Central(2, Mean()); }
  double SeMean() const { return std::sqrt(Var() / static_cast<double>(x.size())); }
  double SeVar() const { return std::sqrt((Central(4, Mean()) - Var() * Var()) / static_cast<double>(x.size())); }
};

// Mean and variance within four standard errors.
void ExpectMoments(const Sample& s, double mean, double var, const std::string& what) {
  EXPECT_NEAR(s.Mean(), mean, 4.0 * s.SeMean()) << what;
  EXPECT_NEAR(s.Var(), var, 4.0 * s.SeVar()) << what;
}

// Frequencies of the values lo .. lo + p.size() - 1 within four binomial
// standard errors, for the values common enough for the normal approximation.
void ExpectFrequencies(const Sample& s, int lo, const std::vector<double>& p) {
  const double n = static_cast<double>(s.x.size());
  for (size_t k = 0; k < p.size(); ++k) {
    if (std::min(p[k], 1.0 - p[k]) * n < 10.0) continue;
    const double count = static_cast<double>(std::count(s.x.begin(), s.x.end(), lo + static_cast<double>(k)));
    EXPECT_NEAR(count / n, p[k], 4.0 * std::sqrt(p[k] * (1.0 - p[k]) / n)) << "value " << lo + k;
  }
}

// Probabilities and moments of a density on lo .. hi known up to a constant
// (by its logarithm), summed over the integers or, for a continuous one,
// integrated by Simpson's rule over 4000 intervals.
struct Exact {
  std::vector<double> p;
  double mean = 0.0, var = 0.0;
};
Exact Sum(const std::function<double(double)>& logf, double lo, double hi, bool continuous = false) {
  const int n = continuous ? 4000 : static_cast<int>(hi - lo);
  const double h = (hi - lo) / n;
  double top = -INFINITY, m0 = 0.0, m1 = 0.0, m2 = 0.0;
  for (int i = 0; i <= n; ++i) top = std::max(top, logf(lo + i * h));
  Exact e;
  for (int i = 0; i <= n; ++i) {
    const double x = lo + i * h, simpson = i == 0 || i == n ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
    const double w = std::exp(logf(x) - top) * (continuous ? simpson : 1.0);
    e.p.push_back(w);
    m0 += w, m1 += w * x, m2 += w * x * x;
  }
  for (double& w : e.p) w /= m0;
  e.mean = m1 / m0;
  e.var = m2 / m0 - e.mean * e.mean;
  return e;
}

class GibbsSamUpdate : public test::Pipeline {
 protected:
  void Model(const std::string& model, const std::string& data, const std::string& inits = "") {
    ASSERT_TRUE(Build(model, data, inits)) << Console();
  }
  // n updates of the node by the procedure, none of which may fail; the
  // draws of each of its first `components` components.
  std::vector<Sample> Run(Samplers_Proc update, const std::string& name, int n, int components = 1) {
    std::vector<Sample> draws(static_cast<size_t>(components));
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    for (int i = 0; i < n && !Samplers_StateOf(s).error; ++i) {
      update(s);
      for (int c = 0; c < components; ++c) draws[static_cast<size_t>(c)].x.push_back(Graph_Own(N(name, c)));
    }
    EXPECT_FALSE(Samplers_StateOf(s).error) << name << Console();
    return draws;
  }
  Sample Run1(Samplers_Proc update, const std::string& name, int n) { return Run(update, name, n)[0]; }
  // One update that must fail, leaving the node's value as it was, with a
  // report that holds the text given.
  void ExpectFailure(Samplers_Proc update, const std::string& name, const std::string& reason) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    const double before = Graph_Own(s.node);
    update(s);
    EXPECT_TRUE(Samplers_StateOf(s).error) << name;
    EXPECT_EQ(Graph_Own(N(name)), before) << name;
    Samplers_ReportFailure();
    EXPECT_TRUE(Says(reason)) << name << ": " << Console();
  }
};

// A log density that records where it is evaluated, or gives set values.
std::vector<double> evaluatedAt;
Graph_Proc recorded = nullptr;
std::array<double, 3> categoryLogs{};
double Recording(Graph_Node* node) {
  evaluatedAt.push_back(Graph_Own(node));
  return recorded(node);
}
double SetLogs(Graph_Node* node) { return categoryLogs[static_cast<size_t>(Graph_Own(node)) - 1]; }

TEST_F(GibbsSamUpdate, DiscreteSupportsAreEnumeratedWithinTheirBounds) {
  Model("var x, c, p[3]; { x ~ dbin(0.5, 10) I(2, 4) c ~ dcat(p[]) }", "list(p = c(0.2, 0.3, 0.5))",
        "list(x = 3, c = 1)");
  recorded = N("x")->logDensity;
  N("x")->logDensity = Recording;
  evaluatedAt.clear();
  Run(GibbsSam_DiscreteSample, "x", 1);
  EXPECT_EQ(evaluatedAt, (std::vector<double>{2.0, 3.0, 4.0}));
  // Binomial coefficients 45, 120, 210.
  ExpectFrequencies(Run1(GibbsSam_DiscreteSample, "x", 3000), 2, {45.0 / 375, 120.0 / 375, 210.0 / 375});
  // A category without likelihood is drawn from its prior by the discrete sampler.
  ExpectFrequencies(Run1(GibbsSam_DirectSample, "c", 3000), 1, {0.2, 0.3, 0.5});

  N("c")->logDensity = SetLogs;
  categoryLogs = {-7.0, -7.0, -7.0};
  const Sample equal = Run1(GibbsSam_DiscreteSample, "c", 3000);
  double chi2 = 0.0;
  for (double k : {1.0, 2.0, 3.0})
    chi2 += std::pow(std::count(equal.x.begin(), equal.x.end(), k) - 1000.0, 2) / 1000.0;
  EXPECT_LT(chi2, 13.8);  // chi-square, 2 degrees of freedom, 0.1 per cent
  categoryLogs = {0.0, 0.0, -300.0};
  const Sample never = Run1(GibbsSam_DiscreteSample, "c", 3000);
  EXPECT_EQ(std::count(never.x.begin(), never.x.end(), 3.0), 0);
  ExpectFrequencies(never, 1, {0.5, 0.5});
}

TEST_F(GibbsSamUpdate, UnboundedCountsFollowTheLikelihoodBeyondThePrior) {
  // Poisson(3) prior, four normal observations near 40 (the chain starts at
  // 3); geometric(0.5) prior (trials, from 1), a Poisson observation of 30;
  // a Poisson(3) prior bounded below at 12; negative binomial and Zipf priors.
  Model("var x, y[4], g, z, b, nb, zf; { x ~ dpois(3) for (i in 1:4) { y[i] ~ dnorm(x, 1) } g ~ dgeom(0.5)\n"
        "  z ~ dpois(g) b ~ dpois(3) I(12, ) nb ~ dnegbin(0.5, 3) zf ~ dzipf(6) }",
        "list(y = c(40, 41, 39, 40), z = 30)", "list(x = 3, g = 1, b = 12, nb = 0, zf = 1)");
  const auto poisson3 = [](double k) { return k * std::log(3.0) - std::lgamma(k + 1); };
  const struct {
    const char* node;
    std::function<double(double)> logf;
    int lo, hi;
  } cases[] = {{"x", [&](double k) { return poisson3(k) - 2.0 * (k - 40.0) * (k - 40.0); }, 0, 200},
               {"g", [](double k) { return -k * std::log(2.0) + 30.0 * std::log(k) - k; }, 1, 400},
               {"b", poisson3, 12, 200},
               {"nb", [](double k) { return std::lgamma(k + 3) - std::lgamma(k + 1) - k * std::log(2.0); }, 0, 400},
               {"zf", [](double k) { return -6.0 * std::log(k); }, 1, 5000}};
  for (const auto& c : cases) {
    const Exact e = Sum(c.logf, c.lo, c.hi);
    const Sample s = Run1(GibbsSam_DiscreteSample, c.node, 3000);
    // The Zipf tail is too heavy for the standard errors of its moments.
    if (std::string(c.node) != "zf") ExpectMoments(s, e.mean, e.var, c.node);
    ExpectFrequencies(s, c.lo, std::vector<double>(e.p.begin(), e.p.begin() + 50));
    EXPECT_GE(*std::min_element(s.x.begin(), s.x.end()), c.lo) << c.node;
  }
}

TEST_F(GibbsSamUpdate, DiscreteNodesWithoutAnEnumerableSupportFail) {
  Model("var a, b, c, d, h, lo; { a ~ dbin(0.5, 2000) b ~ dpois(1.0E6) c ~ dzipf(2) d ~ dbin(0.5, 10) I(lo, 6)\n"
        "  h ~ dhypo(1, 2) }",
        "list(lo = 2)", "list(a = 1, b = 1, c = 1, d = 4, h = 1)");
  ExpectFailure(GibbsSam_DiscreteSample, "a", "0 to 2000, has more than 1024 points");
  ExpectFailure(GibbsSam_DiscreteSample, "b", "window of more than 1024 points");
  ExpectFailure(GibbsSam_DiscreteSample, "c", "window of more than 1024 points");
  ExpectFailure(GibbsSam_DiscreteSample, "h", "dhypo node cannot be sampled");
  Graph_Own(N("lo")) = 7.0;
  ExpectFailure(GibbsSam_DiscreteSample, "d", "support of the node is empty");
}

TEST_F(GibbsSamUpdate, ConjugateDrawsMatchTheirPosteriors) {
  // Full conditionals beta(4, 8), gamma(6, 3), normal(1, precision 3) and
  // Pareto(shape 6, scale 5). The unbounded procedures read no bound.
  Model("var p, r, g, y[2], x, m, w, th, u[5];\n"
        "{ p ~ dbeta(1, 1) I(0.2, 0.4) r ~ dbin(p, 10) g ~ dgamma(1, 1) I(1, 2.5)\n"
        "  for (i in 1:2) { y[i] ~ dpois(g) } x ~ dnorm(0, 1) m <- 2 * x + 1 w ~ dnorm(m, 0.5)\n"
        "  th ~ dpar(1, 2) for (i in 1:5) { u[i] ~ dunif(0, th) } }",
        "list(r = 3, y = c(2, 3), w = 4, u = c(3, 5, 4, 2, 1))", "list(th = 6, p = 0.3, g = 2)");
  ExpectMoments(Run1(GibbsSam_Beta, "p", 4000), 1.0 / 3.0, 32.0 / (144.0 * 13.0), "beta");
  ExpectMoments(Run1(GibbsSam_Gamma, "g", 4000), 2.0, 2.0 / 3.0, "gamma");
  ExpectMoments(Run1(GibbsSam_Normal, "x", 4000), 1.0, 1.0 / 3.0, "normal");
  const Sample th = Run1(GibbsSam_Pareto, "th", 4000);
  ExpectMoments(th, 6.0, 1.5, "Pareto");
  EXPECT_GE(*std::min_element(th.x.begin(), th.x.end()), 5.0);

  // Bounded: each procedure reads the bound or bounds its name asks for.
  // Normal(1, sd 0.5) priors: t1 spans 0.2 .. 0.25 standard deviations, t2
  // -0.5 .. 0.5, t3 -3 .. 3, t4 -1 .. 1; e starts 2 above the mean, f ends
  // 2 below it, h ends at it; k1 and k2 lie 5 standard deviations out on
  // either side, where only tail proposals accept.
  Model("var t1, t2, t3, t4, e, f, h, k1, k2, p, r, g, y[2];\n"
        "{ t1 ~ dnorm(1, 4) I(1.1, 1.125) t2 ~ dnorm(1, 4) I(0.75, 1.25) t3 ~ dnorm(1, 4) I(-0.5, 2.5)\n"
        "  t4 ~ dnorm(1, 4) I(0.5, 1.5) e ~ dnorm(1, 4) I(2, 3) f ~ dnorm(1, 4) I(-1, 0) h ~ dnorm(1, 4) I(0, 1)\n"
        "  k1 ~ dnorm(1, 4) I(3.5, 53) k2 ~ dnorm(1, 4) I(-60, -1.5)\n"
        "  p ~ dbeta(1, 1) I(0.2, 0.4) r ~ dbin(p, 10) g ~ dgamma(1, 1) I(1, 2.5)\n"
        "  for (i in 1:2) { y[i] ~ dpois(g) } }",
        "list(r = 3, y = c(2, 3))", "list(t1 = 1.11, t2 = 1, t3 = 1, t4 = 1, e = 2.5, f = -0.5, h = 0.5, k1 = 4, k2 = -2, p = 0.3, g = 2)");
  const auto normal = [](double x) { return -2.0 * (x - 1.0) * (x - 1.0); };
  const auto gamma = [](double x) { return 5.0 * std::log(x) - 3.0 * x; };
  const auto beta = [](double x) { return 3.0 * std::log(x) + 7.0 * std::log(1.0 - x); };
  const struct {
    Samplers_Proc update;
    const char* node;
    std::function<double(double)> logf;
    double lo, hi;  // the bounds read; a far end stands for none
  } cases[] = {{GibbsSam_TNormal, "t1", normal, 1.1, 1.125}, {GibbsSam_TNormal, "t2", normal, 0.75, 1.25},
               {GibbsSam_TNormal, "t3", normal, -0.5, 2.5},  {GibbsSam_TNormal, "t4", normal, 0.5, 1.5},
               {GibbsSam_TNormal, "k1", normal, 3.5, 53.0},  {GibbsSam_TNormal, "k2", normal, -60.0, -1.5},
               {GibbsSam_UNormal, "h", normal, -6.0, 1.0},   {GibbsSam_LNormal, "e", normal, 2.0, 8.0},
               {GibbsSam_LNormal, "t2", normal, 0.75, 8.0},  {GibbsSam_UNormal, "f", normal, -6.0, 0.0},
               {GibbsSam_UNormal, "t2", normal, -6.0, 1.25}, {GibbsSam_TGamma, "g", gamma, 1.0, 2.5},
               {GibbsSam_LGamma, "g", gamma, 1.0, 40.0},     {GibbsSam_UGamma, "g", gamma, 1e-9, 2.5},
               {GibbsSam_TBeta, "p", beta, 0.2, 0.4},        {GibbsSam_LBeta, "p", beta, 0.2, 1.0 - 1e-9},
               {GibbsSam_UBeta, "p", beta, 1e-9, 0.4}};
  for (const auto& c : cases) {
    const Sample s = Run1(c.update, c.node, 4000);
    const std::string what = std::string(c.node) + " " + std::to_string(c.lo) + ".." + std::to_string(c.hi);
    EXPECT_GE(*std::min_element(s.x.begin(), s.x.end()), c.lo) << what;
    EXPECT_LE(*std::max_element(s.x.begin(), s.x.end()), c.hi) << what;
    const Exact e = Sum(c.logf, c.lo, c.hi, true);
    ExpectMoments(s, e.mean, e.var, what);
  }
}

TEST_F(GibbsSamUpdate, BlockConjugateDrawsMatchTheirPosteriors) {
  // Dirichlet(2, 1, 3) from a flat prior and categories 1, 3, 3.
  Model("var p[3], a[3], c[3]; { p[1:3] ~ ddirch(a[]) for (i in 1:3) { c[i] ~ dcat(p[]) } }",
        "list(a = c(1, 1, 1), c = c(1, 3, 3))");
  const auto d = Run(GibbsSam_Direchlet, "p", 4000, 3);
  const double alpha[] = {2.0, 1.0, 3.0};
  for (size_t i = 0; i < 3; ++i)
    ExpectMoments(d[i], alpha[i] / 6.0, alpha[i] * (6.0 - alpha[i]) / 252.0, "Dirichlet");

  // Posterior precision P and P mean = b: [6 8.5; 8.5 18], (13.5, 24) from
  // univariate terms, [3 0.5; 0.5 3], (2.5, 3.5) from a multivariate term
  // whose mean is the block.
  const std::string T2 = "T = structure(.Data = c(2, 0.5, 0.5, 1), .Dim = c(2, 2)), mu = c(1, -1)";
  const struct {
    Samplers_Proc update;
    std::string model, data;
    double P[3], b[2];
  } normals[] = {{GibbsSam_MNormal1,
                  "var x[2], mu[2], T[2, 2], y1, y2, m1;\n"
                  "{ x[1:2] ~ dmnorm(mu[], T[, ]) m1 <- x[1] + 2 * x[2] y1 ~ dnorm(m1, 4) y2 ~ dlnorm(x[2], 1) }",
                  "list(y1 = 3, y2 = 1.6487212707001282, " + T2 + ")", {6.0, 8.5, 18.0}, {13.5, 24.0}},
                 {GibbsSam_MNormal2,
                  "var x[2], mu[2], T[2, 2], z[2], S[2, 2];\n"
                  "{ x[1:2] ~ dmnorm(mu[], T[, ]) z[1:2] ~ dmnorm(x[], S[, ]) }",
                  "list(z = c(1, 2), S = structure(.Data = c(1, 0, 0, 2), .Dim = c(2, 2)), " + T2 + ")",
                  {3.0, 0.5, 3.0}, {2.5, 3.5}}};
  for (const auto& c : normals) {
    Model(c.model, c.data);
    const double det = c.P[0] * c.P[2] - c.P[1] * c.P[1];
    const double cov[] = {c.P[2] / det, -c.P[1] / det, c.P[0] / det};
    const auto x = Run(c.update, "x", 4000, 2);
    ExpectMoments(x[0], cov[0] * c.b[0] + cov[1] * c.b[1], cov[0], "first component");
    ExpectMoments(x[1], cov[1] * c.b[0] + cov[2] * c.b[1], cov[2], "second component");
  }

  // dwish(I, 3) and residuals (2, 2), (1, -1): 5 degrees of freedom, mean
  // 5 S with S = [6 3; 3 6]^-1 = [6 -3; -3 6] / 27, Var W_ij = 5 (S_ij^2 + S_ii S_jj).
  const std::string I2 = "structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2))";
  Model("var W[2, 2], R[2, 2], v[2], u[2], m[2];\n"
        "{ W[, ] ~ dwish(R[, ], 3) v[1:2] ~ dmnorm(m[], W[, ]) u[1:2] ~ dmnorm(m[], W[, ]) }",
        "list(R = " + I2 + ", m = c(0, 1), v = c(2, 3), u = c(1, 0))", "list(W = " + I2 + ")");
  const auto W = Run(GibbsSam_Wishart, "W", 4000, 4);
  const double S[] = {6.0 / 27, -3.0 / 27, -3.0 / 27, 6.0 / 27};
  for (size_t i = 0; i < 4; ++i)
    ExpectMoments(W[i], 5.0 * S[i], 5.0 * (S[i] * S[i] + S[i / 2 * 3] * S[i % 2 * 3]), "Wishart");
}

TEST_F(GibbsSamUpdate, PriorDrawsAsUpdates) {
  Model("var q, k, h, z, W[3, 3], R[3, 3], wb, gb;\n"
        "{ q ~ dchisq(k) h ~ dhypo(1, 2) z ~ dzipf(2) W[, ] ~ dwish(R[, ], 6)\n"
        "  wb ~ dweib(2, 1) I(1.5, ) gb ~ dgum(0, 1) I(2, ) }",
        "list(k = 4, R = structure(.Data = c(2, 1, 0, 1, 2, 1, 0, 1, 2), .Dim = c(3, 3)))",
        "list(h = 3, z = 3, wb = 2, gb = 3)");
  ExpectMoments(Run1(GibbsSam_DirectSample, "q", 4000), 4.0, 8.0, "chi-square(4) as gamma(2, 0.5)");
  Run(GibbsSam_DirectSample, "h", 1);
  Run(GibbsSam_DirectSample, "z", 1);
  EXPECT_EQ(Graph_Own(N("h")), 0.0);
  const double z = Graph_Own(N("z"));
  EXPECT_TRUE(z >= 1.0 && z == std::floor(z)) << "a zipf draw is a positive whole number, not " << z;
  const Sample wb = Run1(GibbsSam_WeibullTail, "wb", 500), gb = Run1(GibbsSam_GumbelRightTail, "gb", 500);
  EXPECT_GE(*std::min_element(wb.x.begin(), wb.x.end()), 1.5);
  EXPECT_GE(*std::min_element(gb.x.begin(), gb.x.end()), 2.0);
  // Nine components in row-major order with mean 6 R^-1, R^-1 = [3 -2 1; -2 4 -2; 1 -2 3] / 4.
  ASSERT_EQ(N("W")->size, 9);
  const auto W = Run(GibbsSam_DirectSample, "W", 4000, 9);
  const double inverse[] = {3, -2, 1, -2, 4, -2, 1, -2, 3};
  for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(W[i].Mean(), 1.5 * inverse[i], 4.0 * W[i].SeMean()) << i;
}

TEST_F(GibbsSamUpdate, FailuresKeepTheValueAndSayWhy) {
  std::string ones = "c(1", simplex = "c(0.01";
  for (int i = 1; i < 101; ++i) ones += ", 1", simplex += i < 100 ? ", 0.01" : ", 0";
  Model("var g, y, s, x, lo, hi, d[101], a[101], n, v, u, ub;\n"
        "{ g ~ dgamma(s, 1) I(30, ) y ~ dpois(g) x ~ dnorm(0, 1) I(lo, hi) d[1:101] ~ ddirch(a[])\n"
        "  n ~ dgamma(s, 1) v ~ dnorm(0, 1) I(40, ) u ~ dexp(1) I(, ub) }",
        "list(s = 1, y = 2, lo = -1, hi = 1, ub = 3, a = " + ones + "))",
        "list(g = 31, x = 0, d = " + simplex + "), n = 1, v = 41, u = 1)");
  // Gamma(3, 2) above 30 and a standard normal above 40 hold about e^-60
  // and e^-800: no plain draw gets there, the draws from the tail do.
  const std::tuple<Samplers_Proc, const char*, double> tails[] = {{GibbsSam_LGamma, "g", 30.0},
                                                                  {GibbsSam_LDirectSample, "v", 40.0}};
  for (const auto& [update, name, bound] : tails) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    update(s);
    EXPECT_FALSE(Samplers_StateOf(s).error) << name << Console();
    EXPECT_TRUE(Graph_Own(N(name)) >= bound && Graph_Own(N(name)) < bound + 2.0) << name << " " << Graph_Own(N(name));
  }
  // An exponential below -1 has nothing to draw.
  Graph_Own(N("ub")) = -1.0;
  ExpectFailure(GibbsSam_UDirectSample, "u", "The bounds (-inf, -1) hold no probability");
  Graph_Own(N("g")) = 31.0;
  Graph_Own(N("lo")) = 2.0;
  ExpectFailure(GibbsSam_TNormal, "x", "The lower bound 2 is above the upper bound 1");
  ExpectFailure(GibbsSam_Direchlet, "d", "The block has 101 components, more than the 100");
  Graph_Own(N("s")) = -5.0;
  ExpectFailure(GibbsSam_Gamma, "g", "shape -3 and rate 2: both must be positive");
  ExpectFailure(GibbsSam_DirectSample, "n", "not a finite number");
}

}  // namespace
