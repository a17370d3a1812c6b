#include "vezi/backend/core/text_format.h"

#include <cfloat>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "vezi/backend/core/words.h"

namespace gui {

static Spelling style_words[] = {{"bold", 0}, {"italic", 0}};
GUI_SPELLINGS(style_words);

// Applies one value of `style`; values other than the two words are ignored.
static void apply_style(const cell* v, TextFormatParams& p) {
    switch (find_word(v, style_words, 2)) {
        case 0: p.weight = 700; break;
        case 1: p.italic = true; break;
        default: break;
    }
}

TextFormatParams text_format_params(cell* name, const cell* size, const cell* style,
                                    const cell* weight, int32_t default_points) {
    TextFormatParams p{0, -1, 400, false};
    int32_t points = size->type() == TYPE_INTEGER && integer::get(size) >= 1 ? integer::get(size)
                                                                            : default_points;
    p.size = (float)(points * 96.0 / 72.0);
    if (name->type() == TYPE_STRING) {
        int32_t n = series::length_of(name);
        p.name_chars = n < 0 ? 0 : n > FONT_NAME_MAX ? FONT_NAME_MAX : n;
    }
    if (style->type() == TYPE_BLOCK) {
        int32_t n = block::length_of(style);
        const cell* head = block::head_cell(const_cast<cell*>(style));
        for (int32_t i = 0; i < n; i++) apply_style(head + i, p);
    } else {
        apply_style(style, p);
    }
    if (weight->type() == TYPE_INTEGER && integer::get(weight) > 0)
        p.weight = integer::get(weight) > 999 ? 999 : integer::get(weight);
    return p;
}

float layout_extent(double extent) { return extent > 0 ? (float)(extent + 0.5) : FLT_MAX; }

}  // namespace gui
