#include "vezi/backend/core/styles.h"

#include "datatypes/tuple.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/core/words.h"

namespace gui {

namespace {

Spelling type_words[] = {
    {"screen", 0}, {"window", 0}, {"button", 0}, {"toggle", 0}, {"check", 0}, {"radio", 0},
    {"field", 0}, {"area", 0}, {"text", 0}, {"text-list", 0}, {"progress", 0}, {"slider", 0},
    {"drop-down", 0}, {"drop-list", 0}, {"image", 0}, {"base", 0}, {"panel", 0}, {"tab-panel", 0},
    {"group-box", 0}, {"camera", 0}, {"caret", 0}, {"scroller", 0}, {"rich-text", 0}, {"calendar", 0},
};
GUI_SPELLINGS(type_words);
static_assert(sizeof type_words / sizeof type_words[0] == (int)FaceType::unknown, "face types");

bool has(uint32_t flags, const char* word) { return (flags & face_flag_bit(word)) != 0; }

// The border of edits and lists: a client edge unless `no-border`.
uint32_t border(uint32_t flags) { return has(flags, "no-border") ? 0 : ws::EX_CLIENTEDGE; }

void window_style(const StyleInput& in, StyleOutput& out) {
    uint32_t f = in.flags;
    uint32_t s = ws::CLIPCHILDREN | ws::CAPTION;
    if (!has(f, "no-min")) s |= ws::MINIMIZEBOX;
    if (!has(f, "no-max")) s |= ws::MAXIMIZEBOX;
    if (!has(f, "no-buttons")) s |= ws::SYSMENU;
    if (has(f, "popup")) out.ex_style |= ws::EX_TOOLWINDOW;
    if (has(f, "resize")) s |= ws::THICKFRAME;
    else s &= ~ws::MAXIMIZEBOX;
    if (in.menu) s |= ws::SYSMENU;
    if (has(f, "no-title")) s = ws::POPUP | ws::BORDER;
    if (has(f, "no-border")) {
        s = ws::POPUP;
        if (in.translucent) {
            out.ex_style |= ws::EX_LAYERED;
            out.layered = true;
        } else {
            out.ex_style |= accelerated_style(in.accelerated, in.windows_8);
        }
    }
    out.style = s;
    if (out.width < 0) out.width = 200;
    if (out.height < 0) out.height = 200;
}

// panel, group-box, base and rich-text.
void layered_handling(const StyleInput& in, StyleOutput& out, bool base) {
    if (in.parent_layered) {
        out.ex_style |= ws::EX_LAYERED;
        out.layered = true;
    } else if (base && in.transparent) {
        out.layered = true;
        if (in.windows_8) {
            out.ex_style |= ws::EX_LAYERED;
        } else {
            out.ex_style |= ws::EX_LAYERED | ws::EX_TOOLWINDOW;
            out.style = ws::POPUP | (out.style & ~(ws::CHILD | ws::CLIPSIBLINGS));
        }
    } else if (base) {
        out.ex_style |= accelerated_style(in.accelerated, in.windows_8);
        out.layered = (out.ex_style & ws::EX_LAYERED) != 0;
    }
    if (!out.layered && in.pre_vista) out.ex_style |= ws::EX_COMPOSITED;
}

}  // namespace

FaceType face_type(const cell* type_word) {
    int32_t i = find_word(type_word, type_words, (int32_t)FaceType::unknown);
    return i < 0 ? FaceType::unknown : (FaceType)i;
}

uint32_t accelerated_style(bool accelerated, bool windows_8) {
    if (!accelerated) return 0;
    return windows_8 ? ws::EX_LAYERED : ws::EX_LAYERED | ws::EX_TOOLWINDOW;
}

bool is_transparent_color(const cell* color) {
    if (color->type() != TYPE_TUPLE) return true;
    int32_t n = tuple::count_of(color);
    if (n == 3) return false;
    return !(n == 4 && tuple::bytes_of(color)[3] == 0);
}

StyleOutput face_style(const StyleInput& in) {
    StyleOutput out;
    out.known = true;
    out.width = in.width;
    out.height = in.height;
    const uint32_t f = in.flags;
    const bool tall = in.height > in.width;
    if (in.type == FaceType::window) {
        out.class_name = L"ZolWindow";
        window_style(in, out);
        return out;
    }
    uint32_t s = ws::CHILD | ws::CLIPSIBLINGS;
    if (in.visible) s |= ws::VISIBLE;
    if (in.has_para) s |= in.para;
    if (in.disabled) s |= ws::DISABLED;
    if (has(f, "scrollable")) s |= ws::HSCROLL | ws::VSCROLL;
    uint32_t ex = 0;
    switch (in.type) {
    case FaceType::button: out.class_name = L"ZolButton"; s |= ws::BTN_MULTILINE; break;
    case FaceType::toggle: out.class_name = L"ZolButton"; s |= ws::BTN_PUSHLIKE | ws::BTN_AUTOCHECKBOX; break;
    case FaceType::check:
        out.class_name = L"ZolButton";
        s |= ws::TABSTOP | (has(f, "tri-state") ? ws::BTN_AUTO3STATE : ws::BTN_AUTOCHECKBOX);
        break;
    case FaceType::radio: out.class_name = L"ZolButton"; s |= ws::TABSTOP | ws::BTN_RADIOBUTTON; break;
    case FaceType::panel: out.class_name = L"ZolPanel"; s |= ws::CLIPCHILDREN; break;
    case FaceType::group_box: out.class_name = L"ZolPanel"; break;
    case FaceType::tab_panel: out.class_name = L"ZolTabPanel"; break;
    case FaceType::field:
        out.class_name = L"ZolField";
        s |= ws::TABSTOP | ws::EDIT_AUTOHSCROLL;
        if (has(f, "password")) s |= ws::EDIT_PASSWORD;
        if (!in.has_para) s |= ws::EDIT_NOHIDESEL;
        ex |= border(f);
        break;
    case FaceType::area:
        out.class_name = L"ZolArea";
        s |= ws::VSCROLL | ws::TABSTOP | ws::EDIT_AUTOVSCROLL | ws::EDIT_MULTILINE;
        if (!in.has_para) s |= ws::HSCROLL | ws::EDIT_NOHIDESEL | ws::EDIT_AUTOHSCROLL;
        ex |= border(f);
        break;
    case FaceType::text: out.class_name = L"ZolFace"; break;
    case FaceType::text_list:
        out.class_name = L"ZolListBox";
        s |= ws::VSCROLL | ws::HSCROLL | ws::LIST_NOINTEGRALHEIGHT | ws::LIST_NOTIFY;
        ex |= border(f);
        break;
    case FaceType::drop_down:
        out.class_name = L"ZolCombo";
        s |= ws::COMBO_DROPDOWN | ws::COMBO_AUTOHSCROLL | ws::COMBO_HASSTRINGS;
        break;
    case FaceType::drop_list: out.class_name = L"ZolCombo"; s |= ws::COMBO_DROPDOWNLIST | ws::COMBO_HASSTRINGS; break;
    case FaceType::progress: out.class_name = L"ZolProgress"; if (tall) s |= ws::PROGRESS_VERTICAL; break;
    case FaceType::slider: out.class_name = L"ZolSlider"; if (tall) s |= ws::SLIDER_VERT | ws::SLIDER_DOWNISLEFT; break;
    case FaceType::scroller: out.class_name = L"ZolScroller"; if (tall) s |= ws::SCROLL_VERT; break;
    case FaceType::base:
    case FaceType::rich_text: out.class_name = L"ZolBase"; s |= ws::CLIPCHILDREN; break;
    case FaceType::camera: out.class_name = L"ZolCamera"; break;
    case FaceType::caret:
        // The system caret is drawn in the parent; the face's own window only
        // carries the face, never seen and never in the mouse's way.
        out.class_name = L"ZolBaseInternal";
        s &= ~ws::VISIBLE;
        break;
    case FaceType::calendar:
        out.class_name = L"ZolCalendar";
        s |= ws::CAL_NOTODAY | ws::CAL_SHORTDAYSOFWEEK | ws::CAL_NOSELCHANGEONNAV;
        break;
    default: out.known = false; return out;
    }
    out.style = s;
    out.ex_style = ex;
    switch (in.type) {
    case FaceType::panel:
    case FaceType::group_box: layered_handling(in, out, false); break;
    case FaceType::base:
    case FaceType::rich_text: layered_handling(in, out, true); break;
    default: break;
    }
    return out;
}

}  // namespace gui
