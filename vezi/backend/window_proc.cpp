// The window procedure of ZolWindow and ZolPanel: geometry, activation,
// painting, closing, DPI changes, and the notifications native controls
// send their parent, each turned into the event of the face it is about.
// Keyboard and mouse input was already turned into events by the pump.
//
// Every event goes through make_event, which stops whatever an actor
// raises; after an event the face may be gone (its state no longer a
// block), so the face is looked up again before it is touched.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "vezi/backend/core/color.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/vezi_objects.h"
#include "vezi/backend/widget_items.h"
#include "vezi/backend/widgets.h"
#include "vezi/backend/window_proc.h"

namespace gui {

DrawFaceHook draw_face_hook = nullptr;

constexpr int32_t SLOT_LAST_POS = 52, SLOT_FRAME = 44, SLOT_SIZING = 36, SLOT_CURSOR = 32;
constexpr UINT WM_USER_SHOW_STATE = WM_USER + 2;

// A copy of the face a window carries, on the argument stack, or null.
cell* pushed_face(HWND hwnd) {
    cell* f = get_face_obj(hwnd);
    return f ? stack::push(f) : nullptr;
}

bool face_alive(const cell* face) { return face && facet(face, FACET_STATE)->type() == TYPE_BLOCK; }

// An event about `about`, made for the current message (a fake one from the
// cursor position when none is being dispatched).
int32_t event_about(HWND about, int32_t type, uint32_t flags) {
    MSG m{};
    if (state.current_message) {
        m = *state.current_message;
    } else {
        DWORD pos = GetMessagePos();
        m.pt = POINT{(short)LOWORD(pos), (short)HIWORD(pos)};
        m.time = (DWORD)GetMessageTime();
    }
    m.hwnd = about;
    return make_event(&m, flags, type);
}

namespace {

void write_point(cell* face, Facet f, double x, double y, bool as_pair) {
    cell* c = facet(face, f);
    if (as_pair) pair::make_at(c, (int32_t)x, (int32_t)y);
    else point2D::make_in(c, (float)x, (float)y);
}

// The client origin relative to the window rectangle, measured once.
LONG frame_offset(HWND hwnd) {
    LONG packed = GetWindowLongW(hwnd, SLOT_FRAME);
    if (packed) return packed;
    RECT w, c;
    GetWindowRect(hwnd, &w);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    GetClientRect(hwnd, &c);
    packed = ((origin.x - w.left) << 16) | ((origin.y - w.top) & 0xFFFF);
    SetWindowLongW(hwnd, SLOT_FRAME, packed);
    return packed;
}

}  // namespace

// Writes the face's offset (a move) or size (a size) from lParam in logical
// units; answers the packed device value.
LPARAM update_geometry(HWND hwnd, cell* face, UINT msg, LPARAM l) {
    bool as_pair = GetWindowLongW(hwnd, SLOT_OPTIONS) & 0x10;
    int32_t x = (short)LOWORD(l), y = (short)HIWORD(l);
    if (msg == WM_MOVE) {
        SetWindowLongW(hwnd, SLOT_LAST_POS, (y << 16) | (x & 0xFFFF));
        write_point(face, FACET_OFFSET, dpi_unscale(x), dpi_unscale(y), false);
    } else {
        write_point(face, FACET_SIZE, dpi_unscale(x), dpi_unscale(y), as_pair);
    }
    return l;
}

// The root window's face takes the control's face as its `selected`.
static void select_in_root(HWND control, cell* face) {
    HWND root = GetAncestor(control, GA_ROOT);
    if (cell* win = pushed_face(root)) *facet(win, FACET_SELECTED) = *face;
}

static void set_data_logic(cell* face, LRESULT check) {
    cell* d = facet(face, FACET_DATA);
    if (check == BST_CHECKED) logic::make_at(d, true);
    else if (check == BST_INDETERMINATE) none::make_at(d);
    else logic::make_at(d, false);
}

void process_command(HWND hwnd, WPARAM w, LPARAM l) {
    if (menu_choice_command(hwnd, w, l)) return;
    HWND control = (HWND)l;
    stack::TopMark mark;
    cell* face = control ? pushed_face(control) : nullptr;
    if (!face) return;
    FaceType t = type_of(face);
    switch (HIWORD(w)) {
    case 0: {  // BN_CLICKED
        if (t == FaceType::button) {
            select_in_root(control, face);
            event_about(control, EVT_CLICK);
        } else if (t == FaceType::toggle || t == FaceType::check) {
            if (t == FaceType::check && (get_flags(facet(face, FACET_FLAGS)) & face_flag_bit("tri-state"))) {
                // unchecked -> checked -> indeterminate -> unchecked, from the
                // state the face held: a three-state button that steps itself
                // has done so before it notifies, so its own state cannot tell.
                const cell* d = facet(face, FACET_DATA);
                bool was_none = d->type() == TYPE_NONE, was_off = d->type() == TYPE_LOGIC && !logic::get(d);
                WPARAM next = was_off ? BST_CHECKED : was_none ? BST_UNCHECKED : BST_INDETERMINATE;
                SendMessageW(control, BM_SETCHECK, next, 0);
            }
            set_data_logic(face, SendMessageW(control, BM_GETCHECK, 0, 0));
            select_in_root(control, face);
            event_about(control, EVT_CHANGE);
        } else if (t == FaceType::radio) {
            bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) & 1;
            if (checked || (GetKeyState(VK_TAB) & 0x8000)) break;
            SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
            set_data_logic(face, BST_CHECKED);
            select_in_root(control, face);
            event_about(control, EVT_CLICK);
        }
        break;
    }
    case 1: {  // LBN_SELCHANGE / CBN_SELCHANGE
        UINT get = t == FaceType::text_list ? LB_GETCURSEL : CB_GETCURSEL;
        int32_t index = (int32_t)SendMessageW(control, get, 0, 0);
        const cell* sel = facet(face, FACET_SELECTED);
        if (sel->type() == TYPE_INTEGER && integer::get(sel) == index + 1) break;
        int32_t answer = event_about(control, EVT_SELECT, (uint32_t)index);
        face = pushed_face(control);
        if (!face_alive(face)) break;
        index = (int32_t)SendMessageW(control, get, 0, 0);
        sel = facet(face, FACET_SELECTED);
        if (sel->type() == TYPE_INTEGER && integer::get(sel) == index + 1) break;
        integer::make_at(facet(face, FACET_SELECTED), index + 1);
        if (answer == 1) event_about(control, EVT_CHANGE);
        break;
    }
    case 3:  // CBN_SETFOCUS
        if (t == FaceType::radio) {
            if (!(SendMessageW(control, BM_GETCHECK, 0, 0) & 1)) event_about(control, EVT_CHANGE);
        } else {
            select_in_root(control, face);
            event_about(control, EVT_FOCUS);
        }
        break;
    case 4: case 256:  // CBN_KILLFOCUS / LBN_SETFOCUS, EN_SETFOCUS
        select_in_root(control, face);
        if (t == FaceType::field || t == FaceType::area) set_edit_selection(control, face);
        event_about(control, t == FaceType::drop_down || t == FaceType::drop_list ? EVT_UNFOCUS : EVT_FOCUS);
        break;
    case 512:  // EN_KILLFOCUS
        event_about(control, EVT_UNFOCUS);
        break;
    case 768:  // EN_CHANGE
        if (state.current_message && get_face_obj(hwnd)) {
            event_about(control, EVT_CHANGE, (uint32_t)-1);  // the text is read back
            face = pushed_face(control);
            if (face_alive(face) && type_of(face) == FaceType::area) {
                // Room for the next edit, as for a paste of 16 characters.
                LRESULT want = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0) + 16;
                if (SendMessageW(control, EM_GETLIMITTEXT, 0, 0) < want)
                    SendMessageW(control, EM_SETLIMITTEXT, (WPARAM)(want + 32768), 0);
                update_area_scrollbars(control, nullptr);
            }
        }
        break;
    case 5:  // CBN_EDITCHANGE / LBN_KILLFOCUS
        if (t == FaceType::text_list) {
            event_about(control, EVT_UNFOCUS);
        } else if (t != FaceType::radio) {
            event_about(control, EVT_CHANGE, (uint32_t)-1);
        }
        break;
    default: break;
    }
}

