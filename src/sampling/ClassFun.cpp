#include "sampling/ClassFun.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "store/Distrib.h"
#include "graph/Ops.h"

// Classification follows the code of logical nodes symbolically. Every read
// of code, operands and element numbers is checked: code that does not have
// the shape node generation writes is classified generalForm, the one answer
// that never lets the update-method choice assume structure that is not there.
//
// Each logical node is classified once with respect to one updated block:
// the class of a node depends only on the graph and on the block, so it is
// remembered (by node number, in a table stamped with a generation) and a
// node reached along several paths, or by many likelihood terms of the same
// node, costs one look-up after the first. Without a ClassFun_Memo the table
// lasts for one call; with one it lasts while the memo exists, which is how
// the update-method choice classifies all the terms of one node.
//
// The walk is iterative: a node's logical operands, elements and candidates
// are classified first, from an explicit stack of pending nodes, and the
// node itself is then classified by reading their remembered classes. A
// logical chain of any length therefore needs no call stack beyond one
// level. A node met again while it is still pending closes a cycle (the
// model checks refuse those); it reads as generalForm.

namespace {

constexpr int32_t numClasses = 11;
constexpr int32_t general = ClassFun_generalForm;
constexpr size_t stackCapacity = 20;
constexpr int32_t maxIndices = 3;  // a variable has at most three indices

using Unary = std::array<int32_t, numClasses>;
using Binary = std::array<Unary, numClasses>;

constexpr bool IsClass(int32_t c) { return c >= 0 && c < numClasses; }
constexpr bool IsConstant(int32_t c) { return c >= ClassFun_nonNegConst && c <= ClassFun_anyConst; }

// Short names of the classes, for the tables below.
constexpr int32_t nn = ClassFun_nonNegConst, ng = ClassFun_negConst, an = ClassFun_anyConst,
                  id = ClassFun_identity, sc = ClassFun_scaledIdentity, li = ClassFun_linear,
                  il = ClassFun_invLinkLinear, ex = ClassFun_expLinear, pw = ClassFun_powerForm,
                  es = ClassFun_expSum, gf = ClassFun_generalForm;

// ---- the rule tables, indexed by operand class ([left][right] for two
// operands: rows are the left operand, columns the right one)

//                              nn  ng  an  id  sc  li  il  ex  pw  es  gf
constexpr Unary expRule =      {nn, nn, nn, ex, ex, ex, gf, gf, gf, gf, gf};
constexpr Unary invLinkRule =  {an, an, an, il, il, il, gf, gf, gf, gf, gf};
constexpr Unary linkRule =     {an, an, an, gf, gf, gf, gf, gf, gf, gf, gf};
constexpr Unary cosRule =      {an, an, an, gf, gf, gf, gf, gf, gf, gf, gf};
constexpr Unary sinRule = cosRule;
constexpr Unary stepRule =     {nn, nn, nn, gf, gf, gf, gf, gf, gf, gf, gf};
constexpr Unary negateRule =   {ng, nn, an, li, li, li, gf, gf, gf, gf, gf};
// logfact, loggam, sqrt and any other function: a constant stays the
// constant it was, anything else is general.
constexpr Unary keepConstantRule = {nn, ng, an, gf, gf, gf, gf, gf, gf, gf, gf};
constexpr Unary allGeneral =   {gf, gf, gf, gf, gf, gf, gf, gf, gf, gf, gf};

constexpr Binary plusRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {nn, an, an, li, li, li, il, es, gf, es, gf},  // nn
    {an, ng, an, li, li, li, il, gf, gf, gf, gf},  // ng
    {an, an, an, li, li, li, il, gf, gf, gf, gf},  // an
    {li, li, li, sc, sc, li, gf, gf, gf, gf, gf},  // id
    {li, li, li, sc, sc, li, gf, gf, gf, gf, gf},  // sc
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // li
    {il, il, il, gf, gf, gf, il, gf, gf, gf, gf},  // il
    {es, gf, gf, gf, gf, gf, gf, es, gf, es, gf},  // ex
    allGeneral,                                    // pw
    {es, gf, gf, gf, gf, gf, gf, es, gf, es, gf},  // es
    allGeneral,                                    // gf
}};
constexpr Binary minusRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {an, ng, an, li, li, li, il, gf, gf, gf, gf},  // nn
    {ng, an, an, li, li, li, gf, gf, gf, gf, gf},  // ng
    {an, an, an, li, li, li, il, gf, gf, gf, gf},  // an
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // id
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // sc
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // li
    {il, il, il, gf, gf, gf, il, gf, gf, gf, gf},  // il
    allGeneral,                                    // ex
    allGeneral,                                    // pw
    allGeneral,                                    // es
    allGeneral,                                    // gf
}};
constexpr Binary multRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {nn, ng, an, sc, sc, li, gf, ex, gf, gf, gf},  // nn
    {ng, nn, an, li, li, li, gf, gf, gf, gf, gf},  // ng
    {an, an, an, li, li, li, il, gf, gf, gf, gf},  // an
    {sc, li, li, gf, gf, gf, gf, gf, gf, gf, gf},  // id
    {sc, li, li, gf, gf, gf, gf, gf, gf, gf, gf},  // sc
    {li, li, li, gf, gf, gf, gf, gf, gf, gf, gf},  // li
    allGeneral,                                    // il
    {ex, gf, gf, gf, gf, gf, gf, ex, gf, gf, gf},  // ex
    allGeneral,                                    // pw
    allGeneral,                                    // es
    allGeneral,                                    // gf
}};
constexpr Binary divRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {nn, ng, an, pw, pw, gf, gf, ex, pw, il, gf},  // nn
    {ng, nn, an, gf, gf, gf, gf, gf, gf, gf, gf},  // ng
    {an, an, an, gf, gf, gf, gf, gf, gf, gf, gf},  // an
    {id, li, li, pw, gf, gf, gf, gf, gf, gf, gf},  // id
    {id, li, li, gf, gf, gf, gf, gf, pw, gf, gf},  // sc
    {li, li, li, gf, gf, gf, gf, gf, gf, gf, gf},  // li
    allGeneral,                                    // il
    {ex, gf, gf, gf, gf, gf, gf, pw, gf, il, gf},  // ex
    allGeneral,                                    // pw
    allGeneral,                                    // es
    allGeneral,                                    // gf
}};
constexpr Binary powRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {nn, nn, nn, ex, ex, ex, gf, gf, gf, gf, gf},  // nn
    allGeneral,                                    // ng
    {nn, nn, nn, ex, ex, ex, gf, gf, gf, gf, gf},  // an
    {pw, pw, pw, gf, gf, gf, gf, gf, gf, gf, gf},  // id
    {pw, pw, pw, gf, gf, gf, gf, gf, gf, gf, gf},  // sc
    allGeneral,                                    // li
    allGeneral,                                    // il
    {ex, ex, ex, gf, gf, gf, gf, gf, gf, gf, gf},  // ex
    allGeneral,                                    // pw
    allGeneral,                                    // es
    allGeneral,                                    // gf
}};
// Not symmetric: max(x, linear) is general while max(linear, x) is linear.
constexpr Binary maxRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {nn, nn, nn, li, li, li, gf, gf, gf, gf, gf},  // nn
    {nn, ng, an, li, li, li, gf, gf, gf, gf, gf},  // ng
    {nn, an, an, li, li, li, gf, gf, gf, gf, gf},  // an
    {li, li, li, li, li, gf, gf, gf, gf, gf, gf},  // id
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // sc
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // li
    {gf, gf, gf, gf, gf, gf, il, gf, gf, gf, gf},  // il
    {gf, gf, gf, gf, gf, gf, gf, ex, gf, gf, gf},  // ex
    {gf, gf, gf, gf, gf, gf, gf, gf, pw, gf, gf},  // pw
    allGeneral,                                    // es
    allGeneral,                                    // gf
}};
constexpr Binary minRule = {{
    //  nn  ng  an  id  sc  li  il  ex  pw  es  gf
    {nn, ng, an, li, li, li, gf, gf, gf, gf, gf},  // nn
    {ng, ng, ng, li, li, li, gf, gf, gf, gf, gf},  // ng
    {an, ng, an, li, li, li, gf, gf, gf, gf, gf},  // an
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // id
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // sc
    {li, li, li, li, li, li, gf, gf, gf, gf, gf},  // li
    {gf, gf, gf, gf, gf, gf, il, gf, gf, gf, gf},  // il
    {gf, gf, gf, gf, gf, gf, gf, ex, gf, gf, gf},  // ex
    {gf, gf, gf, gf, gf, gf, gf, gf, pw, gf, gf},  // pw
    allGeneral,                                    // es
    allGeneral,                                    // gf
}};
// equals is 0 or 1: known non-negative when both sides are constants; a
// step in the updated node otherwise.
constexpr Binary equalsRule = [] {
  Binary t{};
  for (int32_t a = 0; a < numClasses; ++a)
    for (int32_t b = 0; b < numClasses; ++b) t[a][b] = IsConstant(a) && IsConstant(b) ? nn : gf;
  return t;
}();

