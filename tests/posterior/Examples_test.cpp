// Posterior correctness of the example gallery: each test samples one example
// with a fixed seed and compares the posterior mean and variance of every
// monitored quantity with exact values computed here from the example's data
// file. The comments give the formulas; "Gamma(a, b)" has shape a and rate b,
// normal distributions are written with their precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

double Sum(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); }
double Sq(double x) { return x * x; }

// Moments of a beta distribution.
double BetaMean(double a, double b) { return a / (a + b); }
double BetaVar(double a, double b) { return a * b / (Sq(a + b) * (a + b + 1.0)); }

}  // namespace

// Normal readings y_i ~ N(mu, tau) with independent priors mu ~ N(m0, t0) and
// tau ~ Gamma(a0, b0). Given mu, tau ~ Gamma(A, B(mu)) with A = a0 + n/2 and
// B(mu) = b0 + S(mu)/2, S(mu) = sum (y_i - mu)^2; integrating tau out leaves
// p(mu | y) proportional to exp(-t0 (mu - m0)^2 / 2) B(mu)^-A, tabulated in mu.
// Then E[tau | mu] = A/B, E[tau^2 | mu] = A(A+1)/B^2,
// E[sigma | mu] = sqrt(B) Gamma(A - 1/2) / Gamma(A), E[sigma^2 | mu] = B/(A - 1),
// and the next reading has mean E[mu] and second moment E[mu^2] + E[B/(A - 1)].
TEST(Posterior, KilnNormalMeanAndPrecision) {
  const ListFile d(ExampleFile("kiln", "kiln.dat"));
  const std::vector<double>& y = d["temp"];
  const double m0 = d.Scalar("m0"), t0 = d.Scalar("t0"), a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  const double A = a0 + y.size() / 2.0;
  const double ybar = Sum(y) / y.size();
  auto B = [&](double mu) {
    double s = 0.0;
    for (double v : y) s += Sq(v - mu);
    return b0 + s / 2.0;
  };
  const Grid1 g = Tabulate1([&](double mu) { return -0.5 * t0 * Sq(mu - m0) - A * std::log(B(mu)); }, ybar - 500.0,
                            ybar + 500.0);
  const double mu1 = g.Expect([](double mu) { return mu; });
  const double mu2 = g.Expect([](double mu) { return mu * mu; });
  const double tau1 = g.Expect([&](double mu) { return A / B(mu); });
  const double tau2 = g.Expect([&](double mu) { return A * (A + 1.0) / Sq(B(mu)); });
  const double ratio = std::exp(std::lgamma(A - 0.5) - std::lgamma(A));
  const double sig1 = g.Expect([&](double mu) { return std::sqrt(B(mu)) * ratio; });
  const double sig2 = g.Expect([&](double mu) { return B(mu) / (A - 1.0); });

  const ChainSet run = SampleExample("kiln", {"mu", "tau", "sigma", "nextTemp"}, 20000, 4711);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("kiln");
  c.MeanAndVariance("mu", run["mu"], mu1, mu2 - mu1 * mu1);
  c.MeanAndVariance("tau", run["tau"], tau1, tau2 - tau1 * tau1);
  c.MeanAndVariance("sigma", run["sigma"], sig1, sig2 - sig1 * sig1);
  c.MeanAndVariance("nextTemp", run["nextTemp"], mu1, mu2 + sig2 - mu1 * mu1);
}

