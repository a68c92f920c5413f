#include "graph/CodeGen.h"

#include <bit>
#include <vector>

#include "FrontEnd.h"
#include "Methods.h"
#include "numerics/RandNum.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"
#include "graph/Determ.h"
#include "store/Distrib.h"

namespace {

using Code = std::vector<int32_t>;

class CodeGenTest : public test::FrontEnd {
 protected:
  void SetUp() override {
    FrontEnd::SetUp();
    InitCodeGen();
    InitDeterm();
  }

  // Compiles a model through node generation; the error text, empty when none.
  std::string Generate(const std::string& model) {
    Reset();
    InitCodeGen();
    Parser_Tree* head = Compile(model);
    if (head != nullptr) CodeGen_WriteGraph(head);
    std::string log = Console();
    size_t at = log.find(" -- error  -- \n");
    return at == std::string::npos ? "" : log.substr(at + 15, log.find('\n', at + 15) - at - 15);
  }

  static Graph_Node* Node(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }
};

TEST_F(CodeGenTest, LinearPredictorGetsPostfixCodeAndOperands) {
  test::WriteFile("d.dat", "list(x = c(1, 2, 3), xbar = 2)");
  ASSERT_EQ(Generate("model m; var x[3], xbar, alpha, beta, mu[3]; data in \"d.dat\";\n"
                     "{ for (i in 1:3) { mu[i] <- alpha + beta * (x[i] - xbar) }\n"
                     "  alpha ~ dnorm(0, 1) beta ~ dnorm(0, 1) }"),
            "");
  Graph_Node* mu2 = Node("mu", 1);
  EXPECT_EQ(mu2->kind, Graph_logical);
  EXPECT_EQ(mu2->stack, (Code{23, 23, 23, 23, 2, 3, 1, 21}));
  EXPECT_EQ(mu2->numParents, 4);
  EXPECT_EQ(mu2->parents, (std::vector<Graph_Node*>{Node("alpha"), Node("beta"), Node("x", 1), Node("xbar")}));
  Graph_Own(Node("alpha")) = 1.0;
  Graph_Own(Node("beta")) = 3.0;
  EXPECT_DOUBLE_EQ(mu2->valueFunction(mu2), 1.0);
  EXPECT_DOUBLE_EQ(Node("mu", 2)->valueFunction(Node("mu", 2)), 4.0);
}

TEST_F(CodeGenTest, LoopsUnrollWithBoundsEvaluatedOnEveryEntry) {
  ASSERT_EQ(Generate("model m; var y[3, 3], z;\n"
                     "{ for (i in 1:3) { for (j in 1:i) { y[i, j] ~ dnorm(0, 1) } }\n"
                     "  for (k in 1:0) { z ~ dnorm(0, 1) } }"),
            "");
  EXPECT_NE(Node("y", 3 * 2 + 2), nullptr);  // y[3,3]
  EXPECT_EQ(Node("y", 0 * 3 + 1), nullptr);  // y[1,2] lies outside the triangle
  EXPECT_EQ(Node("z"), nullptr);             // an empty loop runs no relation
}

TEST_F(CodeGenTest, DataOnlyLogicalNodesAndPicksAreFolded) {
  test::WriteFile("d.dat", "list(a = 2, b = 3, x = c(10, 20, 30), k = c(3, 1), w = 2.0000005)");
  ASSERT_EQ(Generate("model m; var a, b, z, x[3], k[2], y[2], g, h[3], s, q, w, v, kk;\n"
                     "data in \"d.dat\";\n"
                     "{ z <- a + b  for (i in 1:2) { y[i] <- x[k[i]] }\n"
                     "  for (j in 1:3) { h[j] ~ dnorm(0, 1) }\n"
                     "  g ~ dcat(x[]) s <- h[g]  kk <- b - 1  q <- h[kk]  v <- x[w] }"),
            "");
  EXPECT_EQ(Node("z")->kind, Graph_data);
  EXPECT_EQ(Graph_Own(Node("z")), 5.0);
  EXPECT_TRUE(Node("z")->stack.empty());
  EXPECT_EQ(Node("y", 0)->kind, Graph_data);  // a data index picks a data element
  EXPECT_EQ(Graph_Own(Node("y", 0)), 30.0);
  EXPECT_EQ(Graph_Own(Node("v")), 20.0);  // 2.0000005 counts as 2
  // A stochastic index keeps its pick; a folded one becomes a plain reference.
  Graph_Node* pick = Node("s")->parents[0];
  EXPECT_EQ(pick->stack, (Code{20, 1, SymTabs_FindName("h")->firstNode, 3, 1}));
  EXPECT_EQ(pick->parents[0], Node("g"));
  Graph_Node* folded = Node("q")->parents[0];
  EXPECT_EQ(folded->stack, (Code{23, 21}));
  EXPECT_EQ(folded->parents[0], Node("h", 1));
}

TEST_F(CodeGenTest, StochasticNodesGetParametersAndBoundSlots) {
  ASSERT_EQ(Generate("model m; var x, u, c, mu, tau, b;\n"
                     "{ x ~ dt(mu, tau, 4) u ~ dunif(0, 1) c ~ dcauchy(mu, tau)\n"
                     "  b ~ dnorm(mu, tau) I(0, ) mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) }"),
            "");
  Graph_Node* x = Node("x");
  EXPECT_EQ(x->density, Distrib_dnorm);
  ASSERT_EQ(x->numParents, 2);
  EXPECT_EQ(x->parents[0], Node("mu"));
  Graph_Node* precision = x->parents[1];
  EXPECT_EQ(precision->stack, (Code{23, 23, 3, 23, 4, 21}));
  Graph_Node* w = precision->parents[0];
  EXPECT_EQ(w->density, Distrib_dchisq);
  EXPECT_EQ(Graph_Own(w), 1.0);
  EXPECT_EQ(precision->parents[1], Node("tau"));
  EXPECT_EQ(Graph_Own(precision->parents[2]), 4.0);
  Graph_Node* u = Node("u");
  ASSERT_EQ(u->numParents, 4);
  EXPECT_EQ(u->parents[2], u->parents[0]);
  EXPECT_EQ(u->parents[3], u->parents[1]);
  EXPECT_EQ(Graph_Own(Node("c")->parents[1]->parents[2]), 1.0);
  Graph_Node* b = Node("b");
  ASSERT_EQ(b->numParents, 4);
  EXPECT_EQ(Graph_Own(b->parents[2]), 0.0);
  EXPECT_EQ(b->parents[3], nullptr);
}

TEST_F(CodeGenTest, EveryKeywordGetsItsDistributionParametersAndShapes) {
  test::WriteFile("k.dat",
                  "list(p = c(0.2, 0.3, 0.5), m = c(0, 0), T = structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2)))");
  // One relation per keyword: the density it gets, its parent count, and
  // for dpar and dunif which parameters fill the bound slots (-1: empty).
  const struct {
    const char* relation;
    int32_t density, numParents, lower, upper;
  } cases[] = {
      {"x ~ dbern(0.5)", Distrib_dbern, 1, 0, 0},
      {"x ~ dbeta(1, 2)", Distrib_dbeta, 2, 0, 0},
      {"x ~ dbin(0.5, 4)", Distrib_dbin, 2, 0, 0},
      {"x ~ dcat(p[])", Distrib_dcat, 2, 0, 0},
      {"x ~ dchisq(3)", Distrib_dchisq, 1, 0, 0},
      {"x ~ ddexp(0, 1)", Distrib_ddexp, 2, 0, 0},
      {"x ~ dexp(1)", Distrib_dexp, 1, 0, 0},
      {"x ~ df(2, 3)", Distrib_df, 2, 0, 0},
      {"x ~ dgamma(1, 2)", Distrib_dgamma, 2, 0, 0},
      {"x ~ dgeom(0.5)", Distrib_dgeom, 1, 0, 0},
      {"x ~ dgum(0, 1)", Distrib_dgum, 2, 0, 0},
      {"x ~ dlogis(0, 1)", Distrib_dlogis, 2, 0, 0},
      {"x ~ dlnorm(0, 1)", Distrib_dlnorm, 2, 0, 0},
      {"x ~ dnegbin(0.5, 3)", Distrib_dnegbin, 2, 0, 0},
      {"x ~ dnorm(0, 1)", Distrib_dnorm, 2, 0, 0},
      {"x ~ dpar(2, 3)", Distrib_dpar, 4, 1, -1},
      {"x ~ dpois(2)", Distrib_dpois, 1, 0, 0},
      {"x ~ dpow(2)", Distrib_dpow, 1, 0, 0},
      {"x ~ dunif(2, 3)", Distrib_dunif, 4, 0, 1},
      {"x ~ dweib(1, 2)", Distrib_dweib, 2, 0, 0},
      {"x ~ dzipf(2)", Distrib_dzipf, 1, 0, 0},
      {"x ~ dt(0, 1, 3)", Distrib_dnorm, 2, 0, 0},
      {"x ~ dcauchy(0, 1)", Distrib_dnorm, 2, 0, 0},
      {"v[1:3] ~ ddirch(p[])", Distrib_ddirch, 1, 0, 0},
      {"v[1:2] ~ dmnorm(m[], T[, ])", Distrib_dmnorm, 2, 0, 0},
      {"v[1:3] ~ dmulti(p[], 5)", Distrib_dmulti, 2, 0, 0},
      {"W[, ] ~ dwish(T[, ], 3)", Distrib_dwish, 2, 0, 0},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Generate(std::string("model m; var x, v[3], W[2, 2], p[3], m[2], T[2, 2];\ndata in \"k.dat\";\n{ ") +
                       c.relation + " }"),
              "")
        << c.relation;
    const char* name = c.relation[0] == 'x' ? "x" : c.relation[0] == 'v' ? "v" : "W";
    Graph_Node* n = Node(name, name[0] == 'x' ? 0 : 1);
    EXPECT_EQ(n->density, c.density) << c.relation;
    ASSERT_EQ(n->numParents, c.numParents) << c.relation;
    if (c.numParents == 4) {
      EXPECT_EQ(n->parents[2], n->parents[static_cast<size_t>(c.lower)]) << c.relation;
      EXPECT_EQ(n->parents[3], c.upper < 0 ? nullptr : n->parents[static_cast<size_t>(c.upper)]) << c.relation;
    }
  }
  // Blocks whose parameters do not fit their shapes.
  const char* wrong[] = {
      "v[1:3] ~ ddirch(m[])", "v[1:2] ~ dmnorm(m[], p[])", "v[1:3] ~ dmulti(p[], m[])",
      "W[, ] ~ dwish(p[], 3)", "v[1] ~ ddirch(p[1:1])", "x ~ dcat(p[1:1])",
  };
  for (const char* relation : wrong)
    EXPECT_EQ(Generate(std::string("model m; var x, v[3], W[2, 2], p[3], m[2], T[2, 2];\ndata in \"k.dat\";\n{ ") +
                       relation + " }"),
              "Wrong size for parameter of density")
        << relation;
}

