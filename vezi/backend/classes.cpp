// The program's window classes: five of its own and eleven that superclass
// a system control, every one with the 80 extra bytes of window slots.
#include <windows.h>

#include <string>
#include <vector>

#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/word.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/words.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/gui.h"

namespace gui {

MenuCommand menu_command = nullptr;
ContextMenu context_menu = nullptr;

// --- additional face types ------------------------------------------------------------------

namespace {
struct ExtraEntry {
    ExtraClass entry;
    std::wstring class_name;  // what entry.class_name points at
};
// Entries are never removed, and their names must not move: a list of
// single allocations.
std::vector<ExtraEntry*> extra_classes;
}  // namespace

void add_extra_face_type(const char* type_word, ExtraTypeCallback callback, const wchar_t* class_name,
                         DWORD ex_style, DWORD style, HMENU menu) {
    auto* e = new ExtraEntry{{word_symbol(word::load(type_word)), nullptr, ex_style, style, menu, callback},
                             class_name ? class_name : L""};
    e->entry.class_name = class_name ? e->class_name.c_str() : nullptr;
    extra_classes.push_back(e);
}

const ExtraClass* find_class(const cell* type_word) {
    int32_t sym = word_symbol(type_word);
    if (!sym) return nullptr;
    for (ExtraEntry* e : extra_classes)
        if (e->entry.type_symbol == sym && e->entry.class_name) return &e->entry;
    return nullptr;
}

void extra_type_messages(HWND h, UINT msg, WPARAM w, LPARAM l) {
    for (size_t i = 0; i < extra_classes.size(); i++)
        if (extra_classes[i]->entry.callback) extra_classes[i]->entry.callback(h, msg, w, l);
}

void remember_menu_choice(WPARAM w, LPARAM l) {
    if (w == 0xFFFF0000) return;
    state.combo_item = (int16_t)LOWORD(w);
    state.combo_menu = (HMENU)l;
}

void clear_menu_choice() {
    state.combo_item = -1;
    state.combo_menu = nullptr;
}

bool menu_choice_command(HWND hwnd, WPARAM w, LPARAM l) {
    if (l != 0 || w > 999 || !state.combo_menu) return false;
    if (menu_command) menu_command(hwnd, (int32_t)w);
    return true;
}

WNDPROC register_class(const wchar_t* name, const wchar_t* base, WNDPROC proc, bool system) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(system ? nullptr : state.instance, base, &wc))
        sys::print({sys::PrintItem::String("*** Error in GetClassInfoEx")});
    wc.cbSize = 48;
    wc.cbWndExtra = WINDOW_EXTRA;
    wc.hInstance = state.instance;
    wc.lpszClassName = name;
    WNDPROC base_proc = nullptr;
    if (proc) {
        base_proc = wc.lpfnWndProc;
        wc.lpfnWndProc = proc;
    }
    RegisterClassExW(&wc);
    return base_proc;
}

namespace {

// Calls the system procedure a superclass stands in front of.
LRESULT base(WNDPROC proc, HWND h, UINT msg, WPARAM w, LPARAM l) {
    return proc ? CallWindowProcW(proc, h, msg, w, l) : DefWindowProcW(h, msg, w, l);
}

LRESULT CALLBACK combo_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return sys::from_platform<LRESULT>(0, [&]() -> LRESULT {
        if (msg == WM_MENUSELECT) {
            remember_menu_choice(w, l);
            return 0;
        }
        if (msg == WM_COMMAND && menu_choice_command(h, w, l)) return 0;
        return base(state.combo_base, h, msg, w, l);
    });
}

LRESULT CALLBACK face_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return sys::from_platform<LRESULT>(0, [&]() -> LRESULT {
        switch (msg) {
            case WM_LBUTTONDOWN: SetCapture(h); return 0;
            case WM_LBUTTONUP: ReleaseCapture(); return 0;
            case WM_NCHITTEST: return HTCLIENT;  // a static control takes no mouse input otherwise
            default: return base(state.face_base, h, msg, w, l);
        }
    });
}

LRESULT CALLBACK calendar_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return sys::from_platform<LRESULT>(0, [&]() -> LRESULT {
        if (msg == WM_LBUTTONDOWN) SetFocus(h);
        return base(state.calendar_base, h, msg, w, l);
    });
}

