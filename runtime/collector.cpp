// Collector entry points. The collection itself is still to be built; until
// then nothing is ever reclaimed, which is safe, only wasteful.
#include "runtime/collector.h"

#include <algorithm>

#include "runtime/memory.h"
#include "runtime/tracked.h"

namespace collector {

int32_t enabled = 0;
uint32_t cycle_count = 0;
int32_t collecting = 0;

static memory::Node** freed = nullptr;
static uint32_t freed_n = 0;

void collect() {}

void collect_if_enabled() {
    if (enabled) collect();
}

void init_freed_list() {
    freed = (memory::Node**)sys::allocate(FREED_CAPACITY * sizeof(memory::Node*));
    freed_n = 0;
}

void push_freed(memory::Node* node) {
    if (!node) return;
    if (freed_n == FREED_CAPACITY) release_freed();
    freed[freed_n++] = node;
}

void release_freed() {
    // Address order keeps the nodes of one frame together.
    std::sort(freed, freed + freed_n, [](memory::Node* a, memory::Node* b) {
        return (uintptr_t)a < (uintptr_t)b;
    });
    memory::NodeFrame* f = nullptr;
    for (uint32_t i = 0; i < freed_n; i++) {
        memory::Node* n = freed[i];
        if (!f || !f->contains(n)) f = memory::node_frame_of(n);
        if (f) memory::free_node(f, n);
    }
    freed_n = 0;
}

uint32_t freed_count() { return freed_n; }

}  // namespace collector
