#include "sampling/Samplers.h"

#include <deque>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "language/Errors.h"

namespace {

// Records in registration order; a deque keeps every address stable.
std::deque<Samplers_Sampler> records;
// The records in the order a sweep runs them: the reverse of registration,
// except those moved to the end by Samplers_DrawLast. Rebuilt when records
// have been added since it was last made.
std::vector<Samplers_Sampler*> order;
// The position in order that the next call runs first; 0 starts a new sweep.
size_t cursor = 0;

void MakeOrder() {
  if (order.size() == records.size()) return;
  order.clear();
  order.reserve(records.size());
  for (auto it = records.rbegin(); it != records.rend(); ++it) order.push_back(&*it);
  cursor = 0;
}

const Graph_Node* failedNode = nullptr;
std::string failure;

}  // namespace

void InitSamplers() {
  records.clear();
  order.clear();
  cursor = 0;
  failedNode = nullptr;
  failure.clear();
}

Samplers_Sampler& Samplers_Add() { return records.emplace_back(); }

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
  cursor = 0;
}

void Samplers_Update(bool& aborted, bool& error, bool (*interrupted)()) {
  aborted = false;
  error = false;
  MakeOrder();
  const size_t n = order.size();
  while (cursor < n) {
    Samplers_Sampler& s = *order[cursor];
    s.error = false;
    s.update(s);
    error = s.error;
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

bool Samplers_MidSweep() { return cursor != 0; }

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
