// Text read back from native controls, made fit for a string!: the control's
// CR LF line breaks become LF, and half a surrogate pair (pasted or typed
// text can hold one) becomes U+FFFD.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

// In place; `*length` (UTF-16 units) is updated.
void clean_control_text(wchar_t* text, int32_t* length);
void clean_control_text(uint16_t* text, int32_t* length);

// Character positions against UTF-16 positions: `count` plus `step` for
// every character above U+FFFF among the `count` characters from `start`
// (from the string's head). Only strings of 4-byte units hold such
// characters; for the others, and for values that are not strings, `count`
// comes back unchanged.
int32_t count_wide_chars(const cell* string, int32_t start, int32_t count, int32_t step);

}  // namespace gui
