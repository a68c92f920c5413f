#include "numerics/SpecFunc.h"

#include <cmath>
#include <limits>

namespace {

// ln n! for n = 0..99: the densities ask for small factorials on every
// evaluation, so they come from a table built once.
constexpr int tableSize = 100;
double logfact[tableSize];
double rootHalf = 0.0;  // sqrt(0.5)
double logHalf = 0.0;   // ln 0.5

constexpr double halfLogTwoPi = 0.91893853320467274178;
constexpr double eulerGamma = 0.57721566490153286061;
constexpr double infinity = std::numeric_limits<double>::infinity();

// zeta(k) - 1 for k = 2..zetaTerms + 1, the coefficients of the series of
// ln Gamma(1 + z) about z = 0.
constexpr int zetaTerms = 40;
double zetaMinusOne[zetaTerms + 2];

// sum over n >= 2 of n^-k: the terms up to N, then the Euler-Maclaurin
// tail beyond N (through the sixth Bernoulli number, which leaves an error
// below 1e-17 for every k >= 2 with N = 50). Smallest terms first.
double ZetaMinusOne(int k) {
  constexpr int N = 50;
  const double n = N;
  const double kk = k;
  double tail = std::pow(n, 1.0 - kk) / (kk - 1.0) - 0.5 * std::pow(n, -kk) +
                kk / 12.0 * std::pow(n, -kk - 1.0) -
                kk * (kk + 1.0) * (kk + 2.0) / 720.0 * std::pow(n, -kk - 3.0) +
                kk * (kk + 1.0) * (kk + 2.0) * (kk + 3.0) * (kk + 4.0) / 30240.0 * std::pow(n, -kk - 5.0) -
                kk * (kk + 1.0) * (kk + 2.0) * (kk + 3.0) * (kk + 4.0) * (kk + 5.0) * (kk + 6.0) / 1209600.0 *
                    std::pow(n, -kk - 7.0);
  double sum = tail;
  for (int i = N; i >= 2; --i) sum += std::pow(static_cast<double>(i), -kk);
  return sum;
}

// ln Gamma(1 + z) for |z| <= 0.5, accurate relative to its own size near
// z = 0: -gamma z + (z - ln(1 + z)) + sum over k >= 2 of
// (-1)^k (zeta(k) - 1) z^k / k, whose terms shrink like (z / 2)^k.
double LogGammaOnePlus(double z) {
  double sum = 0.0;
  double power = -z;  // (-z)^k
  for (int k = 2; k <= zetaTerms + 1; ++k) {
    power *= -z;
    const double term = zetaMinusOne[k] * power / k;
    sum += term;
    if (std::fabs(term) <= 1.0E-18 * std::fabs(sum)) break;
  }
  // z - ln(1 + z): directly where that loses nothing, else by its series.
  double zMinusLog = 0.0;
  if (std::fabs(z) > 0.1) {
    zMinusLog = z - std::log1p(z);
  } else {
    double p = z;
    for (int k = 2; k < 40; ++k) {
      p *= -z;
      const double term = -p / k;
      zMinusLog += term;
      if (std::fabs(term) <= 1.0E-18 * std::fabs(zMinusLog)) break;
    }
  }
  return -eulerGamma * z + zMinusLog + sum;
}

// The correction lnGamma(x) - ((x - 0.5) ln x - x + 0.5 ln(2 pi)) of
// Stirling's series, for x >= 12, where seven terms leave an error below 1e-17.
double StirlingCorrection(double x) {
  const double r = 1.0 / x;
  const double r2 = r * r;
  return r * (1.0 / 12.0 -
              r2 * (1.0 / 360.0 -
                    r2 * (1.0 / 1260.0 -
                          r2 * (1.0 / 1680.0 - r2 * (1.0 / 1188.0 - r2 * (691.0 / 360360.0 - r2 / 156.0))))));
}

// ln Gamma(x) for x > 0, to within a few units in the last place: the
// series about 1 (and 2) near the zeros of ln Gamma, a short product that
// brings x into [1.5, 2.5) up to 12, Stirling's series beyond.
double LogGammaAccurate(double x) {
  if (!(x > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x == infinity) return infinity;
  if (x < 0.5) return LogGammaOnePlus(x) - std::log(x);
  if (x < 1.5) return LogGammaOnePlus(x - 1.0);
  if (x < 2.5) return LogGammaOnePlus(x - 2.0) + std::log(x - 1.0);
  if (x < 12.0) {
    double y = x;
    double product = 1.0;
    while (y >= 2.5) {
      y -= 1.0;
      product *= y;
    }
    return LogGammaOnePlus(y - 2.0) + std::log(y - 1.0) + std::log(product);
  }
  return (x - 0.5) * std::log(x) - x + halfLogTwoPi + StirlingCorrection(x);
}

// ln(1 + d) - d without the cancellation of forming it directly for small d.
double Log1pMinus(double d) {
  if (std::fabs(d) > 0.25) return std::log1p(d) - d;
  double p = d;
  double sum = 0.0;
  for (int k = 2; k < 60; ++k) {
    p *= -d;
    const double term = p / k;
    sum += term;
    if (std::fabs(term) <= 1.0E-18 * std::fabs(sum)) break;
  }
  return sum;
}

// ln(x^a e^-x / Gamma(a)), the factor in front of both incomplete gamma
// expansions. For large a the terms a ln x, x and ln Gamma(a) are each
// large and nearly cancel, so it is formed from d = (x - a) / a instead.
double LogGammaPrefactor(double a, double x) {
  if (a < 12.0) return a * std::log(x) - x - LogGammaAccurate(a);
  const double d = (x - a) / a;
  return a * Log1pMinus(d) + 0.5 * std::log(a) - halfLogTwoPi - StirlingCorrection(a);
}

// ln(1 - e^v) for v <= 0.
double Log1mExp(double v) {
  if (v > -0.6931471805599453) return std::log(-std::expm1(v));
  return std::log1p(-std::exp(v));
}

constexpr int maxTerms = 100000;
constexpr double tiny = 1.0E-300;
constexpr double tolerance = 1.0E-16;

// ln P(a, x) by the power series, for x < a + 1 (or small x):
// P = x^a e^-x / Gamma(a + 1) (1 + x / (a + 1) + x^2 / ((a + 1)(a + 2)) + ...).
double LogGammaPSeries(double a, double x) {
  double term = 1.0;
  double sum = 1.0;
  double ap = a;
  for (int n = 0; n < maxTerms; ++n) {
    ap += 1.0;
    term *= x / ap;
    sum += term;
    if (term <= tolerance * sum) break;
  }
  return LogGammaPrefactor(a, x) - std::log(a) + std::log(sum);
}

// ln Q(a, x) by the continued fraction (modified Lentz), for x >= a + 1:
// Q = x^a e^-x / Gamma(a) * 1 / (x + 1 - a - 1 (1 - a) / (x + 3 - a - ...)).
double LogGammaQFraction(double a, double x) {
  double b = x + 1.0 - a;
  double c = 1.0 / tiny;
  double d = 1.0 / b;
  double h = d;
  for (int i = 1; i < maxTerms; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) <= tolerance) break;
  }
  return LogGammaPrefactor(a, x) + std::log(h);
}

