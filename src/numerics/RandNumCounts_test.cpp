// The count generators against their exact laws by chi-square tests, on both
// sides of the sizes where they change method, and the number of uniforms a
// draw takes as the parameter grows.
#include "numerics/RandNum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Stats.h"
#include "numerics/SpecFunc.h"

namespace {

constexpr double largestCount = 2147483647.0;
using LD = long double;

// How many uniforms fn drew, read from the seed's movement.
long DrawsBy(const std::function<void()>& fn) {
  int64_t s = RandNum_GetSeed();
  fn();
  const int64_t now = RandNum_GetSeed();
  for (long k = 0; k < 10000000; ++k, s = s * 16807 % 2147483647)
    if (s == now) return k;
  return -1;
}

// Cells of a count's support: cell i holds the counts in [upper[i - 1],
// upper[i]), the last up to infinity. A cell closes once it expects `least`
// draws; the last takes whatever remains.
struct Cells {
  double draws, least, open = 0.0;
  std::vector<double> upper, prob;
  void Add(double hi, double p) {
    if ((open += p) * draws < least) return;
    upper.push_back(hi);
    prob.push_back(open);
    open = 0.0;
  }
  Cells& Finish() {
    if (prob.empty()) prob.push_back(0.0), upper.push_back(0.0);
    prob.back() += open;
    upper.back() = INFINITY;
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

// A law of a count: the draw, the exact log probability (long double
// log-gamma functions) and the ratio P(k + 1) / P(k), the mean and variance,
// and a window [from, to] holding all but a negligible part of it. The
// probabilities run by the ratios from `from`: millions of log-gamma calls
// would take seconds. The far end is checked against the log probability.
struct CountCase {
  std::string name;
  std::function<double()> draw;
  std::function<LD(double)> logProb, ratio;
  double mean, var, from = 0.0, to = 0.0;
};

void ExpectExactLaw(CountCase c, double sds = 10.0, double top = largestCount) {
  const int draws = 200000;
  c.from = std::max(0.0, std::floor(c.mean - 10.0 * std::sqrt(c.var) - 40.0));
  c.to = std::min(top, std::ceil(c.mean + sds * std::sqrt(c.var) + 40.0));
  Cells cells{draws, std::max(5.0, draws / 200.0), 0.0, {}, {}};
  LD p = std::exp(c.logProb(c.from)), total = 0.0L;
  for (double k = c.from;; k += 1.0) {
    cells.Add(k + 1.0, static_cast<double>(p));
    total += p;
    if (k == c.to) break;
    p *= c.ratio(k);
  }
  EXPECT_NEAR(static_cast<double>(std::log(p)), static_cast<double>(c.logProb(c.to)), 1e-6) << c.name;
  EXPECT_NEAR(static_cast<double>(total), 1.0, 1e-8) << c.name << ": the window misses part of the law";
  for (double& q : cells.Finish().prob) q /= static_cast<double>(total);
  std::vector<double> x(draws);
  for (double& v : x) {
    v = c.draw();
    ASSERT_TRUE(v == std::trunc(v) && v >= 0.0) << c.name << " gave " << v;
  }
  EXPECT_GT(ChiSquarePValue(x, cells), 0.001) << c.name;
  test::ExpectMoments(test::IndependentMoments(x), c.mean, c.var, 5.0, c.name);
}

void Binomial(double p, double n) {
  ExpectExactLaw({"Binomial(" + std::to_string(p) + ", " + std::to_string(n) + ")",
                  [p, n] { return RandNum_Binomial(p, n); },
                  [p, n](double k) {
                    return std::lgamma(LD(n) + 1) - std::lgamma(LD(k) + 1) - std::lgamma(LD(n - k) + 1) +
                           k * std::log(LD(p)) + (n - k) * std::log1p(-LD(p));
                  },
                  [p, n](double k) { return (LD(n) - k) / (k + 1.0L) * p / (1.0L - LD(p)); }, n * p, n * p * (1 - p)},
                 10.0, n);
}

void Poisson(double m) {
  ExpectExactLaw({"Poisson(" + std::to_string(m) + ")", [m] { return RandNum_Poisson(m); },
                  [m](double k) { return k * std::log(LD(m)) - m - std::lgamma(LD(k) + 1); },
                  [m](double k) { return LD(m) / (k + 1.0L); }, m, m});
}

// The right tail is longer than a normal one; 15 sd holds it.
void NegativeBinomial(double p, double r) {
  const double mean = r * (1.0 - p) / p;
  ExpectExactLaw({"NegativeBinomial(" + std::to_string(p) + ", " + std::to_string(r) + ")",
                  [p, r] { return RandNum_NegativeBinomial(p, r); },
                  [p, r](double k) {
                    return std::lgamma(LD(k) + r) - std::lgamma(LD(k) + 1) - std::lgamma(LD(r)) + r * std::log(LD(p)) +
                           k * std::log1p(-LD(p));
                  },
                  [p, r](double k) { return (k + LD(r)) / (k + 1.0L) * (1.0L - p); }, mean, mean / p},
                 15.0, INFINITY);
}

class RandNumCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(77003));
  }
};

