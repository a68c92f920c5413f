// Posterior checks of faults once found and mended; a test still failing
// here is disabled (run it with --gtest_also_run_disabled_tests) until its
// fault is mended.
//
// Predictions: an unobserved stochastic node without children (a prediction)
// is left out of its parents' full conditionals and drawn from its own
// prior, which is right only when it is drawn after its parents in the same
// sweep. Were it drawn in node-number order from the highest down, a
// prediction declared after its parents would be drawn from their values of
// the sweep before: a quantity computed from it and a parent would pair
// values of two sweeps, and a prediction of a prediction would be drawn from
// a parent that no longer matches the others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

ChainSet RunModel(const std::string& label, const std::string& model, const std::vector<std::string>& monitors,
                   int seed) {
  return RunInline(label, model, "", "list(seed = 1)\n", monitors, seed);
}

}  // namespace

// mu ~ N(0, 1), y ~ N(mu, 1): the error d = y - mu is N(0, 1) whatever the
// order of the declarations. Drawn from the mu of the sweep before, y would
// give d a variance of 3.
TEST(KnownFaults, PredictionMinusItsParent) {
  const ChainSet run = RunModel("lag",
                                 "model lag;\nvar mu, y, d;\ninits in \"m.in\";\n"
                                 "{\n  mu ~ dnorm(0, 1)\n  y ~ dnorm(mu, 1)\n  d <- y - mu\n}\n",
                                 {"d"}, 2468);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("lag");
  c.MeanAndVariance("d", run["d"], 0.0, 1.0);
}

// s ~ N(0, 1), a ~ N(s, 1), b ~ N(s a, 1): E[b] = E[s a] = E[s^2] = 1 and
// Var(b) = E[s^2 a^2] - 1 + 1 = 4. Drawn from the a and s of different
// sweeps, b would have E[b] = 0 and Var(b) = 3.
TEST(KnownFaults, PredictionOfAPrediction) {
  const ChainSet run = RunModel("chain",
                                 "model chain;\nvar s, a, m, b;\ninits in \"m.in\";\n"
                                 "{\n  s ~ dnorm(0, 1)\n  a ~ dnorm(s, 1)\n  m <- s * a\n  b ~ dnorm(m, 1)\n}\n",
                                 {"b"}, 1357);
  ASSERT_TRUE(run.ok) << run.failure;
  Comparison c("chain");
  c.MeanAndVariance("b", run["b"], 1.0, 4.0);
}