// Counts y_lj ~ Poisson(lambda_l a_lj), lambda_l ~ Gamma(shape, beta),
// beta ~ Gamma(a0, b0). Given beta the rates are independent,
// lambda_l ~ Gamma(shape + S_l, beta + A_l) with S_l and A_l the line's flaws
// and area; integrating them out leaves p(beta | y) proportional to
// beta^(a0 - 1) exp(-b0 beta) prod_l beta^shape (beta + A_l)^-(shape + S_l),
// tabulated in u = log beta (with the Jacobian beta). The new sheet's count is
// Poisson(a lambda_2): mean a E[lambda_2], variance a E[lambda_2] + a^2 Var(lambda_2).
TEST(Posterior, GlassPoissonRatesUnderAGammaRate) {
  const ListFile d(ExampleFile("glass", "glass.dat"));
  const std::vector<double>& flaws = d["flaws"];
  const std::vector<double>& area = d["area"];
  const double shape = d.Scalar("shape"), a0 = d.Scalar("a0"), b0 = d.Scalar("b0"), newArea = d.Scalar("newArea");
  const int lines = 3, sheets = 8;
  ASSERT_EQ(flaws.size(), static_cast<size_t>(lines * sheets));
  std::vector<double> S(lines, 0.0), Ar(lines, 0.0);
  for (int l = 0; l < lines; ++l)
    for (int j = 0; j < sheets; ++j) {
      S[l] += flaws[l * sheets + j];
      Ar[l] += area[l * sheets + j];
    }
  const Grid1 g = Tabulate1(
      [&](double u) {
        const double beta = std::exp(u);
        double lp = a0 * u - b0 * beta;
        for (int l = 0; l < lines; ++l) lp += shape * u - (shape + S[l]) * std::log(beta + Ar[l]);
        return lp;
      },
      -30.0, 10.0);
  const double beta1 = g.Expect([](double u) { return std::exp(u); });
  const double beta2 = g.Expect([](double u) { return std::exp(2.0 * u); });

  const ChainSet run = SampleExample("glass", {"lambda", "beta", "newFlaws"}, 20000, 2024);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("glass");
  double lam2[2] = {0.0, 0.0};
  for (int l = 0; l < lines; ++l) {
    const double k = shape + S[l];
    const double m1 = g.Expect([&](double u) { return k / (std::exp(u) + Ar[l]); });
    const double m2 = g.Expect([&](double u) { return k * (k + 1.0) / Sq(std::exp(u) + Ar[l]); });
    c.MeanAndVariance("lambda[" + std::to_string(l + 1) + "]", run["lambda[" + std::to_string(l + 1) + "]"], m1,
                      m2 - m1 * m1);
    if (l == 1) lam2[0] = m1, lam2[1] = m2;
  }
  c.MeanAndVariance("beta", run["beta"], beta1, beta2 - beta1 * beta1);
  c.MeanAndVariance("newFlaws", run["newFlaws"], newArea * lam2[0],
                    newArea * lam2[0] + Sq(newArea) * (lam2[1] - lam2[0] * lam2[0]));
}

// Binomial counts r_lj ~ Bin(p_l, n_lj) with p_l ~ Beta(a0, b0): the posterior of
// p_l is Beta(a0 + sum r, b0 + sum (n - r)); the lots are independent, so
// diff = p_1 - p_2 has the difference of the means and the sum of the variances.
TEST(Posterior, GerminationBetaBinomial) {
  const ListFile d(ExampleFile("germination", "germination.dat"));
  const std::vector<double>& r = d["sprouted"];
  const std::vector<double>& n = d["sown"];
  const double a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  double a[2], b[2];
  for (int l = 0; l < 2; ++l) {
    a[l] = a0, b[l] = b0;
    for (int j = 0; j < 5; ++j) {
      a[l] += r[l * 5 + j];
      b[l] += n[l * 5 + j] - r[l * 5 + j];
    }
  }
  const ChainSet run = SampleExample("germination", {"p", "diff"}, 20000, 1357);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("germination");
  c.MeanAndVariance("p[1]", run["p[1]"], BetaMean(a[0], b[0]), BetaVar(a[0], b[0]));
  c.MeanAndVariance("p[2]", run["p[2]"], BetaMean(a[1], b[1]), BetaVar(a[1], b[1]));
  c.MeanAndVariance("diff", run["diff"], BetaMean(a[0], b[0]) - BetaMean(a[1], b[1]),
                    BetaVar(a[0], b[0]) + BetaVar(a[1], b[1]));
}

// Waits w_i ~ U(0, theta) with theta ~ Pareto(alpha, c): the posterior is
// Pareto(alpha' = alpha + n, c' = max(c, max w)), with mean alpha' c' / (alpha' - 1)
// and second moment alpha' c'^2 / (alpha' - 2). The next wait is U(0, theta):
// mean E[theta] / 2, second moment E[theta^2] / 3.
TEST(Posterior, FerryParetoInterval) {
  const ListFile d(ExampleFile("ferry", "ferry.dat"));
  const std::vector<double>& w = d["wait"];
  const double alpha = d.Scalar("alpha") + w.size();
  const double c0 = std::max(d.Scalar("minimum"), *std::max_element(w.begin(), w.end()));
  const double m1 = alpha * c0 / (alpha - 1.0), m2 = alpha * c0 * c0 / (alpha - 2.0);

  const ChainSet run = SampleExample("ferry", {"interval", "nextWait"}, 20000, 8642);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("ferry");
  c.MeanAndVariance("interval", run["interval"], m1, m2 - m1 * m1);
  c.MeanAndVariance("nextWait", run["nextWait"], m1 / 2.0, m2 / 3.0 - Sq(m1 / 2.0));
}

