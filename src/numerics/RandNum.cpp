#include "numerics/RandNum.h"

#include <cmath>
#include <algorithm>
#include <cstddef>
#include <limits>
#include <numbers>
#include <vector>

#include "numerics/MatrixAl.h"
#include "numerics/SpecFunc.h"

namespace {

// The congruential step seed <- 16807 seed mod (2^31 - 1). The product needs
// 46 bits and is formed exactly in 64; as 2^31 is 1 modulo 2^31 - 1, the
// high part folds onto the low one without a division. Integer arithmetic
// throughout, so the stream is the same on any build.
constexpr int32_t modulus = 2147483647;
constexpr int32_t multiplier = 16807;

constexpr int tableSize = RandNum_tableSize;
constexpr int32_t startSeed = 314159;

// The largest count any discrete generator returns.
constexpr double maxCount = 2147483647.0;


int32_t Step(int32_t seed) {
  const uint64_t product = static_cast<uint64_t>(seed) * multiplier;
  uint64_t t = (product & static_cast<uint64_t>(modulus)) + (product >> 31);
  if (t >= static_cast<uint64_t>(modulus)) t -= modulus;
  return static_cast<int32_t>(t);
}

// N = n + 0.00001 truncated towards zero, within 0 .. maxCount; the small
// addition keeps a count that arithmetic left just below a whole number.
int64_t Count(double n) {
  const double t = std::trunc(n + 0.00001);
  if (!(t > 0.0)) return 0;  // not a number counts as none
  if (t > maxCount) return static_cast<int64_t>(maxCount);
  return static_cast<int64_t>(t);
}

// The multiplicative method: the number of uniforms whose running product
// stays at or above exp(-lambda), less one. Only for lambda whose exp(-lambda)
// is a normal double; below that the product could never fall under it.
double PoissonProduct(double lambda) {
  const double limit = std::exp(-lambda);
  double product = 1.0;
  double k = 0.0;
  do {
    product *= RandNum_Rand();
    k += 1.0;
  } while (!(product < limit));
  return k - 1.0;
}

// Two ratio-of-uniforms rejection schemes for shapes above 1: the plain one
// up to 2.5, and above it one whose first uniform is folded into a narrow
// band beside the second, which keeps acceptance high for large shapes. A
// shape below 1 is raised by one and the result scaled by U^(1/a). With
// withLog the logarithm of the variate is also given, formed from the same
// uniforms as a sum of logarithms: it stays exact where the variate itself
// underflows (a shape of 0.001 gives variates near e^-1000).
template <bool withLog>
double GammaDraw(double a, double& logValue) {
  if (!(a > 0.0 && a < std::numeric_limits<double>::infinity())) {
    logValue = std::numeric_limits<double>::quiet_NaN();
    return logValue;
  }
  if (std::fabs(a - 1.0) < 1.0E-6) {
    const double x = -std::log(RandNum_Rand());
    if constexpr (withLog) logValue = std::log(x);
    return x;
  }
  double scale = 1.0;
  double logScale = 0.0;
  if (a < 1.0) {
    logScale = std::log(RandNum_Rand()) / a;
    scale = std::exp(logScale);
    a += 1.0;
  }
  const double a1 = a - 1.0;
  const double c1 = (a - 1.0 / (6.0 * a)) / a1;
  const double c2 = 2.0 / a1;
  const double c3 = c2 + 2.0;
  const double c4 = 1.0 / std::sqrt(a);
  scale *= a1;
  for (;;) {
    double u1 = RandNum_Rand();
    const double u2 = RandNum_Rand();
    if (a > 2.5) u1 = u2 + c4 * (1.0 - 1.86 * u1);
    if (!(u1 > 0.0 && u1 < 1.0)) continue;
    const double w = c1 * u2 / u1;
    if (c2 * u1 + w + 1.0 / w <= c3 || c2 * std::log(u1) - std::log(w) + w < 1.0) {
      if constexpr (withLog) logValue = logScale + std::log(a1 * w);
      return scale * w;
    }
  }
}

// The nearest doubles strictly inside (0, 1) bound a draw that rounded to
// an end of the unit interval.
double InsideUnit(double x) {
  constexpr double least = std::numeric_limits<double>::denorm_min();
  constexpr double most = 1.0 - std::numeric_limits<double>::epsilon() / 2.0;
  return std::clamp(x, least, most);
}

// The logarithms of the gamma variates of a Dirichlet draw, kept for the
// draws whose plain ratios fail. Grown once to the largest block seen.
// Scratch within one draw: one per thread.
thread_local std::vector<double> logScratch;

}  // namespace

thread_local constinit RandNum_Stream* RandNum_stream = nullptr;

