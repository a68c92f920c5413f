#include "sampling/Griddy.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Pipeline.h"
#include "base/Params.h"
#include "numerics/RandNum.h"
#include "sampling/Samplers.h"

namespace {

class GriddyTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitSamplers();
    SetBins("20");
  }
  static void SetBins(const char* bins) {
    const char* argv[] = {"wren", bins, "t"};
    InitParams(3, argv);
    InitGriddy(Params_numBins);
  }

  // n updates of the node and the values it took; fewer when one failed.
  std::vector<double> Run(const std::string& name, int n) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    std::vector<double> values;
    for (int i = 0; i < n && !Samplers_StateOf(s).error; ++i) {
      Griddy_Updater(s);
      if (!Samplers_StateOf(s).error) values.push_back(Graph_Own(s.node));
    }
    return values;
  }

  // n draws all within [lo, hi], reaching below nearLo and above nearHi.
  void ExpectSpread(const std::string& name, int n, double lo, double hi, double nearLo, double nearHi) {
    const std::vector<double> v = Run(name, n);
    ASSERT_EQ(v.size(), static_cast<size_t>(n));
    const auto [min, max] = std::minmax_element(v.begin(), v.end());
    EXPECT_GE(*min, lo);
    EXPECT_LE(*max, hi);
    EXPECT_LT(*min, nearLo);
    EXPECT_GT(*max, nearHi);
  }
};

TEST_F(GriddyTest, BinCountIsHeldWithinEightToOneThousand) {
  for (auto [arg, bins] : {std::pair{"5", 8}, {"-3", 8}, {"8", 8}, {"37", 37}, {"1000", 1000}, {"5000", 1000}}) {
    SetBins(arg);
    EXPECT_EQ(Griddy_numBins, bins) << arg;
  }
}

// A flat full conditional on [0, 10] has the density 0.1 at every grid
// point: inversion gives lower + u / f[0] = 10 u in every interval, the
// first included, and logR = 0 accepts every candidate (a second uniform
// drawn for the test).
TEST_F(GriddyTest, FlatFullConditionalProposesUniformlyAndAcceptsEveryCandidate) {
  ASSERT_TRUE(Build("var x; { x ~ dunif(0, 10) }", "", "list(x = 3)")) << Console();
  const int n = 400;
  InitRandNum();
  std::vector<double> u;
  for (int i = 0; i < 2 * n; ++i) u.push_back(RandNum_Rand());
  InitRandNum();
  const std::vector<double> values = Run("x", n);
  ASSERT_EQ(values.size(), static_cast<size_t>(n));
  int firstInterval = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_NEAR(values[i], 10.0 * u[2 * i], 1.0E-12) << i;
    if (u[2 * i] < 1.0 / 20) ++firstInterval;
  }
  EXPECT_GT(firstInterval, 0);
}

TEST_F(GriddyTest, SamplingIntervalComesFromTheDensityAndTheBounds) {
  const std::string logLink = "m <- log(x) y ~ dnorm(m, 1) }";
  // dexp: 0 from the density, 3 from the bound.
  ASSERT_TRUE(Build("var x, m, y; { x ~ dexp(1) I(, 3) " + logLink, "list(y = 0.5)", "list(x = 1)")) << Console();
  ExpectSpread("x", 1000, 0.0, 3.0, 0.5, 2.7);
  // A bound below the support does not widen it, although the exponential
  // log density is finite at negative values.
  ASSERT_TRUE(Build("var x, m, y; { x ~ dexp(1) I(-2, 3) m <- x * x y ~ dnorm(m, 1) }", "list(y = 0.5)",
                    "list(x = 1)")) << Console();
  ExpectSpread("x", 1000, 0.0, 3.0, 0.3, 1.5);
  // dgamma narrowed by both bounds.
  ASSERT_TRUE(Build("var x, m, y; { x ~ dgamma(2, 1) I(1, 2) " + logLink, "list(y = 1)", "list(x = 1.5)")) << Console();
  ExpectSpread("x", 1000, 1.0, 2.0, 1.1, 1.9);
  // dbeta without bounds: [0, 1]. A shape of 0.5 makes the log density +inf
  // at 0, a grid point that then weighs nothing.
  ASSERT_TRUE(Build("var p, q, r; { p ~ dbeta(0.5, 3) logit(q) <- p * p r ~ dbern(q) }", "list(r = 1)",
                    "list(p = 0.5)")) << Console();
  ExpectSpread("p", 1000, 0.0, 1.0, 0.01, 0.7);
  // Grid points where the full conditional is NaN (the log of a negative
  // value) weigh nothing: a start value there is left at once for good.
  ASSERT_TRUE(Build("var x, m, y; { x ~ dunif(-1, 1) " + logLink, "list(y = -1)", "list(x = 0.5)")) << Console();
  Graph_Own(N("x")) = -0.5;
  ExpectSpread("x", 500, 0.0, 1.0, 0.1, 0.9);
}

