// Compile: the phases of the compile command, in one list that the command
// and the tests both run. Each phase prints its progress message, runs, and
// returns whether it succeeded; a failed phase has reported its own error and
// stops the list.
#pragma once

#include <string>

#include "base/Files.h"
#include "language/Parser.h"
#include "language/Scanner.h"

// What the phases read and leave: the model file and its scanner, the files
// its data and inits statements named, and the parsed body.
struct Compile_Unit {
  std::string name;
  Files_Handle file;
  Scanner_Token source;
  Parser_Files files;
  Parser_Tree* relations = nullptr;
};

// The phases in the order they run.
enum class Compile_Phase {
  declarations,    // the model statement and the declarations
  data,            // the data and inits statements and their files; the seed
  body,            // the model body
  cycles,          // the warning for directed cycles
  code,            // node generation and constant folding
  distributions,   // log densities, parent and likelihood lists, block checks
  startingValues,  // starting values for the nodes without
  checks,          // the model checks
  methods,         // the update methods, fast evaluators and plans
};

// Opens the unit on the model file: false when there is none by that name.
bool Compile_Open(Compile_Unit& unit, const std::string& name);
// Runs the phases from the first through last. False when one failed.
bool Compile_Run(Compile_Unit& unit, Compile_Phase last = Compile_Phase::methods);
