#include "output/Sort.h"

namespace {

// Moves the element at i down the heap 1..n until neither child is larger.
void SiftDown(int32_t i, int32_t n, Sort_Less less, Sort_Swap swap) {
  while (i <= n / 2) {  // i has at least one child, 2i <= n
    int32_t child = 2 * i;
    if (child < n && less(child, child + 1)) ++child;
    if (!less(i, child)) return;
    swap(i, child);
    i = child;
  }
}

// Sorts [lo, hi] with element lo as pivot. The partition puts everything not
// greater than the pivot to its left and the rest to its right; the smaller
// side is sorted by recursion, the larger one by the loop.
void QuickSortRange(int32_t lo, int32_t hi, Sort_Less less, Sort_Swap swap) {
  while (lo < hi) {
    int32_t i = lo + 1;
    int32_t j = hi;
    while (i <= j) {
      while (i <= j && !less(lo, i)) ++i;
      while (i <= j && less(lo, j)) --j;
      if (i <= j) {
        swap(i, j);
        ++i;
        --j;
      }
    }
    if (j != lo) swap(j, lo);
    // The pivot now stands at j: [lo, j - 1] and [j + 1, hi] remain.
    if (2 * static_cast<int64_t>(j) <= static_cast<int64_t>(lo) + hi) {
      QuickSortRange(lo, j - 1, less, swap);
      lo = j + 1;
    } else {
      QuickSortRange(j + 1, hi, less, swap);
      hi = j - 1;
    }
  }
}

}  // namespace

void InitSort() {}

void Sort_HeapSort(int32_t n, Sort_Less less, Sort_Swap swap) {
  if (n < 2) return;
  for (int32_t i = n / 2; i >= 1; --i) SiftDown(i, n, less, swap);
  for (int32_t k = n; k >= 2; --k) {
    swap(1, k);
    // The heap is now 1..k - 1 with a stray element at its root. Taking it
    // straight down the path of larger children to a leaf and then back up
    // costs fewer comparisons than sifting down, because a stray element
    // taken from the bottom of the heap usually belongs near the bottom.
    const int32_t m = k - 1;
    int32_t i = 1;
    while (i <= m / 2) {
      int32_t child = 2 * i;
      if (child < m && less(child, child + 1)) ++child;
      swap(i, child);
      i = child;
    }
    while (i > 1 && less(i / 2, i)) {
      swap(i / 2, i);
      i /= 2;
    }
  }
}

void Sort_QuickSort(int32_t n, Sort_Less less, Sort_Swap swap) { QuickSortRange(1, n, less, swap); }
