// Wren against hand-written Gibbs samplers on five models: a normal linear
// regression, a normal hierarchical model, a logistic regression, a Poisson
// model with random effects and a multivariate normal model with a Wishart
// precision. For each model the program writes the model, data and initial
// values into a scratch directory (data drawn from fixed seeds), times the
// wren binary given on the command line in background mode on a compile-only
// command file and on a compile-and-update one, and times a sampler for the
// same model written directly over contiguous arrays, with the same update
// method for each unknown: closed-form normal, gamma, multivariate normal and
// Wishart draws, and derivative-free adaptive rejection where the full
// conditional has no closed form. The hand-written samplers use their own
// small random generator and share nothing with wren's modules.
//
// The wren figure per 1000 sweeps is (compile-and-update time minus
// compile-only time) scaled to 1000 sweeps; the compile-only time is the
// best of two runs, and so is the compile-and-update time.
//
//   wren_bench_compare path/to/wren
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <system_error>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"

namespace {

using bench::Rng;
using bench::WriteText;
using bench::Number;
using bench::Vector;
using bench::ReadText;
using bench::Matrix;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }


// ---------------------------------------------------------------------------
// Derivative-free adaptive rejection sampling of a log-concave density on the
// whole line. The envelope is built from secants through the stored points:
// between two points the upper bound is the lower of the secants of the
// neighbouring intervals extended; beyond the outer points it is the outer
// secant extended. The lower bound (squeeze) is the secant itself. Every
// evaluation of the log density adds its point. The three starting points sit
// at the current value and one width on either side; the width doubles when
// the points had to be moved outward to bracket the mode and shrinks slowly
// otherwise, so that it settles near the scale of the full conditional.
class Ars {
 public:
  using LogDensity = std::function<double(double)>;

  double Draw(const LogDensity& h, double current, Rng& rng) {
    n_ = 0;
    bool widened = false;
    Insert(current - width_, h(current - width_));
    Insert(current, h(current));
    Insert(current + width_, h(current + width_));
    // Move the outer points out until the outer secants slope towards the
    // middle, so that the tails of the envelope have finite mass.
    for (int k = 0; k < 16 && n_ < capacity && Slope(0) <= 0.0; ++k) {
      const double x = x_[0] - 2.0 * (x_[1] - x_[0]);
      Insert(x, h(x));
      widened = true;
    }
    for (int k = 0; k < 16 && n_ < capacity && Slope(n_ - 2) >= 0.0; ++k) {
      const double x = x_[n_ - 1] + 2.0 * (x_[n_ - 1] - x_[n_ - 2]);
      Insert(x, h(x));
      widened = true;
    }
    width_ = widened ? 2.0 * width_ : std::max(1e-6, 0.9 * width_);
    for (;;) {
      Build();
      double upper = 0.0;
      const double x = SampleEnvelope(rng, upper);
      const double w = std::log(rng.Uniform());
      if (x > x_[0] && x < x_[n_ - 1] && w <= Squeeze(x) - upper) return x;
      const double hx = h(x);
      if (w <= hx - upper) return x;
      if (n_ < capacity) Insert(x, hx);
    }
  }

 private:
  static constexpr int capacity = 40;
  struct Piece {
    double lo, hi, value, slope;  // the line value + slope * (t - lo); value at hi when lo is -inf
    double mass;
  };

  double Slope(int i) const { return (y_[i + 1] - y_[i]) / (x_[i + 1] - x_[i]); }
  double Line(int i, double t) const { return y_[i] + Slope(i) * (t - x_[i]); }

  void Insert(double x, double y) {
    int k = n_;
    while (k > 0 && x_[k - 1] > x) {
      x_[k] = x_[k - 1];
      y_[k] = y_[k - 1];
      --k;
    }
    x_[k] = x;
    y_[k] = y;
    ++n_;
  }

  double Squeeze(double t) const {
    int i = 0;
    while (i < n_ - 2 && x_[i + 1] < t) ++i;
    return Line(i, t);
  }

  void AddPiece(double lo, double hi, int line) {
    if (hi <= lo) return;
    pieces_.push_back({lo, hi, Line(line, lo), Slope(line), 0.0});
  }

