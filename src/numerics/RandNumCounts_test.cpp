// The count generators at every size: the binomial, Poisson, negative
// binomial and zipf variates against their exact laws by chi-square tests,
// on both sides of the sizes where the generators change method, and the
// number of uniforms a draw takes as the parameter grows.
#include "numerics/RandNum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Stats.h"
#include "numerics/SpecFunc.h"

namespace {

constexpr int64_t modulus = 2147483647;
constexpr double largestCount = 2147483647.0;

// How many uniforms fn drew, read from the seed's movement.
long DrawsBy(const std::function<void()>& fn) {
  int64_t s = RandNum_GetSeed();
  fn();
  const int64_t now = RandNum_GetSeed();
  for (long k = 0; k < 10000000; ++k, s = s * 16807 % modulus)
    if (s == now) return k;
  return -1;
}

// Cells of a count's support: cell i holds the counts below upper[i] and at
// or above upper[i - 1] (the first reaches down to minus infinity, the last
// up to infinity), with probability prob[i].
struct Cells {
  std::vector<double> upper;
  std::vector<double> prob;
};

// Adds probability to the cell being filled and closes it once its expected
// count reaches `least`; the last cell takes whatever remains unclosed.
class CellBuilder {
 public:
  CellBuilder(double draws, double least) : draws_(draws), least_(least) {}
  // The counts [lo, hi) with probability p.
  void Add(double hi, double p) {
    open_ += p;
    if (open_ * draws_ >= least_) {
      cells_.upper.push_back(hi);
      cells_.prob.push_back(open_);
      open_ = 0.0;
    }
  }
  Cells Finish() {
    if (cells_.prob.empty()) {
      cells_.prob.push_back(open_);
      cells_.upper.push_back(INFINITY);
    } else {
      cells_.prob.back() += open_;
      cells_.upper.back() = INFINITY;
    }
    return cells_;
  }

