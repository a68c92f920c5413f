#include "sampling/ClassDen.h"

#include <algorithm>
#include <string>
#include <vector>

#include "Hooks.h"
#include "Pipeline.h"
#include "sampling/ClassFun.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"
#include "sampling/Griddy.h"
#include "sampling/Samplers.h"

namespace {

class ClassDenTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitClassFun();
    InitClassDen();
    InitSamplers();
  }

  // The method code of a node of a model compiled with the data given.
  int32_t Code(const std::string& model, const std::string& data, const std::string& name, int offset = 0) {
    if (!Build(model, data)) {
      ADD_FAILURE() << Console();
      return -1;
    }
    return ClassDen_MethodCode(N(name, offset));
  }

  // Registers every node and returns the procedures in sweep order.
  std::vector<Samplers_Sampler*> Register(const std::string& model, const std::string& data = "",
                                          const std::string& inits = "") {
    EXPECT_TRUE(Build(model, data, inits)) << Console();
    InitSamplers();
    ClassDen_ChooseUpdateMethod();
    std::vector<Samplers_Sampler*> list;
    for (int32_t i = 0; i < Samplers_Count(); ++i) list.push_back(&Samplers_At(i));
    return list;
  }
};

TEST_F(ClassDenTest, NodesWithoutLikelihoodAreDrawnFromTheirPrior) {
  const std::string model =
      "var a, b, c, d, e, f; { a ~ dnorm(0, 1) b ~ dgamma(1, 1) I(1, ) c ~ dnorm(0, 1) I(0, ) "
      "d ~ dweib(2, 1) I(1, ) e ~ dgum(0, 1) I(1, ) f ~ dgamma(1, 1) I(, 3) }";
  ASSERT_TRUE(Build(model, "", "list(a = 0, b = 2, c = 1, d = 2, e = 2, f = 1)")) << Console();
  EXPECT_EQ(ClassDen_MethodCode(N("a")), 5);
  EXPECT_EQ(ClassDen_MethodCode(N("b")), 6);
  EXPECT_EQ(ClassDen_MethodCode(N("c")), 10);  // the truncated-normal draw
  EXPECT_EQ(ClassDen_MethodCode(N("d")), 47);
  EXPECT_EQ(ClassDen_MethodCode(N("e")), 48);
  EXPECT_EQ(ClassDen_MethodCode(N("f")), 7);
}

TEST_F(ClassDenTest, ConjugateFamiliesAreRecognised) {
  const std::string pois = "var x, y[2]; { x ~ dgamma(1, 1) for (i in 1:2) { y[i] ~ dpois(x) } }";
  EXPECT_EQ(Code(pois, "list(y = c(2, 3))", "x"), 13);
  const std::string bounded = "var x, y[2]; { x ~ dgamma(1, 1) I(0.5, 2) for (i in 1:2) { y[i] ~ dpois(x) } }";
  EXPECT_EQ(Code(bounded, "list(y = c(2, 3))", "x"), 16);
  const std::string bin = "var p, r[2], n[2]; { p ~ dbeta(1, 1) for (i in 1:2) { r[i] ~ dbin(p, n[i]) } }";
  EXPECT_EQ(Code(bin, "list(r = c(1, 2), n = c(5, 5))", "p"), 17);
  const std::string normal =
      "var mu, tau, y[3]; { mu ~ dnorm(0, 1.0E-6) tau ~ dgamma(1, 1) "
      "for (i in 1:3) { y[i] ~ dnorm(mu, tau) } }";
  EXPECT_EQ(Code(normal, "list(y = c(1, 2, 3))", "mu"), 9);
  EXPECT_EQ(ClassDen_MethodCode(N("tau")), 13);
  const std::string pareto = "var t, y[2]; { t ~ dpar(1, 2) for (i in 1:2) { y[i] ~ dunif(0, t) } }";
  EXPECT_EQ(Code(pareto, "list(y = c(3, 5))", "t"), 21);
  const std::string unif = "var p, y; { p ~ dunif(0, 1) y ~ dbern(p) }";
  EXPECT_EQ(Code(unif, "list(y = 1)", "p"), 20);  // a beta full conditional within both bounds
}

