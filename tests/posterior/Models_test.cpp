// Posterior checks of models written here, each against exact moments: a
// closed form, a finite sum over a count's support, or quadrature of a
// one-dimensional density. Normal distributions are written with their
// precision, gamma with shape and rate.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

double Sq(double x) { return x * x; }
double LogChoose(int n, int k) { return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0); }

struct Case {
  RunRequest run;
  std::vector<Exact> exact;
};
RunRequest Model(const std::string& label, const std::string& declarations, const std::string& body,
                 const std::string& data, const std::string& inits, int seed) {
  return {.label = label, .files = Inline(declarations, body, data, inits), .seed = seed};
}
void CheckAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) Check(c.run, c.exact);
}
const std::string seedOnly = "list(seed = 1)\n";

// The log density of Beta(a, b) and Gamma(a, b) on x, up to a constant.
auto BetaLog(double a, double b) {
  return [=](double x) { return (a - 1.0) * std::log(x) + (b - 1.0) * std::log1p(-x); };
}
auto GammaLog(double a, double b) {
  return [=](double x) { return (a - 1.0) * std::log(x) - b * x; };
}

}  // namespace

// A count of trials with a stochastic prior must take its binomial observation into its full conditional
// (it cannot lie below the successes seen); left out, the count is drawn from its prior:
// - N ~ Poisson(20), y ~ Bin(N, 0.4), y = 15: N = 15 + Poisson(12) (from the prior alone, mean 20);
// - N ~ Bin(20, 0.5), r ~ Bin(N, 0.3), r = 4: N = 4 + Bin(16, 0.35 / 0.85), mean 10.59 (prior alone, 10).
// A zipf(a) prior on a Poisson mean, y = 3: P(k | y) ~ k^-a k^3 e^-k on 1, 2, ..., without a starting
// value; with a = 2 no window of the prior's heavy tail fits, so the window comes from the full conditional.
// A vague Gamma(0.001, 0.001) rate without an initial value, whose prior draw is often below 1.0E-20, of
// six Poisson counts: Gamma(0.001 + sum y, 0.001 + n), in five seeds.
TEST(Counts, CountsAndRatesAgainstFiniteSums) {
  std::vector<Case> cases = {
      {Model("poisson_count", "var y, N;", "  y ~ dbin(0.4, N)\n  N ~ dpois(20)\n", "list(y = 15)\n", seedOnly, 1729),
       {Enumerate("N", 200,
                  [](int n) {
                    return n < 15 ? -INFINITY
                                  : n * std::log(20.0) - std::lgamma(n + 1.0) + LogChoose(n, 15) +
                                        (n - 15) * std::log(0.6);
                  })}},
      {Model("binomial_count", "var y, N;", "  N ~ dbin(0.5, 20)\n  y ~ dbin(0.3, N)\n", "list(y = 4)\n", seedOnly,
             4242),
       {Enumerate(
           "N", 20,
           [](int n) { return n < 4 ? -INFINITY : LogChoose(20, n) + LogChoose(n, 4) + (n - 4) * std::log(0.7); })}},
  };
  for (const int a : {5, 2})
    cases.push_back(
        {Model("zipf_" + std::to_string(a), "var y, k;", "  y ~ dpois(k)\n  k ~ dzipf(" + std::to_string(a) + ")\n",
               "list(y = 3)\n", seedOnly, 3141 + a),
         {Enumerate("k", 200, [a](int k) { return k < 1 ? -INFINITY : (3.0 - a) * std::log(k) - k; })}});
  const double shape = 0.001 + 16.0, rate = 0.001 + 6.0;
  for (int seed : {11, 12, 13, 14, 15})
    cases.push_back({Model("vague_gamma_" + std::to_string(seed), "var y[6], lambda;",
                           "  for (i in 1:6) { y[i] ~ dpois(lambda) }\n  lambda ~ dgamma(0.001, 0.001)\n",
                           "list(y = c(3, 1, 4, 1, 5, 2))\n", seedOnly, seed),
                     {{"lambda", shape / rate, shape / (rate * rate)}}});
  CheckAll(cases);
}