// A dunif prior with a likelihood bimodal in x (y is normal about
// (x - 0.1)^2: modes near -2 and 2.2) and tilted (z is normal about x). On
// 8 intervals the grid meets the left mode and misses the right one, so the
// proposal alone is far off and only the Metropolis step makes the draws
// right: their mean and variance agree with quadrature of the exact full
// conditional within four standard errors from batch means, which take the
// autocorrelation into account.
TEST_F(GriddyTest, BimodalFullConditionalMatchesQuadrature) {
  ASSERT_TRUE(Build("var x, m, y, z; { x ~ dunif(-4, 4) m <- (x - 0.1) * (x - 0.1) y ~ dnorm(m, 1) "
                    "z ~ dnorm(x, 0.2) }",
                    "list(y = 4.41, z = 1)", "list(x = 0)")) << Console();
  SetBins("8");
  // Composite Simpson's rule on [-4, 4].
  const int k = 20000;
  double w0 = 0.0, w1 = 0.0, w2 = 0.0;
  for (int i = 0; i <= k; ++i) {
    const double x = -4.0 + i * 8.0 / k, d = 4.41 - (x - 0.1) * (x - 0.1), e = 1.0 - x;
    const double w = (i == 0 || i == k ? 1.0 : i % 2 == 1 ? 4.0 : 2.0) * std::exp(-0.5 * d * d - 0.1 * e * e);
    w0 += w;
    w1 += w * x;
    w2 += w * x * x;
  }
  const double mean = w1 / w0, variance = w2 / w0 - mean * mean;

  const int batches = 40, size = 500;
  const std::vector<double> values = Run("x", batches * size);
  ASSERT_EQ(values.size(), static_cast<size_t>(batches * size));
  // The variance as the expectation of (x - mean)^2.
  auto check = [&](auto g, double exact, const char* what) {
    double sum = 0.0, sumSq = 0.0;
    for (int b = 0; b < batches; ++b) {
      double batch = 0.0;
      for (int i = 0; i < size; ++i) batch += g(values[static_cast<size_t>(b * size + i)]) / size;
      sum += batch;
      sumSq += batch * batch;
    }
    const double estimate = sum / batches;
    const double se = std::sqrt((sumSq / batches - estimate * estimate) / (batches - 1));
    EXPECT_NEAR(estimate, exact, 4.0 * se) << what;
  };
  check([](double x) { return x; }, mean, "mean");
  check([mean](double x) { return (x - mean) * (x - mean); }, variance, "variance");
}

TEST_F(GriddyTest, UpdatesThatCannotDrawFailAndKeepTheValue) {
  ASSERT_TRUE(Build("var x, lo, hi, m, y, t; { x ~ dnorm(0, 1) I(lo, hi) m <- log(x) y ~ dnorm(m, t) }",
                    "list(lo = 1, hi = 2, y = 0, t = 1)", "list(x = 1.5)")) << Console();
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  struct Case {
    double lo, hi, t;
    const char* says;
  };
  // dnorm has no limits of its own: without a finite lower bound there is
  // no grid. A negative precision leaves no grid point a finite value.
  for (const Case& c : {Case{2, 1, 1, "not below the upper limit"}, Case{1, 1, 1, "not below the upper limit"},
                        Case{nan, 2, 1, "not a number"}, Case{-inf, 2, 1, "not finite"},
                        Case{1, 2, -1, "no mass"}}) {
    Graph_Own(N("lo")) = c.lo;
    Graph_Own(N("hi")) = c.hi;
    Graph_Own(N("t")) = c.t;
    const size_t seen = Console().size();
    Samplers_Sampler& s = Samplers_Add();
    s.node = N("x");
    Griddy_Updater(s);
    EXPECT_TRUE(Samplers_StateOf(s).error) << c.says;
    EXPECT_EQ(Graph_Own(N("x")), 1.5) << c.says;
    Samplers_ReportFailure();
    EXPECT_NE(Console().find(c.says, seen), std::string::npos) << c.says << "\n" << Console();
  }
}

}  // namespace
