#include "language/Data.h"

#include <cmath>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "store/Graph.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Scanner.h"

namespace {

class DataTest : public test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    InitSymTabs();
    InitGraph();
    InitErrors();
    InitMessages();
    InitScanner();
    InitData();
    StartConsole();
  }

  // Declares a variable, extents written first index first, with its nodes
  // numbered after those declared before it.
  SymTabs_Name* Declare(const std::string& name, std::vector<int32_t> extents) {
    SymTabs_Name r{.name = name, .numIndices = static_cast<int32_t>(extents.size())};
    int32_t size = 1;
    for (size_t i = 0; i < extents.size(); ++i) {
      r.dims[extents.size() - 1 - i] = extents[i];
      size *= extents[i];
    }
    r.firstNode = next_;
    r.lastNode = next_ + size - 1;
    next_ += size;
    return SymTabs_StoreName(r);
  }

  Files_Handle Open(const std::string& text) {
    if (Graph_numDeclaredNodes != next_) Graph_AllocateNodes(next_);
    test::WriteFile("d.txt", text);
    Files_Handle h = Files_Old("d.txt");
    Errors_SetErrorFile("d.txt", h);
    return h;
  }
  void List(const std::string& text, int32_t kind = Graph_data) {
    Data_ReadSFile(kind, iteration_, seed_, Open(text));
  }
  void Rectangular(const std::string& text, const std::vector<SymTabs_Name*>& names, int32_t rows) {
    Data_ReadRectangularFile(Graph_data, names, rows, Open(text));
  }
  // A missing node reads as NaN, which equals no expected value.
  static double Value(int32_t node) {
    const Graph_Node* n = Graph_nodes.at(node);
    return n != nullptr ? Graph_Own(n) : std::nan("");
  }
  bool Logged(const std::string& s) { return Console().find(s) != std::string::npos; }
  static std::string At(int line, int column) {
    auto field5 = [](int n) { return (std::to_string(n) + "    ").substr(0, 5); };
    return " at line " + field5(line) + " column " + field5(column);
  }

  int32_t next_ = 0, iteration_ = 0, seed_ = 314159;
};

// ---- List format: values, nodes, keys and entries passed over

TEST_F(DataTest, ListCreatesNodesForNumbersAndNoneForNA) {
  SymTabs_StoreName({.kind = SymTabs_constant, .name = "N", .value = 3});
  Declare("x", {3});
  Declare("a", {2});
  Declare("s", {});
  List("list(N = 3, x = c(1.5, NA, -2))");
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Graph_nodes[1], nullptr);
  EXPECT_EQ(Value(0), 1.5);
  EXPECT_EQ(Value(2), -2.0);
  EXPECT_EQ(Graph_nodes[2]->label, 2);
  EXPECT_EQ(Graph_nodes[2]->kind, Graph_data);
  // Initial values get stochastic nodes; a scalar takes a bare value.
  List("list(s = 0.25, a = c(-1, 7))", Graph_stochastic);
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(5), 0.25);
  EXPECT_EQ(Value(3), -1.0);
  EXPECT_EQ(Value(4), 7.0);
  EXPECT_EQ(Graph_nodes[5]->kind, Graph_stochastic);
}

TEST_F(DataTest, StructureFillsRowMajor) {
  Declare("x", {2, 3});
  Declare("z", {2, 3, 4});
  List("list(x = structure(.Data = c(1, 2, 3, 4, 5, 6), .Dim = c(2, 3)))");
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(2), 3.0);  // x[1,3]
  EXPECT_EQ(Value(3), 4.0);  // x[2,1]
  std::string values;
  for (int k = 1; k <= 24; ++k) values += (k > 1 ? ", " : "") + std::to_string(k);
  for (const char* dim : {"2, 3, 4", "2"}) {  // fewer extents are compared as far as they go
    InitGraph();
    List("list(z = structure(.Data = c(" + values + "), .Dim = c(" + dim + ")))");
    EXPECT_FALSE(Data_error) << dim;
    EXPECT_EQ(Value(6 + 14), 15.0) << dim;  // z[2,1,3]: (1 * 3 + 0) * 4 + 2
    EXPECT_EQ(Value(6 + 23), 24.0) << dim;
  }
}

