#include "graph/CodeGen.h"

#include <cmath>
#include <vector>

#include "FrontEnd.h"
#include "graph/Determ.h"
#include "store/Distrib.h"

namespace {

// Errors of code generation and blocks of the wrong size: the scenarios graph_code_* and graph_size_*.
class CodeGenTest : public test::FrontEnd {
 protected:
  bool Generate(const std::string& model) {  // through node generation, without an error
    Reset(), InitCodeGen(), InitDeterm();
    Parser_Tree* head = Compile(model);
    if (head != nullptr) CodeGen_WriteGraph(head);
    return head != nullptr && !CodeGen_error && Console().find(" -- error  -- ") == std::string::npos;
  }
  static Graph_Node* Node(const std::string& name, int offset = 0) { return Graph_nodes[SymTabs_FindName(name)->firstNode + offset]; }
  static double V(Graph_Node* n) { return n->valueFunction(n); }
};

TEST_F(CodeGenTest, GeneratedNodesComputeTheirValues) {
  test::WriteFile("d.dat", "list(x = c(10, 20, 30), xbar = 20, a = 2, k = c(3, 1), w = 2.0000005, b = 3)");
  ASSERT_TRUE(Generate("model m; var x[3], xbar, a, k[2], w, b, c, mu[3], y[2], h[3], g, s, q, v, z, kk, t[3, 3], e, u;\n"
                     "data in \"d.dat\";\n"
                     "{ for (i in 1:3) { mu[i] <- c + e * (x[i] - xbar) h[i] ~ dnorm(0, 1) }\n"
                     "  for (i in 1:3) { for (j in 1:i) { t[i, j] ~ dnorm(0, 1) } }  for (i in 1:0) { z ~ dnorm(0, 1) }\n"
                     "  c ~ dnorm(0, 1) e ~ dnorm(0, 1) for (i in 1:2) { y[i] <- x[k[i]] }\n"
                     "  g ~ dcat(x[]) s <- h[g]  kk <- b - 1  q <- h[kk]  v <- x[w]  u <- a + b }")) << Console();
  Graph_Own(Node("c")) = 1.0, Graph_Own(Node("e")) = 0.5, Graph_Own(Node("h", 1)) = 7.0, Graph_Own(Node("h", 2)) = 9.0;
  Graph_Own(Node("g")) = 3.0;
  // Data-only nodes and data picks are folded to data (2.0000005 counts as 2); a stochastic index keeps its
  // pick, a folded one reads its element.
  const struct { const char* what; double got, want; } values[] = {
      {"mu[1]", V(Node("mu", 0)), -4.0}, {"mu[3]", V(Node("mu", 2)), 6.0}, {"u", Graph_Own(Node("u")), 5.0},
      {"y[1]", Graph_Own(Node("y", 0)), 30.0}, {"v", Graph_Own(Node("v")), 20.0},
      {"category count", Graph_Own(Node("g")->parents[1]), 3.0}, {"s", V(Node("s")->parents[0]), 9.0}, {"q", V(Node("q")->parents[0]), 7.0}};
  for (const auto& v : values) EXPECT_EQ(v.got, v.want) << v.what;
  EXPECT_TRUE(Node("mu", 1)->kind == Graph_logical && Node("u")->kind == Graph_data && Node("y")->kind == Graph_data);
  EXPECT_TRUE(Node("u")->stack.empty());
  EXPECT_TRUE(Node("s")->parents[0]->parents[0] == Node("g") && Node("q")->parents[0]->parents[0] == Node("h", 1));
  // Loop bounds are evaluated on every entry; an empty loop runs no relation.
  EXPECT_TRUE(Node("t", 3 * 2 + 2) != nullptr && Node("t", 0 * 3 + 1) == nullptr && Node("z") == nullptr);
}

TEST_F(CodeGenTest, StochasticNodesGetParametersAndBoundSlots) {
  ASSERT_TRUE(Generate("model m; var x, u, c, mu, tau, b, r;\n"
                     "{ x ~ dt(mu, tau, 4) u ~ dunif(0, 1) c ~ dcauchy(mu, tau) r ~ dpar(2, 3)\n"
                     "  b ~ dnorm(mu, tau) I(0, ) mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) }")) << Console();
  // dt is a normal whose precision is tau times a chi-square variate over k.
  Graph_Node* x = Node("x");
  ASSERT_TRUE(x->density == Distrib_dnorm && x->numParents == 2 && x->parents[0] == Node("mu"));
  Graph_Node *precision = x->parents[1], *w = precision->parents[0];
  EXPECT_TRUE(w->density == Distrib_dchisq && Graph_Own(w->parents[0]) == 4.0);
  Graph_Own(w) = 2.0, Graph_Own(Node("tau")) = 3.0;
  EXPECT_EQ(V(precision), 2.0 * 3.0 / 4.0);
  EXPECT_EQ(Graph_Own(Node("c")->parents[1]->parents[2]), 1.0);  // a Cauchy has k = 1
  // The ends of dunif and the lower end of dpar fill the bound slots.
  Graph_Node *u = Node("u"), *r = Node("r"), *b = Node("b");
  ASSERT_TRUE(u->numParents == 4 && r->numParents == 4 && b->numParents == 4);
  EXPECT_TRUE(u->parents[2] == u->parents[0] && u->parents[3] == u->parents[1]);
  EXPECT_TRUE(r->parents[2] == r->parents[1] && r->parents[3] == nullptr);
  EXPECT_TRUE(Graph_Own(b->parents[2]) == 0.0 && b->parents[3] == nullptr);
}

TEST_F(CodeGenTest, BlocksAndAggregatesSpanTheirRanges) {
  ASSERT_TRUE(Generate("model m; var V[2, 2], R[2, 2], Q[3, 2], P[3, 3], x[3, 3], s, S[3, 3], d, l;\n"
                     "{ V[1:2, 1:2] ~ dwish(R[1:2, 1:2], 3) Q[2:3, 1:2] ~ dwish(R[, ], 4)\n"
                     "  for (i in 1:3) { x[1, i] ~ dnorm(0, 1) for (j in 1:3) { P[i, j] ~ dnorm(0, 1) } }\n"
                     "  for (i in 1:2) { for (j in 1:2) { R[i, j] ~ dnorm(0, 1) } }\n"
                     "  x[2, 1:3] ~ dmnorm(x[1, 1:3], P[1:3, 1:3])\n"
                     "  s <- sum(P[2, ]) S[, ] <- inverse(P[, ]) d <- inprod(x[1, ], P[3, ]) l <- logdet(P[, ]) }")) << Console();
  const int32_t v = SymTabs_FindName("V")->firstNode, q = SymTabs_FindName("Q")->firstNode;
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(Node("V", k)->size == 4 && Node("V", k)->label == v) << k;
    EXPECT_TRUE(Node("Q", 2 + k)->label == q + 2 && Node("Q", 2 + k)->parents[0]->label == SymTabs_FindName("R")->firstNode) << k;
  }
  EXPECT_TRUE(Node("Q", 0) == nullptr && Node("x", 5)->size == 3);  // the block of Q begins at Q[2, 1]
  EXPECT_TRUE(Node("x", 3)->parents[0]->label == SymTabs_FindName("x")->firstNode &&
              Node("x", 3)->parents[1]->label == SymTabs_FindName("P")->firstNode);
  const double p[9] = {4, 2, 0, 2, 5, 1, 0, 1, 3}, inverse[9] = {14, -6, 2, -6, 12, -4, 2, -4, 16};
  for (int k = 0; k < 9; ++k) Graph_Own(Node("P", k)) = p[k];
  for (int k = 0; k < 3; ++k) Graph_Own(Node("x", k)) = k + 1.0;
  EXPECT_TRUE(V(Node("s")) == 8.0 && V(Node("d")) == 0.0 + 2.0 + 9.0);
  EXPECT_NEAR(V(Node("l")), std::log(44.0), 1e-14);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(V(Node("S", k)), inverse[k] / 44.0, 1e-14) << k;
}

}  // namespace
