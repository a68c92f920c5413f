#include "commands/Help.h"

#include "TestSupport.h"
#include "language/Scanner.h"

namespace {

class HelpTest : public test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    InitHelp();
  }
  std::string Shown(int32_t topic) {
    StartConsole();  // a fresh log for each topic
    Help_HelpMessage(topic);
    return Console();
  }
  static std::string E(int n) { return std::string(Help_String(n)); }
  static std::string List(int first, int last) {
    std::string s;
    for (int n = first; n <= last; ++n) s += "\n" + E(n) + "\n";
    return s + "\n";
  }
};

TEST_F(HelpTest, TopicsWithoutHelpOfTheirOwnShowTheTopicList) {
  for (int32_t topic : std::initializer_list<int32_t>{0, Scanner_checkpoint, Scanner_dcauchy})
    EXPECT_EQ(Shown(topic), List(20, 24)) << topic;
  EXPECT_EQ(Shown(Scanner_invalid), "");
}

TEST_F(HelpTest, CommandSyntaxThenItsDescription) {
  EXPECT_EQ(Shown(Scanner_compile),
            "\n" + E(25) + "\n\n" + E(26) + "\n" + E(27) + "\n" + E(66) + "\n" + E(67) + "\n\n");
  EXPECT_EQ(Shown(Scanner_string), "\n" + E(51) + "\n\n" + E(52) + "\n" + E(53) + "\n\n");
}

// The help on ending the run says what its exit status tells a script.
TEST_F(HelpTest, QuitTellsTheExitStatus) {
  const std::string q = Shown(Scanner_q);
  EXPECT_EQ(q.find("\n" + E(37) + "\n\n" + E(38) + "\n"), 0u) << q;
  EXPECT_NE(q.find("exit status 0"), std::string::npos) << q;
  EXPECT_NE(q.find("1 when it stopped on an"), std::string::npos) << q;
  EXPECT_EQ(q.substr(q.size() - 2), "\n\n");
  // Its neighbours in the table keep their own entries only.
  EXPECT_EQ(Shown(Scanner_diag), "\n" + E(39) + "\n\n" + E(40) + "\n\n");
  EXPECT_EQ(Shown(Scanner_clear), "\n" + E(34) + "\n\n" + E(35) + "\n" + E(36) + "\n\n");
}

TEST_F(HelpTest, FunctionsAndDistributions) {
  EXPECT_EQ(Shown(Scanner_logit), "\n\n" + E(94) + "\n");
  EXPECT_EQ(Shown(Scanner_dnorm), "\n\n" + E(119) + "\n");
  EXPECT_EQ(Shown(Scanner_functions), List(70, 73));
  EXPECT_EQ(Shown(Scanner_distributions), List(80, 83));
  EXPECT_EQ(E(63), "     Unkown help option.");
  EXPECT_EQ(E(80), " Help is avaialable on the followig distributions:");
}

}  // namespace