// Categorical answers and a multinomial count vector with Dirichlet(alpha)
// proportions: the posterior is Dirichlet(alpha + answers counted by category
// + counts), with means alpha'_k / A and variances alpha'_k (A - alpha'_k) /
// (A^2 (A + 1)), A the sum of alpha'.
TEST(Posterior, SurveyDirichlet) {
  const ListFile d(ExampleFile("survey", "survey.dat"));
  std::vector<double> alpha = d["alpha"];
  const std::vector<double>& counts = d["counts"];
  ASSERT_EQ(alpha.size(), 4u);
  for (double k : d["answer"]) alpha.at(static_cast<size_t>(k) - 1) += 1.0;
  for (size_t k = 0; k < alpha.size(); ++k) alpha[k] += counts[k];
  ASSERT_DOUBLE_EQ(Sum(counts), d.Scalar("total"));
  const double A = Sum(alpha);

  const ChainSet run = SampleExample("survey", {"p"}, 20000, 97531);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("survey");
  for (size_t k = 0; k < alpha.size(); ++k) {
    const std::string name = "p[" + std::to_string(k + 1) + "]";
    c.MeanAndVariance(name, run[name], alpha[k] / A, alpha[k] * (A - alpha[k]) / (A * A * (A + 1.0)));
  }
}

// Linear regression y_i ~ N(x_i' beta, tau) with known tau and a joint prior
// beta ~ N(b0, B0) (B0 a precision matrix): the posterior is normal with
// precision P = B0 + tau X'X and mean P^-1 (B0 b0 + tau X'y).
TEST(Posterior, RegressionNormalBlock) {
  const ListFile d(ExampleFile("regression", "regression.dat"));
  const std::vector<double>& y = d["hours"];
  const std::vector<double>& x1 = d["thick"];
  const std::vector<double>& x2 = d["humid"];
  const std::vector<double>& b0 = d["b0"];
  std::vector<double> P = d["B0"];
  const double tau = d.Scalar("tau");
  std::vector<double> b(3, 0.0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) b[i] += P[i * 3 + j] * b0[j];
  for (size_t k = 0; k < y.size(); ++k) {
    const double x[3] = {1.0, x1[k], x2[k]};
    for (int i = 0; i < 3; ++i) {
      b[i] += tau * x[i] * y[k];
      for (int j = 0; j < 3; ++j) P[i * 3 + j] += tau * x[i] * x[j];
    }
  }
  const std::vector<double> V = Inverse(P, 3);

  const ChainSet run = SampleExample("regression", {"beta"}, 20000, 31337);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("regression");
  for (int i = 0; i < 3; ++i) {
    double mean = 0.0;
    for (int j = 0; j < 3; ++j) mean += V[i * 3 + j] * b[j];
    const std::string name = "beta[" + std::to_string(i + 1) + "]";
    c.MeanAndVariance(name, run[name], mean, V[i * 3 + i]);
  }
}

// Pairs y_i ~ N2(mu, P) with known precision P and mu ~ N2(m0, P0): the
// posterior of mu is normal with precision P0 + n P and mean
// (P0 + n P)^-1 (P0 m0 + P sum y_i).
TEST(Posterior, GaugesMultivariateNormalMean) {
  const ListFile d(ExampleFile("gauges", "gauges.dat"));
  const std::vector<double>& y = d["reading"];
  const std::vector<double>& P = d["P"];
  const std::vector<double>& P0 = d["P0"];
  const std::vector<double>& m0 = d["m0"];
  const int n = static_cast<int>(y.size() / 2);
  std::vector<double> Q(4), b(2, 0.0), s(2, 0.0);
  for (int i = 0; i < n; ++i) s[0] += y[2 * i], s[1] += y[2 * i + 1];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      Q[i * 2 + j] = P0[i * 2 + j] + n * P[i * 2 + j];
      b[i] += P0[i * 2 + j] * m0[j] + P[i * 2 + j] * s[j];
    }
  const std::vector<double> V = Inverse(Q, 2);

  const ChainSet run = SampleExample("gauges", {"mu"}, 20000, 271828);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("gauges");
  for (int i = 0; i < 2; ++i) {
    const double mean = V[i * 2] * b[0] + V[i * 2 + 1] * b[1];
    const std::string name = "mu[" + std::to_string(i + 1) + "]";
    c.MeanAndVariance(name, run[name], mean, V[i * 2 + i]);
  }
}

