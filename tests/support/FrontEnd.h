// Runs the model front end over a model text, for tests of the phases that
// work on its results.
#pragma once

#include "RunFrontEnd.h"
#include "TestSupport.h"
#include "graph/Graph.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Parser.h"

namespace test {

// A scratch directory with a fresh front end and a background console.
class FrontEnd : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    Reset();
  }

  // Forgets the previous model, keeping the directory and its files.
  void Reset() {
    ResetFrontEnd();
    StartConsole();
  }

  // The head of the body, or null when a phase failed.
  Parser_Tree* Compile(const std::string& text) {
    WriteFile("m.bug", text);
    return RunFrontEnd("m.bug");
  }
};

}  // namespace test
