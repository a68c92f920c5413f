// The griddy draws against exact full conditionals, and its failures, are
// rows in Samplers_test.cpp.
#include "sampling/Griddy.h"

#include <string>
#include <vector>

#include "Pipeline.h"
#include "numerics/RandNum.h"
#include "sampling/Samplers.h"

namespace {

class GriddyTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitSamplers();
  }
  void TearDown() override {
    InitGriddy(20);
    Pipeline::TearDown();
  }
};

TEST_F(GriddyTest, BinCountIsHeldWithinEightToOneThousand) {
  for (auto [asked, bins] : {std::pair{5, 8}, {-3, 8}, {8, 8}, {37, 37}, {1000, 1000}, {5000, 1000}}) {
    InitGriddy(asked);
    EXPECT_EQ(Griddy_numBins, bins) << asked;
  }
}

// A flat full conditional on [0, 10] has the density 0.1 at every grid
// point: inversion gives 10 u in every interval, the first included, and
// every candidate is accepted (a second uniform drawn for the test).
TEST_F(GriddyTest, FlatFullConditionalProposesUniformlyAndAcceptsEveryCandidate) {
  ASSERT_TRUE(Build("var x; { x ~ dunif(0, 10) }", "", "list(x = 3)")) << Console();
  InitRandNum();
  std::vector<double> u;
  for (int i = 0; i < 800; ++i) u.push_back(RandNum_Rand());
  InitRandNum();
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("x");
  int firstInterval = 0;
  for (size_t i = 0; i < 400; ++i) {
    Griddy_Updater(s);
    ASSERT_FALSE(Samplers_StateOf(s).error);
    ASSERT_NEAR(Graph_Own(s.node), 10.0 * u[2 * i], 1.0E-12) << i;
    firstInterval += u[2 * i] < 1.0 / 20;
  }
  EXPECT_GT(firstInterval, 0);
}

}  // namespace
