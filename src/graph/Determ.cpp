#include "graph/Determ.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/Write.h"
#include "store/Graph.h"
#include "graph/Ops.h"
#include "language/Errors.h"
#include "language/SymTabs.h"
#include "numerics/MatrixAl.h"

thread_local constinit Graph_Node* Determ_activeNode = nullptr;
thread_local constinit bool Determ_fastLinear = false;
thread_local constinit Determ_ChainPart* Determ_part = nullptr;

namespace {

// The bound chain's leftOut entries, read by every evaluation of a linear
// form: kept apart from the part so that the hot path loads one pointer.
thread_local constinit int32_t* leftOutOf = nullptr;

void PointAtLeftOut() { leftOutOf = Determ_part != nullptr ? Determ_part->leftOut.data() : nullptr; }

// The link cache: the trace of the link that gave the value of the node
// just evaluated, from which a density finishes the logarithms it wants;
// noLink when no link gave that value, so that a reader never takes what
// some earlier evaluation left. Like all the scratch of one read below,
// each thread has its own.
thread_local constinit Determ_LinkTrace trace{};

constexpr double indexTolerance = 1.0E-6;
constexpr int matrixCapacity = MatrixAl_maxOrder * MatrixAl_maxOrder;  // 625

// Messages of the node-error report.
constexpr int indexAboveBound = 7;
constexpr int indexBelowOne = 8;
constexpr int undefinedParent = 78;
constexpr int tooComplex = 83;
constexpr int notExecuted = 85;

// Code that well-formed generation never produces: an op the interpreter
// does not execute, a value stack that would underflow or overflow, code or
// operands that run out. Stop rather than read or write out of bounds.
[[noreturn]] void Fault(const Graph_Node* node) { Errors_NodeError(node, notExecuted); }

// A matrix argument that is not positive definite has no inverse and no
// real log determinant; the run cannot go on with such a value.
[[noreturn]] void NotPositiveDefinite(const Graph_Node* node) {
  Write_Ln();
  Write_String("Matrix is not positive definite for node: ");
  SymTabs_Name label;
  if (SymTabs_LookUpLabel(node->label, label))
    Write_String(SymTabs_LabelText(label));
  else
    Write_Int(node->label, 0);
  Write_Ln();
  Write_Flush();
  Write_EndRun();
}

// The node with this number, for an evaluator of owner that addresses its
// operands by number.
Graph_Node* NodeAt(int64_t number, const Graph_Node* owner) {
  Graph_Node* found = nullptr;
  if (number >= 0 && number < Graph_totalNumNodes) found = Graph_Label(static_cast<int32_t>(number));
  if (found == nullptr) Errors_NodeError(owner, undefinedParent);
  return found;
}


// The inverse links, leaving their trace in the cache.
double Link(Determ_Link link, double x) {
  trace = Ops_StartLink(link, x);
  return Ops_LinkValue(trace);
}

double ExpLink(double x) { return Link(Determ_logLink, x); }
double ICLogLog(double x) { return Link(Determ_cloglogLink, x); }
double ILogit(double x) { return Link(Determ_logitLink, x); }
double Phi(double x) { return Link(Determ_probitLink, x); }

// The general interpreter over postfix code. The cache's link is kept equal to
// "the last op executed produced its value through a link": a link op sets
// it, a push through a value function leaves what the operand's own
// evaluation set, and every other op clears it. At the end it therefore
// speaks for this node's value and not for some operand's.
double StackValue(Graph_Node* node) {
  double s[Determ_stackSize];
  int top = 0;  // entries in use
  const std::vector<int32_t>& code = node->stack;
  const size_t codeSize = code.size();
  size_t numOperands = node->numParents > 0 ? static_cast<size_t>(node->numParents) : 0;
  if (numOperands > node->parents.size()) numOperands = node->parents.size();
  size_t pc = 0, operand = 0;
  for (;;) {
    if (pc >= codeSize) Fault(node);
    const int32_t op = code[pc++];
    switch (op) {
      case Determ_end:
        if (top == 0) Fault(node);
        return s[0];
      case Determ_push:
      case Determ_pushValue: {
        if (operand >= numOperands || top == Determ_stackSize) Fault(node);
        Graph_Node* p = node->parents[operand++];
        if (p == nullptr) Fault(node);
        trace.link = Determ_noLink;
        s[top++] = op == Determ_push ? Graph_ValueOf(p) : Graph_Own(p);
        break;
      }
      default: {
        // Dispatch by a switch, for speed; every case computes its value with
        // the operator's own procedure, the one constant folding uses.
        const int32_t arity = Ops_Of(op).arity;
        if (arity == 0 || top < arity) Fault(node);
        trace.link = Determ_noLink;
        if (arity == 2) {
          const double b = s[--top];
          double& a = s[top - 1];
          switch (op) {
            case Determ_add: a = Ops_Add(a, b); break;
            case Determ_subtract: a = Ops_Subtract(a, b); break;
            case Determ_multiply: a = Ops_Multiply(a, b); break;
            case Determ_divide: a = Ops_Divide(a, b); break;
            case Determ_max: a = Ops_Max(a, b); break;
            case Determ_min: a = Ops_Min(a, b); break;
            case Determ_pow: a = Ops_Pow(a, b); break;
            case Determ_equals: a = Ops_Equals(a, b); break;
            default: Fault(node);
          }
          break;
        }
        double& x = s[top - 1];
        switch (op) {
          case Determ_cloglog: x = Ops_CLogLog(x); break;
          case Determ_cos: x = Ops_Cos(x); break;
          case Determ_exp: x = Ops_Exp(x); break;
          case Determ_expLink: x = ExpLink(x); break;
          case Determ_icloglog: x = ICLogLog(x); break;
          case Determ_ilogit: x = ILogit(x); break;
          case Determ_log: x = Ops_Log(x); break;
          case Determ_logit: x = Ops_Logit(x); break;
          case Determ_logfact: x = Ops_LogFact(x); break;
          case Determ_loggam: x = Ops_LogGam(x); break;
          case Determ_phi: x = Phi(x); break;
          case Determ_sin: x = Ops_Sin(x); break;
          case Determ_sqrt: x = Ops_Sqrt(x); break;
          case Determ_step: x = Ops_Step(x); break;
          case Determ_negate: x = Ops_Negate(x); break;
          default: Fault(node);
        }
        break;
      }
    }
  }
}

// Code: 11, start a, n, stride a, start b, stride b.
double InnerProductValue(Graph_Node* node) {
  const std::vector<int32_t>& c = node->stack;
  if (c.size() < 6) Fault(node);
  const int64_t startA = c[1], n = c[2], strideA = c[3], startB = c[4], strideB = c[5];
  double sum = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    const double a = Graph_ValueOf(NodeAt(startA + i * strideA, node));
    const double b = Graph_ValueOf(NodeAt(startB + i * strideB, node));
    sum += a * b;
  }
  trace.link = Determ_noLink;
  return sum;
}

