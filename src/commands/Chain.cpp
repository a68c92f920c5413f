#include "commands/Chain.h"

#include "base/Write.h"

#include <memory>

#include "base/Files.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "sampling/InitVals.h"

namespace {

// Chain 1 first; the others after a compile that asks for them.
std::vector<std::unique_ptr<Chain_Record>> chains;

void Publish() {
  std::vector<Monitors_Traces*> traces;
  for (const auto& c : chains) traces.push_back(&c->traces);
  Monitors_SetChains(traces);
}

// Gives the bound record its own starting values: those of the file named,
// when there is one, and draws from the priors for the rest.
bool StartValues(const std::string& start) {
  InitVals_ForgetStarts();
  if (!start.empty()) {
    const Files_Handle file = Files_Old(start);
    if (!file) {
      Write_Ln();
      Write_String("Initial value file " + start + " does not exist.");
      return false;
    }
    Errors_SetErrorFile(start, file);
    Data_ReadChainStart(Model_progress->iteration, RandNum_stream->seed, file);
    if (Data_error) return false;
  }
  InitVals_GenerateStartingValue(false);
  return !InitVals_error;
}

}  // namespace

void Chain_Bind(Chain_Record& record) {
  Graph_BindValues(&record.values);
  RandNum_Bind(&record.stream);
  Determ_Bind(&record.linear);
  Samplers_Bind(&record.sweep);
  Plans_Bind(&record.plans);
  Blocks_Bind(&record.blocks);
  Model_Bind(&record.progress);
  Monitors_Bind(&record.traces);
}

std::unique_ptr<Chain_Record> Chain_Copy() {
  auto copy = std::make_unique<Chain_Record>();
  copy->values = *Graph_values;
  copy->stream = *RandNum_stream;
  copy->linear = *Determ_part;
  copy->sweep = *Samplers_part;
  copy->plans = *Plans_part;
  copy->blocks = *Blocks_part;
  copy->progress = *Model_progress;
  return copy;
}

void InitChain() {
  chains.clear();
  chains.push_back(std::make_unique<Chain_Record>());
  Chain_Bind(*chains.front());
}

Chain_Record& Chain_First() { return *chains.front(); }

void Chain_ForEach(const std::function<void(int32_t)>& visit) {
  visit(1);
  if (chains.size() < 2) return;
  for (int32_t k = 2; k <= Chain_Count(); ++k) {
    Chain_Bind(Chain_At(k));
    visit(k);
  }
  Chain_Bind(Chain_First());
}

int32_t Chain_Count() { return static_cast<int32_t>(chains.size()); }

Chain_Record& Chain_At(int32_t number) { return *chains[static_cast<size_t>(number - 1)]; }

bool Chain_Start(int32_t count, const std::vector<std::string>& starts, int32_t seed) {
  bool started = true;
  for (int32_t k = 2; k <= count && started; ++k) {
    auto record = Chain_Copy();
    RandNum_StartFrom(record->stream, RandNum_StreamSeed(seed, k));
    Chain_Bind(*record);
    const size_t i = static_cast<size_t>(k - 2);
    // What the start reports is held back, so that it can be said first
    // which chain it is about.
    std::string held;
    bool stopped = false;
    Write_Hold(&held);
    try {
      started = StartValues(i < starts.size() ? starts[i] : std::string());
    } catch (const Write_Stopped&) {
      started = false;
      stopped = true;
    }
    Write_Hold(nullptr);
    if (!started) Chain_SayWhich(k);
    Write_String(held);
    if (stopped) {
      Write_Flush();
      Write_EndRun();
    }
    chains.push_back(std::move(record));
  }
  Chain_Bind(Chain_First());
  // A failed start ends the run: nothing may sweep a chain half made.
  if (!started) chains.resize(1);
  Publish();
  return started;
}

std::string Chain_FileName(const std::string& name, int32_t k) {
  if (k <= 1) return name;
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  const std::string mark = "_" + std::to_string(k);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return name + mark;
  return name.substr(0, dot) + mark + name.substr(dot);
}

void Chain_SayWhich(int32_t k) {
  Write_Ln();
  Write_String("In chain " + std::to_string(k) + ":");
}