// ln Q(a, x) for a < 1 and x < a + 1, where Q may be small (it is about
// a E1(x) for small a) and 1 - P would lose it:
// Q = -expm1(a ln x - ln Gamma(1 + a)) - x^a a S / Gamma(1 + a) with
// S = sum over n >= 1 of (-x)^n / (n! (a + n)), which is negative, so both
// parts are positive.
double LogGammaQSmallShape(double a, double x) {
  const double logPower = a * std::log(x) - LogGammaOnePlus(a);
  double s = 0.0;
  double p = 1.0;
  for (int n = 1; n < maxTerms; ++n) {
    p *= -x / n;
    const double term = p / (a + n);
    s += term;
    if (std::fabs(term) <= tolerance * std::fabs(s)) break;
  }
  const double q = -std::expm1(logPower) - std::exp(logPower) * a * s;
  return std::log(q);
}

// The continued fraction of the incomplete beta function (modified Lentz).
double BetaFraction(double a, double b, double x) {
  const double qab = a + b, qap = a + 1.0, qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::fabs(d) < tiny) d = tiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m < maxTerms; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < tiny) d = tiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < tiny) d = tiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) <= tolerance) break;
  }
  return h;
}

// ln B(a, b) to full accuracy. For two large shapes the three log gammas
// nearly cancel, so their Stirling parts are combined first.
double LogBetaAccurate(double a, double b) {
  if (a >= 12.0 && b >= 12.0) {
    const double s = a + b;
    return halfLogTwoPi + (a - 0.5) * std::log(a / s) + b * std::log(b / s) - 0.5 * std::log(b) +
           StirlingCorrection(a) + StirlingCorrection(b) - StirlingCorrection(s);
  }
  return LogGammaAccurate(a) + LogGammaAccurate(b) - LogGammaAccurate(a + b);
}

