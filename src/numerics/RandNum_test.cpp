#include "numerics/RandNum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "Stats.h"
#include "numerics/MatrixAl.h"
#include "numerics/SpecFunc.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity(), largestCount = 2147483647.0;
constexpr int N = 100000;
using LD = long double;

// How many uniforms fn drew, read from the seed's movement (64-bit arithmetic of its own).
long DrawsBy(const std::function<void()>& fn) {
  int64_t s = RandNum_GetSeed();
  fn();
  const int64_t now = RandNum_GetSeed();
  for (long k = 0; k < 10000000; ++k, s = s * 16807 % 2147483647)
    if (s == now) return k;
  return -1;
}

void Expect(const std::vector<double>& x, double mean, double var, const std::string& what) {
  test::ExpectMoments(test::IndependentMoments(x), mean, var, 5.0, what);
}

// Mean and variance of a density g (unnormalised) on [lo, hi] by Simpson's rule.
std::pair<double, double> Moments(const std::function<double(double)>& g, double lo, double hi) {
  const int k = 40000;
  const double h = (hi - lo) / k;
  double s0 = 0.0, s1 = 0.0, s2 = 0.0;
  for (int i = 0; i <= k; ++i) {
    const double x = lo + i * h, w = (i == 0 || i == k) ? 1.0 : (i % 2 ? 4.0 : 2.0);
    s0 += w * g(x), s1 += w * x * g(x), s2 += w * x * x * g(x);
  }
  return {s1 / s0, s2 / s0 - (s1 / s0) * (s1 / s0)};
}

void Seed(int32_t seed) {
  InitRandNum();
  ASSERT_TRUE(RandNum_SetSeed(seed));
}

class RandNumTest : public ::testing::Test {
  void SetUp() override { Seed(20240611); }
};

// The stream's exact values show in every scenario's output; here, the classic check value and the seeds refused.
TEST(RandNumStream, CongruentialStepAndRefusedSeeds) {
  Seed(1);
  for (int i = 0; i < 10000; ++i) RandNum_Rand();
  EXPECT_EQ(RandNum_GetSeed(), 1043618065);
  Seed(2147483646);  // the largest seed steps without overflow
  RandNum_Rand();
  const int32_t next = static_cast<int32_t>(2147483646LL * 16807 % 2147483647);
  EXPECT_EQ(RandNum_GetSeed(), next);
  for (int32_t bad : {0, -5, 2147483647}) {
    EXPECT_FALSE(RandNum_SetSeed(bad));
    EXPECT_EQ(RandNum_GetSeed(), next);
  }
}

TEST_F(RandNumTest, EdgeCases) {
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(RandNum_Bernoulli(0.0), 0.0);
    ASSERT_EQ(RandNum_Bernoulli(1.0), 1.0);
  }
  EXPECT_EQ(DrawsBy([] { RandNum_Binomial(0.5, 2.9999999); }), 3);
  EXPECT_EQ(DrawsBy([] { EXPECT_EQ(RandNum_Binomial(0.5, 0.0), 0.0); }), 0);
  EXPECT_EQ(DrawsBy([] { RandNum_Gamma1(1.0000005); }), 1);
  EXPECT_EQ(DrawsBy([] { RandNum_GumbelRightTail(0.0, 1.0, -3.0); }), 1);
  EXPECT_EQ(DrawsBy([] { EXPECT_EQ(RandNum_Poisson(1e12), 2147483647.0); }), 0);
  // Counting methods keep their streams: 100 trials take 100 uniforms, a Poisson count k of mean 100 k + 1.
  EXPECT_EQ(DrawsBy([] { RandNum_Binomial(0.5, 100.0); }), 100);
  for (int i = 0; i < 20; ++i) {
    double k = 0.0;
    const long used = DrawsBy([&k] { k = RandNum_Poisson(100.0); });
    EXPECT_EQ(used, static_cast<long>(k) + 1);
  }
  for (double shape : {0.0, -1.0}) EXPECT_TRUE(std::isnan(RandNum_Gamma1(shape))) << shape;
  for (double a : {1.0, 0.5, -2.0}) EXPECT_TRUE(std::isnan(RandNum_Zipf(a))) << a;
  EXPECT_EQ(RandNum_Geometric(1.0), 1.0);
  EXPECT_EQ(RandNum_Geometric(0.0), 2147483647.0);
  // The second polar deviate waits for the next caller of any normal generator.
  Seed(99);
  const double z1 = RandNum_StandardNormal(), z2 = RandNum_StandardNormal();
  Seed(99);
  EXPECT_EQ(RandNum_StandardNormal(), z1);
  EXPECT_EQ(DrawsBy([&] { EXPECT_EQ(RandNum_Normal(3.0, 4.0), z2 / 2.0 + 3.0); }), 0);
}

