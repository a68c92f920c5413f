#include "sampling/ClassDen.h"

#include <string>
#include <utility>
#include <vector>

#include "Hooks.h"
#include "Pipeline.h"
#include "sampling/ClassFun.h"
#include "sampling/Samplers.h"

namespace {

using M = ClassDen_Method;

class ClassDenTest : public test::Pipeline {
 protected:
  void SetUp() override { Pipeline::SetUp(), InitClassFun(), InitClassDen(), InitSamplers(); }
};

// The update method chosen for one named node of a small model.
struct Choice { std::string model; const char *data, *inits, *node; int offset; M method; };

std::string Shifted(const std::string& prior) { return "var x, m, y; { x ~ " + prior + " m <- x + 0.5 y ~ dpois(m) }"; }
std::string GammaShape(const std::string& a) {
  return "var x, m, y[2]; { x ~ dgamma(" + a + ", 1) m <- exp(x) for (i in 1:2) { y[i] ~ dpois(m) } }";
}
// Terms fold in the order of the likelihood list, which the declaration order sets: two orders differ.
std::string Folded(const std::string& decl) {
  return "var x, e" + decl + "; { x ~ dgamma(1, 1) e <- exp(x) a ~ dgamma(2, x) b ~ dpois(x) c ~ dexp(e) }";
}

const std::string noLik =
    "var a, b, c, d, e, f; { a ~ dnorm(0, 1) b ~ dgamma(1, 1) I(1, ) c ~ dnorm(0, 1) I(0, ) "
    "d ~ dweib(2, 1) I(1, ) e ~ dgum(0, 1) I(1, ) f ~ dgamma(1, 1) I(, 3) }";
const char* noLikInits = "list(a = 0, b = 2, c = 1, d = 2, e = 2, f = 1)";
const std::string logistic =
    "var a, b, p[3], r[3], z[3]; { a ~ dnorm(0, 1.0E-6) b ~ dnorm(0, 1.0E-6) "
    "for (i in 1:3) { logit(p[i]) <- a + b * z[i] r[i] ~ dbern(p[i]) } }";
const std::string betaLogit = "var p, q[2], r[2], z[2]; { p ~ dbeta(SHAPE, 3) for (i in 1:2) { logit(q[i]) <- p * z[i] r[i] ~ dbern(q[i]) } }";
std::string BetaLogit(const std::string& a) { return std::string(betaLogit).replace(betaLogit.find("SHAPE"), 5, a); }
const std::string mvn = "var x[2], mu[2], T[2, 2], z[2], y[2]; { x[1:2] ~ dmnorm(mu[], T[, ]) ";
const char* mvnData = "list(mu = c(0, 0), T = structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2)), y = c(1, 2))";

TEST_F(ClassDenTest, MethodChosenForEachNode) {
  const Choice rows[] = {
      {noLik, "", noLikInits, "a", 0, M::direct},
      {noLik, "", noLikInits, "b", 0, M::directLower},
      {noLik, "", noLikInits, "c", 0, M::normalLower},
      {noLik, "", noLikInits, "d", 0, M::weibullTail},
      {noLik, "", noLikInits, "e", 0, M::gumbelTail},
      {noLik, "", noLikInits, "f", 0, M::directUpper},
      {"var z; { z ~ dzipf(2) I(, 50) }", "", "list(z = 1)", "z", 0, M::directUpper},
      {"var x, y[2]; { x ~ dgamma(1, 1) for (i in 1:2) { y[i] ~ dpois(x) } }", "list(y = c(2, 3))", "", "x", 0, M::gamma},
      {"var x, y[2]; { x ~ dgamma(1, 1) I(0.5, 2) for (i in 1:2) { y[i] ~ dpois(x) } }", "list(y = c(2, 3))", "", "x", 0,
       M::gammaBoth},
      {"var p, r[2], n[2]; { p ~ dbeta(1, 1) for (i in 1:2) { r[i] ~ dbin(p, n[i]) } }",
       "list(r = c(1, 2), n = c(5, 5))", "", "p", 0, M::beta},
      {"var mu, tau, y[3]; { mu ~ dnorm(0, 1.0E-6) tau ~ dgamma(1, 1) for (i in 1:3) { y[i] ~ dnorm(mu, tau) } }",
       "list(y = c(1, 2, 3))", "", "mu", 0, M::normal},
      {"var mu, tau, y[3]; { mu ~ dnorm(0, 1.0E-6) tau ~ dgamma(1, 1) for (i in 1:3) { y[i] ~ dnorm(mu, tau) } }",
       "list(y = c(1, 2, 3))", "", "tau", 0, M::gamma},
      {"var t, y[2]; { t ~ dpar(1, 2) for (i in 1:2) { y[i] ~ dunif(0, t) } }", "list(y = c(3, 5))", "", "t", 0,
       M::pareto},
      // A beta full conditional within both bounds of the uniform.
      {"var p, y; { p ~ dunif(0, 1) y ~ dbern(p) }", "list(y = 1)", "", "p", 0, M::betaBoth},
      {"var p, y; { p ~ dpow(2) I(0.2, ) y ~ dbern(p) }", "list(y = 1)", "", "p", 0, M::betaLower},
      // A count shifted down, of either sign for all it can tell, leaves a binomial term not conjugate.
      {"var p, k, m, r; { p ~ dbeta(1, 1) k ~ dpois(5) m <- k - 3 r ~ dbin(p, m) }", "list(r = 2)", "", "p", 0,
       M::griddy},
      {logistic, "list(r = c(0, 1, 1), z = c(-1, 0, 1))", "", "b", 0, M::rejection},
      {BetaLogit("2"), "list(r = c(0, 1), z = c(-1, 1))", "", "p", 0, M::rejectionBoth},
      {BetaLogit("0.5"), "list(r = c(0, 1), z = c(-1, 1))", "", "p", 0, M::griddy},
      {GammaShape("2"), "list(y = c(1, 2))", "", "x", 0, M::rejectionLower},
      {GammaShape("0.5"), "list(y = c(1, 2))", "", "x", 0, M::badPriorLower},
      {Folded(", a, b, c"), "list(a = 1, b = 2, c = 0.5)", "", "x", 0, M::rejectionLower},
      {Folded(", a, c, b"), "list(a = 1, b = 2, c = 0.5)", "", "x", 0, M::none},
      {Shifted("dgum(0.5, 1) I(-2, )"), "list(y = 1)", "", "x", 0, M::rejectionLower},
      {Shifted("dnorm(0.5, 1) I(-2, 3)"), "list(y = 1)", "", "x", 0, M::rejectionBoth},
      {"var x, m, y; { x ~ dunif(0, 10) m <- log(x) y ~ dnorm(m, 1) }", "list(y = 1)", "", "x", 0, M::griddy},
      {"var x, m, y; { x ~ dexp(1) I(, 4) m <- log(x) y ~ dnorm(m, 1) }", "list(y = 1)", "", "x", 0, M::griddy},
      {"var x, m, y; { x ~ dexp(1) I(1, ) m <- log(x) y ~ dnorm(m, 1) }", "list(y = 1)", "", "x", 0, M::none},
      {"var p, y; { p ~ dpow(0.5) y ~ dnorm(p, 1) }", "list(y = 1)", "", "p", 0, M::griddy},
      {"var x, m, y; { x ~ dnorm(0, 1) I(-1, ) m <- x * x y ~ dnorm(m, 1) }", "list(y = 1.5)", "", "x", 0, M::none},
      {mvn + "y[1] ~ dnorm(x[1], 1) y[2] ~ dnorm(x[2], 1) }", mvnData, "list(x = c(0, 0))", "x", 0,
       M::normalBlockScalar},
      {mvn + "y[1:2] ~ dmnorm(x[], T[, ]) }", mvnData, "list(x = c(0, 0))", "x", 0, M::normalBlockOfBlock},
      // A normal term whose mean is a multiple of the block: each component alone.
      {mvn + "for (i in 1:2) { z[i] <- 2 * x[i] } y[1:2] ~ dmnorm(z[], T[, ]) }", mvnData, "list(x = c(0, 0))", "x", 1,
       M::normal},
  };
  for (const Choice& c : rows) {
    const std::string what = c.model + " / " + c.node;
    ASSERT_TRUE(Build(c.model, c.data, c.inits)) << what << "\n" << Console();
    EXPECT_EQ(static_cast<int>(ClassDen_MethodOf(N(c.node, c.offset))), static_cast<int>(c.method)) << what;
  }
}

// Records by decreasing node number, nodes without likelihood last (parents first), with their procedures.
TEST_F(ClassDenTest, RecordsAreRegisteredInSweepOrderWithTheirProcedures) {
  const struct { std::string model; const char *data, *inits; std::vector<std::pair<const char*, int>> order; } cases[] = {
      {mvn + "y[1] ~ dnorm(x[1], 1) y[2] ~ dnorm(x[2], 1) }", mvnData, "list(x = c(0, 0))", {{"x", 0}}},
      {mvn + "for (i in 1:2) { z[i] <- 2 * x[i] } y[1:2] ~ dmnorm(z[], T[, ]) }", mvnData, "list(x = c(0, 0))",
       {{"x", 1}, {"x", 0}}},
      {"var a, k, b, c, y; { a ~ dnorm(0, 1) b ~ dnorm(a, 1) c ~ dgamma(1, 1) y ~ dnorm(b, c) }",
       "list(k = 1, y = 2)", "list(a = 0, b = 0, c = 1)", {{"c", 0}, {"b", 0}, {"a", 0}}},
      {"var e, d, w, mu, z; { mu ~ dnorm(0, 1) z ~ dnorm(mu, 1) d ~ dnorm(mu, 1) e ~ dnorm(d, 1) w ~ dgamma(1, 1) }",
       "list(z = 1)", "list(mu = 0, d = 0, e = 0, w = 1)", {{"mu", 0}, {"d", 0}, {"e", 0}, {"w", 0}}},
      {"var x[2], m[2], y[2]; { for (i in 1:2) { x[i] ~ dunif(0, 10) m[i] <- log(x[i]) y[i] ~ dnorm(m[i], 1) } }",
       "list(y = c(1, 2))", "list(x = c(1, 2))", {{"x", 1}, {"x", 0}}},
      {logistic, "list(r = c(0, 1, 1), z = c(-1, 0, 1))", "list(a = 0, b = 0)", {{"b", 0}, {"a", 0}}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Build(c.model, c.data, c.inits)) << Console();
    InitSamplers();
    ClassDen_ChooseUpdateMethod();
    ASSERT_EQ(Samplers_Count(), static_cast<int32_t>(c.order.size())) << c.model;
    for (int32_t i = 0; i < Samplers_Count(); ++i) {
      const Samplers_Sampler& s = Samplers_At(i);
      EXPECT_EQ(s.node, N(c.order[i].first, c.order[i].second)) << c.model << " record " << i;
      EXPECT_EQ(s.update, ClassDen_Of(ClassDen_MethodOf(s.node)).procedure) << c.model << " record " << i;
    }
  }
}

}  // namespace