TEST_F(ClassDenTest, NonConjugateFullConditionalsGoToRejectionOrGrid) {
  const std::string logistic =
      "var a, b, p[3], r[3], z[3]; { a ~ dnorm(0, 1.0E-6) b ~ dnorm(0, 1.0E-6) "
      "for (i in 1:3) { logit(p[i]) <- a + b * z[i] r[i] ~ dbern(p[i]) } }";
  EXPECT_EQ(Code(logistic, "list(r = c(0, 1, 1), z = c(-1, 0, 1))", "b"), 27);
  const std::string beta =
      "var p, q[2], r[2], z[2]; { p ~ dbeta(2, 3) for (i in 1:2) { logit(q[i]) <- p * z[i] r[i] ~ dbern(q[i]) } }";
  EXPECT_EQ(Code(beta, "list(r = c(0, 1), z = c(-1, 1))", "p"), 30);  // never the full-line variant
  const std::string betaShape =
      "var p, q[2], r[2], z[2]; { p ~ dbeta(0.5, 3) for (i in 1:2) { logit(q[i]) <- p * z[i] r[i] ~ dbern(q[i]) } }";
  EXPECT_EQ(Code(betaShape, "list(r = c(0, 1), z = c(-1, 1))", "p"), 50);  // general: the grid on (0, 1)
  auto gammaShape = [](const std::string& shape) {
    return "var x, m, y[2]; { x ~ dgamma(" + shape + ", 1) m <- exp(x) for (i in 1:2) { y[i] ~ dpois(m) } }";
  };
  EXPECT_EQ(Code(gammaShape("2"), "list(y = c(1, 2))", "x"), 28);
  EXPECT_EQ(Code(gammaShape("0.5"), "list(y = c(1, 2))", "x"), 44);  // no method
  const std::string general = "var x, m, y; { x ~ dunif(0, 10) m <- log(x) y ~ dnorm(m, 1) }";
  EXPECT_EQ(Code(general, "list(y = 1)", "x"), 50);
  const std::string upper = "var x, m, y; { x ~ dexp(1) I(, 4) m <- log(x) y ~ dnorm(m, 1) }";
  EXPECT_EQ(Code(upper, "list(y = 1)", "x"), 50);
  const std::string lower = "var x, m, y; { x ~ dexp(1) I(1, ) m <- log(x) y ~ dnorm(m, 1) }";
  EXPECT_EQ(Code(lower, "list(y = 1)", "x"), 49);
}

TEST_F(ClassDenTest, CountsOfBinomialTermsMustBeNonNegativeConstants) {
  const std::string model = "var p, k, m, r; { p ~ dbeta(1, 1) k ~ dpois(5) m <- k - 3 r ~ dbin(p, m) }";
  // m is a count shifted down, of either sign as far as the classification
  // can tell, so p's full conditional is general: the grid.
  EXPECT_EQ(Code(model, "list(r = 2)", "p"), 50);
}

TEST_F(ClassDenTest, LikelihoodTermsAreFoldedInListOrder) {
  // Terms of rate, gamma and log-concave form combine in that order, not in
  // the reverse one: the two orders of the same relations differ.
  const std::string terms[] = {"a ~ dgamma(2, x)", "b ~ dpois(x)", "c ~ dexp(e)"};
  std::vector<int32_t> codes;
  // The declaration order sets the order of the likelihood list.
  for (const std::string order : {"abc", "acb"}) {
    std::string decl;
    for (char k : order) decl += std::string(", ") + k;
    codes.push_back(
        Code("var x, e" + decl + "; { x ~ dgamma(1, 1) e <- exp(x) " + terms[0] + " " + terms[1] + " " + terms[2] + "}", "list(a = 1, b = 2, c = 0.5)", "x"));
  }
  EXPECT_EQ(codes, (std::vector<int32_t>{28, 49}));
}

