// Sort: two in-place sorts of a sequence the caller holds, seen only through
// two callbacks on positions 1..n: less(i, j) says whether element i comes
// before element j, swap(i, j) exchanges them. Both leave positions 1..n in
// ascending order.
//
// Heap sort takes n log n steps whatever the input. Quicksort is faster on
// well-mixed input, but with its first element as pivot it takes n^2 / 2
// comparisons on input that is already in order or that holds long runs of
// one value; callers with such input (discrete traces) should use heap sort.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

// A reference to a callable that the caller keeps alive for the call: no
// allocation and one indirect call per use, which matters at a million
// elements.
template <class Signature>
class Sort_Ref;

template <class R, class... Args>
class Sort_Ref<R(Args...)> {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Sort_Ref>>>
  Sort_Ref(F&& f)  // not explicit: a lambda passes straight in
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* o, Args... a) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<Args>(a)...);
        }) {}

  R operator()(Args... a) const { return call_(object_, std::forward<Args>(a)...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

using Sort_Less = Sort_Ref<bool(int32_t, int32_t)>;
using Sort_Swap = Sort_Ref<void(int32_t, int32_t)>;

// Sort keeps no state; present so that start-up treats every module alike.
void InitSort();

// Nothing happens for n < 2.
void Sort_HeapSort(int32_t n, Sort_Less less, Sort_Swap swap);
// Recurses only into the smaller part, so the stack stays O(log n) deep.
void Sort_QuickSort(int32_t n, Sort_Less less, Sort_Swap swap);
