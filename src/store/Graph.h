// Graph: the node record and the node store.
//
// Every scalar component of every declared variable is one declared node,
// numbered in declaration order (arrays row-major). Parsing and node
// generation add anonymous nodes, numbered after the declared ones. The store
// owns every node for the whole run; lists and parents arrays only refer to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <vector>

struct Graph_Node;

using Graph_Proc = double (*)(Graph_Node*);
// Lists own their cells, never the nodes.
using Graph_List = std::forward_list<Graph_Node*>;

enum Graph_NodeKind : int32_t {
  Graph_noValue = 0,         // no value known yet
  Graph_stochastic = 1,      // holds a value, updated by the sampler
  Graph_noInitial = 2,       // stochastic, still without a starting value
  Graph_data = 3,            // fixed: data, constant, literal or folded logical node
  Graph_logical = 4,         // computed from its parents by its code
  Graph_forwardSampled = -2, // starting value just drawn from its prior
};

constexpr int32_t Graph_maxDeclaredNodes = 1000000;
constexpr int32_t Graph_maxParents = 51;  // entries of a parents array
constexpr int32_t Graph_maxCode = 201;    // entries of a code array

// The fields every read and every sampler touches come first, so that they
// share the record's first cache line.
struct Graph_Node {
  int32_t slot = -1;                 // its place in the store: where a chain keeps its value
  int32_t kind;                      // Graph_NodeKind
  int32_t numParents;
  int32_t density;                   // distribution identifier, 0 for none
  Graph_Proc valueFunction;          // every reader obtains the value through it
  Graph_Proc logDensity;
  std::vector<Graph_Node*> parents;  // parameters then bounds, or operands
  std::vector<int32_t> stack;        // logical code; entry 0 picks the evaluator
  Graph_List likelihood;
  int32_t label;                     // the node's number
  int32_t size;                      // components of its multivariate block
};

// The stored values of every node, one per slot. Each chain of the sampler
// has its own; a thread reads and writes the one bound to it, so that the
// nodes themselves are never written once compiled.
using Graph_Values = std::vector<double>;
extern thread_local constinit Graph_Values* Graph_values;
extern thread_local constinit double* Graph_valueData;  // Graph_values->data(), kept beside it
// Binds a chain's values to the calling thread. Nodes created while they are
// bound get their slot in them.
void Graph_BindValues(Graph_Values* values);

extern std::vector<Graph_Node*> Graph_nodes;  // declared nodes by number; null until created
extern int32_t Graph_numDeclaredNodes;
extern int32_t Graph_totalNumNodes;

void InitGraph();
// A new node owned by the store, with every field at its default.
Graph_Node* Graph_NewNode();
void Graph_Init(Graph_Node& node);
// Makes room for n declared nodes. False, changing nothing, when n is
// negative or beyond Graph_maxDeclaredNodes.
bool Graph_AllocateNodes(int32_t n);
// Gives an anonymous node the next free number (nothing before the store is allocated).
void Graph_Link(Graph_Node* node);
// The node with this number, declared or anonymous, or null. Constant time;
// inline because samplers look nodes up by number on every update.
Graph_Node* Graph_LabelAnonymous(int32_t number);
inline Graph_Node* Graph_Label(int32_t number) {
  if (number >= 0 && number < Graph_numDeclaredNodes) return Graph_nodes[static_cast<size_t>(number)];
  return Graph_LabelAnonymous(number);
}

// Code and parents arrays with exactly n entries. False, changing nothing,
// beyond their limits.
bool Graph_NewParents(std::vector<Graph_Node*>& parents, int32_t n);
bool Graph_NewStack(std::vector<int32_t>& stack, int32_t n);

// Adds a node unless one with the same label is there; a new node goes
// directly after the first cell.
void Graph_AddToList(Graph_List& list, Graph_Node* node);
// Puts a node at the front without any check.
void Graph_AddNonUnique(Graph_List& list, Graph_Node* node);
void Graph_DisposeList(Graph_List& list);

// The value stored for the node in the values bound to this thread.
inline double& Graph_Own(const Graph_Node* node) { return Graph_valueData[node->slot]; }
// Default value procedure: the node's own value.
double Graph_Value(Graph_Node* node);
// The value every reader sees: through the node's value procedure, without
// the indirect call for a node that simply holds its value.
inline double Graph_ValueOf(Graph_Node* node) {
  return node->valueFunction == Graph_Value ? Graph_Own(node) : node->valueFunction(node);
}
// Default log density: reaching it means a stochastic node was left without
// a density, a program fault; it stops the program.
double Graph_LogDensity(Graph_Node* node);
