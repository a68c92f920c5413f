// Posteriors of one coefficient whose likelihood terms read a proportion or
// a mean through a link of a linear predictor, each term computed from the
// predictor with only the logarithms its count needs. Checked by quadrature
// of the log posterior, written out here from the distributions' formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

// The predictor of observation i is off[i] + x z[i]; x ~ dnorm(0, 0.25).
const std::vector<double> off = {0.3, -0.4, 1.1, -1.5, 0.0, 0.8, 30.0, -30.0};
const std::vector<double> z = {1.0, -0.5, 0.7, 1.2, -1.0, 0.2, 0.5, 0.5};

double Prior(double x) { return -0.125 * x * x; }

std::string Vector(const char* name, const std::vector<double>& v) {
  std::string s = std::string(name) + " = c(";
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
  return s + ")";
}

std::string Data(const std::vector<double>& y, const std::vector<double>& n = {}) {
  std::string s = "list(" + Vector("off", off) + ", " + Vector("z", z) + ", " + Vector("y", y);
  if (!n.empty()) s += ", " + Vector("n", n);
  return s + ")\n";
}

// ln p and ln(1 - p) under each link, from the predictor.
double LogitLogP(double eta) { return -std::log1p(std::exp(-eta)); }
double LogitLogQ(double eta) { return -std::log1p(std::exp(eta)); }
double CLogLogLogP(double eta) { return std::log(-std::expm1(-std::exp(eta))); }
double CLogLogLogQ(double eta) { return -std::exp(eta); }
double ProbitLogP(double eta) { return std::log(NormalCdf(eta)); }
double ProbitLogQ(double eta) { return std::log(NormalUpper(eta)); }

// The terms' log likelihood for counts y of n (1 for Bernoulli terms):
// y ln p + (n - y) ln(1 - p), a count of 0 contributing nothing.
template <double (*LogP)(double), double (*LogQ)(double)>
double Binomial(double x, const std::vector<double>& y, const std::vector<double>& n) {
  double sum = Prior(x);
  for (size_t i = 0; i < y.size(); ++i) {
    const double eta = off[i] + x * z[i];
    if (y[i] > 0.0) sum += y[i] * LogP(eta);
    if (n[i] - y[i] > 0.0) sum += (n[i] - y[i]) * LogQ(eta);
  }
  return sum;
}

const std::string declarations = "const N = 8;\nvar off[N], z[N], y[N], p[N], x;";
const std::string withSizes = "const N = 8;\nvar off[N], z[N], y[N], n[N], p[N], x;";
const std::string inits = "list(seed = 1, x = 0)\n";

}  // namespace

// Bernoulli terms under the logit, probit and complementary log-log links,
// binomial terms with counts of 0, of n and between under the logit and
// complementary log-log links, and Poisson terms with zero counts under the
// log link. Two observations have predictors near 30 and -30, where one of
// p and 1 - p is below 1.0E-13 and its log must still be exact.
TEST(LinkTerms, OneCoefficientUnderEachLink) {
  const std::vector<double> yb = {1, 0, 1, 0, 0, 1, 1, 0};
  const std::vector<double> ones(8, 1.0);
  const std::vector<double> yn = {3, 0, 5, 1, 2, 5, 6, 0}, nn = {5, 4, 5, 6, 3, 5, 6, 2};
  const std::vector<double> yp = {2, 0, 4, 0, 1, 3, 0, 0};
  const auto bern = [](const char* link) {
    return std::string("  for (i in 1:N) {\n    ") + link + "(p[i]) <- off[i] + x * z[i]\n    y[i] ~ dbern(p[i])\n  }\n  x ~ dnorm(0, 0.25)\n";
  };
  const auto bin = [](const char* link) {
    return std::string("  for (i in 1:N) {\n    ") + link + "(p[i]) <- off[i] + x * z[i]\n    y[i] ~ dbin(p[i], n[i])\n  }\n  x ~ dnorm(0, 0.25)\n";
  };
  // Log-link means: the offsets stop at -30 (a mean of 1.0E-13) where the
  // others reach 30, which as a log mean would dwarf every other term.
  const std::string pois =
      "  for (i in 1:N) {\n    log(p[i]) <- off[i] + x * z[i]\n    y[i] ~ dpois(p[i])\n  }\n  x ~ dnorm(0, 0.25)\n";
  const std::vector<double> offPois = {0.3, -0.4, 1.1, -1.5, 0.0, 0.8, -3.0, -30.0};
  const auto poisson = [offPois, yp](double x) {
    double sum = Prior(x);
    for (size_t i = 0; i < yp.size(); ++i) {
      const double eta = offPois[i] + x * z[i];
      sum += yp[i] * eta - std::exp(eta);
    }
    return sum;
  };
  const std::string poisData = "list(" + Vector("off", offPois) + ", " + Vector("z", z) + ", " + Vector("y", yp) + ")\n";
  const OneUnknownCase cases[] = {
      {"logitbern", declarations, bern("logit"), Data(yb), inits, 5101,
       [=](double x) { return Binomial<LogitLogP, LogitLogQ>(x, yb, ones); }, -10.0, 10.0},
      {"probitbern", declarations, bern("probit"), Data(yb), inits, 5102,
       [=](double x) { return Binomial<ProbitLogP, ProbitLogQ>(x, yb, ones); }, -10.0, 10.0},
      {"cloglogbern", declarations, bern("cloglog"), Data(yb), inits, 5103,
       [=](double x) { return Binomial<CLogLogLogP, CLogLogLogQ>(x, yb, ones); }, -10.0, 10.0},
      {"logitbin", withSizes, bin("logit"), Data(yn, nn), inits, 5104,
       [=](double x) { return Binomial<LogitLogP, LogitLogQ>(x, yn, nn); }, -10.0, 10.0},
      {"cloglogbin", withSizes, bin("cloglog"), Data(yn, nn), inits, 5105,
       [=](double x) { return Binomial<CLogLogLogP, CLogLogLogQ>(x, yn, nn); }, -10.0, 10.0},
      {"logpois", declarations, pois, poisData, inits, 5106, poisson, -10.0, 10.0},
  };
  for (const OneUnknownCase& c : cases) CheckOneUnknown(c);
}