// Closed-form draws at the edges of their range:
// - x ~ Bin(200, 1/2) seen through y ~ N(x, 0.01), y = 100: the enumeration weighs x by ln C(200, x), from
//   factorials on both sides of the table's end at 99 (a mismatch once gave P(x = 100) = 0.155, not 0.069);
// - Beta(0.001, 0.001) and Dirichlet(0.001, 0.001, 0.001) from their priors, whose gamma parts underflow:
//   mean 1/2, variance 0.25 / 1.002; means 1/3, variances (1/3)(2/3) / 1.003;
// - five Beta(0.001, 0.001) proportions, each with three Bernoulli successes: Beta(3.001, 0.001);
// - conjugate draws cut far into a tail, where redrawing until a variate falls inside would take for ever:
//   gamma(9, 6) above 20 (probability e^-100), gamma(41, 6) below 0.5 (1e-31), beta(21, 81) above 0.9 (1e-60);
// - N(0, 1) cut at 6 without a starting value: with l = phi(6) / Q(6), mean l and variance 1 + 6 l - l^2;
// - bounded gamma, chi-square, exponential and beta priors in regions of almost no probability, without
//   starting values.
TEST(Draws, ClosedFormDrawsAtTheEdgesOfTheirRange) {
  const auto logw = [](int k) { return LogChoose(200, k) - 0.005 * Sq(100.0 - k); };
  double total = 0.0;
  for (int k = 0; k <= 200; ++k) total += std::exp(logw(k) - logw(100));
  const double p100 = 1.0 / total, l = NormalPdf(6.0) / NormalUpper(6.0);
  const double third = 1.0 / 3.0, tinyVariance = third * (2.0 * third) / 1.003;
  const Exact tiny = {"p", 3.001 / 3.002, 3.001 * 0.001 / (Sq(3.002) * 4.002)};
  const std::string tail = "var x, y[5], r;";
  const std::string pois = "  for (i in 1:5) { y[i] ~ dpois(x) }\n";
  CheckAll({
      {Model("bigbin", "var x, y, e;", "  x ~ dbin(0.5, 200)\n  y ~ dnorm(x, 0.01)\n  e <- equals(x, 100)\n",
             "list(y = 100)\n", seedOnly, 4242),
       {Enumerate("x", 200, logw), {"e", p100, p100 * (1.0 - p100)}}},
      {Model("tinybeta", "var p;", "  p ~ dbeta(0.001, 0.001)\n", "", seedOnly, 5151), {{"p", 0.5, 0.25 / 1.002}}},
      {Model("tinydirch", "var w[3], alpha[3];", "  w[1:3] ~ ddirch(alpha[])\n",
             "list(alpha = c(0.001, 0.001, 0.001))\n", seedOnly, 6161),
       {{"w[1]", third, tinyVariance}, {"w[2]", third, tinyVariance}, {"w[3]", third, tinyVariance}}},
      {Model("tinyconj", "var p[5], y[5, 3];",
             "  for (i in 1:5) {\n    p[i] ~ dbeta(0.001, 0.001)\n    for (j in 1:3) { y[i, j] ~ dbern(p[i]) }\n  }\n",
             "list(y = structure(.Data = c(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), .Dim = c(5, 3)))\n", seedOnly,
             7171),
       {{"p[1]", tiny.mean, tiny.variance}, {"p[5]", tiny.mean, tiny.variance}}},
      {Model("gammatail", tail, "  x ~ dgamma(1, 1) I(20, )\n" + pois, "list(y = c(1, 2, 0, 3, 2))\n",
             "list(seed = 1, x = 21)\n", 8181),
       {Quadrature("x", GammaLog(9.0, 6.0), 20.0, 40.0)}},
      {Model("gammalow", tail, "  x ~ dgamma(1, 1) I(, 0.5)\n" + pois, "list(y = c(8, 9, 7, 8, 8))\n",
             "list(seed = 1, x = 0.4)\n", 8282),
       {Quadrature("x", GammaLog(41.0, 6.0), 0.0, 0.5)}},
      {Model("betatail", tail, "  x ~ dbeta(1, 1) I(0.9, )\n  r ~ dbin(x, 100)\n", "list(r = 20)\n",
             "list(seed = 1, x = 0.95)\n", 9191),
       {Quadrature("x", BetaLog(21.0, 81.0), 0.9, 1.0)}},
      {Model("normaltail", "var x;", "  x ~ dnorm(0, 1) I(6, )\n", "", seedOnly, 1212),
       {{"x", l, 1.0 + 6.0 * l - l * l}}},
      {Model("priortails", "var g, c, e, b;",
             "  g ~ dgamma(3, 2) I(25, )\n  c ~ dchisq(4) I(, 0.0001)\n"
             "  e ~ dexp(2) I(15, 16)\n  b ~ dbeta(2, 8) I(0.9, 0.95)\n",
             "", seedOnly, 1313),
       {Quadrature("g", GammaLog(3.0, 2.0), 25.0, 45.0), Quadrature("c", GammaLog(2.0, 0.5), 0.0, 0.0001),
        Quadrature("e", GammaLog(1.0, 2.0), 15.0, 16.0), Quadrature("b", BetaLog(2.0, 8.0), 0.9, 0.95)}},
  });
}

