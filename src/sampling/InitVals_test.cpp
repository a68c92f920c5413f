#include "sampling/InitVals.h"

#include <cmath>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "graph/Parents.h"
#include "graph/Density.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"

namespace {

class InitValsTest : public test::FrontEnd {
 protected:
  // Compiles a model as far as its likelihood lists; data and initial values,
  // when given, are the files of its data and inits statements.
  bool Build(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    Reset();
    InitCodeGen();
    InitDeterm();
    InitParents();
    InitInitVals();
    InitSpecFunc();  // the log factorials of the binomial weights
    Parser_Tree* head = Compile(WithFiles(model, data, inits));
    if (head == nullptr) return false;
    CodeGen_WriteGraph(head);
    if (CodeGen_error) return false;
    Density_SetDensity();
    Parents_BuildSamplingDistribu();
    return !Parents_error;
  }

  // Builds, then generates from the start-up seed.
  void Generate(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    ASSERT_TRUE(Build(model, data, inits)) << Console();
    InitRandNum();
    InitVals_GenerateStartingValue();
  }

  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }
  bool Says(const std::string& text) { return Console().find(text) != std::string::npos; }
};

TEST_F(InitValsTest, NothingToGenerateWritesNothingAndChangesNothing) {
  Generate("var mu, tau; { mu ~ dnorm(0, 1) tau ~ dgamma(1, 1) }", "", "list(mu = 0.5, tau = 2)");
  EXPECT_FALSE(InitVals_error);
  EXPECT_FALSE(Says("Generating initial values")) << Console();
  EXPECT_EQ(Graph_Own(N("mu")), 0.5);
  EXPECT_EQ(Graph_Own(N("tau")), 2.0);
  EXPECT_EQ(N("mu")->kind, Graph_stochastic);
  EXPECT_EQ(N("tau")->kind, Graph_stochastic);
}

TEST_F(InitValsTest, ChildNumberedBeforeItsParentWaitsForIt) {
  Generate("var x, mu; { x ~ dnorm(mu, 1) mu ~ dnorm(0, 1) }");
  EXPECT_FALSE(InitVals_error) << Console();
  EXPECT_TRUE(Says("Generating initial values")) << Console();
  for (const char* name : {"x", "mu"}) {
    EXPECT_EQ(N(name)->kind, Graph_stochastic) << name;
    EXPECT_TRUE(std::isfinite(Graph_Own(N(name)))) << name;
  }
}

TEST_F(InitValsTest, BinomialWithDataProportionStartsInItsSupport) {
  Generate("var r, p; { r ~ dbin(p, 5) }", "list(p = 0.5)");
  ASSERT_FALSE(InitVals_error) << Console();
  EXPECT_EQ(N("r")->kind, Graph_stochastic);
  // Binomial weights: 1, 5, 10, 10, 5, 1 in 32.
  const int draws = 3200;
  const std::vector<double> expected{100, 500, 1000, 1000, 500, 100};
  std::vector<int> seen(6, 0);
  for (int i = 0; i < draws; ++i) {
    N("r")->kind = Graph_noInitial;
    InitVals_GenerateStartingValue();
    const double r = Graph_Own(N("r"));
    ASSERT_EQ(r, std::trunc(r));
    ASSERT_TRUE(r >= 0.0 && r <= 5.0) << r;
    ++seen[static_cast<size_t>(r)];
  }
  for (size_t k = 0; k < 6; ++k)
    EXPECT_NEAR(seen[k], expected[k], 5.0 * std::sqrt(expected[k])) << k;
}

// Bounds that are not whole numbers admit the whole numbers inside them:
// I(1.5, 4.5) is 2 to 4, as the samplers take it. The prior puts most of its
// mass on 1, so a bound truncated to 1 would show here.
TEST_F(InitValsTest, BinomialWithBoundsStaysWithinThem) {
  for (const char* bounds : {"I(2, 4)", "I(1.5, 4.5)"}) {
    for (int seed = 1; seed <= 20; ++seed) {
      Generate(std::string("var r, p; { r ~ dbin(p, 10) ") + bounds + " }", "list(p = 0.1)",
               "list(seed = " + std::to_string(seed) + ")");
      ASSERT_FALSE(InitVals_error) << Console();
      EXPECT_GE(Graph_Own(N("r")), 2.0) << bounds;
      EXPECT_LE(Graph_Own(N("r")), 4.0) << bounds;
    }
  }
}