TEST_F(ClassDenTest, NormalBlocksChooseTheirBlockUpdate) {
  const std::string prior = "var x[2], mu[2], T[2, 2], y[2]; { x[1:2] ~ dmnorm(mu[], T[, ]) ";
  const std::string data = "list(mu = c(0, 0), T = structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2)), ";
  auto list = Register(prior + "y[1] ~ dnorm(x[1], 1) y[2] ~ dnorm(x[2], 1) }",
                       data + "y = c(1, 2))", "list(x = c(0, 0))");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->update, &GibbsSam_MNormal1);

  list = Register("var x[2], mu[2], T[2, 2], y[2]; { x[1:2] ~ dmnorm(mu[], T[, ]) y[1:2] ~ dmnorm(x[], T[, ]) }",
                  data + "y = c(1, 2))", "list(x = c(0, 0))");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->update, &GibbsSam_MNormal2);

  // A normal term whose mean is a multiple of the block: each component
  // alone, one record each.
  list = Register(
      "var x[2], mu[2], T[2, 2], z[2], y[2]; { x[1:2] ~ dmnorm(mu[], T[, ]) "
      "for (i in 1:2) { z[i] <- 2 * x[i] } y[1:2] ~ dmnorm(z[], T[, ]) }",
      data + "y = c(1, 2))", "list(x = c(0, 0))");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->update, &GibbsSam_Normal);
  EXPECT_EQ(list[1]->update, &GibbsSam_Normal);
  EXPECT_EQ(list[0]->node, N("x", 1));
}

TEST_F(ClassDenTest, SweepsVisitNodesInDecreasingNumber) {
  auto list = Register("var a, k, b, c, y; { a ~ dnorm(0, 1) b ~ dnorm(a, 1) c ~ dgamma(1, 1) y ~ dnorm(b, c) }",
                       "list(k = 1, y = 2)", "list(a = 0, b = 0, c = 1)");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->node, N("c"));
  EXPECT_EQ(list[1]->node, N("b"));
  EXPECT_EQ(list[2]->node, N("a"));
  EXPECT_EQ(list[0]->update, &GibbsSam_Gamma);
}

TEST_F(ClassDenTest, NodesWithoutLikelihoodAreDrawnLastAfterTheirParents) {
  // e and d are predictions numbered before the nodes they depend on; w has
  // no parents at all. They follow every other update, parents first.
  auto list = Register("var e, d, w, mu, z; { mu ~ dnorm(0, 1) z ~ dnorm(mu, 1) d ~ dnorm(mu, 1) "
                       "e ~ dnorm(d, 1) w ~ dgamma(1, 1) }",
                       "list(z = 1)", "list(mu = 0, d = 0, e = 0, w = 1)");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]->node, N("mu"));
  EXPECT_EQ(list[1]->node, N("d"));
  EXPECT_EQ(list[2]->node, N("e"));
  EXPECT_EQ(list[3]->node, N("w"));
  EXPECT_EQ(list[3]->update, static_cast<Samplers_Proc>(&GibbsSam_DirectSample));
}

