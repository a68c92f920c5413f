// Posterior correctness of the examples whose unknowns are not all updated in
// closed form: adaptive rejection under the logit, probit, complementary
// log-log and log links, on the whole line, a half line and an interval, and
// the griddy Metropolis step. Every posterior here has one or two dimensions
// once the conjugate unknowns are integrated out, so the exact moments come
// from quadrature on a grid of the log posterior written out in each test.
// Normal distributions are written with their precision, gamma with shape
// and rate.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

double Sq(double x) { return x * x; }

// ln(1 / (1 + e^-x)) without overflow or cancellation on either side.
double LogInvLogit(double x) { return x >= 0.0 ? -std::log1p(std::exp(-x)) : x - std::log1p(std::exp(x)); }

// Binomial log likelihood of y successes in n with success probability given
// by its logarithm and the logarithm of its complement.
double Binomial(double y, double n, double logP, double logQ) { return y * logP + (n - y) * logQ; }

using Function2 = std::function<double(double, double)>;

// Mean and variance of f under a two-dimensional grid.
void Moments2(const Grid2& g, const Function2& f, double& mean, double& var) {
  mean = g.Expect(f);
  var = g.Expect([&](double x, double y) { return Sq(f(x, y)); }) - mean * mean;
}

// A monitored quantity as a function of the two tabulated unknowns.
struct Quantity {
  std::string name;
  const Grid2* grid;
  Function2 f;
};
const Function2 first = [](double x, double) { return x; };
const Function2 second = [](double, double y) { return y; };

// Samples the example and compares each quantity's mean and variance with
// its moments under its grid.
void CompareWithGrids(const std::string& example, const std::vector<Quantity>& quantities, int sweeps, int seed) {
  std::vector<std::string> names;
  for (const Quantity& q : quantities) names.push_back(q.name);
  const ChainSet run = SampleExample(example, names, sweeps, seed);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c(example);
  for (const Quantity& q : quantities) {
    double mean = 0.0, var = 0.0;
    Moments2(*q.grid, q.f, mean, var);
    c.MeanAndVariance(q.name, run[q.name], mean, var);
  }
}

}  // namespace

// hatched_i ~ Bin(p_i, set_i), logit p_i = a + b (temp_i - 37.5), a ~ N(0, 0.01),
// b ~ N(0, 0.1): the joint posterior of (a, b) is tabulated on a grid; p[1]
// is the logistic function of its linear predictor.
TEST(Posterior, HatchingLogisticRegression) {
  const ListFile d(ExampleFile("hatching", "hatching.dat"));
  const std::vector<double>& y = d["hatched"];
  const std::vector<double>& n = d["set"];
  const std::vector<double>& t = d["temp"];
  auto logPost = [&](double a, double b) {
    double lp = -0.005 * a * a - 0.05 * b * b;
    for (size_t i = 0; i < y.size(); ++i) {
      const double eta = a + b * (t[i] - 37.5);
      lp += Binomial(y[i], n[i], LogInvLogit(eta), LogInvLogit(-eta));
    }
    return lp;
  };
  const Grid2 g = Tabulate2(logPost, -10.0, 10.0, -10.0, 10.0);
  const Function2 p1 = [&](double a, double b) { return 1.0 / (1.0 + std::exp(-(a + b * (t[0] - 37.5)))); };
  CompareWithGrids("hatching", {{"a", &g, first}, {"b", &g, second}, {"p[1]", &g, p1}}, 20000, 373737);
}

// Two independent assays. Probit: dead1_k ~ Bin(Phi(a1 + b1 x_k), n1_k),
// a1 ~ N(0, 0.1), b1 ~ N(0, 0.1) cut to (0, 10). Complementary log-log:
// dead2_k ~ Bin(1 - exp(-exp(a2 + b2 x_k)), n2_k), a2 ~ N(0, 0.1),
// b2 ~ Gamma(2, 1). Each pair is tabulated on its own grid.
TEST(Posterior, AssaysProbitAndComplementaryLogLog) {
  const ListFile d(ExampleFile("assays", "assays.dat"));
  const std::vector<double>& x = d["ldose"];
  const std::vector<double>& n1 = d["n1"];
  const std::vector<double>& y1 = d["dead1"];
  const std::vector<double>& n2 = d["n2"];
  const std::vector<double>& y2 = d["dead2"];
  auto probit = [&](double a, double b) {
    double lp = -0.05 * a * a - 0.05 * b * b;
    for (size_t k = 0; k < x.size(); ++k) {
      const double eta = a + b * x[k];
      lp += Binomial(y1[k], n1[k], std::log(NormalCdf(eta)), std::log(NormalUpper(eta)));
    }
    return lp;
  };
  auto cloglog = [&](double a, double b) {
    double lp = -0.05 * a * a + std::log(b) - b;
    for (size_t k = 0; k < x.size(); ++k) {
      const double e = std::exp(a + b * x[k]);
      lp += Binomial(y2[k], n2[k], std::log(-std::expm1(-e)), -e);
    }
    return lp;
  };
  const Grid2 g1 = Tabulate2(probit, -10.0, 10.0, 0.0, 10.0);
  const Grid2 g2 = Tabulate2(cloglog, -10.0, 10.0, 0.0, 30.0);
  CompareWithGrids("assays", {{"a1", &g1, first}, {"b1", &g1, second}, {"a2", &g2, first}, {"b2", &g2, second}},
                   20000, 515151);
}

