// Helpers shared by the unit tests: a scratch directory per test, small file
// helpers, and a console whose log can be read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "base/Params.h"
#include "base/Write.h"

namespace test {

inline void WriteFile(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& name) { return std::filesystem::exists(name); }

// A limit on the size of every file written, for its lifetime: a write past
// it fails as it would on a full disk (the signal the limit raises is
// ignored meanwhile). Unlike directory permissions it binds the superuser too.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
  }
  void (*handler)(int);
  rlimit saved{};
};

// Runs each test in a fresh directory of its own, removed afterwards.
class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::string tmpl = (std::filesystem::temp_directory_path() / "wren-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    Write_Close();
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A background-mode console on the stem "t": nothing reaches the terminal,
  // everything reaches t.log.
  void StartConsole() {
    WriteFile("t.cmd", "");
    const char* argv[] = {"wren", "20", "t", "t.cmd"};
    InitParams(4, argv);
    InitWrite();
  }

  // Everything written to the console so far.
  std::string Console() {
    Write_Flush();
    return ReadFile("t.log");
  }

  std::filesystem::path old_, dir_;
};

}  // namespace test