  void Build() {
    pieces_.clear();
    const double inf = std::numeric_limits<double>::infinity();
    pieces_.push_back({-inf, x_[0], y_[0], Slope(0), 0.0});
    AddPiece(x_[0], x_[1], 1);
    for (int i = 1; i <= n_ - 3; ++i) {
      const double sl = Slope(i - 1), sr = Slope(i + 1);
      double t = x_[i + 1];
      if (sl > sr) t = (y_[i + 1] - sr * x_[i + 1] - y_[i - 1] + sl * x_[i - 1]) / (sl - sr);
      t = std::clamp(t, x_[i], x_[i + 1]);
      AddPiece(x_[i], t, i - 1);
      AddPiece(t, x_[i + 1], i + 1);
    }
    AddPiece(x_[n_ - 2], x_[n_ - 1], n_ - 3);
    pieces_.push_back({x_[n_ - 1], inf, y_[n_ - 1], Slope(n_ - 2), 0.0});
    double top = -inf;
    for (const Piece& p : pieces_) {
      top = std::max(top, p.value);
      if (std::isfinite(p.lo) && std::isfinite(p.hi)) top = std::max(top, p.value + p.slope * (p.hi - p.lo));
    }
    top_ = top;
    for (Piece& p : pieces_) {
      if (!std::isfinite(p.lo)) {
        p.mass = std::exp(p.value - top) / p.slope;
      } else if (!std::isfinite(p.hi)) {
        p.mass = std::exp(p.value - top) / -p.slope;
      } else {
        // Measured from the higher end, so that neither factor overflows
        // when the piece is long and steep.
        const double len = p.hi - p.lo, e = p.slope * len;
        if (std::fabs(e) < 1e-12)
          p.mass = std::exp(p.value - top) * len;
        else if (e > 0.0)
          p.mass = std::exp(p.value + e - top) * -std::expm1(-e) / p.slope;
        else
          p.mass = std::exp(p.value - top) * std::expm1(e) / p.slope;
      }
    }
  }

  // A draw from the normalised envelope; upper is the envelope's log value there.
  double SampleEnvelope(Rng& rng, double& upper) {
    double total = 0.0;
    for (const Piece& p : pieces_) total += p.mass;
    double r = rng.Uniform() * total;
    size_t k = 0;
    while (k + 1 < pieces_.size() && r > pieces_[k].mass) r -= pieces_[k++].mass;
    const Piece& p = pieces_[k];
    const double u = rng.Uniform();
    double t;
    if (!std::isfinite(p.lo)) {
      t = p.hi + std::log(u) / p.slope;
      upper = p.value + p.slope * (t - p.hi);
      return t;
    }
    if (!std::isfinite(p.hi)) {
      t = p.lo + std::log(u) / p.slope;
    } else {
      const double len = p.hi - p.lo, e = p.slope * len;
      if (std::fabs(e) < 1e-12)
        t = p.lo + u * len;
      else if (e > 0.0)
        t = p.hi + std::log1p((1.0 - u) * std::expm1(-e)) / p.slope;
      else
        t = p.lo + std::log1p(u * std::expm1(e)) / p.slope;
      t = std::clamp(t, p.lo, p.hi);
    }
    upper = p.value + p.slope * (t - p.lo);
    return t;
  }

  std::array<double, capacity> x_{}, y_{};
  int n_ = 0;
  double width_ = 0.5, top_ = 0.0;
  std::vector<Piece> pieces_;
};

// ---------------------------------------------------------------------------
// Small dense matrices, row-major, for the multivariate normal model.
using Mat = std::vector<double>;

// Lower Cholesky factor in place; false when the matrix is not positive definite.
bool Cholesky(Mat& a, int d) {
  for (int j = 0; j < d; ++j) {
    double s = a[j * d + j];
    for (int k = 0; k < j; ++k) s -= a[j * d + k] * a[j * d + k];
    if (s <= 0.0) return false;
    a[j * d + j] = std::sqrt(s);
    for (int i = j + 1; i < d; ++i) {
      double t = a[i * d + j];
      for (int k = 0; k < j; ++k) t -= a[i * d + k] * a[j * d + k];
      a[i * d + j] = t / a[j * d + j];
    }
    for (int k = j + 1; k < d; ++k) a[j * d + k] = 0.0;
  }
  return true;
}

// Inverse of a symmetric positive definite matrix through its Cholesky factor.
bool InvertSpd(const Mat& a, Mat& inv, int d) {
  Mat l = a;
  if (!Cholesky(l, d)) return false;
  Mat linv(d * d, 0.0);
  for (int j = 0; j < d; ++j) {
    linv[j * d + j] = 1.0 / l[j * d + j];
    for (int i = j + 1; i < d; ++i) {
      double s = 0.0;
      for (int k = j; k < i; ++k) s -= l[i * d + k] * linv[k * d + j];
      linv[i * d + j] = s / l[i * d + i];
    }
  }
  inv.assign(d * d, 0.0);
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < d; ++j) {
      double s = 0.0;
      for (int k = std::max(i, j); k < d; ++k) s += linv[k * d + i] * linv[k * d + j];
      inv[i * d + j] = s;
    }
  return true;
}

