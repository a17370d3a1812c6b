// The lowest output layer: text of 1-, 2- or 4-byte units to standard output.
// Redirected output (and, for now, every output) is written as UTF-8; every
// printed text is also handed to the print hooks' text listeners.
#pragma once
#include <cstdint>

namespace console {
// Writes `bytes` bytes of `unit`-sized characters; with `crlf`, CR LF after.
// A unit other than 1, 2 or 4 is runtime error 101.
void write(const void* text, uint32_t bytes, uint32_t unit, bool crlf);
}  // namespace console

namespace print {
void c_string(const char* s);
void integer(int32_t v);
void hex(uint32_t v);
void hex_byte(uint8_t v);
void float64(double d);
void float32(float f);
void latin1(const uint8_t* s, uint32_t count);
void latin1_line(const uint8_t* s, uint32_t count);
void ucs2(const uint16_t* s, uint32_t count);
void ucs2_line(const uint16_t* s, uint32_t count);
void ucs4(const uint32_t* s, uint32_t count);
void ucs4_line(const uint32_t* s, uint32_t count);
}  // namespace print
