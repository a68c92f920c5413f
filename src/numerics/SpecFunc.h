// SpecFunc: the special functions the densities and the logical-node
// evaluator need.
#pragma once

void InitSpecFunc();
// ln Phi(-|x|): the log of the standard normal tail beyond |x| (for x <= 0
// this is ln Phi(x)).
double SpecFunc_LogPhi(double x);
// ln Gamma(x) - 0.5 ln(2 pi), for x > 0 (the constant is left out).
double SpecFunc_LogGammafunction(double x);
// ln Gamma(x) itself, for x > 0: what the loggam and logfact functions of a
// model show the user.
double SpecFunc_LogGamma(double x);
// ln B(a, b), through SpecFunc_LogGammafunction.
double SpecFunc_LogBetafunction(double a, double b);
// ln n! for every n >= 0: from a table for n <= 99, beyond it from an
// accurate ln Gamma(n + 1), so that both ranges give the same function.
double SpecFunc_LogFactorial(int n);
// ln C(n, k) for 0 <= k <= n.
double SpecFunc_LogBinomialCoef(int n, int k);

// ln Gamma(x) and ln B(a, b) to within a few units in the last place, for
// the incomplete functions below and for whatever needs an exact normaliser.
double SpecFunc_LogGammaExact(double x);
double SpecFunc_LogBetaExact(double a, double b);

// Logarithms of the regularised incomplete gamma function P(a, x) (the
// distribution function of a gamma(a, 1) variate at x) and of its
// complement Q(a, x) = 1 - P(a, x), for a > 0. Each is computed in log scale
// directly, so that a far tail (ln Q of -700 and beyond) keeps its digits.
// x <= 0 gives ln P = -inf, ln Q = 0; x = inf the reverse. NaN for a <= 0.
double SpecFunc_LogGammaP(double a, double x);
double SpecFunc_LogGammaQ(double a, double x);

// Logarithms of the regularised incomplete beta function I_x(a, b) (the
// distribution function of a beta(a, b) variate at x) and of its complement
// 1 - I_x(a, b), for a, b > 0, likewise in log scale. x <= 0 gives
// ln P = -inf, ln Q = 0; x >= 1 the reverse. NaN for a or b not positive.
double SpecFunc_LogBetaP(double a, double b, double x);
double SpecFunc_LogBetaQ(double a, double b, double x);
