#include "sampling/ClassFun.h"

#include <string>
#include <utility>
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
  void SetUp() override { Pipeline::SetUp(), InitClassFun(); }
};

// The form of node[offset] (with m > 0, of the m values from there) as a function of the
// block holding wrt[at]. A node named "^y" is the hidden logical node that is y's first parent.
struct Check { const char* node; int offset; const char* wrt; int at; int32_t form; int m = 0; };
struct Case { const char *what, *model, *data, *inits; std::vector<Check> checks; };

constexpr int32_t nonNeg = ClassFun_nonNegConst, neg = ClassFun_negConst, any = ClassFun_anyConst,
                  id = ClassFun_identity, scaled = ClassFun_scaledIdentity, lin = ClassFun_linear,
                  inv = ClassFun_invLinkLinear, expL = ClassFun_expLinear, power = ClassFun_powerForm,
                  expSum = ClassFun_expSum, gen = ClassFun_generalForm;

TEST_F(ClassFunTest, FormsOfLogicalNodes) {
  const Case cases[] = {
      // A Gumbel or uniform node may be negative (else u * t would pass as a scaled precision
      // of t with a negative rate); Weibull, geometric, Pareto may not.
      {"references", "var x, g, a, c, z, u, h, v, k, r, w[2], m[2], T[2,2]; { x ~ dnorm(0, 1) g ~ dgamma(1, 1)"
       " a ~ dnorm(0, 1) w[1:2] ~ dmnorm(m[], T[,]) u ~ dgum(0, 1) h ~ dunif(-1, 1) v ~ dweib(2, 1) k ~ dgeom(0.5)"
       " r ~ dpar(2, 1) }",
       "list(c = -2, z = 0, m = c(0, 0), T = c(1, 0, 0, 1))",
       "list(w = c(0, 0), u = 0.5, h = 0.5, v = 1, k = 2, r = 2)",
       {{"c", 0, "x", 0, neg}, {"z", 0, "x", 0, nonNeg}, {"g", 0, "x", 0, nonNeg}, {"a", 0, "x", 0, any},
        {"x", 0, "x", 0, id}, {"w", 1, "w", 0, id}, {"w", 1, "x", 0, any}, {"u", 0, "x", 0, any},
        {"h", 0, "x", 0, any}, {"v", 0, "x", 0, nonNeg}, {"k", 0, "x", 0, nonNeg}, {"r", 0, "x", 0, nonNeg}}},
      {"sums and means", "var x[2], v[2], w[2,2], s[4]; { x[1] ~ dnorm(0, 1) x[2] ~ dgamma(1, 1) v[2] ~ dgamma(1, 1)"
       " w[2,1] ~ dnorm(0, 1) s[1] <- sum(x[]) s[2] <- mean(x[]) s[3] <- sum(v[]) s[4] <- sum(w[,]) }",
       "list(v = c(3, NA), w = c(1, 2, NA, 4))", "",
       {{"s", 0, "x", 0, lin}, {"s", 1, "x", 0, lin}, {"s", 0, "v", 1, any}, {"s", 2, "x", 0, nonNeg},
        {"s", 3, "w", 2, lin}, {"s", 3, "x", 0, any}}},
      {"negative plus non-negative", "var v[2], x, s; { x ~ dnorm(0, 1) v[2] ~ dgamma(1, 1) s <- sum(v[]) }",
       "list(v = c(-2, NA))", "", {{"s", 0, "x", 0, any}}},
      {"inner products", "var b[3], z[3], ip, sq; { for (i in 1:3) { b[i] ~ dnorm(0, 1) }"
       " ip <- inprod(b[], z[]) sq <- inprod(b[], b[]) }",
       "list(z = c(-1, 2, 3))", "",
       {{"ip", 0, "b", 1, lin}, {"ip", 0, "b", 0, lin}, {"sq", 0, "b", 1, gen}, {"sq", 0, "z", 0, any}}},
      {"selections", "var k, p[3], y[3], yn[3], mu[3], s[3]; { k ~ dcat(p[]) for (i in 1:3) { mu[i] ~ dnorm(0, 1) }"
       " s[1] <- y[k] s[2] <- yn[k] s[3] <- mu[k] }",
       "list(p = c(0.2, 0.3, 0.5), y = c(1, 2, 3), yn = c(1, -2, 3))", "",
       {{"s", 0, "mu", 0, nonNeg}, {"s", 1, "mu", 0, any}, {"s", 2, "mu", 1, id}, {"s", 0, "k", 0, gen},
        {"s", 2, "k", 0, gen}}},
      {"three computed indices", "var i[3], q[2], d[2,2,2], t[2,2,2], u, v; { for (j in 1:3) { i[j] ~ dcat(q[]) }"
       " t[1,2,1] ~ dnorm(0, 1) u <- d[i[1], i[2], i[3]] v <- t[i[1], i[2], i[3]] }",
       "list(q = c(0.5, 0.5), d = c(1, 2, 3, 4, 5, 6, 7, 8), t = c(1, 2, NA, 4, 5, 6, 7, 8))", "",
       {{"u", 0, "t", 2, nonNeg}, {"v", 0, "t", 2, id}, {"v", 0, "i", 2, gen}, {"v", 0, "i", 0, gen}}},
      {"vectors", "var x[3], mu[3], T[3,3], c, lin[3], inv[3], e[3]; { x[1:3] ~ dmnorm(mu[], T[,])"
       " for (i in 1:3) { mu[i] ~ dnorm(0, 1) inv[i] <- phi(x[i]) e[i] <- exp(x[i]) }"
       " lin[1] <- x[1] lin[2] <- c lin[3] <- 2 * x[3] }",
       "list(c = 1, T = c(1, 0, 0, 0, 1, 0, 0, 0, 1))", "list(x = c(0, 0, 0))",
       {{"mu", 0, "x", 0, any, 3}, {"x", 0, "x", 0, id, 3}, {"lin", 0, "x", 0, lin, 3}, {"inv", 0, "x", 0, inv, 3},
        {"e", 0, "x", 0, gen, 3}, {"T", 0, "x", 0, any, 9}}},
      {"selected row", "var g, p[3], M[3,2], m0[2], y[2], T[2,2]; { g ~ dcat(p[]) M[2,1:2] ~ dmnorm(m0[], T[,])"
       " y[1:2] ~ dmnorm(M[g, ], T[,]) }",
       "list(p = c(0.2, 0.3, 0.5), M = c(1, 2, NA, NA, 5, 6), m0 = c(0, 0), T = c(1, 0, 0, 1), y = c(0, 0))",
       "list(M = c(NA, NA, 0, 0, NA, NA))",
       {{"^y", 0, "M", 2, id, 2}, {"^y", 0, "g", 0, gen, 2}, {"^y", 0, "m0", 0, any, 2}}},
      {"whole-array functions and equals", "var v[3], s, R[2,2], Tau[2,2], S[2,2], ld, x, g, e[2];"
       " { for (i in 1:3) { v[i] ~ dnorm(0, 1) } s <- sd(v[]) Tau[,] ~ dwish(R[,], 3) S[,] <- inverse(Tau[,])"
       " ld <- logdet(Tau[,]) x ~ dnorm(0, 1) g ~ dgamma(1, 1) e[1] <- equals(x, 1) e[2] <- equals(g, -1) }",
       "list(R = c(1, 0, 0, 1))", "list(Tau = c(1, 0, 0, 1))",
       {{"s", 0, "v", 1, gen}, {"s", 0, "x", 0, nonNeg}, {"S", 1, "Tau", 0, gen}, {"S", 1, "x", 0, any},
        {"ld", 0, "Tau", 0, gen}, {"ld", 0, "x", 0, any}, {"e", 0, "x", 0, gen},
        {"e", 1, "x", 0, nonNeg}}},  // not the class of -1 left on top
      // f[i] reads f[i - 1] twice: 2^63 paths from x to f[64], each node classified once.
      {"many paths", "var x, g, f[64], h[64]; { x ~ dnorm(0, 1) g ~ dgamma(1, 1) f[1] <- x h[1] <- g"
       " for (i in 2:64) { f[i] <- f[i - 1] + f[i - 1] h[i] <- h[i - 1] * h[i - 1] } }",
       "", "",
       {{"f", 63, "x", 0, scaled}, {"f", 63, "g", 0, any}, {"h", 63, "g", 0, gen}, {"h", 63, "x", 0, nonNeg}}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Build(c.model, c.data, c.inits)) << c.what << "\n" << Console();
    for (const Check& k : c.checks) {
      Graph_Node* node = k.node[0] == '^' ? N(k.node + 1)->parents[0] : N(k.node, k.offset);
      Graph_Node* x = N(k.wrt, k.at);
      const int32_t form = k.m > 0 ? ClassFun_MapRnToRm(node, x->label, x->size, k.m)
                                   : ClassFun_MapRnToR1(node, x->label, x->size);
      EXPECT_EQ(form, k.form) << c.what << ": " << k.node << "[" << k.offset << "] of " << k.wrt << "[" << k.at << "]";
    }
  }
}

