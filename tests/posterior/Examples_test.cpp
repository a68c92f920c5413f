// Posterior correctness of the example gallery: each test samples one example
// with a fixed seed and compares the posterior mean and variance of every
// monitored quantity with exact values computed from its data file: closed
// forms, finite sums, or quadrature of the posterior once the conjugate
// unknowns are integrated out. Gamma(a, b) has shape a and rate b; normal
// distributions are written with their precision.
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
std::string At(const std::string& name, int i) { return name + "[" + std::to_string(i) + "]"; }

Exact Beta(const std::string& name, double a, double b) {
  return {name, a / (a + b), a * b / (Sq(a + b) * (a + b + 1.0))};
}

// Inverse of a small symmetric positive-definite matrix (row-major, n x n), by Gauss-Jordan elimination.
std::vector<double> Inverse(std::vector<double> m, int n) {
  std::vector<double> inv(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) inv[i * n + i] = 1.0;
  for (int col = 0; col < n; ++col) {
    const double p = m[col * n + col];
    for (int c = 0; c < n; ++c) m[col * n + c] /= p, inv[col * n + c] /= p;
    for (int r = 0; r < n; ++r) {
      const double f = r == col ? 0.0 : m[r * n + col];
      for (int c = 0; c < n; ++c) m[r * n + c] -= f * m[col * n + c], inv[r * n + c] -= f * inv[col * n + c];
    }
  }
  return inv;
}

// ln p and ln(1 - p) of binomial terms, p = 1 / (1 + e^-x), without overflow.
double LogInvLogit(double x) { return x >= 0.0 ? -std::log1p(std::exp(-x)) : x - std::log1p(std::exp(x)); }
double Binomial(double y, double n, double logP, double logQ) { return y * logP + (n - y) * logQ; }
const auto first = [](double x, double) { return x; };
const auto second = [](double, double y) { return y; };

}  // namespace

// y_i ~ N(mu, tau), mu ~ N(m0, t0), tau ~ Gamma(a0, b0). Given mu, tau ~ Gamma(A, B(mu)), A = a0 + n/2,
// B = b0 + sum (y_i - mu)^2 / 2, so p(mu | y) ~ N(mu; m0, t0) B^-A; E[sigma | mu] = sqrt(B) G(A - 1/2) / G(A),
// E[sigma^2 | mu] = B / (A - 1), and the next reading has mean E[mu], second moment E[mu^2] + E[B / (A - 1)].
TEST(Posterior, KilnNormalMeanAndPrecision) {
  const ListFile d = ExampleData("kiln");
  const std::vector<double>& y = d["temp"];
  const double m0 = d.Scalar("m0"), t0 = d.Scalar("t0"), a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  const double A = a0 + y.size() / 2.0, ybar = Sum(y) / y.size();
  auto B = [&](double mu) {
    double s = 0.0;
    for (double v : y) s += Sq(v - mu);
    return b0 + s / 2.0;
  };
  const Grid g =
      Tabulate1([&](double mu) { return -0.5 * t0 * Sq(mu - m0) - A * std::log(B(mu)); }, ybar - 500.0, ybar + 500.0);
  const double ratio = std::exp(std::lgamma(A - 0.5) - std::lgamma(A));
  auto sigma2 = [&](double mu) { return B(mu) / (A - 1.0); };
  Check({.label = "kiln", .seed = 4711},
        {g.Moments("mu", [](double mu) { return mu; }),
         g.Moments(
             "tau", [&](double mu) { return A / B(mu); }, [&](double mu) { return A * (A + 1.0) / Sq(B(mu)); }),
         g.Moments(
             "sigma", [&](double mu) { return std::sqrt(B(mu)) * ratio; }, sigma2),
         g.Moments(
             "nextTemp", [](double mu) { return mu; }, [&](double mu) { return mu * mu + sigma2(mu); })});
}

