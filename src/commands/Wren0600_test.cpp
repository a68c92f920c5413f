#include "commands/Wren0600.h"

#include <string>

#include "TestSupport.h"

namespace {

using Wren0600Test = test::ScratchDir;

// The scenarios mask the banner's date, so its day suffixes are checked here;
// the command-line and checkpoint arguments are in the session_* scenarios.
TEST_F(Wren0600Test, BannerDaySuffixes) {
  const std::pair<int, const char*> days[] = {{1, "1 st"},   {2, "2 nd"},   {3, "3 rd"},   {5, "5 th"},
                                              {11, "11 th"}, {12, "12 th"}, {13, "13 th"}, {21, "21 st"},
                                              {22, "22 nd"}, {23, "23 rd"}, {31, "31 st"}};
  for (auto [day, text] : days) {
    std::tm t{};
    t.tm_mday = day, t.tm_mon = 11, t.tm_year = 95, t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 3;
    StartConsole();
    Wren0600_WriteBanner(t);
    EXPECT_EQ(Console().substr(0, Console().find('\n')),
              std::string("Welcome to WREN on ") + text + " Dec 1995  at 9:5:3") << day;
  }
}

}  // namespace