// ---------------------------------------------------------------------------
// Files and the wren runs.
std::string wrenPath;

// Runs wren in background mode on the command file and returns the elapsed
// seconds, or a negative number when the log does not show what the command
// file asked for (the compile, and the sweeps when there are any).
double RunWren(const std::string& stem, const std::string& commands, int sweeps) {
  WriteText(stem + ".cmd", commands);
  const std::string line = "\"" + wrenPath + "\" 20 " + stem + " " + stem + ".cmd >/dev/null 2>&1";
  const Clock::time_point start = Clock::now();
  const int status = std::system(line.c_str());
  const double t = Seconds(start);
  const std::string log = ReadText(stem + ".log");
  if (status != 0 || log.find("compilation took") == std::string::npos) return -1.0;
  if (sweeps > 0) {
    // The update line reads "time for <count> updates was <elapsed>".
    const size_t at = log.find("time for");
    if (at == std::string::npos || std::strtol(log.c_str() + at + 8, nullptr, 10) != sweeps) return -1.0;
  }
  return t;
}

struct WrenTimes {
  double compile = -1.0, perThousand = -1.0;
};

// chains: how many chains the run asks for (the compile command's count).
WrenTimes TimeWren(int sweeps, int chains = 1) {
  WrenTimes w;
  const std::string compile =
      chains == 1 ? "compile(\"m.bug\")\n" : "compile(\"m.bug\", " + std::to_string(chains) + ")\n";
  const std::string compileOnly = compile + "q()\n";
  const std::string withUpdate = compile + "update(" + std::to_string(sweeps) + ")\nq()\n";
  double c = 1e300, u = 1e300;
  for (int run = 0; run < 2; ++run) {
    const double t = RunWren("c", compileOnly, 0);
    if (t < 0.0) {
      std::printf("  wren: the compile failed; the log follows\n%s\n", ReadText("c.log").c_str());
      return w;
    }
    c = std::min(c, t);
  }
  for (int run = 0; run < 2; ++run) {
    const double t = RunWren("u", withUpdate, sweeps);
    if (t < 0.0) {
      std::printf("  wren: the update failed; the log follows\n%s\n", ReadText("u.log").c_str());
      return w;
    }
    u = std::min(u, t);
  }
  w.compile = c;
  w.perThousand = std::max(0.0, u - c) * 1000.0 / sweeps;
  return w;
}

// What a hand-written sampler reports: seconds per 1000 sweeps and, as a
// check that it samples the right posterior, the mean of one unknown over the
// timed sweeps beside the value the data were drawn with.
struct HandResult {
  double perThousand = 0.0;
  std::string check;
};

std::string Check(const char* name, double mean, double truth) {
  char text[96];
  std::snprintf(text, sizeof text, "%s: mean %.3f, drawn with %.3f", name, mean, truth);
  return text;
}

