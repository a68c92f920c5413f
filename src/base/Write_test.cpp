#include "base/Write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

namespace {

// Standard error caught in a pipe for the lifetime of this object: unlike a
// capture file, a pipe is not bound by a limit on file size. Holds up to the
// pipe's capacity (64 KiB on Linux), ample for these tests.
class StderrPipe {
 public:
  StderrPipe() {
    std::fflush(stderr);
    saved_ = dup(2);
    if (pipe(ends_) == 0) {
      fcntl(ends_[0], F_SETFL, O_NONBLOCK);
      dup2(ends_[1], 2);
    }
  }
  StderrPipe(const StderrPipe&) = delete;
  StderrPipe& operator=(const StderrPipe&) = delete;
  ~StderrPipe() { Restore(); }
  // Everything written to standard error since this was made.
  std::string Text() {
    Restore();
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(ends_[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    close(ends_[1]);
    saved_ = -1;
  }
  int saved_ = -1;
  int ends_[2] = {-1, -1};
};

class LogFailureTest : public test::ScratchDir {};

// A log that stops taking bytes (a full disk): the session goes on, standard
// error says so, and in a background run it carries the console text from
// the last point that reached the log, so nothing said is lost.
TEST_F(LogFailureTest, ALogThatCannotBeWrittenIsReportedAndItsTextGoesToStandardError) {
  StartConsole();
  Write_String("first part");
  Write_Flush();
  const std::string block(5000, 'a');
  StderrPipe caught;
  {
    test::FileSizeLimit limit(4096);
    Write_String(block);
    Write_Ln();
    Write_String("after the limit");
    Write_Int(42, 4);
    Write_Flush();
    Write_Close();
  }
  const std::string shown = caught.Text();
  EXPECT_NE(shown.find("Could not write the log t.log"), std::string::npos) << shown;
  EXPECT_NE(shown.find("the log ends early"), std::string::npos) << shown;
  EXPECT_NE(shown.find(block + "\nafter the limit42  "), std::string::npos) << shown;
  EXPECT_EQ(shown.find("first part"), std::string::npos) << shown;  // that reached the log
  // The log keeps what reached it, intact.
  EXPECT_EQ(test::ReadFile("t.log"), "first part" + std::string(4096 - 10, 'a'));
}

TEST_F(LogFailureTest, ALogThatFailsOnlyAtTheCloseIsReportedToo) {
  StartConsole();
  Write_String("short");
  Write_Flush();
  StderrPipe caught;
  {
    test::FileSizeLimit limit(8);
    Write_String(" and more");
    Write_Close();
  }
  const std::string shown = caught.Text();
  EXPECT_NE(shown.find("Could not write the log t.log"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" and more"), std::string::npos) << shown;
  EXPECT_EQ(test::ReadFile("t.log"), "short an");
}

TEST_F(LogFailureTest, ALogThatCannotBeCreatedIsReported) {
  std::filesystem::create_directory("t.log");  // a directory in its place
  StderrPipe caught;
  StartConsole();
  Write_String("still said");
  Write_Close();
  const std::string shown = caught.Text();
  EXPECT_NE(shown.find("Could not create the log t.log"), std::string::npos) << shown;
  EXPECT_NE(shown.find("still said"), std::string::npos) << shown;
  EXPECT_TRUE(std::filesystem::is_directory("t.log"));
}

TEST_F(LogFailureTest, AWritableLogDrawsNoReport) {
  StderrPipe caught;
  StartConsole();
  Write_String("fine");
  Write_Ln();
  Write_Flush();
  Write_Close();
  EXPECT_EQ(caught.Text(), "");
  EXPECT_EQ(test::ReadFile("t.log"), "fine\n");
}

// A thread that holds its text keeps it from the log, and a fatal fault in
// it throws instead of ending the process; the log then goes on as before.
TEST_F(LogFailureTest, HeldTextStaysOutOfTheLogAndAFatalFaultThrows) {
  StartConsole();
  Write_String("before");
  std::string held;
  Write_Hold(&held);
  Write_Ln();
  Write_String("node x");
  Write_Int(7, 3);
  Write_LongReal(0.0, 11);
  const int64_t pos = Write_Pos();
  EXPECT_THROW(Write_EndRun(), Write_Stopped);
  Write_Hold(nullptr);
  Write_String(" after");
  EXPECT_EQ(held, "\nnode x7   0.000E+0  ");
  EXPECT_EQ(pos, static_cast<int64_t>(held.size()));
  EXPECT_EQ(Console(), "before after");
}

}  // namespace