// Pairs y_i ~ N2(centre, T) with known centre and T ~ Wishart(R, k), density
// proportional to |T|^((k - 3)/2) exp(-tr(R T)/2): the posterior is
// Wishart(R' = R + sum d_i d_i', k' = k + n) with d_i = y_i - centre. With
// S = R'^-1: E[T_ij] = k' S_ij, Var(T_ij) = k' (S_ij^2 + S_ii S_jj). Its inverse,
// the covariance, is inverse Wishart: E = R' / (k' - 3) and
// Var(cov_ij) = ((k' - 1) R'_ij^2 + (k' - 3) R'_ii R'_jj) / ((k' - 2)(k' - 3)^2 (k' - 5)).
TEST(Posterior, SpreadWishartPrecision) {
  const ListFile d(ExampleFile("spread", "spread.dat"));
  const std::vector<double>& y = d["leaf"];
  const std::vector<double>& centre = d["centre"];
  std::vector<double> R = d["R"];
  const int n = static_cast<int>(y.size() / 2);
  const double k = d.Scalar("k") + n;
  for (int i = 0; i < n; ++i) {
    const double e[2] = {y[2 * i] - centre[0], y[2 * i + 1] - centre[1]};
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b) R[a * 2 + b] += e[a] * e[b];
  }
  const std::vector<double> S = Inverse(R, 2);

  const ChainSet run = SampleExample("spread", {"T", "cov"}, 20000, 16180);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("spread");
  const char* index[3] = {"1,1", "1,2", "2,2"};
  const int at[3][2] = {{0, 0}, {0, 1}, {1, 1}};
  for (int e = 0; e < 3; ++e) {
    const int i = at[e][0], j = at[e][1];
    const double sij = S[i * 2 + j], rij = R[i * 2 + j];
    c.MeanAndVariance(std::string("T[") + index[e] + "]", run[std::string("T[") + index[e] + "]"], k * sij,
                      k * (sij * sij + S[i * 2 + i] * S[j * 2 + j]));
    c.MeanAndVariance(std::string("cov[") + index[e] + "]", run[std::string("cov[") + index[e] + "]"],
                      rij / (k - 3.0),
                      ((k - 1.0) * rij * rij + (k - 3.0) * R[i * 2 + i] * R[j * 2 + j]) /
                          ((k - 2.0) * Sq(k - 3.0) * (k - 5.0)));
  }
  // The matrices are symmetric draw by draw.
  for (const RunResult& chain : run.runs) {
    EXPECT_EQ(chain["T[1,2]"], chain["T[2,1]"]);
    EXPECT_EQ(chain["cov[1,2]"], chain["cov[2,1]"]);
  }
}

// Readings y_i ~ N(base + shift z_i, tau) with known base and tau,
// z_i ~ Bernoulli(p), p ~ Beta(1, 1), shift ~ N(s0, ts). Summing each z_i out
// gives p(p, shift | y) proportional to
// N(shift; s0, ts) prod_i (p f1_i + (1 - p) f0_i), f1_i and f0_i the normal
// densities of y_i about base + shift and base, tabulated on a grid in (p, shift).
// The indicator's posterior mean is E[p f1_i / (p f1_i + (1 - p) f0_i)].
TEST(Posterior, MixtureLatentIndicators) {
  const ListFile d(ExampleFile("mixture", "mixture.dat"));
  const std::vector<double>& y = d["level"];
  const double base = d.Scalar("base"), tau = d.Scalar("tau"), s0 = d.Scalar("s0"), ts = d.Scalar("ts");
  auto f = [&](double v, double centre) { return std::exp(-0.5 * tau * Sq(v - centre)); };
  const Grid2 g = Tabulate2(
      [&](double p, double shift) {
        double lp = -0.5 * ts * Sq(shift - s0);
        for (double v : y) lp += std::log(p * f(v, base + shift) + (1.0 - p) * f(v, base));
        return lp;
      },
      0.0, 1.0, s0 - 30.0, s0 + 30.0);
  const double p1 = g.Expect([](double p, double) { return p; });
  const double p2 = g.Expect([](double p, double) { return p * p; });
  const double s1 = g.Expect([](double, double s) { return s; });
  const double s2 = g.Expect([](double, double s) { return s * s; });
  auto worn = [&](int i) {
    return g.Expect([&](double p, double s) {
      const double one = p * f(y[i - 1], base + s);
      return one / (one + (1.0 - p) * f(y[i - 1], base));
    });
  };

  const ChainSet run = SampleExample("mixture", {"p", "shift", "worn[17]", "worn[30]", "worn[4]"}, 20000, 55555);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("mixture");
  c.MeanAndVariance("p", run["p"], p1, p2 - p1 * p1);
  c.MeanAndVariance("shift", run["shift"], s1, s2 - s1 * s1);
  for (int i : {17, 30, 4}) c.Mean("worn[" + std::to_string(i) + "]", run["worn[" + std::to_string(i) + "]"], worn(i));
}

