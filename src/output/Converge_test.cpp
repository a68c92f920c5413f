#include "output/Converge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using Trace = std::vector<double>; using Chains = std::vector<Trace>;

Converge_Summary Summarise(const Chains& chains) {
  return Converge_Summarise(std::vector<std::span<const double>>(chains.begin(), chains.end()));
}

// A portable stream (16807 s mod 2^31 - 1, exact in doubles), twelve
// uniforms less 6 as the innovation of an AR(1) started at 0, plus a shift.
Trace Congruential(double phi, int n, double seed, double shift = 0) {
  double s = seed, v = 0;
  Trace x;
  for (int i = 0; i < n; ++i) {
    double e = 0;
    for (int k = 0; k < 12; ++k) e += (s = std::fmod(16807 * s, 2147483647.0)) / 2147483647.0;
    v = phi * v + (e - 6);
    x.push_back(v + shift);
  }
  return x;
}

// Figures a plain quadratic reference (direct sums, ranks by counting,
// quantiles by bisection, the monotone sequence as a running minimum) gave
// for these traces, to 1e-13; the chain of 13 draws is cut to 12.
TEST(ConvergeTest, AgreesWithTheReferenceFigures) {
  Trace drifting = Congruential(0.6, 301, 7), ties = Congruential(0.3, 400, 11), wide = Congruential(0.2, 250, 9);
  for (size_t i = 0; i < drifting.size(); ++i) drifting[i] += 0.01 * static_cast<double>(i);
  for (double& v : ties) v = std::floor(v / 2);
  for (double& v : wide) v *= 4;
  const struct { const char* what; Chains chains; double rHat, bulk, tail, mcse; size_t draws; } cases[] = {
      {"one iid chain", {Congruential(0, 400, 1)}, 0.99848425945482755, 375.51838699112528, 402.5572696618205,
       0.050680478486233749, 400},
      {"one sticky chain", {Congruential(0.95, 500, 2)}, 1.11693689238444, 16.744744973798674, 40.597115132275768,
       0.72230740084726242, 500},
      {"one antithetic chain", {Congruential(-0.7, 300, 3)}, 0.99734167082854031, 743.13637641589878,
       190.69398283645072, 0.046740049715798343, 300},
      {"one drifting chain of odd length", {drifting}, 1.1602983569551935, 5.0448358837674387, 59.265463263317791,
       0.67012763395561836, 301},
      {"three chains, one shifted", {Congruential(0.5, 200, 4), Congruential(0.5, 200, 5), Congruential(0.5, 200, 6, 1.5)},
       1.2090079916914815, 11.679453051298784, 230.23571648175565, 0.3860869076556489, 600},
      {"two chains of different spread", {Congruential(0.2, 250, 8), wide}, 1.3497443734465853, 319.30764036454377,
       203.96946266147125, 0.17383600042057618, 500},
      {"counts with many ties", {ties}, 0.99779553669408616, 253.95476491422301, 216.14106030310612,
       0.038909796835455888, 400},
      {"shortest chains computed", {Congruential(0.3, 12, 31), Congruential(0.3, 13, 33)}, 1.1549414359912655,
       23.596429944468699, 29.142857142857135, 0.22122786577694781, 24},
  };
  for (const auto& c : cases) {
    const Converge_Summary s = Summarise(c.chains);
    EXPECT_NEAR(s.rHat, c.rHat, 1e-12 * c.rHat) << c.what;
    EXPECT_NEAR(s.bulkEss, c.bulk, 1e-12 * c.bulk) << c.what;
    EXPECT_NEAR(s.tailEss, c.tail, 1e-12 * c.tail) << c.what;
    EXPECT_NEAR(s.mcseMean, c.mcse, 1e-12 * c.mcse) << c.what;
    EXPECT_EQ(s.draws, c.draws) << c.what;
  }
}

// A constant trace and eleven draws are in the scenario conv_one_chain.
TEST(ConvergeTest, UndefinedFiguresAreNaN) {
  struct Case { const char* what; Chains chains; bool rHat, ess, mcse; };  // which figures are defined
  Trace withInf = Congruential(0, 50, 51);
  withInf[20] = std::numeric_limits<double>::infinity();
  Trace alternating(100, -1.0);
  for (int i = 1; i < 100; i += 2) alternating[i] = 1.0;
  const Case cases[] = {
      {"constant chains agreeing", {Trace(50, 1.0), Trace(50, 1.0)}, false, false, true},
      {"twelve draws", {Congruential(0, Converge_minimumLength, 53)}, true, true, true},  // eleven: conv_one_chain
      {"one chain too short", {Congruential(0, 100, 54), Congruential(0, 11, 55)}, false, false, false},
      {"an infinite draw", {withInf}, false, false, false},
      {"two values alternating", {alternating}, true, true, true},
      {"no chains", {}, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Converge_Summary s = Summarise(c.chains);
    EXPECT_EQ(std::isnan(s.rHat), !c.rHat);
    EXPECT_EQ(std::isnan(s.bulkEss), !c.ess);
    EXPECT_EQ(std::isnan(s.tailEss), !c.ess);
    EXPECT_EQ(std::isnan(s.mcseMean), !c.mcse);
  }
  // Lag 1 already cancels lag 0: the sum is empty and only the bound on
  // antithetic traces, S log10 S, remains.
  EXPECT_DOUBLE_EQ(Summarise({alternating}).bulkEss, 200.0);
}

}  // namespace