// R writes an array without .Data =, column by column: the first index
// varies fastest. Whatever the form of its extents, each element must land
// where the row-by-row form puts it.
TEST_F(DataTest, StructureWithoutDataKeyFillsColumnMajor) {
  Declare("x", {2, 3});
  Declare("z", {2, 3, 4});
  Declare("s", {});
  const char* forms[] = {"dim = c(2, 3)", "dim = c(2L, 3L)", "dim = 2:3", ".Dim = 2:3", ".Dim = c(2L, 3L)"};
  for (const char* form : forms) {
    InitGraph();
    List(std::string("list(x = structure(c(11, 21, 12, 22, 13, 23), ") + form + "))");
    EXPECT_FALSE(Data_error) << form;
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 3; ++j) EXPECT_EQ(Value((i - 1) * 3 + (j - 1)), 10 * i + j) << form;
  }
  // z[i,j,k] = 100 i + 10 j + k, written with i fastest, then j, then k.
  std::string values;
  for (int k = 1; k <= 4; ++k)
    for (int j = 1; j <= 3; ++j)
      for (int i = 1; i <= 2; ++i) values += (values.empty() ? "" : ", ") + std::to_string(100 * i + 10 * j + k);
  for (const char* dim : {"2:4", "c(2L, 3L, 4L)"}) {
    InitGraph();
    List("list(z = structure(c(" + values + "), dim = " + dim + "))");
    EXPECT_FALSE(Data_error) << dim;
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 3; ++j)
        for (int k = 1; k <= 4; ++k)
          EXPECT_EQ(Value(6 + ((i - 1) * 3 + (j - 1)) * 4 + (k - 1)), 100 * i + 10 * j + k) << dim;
  }
  // Names R attaches to the rows and columns are passed over without a word.
  InitGraph();
  StartConsole();
  List("list(x = structure(c(11, 21, 12, 22, 13, 23), dim = 2:3,\n"
       "  dimnames = list(NULL, c(\"a\", \"b\", \"c\"))), s = 4)");
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(5), 23.0);
  EXPECT_EQ(Value(30), 4.0);
  EXPECT_FALSE(Logged("Warning")) << Console();
  // NA leaves its element without a node, wherever the column order puts it.
  InitGraph();
  List("list(x = structure(c(11, NA, 12, 22, 13, 23), dim = 2:3))");
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Graph_nodes[3], nullptr);  // x[2,1]
  EXPECT_EQ(Value(1), 12.0);
}

TEST_F(DataTest, IterationAndSeedAreReplaced) {
  List("list(iteration = 1200, seed = 77)");
  EXPECT_EQ(iteration_, 1200);
  EXPECT_EQ(seed_, 77);
  List("list(seed = -77)");
  EXPECT_TRUE(Data_error);
  EXPECT_EQ(seed_, 77);
  List("list(seed = 5)");  // a new read starts without the old error
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(seed_, 5);
}

TEST_F(DataTest, UndeclaredVariablesAndLooseListsArePassedOver) {
  Declare("x", {2});
  List("list(y = structure(.Data = c(9, 9, 9, 9), .Dim = c(2, 2)), w = c(NA, 3), x = c(5, 6)");
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(0), 5.0);
  EXPECT_EQ(Value(1), 6.0);
  InitGraph();
  List("list(x = c(1, 2) seed = 5");  // no comma, no closing parenthesis
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(seed_, 5);
  EXPECT_EQ(Value(1), 2.0);
}