// Laws no model's prior draws show (the sampler tests draw sixteen priors); tiny beta shapes stay strictly inside (0, 1).
TEST_F(RandNumTest, MeansAndVariancesOfEveryLaw) {
  const double z3 = 1.2020569032 / 1.0823232337, z2 = 1.6449340668 / 1.0823232337;  // zeta ratios
  const struct {
    const char* name; std::function<double()> draw; double mean, var; bool insideUnit = false;
  } laws[] = {
      {"Rand", RandNum_Rand, 0.5, 1.0 / 12.0, true}, {"StandardNormal", RandNum_StandardNormal, 0.0, 1.0},
      {"Gamma shape 0.3", [] { return RandNum_Gamma(0.3, 2.0); }, 0.15, 0.075},
      {"Gamma shape 1.7", [] { return RandNum_Gamma(1.7, 0.5); }, 3.4, 6.8},
      {"Gamma shape 7.5", [] { return RandNum_Gamma(7.5, 3.0); }, 2.5, 7.5 / 9.0},
      {"Gamma1 shape 40", [] { return RandNum_Gamma1(40.0); }, 40.0, 40.0},
      {"Beta(0.001, 0.001)", [] { return RandNum_Beta(0.001, 0.001); }, 0.5, 0.25 / 1.002, true},
      {"Beta(3.001, 0.001)", [] { return RandNum_Beta(3.001, 0.001); }, 3.001 / 3.002, 3.001 * 0.001 / (3.002 * 3.002 * 4.002), true},
      {"Fdist", [] { return RandNum_Fdist(5.0, 20.0); }, 20.0 / 18.0, 2.0 * 400.0 * 23.0 / (5.0 * 324.0 * 16.0)},
      {"Bernoulli", [] { return RandNum_Bernoulli(0.3); }, 0.3, 0.21}, {"Zipf", [] { return RandNum_Zipf(4.0); }, z3, z2 - z3 * z3},
  };
  for (const auto& law : laws) {
    std::vector<double> x(N);
    for (double& v : x) v = law.draw();
    for (double v : x) ASSERT_TRUE(!law.insideUnit || (v > 0.0 && v < 1.0)) << law.name << " " << v;
    Expect(x, law.mean, law.var, law.name);
  }
}

