#include "graph/Determ.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "HandGraph.h"
#include "numerics/SpecFunc.h"
#include "store/Graph.h"

namespace {

using Nodes = std::vector<Graph_Node*>;

// A stored value whose every read is counted.
int reads = 0;
double CountedRead(Graph_Node* node) { ++reads; return Graph_Own(node); }

class DetermTest : public test::HandGraph {
 protected:
  static double V(Graph_Node* n) { return n->valueFunction(n); }
  bool Says(const std::string& text) { return Console().find(text) != std::string::npos; }
  // With the fast path off, then on after the active node is set to each value, against an interpreted twin.
  static void ExpectFastAgrees(Graph_Node* form, Graph_Node* full, Graph_Node* active, const std::vector<double>& values) {
    Determ_activeNode = active, Determ_fastLinear = false;
    EXPECT_NEAR(V(form), V(full), 1e-14);
    Determ_fastLinear = true;
    for (double x : values) {
      Graph_Own(active) = x;
      EXPECT_NEAR(V(form), V(full), 1e-13) << x;
    }
  }
  void TearDown() override { Determ_fastLinear = false, Determ_activeNode = nullptr; HandGraph::TearDown(); }
};

TEST_F(DetermTest, InterpreterRunsPostfixCodeAggregatesAndPicksAndEndsOnFaults) {
  Graph_Node *alpha = Node(1.5), *beta = Node(2.0);
  Graph_Node* mu = Logical({23, 23, 23, 23, 2, 3, 1, 21}, {alpha, beta, Node(4.0, Graph_data), Node(2.5, Graph_data)});
  EXPECT_EQ(V(mu), 1.5 + 2.0 * (4.0 - 2.5));
  EXPECT_EQ(V(Logical({23, 30, 24, 22, 21}, {mu, Node(2.0)})), 20.25);  // (-mu)^2 through mu's own code
  EXPECT_EQ(V(Logical({24, 24, 16, 24, 18, 21}, {alpha, beta, Node(1.75)})), 1.75);
  Graph_Node* first = Node(1.0);  // a 2 x 3 block holding 1..6 row by row
  for (double v : {2.0, 3.0, 4.0, 5.0, 6.0}) Node(v);
  const int32_t s = first->label;
  EXPECT_EQ(V(Logical({29, 2, s, 2, 3, 3, 1})), 21.0);
  EXPECT_EQ(V(Logical({17, 2, s, 2, 3, 3, 1})), 3.5);
  EXPECT_EQ(V(Logical({29, 1, s + 1, 2, 3})), 2.0 + 5.0);  // one column
  EXPECT_NEAR(V(Logical({25, 1, s, 3, 1})), std::sqrt(2.0 / 3.0), 1e-15);
  EXPECT_EQ(V(Logical({11, s, 3, 1, s + 3, 1})), 1 * 4 + 2 * 5 + 3 * 6);
  // A pick follows a stochastic index, within the tolerance of a whole number.
  Graph_Node* k = Node(2.0);
  Graph_Node* pick = Logical({20, 1, s, 3, 1}, {k});
  EXPECT_EQ(V(pick), 2.0);
  EXPECT_TRUE(Determ_Base(pick) == s + 1 && Determ_Base(k) == k->label);
  Graph_Own(k) = 2.9999995;
  EXPECT_EQ(V(pick), 3.0);
  Graph_Own(k) = 0.5;  // (an index beyond the bound: node_error_names_hidden_pick)
  EXPECT_EXIT(V(pick), testing::ExitedWithCode(1), "");
  EXPECT_TRUE(Says("Index expression less than one."));
  // Malformed code and a log determinant of a matrix not positive definite end the run as faults.
  Graph_Node* deep = Logical({24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 21}, Nodes(11, Node(1.0)));
  EXPECT_EXIT(V(deep), testing::ExitedWithCode(1), "");
  EXPECT_TRUE(Says("Executed non implemented instruction."));
  EXPECT_EXIT(V(Logical({24, 11, 21}, {Node(1.0)})), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(V(Logical({24, 1, 21}, {Node(1.0)})), testing::ExitedWithCode(1), "");
  const int32_t m = Graph_totalNumNodes;
  for (double x : {1.0, 2.0, 2.0, 1.0}) Node(x);
  Graph_Node* bad = Logical({32, 2, m, 2, 1, 2, 2});
  EXPECT_EXIT(V(bad), testing::ExitedWithCode(1), "");
  EXPECT_TRUE(Says("Matrix is not positive definite for node: " + std::to_string(bad->label) + "\n"));
}

// Logs of a proportion or mean come from the link's predictor (accuracy: the density tests); others log the value.
TEST_F(DetermTest, LogsOfProportionsAndMeans) {
  Graph_Node* lambda = Logical({24, 8, 21}, {Node(3.0)});
  const struct { Graph_Node* node; double lnMean; } rows[] = {
      {lambda, 3.0}, {Node(5.0), std::log(5.0)}, {Node(0.0), -1.0E10},
      {Logical({23, 24, 3, 21}, {lambda, Node(2.0)}), 3.0 + std::log(2.0)}};
  for (const auto& r : rows) {
    double mean = 0.0, lnMean = 0.0;
    Determ_MeanLogMean(r.node, mean, lnMean);
    EXPECT_NEAR(lnMean, r.lnMean, 1e-14) << r.node->label;
    EXPECT_NEAR(mean, r.node == lambda ? std::exp(3.0) : V(r.node), 1e-12);
  }
  double lnP = 0.0, lnQ = 1.0;
  // Linked values shared by two readers keep their logs: lnP of ilogit(-800) is -800, not the floor.
  Graph_Node* x = Node(-800.0);
  Graph_Node* p = Logical({24, 10, 21}, {x});
  Graph_Node* q = Logical({23, 21}, {p});
  EXPECT_EQ(V(Logical({23, 23, 1, 21}, {q, p})), 0.0);
  Determ_LogProportion(q, lnP, lnQ);
  EXPECT_TRUE(lnP == -800.0 && lnQ == 0.0) << lnP << " " << lnQ;
  // A mean read from a proportion's link has the log of its own value, not what an earlier log link left.
  double mean = 0.0, lnMean = 0.0;
  Determ_MeanLogMean(lambda, mean, lnMean);
  Graph_Own(x) = 1.0;
  Determ_MeanLogMean(q, mean, lnMean);
  EXPECT_EQ(lnMean, std::log(mean));
}

TEST_F(DetermTest, OptimisedNodesKeepTheirValues) {
  Graph_Node *alpha = Node(1.5), *beta = Node(2.0);
  const Nodes ab{alpha, beta};
  Graph_Node* nodes[] = {Logical({24, 24, 24, 3, 1, 21}, {alpha, beta, Node(0.75, Graph_data)}), Logical({24, 24, 1, 10, 21}, ab),
                         Logical({24, 21}, {alpha}), Logical({24, 24, 2, 21}, ab), Logical({24, 19, 24, 1, 21}, ab)};
  std::vector<double> before;
  for (Graph_Node* n : nodes) before.push_back(V(n));
  Determ_OptDeterm();
  for (size_t i = 0; i < before.size(); ++i) EXPECT_DOUBLE_EQ(V(nodes[i]), before[i]) << i;
  Graph_Own(alpha) = 4.0;
  EXPECT_EQ(V(nodes[0]), 0.75 * 2.0 + 4.0);
  EXPECT_DOUBLE_EQ(V(nodes[1]), 1.0 / (1.0 + std::exp(-6.0)));
  EXPECT_EQ(V(nodes[2]), 4.0);
  EXPECT_EQ(V(nodes[3]), 2.0);
}

// A linear form keeps a partial sum while one of its terms is drawn (from 5 parents on): against an interpreted twin.
TEST_F(DetermTest, FastLinearFormsAgreeWithTheInterpreter) {
  std::mt19937 random(20240601);
  std::uniform_real_distribution<double> uniform(-2.0, 2.0);
  const std::vector<std::vector<int32_t>> codes = {  // 4, 5 and 7 parents, the last under a logit link
      {24, 24, 3, 24, 1, 24, 1, 21}, {24, 24, 3, 24, 1, 24, 1, 24, 1, 21}, {24, 24, 3, 24, 24, 3, 1, 24, 1, 24, 1, 24, 1, 10, 21}};
  for (const std::vector<int32_t>& code : codes) {
    Nodes parents;
    for (int32_t op : code)
      if (op == 24) parents.push_back(Node(uniform(random)));
    Graph_Node *form = Logical(code, parents), *full = Logical(code, parents);
    full->kind = Graph_data;  // stays interpreted
    Determ_OptDeterm();
    const bool cached = parents.size() >= 5;
    for (Graph_Node* active : parents) {
      ExpectFastAgrees(form, full, active, {uniform(random)});
      // A change to another term reaches the value only when no sum is kept.
      const Nodes& singles = form->parents;  // single terms come last
      Graph_Own(active == singles.back() ? singles.end()[-2] : singles.back()) += 1.0;
      EXPECT_EQ(std::fabs(V(form) - V(full)) < 1e-13, !cached) << parents.size();
    }
    Determ_activeNode = Node(0.0), Determ_fastLinear = false;  // not a parent: the whole sum is kept
    const double before = V(form);
    Determ_fastLinear = true;
    EXPECT_EQ(V(form), before);
  }
  // a + b * z + b * w + c + d: b holds two product terms.
  Graph_Node* b = Node(1.5);
  const Nodes parents = {Node(0.5), b, Node(2.0), b, Node(-3.0), Node(0.25), Node(4.0)};
  const std::vector<int32_t> code = {24, 24, 24, 3, 1, 24, 24, 3, 1, 24, 1, 24, 1, 21};
  Graph_Node *form = Logical(code, parents), *full = Logical(code, parents);
  full->kind = Graph_data, Determ_fastLinear = false;
  Determ_OptDeterm();
  ExpectFastAgrees(form, full, b, {0.0, 1.0, -2.0});
}

// Each node is computed once per read, however many paths reach it (long chains are shown end to end).
TEST_F(DetermTest, SelectionsAndLinearFormsInsideASharedRead) {
  Graph_Node *k = Node(2.0), *index = Logical({23, 21}, {k}), *base = Node(10.0), *v = Logical({23, 21}, {base});
  Logical({23, 23, 1, 21}, {v, base});
  Logical({23, 23, 3, 21}, {v, base});
  Graph_Node* pick = Logical({20, 1, v->label, 3, 1}, {index});
  Graph_Node* twice = Logical({23, 23, 1, 21}, {pick, pick});
  base->valueFunction = CountedRead, reads = 0;
  EXPECT_EQ(V(twice), 40.0);
  EXPECT_EQ(reads, 2);  // once by each of its two readers
  Graph_Own(k) = 3.0;
  EXPECT_EQ(V(twice), 200.0);
  // A linear form under a general node, while a sampler uses its partial sums.
  Nodes terms;
  for (double t : {1.0, 2.0, 3.0, 4.0, 5.0}) terms.push_back(Node(t));
  Graph_Node *eta = Logical({24, 24, 1, 24, 1, 24, 1, 24, 1, 21}, terms), *square = Logical({23, 23, 3, 21}, {eta, eta});
  Determ_OptDeterm();
  Determ_activeNode = terms[2];
  EXPECT_EQ(V(square), 225.0);
  Determ_fastLinear = true, Graph_Own(terms[2]) = -1.0;
  EXPECT_EQ(V(square), 121.0);
  Determ_fastLinear = false, Determ_activeNode = nullptr;
  {  // one snapshot spans many reads; a later read sees a new value
    const Determ_Snapshot snapshot;
    EXPECT_EQ(V(square), 121.0);
    EXPECT_EQ(V(eta), 11.0);
  }
  Graph_Own(terms[0]) = 2.0;
  EXPECT_EQ(V(square), 144.0);
}

}  // namespace