TEST_F(DataTest, RefusedValuesLeaveTheNodesAlone) {
  Declare("x", {3});
  Declare("y", {});
  List("list(x = c(1, 2, 3, 4))");  // beyond the declared size
  EXPECT_TRUE(Data_error);
  EXPECT_TRUE(Logged("Size of file object different to declared size."));
  EXPECT_EQ(Value(2), 3.0);
  EXPECT_EQ(Graph_nodes[3], nullptr);  // y is not touched
  InitGraph();
  List("list(x = c(1, NA, 3))");
  ASSERT_FALSE(Data_error);
  List("list(x = c(NA, 2, 3))", Graph_stochastic);  // a node that has a value already
  EXPECT_TRUE(Data_error);
  EXPECT_TRUE(Logged("Data or initial value already read for node."));
  EXPECT_EQ(Graph_nodes[1]->kind, Graph_stochastic);
  EXPECT_EQ(Graph_nodes[2]->kind, Graph_data);
  EXPECT_EQ(Value(2), 3.0);
}

TEST_F(DataTest, NumbersWithAnExponentOrAnIntegerSuffixAreReadWhole) {
  Declare("s", {});
  Declare("v", {3});
  Declare("w", {2, 3});
  const std::pair<const char*, double> scalars[] = {
      {"1e5", 1e5},  {"1e+05", 1e5}, {"1e-3", 1e-3}, {"2E3", 2000}, {"-1e5", -1e5}, {"50L", 50},
      {"-50L", -50}, {"1e5L", 1e5},  {"1e10", 1e10}, {"15e-1", 1.5}, {"1.5e2", 150}, {"2.5E-3", 2.5e-3}};
  for (auto [text, value] : scalars) {
    InitGraph();
    List(std::string("list(s = ") + text + ")");
    EXPECT_FALSE(Data_error) << text;
    EXPECT_EQ(Value(0), value) << text;
  }
  // As another program writes lists: suffixed integers and suffixed extents.
  InitGraph();
  List("list(v = c(1L, NA, 3e2),\n w = structure(.Data = c(1e0, 2L, 3, 4, 5e+00, 6L), .Dim = c(2L, 3L)),"
       " iteration = 2e3, seed = 77L)");
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(1), 1.0);  // v[1]
  EXPECT_EQ(Graph_nodes[2], nullptr);
  EXPECT_EQ(Value(3), 300.0);
  EXPECT_EQ(Value(5), 2.0);  // w[1,2]
  EXPECT_EQ(Value(8), 5.0);  // w[2,2]
  EXPECT_EQ(Value(9), 6.0);
  EXPECT_EQ(iteration_, 2000);
  EXPECT_EQ(seed_, 77);
  // The rectangular format reads numbers the same way.
  InitGraph();
  std::vector<SymTabs_Name*> names = {SymTabs_FindName("v")};
  Rectangular("1e2\n2L\n-3e-1\n", names, 3);
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(1), 100.0);
  EXPECT_EQ(Value(2), 2.0);
  EXPECT_EQ(Value(3), -0.3);
}

TEST_F(DataTest, AnUndeclaredEntryIsSkippedWithAWarningNamingIt) {
  SymTabs_StoreName({.kind = SymTabs_constant, .name = "N", .value = 2});
  Declare("r", {2});
  Declare("s", {});
  const std::string text =
      "list(N = 2, deaths = c(1, 2), y = structure(.Data = c(1, 2, 3, 4), .Dim = c(2, 2)),\n"
      "  r = c(3, 4), flag = TRUE, iteration = 10, seed = 5, s = 1)";
  const std::pair<int32_t, const char*> files[] = {{Graph_data, "data file"}, {Graph_stochastic, "initial value file"}};
  for (auto [kind, where] : files) {
    StartConsole();
    InitGraph();
    List(text, kind);
    EXPECT_FALSE(Data_error);
    EXPECT_EQ(Value(1), 4.0);  // what follows the skipped entries is read
    EXPECT_EQ(Value(2), 1.0);
    const std::string w = " in the " + std::string(where) + " is not a name of the model; its values are skipped\n";
    EXPECT_EQ(Console(), "Warning -- deaths" + w + "Warning -- y" + w + "Warning -- flag" + w) << where;
  }
}

