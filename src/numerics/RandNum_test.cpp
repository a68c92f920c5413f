#include "numerics/RandNum.h"

#include <set>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "numerics/MatrixAl.h"

namespace {

constexpr int64_t modulus = 2147483647;

// The congruential step in 64-bit arithmetic, independent of the module's.
int32_t Next(int32_t s) { return static_cast<int32_t>(s * int64_t{16807} % modulus); }

// How many uniforms fn drew, read from the seed's movement.
int DrawsBy(const std::function<void()>& fn) {
  int32_t s = RandNum_GetSeed();
  fn();
  const int32_t now = RandNum_GetSeed();
  for (int k = 0; k < 100000; ++k, s = Next(s))
    if (s == now) return k;
  return -1;
}

std::vector<double> Sample(int n, const std::function<double()>& draw) {
  std::vector<double> x(n);
  for (double& v : x) v = draw();
  return x;
}

// Mean within 5 standard errors of the true one, variance within 5
// standard errors of its estimate (taken from the sample's fourth moment).
void ExpectMoments(const std::vector<double>& x, double mean, double var, const std::string& what) {
  const double n = static_cast<double>(x.size());
  double m = 0.0;
  for (double v : x) m += v;
  m /= n;
  double s2 = 0.0, s4 = 0.0;
  for (double v : x) {
    const double d = (v - m) * (v - m);
    s2 += d;
    s4 += d * d;
  }
  s2 /= n - 1.0;
  s4 /= n;
  EXPECT_NEAR(m, mean, 5.0 * std::sqrt(var / n)) << what << " mean";
  EXPECT_NEAR(s2, var, 5.0 * std::sqrt((s4 - s2 * s2) / n)) << what << " variance";
}

// Mean and variance of a density g (unnormalised) on [lo, hi] by Simpson's rule.
std::pair<double, double> Moments(const std::function<double(double)>& g, double lo, double hi) {
  const int k = 40000;
  const double h = (hi - lo) / k;
  double s0 = 0.0, s1 = 0.0, s2 = 0.0;
  for (int i = 0; i <= k; ++i) {
    const double x = lo + i * h, w = (i == 0 || i == k) ? 1.0 : (i % 2 ? 4.0 : 2.0);
    s0 += w * g(x);
    s1 += w * x * g(x);
    s2 += w * x * x * g(x);
  }
  return {s1 / s0, s2 / s0 - (s1 / s0) * (s1 / s0)};
}

class RandNumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(20240611));
  }
};

constexpr int N = 100000;

// --- The uniform stream ---------------------------------------------------

TEST(RandNumStream, StartUpFillsTheTableAndTheFirstUniformsFollowIt) {
  InitRandNum();
  int32_t table[1000];
  int32_t s = 314159;
  for (int32_t& slot : table) slot = s = Next(s);
  EXPECT_EQ(RandNum_GetSeed(), s);  // the 1000th successor of 314159
  EXPECT_EQ(RandNum_Rand(), table[Next(s) % 1000] / double(modulus));
  InitRandNum();
  for (int i = 0; i < 5000; ++i) {
    s = Next(s);
    const int32_t out = table[s % 1000];
    table[s % 1000] = s;
    ASSERT_EQ(RandNum_Rand(), out / double(modulus)) << i;
  }
}

TEST(RandNumStream, CongruentialStepKnownValues) {
  InitRandNum();
  ASSERT_TRUE(RandNum_SetSeed(1));
  RandNum_Rand();
  EXPECT_EQ(RandNum_GetSeed(), 16807);
  for (int i = 1; i < 10000; ++i) RandNum_Rand();
  EXPECT_EQ(RandNum_GetSeed(), 1043618065);
  ASSERT_TRUE(RandNum_SetSeed(2147483646));  // the largest seed steps without overflow
  RandNum_Rand();
  EXPECT_EQ(RandNum_GetSeed(), Next(2147483646));
}