// y_lj ~ Poisson(lambda_l a_lj), lambda_l ~ Gamma(shape, beta), beta ~ Gamma(a0, b0). Given beta,
// lambda_l ~ Gamma(shape + S_l, beta + A_l) (the line's flaws and area), so p(beta | y) ~ beta^(a0 - 1)
// e^(-b0 beta) prod_l beta^shape (beta + A_l)^-(shape + S_l), tabulated in u = log beta. The new sheet's
// count is Poisson(a lambda_2): mean a E[lambda_2], variance a E[lambda_2] + a^2 Var(lambda_2).
TEST(Posterior, GlassPoissonRatesUnderAGammaRate) {
  const ListFile d = ExampleData("glass");
  const std::vector<double>&flaws = d["flaws"], &area = d["area"];
  const double shape = d.Scalar("shape"), a0 = d.Scalar("a0"), b0 = d.Scalar("b0"), newArea = d.Scalar("newArea");
  const int lines = 3, sheets = 8;
  ASSERT_EQ(flaws.size(), static_cast<size_t>(lines * sheets));
  std::vector<double> S(lines, 0.0), Ar(lines, 0.0);
  for (int l = 0; l < lines; ++l)
    for (int j = 0; j < sheets; ++j) S[l] += flaws[l * sheets + j], Ar[l] += area[l * sheets + j];
  const Grid g = Tabulate1(
      [&](double u) {
        double lp = a0 * u - b0 * std::exp(u);
        for (int l = 0; l < lines; ++l) lp += shape * u - (shape + S[l]) * std::log(std::exp(u) + Ar[l]);
        return lp;
      },
      -30.0, 10.0);
  std::vector<Exact> exact = {g.Moments("beta", [](double u) { return std::exp(u); })};
  for (int l = 0; l < lines; ++l) {
    const double k = shape + S[l];
    exact.push_back(g.Moments(
        At("lambda", l + 1), [&](double u) { return k / (std::exp(u) + Ar[l]); },
        [&](double u) { return k * (k + 1.0) / Sq(std::exp(u) + Ar[l]); }));
  }
  const double m = exact[2].mean, v = exact[2].variance;
  exact.push_back({"newFlaws", newArea * m, newArea * m + Sq(newArea) * v});
  Check({.label = "glass", .seed = 2024}, exact);
}

// r_lj ~ Bin(p_l, n_lj), p_l ~ Beta(a0, b0): p_l | r ~ Beta(a0 + sum r, b0 + sum (n - r)); the lots are
// independent, so diff = p_1 - p_2 has the difference of the means and the sum of the variances.
TEST(Posterior, GerminationBetaBinomial) {
  const ListFile d = ExampleData("germination");
  const std::vector<double>&r = d["sprouted"], &n = d["sown"];
  double a[2], b[2];
  for (int l = 0; l < 2; ++l) {
    a[l] = d.Scalar("a0"), b[l] = d.Scalar("b0");
    for (int j = 0; j < 5; ++j) a[l] += r[l * 5 + j], b[l] += n[l * 5 + j] - r[l * 5 + j];
  }
  const Exact p1 = Beta("p[1]", a[0], b[0]), p2 = Beta("p[2]", a[1], b[1]);
  Check({.label = "germination", .seed = 1357}, {p1, p2, {"diff", p1.mean - p2.mean, p1.variance + p2.variance}});
}

// w_i ~ U(0, theta), theta ~ Pareto(alpha, c): theta | w ~ Pareto(alpha' = alpha + n, c' = max(c, max w)),
// E[theta] = alpha' c' / (alpha' - 1), E[theta^2] = alpha' c'^2 / (alpha' - 2); the next wait is
// U(0, theta), with mean E[theta] / 2 and second moment E[theta^2] / 3.
TEST(Posterior, FerryParetoInterval) {
  const ListFile d = ExampleData("ferry");
  const std::vector<double>& w = d["wait"];
  const double alpha = d.Scalar("alpha") + w.size();
  const double c0 = std::max(d.Scalar("minimum"), *std::max_element(w.begin(), w.end()));
  const double m1 = alpha * c0 / (alpha - 1.0), m2 = alpha * c0 * c0 / (alpha - 2.0);
  Check({.label = "ferry", .seed = 8642},
        {{"interval", m1, m2 - m1 * m1}, {"nextWait", m1 / 2.0, m2 / 3.0 - Sq(m1 / 2.0)}});
}

// Categorical answers and a multinomial count vector with Dirichlet(alpha) proportions: the posterior is
// Dirichlet(alpha' = alpha + answers by category + counts), means alpha'_k / A, variances
// alpha'_k (A - alpha'_k) / (A^2 (A + 1)), A = sum alpha'.
TEST(Posterior, SurveyDirichlet) {
  const ListFile d = ExampleData("survey");
  std::vector<double> alpha = d["alpha"];
  const std::vector<double>& counts = d["counts"];
  ASSERT_EQ(alpha.size(), 4u);
  for (double k : d["answer"]) alpha.at(static_cast<size_t>(k) - 1) += 1.0;
  for (size_t k = 0; k < alpha.size(); ++k) alpha[k] += counts[k];
  ASSERT_DOUBLE_EQ(Sum(counts), d.Scalar("total"));
  const double A = Sum(alpha);
  std::vector<Exact> exact;
  for (int k = 0; k < 4; ++k) exact.push_back(Beta(At("p", k + 1), alpha[k], A - alpha[k]));
  Check({.label = "survey", .seed = 97531}, exact);
}

