// The collector. Order of a collection (see `collect`): mark the roots, the
// weak ownership pass, sweep the handle table, compact series frames, sweep
// big buffers, release dead nodes and empty node frames. Nothing here allocates in the collected heap: every table of its
// own is a tracked block.
#include "runtime/collector.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/cycles.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/slot_pool.h"
#include "runtime/words.h"
#include "runtime/tracked.h"

namespace collector {

using memory::Buffer;
using memory::NodeFrame;
using memory::SeriesFrame;

int32_t enabled = 0;
uint32_t cycle_count = 0;
volatile int32_t collecting = 0;
Roots roots = {};

// Context cell flag: the values live on the argument stack.
constexpr uint32_t CONTEXT_ON_STACK = 1u << 22;
// event! flag: word 2 holds a block.
constexpr uint32_t EVENT_HAS_BLOCK = 1u << 12;

// --- Growable tracked arrays ----------------------------------------------------------

// A stack of words in a tracked block; grows by doubling.
template <class T>
struct Pile {
    T* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    void push(T v) {
        if (count == capacity) {
            capacity = capacity ? sys::size_mul(capacity, 2) : 1024;
            items = (T*)sys::resize(items, sys::size_mul(capacity, sizeof(T)));
        }
        items[count++] = v;
    }
};

static Pile<Node*> mark_stack;      // buffers of cells whose cells wait to be marked
static Pile<Node*> fixed_marked;    // fixed buffers marked in this collection
static Pile<uintptr_t> node_index;  // node frames, sorted
static Pile<uintptr_t> series_index;  // series then big frames, sorted

// --- Markers ----------------------------------------------------------------------------

static Marker markers[MARKER_CAPACITY];
static uint32_t marker_end = 0;

void register_marker(Marker marker) {
    assert(marker_end < MARKER_CAPACITY);
    if (marker_end < MARKER_CAPACITY) markers[marker_end++] = marker;
}

void unregister_marker(Marker marker) {
    for (uint32_t i = 0; i < marker_end; i++)
        if (markers[i] == marker) markers[i] = nullptr;
}

// --- Rooted C++ locals --------------------------------------------------------------------

using held_roots::no_collect_depth;

// --- Frame index ------------------------------------------------------------------------------

static bool frames_indexed = false;

static void index_frames() {
    node_index.count = 0;
    series_index.count = 0;
    for (NodeFrame* f = memory::record->node_first; f; f = f->next) node_index.push((uintptr_t)f);
    for (SeriesFrame* f = memory::record->series_first; f; f = f->next) series_index.push((uintptr_t)f);
    for (memory::BigFrame* f = memory::record->big_first; f; f = f->next) series_index.push((uintptr_t)f);
    std::sort(node_index.items, node_index.items + node_index.count);
    std::sort(series_index.items, series_index.items + series_index.count);
    frames_indexed = true;
}

// The indexed frame that starts at or below `a`, or 0.
static uintptr_t frame_below(const Pile<uintptr_t>& index, uintptr_t a) {
    const uintptr_t* first = index.items;
    const uintptr_t* at = std::upper_bound(first, first + index.count, a);
    return at == index.items ? 0 : at[-1];
}

static bool in_node_frame(uintptr_t a) {
    uintptr_t f = frame_below(node_index, a);
    if (!f) return false;
    auto* nf = (NodeFrame*)f;
    return a >= (uintptr_t)nf->slots() && a < (uintptr_t)(nf->slots() + nf->slot_count);
}

static bool is_big(uintptr_t f) {
    for (memory::BigFrame* b = memory::record->big_first; b; b = b->next)
        if ((uintptr_t)b == f) return true;
    return false;
}

bool find_frame(const void* address, FrameKind kind) {
    if (!collecting || !frames_indexed) index_frames();  // frames come and go between collections
    auto a = (uintptr_t)address;
    if (kind == NODE_FRAMES) return in_node_frame(a);
    uintptr_t f = frame_below(series_index, a);
    if (!f) return false;
    uint32_t size = is_big(f) ? ((memory::BigFrame*)f)->size + sizeof(memory::BigFrame)
                              : ((SeriesFrame*)f)->size;
    return a >= f + 20 && a < f + size;
}

// --- Marking ------------------------------------------------------------------------------------

int32_t mark_series(Node** word) {
    Node* n = *word;
    if (!n) return 0;
    // Words that hold no live node (a pointer table's plain keys, a free
    // slot) are left alone.
    if (collecting && !in_node_frame((uintptr_t)n)) return 0;
    Buffer* b = n->buffer;
    if (!b || (collecting && in_node_frame((uintptr_t)b)) || (b->flags & memory::FLAG_MARK)) return 0;
    b->flags |= memory::FLAG_MARK;
    if (b->flags & memory::FLAG_FIXED) fixed_marked.push(n);
    return 1;
}

int32_t mark_context(Node** word) {
    if (!mark_series(word)) return 0;
    if ((*word)->buffer->unit() == sizeof(cell)) mark_stack.push(*word);
    return 1;
}

void mark_series_cells(cell* value) { mark_context(reinterpret_cast<Node**>(&value->data2)); }

void mark_block(cell* first, cell* last) {
    for (cell* c = first; c < last; c++) {
        if (c->type() >= TYPE_SLOTS) continue;
        CellMarker m = cell_markers[c->type()];
        if (m) m(c);
    }
}

// Marks what the cells of every buffer on the mark stack hold; buffers do not
// move while marking, so head and tail stay valid.
static void drain() {
    while (mark_stack.count) {
        Buffer* b = mark_stack.items[--mark_stack.count]->buffer;
        mark_block((cell*)b->head, (cell*)b->tail);
    }
}

// A hash table's own series; its data block's cells wait on the mark stack.
static void table_word(Node** word) { mark_context(word); }

void mark_table(Node** word) {
    if (*word) hashtable::mark(word, table_word);
}

void mark_object(Node** word) {
    if (!mark_series(word)) return;
    Buffer* b = (*word)->buffer;
    auto* c = (cell*)b->head;
    uint32_t n = b->used_bytes() / sizeof(cell);
    if (n < 1) return;
    if (c[0].data1) mark_table(reinterpret_cast<Node**>(&c[0].data1));
    if (!(c[0].header & CONTEXT_ON_STACK) && c[0].data2) mark_context(reinterpret_cast<Node**>(&c[0].data2));
    if (n >= 2) mark_block(&c[1], &c[2]);
}

void clear_mark(Node* node) { node->buffer->flags &= ~memory::FLAG_MARK; }
bool is_marked(const Node* node) { return node->buffer && (node->buffer->flags & memory::FLAG_MARK); }

// --- Cell marking by type ------------------------------------------------------------------------

static Node** word1(cell* c) { return reinterpret_cast<Node**>(&c->data1); }
static Node** word2(cell* c) { return reinterpret_cast<Node**>(&c->data2); }
static Node** word3(cell* c) { return reinterpret_cast<Node**>(&c->data3); }

static void mark_any_block(cell* c) { mark_context(word2(c)); }
static void mark_text(cell* c) {
    mark_series(word2(c));
    mark_series(word3(c));
}
static void mark_symbol(cell* c) {
    mark_series(word3(c));
    mark_series(word2(c));
}
static void mark_context_cell(cell* c) {
    mark_table(word1(c));
    if (!(c->header & CONTEXT_ON_STACK)) mark_context(word2(c));
}
static void mark_word(cell* c) {
    if (!c->data1) return;
    if ((int32_t)c->data2 == words::sym_self) mark_context(word1(c));
    else mark_object(word1(c));
}
static void mark_native(cell* c) {
    mark_context(word2(c));
    mark_context(word3(c));
    uint32_t made_from = (c->header >> 16) & 0xFF;
    if (c->type() == TYPE_OP && (made_from == TYPE_FUNCTION || made_from == TYPE_ROUTINE)) mark_object(word1(c));
}
static void mark_function(cell* c) {
    mark_object(word1(c));
    mark_context(word2(c));
    mark_context(word3(c));
}
static void mark_bytes(cell* c) { mark_series(word2(c)); }
static void mark_object_cell(cell* c) {
    mark_object(word1(c));
    mark_series(word3(c));
}
static void mark_hash(cell* c) {
    mark_context(word2(c));
    mark_table(word3(c));
}
static void mark_handle(cell* c) {
    if ((int32_t)c->data3 >= 0) externals::mark((int32_t)c->data3, nullptr);
}
static void mark_event(cell* c) {
    if (c->header & EVENT_HAS_BLOCK) mark_context(word2(c));
}

static std::array<CellMarker, TYPE_SLOTS> default_markers() {
    std::array<CellMarker, TYPE_SLOTS> t{};
    for (uint8_t id : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH})
        t[id] = mark_any_block;
    for (uint8_t id : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) t[id] = mark_text;
    t[TYPE_SYMBOL] = mark_symbol;
    t[TYPE_CONTEXT] = mark_context_cell;
    for (uint8_t id : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT}) t[id] = mark_word;
    for (uint8_t id : {TYPE_NATIVE, TYPE_ACTION, TYPE_OP}) t[id] = mark_native;
    t[TYPE_FUNCTION] = t[TYPE_ROUTINE] = mark_function;
    for (uint8_t id : {TYPE_BITSET, TYPE_VECTOR, TYPE_BINARY, TYPE_IMAGE}) t[id] = mark_bytes;
    for (uint8_t id : {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}) t[id] = mark_object_cell;
    t[TYPE_HASH] = t[TYPE_MAP] = mark_hash;
    t[TYPE_HANDLE] = mark_handle;
    t[TYPE_EVENT] = mark_event;
    return t;
}

