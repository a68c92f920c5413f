#include "graph/Ops.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "HandGraph.h"
#include "Pipeline.h"
#include "graph/Determ.h"
#include "graph/FoldCons.h"
#include "store/Graph.h"

namespace {

// A random constant expression in postfix code, with its operand values.
struct Expression {
  std::vector<int32_t> code;
  std::vector<double> operands;
};

// Random trees over every operator of general code. Leaves are drawn partly
// from values at the edges of the operators' domains: 0 and negative
// arguments of log, sqrt, logit and cloglog, arguments beyond the range of
// exp, the floor of log, and pairs that differ by about the tolerance of
// equals.
class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : random_(seed) {
    for (int32_t op = 1; op < Ops_numCodes; ++op)
      if (Ops_Of(op).arity > 0) operators_.push_back(op);
  }
  const std::vector<int32_t>& Operators() const { return operators_; }

  // A tree of at most height levels of operators: its value stack needs at
  // most height + 1 entries and its code at most 2^(height+1) - 1.
  Expression Make(int height) {
    Expression e;
    Tree(height, e);
    e.code.push_back(Determ_end);
    return e;
  }

 private:
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random_); }
  bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

  double Constant() {
    static const double edges[] = {0.0,   -0.0,   1.0,    -1.0,    0.5,     2.0,     1.0E-40, 1.0E-41,
                                   -3.0,  700.0,  709.78, 710.0,   800.0,   -745.0,  -800.0,  1.0E300,
                                   -37.0, 37.0,   1.0E-6, -1.0E-6, 1 - 1.0E-16, 1.0E-320};
    if (Chance(0.5)) return edges[std::uniform_int_distribution<size_t>(0, std::size(edges) - 1)(random_)];
    if (Chance(0.5)) return Uniform(-10.0, 10.0);
    return (Chance(0.5) ? 1 : -1) * std::pow(10.0, Uniform(-8.0, 8.0));
  }

  void Leaf(double value, Expression& e) {
    e.code.push_back(Determ_push);
    e.operands.push_back(value);
  }

  void Tree(int height, Expression& e) {
    if (height == 0 || Chance(0.25)) return Leaf(Constant(), e);
    const int32_t op = operators_[std::uniform_int_distribution<size_t>(0, operators_.size() - 1)(random_)];
    if (op == Determ_equals && Chance(0.6)) {
      // Two values a hair apart, on either side of the tolerance.
      static const double gaps[] = {0.0, 1.0E-13, 1.0E-9, 5.0E-7, -9.9E-7, 1.01E-6, -2.0E-6, 1.0E-5};
      const double a = Uniform(-2.0, 2.0);
      Leaf(a, e);
      Leaf(a + gaps[std::uniform_int_distribution<size_t>(0, std::size(gaps) - 1)(random_)], e);
    } else {
      Tree(height - 1, e);
      if (Ops_Of(op).arity == 2) Tree(height - 1, e);
    }
    e.code.push_back(op);
  }

  std::mt19937 random_;
  std::vector<int32_t> operators_;
};

bool Same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

class OpsTest : public test::HandGraph {
 protected:
  void SetUp() override {
    HandGraph::SetUp();
    InitFoldCons();
  }
  static double V(Graph_Node* n) { return n->valueFunction(n); }
  // A logical node over fresh operand nodes of the given kind.
  static Graph_Node* Over(const Expression& e, int32_t kind) {
    std::vector<Graph_Node*> parents;
    for (const double v : e.operands) parents.push_back(Node(v, kind));
    return Logical(e.code, parents);
  }
};

// Folding a constant expression gives, to the last bit, the value the
// interpreter computes for the same code when its operands are unknowns.
TEST_F(OpsTest, FoldingAndEvaluationAgreeOnRandomConstantExpressions) {
  constexpr int trees = 3000;
  TreeMaker maker(20240607u);
  std::vector<Expression> expressions;
  std::vector<double> evaluated;
  for (int i = 0; i < trees; ++i) {
    expressions.push_back(maker.Make(1 + i % 5));
    evaluated.push_back(V(Over(expressions.back(), Graph_stochastic)));
  }
  std::vector<Graph_Node*> folded;
  for (const Expression& e : expressions) folded.push_back(Over(e, Graph_data));
  FoldCons_FoldConstants();

  std::map<int32_t, int> uses;
  int nonFinite = 0, equalsWithinTolerance = 0;
  for (int i = 0; i < trees; ++i) {
    const Expression& e = expressions[static_cast<size_t>(i)];
    Graph_Node* node = folded[static_cast<size_t>(i)];
    // Folded to one constant, read from its node.
    ASSERT_EQ(node->stack, (std::vector<int32_t>{Determ_pushValue, Determ_end})) << "tree " << i;
    ASSERT_EQ(node->parents[0]->kind, Graph_data);
    const double value = V(node);
    std::ostringstream code;
    for (const int32_t op : e.code) code << op << ' ';
    EXPECT_TRUE(Same(value, evaluated[static_cast<size_t>(i)]))
        << "tree " << i << ": code " << code.str() << "folds to " << value << ", evaluates to "
        << evaluated[static_cast<size_t>(i)];
    for (const int32_t op : e.code) ++uses[op];
    if (!std::isfinite(value)) ++nonFinite;
    for (size_t k = 0; k + 2 < e.code.size(); ++k)
      if (e.code[k + 2] == Determ_equals && e.code[k] == Determ_push && e.code[k + 1] == Determ_push) {
        // The operands of this equals are the two pushed just before it.
        size_t operand = 0;
        for (size_t j = 0; j < k; ++j) operand += e.code[j] == Determ_push;
        const double gap = std::fabs(e.operands[operand] - e.operands[operand + 1]);
        if (gap > 1.0E-12 && gap < 1.0E-6) ++equalsWithinTolerance;
      }
  }
  // The trees reached every operator, values beyond the finite, and equals
  // on operands that differ by less than its tolerance but not by nothing.
  for (const int32_t op : maker.Operators()) EXPECT_GE(uses[op], 50) << "op " << op;
  EXPECT_GT(nonFinite, 50);
  EXPECT_GT(equalsWithinTolerance, 50);
}