TEST(RandNumStream, SeedRoundTripAndRefusal) {
  InitRandNum();
  EXPECT_TRUE(RandNum_SetSeed(123456789));
  EXPECT_EQ(RandNum_GetSeed(), 123456789);
  for (int32_t bad : {0, -5, 2147483647}) {
    EXPECT_FALSE(RandNum_SetSeed(bad));
    EXPECT_EQ(RandNum_GetSeed(), 123456789);
  }
  // The same calls from the same state give the same numbers.
  std::vector<double> first, second;
  for (auto* out : {&first, &second}) {
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(777));
    for (int i = 0; i < 50; ++i) out->push_back(RandNum_Normal(0.0, 1.0) + RandNum_Gamma1(0.4));
  }
  EXPECT_EQ(first, second);
}

TEST_F(RandNumTest, UniformsLieStrictlyInsideTheInterval) {
  auto x = Sample(N, RandNum_Rand);
  for (double v : x) ASSERT_TRUE(v > 0.0 && v < 1.0);
  ExpectMoments(x, 0.5, 1.0 / 12.0, "Rand");
}

// --- Edge cases of individual generators -----------------------------------

TEST_F(RandNumTest, EdgeCases) {
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(RandNum_Bernoulli(0.0), 0.0);
    ASSERT_EQ(RandNum_Bernoulli(1.0), 1.0);
  }
  EXPECT_EQ(DrawsBy([] { RandNum_Binomial(0.5, 2.9999999); }), 3);
  EXPECT_EQ(DrawsBy([] { EXPECT_EQ(RandNum_Binomial(0.5, 0.0), 0.0); }), 0);
  EXPECT_EQ(DrawsBy([] { RandNum_Gamma1(1.0000005); }), 1);
  for (double shape : {0.0, -1.0}) EXPECT_TRUE(std::isnan(RandNum_Gamma1(shape))) << shape;
  // The second polar deviate waits for the next caller of any normal generator.
  InitRandNum();
  ASSERT_TRUE(RandNum_SetSeed(99));
  const double z1 = RandNum_StandardNormal(), z2 = RandNum_StandardNormal();
  InitRandNum();
  ASSERT_TRUE(RandNum_SetSeed(99));
  EXPECT_EQ(RandNum_StandardNormal(), z1);
  EXPECT_EQ(DrawsBy([&] { EXPECT_EQ(RandNum_Normal(3.0, 4.0), z2 / 2.0 + 3.0); }), 0);
  for (int i = 0; i < 1000; ++i) ASSERT_LE(RandNum_StandardNormalTail(-2.0), -2.0);
  std::vector<double> x(3);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(RandNum_Multinomial(std::vector<double>{0.2, 0.3, 0.5}, x, 10.0, 3));
    ASSERT_EQ(x[0] + x[1] + x[2], 10.0);
  }
  EXPECT_EQ(RandNum_Geometric(1.0), 1.0);
  EXPECT_EQ(RandNum_Geometric(0.0), 2147483647.0);
  EXPECT_EQ(DrawsBy([] { EXPECT_EQ(RandNum_Poisson(1e12), 2147483647.0); }), 0);
}

// --- Means and variances ----------------------------------------------------

struct Law {
  const char* name;
  std::function<double()> draw;
  double mean, var;
  int n = N;
};

void ExpectLaws(const std::vector<Law>& laws) {
  for (const Law& law : laws) ExpectMoments(Sample(law.n, law.draw), law.mean, law.var, law.name);
}

