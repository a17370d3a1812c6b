// Flag words as bits: the `flags` facet of faces, the flag bits of events
// (mouse buttons and modifier keys), the style bits of a `para!` per kind of
// face, and the fraction of a number facet.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

// --- face flags -------------------------------------------------------------------
// The OR of the bits of a word or of the words of a block (unknown words add
// nothing); other values give 0.
uint32_t get_flags(const cell* facet);
// The bit of one face flag word by spelling (0 when unknown).
uint32_t face_flag_bit(const char* spelling);

constexpr uint32_t FACE_ALL_OVER = 0x1;
constexpr uint32_t FACE_NO_SYNC = 0x100000;

// --- event flags ------------------------------------------------------------------
// Bits 22-30 of an event's key/flags word; bits 0-21 hold its key.
constexpr uint32_t FLAG_AWAY = 0x4000000;
constexpr uint32_t FLAG_DOWN = 0x2000000;
constexpr uint32_t FLAG_MID_DOWN = 0x1000000;
constexpr uint32_t FLAG_ALT_DOWN = 0x800000;
constexpr uint32_t FLAG_AUX_DOWN = 0x400000;
constexpr uint32_t FLAG_CONTROL = 0x10000000;
constexpr uint32_t FLAG_SHIFT = 0x20000000;
constexpr uint32_t FLAG_ALT = 0x40000000;
constexpr uint32_t KEY_MASK = 0x3FFFFF;

// The flag words of `flags` in the order `event/flags` lists them; returns
// how many were written (at most 8) into `out`.
int32_t event_flag_words(uint32_t flags, const char* out[8]);

// Mouse-key bits of a mouse message's wParam (the platform's MK_ values).
constexpr uint32_t MK_LEFT = 0x1, MK_RIGHT = 0x2, MK_SHIFT_KEY = 0x4, MK_CONTROL_KEY = 0x8,
                   MK_MIDDLE = 0x10, MK_X1 = 0x20, MK_X2 = 0x40;
uint32_t mouse_key_flags(uint32_t wparam);

// The keyboard and button state that `modifier_flags` reads (GetKeyState
// on Windows, given directly in tests).
struct KeyState {
    bool control, shift, alt, left, right, middle, x1;
};
uint32_t modifier_flags(const KeyState& keys, bool keys_only);
// `override_flags` when not negative, else modifier_flags(keys, false).
uint32_t current_flags(int32_t override_flags, const KeyState& keys);

// --- para ---------------------------------------------------------------------------
enum class ParaKind { base, rich_text, button, check, edit, text, other };
// The kind of a face's `type` word (`toggle` is a button, `radio` a check,
// `field` and `area` edits).
ParaKind para_kind(const cell* type_word);
// The style word of the kind for the para's `align` and `v-align` words and
// `wrap?` value (cells of any type: other types count as absent).
uint32_t para_flags(ParaKind kind, const cell* align, const cell* v_align, const cell* wrap);

// --- numbers --------------------------------------------------------------------------
// An integer!, float! or percent! clamped to 0.0 ... 1.0; -1.0 for any
// other value.
double fraction(const cell* value);

}  // namespace gui
