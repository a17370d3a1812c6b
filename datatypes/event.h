// event!: the value through which GUI input reaches the language.
//
// Cell (type 54):
//   header  bit 12 (SCRIPT_MADE): made by `make event!`; the event carries
//           its own values and never asks the backend
//   word 1  event type code, 1-38 (`type_word` / `code_of`)
//   word 2  a backend event: the backend's message record (never read here);
//           a script-made event: node of the block [face window offset picked]
//   word 3  flag bits (FLAG_*) and, in bits 0-15, a key character
//
// Every script-made event has its block (the collector marks word 2 when
// bit 12 is set), so its reads never reach the backend.
//
// The backend seam: the GUI backend fills one event cell per message it
// reports and installs its getters in `backend`; the fields of backend
// events are read through them. Until it does, the stand-ins below answer
// from the cell alone: face, window, picked and orientation none, offset
// 0x0, key the character of word 3 (none when zero), flags from word 3,
// and send-event-os false.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace event {

constexpr uint32_t SCRIPT_MADE = 1u << 12;
constexpr uint32_t KEY_MASK = 0xFFFFu;

// Flag bits of word 3, in the order their words are listed.
constexpr uint32_t FLAG_AUX_DOWN = 0x400000, FLAG_ALT_DOWN = 0x800000, FLAG_MID_DOWN = 0x1000000,
                   FLAG_DOWN = 0x2000000, FLAG_AWAY = 0x4000000, FLAG_CONTROL = 0x10000000,
                   FLAG_SHIFT = 0x20000000, FLAG_ALT = 0x40000000, FLAG_COMMAND = 0x80000000;

constexpr int32_t TYPE_COUNT = 38;

// Fields by path word and pick index.
enum Field : int32_t {
    F_TYPE = 1, F_FACE, F_WINDOW, F_OFFSET, F_KEY, F_PICKED, F_FLAGS, F_IS_AWAY, F_IS_DOWN,
    F_IS_MID_DOWN, F_IS_ALT_DOWN, F_IS_AUX_DOWN, F_IS_CTRL, F_IS_SHIFT, F_ORIENTATION,
    FIELD_COUNT = F_ORIENTATION
};

// --- The backend seam ---------------------------------------------------------------

// A getter receives a copy of a backend event cell and writes the field's
// value into `result`; both cells are on the argument stack, so a getter may
// allocate.
using Getter = void (*)(const cell* event, cell* result);
struct Backend {
    Getter face, window, offset, key, picked;
    Getter flags;        // a block of flag words
    Getter orientation;
    // gui/push-event-flag: the event's flags word tested with a bit mask.
    bool (*flag)(uint32_t flags, uint32_t mask);
    // send-event-os: simulates a script-made event on its face; answers
    // whether it was sent.
    bool (*send)(const cell* event, bool no_wait);
};
// The getters in force: the stand-ins until the backend replaces them.
extern Backend backend;
extern const Backend stand_in;

// --- Types, flags and fields ----------------------------------------------------------

// Interns the type, flag and field words (start-up, after the built-in
// words).
void init_words();
// The code of a type word (any word type), or 0 when it names no type.
int32_t code_of(const cell* word);
// The type word of a code 1-38 written into `out` (none for another code).
cell* type_word(int32_t code, cell* out);
// The bit a flag word stands for, 0 for a word outside the table.
uint32_t flag_bit(const cell* word);
// The field index of a path word, -1 when it is no field.
int32_t field_index(const cell* word);

// Writes a backend event: no script flag, the message record in word 2.
cell* make_at(cell* c, int32_t code, uint32_t record, uint32_t flags);
// Reads field 1-15 of an event into `result` (a stable cell).
cell* get_field(const cell* event, int32_t field, cell* result);

// find-flag?: whether `flags` is the word or a block holding it.
bool find_flag(const cell* flags, const cell* word);

// --- Actions ---------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* access_field(cell* series, int32_t index, cell* index_cell);

// Registers event! (type 54, no parent).
void register_type();

}  // namespace event