 private:
  double draws_, least_;
  double open_ = 0.0;
  Cells cells_;
};

// The cells of a law over [from, to], which must hold all but a negligible
// part of it; each cell is expected to hold at least 5 draws and at least
// 1/200 of them, so that a few hundred cells at most test the shape. The
// probabilities come from the exact log probability (log-gamma functions
// in long double) at `from` and, one count at a time from there, the exact
// ratio P(k + 1) / P(k): millions of log-gamma evaluations would take
// seconds, the ratios milliseconds. The far end is checked against the log
// probability itself.
Cells CellsOf(const std::function<long double(double)>& logProb, const std::function<long double(double)>& ratio,
              double from, double to, int draws) {
  CellBuilder b(draws, std::max(5.0, draws / 200.0));
  long double p = std::exp(logProb(from));
  long double total = 0.0L;
  for (double k = from;; k += 1.0) {
    b.Add(k + 1.0, static_cast<double>(p));
    total += p;
    if (k == to) break;
    p *= ratio(k);
  }
  EXPECT_NEAR(static_cast<double>(std::log(p)), static_cast<double>(logProb(to)), 1e-6) << "at " << to;
  // Long double log-gamma functions near 2^31 are exact to about 1e-9.
  EXPECT_NEAR(static_cast<double>(total), 1.0, 1e-8) << "the window misses part of the law";
  Cells cells = b.Finish();
  for (double& q : cells.prob) q /= static_cast<double>(total);
  return cells;
}

// The upper-tail probability of the chi-square statistic of the draws
// against the cells, with (cells - 1) degrees of freedom.
double ChiSquarePValue(const std::vector<double>& x, const Cells& cells) {
  std::vector<double> observed(cells.prob.size(), 0.0);
  for (double v : x) {
    const auto it = std::upper_bound(cells.upper.begin(), cells.upper.end(), v);
    observed[static_cast<std::size_t>(it - cells.upper.begin())] += 1.0;
  }
  double stat = 0.0;
  for (std::size_t i = 0; i < observed.size(); ++i) {
    const double expected = cells.prob[i] * static_cast<double>(x.size());
    stat += (observed[i] - expected) * (observed[i] - expected) / expected;
  }
  const double df = static_cast<double>(observed.size()) - 1.0;
  return std::exp(SpecFunc_LogGammaQ(0.5 * df, 0.5 * stat));
}

// Exact log probabilities, in long double from the log-gamma function.
long double LogBinomial(double k, double n, double p) {
  return std::lgamma(static_cast<long double>(n) + 1.0L) - std::lgamma(static_cast<long double>(k) + 1.0L) -
         std::lgamma(static_cast<long double>(n - k) + 1.0L) + k * std::log(static_cast<long double>(p)) +
         (n - k) * std::log1p(-static_cast<long double>(p));
}

long double LogPoisson(double k, double lambda) {
  const long double l = lambda;
  return k * std::log(l) - l - std::lgamma(static_cast<long double>(k) + 1.0L);
}

long double LogNegativeBinomial(double k, double p, double r) {
  return std::lgamma(static_cast<long double>(k) + r) - std::lgamma(static_cast<long double>(k) + 1.0L) -
         std::lgamma(static_cast<long double>(r)) + r * std::log(static_cast<long double>(p)) +
         k * std::log1p(-static_cast<long double>(p));
}

// A law of a count for the table-driven tests: the draw, the exact log
// probability and the ratio of successive probabilities, the mean and
// variance, and a window holding all but a negligible part of it.
struct CountCase {
  std::string name;
  std::function<double()> draw;
  std::function<long double(double)> logProb;
  std::function<long double(double)> ratio;  // P(k + 1) / P(k)
  double mean, var;
  double from, to;
  int draws = 200000;
};

// Mean +- 10 sd (and 40 more for small ones), within the support [0, top].
void Window(double mean, double sd, double top, double& from, double& to) {
  from = std::max(0.0, std::floor(mean - 10.0 * sd - 40.0));
  to = std::min(top, std::ceil(mean + 10.0 * sd + 40.0));
}

CountCase Binomial(double p, double n) {
  const double mean = n * p, var = n * p * (1.0 - p);
  CountCase c{"Binomial(" + std::to_string(p) + ", " + std::to_string(n) + ")",
              [p, n] { return RandNum_Binomial(p, n); },
              [p, n](double k) { return LogBinomial(k, n, p); },
              [p, n](double k) {
                return (static_cast<long double>(n) - k) / (k + 1.0L) * p / (1.0L - static_cast<long double>(p));
              },
              mean, var, 0.0, 0.0};
  Window(mean, std::sqrt(var), n, c.from, c.to);
  return c;
}

CountCase Poisson(double lambda) {
  CountCase c{"Poisson(" + std::to_string(lambda) + ")", [lambda] { return RandNum_Poisson(lambda); },
              [lambda](double k) { return LogPoisson(k, lambda); },
              [lambda](double k) { return static_cast<long double>(lambda) / (k + 1.0L); }, lambda, lambda, 0.0, 0.0};
  Window(lambda, std::sqrt(lambda), largestCount, c.from, c.to);
  return c;
}

CountCase NegativeBinomial(double p, double r) {
  const double mean = r * (1.0 - p) / p, var = mean / p;
  CountCase c{"NegativeBinomial(" + std::to_string(p) + ", " + std::to_string(r) + ")",
              [p, r] { return RandNum_NegativeBinomial(p, r); },
              [p, r](double k) { return LogNegativeBinomial(k, p, r); },
              [p, r](double k) { return (k + static_cast<long double>(r)) / (k + 1.0L) * (1.0L - p); }, mean, var,
              0.0, 0.0};
  // The right tail is longer than a normal one; 15 sd holds it.
  c.from = std::max(0.0, std::floor(mean - 10.0 * std::sqrt(var) - 40.0));
  c.to = std::ceil(mean + 15.0 * std::sqrt(var) + 40.0);
  return c;
}

void ExpectExactLaw(const CountCase& c) {
  std::vector<double> x(static_cast<std::size_t>(c.draws));
  for (double& v : x) {
    v = c.draw();
    ASSERT_EQ(v, std::trunc(v)) << c.name;
    ASSERT_GE(v, 0.0) << c.name;
  }
  const double p = ChiSquarePValue(x, CellsOf(c.logProb, c.ratio, c.from, c.to, c.draws));
  std::printf("  %-40s chi-square p = %.4f\n", c.name.c_str(), p);
  EXPECT_GT(p, 0.001) << c.name;
  test::ExpectMoments(test::IndependentMoments(x), c.mean, c.var, 5.0, c.name);
}

class RandNumCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRandNum();
    ASSERT_TRUE(RandNum_SetSeed(77003));
  }
};

