// series!: the actions every series type shares, written once against the
// unit width of the series buffer.
//
// series! (type 42) is abstract: no value carries its id. block! and string!
// name it as their parent and inherit its entries; their children reach them
// through those two. A series value is a cell whose word 1 is the head index
// (a signed count of units from the buffer's head pointer), word 2 the node of
// its buffer and word 3 per type (string!: cache node; vector!: element type;
// hash!: table node; else 0).
//
// Invariants:
// - The unit width is the buffer's flag bits 0-4 (1, 2, 4, 8 or 16); units in
//   the buffer = (tail - head) >> shift.
// - Length = units - head index. A head index past the tail is clamped to the
//   unit count, written back into the cell, whenever the length is measured
//   (`units_from_head`); a negative head index counts as 0.
// - Nothing here keeps a buffer address across an allocation: the buffer is
//   read again through the node afterwards.
// - Actions follow the native calling convention: the series is the first
//   argument (the result slot) and the result is written there; an absent
//   refinement argument is a cell at or below the window start (or -1).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace series {

// --- Cell access ------------------------------------------------------------------

inline memory::Node* node_of(const cell* v) { return (memory::Node*)(uintptr_t)v->data2; }
inline memory::Buffer* buffer_of(const cell* v) { return node_of(v)->buffer; }
// log2 of a unit width (0 for widths 0 and 1).
inline uint32_t shift_of(uint32_t unit) { return unit > 1 ? 31 - (uint32_t)__builtin_clz(unit) : 0; }
inline uint32_t unit_of(const cell* v) { return buffer_of(v)->unit(); }
// Whether the series (with a node) may have an owner to tell of changes: the
// buffer flag spares every unowned series the owner table's lookup.
inline bool may_be_owned(const cell* v) { return (buffer_of(v)->flags & memory::FLAG_OWNED) != 0; }

// Type classes (inline: keyed lookups and the natives ask them per call).
inline bool is_any_block(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) ||
           t == TYPE_HASH;
}
inline bool is_any_string(uint8_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
           t == TYPE_EMAIL || t == TYPE_REF;
}
inline bool is_series(uint8_t t) {
    return is_any_block(t) || is_any_string(t) || t == TYPE_VECTOR || t == TYPE_BINARY ||
           t == TYPE_IMAGE;
}

// Turns a cell into a series value: type, head index, node; word 3 = 0.
cell* make_at(cell* c, uint8_t type, memory::Node* node, int32_t head);

// Small value makers for the scalar types series answer with: the integer!
// and char! modules' own.
cell* make_integer(cell* c, int32_t n);
cell* make_char(cell* c, int32_t cp);
cell* make_none(cell* c);
cell* make_logic(cell* c, bool b);

// An absent refinement argument, for calls made from native code.
inline cell* const ABSENT = (cell*)(intptr_t)-1;

// --- Support ----------------------------------------------------------------------

// The head (head index << shift from the buffer's head pointer) is at or past
// the tail.
bool is_at_tail(const cell* v);
// Units from the buffer's head pointer to its tail (the head index ignored).
inline uint32_t buffer_units(const cell* v) {
    if (v->type() == TYPE_IMAGE) return (v->data3 & 0xFFFF) * (v->data3 >> 16);  // pixels
    const memory::Buffer* b = buffer_of(v);
    return b->used_bytes() >> shift_of(b->unit());
}
// Moves the head forward by n units only when it stays at or before the tail;
// answers whether the head is now at the tail.
bool advance(cell* v, int32_t n);
// New head index for `at` (one_based) or `skip` from the integer! `arg`
// (another type raises invalid-arg), clamped to 0..units.
int32_t resolve_index(cell* v, const cell* arg, bool one_based);
// With `from_start`, the units of the whole buffer; else the length rule.
int32_t units_from_head(cell* v, bool from_start);
// The tail moves back to n units when it lies further and n units fit.
void truncate_units(memory::Node* node, uint32_t n);
// The count a /part argument gives: an integer!, or a position in the same
// series (its head - v's head); anything else raises invalid-refine-arg.
int32_t part_count(cell* v, const cell* part);

// --- Actions ----------------------------------------------------------------------

cell* random(cell* value, bool seed, bool secure, bool only);
cell* reflect(cell* value, int32_t field_symbol);
cell* at();
cell* back();
cell* clear(cell* series);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* head();
cell* is_head();
cell* index_of();
int32_t length_of(cell* series);
cell* move(cell* origin, cell* target, cell* part);
cell* next();
cell* pick(cell* series, int32_t index, cell* index_cell);
cell* poke(cell* series, int32_t index, cell* value, cell* index_cell);
cell* remove(cell* series, cell* part, cell* key);
// Removes the runs of units [bounds[2k], bounds[2k + 1]) (ascending, not
// overlapping; cut to the tail) in one pass, each kept unit moved once;
// owners are not told. Answers the units removed before unit `before`.
uint32_t cut_runs(memory::Node* node, const uint32_t* bounds, uint32_t runs, uint32_t before);
cell* reverse(cell* series, cell* part, cell* skip);
cell* skip();
cell* tail();
cell* is_tail();
cell* take(cell* series, cell* part, bool deep, bool last);
cell* modify(cell* target, cell* field, cell* value, bool case_);

// Registers series! (type 42, no parent); before block! and string!.
void register_type();

}  // namespace series
