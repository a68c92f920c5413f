#include "sampling/Samplers.h"

#include <deque>
#include <string>

#include "commands/CtrlC.h"
#include "language/Errors.h"

namespace {

// Records in registration order; the sweep walks them from the back, which
// is the order the update list runs in. A deque keeps every address stable.
std::deque<Samplers_Sampler> records;
// How many records from the back the next call runs first; 0 starts a new sweep.
size_t cursor = 0;

const Graph_Node* failedNode = nullptr;
std::string failure;

}  // namespace

void InitSamplers() {
  records.clear();
  cursor = 0;
  failedNode = nullptr;
  failure.clear();
}

Samplers_Sampler& Samplers_Add() { return records.emplace_back(); }

int32_t Samplers_Count() { return static_cast<int32_t>(records.size()); }

Samplers_Sampler& Samplers_At(int32_t i) { return records[records.size() - 1 - static_cast<size_t>(i)]; }

void Samplers_Update(bool& aborted, bool& error) {
  aborted = false;
  error = false;
  const size_t n = records.size();
  while (cursor < n) {
    Samplers_Sampler& s = records[n - 1 - cursor];
    s.error = false;
    s.update(s);
    error = s.error;
    ++cursor;
    if (cursor == n) cursor = 0;
    if (error || cursor == 0) return;
    if (CtrlC_Abort()) {
      aborted = true;
      return;
    }
  }
}

void Samplers_Fail(Samplers_Sampler& sampler, std::string_view reason) {
  sampler.error = true;
  failedNode = sampler.node;
  failure = reason;
}

void Samplers_ReportFailure() {
  if (failedNode == nullptr) return;
  Errors_NodeReport(failedNode, failure);
  failedNode = nullptr;
  failure.clear();
}