TEST_F(RandNumTest, ContinuousLaws) {
  const double pi2 = std::numbers::pi * std::numbers::pi, g15 = std::tgamma(1.5);
  const double s2 = 0.25;  // log-normal variance of the log
  ExpectLaws({
      {"Uniform", [] { return RandNum_Uniform(-1.0, 3.0); }, 1.0, 16.0 / 12.0},
      {"Exponential", [] { return RandNum_Exponential(2.0); }, 0.5, 0.25},
      {"StandardNormal", RandNum_StandardNormal, 0.0, 1.0},
      {"Normal", [] { return RandNum_Normal(1.0, 4.0); }, 1.0, 0.25},
      {"LogNormal", [] { return RandNum_LogNormal(0.5, 4.0); }, std::exp(0.5 + s2 / 2),
       (std::exp(s2) - 1.0) * std::exp(1.0 + s2)},
      {"Gamma shape 0.3", [] { return RandNum_Gamma(0.3, 2.0); }, 0.15, 0.075},
      {"Gamma shape 1.7", [] { return RandNum_Gamma(1.7, 0.5); }, 3.4, 6.8},
      {"Gamma shape 7.5", [] { return RandNum_Gamma(7.5, 3.0); }, 2.5, 7.5 / 9.0},
      {"Gamma1 shape 40", [] { return RandNum_Gamma1(40.0); }, 40.0, 40.0},
      {"Beta", [] { return RandNum_Beta(2.0, 3.0); }, 0.4, 0.04},
      {"DoubleExp", [] { return RandNum_DoubleExp(1.0, 2.0); }, 1.0, 0.5},
      {"Logistic", [] { return RandNum_Logistic(-1.0, 2.0); }, -1.0, pi2 / 12.0},
      {"Fdist", [] { return RandNum_Fdist(5.0, 20.0); }, 20.0 / 18.0,
       2.0 * 400.0 * 23.0 / (5.0 * 324.0 * 16.0)},
      {"Gumbel", [] { return RandNum_Gumbel(1.0, 2.0); }, 1.0 + std::numbers::egamma / 2.0,
       pi2 / 24.0},
      {"Pareto", [] { return RandNum_Pareto(6.0, 2.0); }, 2.4, 0.24},
      {"Power", [] { return RandNum_Power(3.0); }, 0.75, 0.0375},
      {"Weibull", [] { return RandNum_Weibull(2.0, 0.5); }, std::sqrt(2.0) * g15,
       2.0 * (1.0 - g15 * g15)},
  });
}

TEST_F(RandNumTest, DiscreteLaws) {
  ExpectLaws({
      {"Bernoulli", [] { return RandNum_Bernoulli(0.3); }, 0.3, 0.21},
      {"Binomial", [] { return RandNum_Binomial(0.35, 20.0); }, 7.0, 4.55},
      {"Geometric", [] { return RandNum_Geometric(0.2); }, 5.0, 20.0},
      {"Poisson small", [] { return RandNum_Poisson(0.7); }, 0.7, 0.7},
      {"Poisson 60", [] { return RandNum_Poisson(60.0); }, 60.0, 60.0, 50000},
      {"Poisson 1234.5", [] { return RandNum_Poisson(1234.5); }, 1234.5, 1234.5, 4000},
      {"NegativeBinomial", [] { return RandNum_NegativeBinomial(0.4, 3.0); }, 4.5, 11.25},
      // Zipf with a = 4: mean zeta(3) / zeta(4), second moment zeta(2) / zeta(4).
      {"Zipf", [] { return RandNum_Zipf(4.0); }, 1.2020569032 / 1.0823232337,
       1.6449340668 / 1.0823232337 - std::pow(1.2020569032 / 1.0823232337, 2)},
  });
  for (double a : {1.0, 0.5, -2.0}) EXPECT_TRUE(std::isnan(RandNum_Zipf(a))) << a;
  for (double v : Sample(1000, [] { return RandNum_Poisson(3.0); })) ASSERT_EQ(v, std::trunc(v));
}

// --- Tails ------------------------------------------------------------------

void ExpectTail(double a, bool above, const std::function<double()>& draw, double mean, double var,
                const std::string& what) {
  auto x = Sample(N, draw);
  for (double v : x) ASSERT_TRUE(above ? v > a : v < a) << what << " gave " << v;
  ExpectMoments(x, mean, var, what);
}