TEST_F(CodeGenTest, MultivariateParametersAndAggregates) {
  test::WriteFile("d.dat", "list(p = c(0.2, 0.3, 0.5))");
  ASSERT_EQ(Generate("model m; var x[3], mu[3], T[3, 3], p[3], s, S[3, 3], d, y;\n"
                     "data in \"d.dat\";\n"
                     "{ for (i in 1:3) { mu[i] ~ dnorm(0, 1) for (j in 1:3) { T[i, j] ~ dnorm(0, 1) } }\n"
                     "  x[1:3] ~ dmnorm(mu[], T[, ]) s <- sum(T[2, ]) S[, ] <- inverse(T[, ])\n"
                     "  d <- inprod(mu[], x[]) y ~ dcat(p[]) }"),
            "");
  int32_t t = SymTabs_FindName("T")->firstNode, mu = SymTabs_FindName("mu")->firstNode;
  EXPECT_EQ(Node("x", 2)->size, 3);
  EXPECT_EQ(Node("x", 2)->label, SymTabs_FindName("x")->firstNode);
  EXPECT_EQ(Node("s")->stack, (Code{29, 1, t + 3, 3, 1}));
  EXPECT_EQ(Node("S", 4)->stack, (Code{31, SymTabs_FindName("S")->firstNode, t, 3, 1, 3, 3}));
  EXPECT_EQ(Node("d")->stack, (Code{11, mu, 3, 1, SymTabs_FindName("x")->firstNode, 1}));
  EXPECT_EQ(Graph_Own(Node("y")->parents[1]), 3.0);  // the category count
}

