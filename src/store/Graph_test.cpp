#include "store/Graph.h"

#include <gtest/gtest.h>

namespace {

// Declared nodes come first; linked ones are numbered after them; the arrays
// a node holds have fixed limits.
TEST(GraphTest, LabelsAndLimits) {
  InitGraph();
  Graph_Node* early = Graph_NewNode();
  Graph_Link(early);
  EXPECT_EQ(early->label, -1);
  EXPECT_EQ(Graph_totalNumNodes, 0);
  ASSERT_TRUE(Graph_AllocateNodes(3));
  EXPECT_EQ(Graph_Label(1), nullptr);  // declared, not yet created
  Graph_Node* a = Graph_NewNode();
  Graph_Link(a);
  EXPECT_EQ(Graph_totalNumNodes, 4);
  EXPECT_EQ(Graph_Label(3), a);
  EXPECT_EQ(Graph_Label(4), nullptr);
  EXPECT_FALSE(Graph_AllocateNodes(Graph_maxDeclaredNodes + 1) || Graph_AllocateNodes(-1));
  EXPECT_EQ(Graph_Label(3), a);
  std::vector<Graph_Node*> parents;
  std::vector<int32_t> code;
  EXPECT_TRUE(Graph_NewParents(parents, Graph_maxParents) && Graph_NewStack(code, Graph_maxCode));
  EXPECT_FALSE(Graph_NewParents(parents, Graph_maxParents + 1) || Graph_NewStack(code, Graph_maxCode + 1));
  EXPECT_EQ(parents.size() + code.size(), 51u + 201u);
  InitGraph();
}

}  // namespace