void RandNum_Bind(RandNum_Stream* stream) { RandNum_stream = stream; }

void RandNum_Start(RandNum_Stream& s) { RandNum_StartFrom(s, startSeed); }

void RandNum_StartFrom(RandNum_Stream& s, int32_t seed) {
  s.seed = seed;
  s.normalWaiting = false;
  s.normal2 = 0.0;
  for (int32_t& slot : s.table) {
    s.seed = Step(s.seed);
    slot = s.seed;
  }
}

int32_t RandNum_StreamSeed(int32_t seed, int32_t k) {
  if (k <= 1) return seed;
  // A seed the generator refused left the start-up seed in its place.
  if (seed < 1 || seed >= modulus) seed = startSeed;
  // A 64-bit mix of the pair, so that nearby seeds and nearby numbers give
  // unrelated starts; then folded into the generator's range.
  uint64_t z = (static_cast<uint64_t>(static_cast<uint32_t>(seed)) << 32) ^ static_cast<uint32_t>(k);
  z += 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<int32_t>(1 + z % static_cast<uint64_t>(modulus - 1));
}

void InitRandNum() { RandNum_Start(*RandNum_stream); }

bool RandNum_SetSeed(int32_t seed) {
  if (seed < 1 || seed >= modulus) return false;
  RandNum_stream->seed = seed;
  return true;
}

int32_t RandNum_GetSeed() { return RandNum_stream->seed; }

// The new seed chooses the slot; the caller gets what that slot held and
// the slot keeps the new seed. Slots hold 1 .. 2^31 - 2 only, so the result
// is never 0 or 1 and its logarithms are always finite.
namespace {

// Inline in the generators here, which draw many uniforms from one stream.
[[gnu::always_inline]] inline double Uniform(RandNum_Stream& s) {
  const int32_t seed = Step(s.seed);
  s.seed = seed;
  const int j = seed % tableSize;
  const int32_t out = s.table[j];
  s.table[j] = seed;
  return static_cast<double>(out) / static_cast<double>(modulus);
}

}  // namespace

double RandNum_Rand() { return Uniform(*RandNum_stream); }

double RandNum_Bernoulli(double p) { return RandNum_Rand() >= 1.0 - p ? 1.0 : 0.0; }

// g1 / (g1 + g2) whenever that is a number strictly inside (0, 1). With
// small shapes both variates can underflow to 0 (their ratio is then not a
// number) or one of them can (the ratio is then 0 or 1, outside the
// support); the ratio is then formed from their logarithms, which the same
// uniforms give exactly, and kept within (0, 1).
double RandNum_Beta(double a, double b) {
  double log1 = 0.0, log2 = 0.0;
  const double g1 = GammaDraw<true>(a, log1);
  const double g2 = GammaDraw<true>(b, log2);
  const double x = g1 / (g1 + g2);
  if ((x > 0.0 && x < 1.0) || std::isnan(log1) || std::isnan(log2)) return x;
  const double d = log1 - log2;
  return InsideUnit(d >= 0.0 ? 1.0 / (1.0 + std::exp(-d)) : std::exp(d) / (1.0 + std::exp(d)));
}

// ---------------------------------------------------------------------------
// Truncated gamma and beta variates.

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// At or above RandNum_rejectionMass, the probability of the accepted
// region, the unbounded draw is repeated until it falls within the bounds
// (at most ten draws on average), as it always was; below it the variate is
// found by inversion.
// An interval over which the log density varies by less than this is drawn
// by uniform proposals under the density's largest value there (acceptance
// at least one half). Inversion would lose the digits of its tiny mass
// there, as a difference of two nearly equal tail probabilities.
constexpr double flatSpread = 0.6931471805599453;  // ln 2

// A law on (0, 1) or (0, inf) as the inversion needs it: the logs of its
// distribution function P and of its complement Q, and of its density up
// to a constant and normalised.
struct Law {
  bool unit;       // support (0, 1), else (0, inf)
  double a, b;     // gamma: shape, rate; beta: the two shapes
  double logNorm;  // ln of the density's normalising constant

  double LogP(double x) const { return unit ? SpecFunc_LogBetaP(a, b, x) : SpecFunc_LogGammaP(a, b * x); }
  double LogQ(double x) const { return unit ? SpecFunc_LogBetaQ(a, b, x) : SpecFunc_LogGammaQ(a, b * x); }
  // Up to a constant: (a - 1) ln x - b x, or (a - 1) ln x + (b - 1) ln(1 - x).
  double Kernel(double x) const {
    return unit ? (a - 1.0) * std::log(x) + (b - 1.0) * std::log1p(-x) : (a - 1.0) * std::log(x) - b * x;
  }
  double LogDensity(double x) const { return Kernel(x) + logNorm; }
  // The one point where the kernel's slope is zero, if it has one (not a
  // number otherwise): its mode, or for a beta with both shapes below 1
  // its lowest point.
  double Stationary() const {
    if (unit) return a + b == 2.0 ? nan : (a - 1.0) / (a + b - 2.0);
    return a == 1.0 ? nan : (a - 1.0) / b;
  }
};

