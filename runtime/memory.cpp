// Memory manager: pages, node frames, series frames, big frames, buffers.
#include "runtime/memory.h"

#include "datatypes/error.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace memory {

static Record main_record;
Record* record = &main_record;

const PageSource system_pages = {platform::allocate_virtual, platform::free_virtual};
PageSource pages = system_pages;
void (*collect_hook)() = collector::collect_if_enabled;

// Largest capacity a buffer may have: sizes are signed 32-bit, and a
// capacity up to here still leaves room for every header added to it.
static constexpr uint32_t MAX_CAPACITY = 0x7FFFFFF0;

// --- Internal errors ---------------------------------------------------------------

Internal last_internal = Internal(0);

namespace {
struct InternalName {
    Internal id;
    const char* name;
};
constexpr InternalName internal_names[] = {
    {Internal::no_memory, "no-memory"},
    {Internal::wrong_mem, "wrong-mem"},
};
}  // namespace

const char* internal_name(Internal id) {
    for (const InternalName& e : internal_names)
        if (e.id == id) return e.name;
    return "";
}

void raise_internal(Internal id) {
    last_internal = id;
    // Memory is short: the error was made at start-up.
    error::raise_prebuilt(internal_name(id));
}

[[noreturn]] static void no_memory() { raise_internal(Internal::no_memory); }

static uint32_t add_checked(uint32_t a, uint32_t b) {
    uint32_t r;
    if (__builtin_add_overflow(a, b, &r)) no_memory();
    return r;
}

// Capacity of a buffer of `count` units: the product rounded up to 16.
static uint32_t capacity_for(int32_t count, uint32_t unit) {
    if (count < 0) no_memory();
    uint64_t bytes = (uint64_t)(uint32_t)count * unit;
    if (bytes > MAX_CAPACITY) no_memory();
    return sys::round_up((uint32_t)bytes, 16);
}

[[maybe_unused]] static bool valid_unit(uint32_t unit) {
    return unit == 1 || unit == 2 || unit == 4 || unit == 8 || unit == 16;
}

// --- Start and end -------------------------------------------------------------------

void init_record(Record& r) {
    r = Record{};
    r.start_size = SERIES_START_SIZE;
    r.next_size = SERIES_START_SIZE;
    r.max_size = SERIES_MAX_SIZE;
}

void init() {
    record = &main_record;
    init_record(main_record);
    main_record.stack_refs = (StackRef*)sys::allocate(STACK_REFS_START * sizeof(StackRef));
    main_record.stack_refs_end = main_record.stack_refs;
    main_record.stack_refs_capacity = STACK_REFS_START;
    collector::init_freed_list();
}

void init_frames() {
    alloc_node_frame(NODE_FRAME_SLOTS);
    alloc_series_frame();
}

void free_all_frames() {
    Record& r = *record;
    while (NodeFrame* f = r.node_first) {
        r.node_first = f->next;
        free_pages(f);
    }
    r.node_last = r.node_active = nullptr;
    while (SeriesFrame* f = r.series_first) {
        r.series_first = f->next;
        free_pages(f);
    }
    r.series_last = r.series_active = nullptr;
    while (BigFrame* f = r.big_first) {
        r.big_first = f->next;
        free_pages(f);
    }
}

// --- Pages ------------------------------------------------------------------------------

void* allocate_pages(uint32_t size, bool executable) {
    if (size > 0xFFFFFFFFu - 4 - (PAGE_SIZE - 1)) no_memory();
    uint32_t rounded = sys::round_up(size + 4, PAGE_SIZE);
    record->total += rounded;
    void* block = nullptr;
    uint32_t code = sys::catch_level(sys::LEVEL_PAGES, [&] { block = pages.allocate(rounded, executable); });
    if (code) {
        // Nothing was obtained: the total must not claim it.
        record->total -= rounded;
        if (code != sys::THROW_PAGE_ALLOC) sys::rethrow(code);
        sys::clear_throw();
        no_memory();
    }
    *(uint32_t*)block = rounded;
    return (uint32_t*)block + 1;
}

