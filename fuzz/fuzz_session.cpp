// libFuzzer target: see Fuzz_Session in Fuzz.h for what the input becomes.
#include <cstddef>
#include <cstdint>

#include "Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Refused inputs stay out of the corpus.
  return Fuzz_Session(data, size) == Fuzz_refused ? -1 : 0;
}