TEST_F(ClassFunTest, OperatorsFollowTheRuleTables) {
  ASSERT_TRUE(Build("var x, a, g, b, f[20]; { x ~ dnorm(0, 1) a ~ dnorm(0, 1) g ~ dgamma(1, 1)\n"
       " f[1] <- 2 * x  f[2] <- x + x  f[3] <- a + b * x  f[4] <- -x\n"
       " f[5] <- exp(a + b * x)  f[6] <- 1 + exp(a + b * x)  f[7] <- 1 / (1 + exp(a + b * x))\n"
       " logit(f[8]) <- a + b * x  f[9] <- x / 2  f[10] <- x * 0.5  f[11] <- log(x)\n"
       " f[12] <- log(g)  f[13] <- step(x - 1)  f[14] <- pow(x, 2)  f[15] <- max(x, a + b * x)\n"
       " f[16] <- max(a + b * x, x)  f[17] <- sqrt(g)  f[18] <- loggam(x)  f[19] <- g * exp(x)\n"
       " f[20] <- log(2) }",
       "list(b = 2)")) << Console();
  // The forms of f[1..20] of x, then of a, where x is an operand of either sign.
  const std::pair<int32_t, int32_t> forms[] = {
      {scaled, any}, {scaled, any}, {lin, lin}, {lin, any}, {expL, expL}, {expSum, expSum}, {inv, inv}, {inv, inv},
      {id, any}, {scaled, any}, {gen, any}, {any, any}, {gen, nonNeg}, {power, nonNeg}, {gen, lin}, {lin, lin},
      {nonNeg, nonNeg}, {gen, any}, {expL, nonNeg}, {nonNeg, nonNeg}};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(ClassFun_MapRnToR1(N("f", i), N("x")->label, 1), forms[i].first) << "f[" << i + 1 << "]";
    EXPECT_EQ(ClassFun_MapRnToR1(N("f", i), N("a")->label, 1), forms[i].second) << "f[" << i + 1 << "] of a";
  }
  EXPECT_EQ(N("f", 19)->kind, Graph_data);  // folded before classification: its sign is all that is left
}