// Solves h(y) = target for h increasing on [yL, yR] (either end may be
// infinite) by Newton's method from y, kept within the shrinking bracket;
// a step that leaves it bisects (or, towards an infinite end, strides out).
// h gives its value and its slope.
template <typename H>
double Solve(H h, double target, double yL, double yR, double y) {
  for (int i = 0; i < 200; ++i) {
    double slope = 0.0;
    const double g = h(y, slope) - target;
    if (g == 0.0) return y;
    if (g < 0.0)
      yL = y;
    else
      yR = y;
    double next = y - g / slope;
    if (!(next > yL && next < yR)) {
      if (std::isfinite(yL) && std::isfinite(yR))
        next = 0.5 * (yL + yR);
      else if (std::isfinite(yL))
        next = y + std::max(1.0, std::fabs(y));
      else
        next = y - std::max(1.0, std::fabs(y));
    }
    if (std::fabs(next - y) <= 1.0E-15 * std::fabs(y) || next == y) return next;
    if (std::isfinite(yL) && std::isfinite(yR) && yR - yL <= 1.0E-15 * std::max(std::fabs(yL), std::fabs(yR)))
      return next;
    y = next;
  }
  return y;
}

// ln(1 - e^v), v <= 0.
double LogOneMinusExp(double v) {
  return v > -0.6931471805599453 ? std::log(-std::expm1(v)) : std::log1p(-std::exp(v));
}

// A variate of the law restricted to [lo, hi], which lie within its support
// and hold probability e^logMass (the tail frame and its values as found by
// TruncatedDraw). One uniform: the distribution function (in the frame of
// the smaller tail) is inverted at a uniform point of the interval, in log
// scale throughout.
double Invert(const Law& law, double lo, double hi, bool upperFrame, double logLo, double logHi) {
  const double u = RandNum_Rand();
  if (upperFrame) {
    // Q(x) = Q(lo) - u (Q(lo) - Q(hi)).
    const double target = logLo + std::log1p(u * std::expm1(logHi - logLo));
    if (law.unit) {
      // In y = ln(1 - x), which resolves x near 1; Q rises with y.
      const auto h = [&law](double y, double& slope) {
        const double x = -std::expm1(y);
        const double q = law.LogQ(x);
        slope = std::exp(y + law.LogDensity(x) - q);
        return q;
      };
      const double yL = std::log1p(-hi), yR = std::log1p(-lo);
      const double y = Solve(h, target, yL, yR, yR);
      return std::clamp(-std::expm1(y), lo, hi);
    }
    // In y = -x; Q rises with y.
    const auto h = [&law](double y, double& slope) {
      const double q = law.LogQ(-y);
      slope = std::exp(law.LogDensity(-y) - q);
      return q;
    };
    const double y = Solve(h, target, -hi, -lo, -lo);
    return std::clamp(-y, lo, hi);
  }
  // P(x) = P(hi) - (1 - u) (P(hi) - P(lo)), in y = ln x, which resolves x
  // near 0; P rises with y.
  const double target = logHi + std::log1p((1.0 - u) * std::expm1(logLo - logHi));
  const auto h = [&law](double y, double& slope) {
    const double x = std::exp(y);
    const double p = law.LogP(x);
    slope = std::exp(y + law.LogDensity(x) - p);
    return p;
  };
  const double y = Solve(h, target, std::log(lo), std::log(hi), std::log(hi));
  return std::clamp(std::exp(y), lo, hi);
}

