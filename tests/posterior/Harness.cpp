#include "Harness.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace posterior {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kBatches = 50;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Tail(const std::string& text) {
  return text.size() <= 1500 ? text : "..." + text.substr(text.size() - 1500);
}

bool Flag(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && std::string(v) == "1";
}
bool Validating() { return Flag("WREN_VALIDATE"); }
double Limit() { return Validating() ? 3.0 : 4.0; }

// The seed of a run: the test's own, moved by WREN_POSTERIOR_SEED when set.
int Seed(int seed) {
  const char* offset = std::getenv("WREN_POSTERIOR_SEED");
  if (offset == nullptr) return seed;
  const long moved = (seed + std::strtol(offset, nullptr, 10)) % 2147483646L;
  return static_cast<int>(moved < 1 ? moved + 2147483645L : moved);
}

// Replaces "seed = k" in a list-format file, or adds it after "list(".
std::string WithSeed(std::string text, int seed) {
  static const std::regex key(R"(seed\s*=\s*[0-9]+)");
  const std::string entry = "seed = " + std::to_string(seed);
  if (std::regex_search(text, key)) return std::regex_replace(text, key, entry);
  const size_t open = text.find("list(");
  if (open == std::string::npos) throw std::runtime_error("initial-value file is not a list");
  return text.insert(open + 5, entry + ", ");
}

// The traces of STEM.out, split by the lines of STEM.ind ("name first last"),
// which must cover every line once with increasing iterations.
std::string ReadTraces(const std::string& out, const std::string& ind, int burnIn,
                       std::map<std::string, std::vector<double>>& samples) {
  std::vector<std::pair<long, double>> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    long iteration = 0;
    std::string value;
    if (!(fields >> iteration >> value)) return "unreadable sample line: " + line;
    lines.emplace_back(iteration, std::strtod(value.c_str(), nullptr));
  }
  std::istringstream index(ind);
  std::string name;
  long first = 0, last = 0, covered = 0;
  while (index >> name >> first >> last) {
    if (first < 1 || last < first || last > static_cast<long>(lines.size()))
      return "index line out of range for " + name;
    covered += last - first + 1;
    std::vector<double>& trace = samples[name];
    for (long k = first, previous = 0; k <= last; previous = lines[k - 1].first, ++k) {
      if (lines[k - 1].first <= previous) return "iterations of " + name + " are not increasing";
      if (lines[k - 1].first > burnIn) trace.push_back(lines[k - 1].second);
    }
  }
  if (covered != static_cast<long>(lines.size())) return "the index does not cover the sample lines once";
  return "";
}

// Deviations of one statistic in each chain, in standard errors; see Check.
class Comparison {
 public:
  explicit Comparison(std::string label) : label_(std::move(label)) {}
  ~Comparison() {
    if (!worstWhat_.empty())
      std::printf("[ largest  ] %-12s %.2f SE (%s)\n", label_.c_str(), worst_, worstWhat_.c_str());
  }
  void Compare(const Exact& e, const std::vector<const std::vector<double>*>& traces) {
    std::vector<test::Moments> s;
    for (const std::vector<double>* t : traces) {
      ASSERT_GE(t->size(), static_cast<size_t>(kBatches * 2)) << label_ << " " << e.name << ": too few samples";
      s.push_back(test::BatchMoments(*t, kBatches));
    }
    One(e.name + " mean", s, false, e.mean);
    if (!std::isnan(e.variance)) One(e.name + " variance", s, true, e.variance);
  }

