#include "Harness.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace posterior {

namespace {

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string Tail(const std::string& text, size_t chars = 1500) {
  return text.size() <= chars ? text : "..." + text.substr(text.size() - chars);
}

bool Sanitized() {
#ifdef WREN_POSTERIOR_SANITIZED
  return true;
#else
  return false;
#endif
}

// A fresh directory holding a copy of the example's files, or the given files.
fs::path ScratchCopy(const std::string& example, const std::map<std::string, std::string>& files = {}) {
  std::string tmpl = (fs::temp_directory_path() / ("wren-posterior-" + example + "-XXXXXX")).string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
  const fs::path dir = tmpl;
  if (!files.empty()) {
    for (const auto& [name, text] : files) WriteText(dir / name, text);
    return dir;
  }
  for (const auto& entry : fs::directory_iterator(fs::path(WREN_EXAMPLES) / example))
    if (entry.is_regular_file()) fs::copy_file(entry.path(), dir / entry.path().filename());
  return dir;
}

// The seed of a run: the test's own, moved by WREN_POSTERIOR_SEED when set.
int Seed(int seed) {
  const char* offset = std::getenv("WREN_POSTERIOR_SEED");
  if (offset == nullptr) return seed;
  const long moved = (seed + std::strtol(offset, nullptr, 10)) % 2147483646L;
  return static_cast<int>(moved < 1 ? moved + 2147483645L : moved);
}

// Runs wren in background mode in `dir`; returns the exit status, or -1 when
// the process did not end normally (a sanitizer abort, a signal).
int RunWren(const fs::path& dir, const std::string& stem, const std::string& commandFile) {
  const std::string command = "cd '" + dir.string() + "' && '" WREN_BINARY "' 20 " + stem + " " + commandFile +
                              " </dev/null >stdout.txt 2>stderr.txt";
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Problems a run's log or standard error shows: a compile or node error, a
// failed update, anything on standard error.
std::string LogProblems(const fs::path& dir, const std::string& log) {
  std::string problems;
  const std::string err = ReadText(dir / "stderr.txt");
  if (!err.empty()) problems += "standard error:\n" + Tail(err) + "\n";
  for (const char* mark : {"Error in file", "-- error  --", "Unable to choose"})
    if (log.find(mark) != std::string::npos) {
      problems += std::string("the log reports \"") + mark + "\"\n";
      break;
    }
  return problems;
}

// The traces of STEM.out, split by the lines of STEM.ind ("name first last").
bool ReadTraces(const std::string& out, const std::string& ind, int burnIn,
                std::map<std::string, std::vector<double>>& samples, std::string& failure) {
  std::vector<std::pair<long, double>> lines;
  {
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      long iteration = 0;
      std::string value;
      if (!(fields >> iteration >> value)) {
        failure = "unreadable sample line: " + line;
        return false;
      }
      lines.emplace_back(iteration, std::strtod(value.c_str(), nullptr));
    }
  }
  std::istringstream in(ind);
  std::string name;
  long first = 0, last = 0;
  while (in >> name >> first >> last) {
    if (first < 1 || last < first || last > static_cast<long>(lines.size())) {
      failure = "index line out of range for " + name;
      return false;
    }
    std::vector<double>& trace = samples[name];
    long previous = 0;
    for (long k = first; k <= last; ++k) {
      const auto& [iteration, value] = lines[k - 1];
      if (iteration <= previous) {
        failure = "iterations of " + name + " are not increasing";
        return false;
      }
      previous = iteration;
      if (iteration > burnIn) trace.push_back(value);
    }
  }
  return true;
}

// Replaces the value of "seed = k" in a list-format file, or adds the key
// after "list(" when the file has none.
std::string WithSeed(std::string text, int seed) {
  static const std::regex key(R"(seed\s*=\s*[0-9]+)");
  const std::string entry = "seed = " + std::to_string(seed);
  if (std::regex_search(text, key)) return std::regex_replace(text, key, entry);
  const size_t open = text.find("list(");
  if (open == std::string::npos) throw std::runtime_error("initial-value file is not a list");
  return text.insert(open + 5, entry + ", ");
}

}  // namespace

// ---- Run lengths and tolerances ------------------------------------------

