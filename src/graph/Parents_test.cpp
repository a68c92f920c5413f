#include "graph/Parents.h"

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"

namespace {

using Nodes = std::vector<Graph_Node*>;

class ParentsTest : public test::FrontEnd {
 protected:
  bool Generate(const std::string& model, const std::string& data) {
    Reset(), InitCodeGen(), InitDeterm(), InitParents();
    Parser_Tree* head = Compile(WithFiles(model, data, ""));
    if (head != nullptr) CodeGen_WriteGraph(head);
    return head != nullptr && !CodeGen_error;
  }
  static Graph_Node* N(const std::string& name, int offset = 0) { return Graph_nodes[SymTabs_FindName(name)->firstNode + offset]; }
  // Nodes written "name" or "name.offset", separated by spaces.
  static Nodes Named(const std::string& names) {
    Nodes nodes;
    std::istringstream in(names);
    for (std::string word; in >> word;) {
      const size_t dot = word.find('.');
      nodes.push_back(dot == std::string::npos ? N(word) : N(word.substr(0, dot), std::stoi(word.substr(dot + 1))));
    }
    return nodes;
  }
};

// Lists in order: "L x" the likelihood list of x, "P x" its stochastic parents, "D x" the ancestors of a logical x.
TEST_F(ParentsTest, LikelihoodListsAndParentLists) {
  const std::string normal = "var y[5], mu, tau, ypred; { for (i in 1:5) { y[i] ~ dnorm(mu, tau) }\n"
                             "  mu ~ dnorm(0, 1.0E-6) tau ~ dgamma(0.001, 0.001) ypred ~ dnorm(mu, tau) ";
  const std::string chain = "var mu, a, b, c; { mu ~ dnorm(0, 1) a ~ dnorm(mu, 1) b ~ dnorm(a, 1) c ~ dnorm(b, 1) }";
  const std::string identity = "structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3))";
  const struct {
    std::string model, data;
    std::vector<std::pair<std::string, std::string>> lists;
  } rows[] = {
      // Observed children enter every parent's list; an unbounded unobserved leaf is a twig.
      {normal + "}", "list(y = c(1, 2, 3, 4, 5))",
       {{"L mu", "y.0 y.1 y.2 y.3 y.4"}, {"L tau", "y.0 y.1 y.2 y.3 y.4"}, {"L y.4", ""}, {"P y.2", "mu tau"}}},
      {normal + "I(0, ) }", "list(y = c(1, 2, 3, 4, 5))", {{"L tau", "y.0 y.1 y.2 y.3 y.4 ypred"}}},
      // An unobserved chain is a twig only without data below.
      {chain, "list(c = 0.5)", {{"L mu", "a"}, {"L a", "b"}, {"L b", "c"}}},
      {chain, "list(c = NA)", {{"L mu", ""}, {"L a", ""}, {"L b", ""}}},
      // Each block is listed once; every component carries the block's list.
      {"var x[3], m[3], T[3, 3], m0[3], P[3, 3], R[3, 3]; { x[1:3] ~ dmnorm(m[], T[, ])\n"
       "  m[1:3] ~ dmnorm(m0[], P[, ]) T[, ] ~ dwish(R[, ], 3) }",
       "list(x = c(1, 2, 3), m0 = c(0, 0, 0), P = " + identity + ", R = " + identity + ")",
       {{"P x", "m T"}, {"L m.2", "x"}, {"L T.8", "x"}, {"L T.0", "x"}, {"L x.2", ""}, {"P m.1", ""}}},
      // A child reached through two logical nodes is entered once.
      {"var mu, tau, a, b, s, y; { mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) a <- 2 * mu b <- mu + 1 s <- a + b\n"
       "  y ~ dnorm(s, tau) }",
       "list(y = 1)", {{"L mu", "y"}, {"P y", "mu tau"}, {"D s", "mu"}}},
      // A stochastic index makes the node a child of the index and of every element.
      {"var p[3], k, q[3], y; { for (j in 1:3) { p[j] ~ dnorm(0, 1) } k ~ dcat(q[]) y ~ dnorm(p[k], 1) }",
       "list(q = c(0.2, 0.3, 0.5), y = 1)", {{"P y", "k p.2 p.1 p.0"}, {"L k", "y"}, {"L p.1", "y"}, {"P k", ""}}},
      {"var a[2, 3], k, q[2], z[3]; { for (i in 1:2) { for (j in 1:3) { a[i, j] ~ dgamma(1, 1) } }\n"
       "  k ~ dcat(q[]) z[1:3] ~ ddirch(a[k, ]) }",
       "list(q = c(0.5, 0.5), z = c(0.2, 0.3, 0.5))", {{"P z", "k a.5 a.4 a.3 a.2 a.1 a.0"}, {"L a.5", "z"}}},
      // Bounds and the ends of dunif are parents: the first parameter, then each later one directly after it.
      {"var mu, tau, lo, hi, y, a, b, u; { mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) lo ~ dnorm(0, 1) hi ~ dnorm(0, 1)\n"
       "  y ~ dnorm(mu, tau) I(lo, hi)  a ~ dnorm(0, 1) b ~ dnorm(0, 1) u ~ dunif(a, b) }",
       "list(y = 1, u = 0.5)", {{"P y", "mu lo hi tau"}, {"P u", "a b"}, {"L b", "u"}, {"L lo", "y"}}},
      // A child that is also an ancestor stays out.
      {"var a, b, m2; { a ~ dnorm(m2, 1) m2 <- 2 * b b ~ dnorm(a, 1) }", "", {{"P a", "b"}, {"L a", ""}, {"L b", ""}}},
      // Ancestors through aggregates; data elements are none.
      {"var a[2], b[2], w[2], s, t, u; { for (i in 1:2) { a[i] ~ dnorm(0, 1) b[i] ~ dnorm(0, 1) }\n"
       "  s <- inprod(a[], b[])  t <- sum(w[]) + mean(b[])  u <- inprod(w[], w[]) }",
       "list(w = c(1, 2))", {{"D s", "a.0 b.1 b.0 a.1"}, {"D t", "b.0 b.1"}, {"D u", ""}}},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(Generate(row.model, row.data)) << Console();
    Parents_BuildSamplingDistribu();
    ASSERT_FALSE(Parents_error) << row.model;
    for (const auto& [what, expected] : row.lists) {
      Graph_Node* node = Named(what.substr(2))[0];
      Graph_List list;
      if (what[0] == 'P') Parents_StochasticParentList(node, list);
      if (what[0] == 'D') Parents_DeterministicParentLi(node, list);
      const Graph_List& got = what[0] == 'L' ? node->likelihood : list;
      EXPECT_EQ(Nodes(got.begin(), got.end()), Named(expected)) << row.model << "\n" << what;
    }
  }
  // A list that holds entries already keeps them and gains no duplicate.
  Graph_List list;
  Parents_DeterministicParentLi(N("t"), list);
  Parents_DeterministicParentLi(N("s"), list);
  EXPECT_EQ(Nodes(list.begin(), list.end()), Named("b.0 a.1 a.0 b.1"));
}

// A parameter without a node is a fault (a dbin size whose datum is NA, and a missing bound: graph_parents_*).
TEST_F(ParentsTest, MissingNodesAreFaults) {
  const auto expectFault = [&](const std::string& model, const std::string& node, const std::string& message, void (*cut)(),
                               const std::string& data = "list(y = 1)") {
    ASSERT_TRUE(Generate(model, data));
    cut();
    EXPECT_EXIT(Parents_BuildSamplingDistribu(), testing::ExitedWithCode(1), "");
    EXPECT_NE(Console().find("for node: " + node), std::string::npos) << node;
    EXPECT_NE(Console().find(message), std::string::npos) << node;
  };
  const std::string undefined = "Node has undefined parent.";
  expectFault("var mu, s, y; { mu ~ dnorm(0, 1) s <- mu * mu y ~ dnorm(s, 1) }", "s\n", undefined, [] { N("s")->parents[1] = nullptr; });
  // A missing vector element is reported for the first element.
  expectFault("var alpha[3], y[3]; { for (j in 1:3) { alpha[j] ~ dgamma(1, 1) } y[1:3] ~ ddirch(alpha[]) }", "alpha[1]", undefined,
              [] { Graph_nodes[SymTabs_FindName("alpha")->firstNode + 1] = nullptr; }, "list(y = c(0.2, 0.3, 0.5))");
  expectFault("var x[3], s, y; { for (i in 1:3) { x[i] ~ dnorm(0, 1) } s <- sum(x[]) y ~ dnorm(s, 1) }", "x[2]",
              "Made use of undefined node", [] { Graph_nodes[SymTabs_FindName("x")->firstNode + 1] = nullptr; });
  Graph_List list;
  EXPECT_EXIT(Parents_DeterministicParentLi(N("s"), list), testing::ExitedWithCode(1), "");
}

// A chain of 100 000 nodes sharing one precision: no pass quadratic in the model's size (that takes minutes).
TEST_F(ParentsTest, LongStochasticChainsBuildQuickly) {
  const std::string n = "100000";
  ASSERT_TRUE(Generate("var x[" + n + "], tau, y; { x[1] ~ dnorm(0, 1) for (t in 2:" + n +
                           ") { x[t] ~ dnorm(x[t - 1], tau) }\n  tau ~ dgamma(1, 1) y ~ dnorm(x[" + n + "], 1) }",
                       "list(y = 1)"));
  const auto start = std::chrono::steady_clock::now();
  Parents_BuildSamplingDistribu();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);
  ASSERT_FALSE(Parents_error);
  const Nodes tau(N("tau")->likelihood.begin(), N("tau")->likelihood.end());
  ASSERT_EQ(tau.size(), 99999u);
  EXPECT_TRUE(tau.front() == N("x", 1) && tau.back() == N("x", 99999));
  EXPECT_EQ(Nodes(N("x", 99999)->likelihood.begin(), N("x", 99999)->likelihood.end()), Named("y"));
}

}  // namespace