 private:
  void One(const std::string& what, const std::vector<test::Moments>& s, bool variance, double exact) {
    bool within = false;
    std::string detail;
    for (size_t k = 0; k < s.size(); ++k) {
      const double estimate = variance ? s[k].variance : s[k].mean;
      const double se = variance ? s[k].seVariance : s[k].seMean;
      const double dev = se > 0.0 ? (estimate - exact) / se : kInf;
      const std::string chain = s.size() > 1 ? " (chain " + std::to_string(k + 1) + ")" : "";
      std::printf("[ deviation] %-12s %-22s estimate %-13.7g exact %-13.7g se %-11.4g %+6.2f SE%s\n", label_.c_str(),
                  what.c_str(), estimate, exact, se, dev, chain.c_str());
      EXPECT_GT(se, 0.0) << label_ << " " << what << ": the trace does not vary";
      within = within || std::fabs(dev) < Limit();
      detail += "\n  chain " + std::to_string(k + 1) + ": estimate " + std::to_string(estimate) + ", standard error " +
                std::to_string(se) + ", " + std::to_string(dev) + " SE";
      if (std::fabs(dev) > worst_ || worstWhat_.empty()) worst_ = std::fabs(dev), worstWhat_ = what + chain;
    }
    EXPECT_TRUE(within) << label_ << " " << what << ": exact " << exact << ", limit " << Limit() << " SE" << detail;
  }
  std::string label_;
  double worst_ = 0.0;
  std::string worstWhat_;
};

}  // namespace

int Sweeps(int base) {
  if (Validating()) return base * 10;
#ifdef WREN_POSTERIOR_SANITIZED
  return base / 4;
#else
  return base;
#endif
}

// ---- Data files -------------------------------------------------------------

ListFile::ListFile(const std::string& path) : path_(path) {
  const std::string text = std::regex_replace(ReadText(path), std::regex("#[^\n]*"), "");
  static const std::regex token(R"([A-Za-z.][A-Za-z0-9.]*|-?[0-9.]+([eE][-+]?[0-9]+)?|\S)");
  std::vector<std::string> t;
  for (std::sregex_iterator it(text.begin(), text.end(), token), end; it != end; ++it) t.push_back(it->str());
  auto number = [](const std::string& s) { return s == "NA" ? NAN : std::strtod(s.c_str(), nullptr); };
  // name = value, name = c(...), and name = structure(.Data = c(...), .Dim = ...).
  std::string owner;
  for (size_t k = 0; k + 2 < t.size(); ++k) {
    if (t[k + 1] != "=") continue;
    const std::string name = t[k] == ".Data" ? owner : t[k];
    k += 2;
    if (t[k] == "structure") {
      owner = name;
      continue;
    }
    std::vector<double>& v = values_[name];
    if (t[k] != "c")
      v.push_back(number(t[k]));
    else
      for (k += 2; k < t.size() && t[k] != ")"; ++k)
        if (t[k] != ",") v.push_back(number(t[k]));
  }
}

const std::vector<double>& ListFile::operator[](const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) throw std::runtime_error(path_ + " has no variable " + name);
  return it->second;
}

ListFile ExampleData(const std::string& example) {
  return ListFile((fs::path(WREN_EXAMPLES) / example / (example + ".dat")).string());
}

// ---- Running wren -----------------------------------------------------------

const std::vector<double>& RunResult::operator[](const std::string& name) const {
  static const std::vector<double> none;
  const auto it = samples.find(name);
  if (it != samples.end()) return it->second;
  ADD_FAILURE() << "no trace for " << name;
  return none;
}

