#include "sampling/Plans.h"

#include <array>
#include <cmath>
#include <string>

#include "Hooks.h"
#include "Methods.h"
#include "graph/Determ.h"
#include "sampling/ClassDen.h"
#include "sampling/ConjDist.h"
#include "sampling/GibbsSam.h"
#include "sampling/Samplers.h"

namespace {

class PlansTest : public test::Methods {
 protected:
  // The plan's normal parameters against the general procedure's, at the values held now.
  static void ExpectNormalAsGeneral(Graph_Node* x) {
    double mean = 0.0, precision = 0.0, m0 = 0.0, p0 = 0.0;
    ASSERT_TRUE(Plans_Normal(RecordOf(x), mean, precision));
    const double kept = Graph_Own(x);
    End();  // the general procedure reads the forms by their terms
    ConjDist_NormalParameters(x, m0, p0);
    Graph_Own(x) = kept;
    Begin();
    EXPECT_NEAR(precision, p0, 1e-9 * std::fabs(p0));
    EXPECT_NEAR(mean, m0, 1e-9 * (1.0 + std::fabs(m0)));
  }
  static void ExpectGammaAsGeneral(Graph_Node* x) {
    double shape = 0.0, rate = 0.0, s0 = 0.0, r0 = 0.0;
    ASSERT_TRUE(Plans_Gamma(RecordOf(x), shape, rate));
    ConjDist_GammaParameters(x, s0, r0);
    EXPECT_DOUBLE_EQ(shape, s0);
    EXPECT_NEAR(rate, r0, 1e-9 * r0);
  }
  static void Begin() { Plans_Begin(), Plans_BeginChain(); }
  static void End() { Plans_EndChain(), Plans_End(); }
  // Runs sweeps the way the update command does.
  static void Sweeps(int n) {
    Begin();
    for (int i = 0; i < n; ++i) {
      bool aborted = false, error = false;
      Samplers_Update(aborted, error);
      ASSERT_FALSE(error);
      Plans_SweepDone();
    }
  }
};

const std::string regression =
    "const N = 6;\nvar x[N, 3], y[N], mu[N], b[3], tau;\n"
    "{ for (i in 1:N) { mu[i] <- inprod(b[], x[i, ]) y[i] ~ dnorm(mu[i], tau) }\n"
    "  for (k in 1:3) { b[k] ~ dnorm(0, 0.01) } tau ~ dgamma(1, 1) }";
const std::string regressionData =
    "list(x = structure(.Data = c(1, 0.5, -1, 1, 1.5, 2, 1, -0.3, 0.7, 1, 2.2, -1.4, 1, 0.1, 0.4, 1, -2, 1),"
    " .Dim = c(6, 3)), y = c(1.2, 3.4, 0.5, 2.8, 1.1, -0.9))";

// A regression's plans agree with the general procedures at the start and mid-run, the sums
// follow every sweep, and outside an update the forms read their terms again.
TEST_F(PlansTest, RegressionPlansAgreeWithTheGeneralProceduresAndSumsFollowEverySweep) {
  Compile(regression, regressionData, "list(b = c(0.5, -0.25, 2), tau = 1.5)");
  EXPECT_EQ(Plans_Count(), 4);
  EXPECT_EQ(Plans_MaintainedForms(), 6);
  Begin();
  for (int k = 0; k < 3; ++k) ExpectNormalAsGeneral(N("b", k));
  ExpectGammaAsGeneral(N("tau"));
  End();
  Sweeps(Plans_resumEvery - 1);  // no fresh sums on the way
  for (int i = 0; i < 6; ++i) {
    double fresh = 0.0;
    for (int k = 0; k < 3; ++k) fresh += Graph_Own(N("b", k)) * Graph_Own(N("x", 3 * i + k));
    EXPECT_NEAR(Graph_ValueOf(N("mu", i)), fresh, 1e-12 * (1.0 + std::fabs(fresh))) << i;
  }
  for (int k = 0; k < 3; ++k) ExpectNormalAsGeneral(N("b", k));
  End();
  Graph_Own(N("b", 0)) += 1.0;
  EXPECT_NEAR(Graph_ValueOf(N("mu", 0)), Graph_Own(N("b", 0)) + Graph_Own(N("b", 1)) * 0.5 - Graph_Own(N("b", 2)), 1e-12);
  bool aborted = false, error = false;
  Samplers_Update(aborted, error);  // no plan in use outside an update: the general procedures run
  EXPECT_FALSE(error);
}

// Forms with an unknown outside the plans (c, logistic) are not kept; a precision-only gamma needs
// no form. A product of unknowns, or a non-normal term, leaves the plans out.
TEST_F(PlansTest, FormsThePlansCannotKeepLeaveTheGeneralPath) {
  Compile("const N = 3;\nvar x[N], y[N], mu[N], a, c, d, tau;\n"
          "{ for (i in 1:N) { mu[i] <- a + c * x[i] y[i] ~ dnorm(mu[i], tau) }\n"
          "  a ~ dnorm(0, 0.01) c ~ dlogis(0, 1) d ~ dnorm(a, 1) tau ~ dgamma(1, 1) }",
          "list(x = c(1, 2, 3), y = c(1, 2, 2.5))", "list(a = 0, c = 1, d = 0, tau = 1)");
  EXPECT_EQ(Plans_MaintainedForms(), 0);
  Begin();
  double p = 0.0, q = 0.0;
  EXPECT_FALSE(Plans_Normal(RecordOf(N("a")), p, q));
  EXPECT_TRUE(Plans_Gamma(RecordOf(N("tau")), p, q));
  End();
  Compile("var y, z, w, a, b, m, t;\n{ a ~ dnorm(0, 1) b ~ dnorm(0, 1) m <- a * b + 1 y ~ dnorm(m, 1)\n"
          "  t ~ dgamma(1, 1) z ~ dpois(t) w ~ dnorm(0, t) }",
          "list(y = 1, z = 2, w = 0.5)", "list(a = 1, b = 2, t = 1)");
  EXPECT_EQ(Plans_MaintainedForms(), 0);
  Begin();
  EXPECT_LT(RecordOf(N("a")).plan, 0);
  EXPECT_LT(RecordOf(N("b")).plan, 0);
  EXPECT_FALSE(Plans_Gamma(RecordOf(N("t")), p, q));
}

TEST_F(PlansTest, OneFormReadByTwoTermsMovesOnceAndSharedMeansAreHandled) {
  // mu feeds two observations with different precisions; theta has terms on itself and on a form.
  Compile("var y1, y2, y3, mu, theta, a;\n"
          "{ a ~ dnorm(0, 0.1) theta ~ dnorm(1, 0.5) mu <- a + 2 * theta\n"
          "  y1 ~ dnorm(mu, 2) y2 ~ dnorm(mu, 3) y3 ~ dlnorm(theta, 4) }",
          "list(y1 = 1.5, y2 = 2.5, y3 = 3)", "list(a = 0.2, theta = 0.3)");
  EXPECT_EQ(Plans_MaintainedForms(), 1);
  Sweeps(5);
  ExpectNormalAsGeneral(N("a"));
  ExpectNormalAsGeneral(N("theta"));
  EXPECT_NEAR(Graph_ValueOf(N("mu")), Graph_Own(N("a")) + 2.0 * Graph_Own(N("theta")), 1e-12);
}

TEST_F(PlansTest, HierarchyPlansAgreeWithTheGeneralProceduresFarFromZeroAndWithAMissingValue) {
  // Observations near a million spread by about one: squares summed about each group's mean lose
  // nothing to cancellation. Missing y[2, 3]'s term reads the value it is given each time.
  Compile("const J = 3, n = 3;\nvar y[J, n], theta[J], mu, tauW, tauB;\n"
          "{ for (j in 1:J) { for (k in 1:n) { y[j, k] ~ dnorm(theta[j], tauW) } theta[j] ~ dnorm(mu, tauB) }\n"
          "  mu ~ dnorm(0, 1.0E-12) tauW ~ dgamma(1, 1) tauB ~ dgamma(1, 1) }",
          "list(y = structure(.Data = c(1000000.5, 999999.2, 1000001.1, 1000002.0, 999998.7, NA,"
          " 1000000.0, 1000000.3, 999999.9), .Dim = c(3, 3)))",
          "list(theta = c(1000000, 1000001, 999999), mu = 1000000, tauW = 0.5, tauB = 2)");
  EXPECT_EQ(Plans_Count(), 6);
  Begin();
  Graph_Own(N("y", 5)) = 1000003.25;
  for (int j = 0; j < 3; ++j) ExpectNormalAsGeneral(N("theta", j));
  ExpectNormalAsGeneral(N("mu"));
  for (const char* name : {"tauW", "tauB"}) ExpectGammaAsGeneral(N(name));
}

// The block plans of a multivariate normal mean and a Wishart precision agree with the general
// procedures; a whole row missing (so sampled itself) makes them step aside.
TEST_F(PlansTest, BlockPlansAgreeWithTheGeneralProceduresAndStepAsideForAMissingRow) {
  const std::string model =
      "const N = 4;\nvar y[N, 2], mu[2], m0[2], P0[2, 2], T[2, 2], R[2, 2], z;\n"
      "{ for (i in 1:N) { y[i, 1:2] ~ dmnorm(mu[], T[, ]) } z ~ dnorm(y[4, 1], 1)\n"
      "  mu[1:2] ~ dmnorm(m0[], P0[, ]) T[, ] ~ dwish(R[, ], 3) }";
  const std::string fixedPart =
      "z = 0.5, m0 = c(0, 1), P0 = structure(.Data = c(0.5, 0.1, 0.1, 0.25), .Dim = c(2, 2)),"
      " R = structure(.Data = c(2, 0.3, 0.3, 1), .Dim = c(2, 2))";
  const std::string inits =
      "list(mu = c(0.4, -0.2), T = structure(.Data = c(1.5, 0.2, 0.2, 0.8), .Dim = c(2, 2)))";
  for (const bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "a missing row" : "all rows observed");
    Compile(model,
            std::string("list(y = structure(.Data = c(1.2, 0.4, 100.5, -2.1, 0.3, 0.9, ") +
                (missing ? "NA, NA" : "-1.7, 2.2") + "), .Dim = c(4, 2)), " + fixedPart + ")",
            inits);
    Begin();
    std::array<double, 4> mu{}, U{}, mu0{}, U0{}, R{}, R0{};
    double k = 0.0, k0 = 0.0;
    EXPECT_EQ(Plans_MNormal(RecordOf(N("mu")), mu, U), !missing);
    EXPECT_EQ(Plans_Wishart(RecordOf(N("T")), k, R), !missing);
    if (missing) continue;
    // The plans read the current mean and precision: move them and compare again.
    for (const bool moved : {false, true}) {
      SCOPED_TRACE(moved ? "moved" : "as started");
      if (moved) {
        Graph_Own(N("mu", 1)) = 3.5;
        Graph_Own(N("T", 0)) = 2.5;
      }
      ASSERT_TRUE(Plans_MNormal(RecordOf(N("mu")), mu, U));
      ASSERT_TRUE(Plans_Wishart(RecordOf(N("T")), k, R));
      ASSERT_TRUE(ConjDist_MNormal2Parameters(N("mu"), mu0, U0));
      ASSERT_TRUE(ConjDist_WishartParameters(N("T"), k0, R0));
      EXPECT_DOUBLE_EQ(k, k0);
      for (size_t i = 0; i < 2; ++i) EXPECT_NEAR(mu[i], mu0[i], 1e-12 * (1.0 + std::fabs(mu0[i]))) << i;
      for (size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(U[i], U0[i], 1e-12 * (1.0 + std::fabs(U0[i]))) << i;
        EXPECT_NEAR(R[i], R0[i], 1e-12 * (1.0 + std::fabs(R0[i]))) << i;
      }
    }
  }
}

