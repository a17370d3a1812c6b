// bitset!: a set of non-negative integers (mostly code points) as an array
// of bits in a byte series.
//
// Cell: header type id 30; word 2 the node of a byte series (unit 1); words
// 1 and 3 carry nothing. Bit n is in byte n / 8 from the series head under
// the mask 0x80 >> (n % 8); the array holds (tail - head) x 8 bits.
//
// Complement: buffer flag FLAG_COMPLEMENTED. Inside the array a bit always
// says membership directly; past the tail every integer is a member exactly
// when the flag is set. Growing fills with the byte that keeps membership
// (0xFF complemented, 0x00 plain), so growth never changes the set; every
// operation below treats two bitsets as the sets they stand for, whatever
// their lengths.
//
// Nothing here keeps a buffer address across an allocation: growth may
// collect, so the bytes are reached through the cell's node again after it.
// Values being worked on live on the argument stack.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace bitset {

// Operations of `process`.
enum Op : int32_t { MEASURE = 0, SET = 1, TEST = 2, CLEAR = 3 };
// What a spec of the wrong type raises: bad-make-arg, bad-to-arg, invalid-arg.
enum Mode : int32_t { MODE_MAKE = 0, MODE_TO = 1, MODE_ACTION = 2 };

// --- Access ---------------------------------------------------------------------------

inline memory::Node* node_of(const cell* b) { return (memory::Node*)(uintptr_t)b->data2; }
bool is_complemented(const cell* b);
uint8_t* rs_head(const cell* b);
uint8_t* rs_tail(const cell* b);
// Bytes in the array.
uint32_t byte_length(const cell* b);
// bitset/length?: bits in the array.
int32_t length_of(cell* b);
// Whether n is a member.
bool is_member(const cell* b, int64_t n);
// Makes the array cover bit n, growing with the fill byte; returns the head.
uint8_t* grow(cell* b, uint32_t n);
// True when n is negative or its byte lies at or beyond the tail.
bool is_out_of_range(const cell* b, int64_t n);
void invert_bytes(uint8_t* from, uint8_t* to);

// --- Making -------------------------------------------------------------------------------

// Turns a cell into a bitset! on the node.
cell* make_at(cell* c, memory::Node* node);
// A new bitset! of `bytes` bytes of `fill` on the argument stack.
cell* push_new(uint32_t bytes, uint8_t fill, bool complemented);

// Applies `op` for a spec value (char!, integer!, float!, string!, block! of
// those and ranges `a - b`); `b` may be null for MEASURE. At the top level
// MEASURE and SET answer the bytes the highest index needs (at least 1) and
// TEST 1 or 0; nested calls answer the highest index or the test result.
int32_t process(const cell* value, cell* b, int32_t op, bool nested, int32_t mode);
// The same for the integers lo..hi and for the characters of a string.
int32_t range_op(cell* b, int32_t lo, int32_t hi, int32_t op);
int32_t string_op(const cell* text, cell* b, int32_t op);
// make (mode 0) and to (mode 1): the new bitset! in `target`.
cell* make_from_spec(cell* target, const cell* spec, int32_t mode);

// The bitwise action or set operation `op` of the call's first two arguments,
// result in the first: 5 or~ / 9 union, 6 and~, 10 intersect, 7 xor~ / 12
// difference, 11 exclude, 8 unique (the first as it is). The second operand
// must be a bitset!, else script invalid-type.
cell* do_bitwise(int32_t op);
// The same on two given bitsets; the result replaces `a`.
cell* combine(int32_t op, cell* a, const cell* b);

// Appends two upper-case hex digits per byte (inverted first when asked),
// 2 from the limit each; with `part` stops once the limit fell below 0.
int32_t form_hex(const cell* b, cell* out, bool invert, bool part, int32_t limit);

// --- Actions --------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* negate(cell* value);
cell* and_();
cell* complement(cell* value);
cell* or_();
cell* xor_();
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* clear(cell* series);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* pick(cell* series, int32_t index, cell* index_cell);
cell* poke(cell* series, int32_t index, cell* value, cell* index_cell);
cell* remove(cell* series, cell* part, cell* key);

// Registers bitset! (type 30, no parent).
void register_type();

}  // namespace bitset