// Within a session a sum is answered from folds read once, as the walk answers, for every
// block of consecutive numbers inside, across or outside the elements.
TEST_F(ClassFunTest, SumsInASessionAgreeWithTheWalkForEveryBlock) {
  ASSERT_TRUE(Build("var x[6], m[3,2], s[5], w[2], m0[2], T[2,2], z[2]; { x[1] ~ dnorm(0, 1) x[3] ~ dgamma(1, 1)"
                    " x[4] ~ dnorm(0, 1) x[6] ~ dgamma(1, 1) m[2,1] ~ dnorm(0, 1) m[3,1] ~ dgamma(1, 1)"
                    " w[1:2] ~ dmnorm(m0[], T[,]) z[1] <- 2 * x[1] z[2] <- x[3] s[1] <- sum(x[]) s[2] <- sum(m[, 1])"
                    " s[3] <- mean(x[2:5]) s[4] <- sum(w[]) s[5] <- sum(z[]) }",
                    "list(x = c(NA, -1, NA, NA, 2, NA), m = c(3, -2, NA, 1, NA, 0), m0 = c(0, 0), T = c(1, 0, 0, 1))",
                    "list(w = c(0, 0))")) << Console();
  const int32_t first = N("x")->label;
  for (int k = 0; k < 5; ++k)
    for (int32_t label = first - 2; label < Graph_totalNumNodes; ++label)
      for (int32_t size = 0; size <= 7; ++size) {
        const int32_t walked = ClassFun_MapRnToR1(N("s", k), label, size);
        const ClassFun_Session session;
        EXPECT_EQ(ClassFun_MapRnToR1(N("s", k), label, size), walked) << "s[" << k + 1 << "] " << label << " " << size;
      }
}

