#include "language/Data.h"

#include <cmath>
#include <map>
#include <vector>

#include "FrontEnd.h"

namespace {

const double NA = std::nan("");

// One read; the compile-error table in Parser_test holds where errors are reported.
struct Case {
  std::string text;
  std::vector<std::pair<const char*, double>> values = {};  // NA: the element has no node
  std::string warned = "";  // the first word of each warning, in turn
  const char* rect = "";    // the rectangular form, reading these one-letter variables
  int rows = 3, iteration = 0, seed = 314159;
  bool error = false;
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

// The orders of R's and the .Data form, with every extent, are in the
// scenario data_structure_orders, the numbers as another program writes them
// in data_number_forms.
TEST_F(DataTest, TextsGiveValuesIterationAndSeed) {
  std::string byRow;  // z[i,j,k]: 1 to 24 row by row
  for (int k = 1; k <= 24; ++k) byRow += (k > 1 ? ", " : "") + std::to_string(k);
  const Case cases[] = {
      {"list(N = 3, x = c(1.5, NA, -2), s = 0.25, iteration = 1200, seed = 77)",
       {{"x[1]", 1.5}, {"x[2]", NA}, {"x[3]", -2}, {"s", 0.25}}, "", "", 3, 1200, 77},
      // Fewer extents are compared as far as they go.
      {"list(z = structure(.Data = c(" + byRow + "), .Dim = c(2)))", {{"z[2,1,3]", 15}, {"z[2,3,4]", 24}}},
      // Names R attaches to rows and columns are passed over without a word.
      {"list(w = structure(c(11, 21, 12, 22, 13, 23), dim = 2:3,\n dimnames = list(NULL, c(\"a\"))), s = 4)",
       {{"w[2,3]", 23}, {"s", 4}}},
      {"list(w = structure(c(11, NA, 12, 22, 13, 23), dim = 2:3))", {{"w[2,1]", NA}, {"w[1,2]", 12}}},
      // Entries the model does not declare are skipped, each named once; commas and the end need no checking.
      {"list(N = 3, deaths = c(1, 2), y = structure(.Data = c(9, 9, 9, 9), .Dim = c(2, 2)),\n"
       "  q = c(NA, 3), flag = TRUE, x = c(5, 6, 7) seed = 5, s = 1",
       {{"x[3]", 7}, {"s", 1}}, "deaths y q flag", "", 3, 0, 5},
      {"list(x = c(1e5, -50L, 1e5L), seed = 77L)", {{"x[2]", -50}, {"x[3]", 1e5}}, "", "", 3, 0, 77},
      // The rectangular form: one row a line, each variable's columns in turn; only layout may follow.
      {"# x r[,1] r[,2]\n1 11\t-12.5\r\n2, NA 22\n3 31 3.2e1\n",
       {{"x[1]", 1}, {"r[1,1]", 11}, {"r[1,2]", -12.5}, {"r[2,1]", NA}, {"x[3]", 3}, {"r[3,2]", 32}}, "", "xr"},
      {"1e2\n2L\n-3e-1\nend of data\n", {{"x[1]", 100}, {"x[2]", 2}, {"x[3]", -0.3}}, "expected", "x"},
      {"1\n2\n3\n\n  \r\n\n\x1a", {{"x[3]", 3}}, "", "x"},
      {"1\t\n", {{"x[1]", 1}}, "expected", "x", 1},  // a tab is not layout
      // An error stops the reading where it is met.
      {"1 2 3\n4 5 6\n7 + 9\n", {{"x[3]", 7}, {"r[3,1]", NA}}, "", "xr", 3, 0, 314159, true},
      {"list(x = c(1, 2, 3, 4), s = 1)", {{"x[3]", 3}, {"s", NA}}, "", "", 3, 0, 314159, true},
  };
  for (const Case& c : cases) {
    Declare();
    iteration_ = 0, seed_ = 314159;
    Read(c);
    const std::string log = Console(), &in = c.text;
    EXPECT_EQ(Data_error, c.error) << in << "\n" << log;
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

}  // namespace
