#include "base/TextFile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/Params.h"

bool TextFile_visible = false;

namespace {

bool Echo() { return TextFile_visible && !Params_backGround; }

}  // namespace

void TextFile_Write(Files_Rider& rider, char ch) {
  Files_Write(rider, ch);
  if (Echo()) std::fputc(static_cast<unsigned char>(ch), stdout);
}

void TextFile_WriteString(Files_Rider& rider, std::string_view s) {
  for (char ch : s) {
    if (ch == '\0') break;
    TextFile_Write(rider, ch);
  }
}

void TextFile_WriteLine(Files_Rider& rider) {
  Files_Write(rider, '\n');
  if (Echo()) std::fputc('\n', stdout);
}

std::string TextFile_IntText(int64_t n, int width) {
  std::string s = std::to_string(n);
  if (static_cast<int>(s.size()) < width) s.append(width - s.size(), ' ');
  return s;
}

void TextFile_WriteInt(Files_Rider& rider, int64_t n, int width) {
  TextFile_WriteString(rider, TextFile_IntText(n, width));
}

std::string TextFile_RealText(double x, int width) {
  int digits = width - 7;
  if (digits < 2) digits = 2;
  if (digits > 6) digits = 6;
  std::string s = std::signbit(x) && x != 0.0 ? "-" : " ";
  double a = std::fabs(x);
  if (std::isnan(x)) {
    s = " NaN";
  } else if (std::isinf(a)) {
    s += "Inf";
  } else {
    // printf rounds to the requested digits and carries into the exponent.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, a);
    std::string text(buf);
    size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    int exponent = std::atoi(text.c_str() + e + 1);
    if (exponent != 0) {
      mantissa += exponent > 0 ? "E+" : "E-";
      mantissa += std::to_string(std::abs(exponent));
    }
    if (mantissa.size() == 5) mantissa += "E+0";
    s += mantissa;
  }
  size_t field = static_cast<size_t>(digits + 7);
  if (s.size() < field) s.append(field - s.size(), ' ');
  return s;
}

void TextFile_WriteLongReal(Files_Rider& rider, double x, int width) {
  TextFile_WriteString(rider, TextFile_RealText(x, width));
}

void TextFile_FlushTerminal() { std::fflush(stdout); }