bool Validating() {
  const char* v = std::getenv("WREN_VALIDATE");
  return v != nullptr && std::string(v) == "1";
}

bool Blocks() {
  const char* v = std::getenv("WREN_BLOCKS");
  return v != nullptr && std::string(v) == "1";
}

int Sweeps(int base) {
  if (Validating()) return base * 10;
  if (Sanitized()) return base / 4;
  return base;
}

double Limit() { return Validating() ? 3.0 : 4.0; }

int Chains() { return Validating() ? 2 : 1; }

// ---- Data files -------------------------------------------------------------

ListFile::ListFile(const std::string& path) : path_(path) {
  // Tokens: names (with dots, as in .Data), numbers, and punctuation.
  std::string text = ReadText(path);
  std::vector<std::string> tokens;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '.') {
      size_t j = i + 1;
      while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '.')) ++j;
      tokens.push_back(text.substr(i, j - i));
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
      size_t j = i + 1;
      while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.' ||
                                 text[j] == 'E' || text[j] == 'e' ||
                                 ((text[j] == '-' || text[j] == '+') && (text[j - 1] == 'E' || text[j - 1] == 'e'))))
        ++j;
      tokens.push_back(text.substr(i, j - i));
      i = j;
    } else {
      tokens.emplace_back(1, c);
      ++i;
    }
  }
  auto number = [&](const std::string& t) {
    if (t == "NA") return std::numeric_limits<double>::quiet_NaN();
    return std::strtod(t.c_str(), nullptr);
  };
  auto vectorAt = [&](size_t& k) {  // c ( v, v, ... )
    std::vector<double> v;
    k += 2;
    while (k < tokens.size() && tokens[k] != ")") {
      if (tokens[k] != ",") v.push_back(number(tokens[k]));
      ++k;
    }
    ++k;
    return v;
  };
  for (size_t k = 2; k + 2 < tokens.size();) {
    const std::string name = tokens[k];
    if (tokens[k + 1] != "=") {
      ++k;
      continue;
    }
    k += 2;
    if (tokens[k] == "c") {
      values_[name] = vectorAt(k);
    } else if (tokens[k] == "structure") {
      while (k < tokens.size() && tokens[k] != "c") ++k;
      values_[name] = vectorAt(k);
      while (k < tokens.size() && tokens[k] != "c") ++k;
      vectorAt(k);  // the dimensions
      ++k;          // the closing parenthesis of structure(
    } else {
      values_[name] = {number(tokens[k])};
      ++k;
    }
  }
}

const std::vector<double>& ListFile::operator[](const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) throw std::runtime_error(path_ + " has no variable " + name);
  return it->second;
}

double ListFile::Scalar(const std::string& name) const { return (*this)[name].at(0); }

std::string ExampleFile(const std::string& example, const std::string& file) {
  return (fs::path(WREN_EXAMPLES) / example / file).string();
}

// ---- Running an example -----------------------------------------------------

const std::vector<double>& RunResult::operator[](const std::string& name) const {
  static const std::vector<double> none;
  const auto it = samples.find(name);
  if (it == samples.end()) {
    ADD_FAILURE() << "no trace for " << name;
    return none;
  }
  return it->second;
}

RunResult RunExample(const RunRequest& request) {
  RunResult result;
  const fs::path dir = ScratchCopy(request.example, request.files);
  WriteText(dir / request.inits, WithSeed(ReadText(dir / request.inits), Seed(request.seed)));
  std::string commands = "compile(\"" + request.model + "\"" + (Blocks() ? ", blocks" : "") + ")\n";
  for (const std::string& m : request.monitors) commands += "monitor(" + m + ")\n";
  commands += "update(" + std::to_string(request.burnIn) + ")\n";
  commands += "update(" + std::to_string(request.sweeps) + ")\n";
  commands += "q()\n";
  WriteText(dir / "post.cmd", commands);

  const int status = RunWren(dir, "post", "post.cmd");
  result.log = ReadText(dir / "post.log");
  result.outFile = ReadText(dir / "post.out");
  std::string problems = LogProblems(dir, result.log);
  if (status != 0) problems += "exit status " + std::to_string(status) + "\n";
  const std::string done = std::to_string(request.sweeps);
  if (!std::regex_search(result.log, std::regex("time for +" + done + " +updates was")))
    problems += "the log does not report the sampling update of " + done + " sweeps\n";
  std::string traceFailure;
  if (problems.empty() &&
      !ReadTraces(result.outFile, ReadText(dir / "post.ind"), request.burnIn, result.samples, traceFailure))
    problems += traceFailure + "\n";
  for (const auto& [name, trace] : result.samples)
    if (problems.empty() && static_cast<int>(trace.size()) != request.sweeps)
      problems += name + " has " + std::to_string(trace.size()) + " samples after the burn-in, expected " + done +
                  "\n";

  if (problems.empty()) {
    result.ok = true;
    fs::remove_all(dir);
  } else {
    result.failure = problems + "scratch directory kept: " + dir.string() + "\nlog:\n" + Tail(result.log);
  }
  return result;
}

