// hash!: a block! whose cells are also entered in a hash index (a kind-0
// table, hashtable.h), so that find and select take constant time on
// average while the series keeps its order and all block behaviour.
//
// A hash! cell is a block cell whose word 3 holds the table node. The table
// indexes every cell of the block from the buffer's start (not only from the
// head); equal values sit on one chain, so a value may occur many times and
// a search goes on to the next occurrence.
//
// Invariant: after every action that changes the cells, the index equals one
// built afresh over the block. The block! and series! actions keep it: they
// call `entered` for cells written at the tail or overwritten in place, and
// `rebuild` after any edit that moves cells. A hash! cell with no table
// (word 3 = 0) has nothing to keep.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace hash {

inline memory::Node* table(const cell* h) { return (memory::Node*)(uintptr_t)h->data3; }
inline bool is_indexed(const cell* c) { return c->type() == TYPE_HASH && c->data3 != 0; }

// Enters the whole block again.
void rebuild(const cell* h);
// Enters the cells [from, to) (counted from the buffer's start) again: cells
// added at the tail, or one cell overwritten in place.
void entered(const cell* h, int32_t from, int32_t to);
// Drops the entries of the cells [from, to) before they are overwritten
// (several cells changing at once must leave the index first).
void removing(const cell* h, int32_t from, int32_t to);
// The index of the nearest cell from the head equal to `key` under `op` (the
// furthest with `last`, the nearest before the head with `reverse`) at a
// multiple of `skip` from the head, or -1.
int64_t find_index(cell* h, const cell* key, int32_t op, bool last, bool reverse, int32_t skip);
// Gives `c`, a block cell of any block type, its own new index and type hash!.
cell* index_block(cell* c);

// --- Actions ------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

// Registers hash! (type 36, parent block!).
void register_type();

}  // namespace hash
