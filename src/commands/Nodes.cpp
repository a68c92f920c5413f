#include "commands/Nodes.h"

#include "commands/Read.h"
#include "commands/Write.h"
#include "language/Messages.h"
#include "language/SymTabs.h"

namespace {

bool error = false;

enum Message { notFound = 30 };

void Error(int number) {
  error = true;
  Write_Ln();
  Messages_Text(number);
}

// Reads the node name that every node command starts with.
const SymTabs_Name* GetName() {
  Scanner_Token t;
  Read_Get(t);
  const SymTabs_Name* name = t.kind == Scanner_name ? SymTabs_FindName(t.text) : nullptr;
  if (name == nullptr || name->kind == SymTabs_counter) {
    Error(notFound);
    return nullptr;
  }
  return name;
}

// Every node command begins by resolving its node; the rest of each command
// works on monitors and node values, which need a compiled model.
void NodeCommand() {
  error = false;
  GetName();
}

}  // namespace

void InitNodes() { error = false; }

void Nodes_Node() { NodeCommand(); }
void Nodes_Record() { NodeCommand(); }
void Nodes_Clear() { NodeCommand(); }
void Nodes_Stats() { NodeCommand(); }
void Nodes_Diagnostic() { NodeCommand(); }
void Nodes_OutPut() { NodeCommand(); }
