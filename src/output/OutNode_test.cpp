#include "output/OutNode.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Pipeline.h"

namespace {

class OutNodeTest : public test::Pipeline {
 protected:
  // The console text written by f.
  template <typename F>
  std::string Shown(F f) {
    const std::string before = Console();
    f();
    return Console().substr(before.size());
  }

  // Declares the model's variables and reads the data into them.
  void Load(const std::string& model, const std::string& data) {
    ASSERT_NE(Compile(WithFiles(model, data, "")), nullptr) << Console();
  }
  static void ShowWhole(const char* name) { OutNode_DisplayNode(OutNode_WholeRef(*SymTabs_FindName(name))); }

  // The reference to elements lo..hi (counted from 1) of a vector.
  static OutNode_Ref Range(const std::string& name, int32_t lo, int32_t hi) {
    OutNode_Ref ref = OutNode_WholeRef(*SymTabs_FindName(name));
    ref.lower[0] = lo - 1;
    ref.upper[0] = hi;
    return ref;
  }

  // The item a variable gets in a state file.
  static std::string Item(const std::string& name, bool allValues = false) {
    Files_Handle h = Files_New("item.txt");
    Files_Rider r;
    Files_Set(r, h, 0);
    OutNode_WriteNode(r, *SymTabs_FindName(name), allValues);
    Files_Close(h);
    return test::ReadFile("item.txt");
  }

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

// ---- the console

TEST_F(OutNodeTest, ScalarsAndVectorsShowFiveValuesToALine) {
  ASSERT_NO_FATAL_FAILURE(
      Load("var a, b, x[12]; { }", "list(a = 12.5, x = c(1, 2, 3, 4, 5, 6, NA, -8, 9, 10, 11, 12))"));
  EXPECT_EQ(Shown([] { ShowWhole("a"); }), "\n[1] 1.25E+1  ");
  EXPECT_EQ(Shown([] { ShowWhole("b"); }), "\n[1]NA        ");
  // A node that exists but has no value yet is no different.
  Graph_nodes[SymTabs_FindName("b")->firstNode] = Graph_NewNode();
  EXPECT_EQ(Shown([] { ShowWhole("b"); }), "\n[1]NA        ");
  // Each line is labelled by its first element.
  EXPECT_EQ(Shown([] { OutNode_DisplayNode(Range("x", 3, 12)); }),
            "\n[3]        3.00      4.00      5.00      6.00     NA        "
            "\n[8]       -8.00      9.00      1.00E+1   1.10E+1   1.20E+1  ");
  // A range beyond the declared extent stops at it.
  EXPECT_EQ(Shown([] { OutNode_DisplayNode(Range("x", 11, 40)); }), "\n[11]       1.10E+1   1.20E+1  ");
}

TEST_F(OutNodeTest, MatrixShowsColumnsInBlocksOfFive) {
  ASSERT_NO_FATAL_FAILURE(Load("var m[2, 7]; { }", "list(m = structure(.Data = c(1, 2, 3, 4, 5, 6, 7,"
                                                     " 8, 9, NA, 11, 12, 13, 14), .Dim = c(2, 7)))"));
  EXPECT_EQ(Shown([] { ShowWhole("m"); }),
            "\n           [, 1]     [, 2]     [, 3]     [, 4]     [, 5]     "
            "\n[1, ]      1.00      2.00      3.00      4.00      5.00     "
            "\n[2, ]      8.00      9.00     NA         1.10E+1   1.20E+1  "
            "\n           [, 6]     [, 7]     "
            "\n[1, ]      6.00      7.00     "
            "\n[2, ]      1.30E+1   1.40E+1  ");
}

TEST_F(OutNodeTest, ThreeIndexArrayShowsOneMatrixPerFirstIndex) {
  ASSERT_NO_FATAL_FAILURE(Load("var z[2, 2, 3]; { }", "list(z = structure(.Data = c(1, 2, 3, 4, 5, 6,"
                                                        " 7, 8, 9, 10, 11, NA), .Dim = c(2, 2, 3)))"));
  EXPECT_EQ(Shown([] { ShowWhole("z"); }),
            "\n1, , "
            "\n[, 1]     [, 2]     [, 3]     "
            "\n[1, ]      1.00      2.00      3.00     "
            "\n[2, ]      4.00      5.00      6.00     "
            "\n2, , "
            "\n[, 1]     [, 2]     [, 3]     "
            "\n[1, ]      7.00      8.00      9.00     "
            "\n[2, ]      1.00E+1   1.10E+1  NA        ");
  // z[2, 1, 3] alone.
  OutNode_Ref ref = OutNode_WholeRef(*SymTabs_FindName("z"));
  ref.lower[2] = 1;
  ref.upper[1] = 1;
  ref.lower[0] = 2;
  EXPECT_EQ(Shown([&] { OutNode_DisplayNode(ref); }),
            "\n2, , "
            "\n[, 3]     "
            "\n[1, ]      9.00     ");
}

// ---- state files

const std::string example = "var theta[7], tau; { for (i in 1:7) { theta[i] ~ dnorm(0, tau) } tau ~ dgamma(1, 1) }";

TEST_F(OutNodeTest, StateFileHoldsIterationSeedAndEveryStochasticVariable) {
  ASSERT_TRUE(Build(example, "", "list(theta = c(1, 2, 3, 4, 5, 6, -7.5), tau = 0.25)")) << Console();
  ASSERT_TRUE(RandNum_SetSeed(4242));
  ASSERT_TRUE(OutNode_SaveAction("s.res", 1200));
  EXPECT_EQ(test::ReadFile("s.res"),
            "list(iteration = 1200    ,seed = 4242        ,\n"
            "tau =  2.5000E-1  ,\n"
            "theta = c(\n"
            " 1.0000     , 2.0000     , 3.0000     , 4.0000     , 5.0000     ,\n"
            " 6.0000     ,-7.5000     ))\n");
  EXPECT_FALSE(test::Exists("s.res.tmp"));
}

TEST_F(OutNodeTest, ItemsShowNAForElementsThatAreNotStochastic) {
  ASSERT_TRUE(Build("var x[2, 3], y[3], mu;"
                    "{ mu ~ dnorm(0, 1) for (i in 1:2) { for (j in 1:3) { x[i, j] ~ dnorm(mu, 1) } }"
                    "  for (i in 1:3) { y[i] ~ dnorm(mu, 1) } }",
                    "list(y = c(1, NA, 3))",
                    "list(mu = 0, x = structure(.Data = c(1, 2, 3, 4, 5, 6), .Dim = c(2, 3)), y = c(NA, 2.5, NA))"))
      << Console();
  EXPECT_EQ(Item("x"),
            "x = structure(.Data = c(\n"
            " 1.0000     , 2.0000     , 3.0000     , 4.0000     , 5.0000     ,\n"
            " 6.0000     ),\n"
            ".Dim = c(2     ,3     ))");
  EXPECT_EQ(Item("y"), "y = c(\n            NA, 2.5000     ,            NA)");
  EXPECT_EQ(Item("y", true), "y = c(\n 1.0000     , 2.5000     , 3.0000     )");
  EXPECT_EQ(Item("mu"), "mu =  0.0000     ");
}

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
  const std::map<int32_t, double> restored = StochasticValues();
  ASSERT_EQ(restored.size(), saved.size());
  for (const auto& [number, value] : saved) {
    ASSERT_EQ(restored.count(number), 1u) << number;
    // A run resumes from exactly the values it saved.
    EXPECT_EQ(restored.at(number), value) << number;
  }
  // What was read back is exactly what was written.
  ASSERT_TRUE(RandNum_SetSeed(1234567));
  ASSERT_TRUE(OutNode_SaveAction("again.res", 2500));
  EXPECT_EQ(test::ReadFile("again.res"), state);
  const Parser_Files keys = Keys(model, state);
  EXPECT_EQ(keys.iteration, 2500);
  EXPECT_EQ(keys.seed, 1234567);
}

// ---- failures

TEST_F(OutNodeTest, SaveReplacesAnEarlierFileOnlyWhenTheNewOneIsComplete) {
  ASSERT_TRUE(Build(example, "", "list(theta = c(1, 2, 3, 4, 5, 6, 7), tau = 1)")) << Console();
  test::WriteFile("s.res", "earlier");
  ASSERT_TRUE(OutNode_SaveAction("s.res", 1));
  EXPECT_EQ(test::ReadFile("s.res").rfind("list(iteration = 1 ", 0), 0u);

  // A full disk: the partial file goes to a device that takes nothing.
  test::WriteFile("s.res", "earlier");
  std::filesystem::create_symlink("/dev/full", "s.res.tmp");
  std::string shown = Shown([] { EXPECT_FALSE(OutNode_SaveAction("s.res", 2)); });
  EXPECT_EQ(shown, "\nCould not write the state to file \"s.res\"; any earlier file of that name is left as it was");
  EXPECT_EQ(test::ReadFile("s.res"), "earlier");
  EXPECT_FALSE(std::filesystem::is_symlink("s.res.tmp"));

  // No directory to write into; a directory in the place of the file.
  EXPECT_FALSE(OutNode_SaveAction("nodir/s.res", 3));
  std::filesystem::create_directory("d.res");
  EXPECT_FALSE(OutNode_SaveAction("d.res", 4));
  EXPECT_TRUE(std::filesystem::is_directory("d.res"));
  EXPECT_FALSE(test::Exists("d.res.tmp"));
  EXPECT_FALSE(OutNode_SaveAction("", 5));
  EXPECT_NE(Console().find("Could not write the state to file \"nodir/s.res\""), std::string::npos);
  EXPECT_NE(Console().find("Could not write the state to file \"d.res\""), std::string::npos);
}

TEST_F(OutNodeTest, SaveIntoAReadOnlyDirectoryKeepsTheEarlierFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions are not enforced for the superuser";
  ASSERT_TRUE(Build(example, "", "list(theta = c(1, 2, 3, 4, 5, 6, 7), tau = 1)")) << Console();
  std::filesystem::create_directory("ro");
  test::WriteFile("ro/s.res", "earlier");
  ASSERT_EQ(chmod("ro", 0555), 0);
  EXPECT_FALSE(OutNode_SaveAction("ro/s.res", 1));
  chmod("ro", 0755);
  EXPECT_EQ(test::ReadFile("ro/s.res"), "earlier");
  EXPECT_TRUE(Says("Could not write the state to file \"ro/s.res\""));
}

}  // namespace