TEST_F(ClassFunTest, MalformedCodeIsGeneralAndStaysInBounds) {
  ASSERT_TRUE(Build("var x, g, f; { x ~ dnorm(0, 1) g ~ dgamma(1, 1) f <- g + x }")) << Console();
  Graph_Node *f = N("f"), *g = N("g"), *x = N("x");
  const auto deep = [](int n) {
    std::vector<int32_t> code(n, 24);
    code.insert(code.end(), n - 1, 1);
    code.push_back(21);
    return code;
  };
  const struct { std::vector<int32_t> code; std::vector<Graph_Node*> parents; int32_t form; } cases[] = {
      {{24, 1, 21}, {g}, gen},                 // too few operands
      {{24, 24, 21}, {g}, gen},                // parents run out
      {{24}, {g}, gen},                        // no end
      {{21}, {}, gen},                         // nothing pushed
      {{24, 40, 21}, {g}, nonNeg},             // an unknown function of a constant
      {{24, 40, 21}, {x}, gen},
      {deep(20), std::vector<Graph_Node*>(20, g), nonNeg},  // twenty operands fit
      {deep(21), std::vector<Graph_Node*>(21, g), gen},
      {{20, 4, 0, 1, 1, 1, 1, 1, 1, 1, 1}, {g, g, g, g}, gen},
      {{20, 1, 0}, {g}, gen},                  // pairs missing
      {{29, 1, Graph_totalNumNodes, 1, 1}, {}, gen},
      {{29, 1, 0, 0, 1}, {}, gen},             // no elements
      {{11, 0, 1 << 30, 1, 0, 1}, {}, gen},
      {{1, 24, 21}, {g}, gen},                 // operator first
  };
  int i = 0;
  for (const auto& c : cases) {
    f->stack = c.code;
    f->parents = c.parents;
    f->numParents = static_cast<int32_t>(f->parents.size());
    EXPECT_EQ(ClassFun_MapRnToR1(f, x->label, 1), c.form) << "case " << i++;
  }
}

class ClassFunChainTest : public test::HandGraph {
 protected:
  void SetUp() override { HandGraph::SetUp(), InitClassFun(), InitClassDen(); }
  // A normal node whose mean is the given node, or 0.
  static Graph_Node* Normal(double v = 0.0, Graph_Node* mean = nullptr, int32_t kind = Graph_stochastic) {
    Graph_Node* x = Node(v, kind);
    x->density = Distrib_dnorm;
    x->parents = {mean ? mean : Node(0.0, Graph_data), Node(1.0, Graph_data)};
    x->numParents = 2;
    return x;
  }
};

// A chain far longer than a call stack could follow (f[i] <- f[i - 1] op 2): the classes, and
// the method of a node whose only term reads its end, are those of the first link.
TEST_F(ClassFunChainTest, LongLogicalChainsAreClassifiedWithoutRecursion) {
  for (const auto& [op, form] : {std::pair{Determ_add, ClassFun_linear}, {Determ_multiply, ClassFun_scaledIdentity}}) {
    Graph_Node* x = Normal();
    Graph_Node* c = Node(2.0, Graph_data);
    Graph_Node* end = Logical({Determ_pushValue, Determ_pushValue, op, Determ_end}, {x, c});
    for (int32_t i = 1; i < 100000; ++i) end = Logical({Determ_push, Determ_pushValue, op, Determ_end}, {end, c});
    EXPECT_EQ(ClassFun_MapRnToR1(end, x->label, 1), form) << op;
    EXPECT_EQ(ClassFun_MapRnToR1(end, Normal()->label, 1), ClassFun_anyConst) << op;
    x->likelihood.push_front(Normal(1.0, end, Graph_data));
    EXPECT_EQ(ClassDen_MethodOf(x), ClassDen_Method::normal) << op;
  }
}

// The model checks refuse cycles of logical nodes; the classifier still ends and calls one general.
TEST_F(ClassFunChainTest, CycleOfLogicalNodesIsGeneral) {
  Graph_Node* x = Normal();
  Graph_Node* a = Logical({Determ_push, Determ_pushValue, Determ_add, Determ_end}, {nullptr, x});
  Graph_Node* b = Logical({Determ_push, Determ_end}, {a});
  a->parents[0] = b;
  Graph_Node* self = Logical({Determ_push, Determ_end}, {nullptr});
  self->parents[0] = self;
  for (Graph_Node* n : {a, b, self}) EXPECT_EQ(ClassFun_MapRnToR1(n, x->label, 1), ClassFun_generalForm);
}

}  // namespace