// ---- List format: every error names its number's text at the right token

TEST_F(DataTest, ErrorsAreReportedAtTheOffendingToken) {
  Declare("x", {3});
  Declare("w", {2, 3});
  Declare("s", {});
  // "|" marks the end of the offending token; the report's "$" stands there.
  const std::string w = "list(w = structure(.Data = c(1, 2, 3, 4, 5, 6)";
  const std::pair<std::string, const char*> cases[] = {
      {"lis|(s = 1)", "Expected key word list."},
      {"list| s = 1", "Expected key word list."},
      {"list(s 3|)", "Expected equals sign."},
      {"list(s = +|1)", "Expected entry in data file to be either a number or NA."},
      {"list(s = 1, s = 2|)", "Data or initial value already read for node."},
      {"list(x = 5|)", "File object must be at least two dimensions to be a structure."},
      {"list(x = structure|(.Data = c(1, 2, 3), .Dim = c(3)))",
       "File object must be at least two dimensions to be a structure."},
      {"list(x = c(1, 2)|)", "Size of file object different to declared size."},
      {"list(x = c(1, 2, 3 s|)", "Expected a right parenthesis."},
      {"list(seed = -|77)", "Unexpected token in data file."},
      {"list(iteration = 1.5|)", "Unexpected token in data file."},
      {"list(iteration = 2e3x|)", "Unexpected token in data file."},
      // Text run on to a number is never cut to the number in front of it.
      {"list(s = 0x10|)", "Expected entry in data file to be either a number or NA."},
      {"list(s = 1.5.3|)", "Expected entry in data file to be either a number or NA."},
      {"list(s = 1e5x|)", "Expected entry in data file to be either a number or NA."},
      {"list(s = 50Lx|)", "Expected entry in data file to be either a number or NA."},
      {"list(x = c(1, 2.5L|, 3))", "Expected entry in data file to be either a number or NA."},
      {"list(s = 2e|)", "Expected entry in data file to be either a number or NA."},
      {"list(s = 1, q|_1 = 2)", "Unexpected token in data file."},
      {"list(w = structure .|Data", "Expected a left parenthesis."},
      {"list(w = structure(Data| = c(1)", "Expected a period."},
      {"list(w = structure(.| Data = c(1)", "Expected key word Data."},
      {"list(w = structure(.Dat| = c(1)", "Expected key word Data."},
      {"list(w = structure(.Data = C|(1)", "Expected collection operator c."},
      {w + " .|Dim = c(2, 3)))", "Expected a comma."},
      {w + ", Dim| = c(2, 3)))", "Expected a period."},
      {w + ", .Dom| = c(2, 3)))", "Expected key word Dim."},
      {w + ", .Dim = c(2, 3.0|)))", "Expected an integer number for node dimension."},
      {w + ", .Dim = c(2, 3K|)))", "Expected an integer number for node dimension."},
      {w + ", .Dim = c(3|, 2)))", "Dimension of file object inconsistent with node declaration."},
      {w + ", .Dim = c(2, 3, 1|)))", "Dimension of file object inconsistent with node declaration."},
      {w + ", .Dim = c(2, 3;|", "Expected a comma."},
      // R's own form: every extent is needed to know where each value goes.
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), dim = c(2)|))",
       "Dimension of file object inconsistent with node declaration."},
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), dim = 3:2|))",
       "Dimension of file object inconsistent with node declaration."},
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), dim = 2:4|))",
       "Dimension of file object inconsistent with node declaration."},
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), dim = 2 3|))", "Expected collection operator c."},
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), dims| = 2:3))", "Expected a period."},
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), .Data| = 2:3))", "Expected key word Dim."},
      {"list(w = structure(c(1, 2, 3, 4, 5)|, dim = 2:3))", "Size of file object different to declared size."},
      {"list(w = structure(c(1, 2, 3, 4, 5, 6), dim = 2:3, dimnames = list(NULL|", "Expected a right parenthesis."},
      {w + ", dim| = c(2, 3)))", "Expected a period."},
  };
  for (const auto& [marked, message] : cases) {
    size_t mark = marked.find('|');
    std::string text = marked.substr(0, mark) + marked.substr(mark + 1);
    StartConsole();
    InitGraph();
    List(text);
    EXPECT_TRUE(Data_error) << text;
    std::string log = Console();
    EXPECT_NE(log.find(message), std::string::npos) << text << "\n" << log;
    EXPECT_NE(log.find(At(1, static_cast<int>(mark) + 1)), std::string::npos) << text << "\n" << log;
  }
}