// Code: op, R, start, then R pairs (extent, stride), R from 1 to 3.
double StatsValue(Graph_Node* node) {
  const std::vector<int32_t>& c = node->stack;
  const int32_t ranges = c.size() >= 2 ? c[1] : 0;
  if (ranges < 1 || ranges > 3 || c.size() < static_cast<size_t>(3 + 2 * ranges)) Fault(node);
  int64_t extent[3] = {1, 1, 1}, stride[3] = {0, 0, 0};
  for (int k = 0; k < ranges; ++k) {
    extent[k] = c[3 + 2 * k];
    stride[k] = c[4 + 2 * k];
  }
  const int64_t start = c[2];
  double sum = 0.0, squares = 0.0;
  int64_t count = 0;
  for (int64_t i = 0; i < extent[0]; ++i)
    for (int64_t j = 0; j < extent[1]; ++j)
      for (int64_t k = 0; k < extent[2]; ++k) {
        const double v = Graph_ValueOf(NodeAt(start + i * stride[0] + j * stride[1] + k * stride[2], node));
        sum += v;
        squares += v * v;
        ++count;
      }
  trace.link = Determ_noLink;
  const double n = static_cast<double>(count);
  switch (c[0]) {
    case Determ_sum: return sum;
    case Determ_mean: return sum / n;
    case Determ_sd: {
      // Rounding can leave a tiny negative variance for equal values.
      const double variance = squares / n - (sum / n) * (sum / n);
      return std::sqrt(variance > 0.0 ? variance : 0.0);
    }
    default: Fault(node);
  }
}

double PickValue(Graph_Node* node) {
  Graph_Node* selected = NodeAt(Determ_Base(node), node);
  trace.link = Determ_noLink;  // an index's evaluation may have set it
  return Graph_ValueOf(selected);
}

// Copies the matrix argument of code 31 or 32 (op, first or 2, start,
// extent 1, stride 1, extent 2, stride 2) into m in the store's row-major
// order and returns its order n. Only a whole square matrix laid out
// row-major can be taken; anything else would not fill m exactly.
int LoadMatrix(Graph_Node* node, double (&m)[matrixCapacity]) {
  const std::vector<int32_t>& c = node->stack;
  if (c.size() < 7) Fault(node);
  const int64_t start = c[2], n = c[3];
  if (n < 1 || n > MatrixAl_maxOrder) Errors_NodeError(node, tooComplex);
  if (c[4] != 1 || c[5] != n || c[6] != n) Fault(node);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) {
      const int64_t offset = i + j * n;
      m[offset] = Graph_ValueOf(NodeAt(start + offset, node));
    }
  return static_cast<int>(n);
}

