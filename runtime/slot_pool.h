// Slot pool: keeps language values alive for native code that can only hold
// an integer. A value is copied into a numbered cell of one block, rooted by
// the collector, and its slot number (from 1) handed out.
//
// Every cell of the block's capacity is content (its tail is the end of the
// capacity). A free cell is an integer! whose value is the index of the next
// free cell (-1 ends the list); a used cell holds the stored value. The last
// freed slot is the first handed out again. Cells are 16-byte value cells;
// this module copies them whole and does not look inside a used one.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace slot_pool {

constexpr int32_t START_CAPACITY = 100;

struct Pool {
    uint32_t block[4];  // block! value cell {header 5, head index 0, node, 0}: a root
    int32_t capacity;   // cells
    int32_t free_head;  // 0-based index of the first free cell; -1 when none
};

extern Pool pool;

// The pool's series.
inline memory::Node* node() { return (memory::Node*)(uintptr_t)pool.block[2]; }

// Makes the block of 100 cells, all free.
void init();
// Copies a 16-byte value cell into a free slot (growing the pool when none is
// free); returns the slot number, from 1.
int32_t alloc(const void* value);
// Frees a slot; 0 and numbers outside the pool are ignored.
void free(int32_t n);
// Address of the cell of slot n (from 1), or null outside the pool. Valid
// until the next allocation of a series.
void* cell_at(int32_t n);

}  // namespace slot_pool
