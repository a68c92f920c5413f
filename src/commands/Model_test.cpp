#include "commands/Model.h"

#include <gtest/gtest.h>

namespace {

TEST(ModelTest, ElapsedTimeIsTheDifferenceOfClockTimes) {
  EXPECT_EQ(Model_ElapsedText({10, 0, 0}, {10, 1, 7}), " 00:01:07 ");
  EXPECT_EQ(Model_ElapsedText({9, 59, 58}, {11, 0, 3}), " 01:00:05 ");
  EXPECT_EQ(Model_ElapsedText({23, 59, 50}, {0, 0, 10}), " 00:00:20 ");
  EXPECT_EQ(Model_ElapsedText({12, 0, 0}, {12, 0, 0}), " 00:00:00 ");
}

}  // namespace