void free_pages(void* p) {
    uint32_t* block = (uint32_t*)p - 1;
    uint32_t size = *block;
    record->total -= size;
    uint32_t code = sys::catch_level(sys::LEVEL_PAGES, [&] { pages.release(block, size); });
    if (code) {
        // The pages are still ours.
        record->total += size;
        if (code != sys::THROW_PAGE_RELEASE) sys::rethrow(code);
        sys::clear_throw();
        raise_internal(Internal::wrong_mem);
    }
}

// --- Nodes ---------------------------------------------------------------------------------

void format_node_frame(NodeFrame* f) {
    Node* slots = f->slots();
    for (uint32_t i = 0; i + 1 < f->slot_count; i++) slots[i].buffer = (Buffer*)&slots[i + 1];
    slots[f->slot_count - 1].buffer = nullptr;
    f->free_head = slots;
}

NodeFrame* alloc_node_frame(uint32_t n) {
    if (n == 0 || n > (MAX_CAPACITY - sizeof(NodeFrame)) / sizeof(Node)) no_memory();
    auto* f = (NodeFrame*)allocate_pages(sizeof(NodeFrame) + n * sizeof(Node), false);
    f->slot_count = n;
    f->used = 0;
    f->cycle = collector::cycle_count;
    f->last_used = 0;
    f->history = 0;
    f->release = 0;
    f->next = nullptr;
    f->prev = record->node_last;
    if (record->node_last) {
        record->node_last->next = f;
    } else {
        record->node_first = f;
        record->node_active = f;
    }
    record->node_last = f;
    format_node_frame(f);
    return f;
}

void free_node_frame(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else record->node_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else record->node_last = f->prev;
    if (record->node_active == f) record->node_active = record->node_last;
    free_pages(f);
}

Node* alloc_node() {
    NodeFrame* f = record->node_active;
    if (!f || !f->free_head) {
        f = nullptr;
        for (NodeFrame* g = record->node_first; g; g = g->next)
            if (g->free_head) {
                f = g;
                break;
            }
        if (!f) f = alloc_node_frame(NODE_FRAME_SLOTS);
        record->node_active = f;
    }
    Node* n = f->free_head;
    f->free_head = (Node*)n->buffer;
    n->buffer = nullptr;
    f->used++;
    return n;
}

void free_node(NodeFrame* f, Node* n) {
    assert(f->contains(n) && f->used > 0);
    n->buffer = (Buffer*)f->free_head;
    f->free_head = n;
    f->used--;
}

NodeFrame* node_frame_of(const Node* n) {
    for (NodeFrame* f = record->node_first; f; f = f->next)
        if (f->contains(n)) return f;
    return nullptr;
}

void release_empty_node_frames() {
    bool active_chosen = false;
    for (NodeFrame* f = record->node_first; f;) {
        NodeFrame* next = f->next;
        if (f->used == 0) {
            free_node_frame(f);
        } else if (!active_chosen && f->used < f->slot_count) {
            record->node_active = f;
            active_chosen = true;
        }
        f = next;
    }
}

// --- Series frames ----------------------------------------------------------------------------

SeriesFrame* alloc_series_frame() {
    uint32_t size = record->next_size;
    auto* f = (SeriesFrame*)allocate_pages(size + sizeof(SeriesFrame), false);
    if (record->next_size < record->max_size) {
        uint32_t doubled = record->next_size * 2;
        record->next_size = doubled < record->max_size ? doubled : record->max_size;
    }
    f->size = size + sizeof(SeriesFrame);
    f->heap = f->start();
    f->end = f->start() + size;

    // Keep the list sorted by address, whatever order the system returns.
    SeriesFrame* after = nullptr;
    for (SeriesFrame* g = record->series_first; g && g < f; g = g->next) after = g;
    f->prev = after;
    f->next = after ? after->next : record->series_first;
    if (f->prev) f->prev->next = f;
    else record->series_first = f;
    if (f->next) f->next->prev = f;
    else record->series_last = f;
    if (!record->series_active) record->series_active = f;
    return f;
}