// Terms of a multivariate normal mean that do not share one precision leave it to the general procedure.
TEST_F(PlansTest, ABlockPlanNeedsOnePrecisionForAllItsTerms) {
  Compile("var y[3, 2], mu[2], m0[2], P0[2, 2], T[2, 2], S[2, 2];\n"
          "{ for (i in 1:2) { y[i, 1:2] ~ dmnorm(mu[], T[, ]) } y[3, 1:2] ~ dmnorm(mu[], S[, ])\n"
          "  mu[1:2] ~ dmnorm(m0[], P0[, ]) }",
          "list(y = structure(.Data = c(1.2, 0.4, 0.5, -2.1, 0.3, 0.9), .Dim = c(3, 2)), m0 = c(0, 1),"
          " P0 = structure(.Data = c(0.5, 0.1, 0.1, 0.25), .Dim = c(2, 2)),"
          " T = structure(.Data = c(1.5, 0.2, 0.2, 0.8), .Dim = c(2, 2)),"
          " S = structure(.Data = c(4, 0, 0, 4), .Dim = c(2, 2)))",
          "list(mu = c(0.4, -0.2))");
  ASSERT_EQ(RecordOf(N("mu")).update, GibbsSam_MNormal2);
  Begin();
  std::array<double, 4> mu{}, U{};
  EXPECT_FALSE(Plans_MNormal(RecordOf(N("mu")), mu, U));
}

}  // namespace
