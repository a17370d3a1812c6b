// email!: an address as bare text. An email! cell is a string! cell
// (string.h); besides its mold it answers the path words `user` (the text
// before the first "@") and `host` (the text after it).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace email {

// The bare text, without quotes or escapes.
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
cell* push(const cell* text);

// Registers email! (type 45, parent string!).
void register_type();

}  // namespace email
