// Posterior checks of models written the way their users write them:
// distribution parameters given as expressions, and a data matrix written as
// R writes it, column by column. Every exact answer is a closed form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

ChainSet RunModel(const std::string& label, const std::string& model, const std::string& data,
                  const std::vector<std::string>& monitors, int seed) {
  return RunInline(label, model, data, "list(seed = 1)\n", monitors, seed);
}

}  // namespace

// y[i] ~ N(a + b x[i], 4) with centred x and vague normal priors: a and b are
// independent normals a posteriori, with precisions 1.0E-4 + 4 n and
// 1.0E-4 + 4 sum x^2 and means 4 sum y / prec and 4 sum x y / prec.
// p ~ beta(1 + s, 1 + f) with k successes in n trials: beta(1 + s + k, 1 + f + n - k).
TEST(Forms, ParametersWrittenAsExpressions) {
  const std::vector<double> x = {-2, -1, 0, 1, 2}, y = {-2.9, -0.4, 1.2, 2.1, 4.8};
  double sy = 0.0, sxx = 0.0, sxy = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    sy += y[i];
    sxx += x[i] * x[i];
    sxy += x[i] * y[i];
  }
  const double precA = 1.0E-4 + 4.0 * static_cast<double>(x.size()), precB = 1.0E-4 + 4.0 * sxx;
  const double s = 3, f = 5, n = 20, k = 7;
  const double alpha = 1 + s + k, beta = 1 + f + n - k;
  const ChainSet run = RunModel(
      "parameter_expressions",
      "model forms;\nvar x[5], y[5], a, b, s, f, n, k, p;\ndata in \"m.dat\";\ninits in \"m.in\";\n"
      "{\n  for (i in 1:5) { y[i] ~ dnorm(a + b * x[i], 4) }\n  a ~ dnorm(0, 1.0E-4)\n  b ~ dnorm(0, 1.0E-4)\n"
      "  p ~ dbeta(1 + s, 1 + f)\n  k ~ dbin(p, n)\n}\n",
      "list(x = c(-2, -1, 0, 1, 2), y = c(-2.9, -0.4, 1.2, 2.1, 4.8), s = 3, f = 5, n = 20, k = 7)\n",
      {"a", "b", "p"}, 2024);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("parameter_expressions");
  c.MeanAndVariance("a", run["a"], 4.0 * sy / precA, 1.0 / precA);
  c.MeanAndVariance("b", run["b"], 4.0 * sxy / precB, 1.0 / precB);
  c.MeanAndVariance("p", run["p"], alpha / (alpha + beta),
                    alpha * beta / ((alpha + beta) * (alpha + beta) * (alpha + beta + 1)));
}

// z[j] ~ N(mu X[1, j], 1), mu ~ N(0, 1), with X[2, 3] given as R writes it:
// structure(c(X11, X21, X12, X22, X13, X23), dim = 2:3). Read in column
// order, X[1, ] is (1, 2, 3): mu has precision 1 + 14 and mean sum X[1, j] z[j] / 15.
// Read row by row it would be (1, 0.5, 2), and the answer quite different.
TEST(Forms, MatrixWrittenColumnByColumn) {
  const std::vector<double> row = {1, 2, 3}, z = {0.7, 1.1, 2.0};
  double prec = 1.0, sxz = 0.0;
  for (size_t j = 0; j < row.size(); ++j) {
    prec += row[j] * row[j];
    sxz += row[j] * z[j];
  }
  const ChainSet run = RunModel(
      "column_order",
      "model columns;\nvar X[2, 3], z[3], mu;\ndata in \"m.dat\";\ninits in \"m.in\";\n"
      "{\n  for (j in 1:3) { z[j] ~ dnorm(mu * X[1, j], 1) }\n  mu ~ dnorm(0, 1)\n}\n",
      "list(X = structure(c(1, 0.5, 2, -1, 3, 4), dim = 2:3), z = c(0.7, 1.1, 2.0))\n", {"mu"}, 77);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("column_order");
  c.MeanAndVariance("mu", run["mu"], sxz / prec, 1.0 / prec);
}
