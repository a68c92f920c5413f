// Compiles a model as the compile command does, through the update methods,
// the fast evaluators and the plans, for tests of the sweep.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Pipeline.h"
#include "commands/Chain.h"
#include "graph/Determ.h"
#include "output/Monitors.h"
#include "sampling/Blocks.h"
#include "sampling/ClassDen.h"
#include "sampling/Plans.h"
#include "sampling/Samplers.h"

namespace test {

class Methods : public Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitClassDen();
    InitSamplers();
    InitPlans();
    InitBlocks();
  }
  void TearDown() override {
    Chain_Bind(Chain_First());  // a test's own records may be gone
    Plans_EndChain();
    Plans_End();
    InitMonitors();
    InitPlans();
    InitBlocks();
    InitSamplers();
    Pipeline::TearDown();
  }
  // With blocks, as the compile command's blocks option asks.
  void Compile(const std::string& model, const std::string& data, const std::string& inits = "",
               bool blocks = false) {
    ASSERT_TRUE(Build(model, data, inits)) << Console();
    InitClassDen();
    InitSamplers();
    ClassDen_ChooseUpdateMethod();
    ASSERT_FALSE(ClassDen_error) << Console();
    if (blocks) Blocks_Form();
    Determ_OptDeterm();
    Plans_Build();
  }
  static Samplers_Sampler& RecordOf(const Graph_Node* node) {
    for (int32_t i = 0; i < Samplers_Count(); ++i)
      if (Samplers_At(i).node == node) return Samplers_At(i);
    ADD_FAILURE() << "no record for node " << node->label;
    return Samplers_At(0);
  }
};

}  // namespace test
