// Fuzz: runs the program's own command loop on arbitrary input, for the fuzz
// targets and for the tests that replay what they found.
//
// Every run resets every module, works in a scratch directory of its own
// (emptied first, so no run sees what an earlier one left behind) and comes
// back to the directory it started from. A fatal fault, which ends the
// program, ends only the run. Inputs that would only make a run long without
// reaching more of the program are refused or trimmed, as each entry says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum Fuzz_Outcome : int32_t {
  Fuzz_refused = 0,    // the input lies outside the bounds the runs keep to; nothing ran
  Fuzz_completed = 1,  // the command loop came to its end
  Fuzz_ended = 2,      // a fatal fault was reported and ended the run
};

// Inputs longer than this are refused.
constexpr size_t Fuzz_maxInput = 4096;
// Sweeps all the update commands of one run may ask for together.
constexpr int32_t Fuzz_maxSweeps = 1000;
// Models with a number above this are refused: loops and arrays stay small.
constexpr int64_t Fuzz_maxNumber = 2000;

// The input is a model file followed, after each byte 1, by the text of a
// file the model names: the first such text becomes the file of the first
// quoted name of the model, and so on. The run compiles the model and quits.
Fuzz_Outcome Fuzz_Model(const uint8_t* data, size_t size);
// The input's first byte chooses the file the rest of it becomes: bit 0 the
// rectangular format rather than the list format, bit 1 the initial values
// rather than the data of a small fixed model. The run compiles the model,
// updates it a few times and quits.
Fuzz_Outcome Fuzz_Data(const uint8_t* data, size_t size);
// The input is a command file, run after the small fixed model has been
// compiled. Update commands are trimmed to the sweeps left of the run's share.
Fuzz_Outcome Fuzz_Session(const uint8_t* data, size_t size);
// The log of the last run.
std::string Fuzz_Log();
