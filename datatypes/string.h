// string!: text as units of 1, 2 or 4 bytes, and its actions.
//
// A string! cell: word 1 head index in units, word 2 the node of its
// series buffer, word 3 the node of its cache buffer (UTF-8/UTF-16 output of
// the converters) or 0; a new cell has word 3 = 0.
//
// Units: width 1 = Latin-1 (0-0xFF), 2 = UCS-2 (0-0xFFFF), 4 = UCS-4; little
// endian, the width in the buffer's flag bits 0-4. Any other width met by a
// read or write is runtime error 101.
//
// Widening: a buffer widens as a whole, never per character, when a code
// point that its width cannot hold is stored. `append_char` keeps width 1
// only for 0-0x7F (so appended Latin-1 letters give width 2); poking,
// setting, inserting and loading keep width 1 for 0-0xFF. Every reader
// handles both. Only `reset` narrows a buffer (back to width 1).
//
// Writers take the series node, never a buffer address, and re-read the
// buffer after anything that may allocate (a widening, a growth); positions
// are unit indexes from the buffer's head pointer.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace string {

// --- Access -------------------------------------------------------------------------

// Code point of the unit at p.
int32_t get_char(const uint8_t* p, uint32_t width);
// Unit width of the value's buffer (1, 2 or 4; else runtime error 101).
uint32_t width_of(const cell* value);
// Address of the head unit; a head index past the tail is clamped first.
uint8_t* head_pointer(cell* value);
uint8_t* tail_pointer(const cell* value);
bool is_tail(cell* value);
// Units from the head to the tail; from the buffer start to the tail.
int32_t length_of(cell* value);
int32_t total_length(const cell* value);
void advance(cell* value, int32_t n);
void next(cell* value);
// Code point at `index` units from the buffer's head pointer.
int32_t char_at(const cell* value, uint32_t index);
// Index from the head of the first occurrence of cp, or -1.
int32_t find_char(cell* value, int32_t cp);
// Whether a unit at the head or a multiple of `step` after it equals cp
// (both sides upper-cased unless `case_`).
bool find_char_step(cell* value, int32_t cp, int32_t step, bool case_);
bool starts_with_cstr(cell* value, const char* text);

// --- Writing --------------------------------------------------------------------------

// Appending an ASCII character to a width-1 buffer with room is the common
// case (text built a character at a time): it stays inline.
void append_char_grow(memory::Node* node, int32_t cp);
inline void append_char(memory::Node* node, int32_t cp) {
    memory::Buffer* b = node->buffer;
    if (b->unit() == 1 && (uint32_t)cp <= 0x7F && b->tail < b->data_end()) {
        *b->tail++ = (uint8_t)cp;
        return;
    }
    append_char_grow(node, cp);
}
void poke_char(memory::Node* node, uint32_t index, int32_t cp);
void set_char_at(memory::Node* node, uint32_t index, int32_t cp);
void insert_char_at(memory::Node* node, uint32_t index, int32_t cp);
// Removes n units at `index` (from the buffer start); nothing at the tail.
void remove_units(cell* value, uint32_t index, uint32_t n);
void remove_unit(cell* value, uint32_t index);
// Moves the first n characters from the source's head into the target at its
// head, widening the target as needed (strings of different widths).
void move_units(cell* source, cell* target, uint32_t n);
// Width 1, empty, head index 0.
void reset(cell* value);
// Rewrites the whole buffer in width `to` (wider than its width).
memory::Buffer* widen_buffer(memory::Node* node, uint32_t to);
// Room for `bytes` more bytes after the tail (grows to twice the need).
memory::Buffer* ensure_room(memory::Node* node, uint32_t bytes);
// Swaps the adjacent unit ranges [a, b) and [b, c) of one buffer (unit
// indexes), through the block-exchange buffer.
void exchange_blocks(memory::Node* node, uint32_t a, uint32_t b, uint32_t c);

enum Mode : int32_t { APPEND = 0, INSERT = 1, OVERWRITE = 2 };
// Copies the source's characters from its head (at most `part` when
// 0 <= part) into the target: appended, inserted or written over at `offset`
// units after the target's head. The target widens to the source's width;
// the source is never changed. Returns the number of characters written.
uint32_t concatenate(cell* target, cell* source, int32_t part, int32_t offset, Mode mode);
// Appends the bytes (code points 0-255) before the NUL, or n bytes.
void concatenate_cstr(cell* value, const char* text);
void concatenate_bytes(cell* value, const char* bytes, uint32_t n);

// --- Making and loading ---------------------------------------------------------------

