#include "sampling/ClassFun.h"

#include <string>
#include <vector>

#include "Hooks.h"
#include "HandGraph.h"
#include "Pipeline.h"
#include "graph/Determ.h"
#include "store/Distrib.h"
#include "sampling/ClassDen.h"

namespace {

class ClassFunTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitClassFun();
  }
  bool Make(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    const bool built = Build(model, data, inits);
    if (!built) ADD_FAILURE() << Console();
    return built;
  }
  // The class of node as a function of the block that holds updated.
  static int32_t R1(Graph_Node* node, Graph_Node* updated) {
    return ClassFun_MapRnToR1(node, updated->label, updated->size);
  }
  static int32_t R1(const std::string& name, int offset, const std::string& updated, int at = 0) {
    return R1(N(name, offset), N(updated, at));
  }
  static int32_t Rm(Graph_Node* node, const std::string& updated, int m) {
    Graph_Node* x = N(updated);
    return ClassFun_MapRnToRm(node, x->label, x->size, m);
  }
};

// ---- references and scalar forms

TEST_F(ClassFunTest, ReferencesAreClassifiedBySignOrDistribution) {
  ASSERT_TRUE(Make("var x, g, a, c, z, w[2], m[2], T[2,2]; { x ~ dnorm(0, 1) g ~ dgamma(1, 1)"
                   " a ~ dnorm(0, 1) w[1:2] ~ dmnorm(m[], T[,]) }",
                   "list(c = -2, z = 0, m = c(0, 0), T = c(1, 0, 0, 1))", "list(w = c(0, 0))"));
  EXPECT_EQ(R1("c", 0, "x"), ClassFun_negConst);
  EXPECT_EQ(R1("z", 0, "x"), ClassFun_nonNegConst);
  EXPECT_EQ(R1("g", 0, "x"), ClassFun_nonNegConst);
  EXPECT_EQ(R1("a", 0, "x"), ClassFun_anyConst);
  EXPECT_EQ(R1("x", 0, "x"), ClassFun_identity);
  EXPECT_EQ(R1("w", 1, "w"), ClassFun_identity);  // every component of the block
  EXPECT_EQ(R1("w", 1, "x"), ClassFun_anyConst);
}

// The sign of a stochastic node is that of its distribution's support: a
// Gumbel or uniform node may be negative (taking one for non-negative would
// let `prec <- u * t` pass as a scaled precision of t and give its gamma
// update a negative rate), while Weibull, geometric and Pareto nodes are not.
TEST_F(ClassFunTest, StochasticNodesTakeTheSignOfTheirSupport) {
  ASSERT_TRUE(Make("var x, u, h, v, k, r; { x ~ dnorm(0, 1) u ~ dgum(0, 1) h ~ dunif(-1, 1)"
                   " v ~ dweib(2, 1) k ~ dgeom(0.5) r ~ dpar(2, 1) }",
                   "", "list(u = 0.5, h = 0.5, v = 1, k = 2, r = 2)"));
  const std::pair<const char*, int32_t> cases[] = {{"u", ClassFun_anyConst},    {"h", ClassFun_anyConst},
                                                   {"v", ClassFun_nonNegConst}, {"k", ClassFun_nonNegConst},
                                                   {"r", ClassFun_nonNegConst}};
  for (const auto& [name, form] : cases) EXPECT_EQ(R1(name, 0, "x"), form) << name;
}

TEST_F(ClassFunTest, OperatorsFollowTheRuleTables) {
  ASSERT_TRUE(Make("var x, a, g, b, f[20]; { x ~ dnorm(0, 1) a ~ dnorm(0, 1) g ~ dgamma(1, 1)\n"
       " f[1] <- 2 * x  f[2] <- x + x  f[3] <- a + b * x  f[4] <- -x\n"
       " f[5] <- exp(a + b * x)  f[6] <- 1 + exp(a + b * x)  f[7] <- 1 / (1 + exp(a + b * x))\n"
       " logit(f[8]) <- a + b * x  f[9] <- x / 2  f[10] <- x * 0.5  f[11] <- log(x)\n"
       " f[12] <- log(g)  f[13] <- step(x - 1)  f[14] <- pow(x, 2)  f[15] <- max(x, a + b * x)\n"
       " f[16] <- max(a + b * x, x)  f[17] <- sqrt(g)  f[18] <- loggam(x)  f[19] <- g * exp(x)\n"
       " f[20] <- log(2) }",
       "list(b = 2)"));
  const std::vector<int32_t> expected{4, 4, 5, 5, 7, 9, 6, 6, 3, 4, 10, 2, 10, 8, 10, 5, 0, 10, 7, 0};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(R1("f", i, "x"), expected[i]) << "f[" << i + 1 << "]";
  // Folded to a data node before classification: its sign is all that is left.
  EXPECT_EQ(N("f", 19)->kind, Graph_data);
  // With a updated instead, x is an operand of either sign.
  const std::vector<int32_t> ofA{2, 2, 5, 2, 7, 9, 6, 6, 2, 2, 2, 2, 0, 0, 5, 5, 0, 2, 0, 0};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(R1("f", i, "a"), ofA[i]) << "f[" << i + 1 << "] of a";
}

