#include "base/Write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"
#include "base/TextFile.h"

namespace {

TEST(TextFileTest, NumbersTakeTheirWidthAndAreNeverCut) {
  const std::pair<std::string, std::string> cases[] = {
      {TextFile_IntText(7, 3), "7  "}, {TextFile_IntText(-12, 2), "-12"}, {TextFile_IntText(0, 0), "0"},
      {TextFile_IntText(INT64_MIN, 1), "-9223372036854775808"},
      // Scientific form with width minus seven digits after the point.
      {TextFile_RealText(12.5, 11), " 1.250E+1  "}, {TextFile_RealText(-2.5, 11), "-2.500E+0  "},
      {TextFile_RealText(0.0, 11), " 0.000E+0  "}, {TextFile_RealText(1.234e-300, 11), " 1.234E-300"},
      {TextFile_RealText(9.9996e5, 11), " 1.000E+6  "},  // rounding carries into the exponent
      {TextFile_RealText(1.5, 9), " 1.5     "}, {TextFile_RealText(3.14159265, 20), " 3.14159     "},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

// Standard error caught in a pipe, which no file-size limit binds, until Text().
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
  std::string Text() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    close(ends_[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(ends_[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(ends_[0]);
    return text;
  }

 private:
  int saved_ = -1, ends_[2] = {-1, -1};
};

class LogFailureTest : public test::ScratchDir {};

// A log that fails only at its close, or cannot be created, is reported on
// standard error with the console text it lost; the session goes on.
TEST_F(LogFailureTest, ALogThatFailsAtTheCloseOrCannotBeCreatedIsReported) {
  StartConsole();
  Write_String("short");
  Write_Flush();
  StderrPipe caught;
  {
    test::FileSizeLimit limit(8);
    Write_String(" and more");
    Write_Close();
  }
  std::string shown = caught.Text();
  EXPECT_NE(shown.find("Could not write the log t.log"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" and more"), std::string::npos) << shown;
  EXPECT_EQ(test::ReadFile("t.log"), "short an");
  std::filesystem::remove("t.log");
  std::filesystem::create_directory("t.log");  // a directory in its place
  StderrPipe again;
  StartConsole();
  Write_String("still said");
  Write_Close();
  shown = again.Text();
  EXPECT_NE(shown.find("Could not create the log t.log"), std::string::npos) << shown;
  EXPECT_NE(shown.find("still said"), std::string::npos) << shown;
}

}  // namespace
