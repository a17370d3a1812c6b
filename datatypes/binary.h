// binary!: byte strings, their byte-level operations and the base 2, 16, 58
// and 64 text codecs.
//
// A binary! cell is a series cell (series.h): word 1 the head index in bytes,
// word 2 the node of a byte series (unit 1), word 3 = 0. binary! inherits the
// positioning, search and removal actions of string! (its parent); this module
// supplies the byte image of values (what insert, append, change and
// `to binary!` write), the text forms, comparison and the bitwise actions.
//
// Invariants:
// - Length = tail - (head + index), never negative.
// - Nothing here keeps a buffer address across an allocation: the byte image
//   of a value is gathered into a C++ buffer first (so a value that is a part
//   of the target binary is read before the target moves), then written.
// - The decoders never raise: they answer null for invalid text.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace binary {

// --- Accessors ---------------------------------------------------------------------

int32_t rs_length(cell* bin);
uint8_t* rs_head(cell* bin);
uint8_t* rs_tail(cell* bin);
bool rs_is_tail(cell* bin);
// Moves the head by n (1) bytes when it stays within the tail; answers
// whether the head is at the tail.
bool rs_skip(cell* bin, int32_t n);
bool rs_next(cell* bin);
void rs_clear(cell* bin);
uint8_t get_byte(const uint8_t* address);

// Reserves n bytes at the tail and copies them in (src may be null: the room
// is left as it is). Returns the bytes' address, valid until the next
// allocation.
uint8_t* append_bytes(cell* bin, const uint8_t* src, uint32_t n);
// Opens n bytes at head + offset and copies the source in.
void insert_bytes(cell* bin, uint32_t offset, const uint8_t* src, uint32_t n);
// Overwrites from head + offset, growing the buffer; the tail only moves forward.
void write_bytes_at(cell* bin, uint32_t offset, const uint8_t* src, uint32_t n);
// Four bytes, most significant first.
void append_int32(int32_t value, cell* bin);

// -1, 0 or 1; -2 when b is not a string-like value or a binary. With
// `prefix` only b's length counts (find, parse).
int32_t equal(cell* a, cell* b, int32_t op, bool prefix);
// For string-like values: the prefix comparison is 0; for a char!: the byte
// at the position equals the code point.
bool equal_string(cell* position, cell* value, int32_t op);
// The low byte of an integer! or char!; another type raises invalid-arg.
uint8_t to_integer(const cell* value);

// A new empty binary! of room for `size` bytes (16 when 0) in `c`; the cell
// holds unset! while the buffer is allocated.
cell* make_at(cell* c, int32_t size);
// The same, pushed on the argument stack.
cell* push(int32_t size);
// A new pushed binary! holding a copy of n bytes.
cell* load(const uint8_t* bytes, uint32_t n);
// A copy of n bytes into a new binary in `c`.
cell* load_in(cell* c, const uint8_t* bytes, uint32_t n);

// --- Byte images ---------------------------------------------------------------------

// Appends the byte image of `value` to `out` (at most `limit` bytes when
// limit >= 0). With `form_it` a value without a byte image contributes the
// UTF-8 of its form; otherwise it raises bad-to-arg.
void write_value(std::string& out, cell* value, bool form_it, int32_t limit = -1);

// --- Codecs ----------------------------------------------------------------------------

// Encoders write into `out` and return the end of what they wrote.
uint8_t* encode_2(const uint8_t* bytes, uint32_t n, uint8_t* out);
uint8_t* encode_16(const uint8_t* bytes, uint32_t n, uint8_t* out);
// `out` has room for 2n + 1 bytes.
uint8_t* encode_58(const uint8_t* bytes, uint32_t n, uint8_t* out);
uint8_t* encode_64(const uint8_t* bytes, uint32_t n, uint8_t* out);

// Decode n characters of `unit` bytes each (1, 2 or 4) into `out`; false for
// invalid text. The text may lie in a series buffer: nothing here allocates
// on the collected heap.
bool decode_2(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out);
bool decode_16(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out);
bool decode_58(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out);
bool decode_64(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out);
// Decodes the text of a string value (from its head) in base 2, 16, 58 or 64
// into a new binary! in `result`; answers false (result untouched) for
// invalid text or another base.
bool decode_value(cell* text, int32_t base, cell* result);
// The base-16 spelling of an issue! as bytes; invalid-data when it is not one.
cell* from_issue(cell* issue, cell* result);

// --- Molded bytes ------------------------------------------------------------------------

// The text that mold and form of byte-holding values (binary!, image!) gather
// before it goes into the output string in one piece; `budget` is what is
// left of the /part limit, counted down by every character put.
struct MoldText {
    std::string text;
    int32_t budget;

    explicit MoldText(int32_t limit) : budget(limit) {}
    void put(const char* s, size_t n) {
        text.append(s, n);
        budget -= (int32_t)n;
    }
    // A line break, then four spaces a level.
    void newline(int32_t level) {
        put("\n", 1);
        for (int32_t i = 0; i < level; i++) put("    ", 4);
    }
    // The low byte as two upper-case hex digits.
    void hex(uint32_t byte) {
        static const char digits[] = "0123456789ABCDEF";
        char d[2] = {digits[(byte >> 4) & 15], digits[byte & 15]};
        put(d, 2);
    }
    // Appends the text to the string `out`; answers the budget left.
    int32_t flush(cell* out);
};

// --- Actions ---------------------------------------------------------------------------

cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* do_and();
cell* do_or();
cell* do_xor();
cell* complement(cell* value);
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

// Registers binary! (type 41, parent string!); after string!.
void register_type();

}  // namespace binary