// The law restricted to [lower, upper]. Draws as the unbounded generator
// `plain` does, repeated until within the bounds, when the bounds hold at
// least rejectionMass; otherwise by uniform proposals over a nearly flat
// interval, or by inversion. Not a number when the bounds hold no
// probability (or the parameters are out of range).
template <typename Plain>
double TruncatedDraw(const Law& law, double lower, double upper, Plain plain) {
  if (!(law.a > 0.0 && law.b > 0.0 && std::isfinite(law.a) && std::isfinite(law.b)) || std::isnan(lower) ||
      std::isnan(upper))
    return nan;
  const double end = law.unit ? 1.0 : inf;
  const double lo = std::max(lower, 0.0), hi = std::min(upper, end);
  if (!(lo < hi)) return nan;
  // The frame of the smaller tail: Q beyond lo when that is below P up to hi.
  const double logQlo = law.LogQ(lo), logPhi = law.LogP(hi);
  const bool upperFrame = logQlo <= logPhi;
  const double logLo = upperFrame ? logQlo : law.LogP(lo);
  const double logHi = upperFrame ? law.LogQ(hi) : logPhi;
  const double logMass = upperFrame ? logLo + LogOneMinusExp(logHi - logLo) : logHi + LogOneMinusExp(logLo - logHi);
  if (logMass >= std::log(RandNum_rejectionMass)) {
    // A million misses would mean the mass was misjudged; inversion then
    // takes over rather than hold the program.
    for (long tries = 0; tries < 1000000; ++tries) {
      const double x = plain();
      if (!std::isfinite(x)) return nan;
      if (x >= lower && x <= upper) return x;
    }
  }
  if (!(logMass > -inf)) return nan;
  if (lo > 0.0 && hi < end) {
    // The kernel has at most one stationary point, so its extremes over
    // [lo, hi] lie at the ends or there.
    double top = std::max(law.Kernel(lo), law.Kernel(hi));
    double bottom = std::min(law.Kernel(lo), law.Kernel(hi));
    const double s = law.Stationary();
    if (s > lo && s < hi) {
      top = std::max(top, law.Kernel(s));
      bottom = std::min(bottom, law.Kernel(s));
    }
    if (top - bottom <= flatSpread) {
      for (;;) {
        const double x = RandNum_Uniform(lo, hi);
        if (RandNum_Rand() <= std::exp(law.Kernel(x) - top)) return std::clamp(x, lo, hi);
      }
    }
  }
  return Invert(law, lo, hi, upperFrame, logLo, logHi);
}

}  // namespace

double RandNum_TruncatedGamma(double r, double mu, double lower, double upper) {
  const Law law{false, r, mu, r * std::log(mu) - SpecFunc_LogGammaExact(r)};
  return TruncatedDraw(law, lower, upper, [r, mu] { return RandNum_Gamma(r, mu); });
}

double RandNum_TruncatedBeta(double a, double b, double lower, double upper) {
  const Law law{true, a, b, -SpecFunc_LogBetaExact(a, b)};
  return TruncatedDraw(law, lower, upper, [a, b] { return RandNum_Beta(a, b); });
}

// ---------------------------------------------------------------------------
// Binomial and Poisson variates whatever their size.