// ---------------------------------------------------------------------------
// (1) Normal linear regression: N observations, K coefficients (the first an
// intercept), each with its own normal prior, and a gamma precision.
namespace regression {
constexpr int N = 10000, K = 10;
std::vector<double> X, y;  // X by columns: X[k * N + i]
double truth[K];

void Write() {
  Rng rng(101);
  X.assign(static_cast<size_t>(N) * K, 1.0);
  y.assign(N, 0.0);
  for (int k = 0; k < K; ++k) truth[k] = 1.0 - 0.2 * k;
  std::vector<double> rows(static_cast<size_t>(N) * K);
  for (int i = 0; i < N; ++i) {
    double m = truth[0];
    rows[static_cast<size_t>(i) * K] = 1.0;
    for (int k = 1; k < K; ++k) {
      const double v = std::round(rng.Normal() * 1e4) / 1e4;
      X[static_cast<size_t>(k) * N + i] = v;
      rows[static_cast<size_t>(i) * K + k] = v;
      m += truth[k] * v;
    }
    y[i] = std::round((m + 0.5 * rng.Normal()) * 1e4) / 1e4;
  }
  std::vector<double> b0(K), p0(K);
  for (int k = 0; k < K; ++k) {
    b0[k] = 0.0;
    p0[k] = 1e-4 * (k + 1);
  }
  WriteText("d.dat", "list(x = " + Matrix(rows, N, K) + ",\ny = " + Vector(y) + ",\nb0 = " + Vector(b0) +
                         ", p0 = " + Vector(p0) + ")\n");
  WriteText("i.dat", "list(beta = c(0, 0, 0, 0, 0, 0, 0, 0, 0, 0), tau = 1, seed = 1001)\n");
  WriteText("m.bug",
            "model regression;\nconst N = " + std::to_string(N) + ", K = " + std::to_string(K) +
                ";\nvar x[N, K], y[N], mu[N], beta[K], b0[K], p0[K], tau;\n"
                "data in \"d.dat\";\ninits in \"i.dat\";\n"
                "{ for (i in 1:N) { mu[i] <- inprod(beta[], x[i, ]) y[i] ~ dnorm(mu[i], tau) }\n"
                "  for (k in 1:K) { beta[k] ~ dnorm(b0[k], p0[k]) }\n"
                "  tau ~ dgamma(0.01, 0.01) }\n");
}

// Each coefficient by its normal full conditional, over the residuals kept
// up to date; then the precision by its gamma full conditional.
HandResult Sample(int sweeps) {
  Rng rng(7);
  std::vector<double> beta(K, 0.0), r(y);
  double tau = 1.0, sum = 0.0;
  const Clock::time_point start = Clock::now();
  for (int s = 0; s < sweeps; ++s) {
    for (int k = 0; k < K; ++k) {
      const double* xk = &X[static_cast<size_t>(k) * N];
      const double b = beta[k];
      double sxx = 0.0, sxr = 0.0;
      for (int i = 0; i < N; ++i) {
        sxx += xk[i] * xk[i];
        sxr += xk[i] * (r[i] + xk[i] * b);
      }
      const double p0 = 1e-4 * (k + 1);
      const double prec = p0 + tau * sxx;
      const double mean = tau * sxr / prec;
      const double nb = mean + rng.Normal() / std::sqrt(prec);
      const double d = nb - b;
      for (int i = 0; i < N; ++i) r[i] -= xk[i] * d;
      beta[k] = nb;
    }
    double ss = 0.0;
    for (int i = 0; i < N; ++i) ss += r[i] * r[i];
    tau = rng.Gamma(0.01 + 0.5 * N, 0.01 + 0.5 * ss);
    sum += beta[1];
  }
  return {Seconds(start) * 1000.0 / sweeps, Check("beta[2]", sum / sweeps, truth[1])};
}
}  // namespace regression

// ---------------------------------------------------------------------------
// (2) Normal hierarchical model: J groups of n observations; group means
// normal around a normal overall mean; gamma precisions within and between.
namespace hierarchy {
constexpr int J = 1000, n = 10;
std::vector<double> y;  // y[j * n + k]
constexpr double muTruth = 50.0;

void Write() {
  Rng rng(202);
  y.resize(static_cast<size_t>(J) * n);
  for (int j = 0; j < J; ++j) {
    const double theta = muTruth + 4.0 * rng.Normal();
    for (int k = 0; k < n; ++k) y[static_cast<size_t>(j) * n + k] = std::round((theta + 2.0 * rng.Normal()) * 1e3) / 1e3;
  }
  WriteText("d.dat", "list(y = " + Matrix(y, J, n) + ")\n");
  WriteText("i.dat", "list(mu = 0, tauW = 1, tauB = 1, seed = 2002)\n");
  WriteText("m.bug",
            "model hierarchy;\nconst J = " + std::to_string(J) + ", n = " + std::to_string(n) +
                ";\nvar y[J, n], theta[J], mu, tauW, tauB;\n"
                "data in \"d.dat\";\ninits in \"i.dat\";\n"
                "{ for (j in 1:J) { for (k in 1:n) { y[j, k] ~ dnorm(theta[j], tauW) }\n"
                "    theta[j] ~ dnorm(mu, tauB) }\n"
                "  mu ~ dnorm(0, 1.0E-6)\n  tauW ~ dgamma(0.01, 0.01)\n  tauB ~ dgamma(0.01, 0.01) }\n");
}

// Each group's sum, mean and sum of squares about its mean are formed once
// before the sweeps, as wren forms them when an update command starts: the
// group means then cost one step each and the within-group sum of squares
// one step per group.
HandResult Sample(int sweeps) {
  Rng rng(8);
  std::vector<double> theta(J, 0.0), sy(J, 0.0), ss(J, 0.0);
  double mu = 0.0, tauW = 1.0, tauB = 1.0, sum = 0.0;
  const Clock::time_point start = Clock::now();
  for (int j = 0; j < J; ++j) {
    const double* yj = &y[static_cast<size_t>(j) * n];
    for (int k = 0; k < n; ++k) sy[j] += yj[k];
    for (int k = 0; k < n; ++k) ss[j] += (yj[k] - sy[j] / n) * (yj[k] - sy[j] / n);
  }
  for (int s = 0; s < sweeps; ++s) {
    for (int j = 0; j < J; ++j) {
      const double prec = tauB + n * tauW;
      theta[j] = (tauB * mu + tauW * sy[j]) / prec + rng.Normal() / std::sqrt(prec);
    }
    double st = 0.0;
    for (int j = 0; j < J; ++j) st += theta[j];
    const double precMu = 1e-6 + J * tauB;
    mu = tauB * st / precMu + rng.Normal() / std::sqrt(precMu);
    double ssW = 0.0;
    for (int j = 0; j < J; ++j) {
      const double e = sy[j] / n - theta[j];
      ssW += ss[j] + n * e * e;
    }
    tauW = rng.Gamma(0.01 + 0.5 * J * n, 0.01 + 0.5 * ssW);
    double ssB = 0.0;
    for (int j = 0; j < J; ++j) ssB += (theta[j] - mu) * (theta[j] - mu);
    tauB = rng.Gamma(0.01 + 0.5 * J, 0.01 + 0.5 * ssB);
    sum += mu;
  }
  return {Seconds(start) * 1000.0 / sweeps, Check("mu", sum / sweeps, muTruth)};
}
}  // namespace hierarchy

