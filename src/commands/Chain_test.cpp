#include "commands/Chain.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Pipeline.h"
#include "graph/Determ.h"
#include "language/SymTabs.h"
#include "output/Monitors.h"
#include "sampling/ClassDen.h"
#include "sampling/Plans.h"
#include "sampling/Samplers.h"

namespace {

// A model whose sweep runs every kind of update that keeps state from one
// sweep to the next: precomputed normal and gamma conditionals with running
// sums (b, tau), adaptive rejection with its kept envelope (a, g), a
// discrete enumeration (w), a conjugate beta (q) and a prior draw (z).
const std::string model =
    "const N = 8;\n"
    "var x[N], y[N], mu[N], r[N], p[N], w[N], m[N], v[N], b[2], tau, a, g, q, z;\n"
    "{ for (i in 1:N) {\n"
    "    mu[i] <- b[1] + b[2] * x[i]  y[i] ~ dnorm(mu[i], tau)\n"
    "    logit(p[i]) <- a + g * x[i]  r[i] ~ dbern(p[i])\n"
    "    w[i] ~ dbern(q)  m[i] <- 1 + 2 * w[i]  v[i] ~ dnorm(m[i], 4) }\n"
    "  b[1] ~ dnorm(0, 0.01) b[2] ~ dnorm(0, 0.01) tau ~ dgamma(1, 1)\n"
    "  a ~ dnorm(0, 0.1) g ~ dnorm(0, 0.1) q ~ dbeta(1, 1) z ~ dnorm(a, 1) }";
const std::string data =
    "list(x = c(-1.5, -1, -0.5, 0, 0.5, 1, 1.5, 2), y = c(-0.8, 0.1, 0.4, 1.2, 1.1, 2.3, 2.2, 3.4),\n"
    "     r = c(0, 0, 1, 0, 1, 1, 0, 1), v = c(1.1, 3.2, 0.8, 2.9, 3.1, 1.2, 0.9, 3.3))";
const std::string inits = "list(b = c(0, 0), tau = 1, a = 0, g = 0, q = 0.5, z = 0)";

constexpr int sweeps = 200;
constexpr std::array<int32_t, 2> seeds = {271828, 1618033};

// What one record's values are after each sweep.
using Trace = std::vector<Graph_Values>;

// The monitored nodes: one of each kind of update, and a logical node.
const std::array<const char*, 5> monitored = {"b", "tau", "a", "q", "mu"};

class ChainTest : public test::Pipeline {
 protected:
  void SetUp() override {
    test::Pipeline::SetUp();
    InitClassDen();
    InitSamplers();
    InitPlans();
    InitMonitors();
  }
  void TearDown() override {
    Chain_Bind(Chain_First());  // the test's own records are gone
    InitMonitors();
    InitPlans();
    test::Pipeline::TearDown();
  }
  void Compile() {
    ASSERT_TRUE(Build(model, data, inits)) << Console();
    ClassDen_ChooseUpdateMethod();
    ASSERT_FALSE(ClassDen_error) << Console();
    Determ_OptDeterm();
    Plans_Build();
    for (const char* name : monitored) Monitors_SetMonitor(N(name)->label, 1);
  }
  // The mean of a monitored node's samples in the bound record.
  static double MeanOf(const char* name) {
    int32_t start = 1, end = sweeps;
    double mean = 0.0, sd = 0.0, median = 0.0, lower = 0.0, upper = 0.0;
    int32_t n = 0;
    Monitors_CalculateStatistics(N(name)->label, start, end, mean, sd, median, lower, upper, n, 2.5, 97.5);
    EXPECT_EQ(n, sweeps) << name;
    return mean;
  }
  // A record of the compiled model whose stream starts from the given seed.
  static std::unique_ptr<Chain_Record> Start(Chain_Record& from, int32_t seed) {
    Chain_Bind(from);
    auto record = Chain_Copy();
    Chain_Bind(*record);
    EXPECT_TRUE(RandNum_SetSeed(seed));
    return record;
  }
  // In the calling thread, n sweeps of the record, as the update command
  // runs them for each chain.
  static Trace Sweep(Chain_Record& record, int n) {
    Chain_Bind(record);
    Trace trace;
    Plans_BeginChain();
    for (int i = 0; i < n; ++i) {
      bool aborted = false, error = false;
      Samplers_Update(aborted, error);
      if (error) break;
      if (!Samplers_MidSweep()) Plans_SweepDone();
      Monitors_Update(++record.progress.iteration);
      trace.push_back(record.values);
    }
    Plans_EndChain();
    return trace;
  }
};


TEST_F(ChainTest, TwoRecordsSweptInTwoThreadsDrawWhatEachDrawsAlone) {
  Compile();
  const std::unique_ptr<Chain_Record> start = Chain_Copy();

  // Each record alone, one after the other in this thread.
  std::array<Trace, 2> alone;
  std::array<std::array<double, monitored.size()>, 2> means{};
  for (size_t c = 0; c < seeds.size(); ++c) {
    auto record = Start(*start, seeds[c]);
    Plans_Begin();
    alone[c] = Sweep(*record, sweeps);
    Plans_End();
    ASSERT_EQ(alone[c].size(), static_cast<size_t>(sweeps));
    for (size_t k = 0; k < monitored.size(); ++k) means[c][k] = MeanOf(monitored[k]);
  }
  EXPECT_NE(alone[0].back(), alone[1].back()) << "the two seeds should give two different chains";

  // Both at once, each in a thread of its own.
  std::array<std::unique_ptr<Chain_Record>, 2> records;
  for (size_t c = 0; c < seeds.size(); ++c) records[c] = Start(*start, seeds[c]);
  std::array<Trace, 2> together;
  Plans_Begin();
  {
    std::vector<std::jthread> threads;
    for (size_t c = 0; c < seeds.size(); ++c)
      threads.emplace_back([&, c] { together[c] = Sweep(*records[c], sweeps); });
  }
  Plans_End();
  for (size_t c = 0; c < seeds.size(); ++c) {
    ASSERT_EQ(together[c].size(), alone[c].size()) << "chain " << c + 1;
    for (size_t i = 0; i < alone[c].size(); ++i)
      ASSERT_EQ(together[c][i], alone[c][i]) << "chain " << c + 1 << ", sweep " << i + 1;
    Chain_Bind(*records[c]);
    for (size_t k = 0; k < monitored.size(); ++k)
      EXPECT_EQ(MeanOf(monitored[k]), means[c][k]) << "chain " << c + 1 << ", " << monitored[k];
  }
}

}  // namespace
