// Posterior checks of the supports the samplers work on: the support used for
// a draw must be the prior's own, cut down to what the likelihood allows, and
// every node whose full conditional has usable structure must get a method.
//
// Whole-line priors under terms that allow only x > -0.5 (a Poisson mean
// x + 0.5): the full conditional is the prior times the terms on that half
// line, not the prior cut off at 0 (which the terms' class, positive-only,
// once suggested). The same terms under a normal or double-exponential prior
// must be sampled too. Each exact posterior is one-dimensional: quadrature.
//
// A dpow(a) prior is beta(a, 1) and is updated as one; a normal with both
// bounds and a term that is not linear in it falls back to the griddy
// updater; a zipf prior is drawn from its own law; a binomial probability
// whose number of trials is itself a Poisson count stays conjugate.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

ChainSet RunModel(const std::string& label, const std::string& declarations, const std::string& body,
                  const std::string& data, const std::string& inits, const std::vector<std::string>& monitors,
                  int seed, int sweeps = 20000) {
  return RunInline(label, InlineModel(label, declarations, body, !data.empty()), data, inits, monitors, seed, sweeps);
}

double Sq(double x) { return x * x; }

// Log likelihood of y ~ dpois(x + 0.5) in x, up to a constant; -infinity
// where the mean is not positive.
double PoissonShifted(double x, double y) {
  const double m = x + 0.5;
  return m > 0.0 ? y * std::log(m) - m : -INFINITY;
}

struct WholeLineCase {
  const char* name;
  const char* prior;                  // the prior of x
  double (*logPrior)(double);         // its log density, up to a constant
  double hi;                          // beyond it the posterior weighs nothing
};

double GumbelLog(double x) { return (0.5 - x) - std::exp(0.5 - x); }
double LogisticLog(double x) { return -(x - 0.5) - 2.0 * std::log1p(std::exp(-(x - 0.5))); }
double NormalLog(double x) { return -0.5 * Sq(x - 0.5); }
double DoubleExpLog(double x) { return -std::fabs(x - 0.5); }

const WholeLineCase wholeLineCases[] = {
    {"gumbel", "dgum(0.5, 1)", GumbelLog, 40.0},
    {"logistic", "dlogis(0.5, 1)", LogisticLog, 60.0},
    {"normal", "dnorm(0.5, 1)", NormalLog, 12.0},
    {"doubleexp", "ddexp(0.5, 1)", DoubleExpLog, 60.0},
};

}  // namespace

// x ~ prior, m <- x + 0.5, y ~ dpois(m) with y = 1: posterior proportional
// to prior(x) (x + 0.5) e^-(x + 0.5) on x > -0.5. Cut off at 0, the Gumbel
// and logistic posteriors had their mass moved up (mean 1.04 for 0.91); the
// normal and double-exponential priors had no method at all.
TEST(Supports, WholeLinePriorsUnderTermsThatAllowPartOfTheLine) {
  int seed = 4100;
  for (const WholeLineCase& c : wholeLineCases) {
    const ChainSet run = RunModel(std::string("wl") + c.name, "var x, m, y;",
                                  std::string("  x ~ ") + c.prior + "\n  m <- x + 0.5\n  y ~ dpois(m)\n",
                                  "list(y = 1)\n", "list(x = 1, seed = 1)\n", {"x"}, ++seed);
    ASSERT_TRUE(run.ok) << c.name << ": " << run.failure;
    const Grid1 g = Tabulate1([&](double x) { return c.logPrior(x) + PoissonShifted(x, 1.0); }, -0.5, c.hi);
    const double mean = g.Expect([](double x) { return x; });
    Comparison cmp(std::string("whole line, ") + c.name);
    cmp.MeanAndVariance("x", run["x"], mean, g.Expect([&](double x) { return Sq(x - mean); }));
  }
}

// One-dimensional posteriors, checked by quadrature:
// - x ~ dgum(0.5, 1), m <- x + 0.5, y ~ dpois(m) with y = 0: the term is
//   e^-(x + 0.5) for x > -0.5 and nothing below (mean 0.377, sd 0.682); the
//   log density of a Poisson count 0 with a negative mean is -infinity, which
//   is where the sampler finds the end of the support;
// - y ~ dpois(x), y = 2, x ~ dnorm(1, 1): N(x; 1, 1) x^2 e^-x on x > 0;
// - x ~ dnorm(1, 1) as the precision of y ~ dnorm(0, x), y = 1: below 0 the
//   term is not a number, which must end the support rather than stop the
//   draw; N(x; 1, 1) x^(1/2) e^(-x/2) on x > 0;
// - x ~ dnorm(0, 1) I(-1, 2) with y ~ dnorm(x^2, 1), y = 1.5: the term is not
//   linear in x, and the bounded normal, which once had no method, is
//   sampled by the griddy updater on (-1, 2).
TEST(Supports, OneDimensionalPosteriors) {
  const std::string declarations = "var x, m, y;";
  const OneUnknownCase cases[] = {
      {"gumbelzero", declarations, "  x ~ dgum(0.5, 1)\n  m <- x + 0.5\n  y ~ dpois(m)\n", "list(y = 0)\n",
       "list(x = 1, seed = 1)\n", 4200, [](double x) { return GumbelLog(x) + PoissonShifted(x, 0.0); }, -0.5, 40.0},
      {"normalmean", declarations, "  x ~ dnorm(1, 1)\n  y ~ dpois(x)\n", "list(y = 2)\n", "list(x = 1, seed = 1)\n",
       4210, [](double x) { return x > 0.0 ? -0.5 * Sq(x - 1.0) + 2.0 * std::log(x) - x : -INFINITY; }, 0.0, 12.0},
      {"normalprecision", declarations, "  x ~ dnorm(1, 1)\n  y ~ dnorm(0, x)\n", "list(y = 1)\n",
       "list(x = 0.2, seed = 1)\n", 4215,
       [](double x) { return x > 0.0 ? -0.5 * Sq(x - 1.0) + 0.5 * std::log(x) - 0.5 * x : -INFINITY; }, 0.0, 12.0},
      {"boundednormal", declarations, "  x ~ dnorm(0, 1) I(-1, 2)\n  m <- x * x\n  y ~ dnorm(m, 1)\n",
       "list(y = 1.5)\n", "list(x = 0.5, seed = 1)\n", 4230,
       [](double x) { return -0.5 * Sq(x) - 0.5 * Sq(1.5 - x * x); }, -1.0, 2.0},
  };
  for (const OneUnknownCase& c : cases) CheckOneUnknown(c);
}

