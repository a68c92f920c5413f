#include "graph/Determ.h"

#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "HandGraph.h"
#include "store/Graph.h"
#include "language/Errors.h"
#include "language/SymTabs.h"
#include "numerics/SpecFunc.h"

namespace {

class DetermTest : public test::HandGraph {
 protected:
  static double V(Graph_Node* n) { return n->valueFunction(n); }
  bool Says(const std::string& text) { return Console().find(text) != std::string::npos; }
};

TEST_F(DetermTest, InterpreterRunsPostfixCode) {
  Graph_Node *alpha = Node(1.5), *beta = Node(2.0);
  Graph_Node* mu = Logical({23, 23, 23, 23, 2, 3, 1, 21}, {alpha, beta, Node(4.0, Graph_data), Node(2.5, Graph_data)});
  EXPECT_EQ(V(mu), 1.5 + 2.0 * (4.0 - 2.5));
  EXPECT_EQ(V(Logical({23, 30, 24, 22, 21}, {mu, Node(2.0)})), 20.25);  // (-mu)^2 through mu's own code
  EXPECT_NEAR(V(Logical({24, 12, 21}, {Node(0.0)})), std::log(1.0E-40), 1e-12);
  EXPECT_EQ(V(Logical({24, 28, 21}, {Node(0.0)})), 1.0);
  EXPECT_EQ(V(Logical({24, 24, 33, 21}, {Node(1.0), Node(1.0000005)})), 1.0);
  EXPECT_EQ(V(Logical({24, 24, 33, 21}, {Node(1.0), Node(1.00001)})), 0.0);
  EXPECT_EQ(V(Logical({24, 24, 16, 24, 18, 21}, {alpha, beta, Node(1.75)})), 1.75);
}

TEST_F(DetermTest, MalformedCodeEndsTheRunAsAFault) {
  std::vector<Graph_Node*> eleven(11, Node(1.0));
  Graph_Node* deep = Logical({24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 21}, eleven);
  EXPECT_EXIT(V(deep), testing::ExitedWithCode(1), "");
  EXPECT_TRUE(Says("Executed non implemented instruction."));
  EXPECT_EXIT(V(Logical({24, 11, 21}, {Node(1.0)})), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(V(Logical({24, 1, 21}, {Node(1.0)})), testing::ExitedWithCode(1), "");
}

TEST_F(DetermTest, AggregatesReadRangesOfNodes) {
  Graph_Node* first = Node(1.0);  // a 2 x 3 block holding 1..6 row by row
  for (double v : {2.0, 3.0, 4.0, 5.0, 6.0}) Node(v);
  const int32_t s = first->label;
  EXPECT_EQ(V(Logical({29, 2, s, 2, 3, 3, 1})), 21.0);
  EXPECT_EQ(V(Logical({17, 2, s, 2, 3, 3, 1})), 3.5);
  EXPECT_EQ(V(Logical({29, 1, s + 1, 2, 3})), 2.0 + 5.0);  // one column
  EXPECT_NEAR(V(Logical({25, 1, s, 3, 1})), std::sqrt(2.0 / 3.0), 1e-15);
  EXPECT_EQ(V(Logical({11, s, 3, 1, s + 3, 1})), 1 * 4 + 2 * 5 + 3 * 6);
}

TEST_F(DetermTest, PickFollowsAStochasticIndex) {
  Graph_Node* v = Node(10.0);
  for (double x : {20.0, 30.0}) Node(x);
  Graph_Node* k = Node(2.0);
  Graph_Node* pick = Logical({20, 1, v->label, 3, 1}, {k});
  EXPECT_EQ(V(pick), 20.0);
  EXPECT_EQ(Determ_Base(pick), v->label + 1);
  EXPECT_EQ(Determ_Base(k), k->label);
  Graph_Own(k) = 2.9999995;  // within the tolerance of 3
  EXPECT_EQ(V(pick), 30.0);
  for (auto [index, message] : {std::pair{4.0, "greater than array bound."}, {0.5, "less than one."}}) {
    Graph_Own(k) = index;
    EXPECT_EXIT(V(pick), testing::ExitedWithCode(1), "");
    EXPECT_TRUE(Says(std::string("Index expression ") + message)) << index;
  }
}

TEST_F(DetermTest, MatrixFunctionsOfNodeBlocks) {
  const std::vector<std::vector<double>> matrices = {{4}, {4, 2, 2, 3}, {4, 2, 0, 2, 5, 1, 0, 1, 3}};
  const std::vector<std::vector<double>> inverses = {
      {0.25}, {3.0 / 8, -2.0 / 8, -2.0 / 8, 4.0 / 8}, {14, -6, 2, -6, 12, -4, 2, -4, 16}};
  const double dets[] = {4, 8, 44}, scale[] = {1, 1, 44};
  for (int n = 1; n <= 3; ++n) {
    const int32_t s = Graph_totalNumNodes;
    for (double x : matrices[n - 1]) Node(x);
    const int32_t result = Graph_totalNumNodes;
    for (int i = 0; i < n * n; ++i) {
      Graph_Node* element = Logical({31, result, s, n, 1, n, n});
      EXPECT_NEAR(V(element), inverses[n - 1][i] / scale[n - 1], 1e-14) << n << " " << i;
    }
    EXPECT_NEAR(V(Logical({32, 2, s, n, 1, n, n})), std::log(dets[n - 1]), 1e-14) << n;
  }
  const int32_t s = Graph_totalNumNodes;
  for (double x : {1.0, 2.0, 2.0, 1.0}) Node(x);
  Graph_Node* bad = Logical({32, 2, s, 2, 1, 2, 2});
  EXPECT_EXIT(V(bad), testing::ExitedWithCode(1), "");
  EXPECT_TRUE(Says("Matrix is not positive definite for node: " + std::to_string(bad->label) + "\n"));
}

TEST_F(DetermTest, LinksLeaveTheirLogarithms) {
  Graph_Node* x = Node(-20.0);
  Graph_Node* p = Logical({24, 10, 21}, {x});
  EXPECT_NEAR(V(p), 2.0611536181902037e-09, 1e-18);
  double lnP = 0.0, lnQ = 1.0;
  Determ_LogProportion(p, lnP, lnQ);
  EXPECT_NEAR(lnP, -20.0 - std::log1p(std::exp(-20.0)), 1e-13);  // exact far out, never a floor
  EXPECT_NEAR(lnQ, -std::log1p(std::exp(-20.0)), 1e-24);
  Graph_Own(x) = -800.0;
  Determ_LogProportion(p, lnP, lnQ);
  EXPECT_EQ(lnP, -800.0);
  Graph_Node* c = Logical({24, 9, 21}, {Node(-800.0)});  // inverse cloglog
  Determ_LogProportion(c, lnP, lnQ);
  EXPECT_EQ(lnP, -800.0);
  EXPECT_EQ(lnQ, -0.0);
  Graph_Own(c->parents[0]) = -30.0;
  Determ_LogProportion(c, lnP, lnQ);
  EXPECT_NEAR(lnP, -30.0, 1e-12);
  double q = 0.0;
  Determ_LogProportion(Node(1.0E-8), lnP, q);
  EXPECT_NEAR(lnP, std::log(1.0E-8), 1e-14);
  Graph_Own(x) = 1.0;
  Determ_LogProportion(p, lnP, lnQ);
  EXPECT_NEAR(lnP, -std::log1p(std::exp(-1.0)), 1e-15);
  EXPECT_NEAR(lnQ, -1.0 - std::log1p(std::exp(-1.0)), 1e-15);
  Determ_LogProportion(Logical({24, 19, 21}, {Node(-1.0)}), lnP, lnQ);
  EXPECT_EQ(lnP, SpecFunc_LogPhi(-1.0));
  Graph_Node* lambda = Logical({24, 8, 21}, {Node(3.0)});
  // A node computed from a linked one has a log of its own, not the operand's.
  const std::tuple<Graph_Node*, double, double> rows[] = {  // node, log mean, tolerance
      {lambda, 3.0, 0.0}, {Node(5.0), std::log(5.0), 0.0}, {Node(0.0), -1.0E10, 0.0},
      {Logical({23, 24, 3, 21}, {lambda, Node(2.0)}), 3.0 + std::log(2.0), 1e-14}};
  for (const auto& [node, expected, tolerance] : rows) {
    double mean = 0.0, lnMean = 0.0;
    Determ_MeanLogMean(node, mean, lnMean);
    EXPECT_NEAR(lnMean, expected, tolerance) << node->label;
    if (node == lambda) { EXPECT_NEAR(mean, std::exp(3.0), 1e-12); }
  }
}

TEST_F(DetermTest, OptimisationRewritesLinearPredictors) {
  Graph_Node *alpha = Node(1.5), *beta = Node(2.0), *c = Node(0.75, Graph_data);
  Graph_Node* y = Logical({24, 24, 24, 3, 1, 21}, {alpha, beta, c});
  Graph_Node* logit = Logical({24, 24, 1, 10, 21}, {alpha, beta});
  Graph_Node* alias = Logical({24, 21}, {alpha});
  Graph_Node* difference = Logical({24, 24, 2, 21}, {alpha, beta});
  Graph_Node* phiPlus = Logical({24, 19, 24, 1, 21}, {alpha, beta});  // phi(alpha) + beta
  const double phiPlusValue = V(phiPlus);
  Determ_OptDeterm();
  EXPECT_EQ(y->stack[0], 21);
  EXPECT_EQ(y->stack[1], 2);
  EXPECT_EQ(y->parents, (std::vector<Graph_Node*>{c, beta, alpha}));
  EXPECT_EQ(V(y), 0.75 * 2.0 + 1.5);
  EXPECT_EQ(logit->stack[0], 10);
  EXPECT_DOUBLE_EQ(V(logit), 1.0 / (1.0 + std::exp(-3.5)));
  EXPECT_EQ(difference->stack, (std::vector<int32_t>{24, 24, 2, 21}));
  EXPECT_EQ(phiPlus->stack[0], 24);
  EXPECT_EQ(V(phiPlus), phiPlusValue);
  Graph_Own(alpha) = 4.0;
  EXPECT_EQ(V(alias), 4.0);
  EXPECT_EQ(V(difference), 2.0);
}

TEST_F(DetermTest, FastLinearFormsReuseTheirPartialSum) {
  std::mt19937 random(20240601);
  std::uniform_real_distribution<double> uniform(-2.0, 2.0);
  const std::vector<std::vector<int32_t>> codes = {
      {24, 24, 3, 24, 1, 24, 1, 21},                                // 4 parents
      {24, 24, 3, 24, 1, 24, 1, 24, 1, 21},                         // 5 parents
      {24, 24, 3, 24, 24, 3, 1, 24, 1, 24, 1, 24, 1, 10, 21}};      // 7 parents, logit link
  for (const std::vector<int32_t>& code : codes) {
    std::vector<Graph_Node*> parents;
    for (int32_t op : code)
      if (op == 24) parents.push_back(Node(uniform(random)));
    Graph_Node* form = Logical(code, parents);
    Graph_Node* full = Logical(code, parents);
    full->kind = Graph_data;  // stays interpreted: the reference value
    Determ_OptDeterm();
    const bool cached = parents.size() >= 5;
    for (Graph_Node* active : parents) {
      Determ_activeNode = active;
      Determ_fastLinear = false;
      EXPECT_NEAR(V(form), V(full), 1e-14);
      Determ_fastLinear = true;
      Graph_Own(active) = uniform(random);
      EXPECT_NEAR(V(form), V(full), 1e-13) << parents.size();
      // A change to another term reaches the value only when no cache is kept.
      const std::vector<Graph_Node*>& singles = form->parents;  // single terms come last
      Graph_Node* other = active == singles.back() ? singles.end()[-2] : singles.back();
      Graph_Own(other) += 1.0;
      EXPECT_EQ(std::fabs(V(form) - V(full)) < 1e-13, !cached) << parents.size();
    }
    Determ_activeNode = Node(0.0);  // not a parent: the whole sum is kept
    Determ_fastLinear = false;
    const double before = V(form);
    Determ_fastLinear = true;
    EXPECT_EQ(V(form), before);
    Determ_fastLinear = false;
    Determ_activeNode = nullptr;
  }
}

TEST_F(DetermTest, FastLinearFormFollowsANodeHeldInTwoTerms) {
  // a + b * z + b * w + c + d: b holds two product terms.
  Graph_Node* b = Node(1.5);
  const std::vector<Graph_Node*> parents = {Node(0.5), b, Node(2.0), b, Node(-3.0), Node(0.25), Node(4.0)};
  const std::vector<int32_t> code = {24, 24, 24, 3, 1, 24, 24, 3, 1, 24, 1, 24, 1, 21};
  Graph_Node* form = Logical(code, parents);
  Graph_Node* full = Logical(code, parents);
  full->kind = Graph_data;
  Determ_OptDeterm();
  Determ_activeNode = b;
  Determ_fastLinear = false;
  EXPECT_DOUBLE_EQ(V(form), V(full));
  Determ_fastLinear = true;
  for (double x : {0.0, 1.0, -2.0}) {
    Graph_Own(b) = x;
    EXPECT_DOUBLE_EQ(V(form), V(full)) << x;
  }
  Determ_fastLinear = false;
  Determ_activeNode = nullptr;
}

// A stored value whose every read is counted: how often an evaluation
// reaches it along all its paths.
int reads = 0;
double CountedRead(Graph_Node* node) {
  ++reads;
  return Graph_Own(node);
}

// f[1] = f[2] = a, f[i] = f[i-1] + f[i-2]: a node reached along as many
// paths as a Fibonacci number, in nodes built by hand.
std::vector<Graph_Node*> Fibonacci(Graph_Node* a, int n, Graph_Node* (*logical)(std::vector<int32_t>, std::vector<Graph_Node*>)) {
  std::vector<Graph_Node*> f = {logical({23, 21}, {a}), logical({23, 21}, {a})};
  for (int i = 2; i < n; ++i) f.push_back(logical({23, 23, 1, 21}, {f[i - 1], f[i - 2]}));
  return f;
}

TEST_F(DetermTest, ANodeReachedAlongManyPathsIsComputedOncePerRead) {
  Graph_Node* a = Node(0.5);
  a->valueFunction = CountedRead;
  const std::vector<Graph_Node*> f = Fibonacci(a, 1000, Logical);
  reads = 0;
  EXPECT_EQ(V(f[69]), 190392490709135.0 * 0.5);  // Fib(70), exact in a double
  EXPECT_LE(reads, 3);  // once through each of f[1] and f[2], not Fib(70) times
  const auto start = std::chrono::steady_clock::now();
  for (const double value : {0.5, -1.25, 3.0}) {
    Graph_Own(a) = value;  // written directly, as samplers do: the next read sees it
    double previous = value, current = value;  // the same recurrence in doubles
    for (int i = 2; i < 1000; ++i) {
      const double next = current + previous;
      previous = current;
      current = next;
    }
    EXPECT_EQ(V(f[999]), current) << value;
    EXPECT_EQ(V(f[1]), value);
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  // Linked values shared by two readers keep their logs: lnP of ilogit(-800)
  // is -800, while the log of the value (which underflows) is the floor.
  Graph_Node* x = Node(-800.0);
  Graph_Node* p = Logical({24, 10, 21}, {x});
  Graph_Node* q = Logical({23, 21}, {p});
  Graph_Node* both = Logical({23, 23, 1, 21}, {q, p});
  EXPECT_EQ(V(both), 0.0);
  double lnP = 0.0, lnQ = 1.0;
  Determ_LogProportion(q, lnP, lnQ);
  EXPECT_EQ(lnP, -800.0);
  EXPECT_EQ(lnQ, 0.0);
  // A mean read from a proportion's link has a log of its own value, not the
  // mean's log that an earlier log link left.
  double mean = 0.0, lnMean = 0.0;
  Determ_MeanLogMean(Logical({24, 8, 21}, {Node(3.0)}), mean, lnMean);
  Graph_Own(x) = 1.0;
  Determ_MeanLogMean(q, mean, lnMean);
  EXPECT_EQ(lnMean, std::log(mean));
}

TEST_F(DetermTest, DeepChainsEvaluateWithoutExhaustingTheStack) {
  // S[k] = inverse(S[k-1]) for 2 x 2 and 3 x 3 blocks, 1000 deep: an odd
  // number of inversions gives the inverse of the stored start.
  const std::vector<std::vector<double>> starts = {{4, 2, 2, 3}, {4, 2, 0, 2, 5, 1, 0, 1, 3}};
  const std::vector<std::vector<double>> inverses = {{3.0 / 8, -2.0 / 8, -2.0 / 8, 4.0 / 8},
                                                     {14.0 / 44, -6.0 / 44, 2.0 / 44, -6.0 / 44, 12.0 / 44,
                                                      -4.0 / 44, 2.0 / 44, -4.0 / 44, 16.0 / 44}};
  for (int n = 2; n <= 3; ++n) {
    int32_t previous = Graph_totalNumNodes;
    for (double v : starts[n - 2]) Node(v);
    for (int k = 1; k < 1000; ++k) {
      const int32_t first = Graph_totalNumNodes;
      for (int i = 0; i < n * n; ++i) Logical({31, first, previous, n, 1, n, n});
      previous = first;
    }
    for (int i = 0; i < n * n; ++i)
      EXPECT_NEAR(V(Graph_Label(previous + i)), inverses[n - 2][i], 1e-9) << n << " " << i;
  }
  // Scalar chains 200000 long: f[i] = f[i-1] + 1, and f[i] = f[i-1] + f[i-2].
  constexpr int length = 200000;
  Graph_Node *a = Node(0.25), *one = Node(1.0, Graph_data);
  std::vector<Graph_Node*> f = {Logical({23, 21}, {a})};
  for (int i = 1; i < length; ++i) f.push_back(Logical({23, 24, 1, 21}, {f.back(), one}));
  EXPECT_EQ(V(f.back()), 0.25 + (length - 1));
  const std::vector<Graph_Node*> g = Fibonacci(a, length, Logical);
  Graph_Own(a) = 0.0;
  EXPECT_EQ(V(g.back()), 0.0);
  Graph_Own(a) = -1.0;
  EXPECT_EQ(V(g.back()), -HUGE_VAL);
  EXPECT_EQ(V(g[49]), -12586269025.0);  // Fib(50)
}

TEST_F(DetermTest, SelectionsAndLinearFormsInsideASharedRead) {
  // v[k] with a computed index and computed candidates, read twice by one node.
  Graph_Node* k = Node(2.0);
  Graph_Node* index = Logical({23, 21}, {k});
  Graph_Node* base = Node(10.0);
  Graph_Node* v = Logical({23, 21}, {base});
  Logical({23, 23, 1, 21}, {v, base});
  Logical({23, 23, 3, 21}, {v, base});
  Graph_Node* pick = Logical({20, 1, v->label, 3, 1}, {index});
  Graph_Node* twice = Logical({23, 23, 1, 21}, {pick, pick});
  base->valueFunction = CountedRead;
  reads = 0;
  EXPECT_EQ(V(twice), 40.0);
  EXPECT_EQ(reads, 2);  // once by each of its two readers: each node computed once
  Graph_Own(k) = 3.0;
  EXPECT_EQ(V(twice), 200.0);
  // A linear form under a general node, while a sampler uses its partial sums.
  std::vector<Graph_Node*> terms;
  for (double t : {1.0, 2.0, 3.0, 4.0, 5.0}) terms.push_back(Node(t));
  Graph_Node* eta = Logical({24, 24, 1, 24, 1, 24, 1, 24, 1, 21}, terms);
  Graph_Node* square = Logical({23, 23, 3, 21}, {eta, eta});
  Determ_OptDeterm();
  Determ_activeNode = terms[2];
  Determ_fastLinear = false;
  EXPECT_EQ(V(square), 225.0);
  Determ_fastLinear = true;
  Graph_Own(terms[2]) = -1.0;
  EXPECT_EQ(V(square), 121.0);
  Determ_fastLinear = false;
  Determ_activeNode = nullptr;
  // One snapshot spans many reads; a later read sees a new value.
  {
    const Determ_Snapshot snapshot;
    EXPECT_EQ(V(square), 121.0);
    EXPECT_EQ(V(eta), 11.0);
  }
  Graph_Own(terms[0]) = 2.0;
  EXPECT_EQ(V(square), 144.0);
}

}  // namespace
