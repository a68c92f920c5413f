#include "store/Graph.h"

#include <cstdlib>
#include <memory>

#include "base/Write.h"

thread_local constinit Graph_Values* Graph_values = nullptr;
thread_local constinit double* Graph_valueData = nullptr;
std::vector<Graph_Node*> Graph_nodes;
int32_t Graph_numDeclaredNodes = 0;
int32_t Graph_totalNumNodes = 0;

namespace {

// Nodes live in large blocks: stable addresses, few allocations, and
// neighbours in memory that were created together. Released only when the
// store is reset.
constexpr size_t blockSize = 4096;
std::vector<std::unique_ptr<Graph_Node[]>> blocks;
size_t usedInLastBlock = blockSize;
// Anonymous nodes by number - Graph_numDeclaredNodes, in the order numbered.
std::vector<Graph_Node*> anonymous;
bool allocated = false;
int32_t numSlots = 0;  // nodes created since the store was reset

// A broken invariant of the graph: say so and end the run like any other
// fatal error, rather than read or write out of bounds.
[[noreturn]] void Fault(const char* what) {
  Write_Ln();
  Write_String("Internal fault: ");
  Write_String(what);
  Write_Ln();
  Write_Flush();
  Write_EndRun();
}

}  // namespace

void InitGraph() {
  Graph_nodes.clear();
  Graph_nodes.shrink_to_fit();
  anonymous.clear();
  blocks.clear();
  usedInLastBlock = blockSize;
  numSlots = 0;
  if (Graph_values != nullptr) {
    Graph_values->clear();
    Graph_valueData = Graph_values->data();
  }
  Graph_numDeclaredNodes = 0;
  Graph_totalNumNodes = 0;
  allocated = false;
}

void Graph_BindValues(Graph_Values* values) {
  Graph_values = values;
  Graph_valueData = values != nullptr ? values->data() : nullptr;
}

void Graph_Init(Graph_Node& node) {
  if (node.slot >= 0 && Graph_values != nullptr) Graph_Own(&node) = 0.0;
  node.logDensity = Graph_LogDensity;
  node.valueFunction = Graph_Value;
  node.parents.clear();
  node.likelihood.clear();
  node.stack.clear();
  node.label = -1;
  node.size = 1;
  node.numParents = 0;
  node.kind = Graph_noValue;
  node.density = 0;
}

Graph_Node* Graph_NewNode() {
  if (usedInLastBlock == blockSize) {
    blocks.push_back(std::make_unique<Graph_Node[]>(blockSize));
    usedInLastBlock = 0;
  }
  Graph_Node& node = blocks.back()[usedInLastBlock++];
  node.slot = numSlots++;
  if (Graph_values == nullptr) Fault("a node was created with no chain's values bound");
  if (Graph_values->size() < static_cast<size_t>(numSlots)) {
    Graph_values->resize(static_cast<size_t>(numSlots), 0.0);
    Graph_valueData = Graph_values->data();
  }
  Graph_Init(node);
  return &node;
}

bool Graph_AllocateNodes(int32_t n) {
  if (n < 0 || n > Graph_maxDeclaredNodes) return false;
  Graph_nodes.assign(static_cast<size_t>(n), nullptr);
  anonymous.clear();
  Graph_numDeclaredNodes = n;
  Graph_totalNumNodes = n;
  allocated = true;
  return true;
}

void Graph_Link(Graph_Node* node) {
  if (!allocated) return;
  node->label = Graph_totalNumNodes++;
  anonymous.push_back(node);
}

Graph_Node* Graph_LabelAnonymous(int32_t number) {
  if (number < Graph_numDeclaredNodes || number >= Graph_totalNumNodes) return nullptr;
  return anonymous[static_cast<size_t>(number - Graph_numDeclaredNodes)];
}

bool Graph_NewParents(std::vector<Graph_Node*>& parents, int32_t n) {
  if (n < 0 || n > Graph_maxParents) return false;
  parents.assign(static_cast<size_t>(n), nullptr);
  return true;
}

bool Graph_NewStack(std::vector<int32_t>& stack, int32_t n) {
  if (n < 0 || n > Graph_maxCode) return false;
  stack.assign(static_cast<size_t>(n), 0);
  return true;
}

void Graph_AddToList(Graph_List& list, Graph_Node* node) {
  if (list.empty()) {
    list.push_front(node);
    return;
  }
  for (const Graph_Node* n : list)
    if (n->label == node->label) return;
  list.insert_after(list.begin(), node);
}

void Graph_AddNonUnique(Graph_List& list, Graph_Node* node) { list.push_front(node); }

void Graph_DisposeList(Graph_List& list) { list.clear(); }

double Graph_Value(Graph_Node* node) { return Graph_Own(node); }

double Graph_LogDensity(Graph_Node*) { Fault("log density asked of a node without a distribution"); }