// p ~ dpow(2) is beta(2, 1); with Bernoulli data of s successes in n trials
// the posterior is beta(2 + s, 1 + n - s). The power law once had no method.
TEST(Supports, PowerPriorIsABetaPrior) {
  const ChainSet run = RunModel("power", "const n = 6;\nvar p, y[n];", "  p ~ dpow(2)\n  for (i in 1:n) { y[i] ~ dbern(p) }\n",
                                "list(y = c(1, 0, 1, 1, 0, 1))\n", "list(p = 0.5, seed = 1)\n", {"p"}, 4220);
  ASSERT_TRUE(run.ok) << run.failure;
  const double a = 2.0 + 4.0, b = 1.0 + 2.0;
  Comparison cmp("power prior");
  cmp.MeanAndVariance("p", run["p"], a / (a + b), a * b / (Sq(a + b) * (a + b + 1.0)));
}


// A zipf node without likelihood is drawn from its own law: dzipf(3) has
// mean zeta(2) / zeta(3) (its variance is infinite), and dzipf(2), whose
// heavy tail no enumeration window holds, P(z = 1) = 1 / zeta(2).
TEST(Supports, ZipfPriorDraws) {
  const ChainSet run = RunModel("zipf", "var z, w, one;", "  z ~ dzipf(3)\n  w ~ dzipf(2)\n  one <- equals(w, 1)\n", "",
                                "list(z = 1, w = 1, seed = 1)\n", {"z", "one"}, 4240);
  ASSERT_TRUE(run.ok) << run.failure;
  const auto zeta = [](double a) {
    double sum = 0.0;
    for (int k = 1000000; k >= 1; --k) sum += std::pow(k, -a);
    return sum + std::pow(1000000.5, 1.0 - a) / (a - 1.0);  // the tail beyond, by the integral
  };
  Comparison cmp("zipf prior");
  cmp.Mean("z", run["z"], zeta(2.0) / zeta(3.0));
  const double p1 = 1.0 / zeta(2.0);
  cmp.MeanAndVariance("one", run["one"], p1, p1 * (1.0 - p1));
}

// p ~ beta(1, 1), N ~ Poisson(20), y ~ bin(p, N) with y = 7. Integrating p
// out, P(N | y) is proportional to Pois(N; 20) / (N + 1) for N >= 7, and
// given N, p is beta(8, N - 6): E[p | N] = 8 / (N + 2), E[p^2 | N] =
// 72 / ((N + 2)(N + 3)). p's update must be the conjugate beta one with the
// current N, and N's full conditional must include y's term (drawn from its
// prior alone, N would fall below y and p's update would fail).
TEST(Supports, BinomialProbabilityWithAPoissonCountOfTrials) {
  const ChainSet run = RunModel("bincount", "var p, N, y;", "  p ~ dbeta(1, 1)\n  N ~ dpois(20)\n  y ~ dbin(p, N)\n",
                                "list(y = 7)\n", "list(p = 0.5, N = 20, seed = 1)\n", {"p", "N"}, 4250);
  ASSERT_TRUE(run.ok) << run.failure;
  double total = 0.0, ep = 0.0, ep2 = 0.0, en = 0.0, en2 = 0.0;
  for (int n = 7; n <= 200; ++n) {
    const double w = std::exp(n * std::log(20.0) - 20.0 - std::lgamma(n + 1.0)) / (n + 1.0);
    total += w;
    ep += w * 8.0 / (n + 2.0);
    ep2 += w * 72.0 / ((n + 2.0) * (n + 3.0));
    en += w * n;
    en2 += w * n * n;
  }
  ep /= total, ep2 /= total, en /= total, en2 /= total;
  Comparison cmp("binomial with a Poisson count");
  cmp.MeanAndVariance("p", run["p"], ep, ep2 - ep * ep);
  cmp.MeanAndVariance("N", run["N"], en, en2 - en * en);
}
