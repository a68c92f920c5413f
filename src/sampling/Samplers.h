// Samplers: the update list and the sweep. Every stochastic node or block
// that the sampler updates has one record holding the update procedure
// chosen for it at compile time; a sweep calls them one after another.
//
// Records are registered in increasing node number and each new one goes to
// the front of the list, so a sweep visits the nodes in decreasing number;
// the update-method choice then moves the draws of nodes without likelihood
// terms to the end of the sweep.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "store/Graph.h"

struct Samplers_Sampler;
using Samplers_Proc = void (*)(Samplers_Sampler& sampler);

// The record of a node in the update list, shared by every chain: what a
// procedure keeps for a chain is in that chain's Samplers_State.
struct Samplers_Sampler {
  Samplers_Proc update = nullptr;  // the procedure chosen for the node
  Graph_Node* node = nullptr;      // the node, or the first component of a block
  int32_t plan = -1;               // the node's precomputed full conditional, when it has one
  int32_t position = -1;           // its place in registration order, set by Samplers_Add
  int32_t block = -1;              // the joint-update block its node belongs to, if any
};

// What one chain keeps of one record between updates.
struct Samplers_State {
  // Working data adaptive rejection sampling keeps between sweeps: the
  // quantiles of the last envelope, once there is one.
  std::array<double, 4> centiles{};
  bool haveCentiles = false;
  bool error = false;  // set by a procedure that failed; ends the sweep
};

// A chain's part of the sweep: each record's state by position, where the
// next call of Samplers_Update starts, and the last failure.
struct Samplers_ChainPart {
  std::vector<Samplers_State> states;
  size_t cursor = 0;  // the position in the sweep's order that runs next; 0 starts a new sweep
  const Graph_Node* failedNode = nullptr;
  std::string failure;
};
extern thread_local constinit Samplers_ChainPart* Samplers_part;
// Binds a chain's part to the calling thread.
void Samplers_Bind(Samplers_ChainPart* part);
// The bound chain's state of a registered record.
inline Samplers_State& Samplers_StateOf(const Samplers_Sampler& sampler) {
  return Samplers_part->states[static_cast<size_t>(sampler.position)];
}

// Empties the update list and the bound chain's part.
void InitSamplers();
// A new record at the front of the update list. Its address stays valid for
// the rest of the run.
Samplers_Sampler& Samplers_Add();
int32_t Samplers_Count();
// The record the sweep runs at position i (0 runs first); the plans of full
// conditionals read the chosen procedures through it, and so do the tests.
Samplers_Sampler& Samplers_At(int32_t i);

// Moves the records given (each registered, each once) to the end of the
// sweep, in the order given; the others keep their order.
void Samplers_DrawLast(const std::vector<Samplers_Sampler*>& last);

// Runs one sweep of the chain bound to the calling thread. A procedure that
// sets its error flag ends the sweep after itself with error true; an
// interrupt request, asked after every record including the last, ends it
// after the current record with aborted true. The caller says how to ask: interrupted is called after each
// record, and null never interrupts. Either way the next call resumes with the record after the
// one that ran last; when that was the last record the sweep is complete and
// the next call starts a new one. An empty list runs nothing and reports
// neither.
void Samplers_Update(bool& aborted, bool& error, bool (*interrupted)() = nullptr);
// Whether the last sweep was cut short, so that the next call resumes it
// rather than starting a new one.
bool Samplers_MidSweep();

// For an update procedure that cannot make a sound draw: sets the record's
// error flag in the bound chain and keeps the node and the reason for
// Samplers_ReportFailure.
// The node keeps the value it had.
void Samplers_Fail(Samplers_Sampler& sampler, std::string_view reason);
// Samplers_Fail with the numbers of the case filled into the reason,
// printf-style; the text is cut at 400 characters.
template <typename... Args>
void Samplers_FailWith(Samplers_Sampler& sampler, const char* format, Args... args) {
  if constexpr (sizeof...(Args) == 0) {
    Samplers_Fail(sampler, format);
  } else {
    std::array<char, 400> text{};
    std::snprintf(text.data(), text.size(), format, args...);
    Samplers_Fail(sampler, text.data());
  }
}
// Writes the report of the bound chain's last failure, naming the node, and forgets it.
// Nothing when there is none.
void Samplers_ReportFailure();
