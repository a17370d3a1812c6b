// The one message pump of the program and the pre-processing that turns
// keyboard and mouse messages into events.
#include <windows.h>

#include "runtime/sys.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

namespace gui {

namespace {
// Restores the modifier override however the loop is left.
struct OverrideScope {
    int32_t saved = state.modifier_override;
    OverrideScope() { state.modifier_override = -1; }
    ~OverrideScope() { state.modifier_override = saved; }
};

bool wants_every_move(HWND h) {
    return face_attached(h) && (GetWindowLongW(h, SLOT_FLAGS) & FACE_ALL_OVER);
}
bool is_base_face(HWND h) {
    cell* face = get_face_obj(h);
    return face && type_of(face) == FaceType::base;
}
}  // namespace

int32_t process_message(MSG* m) {
    HWND h = m->hwnd;
    uint32_t mouse = mouse_key_flags((uint32_t)m->wParam) | modifier_flags(true);
    switch (m->message) {
        case WM_KEYDOWN: {
            int32_t a = make_event(m, 0, EVT_KEY_DOWN);
            int32_t k = state.translator.pending_key;
            // A key without a character reports its `key` at once.
            if (a > 0 && k != NO_KEY && k != 16 && k != 17 && !(k >= 160 && k <= 165))
                a = make_event(m, 0, EVT_KEY);
            return a;
        }
        case WM_SYSKEYDOWN: return make_event(m, 0, EVT_KEY_DOWN);
        case WM_KEYUP:
        case WM_SYSKEYUP: return make_event(m, 0, EVT_KEY_UP);
        case WM_CHAR:
            state.translator.pending_key = NO_KEY;
            return make_event(m, 0, EVT_KEY);
        case WM_MOUSEMOVE:
            if (m->wParam & 0x8000) {  // a move made by send-event
                m->wParam &= ~(WPARAM)0x8000;
                if (IsWindowEnabled(h)) make_event(m, mouse, EVT_OVER);
                return 1;
            }
            if (m->lParam == state.last_mouse_position) return 0;
            state.last_mouse_position = m->lParam;
            if (IsWindowEnabled(h) && (h != state.hover_window || wants_every_move(h))) {
                if (h != state.hover_window) {
                    TRACKMOUSEEVENT t{16, TME_LEAVE, h, 0};
                    TrackMouseEvent(&t);
                }
                make_event(m, mouse, EVT_OVER);
            }
            state.hover_window = h;
            return 1;
        case WM_MOUSELEAVE:
            state.last_mouse_position = -1;
            make_event(m, mouse | FLAG_AWAY, EVT_OVER);
            if (state.hover_window == h) state.hover_window = nullptr;
            return 1;
        case WM_LBUTTONDOWN: {
            clear_menu_choice();
            state.down_window = h;
            int32_t a = make_event(m, mouse, EVT_DOWN);
            state.down_window = nullptr;
            return a;
        }
        case WM_LBUTTONUP: {
            bool synthetic = (m->wParam & 0x8000) != 0;  // a click made by send-event
            m->wParam &= ~(WPARAM)0x8000;
            state.up_window = h;
            if (GetCapture() == h && is_base_face(h)) ReleaseCapture();
            int32_t a = make_event(m, mouse, EVT_UP);
            state.up_window = nullptr;
            // A disabled control does not stay pushed after a made-up click.
            if (synthetic) {
                cell* face = get_face_obj(h);
                if (face && !face_enabled(face)) SendMessageW(h, BM_SETSTATE, 0, 0);
            }
            return a;
        }
        case WM_LBUTTONDBLCLK:
            clear_menu_choice();
            make_event(m, 0, EVT_DOWN);
            make_event(m, mouse, EVT_DBL_CLICK);
            return 1;
        case WM_RBUTTONDOWN:
            if (GetCapture()) return 1;
            state.last_right_client = {(int16_t)LOWORD(m->lParam), (int16_t)HIWORD(m->lParam)};
            state.last_right_screen = state.last_right_client;
            ClientToScreen(h, &state.last_right_screen);
            clear_menu_choice();
            {
                int32_t a = make_event(m, mouse, EVT_ALT_DOWN);
                if (context_menu && context_menu(h, state.last_right_screen)) return 0;
                return a;
            }
        case WM_RBUTTONUP: return make_event(m, mouse, EVT_ALT_UP);
        case WM_MBUTTONDOWN: return make_event(m, mouse, EVT_MID_DOWN);
        case WM_MBUTTONUP: return make_event(m, mouse, EVT_MID_UP);
        case WM_XBUTTONDOWN: return make_event(m, mouse, EVT_AUX_DOWN);
        case WM_XBUTTONUP: return make_event(m, mouse, EVT_AUX_UP);
        case WM_MOUSEWHEEL: return make_event(m, mouse_key_flags((uint32_t)m->wParam), EVT_WHEEL);
        default: return 1;
    }
}

bool do_events(bool no_wait) {
    OverrideScope scope;
    bool result = false;
    if (!no_wait) state.loops.enter_blocking();
    MSG msg;
    for (;;) {
        BOOL got = no_wait ? PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) : GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) break;
        if (msg.message == WM_QUIT) {
            // A one-message pass leaves the quit to the blocking loop it is for.
            PostQuitMessage((int)msg.wParam);
            break;
        }
        result = true;
        if (process_message(&msg) > 0) {
            MSG* saved = state.current_message;
            state.current_message = &msg;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            state.current_message = saved;
            sys::resume_pending();
        }
        if (no_wait) return result;
    }
    if (!no_wait && state.loops.blocking_ended()) PostQuitMessage(0);
    return result;
}

void exit_event_loop() { PostQuitMessage(0); }

}  // namespace gui
