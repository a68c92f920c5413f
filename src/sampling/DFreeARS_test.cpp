// The draws of every rejection procedure against exact full conditionals,
// and their failures, are rows in Samplers_test.cpp.
#include "sampling/DFreeARS.h"

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "Hooks.h"
#include "Pipeline.h"
#include "Stats.h"
#include "sampling/Samplers.h"

namespace {

// Fifty points at most: a fifty-first inside drops the top one, one above
// all takes the top place, one on top of a stored one adds nothing. A point
// 100 below the best at a rising end bounds the support there; a point of
// zero density beyond the stored ones ends the support.
TEST(DFreeARSPoints, StoreKeepsFiftyPointsInOrderAndEndsTheSupport) {
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  const auto h = [](double x) { return -0.01 * x * x; };
  for (int k = 0; k < 50; ++k) EXPECT_EQ(DFreeARS_TestStore(k - 25.0, h(k - 25.0)), k + 1);
  double x = 0.0, y = 0.0;
  EXPECT_EQ(DFreeARS_TestStore(0.5, h(0.5)), 50);
  ASSERT_TRUE(DFreeARS_TestPoint(26, x, y));
  EXPECT_EQ(x, 0.5);
  ASSERT_TRUE(DFreeARS_TestPoint(49, x, y));
  EXPECT_EQ(x, 23.0);
  EXPECT_EQ(DFreeARS_TestStore(30.0, h(30.0)), 50);
  ASSERT_TRUE(DFreeARS_TestPoint(49, x, y));
  EXPECT_EQ(x, 30.0);
  EXPECT_EQ(y, h(30.0));
  EXPECT_EQ(DFreeARS_TestStore(0.5, 7.0), 50);
  ASSERT_TRUE(DFreeARS_TestPoint(26, x, y));
  EXPECT_EQ(y, h(0.5));
  bool lower = false, upper = false;
  double lo = 0.0, hi = 0.0;
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  for (double v : {-1.0, 0.0, 1.0}) DFreeARS_TestStore(v, -v * v);
  EXPECT_EQ(DFreeARS_TestStore(-10.0, -100.0), 3);
  DFreeARS_TestEnds(lower, lo, upper, hi);
  EXPECT_TRUE(lower && !upper);
  EXPECT_EQ(DFreeARS_TestStore(7.0, -49.0), 3);
  DFreeARS_TestEnds(lower, lo, upper, hi);
  EXPECT_TRUE(lower && upper);
  EXPECT_EQ(lo, -10.0);
  EXPECT_EQ(hi, 7.0);
  // No trimming where the end does not rise.
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  for (double v : {0.0, 1.0, 2.0}) DFreeARS_TestStore(v, -v * v);
  EXPECT_EQ(DFreeARS_TestStore(-0.5, -60.0), 4);
  DFreeARS_TestReset(false, 0.0, false, 0.0);
  DFreeARS_TestStore(0.0, 0.0);
  DFreeARS_TestStore(1.0, -1.0);
  for (const auto& [at, value] : {std::pair{-2.0, -HUGE_VAL}, {0.5, -HUGE_VAL}, {3.0, -HUGE_VAL}, {4.0, -16.0}, {-3.0, -9.0}})
    EXPECT_EQ(DFreeARS_TestStore(at, value), 2) << at;
  DFreeARS_TestEnds(lower, lo, upper, hi);
  EXPECT_TRUE(lower && upper);
  EXPECT_EQ(lo, -2.0);
  EXPECT_EQ(hi, 3.0);
  EXPECT_TRUE(std::isnan(DFreeARS_TestQuantile(0.5)));  // fewer than three points make no envelope
}

// Points of h = -|x| at -2, -1, 1, 2. The envelope is e^x left of -2, flat
// at -1 from -2 to -1 (the chord through -1 and 1, extended), the tent from
// -1 to 1, and the mirror image: area 2 + 2 e^-2 free, 2 + 2 e^-3 within (-3, 3).
TEST(DFreeARSPoints, EnvelopeOfATentIsInvertedExactly) {
  for (const bool bounded : {false, true}) {
    DFreeARS_TestReset(bounded, -3.0, bounded, 3.0);
    for (double x : {-2.0, -1.0, 1.0, 2.0}) DFreeARS_TestStore(x, -std::fabs(x));
    const double e1 = std::exp(-1.0), e2 = std::exp(-2.0), e3 = std::exp(-3.0);
    const double left = bounded ? e2 - e3 : e2, total = 2.0 + 2.0 * left;
    const auto quantile = [&](double p) {
      const double a = p * total;
      if (a < left) return std::log(a + (bounded ? e3 : 0.0));
      if (a < left + e1) return -2.0 + (a - left) / e1;
      return std::log(a - left);
    };
    for (double p : {0.001, 0.02, 0.05, 0.1, 0.2, 0.3, 0.45, 0.5}) {
      EXPECT_NEAR(DFreeARS_TestQuantile(p), quantile(p), 1e-12) << p << " " << bounded;
      EXPECT_NEAR(DFreeARS_TestQuantile(1.0 - p), -quantile(p), 1e-12) << p << " " << bounded;
    }
  }
}

class DFreeARSTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitDFreeARS();
    InitSamplers();
  }
};

// The first update keeps the envelope's 12.5, 40, 60 and 87.5 % points: near
// the normal ones (the envelope's tails are heavier), exact for a flat density.
TEST_F(DFreeARSTest, FirstUpdateKeepsTheEnvelopesCentiles) {
  ASSERT_TRUE(Build("var x, u; { x ~ dnorm(0, 1) u ~ dunif(0, 1) }", "", "list(x = 0.3, u = 0.3)")) << Console();
  const struct {
    const char* node;
    Samplers_Proc update;
    std::array<double, 4> centiles;
    double within;
  } cases[] = {{"x", DFreeARS_FullArs, {-1.1503, -0.2533, 0.2533, 1.1503}, 0.35},
               {"u", DFreeARS_TruncArs, {0.15, 0.25, 0.75, 0.85}, 1e-12}};
  for (const auto& c : cases) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(c.node);
    c.update(s);
    ASSERT_FALSE(Samplers_StateOf(s).error);
    ASSERT_TRUE(Samplers_StateOf(s).haveCentiles);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(Samplers_StateOf(s).centiles[i], c.centiles[i], c.within) << c.node << i;
  }
}

// Each update's three starting points see no finite density, so its mode
// cannot be found; the fall-back Metropolis step on a grid then sees a
// Beta(4, 6) density, and its draws follow it.
int calls = 0;
double FallBack(Graph_Node* node) {
  const double x = Graph_Own(node);
  return ++calls <= 3 ? NAN : 3.0 * std::log(x) + 5.0 * std::log(1.0 - x);
}

TEST_F(DFreeARSTest, BoundedFailureFallsBackToAMetropolisStep) {
  ASSERT_TRUE(Build("var v; { v ~ dbeta(1, 1) }", "", "list(v = 0.5)")) << Console();
  N("v")->logDensity = FallBack;
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("v");
  std::vector<double> vs;
  for (int i = 0; i < 3000 && !Samplers_StateOf(s).error; ++i) {
    calls = 0;
    DFreeARS_TruncArs(s);
    vs.push_back(Graph_Own(N("v")));
    EXPECT_GT(calls, 256);  // the grid was built
  }
  ASSERT_FALSE(Samplers_StateOf(s).error) << Console();
  test::ExpectMoments(test::BatchMoments(vs), 0.4, 0.24 / 11.0, 4.0, "fall-back Beta(4, 6)");
}

}  // namespace