// y_i ~ N(x_i' beta, tau), tau known, beta ~ N(b0, B0) (B0 a precision): the posterior is normal with
// precision P = B0 + tau X'X and mean P^-1 (B0 b0 + tau X'y).
TEST(Posterior, RegressionNormalBlock) {
  const ListFile d = ExampleData("regression");
  const std::vector<double>&y = d["hours"], &x1 = d["thick"], &x2 = d["humid"], &b0 = d["b0"];
  std::vector<double> P = d["B0"], b(3, 0.0);
  const double tau = d.Scalar("tau");
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
  std::vector<Exact> exact;
  for (int i = 0; i < 3; ++i)
    exact.push_back({At("beta", i + 1), V[i * 3] * b[0] + V[i * 3 + 1] * b[1] + V[i * 3 + 2] * b[2], V[i * 3 + i]});
  Check({.label = "regression", .seed = 31337}, exact);
}

// y_i ~ N2(mu, P), P known, mu ~ N2(m0, P0): mu | y is normal with precision P0 + n P and mean
// (P0 + n P)^-1 (P0 m0 + P sum y_i).
TEST(Posterior, GaugesMultivariateNormalMean) {
  const ListFile d = ExampleData("gauges");
  const std::vector<double>&y = d["reading"], &P = d["P"], &P0 = d["P0"], &m0 = d["m0"];
  const int n = static_cast<int>(y.size() / 2);
  std::vector<double> Q(4), b(2, 0.0), s(2, 0.0);
  for (int i = 0; i < n; ++i) s[0] += y[2 * i], s[1] += y[2 * i + 1];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      Q[i * 2 + j] = P0[i * 2 + j] + n * P[i * 2 + j];
      b[i] += P0[i * 2 + j] * m0[j] + P[i * 2 + j] * s[j];
    }
  const std::vector<double> V = Inverse(Q, 2);
  Check({.label = "gauges", .seed = 271828},
        {{"mu[1]", V[0] * b[0] + V[1] * b[1], V[0]}, {"mu[2]", V[2] * b[0] + V[3] * b[1], V[3]}});
}

// y_i ~ N2(centre, T), centre known, T ~ Wishart(R, k) (density |T|^((k - 3)/2) e^(-tr(R T)/2)):
// T | y ~ Wishart(R' = R + sum d_i d_i', k' = k + n), d_i = y_i - centre. With S = R'^-1,
// E[T_ij] = k' S_ij, Var(T_ij) = k' (S_ij^2 + S_ii S_jj); the covariance T^-1 is inverse Wishart:
// E = R' / (k' - 3), Var(cov_ij) = ((k' - 1) R'_ij^2 + (k' - 3) R'_ii R'_jj) / ((k' - 2)(k' - 3)^2 (k' - 5)).
TEST(Posterior, SpreadWishartPrecision) {
  const ListFile d = ExampleData("spread");
  const std::vector<double>&y = d["leaf"], &centre = d["centre"];
  std::vector<double> R = d["R"];
  const int n = static_cast<int>(y.size() / 2);
  const double k = d.Scalar("k") + n;
  for (int i = 0; i < n; ++i) {
    const double e[2] = {y[2 * i] - centre[0], y[2 * i + 1] - centre[1]};
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b) R[a * 2 + b] += e[a] * e[b];
  }
  const std::vector<double> S = Inverse(R, 2);
  std::vector<Exact> exact;
  const std::pair<int, int> cells[] = {{0, 0}, {0, 1}, {1, 1}};
  for (const auto& [i, j] : cells) {
    const std::string index = "[" + std::to_string(i + 1) + "," + std::to_string(j + 1) + "]";
    const double sij = S[i * 2 + j], rij = R[i * 2 + j], rr = R[i * 2 + i] * R[j * 2 + j];
    exact.push_back({"T" + index, k * sij, k * (sij * sij + S[i * 2 + i] * S[j * 2 + j])});
    exact.push_back({"cov" + index, rij / (k - 3.0),
                     ((k - 1.0) * rij * rij + (k - 3.0) * rr) / ((k - 2.0) * Sq(k - 3.0) * (k - 5.0))});
  }
  const ChainSet run = Check({.label = "spread", .monitors = {"T", "cov"}, .seed = 16180}, exact);
  for (const RunResult& chain : run.runs) {  // symmetric draw by draw
    EXPECT_EQ(chain["T[1,2]"], chain["T[2,1]"]);
    EXPECT_EQ(chain["cov[1,2]"], chain["cov[2,1]"]);
  }
}

