// Raw arrays.
#include "runtime/array.h"

#include <cassert>
#include <cstring>

namespace array {

using memory::Buffer;

static uint32_t unit_shift(const Buffer* b) {
    uint32_t u = b->unit();
    return u <= 1 ? 0 : 31 - (uint32_t)__builtin_clz(u);
}

// Reserves n bytes at the tail and returns their address. A buffer without
// room grows by 2n when n exceeds its capacity, else doubles.
static uint8_t* reserve_tail(Node* a, uint32_t n) {
    Buffer* b = a->buffer;
    if (n > (uint32_t)(b->data_end() - b->tail)) {
        int64_t grown = n > b->capacity ? (int64_t)b->capacity + 2 * (int64_t)n : 0;
        if (grown > INT32_MAX) grown = INT32_MAX;  // refused as no-memory by the expansion
        b = memory::expand_series_copy(a, (int32_t)grown);
    }
    uint8_t* p = b->tail;
    b->tail += n;
    return p;
}

Node* make(int32_t count, uint32_t unit) {
    assert(unit == 1 || unit == 2 || unit == 4 || unit == 8 || unit == 16);
    int64_t bytes = (int64_t)count * unit;
    if (count < 0 || bytes > INT32_MAX) memory::raise_internal(memory::Internal::no_memory);
    Node* a = memory::alloc_bytes((int32_t)bytes);
    Buffer* b = a->buffer;
    b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | unit;
    return a;
}

int32_t length(Node* a) {
    Buffer* b = a->buffer;
    return (int32_t)(b->used_bytes() >> unit_shift(b));
}

void clear(Node* a) { a->buffer->tail = a->buffer->head; }

void cut_at(Node* a, int32_t n) {
    Buffer* b = a->buffer;
    int32_t keep = n - 1;
    if (keep < 0) keep = 0;
    if (keep < length(a)) b->tail = b->head + ((uint32_t)keep << unit_shift(b));
}

Node* copy(Node* a) { return memory::copy_series(a); }

uint32_t flags(Node* a) { return a->buffer->flags; }

void append_byte(Node* a, uint8_t v) { *reserve_tail(a, 1) = v; }

void append_bytes(Node* a, const void* source, int32_t n) {
    if (n <= 0) return;
    memcpy(reserve_tail(a, (uint32_t)n), source, (size_t)n);
}

void append_int(Node* a, int32_t v) { memcpy(reserve_tail(a, 4), &v, 4); }

void append_ptr(Node* a, const void* p) { memcpy(reserve_tail(a, sizeof p), &p, sizeof p); }

// Address of 32-bit element i (from 1).
static uint8_t* word_at(Node* a, int32_t i) {
    Buffer* b = a->buffer;
    assert(i >= 1 && (uint32_t)i * 4 <= b->used_bytes());
    return b->head + (uint32_t)(i - 1) * 4;
}

uint8_t pick_byte(Node* a, int32_t i) {
    Buffer* b = a->buffer;
    assert(i >= 1 && (uint32_t)i <= b->used_bytes());
    return b->head[i - 1];
}

int32_t pick_int(Node* a, int32_t i) {
    int32_t v;
    memcpy(&v, word_at(a, i), 4);
    return v;
}

void* pick_ptr(Node* a, int32_t i) {
    void* p;
    memcpy(&p, word_at(a, i), sizeof p);
    return p;
}

void poke_int(Node* a, int32_t i, int32_t v) { memcpy(word_at(a, i), &v, 4); }

int32_t find_int(Node* a, int32_t v) {
    Buffer* b = a->buffer;
    for (uint8_t* p = b->head; p + 4 <= b->tail; p += 4) {
        int32_t w;
        memcpy(&w, p, 4);
        if (w == v) return (int32_t)(p - b->head);
    }
    return -1;
}

int32_t find_ptr(Node* a, const void* p) { return find_int(a, (int32_t)(uintptr_t)p); }

void insert_int(Node* a, int32_t v, int32_t i) {
    Buffer* b = a->buffer;
    assert(i >= 0 && (uint32_t)i * 4 <= b->used_bytes());
    if (b->tail + 4 > b->data_end())
        b = memory::expand_series_copy(a, b->capacity ? 0 : 16);
    uint8_t* at = b->head + (uint32_t)i * 4;
    memmove(at + 4, at, (size_t)(b->tail - at));
    memcpy(at, &v, 4);
    b->tail += 4;
}

void remove_at(Node* a, int32_t offset, int32_t n) {
    Buffer* b = a->buffer;
    uint32_t used = b->used_bytes();
    if (offset < 0 || n <= 0 || (uint32_t)offset >= used) return;
    if ((uint32_t)n > used - (uint32_t)offset) n = (int32_t)(used - (uint32_t)offset);
    uint8_t* at = b->head + offset;
    memmove(at, at + n, (size_t)(b->tail - (at + n)));
    b->tail -= n;
}

int32_t remove_ptr(Node* a, const void* p) {
    int32_t offset = find_ptr(a, p);
    if (offset >= 0) remove_at(a, offset, 4);
    return offset;
}

}  // namespace array
