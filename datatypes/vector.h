// vector!: a packed series of numbers or characters of one element type and
// one element width, with element-wise arithmetic.
//
// A vector! cell is a series cell (series.h): word 1 the head index in
// elements, word 2 the series node, word 3 the element type (char!,
// integer!, float! or percent!). The buffer's unit is the element width in
// bytes: 1, 2 or 4 for char! and integer!, 4 or 8 for float! and percent!.
// One implementation serves every width: elements are read and written
// through `get_value`/`set_value`, which switch on the width; widths 1 and 2
// read back signed, width 4 of a float type is single precision, and a
// percent element holds the fraction (50% is 0.5).
//
// vector! inherits positioning, removal and the rest of the series actions
// from string!; series! and string! call `get_value`, `set_value`, `find`,
// `select`, `sort` and `take_one` for vectors.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace vector {

inline uint8_t element_type(const cell* v) { return (uint8_t)v->data3; }
// Whether the elements are doubles (float!, percent!).
inline bool is_float_type(uint8_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }

// --- Elements ------------------------------------------------------------------------

// The boxed element at `index` (counted from the buffer's start) in `out`.
cell* get_value(const cell* v, uint32_t index, cell* out);
// Writes a char!, integer!, float! or percent! value at `index`, converted to
// the element type (a float into an integer vector is truncated); another
// type raises invalid-type.
void set_value(cell* v, uint32_t index, const cell* value);
// Elements from the head.
int32_t rs_length(cell* v);
// A new vector of `count` zero elements of the type and width in `c`;
// a count below 0 raises out-of-range, a size past 2 GB no-memory.
cell* make_at(cell* c, uint8_t type, int32_t count, uint32_t width);
// Appends a value whose type is the element type (else invalid-arg).
void append_value(cell* v, const cell* value);
// A new pushed block of the boxed elements from the head.
cell* to_block(cell* v);

// --- Math ------------------------------------------------------------------------------

// Element-wise op (0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder,
// 5 or~, 6 and~, 7 xor~) between the window's two arguments, at least one a
// vector; the result replaces argument 0.
cell* do_math(int32_t op);
// The same for a vector and a scalar: the vector changes in place. When the
// vector is the window's argument 1 the scalar was the left operand.
cell* do_math_op(int32_t op, cell* vector, cell* scalar);

// --- Actions -------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* add();
cell* subtract();
cell* multiply();
cell* divide();
cell* remainder();
cell* do_and();
cell* do_or();
cell* do_xor();
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
// What the string! actions do for a vector.
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
cell* sort(cell* series, bool reverse);
// The one element a `take` without /part took (the series holds it alone).
cell* take_one(cell* series);

// Registers vector! (type 35, parent string!).
void register_type();

}  // namespace vector
