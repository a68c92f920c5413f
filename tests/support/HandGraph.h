// A fixture for tests that build graph nodes by hand, one at a time, each
// numbered as an anonymous node.
#pragma once

#include <utility>
#include <vector>

#include "TestSupport.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "language/Errors.h"
#include "language/SymTabs.h"
#include "numerics/SpecFunc.h"

namespace test {

class HandGraph : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    InitGraph();
    InitSymTabs();
    InitErrors();
    InitSpecFunc();
    InitDeterm();
    ASSERT_TRUE(Graph_AllocateNodes(0));  // every node below is numbered in turn
    StartConsole();
  }

  static Graph_Node* Node(double value, int32_t kind = Graph_stochastic) {
    Graph_Node* n = Graph_NewNode();
    Graph_Link(n);
    n->kind = kind;
    Graph_Own(n) = value;
    return n;
  }

  // A logical node: its stored value stays 0, so only its value function
  // gives the right number.
  static Graph_Node* Logical(std::vector<int32_t> code, std::vector<Graph_Node*> parents = {}) {
    Graph_Node* n = Node(0.0, Graph_logical);
    n->stack = std::move(code);
    n->parents = std::move(parents);
    n->numParents = static_cast<int32_t>(n->parents.size());
    Determ_SetValueFunction(n);
    return n;
  }
};

}  // namespace test
