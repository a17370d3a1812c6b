// Colour conversions shared by every drawing and widget path.
//
// A Zol colour is a tuple!: its bytes are R, G, B and, when present, a
// transparency byte (0 opaque). The backend passes it around as one 32-bit
// "rgba" word with the first component in the low byte. Windows and
// Direct2D want other layouts: to_color gives 0xAARRGGBB with opacity in the
// top byte, to_d2d_color four floats.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

// The first four bytes of a tuple (first component lowest); a 3-byte tuple
// gives only its low 24 bits (transparency 0).
uint32_t tuple_rgba(const uint8_t* bytes, int32_t count);
uint32_t tuple_rgba(const cell* tuple);

// 0xAARRGGBB with A = 255 - transparency.
uint32_t to_color(uint32_t rgba);
// to_color, with a top byte of 255 lowered to 254.
uint32_t to_colorref(uint32_t rgba);

// True for a tuple! of more than 3 bytes whose fourth byte is not 0; false
// for every other value.
bool is_translucent_color(const cell* value);

struct D2DColor {
    float r, g, b, a;
};
// A Zol colour word (R in bits 0-7 ... transparency in 24-31) as Direct2D
// floats; written into `out`, or into one shared record when out is null.
D2DColor* to_d2d_color(uint32_t color, D2DColor* out);

}  // namespace gui