// ---------------------------------------------------------------------------
// (3) Logistic regression: N observations, three coefficients, each drawn by
// adaptive rejection.
namespace logistic {
constexpr int N = 1000;
constexpr double truth[3] = {-0.5, 1.0, -0.7};
std::vector<double> x1, x2, r;

void Write() {
  Rng rng(303);
  x1.resize(N);
  x2.resize(N);
  r.resize(N);
  for (int i = 0; i < N; ++i) {
    x1[i] = std::round(rng.Normal() * 1e4) / 1e4;
    x2[i] = std::round(rng.Normal() * 1e4) / 1e4;
    const double p = 1.0 / (1.0 + std::exp(-(truth[0] + truth[1] * x1[i] + truth[2] * x2[i])));
    r[i] = rng.Bernoulli(p);
  }
  WriteText("d.dat", "list(x1 = " + Vector(x1) + ",\nx2 = " + Vector(x2) + ",\nr = " + Vector(r) + ")\n");
  WriteText("i.dat", "list(b0 = 0, b1 = 0, b2 = 0, seed = 3003)\n");
  WriteText("m.bug",
            "model logistic;\nconst N = " + std::to_string(N) +
                ";\nvar x1[N], x2[N], r[N], p[N], b0, b1, b2;\ndata in \"d.dat\";\ninits in \"i.dat\";\n"
                "{ for (i in 1:N) { logit(p[i]) <- b0 + b1 * x1[i] + b2 * x2[i]; r[i] ~ dbern(p[i]) }\n"
                "  b0 ~ dnorm(0, 1.0E-6) b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) }\n");
}

// The linear predictor is kept per observation; the log full conditional of
// coefficient k at value b walks the observations once.
HandResult Sample(int sweeps) {
  Rng rng(9);
  std::vector<double> eta(N, 0.0), ones(N, 1.0);
  const std::vector<double>* cov[3] = {&ones, &x1, &x2};
  double b[3] = {0.0, 0.0, 0.0}, sum = 0.0;
  Ars ars[3];
  const Clock::time_point start = Clock::now();
  for (int s = 0; s < sweeps; ++s) {
    for (int k = 0; k < 3; ++k) {
      const double* xk = cov[k]->data();
      const double old = b[k];
      auto h = [&](double v) {
        double l = -0.5e-6 * v * v;
        const double d = v - old;
        for (int i = 0; i < N; ++i) {
          const double e = eta[i] + d * xk[i];
          l += r[i] * e - (e > 0.0 ? e + std::log1p(std::exp(-e)) : std::log1p(std::exp(e)));
        }
        return l;
      };
      const double nb = ars[k].Draw(h, old, rng);
      for (int i = 0; i < N; ++i) eta[i] += (nb - old) * xk[i];
      b[k] = nb;
    }
    sum += b[1];
  }
  return {Seconds(start) * 1000.0 / sweeps, Check("b1", sum / sweeps, truth[1])};
}
}  // namespace logistic