// Every component recomputes the whole inverse and returns its own element.
double InverseValue(Graph_Node* node) {
  double m[matrixCapacity];
  const int n = LoadMatrix(node, m);
  const int64_t position = static_cast<int64_t>(node->label) - node->stack[1];
  if (position < 0 || position >= static_cast<int64_t>(n) * n) Fault(node);
  if (!MatrixAl_InvertMatrixULDecomp(m, n)) NotPositiveDefinite(node);
  double inverse[matrixCapacity];
  for (int i = 0; i < n * n; ++i) inverse[i] = 0.0;
  for (int i = 0; i < n; ++i) inverse[i * n + i] = 1.0;
  MatrixAl_SimilarityTransform(m, inverse, n);
  trace.link = Determ_noLink;
  return inverse[position];
}

double LogDeterminantValue(Graph_Node* node) {
  double m[matrixCapacity];
  const int n = LoadMatrix(node, m);
  const double result = MatrixAl_LogDeterminant(m, n);
  if (std::isnan(result)) NotPositiveDefinite(node);
  trace.link = Determ_noLink;
  return result;
}

double Alias1Value(Graph_Node* node) {
  trace.link = Determ_noLink;
  return Graph_Own(node->parents[0]);
}

double Alias2Value(Graph_Node* node) {
  trace.link = Determ_noLink;
  Graph_Node* p = node->parents[0];
  return Graph_ValueOf(p);
}

// A linear form's code: entry 0 its final op, entry 1 twice its number of
// product pairs, entry 2 the place of its maintained sum, then the slots of
// its operands in order, so that its sum reads the chain's values without
// visiting each operand's record.
constexpr size_t firstSlot = 3;

void KeepSlots(Graph_Node* form) {
  const auto n = static_cast<size_t>(form->numParents);
  form->stack.resize(firstSlot + n);
  for (size_t i = 0; i < n; ++i) form->stack[firstSlot + i] = form->parents[i]->slot;
}

// The term of a linear form that holds position j: a product pair or a
// single value; nothing when j lies beyond the parents.
inline double Term(const int32_t* s, const double* v, int32_t m, int32_t n, int32_t j) {
  if (j < m) {
    const int32_t first = j & ~1;  // j is never negative
    return v[s[first]] * v[s[first + 1]];
  }
  if (j < n) return v[s[j]];
  return 0.0;
}

// The whole sum of a linear form.
inline double Sum(const int32_t* s, const double* v, int32_t m, int32_t n) {
  double eta = 0.0;
  for (int32_t i = 0; i < m; i += 2) eta += v[s[i]] * v[s[i + 1]];
  for (int32_t i = m; i < n; ++i) eta += v[s[i]];
  return eta;
}

inline double FormSum(const Graph_Node* form) {
  return Sum(form->stack.data() + firstSlot, Graph_valueData, form->stack[1], form->numParents);
}

// The whole sum, with the partial sum and leftOut set for the active node:
// kept out of line so that the fast path of Eta needs few registers.
[[gnu::noinline]] double EtaAfresh(Graph_Node* node, const int32_t* s, double* v, int32_t m, int32_t n) {
  const double eta = Sum(s, v, m, n);
  if (n <= 4) return eta;
  Graph_Node* const* p = node->parents.data();
  int32_t j = 0;
  while (j < n && p[j] != Determ_activeNode) ++j;
  // The term at j is a product pair below m, else a single value.
  int32_t k = j < m ? (j & ~1) + 2 : j + 1;
  while (k < n && p[k] != Determ_activeNode) ++k;
  int32_t& leftOut = leftOutOf[node->slot];
  if (j < n && k < n) {
    leftOut = n + 1;
  } else {
    leftOut = j;
    v[node->slot] = j < n ? eta - Term(s, v, m, n, j) : eta;
  }
  return eta;
}

// The linear predictor eta of a linear form. With the fast path off (or too
// few parents for it to pay) the whole sum is formed and, for five or more
// parents, the sum without the active node's term is kept in value with
// that term's position in the chain's leftOut (n when the node is no parent).
// An active node that holds more than one term (a + b * z + b * w) leaves no
// single term to re-form: leftOut is then n + 1 and the fast path forms
// the whole sum. With the fast path on, only the active node's term is
// formed afresh.
double Eta(Graph_Node* node) {
  const int32_t* c = node->stack.data();
  const int32_t* s = c + firstSlot;
  double* v = Graph_valueData;
  const int32_t n = node->numParents;
  const int32_t m = c[1];
  if (Determ_fastLinear && n > 4) {
    const int32_t j = leftOutOf[node->slot];
    if (j < n) return v[node->slot] + Term(s, v, m, n, j);
    return j == n ? v[node->slot] : Sum(s, v, m, n);
  }
  return EtaAfresh(node, s, v, m, n);
}

