// Runs the model front end (header, declarations, data and inits files,
// body) over a model file, for the tests and benchmarks that work on its
// results. Needs no test framework.
#pragma once

#include <string>

#include "commands/Compile.h"
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

// The head of the body, or null when a phase failed (its report is in the
// log): the compile command's phases as far as the body.
inline Parser_Tree* RunFrontEnd(const std::string& name) {
  Compile_Unit unit;
  if (!Compile_Open(unit, name) || !Compile_Run(unit, Compile_Phase::body)) return nullptr;
  return unit.relations;
}

}  // namespace test
