#include "graph/CodeGen.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "graph/Determ.h"
#include "store/Graph.h"
#include "graph/Ops.h"
#include "language/Errors.h"
#include "language/Parser.h"
#include "language/SymTabs.h"
#include "numerics/MatrixAl.h"
#include "store/Distrib.h"

bool CodeGen_error = false;

namespace {

enum Error {
  notInteger = 6, aboveBound = 7, belowOne = 8, variableIndex = 9, multivariate = 43,
  unexpectedToken = 44, alreadyDefined = 51, sizeMismatch = 52, alreadyInferred = 64,
  undefinedNode = 73, undefinedParent = 78, undefinedElement = 74, tooComplex = 83,
  badSize = 84, loopsTooLong = 95, wrongSize = 97, boundsImplied = 75, notContiguous = 40,
};

// Unrolling more steps than this in one pass means loops that could never
// describe a model of at most a million declared nodes.
constexpr int64_t maxSteps = 100000000;

void Error(int64_t position, int number) {
  if (CodeGen_error) return;
  CodeGen_error = true;
  Errors_CompileError(position, number);
}

// The relation each generated logical node came from, for later reports.
std::vector<int64_t> origin;

void NoteOrigin(const Graph_Node* node, int64_t position) {
  if (node->label < 0) return;
  if (static_cast<size_t>(node->label) >= origin.size()) origin.resize(node->label + 1, -1);
  origin[node->label] = position;
}

bool Index(const Parser_Tree* e, int32_t& value) {
  value = Parser_Index(const_cast<Parser_Tree*>(e));
  if (Parser_error) CodeGen_error = true;
  return !CodeGen_error;
}

bool InRange(const Parser_Tree* e, int32_t v, int32_t extent) {
  if (v > extent) Error(e->position, aboveBound);
  else if (v < 1) Error(e->position, belowOne);
  return !CodeGen_error;
}

// ---- walking the relations with the loops unrolled

template <typename Handle>
void Walk(Parser_Tree* head, Handle handle) {
  int64_t steps = 0;
  for (Parser_Tree* r = head->next; r != nullptr && !CodeGen_error;) {
    if (++steps > maxSteps) return Error(r->position, loopsTooLong);
    switch (r->kind) {
      case Parser_loopStart: {
        // Bounds are evaluated on every entry: inner bounds may use outer counters.
        int32_t from = 0, to = 0;
        if (!Index(r->left, from) || !Index(r->right, to)) return;
        r->name->firstNode = from - 1;
        r->name->lastNode = to;
        r = r->next;
        break;
      }
      case Parser_loopTest:
        if (r->name->firstNode >= r->name->lastNode) {
          r = r->right;
        } else {
          ++r->name->firstNode;
          r = r->next;
        }
        break;
      case Parser_stochastic:
      case Parser_logical:
        handle(r);
        r = r->next;
        break;
      default:
        r = r->next;
        break;
    }
  }
}

// ---- references

// The elements a reference names: its first node, its component count, and
// (extent, stride) for each index written as a range or left empty, last
// index first.
struct Span {
  int32_t start = 0;
  int32_t count = 1;
  int ranges = 0;
  int32_t extent[3] = {0, 0, 0};
  int32_t stride[3] = {0, 0, 0};
};

// A reference that names a block (a left part, a parameter, an operand) is
// its first node and a count of consecutive nodes, so every index written
// after its first range or empty position must span the whole extent. Fed
// the index positions last index first, this remembers the latest-written
// one seen so far that does not, and refuses it once a range or empty
// position is written before it.
struct Block {
  const Parser_Tree* partial = nullptr;

