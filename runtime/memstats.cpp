// Memory statistics. The detail block is built from plain block! and
// integer!/float! cells (block: head index 0 in word 1, node in word 2;
// integer: value in word 2; float: double in words 2-3).
#include "runtime/memstats.h"

#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/print.h"
#include "runtime/tracked.h"

namespace memstats {

using memory::Node;

static constexpr double INTEGER_MAX = 2147483647.0;
static constexpr uint32_t ROOM = 8;  // cells a new sub-block starts with

// A cell appended at the block's tail (the buffer grows when full).
static cell* append(Node* block) {
    memory::Buffer* b = block->buffer;
    if (b->tail + sizeof(cell) > b->data_end()) b = memory::expand_series_copy(block, 0);
    auto* c = (cell*)b->tail;
    b->tail += sizeof(cell);
    return c;
}

static void set_integer(cell* c, int32_t n) { *c = {TYPE_INTEGER, 0, (uint32_t)n, 0}; }

static void set_number(cell* c, double d) {
    if (d <= INTEGER_MAX) {
        set_integer(c, (int32_t)d);
    } else {
        *c = {TYPE_FLOAT, 0, 0, 0};
        cell::set_float(c, d);
    }
}

// A new block of `room` cells appended to `into`; its node.
static Node* append_block(Node* into, bool new_line) {
    Node* n = memory::alloc_cells(ROOM);
    cell* c = append(into);
    *c = {TYPE_BLOCK, 0, (uint32_t)(uintptr_t)n, 0};
    if (new_line) cell::set_new_line(c, true);
    return n;
}

static void append_integers(Node* block, std::initializer_list<uint32_t> values) {
    for (uint32_t v : values) set_number(append(block), (double)v);
}

double tracked_total() {
    double total = 0;
    for (sys::TrackedHeader* h = sys::tracked_list.head; h; h = h->next) total += (double)h->size + 16;
    return total;
}

double reserved_total() {
    double total = 0;
    const memory::Record& r = *memory::record;
    for (memory::NodeFrame* f = r.node_first; f; f = f->next) total += 4.0 * f->slot_count + 36;
    for (memory::SeriesFrame* f = r.series_first; f; f = f->next) total += (double)f->size + 20;
    for (memory::BigFrame* f = r.big_first; f; f = f->next) total += (double)f->size + 12;
    return total + tracked_total();
}

static double in_use() {
    double total = 0;
    const memory::Record& r = *memory::record;
    for (memory::NodeFrame* f = r.node_first; f; f = f->next) total += 4.0 * f->used;
    for (memory::SeriesFrame* f = r.series_first; f; f = f->next) total += (double)(f->heap - f->start());
    for (memory::BigFrame* f = r.big_first; f; f = f->next) total += f->size;
    return total;
}

static void detail(Node* target) {
    const memory::Record& r = *memory::record;
    Node* nodes = append_block(target, false);
    // Each frame's figures are read before its sub-block is made.
    for (memory::NodeFrame* f = r.node_first; f; f = f->next) {
        uint32_t free = f->slot_count - f->used, used = f->used;
        append_integers(append_block(nodes, true), {free, used, f->slot_count});
    }
    Node* series = append_block(target, false);
    for (memory::SeriesFrame* f = r.series_first; f; f = f->next) {
        uint32_t free = f->free_bytes(), used = (uint32_t)(f->heap - f->start());
        append_integers(append_block(series, true), {free, used, (uint32_t)(f->end - f->start())});
    }
    Node* big = append_block(target, false);
    for (memory::BigFrame* f = r.big_first; f; f = f->next) {
        cell* c = append(big);
        set_integer(c, (int32_t)f->size);
        cell::set_new_line(c, true);
    }
    // Both totals after every series of the block is made: it counts too.
    double tracked = tracked_total();
    double reserved = reserved_total();
    set_number(append(target), reserved);
    set_number(append(target), tracked);
}

// The enable flag is off for the walk and back to its value however it ends.
struct Disabled {
    int32_t was = collector::enabled;
    Disabled() { collector::enabled = 0; }
    ~Disabled() { collector::enabled = was; }
};

double measure(cell* target, int32_t mode) {
    Disabled off;
    collector::NoCollect still;  // the walk and the block it fills see one heap
    if (mode <= 1) return in_use();
    detail((Node*)(uintptr_t)target->data2);
    return 0;
}

void print_symbol(const cell* word) {
    sys::prin({sys::PrintItem::String(symbol::to_cstr((int32_t)word->data2))});
}

}  // namespace memstats
