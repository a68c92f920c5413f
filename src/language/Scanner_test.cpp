#include "language/Scanner.h"

#include <vector>

#include "TestSupport.h"

namespace {

class ScannerTest : public test::ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    InitScanner();
  }

  // Scans text to the first invalid token and returns every token.
  std::vector<Scanner_Token> Scan(const std::string& text) {
    test::WriteFile("in.txt", text);
    handle_ = Files_Old("in.txt");
    Scanner_Token t;
    Scanner_Open(t, handle_, 0);
    std::vector<Scanner_Token> tokens;
    do {
      Scanner_Get(t);
      tokens.push_back(t);
    } while (t.kind != Scanner_invalid && tokens.size() < 100);
    return tokens;
  }

  std::vector<int32_t> Kinds(const std::string& text) {
    std::vector<int32_t> kinds;
    for (const auto& t : Scan(text)) kinds.push_back(t.kind);
    return kinds;
  }

  Files_Handle handle_;
};

using K = std::vector<int32_t>;

TEST_F(ScannerTest, CallOnlyWordsAreKeywordsOnlyBeforeAParenthesis) {
  for (const char* word : {"c", "I", "list", "cloglog", "sum", "dbern", "dzipf", "compile",
                           "checkpoint", "q", "functions", "distributions"}) {
    std::string w = word;
    auto call = Kinds(w + "(");
    EXPECT_GE(call[0], Scanner_c) << w;
    EXPECT_EQ(Kinds(w + " (")[0], Scanner_name) << w;
    EXPECT_EQ(Kinds(w + ";")[0], Scanner_name) << w;
  }
}

TEST_F(ScannerTest, PlainOnlyWordsAreNamesBeforeAParenthesis) {
  const std::pair<const char*, int32_t> words[] = {
      {"const", Scanner_const}, {"Data", Scanner_Data}, {"Dim", Scanner_Dim},   {"in", Scanner_in},
      {"iteration", Scanner_iteration}, {"NA", Scanner_NA}, {"seed", Scanner_seed}};
  for (auto [word, code] : words) {
    std::string w = word;
    EXPECT_EQ(Kinds(w + " ")[0], code) << w;
    EXPECT_EQ(Kinds(w + "(")[0], Scanner_name) << w;
  }
}

TEST_F(ScannerTest, WordsRecognisedInBothPositions) {
  const std::pair<const char*, int32_t> words[] = {
      {"data", Scanner_data},   {"for", Scanner_for},           {"inits", Scanner_inits},
      {"model", Scanner_model}, {"structure", Scanner_structure}, {"var", Scanner_var}};
  for (auto [word, code] : words) {
    std::string w = word;
    EXPECT_EQ(Kinds(w + "(")[0], code) << w;
    EXPECT_EQ(Kinds(w + " (")[0], code) << w;
    EXPECT_EQ(Kinds(w)[0], code) << w;
  }
}

TEST_F(ScannerTest, KeywordCodesFollowTheTable) {
  EXPECT_EQ(Kinds("dnorm(0, 1)"), (K{79, 11, 3, 6, 3, 12, -1}));
  EXPECT_EQ(Kinds("dnorm (0, 1)")[0], 1);
  EXPECT_EQ(Kinds("cloglog(")[0], 38);
  EXPECT_EQ(Kinds("sum(")[0], 59);
  EXPECT_EQ(Kinds("dzipf(")[0], 87);
  EXPECT_EQ(Kinds("compile(")[0], 88);
  EXPECT_EQ(Kinds("checkpoint(")[0], 100);
  EXPECT_EQ(Kinds("functions(")[0], 101);
  EXPECT_NE(Kinds("distributions(")[0], Kinds("checkpoint(")[0]);
  EXPECT_EQ(Kinds("Dnorm(")[0], Scanner_name);  // comparison is case-sensitive
  EXPECT_EQ(Scanner_KeywordText(Scanner_dnorm), "dnorm");
  EXPECT_EQ(Scanner_KeywordText(Scanner_semicolon), "");
}

