// logic!: true and false. Header = the bare type id 4; payload word 1 holds
// 0 (false) or 1 (true).
//
// The truth rule every condition uses: a value is false when it is none! or
// logic! false; every other value (unset!, 0 and empty series included) is
// true.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace logic {

// The shared read-only true and false values, filled by `register_type`.
extern cell true_cell;
extern cell false_cell;

void register_type();

// The truth rule.
inline bool is_truthy(const cell* c) {
    return !(c->type() == TYPE_NONE || (c->type() == TYPE_LOGIC && c->data1 == 0));
}

// Writes a logic! holding b into a cell (bare header).
cell* make_at(cell* c, bool b);
// Sets the result slot of the current call to a logic! holding b.
cell* box(bool b);
// Pushes a new logic! value on the argument stack.
cell* push(bool b);
// Payload word 1 of a logic! cell.
inline uint32_t get(const cell* c) { return c->data1; }

// Truth tests.
// The result slot: 1 true, 0 false; unset raises script error no-return.
int32_t check_last();
// 1 when the result slot is false, else 0 (unset counts as true).
int32_t is_top_false();
// Whether the last pushed cell is true / false (unset counts as true).
int32_t is_true();
int32_t is_false();
// 1 when the cell is true, else 0; unset raises script error no-value with
// `argument` when `check` is set, and counts as true otherwise.
int32_t check_arg(const cell* c, bool check, const cell* argument);

// Actions.
cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* complement(cell* value);
// and~, or~, xor~ of the window's two arguments, left in the first.
cell* and_();
cell* or_();
cell* xor_();

}  // namespace logic
