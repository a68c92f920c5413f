// Adaptive rejection sampling on a logistic regression with 1000
// observations and three coefficients, each coefficient updated by the
// whole-line rejection sampler once per sweep. The data come from a fixed
// seed. After a warm-up the program reports how many evaluations of the
// log full conditional one draw costs on average (counted at the first
// observation, which every evaluation of every coefficient reaches once),
// the sweeps per second, and the posterior means beside the coefficients
// the data were drawn from.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "commands/Chain.h"
#include "base/Params.h"
#include "base/Write.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "language/SymTabs.h"
#include "graph/Density.h"
#include "numerics/RandNum.h"
#include "sampling/DFreeARS.h"
#include "sampling/Samplers.h"
#include "BenchConsole.h"
#include "BenchSupport.h"
#include "RunPipeline.h"

namespace {

constexpr int observations = 1000;
constexpr int warmUp = 200;
constexpr int sweeps = 2000;
constexpr double truth[3] = {-0.5, 1.0, -0.7};

void WriteText(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

// Covariates from a fixed seed and responses drawn from the logistic model.
void WriteData() {
  std::mt19937 gen(20240611u);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::string x1 = "x1 = c(", x2 = "x2 = c(", r = "r = c(";
  for (int i = 0; i < observations; ++i) {
    const double a = normal(gen), b = normal(gen);
    const double p = 1.0 / (1.0 + std::exp(-(truth[0] + truth[1] * a + truth[2] * b)));
    const char* sep = i == 0 ? "" : ", ";
    x1.append(sep).append(std::to_string(a));
    x2.append(sep).append(std::to_string(b));
    r.append(sep).append(unit(gen) < p ? "1" : "0");
  }
  WriteText("d.dat", "list(" + x1 + "),\n" + x2 + "),\n" + r + "))\n");
  WriteText("i.dat", "list(b0 = 0, b1 = 0, b2 = 0)\n");
  WriteText("m.bug",
            "model logistic;\nconst N = " + std::to_string(observations) +
                ";\nvar x1[N], x2[N], r[N], p[N], b0, b1, b2;\ndata in \"d.dat\";\ninits in \"i.dat\";\n"
                "{ for (i in 1:N) { logit(p[i]) <- b0 + b1 * x1[i] + b2 * x2[i]; r[i] ~ dbern(p[i]) }\n"
                "  b0 ~ dnorm(0, 1.0E-6) b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) }\n");
}

// The compile phases, in the order the compile command runs them.
bool Compile() {
  test::ResetPipeline();
  InitSamplers();
  InitDFreeARS();
  if (!test::RunPipeline("m.bug")) return false;
  Determ_OptDeterm();
  return true;
}

Graph_Node* Named(const char* name, int offset = 0) {
  return Graph_nodes[static_cast<size_t>(SymTabs_FindName(name)->firstNode + offset)];
}

Graph_Proc counted = nullptr;
int64_t evaluations = 0;
double Counting(Graph_Node* node) {
  ++evaluations;
  return counted(node);
}

}  // namespace

int main() {
  InitChain();
  bench::ScratchDirectory scratch(true);
  if (!scratch.ok()) return 1;
  bench::BackgroundConsole();
  WriteData();
  if (!Compile()) {
    std::printf("the model did not compile; see the log\n");
    Write_Close();
    return 1;
  }
  const char* names[3] = {"b0", "b1", "b2"};
  for (const char* name : names) {
    Samplers_Sampler& s = Samplers_Add();
    s.update = DFreeARS_FullArs;
    s.node = Named(name);
  }
  Graph_Node* first = Named("r");
  counted = first->logDensity;
  first->logDensity = Counting;

  bool aborted = false, error = false;
  for (int i = 0; i < warmUp && !error; ++i) Samplers_Update(aborted, error);
  evaluations = 0;
  double sum[3] = {0.0, 0.0, 0.0};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < sweeps && !error; ++i) {
    Samplers_Update(aborted, error);
    for (int k = 0; k < 3; ++k) sum[k] += Graph_Own(Named(names[k]));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (error) {
    Samplers_ReportFailure();
    std::printf("a draw failed; see the log\n");
    Write_Close();
    return 1;
  }
  std::printf("logistic regression, %d observations, 3 coefficients, %d sweeps after %d of warm-up\n", observations,
              sweeps, warmUp);
  std::printf("  evaluations per draw  %6.2f\n", static_cast<double>(evaluations) / (3.0 * sweeps));
  std::printf("  sweeps per second     %8.1f\n", sweeps / seconds);
  for (int k = 0; k < 3; ++k)
    std::printf("  %s: posterior mean %7.3f (data drawn with %5.2f)\n", names[k], sum[k] / sweeps, truth[k]);
  Write_Close();
  return 0;
}