TEST_F(InitValsTest, NegativeBinomialStartsAtZero) {
  Generate("var y, p; { p ~ dbeta(1, 1) y ~ dnegbin(p, 3) }");
  ASSERT_FALSE(InitVals_error) << Console();
  EXPECT_EQ(Graph_Own(N("y")), 0.0);
  EXPECT_EQ(N("y")->kind, Graph_stochastic);
}

TEST_F(InitValsTest, BoundedWeibullStartsAboveItsBound) {
  Generate("var t; { t ~ dweib(2, 1) I(3, ) }");
  ASSERT_FALSE(InitVals_error) << Console();
  EXPECT_GT(Graph_Own(N("t")), 3.0);
  Generate("var t; { t ~ dnorm(0, 1) I(-1, 1) }");
  ASSERT_FALSE(InitVals_error) << Console();
  EXPECT_GE(Graph_Own(N("t")), -1.0);
  EXPECT_LE(Graph_Own(N("t")), 1.0);
}

// Bounds that the prior almost never meets: the starting value comes from
// the restricted prior directly, for every density with such a draw.
TEST_F(InitValsTest, BoundsFarInATailStillGiveAStartingValue) {
  const struct {
    const char* model;
    double lo, hi;
  } cases[] = {
      {"var t; { t ~ dnorm(0, 1) I(6, ) }", 6.0, 7.5},
      {"var t; { t ~ dnorm(2, 4) I(, -3) }", -3.5, -3.0},
      {"var t; { t ~ dgamma(3, 2) I(25, ) }", 25.0, 30.0},
      {"var t; { t ~ dchisq(4) I(, 0.0001) }", 0.0, 0.0001},
      {"var t; { t ~ dexp(2) I(15, 16) }", 15.0, 16.0},
      {"var t; { t ~ dbeta(2, 8) I(0.9, 0.95) }", 0.9, 0.95},
  };
  for (const auto& c : cases) {
    Generate(c.model);
    ASSERT_FALSE(InitVals_error) << c.model << Console();
    EXPECT_EQ(N("t")->kind, Graph_stochastic) << c.model;
    EXPECT_TRUE(Graph_Own(N("t")) >= c.lo && Graph_Own(N("t")) <= c.hi) << c.model << " " << Graph_Own(N("t"));
  }
}

TEST_F(InitValsTest, MultivariateNormalBlockMarksEveryComponent) {
  Generate("var x[3], mu[3], T[3, 3]; { x[1:3] ~ dmnorm(mu[], T[,]) }",
           "list(mu = c(0, 1, 2), T = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)))");
  ASSERT_FALSE(InitVals_error) << Console();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(N("x", i)->kind, Graph_stochastic) << i;
    EXPECT_TRUE(std::isfinite(Graph_Own(N("x", i)))) << i;
  }
}

TEST_F(InitValsTest, PrecisionThatIsNotPositiveDefiniteIsRefused) {
  Generate("var x[2], mu[2], T[2, 2]; { x[1:2] ~ dmnorm(mu[], T[,]) }",
           "list(mu = c(0, 1), T = structure(.Data = c(1, 2, 2, 1), .Dim = c(2, 2)))");
  EXPECT_TRUE(InitVals_error);
  EXPECT_TRUE(Says("Unable to generate initial values for this model.")) << Console();
}

TEST_F(InitValsTest, NodeWhoseParentNeverGetsAValueIsError91) {
  Generate("var x, mu; { x ~ dnorm(mu, 1) mu ~ dnorm(x, 1) }");
  EXPECT_TRUE(InitVals_error);
  EXPECT_TRUE(Says("Unable to generate initial values for this model.")) << Console();
  EXPECT_EQ(N("x")->kind, Graph_noInitial);
}

TEST_F(InitValsTest, SupportBeyondItsLimitIsRefused) {
  Generate("var r, p; { r ~ dbin(p, 5000) }", "list(p = 0.5)");
  EXPECT_TRUE(InitVals_error);
  EXPECT_TRUE(Says("Unable to generate initial values for this model.")) << Console();
}

TEST_F(InitValsTest, BoundThePriorNeverMeetsEndsTheSearch) {
  Generate("var y, p; { p ~ dbeta(1, 1) y ~ dnegbin(p, 3) I(2, ) }");
  EXPECT_TRUE(InitVals_error);
  EXPECT_TRUE(Says("Unable to generate initial values for this model.")) << Console();
}

TEST_F(InitValsTest, SameSeedGivesTheSameValues) {
  const std::string model = "var x[4], mu, tau, r, p; { for (i in 1:4) { x[i] ~ dnorm(mu, tau) }"
                            " mu ~ dnorm(0, 1) tau ~ dgamma(2, 1) r ~ dbin(p, 7) p ~ dbeta(2, 2) }";
  auto values = [&] {
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
