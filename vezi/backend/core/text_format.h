// What a DirectWrite text format is made from, read off a `font!` object's
// fields without the platform: the size in device-independent units, how
// much of the family name is used, the weight and the style; and the
// bounds of a text layout box.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

constexpr int32_t FONT_NAME_MAX = 31;  // characters of a family name used

struct TextFormatParams {
    float size;            // device-independent units (points x 96 / 72)
    int32_t name_chars;    // characters of `name` used; -1: the default name
    int32_t weight;        // 400 normal, 700 bold, up to 999
    bool italic;
};

// From a font's `name`, `size`, `style` and `weight` fields (cells of any
// type; a size below 1 or not an integer! takes default_points).
TextFormatParams text_format_params(cell* name, const cell* size, const cell* style,
                                    const cell* weight, int32_t default_points);

// The maximum extent of a layout box: extent + 0.5 when above 0, else the
// largest float (unbounded).
float layout_extent(double extent);

}  // namespace gui