namespace {

// Up to this many trials a binomial variate counts the successes among as
// many uniforms, and up to this mean a Poisson variate is the multiplicative
// method's count: both take time in proportion to the parameter, a few
// microseconds at most at these sizes, and the streams drawn there stay
// those the counting methods always gave. Beyond them each draw takes a
// number of uniforms bounded whatever the parameter (under three on
// average), where counting would take a hundred and more.
constexpr int64_t binomialCountLimit = 100;
constexpr double poissonProductLimit = 100.0;

constexpr double halfLogTwoPi = 0.91893853320467274178;  // ln(2 pi) / 2

// ln Gamma(z) - ((z - 1/2) ln z - z + ln(2 pi) / 2), z >= 1: what the
// leading terms of the asymptotic expansion of ln Gamma leave out. Its own
// series is exact to about 1e-14 from z = 10; below, the difference is
// formed directly, without cancellation at those sizes.
double GammaRest(double z) {
  if (z < 10.0) return SpecFunc_LogGammaExact(z) - ((z - 0.5) * std::log(z) - z + halfLogTwoPi);
  const double w = 1.0 / (z * z);
  return (1.0 / 12.0 - w * (1.0 / 360.0 - w * (1.0 / 1260.0 - w / 1680.0))) / z;
}

// k ln(k / m) + m - k, k > 0, m > 0: the deviance of a count k from a mean
// m. Near m the two large terms cancel; there it is the series
// (k - m) v + 2 k (v^3 / 3 + v^5 / 5 + ...), v = (k - m) / (k + m), from
// ln(k / m) = 2 artanh(v).
double Deviance(double k, double m) {
  if (std::fabs(k - m) >= 0.1 * (k + m)) return k * std::log(k / m) + m - k;
  double v = (k - m) / (k + m);
  double sum = (k - m) * v;
  double term = 2.0 * k * v;
  v *= v;
  for (int j = 1; j < 100; ++j) {
    term *= v;
    const double next = sum + term / (2 * j + 1);
    if (next == sum) break;
    sum = next;
  }
  return sum;
}

// Sequential inversion from 0 for a binomial count of mean n p below 10
// (p <= 1/2): on average n p + 1 steps. The running sum of the
// probabilities can fall short of the uniform by rounding far in the tail;
// the draw then starts again.
double BinomialInversion(double n, double p) {
  const double r = p / (1.0 - p);
  const double first = std::exp(n * std::log1p(-p));
  for (;;) {
    double u = RandNum_Rand();
    double f = first;
    double k = 0.0;
    while (u > f && f > 0.0 && k < n) {
      u -= f;
      f *= (n - k) / (k + 1.0) * r;
      k += 1.0;
    }
    if (u <= f) return k;
  }
}

// Transformed rejection for a binomial count with p <= 1/2 and mean n p of
// at least 10. With u uniform on (-1/2, 1/2) and us = 1/2 - |u|, the point
// x = (2a / us + b) u + c has the density 1 / (b + a / us^2) in x; the
// constants (fitted once to the binomial family) make alpha times that
// density lie above the histogram f(floor(x)) / f(m) scaled to the mode m.
// A point (u, v) under alpha's hat is accepted when v lies under the
// histogram. The central box |u| <= 0.43, v <= vr lies under it wholly and
// accepts without evaluating anything: most draws end there, on one
// uniform. Elsewhere f(k) / f(m) is a product of successive ratios near the
// mode and, further out, the asymptotic expansion of the log factorials
// with its remainder.
double BinomialRejection(double n, double p) {
  const double q = 1.0 - p;
  const double m = std::floor((n + 1.0) * p);
  const double r = p / q;
  const double nr = (n + 1.0) * r;
  const double npq = n * p * q;
  const double spq = std::sqrt(npq);
  const double b = 1.15 + 2.53 * spq;
  const double a = -0.0873 + 0.0248 * b + 0.01 * p;
  const double c = n * p + 0.5;
  const double alpha = (2.83 + 5.1 / b) * spq;
  const double vr = 0.92 - 4.2 / b;
  const double urvr = 0.86 * vr;
  // ln f(k) / f(m) = h + (n + 1) ln(nm / nk) + (k + 1/2) ln(nk r / (k + 1))
  // - rest(k + 1) - rest(n - k + 1), with nk = n - k + 1, from
  // ln j! = (j + 1/2) ln(j + 1) - (j + 1) + ln(2 pi) / 2 + rest(j + 1).
  const double nm = n - m + 1.0;
  const double h = (m + 0.5) * std::log((m + 1.0) / (r * nm)) + GammaRest(m + 1.0) + GammaRest(nm);
  for (;;) {
    double v = RandNum_Rand();
    double u = 0.0;
    if (v <= urvr) {
      u = v / vr - 0.43;
      return std::floor((2.0 * a / (0.5 - std::fabs(u)) + b) * u + c);
    }
    // The rest of the rectangle: above vr, a fresh u across the whole
    // width; below it, the two side strips 0.43 < |u| < 1/2, u read from
    // the same uniform and a fresh v.
    if (v >= vr) {
      u = RandNum_Rand() - 0.5;
    } else {
      u = v / vr - 0.93;
      u = (u < 0.0 ? -0.5 : 0.5) - u;
      v = RandNum_Rand() * vr;
    }
    const double us = 0.5 - std::fabs(u);
    const double k = std::floor((2.0 * a / us + b) * u + c);
    if (k < 0.0 || k > n) continue;
    v *= alpha / (a / (us * us) + b);
    const double km = std::fabs(k - m);
    if (km <= 15.0) {
      // f(i) / f(i - 1) = (n + 1 - i) r / i = nr / i - r.
      double f = 1.0;
      if (m < k) {
        for (double i = m + 1.0; i <= k; i += 1.0) f *= nr / i - r;
      } else {
        for (double i = k + 1.0; i <= m; i += 1.0) v *= nr / i - r;
      }
      if (v <= f) return k;
      continue;
    }
    const double nk = n - k + 1.0;
    const double logRatio = h + (n + 1.0) * std::log(nm / nk) + (k + 0.5) * std::log(nk * r / (k + 1.0)) -
                            GammaRest(k + 1.0) - GammaRest(nk);
    if (std::log(v) <= logRatio) return k;
  }
}

// ln P(k) of a Poisson count of mean lambda, k >= 0: near the mean through
// the deviance, so that counts of a mean of 1e9 keep their digits.
double PoissonLogProbability(double k, double lambda) {
  if (k < 1.0) return -lambda;
  return -Deviance(k, lambda) - 0.5 * std::log(k) - halfLogTwoPi - GammaRest(k);
}

// Transformed rejection for a Poisson count of large mean, on the same plan
// as the binomial one: x = (2a / us + b) u + lambda + 0.43 under a hat
// 1 / (b + a / us^2) scaled by 1 / invAlpha, a box us >= 0.07, v <= vr
// accepted at once, and two corners (us < 0.013, v > us) that lie above
// every probability and are refused at once. With the fitted constants as
// they stand the hat dips below the probabilities by up to 0.2% of their
// value (in a narrow band of u near 0.415, for means near 100): invAlpha is
// raised by 0.5% so that it lies above them everywhere (checked on a fine
// grid of u for means from 100 to 1e9), and vr lowered by as much so that
// the box stays where it was under them.
double PoissonRejection(double lambda) {
  constexpr double margin = 1.005;
  const double slam = std::sqrt(lambda);
  const double b = 0.931 + 2.53 * slam;
  const double a = -0.059 + 0.02483 * b;
  const double invAlpha = (1.1239 + 1.1328 / (b - 3.4)) * margin;
  const double vr = (0.9277 - 3.6224 / (b - 2.0)) / margin;
  const double logInvAlpha = std::log(invAlpha);
  for (;;) {
    const double u = RandNum_Rand() - 0.5;
    const double v = RandNum_Rand();
    const double us = 0.5 - std::fabs(u);
    const double k = std::floor((2.0 * a / us + b) * u + lambda + 0.43);
    if (us >= 0.07 && v <= vr) return k;
    if (k < 0.0 || (us < 0.013 && v > us)) continue;
    if (std::log(v) + logInvAlpha - std::log(a / (us * us) + b) <= PoissonLogProbability(k, lambda)) return k;
  }
}

}  // namespace

