#include "commands/Model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/CtrlC.h"
#include "base/Files.h"
#include "base/Params.h"
#include "commands/Read.h"
#include "base/Write.h"
#include "commands/Chain.h"
#include "commands/Compile.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "output/Monitors.h"
#include "output/OutGraph.h"
#include "output/OutNode.h"
#include "sampling/Blocks.h"
#include "sampling/Plans.h"
#include "sampling/Samplers.h"

bool Model_error = false;
int32_t Model_checkPointFreq = 2147483647;
thread_local constinit Model_Progress* Model_progress = nullptr;

namespace {

bool compiled = false;
std::string modelFile;
std::string dataFile;
std::string initsFile;
// The starting-value files named for chains 2, 3, ... at compile.
std::vector<std::string> startFiles;

enum Message {
  alreadyCompiled = 10,
  expectedFileName = 11,
  noModelFile = 12,
  expectedRightParen = 13,
  noInitsFile = 14,
  expectedSaveName = 15,
  expectedUpdates = 16,
  noModel = 17,
};

void Complain(int message) {
  Write_Ln();
  Messages_Text(message);
}

// The commands that need a model all start the same way.
bool HaveModel() {
  if (compiled) return true;
  Complain(noModel);
  return false;
}

bool ClosingParenthesis() {
  Scanner_Token t;
  Read_Get(t);
  if (t.kind == Scanner_rparen) return true;
  Complain(expectedRightParen);
  return false;
}

Model_Clock Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec};
}

// Shows a file as it stands, the end-of-file character 26 as a space.
void Display(const std::string& name) {
  Files_Handle file = Files_Old(name);
  Write_Ln();
  if (!file) {
    Write_String(Errors_String(67));
    return;
  }
  Files_Rider r;
  Files_Set(r, file, 0);
  for (;;) {
    char ch;
    Files_Read(r, ch);
    if (r.eof) break;
    Write_Char(ch == 26 ? ' ' : ch);
  }
  Write_Ln();
}

// Whether two names reach the same file: by identity when both exist (so
// "./run.log" and a link to it count), else by the names made absolute,
// with "." and ".." and any links on the way resolved.
bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa {}, sb {};
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ea, eb;
  const std::filesystem::path pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const std::filesystem::path pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  if (ea || eb) return a == b;
  return pa == pb;
}

// Whether name is one of the files the run keeps open or writes (the names
// made from the stem, the command file) or one the compiled model was read
// from; writing over any of them would lose the transcript, the traces or
// the model. The log itself may be left out: moving it onto its own name at
// quit changes nothing.
bool RunFile(const std::string& name, bool logAllowed) {
  const std::string* const own[] = {&Params_commandBuf,    &Params_outFile,        &Params_indexFile,
                                    &Params_out1File,      &Params_index1File,     &Params_restartFile,
                                    &Params_sampleOutFile, &Params_sampleIndexFile, &Params_checkPointMark,
                                    &Params_commandFile,
                                    &modelFile,            &dataFile,              &initsFile};
  for (const std::string* f : own)
    if (SameFile(name, *f)) return true;
  // Every chain after the first writes its own copies of the traces and
  // checkpoints, and may have started from a file of its own.
  const std::string* const perChain[] = {&Params_outFile,       &Params_indexFile,       &Params_restartFile,
                                         &Params_sampleOutFile, &Params_sampleIndexFile};
  for (int32_t k = 2; k <= Chain_Count(); ++k)
    for (const std::string* f : perChain)
      if (SameFile(name, Chain_FileName(*f, k))) return true;
  for (const std::string& f : startFiles)
    if (SameFile(name, f)) return true;
  return !logAllowed && SameFile(name, Params_logFile);
}

void RefuseRunFile(const std::string& name) {
  Write_Ln();
  Write_String("File " + name + " is in use by the run; choose another name");
}

