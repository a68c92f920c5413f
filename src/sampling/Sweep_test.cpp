// Two chain records of one model, swept in turns or in two threads, must each draw what it draws
// alone: anything a sweep keeps outside the bound record would leak between chains (and race).
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Hooks.h"
#include "Methods.h"
#include "commands/Chain.h"
#include "graph/Determ.h"
#include "numerics/RandNum.h"
#include "output/Monitors.h"
#include "sampling/Blocks.h"
#include "sampling/ClassDen.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"
#include "sampling/Plans.h"
#include "sampling/Samplers.h"

namespace {

// A regression with plans, a logistic one by rejection (with partial sums), a Poisson rate by gamma draws.
const std::string model =
    "const N = 8;\n"
    "var x[N], z[N], y[N], mu[N], b0, b1, tau, r[N], p[N], c0, c1, c2, k[N], lambda;\n"
    "{ for (i in 1:N) { mu[i] <- b0 + b1 * x[i] y[i] ~ dnorm(mu[i], tau) }\n"
    "  b0 ~ dnorm(0, 0.01) b1 ~ dnorm(0, 0.01) tau ~ dgamma(1, 1)\n"
    "  for (i in 1:N) { logit(p[i]) <- c0 + c1 * x[i] + c2 * z[i] r[i] ~ dbern(p[i]) }\n"
    "  c0 ~ dnorm(0, 0.1) c1 ~ dnorm(0, 0.1) c2 ~ dnorm(0, 0.1)\n"
    "  for (i in 1:N) { k[i] ~ dpois(lambda) } lambda ~ dgamma(2, 1) }";
const std::string data =
    "list(x = c(-1.5, -0.8, -0.2, 0.1, 0.6, 0.9, 1.4, 2.0), z = c(0.3, -1.1, 0.8, 1.6, -0.4, 0.2, -1.3, 0.7),"
    " y = c(-1.9, -0.4, 0.8, 1.1, 1.5, 2.6, 3.1, 4.4), r = c(0, 0, 1, 0, 1, 1, 0, 1),"
    " k = c(3, 1, 4, 2, 2, 5, 0, 3))";
const std::string inits = "list(b0 = 0.5, b1 = -0.2, tau = 2, c0 = 0.1, c1 = 0.4, c2 = -0.3, lambda = 1.5)";

constexpr int sweeps = 2 * Plans_resumEvery + 12;  // the sums are formed afresh twice on the way

// The records a turn may still run before it stops; the sweep asks after each.
int budget = 0;
bool Spent() { return --budget <= 0; }

// Every value of the bound record, after each completed sweep and at the end.
using Trace = std::vector<Graph_Values>;

// Each trace the same, bit for bit, as the one drawn alone.
void ExpectSame(const Trace& got, const Trace& alone, const std::string& what) {
  ASSERT_EQ(got.size(), alone.size()) << what;
  for (size_t s = 0; s < alone.size(); ++s) {
    ASSERT_EQ(got[s].size(), alone[s].size()) << what;
    for (size_t at = 0; at < alone[s].size(); ++at)
      ASSERT_EQ(std::bit_cast<uint64_t>(got[s][at]), std::bit_cast<uint64_t>(alone[s][at]))
          << what << ": sweep " << s + 1 << " differs at slot " << at;
  }
}

struct ChainRun { std::unique_ptr<Chain_Record> record; int done = 0; Trace trace; };

class SweepTest : public test::Methods {
 protected:
  void Compile(bool blocks = false) { test::Methods::Compile(model, data, inits, blocks); }
  // A copy of the compiled state with its own seed, bound to no thread.
  static ChainRun Start(Chain_Record& compiled, int32_t seed) {
    Chain_Bind(compiled);
    ChainRun run{Chain_Copy(), 0, {}};
    Chain_Bind(*run.record);
    EXPECT_TRUE(RandNum_SetSeed(seed));
    Chain_Bind(compiled);
    return run;
  }
  // At most `records` updates of the chain, fewer when its sweeps are done.
  static void Turn(ChainRun& run, int records) {
    Chain_Bind(*run.record);
    budget = records;
    while (budget > 0 && run.done < sweeps) {
      bool aborted = false, error = false;
      Samplers_Update(aborted, error, Spent);
      ASSERT_FALSE(error) << Samplers_part->failure;
      if (Samplers_MidSweep()) continue;
      Plans_SweepDone();
      ++run.done;
      run.trace.push_back(*Graph_values);
    }
  }
  static void Finish(ChainRun& run) {
    Chain_Bind(*run.record);
    Plans_EndChain();
    run.trace.push_back(*Graph_values);
  }
  // Every sweep of the chain, recording its monitors, as the update command runs each chain.
  static void SweepAll(ChainRun& run) {
    Chain_Bind(*run.record);
    Plans_BeginChain();
    while (run.done < sweeps) {
      bool aborted = false, error = false;
      Samplers_Update(aborted, error);
      if (error) return;  // the trace comes out short
      Plans_SweepDone();
      Monitors_Update(++run.done);
      run.trace.push_back(*Graph_values);
    }
    Finish(run);
  }
  // The mean of the bound record's samples of a monitored node.
  static double MeanOf(const Graph_Node* node) {
    int32_t start = 1, end = sweeps, n = 0;
    double mean = 0.0, sd = 0.0, median = 0.0, lower = 0.0, upper = 0.0;
    Monitors_CalculateStatistics(node->label, start, end, mean, sd, median, lower, upper, n, 2.5, 97.5);
    EXPECT_EQ(n, sweeps);
    return mean;
  }
};

const int32_t seeds[2] = {12345, 987654};

// Each record alone, then both in turns of changing length (ending mid-sweep at changing places)
// and both at once in two threads; with blocks, a linear and a generalised one.
TEST_F(SweepTest, ChainsInTurnsOrInTwoThreadsDrawAndRecordWhatEachDoesAlone) {
  for (const bool blocks : {false, true}) {
    SCOPED_TRACE(blocks ? "blocks" : "single nodes");
    InitMonitors();
    Compile(blocks);
    const Samplers_Sampler* ars = &RecordOf(N("c1"));
    if (blocks) {
      ASSERT_EQ(Blocks_Count(), 2);
    } else {  // the model exercises what it is meant to
      EXPECT_GE(Plans_Count(), 3);
      EXPECT_EQ(Plans_MaintainedForms(), 8);
      EXPECT_EQ(ars->update, DFreeARS_FullArs);
      EXPECT_EQ(RecordOf(N("lambda")).update, GibbsSam_Gamma);
      EXPECT_LT(RecordOf(N("lambda")).plan, 0);
      ASSERT_EQ(N("p")->numParents, 5);
    }
    const std::array<Graph_Node*, 5> monitored = {N("b0"), N("tau"), N("c1"), N("lambda"), N("mu", 3)};
    for (const Graph_Node* node : monitored) Monitors_SetMonitor(node->label, 1);
    const auto n = Samplers_Count();
    Chain_Record& compiled = Chain_First();

    Trace alone[2];
    std::array<double, monitored.size()> means[2];
    for (int c = 0; c < 2; ++c) {
      ChainRun run = Start(compiled, seeds[c]);
      Plans_Begin();
      SweepAll(run);
      Plans_End();
      EXPECT_TRUE(blocks || Samplers_StateOf(*ars).haveCentiles);
      for (size_t k = 0; k < monitored.size(); ++k) means[c][k] = MeanOf(monitored[k]);
      alone[c] = std::move(run.trace);
      ASSERT_EQ(alone[c].size(), static_cast<size_t>(sweeps + 1));
    }
    ASSERT_NE(alone[0].back(), alone[1].back());  // the seeds tell the chains apart

    const struct { int first, second; } schedules[] = {{1, 1}, {3, 7}, {n + 2, 2 * n - 1}, {5 * n, 2 * n}};
    for (const auto& schedule : schedules) {
      ChainRun runs[2] = {Start(compiled, seeds[0]), Start(compiled, seeds[1])};
      Plans_Begin();
      for (ChainRun& run : runs) Chain_Bind(*run.record), Plans_BeginChain();
      while (runs[0].done < sweeps || runs[1].done < sweeps) {
        Turn(runs[0], schedule.first);
        Turn(runs[1], schedule.second);
        if (HasFatalFailure()) return;
      }
      for (ChainRun& run : runs) Finish(run);
      Plans_End();
      for (int c = 0; c < 2; ++c)
        ExpectSame(runs[c].trace, alone[c], "chain " + std::to_string(c + 1) + ", turns of " +
                                                std::to_string(schedule.first) + " and " + std::to_string(schedule.second));
    }

    ChainRun runs[2] = {Start(compiled, seeds[0]), Start(compiled, seeds[1])};
    Plans_Begin();
    { std::jthread first(SweepAll, std::ref(runs[0])), second(SweepAll, std::ref(runs[1])); }
    Plans_End();
    for (int c = 0; c < 2; ++c) {
      ExpectSame(runs[c].trace, alone[c], "chain " + std::to_string(c + 1) + " in a thread");
      Chain_Bind(*runs[c].record);
      for (size_t k = 0; k < monitored.size(); ++k)
        EXPECT_EQ(MeanOf(monitored[k]), means[c][k]) << "chain " << c + 1 << ", monitor " << k;
    }
    Chain_Bind(compiled);  // the runs' records go with this pass
  }
}

}  // namespace