double LinearValue(Graph_Node* node) {
  trace.link = Determ_noLink;
  return Eta(node);
}

// A linear form kept up to date by the samplers of its unknowns: its whole
// sum is in the maintained sums, at the position code entry 2 holds.
double MaintainedValue(Graph_Node* node) {
  trace.link = Determ_noLink;
  return Determ_part->sums[static_cast<size_t>(node->stack[2])];
}

double Exp1Value(Graph_Node* node) { return ExpLink(Eta(node)); }
double InverseCLogLogValue(Graph_Node* node) { return ICLogLog(Eta(node)); }
double InverseLogitValue(Graph_Node* node) { return ILogit(Eta(node)); }
double ProbitValue(Graph_Node* node) { return Phi(Eta(node)); }

// ---- sharing values within one evaluation
//
// Every reader asks a logical node for its value, and a node's code asks its
// operands in turn, so a node reached along several paths would be computed
// once per path (exponentially often in a chain such as f[i] <- f[i-1] +
// f[i-2]), and each level of a chain would hold a native call frame (the
// matrix evaluators hold two buffers of 625 entries each). Instead, the
// outermost read (the one no evaluator made) walks the computed operands
// of the node with an explicit stack and evaluates them in post-order, each
// once, keeping each value stamped with the number of that read; the
// evaluators then find their operands' values already there. No
// stochastic value changes while an evaluation runs, and a value kept is
// never used by a later read (each outermost read has a new number), so
// samplers and whoever else writes stored values need not tell anyone.

// A thread's reads share nothing with another thread's: every piece of
// this bookkeeping is the thread's own.
thread_local constinit uint64_t stamp = 0;           // the number of the outermost read running or last run
thread_local constinit bool inside = false;          // an outermost read is running
thread_local constinit Graph_Node* ready = nullptr;  // a node whose operands the walk has just evaluated
constexpr int32_t pending = -1;   // the kept link of a node on the walk's stack

struct Frame {
  Graph_Node* node;
  int64_t next;  // the operand to look at next
};
thread_local std::vector<Frame> frames;  // kept from read to read: no allocation once grown

// The evaluators installed in logical nodes (defined below).
double Stack(Graph_Node* node);
double InnerProduct(Graph_Node* node);
double Stats(Graph_Node* node);
double Pick(Graph_Node* node);
double Inverse(Graph_Node* node);
double LogDeterminant(Graph_Node* node);
double Alias2(Graph_Node* node);

// What one read keeps of a node, by node number. Kept apart from the nodes
// so that the records the samplers touch stay small.
struct Kept {
  uint64_t stamp = 0;
  double value = 0.0;
  Determ_LinkTrace trace;  // what its inverse link left
  int32_t link = 0;        // pending while the node is on the walk's stack
};
thread_local std::vector<Kept> kept;
// Its entries and their count, kept beside it for the hot path: plain
// thread-local values are read directly, while the table itself, which has
// a destructor, is reached through a check of whether this thread has made
// it yet.
thread_local constinit Kept* keptData = nullptr;
thread_local constinit size_t keptCount = 0;

// Makes room for every node; the table grows only when nodes were added
// since the last read, so never within a sampler's sweep.
void MakeRoom() {
  if (keptCount >= static_cast<size_t>(Graph_totalNumNodes)) return;
  kept.resize(static_cast<size_t>(Graph_totalNumNodes));
  keptData = kept.data();
  keptCount = kept.size();
}

bool Tracked(const Graph_Node* node) { return node->label >= 0 && static_cast<size_t>(node->label) < keptCount; }
Kept& Entry(const Graph_Node* node) { return keptData[node->label]; }

// A logical node whose evaluator reads computed operands: the walk
// evaluates it before its readers. The other evaluators read stored values
// only; they are computed when first read within a walk and kept then, and
// a node that reads only such operands needs no walk at all.
bool Walked(const Graph_Node* node) {
  if (node->kind != Graph_logical) return false;
  const Graph_Proc f = node->valueFunction;
  return (f == Stack || f == Alias2 || f == InnerProduct || f == Stats || f == Pick || f == Inverse ||
          f == LogDeterminant) &&
         Tracked(node);
}

void Keep(Graph_Node* node, double value) {
  Kept& e = Entry(node);
  e.stamp = stamp;
  e.value = value;
  e.link = 0;
  e.trace = trace;
}

// A kept value, with the link cache as the node's own evaluation left it.
double Recall(const Graph_Node* node) {
  const Kept& e = Entry(node);
  trace = e.trace;
  return e.value;
}

