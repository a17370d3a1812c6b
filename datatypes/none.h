// none!: the explicit "no value". Header = the bare type id 3; no payload.
// False under the truth rule. The series actions that make sense on nothing
// (clear, find, remove, select, take, length?) accept none as an empty series
// and answer none.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace none {

// The shared read-only none value, filled by `register_type`.
extern cell none_cell;

void register_type();

// Writes none into a cell (bare header).
cell* make_at(cell* c);
// Sets the result slot of the current call to none and returns it.
cell* push_last();
// Pushes a new none value on the argument stack.
cell* push();

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);

// The series actions on none: all answer none (length? answers -1, which its
// dispatcher turns into none).
cell* clear(cell* series);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_of(cell* series);
cell* remove(cell* series, cell* part, cell* key);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
cell* take(cell* series, cell* part, bool deep, bool last);

}  // namespace none
