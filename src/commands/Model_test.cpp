#include "commands/Model.h"

#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <optional>

#include "Hooks.h"
#include "Pipeline.h"
#include "output/Monitors.h"

namespace {

TEST(ModelTest, ElapsedTimeIsTheDifferenceOfClockTimes) {
  const struct { Model_Clock from, to; const char* text; } cases[] = {
      {{10, 0, 0}, {10, 1, 7}, " 00:01:07 "}, {{9, 59, 58}, {11, 0, 3}, " 01:00:05 "},
      {{23, 59, 50}, {0, 0, 10}, " 00:00:20 "}, {{12, 0, 0}, {12, 0, 0}, " 00:00:00 "}};
  for (const auto& c : cases) EXPECT_EQ(Model_ElapsedText(c.from, c.to), c.text) << c.text;
}

// Checkpoints go to t.res, t.sof and t.sif (the stem of the test console).
class CheckPointTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitMonitors();
    ASSERT_TRUE(Build("var mu, x[4]; { mu ~ dnorm(0, 1) for (i in 1:4) { x[i] ~ dnorm(mu, 1) } }", "",
                      "list(mu = 0.5)")) << Console();
    Monitors_SetMonitor(N("mu")->label, 1);
  }
  static void Run(int32_t from, int32_t to) {
    for (int32_t it = from; it <= to; ++it) Graph_Own(N("mu")) = it * 0.25, Monitors_Update(it);
  }
};

// Runs work in a child process stopped before its step k that changes the file
// system, as a kill or a power loss would; false when the work ended first.
constexpr int stoppedStatus = 42; int stopBefore = 0, stepsTaken = 0;
template <class Work>
bool RunStoppedAt(int k, Work work) {
  Write_Flush();
  const pid_t pid = fork();
  if (pid == 0) {
    stopBefore = k;
    Files_beforeStep = [] { if (stepsTaken++ == stopBefore) _exit(stoppedStatus); };
    work();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == stoppedStatus;
}

// The checkpoint's files, their temporary copies and the marker (nullopt: absent).
using Snapshot = std::map<std::string, std::optional<std::string>>;
Snapshot Take() {
  Snapshot s;
  for (std::string name : {"t.res", "t.sof", "t.sif", "t.ckp"})
    for (const std::string& n : {name, name + ".tmp"}) s[n] = test::Exists(n) ? std::optional(test::ReadFile(n)) : std::nullopt;
  return s;
}
void Restore(const Snapshot& s) {
  for (const auto& [name, text] : s) text ? test::WriteFile(name, *text) : Files_Delete(name);
}

// Stopped before each step of writing checkpoint 20, and then before each step
// of the next run's recovery, the files come back as one whole checkpoint: the
// one before, or, once its marker was in place, the new one; nothing temporary.
TEST_F(CheckPointTest, AStopAtAnyStepLeavesOneWholeCheckpoint) {
  Run(1, 10);
  ASSERT_TRUE(Model_WriteCheckPoint(10));
  const Snapshot first = Take();
  Run(11, 20);
  ASSERT_TRUE(Model_WriteCheckPoint(20));
  const Snapshot second = Take();
  int cases = 0, committed = 0;
  for (int k = 0; k < 100 && (Restore(first), RunStoppedAt(k, [] { Model_WriteCheckPoint(20); })); ++k) {
    const Snapshot left = Take();
    const bool marked = left.at("t.ckp").has_value();
    committed += marked;
    for (int j = 0; j < 100; ++j) {
      Restore(left), ++cases;
      const bool stopped = RunStoppedAt(j, [] { Model_RecoverCheckPoint(); });
      Model_RecoverCheckPoint();
      EXPECT_EQ(Take(), marked ? second : first) << "stopped before step " << k << " and recovery step " << j;
      if (!stopped) break;
    }
  }
  EXPECT_GT(committed, 2);
  EXPECT_GT(cases, 20);
}

// What a run says when it starts beside a stopped checkpoint is in the scenarios
// session_checkpoint_unfinished and session_checkpoint_completed.

// A file that cannot be put in place (a directory stands in the state file's
// way) leaves the checkpoint committed: the next one is refused until it can
// be completed, and then completes it first.
TEST_F(CheckPointTest, ACommittedCheckpointThatCannotBePlacedIsCompletedLater) {
  Run(1, 20);
  ASSERT_TRUE(std::filesystem::create_directory("t.res"));
  test::WriteFile("t.res/blocker", "");
  EXPECT_FALSE(Model_WriteCheckPoint(10));
  EXPECT_TRUE(Says("\nCheckpoint at iteration 10 only partly written: could not put t.res in place;")) << Console();
  EXPECT_TRUE(test::Exists("t.ckp"));
  EXPECT_FALSE(Model_WriteCheckPoint(20));
  EXPECT_TRUE(Says("\nCheckpoint at iteration 10 could not be completed: its files stay under temporary names beside "
                   "t.ckp.\nCheckpoint at iteration 20 not written: the checkpoint before it is not complete."))
      << Console();
  const std::string samples = test::ReadFile("t.sof");  // of iteration 10, already in place
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), 10);
  std::filesystem::remove_all("t.res");
  EXPECT_TRUE(Model_WriteCheckPoint(20));
  EXPECT_TRUE(Says("\nCheckpoint at iteration 10 completed: its files had not all been put in place.")) << Console();
  EXPECT_EQ(test::ReadFile("t.res").rfind("list(iteration = 20 ", 0), 0u);
  EXPECT_FALSE(test::Exists("t.ckp") || test::Exists("t.res.tmp"));
}

}  // namespace
