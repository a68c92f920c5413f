#include "output/Sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using Sorter = void (*)(int32_t, Sort_Less, Sort_Swap);

// Sorts input through the callbacks on positions 1..n; counts comparisons
// and fails on any position outside 1..n.
std::vector<double> SortCopy(Sorter sort, const std::vector<double>& input, int64_t* comparisons = nullptr) {
  std::vector<double> v(input.size() + 1);
  std::copy(input.begin(), input.end(), v.begin() + 1);
  const int32_t n = static_cast<int32_t>(input.size());
  int64_t count = 0;
  bool outside = false;
  auto at = [&](int32_t i) -> double& {
    outside = outside || i < 1 || i > n;
    return v[static_cast<size_t>(std::clamp(i, 1, std::max(n, 1)))];
  };
  sort(n, [&](int32_t i, int32_t j) { return ++count, at(i) < at(j); }, [&](int32_t i, int32_t j) { std::swap(at(i), at(j)); });
  EXPECT_FALSE(outside) << "n = " << n;
  if (comparisons != nullptr) *comparisons = count;
  return std::vector<double>(v.begin() + 1, v.end());
}

// Both sorts agree with the standard sort on every shape of input; on one repeated value
// heap sort stays at n log n comparisons, first-element quicksort needs n^2 / 2.
TEST(SortTest, BothSortsAgreeWithTheStandardSortAndHeapSortStaysNLogNOnTies) {
  std::mt19937 random(7);
  std::vector<std::vector<double>> inputs = {{}, {3.0}, {2.0, 1.0}, {1.0, 2.0}};
  for (const int n : {3, 17, 1000}) {
    std::vector<double> mixed(n), ties(n), ascending(n), descending(n), equal(n, 0.5);
    for (int i = 0; i < n; ++i) mixed[i] = random() % 1000 - 500.5, ties[i] = random() % 5, ascending[i] = i, descending[i] = n - i;
    inputs.insert(inputs.end(), {mixed, ties, ascending, descending, equal});
  }
  for (const auto& input : inputs) {
    std::vector<double> expected = input;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SortCopy(&Sort_HeapSort, input), expected) << "heap, n = " << input.size();
    EXPECT_EQ(SortCopy(&Sort_QuickSort, input), expected) << "quick, n = " << input.size();
  }
  int64_t heap = 0, quick = 0;
  SortCopy(&Sort_HeapSort, inputs.back(), &heap);
  SortCopy(&Sort_QuickSort, inputs.back(), &quick);
  EXPECT_LT(heap, 3 * 1000 * std::log2(1000.0));
  EXPECT_GT(quick, 1000LL * 999 / 2 - 1000);
}

}  // namespace