TEST_F(ClassDenTest, RejectionAndGridUpdatersTakeOneNodeEach) {
  auto list = Register("var x[2], m[2], y[2]; { for (i in 1:2) { x[i] ~ dunif(0, 10) m[i] <- log(x[i]) "
                       "y[i] ~ dnorm(m[i], 1) } }",
                       "list(y = c(1, 2))", "list(x = c(1, 2))");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->update, &Griddy_Updater);
  EXPECT_EQ(list[1]->update, &Griddy_Updater);
  EXPECT_TRUE(Says("Metropolis method choosen for node x[1]\nMetropolis method choosen for node x[2]\n"))
      << Console();

  list = Register("var a, b, p[3], r[3], z[3]; { a ~ dnorm(0, 1.0E-6) b ~ dnorm(0, 1.0E-6) "
                  "for (i in 1:3) { logit(p[i]) <- a + b * z[i] r[i] ~ dbern(p[i]) } }",
                  "list(r = c(0, 1, 1), z = c(-1, 0, 1))", "list(a = 0, b = 0)");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->update, &DFreeARS_FullArs);
  EXPECT_EQ(list[1]->update, &DFreeARS_FullArs);
  EXPECT_FALSE(Says("Metropolis"));
}

TEST_F(ClassDenTest, NodeWithoutMethodEndsTheRunNamingIt) {
  const std::string model = "var x, m, y[2]; { x ~ dgamma(0.5, 1) m <- exp(x) for (i in 1:2) { y[i] ~ dpois(m) } }";
  ASSERT_TRUE(Build(model, "list(y = c(1, 2))")) << Console();
  EXPECT_EXIT(ClassDen_ChooseUpdateMethod(), testing::ExitedWithCode(1), "");
  const std::string log = test::ReadFile("t.log");
  EXPECT_NE(log.find(" for node: x\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Unable to choose update method for node"), std::string::npos) << log;
}

TEST_F(ClassDenTest, BlocksBeyondTheSamplersCapacityAreRefused) {
  std::string alpha = "list(alpha = c(1", p = "list(p = c(0.01";
  for (int i = 1; i < 101; ++i) {
    alpha += ", 1";
    p += i < 100 ? ", 0.01" : ", 0";
  }
  ASSERT_TRUE(Build("var p[101], alpha[101]; { p[1:101] ~ ddirch(alpha[]) }", alpha + "))", p + "))"))
      << Console();
  EXPECT_EXIT(ClassDen_ChooseUpdateMethod(), testing::ExitedWithCode(1), "");
  EXPECT_NE(test::ReadFile("t.log").find("Block has more than 100 components."), std::string::npos);
}

}  // namespace

namespace {

struct SupportCase {
  const char* model;
  const char* data;
  const char* node;
  int32_t code;
};

}  // namespace

// Supports come from the distribution's row. A whole-line prior under terms
// that allow only a positive mean is log-concave on whatever interval those
// terms allow, found while sampling: the whole-line procedure (27), not the
// one cut off at 0. dpow is beta(a, 1); a normal with both bounds and a
// general term goes to the grid; a zipf prior is drawn directly; a Poisson
// count of trials keeps a binomial term conjugate.
TEST_F(ClassDenTest, SupportsComeFromTheDistributionRow) {
  const std::string shifted = "var x, m, y; { x ~ PRIOR m <- x + 0.5 y ~ dpois(m) }";
  const auto with = [&](const char* prior) {
    std::string s = shifted;
    return s.replace(s.find("PRIOR"), 5, prior);
  };
  const std::vector<std::pair<std::string, SupportCase>> cases = {
      {with("dgum(0.5, 1)"), {"", "list(y = 1)", "x", 27}},
      {with("dlogis(0.5, 1)"), {"", "list(y = 1)", "x", 27}},
      {with("dnorm(0.5, 1)"), {"", "list(y = 1)", "x", 27}},
      {with("ddexp(0.5, 1)"), {"", "list(y = 1)", "x", 27}},
      {with("dgum(0.5, 1) I(-2, )"), {"", "list(y = 1)", "x", 28}},
      {with("dnorm(0.5, 1) I(-2, 3)"), {"", "list(y = 1)", "x", 30}},
      {"var x, y; { x ~ dnorm(1, 1) y ~ dpois(x) }", {"", "list(y = 2)", "x", 27}},
      {"var p, y[2]; { p ~ dpow(2) for (i in 1:2) { y[i] ~ dbern(p) } }", {"", "list(y = c(0, 1))", "p", 17}},
      {"var p, y; { p ~ dpow(2) I(0.2, ) y ~ dbern(p) }", {"", "list(y = 1)", "p", 18}},
      {"var p, y; { p ~ dpow(0.5) y ~ dnorm(p, 1) }", {"", "list(y = 1)", "p", 50}},
      {"var x, m, y; { x ~ dnorm(0, 1) I(-1, 2) m <- x * x y ~ dnorm(m, 1) }", {"", "list(y = 1.5)", "x", 50}},
      {"var x, m, y; { x ~ dnorm(0, 1) I(-1, ) m <- x * x y ~ dnorm(m, 1) }", {"", "list(y = 1.5)", "x", 49}},
      {"var p, N, y; { p ~ dbeta(1, 1) N ~ dpois(20) y ~ dbin(p, N) }", {"", "list(y = 7)", "p", 17}},
  };
  for (const auto& [model, c] : cases) EXPECT_EQ(Code(model, c.data, c.node), c.code) << model;
  // A zipf prior needs a start of at least 1.
  for (const auto& [model, code] : {std::pair{"var z; { z ~ dzipf(2) }", 5}, {"var z; { z ~ dzipf(2) I(, 50) }", 7}}) {
    ASSERT_TRUE(Build(model, "", "list(z = 1)")) << Console();
    EXPECT_EQ(ClassDen_MethodCode(N("z")), code) << model;
  }
}