void free_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else record->series_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else record->series_last = f->prev;
    if (record->series_active == f) record->series_active = record->series_first;
    free_pages(f);
}

SeriesFrame* find_series_frame(uint32_t total) {
    for (SeriesFrame* f = record->series_first; f; f = f->next)
        if (f->free_bytes() > total) return f;
    return nullptr;
}

// --- Buffers and series ---------------------------------------------------------------------------

#ifdef ZOL_GC_STRESS
// Collects at every Nth series allocation (N from ZOL_GC_STRESS_PERIOD,
// default 1). Which allocation of each N collects is the phase: taken from
// ZOL_GC_STRESS_PHASE or from the clock, and printed so that a failing run
// can be replayed. Runs at different times thus cover every phase.
uint32_t stress_period = 0;
uint32_t stress_phase = 0;
bool stress_paused = false;

static uint32_t env_number(const char* name, uint32_t otherwise) {
    const char* e = getenv(name);
    return e && *e ? (uint32_t)strtoul(e, nullptr, 10) : otherwise;
}

static void stress_collect() {
    if (stress_paused) return;
    static bool started = false;
    static uint32_t count = 0;
    if (!started) {
        started = true;
        if (!stress_period) {
            uint32_t n = env_number("ZOL_GC_STRESS_PERIOD", 1);
            stress_period = n > 0 ? n : 1;
        }
        stress_phase = env_number("ZOL_GC_STRESS_PHASE", (uint32_t)time(nullptr)) % stress_period;
        count = stress_phase;
        fprintf(stderr, "collector stress: period %u, phase %u (ZOL_GC_STRESS_PHASE=%u replays it)\n",
                stress_period, stress_phase, stress_phase);
    }
    if (++count >= stress_period) {
        count = 0;
        collect_hook();
    }
}

// The poison: an address range that faults on any access. Reclaimed heap
// space and dead nodes are filled with its middle address, so a stale
// buffer, cell or node read as a pointer fails at once.
static constexpr uint32_t POISON_SPAN = 0x10000;

uintptr_t poison() {
    static uintptr_t word = [] {
        auto* p = (uint8_t*)platform::reserve_inaccessible(POISON_SPAN);
        if (!p) {
            fputs("collector stress: cannot reserve the poison range\n", stderr);
            abort();
        }
        return (uintptr_t)(p + POISON_SPAN / 2);
    }();
    return word;
}

void poison_fill(void* start, void* end) {
    auto word = (uint32_t)poison();
    auto* first = (uint32_t*)(((uintptr_t)start + 3) & ~(uintptr_t)3);
    for (uint32_t* w = first; w + 1 <= (uint32_t*)end; w++) *w = word;
}
#endif

// Carves `total` bytes from a series frame with room, making one if needed.
static uint8_t* carve(uint32_t total) {
    SeriesFrame* f = record->series_active;
    if (!f || f->free_bytes() <= total) {
        f = find_series_frame(total);
        if (!f) {
            collect_hook();
            f = find_series_frame(total);
            if (!f || f->free_bytes() < REUSE_MIN_FREE) {
                if (total >= record->next_size) record->next_size = record->max_size;
                f = alloc_series_frame();
            }
        }
        record->series_active = f;
    }
    uint8_t* p = f->heap;
    f->heap += total;
    return p;
}

