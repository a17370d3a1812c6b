// Handle table.
#include "runtime/externals.h"

#include <cassert>

#include "runtime/tracked.h"

namespace externals {

Table table = {nullptr, 0, -1, -1, nullptr, 0};

// Free entries from `from` to the end of the capacity, chained in index order.
static void format_free(int32_t from) {
    for (int32_t i = from; i < table.capacity; i++)
        table.entries[i] = Entry{ENTRY_FREE, nullptr, i + 1 < table.capacity ? i + 1 : -1};
}

void init() {
    table.types = (HandleType*)sys::allocate_zeroed(MAX_TYPES * sizeof(HandleType));
    table.type_count = 0;
    table.capacity = START_ENTRIES;
    table.entries = (Entry*)sys::allocate(sys::size_mul(START_ENTRIES, sizeof(Entry)));
    format_free(0);
    table.used_head = -1;
    table.free_head = 0;
}

int32_t register_type(const char* name, ReleaseFn release) {
    if (table.type_count >= MAX_TYPES) return 0;
    table.types[table.type_count] = HandleType{name, release};
    return ++table.type_count;
}

// The entry at `index` when it is in range and in use, else null.
static Entry* used_entry(int32_t index) {
    if (index < 0 || index >= table.capacity) return nullptr;
    Entry* e = &table.entries[index];
    return (e->type & ENTRY_FREE) ? nullptr : e;
}

static void grow() {
    int32_t old = table.capacity;
    uint32_t capacity = sys::size_mul((uint32_t)old, 2);
    table.entries = (Entry*)sys::resize(table.entries, sys::size_mul(capacity, sizeof(Entry)));
    table.capacity = (int32_t)capacity;
    format_free(old);
    // The last free entry of the old half continues into the new half.
    table.entries[table.free_head].next = old;
}

int32_t store(void* pointer, uint32_t type_word) {
    int32_t index = table.free_head;
    assert(index >= 0);  // growth never lets the free list run empty
    if (table.entries[index].next == -1) grow();
    Entry& e = table.entries[index];
    table.free_head = e.next;
    e.type = type_word;
    e.pointer = pointer;
    e.next = table.used_head;
    table.used_head = index;
    return index;
}

void release(uint32_t type_word, void* pointer) {
    int32_t type = (int32_t)(type_word & ENTRY_TYPE_MASK);
    if (type < 1 || type > table.type_count) return;
    if (ReleaseFn fn = table.types[type - 1].release) fn(pointer);
}

void replace(int32_t index, void* pointer) {
    Entry* e = used_entry(index);
    if (!e) return;
    void* old = e->pointer;
    e->pointer = pointer;
    if (old != pointer) release(e->type, old);
}

// Makes an entry free and pushes it on the free list.
static void push_free(int32_t index) {
    table.entries[index] = Entry{ENTRY_FREE, nullptr, table.free_head};
    table.free_head = index;
}

int32_t remove(int32_t index, bool release_pointer) {
    Entry* e = used_entry(index);
    if (!e) return -1;
    if (release_pointer) release(e->type, e->pointer);
    int32_t* link = &table.used_head;
    while (*link != -1 && *link != index) link = &table.entries[*link].next;
    if (*link == index) *link = table.entries[index].next;
    push_free(index);
    return -1;
}

int32_t mark(int32_t index, void* pointer) {
    Entry* e = used_entry(index);
    if (!e) return 0;
    if (pointer) e->pointer = pointer;
    if (e->type & ENTRY_MARK) return 0;
    e->type |= ENTRY_MARK;
    return 1;
}

void for_each_of_kind(uint32_t type, ReleaseFn callback) {
    for (int32_t i = table.used_head; i != -1; i = table.entries[i].next)
        if ((table.entries[i].type & ENTRY_TYPE_MASK) == type) callback(table.entries[i].pointer);
}

void sweep() {
    // Indexes, not addresses: a release callback may grow the table.
    int32_t prev = -1;
    int32_t i = table.used_head;
    while (i != -1) {
        int32_t next = table.entries[i].next;
        if (table.entries[i].type & ENTRY_MARK) {
            table.entries[i].type &= ~ENTRY_MARK;
            prev = i;
        } else {
            release(table.entries[i].type, table.entries[i].pointer);
            if (prev == -1) table.used_head = next;
            else table.entries[prev].next = next;
            push_free(i);
        }
        i = next;
    }
}

}  // namespace externals
