// Replays the inputs the fuzz targets once failed on (tests/fuzz/<target>/)
// through the same runs the targets make.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Fuzz.h"

namespace {

namespace fs = std::filesystem;

Fuzz_Outcome Feed(Fuzz_Outcome (*target)(const uint8_t*, size_t), const std::string& input) {
  return target(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// A saved input, "target/name", run by its target.
Fuzz_Outcome Replay(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(fs::path(WREN_FUZZ_INPUTS) / path, std::ios::binary).rdbuf();
  const std::string target = path.substr(0, path.find('/'));
  return Feed(target == "model" ? Fuzz_Model : target == "data" ? Fuzz_Data : Fuzz_Session, s.str());
}

bool Says(const std::string& text) { return Fuzz_Log().find(text) != std::string::npos; }

// The runs themselves: a fatal fault ends only its run; files stay in the run's
// directory; updates are trimmed to the run's share of sweeps.
TEST(FuzzRuns, KeepToTheirBounds) {
  const std::string model = "model counts;\nvar y[3], lambda;\ndata in \"y.dat\";\ninits in \"i.dat\";\n"
                            "{ for (i in 1:3) { y[i] ~ dpois(lambda) }\n  lambda ~ dgamma(1, 1) }\n";
  EXPECT_EQ(Feed(Fuzz_Model, model + "\1list(y = c(2, 2.5, 4))\1list(lambda = 1)"), Fuzz_ended);
  EXPECT_TRUE(Says(" for node: y[2]"));
  EXPECT_EQ(Feed(Fuzz_Model, model + "\1list(y = c(2, 3, 4))\1list(lambda = 1)"), Fuzz_completed);
  EXPECT_TRUE(Says("compilation took") && !Says("Invalid value"));
  EXPECT_EQ(Feed(Fuzz_Model, "model m; var x; data in \"../x.dat\"; { x ~ dnorm(0, 1) }"), Fuzz_refused);
  EXPECT_EQ(Feed(Fuzz_Model, "model m; const N = 2001; var x[N]; { x[1] ~ dnorm(0, 1) }"), Fuzz_refused);
  EXPECT_EQ(Feed(Fuzz_Session, "update(300)\nupdate(100000)\n  update( 0000005)\niter()\nq()\n"), Fuzz_completed);
  for (const char* s : {"\nWren>update(300) ", "\nWren>update(700) ", "\nWren>  update( 1) ", "\nWren>iter()1001 "})
    EXPECT_TRUE(Says(s)) << s;
  EXPECT_EQ(Feed(Fuzz_Session, "save(\"/tmp/x\")\n"), Fuzz_refused);
}

// A dbin whose size names an element without a node (its datum is NA) once
// reached the starting values, which read the size through a null parent.
TEST(FuzzFinds, DbinSizeWithoutNode) {
  EXPECT_EQ(Replay("model/dbin-size-without-node"), Fuzz_ended);
  EXPECT_TRUE(Says(" for node: k\n") && Says("Node has undefined parent.") && !Says("Choosing update methods."));
}

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

// Each saved input runs to its end, or to a fault the program reports, without
// ending the process or upsetting a sanitizer.
class ReplayTest : public ::testing::TestWithParam<std::string> {};
TEST_P(ReplayTest, RunsToItsEnd) {
  EXPECT_NE(Replay(GetParam()), Fuzz_refused);
  EXPECT_FALSE(Fuzz_Log().empty());
}
INSTANTIATE_TEST_SUITE_P(Saved, ReplayTest, ::testing::ValuesIn(SavedInputs()), [](const auto& info) {
  std::string name = info.param;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ReplayTest);

}  // namespace
