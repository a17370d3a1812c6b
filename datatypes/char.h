// char!: one Unicode code point.
//
// Cell: header 10, payload word 2 = the code point. char! registers with
// integer! as its parent: the layout is the integer's, and random, absolute,
// even? and odd? are integer!'s own entries.
//
// Invariant: this type's own actions only ever store 0 .. 0x10FFFF; an
// arithmetic result outside it raises math overflow and a conversion from a
// number outside it raises script out-of-range.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace char_ {

constexpr int32_t MAX_CODE_POINT = 0x10FFFF;

inline int32_t get(const cell* c) { return (int32_t)c->data2; }
// Writes a bare char! cp into a cell.
cell* make_at(cell* c, int32_t cp);
// Pushes a new char! on the argument stack.
cell* push(int32_t cp);

// The body of the math actions (integer::MathOp codes): window argument 0
// (the char!, the result slot) op argument 1; the result is a char! again.
cell* do_math(int32_t op);

// Appends the escaped form of cp that mold writes between #" and " (or, for
// strings, between the quotes): ^- ^/ ^" ^^ ^~, ^@ .. ^_ for controls, and
// ^(hex) for 0x1E, 0x80-0x9F and, with `all`, everything above 0x7F.
// Returns the characters appended.
int32_t mold_escape(cell* out, int32_t cp, bool all);

// Actions.
cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* add();
cell* divide();
cell* multiply();
cell* remainder();
cell* subtract();
cell* and_();
cell* or_();
cell* xor_();

// Registers char! (type 10, parent integer!); after the word types.
void register_type();

}  // namespace char_