ChainSet RunChains(const RunRequest& request) {
  ChainSet set;
  for (int chain = 0; chain < Chains(); ++chain) {
    RunRequest r = request;
    r.seed = static_cast<int>((request.seed + 1000003L * chain) % 2147483646L);
    set.runs.push_back(RunExample(r));
    if (!set.runs.back().ok) {
      set.ok = false;
      set.failure += set.runs.back().failure + "\n";
    }
  }
  return set;
}

ChainSet RunInline(const std::string& label, const std::string& model, const std::string& data,
                   const std::string& inits, const std::vector<std::string>& monitors, int seed, int sweeps) {
  RunRequest r;
  r.example = label;
  r.files = {{"m.bug", model}, {"m.in", inits}};
  if (!data.empty()) r.files["m.dat"] = data;
  r.model = "m.bug";
  r.inits = "m.in";
  r.monitors = monitors;
  r.burnIn = 1000;
  r.sweeps = Sweeps(sweeps);
  r.seed = seed;
  return RunChains(r);
}

std::string InlineModel(const std::string& label, const std::string& declarations, const std::string& body,
                        bool hasData) {
  std::string model = "model " + label + ";\n" + declarations + "\n";
  if (hasData) model += "data in \"m.dat\";\n";
  return model + "inits in \"m.in\";\n{\n" + body + "}\n";
}

void CheckOneUnknown(const OneUnknownCase& c) {
  const ChainSet run = RunInline(c.label, InlineModel(c.label, c.declarations, c.body, !c.data.empty()), c.data,
                                 c.inits, {"x"}, c.seed);
  ASSERT_TRUE(run.ok) << c.label << ": " << run.failure;
  const Grid1 g = Tabulate1(c.logPosterior, c.lo, c.hi, 20001);
  const double mean = g.Expect([](double x) { return x; });
  Comparison cmp(c.label);
  cmp.MeanAndVariance("x", run["x"], mean, g.Expect([mean](double x) { return (x - mean) * (x - mean); }));
}

std::vector<const std::vector<double>*> ChainSet::operator[](const std::string& name) const {
  std::vector<const std::vector<double>*> traces;
  for (const RunResult& run : runs) traces.push_back(&run[name]);
  return traces;
}

bool RunShipped(const std::string& example, const std::string& stem, const std::string& commandFile,
                std::string& log, std::string& out, std::string& ind, std::string& failure) {
  const fs::path dir = ScratchCopy(example);
  const int status = RunWren(dir, stem, commandFile);
  log = ReadText(dir / (stem + ".log"));
  out = ReadText(dir / (stem + ".out"));
  ind = ReadText(dir / (stem + ".ind"));
  failure = LogProblems(dir, log);
  if (status != 0) failure += "exit status " + std::to_string(status) + "\n";
  if (failure.empty()) {
    fs::remove_all(dir);
    return true;
  }
  failure += "scratch directory kept: " + dir.string() + "\nlog:\n" + Tail(log);
  return false;
}

// ---- Summaries and comparison -----------------------------------------------

