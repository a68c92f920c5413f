// Replays the inputs the fuzz targets once failed on (kept under
// tests/fuzz/<target>/) through the same runs the targets make.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Fuzz.h"

namespace {

namespace fs = std::filesystem;

std::string Input(const std::string& target, const std::string& name) {
  std::ifstream in(fs::path(WREN_FUZZ_INPUTS) / target / name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Fuzz_Outcome Replay(const std::string& target, const std::string& name) {
  const std::string text = Input(target, name);
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  if (target == "model") return Fuzz_Model(data, text.size());
  if (target == "data") return Fuzz_Data(data, text.size());
  return Fuzz_Session(data, text.size());
}

bool Says(const std::string& text) { return Fuzz_Log().find(text) != std::string::npos; }

// Every saved input, as "target/name".
std::vector<std::string> SavedInputs() {
  std::vector<std::string> all;
  for (const char* target : {"model", "data", "session"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(WREN_FUZZ_INPUTS) / target, ec))
      if (entry.is_regular_file()) all.push_back(std::string(target) + "/" + entry.path().filename().string());
  }
  std::sort(all.begin(), all.end());
  return all;
}

Fuzz_Outcome RunModel(const std::string& input) {
  return Fuzz_Model(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

Fuzz_Outcome RunSession(const std::string& input) {
  return Fuzz_Session(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// A fault that ends the program ends only the run, and the next run starts
// afresh.
TEST(FuzzRuns, FatalFaultEndsOnlyTheRun) {
  const std::string model =
      "model counts;\nvar y[3], lambda;\ndata in \"y.dat\";\ninits in \"i.dat\";\n"
      "{ for (i in 1:3) { y[i] ~ dpois(lambda) }\n  lambda ~ dgamma(1, 1) }\n";
  EXPECT_EQ(RunModel(model + "\1list(y = c(2, 2.5, 4))\1list(lambda = 1)"), Fuzz_ended);
  EXPECT_TRUE(Says(" for node: y[2]"));
  EXPECT_TRUE(Says("Invalid value for node expected an integer value."));
  EXPECT_EQ(RunModel(model + "\1list(y = c(2, 3, 4))\1list(lambda = 1)"), Fuzz_completed);
  EXPECT_TRUE(Says("compilation took"));
  EXPECT_FALSE(Says("Invalid value"));
}

// Files of a model run are the ones its input brings; a name with a
// directory is refused.
TEST(FuzzRuns, ModelRunsKeepToTheirDirectory) {
  EXPECT_EQ(RunModel("model m; var x; data in \"x.dat\"; { x ~ dnorm(0, 1) }"), Fuzz_completed);
  EXPECT_TRUE(Says("x.dat"));
  EXPECT_EQ(RunModel("model m; var x; data in \"../x.dat\"; { x ~ dnorm(0, 1) }"), Fuzz_refused);
  EXPECT_EQ(RunModel("model m; const N = 2001; var x[N]; { x[1] ~ dnorm(0, 1) }"), Fuzz_refused);
}

// Update commands share the run's sweeps: the first takes what it asks, up
// to all of them, and every later one at least one.
TEST(FuzzRuns, UpdatesAreTrimmedToTheRunsShare) {
  EXPECT_EQ(RunSession("update(300)\nupdate(100000)\n  update( 0000005)\niter()\nq()\n"),
            Fuzz_completed);
  EXPECT_TRUE(Says("\nWren>update(300) "));
  EXPECT_TRUE(Says("\nWren>update(700) "));
  EXPECT_TRUE(Says("\nWren>  update( 1) "));
  EXPECT_TRUE(Says("\nWren>iter()1001 "));
  EXPECT_EQ(RunSession("save(\"/tmp/x\")\n"), Fuzz_refused);
}

// What the saved inputs report.

// A dbin whose size names an element without a node (its datum is NA) once
// reached the starting values, which read the size through a null parent.
TEST(FuzzFinds, DbinSizeWithoutNode) {
  EXPECT_EQ(Replay("model", "dbin-size-without-node"), Fuzz_ended);
  EXPECT_TRUE(Says(" for node: k\n"));
  EXPECT_TRUE(Says("Node has undefined parent."));
  EXPECT_FALSE(Says("Choosing update methods."));
}

class ReplayTest : public ::testing::TestWithParam<std::string> {};

// Each input runs to its end, or to a fault the program reports, without
// ending the process or upsetting a sanitizer.
TEST_P(ReplayTest, RunsToItsEnd) {
  const std::string& path = GetParam();
  const size_t slash = path.find('/');
  const Fuzz_Outcome outcome = Replay(path.substr(0, slash), path.substr(slash + 1));
  EXPECT_NE(outcome, Fuzz_refused);
  EXPECT_FALSE(Fuzz_Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Saved, ReplayTest, ::testing::ValuesIn(SavedInputs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ReplayTest);

}  // namespace
