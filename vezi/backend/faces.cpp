// Faces and their native windows: creation from a face's type and facets,
// the facet updates that follow its changes (one face, or sibling windows
// in one deferred batch), face timers, freeing a face tree, and the fonts
// and para of faces.
//
// Facets are read by position (core/templates.h). Any Win32 call that can
// send messages can run Zol code and the collector, so face values are kept
// on the argument stack across such calls and their facet cells are read
// again after each.
#include <windows.h>
#include <commctrl.h>

#include <dwrite.h>
#include <imm.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/externals.h"
#include "runtime/ownership.h"
#include "runtime/slot_pool.h"
#include "runtime/sys.h"
#include "vezi/backend/core/color.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/core/styles.h"
#include "vezi/backend/core/words.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/unbuilt.h"
#include "vezi/backend/widget_items.h"
#include "vezi/backend/widgets.h"
#include "platform/image_backend.h"
#include "datatypes/image.h"

namespace gui {

// The core spells the platform's style values itself; they must agree.
static_assert(ws::POPUP == WS_POPUP && ws::CHILD == WS_CHILD && ws::CAPTION == WS_CAPTION);
static_assert(ws::THICKFRAME == WS_THICKFRAME && ws::MAXIMIZEBOX == WS_MAXIMIZEBOX);
static_assert(ws::EX_LAYERED == WS_EX_LAYERED && ws::EX_TOOLWINDOW == WS_EX_TOOLWINDOW);
static_assert(ws::BTN_AUTO3STATE == BS_AUTO3STATE && ws::BTN_PUSHLIKE == BS_PUSHLIKE);
static_assert(ws::EDIT_PASSWORD == ES_PASSWORD && ws::LIST_NOTIFY == LBS_NOTIFY);
static_assert(ws::COMBO_DROPDOWNLIST == CBS_DROPDOWNLIST && ws::SLIDER_VERT == TBS_VERT);

constexpr int32_t SLOT_LAST_POS = 52, SLOT_FRAME = 44, SLOT_SIZING = 36, SLOT_CURSOR = 32,
                  SLOT_CURSOR_ICON = 16, SLOT_SHOW_PENDING = 12;
constexpr UINT EM_SETCUEBANNER_MSG = 0x1501;
constexpr UINT_PTR FACE_TIMER = 1;

// --- reading faces ----------------------------------------------------------------------

cell* facet(const cell* face, int32_t f) { return object::values(face) + f; }

FaceType type_of(const cell* face) { return face_type(facet(face, FACET_TYPE)); }

static bool is_true(const cell* v) { return v->type() == TYPE_LOGIC && logic::get(v); }
static bool is_false(const cell* v) { return v->type() == TYPE_LOGIC && !logic::get(v); }

// The text as the controls hold it: UTF-16, each line feed after a CR.
static std::wstring wide_text(const cell* v) {
    int32_t n = 0;
    const uint16_t* w = text_utf16(v, &n, true);
    return w ? std::wstring((const wchar_t*)w, (size_t)n) : std::wstring();
}

// The logical size of a face (pair! or point2D!); *pair tells which.
static void face_size(const cell* face, double* w, double* h, bool* pair) {
    const cell* s = facet(face, FACET_SIZE);
    *pair = false;
    *w = *h = 0;
    if (s->type() == TYPE_PAIR) {
        *w = pair::x_of(s);
        *h = pair::y_of(s);
        *pair = true;
    } else if (s->type() == TYPE_POINT2D) {
        *w = point2D::component(s, 0);
        *h = point2D::component(s, 1);
    }
}

// The face's offset as a point2D!, a pair! made one in place.
static void face_offset(cell* face, double* x, double* y) {
    cell* o = facet(face, FACET_OFFSET);
    *x = *y = 0;
    point_from_pair(o);
    if (o->type() == TYPE_POINT2D) {
        *x = point2D::component(o, 0);
        *y = point2D::component(o, 1);
    }
}

static uint32_t face_para_flags(const cell* face) {
    const cell* para = facet(face, FACET_PARA);
    if (para->type() != TYPE_OBJECT) return 0;
    const cell* p = object::values(para);
    return para_flags(para_kind(facet(face, FACET_TYPE)), &p[PARA_ALIGN], &p[PARA_V_ALIGN], &p[PARA_WRAP]);
}

static void set_facet(cell* face, int32_t f, const cell* value) { *facet(face, f) = *value; }

// --- options: hint, tab stops, cursor -------------------------------------------------------------

void set_hint(HWND hwnd, const cell* options) {
    const cell* hint = option_value(options, "hint");
    if (!hint || hint->type() != TYPE_STRING) return;
    std::wstring w = wide_text(hint);
    SendMessageW(hwnd, EM_SETCUEBANNER_MSG, 0, (LPARAM)w.c_str());
}

void set_tab_stops(HWND hwnd, const cell* options) {
    int32_t stops = 16;
    SendMessageW(hwnd, EM_SETTABSTOPS, 1, (LPARAM)&stops);
    const cell* tabs = option_value(options, "tabs");
    if (tabs && tabs->type() == TYPE_INTEGER) {
        stops = integer::get(tabs) * 4;
        SendMessageW(hwnd, EM_SETTABSTOPS, 1, (LPARAM)&stops);
    }
}

extern "C" int WINAPI GdipCreateHICONFromBitmap(void* bitmap, HICON* icon);

// An icon of an image's pixels (null for an empty image or a failure); the
// pixels are read under the image's lock, which nothing here can move.
static HICON image_icon(const cell* image) {
    if (image::width_of(image) == 0 || image::height_of(image) == 0) return nullptr;
    void* lock = nullptr;
    void* bitmap = image_backend::to_gdiplus_bitmap(image::node_of(image), &lock);
    if (!bitmap) return nullptr;
    HICON icon = nullptr;
    if (GdipCreateHICONFromBitmap(bitmap, &icon) != 0) icon = nullptr;
    image_backend::release_gdiplus_bitmap(bitmap, lock);
    return icon;
}

void set_cursor(HWND hwnd, const cell* options) {
    if (HICON old = (HICON)GetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON)) DestroyIcon(old);
    SetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON, 0);
    SetWindowLongPtrW(hwnd, SLOT_CURSOR, 0);
    if (options->type() != TYPE_BLOCK || block::length_of(options) % 2 != 0) return;
    // Every `cursor` key counts, so the last one given is the one shown; an
    // icon made for an earlier key is destroyed rather than left behind.
    for (int32_t at = next_option_pair(options, "cursor", 0); at >= 0;
         at = next_option_pair(options, "cursor", at + 1)) {
        const cell* v = block::head_cell(const_cast<cell*>(options)) + at;
        if (HICON old = (HICON)GetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON)) DestroyIcon(old);
        SetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON, 0);
        SetWindowLongPtrW(hwnd, SLOT_CURSOR, 0);
        if (v->type() == TYPE_IMAGE) {
            HICON icon = image_icon(v);
            SetWindowLongPtrW(hwnd, SLOT_CURSOR, (LONG_PTR)icon);
            SetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON, (LONG_PTR)icon);
        } else if (word::is_any_word_type(v->type())) {
            static const LPCWSTR ids[] = {IDC_ARROW, IDC_IBEAM, IDC_HAND, IDC_CROSS, IDC_SIZENS, IDC_SIZEWE};
            SetWindowLongPtrW(hwnd, SLOT_CURSOR, (LONG_PTR)LoadCursorW(nullptr, ids[(int)cursor_of(v)]));
        }
    }
}

// --- timers -----------------------------------------------------------------------------------------

void CALLBACK timer_proc(HWND hwnd, UINT, UINT_PTR, DWORD) {
    sys::from_platform_void([&] {
        MSG m{};
        m.hwnd = hwnd;
        m.message = WM_TIMER;
        m.time = GetMessageTime();
        make_event(&m, 0, EVT_TIME);
    });
}

