#include "language/Scanner.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace {

enum Position { callOnly, plainOnly, either };

struct Keyword {
  int32_t code;
  Position position;
};

std::unordered_map<std::string_view, Keyword> keywords;
std::string_view texts[Scanner_conv + 1];

void Add(std::string_view word, int32_t code, Position position) {
  keywords[word] = Keyword{code, position};
  texts[code] = word;
}

void Next(Scanner_Token& t) {
  char c;
  Files_Read(t.rider, c);
  t.ch = t.rider.eof ? Scanner_endOfFile : static_cast<unsigned char>(c);
}

bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// An exponent after a mantissa, from the "E" or "e" held ahead on: an optional
// sign and at least one digit, appended to digits in a form strtod reads.
// False when no digit follows; the offending character stays held ahead.
bool ReadExponent(Scanner_Token& t, std::string& digits) {
  Next(t);
  char sign = '+';
  if (t.ch == '+' || t.ch == '-') {
    sign = static_cast<char>(t.ch);
    Next(t);
  }
  if (!IsDigit(t.ch)) return false;
  // Every digit belongs to the exponent: a state file holds whatever the
  // samplers reached (a vague gamma draw of 3.9E-270), and no valid input
  // has a number directly after an exponent. Beyond any double's range
  // the count stops growing; strtod then gives 0 or infinity.
  int e = 0;
  while (IsDigit(t.ch)) {
    if (e < 100000) e = 10 * e + (t.ch - '0');
    Next(t);
  }
  digits += 'e';
  digits += sign;
  digits += std::to_string(e);
  return true;
}

// The fraction and exponent of a real literal; the point has been read. The
// characters are collected and converted in one step so that the value is the
// nearest double to the decimal written.
void ReadRealTail(Scanner_Token& t, std::string digits) {
  digits += '.';
  while (IsDigit(t.ch)) {
    digits += static_cast<char>(t.ch);
    Next(t);
  }
  if ((t.ch == 'E' || t.ch == 'e') && !ReadExponent(t, digits)) {
    t.kind = Scanner_invalid;
    return;
  }
  t.realValue = std::strtod(digits.c_str(), nullptr);
  t.kind = Scanner_real;
}

// Digits and an exponent without a point, as other programs write counts and
// sizes (1e5, 2E3, 1e+05) and small constants (1e-6). A whole value within
// the 32-bit range is an integer, so that update(1e4) and loop bounds accept
// it; anything else is real. A name never follows a number directly in a
// valid input, so reading the E as an exponent changes no valid meaning.
void ReadIntegerExponent(Scanner_Token& t, std::string digits) {
  if (!ReadExponent(t, digits)) {
    t.kind = Scanner_invalid;
    return;
  }
  const double value = std::strtod(digits.c_str(), nullptr);
  if (value <= INT32_MAX && value == std::floor(value)) {
    t.intValue = static_cast<int32_t>(value);
    t.kind = Scanner_integer;
  } else {
    t.realValue = value;
    t.kind = Scanner_real;
  }
}

void ReadNumber(Scanner_Token& t) {
  std::string digits;
  int64_t value = 0;
  bool overflow = false;
  while (IsDigit(t.ch)) {
    value = value * 10 + (t.ch - '0');
    if (value > INT32_MAX) {
      overflow = true;
      value = INT32_MAX;
    }
    digits += static_cast<char>(t.ch);
    Next(t);
  }
  if (t.ch == '.') {
    Next(t);
    ReadRealTail(t, digits);
  } else if (t.ch == 'E' || t.ch == 'e') {
    ReadIntegerExponent(t, digits);  // the digits go whole to strtod: no overflow
  } else if (overflow) {
    t.kind = Scanner_invalid;  // an integer literal must fit 32 bits
  } else {
    t.intValue = static_cast<int32_t>(value);
    t.kind = Scanner_integer;
  }
}

void ReadName(Scanner_Token& t) {
  t.text.clear();
  while ((IsLetter(t.ch) || IsDigit(t.ch) || t.ch == '.') && t.text.size() < Scanner_maxText) {
    t.text += static_cast<char>(t.ch);
    Next(t);
  }
  t.kind = Scanner_name;
  Scanner_Hash(t);
}

void ReadString(Scanner_Token& t) {
  int quote = t.ch;
  Next(t);
  t.text.clear();
  while (t.ch != quote) {
    if (t.ch == Scanner_endOfFile) {  // unterminated: nothing usable was written
      t.kind = Scanner_invalid;
      return;
    }
    if (t.text.size() == Scanner_maxText) break;  // this character stands for the closing quote
    t.text += static_cast<char>(t.ch);
    Next(t);
  }
  Next(t);
  t.kind = Scanner_string;
}