// ---- aggregates

TEST_F(ClassFunTest, SumsAndMeansCombineTheirElementsWithPlus) {
  const std::string model =
      "var x[2], v[2], w[2,2], s[4]; { x[1] ~ dnorm(0, 1) x[2] ~ dgamma(1, 1) v[2] ~ dgamma(1, 1)"
      " w[2,1] ~ dnorm(0, 1) s[1] <- sum(x[]) s[2] <- mean(x[]) s[3] <- sum(v[]) s[4] <- sum(w[,]) }";
  ASSERT_TRUE(Make(model, "list(v = c(3, NA), w = c(1, 2, NA, 4))"));
  EXPECT_EQ(R1("s", 0, "x", 0), ClassFun_linear);
  EXPECT_EQ(R1("s", 1, "x", 0), ClassFun_linear);
  EXPECT_EQ(R1("s", 0, "v", 1), ClassFun_anyConst);  // dnorm + dgamma
  EXPECT_EQ(R1("s", 2, "x", 0), ClassFun_nonNegConst);
  EXPECT_EQ(R1("s", 3, "w", 2), ClassFun_linear);
  EXPECT_EQ(R1("s", 3, "x", 0), ClassFun_anyConst);
  ASSERT_TRUE(Make(model, "list(v = c(-2, NA), w = c(1, 2, NA, 4))"));
  EXPECT_EQ(R1("s", 2, "x", 0), ClassFun_anyConst);  // negative plus non-negative
}

// Within a session a sum over plain nodes is answered from folds read once;
// for every block of consecutive numbers, inside, across or outside the
// elements (of both signs, every other one for a column), the answer is
// that of the walk over every element.
TEST_F(ClassFunTest, SumsInASessionAgreeWithTheWalkForEveryBlock) {
  ASSERT_TRUE(Make("var x[6], m[3,2], s[3]; { x[1] ~ dnorm(0, 1) x[3] ~ dgamma(1, 1) x[4] ~ dnorm(0, 1)"
                   " x[6] ~ dgamma(1, 1) m[2,1] ~ dnorm(0, 1) m[3,1] ~ dgamma(1, 1)"
                   " s[1] <- sum(x[]) s[2] <- sum(m[, 1]) s[3] <- mean(x[2:5]) }",
                   "list(x = c(NA, -1, NA, NA, 2, NA), m = c(3, -2, NA, 1, NA, 0))"));
  const int32_t first = N("x")->label;
  for (int k = 0; k < 3; ++k) {
    Graph_Node* sum = N("s", k);
    for (int32_t label = first - 2; label < first + 14; ++label)
      for (int32_t size = 0; size <= 7; ++size) {
        const int32_t walked = ClassFun_MapRnToR1(sum, label, size);
        const ClassFun_Session session;
        EXPECT_EQ(ClassFun_MapRnToR1(sum, label, size), walked) << "s[" << k + 1 << "] " << label << " " << size;
      }
  }
}

TEST_F(ClassFunTest, InnerProductIsASumOfProducts) {
  ASSERT_TRUE(Make("var b[3], z[3], ip, sq; { for (i in 1:3) { b[i] ~ dnorm(0, 1) }"
       " ip <- inprod(b[], z[]) sq <- inprod(b[], b[]) }",
       "list(z = c(-1, 2, 3))"));
  EXPECT_EQ(R1("ip", 0, "b", 1), ClassFun_linear);
  EXPECT_EQ(R1("ip", 0, "b", 0), ClassFun_linear);
  EXPECT_EQ(R1("sq", 0, "b", 1), ClassFun_generalForm);
  EXPECT_EQ(R1("sq", 0, "z"), ClassFun_anyConst);
}