// Four bounded nodes, each with its own data:
//  mu: N(m, s^-2) cut to [0, inf), where m, s are the unbounded conjugate
//      posterior's; with a = -m/s and l = phi(a) / (1 - Phi(a)) the mean is
//      m + s l and the variance s^2 (1 + a l - l^2);
//  nu: N(m, s^-2) cut to [4, 6]; with a, b the standardised bounds and
//      Z = Phi(b) - Phi(a): mean m + s (phi(a) - phi(b)) / Z, variance
//      s^2 (1 + (a phi(a) - b phi(b)) / Z - ((phi(a) - phi(b)) / Z)^2);
//  p:  Beta(2 + r, 2 + n - r) cut to [0.5, 0.9], and lambda: Gamma(2 + sum y,
//      1 + 7) cut to (0, 3], both by quadrature over their intervals.
TEST(Posterior, BoundsTruncatedConjugateNodes) {
  const ListFile d(ExampleFile("bounds", "bounds.dat"));
  const std::vector<double>& drift = d["drift"];
  const std::vector<double>& dial = d["dial"];
  const std::vector<double>& breaks = d["breaks"];
  const double good = d.Scalar("good"), cast = d.Scalar("cast");

  const double muPrec = 0.04 + 1.0 * drift.size(), muM = Sum(drift) / muPrec, muS = 1.0 / std::sqrt(muPrec);
  const double a = -muM / muS, l = NormalPdf(a) / NormalUpper(a);
  const double muMean = muM + muS * l, muVar = Sq(muS) * (1.0 + a * l - l * l);

  const double nuPrec = 0.1 + 4.0 * dial.size(), nuM = (0.1 * 5.0 + 4.0 * Sum(dial)) / nuPrec;
  const double nuS = 1.0 / std::sqrt(nuPrec);
  const double lo = (4.0 - nuM) / nuS, hi = (6.0 - nuM) / nuS;
  const double Z = NormalCdf(hi) - NormalCdf(lo);
  const double dphi = (NormalPdf(lo) - NormalPdf(hi)) / Z;
  const double nuMean = nuM + nuS * dphi;
  const double nuVar = Sq(nuS) * (1.0 + (lo * NormalPdf(lo) - hi * NormalPdf(hi)) / Z - dphi * dphi);

  const double pa = 2.0 + good, pb = 2.0 + cast - good;
  const Grid1 gp = Tabulate1([&](double p) { return (pa - 1.0) * std::log(p) + (pb - 1.0) * std::log1p(-p); }, 0.5,
                             0.9, 20001);
  const double la = 2.0 + Sum(breaks), lb = 1.0 + breaks.size();
  const Grid1 gl = Tabulate1([&](double x) { return (la - 1.0) * std::log(x) - lb * x; }, 0.0, 3.0, 20001);
  auto moments = [](const Grid1& g, double& m, double& v) {
    m = g.Expect([](double x) { return x; });
    v = g.Expect([](double x) { return x * x; }) - m * m;
  };
  double pMean, pVar, lMean, lVar;
  moments(gp, pMean, pVar);
  moments(gl, lMean, lVar);

  const ChainSet run = SampleExample("bounds", {"mu", "nu", "p", "lambda"}, 20000, 424242);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("bounds");
  c.MeanAndVariance("mu", run["mu"], muMean, muVar);
  c.MeanAndVariance("nu", run["nu"], nuMean, nuVar);
  c.MeanAndVariance("p", run["p"], pMean, pVar);
  c.MeanAndVariance("lambda", run["lambda"], lMean, lVar);
  // Every draw respects its bounds.
  for (const RunResult& chain : run.runs) {
    for (double v : chain["mu"]) ASSERT_GE(v, 0.0);
    for (double v : chain["nu"]) ASSERT_TRUE(v >= 4.0 && v <= 6.0) << v;
    for (double v : chain["p"]) ASSERT_TRUE(v >= 0.5 && v <= 0.9) << v;
    for (double v : chain["lambda"]) ASSERT_TRUE(v > 0.0 && v <= 3.0) << v;
  }
}