// ln I_x(a, b) straight from the continued fraction, with y = 1 - x given
// separately so that a y near 0 keeps its digits:
// I = x^a y^b / (a B(a, b)) * fraction.
double LogBetaDirect(double a, double b, double x, double y) {
  return a * std::log(x) + b * std::log(y) - LogBetaAccurate(a, b) - std::log(a) +
         std::log(BetaFraction(a, b, x));
}

// ln(1 - I_x(s, t)) for a small shape s < 1, where I is near 1 and 1 - I
// would lose the answer. With the power series
// I = x^s / (s B(s, t)) (1 + s S), S = sum over n >= 1 of
// (1 - t)(2 - t)...(n - t) x^n / (n! (s + n)),
// 1 - I = -expm1(L) - e^L s S with L = s ln x - ln(s B(s, t)), whose
// ln Gamma(1 + s) part keeps its digits for small s.
double LogBetaComplementSmallShape(double s, double t, double x) {
  const double L = s * std::log(x) - (LogGammaOnePlus(s) + LogGammaAccurate(t) - LogGammaAccurate(s + t));
  double sum = 0.0;
  double c = 1.0;
  for (int n = 1; n < maxTerms; ++n) {
    c *= (n - t) * x / n;
    const double term = c / (s + n);
    sum += term;
    if (std::fabs(term) <= tolerance * std::fabs(sum)) break;
  }
  return std::log(-std::expm1(L) - std::exp(L) * s * sum);
}

// ln I_x(a, b) with y = 1 - x. The fraction converges fast for x below
// (a + 1) / (a + b + 2); beyond, the complement I_y(b, a) is taken. That
// complement can be near 1 only when b is below 1 (the mass then gathers
// at 1); 1 - I would then lose the answer, which the small-shape series
// gives instead.
double LogBetaLower(double a, double b, double x, double y) {
  if (x <= 0.0) return -infinity;
  if (y <= 0.0) return 0.0;
  if (x < (a + 1.0) / (a + b + 2.0)) return LogBetaDirect(a, b, x, y);
  const double other = LogBetaDirect(b, a, y, x);
  if (other < -0.1 || b >= 1.0) return Log1mExp(other);
  return LogBetaComplementSmallShape(b, a, y);
}

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
  for (int k = 2; k <= zetaTerms + 1; ++k) zetaMinusOne[k] = ZetaMinusOne(k);
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

// Beyond the table ln Gamma(n + 1) itself, to full accuracy, so that the
// two ranges agree and a binomial coefficient that mixes them is exact. A
// negative n is outside the domain and gives not a number.
double SpecFunc_LogFactorial(int n) {
  if (n >= 0 && n < tableSize) return logfact[n];
  return LogGammaAccurate(n + 1.0);
}

double SpecFunc_LogBinomialCoef(int n, int k) {
  return SpecFunc_LogFactorial(n) - SpecFunc_LogFactorial(k) - SpecFunc_LogFactorial(n - k);
}

double SpecFunc_LogGammaP(double a, double x) {
  if (std::isnan(a) || std::isnan(x) || !(a > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x <= 0.0) return -infinity;
  if (x == infinity) return 0.0;
  if (x < a + 1.0) return LogGammaPSeries(a, x);
  return Log1mExp(LogGammaQFraction(a, x));
}

double SpecFunc_LogGammaQ(double a, double x) {
  if (std::isnan(a) || std::isnan(x) || !(a > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x <= 0.0) return 0.0;
  if (x == infinity) return -infinity;
  if (x >= a + 1.0) return LogGammaQFraction(a, x);
  if (a < 1.0) return LogGammaQSmallShape(a, x);
  return Log1mExp(LogGammaPSeries(a, x));
}

double SpecFunc_LogBetaP(double a, double b, double x) {
  if (std::isnan(a) || std::isnan(b) || std::isnan(x) || !(a > 0.0) || !(b > 0.0))
    return std::numeric_limits<double>::quiet_NaN();
  return LogBetaLower(a, b, x, 1.0 - x);
}

double SpecFunc_LogBetaQ(double a, double b, double x) {
  if (std::isnan(a) || std::isnan(b) || std::isnan(x) || !(a > 0.0) || !(b > 0.0))
    return std::numeric_limits<double>::quiet_NaN();
  return LogBetaLower(b, a, 1.0 - x, x);
}

double SpecFunc_LogGammaExact(double x) { return LogGammaAccurate(x); }
double SpecFunc_LogBetaExact(double a, double b) { return LogBetaAccurate(a, b); }