// How the classes of two candidates of a selection combine: the selection
// may be either, so it keeps only what both share.
constexpr int32_t PickOf(int32_t a, int32_t b) {
  const bool constA = IsConstant(a), constB = IsConstant(b);
  if (constA && constB) return a == b ? a : an;
  if (a >= es || b >= es) return gf;
  if (constA) return b;  // b in identity .. powerForm
  if (constB) return a;
  if (a == b) return a;
  const bool affineA = a >= id && a <= li;
  const bool affineB = b >= id && b <= li;
  if (affineA && affineB) return a > b ? a : b;
  return gf;
}
constexpr Binary pickRule = [] {
  Binary t{};
  for (int32_t a = 0; a < numClasses; ++a)
    for (int32_t b = 0; b < numClasses; ++b) t[a][b] = PickOf(a, b);
  return t;
}();

// The tables of each operator, by the form rule its row names; a rule with
// no table of its own keeps constants.
constexpr std::array<const Unary*, Ops_numFormRules> unaryRules = [] {
  std::array<const Unary*, Ops_numFormRules> t{};
  t.fill(&keepConstantRule);
  t[Ops_expForm] = &expRule;
  t[Ops_invLinkForm] = &invLinkRule;
  t[Ops_linkForm] = &linkRule;
  t[Ops_cosForm] = &cosRule;
  t[Ops_sinForm] = &sinRule;
  t[Ops_stepForm] = &stepRule;
  t[Ops_negateForm] = &negateRule;
  return t;
}();
constexpr std::array<const Binary*, Ops_numFormRules> binaryRules = [] {
  std::array<const Binary*, Ops_numFormRules> t{};
  t.fill(nullptr);
  t[Ops_plusForm] = &plusRule;
  t[Ops_minusForm] = &minusRule;
  t[Ops_multForm] = &multRule;
  t[Ops_divForm] = &divRule;
  t[Ops_powForm] = &powRule;
  t[Ops_maxForm] = &maxRule;
  t[Ops_minForm] = &minRule;
  t[Ops_equalsForm] = &equalsRule;
  return t;
}();

