#include "commands/Wren0600.h"

#include <string>
#include <vector>

#include "TestSupport.h"
#include "commands/Model.h"

namespace {

class Wren0600Test : public test::ScratchDir {
 protected:
  std::string Banner(int day) {
    std::tm t{};
    t.tm_mday = day;
    t.tm_mon = 11;
    t.tm_year = 95;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    StartConsole();
    Wren0600_WriteBanner(t);
    return Console();
  }
  void Run(const std::string& commands) {
    test::WriteFile("cmds.txt", commands);
    const char* argv[] = {"wren", "20", "t", "cmds.txt"};
    ASSERT_TRUE(Wren0600_InitModules(4, argv));
    WrenLoop();
  }
};

TEST_F(Wren0600Test, Banner) {
  EXPECT_EQ(Banner(5),
            "Welcome to WREN on 5 th Dec 1995  at 9:5:3\nVersion 0.600 for unix systems.\n"
            "For general release: please see documentation for disclaimer.\n");
  const std::pair<int, const char*> days[] = {
      {1, "1 st"},   {2, "2 nd"},   {3, "3 rd"},   {11, "11 th"}, {12, "12 th"},
      {13, "13 th"}, {21, "21 st"}, {22, "22 nd"}, {23, "23 rd"}, {31, "31 st"}};
  for (auto [day, text] : days)
    EXPECT_EQ(Banner(day).find(std::string(" on ") + text + " Dec 1995  at"), 15u) << day;
}

TEST_F(Wren0600Test, CheckpointTakesOnlyPositiveWholeNumbers) {
  // The help commands leave other integers in the scanner, which an
  // unchecked argument would pick up.
  Run("checkpoint(7)\nhelp(5)\ncheckpoint(x)\nhelp(4)\ncheckpoint(-3)\ncheckpoint(0)\n"
      "help(6)\ncheckpoint(2.5)\nq()\n");
  EXPECT_EQ(Model_checkPointFreq, 7);
}

TEST_F(Wren0600Test, LoopEndsAtQuitOrAtTheEndOfTheCommands) {
  Run("q()\ncheckpoint(9)\n");
  EXPECT_EQ(Model_checkPointFreq, 2147483647);
  Run("checkpoint(9)");
  EXPECT_EQ(Model_checkPointFreq, 9);
}

// A script running several chains tells a failed run by its exit status.
TEST_F(Wren0600Test, ExitStatusTellsAFailedRunFromAFinishedOne) {
  test::WriteFile("good.bug", "model good;\nvar x;\n{\n  x ~ dnorm(0, 1)\n}\n");
  test::WriteFile("bad.bug", "model bad;\nvar x;\n{\n  x ~ dnorm(0, 1\n}\n");
  // The lower bound moves with lo, and x cannot be drawn once lo passes 1.
  test::WriteFile("stuck.bug",
                  "model stuck;\nvar x, lo;\ninits in \"stuck.in\";\n"
                  "{\n  lo ~ dunif(0, 2)\n  x ~ dexp(1) I(lo, 1)\n}\n");
  test::WriteFile("stuck.in", "list(x = 0.9, lo = 0.5)\n");
  struct Case {
    std::vector<std::string> args;  // after the program name
    std::string commands;           // of the command file "cmds.txt"
    int status;
  };
  const Case cases[] = {
      {{"20", "t", "cmds.txt"}, "q()\n", 0},
      {{"20", "t", "cmds.txt"}, "", 0},  // the end of the commands acts as q()
      {{"20", "t", "cmds.txt"}, "compile(\"good.bug\")\nupdate(10)\nq()\n", 0},
      // A complaint about a command leaves the run going.
      {{"20", "t", "cmds.txt"}, "compile(\"none.bug\")\nupdate(10)\nq()\n", 0},
      {{"20", "t", "cmds.txt"}, "compile(\"bad.bug\")\nq()\n", 1},
      {{"20", "t", "cmds.txt"}, "compile(\"stuck.bug\")\nupdate(100)\nq()\n", 1},
      {{"20", "t", "none.txt"}, "q()\n", 1},  // no such command file
      {{}, "q()\n", 1},
      {{"20"}, "q()\n", 1},
      {{"20", "t", "cmds.txt", "extra"}, "q()\n", 1},
      {{"x", "t", "cmds.txt"}, "q()\n", 1},
  };
  for (const Case& c : cases) {
    test::WriteFile("cmds.txt", c.commands);
    std::vector<const char*> argv{"wren"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    EXPECT_EQ(Wren0600_Main(static_cast<int>(argv.size()), argv.data()), c.status)
        << c.commands << " with " << c.args.size() << " arguments";
  }
}

// A node error ends the process at once, with the status of a failed run.
TEST_F(Wren0600Test, NodeErrorEndsTheRunWithFailure) {
  test::WriteFile("neg.bug", "model neg;\nvar x;\n{\n  x ~ dnorm(0, 0)\n}\n");  // no precision
  test::WriteFile("cmds.txt", "compile(\"neg.bug\")\nq()\n");
  const char* argv[] = {"wren", "20", "t", "cmds.txt"};
  EXPECT_EXIT(Wren0600_Main(4, argv), testing::ExitedWithCode(1), "");
}

}  // namespace