// ---------------------------------------------------------------------------
// (4) Poisson counts with the log link, a covariate and normal random effects
// of G groups; intercept, slope and each effect by adaptive rejection, the
// effects' precision by its gamma full conditional.
namespace poisson {
constexpr int G = 200, per = 10, N = G * per;
constexpr double aTruth = 0.5, bTruth = 0.4;
std::vector<double> x, count;
std::vector<int> group;  // 0-based; the observations of a group are contiguous

void Write() {
  Rng rng(404);
  x.resize(N);
  count.resize(N);
  group.resize(N);
  std::vector<double> g1(N);
  for (int j = 0; j < G; ++j) {
    const double u = 0.5 * rng.Normal();
    for (int k = 0; k < per; ++k) {
      const int i = j * per + k;
      x[i] = std::round(rng.Normal() * 1e4) / 1e4;
      group[i] = j;
      g1[i] = j + 1;
      count[i] = rng.Poisson(std::exp(aTruth + bTruth * x[i] + u));
    }
  }
  WriteText("d.dat", "list(x = " + Vector(x) + ",\ncount = " + Vector(count) + ",\ngroup = " + Vector(g1) + ")\n");
  WriteText("i.dat", "list(a = 0, b = 0, tauU = 1, seed = 4004)\n");
  WriteText("m.bug",
            "model poisson;\nconst N = " + std::to_string(N) + ", G = " + std::to_string(G) +
                ";\nvar x[N], count[N], group[N], lambda[N], u[G], a, b, tauU;\n"
                "data in \"d.dat\";\ninits in \"i.dat\";\n"
                "{ for (i in 1:N) { log(lambda[i]) <- a + b * x[i] + u[group[i]]\n"
                "    count[i] ~ dpois(lambda[i]) }\n"
                "  for (j in 1:G) { u[j] ~ dnorm(0, tauU) }\n"
                "  a ~ dnorm(0, 1.0E-4) b ~ dnorm(0, 1.0E-4) tauU ~ dgamma(0.01, 0.01) }\n");
}

HandResult Sample(int sweeps) {
  Rng rng(10);
  std::vector<double> eta(N, 0.0), u(G, 0.0);
  double a = 0.0, b = 0.0, tauU = 1.0, sum = 0.0;
  Ars arsA, arsB;
  std::vector<Ars> arsU(G);
  const Clock::time_point start = Clock::now();
  for (int s = 0; s < sweeps; ++s) {
    // The effects first, each over its own group's counts.
    for (int j = 0; j < G; ++j) {
      const int lo = j * per, hi = lo + per;
      const double old = u[j];
      auto h = [&](double v) {
        double l = -0.5 * tauU * v * v;
        const double d = v - old;
        for (int i = lo; i < hi; ++i) {
          const double e = eta[i] + d;
          l += count[i] * e - std::exp(e);
        }
        return l;
      };
      const double nu = arsU[j].Draw(h, old, rng);
      for (int i = lo; i < hi; ++i) eta[i] += nu - old;
      u[j] = nu;
    }
    {
      const double old = a;
      auto h = [&](double v) {
        double l = -0.5e-4 * v * v;
        const double d = v - old;
        for (int i = 0; i < N; ++i) {
          const double e = eta[i] + d;
          l += count[i] * e - std::exp(e);
        }
        return l;
      };
      a = arsA.Draw(h, old, rng);
      for (int i = 0; i < N; ++i) eta[i] += a - old;
    }
    {
      const double old = b;
      auto h = [&](double v) {
        double l = -0.5e-4 * v * v;
        const double d = v - old;
        for (int i = 0; i < N; ++i) {
          const double e = eta[i] + d * x[i];
          l += count[i] * e - std::exp(e);
        }
        return l;
      };
      b = arsB.Draw(h, old, rng);
      for (int i = 0; i < N; ++i) eta[i] += (b - old) * x[i];
    }
    double ss = 0.0;
    for (int j = 0; j < G; ++j) ss += u[j] * u[j];
    tauU = rng.Gamma(0.01 + 0.5 * G, 0.01 + 0.5 * ss);
    sum += b;
  }
  return {Seconds(start) * 1000.0 / sweeps, Check("b", sum / sweeps, bTruth)};
}
}  // namespace poisson

