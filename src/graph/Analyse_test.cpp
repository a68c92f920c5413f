#include "graph/Analyse.h"

#include <cmath>
#include <limits>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"

namespace {

// A failing check ends a child process, which leaves its flag here on the way out for the parent to read.
void SaveFlag() { test::WriteFile("flag", Analyse_error ? "1" : "0"); }

class AnalyseTest : public test::FrontEnd {
 protected:
  void Build(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    Reset(), InitCodeGen(), InitDeterm(), InitAnalyse();
    Parser_Tree* head = Compile(WithFiles(model, data, inits));
    ASSERT_NE(head, nullptr) << Console();
    CodeGen_WriteGraph(head);
    ASSERT_FALSE(CodeGen_error) << Console();
  }

  static Graph_Node* Node(const std::string& name) { return Graph_nodes[SymTabs_FindName(name)->firstNode]; }
  void Passes() { Analyse_CheckModel(); EXPECT_FALSE(Analyse_error); }

  // "node: text" of the report of a failing check, which must end the run as a failed run with the flag set.
  std::string Fails() {
    StartConsole();
    EXPECT_EXIT({ std::atexit(SaveFlag); Analyse_CheckModel(); }, testing::ExitedWithCode(1), "");
    EXPECT_EQ(test::ReadFile("flag"), "1");
    const std::string log = Console();
    const size_t node = log.find(" for node: "), text = log.find(" -- error  -- \n");
    if (node == std::string::npos || text == std::string::npos) return "no report: " + log;
    const size_t nodeEnd = log.find('\n', node), textEnd = log.find('\n', text + 15);
    return log.substr(node + 11, nodeEnd - node - 11) + ": " + log.substr(text + 15, textEnd - text - 15);
  }
};

// Scenarios graph_check_* and graph_block_* show the checks as a user meets them; here, parameters whose starting
// values cannot be made, and partly observed blocks (refused end to end by the block check) by the whole check.
TEST_F(AnalyseTest, ParameterAndBlockChecks) {
  const std::string bin = "var x, p, n; { x ~ dbin(p, n) }", prop = "Invalid value for parameter not in range 0.0 to 1.0.";
  const std::string r = "list(R = structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2))";
  const std::string wish = "var W[2, 2], R[2, 2], k; { W[, ] ~ dwish(R[, ], k) }";
  const std::string mnorm = "var y[3], mu[3], T[3, 3]; { y[1:3] ~ dmnorm(mu[], T[, ]) }";
  const std::string mixed = "y[1]: Multiviate  node contains both data and sampling components.";
  const std::string t = ", mu = c(0, 0, 0), T = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)))";
  const std::string rows[][3] = {
      {mnorm, "list(y = c(1, NA, 3)" + t, mixed}, {mnorm, "list(y = c(NA, 2, NA)" + t, mixed},
      {mnorm, "list(y = c(NA, NA, 3)" + t, mixed},
      {"var x; { x ~ dpar(0, 1) }", "", "x: Invalid value for parameter too big or too small."},
      {bin, "list(p = 1.5, n = 10)", "x: " + prop}, {bin, "list(p = -0.5, n = 10)", "x: " + prop},
      {wish, r + ", k = 0)", "W[1,1]: Invalid value for node expected positive value."},
  };
  for (const auto& [model, data, report] : rows) {
    Build(model, data);
    EXPECT_EQ(Fails(), report) << model << " " << data;
  }
  Build(wish, r + ", k = 2.5)");
  Passes();
  EXPECT_EQ(Graph_Own(Node("k")), 2.5);  // doubled for the test only
}

TEST_F(AnalyseTest, ValuesNoIntegerHoldsMissingPriorsCodeAndParameters) {
  Build("var y; { y ~ dpois(2) }", "list(y = 1)");
  Graph_Own(Node("y")) = 1.0E+300;  // whole, and far beyond every integer type
  Passes();
  for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    Graph_Own(Node("y")) = v;
    EXPECT_EQ(Fails(), "y: Invalid value for node expected an integer value.") << v;
  }
  Graph_Own(Node("y")) = -1.0E+300;
  EXPECT_EQ(Fails(), "y: Node value is less then lower allowed value");
  // A missing prior, code on a stochastic node, a missing parameter.
  Build("var y, mu; { y ~ dnorm(mu, 1) }", "list(y = 0.5)", "list(mu = 0)");
  Passes();  // nothing links mu to y yet
  Graph_AddNonUnique(Node("mu")->likelihood, Node("y"));
  EXPECT_EQ(Fails(), "mu: No prior specified for node");
  Build("var x; { x ~ dnorm(0, 1) }", "list(x = 0.5)");
  Node("x")->stack = {Determ_push, Determ_end};
  EXPECT_EQ(Fails(), "x: Node already defined.");
  Build("var x; { x ~ dnorm(0, 1) }");
  Node("x")->parents[1] = nullptr;
  EXPECT_EQ(Fails(), "x: Node is not defined");
}

}  // namespace