// A probability outside (0, 1) (or not a number) gives a constant count, as
// counting would: none below 0, all at 1 and above. A probability above 1/2
// counts the failures instead, which keeps the mean of the drawn count small
// beside n.
double RandNum_Binomial(double p, double n) {
  const int64_t trials = Count(n);
  if (trials <= binomialCountLimit) {
    double successes = 0.0;
    for (int64_t i = 0; i < trials; ++i)
      if (RandNum_Rand() < p) successes += 1.0;
    return successes;
  }
  const double count = static_cast<double>(trials);
  if (!(p > 0.0)) return 0.0;
  if (p >= 1.0) return count;
  const bool failures = p > 0.5;
  const double least = failures ? 1.0 - p : p;
  const double k = count * least < 10.0 ? BinomialInversion(count, least) : BinomialRejection(count, least);
  return failures ? count - k : k;
}

double RandNum_DoubleExp(double mu, double tau) {
  const double u = RandNum_Rand();
  if (u >= 0.5) return mu - std::log(2.0 * (1.0 - u)) / tau;
  return mu + std::log(2.0 * u) / tau;
}

double RandNum_Exponential(double lambda) { return -std::log(RandNum_Rand()) / lambda; }

double RandNum_Fdist(double n, double m) {
  const double g1 = RandNum_Gamma1(0.5 * n);
  const double g2 = RandNum_Gamma1(0.5 * m);
  return (g1 * m) / (g2 * n);
}

double RandNum_Gamma1(double a) {
  double unused = 0.0;
  return GammaDraw<false>(a, unused);
}

double RandNum_Gamma(double r, double mu) { return RandNum_Gamma1(r) / mu; }

// ln(1 - p) through log1p keeps small p accurate; p = 0 gives an infinite
// ratio, held at the largest count.
double RandNum_Geometric(double p) {
  const double failures = std::trunc(std::log(RandNum_Rand()) / std::log1p(-p) + 0.00001);
  if (!(failures < maxCount - 1.0)) return maxCount;
  return 1.0 + failures;
}

double RandNum_Gumbel(double a, double b) {
  return a - std::log(-std::log(RandNum_Rand())) / b;
}

// u = w + U (1 - w) is uniform above w = F(c), so a - ln(-ln u) / b has the
// Gumbel law above c. Formed literally, u rounds to 1 once w is within an
// ulp of 1 and the result is infinite; so -ln u is formed from e = -ln w
// directly: 1 - u = (1 - U)(1 - exp(-e)), -ln u = -log1p(-(1 - u)). Far out
// (e below 1e-17) -ln u is (1 - U) e to within rounding, which makes the
// tail exponential with rate b beyond c; that form is taken there, before
// the product can underflow.
double RandNum_GumbelRightTail(double a, double b, double c) {
  const double u = RandNum_Rand();
  const double t = b * (c - a);
  if (t > 40.0) return c - std::log(1.0 - u) / b;
  const double minusLogU = -std::log1p((1.0 - u) * std::expm1(-std::exp(-t)));
  return a - std::log(minusLogU) / b;
}

double RandNum_Logistic(double mu, double tau) {
  return mu - std::log(1.0 / RandNum_Rand() - 1.0) / tau;
}

