#include "graph/FoldCons.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "HandGraph.h"
#include "graph/Determ.h"
#include "graph/Ops.h"

namespace {

using Code = std::vector<int32_t>;
using Nodes = std::vector<Graph_Node*>;

struct Expression { std::vector<int32_t> code; std::vector<double> operands; };  // postfix code over constant operands

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

class FoldConsTest : public test::HandGraph {
 protected:
  void SetUp() override { HandGraph::SetUp(); InitFoldCons(); }
  static Graph_Node* D(double value) { return Node(value, Graph_data); }
  static double V(Graph_Node* n) { return n->valueFunction(n); }
  static Graph_Node* Over(const Expression& e, int32_t kind) {
    std::vector<Graph_Node*> parents;
    for (const double v : e.operands) parents.push_back(Node(v, kind));
    return Logical(e.code, parents);
  }
  // Each data expression must fold to one constant, to the bit what the interpreter gives over unknowns.
  static void ExpectFoldingAgrees(const std::vector<Expression>& expressions) {
    std::vector<double> evaluated;
    std::vector<Graph_Node*> folded;
    for (const Expression& e : expressions) {
      evaluated.push_back(V(Over(e, Graph_stochastic)));
      folded.push_back(Over(e, Graph_data));
    }
    FoldCons_FoldConstants();
    for (size_t i = 0; i < folded.size(); ++i) {
      ASSERT_EQ(folded[i]->stack, (std::vector<int32_t>{Determ_pushValue, Determ_end})) << "expression " << i;
      EXPECT_TRUE(Same(V(folded[i]), evaluated[i])) << "expression " << i << " folds to " << V(folded[i]);
    }
  }
};

// Constant parts fold into one new data node and exact identities drop out; the node keeps its value.
TEST_F(FoldConsTest, FoldsConstantsAndRemovesIdentities) {
  Graph_Node *theta = Node(0.5), *alpha = Node(1.5), *beta = Node(2.5), *zero = D(0), *five = D(5), *two = D(2);
  Graph_Node *seven = D(7), *another = D(2), *w = Logical({23, 21}, {theta});
  Graph_Node* const fresh = nullptr;  // stands for the one new constant
  // The code and parents after folding (no parents: not checked), and the new constant's value when one is made.
  const struct { Code code; Nodes parents; Code result; Nodes resultParents; double constant = -1; } rows[] = {
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

// Random trees over every operator, leaves partly at the edges of their domains (0 and negatives for log, sqrt,
// logit, beyond the range of exp, pairs about the tolerance of equals apart).
TEST_F(FoldConsTest, FoldingAndEvaluationAgreeOnRandomConstantExpressions) {
  std::mt19937 random(20240607u);
  const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  const auto pick = [&](const auto& v) { return v[std::uniform_int_distribution<size_t>(0, std::size(v) - 1)(random)]; };
  std::vector<int32_t> operators;
  for (int32_t op = 1; op < Ops_numCodes; ++op)
    if (Ops_Of(op).arity > 0) operators.push_back(op);
  const double edges[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1.0E-40, 1.0E-41, -3.0, 700.0, 709.78, 710.0, 800.0, -745.0, -800.0,
                          1.0E300, -37.0, 37.0, 1.0E-6, -1.0E-6, 1 - 1.0E-16, 1.0E-320};
  const double gaps[] = {0.0, 1.0E-13, 1.0E-9, 5.0E-7, -9.9E-7, 1.01E-6, -2.0E-6, 1.0E-5};
  const auto tree = [&](auto& self, int height, Expression& e) -> void {
    if (height == 0 || uniform(0.0, 1.0) < 0.25) {
      const double r = uniform(0.0, 1.0);
      e.code.push_back(Determ_push);
      e.operands.push_back(r < 0.5 ? pick(edges) : r < 0.75 ? uniform(-10.0, 10.0) : std::pow(10.0, uniform(-8.0, 8.0)));
      return;
    }
    const int32_t op = pick(operators);
    if (op == Determ_equals && uniform(0.0, 1.0) < 0.6) {
      const double a = uniform(-2.0, 2.0);
      e.code.insert(e.code.end(), {Determ_push, Determ_push});
      e.operands.insert(e.operands.end(), {a, a + pick(gaps)});
    } else {
      self(self, height - 1, e);
      if (Ops_Of(op).arity == 2) self(self, height - 1, e);
    }
    e.code.push_back(op);
  };
  std::vector<Expression> expressions(3000);
  for (size_t i = 0; i < expressions.size(); ++i) {
    tree(tree, 1 + static_cast<int>(i % 5), expressions[i]);
    expressions[i].code.push_back(Determ_end);
  }
  ExpectFoldingAgrees(expressions);
}

// Each row gives its closed form at the promised edges (log's floor, step at 0, equals' tolerance), and so do
// folding and the interpreter.
TEST_F(FoldConsTest, RowsGiveTheOperatorValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct { int32_t op; double a, b, expected; } cases[] = {
      {Determ_equals, 1.0, 1.0000005, 1.0}, {Determ_equals, 1.0, 1.00000001, 1.0}, {Determ_equals, 1.0, 1 + 1.0E-13, 1.0},
      {Determ_equals, 1.0, 1.00001, 0.0}, {Determ_equals, 2.0, 2.0 - 9.9E-7, 1.0}, {Determ_log, 0.0, 0, std::log(1.0E-40)},
      {Determ_log, -1.0, 0, std::log(1.0E-40)}, {Determ_step, 0.0, 0, 1.0}, {Determ_step, -1.0E-300, 0, 0.0}, {Determ_exp, 710.0, 0, inf},
      {Determ_expLink, 1.0, 0, std::exp(1.0)}, {Determ_ilogit, 0.0, 0, 0.5}, {Determ_logit, 0.5, 0, 0.0}, {Determ_phi, 0.0, 0, 0.5},
      {Determ_phi, 1.959963984540054, 0, 0.975}, {Determ_icloglog, 0.0, 0, 1 - std::exp(-1.0)}, {Determ_logfact, 3.0, 0, std::log(6.0)},
      {Determ_max, 2.0, 3.0, 3.0}, {Determ_min, 2.0, 3.0, 2.0}, {Determ_pow, 2.0, 10.0, 1024.0}, {Determ_negate, 2.0, 0, -2.0},
  };
  std::vector<Expression> expressions;
  for (const auto& c : cases) {
    const Ops_Row& row = Ops_Of(c.op);
    const double value = row.arity == 2 ? row.binary(c.a, c.b) : row.unary(c.a);
    // phi and the log gamma functions are approximations good to about 1.0E-8.
    if (std::isinf(c.expected) || c.expected == 0.0) { EXPECT_EQ(value, c.expected) << row.name << " " << c.a; }
    else { EXPECT_NEAR(value, c.expected, 1.0E-7 * std::fabs(c.expected)) << row.name << " " << c.a; }
    expressions.push_back(row.arity == 2 ? Expression{{23, 23, c.op, 21}, {c.a, c.b}} : Expression{{23, c.op, 21}, {c.a}});
    EXPECT_TRUE(Same(V(Over(expressions.back(), Graph_stochastic)), value)) << row.name;
  }
  ExpectFoldingAgrees(expressions);
  EXPECT_TRUE(Ops_FromToken(Scanner_probit) == 0 && Ops_FromToken(Scanner_sum) == 0);  // no operator of general code
}

}  // namespace
