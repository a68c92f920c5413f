#include "graph/CheckDAG.h"

#include "FrontEnd.h"

namespace {

class CheckDAGTest : public test::FrontEnd {
 protected:
  // Whether the cycle warning is printed for a model body.
  bool Warns(const std::string& body) {
    Reset();
    Parser_Tree* head = Compile("model m; var x[5], y[5], a, b, c, tau;\n{ " + body + " }");
    EXPECT_NE(head, nullptr) << body;
    CheckDAG_Cycles(head);
    return Console().find("Possible directed cycle or undirected link in model\n") != std::string::npos;
  }
};

TEST_F(CheckDAGTest, WarnsWhenAVariableDependsOnItself) {
  EXPECT_TRUE(Warns("a <- b + 1; b <- a * 2"));
  EXPECT_TRUE(Warns("a ~ dnorm(b, tau) b ~ dnorm(c, tau) c <- a"));
  // Indices are ignored, so a time series draws the warning too.
  EXPECT_TRUE(Warns("for (t in 2:5) { x[t] ~ dnorm(x[t - 1], tau) }"));
  // Names in index expressions and bounds count.
  EXPECT_TRUE(Warns("a ~ dnorm(0, 1) I(b, ) b <- y[1] y[1] <- a"));
  // Relations after a loop are still walked.
  EXPECT_TRUE(Warns("for (i in 1:5) { y[i] <- x[i] } x[1] <- y[2]"));
}

TEST_F(CheckDAGTest, StaysQuietForAcyclicModels) {
  EXPECT_FALSE(Warns("for (i in 1:5) { y[i] ~ dnorm(x[i], tau) x[i] <- a + b } a ~ dnorm(0, 1)"));
  EXPECT_FALSE(Warns("a <- b; b <- c; c ~ dnorm(0, tau)"));
}

}  // namespace
