#include "vezi/backend/core/translate.h"

#include <cstring>

#include "vezi/backend/core/flags.h"

namespace gui {

static const char* const type_words[EVENT_TYPES] = {
    "down",   "up",       "mid-down", "mid-up",   "alt-down", "alt-up",    "aux-down", "aux-up",
    "click",  "dbl-click", "wheel",   "over",     "key",      "key-down",  "key-up",   "ime",
    "focus",  "unfocus",  "enter",    "zoom",     "pan",      "rotate",    "two-tap",  "press-tap",
    "select", "change",   "menu",     "close",    "move",     "resize",    "moving",   "resizing",
    "time",   "drawing",  "scroll",   "minimize", "maximize", "restore"};

const char* event_type_word(int32_t type) {
    return type >= 1 && type <= EVENT_TYPES ? type_words[type - 1] : nullptr;
}

int32_t event_type_code(const char* s) {
    for (int32_t i = 0; i < EVENT_TYPES; i++)
        if (strcmp(type_words[i], s) == 0) return i + 1;
    return 0;
}

bool is_char_key(uint32_t vk) {
    static const uint16_t ranges[][2] = {{8, 9},     {13, 13},   {27, 27},   {32, 32},
                                         {48, 57},   {65, 90},   {96, 107},  {109, 111},
                                         {186, 192}, {219, 223}, {226, 228}, {233, 245}};
    for (const auto& r : ranges)
        if (vk >= r[0] && vk <= r[1]) return true;
    return false;
}

uint32_t map_lr_key(uint32_t vk, uint32_t lparam, const KeyMap& map) {
    bool extended = (lparam >> 24) & 1;
    switch (vk) {
        case 16: return map.shift_from_scan((lparam >> 16) & 0xFF);
        case 17: return extended ? 163 : 162;
        case 18: return extended ? 165 : 164;
        default: return vk;
    }
}

KeyResult translate_key_down(Translator& t, uint32_t wparam, uint32_t lparam, uint32_t flags,
                             bool is_up, const KeyMap& map) {
    uint32_t k = wparam & 0xFFFF;
    if (!is_up && k == VK_PROCESS) {
        t.pending_key = NO_KEY;
        return {false, 0};
    }
    if ((!is_up && t.ime_composing) || is_char_key(k))
        t.pending_key = NO_KEY;
    else
        t.pending_key = (int32_t)map_lr_key(k, lparam, map);
    if (t.pending_key == NO_KEY) {
        uint32_t c = map.vk_to_char(k);
        if (c != 0) k = c & 0xFFFF;
    }
    return {true, flags | k};
}

KeyResult translate_char(Translator& t, uint32_t wparam, uint32_t flags) {
    uint32_t c = wparam & 0xFFFF;
    if (c >= 0xD800 && c <= 0xDBFF) {
        // A high surrogate already held had no partner: it is dropped.
        t.high_surrogate = c;
        return {false, 0};
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
        if (t.high_surrogate) {
            c = (((t.high_surrogate & 0x3FF) << 10) | (c & 0x3FF)) + 0x10000;
            flags = 0;
        } else {
            c = 0xFFFD;
        }
    }
    t.high_surrogate = 0;
    // Control with a letter types its control code. A `key` that reports a
    // pending key (F5 is 116, a `t`) is no letter.
    if ((flags & FLAG_CONTROL) && c >= 97 && c <= 122 && t.pending_key == NO_KEY) c -= 96;
    if ((t.ime_composing && (flags & FLAG_SHIFT)) || t.pending_key == 164 || t.pending_key == 165)
        t.pending_key = NO_KEY;
    return {true, c | flags};
}

KeyValue event_key(int32_t type, int32_t pending_key, uint32_t key_flags) {
    if (type == EVT_WHEEL) return {KeyValue::named, 0, "wheel"};
    if (type != EVT_KEY && type != EVT_KEY_DOWN && type != EVT_KEY_UP) return {KeyValue::none, 0, nullptr};
    if (pending_key == NO_KEY) {
        uint32_t code = type == EVT_KEY ? key_flags & 0x1FFFFF : key_flags & 0xFFFF;
        return {KeyValue::character, code, nullptr};
    }
    static const struct {
        int32_t vk;
        const char* word;
    } names[] = {{19, "pause"},          {20, "caps-lock"},      {33, "page-up"},
                 {34, "page-down"},      {35, "end"},            {36, "home"},
                 {37, "left"},           {38, "up"},             {39, "right"},
                 {40, "down"},           {45, "insert"},         {46, "delete"},
                 {91, "left-command"},   {92, "right-command"},  {144, "num-lock"},
                 {145, "scroll-lock"},   {160, "left-shift"},    {161, "right-shift"},
                 {162, "left-control"},  {163, "right-control"}, {164, "left-alt"},
                 {165, "right-alt"}};
    static const char* const fkeys[12] = {"F1", "F2", "F3", "F4", "F5",  "F6",
                                          "F7", "F8", "F9", "F10", "F11", "F12"};
    if (pending_key >= 112 && pending_key <= 123) return {KeyValue::named, 0, fkeys[pending_key - 112]};
    for (const auto& n : names)
        if (n.vk == pending_key) return {KeyValue::named, 0, n.word};
    if (type == EVT_KEY) return {KeyValue::none, 0, nullptr};
    return {KeyValue::character, key_flags & 0xFFFF, nullptr};
}

const char* scroll_key(uint32_t request, bool vertical) {
    static const char* const v[] = {"up", "down", "page-up", "page-down"};
    static const char* const h[] = {"left", "right", "page-left", "page-right"};
    request &= 0xFFFF;
    if (request < 4) return vertical ? v[request] : h[request];
    return request == 5 ? "track" : "end";
}

double wheel_notches(uint32_t wparam) {
    int32_t d = (int16_t)(wparam >> 16);
    if (d < -24000) d += 30720;
    else if (d > 24000) d -= 30720;
    return d / 120.0;
}

}  // namespace gui