Buffer* alloc_series_buffer(int32_t count, uint32_t unit, int32_t offset) {
    assert(valid_unit(unit));
    uint32_t capacity = capacity_for(count, unit);
    uint32_t total = capacity + BUFFER_OVERHEAD;
    assert(offset == -1 || (offset >= 0 && (uint32_t)offset <= capacity));
#ifdef ZOL_GC_STRESS
    stress_collect();
#endif
    Buffer* b;
    uint32_t big = 0;
    if (total >= record->max_size) {
        collect_hook();
        b = alloc_big_frame(total);
        big = FLAG_BIG;
    } else {
        b = (Buffer*)carve(total);
    }
    b->capacity = capacity;
    b->flags = unit | FLAG_USED | big | FLAG_MADE;
    if (offset == -1) {
        offset = (int32_t)(capacity / 2);
        b->flags |= FLAG_CENTRED;
    }
    b->node = nullptr;
    b->head = b->tail = b->data() + offset;
    return b;
}

Node* alloc_series(int32_t count, uint32_t unit, int32_t offset) {
    Buffer* b = alloc_series_buffer(count, unit, offset);
    Node* n;
    try {
        n = alloc_node();
    } catch (...) {
        b->flags &= ~FLAG_USED;  // nothing will ever hold it
        throw;
    }
    n->buffer = b;
    b->node = n;
    return n;
}

Node* alloc_cells(int32_t n) { return alloc_series(n, 16, 0); }

Node* alloc_unset_cells(int32_t n) {
    Node* node = alloc_cells(n);
    Buffer* b = node->buffer;
    static const uint32_t unset_cell[4] = {2, 0, 0, 0};
    for (uint8_t* c = b->data(); c < b->data_end(); c += 16) memcpy(c, unset_cell, 16);
    return node;
}

Node* alloc_bytes(int32_t n) { return alloc_series(n == 0 ? 16 : n, 1, 0); }

Node* alloc_codepoints(int32_t n, uint32_t unit) {
    return alloc_series(n == 0 ? (int32_t)(16u >> (unit / 2)) : n, unit, 0);
}

Node* alloc_bytes_filled(int32_t n, uint8_t byte) {
    Node* node = alloc_bytes(n);
    Buffer* b = node->buffer;
    fill(b->data(), b->data_end(), byte);
    return node;
}

Node* alloc_fixed_series(int32_t count, uint32_t unit, int32_t offset) {
    assert(valid_unit(unit));
    uint32_t capacity = capacity_for(count, unit);
    assert(offset >= 0 && (uint32_t)offset <= capacity);
    auto* b = (Buffer*)sys::allocate(capacity + sizeof(Buffer));
    b->capacity = capacity;
    b->flags = unit | FLAG_USED | FLAG_MADE | FLAG_FIXED;
    b->head = b->tail = b->data() + offset;
    b->node = nullptr;
    Node* n = alloc_node();
    n->buffer = b;
    b->node = n;
    return n;
}

void set_flag(Node* node, uint32_t bits) { node->buffer->flags |= bits; }

// Expansion without copying; `old` receives the abandoned buffer, still
// readable until `retire` is called.
static Buffer* expand(Node* node, int32_t new_capacity, Buffer*& old) {
    Buffer* b = node->buffer;
    uint32_t unit = b->unit();
    int64_t want = new_capacity == 0 ? 2 * (int64_t)b->capacity : new_capacity;
    if (want < 1 || want > MAX_CAPACITY) no_memory();
    // Never smaller than what is in use: the content must fit.
    if (want < b->used_bytes()) want = b->used_bytes();
    Buffer* nb = alloc_series_buffer((int32_t)(want / unit), unit, 0);
    b = node->buffer;  // the allocation may have collected
    node->buffer = nb;
    // Fixed and big describe where a buffer lives, so they follow the new one.
    nb->flags = (b->flags & ~(FLAG_FIXED | FLAG_BIG)) | (nb->flags & FLAG_BIG);
    nb->node = node;
    nb->tail = nb->head + b->used_bytes();
    b->node = nullptr;
    b->flags &= ~FLAG_USED;
    old = b;
    return nb;
}

