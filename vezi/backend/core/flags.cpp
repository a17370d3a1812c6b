#include "vezi/backend/core/flags.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "vezi/backend/core/words.h"

namespace gui {

// --- face flags -------------------------------------------------------------------

static Spelling face_flag_words[] = {
    {"all-over", 0},   {"focusable", 0},  {"tri-state", 0}, {"scrollable", 0},
    {"password", 0},   {"no-sync", 0},    {"fullscreen", 0}, {"popup", 0},
    {"modal", 0},      {"resize", 0},     {"no-buttons", 0}, {"no-max", 0},
    {"no-min", 0},     {"no-title", 0},   {"no-border", 0}};
GUI_SPELLINGS(face_flag_words);
static const uint32_t face_flag_values[] = {
    0x1,     0x2,      0x20000,  0x40000,  0x80000,  0x100000,   0x200000,  0x1000000,
    0x2000000, 0x4000000, 0x8000000, 0x10000000, 0x20000000, 0x40000000, 0x80000000};
constexpr int32_t FACE_FLAGS = sizeof face_flag_values / sizeof face_flag_values[0];
static_assert(sizeof face_flag_words / sizeof face_flag_words[0] == FACE_FLAGS);

static uint32_t flag_of(const cell* v) {
    int32_t i = find_word(v, face_flag_words, FACE_FLAGS);
    return i < 0 ? 0 : face_flag_values[i];
}

uint32_t get_flags(const cell* facet) {
    if (facet->type() == TYPE_BLOCK) {
        uint32_t bits = 0;
        int32_t n = block::length_of(facet);
        const cell* head = block::head_cell(const_cast<cell*>(facet));
        for (int32_t i = 0; i < n; i++) bits |= flag_of(head + i);
        return bits;
    }
    return flag_of(facet);
}

uint32_t face_flag_bit(const char* spelling) {
    for (int32_t i = 0; i < FACE_FLAGS; i++)
        if (strcmp(face_flag_words[i].text, spelling) == 0) return face_flag_values[i];
    return 0;
}

// --- event flags ------------------------------------------------------------------

int32_t event_flag_words(uint32_t flags, const char* out[8]) {
    static const struct {
        uint32_t bit;
        const char* word;
    } order[] = {{FLAG_AWAY, "away"},         {FLAG_DOWN, "down"},       {FLAG_MID_DOWN, "mid-down"},
                 {FLAG_ALT_DOWN, "alt-down"}, {FLAG_AUX_DOWN, "aux-down"}, {FLAG_CONTROL, "control"},
                 {FLAG_SHIFT, "shift"},       {FLAG_ALT, "alt"}};
    int32_t n = 0;
    for (const auto& o : order)
        if (flags & o.bit) out[n++] = o.word;
    return n;
}

uint32_t mouse_key_flags(uint32_t w) {
    uint32_t f = 0;
    if (w & MK_LEFT) f |= FLAG_DOWN;
    if (w & MK_RIGHT) f |= FLAG_ALT_DOWN;
    if (w & MK_MIDDLE) f |= FLAG_MID_DOWN;
    if (w & (MK_X1 | MK_X2)) f |= FLAG_AUX_DOWN;
    if (w & MK_CONTROL_KEY) f |= FLAG_CONTROL;
    if (w & MK_SHIFT_KEY) f |= FLAG_SHIFT;
    return f;
}

uint32_t modifier_flags(const KeyState& k, bool keys_only) {
    uint32_t f = 0;
    if (k.control) f |= FLAG_CONTROL;
    if (k.shift) f |= FLAG_SHIFT;
    if (k.alt) f |= FLAG_ALT;
    if (!keys_only) {
        if (k.left) f |= FLAG_DOWN;
        if (k.right) f |= FLAG_ALT_DOWN;
        if (k.middle) f |= FLAG_MID_DOWN;
        if (k.x1) f |= FLAG_AUX_DOWN;
    }
    return f;
}

uint32_t current_flags(int32_t override_flags, const KeyState& keys) {
    return override_flags >= 0 ? (uint32_t)override_flags : modifier_flags(keys, false);
}

// --- para ---------------------------------------------------------------------------

static Spelling kind_words[] = {{"base", 0},  {"rich-text", 0}, {"button", 0}, {"toggle", 0},
                                {"check", 0}, {"radio", 0},     {"field", 0},  {"area", 0},
                                {"text", 0}};
GUI_SPELLINGS(kind_words);
static const ParaKind kind_of_word[] = {ParaKind::base,   ParaKind::rich_text, ParaKind::button,
                                        ParaKind::button, ParaKind::check,     ParaKind::check,
                                        ParaKind::edit,   ParaKind::edit,      ParaKind::text};

static Spelling align_words[] = {{"left", 0}, {"center", 0}, {"right", 0}};
static Spelling v_align_words[] = {{"top", 0}, {"middle", 0}, {"bottom", 0}};
GUI_SPELLINGS(align_words);
GUI_SPELLINGS(v_align_words);

ParaKind para_kind(const cell* type_word) {
    int32_t i = find_word(type_word, kind_words, sizeof kind_words / sizeof kind_words[0]);
    return i < 0 ? ParaKind::other : kind_of_word[i];
}

namespace {
struct ParaRow {
    uint32_t h[3], v[3], default_h, default_v, wrap_on, wrap_off;
};
const ParaRow para_rows[] = {
    /* base */ {{0, 1, 2}, {0, 4, 8}, 1, 4, 0x10, 0},
    /* rich-text */ {{0, 1, 2}, {0, 4, 8}, 0, 0, 0x10, 0},
    /* button, toggle */ {{0x100, 0x300, 0x200}, {0x400, 0xC00, 0x800}, 0x300, 0xC00, 0, 0},
    /* check, radio */ {{0x100, 0x300, 0x200}, {0x400, 0xC00, 0x800}, 0x100, 0xC00, 0, 0},
    /* field, area */ {{0, 1, 2}, {0, 0x200, 0}, 0, 0, 0, 0xC0},
    /* text */ {{0, 1, 2}, {0, 0x200, 0}, 0, 0, 0, 0x4000},
    /* other */ {{0, 0, 0}, {0, 0, 0}, 0, 0, 0, 0}};
}  // namespace

uint32_t para_flags(ParaKind kind, const cell* align, const cell* v_align, const cell* wrap) {
    const ParaRow& row = para_rows[(int)kind];
    // Wrapping is off only for an explicit false.
    bool wrap_on = !(wrap->type() == TYPE_LOGIC && wrap->data1 == 0);
    uint32_t flags = wrap_on ? row.wrap_on : row.wrap_off;
    int32_t h = find_word(align, align_words, 3);
    int32_t v = find_word(v_align, v_align_words, 3);
    flags += h < 0 ? row.default_h : row.h[h];
    flags += v < 0 ? row.default_v : row.v[v];
    return flags;
}

// --- numbers --------------------------------------------------------------------------

double fraction(const cell* v) {
    double x;
    switch (v->type()) {
        case TYPE_INTEGER: x = integer::get(v); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: x = cell::get_float(v); break;
        default: return -1.0;
    }
    return x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x;
}

}  // namespace gui
