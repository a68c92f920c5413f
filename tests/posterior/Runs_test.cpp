// Properties of whole runs of the examples: the same seed gives the same
// samples, and every command file shipped with an example runs as a user
// would run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Harness.h"

using namespace posterior;

namespace {

RunResult Short(const std::string& example, const std::vector<std::string>& monitors, int seed) {
  RunRequest r;
  r.example = example;
  r.model = example + ".bug";
  r.inits = example + ".in";
  r.monitors = monitors;
  r.burnIn = 100;
  r.sweeps = 2000;
  r.seed = seed;
  return RunExample(r);
}

size_t Lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

// Two runs with one seed write byte-identical trace files; another seed does
// not. The examples chosen use enumeration, conjugate normal, gamma, beta and
// Dirichlet draws, block draws and direct draws.
TEST(Runs, SameSeedSameSamples) {
  struct Case {
    const char* example;
    std::vector<std::string> monitors;
  };
  const std::vector<Case> cases = {
      {"mixture", {"p", "shift", "worn"}},
      {"spread", {"T", "cov"}},
      {"changepoint", {"last", "rate"}},
      {"glass", {"lambda", "beta", "newFlaws"}},
      {"survey", {"p"}},
      {"regression", {"beta"}},
      {"fuel", {"rate", "km", "litres"}},
  };
  for (const Case& c : cases) {
    const RunResult first = Short(c.example, c.monitors, 987654);
    ASSERT_TRUE(first.ok) << first.failure;
    const RunResult second = Short(c.example, c.monitors, 987654);
    ASSERT_TRUE(second.ok) << second.failure;
    const RunResult other = Short(c.example, c.monitors, 123457);
    ASSERT_TRUE(other.ok) << other.failure;
    // One line per monitored node and sweep, burn-in included.
    EXPECT_EQ(Lines(first.outFile) % 2100, 0u) << c.example;
    EXPECT_GE(Lines(first.outFile), 2100u * c.monitors.size()) << c.example;
    EXPECT_TRUE(first.outFile == second.outFile) << c.example << ": the same seed gave different samples";
    EXPECT_FALSE(first.outFile == other.outFile) << c.example << ": another seed gave the same samples";
  }
}

// Each example's own command file compiles the model, samples it and prints
// its summaries without an error, and the trace files hold every node it
// monitors for every sweep it runs.
TEST(Runs, ShippedCommandFilesRun) {
  namespace fs = std::filesystem;
  std::vector<std::string> examples;
  for (const auto& entry : fs::directory_iterator(WREN_EXAMPLES))
    if (entry.is_directory()) examples.push_back(entry.path().filename().string());
  ASSERT_GE(examples.size(), 8u);
  const std::regex monitorLine(R"(^monitor\(([A-Za-z0-9]+)(\[[0-9,]+\])?\)\s*$)");
  const std::regex updateLine(R"(^update\(([0-9]+)\)\s*$)");
  for (const std::string& example : examples) {
    SCOPED_TRACE(example);
    std::string commandFile;
    for (const auto& entry : fs::directory_iterator(fs::path(WREN_EXAMPLES) / example))
      if (entry.path().extension() == ".cmd") commandFile = entry.path().filename().string();
    ASSERT_FALSE(commandFile.empty()) << "no command file";
    const std::string stem = fs::path(commandFile).stem().string();

    // What the command file asks for.
    std::ifstream in(fs::path(WREN_EXAMPLES) / example / commandFile);
    std::vector<std::string> monitored;
    long sweeps = 0;
    int statsCommands = 0;
    std::string line;
    while (std::getline(in, line)) {
      std::smatch m;
      if (std::regex_match(line, m, monitorLine)) monitored.push_back(m[1].str() + m[2].str());
      if (std::regex_match(line, m, updateLine)) sweeps += std::stol(m[1].str());
      if (line.rfind("stats(", 0) == 0) ++statsCommands;
    }
    ASSERT_FALSE(monitored.empty());
    ASSERT_GT(sweeps, 0);
    ASSERT_GT(statsCommands, 0);

    std::string log, out, ind, failure;
    ASSERT_TRUE(RunShipped(example, stem, commandFile, log, out, ind, failure)) << failure;
    EXPECT_NE(log.find("compilation took"), std::string::npos);
    // One summary heading per stats command.
    size_t headings = 0;
    for (size_t at = log.find("median"); at != std::string::npos; at = log.find("median", at + 1)) ++headings;
    EXPECT_EQ(headings, static_cast<size_t>(statsCommands));
    // Every monitored node appears in the index with one line per sweep.
    std::istringstream index(ind);
    std::string name;
    long first = 0, last = 0, lines = 0;
    std::vector<std::string> names;
    while (index >> name >> first >> last) {
      names.push_back(name);
      EXPECT_EQ(last - first + 1, sweeps) << name;
      lines += last - first + 1;
    }
    EXPECT_EQ(static_cast<size_t>(lines), Lines(out));
    for (const std::string& m : monitored) {
      bool found = false;
      for (const std::string& n : names) found = found || n == m || n.rfind(m + "[", 0) == 0;
      EXPECT_TRUE(found) << m << " is monitored but not in the index file";
    }
  }
}