// Binomial: around 100 trials (counted up to 100, by rejection above),
// means below 10 (by inversion) and just above, probabilities above one half
// (the failures drawn), sizes up to the largest count. Poisson: around a
// mean of 100 (multiplication up to it, rejection above). Negative binomial
// with p = 0.1 and r = 10: the Poisson means straddle 100.
TEST_F(RandNumCounts, CountsFollowTheirExactLaws) {
  for (auto [p, n] : {std::pair{0.5, 100.0}, {0.5, 101.0}, {0.3, 120.0}, {0.1, 101.0}, {0.09, 101.0}, {0.97, 5000.0},
                      {0.5, 1.0E8}, {1.0E-6, 1.0E8}, {1.0E-9, 1.0E8}, {0.999999, 1.0E8}, {0.25, largestCount}})
    Binomial(p, n);
  for (double m : {99.5, 100.0, 100.5, 150.0, 1000.0, 1.0E4, 1.0E6, 1.0E9, 2.0E9}) Poisson(m);
  for (auto [p, r] : {std::pair{0.4, 3.0}, {0.1, 10.0}, {0.01, 10.0}, {0.5, 5000.0}, {1.0E-4, 1000.0}})
    NegativeBinomial(p, r);
}

// Each cell's count is a binomial share of what is left: with 150 in all the
// first cell is drawn by rejection and the later ones by counting; with 1e8
// every cell by rejection.
TEST_F(RandNumCounts, MultinomialOfLargeTotalsHasItsMoments) {
  const std::vector<double> p = {0.5, 0.3, 0.2};
  for (double total : {150.0, 1.0E8}) {
    std::vector<std::vector<double>> cells(3, std::vector<double>(20000));
    std::vector<double> x(3);
    for (std::size_t k = 0; k < 20000; ++k) {
      ASSERT_TRUE(RandNum_Multinomial(p, x, total, 3));
      ASSERT_EQ(x[0] + x[1] + x[2], total);
      for (std::size_t i = 0; i < 3; ++i) cells[i][k] = x[i];
    }
    for (std::size_t i = 0; i < 3; ++i)
      test::ExpectMoments(test::IndependentMoments(cells[i]), total * p[i], total * p[i] * (1.0 - p[i]), 5.0,
                          "cell " + std::to_string(i) + " of " + std::to_string(total));
  }
}

// Sum of k^-a over lo <= k <= hi: the first thousand terms directly, the
// rest by the integral with its end corrections through the third derivative.
double ZipfSum(double a, double lo, double hi) {
  double sum = 0.0, k = lo;
  for (; k <= hi && k < lo + 1000.0; k += 1.0) sum += std::pow(k, -a);
  if (k > hi) return sum;
  const auto f1 = [a](double x) { return -a * std::pow(x, -a - 1.0); };
  const auto f3 = [a](double x) { return -a * (a + 1.0) * (a + 2.0) * std::pow(x, -a - 3.0); };
  return sum + std::pow(k, 1.0 - a) * -std::expm1((1.0 - a) * std::log(hi / k)) / (a - 1.0) +
         0.5 * (std::pow(k, -a) + std::pow(hi, -a)) + (f1(hi) - f1(k)) / 12.0 - (f3(hi) - f3(k)) / 720.0;
}

// Exponents on both sides of the one (near 1 + 1/31) where the proposal is
// confined to the range of counts, and one within 1e-4 of 1, whose counts
// spread over the whole range. Cells: single counts, then growing by a quarter.
TEST_F(RandNumCounts, ZipfNearOneFollowsItsExactLaw) {
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

// Up to the limits the counting methods keep their streams: 100 trials take
// 100 uniforms, a Poisson count k of mean 100 takes k + 1. (Above them a
// draw by counting would stall the exact-law tests at sizes near 2^31.)
TEST_F(RandNumCounts, CountingMethodsUpToTheirLimits) {
  EXPECT_EQ(DrawsBy([] { RandNum_Binomial(0.5, 100.0); }), 100);
  for (int i = 0; i < 20; ++i) {
    double k = 0.0;
    const long used = DrawsBy([&k] { k = RandNum_Poisson(100.0); });
    EXPECT_EQ(used, static_cast<long>(k) + 1);
  }
}

}  // namespace
