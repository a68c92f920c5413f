// Runs the model front end (header, declarations, data and inits files,
// body) over a model file, for the tests and benchmarks that work on its
// results. Needs no test framework.
#pragma once

#include <string>

#include "store/Graph.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Parser.h"

namespace test {

// Forgets any previous model: names, nodes, parse tree and file state.
inline void ResetFrontEnd() {
  InitScanner();
  InitSymTabs();
  InitGraph();
  InitErrors();
  InitMessages();
  InitParser();
  InitData();
}

// The head of the body, or null when a phase failed (its report is in the log).
inline Parser_Tree* RunFrontEnd(const std::string& name) {
  Files_Handle file = Files_Old(name);
  Errors_SetErrorFile(name, file);
  Scanner_Token t;
  Scanner_Open(t, file, 0);
  Parser_ModelStatement(t);
  if (!Parser_error) Parser_Declarations(t);
  Parser_Files files;
  if (!Parser_error) Parser_LoadData(t, name, file, files);
  Parser_Tree* head = Parser_error ? nullptr : Parser_BuildTree(t);
  return Parser_error ? nullptr : head;
}

}  // namespace test
