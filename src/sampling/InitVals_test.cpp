#include "sampling/InitVals.h"

#include <cmath>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Density.h"
#include "graph/Determ.h"
#include "graph/Parents.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"

namespace {

class InitValsTest : public test::FrontEnd {
 protected:
  // Compiles a model as far as its likelihood lists, then generates from the start-up seed.
  void Generate(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    Reset(), InitCodeGen(), InitDeterm(), InitParents(), InitInitVals();
    InitSpecFunc();  // the log factorials of the binomial weights
    Parser_Tree* head = Compile(WithFiles(model, data, inits));
    ASSERT_NE(head, nullptr) << Console();
    CodeGen_WriteGraph(head);
    ASSERT_FALSE(CodeGen_error) << Console();
    Density_SetDensity();
    Parents_BuildSamplingDistribu();
    ASSERT_FALSE(Parents_error) << Console();
    InitRandNum(), InitVals_GenerateStartingValue();
  }
  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }
};

// Each node gets a starting value within [lo, hi] (far tails by a restricted draw), or the model none.
TEST_F(InitValsTest, StartingValuesKeepToSupportsAndBounds) {
  const char* dmnorm = "var t[3], mu[3], T[3, 3]; { t[1:3] ~ dmnorm(mu[], T[,]) }";
  const struct { const char *model, *data, *inits; bool refused; double lo = 0.0, hi = 0.0; } cases[] = {
      {"var t, mu; { t ~ dnorm(mu, 1) mu ~ dnorm(0, 1) }", "", "", false, -20, 20},  // the child waits for its parent
      {"var t, p; { t ~ dbin(p, 10) I(2, 4) }", "list(p = 0.1)", "", false, 2, 4},
      {"var t, p; { t ~ dbin(p, 10) I(1.5, 4.5) }", "list(p = 0.1)", "", false, 2, 4},
      {"var t, p; { p ~ dbeta(1, 1) t ~ dnegbin(p, 3) }", "", "", false, 0, 0},
      {"var t; { t ~ dweib(2, 1) I(3, ) }", "", "", false, 3, 5},
      {"var t; { t ~ dnorm(0, 1) I(-1, 1) }", "", "", false, -1, 1},
      {"var t; { t ~ dnorm(0, 1) I(6, ) }", "", "", false, 6, 7.5},
      {"var t; { t ~ dnorm(2, 4) I(, -3) }", "", "", false, -3.5, -3},
      {"var t; { t ~ dgamma(3, 2) I(25, ) }", "", "", false, 25, 30},
      {"var t; { t ~ dchisq(4) I(, 0.0001) }", "", "", false, 0, 0.0001},
      {"var t; { t ~ dexp(2) I(15, 16) }", "", "", false, 15, 16},
      {"var t; { t ~ dbeta(2, 8) I(0.9, 0.95) }", "", "", false, 0.9, 0.95},
      {dmnorm, "list(mu = c(0, 1, 2), T = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)))", "", false, -9, 9},
      {"var t, mu; { t ~ dnorm(0.5, 1) mu ~ dgamma(1, 1) }", "", "list(t = 0.5, mu = 2)", false, 0.5, 0.5},  // nothing to do
      {"var t[2], mu[2], T[2, 2]; { t[1:2] ~ dmnorm(mu[], T[,]) }",
       "list(mu = c(0, 1), T = structure(.Data = c(1, 2, 2, 1), .Dim = c(2, 2)))", "", true},  // not positive definite
      {"var t, mu; { t ~ dnorm(mu, 1) mu ~ dnorm(t, 1) }", "", "", true},  // a parent that never gets a value
      {"var t, p; { t ~ dbin(p, 5000) }", "list(p = 0.5)", "", true},     // a support beyond its limit
      {"var t, p; { p ~ dbeta(1, 1) t ~ dnegbin(p, 3) I(2, ) }", "", "", true},  // a bound the prior never meets
  };
  for (const auto& c : cases) {
    for (int seed = 1; seed <= 10; ++seed) {
      const std::string inits = *c.inits ? c.inits : "list(seed = " + std::to_string(seed) + ")";
      Generate(c.model, c.data, inits);
      if (HasFatalFailure()) return;
      EXPECT_EQ(InitVals_error, c.refused) << c.model;
      EXPECT_EQ(Console().find("Generating initial values") != std::string::npos, *c.inits == 0) << c.model;
      const int size = N("t")->size > 1 ? N("t")->size : 1;
      for (int i = 0; i < size && !c.refused; ++i) {
        EXPECT_EQ(N("t", i)->kind, Graph_stochastic) << c.model;
        EXPECT_TRUE(Graph_Own(N("t", i)) >= c.lo && Graph_Own(N("t", i)) <= c.hi) << c.model << " " << Graph_Own(N("t", i));
      }
      if (c.refused) {
        EXPECT_EQ(N("t")->kind, Graph_noInitial) << c.model;
      }
    }
  }
}

TEST_F(InitValsTest, BinomialWithDataProportionFollowsItsPriorAndTheSeedRepeats) {
  Generate("var r, p; { r ~ dbin(p, 5) }", "list(p = 0.5)");
  ASSERT_FALSE(InitVals_error) << Console();
  // Binomial weights: 1, 5, 10, 10, 5, 1 in 32.
  const std::vector<double> expected{100, 500, 1000, 1000, 500, 100};
  std::vector<int> seen(6, 0);
  for (int i = 0; i < 3200; ++i) {
    N("r")->kind = Graph_noInitial;
    InitVals_GenerateStartingValue();
    const double r = Graph_Own(N("r"));
    ASSERT_TRUE(r == std::trunc(r) && r >= 0.0 && r <= 5.0) << r;
    ++seen[static_cast<size_t>(r)];
  }
  for (size_t k = 0; k < 6; ++k) EXPECT_NEAR(seen[k], expected[k], 5.0 * std::sqrt(expected[k])) << k;
  const std::string model = "var x[4], mu, tau, r, p; { for (i in 1:4) { x[i] ~ dnorm(mu, tau) }"
                            " mu ~ dnorm(0, 1) tau ~ dgamma(2, 1) r ~ dbin(p, 7) p ~ dbeta(2, 2) }";
  const auto values = [&] {
    Generate(model);
    std::vector<double> v;
    for (int i = 0; i < 4; ++i) v.push_back(Graph_Own(N("x", i)));
    for (const char* name : {"mu", "tau", "r", "p"}) v.push_back(Graph_Own(N(name)));
    return v;
  };
  const std::vector<double> first = values();
  ASSERT_FALSE(InitVals_error) << Console();
  EXPECT_EQ(values(), first);
}

}  // namespace
