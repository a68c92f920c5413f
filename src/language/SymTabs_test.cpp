#include "language/SymTabs.h"

#include <gtest/gtest.h>

namespace {

class SymTabsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitSymTabs();
    SymTabs_StoreName({.name = "a", .numIndices = 2, .lastNode = 5, .dims = {3, 2, 0}});  // a[2,3]
    SymTabs_StoreName({.name = "b", .firstNode = 6, .lastNode = 6});
  }
  static std::string Label(int32_t node) {
    SymTabs_Name label;
    return SymTabs_LookUpLabel(node, label) ? SymTabs_LabelText(label) : "none";
  }
};

TEST_F(SymTabsTest, LabelsFollowRowMajorOrder) {
  EXPECT_EQ(Label(2), "a[1,3]");
  EXPECT_EQ(Label(4), "a[2,2]");
  EXPECT_EQ(Label(6), "b");
  EXPECT_EQ(Label(7), "none");
  SymTabs_StoreName(
      {.name = "c", .numIndices = 3, .firstNode = 7, .lastNode = 30, .dims = {4, 3, 2}});
  EXPECT_EQ(Label(21), "c[2,1,3]");
  EXPECT_EQ(Label(30), "c[2,3,4]");
  EXPECT_EQ(Label(31), "none");
}

TEST_F(SymTabsTest, LoopCountersHoldNoNodes) {
  SymTabs_StoreName({.kind = SymTabs_counter, .name = "i", .firstNode = 1, .lastNode = 10});
  EXPECT_EQ(Label(4), "a[2,2]");
  EXPECT_EQ(Label(8), "none");
}

TEST_F(SymTabsTest, LaterNamesHideEarlierOnes) {
  EXPECT_EQ(SymTabs_FindName("zz"), nullptr);
  SymTabs_StoreName({.kind = SymTabs_constant, .name = "a", .value = 2.0});
  EXPECT_EQ(SymTabs_FindName("a")->kind, SymTabs_constant);
  SymTabs_RemoveName();
  EXPECT_EQ(SymTabs_FindName("a")->numIndices, 2);
}

}  // namespace
