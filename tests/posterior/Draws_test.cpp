// Posterior checks of the closed-form draws at the edges of their range:
// a latent binomial count with more than 99 trials (enumerated with exact
// log factorials), beta and Dirichlet variates with small shapes (whose
// gamma parts underflow), and gamma, beta and normal variates restricted
// to a region far out in a tail, where drawing until a variate falls
// inside would take forever. Each is compared with exact moments: a sum
// over the support, closed forms, or quadrature over the bounded region.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

ChainSet RunModel(const std::string& label, const std::string& model, const std::string& data,
                  const std::string& inits, const std::vector<std::string>& monitors, int seed) {
  return RunInline(label, model, data, inits, monitors, seed);
}

// Mean and variance of a density known up to a constant on [lo, hi].
void Moments(const std::function<double(double)>& logDensity, double lo, double hi, double& mean,
             double& variance) {
  const Grid1 g = Tabulate1(logDensity, lo, hi, 20001);
  mean = g.Expect([](double x) { return x; });
  variance = g.Expect([mean](double x) { return (x - mean) * (x - mean); });
}

}  // namespace

// x ~ Bin(200, 1/2) seen through y ~ N(x, variance 100), y = 100. The
// enumeration weighs x by ln C(200, x), which takes factorials from both
// sides of the table's end at 99: every mismatch between them bends the
// weights (it once gave P(x = 100) = 0.155 against the exact 0.069).
TEST(Draws, LatentBinomialWithTwoHundredTrials) {
  const ChainSet run = RunModel("bigbin",
                                "model bigbin;\nvar x, y, e;\ndata in \"m.dat\";\ninits in \"m.in\";\n"
                                "{\n  x ~ dbin(0.5, 200)\n  y ~ dnorm(x, 0.01)\n  e <- equals(x, 100)\n}\n",
                                "list(y = 100)\n", "list(seed = 1)\n", {"x", "e"}, 4242);
  ASSERT_TRUE(run.ok) << run.failure;
  std::vector<double> logw(201);
  double top = -1e300;
  for (int k = 0; k <= 200; ++k) {
    logw[k] = std::lgamma(201.0) - std::lgamma(k + 1.0) - std::lgamma(201.0 - k) - 0.005 * (100.0 - k) * (100.0 - k);
    top = std::max(top, logw[k]);
  }
  double total = 0.0, m1 = 0.0, m2 = 0.0;
  for (int k = 0; k <= 200; ++k) {
    const double w = std::exp(logw[k] - top);
    total += w;
    m1 += w * k;
    m2 += w * k * k;
  }
  const double mean = m1 / total, p100 = std::exp(logw[100] - top) / total;
  Comparison c("bigbin");
  c.MeanAndVariance("x", run["x"], mean, m2 / total - mean * mean);
  c.MeanAndVariance("e", run["e"], p100, p100 * (1.0 - p100));
}

// Beta(0.001, 0.001) from its prior: almost every variate lies within
// 1e-300 of 0 or 1, its two gamma parts underflowing. Mean 1/2, variance
// 1 / (4 (2a + 1)) = 0.25 / 1.002.
TEST(Draws, BetaWithTinyShapes) {
  const ChainSet run = RunModel("tinybeta",
                                "model tinybeta;\nvar p;\ninits in \"m.in\";\n{\n  p ~ dbeta(0.001, 0.001)\n}\n", "",
                                "list(seed = 1)\n", {"p"}, 5151);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("tinybeta");
  c.MeanAndVariance("p", run["p"], 0.5, 0.25 / 1.002);
}

// A Dirichlet(0.001, 0.001, 0.001) vector from its prior: each component has
// mean 1/3 and variance (1/3)(2/3) / (1 + 0.003).
TEST(Draws, DirichletWithTinyShapes) {
  const ChainSet run = RunModel("tinydirch",
                                "model tinydirch;\nvar w[3], alpha[3];\ndata in \"m.dat\";\ninits in \"m.in\";\n"
                                "{\n  w[1:3] ~ ddirch(alpha[])\n}\n",
                                "list(alpha = c(0.001, 0.001, 0.001))\n", "list(seed = 1)\n", {"w"}, 6161);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("tinydirch");
  for (const char* name : {"w[1]", "w[2]", "w[3]"})
    c.MeanAndVariance(name, run[name], 1.0 / 3.0, (1.0 / 3.0) * (2.0 / 3.0) / 1.003);
}

// Five proportions with Beta(0.001, 0.001) priors, started from their
// priors, each seen through three Bernoulli successes: each full
// conditional is Beta(3.001, 0.001), whose second gamma part underflows in
// most draws.
TEST(Draws, ConjugateBetaWithTinyPriorShapes) {
  const ChainSet run = RunModel("tinyconj",
                                "model tinyconj;\nvar p[5], y[5, 3];\ndata in \"m.dat\";\ninits in \"m.in\";\n"
                                "{\n  for (i in 1:5) {\n    p[i] ~ dbeta(0.001, 0.001)\n"
                                "    for (j in 1:3) { y[i, j] ~ dbern(p[i]) }\n  }\n}\n",
                                "list(y = structure(.Data = c(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), "
                                ".Dim = c(5, 3)))\n",
                                "list(seed = 1)\n", {"p"}, 7171);
  ASSERT_TRUE(run.ok) << run.failure;
  const double a = 3.001, b = 0.001;
  Comparison c("tinyconj");
  for (const char* name : {"p[1]", "p[5]"})
    c.MeanAndVariance(name, run[name], a / (a + b), a * b / ((a + b) * (a + b) * (a + b + 1.0)));
}