void set_face_rate(HWND hwnd, const cell* rate) {
    uint32_t ms = 0;
    switch (rate_interval(rate, &ms)) {
    case RateAction::set: SetTimer(hwnd, FACE_TIMER, ms, timer_proc); break;
    case RateAction::kill: KillTimer(hwnd, FACE_TIMER); break;
    case RateAction::invalid: {
        cell r = *rate;
        error::raise(error::SCRIPT, "invalid-arg", &r);
    }
    }
}

// --- fonts ----------------------------------------------------------------------------------------------

// A font's state block holds the font itself in a hidden cell before its
// head; the cache is the font's own only when that cell is this very font.
static bool valid_state(const cell* font) {
    const cell* st = object::values(font) + FONT_STATE;
    if (st->type() != TYPE_BLOCK || st->data1 < 1) return false;
    const cell* owner = block::cells_of(series::node_of(st)) + st->data1 - 1;
    return owner->type() == TYPE_OBJECT && object::context_of(owner) == object::context_of(font);
}

// A new state block [font | none none none] in the font's `state`.
static void make_state(cell* font) {
    stack::TopMark mark;
    cell* f = stack::push(font);
    cell* blk = block::push_new(4);
    block::append_cell_copy(series::node_of(blk), f);
    for (int i = 0; i < 3; i++) block::append_cell_copy(series::node_of(blk), none::push());
    blk->data1 = 1;
    *(object::values(f) + FONT_STATE) = *blk;
}

static cell* font_state_cell(const cell* font, int32_t index) {
    if (!valid_state(font)) return nullptr;
    cell* st = object::values(font) + FONT_STATE;
    if (block::length_of(st) <= index) return nullptr;
    cell* c = block::head_cell(st) + index;
    return c->type() == TYPE_HANDLE ? c : nullptr;
}

HFONT font_handle(const cell* font, int32_t index) {
    cell* c = font_state_cell(font, index);
    return c ? (HFONT)(uintptr_t)c->data2 : nullptr;
}

// Keeps the face in the font's parent block (once). The block's head stays
// at its tail; a block whose first face no longer shows this font is a
// list of another font (a copy's) and is started afresh.
static void link_font_face(cell* face, cell* font) {
    if (face->type() != TYPE_OBJECT || font->type() != TYPE_OBJECT) return;
    stack::TopMark mark;
    cell* fc = stack::push(face);
    cell* fn = stack::push(font);
    cell* parent = object::values(fn) + FONT_PARENT;
    bool keep = false;
    if (parent->type() == TYPE_BLOCK) {
        parent->data1 = 0;
        if (block::length_of(parent) > 0) {
            const cell* first = block::head_cell(parent);
            if (first->type() == TYPE_OBJECT && object::word_count(first) > FACET_FONT) {
                const cell* shown = object::values(first) + FACET_FONT;
                keep = shown->type() == TYPE_OBJECT && object::context_of(shown) == object::context_of(fn);
            }
        }
    }
    if (!keep) {
        cell* blk = block::push_new(4);
        *(object::values(fn) + FONT_PARENT) = *blk;
    }
    parent = object::values(fn) + FONT_PARENT;
    int32_t n = block::length_of(parent);
    cell* all = block::head_cell(parent);
    bool found = false;
    for (int32_t i = 0; i < n && !found; i++)
        found = all[i].type() == TYPE_OBJECT && object::context_of(&all[i]) == object::context_of(fc);
    if (!found) block::append_cell_copy(series::node_of(parent), fc);
    parent = object::values(fn) + FONT_PARENT;
    parent->data1 = block::length_of(parent);
}

// The family of a face name for a weight, through DirectWrite's system
// collection and its GDI interop; any failure keeps the name and weight.
void resolve_font_family(std::wstring* name, int32_t* weight, bool italic) {
    IDWriteFactory* factory = devices.dwrite_factory;
    if (!factory || devices.no_d2d) return;
    IDWriteFontCollection* collection = nullptr;
    IDWriteFontFamily* family = nullptr;
    IDWriteFont* font = nullptr;
    IDWriteGdiInterop* interop = nullptr;
    UINT32 index = 0;
    BOOL exists = FALSE;
    if (SUCCEEDED(factory->GetSystemFontCollection(&collection, FALSE)) &&
        SUCCEEDED(collection->FindFamilyName(name->c_str(), &index, &exists)) && exists &&
        SUCCEEDED(collection->GetFontFamily(index, &family)) &&
        SUCCEEDED(family->GetFirstMatchingFont((DWRITE_FONT_WEIGHT)*weight, DWRITE_FONT_STRETCH_NORMAL,
                                               italic ? DWRITE_FONT_STYLE_ITALIC : DWRITE_FONT_STYLE_NORMAL,
                                               &font)) &&
        SUCCEEDED(factory->GetGdiInterop(&interop))) {
        LOGFONTW lf{};
        BOOL system = FALSE;
        if (SUCCEEDED(interop->ConvertFontToLOGFONT(font, &lf, &system))) {
            *name = lf.lfFaceName;
            *weight = lf.lfWeight;
        }
    }
    com_release(interop);
    com_release(font);
    com_release(family);
    com_release(collection);
}

static HFONT create_font(const cell* font, int32_t resolution) {
    GdiFont g = gdi_font(font, resolution, state.font_size);
    std::wstring name = g.name_units >= 0 ? std::wstring((const wchar_t*)g.name)
                                          : std::wstring(state.font_name ? state.font_name : L"Tahoma");
    int32_t weight = g.weight;
    if (g.weight_given) resolve_font_family(&name, &weight, g.italic);
    return CreateFontW(g.height, 0, 0, g.orientation, weight, g.italic, g.underline, g.strike, DEFAULT_CHARSET,
                       0, 0, (DWORD)g.quality, 0, name.c_str());
}

static void store_font(cell* font, int32_t index, HFONT h) {
    cell* st = object::values(font) + FONT_STATE;
    cell* c = block::head_cell(st) + index;
    int32_t entry = h ? externals::store(h, (uint32_t)state.font_handle_type) : -1;
    c = block::head_cell(object::values(font) + FONT_STATE) + index;  // the store may allocate
    handle::make_at(c, (uint32_t)(uintptr_t)h, handle::FONT);
    c->data3 = (uint32_t)entry;
}

HFONT make_font(cell* face, cell* font, bool current_dpi) {
    stack::TopMark mark;
    cell* fn = stack::push(font);
    cell* fc = face ? stack::push(face) : nullptr;
    if (!valid_state(fn)) make_state(fn);
    if (current_dpi && !font_state_cell(fn, 2)) store_font(fn, 2, create_font(fn, 96));
    HFONT h = create_font(fn, current_dpi ? dpi.y : 96);
    store_font(fn, current_dpi ? 0 : 2, h);
    if (fc) link_font_face(fc, fn);
    return h;
}

HFONT get_font(cell* face, cell* font) {
    if (font->type() != TYPE_OBJECT) return nullptr;
    if (HFONT h = font_handle(font, 0)) {
        if (face) link_font_face(face, font);
        return h;
    }
    return make_font(face, font, true);
}

void set_font(HWND hwnd, cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* font = stack::push(facet(f, FACET_FONT));
    HFONT h = font->type() == TYPE_OBJECT ? get_font(f, font) : state.default_font;
    SendMessageW(hwnd, WM_SETFONT, (WPARAM)h, 0);
}