int32_t Apply(const Unary& rule, int32_t c) { return IsClass(c) ? rule[c] : general; }
int32_t Apply(const Binary& rule, int32_t left, int32_t right) {
  return IsClass(left) && IsClass(right) ? rule[left][right] : general;
}

// The class stack of one walk over a node's code.
class ClassStack {
 public:
  bool Push(int32_t c) {
    if (used_ == entries_.size()) return false;
    entries_[used_++] = c;
    return true;
  }
  bool Pop(int32_t& c) {
    if (used_ == 0) return false;
    c = entries_[--used_];
    return true;
  }
  // The top entry, or null when the stack is empty.
  int32_t* Top() { return used_ == 0 ? nullptr : &entries_[used_ - 1]; }
  int32_t Bottom() const { return used_ == 0 ? general : entries_[0]; }

 private:
  std::array<int32_t, stackCapacity> entries_{};
  size_t used_ = 0;
};

// Up to three (extent, stride) ranges over node numbers, read from code.
struct Ranges {
  int64_t start = 0;
  int32_t count = 0;
  std::array<int64_t, maxIndices> extent{};
  std::array<int64_t, maxIndices> stride{};
};

// Reads count pairs (extent, stride) from position first of the code. False
// for a count outside 1..3, code too short, an extent below 1, or more
// elements than the store holds nodes (which no well-formed range can name,
// and which would make the walk unbounded).
bool ReadRanges(const std::vector<int32_t>& code, int64_t start, int32_t count, size_t first, Ranges& r) {
  if (count < 1 || count > maxIndices) return false;
  if (code.size() < first + 2 * static_cast<size_t>(count)) return false;
  r.start = start;
  r.count = count;
  int64_t elements = 1;
  for (int32_t d = 0; d < count; ++d) {
    r.extent[d] = code[first + 2 * d];
    r.stride[d] = code[first + 2 * d + 1];
    if (r.extent[d] < 1) return false;
    elements *= r.extent[d];
    if (elements > Graph_totalNumNodes) return false;
  }
  return true;
}

