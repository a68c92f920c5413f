#include "graph/FoldCons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <iterator>
#include <numbers>
#include <utility>

#include "graph/Determ.h"
#include "store/Graph.h"
#include "numerics/SpecFunc.h"

namespace {

using Code = std::vector<int32_t>;
using Nodes = std::vector<Graph_Node*>;

double Sentinel(Graph_Node*) { return 42.0; }

// Declared nodes 0..3 are theta, alpha, beta (stochastic) and w (logical);
// 4..7 are data: c = 5, x = 7, xbar = 2, two = 2. Node 8 is y, the node under test.
class FoldConsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGraph();
    InitSpecFunc();
    InitFoldCons();
    ASSERT_TRUE(Graph_AllocateNodes(9));
    const double values[] = {0.5, 1.5, 2.5, 0, 5, 7, 2, 2, 0};
    for (int32_t i = 0; i < 9; ++i) {
      Graph_nodes[i] = Graph_NewNode();
      Graph_nodes[i]->label = i;
      Graph_Own(Graph_nodes[i]) = values[i];
      Graph_nodes[i]->kind = i < 3 ? Graph_stochastic : i == 3 ? Graph_logical : Graph_data;
    }
    Graph_nodes[3]->stack = {Determ_push, Determ_end};
    Graph_nodes[3]->parents = {Graph_nodes[0]};
    Graph_nodes[3]->numParents = 1;
  }
  Graph_Node* N(int32_t i) { return Graph_nodes[i]; }
  // An anonymous data node, as the parser makes for a number in the model.
  Graph_Node* Literal(double value) {
    Graph_Node* n = Graph_NewNode();
    n->kind = Graph_data;
    Graph_Own(n) = value;
    Graph_Link(n);
    return n;
  }
  // Gives y the code and operands, folds, and returns how many nodes were added.
  int32_t Fold(const Code& code, const Nodes& parents) {
    Graph_Node* y = N(8);
    y->kind = Graph_logical;
    y->stack = code;
    y->parents = parents;
    y->numParents = static_cast<int32_t>(parents.size());
    y->valueFunction = Sentinel;
    const int32_t before = Graph_totalNumNodes;
    FoldCons_FoldConstants();
    EXPECT_EQ(y->valueFunction, Sentinel);
    return Graph_totalNumNodes - before;
  }
  // y's code up to and including op 21, and its operands.
  Code CodeOf() {
    const auto& code = N(8)->stack;
    return Code(code.begin(), std::find(code.begin(), code.end(), Determ_end) + 1);
  }
  Nodes ParentsOf() { return Nodes(N(8)->parents.begin(), N(8)->parents.begin() + N(8)->numParents); }
  // The single computed constant of y, checked to be a new data node.
  double NewConstant(int32_t position) {
    Graph_Node* c = N(8)->parents[position];
    EXPECT_EQ(c->kind, Graph_data);
    EXPECT_EQ(c, Graph_Label(Graph_totalNumNodes - 1));
    return Graph_Own(c);
  }
};

