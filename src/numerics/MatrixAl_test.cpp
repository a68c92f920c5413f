#include "numerics/MatrixAl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A^-1 through the factored inverse and a similarity transform of I.
std::vector<double> Inverse(std::vector<double> a, int n) {
  EXPECT_TRUE(MatrixAl_InvertMatrixULDecomp(a.data(), n));
  std::vector<double> b(n * n, 0.0);
  for (int i = 0; i < n; ++i) b[i * n + i] = 1.0;
  MatrixAl_SimilarityTransform(a.data(), b.data(), n);
  return b;
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-14) << i;
}

const std::vector<double> a3 = {4, 2, 0, 2, 5, 1, 0, 1, 3};  // det 44

TEST(MatrixAlTest, OrderOne) {
  double a = 9.0;
  ASSERT_TRUE(MatrixAl_LUDecomp(&a, 1));
  EXPECT_EQ(a, 3.0);
  a = 9.0;
  ASSERT_TRUE(MatrixAl_InvertMatrixULDecomp(&a, 1));
  EXPECT_DOUBLE_EQ(a, 1.0 / 3.0);
  a = 9.0;
  EXPECT_DOUBLE_EQ(MatrixAl_LogDeterminant(&a, 1), std::log(9.0));
}

TEST(MatrixAlTest, FactorKeepsLBelowAndItsTransposeAbove) {
  std::vector<double> a = {4, 2, 2, 3};
  ASSERT_TRUE(MatrixAl_LUDecomp(a.data(), 2));
  ExpectNear(a, {2, 1, 1, std::sqrt(2.0)});
  a = {4, 2, 2, 3};
  EXPECT_NEAR(MatrixAl_LogDeterminant(a.data(), 2), std::log(8.0), 1e-14);
  a = a3;
  EXPECT_NEAR(MatrixAl_LogDeterminant(a.data(), 3), std::log(44.0), 1e-14);
}

TEST(MatrixAlTest, InverseFromTheFactoredInverse) {
  ExpectNear(Inverse({4, 2, 2, 3}, 2), {3.0 / 8, -2.0 / 8, -2.0 / 8, 4.0 / 8});
  std::vector<double> want = {14, -6, 2, -6, 12, -4, 2, -4, 16};
  for (double& w : want) w /= 44.0;
  ExpectNear(Inverse(a3, 3), want);
}

TEST(MatrixAlTest, SubstitutionsSolveThroughTheFactor) {
  std::vector<double> a = a3, b = {0, -5, 7};  // A (1, -2, 3)
  ASSERT_TRUE(MatrixAl_LUDecomp(a.data(), 3));
  MatrixAl_FordwardSub(a.data(), b.data(), 3);
  MatrixAl_BackSub(a.data(), b.data(), 3);
  ExpectNear(b, {1, -2, 3});
}

TEST(MatrixAlTest, RefusesMatricesThatAreNotPositiveDefinite) {
  std::vector<double> a = {1, 2, 2, 1};
  EXPECT_FALSE(MatrixAl_LUDecomp(a.data(), 2));
  a = {1, 2, 2, 1};
  EXPECT_FALSE(MatrixAl_InvertMatrixULDecomp(a.data(), 2));
  a = {1, 1, 1, 1};  // singular: a zero pivot
  EXPECT_TRUE(std::isnan(MatrixAl_LogDeterminant(a.data(), 2)));
  double zero = 0.0;
  EXPECT_FALSE(MatrixAl_LUDecomp(&zero, 1));
  std::vector<double> big((MatrixAl_maxOrder + 1) * (MatrixAl_maxOrder + 1), 0.0);
  for (int i = 0; i <= MatrixAl_maxOrder; ++i) big[i * (MatrixAl_maxOrder + 1) + i] = 1.0;
  EXPECT_FALSE(MatrixAl_LUDecomp(big.data(), MatrixAl_maxOrder + 1));
}

}  // namespace
