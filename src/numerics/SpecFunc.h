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
// ln n! from a table for n <= 99, else SpecFunc_LogGammafunction(n + 1).
double SpecFunc_LogFactorial(int n);
// ln C(n, k) for 0 <= k <= n.
double SpecFunc_LogBinomialCoef(int n, int k);
