#include "language/Errors.h"

#include "TestSupport.h"
#include "language/SymTabs.h"
#include "store/Graph.h"

namespace {

using ErrorsTest = test::ScratchDir;

// A declared node is named by its label, indices first index first; a hidden
// node by the nearest declared node whose relation holds it (the lowest
// numbered); one nothing declared holds, or beyond every name, by its number.
TEST_F(ErrorsTest, NodeReportNamesTheNodeAsTheUserKnowsIt) {
  InitSymTabs(), InitGraph(), InitErrors();
  Errors_SetErrorFile("m.bug", nullptr);
  ASSERT_TRUE(Graph_AllocateNodes(33));
  SymTabs_StoreName({.name = "a", .firstNode = 0, .lastNode = 0});
  SymTabs_StoreName({.name = "v", .numIndices = 1, .firstNode = 1, .lastNode = 2, .dims = {2, 0, 0}});
  SymTabs_StoreName({.name = "w", .numIndices = 2, .firstNode = 3, .lastNode = 8, .dims = {3, 2, 0}});
  SymTabs_StoreName({.name = "c", .numIndices = 3, .firstNode = 9, .lastNode = 32, .dims = {4, 3, 2}});
  SymTabs_StoreName({.kind = SymTabs_counter, .name = "i", .firstNode = 1, .lastNode = 40});  // holds no nodes
  auto node = [](int32_t label, std::vector<Graph_Node*> parents) {
    Graph_Node* n = Graph_NewNode();
    if (label < 0) Graph_Link(n); else n->label = label;
    n->parents = std::move(parents);
    n->numParents = static_cast<int32_t>(n->parents.size());
    return n;
  };
  Graph_Node* literal = node(-1, {});
  Graph_Node* sum = node(-1, {literal, nullptr});
  Graph_Node* lone = node(-1, {});
  Graph_Node* shared = node(-1, {});
  Graph_nodes[0] = node(0, {shared});
  Graph_nodes[1] = node(1, {});
  Graph_nodes[2] = node(2, {sum, shared});  // v[2] and a both hold the shared one
  const std::pair<const Graph_Node*, std::string> rows[] = {
      {literal, "v[2]"}, {sum, "v[2]"}, {shared, "a"}, {lone, std::to_string(lone->label)}, {Graph_nodes[1], "v[1]"},
      {node(5, {}), "w[1,3]"}, {node(7, {}), "w[2,2]"}, {node(23, {}), "c[2,1,3]"}, {node(32, {}), "c[2,3,4]"},
      {node(33, {}), "33"},
  };
  for (const auto& [n, name] : rows) {
    StartConsole();
    Errors_NodeReport(n, "Node has undefined parent.");
    EXPECT_NE(Console().find(" for node: " + name + "\n"), std::string::npos) << name << "\n" << Console();
  }
  InitGraph();  // no nodes left over for another test
}

}  // namespace
