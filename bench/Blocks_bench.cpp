// Block updates against single-node updates: effective samples per second
// of the slowest coefficient, with compile("m.bug") and with
// compile("m.bug", blocks), on two models whose coefficients the posterior
// correlates strongly:
//
//   regression: 434 observations y[i] ~ dnorm(b1 + b2 * x[i], tau), x of mean
//               100 and sd 15, drawn with b1 = 26, b2 = 0.6, sd 18; flat
//               normal priors on b1 and b2, tau ~ dgamma(0.001, 0.001);
//   logistic:   300 Bernoulli observations with a logit link of an intercept
//               and three covariates that share most of their variation
//               (correlation about 0.9).
//
// The model, data and initial values are written into a scratch directory
// from fixed seeds. For each model and each way the wren binary given on the
// command line runs in background mode on a command file that compiles,
// runs the burn-in sweeps and stops (best of two), and on one that goes on
// to monitor the coefficients and run the measured sweeps; the seconds of
// the measured sweeps are the difference. The effective sample size of each
// coefficient comes from its autocorrelations, summed in pairs while the
// pairs stay positive and decreasing (the initial monotone sequence).
//
//   wren_bench_blocks path/to/wren
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Model {
  const char* name;
  std::vector<std::string> coefficients;
  int burn, sweeps;
};

void WriteRegression() {
  bench::Rng rng(17);
  const int n = 434;
  std::vector<double> x(n), y(n);
  for (int i = 0; i < n; ++i) {
    x[i] = 100.0 + 15.0 * rng.Normal();
    y[i] = 26.0 + 0.6 * x[i] + 18.0 * rng.Normal();
  }
  bench::WriteText("m.bug",
                   "model regression;\nconst N = 434;\nvar x[N], y[N], mu[N], b1, b2, tau;\n"
                   "data in \"m.dat\"; inits in \"m.in\";\n"
                   "{ for (i in 1:N) { mu[i] <- b1 + b2 * x[i] y[i] ~ dnorm(mu[i], tau) }\n"
                   "  b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) tau ~ dgamma(0.001, 0.001) }\n");
  bench::WriteText("m.dat", "list(x = " + bench::Vector(x) + ",\ny = " + bench::Vector(y) + ")\n");
  bench::WriteText("m.in", "list(b1 = 0, b2 = 0, tau = 1)\n");
}

void WriteLogistic() {
  bench::Rng rng(29);
  const int n = 300;
  std::vector<double> x1(n), x2(n), x3(n), r(n);
  for (int i = 0; i < n; ++i) {
    const double z = rng.Normal();
    x1[i] = z + 0.3 * rng.Normal();
    x2[i] = z + 0.3 * rng.Normal();
    x3[i] = z + 0.3 * rng.Normal();
    const double eta = -0.5 + 0.8 * x1[i] - 0.4 * x2[i] + 0.3 * x3[i];
    r[i] = rng.Bernoulli(1.0 / (1.0 + std::exp(-eta)));
  }
  bench::WriteText("m.bug",
                   "model logistic;\nconst N = 300;\nvar x1[N], x2[N], x3[N], r[N], p[N], a, b1, b2, b3;\n"
                   "data in \"m.dat\"; inits in \"m.in\";\n"
                   "{ for (i in 1:N) { logit(p[i]) <- a + b1 * x1[i] + b2 * x2[i] + b3 * x3[i]\n"
                   "    r[i] ~ dbern(p[i]) }\n"
                   "  a ~ dnorm(0, 1.0E-6) b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) b3 ~ dnorm(0, 1.0E-6) }\n");
  bench::WriteText("m.dat", "list(x1 = " + bench::Vector(x1) + ",\nx2 = " + bench::Vector(x2) + ",\nx3 = " +
                                bench::Vector(x3) + ",\nr = " + bench::Vector(r) + ")\n");
  bench::WriteText("m.in", "list(a = 0, b1 = 0, b2 = 0, b3 = 0)\n");
}

std::string wrenPath;

// Seconds of a background run on the commands, or a negative number when the
// run failed or its log does not end with the quit.
double Run(const std::string& stem, const std::string& commands) {
  bench::WriteText(stem + ".cmd", commands);
  const std::string line = "\"" + wrenPath + "\" 20 " + stem + " " + stem + ".cmd >/dev/null 2>&1";
  const Clock::time_point start = Clock::now();
  const int status = std::system(line.c_str());
  const double t = std::chrono::duration<double>(Clock::now() - start).count();
  if (status != 0 || bench::ReadText(stem + ".log").find("Wren>q()") == std::string::npos) return -1.0;
  return t;
}

