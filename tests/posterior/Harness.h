// Support for the posterior suite: running wren on a model in a scratch
// directory, reading its traces, comparing their batch-means summaries with
// exact values, and the quadrature the exact values of non-conjugate models need.
#pragma once

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "Stats.h"

namespace posterior {

// Sweeps for a run whose ordinary length is `base`: ten times as many when
// WREN_VALIDATE=1, a quarter under the sanitizers (about ten times slower).
int Sweeps(int base);

// The values of a list-format file, each variable's in row-major order; NA is NaN.
class ListFile {
 public:
  explicit ListFile(const std::string& path);
  const std::vector<double>& operator[](const std::string& name) const;
  double Scalar(const std::string& name) const { return (*this)[name].at(0); }

 private:
  std::string path_;
  std::map<std::string, std::vector<double>> values_;
};
// The data file NAME.dat of the example NAME.
ListFile ExampleData(const std::string& example);

struct RunRequest {
  std::string label = {};                         // the example under examples/, or a label for `files`
  std::map<std::string, std::string> files = {};  // when not empty, m.bug, m.in (and m.dat) instead of the example's
  std::vector<std::string> monitors = {};         // monitor(...) arguments; Check fills them in when empty
  int burnIn = 1000;
  int sweeps = Sweeps(20000);
  int seed = 1;                  // written into the initial-value file
  std::string commandFile = {};  // when set: this shipped command file, run unchanged
};

struct RunResult {
  bool ok = false;
  std::string failure;  // why the run is unusable, with the log's tail
  std::string log, outFile;
  // Samples after the burn-in, by the names of the index file ("p[2]").
  std::map<std::string, std::vector<double>> samples;
  const std::vector<double>& operator[](const std::string& name) const;
};

// Runs wren in background mode in a scratch copy of the example (or of
// `files`), with a command file that compiles (with the blocks option when
// WREN_BLOCKS=1), monitors, updates burnIn then sweeps times and quits. The
// seed is moved by WREN_POSTERIOR_SEED when set. Fails on an error in the
// log, output on standard error, a bad exit status, or traces that do not
// hold every sweep; the scratch directory is kept only then.
RunResult RunOnce(const RunRequest& request);

// The request's chain and, when validating, a second one with a seed far from the first.
struct ChainSet {
  std::vector<RunResult> runs;
  bool ok = true;
  std::string failure;
  std::vector<const std::vector<double>*> operator[](const std::string& name) const;
};
ChainSet Run(const RunRequest& request);

// The files of a model written in a test: "model m;", the declarations, the
// data statement when there is data, the initial values (which receive the seed) and the body.
std::map<std::string, std::string> Inline(const std::string& declarations, const std::string& body,
                                          const std::string& data = "", const std::string& inits = "list(seed = 1)\n");

// The exact posterior mean and variance of a monitored quantity; a NaN
// variance compares the mean alone.
struct Exact {
  std::string name;
  double mean, variance = NAN;
};

// Runs the request (monitoring the names of `exact` unless it names its
// monitors) and compares each estimate with its exact value. A comparison
// fails when it lies Limit() standard errors away (4, or 3 when validating)
// in every chain: 115 comparisons at 3 SE would often fail by chance in one
// chain (t with 49 degrees of freedom exceeds 3 with probability 0.004),
// while a real fault shows in both.
ChainSet Check(RunRequest request, const std::vector<Exact>& exact);

// ---- Quadrature ---------------------------------------------------------------

// A density known up to a constant, tabulated at the midpoints of a grid and
// normalised to weights that sum to 1. The grid is first narrowed to where the
// log density is within 40 of its largest value. One-dimensional grids take
// functions of x alone.
struct Grid {
  std::vector<double> x, y, w;
  template <class F>
  double Expect(const F& f) const {
    double s = 0.0;
    for (size_t k = 0; k < x.size(); ++k)
      if (w[k] > 0.0) {
        if constexpr (std::is_invocable_v<F, double>)
          s += w[k] * f(x[k]);
        else
          s += w[k] * f(x[k], y[k]);
      }
    return s;
  }
  // The mean of f and its variance, from f2 = E[f^2 | the tabulated unknowns].
  template <class F, class G>
  Exact Moments(const std::string& name, const F& f, const G& f2) const {
    const double m = Expect(f);
    return {name, m, Expect(f2) - m * m};
  }
  template <class F>
  Exact Moments(const std::string& name, const F& f) const {
    return Moments(name, f, [&](auto... u) -> decltype(f(u...)) { return f(u...) * f(u...); });
  }
};
Grid Tabulate1(const std::function<double(double)>& logDensity, double lo, double hi, int points = 4001);
Grid Tabulate2(const std::function<double(double, double)>& logDensity, double xlo, double xhi, double ylo, double yhi,
               int points = 401);

// Mean and variance of x under a density known up to a constant on [lo, hi].
Exact Quadrature(const std::string& name, const std::function<double(double)>& logDensity, double lo, double hi);
// Mean and variance of a law on 0..top given by its log weights.
Exact Enumerate(const std::string& name, int top, const std::function<double(int)>& logWeight);

double NormalPdf(double z);    // standard normal density
double NormalCdf(double z);    // standard normal distribution function
double NormalUpper(double z);  // 1 - NormalCdf(z), accurate in the upper tail

}  // namespace posterior
