#include "vezi/backend/core/facets.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "vezi/backend/core/styles.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/text_format.h"
#include "vezi/backend/core/words.h"

namespace gui {

RateAction rate_interval(const cell* rate, uint32_t* ms) {
    switch (rate->type()) {
    case TYPE_NONE: return RateAction::kill;
    case TYPE_INTEGER: {
        int32_t n = integer::get(rate);
        if (n < 1) return RateAction::invalid;
        *ms = (uint32_t)(1000 / n);
        return RateAction::set;
    }
    case TYPE_TIME: {
        double t = time_::get(rate);
        if (!(t > 0.0)) return RateAction::invalid;
        *ms = (uint32_t)(t * 1000.0);
        return RateAction::set;
    }
    default: return RateAction::invalid;
    }
}

// --- options ---------------------------------------------------------------------------

static Spelling option_words[] = {{"accelerated", 0}, {"hint", 0}, {"tabs", 0}, {"cursor", 0}};
GUI_SPELLINGS(option_words);

static bool is_key_type(uint8_t t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD;
}

const cell* option_value(const cell* options, const char* key) {
    if (options->type() != TYPE_BLOCK) return nullptr;
    int32_t sym = spelling_symbol(key);
    int32_t n = block::length_of(const_cast<cell*>(options));
    const cell* head = block::head_cell(const_cast<cell*>(options));
    for (int32_t i = 0; i < n; i++) {
        if (is_key_type(head[i].type()) && word_symbol(&head[i]) == sym)
            return i + 1 < n ? &head[i + 1] : nullptr;
    }
    return nullptr;
}

int32_t next_option_pair(const cell* options, const char* key, int32_t from) {
    if (options->type() != TYPE_BLOCK) return -1;
    int32_t sym = spelling_symbol(key);
    int32_t n = block::length_of(const_cast<cell*>(options));
    const cell* head = block::head_cell(const_cast<cell*>(options));
    for (int32_t i = from; i + 1 < n; i += 2)
        if (is_key_type(head[i].type()) && word_symbol(&head[i]) == sym) return i + 1;
    return -1;
}

bool option_accelerated(const cell* options) {
    const cell* v = option_value(options, "accelerated");
    return v && v->type() == TYPE_LOGIC && logic::get(v);
}

// --- cursor ------------------------------------------------------------------------------

static Spelling cursor_words[] = {{"I-beam", 0}, {"hand", 0}, {"cross", 0}, {"resize-ns", 0},
                                  {"resize-ew", 0}, {"resize-we", 0}};
GUI_SPELLINGS(cursor_words);

Cursor cursor_of(const cell* w) {
    static const Cursor kinds[] = {Cursor::ibeam, Cursor::hand, Cursor::cross, Cursor::size_ns,
                                   Cursor::size_we, Cursor::size_we};
    int32_t i = find_word(w, cursor_words, 6);
    return i < 0 ? Cursor::arrow : kinds[i];
}

// --- edit selections -------------------------------------------------------------------------

void convert_selection(const cell* text, int32_t* start, int32_t* end, int32_t direction) {
    if (text->type() != TYPE_STRING) return;
    int32_t n = series::length_of(const_cast<cell*>(text));
    uint32_t head = text->data1 > 0 ? (uint32_t)text->data1 : 0;  // char_at counts from the buffer
    if (direction >= 1) {
        // Line feeds before a position, counted within the text.
        auto lfs_before = [&](int32_t pos) {
            int32_t count = 0, stop = pos < n ? pos : n;
            for (int32_t i = 0; i < stop; i++)
                if (string::char_at(text, head + (uint32_t)i) == '\n') count++;
            return count;
        };
        int32_t s = *start, e = *end;
        *start = s + lfs_before(s);
        *end = e + lfs_before(e);
        return;
    }
    for (int32_t i = 0; i < n; i++) {
        if (string::char_at(text, head + (uint32_t)i) != '\n') continue;
        if (i >= *end) break;
        (*end)--;
        if (i < *start) (*start)--;
    }
}

// --- rich-text layout ------------------------------------------------------------------------

static Spelling layout_words[] = {{"handles", 0}};
GUI_SPELLINGS(layout_words);

// handles: [layout render-record text-copy invalid?]
constexpr int32_t HANDLES_INVALID = 3;

void mark_layout_needed(cell* face) {
    if (face->type() != TYPE_OBJECT || object::word_count(face) <= FACET_TYPE) return;
    if (face_type(object::values(face) + FACET_TYPE) != FaceType::rich_text) return;
    int32_t n = object::word_count(face);
    for (int32_t i = 0; i < n; i++) {
        if (word_symbol(object::word_at_node(object::context_of(face), i)) != layout_words[0].sym) continue;
        cell* handles = object::values(face) + i;
        if (handles->type() == TYPE_BLOCK && block::length_of(handles) > HANDLES_INVALID)
            logic::make_at(block::head_cell(handles) + HANDLES_INVALID, true);
        return;
    }
}

// --- fonts ---------------------------------------------------------------------------------------

static Spelling font_style_words[] = {{"bold", 0}, {"italic", 0}, {"underline", 0}, {"strike", 0},
                                      {"ClearType", 0}};
GUI_SPELLINGS(font_style_words);

static void apply_font_style(const cell* v, GdiFont& f) {
    switch (find_word(v, font_style_words, 4)) {
    case 0: f.weight = 700; break;
    case 1: f.italic = true; break;
    case 2: f.underline = true; break;
    case 3: f.strike = true; break;
    default: break;
    }
}

GdiFont gdi_font(const cell* font, int32_t dpi, int32_t default_points) {
    GdiFont f{};
    f.name_units = -1;
    const cell* v = object::values(font);
    const cell& size = v[FONT_SIZE];
    int32_t points = size.type() == TYPE_INTEGER && integer::get(&size) > 0 ? integer::get(&size)
                                                                           : default_points;
    f.height = -(int32_t)((int64_t)points * dpi / 72);
    if (v[FONT_ANGLE].type() == TYPE_INTEGER) f.orientation = integer::get(&v[FONT_ANGLE]) * 10;
    const cell& aa = v[FONT_ANTI_ALIAS];
    if (aa.type() == TYPE_LOGIC) f.quality = logic::get(&aa) ? 4 : 0;
    else if (find_word(&aa, font_style_words + 4, 1) == 0) f.quality = 5;
    const cell& name = v[FONT_NAME];
    if (name.type() == TYPE_STRING) {
        int32_t n = series::length_of(const_cast<cell*>(&name)), units = 0;
        uint32_t head = name.data1 > 0 ? (uint32_t)name.data1 : 0;
        for (int32_t i = 0; i < n && units < FONT_NAME_MAX; i++) {
            int32_t cp = string::char_at(&name, head + (uint32_t)i);
            if (cp >= 0x10000) {
                if (units + 2 > FONT_NAME_MAX) break;
                cp -= 0x10000;
                f.name[units++] = (uint16_t)(0xD800 + (cp >> 10));
                f.name[units++] = (uint16_t)(0xDC00 + (cp & 0x3FF));
            } else {
                f.name[units++] = (uint16_t)cp;
            }
        }
        f.name[units] = 0;
        f.name_units = units;
    }
    const cell& style = v[FONT_STYLE];
    if (style.type() == TYPE_BLOCK) {
        int32_t n = block::length_of(const_cast<cell*>(&style));
        const cell* head = block::head_cell(const_cast<cell*>(&style));
        for (int32_t i = 0; i < n; i++) apply_font_style(head + i, f);
    } else {
        apply_font_style(&style, f);
    }
    f.weight_given = font_weight(font, 0) > 0;
    f.weight = font_weight(font, f.weight);
    return f;
}

bool font_field_remakes(int32_t field) {
    return field == FONT_NAME || field == FONT_SIZE || field == FONT_STYLE || field == FONT_WEIGHT ||
           field == FONT_ANGLE || field == FONT_ANTI_ALIAS;
}

int32_t font_weight(const cell* font, int32_t fallback) {
    const cell& w = object::values(font)[FONT_WEIGHT];
    if (w.type() != TYPE_INTEGER || integer::get(&w) <= 0) return fallback;
    return integer::get(&w) > 999 ? 999 : integer::get(&w);
}

void set_font_weight(cell* font, int32_t weight) {
    if (weight <= 0 || weight == 400 || weight == 700) return;
    integer::make_at(object::values(font) + FONT_WEIGHT, weight);
}

// --- points ------------------------------------------------------------------------------

void point_from_pair(cell* c) {
    if (c->type() == TYPE_PAIR) point2D::make_in(c, (float)pair::x_of(c), (float)pair::y_of(c));
}

// Toward zero; out of range (or not a number) would be undefined in C++,
// so those end at the nearest bound (0 for not a number).
static int32_t truncated(float f) {
    if (!(f == f)) return 0;
    if (f >= 2147483647.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return (int32_t)f;
}

void pair_from_point(cell* c) {
    if (c->type() == TYPE_POINT2D)
        pair::make_at(c, truncated(point2D::component(c, 0)), truncated(point2D::component(c, 1)));
}

}  // namespace gui