// Litres y_i ~ N(rate x_i, tau) with distances x_i ~ N(xm, xt), tau, xm, xt
// known, rate ~ N(r0, tr); some y and some x are missing. A trip missing x
// but not y contributes y_i ~ N(rate xm, precision 1 / (1/tau + rate^2/xt)) once
// x_i is integrated out; trips missing y contribute nothing. So p(rate | data)
// is a one-dimensional density, tabulated in rate. Given rate, a missing x_k
// is N((xt xm + tau rate y_k) / (xt + tau rate^2), xt + tau rate^2); a missing
// y_j has mean E[rate] x_j and variance 1/tau + x_j^2 Var(rate).
TEST(Posterior, FuelMissingValues) {
  const ListFile d(ExampleFile("fuel", "fuel.dat"));
  const std::vector<double>& y = d["litres"];
  const std::vector<double>& x = d["km"];
  const double r0 = d.Scalar("r0"), tr = d.Scalar("tr"), xm = d.Scalar("kmMean"), xt = d.Scalar("kmPrec");
  const double tau = d.Scalar("tau");
  const Grid1 g = Tabulate1(
      [&](double rate) {
        double lp = -0.5 * tr * Sq(rate - r0);
        for (size_t i = 0; i < y.size(); ++i) {
          if (std::isnan(y[i])) continue;
          if (!std::isnan(x[i])) {
            lp -= 0.5 * tau * Sq(y[i] - rate * x[i]);
          } else {
            const double v = 1.0 / tau + rate * rate / xt;
            lp -= 0.5 * std::log(v) + 0.5 * Sq(y[i] - rate * xm) / v;
          }
        }
        return lp;
      },
      r0 - 50.0 / std::sqrt(tr), r0 + 50.0 / std::sqrt(tr));
  const double rate1 = g.Expect([](double r) { return r; });
  const double rate2 = g.Expect([](double r) { return r * r; });

  std::vector<std::string> monitors = {"rate"};
  std::vector<int> missingX, missingY;
  for (size_t i = 0; i < y.size(); ++i) {
    if (std::isnan(x[i]) && !std::isnan(y[i])) missingX.push_back(static_cast<int>(i));
    if (std::isnan(y[i]) && !std::isnan(x[i])) missingY.push_back(static_cast<int>(i));
  }
  ASSERT_FALSE(missingX.empty());
  ASSERT_FALSE(missingY.empty());
  for (int i : missingX) monitors.push_back("km[" + std::to_string(i + 1) + "]");
  for (int i : missingY) monitors.push_back("litres[" + std::to_string(i + 1) + "]");

  const ChainSet run = SampleExample("fuel", monitors, 20000, 7777);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("fuel");
  c.MeanAndVariance("rate", run["rate"], rate1, rate2 - rate1 * rate1);
  for (int i : missingX) {
    auto prec = [&](double r) { return xt + tau * r * r; };
    auto mean = [&](double r) { return (xt * xm + tau * r * y[i]) / prec(r); };
    const double m1 = g.Expect(mean);
    const double m2 = g.Expect([&](double r) { return Sq(mean(r)) + 1.0 / prec(r); });
    const std::string name = "km[" + std::to_string(i + 1) + "]";
    c.MeanAndVariance(name, run[name], m1, m2 - m1 * m1);
  }
  for (int i : missingY) {
    const std::string name = "litres[" + std::to_string(i + 1) + "]";
    c.MeanAndVariance(name, run[name], rate1 * x[i], 1.0 / tau + Sq(x[i]) * (rate2 - rate1 * rate1));
  }
}