// The k-th operand that node reads through a value function, in the order
// its evaluator reads them; null for an operand that holds its own value;
// end set past the last. Code the evaluator would refuse has no operands
// here: the evaluator reports it.
Graph_Node* OperandAt(Graph_Node* node, int64_t k, bool& end) {
  const Graph_Proc f = node->valueFunction;
  const std::vector<int32_t>& c = node->stack;
  end = false;
  if (f == Stack || f == Alias2) {
    size_t count = node->numParents > 0 ? static_cast<size_t>(node->numParents) : 0;
    if (count > node->parents.size()) count = node->parents.size();
    if (f == Alias2 && count > 1) count = 1;
    if (static_cast<size_t>(k) < count) return node->parents[static_cast<size_t>(k)];
  } else if (f == InnerProduct) {
    if (c.size() >= 6 && k < 2 * static_cast<int64_t>(c[2])) {
      const int64_t i = k / 2;
      return NodeAt(k % 2 == 0 ? c[1] + i * c[3] : c[4] + i * c[5], node);
    }
  } else if (f == Stats) {
    const int32_t ranges = c.size() >= 2 ? c[1] : 0;
    if (ranges >= 1 && ranges <= 3 && c.size() >= static_cast<size_t>(3 + 2 * ranges)) {
      int64_t extent[3] = {1, 1, 1}, stride[3] = {0, 0, 0};
      for (int r = 0; r < ranges; ++r) {
        extent[r] = c[3 + 2 * r];
        stride[r] = c[4 + 2 * r];
      }
      if (extent[0] > 0 && extent[1] > 0 && extent[2] > 0 && k < extent[0] * extent[1] * extent[2]) {
        const int64_t l = k % extent[2], j = k / extent[2] % extent[1], i = k / (extent[1] * extent[2]);
        return NodeAt(c[2] + i * stride[0] + j * stride[1] + l * stride[2], node);
      }
    }
  } else if (f == Pick) {
    const int32_t dims = c.size() >= 2 ? c[1] : 0;
    if (dims >= 1 && dims <= 3 && c.size() >= static_cast<size_t>(3 + 2 * dims) &&
        node->parents.size() >= static_cast<size_t>(dims)) {
      if (k < dims) return node->parents[static_cast<size_t>(k)];
      // The indices have their values now: the selected node comes next.
      if (k == dims) return NodeAt(Determ_Base(node), node);
    }
  } else if (f == Inverse || f == LogDeterminant) {
    if (c.size() >= 7) {
      const int64_t n = c[3];
      if (n >= 1 && n <= MatrixAl_maxOrder && c[4] == 1 && c[5] == n && c[6] == n && k < n * n)
        return NodeAt(c[2] + k / n + k % n * n, node);
    }
  }
  end = true;
  return nullptr;
}

// The next operand of node, from position next on, that the walk evaluates
// and that is not yet evaluated in this read, or null; next moves past it.
Graph_Node* NextOperand(Graph_Node* node, int64_t& next) {
  for (;;) {
    bool end = false;
    Graph_Node* operand = OperandAt(node, next++, end);
    if (end) return nullptr;
    if (operand == nullptr || !Walked(operand)) continue;
    if (Entry(operand).stamp != stamp) return operand;
    // On the walk's stack still: the operands form a cycle, which node
    // generation refuses; stop rather than go round it.
    if (Entry(operand).link == pending) Fault(operand);
  }
}

// Evaluates root and every computed node it reads, each once, operands
// before their readers, and keeps their values for this read.
void Walk(Graph_Node* root, int64_t from) {
  const size_t base = frames.size();
  Entry(root).stamp = stamp;
  Entry(root).link = pending;
  frames.push_back({root, from});
  while (frames.size() > base) {
    // Finding a selected element reads its indices, which could walk too
    // (and leave the stack as it was): hold no reference into it meanwhile.
    const size_t top = frames.size() - 1;
    int64_t at = frames[top].next;
    Graph_Node* next = NextOperand(frames[top].node, at);
    frames[top].next = at;
    if (next != nullptr) {
      Entry(next).stamp = stamp;
      Entry(next).link = pending;
      frames.push_back({next, 0});
      continue;
    }
    Graph_Node* node = frames.back().node;
    frames.pop_back();
    ready = node;
    node->valueFunction(node);  // keeps its value
    ready = nullptr;
  }
}

// The evaluator of a node that reads computed operands.
template <double (*Compute)(Graph_Node*)>
double Shared(Graph_Node* node) {
  if (inside) {
    if (!Tracked(node)) return Compute(node);  // a node outside the store
    if (node == ready) {
      ready = nullptr;
      const double value = Compute(node);
      Keep(node, value);
      return value;
    }
    if (Entry(node).stamp == stamp) {
      if (Entry(node).link == pending) Fault(node);
      return Recall(node);
    }
    // An operand the walk did not foresee: walk it now.
    Walk(node, 0);
    return Recall(node);
  }
  ++stamp;
  MakeRoom();
  if (!Tracked(node)) return Compute(node);  // a node outside the store
  // Inside is still false here: an index the probe evaluates is an outermost
  // read of its own, which is right, as nothing is kept yet.
  int64_t first = 0;
  if (NextOperand(node, first) == nullptr) return Compute(node);  // nothing to share
  inside = true;
  Walk(node, first - 1);
  inside = false;
  return Recall(node);
}

