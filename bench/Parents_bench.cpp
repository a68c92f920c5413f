// Build times of the likelihood lists for models with 10^5 stochastic nodes:
// a regression with 10^5 observations behind a logical linear predictor, a
// chain x[t] ~ dnorm(x[t - 1], tau) of 10^5 nodes observed at its end, and a
// node whose mean sums 10^5 stochastic nodes. Only the list building is
// timed; the model text is compiled first through the front end and node
// generation. Each case runs three times; the fastest run is printed.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "commands/Chain.h"
#include "base/Files.h"
#include "base/Params.h"
#include "base/Write.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "graph/Parents.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Parser.h"
#include "language/Scanner.h"
#include "language/SymTabs.h"
#include "BenchConsole.h"
#include "BenchSupport.h"
#include "RunPipeline.h"

namespace {

void WriteText(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

// Compiles the model in m.bug through node generation; false when a phase failed.
bool Generate() {
  test::ResetFrontEnd();
  InitDeterm();
  InitCodeGen();
  InitParents();
  Parser_Tree* head = test::RunFrontEnd("m.bug");
  if (head == nullptr) return false;
  CodeGen_WriteGraph(head);
  return !CodeGen_error;
}

int64_t ListEntries() {
  int64_t n = 0;
  for (int32_t k = 0; k < Graph_totalNumNodes; ++k)
    if (const Graph_Node* node = Graph_Label(k); node != nullptr)
      for (const Graph_Node* m : node->likelihood) n += m != nullptr;
  return n;
}

bool Time(const char* label, const std::string& model, const std::string& data) {
  WriteText("m.bug", model);
  WriteText("d.dat", data);
  double best = 1e30;
  int64_t entries = 0;
  for (int run = 0; run < 3; ++run) {
    if (!Generate()) {
      std::printf("%-12s the model did not compile\n", label);
      return false;
    }
    auto start = std::chrono::steady_clock::now();
    Parents_BuildSamplingDistribu();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (Parents_error) return false;
    if (s < best) best = s;
    entries = ListEntries();
  }
  std::printf("%-12s %8d nodes  %8.3f s  (%lld list entries)\n", label, Graph_totalNumNodes, best,
              static_cast<long long>(entries));
  return true;
}

std::string Values(int n, const char* value) {
  std::string s = "c(";
  for (int k = 0; k < n; ++k) s += (k == 0 ? "" : ", ") + std::string(value);
  return s + ")";
}

}  // namespace

int main() {
  InitChain();
  bench::ScratchDirectory scratch(true);
  if (!scratch.ok()) return 1;
  bench::BackgroundConsole();

  const int n = 100000;
  const std::string N = std::to_string(n);
  bool ok = Time("regression",
                 "model m; var y[" + N + "], x[" + N + "], mu[" + N + "], alpha, beta, tau, xbar;\n"
                 "data in \"d.dat\";\n{ for (i in 1:" + N + ") { mu[i] <- alpha + beta * (x[i] - xbar)\n"
                 "  y[i] ~ dnorm(mu[i], tau) }\n"
                 "  alpha ~ dnorm(0, 1.0E-6) beta ~ dnorm(0, 1.0E-6) tau ~ dgamma(0.001, 0.001) }",
                 "list(xbar = 0.5, y = " + Values(n, "1.5") + ", x = " + Values(n, "0.25") + ")");
  ok = ok && Time("chain",
                  "model m; var x[" + N + "], tau, y; data in \"d.dat\";\n"
                  "{ x[1] ~ dnorm(0, 1) for (t in 2:" + N + ") { x[t] ~ dnorm(x[t - 1], tau) }\n"
                  "  tau ~ dgamma(1, 1) y ~ dnorm(x[" + N + "], 1) }",
                  "list(y = 1)");
  ok = ok && Time("wide sum",
                  "model m; var z[" + N + "], s, y; data in \"d.dat\";\n"
                  "{ for (i in 1:" + N + ") { z[i] ~ dnorm(0, 1) } s <- sum(z[]) y ~ dnorm(s, 1) }",
                  "list(y = 1)");
  Write_Close();
  return ok ? 0 : 1;
}