// One sweep of the bound chain, with its count, its running sums and its
// monitors; false, doing nothing, when the count can go no further (it is
// a 32-bit number of sweeps, which a run never wraps).
bool Sweep(bool& aborted, bool& failed, bool (*stop)()) {
  int32_t& iteration = Model_progress->iteration;
  if (iteration == INT32_MAX) return false;
  ++iteration;
  Samplers_Update(aborted, failed, stop);
  // An interrupt after the last record still leaves a whole sweep.
  if (!Samplers_MidSweep() && !failed) Plans_SweepDone();
  Monitors_Update(iteration);
  return true;
}

// After compile("file", : its options, separated by commas: blocks (update
// regression coefficients jointly), the number of chains, and after the
// number the names of the files chains 2, 3, ... start from; then ")".
// False after a complaint.
bool ReadOptions(int32_t& chains, std::vector<std::string>& starts, bool& blocks) {
  Scanner_Token t;
  bool counted = false;
  do {
    Read_Get(t);
    if (t.kind == Scanner_name && t.text == "blocks") {
      blocks = true;
    } else if (t.kind == Scanner_name) {
      Write_Ln();
      Write_String("Expected blocks after the comma");
      return false;
    } else if (!counted) {
      if (t.kind != Scanner_integer || t.intValue < 1 || t.intValue > Chain_maxChains) {
        Write_Ln();
        Write_String("Expected the number of chains, a whole number from 1 to " + std::to_string(Chain_maxChains));
        return false;
      }
      chains = t.intValue;
      counted = true;
    } else if (t.kind == Scanner_string) {
      starts.push_back(t.text);
    } else {
      Write_Ln();
      Write_String("Expected the name of a chain's initial value file in quotes");
      return false;
    }
    Read_Get(t);
  } while (t.kind == Scanner_comma);
  if (t.kind != Scanner_rparen) {
    Complain(expectedRightParen);
    return false;
  }
  if (starts.size() + 1 > static_cast<size_t>(chains)) {
    Write_Ln();
    Write_String("More initial value files than chains after the first");
    return false;
  }
  for (const std::string& f : starts) {
    if (!f.empty() && !Files_Old(f)) {
      Write_Ln();
      Write_String("Initial value file " + f + " does not exist.");
      return false;
    }
  }
  return true;
}

}  // namespace

std::string Model_ElapsedText(Model_Clock start, Model_Clock now) {
  int s = now.s - start.s, m0 = start.m, h0 = start.h;
  if (s < 0) {
    s += 60;
    ++m0;
  }
  int m = now.m - m0;
  if (m < 0) {
    m += 60;
    ++h0;
  }
  int h = now.h - h0;
  if (h < 0) h += 24;
  char text[16];
  std::snprintf(text, sizeof text, " %02d:%02d:%02d ", h % 100, m % 100, s % 100);
  return text;
}

void Model_Bind(Model_Progress* progress) { Model_progress = progress; }

void InitModel() {
  compiled = false;
  Model_error = false;
  Model_progress->iteration = 0;
  Model_checkPointFreq = 2147483647;
  modelFile.clear();
  dataFile.clear();
  initsFile.clear();
  startFiles.clear();
}

void Model_Compile() {
  Model_error = false;
  if (compiled) return Complain(alreadyCompiled);
  Scanner_Token t;
  Read_Get(t);
  if (t.kind != Scanner_string) return Complain(expectedFileName);
  const std::string name = t.text;
  int32_t chains = 1;
  std::vector<std::string> starts;
  // A compile refused for its file or its options leaves no blocks option
  // behind for the next one.
  Blocks_on = false;
  bool blocks = false;
  Read_Get(t);
  if (t.kind == Scanner_comma && !ReadOptions(chains, starts, blocks)) return;
  Blocks_on = blocks;
  Compile_Unit unit;
  if (!Compile_Open(unit, name)) return Complain(noModelFile);
  modelFile = name;
  startFiles = starts;
  Model_Clock start = Now();
  Display(modelFile);
  // Each phase reports its own error; a failed phase ends the run.
  const bool compiledWhole = Compile_Run(unit);
  Model_progress->iteration = unit.files.iteration;
  dataFile = unit.files.dataFile;
  initsFile = unit.files.initsFile;
  if (!compiledWhole) {
    Model_error = true;
    return;
  }
  if (chains > 1) {
    const bool started = Chain_Start(chains, starts, unit.files.seed);
    Errors_SetErrorFile(unit.name, unit.file);
    if (!started) {
      Model_error = true;
      return;
    }
  }
  Write_String("compilation took ");
  Write_String(Model_ElapsedText(start, Now()));
  compiled = true;
}