TEST_F(CodeGenTest, RangesAfterTheFirstNameTheBlockTheySpan) {
  ASSERT_EQ(Generate("model m; var V[2, 2], R[2, 2], Q[3, 2], mu[2], P[3, 3], x[3, 3];\n"
                     "{ V[1:2, 1:2] ~ dwish(R[1:2, 1:2], 3) Q[2:3, 1:2] ~ dwish(R[, ], 4)\n"
                     "  for (i in 1:3) { x[1, i] ~ dnorm(0, 1) for (j in 1:3) { P[i, j] ~ dnorm(0, 1) } }\n"
                     "  for (i in 1:2) { for (j in 1:2) { R[i, j] ~ dnorm(0, 1) } }\n"
                     "  x[2, 1:3] ~ dmnorm(x[1, 1:3], P[1:3, 1:3]) }"),
            "");
  const int32_t v = SymTabs_FindName("V")->firstNode, r = SymTabs_FindName("R")->firstNode;
  const int32_t q = SymTabs_FindName("Q")->firstNode, x = SymTabs_FindName("x")->firstNode;
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(Node("V", k)->size, 4);
    EXPECT_EQ(Node("V", k)->label, v);
    EXPECT_EQ(Node("Q", 2 + k)->label, q + 2);
    EXPECT_EQ(Node("Q", 2 + k)->parents[0]->label, r);
  }
  EXPECT_EQ(Node("V")->parents[0]->label, r);
  EXPECT_EQ(Node("Q", 0), nullptr);  // the block begins at Q[2, 1]
  EXPECT_EQ(Node("x", 3)->parents[0]->label, x);
  EXPECT_EQ(Node("x", 3)->parents[1]->label, SymTabs_FindName("P")->firstNode);
}