TEST_F(ScannerTest, PunctuationAndOperators) {
  EXPECT_EQ(Kinds(";,:[](){}=~+-*/"),
            (K{5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19, 20, 21, -1}));
  EXPECT_EQ(Kinds("<-"), (K{16, -1}));
  EXPECT_EQ(Kinds("< -"), (K{-1}));
  EXPECT_EQ(Kinds("x . y"), (K{1, 8, 1, -1}));
}

TEST_F(ScannerTest, NumbersAndExponents) {
  auto t = Scan("42 1.0E-6) .5E+1) 2. 1.5e2");
  EXPECT_EQ(t[0].kind, Scanner_integer);
  EXPECT_EQ(t[0].intValue, 42);
  EXPECT_EQ(t[1].kind, Scanner_real);
  EXPECT_DOUBLE_EQ(t[1].realValue, 1.0E-6);
  EXPECT_EQ(t[2].kind, Scanner_rparen);
  EXPECT_DOUBLE_EQ(t[3].realValue, 5.0);
  EXPECT_EQ(t[4].kind, Scanner_rparen);
  EXPECT_EQ(t[5].kind, Scanner_real);
  EXPECT_DOUBLE_EQ(t[5].realValue, 2.0);
  EXPECT_DOUBLE_EQ(t[6].realValue, 150.0);
}

TEST_F(ScannerTest, DecimalFractionsAreConvertedExactly) {
  EXPECT_EQ(Scan("0.3")[0].realValue, 0.3);
  EXPECT_EQ(Scan("0.1")[0].realValue, 0.1);
  EXPECT_EQ(Scan(".5")[0].realValue, 0.5);
  EXPECT_EQ(Scan(".5E-2")[0].realValue, 0.005);
}

TEST_F(ScannerTest, ExponentQuirks) {
  // A third exponent digit starts a new token.
  auto t = Scan("1.0E100");
  EXPECT_EQ(t[0].kind, Scanner_real);
  EXPECT_DOUBLE_EQ(t[0].realValue, 1.0E10);
  EXPECT_EQ(t[1].kind, Scanner_integer);
  EXPECT_EQ(t[1].intValue, 0);
  // An E after an integer without a point is a name.
  t = Scan("1E5");
  EXPECT_EQ(t[0].kind, Scanner_integer);
  EXPECT_EQ(t[1].kind, Scanner_name);
  EXPECT_EQ(t[1].text, "E5");
  // An exponent without digits is invalid.
  EXPECT_EQ(Kinds("1.0E+)")[0], Scanner_invalid);
  // 2.x is the real 2.0 and then the name x.
  t = Scan("2.x");
  EXPECT_DOUBLE_EQ(t[0].realValue, 2.0);
  EXPECT_EQ(t[1].kind, Scanner_name);
  EXPECT_EQ(t[1].text, "x");
}

TEST_F(ScannerTest, IntegerOverflowIsInvalidButLargeRealsAreNot) {
  auto t = Scan("2147483647 ");
  EXPECT_EQ(t[0].kind, Scanner_integer);
  EXPECT_EQ(t[0].intValue, 2147483647);
  EXPECT_EQ(Kinds("2147483648")[0], Scanner_invalid);
  EXPECT_EQ(Kinds("99999999999999999999999")[0], Scanner_invalid);
  t = Scan("12345678901.5");
  EXPECT_EQ(t[0].kind, Scanner_real);
  EXPECT_DOUBLE_EQ(t[0].realValue, 12345678901.5);
}

TEST_F(ScannerTest, NamesMayHoldPointsButNotUnderscores) {
  auto t = Scan("x.y x_y");
  EXPECT_EQ(t[0].kind, Scanner_name);
  EXPECT_EQ(t[0].text, "x.y");
  EXPECT_EQ(t[1].text, "x");
  EXPECT_EQ(t[2].kind, Scanner_invalid);
  EXPECT_EQ(t[2].rider.pos, t[1].rider.pos);  // "_" is not consumed
}

