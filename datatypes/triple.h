// triple!: three signed 32-bit integers that the system only forms and molds.
//
// Cell: header 31, payload words 1, 2, 3 = the three integers.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace triple {

cell* make_at(cell* c, int32_t a, int32_t b, int32_t d);

int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);

// Registers triple! (type 31, no parent).
void register_type();

}  // namespace triple
