// A background console for the benchmarks that call wren's modules directly.
#pragma once

#include <fstream>

#include "base/Params.h"
#include "base/Write.h"

namespace bench {

// A background console on the stem "b" in the working directory: reports go
// to b.log, not the terminal.
inline void BackgroundConsole() {
  std::ofstream("b.cmd");
  const char* argv[] = {"wren", "20", "b", "b.cmd"};
  InitParams(4, argv);
  InitWrite();
}

}  // namespace bench
