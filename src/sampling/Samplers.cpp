#include "sampling/Samplers.h"

#include <deque>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "language/Errors.h"

thread_local constinit Samplers_ChainPart* Samplers_part = nullptr;

namespace {

// Records in registration order; a deque keeps every address stable.
std::deque<Samplers_Sampler> records;
// The records in the order a sweep runs them: the reverse of registration,
// except those moved to the end by Samplers_DrawLast. Rebuilt when records
// have been added since it was last made, which happens only while the
// model compiles, never while chains sweep.
std::vector<Samplers_Sampler*> order;

void MakeOrder() {
  if (order.size() == records.size()) return;
  order.clear();
  order.reserve(records.size());
  for (auto it = records.rbegin(); it != records.rend(); ++it) order.push_back(&*it);
  Samplers_part->cursor = 0;
}

}  // namespace

void InitSamplers() {
  records.clear();
  order.clear();
  if (Samplers_part != nullptr) *Samplers_part = {};
}

void Samplers_Bind(Samplers_ChainPart* part) { Samplers_part = part; }

Samplers_Sampler& Samplers_Add() {
  Samplers_Sampler& s = records.emplace_back();
  s.position = static_cast<int32_t>(records.size()) - 1;
  if (Samplers_part->states.size() < records.size()) Samplers_part->states.resize(records.size());
  return s;
}

int32_t Samplers_Count() { return static_cast<int32_t>(records.size()); }

Samplers_Sampler& Samplers_At(int32_t i) {
  MakeOrder();
  return *order[static_cast<size_t>(i)];
}

void Samplers_DrawLast(const std::vector<Samplers_Sampler*>& last) {
  MakeOrder();
  const std::unordered_set<Samplers_Sampler*> moved(last.begin(), last.end());
  std::vector<Samplers_Sampler*> next;
  next.reserve(order.size());
  for (Samplers_Sampler* s : order)
    if (moved.count(s) == 0) next.push_back(s);
  for (Samplers_Sampler* s : last) next.push_back(s);
  if (next.size() != order.size()) return;  // a record not in the list: keep the order as it was
  order = std::move(next);
  Samplers_part->cursor = 0;
}

void Samplers_Update(bool& aborted, bool& error, bool (*interrupted)()) {
  aborted = false;
  error = false;
  MakeOrder();
  Samplers_ChainPart& part = *Samplers_part;
  // A chain made before the last records were registered has no state for them yet.
  if (part.states.size() < records.size()) part.states.resize(records.size());
  const size_t n = order.size();
  size_t& cursor = part.cursor;
  while (cursor < n) {
    Samplers_Sampler& s = *order[cursor];
    Samplers_State& state = part.states[static_cast<size_t>(s.position)];
    state.error = false;
    s.update(s);
    error = state.error;
    ++cursor;
    if (cursor == n) cursor = 0;
    if (error) return;
    // Asked after every record, the last one of the sweep included: a model
    // with a single record would otherwise never see the request.
    if (interrupted != nullptr && interrupted()) {
      aborted = true;
      return;
    }
    if (cursor == 0) return;
  }
}

bool Samplers_MidSweep() { return Samplers_part->cursor != 0; }

void Samplers_Fail(Samplers_Sampler& sampler, std::string_view reason) {
  Samplers_StateOf(sampler).error = true;
  Samplers_part->failedNode = sampler.node;
  Samplers_part->failure = reason;
}

void Samplers_ReportFailure() {
  Samplers_ChainPart& part = *Samplers_part;
  if (part.failedNode == nullptr) return;
  Errors_NodeReport(part.failedNode, part.failure);
  part.failedNode = nullptr;
  part.failure.clear();
}