// The support of a draw is the prior's own, cut down to what the likelihood allows:
// - whole-line priors under y ~ dpois(x + 0.5), y = 1: prior(x) (x + 0.5) e^-(x + 0.5) on x > -0.5, not the
//   prior cut at 0 (as the terms' class, positive-only, once suggested: the Gumbel mean moved from 0.91 to
//   1.04); the normal and double exponential once had no method. With y = 0 the term's log at a negative
//   mean is -infinity, which is where the Gumbel's support ends;
// - y ~ dpois(x), y = 2, x ~ N(1, 1): N(x; 1, 1) x^2 e^-x on x > 0;
// - x ~ N(1, 1) as the precision of y ~ N(0, x), y = 1: below 0 the term is not a number, which ends the
//   support rather than the draw; N(x; 1, 1) x^(1/2) e^(-x/2) on x > 0;
// - x ~ N(0, 1) I(-1, 2), y ~ N(x^2, 1), y = 1.5: a term not linear in x; the griddy updater on (-1, 2);
// - p ~ dpow(2) is Beta(2, 1), updated as one: with 4 successes in 6, Beta(6, 3);
// - zipf priors without likelihood: dzipf(3) has mean zeta(2) / zeta(3), and for dzipf(2), whose tail no
//   window holds, P(w = 1) = 1 / zeta(2);
// - p ~ Beta(1, 1), N ~ Poisson(20), y ~ Bin(p, N), y = 7: P(N | y) ~ Pois(N; 20) / (N + 1) for N >= 7, and
//   given N, p ~ Beta(8, N - 6): E[p | N] = 8 / (N + 2), E[p^2 | N] = 72 / ((N + 2)(N + 3)). p's update
//   must stay conjugate with the current N, and N's must take in y's term.
TEST(Supports, SupportsOfTheDraws) {
  const auto gumbel = [](double x) { return (0.5 - x) - std::exp(0.5 - x); };
  const auto shifted = [](double y) {
    return [y](double x) { return x + 0.5 > 0.0 ? y * std::log(x + 0.5) - (x + 0.5) : -INFINITY; };
  };
  const struct {
    const char *name, *prior;
    std::function<double(double)> logPrior;
    double hi;
  } wholeLine[] = {
      {"gumbel", "dgum(0.5, 1)", gumbel, 40.0},
      {"logistic", "dlogis(0.5, 1)", [](double x) { return -(x - 0.5) - 2.0 * std::log1p(std::exp(-(x - 0.5))); },
       60.0},
      {"normal", "dnorm(0.5, 1)", [](double x) { return -0.5 * Sq(x - 0.5); }, 12.0},
      {"doubleexp", "ddexp(0.5, 1)", [](double x) { return -std::fabs(x - 0.5); }, 60.0},
  };
  const std::string decl = "var x, m, y;";
  std::vector<Case> cases;
  int seed = 4100;
  for (const auto& c : wholeLine)
    cases.push_back(
        {Model(std::string("wl") + c.name, decl, std::string("  x ~ ") + c.prior + "\n  m <- x + 0.5\n  y ~ dpois(m)\n",
               "list(y = 1)\n", "list(x = 1, seed = 1)\n", ++seed),
         {Quadrature(
             "x", [&c, shifted](double x) { return c.logPrior(x) + shifted(1.0)(x); }, -0.5, c.hi)}});
  const auto positive = [](double x, double v) { return x > 0.0 ? v : -INFINITY; };
  double total = 0.0, ep = 0.0, ep2 = 0.0, en = 0.0, en2 = 0.0;
  for (int n = 7; n <= 200; ++n) {
    const double w = std::exp(n * std::log(20.0) - 20.0 - std::lgamma(n + 1.0)) / (n + 1.0);
    total += w, ep += w * 8.0 / (n + 2.0), ep2 += w * 72.0 / ((n + 2.0) * (n + 3.0)), en += w * n, en2 += w * n * n;
  }
  ep /= total, ep2 /= total, en /= total, en2 /= total;
  const auto zeta = [](double a) {
    double sum = 0.0;
    for (int k = 1000000; k >= 1; --k) sum += std::pow(k, -a);
    return sum + std::pow(1000000.5, 1.0 - a) / (a - 1.0);  // the tail beyond, by the integral
  };
  const double one = 1.0 / zeta(2.0);
  cases.insert(
      cases.end(),
      {
          {Model("gumbelzero", decl, "  x ~ dgum(0.5, 1)\n  m <- x + 0.5\n  y ~ dpois(m)\n", "list(y = 0)\n",
                 "list(x = 1, seed = 1)\n", 4200),
           {Quadrature(
               "x", [&](double x) { return gumbel(x) + shifted(0.0)(x); }, -0.5, 40.0)}},
          {Model("normalmean", decl, "  x ~ dnorm(1, 1)\n  y ~ dpois(x)\n", "list(y = 2)\n", "list(x = 1, seed = 1)\n",
                 4210),
           {Quadrature(
               "x", [&](double x) { return positive(x, -0.5 * Sq(x - 1.0) + 2.0 * std::log(x) - x); }, 0.0, 12.0)}},
          {Model("normalprecision", decl, "  x ~ dnorm(1, 1)\n  y ~ dnorm(0, x)\n", "list(y = 1)\n",
                 "list(x = 0.2, seed = 1)\n", 4215),
           {Quadrature(
               "x", [&](double x) { return positive(x, -0.5 * Sq(x - 1.0) + 0.5 * std::log(x) - 0.5 * x); }, 0.0,
               12.0)}},
          {Model("boundednormal", decl, "  x ~ dnorm(0, 1) I(-1, 2)\n  m <- x * x\n  y ~ dnorm(m, 1)\n",
                 "list(y = 1.5)\n", "list(x = 0.5, seed = 1)\n", 4230),
           {Quadrature(
               "x", [](double x) { return -0.5 * Sq(x) - 0.5 * Sq(1.5 - x * x); }, -1.0, 2.0)}},
          {Model("power", "const n = 6;\nvar p, y[n];", "  p ~ dpow(2)\n  for (i in 1:n) { y[i] ~ dbern(p) }\n",
                 "list(y = c(1, 0, 1, 1, 0, 1))\n", "list(p = 0.5, seed = 1)\n", 4220),
           {{"p", 6.0 / 9.0, 18.0 / (81.0 * 10.0)}}},
          {Model("zipf", "var z, w, one;", "  z ~ dzipf(3)\n  w ~ dzipf(2)\n  one <- equals(w, 1)\n", "",
                 "list(z = 1, w = 1, seed = 1)\n", 4240),
           {{"z", zeta(2.0) / zeta(3.0)}, {"one", one, one * (1.0 - one)}}},
          {Model("bincount", "var p, N, y;", "  p ~ dbeta(1, 1)\n  N ~ dpois(20)\n  y ~ dbin(p, N)\n", "list(y = 7)\n",
                 "list(p = 0.5, N = 20, seed = 1)\n", 4250),
           {{"p", ep, ep2 - ep * ep}, {"N", en, en2 - en * en}}},
      });
  CheckAll(cases);
}

