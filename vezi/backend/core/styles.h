// The window class and styles of a face's native window, from its type and
// facets: a pure table, so face creation on Windows and the native tests
// read the same decisions. The style constants are the platform's values,
// spelled here because the core builds without the platform's headers (the
// Windows side checks them against its headers at compile time).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

namespace ws {
constexpr uint32_t POPUP = 0x80000000, CHILD = 0x40000000, VISIBLE = 0x10000000, DISABLED = 0x08000000,
                   CLIPSIBLINGS = 0x04000000, CLIPCHILDREN = 0x02000000, CAPTION = 0x00C00000,
                   BORDER = 0x00800000, VSCROLL = 0x00200000, HSCROLL = 0x00100000, SYSMENU = 0x00080000,
                   THICKFRAME = 0x00040000, GROUP = 0x00020000, TABSTOP = 0x00010000,
                   MINIMIZEBOX = 0x00020000, MAXIMIZEBOX = 0x00010000;
constexpr uint32_t EX_CLIENTEDGE = 0x200, EX_TOOLWINDOW = 0x80, EX_LAYERED = 0x80000,
                   EX_COMPOSITED = 0x02000000;
constexpr uint32_t BTN_AUTOCHECKBOX = 3, BTN_RADIOBUTTON = 4, BTN_AUTO3STATE = 6, BTN_GROUPBOX = 7,
                   BTN_PUSHLIKE = 0x1000, BTN_MULTILINE = 0x2000;
constexpr uint32_t EDIT_MULTILINE = 4, EDIT_PASSWORD = 0x20, EDIT_AUTOVSCROLL = 0x40, EDIT_AUTOHSCROLL = 0x80,
                   EDIT_NOHIDESEL = 0x100;
constexpr uint32_t LIST_NOTIFY = 1, LIST_NOINTEGRALHEIGHT = 0x100;
constexpr uint32_t COMBO_DROPDOWN = 2, COMBO_DROPDOWNLIST = 3, COMBO_AUTOHSCROLL = 0x40, COMBO_HASSTRINGS = 0x200;
constexpr uint32_t PROGRESS_VERTICAL = 4, SLIDER_VERT = 2, SLIDER_DOWNISLEFT = 0x400, SCROLL_VERT = 1;
constexpr uint32_t CAL_NOTODAY = 0x10, CAL_SHORTDAYSOFWEEK = 0x80, CAL_NOSELCHANGEONNAV = 0x100;
}  // namespace ws

// The face types the backend makes windows for.
enum class FaceType {
    screen, window, button, toggle, check, radio, field, area, text, text_list, progress, slider, drop_down,
    drop_list, image, base, panel, tab_panel, group_box, camera, caret, scroller, rich_text, calendar,
    unknown
};
FaceType face_type(const cell* type_word);

// What the style decision reads of a face and its surroundings.
struct StyleInput {
    FaceType type = FaceType::unknown;
    uint32_t flags = 0;        // get_flags of `flags`
    bool has_para = false;     // `para` is an object
    uint32_t para = 0;         // para_flags of it
    bool visible = true;       // `visible?` is true
    bool disabled = false;     // `enabled?` is the logic false
    bool menu = false;         // `menu` is a block
    bool translucent = false;  // translucent-color? of `color`
    bool transparent = false;  // a base face that needs layering (transparent?)
    bool accelerated = false;  // `options` has `accelerated` followed by true
    bool parent_layered = false;
    bool windows_8 = true, pre_vista = false;
    double width = 0, height = 0;  // logical size
};

struct StyleOutput {
    bool known = false;  // false: no class for the type (a script error)
    const wchar_t* class_name = nullptr;
    uint32_t style = 0, ex_style = 0;
    bool layered = false;
    double width = 0, height = 0;  // a window's negative sides become 200
};

StyleOutput face_style(const StyleInput& in);

// The extended style of the `accelerated` option.
uint32_t accelerated_style(bool accelerated, bool windows_8);
// transparent? of a base face's colour: true unless it is an opaque tuple.
bool is_transparent_color(const cell* color);

}  // namespace gui
