#include "graph/FoldCons.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "graph/Determ.h"
#include "store/Graph.h"
#include "graph/Ops.h"

namespace {

constexpr int32_t constantOp = 200;     // a constant held in the record
constexpr int32_t passThroughOp = 100;  // stands for its left child
constexpr int32_t none = -1;            // no record
// Identities treat a constant this close to 0 or 1 as 0 or 1.

// One operation or operand of the expression tree. Children are indices into
// the pool, always smaller than the parent's own index.
struct Record {
  int32_t op;
  double constant;
  Graph_Node* node;  // operand node, the data node behind a constant, or null
  int32_t left, right;
};

// Every code entry before op 21 makes at most one record, and a code never
// holds more than Graph_maxCode entries: a fixed pool, reused for every node.
constexpr int32_t poolSize = Graph_maxCode;
std::array<Record, poolSize> pool;
int32_t poolUsed = 0;

// The rewritten code and, for each operand written, its record. Filled
// completely before anything in the node changes.
std::array<int32_t, poolSize + 1> newCode;
std::array<int32_t, poolSize> operandRecords;

bool IsOneOperand(int32_t op) { return Ops_Of(op).arity == 1; }
bool IsTwoOperand(int32_t op) { return Ops_Of(op).arity == 2; }

bool IsOperand(int32_t op) { return op == Determ_push || op == Determ_pushValue || op == constantOp; }

int32_t NewRecord() {
  pool[poolUsed] = Record{Determ_push, 0.0, nullptr, none, none};
  return poolUsed++;
}

// The tree of a general postfix code, or none when the code is special,
// malformed or would overflow the interpreter's value stack: such a node keeps
// its code as it is.
int32_t BuildTree(const Graph_Node& node) {
  std::array<int32_t, Determ_stackSize> work;
  int32_t depth = 0;
  size_t nextParent = 0;
  poolUsed = 0;
  for (const int32_t op : node.stack) {
    if (op == Determ_end) return depth == 1 ? work[0] : none;
    if (poolUsed == poolSize) return none;
    if (op == Determ_push) {
      if (depth == Determ_stackSize || nextParent >= node.parents.size()) return none;
      Graph_Node* operand = node.parents[nextParent++];
      if (operand == nullptr) return none;
      const int32_t r = NewRecord();
      pool[r].node = operand;
      work[depth++] = r;
    } else if (IsOneOperand(op)) {
      if (depth < 1) return none;
      const int32_t r = NewRecord();
      pool[r].op = op;
      pool[r].left = work[depth - 1];
      work[depth - 1] = r;
    } else if (IsTwoOperand(op)) {
      if (depth < 2) return none;
      const int32_t r = NewRecord();
      pool[r].op = op;
      pool[r].left = work[depth - 2];
      pool[r].right = work[depth - 1];
      work[depth - 2] = r;
      --depth;
    } else {
      return none;  // special codes, and anything the interpreter would refuse
    }
  }
  return none;  // no op 21
}

// The identities hold only for an exact 0 or 1: 1.0E-13 * theta is not 0,
// and folding must never give a value that evaluating would not.
bool IsZero(const Record& r) { return r.op == constantOp && r.constant == 0.0; }
bool IsOne(const Record& r) { return r.op == constantOp && r.constant == 1.0; }

void MakeConstant(Record& r, double value, Graph_Node* holder) {
  r = Record{constantOp, value, holder, none, none};
}

// The record now stands for one of its children.
void PassThrough(Record& r, int32_t child) {
  r.op = passThroughOp;
  r.left = child;
  r.right = none;
}

// A constant operation is computed by the operator's own value procedure,
// the one the interpreter calls, so folding never changes a value. A link
// folded here leaves no logarithms behind: nothing reads them.
void FoldTwoOperands(Record& r, const Record& a, const Record& b) {
  const double value = Ops_Of(r.op).binary(a.constant, b.constant);
  switch (r.op) {
    // The chosen operand's node already holds the result: no new node needed.
    case Determ_max: MakeConstant(r, value, a.constant >= b.constant ? a.node : b.node); break;
    case Determ_min: MakeConstant(r, value, a.constant <= b.constant ? a.node : b.node); break;
    default: MakeConstant(r, value, nullptr); break;
  }
}

// Identities with exactly one constant operand.
void RemoveIdentity(Record& r) {
  const Record& a = pool[r.left];
  const Record& b = pool[r.right];
  switch (r.op) {
    case Determ_add:
      if (IsZero(a)) PassThrough(r, r.right);
      else if (IsZero(b)) PassThrough(r, r.left);
      break;
    case Determ_subtract:
      if (IsZero(a)) {
        r.op = Determ_negate;
        r.left = r.right;
        r.right = none;
      } else if (IsZero(b)) {
        PassThrough(r, r.left);
      }
      break;
    case Determ_multiply:
      if (IsZero(a)) MakeConstant(r, 0.0, a.node);
      else if (IsZero(b)) MakeConstant(r, 0.0, b.node);
      else if (IsOne(a)) PassThrough(r, r.right);
      else if (IsOne(b)) PassThrough(r, r.left);
      break;
    case Determ_divide:
      if (IsZero(a)) MakeConstant(r, 0.0, nullptr);
      else if (IsOne(b)) PassThrough(r, r.left);
      break;
    case Determ_pow:
      if (IsOne(b)) PassThrough(r, r.left);
      break;
    default:
      break;
  }
}

void OptimizeRecord(Record& r) {
  if (r.op == Determ_push) {
    // Data is constant; a stochastic operand is read from its stored value;
    // a logical operand must still be computed.
    if (r.node->kind == Graph_data) MakeConstant(r, Graph_Own(r.node), r.node);
    else if (r.node->kind != Graph_logical) r.op = Determ_pushValue;
  } else if (IsOneOperand(r.op)) {
    const Record& a = pool[r.left];
    if (a.op == constantOp) MakeConstant(r, Ops_Of(r.op).unary(a.constant), nullptr);
  } else {
    const Record& a = pool[r.left];
    const Record& b = pool[r.right];
    if (a.op == constantOp && b.op == constantOp) FoldTwoOperands(r, a, b);
    else if (a.op == constantOp || b.op == constantOp) RemoveIdentity(r);
  }
}

// Records were made in postfix order, so walking the pool from the start
// handles every child (left, then right) before its parent.
void OptimizeTree() {
  for (int32_t i = 0; i < poolUsed; ++i) OptimizeRecord(pool[i]);
}

// Writes the tree in postfix order into newCode, ending with op 21, and
// notes the record of each operand. False if the scratch arrays would not
// hold it (a tree never needs more room than the pool).
bool WriteTree(int32_t root, int32_t& codeLength, int32_t& operands) {
  struct Step {
    int32_t record;
    bool childrenWritten;
  };
  // Each record is pushed at most twice: once to expand, once to emit.
  std::array<Step, 2 * poolSize> todo;
  int32_t top = 0;
  codeLength = 0;
  operands = 0;
  todo[top++] = Step{root, false};
  while (top > 0) {
    const Step step = todo[--top];
    const Record& r = pool[step.record];
    if (IsOperand(r.op)) {
      if (codeLength >= poolSize || operands >= poolSize) return false;
      newCode[codeLength++] = r.op == Determ_push ? Determ_push : Determ_pushValue;
      operandRecords[operands++] = step.record;
    } else if (step.childrenWritten) {
      if (r.op == passThroughOp) continue;
      if (codeLength >= poolSize) return false;
      newCode[codeLength++] = r.op;
    } else {
      if (top + 3 > static_cast<int32_t>(todo.size())) return false;
      todo[top++] = Step{step.record, true};
      if (r.right != none) todo[top++] = Step{r.right, false};
      todo[top++] = Step{r.left, false};
    }
  }
  newCode[codeLength++] = Determ_end;
  return true;
}

void FoldNode(Graph_Node& node) {
  const int32_t root = BuildTree(node);
  if (root == none) return;
  OptimizeTree();
  int32_t codeLength = 0, operands = 0;
  if (!WriteTree(root, codeLength, operands)) return;
  // Never longer than the code read, so the node's own arrays hold it.
  if (static_cast<size_t>(codeLength) > node.stack.size() ||
      static_cast<size_t>(operands) > node.parents.size())
    return;
  for (int32_t i = 0; i < codeLength; ++i) node.stack[i] = newCode[i];
  for (int32_t i = 0; i < operands; ++i) {
    const Record& r = pool[operandRecords[i]];
    Graph_Node* operand = r.node;
    if (operand == nullptr) {
      // A constant computed here gets a node of its own to hold it.
      operand = Graph_NewNode();
      operand->kind = Graph_data;
      Graph_Own(operand) = r.constant;
      Graph_Link(operand);
    }
    node.parents[i] = operand;
  }
  node.numParents = operands;
  // Shrinking keeps the storage; nothing stale is left past the new end.
  node.stack.resize(codeLength);
  node.parents.resize(operands);
}

}  // namespace

void InitFoldCons() { poolUsed = 0; }

void FoldCons_FoldConstants() {
  // Nodes made here are data and need no folding.
  const int32_t count = Graph_totalNumNodes;
  for (int32_t i = 0; i < count; ++i) {
    Graph_Node* node = Graph_Label(i);
    if (node != nullptr && node->kind == Graph_logical) FoldNode(*node);
  }
}