TEST_F(RandNumTest, TailsStayInTheTailWithTheTruncatedMoments) {
  for (double a : {2.0, 0.5, -1.5}) {  // both methods, and the left tail
    const double b = std::fabs(a);
    const double ratio = std::exp(-0.5 * b * b) / std::sqrt(2.0 * std::numbers::pi) /
                         (0.5 * std::erfc(b / std::numbers::sqrt2));
    ExpectTail(a, a >= 0.0, [a] { return RandNum_StandardNormalTail(a); }, a >= 0 ? ratio : -ratio,
               1.0 + b * ratio - ratio * ratio, "normal tail " + std::to_string(a));
  }
  // Weibull(1.5, 0.7) above 1.2, against its density integrated.
  auto [wm, wv] = Moments([](double x) { return std::sqrt(x) * std::exp(-0.7 * x * std::sqrt(x)); },
                          1.2, 41.2);
  ExpectTail(1.2, true, [] { return RandNum_WeibullTail(1.5, 0.7, 1.2); }, wm, wv, "Weibull tail");
  // Gumbel(1, 2) above 1.5: the standard law above b (c - a) = 1, rescaled.
  auto [ym, yv] = Moments([](double y) { return std::exp(-y - std::exp(-y)); }, 1.0, 61.0);
  ExpectTail(1.5, true, [] { return RandNum_GumbelRightTail(1.0, 2.0, 1.5); }, 1.0 + ym / 2.0,
             yv / 4.0, "Gumbel tail");
  // Far out the tail is exponential beyond c, before and after the cut-over.
  ExpectTail(35.0, true, [] { return RandNum_GumbelRightTail(0.0, 1.0, 35.0); }, 36.0, 1.0,
             "Gumbel tail at 35");
  ExpectTail(1000.0, true, [] { return RandNum_GumbelRightTail(0.0, 2.0, 1000.0); }, 1000.5, 0.25,
             "Gumbel tail at 1000");
  EXPECT_EQ(DrawsBy([] { RandNum_GumbelRightTail(0.0, 1.0, -3.0); }), 1);
}

// --- Vector and matrix variates ----------------------------------------------

const std::vector<double> a3 = {4, 2, 0, 2, 5, 1, 0, 1, 3};                      // positive definite
const std::vector<double> a3inv = {14 / 44., -6 / 44., 2 / 44., -6 / 44., 12 / 44.,  // its inverse
                                   -4 / 44., 2 / 44., -4 / 44., 16 / 44.};

// Means k a3inv and variances k (s_ij^2 + s_ii s_jj) of the products of a
// draw with covariance a3inv, or of a Wishart draw of k degrees of freedom.
void ProductMoments(double k, std::vector<double>& mean, std::vector<double>& var) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double s = a3inv[i * 3 + j];
      mean[i * 3 + j] = k * s;
      var[i * 3 + j] = k * (s * s + a3inv[i * 3 + i] * a3inv[j * 3 + j]);
    }
}

// Each column of the draws (n per draw) against its mean and variance.
void ExpectColumns(const std::vector<std::vector<double>>& cols, const std::vector<double>& mean,
                   const std::vector<double>& var, const std::string& what) {
  for (size_t i = 0; i < cols.size(); ++i)
    ExpectMoments(cols[i], mean[i], var[i], what + " " + std::to_string(i));
}

