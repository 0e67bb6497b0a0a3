// The two generic sorters behind the `sort` action: an unstable quicksort that takes advantage
// of presorted input, and a stable natural merge sort with the Powersort merge policy. Neither
// knows what a record is: the caller gives a base address, a record count, a record size in
// bytes, two values of its own and a comparison routine.
//
// The sorters work on raw memory and keep raw addresses into it for the whole call. A caller
// whose comparison routine may allocate (a user function, anything that can run the collector)
// must therefore not sort a series buffer in place, since the collector moves buffers: it sorts
// a stable copy (from the tracked heap, or an index array there) and writes the result back, or
// keeps the collector from moving the buffer for the span of the call.
//
// A comparison routine may raise (throw kov::Unwind). The sort then stops and the error passes
// on; the records are left partly sorted but are always a permutation of the input (no record
// lost or duplicated), and the merge sort's temporary buffer is freed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kov::buffer {

// Comparison routine: (record A, record B, caller value 1, caller value 2) -> below 0 when A
// goes before B, 0 when they are equal for sorting, above 0 when A goes after B.
using SortCompare = int (*)(const void* a, const void* b, intptr_t arg1, intptr_t arg2);

// Records at which the merge sort extends a short natural run by insertion.
constexpr uint32_t MERGE_MIN_RUN = 24;

// Unstable sort: presortedness scan, then quick_sort_core.
void quick_sort(void* base, uint32_t n, uint32_t w, intptr_t arg1, intptr_t arg2,
                SortCompare compare);

// The core quicksort, told that the first `sorted_front` records are already in order.
void quick_sort_core(void* base, uint32_t n, uint32_t w, intptr_t arg1, intptr_t arg2,
                     SortCompare compare, uint32_t sorted_front);

// Stable sort. Allocates one temporary buffer of (n / 2) x w bytes; raises the script error
// too-long when that size does not fit in 31 bits and the internal error no-memory when it
// cannot be allocated.
void merge_sort(void* base, uint32_t n, uint32_t w, intptr_t arg1, intptr_t arg2,
                SortCompare compare);

// Exchanges `bytes` bytes at a and b, four at a time (a count that is not a multiple of 4 ends
// with its last bytes one at a time), or one at a time when byte_wise is set.
void swap_records(void* a, void* b, uint32_t bytes, bool byte_wise);

// The end of the natural run that begins at start (records of w bytes up to end): the longest
// non-descending prefix, or, when the first pair is descending, the longest strictly descending
// prefix, which is reversed in place first.
uint8_t* find_run(uint8_t* start, uint8_t* end, uint32_t w, intptr_t arg1, intptr_t arg2,
                  SortCompare compare);

// Merges the adjacent runs [left, left + n1 records) and the n2 records after them, copying the
// shorter run into `temp` (room for min(n1, n2) records). Equal records keep their order.
void merge_runs(uint8_t* left, uint32_t n1, uint32_t n2, uint32_t w, uint8_t* temp, intptr_t arg1,
                intptr_t arg2, SortCompare compare);

}  // namespace kov::buffer