// The line step of a scroll-bar face, a fraction of its range: the value
// that the Vezi layer puts after the facets of scroller faces, 1% without one.
static double line_step(const cell* face) {
    double f = object::word_count(face) > FACET_COUNT ? fraction(object::values(face) + FACET_COUNT) : -1.0;
    return f < 0 ? 0.01 : f;
}

// WM_HSCROLL / WM_VSCROLL from a control or from the window's own bars.
static void on_scroll(HWND hwnd, WPARAM w, LPARAM l) {
    if (!l) {
        event_about(hwnd, EVT_SCROLL, (uint32_t)LOWORD(w));
        return;
    }
    HWND control = (HWND)l;
    stack::TopMark mark;
    cell* face = pushed_face(control);
    if (!face) return;
    FaceType t = type_of(face);
    if (t == FaceType::slider) {
        RECT r;
        GetClientRect(control, &r);
        LRESULT pos = SendMessageW(control, TBM_GETPOS, 0, 0), max = SendMessageW(control, TBM_GETRANGEMAX, 0, 0);
        bool vertical = GetWindowLongW(control, GWL_STYLE) & TBS_VERT;
        double v = max > 0 ? (double)(vertical ? max - pos : pos) / (double)max : 0;
        cell* d = facet(face, FACET_DATA);
        d->header = TYPE_PERCENT;
        cell::set_float(d, v);
    } else if (t == FaceType::scroller) {
        SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
        GetScrollInfo(control, SB_CTL, &si);
        int32_t range = si.nMax - si.nMin;
        double page_fraction = fraction(facet(face, FACET_SELECTED));
        switch (LOWORD(w)) {
        case SB_LINEUP: case SB_LINEDOWN: {
            int32_t step = (int32_t)(range * line_step(face));
            si.nPos += LOWORD(w) == SB_LINEUP ? -step : step;
            si.nPos = si.nPos < si.nMin ? si.nMin : si.nPos > si.nMax ? si.nMax : si.nPos;
            break;
        }
        case SB_PAGEUP: case SB_PAGEDOWN: {
            int32_t step = (int32_t)(range * (page_fraction < 0 ? 0 : page_fraction));
            si.nPos += LOWORD(w) == SB_PAGEUP ? -step : step;
            break;
        }
        case SB_THUMBTRACK: si.nPos = (short)HIWORD(w); break;
        case SB_ENDSCROLL: return;
        default: break;
        }
        si.fMask = SIF_POS;
        SetScrollInfo(control, SB_CTL, &si, TRUE);
        cell* d = facet(face, FACET_DATA);
        d->header = TYPE_FLOAT;
        cell::set_float(d, range > 0 ? (double)(si.nPos - si.nMin) / range : 0);
        cell* s = facet(face, FACET_SELECTED);
        s->header = TYPE_PERCENT;
        cell::set_float(s, range > 0 ? (double)si.nPage / range : 0);
    }
    event_about(control, EVT_CHANGE);
}