// One coefficient x ~ N(0, 0.25) whose terms read a proportion or a mean through a link of the predictor
// off[i] + x z[i], each term with only the logarithms its count needs: Bernoulli terms under the logit,
// probit and complementary log-log links, binomial counts of 0, of n and between, and Poisson counts under
// the log link. Predictors near 30 and -30 leave one of p and 1 - p below 1.0E-13, whose log must stay
// exact; the log-link offsets stop at -30 (a mean of 1.0E-13), as 30 would dwarf every other term.
TEST(LinkTerms, OneCoefficientUnderEachLink) {
  const std::vector<double> off = {0.3, -0.4, 1.1, -1.5, 0.0, 0.8, 30.0, -30.0},
                            z = {1.0, -0.5, 0.7, 1.2, -1.0, 0.2, 0.5, 0.5};
  const std::vector<double> offPois = {0.3, -0.4, 1.1, -1.5, 0.0, 0.8, -3.0, -30.0}, ones(8, 1.0);
  const std::vector<double> yb = {1, 0, 1, 0, 0, 1, 1, 0}, yn = {3, 0, 5, 1, 2, 5, 6, 0}, nn = {5, 4, 5, 6, 3, 5, 6, 2};
  const std::vector<double> yp = {2, 0, 4, 0, 1, 3, 0, 0};
  const auto vec = [](const char* name, const std::vector<double>& v) {
    std::string s = std::string(", ") + name + " = c(";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
    return s + ")";
  };
  // ln p and ln(1 - p) from the predictor, under each link.
  using LogPQ = std::pair<double, double> (*)(double);
  const LogPQ logit = [](double e) { return std::pair{-std::log1p(std::exp(-e)), -std::log1p(std::exp(e))}; };
  const LogPQ probit = [](double e) { return std::pair{std::log(NormalCdf(e)), std::log(NormalUpper(e))}; };
  const LogPQ cloglog = [](double e) { return std::pair{std::log(-std::expm1(-std::exp(e))), -std::exp(e)}; };
  // y ln p + (n - y) ln(1 - p) with the prior, a count of 0 contributing nothing.
  const auto binomial = [&](LogPQ link, std::vector<double> y, std::vector<double> n) {
    return [=](double x) {
      double sum = -0.125 * x * x;
      for (size_t i = 0; i < y.size(); ++i) {
        const auto [lp, lq] = link(off[i] + x * z[i]);
        sum += (y[i] > 0.0 ? y[i] * lp : 0.0) + (n[i] - y[i] > 0.0 ? (n[i] - y[i]) * lq : 0.0);
      }
      return sum;
    };
  };
  const auto poisson = [&](double x) {
    double sum = -0.125 * x * x;
    for (size_t i = 0; i < yp.size(); ++i) sum += yp[i] * (offPois[i] + x * z[i]) - std::exp(offPois[i] + x * z[i]);
    return sum;
  };
  const auto model = [&](const std::string& label, const std::string& link, const std::string& term,
                         const std::string& data, int seed, const std::function<double(double)>& logPosterior) {
    const std::string sizes = term.find("n[i]") == std::string::npos ? "" : "n[N], ";
    return Case{Model(label, "const N = 8;\nvar off[N], z[N], y[N], " + sizes + "p[N], x;",
                      "  for (i in 1:N) {\n    " + link + "(p[i]) <- off[i] + x * z[i]\n    y[i] ~ " + term +
                          "\n  }\n  x ~ dnorm(0, 0.25)\n",
                      "list(" + data.substr(2) + ")\n", "list(seed = 1, x = 0)\n", seed),
                {Quadrature("x", logPosterior, -10.0, 10.0)}};
  };
  const std::string bern = vec("off", off) + vec("z", z) + vec("y", yb),
                    bin = vec("off", off) + vec("z", z) + vec("y", yn) + vec("n", nn);
  CheckAll({
      model("logitbern", "logit", "dbern(p[i])", bern, 5101, binomial(logit, yb, ones)),
      model("probitbern", "probit", "dbern(p[i])", bern, 5102, binomial(probit, yb, ones)),
      model("cloglogbern", "cloglog", "dbern(p[i])", bern, 5103, binomial(cloglog, yb, ones)),
      model("logitbin", "logit", "dbin(p[i], n[i])", bin, 5104, binomial(logit, yn, nn)),
      model("cloglogbin", "cloglog", "dbin(p[i], n[i])", bin, 5105, binomial(cloglog, yn, nn)),
      model("logpois", "log", "dpois(p[i])", vec("off", offPois) + vec("z", z) + vec("y", yp), 5106, poisson),
  });
}

