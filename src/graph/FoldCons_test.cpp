#include "graph/FoldCons.h"

#include <algorithm>
#include <cmath>

#include "HandGraph.h"

namespace {

using Code = std::vector<int32_t>;
using Nodes = std::vector<Graph_Node*>;

class FoldConsTest : public test::HandGraph {
 protected:
  void SetUp() override {
    HandGraph::SetUp();
    InitFoldCons();
  }
  static Graph_Node* D(double value) { return Node(value, Graph_data); }
};

// Constant parts fold into one new data node and exact identities drop out; the node keeps its value.
TEST_F(FoldConsTest, FoldsConstantsAndRemovesIdentities) {
  Graph_Node *theta = Node(0.5), *alpha = Node(1.5), *beta = Node(2.5), *zero = D(0), *five = D(5), *two = D(2);
  Graph_Node *seven = D(7), *another = D(2), *w = Logical({23, 21}, {theta});
  Graph_Node* const fresh = nullptr;  // stands for the one new constant
  const struct {
    Code code;
    Nodes parents;
    Code result;           // the code after folding
    Nodes resultParents;   // empty: not checked
    double constant = -1;  // the new constant's value, when one is made
  } rows[] = {
      {{23, 23, 3, 23, 1, 21}, {D(2), D(3), theta}, {24, 24, 1, 21}, {fresh, theta}, 6},  // 2 * 3 + theta
      {{23, 23, 23, 23, 2, 3, 1, 21}, {alpha, beta, seven, two}, {24, 24, 24, 3, 1, 21}, {alpha, beta, fresh}, 5},
      // Carried out as written, even when the result is not finite.
      {{23, 23, 23, 4, 1, 21}, {theta, D(1), D(0)}, {24, 24, 1, 21}, {theta, fresh}, HUGE_VAL},
      {{23, 23, 3, 23, 1, 21}, {theta, D(1), D(0)}, {24, 21}, {theta}},  // theta * 1 + 0
      {{23, 23, 3, 21}, {zero, theta}, {24, 21}, {zero}},                // 0 * theta: the zero's own node holds it
      {{23, 23, 2, 21}, {zero, theta}, {24, 30, 21}, {}},                // 0 - theta: unary minus
      // Only an exact 0 or 1 is an identity.
      {{23, 23, 2, 21}, {D(1.0E-13), theta}, {24, 24, 2, 21}, {}},
      {{23, 23, 3, 21}, {D(1.0E-13), theta}, {24, 24, 3, 21}, {}},
      {{23, 23, 3, 21}, {D(1.0 + 1.0E-13), theta}, {24, 24, 3, 21}, {}},
      {{23, 23, 2, 23, 4, 23, 22, 21}, {theta, zero, D(1), D(1)}, {24, 21}, {}},  // x - 0, / 1, ^ 1
      {{23, 23, 4, 21}, {zero, theta}, {24, 21}, {fresh}, 0},  // 0 / theta folds to 0, in a node of its own
      // Data operands become constants without a new node; a logical one is still computed.
      {{23, 12, 23, 1, 21}, {theta, five}, {24, 12, 24, 1, 21}, {theta, five}},
      {{23, 23, 1, 21}, {w, alpha}, {23, 24, 1, 21}, {}},
      // max and min take over the chosen node; of equal operands the first.
      {{23, 23, 16, 23, 1, 21}, {another, five, theta}, {24, 24, 1, 21}, {five, theta}},
      {{23, 23, 18, 23, 1, 21}, {another, five, theta}, {24, 24, 1, 21}, {another, theta}},
      {{23, 23, 16, 21}, {two, another}, {24, 21}, {two}},
  };
  for (size_t r = 0; r < std::size(rows); ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    const auto& row = rows[r];
    Graph_Node* y = Logical(row.code, row.parents);
    const double before = y->valueFunction(y);
    const int32_t count = Graph_totalNumNodes;
    FoldCons_FoldConstants();
    EXPECT_EQ(Graph_totalNumNodes - count, row.constant != -1 ? 1 : 0);
    EXPECT_EQ(Code(y->stack.begin(), std::find(y->stack.begin(), y->stack.end(), Determ_end) + 1), row.result);
    Determ_SetValueFunction(y);
    EXPECT_EQ(y->valueFunction(y), before);
    Graph_Node* last = Graph_Label(Graph_totalNumNodes - 1);
    Nodes expected = row.resultParents;
    std::replace(expected.begin(), expected.end(), fresh, last);
    if (!expected.empty()) { EXPECT_EQ(Nodes(y->parents.begin(), y->parents.begin() + y->numParents), expected); }
    if (row.constant != -1) { EXPECT_TRUE(last->kind == Graph_data && Graph_Own(last) == row.constant); }
  }
  EXPECT_EQ(w->stack, (Code{24, 21}));  // the logical operand's own code is rewritten too
}

TEST_F(FoldConsTest, LeavesSpecialAndMalformedCodeAlone) {
  const std::pair<Code, size_t> cases[] = {  // the code and its number of operands
      {{Determ_mean, 1, 4, 3, 1}, 0},        // special code
      {{23, 23, 1}, 2},                      // no end
      {{23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 21}, 11},
      {{23, 1, 21}, 1},                      // an operator without its operands
      {{23, 23, 1, 21}, 1},                  // more pushes than parents
      {{23, 23, 21}, 2},                     // an operand left over at the end
      {{24, 21}, 1},                         // already rewritten
  };
  Graph_Node* theta = Node(0.5);
  for (const auto& [code, operands] : cases) {
    Graph_Node* y = Node(0.0, Graph_logical);
    y->stack = code, y->parents = Nodes(operands, theta), y->numParents = static_cast<int32_t>(operands);
    FoldCons_FoldConstants();
    EXPECT_TRUE(y->stack == code && y->parents == Nodes(operands, theta)) << operands;
  }
  // Ten operands fill the value stack exactly and are still rewritten.
  Code full(10, 23), rewritten(10, 24);
  for (Code* code : {&full, &rewritten}) code->insert(code->end(), {1, 1, 1, 1, 1, 1, 1, 1, 1, 21});
  Graph_Node* y = Logical(full, Nodes(10, theta));
  FoldCons_FoldConstants();
  EXPECT_EQ(y->stack, rewritten);
  Determ_SetValueFunction(y);
  EXPECT_EQ(y->valueFunction(y), 5.0);
}

}  // namespace
