// Slot pool.
#include "runtime/slot_pool.h"

#include <cstring>

namespace slot_pool {

Pool pool;

namespace {
constexpr uint32_t TYPE_BLOCK = 5;
constexpr uint32_t TYPE_INTEGER = 11;
constexpr uint32_t CELL = 16;
}  // namespace

static uint8_t* cells() { return node()->buffer->head; }

static void set_free(int32_t index, int32_t next) {
    const uint32_t cell[4] = {TYPE_INTEGER, 0, (uint32_t)next, 0};
    memcpy(cells() + (uint32_t)index * CELL, cell, CELL);
}

// Cells from `from` to the end of the capacity become free, chained in order.
static void format(int32_t from) {
    for (int32_t i = from; i < pool.capacity; i++) set_free(i, i + 1 < pool.capacity ? i + 1 : -1);
    pool.free_head = from;
    memory::Buffer* b = node()->buffer;
    b->tail = b->head + (uint32_t)pool.capacity * CELL;
}

void init() {
    memory::Node* n = memory::alloc_cells(START_CAPACITY);
    pool.block[0] = TYPE_BLOCK;
    pool.block[1] = 0;
    pool.block[2] = (uint32_t)(uintptr_t)n;
    pool.block[3] = 0;
    pool.capacity = START_CAPACITY;
    format(0);
}

int32_t alloc(const void* value) {
    // The value may live in a buffer that growing the pool moves (even in the
    // pool itself): copy it first.
    uint8_t copy[CELL];
    memcpy(copy, value, CELL);
    if (pool.free_head == -1) {
        int32_t old = pool.capacity;
        if (old > INT32_MAX / 2 / (int32_t)CELL) memory::raise_internal(memory::Internal::no_memory);
        memory::expand_series_copy(node(), old * 2 * (int32_t)CELL);
        pool.capacity = old * 2;
        format(old);
    }
    int32_t index = pool.free_head;
    uint8_t* cell = cells() + (uint32_t)index * CELL;
    int32_t next;
    memcpy(&next, cell + 8, 4);
    memcpy(cell, copy, CELL);
    pool.free_head = next;
    return index + 1;
}

void free(int32_t n) {
    if (n < 1 || n > pool.capacity) return;
    set_free(n - 1, pool.free_head);
    pool.free_head = n - 1;
}

void* cell_at(int32_t n) {
    if (n < 1 || n > pool.capacity) return nullptr;
    return cells() + (uint32_t)(n - 1) * CELL;
}

}  // namespace slot_pool