TEST_F(RandNumTest, DirichletAndMultinomial) {
  const std::vector<double> alpha = {1.0, 2.0, 3.5}, p = {0.2, 0.3, 0.5};
  std::vector<std::vector<double>> d(3, std::vector<double>(N)), m = d;
  std::vector<double> x(3);
  for (int k = 0; k < N; ++k) {
    ASSERT_TRUE(RandNum_Direchlet(alpha, x, 3));
    ASSERT_NEAR(x[0] + x[1] + x[2], 1.0, 1e-12);
    for (int i = 0; i < 3; ++i) d[i][k] = x[i];
    ASSERT_TRUE(RandNum_Multinomial(p, x, 10.0, 3));
    for (int i = 0; i < 3; ++i) m[i][k] = x[i];
  }
  std::vector<double> dm(3), dv(3), mm(3), mv(3);
  for (int i = 0; i < 3; ++i) {
    dm[i] = alpha[i] / 6.5;
    dv[i] = alpha[i] * (6.5 - alpha[i]) / (6.5 * 6.5 * 7.5);
    mm[i] = 10.0 * p[i];
    mv[i] = 10.0 * p[i] * (1.0 - p[i]);
  }
  ExpectColumns(d, dm, dv, "Dirichlet");
  ExpectColumns(m, mm, mv, "Multinomial");
  EXPECT_FALSE(RandNum_Direchlet(alpha, x, 4));  // more than the arrays hold
  EXPECT_FALSE(RandNum_Multinomial(p, std::span<double>(x).first(2), 10.0, 3));
}

TEST_F(RandNumTest, MultivariateNormalHasTheInversePrecisionAsCovariance) {
  std::vector<double> U = a3, mu = {1.0, -2.0, 0.5}, x(3);
  ASSERT_TRUE(MatrixAl_LUDecomp(U.data(), 3));
  std::vector<std::vector<double>> cols(9, std::vector<double>(N));
  std::vector<double> mean(9), var(9);
  for (int k = 0; k < N; ++k) {
    ASSERT_TRUE(RandNum_MNormal(mu, U, x, 3));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) cols[i * 3 + j][k] = (x[i] - mu[i]) * (x[j] - mu[j]);
    for (int i = 0; i < 3; ++i) cols[i][k] = x[i];  // the first row's products, also in the first column
  }
  ProductMoments(1.0, mean, var);
  for (int i = 0; i < 3; ++i) {
    mean[i] = mu[i];
    var[i] = a3inv[i * 3 + i];
  }
  ExpectColumns(cols, mean, var, "MNormal");
}

TEST_F(RandNumTest, WishartMeanIsDegreesTimesTheInverse) {
  std::vector<double> R = a3, W(9);
  ASSERT_TRUE(MatrixAl_InvertMatrixULDecomp(R.data(), 3));
  const double k = 5.5;
  std::vector<std::vector<double>> cols(9, std::vector<double>(N));
  for (int d = 0; d < N; ++d) {
    ASSERT_TRUE(RandNum_Wishart(R, W, k, 3));
    for (int e = 0; e < 9; ++e) cols[e][d] = W[e];
    ASSERT_EQ(W[1], W[3]);
    ASSERT_EQ(W[5], W[7]);
  }
  std::vector<double> mean(9), var(9);
  ProductMoments(k, mean, var);
  ExpectColumns(cols, mean, var, "Wishart");
}

TEST_F(RandNumTest, UnusableMatricesAreRefusedWithoutDrawing) {
  std::vector<double> big(26 * 26, 0.0), x(26, 7.0), W(26 * 26, 7.0);
  for (int i = 0; i < 26; ++i) big[i * 26 + i] = 1.0;
  std::vector<double> notPositive = {1, 0, 0, -1}, R = {1, 0, 0, 1};
  EXPECT_EQ(DrawsBy([&] {
              EXPECT_FALSE(RandNum_MNormal(x, big, x, 26));  // beyond the largest order
              EXPECT_FALSE(RandNum_Wishart(big, W, 30.0, 26));
              EXPECT_FALSE(RandNum_MNormal(x, notPositive, x, 2));
              EXPECT_FALSE(RandNum_Wishart(notPositive, W, 5.0, 2));
              EXPECT_FALSE(RandNum_Wishart(R, W, 1.0, 2));  // too few degrees of freedom
              EXPECT_FALSE(RandNum_Wishart(R, std::span<double>(W).first(3), 5.0, 2));
              EXPECT_FALSE(RandNum_MNormal(x, R, x, -1));
            }),
            0);
  for (double v : x) EXPECT_EQ(v, 7.0);
  for (double v : W) EXPECT_EQ(v, 7.0);
  EXPECT_TRUE(RandNum_Wishart(R, W, 1.5, 2));  // just above n - 1
}

