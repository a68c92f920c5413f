#include "graph/Parents.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"

namespace {

using Nodes = std::vector<Graph_Node*>;

class ParentsTest : public test::FrontEnd {
 protected:
  // Compiles a model, with its data file when given, through node generation.
  bool Generate(const std::string& model, const std::string& data = "") {
    if (!data.empty()) test::WriteFile("d.dat", data);
    Reset();
    InitCodeGen();
    InitDeterm();
    InitParents();
    Parser_Tree* head = Compile(model);
    if (head != nullptr) CodeGen_WriteGraph(head);
    return head != nullptr && !CodeGen_error;
  }

  bool Build(const std::string& model, const std::string& data = "") {
    if (!Generate(model, data)) {
      ADD_FAILURE() << Console();
      return false;
    }
    Parents_BuildSamplingDistribu();
    return !Parents_error;
  }

  // Generates the model, cuts a node out, and expects the build to end the run.
  void ExpectFault(const std::string& model, const std::string& data, const std::function<void()>& cut,
                   const std::string& node, const std::string& message) {
    ASSERT_TRUE(Generate(model, data));
    cut();
    EXPECT_EXIT(Parents_BuildSamplingDistribu(), testing::ExitedWithCode(1), "");
    EXPECT_TRUE(Says("for node: " + node)) << node;
    EXPECT_TRUE(Says(message)) << node;
  }

  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }
  static Nodes L(const Graph_List& list) { return Nodes(list.begin(), list.end()); }
  static Nodes Likelihood(const std::string& name, int offset = 0) { return L(N(name, offset)->likelihood); }
  static Nodes StochasticParents(Graph_Node* node) {
    Graph_List list;
    Parents_StochasticParentList(node, list);
    return L(list);
  }
  bool Says(const std::string& text) { return Console().find(text) != std::string::npos; }
};

const std::string normalModel =
    "model m; var y[5], mu, tau, ypred; data in \"d.dat\";\n"
    "{ for (i in 1:5) { y[i] ~ dnorm(mu, tau) }\n"
    "  mu ~ dnorm(0, 1.0E-6) tau ~ dgamma(0.001, 0.001) ";
const std::string fiveYs = "list(y = c(1, 2, 3, 4, 5))";

// ---- likelihood lists and twigs

TEST_F(ParentsTest, ObservedChildrenEnterEveryParentsLikelihoodAndAnUnboundedLeafIsATwig) {
  ASSERT_TRUE(Build(normalModel + "ypred ~ dnorm(mu, tau) }", fiveYs));
  const Nodes ys{N("y", 0), N("y", 1), N("y", 2), N("y", 3), N("y", 4)};
  EXPECT_EQ(Likelihood("mu"), ys);
  EXPECT_EQ(Likelihood("tau"), ys);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(N("y", i)->likelihood.empty());
  EXPECT_EQ(StochasticParents(N("y", 2)), (Nodes{N("mu"), N("tau")}));
  ASSERT_TRUE(Build(normalModel + "ypred ~ dnorm(mu, tau) I(0, ) }"));  // bounded: no twig
  EXPECT_EQ(Likelihood("mu"), (Nodes{N("y", 0), N("y", 1), N("y", 2), N("y", 3), N("y", 4), N("ypred")}));
  EXPECT_EQ(Likelihood("tau").back(), N("ypred"));
}

TEST_F(ParentsTest, UnobservedChainIsATwigOnlyWithoutDataBelow) {
  const std::string model = "model m; var mu, a, b, c; data in \"d.dat\";\n"
                            "{ mu ~ dnorm(0, 1) a ~ dnorm(mu, 1) b ~ dnorm(a, 1) c ~ dnorm(b, 1) }";
  for (bool observed : {true, false}) {
    ASSERT_TRUE(Build(model, observed ? "list(c = 0.5)" : "list(c = NA)"));
    EXPECT_EQ(Likelihood("mu"), observed ? Nodes{N("a")} : Nodes{}) << observed;
    EXPECT_EQ(Likelihood("a"), observed ? Nodes{N("b")} : Nodes{}) << observed;
    EXPECT_EQ(Likelihood("b"), observed ? Nodes{N("c")} : Nodes{}) << observed;
  }
}

TEST_F(ParentsTest, ComponentsOfABlockCarryTheBlocksList) {
  ASSERT_TRUE(Build("model m; var x[3], m[3], T[3, 3], m0[3], P[3, 3], R[3, 3]; data in \"d.dat\";\n"
                    "{ x[1:3] ~ dmnorm(m[], T[, ]) m[1:3] ~ dmnorm(m0[], P[, ])\n"
                    "  T[, ] ~ dwish(R[, ], 3) }",
                    "list(x = c(1, 2, 3), m0 = c(0, 0, 0),\n"
                    " P = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)),\n"
                    " R = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)))"));
  // Each block is listed once, by whichever component was met first.
  EXPECT_EQ(StochasticParents(N("x")), (Nodes{N("m"), N("T")}));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Likelihood("m", k), (Nodes{N("x")}));
  for (int k = 0; k < 9; ++k) EXPECT_EQ(Likelihood("T", k), (Nodes{N("x")}));
  EXPECT_TRUE(N("x", 2)->likelihood.empty());
  EXPECT_TRUE(StochasticParents(N("m", 1)).empty());  // data parameters only
}

