// The GUI backend for Windows: process-wide state and the operations the
// rest of the backend and the platform routines share.
//
// Everything runs on the one GUI thread. Any call that can send messages
// can run Zol code and the collector: no pointer into a face's values or a
// string's buffer is held across one. Window procedures, timers and
// enumeration callbacks catch everything (sys::from_platform) and the pump
// resumes what they parked once the Win32 call has returned.
#pragma once
#include <windows.h>

#include <cstdint>

#include "datatypes/cell.h"
#include "vezi/backend/core/dpi.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/translate.h"

namespace gui {

// --- window slots (the 80 extra bytes of every class) ------------------------------
constexpr int32_t WINDOW_EXTRA = 80;
constexpr int32_t SLOT_FLAGS = 76;        // the face's flags as bits
constexpr int32_t SLOT_FACE = 60;         // slot-pool number of the face; 0 = none
constexpr int32_t SLOT_CLOSING = 56;      // group-box inner control; -1 while closing
constexpr int32_t SLOT_OPTIONS = 48;      // option bits (0x10: sizes as pair!)
constexpr int32_t SLOT_FONT = 28;         // the window's own HFONT
constexpr int32_t SLOT_RENDER = 24;       // the render record

// --- gui-state --------------------------------------------------------------------------
struct State {
    DWORD process_id = 0;
    HDC screen_dc = nullptr;
    HINSTANCE instance = nullptr;
    OSVERSIONINFOEXW version{};
    bool windows_10 = false, windows_8 = false, pre_vista = false, composition = false;
    BOOL(WINAPI* dark_mode_entry)() = nullptr;
    bool dark_mode = false;
    HFONT default_font = nullptr;
    wchar_t* font_name = nullptr;  // private copy of the default font's face name
    int32_t font_size = 9;         // points
    MonitorTable* monitors = nullptr;
    int64_t perf_start = 0;
    int32_t font_handle_type = 0, com_handle_type = 0;

    // The message pump.
    MSG* current_message = nullptr;
    int32_t modifier_override = -1;
    LoopCounts loops;
    LPARAM last_mouse_position = -1;
    HWND hover_window = nullptr, down_window = nullptr, up_window = nullptr;
    POINT last_right_client{}, last_right_screen{};
    Translator translator;