// Wherever the plain ratio of the two gamma variates is a number inside
// (0, 1) the beta and Dirichlet draws are that ratio, bit for bit, from the
// same uniforms; with small shapes, where the gamma variates underflow,
// every draw still lies strictly inside (0, 1) and has the right moments.
TEST_F(RandNumTest, BetaAndDirichletKeepTheirDrawsAndSurviveSmallShapes) {
  for (const auto& [a, b] : {std::pair{2.0, 3.0}, {0.4, 0.7}, {0.05, 3.0}, {30.0, 0.5}}) {
    for (int32_t seed : {11, 12345, 987654321}) {
      InitRandNum();
      ASSERT_TRUE(RandNum_SetSeed(seed));
      std::vector<double> drawn;
      for (int i = 0; i < 200; ++i) drawn.push_back(RandNum_Beta(a, b));
      InitRandNum();
      ASSERT_TRUE(RandNum_SetSeed(seed));
      for (int i = 0; i < 200; ++i) {
        const double g1 = RandNum_Gamma1(a), g2 = RandNum_Gamma1(b);
        if (g1 > 0.0 && g2 > 0.0) {
          EXPECT_EQ(drawn[i], g1 / (g1 + g2)) << a << " " << b;
        }
      }
    }
  }
  {
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(77));
    std::vector<double> alpha = {0.8, 2.5, 1.0}, x(3);
    ASSERT_TRUE(RandNum_Direchlet(alpha, x, 3));
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(77));
    const double g[3] = {RandNum_Gamma1(0.8), RandNum_Gamma1(2.5), RandNum_Gamma1(1.0)};
    const double sum = g[0] + g[1] + g[2];
    for (int i = 0; i < 3; ++i) EXPECT_EQ(x[i], g[i] / sum);
  }
  // Beta(0.001, 0.001): mean 1/2, variance 0.25 / 1.002; Beta(3.001, 0.001)
  // as a conjugate update with small prior shapes gives it.
  const auto inside = [](double v) { return v > 0.0 && v < 1.0; };
  const std::vector<double> tiny = Sample(N, [] { return RandNum_Beta(0.001, 0.001); });
  for (double v : tiny) ASSERT_TRUE(inside(v)) << v;
  ExpectMoments(tiny, 0.5, 0.25 / 1.002, "Beta(0.001, 0.001)");
  const std::vector<double> one = Sample(N, [] { return RandNum_Beta(3.001, 0.001); });
  for (double v : one) ASSERT_TRUE(inside(v)) << v;
  ExpectMoments(one, 3.001 / 3.002, 3.001 * 0.001 / (3.002 * 3.002 * 4.002), "Beta(3.001, 0.001)");
  // Dirichlet(0.001 x 3): each component has mean 1/3, variance (2/9) / 1.003.
  std::vector<double> first, last;
  std::vector<double> alpha = {0.001, 0.001, 0.001}, x(3);
  for (int i = 0; i < N; ++i) {
    ASSERT_TRUE(RandNum_Direchlet(alpha, x, 3));
    for (double v : x) ASSERT_TRUE(inside(v)) << v;
    ASSERT_NEAR(x[0] + x[1] + x[2], 1.0, 1e-15);
    first.push_back(x[0]);
    last.push_back(x[2]);
  }
  ExpectMoments(first, 1.0 / 3.0, (2.0 / 9.0) / 1.003, "Dirichlet component 1");
  ExpectMoments(last, 1.0 / 3.0, (2.0 / 9.0) / 1.003, "Dirichlet component 3");
}

