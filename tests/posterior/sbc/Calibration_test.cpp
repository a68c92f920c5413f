// Simulation-based calibration of four families of samplers: for each
// replication the test draws the unknowns from their prior and data from the
// model with its own fixed-seed generator, writes the data file, lets wren
// sample the posterior, and records the rank of the true value among thinned
// posterior draws. If wren samples the right posterior, the rank is uniform
// on 0..L; a chi-square test over the L + 1 ranks must give p > 0.01.
// Built as wren_sbc and run by "make validate" only: a few hundred runs of
// wren per family take too long for every test run.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../Harness.h"

using namespace posterior;

namespace {

constexpr int kDraws = 19;  // L: thinned posterior draws a rank is taken among
constexpr int kReplications = 300;

// ln Gamma(a) is std::lgamma; the regularised upper incomplete gamma
// function Q(a, x) by its series below a + 1 and its continued fraction above.
double UpperGammaQ(double a, double x) {
  if (x <= 0.0) return 1.0;
  const double front = std::exp(-x + a * std::log(x) - std::lgamma(a));
  if (x < a + 1.0) {
    double term = 1.0 / a, sum = term;
    for (int n = 1; n < 1000; ++n) {
      term *= x / (a + n);
      sum += term;
      if (std::fabs(term) < std::fabs(sum) * 1e-15) break;
    }
    return 1.0 - front * sum;
  }
  // Modified Lentz evaluation of the continued fraction.
  const double tiny = 1e-300;
  double b = x + 1.0 - a, c = 1.0 / tiny, d = 1.0 / b, h = d;
  for (int i = 1; i < 1000; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < 1e-15) break;
  }
  return front * h;
}

// p-value of the chi-square test of uniformity of ranks in 0..kDraws.
double UniformityP(const std::vector<int>& ranks, std::string& table) {
  std::vector<int> counts(kDraws + 1, 0);
  for (int r : ranks) ++counts[static_cast<size_t>(r)];
  const double expected = static_cast<double>(ranks.size()) / (kDraws + 1);
  double chi2 = 0.0;
  std::ostringstream s;
  for (int c : counts) {
    chi2 += (c - expected) * (c - expected) / expected;
    s << c << ' ';
  }
  table = s.str();
  return UpperGammaQ(kDraws / 2.0, chi2 / 2.0);
}

// One family: a model, the unknowns whose ranks are tested, and a simulator
// that fills the data file and returns the true values, in the order of `unknowns`.
struct Family {
  std::string label, declarations, body;
  std::vector<std::string> unknowns;
  int thin;
  std::function<std::vector<double>(std::mt19937_64&, std::string& data)> simulate;
};

std::string Vector(const std::vector<double>& v) {
  std::string s = "c(";
  char buf[40];
  for (size_t i = 0; i < v.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%.17g", v[i]);
    s += (i ? ", " : "") + std::string(buf);
  }
  return s + ")";
}

double Normal(std::mt19937_64& g, double mean, double sd) { return std::normal_distribution<double>(mean, sd)(g); }
double Uniform(std::mt19937_64& g, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); }