TEST_F(DataTest, ErrorReportNamesLineAndColumnOfTheDataFile) {
  Declare("x", {3});
  List("list(\n  x = c(1,\n       2))\n");
  EXPECT_TRUE(Data_error);
  EXPECT_TRUE(Logged("Error in file: d.txt\n       2))\n         $\n" + At(3, 10)));
}

// ---- Rectangular format

TEST_F(DataTest, RectangularRowsFillEachVariableInTurn) {
  std::vector<SymTabs_Name*> names = {Declare("x", {10}), Declare("y", {10, 2})};
  std::string text = "# x y[,1] y[,2]\n";
  for (int r = 1; r <= 10; ++r)
    text += std::to_string(r) + (r == 4 ? ", NA" : " " + std::to_string(10 * r + 1)) + "\t-" +
            std::to_string(10 * r + 2) + ".5\r\n";
  Rectangular(text, names, 10);
  EXPECT_FALSE(Data_error);
  EXPECT_EQ(Value(0), 1.0);                  // x[1]
  EXPECT_EQ(Value(9), 10.0);                 // x[10]
  EXPECT_EQ(Value(10 + 2 * 2), 31.0);        // y[3,1]
  EXPECT_EQ(Value(10 + 2 * 9 + 1), -102.5);  // y[10,2]
  EXPECT_EQ(Graph_nodes[10 + 2 * 3], nullptr);  // y[4,1] is NA
  EXPECT_FALSE(Logged("Warning"));
}

TEST_F(DataTest, RectangularTrailingTextWarnsButBlankLinesDoNot) {
  std::vector<SymTabs_Name*> names = {Declare("x", {2})};
  const std::tuple<const char*, int, bool> rows[] = {
      {"1\n2\nend of data\n", 2, true}, {"1\n2\n\n  \r\n\n\x1a", 2, false}, {"1\t\n", 1, true}};  // a tab is not layout
  for (const auto& [text, count, warns] : rows) {
    StartConsole();
    InitGraph();
    Rectangular(text, names, count);
    EXPECT_FALSE(Data_error) << text;
    EXPECT_EQ(Value(count - 1), double(count)) << text;
    EXPECT_EQ(Logged(warns ? "Warning -- expected data read before end of file\n" : "Warning"), warns) << text;
  }
}

TEST_F(DataTest, RectangularErrorsStopTheReadingAtTheRightPlace) {
  std::vector<SymTabs_Name*> names = {Declare("x", {10}), Declare("y", {10, 2})};
  Rectangular("1 2 3\n4 5 6\n7 + 9\n", names, 10);
  EXPECT_TRUE(Data_error);
  EXPECT_TRUE(Logged("7 + 9\n   $\n" + At(3, 4)));
  EXPECT_TRUE(Logged("Expected entry in data file to be either a number or NA."));
  EXPECT_EQ(Value(2), 7.0);                      // x[3]
  EXPECT_EQ(Graph_nodes[10 + 2 * 2], nullptr);  // y[3,1]
  StartConsole();
  InitGraph();
  Rectangular("1 2 3\n", names, 10);  // the file ends early
  EXPECT_TRUE(Data_error);
  EXPECT_TRUE(Logged("Expected entry in data file to be either a number or NA."));
}

}  // namespace