static LRESULT on_ctl_color(HWND control, HDC dc, UINT msg, bool* handled) {
    stack::TopMark mark;
    cell* face = pushed_face(control);
    *handled = false;
    if (!face) return 0;
    const cell* font = facet(face, FACET_FONT);
    bool font_color = false;
    if (font->type() == TYPE_OBJECT) {
        const cell* c = object::values(font) + FONT_COLOR;
        if (c->type() == TYPE_TUPLE) {
            SetTextColor(dc, tuple_rgba(c) & 0xFFFFFF);
            font_color = true;
        }
    }
    const cell* color = facet(face, FACET_COLOR);
    if (color->type() == TYPE_TUPLE) {
        // GDI colours hold red, green and blue lowest byte first, as tuples do.
        COLORREF bg = tuple_rgba(color) & 0xFFFFFF;
        if (!font_color) SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, bg);
        SetDCBrushColor(dc, bg);
        *handled = true;
        return (LRESULT)GetStockObject(DC_BRUSH);
    }
    if (font_color) {
        *handled = true;
        if (msg == WM_CTLCOLORSTATIC) {
            SetBkMode(dc, TRANSPARENT);
            return (LRESULT)GetSysColorBrush(COLOR_BTNFACE);
        }
        return (LRESULT)GetStockObject(DC_BRUSH);
    }
    return 0;
}

// --- gestures ----------------------------------------------------------------------------------

GestureEvent gesture_event{};
ZoomTracker zoom_tracker;

