#include "base/Write.h"

#include <gtest/gtest.h>

#include <string>

#include "base/TextFile.h"

namespace {

// The console's numbers: whole numbers left-justified, reals in scientific
// form with width minus seven digits after the point; neither is ever cut.
TEST(TextFileTest, NumbersTakeTheirWidthAndAreNeverCut) {
  const std::pair<std::string, std::string> cases[] = {
      {TextFile_IntText(7, 3), "7  "}, {TextFile_IntText(-12, 2), "-12"}, {TextFile_IntText(0, 0), "0"},
      {TextFile_IntText(INT64_MIN, 1), "-9223372036854775808"},
      {TextFile_RealText(12.5, 11), " 1.250E+1  "}, {TextFile_RealText(-2.5, 11), "-2.500E+0  "},
      {TextFile_RealText(0.0, 11), " 0.000E+0  "}, {TextFile_RealText(1.234e-300, 11), " 1.234E-300"},
      {TextFile_RealText(9.9996e5, 11), " 1.000E+6  "},  // rounding carries into the exponent
      {TextFile_RealText(1.5, 9), " 1.5     "}, {TextFile_RealText(3.14159265, 20), " 3.14159     "},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

}  // namespace
