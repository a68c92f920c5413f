#include "sampling/Maximize.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

int evaluations = 0;
double Parabola(double x) {
  ++evaluations;
  return -(x - 7.0) * (x - 7.0);
}

TEST(MaximizeTest, BracketingStopsAtOnceWhenTheMiddleIsHighest) {
  double a = 0, b = 1, c = 2, fa = 1, fb = 2, fc = 1.5;
  int32_t count = 50;
  evaluations = 0;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(count, 50);
  EXPECT_EQ(evaluations, 0);
}

TEST(MaximizeTest, BracketingWalksUphillByGoldenSteps) {
  double a = 0, b = 1, c = 2, fa = Parabola(0), fb = Parabola(1), fc = Parabola(2);
  int32_t count = 50;
  evaluations = 0;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(evaluations, 50 - count);
  EXPECT_LT(a, 7.0);
  EXPECT_GT(c, 7.0);
  EXPECT_GE(fb, fa);
  EXPECT_GE(fb, fc);
  EXPECT_NEAR(c - b, (b - a) * 1.618034, 1e-9);  // the last step was a golden expansion

  // To the left as well, and a spent budget shows as count 0.
  a = 20, b = 21, c = 22, fa = Parabola(20), fb = Parabola(21), fc = Parabola(22);
  count = 2;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(count, 0);
  EXPECT_LT(a, 20.0);
}

TEST(MaximizeTest, GoldenSectionNarrowsToTheModeAndSwapsReversedEnds) {
  double a = 12, b = 7.5, c = 0, fa = Parabola(12), fb = Parabola(7.5), fc = Parabola(0);
  int32_t count = 200;
  Maximize_LocateMode(a, b, c, fa, fb, fc, 1e-10, Parabola, count);
  EXPECT_LT(a, c);
  EXPECT_GT(count, 0);
  EXPECT_NEAR(b, 7.0, 1e-4);

  a = 0, b = 7.5, c = 12, fa = Parabola(0), fb = Parabola(7.5), fc = Parabola(12);
  count = 3;
  Maximize_LocateMode(a, b, c, fa, fb, fc, 1e-10, Parabola, count);
  EXPECT_EQ(count, 0);  // not converged within the budget
}

}  // namespace