// Products of a multivariate normal draw (covariance a3inv) have means s_ij and variances s_ij^2 + s_ii s_jj;
// a Wishart draw of k degrees of freedom k times these. (Tiny Dirichlet shapes: the posterior suite.)
TEST_F(RandNumTest, VectorAndMatrixVariates) {
  const std::vector<double> a3 = {4, 2, 0, 2, 5, 1, 0, 1, 3},
                            a3inv = {14 / 44., -6 / 44., 2 / 44., -6 / 44., 12 / 44., -4 / 44., 2 / 44., -4 / 44., 16 / 44.};
  const std::vector<double> alpha = {1.0, 2.0, 3.5}, p = {0.2, 0.3, 0.5}, mu = {1.0, -2.0, 0.5};
  std::vector<double> U = a3, R = a3, x(3), W(9);
  ASSERT_TRUE(MatrixAl_LUDecomp(U.data(), 3));
  ASSERT_TRUE(MatrixAl_InvertMatrixULDecomp(R.data(), 3));
  const double k = 5.5;
  std::vector<std::vector<double>> cols(24, std::vector<double>(N));  // Dirichlet, normal products, Wishart, normal
  for (int d = 0; d < N; ++d) {
    ASSERT_TRUE(RandNum_Direchlet(alpha, x, 3));
    ASSERT_NEAR(x[0] + x[1] + x[2], 1.0, 1e-12);
    for (int i = 0; i < 3; ++i) cols[i][d] = x[i];
    ASSERT_TRUE(RandNum_MNormal(mu, U, x, 3));
    for (int e = 0; e < 9; ++e) cols[3 + e][d] = (x[e / 3] - mu[e / 3]) * (x[e % 3] - mu[e % 3]);
    for (int i = 0; i < 3; ++i) cols[21 + i][d] = x[i];
    ASSERT_TRUE(RandNum_Wishart(R, W, k, 3));
    ASSERT_TRUE(W[1] == W[3] && W[5] == W[7]);
    for (int e = 0; e < 9; ++e) cols[12 + e][d] = W[e];
  }
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    Expect(cols[i], alpha[i] / 6.5, alpha[i] * (6.5 - alpha[i]) / (6.5 * 6.5 * 7.5), "Dirichlet " + n);
    Expect(cols[21 + i], mu[i], a3inv[i * 4], "MNormal " + n);
  }
  for (int e = 0; e < 9; ++e) {
    const double s = a3inv[e], v = s * s + a3inv[e / 3 * 4] * a3inv[e % 3 * 4];
    Expect(cols[3 + e], s, v, "MNormal product " + std::to_string(e));
    Expect(cols[12 + e], k * s, k * v, "Wishart " + std::to_string(e));
  }
  // Unusable arguments are refused without drawing or writing.
  std::vector<double> big(26 * 26, 0.0), y(26, 7.0), V(26 * 26, 7.0), notPositive = {1, 0, 0, -1}, I = {1, 0, 0, 1};
  for (int i = 0; i < 26; ++i) big[i * 26 + i] = 1.0;
  EXPECT_EQ(DrawsBy([&] {
              EXPECT_FALSE(RandNum_MNormal(y, big, y, 26));  // beyond the largest order
              EXPECT_FALSE(RandNum_Wishart(big, V, 30.0, 26));
              EXPECT_FALSE(RandNum_MNormal(y, notPositive, y, 2));
              EXPECT_FALSE(RandNum_Wishart(notPositive, V, 5.0, 2));
              EXPECT_FALSE(RandNum_Wishart(I, V, 1.0, 2));  // too few degrees of freedom
              EXPECT_FALSE(RandNum_Wishart(I, std::span<double>(V).first(3), 5.0, 2));
              EXPECT_FALSE(RandNum_MNormal(y, I, y, -1));
              EXPECT_FALSE(RandNum_Direchlet(alpha, x, 4));  // more than the arrays hold
              EXPECT_FALSE(RandNum_Multinomial(p, std::span<double>(x).first(2), 10.0, 3));
            }),
            0);
  for (double v : y) EXPECT_EQ(v, 7.0);
  for (double v : V) EXPECT_EQ(v, 7.0);
  EXPECT_TRUE(RandNum_Wishart(I, V, 1.5, 2));  // just above n - 1
}

