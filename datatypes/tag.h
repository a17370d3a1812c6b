// tag!: text shown between angle brackets. A tag! cell is a string! cell
// (string.h) and every action but form and mold is the string! one.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace tag {

// "<", the text from the head, ">"; form and mold write the same.
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
// Pushes the string value as a tag! (the series is shared).
cell* push(const cell* text);

// Registers tag! (type 44, parent string!).
void register_type();

}  // namespace tag
