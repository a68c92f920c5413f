// What the benchmarks share: a scratch directory that is removed at the end,
// and a background console.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

#include "commands/Params.h"
#include "commands/Write.h"

namespace bench {

// A fresh directory under the system's temporary directory; the working
// directory moves into it while the object lives when enter is true.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(bool enter) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "wren-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return;
    path_ = tmpl;
    if (enter) {
      old_ = std::filesystem::current_path();
      std::filesystem::current_path(path_);
    }
  }
  ~ScratchDirectory() {
    std::error_code ec;
    if (!old_.empty()) std::filesystem::current_path(old_, ec);
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_, old_;
};

// A background console on the stem "b" in the working directory: reports go
// to b.log, not the terminal.
inline void BackgroundConsole() {
  std::ofstream("b.cmd");
  const char* argv[] = {"wren", "20", "b", "b.cmd"};
  InitParams(4, argv);
  InitWrite();
}

}  // namespace bench
