// percent!: a float! that reads and prints as a percentage.
//
// Cell: header 38, payload words 2-3 = the fraction as a double (50% is
// 0.5). percent! is float!'s child: everything but its text is float!'s.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace percent {

// Writes a bare percent! holding the fraction `x` into a cell.
cell* make_in(cell* c, double x);
// The same from the two payload words of the double (low half first).
cell* make_from(cell* c, uint32_t low, uint32_t high);
// Pushes a new percent! on the argument stack.
cell* push(double x);

int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);

// Registers percent! (type 38, parent float!).
void register_type();

}  // namespace percent