std::array<CellMarker, TYPE_SLOTS> cell_markers = default_markers();

// --- The ownership table (weak) -------------------------------------------------------------------

// Its buckets, read the way the table module lays them out.
struct Ownership {
    hashtable::Table* t;
    uint32_t* flags;
    int32_t* keys;
    cell* entries;

    explicit Ownership(Node* table)
        : t(hashtable::record(table)),
          flags((uint32_t*)t->flags->buffer->head),
          keys((int32_t*)t->keys->buffer->head),
          entries((cell*)t->data->buffer->head) {}
    bool is_live(uint32_t i) const { return ((flags[i >> 4] >> ((i & 15) * 2)) & 3) == hashtable::LIVE; }
    cell* entry(uint32_t i) const { return (cell*)((uint8_t*)entries + keys[i]); }
};

// Its own series only (`ownership::mark`): marking its keys or owners would
// keep every owned series alive.
static void series_word(Node** word) { mark_series(word); }

static Node* owner_context(cell* e) {
    return e[2].type() == TYPE_OBJECT ? (Node*)(uintptr_t)e[2].data1 : nullptr;
}

static bool node_is_live(Node* node) { return node && is_marked(node); }

// After marking: an entry survives while its series (and owner) are marked;
// what survivors hold is marked in turn, until nothing new survives; then the
// dead entries are dropped.
static void sweep_ownership() {
    if (!ownership::table || !ownership::table->buffer) return;
    Ownership o(ownership::table);
    uint32_t buckets = (uint32_t)o.t->buckets;
    // Survivors already marked, one byte per bucket (kept between collections).
    static uint8_t* done = nullptr;
    static uint32_t done_size = 0;
    if (done_size < buckets) {
        done = (uint8_t*)sys::resize(done, buckets);
        done_size = buckets;
    }
    memset(done, 0, buckets);
    for (bool grew = true; grew;) {
        grew = false;
        for (uint32_t i = 0; i < buckets; i++) {
            if (done[i] || !o.is_live(i)) continue;
            cell* e = o.entry(i);
            if (!node_is_live((Node*)(uintptr_t)e->data1)) continue;
            if (owner_context(e) && !node_is_live(owner_context(e))) continue;
            done[i] = 1;
            grew = true;
            mark_block(e + 1, e + 4);
            drain();
        }
    }
    ownership::sweep(node_is_live);
}