// Weights y_i ~ N(theta_g(i), tauW), theta_j ~ N(mu, tauB), mu ~ N(m0, t0),
// tauW ~ Gamma(aW, bW), tauB ~ Gamma(aB, bB). Integrating the theta_j and mu
// out (all normal) leaves, with n_j, ybar_j, SW the group sizes, means and
// within-group sum of squares, w_j = 1 / (1/tauB + 1/(n_j tauW)),
// W = t0 + sum w_j, M = (t0 m0 + sum w_j ybar_j) / W and
// Q = t0 (m0 - M)^2 + sum w_j (ybar_j - M)^2:
//   log p(tauW, tauB | y) = log priors + (N/2) log tauW - tauW SW / 2
//       + (J/2) log tauB - (1/2) sum log(n_j tauW + tauB) - (1/2) log W - Q/2,
// tabulated on a grid in (log tauW, log tauB). Given the precisions,
// mu ~ N(M, W) and theta_j has mean (n_j tauW ybar_j + tauB M) / (n_j tauW + tauB)
// and variance 1 / (n_j tauW + tauB) + (tauB / (n_j tauW + tauB))^2 / W.
TEST(Posterior, OrchardsHierarchicalNormal) {
  const ListFile d(ExampleFile("orchards", "orchards.dat"));
  const std::vector<double>& y = d["weight"];
  const std::vector<double>& group = d["orchard"];
  const double m0 = d.Scalar("m0"), t0 = d.Scalar("t0");
  const double aW = d.Scalar("aW"), bW = d.Scalar("bW"), aB = d.Scalar("aB"), bB = d.Scalar("bB");
  const int J = 300;
  std::vector<double> n(J, 0.0), ybar(J, 0.0);
  for (size_t i = 0; i < y.size(); ++i) {
    const int j = static_cast<int>(group[i]) - 1;
    ASSERT_TRUE(j >= 0 && j < J);
    n[j] += 1.0;
    ybar[j] += y[i];
  }
  for (int j = 0; j < J; ++j) ybar[j] /= n[j];
  double SW = 0.0;
  for (size_t i = 0; i < y.size(); ++i) SW += Sq(y[i] - ybar[static_cast<int>(group[i]) - 1]);
  const double N = static_cast<double>(y.size());

  // W and M at given precisions.
  auto pool = [&](double tw, double tb, double& W, double& M) {
    W = t0;
    double s = t0 * m0;
    for (int j = 0; j < J; ++j) {
      const double w = 1.0 / (1.0 / tb + 1.0 / (n[j] * tw));
      W += w;
      s += w * ybar[j];
    }
    M = s / W;
  };
  const Grid2 g = Tabulate2(
      [&](double u, double v) {
        const double tw = std::exp(u), tb = std::exp(v);
        double W, M;
        pool(tw, tb, W, M);
        double lp = aW * u - bW * tw + aB * v - bB * tb;  // gamma priors with the Jacobians
        lp += 0.5 * N * u - 0.5 * tw * SW + 0.5 * J * v - 0.5 * std::log(W);
        double Q = t0 * Sq(m0 - M);
        for (int j = 0; j < J; ++j) {
          lp -= 0.5 * std::log(n[j] * tw + tb);
          Q += Sq(ybar[j] - M) / (1.0 / tb + 1.0 / (n[j] * tw));
        }
        return lp - 0.5 * Q;
      },
      std::log(1e-6), std::log(10.0), std::log(1e-6), std::log(10.0), 201);
  double mu1 = 0, mu2 = 0, sw1 = 0, sw2 = 0, sb1 = 0, sb2 = 0;
  double th1[2] = {0, 0}, th2[2] = {0, 0};
  for (size_t k = 0; k < g.w.size(); ++k) {
    if (g.w[k] == 0.0) continue;
    const double tw = std::exp(g.x[k]), tb = std::exp(g.y[k]), w = g.w[k];
    double W, M;
    pool(tw, tb, W, M);
    mu1 += w * M;
    mu2 += w * (M * M + 1.0 / W);
    sw1 += w / std::sqrt(tw);
    sw2 += w / tw;
    sb1 += w / std::sqrt(tb);
    sb2 += w / tb;
    for (int j = 0; j < 2; ++j) {
      const double p = n[j] * tw + tb;
      const double m = (n[j] * tw * ybar[j] + tb * M) / p;
      th1[j] += w * m;
      th2[j] += w * (m * m + 1.0 / p + Sq(tb / p) / W);
    }
  }

  const ChainSet run = SampleExample("orchards", {"mu", "sdW", "sdB", "theta[1]", "theta[2]"}, 20000, 300300);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("orchards");
  c.MeanAndVariance("mu", run["mu"], mu1, mu2 - mu1 * mu1);
  c.MeanAndVariance("sdW", run["sdW"], sw1, sw2 - sw1 * sw1);
  c.MeanAndVariance("sdB", run["sdB"], sb1, sb2 - sb1 * sb1);
  for (int j = 0; j < 2; ++j) {
    const std::string name = "theta[" + std::to_string(j + 1) + "]";
    c.MeanAndVariance(name, run[name], th1[j], th2[j] - th1[j] * th1[j]);
  }
}

// Deviations e_t = level_t - ref follow e_t ~ N(c + phi e_(t-1), tau) for
// t = 2..T, with c ~ N(c0, tc), phi ~ N(phi0, tphi), tau ~ Gamma(a0, b0).
// Given (c, phi), tau ~ Gamma(A, B) with A = a0 + (T - 1)/2 and
// B = b0 + S(c, phi)/2, S the sum of squared residuals; so p(c, phi | y) is
// proportional to N(c) N(phi) B^-A, tabulated on a grid. The forecast next1
// is N(ref + c + phi e_T, tau) given (c, phi, tau), and E[1/tau | c, phi] = B/(A - 1).
TEST(Posterior, Ar1TimeSeries) {
  const ListFile d(ExampleFile("ar1", "ar1.dat"));
  const std::vector<double>& level = d["level"];
  const double ref = d.Scalar("ref"), c0 = d.Scalar("c0"), tc = d.Scalar("tc"), phi0 = d.Scalar("phi0");
  const double tphi = d.Scalar("tphi"), a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  const size_t T = level.size();
  const double A = a0 + (T - 1) / 2.0;
  // S(c, phi) from the sums of e_t, e_(t-1) and their products.
  double n = 0, sy = 0, sx = 0, syy = 0, sxx = 0, sxy = 0;
  for (size_t t = 1; t < T; ++t) {
    const double e = level[t] - ref, p = level[t - 1] - ref;
    n += 1, sy += e, sx += p, syy += e * e, sxx += p * p, sxy += e * p;
  }
  auto B = [&](double c, double phi) {
    const double S = syy + n * c * c + phi * phi * sxx - 2 * c * sy - 2 * phi * sxy + 2 * c * phi * sx;
    return b0 + S / 2.0;
  };
  const Grid2 g = Tabulate2(
      [&](double c, double phi) {
        return -0.5 * tc * Sq(c - c0) - 0.5 * tphi * Sq(phi - phi0) - A * std::log(B(c, phi));
      },
      -20.0, 20.0, -20.0, 20.0);
  const double eT = level[T - 1] - ref;
  auto f1 = [&](double c, double phi) { return ref + c + phi * eT; };
  const double c1 = g.Expect([](double c, double) { return c; });
  const double c2 = g.Expect([](double c, double) { return c * c; });
  const double p1 = g.Expect([](double, double p) { return p; });
  const double p2 = g.Expect([](double, double p) { return p * p; });
  const double t1 = g.Expect([&](double c, double p) { return A / B(c, p); });
  const double t2 = g.Expect([&](double c, double p) { return A * (A + 1.0) / Sq(B(c, p)); });
  const double n1 = g.Expect(f1);
  const double n2 = g.Expect([&](double c, double p) { return Sq(f1(c, p)) + B(c, p) / (A - 1.0); });

  const ChainSet run = SampleExample("ar1", {"c", "phi", "tau", "next1"}, 20000, 120120);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison cmp("ar1");
  cmp.MeanAndVariance("c", run["c"], c1, c2 - c1 * c1);
  cmp.MeanAndVariance("phi", run["phi"], p1, p2 - p1 * p1);
  cmp.MeanAndVariance("tau", run["tau"], t1, t2 - t1 * t1);
  cmp.MeanAndVariance("next1", run["next1"], n1, n2 - n1 * n1);
}