// The node with this number, or null when there is none.
Graph_Node* NodeAt(int64_t number) {
  if (number < 0 || number >= Graph_totalNumNodes) return nullptr;
  return Graph_Label(static_cast<int32_t>(number));
}

// Calls visit on every node the ranges name, the first range outermost,
// and stops early when visit returns false. False when an element does not
// exist or visit stopped the walk.
template <typename Visit>
bool ForEachElement(const Ranges& r, Visit visit) {
  std::array<int64_t, maxIndices> i{};
  for (;;) {
    int64_t number = r.start;
    for (int32_t d = 0; d < r.count; ++d) number += i[d] * r.stride[d];
    Graph_Node* element = NodeAt(number);
    if (element == nullptr || !visit(element)) return false;
    int32_t d = r.count - 1;  // the last range advances fastest
    while (d >= 0 && ++i[d] == r.extent[d]) {
      i[d] = 0;
      --d;
    }
    if (d < 0) return true;
  }
}

// The index nodes of a selection; false when the node has fewer than count.
bool IndexNodes(const Graph_Node* node, int32_t count, std::array<Graph_Node*, maxIndices>& index) {
  if (count < 1 || count > maxIndices) return false;
  if (node->numParents < count || node->parents.size() < static_cast<size_t>(count)) return false;
  for (int32_t d = 0; d < count; ++d) {
    index[d] = node->parents[d];
    if (index[d] == nullptr) return false;
  }
  return true;
}

int32_t ClassifyRef(const Graph_Node* node, int32_t label, int32_t size) {
  const int64_t own = node->label;
  if (own >= label && own < static_cast<int64_t>(label) + size) return ClassFun_identity;
  if (node->kind == Graph_data) return Graph_Own(node) < 0.0 ? ClassFun_negConst : ClassFun_nonNegConst;
  // The sign a stochastic node's values can take is its distribution's: a
  // Gumbel or uniform node may be negative, a Weibull or Dirichlet one not.
  if (Distrib_NonNegative(node->density)) return ClassFun_nonNegConst;
  return ClassFun_anyConst;
}

// ---- the classes remembered for one updated block

constexpr int8_t pending = -1;  // being classified: its operands come first

std::vector<uint32_t> memoStamp;  // by node number: the generation of the entry
std::vector<int8_t> memoClass;    // by node number: the class, or pending
// Nodes the store does not return for their own number (built by hand,
// say) are remembered by address instead.
std::unordered_map<const Graph_Node*, int8_t> memoOther;
uint32_t generation = 0;
int32_t memoLabel = 0, memoSize = 0;  // the block the entries refer to
bool memoHeld = false;                // a ClassFun_Memo exists

void NewGeneration(int32_t label, int32_t size) {
  if (++generation == 0) {  // the stamps wrapped round: forget them all
    std::fill(memoStamp.begin(), memoStamp.end(), 0u);
    generation = 1;
  }
  const size_t nodes = Graph_totalNumNodes > 0 ? static_cast<size_t>(Graph_totalNumNodes) : 0;
  if (memoStamp.size() < nodes) {
    memoStamp.resize(nodes, 0u);
    memoClass.resize(nodes, 0);
  }
  if (!memoOther.empty()) memoOther.clear();
  memoLabel = label;
  memoSize = size;
}

// Starts a fresh table unless the memo that exists refers to this block.
void Begin(int32_t label, int32_t size) {
  if (!(memoHeld && generation != 0 && memoLabel == label && memoSize == size)) NewGeneration(label, size);
}

bool ByNumber(const Graph_Node* node) {
  return node->label >= 0 && static_cast<size_t>(node->label) < memoStamp.size() && Graph_Label(node->label) == node;
}

// The remembered entry of node (a class or pending); false when there is none.
bool Known(const Graph_Node* node, int32_t& c) {
  if (ByNumber(node)) {
    const size_t k = static_cast<size_t>(node->label);
    if (memoStamp[k] != generation) return false;
    c = memoClass[k];
    return true;
  }
  const auto it = memoOther.find(node);
  if (it == memoOther.end()) return false;
  c = it->second;
  return true;
}

void Remember(const Graph_Node* node, int32_t c) {
  const int8_t entry = static_cast<int8_t>(c);
  if (ByNumber(node)) {
    const size_t k = static_cast<size_t>(node->label);
    memoStamp[k] = generation;
    memoClass[k] = entry;
  } else {
    memoOther[node] = entry;
  }
}

