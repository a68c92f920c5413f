#include "output/Converge.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>

namespace {

constexpr double notDefined = std::numeric_limits<double>::quiet_NaN();

// Draws in columns of equal length, one column per split chain.
struct Columns {
  std::vector<double> x;  // column c is x[c * n .. (c + 1) * n)
  size_t cols = 0;
  size_t n = 0;
  const double* Column(size_t c) const { return x.data() + c * n; }
};

// The halves of every chain, each chain cut to length.
Columns Split(std::span<const std::span<const double>> chains, size_t length) {
  Columns s;
  s.n = length / 2;
  s.cols = 2 * chains.size();
  s.x.reserve(s.cols * s.n);
  for (std::span<const double> c : chains) {
    s.x.insert(s.x.end(), c.begin(), c.begin() + static_cast<std::ptrdiff_t>(s.n));
    s.x.insert(s.x.end(), c.begin() + static_cast<std::ptrdiff_t>(length - s.n),
               c.begin() + static_cast<std::ptrdiff_t>(length));
  }
  return s;
}

// The same columns with every draw replaced by f(draw).
template <typename F>
Columns Map(const Columns& s, F f) {
  Columns t = s;
  for (double& v : t.x) v = f(v);
  return t;
}

bool AllEqual(const std::vector<double>& x) {
  return std::all_of(x.begin(), x.end(), [&](double v) { return v == x.front(); });
}

double Mean(const double* x, size_t n) { return std::accumulate(x, x + n, 0.0) / static_cast<double>(n); }

// Sample variance, divisor n - 1.
double Variance(const double* x, size_t n) {
  const double m = Mean(x, n);
  double ss = 0.0;
  for (size_t i = 0; i < n; ++i) ss += (x[i] - m) * (x[i] - m);
  return ss / static_cast<double>(n - 1);
}

// Quantile p of the values, interpolating linearly between the order
// statistics at (S - 1) p.
double Quantile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const double h = static_cast<double>(v.size() - 1) * p;
  const size_t lo = static_cast<size_t>(std::floor(h));
  if (lo + 1 >= v.size()) return v.back();
  return v[lo] + (h - static_cast<double>(lo)) * (v[lo + 1] - v[lo]);
}

// Standard normal quantile: a rational start good to about 5e-4, then
// Halley steps on the normal integral, each of which cubes the error.
double NormalQuantile(double p) {
  const double q = std::min(p, 1.0 - p);
  const double t = std::sqrt(-2.0 * std::log(q));
  double x = t - (2.515517 + t * (0.802853 + t * 0.010328)) / (1.0 + t * (1.432788 + t * (0.189269 + t * 0.001308)));
  if (p < 0.5) x = -x;
  const double sqrt2pi = std::sqrt(2.0 * std::numbers::pi);
  for (int k = 0; k < 3; ++k) {
    const double e = 0.5 * std::erfc(-x / std::numbers::sqrt2) - p;
    const double u = e * sqrt2pi * std::exp(0.5 * x * x);
    x -= u / (1.0 + 0.5 * x * u);
  }
  return x;
}

// Every draw replaced by the normal score of its rank among all draws.
Columns RankNormalise(const Columns& s) {
  const size_t total = s.x.size();
  std::vector<size_t> order(total);
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return s.x[a] < s.x[b]; });
  Columns z = s;
  const double denominator = static_cast<double>(total) + 0.25;
  for (size_t i = 0; i < total;) {
    size_t j = i;
    while (j < total && s.x[order[j]] == s.x[order[i]]) ++j;
    // Ties share the average of the ranks i + 1 .. j.
    const double rank = 0.5 * static_cast<double>(i + 1 + j);
    const double score = NormalQuantile((rank - 0.375) / denominator);
    for (size_t k = i; k < j; ++k) z.x[order[k]] = score;
    i = j;
  }
  return z;
}

// Potential scale reduction of the columns.
double RHat(const Columns& s) {
  if (AllEqual(s.x)) return notDefined;
  std::vector<double> means(s.cols);
  double within = 0.0;
  for (size_t c = 0; c < s.cols; ++c) {
    means[c] = Mean(s.Column(c), s.n);
    within += Variance(s.Column(c), s.n);
  }
  within /= static_cast<double>(s.cols);
  const double n = static_cast<double>(s.n);
  const double between = n * Variance(means.data(), s.cols);
  return std::sqrt(((n - 1.0) / n * within + between / n) / within);
}