  bool Next(const Parser_Tree* entry, int32_t lo, int32_t hi, int32_t extent) {
    const bool range = entry->left == nullptr || entry->right != nullptr;
    if (range && partial != nullptr) {
      Error(partial->position, notContiguous);
      return false;
    }
    if (lo != 1 || hi != extent) partial = entry->left;
    return true;
  }
};

// With block set the reference must name consecutive nodes (Block); the
// arguments of the aggregates and matrix functions step through theirs.
bool Offset(const Parser_Tree* ref, Span& s, bool block) {
  const SymTabs_Name* name = ref->name;
  Block run;
  s = Span{};
  s.start = name->firstNode;
  int32_t stride = 1;
  int slot = 0;
  for (const Parser_Tree* e = ref->next; e != nullptr; e = e->next, ++slot) {
    int32_t d = name->dims[slot];
    int32_t lo = 1, hi = d;
    if (e->left != nullptr) {
      if (!Index(e->left, lo) || !InRange(e->left, lo, d)) return false;
      hi = lo;
      if (e->right != nullptr) {
        if (!Index(e->right, hi) || !InRange(e->right, hi, d)) return false;
        if (hi < lo) {
          Error(e->right->position, belowOne);
          return false;
        }
      }
    }
    if (block && !run.Next(e, lo, hi, d)) return false;
    if (e->left == nullptr || e->right != nullptr) {
      s.extent[s.ranges] = hi - lo + 1;
      s.stride[s.ranges] = stride;
      ++s.ranges;
    }
    s.count *= hi - lo + 1;
    s.start += (lo - 1) * stride;
    stride *= d;
  }
  return true;
}

// The whole n x n matrix in row-major order, as inverse and logdet need it.
bool SquareMatrix(const Span& s, const Parser_Tree* where, int32_t& n) {
  n = s.extent[0];
  if (s.ranges != 2 || s.extent[1] != n || s.stride[0] != 1 || s.stride[1] != n) {
    Error(where->position, sizeMismatch);
    return false;
  }
  if (n > MatrixAl_maxOrder) {
    Error(where->position, badSize);
    return false;
  }
  return true;
}

Graph_Node* NewData(double value) {
  Graph_Node* n = Graph_NewNode();
  n->kind = Graph_data;
  Graph_Own(n) = value;
  Graph_Link(n);
  return n;
}

// Gives the node its code and operands in arrays of the store's fixed
// limits; false when either is too long.
bool Attach(Graph_Node* node, const std::vector<int32_t>& code, const std::vector<Graph_Node*>& parents) {
  if (!Graph_NewStack(node->stack, static_cast<int32_t>(std::min<size_t>(code.size(), INT32_MAX))) ||
      !Graph_NewParents(node->parents, static_cast<int32_t>(std::min<size_t>(parents.size(), INT32_MAX))))
    return false;
  std::copy(code.begin(), code.end(), node->stack.begin());
  std::copy(parents.begin(), parents.end(), node->parents.begin());
  node->numParents = static_cast<int32_t>(parents.size());
  Determ_SetValueFunction(node);
  return true;
}

Graph_Node* NewLogical(const std::vector<int32_t>& code, const std::vector<Graph_Node*>& parents,
                       int64_t position) {
  Graph_Node* n = Graph_NewNode();
  n->kind = Graph_logical;
  Graph_Link(n);
  n->label = Graph_totalNumNodes - 1;
  Attach(n, code, parents);
  NoteOrigin(n, position);
  return n;
}

// The index a data node holds, with slack for values computed in floating point.
bool DataIndex(const Graph_Node* n, int32_t& k) {
  double v = Graph_Own(n);
  if (!(std::fabs(v) < 2147483647.0)) return false;
  double t = std::trunc(v + 1.0E-6);
  k = static_cast<int32_t>(t);
  return std::fabs(t - v) <= 1.0E-6;
}

// Resolves an operand to a node: a single node, or the first node of a
// multivariate reference with its component count. An index that depends on
// a stochastic or logical node makes a pick node.
Graph_Node* Leaf(const Parser_Tree* e, int32_t& count, int64_t origin) {
  count = 1;
  switch (e->kind) {
    case Parser_constantRef: return Graph_Label(e->name->firstNode);
    case Parser_counterRef: return NewData(e->name->firstNode);
    case Parser_literal: return e->node;
    default: break;
  }
  const SymTabs_Name* name = e->name;
  int32_t base = name->firstNode, stride = 1;
  int picks = 0;
  std::vector<Graph_Node*> indices;
  std::vector<int32_t> code{Determ_pick, 0, 0};
  Block run;
  int slot = 0;
  for (const Parser_Tree* entry = e->next; entry != nullptr; entry = entry->next, ++slot) {
    int32_t d = name->dims[slot];
    const Parser_Tree* index = entry->left;
    if (index == nullptr) {
      count *= d;
      if (!run.Next(entry, 1, d, d)) return nullptr;
    } else if (index->kind == Parser_variableRef && entry->right == nullptr) {
      Span is;
      if (!Offset(index, is, true)) return nullptr;
      if (is.count != 1) {
        Error(index->position, multivariate);
        return nullptr;
      }
      Graph_Node* n = Graph_Label(is.start);
      if (n == nullptr) {
        Error(index->position, undefinedNode);
        return nullptr;
      }
      if (n->kind == Graph_data) {
        int32_t k = 0;
        if (!DataIndex(n, k)) Error(index->position, notInteger);
        if (CodeGen_error || !InRange(index, k, d) || !run.Next(entry, k, k, d)) return nullptr;
        base += (k - 1) * stride;
      } else {
        if (!run.Next(entry, 0, 0, d)) return nullptr;  // any element: never the whole extent
        indices.push_back(n);
        code.push_back(d);
        code.push_back(stride);
        ++picks;
      }
    } else {
      // A constant index or a range; a range may not end at a variable node.
      int32_t lo = 0, hi = 0;
      if (!Index(index, lo) || !InRange(index, lo, d)) return nullptr;
      hi = lo;
      if (entry->right != nullptr && (!Index(entry->right, hi) || !InRange(entry->right, hi, d)))
        return nullptr;
      if (hi < lo) {
        Error(entry->right->position, belowOne);
        return nullptr;
      }
      if (!run.Next(entry, lo, hi, d)) return nullptr;
      count *= hi - lo + 1;
      base += (lo - 1) * stride;
    }
    stride *= d;
  }
  if (picks == 0) return Graph_Label(base);
  code[1] = picks;
  code[2] = base;
  return NewLogical(code, indices, origin);
}

// ---- code of logical nodes

// The op-code of an operator or function of general code; 0 for a kind
// with no operation of its own (probit written as a function).
int32_t OpCode(int32_t kind) { return Ops_FromToken(kind); }

bool IsLeaf(int32_t kind) {
  return kind == Parser_constantRef || kind == Parser_variableRef || kind == Parser_counterRef ||
         kind == Parser_literal;
}

// Special codes: inner product, aggregates, matrix functions.
bool SpecialCode(const Parser_Tree* e, std::vector<int32_t>& code) {
  Span a;
  if (!Offset(e->left, a, false)) return false;
  switch (e->kind) {
    case Scanner_inprod: {
      Span b;
      if (!Offset(e->right, b, false)) return false;
      if (a.extent[0] != b.extent[0]) {
        Error(e->position, sizeMismatch);
        return false;
      }
      code = {Determ_inprod, a.start, a.extent[0], a.stride[0], b.start, b.stride[0]};
      return true;
    }
    case Scanner_sum:
    case Scanner_mean:
    case Scanner_sd:
      code = {e->kind == Scanner_sum ? Determ_sum : e->kind == Scanner_mean ? Determ_mean : Determ_sd,
              a.ranges, a.start};
      for (int k = 0; k < a.ranges; ++k) {
        code.push_back(a.extent[k]);
        code.push_back(a.stride[k]);
      }
      return true;
    default: {  // logdet
      int32_t n = 0;
      if (!SquareMatrix(a, e, n)) return false;
      code = {Determ_logdet, 2, a.start, n, 1, n, n};
      return true;
    }
  }
}

bool IsSpecial(int32_t kind) {
  return kind == Scanner_inprod || kind == Scanner_sum || kind == Scanner_mean ||
         kind == Scanner_sd || kind == Scanner_logdet;
}

// Postfix code of a general expression, with its operands and the depth of
// the value stack it needs.
struct Writer {
  std::vector<int32_t> code;
  std::vector<Graph_Node*> parents;
  int depth = 0, maxDepth = 0;
  int64_t origin = 0;

