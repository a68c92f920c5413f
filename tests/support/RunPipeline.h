// Compiles a model file through every phase up to the model checks, for the
// tests and benchmarks that work on a ready graph. Needs no test framework.
#pragma once

#include <string>

#include "RunFrontEnd.h"
#include "graph/Analyse.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "graph/FoldCons.h"
#include "sampling/InitVals.h"
#include "graph/Parents.h"
#include "graph/Density.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"

namespace test {

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

// The phases after the front end, in the order the compile command runs
// them, as far as the model checks. False when one failed (its report is in
// the log).
inline bool RunPipeline(const std::string& name) {
  Parser_Tree* head = RunFrontEnd(name);
  if (head == nullptr) return false;
  CodeGen_WriteGraph(head);
  if (CodeGen_error) return false;
  FoldCons_FoldConstants();
  Density_SetDensity();
  Parents_BuildSamplingDistribu();
  if (Parents_error) return false;
  InitVals_GenerateStartingValue();
  if (InitVals_error) return false;
  Analyse_CheckModel();
  return !Analyse_error;
}

}  // namespace test
