// Allocation and collection: a million small strings and blocks allocated
// against a live set of a few megabytes. Prints the allocation throughput
// and the median and worst pause of a full collection.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/cell.h"
#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/memory.h"

using memory::Node;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int ALLOCATIONS = 1000000;
constexpr int LIVE_BLOCKS = 4000;   // each 16 cells, each cell a 32-byte string: about 3 MB in all
constexpr int LIVE_CELLS = 16;

std::vector<double> pauses;  // milliseconds

void timed_collect() {
    if (!collector::enabled) return;
    auto t0 = Clock::now();
    collector::collect();
    pauses.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
}

cell string_cell(int n) {
    Node* s = memory::alloc_bytes(n);
    s->buffer->tail = s->buffer->head + n;
    memset(s->buffer->head, 'x', (size_t)n);
    return {TYPE_STRING, 0, (uint32_t)(uintptr_t)s, 0};
}

// A block of `n` strings; its cells are written as each string is made.
Node* block_of_strings(int n) {
    Node* b = memory::alloc_cells(n);
    collector::NodeRoot hold(b);
    for (int i = 0; i < n; i++) {
        cell c = string_cell(32);
        memcpy(b->buffer->tail, &c, sizeof c);
        b->buffer->tail += sizeof c;
    }
    return b;
}

void set_cell(Node* block, int i, Node* child) {
    cell c{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)child, 0};
    memcpy(block->buffer->head + i * sizeof(cell), &c, sizeof c);
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    runtime::setup(argc, argv);
    runtime::init();
    collector::enabled = 1;
    memory::collect_hook = timed_collect;

    Node* live = memory::alloc_unset_cells(LIVE_BLOCKS);
    collector::NodeRoot hold(live);
    live->buffer->tail = live->buffer->data_end();
    for (int i = 0; i < LIVE_BLOCKS; i++) set_cell(live, i, block_of_strings(LIVE_CELLS));

    pauses.clear();
    auto t0 = Clock::now();
    for (int i = 0; i < ALLOCATIONS; i++) {
        if (i & 1) memory::alloc_cells(4);
        else memory::alloc_bytes(24);
        // One in a thousand replaces a part of the live set.
        if (i % 1000 == 0) set_cell(live, (i / 1000) % LIVE_BLOCKS, block_of_strings(LIVE_CELLS));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    size_t automatic = pauses.size();
    for (int i = 0; i < 20; i++) timed_collect();

    printf("allocations: %d in %.3f s (%.0f per second), %zu automatic collections\n", ALLOCATIONS, seconds,
           ALLOCATIONS / seconds, automatic);
    printf("full collection pause over %zu collections: median %.3f ms, worst %.3f ms\n", pauses.size(),
           median(pauses), pauses.empty() ? 0.0 : *std::max_element(pauses.begin(), pauses.end()));
    return 0;
}