// The rows agree with the code the interpreter runs for a single operator,
// over the edge cases the tests above must keep meaning.
TEST_F(OpsTest, RowsGiveTheOperatorValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    int32_t op;
    double a, b, expected;
  } cases[] = {
      {Determ_equals, 1.0, 1.0000005, 1.0}, {Determ_equals, 1.0, 1.00000001, 1.0},
      {Determ_equals, 1.0, 1.00001, 0.0},   {Determ_equals, 2.0, 2.0 - 9.9E-7, 1.0},
      {Determ_log, 0.0, 0, std::log(1.0E-40)}, {Determ_log, -1.0, 0, std::log(1.0E-40)},
      {Determ_step, 0.0, 0, 1.0},           {Determ_step, -1.0E-300, 0, 0.0},
      {Determ_exp, 710.0, 0, inf},          {Determ_expLink, 1.0, 0, std::exp(1.0)},
      {Determ_ilogit, 0.0, 0, 0.5},         {Determ_phi, 0.0, 0, 0.5},
      {Determ_icloglog, 0.0, 0, 1 - std::exp(-1.0)}, {Determ_logfact, 3.0, 0, std::log(6.0)},
      {Determ_max, 2.0, 3.0, 3.0},          {Determ_min, 2.0, 3.0, 2.0},
      {Determ_pow, 2.0, 10.0, 1024.0},      {Determ_negate, 2.0, 0, -2.0},
  };
  for (const auto& c : cases) {
    const Ops_Row& row = Ops_Of(c.op);
    const double value = row.arity == 2 ? row.binary(c.a, c.b) : row.unary(c.a);
    // phi and the log gamma functions are approximations good to about 1.0E-8.
    if (std::isinf(c.expected)) {
      EXPECT_EQ(value, c.expected) << row.name;
    } else {
      EXPECT_NEAR(value, c.expected, 1.0E-7 * std::fabs(c.expected)) << row.name;
    }
    const Expression e = row.arity == 2 ? Expression{{23, 23, c.op, 21}, {c.a, c.b}}
                                        : Expression{{23, c.op, 21}, {c.a}};
    EXPECT_TRUE(Same(V(Over(e, Graph_stochastic)), value)) << row.name;
  }
  // Codes that are no operator have no value of their own.
  for (const int64_t op : {0, 11, 17, 20, 21, 23, 24, 25, 29, 31, 32, 34, -1, 200})
    EXPECT_EQ(Ops_Of(op).arity, 0) << op;
}

// Each operator token of the model language is written as its own op-code,
// and a kind with no operation of its own as none.
TEST_F(OpsTest, TokensMapToTheirOpCodes) {
  for (int32_t op = 1; op < Ops_numCodes; ++op) {
    const Ops_Row& row = Ops_Of(op);
    if (row.token != 0) {
      EXPECT_EQ(Ops_FromToken(row.token), op) << row.name;
    }
    EXPECT_EQ(row.arity > 0, row.token != 0) << op;  // every operator can be written
  }
  EXPECT_EQ(Ops_FromToken(Scanner_probit), 0);
  EXPECT_EQ(Ops_FromToken(Scanner_sum), 0);
  EXPECT_EQ(Ops_FromToken(0), 0);
}

class OpsModelTest : public test::Pipeline {};

// equals of two values 1.0E-8 apart is 1 whether the expression around it is
// computed once at compile time or again at every read.
TEST_F(OpsModelTest, EqualsGivesOneAnswerFoldedAndEvaluated) {
  ASSERT_TRUE(Build("var mu, a, c, d; { mu ~ dnorm(0, 1)\n"
                    "  a <- equals(1.0, 1.00000001)\n"
                    "  c <- mu * equals(1.0, 1.00000001)\n"
                    "  d <- mu * equals(1.0, 1.00001) }",
                    "", "list(mu = 1)"))
      << Console();
  EXPECT_EQ(Graph_ValueOf(N("a")), 1.0);
  EXPECT_EQ(Graph_ValueOf(N("c")), 1.0);
  EXPECT_EQ(Graph_ValueOf(N("d")), 0.0);
}

}  // namespace
