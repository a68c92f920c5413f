#include "commands/Chain.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "commands/Wren0600.h"

void CtrlC_Request();  // the tests' seam of the interrupt hook

namespace {

using ChainsTest = test::ScratchDir;

// The interrupt key stops every chain, and the update returns to the prompt.
// (Complaints are in the scenario session_chain_commands, file names in session_chain_file_names.)
TEST_F(ChainsTest, InterruptStopsEveryChain) {
  test::WriteFile("m.bug", "model pair; var x[4], mu, tau; data in \"d.dat\";\n"
                           "{ for (i in 1:4) { x[i] ~ dnorm(mu, tau) }\n  mu ~ dnorm(0, 0.01)\n  tau ~ dgamma(1, 1) }\n");
  test::WriteFile("d.dat", "list(x = c(1.5, 2.5, 2.0, 3.0))\n");
  test::WriteFile("cmds.txt", "compile(\"m.bug\", 2)\nupdate(100000000)\n");
  const char* argv[] = {"wren", "20", "t", "cmds.txt"};
  ASSERT_TRUE(Wren0600_InitModules(4, argv));
  std::atomic<bool> done{false};
  std::thread key([&done] {
    for (; !done.load(); CtrlC_Request()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  WrenLoop();
  done.store(true);
  key.join();
  EXPECT_EQ(Chain_Count(), 2) << Console();
  for (int32_t k = 1; k <= std::min(Chain_Count(), 2); ++k) EXPECT_LT(Chain_At(k).progress.iteration, 100000000);
  EXPECT_FALSE(Model_error);
  Chain_Bind(Chain_First());
}

}  // namespace