// Models written as their users write them:
// - y[i] ~ N(a + b x[i], 4), centred x, vague priors: a and b independent normals with precisions
//   1.0E-4 + 4 n and 1.0E-4 + 4 sum x^2, means 4 sum y / prec and 4 sum x y / prec; p ~ beta(1 + s, 1 + f)
//   with k successes in n: beta(1 + s + k, 1 + f + n - k);
// - z[j] ~ N(mu X[1, j], 1), mu ~ N(0, 1), X given as R writes it, structure(c(X11, X21, X12, ...),
//   dim = 2:3): read by columns X[1, ] = (1, 2, 3), mu has precision 15 and mean sum X[1, j] z[j] / 15;
//   read by rows it would be (1, 0.5, 2).
TEST(Forms, ParametersAsExpressionsAndMatricesByColumn) {
  const double precA = 1.0E-4 + 4.0 * 5, precB = 1.0E-4 + 4.0 * 10, sy = 4.8, sxy = 17.9, alpha = 11, beta = 19;
  CheckAll({
      {Model("parameter_expressions", "var x[5], y[5], a, b, s, f, n, k, p;",
             "  for (i in 1:5) { y[i] ~ dnorm(a + b * x[i], 4) }\n  a ~ dnorm(0, 1.0E-4)\n  b ~ dnorm(0, 1.0E-4)\n"
             "  p ~ dbeta(1 + s, 1 + f)\n  k ~ dbin(p, n)\n",
             "list(x = c(-2, -1, 0, 1, 2), y = c(-2.9, -0.4, 1.2, 2.1, 4.8), s = 3, f = 5, n = 20, k = 7)\n", seedOnly,
             2024),
       {{"a", 4.0 * sy / precA, 1.0 / precA},
        {"b", 4.0 * sxy / precB, 1.0 / precB},
        {"p", alpha / (alpha + beta), alpha * beta / (Sq(alpha + beta) * (alpha + beta + 1))}}},
      {Model("column_order", "var X[2, 3], z[3], mu;",
             "  for (j in 1:3) { z[j] ~ dnorm(mu * X[1, j], 1) }\n  mu ~ dnorm(0, 1)\n",
             "list(X = structure(c(1, 0.5, 2, -1, 3, 4), dim = 2:3), z = c(0.7, 1.1, 2.0))\n", seedOnly, 77),
       {{"mu", (0.7 + 2.2 + 6.0) / 15.0, 1.0 / 15.0}}},
  });
}