// The samples of each monitored node, from the sample and index files.
std::map<std::string, std::vector<double>> Samples(const std::string& stem) {
  std::map<std::string, std::vector<double>> out;
  std::vector<double> values;
  std::istringstream samples(bench::ReadText(stem + ".out"));
  long iteration = 0;
  double v = 0.0;
  while (samples >> iteration >> v) values.push_back(v);
  std::istringstream index(bench::ReadText(stem + ".ind"));
  std::string name;
  long first = 0, last = 0;
  while (index >> name >> first >> last)
    if (first >= 1 && last <= static_cast<long>(values.size()) && first <= last)
      out[name].assign(values.begin() + first - 1, values.begin() + last);
  return out;
}

// The effective sample size by the initial monotone sequence estimator.
double EffectiveSize(const std::vector<double>& x) {
  const size_t n = x.size();
  if (n < 4) return 0.0;
  double mean = 0.0;
  for (double v : x) mean += v / static_cast<double>(n);
  const auto autocovariance = [&](size_t lag) {
    double s = 0.0;
    for (size_t i = 0; i + lag < n; ++i) s += (x[i] - mean) * (x[i + lag] - mean);
    return s / static_cast<double>(n);
  };
  const double c0 = autocovariance(0);
  if (!(c0 > 0.0)) return static_cast<double>(n);
  double sum = 0.0, previous = std::numeric_limits<double>::infinity();
  for (size_t m = 0; 2 * m + 1 < n; ++m) {
    double pair = (m == 0 ? c0 : autocovariance(2 * m)) + autocovariance(2 * m + 1);
    if (!(pair > 0.0)) break;
    pair = std::min(pair, previous);
    previous = pair;
    sum += pair;
  }
  const double time = (2.0 * sum - c0) / c0;
  return static_cast<double>(n) / std::max(time, 1.0 / static_cast<double>(n));
}

struct Result {
  bool ok = false;
  std::string slowest;
  double ess = 0.0, seconds = 0.0;
  int sweeps = 0;
  double PerSecond() const { return seconds > 0.0 ? ess / seconds : 0.0; }
};

Result Measure(const Model& m, bool blocks) {
  Result r;
  r.sweeps = m.sweeps;
  const std::string compile = std::string("compile(\"m.bug\"") + (blocks ? ", blocks" : "") + ")\n";
  const std::string burn = "update(" + std::to_string(m.burn) + ")\n";
  std::string monitors;
  for (const std::string& c : m.coefficients) monitors += "monitor(" + c + ")\n";
  double base = std::numeric_limits<double>::infinity();
  for (int run = 0; run < 2; ++run) {
    const double t = Run("b", compile + burn + "q()\n");
    if (t < 0.0) return r;
    base = std::min(base, t);
  }
  const double whole = Run("s", compile + burn + monitors + "update(" + std::to_string(m.sweeps) + ")\nq()\n");
  if (whole < 0.0) return r;
  r.seconds = std::max(whole - base, 1.0E-3);
  const auto samples = Samples("s");
  r.ess = std::numeric_limits<double>::infinity();
  for (const std::string& c : m.coefficients) {
    const auto found = samples.find(c);
    if (found == samples.end() || found->second.size() != static_cast<size_t>(m.sweeps)) return r;
    const double e = EffectiveSize(found->second);
    if (e < r.ess) {
      r.ess = e;
      r.slowest = c;
    }
  }
  r.ok = true;
  return r;
}

void Show(const char* way, const Result& r) {
  if (!r.ok) {
    std::printf("  %-10s the run failed\n", way);
    return;
  }
  std::printf("  %-10s slowest %-3s  ESS %8.1f in %6d sweeps (%.4f per sweep), %7.3f s: %10.1f per second\n", way,
              r.slowest.c_str(), r.ess, r.sweeps, r.ess / r.sweeps, r.seconds, r.PerSecond());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: wren_bench_blocks path/to/wren\n");
    return 2;
  }
  wrenPath = std::filesystem::absolute(argv[1]).string();
  bench::ScratchDirectory scratch(true);
  if (!scratch.ok()) return 1;
  std::printf("Block updates: effective samples per second of the slowest coefficient\n");
  const struct {
    Model model;
    void (*write)();
  } models[] = {
      {{"regression, 434 observations, uncentred covariate", {"b1", "b2"}, 1000, 100000}, WriteRegression},
      {{"logistic regression, 300 observations, 3 correlated covariates", {"a", "b1", "b2", "b3"}, 500, 3000},
       WriteLogistic},
  };
  for (const auto& m : models) {
    m.write();
    std::printf("%s\n", m.model.name);
    const Result off = Measure(m.model, false), on = Measure(m.model, true);
    Show("blocks off", off);
    Show("blocks on", on);
    if (off.ok && on.ok && off.PerSecond() > 0.0)
      std::printf("  ratio (on / off): %.1f\n", on.PerSecond() / off.PerSecond());
  }
  return 0;
}
