// pair!: a two-dimensional integer coordinate or size (10x20).
//
// Cell: header 37, payload word 2 = x, word 3 = y (signed 32-bit); word 1
// is not read. Arithmetic never wraps: an operation whose integer result
// leaves 32 bits, and multiplying or dividing by a float, gives a point2D!.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace pair {

inline int32_t x_of(const cell* c) { return (int32_t)c->data2; }
inline int32_t y_of(const cell* c) { return (int32_t)c->data3; }
// Writes a bare pair! into a cell.
cell* make_at(cell* c, int32_t x, int32_t y);
// The same into a frame slot (kept for the loaders' naming).
inline cell* make_in(cell* c, int32_t x, int32_t y) { return make_at(c, x, y); }
// Pushes a new pair! on the argument stack.
cell* push(int32_t x, int32_t y);

// Math op codes of integer::MathOp (0-7): window argument 0 (a pair!, the
// result slot) op argument 1.
cell* do_math(int32_t op);

// --- Actions ------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* absolute();
cell* add();
cell* divide();
cell* multiply();
cell* negate(cell* value);  // in place
cell* remainder();
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
cell* subtract();
cell* and_();
cell* or_();
cell* xor_();
cell* pick(cell* value, int32_t index, cell* index_cell);
cell* reverse(cell* value, cell* part, cell* skip);

// Registers pair! (type 37, no parent).
void register_type();

}  // namespace pair