// ---- selections by computed index

TEST_F(ClassFunTest, SelectionCombinesItsCandidatesUnlessTheIndexMoves) {
  ASSERT_TRUE(Make("var k, p[3], y[3], yn[3], mu[3], s[3]; { k ~ dcat(p[]) for (i in 1:3) { mu[i] ~ dnorm(0, 1) }"
       " s[1] <- y[k] s[2] <- yn[k] s[3] <- mu[k] }",
       "list(p = c(0.2, 0.3, 0.5), y = c(1, 2, 3), yn = c(1, -2, 3))"));
  EXPECT_EQ(R1("s", 0, "mu", 0), ClassFun_nonNegConst);
  EXPECT_EQ(R1("s", 1, "mu", 0), ClassFun_anyConst);
  EXPECT_EQ(R1("s", 2, "mu", 1), ClassFun_identity);
  EXPECT_EQ(R1("s", 0, "k"), ClassFun_generalForm);
  EXPECT_EQ(R1("s", 2, "k"), ClassFun_generalForm);
}

TEST_F(ClassFunTest, SelectionWithThreeComputedIndicesTriesEveryCombination) {
  ASSERT_TRUE(Make("var i[3], q[2], d[2,2,2], t[2,2,2], u, v; { for (j in 1:3) { i[j] ~ dcat(q[]) }"
       " t[1,2,1] ~ dnorm(0, 1) u <- d[i[1], i[2], i[3]] v <- t[i[1], i[2], i[3]] }",
       "list(q = c(0.5, 0.5), d = c(1, 2, 3, 4, 5, 6, 7, 8), t = c(1, 2, NA, 4, 5, 6, 7, 8))"));
  EXPECT_EQ(R1("u", 0, "t", 2), ClassFun_nonNegConst);
  EXPECT_EQ(R1("v", 0, "t", 2), ClassFun_identity);
  EXPECT_EQ(R1("v", 0, "i", 2), ClassFun_generalForm);
  EXPECT_EQ(R1("v", 0, "i", 0), ClassFun_generalForm);
}

// ---- vectors

TEST_F(ClassFunTest, VectorsAreConstantIdentityLinearOrInverseLink) {
  ASSERT_TRUE(Make("var x[3], mu[3], T[3,3], c, lin[3], inv[3], e[3]; { x[1:3] ~ dmnorm(mu[], T[,])"
       " for (i in 1:3) { mu[i] ~ dnorm(0, 1) inv[i] <- phi(x[i]) e[i] <- exp(x[i]) }"
       " lin[1] <- x[1] lin[2] <- c lin[3] <- 2 * x[3] }",
       "list(c = 1, T = c(1, 0, 0, 0, 1, 0, 0, 0, 1))", "list(x = c(0, 0, 0))"));
  EXPECT_EQ(Rm(N("mu"), "x", 3), ClassFun_anyConst);
  EXPECT_EQ(Rm(N("x"), "x", 3), ClassFun_identity);
  EXPECT_EQ(Rm(N("lin"), "x", 3), ClassFun_linear);
  EXPECT_EQ(Rm(N("inv"), "x", 3), ClassFun_invLinkLinear);
  EXPECT_EQ(Rm(N("e"), "x", 3), ClassFun_generalForm);
  EXPECT_EQ(Rm(N("T"), "x", 9), ClassFun_anyConst);
}

TEST_F(ClassFunTest, SelectedRowIsClassifiedOverEveryCandidateRow) {
  ASSERT_TRUE(Make("var g, p[3], M[3,2], m0[2], y[2], T[2,2]; { g ~ dcat(p[]) M[2,1:2] ~ dmnorm(m0[], T[,])"
       " y[1:2] ~ dmnorm(M[g, ], T[,]) }",
       "list(p = c(0.2, 0.3, 0.5), M = c(1, 2, NA, NA, 5, 6), m0 = c(0, 0), T = c(1, 0, 0, 1), y = c(0, 0))",
       "list(M = c(NA, NA, 0, 0, NA, NA))"));
  Graph_Node* row = N("y")->parents[0];
  ASSERT_EQ(row->kind, Graph_logical);
  Graph_Node* block = N("M", 2);
  EXPECT_EQ(ClassFun_MapRnToRm(row, block->label, block->size, 2), ClassFun_identity);
  EXPECT_EQ(Rm(row, "g", 2), ClassFun_generalForm);
  EXPECT_EQ(Rm(row, "m0", 2), ClassFun_anyConst);
}