cell* free_font(cell* font) {
    bool released = false;
    if (valid_state(font)) {
        cell* st = object::values(font) + FONT_STATE;
        for (int32_t i = 0; i < 3; i++) {
            cell* c = block::head_cell(st) + i;
            if (c->type() != TYPE_HANDLE) continue;
            int32_t entry = (int32_t)c->data3;
            void* p = (void*)(uintptr_t)c->data2;
            if (i == 1 && entry < 0) com_release(p);
            else if (entry >= 0) externals::remove(entry, true);
            none::make_at(c);
            released = true;
        }
    }
    cell* st = object::values(font) + FONT_STATE;
    if (released) {
        ownership::unset(st);
        none::make_at(st);
    }
    return st;
}

void update_font(cell* font, int32_t field) {
    if (!font_field_remakes(field)) return;
    stack::TopMark mark;
    cell* f = stack::push(font);
    free_font(f);
    make_font(nullptr, f, true);
}

// --- para ---------------------------------------------------------------------------------------------

static uint32_t para_clear_bits(FaceType t) {
    switch (t) {
    case FaceType::base: case FaceType::rich_text: return 0x2F;
    case FaceType::button: case FaceType::toggle: case FaceType::check: case FaceType::radio: return 0xF00;
    case FaceType::field: case FaceType::text: return 0x40C3;
    default: return 0;
    }
}

void update_para(cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* st = facet(f, FACET_STATE);
    if (st->type() != TYPE_BLOCK || !word::is_any_word_type(facet(f, FACET_TYPE)->type())) return;
    FaceType t = type_of(f);
    HWND hwnd = face_handle(f);
    if (t == FaceType::area) {
        if (hwnd) remake_face(hwnd, f);
    } else if (uint32_t clear = para_clear_bits(t); clear && hwnd) {
        LONG s = GetWindowLongW(hwnd, GWL_STYLE);
        SetWindowLongW(hwnd, GWL_STYLE, (LONG)((s & ~clear) | face_para_flags(f)));
    }
    st = facet(f, FACET_STATE);
    if (st->type() == TYPE_BLOCK && block::length_of(st) >= 2) {
        cell* bits = block::head_cell(st) + 1;
        if (bits->type() == TYPE_INTEGER) integer::make_at(bits, integer::get(bits) | (int32_t)facet_bit(FACET_PARA));
    }
}

void remake_face(HWND hwnd, cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    HWND parent = GetParent(hwnd);
    int32_t slot = GetWindowLongW(hwnd, SLOT_FACE);
    SetWindowLongW(hwnd, SLOT_FACE, 0);  // the new window takes the face's slot
    DestroyWindow(hwnd);
    if (slot) slot_pool::free(slot);
    HWND h = make_vezi(f, parent);
    cell* st = facet(f, FACET_STATE);
    if (st->type() == TYPE_BLOCK && block::length_of(st) >= 1)
        handle::make_at(block::head_cell(st), (uint32_t)(uintptr_t)h, handle::WINDOW);
}

// --- layered faces before Windows 8 ------------------------------------------------------------

// There a layered base face is a top-level window owned by its window, so
// hiding or showing a window does not reach it: the layered faces of the
// tree follow here (shown without activation, hidden with a hidden face).
void layers_follow_show(cell* face, int32_t command) {
    if (state.windows_8 || facet(face, FACET_PANE)->type() != TYPE_BLOCK) return;
    stack::TopMark mark;
    cell* pane = stack::push(facet(face, FACET_PANE));
    for (int32_t i = 0; i < block::length_of(pane); i++) {
        cell* f = stack::push(block::head_cell(pane) + i);
        if (f->type() != TYPE_OBJECT || facet(f, FACET_STATE)->type() != TYPE_BLOCK) continue;
        int32_t cmd = is_true(facet(f, FACET_VISIBLE)) ? command : SW_HIDE;
        HWND h = face_handle(f);
        if (h && type_of(f) == FaceType::base && (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_LAYERED) &&
            !(GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
            ShowWindow(h, cmd == SW_SHOW || cmd == SW_SHOWDEFAULT ? SW_SHOWNA : cmd);
        layers_follow_show(f, cmd);
    }
}

static void window_layers_follow_show(HWND hwnd, int32_t command) {
    if (state.windows_8) return;
    stack::TopMark mark;
    cell* f = get_face_obj(hwnd);
    if (f) layers_follow_show(stack::push(f), command);
}

// --- the system caret of caret faces ---------------------------------------------------------

// A caret face's caret is drawn in its parent, at the face's offset; the
// input method composes there too.
static void place_caret(HWND hwnd, int32_t x, int32_t y) {
    SetCaretPos(x, y);
    HWND owner = GetParent(hwnd);
    if (HIMC imc = ImmGetContext(owner)) {
        COMPOSITIONFORM cf{CFS_POINT, {x, y}, {0, 0, 0, 0}};
        ImmSetCompositionWindow(imc, &cf);
        ImmReleaseContext(owner, imc);
    }
}

static void show_caret(HWND hwnd, cell* face, bool show) {
    if (!show) {
        DestroyCaret();
        return;
    }
    double x, y, w, h;
    bool p;
    face_size(face, &w, &h, &p);
    face_offset(face, &x, &y);
    CreateCaret(GetParent(hwnd), nullptr, dpi_scale(w), dpi_scale(h));
    place_caret(hwnd, dpi_scale(x), dpi_scale(y));
    ShowCaret(GetParent(hwnd));
}

// --- creation ------------------------------------------------------------------------------------------

static void set_check_state(HWND hwnd, const cell* face, FaceType t) {
    const cell* data = facet(face, FACET_DATA);
    WPARAM s;
    if (data->type() == TYPE_LOGIC) s = logic::get(data) ? BST_CHECKED : BST_UNCHECKED;
    else if (data->type() == TYPE_NONE)
        s = t == FaceType::check && (get_flags(facet(face, FACET_FLAGS)) & face_flag_bit("tri-state"))
                ? BST_INDETERMINATE
                : BST_UNCHECKED;
    else s = BST_CHECKED;
    SendMessageW(hwnd, BM_SETCHECK, s, 0);
}

static double number_of(const cell* v) {
    switch (v->type()) {
    case TYPE_INTEGER: return integer::get(v);
    case TYPE_FLOAT: case TYPE_PERCENT: return cell::get_float(v);
    default: return 0;
    }
}

// Range and position of a slider or progress bar from `data` over its length.
static void set_range_position(HWND hwnd, cell* face, FaceType t) {
    double w, h;
    bool p;
    face_size(face, &w, &h, &p);
    bool vertical = h > w;
    int32_t length = (int32_t)(vertical ? h : w);
    double pos = number_of(facet(face, FACET_DATA)) * length;
    if (t == FaceType::progress) {
        SendMessageW(hwnd, PBM_SETRANGE32, 0, length);
        SendMessageW(hwnd, PBM_SETPOS, (WPARAM)(int32_t)pos, 0);
    } else {
        SendMessageW(hwnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, length));
        SendMessageW(hwnd, TBM_SETPOS, TRUE, (LPARAM)(int32_t)(vertical ? length - pos : pos));
    }
}

static void setup_scroller(HWND hwnd, cell* face) {
    double fr = fraction(facet(face, FACET_SELECTED));
    if (fr < 0) {
        fr = 0.1;
        cell pc;
        pc.header = TYPE_PERCENT;
        cell::set_float(&pc, 0.1);
        set_facet(face, FACET_SELECTED, &pc);
    }
    SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 100, (UINT)(int32_t)(fr * 100.0), 0, 0};
    SetScrollInfo(hwnd, SB_CTL, &si, TRUE);
    cell zero;
    zero.header = TYPE_FLOAT;
    cell::set_float(&zero, 0.0);
    set_facet(face, FACET_DATA, &zero);
}

static void set_text_facet(HWND hwnd, cell* f, FaceType t);

