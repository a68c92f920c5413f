#include "output/Monitors.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <random>
#include <tuple>

#include "Pipeline.h"
#include "commands/Chain.h"

namespace {

// Trace and index files and their write failures are shown by the scenarios.
struct Stats { int32_t start, end, n; double mean, sd, median, lower, upper; };
struct Diag { int32_t start, n; double mean1, sd1, mean2, sd2, Z; };

class MonitorsTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitMonitors();
    ASSERT_TRUE(Build("var mu, b, c, y[2]; { mu ~ dnorm(0, 1) b ~ dbern(0.5) c ~ dnorm(0, 1) "
                      "for (i in 1:2) { y[i] ~ dnorm(mu, 1) } }", "list(y = c(1, 2))")) << Console();
  }
  static int32_t L(const std::string& name, int offset = 0) { return N(name, offset)->label; }
  // Sweeps from..to: mu takes value(it), then the monitors record.
  static void Run(int32_t from, int32_t to,
                  const std::function<double(int32_t)>& value = [](int32_t it) { return it; }) {
    for (int32_t it = from; it <= to; ++it) Graph_Own(N("mu")) = value(it), Monitors_Update(it);
  }
  static Stats S(int32_t label, int32_t start = 1, int32_t end = INT32_MAX, double pLow = 2.5, double pHigh = 97.5) {
    Stats s{start, end, -1, -1, -1, -1, -1, -1};
    Monitors_CalculateStatistics(label, s.start, s.end, s.mean, s.sd, s.median, s.lower, s.upper, s.n, pLow, pHigh);
    return s;
  }
  static Diag D(int32_t label, int32_t batches, int32_t start = 1, int32_t end = INT32_MAX) {
    Diag d{start, -1, -1, -1, -1, -1, -1};
    Monitors_Diagnostics(label, batches, d.start, end, d.mean1, d.sd1, d.mean2, d.sd2, d.Z, d.n);
    return d;
  }
};

// Frequencies, clearing and data nodes are in the scenario session_monitor_frequency.
TEST_F(MonitorsTest, SummariesByPositionOverTheRangeAsked) {
  Monitors_SetMonitor(L("mu"), 1);
  Monitors_SetMonitor(L("c"), 1);
  Graph_Own(N("c")) = 0.1;
  Run(1, 4, [](int32_t it) { return 5.0 - it; });  // 4, 3, 2, 1: the sort matters
  Monitors_Update(4);  // a sweep already recorded is not stored twice
  Stats s = S(L("mu"));
  EXPECT_DOUBLE_EQ(s.sd, std::sqrt(1.25));
  // The 97.5 % point: k = trunc((3 * 97.5 + 1e-6) / 100) = 2, position 3.
  EXPECT_EQ(std::tuple(s.mean, s.median, s.lower, s.upper), std::tuple(2.5, 2.0, 1.0, 3.0));
  s = S(L("mu"), 1, INT32_MAX, -10.0, 400.0);  // percentages beyond 0..100 stay within the trace
  EXPECT_EQ(std::tuple(s.lower, s.upper), std::tuple(1.0, 4.0));
  EXPECT_EQ(S(L("c")).sd, 0.0);
  Run(5, 100, [](int32_t it) { return it % 2 == 0 ? it : -1.0; });
  s = S(L("mu"), 10, 50);  // 20 of -1, then 10, 12, ..., 50; samples lie beyond 50: end stays
  EXPECT_EQ(std::tuple(s.n, s.end, s.median), std::tuple(41, 50, 10.0));
  s = S(L("mu"), 95, 1000);  // the walk reached the last sample
  EXPECT_EQ(std::tuple(s.n, s.start, s.end), std::tuple(6, 95, 100));
  EXPECT_EQ(S(L("mu"), 60, 50).n, 0);
  EXPECT_EQ(S(L("b")).n, 0);  // no monitor
}

TEST_F(MonitorsTest, PercentilesOfTracesLongerThanAQuarterMillion) {
  constexpr int32_t n = 300000;
  std::vector<int32_t> order(n);
  for (int32_t i = 0; i < n; ++i) order[i] = i + 1;
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  Monitors_SetMonitor(L("mu"), 1);
  Monitors_SetMonitor(L("b"), 1);  // discrete: heap sort
  Graph_Own(N("b")) = 0;
  Run(1, n, [&](int32_t it) { return Graph_Own(N("b")) = order[it - 1] % 4 == 0, order[it - 1]; });
  // Median at position (n - 1) div 2 + 1; the 2.5 % point at k = 7499 + 1.
  const Stats s = S(L("mu"));
  EXPECT_EQ(std::tuple(s.n, s.median, s.lower, s.upper), std::tuple(n, 150000.0, 7500.0, 292500.0));
  EXPECT_TRUE(Monitors_enoughStorage);
  const Stats b = S(L("b"), 1, INT32_MAX, 70.0, 80.0);  // 3 in 4 are 0
  EXPECT_EQ(std::tuple(b.lower, b.upper), std::tuple(0.0, 1.0));
}