// Conjugate full conditionals cut far into a tail, where repeating the plain
// draw until it falls within the bounds would take for ever:
// - a Poisson rate with a gamma(1, 1) prior cut at 20 and five counts
//   summing to 8: gamma(9, 6) above 20, a region of probability about e^-100;
// - the same rate with counts summing to 40 and an upper bound of 0.5:
//   gamma(41, 6) below 0.5, of probability about 1e-31;
// - a proportion with a uniform prior cut at 0.9 and 20 successes in 100
//   trials: beta(21, 81) above 0.9, of probability about 1e-60.
TEST(Draws, ConjugateDrawsFarInTheirTails) {
  const std::string declarations = "var x, y[5], r;";
  const OneUnknownCase cases[] = {
      {"gammatail", declarations, "  x ~ dgamma(1, 1) I(20, )\n  for (i in 1:5) { y[i] ~ dpois(x) }\n",
       "list(y = c(1, 2, 0, 3, 2))\n", "list(seed = 1, x = 21)\n", 8181,
       [](double x) { return 8.0 * std::log(x) - 6.0 * x; }, 20.0, 40.0},
      {"gammalow", declarations, "  x ~ dgamma(1, 1) I(, 0.5)\n  for (i in 1:5) { y[i] ~ dpois(x) }\n",
       "list(y = c(8, 9, 7, 8, 8))\n", "list(seed = 1, x = 0.4)\n", 8282,
       [](double x) { return 40.0 * std::log(x) - 6.0 * x; }, 0.0, 0.5},
      {"betatail", declarations, "  x ~ dbeta(1, 1) I(0.9, )\n  r ~ dbin(x, 100)\n", "list(r = 20)\n",
       "list(seed = 1, x = 0.95)\n", 9191, [](double x) { return 20.0 * std::log(x) + 80.0 * std::log1p(-x); },
       0.9, 1.0},
  };
  for (const OneUnknownCase& c : cases) CheckOneUnknown(c);
}

// x ~ N(0, 1) cut at 6, with no initial value: both the starting value and
// every draw come from the tail beyond 6 (probability 1e-9). With
// l = phi(6) / Q(6), the mean is l and the variance 1 + 6 l - l^2.
TEST(Draws, NormalPriorBeyondSixWithoutAStartingValue) {
  const ChainSet run = RunModel("normaltail",
                                "model normaltail;\nvar x;\ninits in \"m.in\";\n{\n  x ~ dnorm(0, 1) I(6, )\n}\n",
                                "", "list(seed = 1)\n", {"x"}, 1212);
  ASSERT_TRUE(run.ok) << run.failure;
  const double l = NormalPdf(6.0) / NormalUpper(6.0);
  Comparison c("normaltail");
  c.MeanAndVariance("x", run["x"], l, 1.0 + 6.0 * l - l * l);
}

// Bounded prior draws of gamma, chi-square, exponential and beta nodes whose
// bounds hold almost no probability, none with a starting value: the
// starting values and the draws of every sweep come from the restricted
// prior. Exact moments by quadrature over the region.
TEST(Draws, BoundedPriorsFarInTheirTails) {
  const ChainSet run = RunModel("priortails",
                                "model priortails;\nvar g, c, e, b;\ninits in \"m.in\";\n{\n"
                                "  g ~ dgamma(3, 2) I(25, )\n  c ~ dchisq(4) I(, 0.0001)\n"
                                "  e ~ dexp(2) I(15, 16)\n  b ~ dbeta(2, 8) I(0.9, 0.95)\n}\n",
                                "", "list(seed = 1)\n", {"g", "c", "e", "b"}, 1313);
  ASSERT_TRUE(run.ok) << run.failure;
  struct Case {
    const char* name;
    std::function<double(double)> logDensity;
    double lo, hi;
  };
  const Case cases[] = {
      {"g", [](double x) { return 2.0 * std::log(x) - 2.0 * x; }, 25.0, 45.0},
      {"c", [](double x) { return std::log(x) - 0.5 * x; }, 0.0, 0.0001},
      {"e", [](double x) { return -2.0 * x; }, 15.0, 16.0},
      {"b", [](double x) { return std::log(x) + 7.0 * std::log1p(-x); }, 0.9, 0.95},
  };
  Comparison c("priortails");
  for (const Case& k : cases) {
    double mean = 0.0, variance = 0.0;
    Moments(k.logDensity, k.lo, k.hi, mean, variance);
    c.MeanAndVariance(k.name, run[k.name], mean, variance);
  }
}