// The evaluator of a node that reads only stored values: a value kept in
// this read if there is one, else its own computation.
template <double (*Compute)(Graph_Node*)>
double Leaf(Graph_Node* node) {
  if (!inside || !Tracked(node)) return Compute(node);
  if (Entry(node).stamp == stamp && Entry(node).link != pending) return Recall(node);
  const double value = Compute(node);
  Keep(node, value);
  return value;
}

double Stack(Graph_Node* node) { return Shared<StackValue>(node); }
double InnerProduct(Graph_Node* node) { return Shared<InnerProductValue>(node); }
double Stats(Graph_Node* node) { return Shared<StatsValue>(node); }
double Pick(Graph_Node* node) { return Shared<PickValue>(node); }
double Inverse(Graph_Node* node) { return Shared<InverseValue>(node); }
double LogDeterminant(Graph_Node* node) { return Shared<LogDeterminantValue>(node); }
double Alias2(Graph_Node* node) { return Shared<Alias2Value>(node); }
double Alias1(Graph_Node* node) { return Leaf<Alias1Value>(node); }
double Linear(Graph_Node* node) { return Leaf<LinearValue>(node); }
double Maintained(Graph_Node* node) { return Leaf<MaintainedValue>(node); }
double Exp1(Graph_Node* node) { return Leaf<Exp1Value>(node); }
double InverseCLogLog(Graph_Node* node) { return Leaf<InverseCLogLogValue>(node); }
double InverseLogit(Graph_Node* node) { return Leaf<InverseLogitValue>(node); }
double Probit(Graph_Node* node) { return Leaf<ProbitValue>(node); }

bool IsLinkOp(int32_t op) { return Ops_Of(op).link; }

// The bound chain's stored value of the linear form is its whole sum: no
// term is left out.
void HoldsWholeSum(const Graph_Node* node) {
  std::vector<int32_t>& leftOut = Determ_part->leftOut;
  const auto at = static_cast<size_t>(node->slot);
  if (leftOut.size() <= at) {
    leftOut.resize(std::max(Graph_values->size(), at + 1), 0);
    PointAtLeftOut();
  }
  leftOut[at] = node->numParents;
}

// Rewrites an accepted linear predictor: the product pairs first, each
// most recent factor first, then the single terms, most recent first.
void OptLinear(Graph_Node* node, int32_t finalOp) {
  std::vector<int32_t>& c = node->stack;
  size_t available = node->numParents > 0 ? static_cast<size_t>(node->numParents) : 0;
  if (available > node->parents.size()) available = node->parents.size();
  std::vector<Graph_Node*> work, out;
  size_t operand = 0;
  int32_t products = 0;
  for (size_t pos = 0; pos < c.size() && c[pos] != Determ_end; ++pos) {
    if (c[pos] == Determ_pushValue) {
      if (operand >= available || node->parents[operand] == nullptr) return;  // leave it to the interpreter
      work.push_back(node->parents[operand++]);
    } else if (c[pos] == Determ_multiply) {
      for (int k = 0; k < 2; ++k) {
        out.push_back(work.back());
        work.pop_back();
      }
      ++products;
    }
  }
  for (auto it = work.rbegin(); it != work.rend(); ++it) out.push_back(*it);
  const int32_t n = static_cast<int32_t>(out.size());
  node->parents = std::move(out);
  node->numParents = n;
  if (c.size() < 3) c.resize(3);
  c[0] = finalOp;
  c[1] = 2 * products;
  // No node is active yet: the cache holds the whole sum, as if none were.
  c[2] = n;
  switch (finalOp) {
    case Determ_expLink: node->valueFunction = Exp1; break;
    case Determ_icloglog: node->valueFunction = InverseCLogLog; break;
    case Determ_ilogit: node->valueFunction = InverseLogit; break;
    case Determ_phi: node->valueFunction = Probit; break;
    default: node->valueFunction = Linear; break;
  }
  KeepSlots(node);
  Graph_Own(node) = FormSum(node);
  HoldsWholeSum(node);
}

