#include "numerics/MatrixAl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-14) << i;
}

// The factor keeps L below the diagonal, its transpose above. (Order 3: the code generation test's inverse and
// logdet, the normal draws; the substitutions: the conjugate block means and the regression example.)
TEST(MatrixAlTest, FactorDeterminantInverseAndRefusals) {
  const struct { int n; std::vector<double> a, factor, inverse; double det; } cases[] = {
      {1, {9}, {3}, {1.0 / 9}, 9.0},
      {2, {4, 2, 2, 3}, {2, 1, 1, std::sqrt(2.0)}, {3.0 / 8, -2.0 / 8, -2.0 / 8, 4.0 / 8}, 8.0},
  };
  for (const auto& c : cases) {
    std::vector<double> a = c.a, d = c.a, b(c.n * c.n, 0.0);
    ASSERT_TRUE(MatrixAl_LUDecomp(a.data(), c.n));
    ExpectNear(a, c.factor);
    EXPECT_NEAR(MatrixAl_LogDeterminant(d.data(), c.n), std::log(c.det), 1e-14) << c.n;
    a = c.a;
    ASSERT_TRUE(MatrixAl_InvertMatrixULDecomp(a.data(), c.n));
    for (int i = 0; i < c.n; ++i) b[i * c.n + i] = 1.0;
    MatrixAl_SimilarityTransform(a.data(), b.data(), c.n);
    ExpectNear(b, c.inverse);
  }
  // Matrices that are not positive definite, or too big, are refused.
  std::vector<double> np = {1, 2, 2, 1}, npb = np, singular = {1, 1, 1, 1}, big(26 * 26, 0.0);
  double zero = 0.0;
  for (int i = 0; i < 26; ++i) big[i * 26 + i] = 1.0;
  EXPECT_FALSE(MatrixAl_LUDecomp(np.data(), 2) || MatrixAl_InvertMatrixULDecomp(npb.data(), 2) || MatrixAl_LUDecomp(&zero, 1));
  EXPECT_TRUE(std::isnan(MatrixAl_LogDeterminant(singular.data(), 2)));  // a zero pivot
  EXPECT_FALSE(MatrixAl_LUDecomp(big.data(), MatrixAl_maxOrder + 1));
}

}  // namespace