TEST_F(ParentsTest, ChildReachedThroughTwoLogicalNodesIsEnteredOnce) {
  ASSERT_TRUE(Build("model m; var mu, tau, a, b, s, y; data in \"d.dat\";\n"
                    "{ mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) a <- 2 * mu b <- mu + 1 s <- a + b\n"
                    "  y ~ dnorm(s, tau) }",
                    "list(y = 1)"));
  EXPECT_EQ(Likelihood("mu"), (Nodes{N("y")}));
  EXPECT_EQ(Likelihood("tau"), (Nodes{N("y")}));
  EXPECT_EQ(StochasticParents(N("y")), (Nodes{N("mu"), N("tau")}));
}

TEST_F(ParentsTest, StochasticIndexMakesTheNodeAChildOfIndexAndEveryElement) {
  ASSERT_TRUE(Build("model m; var p[3], k, q[3], y; data in \"d.dat\";\n"
                    "{ for (j in 1:3) { p[j] ~ dnorm(0, 1) } k ~ dcat(q[]) y ~ dnorm(p[k], 1) }",
                    "list(q = c(0.2, 0.3, 0.5), y = 1)"));
  EXPECT_EQ(StochasticParents(N("y")), (Nodes{N("k"), N("p", 2), N("p", 1), N("p", 0)}));
  EXPECT_EQ(Likelihood("k"), (Nodes{N("y")}));
  for (int j = 0; j < 3; ++j) EXPECT_EQ(Likelihood("p", j), (Nodes{N("y")}));
  EXPECT_TRUE(StochasticParents(N("k")).empty());
  // A vector parameter behind a stochastic index takes every row.
  ASSERT_TRUE(Build("model m; var a[2, 3], k, q[2], z[3]; data in \"d.dat\";\n"
                    "{ for (i in 1:2) { for (j in 1:3) { a[i, j] ~ dgamma(1, 1) } }\n"
                    "  k ~ dcat(q[]) z[1:3] ~ ddirch(a[k, ]) }",
                    "list(q = c(0.5, 0.5), z = c(0.2, 0.3, 0.5))"));
  EXPECT_EQ(StochasticParents(N("z")),
            (Nodes{N("k"), N("a", 5), N("a", 4), N("a", 3), N("a", 2), N("a", 1), N("a", 0)}));
  for (int e = 0; e < 6; ++e) EXPECT_EQ(Likelihood("a", e), (Nodes{N("z")}));
}

TEST_F(ParentsTest, BoundsAndDunifEndsAreParents) {
  ASSERT_TRUE(Build("model m; var mu, tau, lo, hi, y, a, b, u; data in \"d.dat\";\n"
                    "{ mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) lo ~ dnorm(0, 1) hi ~ dnorm(0, 1)\n"
                    "  y ~ dnorm(mu, tau) I(lo, hi)  a ~ dnorm(0, 1) b ~ dnorm(0, 1) u ~ dunif(a, b) }",
                    "list(y = 1, u = 0.5)"));
  Graph_Node* y = N("y");
  ASSERT_EQ(y->numParents, 4);
  // First parameter, then each later one directly after it: the last entry first.
  EXPECT_EQ(StochasticParents(y), (Nodes{N("mu"), y->parents[2], y->parents[3], N("tau")}));
  EXPECT_EQ(StochasticParents(N("u")), (Nodes{N("a"), N("b")}));
  EXPECT_EQ(Likelihood("b"), (Nodes{N("u")}));
  EXPECT_EQ(Likelihood("lo"), (Nodes{N("y")}));
}

TEST_F(ParentsTest, ChildThatIsAlsoAnAncestorStaysOut) {
  ASSERT_TRUE(Build("model m; var a, b, m2; { a ~ dnorm(m2, 1) m2 <- 2 * b b ~ dnorm(a, 1) }"));
  EXPECT_EQ(StochasticParents(N("a")), (Nodes{N("b")}));
  EXPECT_TRUE(N("a")->likelihood.empty());
  EXPECT_TRUE(N("b")->likelihood.empty());
}

// ---- parent lists of logical nodes