// A new empty string! of at least max(capacity, 1) units of width 1 (or
// `width`). The cell holds unset! while the buffer is allocated.
cell* make_at(cell* c, int32_t capacity);
cell* make_at_unit(cell* c, int32_t capacity, uint32_t width);
// A new string! on the argument stack.
cell* push_new(int32_t capacity);
// A copy of the cell pushed on the argument stack.
cell* push(const cell* value);
// Decodes `length` bytes of UTF-8 (encoding 0) or `length` UTF-16LE units
// (encoding -1) into a new string! in `target`, or pushed when null. Any
// other encoding prints "*** Loading Error: input encoding unsupported" and
// exits with code 1 (a fault of the caller, never reported as success).
cell* load(const void* source, int32_t length, cell* target, int32_t encoding);

// --- Text utilities --------------------------------------------------------------------

// The float read by the correctly rounded decimal reader from n bytes.
double to_float(const uint8_t* address, uint32_t n);
const char* byte_to_hex(uint8_t byte);
const char* hex_cstr(int32_t value, bool trim);

// --- Matching -------------------------------------------------------------------------

// -1, 0 or 1 (sign of A - B; 0 equal); case-insensitive unless op is 2 or 8.
int32_t compare_values(cell* a, cell* b, int32_t op, bool prefix);
// compare_values(a, b, op, false) == 0 for op 0 or 2 (`fold` when op is 0),
// without the ordering work: the test keyed lookups make per probe.
bool equal_text(cell* a, cell* b, bool fold);
bool match_head(cell* value, cell* pattern, int32_t op);
bool tag_around(cell* value, cell* tag);
bool head_in_bitset(cell* value, cell* bitset);

// --- Actions --------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable);
cell* swap(cell* a, cell* b);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

// The seam through which `sort/compare` calls a function! value: it is given
// the function and the two characters as char! values and leaves the
// function's answer in `result`. The interpreter installs it; while it is
// null, /compare with a function raises internal not-done.
using CompareCallback = void (*)(cell* function, cell* a, cell* b, cell* result);
extern CompareCallback compare_callback;

// Set operations: op 8 unique, 9 union, 10 intersect, 11 exclude,
// 12 difference. Leaves a new string! in `result`.
cell* do_set_op(int32_t op, cell* a, cell* b, int32_t skip, bool case_, cell* result);

// Upper-cases (upper) or lower-cases the string's characters from its head:
// all of them, or the /part count (integer!, or a position in the same
// series; clamped to 0..length). The common body of uppercase/lowercase.
cell* change_case(cell* value, cell* part, bool upper);

// Registers string! (type 7, parent series!) and allocates the 64 KB
// block-exchange buffer.
void register_type();

}  // namespace string

// String-level wrappers of the text edges: UTF-8/UTF-16 to and from string!
// values, through the string's cache buffer (word 3).
namespace unicode {

// Data address of the string's cache buffer, at least n bytes.
uint8_t* cache_buffer(cell* value, uint32_t n);
// UTF-8 of at most *count characters from the head (-1: all) into the cache,
// with a CR before each LF under `lf`, NUL-terminated; *count becomes the
// byte count. Returns the cache data.
uint8_t* to_utf8_part(cell* value, int32_t* count, bool lf);
uint8_t* to_utf8(cell* value, int32_t* count);
// Into the caller's buffer: unchecked, and bounded by `room` bytes.
uint32_t to_utf8_into(cell* value, uint8_t* dest, int32_t max_chars, bool nul);
uint32_t to_utf8_into_bounded(cell* value, uint8_t* dest, uint32_t room, int32_t max_chars,
                              bool nul);
// Loads UTF-8 into the given string's buffer (replacing its content from the
// buffer's head) or a new string! in `target`; a cut-short final sequence is
// left out and its byte count stored in *remaining when given.
void load_utf8_into(const uint8_t* source, uint32_t length, cell* value, uint32_t* remaining);
cell* load_utf8_new(const uint8_t* source, uint32_t length, cell* target);
// Loads n UTF-16LE units (source null: the string's own cache buffer) into
// the string's buffer, or a new string! in `target` when value is null;
// under `cr` every CR is dropped.
cell* load_utf16(const void* source, uint32_t n, cell* value, cell* target, bool cr);
// NUL-terminated UTF-16LE of at most *count characters (-1: all) in the
// cache, a CR before each LF under `lf`; null when a code point is above
// U+10FFFF. *count becomes the units written.
uint16_t* to_utf16_part(cell* value, int32_t* count, bool lf);
uint16_t* to_utf16(cell* value);

}  // namespace unicode