// ---------------------------------------------------------------------------
// (5) Multivariate normal observations of dimension D with an unknown mean
// vector (multivariate normal prior, drawn as one block) and an unknown
// precision matrix (Wishart prior).
namespace wishart {
constexpr int N = 500, D = 3;
const double meanTruth[D] = {1.0, -1.0, 2.0};
std::vector<double> y;  // y[i * D + c]
const Mat R0 = {1, 0, 0, 0, 1, 0, 0, 0, 1};
constexpr double k0 = 4.0;
const Mat P0 = {1e-4, 0, 0, 0, 1e-4, 0, 0, 0, 1e-4};

void Write() {
  Rng rng(505);
  Mat cov = {1.0, 0.3, 0.2, 0.3, 2.0, -0.4, 0.2, -0.4, 0.5};
  Cholesky(cov, D);
  y.resize(static_cast<size_t>(N) * D);
  for (int i = 0; i < N; ++i) {
    double z[D];
    for (double& v : z) v = rng.Normal();
    for (int c = 0; c < D; ++c) {
      double v = meanTruth[c];
      for (int k = 0; k <= c; ++k) v += cov[c * D + k] * z[k];
      y[static_cast<size_t>(i) * D + c] = std::round(v * 1e4) / 1e4;
    }
  }
  WriteText("d.dat", "list(y = " + Matrix(y, N, D) + ",\nm0 = c(0, 0, 0), P0 = " + Matrix(P0, D, D) +
                         ",\nR = " + Matrix(R0, D, D) + ", k = 4)\n");
  WriteText("i.dat",
            "list(mu = c(0, 0, 0), T = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)), seed = 5005)\n");
  WriteText("m.bug",
            "model wishart;\nconst N = " + std::to_string(N) + ", D = " + std::to_string(D) +
                ";\nvar y[N, D], mu[D], m0[D], P0[D, D], T[D, D], R[D, D], k;\n"
                "data in \"d.dat\";\ninits in \"i.dat\";\n"
                "{ for (i in 1:N) { y[i, 1:D] ~ dmnorm(mu[], T[, ]) }\n"
                "  mu[1:D] ~ dmnorm(m0[], P0[, ])\n  T[, ] ~ dwish(R[, ], k) }\n");
}

HandResult Sample(int sweeps) {
  Rng rng(11);
  Mat T = {1, 0, 0, 0, 1, 0, 0, 0, 1}, P(D * D), L(D * D), S(D * D), Sigma(D * D), A(D * D), LA(D * D);
  double mu[D] = {0, 0, 0}, sum = 0.0;
  const Clock::time_point start = Clock::now();
  // The sum of the rows, their mean and the scatter about it are formed once
  // before the sweeps, as wren forms them when an update command starts.
  double sy[D] = {0, 0, 0}, ybar[D];
  Mat C(D * D, 0.0);
  for (int i = 0; i < N; ++i)
    for (int c = 0; c < D; ++c) sy[c] += y[static_cast<size_t>(i) * D + c];
  for (int c = 0; c < D; ++c) ybar[c] = sy[c] / N;
  for (int i = 0; i < N; ++i)
    for (int r = 0; r < D; ++r)
      for (int c = 0; c < D; ++c)
        C[r * D + c] += (y[static_cast<size_t>(i) * D + r] - ybar[r]) * (y[static_cast<size_t>(i) * D + c] - ybar[c]);
  for (int s = 0; s < sweeps; ++s) {
    // Mean vector: precision P0 + N T, mean solving it against T times the sum of the rows.
    double b[D];
    for (int r = 0; r < D; ++r) {
      b[r] = 0.0;
      for (int c = 0; c < D; ++c) {
        P[r * D + c] = P0[r * D + c] + N * T[r * D + c];
        b[r] += T[r * D + c] * sy[c];
      }
    }
    L = P;
    if (!Cholesky(L, D)) return {-1.0, "the mean's precision lost definiteness"};
    // Solve L L' m = b, then add L'^{-1} z.
    double w[D], m[D], z[D];
    for (int r = 0; r < D; ++r) {
      double t = b[r];
      for (int k = 0; k < r; ++k) t -= L[r * D + k] * w[k];
      w[r] = t / L[r * D + r];
      z[r] = rng.Normal();
    }
    for (int r = D - 1; r >= 0; --r) {
      double t = w[r] + z[r];
      for (int k = r + 1; k < D; ++k) t -= L[k * D + r] * m[k];
      m[r] = t / L[r * D + r];
    }
    for (int c = 0; c < D; ++c) mu[c] = m[c];
    // Precision matrix: Wishart with scale (R + sum of outer products)^{-1}
    // and k + N degrees of freedom, drawn as L A A' L' with A lower
    // triangular (square roots of chi-squares on the diagonal, normals below).
    // The sum of (y - mu)(y - mu)' is C + N (ybar - mu)(ybar - mu)'.
    S = R0;
    for (int r = 0; r < D; ++r)
      for (int c = 0; c < D; ++c) S[r * D + c] += C[r * D + c] + N * (ybar[r] - mu[r]) * (ybar[c] - mu[c]);
    if (!InvertSpd(S, Sigma, D) || !Cholesky(Sigma, D)) return {-1.0, "the Wishart scale lost definiteness"};
    const double df = k0 + N;
    std::fill(A.begin(), A.end(), 0.0);
    for (int r = 0; r < D; ++r) {
      A[r * D + r] = std::sqrt(2.0 * rng.Gamma(0.5 * (df - r), 1.0));
      for (int c = 0; c < r; ++c) A[r * D + c] = rng.Normal();
    }
    for (int r = 0; r < D; ++r)
      for (int c = 0; c < D; ++c) {
        double t = 0.0;
        for (int k = c; k <= r; ++k) t += Sigma[r * D + k] * A[k * D + c];
        LA[r * D + c] = t;
      }
    for (int r = 0; r < D; ++r)
      for (int c = 0; c < D; ++c) {
        double t = 0.0;
        for (int k = 0; k < D; ++k) t += LA[r * D + k] * LA[c * D + k];
        T[r * D + c] = t;
      }
    sum += mu[0];
  }
  return {Seconds(start) * 1000.0 / sweeps, Check("mu[1]", sum / sweeps, meanTruth[0])};
}
}  // namespace wishart