// Counts y_t ~ Poisson(rate_1) for t <= k and Poisson(rate_2) after, rates
// Gamma(a0, b0), k categorical with weights w_k on 1..T-1. Integrating the
// rates out, P(k | y) is proportional to
// w_k Gamma(a0 + S1) / (b0 + k)^(a0 + S1) * Gamma(a0 + S2) / (b0 + T - k)^(a0 + S2),
// S1 and S2 the counts up to and after day k; given k the rates are
// independent, Gamma(a0 + S1, b0 + k) and Gamma(a0 + S2, b0 + T - k). Every
// moment is a finite sum over k.
TEST(Posterior, ChangepointDiscreteEnumeration) {
  const ListFile d(ExampleFile("changepoint", "changepoint.dat"));
  const std::vector<double>& y = d["calls"];
  const std::vector<double>& w = d["w"];
  const double a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  const int T = static_cast<int>(y.size());
  ASSERT_EQ(w.size(), static_cast<size_t>(T - 1));
  std::vector<double> logp(T - 1);
  for (int k = 1; k < T; ++k) {
    double s1 = 0, s2 = 0;
    for (int t = 0; t < T; ++t) (t < k ? s1 : s2) += y[t];
    logp[k - 1] = std::log(w[k - 1]) + std::lgamma(a0 + s1) - (a0 + s1) * std::log(b0 + k) + std::lgamma(a0 + s2) -
                  (a0 + s2) * std::log(b0 + T - k);
  }
  const double top = *std::max_element(logp.begin(), logp.end());
  double total = 0;
  for (double& v : logp) total += (v = std::exp(v - top));
  double k1 = 0, k2 = 0, r1[2] = {0, 0}, r2[2] = {0, 0}, j1 = 0, j2 = 0;
  for (int k = 1; k < T; ++k) {
    const double pk = logp[k - 1] / total;
    double s1 = 0, s2 = 0;
    for (int t = 0; t < T; ++t) (t < k ? s1 : s2) += y[t];
    const double sh[2] = {a0 + s1, a0 + s2}, rt[2] = {b0 + k, b0 + T - k};
    double m[2], q[2];
    for (int i = 0; i < 2; ++i) {
      m[i] = sh[i] / rt[i];
      q[i] = sh[i] * (sh[i] + 1.0) / Sq(rt[i]);
      r1[i] += pk * m[i];
      r2[i] += pk * q[i];
    }
    k1 += pk * k;
    k2 += pk * k * k;
    j1 += pk * (m[1] - m[0]);
    j2 += pk * (q[1] - 2.0 * m[0] * m[1] + q[0]);
  }

  const ChainSet run = SampleExample("changepoint", {"last", "rate", "jump"}, 20000, 606060);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("changepoint");
  c.MeanAndVariance("last", run["last"], k1, k2 - k1 * k1);
  c.MeanAndVariance("rate[1]", run["rate[1]"], r1[0], r2[0] - r1[0] * r1[0]);
  c.MeanAndVariance("rate[2]", run["rate[2]"], r1[1], r2[1] - r1[1] * r1[1]);
  c.MeanAndVariance("jump", run["jump"], j1, j2 - j1 * j1);
}
