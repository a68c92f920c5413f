#include "base/CtrlC.h"

#include <gtest/gtest.h>
#include <csignal>

#include "base/Params.h"

namespace {

// The interrupt key stops the sampler only while armed in an interactive run;
// a background run keeps the key's usual effect throughout.
TEST(CtrlCTest, InterruptKeyStopsTheSamplerOnlyWhileArmedInInteractiveRuns) {
  const char* interactive[] = {"wren", "20", "t"}, *background[] = {"wren", "20", "t", "t.cmd"};
  auto CurrentHandler = [] { struct sigaction now {}; sigaction(SIGINT, nullptr, &now); return now.sa_handler; };
  InitParams(3, interactive);
  InitCtrlC();
  const auto usual = CurrentHandler();
  CtrlC_Arm();
  EXPECT_FALSE(CtrlC_Abort());
  std::raise(SIGINT);  // caught: the process goes on
  EXPECT_TRUE(CtrlC_Abort());
  CtrlC_Disarm();
  EXPECT_EQ(CurrentHandler(), usual);
  CtrlC_Arm();  // a new update starts without the old request
  EXPECT_FALSE(CtrlC_Abort());
  CtrlC_Disarm();
  InitParams(4, background);
  CtrlC_Arm();
  EXPECT_EQ(CurrentHandler(), usual);
  CtrlC_Disarm();
  InitCtrlC();
}

}  // namespace