// Makes room for a paste that the control's text limit would cut.
void raise_limit_for_paste(HWND h) {
    if (!OpenClipboard(h)) return;
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (auto* text = (const wchar_t*)GlobalLock(data)) {
                LRESULT want = lstrlenW(text) + SendMessageW(h, WM_GETTEXTLENGTH, 0, 0);
                GlobalUnlock(data);
                if (SendMessageW(h, EM_GETLIMITTEXT, 0, 0) < want)
                    SendMessageW(h, EM_LIMITTEXT, (WPARAM)(want + 32768), 0);
            }
        }
    }
    CloseClipboard();
}

// The face's `selected` from the control's selection: none when empty,
// else the pair of the first and last character in `text` positions.
void sync_selected(HWND h) {
    DWORD start = 0, end = 0;
    SendMessageW(h, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    cell* face = get_face_obj(h);
    if (!face) return;
    cell* selected = object::values(face) + FACET_SELECTED;
    if (start == end) {
        none::make_at(selected);
        return;
    }
    int32_t a = (int32_t)start, b = (int32_t)end;
    convert_selection(object::values(face) + FACET_TEXT, &a, &b, 0);
    pair::make_at(object::values(face) + FACET_SELECTED, a + 1, b);
}

LRESULT CALLBACK area_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return sys::from_platform<LRESULT>(0, [&]() -> LRESULT {
        switch (msg) {
            case WM_KEYUP:
            case WM_LBUTTONUP: {
                // The selection may have changed: `selected` follows it, and a
                // `select` event for this window.
                sync_selected(h);
                MSG m = state.current_message ? *state.current_message : MSG{h, msg, w, l, 0, {0, 0}};
                m.hwnd = h;
                make_event(&m, 0, EVT_SELECT);
                break;
            }
            case WM_CHAR:
                if (GetWindowLongW(h, GWL_STYLE) & ES_MULTILINE) {
                    if (w == 1) {  // Ctrl+A
                        SendMessageW(h, EM_SETSEL, 0, -1);
                        return 1;
                    }
                } else if (w == 13 || w == 9) {
                    return 0;  // no beep, nothing inserted
                }
                break;
            case WM_PASTE: raise_limit_for_paste(h); break;
            default: break;
        }
        return base(state.area_base, h, msg, w, l);
    });
}

}  // namespace

void register_classes(HINSTANCE instance) {
    struct Own {
        const wchar_t* name;
        WNDPROC proc;
        int32_t background;
    } own[] = {{L"ZolWindow", window_proc, COLOR_BTNFACE + 1},
               {L"ZolPanel", window_proc, COLOR_BTNFACE + 1},
               {L"ZolBase", DefWindowProcW, COLOR_BTNFACE + 1},
               {L"ZolBaseInternal", DefWindowProcW, COLOR_BTNFACE + 1},
               {L"ZolCamera", DefWindowProcW, COLOR_BACKGROUND + 1}};
    for (const Own& o : own) {
        WNDCLASSEXW wc{};
        wc.cbSize = 48;
        wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
        wc.cbWndExtra = WINDOW_EXTRA;
        wc.hInstance = instance;
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)(intptr_t)o.background;
        wc.lpfnWndProc = o.proc;
        wc.lpszClassName = o.name;
        RegisterClassExW(&wc);
    }
    register_class(L"ZolButton", L"BUTTON", nullptr, true);
    register_class(L"ZolListBox", L"ListBox", nullptr, true);
    register_class(L"ZolProgress", L"msctls_progress32", nullptr, true);
    register_class(L"ZolSlider", L"msctls_trackbar32", nullptr, true);
    register_class(L"ZolScroller", L"SCROLLBAR", nullptr, true);
    register_class(L"ZolTabpanel", L"SysTabControl32", nullptr, true);
    state.combo_base = register_class(L"ZolCombo", L"ComboBox", combo_proc, true);
    state.face_base = register_class(L"ZolFace", L"STATIC", face_proc, true);
    state.calendar_base = register_class(L"ZolCalendar", L"SysMonthCal32", calendar_proc, true);
    state.area_base = register_class(L"ZolArea", L"EDIT", area_proc, true);
    register_class(L"ZolField", L"ZolArea", nullptr, false);
}

}  // namespace gui
