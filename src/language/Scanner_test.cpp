#include "language/Scanner.h"

#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

class ScannerTest : public test::ScratchDir {
 protected:
  // Scans text to the first invalid token and returns every token.
  std::vector<Scanner_Token> Scan(const std::string& text) {
    InitScanner();
    test::WriteFile("in.txt", text);
    Scanner_Token t;
    Scanner_Open(t, Files_Old("in.txt"), 0);
    std::vector<Scanner_Token> tokens;
    do { Scanner_Get(t); tokens.push_back(t); } while (t.kind != Scanner_invalid && tokens.size() < 100);
    return tokens;
  }
};

// Call-only words are keywords only right before "(", plain ones only
// elsewhere, and some either way; comparison is case-sensitive.
TEST_F(ScannerTest, WhetherAWordIsAKeywordMayDependOnAParenthesisAfterIt) {
  enum { callOnly, plainOnly, both };
  const std::vector<std::pair<const char*, int32_t>> forms[] = {
      {{"c", Scanner_c}, {"I", Scanner_I}, {"list", Scanner_list}, {"cloglog", Scanner_cloglog}, {"sum", Scanner_sum},
       {"dbern", Scanner_dbern}, {"dzipf", Scanner_dzipf}, {"compile", Scanner_compile}, {"q", Scanner_q},
       {"checkpoint", Scanner_checkpoint}, {"functions", Scanner_functions}, {"distributions", Scanner_distributions}},
      {{"const", Scanner_const}, {"Data", Scanner_Data}, {"Dim", Scanner_Dim}, {"in", Scanner_in},
       {"iteration", Scanner_iteration}, {"NA", Scanner_NA}, {"seed", Scanner_seed}, {"Dnorm", Scanner_name}},
      {{"data", Scanner_data}, {"for", Scanner_for}, {"inits", Scanner_inits}, {"model", Scanner_model},
       {"structure", Scanner_structure}, {"var", Scanner_var}},
  };
  for (int form : {callOnly, plainOnly, both})
    for (const auto& [word, code] : forms[form])
      for (const char* after : {"(", " (", ";"})
        EXPECT_EQ(Scan(word + std::string(after))[0].kind,
                  (*after == '(' ? form == plainOnly : form == callOnly) ? Scanner_name : code) << word << after;
  EXPECT_EQ(Scanner_KeywordText(Scanner_dnorm), "dnorm");
  EXPECT_EQ(Scanner_KeywordText(Scanner_semicolon), "");
}

// Each row: text, then the kind and the value or text of its leading tokens.
// The model files of the scenarios hold every other token; these are the near misses.
struct Expected {
  int32_t kind;
  double value = 0.0;     // integers and reals
  std::string text = "";  // names and strings
};

