#include "commands/Nodes.h"

#include <string>
#include <vector>

#include "TestSupport.h"
#include "commands/Wren0600.h"

namespace {

// Runs a whole session from a command file on the stem "t", with a model of
// two logical nodes that stay at 3.731E-124 and -3.731E-124 whatever is
// drawn, so every summary is known exactly.
class NodesTest : public test::ScratchDir {
 protected:
  void Run(const std::string& commands) {
    test::WriteFile("m.bug",
                    "model tiny;\nvar mu, a, b;\n{\n  mu ~ dnorm(0, 1)\n"
                    "  a <- 3.731E-124 * step(mu + 1.0E9)\n  b <- -3.731E-124 * step(mu + 1.0E9)\n}\n");
    test::WriteFile("cmds.txt", "compile(\"m.bug\")\n" + commands + "q()\n");
    const char* argv[] = {"wren", "20", "t", "cmds.txt"};
    ASSERT_TRUE(Wren0600_InitModules(4, argv));
    WrenLoop();
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
      lines.push_back(text.substr(from, end - from));
    return lines;
  }
  // The console row that follows the stats heading, for each stats command.
  static std::vector<std::string> ConsoleRows(const std::string& console) {
    std::vector<std::string> rows;
    const std::vector<std::string> lines = Lines(console);
    for (size_t i = 0; i + 1 < lines.size(); ++i)
      if (lines[i].find("median") != std::string::npos) rows.push_back(lines[i + 1]);
    return rows;
  }
};

// A value that fills its field (an exponent of three digits in a real field
// of 11, six digits in an integer field of 6) moves the fields after it one
// place on, so that every two fields stay apart and every digit is kept.
TEST_F(NodesTest, ValuesThatFillTheirFieldsStayApartFromTheNext) {
  Run("monitor(a)\nupdate(99999)\nmonitor(b)\nupdate(200001)\n"
      "stats(a, 1:50)\nstats(a)\nstats(b)\n");
  const std::string pos = " 3.731E-124", neg = "-3.731E-124", zero = " 0.000E+0  ";
  const std::string low = " 2.500E+0  ", high = " 9.750E+1  ";
  struct Row {
    std::string file, console;
  };
  const Row rows[] = {
      // n = 50 after a median with a three-digit exponent
      {pos + zero + low + pos + high + pos + pos + " 50    1     50    ",
       std::string(15, ' ') + pos + zero + pos + pos + pos + "   50    "},
      // a sample of 300 000 beside first iteration 1
      {pos + zero + low + pos + high + pos + pos + " 300000 1     300000",
       std::string(15, ' ') + pos + zero + pos + pos + pos + "   300000"},
      // negative values after full fields; six-digit counts and iterations
      {neg + zero + low + neg + high + neg + " " + neg + " 200001 100000 300000",
       std::string(15, ' ') + neg + zero + neg + " " + neg + " " + neg + "   200001"},
  };
  const std::vector<std::string> file = Lines(test::ReadFile("t1.out"));
  const std::vector<std::string> console = ConsoleRows(Console());
  ASSERT_EQ(file.size(), std::size(rows));
  ASSERT_EQ(console.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(file[i], rows[i].file) << i;
    EXPECT_EQ(console[i], rows[i].console) << i;
  }
}

// Percentages outside (0, 100) or out of order are refused with a message
// and change nothing: no row is written, the row count runs on, and a
// refused out does not make the next stats start new files.
TEST_F(NodesTest, PercentagesOutsideTheOpenIntervalOrOutOfOrderAreRefused) {
  const std::string refused[] = {
      "stats(a, 1:10, 9.9E99:95.0)", "stats(a, 1:10, 95.0:5.0)", "stats(a, 0.0:50.0)",
      "stats(a, 1:10, 2.5:100.0)",   "stats(a, 1:10, 0:50)",     "stats(a, 1:10, 10:200)",
      "stats(a, 1.0E-400:50.0)",     "stats(a, 1:10, 1.0E400:1.0E401)",
      "diag(a, 1:10, 60:40)",        "out(a, 1:10, 5.0:105.0)",
  };
  std::string commands = "monitor(a)\nupdate(10)\nstats(a, 1:10, 50:50)\n";
  for (const std::string& c : refused) commands += c + "\n";
  commands += "stats(a, 1:10, 0.1:99.9)\n";
  Run(commands);
  const std::string console = Console();
  size_t said = 0;
  for (size_t at = 0; (at = console.find("Percentages must lie between 0 and 100, the lower one first", at)) !=
                      std::string::npos;
       ++at)
    ++said;
  EXPECT_EQ(said, std::size(refused));
  EXPECT_EQ(console.find("-9223372036854775808"), std::string::npos);
  EXPECT_EQ(test::ReadFile("t1.ind"), "a 1\na 2\n");
  const std::vector<std::string> file = Lines(test::ReadFile("t1.out"));
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(file[0].substr(22, 11), " 5.000E+1  ");  // the pair 50:50 is in order
  EXPECT_EQ(file[1].substr(22, 11), " 1.000E-1  ");
}

}  // namespace