// The class of an operand while its user is classified: every logical
// operand has been classified before, so this only reads. A node still
// pending closes a cycle.
int32_t Lookup(const Graph_Node* node, int32_t label, int32_t size) {
  if (node == nullptr) return general;
  if (node->kind != Graph_logical) return ClassifyRef(node, label, size);
  int32_t c = general;
  if (!Known(node, c) || c == pending) return general;
  return c;
}

// ---- sums remembered for a whole session
//
// A sum or mean over one range of nodes that are not logical (sum(x[]), the
// usual aggregate) depends on an updated block only through the elements
// inside it; every other element keeps the constant class it has for any
// block. While a ClassFun_Session exists such a sum is read once: the fold of
// the constant classes up to each element, and for each element the map
// from a class to the fold continued from there to the end. Its class for a
// block is then the fold up to the block's first element, the block's own
// elements, and the map after its last: the same fold as the walk over every
// element, found in as many steps as the block has elements in the sum.

struct SumTable {
  int64_t start = 0, stride = 1, count = 0;
  std::vector<int8_t> prefix;                          // [k]: fold of elements 0..k
  std::vector<std::array<int8_t, numClasses>> suffix;  // [k][c]: c folded on with elements k..count-1
};

bool sessionHeld = false;
std::unordered_map<const Graph_Node*, std::unique_ptr<SumTable>> sumTables;  // null: walked instead

// The table of a sum, or null when the sum has another shape or no session
// exists. Elements must carry their own numbers (components of a block carry
// the block's), so that which of them lie in a block follows from the range.
const SumTable* SessionSum(const Graph_Node* node) {
  if (!sessionHeld) return nullptr;
  const auto found = sumTables.find(node);
  if (found != sumTables.end()) return found->second.get();
  std::unique_ptr<SumTable>& slot = sumTables[node];
  const std::vector<int32_t>& code = node->stack;
  Ranges r;
  if (code.size() < 3 || !ReadRanges(code, code[2], code[1], 3, r) || r.count != 1 || r.stride[0] < 1) return nullptr;
  auto t = std::make_unique<SumTable>();
  t->start = r.start;
  t->stride = r.stride[0];
  t->count = r.extent[0];
  std::vector<int8_t> base;
  base.reserve(static_cast<size_t>(t->count));
  for (int64_t k = 0; k < t->count; ++k) {
    const int64_t number = t->start + k * t->stride;
    const Graph_Node* element = NodeAt(number);
    if (element == nullptr || element->kind == Graph_logical || element->label != number) return nullptr;
    base.push_back(static_cast<int8_t>(ClassifyRef(element, 0, 0)));  // no block: its constant class
  }
  const size_t n = base.size();
  t->prefix.resize(n);
  t->suffix.resize(n + 1);
  for (size_t k = 0; k < n; ++k)
    t->prefix[k] = static_cast<int8_t>(k == 0 ? base[0] : Apply(plusRule, t->prefix[k - 1], base[k]));
  for (int32_t c = 0; c < numClasses; ++c) t->suffix[n][c] = static_cast<int8_t>(c);
  for (size_t k = n; k-- > 0;)
    for (int32_t c = 0; c < numClasses; ++c)
      t->suffix[k][c] = t->suffix[k + 1][Apply(plusRule, c, base[k])];
  slot = std::move(t);
  return slot.get();
}

int32_t ClassSessionSum(const SumTable& t, int32_t label, int32_t size) {
  const int64_t first = label, last = static_cast<int64_t>(label) + size - 1;  // the block's numbers
  // The positions whose element lies in the block: lo .. hi.
  const int64_t lo = first <= t.start ? 0 : (first - t.start + t.stride - 1) / t.stride;
  int64_t hi = last < t.start ? -1 : (last - t.start) / t.stride;
  if (hi > t.count - 1) hi = t.count - 1;
  if (size < 1 || hi < lo) return t.prefix[static_cast<size_t>(t.count - 1)];
  int32_t result = lo == 0 ? ClassFun_identity : Apply(plusRule, t.prefix[static_cast<size_t>(lo - 1)], ClassFun_identity);
  for (int64_t k = lo + 1; k <= hi; ++k) result = Apply(plusRule, result, ClassFun_identity);
  return t.suffix[static_cast<size_t>(hi + 1)][static_cast<size_t>(result)];
}