// User and system time of the child processes that run makes.
double ChildCpu(const std::function<void()>& run) {
  const auto total = [] {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  };
  const double before = total();
  run();
  return total() - before;
}

// Four chains of the normal hierarchy in one run, swept in parallel, against
// four chains run one after another (four times one chain's time), both per
// 1000 sweeps of every chain. The parallel run must take at most 0.6 of the
// time on two cores.
bool FourChains() {
  constexpr int sweeps = 5000;
  constexpr double limit = 0.6;
  hierarchy::Write();
  const WrenTimes one = TimeWren(sweeps, 1);
  const WrenTimes four = TimeWren(sweeps, 4);
  if (one.perThousand <= 0.0 || four.perThousand <= 0.0) return false;
  const double ratio = four.perThousand / (4.0 * one.perThousand);
  std::printf("four chains of the normal hierarchy (1000 x 10), %d sweeps each, seconds per 1000 sweeps:\n", sweeps);
  std::printf("  one chain %.4f; four one after another %.4f; four in parallel %.4f; ratio %.2f (at most %.1f)\n",
              one.perThousand, 4.0 * one.perThousand, four.perThousand, ratio, limit);
  // The processor time of a whole run of each (compile included) tells a
  // busy machine, where the wall-clock ratio says little, from threads that
  // cost more than the chains they run.
  const double cpuOne = ChildCpu([] { RunWren("u", "compile(\"m.bug\")\nupdate(5000)\nq()\n", sweeps); });
  const double cpuFour = ChildCpu([] { RunWren("u", "compile(\"m.bug\", 4)\nupdate(5000)\nq()\n", sweeps); });
  std::printf("  processor seconds of a whole run: one chain %.3f, four chains %.3f (%.2f of four times one)\n",
              cpuOne, cpuFour, cpuFour / (4.0 * cpuOne));
  return ratio <= limit;
}

struct Model {
  const char* name;
  std::function<void()> write;
  std::function<HandResult(int)> sample;
  int wrenSweeps, handSweeps;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s path/to/wren [part of a model's name]\n", argv[0]);
    return 2;
  }
  wrenPath = std::filesystem::absolute(argv[1]).string();
  bench::ScratchDirectory scratch(true);
  if (!scratch.ok()) return 1;

  // The sweep counts keep each wren run to a few seconds.
  const Model models[] = {
      {"linear regression (N 10^4, 10 coef)", regression::Write, regression::Sample, 2000, 2000},
      {"normal hierarchy (1000 x 10)", hierarchy::Write, hierarchy::Sample, 10000, 20000},
      {"logistic regression (N 1000, 3 coef)", logistic::Write, logistic::Sample, 2000, 5000},
      {"Poisson random effects (200 x 10)", poisson::Write, poisson::Sample, 2000, 5000},
      {"multivariate normal, Wishart (500 x 3)", wishart::Write, wishart::Sample, 100000, 200000},
  };
  std::printf("wren against hand-written Gibbs samplers; times in seconds, sweeps per model in brackets\n");
  std::printf("%-40s %10s %15s %14s %8s\n", "model", "compile", "wren /1000", "hand /1000", "ratio");
  std::vector<std::string> checks;
  bool ok = true;
  for (const Model& m : models) {
    if (argc == 3 && std::strstr(m.name, argv[2]) == nullptr) continue;
    m.write();
    const WrenTimes w = TimeWren(m.wrenSweeps);
    const HandResult h = m.sample(m.handSweeps);
    if (w.compile < 0.0 || h.perThousand < 0.0) ok = false;
    const double ratio = (w.perThousand > 0.0 && h.perThousand > 0.0) ? w.perThousand / h.perThousand : 0.0;
    std::printf("%-40s %10.3f %9.4f [%6d] %8.4f [%6d] %8.1f\n", m.name, w.compile, w.perThousand, m.wrenSweeps,
                h.perThousand, m.handSweeps, ratio);
    std::fflush(stdout);
    checks.push_back(std::string(m.name) + ": " + h.check);
  }
  std::printf("hand-written samplers, posterior mean of one unknown over the timed sweeps:\n");
  for (const std::string& c : checks) std::printf("  %s\n", c.c_str());
  if (argc == 2 || std::strstr("four chains", argv[2]) != nullptr) ok = FourChains() && ok;
  return ok ? 0 : 1;
}