// A prediction (an unobserved stochastic node without children) is drawn from its prior, which is right
// only after its parents in the same sweep; drawn from their values of the sweep before, it would pair
// values of two sweeps:
// - mu ~ N(0, 1), y ~ N(mu, 1): d = y - mu is N(0, 1) (variance 3 if lagged);
// - s ~ N(0, 1), a ~ N(s, 1), b ~ N(s a, 1): E[b] = E[s^2] = 1, Var(b) = E[s^2 a^2] - 1 + 1 = 4 (0 and 3 if lagged).
TEST(KnownFaults, PredictionsDrawnAfterTheirParents) {
  CheckAll({
      {Model("lag", "var mu, y, d;", "  mu ~ dnorm(0, 1)\n  y ~ dnorm(mu, 1)\n  d <- y - mu\n", "", seedOnly, 2468),
       {{"d", 0.0, 1.0}}},
      {Model("chain", "var s, a, m, b;", "  s ~ dnorm(0, 1)\n  a ~ dnorm(s, 1)\n  m <- s * a\n  b ~ dnorm(m, 1)\n", "",
             seedOnly, 1357),
       {{"b", 1.0, 4.0}}},
  });
}

// Prior-only counts of huge size, drawn directly every sweep: a draw whose time grew with the parameter (a
// counting binomial of 1e8 trials takes seconds) would hold the run for hours, so the 2000 sweeps of burn-in
// must show 00:00:00. Binomial: n p, n p (1 - p); Poisson: the mean twice; negative binomial (failures
// before the r-th success): r (1 - p) / p, r (1 - p) / p^2. Starting values near the means, as starting
// values do not enumerate a binomial of more than 1000 trials.
TEST(LargeCounts, PriorOnlyCountsOfHugeSizeDrawQuicklyWithTheirMoments) {
  const double p = 1.0E-4, r = 1000.0;
  RunRequest request =
      Model("largecounts", "var x, y, z;", "  x ~ dbin(0.5, 1.0E8)\n  y ~ dpois(1.0E9)\n  z ~ dnegbin(1.0E-4, 1000)\n",
            "", "list(seed = 1, x = 50000000, y = 1000000000, z = 9999000)\n", 8642);
  request.burnIn = 2000;
  const ChainSet run =
      Check(request, {{"x", 5.0E7, 2.5E7}, {"y", 1.0E9, 1.0E9}, {"z", r * (1.0 - p) / p, r * (1.0 - p) / (p * p)}});
  for (const RunResult& one : run.runs) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(one.log, m, std::regex("time for +2000 +updates was +([0-9:]+)"))) << one.log;
    EXPECT_EQ(m[1].str(), "00:00:00") << "2000 sweeps took that long";
  }
}
