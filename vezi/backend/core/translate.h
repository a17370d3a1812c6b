// Event translation without the platform: the key/flags word of keyboard
// events, the surrogate and pending-key rules, the key an event reports,
// the wheel's notches, and the loop counts of the message pump.
//
// The state lives in one Translator (the backend keeps one, gui-state);
// what the platform knows (the character a virtual key types, the left or
// right variant of Shift) comes in through KeyMap, so tests drive the rules
// with fixed answers.
#pragma once
#include <cstdint>

namespace gui {

// Event type codes (1-38).
enum EventType : int32_t {
    EVT_DOWN = 1, EVT_UP, EVT_MID_DOWN, EVT_MID_UP, EVT_ALT_DOWN, EVT_ALT_UP,
    EVT_AUX_DOWN, EVT_AUX_UP, EVT_CLICK, EVT_DBL_CLICK, EVT_WHEEL, EVT_OVER, EVT_KEY,
    EVT_KEY_DOWN, EVT_KEY_UP, EVT_IME, EVT_FOCUS, EVT_UNFOCUS, EVT_ENTER, EVT_ZOOM, EVT_PAN,
    EVT_ROTATE, EVT_TWO_TAP, EVT_PRESS_TAP, EVT_SELECT, EVT_CHANGE, EVT_MENU, EVT_CLOSE,
    EVT_MOVE, EVT_RESIZE, EVT_MOVING, EVT_RESIZING, EVT_TIME, EVT_DRAWING, EVT_SCROLL,
    EVT_MINIMIZE, EVT_MAXIMIZE, EVT_RESTORE
};
constexpr int32_t EVENT_TYPES = 38;
// The word of a type code ("down" ... "restore"), null outside 1-38.
const char* event_type_word(int32_t type);
// The code of a type word's spelling, 0 when unknown.
int32_t event_type_code(const char* spelling);

// Virtual keys the rules name.
constexpr uint32_t VK_PROCESS = 229;
constexpr int32_t NO_KEY = -1;

// Whether a virtual key produces a WM_CHAR (its `key` event waits for it).
bool is_char_key(uint32_t vk);

struct KeyMap {
    // The character the key types unshifted (MapVirtualKey, VK to char), 0
    // for none.
    virtual uint32_t vk_to_char(uint32_t vk) const = 0;
    // Left or right Shift from a scan code (MapVirtualKey, VSC to VK ex).
    virtual uint32_t shift_from_scan(uint32_t scan) const = 0;
    virtual ~KeyMap() = default;
};

// Shift, Control and Alt made left or right; other keys unchanged.
uint32_t map_lr_key(uint32_t vk, uint32_t lparam, const KeyMap& map);

struct Translator {
    int32_t pending_key = NO_KEY;  // a virtual key still to report as `key`, or -1
    uint32_t high_surrogate = 0;   // held first half of a UTF-16 pair, or 0
    bool ime_composing = false;    // set by base faces during a composition
};

// What a keyboard message gives: whether an event is made, and its
// key/flags word.
struct KeyResult {
    bool event;
    uint32_t key_flags;
};

// key-down (is_up false) and key-up (true) from the message's wParam and
// lParam and the current flags.
KeyResult translate_key_down(Translator& t, uint32_t wparam, uint32_t lparam, uint32_t flags,
                             bool is_up, const KeyMap& map);
// `key` from WM_CHAR: surrogate pairs are joined into one code point; a lone
// surrogate becomes U+FFFD; Control with a letter gives its control code.
KeyResult translate_char(Translator& t, uint32_t wparam, uint32_t flags);

// What `event/key` gives for a key event: a char! of `code`, a word, or
// none.
struct KeyValue {
    enum Kind { none, character, named } kind;
    uint32_t code;
    const char* word;
};
KeyValue event_key(int32_t type, int32_t pending_key, uint32_t key_flags);
// The word of a scroll request (low 16 bits of wParam) of a vertical or
// horizontal bar.
const char* scroll_key(uint32_t request, bool vertical);

// Notches of a wheel message's delta (high 16 bits of wParam).
double wheel_notches(uint32_t wparam);

// The loop counts of the message pump. `pending_exits` counts quit messages
// owed to outer loops; it never goes below 0, so a loop ended by its own
// quit message leaves the next destruction able to end its loop.
struct LoopCounts {
    int32_t loop_count = 0;
    int32_t pending_exits = 0;

    void enter_blocking() { loop_count++; }
    // A blocking loop ended: true when the quit must be posted again for the
    // next outer loop.
    bool blocking_ended() {
        if (pending_exits > 0) pending_exits--;
        return pending_exits > 0;
    }
    // A window that served a blocking loop was destroyed: one loop moves from
    // loop_count to pending_exits.
    void loop_window_destroyed() {
        if (loop_count > 0) loop_count--;
        pending_exits++;
    }
};

}  // namespace gui