// y_i ~ N(base + shift z_i, tau), base and tau known, z_i ~ Bernoulli(p), p ~ Beta(1, 1), shift ~ N(s0, ts).
// Summing the z_i out, p(p, shift | y) ~ N(shift; s0, ts) prod_i (p f1_i + (1 - p) f0_i), f1_i and f0_i
// the densities of y_i about base + shift and base; E[z_i] = E[p f1_i / (p f1_i + (1 - p) f0_i)].
TEST(Posterior, MixtureLatentIndicators) {
  const ListFile d = ExampleData("mixture");
  const std::vector<double>& y = d["level"];
  const double base = d.Scalar("base"), tau = d.Scalar("tau"), s0 = d.Scalar("s0"), ts = d.Scalar("ts");
  auto f = [&](double v, double centre) { return std::exp(-0.5 * tau * Sq(v - centre)); };
  const Grid g = Tabulate2(
      [&](double p, double shift) {
        double lp = -0.5 * ts * Sq(shift - s0);
        for (double v : y) lp += std::log(p * f(v, base + shift) + (1.0 - p) * f(v, base));
        return lp;
      },
      0.0, 1.0, s0 - 30.0, s0 + 30.0);
  std::vector<Exact> exact = {g.Moments("p", first), g.Moments("shift", second)};
  for (int i : {17, 30, 4})
    exact.push_back({At("worn", i), g.Expect([&](double p, double s) {
                       const double one = p * f(y[i - 1], base + s);
                       return one / (one + (1.0 - p) * f(y[i - 1], base));
                     })});
  Check({.label = "mixture", .seed = 55555}, exact);
}

// Four bounded nodes, each with its own data:
//  mu: N(m, s^-2) cut to [0, inf) (m, s the uncut conjugate posterior's); with a = -m/s and
//      l = phi(a) / (1 - Phi(a)): mean m + s l, variance s^2 (1 + a l - l^2);
//  nu: N(m, s^-2) cut to [4, 6]; with a, b the standardised bounds and Z = Phi(b) - Phi(a): mean
//      m + s (phi(a) - phi(b)) / Z, variance s^2 (1 + (a phi(a) - b phi(b)) / Z - ((phi(a) - phi(b)) / Z)^2);
//  p: Beta(2 + r, 2 + n - r) cut to [0.5, 0.9]; lambda: Gamma(2 + sum y, 1 + 7) cut to (0, 3], by quadrature.
TEST(Posterior, BoundsTruncatedConjugateNodes) {
  const ListFile d = ExampleData("bounds");
  const std::vector<double>&drift = d["drift"], &dial = d["dial"], &breaks = d["breaks"];
  const double good = d.Scalar("good"), cast = d.Scalar("cast");
  const double muPrec = 0.04 + 1.0 * drift.size(), muM = Sum(drift) / muPrec, muS = 1.0 / std::sqrt(muPrec);
  const double a = -muM / muS, l = NormalPdf(a) / NormalUpper(a);
  const double nuPrec = 0.1 + 4.0 * dial.size(), nuM = (0.1 * 5.0 + 4.0 * Sum(dial)) / nuPrec;
  const double nuS = 1.0 / std::sqrt(nuPrec), lo = (4.0 - nuM) / nuS, hi = (6.0 - nuM) / nuS;
  const double Z = NormalCdf(hi) - NormalCdf(lo), dphi = (NormalPdf(lo) - NormalPdf(hi)) / Z;
  const double pa = 2.0 + good, pb = 2.0 + cast - good, la = 2.0 + Sum(breaks), lb = 1.0 + breaks.size();
  const ChainSet run =
      Check({.label = "bounds", .seed = 424242},
            {{"mu", muM + muS * l, Sq(muS) * (1.0 + a * l - l * l)},
             {"nu", nuM + nuS * dphi, Sq(nuS) * (1.0 + (lo * NormalPdf(lo) - hi * NormalPdf(hi)) / Z - dphi * dphi)},
             Quadrature(
                 "p", [&](double p) { return (pa - 1.0) * std::log(p) + (pb - 1.0) * std::log1p(-p); }, 0.5, 0.9),
             Quadrature(
                 "lambda", [&](double x) { return (la - 1.0) * std::log(x) - lb * x; }, 0.0, 3.0)});
  for (const RunResult& chain : run.runs) {  // every draw within its bounds
    for (double v : chain["mu"]) ASSERT_GE(v, 0.0);
    for (double v : chain["nu"]) ASSERT_TRUE(v >= 4.0 && v <= 6.0) << v;
    for (double v : chain["p"]) ASSERT_TRUE(v >= 0.5 && v <= 0.9) << v;
    for (double v : chain["lambda"]) ASSERT_TRUE(v > 0.0 && v <= 3.0) << v;
  }
}

