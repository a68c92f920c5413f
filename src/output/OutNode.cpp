#include "output/OutNode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/TextFile.h"
#include "base/Write.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "numerics/RandNum.h"

namespace {

constexpr int valuesPerLine = 5;
constexpr int labelWidth = 10;    // console labels are padded to this many characters
constexpr int consoleReal = 10;   // field of a value on the console
constexpr int fileReal = 12;      // narrowest field of a value in a state file
constexpr char fileNA[] = "            NA";

// A state-file value: the fewest significant digits (five at least) that
// read back as exactly the same number, in the layout of the other reals, in
// a field of at least fileReal. Five digits alone would restart a run from
// rounded values, and could round a value onto the edge of its support (a
// proportion of 0.999996 becomes 1.0000).
std::string FileReal(double x) {
  if (!std::isfinite(x)) return TextFile_RealText(x, fileReal);
  char buf[40];
  for (int digits = 5; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, x);
    if (std::strtod(buf, nullptr) == x) break;
  }
  std::string text(buf);
  const size_t e = text.find('e');
  std::string mantissa = text.substr(0, e);
  const int exponent = std::atoi(text.c_str() + e + 1);
  if (mantissa[0] != '-') mantissa.insert(mantissa.begin(), ' ');
  if (exponent != 0) mantissa += (exponent > 0 ? "E+" : "E-") + std::to_string(std::abs(exponent));
  if (mantissa.size() < static_cast<size_t>(fileReal)) mantissa.append(fileReal - mantissa.size(), ' ');
  return mantissa;
}

// ---- the console

// A value, or NA for a node that does not exist or has none yet.
void WriteValue(int64_t number) {
  Graph_Node* node = number <= INT32_MAX ? Graph_Label(static_cast<int32_t>(number)) : nullptr;
  if (node == nullptr || node->kind == Graph_noValue)
    Write_String("NA        ");
  else
    Write_LongReal(node->valueFunction(node), consoleReal);
}

// For positions 1..n, the index i at position p and ", " at every other:
// "2, , " heads the second matrix of a three-index array.
void WriteIndexNoSquare(int32_t i, int n, int p) {
  for (int k = 1; k <= n; ++k) {
    if (k == p)
      Write_Int(i, 1);
    else
      Write_String(", ");
  }
}

// The same in brackets: [i] for one index, [i, ] for a row, [, i] for a column.
void WriteIndex(int32_t i, int n, int p) {
  Write_Char('[');
  WriteIndexNoSquare(i, n, p);
  Write_Char(']');
}

// Spaces until width characters have been written since start.
void PadFrom(int64_t start, int width) {
  while (Write_Pos() - start < width) Write_Char(' ');
}

void Label(int32_t i, int n, int p) {
  const int64_t start = Write_Pos();
  WriteIndex(i, n, p);
  PadFrom(start, labelWidth);
}

// Node number of the element with these 0-based indices (last index first).
int64_t Element(const OutNode_Ref& ref, const int32_t index[3]) {
  int64_t offset = 0;
  for (int k = ref.numDims - 1; k >= 0; --k) offset = offset * ref.extents[k] + index[k];
  return ref.base + offset;
}

// Rows (first of the two indices) and columns (last index) of a matrix,
// columns in blocks of five; for a three-index array the first index is
// fixed in index[2] and the line of column labels starts at the margin.
void DisplayMatrix(const OutNode_Ref& ref, int32_t index[3], bool indent) {
  for (int32_t block = ref.lower[0]; block < ref.upper[0]; block += valuesPerLine) {
    const int32_t end = std::min(block + valuesPerLine, ref.upper[0]);
    Write_Ln();
    if (indent) Write_String("           ");
    for (int32_t j = block; j < end; ++j) Label(j + 1, 2, 2);
    for (int32_t i = ref.lower[1]; i < ref.upper[1]; ++i) {
      Write_Ln();
      Label(i + 1, 2, 1);
      index[1] = i;
      for (int32_t j = block; j < end; ++j) {
        index[0] = j;
        WriteValue(Element(ref, index));
      }
    }
  }
}

// ---- the state file

// A declared node by number, or null when its element has none.
Graph_Node* Declared(int32_t number) {
  return number >= 0 && number < Graph_numDeclaredNodes ? Graph_nodes[number] : nullptr;
}

bool HasStochasticNode(const SymTabs_Name& name) {
  for (int32_t k = name.firstNode; k <= name.lastNode && k >= 0; ++k) {
    const Graph_Node* node = Declared(k);
    if (node != nullptr && node->kind == Graph_stochastic) return true;
  }
  return false;
}

