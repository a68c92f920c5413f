#include "numerics/MatrixAl.h"

#include <cmath>
#include <limits>

namespace {

// Element (i, j) of a row-major matrix of order n.
inline double& At(double* A, int n, int i, int j) { return A[i * n + j]; }
inline double At(const double* A, int n, int i, int j) { return A[i * n + j]; }

}  // namespace

// Factored row by row. The diagonal of L is kept aside until the end so that
// the upper triangle, still holding A, can be read while the lower one fills.
// A pivot that is not positive (or not a number) means A is not positive
// definite; the factor would be meaningless, so the caller is told instead.
// An order beyond MatrixAl_maxOrder would not fit the scratch diagonal and is
// refused the same way.
bool MatrixAl_LUDecomp(double* A, int n) {
  if (n < 0 || n > MatrixAl_maxOrder) return false;
  double d[MatrixAl_maxOrder];
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      double sum = 0.0;
      for (int k = i - 1; k >= 0; --k) sum += At(A, n, i, k) * At(A, n, j, k);
      const double s = At(A, n, i, j) - sum;
      if (j == i) {
        if (!(s > 0.0)) return false;
        d[i] = std::sqrt(s);
      } else {
        At(A, n, j, i) = s / d[i];
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    At(A, n, i, i) = d[i];
    for (int k = n - 1; k > i; --k) At(A, n, i, k) = At(A, n, k, i);
  }
  return true;
}

void MatrixAl_FordwardSub(const double* A, double* b, int n) {
  for (int i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int k = i - 1; k >= 0; --k) sum += At(A, n, i, k) * b[k];
    b[i] = (b[i] - sum) / At(A, n, i, i);
  }
}

void MatrixAl_BackSub(const double* A, double* b, int n) {
  for (int i = n - 1; i >= 0; --i) {
    double sum = 0.0;
    for (int k = n - 1; k > i; --k) sum += At(A, n, i, k) * b[k];
    b[i] = (b[i] - sum) / At(A, n, i, i);
  }
}

// L^-1 is built column by column over L: column i only reads columns at or
// after it, which still hold L, and the finished part of column i itself.
bool MatrixAl_InvertMatrixULDecomp(double* A, int n) {
  if (!MatrixAl_LUDecomp(A, n)) return false;
  for (int i = 0; i < n; ++i) {
    At(A, n, i, i) = 1.0 / At(A, n, i, i);
    for (int j = i + 1; j < n; ++j) {
      double sum = 0.0;
      for (int k = i; k < j; ++k) sum += At(A, n, j, k) * At(A, n, k, i);
      At(A, n, j, i) = -sum / At(A, n, j, j);
    }
  }
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) At(A, n, i, j) = At(A, n, j, i);
  return true;
}

// Both products run in place: row i of U B needs only rows i and below of B,
// and column i of (U B) L only columns i and beyond.
void MatrixAl_SimilarityTransform(const double* A, double* B, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double sum = 0.0;
      for (int k = i; k < n; ++k) sum += At(A, n, i, k) * At(B, n, k, j);
      At(B, n, i, j) = sum;
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double sum = 0.0;
      for (int k = i; k < n; ++k) sum += At(B, n, j, k) * At(A, n, k, i);
      At(B, n, j, i) = sum;
    }
}

double MatrixAl_LogDeterminant(double* A, int n) {
  if (!MatrixAl_LUDecomp(A, n)) return std::numeric_limits<double>::quiet_NaN();
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += std::log(std::fabs(At(A, n, i, i)));
  return 2.0 * sum;
}
