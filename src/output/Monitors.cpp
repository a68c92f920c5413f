#include "output/Monitors.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/TextFile.h"
#include "base/Write.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "graph/Parents.h"
#include "language/SymTabs.h"
#include "output/Sort.h"
#include "store/Distrib.h"

thread_local constinit Monitors_Traces* Monitors_traces = nullptr;
thread_local constinit bool Monitors_enoughStorage = true;

namespace {

// Below this a variance is rounding noise, not spread.
constexpr double tinyVariance = 1.0e-20;
// Keeps the square root of a batch-means variance away from exact zero.
constexpr double sdFloor = 1.0e-25;
// Index lines pad the bare name to this many characters (a longer name is
// followed by one space).
constexpr size_t nameField = 20;

// One monitored node, as every chain sees it; the samples are in the chains'
// traces at the monitor's position.
struct Monitor {
  int32_t label = -1;  // the node's number; -1 once cleared
  int32_t freq = 1;
  bool discrete = false;  // picks heap sort for the percentiles
  Graph_Node* node = nullptr;
};

// Every monitor ever made, in order of creation; cleared ones stay.
std::vector<Monitor> monitorList;
// Positions in monitorList of the monitors, in increasing order, so that a
// sweep touches only live ones, or nearly: clearing leaves a position in
// place (readers skip it) until cleared positions make up half the list,
// and then compacts the list. Clearing a large array thus stays linear, and
// the list only changes between updates, never while chains sweep.
std::vector<size_t> active;
size_t clearedInActive = 0;
// The live monitor of each monitored node.
std::unordered_map<int32_t, size_t> byLabel;
// Counts of InitMonitors and ClearMonitor calls, never reset, against which
// a chain's traces tell whether they are up to date.
uint64_t generation = 1;
uint64_t clearings = 0;

// The traces of every chain of the run, in chain order, when there are
// several: stats and out pool them. Set between updates by the main thread.
std::vector<Monitors_Traces*> chains;

// Work arrays of the percentiles (positions 1..n; 0 unused) and the batch
// means, one pair per thread. They grow to the largest request and are kept,
// so repeated requests allocate nothing.
thread_local std::vector<double> work;
thread_local std::vector<double> batchMeans;

// Brings a chain's traces up to date with the shared list: every trace is
// dropped after InitMonitors, a cleared monitor's trace is freed, and a new
// monitor gets an empty trace. Only the chain's own traces are written.
void CatchUp(Monitors_Traces& t) {
  if (t.generation != generation) {
    std::vector<Monitors_Trace>().swap(t.traces);
    t.generation = generation;
    t.clearings = clearings;
  }
  if (t.clearings != clearings) {
    const size_t known = std::min(t.traces.size(), monitorList.size());
    for (size_t i = 0; i < known; ++i)
      if (monitorList[i].label < 0) t.traces[i] = Monitors_Trace{};
    t.clearings = clearings;
  }
  if (t.traces.size() < monitorList.size()) t.traces.resize(monitorList.size());
}

bool UpToDate(const Monitors_Traces& t) {
  return t.generation == generation && t.clearings == clearings && t.traces.size() == monitorList.size();
}

// The bound chain's traces, brought up to date.
std::vector<Monitors_Trace>& Traces() {
  Monitors_Traces& t = *Monitors_traces;
  if (!UpToDate(t)) CatchUp(t);
  return t.traces;
}

// A monitor as the bound chain sees it: the shared record and the chain's
// samples; both null when the node has no monitor.
struct Seen {
  const Monitor* monitor = nullptr;
  const Monitors_Trace* trace = nullptr;
};

Seen Find(int32_t label) {
  const auto it = byLabel.find(label);
  if (it == byLabel.end()) return {};
  return {&monitorList[it->second], &Traces()[it->second]};
}

// Traces of counts are full of ties, which heap sort takes in its stride
// (the flag picks the sort only; both give the same order).
bool DiscreteDensity(int32_t density) { return Distrib_IsDiscrete(density); }

// A logical node counts as discrete when everything random it depends on is.
bool IsDiscrete(Graph_Node* node) {
  if (node->kind != Graph_logical) return DiscreteDensity(node->density);
  Graph_List ancestors;
  Parents_DeterministicParentLi(node, ancestors);
  return std::all_of(ancestors.begin(), ancestors.end(),
                     [](const Graph_Node* a) { return DiscreteDensity(a->density); });
}

// First sample with iteration >= it, and first with iteration > it.
size_t AtOrAfter(const Monitors_Trace& m, int32_t it) {
  return static_cast<size_t>(std::lower_bound(m.iterations.begin(), m.iterations.end(), it) -
                             m.iterations.begin());
}
size_t After(const Monitors_Trace& m, int32_t it) {
  return static_cast<size_t>(std::upper_bound(m.iterations.begin(), m.iterations.end(), it) -
                             m.iterations.begin());
}

// Zero-based position in a sorted range of n values of the point p per cent
// of the way through, truncated; kept within the range whatever p is.
size_t PercentPosition(size_t n, double p) {
  const double k = (static_cast<double>(n - 1) * p + 1.0e-6) / 100.0;
  if (!(k > 0.0)) return 0;
  if (k >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<size_t>(k);
}

bool GrowWork(size_t size) {
  if (work.size() >= size) return true;
  try {
    work.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Median and percentile points of the samples at positions [lo, hi).
void Percentiles(const Monitors_Trace& m, bool discrete, size_t lo, size_t hi, double pLow, double pHigh, double& median,
                 double& lower, double& upper) {
  const size_t n = hi - lo;
  Monitors_enoughStorage = GrowWork(n + 1);
  if (!Monitors_enoughStorage) return;
  double* v = work.data();
  std::copy(m.values.begin() + static_cast<std::ptrdiff_t>(lo), m.values.begin() + static_cast<std::ptrdiff_t>(hi),
            v + 1);
  // A range already in order (a constant trace, say) needs no sorting; this
  // also spares quicksort its quadratic case.
  if (!std::is_sorted(v + 1, v + 1 + n)) {
    auto less = [v](int32_t i, int32_t j) { return v[i] < v[j]; };
    auto swap = [v](int32_t i, int32_t j) { std::swap(v[i], v[j]); };
    // Discrete traces are full of ties, on which first-element quicksort is
    // quadratic; heap sort is not.
    if (discrete) {
      Sort_HeapSort(static_cast<int32_t>(n), less, swap);
    } else {
      Sort_QuickSort(static_cast<int32_t>(n), less, swap);
    }
  }
  median = v[(n - 1) / 2 + 1];
  lower = v[PercentPosition(n, pLow) + 1];
  upper = v[PercentPosition(n, pHigh) + 1];
}

// Batch means of the samples at positions [lo, hi), which must not be empty:
// the last batches * size samples cut into batches of size = count div
// batches. Gives the mean of the batch means and their variance about it
// (divisor batches); measured is false when there are fewer samples than
// batches, and then the mean is that of all the samples and the variance 0,
// as no spread of batch means can be had from them.
void BatchMeans(const Monitors_Trace& m, size_t lo, size_t hi, int32_t batches, double& mean, double& variance,
                bool& measured) {
  const size_t count = hi - lo;
  const size_t b = static_cast<size_t>(batches);
  const size_t size = count / b;
  variance = 0.0;
  measured = size > 0;
  if (!measured) {
    double sum = 0.0;
    for (size_t i = lo; i < hi; ++i) sum += m.values[i];
    mean = sum / static_cast<double>(count);
    return;
  }
  if (batchMeans.size() < b) batchMeans.resize(b);
  size_t i = lo + (count - b * size);
  double total = 0.0;
  for (size_t k = 0; k < b; ++k) {
    double sum = 0.0;
    for (size_t e = i + size; i < e; ++i) sum += m.values[i];
    batchMeans[k] = sum / static_cast<double>(size);
    total += batchMeans[k];
  }
  mean = total / static_cast<double>(b);
  double squares = 0.0;
  for (size_t k = 0; k < b; ++k) squares += (batchMeans[k] - mean) * (batchMeans[k] - mean);
  variance = squares / static_cast<double>(b);
}

// The samples of every chain with start <= iteration <= end, chain 1's
// first, each chain's in iteration order. On return start is the least
// iteration gathered and end, when no chain stores a sample beyond it, the
// greatest stored iteration; each is left as it was otherwise.
const Monitors_Trace& Pooled(int32_t label, int32_t& start, int32_t& end) {
  thread_local Monitors_Trace pooled;
  pooled.iterations.clear();
  pooled.values.clear();
  const auto it = byLabel.find(label);
  bool beyond = false;
  int32_t first = INT32_MAX, last = INT32_MIN;
  for (Monitors_Traces* chain : chains) {
    if (!UpToDate(*chain)) CatchUp(*chain);
    const Monitors_Trace& m = chain->traces[it->second];
    const size_t lo = AtOrAfter(m, start), hi = After(m, end);
    if (hi < m.iterations.size()) beyond = true;
    if (!m.iterations.empty()) last = std::max(last, m.iterations.back());
    if (lo < hi) first = std::min(first, m.iterations[lo]);
    for (size_t i = lo; i < hi; ++i) {
      pooled.iterations.push_back(m.iterations[i]);
      pooled.values.push_back(m.values[i]);
    }
  }
  if (!beyond && last != INT32_MIN) end = last;
  if (!pooled.values.empty()) start = first;
  return pooled;
}

bool Pooling() { return chains.size() > 1; }

void WriteLines(Files_Rider& rider, const Monitors_Trace& m, size_t lo, size_t hi) {
  for (size_t i = lo; i < hi; ++i) {
    TextFile_WriteInt(rider, m.iterations[i], 10);
    TextFile_Write(rider, ' ');
    TextFile_WriteLongReal(rider, m.values[i], 20);
    TextFile_WriteLine(rider);
  }
}

// The bound chain's samples of the node with from <= iteration <= to as
// sample-file lines; their number.
int64_t OutChain(Files_Rider& rider, int32_t label, int32_t from, int32_t to) {
  const Seen seen = Find(label);
  if (seen.trace == nullptr) return 0;
  const Monitors_Trace& m = *seen.trace;
  const size_t lo = AtOrAfter(m, from);
  const size_t hi = After(m, to);
  WriteLines(rider, m, lo, hi);
  return hi > lo ? static_cast<int64_t>(hi - lo) : 0;
}

void CouldNotWrite(const std::string& name) {
  Write_Ln();
  Write_String("Could not write monitor file ");
  Write_String(name);
  Write_String("; any earlier copy is kept.");
}

}  // namespace

void Monitors_Bind(Monitors_Traces* traces) { Monitors_traces = traces; }

void InitMonitors() {
  chains.clear();
  monitorList.clear();
  active.clear();
  clearedInActive = 0;
  byLabel.clear();
  ++generation;
  if (Monitors_traces != nullptr) CatchUp(*Monitors_traces);
  std::vector<double>().swap(work);
  std::vector<double>().swap(batchMeans);
  Monitors_enoughStorage = true;
}

void Monitors_SetMonitor(int32_t label, int32_t freq) {
  Graph_Node* node = Graph_Label(label);
  if (node == nullptr || node->kind == Graph_data) return;
  if (freq < 1) freq = 1;  // a zero frequency would divide by zero in every sweep
  const auto it = byLabel.find(label);
  if (it != byLabel.end()) {
    monitorList[it->second].freq = freq;
    return;
  }
  Monitor m;
  m.label = label;
  m.freq = freq;
  m.discrete = IsDiscrete(node);
  m.node = node;
  monitorList.push_back(std::move(m));
  const size_t position = monitorList.size() - 1;
  active.push_back(position);  // the largest position yet: the order holds
  byLabel.emplace(label, position);
}

void Monitors_ClearMonitor(int32_t label) {
  const auto it = byLabel.find(label);
  if (it == byLabel.end()) return;
  const size_t position = it->second;
  // The bound chain's samples go at once (and it stays up to date without a
  // walk over every monitor, which would make clearing an array quadratic);
  // other chains free theirs when they next catch up.
  Monitors_Traces* bound = Monitors_traces;
  const bool boundCurrent = bound != nullptr && bound->generation == generation && bound->clearings == clearings;
  monitorList[position].label = -1;
  byLabel.erase(it);
  ++clearings;
  if (boundCurrent) {
    if (position < bound->traces.size()) bound->traces[position] = Monitors_Trace{};
    bound->clearings = clearings;
  }
  if (2 * ++clearedInActive > active.size()) {
    std::erase_if(active, [](size_t i) { return monitorList[i].label < 0; });
    clearedInActive = 0;
  }
}

void Monitors_Update(int32_t iteration) {
  std::vector<Monitors_Trace>& traces = Traces();
  // One read for all monitors: the logical ancestors that monitored nodes
  // share (a whole chain monitored) are computed once a sweep.
  Determ_Snapshot snapshot;
  for (const size_t i : active) {
    const Monitor& m = monitorList[i];
    if (m.label < 0 || iteration % m.freq != 0) continue;
    Monitors_Trace& t = traces[i];
    if (!t.iterations.empty() && iteration <= t.iterations.back()) continue;
    t.iterations.push_back(iteration);
    t.values.push_back(m.node->valueFunction(m.node));
  }
}

void Monitors_CalculateStatistics(int32_t label, int32_t& start, int32_t& end, double& mean, double& sd,
                                  double& median, double& lower, double& upper, int32_t& n, double pLow,
                                  double pHigh) {
  mean = sd = median = lower = upper = 0.0;
  n = 0;
  const Seen seen = Find(label);
  if (seen.trace == nullptr) return;
  const Monitors_Trace& m = Pooling() ? Pooled(label, start, end) : *seen.trace;
  size_t lo = 0, hi = m.values.size();
  if (!Pooling()) {
    lo = AtOrAfter(m, start);
    hi = After(m, end);
    if (hi == m.iterations.size() && hi > 0) end = m.iterations.back();
    if (lo >= hi) return;
    start = m.iterations[lo];
  }
  if (lo >= hi) return;
  const size_t count = hi - lo;
  n = static_cast<int32_t>(count);
  // Two passes: the mean first, then the squares about it. The one-pass
  // sum of squares minus n mean^2 loses every digit of a small spread around
  // a large mean.
  double sum = 0.0;
  for (size_t i = lo; i < hi; ++i) sum += m.values[i];
  mean = sum / static_cast<double>(count);
  double squares = 0.0;
  for (size_t i = lo; i < hi; ++i) squares += (m.values[i] - mean) * (m.values[i] - mean);
  const double variance = squares / static_cast<double>(count);
  sd = variance < tinyVariance ? 0.0 : std::sqrt(variance);
  Percentiles(m, seen.monitor->discrete, lo, hi, pLow, pHigh, median, lower, upper);
}

void Monitors_Diagnostics(int32_t label, int32_t numBatches, int32_t& start, int32_t end, double& mean1,
                          double& sd1, double& mean2, double& sd2, double& Z, int32_t& n) {
  mean1 = sd1 = mean2 = sd2 = Z = 0.0;
  n = 0;
  const Seen seen = Find(label);
  if (seen.trace == nullptr) return;
  const Monitors_Trace& m = *seen.trace;
  const size_t first = AtOrAfter(m, start);
  if (first == m.iterations.size()) return;
  start = m.iterations[first];
  const size_t beforeEnd = AtOrAfter(m, end);
  if (beforeEnd <= first) return;
  const size_t count = beforeEnd - first;
  n = static_cast<int32_t>(count);
  const int32_t batches = std::max(numBatches, 1);
  // The quarter and the half are counted in samples, not iterations, so they
  // stay the first quarter and the second half whatever the frequency.
  double var1 = 0.0, var2 = 0.0;
  bool measured1 = false, measured2 = false;
  BatchMeans(m, first, first + count / 4 + 1, batches, mean1, var1, measured1);
  BatchMeans(m, first + count / 2, After(m, end), batches, mean2, var2, measured2);
  sd1 = measured1 ? std::sqrt(var1 + sdFloor) : 0.0;
  sd2 = measured2 ? std::sqrt(var2 + sdFloor) : 0.0;
  // Without spread in either segment there is nothing to scale the
  // difference of the means by: report no evidence rather than infinity.
  if (var1 + var2 >= tinyVariance)
    Z = (mean1 - mean2) * std::sqrt(static_cast<double>(batches)) / std::sqrt(var1 + var2);
}

int64_t Monitors_OutMonitor(Files_Rider& rider, int32_t label, int32_t from, int32_t to) {
  if (!Pooling()) return OutChain(rider, label, from, to);
  if (Find(label).trace == nullptr) return 0;
  const Monitors_Trace& m = Pooled(label, from, to);
  WriteLines(rider, m, 0, m.values.size());
  return static_cast<int64_t>(m.values.size());
}

void Monitors_SetChains(std::vector<Monitors_Traces*> traces) { chains = std::move(traces); }

std::vector<std::span<const double>> Monitors_ChainTraces(int32_t label, int32_t start, int32_t end) {
  std::vector<std::span<const double>> result;
  if (Find(label).trace == nullptr) return result;
  const size_t position = byLabel.find(label)->second;
  const std::vector<Monitors_Traces*> one{Monitors_traces};
  for (Monitors_Traces* chain : Pooling() ? chains : one) {
    if (!UpToDate(*chain)) CatchUp(*chain);
    const Monitors_Trace& m = chain->traces[position];
    const size_t lo = AtOrAfter(m, start), hi = After(m, end);
    result.push_back(std::span<const double>(m.values).subspan(lo, std::max(lo, hi) - lo));
  }
  return result;
}

void Monitors_WriteIndexEntry(Files_Rider& rider, int32_t label, int64_t firstLine, int64_t count) {
  if (count <= 0) return;
  SymTabs_Name name;
  std::string text;
  size_t nameLength = 0;
  if (SymTabs_LookUpLabel(label, name)) {
    text = SymTabs_LabelText(name);
    nameLength = name.name.size();
  } else {  // a node no declared name holds is shown by its number
    text = std::to_string(label);
    nameLength = text.size();
  }
  TextFile_WriteString(rider, text);
  // A name of nameField characters or more still gets one space, or readers
  // that split the line at spaces would take its first line number as part
  // of the name.
  for (size_t k = nameLength; k < nameField; ++k) TextFile_Write(rider, ' ');
  if (nameLength >= nameField) TextFile_Write(rider, ' ');
  TextFile_WriteInt(rider, firstLine, 15);
  TextFile_WriteInt(rider, firstLine + count - 1, 15);
  TextFile_WriteLine(rider);
}

void Monitors_WriteTraces(Files_Rider& samples, Files_Rider& index, int32_t lastIteration) {
  int64_t line = 1;
  for (const size_t i : active) {
    const int32_t label = monitorList[i].label;
    if (label < 0) continue;
    const int64_t count = OutChain(samples, label, 0, lastIteration);
    Monitors_WriteIndexEntry(index, label, line, count);
    line += count;
  }
}

bool Monitors_DumpMonitors(int32_t lastIteration, const std::string& sampleFileName,
                           const std::string& indexFileName) {
  Files_StagedFile samples(sampleFileName), index(indexFileName);
  if (!samples.Opened() || !index.Opened()) {
    if (!samples.Opened()) CouldNotWrite(samples.Name());
    if (!index.Opened()) CouldNotWrite(index.Name());
    return false;
  }
  Monitors_WriteTraces(samples.rider, index.rider, lastIteration);
  // Both files are finished before either replaces its earlier copy, so the
  // pair on disk is never half new after a failed write.
  const bool samplesDone = samples.Finish();
  const bool indexDone = index.Finish();
  if (!samplesDone) CouldNotWrite(samples.Name());
  if (!indexDone) CouldNotWrite(index.Name());
  if (!samplesDone || !indexDone) return false;
  for (Files_StagedFile* f : {&samples, &index}) {
    if (!f->Place()) {
      CouldNotWrite(f->Name());
      return false;
    }
  }
  return true;
}