// Bounded draws stay within bounds with the restricted law's moments. Truncated gamma and beta: where the bounds
// hold 0.1 or more, the plain draw repeated; elsewhere (far tails, narrow intervals) one uniform a draw, or a few.
TEST_F(RandNumTest, BoundedDraws) {
  // Kernels shifted by their value at one end so that nothing underflows.
  const auto gamma = [](double a, double b, double at) {
    return [=](double x) { return std::exp((a - 1.0) * std::log(x / at) - b * (x - at)); };
  };
  const auto beta = [](double a, double b, double at) {
    return [=](double x) { return std::exp((a - 1.0) * std::log(x / at) + (b - 1.0) * (std::log1p(-x) - std::log1p(-at))); };
  };
  auto [wm, wv] = Moments([](double x) { return std::sqrt(x) * std::exp(-0.7 * x * std::sqrt(x)); }, 1.2, 41.2);
  auto [ym, yv] = Moments([](double y) { return std::exp(-y - std::exp(-y)); }, 1.0, 61.0);
  const auto normal = [](double a) {  // the mean and variance of a standard normal beyond |a|
    const double b = std::fabs(a), r = std::exp(-0.5 * b * b) / std::sqrt(2.0 * std::numbers::pi) / (0.5 * std::erfc(b / std::numbers::sqrt2));
    return std::pair{a >= 0 ? r : -r, 1.0 + b * r - r * r};
  };
  const double c = 1e-12, r = 1e-20, q = std::sqrt(2.0) - 1.0, m = (std::pow(2.0, 1.5) - 1.0) / (3.0 * q);
  const struct {
    const char* name; std::function<double()> draw; double lo, hi; std::pair<double, double> moments; int maxUniforms = 4;
  } cases[] = {  // the first three hold 0.1 or more; the posterior suite's tails (gammatail, betatail...) are left out
      {"gamma(2, 1) in [0.5, 3]", [] { return RandNum_TruncatedGamma(2.0, 1.0, 0.5, 3.0); }, 0.5, 3.0, Moments(gamma(2.0, 1.0, 0.5), 0.5, 3.0), 100},
      {"beta(13, 11) in [0.5, 0.9]", [] { return RandNum_TruncatedBeta(13.0, 11.0, 0.5, 0.9); }, 0.5, 0.9, Moments(beta(13.0, 11.0, 0.5), 0.5, 0.9), 100},
      {"gamma(22, 8) below 3", [] { return RandNum_TruncatedGamma(22.0, 8.0, -inf, 3.0); }, 0.0, 3.0, Moments(gamma(22.0, 8.0, 3.0), 0.0, 3.0), 100},
      {"gamma(2, 1) in [700, 710]", [] { return RandNum_TruncatedGamma(2.0, 1.0, 700.0, 710.0); }, 700.0, 710.0, Moments(gamma(2.0, 1.0, 700.0), 700.0, 710.0)},
      // Density x^-0.7 on (0, r] to within e^-r.
      {"gamma(0.3, 1) below 1e-20", [] { return RandNum_TruncatedGamma(0.3, 1.0, 0.0, 1e-20); }, 0.0, r, {0.3 / 1.3 * r, (0.3 / 2.3 - (0.3 / 1.3) * (0.3 / 1.3)) * r * r}},
      {"beta(0.001, 5) above 0.5", [] { return RandNum_TruncatedBeta(0.001, 5.0, 0.5, 1.0); }, 0.5, 1.0, Moments(beta(0.001, 5.0, 0.5), 0.5, 1.0)},
      {"beta(300, 2) below 0.9", [] { return RandNum_TruncatedBeta(300.0, 2.0, 0.0, 0.9); }, 0.0, 0.9, Moments(beta(300.0, 2.0, 0.9), 0.8, 0.9)},
      // Density x^-1/2 on [c, 2c].
      {"beta(0.5, 0.5) in [1e-12, 2e-12]", [] { return RandNum_TruncatedBeta(0.5, 0.5, 1e-12, 2e-12); }, c, 2.0 * c,
       {c * m, c * c * ((std::pow(2.0, 2.5) - 1.0) / (5.0 * q) - m * m)}},
      // Tails of other laws, uniforms not counted. Gumbel: the standard law above 1, rescaled; far out, exponential.
      {"normal above 2", [] { return RandNum_StandardNormalTail(2.0); }, 2.0, inf, normal(2.0), 0},
      {"normal above 0.5", [] { return RandNum_StandardNormalTail(0.5); }, 0.5, inf, normal(0.5), 0},
      {"normal below -1.5", [] { return RandNum_StandardNormalTail(-1.5); }, -inf, -1.5, normal(-1.5), 0},
      {"Weibull(1.5, 0.7) above 1.2", [] { return RandNum_WeibullTail(1.5, 0.7, 1.2); }, 1.2, inf, {wm, wv}, 0},
      {"Gumbel(1, 2) above 1.5", [] { return RandNum_GumbelRightTail(1.0, 2.0, 1.5); }, 1.5, inf, {1.0 + ym / 2.0, yv / 4.0}, 0},
      {"Gumbel tail at 35", [] { return RandNum_GumbelRightTail(0.0, 1.0, 35.0); }, 35.0, inf, {36.0, 1.0}, 0},
      {"Gumbel tail at 1000", [] { return RandNum_GumbelRightTail(0.0, 2.0, 1000.0); }, 1000.0, inf, {1000.5, 0.25}, 0},
  };
  for (const auto& k : cases) {
    const int draws = 20000;
    long uniforms = 0;
    std::vector<double> x;
    for (int i = 0; i < draws; ++i) uniforms += DrawsBy([&] { x.push_back(k.draw()); });
    for (double v : x) ASSERT_TRUE(v >= k.lo && v <= k.hi) << k.name << " " << v;
    if (k.maxUniforms > 0) { EXPECT_LE(uniforms, k.maxUniforms * draws) << k.name; }
    Expect(x, k.moments.first, k.moments.second, k.name);
  }
  // Where they hold 0.1 or more, the same numbers as the plain draw repeated until one falls inside.
  const std::function<double()> plain[] = {[] { return RandNum_Gamma(2.0, 1.0); }, [] { return RandNum_Beta(13.0, 11.0); },
                                           [] { return RandNum_Gamma(22.0, 8.0); }};
  for (size_t k = 0; k < 3; ++k) {
    Seed(99999);
    std::vector<double> drawn;
    for (int i = 0; i < 100; ++i) drawn.push_back(cases[k].draw());
    Seed(99999);
    for (double v : drawn) {
      double w = 0.0;
      do w = plain[k](); while (!(w >= cases[k].lo && w <= cases[k].hi));
      ASSERT_EQ(v, w) << cases[k].name;
    }
  }
  // Bounds that hold nothing, and parameters out of range, give no number.
  for (double v : {RandNum_TruncatedGamma(2.0, 1.0, -5.0, -1.0), RandNum_TruncatedBeta(2.0, 2.0, 1.5, 2.0),
                   RandNum_TruncatedGamma(2.0, 1.0, 3.0, 2.0), RandNum_TruncatedGamma(-1.0, 1.0, 3.0, 4.0),
                   RandNum_TruncatedBeta(2.0, 2.0, 0.2, std::nan(""))})
    EXPECT_TRUE(std::isnan(v));
}