TEST_F(CodeGenTest, Errors) {
  const char* notContiguous = "Block is not contiguous: every index after the first range must span its whole extent.";
  const std::pair<const char*, const char*> cases[] = {
      {"{ a <- 1 a <- 2 }", "Node already infered to be data or stochastic."},
      {"{ a ~ dnorm(0, 1) a ~ dnorm(0, 1) }", "Node already defined."},
      {"{ a ~ dnorm(b, 1) a <- b * 2 b ~ dnorm(0, 1) }", "Node already defined."},
      {"{ v[1:2] ~ dnorm(0, 1) }", "Invalid use of mulivariate node."},
      {"{ a <- v[] }", "Invalid use of mulivariate node."},
      {"{ a <- inprod(v[], w[1:2]) }", "Size mismatch for vectors in inprod."},
      {"{ for (i in 1:3) { v[i] ~ dnorm(0, 1) } a <- v[k] k ~ dcat(v[]) }", ""},
      {"{ a <- v[k] }", "Made use of undefined node."},
      {"{ v[1:3] ~ dmnorm(w[], T[, ]) }", "Wrong size for parameter of density"},
      {"{ a <- b + 1 b <- a * 2 }", "Logical relations form a directed cycle."},
      {"{ a <- b + (b + (b + (b + (b + (b + (b + (b + (b + (b + (b + b)))))))))) }",
       "Deterministic node is too complex to generate code for"},
      {"{ a <- v[4] }", "Index expression greater than array bound."},
      {"{ a <- probit(b) }", "Unexpected token in deterministic expression."},
      {"{ T[1:2, 1:2] ~ dwish(T[, ], 3) }", notContiguous},
      {"{ v[1:3] ~ dmnorm(v[], T[1:3, 2:3]) }", notContiguous},
      {"{ a ~ dnorm(T[1:1, 2:3], 1) }", notContiguous},
      {"{ v[1:3] ~ dmnorm(v[] * 2, T[, ]) }", "Invalid use of mulivariate node."},
      {"{ a ~ dnorm(b + v[4], 1) }", "Index expression greater than array bound."},
  };
  for (auto [body, message] : cases)
    EXPECT_EQ(Generate(std::string("model m; var a, b, k, v[3], w[2], T[3, 3];\n") + body), message)
        << body;
}

