// RandNum: the single source of randomness. One uniform stream (the minimal
// standard multiplicative congruential generator, its outputs passed through
// a 1000-slot shuffle table) and, drawn from it, one variate generator per
// distribution the samplers need. Every variate is returned as a double, the
// discrete ones included (a count of three is 3.0).
//
// Nothing here checks its parameters beyond what keeps the state sound:
// callers pass probabilities in [0, 1] and positive rates, shapes and
// precisions. Matrices are flat row-major arrays (element (i, j) at i * n + j);
// arrays come as spans carrying their capacity, of which the first n (or
// n * n) elements are used.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// One stream's whole state. Each chain of the sampler has its own; the
// generators draw from the stream bound to the calling thread.
constexpr int RandNum_tableSize = 1000;
struct RandNum_Stream {
  int32_t seed = 0;
  std::array<int32_t, RandNum_tableSize> table{};
  bool normalWaiting = false;  // the second deviate of the last pair is still to be given
  double normal2 = 0.0;
};
extern thread_local constinit RandNum_Stream* RandNum_stream;
void RandNum_Bind(RandNum_Stream* stream);

// Start-up state: seed 314159, no waiting normal deviate, and the shuffle
// table filled with the 1000 outputs that follow, slot 0 first. The seed is
// then the 1000th of those outputs.
void RandNum_Start(RandNum_Stream& stream);
// The same from another seed (1 .. 2147483646): no waiting deviate, the
// table filled with the 1000 outputs that follow seed.
void RandNum_StartFrom(RandNum_Stream& stream, int32_t seed);
// The seed of the k-th of several streams of a run whose seed is seed: seed
// itself for k = 1, for every other k a value in 1 .. 2147483646 fixed by
// the pair alone, so a run repeated with the same seed repeats every stream.
// A seed outside 1 .. 2147483646, which the generator refuses, counts as
// the start-up seed.
int32_t RandNum_StreamSeed(int32_t seed, int32_t k);
// Puts the bound stream in its start-up state.
void InitRandNum();

// Sets the seed and nothing else (the shuffle table and any waiting normal
// deviate stay as they are). A seed outside 1 .. 2147483646 would stall or
// break the generator: it is refused with false and the seed is left alone.
bool RandNum_SetSeed(int32_t seed);
int32_t RandNum_GetSeed();

// The uniform stream: strictly between 0 and 1, never either end.
double RandNum_Rand();

double RandNum_Bernoulli(double p);
// Always strictly inside (0, 1) for positive shapes: a draw that rounds to
// 0 or 1 in double (small shapes) becomes the nearest double inside, the
// least positive one or 1 - 2^-53.
double RandNum_Beta(double a, double b);
// N = n + 0.00001 truncated (at most 2147483647) trials, each a success
// with probability p; N = 0 draws nothing. Up to 100 trials the successes
// are counted among N uniforms; above, a draw takes a few uniforms
// whatever N.
double RandNum_Binomial(double p, double n);
double RandNum_DoubleExp(double mu, double tau);
double RandNum_Exponential(double lambda);
double RandNum_Fdist(double n, double m);
// Shape a, rate 1. A shape that is not positive and finite has no law: NaN,
// drawing nothing.
double RandNum_Gamma1(double a);
// Shape r, rate mu.
double RandNum_Gamma(double r, double mu);
// A gamma(r, mu) or beta(a, b) variate restricted to [lower, upper]; either
// bound may be infinite, and the support cuts them. When the bounds hold
// probability 0.1 or more this is the unbounded draw repeated until it
// falls within them (the same uniforms as that loop); below, one uniform
// inverts the distribution function in log scale, so that bounds far out
// in a tail (a probability of e^-700 and less) cost no more. Not a number
// when the bounds hold no probability at all or a parameter is out of range.
constexpr double RandNum_rejectionMass = 0.1;
double RandNum_TruncatedGamma(double r, double mu, double lower, double upper);
double RandNum_TruncatedBeta(double a, double b, double lower, double upper);
// The number of trials up to and including the first success: 1, 2, ...
// (at most 2147483647).
double RandNum_Geometric(double p);
// Location a, rate b: distribution function exp(-exp(-b (x - a))).
double RandNum_Gumbel(double a, double b);
// A Gumbel(a, b) variate conditioned to exceed c; one uniform per call.
double RandNum_GumbelRightTail(double a, double b, double c);
double RandNum_Logistic(double mu, double tau);
// exp(z / sqrt(tau) + mu) with z standard normal.
double RandNum_LogNormal(double mu, double tau);
// The number of failures before the r-th success, as a gamma mixture of
// Poisson variates: mean r (1 - p) / p.
double RandNum_NegativeBinomial(double p, double r);
// Mean mu, precision tau.
double RandNum_Normal(double mu, double tau);
double RandNum_Pareto(double alpha, double c);
// A mean above 2147483647 (the largest count) gives 2147483647; NaN gives
// NaN. Neither draws anything. Up to a mean of 100 the multiplicative
// method (about lambda uniforms); above, a few uniforms whatever the mean.
double RandNum_Poisson(double lambda);
// Density a x^(a - 1) on (0, 1).
double RandNum_Power(double a);
double RandNum_StandardNormal();
// Beyond a: above a when a >= 0, below a when a < 0.
double RandNum_StandardNormalTail(double a);
double RandNum_Uniform(double a, double b);
// Shape v, rate lambda: distribution function 1 - exp(-lambda x^v).
double RandNum_Weibull(double v, double lambda);
// A Weibull(v, lambda) variate conditioned to exceed c >= 0.
double RandNum_WeibullTail(double v, double lambda, double c);

// P(k) proportional to k^(-a) on k = 1, 2, ... for a > 1; NaN, drawing
// nothing, for any other a.
double RandNum_Zipf(double a);

// The generators below fill an output array. Each returns false, drawing
// nothing and leaving the output as it was, when n is negative or its
// elements do not fit the spans given; the matrix ones also when n exceeds
// MatrixAl_maxOrder or their input is unusable (see each).

// x[i] = alpha[i]-shaped gamma variates, each divided by their sum.
[[nodiscard]] bool RandNum_Direchlet(std::span<const double> alpha, std::span<double> x, int n);
// Counts of N (truncated as in RandNum_Binomial) spread over n cells with
// probabilities p, which are taken to sum to 1.
[[nodiscard]] bool RandNum_Multinomial(std::span<const double> p, std::span<double> x, double N,
                                       int n);
// Mean mu and covariance (U' U)^-1: U is the upper-triangular factor of the
// precision matrix as MatrixAl_LUDecomp leaves it (only U[i * n + j], j >= i,
// is read). False when a diagonal element of U is not positive, that is when
// the precision was not positive definite.
[[nodiscard]] bool RandNum_MNormal(std::span<const double> mu, std::span<const double> U,
                                   std::span<double> x, int n);
// W = R S R', S standard Wishart with k degrees of freedom, so that the mean
// is k R R'. R is a factored matrix as MatrixAl_LUDecomp or
// MatrixAl_InvertMatrixULDecomp leaves it (R upper, its transpose lower);
// with the factored inverse of A the mean is k A^-1. False when a diagonal
// element of R is not positive or k is not a finite number above n - 1
// (fewer degrees of freedom have no law).
[[nodiscard]] bool RandNum_Wishart(std::span<const double> R, std::span<double> W, double k, int n);