TEST_F(ParentsTest, LogicalParentsFollowCodeLayouts) {
  ASSERT_TRUE(Generate("model m; var a[2], b[2], w[2], s, t, u; data in \"d.dat\";\n"
                       "{ for (i in 1:2) { a[i] ~ dnorm(0, 1) b[i] ~ dnorm(0, 1) }\n"
                       "  s <- inprod(a[], b[])  t <- sum(w[]) + mean(b[])  u <- inprod(w[], w[]) }",
                       "list(w = c(1, 2))"));
  Graph_List list;
  Parents_DeterministicParentLi(N("s"), list);
  EXPECT_EQ(L(list), (Nodes{N("a", 0), N("b", 1), N("b", 0), N("a", 1)}));
  list.clear();
  Parents_DeterministicParentLi(N("t"), list);
  EXPECT_EQ(L(list), (Nodes{N("b", 0), N("b", 1)}));
  // A list that holds entries already keeps them and gains no duplicate.
  Parents_DeterministicParentLi(N("s"), list);
  EXPECT_EQ(L(list), (Nodes{N("b", 0), N("a", 1), N("a", 0), N("b", 1)}));
  list.clear();
  Parents_DeterministicParentLi(N("u"), list);
  EXPECT_TRUE(list.empty());
}

TEST_F(ParentsTest, LongChainsNeedNoDeepRecursionAndBuildQuickly) {
  const std::string n = "100000";
  // The longest chain of logical nodes a model may hold.
  ASSERT_TRUE(Generate("model m; var c[5000], mu;\n{ mu ~ dnorm(0, 1) c[1] <- mu + 1\n"
                       "  for (t in 2:5000) { c[t] <- c[t - 1] + mu } }"));
  Graph_List list;
  Parents_DeterministicParentLi(N("c", 4999), list);
  EXPECT_EQ(L(list), (Nodes{N("mu")}));
  ASSERT_TRUE(Generate("model m; var x[" + n + "], tau, y; data in \"d.dat\";\n{ x[1] ~ dnorm(0, 1) for (t in 2:" + n +
                       ") { x[t] ~ dnorm(x[t - 1], tau) }\n  tau ~ dgamma(1, 1) y ~ dnorm(x[" + n + "], 1) }",
                       "list(y = 1)"));
  const auto start = std::chrono::steady_clock::now();
  Parents_BuildSamplingDistribu();
  // Loose, for sanitizer builds on a busy machine; quadratic work would take minutes.
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);
  ASSERT_FALSE(Parents_error);
  EXPECT_EQ(Likelihood("x", 0), (Nodes{N("x", 1)}));
  EXPECT_EQ(Likelihood("x", 99999), (Nodes{N("y")}));
  Nodes tau = Likelihood("tau");
  ASSERT_EQ(tau.size(), 99999u);
  EXPECT_EQ(tau.front(), N("x", 1));
  EXPECT_EQ(tau.back(), N("x", 99999));
}

// ---- node errors

TEST_F(ParentsTest, MissingNodesAreFaults) {
  const std::string undefined = "Node has undefined parent.";
  ExpectFault(normalModel + "}", fiveYs, [] { N("y", 3)->parents[0] = nullptr; }, "y[4]", undefined);
  ExpectFault("model m; var mu, s, y; data in \"d.dat\";\n{ mu ~ dnorm(0, 1) s <- mu * mu y ~ dnorm(s, 1) }",
              "list(y = 1)", [] { N("s")->parents[1] = nullptr; }, "s\n", undefined);
  // A missing vector element is reported for the first element.
  ExpectFault("model m; var alpha[3], z[3]; data in \"d.dat\";\n"
              "{ for (j in 1:3) { alpha[j] ~ dgamma(1, 1) } z[1:3] ~ ddirch(alpha[]) }",
              "list(z = c(0.2, 0.3, 0.5))", [] { Graph_nodes[SymTabs_FindName("alpha")->firstNode + 1] = nullptr; },
              "alpha[1]", undefined);
  ExpectFault("model m; var x[3], s, y; data in \"d.dat\";\n"
              "{ for (i in 1:3) { x[i] ~ dnorm(0, 1) } s <- sum(x[]) y ~ dnorm(s, 1) }",
              "list(y = 1)", [] { Graph_nodes[SymTabs_FindName("x")->firstNode + 1] = nullptr; }, "x[2]",
              "Made use of undefined node");
  Graph_List list;
  EXPECT_EXIT(Parents_DeterministicParentLi(N("s"), list), testing::ExitedWithCode(1), "");
}

// The size of dbin and the upper end of a bounded node enter no density
// term, yet their nodes are read all the same: an element without a node
// (its datum NA) is as much a fault as a missing first parameter, while a
// missing bound is none.
TEST_F(ParentsTest, EveryParameterNeedsANodeButABoundMayBeMissing) {
  const std::string model = "model m; var k, p, n[2]; data in \"d.dat\";\n"
                            "{ k ~ dbin(p, n[1]) p ~ dbeta(1, 1) }";
  ExpectFault(model, "list(k = 2, n = c(NA, 3))", [] {}, "k\n", "Node has undefined parent.");
  ASSERT_TRUE(Build("model m; var k, p, n; data in \"d.dat\";\n"
                    "{ k ~ dbin(p, n) p ~ dbeta(1, 1) I(0.1, ) }", "list(k = 2, n = 5)"));
  EXPECT_EQ(N("p")->parents[3], nullptr);
}

}  // namespace
