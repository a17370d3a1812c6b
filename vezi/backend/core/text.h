// Text read back from native controls, made fit for a string!: the control's
// CR LF line breaks become LF, and half a surrogate pair (pasted or typed
// text can hold one) becomes U+FFFD.
#pragma once
#include <cstdint>

namespace gui {

// In place; `*length` (UTF-16 units) is updated.
void clean_control_text(wchar_t* text, int32_t* length);
void clean_control_text(uint16_t* text, int32_t* length);

}  // namespace gui