TEST_F(FoldConsTest, FoldsConstantsRemovesIdentitiesAndClassifiesOperands) {
  Graph_Node* zero = Literal(0);
  Graph_Node* const fresh = nullptr;  // stands for the one new constant
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    Code code;
    Nodes parents;
    Code result;           // y's code after folding; empty: not checked
    Nodes resultParents;   // empty: not checked
    double constant = -1;  // the new constant's value, when one is made
  } rows[] = {
      {{23, 23, 3, 23, 1, 21}, {Literal(2), Literal(3), N(0)}, {24, 24, 1, 21}, {fresh, N(0)}, 6},  // 2 * 3 + theta
      // alpha + beta * (x - xbar)
      {{23, 23, 23, 23, 2, 3, 1, 21}, {N(1), N(2), N(5), N(6)}, {24, 24, 24, 3, 1, 21}, {N(1), N(2), fresh}, 5},
      // Arithmetic is carried out as written, even when the result is not finite.
      {{23, 23, 23, 4, 1, 21}, {N(0), Literal(1), Literal(0)}, {24, 24, 1, 21}, {N(0), fresh}, inf},
      {{23, 23, 3, 23, 1, 21}, {N(0), Literal(1), Literal(0)}, {24, 21}, {N(0)}},  // theta * 1 + 0
      {{23, 23, 3, 21}, {zero, N(0)}, {24, 21}, {zero}},  // 0 * theta: the zero's own node holds it
      {{23, 23, 2, 21}, {zero, N(0)}, {24, 30, 21}, {}},  // 0 - theta: unary minus
      // Only an exact 0 or 1 is an identity: a small constant keeps its part.
      {{23, 23, 2, 21}, {Literal(1.0E-13), N(0)}, {24, 24, 2, 21}, {}},
      {{23, 23, 3, 21}, {Literal(1.0E-13), N(0)}, {24, 24, 3, 21}, {}},
      {{23, 23, 3, 21}, {Literal(1.0 + 1.0E-13), N(0)}, {24, 24, 3, 21}, {}},
      {{23, 23, 2, 23, 4, 23, 22, 21}, {N(0), zero, Literal(1), Literal(1)}, {24, 21}, {}},  // x - 0, / 1, ^ 1
      {{23, 23, 4, 21}, {zero, N(0)}, {}, {fresh}, 0},  // 0 / theta folds to 0, held by a node of its own
      // Data operands become constants without a new node; a logical one is still computed.
      {{23, 12, 23, 1, 21}, {N(0), N(4)}, {24, 12, 24, 1, 21}, {N(0), N(4)}},
      {{23, 23, 1, 21}, {N(3), N(1)}, {23, 24, 1, 21}, {}},
      // max and min take over the chosen node; of equal operands the first.
      {{23, 23, 16, 23, 1, 21}, {N(7), N(4), N(0)}, {}, {N(4), N(0)}},
      {{23, 23, 18, 23, 1, 21}, {N(7), N(4), N(0)}, {}, {N(7), N(0)}},
      {{23, 23, 16, 21}, {N(6), N(7)}, {}, {N(6)}},
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    const auto& row = rows[r];
    const bool folds = row.constant != -1;
    EXPECT_EQ(Fold(row.code, row.parents), folds ? 1 : 0) << "row " << r;
    if (!row.result.empty()) { EXPECT_EQ(CodeOf(), row.result) << "row " << r; }
    Nodes expected = row.resultParents;
    for (Graph_Node*& n : expected)
      if (n == fresh) n = Graph_Label(Graph_totalNumNodes - 1);
    if (!expected.empty()) { EXPECT_EQ(ParentsOf(), expected) << "row " << r; }
    if (folds) {
      const auto at = std::find(row.resultParents.begin(), row.resultParents.end(), fresh) - row.resultParents.begin();
      EXPECT_EQ(NewConstant(static_cast<int32_t>(at)), row.constant) << "row " << r;
    }
  }
  EXPECT_EQ(N(3)->stack, (Code{24, 21}));  // the logical operand's own code is rewritten too
}

TEST_F(FoldConsTest, FoldsFunctionsOfConstants) {
  // equals folds with the interpreter's tolerance of 1.0E-6.
  for (const auto& [b, expected] : {std::pair{1 + 1.0E-13, 1.0}, {1 + 1.0E-9, 1.0}, {1.0000005, 1.0}, {1.00001, 0.0}}) {
    EXPECT_EQ(Fold({23, 23, 33, 21}, {Literal(1), Literal(b)}), 1) << b;
    EXPECT_EQ(NewConstant(0), expected) << b;
  }
  const struct {
    int32_t op;
    double a, expected;
  } cases[] = {{Determ_log, 0, std::log(1.0E-40)}, {Determ_step, 0, 1}, {Determ_step, -1, 0},
               {Determ_phi, 0, 0.5}, {Determ_phi, 1.959963984540054, 0.975}, {Determ_ilogit, 0, 0.5},
               {Determ_logit, 0.5, 0}, {Determ_icloglog, 0, 1 - std::exp(-1.0)}, {Determ_negate, 2, -2},
               {Determ_logfact, 3, std::log(6.0)}};
  for (const auto& c : cases) {
    EXPECT_EQ(Fold({23, c.op, 21}, {Literal(c.a)}), 1) << c.op;
    EXPECT_NEAR(NewConstant(0), c.expected, 1.0E-6) << c.op;
  }
}

TEST_F(FoldConsTest, LeavesSpecialAndMalformedCodeAlone) {
  const struct {
    Code code;
    size_t operands;
  } cases[] = {
      {{Determ_mean, 1, 4, 3, 1}, 0},  // special code
      {{23, 23, 1}, 2},                // no end
      {{23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 21}, 11},
      {{23, 1, 21}, 1},                // an operator without its operands
      {{23, 23, 1, 21}, 1},            // more pushes than parents
      {{23, 23, 21}, 2},               // an operand left over at the end
      {{24, 21}, 1},                   // already rewritten
  };
  for (const auto& c : cases) {
    const Nodes parents(c.operands, N(0));
    EXPECT_EQ(Fold(c.code, parents), 0);
    EXPECT_EQ(N(8)->stack, c.code);
    EXPECT_EQ(N(8)->parents, parents);
  }
  // Ten operands fill the value stack exactly and are still rewritten.
  Code full(10, 23), rewritten(10, 24);
  for (Code* code : {&full, &rewritten}) code->insert(code->end(), {1, 1, 1, 1, 1, 1, 1, 1, 1, 21});
  EXPECT_EQ(Fold(full, Nodes(10, N(0))), 0);
  EXPECT_EQ(CodeOf(), rewritten);
}

}  // namespace