// y_i ~ N(rate x_i, tau), x_i ~ N(xm, xt), rate ~ N(r0, tr), some y and x missing. With x_i integrated
// out, a trip missing x contributes y_i ~ N(rate xm, 1 / (1/tau + rate^2/xt)); trips missing y nothing:
// p(rate | data) is tabulated in rate. Given rate, a missing x_k is N((xt xm + tau rate y_k) /
// (xt + tau rate^2), xt + tau rate^2); a missing y_j has mean E[rate] x_j, variance 1/tau + x_j^2 Var(rate).
TEST(Posterior, FuelMissingValues) {
  const ListFile d = ExampleData("fuel");
  const std::vector<double>&y = d["litres"], &x = d["km"];
  const double r0 = d.Scalar("r0"), tr = d.Scalar("tr"), xm = d.Scalar("kmMean"), xt = d.Scalar("kmPrec");
  const double tau = d.Scalar("tau");
  const Grid g = Tabulate1(
      [&](double rate) {
        double lp = -0.5 * tr * Sq(rate - r0);
        for (size_t i = 0; i < y.size(); ++i) {
          if (std::isnan(y[i])) continue;
          const double v = 1.0 / tau + (std::isnan(x[i]) ? rate * rate / xt : 0.0);
          lp -= 0.5 * std::log(v) + 0.5 * Sq(y[i] - rate * (std::isnan(x[i]) ? xm : x[i])) / v;
        }
        return lp;
      },
      r0 - 50.0 / std::sqrt(tr), r0 + 50.0 / std::sqrt(tr));
  std::vector<Exact> exact = {g.Moments("rate", [](double r) { return r; })};
  const double rateVar = exact[0].variance;
  for (size_t i = 0; i < y.size(); ++i) {
    auto prec = [&](double r) { return xt + tau * r * r; };
    auto mean = [&](double r) { return (xt * xm + tau * r * y[i]) / prec(r); };
    if (std::isnan(x[i]) && !std::isnan(y[i]))
      exact.push_back(g.Moments(At("km", i + 1), mean, [&](double r) { return Sq(mean(r)) + 1.0 / prec(r); }));
    if (std::isnan(y[i]) && !std::isnan(x[i]))
      exact.push_back({At("litres", i + 1), exact[0].mean * x[i], 1.0 / tau + Sq(x[i]) * rateVar});
  }
  ASSERT_GE(exact.size(), 3u);
  Check({.label = "fuel", .seed = 7777}, exact);
}

// y_i ~ N(theta_g(i), tauW), theta_j ~ N(mu, tauB), mu ~ N(m0, t0), tauW ~ Gamma(aW, bW),
// tauB ~ Gamma(aB, bB). Integrating theta and mu out, with n_j, ybar_j, SW the group sizes, means and
// within-group sum of squares, w_j = 1 / (1/tauB + 1/(n_j tauW)), W = t0 + sum w_j,
// M = (t0 m0 + sum w_j ybar_j) / W and Q = t0 (m0 - M)^2 + sum w_j (ybar_j - M)^2:
//   log p(tauW, tauB | y) = log priors + (N/2) log tauW - tauW SW / 2
//       + (J/2) log tauB - (1/2) sum log(n_j tauW + tauB) - (1/2) log W - Q/2,
// tabulated in (log tauW, log tauB). Given the precisions, mu ~ N(M, W) and theta_j has mean
// (n_j tauW ybar_j + tauB M) / (n_j tauW + tauB), variance 1 / (n_j tauW + tauB) + (tauB / (n_j tauW + tauB))^2 / W.
TEST(Posterior, OrchardsHierarchicalNormal) {
  const ListFile d = ExampleData("orchards");
  const std::vector<double>&y = d["weight"], &group = d["orchard"];
  const double m0 = d.Scalar("m0"), t0 = d.Scalar("t0");
  const double aW = d.Scalar("aW"), bW = d.Scalar("bW"), aB = d.Scalar("aB"), bB = d.Scalar("bB");
  const int J = 300;
  std::vector<double> n(J, 0.0), ybar(J, 0.0);
  for (size_t i = 0; i < y.size(); ++i) {
    const int j = static_cast<int>(group[i]) - 1;
    ASSERT_TRUE(j >= 0 && j < J);
    n[j] += 1.0, ybar[j] += y[i];
  }
  for (int j = 0; j < J; ++j) ybar[j] /= n[j];
  double SW = 0.0;
  for (size_t i = 0; i < y.size(); ++i) SW += Sq(y[i] - ybar[static_cast<int>(group[i]) - 1]);
  // W and M at the precisions e^u, e^v.
  auto WM = [&](double u, double v) {
    const double tw = std::exp(u), tb = std::exp(v);
    double W = t0, s = t0 * m0;
    for (int j = 0; j < J; ++j) {
      const double w = 1.0 / (1.0 / tb + 1.0 / (n[j] * tw));
      W += w, s += w * ybar[j];
    }
    return std::pair{W, s / W};
  };
  const Grid g = Tabulate2(
      [&](double u, double v) {
        const double tw = std::exp(u), tb = std::exp(v);
        const auto [W, M] = WM(u, v);
        double lp = aW * u - bW * tw + aB * v - bB * tb;  // gamma priors with the Jacobians
        lp += 0.5 * y.size() * u - 0.5 * tw * SW + 0.5 * J * v - 0.5 * std::log(W);
        double Q = t0 * Sq(m0 - M);
        for (int j = 0; j < J; ++j) {
          lp -= 0.5 * std::log(n[j] * tw + tb);
          Q += Sq(ybar[j] - M) / (1.0 / tb + 1.0 / (n[j] * tw));
        }
        return lp - 0.5 * Q;
      },
      std::log(1e-6), std::log(10.0), std::log(1e-6), std::log(10.0), 201);
  std::vector<Exact> exact = {g.Moments(
                                  "mu", [&](double u, double v) { return WM(u, v).second; },
                                  [&](double u, double v) { return Sq(WM(u, v).second) + 1.0 / WM(u, v).first; }),
                              g.Moments(
                                  "sdW", [](double u, double) { return 1.0 / std::sqrt(std::exp(u)); },
                                  [](double u, double) { return 1.0 / std::exp(u); }),
                              g.Moments(
                                  "sdB", [](double, double v) { return 1.0 / std::sqrt(std::exp(v)); },
                                  [](double, double v) { return 1.0 / std::exp(v); })};
  for (int j = 0; j < 2; ++j) {
    auto p = [&](double u, double v) { return n[j] * std::exp(u) + std::exp(v); };
    auto m = [&](double u, double v) {
      return (n[j] * std::exp(u) * ybar[j] + std::exp(v) * WM(u, v).second) / p(u, v);
    };
    exact.push_back(g.Moments(At("theta", j + 1), m, [&](double u, double v) {
      return Sq(m(u, v)) + 1.0 / p(u, v) + Sq(std::exp(v) / p(u, v)) / WM(u, v).first;
    }));
  }
  Check({.label = "orchards", .seed = 300300}, exact);
}