// --- Roots ------------------------------------------------------------------------------------------

static void mark_roots() {
    mark_context(&block::root);
    drain();
    mark_table(&symbol::table);
    ownership::mark(series_word);
    drain();
    if (stack::arguments.base) mark_block(stack::arguments.base, stack::arguments.top);
    drain();
    if (context::global) mark_object(&context::global);
    context::for_each_held(mark_object);
    block::for_each_sort_copy([](cell* cells, uint32_t n) { mark_block(cells, cells + n); });
    drain();
    if (roots.work.data2) mark_series_cells(&roots.work);
    if (slot_pool::node()) mark_block((cell*)slot_pool::pool.block, (cell*)slot_pool::pool.block + 1);
    hashtable::for_each_building(table_word);
    drain();
    for (NodeRoot* r = held_roots::nodes; r; r = r->next) {
        switch (r->held) {
            case Held::SERIES: mark_context(r->word); break;
            case Held::TABLE: mark_table(r->word); break;
            case Held::CONTEXT: mark_object(r->word); break;
        }
    }
    for (Root* r = held_roots::cells; r; r = r->next) mark_block(r->value, r->value + 1);
    drain();
    for (uint32_t i = 0; i < marker_end; i++)
        if (markers[i]) {
            markers[i]();
            drain();
        }
}