namespace {

// One chain's part in an update of several: the thread that sweeps it
// writes only its record and these fields, which the main thread reads
// after joining it (done also while it runs).
struct ChainRun {
  Chain_Record* record = nullptr;
  std::atomic<int64_t> done{0};  // sweeps completed, for the progress line
  bool aborted = false;           // stopped by the interrupt key or another chain's failure
  bool failed = false;            // an update procedure could not draw
  bool stopped = false;           // a fatal fault; its report is in held
  std::string held;
};

// How many chains of a stretch have finished; the last wakes the main thread.
struct Finished {
  std::mutex mutex;
  std::condition_variable changed;
  size_t count = 0;
};
Finished finished;

// Set by a chain that fails, so that the others stop after their current
// procedure too.
std::atomic<bool> chainFailed{false};

bool StopAsked() { return CtrlC_Abort() || chainFailed.load(std::memory_order_relaxed); }

// Runs sweeps sweeps of one chain in the calling thread.
void SweepChain(ChainRun& run, int32_t sweeps) {
  Chain_Bind(*run.record);
  Write_Hold(&run.held);
  try {
    Plans_BeginChain();
    for (int32_t i = 0; i < sweeps && !run.aborted && !run.failed; ++i) {
      if (!Sweep(run.aborted, run.failed, StopAsked)) break;
      run.done.fetch_add(1, std::memory_order_relaxed);
    }
    Plans_EndChain();
  } catch (const Write_Stopped&) {
    run.stopped = true;
  }
  if (run.failed || run.stopped) chainFailed.store(true, std::memory_order_relaxed);
  Write_Hold(nullptr);
  {
    std::lock_guard lock(finished.mutex);
    ++finished.count;
  }
  finished.changed.notify_one();
}

// The one-line progress of a long update on the terminal of an interactive
// run: it never reaches the log, nor standard output that is not a
// terminal, and is cleared at the end, the line then showing what it showed
// before. It is redrawn at most four times a second.
class Progress {
 public:
  Progress(int64_t total)
      : total_(total),
        on_(!Params_backGround && isatty(STDOUT_FILENO) == 1),
        start_(std::chrono::steady_clock::now()) {}
  void Show(int64_t done) {
    if (!on_ || done <= 0) return;
    const double seconds = Seconds();
    if (seconds < 1.0 || seconds < drawn_ + 0.25) return;
    drawn_ = seconds;
    const double rate = static_cast<double>(done) / seconds;
    const double left = static_cast<double>(total_ - done) / rate;
    const std::string line = "\r      " + std::to_string(done) + " of " + std::to_string(total_) + " sweeps, " +
                             std::to_string(std::llround(rate)) + " a second, " +
                             std::to_string(std::llround(left)) + " s left";
    std::fputs((line + std::string(shown_ > line.size() ? shown_ - line.size() : 0, ' ')).c_str(), stdout);
    std::fflush(stdout);
    shown_ = std::max(shown_, line.size());
  }
  // Blanks the line and writes again what the update line had shown on it.
  void Clear() {
    if (shown_ == 0) return;
    std::fputs(("\r" + std::string(shown_, ' ') + "\r      time for ").c_str(), stdout);
    std::fflush(stdout);
    shown_ = 0;
  }
  ~Progress() { Clear(); }