TEST_F(CodeGenTest, LogicalChainsOfAnyLengthAreGenerated) {
  // Neither evaluation nor the classification of a distribution's
  // parameters follows a chain by nested calls, so no length is refused.
  auto chain = [](int n, const std::string& reader) {
    return "model m; var x[" + std::to_string(n) + "], y, k, w;\n{ x[1] ~ dnorm(0, 1)\n  for (t in 2:" +
           std::to_string(n) + ") { x[t] <- x[t - 1] + 1 } " + reader + " }";
  };
  const std::pair<int, std::string> cases[] = {
      {5000, "y ~ dnorm(x[5000], 1)"},
      {200000, "y ~ dnorm(x[200000], 1)"},
      {200000, "y ~ dnorm(x[k], 1) k ~ dcat(x[1:3])"},
      {200000, "w <- x[2] y ~ dnorm(w, 1)"},
      {200000, ""},
  };
  for (const auto& [n, reader] : cases) {
    ASSERT_EQ(Generate(chain(n, reader)), "") << n << " " << reader;
    Graph_Own(Node("x", 0)) = 0.5;
    Graph_Node* end = Node("x", n - 1);
    EXPECT_DOUBLE_EQ(end->valueFunction(end), n - 0.5) << n;
  }
}

TEST_F(CodeGenTest, AnOperandWithoutANodeEndsTheRun) {
  EXPECT_EXIT(Generate("model m; var a, b;\n{ a <- b + 1 }"), testing::ExitedWithCode(1), "");
  EXPECT_NE(Console().find("Node has undefined parent."), std::string::npos);
}

// A parameter written as an expression and the same model with the expression
// given a name: the stochastic nodes of both must get the same update method
// and plan and draw the same values from the same seed, bit for bit.
class ParameterExpressionTest : public test::Methods {
 protected:
  struct Run {
    std::vector<Samplers_Proc> methods;
    std::vector<int32_t> plans;
    std::vector<double> values;  // every stochastic node named by `names`, after each sweep
  };

  // The declared stochastic nodes of the variables named, in declaration order.
  static std::vector<Graph_Node*> Stochastic(const std::vector<std::string>& names) {
    std::vector<Graph_Node*> nodes;
    for (const std::string& name : names) {
      const SymTabs_Name* n = SymTabs_FindName(name);
      for (int32_t k = n->firstNode; k <= n->lastNode; ++k)
        if (Graph_nodes[k] != nullptr && Graph_nodes[k]->kind == Graph_stochastic) nodes.push_back(Graph_nodes[k]);
    }
    return nodes;
  }

  Run Sample(const std::string& model, const std::string& data, const std::vector<std::string>& names) {
    Run run;
    Compile(model, data);
    if (HasFatalFailure()) return run;
    const std::vector<Graph_Node*> nodes = Stochastic(names);
    for (const Graph_Node* n : nodes) {
      run.methods.push_back(RecordOf(n).update);
      run.plans.push_back(RecordOf(n).plan);
    }
    EXPECT_TRUE(RandNum_SetSeed(4711));
    Plans_Begin();
    Plans_BeginChain();
    for (int sweep = 0; sweep < 2 * Plans_resumEvery + 5; ++sweep) {
      bool aborted = false, error = false;
      Samplers_Update(aborted, error);
      EXPECT_FALSE(error) << Samplers_part->failure;
      Plans_SweepDone();
      for (const Graph_Node* n : nodes) run.values.push_back(Graph_Own(n));
    }
    Plans_EndChain();
    Plans_End();
    return run;
  }
};