static HWND create_face(cell* face, HWND parent) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* type_word = stack::push(facet(f, FACET_TYPE));
    double x, y, w, h;
    bool pair_size;
    // A page of a tab panel takes the control's display area.
    HWND tab = nullptr;
    if (parent && face_type(type_word) != FaceType::window) {
        const cell* pf = get_face_obj(parent);
        if (pf && type_of(pf) == FaceType::tab_panel) tab = parent;
    }
    if (tab) fit_tab_page(f, tab);
    face_offset(f, &x, &y);
    face_size(f, &w, &h, &pair_size);
    StyleInput in;
    in.type = face_type(type_word);
    in.flags = get_flags(facet(f, FACET_FLAGS));
    in.has_para = facet(f, FACET_PARA)->type() == TYPE_OBJECT;
    in.para = face_para_flags(f);
    in.visible = is_true(facet(f, FACET_VISIBLE));
    in.disabled = is_false(facet(f, FACET_ENABLED));
    in.menu = facet(f, FACET_MENU)->type() == TYPE_BLOCK;
    in.translucent = is_translucent_color(facet(f, FACET_COLOR));
    in.transparent = is_transparent_color(facet(f, FACET_COLOR));
    in.accelerated = option_accelerated(facet(f, FACET_OPTIONS));
    in.parent_layered = parent && (GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_LAYERED);
    in.windows_8 = state.windows_8;
    in.pre_vista = state.pre_vista;
    in.width = w;
    in.height = h;
    StyleOutput out = face_style(in);
    HMENU menu = nullptr;
    if (!out.known) {
        // A type of its own: its class and styles as registered.
        const ExtraClass* extra = find_class(type_word);
        if (!extra) error::raise(error::SCRIPT, "face-type", type_word);
        out.class_name = extra->class_name;
        out.ex_style = extra->ex_style;
        out.style = extra->style;
        menu = extra->menu;
    }
    FaceType t = in.type;
    std::wstring text = t == FaceType::area ? std::wstring() : wide_text(facet(f, FACET_TEXT));
    if (parent && !out.layered && in.parent_layered) {
        const cell* pf = get_face_obj(parent);
        if (pf && type_of(pf) == FaceType::base) parent = base_layer_parent(parent);
    }

    int32_t px = dpi_scale(x), py = dpi_scale(y), pw, ph;
    HWND owner = parent;
    auto window_size = [&] {
        RECT r{0, 0, dpi_scale(out.width), dpi_scale(out.height)};
        AdjustWindowRectEx(&r, out.style, menu != nullptr, out.ex_style);
        pw = r.right - r.left;
        ph = r.bottom - r.top;
    };
    if (t == FaceType::window) {
        dpi_for_rect(x, y, out.width, out.height);
        px = dpi_scale(x);
        py = dpi_scale(y);
        if (in.menu) menu = menu_bar(facet(f, FACET_MENU));
        if (in.flags & face_flag_bit("modal")) owner = GetActiveWindow();
        window_size();
    } else {
        pw = dpi_scale(w);
        ph = dpi_scale(h);
    }
    // The face travels to WM_NCCREATE as its slot-pool number.
    int32_t slot = slot_pool::alloc(f);
    HWND hwnd = sys::to_platform([&] {
        return CreateWindowExW(out.ex_style, out.class_name, text.c_str(), out.style, px, py, pw, ph, owner,
                               menu, state.instance, (LPVOID)(intptr_t)slot);
    });
    if (!hwnd) {
        // Nothing is made: the slot goes back and the script hears of it.
        slot_pool::free(slot);
        if (menu && t == FaceType::window) DestroyMenu(menu);  // a registered type's menu is not ours
        error::raise(error::ACCESS, "no-create", type_word);
    }
    if (GetWindowLongW(hwnd, SLOT_FACE) == 0) SetWindowLongW(hwnd, SLOT_FACE, slot);
    else if (GetWindowLongW(hwnd, SLOT_FACE) != slot) slot_pool::free(slot);

    if (t == FaceType::window && window_dpi(hwnd) != dpi.x) {
        set_dpi_from_window(hwnd);
        window_size();
        SetWindowPos(hwnd, nullptr, 0, 0, pw, ph, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    uint32_t options = pair_size ? 0x10 : 0;
    SetWindowLongW(hwnd, SLOT_OPTIONS, (LONG)options);
    if (!out.layered || state.windows_8) BringWindowToTop(hwnd);
    if (tab) place_tab_page(hwnd, tab, x, y);
    set_font(hwnd, f);
    set_cursor(hwnd, facet(f, FACET_OPTIONS));

    switch (t) {
    case FaceType::camera: camera_attach(hwnd, f); break;
    case FaceType::base: base_init(hwnd, parent, f, options); break;
    case FaceType::rich_text: base_init(hwnd, parent, f, options | 0x4 | 0x8); break;
    case FaceType::button: set_button_image(hwnd, f); break;
    case FaceType::toggle:
        set_button_image(hwnd, f);
        set_check_state(hwnd, f, t);
        break;
    case FaceType::check: case FaceType::radio: set_check_state(hwnd, f, t); break;
    case FaceType::caret:
        if (is_true(facet(f, FACET_VISIBLE))) show_caret(hwnd, f, true);
        break;
    case FaceType::group_box: {
        std::wstring caption = wide_text(facet(f, FACET_TEXT));
        HWND inner = CreateWindowExW(out.ex_style, L"BUTTON", caption.c_str(),
                                     (out.style & ~WS_CLIPCHILDREN) | WS_GROUP | BS_GROUPBOX, 0, 0, pw, ph,
                                     hwnd, nullptr, state.instance, nullptr);
        if (inner) SendMessageW(inner, WM_SETFONT, (WPARAM)state.default_font, 0);
        SetWindowLongPtrW(hwnd, SLOT_CLOSING, (LONG_PTR)inner);
        break;
    }
    case FaceType::panel:
        SetWindowLongPtrW(hwnd, SLOT_CLOSING, 0);
        SetWindowLongPtrW(hwnd, SLOT_RENDER, 0);
        break;
    case FaceType::slider: case FaceType::progress: set_range_position(hwnd, f, t); break;
    case FaceType::scroller: setup_scroller(hwnd, f); break;
    case FaceType::field:
        set_hint(hwnd, facet(f, FACET_OPTIONS));
        if (facet(f, FACET_SELECTED)->type() != TYPE_NONE) set_edit_selection(hwnd, f);
        break;
    case FaceType::area:
        set_tab_stops(hwnd, facet(f, FACET_OPTIONS));
        set_text_facet(hwnd, f, t);
        if (facet(f, FACET_SELECTED)->type() != TYPE_NONE) set_edit_selection(hwnd, f);
        break;
    case FaceType::text_list: init_text_list(hwnd, f); break;
    case FaceType::drop_list: case FaceType::drop_down: init_drop(hwnd, f, t == FaceType::drop_list); break;
    case FaceType::tab_panel: init_tab_panel(hwnd, f); break;
    case FaceType::calendar: init_calendar(hwnd, f); break;
    case FaceType::window: {
        for (int32_t s : {SLOT_CLOSING, SLOT_FRAME, SLOT_SIZING, SLOT_FONT, SLOT_RENDER}) SetWindowLongPtrW(hwnd, s, 0);
        if (out.layered) base_init(hwnd, parent, f, options);
        if (!state.main_window) state.main_window = hwnd;
        POINT p{0, 0};
        ClientToScreen(hwnd, &p);
        SetWindowLongW(hwnd, SLOT_LAST_POS, (p.y << 16) | (p.x & 0xFFFF));
        break;
    }
    default: break;
    }
    if (facet(f, FACET_RATE)->type() != TYPE_NONE) set_face_rate(hwnd, facet(f, FACET_RATE));
    SetWindowLongW(hwnd, SLOT_FLAGS, (LONG)get_flags(facet(f, FACET_FLAGS)));
    return hwnd;
}

HWND make_vezi(cell* face, HWND parent) {
    int32_t old = push_dpi(parent);
    HWND h = nullptr;
    try {
        h = create_face(face, parent);
    } catch (...) {
        pop_dpi(old);
        throw;
    }
    pop_dpi(old);
    return h;
}

// --- edit selections ----------------------------------------------------------------------------------

void set_edit_selection(HWND hwnd, const cell* face) {
    const cell* sel = facet(face, FACET_SELECTED);
    int32_t start = 0, end = 0;
    if (sel->type() == TYPE_PAIR) {
        int32_t a = pair::x_of(sel), b = pair::y_of(sel);
        start = (a < b ? a : b) - 1;
        end = a < b ? b : a;
        convert_selection(facet(face, FACET_TEXT), &start, &end, 1);
    }
    SendMessageW(hwnd, EM_SETSEL, (WPARAM)start, (LPARAM)end);
}

// The scroll bars an area's text needs, from an estimate of the room it
// takes: the "M" extent per character and per line.
void update_area_scrollbars(HWND hwnd, const wchar_t* text) {
    std::wstring own;
    bool wrap = false;
    {
        cell* face = get_face_obj(hwnd);
        if (!face || facet(face, FACET_TEXT)->type() != TYPE_STRING) {
            ShowScrollBar(hwnd, SB_BOTH, FALSE);
            return;
        }
        const cell* para = facet(face, FACET_PARA);
        wrap = para->type() == TYPE_OBJECT && is_true(object::values(para) + PARA_WRAP);
        if (!text) {
            own = wide_text(facet(face, FACET_TEXT));
            text = own.c_str();
        }
    }
    RECT client;
    GetClientRect(hwnd, &client);
    int32_t width = client.right, height = client.bottom;
    HDC dc = GetDC(hwnd);
    DWORD m = GetTabbedTextExtentW(dc, L"M", 1, 0, nullptr);
    int32_t cw = LOWORD(m), lh = HIWORD(m);
    bool vbar = false, hbar = false;
    int32_t running = 0, longest = -1;
    const wchar_t* longest_at = nullptr;
    int32_t len = wide_length(text);
    for (int32_t start = 0; start < len;) {
        int32_t lf = start;
        while (lf < len && text[lf] != L'\n') lf++;
        int32_t n = lf < len ? lf - start - 2 : len - start - 1;
        running += lh;
        if (n * cw > width) {
            if (wrap) {
                RECT r{0, 0, width, height};
                DrawTextW(dc, text + start, lf - start, &r, DT_CALCRECT | DT_EXPANDTABS | DT_WORDBREAK);
                running += (r.bottom - r.top) - lh;
            } else {
                hbar = true;
                if (n > longest) longest = n, longest_at = text + start;
            }
        }
        if (running >= height) {
            vbar = true;
            if (wrap) break;
        }
        start = lf + 1;
    }
    if (!wrap && hbar && longest_at) {
        DWORD ext = GetTabbedTextExtentW(dc, longest_at, longest, 0, nullptr);
        hbar = LOWORD(ext) > width;
    }
    ReleaseDC(hwnd, dc);
    ShowScrollBar(hwnd, SB_VERT, vbar);
    ShowScrollBar(hwnd, SB_HORZ, wrap ? FALSE : hbar);
}

// --- updates -----------------------------------------------------------------------------------------------

// The change bits of a face (0 without a state block) and their cell.
static cell* change_bits(cell* face) {
    cell* st = facet(face, FACET_STATE);
    if (st->type() != TYPE_BLOCK || block::length_of(st) < 2) return nullptr;
    cell* b = block::head_cell(st) + 1;
    return b->type() == TYPE_INTEGER ? b : nullptr;
}

struct BatchPos {
    int32_t x, y, w, h;
    UINT flags;
};

static void repaint(HWND hwnd) { InvalidateRect(hwnd, nullptr, TRUE); }

// The faces whose own drawing layer repaints them.
static bool draws_itself(FaceType t) {
    return t == FaceType::base || t == FaceType::rich_text || t == FaceType::window || t == FaceType::panel;
}

static void repaint_face(HWND hwnd, cell* f, FaceType t) {
    if (draws_itself(t)) base_update(hwnd, f);
    else repaint(hwnd);
}

static void set_text_facet(HWND hwnd, cell* f, FaceType t) {
    if (t == FaceType::base || (t == FaceType::window && (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED))) {
        base_update(hwnd, f);
        return;
    }
    if (t == FaceType::rich_text) {
        InvalidateRect(hwnd, nullptr, FALSE);
        return;
    }
    const cell* text = facet(f, FACET_TEXT);
    std::wstring w = wide_text(text);
    HWND target = hwnd;
    if (t == FaceType::group_box) target = (HWND)GetWindowLongPtrW(hwnd, SLOT_CLOSING);
    if (t == FaceType::area) {
        if (w.size() >= (size_t)SendMessageW(hwnd, EM_GETLIMITTEXT, 0, 0))
            SendMessageW(hwnd, EM_SETLIMITTEXT, w.size() + 16, 0);
        update_area_scrollbars(hwnd, w.c_str());
    }
    if (target) SetWindowTextW(target, w.c_str());
    if (t == FaceType::field && w.size() >= (size_t)SendMessageW(hwnd, EM_GETLIMITTEXT, 0, 0)) {
        SendMessageW(hwnd, EM_SETLIMITTEXT, w.size() + 16, 0);
        SetWindowTextW(hwnd, w.c_str());
    }
}

static void set_data_facet(HWND hwnd, cell* f, FaceType t) {
    const cell* data = facet(f, FACET_DATA);
    switch (t) {
    case FaceType::slider:
    case FaceType::progress:
        if (data->type() == TYPE_PERCENT || data->type() == TYPE_FLOAT) set_range_position(hwnd, f, t);
        break;
    case FaceType::scroller:
        if (data->type() == TYPE_FLOAT) {
            double d = cell::get_float(data);
            d = d < 0 ? 0 : d > 1 ? 1 : d;
            SCROLLINFO si{sizeof si, SIF_RANGE, 0, 0, 0, 0, 0};
            GetScrollInfo(hwnd, SB_CTL, &si);
            si.fMask = SIF_RANGE | SIF_POS;
            si.nPos = si.nMin + (int)(d * (si.nMax - si.nMin));
            SetScrollInfo(hwnd, SB_CTL, &si, TRUE);
        }
        break;
    case FaceType::check: case FaceType::toggle: set_check_state(hwnd, f, t); break;
    case FaceType::text_list: init_text_list(hwnd, f); break;
    case FaceType::drop_list: case FaceType::drop_down: init_drop(hwnd, f, t == FaceType::drop_list); break;
    case FaceType::tab_panel: init_tab_panel(hwnd, f); break;
    case FaceType::calendar: set_calendar_date(hwnd, data); break;
    default: break;
    }
}

static void set_selected_facet(HWND hwnd, cell* f, FaceType t) {
    const cell* sel = facet(f, FACET_SELECTED);
    int32_t n = sel->type() == TYPE_INTEGER ? integer::get(sel) : 0;
    switch (t) {
    case FaceType::scroller:
        if (fraction(sel) >= 0) {
            SCROLLINFO si{sizeof si, SIF_RANGE, 0, 0, 0, 0, 0};
            GetScrollInfo(hwnd, SB_CTL, &si);
            si.fMask = SIF_PAGE;
            si.nPage = (UINT)((si.nMax - si.nMin) * fraction(sel));
            SetScrollInfo(hwnd, SB_CTL, &si, TRUE);
        }
        break;
    case FaceType::text_list: SendMessageW(hwnd, LB_SETCURSEL, n > 0 ? n - 1 : (WPARAM)-1, 0); break;
    case FaceType::drop_list:
    case FaceType::drop_down: SendMessageW(hwnd, CB_SETCURSEL, n > 0 ? n - 1 : (WPARAM)-1, 0); break;
    case FaceType::field:
    case FaceType::area: set_edit_selection(hwnd, f); break;
    case FaceType::tab_panel:
        if (sel->type() == TYPE_INTEGER && n >= 1) select_tab(hwnd, n - 1);
        break;
    case FaceType::camera:
        if (sel->type() == TYPE_NONE) camera_select(hwnd, -1);
        else if (sel->type() == TYPE_INTEGER) camera_select(hwnd, n - 1);
        break;
    case FaceType::window:
        if (sel->type() == TYPE_OBJECT) {
            if (HWND h = face_handle(sel)) SetFocus(h);
        } else if (sel->type() == TYPE_NONE) {
            SetFocus(hwnd);
        }
        break;
    default: break;
    }
}

static void set_menu_facet(HWND hwnd, cell* f) {
    if (HMENU old = GetMenu(hwnd)) DestroyMenu(old);
    HMENU bar = nullptr;
    if (facet(f, FACET_MENU)->type() == TYPE_BLOCK) bar = menu_bar(facet(f, FACET_MENU));
    SetMenu(hwnd, bar);
}

// The handlers of the change bits, in their fixed order. With `batch`, only
// the geometry bits are handled and their result goes into the record.
static void change_facets(cell* face, uint32_t keep_mask, BatchPos* batch) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    FaceType t = type_of(f);
    mark_layout_needed(f);
    cell* bits_cell = change_bits(f);
    HWND hwnd = face_handle(f);
    if (!bits_cell || !hwnd) return;
    uint32_t bits = (uint32_t)integer::get(bits_cell);
    uint32_t handle_bits, left;
    if (batch) {
        handle_bits = bits & GEOMETRY_BITS;
        left = bits & ~GEOMETRY_BITS;
        batch->flags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    } else {
        handle_bits = bits & ~keep_mask;
        left = bits & keep_mask;
    }
    integer::make_at(bits_cell, (int32_t)left);
    auto on = [&](Facet fc) { return (handle_bits & facet_bit(fc)) != 0; };

    if (on(FACET_OFFSET)) {
        double x, y;
        face_offset(f, &x, &y);
        if (t == FaceType::window) {
            RECT wr;
            GetClientRect(hwnd, &wr);
            dpi_for_rect(x, y, dpi_unscale(wr.right), dpi_unscale(wr.bottom));
        }
        int32_t px = dpi_scale(x), py = dpi_scale(y);
        if (t == FaceType::base && !state.windows_8) layered_follow_move(hwnd, f, px, py);
        if (t == FaceType::caret) {
            place_caret(hwnd, px, py);
        } else if (batch) {
            batch->x = px, batch->y = py, batch->flags &= ~SWP_NOMOVE;
        } else {
            SetWindowPos(hwnd, nullptr, px, py, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (t == FaceType::window) set_dpi_from_window(hwnd);
        else if (t == FaceType::tab_panel && !batch) update_tab_panel(hwnd, f, FACET_OFFSET);
    }
    if (on(FACET_SIZE)) {
        double w, h;
        bool p;
        face_size(f, &w, &h, &p);
        LONG opts = GetWindowLongW(hwnd, SLOT_OPTIONS);
        SetWindowLongW(hwnd, SLOT_OPTIONS, p ? (opts | 0x10) : (opts & ~0x10));
        RECT r{0, 0, dpi_scale(w), dpi_scale(h)};
        if (t == FaceType::window)
            AdjustWindowRectEx(&r, (DWORD)GetWindowLongW(hwnd, GWL_STYLE), GetMenu(hwnd) != nullptr,
                               (DWORD)GetWindowLongW(hwnd, GWL_EXSTYLE));
        if (batch) {
            batch->w = r.right - r.left, batch->h = r.bottom - r.top, batch->flags &= ~SWP_NOSIZE;
        } else {
            SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        switch (t) {
        case FaceType::slider: case FaceType::progress: set_range_position(hwnd, f, t); break;
        case FaceType::group_box:
            if (HWND inner = (HWND)GetWindowLongPtrW(hwnd, SLOT_CLOSING))
                SetWindowPos(inner, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        case FaceType::area: update_area_scrollbars(hwnd, nullptr); break;
        case FaceType::tab_panel:
            if (!batch) update_tab_panel(hwnd, f, FACET_SIZE);
            break;
        case FaceType::text: repaint(hwnd); break;
        case FaceType::camera: camera_resize_video(hwnd); break;
        default: break;
        }
    }
    if (batch) {
        if (on(FACET_VISIBLE)) {
            bool show = is_true(facet(f, FACET_VISIBLE));
            if (t == FaceType::window && !show && IsWindowVisible(hwnd)) SetWindowLongW(hwnd, SLOT_SHOW_PENDING, 1);
            batch->flags |= show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
        }
        return;
    }
    if (on(FACET_TEXT)) set_text_facet(hwnd, f, t);
    if (on(FACET_DATA)) set_data_facet(hwnd, f, t);
    if (on(FACET_ENABLED)) {
        bool enabled = is_true(facet(f, FACET_ENABLED));
        if (t == FaceType::base && (GetWindowLongW(hwnd, SLOT_OPTIONS) & 0x2))
            ShowWindow(hwnd, enabled ? SW_SHOWNA : SW_HIDE);
        EnableWindow(hwnd, enabled);
    }
    if (on(FACET_VISIBLE)) {
        bool show = is_true(facet(f, FACET_VISIBLE));
        if (t == FaceType::caret) {
            show_caret(hwnd, f, show);
        } else {
            if (t == FaceType::window && !show && IsWindowVisible(hwnd)) SetWindowLongW(hwnd, SLOT_SHOW_PENDING, 1);
            ShowWindow(hwnd, show ? (t == FaceType::base ? SW_SHOWNA : SW_SHOW) : SW_HIDE);
            layers_follow_show(f, show ? SW_SHOWNA : SW_HIDE);
            if (t == FaceType::group_box)
                if (HWND inner = (HWND)GetWindowLongPtrW(hwnd, SLOT_CLOSING)) ShowWindow(inner, show ? SW_SHOW : SW_HIDE);
            if (t == FaceType::tab_panel) update_tab_panel(hwnd, f, FACET_VISIBLE);
        }
    }
    if (on(FACET_SELECTED)) set_selected_facet(hwnd, f, t);
    if (on(FACET_FLAGS)) {
        SetWindowLongW(hwnd, SLOT_FLAGS, (LONG)get_flags(facet(f, FACET_FLAGS)));
        if (t == FaceType::field) {
            bool password = get_flags(facet(f, FACET_FLAGS)) & face_flag_bit("password");
            SendMessageW(hwnd, EM_SETPASSWORDCHAR, password ? 0x25CF : 0, 0);
            SetFocus(hwnd);
        }
    }
    // The handlers below read the face again: the ones above can run Zol code.
    hwnd = face_handle(f);
    if (!hwnd) return;
    if (on(FACET_DRAW) && draws_itself(t)) base_update(hwnd, f);
    if (on(FACET_COLOR)) {
        if (t == FaceType::calendar) set_calendar_color(hwnd, facet(f, FACET_COLOR));
        repaint_face(hwnd, f, t);
    }
    if (on(FACET_PANE) && t != FaceType::tab_panel) restack_pane(facet(f, FACET_PANE), nullptr);
    if (on(FACET_RATE)) set_face_rate(hwnd, facet(f, FACET_RATE));
    if (on(FACET_FONT)) {
        set_font(hwnd, f);
        repaint_face(hwnd, f, t);
    }
    if (on(FACET_PARA)) repaint_face(hwnd, f, t);
    if (on(FACET_MENU)) set_menu_facet(hwnd, f);
    if (on(FACET_IMAGE)) {
        if (t == FaceType::base) base_update(hwnd, f);
        else if (t == FaceType::button || t == FaceType::toggle) set_button_image(hwnd, f);
        else if (t == FaceType::camera && facet(f, FACET_IMAGE)->type() == TYPE_NONE) camera_grab(hwnd, f);
    }
    if (on(FACET_OPTIONS)) set_cursor(hwnd, facet(f, FACET_OPTIONS));
}

void update_face(cell* face, uint32_t keep_mask, BatchPos* batch) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* bits = change_bits(f);
    int32_t before = bits ? integer::get(bits) : 0;
    int32_t old = push_dpi(face_handle(f));
    try {
        // A window procedure that ran Zol code parks its error: it is
        // raised here, after the Win32 call that sent the message returned.
        sys::to_platform([&] { change_facets(f, keep_mask, batch); });
    } catch (...) {
        // A reaction or actor failed during the update: the bits it did
        // not get to apply are kept for the next one.
        if (cell* b = change_bits(f)) integer::make_at(b, integer::get(b) | before);
        pop_dpi(old);
        throw;
    }
    pop_dpi(old);
}

void update_vezi(cell* face) { update_face(face, 0, nullptr); }

// Faces whose geometry may wait for their siblings' batch (from Windows 8 on).
static HWND batch_parent(const cell* face) {
    if (!state.windows_8) return nullptr;
    cell* bits = change_bits(const_cast<cell*>(face));
    if (!bits || !(integer::get(bits) & GEOMETRY_BITS)) return nullptr;
    HWND h = face_handle(face);
    if (!h) return nullptr;
    switch (type_of(face)) {
    case FaceType::window: case FaceType::tab_panel: case FaceType::group_box: case FaceType::area:
    case FaceType::camera: return nullptr;
    case FaceType::base:
        if (GetWindowLongW(h, SLOT_OPTIONS) & 0x2) return nullptr;
        break;
    default: break;
    }
    return GetParent(h);
}

int32_t update_views(cell* faces) {
    stack::TopMark mark;
    cell* blk = stack::push(faces);
    int32_t n = block::length_of(blk);
    std::vector<HWND> parents((size_t)n, nullptr);
    int32_t visible = 0;
    for (int32_t i = 0; i < n; i++) {
        stack::TopMark each;
        cell* f = stack::push(block::head_cell(blk) + i);
        if (f->type() != TYPE_OBJECT || !face_handle(f)) continue;
        parents[(size_t)i] = batch_parent(f);
        update_face(f, parents[(size_t)i] ? GEOMETRY_BITS : 0, nullptr);
        HWND h = face_handle(f);
        if (parents[(size_t)i] && h && IsWindowVisible(h)) visible++;
    }
    if (visible > 1) dwm_flush();
    int32_t batches = 0;
    for (int32_t i = 0; i < n;) {
        HWND p = parents[(size_t)i];
        int32_t j = i;
        while (j < n && parents[(size_t)j] == p) j++;
        if (p) {
            batches++;
            // The geometry of the group, computed first; the windows move together.
            std::vector<std::pair<HWND, BatchPos>> moves;
            for (int32_t k = i; k < j; k++) {
                stack::TopMark each;
                if (k >= block::length_of(blk)) break;
                cell* f = stack::push(block::head_cell(blk) + k);
                if (f->type() != TYPE_OBJECT) continue;
                BatchPos pos{0, 0, 0, 0, 0};
                update_face(f, 0, &pos);
                if (HWND h = face_handle(f)) moves.push_back({h, pos});
            }
            HDWP dwp = BeginDeferWindowPos(8);
            for (auto& m : moves) {
                if (!dwp) break;
                dwp = DeferWindowPos(dwp, m.first, nullptr, m.second.x, m.second.y, m.second.w, m.second.h,
                                     m.second.flags);
            }
            if (dwp) {
                sys::to_platform([&] { EndDeferWindowPos(dwp); });
            } else {
                // No batch: each window on its own.
                for (auto& m : moves)
                    sys::to_platform([&] {
                        SetWindowPos(m.first, nullptr, m.second.x, m.second.y, m.second.w, m.second.h, m.second.flags);
                    });
            }
        }
        i = j;
    }
    return batches;
}

// Puts each face's window on top of its siblings in pane order; a tab
// panel's pages follow it. Answers the batch handle to go on with.
static HDWP restack_into(const cell* pane, HDWP dwp) {
    stack::TopMark mark;
    cell* p = stack::push(pane);
    int32_t n = block::length_of(p);
    for (int32_t i = 0; i < n && dwp; i++) {
        cell* f = block::head_cell(p) + i;
        if (f->type() != TYPE_OBJECT) continue;
        HWND h = face_handle(f);
        if (!h) continue;
        dwp = DeferWindowPos(dwp, h, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
        f = block::head_cell(p) + i;
        if (dwp && type_of(f) == FaceType::tab_panel && facet(f, FACET_PANE)->type() == TYPE_BLOCK)
            dwp = restack_into(facet(f, FACET_PANE), dwp);
    }
    return dwp;
}

void restack_pane(const cell* pane, HDWP dwp) {
    if (pane->type() != TYPE_BLOCK) return;
    if (dwp) {
        restack_into(pane, dwp);
        return;
    }
    int32_t n = block::length_of(const_cast<cell*>(pane));
    dwp = BeginDeferWindowPos(n > 0 ? n : 1);
    if (dwp) dwp = restack_into(pane, dwp);
    if (dwp) sys::to_platform([&] { EndDeferWindowPos(dwp); });
}

// --- freeing ----------------------------------------------------------------------------------------------

// Removes the face from a sub-object's parent block (font! 9, para! 6), the
// block left at its tail; a font used by no face any more lets its handles go.
static void unlink_face(cell* face, cell* sub, int32_t index) {
    cell* parent = object::values(sub) + index;
    if (parent->type() != TYPE_BLOCK) return;
    parent->data1 = 0;
    int32_t n = block::length_of(parent);
    cell* all = block::head_cell(parent);
    for (int32_t i = 0; i < n; i++) {
        if (all[i].type() == TYPE_OBJECT && object::context_of(&all[i]) == object::context_of(face)) {
            cell at = *parent, same = all[i];
            at.data1 = i;
            block::remove_value(&at, &same, false);
            break;
        }
    }
    parent = object::values(sub) + index;
    parent->data1 = block::length_of(parent);
    if (index == FONT_PARENT && parent->data1 == 0) free_font(sub);
}

static void remember_freed(const cell* face, HWND hwnd);

void free_faces(cell* face, bool close) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    HWND hwnd = face_handle(f);
    if (!hwnd) return;
    FaceType t = type_of(f);
    if (t == FaceType::window)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    if (facet(f, FACET_RATE)->type() != TYPE_NONE) KillTimer(hwnd, FACE_TIMER);
    if (facet(f, FACET_FONT)->type() == TYPE_OBJECT) unlink_face(f, stack::push(facet(f, FACET_FONT)), FONT_PARENT);
    if (facet(f, FACET_PARA)->type() == TYPE_OBJECT) unlink_face(f, stack::push(facet(f, FACET_PARA)), PARA_PARENT);
    if (facet(f, FACET_PANE)->type() == TYPE_BLOCK) {
        cell* pane = stack::push(facet(f, FACET_PANE));
        int32_t n = block::length_of(pane);
        for (int32_t i = 0; i < n; i++) {
            cell* child = stack::push(block::head_cell(pane) + i);
            if (child->type() == TYPE_OBJECT) free_faces(child, false);
        }
    }
    if (t == FaceType::group_box) {
        if (HWND inner = (HWND)GetWindowLongPtrW(hwnd, SLOT_CLOSING)) DestroyWindow(inner);
    } else if (t == FaceType::panel) {
        DestroyWindow(hwnd);
    } else if (t == FaceType::camera) {
        camera_select(hwnd, -1);
    }
    if (t == FaceType::window) {
        if (HFONT own = (HFONT)GetWindowLongPtrW(hwnd, SLOT_FONT)) DeleteObject(own);
        SetWindowLongPtrW(hwnd, SLOT_FONT, 0);
        none::make_at(facet(f, FACET_SELECTED));
        SetWindowLongW(hwnd, SLOT_CLOSING, -1);
    }
    if (HICON icon = (HICON)GetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON)) DestroyIcon(icon);
    if (IsWindow(hwnd)) {
        SetWindowLongPtrW(hwnd, SLOT_CURSOR_ICON, 0);
        if (int32_t slot = GetWindowLongW(hwnd, SLOT_FACE)) slot_pool::free(slot);
        SetWindowLongW(hwnd, SLOT_FACE, 0);
    }
    none::make_at(facet(f, FACET_STATE));
    if (IsWindow(hwnd)) remember_freed(f, hwnd);
    if (close && IsWindow(hwnd)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void destroy_vezi(cell* face, bool empty) {
    free_faces(face, true);
    if (empty) state.loops.loop_window_destroyed();
}

void dwm_flush() {
    static HRESULT(WINAPI * flush)() = [] {
        HMODULE dwm = LoadLibraryA("dwmapi.dll");
        return dwm ? (HRESULT(WINAPI*)())(void*)GetProcAddress(dwm, "DwmFlush") : nullptr;
    }();
    if (flush) flush();
}

}  // namespace gui

// --- in-place changes of a face's series, and showing windows ----------------------------------

namespace gui {

static Spelling update_words[] = {{"pane", 0}, {"data", 0}};
GUI_SPELLINGS(update_words);

// The windows of faces that free_faces let go, by face context: a removal
// from a pane reaches the backend after the face's `state` became none, and
// detaching still needs its window. An entry holds until its window is gone.
static std::vector<std::pair<void*, HWND>> freed_windows;

static void remember_freed(const cell* face, HWND hwnd) {
    std::vector<std::pair<void*, HWND>> live;
    for (auto& e : freed_windows)
        if (IsWindow(e.second) && e.second != hwnd) live.push_back(e);
    live.push_back({object::context_of(face), hwnd});
    freed_windows.swap(live);
}

// The window of a face, or of a freed face the window it had last.
static HWND face_window_unchecked(const cell* face) {
    if (HWND h = face_handle(face)) return h;
    for (auto& e : freed_windows)
        if (e.first == object::context_of(face) && IsWindow(e.second) && !GetWindowLongW(e.second, SLOT_FACE))
            return e.second;
    return nullptr;
}

// A face moves into the owner's window, or, without an owner, out to the
// desktop, hidden, for the close that free_faces posted.
static void reparent_face(cell* face, cell* owner) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* o = owner ? stack::push(owner) : nullptr;
    HWND h = face_window_unchecked(f);
    FaceType pt = o ? type_of(o) : FaceType::unknown;
    if (pt != FaceType::tab_panel) logic::make_at(facet(f, FACET_VISIBLE), o != nullptr);
    if (!h) return;
    if (!o) {
        // Out of its parent it stays hidden: showing it would put a stray
        // window on the desktop until the posted close arrives.
        sys::to_platform([&] { ShowWindow(h, SW_HIDE); });
        SetParent(h, nullptr);
        return;
    }
    if (pt == FaceType::tab_panel) return;
    HWND p = face_handle(o);
    if (!state.windows_8 && type_of(f) == FaceType::base && (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_LAYERED)) {
        // A layered face is an owned top-level window there: it changes
        // owner and goes to the screen place of its offset in the new one.
        if (!p) return;
        SetWindowLongPtrW(h, GWLP_HWNDPARENT, (LONG_PTR)p);
        double x, y;
        face_offset(f, &x, &y);
        POINT at{dpi_scale(x), dpi_scale(y)};
        ClientToScreen(p, &at);
        SetWindowPos(h, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        layered_follow_move(h, f, at.x, at.y);
        return;
    }
    if (p) SetParent(h, p);
    show_window(h);
}

void update_facet(cell* owner, const cell* word, cell* value, const cell* action, const cell* added,
                  int32_t index, int32_t part) {
    stack::TopMark mark;
    cell* o = stack::push(owner);
    cell* series = stack::push(value);
    cell* fresh = added ? stack::push(added) : nullptr;
    int32_t w = find_word(word, update_words, 2);
    SeriesAction a = series_action(action);
    FaceType t = type_of(o);
    if (w == 0) {  // pane
        bool detach = a == SeriesAction::remove || a == SeriesAction::take || a == SeriesAction::clear;
        bool attach = a == SeriesAction::inserted || a == SeriesAction::poke || a == SeriesAction::put ||
                      a == SeriesAction::moved || a == SeriesAction::changed;
        if (!detach && !attach) return;
        // The faces concerned: those put in (a face, or a block of faces),
        // else `part` values of the pane from `index`, counted from its first value.
        cell* faces = block::push_new(part > 0 ? part : 1);
        if (fresh && fresh->type() == TYPE_OBJECT) {
            block::append_cell_copy(series::node_of(faces), fresh);
        } else if (fresh && fresh->type() == TYPE_BLOCK) {
            // `part` values from where the new ones begin: a block inserted
            // with /part brings only that many faces into the pane.
            int32_t have = block::length_of(fresh);
            int32_t take = part > 0 && part < have ? part : have;
            for (int32_t i = 0; i < take; i++)
                block::append_cell_copy(series::node_of(faces), block::head_cell(fresh) + i);
        } else if (series->type() == TYPE_BLOCK) {
            int32_t total = block::total_cells(series::node_of(series));
            for (int32_t i = index; i < index + part && i < total; i++)
                block::append_cell_copy(series::node_of(faces), block::cells_of(series::node_of(series)) + i);
        }
        int32_t n = block::length_of(faces);
        for (int32_t i = 0; i < n; i++) {
            cell* f = stack::push(block::head_cell(faces) + i);
            if (f->type() == TYPE_OBJECT) reparent_face(f, detach ? nullptr : o);
        }
        if (attach) restack_pane(facet(o, FACET_PANE), nullptr);
        return;
    }
    if (w == 1) {  // data
        switch (t) {
        case FaceType::text_list:
            if (a == SeriesAction::sort) update_vezi(o);
            else update_list_data(o, series, a, fresh, index, part, false);
            return;
        case FaceType::drop_list:
        case FaceType::drop_down:
            if (part != 0) update_list_data(o, series, a, fresh, index, part, true);
            return;
        case FaceType::tab_panel: update_tab_data(o, series, a, fresh, index, part); return;
        default: break;
        }
    }
    update_vezi(o);
}

void show_window(HWND hwnd) {
    if (IsWindowVisible(hwnd) && !GetWindowLongW(hwnd, SLOT_SHOW_PENDING)) {
        UpdateWindow(hwnd);
        window_layers_follow_show(hwnd, SW_SHOWNA);
        return;
    }
    if (state.up_window) ReleaseCapture();
    SetWindowLongW(hwnd, SLOT_SHOW_PENDING, 0);
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    UpdateWindow(hwnd);
    window_layers_follow_show(hwnd, SW_SHOWNA);
    SetForegroundWindow(hwnd);
    set_focus(hwnd);
    set_dpi_from_window(hwnd);
}

}  // namespace gui
