#include "output/Converge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using Trace = std::vector<double>;
using Chains = std::vector<Trace>;

Converge_Summary Summarise(const Chains& chains) {
  std::vector<std::span<const double>> spans(chains.begin(), chains.end());
  return Converge_Summarise(spans);
}

// A plain reference of the same figures: direct sums instead of transforms,
// ranks by counting, normal quantiles by bisection, and the monotone
// sequence as a running minimum of pair sums. Quadratic, so only for short
// traces.

struct Ref {
  Chains cols;  // the split chains
  size_t n() const { return cols.front().size(); }
};

Ref RefSplit(const Chains& chains) {
  Ref r;
  for (const Trace& c : chains) {
    const size_t h = c.size() / 2;
    r.cols.emplace_back(c.begin(), c.begin() + static_cast<long>(h));
    r.cols.emplace_back(c.end() - static_cast<long>(h), c.end());
  }
  return r;
}

double RefMean(const Trace& x) {
  double s = 0;
  for (double v : x) s += v;
  return s / static_cast<double>(x.size());
}

double RefVar(const Trace& x) {
  const double m = RefMean(x);
  double s = 0;
  for (double v : x) s += (v - m) * (v - m);
  return s / static_cast<double>(x.size() - 1);
}

Trace RefPool(const Chains& c) {
  Trace all;
  for (const Trace& t : c) all.insert(all.end(), t.begin(), t.end());
  return all;
}

