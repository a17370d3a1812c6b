// Small operations the whole backend shares.
#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/ownership.h"
#include "runtime/slot_pool.h"
#include "vezi/backend/core/text.h"
#include "vezi/backend/core/timing.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

namespace gui {

bool face_attached(HWND hwnd) {
    wchar_t name[16];
    // Only the program's own classes have the slots.
    if (!GetClassNameW(hwnd, name, 16) || wcsncmp(name, L"Zol", 3) != 0) return false;
    return GetWindowLongW(hwnd, SLOT_FACE) != 0;
}

namespace {
int64_t frequency() {
    static int64_t f = 0;
    if (!f) {
        LARGE_INTEGER q;
        QueryPerformanceFrequency(&q);
        f = q.QuadPart;
    }
    return f;
}
}  // namespace

void perf_counter_now(int64_t* slot) {
    frequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    *slot = now.QuadPart;
}

double elapsed_time(int64_t* slot) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return elapsed_ms(slot, now.QuadPart, frequency());
}

void com_release(void* object) {
    if (object) ((IUnknown*)object)->Release();
}

int32_t wide_length(const wchar_t* s) { return (int32_t)wcslen(s); }

}  // namespace gui

// --- faces and their windows ------------------------------------------------------------

namespace gui {

HWND face_handle(const cell* face) {
    if (face->type() != TYPE_OBJECT) return nullptr;
    cell* state_facet = object::values(face) + FACET_STATE;
    if (state_facet->type() != TYPE_BLOCK || block::length_of(state_facet) < 1) return nullptr;
    cell* head = block::head_cell(state_facet);
    return head->type() == TYPE_HANDLE ? (HWND)(uintptr_t)head->data2 : nullptr;
}

cell* get_face_obj(HWND hwnd) {
    int32_t slot = face_attached(hwnd) ? GetWindowLongW(hwnd, SLOT_FACE) : 0;
    return slot ? (cell*)slot_pool::cell_at(slot) : nullptr;
}

bool face_enabled(const cell* face) {
    cell f = *face;
    for (int depth = 0; f.type() == TYPE_OBJECT && depth < 1000; depth++) {
        cell* v = object::values(&f);
        const cell& enabled = v[FACET_ENABLED];
        if (enabled.type() == TYPE_NONE || (enabled.type() == TYPE_LOGIC && enabled.data1 == 0)) return false;
        f = v[FACET_PARENT];
    }
    return true;
}

HWND selected_window(HWND hwnd) {
    cell* face = get_face_obj(hwnd);
    if (!face) return nullptr;
    cell selected = object::values(face)[FACET_SELECTED];
    return selected.type() == TYPE_OBJECT ? face_handle(&selected) : nullptr;
}

void set_focus(HWND hwnd) {
    if (HWND h = selected_window(hwnd)) SetFocus(h);
}

void get_text_alt(const cell* face_in, int32_t index) {
    stack::TopMark mark;
    cell* face = stack::push(face_in);
    HWND h = face_handle(face);
    if (!h) return;
    LRESULT n = index < 0 ? SendMessageW(h, WM_GETTEXTLENGTH, 0, 0) : SendMessageW(h, CB_GETLBTEXTLEN, index, 0);
    if (n < 0) return;
    // The control's text is copied out whole before anything is allocated:
    // reading it sends messages, and those may run code and the collector.
    std::vector<wchar_t> units((size_t)n + 1, 0);
    int32_t length = 0;
    if (n > 0) {
        LRESULT got = index < 0 ? SendMessageW(h, WM_GETTEXT, (WPARAM)(n + 1), (LPARAM)units.data())
                                : SendMessageW(h, CB_GETLBTEXT, index, (LPARAM)units.data());
        length = got < 0 ? 0 : (int32_t)(got < n ? got : n);
    }
    clean_control_text(units.data(), &length);
    if (facet(face, FACET_TEXT)->type() != TYPE_STRING) {
        cell* fresh = string::make_at_unit(stack::push_cell(), (int32_t)n, 2);
        *facet(face, FACET_TEXT) = *fresh;
    }
    // The face's own string takes the text (scripts holding it see it
    // change), from its buffer's head: the whole text, whatever its index was.
    facet(face, FACET_TEXT)->data1 = 0;
    cell* text = stack::push(facet(face, FACET_TEXT));
    if (length == 0) string::reset(text);
    else unicode::load_utf16(units.data(), (uint32_t)length, text, nullptr, false);
    cell* field = stack::push(word::load("text"));
    ownership::set_deep(text, face, field);
}

// --- measuring text -------------------------------------------------------------------------

namespace {

// The text path of faces that draw their own text (base, rich-text, window,
// panel): the size in device pixels. Their own text layout is not built
// yet; until it is, a DirectWrite layout with the face's font stands in.
// False when there is nothing to measure with (no DirectWrite).
bool base_face_text_size(cell* face, cell* text, double* width, double* height) {
    stack::TopMark mark;
    cell* font = stack::push(facet(face, FACET_FONT));
    bool cached = font->type() == TYPE_OBJECT;
    IDWriteTextFormat* format = create_text_format(cached ? font : nullptr);
    if (!format) return false;
    IDWriteTextLayout* layout = create_text_layout(text, format, 0, 0);
    DWRITE_TEXT_METRICS m{};
    bool measured = layout && SUCCEEDED(layout->GetMetrics(&m));
    com_release(layout);
    if (!cached) format->Release();  // the font! keeps its own
    if (!measured) return false;
    *width = m.widthIncludingTrailingWhitespace * dpi.scale;
    *height = m.height * dpi.scale;
    return true;
}

// Other faces are measured as their control draws: with their GDI font, in
// the window's device context (the desktop's for a face without one).
void control_text_size(cell* face, cell* text, double* width, double* height) {
    stack::TopMark mark;
    cell* font = stack::push(facet(face, FACET_FONT));
    HFONT f = font->type() == TYPE_OBJECT ? get_font(nullptr, font) : state.default_font;
    // UTF-16 copied out before the calls below, which may send messages.
    int32_t n = 0;
    const uint16_t* units = text_utf16(text, &n, true);
    std::wstring w = units ? std::wstring((const wchar_t*)units, (size_t)n) : std::wstring();
    HWND h = face_handle(face);
    if (!h) h = GetDesktopWindow();
    HDC dc = GetDC(h);
    HGDIOBJ old = SelectObject(dc, f ? (HGDIOBJ)f : GetStockObject(DEFAULT_GUI_FONT));
    RECT r{0, 0, 2147483647, 0};
    DrawTextW(dc, w.c_str(), (int)w.size(), &r, DT_CALCRECT | DT_EXPANDTABS | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
}

}  // namespace

void get_text_size(const cell* face_in, const cell* text_in, double* width, double* height) {
    stack::TopMark mark;
    cell* face = stack::push(face_in);
    cell* text = stack::push(text_in);
    FaceType t = type_of(face);
    bool drawn = t == FaceType::base || t == FaceType::rich_text || t == FaceType::window || t == FaceType::panel;
    if (!drawn || !base_face_text_size(face, text, width, height)) control_text_size(face, text, width, height);
    *width = dpi_unscale(*width);
    *height = dpi_unscale(*height);
}

// --- scroll bars of faces --------------------------------------------------------------------

namespace {
int32_t whole_number(const cell* v) {
    if (v->type() == TYPE_INTEGER) return integer::get(v);
    if (v->type() != TYPE_FLOAT) return 0;
    double d = cell::get_float(v);
    return d > -2147483648.0 && d < 2147483648.0 ? (int32_t)d : 0;
}
}  // namespace

void update_scroller(const cell* scroller, int32_t kind) {
    const cell* v = object::values(scroller);
    HWND h = v[SCROLLER_PARENT].type() == TYPE_OBJECT ? face_handle(&v[SCROLLER_PARENT]) : nullptr;
    if (!h) return;
    // Everything is read before the calls: a bar that appears resizes the
    // client area, which reports to scripts.
    int bar = v[SCROLLER_VERTICAL].type() == TYPE_LOGIC && logic::get(&v[SCROLLER_VERTICAL]) ? SB_VERT : SB_HORZ;
    SCROLLINFO si{sizeof si, SIF_DISABLENOSCROLL, 1, whole_number(&v[SCROLLER_MAX_SIZE]),
                  (UINT)whole_number(&v[SCROLLER_PAGE_SIZE]), whole_number(&v[SCROLLER_POSITION]), 0};
    bool visible = v[SCROLLER_VISIBLE].type() == TYPE_LOGIC && logic::get(&v[SCROLLER_VISIBLE]);
    switch (kind) {
    case SCROLLER_POSITION: si.fMask |= SIF_POS; break;
    case SCROLLER_PAGE_SIZE:
    case SCROLLER_MAX_SIZE: si.fMask |= SIF_RANGE | SIF_PAGE; break;
    case SCROLLER_VISIBLE: ShowScrollBar(h, bar, visible); return;
    default: return;
    }
    SetScrollInfo(h, bar, &si, TRUE);
}

}  // namespace gui