// sum and mean: code op, R, start, then R pairs (extent, stride).
int32_t ClassSum(const std::vector<int32_t>& code, int32_t label, int32_t size) {
  Ranges r;
  if (code.size() < 3 || !ReadRanges(code, code[2], code[1], 3, r)) return general;
  bool first = true;
  int32_t result = general;
  const bool complete = ForEachElement(r, [&](Graph_Node* element) {
    const int32_t c = Lookup(element, label, size);
    result = first ? c : Apply(plusRule, result, c);
    first = false;
    return result != general;  // nothing brings a sum back from general
  });
  return complete ? result : general;
}

// inprod: code Determ_inprod, start a, n, stride a, start b, stride b.
int32_t ClassInProd(const std::vector<int32_t>& code, int32_t label, int32_t size) {
  if (code.size() < 6) return general;
  const int64_t startA = code[1], n = code[2], strideA = code[3], startB = code[4], strideB = code[5];
  if (n < 1 || n > Graph_totalNumNodes) return general;
  int32_t result = general;
  for (int64_t i = 0; i < n; ++i) {
    Graph_Node* a = NodeAt(startA + i * strideA);
    Graph_Node* b = NodeAt(startB + i * strideB);
    if (a == nullptr || b == nullptr) return general;
    const int32_t term =
        Apply(multRule, Lookup(a, label, size), Lookup(b, label, size));
    result = i == 0 ? term : Apply(plusRule, result, term);
    if (result == general) return general;
  }
  return result;
}

// The candidates of a selection with computed indices: code Determ_pick, K, base,
// then K pairs (dimension, stride), the index nodes being the parents in
// the same order. Node generation stores the pairs fastest-varying index
// first; every combination of the K indices is a candidate, so one, two
// and three computed indices are all handled alike.
bool PickCandidates(const Graph_Node* node, Ranges& r, std::array<Graph_Node*, maxIndices>& index) {
  const std::vector<int32_t>& code = node->stack;
  if (code.size() < 3) return false;
  return ReadRanges(code, code[2], code[1], 3, r) && IndexNodes(node, r.count, index);
}

int32_t ClassPick(const Graph_Node* node, int32_t label, int32_t size) {
  Ranges r;
  std::array<Graph_Node*, maxIndices> index{};
  if (!PickCandidates(node, r, index)) return general;
  // An index that moves with the updated node, or a negative one, leaves
  // the selection itself depending on it in no usable way.
  for (int32_t d = 0; d < r.count; ++d) {
    const int32_t c = Lookup(index[d], label, size);
    if (c != ClassFun_nonNegConst && c != ClassFun_anyConst) return general;
  }
  bool first = true;
  int32_t result = general;
  const bool complete = ForEachElement(r, [&](Graph_Node* candidate) {
    const int32_t c = Lookup(candidate, label, size);
    result = first ? c : Apply(pickRule, c, result);
    first = false;
    return result != general;
  });
  return complete ? result : general;
}

// sd (op, R, start, R pairs), inverse (op, first result number, start,
// extent 1, stride 1, extent 2, stride 2) and logdet (op, 2, start, the same
// two pairs): functions of a whole array. Nothing finer than "constant" is
// claimed: such a node is a constant when no element depends on the updated
// node, and general otherwise. A standard deviation is never negative; an
// element of an inverse and a log determinant may take either sign.
int32_t ClassWholeArray(int64_t op, const std::vector<int32_t>& code, int32_t label, int32_t size) {
  Ranges r;
  if (code.size() < 3) return general;
  bool read = false;
  int32_t constant = ClassFun_anyConst;
  switch (op) {
    case Determ_sd:
      read = ReadRanges(code, code[2], code[1], 3, r);
      constant = ClassFun_nonNegConst;
      break;
    case Determ_inverse:
    case Determ_logdet:
      read = ReadRanges(code, code[2], 2, 3, r);
      break;
    default: break;
  }
  if (!read) return general;
  const bool allConstant = ForEachElement(
      r, [&](Graph_Node* element) { return IsConstant(Lookup(element, label, size)); });
  return allConstant ? constant : general;
}

