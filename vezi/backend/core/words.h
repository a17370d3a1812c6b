// The spellings the backend compares face and event values against, each
// interned once. `intern` runs at backend start (and in tests) before any
// lookup: interning allocates, lookups must not, because callers hold cell
// pointers into series buffers while they compare.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

struct Spelling {
    const char* text;
    int32_t sym;  // canonical symbol id, 0 until interned
};

// Enters a table into the list `intern_words` walks (at static start, via
// GUI_SPELLINGS).
void register_spellings(Spelling* table, int32_t n);
#define GUI_SPELLINGS(table) \
    static const bool table##_registered = \
        (::gui::register_spellings(table, (int32_t)(sizeof table / sizeof table[0])), true)

// Interns every table of the backend core; safe to call again.
void intern_words();

// Canonical symbol of any word-type cell, or 0 for other values.
int32_t word_symbol(const cell* value);

// Index of the value's word in the table, or -1 (not a word, or not listed).
int32_t find_word(const cell* value, const Spelling* table, int32_t n);

// Canonical id of one spelling interned by `intern_words`.
int32_t spelling_symbol(const char* text);

}  // namespace gui