// Around 100 trials (counted up to 100, by rejection above), means below
// 10 (by inversion) and just above, probabilities above one half (the
// failures drawn), and sizes up to the largest count.
TEST_F(RandNumCounts, BinomialFollowsItsExactLaw) {
  for (const CountCase& c : {Binomial(0.5, 100.0), Binomial(0.5, 101.0), Binomial(0.3, 120.0),
                             Binomial(0.1, 101.0), Binomial(0.09, 101.0), Binomial(0.97, 5000.0),
                             Binomial(0.5, 1.0E8), Binomial(1.0E-6, 1.0E8), Binomial(1.0E-9, 1.0E8),
                             Binomial(0.999999, 1.0E8), Binomial(0.25, largestCount)})
    ExpectExactLaw(c);
}

// Around a mean of 100 (the multiplicative method up to it, rejection
// above) and up to near the largest count.
TEST_F(RandNumCounts, PoissonFollowsItsExactLaw) {
  for (const CountCase& c : {Poisson(99.5), Poisson(100.0), Poisson(100.5), Poisson(150.0), Poisson(1000.0),
                             Poisson(1.0E4), Poisson(1.0E6), Poisson(1.0E9), Poisson(2.0E9)})
    ExpectExactLaw(c);
}

// A gamma mixture of Poisson counts: with p = 0.1 and r = 10 the Poisson
// means straddle 100, so both Poisson methods take part in one law.
TEST_F(RandNumCounts, NegativeBinomialFollowsItsExactLaw) {
  for (const CountCase& c : {NegativeBinomial(0.4, 3.0), NegativeBinomial(0.1, 10.0), NegativeBinomial(0.01, 10.0),
                             NegativeBinomial(0.5, 5000.0), NegativeBinomial(1.0E-4, 1000.0)})
    ExpectExactLaw(c);
}

// The multinomial takes each cell's count as a binomial share of what is
// left: with 150 in all the first cell is drawn by rejection and the later
// ones by counting; with 1e8 every cell by rejection. The counts add up to
// the total and each has the moments N p and N p (1 - p).
TEST_F(RandNumCounts, MultinomialOfLargeTotalsHasItsMoments) {
  const std::vector<double> p = {0.5, 0.3, 0.2};
  for (double total : {150.0, 1.0E8}) {
    const int n = 20000;
    std::vector<std::vector<double>> cells(3, std::vector<double>(n));
    std::vector<double> x(3);
    for (int k = 0; k < n; ++k) {
      ASSERT_TRUE(RandNum_Multinomial(p, x, total, 3));
      ASSERT_EQ(x[0] + x[1] + x[2], total);
      for (int i = 0; i < 3; ++i) cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] = x[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < 3; ++i) {
      const double q = p[static_cast<std::size_t>(i)];
      test::ExpectMoments(test::IndependentMoments(cells[static_cast<std::size_t>(i)]), total * q, total * q * (1.0 - q), 5.0,
                          "Multinomial cell " + std::to_string(i) + " of " + std::to_string(total));
    }
  }
}

// Sum of k^-a over lo <= k <= hi: directly for a short range, otherwise the
// first thousand terms directly and the rest by the integral with its end
// corrections through the third derivative (the next correction is below
// 1e-18 from k = 1000 on).
double ZipfSum(double a, double lo, double hi) {
  double sum = 0.0;
  double k = lo;
  for (; k <= hi && k < lo + 1000.0; k += 1.0) sum += std::pow(k, -a);
  if (k > hi) return sum;
  const double A = k, B = hi;
  const double integral = std::pow(A, 1.0 - a) * -std::expm1((1.0 - a) * std::log(B / A)) / (a - 1.0);
  const auto f1 = [a](double x) { return -a * std::pow(x, -a - 1.0); };
  const auto f3 = [a](double x) { return -a * (a + 1.0) * (a + 2.0) * std::pow(x, -a - 3.0); };
  return sum + integral + 0.5 * (std::pow(A, -a) + std::pow(B, -a)) + (f1(B) - f1(A)) / 12.0 -
         (f3(B) - f3(A)) / 720.0;
}

