// Tracked allocation: raw memory outside the collector.
//
// Every block carries a 16-byte header {prev, next, size, unused} linking it
// into one process-wide list in allocation order (a resized block keeps its
// place), so that quitting frees everything in one sweep and what is
// outstanding can be listed. Running out of memory is fatal: runtime error 94.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sys {

struct TrackedHeader {
    TrackedHeader* prev;  // previous block, or null for the first
    TrackedHeader* next;  // next block, or null for the last
    uint32_t size;        // bytes the caller asked for (header not counted)
    uint32_t unused;
};
static_assert(sizeof(TrackedHeader) == 16, "tracked header is 16 bytes");

struct TrackedList {
    TrackedHeader* head;
    TrackedHeader* tail;
};

extern TrackedList tracked_list;

// `size` usable bytes, not cleared. Ends the program with runtime error 94
// when memory runs out or the size cannot be represented.
void* allocate(uint32_t size);
void* allocate_zeroed(uint32_t size);
// Address 0 allocates; size 0 frees and returns 0.
void* resize(void* p, uint32_t size);
// An address that is not on the list is ignored.
void free(void* p);
void free_all();
void dump_allocations();

// Checked size arithmetic for callers that compute sizes from counts: ends
// the program with runtime error 94 when the result does not fit 32 bits.
uint32_t size_mul(uint32_t count, uint32_t unit);
uint32_t size_add(uint32_t a, uint32_t b);

inline uint32_t round_up(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}
inline uint32_t next_multiple(uint32_t value, uint32_t alignment) {
    return (value + alignment) & ~(alignment - 1);
}

// Fills the runtime record's argument fields from an already split UTF-8
// command line; the platform layer calls it.
void set_arguments(int count, const char* const* args);

}  // namespace sys