double RandNum_LogNormal(double mu, double tau) {
  return std::exp(RandNum_StandardNormal() / std::sqrt(tau) + mu);
}

double RandNum_NegativeBinomial(double p, double r) {
  const double lambda = RandNum_Gamma(r, p / (1.0 - p));
  return RandNum_Poisson(lambda);
}

double RandNum_Normal(double mu, double tau) {
  return RandNum_StandardNormal() / std::sqrt(tau) + mu;
}

double RandNum_Pareto(double alpha, double c) {
  return c * std::pow(RandNum_Rand(), -1.0 / alpha);
}

// The multiplicative method up to poissonProductLimit, where exp(-lambda)
// is far from underflow; transformed rejection above it, in time bounded
// whatever the mean.
double RandNum_Poisson(double lambda) {
  if (std::isnan(lambda)) return lambda;
  if (lambda > maxCount) return maxCount;
  if (lambda > poissonProductLimit) return std::min(PoissonRejection(lambda), maxCount);
  return PoissonProduct(lambda);
}

double RandNum_Power(double a) { return std::pow(RandNum_Rand(), 1.0 / a); }

// The polar method gives two independent deviates per accepted pair; the
// second waits for the next call of any normal generator.
double RandNum_StandardNormal() {
  RandNum_Stream& stream = *RandNum_stream;
  if (stream.normalWaiting) {
    stream.normalWaiting = false;
    return stream.normal2;
  }
  double y1 = 0.0;
  double y2 = 0.0;
  double s = 0.0;
  do {
    y1 = 2.0 * (Uniform(stream) - 0.5);
    y2 = 2.0 * (Uniform(stream) - 0.5);
    s = y1 * y1 + y2 * y2;
  } while (!(s < 1.0));
  const double f = std::sqrt(-2.0 * std::log(s) / s);
  stream.normal2 = f * y2;
  stream.normalWaiting = true;
  return f * y1;
}

// From 1 outwards: an exponential proposal for x = z^2 / 2 shifted to the
// bound, accepted with probability sqrt(c / x). Below 1 plain rejection of
// half-normal deviates wastes less than two draws in three.
double RandNum_StandardNormalTail(double a) {
  const double b = std::fabs(a);
  double z = 0.0;
  if (b >= 1.0) {
    const double c = 0.5 * b * b;
    double x = 0.0;
    double u2 = 0.0;
    do {
      x = c - std::log(RandNum_Rand());
      u2 = RandNum_Rand();
    } while (!(u2 * u2 * x <= c));
    z = std::sqrt(2.0 * x);
  } else {
    do {
      z = std::fabs(RandNum_StandardNormal());
    } while (!(z >= b));
  }
  return a >= 0.0 ? z : -z;
}

double RandNum_Uniform(double a, double b) { return RandNum_Rand() * (b - a) + a; }

double RandNum_Weibull(double v, double lambda) {
  return std::pow(-std::log(RandNum_Rand()) / lambda, 1.0 / v);
}

double RandNum_WeibullTail(double v, double lambda, double c) {
  return std::pow(std::pow(c, v) - std::log(RandNum_Rand()) / lambda, 1.0 / v);
}

// Rejection from the continuous law with tail x^(1 - a) (one pair of uniforms a
// trial). Counts above the integer range are drawn again, so the law is the
// zipf law on 1 .. 2147483647. The proposal leaves that range when u is below
// low = 2147483648^(1 - a), which near a = 1 is nearly every u (at a = 1 +
// 1e-6, all but one in 47000); once low passes one half, u is drawn uniform
// above low instead, the same proposal conditioned on the range, in time
// bounded whatever a.
double RandNum_Zipf(double a) {
  if (!(a > 1.0) || !std::isfinite(a)) return std::nan("");
  const double b = std::pow(2.0, a - 1.0);
  const double low = std::exp((1.0 - a) * 31.0 * std::numbers::ln2);
  const bool narrowed = low > 0.5;
  for (;;) {
    double u = RandNum_Rand();
    const double v = RandNum_Rand();
    if (narrowed) u = low + u * (1.0 - low);
    const double x = std::floor(std::pow(u, -1.0 / (a - 1.0)));
    if (!(x <= 2147483647.0)) continue;
    const double t = std::pow(1.0 + 1.0 / x, a - 1.0);
    if (v * x * (t - 1.0) / (b - 1.0) <= t / b) return x;
  }
}