// A fixed buffer is a tracked block that nothing reaches once abandoned;
// frame buffers are reclaimed by the collector. Debug builds scribble over
// the abandoned data so that code still reading it fails at once.
static void retire(Buffer* old) {
    if (old->flags & FLAG_FIXED) {
        sys::free(old);
        return;
    }
#if defined(ZOL_GC_STRESS)
    poison_fill(old->data(), old->data_end());
#elif !defined(NDEBUG)
    memset(old->data(), 0xDD, old->capacity);
#endif
}

// Bytes of `from` worth copying: its capacity from the head, no further than
// the end of its data, nor than `room`.
static uint32_t copy_size(Buffer* from, uint32_t room) {
    uint32_t n = (uint32_t)(from->data_end() - from->head);
    if (n > from->capacity) n = from->capacity;
    return n < room ? n : room;
}

Buffer* expand_series(Node* node, int32_t new_capacity) {
    Buffer* old;
    Buffer* nb = expand(node, new_capacity, old);
    retire(old);
    return nb;
}

Buffer* expand_series_copy(Node* node, int32_t new_capacity) {
    Buffer* old;
    Buffer* nb = expand(node, new_capacity, old);
    memcpy(nb->head, old->head, copy_size(old, nb->capacity));
    retire(old);
    return nb;
}

Buffer* expand_series_filled(Node* node, int32_t new_capacity, uint8_t byte) {
    Buffer* old;
    Buffer* nb = expand(node, new_capacity, old);
    memcpy(nb->head, old->head, copy_size(old, nb->capacity));
    uint32_t from = old->capacity < nb->capacity ? old->capacity : nb->capacity;
    fill(nb->head + from, nb->head + nb->capacity, byte);
    retire(old);
    return nb;
}

Node* copy_series(Node* node) {
    Node* copy = alloc_bytes((int32_t)node->buffer->capacity);
    Buffer* src = node->buffer;  // the allocation may have collected
    Buffer* dst = copy->buffer;
    // A copy is new data: library code copied by anyone is user data.
    dst->flags = (src->flags & ~(FLAG_FIXED | FLAG_BIG | FLAG_LIBRARY)) | (dst->flags & FLAG_BIG) | FLAG_USED | FLAG_MADE;
    memcpy(dst->head, src->head, copy_size(src, dst->capacity));
    dst->tail = dst->head + src->used_bytes();
    return copy;
}

// --- Big frames ----------------------------------------------------------------------------------------

Buffer* alloc_big_frame(uint32_t total) {
    auto* f = (BigFrame*)allocate_pages(add_checked(total, sizeof(BigFrame)), false);
    f->next = nullptr;
    f->link = 0;
    f->size = total;
    BigFrame** at = &record->big_first;
    while (*at) at = &(*at)->next;
    *at = f;
    return f->buffer();
}

// Unlinks the big frame at `*at` and frees its pages.
static void unlink_big(BigFrame** at) {
    BigFrame* f = *at;
    *at = f->next;
    free_pages(f);
}

void free_big_frame(Buffer* buffer) {
    auto* target = (BigFrame*)buffer - 1;
    for (BigFrame** at = &record->big_first; *at; at = &(*at)->next)
        if (*at == target) {
            unlink_big(at);
            return;
        }
}

void sweep_big_frames() {
    for (BigFrame** at = &record->big_first; *at;) {
        Buffer* b = (*at)->buffer();
        if (b->flags & FLAG_MARK) {
            b->flags &= ~FLAG_MARK;
            at = &(*at)->next;
        } else {
            collector::push_freed(b->node);
            unlink_big(at);
        }
    }
}

// --- Helpers --------------------------------------------------------------------------------------------

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) memset(start, byte, (size_t)(end - start));
}

void clear_words(uint32_t* first, uint32_t* last) {
    for (uint32_t* w = first; w < last; w++) *w = 0;
}

}  // namespace memory
