// Posterior checks of stochastic counts, of a zipf prior and of a vague gamma
// prior without an initial value. Every exact answer is a finite sum over
// the count's support (or a closed form for the gamma).
//
// A count that is the size of a binomial observation must take that
// observation into its full conditional: it cannot lie below the number of
// successes seen. Left out, the count is drawn from its prior.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

ChainSet RunModel(const std::string& label, const std::string& model, const std::string& data,
                  const std::vector<std::string>& monitors, int seed) {
  return RunInline(label, model, data, "list(seed = 1)\n", monitors, seed);
}

// Mean and variance of a law on 0..top given by its log weights.
void Moments(int top, const std::function<double(int)>& logWeight, double& mean, double& variance) {
  double best = -INFINITY;
  for (int k = 0; k <= top; ++k) best = std::max(best, logWeight(k));
  double total = 0.0, first = 0.0, second = 0.0;
  for (int k = 0; k <= top; ++k) {
    const double w = std::exp(logWeight(k) - best);
    total += w;
    first += w * k;
    second += w * k * k;
  }
  mean = first / total;
  variance = second / total - mean * mean;
}

double LogChoose(int n, int k) { return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0); }

}  // namespace

// A count of trials with a stochastic prior, and a binomial observation of
// it, which rules out every count below the successes seen:
// - N ~ Poisson(20), y ~ Bin(N, 0.4), y = 15: N = 15 + Poisson(12), mean 27
//   and variance 12 (from the prior alone, mean 20 and variance 20);
// - N ~ Bin(20, 0.5), r ~ Bin(N, 0.3), r = 4: N = 4 + Bin(16, 0.35 / 0.85),
//   mean 10.59 (from the prior alone, 10).
TEST(Counts, CountOfTrialsOfABinomialObservation) {
  const struct {
    const char* label;
    const char* body;
    const char* data;
    int seed, top;
    std::function<double(int)> logPosterior;
  } cases[] = {
      {"poisson_count", "  y ~ dbin(0.4, N)\n  N ~ dpois(20)\n", "list(y = 15)\n", 1729, 200,
       [](int n) -> double {
         if (n < 15) return -INFINITY;
         return n * std::log(20.0) - std::lgamma(n + 1.0) + LogChoose(n, 15) + (n - 15) * std::log(0.6);
       }},
      {"binomial_count", "  N ~ dbin(0.5, 20)\n  y ~ dbin(0.3, N)\n", "list(y = 4)\n", 4242, 20,
       [](int n) -> double {
         if (n < 4) return -INFINITY;
         return LogChoose(20, n) + LogChoose(n, 4) + (n - 4) * std::log(0.7);
       }},
  };
  for (const auto& c : cases) {
    const ChainSet run = RunModel(c.label,
                                  std::string("model count;\nvar y, N;\ndata in \"m.dat\";\ninits in \"m.in\";\n{\n") +
                                      c.body + "}\n",
                                  c.data, {"N"}, c.seed);
    ASSERT_TRUE(run.ok) << c.label << ": " << run.failure;
    double mean = 0.0, variance = 0.0;
    Moments(c.top, c.logPosterior, mean, variance);
    Comparison cmp(c.label);
    cmp.MeanAndVariance("N", run["N"], mean, variance);
  }
}

// A zipf(a) prior on a Poisson mean, y = 3 observed: P(k | y) is proportional
// to k^-a k^3 e^-k; the zipf node needs a starting value in its support
// 1, 2, ... With a = 2 the prior's tail is so heavy that a window holding
// all but 1.0E-12 of its mass would need about 10^12 points: the window
// must come from the full conditional, which the Poisson term confines.
TEST(Counts, ZipfPriorOnAPoissonMean) {
  for (const int a : {5, 2}) {
    const std::string label = "zipf_" + std::to_string(a);
    const ChainSet run = RunModel(label,
                                  "model zipf;\nvar y, k;\ndata in \"m.dat\";\ninits in \"m.in\";\n"
                                  "{\n  y ~ dpois(k)\n  k ~ dzipf(" + std::to_string(a) + ")\n}\n",
                                  "list(y = 3)\n", {"k"}, 3141 + a);
    ASSERT_TRUE(run.ok) << run.failure;
    double mean = 0.0, variance = 0.0;
    Moments(200, [a](int k) -> double { return k < 1 ? -INFINITY : (3.0 - a) * std::log(k) - k; }, mean, variance);
    Comparison c(label);
    c.MeanAndVariance("k", run["k"], mean, variance);
  }
}

// y[i] ~ Poisson(lambda), lambda ~ gamma(0.001, 0.001) with no initial value:
// the prior draw is often far below 1.0E-20, which must not stop the
// compilation. Posterior gamma(0.001 + sum y, 0.001 + n). Several seeds.
TEST(Counts, VagueGammaPriorWithoutInitialValue) {
  const std::vector<double> y = {3, 1, 4, 1, 5, 2};
  double sum = 0.0;
  for (double v : y) sum += v;
  const double shape = 0.001 + sum, rate = 0.001 + static_cast<double>(y.size());
  for (int seed : {11, 12, 13, 14, 15}) {
    const ChainSet run = RunModel("vague_gamma",
                                  "model vague;\nvar y[6], lambda;\ndata in \"m.dat\";\ninits in \"m.in\";\n"
                                  "{\n  for (i in 1:6) { y[i] ~ dpois(lambda) }\n  lambda ~ dgamma(0.001, 0.001)\n}\n",
                                  "list(y = c(3, 1, 4, 1, 5, 2))\n", {"lambda"}, seed);
    ASSERT_TRUE(run.ok) << "seed " << seed << ": " << run.failure;
    Comparison c("vague_gamma seed " + std::to_string(seed));
    c.MeanAndVariance("lambda", run["lambda"], shape / rate, shape / (rate * rate));
  }
}
