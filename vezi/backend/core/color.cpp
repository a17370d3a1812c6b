#include "vezi/backend/core/color.h"

#include "datatypes/tuple.h"

namespace gui {

uint32_t tuple_rgba(const uint8_t* bytes, int32_t count) {
    uint32_t rgba = (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16;
    if (count > 3) rgba |= (uint32_t)bytes[3] << 24;
    return rgba;
}

uint32_t tuple_rgba(const cell* t) { return tuple_rgba(tuple::bytes_of(t), tuple::count_of(t)); }

uint32_t to_color(uint32_t rgba) {
    uint32_t r = rgba & 0xFF, g = (rgba >> 8) & 0xFF, b = (rgba >> 16) & 0xFF, a = rgba >> 24;
    return (255 - a) << 24 | r << 16 | g << 8 | b;
}

uint32_t to_colorref(uint32_t rgba) {
    uint32_t c = to_color(rgba);
    return (c >> 24) == 255 ? (c & 0x00FFFFFF) | 0xFE000000 : c;
}

bool is_translucent_color(const cell* v) {
    return v->type() == TYPE_TUPLE && tuple::count_of(v) > 3 && tuple::bytes_of(v)[3] != 0;
}

D2DColor* to_d2d_color(uint32_t color, D2DColor* out) {
    static D2DColor shared;
    if (!out) out = &shared;
    out->r = (float)(color & 0xFF) / 255.0f;
    out->g = (float)((color >> 8) & 0xFF) / 255.0f;
    out->b = (float)((color >> 16) & 0xFF) / 255.0f;
    out->a = (float)(255 - (color >> 24)) / 255.0f;
    return out;
}

}  // namespace gui
