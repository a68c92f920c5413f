#include "base/TextFile.h"

#include "TestSupport.h"

namespace {

TEST(TextFileTest, IntegersAreLeftJustifiedAndNeverCut) {
  EXPECT_EQ(TextFile_IntText(7, 3), "7  ");
  EXPECT_EQ(TextFile_IntText(-12, 2), "-12");
  EXPECT_EQ(TextFile_IntText(12345, 2), "12345");
  EXPECT_EQ(TextFile_IntText(0, 0), "0");
  EXPECT_EQ(TextFile_IntText(INT64_MIN, 1), "-9223372036854775808");
}

TEST(TextFileTest, RealsInScientificFormWithWidthMinusSevenDigits) {
  EXPECT_EQ(TextFile_RealText(12.5, 11), " 1.250E+1  ");
  EXPECT_EQ(TextFile_RealText(-2.5, 11), "-2.500E+0  ");
  EXPECT_EQ(TextFile_RealText(0.0, 11), " 0.000E+0  ");
  EXPECT_EQ(TextFile_RealText(1.234e-300, 11), " 1.234E-300");
  EXPECT_EQ(TextFile_RealText(9.9996e5, 11), " 1.000E+6  ");  // rounding carries into the exponent
  EXPECT_EQ(TextFile_RealText(1.5, 9), " 1.5     ");
  EXPECT_EQ(TextFile_RealText(3.14159265, 20), " 3.14159     ");
}

class WriteTest : public test::ScratchDir {};

TEST_F(WriteTest, BackgroundConsoleWritesOnlyToTheLog) {
  StartConsole();
  testing::internal::CaptureStdout();
  Write_String("ab");
  Write_Char('c');
  Write_Int(42, 4);
  Write_Ln();
  Write_LongReal(12.5, 11);
  EXPECT_EQ(Write_Pos(), 19);
  Write_Flush();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Console(), "abc42  \n 1.250E+1  ");
}

TEST_F(WriteTest, InteractiveConsoleEchoesOnlyConsoleWrites) {
  const char* argv[] = {"wren", "20", "t"};
  InitParams(3, argv);
  InitWrite();
  testing::internal::CaptureStdout();
  Write_String("shown\n");
  TextFile_WriteString(Write_log, "logged");  // as a command line is logged: the terminal has it
  Write_Flush();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown\n");
  EXPECT_EQ(Console(), "shown\nlogged");
}

}  // namespace