void WriteStateItems(Files_Rider& r, int32_t iteration) {
  TextFile_WriteString(r, "list(");
  TextFile_WriteString(r, "iteration = ");
  TextFile_WriteInt(r, iteration, 8);
  TextFile_WriteString(r, ",");
  TextFile_WriteString(r, "seed = ");
  TextFile_WriteInt(r, RandNum_GetSeed(), 12);
  // The front of the table is the most recently stored name. Constants are
  // fixed by the model, and loop counters hold loop bounds, not node numbers.
  for (auto it = SymTabs_nameTable.rbegin(); it != SymTabs_nameTable.rend(); ++it) {
    const SymTabs_Name& name = **it;
    if (name.kind != SymTabs_variable || !HasStochasticNode(name)) continue;
    TextFile_WriteString(r, ",");
    TextFile_WriteLine(r);
    OutNode_WriteNode(r, name, false);
  }
  TextFile_WriteString(r, ")");
  TextFile_WriteLine(r);
}

bool Failed(const std::string& fileName) {
  Write_Ln();
  Write_String("Could not write the state to file \"");
  Write_String(fileName);
  Write_String("\"; any earlier file of that name is left as it was");
  return false;
}

}  // namespace

OutNode_Ref OutNode_WholeRef(const SymTabs_Name& name) {
  OutNode_Ref ref;
  ref.base = name.firstNode;
  ref.numDims = std::clamp(name.numIndices, 0, 3);
  for (int k = 0; k < ref.numDims; ++k) {
    ref.upper[k] = name.dims[k];
    ref.extents[k] = name.dims[k];
  }
  return ref;
}

void InitOutNode() {}

void OutNode_DisplayNode(const OutNode_Ref& given) {
  if (given.numDims < 0 || given.numDims > 3) return;
  // The elements share their ancestors: each is computed once for the whole display.
  const Determ_Snapshot snapshot;
  OutNode_Ref ref = given;
  for (int k = 0; k < ref.numDims; ++k) {
    ref.extents[k] = std::max(ref.extents[k], 0);
    ref.lower[k] = std::clamp(ref.lower[k], 0, ref.extents[k]);
    ref.upper[k] = std::clamp(ref.upper[k], ref.lower[k], ref.extents[k]);
  }
  int32_t index[3] = {0, 0, 0};
  switch (ref.numDims) {
    case 0:
      Write_Ln();
      Write_String("[1]");
      WriteValue(ref.base);
      return;
    case 1:
      Write_Ln();
      for (int32_t i = ref.lower[0]; i < ref.upper[0]; ++i) {
        if (i > ref.lower[0] && (i - ref.lower[0]) % valuesPerLine == 0) Write_Ln();
        if ((i - ref.lower[0]) % valuesPerLine == 0) Label(i + 1, 1, 1);
        index[0] = i;
        WriteValue(Element(ref, index));
      }
      return;
    case 2:
      DisplayMatrix(ref, index, true);
      return;
    default:
      for (int32_t k = ref.lower[2]; k < ref.upper[2]; ++k) {
        Write_Ln();
        WriteIndexNoSquare(k + 1, 3, 1);
        index[2] = k;
        DisplayMatrix(ref, index, false);
      }
      return;
  }
}

void OutNode_WriteNode(Files_Rider& r, const SymTabs_Name& name, bool allValues) {
  const int n = std::clamp(name.numIndices, 0, 3);
  TextFile_WriteString(r, name.name);
  if (n == 0) {
    TextFile_WriteString(r, " = ");
  } else {
    TextFile_WriteString(r, n == 1 ? " = c(" : " = structure(.Data = c(");
    TextFile_WriteLine(r);
  }
  const Determ_Snapshot snapshot;  // each ancestor computed once for the whole array
  int64_t written = 0;
  for (int64_t k = name.firstNode; k <= name.lastNode && k >= 0; ++k) {
    if (written > 0) {
      TextFile_WriteString(r, ",");
      if (written % valuesPerLine == 0) TextFile_WriteLine(r);
    }
    Graph_Node* node = k <= INT32_MAX ? Declared(static_cast<int32_t>(k)) : nullptr;
    // A node that has no value yet must not pass for one that holds 0.
    if (node != nullptr && node->kind != Graph_noValue && (allValues || node->kind == Graph_stochastic))
      TextFile_WriteString(r, FileReal(node->valueFunction(node)));
    else
      TextFile_WriteString(r, fileNA);
    ++written;
  }
  if (n == 1) {
    TextFile_WriteString(r, ")");
  } else if (n >= 2) {
    TextFile_WriteString(r, "),");
    TextFile_WriteLine(r);
    TextFile_WriteString(r, ".Dim = c(");
    for (int k = n - 1; k >= 0; --k) {
      TextFile_WriteInt(r, name.dims[k], 6);
      if (k > 0) TextFile_WriteString(r, ",");
    }
    TextFile_WriteString(r, "))");
  }
}

void OutNode_WriteState(Files_Rider& rider, int32_t iteration) { WriteStateItems(rider, iteration); }

bool OutNode_SaveAction(const std::string& fileName, int32_t iteration) {
  // Written beside the target and moved over it only when complete.
  Files_StagedFile file(fileName);
  if (!file.Opened()) return Failed(fileName);
  OutNode_WriteState(file.rider, iteration);
  if (!file.Finish() || !file.Place()) return Failed(fileName);
  return true;
}