    // Base procedures of the superclassed controls with a procedure of their own.
    WNDPROC combo_base = nullptr, face_base = nullptr, calendar_base = nullptr, area_base = nullptr;
    // The menu choice WM_MENUSELECT last reported (position and menu; -1
    // and null once reset), read when the menu's WM_COMMAND arrives.
    int32_t combo_item = -1;
    HMENU combo_menu = nullptr;
    bool initialised = false;
    // The first window made by the program.
    HWND main_window = nullptr;
    // Between WM_ENTERSIZEMOVE and WM_EXITSIZEMOVE.
    bool in_size_move = false;
};
extern State state;

// --- initialisation and DPI (init.cpp) -------------------------------------------------
void init();
int32_t window_dpi(HWND hwnd);
int32_t push_dpi(HWND hwnd);
void pop_dpi(int32_t old);
void set_dpi_from_window(HWND hwnd);
void dpi_from_cursor();
void dpi_for_rect(double ox, double oy, double sx, double sy);
void set_default_font(HWND hwnd);
// system/vezi/metrics: dpi, misc (scroller) and colors (text, window, panel).
void set_metrics();
bool dark_mode_supported();
bool support_dark_mode();
void set_dark_mode(HWND hwnd, bool dark, bool set_frame);
// The screen size in logical units.
SIZE get_screen_size();
// Enumerates the monitors into the table; `each` gets every monitor kept.
struct ScreenInfo {
    RECT rect;
    float scale;
    HMONITOR monitor;
};
int32_t fetch_all_screens(void (*each)(const ScreenInfo&, void*), void* data);
HMONITOR current_screen();

// --- classes (classes.cpp) -------------------------------------------------------------------
void register_classes(HINSTANCE instance);
WNDPROC register_class(const wchar_t* name, const wchar_t* base, WNDPROC proc, bool system);
// The window procedure of ZolWindow and ZolPanel (window_proc.cpp), and its
// WM_COMMAND handler, which base faces share.
LRESULT CALLBACK window_proc(HWND, UINT, WPARAM, LPARAM);
void process_command(HWND hwnd, WPARAM w, LPARAM l);
// Additional face types: a face whose type is none of the backend's own
// gets its window from the class registered under its type word, and the
// callback sees every message the window procedure leaves alone.
using ExtraTypeCallback = void (*)(HWND, UINT, WPARAM, LPARAM);
struct ExtraClass {
    int32_t type_symbol;  // canonical symbol of the type word
    const wchar_t* class_name;
    DWORD ex_style, style;
    HMENU menu;
    ExtraTypeCallback callback;
};
void add_extra_face_type(const char* type_word, ExtraTypeCallback callback, const wchar_t* class_name = nullptr,
                         DWORD ex_style = 0, DWORD style = 0, HMENU menu = nullptr);
// The entry of a type word (any word type), or null.
const ExtraClass* find_class(const cell* type_word);
void extra_type_messages(HWND h, UINT msg, WPARAM w, LPARAM l);
// The menu command handler ZolCombo hands its menu's commands to (menus
// install it).
using MenuCommand = void (*)(HWND, int32_t id);
extern MenuCommand menu_command;
// Offers the context menu of the face of a window at a screen position;
// true when a menu was shown (menus install it).
using ContextMenu = bool (*)(HWND, POINT screen);
extern ContextMenu context_menu;
// The menu choice WM_MENUSELECT reported (a closing menu reports none),
// kept until its WM_COMMAND; a press elsewhere or a menu bar opening
// clears it.
void remember_menu_choice(WPARAM w, LPARAM l);
void clear_menu_choice();
// A WM_COMMAND with lParam 0 and an id below 1000 while a choice is
// remembered comes from a menu: handed to menu_command; true.
bool menu_choice_command(HWND hwnd, WPARAM w, LPARAM l);

// --- events (events.cpp) -------------------------------------------------------------------
// The one event record. It holds a copy of the message (scripts can keep
// `event` past the message's life).
struct EventRecord {
    int32_t type;
    MSG msg;
    uint32_t key_flags;
};
extern EventRecord event_record;

// Calls the dispatcher for the event record; answers 0 when it answered
// `stop`, else 1. Installed by the language layer's seam; the default
// answers 1 without dispatching.
using Awake = int32_t (*)();
extern Awake awake;

int32_t make_event(const MSG* msg, uint32_t flags, int32_t type);
// Installs the getters of event! fields and the dispatcher that calls
// system/vezi/awake (event_seam.cpp).
void install_event_seam();
uint32_t modifier_flags(bool keys_only);
uint32_t current_flags();
// The window an event is for (a window carrying a face), or (HWND)-1.
HWND msg_window(const MSG* msg);
// What `event/key`, `event/picked` and `event/offset` give, without Zol values.
KeyValue event_key_value();
double event_wheel_picked();
POINT event_offset_pixels(bool* valid);

// --- the pump (pump.cpp) ----------------------------------------------------------------
bool do_events(bool no_wait);
int32_t process_message(MSG* msg);
void exit_event_loop();

// --- accessors and utilities (utils.cpp) ------------------------------------------------
bool face_attached(HWND hwnd);
// The window at the head of a face's `state` block, or null.
HWND face_handle(const cell* face);
// The face a window carries (valid until the next allocation), or null.
cell* get_face_obj(HWND hwnd);
// False when the face or a face up its parent chain has `enabled?` false or none.
bool face_enabled(const cell* face);
HWND selected_window(HWND hwnd);
void set_focus(HWND hwnd);
// Reads a control's text (index -1) or a combo-box item back into the
// face's `text`.
void get_text_alt(const cell* face, int32_t index);
// The logical size of a text as the face would show it: faces that draw
// their own text measure it as drawn, others as their control does.
void get_text_size(const cell* face, const cell* text, double* width, double* height);
// Applies one field of a scroller! (its index: position, page-size,
// max-size or visible?) to the scroll bar of its parent face's window.
void update_scroller(const cell* scroller, int32_t kind);
void perf_counter_now(int64_t* slot);
double elapsed_time(int64_t* slot);
void com_release(void* object);
int32_t wide_length(const wchar_t* s);

}  // namespace gui
