// Support for the posterior-correctness suite: running wren on an example in
// a scratch directory, reading its trace files, comparison of the traces'
// batch-means summaries with exact values, and the quadrature the exact
// values of non-conjugate examples need.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Stats.h"

namespace posterior {

// ---- Run lengths and tolerances ------------------------------------------

// True when WREN_VALIDATE=1: ten times the sweeps, a limit of 3 standard
// errors instead of 4, and a second chain (see Comparison).
bool Validating();
// True when WREN_BLOCKS=1: every example compiles with the blocks option.
bool Blocks();
// Number of independent chains each example is run with: 2 when validating, else 1.
int Chains();
// Sampling sweeps for an example whose ordinary run takes `base` sweeps:
// ten times as many when validating, a quarter under the sanitizers (whose
// builds run the sampler about ten times slower).
int Sweeps(int base);
// Largest accepted deviation of an estimate from its exact value, in units of
// the estimate's Monte Carlo standard error.
double Limit();
// Number of batches of the batch-means standard errors.
constexpr int kBatches = 50;

// ---- Data files -------------------------------------------------------------

// The values of a list-format file, each variable's values in row-major
// order; NA is NaN.
class ListFile {
 public:
  explicit ListFile(const std::string& path);
  const std::vector<double>& operator[](const std::string& name) const;
  double Scalar(const std::string& name) const;
  bool Has(const std::string& name) const { return values_.count(name) != 0; }

 private:
  std::string path_;
  std::map<std::string, std::vector<double>> values_;
};

// Path of a file in an example's directory.
std::string ExampleFile(const std::string& example, const std::string& file);

// ---- Running an example -----------------------------------------------------

struct RunRequest {
  std::string example;                // directory under examples/, or a label for `files`
  std::map<std::string, std::string> files;  // when not empty: the files to run, instead of the example's
  std::string model;                  // model file in it
  std::string inits;                  // its initial-value file; receives the seed
  std::vector<std::string> monitors;  // arguments of monitor(...)
  int burnIn = 1000;
  int sweeps = 10000;
  int seed = 1;
};

struct RunResult {
  bool ok = false;
  std::string failure;  // why the run is unusable, with the log's tail
  std::string log;
  std::string outFile;  // contents of STEM.out
  // Samples after the burn-in, by the names of the index file ("p[2]").
  std::map<std::string, std::vector<double>> samples;
  const std::vector<double>& operator[](const std::string& name) const;
};

// Copies the example (or writes `files`) into a fresh scratch directory, sets
// the seed in its initial-value file (plus WREN_POSTERIOR_SEED when that is
// set, to repeat the suite with other seeds), runs wren in background mode with a command file that
// compiles, monitors, updates burnIn then sweeps times and quits, and reads
// STEM.out and STEM.ind. The directory is removed unless the run failed.
RunResult RunExample(const RunRequest& request);

// The chains of one example: the request's seed, then (when validating) a second
// seed far from the first. ok is false when any run failed.
struct ChainSet {
  std::vector<RunResult> runs;
  bool ok = true;
  std::string failure;
  // The trace of one quantity in every chain.
  std::vector<const std::vector<double>*> operator[](const std::string& name) const;
};
ChainSet RunChains(const RunRequest& request);

// Runs a model written in the test: the files m.bug, m.in (the initial
// values, which receive the seed) and, when data is not empty, m.dat; 1000
// sweeps of burn-in, then Sweeps(sweeps).
ChainSet RunInline(const std::string& label, const std::string& model, const std::string& data,
                   const std::string& inits, const std::vector<std::string>& monitors, int seed,
                   int sweeps = 20000);

// The text of a model written in the test: its header, declarations, the
// data statement when it has data, the initial-value statement and body.
std::string InlineModel(const std::string& label, const std::string& declarations, const std::string& body,
                        bool hasData);

// A model written in the test with one unknown, x, whose posterior density
// is known up to a constant on [lo, hi].
struct OneUnknownCase {
  std::string label, declarations, body, data, inits;
  int seed;
  std::function<double(double)> logPosterior;
  double lo, hi;
};
// Runs the model and compares x's posterior mean and variance with
// quadrature of its density.
void CheckOneUnknown(const OneUnknownCase& c);

// Samples a shipped example (its own model and initial-value files) after
// 1000 sweeps of burn-in, for Sweeps(baseSweeps) sweeps.
ChainSet SampleExample(const std::string& example, const std::vector<std::string>& monitors, int baseSweeps,
                       int seed);

// Runs a command file shipped with the example, unchanged, in a scratch
// directory; returns the log, and the trace and index files in `out`, `ind`.
bool RunShipped(const std::string& example, const std::string& stem, const std::string& commandFile,
                std::string& log, std::string& out, std::string& ind, std::string& failure);

// ---- Summaries and comparison -----------------------------------------------

// Compares the monitored quantities of one example with their exact posterior
// moments and prints every deviation and, at the end, the largest one in units
// of its standard error. A comparison fails when the estimate lies Limit() or
// more standard errors from the exact value in every chain: with one chain,
// when it does so once; when validating, only when the second, independent
// chain repeats it. About 115 comparisons at 3 standard errors would
// otherwise fail by chance in a good share of validation runs (t with 49
// degrees of freedom exceeds 3 with probability 0.004), while a real fault
// shows in both chains.
class Comparison {
 public:
  explicit Comparison(std::string example) : example_(std::move(example)) {}
  ~Comparison();
  Comparison(const Comparison&) = delete;
  Comparison& operator=(const Comparison&) = delete;

  using Traces = std::vector<const std::vector<double>*>;
  void Mean(const std::string& name, const Traces& traces, double exactMean);
  void MeanAndVariance(const std::string& name, const Traces& traces, double exactMean, double exactVariance);

 private:
  // Deviations of one statistic in each chain, in standard errors.
  void One(const std::string& what, const std::vector<test::Moments>& s, bool variance, double exact);
  std::string example_;
  double worst_ = 0.0;
  std::string worstWhat_;
};

// ---- Quadrature ---------------------------------------------------------------

// A density known up to a constant, tabulated at the midpoints of a grid and
// normalised to weights that sum to 1. The grid is first narrowed to where the
// log density is within 40 of its largest value, then refined.
struct Grid1 {
  std::vector<double> x, w;
  double Expect(const std::function<double(double)>& f) const;
};
Grid1 Tabulate1(const std::function<double(double)>& logDensity, double lo, double hi, int points = 4001);

struct Grid2 {
  std::vector<double> x, y, w;
  double Expect(const std::function<double(double, double)>& f) const;
};
Grid2 Tabulate2(const std::function<double(double, double)>& logDensity, double xlo, double xhi, double ylo,
                double yhi, int points = 401);

// ---- Small numerical helpers --------------------------------------------------

double NormalPdf(double z);    // standard normal density
double NormalCdf(double z);    // standard normal distribution function
double NormalUpper(double z);  // 1 - NormalCdf(z), accurate in the upper tail
// Inverse of a small symmetric positive-definite matrix (row-major, n x n).
std::vector<double> Inverse(const std::vector<double>& a, int n);

}  // namespace posterior
