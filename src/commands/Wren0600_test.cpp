#include "commands/Wren0600.h"

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

}  // namespace