// An inner product of stored values is the linear form of its product
// pairs, taken in the order the inner product adds them, so its sum is the
// same to the last bit; a factor that is computed keeps the general loop.
void OptInnerProduct(Graph_Node* node) {
  const std::vector<int32_t>& c = node->stack;
  if (c.size() < 6) return;
  const int64_t startA = c[1], n = c[2], strideA = c[3], startB = c[4], strideB = c[5];
  if (n < 1) return;
  std::vector<Graph_Node*> pairs;
  pairs.reserve(static_cast<size_t>(2 * n));
  for (int64_t i = 0; i < n; ++i)
    for (const int64_t number : {startA + i * strideA, startB + i * strideB}) {
      Graph_Node* operand = number >= 0 && number < Graph_totalNumNodes ? Graph_Label(static_cast<int32_t>(number)) : nullptr;
      if (operand == nullptr || operand->kind == Graph_logical || operand->valueFunction != Graph_Value) return;
      pairs.push_back(operand);
    }
  const auto count = static_cast<int32_t>(pairs.size());
  node->parents = std::move(pairs);
  node->numParents = count;
  node->stack = {Determ_end, count, count};
  node->valueFunction = Linear;
  KeepSlots(node);
  Graph_Own(node) = FormSum(node);
  HoldsWholeSum(node);
}

// A node whose code is a sum of stored values and of products of two stored
// values, under at most one inverse link as its last op, becomes a linear
// form; a plain reference becomes an alias. Anything else keeps its evaluator.
void Optimize(Graph_Node* node) {
  const std::vector<int32_t>& c = node->stack;
  if (!c.empty() && c[0] == Determ_inprod) return OptInnerProduct(node);
  if (c.size() >= 2 && c[1] == Determ_end && node->numParents >= 1 && !node->parents.empty() &&
      node->parents[0] != nullptr) {
    if (c[0] == Determ_pushValue) {
      node->valueFunction = Alias1;
      return;
    }
    if (c[0] == Determ_push) {
      node->valueFunction = Alias2;
      return;
    }
  }
  size_t pos = 0;
  while (pos < c.size()) {
    const int32_t op = c[pos];
    const bool product =
        op == Determ_multiply && pos >= 2 && c[pos - 1] == Determ_pushValue && c[pos - 2] == Determ_pushValue;
    if (op != Determ_add && op != Determ_pushValue && !product) break;
    ++pos;
  }
  if (pos == 0 || pos >= c.size()) return;
  const int32_t op = c[pos];
  // A link op counts only as the last op: phi is also an ordinary function,
  // and phi(a) + b is not the probit of a + b.
  if (op == Determ_end || (IsLinkOp(op) && pos + 1 < c.size() && c[pos + 1] == Determ_end))
    OptLinear(node, op);
}

}  // namespace

void InitDeterm() {
  Determ_activeNode = nullptr;
  Determ_fastLinear = false;
  if (Determ_part != nullptr) *Determ_part = {};
  PointAtLeftOut();
  trace = {};
  inside = false;
  ready = nullptr;
  frames.clear();
  kept.clear();
  keptData = nullptr;
  keptCount = 0;
}

void Determ_SetValueFunction(Graph_Node* node) {
  const int32_t op = node->stack.empty() ? 0 : node->stack[0];
  switch (op) {
    case Determ_inprod: node->valueFunction = InnerProduct; break;
    case Determ_mean:
    case Determ_sd:
    case Determ_sum: node->valueFunction = Stats; break;
    case Determ_pick: node->valueFunction = Pick; break;
    case Determ_inverse: node->valueFunction = Inverse; break;
    case Determ_logdet: node->valueFunction = LogDeterminant; break;
    default: node->valueFunction = Stack; break;
  }
}

// Code: 20, K, base, then K pairs (dimension, stride); the K index nodes are
// the parents.
int32_t Determ_Base(Graph_Node* node) {
  const std::vector<int32_t>& c = node->stack;
  if (c.empty() || c[0] != Determ_pick) return node->label;
  const int32_t dims = c.size() >= 2 ? c[1] : 0;
  if (dims < 1 || dims > 3 || c.size() < static_cast<size_t>(3 + 2 * dims) ||
      node->parents.size() < static_cast<size_t>(dims))
    Fault(node);
  int64_t base = c[2];
  for (int32_t k = 0; k < dims; ++k) {
    Graph_Node* index = node->parents[k];
    if (index == nullptr) Fault(node);
    const double i = std::trunc(Graph_ValueOf(index) + indexTolerance);
    if (!(i >= 1.0)) Errors_NodeError(node, indexBelowOne);
    if (i > c[3 + 2 * k]) Errors_NodeError(node, indexAboveBound);
    base += (static_cast<int64_t>(i) - 1) * c[4 + 2 * k];
  }
  if (base < 0 || base >= Graph_totalNumNodes) Fault(node);
  return static_cast<int32_t>(base);
}

namespace {

// The inverse link of a linear form's evaluator; noLink for any other.
Determ_Link LinkOf(Graph_Proc f) {
  if (f == InverseLogit) return Determ_logitLink;
  if (f == Probit) return Determ_probitLink;
  if (f == InverseCLogLog) return Determ_cloglogLink;
  if (f == Exp1) return Determ_logLink;
  return Determ_noLink;
}

}  // namespace

