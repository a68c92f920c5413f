#include "language/Parser.h"

#include <algorithm>
#include <cstdio>

#include "FrontEnd.h"

namespace {

class ParserTest : public test::FrontEnd {};

// Each model, with its data file, either compiles (-1) or reports the error
// number given where "|" stands, in the model or the data: the report's "$"
// marks the character after it.
TEST_F(ParserTest, CompileErrorsNameTheirNumberLineAndColumn) {
  test::WriteFile("r.dat", "1 2\n3 4\n");
  test::WriteFile("i.dat", "list(iteration = 7, seed = 11)");
  const std::string B = "model m;\nvar x, mu, tau, S[2, 2], T[2, 2], a[2, 2, 2], b[2], d[2], m, y[3], p[2];\n{ ";
  const std::string F = "model m; var x[2], y[2], z[2], w[3], n;\n";
  const std::string V = "model m; const N = 3; var x[3], w[2, 3], z[2, 3, 4], s, r[3, 2]; ", D = V + "data in \"d.dat\";\n{ }";
  const std::string R = "model m; var x[3], r[3, 2]; data x, r in \"d.dat\";\n{ }";
  const std::string w6 = "list(w = structure(.Data = c(1, 2, 3, 4, 5, 6)", c6 = "list(w = structure(c(1, 2, 3, 4, 5, 6), ";
  std::string deep = "x <- ", sum = "x <- 1";
  for (int i = 0; i < 120; ++i) deep += i == 101 ? "|(" : "(";  // nested too deep
  for (int i = 0; i < 100000; ++i) sum += i == 200 ? " +| 1" : " + 1";  // refused before it gets too deep
  const struct { std::string model; int error; std::string data = "list(x = c(1, 2), n = 3)"; } cases[] = {
      {"model m;\nvar x[2,3,4,5|];\n{ }", 18},
      {"model m;\nvar x, x|\n;\n{ }", 17},  // the token before a line end is shown on its own line
      {"model m;\nconst M = N| * 2, N = 10; var x;\n{ }", 45}, {"model m;\nconst K = 2.5; var x[K|];\n{ }", 6},
      {"model m;\nconst K = -2; var x[K|];\n{ }", 6}, {"model m;\nvar x[0|];\n{ }", 8},
      {"model m;\nvar x[2], y[x|[1]];\n{ }", 5}, {"model m;\nvar x[sqrt|(4)];\n{ }", 10},
      {"model m;\nvar x[1000001];|\n{ }", 110}, {"model m;\nvar x[1000, 1000], y;|\n{ }", 110},
      {"model m;\nvar I, c, x[999998];\n{ }", -1}, {"model m;\nconst N = 1;\n{| }", 65},
      {B + "x ~ dnorm(mu +,| tau) }", 45}, {B + "x ~ dnorm(0, 1) I(mu +| 1, ) }", 16}, {B + "x ~ dnorm(mu)| }", 16},
      {B + "x ~ dnorm(mu, tau,| 1) }", 53}, {B + "x ~ dmystery|(1) }", 47}, {B + "S[, ] <- 2 * inverse|(T[, ]) }", 45},
      {B + "m <- mean(y|[3]) }", 42}, {B + "d[1] <- inprod(a|[1, , ], b[]) }", 41}, {B + "m <- pow(x)| }", 68},
      {B + "x <- S[, 2|] }", 40}, {B + "S[1:2, 1|] ~ dwish(T[, ], 3) }", 40}, {B + "x ~ dnorm(a[1, 1:2, 2|], 1) }", 40},
      {B + "x <- S[1 2|] }", 2}, {B + "x <- S }|", 1}, {B + "x =| 1 }", 48}, {B + "logit(x) =| 1 }", 46},
      {B + "undeclared| <- 1 }", 54}, {B + "for (x| in 1:2) { } }", 70},
      {B + "for (i in 1:2) { for (i| in 1:2) { } } }", 70}, {B + "for (i in 1:2) { x <- 1 };| }", 66},
      {B + deep + "1 }", 83}, {B + sum + " }", 83},
      {"model m; var x;\n{ for (i in 1:2) { x ~ dnorm(0, 1) }|", 66},  // no line end after the last line
      {F + "data x y| in \"r.dat\";\n{ }", 36}, {F + "data x, w| in \"r.dat\";\n{ }", 101},
      {F + "data in d.dat|;\n{ }", 37}, {F + "data q| in \"r.dat\";\n{ }", 54},
      {F + "data in \"d.dat\" inits| in \"i.dat\";\n{ }", 13},
      {F + "data in \"d.dat\", y, z in \"r.dat\"; inits in \"i.dat\";\n{ }", -1},
      {B + "S[, ] <- inverse(T[, ]) m <- mean(y[]) }", -1},
      {B + "for (i in 1:2) { d[i] <- inprod(a[i, 1, ], b[]) } }", -1},
      {B + "for (i in 1:2) { p[i] ~ dnorm(0, 1) } for (i in 1:2) { b[i] <- p[i] } }", -1},
      {B + "x ~ dnorm(0, 1) I(, ); m <- x - -1; d[1] <- sum(S[1:2, 1]); }", -1},  // semicolons are optional
      {B + "x ~ dnorm(m + 1, d[1]) I(-1, 1) mu ~ dnorm(-m, 1) tau ~ dnorm(sum(d[]), 1) I(0, ) }", -1},
      {B + "x ~ dbeta(1 + m, pow(d[2], 2) / (1 - d[1])) S[1:2, 1:2] ~ dwish(T[1:2, ], 3) }", -1},
      {B + "b[1:2] ~ dmnorm(d[1:2], T[, 1:2]) x <- a[1, 1:2, 1:2] m <- S[1, 1:2] }", -1},
      // Data errors stop the reading where they are met.
      {D, 35, "list| s = 1"}, {D, 15, "list(s 3|)"}, {D, 23, "list(s = +|1)"}, {D, 22, "list(s = 1, s = 2|)"},
      {D, 25, "list(x = 5|)"}, {D, 25, "list(x = structure|(.Data = c(1, 2, 3), .Dim = c(3)))"},
      {D, 24, "list(x = c(1, 2, 3, 4)|, s = 1)"}, {D, 0, "list(x = c(1, 2, 3 s|)"}, {D, 34, "list(seed = -|77)"},
      {D, 34, "list(iteration = 2e3x|)"}, {D, 34, "list(s = 1, q|_1 = 2)"},
      // Text run on to a number is never cut to the number in front of it.
      {D, 23, "list(s = 1.5.3|)"}, {D, 23, "list(s = 50Lx|)"}, {D, 23, "list(x = c(1, 2.5L|, 3))"}, {D, 23, "list(s = 2e|)"},
      {D, 26, "list(w = structure .|Data"}, {D, 27, "list(w = structure(Data| = c(1)"},
      {D, 28, "list(w = structure(.| Data = c(1)"}, {D, 29, "list(w = structure(.Dat| = c(1)"},
      {D, 30, "list(w = structure(.Data = C|(1)"}, {D, 2, w6 + " .|Dim = c(2, 3)))"}, {D, 27, w6 + ", Dim| = c(2, 3)))"},
      {D, 31, w6 + ", .Dom| = c(2, 3)))"}, {D, 27, w6 + ", dim| = c(2, 3)))"}, {D, 32, w6 + ", .Dim = c(2, 3.0|)))"},
      {D, 32, w6 + ", .Dim = c(2, 3K|)))"}, {D, 33, w6 + ", .Dim = c(3|, 2)))"}, {D, 33, w6 + ", .Dim = c(2, 3, 1|)))"},
      {D, 2, w6 + ", .Dim = c(2, 3;|"},
      // R's own form needs every extent to know where each value goes.
      {D, 33, c6 + "dim = c(2)|))"}, {D, 33, c6 + "dim = 2:4|))"}, {D, 30, c6 + "dim = 2 3|))"}, {D, 27, c6 + "dims| = 2:3))"},
      {D, 31, c6 + ".Data| = 2:3))"}, {D, 0, c6 + "dim = 2:3, dimnames = list(NULL|"},
      {D, 24, "list(w = structure(c(1, 2, 3, 4, 5)|, dim = 2:3))"}, {D, 24, "list(\n  x = c(1,\n       2)|)\n"},
      // Initial values meet no node that holds a value.
      {V + "data in \"d.dat\"; inits in \"d.dat\";\n{ }", 22, "list(s = 0.5|)"},
      {R, 23, "1 2 3\n4 5 6\n7 +| 9\n"}, {R, 23, "1 2 3\n|"},  // the rectangular file ends early
  };
  for (auto [model, error, data] : cases) {
    std::string& text = data.find('|') != std::string::npos ? data : model;
    const size_t mark = text.find('|');
    if (mark != std::string::npos) text.erase(mark, 1);
    Reset();
    test::WriteFile("d.dat", data);
    Compile(model);
    const std::string log = Console(), shown = text.substr(0, 300);
    const size_t at = log.find(" -- error  -- \n");
    ASSERT_EQ(at != std::string::npos, error >= 0) << shown << "\n" << log;
    if (error < 0) continue;
    EXPECT_EQ(log.substr(at + 15, log.find('\n', at + 15) - at - 15), Errors_String(error)) << shown;
    int line = 0, column = 0;
    std::sscanf(log.c_str() + log.find(" at line "), " at line %d column %d", &line, &column);
    const size_t start = mark == 0 ? 0 : text.rfind('\n', mark - 1) + 1;
    EXPECT_EQ(line, 1 + std::count(text.begin(), text.begin() + mark, '\n')) << shown;
    EXPECT_EQ(column, mark - start + 1) << shown;
  }
}

// Constants, declared extents, data statements and operator precedence show in
// the scenario language_declarations_and_expressions.
}  // namespace
