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
  EXPECT_EQ(Shown(Scanner_monitor), "\n" + E(31) + "\n\n" + E(32) + "\n" + E(33) + "\n\n");
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
  EXPECT_EQ(Shown(Scanner_clear), "\n" + E(34) + "\n\n" + E(35) + "\n" + E(36) + "\n\n");
}

// The list of distributions shows parameters written as expressions and
// blocks named with ranges; the data topic says which order each structure
// form means.
TEST_F(HelpTest, TheModelAndDataFormsUsersWriteAreShown) {
  const std::string d = Shown(Scanner_distributions);
  EXPECT_NE(d.find("dnorm(a + b * x[i], tau)"), std::string::npos) << d;
  EXPECT_NE(d.find("Omega[1:2, 1:2] ~ dwish"), std::string::npos) << d;
  const std::string data = Shown(Scanner_data);
  EXPECT_EQ(data.find("\n" + E(45) + "\n\n" + E(46) + "\n"), 0u) << data;
  EXPECT_NE(data.find("row\n     by row"), std::string::npos) << data;
  EXPECT_NE(data.find("column by column."), std::string::npos) << data;
}

// The commands that several chains change say how, after their own entries:
// how to ask for chains, what update and the summaries do with them, and
// where one chain's samples are.
TEST_F(HelpTest, CommandsSayWhatSeveralChainsChange) {
  struct Case {
    int32_t topic;
    int first, last;
    const char* says;
  };
  const Case cases[] = {
      {Scanner_compile, 25, 27, "compile(\"file_name\", k) runs k chains"},
      {Scanner_compile, 25, 27, "compile(\"file_name\", blocks) updates"},
      {Scanner_update, 28, 30, "in parallel"},
      {Scanner_stats, 60, 62, "pooled"},
      {Scanner_out, 54, 56, "STEM_k.out"},
      {Scanner_diag, 39, 40, "a line of its own"},
  };
  for (const Case& c : cases) {
    std::string own = "\n" + E(c.first) + "\n\n";
    for (int n = c.first + 1; n <= c.last; ++n) own += E(n) + "\n";
    const std::string shown = Shown(c.topic);
    EXPECT_EQ(shown.find(own), 0u) << shown;
    EXPECT_NE(shown.find(c.says, own.size()), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 2), "\n\n") << shown;
  }
}

TEST_F(HelpTest, FunctionsAndDistributions) {
  EXPECT_EQ(Shown(Scanner_logit), "\n\n" + E(94) + "\n");
  EXPECT_EQ(Shown(Scanner_dnorm), "\n\n" + E(119) + "\n");
  EXPECT_EQ(Shown(Scanner_functions), List(70, 73));
  EXPECT_EQ(Shown(Scanner_distributions), List(80, 86));
  EXPECT_EQ(E(63), "     Unkown help option.");
  EXPECT_EQ(E(80), " Help is avaialable on the followig distributions:");
}

}  // namespace