// Values 1..16, two batches. First quarter: samples 1..5 (16 div 4 + 1), the
// batches cover its last four: means 2.5 and 4.5. Second half: samples
// 9..16, means 10.5 and 14.5. With freq 2 the split is still by count.
TEST_F(MonitorsTest, DiagnosticOnAKnownSequenceAndDegenerateCases) {
  const double mean1 = 3.5, var1 = 1.0, mean2 = 12.5, var2 = 4.0;
  for (const int32_t freq : {1, 2}) {
    InitMonitors();
    Monitors_SetMonitor(L("mu"), freq);
    Run(1, 16 * freq, [freq](int32_t it) { return it / freq; });
    const Diag d = D(L("mu"), 2, 0);
    EXPECT_EQ(std::tuple(d.n, d.start), std::tuple(16, freq));
    EXPECT_DOUBLE_EQ(d.mean1, mean1) << freq;
    EXPECT_DOUBLE_EQ(d.sd1, std::sqrt(var1 + 1e-25));
    EXPECT_DOUBLE_EQ(d.mean2, mean2) << freq;
    EXPECT_DOUBLE_EQ(d.sd2, std::sqrt(var2 + 1e-25));
    EXPECT_NEAR(d.Z, (mean1 - mean2) * std::sqrt(2.0) / std::sqrt(var1 + var2), 1e-12) << freq;
  }
  EXPECT_EQ(D(L("mu"), 2, 1, 32).n, 15);  // counts the samples before end
  EXPECT_EQ(D(L("mu"), 2, 40).n, 0);
  // Fewer samples than batches: the plain mean of each segment, sd 0, Z 0.
  Diag d = D(L("mu"), 25, 1, 17);  // samples 1..3 and 5..8
  EXPECT_EQ(std::tuple(d.n, d.mean1, d.mean2, d.sd1, d.sd2, d.Z), std::tuple(8, 2.0, 6.5, 0.0, 0.0, 0.0));
  // A constant trace: batch means that differ in their last bits, Z 0 not 0 / 0.
  Monitors_SetMonitor(L("c"), 1);
  Graph_Own(N("c")) = 0.3;
  Run(33, 232);
  d = D(L("c"), 25);
  EXPECT_DOUBLE_EQ(d.mean1, 0.3);
  EXPECT_NEAR(d.sd1, std::sqrt(1e-25), 1e-18);
  EXPECT_EQ(d.Z, 0.0);
  EXPECT_TRUE(std::isfinite(D(L("mu"), 0).Z));  // no batches counts as one
}

int reads = 0; Graph_Proc original = nullptr;

// A whole chain monitored is one read per sweep: the nodes it shares are
// computed once, not once per monitored node.
TEST_F(MonitorsTest, AMonitoredChainIsReadOnceASweep) {
  ASSERT_TRUE(Build("var a, f[300]; { a ~ dnorm(0, 1) f[1] <- sin(a) + a for (i in 2:300) { f[i] <- f[i - 1] * 2 } }"))
      << Console();
  InitMonitors();
  for (int k = 0; k < 300; ++k) Monitors_SetMonitor(L("f", k), 1);
  Graph_Node* first = N("f");
  original = first->valueFunction;
  first->valueFunction = [](Graph_Node* node) { return ++reads, original(node); };
  Graph_Own(N("a")) = 0.0;
  reads = 0;
  Monitors_Update(1);
  EXPECT_LE(reads, 3);  // a few, not one or two for every monitored node after it
  for (int k : {0, 9, 299}) EXPECT_EQ(S(L("f", k)).mean, 0.0) << k;
  Graph_Own(N("a")) = std::ldexp(1.0, -300);
  Monitors_Update(2);
  EXPECT_EQ(S(L("f", 299), 2).mean, 2 * std::ldexp(1.0, -300) * std::ldexp(1.0, 299));
}

// Several chains registered are read in chain order as one trace, over the
// range from the least to the greatest iteration of any; the accessor gives
// each chain's values apart.
TEST_F(MonitorsTest, SeveralChainsArePooledInChainOrder) {
  Monitors_SetMonitor(L("mu"), 1);
  Run(1, 6);  // chain 1: 1..6
  const std::unique_ptr<Chain_Record> second = Chain_Copy();
  Chain_Bind(*second);
  Run(3, 10, [](int32_t it) { return 100.0 + it; });  // chain 2: 103..110 at iterations 3..10
  Chain_Bind(Chain_First());
  Monitors_SetChains({&Chain_First().traces, &second->traces});
  const Stats s = S(L("mu"), 5, 8);
  EXPECT_EQ(std::tuple(s.start, s.end, s.n), std::tuple(5, 8, 6));
  EXPECT_DOUBLE_EQ(s.mean, (5 + 6 + 105 + 106 + 107 + 108) / 6.0);
  EXPECT_EQ(s.median, 105.0);
  EXPECT_EQ(S(L("mu"), 1).end, 10);  // no chain stores beyond the last
  const std::vector<std::span<const double>> traces = Monitors_ChainTraces(L("mu"), 5, 8);
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(std::vector<double>(traces[0].begin(), traces[0].end()), (std::vector<double>{5, 6}));
  EXPECT_EQ(std::vector<double>(traces[1].begin(), traces[1].end()), (std::vector<double>{105, 106, 107, 108}));
  EXPECT_TRUE(Monitors_ChainTraces(L("c"), 1, 10).empty());
  Files_Handle file = Files_New("pooled.out");
  Files_Rider r;
  Files_Set(r, file, 0);
  EXPECT_EQ(Monitors_OutMonitor(r, L("mu"), 6, 7), 3);
  Files_Close(file);
  std::istringstream out(test::ReadFile("pooled.out"));  // iteration and value, chain by chain
  EXPECT_EQ((std::vector<double>(std::istream_iterator<double>(out), {})), (std::vector<double>{6, 6, 6, 106, 7, 107}));
  Monitors_SetChains({});
  EXPECT_EQ(S(L("mu"), 5, 8).n, 2);  // one chain again: the bound one alone
}

}  // namespace
