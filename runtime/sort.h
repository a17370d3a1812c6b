// In-place sorts over arrays of fixed-width raw records.
//
// An array is a start address, a count n and a width w in bytes; the records
// are opaque bytes (a block record is its cells, 16 bytes each). All meaning
// lies in the comparison callback, which receives the addresses of two records
// and the two context words the caller gave the sort (block sorting passes the
// compare op or comparator function and its record flags).
//
// Invariants the sorts keep:
// - Records move only by whole-record swaps or copies of w bytes; word-wise
//   when w is a multiple of 4, else byte-wise (decided once per sort).
// - Only `merge_sort` allocates: one tracked scratch block of w * (n / 2)
//   bytes, freed on every exit, also when the callback throws. A caller
//   whose records the collector must see while the callback runs gives
//   `merge_sort_with` scratch space it marks: part of each merge lives there.
// - The callback may throw (`sys::Throw`). The array is then left partly
//   sorted but still a permutation of its input: no record is lost or doubled,
//   also when the throw happens in the middle of a merge.
// - An inconsistent callback (one that is not a total order, or answers at
//   random) may give any order but never makes a sort touch memory outside the
//   array.
// - `qsort` recursion is O(log n) deep whatever the input: it recurses into
//   the smaller part and loops on the larger.
// - The sorts hold the array's raw address for their whole run. A caller whose
//   records live in a buffer the collector may move (a callback that
//   allocates) or that the callback may change must sort a stable copy.
#pragma once
#include <cstdint>

namespace sort {

// Negative when a sorts before b, 0 when they are equal, positive after.
using Compare = int32_t (*)(const void* a, const void* b, uintptr_t context1,
                            uintptr_t context2);

// Exchanges two records of w bytes, byte by byte when `bytewise` (w not a
// multiple of 4), else 32-bit word by word.
void swap(void* a, void* b, uint32_t w, bool bytewise);

// Adaptive quicksort, not stable: detects presorted (ascending or descending)
// input and grows a sorted prefix from it, then hands the rest to `quicksort`.
void qsort(void* start, uint32_t n, uint32_t w, uintptr_t context1, uintptr_t context2,
           Compare compare);

// Stable natural merge sort: equal records keep their input order.
void merge_sort(void* start, uint32_t n, uint32_t w, uintptr_t context1, uintptr_t context2,
                Compare compare);
// The same, merging through the caller's `scratch` of n / 2 records.
void merge_sort_with(void* start, uint32_t n, uint32_t w, uintptr_t context1, uintptr_t context2,
                     Compare compare, void* scratch);

// The core of `qsort`. `sample` > 0 says the first `sample` records are
// already sorted, `sample` < 0 says the last -`sample` are; 0 says nothing.
void quicksort(void* start, int32_t sample, uint32_t n, uint32_t w, uintptr_t context1,
               uintptr_t context2, Compare compare);

// The run finder of `merge_sort`: from record `from`, the longest
// non-descending or strictly descending run (reversed in place so it
// ascends), extended by insertion to at least min(from + 24, n) records.
// Returns the index just past the run.
uint32_t find_run(void* start, uint32_t from, uint32_t n, uint32_t w, uintptr_t context1,
                  uintptr_t context2, Compare compare);

// The run merger of `merge_sort`: merges the adjacent sorted runs
// [left, middle) and [middle, end) (record indexes) stably, through `buffer`,
// which must hold min(middle - left, end - middle) records.
void merge_runs(void* start, uint32_t left, uint32_t middle, uint32_t end, void* buffer,
                uint32_t w, uintptr_t context1, uintptr_t context2, Compare compare);

}  // namespace sort
