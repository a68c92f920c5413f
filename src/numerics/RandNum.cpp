#include "numerics/RandNum.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "numerics/MatrixAl.h"

namespace {

// The congruential step seed <- 16807 seed mod (2^31 - 1). The product needs
// 46 bits and is formed exactly in 64; as 2^31 is 1 modulo 2^31 - 1, the
// high part folds onto the low one without a division. Integer arithmetic
// throughout, so the stream is the same on any build.
constexpr int32_t modulus = 2147483647;
constexpr int32_t multiplier = 16807;

constexpr int tableSize = 1000;
constexpr int32_t startSeed = 314159;

// The largest count any discrete generator returns.
constexpr double maxCount = 2147483647.0;

int32_t iRand = startSeed;
int32_t table[tableSize];
bool normalWaiting = false;
double normal2 = 0.0;

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

// Poisson means are split into pieces no larger than this; exp(-500) is far
// from underflow, and smaller means take the multiplicative method unchanged.
constexpr double poissonPiece = 500.0;

}  // namespace

void InitRandNum() {
  iRand = startSeed;
  normalWaiting = false;
  normal2 = 0.0;
  for (int32_t& slot : table) {
    iRand = Step(iRand);
    slot = iRand;
  }
}

bool RandNum_SetSeed(int32_t seed) {
  if (seed < 1 || seed >= modulus) return false;
  iRand = seed;
  return true;
}

int32_t RandNum_GetSeed() { return iRand; }

// The new seed chooses the slot; the caller gets what that slot held and
// the slot keeps the new seed. Slots hold 1 .. 2^31 - 2 only, so the result
// is never 0 or 1 and its logarithms are always finite.
double RandNum_Rand() {
  iRand = Step(iRand);
  const int j = iRand % tableSize;
  const int32_t out = table[j];
  table[j] = iRand;
  return static_cast<double>(out) / static_cast<double>(modulus);
}

double RandNum_Bernoulli(double p) { return RandNum_Rand() >= 1.0 - p ? 1.0 : 0.0; }

double RandNum_Beta(double a, double b) {
  const double g1 = RandNum_Gamma1(a);
  const double g2 = RandNum_Gamma1(b);
  return g1 / (g1 + g2);
}

double RandNum_Binomial(double p, double n) {
  const int64_t trials = Count(n);
  double successes = 0.0;
  for (int64_t i = 0; i < trials; ++i)
    if (RandNum_Rand() < p) successes += 1.0;
  return successes;
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

// Two ratio-of-uniforms rejection schemes for shapes above 1: the plain one
// up to 2.5, and above it one whose first uniform is folded into a narrow
// band beside the second, which keeps acceptance high for large shapes. A
// shape below 1 is raised by one and the result scaled by U^(1/a).
double RandNum_Gamma1(double a) {
  if (!(a > 0.0 && a < std::numeric_limits<double>::infinity()))
    return std::numeric_limits<double>::quiet_NaN();
  if (std::fabs(a - 1.0) < 1.0E-6) return -std::log(RandNum_Rand());
  double scale = 1.0;
  if (a < 1.0) {
    scale = std::exp(std::log(RandNum_Rand()) / a);
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
    if (c2 * u1 + w + 1.0 / w <= c3) return scale * w;
    if (c2 * std::log(u1) - std::log(w) + w < 1.0) return scale * w;
  }
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

// A Poisson(lambda) count is the sum of independent counts whose means add
// up to lambda, so a large mean is taken in pieces: each piece keeps the
// multiplicative method within the range where exp(-piece) is exact enough,
// and a mean of at most one piece takes that method unchanged.
double RandNum_Poisson(double lambda) {
  if (std::isnan(lambda)) return lambda;
  if (lambda > maxCount) return maxCount;
  double count = 0.0;
  while (lambda > poissonPiece) {
    count += PoissonProduct(poissonPiece);
    lambda -= poissonPiece;
  }
  return count + PoissonProduct(lambda);
}

double RandNum_Power(double a) { return std::pow(RandNum_Rand(), 1.0 / a); }

// The polar method gives two independent deviates per accepted pair; the
// second waits for the next call of any normal generator.
double RandNum_StandardNormal() {
  if (normalWaiting) {
    normalWaiting = false;
    return normal2;
  }
  double y1 = 0.0;
  double y2 = 0.0;
  double s = 0.0;
  do {
    y1 = 2.0 * (RandNum_Rand() - 0.5);
    y2 = 2.0 * (RandNum_Rand() - 0.5);
    s = y1 * y1 + y2 * y2;
  } while (!(s < 1.0));
  const double f = std::sqrt(-2.0 * std::log(s) / s);
  normal2 = f * y2;
  normalWaiting = true;
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
// zipf law on 1 .. 2147483647.
double RandNum_Zipf(double a) {
  if (!(a > 1.0) || !std::isfinite(a)) return std::nan("");
  const double b = std::pow(2.0, a - 1.0);
  for (;;) {
    const double u = RandNum_Rand(), v = RandNum_Rand();
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
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    x[i] = RandNum_Gamma1(alpha[i]);
    sum += x[i];
  }
  for (int i = 0; i < n; ++i) x[i] /= sum;
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