// e_t = level_t - ref ~ N(c + phi e_(t-1), tau) for t = 2..T, c ~ N(c0, tc), phi ~ N(phi0, tphi),
// tau ~ Gamma(a0, b0). Given (c, phi), tau ~ Gamma(A, B), A = a0 + (T - 1)/2, B = b0 + S(c, phi)/2 (S the
// sum of squared residuals), so p(c, phi | y) ~ N(c) N(phi) B^-A. next1 ~ N(ref + c + phi e_T, tau) given
// (c, phi, tau), and E[1/tau | c, phi] = B/(A - 1).
TEST(Posterior, Ar1TimeSeries) {
  const ListFile d = ExampleData("ar1");
  const std::vector<double>& level = d["level"];
  const double ref = d.Scalar("ref"), c0 = d.Scalar("c0"), tc = d.Scalar("tc"), phi0 = d.Scalar("phi0");
  const double tphi = d.Scalar("tphi"), a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  const size_t T = level.size();
  const double A = a0 + (T - 1) / 2.0;
  double n = 0, sy = 0, sx = 0, syy = 0, sxx = 0, sxy = 0;  // sums of e_t, e_(t-1) and their products
  for (size_t t = 1; t < T; ++t) {
    const double e = level[t] - ref, p = level[t - 1] - ref;
    n += 1, sy += e, sx += p, syy += e * e, sxx += p * p, sxy += e * p;
  }
  auto B = [&](double c, double phi) {
    return b0 + (syy + n * c * c + phi * phi * sxx - 2 * c * sy - 2 * phi * sxy + 2 * c * phi * sx) / 2.0;
  };
  const Grid g = Tabulate2(
      [&](double c, double phi) {
        return -0.5 * tc * Sq(c - c0) - 0.5 * tphi * Sq(phi - phi0) - A * std::log(B(c, phi));
      },
      -20.0, 20.0, -20.0, 20.0);
  const double eT = level[T - 1] - ref;
  auto f1 = [&](double c, double phi) { return ref + c + phi * eT; };
  Check({.label = "ar1", .seed = 120120},
        {g.Moments("c", first), g.Moments("phi", second),
         g.Moments(
             "tau", [&](double c, double p) { return A / B(c, p); },
             [&](double c, double p) { return A * (A + 1.0) / Sq(B(c, p)); }),
         g.Moments("next1", f1, [&](double c, double p) { return Sq(f1(c, p)) + B(c, p) / (A - 1.0); })});
}

