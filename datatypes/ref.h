// ref!: a reference written "@name". A ref! cell is a string! cell
// (string.h) holding the name without the "@"; form gives the bare name.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace ref {

// "@" and the text.
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* push(const cell* text);

// Registers ref! (type 50, parent string!).
void register_type();

}  // namespace ref