RunResult RunOnce(const RunRequest& request) {
  std::string tmpl = (fs::temp_directory_path() / ("wren-posterior-" + request.label + "-XXXXXX")).string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
  const fs::path dir = tmpl;
  for (const auto& [name, text] : request.files) WriteText(dir / name, text);
  if (request.files.empty())
    for (const auto& entry : fs::directory_iterator(fs::path(WREN_EXAMPLES) / request.label))
      if (entry.is_regular_file()) fs::copy_file(entry.path(), dir / entry.path().filename());

  const bool shipped = !request.commandFile.empty();
  const std::string stem = shipped ? fs::path(request.commandFile).stem().string() : "post";
  if (!shipped) {
    const std::string file = request.files.empty() ? request.label : "m";
    WriteText(dir / (file + ".in"), WithSeed(ReadText(dir / (file + ".in")), Seed(request.seed)));
    std::string commands = "compile(\"" + file + ".bug\"" + (Flag("WREN_BLOCKS") ? ", blocks" : "") + ")\n";
    for (const std::string& m : request.monitors) commands += "monitor(" + m + ")\n";
    commands += "update(" + std::to_string(request.burnIn) + ")\nupdate(" + std::to_string(request.sweeps) + ")\nq()\n";
    WriteText(dir / "post.cmd", commands);
  }
  const std::string command = "cd '" + dir.string() + "' && '" WREN_BINARY "' 20 " + stem + " " +
                              (shipped ? request.commandFile : "post.cmd") + " </dev/null >stdout.txt 2>stderr.txt";
  const int status = std::system(command.c_str());

  RunResult result;
  result.log = ReadText(dir / (stem + ".log"));
  result.outFile = ReadText(dir / (stem + ".out"));
  std::string problems;
  const std::string err = ReadText(dir / "stderr.txt");
  if (!err.empty()) problems += "standard error:\n" + Tail(err) + "\n";
  for (const char* mark : {"Error in file", "-- error  --", "Unable to choose"})
    if (result.log.find(mark) != std::string::npos) {
      problems += std::string("the log reports \"") + mark + "\"\n";
      break;
    }
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    problems += "exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "\n";
  const std::string done = std::to_string(request.sweeps);
  if (!shipped && !std::regex_search(result.log, std::regex("time for +" + done + " +updates was")))
    problems += "the log does not report the sampling update of " + done + " sweeps\n";
  if (problems.empty())
    problems =
        ReadTraces(result.outFile, ReadText(dir / (stem + ".ind")), shipped ? 0 : request.burnIn, result.samples);
  for (const auto& [name, trace] : result.samples)
    if (problems.empty() && !shipped && static_cast<int>(trace.size()) != request.sweeps)
      problems += name + " has " + std::to_string(trace.size()) + " samples after the burn-in, expected " + done + "\n";

  result.ok = problems.empty();
  if (result.ok)
    fs::remove_all(dir);
  else
    result.failure = problems + "\nscratch directory kept: " + dir.string() + "\nlog:\n" + Tail(result.log);
  return result;
}

ChainSet Run(const RunRequest& request) {
  ChainSet set;
  for (int chain = 0; chain < (Validating() ? 2 : 1); ++chain) {
    RunRequest r = request;
    r.seed = static_cast<int>((request.seed + 1000003L * chain) % 2147483646L);
    set.runs.push_back(RunOnce(r));
    set.ok = set.ok && set.runs.back().ok;
    if (!set.runs.back().ok) set.failure += set.runs.back().failure + "\n";
  }
  return set;
}

std::vector<const std::vector<double>*> ChainSet::operator[](const std::string& name) const {
  std::vector<const std::vector<double>*> traces;
  for (const RunResult& run : runs) traces.push_back(&run[name]);
  return traces;
}

std::map<std::string, std::string> Inline(const std::string& declarations, const std::string& body,
                                          const std::string& data, const std::string& inits) {
  std::map<std::string, std::string> files = {{"m.in", inits}};
  if (!data.empty()) files["m.dat"] = data;
  files["m.bug"] = "model m;\n" + declarations + "\n" + (data.empty() ? "" : "data in \"m.dat\";\n") +
                   "inits in \"m.in\";\n{\n" + body + "}\n";
  return files;
}

ChainSet Check(RunRequest request, const std::vector<Exact>& exact) {
  if (request.monitors.empty())
    for (const Exact& e : exact) request.monitors.push_back(e.name);
  const ChainSet run = Run(request);
  if (!run.ok) {
    ADD_FAILURE() << request.label << ": " << run.failure;
    return run;
  }
  Comparison c(request.label);
  for (const Exact& e : exact) c.Compare(e, run[e.name]);
  return run;
}

// ---- Quadrature ---------------------------------------------------------------