// ---- classification of whole models, recorded as results

// For every stochastic node of the model, in node order: its method code,
// then the form of every logical node as a function of it, one hexadecimal
// digit each (A for generalForm). The expected texts were recorded from the
// classifier that walked every path afresh; a node reached along several
// paths, or by many terms, must give the same answer when it is classified
// once.
class ClassDenFormsTest : public ClassDenTest {
 protected:
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
  struct Case {
    const char* name;
    const char* model;
    const char* data;
    const char* inits;
    const char* expected;
  };
  static const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
      {"linear",
       "var a, b, tau, x[3], mu[3], y[3]; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) tau ~ dgamma(1, 1)"
       " for (i in 1:3) { mu[i] <- a + b * (x[i] - 1) y[i] ~ dnorm(mu[i], tau) } }",
       "list(x = c(0.5, 1, 2), y = c(1, 2, 2.5))", "list(a = 0, b = 0, tau = 1)",
       "9:535 9:525 13:222 "},
      {"log-linear",
       "var a, b, r, r2, x[3], lam[3], y[3], z[3]; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) r ~ dgamma(1, 1) r2 <- r * 2"
       " for (i in 1:3) { log(lam[i]) <- a + b * x[i] y[i] ~ dpois(lam[i]) z[i] ~ dexp(r2) } }",
       "list(x = c(-1, 0, 1), y = c(1, 2, 4), z = c(0.5, 1, 2))", "list(a = 0, b = 0, r = 1)",
       "27:0777 27:0707 13:4000 "},
      {"inverse links",
       "var a, b, c, q, w, x[3], n[3], p[3], y[3]; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) c ~ dnorm(0, 1)"
       " for (i in 1:3) { logit(p[i]) <- a + b * x[i] y[i] ~ dbin(p[i], n[i]) } q <- phi(c) w ~ dbern(q) }",
       "list(x = c(-1, 0, 1), n = c(5, 5, 5), y = c(1, 2, 4), w = 1)", "list(a = 0, b = 0, c = 0)",
       "27:2666 27:2626 27:6222 "},
      {"general",
       "var u, v, y, g, h, y2, k, m, y3, e, ee, y4; { u ~ dunif(0, 5) v <- sin(u) * u y ~ dnorm(v, 1)"
       " g ~ dgamma(1, 1) h <- pow(g, 2) y2 ~ dnorm(0, h) k ~ dnorm(0, 1) I(0, ) m <- max(k, 1)"
       " y3 ~ dnorm(m, 1) e ~ dnorm(0, 1) ee <- exp(e) + 1 y4 ~ dpois(ee) }",
       "list(y = 1, y2 = 0.5, y3 = 2, y4 = 3)", "list(u = 1, g = 1, k = 1, e = 0)",
       "50:A000 49:2800 10:2050 49:2009 "},
      {"shared aggregates",
       "var x[4], s, mn, t, y[3], z[3]; { for (j in 1:4) { x[j] ~ dnorm(0, 1) } s <- sum(x[])"
       " mn <- mean(x[]) t ~ dgamma(1, 1) for (i in 1:3) { y[i] ~ dnorm(s, 1) z[i] ~ dnorm(mn, t) } }",
       "list(y = c(1, 2, 3), z = c(0, 1, 2))", "list(x = c(0, 0, 0, 0), t = 1)",
       "9:55 9:55 9:55 9:55 13:22 "},
      {"two paths",
       "var x, a, b, c, d, f[12], g, gg[4], y1, y2, y3, y4, y5; { x ~ dnorm(0, 1) a <- 2 * x b <- a + a"
       " c <- a * a d <- b - a f[1] <- x for (i in 2:12) { f[i] <- f[i - 1] + f[i - 1] }"
       " g ~ dgamma(1, 1) gg[1] <- g for (i in 2:4) { gg[i] <- gg[i - 1] * gg[i - 1] }"
       " y1 ~ dnorm(b, 1) y2 ~ dnorm(c, 1) y3 ~ dnorm(d, 1) y4 ~ dnorm(f[12], 1) y5 ~ dnorm(0, gg[4]) }",
       "list(y1 = 1, y2 = 1, y3 = 1, y4 = 1, y5 = 1)", "list(x = 0, g = 1)",
       "49:44A53444444444440000 49:22222222222222223AAA "},
      {"vectors and selections",
       "var b[3], zz[3], ip, yi, k, p[3], mu[3], yk, w[2], m0[2], T[2,2], o[2], al[3], pr[3], c2, sq;"
       " { for (i in 1:3) { b[i] ~ dnorm(0, 1) mu[i] ~ dnorm(0, 1) } ip <- inprod(b[], zz[]) yi ~ dnorm(ip, 1)"
       " sq <- sd(mu[]) k ~ dcat(p[]) yk ~ dnorm(mu[k], sq) w[1:2] ~ dmnorm(m0[], T[,]) o[1:2] ~ dmnorm(w[], T[,])"
       " pr[1:3] ~ ddirch(al[]) c2 ~ dcat(pr[]) }",
       "list(zz = c(1, -2, 3), yi = 1, p = c(0.2, 0.3, 0.5), yk = 1, m0 = c(0, 0), T = c(1, 0, 0, 1),"
       " o = c(1, 2), al = c(1, 1, 1), c2 = 2)",
       "list(b = c(0, 0, 0), mu = c(0, 1, 2), k = 1, w = c(0, 0), pr = c(0.3, 0.3, 0.4))",
       "9:502 9:502 9:502 31:20A 49:2A3 49:2A3 49:2A3 24:202 26:202 "},
  };
    return cases;
  }
};

