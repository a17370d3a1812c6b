// unset!: the value of nothing (a word without a value, a block that produced
// nothing). Header = the bare type id 2; no payload. It is true under the
// truth rule and forms as the empty text.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace unset {

// The shared read-only unset value, filled by `register_type`.
extern cell unset_cell;

void register_type();

// Writes unset into a cell (bare header).
cell* make_at(cell* c);
// Sets the result slot of the current call to unset and returns it.
cell* push_last();
// Pushes a new unset value on the argument stack.
cell* push();

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);

}  // namespace unset
