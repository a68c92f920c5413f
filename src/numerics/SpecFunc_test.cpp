#include "numerics/SpecFunc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr double halfLogTwoPi = 0.91893853320467274;

class SpecFuncTest : public ::testing::Test {
 protected:
  void SetUp() override { InitSpecFunc(); }
};

TEST_F(SpecFuncTest, LogGammaLeavesOutHalfLogTwoPi) {
  EXPECT_NEAR(SpecFunc_LogGammafunction(1.0), -halfLogTwoPi, 1e-9);
  EXPECT_NEAR(SpecFunc_LogGammafunction(0.5), 0.5 * std::log(std::numbers::pi) - halfLogTwoPi, 1e-9);
  EXPECT_NEAR(SpecFunc_LogGammafunction(10.0), std::log(362880.0) - halfLogTwoPi, 1e-9);
  // What a model's loggam shows is the function itself.
  EXPECT_NEAR(SpecFunc_LogGamma(10.0), std::log(362880.0), 1e-9);
  // B(2, 3) = 1/12; one constant is left over.
  EXPECT_NEAR(SpecFunc_LogBetafunction(2.0, 3.0), std::log(1.0 / 12.0) - halfLogTwoPi, 1e-9);
}

TEST_F(SpecFuncTest, LogPhiGivesTheNormalTail) {
  EXPECT_NEAR(SpecFunc_LogPhi(0.0), std::log(0.5), 1e-7);
  EXPECT_NEAR(SpecFunc_LogPhi(-1.0), -1.8410216450092634, 1.85e-7);
  EXPECT_NEAR(SpecFunc_LogPhi(-5.0), -15.064998393988724, 1.5e-6);
  EXPECT_EQ(SpecFunc_LogPhi(3.0), SpecFunc_LogPhi(-3.0));
}

// ln n! is one function on both sides of the table's end: every n from 0 to
// 400 against the running sum of ln k, and binomial coefficients that take
// factorials from both ranges against their exact values.
TEST_F(SpecFuncTest, FactorialsAreExactOnBothSidesOfTheTable) {
  long double sum = 0.0L;
  for (int n = 0; n <= 400; ++n) {
    if (n > 0) sum += std::log(static_cast<long double>(n));
    EXPECT_NEAR(SpecFunc_LogFactorial(n), static_cast<double>(sum), 1e-13 * std::max(1.0, static_cast<double>(sum)))
        << n;
  }
  // ln C(n, k) = sum over i = 1..k of ln((n - k + i) / i).
  const struct { int n, k; } cases[] = {{5, 2}, {7, 0}, {100, 1}, {150, 60}, {200, 100}, {200, 99}, {1000, 3}};
  for (const auto& c : cases) {
    long double exact = 0.0L;
    for (int i = 1; i <= c.k; ++i) exact += std::log(static_cast<long double>(c.n - c.k + i) / i);
    EXPECT_NEAR(SpecFunc_LogBinomialCoef(c.n, c.k), static_cast<double>(exact), 1e-12) << c.n << " " << c.k;
  }
  // The weights of a binomial with 200 trials sum to one.
  long double total = 0.0L;
  for (int k = 0; k <= 200; ++k) total += std::exp(static_cast<long double>(SpecFunc_LogBinomialCoef(200, k) - 200 * std::log(2.0)));
  EXPECT_NEAR(static_cast<double>(total), 1.0, 1e-12);
}

TEST_F(SpecFuncTest, ExactLogGammaAndLogBeta) {
  for (double x : {1e-300, 1e-10, 0.001, 0.1, 0.5, 0.999, 1.0, 1.001, 1.5, 1.999, 2.0, 2.001, 2.5, 3.7, 7.25, 11.9,
                   12.0, 12.1, 30.5, 171.0, 1e4, 1e8, 1e15}) {
    const double exact = std::lgamma(x);
    EXPECT_NEAR(SpecFunc_LogGammaExact(x), exact, 4e-16 * std::max(1.0, std::fabs(exact)) + 1e-18) << x;
  }
  // Near the zeros of ln Gamma its relative accuracy holds: ln Gamma(1 + e)
  // is about -gamma e.
  for (double step : {1e-8, -1e-8, 1e-12}) {
    const double e = (1.0 + step) - 1.0;  // the step as the argument holds it
    const double series = -0.57721566490153286 * e + 0.82246703342411321 * e * e;
    EXPECT_NEAR(SpecFunc_LogGammaExact(1.0 + e) / series, 1.0, 1e-7) << e;
  }
  EXPECT_NEAR(SpecFunc_LogGammaExact(0.5), 0.5 * std::log(std::numbers::pi), 1e-16);
  const struct { double a, b; } pairs[] = {{2.0, 3.0}, {0.001, 0.001}, {21.0, 81.0}, {1e5, 2e5}, {0.5, 1e6}};
  for (const auto& p : pairs) {
    const double exact = std::lgamma(p.a) + std::lgamma(p.b) - std::lgamma(p.a + p.b);
    EXPECT_NEAR(SpecFunc_LogBetaExact(p.a, p.b), exact, 1e-14 * std::max(1.0, std::fabs(std::lgamma(p.a + p.b))))
        << p.a << " " << p.b;
  }
}