// Cells of a count's support: cell i holds [upper[i - 1], upper[i]); it closes once it expects `least` draws.
struct Cells {
  double draws, least, open = 0.0;
  std::vector<double> upper, prob;
  void Add(double hi, double p) {
    if ((open += p) * draws < least) return;
    upper.push_back(hi), prob.push_back(open), open = 0.0;
  }
  Cells& Finish() {
    if (prob.empty()) prob.push_back(0.0), upper.push_back(0.0);
    prob.back() += open, upper.back() = INFINITY;
    return *this;
  }
};

// The upper-tail probability of the chi-square statistic of the draws.
double ChiSquarePValue(const std::vector<double>& x, const Cells& cells) {
  std::vector<double> observed(cells.prob.size(), 0.0);
  for (double v : x) observed[std::upper_bound(cells.upper.begin(), cells.upper.end(), v) - cells.upper.begin()] += 1.0;
  double stat = 0.0;
  for (std::size_t i = 0; i < observed.size(); ++i) {
    const double expected = cells.prob[i] * static_cast<double>(x.size());
    stat += (observed[i] - expected) * (observed[i] - expected) / expected;
  }
  return std::exp(SpecFunc_LogGammaQ(0.5 * (static_cast<double>(observed.size()) - 1.0), 0.5 * stat));
}