void Calibrate(const Family& f, int firstSeed) {
  const auto start = std::chrono::steady_clock::now();
  std::mt19937_64 gen(static_cast<uint64_t>(firstSeed));
  std::vector<std::vector<int>> ranks(f.unknowns.size());
  for (int rep = 0; rep < kReplications; ++rep) {
    std::string data;
    const std::vector<double> truth = f.simulate(gen, data);
    const RunResult run = RunOnce({.label = f.label,
                                   .files = Inline(f.declarations, f.body, data),
                                   .monitors = f.unknowns,
                                   .burnIn = 200,
                                   .sweeps = kDraws * f.thin,
                                   .seed = firstSeed + 7919 * (rep + 1)});
    ASSERT_TRUE(run.ok) << f.label << " replication " << rep << ": " << run.failure;
    for (size_t u = 0; u < f.unknowns.size(); ++u) {
      const std::vector<double>& trace = run[f.unknowns[u]];  // kDraws * thin sweeps, as the run checks
      int rank = 0;
      for (int k = 1; k <= kDraws; ++k) rank += trace[static_cast<size_t>(k * f.thin - 1)] < truth[u];
      ranks[u].push_back(rank);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (size_t u = 0; u < f.unknowns.size(); ++u) {
    std::string table;
    const double p = UniformityP(ranks[u], table);
    std::printf("[ calibrate] %-14s %-4s %d replications, rank counts %s, chi-square p = %.4f (%.1f s)\n",
                f.label.c_str(), f.unknowns[u].c_str(), kReplications, table.c_str(), p, seconds);
    EXPECT_GT(p, 0.01) << f.label << " " << f.unknowns[u] << ": ranks " << table;
  }
}

}  // namespace

// mu ~ N(0, 1), five readings y_i ~ N(mu, 4): the conjugate normal update.
TEST(Calibration, ConjugateNormalMean) {
  Calibrate({"sbc-normal",
             "var y[5], mu;",
             "  for (i in 1:5) { y[i] ~ dnorm(mu, 4) }\n  mu ~ dnorm(0, 1)\n",
             {"mu"},
             2,
             [](std::mt19937_64& g, std::string& data) {
               const double mu = Normal(g, 0.0, 1.0);
               std::vector<double> y;
               for (int i = 0; i < 5; ++i) y.push_back(Normal(g, mu, 0.5));
               data = "list(y = " + Vector(y) + ")\n";
               return std::vector<double>{mu};
             }},
            1101);
}

// lambda ~ Gamma(2, 1), five counts ~ Poisson(lambda): the conjugate gamma update.
TEST(Calibration, ConjugateGammaRate) {
  Calibrate({"sbc-gamma",
             "var y[5], lambda;",
             "  for (i in 1:5) { y[i] ~ dpois(lambda) }\n  lambda ~ dgamma(2, 1)\n",
             {"lambda"},
             2,
             [](std::mt19937_64& g, std::string& data) {
               const double lambda = std::gamma_distribution<double>(2.0, 1.0)(g);
               std::vector<double> y;
               for (int i = 0; i < 5; ++i) y.push_back(static_cast<double>(std::poisson_distribution<int>(lambda)(g)));
               data = "list(y = " + Vector(y) + ")\n";
               return std::vector<double>{lambda};
             }},
            2202);
}

// a, b ~ N(0, 1), y_k ~ Bin(p_k, 10) with logit p_k = a + b x_k at five covariate values: adaptive
// rejection on the whole line for both.
TEST(Calibration, AdaptiveRejectionLogistic) {
  Calibrate({"sbc-logistic",
             "var y[5], x[5], p[5], a, b;",
             "  for (k in 1:5) {\n    logit(p[k]) <- a + b * x[k]\n    y[k] ~ dbin(p[k], 10)\n  }\n"
             "  a ~ dnorm(0, 1)\n  b ~ dnorm(0, 1)\n",
             {"a", "b"},
             5,
             [](std::mt19937_64& g, std::string& data) {
               const double a = Normal(g, 0.0, 1.0), b = Normal(g, 0.0, 1.0);
               const std::vector<double> x = {-1.0, -0.5, 0.0, 0.5, 1.0};
               std::vector<double> y;
               for (double xk : x) {
                 const double p = 1.0 / (1.0 + std::exp(-(a + b * xk)));
                 int r = 0;
                 for (int j = 0; j < 10; ++j) r += Uniform(g, 0.0, 1.0) < p;
                 y.push_back(r);
               }
               data = "list(x = " + Vector(x) + ", y = " + Vector(y) + ")\n";
               return std::vector<double>{a, b};
             }},
            3303);
}

// s ~ U(0.2, 3), six readings y_i ~ N(0, s^-2): the griddy Metropolis step.
TEST(Calibration, GriddyScale) {
  Calibrate({"sbc-griddy",
             "var y[6], s, tau;",
             "  tau <- pow(s, -2)\n  for (i in 1:6) { y[i] ~ dnorm(0, tau) }\n  s ~ dunif(0.2, 3)\n",
             {"s"},
             5,
             [](std::mt19937_64& g, std::string& data) {
               const double s = Uniform(g, 0.2, 3.0);
               std::vector<double> y;
               for (int i = 0; i < 6; ++i) y.push_back(Normal(g, 0.0, s));
               data = "list(y = " + Vector(y) + ")\n";
               return std::vector<double>{s};
             }},
            4404);
}
