#include "output/OutGraph.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/Write.h"
#include "graph/Determ.h"
#include "store/Distrib.h"
#include "store/Graph.h"
#include "language/SymTabs.h"

namespace {

// Items written on the current line; a line is full after ten.
int32_t column = 1;

constexpr int itemWidth = 7;
constexpr int realWidth = 14;

// By distribution identifier; 0 has no name.
// By op-code; "???" for codes the listing has no name for.
constexpr std::string_view opNames[] = {
    "???",   " + ",  " - ",     " * ",       " / ",     "cloglog", "???",   "exp",  "exp",
    "icloglog", "ilogit", "inprod", "log", "logit",  "???",     "???",     "max",   "mean",
    "min",   "phi",  "pick",    "???",       "power",   "???",     "???",     "sd",    "???",
    "sqrt",  "step", "sum",     "umnus",     "inv",     " logdet ", "equals",
};

static_assert(std::size(opNames) == 34);

std::string_view OpName(int32_t op) {
  if (op < 0 || static_cast<size_t>(op) >= std::size(opNames)) return "???";
  return opNames[op];
}

// Starts a continuation line when the current one cannot take count more items.
void Wrap(int count) {
  if (column > 11 - count) {
    column = 1;
    Write_Ln();
    Write_String("       ");
    ++column;  // the indentation counts as an item
  }
  column += count;
}

void WrInt(int64_t n) {
  Wrap(1);
  Write_Int(n, itemWidth);
}

void WrStr(std::string_view s) {
  Wrap(1);
  Write_String(s);
  for (size_t k = s.size(); k < static_cast<size_t>(itemWidth); ++k) Write_Char(' ');
}

void WrLongReal(double x) {
  Wrap(2);
  Write_LongReal(x, realWidth);
}

int32_t UsedParents(const Graph_Node* node) {
  return std::clamp(node->numParents, 0, static_cast<int32_t>(node->parents.size()));
}

// Number, kind, value, distribution and parents.
void StochasticEntry(const Graph_Node* node) {
  WrInt(node->label);
  WrInt(node->kind);
  WrLongReal(Graph_Own(node));
  if (Distrib_Valid(node->density)) WrStr(Distrib_Of(node->density).listingName);
  const int32_t n = UsedParents(node);
  for (int32_t k = 0; k < n; ++k) {
    if (node->parents[k] != nullptr) WrInt(node->parents[k]->label);
    Write_String(",");
  }
}

// The likelihood list on a line of its own. The line starts afresh, so a
// full stochastic line above cannot push the indentation onto a line of its own.
void LikelihoodEntry(const Graph_Node* node) {
  Write_Ln();
  column = 1;
  WrStr("   ");
  column = 2;
  for (const Graph_Node* child : node->likelihood) WrInt(child->label);
}

// Inline integers that follow a special op in its code, by the layouts of
// the node generator: inprod start_a, n, stride_a, start_b, stride_b; the
// aggregates and logdet a range count R, a start and R (extent, stride)
// pairs; pick K, a base and K (extent, stride) pairs; inverse its block's
// first node, a start and two (extent, stride) pairs.
size_t InlineCount(const std::vector<int32_t>& code, size_t pos) {
  const int32_t op = code[pos];
  const int32_t pairs = pos + 1 < code.size() ? std::max(code[pos + 1], 0) : 0;
  switch (op) {
    case Determ_inprod: return 5;
    case Determ_mean: case Determ_sd: case Determ_sum: case Determ_logdet: case Determ_pick:
      return 2 + 2 * static_cast<size_t>(pairs);
    case Determ_inverse: return 6;
    default: return 0;
  }
}

void LogicalEntry(const Graph_Node* node) {
  WrInt(node->label);
  WrInt(node->kind);
  const std::vector<int32_t>& code = node->stack;
  if (code.empty()) return;
  const int32_t n = UsedParents(node);
  // Linear forms made by the optimiser keep their final op in entry 0 and
  // twice their product count in entry 1; general code always begins with
  // an operand or a special op, never with one of these.
  std::string_view linear;
  switch (code[0]) {
    case Determ_expLink: linear = "exp"; break;
    case Determ_icloglog: linear = "iCLogLog"; break;
    case Determ_ilogit: linear = "iLogit"; break;
    case Determ_phi: linear = "phi"; break;
    case Determ_end: linear = "pop"; break;
    default: break;
  }
  if (!linear.empty()) {
    WrStr(linear);
    if (code.size() > 1) WrInt(code[1]);
    WrInt(n);
    for (int32_t k = 0; k < n; ++k)
      if (node->parents[k] != nullptr) WrInt(node->parents[k]->label);
    return;
  }
  int32_t parent = 0;
  for (size_t pos = 0; pos < code.size(); ++pos) {
    const int32_t op = code[pos];
    if (op == Determ_end) return;
    if (op == Determ_push || op == Determ_pushValue) {
      if (parent < n && node->parents[parent] != nullptr) WrInt(node->parents[parent]->label);
      ++parent;
      continue;
    }
    WrStr(OpName(op));
    const size_t args = std::min(InlineCount(code, pos), code.size() - pos - 1);
    for (size_t k = 1; k <= args; ++k) WrInt(code[pos + k]);
    pos += args;
  }
}

}  // namespace

void InitOutGraph() { column = 1; }

void OutGraph_WriteNames() {
  Write_Ln();
  Write_String("     ----- Name Table -----");
  Write_Ln();
  Write_String("     Name         Offset           Dimensions");
  Write_Ln();
  for (auto it = SymTabs_nameTable.rbegin(); it != SymTabs_nameTable.rend(); ++it) {
    const SymTabs_Name& name = **it;
    Write_String(" ");
    const int64_t start = Write_Pos();
    Write_String(name.name);
    while (Write_Pos() - start < 15) Write_Char(' ');
    if (name.firstNode >= 0) Write_Int(name.firstNode, 6);
    Write_String("       ");
    const int dims = std::clamp(name.numIndices, 0, 3);
    for (int k = 0; k < dims; ++k) Write_Int(name.dims[k], 8);
    Write_Ln();
  }
  if (Graph_totalNumNodes > Graph_numDeclaredNodes) {
    Write_String(" ANOMS           ");
    Write_Int(Graph_numDeclaredNodes, 6);
    Write_String("       ");
    Write_Int(Graph_totalNumNodes - Graph_numDeclaredNodes, 8);
  }
  Write_Ln();
  Write_Ln();
}

void OutGraph_DisplayGraph() {
  for (int32_t n = 0; n < Graph_totalNumNodes; ++n) {
    const Graph_Node* node = Graph_Label(n);
    column = 1;
    if (node == nullptr) {
      Write_Ln();
      WrInt(n);
      WrStr("NA ;");
    } else if (node->kind == Graph_data && node->label == n) {
      Write_Ln();
      StochasticEntry(node);
      Write_String(";");
    } else if (node->kind == Graph_logical) {
      Write_Ln();
      LogicalEntry(node);
      Write_String(";");
    } else if (node->kind != Graph_data && node->label == n) {
      Write_Ln();
      StochasticEntry(node);
      LikelihoodEntry(node);
      Write_String(";");
    }
    // Later components of a multivariate block carry the block's first
    // number and are shown with it.
  }
  Write_Ln();
}