TEST_F(ScannerTest, LongNamesAreSplitAt79Characters) {
  std::string name(85, 'a');
  auto t = Scan(name);
  EXPECT_EQ(t[0].text, std::string(79, 'a'));
  EXPECT_EQ(t[1].kind, Scanner_name);
  EXPECT_EQ(t[1].text, std::string(6, 'a'));
}

TEST_F(ScannerTest, Strings) {
  auto t = Scan("\"model.txt\" 'it''s' \"\"");
  EXPECT_EQ(t[0].kind, Scanner_string);
  EXPECT_EQ(t[0].text, "model.txt");
  EXPECT_EQ(t[1].text, "it");
  EXPECT_EQ(t[2].text, "s");
  EXPECT_EQ(t[3].kind, Scanner_string);
  EXPECT_EQ(t[3].text, "");
  // Line ends inside a string are kept.
  EXPECT_EQ(Scan("\"a\nb\"")[0].text, "a\nb");
}

TEST_F(ScannerTest, LongStringsKeep79CharactersAndDropThe80th) {
  std::string body;
  for (int i = 0; i < 85; ++i) body += static_cast<char>('a' + i % 26);
  auto t = Scan("\"" + body + "\"");
  EXPECT_EQ(t[0].kind, Scanner_string);
  EXPECT_EQ(t[0].text, body.substr(0, 79));
  EXPECT_EQ(t[1].kind, Scanner_name);  // scanning goes on with the 81st character
  EXPECT_EQ(t[1].text, body.substr(80));
}

TEST_F(ScannerTest, UnterminatedStringIsInvalid) {
  EXPECT_EQ(Kinds("\"abc"), (K{-1}));
}

TEST_F(ScannerTest, CommentsAndWhiteSpace) {
  EXPECT_EQ(Kinds("# a comment\n\t x # another\r\n;"), (K{1, 5, -1}));
  // A comment at the end of a file without a line feed ends the scan.
  EXPECT_EQ(Kinds("x # last"), (K{1, -1}));
  EXPECT_EQ(Kinds(""), (K{-1}));
}

TEST_F(ScannerTest, InvalidCharactersStayHeldAhead) {
  for (const char* s : {"!", "$", "%", "&", ">", "?", "@", "\\", "^", "_", "`", "|", "\x01", "\x80"}) {
    test::WriteFile("in.txt", s);
    Files_Handle h = Files_Old("in.txt");
    Scanner_Token t;
    Scanner_Open(t, h, 0);
    Scanner_Get(t);
    EXPECT_EQ(t.kind, Scanner_invalid) << s;
    int64_t pos = t.rider.pos;
    Scanner_Get(t);
    EXPECT_EQ(t.kind, Scanner_invalid) << s;
    EXPECT_EQ(t.rider.pos, pos) << s;
  }
}

TEST_F(ScannerTest, PositionCountsTheCharacterHeldAhead) {
  auto t = Scan("abc def");
  EXPECT_EQ(t[0].rider.pos, 4);  // "abc" and the space after it
  EXPECT_EQ(t[0].ch, ' ');
  EXPECT_EQ(t[1].rider.pos, 8);  // the end of file counts as read too
}

TEST_F(ScannerTest, HashRecognisesAWordWrittenWithoutACall) {
  auto t = Scan("logit)");
  ASSERT_EQ(t[0].kind, Scanner_name);
  Scanner_Token word = t[0];
  word.ch = '(';
  Scanner_Hash(word);
  EXPECT_EQ(word.kind, Scanner_logit);
  EXPECT_DOUBLE_EQ(TenL(3), 1000.0);
  EXPECT_DOUBLE_EQ(TenL(-2), 0.01);
  EXPECT_DOUBLE_EQ(TenL(0), 1.0);
}

}  // namespace
