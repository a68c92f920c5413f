// Monitors: the traces of the nodes the user asked to watch, their summaries
// (mean, sd, median, a percentile interval, a batch-means convergence
// diagnostic) and the two-file text form of the traces.
//
// A trace holds one sample (iteration, value) for every iteration that is a
// multiple of the monitor's frequency, in increasing iteration order.
// Monitors are kept in the order they were made; clearing one empties it and
// leaves it in place, skipped from then on, and monitoring the node again
// starts a new, empty monitor.
//
// Sample file: one line per sample, the iteration left-justified in a field
// of 10, a space, the value in a real field of 20. Index file: one line per
// node, its name padded to 20 (indices of an array element follow the name
// within that padding; at least one space follows the whole text, however
// long the name), then its first and last line in the sample file,
// each left-justified in a field of 15. Line numbers count from 1.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Files.h"

// Which nodes are monitored, their frequencies, their order and the lookup
// by node number are shared by every chain of the run; the samples are not.
// Each chain keeps its own traces in a Monitors_Traces, a part of its chain
// record, and the monitors read and write the traces bound to the calling
// thread. Setting and clearing monitors happens between updates; a chain's
// traces catch up with the shared list the next time they are used, so every
// chain that exists gets a trace for a new monitor and loses the samples of
// a cleared one.

// One chain's samples of one monitor, two parallel arrays rather than a cell
// per sample: 12 bytes a sample, so a hundred nodes over a million sweeps
// fit in about 1.2 GB, and ranges are found by binary search on the
// iterations.
struct Monitors_Trace {
  std::vector<int32_t> iterations;  // strictly increasing
  std::vector<double> values;
};

// One chain's traces, by position in the shared list of monitors. The two
// counts say which state of that list the traces last caught up with.
struct Monitors_Traces {
  std::vector<Monitors_Trace> traces;
  uint64_t generation = 0;  // InitMonitors calls seen
  uint64_t clearings = 0;   // monitors cleared seen
};

// The traces of the chain bound to this thread.
extern thread_local constinit Monitors_Traces* Monitors_traces;
void Monitors_Bind(Monitors_Traces* traces);

// True after every percentile request of this thread whose median and
// interval were computed. It is false only when memory for sorting the
// requested range could not be had; the median and interval are then 0.
extern thread_local constinit bool Monitors_enoughStorage;

// Forgets every monitor, and the samples of every chain.
void InitMonitors();

// Starts monitoring node label every freq iterations, or, when the node is
// already monitored, changes its frequency (keeping its samples). Data nodes
// and numbers that name no node are ignored. A frequency below 1 counts as 1.
void Monitors_SetMonitor(int32_t label, int32_t freq);
// Discards the node's samples and stops monitoring it. Nothing when the node
// has no monitor.
void Monitors_ClearMonitor(int32_t label);
// Records, in the bound chain's traces, the current value of every monitored
// node whose frequency divides iteration. Call once per sweep with the
// chain's running iteration number; an iteration not above a monitor's last
// stored one is not stored again. Writes nothing that other chains read, so
// chains bound to different threads may call it at once.
void Monitors_Update(int32_t iteration);

// The traces of every chain of the run, in chain order (chain 1 first).
// With more than one, Monitors_CalculateStatistics and Monitors_OutMonitor
// pool them: the samples of chain 1 in range, then those of chain 2, and so
// on, as if they were one trace. Set between updates; InitMonitors forgets
// them.
void Monitors_SetChains(std::vector<Monitors_Traces*> traces);
// Each chain's values of the node with start <= iteration <= end, in
// iteration order, one span per chain in chain order (the bound chain's
// alone when Monitors_SetChains gave fewer than two). Empty when the node
// has no monitor. The spans lie in the chains' traces and stay valid until
// a chain records again or the monitors change.
std::vector<std::span<const double>> Monitors_ChainTraces(int32_t label, int32_t start, int32_t end);

// The summaries and writers below read the bound chain's traces, pooled
// with the other chains' where said.
//
// Summaries of the samples with start <= iteration <= end. n is the number of
// samples used; every result is 0 when there are none (and when the node has
// no monitor). On return start is the iteration of the first sample used,
// and end, when no stored sample lies beyond it, the iteration of the last
// stored sample; otherwise each is left as it was. sd has divisor n and is 0
// for a variance below 1e-20. The median is the sample at position
// (n - 1) div 2 + 1 of the sorted range, the pLow point the one at k + 1 with
// k = trunc(((n - 1) * pLow + 1e-6) / 100) (k kept within the range), and the
// pHigh point likewise; no interpolation.
void Monitors_CalculateStatistics(int32_t label, int32_t& start, int32_t& end, double& mean, double& sd,
                                  double& median, double& lower, double& upper, int32_t& n, double pLow,
                                  double pHigh);


// Batch-means diagnostic. From the first sample at or after start (start
// becomes its iteration), n samples lie before end. The first quarter (the
// first n div 4 + 1 of them) and the second half (from the (n div 2 + 1)th
// to the last sample at or before end) are each cut into numBatches equal
// batches, covering the last samples of the segment; mean1 and mean2 are the
// means of the batch means, sd1 and sd2 their spreads (sqrt(variance + 1e-25),
// divisor numBatches), Z = (mean1 - mean2) sqrt(numBatches) / sqrt(var1 + var2).
// Degenerate cases, all finite: a segment with fewer samples than batches
// gives the plain mean of its samples and sd 0; Z is 0 when var1 + var2 is
// below 1e-20, where there is no spread to measure the difference against.
// numBatches below 1 counts as 1. Every result is 0 when n is 0.
void Monitors_Diagnostics(int32_t label, int32_t numBatches, int32_t& start, int32_t end, double& mean1,
                          double& sd1, double& mean2, double& sd2, double& Z, int32_t& n);

// Writes the node's samples with from <= iteration <= to as sample-file
// lines (pooled over the chains) and returns how many it wrote (0 without a
// monitor).
int64_t Monitors_OutMonitor(Files_Rider& rider, int32_t label, int32_t from, int32_t to);
// Writes the node's index line for count lines starting at firstLine;
// nothing when count is 0.
void Monitors_WriteIndexEntry(Files_Rider& rider, int32_t label, int64_t firstLine, int64_t count);

// Writes every monitor that has samples, in the order the monitors were
// made: its samples (the bound chain's only) with iterations
// 0..lastIteration as sample-file lines and its index line, line numbers
// running on across monitors. The caller checks and places the files.
void Monitors_WriteTraces(Files_Rider& samples, Files_Rider& index, int32_t lastIteration);

// Writes every monitor that has samples, in the order the monitors were
// made: its samples (the bound chain's only) with iterations 0..lastIteration to the sample file and
// its index line to the index file, line numbers running on across
// monitors. Both files (replacing earlier ones) are first written under
// temporary names in their own directories and only then renamed into place,
// so earlier files survive a run that is stopped while writing. When either
// cannot be written completely (no permission, disk full), the console says
// which, neither earlier file is touched, and the result is false; so it is
// when a rename is refused, which leaves that file's earlier copy in place.
bool Monitors_DumpMonitors(int32_t lastIteration, const std::string& sampleFileName,
                           const std::string& indexFileName);
