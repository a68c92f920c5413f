#include "commands/Compile.h"

#include "base/Write.h"
#include "graph/Analyse.h"
#include "graph/CheckDAG.h"
#include "graph/CodeGen.h"
#include "graph/Density.h"
#include "graph/Determ.h"
#include "graph/FoldCons.h"
#include "graph/Parents.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "numerics/RandNum.h"
#include "sampling/Blocks.h"
#include "sampling/ClassDen.h"
#include "sampling/InitVals.h"
#include "sampling/Plans.h"

namespace {

// Progress messages, by their numbers in the message table.
enum : int32_t {
  none = -1, parsingDeclarations = 1, parsingModel = 4, generatingCode = 5, generatingDistributions = 6,
  checkingModel = 8, choosingMethods = 9, checkingCycles = 19,
};

bool Declarations(Compile_Unit& u) {
  Parser_ModelStatement(u.source);
  if (!Parser_error) Parser_Declarations(u.source);
  return !Parser_error;
}

bool Data(Compile_Unit& u) {
  Parser_LoadData(u.source, u.name, u.file, u.files);
  if (Parser_error) return false;
  if (!RandNum_SetSeed(u.files.seed)) {
    // 0 and the largest values would stall the generator.
    Write_String("Warning -- a seed must lie between 1 and 2147483646; the seed stays as it was");
    Write_Ln();
  }
  // The data files had the error reports; the body is read from the model.
  Errors_SetErrorFile(u.name, u.file);
  return true;
}

bool Body(Compile_Unit& u) {
  u.relations = Parser_BuildTree(u.source);
  return !Parser_error;
}

bool Cycles(Compile_Unit& u) {
  CheckDAG_Cycles(u.relations);  // only warns
  return true;
}

bool Code(Compile_Unit& u) {
  CodeGen_WriteGraph(u.relations);
  if (CodeGen_error) return false;
  FoldCons_FoldConstants();
  return true;
}

bool Distributions(Compile_Unit&) {
  Density_SetDensity();
  Parents_BuildSamplingDistribu();
  if (Parents_error) return false;
  // Before starting values: drawing a block whole would overwrite its
  // observed components and leave nothing to tell they were data.
  Analyse_CheckBlocks();
  return !Analyse_error;
}

bool StartingValues(Compile_Unit&) {
  InitVals_GenerateStartingValue();
  return !InitVals_error;
}

bool Checks(Compile_Unit&) {
  Analyse_CheckModel();
  return !Analyse_error;
}

bool Methods(Compile_Unit&) {
  ClassDen_ChooseUpdateMethod();
  if (ClassDen_error) return false;
  // Blocks read the links in the logical code before the fast evaluators replace it.
  if (Blocks_on) Blocks_Form();
  Determ_OptDeterm();
  Plans_Build();
  return true;
}

struct Step {
  Compile_Phase phase;
  int32_t message;  // printed before the phase runs
  bool (*run)(Compile_Unit&);
};

constexpr Step steps[] = {
    {Compile_Phase::declarations, parsingDeclarations, Declarations},
    {Compile_Phase::data, none, Data},
    {Compile_Phase::body, parsingModel, Body},
    {Compile_Phase::cycles, checkingCycles, Cycles},
    {Compile_Phase::code, generatingCode, Code},
    {Compile_Phase::distributions, generatingDistributions, Distributions},
    {Compile_Phase::startingValues, none, StartingValues},
    {Compile_Phase::checks, checkingModel, Checks},
    {Compile_Phase::methods, choosingMethods, Methods},
};

}  // namespace

bool Compile_Open(Compile_Unit& unit, const std::string& name) {
  unit = Compile_Unit{};
  unit.name = name;
  unit.file = Files_Old(name);
  if (!unit.file) return false;
  Scanner_Open(unit.source, unit.file, 0);
  Errors_SetErrorFile(name, unit.file);
  return true;
}

bool Compile_Run(Compile_Unit& unit, Compile_Phase last) {
  for (const Step& s : steps) {
    if (s.message != none) {
      Messages_Text(s.message);
      Write_Ln();
    }
    if (!s.run(unit)) return false;
    if (s.phase == last) break;
  }
  return true;
}