// y_t ~ Poisson(rate_1) for t <= k, Poisson(rate_2) after, rates Gamma(a0, b0), k categorical with weights
// w_k on 1..T-1. With the rates integrated out, P(k | y) ~ w_k G(a0 + S1) / (b0 + k)^(a0 + S1)
// G(a0 + S2) / (b0 + T - k)^(a0 + S2) (S1, S2 the counts up to and after day k); given k the rates are
// Gamma(a0 + S1, b0 + k) and Gamma(a0 + S2, b0 + T - k). Every moment is a finite sum over k.
TEST(Posterior, ChangepointDiscreteEnumeration) {
  const ListFile d = ExampleData("changepoint");
  const std::vector<double>&y = d["calls"], &w = d["w"];
  const double a0 = d.Scalar("a0"), b0 = d.Scalar("b0");
  const int T = static_cast<int>(y.size());
  ASSERT_EQ(w.size(), static_cast<size_t>(T - 1));
  std::vector<double> logp(T - 1);
  auto shapes = [&](int k, double sh[2], double rt[2]) {
    double s1 = 0, s2 = 0;
    for (int t = 0; t < T; ++t) (t < k ? s1 : s2) += y[t];
    sh[0] = a0 + s1, sh[1] = a0 + s2, rt[0] = b0 + k, rt[1] = b0 + T - k;
  };
  for (int k = 1; k < T; ++k) {
    double sh[2], rt[2];
    shapes(k, sh, rt);
    logp[k - 1] = std::log(w[k - 1]) + std::lgamma(sh[0]) - sh[0] * std::log(rt[0]) + std::lgamma(sh[1]) -
                  sh[1] * std::log(rt[1]);
  }
  const double top = *std::max_element(logp.begin(), logp.end());
  double total = 0;
  for (double& v : logp) total += (v = std::exp(v - top));
  double k1 = 0, k2 = 0, r1[2] = {0, 0}, r2[2] = {0, 0}, j1 = 0, j2 = 0;
  for (int k = 1; k < T; ++k) {
    const double pk = logp[k - 1] / total;
    double sh[2], rt[2], m[2], q[2];
    shapes(k, sh, rt);
    for (int i = 0; i < 2; ++i) {
      m[i] = sh[i] / rt[i], q[i] = sh[i] * (sh[i] + 1.0) / Sq(rt[i]);
      r1[i] += pk * m[i], r2[i] += pk * q[i];
    }
    k1 += pk * k, k2 += pk * k * k;
    j1 += pk * (m[1] - m[0]), j2 += pk * (q[1] - 2.0 * m[0] * m[1] + q[0]);
  }
  Check({.label = "changepoint", .seed = 606060}, {{"last", k1, k2 - k1 * k1},
                                                   {"rate[1]", r1[0], r2[0] - r1[0] * r1[0]},
                                                   {"rate[2]", r1[1], r2[1] - r1[1] * r1[1]},
                                                   {"jump", j1, j2 - j1 * j1}});
}

// hatched_i ~ Bin(p_i, set_i), logit p_i = a + b (temp_i - 37.5), a ~ N(0, 0.01), b ~ N(0, 0.1):
// adaptive rejection under the logit; (a, b) tabulated on a grid.
TEST(Posterior, HatchingLogisticRegression) {
  const ListFile d = ExampleData("hatching");
  const std::vector<double>&y = d["hatched"], &n = d["set"], &t = d["temp"];
  const Grid g = Tabulate2(
      [&](double a, double b) {
        double lp = -0.005 * a * a - 0.05 * b * b;
        for (size_t i = 0; i < y.size(); ++i) {
          const double eta = a + b * (t[i] - 37.5);
          lp += Binomial(y[i], n[i], LogInvLogit(eta), LogInvLogit(-eta));
        }
        return lp;
      },
      -10.0, 10.0, -10.0, 10.0);
  Check({.label = "hatching", .seed = 373737},
        {g.Moments("a", first), g.Moments("b", second),
         g.Moments("p[1]", [&](double a, double b) { return 1.0 / (1.0 + std::exp(-(a + b * (t[0] - 37.5)))); })});
}

// Two independent assays, each tabulated on its own grid. Probit: dead1_k ~ Bin(Phi(a1 + b1 x_k), n1_k),
// a1 ~ N(0, 0.1), b1 ~ N(0, 0.1) cut to (0, 10). Complementary log-log: dead2_k ~ Bin(1 - exp(-exp(a2 +
// b2 x_k)), n2_k), a2 ~ N(0, 0.1), b2 ~ Gamma(2, 1).
TEST(Posterior, AssaysProbitAndComplementaryLogLog) {
  const ListFile d = ExampleData("assays");
  const std::vector<double>&x = d["ldose"], &n1 = d["n1"], &y1 = d["dead1"], &n2 = d["n2"], &y2 = d["dead2"];
  const Grid g1 = Tabulate2(
      [&](double a, double b) {
        double lp = -0.05 * a * a - 0.05 * b * b;
        for (size_t k = 0; k < x.size(); ++k)
          lp += Binomial(y1[k], n1[k], std::log(NormalCdf(a + b * x[k])), std::log(NormalUpper(a + b * x[k])));
        return lp;
      },
      -10.0, 10.0, 0.0, 10.0);
  const Grid g2 = Tabulate2(
      [&](double a, double b) {
        double lp = -0.05 * a * a + std::log(b) - b;
        for (size_t k = 0; k < x.size(); ++k) {
          const double e = std::exp(a + b * x[k]);
          lp += Binomial(y2[k], n2[k], std::log(-std::expm1(-e)), -e);
        }
        return lp;
      },
      -10.0, 10.0, 0.0, 30.0);
  Check({.label = "assays", .seed = 515151},
        {g1.Moments("a1", first), g1.Moments("b1", second), g2.Moments("a2", first), g2.Moments("b2", second)});
}