int32_t SingleCharacter(int c) {
  switch (c) {
    case ';': return Scanner_semicolon;
    case ',': return Scanner_comma;
    case ':': return Scanner_colon;
    case '[': return Scanner_lbrak;
    case ']': return Scanner_rbrak;
    case '(': return Scanner_lparen;
    case ')': return Scanner_rparen;
    case '{': return Scanner_lbrace;
    case '}': return Scanner_rbrace;
    case '=': return Scanner_equals;
    case '~': return Scanner_tilde;
    case '+': return Scanner_plus;
    case '-': return Scanner_minus;
    case '*': return Scanner_times;
    case '/': return Scanner_slash;
    default: return Scanner_invalid;
  }
}

}  // namespace

void InitScanner() {
  keywords.clear();
  for (auto& t : texts) t = {};
  const char* language[] = {"c",    "const", "data", "Data",      "Dim", "for", "in", "inits",
                            "iteration", "I", "list", "model", "NA", "seed", "structure", "var"};
  const Position languagePos[] = {callOnly, plainOnly, either,    plainOnly, plainOnly, either,
                                  plainOnly, either,   plainOnly, callOnly,  callOnly,  either,
                                  plainOnly, plainOnly, either,   either};
  for (int i = 0; i < 16; ++i) Add(language[i], Scanner_c + i, languagePos[i]);
  const char* functions[] = {"cloglog", "cos",  "equals", "exp",    "inprod", "inverse",
                             "log",     "logdet", "logfact", "loggam", "logit", "max",
                             "mean",    "min",  "phi",    "pow",    "probit", "sd",
                             "sin",     "sqrt", "step",   "sum"};
  for (int i = 0; i < 22; ++i) Add(functions[i], Scanner_cloglog + i, callOnly);
  const char* distributions[] = {"dbern",  "dbeta",  "dbin",  "dcauchy", "dchisq", "ddirch", "ddexp",
                                 "dexp",   "df",     "dgamma", "dgeom", "dgum",   "dhypo",  "dlogis",
                                 "dlnorm", "dcat",   "dmnorm", "dmulti", "dnegbin", "dnorm", "dpar",
                                 "dpois",  "dpow",   "dt",    "dunif",  "dweib",  "dwish",  "dzipf"};
  for (int i = 0; i < 28; ++i) Add(distributions[i], Scanner_dbern + i, callOnly);
  const char* commands[] = {"compile", "update", "monitor", "clear", "q",     "graph",     "iter",
                            "help",    "out",    "save",    "stats", "diag",  "checkpoint"};
  for (int i = 0; i < 13; ++i) Add(commands[i], Scanner_compile + i, callOnly);
  Add("functions", Scanner_functions, callOnly);
  Add("distributions", Scanner_distributions, callOnly);
  Add("conv", Scanner_conv, callOnly);
}

void Scanner_Open(Scanner_Token& token, const Files_Handle& handle, int64_t pos) {
  Files_Set(token.rider, handle, pos);
  Next(token);
}

void Scanner_Hash(Scanner_Token& token) {
  if (token.kind != Scanner_name) return;
  auto it = keywords.find(token.text);
  if (it == keywords.end()) return;
  bool call = token.ch == '(';
  Position p = it->second.position;
  if (p == either || (p == callOnly) == call) token.kind = it->second.code;
}

void Scanner_Get(Scanner_Token& t) {
  for (;;) {
    // Byte 26 once marked the end of a text file; it reads as a space.
    if (t.ch == ' ' || t.ch == '\t' || t.ch == '\n' || t.ch == '\r' || t.ch == 26) {
      Next(t);
    } else if (t.ch == '#') {
      while (t.ch != '\n' && t.ch != Scanner_endOfFile) Next(t);
      if (t.ch == '\n') Next(t);
    } else {
      break;
    }
  }
  int c = t.ch;
  if (IsLetter(c)) {
    ReadName(t);
  } else if (c == '"' || c == '\'') {
    ReadString(t);
  } else if (IsDigit(c)) {
    ReadNumber(t);
  } else if (c == '.') {
    Next(t);
    if (IsDigit(t.ch))
      ReadRealTail(t, "0");
    else
      t.kind = Scanner_period;
  } else if (c == '<') {
    Next(t);
    if (t.ch == '-') {
      Next(t);
      t.kind = Scanner_becomes;
    } else {
      t.kind = Scanner_invalid;
    }
  } else {
    t.kind = SingleCharacter(c);
    if (t.kind != Scanner_invalid) Next(t);  // anything else stays held ahead
  }
}

std::string_view Scanner_KeywordText(int32_t code) {
  if (code < 0 || code > Scanner_conv) return {};
  return texts[code];
}
