#include "commands/Model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Pipeline.h"
#include "output/Monitors.h"

namespace {

TEST(ModelTest, ElapsedTimeIsTheDifferenceOfClockTimes) {
  EXPECT_EQ(Model_ElapsedText({10, 0, 0}, {10, 1, 7}), " 00:01:07 ");
  EXPECT_EQ(Model_ElapsedText({9, 59, 58}, {11, 0, 3}), " 01:00:05 ");
  EXPECT_EQ(Model_ElapsedText({23, 59, 50}, {0, 0, 10}), " 00:00:20 ");
  EXPECT_EQ(Model_ElapsedText({12, 0, 0}, {12, 0, 0}), " 00:00:00 ");
}

// Checkpoints are written to t.res, t.sof and t.sif (the stem of the test
// console).
class CheckPointTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitMonitors();
    // Four hundred unknowns make a state file of about 9 KB.
    ASSERT_TRUE(Build("var mu, x[400]; { mu ~ dnorm(0, 1) for (i in 1:400) { x[i] ~ dnorm(mu, 1) } }", "",
                      "list(mu = 0.5)"))
        << Console();
    Monitors_SetMonitor(N("mu")->label, 1);
  }
  static void Run(int32_t from, int32_t to) {
    for (int32_t it = from; it <= to; ++it) {
      N("mu")->value = it * 0.25;
      Monitors_Update(it);
    }
  }
  // The three files of a checkpoint, in one string.
  static std::string Files() {
    return test::ReadFile("t.res") + "|" + test::ReadFile("t.sof") + "|" + test::ReadFile("t.sif");
  }
  static bool NoTemporaryFiles() {
    return !test::Exists("t.res.tmp") && !test::Exists("t.sof.tmp") && !test::Exists("t.sif.tmp");
  }
};

TEST_F(CheckPointTest, WritesTheStateAndTheTracesOfOneIteration) {
  Run(1, 10);
  EXPECT_TRUE(Model_WriteCheckPoint(10));
  EXPECT_EQ(test::ReadFile("t.res").rfind("list(iteration = 10 ", 0), 0u);
  const std::string samples = test::ReadFile("t.sof");
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), 10);
  EXPECT_EQ(test::ReadFile("t.sif"), "mu" + std::string(18, ' ') + "1              10             \n");
  EXPECT_TRUE(NoTemporaryFiles());
}

// The state fits under the limit and the traces do not: writing the state
// alone would pair a new state with the traces of the checkpoint before.
TEST_F(CheckPointTest, TracesThatCannotBeWrittenKeepTheWholePreviousCheckpoint) {
  Run(1, 10);
  ASSERT_TRUE(Model_WriteCheckPoint(10));
  const std::string previous = Files();
  Run(11, 3000);  // 75 KB of samples
  {
    test::FileSizeLimit limit(16384);
    EXPECT_FALSE(Model_WriteCheckPoint(3000));
  }
  EXPECT_EQ(Files(), previous);
  EXPECT_TRUE(Says("\nCheckpoint at iteration 3000 not written: could not write t.sof; the previous checkpoint "
                   "is kept."))
      << Console();
  EXPECT_TRUE(NoTemporaryFiles());
  EXPECT_TRUE(Model_WriteCheckPoint(3000));  // room again
  EXPECT_EQ(test::ReadFile("t.res").rfind("list(iteration = 3000 ", 0), 0u);
}

TEST_F(CheckPointTest, AStateThatCannotBeWrittenKeepsTheTracesToo) {
  Run(1, 10);
  ASSERT_TRUE(Model_WriteCheckPoint(10));
  const std::string previous = Files();
  Run(11, 20);
  {
    test::FileSizeLimit limit(4096);
    EXPECT_FALSE(Model_WriteCheckPoint(20));
  }
  EXPECT_EQ(Files(), previous);
  EXPECT_TRUE(Says("Checkpoint at iteration 20 not written: could not write t.res;")) << Console();
  EXPECT_TRUE(NoTemporaryFiles());
}

TEST_F(CheckPointTest, AnUnwritableDirectoryKeepsThePreviousCheckpoint) {
  if (!test::PermissionsBind()) GTEST_SKIP() << "directory permissions do not bind this user";
  Run(1, 10);
  ASSERT_TRUE(Model_WriteCheckPoint(10));
  const std::string previous = Files();
  Run(11, 20);
  // The log is open already and goes on; nothing new can be made here.
  ASSERT_EQ(chmod(".", 0555), 0);
  const bool written = Model_WriteCheckPoint(20);
  chmod(".", 0755);
  EXPECT_FALSE(written);
  EXPECT_EQ(Files(), previous);
  EXPECT_TRUE(Says("Checkpoint at iteration 20 not written: could not write t.sof, t.sif, t.res;")) << Console();
}

}  // namespace