// count_j ~ Poisson(lambda_j), log lambda_j = lyears_j + a + b (traffic_j - 10), a, b ~ N(0, 0.01).
TEST(Posterior, AccidentsPoissonLogLink) {
  const ListFile d = ExampleData("accidents");
  const std::vector<double>&y = d["count"], &x = d["traffic"], &off = d["lyears"];
  const Grid g = Tabulate2(
      [&](double a, double b) {
        double lp = -0.005 * (a * a + b * b);
        for (size_t j = 0; j < y.size(); ++j) {
          const double eta = off[j] + a + b * (x[j] - 10.0);
          lp += y[j] * eta - std::exp(eta);
        }
        return lp;
      },
      -10.0, 10.0, -5.0, 5.0);
  Check({.label = "accidents", .seed = 919191},
        {g.Moments("a", first), g.Moments("b", second),
         g.Moments("lambda[9]", [&](double a, double b) { return std::exp(off[8] + a + b * (x[8] - 10.0)); })});
}

// reading_i ~ N(p d1 + (1 - p) d2, tau), p ~ Beta(2, 2), tau ~ Gamma(1, 1e-4). Given p, tau ~ Gamma(A, B(p)),
// A = 1 + n/2, B = 1e-4 + S(p)/2 (S the sum of squared residuals), so p(p | y) ~ p (1 - p) B^-A on (0, 1),
// with E[tau | p] = A / B and E[tau^2 | p] = A (A + 1) / B^2.
TEST(Posterior, BlendBetaShareUnderNormalReadings) {
  const ListFile d = ExampleData("blend");
  const std::vector<double>& y = d["reading"];
  const double d1 = d.Scalar("d1"), d2 = d.Scalar("d2"), A = 1.0 + y.size() / 2.0;
  auto B = [&](double p) {
    double s = 0.0;
    for (double v : y) s += Sq(v - (p * d1 + (1.0 - p) * d2));
    return 1e-4 + s / 2.0;
  };
  const Grid g =
      Tabulate1([&](double p) { return std::log(p) + std::log1p(-p) - A * std::log(B(p)); }, 0.0, 1.0, 20001);
  Check({.label = "blend", .seed = 626262},
        {g.Moments("p", [](double p) { return p; }),
         g.Moments(
             "tau", [&](double p) { return A / B(p); }, [&](double p) { return A * (A + 1.0) / Sq(B(p)); })});
}

// time_i ~ t_4(mu, s^-2), mu ~ U(20, 40), s ~ U(0.05, 5): the hidden chi-square weights integrate out to
// the t density (1 / s) (1 + ((y - mu) / s)^2 / 4)^(-5/2). The griddy scale and the weights mix slowly:
// twice the usual sweeps keep the standard errors small.
TEST(Posterior, RobustHeavyTailedErrors) {
  const ListFile d = ExampleData("robust");
  const std::vector<double>& y = d["time"];
  const Grid g = Tabulate2(
      [&](double mu, double s) {
        double lp = 0.0;
        for (double v : y) lp += -std::log(s) - 2.5 * std::log1p(Sq((v - mu) / s) / 4.0);
        return lp;
      },
      20.0, 40.0, 0.05, 5.0);
  Check({.label = "robust", .sweeps = Sweeps(40000), .seed = 848484}, {g.Moments("mu", first), g.Moments("s", second)});
}

// yield_i ~ N(b g_i(s), tau), g_i(s) = log(1 + nitrogen_i / s), tau known, b ~ N(0, 0.01), s ~ U(1, 200).
// Given s, b is normal with precision P(s) = 0.01 + tau sum g_i^2 and mean M(s) = tau sum g_i y_i / P(s), so
// p(s | y) ~ P^-1/2 exp(M^2 P / 2); E[b] = E[M], E[b^2] = E[M^2 + 1 / P]. The griddy scale and b mix
// slowly: five times the usual sweeps.
TEST(Posterior, SaturationGriddyScale) {
  const ListFile d = ExampleData("saturation");
  const std::vector<double>&y = d["yield"], &x = d["nitrogen"];
  const double tau = d.Scalar("tau");
  auto PM = [&](double s) {
    double gg = 0.0, gy = 0.0;
    for (size_t i = 0; i < y.size(); ++i) {
      const double gi = std::log(1.0 + x[i] / s);
      gg += gi * gi, gy += gi * y[i];
    }
    const double P = 0.01 + tau * gg;
    return std::pair{P, tau * gy / P};
  };
  const Grid g = Tabulate1(
      [&](double s) {
        const auto [P, M] = PM(s);
        return -0.5 * std::log(P) + 0.5 * M * M * P;
      },
      1.0, 200.0, 20001);
  Check(
      {.label = "saturation", .sweeps = Sweeps(100000), .seed = 737373},
      {g.Moments(
           "b", [&](double s) { return PM(s).second; }, [&](double s) { return Sq(PM(s).second) + 1.0 / PM(s).first; }),
       g.Moments("s", [](double s) { return s; })});
}
