// Sample moments of draws, with their standard errors, for tests that check
// a sampler against exact moments. Independent draws take their errors from
// the sample's own fourth moment; the draws of a chain, which are
// correlated, from batch means.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace test {

struct Moments {
  double mean = 0.0, variance = 0.0;  // variance with divisor n
  double seMean = 0.0, seVariance = 0.0;
};

inline Moments IndependentMoments(const std::vector<double>& x) {
  const double n = static_cast<double>(x.size());
  long double sum = 0.0L;
  for (double v : x) sum += v;
  const double m = static_cast<double>(sum / n);
  long double s2 = 0.0L, s4 = 0.0L;
  for (double v : x) {
    const long double d = (v - m) * (v - m);
    s2 += d;
    s4 += d * d;
  }
  Moments r;
  r.mean = m;
  r.variance = static_cast<double>(s2 / n);
  r.seMean = std::sqrt(r.variance / n);
  r.seVariance = std::sqrt(std::fabs(static_cast<double>(s4 / n) - r.variance * r.variance) / n);
  return r;
}

// Batch means over `batches` equal batches of the last batches * floor(n / batches) draws.
inline Moments BatchMoments(const std::vector<double>& x, int batches = 50) {
  const size_t len = x.size() / static_cast<size_t>(batches);
  const size_t start = x.size() - len * static_cast<size_t>(batches);
  const double n = static_cast<double>(len * static_cast<size_t>(batches));
  long double sum = 0.0L;
  for (size_t i = start; i < x.size(); ++i) sum += x[i];
  Moments r;
  r.mean = static_cast<double>(sum / n);
  long double sq = 0.0L;
  for (size_t i = start; i < x.size(); ++i) sq += (x[i] - r.mean) * (x[i] - r.mean);
  r.variance = static_cast<double>(sq / n);
  long double ssMean = 0.0L, ssVar = 0.0L;
  for (int b = 0; b < batches; ++b) {
    long double bm = 0.0L, bv = 0.0L;
    for (size_t i = 0; i < len; ++i) {
      const double v = x[start + static_cast<size_t>(b) * len + i];
      bm += v;
      bv += (v - r.mean) * (v - r.mean);
    }
    bm /= static_cast<long double>(len);
    bv /= static_cast<long double>(len);
    ssMean += (bm - r.mean) * (bm - r.mean);
    ssVar += (bv - r.variance) * (bv - r.variance);
  }
  const double b = batches;
  r.seMean = std::sqrt(static_cast<double>(ssMean) / (b - 1.0) / b);
  r.seVariance = std::sqrt(static_cast<double>(ssVar) / (b - 1.0) / b);
  return r;
}

// The mean and variance within k standard errors of the exact ones.
inline void ExpectMoments(const Moments& s, double mean, double variance, double k, const std::string& what) {
  EXPECT_NEAR(s.mean, mean, k * s.seMean) << what << " mean";
  EXPECT_NEAR(s.variance, variance, k * s.seVariance) << what << " variance";
}

}  // namespace test
