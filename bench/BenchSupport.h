// What the benchmarks share: a scratch directory that is removed at the end.
// Needs none of wren's headers, so the comparison with hand-written samplers
// can use it too.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

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

}  // namespace bench