TEST_F(ClassDenFormsTest, MethodsAndFormsOfSmallModelsAreUnchanged) {
  for (const Case& c : Cases()) {
    if (!Build(c.model, c.data, c.inits)) {
      ADD_FAILURE() << c.name << "\n" << Console();
      continue;
    }
    EXPECT_EQ(Signature(), c.expected) << c.name;
  }
}

// Within a session a sum over plain nodes is read once and answered for
// every block from its folds; the answers must be those of the walk over
// every element: sums over data of both signs, columns (a stride above 1),
// elements that are components of a block or logical nodes, a block that
// covers part of the sum.
TEST_F(ClassDenFormsTest, SumsReadOnceInASessionGiveTheWalksAnswers) {
  const std::pair<const char*, const char*> cases[] = {
      {"var x[5], d[5], m[3,2], u[3,2], w[2], m0[2], T[2,2], z[4], t, s[8], y[8];"
       " { for (j in 1:5) { x[j] ~ dnorm(0, 1) } for (i in 1:3) { m[i, 1] ~ dgamma(1, 1) m[i, 2] ~ dnorm(0, 1) }"
       " w[1:2] ~ dmnorm(m0[], T[,]) for (k in 1:3) { z[k] <- 2 * x[k] } z[4] ~ dnorm(0, 1) t ~ dgamma(1, 1)"
       " d[4] ~ dnorm(0, 1) u[2, 1] ~ dgamma(1, 1) u[2, 2] ~ dnorm(0, 1) s[1] <- sum(x[]) s[2] <- mean(d[]) s[3] <- sum(m[, 1]) s[4] <- sum(m[, 2]) s[5] <- sum(u[,])"
       " s[6] <- sum(w[]) s[7] <- sum(z[]) s[8] <- mean(x[2:4])"
       " for (i in 1:8) { y[i] ~ dnorm(s[i], t) } }",
       "list(d = c(1, -2, 3, NA, 5), u = c(1, 2, NA, NA, 5, 6), m0 = c(0, 0), T = c(1, 0, 0, 1),"
       " y = c(1, 2, 3, 4, 5, 6, 7, 8))"},
      {"var g[4], c[4], s, y; { for (j in 1:4) { g[j] ~ dgamma(1, 1) } s <- sum(g[]) + sum(c[]) y ~ dpois(s) }",
       "list(c = c(1, 2, 0, 4), y = 3)"},
  };
  for (const auto& [model, data] : cases) {
    if (!Build(model, data, "")) {
      ADD_FAILURE() << model << "\n" << Console();
      continue;
    }
    const std::string walked = Signature();
    const ClassFun_Session session;
    EXPECT_EQ(Signature(), walked) << model;
  }
  for (const Case& c : Cases()) {
    ASSERT_TRUE(Build(c.model, c.data, c.inits)) << c.name << "\n" << Console();
    const ClassFun_Session session;
    EXPECT_EQ(Signature(), c.expected) << c.name;
  }
}

