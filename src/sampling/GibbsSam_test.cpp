// Continuous draws and every procedure's failures are rows in Samplers_test.cpp.
#include "sampling/GibbsSam.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Pipeline.h"
#include "Stats.h"

namespace {

class GibbsSamTest : public test::Pipeline {
 protected:
  // n updates of the node by the procedure, none of which may fail.
  std::vector<double> Run(Samplers_Proc update, const std::string& name, int n) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    std::vector<double> draws;
    for (int i = 0; i < n && !Samplers_StateOf(s).error; ++i) {
      update(s);
      draws.push_back(Graph_Own(N(name)));
    }
    EXPECT_FALSE(Samplers_StateOf(s).error) << name << Console();
    return draws;
  }
};

// Frequencies of the values lo, lo + 1, ... within four standard errors, where common enough.
void ExpectFrequencies(const std::vector<double>& x, int lo, const std::vector<double>& p, const std::string& what) {
  const double n = static_cast<double>(x.size());
  for (size_t k = 0; k < p.size(); ++k) {
    if (std::min(p[k], 1.0 - p[k]) * n < 10.0) continue;
    const double count = static_cast<double>(std::count(x.begin(), x.end(), lo + static_cast<double>(k)));
    EXPECT_NEAR(count / n, p[k], 4.0 * std::sqrt(p[k] * (1.0 - p[k]) / n)) << what << " value " << lo + k;
  }
}

// A log density that records where it is evaluated, or gives set values.
std::vector<double> evaluatedAt;
Graph_Proc recorded = nullptr;
std::array<double, 3> categoryLogs{};
double Recording(Graph_Node* node) {
  evaluatedAt.push_back(Graph_Own(node));
  return recorded(node);
}
double SetLogs(Graph_Node* node) { return categoryLogs[static_cast<size_t>(Graph_Own(node)) - 1]; }

TEST_F(GibbsSamTest, DiscreteSupportsAreEnumeratedWithinTheirBounds) {
  ASSERT_TRUE(Build("var x, c, p[3]; { x ~ dbin(0.5, 10) I(2, 4) c ~ dcat(p[]) }", "list(p = c(0.2, 0.3, 0.5))",
                    "list(x = 3, c = 1)")) << Console();
  recorded = N("x")->logDensity;
  N("x")->logDensity = Recording;
  evaluatedAt.clear();
  Run(GibbsSam_DiscreteSample, "x", 1);
  EXPECT_EQ(evaluatedAt, (std::vector<double>{2.0, 3.0, 4.0}));
  // Binomial coefficients 45, 120, 210.
  ExpectFrequencies(Run(GibbsSam_DiscreteSample, "x", 3000), 2, {45.0 / 375, 120.0 / 375, 210.0 / 375}, "x");
  // A category without likelihood is drawn from its prior.
  ExpectFrequencies(Run(GibbsSam_DirectSample, "c", 3000), 1, {0.2, 0.3, 0.5}, "c prior");
  N("c")->logDensity = SetLogs;
  categoryLogs = {-7.0, -7.0, -7.0};
  ExpectFrequencies(Run(GibbsSam_DiscreteSample, "c", 3000), 1, {1.0 / 3, 1.0 / 3, 1.0 / 3}, "equal");
  categoryLogs = {0.0, 0.0, -300.0};
  const std::vector<double> never = Run(GibbsSam_DiscreteSample, "c", 3000);
  EXPECT_EQ(std::count(never.begin(), never.end(), 3.0), 0);
  ExpectFrequencies(never, 1, {0.5, 0.5}, "two of three");
}

