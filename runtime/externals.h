// Handle table: operating-system objects and foreign pointers that values
// refer to by index, so the collector can release the ones no value reaches.
//
// An entry is {type word, pointer, next index}. The type word holds the
// handle type number in bits 0-7, ENTRY_FREE marks a free entry and
// ENTRY_MARK is the collector's mark. Entries in use form the used list
// (newest first); free entries form the free list; -1 ends either list. The
// table doubles when the last free entry is taken, so the free list is never
// empty after a store.
//
// Handle types are {name, release callback} records numbered from 1; the
// callback frees the stored object when its entry is swept, replaced or
// removed with release.
//
// Indexes reach this table from values that scripts can build or load: mark,
// replace and remove ignore an index that is out of range or names a free
// entry.
#pragma once
#include <cstdint>

namespace externals {

using ReleaseFn = void (*)(void* pointer);

struct HandleType {
    const char* name;
    ReleaseFn release;  // may be null
};

enum : uint32_t {
    ENTRY_TYPE_MASK = 0xFF,
    ENTRY_FREE = 0x40000000,
    ENTRY_MARK = 0x80000000,
};

struct Entry {
    uint32_t type;   // type number, free bit, mark bit
    void* pointer;   // 0 in a free entry
    int32_t next;    // next entry of the used or free list; -1 ends it
};
static_assert(sizeof(Entry) == 12, "handle entry is three 32-bit words");

constexpr int32_t MAX_TYPES = 20;
constexpr int32_t START_ENTRIES = 1000;

struct Table {
    Entry* entries;      // tracked block of `capacity` entries
    int32_t capacity;
    int32_t used_head;   // -1 when empty
    int32_t free_head;   // -1 when empty
    HandleType* types;   // tracked block of MAX_TYPES records
    int32_t type_count;
};

extern Table table;

// Makes the type array and the entry array (all free, chained in index order).
void init();
// Appends a handle type; returns its number (from 1), or 0 when the table of
// types is full.
int32_t register_type(const char* name, ReleaseFn release);
// Stores a pointer under a type word; returns the entry's index.
int32_t store(void* pointer, uint32_t type_word);
// Calls the release callback of the type (type_word AND 0xFF), if any.
void release(uint32_t type_word, void* pointer);
// Stores a new pointer; a different old one is released through the type.
void replace(int32_t index, void* pointer);
// Frees the entry, releasing its pointer first when asked; returns -1.
int32_t remove(int32_t index, bool release_pointer);
// Sets the mark (and replaces the pointer when `pointer` is not 0); 1 when
// the entry was not marked before, else 0.
int32_t mark(int32_t index, void* pointer);
// Calls `callback` with the pointer of every used entry of a type number.
void for_each_of_kind(uint32_t type, ReleaseFn callback);
// Collector step: unmarked entries are released and freed, marks cleared.
void sweep();

}  // namespace externals