// The method rows: each is found under its own name, no two share a code,
// and the member of a family that keeps to given bounds keeps to them and
// belongs to the same family (the one-sided and two-sided rejection
// procedures, the truncated normal draws, ...).
TEST(ClassDenMethods, RowsAndBoundedVariantsAgree) {
  std::vector<int32_t> codes;
  for (int32_t i = 0; i < ClassDen_numMethods; ++i) {
    const auto method = static_cast<ClassDen_Method>(i);
    const ClassDen_MethodRow& row = ClassDen_Of(method);
    EXPECT_EQ(row.method, method) << i;
    EXPECT_EQ(std::count(codes.begin(), codes.end(), row.code), 0) << row.code;
    codes.push_back(row.code);
    for (int32_t b = 0; b < ClassDen_numBounds; ++b) {
      const auto bounds = static_cast<ClassDen_Bounds>(b);
      const ClassDen_MethodRow& variant = ClassDen_Of(ClassDen_WithBounds(method, bounds));
      EXPECT_EQ(variant.family, row.family) << row.code;
      if (variant.method != method) {
        EXPECT_EQ(variant.bounds, bounds) << row.code;
      }
    }
  }
  EXPECT_EQ(ClassDen_Of(ClassDen_WithBounds(ClassDen_Method::rejection, ClassDen_bothBounds)).procedure,
            &DFreeARS_TruncArs);
  EXPECT_EQ(ClassDen_Of(ClassDen_WithBounds(ClassDen_Method::normalBoth, ClassDen_lowerOnly)).procedure,
            &GibbsSam_LNormal);
}