TEST_F(ScannerTest, NumbersNamesStringsAndNearMisses) {
  const int32_t I = Scanner_integer, R = Scanner_real, N = Scanner_name, S = Scanner_string, X = Scanner_invalid;
  const double inf = std::numeric_limits<double>::infinity();
  std::string letters;
  for (int i = 0; i < 85; ++i) letters += static_cast<char>('a' + i % 26);
  const std::pair<std::string, std::vector<Expected>> rows[] = {
      {"< -", {{X}}}, {"x . y", {{N, 0, "x"}, {Scanner_period}, {N, 0, "y"}, {X}}}, {"", {{X}}},
      // Comments run to the line end; one at the end of the file ends the scan.
      {"# a comment\n\t x # another\r\n;", {{N, 0, "x"}, {Scanner_semicolon}, {X}}}, {"x # last", {{N, 0, "x"}, {X}}},
      {"42 1.0E-6) .5E+1) 2. 1.5e2", {{I, 42}, {R, 1.0E-6}, {Scanner_rparen}, {R, 5}, {Scanner_rparen}, {R, 2}, {R, 150}}},
      {"0.3 0.1 .5 .5E-2", {{R, 0.3}, {R, 0.1}, {R, 0.5}, {R, 0.005}}},  // converted exactly
      // Every exponent digit counts: a saved state holds what the samplers reached.
      {"1.0E100 3.5E-270 1.7E+104 2.0e-0007", {{R, 1.0E100}, {R, 3.5E-270}, {R, 1.7E+104}, {R, 2.0E-7}}},
      {"1.0E9999 1.0E-9999", {{R, inf}, {R, 0.0}}},  // beyond any double: its limits
      // An exponent without a point: whole values within 32 bits are integers.
      {"1e5 2E3 1e+05 1e0 0e7 150e-1 2147483647e0",
       {{I, 100000}, {I, 2000}, {I, 100000}, {I, 1}, {I, 0}, {I, 15}, {I, 2147483647}}},
      {"1e-3 1e-6) 15e-1 2147483648e0 1e10", {{R, 1e-3}, {R, 1e-6}, {Scanner_rparen}, {R, 1.5}, {R, 2147483648.0}, {R, 1e10}}},
      {"30000000000e-4 1e0007 1e999", {{I, 3000000}, {I, 10000000}, {R, inf}}},
      {"1E5x 0x10", {{I, 100000}, {N, 0, "x"}, {I, 0}, {N, 0, "x10"}}},  // the caller refuses a name after a number
      {"1.5.3 50L", {{R, 1.5}, {R, 0.3}, {I, 50}, {N, 0, "L"}}},
      {"e1 E5x e", {{N, 0, "e1"}, {N, 0, "E5x"}, {N, 0, "e"}}},  // a letter still starts a name
      {"2e)", {{X}}}, {"2E+ ", {{X}}}, {"1.0E+)", {{X}}},  // an exponent without digits
      {"2.x", {{R, 2}, {N, 0, "x"}}}, {"2147483647 ", {{I, 2147483647}}}, {"2147483648", {{X}}},
      {"99999999999999999999999", {{X}}}, {"12345678901.5", {{R, 12345678901.5}}},
      {"x.y x_y", {{N, 0, "x.y"}, {N, 0, "x"}, {X}}},  // points but no underscores
      {std::string(85, 'a'), {{N, 0, std::string(79, 'a')}, {N, 0, std::string(6, 'a')}}},  // split at 79
      {"\"model.txt\" 'it''s' \"\"", {{S, 0, "model.txt"}, {S, 0, "it"}, {S, 0, "s"}, {S, 0, ""}}},
      {"\"a\nb\"", {{S, 0, "a\nb"}}},  // line ends inside a string are kept
      // 79 characters kept, the 80th dropped, scanning goes on with the 81st.
      {"\"" + letters + "\"", {{S, 0, letters.substr(0, 79)}, {N, 0, letters.substr(80)}}}, {"\"abc", {{X}}},
  };
  for (const auto& [text, expected] : rows) {
    const auto t = Scan(text);
    ASSERT_GE(t.size(), expected.size()) << text;
    for (size_t i = 0; i < expected.size(); ++i) {
      const Expected& e = expected[i];
      EXPECT_EQ(t[i].kind, e.kind) << text << " #" << i;
      if (e.kind == I) { EXPECT_EQ(t[i].intValue, e.value) << text << " #" << i; }
      if (e.kind == R) { EXPECT_EQ(t[i].realValue, e.value) << text << " #" << i; }
      if (e.kind == N || e.kind == S) { EXPECT_EQ(t[i].text, e.text) << text << " #" << i; }
    }
  }
}

// The position counts the character held ahead of the token, the end of file
// too; a character that begins no token ("_" included) stays held ahead.
TEST_F(ScannerTest, TheCharacterAfterATokenIsHeldAhead) {
  auto t = Scan("abc def");
  EXPECT_EQ((std::vector{t[0].rider.pos, t[1].rider.pos}), (std::vector<int64_t>{4, 8}));
  for (const char* s : {"!", "$", "%", "&", ">", "?", "@", "\\", "^", "_", "`", "|", "\x01", "\x80"}) {
    t = Scan(s);
    const int64_t pos = t[0].rider.pos;
    Scanner_Get(t[0]);
    EXPECT_TRUE(t.size() == 1 && t[0].kind == Scanner_invalid && t[0].rider.pos == pos) << s;
  }
}

}  // namespace