  void Operand(Graph_Node* n) {
    code.push_back(Determ_push);
    parents.push_back(n);
    if (++depth > maxDepth) maxDepth = depth;
  }

  void Write(const Parser_Tree* e) {
    if (CodeGen_error) return;
    if (IsLeaf(e->kind)) {
      int32_t count = 1;
      Graph_Node* n = Leaf(e, count, origin);
      if (CodeGen_error) return;
      if (count != 1) return Error(e->position, multivariate);
      return Operand(n);
    }
    if (IsSpecial(e->kind)) {
      std::vector<int32_t> special;
      if (!SpecialCode(e, special)) return;
      return Operand(NewLogical(special, {}, origin));
    }
    int32_t op = OpCode(e->kind);
    if (op == 0) return Error(e->position, unexpectedToken);
    // The operator's own arity says how many operands it takes.
    const bool twoOperands = Ops_Of(op).arity == 2;
    if (e->left == nullptr || twoOperands != (e->right != nullptr))
      return Error(e->position, unexpectedToken);
    Write(e->left);
    if (twoOperands) {
      Write(e->right);
      --depth;
    }
    code.push_back(op);
  }
};

// ---- passes

void AllocateNodes(Parser_Tree* r) {
  Span left;
  if (!Offset(r->left, left, true)) return;
  for (int32_t k = 0; k < left.count; ++k) {
    int32_t number = left.start + k;
    Graph_Node* n = Graph_nodes[number];
    if (r->kind == Parser_stochastic) {
      if (n != nullptr) continue;  // read from a data or initial-value file
      n = Graph_NewNode();
      n->kind = Graph_noInitial;
      n->label = left.start;
      n->size = left.count;
    } else if (n == nullptr) {
      n = Graph_NewNode();
      n->kind = Graph_logical;
      n->label = number;
    } else if (n->kind != Graph_noInitial) {
      return Error(r->left->position, alreadyInferred);
    } else {
      continue;
    }
    Graph_nodes[number] = n;
  }
}

Writer writer;  // reused for every relation

// The code of a single logical node defined by the expression: an aggregate
// or inner product as a whole takes its special code, anything else is
// written as postfix code.
void GiveCode(Graph_Node* target, const Parser_Tree* e, int64_t position) {
  if (IsSpecial(e->kind) && e->kind != Scanner_logdet) {
    std::vector<int32_t> code;
    if (SpecialCode(e, code)) Attach(target, code, {});
    return;
  }
  writer.code.clear();
  writer.parents.clear();
  writer.depth = writer.maxDepth = 0;
  writer.origin = position;
  writer.Write(e);
  if (CodeGen_error) return;
  writer.code.push_back(Determ_end);
  // Code, operands and value stack all have fixed limits.
  if (writer.maxDepth > Determ_stackSize || !Attach(target, writer.code, writer.parents))
    return Error(position, tooComplex);
}

void LogicalRelation(Parser_Tree* r) {
  if (r->kind != Parser_logical) return;
  Span left;
  if (!Offset(r->left, left, true)) return;
  Graph_Node* target = Graph_nodes[left.start];
  target->size = left.count;
  const Parser_Tree* e = r->right;
  if (e->kind == Scanner_inverse) {
    Span m;
    int32_t n = 0;
    if (!Offset(e->left, m, false) || !SquareMatrix(m, e, n)) return;
    if (left.count != n * n) return Error(e->position, multivariate);
    std::vector<int32_t> code{Determ_inverse, left.start, m.start, n, 1, n, n};
    for (int32_t k = 0; k < left.count; ++k) {
      Graph_Node* c = Graph_nodes[left.start + k];
      c->kind = Graph_logical;
      c->size = 1;
      c->label = left.start + k;
      Attach(c, code, {});
      NoteOrigin(c, r->position);
    }
    return;
  }
  if (left.count != 1) return Error(e->position, multivariate);
  NoteOrigin(target, r->position);
  GiveCode(target, e, r->position);
}

// The hidden logical nodes of the parameters written as expressions, in the
// order the relations are met with the loops unrolled; the stochastic pass
// meets them again in that order and takes them from here.
std::vector<Graph_Node*> hiddenParameters;
size_t nextHidden = 0;

bool IsExpression(const Parser_Tree* entry) {
  return entry->kind == Parser_entry && entry->left != nullptr && !IsLeaf(entry->left->kind);
}

// Each parameter written as an expression becomes a hidden logical node with
// the code a named logical node defined by the same expression would get, made
// in this pass so that it is folded, classified and optimised like one.
void ParameterExpressions(Parser_Tree* r) {
  for (const Parser_Tree* entry = r->right->next; entry != nullptr && !CodeGen_error; entry = entry->next) {
    if (!IsExpression(entry)) continue;
    Graph_Node* n = Graph_NewNode();
    n->kind = Graph_logical;
    Graph_Link(n);
    n->label = Graph_totalNumNodes - 1;
    NoteOrigin(n, r->position);
    GiveCode(n, entry->left, r->position);
    hiddenParameters.push_back(n);
  }
}

void CodeRelation(Parser_Tree* r) {
  if (r->kind == Parser_logical)
    LogicalRelation(r);
  else
    ParameterExpressions(r);
}

// Every element start + i * stride_1 + j * stride_2 + k * stride_3 of up to
// three (extent, stride) pairs.
template <typename Visit>
void Elements(int32_t start, const int32_t* pairs, int count, Visit visit) {
  int32_t e1 = count > 1 ? pairs[2] : 1, s1 = count > 1 ? pairs[3] : 0;
  int32_t e2 = count > 2 ? pairs[4] : 1, s2 = count > 2 ? pairs[5] : 0;
  for (int32_t i = 0; i < pairs[0]; ++i)
    for (int32_t j = 0; j < e1; ++j)
      for (int32_t k = 0; k < e2; ++k) visit(start + i * pairs[1] + j * s1 + k * s2, nullptr);
}

// The nodes a node with code reads: its parents, or the elements its special
// code names (for a pick, its index nodes and every element it can select).
template <typename Visit>
void Operands(const Graph_Node* n, Visit visit) {
  const std::vector<int32_t>& c = n->stack;
  switch (c.empty() ? 0 : c[0]) {
    case Determ_inprod:
      for (int32_t i = 0; i < c[2]; ++i) {
        visit(c[1] + i * c[3], nullptr);
        visit(c[4] + i * c[5], nullptr);
      }
      return;
    case Determ_sum: case Determ_mean: case Determ_sd: case Determ_logdet: case Determ_inverse:
      return Elements(c[2], &c[3], c[0] == Determ_inverse ? 2 : c[1], visit);
    case Determ_pick:
      for (Graph_Node* p : n->parents) visit(-1, p);
      return Elements(c[2], &c[3], c[1], visit);
    default:
      for (Graph_Node* p : n->parents) visit(-1, p);
      return;
  }
}

// The nodes with code in an order where every node follows the nodes with
// code it reads. A node met again while its own operands are still being
// walked closes a cycle of logical relations, which no evaluation could
// finish: that ends the compilation.
bool TopologicalOrder(std::vector<Graph_Node*>& order) {
  std::vector<uint8_t> state(Graph_totalNumNodes, 0);  // 0 new, 1 on the path, 2 done
  struct Frame {
    Graph_Node* node;
    std::vector<Graph_Node*> next;
    size_t at;
  };
  std::vector<Frame> path;
  auto withCode = [](Graph_Node* n) { return n != nullptr && !n->stack.empty(); };
  for (int32_t number = 0; number < Graph_totalNumNodes; ++number) {
    Graph_Node* root = Graph_Label(number);
    if (!withCode(root) || state[root->label] != 0 || root->label != number) continue;
    auto push = [&](Graph_Node* n) {
      Frame f{n, {}, 0};
      Operands(n, [&](int32_t element, Graph_Node* p) {
        Graph_Node* m = p != nullptr ? p : Graph_Label(element);
        if (withCode(m)) f.next.push_back(m);
      });
      state[n->label] = 1;
      path.push_back(std::move(f));
    };
    push(root);
    while (!path.empty()) {
      Frame& f = path.back();
      if (f.at == f.next.size()) {
        state[f.node->label] = 2;
        order.push_back(f.node);
        path.pop_back();
        continue;
      }
      Graph_Node* m = f.next[f.at++];
      if (state[m->label] == 1) {
        int64_t where = static_cast<size_t>(m->label) < origin.size() ? origin[m->label] : 0;
        CodeGen_error = true;
        Errors_CompileErrorText(where, "Logical relations form a directed cycle.");
        return false;
      }
      if (state[m->label] == 0) push(m);
    }
  }
  return true;
}

void MakeData(Graph_Node* n, double value) {
  if (n->kind == Graph_logical) {
    n->density = 0;
    n->size = 1;
  }
  Graph_Own(n) = value;
  n->kind = Graph_data;
  n->stack.clear();
  n->parents.clear();
  n->numParents = 0;
  n->valueFunction = Graph_Value;
}

// Folds a node whose operands are all data into a constant; replaces a pick
// whose indices are all data by a plain reference.
void Fold(Graph_Node* n) {
  bool allData = true;
  Operands(n, [&](int32_t element, Graph_Node* p) {
    Graph_Node* m = p != nullptr ? p : Graph_Label(element);
    if (m == nullptr) Errors_NodeError(n, p == nullptr && element >= 0 ? undefinedElement : undefinedParent);
    if (m->kind != Graph_data) allData = false;
  });
  if (n->stack[0] == Determ_pick) {
    for (const Graph_Node* index : n->parents)
      if (index->kind != Graph_data) return;
    // Every index is known: the pick always selects one element.
    int32_t base = n->stack[2];
    for (int32_t k = 0; k < n->stack[1]; ++k) {
      int32_t i = 0;
      DataIndex(n->parents[k], i);
      if (i < 1 || i > n->stack[3 + 2 * k]) Errors_NodeError(n, i < 1 ? belowOne : aboveBound);
      base += (i - 1) * n->stack[4 + 2 * k];
    }
    Graph_Node* target = Graph_Label(base);
    if (target == nullptr) Errors_NodeError(n, undefinedElement);
    if (target->kind == Graph_data) return MakeData(n, Graph_Own(target));
    n->stack = {Determ_push, Determ_end};
    n->parents = {target};
    n->numParents = 1;
    Determ_SetValueFunction(n);
    return;
  }
  if (allData) MakeData(n, n->valueFunction(n));
}

void FoldPass() {
  std::vector<Graph_Node*> order;
  if (!TopologicalOrder(order)) return;
  for (Graph_Node* n : order) Fold(n);
}

// ---- stochastic relations

// The distribution a keyword names: the row whose keyword it is. dt and
// dcauchy have no row of their own: they are generated as scale mixtures
// of dnorm.
// The rows are matched by keyword once, not for every unrolled relation.
int32_t DensityOf(int32_t keyword) {
  static const std::vector<int32_t> byKeyword = [] {
    std::vector<int32_t> table(static_cast<size_t>(Scanner_distributions) + 1, Distrib_dnorm);
    for (int32_t code = 0; code <= Scanner_distributions; ++code) {
      const std::string_view text = Scanner_KeywordText(code);
      for (int32_t density = 1; density <= Distrib_last && !text.empty(); ++density)
        if (text == Distrib_Of(density).keyword) table[static_cast<size_t>(code)] = density;
    }
    return table;
  }();
  return keyword >= 0 && keyword <= Scanner_distributions ? byKeyword[static_cast<size_t>(keyword)] : Distrib_dnorm;
}

struct Parameter {
  Graph_Node* node = nullptr;
  int32_t count = 0;
  const Parser_Tree* where = nullptr;
};

// What a stochastic relation is turned into: the nodes of its left part,
// the density, the parameters in order and the bound slots (lower, then
// upper; either may be absent), which exist only when bounded is set.
struct Relation {
  const Parser_Tree* r = nullptr;
  const Parser_Tree* dist = nullptr;
  Span left;
  int32_t n = 0;  // components of the left part
  int32_t density = 0;
  std::vector<Parameter> params, bounds;
  bool bounded = false;
};

// Error at the left part of the relation; always false.
bool RefuseLeft(const Relation& rel, int number) {
  Error(rel.r->left->position, number);
  return false;
}

// The parameter is a single node.
bool Single(const Parameter& p) {
  if (p.count != 1) Error(p.where->position, multivariate);
  return !CodeGen_error;
}

// The parameter has exactly this many components.
bool Sized(const Parameter& p, int32_t count) {
  if (p.count != count) Error(p.where->position, wrongSize);
  return !CodeGen_error;
}

// Resolves every parameter and written bound to a node with its component
// count. The parser's list holds the bounds first (upper, then lower), then
// the parameters last first; both are put back in written order. A bound
// must have as many components as the left part, since each component is
// bounded by its own element. Leaves that need a pick node create it here,
// in the order of the parser's list.
bool CollectParameters(Relation& rel) {
  for (const Parser_Tree* entry = rel.dist->next; entry != nullptr; entry = entry->next) {
    Parameter p;
    p.where = entry->left != nullptr ? entry->left : entry;
    if (IsExpression(entry)) {
      p.node = hiddenParameters[nextHidden++];
      p.count = 1;
    } else if (entry->left != nullptr) {
      p.node = Leaf(entry->left, p.count, rel.r->position);
      if (CodeGen_error) return false;
    }
    if (entry->kind == Parser_bound) {
      rel.bounded = true;
      if (entry->left != nullptr && p.count != rel.n) {
        Error(p.where->position, wrongSize);
        return false;
      }
      rel.bounds.insert(rel.bounds.begin(), p);  // lower, then upper
    } else {
      rel.params.insert(rel.params.begin(), p);
    }
  }
  return true;
}

// dunif and dpar carry their own ends as bound slots; written bounds would
// be a second pair, and one of the two would be silently lost.
bool RefuseSecondBounds(const Relation& rel) {
  if (rel.bounded && Distrib_Of(rel.density).boundsImplied) {
    Error(rel.r->position, boundsImplied);
    return false;
  }
  return true;
}

// A block (ddirch, dmnorm, dmulti, dwish) of n >= 2 components: its first
// parameter has n components (a vector, or the n elements of dwish's scale
// matrix); a second parameter is the n x n precision matrix of dmnorm or the
// single count or degrees of freedom of dmulti and dwish.
bool CheckBlock(const Relation& rel) {
  const Distrib_Row& row = Distrib_Of(rel.density);
  if (rel.n < 2) return RefuseLeft(rel, wrongSize);
  if (!Sized(rel.params[0], rel.n)) return false;
  if (row.numParameters > 1)
    return Sized(rel.params[1], row.parameterShape[1] == Distrib_matrix ? rel.n * rel.n : 1);
  return true;
}

// dcat(p[]): a single node over at least two categories. The number of
// categories becomes a second parameter, a data node of its own, so that
// the support can be read from the parameters like any other.
bool CheckCategorical(Relation& rel) {
  if (rel.n != 1) return RefuseLeft(rel, multivariate);
  if (rel.params[0].count < 2) {
    Error(rel.params[0].where->position, wrongSize);
    return false;
  }
  rel.params.push_back({NewData(rel.params[0].count), 1, rel.dist});
  return true;
}

// dt(mu, tau, k), and dcauchy(mu, tau) with k = 1 supplied by the parser, as
// a scale mixture of normals: a hidden chi-square node w with k degrees of
// freedom and a hidden logical precision w * tau / k, created in that order.
// The relation goes on as dnorm(mu, w * tau / k).
bool ScaleMixture(Relation& rel) {
  if (rel.n != 1) return RefuseLeft(rel, multivariate);
  for (const Parameter& p : rel.params)
    if (!Single(p)) return false;
  Graph_Node* w = Graph_NewNode();
  w->kind = Graph_stochastic;
  Graph_Own(w) = 1.0;
  w->density = Distrib_dchisq;
  w->parents = {rel.params[2].node};
  w->numParents = 1;
  Graph_Link(w);
  Graph_Node* precision =
      NewLogical({Determ_push, Determ_push, Determ_multiply, Determ_push, Determ_divide, Determ_end},
                 {w, rel.params[1].node, rel.params[2].node}, rel.r->position);
  rel.params = {rel.params[0], {precision, 1, rel.dist}};
  return true;
}

// Any other distribution: a single node with single-node parameters. dunif
// and dpar take their ends from their own parameters as bound slots (dpar's
// upper slot stays empty), so their supports read like written bounds.
bool CheckScalar(Relation& rel) {
  if (rel.n != 1) return RefuseLeft(rel, multivariate);
  for (const Parameter& p : rel.params)
    if (!Single(p)) return false;
  const Distrib_Row& row = Distrib_Of(rel.density);
  if (row.boundsImplied) {
    rel.bounded = true;
    const auto end = [&](const Distrib_End& e) {
      return e.kind == Distrib_parameter ? rel.params[static_cast<size_t>(e.parameter)] : Parameter{};
    };
    rel.bounds = {end(row.lower), end(row.upper)};
  }
  return true;
}

// Checks the parameters against the distribution's shapes and completes
// them: hidden nodes for dt and dcauchy, the count of dcat, the implied
// bounds of dunif and dpar.
bool CheckParameters(Relation& rel) {
  if (rel.dist->kind == Scanner_dt || rel.dist->kind == Scanner_dcauchy) return ScaleMixture(rel);
  const Distrib_Row& row = Distrib_Of(rel.density);
  if (row.shape != Distrib_scalar) return CheckBlock(rel);
  if (row.parameterShape[0] == Distrib_vector) return CheckCategorical(rel);
  return CheckScalar(rel);
}

// The parents array every component gets: the parameters in order, then
// the lower and upper bound slots when the relation is bounded.
std::vector<Graph_Node*> ParentsOf(const Relation& rel) {
  std::vector<Graph_Node*> parents;
  for (const Parameter& p : rel.params) parents.push_back(p.node);
  if (rel.bounded) {
    parents.push_back(rel.bounds.size() > 0 ? rel.bounds[0].node : nullptr);
    parents.push_back(rel.bounds.size() > 1 ? rel.bounds[1].node : nullptr);
  }
  return parents;
}

// Gives every component of the left part the density and the parents, with
// the block's size and its first component as label. A node that still has
// code depends on a stochastic node: it cannot also be given a distribution
// (its operands and parameters would share one array); nor can a node that
// already has one.
void AssignDistribution(const Relation& rel, const std::vector<Graph_Node*>& parents) {
  for (int32_t k = 0; k < rel.n; ++k) {
    Graph_Node* c = Graph_nodes[rel.left.start + k];
    if (!c->stack.empty() || c->density != 0) return Error(rel.r->left->position, alreadyDefined);
    c->size = rel.n;
    c->density = rel.density;
    c->parents = parents;
    c->numParents = static_cast<int32_t>(parents.size());
    c->label = rel.left.start;
  }
}

void StochasticRelation(Parser_Tree* r) {
  if (r->kind != Parser_stochastic) return;
  Relation rel;
  rel.r = r;
  rel.dist = r->right;
  if (!Offset(r->left, rel.left, true)) return;
  rel.n = rel.left.count;
  if (!CollectParameters(rel)) return;
  rel.density = DensityOf(rel.dist->kind);
  if (!RefuseSecondBounds(rel) || !CheckParameters(rel)) return;
  AssignDistribution(rel, ParentsOf(rel));
}

}  // namespace

void InitCodeGen() {
  CodeGen_error = false;
  origin.clear();
  writer = Writer{};
  hiddenParameters.clear();
  nextHidden = 0;
}

void CodeGen_WriteGraph(Parser_Tree* head) {
  CodeGen_error = false;
  hiddenParameters.clear();
  nextHidden = 0;
  Walk(head, AllocateNodes);
  if (!CodeGen_error) Walk(head, CodeRelation);
  if (!CodeGen_error) FoldPass();
  if (!CodeGen_error) Walk(head, StochasticRelation);
}