// Looked up when first used: systems before gestures lack the entry.
static BOOL WINAPI system_gesture_info(HGESTUREINFO h, GESTUREINFO* info) {
    static auto read = (GestureInfoReader)(void*)GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetGestureInfo");
    return read ? read(h, info) : FALSE;
}
GestureInfoReader gesture_info = system_gesture_info;

// A gesture becomes the event of the child window under it (the window
// itself when no face's window is there).
static void on_gesture(HWND hwnd, LPARAM l) {
    GESTUREINFO gi{};
    gi.cbSize = sizeof gi;
    if (!gesture_info((HGESTUREINFO)l, &gi)) return;
    if (gesture_resets_zoom(gi.dwID)) {
        zoom_tracker.reset();
        return;
    }
    int32_t type = gesture_event_type(gi.dwID);
    if (!type) return;
    gesture_event.location = POINT{gi.ptsLocation.x, gi.ptsLocation.y};
    gesture_event.argument = (int64_t)gi.ullArguments;
    gesture_event.has_factor = type == EVT_ZOOM && zoom_tracker.step(gi.ullArguments, &gesture_event.factor);
    POINT p = gesture_event.location;
    ScreenToClient(hwnd, &p);
    HWND target = ChildWindowFromPointEx(hwnd, p, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (!target || !face_attached(target)) target = hwnd;
    event_about(target, type);
}

// --- minimum sizes ------------------------------------------------------------------------------

// Widens the tracking limits to the face's minimum client size plus the
// frame, at the window's DPI; false when nothing changed.
static bool widen_for_min_size(HWND h, cell* face, MINMAXINFO* mmi) {
    double mw, mh;
    if (!face_min_size(facet(face, FACET_OPTIONS), &mw, &mh)) return false;
    RECT wr, cr;
    GetWindowRect(h, &wr);
    GetClientRect(h, &cr);
    int32_t old = push_dpi(h);
    int32_t need_w = dpi_scale(mw) + (wr.right - wr.left) - cr.right;
    int32_t need_h = dpi_scale(mh) + (wr.bottom - wr.top) - cr.bottom;
    pop_dpi(old);
    TrackLimits t{mmi->ptMinTrackSize.x, mmi->ptMinTrackSize.y, mmi->ptMaxTrackSize.x, mmi->ptMaxTrackSize.y};
    if (!widen_tracking(&t, need_w, need_h)) return false;
    mmi->ptMinTrackSize = POINT{t.min_w, t.min_h};
    mmi->ptMaxTrackSize = POINT{t.max_w, t.max_h};
    return true;
}

// --- custom-drawn buttons -----------------------------------------------------------------------

// Buttons with a font draw their text in the font's colour, aligned by
// their para, past the box of a check or radio.
static LRESULT custom_draw_button(NMCUSTOMDRAW* cd) {
    if (cd->dwDrawStage != CDDS_PREPAINT) return 0;
    stack::TopMark mark;
    cell* face = pushed_face(cd->hdr.hwndFrom);
    if (!face) return 0;
    FaceType t = type_of(face);
    if (t != FaceType::button && t != FaceType::toggle && t != FaceType::check && t != FaceType::radio) return 0;
    const cell* font = facet(face, FACET_FONT);
    if (font->type() != TYPE_OBJECT) return 0;
    const cell* fc = object::values(font) + FONT_COLOR;
    uint32_t color = fc->type() == TYPE_TUPLE ? tuple_rgba(fc) : 0;
    const cell* para = facet(face, FACET_PARA);
    uint32_t style = 0;
    if (para->type() == TYPE_OBJECT) {
        const cell* p = object::values(para);
        style = para_flags(para_kind(facet(face, FACET_TYPE)), &p[PARA_ALIGN], &p[PARA_V_ALIGN], &p[PARA_WRAP]);
    }
    uint32_t format = button_text_format(style, para->type() == TYPE_OBJECT);
    std::wstring text;
    cell tc = *facet(face, FACET_TEXT);
    bool has_text = tc.type() == TYPE_STRING;
    if (has_text) {
        const uint16_t* w = unicode::to_utf16(&tc);
        if (w) text = (const wchar_t*)w;
    }
    RECT r = cd->rc;
    if (t == FaceType::check || t == FaceType::radio) r.left += dpi_scale(16);
    int mode = SetBkMode(cd->hdc, TRANSPARENT);
    // A GDI colour holds red, green and blue lowest byte first, as the tuple does.
    if (color & 0xFFFFFF) SetTextColor(cd->hdc, color & 0xFFFFFF);
    if (has_text) DrawTextW(cd->hdc, text.c_str(), (int)text.size(), &r, format);
    SetBkMode(cd->hdc, mode);
    return 0;
}

static LRESULT on_notify(NMHDR* hdr) {
    if (!hdr || !face_attached(hdr->hwndFrom)) return 0;
    switch ((int)hdr->code) {
    case (int)TCN_SELCHANGING: return tab_selecting(hdr->hwndFrom);
    case (int)TCN_SELCHANGE: tab_selected(hdr->hwndFrom); return 0;
    case (int)MCN_SELCHANGE: calendar_changed(hdr->hwndFrom); return 0;
    case (int)NM_CUSTOMDRAW: return custom_draw_button((NMCUSTOMDRAW*)hdr);
    default: return 0;
    }
}

// --- display and DPI changes ------------------------------------------------------------------


// Calls system/vezi/platform/refresh-screens; nothing it raises or throws
// leaves through the window procedure.
static void refresh_screens() {
    stack::TopMark mark;
    cell* platform = vezi_field("platform");
    if (!platform || platform->type() != TYPE_OBJECT) return;
    cell p = *platform;
    cell* fn = stack::push(object::select_word(&p, word::load("refresh-screens")));
    if (fn->type() != TYPE_FUNCTION) return;
    try {
        sys::catch_level(0xFFFFFFFFu, [&] {
            interpreter::catch_error([&] { interpreter::call_function(fn, stack::push_cell(), 0); });
        });
    } catch (...) {
    }
    sys::clear_throw();
}

// The screen faces of system/vezi/screens, scanned from the buffer's start,
// for the first whose `state` begins with this monitor's handle.
static cell* screen_of_monitor(HMONITOR monitor) {
    cell* screens = vezi_field("screens");
    if (!screens || screens->type() != TYPE_BLOCK) return nullptr;
    cell* blk = stack::push(screens);
    cell* start = block::cell_at(blk, 0);
    int32_t n = (int32_t)(block::tail_cell(blk) - start);
    for (int32_t i = 0; i < n; i++) {
        cell* sf = block::cell_at(blk, i);
        if (sf->type() != TYPE_OBJECT) continue;
        cell* st = facet(sf, FACET_STATE);
        if (st->type() != TYPE_BLOCK || block::length_of(st) < 1) continue;
        const cell* hc = block::head_cell(st);
        if (hc->type() == TYPE_HANDLE && hc->data1 == handle::MONITOR && hc->data2 == (uint32_t)(uintptr_t)monitor)
            return stack::push(sf);
    }
    return nullptr;
}

// Keeps a window face under the screen face of the monitor that shows it;
// moved windows go before the position its new pane is read from, as the
// screen refresh keeps them.
static void move_to_screen(HMONITOR monitor, cell* win_in, cell* old_in) {
    stack::TopMark mark;
    cell* win = stack::push(win_in);
    cell* old = stack::push(old_in);
    cell* target = screen_of_monitor(monitor);
    if (!target || object::context_of(target) == object::context_of(old)) return;
    bool found = false;
    if (facet(old, FACET_PANE)->type() == TYPE_BLOCK) {
        cell* old_pane = stack::push(facet(old, FACET_PANE));
        found = block::remove_value(old_pane, win, true);
    }
    cell* pane = stack::push(facet(target, FACET_PANE));
    if (pane->type() == TYPE_BLOCK) {
        if (found) {
            uint32_t head = pane->data1;
            block::insert_cells(pane, win, true, false);
            pane->data1 = head + 1;
            *facet(target, FACET_PANE) = *pane;
        } else {
            block::append_cell_copy(series::node_of(pane), win);
        }
    }
    *facet(win, FACET_PARENT) = *target;
}

static bool logical_xy(const cell* v, double* x, double* y) {
    if (v->type() == TYPE_PAIR) {
        *x = pair::x_of(v);
        *y = pair::y_of(v);
        return true;
    }
    if (v->type() == TYPE_POINT2D) {
        *x = point2D::component(v, 0);
        *y = point2D::component(v, 1);
        return true;
    }
    return false;
}

// The pane's windows move and size for the current DPI in one deferred
// batch (siblings only: a batch needs one parent), then take fonts made for
// it; panes inside them follow. A tab panel's pages sit beside it, over its
// display area: they are fitted and placed there again.
static void relayout_pane(cell* owner_in, std::vector<uintptr_t>* remade_fonts) {
    stack::TopMark mark;
    cell* owner = stack::push(owner_in);
    cell* pane = stack::push(facet(owner, FACET_PANE));
    if (pane->type() != TYPE_BLOCK) return;
    int32_t n = block::length_of(pane);
    if (type_of(owner) == FaceType::tab_panel) {
        if (HWND tab = face_handle(owner)) {
            update_tab_panel(tab, owner, FACET_OFFSET);
            update_tab_panel(tab, owner, FACET_SIZE);
        }
        n = 0;  // no batch: the pages are not the control's children
    }
    HDWP dwp = n > 0 ? BeginDeferWindowPos(32) : nullptr;
    for (int32_t i = 0; i < n; i++) {
        cell* f = block::head_cell(pane) + i;
        if (f->type() != TYPE_OBJECT) continue;
        HWND h = face_handle(f);
        if (!h) continue;
        double x = 0, y = 0, w = 0, ht = 0;
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (!logical_xy(facet(f, FACET_OFFSET), &x, &y)) flags |= SWP_NOMOVE;
        if (!logical_xy(facet(f, FACET_SIZE), &w, &ht)) flags |= SWP_NOSIZE;
        int32_t dx = dpi_scale(x), dy = dpi_scale(y), dw = dpi_scale(w), dh = dpi_scale(ht);
        if (dwp) dwp = DeferWindowPos(dwp, h, nullptr, dx, dy, dw, dh, flags);
        else SetWindowPos(h, nullptr, dx, dy, dw, dh, flags);
    }
    if (dwp) EndDeferWindowPos(dwp);
    for (int32_t i = 0; i < block::length_of(pane); i++) {
        cell* f = stack::push(block::head_cell(pane) + i);
        HWND h = f->type() == TYPE_OBJECT ? face_handle(f) : nullptr;
        if (!h) continue;
        cell* font = stack::push(facet(f, FACET_FONT));
        HFONT hf = state.default_font;
        if (font->type() == TYPE_OBJECT) {
            uintptr_t id = (uintptr_t)object::context_of(font);
            bool done = false;
            for (uintptr_t r : *remade_fonts) done = done || r == id;
            if (done) {
                hf = get_font(f, font);
            } else {
                remade_fonts->push_back(id);
                hf = make_font(f, font, true);
            }
        }
        SendMessageW(h, WM_SETFONT, (WPARAM)hf, TRUE);
        relayout_pane(f, remade_fonts);
    }
}

static void relayout_for_dpi(HWND h, cell* face) {
    set_default_font(h);
    set_metrics();
    std::vector<uintptr_t> remade;
    relayout_pane(face, &remade);
}

static LRESULT face_message(HWND h, UINT msg, WPARAM w, LPARAM l, cell* face) {
    const bool is_window = type_of(face) == FaceType::window;
    switch (msg) {
    case WM_SIZE:
        if (auto* r = (RenderRecord*)GetWindowLongPtrW(h, SLOT_RENDER))
            resize_swapchain(r, LOWORD(l), HIWORD(l));
        InvalidateRect(h, nullptr, TRUE);
        [[fallthrough]];
    case WM_MOVE: {
        if (!is_window) break;
        if (msg == WM_SIZE && w == SIZE_MINIMIZED) return 0;
        // A minimized window is moved out of sight (-32000, -32000), or to
        // its icon's place where minimized windows are arranged: neither is
        // where the face is.
        if (msg == WM_MOVE && (IsIconic(h) || ((short)LOWORD(l) < -9999 && (short)HIWORD(l) < -9999))) return 0;
        update_geometry(h, face, msg, l);
        event_about(h, msg == WM_MOVE ? EVT_MOVE : EVT_RESIZE, (uint32_t)l);
        if (msg == WM_SIZE) {
            stack::TopMark mark;
            cell* again = pushed_face(h);
            if (face_alive(again) && (!state.in_size_move || w == SIZE_MAXIMIZED))
                event_about(h, EVT_RESIZE, (uint32_t)l);
        }
        return 0;
    }
    case WM_ACTIVATE:
        if (!is_window) break;
        if (LOWORD(w) != 0) {
            set_dpi_from_window(h);
            event_about(h, EVT_FOCUS);
            set_focus(h);
        } else {
            event_about(h, EVT_UNFOCUS);
        }
        return 0;
    case WM_CLOSE:
        if (GetWindowLongW(h, SLOT_CLOSING) == -1) {
            state.current_message = nullptr;
            break;
        }
        if (is_window) {
            SetFocus(h);
            if (event_about(h, EVT_CLOSE) == 0) {
                state.current_message = nullptr;
                PostQuitMessage(0);
            }
            return 0;
        }
        break;
    case WM_ERASEBKGND: {
        if (facet(face, FACET_DRAW)->type() == TYPE_BLOCK) return 1;
        const cell* parent = facet(face, FACET_PARENT);
        if (parent->type() == TYPE_OBJECT && type_of(parent) == FaceType::tab_panel) {
            RECT r;
            GetClientRect(h, &r);
            FillRect((HDC)w, &r, GetSysColorBrush(COLOR_WINDOW));
            return 1;
        }
        break;
    }
    case WM_SETCURSOR: {
        HWND under = (HWND)w;
        LONG_PTR c = GetWindowLongPtrW(under, SLOT_CURSOR);
        if (!c || !face_attached(under)) break;
        stack::TopMark mark;
        cell* uf = pushed_face(under);
        FaceType ut = uf ? type_of(uf) : FaceType::unknown;
        if ((ut == FaceType::base || ut == FaceType::rich_text) && !(c & 0x80000000)) return 0;
        SetCursor((HCURSOR)(c & 0x7FFFFFFF));
        return 1;
    }
    case WM_WINDOWPOSCHANGED: {
        auto* pos = (WINDOWPOS*)l;
        if (!is_window || !(pos->flags & 0x8000)) break;  // SWP_STATECHANGED
        LONG style = GetWindowLongW(h, GWL_STYLE);
        if (style & WS_MINIMIZE) {
            event_about(h, EVT_MINIMIZE);
        } else {
            RECT r;
            GetClientRect(h, &r);
            POINT o{0, 0};
            ClientToScreen(h, &o);
            bool as_pair = GetWindowLongW(h, SLOT_OPTIONS) & 0x10;
            write_point(face, FACET_SIZE, dpi_unscale(r.right), dpi_unscale(r.bottom), as_pair);
            write_point(face, FACET_OFFSET, dpi_unscale(o.x), dpi_unscale(o.y), false);
            event_about(h, style & WS_MAXIMIZE ? EVT_MAXIMIZE : EVT_RESTORE);
        }
        break;
    }
    case WM_COMMAND: process_command(h, w, l); return 0;
    case WM_HSCROLL: case WM_VSCROLL: on_scroll(h, w, l); return 0;
    case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORSTATIC: {
        bool handled;
        LRESULT brush = on_ctl_color((HWND)l, (HDC)w, msg, &handled);
        if (handled) return brush;
        break;
    }
    case WM_LBUTTONDOWN: SetCapture(h); return 0;
    case WM_LBUTTONUP: ReleaseCapture(); return 0;
    case WM_MOVING: case WM_SIZING: {
        if (!is_window) break;
        LONG frame = frame_offset(h);
        int32_t fx = frame >> 16, fy = (short)(frame & 0xFFFF);
        auto* r = (RECT*)l;
        LPARAM packed;
        if (msg == WM_MOVING) {
            int32_t x = r->left + fx, y = r->top + fy;
            SetWindowLongW(h, SLOT_LAST_POS, (y << 16) | (x & 0xFFFF));
            SetWindowLongW(h, SLOT_SIZING, EVT_MOVING);
            write_point(face, FACET_OFFSET, dpi_unscale(x), dpi_unscale(y), false);
            packed = MAKELPARAM(x, y);
        } else {
            RECT client{0, 0, 0, 0};
            AdjustWindowRectEx(&client, (DWORD)GetWindowLongW(h, GWL_STYLE), GetMenu(h) != nullptr,
                               (DWORD)GetWindowLongW(h, GWL_EXSTYLE));
            int32_t cw = (r->right - r->left) - (client.right - client.left);
            int32_t ch = (r->bottom - r->top) - (client.bottom - client.top);
            SetWindowLongW(h, SLOT_SIZING, EVT_RESIZING);
            write_point(face, FACET_SIZE, dpi_unscale(cw), dpi_unscale(ch), GetWindowLongW(h, SLOT_OPTIONS) & 0x10);
            packed = MAKELPARAM(cw, ch);
        }
        event_about(h, msg == WM_MOVING ? EVT_MOVING : EVT_RESIZING, (uint32_t)packed);
        return 1;
    }
    case WM_ENTERSIZEMOVE:
        if (is_window) state.in_size_move = true;
        break;
    case WM_EXITSIZEMOVE:
        if (!is_window) break;
        state.in_size_move = false;
        event_about(h, GetWindowLongW(h, SLOT_SIZING) == EVT_MOVING ? EVT_MOVE : EVT_RESIZE);
        return 0;
    case WM_DPICHANGED: {
        if (!face_alive(face)) return 0;
        if (is_window && facet(face, FACET_PARENT)->type() == TYPE_OBJECT) {
            cell* screen = stack::push(facet(face, FACET_PARENT));
            move_to_screen(MonitorFromWindow(h, MONITOR_DEFAULTTONEAREST), face, screen);
        }
        set_dpi(LOWORD(w));
        RECT r = *(RECT*)l;
        SetWindowPos(h, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (is_window && face_alive(face)) relayout_for_dpi(h, face);
        RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        return 0;
    }
    case WM_THEMECHANGED:
        if (is_window) relayout_for_dpi(h, face);
        break;
    case WM_DISPLAYCHANGE:
        refresh_screens();
        RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        break;
    case WM_GETMINMAXINFO:
        if (is_window && widen_for_min_size(h, face, (MINMAXINFO*)l)) return 0;
        break;
    case WM_NOTIFY:
        if (LRESULT r = on_notify((NMHDR*)l)) return r;
        break;
    case WM_GESTURE: on_gesture(h, l); break;  // the default closes the info handle
    case WM_MENUSELECT: remember_menu_choice(w, l); return 0;
    case WM_ENTERMENULOOP:
        if (w == 0) clear_menu_choice();  // a menu bar: no context menu's choice is pending
        break;
    case WM_USER_SHOW_STATE: {
        int cmd = w == EVT_MINIMIZE ? SW_MINIMIZE : w == EVT_MAXIMIZE ? SW_MAXIMIZE : SW_RESTORE;
        ShowWindow(h, cmd);
        return 0;
    }
    default:
        extra_type_messages(h, msg, w, l);
        break;
    }
    return DefWindowProcW(h, msg, w, l);
}

LRESULT CALLBACK window_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return sys::from_platform<LRESULT>(0, [&]() -> LRESULT {
        switch (msg) {
        case WM_NCCREATE:
            if (GetWindowLongW(h, SLOT_FACE) == 0) {
                auto* cs = (CREATESTRUCTW*)l;
                if (cs->lpCreateParams) SetWindowLongW(h, SLOT_FACE, (LONG)(intptr_t)cs->lpCreateParams);
            }
            return DefWindowProcW(h, msg, w, l);
        case WM_PAINT: {
            // The first paint makes the window's render record; a face with a
            // draw block is painted on it. The paint ends however the drawing
            // does: a window left invalid would be sent WM_PAINT for ever.
            struct Paint {
                HWND h;
                PAINTSTRUCT ps;
                explicit Paint(HWND w) : h(w) { BeginPaint(h, &ps); }
                ~Paint() { EndPaint(h, &ps); }
            } paint(h);
            get_render_record(h);
            stack::TopMark mark;
            cell* face = pushed_face(h);
            if (face && facet(face, FACET_DRAW)->type() == TYPE_BLOCK && draw_face_hook) draw_face_hook(h, face);
            return 0;
        }
        case WM_DESTROY:
            if (GetWindowLongW(h, SLOT_OPTIONS) & 0x8) DestroyCaret();
            if (auto* r = (RenderRecord*)GetWindowLongPtrW(h, SLOT_RENDER)) {
                SetWindowLongPtrW(h, SLOT_RENDER, 0);
                free_render_record(r);
            }
            return DefWindowProcW(h, msg, w, l);
        default: break;
        }
        stack::TopMark mark;
        cell* face = pushed_face(h);
        if (!face) return DefWindowProcW(h, msg, w, l);
        return face_message(h, msg, w, l, face);
    });
}

}  // namespace gui
