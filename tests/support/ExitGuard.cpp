// A fault path that ends the process in the middle of a test (a node error
// ends the program with status 0) must not let the test program pass for a
// success: such an exit fails the run instead. Death tests, which end a child
// process on purpose, are not affected.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

const pid_t mainProcess = getpid();
bool insideTest = false;

class Guard : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { insideTest = true; }
  void OnTestEnd(const ::testing::TestInfo&) override { insideTest = false; }
};

void CheckExit() {
  if (insideTest && getpid() == mainProcess) {
    std::fputs("\nThe process ended in the middle of a test.\n", stderr);
    std::_Exit(1);
  }
}

const bool installed = [] {
  std::atexit(CheckExit);
  // The listener list takes ownership.
  ::testing::UnitTest::GetInstance()->listeners().Append(std::make_unique<Guard>().release());
  return true;
}();

}  // namespace
