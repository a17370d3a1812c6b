// Case folding: one code point to one code point, no locale.
//
// Every case-insensitive operation (string comparison and search, hashing of
// words and map keys, the symbol table, char! comparison) folds through here,
// and `uppercase`/`lowercase` change text with it. A character whose Unicode
// case mapping is several characters maps to the first of them (U+00DF
// upper-cases to U+0053, U+0130 lower-cases to U+0069), so the upper and the
// lower mapping are not inverses of each other.
//
// Data: two tables of 65,536 entries, one per BMP code point, holding the
// other-case code point or 0 for "maps to itself" (tracked memory, filled once
// by `init` before any word is interned). No BMP code point maps outside the
// BMP. Above U+FFFF the mapping is read from the generated runs directly.
// The runs come from scripts/gen-unicode-tables.py (runtime/case_tables.cpp).
//
// The module is `case` in the system's naming; `case` is a C++ keyword, hence
// the trailing underscore.
#pragma once
#include <cstdint>

namespace case_ {

// Every `stride`-th code point from `first` to `last` maps to itself + delta.
struct CaseRun {
    uint32_t first;
    uint32_t last;
    uint32_t stride;
    int32_t delta;
};

// Generated tables: runs sorted by `first`, the BMP runs before the others.
extern const CaseRun upper_runs[];
extern const uint32_t upper_run_count, upper_bmp_run_count;
extern const CaseRun lower_runs[];
extern const uint32_t lower_run_count, lower_bmp_run_count;

// The BMP tables (null before `init`).
extern uint32_t* upper_table;
extern uint32_t* lower_table;

// Allocates and fills the two BMP tables. Start-up step 13.
void init();

// Mapping of a code point above U+FFFF (or any value outside the BMP: those
// without a mapping come back unchanged).
int32_t fold_astral(int32_t cp, bool upper);

// Upper case (upper = true) or lower case of a code point; one without a
// mapping comes back unchanged.
inline int32_t fold(int32_t cp, bool upper) {
    if ((uint32_t)cp <= 0xFFFF) {
        uint32_t m = (upper ? upper_table : lower_table)[cp];
        return m ? (int32_t)m : cp;
    }
    return fold_astral(cp, upper);
}

inline int32_t to_upper(int32_t cp) { return fold(cp, true); }

// The upper case when it differs from the code point, else the lower case.
int32_t swap(int32_t cp);

// Folds `count` units of `width` bytes (1, 2 or 4; another is runtime error
// 101) in place, from the first, and stops before the first unit whose folded
// code point does not fit the width (U+00FF upper-cases to U+0178). Returns
// how many units were folded: `count` when all were. The string layer widens
// its buffer, stores that code point and goes on after it; this is the loop
// of `uppercase` and `lowercase`.
uint32_t fold_units(void* units, uint32_t width, uint32_t count, bool upper);

}  // namespace case_
