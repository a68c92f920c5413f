// Blocks: which unknowns are grouped, and that each block's draws follow
// its exact full conditional: the closed-form bivariate normal for a linear
// block, a posterior found by quadrature on a grid for a generalised one.
#include "sampling/Blocks.h"

#include <cmath>
#include <string>
#include <vector>

#include "Methods.h"
#include "numerics/RandNum.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"

namespace {

class BlocksTest : public test::Methods {
 protected:
  // The record that draws the block the node belongs to.
  static Samplers_Sampler& BlockRecord(const Graph_Node* member) {
    const int32_t block = RecordOf(member).block;
    for (int32_t i = 0; i < Samplers_Count(); ++i) {
      Samplers_Sampler& s = Samplers_At(i);
      if (s.block == block && s.update != Blocks_Member) return s;
    }
    ADD_FAILURE() << "no block record";
    return Samplers_At(0);
  }
  // Draws of (a, b) from `draws` calls of the block's procedure alone, every
  // other unknown held where it is.
  static std::vector<std::array<double, 2>> Draw(Graph_Node* a, Graph_Node* b, int draws) {
    Samplers_Sampler& s = BlockRecord(a);
    std::vector<std::array<double, 2>> out;
    for (int i = 0; i < draws; ++i) {
      Samplers_StateOf(s).error = false;
      s.update(s);
      EXPECT_FALSE(Samplers_StateOf(s).error) << Samplers_part->failure;
      out.push_back({Graph_Own(a), Graph_Own(b)});
    }
    return out;
  }
};

struct Moments {
  double mean[2], var[2], cov;
};

Moments Of(const std::vector<std::array<double, 2>>& x) {
  Moments m{};
  const double n = static_cast<double>(x.size());
  for (const auto& v : x)
    for (int k = 0; k < 2; ++k) m.mean[k] += v[k] / n;
  for (const auto& v : x) {
    for (int k = 0; k < 2; ++k) m.var[k] += (v[k] - m.mean[k]) * (v[k] - m.mean[k]) / n;
    m.cov += (v[0] - m.mean[0]) * (v[1] - m.mean[1]) / n;
  }
  return m;
}

// The standard error of a mean from 40 batch means, for correlated draws.
double BatchError(const std::vector<std::array<double, 2>>& x, int k) {
  const size_t batches = 40, size = x.size() / batches;
  std::vector<double> means(batches, 0.0);
  for (size_t b = 0; b < batches; ++b)
    for (size_t i = 0; i < size; ++i) means[b] += x[b * size + i][k] / static_cast<double>(size);
  double mean = 0.0, var = 0.0;
  for (double v : means) mean += v / batches;
  for (double v : means) var += (v - mean) * (v - mean) / (batches - 1);
  return std::sqrt(var / batches);
}

std::vector<std::string> Names(int32_t block) {
  std::vector<std::string> names;
  for (const Graph_Node* m : Blocks_Members(block)) names.push_back(std::to_string(m->label));
  return names;
}

// ---- which blocks form

TEST_F(BlocksTest, CandidatesSharingTermsFormBlocksAndTheOthersKeepTheirMethods) {
  const std::string data = "list(x = c(90, 105, 120, 97), y = c(80, 90, 101, 84), r = c(0, 1, 1, 0))";
  const struct Case {
    const char* what;
    const char* body;
    int linear, generalised;
  } cases[] = {
      {"a regression", "for (i in 1:4) { mu[i] <- b1 + b2 * x[i] y[i] ~ dnorm(mu[i], tau) } b1 ~ dnorm(0, 1.0E-6) "
                       "b2 ~ dnorm(0, 1.0E-6) tau ~ dgamma(1, 1) c ~ dnorm(0, 1) d ~ dnorm(0, 1)", 1, 0},
      {"a logistic regression", "for (i in 1:4) { logit(p[i]) <- b1 + b2 * x[i] r[i] ~ dbern(p[i]) } "
                                "b1 ~ dnorm(0, 0.1) b2 ~ dnorm(0, 0.1) tau ~ dgamma(1, 1) c ~ dnorm(0, 1) "
                                "d ~ dnorm(0, 1)", 0, 1},
      {"two regressions", "for (i in 1:4) { mu[i] <- b1 + b2 * x[i] y[i] ~ dnorm(mu[i], tau) logit(p[i]) <- c + d * x[i] "
                          "r[i] ~ dbern(p[i]) } b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) "
                          "tau ~ dgamma(1, 1) c ~ dnorm(0, 1) d ~ dnorm(0, 1)", 1, 1},
      {"a mean not jointly linear", "for (i in 1:4) { mu[i] <- b1 * b2 * x[i] y[i] ~ dnorm(mu[i], tau) } b1 ~ dnorm(1, 1) "
                                    "b2 ~ dnorm(1, 1) tau ~ dgamma(1, 1) c ~ dnorm(0, 1) d ~ dnorm(0, 1)", 0, 0},
      {"a bounded coefficient", "for (i in 1:4) { mu[i] <- b1 + b2 * x[i] y[i] ~ dnorm(mu[i], tau) } b1 ~ dnorm(0, 1.0E-6) "
                                "b2 ~ dnorm(0, 1.0E-6) I(0, ) tau ~ dgamma(1, 1) c ~ dnorm(0, 1) "
                                "d ~ dnorm(0, 1)", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InitBlocks();
    Compile(std::string("var x[4], y[4], r[4], p[4], mu[4], b1, b2, tau, c, d;\n{ ") + c.body + " }", data,
            "list(b1 = 1, b2 = 0.5, tau = 1, c = 0.2, d = 0.1)", true);
    if (HasFatalFailure()) return;
    int linear = 0, generalised = 0;
    for (int32_t k = 0; k < Blocks_Count(); ++k) {
      (Blocks_KindOf(k) == Blocks_Kind::linear ? linear : generalised) += 1;
      EXPECT_EQ(Blocks_Members(k).size(), 2u) << testing::PrintToString(Names(k));
    }
    EXPECT_EQ(linear, c.linear);
    EXPECT_EQ(generalised, c.generalised);
    EXPECT_EQ(Says("Block of b1, b2 drawn jointly from its normal full conditional"), c.linear == 1);
    // A member of no block keeps the procedure it had alone.
    if (c.linear == 0 && c.generalised == 0) {
      EXPECT_LT(RecordOf(N("b1")).block, 0);
      EXPECT_NE(RecordOf(N("b1")).update, Blocks_Linear);
    }
  }
}

// Coefficients sharing their terms form a block up to the largest size; one
// more and the whole group keeps its single-node draws.
TEST_F(BlocksTest, AGroupLargerThanABlockIsNotFormed) {
  for (const int p : {Blocks_maxMembers, Blocks_maxMembers + 1}) {
    SCOPED_TRACE(p);
    InitBlocks();
    std::string X, priors;
    for (int i = 0; i < 3 * p; ++i) X += (i > 0 ? ", " : "") + std::to_string((i * 7) % 11 - 5);
    const std::string P = std::to_string(p);
    Compile("const P = " + P + ";\nvar X[3, P], y[3], mu[3], b[P];\n"
            "{ for (i in 1:3) { mu[i] <- inprod(b[], X[i, ]) y[i] ~ dnorm(mu[i], 1) }\n"
            "  for (j in 1:P) { b[j] ~ dnorm(0, 1) } }",
            "list(X = structure(.Data = c(" + X + "), .Dim = c(3, " + P + ")), y = c(1, 2, 3))", "", true);
    if (HasFatalFailure()) return;
    EXPECT_EQ(Blocks_Count(), p <= Blocks_maxMembers ? 1 : 0);
    EXPECT_EQ(RecordOf(N("b", p - 1)).update == GibbsSam_Normal, p > Blocks_maxMembers);
  }
}

// ---- the linear block against its closed form

TEST_F(BlocksTest, LinearBlockDrawsFromItsExactBivariateNormalFullConditional) {
  // x is far from 0, so the intercept and slope are strongly correlated.
  const std::vector<double> x = {88, 97, 104, 112, 121}, y = {61, 64, 70, 73, 79};
  const double tau = 0.05, c = 3.0;
  const struct Case {
    const char* what;
    const char* mean;    // of y[i]
    const char* prior2;  // of b2
    bool logScale;       // dlnorm terms, on ln y
    double offset;       // subtracted from each observation
    double coupling;     // b2's prior mean is coupling * b1
    const char* precision = "0.05";  // of y[i]; each is 0.05 at the starting values
  } cases[] = {
      {"plain", "b1 + b2 * x[i]", "dnorm(0, 0.5)", false, 0.0, 0.0},
      {"a prior mean on another member", "b1 + b2 * x[i]", "dnorm(m2, 0.5)", false, 0.0, 0.5},
      {"a mean holding an unknown outside the block", "b1 + b2 * x[i] + c", "dnorm(0, 0.5)", false, c, 0.0},
      {"log-normal terms", "b1 + b2 * x[i]", "dnorm(0, 0.5)", true, 0.0, 0.0},
      {"a precision of each term's own", "b1 + b2 * x[i]", "dnorm(0, 0.5)", false, 0.0, 0.0, "prec[i]"},
      {"a shared unknown precision", "b1 + b2 * x[i]", "dnorm(0, 0.5)", false, 0.0, 0.0, "tau"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    InitBlocks();
    // c has bounds: it joins no block and stays at its value here.
    // tau, a gamma node, likewise stays at its value.
    const std::string model =
        std::string("var x[5], y[5], mu[5], prec[5], b1, b2, m2, c, tau;\n{ for (i in 1:5) { mu[i] <- ") + k.mean +
        " prec[i] <- tau * x[i] / x[i] y[i] ~ " + (k.logScale ? "dlnorm" : "dnorm") + "(mu[i], " + k.precision +
        ") }\n m2 <- 0.5 * b1 b1 ~ dnorm(10, 0.01) b2 ~ " + k.prior2 + " c ~ dnorm(0, 1) I(-10, 10) tau ~ dgamma(1, 1) }";
    std::string ys;
    for (double v : y) ys += (ys.empty() ? "" : ", ") + std::to_string(k.logScale ? std::exp(v / 20.0) : v);
    Compile(model, "list(x = c(88, 97, 104, 112, 121), y = c(" + ys + "))", "list(b1 = 0, b2 = 0, c = 3, tau = 0.05)", true);
    if (HasFatalFailure()) return;
    ASSERT_EQ(Blocks_Count(), 1);
    // The precision Q and Q times the mean, h, of (b1, b2) given c.
    double Q[2][2] = {{0.01, 0.0}, {0.0, 0.5}}, h[2] = {0.1, 0.0};
    Q[0][0] += 0.5 * k.coupling * k.coupling;
    Q[0][1] -= 0.5 * k.coupling;
    Q[1][0] -= 0.5 * k.coupling;
    for (size_t i = 0; i < x.size(); ++i) {
      const double obs = (k.logScale ? y[i] / 20.0 : y[i]) - k.offset, g[2] = {1.0, x[i]};
      for (int r = 0; r < 2; ++r) {
        h[r] += tau * g[r] * obs;
        for (int s = 0; s < 2; ++s) Q[r][s] += tau * g[r] * g[s];
      }
    }
    const double det = Q[0][0] * Q[1][1] - Q[0][1] * Q[1][0];
    const double V[2][2] = {{Q[1][1] / det, -Q[0][1] / det}, {-Q[1][0] / det, Q[0][0] / det}};
    const double mean[2] = {V[0][0] * h[0] + V[0][1] * h[1], V[1][0] * h[0] + V[1][1] * h[1]};
    const int n = 20000;
    const Moments m = Of(Draw(N("b1"), N("b2"), n));
    for (int r = 0; r < 2; ++r) {
      EXPECT_NEAR(m.mean[r], mean[r], 4.5 * std::sqrt(V[r][r] / n)) << r;
      EXPECT_NEAR(m.var[r] / V[r][r], 1.0, 0.05) << r;
    }
    EXPECT_NEAR(m.cov / std::sqrt(m.var[0] * m.var[1]), V[0][1] / std::sqrt(V[0][0] * V[1][1]), 0.01);
    EXPECT_EQ(Graph_Own(N("c")), 3.0);
  }
}

// ---- the generalised block against quadrature

TEST_F(BlocksTest, GeneralisedBlockStepsKeepTheirPosteriorFoundByQuadrature) {
  const std::vector<double> x = {-1.2, -0.7, -0.3, 0.0, 0.2, 0.5, 0.9, 1.3, 1.6, 2.0};
  const std::vector<int> r = {0, 0, 1, 0, 1, 0, 1, 1, 1, 1}, k = {0, 1, 0, 2, 1, 3, 2, 4, 5, 7}, n = {3, 3, 4, 3, 5,
                                                                                                  4, 3, 5, 6, 8};
  enum Family { bernoulli, binomial, poisson };
  const struct Case {
    const char* what;
    const char* relation;  // the parameter of term i
    const char* term;
    Family family;
    double (*eta)(double);  // the inverse link: the proportion or the mean
  } cases[] = {
      {"logit", "logit(p[i]) <- a + b * x[i]", "r[i] ~ dbern(p[i])", bernoulli,
       [](double e) { return 1.0 / (1.0 + std::exp(-e)); }},
      {"probit", "probit(p[i]) <- a + b * x[i]", "r[i] ~ dbern(p[i])", bernoulli,
       [](double e) { return 0.5 * std::erfc(-e / std::sqrt(2.0)); }},
      {"complementary log-log", "cloglog(p[i]) <- a + b * x[i]", "k[i] ~ dbin(p[i], n[i])", binomial,
       [](double e) { return 1.0 - std::exp(-std::exp(e)); }},
      {"log", "log(p[i]) <- a + b * x[i]", "k[i] ~ dpois(p[i])", poisson, [](double e) { return std::exp(e); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InitBlocks();
    Compile(std::string("var x[10], r[10], k[10], n[10], p[10], a, b;\n{ for (i in 1:10) { ") + c.relation + " " +
                c.term + " }\n a ~ dnorm(0, 0.25) b ~ dnorm(0.5, 0.25) }",
            "list(x = c(-1.2, -0.7, -0.3, 0.0, 0.2, 0.5, 0.9, 1.3, 1.6, 2.0), r = c(0, 0, 1, 0, 1, 0, 1, 1, 1, 1),"
            " k = c(0, 1, 0, 2, 1, 3, 2, 4, 5, 7), n = c(3, 3, 4, 3, 5, 4, 3, 5, 6, 8))",
            "list(a = 0, b = 0)", true);
    if (HasFatalFailure()) return;
    ASSERT_EQ(Blocks_Count(), 1);
    ASSERT_EQ(Blocks_KindOf(0), Blocks_Kind::generalised);
    // Posterior means and variances of (a, b) on a grid.
    double w = 0.0, m[2] = {0, 0}, s[2] = {0, 0};
    std::vector<double> logPost;
    const double step = 0.02, lo = -6.0;
    const int points = 601;
    double top = -HUGE_VAL;
    for (int i = 0; i < points; ++i)
      for (int j = 0; j < points; ++j) {
        const double a = lo + i * step, b = lo + j * step;
        double l = -0.125 * a * a - 0.125 * (b - 0.5) * (b - 0.5);
        for (size_t t = 0; t < x.size(); ++t) {
          const double q = c.eta(a + b * x[t]);
          if (c.family == bernoulli) l += r[t] ? std::log(q) : std::log1p(-q);
          if (c.family == binomial) l += k[t] * std::log(q) + (n[t] - k[t]) * std::log1p(-q);
          if (c.family == poisson) l += k[t] * std::log(q) - q;
        }
        logPost.push_back(l);
        top = std::max(top, l);
      }
    for (int i = 0; i < points; ++i)
      for (int j = 0; j < points; ++j) {
        const double a = lo + i * step, b = lo + j * step;
        const double d = std::exp(logPost[static_cast<size_t>(i * points + j)] - top);
        w += d;
        m[0] += d * a;
        m[1] += d * b;
        s[0] += d * a * a;
        s[1] += d * b * b;
      }
    const double mean[2] = {m[0] / w, m[1] / w};
    const double var[2] = {s[0] / w - mean[0] * mean[0], s[1] / w - mean[1] * mean[1]};
    std::vector<std::array<double, 2>> draws = Draw(N("a"), N("b"), 41000);
    draws.erase(draws.begin(), draws.begin() + 1000);
    const Moments got = Of(draws);
    for (int v = 0; v < 2; ++v) {
      EXPECT_NEAR(got.mean[v], mean[v], 5.0 * BatchError(draws, v) + 1.0E-3) << v;
      EXPECT_NEAR(got.var[v] / var[v], 1.0, 0.1) << v;
    }
    // The IRLS normal is close to the posterior: a good share of the
    // proposals, the random-walk ones among them, are taken.
    const Blocks_Counts counts = Blocks_CountsOf(0);
    EXPECT_EQ(counts.proposed, 41000);
    EXPECT_GT(static_cast<double>(counts.accepted) / static_cast<double>(counts.proposed), 0.4);
  }
}

}  // namespace

namespace {

// Where the IRLS normal cannot be formed (a mean of e^710 overflows), the
// members are updated one at a time as without blocks, and the block's
// steps resume once they are back where it can.
TEST_F(BlocksTest, GeneralisedBlockFallsBackToSingleNodeUpdatesWhereItsProposalCannotBeFormed) {
  Compile("var x[6], k[6], lambda[6], a, b;\n"
          "{ for (i in 1:6) { log(lambda[i]) <- a + b * x[i] k[i] ~ dpois(lambda[i]) }\n"
          "  a ~ dnorm(0, 0.01) b ~ dnorm(0, 0.01) }",
          "list(x = c(-1, -0.5, 0, 0.5, 1, 1.5), k = c(1, 0, 2, 3, 2, 5))", "list(a = 710, b = 0)", true);
  if (HasFatalFailure()) return;
  ASSERT_EQ(Blocks_Count(), 1);
  Draw(N("a"), N("b"), 1);
  EXPECT_EQ(Blocks_CountsOf(0).singly, 1);
  EXPECT_EQ(Blocks_CountsOf(0).proposed, 0);
  EXPECT_LT(Graph_Own(N("a")), 700.0);
  Draw(N("a"), N("b"), 200);
  EXPECT_GT(Blocks_CountsOf(0).proposed, 150);
  EXPECT_LT(std::fabs(Graph_Own(N("a"))), 5.0);
}

}  // namespace

namespace {

// Solves the 3 by 3 system A v = r by elimination (A symmetric positive definite).
std::array<double, 3> Solve3(std::array<std::array<double, 3>, 3> A, std::array<double, 3> r) {
  for (int k = 0; k < 3; ++k)
    for (int i = k + 1; i < 3; ++i) {
      const double f = A[i][k] / A[k][k];
      for (int j = k; j < 3; ++j) A[i][j] -= f * A[k][j];
      r[i] -= f * r[k];
    }
  std::array<double, 3> v{};
  for (int i = 2; i >= 0; --i) {
    double s = r[i];
    for (int j = i + 1; j < 3; ++j) s -= A[i][j] * v[j];
    v[i] = s / A[i][i];
  }
  return v;
}

// A dmnorm block of two coefficients and a scalar one that share their
// terms are drawn together from their trivariate normal full conditional.
TEST_F(BlocksTest, ADmnormBlockJoinsScalarCoefficientsInOneExactDraw) {
  const std::array<double, 6> x = {1, 2, 3, 4, 5, 6}, z = {0.5, -0.2, 0.9, 0.1, -0.7, 0.4},
                              y = {2.1, 2.9, 4.8, 5.1, 5.2, 7.4};
  Compile("var x[6], z[6], y[6], mu[6], beta[2], m0[2], T0[2, 2], c;\n"
          "{ for (i in 1:6) { mu[i] <- beta[1] + beta[2] * x[i] + c * z[i] y[i] ~ dnorm(mu[i], 0.5) }\n"
          "  beta[1:2] ~ dmnorm(m0[], T0[, ]) c ~ dnorm(0, 0.1) }",
          "list(x = c(1, 2, 3, 4, 5, 6), z = c(0.5, -0.2, 0.9, 0.1, -0.7, 0.4), y = c(2.1, 2.9, 4.8, 5.1, 5.2, 7.4),"
          " m0 = c(1, 0), T0 = structure(.Data = c(0.2, 0.05, 0.05, 0.1), .Dim = c(2, 2)))",
          "list(beta = c(0, 0), c = 0)", true);
  if (HasFatalFailure()) return;
  ASSERT_EQ(Blocks_Count(), 1);
  ASSERT_EQ(Blocks_Members(0).size(), 3u);
  EXPECT_TRUE(Says("Block of beta[1], beta[2], c drawn jointly")) << Console();
  std::array<std::array<double, 3>, 3> Q = {{{0.2, 0.05, 0.0}, {0.05, 0.1, 0.0}, {0.0, 0.0, 0.1}}};
  std::array<double, 3> h = {0.2, 0.05, 0.0};
  for (size_t i = 0; i < x.size(); ++i) {
    const double g[3] = {1.0, x[i], z[i]};
    for (int r = 0; r < 3; ++r) {
      h[static_cast<size_t>(r)] += 0.5 * g[r] * y[i];
      for (int s = 0; s < 3; ++s) Q[static_cast<size_t>(r)][static_cast<size_t>(s)] += 0.5 * g[r] * g[s];
    }
  }
  const std::array<double, 3> mean = Solve3(Q, h);
  Samplers_Sampler& s = BlockRecord(N("c"));
  const int n = 20000;
  std::array<double, 3> sum{}, squares{};
  const Graph_Node* members[3] = {N("beta", 0), N("beta", 1), N("c")};
  for (int d = 0; d < n; ++d) {
    s.update(s);
    ASSERT_FALSE(Samplers_StateOf(s).error) << Samplers_part->failure;
    for (size_t k = 0; k < 3; ++k) {
      sum[k] += Graph_Own(members[k]);
      squares[k] += Graph_Own(members[k]) * Graph_Own(members[k]);
    }
  }
  for (size_t k = 0; k < 3; ++k) {
    std::array<double, 3> e{};
    e[k] = 1.0;
    const double variance = Solve3(Q, e)[k];
    const double m = sum[k] / n;
    EXPECT_NEAR(m, mean[k], 4.5 * std::sqrt(variance / n)) << k;
    EXPECT_NEAR((squares[k] / n - m * m) / variance, 1.0, 0.05) << k;
  }
}

}  // namespace