 private:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  int64_t total_;
  bool on_;
  std::chrono::steady_clock::time_point start_;
  double drawn_ = 0.0;  // seconds in when last drawn
  size_t shown_ = 0;
};

// Sweeps every chain sweeps times, each in a thread of its own, while this
// thread shows the progress.
void RunChains(std::vector<ChainRun>& runs, int32_t sweeps, Progress& progress, int64_t& before) {
  {
    std::vector<std::jthread> threads;
    for (ChainRun& run : runs) threads.emplace_back(SweepChain, std::ref(run), sweeps);
    std::unique_lock lock(finished.mutex);
    while (!finished.changed.wait_for(lock, std::chrono::milliseconds(250),
                                      [&runs] { return finished.count == runs.size(); })) {
      int64_t done = 0;
      for (ChainRun& run : runs) done += run.done.load(std::memory_order_relaxed);
      progress.Show(before + done);
    }
    finished.count = 0;
  }  // the threads are joined here
  for (ChainRun& run : runs) before += run.done.exchange(0);
}

// update(n) with several chains: each chain sweeps n times, the chains in
// parallel. A checkpoint needs every chain at rest, so the sweeps run in
// stretches that end at the iterations (of chain 1) that take one.
void UpdateChains(int32_t n) {
  const Model_Clock start = Now();
  const int32_t first = Model_progress->iteration;
  Write_String("     ");
  Write_String(" time for ");
  std::vector<ChainRun> runs(static_cast<size_t>(Chain_Count()));
  for (int32_t k = 1; k <= Chain_Count(); ++k) runs[static_cast<size_t>(k - 1)].record = &Chain_At(k);
  chainFailed.store(false);
  CtrlC_Arm();
  Plans_Begin();
  Progress progress(static_cast<int64_t>(n) * Chain_Count());
  int64_t done = 0;
  bool stop = false;
  for (int32_t left = n; left > 0 && !stop;) {
    const int64_t it = Chain_First().progress.iteration;
    const int64_t freq = Model_checkPointFreq;
    const int64_t toCheckPoint = (it / freq + 1) * freq - it;
    const int32_t stretch = static_cast<int32_t>(std::min<int64_t>(left, toCheckPoint));
    RunChains(runs, stretch, progress, done);
    left -= stretch;
    for (const ChainRun& run : runs) stop = stop || run.aborted || run.failed || run.stopped;
    const int32_t reached = Chain_First().progress.iteration;
    if (!stop && reached > 1 && reached % Model_checkPointFreq == 0) Model_WriteCheckPoint(reached);
    if (reached == INT32_MAX) break;
  }
  progress.Clear();
  Plans_End();
  CtrlC_Disarm();
  Chain_Bind(Chain_First());
  for (int32_t k = 1; k <= Chain_Count(); ++k) {
    ChainRun& run = runs[static_cast<size_t>(k - 1)];
    if (!run.stopped) continue;
    // A fatal fault ends the run at once, as with one chain; its report says
    // which chain met it.
    Chain_SayWhich(k);
    Write_String(run.held);
    Write_Flush();
    Write_EndRun();
  }
  Write_String("   ");
  Write_Int(Model_progress->iteration - first, 6);
  Write_String(" updates was ");
  Write_String(Model_ElapsedText(start, Now()));
  for (int32_t k = 1; k <= Chain_Count(); ++k) {
    ChainRun& run = runs[static_cast<size_t>(k - 1)];
    if (!run.held.empty()) Write_String(run.held);  // a warning a chain wrote
    if (!run.failed) continue;
    Model_error = true;
    Chain_SayWhich(k);
    Chain_Bind(*run.record);
    Samplers_ReportFailure();
    Chain_Bind(Chain_First());
  }
}

}  // namespace