// The walk over general postfix code.
int32_t ClassCode(const Graph_Node* node, int32_t label, int32_t size) {
  const std::vector<int32_t>& code = node->stack;
  size_t operands = node->numParents > 0 ? static_cast<size_t>(node->numParents) : 0;
  if (operands > node->parents.size()) operands = node->parents.size();
  size_t operand = 0;
  ClassStack stack;
  for (size_t position = 0; position < code.size(); ++position) {
    const int64_t raw = code[position];
    const int64_t op = raw < 0 ? -raw : raw;  // only the magnitude decides
    switch (op) {
      case Determ_end:
        return stack.Bottom();
      case Determ_push:
      case Determ_pushValue: {
        if (operand >= operands) return general;
        Graph_Node* parent = node->parents[operand++];
        if (parent == nullptr) return general;
        const int32_t c =
            op == Determ_push ? Lookup(parent, label, size) : ClassifyRef(parent, label, size);
        if (!stack.Push(c)) return general;
        break;
      }
      case Determ_inprod:
        return position == 0 ? ClassInProd(code, label, size) : general;
      case Determ_mean:
      case Determ_sum:
        if (position != 0) return general;
        if (const SumTable* t = SessionSum(node)) return ClassSessionSum(*t, label, size);
        return ClassSum(code, label, size);
      case Determ_pick:
        return position == 0 ? ClassPick(node, label, size) : general;
      default: {
        if (position == 0 && (op == Determ_sd || op == Determ_inverse || op == Determ_logdet))
          return ClassWholeArray(op, code, label, size);
        // Every other op-code transforms its operands by the rule of its
        // row; one that is no operator keeps a constant and makes anything
        // else general.
        const Ops_Row& row = Ops_Of(op);
        const Binary* binary = row.arity == 2 ? binaryRules[row.form] : nullptr;
        if (binary != nullptr) {
          int32_t right = general, left = general;
          if (!stack.Pop(right) || !stack.Pop(left)) return general;
          if (!stack.Push(Apply(*binary, left, right))) return general;
          break;
        }
        int32_t* top = stack.Top();
        if (top == nullptr) return general;
        *top = Apply(*unaryRules[row.form], *top);
        break;
      }
    }
  }
  return general;  // code that never reaches its end
}

// Calls visit on every node the classification of node may read with
// Lookup: the elements of a sum, mean, inner product or whole-array
// function, the index nodes and candidates of a selection, and otherwise
// every operand. Reads the code exactly as the classifiers do; what they
// would never reach (after an early answer) is visited too, which costs
// time but changes no class.
template <typename Visit>
void ForEachDependency(const Graph_Node* node, Visit visit) {
  const std::vector<int32_t>& code = node->stack;
  if (code.empty()) return;
  const int64_t op = code[0] < 0 ? -static_cast<int64_t>(code[0]) : code[0];
  Ranges r;
  const auto element = [&](Graph_Node* e) {
    visit(e);
    return true;
  };
  switch (op) {
    case Determ_inprod: {
      if (code.size() < 6) return;
      const int64_t startA = code[1], n = code[2], strideA = code[3], startB = code[4], strideB = code[5];
      if (n < 1 || n > Graph_totalNumNodes) return;
      for (int64_t i = 0; i < n; ++i) {
        Graph_Node* a = NodeAt(startA + i * strideA);
        Graph_Node* b = NodeAt(startB + i * strideB);
        if (a == nullptr || b == nullptr) return;
        visit(a);
        visit(b);
      }
      return;
    }
    case Determ_mean:
    case Determ_sum:
      if (SessionSum(node) != nullptr) return;  // no logical elements
      if (code.size() >= 3 && ReadRanges(code, code[2], code[1], 3, r)) ForEachElement(r, element);
      return;
    case Determ_pick: {
      std::array<Graph_Node*, maxIndices> index{};
      if (!PickCandidates(node, r, index)) return;
      for (int32_t d = 0; d < r.count; ++d) visit(index[d]);
      ForEachElement(r, element);
      return;
    }
    case Determ_sd:
      if (code.size() >= 3 && ReadRanges(code, code[2], code[1], 3, r)) ForEachElement(r, element);
      return;
    case Determ_inverse:
    case Determ_logdet:
      if (code.size() >= 3 && ReadRanges(code, code[2], 2, 3, r)) ForEachElement(r, element);
      return;
    default: {
      size_t operands = node->numParents > 0 ? static_cast<size_t>(node->numParents) : 0;
      if (operands > node->parents.size()) operands = node->parents.size();
      for (size_t k = 0; k < operands; ++k)
        if (node->parents[k] != nullptr) visit(node->parents[k]);
      return;
    }
  }
}

// The class of a logical node as a function of the block of the current
// generation: its logical operands first, deepest first, then each node
// from theirs. Each is classified once and remembered.
struct Frame {
  Graph_Node* node;
  bool expanded;  // its operands have been put on the stack
};
std::vector<Frame> frames;  // kept between calls for its capacity