double RefPhiInverse(double p) {
  double lo = -40, hi = 40;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

Ref RefRankNormal(const Ref& r) {
  const Trace all = RefPool(r.cols);
  const double s = static_cast<double>(all.size());
  Ref z = r;
  for (Trace& col : z.cols) {
    for (double& v : col) {
      double less = 0, same = 0;
      for (double w : all) {
        less += w < v;
        same += w == v;
      }
      const double rank = less + (same + 1) / 2;
      v = RefPhiInverse((rank - 0.375) / (s + 0.25));
    }
  }
  return z;
}

double RefQuantile(Trace v, double p) {
  std::sort(v.begin(), v.end());
  const double h = (static_cast<double>(v.size()) - 1) * p;
  const double lo = std::floor(h);
  const size_t i = static_cast<size_t>(lo);
  return i + 1 < v.size() ? v[i] * (1 - (h - lo)) + v[i + 1] * (h - lo) : v.back();
}

double RefRHat(const Ref& r) {
  const double n = static_cast<double>(r.n());
  Trace means;
  double w = 0;
  for (const Trace& c : r.cols) {
    means.push_back(RefMean(c));
    w += RefVar(c);
  }
  w /= static_cast<double>(r.cols.size());
  const double b = n * RefVar(means);
  return std::sqrt(((n - 1) / n * w + b / n) / w);
}

double RefEss(const Ref& r) {
  const size_t n = r.n();
  const double m = static_cast<double>(r.cols.size());
  Trace means;
  for (const Trace& c : r.cols) means.push_back(RefMean(c));
  double w = 0;
  for (const Trace& c : r.cols) w += RefVar(c);
  w /= m;
  const double varPlus = (n - 1.0) / n * w + RefVar(means);
  auto rho = [&](size_t t) {
    if (t == 0) return 1.0;
    double acov = 0;
    for (size_t c = 0; c < r.cols.size(); ++c)
      for (size_t i = 0; i + t < n; ++i) acov += (r.cols[c][i] - means[c]) * (r.cols[c][i + t] - means[c]);
    acov /= m * static_cast<double>(n);
    return 1 - (w - acov) / varPlus;
  };
  // The first even lag whose pair sum is not positive, or where the traces
  // run out.
  size_t maxT = 0;
  while (maxT + 5 < n && rho(maxT) + rho(maxT + 1) > 0) maxT += 2;
  double sum = 0, previous = std::numeric_limits<double>::infinity();
  for (size_t t = 0; t < maxT; t += 2) {
    previous = std::min(previous, rho(t) + rho(t + 1));
    sum += previous;
  }
  const double even = rho(maxT);
  const double last = maxT == 0 || even + rho(maxT + 1) >= 0 || even > 0 ? even : 0.0;
  const double s = m * static_cast<double>(n);
  return s / std::max(-1 + 2 * sum + last, 1 / std::log10(s));
}

Converge_Summary Reference(const Chains& chains) {
  const Trace all = RefPool(chains);
  const Ref split = RefSplit(chains);
  const double median = RefQuantile(all, 0.5);
  Ref folded = split;
  for (Trace& c : folded.cols)
    for (double& v : c) v = std::fabs(v - median);
  auto indicator = [&](double q) {
    Ref i = split;
    for (Trace& c : i.cols)
      for (double& v : c) v = v <= q;
    return RefEss(i);
  };
  const Ref z = RefRankNormal(split);
  return {std::max(RefRHat(z), RefRHat(RefRankNormal(folded))), RefEss(z),
          std::min(indicator(RefQuantile(all, 0.05)), indicator(RefQuantile(all, 0.95))),
          std::sqrt(RefVar(all) / RefEss(split)), all.size()};
}

// An AR(1) trace x[i] = mu + phi (x[i-1] - mu) + e[i], e standard normal,
// started from its stationary distribution.
Trace Ar1(double phi, size_t n, uint64_t seed, double mu = 0, double scale = 1) {
  std::mt19937_64 g(seed);
  std::normal_distribution<double> e(0, 1);
  Trace x(n);
  double v = e(g) / std::sqrt(1 - phi * phi);
  for (size_t i = 0; i < n; ++i) {
    x[i] = mu + scale * v;
    v = phi * v + e(g);
  }
  return x;
}

TEST(ConvergeTest, AgreesWithThePlainReference) {
  struct Case {
    const char* what;
    Chains chains;
  };
  Trace drifting = Ar1(0.6, 301, 7);
  for (size_t i = 0; i < drifting.size(); ++i) drifting[i] += 0.01 * static_cast<double>(i);
  Trace counts;
  std::mt19937_64 g(3);
  std::poisson_distribution<int> pois(2.0);
  for (int i = 0; i < 400; ++i) counts.push_back(pois(g));
  const Case cases[] = {
      {"one iid chain", {Ar1(0, 400, 1)}},
      {"one sticky chain", {Ar1(0.95, 500, 2)}},
      {"one antithetic chain", {Ar1(-0.7, 300, 3)}},
      {"one drifting chain of odd length", {drifting}},
      {"three chains, one shifted", {Ar1(0.5, 200, 4), Ar1(0.5, 200, 5), Ar1(0.5, 200, 6, 1.5)}},
      {"two chains of different spread", {Ar1(0.2, 250, 8), Ar1(0.2, 250, 9, 0, 4)}},
      {"counts with many ties", {counts}},
      {"shortest chains computed", {Ar1(0.3, 12, 10), Ar1(0.3, 13, 11)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Converge_Summary got = Summarise(c.chains);
    // The reference has no cutting of unequal chains.
    Chains equal = c.chains;
    size_t length = equal.front().size();
    for (const Trace& t : equal) length = std::min(length, t.size());
    for (Trace& t : equal) t.resize(length);
    const Converge_Summary want = Reference(equal);
    EXPECT_NEAR(got.rHat, want.rHat, 1e-9 * want.rHat);
    EXPECT_NEAR(got.bulkEss, want.bulkEss, 1e-8 * want.bulkEss);
    EXPECT_NEAR(got.tailEss, want.tailEss, 1e-8 * want.tailEss);
    EXPECT_NEAR(got.mcseMean, want.mcseMean, 1e-9 * want.mcseMean);
    EXPECT_EQ(got.draws, want.draws);
  }
}

// An AR(1) of coefficient phi has ESS n (1 - phi) / (1 + phi), and its
// mean's standard error is sd / sqrt(that). Averaged over replicates so that
// the estimate's own scatter (a few per cent per trace here) shrinks.
TEST(ConvergeTest, EffectiveSizeOfAutoregressionsMatchesTheirKnownValue) {
  const size_t n = 20000;
  const int replicates = 8;
  for (double phi : {0.0, 0.5, 0.9, -0.4}) {
    SCOPED_TRACE(phi);
    const double ess = static_cast<double>(n) * (1 - phi) / (1 + phi);
    const double mcse = std::sqrt(1 / (1 - phi * phi) / ess);
    double bulk = 0, tail = 0, se = 0;
    for (int r = 0; r < replicates; ++r) {
      const Converge_Summary s = Summarise({Ar1(phi, n, 100 + static_cast<uint64_t>(r))});
      bulk += s.bulkEss / replicates;
      tail += s.tailEss / replicates;
      se += s.mcseMean / replicates;
      EXPECT_LT(s.rHat, 1.01);
    }
    // The truncated sum runs a per cent or two low at phi = 0.9.
    EXPECT_NEAR(bulk / ess, 1.0, 0.08);
    EXPECT_NEAR(se / mcse, 1.0, 0.06);
    // Indicators of far quantiles forget faster than the draws do, so the
    // tail size may pass the bulk size; it stays of the same order.
    EXPECT_GT(tail, 0.3 * bulk);
    EXPECT_LT(tail, 3.0 * bulk);
  }
}

TEST(ConvergeTest, ChainsThatDisagreeGiveRHatAboveOnePointOne) {
  struct Case {
    const char* what;
    Chains chains;
  };
  Trace jump = Ar1(0.3, 1000, 31);
  for (size_t i = 500; i < 1000; ++i) jump[i] += 1.5;
  const Case cases[] = {
      {"one chain's mean shifted", {Ar1(0.3, 1000, 32), Ar1(0.3, 1000, 33), Ar1(0.3, 1000, 34, 1.0)}},
      {"one chain whose halves differ", {jump}},
      // Equal means: only the folded draws see the difference.
      {"equal means, spreads 1 and 3", {Ar1(0.3, 1000, 35), Ar1(0.3, 1000, 36, 0, 3)}},
      {"one chain stuck on 0, one on 1", {Trace(100, 0.0), Trace(100, 1.0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_GT(Summarise(c.chains).rHat, 1.1);
  }
}

TEST(ConvergeTest, RankBasedFiguresIgnoreAMonotoneTransform) {
  const Chains chains{Ar1(0.7, 600, 41), Ar1(0.7, 600, 42, 0.3)};
  Chains exped = chains;
  for (Trace& t : exped)
    for (double& v : t) v = std::exp(3 * v);
  const Converge_Summary a = Summarise(chains), b = Summarise(exped);
  EXPECT_NEAR(a.rHat, b.rHat, 1e-12);
  EXPECT_NEAR(a.bulkEss, b.bulkEss, 1e-9 * a.bulkEss);
  EXPECT_NEAR(a.tailEss, b.tailEss, 1e-9 * a.tailEss);
}

TEST(ConvergeTest, UndefinedFiguresAreNaN) {
  struct Case {
    const char* what;
    Chains chains;
    bool rHat, ess, mcse;  // which figures are defined
  };
  Trace withInf = Ar1(0, 50, 51);
  withInf[20] = std::numeric_limits<double>::infinity();
  Trace alternating;
  for (int i = 0; i < 100; ++i) alternating.push_back(i % 2 ? 1.0 : -1.0);
  const Case cases[] = {
      {"constant trace", {Trace(100, 2.5)}, false, false, true},
      {"constant chains agreeing", {Trace(50, 1.0), Trace(50, 1.0)}, false, false, true},
      {"eleven draws", {Ar1(0, Converge_minimumLength - 1, 52)}, false, false, false},
      {"twelve draws", {Ar1(0, Converge_minimumLength, 53)}, true, true, true},
      {"one chain too short", {Ar1(0, 100, 54), Ar1(0, 11, 55)}, false, false, false},
      {"an infinite draw", {withInf}, false, false, false},
      {"two values alternating", {alternating}, true, true, true},
      {"no chains", {}, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Converge_Summary s = Summarise(c.chains);
    EXPECT_EQ(std::isnan(s.rHat), !c.rHat);
    EXPECT_EQ(std::isnan(s.bulkEss), !c.ess);
    EXPECT_EQ(std::isnan(s.tailEss), !c.ess);
    EXPECT_EQ(std::isnan(s.mcseMean), !c.mcse);
  }
  EXPECT_EQ(Summarise({Trace(100, 2.5)}).mcseMean, 0.0);
  // Lag 1 already cancels lag 0: the sum is empty and only the bound on
  // antithetic traces, S log10 S, remains.
  EXPECT_DOUBLE_EQ(Summarise({alternating}).bulkEss, 200.0);
}

TEST(ConvergeTest, UnequalChainsAreCutToTheShortest) {
  const Trace a = Ar1(0.4, 150, 71), b = Ar1(0.4, 200, 72);
  const Trace bCut(b.begin(), b.begin() + 150);
  const Converge_Summary x = Summarise({a, b}), y = Summarise({a, bCut});
  EXPECT_EQ(x.rHat, y.rHat);
  EXPECT_EQ(x.bulkEss, y.bulkEss);
  EXPECT_EQ(x.draws, 300u);
}

}  // namespace