// Exponents on both sides of the one (near 1 + 1/31) where the proposal is
// confined to the range of counts, and one within 1e-4 of 1, whose counts
// spread over the whole range. Cells: the first counts singly, then growing
// by a quarter.
TEST_F(RandNumCounts, ZipfNearOneFollowsItsExactLaw) {
  constexpr int draws = 200000;
  for (double a : {1.035, 1.03, 1.01, 1.0001}) {
    const double total = ZipfSum(a, 1.0, largestCount);
    CellBuilder b(draws, 5.0);
    double lo = 1.0;
    while (lo <= largestCount) {
      const double hi = std::min(largestCount, lo < 20.0 ? lo : std::floor(lo * 1.25));
      b.Add(hi + 1.0, ZipfSum(a, lo, hi) / total);
      lo = hi + 1.0;
    }
    const Cells cells = b.Finish();
    std::vector<double> x(draws);
    for (double& v : x) {
      v = RandNum_Zipf(a);
      ASSERT_TRUE(v >= 1.0 && v <= largestCount && v == std::trunc(v)) << a << " gave " << v;
    }
    const double p = ChiSquarePValue(x, cells);
    std::printf("  Zipf(%g) chi-square p = %.4f\n", a, p);
    EXPECT_GT(p, 0.001) << "Zipf " << a;
  }
}

// Up to the limits the counting methods keep their streams: 100 trials
// take 100 uniforms, and a Poisson count k of mean 100 takes k + 1. Above
// them the average number of uniforms a draw takes stays under a bound that
// does not depend on the parameter.
TEST_F(RandNumCounts, UniformsPerDrawStopGrowingAboveTheLimits) {
  EXPECT_EQ(DrawsBy([] { RandNum_Binomial(0.5, 100.0); }), 100);
  for (int i = 0; i < 20; ++i) {
    double k = 0.0;
    const long used = DrawsBy([&k] { k = RandNum_Poisson(100.0); });
    EXPECT_EQ(used, static_cast<long>(k) + 1);
  }
  struct Growing {
    const char* name;
    std::function<double(double)> draw;
    std::vector<double> sizes;
    double bound;  // uniforms per draw, on average
  };
  const std::vector<Growing> table = {
      {"Binomial(0.5, n)", [](double n) { return RandNum_Binomial(0.5, n); }, {1.0E3, 1.0E5, 1.0E7, largestCount}, 3.0},
      {"Binomial(1e-6, n)", [](double n) { return RandNum_Binomial(1.0E-6, n); }, {1.0E4, 1.0E6, 1.0E8, largestCount}, 3.0},
      {"Poisson(m)", [](double m) { return RandNum_Poisson(m); }, {1.0E3, 1.0E5, 1.0E7, 2.0E9}, 3.0},
      {"NegativeBinomial(1 / s, 1000)", [](double s) { return RandNum_NegativeBinomial(1.0 / s, 1000.0); },
       {1.0E1, 1.0E3, 1.0E5, 1.0E6}, 6.0},
      {"Zipf(1 + 1 / s)", [](double s) { return RandNum_Zipf(1.0 + 1.0 / s); }, {1.0E2, 1.0E4, 1.0E6, 1.0E8}, 8.0},
  };
  for (const Growing& g : table)
    for (double size : g.sizes) {
      long used = 0;
      const int n = 2000;
      for (int i = 0; i < n; ++i) used += DrawsBy([&] { g.draw(size); });
      const double perDraw = static_cast<double>(used) / n;
      std::printf("  %-30s at %-10g %.2f uniforms a draw\n", g.name, size, perDraw);
      EXPECT_LT(perDraw, g.bound) << g.name << " at " << size;
    }
}

}  // namespace