int32_t Classify(Graph_Node* root, int32_t label, int32_t size) {
  if (root == nullptr) return general;
  if (root->kind != Graph_logical) return ClassifyRef(root, label, size);
  int32_t c = general;
  if (Known(root, c)) return c == pending ? general : c;
  frames.clear();
  frames.push_back({root, false});
  while (!frames.empty()) {
    Graph_Node* node = frames.back().node;
    if (frames.back().expanded) {
      frames.pop_back();
      Remember(node, ClassCode(node, label, size));
      continue;
    }
    if (Known(node, c)) {  // met before along another path, or a cycle
      frames.pop_back();
      continue;
    }
    frames.back().expanded = true;
    Remember(node, pending);
    ForEachDependency(node, [&](Graph_Node* d) {
      int32_t known = general;
      if (d != nullptr && d->kind == Graph_logical && !Known(d, known)) frames.push_back({d, false});
    });
  }
  return Lookup(root, label, size);
}

int32_t RnToRm(const Graph_Node* node, int32_t label, int32_t size, int32_t m) {
  if (m < 1) return general;
  // The components after the first are found by number, so a vector must
  // lie among the declared nodes: anonymous neighbours by number belong to
  // unrelated expressions.
  if (m > 1 && static_cast<int64_t>(node->label) + m > Graph_numDeclaredNodes) return general;
  int32_t nConst = 0, nIdent = 0, nLin = 0, nInv = 0;
  for (int32_t k = 0; k < m; ++k) {
    Graph_Node* component = NodeAt(static_cast<int64_t>(node->label) + k);
    if (component == nullptr) return general;
    const int32_t c = Classify(component, label, size);
    if (IsConstant(c))
      ++nConst;
    else if (c == ClassFun_identity)
      ++nIdent;
    else if (c == ClassFun_scaledIdentity || c == ClassFun_linear)
      ++nLin;
    else if (c == ClassFun_invLinkLinear)
      ++nInv;
  }
  if (nConst == m) return ClassFun_anyConst;
  if (nIdent == m || nIdent == size) return ClassFun_identity;
  if (nConst + nIdent + nLin == m) return ClassFun_linear;
  if (nConst + nInv == m) return ClassFun_invLinkLinear;
  return general;
}

// A selection that picks a row or slice: its computed indices leave the
// fastest-varying index of the variable free. Node generation stores the
// pairs fastest-varying index first, so the pair at the front carries
// stride 1 exactly when the selection runs over that index and so picks a
// single element.
bool IsVectorPick(const Graph_Node* node) {
  if (node->kind != Graph_logical) return false;
  const std::vector<int32_t>& code = node->stack;
  if (code.size() < 5 || code[0] != Determ_pick) return false;
  return code[4] != 1;
}

int32_t ClassPickRnToRm(const Graph_Node* node, int32_t label, int32_t size, int32_t m) {
  Ranges r;
  std::array<Graph_Node*, maxIndices> index{};
  if (!PickCandidates(node, r, index)) return general;
  // Which row is read must not depend on the updated node, and must not be
  // a negative constant.
  for (int32_t d = 0; d < r.count; ++d)
    if (Classify(index[d], label, size) != ClassFun_nonNegConst) return general;
  bool first = true;
  int32_t result = general;
  const bool complete = ForEachElement(r, [&](Graph_Node* candidate) {
    const int32_t c = RnToRm(candidate, label, size, m);
    result = first ? c : Apply(pickRule, c, result);
    first = false;
    return result != general;
  });
  return complete ? result : general;
}

}  // namespace

// The rule tables are constants: there is nothing to set up.
void InitClassFun() {}

ClassFun_Memo::ClassFun_Memo(int32_t label, int32_t size) {
  NewGeneration(label, size);
  memoHeld = true;
}

ClassFun_Memo::~ClassFun_Memo() { memoHeld = false; }

ClassFun_Session::ClassFun_Session() {
  sumTables.clear();
  sessionHeld = true;
}

ClassFun_Session::~ClassFun_Session() {
  sessionHeld = false;
  sumTables.clear();
}

int32_t ClassFun_MapRnToR1(Graph_Node* node, int32_t label, int32_t size) {
  if (node == nullptr) return general;
  if (node->kind != Graph_logical) return ClassifyRef(node, label, size);
  Begin(label, size);
  return Classify(node, label, size);
}

int32_t ClassFun_MapRnToRm(Graph_Node* node, int32_t label, int32_t size, int32_t m) {
  if (node == nullptr) return general;
  Begin(label, size);
  return IsVectorPick(node) ? ClassPickRnToRm(node, label, size, m) : RnToRm(node, label, size, m);
}