// Truncated gamma and beta variates. Where the bounds hold probability 0.1
// or more the draw is the plain one repeated until it falls inside, the
// same numbers as that loop; elsewhere, far out in tails, near zero, over
// narrow intervals, each draw takes one uniform (or, over an interval where
// the density is nearly flat, a few) and the draws have the moments of the
// restricted law (Simpson's rule over the interval, or closed forms).
TEST_F(RandNumTest, TruncatedGammaAndBeta) {
  for (int32_t seed : {5, 99999, 123456789}) {
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(seed));
    std::vector<double> drawn;
    for (int i = 0; i < 100; ++i) {
      drawn.push_back(RandNum_TruncatedGamma(2.0, 1.0, 0.5, 3.0));
      drawn.push_back(RandNum_TruncatedBeta(13.0, 11.0, 0.5, 0.9));
      drawn.push_back(RandNum_TruncatedGamma(22.0, 8.0, -std::numeric_limits<double>::infinity(), 3.0));
    }
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(seed));
    const auto loop = [](const std::function<double()>& plain, double lo, double hi) {
      double x = 0.0;
      do x = plain(); while (!(x >= lo && x <= hi));
      return x;
    };
    for (int i = 0; i < 100; ++i) {
      EXPECT_EQ(drawn[3 * i], loop([] { return RandNum_Gamma(2.0, 1.0); }, 0.5, 3.0));
      EXPECT_EQ(drawn[3 * i + 1], loop([] { return RandNum_Beta(13.0, 11.0); }, 0.5, 0.9));
      EXPECT_EQ(drawn[3 * i + 2], loop([] { return RandNum_Gamma(22.0, 8.0); }, 0.0, 3.0));
    }
  }
  constexpr double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::string name;
    std::function<double()> draw;
    double lo, hi;
    std::pair<double, double> moments;
  };
  // Kernels shifted by their value at one end so that nothing underflows.
  const auto gamma = [](double a, double b, double at) {
    return [=](double x) { return std::exp((a - 1.0) * std::log(x / at) - b * (x - at)); };
  };
  const auto beta = [](double a, double b, double at) {
    return [=](double x) {
      return std::exp((a - 1.0) * std::log(x / at) + (b - 1.0) * (std::log1p(-x) - std::log1p(-at)));
    };
  };
  const double c = 1e-12, r = 1e-20;
  const std::vector<Case> cases = {
      {"gamma(9, 6) above 20", [] { return RandNum_TruncatedGamma(9.0, 6.0, 20.0, inf); }, 20.0, inf,
       Moments(gamma(9.0, 6.0, 20.0), 20.0, 30.0)},
      {"gamma(41, 6) below 0.5", [] { return RandNum_TruncatedGamma(41.0, 6.0, -inf, 0.5); }, 0.0, 0.5,
       Moments(gamma(41.0, 6.0, 0.5), 0.0, 0.5)},
      {"gamma(2, 1) in [700, 710]", [] { return RandNum_TruncatedGamma(2.0, 1.0, 700.0, 710.0); }, 700.0, 710.0,
       Moments(gamma(2.0, 1.0, 700.0), 700.0, 710.0)},
      // Density x^-0.7 on (0, r] to within e^-r: mean 0.3 / 1.3 r, E x^2 = 0.3 / 2.3 r^2.
      {"gamma(0.3, 1) below 1e-20", [] { return RandNum_TruncatedGamma(0.3, 1.0, 0.0, 1e-20); }, 0.0, r,
       {0.3 / 1.3 * r, (0.3 / 2.3 - (0.3 / 1.3) * (0.3 / 1.3)) * r * r}},
      {"beta(21, 81) above 0.9", [] { return RandNum_TruncatedBeta(21.0, 81.0, 0.9, inf); }, 0.9, 1.0,
       Moments(beta(21.0, 81.0, 0.9), 0.9, 1.0)},
      {"beta(2, 8) in [0.9, 0.95]", [] { return RandNum_TruncatedBeta(2.0, 8.0, 0.9, 0.95); }, 0.9, 0.95,
       Moments(beta(2.0, 8.0, 0.9), 0.9, 0.95)},
      {"beta(0.001, 5) above 0.5", [] { return RandNum_TruncatedBeta(0.001, 5.0, 0.5, 1.0); }, 0.5, 1.0,
       Moments(beta(0.001, 5.0, 0.5), 0.5, 1.0)},
      {"beta(300, 2) below 0.9", [] { return RandNum_TruncatedBeta(300.0, 2.0, 0.0, 0.9); }, 0.0, 0.9,
       Moments(beta(300.0, 2.0, 0.9), 0.8, 0.9)},
      // Density x^-1/2 on [c, 2c]: mean c (2^1.5 - 1) / (3 (2^0.5 - 1)),
      // E x^2 = c^2 (2^2.5 - 1) / (5 (2^0.5 - 1)).
      {"beta(0.5, 0.5) in [1e-12, 2e-12]", [] { return RandNum_TruncatedBeta(0.5, 0.5, 1e-12, 2e-12); }, c, 2.0 * c,
       {c * (std::pow(2.0, 1.5) - 1.0) / (3.0 * (std::sqrt(2.0) - 1.0)),
        c * c * ((std::pow(2.0, 2.5) - 1.0) / (5.0 * (std::sqrt(2.0) - 1.0)) -
                 std::pow((std::pow(2.0, 1.5) - 1.0) / (3.0 * (std::sqrt(2.0) - 1.0)), 2.0))}},
  };
  for (const Case& k : cases) {
    const int draws = 20000;
    int uniforms = 0;
    std::vector<double> x;
    for (int i = 0; i < draws; ++i) uniforms += DrawsBy([&] { x.push_back(k.draw()); });
    for (double v : x) ASSERT_TRUE(v >= k.lo && v <= k.hi) << k.name << " " << v;
    EXPECT_LE(uniforms, 4 * draws) << k.name;
    ExpectMoments(x, k.moments.first, k.moments.second, k.name);
  }
  // Bounds that hold nothing, and parameters out of range, give no number.
  EXPECT_TRUE(std::isnan(RandNum_TruncatedGamma(2.0, 1.0, -5.0, -1.0)));
  EXPECT_TRUE(std::isnan(RandNum_TruncatedBeta(2.0, 2.0, 1.5, 2.0)));
  EXPECT_TRUE(std::isnan(RandNum_TruncatedGamma(2.0, 1.0, 3.0, 2.0)));
  EXPECT_TRUE(std::isnan(RandNum_TruncatedGamma(-1.0, 1.0, 3.0, 4.0)));
  EXPECT_TRUE(std::isnan(RandNum_TruncatedBeta(2.0, 2.0, 0.2, std::nan(""))));
}