// A count law: its draw, exact log probability, ratio P(k + 1) / P(k), moments, and how many sd above the mean
// (and how far at most) its window reaches. Probabilities run by the ratios; the far end is checked by logProb.
struct CountCase {
  std::string name; std::function<double()> draw; std::function<LD(double)> logProb, ratio;
  double mean, var, sds = 10.0, top = largestCount;
};

void ExpectExactLaw(const CountCase& c) {
  const int draws = 200000;
  const double from = std::max(0.0, std::floor(c.mean - 10.0 * std::sqrt(c.var) - 40.0));
  const double to = std::min(c.top, std::ceil(c.mean + c.sds * std::sqrt(c.var) + 40.0));
  Cells cells{draws, std::max(5.0, draws / 200.0), 0.0, {}, {}};
  LD p = std::exp(c.logProb(from)), total = 0.0L;
  for (double k = from;; k += 1.0) {
    cells.Add(k + 1.0, static_cast<double>(p));
    total += p;
    if (k == to) break;
    p *= c.ratio(k);
  }
  EXPECT_NEAR(static_cast<double>(std::log(p)), static_cast<double>(c.logProb(to)), 1e-6) << c.name;
  EXPECT_NEAR(static_cast<double>(total), 1.0, 1e-8) << c.name << ": the window misses part of the law";
  for (double& q : cells.Finish().prob) q /= static_cast<double>(total);
  std::vector<double> x(draws);
  for (double& v : x) {
    v = c.draw();
    ASSERT_TRUE(v == std::trunc(v) && v >= 0.0) << c.name << " gave " << v;
  }
  EXPECT_GT(ChiSquarePValue(x, cells), 0.001) << c.name;
  Expect(x, c.mean, c.var, c.name);
}

// Binomial: around 100 trials (counting, then rejection), means either side of 10 (inversion), p above one half,
// sizes up to the largest count. Poisson: means about 100. Negative binomial (p = 0.1, r = 10: its Poisson means
// straddle 100): 15 sd hold its tail.
TEST_F(RandNumTest, CountsFollowTheirExactLaws) {
  Seed(77003);
  const auto lnChoose = [](LD n, LD k) { return std::lgamma(n + 1) - std::lgamma(k + 1) - std::lgamma(n - k + 1); };
  for (auto [p, n] : {std::pair{0.5, 100.0}, {0.5, 101.0}, {0.3, 120.0}, {0.1, 101.0}, {0.09, 101.0}, {0.97, 5000.0},
                      {0.5, 1.0E8}, {1.0E-6, 1.0E8}, {1.0E-9, 1.0E8}, {0.999999, 1.0E8}, {0.25, largestCount}})
    ExpectExactLaw({"Binomial(" + std::to_string(p) + ", " + std::to_string(n) + ")", [p, n] { return RandNum_Binomial(p, n); },
                    [=](double k) { return lnChoose(n, k) + k * std::log(LD(p)) + (n - k) * std::log1p(-LD(p)); },
                    [p, n](double k) { return (LD(n) - k) / (k + 1.0L) * p / (1.0L - LD(p)); }, n * p, n * p * (1 - p), 10.0, n});
  for (double m : {99.5, 100.0, 100.5, 150.0, 1000.0, 1.0E4, 1.0E6, 1.0E9, 2.0E9})
    ExpectExactLaw({"Poisson(" + std::to_string(m) + ")", [m] { return RandNum_Poisson(m); },
                    [m](double k) { return k * std::log(LD(m)) - m - std::lgamma(LD(k) + 1); },
                    [m](double k) { return LD(m) / (k + 1.0L); }, m, m});
  for (auto [p, r] : {std::pair{0.4, 3.0}, {0.1, 10.0}, {0.01, 10.0}, {0.5, 5000.0}, {1.0E-4, 1000.0}})
    ExpectExactLaw({"NegativeBinomial(" + std::to_string(p) + ", " + std::to_string(r) + ")",
                    [p, r] { return RandNum_NegativeBinomial(p, r); },
                    [=](double k) { return lnChoose(LD(k) + r - 1, k) + r * std::log(LD(p)) + k * std::log1p(-LD(p)); },
                    [p, r](double k) { return (k + LD(r)) / (k + 1.0L) * (1.0L - p); }, r * (1.0 - p) / p, r * (1.0 - p) / (p * p),
                    15.0, INFINITY});
}

