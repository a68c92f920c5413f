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
  void SetUp() override {
    Pipeline::SetUp();
    InitClassFun();
    InitClassDen();
    InitSamplers();
  }
};

// The update method chosen for one named node of a small model.
struct Choice {
  std::string model;
  const char* data;
  const char* inits;
  const char* node;
  int offset;
  M method;
};

std::string Shifted(const std::string& prior) { return "var x, m, y; { x ~ " + prior + " m <- x + 0.5 y ~ dpois(m) }"; }
std::string GammaShape(const std::string& a) {
  return "var x, m, y[2]; { x ~ dgamma(" + a + ", 1) m <- exp(x) for (i in 1:2) { y[i] ~ dpois(m) } }";
}
// Terms of rate, gamma and log-concave form fold in the order of the
// likelihood list, which the declaration order sets: the two orders differ.
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

// Rows the posterior suite pins by its draws (whole-line priors under a
// shifted Poisson mean, dpow, zipf, a Poisson count of trials) are not repeated.
const std::vector<Choice>& Choices() {
  static const std::vector<Choice> rows = {
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
  return rows;
}

TEST_F(ClassDenTest, MethodChosenForEachNode) {
  for (const Choice& c : Choices()) {
    const std::string what = c.model + " / " + c.node;
    if (!Build(c.model, c.data, c.inits)) {
      ADD_FAILURE() << what << "\n" << Console();
      continue;
    }
    EXPECT_EQ(static_cast<int>(ClassDen_MethodOf(N(c.node, c.offset))), static_cast<int>(c.method)) << what;
  }
}

// The records registered, in sweep order: decreasing node number, and nodes
// without likelihood last, parents first; each with its method's procedure.
TEST_F(ClassDenTest, RecordsAreRegisteredInSweepOrderWithTheirProcedures) {
  const struct {
    std::string model;
    const char *data, *inits;
    std::vector<std::pair<const char*, int>> order;
  } cases[] = {
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

// ---- classification of whole models, recorded as results

// For every stochastic node of the model, in node order: its method code,
// then the form of every logical node as a function of it, one hexadecimal
// digit each (A for generalForm). The texts were recorded from the
// classifier that walked every path afresh; a node reached along several
// paths, or by many terms, must give the same answer classified once, and
// a session, which reads each sum once, the same as the walk.
std::string Signature() {
  std::vector<Graph_Node*> logical;
  for (int32_t n = 0; n < Graph_totalNumNodes; ++n) {
    Graph_Node* node = Graph_Label(n);
    if (node != nullptr && node->kind == Graph_logical && node->label == n) logical.push_back(node);
  }
  std::string text;
  for (int32_t n = 0; n < Graph_totalNumNodes; ++n) {
    Graph_Node* node = Graph_Label(n);
    if (node == nullptr || node->kind != Graph_stochastic || node->label != n) continue;
    text += std::to_string(ClassDen_MethodCode(node)) + ":";
    for (Graph_Node* l : logical) text += "0123456789A"[ClassFun_MapRnToR1(l, node->label, node->size)];
    text += " ";
  }
  return text;
}

TEST_F(ClassDenTest, MethodsAndFormsOfSmallModelsAreUnchangedWithOrWithoutASession) {
  const struct {
    const char *model, *data, *inits, *expected;  // expected null: as the walk gives it
  } cases[] = {
      {"var a, b, tau, x[3], mu[3], y[3]; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) tau ~ dgamma(1, 1)"
       " for (i in 1:3) { mu[i] <- a + b * (x[i] - 1) y[i] ~ dnorm(mu[i], tau) } }",
       "list(x = c(0.5, 1, 2), y = c(1, 2, 2.5))", "list(a = 0, b = 0, tau = 1)", "9:535 9:525 13:222 "},
      {"var a, b, r, r2, x[3], lam[3], y[3], z[3]; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) r ~ dgamma(1, 1) r2 <- r * 2"
       " for (i in 1:3) { log(lam[i]) <- a + b * x[i] y[i] ~ dpois(lam[i]) z[i] ~ dexp(r2) } }",
       "list(x = c(-1, 0, 1), y = c(1, 2, 4), z = c(0.5, 1, 2))", "list(a = 0, b = 0, r = 1)",
       "27:0777 27:0707 13:4000 "},
      {"var a, b, c, q, w, x[3], n[3], p[3], y[3]; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) c ~ dnorm(0, 1)"
       " for (i in 1:3) { logit(p[i]) <- a + b * x[i] y[i] ~ dbin(p[i], n[i]) } q <- phi(c) w ~ dbern(q) }",
       "list(x = c(-1, 0, 1), n = c(5, 5, 5), y = c(1, 2, 4), w = 1)", "list(a = 0, b = 0, c = 0)",
       "27:2666 27:2626 27:6222 "},
      {"var u, v, y, g, h, y2, k, m, y3, e, ee, y4; { u ~ dunif(0, 5) v <- sin(u) * u y ~ dnorm(v, 1)"
       " g ~ dgamma(1, 1) h <- pow(g, 2) y2 ~ dnorm(0, h) k ~ dnorm(0, 1) I(0, ) m <- max(k, 1)"
       " y3 ~ dnorm(m, 1) e ~ dnorm(0, 1) ee <- exp(e) + 1 y4 ~ dpois(ee) }",
       "list(y = 1, y2 = 0.5, y3 = 2, y4 = 3)", "list(u = 1, g = 1, k = 1, e = 0)", "50:A000 49:2800 10:2050 49:2009 "},
      {"var x[4], s, mn, t, y[3], z[3]; { for (j in 1:4) { x[j] ~ dnorm(0, 1) } s <- sum(x[])"
       " mn <- mean(x[]) t ~ dgamma(1, 1) for (i in 1:3) { y[i] ~ dnorm(s, 1) z[i] ~ dnorm(mn, t) } }",
       "list(y = c(1, 2, 3), z = c(0, 1, 2))", "list(x = c(0, 0, 0, 0), t = 1)", "9:55 9:55 9:55 9:55 13:22 "},
      {"var x, a, b, c, d, f[12], g, gg[4], y1, y2, y3, y4, y5; { x ~ dnorm(0, 1) a <- 2 * x b <- a + a"
       " c <- a * a d <- b - a f[1] <- x for (i in 2:12) { f[i] <- f[i - 1] + f[i - 1] }"
       " g ~ dgamma(1, 1) gg[1] <- g for (i in 2:4) { gg[i] <- gg[i - 1] * gg[i - 1] }"
       " y1 ~ dnorm(b, 1) y2 ~ dnorm(c, 1) y3 ~ dnorm(d, 1) y4 ~ dnorm(f[12], 1) y5 ~ dnorm(0, gg[4]) }",
       "list(y1 = 1, y2 = 1, y3 = 1, y4 = 1, y5 = 1)", "list(x = 0, g = 1)",
       "49:44A53444444444440000 49:22222222222222223AAA "},
      {"var b[3], zz[3], ip, yi, k, p[3], mu[3], yk, w[2], m0[2], T[2,2], o[2], al[3], pr[3], c2, sq;"
       " { for (i in 1:3) { b[i] ~ dnorm(0, 1) mu[i] ~ dnorm(0, 1) } ip <- inprod(b[], zz[]) yi ~ dnorm(ip, 1)"
       " sq <- sd(mu[]) k ~ dcat(p[]) yk ~ dnorm(mu[k], sq) w[1:2] ~ dmnorm(m0[], T[,]) o[1:2] ~ dmnorm(w[], T[,])"
       " pr[1:3] ~ ddirch(al[]) c2 ~ dcat(pr[]) }",
       "list(zz = c(1, -2, 3), yi = 1, p = c(0.2, 0.3, 0.5), yk = 1, m0 = c(0, 0), T = c(1, 0, 0, 1),"
       " o = c(1, 2), al = c(1, 1, 1), c2 = 2)",
       "list(b = c(0, 0, 0), mu = c(0, 1, 2), k = 1, w = c(0, 0), pr = c(0.3, 0.3, 0.4))",
       "9:502 9:502 9:502 31:20A 49:2A3 49:2A3 49:2A3 24:202 26:202 "},
      // Sums over data of both signs, columns, block components and logical
      // nodes, a block covering part of a sum.
      {"var x[5], d[5], m[3,2], u[3,2], w[2], m0[2], T[2,2], z[4], t, s[8], y[8];"
       " { for (j in 1:5) { x[j] ~ dnorm(0, 1) } for (i in 1:3) { m[i, 1] ~ dgamma(1, 1) m[i, 2] ~ dnorm(0, 1) }"
       " w[1:2] ~ dmnorm(m0[], T[,]) for (k in 1:3) { z[k] <- 2 * x[k] } z[4] ~ dnorm(0, 1) t ~ dgamma(1, 1)"
       " d[4] ~ dnorm(0, 1) u[2, 1] ~ dgamma(1, 1) u[2, 2] ~ dnorm(0, 1) s[1] <- sum(x[]) s[2] <- mean(d[])"
       " s[3] <- sum(m[, 1]) s[4] <- sum(m[, 2]) s[5] <- sum(u[,]) s[6] <- sum(w[]) s[7] <- sum(z[])"
       " s[8] <- mean(x[2:4]) for (i in 1:8) { y[i] ~ dnorm(s[i], t) } }",
       "list(d = c(1, -2, 3, NA, 5), u = c(1, 2, NA, NA, 5, 6), m0 = c(0, 0), T = c(1, 0, 0, 1),"
       " y = c(1, 2, 3, 4, 5, 6, 7, 8))",
       "", nullptr},
      {"var g[4], c[4], s, y; { for (j in 1:4) { g[j] ~ dgamma(1, 1) } s <- sum(g[]) + sum(c[]) y ~ dpois(s) }",
       "list(c = c(1, 2, 0, 4), y = 3)", "", nullptr},
  };
  for (const auto& c : cases) {
    if (!Build(c.model, c.data, c.inits)) {
      ADD_FAILURE() << c.model << "\n" << Console();
      continue;
    }
    const std::string walked = Signature();
    if (c.expected != nullptr) {
      EXPECT_EQ(walked, c.expected) << c.model;
    }
    const ClassFun_Session session;
    EXPECT_EQ(Signature(), walked) << c.model << " in a session";
  }
}

}  // namespace