TEST_F(ParameterExpressionTest, DrawsAndMethodsEqualThoseOfANamedLogicalNode) {
  const std::string data =
      "list(x = c(-1.2, -0.3, 0.4, 1.1, 1.9), y = c(-1.4, 0.2, 0.9, 2.3, 3.8), r = c(0, 0, 1, 1, 1),"
      " w = c(1, 2, 1, 0.5, 1), s = 3, f = 5, n = 12, k = 4)";
  struct Case {
    const char* what;
    const char* hidden;   // the body with parameters written as expressions
    const char* named;    // the same with each expression a named logical node
    Samplers_Proc methodOfA;
  };
  const Case cases[] = {
      {"linear mean, conjugate normal with plans",
       "for (i in 1:5) { y[i] ~ dnorm(a + b * x[i], tau) } a ~ dnorm(0, 0.01) b ~ dnorm(0, 0.01) tau ~ dgamma(1, 1)",
       "for (i in 1:5) { m[i] <- a + b * x[i] y[i] ~ dnorm(m[i], tau) } a ~ dnorm(0, 0.01) b ~ dnorm(0, 0.01)"
       " tau ~ dgamma(1, 1)", GibbsSam_Normal},
      {"negated mean and weighted precision",
       "for (i in 1:5) { y[i] ~ dnorm(-a, tau * w[i]) } a ~ dnorm(0, 0.01) tau ~ dgamma(1, 1)",
       "for (i in 1:5) { m[i] <- -a q[i] <- tau * w[i] y[i] ~ dnorm(m[i], q[i]) } a ~ dnorm(0, 0.01)"
       " tau ~ dgamma(1, 1)", GibbsSam_Normal},
      {"folded prior parameters, conjugate beta",
       "a ~ dbeta(1 + s, 1 + f) k ~ dbin(a, n)",
       "m[1] <- 1 + s m[2] <- 1 + f a ~ dbeta(m[1], m[2]) k ~ dbin(a, n)", GibbsSam_Beta},
      {"logistic predictor, adaptive rejection",
       "for (i in 1:5) { r[i] ~ dbern(1 / (1 + exp(-(a + b * x[i])))) } a ~ dnorm(0, 0.1) b ~ dnorm(0, 0.1)",
       "for (i in 1:5) { m[i] <- 1 / (1 + exp(-(a + b * x[i]))) r[i] ~ dbern(m[i]) } a ~ dnorm(0, 0.1)"
       " b ~ dnorm(0, 0.1)", DFreeARS_FullArs},
      {"scale mixture and an aggregate",
       "for (i in 1:5) { y[i] ~ dt(a * 2 - sum(x[]), tau, 4) } a ~ dnorm(0, 0.01) tau ~ dgamma(1, 1)",
       "for (i in 1:5) { m[i] <- a * 2 - sum(x[]) y[i] ~ dt(m[i], tau, 4) } a ~ dnorm(0, 0.01)"
       " tau ~ dgamma(1, 1)", GibbsSam_Normal},
  };
  const std::string declarations = "var x[5], y[5], r[5], w[5], s, f, n, k, a, b, tau";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The names come last, so every other node keeps its number.
    const Run hidden = Sample(declarations + ";\n{ " + c.hidden + " }", data, {"a", "b", "tau"});
    const Run named = Sample(declarations + ", m[5], q[5];\n{ " + c.named + " }", data, {"a", "b", "tau"});
    if (HasFatalFailure()) return;
    ASSERT_FALSE(hidden.methods.empty());
    EXPECT_EQ(hidden.methods[0], c.methodOfA);
    EXPECT_EQ(hidden.methods, named.methods);
    EXPECT_EQ(hidden.plans, named.plans);
    ASSERT_EQ(hidden.values.size(), named.values.size());
    for (size_t i = 0; i < named.values.size(); ++i)
      ASSERT_EQ(std::bit_cast<uint64_t>(hidden.values[i]), std::bit_cast<uint64_t>(named.values[i])) << "draw " << i;
  }
}

}  // namespace
