// The one event record and the translation of Windows messages into events.
#include <windows.h>

#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

namespace gui {

EventRecord event_record;

static int32_t no_dispatcher() { return 1; }
Awake awake = no_dispatcher;

namespace {
struct WindowsKeys : KeyMap {
    uint32_t vk_to_char(uint32_t vk) const override { return MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR); }
    uint32_t shift_from_scan(uint32_t scan) const override {
        return MapVirtualKeyW(scan, MAPVK_VSC_TO_VK_EX);
    }
};
const WindowsKeys windows_keys;
}  // namespace

uint32_t modifier_flags(bool keys_only) {
    KeyState k{GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_SHIFT) < 0,  GetKeyState(VK_MENU) < 0,
               GetKeyState(VK_LBUTTON) < 0, GetKeyState(VK_RBUTTON) < 0, GetKeyState(VK_MBUTTON) < 0,
               GetKeyState(VK_XBUTTON1) < 0};
    return gui::modifier_flags(k, keys_only);
}

uint32_t current_flags() {
    return state.modifier_override >= 0 ? (uint32_t)state.modifier_override : modifier_flags(false);
}

namespace {
// Runs the dispatcher under a try frame and a level that stops everything:
// no error, throw or pending code of an actor leaves through the window
// procedure or the pump. The frame matters as much as the C++ catch: the
// evaluator ends the program on an error raised with call frames on the
// stack but no catching frame among them, and turns a break, exit or throw
// that would cross a try frame into an error, which stops here too.
int32_t dispatch() {
    int32_t answer = 1;
    stack::Saved saved = stack::save();
    cell name{TYPE_WORD, 0, (uint32_t)stack::sym_anon, 0};
    stack::mark_try(&name);
    try {
        sys::catch_level(sys::LEVEL_ALL, [&] { answer = awake(); });
    } catch (...) {
        answer = 1;
    }
    sys::clear_throw();
    stack::restore(saved);
    return answer == 0 ? 0 : 1;
}
}  // namespace

// What a `select` or `change` reads back into its face before the event
// is made (reading sends messages, so it comes before the record is
// filled): a drop-down's chosen item; a control's own text, for a change
// with an argument, unless the face asked for no sync. Answers whether the
// face is a tab panel, whose change reports its position.
static bool read_back(const MSG* msg, uint32_t flags, int32_t type) {
    if (type != EVT_SELECT && type != EVT_CHANGE) return false;
    HWND h = msg_window(msg);
    cell* found = h != (HWND)-1 ? get_face_obj(h) : nullptr;
    if (!found) return false;
    stack::TopMark mark;
    cell* face = stack::push(found);
    FaceType t = type_of(face);
    if (type == EVT_SELECT) {
        if (t == FaceType::drop_down) get_text_alt(face, (int32_t)flags);
    } else if (t != FaceType::tab_panel && flags != 0 && !(get_flags(facet(face, FACET_FLAGS)) & FACE_NO_SYNC)) {
        get_text_alt(face, -1);
    }
    return t == FaceType::tab_panel;
}

int32_t make_event(const MSG* msg, uint32_t flags, int32_t type) {
    bool tab_panel = read_back(msg, flags, type);
    EventRecord& r = event_record;
    r.type = type;
    r.msg = *msg;
    r.key_flags = 0;
    switch (type) {
        case EVT_OVER: r.key_flags = flags; break;
        case EVT_KEY_DOWN:
        case EVT_KEY_UP: {
            KeyResult k = translate_key_down(state.translator, (uint32_t)msg->wParam, (uint32_t)msg->lParam,
                                             current_flags(), type == EVT_KEY_UP, windows_keys);
            if (!k.event) return 1;
            r.key_flags = k.key_flags;
            break;
        }
        case EVT_KEY: {
            KeyResult k = translate_char(state.translator, (uint32_t)msg->wParam, current_flags());
            if (!k.event) return 1;
            r.key_flags = k.key_flags;
            break;
        }
        case EVT_SELECT: r.key_flags = (flags + 1) & 0xFFFF; break;
        case EVT_CHANGE: r.key_flags = tab_panel ? flags & 0xFFFF : 0; break;
        case EVT_DOWN: case EVT_UP: case EVT_MID_DOWN: case EVT_MID_UP: case EVT_ALT_DOWN:
        case EVT_ALT_UP: case EVT_DBL_CLICK: case EVT_WHEEL:
            r.key_flags = flags | modifier_flags(false);
            break;
        case EVT_CLICK: r.key_flags = modifier_flags(true); break;
        case EVT_MENU: r.key_flags = flags & 0xFFFF; break;
        // Geometry events carry the packed position or size, scroll events the request.
        case EVT_MOVE: case EVT_RESIZE: case EVT_MOVING: case EVT_RESIZING: case EVT_SCROLL:
            r.key_flags = flags;
            break;
        default: break;
    }
    int32_t before = state.loops.loop_count;
    int32_t answer = dispatch();
    if (state.loops.loop_count < before) PostQuitMessage(0);
    return answer;
}

HWND msg_window(const MSG* msg) {
    HWND h = msg->hwnd;
    if (h && face_attached(h)) return h;
    if (h) {
        HWND parent = GetParent(h);
        if (parent && face_attached(parent)) return parent;
    }
    HWND under = WindowFromPoint(msg->pt);
    DWORD pid = 0;
    if (!under || (GetWindowThreadProcessId(under, &pid), pid != state.process_id) || under == GetConsoleWindow())
        return (HWND)-1;
    if (face_attached(under)) return under;
    HWND named = (HWND)GetWindowLongPtrW(under, GWLP_USERDATA);
    if (named && IsWindow(named) && face_attached(named)) return named;
    return (HWND)-1;
}

KeyValue event_key_value() {
    return event_key(event_record.type, state.translator.pending_key, event_record.key_flags);
}

double event_wheel_picked() { return wheel_notches((uint32_t)event_record.msg.wParam); }

POINT event_offset_pixels(bool* valid) {
    const MSG& m = event_record.msg;
    int32_t t = event_record.type;
    POINT p{(int16_t)LOWORD(m.lParam), (int16_t)HIWORD(m.lParam)};
    *valid = true;
    if (t == EVT_WHEEL) {
        ScreenToClient(m.hwnd, &p);
    } else if ((t >= EVT_DOWN && t <= EVT_OVER) || (t >= EVT_MOVE && t <= EVT_RESIZING)) {
        if (t == EVT_OVER && (event_record.key_flags & FLAG_AWAY)) {
            POINT origin{0, 0};
            ClientToScreen(m.hwnd, &origin);
            p = {m.pt.x - origin.x, m.pt.y - origin.y};
        }
    } else if (t == EVT_KEY || t == EVT_KEY_DOWN || t == EVT_KEY_UP) {
        DWORD pos = GetMessagePos();
        p = {(int16_t)LOWORD(pos), (int16_t)HIWORD(pos)};
        ScreenToClient(m.hwnd, &p);
    } else if (t == EVT_MENU) {
        p = state.last_right_client;
    } else {
        *valid = false;
    }
    return p;
}

}  // namespace gui
