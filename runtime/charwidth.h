// Character display width: the terminal columns a code point takes.
//
// 0 for combining marks and other zero-width characters, 2 for East Asian
// wide and full-width characters, 1 otherwise; the `_wide` variant also
// counts East Asian ambiguous-width characters as 2, as terminals in an East
// Asian locale do. Control characters count one column.
//
// Data: three constant tables of inclusive [first, last] code point pairs,
// sorted and disjoint, each with its length counted in values (twice the
// ranges). They are generated with the case tables by
// scripts/gen-unicode-tables.py (runtime/charwidth_tables.cpp).
#pragma once
#include <cstdint>

namespace charwidth {

extern const uint32_t zero_width_ranges[];
extern const uint32_t zero_width_ranges_count;
extern const uint32_t wide_ranges[];
extern const uint32_t wide_ranges_count;
extern const uint32_t ambiguous_ranges[];
extern const uint32_t ambiguous_ranges_count;

// True when cp lies in one of the pairs of `table` (`count` values).
bool is_in_ranges(uint32_t cp, const uint32_t* table, uint32_t count);

int32_t code_point_width(uint32_t cp);
int32_t code_point_width_wide(uint32_t cp);

}  // namespace charwidth