void Comparison::One(const std::string& what, const std::vector<test::Moments>& s, bool variance, double exact) {
  bool within = false;
  std::string detail;
  for (size_t k = 0; k < s.size(); ++k) {
    const double estimate = variance ? s[k].variance : s[k].mean;
    const double se = variance ? s[k].seVariance : s[k].seMean;
    const double dev = se > 0.0 ? (estimate - exact) / se : std::numeric_limits<double>::infinity();
    std::printf("[ deviation] %-12s %-22s estimate %-13.7g exact %-13.7g se %-11.4g %+6.2f SE%s\n",
                example_.c_str(), what.c_str(), estimate, exact, se, dev,
                s.size() > 1 ? (" (chain " + std::to_string(k + 1) + ")").c_str() : "");
    EXPECT_GT(se, 0.0) << example_ << " " << what << ": the trace does not vary";
    within = within || std::fabs(dev) < Limit();
    detail += "\n  chain " + std::to_string(k + 1) + ": estimate " + std::to_string(estimate) + ", standard error " +
              std::to_string(se) + ", " + std::to_string(dev) + " SE";
    if (std::fabs(dev) > worst_ || worstWhat_.empty()) {
      worst_ = std::fabs(dev);
      worstWhat_ = what + (s.size() > 1 ? ", chain " + std::to_string(k + 1) : "");
    }
  }
  EXPECT_TRUE(within) << example_ << " " << what << ": exact " << exact << ", limit " << Limit() << " SE" << detail;
}

void Comparison::Mean(const std::string& name, const Traces& traces, double exactMean) {
  std::vector<test::Moments> s;
  for (const std::vector<double>* t : traces) {
    ASSERT_GE(t->size(), static_cast<size_t>(kBatches * 2)) << example_ << " " << name << ": too few samples";
    s.push_back(test::BatchMoments(*t, kBatches));
  }
  One(name + " mean", s, false, exactMean);
}

void Comparison::MeanAndVariance(const std::string& name, const Traces& traces, double exactMean,
                                 double exactVariance) {
  std::vector<test::Moments> s;
  for (const std::vector<double>* t : traces) {
    ASSERT_GE(t->size(), static_cast<size_t>(kBatches * 2)) << example_ << " " << name << ": too few samples";
    s.push_back(test::BatchMoments(*t, kBatches));
  }
  One(name + " mean", s, false, exactMean);
  One(name + " variance", s, true, exactVariance);
}

Comparison::~Comparison() {
  if (!worstWhat_.empty())
    std::printf("[ largest  ] %-12s %.2f SE (%s)\n", example_.c_str(), worst_, worstWhat_.c_str());
}

// ---- Quadrature ---------------------------------------------------------------

namespace {

// The range of midpoints whose log density is within 40 of the largest,
// widened by one cell on each side and kept inside [lo, hi].
void Narrow(const std::vector<double>& logs, double lo, double hi, double& newLo, double& newHi) {
  const int n = static_cast<int>(logs.size());
  const double h = (hi - lo) / n;
  double top = -std::numeric_limits<double>::infinity();
  for (double v : logs) top = std::max(top, v);
  int first = n, last = -1;
  for (int i = 0; i < n; ++i)
    if (logs[i] > top - 40.0) {
      first = std::min(first, i);
      last = std::max(last, i);
    }
  if (last < 0) throw std::runtime_error("log density is nowhere finite");
  newLo = std::max(lo, lo + (first - 1) * h);
  newHi = std::min(hi, lo + (last + 2) * h);
}

double Finite(double v) { return std::isfinite(v) ? v : -std::numeric_limits<double>::infinity(); }

}  // namespace

Grid1 Tabulate1(const std::function<double(double)>& logDensity, double lo, double hi, int points) {
  for (int round = 0; round < 8; ++round) {
    const int n = 2001;
    std::vector<double> logs(n);
    for (int i = 0; i < n; ++i) logs[i] = Finite(logDensity(lo + (i + 0.5) * (hi - lo) / n));
    double a, b;
    Narrow(logs, lo, hi, a, b);
    const bool settled = (b - a) > 0.9 * (hi - lo);
    lo = a;
    hi = b;
    if (settled) break;
  }
  Grid1 g;
  g.x.resize(points);
  g.w.resize(points);
  double top = -std::numeric_limits<double>::infinity();
  for (int i = 0; i < points; ++i) {
    g.x[i] = lo + (i + 0.5) * (hi - lo) / points;
    g.w[i] = Finite(logDensity(g.x[i]));
    top = std::max(top, g.w[i]);
  }
  double total = 0.0;
  for (double& w : g.w) total += (w = std::exp(w - top));
  for (double& w : g.w) w /= total;
  return g;
}