// The streams of a run's chains: the first is the run's own seed; the
// others are fixed by seed and number alone, within the generator's range,
// and differ from each other and from those of a nearby seed.
TEST(RandNumStreamSeedTest, EachChainHasItsOwnReproducibleSeed) {
  EXPECT_EQ(RandNum_StreamSeed(314159, 1), 314159);
  std::set<int32_t> seen;
  for (int32_t seed : {1, 2, 314159, 2147483646}) {
    for (int32_t k = 2; k <= 64; ++k) {
      const int32_t s = RandNum_StreamSeed(seed, k);
      EXPECT_EQ(s, RandNum_StreamSeed(seed, k));
      EXPECT_GE(s, 1);
      EXPECT_LE(s, 2147483646);
      seen.insert(s);
    }
  }
  EXPECT_EQ(seen.size(), 4u * 63u);
  // A stream started from a derived seed is a working stream of its own.
  RandNum_Stream a, b;
  RandNum_StartFrom(a, RandNum_StreamSeed(7, 2));
  RandNum_StartFrom(b, RandNum_StreamSeed(7, 3));
  EXPECT_NE(a.table, b.table);
  RandNum_Stream* const bound = RandNum_stream;
  RandNum_Bind(&a);
  const double u = RandNum_Rand();
  RandNum_Bind(bound);
  EXPECT_GT(u, 0.0);
  EXPECT_LT(u, 1.0);
}

}  // namespace