void Model_Update() {
  if (!HaveModel()) return;
  Scanner_Token t;
  Read_Get(t);
  if (t.kind != Scanner_integer || t.intValue < 1) return Complain(expectedUpdates);
  const int32_t n = t.intValue;
  if (!ClosingParenthesis()) return;
  if (Chain_Count() > 1) return UpdateChains(n);
  int32_t& iteration = Model_progress->iteration;
  const Model_Clock start = Now();
  const int32_t first = iteration;
  Write_String("     ");
  Write_String(" time for ");
  CtrlC_Arm();
  Plans_Begin();
  Plans_BeginChain();
  bool aborted = false;
  Progress progress(n);
  for (int32_t i = 0; i < n && !aborted && !Model_error; ++i) {
    if (!Sweep(aborted, Model_error, CtrlC_Abort)) break;
    progress.Show(i + 1);
    if (iteration > 1 && iteration % Model_checkPointFreq == 0) Model_WriteCheckPoint(iteration);
  }
  progress.Clear();
  Plans_EndChain();
  Plans_End();
  CtrlC_Disarm();
  Write_String("   ");
  Write_Int(iteration - first, 6);
  Write_String(" updates was ");
  Write_String(Model_ElapsedText(start, Now()));
  if (Model_error) Samplers_ReportFailure();
}

void Model_Save() {
  if (!HaveModel()) return;
  Scanner_Token t;
  Read_Get(t);
  if (t.kind != Scanner_string) return Complain(expectedSaveName);
  for (int32_t k = 1; k <= Chain_Count(); ++k)
    if (RunFile(Chain_FileName(t.text, k), false)) return RefuseRunFile(Chain_FileName(t.text, k));
  // Every further chain's state beside chain 1's, under the chain's own name.
  Chain_ForEach([&t](int32_t k) { OutNode_SaveAction(Chain_FileName(t.text, k), Model_progress->iteration); });
}

void Model_Iter() {
  if (!HaveModel() || !ClosingParenthesis()) return;
  Write_Int(Model_progress->iteration, 10);
}

void Model_DisplayData() {
  if (!HaveModel() || !ClosingParenthesis()) return;
  if (dataFile.empty()) {
    Write_Ln();
    Write_String("No data file for model");
    return;
  }
  Display(dataFile);
}

void Model_DisplayInits() {
  if (!HaveModel() || !ClosingParenthesis()) return;
  if (initsFile.empty()) return Complain(noInitsFile);
  Display(initsFile);
}

void Model_DisplaySource() {
  if (!HaveModel() || !ClosingParenthesis()) return;
  Display(modelFile);
}

void Model_WriteGraph() {
  if (!HaveModel() || !ClosingParenthesis()) return;
  OutGraph_WriteNames();
  OutGraph_DisplayGraph();
}

void Model_SetCheckPoint(int32_t n) {
  if (n >= 1) Model_checkPointFreq = n;
}

namespace {

// Completes or removes what a stopped run left of a checkpoint and says so
// in message (empty when nothing was left); false when a committed
// checkpoint could not be put in place.
bool RecoverCheckPoint(std::string& message) {
  // The number of chains of the run that wrote it is not known when a run
  // starts: every name a chain could have is looked at.
  std::vector<std::string> names;
  for (int32_t k = 1; k <= Chain_maxChains; ++k)
    for (const std::string* f : {&Params_sampleOutFile, &Params_sampleIndexFile, &Params_restartFile})
      names.push_back(Chain_FileName(*f, k));
  std::string text;
  switch (Files_RecoverSet(Params_checkPointMark, names, text)) {
    case Files_Recovery::none: message.clear(); return true;
    case Files_Recovery::completed:
      message = "Checkpoint at iteration " + text + " completed: its files had not all been put in place.";
      return true;
    case Files_Recovery::removed:
      message = "Unfinished checkpoint files removed; the checkpoint before them is kept.";
      return true;
    case Files_Recovery::failed: break;
  }
  message = "Checkpoint at iteration " + text + " could not be completed: its files stay under temporary names beside " +
            Params_checkPointMark + ".";
  return false;
}

}  // namespace

void Model_RecoverCheckPoint() {
  std::string message;
  RecoverCheckPoint(message);
  if (message.empty()) return;
  Write_String(message);
  Write_Ln();
}

