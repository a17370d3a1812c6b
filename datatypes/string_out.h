// The one string operation form and mold need: appending text to the string!
// value they write into. The string module provides it; until it lands, the
// core carries a placeholder that ends the program, and tests supply their
// own (tests/datatypes/string_out_stub.cpp).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace string {

// Appends n bytes (each a code point 0-255) at the tail of the string! `value`.
void concatenate_bytes(cell* value, const char* bytes, uint32_t n);

}  // namespace string
