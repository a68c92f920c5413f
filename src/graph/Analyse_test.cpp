#include "graph/Analyse.h"

#include <cmath>
#include <limits>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"

namespace {

// A failing check ends a child process, which leaves its flag here on the way
// out, so the parent can see it was set before the report.
void SaveFlag() { test::WriteFile("flag", Analyse_error ? "1" : "0"); }

class AnalyseTest : public test::FrontEnd {
 protected:
  // Compiles a model through node generation, with data and initial values.
  void Build(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    Reset();
    InitCodeGen();
    InitDeterm();
    InitAnalyse();
    Parser_Tree* head = Compile(WithFiles(model, data, inits));
    ASSERT_NE(head, nullptr) << Console();
    CodeGen_WriteGraph(head);
    ASSERT_FALSE(CodeGen_error) << Console();
  }

  static Graph_Node* Node(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }

  void Passes() {
    Analyse_CheckModel();
    EXPECT_FALSE(Analyse_error);
  }

  // "node: text" of the report of a failing check, which must end the run
  // with the status of a failed run and the flag set.
  std::string Fails(void (*check)() = Analyse_CheckModel) {
    StartConsole();
    EXPECT_EXIT(
        {
          std::atexit(SaveFlag);
          check();
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(test::ReadFile("flag"), "1");
    const std::string log = Console();
    const size_t node = log.find(" for node: "), text = log.find(" -- error  -- \n");
    if (node == std::string::npos || text == std::string::npos) return "no report: " + log;
    const size_t nodeEnd = log.find('\n', node), textEnd = log.find('\n', text + 15);
    return log.substr(node + 11, nodeEnd - node - 11) + ": " + log.substr(text + 15, textEnd - text - 15);
  }
};

// {model, data, initial values, report}; no report: the check passes.
TEST_F(AnalyseTest, ParameterValueAndBoundChecks) {
  const std::string range = "Value of parameter outside range 1.0E-10 ..1.0E+10.",
                    big = "Invalid value for parameter too big or too small.",
                    prop = "Invalid value for parameter not in range 0.0 to 1.0.",
                    integer = "Invalid value for node expected an integer value.",
                    low = "Node value is less then lower allowed value", high = "Node value is greater than allowed upper value",
                    unif = "Node value is outside the limits of its uniform distribution", bern = "Node value must be 0 or 1",
                    below = "Node value is less than lower bound.", above = "Node value is greater than upper bound.";
  const std::string bin = "var x, p, n; { x ~ dbin(p, n) }", pois = "var y, lambda; { y ~ dpois(lambda) lambda ~ dgamma(1, 1) }",
                    cat = "var y, p[3]; { y ~ dcat(p[]) }", u2 = "var y[2]; { for (i in 1:2) { y[i] ~ dunif(0, 1) } }",
                    bern1 = "var y; { y ~ dbern(0.5) }", half = "var x; { x ~ dnorm(0, 1) I(0, ) }",
                    cut = "var x; { x ~ dnorm(0, 1) I(-1, 1) }", upto = "var x; { x ~ dnorm(0, 1) I(, 2) }",
                    pois14 = "var y; { y ~ dpois(3) I(1, 4) }", moving = "var x, lo; { lo ~ dunif(0, 2) x ~ dexp(1) I(lo, ) }";
  const std::string rows[][4] = {
      // 1.0E-15 lies above the lower limit 1.0E-20.
      {"var tau, y; { tau ~ dgamma(0.001, 0.001) y ~ dnorm(0, 1.0E-15) }", "", "list(tau = 1)", ""},
      {"var x; { x ~ dnorm(0, 0) }", "", "", "x: " + range}, {"var x; { x ~ dnorm(0, 1.0E-21) }", "", "", "x: " + range},
      {"var x; { x ~ dnorm(2.0E+10, 1) }", "", "", "x: " + big}, {"var x; { x ~ dnorm(-2.0E+10, 1) }", "", "", "x: " + big},
      {"var x; { x ~ dpar(0, 1) }", "", "", "x: " + big},
      {"var x, s; { x ~ dgum(0, s) s ~ dgamma(1, 1) }", "", "list(s = 1)", "x: Invalid parameter value must be fixed."},
      {bin, "list(p = 1.5, n = 10)", "", "x: " + prop}, {bin, "list(p = -0.5, n = 10)", "", "x: " + prop},
      {bin, "list(p = 1.0, n = 10)", "", ""}, {bin, "list(x = 11, p = 0.3, n = 10)", "", "x: " + high},
      {bin, "list(x = 2.5, p = 0.3, n = 10)", "", "x: " + integer}, {pois, "list(y = 2.5)", "", "y: " + integer},
      {pois, "list(y = -1)", "list(lambda = 1)", "y: " + low},
      {cat, "list(y = 4, p = c(0.2, 0.3, 0.5))", "", "y: " + high}, {cat, "list(y = 3, p = c(0.2, 0.3, 0.5))", "", ""},
      {"var y; { y ~ dgeom(0.5) }", "list(y = 0)", "", "y: " + low},  // counts trials, from 1
      {u2, "list(y = c(0.0, 1.0))", "", ""},  // both limits belong to the support
      {u2, "list(y = c(0.5, 1.5))", "", "y[2]: " + unif}, {u2, "list(y = c(0.5, -0.5))", "", "y[2]: " + unif},
      {bern1, "list(y = 2)", "", "y: " + bern}, {bern1, "list(y = -1)", "", "y: " + bern},
      {bern1, "list(y = 0.5)", "", "y: " + integer},
      {"var y[2]; { for (i in 1:2) { y[i] ~ dbern(0.5) } }", "list(y = c(0, 1))", "", ""},
      {"var y; { y ~ dpow(2) }", "list(y = 0.5)", "", ""}, {"var y; { y ~ dpow(0) }", "list(y = 0.5)", "", "y: " + range},
      {"var y; { y ~ dpow(2) }", "list(y = 1.5)", "", "y: Invalid value for node not in range 0.0 to 1.0."},
      // Parameters are checked before the value, and nodes by number.
      {"var a, b; { a ~ dnorm(0, 0) b ~ dnorm(0, 0) }", "list(a = 1.0E+11)", "", "a: " + range},
      {"var a, b; { b ~ dnorm(0, 1) a ~ dnorm(0, 1) }", "list(a = 1.0E+11, b = 1.0E+11)", "",
       "a: Invalid value for node too big or too small."},
      // Bounds: each end belongs to the support; the distribution's own
      // support is checked first; an initial value is held to them too.
      {half, "list(x = -5)", "", "x: " + below}, {half, "list(x = 0)", "", ""}, {half, "list(x = 5)", "", ""},
      {upto, "list(x = 3)", "", "x: " + above}, {upto, "list(x = -30)", "", ""},
      {cut, "list(x = 1.5)", "", "x: " + above}, {cut, "list(x = -1.5)", "", "x: " + below}, {cut, "list(x = 1)", "", ""},
      {pois14, "list(y = 0)", "", "y: " + below}, {pois14, "list(y = 5)", "", "y: " + above},
      {pois14, "list(y = 4)", "", ""}, {pois14, "list(y = -1)", "", "y: " + low},
      {"var y; { y ~ dbin(0.5, 10) I(2, ) }", "list(y = 1)", "", "y: " + below},
      {"var y; { y ~ dgamma(1, 1) I(, 3) }", "list(y = 4)", "", "y: " + above},
      {"var x, lo; { x ~ dnorm(0, 1) I(lo, ) }", "list(x = 1, lo = 2)", "", "x: " + below},
      {moving, "list(x = 1)", "list(lo = 1.5)", "x: " + below}, {moving, "list(x = 1)", "list(lo = 0.5)", ""},
      {half, "", "list(x = -5)", "x: " + below}, {moving, "", "list(x = 0.2, lo = 0.5)", "x: " + below},
      {"var y[2]; { for (i in 1:2) { y[i] ~ dnorm(0, 1) I(0, 1) } }", "list(y = c(0.5, 2))", "", "y[2]: " + above},
  };
  for (const auto& [model, data, inits, report] : rows) {
    Build(model, data, inits);
    if (report.empty())
      Passes();
    else
      EXPECT_EQ(Fails(), report) << model << " " << data << " " << inits;
  }
}

TEST_F(AnalyseTest, ValuesThatNoIntegerTypeHoldsAreRefusedOrAcceptedSafely) {
  Build("var y; { y ~ dpois(2) }", "list(y = 1)");
  Graph_Own(Node("y")) = 1.0E+300;  // whole, and far beyond every integer type
  Passes();
  for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    Graph_Own(Node("y")) = v;
    EXPECT_EQ(Fails(), "y: Invalid value for node expected an integer value.") << v;
  }
  Graph_Own(Node("y")) = -1.0E+300;
  EXPECT_EQ(Fails(), "y: Node value is less then lower allowed value");
}

TEST_F(AnalyseTest, WishartDegreesOfFreedomMayBeHalfWhole) {
  const std::string model = "var W[2, 2], R[2, 2], k; { W[, ] ~ dwish(R[, ], k) }";
  const std::string r = "list(R = structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2))";
  Build(model, r + ", k = 2.5)");
  Passes();
  EXPECT_EQ(Graph_Own(Node("k")), 2.5);  // doubled for the test only
  Build(model, r + ", k = 2.3)");
  EXPECT_EQ(Fails(), "k: Invalid value for parameter expected an integer value.");  // k itself
  Build(model, r + ", k = 0)");
  EXPECT_EQ(Fails(), "W[1,1]: Invalid value for node expected positive value.");
  Build("var W[2, 2], R[2, 2]; { W[, ] ~ dwish(R[, ], 2.3) }", r + ")");
  EXPECT_NE(Fails().find(": Invalid value for parameter expected an integer value."), std::string::npos);
}

// A block is drawn as a whole, so one partly observed is refused, named by
// its first component, by the check on its own and by the whole check.
TEST_F(AnalyseTest, BlocksPartlyObservedAreRefused) {
  const std::string mixed = "Multiviate  node contains both data and sampling components.";
  const std::string mnorm = "var y[3], mu[3], T[3, 3]; { y[1:3] ~ dmnorm(mu[], T[, ]) }",
                    t = ", mu = c(0, 0, 0), T = structure(.Data = c(1, 0, 0, 0, 1, 0, 0, 0, 1), .Dim = c(3, 3)))",
                    multi = "var x[3], p[3], n; { x[1:3] ~ dmulti(p[], n) }", p = ", p = c(0.2, 0.3, 0.5), n = 6)";
  const std::string rows[][3] = {
      {mnorm, "list(y = c(1, NA, 3)" + t, "y[1]: " + mixed}, {mnorm, "list(y = c(NA, 2, NA)" + t, "y[1]: " + mixed},
      {mnorm, "list(y = c(NA, NA, 3)" + t, "y[1]: " + mixed}, {mnorm, "list(y = c(1, 2, 3)" + t, ""},
      {mnorm, "list(y = c(NA, NA, NA)" + t, ""}, {multi, "list(x = c(1, NA, 3)" + p, "x[1]: " + mixed},
      {"var p[3], a[3]; { p[1:3] ~ ddirch(a[]) }", "list(p = c(0.2, NA, NA), a = c(1, 1, 1))", "p[1]: " + mixed},
      {multi, "list(x = c(1, 2, 3)" + p, ""},
      {"var W[2, 2], R[2, 2]; { W[, ] ~ dwish(R[, ], 3) }",
       "list(W = structure(.Data = c(1, 0, NA, 1), .Dim = c(2, 2)), R = structure(.Data = c(1, 0, 0, 1), .Dim = c(2, 2)))",
       "W[1,1]: " + mixed},
      // Scalar nodes drawn in a loop are separate nodes: some may be data.
      {"var y[3]; { for (i in 1:3) { y[i] ~ dnorm(0, 1) } }", "list(y = c(1, NA, 3))", ""},
  };
  for (const auto& [model, data, report] : rows) {
    Build(model, data);
    if (report.empty()) {
      Analyse_CheckBlocks();
      EXPECT_FALSE(Analyse_error);
      Passes();
    } else {
      EXPECT_EQ(Fails(Analyse_CheckBlocks), report) << model << " " << data;
      EXPECT_EQ(Fails(), report) << model << " " << data;
    }
  }
}

TEST_F(AnalyseTest, MissingPriorCodeOrderAndMissingParameters) {
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