bool Model_WriteCheckPoint(int32_t iteration) {
  const std::string it = std::to_string(iteration);
  // An earlier checkpoint still being put in place is finished first: its
  // marker must be gone before new temporary files replace its own.
  std::string earlier;
  const bool recovered = RecoverCheckPoint(earlier);
  if (!earlier.empty()) {
    Write_Ln();
    Write_String(earlier);
  }
  if (!recovered) {
    Write_Ln();
    Write_String("Checkpoint at iteration " + it + " not written: the checkpoint before it is not complete.");
    return false;
  }
  // Each chain's three files, chain 1's under the run's names, all in one
  // set: a restart finds every chain at the same checkpoint.
  std::vector<std::unique_ptr<Files_StagedFile>> staged;
  for (int32_t k = 1; k <= Chain_Count(); ++k)
    for (const std::string* f : {&Params_sampleOutFile, &Params_sampleIndexFile, &Params_restartFile})
      staged.push_back(std::make_unique<Files_StagedFile>(Chain_FileName(*f, k)));
  std::vector<Files_StagedFile*> files;
  for (const auto& f : staged) files.push_back(f.get());
  std::string unwritten;
  const auto note = [&unwritten](const std::string& name) {
    unwritten += (unwritten.empty() ? "" : ", ") + name;
  };
  for (const Files_StagedFile* f : files)
    if (!f->Opened()) note(f->Name());
  if (unwritten.empty()) {
    Chain_ForEach([&files, iteration](int32_t k) {
      Files_StagedFile* const* chain = &files[static_cast<size_t>(3 * (k - 1))];
      // Each chain's state carries its own iteration and seed.
      const int32_t at = k == 1 ? iteration : Model_progress->iteration;
      OutNode_WriteState(chain[2]->rider, at);
      Monitors_WriteTraces(chain[0]->rider, chain[1]->rider, at);
    });
    for (Files_StagedFile* f : files)
      if (!f->Finish()) note(f->Name());
  }
  Files_SetOutcome outcome;
  if (unwritten.empty()) {
    outcome = Files_CommitSet(Params_checkPointMark, it, files);
    if (!outcome.committed) note(Params_checkPointMark);
  }
  if (!unwritten.empty()) {
    Write_Ln();
    Write_String("Checkpoint at iteration " + it + " not written: could not write " + unwritten +
                 "; the previous checkpoint is kept.");
    return false;
  }
  if (outcome.unplaced != nullptr) {
    Write_Ln();
    Write_String("Checkpoint at iteration " + it + " only partly written: could not put " +
                 outcome.unplaced->Name() + " in place; " + Params_checkPointMark +
                 " marks the checkpoint for completion at the next one or when a run starts with this stem.");
    return false;
  }
  return true;
}

namespace {

// The traces of every chain, each in its own pair of files (chain 1's under
// the run's names).
void DumpChains() {
  Chain_ForEach([](int32_t k) {
    Monitors_DumpMonitors(Model_progress->iteration, Chain_FileName(Params_outFile, k),
                          Chain_FileName(Params_indexFile, k));
  });
}

}  // namespace

void Model_Quit() {
  // The name is read first, so that a refusal still reaches the log; the
  // run ends either way, and a refused name leaves the log under its own.
  Scanner_Token t;
  Read_Get(t);
  const bool move = t.kind == Scanner_string && !RunFile(t.text, true);
  if (t.kind == Scanner_string && !move) RefuseRunFile(t.text);
  Write_Ln();
  DumpChains();
  Write_Close();
  if (move && !Files_Rename(Params_logFile, t.text)) {
    // The log is closed, so the terminal is the only place left to say it.
    std::fprintf(stderr, "Could not move the log %s to %s; it was kept under its own name.\n",
                 Params_logFile.c_str(), t.text.c_str());
  }
}

void Model_RunTimeError() {
  DumpChains();
  Write_Close();
}
