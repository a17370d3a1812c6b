// map!: the dictionary, key/value pairs over a hash table of kind 1.
//
// A map! cell: word 1 the head index (0), word 2 the node of the key/value
// block, word 3 the node of the hash table (hashtable.h) indexing it.
//
// The key/value block holds cells two at a time, key then value. Entries are
// appended at the tail and never move. A removed entry keeps its key with an
// emptied value cell (header 0) that every walk skips; putting the key again
// refills the slot. The table's live count is the map's length.
//
// Keys are normalised before they are stored: texts and binaries are copied
// (later changes of the caller's series do not reach the map), the four word
// types are stored as set-word!, the scalar key types as they are; any other
// type raises invalid-path. Word keys are looked up as set-words, so `a`,
// `a:`, `'a` and `:a` are one key.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace map {

inline memory::Node* table(const cell* map) { return (memory::Node*)(uintptr_t)map->data3; }
inline memory::Node* block_of(const cell* map) { return (memory::Node*)(uintptr_t)map->data2; }

// Whether a value of this type may be a key.
bool is_valid_key(uint8_t type);

// Turns `c` into a map! over the key/value block `blk` (taken as it is, keys
// already normalised) or, when blk is null, over a new empty block of room
// for `size` cells.
cell* make_at(cell* c, const cell* blk, int32_t size);
// A new empty map! on the argument stack.
cell* push();
// Live entries.
int32_t length_of(const cell* map);
// Adds or replaces every pair of the block (an odd count raises
// invalid-arg before anything changes). Returns the map.
cell* extend(cell* map, cell* blk, bool case_);
// Sets the loop words from the entries after *position (a cell index of the
// key/value block), advancing it; words left over get none. Answers whether
// any entry was assigned.
bool foreach_next(cell* words, cell* map, int32_t* position);

// --- Actions ---------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* reflect(cell* value, int32_t field_symbol);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* clear(cell* series);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length(cell* series);
cell* put(cell* series, cell* key, cell* value, bool case_);
cell* remove(cell* series, cell* part, cell* key);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);

// Registers map! (type 40, no parent).
void register_type();

}  // namespace map
