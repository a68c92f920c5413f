#include "commands/Chain.h"

#include <memory>

namespace {

std::unique_ptr<Chain_Record> first;

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
  first = std::make_unique<Chain_Record>();
  Chain_Bind(*first);
}

Chain_Record& Chain_First() { return *first; }
