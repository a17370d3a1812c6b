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

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "vezi/backend/core/color.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

namespace gui {

constexpr int32_t SLOT_LAST_POS = 52, SLOT_FRAME = 44, SLOT_SIZING = 36, SLOT_CURSOR = 32;
constexpr UINT WM_USER_SHOW_STATE = WM_USER + 2;

namespace {

// A copy of the face a window carries, on the argument stack, or null.
cell* face_of(HWND hwnd) {
    cell* f = get_face_obj(hwnd);
    return f ? stack::push(f) : nullptr;
}

bool has_state(const cell* face) { return face && facet(face, FACET_STATE)->type() == TYPE_BLOCK; }

// An event about `about`, made for the current message (a fake one from the
// cursor position when none is being dispatched).
int32_t event_for(HWND about, int32_t type, uint32_t flags = 0) {
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
    if (cell* win = face_of(root)) *facet(win, FACET_SELECTED) = *face;
}

static void set_data_logic(cell* face, LRESULT check) {
    cell* d = facet(face, FACET_DATA);
    if (check == BST_CHECKED) logic::make_at(d, true);
    else if (check == BST_INDETERMINATE) none::make_at(d);
    else logic::make_at(d, false);
}

void process_command(HWND hwnd, WPARAM w, LPARAM l) {
    if (l == 0 && LOWORD(w) <= 999 && menu_command) {
        menu_command(hwnd, LOWORD(w));
        return;
    }
    HWND control = (HWND)l;
    stack::TopMark mark;
    cell* face = control ? face_of(control) : nullptr;
    if (!face) return;
    FaceType t = type_of(face);
    switch (HIWORD(w)) {
    case 0: {  // BN_CLICKED
        if (t == FaceType::button) {
            select_in_root(control, face);
            event_for(control, EVT_CLICK);
        } else if (t == FaceType::toggle || t == FaceType::check) {
            if (t == FaceType::check && (get_flags(facet(face, FACET_FLAGS)) & face_flag_bit("tri-state"))) {
                // unchecked -> checked -> indeterminate -> unchecked
                LRESULT s = SendMessageW(control, BM_GETCHECK, 0, 0);
                WPARAM next = s == BST_UNCHECKED ? BST_CHECKED : s == BST_CHECKED ? BST_INDETERMINATE : BST_UNCHECKED;
                SendMessageW(control, BM_SETCHECK, next, 0);
            }
            set_data_logic(face, SendMessageW(control, BM_GETCHECK, 0, 0));
            select_in_root(control, face);
            event_for(control, EVT_CHANGE);
        } else if (t == FaceType::radio) {
            bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) & 1;
            if (checked || (GetKeyState(VK_TAB) & 0x8000)) break;
            SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
            set_data_logic(face, BST_CHECKED);
            select_in_root(control, face);
            event_for(control, EVT_CLICK);
        }
        break;
    }
    case 1: {  // LBN_SELCHANGE / CBN_SELCHANGE
        UINT get = t == FaceType::text_list ? LB_GETCURSEL : CB_GETCURSEL;
        int32_t index = (int32_t)SendMessageW(control, get, 0, 0);
        const cell* sel = facet(face, FACET_SELECTED);
        if (sel->type() == TYPE_INTEGER && integer::get(sel) == index + 1) break;
        int32_t answer = event_for(control, EVT_SELECT, (uint32_t)index);
        face = face_of(control);
        if (!has_state(face)) break;
        index = (int32_t)SendMessageW(control, get, 0, 0);
        sel = facet(face, FACET_SELECTED);
        if (sel->type() == TYPE_INTEGER && integer::get(sel) == index + 1) break;
        integer::make_at(facet(face, FACET_SELECTED), index + 1);
        if (answer == 1) event_for(control, EVT_CHANGE);
        break;
    }
    case 3:  // CBN_SETFOCUS
        if (t == FaceType::radio) {
            if (!(SendMessageW(control, BM_GETCHECK, 0, 0) & 1)) event_for(control, EVT_CHANGE);
        } else {
            select_in_root(control, face);
            event_for(control, EVT_FOCUS);
        }
        break;
    case 4: case 256:  // CBN_KILLFOCUS / LBN_SETFOCUS, EN_SETFOCUS
        select_in_root(control, face);
        if (t == FaceType::field || t == FaceType::area) set_edit_selection(control, face);
        event_for(control, t == FaceType::drop_down || t == FaceType::drop_list ? EVT_UNFOCUS : EVT_FOCUS);
        break;
    case 512:  // EN_KILLFOCUS
        event_for(control, EVT_UNFOCUS);
        break;
    case 768:  // EN_CHANGE
        if (state.current_message && get_face_obj(hwnd)) {
            get_text_alt(face, -1);
            event_for(control, EVT_CHANGE);
        }
        break;
    case 5:  // CBN_EDITCHANGE / LBN_KILLFOCUS
        if (t == FaceType::text_list) {
            event_for(control, EVT_UNFOCUS);
        } else if (t != FaceType::radio) {
            get_text_alt(face, -1);
            event_for(control, EVT_CHANGE);
        }
        break;
    default: break;
    }
}

// WM_HSCROLL / WM_VSCROLL from a control or from the window's own bars.
static void on_scroll(HWND hwnd, WPARAM w, LPARAM l) {
    if (!l) {
        event_for(hwnd, EVT_SCROLL, (uint32_t)LOWORD(w));
        return;
    }
    HWND control = (HWND)l;
    stack::TopMark mark;
    cell* face = face_of(control);
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
            int32_t step = (int32_t)(range * 0.01);  // line-step fraction of scroller faces
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
    event_for(control, EVT_CHANGE);
}

static LRESULT on_ctl_color(HWND control, HDC dc, UINT msg, bool* handled) {
    stack::TopMark mark;
    cell* face = face_of(control);
    *handled = false;
    if (!face) return 0;
    const cell* font = facet(face, FACET_FONT);
    bool font_color = false;
    if (font->type() == TYPE_OBJECT) {
        const cell* c = object::values(font) + FONT_COLOR;
        if (c->type() == TYPE_TUPLE) {
            SetTextColor(dc, to_colorref(tuple_rgba(c)) & 0xFFFFFF);
            font_color = true;
        }
    }
    const cell* color = facet(face, FACET_COLOR);
    if (color->type() == TYPE_TUPLE) {
        COLORREF bg = to_colorref(tuple_rgba(color)) & 0xFFFFFF;
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
        if (msg == WM_MOVE && (short)LOWORD(l) < -9999 && (short)HIWORD(l) < -9999) return 0;
        update_geometry(h, face, msg, l);
        event_for(h, msg == WM_MOVE ? EVT_MOVE : EVT_RESIZE, (uint32_t)l);
        if (msg == WM_SIZE) {
            stack::TopMark mark;
            cell* again = face_of(h);
            if (has_state(again) && (!state.in_size_move || w == SIZE_MAXIMIZED))
                event_for(h, EVT_RESIZE, (uint32_t)l);
        }
        return 0;
    }
    case WM_ACTIVATE:
        if (!is_window) break;
        if (LOWORD(w) != 0) {
            set_dpi_from_window(h);
            event_for(h, EVT_FOCUS);
            set_focus(h);
        } else {
            event_for(h, EVT_UNFOCUS);
        }
        return 0;
    case WM_CLOSE:
        if (GetWindowLongW(h, SLOT_CLOSING) == -1) {
            state.current_message = nullptr;
            break;
        }
        if (is_window) {
            SetFocus(h);
            if (event_for(h, EVT_CLOSE) == 0) {
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
        cell* uf = face_of(under);
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
            event_for(h, EVT_MINIMIZE);
        } else {
            RECT r;
            GetClientRect(h, &r);
            POINT o{0, 0};
            ClientToScreen(h, &o);
            bool as_pair = GetWindowLongW(h, SLOT_OPTIONS) & 0x10;
            write_point(face, FACET_SIZE, dpi_unscale(r.right), dpi_unscale(r.bottom), as_pair);
            write_point(face, FACET_OFFSET, dpi_unscale(o.x), dpi_unscale(o.y), false);
            event_for(h, style & WS_MAXIMIZE ? EVT_MAXIMIZE : EVT_RESTORE);
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
        event_for(h, msg == WM_MOVING ? EVT_MOVING : EVT_RESIZING, (uint32_t)packed);
        return 1;
    }
    case WM_ENTERSIZEMOVE:
        if (is_window) state.in_size_move = true;
        break;
    case WM_EXITSIZEMOVE:
        if (!is_window) break;
        state.in_size_move = false;
        event_for(h, GetWindowLongW(h, SLOT_SIZING) == EVT_MOVING ? EVT_MOVE : EVT_RESIZE);
        return 0;
    case WM_DPICHANGED: {
        if (!has_state(face)) return 0;
        set_dpi(LOWORD(w));
        auto* r = (RECT*)l;
        SetWindowPos(h, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (is_window) set_default_font(h);
        RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        return 0;
    }
    case WM_THEMECHANGED:
        if (is_window) set_default_font(h);
        break;
    case WM_USER_SHOW_STATE: {
        int cmd = w == EVT_MINIMIZE ? SW_MINIMIZE : w == EVT_MAXIMIZE ? SW_MAXIMIZE : SW_RESTORE;
        ShowWindow(h, cmd);
        return 0;
    }
    default: break;
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
            // The draw dialect paints faces with a draw block; until then the
            // first paint makes the window's render record.
            PAINTSTRUCT ps;
            BeginPaint(h, &ps);
            get_render_record(h);
            EndPaint(h, &ps);
            return 0;
        }
        case WM_DESTROY:
            if (auto* r = (RenderRecord*)GetWindowLongPtrW(h, SLOT_RENDER)) {
                SetWindowLongPtrW(h, SLOT_RENDER, 0);
                free_render_record(r);
            }
            return DefWindowProcW(h, msg, w, l);
        default: break;
        }
        stack::TopMark mark;
        cell* face = face_of(h);
        if (!face) return DefWindowProcW(h, msg, w, l);
        return face_message(h, msg, w, l, face);
    });
}

}  // namespace gui