namespace {

// n elements (or n * n when square) fit the span, n not negative.
bool Fits(std::size_t capacity, int n, bool square) {
  if (n < 0) return false;
  const std::size_t want = square ? static_cast<std::size_t>(n) * static_cast<std::size_t>(n)
                                  : static_cast<std::size_t>(n);
  return want <= capacity;
}

bool PositiveDiagonal(std::span<const double> A, int n) {
  for (int i = 0; i < n; ++i)
    if (!(A[i * n + i] > 0.0)) return false;
  return true;
}

}  // namespace

bool RandNum_Direchlet(std::span<const double> alpha, std::span<double> x, int n) {
  if (!Fits(alpha.size(), n, false) || !Fits(x.size(), n, false)) return false;
  if (logScratch.size() < static_cast<std::size_t>(n)) logScratch.resize(static_cast<std::size_t>(n));
  double sum = 0.0;
  bool logsKnown = true;
  for (int i = 0; i < n; ++i) {
    x[i] = GammaDraw<true>(alpha[i], logScratch[static_cast<std::size_t>(i)]);
    sum += x[i];
    if (std::isnan(logScratch[static_cast<std::size_t>(i)])) logsKnown = false;
  }
  bool inside = true;
  for (int i = 0; i < n; ++i) {
    x[i] /= sum;
    if (!(x[i] > 0.0 && (x[i] < 1.0 || n == 1))) inside = false;
  }
  if (inside || !logsKnown) return true;
  // Some variates underflowed: the proportions from their logarithms, the
  // largest first so that nothing overflows, each kept inside (0, 1).
  double largest = -std::numeric_limits<double>::infinity();
  for (int i = 0; i < n; ++i) largest = std::max(largest, logScratch[static_cast<std::size_t>(i)]);
  double total = 0.0;
  for (int i = 0; i < n; ++i) total += std::exp(logScratch[static_cast<std::size_t>(i)] - largest);
  for (int i = 0; i < n; ++i) {
    const double share = std::exp(logScratch[static_cast<std::size_t>(i)] - largest) / total;
    x[i] = n == 1 ? 1.0 : InsideUnit(share);
  }
  return true;
}

// Each cell in turn takes a binomial share of what is left, with its
// probability relative to the mass not yet given out.
bool RandNum_Multinomial(std::span<const double> p, std::span<double> x, double N, int n) {
  if (!Fits(p.size(), n, false) || !Fits(x.size(), n, false)) return false;
  double q = 1.0;
  double m = N;
  for (int i = 0; i < n; ++i) {
    x[i] = RandNum_Binomial(p[i] / q, m);
    m -= x[i];
    q -= p[i];
  }
  return true;
}

// z standard normal, U y = z, so y has covariance U^-1 U^-T = (U' U)^-1.
bool RandNum_MNormal(std::span<const double> mu, std::span<const double> U, std::span<double> x,
                     int n) {
  if (n > MatrixAl_maxOrder || !Fits(mu.size(), n, false) || !Fits(U.size(), n, true) ||
      !Fits(x.size(), n, false) || !PositiveDiagonal(U, n))
    return false;
  for (int i = 0; i < n; ++i) x[i] = RandNum_StandardNormal();
  MatrixAl_BackSub(U.data(), x.data(), n);
  for (int i = 0; i < n; ++i) x[i] += mu[i];
  return true;
}

// B upper triangular with standard normals above the diagonal and square
// roots of chi-square variates (k, k - 1, ... degrees of freedom) on it gives
// B'B standard Wishart. The strict upper triangle of W holds B while the
// lower triangle gathers the partial sums of B'B; each row then adds its own
// diagonal term and copies itself across.
bool RandNum_Wishart(std::span<const double> R, std::span<double> W, double k, int n) {
  if (n > MatrixAl_maxOrder || !Fits(R.size(), n, true) || !Fits(W.size(), n, true) ||
      !PositiveDiagonal(R, n) || !(std::isfinite(k) && k > n - 1))
    return false;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) W[i * n + j] = RandNum_StandardNormal();
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j) {
      double sum = 0.0;
      for (int m = 0; m < i; ++m) sum += W[m * n + i] * W[m * n + j];
      W[j * n + i] = sum;
    }
  for (int i = 0; i < n; ++i) {
    const double c = RandNum_Gamma((k - i) * 0.5, 0.5);
    const double root = std::sqrt(c);
    for (int j = i; j < n; ++j) {
      if (j == i) {
        W[i * n + i] += c;
      } else {
        W[j * n + i] = root * W[i * n + j] + W[j * n + i];
        W[i * n + j] = W[j * n + i];
      }
    }
  }
  MatrixAl_SimilarityTransform(R.data(), W.data(), n);
  // The two products round differently on either side of the diagonal; the
  // upper triangle, the one a factorisation reads, is copied across so that
  // the draw is exactly symmetric.
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) W[j * n + i] = W[i * n + j];
  return true;
}
