// Runs the model front end over a model text, for tests of the phases that
// work on its results.
#pragma once

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
    InitScanner();
    InitSymTabs();
    InitGraph();
    InitErrors();
    InitMessages();
    InitParser();
    InitData();
    StartConsole();
  }

  // The head of the body, or null when a phase failed.
  Parser_Tree* Compile(const std::string& text) {
    WriteFile("m.bug", text);
    Files_Handle file = Files_Old("m.bug");
    Errors_SetErrorFile("m.bug", file);
    Scanner_Token t;
    Scanner_Open(t, file, 0);
    Parser_ModelStatement(t);
    if (!Parser_error) Parser_Declarations(t);
    Parser_Files files;
    if (!Parser_error) Parser_LoadData(t, "m.bug", file, files);
    Parser_Tree* head = Parser_error ? nullptr : Parser_BuildTree(t);
    return Parser_error ? nullptr : head;
  }
};

}  // namespace test
