// OutNode: the current values of nodes, shown on the console for a node
// named at the prompt, and the state of the sampler written to a file in the
// list format that the initial-value reader accepts, so that a later run can
// start from the saved values, iteration count and seed.
#pragma once

#include <cstdint>
#include <string>

#include "base/Files.h"
#include "language/SymTabs.h"

// The elements of one variable that a node command names. Every array here
// is held last index first, as the name table holds extents: slot 0 belongs
// to the last index. Range k covers the 0-based indices lower[k] up to
// upper[k] - 1; the element with 0-based indices (i1, ..., in) is node
// base + its row-major offset within the declared extents.
struct OutNode_Ref {
  int32_t base = 0;              // node number of the variable's first element
  int32_t numDims = 0;           // 0 for a scalar, 1 to 3 for an array
  int32_t lower[3] = {0, 0, 0};
  int32_t upper[3] = {0, 0, 0};
  int32_t extents[3] = {0, 0, 0};
};

// Every element of a declared variable.
OutNode_Ref OutNode_WholeRef(const SymTabs_Name& name);

void InitOutNode();

// Shows the values of the elements of the reference, five to a line, with
// their indices; an element without a node or without a value shows NA.
// Ranges reaching beyond the declared extents are cut back to them.
void OutNode_DisplayNode(const OutNode_Ref& ref);

// Writes one variable as an item of a list-format file: "name = value",
// "name = c(...)" or "name = structure(.Data = c(...), .Dim = c(...))",
// five values to a line. Elements without a node show NA, and so do those
// that are not stochastic unless allValues is set (logical elements then
// show their computed values).
void OutNode_WriteNode(Files_Rider& rider, const SymTabs_Name& name, bool allValues);

// Writes the whole state (iteration count, current seed and every variable
// with a stochastic element) as a list-format text; the caller checks and
// places the file.
void OutNode_WriteState(Files_Rider& rider, int32_t iteration);

// Writes the whole state (iteration count, current seed and every variable
// with a stochastic element) to the file, replacing an existing one. The
// text is written to fileName + ".tmp" first and put in place when complete,
// so a run stopped part way never leaves a damaged file under the name. When
// the file cannot be written the console says so, an earlier file of that
// name stays as it was, and the result is false.
bool OutNode_SaveAction(const std::string& fileName, int32_t iteration);
