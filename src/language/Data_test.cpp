#include "language/Data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "FrontEnd.h"

namespace {

const double NA = std::nan("");

// One read. In text, "|" marks where an error is reported: the report's "$"
// stands under the character after it.
struct Case {
  std::string text;
  int error = -1;  // the error number reported; -1: none
  std::vector<std::pair<const char*, double>> values = {};  // NA: the element has no node
  std::string warned = "";  // the first word of each warning, in turn
  const char* rect = "";    // the rectangular form, reading these one-letter variables
  int rows = 3, iteration = 0, seed = 314159;
};

class DataTest : public test::FrontEnd {
 protected:
  // Declares the variables afresh, their nodes still without values.
  void Declare() {
    Reset();
    ASSERT_NE(Compile("model m; const N = 3; var x[3], w[2, 3], z[2, 3, 4], s, r[3, 2]; { }"), nullptr);
    for (int32_t n = 0; n < Graph_numDeclaredNodes; ++n) nodeOf_[SymTabs_NodeText(n)] = n;
    StartConsole();
  }
  void Read(const Case& c, int32_t kind = Graph_data) {
    test::WriteFile("d.txt", c.text);
    Files_Handle h = Files_Old("d.txt");
    Errors_SetErrorFile("d.txt", h);
    if (*c.rect == 0) return Data_ReadSFile(kind, iteration_, seed_, h);
    std::vector<SymTabs_Name*> names;
    for (const char* v = c.rect; *v != 0; ++v) names.push_back(SymTabs_FindName(std::string(1, *v)));
    Data_ReadRectangularFile(kind, names, c.rows, h);
  }
  double Value(const std::string& label) {
    const Graph_Node* n = Graph_nodes.at(nodeOf_.at(label));
    return n != nullptr ? Graph_Own(n) : NA;
  }
  int32_t iteration_ = 0, seed_ = 314159;
  std::map<std::string, int32_t> nodeOf_;
};

TEST_F(DataTest, TextsGiveValuesOrAnErrorAtTheOffendingToken) {
  std::string byRow, byColumn;  // z[i,j,k]: 1 to 24 row by row; 100 i + 10 j + k column by column
  for (int k = 1; k <= 24; ++k) byRow += (k > 1 ? ", " : "") + std::to_string(k);
  for (int k = 1; k <= 4; ++k)
    for (int j = 1; j <= 3; ++j)
      for (int i = 1; i <= 2; ++i) byColumn += (byColumn.empty() ? "" : ", ") + std::to_string(100 * i + 10 * j + k);
  const std::string w6 = "list(w = structure(.Data = c(1, 2, 3, 4, 5, 6)";
  const std::string c6 = "list(w = structure(c(1, 2, 3, 4, 5, 6), ";
  std::vector<Case> cases = {
      {"list(N = 3, x = c(1.5, NA, -2), s = 0.25)", -1, {{"x[1]", 1.5}, {"x[2]", NA}, {"x[3]", -2}, {"s", 0.25}}},
      {"list(w = structure(.Data = c(1, 2, 3, 4, 5, 6), .Dim = c(2, 3)))", -1, {{"w[1,3]", 3}, {"w[2,1]", 4}}},
      // Fewer extents are compared as far as they go.
      {"list(z = structure(.Data = c(" + byRow + "), .Dim = c(2, 3, 4)))", -1, {{"z[2,1,3]", 15}, {"z[2,3,4]", 24}}},
      {"list(z = structure(.Data = c(" + byRow + "), .Dim = c(2)))", -1, {{"z[2,1,3]", 15}}},
      {"list(z = structure(c(" + byColumn + "), dim = 2:4))", -1,
       {{"z[2,1,3]", 213}, {"z[1,3,2]", 132}, {"z[2,3,4]", 234}}},
      {"list(z = structure(c(" + byColumn + "), dim = c(2L, 3L, 4L)))", -1, {{"z[2,1,3]", 213}, {"z[2,3,4]", 234}}},
      // Names R attaches to rows and columns are passed over without a word.
      {"list(w = structure(c(11, 21, 12, 22, 13, 23), dim = 2:3,\n dimnames = list(NULL, c(\"a\"))), s = 4)", -1,
       {{"w[2,3]", 23}, {"s", 4}}},
      {"list(w = structure(c(11, NA, 12, 22, 13, 23), dim = 2:3))", -1, {{"w[2,1]", NA}, {"w[1,2]", 12}}},
      {"list(iteration = 1200, seed = 77)", -1, {}, "", "", 3, 1200, 77},
      // Entries the model does not declare are skipped, each named once; commas and the end need no checking.
      {"list(N = 3, deaths = c(1, 2), y = structure(.Data = c(9, 9, 9, 9), .Dim = c(2, 2)),\n"
       "  q = c(NA, 3), flag = TRUE, x = c(5, 6, 7) seed = 5, s = 1",
       -1, {{"x[3]", 7}, {"s", 1}}, "deaths y q flag", "", 3, 0, 5},
      // Numbers as another program writes them.
      {"list(x = c(1e5, -50L, 1e5L), s = -1e5, iteration = 2e3, seed = 77L)", -1,
       {{"x[1]", 1e5}, {"x[2]", -50}, {"x[3]", 1e5}, {"s", -1e5}}, "", "", 3, 2000, 77},
      {"list(w = structure(.Data = c(1e+05, 1e-3, 2E3, 15e-1, 1.5e2, 2.5E-3), .Dim = c(2L, 3L)), s = 1e10)", -1,
       {{"w[1,1]", 1e5}, {"w[1,2]", 1e-3}, {"w[1,3]", 2000}, {"w[2,1]", 1.5}, {"w[2,3]", 2.5e-3}, {"s", 1e10}}},
      // The rectangular form: one row a line, each variable's columns in turn; only layout may follow.
      {"# x r[,1] r[,2]\n1 11\t-12.5\r\n2, NA 22\n3 31 3.2e1\n", -1,
       {{"x[1]", 1}, {"r[1,1]", 11}, {"r[1,2]", -12.5}, {"r[2,1]", NA}, {"x[3]", 3}, {"r[3,2]", 32}}, "", "xr"},
      {"1e2\n2L\n-3e-1\nend of data\n", -1, {{"x[1]", 100}, {"x[2]", 2}, {"x[3]", -0.3}}, "expected", "x"},
      {"1\n2\n3\n\n  \r\n\n\x1a", -1, {{"x[3]", 3}}, "", "x"},
      {"1\t\n", -1, {{"x[1]", 1}}, "expected", "x", 1},  // a tab is not layout
      {"1 2 3\n4 5 6\n7 +| 9\n", 23, {{"x[3]", 7}, {"r[3,1]", NA}}, "", "xr"},
      {"1 2 3\n|", 23, {}, "", "xr"},  // the file ends early
      // Errors: every one stops the reading where it is met.
      {"list| s = 1", 35}, {"list(s 3|)", 15}, {"list(s = +|1)", 23}, {"list(s = 1, s = 2|)", 22},
      {"list(x = 5|)", 25}, {"list(x = structure|(.Data = c(1, 2, 3), .Dim = c(3)))", 25},
      {"list(x = c(1, 2, 3, 4)|, s = 1)", 24, {{"x[3]", 3}, {"s", NA}}}, {"list(x = c(1, 2, 3 s|)", 0},
      {"list(seed = -|77)", 34}, {"list(iteration = 2e3x|)", 34}, {"list(s = 1, q|_1 = 2)", 34},
      // Text run on to a number is never cut to the number in front of it.
      {"list(s = 1.5.3|)", 23}, {"list(s = 50Lx|)", 23}, {"list(x = c(1, 2.5L|, 3))", 23}, {"list(s = 2e|)", 23},
      {"list(w = structure .|Data", 26}, {"list(w = structure(Data| = c(1)", 27},
      {"list(w = structure(.| Data = c(1)", 28}, {"list(w = structure(.Dat| = c(1)", 29},
      {"list(w = structure(.Data = C|(1)", 30}, {w6 + " .|Dim = c(2, 3)))", 2}, {w6 + ", Dim| = c(2, 3)))", 27},
      {w6 + ", .Dom| = c(2, 3)))", 31}, {w6 + ", dim| = c(2, 3)))", 27}, {w6 + ", .Dim = c(2, 3.0|)))", 32},
      {w6 + ", .Dim = c(2, 3K|)))", 32}, {w6 + ", .Dim = c(3|, 2)))", 33}, {w6 + ", .Dim = c(2, 3, 1|)))", 33},
      {w6 + ", .Dim = c(2, 3;|", 2},
      // R's own form needs every extent to know where each value goes.
      {c6 + "dim = c(2)|))", 33}, {c6 + "dim = 2:4|))", 33}, {c6 + "dim = 2 3|))", 30}, {c6 + "dims| = 2:3))", 27},
      {c6 + ".Data| = 2:3))", 31}, {c6 + "dim = 2:3, dimnames = list(NULL|", 0},
      {"list(w = structure(c(1, 2, 3, 4, 5)|, dim = 2:3))", 24}, {"list(\n  x = c(1,\n       2)|)\n", 24},
  };
  for (Case c : cases) {
    const size_t mark = c.text.find('|');
    if (mark != std::string::npos) c.text.erase(mark, 1);
    Declare();
    iteration_ = 0, seed_ = 314159;
    Read(c);
    const std::string log = Console(), &in = c.text;
    EXPECT_EQ(Data_error, c.error >= 0) << in << "\n" << log;
    if (c.error >= 0) {
      const size_t at = log.find(" -- error  -- \n") + 15;
      EXPECT_EQ(log.substr(at, log.find('\n', at) - at), Errors_String(c.error)) << in;
      int line = 0, column = 0;
      std::sscanf(log.c_str() + log.find(" at line "), " at line %d column %d", &line, &column);
      const size_t start = mark == 0 ? 0 : in.rfind('\n', mark - 1) + 1;
      EXPECT_EQ(line, 1 + std::count(in.begin(), in.begin() + mark, '\n')) << in;
      EXPECT_EQ(column, mark - start + 1) << in;
    }
    for (auto [label, want] : c.values) {
      if (std::isnan(want))
        EXPECT_TRUE(std::isnan(Value(label))) << in << " " << label;
      else
        EXPECT_EQ(Value(label), want) << in << " " << label;
    }
    std::string warned;
    for (size_t at = log.find("Warning -- "); at != std::string::npos; at = log.find("Warning -- ", at + 1))
      warned += (warned.empty() ? "" : " ") + log.substr(at + 11, log.find(' ', at + 11) - at - 11);
    EXPECT_EQ(warned, c.warned) << in;
    EXPECT_EQ(iteration_, c.iteration) << in;
    EXPECT_EQ(seed_, c.seed) << in;
  }
}

// Initial values make stochastic nodes; a node that holds a value takes no other.
TEST_F(DataTest, InitialValuesMeetNoNodeThatHoldsAValue) {
  Declare();
  Read({"list(x = c(1, NA, 3))"});
  Read({"list(s = 0.5, x = c(NA, 2, 3))"}, Graph_stochastic);
  EXPECT_TRUE(Data_error);
  EXPECT_EQ(Graph_nodes[nodeOf_["s"]]->kind, Graph_stochastic);
  EXPECT_EQ(Graph_nodes[nodeOf_["x[2]"]]->kind, Graph_stochastic);
  EXPECT_EQ(Graph_nodes[nodeOf_["x[3]"]]->kind, Graph_data);
  EXPECT_EQ(Value("x[3]"), 3.0);
}

}  // namespace