double Grid1::Expect(const std::function<double(double)>& f) const {
  double s = 0.0;
  for (size_t i = 0; i < x.size(); ++i)
    if (w[i] > 0.0) s += w[i] * f(x[i]);
  return s;
}

Grid2 Tabulate2(const std::function<double(double, double)>& logDensity, double xlo, double xhi, double ylo,
                double yhi, int points) {
  for (int round = 0; round < 8; ++round) {
    const int n = 161;
    std::vector<double> grid(n * n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        grid[i * n + j] = Finite(logDensity(xlo + (i + 0.5) * (xhi - xlo) / n, ylo + (j + 0.5) * (yhi - ylo) / n));
    // Profiles along each axis: the largest log density over the other.
    std::vector<double> px(n, -std::numeric_limits<double>::infinity()), py = px;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        px[i] = std::max(px[i], grid[i * n + j]);
        py[j] = std::max(py[j], grid[i * n + j]);
      }
    double a, b, c, d;
    Narrow(px, xlo, xhi, a, b);
    Narrow(py, ylo, yhi, c, d);
    const bool settled = (b - a) > 0.9 * (xhi - xlo) && (d - c) > 0.9 * (yhi - ylo);
    xlo = a, xhi = b, ylo = c, yhi = d;
    if (settled) break;
  }
  Grid2 g;
  g.x.resize(static_cast<size_t>(points) * points);
  g.y.resize(g.x.size());
  g.w.resize(g.x.size());
  double top = -std::numeric_limits<double>::infinity();
  for (int i = 0; i < points; ++i)
    for (int j = 0; j < points; ++j) {
      const size_t k = static_cast<size_t>(i) * points + j;
      g.x[k] = xlo + (i + 0.5) * (xhi - xlo) / points;
      g.y[k] = ylo + (j + 0.5) * (yhi - ylo) / points;
      g.w[k] = Finite(logDensity(g.x[k], g.y[k]));
      top = std::max(top, g.w[k]);
    }
  double total = 0.0;
  for (double& w : g.w) total += (w = std::exp(w - top));
  for (double& w : g.w) w /= total;
  return g;
}

double Grid2::Expect(const std::function<double(double, double)>& f) const {
  double s = 0.0;
  for (size_t k = 0; k < x.size(); ++k)
    if (w[k] > 0.0) s += w[k] * f(x[k], y[k]);
  return s;
}

// ---- Small numerical helpers --------------------------------------------------

double NormalPdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }
double NormalCdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double NormalUpper(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

std::vector<double> Inverse(const std::vector<double>& a, int n) {
  // Gauss-Jordan elimination with partial pivoting on [a | I].
  std::vector<double> m(a), inv(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) inv[i * n + i] = 1.0;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r)
      if (std::fabs(m[r * n + col]) > std::fabs(m[pivot * n + col])) pivot = r;
    for (int c = 0; c < n; ++c) {
      std::swap(m[col * n + c], m[pivot * n + c]);
      std::swap(inv[col * n + c], inv[pivot * n + c]);
    }
    const double p = m[col * n + col];
    for (int c = 0; c < n; ++c) {
      m[col * n + c] /= p;
      inv[col * n + c] /= p;
    }
    for (int r = 0; r < n; ++r) {
      if (r == col) continue;
      const double f = m[r * n + col];
      for (int c = 0; c < n; ++c) {
        m[r * n + c] -= f * m[col * n + c];
        inv[r * n + c] -= f * inv[col * n + c];
      }
    }
  }
  return inv;
}

ChainSet SampleExample(const std::string& example, const std::vector<std::string>& monitors, int baseSweeps,
                       int seed) {
  RunRequest r;
  r.example = example;
  r.model = example + ".bug";
  r.inits = example + ".in";
  r.monitors = monitors;
  r.burnIn = 1000;
  r.sweeps = Sweeps(baseSweeps);
  r.seed = seed;
  return RunChains(r);
}

}  // namespace posterior
