#include "graph/Parents.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "language/Errors.h"
#include "store/Distrib.h"

bool Parents_error = false;

namespace {

enum Error { undefinedElement = 74, undefinedParent = 78 };

[[noreturn]] void Fail(const Graph_Node* node, int number) {
  Parents_error = true;
  Errors_NodeError(node, number);
}

// An element is named by its number only: the report needs a node record
// carrying that number.
[[noreturn]] void FailElement(int64_t number) {
  Graph_Node standIn{};
  Graph_Init(standIn);
  standIn.label = static_cast<int32_t>(number);
  Fail(&standIn, undefinedElement);
}

Graph_Node* NodeAt(int64_t number) {
  if (number < 0 || number > INT32_MAX) return nullptr;
  return Graph_Label(static_cast<int32_t>(number));
}

// ---- visit marks
//
// One stamp per node number: a walk takes a new generation, and a number
// stamped with it has been met in this walk. Logical nodes are marked when
// walked, parents when listed; a logical node and a node with a distribution
// never share a number, and the components of a block share the number of
// their first component, so a block is listed once.

std::vector<uint32_t> stamp;
uint32_t generation = 0;

void NewGeneration() {
  if (stamp.size() < static_cast<size_t>(Graph_totalNumNodes)) stamp.resize(Graph_totalNumNodes, 0);
  if (++generation == 0) {
    std::fill(stamp.begin(), stamp.end(), 0);
    generation = 1;
  }
}

// True the first time a number is met in the current walk. A node without a
// number cannot be marked and counts as new every time.
bool Mark(int32_t label) {
  if (label < 0) return true;
  if (static_cast<size_t>(label) >= stamp.size()) stamp.resize(static_cast<size_t>(label) + 1, 0);
  if (stamp[label] == generation) return false;
  stamp[label] = generation;
  return true;
}

// ---- the operands of a logical node
//
// A frame enumerates one logical node's operands by position, so that the
// walk below needs no recursion: a chain of logical nodes of any length
// costs heap, not call stack.

int32_t CodeAt(const Graph_Node* n, size_t k) { return k < n->stack.size() ? n->stack[k] : 0; }

int32_t ParentCount(const Graph_Node* n) {
  return std::clamp<int32_t>(n->numParents, 0, static_cast<int32_t>(n->parents.size()));
}

struct Frame {
  const Graph_Node* node = nullptr;
  int32_t op = 0;
  int64_t at = 0, count = 0;
  int64_t start = 0, extent[3] = {1, 1, 1}, stride[3] = {0, 0, 0};
  int64_t startB = 0, strideB = 0;  // the second vector of an inner product
  int64_t width = 1;                // elements taken at each position of a pick
  int32_t indices = 0;              // a pick's index parents, walked first
};

struct Operand {
  Graph_Node* node;
  bool element;    // named by number (a missing one is reported by that number)
  int64_t number;
};

int64_t Extent(int32_t v) { return v > 0 ? v : 0; }

// The frame of a logical node; a pick takes the elements from..to at each
// position its indices can select. withIndices says whether a pick's
// indices are operands too.
Frame MakeFrame(const Graph_Node* n, int64_t from, int64_t to, bool withIndices) {
  Frame f;
  f.node = n;
  f.op = CodeAt(n, 0);
  switch (f.op) {
    case Determ_inprod:
      f.start = CodeAt(n, 1);
      f.extent[0] = Extent(CodeAt(n, 2));
      f.stride[0] = CodeAt(n, 3);
      f.startB = CodeAt(n, 4);
      f.strideB = CodeAt(n, 5);
      f.count = 2 * f.extent[0];
      break;
    case Determ_mean: case Determ_sd: case Determ_sum: case Determ_logdet: {
      const int32_t ranges = std::clamp(CodeAt(n, 1), 0, 3);
      f.start = CodeAt(n, 2);
      f.count = 1;
      for (int32_t k = 0; k < ranges; ++k) {
        f.extent[k] = Extent(CodeAt(n, 3 + 2 * k));
        f.stride[k] = CodeAt(n, 4 + 2 * k);
        f.count *= f.extent[k];
      }
      break;
    }
    case Determ_inverse:
      f.start = CodeAt(n, 2);
      for (int32_t k = 0; k < 2; ++k) {
        f.extent[k] = Extent(CodeAt(n, 3 + 2 * k));
        f.stride[k] = CodeAt(n, 4 + 2 * k);
      }
      f.count = f.extent[0] * f.extent[1];
      break;
    case Determ_pick: {
      const int32_t dims = std::clamp(CodeAt(n, 1), 0, 3);
      f.start = static_cast<int64_t>(CodeAt(n, 2)) + (from - 1);
      f.width = to >= from ? to - from + 1 : 0;
      int64_t positions = 1;
      for (int32_t k = 0; k < dims; ++k) {
        f.extent[k] = Extent(CodeAt(n, 3 + 2 * k));
        f.stride[k] = CodeAt(n, 4 + 2 * k);
        positions *= f.extent[k];
      }
      f.indices = withIndices ? ParentCount(n) : 0;
      f.count = f.indices + positions * f.width;
      break;
    }
    default:
      f.count = ParentCount(n);
      break;
  }
  return f;
}

// The operand at position t of the frame, in the order of the node's own
// evaluation: the first range outermost, a pick's range innermost.
Operand OperandAt(const Frame& f, int64_t t) {
  switch (f.op) {
    case Determ_inprod: {
      const int64_t number = t < f.extent[0] ? f.start + t * f.stride[0] : f.startB + (t - f.extent[0]) * f.strideB;
      return {NodeAt(number), true, number};
    }
    case Determ_mean: case Determ_sd: case Determ_sum: case Determ_logdet: case Determ_inverse: {
      const int64_t k = t % f.extent[2], j = t / f.extent[2] % f.extent[1], i = t / (f.extent[1] * f.extent[2]);
      const int64_t number = f.start + i * f.stride[0] + j * f.stride[1] + k * f.stride[2];
      return {NodeAt(number), true, number};
    }
    case Determ_pick: {
      if (t < f.indices) return {f.node->parents[t], false, 0};
      const int64_t u = t - f.indices;
      const int64_t v = u % f.width, rest = u / f.width;
      const int64_t k = rest % f.extent[2], j = rest / f.extent[2] % f.extent[1],
                    i = rest / (f.extent[1] * f.extent[2]);
      const int64_t number = f.start + i * f.stride[0] + j * f.stride[1] + k * f.stride[2] + v;
      return {NodeAt(number), true, number};
    }
    default:
      return {f.node->parents[t], false, 0};
  }
}

std::vector<Frame> frames;  // reused by every walk; walks never nest

// Walks the operands of a logical node depth first, each logical node once
// per walk, and hands every operand that is not logical to terminal.
template <typename Terminal>
void WalkLogical(const Graph_Node* root, int64_t from, int64_t to, bool withIndices, Terminal terminal) {
  frames.clear();
  frames.push_back(MakeFrame(root, from, to, withIndices));
  while (!frames.empty()) {
    Frame& f = frames.back();
    if (f.at == f.count) {
      frames.pop_back();
      continue;
    }
    const Operand o = OperandAt(f, f.at++);
    if (o.node == nullptr) {
      if (o.element) FailElement(o.number);
      Fail(f.node, undefinedParent);
    }
    if (o.node->kind != Graph_logical) {
      terminal(o.node);
    } else if (Mark(o.node->label)) {
      frames.push_back(MakeFrame(o.node, 1, 1, withIndices));  // f may move now; not used again
    }
  }
}

// ---- the parameters of a stochastic node


// A scalar second parameter enters the node's density, sizes and counts
// included: a stochastic trial count of dbin is shaped by the observation
// that depends on it (it cannot lie below it), so the child belongs in the
// count's likelihood. dhypo and dwish have no log density to give such a
// term (a stochastic dwish degrees of freedom is refused by the model
// checks); dmnorm's matrix is walked with the vectors.
bool SecondCounts(int32_t density) {
  const Distrib_Row& row = Distrib_Of(density);
  return Distrib_Valid(density) && row.hasDensity && row.numParameters >= 2 &&
         row.parameterShape[1] == Distrib_scalar;
}

// The category count of dcat is stored as a real number; 1.0E-6 of slack
// keeps a count computed in floating point from losing one.
int64_t CategoryCount(double value) {
  const double n = std::trunc(value + 1.0E-6);
  if (!(n > 0.0)) return 0;
  return n < 1.0E9 ? static_cast<int64_t>(n) : static_cast<int64_t>(1.0E9);
}

// Hands every node the distribution of node depends on, through chains of
// logical nodes, to terminal: the first parameter (a single node, or the
// elements of a vector or matrix), the second where it shapes the density,
// then the bounds and third parameters from the last entry down.
template <typename Terminal>
void WalkParameters(Graph_Node* node, bool withIndices, Terminal terminal) {
  const int32_t count = ParentCount(node);
  auto parameter = [&](int32_t k) {
    Graph_Node* p = k < count ? node->parents[k] : nullptr;
    if (p == nullptr) Fail(node, undefinedParent);
    return p;
  };
  auto single = [&](Graph_Node* p) {
    if (p->kind != Graph_logical) terminal(p);
    else if (Mark(p->label)) WalkLogical(p, 1, 1, withIndices, terminal);
  };
  auto vector = [&](Graph_Node* p, int64_t n) {
    if (p->kind == Graph_logical && CodeAt(p, 0) == Determ_pick) {
      Mark(p->label);
      return WalkLogical(p, 1, n, withIndices, terminal);
    }
    for (int64_t v = 1; v <= n; ++v) {
      Graph_Node* e = NodeAt(static_cast<int64_t>(p->label) + v - 1);
      if (e == nullptr) Fail(p, undefinedParent);
      single(e);
    }
  };
  const int32_t density = node->density;
  // Every parameter needs a node, not only those that shape the density:
  // starting values and densities read the others too (the size of dbin,
  // the category count of dcat). Only bounds, the last two entries of a
  // node with more than two, may be missing.
  if (density != 0)
    for (int32_t k = 0; k < (count > 2 ? count - 2 : count); ++k) parameter(k);
  if (!Distrib_Valid(density)) return;  // no distribution
  const Distrib_Row& row = Distrib_Of(density);
  for (int32_t k = 0; k < std::min(row.numParameters, 2); ++k) {
    const Distrib_Shape shape = row.parameterShape[k];
    if (shape == Distrib_scalar) {
      if (k == 0) single(parameter(0));
      continue;
    }
    // A vector or matrix parameter: of a scalar node (dcat's probabilities),
    // as many elements as its count parameter says; of a block, one per
    // component, or the square of that for a matrix over a vector block.
    int64_t elements = node->size;
    if (row.shape == Distrib_scalar) {
      int32_t sizeParameter = 0;
      while (sizeParameter < 31 && !((row.sizeParameters >> sizeParameter) & 1u)) ++sizeParameter;
      elements = CategoryCount(Graph_Own(parameter(sizeParameter)));
    } else if (shape > row.shape) {
      elements = static_cast<int64_t>(node->size) * node->size;
    }
    vector(parameter(k), elements);
  }
  if (SecondCounts(density)) single(parameter(1));
  for (int32_t k = count - 1; k >= 2; --k)
    if (node->parents[k] != nullptr) single(node->parents[k]);
}

// Same placement as Graph_AddToList (first node in front, every later one
// directly after it). The stamps already tell whether the number is listed,
// so the list is not scanned: a node with very many parents stays linear.
void Add(Graph_List& list, Graph_Node* p) {
  if (p->kind == Graph_data) return;
  if (p->label < 0) return Graph_AddToList(list, p);
  if (!Mark(p->label)) return;
  if (list.empty()) list.push_front(p);
  else list.insert_after(list.begin(), p);
}

// Starts a walk that adds to list, counting what the list holds already.
void StartListWalk(const Graph_List& list) {
  NewGeneration();
  for (const Graph_Node* p : list)
    if (p != nullptr) Mark(p->label);
}

// ---- occurrence test
//
// Whether a child c occurs among the parameters of its parent s: then c is
// also an ancestor of s and stays out of s's likelihood. The numbers with a
// distribution that s's parameters reach are found once per parent and kept
// sorted, so a parent with many children, or with parameters behind long
// logical chains, is walked once rather than once per child.

std::unordered_map<int32_t, std::vector<int32_t>> reached;

bool Occurs(Graph_Node* s, const Graph_Node* c) {
  auto it = reached.find(s->label);
  if (it == reached.end()) {
    std::vector<int32_t> labels;
    NewGeneration();
    WalkParameters(s, false, [&](Graph_Node* p) {
      if (p->density != 0 && Mark(p->label)) labels.push_back(p->label);
    });
    std::sort(labels.begin(), labels.end());
    it = reached.emplace(s->label, std::move(labels)).first;
  }
  return std::binary_search(it->second.begin(), it->second.end(), c->label);
}

void BuildLiklihoodLists() {
  reached.clear();
  Graph_List parents;
  for (int32_t number = 0; number < Graph_totalNumNodes; ++number) {
    Graph_Node* c = Graph_Label(number);
    if (c == nullptr || c->kind == Graph_logical || c->density == 0 || c->label != number) continue;
    Parents_StochasticParentList(c, parents);
    for (Graph_Node* s : parents) {
      Graph_Node* head = Graph_Label(s->label);
      if (head != nullptr && !Occurs(head, c)) Graph_AddNonUnique(head->likelihood, c);
    }
    Graph_DisposeList(parents);
  }
  reached.clear();
}

// ---- twigs
//
// A node's twig status depends only on its own likelihood list, so it is
// found once per node. The search keeps its path on the heap. A node met
// again on its own path closes a directed cycle (the model checks reject it
// later); such a node is taken as no twig.

enum TwigState : uint8_t { unknown = 0, onPath, twig, notTwig };
std::vector<uint8_t> twigState;

uint8_t& StateOf(const Graph_Node* n) {
  static uint8_t none = notTwig;  // a node without a number is never dropped
  if (n->label < 0) {
    none = notTwig;
    return none;
  }
  if (static_cast<size_t>(n->label) >= twigState.size()) twigState.resize(static_cast<size_t>(n->label) + 1, unknown);
  return twigState[n->label];
}

bool MayBeTwig(const Graph_Node* n) { return n->kind != Graph_data && n->numParents < 3; }

bool IsTwig(Graph_Node* root) {
  struct Step {
    Graph_Node* node;
    Graph_List::const_iterator next;
  };
  static std::vector<Step> path;
  uint8_t& rootState = StateOf(root);
  if (rootState == twig || rootState == notTwig) return rootState == twig;
  if (!MayBeTwig(root)) {
    rootState = notTwig;
    return false;
  }
  path.clear();
  rootState = onPath;
  path.push_back({root, root->likelihood.cbegin()});
  while (!path.empty()) {
    Step& step = path.back();
    if (step.next == step.node->likelihood.cend()) {
      StateOf(step.node) = twig;
      path.pop_back();
      continue;
    }
    Graph_Node* m = *step.next++;
    uint8_t& state = StateOf(m);
    if (state == twig) continue;
    if (state == unknown && MayBeTwig(m)) {
      state = onPath;
      path.push_back({m, m->likelihood.cbegin()});
      continue;
    }
    // m is no twig: neither is any node on the path, each having the next
    // one (and so m) below it.
    if (state == unknown) state = notTwig;
    for (const Step& s : path) StateOf(s.node) = notTwig;
    path.clear();
  }
  return StateOf(root) == twig;
}

void PruneTwigs() {
  twigState.assign(static_cast<size_t>(Graph_totalNumNodes), unknown);
  auto pruned = [](const Graph_Node* n) {
    return n != nullptr && n->kind != Graph_logical && n->kind != Graph_data;
  };
  // Every status first, each from the lists as they were built.
  for (int32_t number = 0; number < Graph_numDeclaredNodes; ++number) {
    Graph_Node* n = Graph_nodes[number];
    if (!pruned(n)) continue;
    for (Graph_Node* m : n->likelihood) IsTwig(m);
  }
  for (int32_t number = 0; number < Graph_numDeclaredNodes; ++number) {
    Graph_Node* n = Graph_nodes[number];
    if (!pruned(n)) continue;
    Graph_List kept;
    for (Graph_Node* m : n->likelihood)
      if (!IsTwig(m)) Graph_AddNonUnique(kept, m);
    Graph_DisposeList(n->likelihood);
    n->likelihood = std::move(kept);
  }
  twigState.clear();
  twigState.shrink_to_fit();
}

// ---- blocks

// A list owns its cells, so each component gets a copy of the block's list.
// The lists are never changed afterwards, so the copies stay equal.
void ReplicateLikelihoodLists() {
  for (int32_t number = 0; number < Graph_numDeclaredNodes;) {
    const Graph_Node* n = Graph_nodes[number];
    if (n == nullptr || n->kind == Graph_logical || n->size < 2) {
      ++number;
      continue;
    }
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(number) + n->size, Graph_numDeclaredNodes));
    for (int32_t k = number + 1; k < end; ++k)
      if (Graph_nodes[k] != nullptr) Graph_nodes[k]->likelihood = n->likelihood;
    number = end;
  }
}

}  // namespace

void InitParents() {
  Parents_error = false;
  stamp.clear();
  stamp.shrink_to_fit();
  generation = 0;
  frames.clear();
  reached.clear();
  twigState.clear();
}

void Parents_BuildSamplingDistribu() {
  Parents_error = false;
  BuildLiklihoodLists();
  if (Parents_error) return;
  PruneTwigs();
  ReplicateLikelihoodLists();
}

void Parents_StochasticParentList(Graph_Node* node, Graph_List& list) {
  StartListWalk(list);
  WalkParameters(node, true, [&](Graph_Node* p) { Add(list, p); });
}

void Parents_DeterministicParentLi(Graph_Node* node, Graph_List& list) {
  StartListWalk(list);
  Mark(node->label);
  WalkLogical(node, 1, 1, true, [&](Graph_Node* p) { Add(list, p); });
}