// ---- whole-array functions and equals

TEST_F(ClassFunTest, WholeArrayFunctionsAndEqualsAreConstantOrGeneral) {
  ASSERT_TRUE(Make("var v[3], s, R[2,2], Tau[2,2], S[2,2], ld, x, g, e[2]; { for (i in 1:3) { v[i] ~ dnorm(0, 1) }"
       " s <- sd(v[]) Tau[,] ~ dwish(R[,], 3) S[,] <- inverse(Tau[,]) ld <- logdet(Tau[,])"
       " x ~ dnorm(0, 1) g ~ dgamma(1, 1) e[1] <- equals(x, 1) e[2] <- equals(g, -1) }",
       "list(R = c(1, 0, 0, 1))", "list(Tau = c(1, 0, 0, 1))"));
  EXPECT_EQ(R1("s", 0, "v", 1), ClassFun_generalForm);
  EXPECT_EQ(R1("s", 0, "x"), ClassFun_nonNegConst);
  EXPECT_EQ(R1("S", 1, "Tau"), ClassFun_generalForm);
  EXPECT_EQ(R1("S", 1, "x"), ClassFun_anyConst);
  EXPECT_EQ(R1("ld", 0, "Tau"), ClassFun_generalForm);
  EXPECT_EQ(R1("ld", 0, "x"), ClassFun_anyConst);
  EXPECT_EQ(R1("e", 0, "x"), ClassFun_generalForm);
  EXPECT_EQ(R1("e", 1, "x"), ClassFun_nonNegConst);  // not the class of -1 left on top
}

// ---- malformed code

TEST_F(ClassFunTest, MalformedCodeIsGeneralAndStaysInBounds) {
  ASSERT_TRUE(Make("var x, g, f; { x ~ dnorm(0, 1) g ~ dgamma(1, 1) f <- g + x }"));
  Graph_Node* f = N("f");
  Graph_Node* g = N("g");
  const auto classify = [&](std::vector<int32_t> code, std::vector<Graph_Node*> parents) {
    f->stack = std::move(code);
    f->parents = std::move(parents);
    f->numParents = static_cast<int32_t>(f->parents.size());
    return R1(f, N("x"));
  };
  EXPECT_EQ(classify({24, 1, 21}, {g}), ClassFun_generalForm);      // too few operands
  EXPECT_EQ(classify({24, 24, 21}, {g}), ClassFun_generalForm);     // parents run out
  EXPECT_EQ(classify({24}, {g}), ClassFun_generalForm);             // no end
  EXPECT_EQ(classify({21}, {}), ClassFun_generalForm);              // nothing pushed
  EXPECT_EQ(classify({24, 40, 21}, {g}), ClassFun_nonNegConst);     // an unknown function of a constant
  EXPECT_EQ(classify({24, 40, 21}, {N("x")}), ClassFun_generalForm);
  std::vector<int32_t> deep(20, 24);
  deep.insert(deep.end(), 19, 1);
  deep.push_back(21);
  EXPECT_EQ(classify(deep, std::vector<Graph_Node*>(20, g)), ClassFun_nonNegConst);  // twenty fit
  std::vector<int32_t> deeper(21, 24);
  deeper.insert(deeper.end(), 20, 1);
  deeper.push_back(21);
  EXPECT_EQ(classify(deeper, std::vector<Graph_Node*>(21, g)), ClassFun_generalForm);
  EXPECT_EQ(classify({20, 4, 0, 1, 1, 1, 1, 1, 1, 1, 1}, {g, g, g, g}), ClassFun_generalForm);
  EXPECT_EQ(classify({20, 1, 0}, {g}), ClassFun_generalForm);                  // pairs missing
  EXPECT_EQ(classify({29, 1, Graph_totalNumNodes, 1, 1}, {}), ClassFun_generalForm);
  EXPECT_EQ(classify({29, 1, 0, 0, 1}, {}), ClassFun_generalForm);             // no elements
  EXPECT_EQ(classify({11, 0, 1 << 30, 1, 0, 1}, {}), ClassFun_generalForm);
  EXPECT_EQ(classify({1, 24, 21}, {g}), ClassFun_generalForm);                 // operator first
}

