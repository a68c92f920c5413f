// Counts with very large parameters drawn from their priors: a binomial of
// 1e8 trials, a Poisson mean of 1e9 and a negative binomial whose mean is
// about 1e7. Each is a prior-only node, drawn directly every sweep, so a
// draw whose time grew with the parameter would hold the run for hours
// (a counting binomial of 1e8 trials takes seconds a draw); 2000 sweeps of
// all three must take less than a second, and the draws must have the laws'
// exact means and variances.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "Harness.h"

using namespace posterior;

TEST(LargeCounts, PriorOnlyCountsOfHugeSizeDrawQuicklyWithTheirMoments) {
  RunRequest request;
  request.example = "largecounts";
  request.model = "m.bug";
  request.inits = "m.in";
  // Starting values near the means: the starting-value generation does not
  // enumerate a binomial of more than 1000 trials.
  request.files = {
      {"m.bug",
       "model largecounts;\nvar x, y, z;\ninits in \"m.in\";\n"
       "{\n  x ~ dbin(0.5, 1.0E8)\n  y ~ dpois(1.0E9)\n  z ~ dnegbin(1.0E-4, 1000)\n}\n"},
      {"m.in", "list(seed = 1, x = 50000000, y = 1000000000, z = 9999000)\n"},
  };
  request.monitors = {"x", "y", "z"};
  request.burnIn = 2000;  // the timed update
  request.sweeps = Sweeps(20000);
  request.seed = 8642;
  const ChainSet run = RunChains(request);
  ASSERT_TRUE(run.ok) << run.failure;
  // The log gives an update's time in whole seconds: the burn-in of 2000
  // sweeps must show 00:00:00.
  for (const RunResult& r : run.runs) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.log, m, std::regex("time for +2000 +updates was +([0-9:]+)"))) << r.log;
    EXPECT_EQ(m[1].str(), "00:00:00") << "2000 sweeps took that long";
  }
  Comparison c("largecounts");
  // Binomial: n p and n p (1 - p).
  c.MeanAndVariance("x", run["x"], 5.0E7, 2.5E7);
  // Poisson: the mean both times.
  c.MeanAndVariance("y", run["y"], 1.0E9, 1.0E9);
  // Negative binomial (failures before the r-th success): r (1 - p) / p and
  // r (1 - p) / p^2.
  const double p = 1.0E-4, r = 1000.0;
  c.MeanAndVariance("z", run["z"], r * (1.0 - p) / p, r * (1.0 - p) / (p * p));
}
