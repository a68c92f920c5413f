// Runs the compile command's phases over a model file: the front end
// (header, declarations, data and inits files, body) or every phase up to the
// model checks, for the tests and benchmarks that work on their results.
// Needs no test framework.
#pragma once

#include <string>

#include "commands/Compile.h"
#include "graph/Analyse.h"
#include "graph/CodeGen.h"
#include "graph/Density.h"
#include "graph/Determ.h"
#include "graph/FoldCons.h"
#include "graph/Parents.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Parser.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"
#include "sampling/InitVals.h"
#include "store/Graph.h"

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

// Resets every phase's state, the start-up seed included.
inline void ResetPipeline() {
  ResetFrontEnd();
  InitSpecFunc();
  InitDeterm();
  InitCodeGen();
  InitFoldCons();
  InitParents();
  InitRandNum();
  InitAnalyse();
  InitInitVals();
}

// The compile command's phases as far as the model checks. False when one
// failed (its report is in the log).
inline bool RunPipeline(const std::string& name) {
  Compile_Unit unit;
  return Compile_Open(unit, name) && Compile_Run(unit, Compile_Phase::checks);
}

}  // namespace test