// In-place discrete Fourier transform of a power-of-two length, with the
// roots of unity w[k] = exp(-2 pi i k / n), k < n / 2.
void Fourier(std::vector<std::complex<double>>& a, const std::vector<std::complex<double>>& w) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const size_t stride = n / len;
    for (size_t i = 0; i < n; i += len) {
      for (size_t k = 0; k < len / 2; ++k) {
        // Written out: the library's complex product guards against
        // infinities at several times the cost, and none can occur here.
        const std::complex<double> b = a[i + k + len / 2], c = w[k * stride];
        const std::complex<double> u = a[i + k];
        const std::complex<double> v(b.real() * c.real() - b.imag() * c.imag(), b.real() * c.imag() + b.imag() * c.real());
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// The autocovariances of two columns at lags 0 .. n - 1, divisor n, summed
// and added into sum. Through the transform, so that long and sticky traces
// cost n log n; the two real columns ride in one complex transform as its
// real and imaginary parts, whose power spectra add up to the mean of the
// transform's power at k and at -k.
void AddAutocovariances(const double* x, const double* y, size_t n, std::vector<double>& sum) {
  size_t size = 1;
  while (size < 2 * n) size <<= 1;  // zero padding keeps the sums from wrapping
  const double mx = Mean(x, n), my = Mean(y, n);
  std::vector<std::complex<double>> w(size / 2);
  for (size_t k = 0; k < w.size(); ++k)
    w[k] = std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size));
  std::vector<std::complex<double>> a(size), power(size);
  for (size_t i = 0; i < n; ++i) a[i] = {x[i] - mx, y[i] - my};
  Fourier(a, w);
  for (size_t k = 0; k < size; ++k) power[k] = 0.5 * (std::norm(a[k]) + std::norm(a[(size - k) % size]));
  // The transform of a real even sequence is its own inverse up to the factor size.
  Fourier(power, w);
  const double scale = 1.0 / (static_cast<double>(size) * static_cast<double>(n));
  for (size_t t = 0; t < n; ++t) sum[t] += power[t].real() * scale;
}

// Effective sample size of the columns.
double Ess(const Columns& s) {
  if (AllEqual(s.x)) return notDefined;
  const size_t n = s.n;
  std::vector<double> acov(n, 0.0);
  std::vector<double> means(s.cols);
  // Split chains come in pairs.
  for (size_t c = 0; c < s.cols; c += 2) AddAutocovariances(s.Column(c), s.Column(c + 1), n, acov);
  for (size_t c = 0; c < s.cols; ++c) means[c] = Mean(s.Column(c), n);
  for (double& a : acov) a /= static_cast<double>(s.cols);
  const double nn = static_cast<double>(n);
  const double meanVar = acov[0] * nn / (nn - 1.0);
  const double varPlus = meanVar * (nn - 1.0) / nn + Variance(means.data(), s.cols);
  auto rho = [&](size_t t) { return 1.0 - (meanVar - acov[t]) / varPlus; };

  // Pairs of lags while their sum stays positive.
  std::vector<double> r(n, 0.0);
  r[0] = 1.0;
  r[1] = rho(1);
  double even = r[0], odd = r[1];
  size_t t = 0;
  while (t + 5 < n && even + odd > 0.0) {
    t += 2;
    even = rho(t);
    odd = rho(t + 1);
    if (even + odd >= 0.0) {
      r[t] = even;
      r[t + 1] = odd;
    }
  }
  const size_t maxT = t;
  // The first even lag of the pair that stopped the sum still counts when
  // it is positive, which tempers the estimate for antithetic chains.
  if (even > 0.0) r[maxT] = even;
  // Each pair sum no larger than the one before.
  for (t = 2; t + 2 <= maxT; t += 2) {
    if (r[t] + r[t + 1] > r[t - 2] + r[t - 1]) {
      r[t] = r[t + 1] = 0.5 * (r[t - 2] + r[t - 1]);
    }
  }
  const double total = static_cast<double>(s.cols * n);
  double tau = -1.0 + r[maxT];
  for (size_t k = 0; k < maxT; ++k) tau += 2.0 * r[k];
  // Bounded so that a strongly antithetic chain cannot claim more than
  // S log10 S effective draws.
  tau = std::max(tau, 1.0 / std::log10(total));
  return total / tau;
}

// Larger of two figures, or the one defined.
double MaxDefined(double a, double b) { return std::isnan(a) ? b : std::isnan(b) ? a : std::max(a, b); }
double MinDefined(double a, double b) { return std::isnan(a) ? b : std::isnan(b) ? a : std::min(a, b); }

// Effective size of the indicator x <= q.
double IndicatorEss(const Columns& s, double q) {
  return Ess(Map(s, [q](double v) { return v <= q ? 1.0 : 0.0; }));
}

}  // namespace

void InitConverge() {}  // no state: every figure is computed from its arguments

Converge_Summary Converge_Summarise(std::span<const std::span<const double>> chains) {
  Converge_Summary r{notDefined, notDefined, notDefined, notDefined, 0};
  if (chains.empty()) return r;
  size_t length = chains.front().size();
  for (std::span<const double> c : chains) length = std::min(length, c.size());
  r.draws = length * chains.size();
  if (length < Converge_minimumLength) return r;

  std::vector<double> all;
  all.reserve(r.draws);
  for (std::span<const double> c : chains) all.insert(all.end(), c.begin(), c.begin() + static_cast<std::ptrdiff_t>(length));
  if (!std::all_of(all.begin(), all.end(), [](double v) { return std::isfinite(v); })) return r;

  const Columns split = Split(chains, length);
  if (AllEqual(all)) {
    r.mcseMean = 0.0;
    return r;
  }
  const Columns z = RankNormalise(split);
  const double median = Quantile(all, 0.5);
  const double folded = RHat(RankNormalise(Map(split, [median](double v) { return std::fabs(v - median); })));
  r.rHat = MaxDefined(RHat(z), folded);
  r.bulkEss = Ess(z);
  r.tailEss = MinDefined(IndicatorEss(split, Quantile(all, 0.05)), IndicatorEss(split, Quantile(all, 0.95)));
  r.mcseMean = std::sqrt(Variance(all.data(), all.size())) / std::sqrt(Ess(split));
  return r;
}
