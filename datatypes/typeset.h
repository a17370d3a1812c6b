// typeset!: a set of datatypes held in the value cell itself.
//
// Cell: header type id 33; words 1-3 hold 96 type bits, one per type id
// 0-95. Taking the twelve payload bytes in memory order (word 1's lowest
// address first), the bit of type id t is in byte t / 8 under the mask
// 0x80 >> (t % 8): the most significant bit of each byte comes first. The
// Zolbin codecs store the three words as they are.
//
// Id 0 and ids above the top registered type id are produced only by
// `complement` and `make_any`; counting, listing, forming and molding ignore
// them. No series is ever allocated for a typeset: copies are cell copies and
// membership is one byte test, which is what the argument checks of compiled
// code (rt.h) rely on.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace typeset {

constexpr uint32_t BITS = 96;

// --- Bits ----------------------------------------------------------------------------

inline const uint8_t* bytes_of(const cell* ts) { return reinterpret_cast<const uint8_t*>(&ts->data1); }
inline uint8_t* bytes_of(cell* ts) { return reinterpret_cast<uint8_t*>(&ts->data1); }

// Whether type id t is in the set (ids from 96 up never are).
inline bool has(const cell* ts, uint32_t t) {
    return t < BITS && (bytes_of(ts)[t >> 3] & (0x80u >> (t & 7))) != 0;
}
inline void set_bit(cell* ts, uint32_t t) {
    if (t < BITS) bytes_of(ts)[t >> 3] |= (uint8_t)(0x80u >> (t & 7));
}

// Turns a cell into an empty typeset!.
cell* make_empty(cell* c);
// A typeset! of the given type ids (for native code's own argument sets).
cell of(std::initializer_list<uint8_t> types);

// typeset/clear: words 1-3 set to 0.
void clear(cell* ts);
// typeset/count: set bits for type ids 1 to the top type id.
int32_t count(const cell* ts);

// --- Making ---------------------------------------------------------------------------

// Appends a typeset! holding these three words to the block (the Zolbin
// decoders).
cell* make_at(memory::Node* block, uint32_t word1, uint32_t word2, uint32_t word3);
// Appends a typeset! with every bit set but unset!'s (ids 0 and 55-95 too).
cell* make_any(memory::Node* block);
// Appends the typeset of a function spec's type block: words are looked up;
// a datatype! sets its bit, a typeset! is ORed in, a word's value that is a
// word! sets object!'s bit, a block! is skipped, anything else raises
// script invalid-type-spec.
cell* make_from_spec(memory::Node* block, cell* spec);
// Adds one element: a word is replaced by its value; a typeset! is ORed in,
// a datatype! sets its bit; anything else raises script invalid-arg.
void add_type(cell* ts, const cell* value);
// Makes `out` a new block of the type-name words, ids 1 to the top in order.
cell* to_block(const cell* ts, cell* out);

// The set operation `op` of the call's first two arguments, result in the
// first: 5 or~ / 9 union (a OR b), 6 and~ / 10 intersect (a AND b), 7 xor~ /
// 12 difference (a XOR b), 11 exclude (a AND NOT b), 8 unique (a as it is).
// The second operand must be a typeset! or datatype!, else script
// invalid-arg.
cell* do_bitwise(int32_t op);

// Appends the type names (with "make typeset! [" and "]" unless `only`);
// with `part` stops before a name once the limit fell below 0. Returns the
// remaining limit.
int32_t serialize(const cell* ts, cell* out, bool only, bool part, int32_t limit);

// --- Actions -------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* and_();
cell* complement(cell* value);
cell* or_();
cell* xor_();
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);

// Registers typeset! (type 33, no parent).
void register_type();

}  // namespace typeset
