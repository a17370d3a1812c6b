// Tracked allocation and the command line's argument vector.
#include "runtime/tracked.h"

#include <cstdlib>
#include <cstring>

#include "runtime/print.h"
#include "runtime/sys.h"

namespace sys {

TrackedList tracked_list = {nullptr, nullptr};

// Largest request that still fits with its header in 32 bits.
static constexpr uint32_t MAX_TRACKED = 0xFFFFFFFFu - sizeof(TrackedHeader);

[[noreturn]] __attribute__((noinline)) static void out_of_memory(uint32_t at) {
    quit(RT_OUT_OF_MEMORY, at);
}

static void append(TrackedHeader* b) {
    b->next = nullptr;
    b->prev = tracked_list.tail;
    if (tracked_list.tail) tracked_list.tail->next = b;
    else tracked_list.head = b;
    tracked_list.tail = b;
}

void* allocate(uint32_t size) {
    if (size > MAX_TRACKED) out_of_memory(SYS_CALLER_ADDRESS());
    auto* b = (TrackedHeader*)::malloc(size + sizeof(TrackedHeader));
    if (!b) out_of_memory(SYS_CALLER_ADDRESS());
    b->size = size;
    b->unused = 0;
    append(b);
    return b + 1;
}

void* allocate_zeroed(uint32_t size) {
    void* p = allocate(size);
    memset(p, 0, size);
    return p;
}

static TrackedHeader* find(void* p) {
    auto* want = (TrackedHeader*)p - 1;
    for (TrackedHeader* b = tracked_list.head; b; b = b->next)
        if (b == want) return b;
    return nullptr;
}

void free(void* p) {
    if (!p) return;
    TrackedHeader* b = find(p);
    if (!b) return;
    if (b->prev) b->prev->next = b->next;
    else tracked_list.head = b->next;
    if (b->next) b->next->prev = b->prev;
    else tracked_list.tail = b->prev;
    ::free(b);
}

void* resize(void* p, uint32_t size) {
    if (!p) return allocate(size);
    if (size == 0) {
        free(p);
        return nullptr;
    }
    if (size > MAX_TRACKED) out_of_memory(SYS_CALLER_ADDRESS());
    TrackedHeader* old = find(p);
    if (!old) out_of_memory(SYS_CALLER_ADDRESS());  // not ours: nothing sane to grow
    TrackedHeader* prev = old->prev;
    TrackedHeader* next = old->next;
    auto* b = (TrackedHeader*)::realloc(old, size + sizeof(TrackedHeader));
    if (!b) out_of_memory(SYS_CALLER_ADDRESS());
    b->size = size;
    if (next) next->prev = b;
    else tracked_list.tail = b;
    if (prev) prev->next = b;
    else tracked_list.head = b;
    return b + 1;
}

void free_all() {
    TrackedHeader* b = tracked_list.head;
    while (b) {
        TrackedHeader* next = b->next;
        ::free(b);
        b = next;
    }
    tracked_list.head = tracked_list.tail = nullptr;
}

void dump_allocations() {
    print({{PrintItem::String("-- Heap-allocations --")}});
    print({{PrintItem::String("Asked   Real")}});
    uint32_t sum = 0;
    for (TrackedHeader* b = tracked_list.head; b; b = b->next) {
        uint32_t real = b->size + sizeof(TrackedHeader);
        sum += real;
        print({PrintItem::Integer((int32_t)b->size), PrintItem::Byte('\t'),
               PrintItem::Integer((int32_t)real)});
    }
    print({PrintItem::String("-- Sum: "), PrintItem::Integer((int32_t)sum),
           PrintItem::String(" --")});
}

uint32_t size_mul(uint32_t count, uint32_t unit) {
    uint32_t r;
    if (__builtin_mul_overflow(count, unit, &r)) out_of_memory(SYS_CALLER_ADDRESS());
    return r;
}

uint32_t size_add(uint32_t a, uint32_t b) {
    uint32_t r;
    if (__builtin_add_overflow(a, b, &r)) out_of_memory(SYS_CALLER_ADDRESS());
    return r;
}

void set_arguments(int count, const char* const* args) {
    if (count < 0) count = 0;
    auto** vec = (char**)allocate(size_mul((uint32_t)count + 1, sizeof(char*)));
    for (int i = 0; i < count; i++) {
        uint32_t n = size_add((uint32_t)strlen(args[i]), 1);
        vec[i] = (char*)allocate(n);
        memcpy(vec[i], args[i], n);
    }
    vec[count] = nullptr;
    runtime.argv = vec;
    runtime.argc = count;
}

}  // namespace sys