// ---- shared operands and long chains

// Every f[i] reads f[i - 1] twice, so f[64] is reached from x along 2^63
// paths: walking each path would never end, classifying each node once
// takes 64 steps.
TEST_F(ClassFunTest, NodeReachedAlongManyPathsIsClassifiedOnce) {
  ASSERT_TRUE(Make("var x, g, f[64], h[64]; { x ~ dnorm(0, 1) g ~ dgamma(1, 1) f[1] <- x h[1] <- g"
                   " for (i in 2:64) { f[i] <- f[i - 1] + f[i - 1] h[i] <- h[i - 1] * h[i - 1] } }"));
  EXPECT_EQ(R1("f", 63, "x"), ClassFun_scaledIdentity);  // plus[3][3] = plus[4][4] = 4
  EXPECT_EQ(R1("f", 63, "g"), ClassFun_anyConst);
  EXPECT_EQ(R1("h", 63, "g"), ClassFun_generalForm);     // mult[3][3] = 10
  EXPECT_EQ(R1("h", 63, "x"), ClassFun_nonNegConst);
}

class ClassFunChainTest : public test::HandGraph {
 protected:
  void SetUp() override {
    HandGraph::SetUp();
    InitClassFun();
    InitClassDen();
  }
  // f[1] <- x op c, then f[i] <- f[i - 1] op c, with c a data node of value 2.
  static Graph_Node* Chain(Graph_Node* x, int32_t op, int32_t length) {
    Graph_Node* c = Node(2.0, Graph_data);
    Graph_Node* f = Logical({Determ_pushValue, Determ_pushValue, op, Determ_end}, {x, c});
    for (int32_t i = 1; i < length; ++i) f = Logical({Determ_push, Determ_pushValue, op, Determ_end}, {f, c});
    return f;
  }
};

// A chain far longer than any call stack could follow one call per node:
// the classes, and the method of a node whose only term reads the end of the
// chain, are those of the first link.
TEST_F(ClassFunChainTest, LongLogicalChainsAreClassifiedWithoutRecursion) {
  constexpr int32_t length = 100000;
  struct Case {
    int32_t op;
    int32_t form;
  };
  for (const Case& c : {Case{Determ_add, ClassFun_linear}, Case{Determ_multiply, ClassFun_scaledIdentity}}) {
    Graph_Node* x = Node(0.0);
    x->density = Distrib_dnorm;
    x->parents = {Node(0.0, Graph_data), Node(1.0, Graph_data)};
    x->numParents = 2;
    Graph_Node* end = Chain(x, c.op, length);
    EXPECT_EQ(ClassFun_MapRnToR1(end, x->label, 1), c.form) << c.op;
    Graph_Node* other = Node(0.0);
    other->density = Distrib_dnorm;
    EXPECT_EQ(ClassFun_MapRnToR1(end, other->label, 1), ClassFun_anyConst) << c.op;
    Graph_Node* y = Node(1.0, Graph_data);
    y->density = Distrib_dnorm;
    y->parents = {end, Node(1.0, Graph_data)};
    y->numParents = 2;
    x->likelihood.push_front(y);
    EXPECT_EQ(ClassDen_MethodCode(x), 9) << c.op;  // the conjugate normal draw
  }
}

// The model checks refuse cycles of logical nodes; the classifier, reached
// without them, still ends and calls the cycle general.
TEST_F(ClassFunChainTest, CycleOfLogicalNodesIsGeneral) {
  Graph_Node* x = Node(0.0);
  x->density = Distrib_dnorm;
  Graph_Node* a = Logical({Determ_push, Determ_pushValue, Determ_add, Determ_end}, {nullptr, x});
  Graph_Node* b = Logical({Determ_push, Determ_end}, {a});
  a->parents[0] = b;
  Graph_Node* self = Logical({Determ_push, Determ_end}, {nullptr});
  self->parents[0] = self;
  EXPECT_EQ(ClassFun_MapRnToR1(a, x->label, 1), ClassFun_generalForm);
  EXPECT_EQ(ClassFun_MapRnToR1(b, x->label, 1), ClassFun_generalForm);
  EXPECT_EQ(ClassFun_MapRnToR1(self, x->label, 1), ClassFun_generalForm);
}

}  // namespace
