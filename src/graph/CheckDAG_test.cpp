#include "graph/CheckDAG.h"

#include "FrontEnd.h"

namespace {

class CheckDAGTest : public test::FrontEnd {};

// Indices are ignored, so a time series draws the warning too; names in
// index expressions and bounds count, and relations after a loop are walked.
TEST_F(CheckDAGTest, WarnsWhenAVariableDependsOnItself) {
  const std::pair<const char*, bool> cases[] = {
      {"a <- b + 1; b <- a * 2", true},
      {"a ~ dnorm(b, tau) b ~ dnorm(c, tau) c <- a", true},
      {"for (t in 2:5) { x[t] ~ dnorm(x[t - 1], tau) }", true},
      {"a ~ dnorm(0, 1) I(b, ) b <- y[1] y[1] <- a", true},
      {"for (i in 1:5) { y[i] <- x[i] } x[1] <- y[2]", true},
      {"for (i in 1:5) { y[i] ~ dnorm(x[i], tau) x[i] <- a + b } a ~ dnorm(0, 1)", false},
      {"a <- b; b <- c; c ~ dnorm(0, tau)", false},
  };
  for (const auto& [body, warns] : cases) {
    Reset();
    Parser_Tree* head = Compile(std::string("model m; var x[5], y[5], a, b, c, tau;\n{ ") + body + " }");
    ASSERT_NE(head, nullptr) << body;
    CheckDAG_Cycles(head);
    EXPECT_EQ(Console().find("Possible directed cycle or undirected link in model\n") != std::string::npos, warns) << body;
  }
}

}  // namespace
