#include "store/Graph.h"

#include <gtest/gtest.h>

namespace {

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override { InitGraph(); }
};

TEST_F(GraphTest, LabelFindsDeclaredAndAnonymousNodes) {
  Graph_Node* early = Graph_NewNode();
  Graph_Link(early);
  EXPECT_EQ(early->label, -1);
  EXPECT_EQ(Graph_totalNumNodes, 0);
  ASSERT_TRUE(Graph_AllocateNodes(3));
  EXPECT_EQ(Graph_Label(1), nullptr);  // declared, not yet created
  Graph_Node* a = Graph_NewNode();
  Graph_Node* b = Graph_NewNode();
  Graph_Link(a);
  Graph_Link(b);
  EXPECT_EQ(Graph_totalNumNodes, 5);
  EXPECT_EQ(Graph_Label(3), a);
  EXPECT_EQ(Graph_Label(4), b);
  EXPECT_EQ(Graph_Label(5), nullptr);
  EXPECT_FALSE(Graph_AllocateNodes(Graph_maxDeclaredNodes + 1));
  EXPECT_FALSE(Graph_AllocateNodes(-1));
  EXPECT_EQ(Graph_Label(4), b);
}

TEST_F(GraphTest, ListsKeepTheirInsertionRules) {
  Graph_List unique, plain;
  for (int32_t label : {5, 7, 9, 5}) {
    Graph_Node* n = Graph_NewNode();
    n->label = label;
    Graph_AddToList(unique, n);
    Graph_AddNonUnique(plain, n);
  }
  std::vector<int32_t> labels;
  for (const Graph_List* list : {&unique, &plain})
    for (const Graph_Node* n : *list) labels.push_back(n->label);
  EXPECT_EQ(labels, (std::vector<int32_t>{5, 9, 7, 5, 9, 7, 5}));
  Graph_List empty;
  Graph_DisposeList(empty);
  Graph_DisposeList(plain);
  EXPECT_TRUE(plain.empty() && empty.empty());
}

TEST_F(GraphTest, ArraysHaveFixedLimits) {
  std::vector<Graph_Node*> parents;
  EXPECT_TRUE(Graph_NewParents(parents, Graph_maxParents));
  EXPECT_FALSE(Graph_NewParents(parents, Graph_maxParents + 1));
  std::vector<int32_t> code;
  EXPECT_TRUE(Graph_NewStack(code, Graph_maxCode));
  EXPECT_FALSE(Graph_NewStack(code, Graph_maxCode + 1));
  EXPECT_EQ(parents.size() + code.size(), 51u + 201u);
}

}  // namespace
