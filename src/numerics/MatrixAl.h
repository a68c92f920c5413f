// MatrixAl: dense symmetric positive-definite matrices through their
// Cholesky factor. A matrix of order n is a flat row-major array of at least
// n * n reals; every operation works in place.
#pragma once

constexpr int MatrixAl_maxOrder = 25;  // the largest matrix any operation takes

// Replaces A by its factored form: L (A = L L') in the lower triangle and
// diagonal, L' in the upper triangle and diagonal. False, leaving A
// undefined, when A is not positive definite.
bool MatrixAl_LUDecomp(double* A, int n);
// With A factored: solves L y = b in place.
void MatrixAl_FordwardSub(const double* A, double* b, int n);
// With A factored: solves L' x = b in place.
void MatrixAl_BackSub(const double* A, double* b, int n);
// Replaces A by the factored form of its inverse: L^-1 below and on the
// diagonal, its transpose above, so that A^-1 = U L. False when A is not
// positive definite.
bool MatrixAl_InvertMatrixULDecomp(double* A, int n);
// Replaces B by U B L, with U the upper and L the lower half of A (diagonals
// included).
void MatrixAl_SimilarityTransform(const double* A, double* B, int n);
// log det A, leaving A factored. NaN when A is not positive definite.
double MatrixAl_LogDeterminant(double* A, int n);
