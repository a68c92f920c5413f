#include "commands/Chain.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "commands/Wren0600.h"
#include "language/SymTabs.h"
#include "output/Monitors.h"

void CtrlC_Request();  // the tests' seam of the interrupt hook

namespace {

TEST(ChainFileNameTest, ChainNumberGoesBeforeTheExtensionOfTheFilesOwnName) {
  const struct {
    const char* name;
    int32_t k;
    const char* expected;
  } cases[] = {
      {"run.out", 1, "run.out"},          {"run.out", 2, "run_2.out"},
      {"run.out", 12, "run_12.out"},      {"state", 3, "state_3"},
      {"dir.v2/state", 2, "dir.v2/state_2"}, {"a/b.c.res", 4, "a/b.c_4.res"},
      {".hidden", 2, ".hidden_2"},        {"d/.rc", 2, "d/.rc_2"},
  };
  for (const auto& c : cases) EXPECT_EQ(Chain_FileName(c.name, c.k), c.expected) << c.name << " " << c.k;
}

// Runs a command file through the command loop in this process.
class ChainsTest : public test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    test::WriteFile("m.bug",
                    "model pair; var x[4], mu, tau; data in \"d.dat\"; inits in \"i.dat\";\n"
                    "{ for (i in 1:4) { x[i] ~ dnorm(mu, tau) }\n  mu ~ dnorm(0, 0.01)\n  tau ~ dgamma(1, 1) }\n");
    test::WriteFile("d.dat", "list(x = c(1.5, 2.5, 2.0, 3.0))\n");
    test::WriteFile("i.dat", "list(mu = 0, tau = 1)\n");
  }
  void TearDown() override {
    Chain_Bind(Chain_First());
    ScratchDir::TearDown();
  }
  void Run(const std::string& commands) {
    test::WriteFile("cmds.txt", commands);
    const char* argv[] = {"wren", "20", "t", "cmds.txt"};
    ASSERT_TRUE(Wren0600_InitModules(4, argv));
    WrenLoop();
  }
  static int32_t Node(const char* name) { return SymTabs_FindName(name)->firstNode; }
  // Chain k's current value of a node.
  static double Value(int32_t k, const char* name) {
    return Chain_At(k).values[static_cast<size_t>(Graph_nodes[static_cast<size_t>(Node(name))]->slot)];
  }
};

// Chain 1 keeps the model's initial values; a chain with a file takes the
// values it gives and draws the rest; a chain without one draws everything.
// The same run repeated starts every chain alike; a seed in a chain's file
// is that chain's alone.
TEST_F(ChainsTest, EachChainStartsFromItsOwnValuesAndStream) {
  struct Start {
    double mu2, tau2, mu3, tau3;
  };
  const auto start = [this](int seed) {
    test::WriteFile("c2.dat", "list(mu = 40, seed = " + std::to_string(seed) + ")\n");
    Run("compile(\"m.bug\", 3, \"c2.dat\")\n");
    EXPECT_EQ(Chain_Count(), 3) << Console();
    EXPECT_EQ(Value(1, "mu"), 0.0);
    EXPECT_EQ(Value(1, "tau"), 1.0);
    // The data are every chain's.
    EXPECT_EQ(Chain_At(3).values[static_cast<size_t>(Graph_nodes[static_cast<size_t>(Node("x") + 2)]->slot)], 2.0);
    return Start{Value(2, "mu"), Value(2, "tau"), Value(3, "mu"), Value(3, "tau")};
  };
  const Start a = start(4242), again = start(4242), other = start(4243);
  EXPECT_EQ(a.mu2, 40.0);
  EXPECT_NE(a.tau2, 1.0);
  EXPECT_NE(a.mu3, 0.0);
  EXPECT_NE(a.tau3, a.tau2);
  EXPECT_EQ(std::tie(again.tau2, again.mu3, again.tau3), std::tie(a.tau2, a.mu3, a.tau3));
  EXPECT_NE(other.tau2, a.tau2);
  EXPECT_EQ(std::tie(other.mu3, other.tau3), std::tie(a.mu3, a.tau3));
}

TEST_F(ChainsTest, ComplaintsAboutTheChainsLeaveNothingCompiled) {
  const char* commands[] = {
      "compile(\"m.bug\", 0)\n",          "compile(\"m.bug\", 65)\n",
      "compile(\"m.bug\", 2, \"c2.dat\", \"c3.dat\")\n", "compile(\"m.bug\", 2, \"missing.dat\")\n",
      "compile(\"m.bug\", 2, 5)\n",       "compile(\"m.bug\", 2 x\n",
  };
  test::WriteFile("c2.dat", "list(mu = 1)\n");
  test::WriteFile("c3.dat", "list(mu = 2)\n");
  for (const char* c : commands) {
    Run(std::string(c) + "update(1)\n");
    const std::string log = Console();
    EXPECT_NE(log.find("No model compiled yet"), std::string::npos) << log;
    EXPECT_EQ(Chain_Count(), 1) << c;
  }
}

// The interrupt key stops every chain; the update returns to the prompt.
TEST_F(ChainsTest, InterruptStopsEveryChain) {
  std::atomic<bool> done{false};
  std::thread key([&done] {
    while (!done.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      CtrlC_Request();
    }
  });
  Run("compile(\"m.bug\", 2)\nupdate(100000000)\n");
  done.store(true);
  key.join();
  ASSERT_EQ(Chain_Count(), 2) << Console();
  for (int32_t k = 1; k <= 2; ++k) EXPECT_LT(Chain_At(k).progress.iteration, 100000000);
  EXPECT_FALSE(Model_error);
}

// save writes chain k's state beside chain 1's, and refuses a name that
// would overwrite a file some chain of the run writes or started from.
TEST_F(ChainsTest, SaveKeepsEveryChainAndRefusesEveryChainsFiles) {
  test::WriteFile("c2.dat", "list(mu = 40)\n");
  Run("compile(\"m.bug\", 3, \"c2.dat\")\nupdate(5)\nsave(\"s.txt\")\nsave(\"t_3.out\")\nsave(\"c2.dat\")\n"
      "save(\"t_2.res\")\n");
  for (const char* f : {"s.txt", "s_2.txt", "s_3.txt"})
    EXPECT_EQ(test::ReadFile(f).rfind("list(iteration = 5 ", 0), 0u) << f;
  EXPECT_NE(test::ReadFile("s_2.txt"), test::ReadFile("s_3.txt"));
  const std::string log = Console();
  for (const char* f : {"t_3.out", "c2.dat", "t_2.res"})
    EXPECT_NE(log.find(std::string("File ") + f + " is in use by the run"), std::string::npos) << f << log;
  EXPECT_EQ(test::ReadFile("c2.dat"), "list(mu = 40)\n");
}

}  // namespace
