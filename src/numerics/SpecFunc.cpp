#include "numerics/SpecFunc.h"

#include <cmath>

namespace {

// ln n! for n = 0..99: the densities ask for small factorials on every
// evaluation, so they come from a table built once.
constexpr int tableSize = 100;
double logfact[tableSize];
double rootHalf = 0.0;  // sqrt(0.5)
double logHalf = 0.0;   // ln 0.5

}  // namespace

void InitSpecFunc() {
  logfact[0] = 0.0;
  double factor = 1.0;
  for (int i = 1; i < tableSize; ++i) {
    logfact[i] = logfact[i - 1] + std::log(factor);
    factor += 1.0;
  }
  rootHalf = std::sqrt(0.5);
  logHalf = std::log(0.5);
}

// A rational approximation of the complementary error function in
// t = 1 / (1 + z / 2), taken in logarithms so that far tails stay finite.
double SpecFunc_LogPhi(double x) {
  const double z = std::fabs(x) * rootHalf;
  const double t = 1.0 / (1.0 + 0.5 * z);
  const double p =
      t * (1.00002368 +
           t * (0.37409196 +
                t * (0.09678418 +
                     t * (-0.18628806 +
                          t * (0.27886807 +
                               t * (-1.13520398 +
                                    t * (1.48851587 + t * (-0.82215223 + t * 0.17087277))))))));
  return logHalf + std::log(t) + (-z * z - 1.26551223 + p);
}

// A six-term series for ln Gamma. The constant 0.5 ln(2 pi) is left out: the
// log densities that use it are needed only up to an additive constant.
double SpecFunc_LogGammafunction(double x) {
  const double tmp = x + 4.5;
  const double a = (x - 0.5) * std::log(tmp) - tmp;
  const double s = 1.0 + 76.18009173 / x - 86.50532033 / (x + 1.0) + 24.01409822 / (x + 2.0) -
                   1.231739516 / (x + 3.0) + 0.00120858003 / (x + 4.0) -
                   0.00000536382 / (x + 5.0);
  return a + std::log(s);
}

double SpecFunc_LogGamma(double x) {
  constexpr double halfLogTwoPi = 0.91893853320467274178;
  return SpecFunc_LogGammafunction(x) + halfLogTwoPi;
}

double SpecFunc_LogBetafunction(double a, double b) {
  return SpecFunc_LogGammafunction(a) + SpecFunc_LogGammafunction(b) -
         SpecFunc_LogGammafunction(a + b);
}

// Beyond the table the series is used, which lies 0.5 ln(2 pi) below ln n!.
// A negative n is outside the domain; it goes to the series too, which gives
// no finite answer there, rather than reading before the table.
double SpecFunc_LogFactorial(int n) {
  if (n >= 0 && n < tableSize) return logfact[n];
  return SpecFunc_LogGammafunction(n + 1.0);
}

double SpecFunc_LogBinomialCoef(int n, int k) {
  return SpecFunc_LogFactorial(n) - SpecFunc_LogFactorial(k) - SpecFunc_LogFactorial(n - k);
}
