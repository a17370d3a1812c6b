// UTF-8 and UTF-16 at the Win32 edge: the layer's wide-character calls take
// what these make of the interface's UTF-8 text.
#pragma once
#include <string>

namespace platform {

// UTF-16 of NUL-terminated UTF-8 text (empty when it does not convert).
std::wstring widen(const char* s);
// UTF-8 of `units` UTF-16 units (-1: up to and without the NUL).
std::string narrow(const wchar_t* w, int units);

}  // namespace platform
