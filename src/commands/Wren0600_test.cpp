#include "commands/Wren0600.h"

#include <string>
#include <vector>

#include "TestSupport.h"
#include "commands/Model.h"

namespace {

class Wren0600Test : public test::ScratchDir {
 protected:
  void Run(const std::string& commands) {
    test::WriteFile("cmds.txt", commands);
    const char* argv[] = {"wren", "20", "t", "cmds.txt"};
    ASSERT_TRUE(Wren0600_InitModules(4, argv));
    WrenLoop();
  }
};

// The scenarios mask the banner's date, so its day suffixes are checked here.
TEST_F(Wren0600Test, BannerDaySuffixes) {
  const std::pair<int, const char*> days[] = {{1, "1 st"},   {2, "2 nd"},   {3, "3 rd"},   {5, "5 th"},
                                              {11, "11 th"}, {12, "12 th"}, {13, "13 th"}, {21, "21 st"},
                                              {22, "22 nd"}, {23, "23 rd"}, {31, "31 st"}};
  for (auto [day, text] : days) {
    std::tm t{};
    t.tm_mday = day;
    t.tm_mon = 11;
    t.tm_year = 95;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    StartConsole();
    Wren0600_WriteBanner(t);
    EXPECT_EQ(Console().substr(0, Console().find('\n')),
              std::string("Welcome to WREN on ") + text + " Dec 1995  at 9:5:3") << day;
  }
}

// The help commands leave other integers in the scanner, which an unchecked
// argument of checkpoint would pick up; commands after q() are not run.
TEST_F(Wren0600Test, CheckpointTakesOnlyPositiveWholeNumbersAndQuitEndsTheLoop) {
  Run("checkpoint(7)\nhelp(5)\ncheckpoint(x)\nhelp(4)\ncheckpoint(-3)\ncheckpoint(0)\n"
      "help(6)\ncheckpoint(2.5)\nq()\ncheckpoint(9)\n");
  EXPECT_EQ(Model_checkPointFreq, 7);
  Run("checkpoint(9)");  // the end of the commands without q()
  EXPECT_EQ(Model_checkPointFreq, 9);
}

// Command lines the scenarios do not show (each of them ends the run with 1).
TEST_F(Wren0600Test, BadCommandLinesFail) {
  test::WriteFile("cmds.txt", "q()\n");
  const std::vector<std::vector<const char*>> cases = {{"wren", "20"}, {"wren", "x", "t", "cmds.txt"}};
  for (const auto& argv : cases)
    EXPECT_EQ(Wren0600_Main(static_cast<int>(argv.size()), argv.data()), 1) << argv.size() << " " << argv[1];
  const char* good[] = {"wren", "20", "t", "cmds.txt"};
  EXPECT_EQ(Wren0600_Main(4, good), 0);
}

}  // namespace
