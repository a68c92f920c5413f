#include "store/Graph.h"

#include <gtest/gtest.h>

namespace {

// The store's arrays have fixed limits, the ends included. (The limit on
// declared nodes shows in the compile-error table.)
TEST(GraphTest, ArraysHaveFixedLimits) {
  std::vector<Graph_Node*> parents;
  std::vector<int32_t> code;
  EXPECT_TRUE(Graph_NewParents(parents, Graph_maxParents) && Graph_NewStack(code, Graph_maxCode));
  EXPECT_EQ(parents.size() + code.size(), 51u + 201u);
  EXPECT_TRUE(Graph_NewParents(parents, 0) && Graph_NewStack(code, 0));
  EXPECT_FALSE(Graph_NewParents(parents, Graph_maxParents + 1) || Graph_NewStack(code, Graph_maxCode + 1));
  EXPECT_FALSE(Graph_NewParents(parents, -1) || Graph_NewStack(code, -1));
  InitGraph();
  EXPECT_FALSE(Graph_AllocateNodes(-1));
  EXPECT_TRUE(Graph_AllocateNodes(0));
}

}  // namespace
