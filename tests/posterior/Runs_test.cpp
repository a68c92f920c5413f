// Properties of whole runs of the examples: the same seed gives the same
// samples, and every command file shipped with an example runs as a user would run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

// Byte-identical traces from one seed, different ones from another, with one line per monitored node and
// sweep; the examples draw by enumeration, conjugate normal, gamma, beta and Dirichlet, blocks and directly.
TEST(Runs, SameSeedSameSamples) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      {"mixture", {"p", "shift", "worn"}},       {"spread", {"T", "cov"}}, {"changepoint", {"last", "rate"}},
      {"glass", {"lambda", "beta", "newFlaws"}}, {"survey", {"p"}},        {"regression", {"beta"}},
      {"fuel", {"rate", "km", "litres"}},
  };
  for (const auto& [example, monitors] : cases) {
    std::string out[3];
    for (int k = 0; k < 3; ++k) {
      const RunResult r = RunOnce(
          {.label = example, .monitors = monitors, .burnIn = 100, .sweeps = 2000, .seed = k < 2 ? 987654 : 123457});
      ASSERT_TRUE(r.ok) << r.failure;
      out[k] = r.outFile;
    }
    const size_t lines = std::count(out[0].begin(), out[0].end(), '\n');
    EXPECT_EQ(lines % 2100, 0u) << example;
    EXPECT_GE(lines, 2100u * monitors.size()) << example;
    EXPECT_TRUE(out[0] == out[1]) << example << ": the same seed gave different samples";
    EXPECT_FALSE(out[0] == out[2]) << example << ": another seed gave the same samples";
  }
}

// Each example's own command file compiles, samples and prints one summary table per stats command without
// an error, and its traces (whose index must cover them) hold every node it monitors for every sweep.
TEST(Runs, ShippedCommandFilesRun) {
  namespace fs = std::filesystem;
  const std::regex monitorLine(R"(^monitor\(([A-Za-z0-9]+)(\[[0-9,]+\])?\)\s*$)"),
      updateLine(R"(^update\(([0-9]+)\)\s*$)");
  int examples = 0;
  for (const auto& dir : fs::directory_iterator(WREN_EXAMPLES)) {
    if (!dir.is_directory()) continue;
    const std::string example = dir.path().filename().string();
    SCOPED_TRACE(example);
    ++examples;
    std::string commandFile;
    for (const auto& entry : fs::directory_iterator(dir.path()))
      if (entry.path().extension() == ".cmd") commandFile = entry.path().filename().string();
    ASSERT_FALSE(commandFile.empty()) << "no command file";
    std::ifstream in(dir.path() / commandFile);
    std::vector<std::string> monitored;
    long sweeps = 0;
    size_t stats = 0;
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_match(line, m, monitorLine)) monitored.push_back(m[1].str() + m[2].str());
      if (std::regex_match(line, m, updateLine)) sweeps += std::stol(m[1].str());
      stats += line.rfind("stats(", 0) == 0;
    }
    ASSERT_TRUE(!monitored.empty() && sweeps > 0 && stats > 0);

    const RunResult r = RunOnce({.label = example, .commandFile = commandFile});
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_NE(r.log.find("compilation took"), std::string::npos);
    size_t headings = 0;
    for (size_t at = r.log.find("median"); at != std::string::npos; at = r.log.find("median", at + 1)) ++headings;
    EXPECT_EQ(headings, stats);
    for (const auto& [name, trace] : r.samples) EXPECT_EQ(static_cast<long>(trace.size()), sweeps) << name;
    for (const std::string& m : monitored) {
      bool found = false;
      for (const auto& [name, trace] : r.samples) found = found || name == m || name.rfind(m + "[", 0) == 0;
      EXPECT_TRUE(found) << m << " is monitored but not in the index file";
    }
  }
  EXPECT_GE(examples, 8);
}
