// Runs the model front end over a model text, for tests of the phases that
// work on its results.
#pragma once

#include "RunPipeline.h"
#include "TestSupport.h"

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

  // "model m; " and the declarations and body given, with data and inits
  // statements for the data and initial-value texts given (written to d.dat
  // and i.dat) placed before the body.
  static std::string WithFiles(const std::string& model, const std::string& data,
                               const std::string& inits) {
    std::string statements;
    if (!data.empty()) {
      WriteFile("d.dat", data);
      statements += " data in \"d.dat\";";
    }
    if (!inits.empty()) {
      WriteFile("i.dat", inits);
      statements += " inits in \"i.dat\";";
    }
    const size_t body = model.find('{');
    return "model m; " + model.substr(0, body) + statements + "\n" + model.substr(body);
  }

  // The head of the body, or null when a phase failed.
  Parser_Tree* Compile(const std::string& text) {
    WriteFile("m.bug", text);
    return RunFrontEnd("m.bug");
  }
};

}  // namespace test
