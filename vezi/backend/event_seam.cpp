// The backend's side of event!: the event cell handed to the dispatcher
// points at the one event record, and the fields a script reads are
// computed from it by the getters installed here.
#include <windows.h>
#include <commctrl.h>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/event.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/core/words.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/vezi_objects.h"
#include "vezi/backend/window_proc.h"

namespace gui {

namespace {

const EventRecord& record_of(const cell* e) { return *(const EventRecord*)(uintptr_t)e->data2; }

void none_in(cell* result) { series::make_none(result); }

void face_of_window(HWND h, cell* result) {
    cell* face = h && h != (HWND)-1 ? get_face_obj(h) : nullptr;
    if (face) *result = *face;
    else none_in(result);
}

void get_face(const cell* e, cell* result) { face_of_window(msg_window(&record_of(e).msg), result); }

void get_window(const cell* e, cell* result) {
    HWND h = record_of(e).msg.hwnd;
    face_of_window(h ? GetAncestor(h, GA_ROOTOWNER) : nullptr, result);
}

void get_offset(const cell* e, cell* result) {
    const EventRecord& r = record_of(e);
    // A gesture's location is reported as the system gives it, on the screen.
    if (is_gesture_event(r.type)) {
        point2D::make_in(result, (float)gesture_event.location.x, (float)gesture_event.location.y);
        return;
    }
    bool valid = false;
    POINT p = event_offset_pixels(&valid);
    if (!valid) return none_in(result);
    // A face may ask for its sizes as pairs (option bit 0x10).
    if ((r.type == EVT_RESIZE || r.type == EVT_RESIZING) && face_attached(r.msg.hwnd) &&
        (GetWindowLongW(r.msg.hwnd, SLOT_OPTIONS) & 0x10)) {
        pair::make_at(result, (int32_t)dpi_unscale(p.x), (int32_t)dpi_unscale(p.y));
        return;
    }
    point2D::make_in(result, (float)dpi_unscale(p.x), (float)dpi_unscale(p.y));
}

void get_key(const cell* e, cell* result) {
    const EventRecord& r = record_of(e);
    if (r.type == EVT_SCROLL) {
        *result = *word::load(scroll_key((uint32_t)r.msg.wParam, r.msg.message == WM_VSCROLL));
        return;
    }
    KeyValue k = event_key(r.type, state.translator.pending_key, r.key_flags);
    switch (k.kind) {
        case KeyValue::character: char_::make_at(result, (int32_t)k.code); break;
        case KeyValue::named: *result = *word::load(k.word); break;
        default: none_in(result); break;
    }
}

void get_picked(const cell* e, cell* result) {
    const EventRecord& r = record_of(e);
    if (r.type == EVT_WHEEL) {
        series::make_integer(result, 0);
        cell::set_header(result, TYPE_FLOAT);
        cell::set_float(result, wheel_notches((uint32_t)r.msg.wParam));
        return;
    }
    if (r.type == EVT_ZOOM) {
        if (!gesture_event.has_factor) return none_in(result);
        series::make_integer(result, 0);
        cell::set_header(result, TYPE_PERCENT);
        cell::set_float(result, gesture_event.factor);
        return;
    }
    if (is_gesture_event(r.type)) {
        series::make_integer(result, (int32_t)gesture_event.argument);
        return;
    }
    switch (r.type) {
        case EVT_DOWN: case EVT_MID_DOWN: case EVT_ALT_DOWN: case EVT_AUX_DOWN: case EVT_DBL_CLICK: {
            // The list item under the point, counted from 1.
            POINT p{(int16_t)LOWORD(r.msg.lParam), (int16_t)HIWORD(r.msg.lParam)};
            ClientToScreen(r.msg.hwnd, &p);
            int item = LBItemFromPt(r.msg.hwnd, p, FALSE);
            if (item < 0) return none_in(result);
            series::make_integer(result, item + 1);
            return;
        }
        case EVT_SCROLL: {
            SCROLLINFO si{sizeof si, SIF_POS | SIF_TRACKPOS};
            GetScrollInfo(r.msg.hwnd, r.msg.message == WM_VSCROLL ? SB_VERT : SB_HORZ, &si);
            series::make_integer(result, si.nTrackPos);
            return;
        }
        case EVT_MENU: {
            // The word of the chosen item, its symbol in the low 16 bits;
            // 0xFFFF is an item without one.
            int32_t sym = (int32_t)(r.key_flags & 0xFFFF);
            if (sym == 0xFFFF || sym <= 0 || sym > symbol::count()) return none_in(result);
            stack::TopMark mark;
            *result = *word::push_new(sym);
            return;
        }
        default: series::make_integer(result, (int16_t)(r.key_flags & 0xFFFF));
    }
}

// A new block at each read: a script that keeps the flags of one event (a
// recording dispatcher does) must not see them turn into the next event's.
void get_flags(const cell* e, cell* result) {
    const char* words[8];
    int32_t n = event_flag_words(record_of(e).key_flags, words);
    block::make_at(result, n);
    memory::Node* node = series::node_of(result);
    for (int32_t i = 0; i < n; i++) word::append_load(words[i], node);
}

void get_orientation(const cell* e, cell* result) {
    const EventRecord& r = record_of(e);
    if (r.type != EVT_SCROLL) return none_in(result);
    *result = *word::load(r.msg.message == WM_VSCROLL ? "vertical" : "horizontal");
}

Spelling answer_words[] = {{"stop", 0}};
GUI_SPELLINGS(answer_words);

bool test_flag(uint32_t flags, uint32_t mask) { return (flags & mask) != 0; }

// --- send-event: a script-made event as native messages -------------------------------

UINT message_for(int32_t type, uint32_t flags, WPARAM* w) {
    switch (type) {
        case EVT_DOWN: *w = MK_LBUTTON; return WM_LBUTTONDOWN;
        case EVT_UP: return WM_LBUTTONUP;
        case EVT_MID_DOWN: *w = MK_MBUTTON; return WM_MBUTTONDOWN;
        case EVT_MID_UP: return WM_MBUTTONUP;
        case EVT_ALT_DOWN: *w = MK_RBUTTON; return WM_RBUTTONDOWN;
        case EVT_ALT_UP: return WM_RBUTTONUP;
        case EVT_AUX_DOWN: *w = 0x10020; return WM_XBUTTONDOWN;
        case EVT_AUX_UP: *w = 0x10000; return WM_XBUTTONUP;
        case EVT_DBL_CLICK: *w = MK_LBUTTON; return WM_LBUTTONDBLCLK;
        case EVT_WHEEL: return WM_MOUSEWHEEL;
        case EVT_OVER: return flags & FLAG_AWAY ? WM_MOUSELEAVE : WM_MOUSEMOVE;
        case EVT_KEY: *w = flags & 0xFFFF; return WM_CHAR;
        case EVT_KEY_DOWN: *w = VkKeyScanW((WCHAR)(flags & 0xFFFF)) & 0xFF; return WM_KEYDOWN;
        case EVT_KEY_UP: *w = VkKeyScanW((WCHAR)(flags & 0xFFFF)) & 0xFF; return WM_KEYUP;
        default: return 0;
    }
}

bool is_mouse(UINT m) { return m != WM_CHAR && m != WM_KEYDOWN && m != WM_KEYUP; }

Spelling window_word[] = {{"window", 0}};
GUI_SPELLINGS(window_word);

bool send_window_command(HWND h, const cell* face, int32_t type, bool post) {
    if (find_word(&object::values(face)[FACET_TYPE], window_word, 1) != 0) return false;
    LONG style = GetWindowLongW(h, GWL_STYLE);
    if ((type == EVT_MINIMIZE && !(style & WS_MINIMIZEBOX)) || (type == EVT_MAXIMIZE && !(style & WS_MAXIMIZEBOX)))
        return false;
    if (post) return PostMessageW(h, WM_USER + 2, (WPARAM)type, 0) != 0;
    if (type == EVT_MINIMIZE) SendMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    else if (type == EVT_MAXIMIZE) SendMessageW(h, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    else {
        if (IsIconic(h) || IsZoomed(h)) ShowWindow(h, SW_SHOWNORMAL);
        if (face_attached(h)) {
            SetForegroundWindow(h);
            set_focus(h);
        }
    }
    return true;
}

bool send(const cell* e, bool post) {
    // A script-made event carries [face window offset picked].
    if (!(e->header & event::SCRIPT_MADE)) return false;
    const cell* values = block::cells_of((memory::Node*)(uintptr_t)e->data2);
    cell face = values[0], offset = values[2], picked = values[3];
    HWND h = face_handle(&face);
    if (!h) return false;
    int32_t type = (int32_t)e->data1;
    uint32_t flags = e->data3;
    if (type >= EVT_MINIMIZE) return send_window_command(h, &face, type, post);
    WPARAM w = 0;
    UINT msg = message_for(type, flags, &w);
    if (!msg) return false;
    LPARAM l = 0;
    POINT pt{0, 0};
    if (is_mouse(msg)) {
        if (flags & FLAG_CONTROL) w |= MK_CONTROL;
        if (flags & FLAG_SHIFT) w |= MK_SHIFT;
        if (flags & FLAG_DOWN) w |= MK_LBUTTON;
        if (flags & FLAG_ALT_DOWN) w |= MK_RBUTTON;
        if (flags & FLAG_MID_DOWN) w |= MK_MBUTTON;
        if (flags & FLAG_AUX_DOWN) w |= MK_XBUTTON1;
        if (offset.type() == TYPE_PAIR) pt = {dpi_scale((int32_t)offset.data2), dpi_scale((int32_t)offset.data3)};
        else if (offset.type() == TYPE_POINT2D)
            pt = {dpi_scale(point2D::component(&offset, 0)), dpi_scale(point2D::component(&offset, 1))};
        POINT screen = pt;
        ClientToScreen(h, &screen);
        if (msg == WM_MOUSEWHEEL) {
            pt = screen;
            if (picked.type() == TYPE_INTEGER) w += (WPARAM)((int32_t)picked.data2 * 0x780000);
        }
        l = (LPARAM)((pt.y << 16) | (pt.x & 0xFFFF));
        if (msg == WM_MOUSEMOVE) state.last_mouse_position = -1;
        if (msg == WM_MOUSEMOVE || msg == WM_LBUTTONUP) w |= 0x8000;
        if (msg == WM_MOUSELEAVE) pt = screen;
    }
    if (post) return PostMessageW(h, msg, w, l) != 0;
    MSG m{h, msg, w, l, 0, pt};
    int32_t saved_override = state.modifier_override;
    if (!is_mouse(msg)) state.modifier_override = (int32_t)(flags & 0x73C00000);
    if (process_message(&m) > 0) {
        MSG* saved = state.current_message;
        state.current_message = &m;
        DispatchMessageW(&m);
        state.current_message = saved;
    }
    state.modifier_override = saved_override;
    sys::resume_pending();
    return true;
}

// system/vezi/awake, when the language layer has made it.
bool find_awake(cell* out) {
    cell* awake = vezi_field("awake");
    if (!awake) return false;
    if (awake->type() != TYPE_FUNCTION && awake->type() != TYPE_ROUTINE && awake->type() != TYPE_NATIVE)
        return false;
    *out = *awake;
    return true;
}

// Calls system/vezi/awake with the event, false for /with and none.
int32_t zol_awake() {
    stack::TopMark mark;
    cell* fn = stack::push_cell();
    if (!find_awake(fn)) return 1;
    cell* args = stack::push_cell();
    stack::push_cell();
    stack::push_cell();
    event::make_at(args, event_record.type, (uint32_t)(uintptr_t)&event_record, event_record.key_flags);
    series::make_logic(args + 1, false);
    series::make_none(args + 2);
    cell* result = interpreter::call_function(fn, args, 3);
    return find_word(result, answer_words, 1) == 0 ? 0 : 1;
}

}  // namespace

void install_event_seam() {
    event::backend = {get_face, get_window, get_offset, get_key, get_picked, get_flags, get_orientation,
                      test_flag, send};
    awake = zol_awake;
}

}  // namespace gui
