#include "base/Params.h"

#include <vector>

#include "TestSupport.h"

namespace {

void Init(std::vector<const char*> argv) { InitParams(static_cast<int>(argv.size()), argv.data()); }

class ParamsStemTest : public test::ScratchDir {};

// The bin count must be a whole number that fits; the stem must leave room for
// the longest extension; only an existing regular file counts as a stem that
// names a file, in a background run too.
TEST_F(ParamsStemTest, CommandLinesAreCheckedAndAStemNamingAFileIsNoticed) {
  test::WriteFile("hosp.cmd", "q()\n");
  std::filesystem::create_directory("plots");
  const std::string stem74(74, 's'), stem75(75, 's');
  const struct {
    std::vector<const char*> argv;
    bool error, background, namesFile;
  } cases[] = {
      {{"wren", "20", "run", "cmds.txt"}, false, true, false},  {{"wren", "20"}, true, false, false},
      {{"wren", "+1234567890", "run", "c"}, false, true, false},
      {{"wren", "1.5", "run", "c"}, true, false, false},        {{"wren", "99999999999", "run"}, true, false, false},
      {{"wren", "", "run"}, true, false, false},                {{"wren", "20", stem74.c_str()}, false, false, false},
      {{"wren", "20", stem75.c_str()}, true, false, false},     {{"wren", "20", "hosp.cmd"}, false, false, true},
      {{"wren", "20", "hosp.cmd", "hosp.cmd"}, false, true, true}, {{"wren", "20", "hosp"}, false, false, false},
      {{"wren", "20", "plots"}, false, false, false},           {{"wren", "20", "plots/hosp.cmd"}, false, false, false},
      {{"wren", "20", "hosp.cmd", "a", "b"}, true, false, false},
  };
  for (const auto& c : cases) {
    Init(c.argv);
    const std::string args = std::string(c.argv[1]) + " " + (c.argv.size() > 2 ? c.argv[2] : "");
    EXPECT_EQ(Params_error, c.error) << args;
    EXPECT_EQ(Params_backGround, c.background) << args;
    EXPECT_EQ(Params_stemNamesFile, c.namesFile) << args;
  }
  Init({"wren", "-3", "run"});
  EXPECT_FALSE(Params_error);
  EXPECT_EQ(Params_numBins, -3);
  EXPECT_EQ(Params_commandBuf, "run.buf");  // the other names show in the scenarios
}

}  // namespace
