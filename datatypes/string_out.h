// The one string operation form and mold need: appending text to the string!
// value they write into. The string module provides it; until it lands, the
// core's stand-in hands the text to `string::pending_sink`, which the tests
// set, and ends the program when nothing is set.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace string {

// Appends n bytes (each a code point 0-255) at the tail of the string! `value`.
void concatenate_bytes(cell* value, const char* bytes, uint32_t n);

// Where the stand-in sends the text (goes with the stand-in).
extern void (*pending_sink)(cell* value, const char* bytes, uint32_t n);

}  // namespace string
