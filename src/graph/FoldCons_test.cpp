#include "graph/FoldCons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "graph/Determ.h"
#include "numerics/SpecFunc.h"
#include "store/Graph.h"

namespace {

using Code = std::vector<int32_t>;
using Nodes = std::vector<Graph_Node*>;

// Nodes 0..3 are theta, alpha, beta (stochastic) and w (logical, theta);
// 4..7 are data: 5, 7, 2, 2. Node 8 is y, the node under test.
class FoldConsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGraph();
    InitSpecFunc();
    InitDeterm();
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
    Determ_SetValueFunction(Graph_nodes[3]);
  }
  static Graph_Node* N(int32_t i) { return Graph_nodes[i]; }
  // An anonymous data node, as the parser makes for a number in the model.
  static Graph_Node* Literal(double value) {
    Graph_Node* n = Graph_NewNode();
    n->kind = Graph_data;
    Graph_Own(n) = value;
    Graph_Link(n);
    return n;
  }
  // Gives y the code and operands, folds, and returns how many nodes were
  // added; y's value must be the one its code had before.
  static int32_t Fold(const Code& code, const Nodes& parents) {
    Graph_Node* y = N(8);
    y->kind = Graph_logical;
    y->stack = code;
    y->parents = parents;
    y->numParents = static_cast<int32_t>(parents.size());
    Determ_SetValueFunction(y);
    const double before = y->valueFunction(y);
    const int32_t count = Graph_totalNumNodes;
    FoldCons_FoldConstants();
    Determ_SetValueFunction(y);
    const double after = y->valueFunction(y);
    EXPECT_TRUE(after == before || (std::isnan(after) && std::isnan(before))) << before << " became " << after;
    return Graph_totalNumNodes - count;
  }
  static Code CodeOf() {
    const auto& code = N(8)->stack;
    return Code(code.begin(), std::find(code.begin(), code.end(), Determ_end) + 1);
  }
};

// Constant parts fold into one new data node; exact identities drop out.
TEST_F(FoldConsTest, FoldsConstantsAndRemovesIdentities) {
  Graph_Node* zero = Literal(0);
  Graph_Node* const fresh = nullptr;  // stands for the one new constant
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    Code code;
    Nodes parents;
    Code result;           // y's code after folding
    Nodes resultParents;   // empty: not checked
    double constant = -1;  // the new constant's value, when one is made
  } rows[] = {
      {{23, 23, 3, 23, 1, 21}, {Literal(2), Literal(3), N(0)}, {24, 24, 1, 21}, {fresh, N(0)}, 6},  // 2 * 3 + theta
      // alpha + beta * (x - xbar)
      {{23, 23, 23, 23, 2, 3, 1, 21}, {N(1), N(2), N(5), N(6)}, {24, 24, 24, 3, 1, 21}, {N(1), N(2), fresh}, 5},
      // Carried out as written, even when the result is not finite.
      {{23, 23, 23, 4, 1, 21}, {N(0), Literal(1), Literal(0)}, {24, 24, 1, 21}, {N(0), fresh}, inf},
      {{23, 23, 3, 23, 1, 21}, {N(0), Literal(1), Literal(0)}, {24, 21}, {N(0)}},  // theta * 1 + 0
      {{23, 23, 3, 21}, {zero, N(0)}, {24, 21}, {zero}},  // 0 * theta: the zero's own node holds it
      {{23, 23, 2, 21}, {zero, N(0)}, {24, 30, 21}, {}},  // 0 - theta: unary minus
      // Only an exact 0 or 1 is an identity.
      {{23, 23, 2, 21}, {Literal(1.0E-13), N(0)}, {24, 24, 2, 21}, {}},
      {{23, 23, 3, 21}, {Literal(1.0E-13), N(0)}, {24, 24, 3, 21}, {}},
      {{23, 23, 3, 21}, {Literal(1.0 + 1.0E-13), N(0)}, {24, 24, 3, 21}, {}},
      {{23, 23, 2, 23, 4, 23, 22, 21}, {N(0), zero, Literal(1), Literal(1)}, {24, 21}, {}},  // x - 0, / 1, ^ 1
      {{23, 23, 4, 21}, {zero, N(0)}, {24, 21}, {fresh}, 0},  // 0 / theta folds to 0, in a node of its own
      // Data operands become constants without a new node; a logical one is still computed.
      {{23, 12, 23, 1, 21}, {N(0), N(4)}, {24, 12, 24, 1, 21}, {N(0), N(4)}},
      {{23, 23, 1, 21}, {N(3), N(1)}, {23, 24, 1, 21}, {}},
      // max and min take over the chosen node; of equal operands the first.
      {{23, 23, 16, 23, 1, 21}, {N(7), N(4), N(0)}, {24, 24, 1, 21}, {N(4), N(0)}},
      {{23, 23, 18, 23, 1, 21}, {N(7), N(4), N(0)}, {24, 24, 1, 21}, {N(7), N(0)}},
      {{23, 23, 16, 21}, {N(6), N(7)}, {24, 21}, {N(6)}},
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    const auto& row = rows[r];
    EXPECT_EQ(Fold(row.code, row.parents), row.constant != -1 ? 1 : 0) << "row " << r;
    EXPECT_EQ(CodeOf(), row.result) << "row " << r;
    Nodes expected = row.resultParents;
    for (Graph_Node*& n : expected)
      if (n == fresh) n = Graph_Label(Graph_totalNumNodes - 1);
    if (!expected.empty()) {
      EXPECT_EQ(Nodes(N(8)->parents.begin(), N(8)->parents.begin() + N(8)->numParents), expected) << r;
    }
    const auto at = std::find(row.resultParents.begin(), row.resultParents.end(), fresh);
    if (at != row.resultParents.end()) {
      Graph_Node* c = N(8)->parents[static_cast<size_t>(at - row.resultParents.begin())];
      EXPECT_EQ(c->kind, Graph_data) << r;
      EXPECT_EQ(Graph_Own(c), row.constant) << r;
    }
  }
  EXPECT_EQ(N(3)->stack, (Code{24, 21}));  // the logical operand's own code is rewritten too
}

TEST_F(FoldConsTest, LeavesSpecialAndMalformedCodeAlone) {
  const struct {
    Code code;
    size_t operands;
  } cases[] = {
      {{Determ_mean, 1, 4, 3, 1}, 0},  // special code
      {{23, 23, 1}, 2},                // no end
      {{23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 21}, 11},
      {{23, 1, 21}, 1},      // an operator without its operands
      {{23, 23, 1, 21}, 1},  // more pushes than parents
      {{23, 23, 21}, 2},     // an operand left over at the end
      {{24, 21}, 1},         // already rewritten
  };
  for (const auto& c : cases) {
    const Nodes parents(c.operands, N(0));
    N(8)->kind = Graph_logical;
    N(8)->stack = c.code;
    N(8)->parents = parents;
    N(8)->numParents = static_cast<int32_t>(c.operands);
    FoldCons_FoldConstants();
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
