#include "sampling/Maximize.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

int evaluations = 0;
double Parabola(double x) {
  ++evaluations;
  return -(x - 7.0) * (x - 7.0);
}

// Bracketing stops at once when the middle is highest, walks uphill by
// golden steps either way otherwise, and shows a spent budget as count 0.
TEST(MaximizeTest, BracketingWalksUphillByGoldenSteps) {
  double a = 0, b = 1, c = 2, fa = 1, fb = 2, fc = 1.5;
  int32_t count = 50;
  evaluations = 0;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(count, 50);
  EXPECT_EQ(evaluations, 0);
  fa = Parabola(0), fb = Parabola(1), fc = Parabola(2);
  evaluations = 0;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(evaluations, 50 - count);
  EXPECT_TRUE(a < 7.0 && c > 7.0 && fb >= fa && fb >= fc);
  EXPECT_NEAR(c - b, (b - a) * 1.618034, 1e-9);  // the last step was a golden expansion
  a = 20, b = 21, c = 22, fa = Parabola(20), fb = Parabola(21), fc = Parabola(22);
  count = 2;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(count, 0);
  EXPECT_LT(a, 20.0);
}

// Golden section narrows to the mode, swapping reversed ends, unless the
// budget runs out first.
TEST(MaximizeTest, GoldenSectionNarrowsToTheMode) {
  for (const auto& [lo, hi, budget] : {std::tuple{12.0, 0.0, 200}, {0.0, 12.0, 3}}) {
    double a = lo, b = 7.5, c = hi, fa = Parabola(lo), fb = Parabola(7.5), fc = Parabola(hi);
    int32_t count = budget;
    Maximize_LocateMode(a, b, c, fa, fb, fc, 1e-10, Parabola, count);
    EXPECT_LT(a, c);
    if (budget > 3) {
      EXPECT_GT(count, 0);
      EXPECT_NEAR(b, 7.0, 1e-4);
    } else {
      EXPECT_EQ(count, 0);
    }
  }
}

}  // namespace
