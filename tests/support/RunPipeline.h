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

// The compile command's phases as far as the model checks. False when one
// failed (its report is in the log).
inline bool RunPipeline(const std::string& name) {
  Compile_Unit unit;
  return Compile_Open(unit, name) && Compile_Run(unit, Compile_Phase::checks);
}

}  // namespace test
