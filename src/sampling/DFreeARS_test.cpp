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