// Simpson quadrature of exp(logf) over [lo, hi].
double Simpson(const std::function<double(double)>& logf, double lo, double hi, int n = 200000) {
  const double h = (hi - lo) / n;
  double sum = std::exp(logf(lo)) + std::exp(logf(hi));
  for (int i = 1; i < n; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * std::exp(logf(lo + i * h));
  return sum * h / 3.0;
}

// The integral of exp(logf) over (-inf, t] (or [t, inf) when slope < 0) for
// a logf that is linear with that slope, to within e^-40, beyond 40 from t:
// Simpson's rule up to there and the exponential tail in closed form.
double Tail(const std::function<double(double)>& logf, double t, double slope) {
  if (slope > 0.0) return Simpson(logf, t - 40.0, t) + std::exp(logf(t - 40.0)) / slope;
  return Simpson(logf, t, t + 40.0) - std::exp(logf(t + 40.0)) / slope;
}

// ln P and ln Q of the incomplete gamma function against closed forms
// (integer and half-integer shapes), far tails included, and against
// quadrature for other shapes.
TEST_F(SpecFuncTest, IncompleteGammaInLogScale) {
  // Q(n, x) = e^-x sum over k < n of x^k / k!.
  for (int n : {1, 2, 5, 30}) {
    for (double x : {0.01, 0.5, 3.0, 29.0, 45.0, 700.0, 5000.0}) {
      long double s = 0.0L, term = 1.0L;
      for (int k = 0; k < n; ++k) {
        if (k > 0) term *= x / k;
        s += term;
      }
      const double logQ = static_cast<double>(-x + std::log(s));
      EXPECT_NEAR(SpecFunc_LogGammaQ(n, x), logQ, 1e-14 * std::max(1.0, std::fabs(logQ))) << n << " " << x;
      const double Q = std::exp(logQ);
      if (Q < 0.5) {
        EXPECT_NEAR(SpecFunc_LogGammaP(n, x), std::log1p(-Q), 1e-14) << n << " " << x;
      } else {
        // P = e^-x sum over k >= n of x^k / k!.
        long double p = 0.0L, t = std::exp(static_cast<long double>(-x));
        for (int k = 0; k < n + 200; ++k) {
          if (k > 0) t *= x / k;
          if (k >= n) p += t;
        }
        EXPECT_NEAR(SpecFunc_LogGammaP(n, x), static_cast<double>(std::log(p)), 1e-13 * std::fabs(std::log(p)))
            << n << " " << x;
      }
    }
  }
  // Q(1/2, z^2) = erfc(z); far out, its asymptotic series.
  for (double z : {0.1, 1.0, 3.0, 8.0}) {
    EXPECT_NEAR(SpecFunc_LogGammaQ(0.5, z * z), std::log(std::erfc(z)), 1e-14 * std::max(1.0, z * z)) << z;
    EXPECT_NEAR(SpecFunc_LogGammaP(0.5, z * z), std::log(std::erf(z)), 2e-15) << z;
  }
  for (double z : {40.0, 1000.0}) {
    const double r = 1.0 / (2.0 * z * z);
    const double logErfc = -z * z - std::log(z * std::sqrt(std::numbers::pi)) +
                           std::log1p(-r + 3.0 * r * r - 15.0 * r * r * r + 105.0 * r * r * r * r);
    EXPECT_NEAR(SpecFunc_LogGammaQ(0.5, z * z), logErfc, 1e-15 * z * z) << z;
  }
  // Small shapes, where Q is small, and a large shape: quadrature of the
  // density (in t = ln x for the small shapes).
  const struct { double a, x; } cases[] = {{0.01, 0.5}, {0.001, 0.2}, {0.3, 1.0}, {0.01, 3.0}, {2.5, 0.3}, {40.0, 55.0}};
  for (const auto& c : cases) {
    const double lg = std::lgamma(c.a);
    const auto logf = [&](double t) { return c.a * t - std::exp(t) - lg; };  // density of ln x
    const double Q = Simpson(logf, std::log(c.x), std::log(c.x + 200.0));
    const double P = Tail(logf, std::log(c.x), c.a);
    EXPECT_NEAR(SpecFunc_LogGammaQ(c.a, c.x), std::log(Q), 1e-10) << c.a << " " << c.x;
    EXPECT_NEAR(SpecFunc_LogGammaP(c.a, c.x), std::log(P), 1e-10) << c.a << " " << c.x;
  }
  EXPECT_EQ(SpecFunc_LogGammaQ(2.0, 0.0), 0.0);
  EXPECT_EQ(SpecFunc_LogGammaP(2.0, 0.0), -std::numeric_limits<double>::infinity());
  // Arguments with no law give no number, on either side.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct { double a, x; } none[] = {{0.0, 1.0}, {-1.0, 1.0}, {nan, 1.0}, {2.0, nan}};
  for (const auto& c : none) {
    EXPECT_TRUE(std::isnan(SpecFunc_LogGammaP(c.a, c.x))) << c.a << " " << c.x;
    EXPECT_TRUE(std::isnan(SpecFunc_LogGammaQ(c.a, c.x))) << c.a << " " << c.x;
  }
}

// ln I_x(a, b) and its complement against the binomial sums of integer
// shapes (far tails included), the closed forms of a unit shape, symmetry,
// and quadrature.
TEST_F(SpecFuncTest, IncompleteBetaInLogScale) {
  // With integer shapes, 1 - I_x(a, b) = P(Bin(a + b - 1, x) < a).
  const auto binomialLower = [](int n, int below, double x) {
    std::vector<double> terms;
    for (int j = 0; j < below; ++j)
      terms.push_back(std::lgamma(n + 1.0) - std::lgamma(j + 1.0) - std::lgamma(n - j + 1.0) + j * std::log(x) +
                      (n - j) * std::log1p(-x));
    double top = *std::max_element(terms.begin(), terms.end());
    double s = 0.0;
    for (double t : terms) s += std::exp(t - top);
    return top + std::log(s);
  };
  const struct { int a, b; double x; } ints[] = {{21, 81, 0.9}, {21, 81, 0.2}, {21, 81, 0.05}, {2, 8, 0.95},
                                                  {3, 3, 0.5}, {1, 500, 0.9}, {400, 300, 0.999}};
  for (const auto& c : ints) {
    const double logQ = binomialLower(c.a + c.b - 1, c.a, c.x);
    const double logP = binomialLower(c.a + c.b - 1, c.b, 1.0 - c.x);  // by symmetry
    EXPECT_NEAR(SpecFunc_LogBetaQ(c.a, c.b, c.x), logQ, 1e-12 * std::max(1.0, std::fabs(logQ)))
        << c.a << " " << c.b << " " << c.x;
    EXPECT_NEAR(SpecFunc_LogBetaP(c.a, c.b, c.x), logP, 1e-12 * std::max(1.0, std::fabs(logP)))
        << c.a << " " << c.b << " " << c.x;
  }
  // I_x(a, 1) = x^a.
  for (double a : {0.001, 0.5, 7.0})
    for (double x : {1e-200, 0.3, 0.99}) {
      EXPECT_NEAR(SpecFunc_LogBetaP(a, 1.0, x), a * std::log(x), 1e-14 * std::max(1.0, std::fabs(a * std::log(x))));
      EXPECT_NEAR(SpecFunc_LogBetaQ(a, 1.0, x), std::log(-std::expm1(a * std::log(x))), 1e-12) << a << " " << x;
    }
  EXPECT_NEAR(SpecFunc_LogBetaP(0.001, 0.001, 0.5), std::log(0.5), 1e-14);
  EXPECT_NEAR(SpecFunc_LogBetaQ(0.001, 0.001, 0.5), std::log(0.5), 1e-14);
  // Quadrature in t = logit(x).
  const struct { double a, b, x; } cases[] = {{0.3, 0.7, 0.2}, {0.001, 5.0, 0.1}, {2.5, 0.01, 0.6}, {30.5, 12.25, 0.4}};
  for (const auto& c : cases) {
    const double lb = std::lgamma(c.a) + std::lgamma(c.b) - std::lgamma(c.a + c.b);
    const auto logf = [&](double t) {
      // x = 1 / (1 + e^-t), dx = x (1 - x) dt.
      const double lx = -std::log1p(std::exp(-t)), l1x = -std::log1p(std::exp(t));
      return c.a * lx + c.b * l1x - lb;
    };
    const double t = std::log(c.x / (1.0 - c.x));
    const double P = Tail(logf, t, c.a), Q = Tail(logf, t, -c.b);
    EXPECT_NEAR(SpecFunc_LogBetaP(c.a, c.b, c.x), std::log(P), 1e-10) << c.a << " " << c.b;
    EXPECT_NEAR(SpecFunc_LogBetaQ(c.a, c.b, c.x), std::log(Q), 1e-10) << c.a << " " << c.b;
  }
  EXPECT_EQ(SpecFunc_LogBetaP(2.0, 3.0, 0.0), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(SpecFunc_LogBetaQ(2.0, 3.0, 1.0), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(SpecFunc_LogBetaQ(2.0, -1.0, 0.5)));
}

}  // namespace
