#include "base/Params.h"

#include <tuple>
#include <vector>

#include "TestSupport.h"

namespace {

using ParamsTest = test::ScratchDir;

// The bin count must be a whole number that fits; the stem must leave room for
// the longest extension; only an existing regular file counts as a stem that
// names a file, in a background run too. (The session_* scenarios, bad_bin_count,
// long_stem, stem_names_file and too_many_arguments show the messages.)
TEST_F(ParamsTest, CommandLinesAreCheckedAndAStemNamingAFileIsNoticed) {
  test::WriteFile("hosp.cmd", "q()\n");
  std::filesystem::create_directory("plots");
  const std::string stem74(74, 's');
  const struct { std::vector<const char*> argv; bool error, background, namesFile; } cases[] = {
      {{"wren", "20", "run", "cmds.txt"}, false, true, false}, {{"wren", "+1234567890", "run", "c"}, false, true, false},
      {{"wren", "1.5", "run", "c"}, true, false, false},       {{"wren", "99999999999", "run"}, true, false, false},
      {{"wren", "", "run"}, true, false, false},               {{"wren", "20", stem74.c_str()}, false, false, false},
      {{"wren", "20", "hosp.cmd", "hosp.cmd"}, false, true, true}, {{"wren", "20", "hosp"}, false, false, false},
      {{"wren", "20", "plots"}, false, false, false},          {{"wren", "20", "plots/hosp.cmd"}, false, false, false},
  };
  for (const auto& c : cases) {
    InitParams(static_cast<int>(c.argv.size()), c.argv.data());
    const std::string args = std::string(c.argv[1]) + " " + c.argv[2];
    EXPECT_EQ(Params_error, c.error) << args;
    EXPECT_EQ(Params_backGround, c.background) << args;
    EXPECT_EQ(Params_stemNamesFile, c.namesFile) << args;
  }
  const char* argv[] = {"wren", "-3", "run"};
  InitParams(3, argv);
  EXPECT_EQ(std::tuple(Params_error, Params_numBins, Params_commandBuf), std::tuple(false, -3, "run.buf"));
}

}  // namespace
