// Compiles a model through every phase up to the model checks, for tests of
// the samplers that work on a ready graph.
#pragma once

#include <string>

#include "FrontEnd.h"
#include "language/SymTabs.h"

namespace test {

class Pipeline : public FrontEnd {
 protected:
  // Compiles the model with the data and initial-value texts given (see
  // FrontEnd::WithFiles) as far as the model checks, from the start-up seed.
  // False, with the report in the console, when a phase failed.
  bool Build(const std::string& model, const std::string& data = "", const std::string& inits = "") {
    Reset();
    ResetPipeline();
    WriteFile("m.bug", WithFiles(model, data, inits));
    return RunPipeline("m.bug");
  }

  // Component offset of the declared variable name.
  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[static_cast<size_t>(SymTabs_FindName(name)->firstNode + offset)];
  }
  bool Says(const std::string& text) { return Console().find(text) != std::string::npos; }
};

}  // namespace test
