#include "language/Errors.h"
#include "base/Write.h"

#include "TestSupport.h"
#include "store/Graph.h"
#include "language/Messages.h"
#include "language/SymTabs.h"

namespace {

class ErrorsTest : public test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    InitErrors();
    InitMessages();
    InitSymTabs();
    InitGraph();  // no nodes left over from another test
  }
  std::string Report(const std::string& source, int64_t position) {
    StartConsole();  // a fresh log for each report
    test::WriteFile("m.txt", source);
    Errors_SetErrorFile("m.txt", Files_Old("m.txt"));
    Errors_CompileError(position, 13);
    return Console();
  }
  static std::string Expected(const std::string& line, int lineNo, int column) {
    auto field5 = [](int n) { return (std::to_string(n) + "    ").substr(0, 5); };
    return "\nError in file: m.txt\n" + line + "\n" + std::string(column - 1, ' ') +
           "$\n at line " + field5(lineNo) + " column " + field5(column) +
           "\n\n -- error  -- \nExpected a semicolon.\n";
  }
};

// A position counts the character the scanner holds ahead of the token.
TEST_F(ErrorsTest, CompileErrorMarksTheCharacterAfterTheToken) {
  EXPECT_EQ(Report("abc def\nxyz\n", 4), Expected("abc def", 1, 4));
}

TEST_F(ErrorsTest, TokenBeforeALineFeedIsReportedOnItsOwnLine) {
  EXPECT_EQ(Report("ab\ncd\nef\n", 3), Expected("ab", 1, 3));
  EXPECT_EQ(Report("ab\ncd\nef\n", 6), Expected("cd", 2, 3));
}

TEST_F(ErrorsTest, TokenOnALastLineWithoutALineFeed) {
  EXPECT_EQ(Report("ab\ncd", 6), Expected("cd", 2, 3));
}

TEST_F(ErrorsTest, NodeErrorNamesTheNodeAndEndsTheRun) {
  SymTabs_Name x{.name = "x", .numIndices = 2, .lastNode = 5, .dims = {3, 2, 0}};  // x[2,3]
  SymTabs_StoreName(x);
  Graph_Node node;
  Graph_Init(node);
  node.label = 5;
  Errors_SetErrorFile("m.txt", nullptr);
  StartConsole();
  EXPECT_EXIT(Errors_NodeError(&node, 78), testing::ExitedWithCode(1), "");
  EXPECT_EQ(Console(),
            "\nError in file: m.txt\n for node: x[2,3]\n"
            " -- error  -- \nNode has undefined parent.\n");
}

// A hidden node has no name of its own: the report names the declared node
// whose relation holds it, through any hidden nodes between them, the lowest
// numbered of the nearest ones; a hidden node nothing named refers to keeps
// its number.
TEST_F(ErrorsTest, HiddenNodeIsNamedByTheDeclaredNodeThatHoldsIt) {
  InitGraph();
  ASSERT_TRUE(Graph_AllocateNodes(3));
  SymTabs_Name a{.name = "a", .firstNode = 0, .lastNode = 0};
  SymTabs_Name v{.name = "v", .numIndices = 1, .firstNode = 1, .lastNode = 2, .dims = {2, 0, 0}};
  SymTabs_StoreName(a);
  SymTabs_StoreName(v);
  for (int32_t n = 0; n < 3; ++n) {
    Graph_nodes[static_cast<size_t>(n)] = Graph_NewNode();
    Graph_nodes[static_cast<size_t>(n)]->label = n;
  }
  auto hidden = [](std::vector<Graph_Node*> parents) {
    Graph_Node* h = Graph_NewNode();
    Graph_Link(h);
    h->parents = std::move(parents);
    h->numParents = static_cast<int32_t>(h->parents.size());
    return h;
  };
  Graph_Node* literal = hidden({});
  Graph_Node* sum = hidden({literal, nullptr});
  Graph_Node* lone = hidden({});
  Graph_Node* shared = hidden({});
  Graph_nodes[2]->parents = {sum};           // v[2] holds the sum, which holds the literal
  Graph_nodes[2]->parents.push_back(shared);  // v[2] and a both hold the shared one
  Graph_nodes[0]->parents = {shared};
  const std::pair<const Graph_Node*, std::string> rows[] = {
      {literal, "v[2]"}, {sum, "v[2]"}, {shared, "a"}, {lone, std::to_string(lone->label)}, {Graph_nodes[1], "v[1]"},
  };
  Errors_SetErrorFile("m.txt", nullptr);
  for (const auto& [node, name] : rows) {
    StartConsole();
    Errors_NodeReport(node, "Node has undefined parent.");
    EXPECT_EQ(Console(), "\nError in file: m.txt\n for node: " + name + "\n -- error  -- \nNode has undefined parent.\n");
  }
  InitGraph();
}

// A host that puts its own ending in place gets the report and control
// back; without one, or with one that returns, the process exits.
TEST_F(ErrorsTest, EndingPutInPlaceReplacesTheExit) {
  struct Ended {};
  Graph_Node node;
  Graph_Init(node);
  node.label = 7;
  Errors_SetErrorFile("m.txt", nullptr);
  StartConsole();
  Write_SetEnding([] { throw Ended{}; });
  EXPECT_THROW(Errors_NodeError(&node, 78), Ended);
  EXPECT_THROW(Write_EndRun(), Ended);
  Write_SetEnding([] {});
  EXPECT_EXIT(Write_EndRun(), testing::ExitedWithCode(1), "");
  Write_SetEnding(nullptr);
  EXPECT_EXIT(Write_EndRun(), testing::ExitedWithCode(1), "");
  EXPECT_EQ(Console(), "\nError in file: m.txt\n for node: 7\n -- error  -- \nNode has undefined parent.\n");
}

TEST_F(ErrorsTest, MessageTexts) {
  EXPECT_EQ(Errors_String(79), "Multiviate  node contains both data and sampling components.");
  for (int n = 102; n <= 109; ++n) EXPECT_EQ(Errors_String(n), "") << n;
  EXPECT_EQ(Messages_String(41), "Expected a comma to seperate command options");
}

}  // namespace
