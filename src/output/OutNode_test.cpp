#include "output/OutNode.h"

#include <map>
#include <string>

#include "Pipeline.h"

namespace {

// The layouts a user sees are in the scenario session_displays; here a saved
// state must restart a run from exactly the values it held.
class OutNodeTest : public test::Pipeline {
 protected:
  // The iteration count and seed that the model's inits statement reads
  // from the text, through the same reader as compile.
  Parser_Files Keys(const std::string& model, const std::string& inits) {
    Reset();
    test::WriteFile("m.bug", WithFiles(model, "", inits));
    Files_Handle file = Files_Old("m.bug");
    Errors_SetErrorFile("m.bug", file);
    Scanner_Token t;
    Scanner_Open(t, file, 0);
    Parser_ModelStatement(t);
    Parser_Declarations(t);
    Parser_Files files;
    Parser_LoadData(t, "m.bug", file, files);
    EXPECT_FALSE(Parser_error) << Console();
    return files;
  }

  // Every declared stochastic node by number, with its value.
  static std::map<int32_t, double> StochasticValues() {
    std::map<int32_t, double> values;
    for (int32_t k = 0; k < Graph_numDeclaredNodes; ++k)
      if (Graph_nodes[k] != nullptr && Graph_nodes[k]->kind == Graph_stochastic) values[k] = Graph_Own(Graph_nodes[k]);
    return values;
  }
};

TEST_F(OutNodeTest, StateFileReadsBackAsInitialValues) {
  const std::string model =
      "const N = 7; var mu, tau, theta[N], x[2, 3], z[2, 2, 3], y[4], w[3];"
      "{ mu ~ dnorm(0, 1) tau ~ dgamma(1, 1)"
      "  for (i in 1:N) { theta[i] ~ dnorm(mu, tau) }"
      "  for (i in 1:2) { for (j in 1:3) { x[i, j] ~ dnorm(mu, 1) for (k in 1:2) { z[k, i, j] ~ dnorm(mu, 2) } } }"
      "  for (i in 1:4) { y[i] ~ dnorm(mu, tau) }"
      "  for (i in 1:3) { w[i] ~ dnorm(mu, 1) } }";
  const std::string data = "list(y = c(1.5, NA, -0.5, NA), w = c(1, 2, 3))";
  // Starting values drawn from the priors: arbitrary doubles of either sign.
  ASSERT_TRUE(Build(model, data)) << Console();
  ASSERT_TRUE(RandNum_SetSeed(1234567));
  const std::map<int32_t, double> saved = StochasticValues();
  ASSERT_EQ(saved.size(), 1u + 1u + 7u + 6u + 12u + 2u);
  ASSERT_TRUE(OutNode_SaveAction("s.res", 2500));
  const std::string state = test::ReadFile("s.res");
  // w is data throughout and N a constant: neither is saved.
  EXPECT_EQ(state.find("w ="), std::string::npos) << state;
  EXPECT_EQ(state.find("N ="), std::string::npos) << state;

  ASSERT_TRUE(Build(model, data, state)) << Console() << state;
  EXPECT_FALSE(Says("Generating initial values")) << Console();
  EXPECT_EQ(StochasticValues(), saved);
  // What was read back is exactly what was written.
  ASSERT_TRUE(RandNum_SetSeed(1234567));
  ASSERT_TRUE(OutNode_SaveAction("again.res", 2500));
  EXPECT_EQ(test::ReadFile("again.res"), state);
  const Parser_Files keys = Keys(model, state);
  EXPECT_EQ(keys.iteration, 2500);
  EXPECT_EQ(keys.seed, 1234567);
}

}  // namespace