namespace {

// The range of midpoints whose log density is within 40 of the largest,
// widened by one cell on each side and kept inside [lo, hi].
void Narrow(const std::vector<double>& logs, double& lo, double& hi) {
  const int n = static_cast<int>(logs.size());
  const double h = (hi - lo) / n, top = *std::max_element(logs.begin(), logs.end());
  int first = n, last = -1;
  for (int i = 0; i < n; ++i)
    if (logs[i] > top - 40.0) first = std::min(first, i), last = std::max(last, i);
  if (last < 0) throw std::runtime_error("log density is nowhere finite");
  const double a = std::max(lo, lo + (first - 1) * h), b = std::min(hi, lo + (last + 2) * h);
  lo = a, hi = b;
}

// Narrowed on a coarse cx by cy grid until it spans over 0.9 of the range
// (at most 8 times), then tabulated on nx by ny midpoints.
Grid Tabulate(const std::function<double(double, double)>& logDensity, double xlo, double xhi, double ylo, double yhi,
              int cx, int cy, int nx, int ny) {
  auto at = [&](double x, double y) {
    const double v = logDensity(x, y);
    return std::isfinite(v) ? v : -kInf;
  };
  for (int round = 0; round < 8; ++round) {
    std::vector<double> px(cx, -kInf), py(cy, -kInf);
    for (int i = 0; i < cx; ++i)
      for (int j = 0; j < cy; ++j) {
        const double v = at(xlo + (i + 0.5) * (xhi - xlo) / cx, ylo + (j + 0.5) * (yhi - ylo) / cy);
        px[i] = std::max(px[i], v), py[j] = std::max(py[j], v);
      }
    const double wx = xhi - xlo, wy = yhi - ylo;
    Narrow(px, xlo, xhi);
    Narrow(py, ylo, yhi);
    if (xhi - xlo > 0.9 * wx && yhi - ylo > 0.9 * wy) break;
  }
  Grid g;
  double top = -kInf;
  for (int i = 0; i < nx; ++i)
    for (int j = 0; j < ny; ++j) {
      g.x.push_back(xlo + (i + 0.5) * (xhi - xlo) / nx);
      g.y.push_back(ylo + (j + 0.5) * (yhi - ylo) / ny);
      g.w.push_back(at(g.x.back(), g.y.back()));
      top = std::max(top, g.w.back());
    }
  double total = 0.0;
  for (double& w : g.w) total += (w = std::exp(w - top));
  for (double& w : g.w) w /= total;
  return g;
}

}  // namespace

Grid Tabulate1(const std::function<double(double)>& logDensity, double lo, double hi, int points) {
  return Tabulate([&](double x, double) { return logDensity(x); }, lo, hi, 0.0, 1.0, 2001, 1, points, 1);
}

Grid Tabulate2(const std::function<double(double, double)>& logDensity, double xlo, double xhi, double ylo, double yhi,
               int points) {
  return Tabulate(logDensity, xlo, xhi, ylo, yhi, 161, 161, points, points);
}

Exact Quadrature(const std::string& name, const std::function<double(double)>& logDensity, double lo, double hi) {
  const Grid g = Tabulate1(logDensity, lo, hi, 20001);
  const double mean = g.Expect([](double x) { return x; });
  return {name, mean, g.Expect([mean](double x) { return (x - mean) * (x - mean); })};
}

Exact Enumerate(const std::string& name, int top, const std::function<double(int)>& logWeight) {
  double best = -kInf, total = 0.0, first = 0.0, second = 0.0;
  for (int k = 0; k <= top; ++k) best = std::max(best, logWeight(k));
  for (int k = 0; k <= top; ++k) {
    const double w = std::exp(logWeight(k) - best);
    total += w, first += w * k, second += w * k * k;
  }
  return {name, first / total, second / total - (first / total) * (first / total)};
}

double NormalPdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }
double NormalCdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double NormalUpper(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

}  // namespace posterior