// Addresses C++ keeps into series buffers, sorted, for compaction to adjust.
static void collect_pointer_roots() {
    memory::Record& r = *memory::record;
    uint32_t n = 0;
    for (PointerRoot* p = held_roots::pointers; p; p = p->next) {
        uintptr_t v = *p->slot;
        if (v <= 0xFFFF || v >= 0xFFFFF000u) continue;
        if (v >= (uintptr_t)stack::arguments.base && v < (uintptr_t)stack::arguments.end) continue;
        if (!find_frame((void*)v, SERIES_FRAMES)) continue;
        if (n == r.stack_refs_capacity) {
            r.stack_refs_capacity = sys::size_add(r.stack_refs_capacity, memory::STACK_REFS_START);
            r.stack_refs = (memory::StackRef*)sys::resize(
                r.stack_refs, sys::size_mul(r.stack_refs_capacity, sizeof(memory::StackRef)));
        }
        r.stack_refs[n++] = {v, p->slot};
    }
    r.stack_refs_end = r.stack_refs + n;
    std::sort(r.stack_refs, r.stack_refs_end,
              [](const memory::StackRef& a, const memory::StackRef& b) { return a.value < b.value; });
}

// --- Compaction -------------------------------------------------------------------------------------------

static uint32_t span(const Buffer* b) { return b->capacity + memory::BUFFER_OVERHEAD; }

// Moves [from, from + len) to `to`, re-points each moved buffer's node, lowers
// head and tail, and adjusts rooted addresses into the run.
static void move_run(uint8_t* from, uint32_t len, uint8_t* to, memory::StackRef*& cursor) {
    if (from == to || len == 0) return;
    memmove(to, from, len);
    intptr_t delta = to - from;
    for (uint8_t* p = to; p < to + len;) {
        auto* b = (Buffer*)p;
        if (b->node) b->node->buffer = b;
        b->head += delta;
        b->tail += delta;
        p += span(b);
    }
    memory::StackRef* end = memory::record->stack_refs_end;
    while (cursor < end && cursor->value < (uintptr_t)from) cursor++;
    for (memory::StackRef* s = cursor; s < end && s->value < (uintptr_t)(from + len); s++) *s->slot += delta;
}

// One frame's walk. With `prev`, runs move into its free room while that
// exceeds MOVE_DOWN_MIN; otherwise, or when a run does not fit, they slide
// down over the dead space of their own frame.
static void compact_frame(SeriesFrame* f, SeriesFrame* prev, memory::StackRef*& cursor) {
    uint32_t room = prev ? prev->free_bytes() : 0;
    bool down = room > MOVE_DOWN_MIN;
    if (!down) room = 0;
    uint8_t* dest = nullptr;
    uint8_t* p = f->start();
    while (p < f->heap) {
        auto* b = (Buffer*)p;
        if (!(b->flags & memory::FLAG_MARK)) {
            push_freed(b->node);
            if (!dest) dest = p;
            p += span(b);
            continue;
        }
        uint8_t* run = p;
        uint32_t len = 0, last = 0;
        while (p < f->heap) {
            auto* c = (Buffer*)p;
            if (!(c->flags & memory::FLAG_MARK) || (down && len >= room)) break;
            c->flags &= ~memory::FLAG_MARK;
            last = span(c);
            len += last;
            p += last;
        }
        if (down && (len <= room || (len - last > 0 && len - last <= room))) {
            if (len > room) {  // the last buffer stays behind and is visited again
                len -= last;
                p -= last;
                ((Buffer*)p)->flags |= memory::FLAG_MARK;
            }
            move_run(run, len, prev->heap, cursor);
            prev->heap += len;
            room -= len;
            if (room <= MOVE_DOWN_MIN) down = false, room = 0;
            if (!dest) dest = run;
        } else if (dest) {
            move_run(run, len, dest, cursor);
            dest += len;
        } else {
            down = false, room = 0;
        }
    }
    if (dest) {
#ifdef ZOL_GC_STRESS
        memory::poison_fill(dest, f->heap);  // what was reclaimed
#endif
        f->heap = dest;
    }
    if (prev && f->heap == f->start() && f != memory::record->series_last) memory::free_series_frame(f);
}