// Each cell is a binomial share of what is left: 10 in all by counting; 150 by rejection, then counting; 1e8 by rejection.
TEST_F(RandNumTest, MultinomialHasItsMoments) {
  const std::vector<double> p = {0.5, 0.3, 0.2};
  for (double total : {10.0, 150.0, 1.0E8}) {
    std::vector<double> x(3), cells[3];
    for (std::size_t k = 0; k < 20000; ++k) {
      ASSERT_TRUE(RandNum_Multinomial(p, x, total, 3));
      ASSERT_EQ(x[0] + x[1] + x[2], total);
      for (std::size_t i = 0; i < 3; ++i) cells[i].push_back(x[i]);
    }
    for (std::size_t i = 0; i < 3; ++i)
      Expect(cells[i], total * p[i], total * p[i] * (1.0 - p[i]), "cell " + std::to_string(i) + " of " + std::to_string(total));
  }
}

// Sum of k^-a over lo <= k <= hi: a thousand terms directly, the rest by the integral with end corrections.
double ZipfSum(double a, double lo, double hi) {
  double sum = 0.0, k = lo;
  for (; k <= hi && k < lo + 1000.0; k += 1.0) sum += std::pow(k, -a);
  if (k > hi) return sum;
  const auto f1 = [a](double x) { return -a * std::pow(x, -a - 1.0); };
  const auto f3 = [a](double x) { return -a * (a + 1.0) * (a + 2.0) * std::pow(x, -a - 3.0); };
  return sum + std::pow(k, 1.0 - a) * -std::expm1((1.0 - a) * std::log(hi / k)) / (a - 1.0) +
         0.5 * (std::pow(k, -a) + std::pow(hi, -a)) + (f1(hi) - f1(k)) / 12.0 - (f3(hi) - f3(k)) / 720.0;
}

// Exponents either side of 1 + 1/31 (where the proposal is confined to the range of counts), and 1.0001.
TEST_F(RandNumTest, ZipfNearOneFollowsItsExactLaw) {
  Seed(77003);
  constexpr int draws = 200000;
  for (double a : {1.035, 1.03, 1.01, 1.0001}) {
    const double total = ZipfSum(a, 1.0, largestCount);
    Cells cells{draws, 5.0, 0.0, {}, {}};
    for (double lo = 1.0, hi; lo <= largestCount; lo = hi + 1.0) {
      hi = std::min(largestCount, lo < 20.0 ? lo : std::floor(lo * 1.25));
      cells.Add(hi + 1.0, ZipfSum(a, lo, hi) / total);
    }
    std::vector<double> x(draws);
    for (double& v : x) {
      v = RandNum_Zipf(a);
      ASSERT_TRUE(v >= 1.0 && v <= largestCount && v == std::trunc(v)) << a << " gave " << v;
    }
    EXPECT_GT(ChiSquarePValue(x, cells.Finish()), 0.001) << "Zipf " << a;
  }
}

}  // namespace
