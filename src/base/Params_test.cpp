#include "base/Params.h"

#include <vector>

#include "TestSupport.h"

namespace {

void Init(std::vector<const char*> argv) { InitParams(static_cast<int>(argv.size()), argv.data()); }

TEST(ParamsTest, EveryFileNameComesFromTheStem) {
  Init({"wren", "20", "run"});
  EXPECT_FALSE(Params_error || Params_backGround);
  EXPECT_EQ(Params_numBins, 20);
  EXPECT_EQ((std::vector{Params_commandBuf, Params_logFile, Params_outFile, Params_indexFile,
                         Params_out1File, Params_index1File, Params_restartFile,
                         Params_sampleOutFile, Params_sampleIndexFile}),
            (std::vector<std::string>{"run.buf", "run.log", "run.out", "run.ind", "run1.out",
                                      "run1.ind", "run.res", "run.sof", "run.sif"}));
}

TEST(ParamsTest, ArgumentCount) {
  Init({"wren", "20", "run", "cmds.txt"});
  EXPECT_FALSE(Params_error);
  EXPECT_TRUE(Params_backGround);
  EXPECT_EQ(Params_commandFile, "cmds.txt");
  Init({"wren", "20"});
  EXPECT_TRUE(Params_error);
  Init({"wren", "20", "run", "cmds.txt", "more"});
  EXPECT_TRUE(Params_error);
}

TEST(ParamsTest, BinCountMustBeAWholeNumberThatFits) {
  for (const char* bins : {"abc", "1.5", "99999999999", ""}) {
    Init({"wren", bins, "run", "cmds.txt"});
    EXPECT_TRUE(Params_error && !Params_backGround) << bins;
    EXPECT_FALSE(Params_errorDetail.empty()) << bins;
  }
  Init({"wren", "-3", "run"});
  EXPECT_FALSE(Params_error);
  EXPECT_EQ(Params_numBins, -3);
}

TEST(ParamsTest, StemLeavesRoomForTheLongestExtension) {
  std::string stem(74, 's');
  Init({"wren", "20", stem.c_str()});
  EXPECT_FALSE(Params_error);
  stem += 's';
  Init({"wren", "20", stem.c_str()});
  EXPECT_TRUE(Params_error);
  EXPECT_FALSE(Params_errorDetail.empty());
}

class ParamsStemTest : public test::ScratchDir {};

// Only an existing regular file counts: a directory or a missing name is an
// ordinary stem, and a background run is examined the same way.
TEST_F(ParamsStemTest, StemNamingAnExistingFileIsNoticed) {
  test::WriteFile("hosp.cmd", "q()\n");
  std::filesystem::create_directory("plots");
  const struct {
    std::vector<const char*> argv;
    bool namesFile;
  } cases[] = {
      {{"wren", "20", "hosp.cmd"}, true},
      {{"wren", "20", "hosp.cmd", "hosp.cmd"}, true},
      {{"wren", "20", "hosp"}, false},
      {{"wren", "20", "plots"}, false},
      {{"wren", "20", "plots/hosp.cmd"}, false},
  };
  for (const auto& c : cases) {
    Init(c.argv);
    EXPECT_FALSE(Params_error) << c.argv[2];
    EXPECT_EQ(Params_stemNamesFile, c.namesFile) << c.argv[2];
  }
  Init({"wren", "20", "hosp.cmd", "a", "b"});
  EXPECT_FALSE(Params_stemNamesFile);
}

}  // namespace