// Counts known by their log probabilities on lo .. hi: the draws follow the likelihood beyond the
// prior's bulk (a Poisson(3) prior, data near 40) and keep to the bounds.
TEST_F(GibbsSamTest, UnboundedCountsFollowTheLikelihoodBeyondThePrior) {
  ASSERT_TRUE(Build("var x, y[4], g, z, b, nb, zf; { x ~ dpois(3) for (i in 1:4) { y[i] ~ dnorm(x, 1) } g ~ dgeom(0.5)\n"
                    "  z ~ dpois(g) b ~ dpois(3) I(12, ) nb ~ dnegbin(0.5, 3) zf ~ dzipf(6) }",
                    "list(y = c(40, 41, 39, 40), z = 30)", "list(x = 3, g = 1, b = 12, nb = 0, zf = 1)")) << Console();
  const auto poisson3 = [](double k) { return k * std::log(3.0) - std::lgamma(k + 1); };
  const struct { const char* node; std::function<double(double)> logf; int lo, hi; } cases[] = {{"x", [&](double k) { return poisson3(k) - 2.0 * (k - 40.0) * (k - 40.0); }, 0, 200},
               {"g", [](double k) { return -k * std::log(2.0) + 30.0 * std::log(k) - k; }, 1, 400},
               {"b", poisson3, 12, 200},
               {"nb", [](double k) { return std::lgamma(k + 3) - std::lgamma(k + 1) - k * std::log(2.0); }, 0, 400},
               {"zf", [](double k) { return -6.0 * std::log(k); }, 1, 5000}};
  for (const auto& c : cases) {
    std::vector<double> p;
    double top = -INFINITY, sum = 0.0, mean = 0.0, second = 0.0;
    for (int k = c.lo; k <= c.hi; ++k) top = std::max(top, c.logf(k));
    for (int k = c.lo; k <= c.hi; ++k) sum += p.emplace_back(std::exp(c.logf(k) - top));
    for (size_t i = 0; i < p.size(); ++i) {
      p[i] /= sum;
      mean += p[i] * (c.lo + static_cast<double>(i));
      second += p[i] * (c.lo + static_cast<double>(i)) * (c.lo + static_cast<double>(i));
    }
    const std::vector<double> s = Run(GibbsSam_DiscreteSample, c.node, 3000);
    // The Zipf tail is too heavy for the standard errors of its moments.
    if (std::string(c.node) != "zf") test::ExpectMoments(test::IndependentMoments(s), mean, second - mean * mean, 4.0, c.node);
    ExpectFrequencies(s, c.lo, std::vector<double>(p.begin(), p.begin() + 50), c.node);
    EXPECT_GE(*std::min_element(s.begin(), s.end()), c.lo) << c.node;
  }
}

// Half the draws of gamma(0.001, 1) lie below the least positive double, yet above 0. A
// hypergeometric prior starts at 0, a category is left alone, a Wishart draw is symmetric.
TEST_F(GibbsSamTest, PriorDrawsKeepToTheirSupports) {
  ASSERT_TRUE(Build("var g, h, c, p[3], y[3], q[3], a[3], W[2, 2], R[2, 2]; { g ~ dgamma(0.001, 0.001) h ~ dhypo(1, 2)"
                    " c ~ dcat(p[]) y[1:3] ~ dmulti(p[], 10) q[1:3] ~ ddirch(a[]) W[, ] ~ dwish(R[, ], 4) }",
                    "list(p = c(0.2, 0.3, 0.5), a = c(1, 2, 3), R = structure(.Data = c(2, 1, 1, 3), .Dim = c(2, 2)))",
                    "list(h = 7, c = 2)")) << Console();
  int tiny = 0;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(GibbsSam_DirectSample(N("g")));
    ASSERT_GT(Graph_Own(N("g")), 0.0);
    tiny += Graph_Own(N("g")) < 1.0E-300;
  }
  EXPECT_GT(tiny, 500);  // the case arises
  for (const char* name : {"h", "c", "y", "q", "W"}) ASSERT_TRUE(GibbsSam_DirectSample(N(name))) << name;
  EXPECT_EQ(Graph_Own(N("W", 1)), Graph_Own(N("W", 2)));
  EXPECT_EQ(Graph_Own(N("h")), 0.0);
  EXPECT_EQ(Graph_Own(N("c")), 2.0);
  EXPECT_EQ(Graph_Own(N("y", 0)) + Graph_Own(N("y", 1)) + Graph_Own(N("y", 2)), 10.0);
  EXPECT_NEAR(Graph_Own(N("q", 0)) + Graph_Own(N("q", 1)) + Graph_Own(N("q", 2)), 1.0, 1e-12);
  // A precision that is not positive definite cannot be drawn from.
  ASSERT_TRUE(Build("var x[2], mu[2], T[2, 2]; { x[1:2] ~ dmnorm(mu[], T[,]) }",
                    "list(mu = c(0, 1), T = structure(.Data = c(1, 2, 2, 1), .Dim = c(2, 2)))", "list(x = c(3, 0))"));
  EXPECT_FALSE(GibbsSam_DirectSample(N("x")));
  EXPECT_EQ(Graph_Own(N("x", 0)), 3.0);
}

}  // namespace