// count_j ~ Poisson(lambda_j), log lambda_j = lyears_j + a + b (traffic_j - 10),
// a, b ~ N(0, 0.01): the posterior of (a, b) on a grid; lambda[9] is the
// exponential of its linear predictor.
TEST(Posterior, AccidentsPoissonLogLink) {
  const ListFile d(ExampleFile("accidents", "accidents.dat"));
  const std::vector<double>& y = d["count"];
  const std::vector<double>& x = d["traffic"];
  const std::vector<double>& off = d["lyears"];
  auto logPost = [&](double a, double b) {
    double lp = -0.005 * (a * a + b * b);
    for (size_t j = 0; j < y.size(); ++j) {
      const double eta = off[j] + a + b * (x[j] - 10.0);
      lp += y[j] * eta - std::exp(eta);
    }
    return lp;
  };
  const Grid2 g = Tabulate2(logPost, -10.0, 10.0, -5.0, 5.0);
  const Function2 lambda9 = [&](double a, double b) { return std::exp(off[8] + a + b * (x[8] - 10.0)); };
  CompareWithGrids("accidents", {{"a", &g, first}, {"b", &g, second}, {"lambda[9]", &g, lambda9}}, 20000, 919191);
}

// reading_i ~ N(p d1 + (1 - p) d2, tau), p ~ Beta(2, 2), tau ~ Gamma(1, 1e-4).
// Given p, tau ~ Gamma(A, B(p)) with A = 1 + n/2, B(p) = 1e-4 + S(p)/2 and
// S(p) the sum of squared residuals; integrating tau out leaves
// p(p | y) proportional to p (1 - p) B(p)^-A on (0, 1), tabulated in p, with
// E[tau | p] = A / B and E[tau^2 | p] = A (A + 1) / B^2.
TEST(Posterior, BlendBetaShareUnderNormalReadings) {
  const ListFile d(ExampleFile("blend", "blend.dat"));
  const std::vector<double>& y = d["reading"];
  const double d1 = d.Scalar("d1"), d2 = d.Scalar("d2");
  const double A = 1.0 + y.size() / 2.0;
  auto B = [&](double p) {
    double s = 0.0;
    for (double v : y) s += Sq(v - (p * d1 + (1.0 - p) * d2));
    return 1e-4 + s / 2.0;
  };
  const Grid1 g =
      Tabulate1([&](double p) { return std::log(p) + std::log1p(-p) - A * std::log(B(p)); }, 0.0, 1.0, 20001);
  const double p1 = g.Expect([](double p) { return p; });
  const double p2 = g.Expect([](double p) { return p * p; });
  const double t1 = g.Expect([&](double p) { return A / B(p); });
  const double t2 = g.Expect([&](double p) { return A * (A + 1.0) / Sq(B(p)); });

  const ChainSet run = SampleExample("blend", {"p", "tau"}, 20000, 626262);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("blend");
  c.MeanAndVariance("p", run["p"], p1, p2 - p1 * p1);
  c.MeanAndVariance("tau", run["tau"], t1, t2 - t1 * t1);
}

// time_i ~ t_4(mu, s^-2), mu ~ U(20, 40), s ~ U(0.05, 5). The hidden
// chi-square weights of the scale mixture integrate out to the t density
// (1 / s) (1 + ((y - mu) / s)^2 / 4)^(-5/2), so the posterior of (mu, s) is
// tabulated on the rectangle of the priors.
TEST(Posterior, RobustHeavyTailedErrors) {
  const ListFile d(ExampleFile("robust", "robust.dat"));
  const std::vector<double>& y = d["time"];
  auto logPost = [&](double mu, double s) {
    double lp = 0.0;
    for (double v : y) lp += -std::log(s) - 2.5 * std::log1p(Sq((v - mu) / s) / 4.0);
    return lp;
  };
  const Grid2 g = Tabulate2(logPost, 20.0, 40.0, 0.05, 5.0);
  CompareWithGrids("robust", {{"mu", &g, first}, {"s", &g, second}}, 40000, 848484);
}

// yield_i ~ N(b g_i(s), tau) with g_i(s) = log(1 + nitrogen_i / s), tau known,
// b ~ N(0, 0.01), s ~ U(1, 200). Given s, b is normal with precision
// P(s) = 0.01 + tau sum g_i^2 and mean M(s) = tau sum g_i y_i / P(s);
// integrating b out leaves p(s | y) proportional to P^-1/2 exp(M^2 P / 2),
// tabulated in s, and E[b] = E[M], E[b^2] = E[M^2 + 1 / P].
TEST(Posterior, SaturationGriddyScale) {
  const ListFile d(ExampleFile("saturation", "saturation.dat"));
  const std::vector<double>& y = d["yield"];
  const std::vector<double>& x = d["nitrogen"];
  const double tau = d.Scalar("tau");
  auto PM = [&](double s, double& P, double& M) {
    double gg = 0.0, gy = 0.0;
    for (size_t i = 0; i < y.size(); ++i) {
      const double gi = std::log(1.0 + x[i] / s);
      gg += gi * gi;
      gy += gi * y[i];
    }
    P = 0.01 + tau * gg;
    M = tau * gy / P;
  };
  const Grid1 g = Tabulate1(
      [&](double s) {
        double P, M;
        PM(s, P, M);
        return -0.5 * std::log(P) + 0.5 * M * M * P;
      },
      1.0, 200.0, 20001);
  const double s1 = g.Expect([](double s) { return s; });
  const double s2 = g.Expect([](double s) { return s * s; });
  const double b1 = g.Expect([&](double s) {
    double P, M;
    PM(s, P, M);
    return M;
  });
  const double b2 = g.Expect([&](double s) {
    double P, M;
    PM(s, P, M);
    return M * M + 1.0 / P;
  });

  const ChainSet run = SampleExample("saturation", {"b", "s"}, 100000, 737373);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("saturation");
  c.MeanAndVariance("b", run["b"], b1, b2 - b1 * b1);
  c.MeanAndVariance("s", run["s"], s1, s2 - s1 * s1);
}
