// Compiles a model through every phase up to the model checks, for tests of
// the samplers that work on a ready graph.
#pragma once

#include <string>

#include "FrontEnd.h"
#include "graph/Analyse.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "graph/FoldCons.h"
#include "graph/InitVals.h"
#include "graph/Parents.h"
#include "language/SymTabs.h"
#include "numerics/Density.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"

namespace test {

class Pipeline : public FrontEnd {
 protected:
  // Compiles the model with the data and initial-value texts given (see
  // FrontEnd::WithFiles) as far as the model checks, from the start-up seed.
  // False, with the report in the console, when a phase failed.
  bool Build(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    Reset();
    InitSpecFunc();
    InitDeterm();
    InitCodeGen();
    InitFoldCons();
    InitParents();
    InitRandNum();
    InitAnalyse();
    InitInitVals();
    Parser_Tree* head = Compile(WithFiles(model, data, inits));
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

  // Component offset of the declared variable name.
  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[static_cast<size_t>(SymTabs_FindName(name)->firstNode + offset)];
  }
  bool Says(const std::string& text) { return Console().find(text) != std::string::npos; }
};

}  // namespace test
