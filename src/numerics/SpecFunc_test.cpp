#include "numerics/SpecFunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr double halfLogTwoPi = 0.91893853320467274;

class SpecFuncTest : public ::testing::Test {
 protected:
  void SetUp() override { InitSpecFunc(); }
};

TEST_F(SpecFuncTest, LogGammaLeavesOutHalfLogTwoPi) {
  EXPECT_NEAR(SpecFunc_LogGammafunction(1.0), -halfLogTwoPi, 1e-9);
  EXPECT_NEAR(SpecFunc_LogGammafunction(0.5), 0.5 * std::log(std::numbers::pi) - halfLogTwoPi, 1e-9);
  EXPECT_NEAR(SpecFunc_LogGammafunction(10.0), std::log(362880.0) - halfLogTwoPi, 1e-9);
  // What a model's loggam shows is the function itself.
  EXPECT_NEAR(SpecFunc_LogGamma(10.0), std::log(362880.0), 1e-9);
  // B(2, 3) = 1/12; one constant is left over.
  EXPECT_NEAR(SpecFunc_LogBetafunction(2.0, 3.0), std::log(1.0 / 12.0) - halfLogTwoPi, 1e-9);
}

TEST_F(SpecFuncTest, LogPhiGivesTheNormalTail) {
  EXPECT_NEAR(SpecFunc_LogPhi(0.0), std::log(0.5), 1e-7);
  EXPECT_NEAR(SpecFunc_LogPhi(-1.0), -1.8410216450092634, 1.85e-7);
  EXPECT_NEAR(SpecFunc_LogPhi(-5.0), -15.064998393988724, 1.5e-6);
  EXPECT_EQ(SpecFunc_LogPhi(3.0), SpecFunc_LogPhi(-3.0));
}

TEST_F(SpecFuncTest, FactorialsFromTheTableAndBeyond) {
  EXPECT_EQ(SpecFunc_LogFactorial(0), 0.0);
  EXPECT_NEAR(SpecFunc_LogFactorial(5), std::log(120.0), 1e-13);
  EXPECT_NEAR(SpecFunc_LogFactorial(99), std::lgamma(100.0), 1e-10);
  // Past the table the series takes over, half ln(2 pi) below ln 100!.
  EXPECT_EQ(SpecFunc_LogFactorial(100), SpecFunc_LogGammafunction(101.0));
  EXPECT_NEAR(SpecFunc_LogFactorial(100), std::lgamma(101.0) - halfLogTwoPi, 1e-8);
  EXPECT_NEAR(SpecFunc_LogBinomialCoef(5, 2), std::log(10.0), 1e-13);
  EXPECT_NEAR(SpecFunc_LogBinomialCoef(7, 0), 0.0, 1e-13);
}

}  // namespace
