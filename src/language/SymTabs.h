// SymTabs: the name table of a model's constants, variables and loop counters.
//
// Names are kept as a stack: a name stored later hides an earlier one with the
// same name, and loop counters are pushed on entering a loop and popped on
// leaving it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum SymTabs_Kind : int32_t { SymTabs_variable = 0, SymTabs_constant = 1, SymTabs_counter = 2 };

struct SymTabs_Name {
  int32_t kind = SymTabs_variable;
  std::string name;
  double value = 0.0;         // a constant's value
  int32_t numIndices = 0;     // 0 for a scalar, 1 to 3 for an array
  int32_t firstNode = 0;      // a loop counter: its current value
  int32_t lastNode = 0;       // a loop counter: its upper bound
  int32_t dims[3] = {0, 0, 0};  // extents, last index first; in a label, the indices
};

// Records in the order they were stored; the most recent is at the back.
// Records stay alive for the whole run, also after they are removed from the
// table: the parse tree keeps referring to the counters of closed loops.
extern std::vector<SymTabs_Name*> SymTabs_nameTable;

void InitSymTabs();
// Stores a copy of the record in front of all others and returns the copy.
SymTabs_Name* SymTabs_StoreName(const SymTabs_Name& record);
// The most recently stored record with exactly this name, or null.
SymTabs_Name* SymTabs_FindName(std::string_view name);
// Removes the most recently stored record.
void SymTabs_RemoveName();
// The label of a declared node: its variable's record with the element's
// indices in the dimension slots. False when no declared name holds the node.
bool SymTabs_LookUpLabel(int32_t node, SymTabs_Name& label);
// "x", "x[3]", "x[2,3]": the name and the indices, first index first.
std::string SymTabs_LabelText(const SymTabs_Name& label);
// The label text of a node, or its number when no declared name holds it.
std::string SymTabs_NodeText(int32_t node);
