#include "commands/Model.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/CtrlC.h"
#include "base/Files.h"
#include "base/Params.h"
#include "commands/Read.h"
#include "base/Write.h"
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
  return !logAllowed && SameFile(name, Params_logFile);
}

void RefuseRunFile(const std::string& name) {
  Write_Ln();
  Write_String("File " + name + " is in use by the run; choose another name");
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
}

void Model_Compile() {
  Model_error = false;
  if (compiled) return Complain(alreadyCompiled);
  Scanner_Token t;
  Read_Get(t);
  if (t.kind != Scanner_string) return Complain(expectedFileName);
  // compile("file", blocks) forms joint-update blocks; anything after the
  // name other than a comma is ignored, as it always was. A compile refused
  // for its file leaves no option behind for the next one.
  Blocks_on = false;
  Scanner_Token option;
  Read_Get(option);
  if (option.kind == Scanner_comma) {
    Read_Get(option);
    if (option.kind != Scanner_name || option.text != "blocks") {
      Write_Ln();
      Write_String("Expected blocks after the comma");
      return;
    }
    Blocks_on = true;
  }
  Compile_Unit unit;
  if (!Compile_Open(unit, t.text)) return Complain(noModelFile);
  modelFile = t.text;
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
  Write_String("compilation took ");
  Write_String(Model_ElapsedText(start, Now()));
  compiled = true;
}

void Model_Update() {
  if (!HaveModel()) return;
  Scanner_Token t;
  Read_Get(t);
  if (t.kind != Scanner_integer || t.intValue < 1) return Complain(expectedUpdates);
  const int32_t n = t.intValue;
  if (!ClosingParenthesis()) return;
  int32_t& iteration = Model_progress->iteration;
  const Model_Clock start = Now();
  const int32_t first = iteration;
  Write_String("     ");
  Write_String(" time for ");
  CtrlC_Arm();
  Plans_Begin();
  Plans_BeginChain();
  bool aborted = false;
  for (int32_t i = 0; i < n && !aborted && !Model_error; ++i) {
    // The count is a 32-bit number of sweeps; a run never wraps it.
    if (iteration == INT32_MAX) break;
    ++iteration;
    Samplers_Update(aborted, Model_error, CtrlC_Abort);
    // An interrupt after the last record still leaves a whole sweep.
    if (!Samplers_MidSweep() && !Model_error) Plans_SweepDone();
    Monitors_Update(iteration);
    if (iteration > 1 && iteration % Model_checkPointFreq == 0) Model_WriteCheckPoint(iteration);
  }
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
  if (RunFile(t.text, false)) return RefuseRunFile(t.text);
  OutNode_SaveAction(t.text, Model_progress->iteration);
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
  const std::string names[] = {Params_sampleOutFile, Params_sampleIndexFile, Params_restartFile};
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
  Files_StagedFile samples(Params_sampleOutFile), index(Params_sampleIndexFile), state(Params_restartFile);
  Files_StagedFile* const files[] = {&samples, &index, &state};
  std::string unwritten;
  const auto note = [&unwritten](const std::string& name) {
    unwritten += (unwritten.empty() ? "" : ", ") + name;
  };
  for (const Files_StagedFile* f : files)
    if (!f->Opened()) note(f->Name());
  if (unwritten.empty()) {
    OutNode_WriteState(state.rider, iteration);
    Monitors_WriteTraces(samples.rider, index.rider, iteration);
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

void Model_Quit() {
  // The name is read first, so that a refusal still reaches the log; the
  // run ends either way, and a refused name leaves the log under its own.
  Scanner_Token t;
  Read_Get(t);
  const bool move = t.kind == Scanner_string && !RunFile(t.text, true);
  if (t.kind == Scanner_string && !move) RefuseRunFile(t.text);
  Write_Ln();
  Monitors_DumpMonitors(Model_progress->iteration, Params_outFile, Params_indexFile);
  Write_Close();
  if (move && !Files_Rename(Params_logFile, t.text)) {
    // The log is closed, so the terminal is the only place left to say it.
    std::fprintf(stderr, "Could not move the log %s to %s; it was kept under its own name.\n",
                 Params_logFile.c_str(), t.text.c_str());
  }
}

void Model_RunTimeError() {
  Monitors_DumpMonitors(Model_progress->iteration, Params_outFile, Params_indexFile);
  Write_Close();
}