// A linear predictor under a link is read for its predictor alone, as its
// evaluator would read it (the partial sums it keeps for the active node
// behave the same); inside a read that keeps values, its kept value and
// trace serve instead.
Determ_LinkTrace Determ_Trace(Graph_Node* node) {
  const Graph_Proc f = node->valueFunction;
  if (!inside) {
    const Determ_Link link = LinkOf(f);
    if (link != Determ_noLink) return Ops_StartLink(link, Eta(node));
  }
  trace.link = Determ_noLink;
  const double value = f(node);
  if (trace.link != Determ_noLink) return trace;
  Determ_LinkTrace plain;
  plain.x = value;
  return plain;
}

bool Determ_LogitPredictor(Graph_Node* form, double& eta) {
  if (inside || LinkOf(form->valueFunction) != Determ_logitLink) return false;
  eta = Eta(form);
  return true;
}

bool Determ_LogitParts(const Graph_Node* form, double& partial, double& factor) {
  const int32_t n = form->numParents;
  if (LinkOf(form->valueFunction) != Determ_logitLink || n <= 4) return false;
  const int32_t j = leftOutOf[form->slot];
  if (j >= n) return false;
  const double* v = Graph_valueData;
  partial = v[form->slot];
  if (j >= form->stack[1]) {
    factor = 1.0;
    return true;
  }
  const int32_t partner = j ^ 1;
  if (form->parents[static_cast<size_t>(partner)] == Determ_activeNode) return false;
  factor = v[form->stack[static_cast<size_t>(firstSlot + partner)]];
  return true;
}

void Determ_MeanLogMean(Graph_Node* node, double& mean, double& lnMean) {
  Determ_LinkTrace t = Determ_Trace(node);
  mean = Ops_LinkValue(t);
  lnMean = Ops_MeanLog(t, mean);
}

void Determ_LogProportion(Graph_Node* node, double& lnP, double& lnQ) {
  Determ_LinkTrace t = Determ_Trace(node);
  Ops_ProportionLogs(t, lnP, lnQ);
}

Determ_Snapshot::Determ_Snapshot() : outermost(!inside) {
  if (!outermost) return;
  ++stamp;
  inside = true;
  MakeRoom();
}

Determ_Snapshot::~Determ_Snapshot() {
  if (outermost) inside = false;
}

void Determ_OptDeterm() {
  for (int32_t i = 0; i < Graph_totalNumNodes; ++i) {
    Graph_Node* node = Graph_Label(i);
    if (node != nullptr && node->kind == Graph_logical) Optimize(node);
  }
}

bool Determ_IsLinearForm(const Graph_Node* node) {
  return node->valueFunction == Linear || node->valueFunction == Maintained;
}

bool Determ_LinearCoefficient(const Graph_Node* form, const Graph_Node* x, double& coefficient) {
  if (!Determ_IsLinearForm(form)) return false;
  Graph_Node* const* p = form->parents.data();
  const int32_t n = form->numParents, m = form->stack[1];
  int32_t found = 0;
  for (int32_t j = 0; j < n; ++j) {
    if (p[j] != x) continue;
    if (++found > 1) return false;
    if (j < m) {
      const Graph_Node* partner = p[j % 2 == 0 ? j + 1 : j - 1];
      if (partner == x || partner->kind != Graph_data) return false;
      coefficient = Graph_Own(partner);
    } else {
      coefficient = 1.0;
    }
  }
  return found == 1;
}

int32_t Determ_LinearUnknowns(const Graph_Node* form) {
  int32_t count = 0;
  for (int32_t j = 0; j < form->numParents; ++j)
    if (form->parents[static_cast<size_t>(j)]->kind != Graph_data) ++count;
  return count;
}

void Determ_Maintain(const std::vector<Graph_Node*>& forms) {
  for (size_t i = 0; i < forms.size(); ++i) {
    Graph_Node* form = forms[i];
    form->valueFunction = Maintained;
    form->stack[2] = static_cast<int32_t>(i);
  }
}

void Determ_Release(const std::vector<Graph_Node*>& forms) {
  for (Graph_Node* form : forms) {
    form->valueFunction = Linear;
    form->stack[2] = form->numParents;
  }
}

void Determ_Resum(const std::vector<Graph_Node*>& forms) {
  std::vector<double>& sums = Determ_part->sums;
  sums.resize(forms.size());
  for (size_t i = 0; i < forms.size(); ++i) {
    sums[i] = FormSum(forms[i]);
  }
}

void Determ_Unmaintain(const std::vector<Graph_Node*>& forms) {
  for (const Graph_Node* form : forms) {
    Graph_Own(form) = FormSum(form);
    HoldsWholeSum(form);
  }
  Determ_part->sums.clear();
}

void Determ_Bind(Determ_ChainPart* part) {
  Determ_part = part;
  PointAtLeftOut();
}