static void compact() {
    memory::StackRef* cursor = memory::record->stack_refs;
    for (SeriesFrame* f = memory::record->series_first; f;) {
        SeriesFrame* next = f->next;
        compact_frame(f, f->prev, cursor);
        f = next;
    }
}

// --- The collection ----------------------------------------------------------------------------------------

void init() { cycle_count = 0; }

void collect() {
    if (collecting || no_collect_depth || !memory::record || !memory::record->series_first) return;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    collecting = 1;
    std::atomic_thread_fence(std::memory_order_seq_cst);

    index_frames();
    mark_roots();
    collect_pointer_roots();
    // Ownership records keep values alive too: external resources are swept
    // only once they have marked theirs (else a value they revive keeps a
    // released resource, and its handle slot goes to another value).
    sweep_ownership();
    externals::sweep();
    compact();
    memory::sweep_big_frames();
    release_freed();
    memory::release_empty_node_frames();
    for (uint32_t i = 0; i < fixed_marked.count; i++) clear_mark(fixed_marked.items[i]);
    fixed_marked.count = 0;
    memory::record->stack_refs_end = memory::record->stack_refs;
    frames_indexed = false;

    cycle_count++;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    collecting = 0;
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

void collect_if_enabled() {
    if (enabled) collect();
}

// --- Release list ------------------------------------------------------------------------------------------

static memory::Node** freed = nullptr;
static uint32_t freed_n = 0;

void init_freed_list() {
    freed = (memory::Node**)sys::allocate(FREED_CAPACITY * sizeof(memory::Node*));
    freed_n = 0;
}

void push_freed(memory::Node* node) {
    if (!node) return;
    if (freed_n == FREED_CAPACITY) release_freed();
    freed[freed_n++] = node;
}

// Gives the nodes back to their frames (a node whose frame is gone, with a
// test's own heap, is skipped).
static void free_nodes(memory::Node** nodes, uint32_t n) {
    // Address order keeps the nodes of one frame together.
    std::sort(nodes, nodes + n, [](memory::Node* a, memory::Node* b) { return (uintptr_t)a < (uintptr_t)b; });
    NodeFrame* f = nullptr;
    for (uint32_t i = 0; i < n; i++) {
        memory::Node* node = nodes[i];
        if (!f || !f->contains(node)) f = memory::node_frame_of(node);
        if (f) memory::free_node(f, node);
    }
}

#ifdef ZOL_GC_STRESS
// The stress build does not reuse dead nodes at once: they wait in a
// first-in-first-out quarantine holding the poison word, so a node that a
// missed root still names faults when read instead of being a plausible,
// recycled series. They count as used in their frames meanwhile.
static memory::Node** quarantine = nullptr;
static uint32_t quarantine_first = 0;
static uint32_t quarantine_n = 0;

static void release_oldest(uint32_t n) {
    static memory::Node* batch[1024];
    while (n) {
        uint32_t take = 0;
        for (; take < n && take < 1024; take++) {
            batch[take] = quarantine[quarantine_first];
            quarantine_first = (quarantine_first + 1) % QUARANTINE_CAPACITY;
        }
        quarantine_n -= take;
        n -= take;
        // A node that no longer holds the poison lies in a frame made anew
        // since (a test's heap was freed): it is not ours to free.
        uint32_t keep = 0;
        for (uint32_t i = 0; i < take; i++)
            if ((uintptr_t)batch[i]->buffer == memory::poison()) batch[keep++] = batch[i];
        free_nodes(batch, keep);
    }
}

void flush_quarantine() { release_oldest(quarantine_n); }

void release_freed() {
    if (!quarantine) quarantine = (memory::Node**)sys::allocate(QUARANTINE_CAPACITY * sizeof(memory::Node*));
    if (quarantine_n + freed_n > QUARANTINE_CAPACITY) release_oldest(quarantine_n + freed_n - QUARANTINE_CAPACITY);
    auto word = (memory::Buffer*)memory::poison();
    for (uint32_t i = 0; i < freed_n; i++) {
        freed[i]->buffer = word;
        quarantine[(quarantine_first + quarantine_n++) % QUARANTINE_CAPACITY] = freed[i];
    }
    freed_n = 0;
}
#else
void release_freed() {
    free_nodes(freed, freed_n);
    freed_n = 0;
}
#endif

uint32_t freed_count() { return freed_n; }

}  // namespace collector
