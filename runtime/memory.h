// Memory manager: the series heap.
//
// Every series (blocks, strings, binaries, contexts, hash tables, raw arrays)
// lives in a `Buffer`: a 20-byte header {flags, node, capacity, head, tail}
// followed by `capacity` bytes of data. Values never hold a buffer address;
// they hold a `Node`, a one-word slot whose content is the buffer's current
// address, so the collector can slide buffers together and rewrite only the
// nodes.
//
// - Node frames hold 10,000 slots each. A live slot holds its buffer's
//   address, a free slot the address of the next free slot of the same frame
//   (0 ends the list). Nodes never move: C++ code holds them in locals that
//   nothing could rewrite. A node frame is freed when its last node is.
// - Series frames (the first 1 MB, later ones 2 MB) are carved by bumping a
//   heap pointer; buffers follow each other without gaps, each taking
//   20 + capacity + 4 bytes (the spare word lets a heap walk step from header
//   to header). The frame list is kept sorted by address.
// - A buffer whose frame space (capacity + 24) reaches 2 MB lives alone in a
//   big frame; big frames form a list in allocation order.
// - Fixed buffers come from the tracked allocator: never moved, never
//   collected, no spare word.
//
// Invariants:
// - capacity is a multiple of 16; data <= head <= tail <= data + capacity.
// - A buffer in use is the content of its node and points back at it. A
//   buffer abandoned by expansion has node 0 and FLAG_USED clear; its space
//   comes back at the next collection.
// - Any allocation of a series may run a collection, which moves buffers.
//   Native code holds series through their nodes and reads the buffer address
//   again after anything that may allocate.
// - Every size computed from a count and a unit, or a size plus a header, is
//   checked: a request that does not fit 32 bits raises `no-memory`; a
//   wrapped, undersized buffer is never carved.
// - Page failures travel as throw codes THROW_PAGE_ALLOC/THROW_PAGE_RELEASE,
//   are stopped at LEVEL_PAGES by the page functions here and turned into the
//   internal errors `no-memory`/`wrong-mem`. The record's total and the frame
//   lists are consistent whenever an error leaves this module.
#pragma once
#include <cstdint>

namespace memory {

struct Buffer;

// A series node: one slot of a node frame.
struct Node {
    Buffer* buffer;  // live: the buffer; free: the next free slot (as Node*)
};

// Flag bits of a buffer's first word.
enum : uint32_t {
    FLAG_UNIT_MASK    = 0x1F,     // unit size in bytes: 1, 2, 4, 8 or 16 (cells)
    FLAG_OWNED        = 1u << 17, // owned by an object field
    FLAG_COMPLEMENTED = 1u << 19, // bitset complemented
    FLAG_FIXED        = 1u << 20, // from the tracked allocator: never moved or freed by the collector
    FLAG_LIBRARY      = 1u << 21, // library code: a block from the boot image or a library function's body
    FLAG_BIG          = 1u << 24, // lives alone in a big frame
    FLAG_MARK         = 1u << 27, // collector mark; clear outside a collection
    FLAG_CENTRED      = 1u << 28, // made with offset -1
    FLAG_MADE         = 1u << 29, // set on every buffer when it is made
    FLAG_USED         = 1u << 31, // cleared when expansion abandons the buffer
};

struct Buffer {
    uint32_t flags;
    Node* node;         // back-pointer; 0 once abandoned
    uint32_t capacity;  // bytes of data, a multiple of 16
    uint8_t* head;      // first unit in use
    uint8_t* tail;      // one past the last unit in use

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* data_end() { return data() + capacity; }
    uint32_t unit() const { return flags & FLAG_UNIT_MASK; }
    uint32_t used_bytes() const { return (uint32_t)(tail - head); }
};
static_assert(sizeof(Buffer) == 20, "series buffer header is five 32-bit words");

// Node frame: nine header words, then the slots.
struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t slot_count;  // 10,000 for every frame the runtime makes
    Node* free_head;      // first free slot; 0 when full
    uint32_t used;        // slots in use
    uint32_t cycle;       // collector cycle count when the frame was made
    // The last three words are kept zero: they served the evacuation of
    // sparse frames, which moved nodes (see collector.h).
    uint32_t last_used;
    uint32_t history;
    uint32_t release;

    Node* slots() { return reinterpret_cast<Node*>(this + 1); }
    bool contains(const Node* n) { return n >= slots() && n < slots() + slot_count; }
};
static_assert(sizeof(NodeFrame) == 36, "node frame header is nine 32-bit words");

// Series frame: five header words, then the heap.
struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    uint32_t size;  // heap size + 20
    uint8_t* heap;  // first free byte
    uint8_t* end;   // one past the heap

    uint8_t* start() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint32_t free_bytes() const { return (uint32_t)(end - heap); }
};
static_assert(sizeof(SeriesFrame) == 20, "series frame header is five 32-bit words");

// Big frame: three header words, then exactly one buffer.
struct BigFrame {
    BigFrame* next;
    uint32_t link;  // kept zero
    uint32_t size;  // size of the buffer area

    Buffer* buffer() { return reinterpret_cast<Buffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 12, "big frame header is three 32-bit words");

// A machine-stack slot that holds an address inside a series buffer (written
// by the collector's stack scan, adjusted when the buffer moves).
struct StackRef {
    uintptr_t value;
    uintptr_t* slot;
};

// The one memory record.
struct Record {
    uint32_t total;                 // bytes obtained from the system for frames (page-rounded)
    NodeFrame* node_first;
    NodeFrame* node_last;
    NodeFrame* node_active;         // where nodes are taken first
    SeriesFrame* series_first;      // lowest address
    SeriesFrame* series_active;     // where buffers are carved first
    SeriesFrame* series_last;       // highest address
    uint32_t start_size;            // first series frame: 1 MB
    uint32_t next_size;             // next series frame; doubles up to max_size
    uint32_t max_size;              // largest series frame and big-buffer threshold: 2 MB
    BigFrame* big_first;            // 0 = none
    StackRef* stack_refs;           // pairs written by the collector's stack scan
    StackRef* stack_refs_end;       // end of the used pairs
    uint32_t stack_refs_capacity;   // in pairs
};

extern Record* record;

constexpr uint32_t PAGE_SIZE = 4096;
constexpr uint32_t NODE_FRAME_SLOTS = 10000;
constexpr uint32_t SERIES_START_SIZE = 0x100000;
constexpr uint32_t SERIES_MAX_SIZE = 0x200000;
constexpr uint32_t STACK_REFS_START = 1000;
// Frame space a carved buffer takes beyond its capacity: header + spare word.
constexpr uint32_t BUFFER_OVERHEAD = sizeof(Buffer) + 4;
// A frame with less free room than this is not reused for a request that
// failed after a collection: the heap grows instead of collecting again soon.
constexpr uint32_t REUSE_MIN_FREE = 0xCCCC;

// --- Internal errors ---------------------------------------------------------

enum class Internal : int32_t {
    no_memory = 1,  // the system refused pages, or a size does not fit 32 bits
    wrong_mem = 2,  // the system refused to release pages
};
// Spelling of the error id ("no-memory", "wrong-mem").
const char* internal_name(Internal id);
// The internal error raised last (0 when none yet).
extern Internal last_internal;
// Raises an internal-category language error with no arguments. Until the
// error machinery exists it records the id and throws THROW_ERROR.
[[noreturn]] void raise_internal(Internal id);

// --- Page source (test seam) ---------------------------------------------------

// Where frames get their pages: committed, zeroed, page-aligned memory.
// `allocate` throws THROW_PAGE_ALLOC on refusal, `release` THROW_PAGE_RELEASE.
struct PageSource {
    void* (*allocate)(uint32_t size, bool executable);
    void (*release)(void* address, uint32_t size);
};
extern PageSource pages;             // the platform's virtual memory by default
extern const PageSource system_pages;

// Called by the allocator when no series frame has room and before every big
// buffer (and, in a ZOL_GC_STRESS build, at every series allocation): runs a
// collection when the collector is enabled. Tests may replace it.
extern void (*collect_hook)();
#ifdef ZOL_GC_STRESS
// Series allocations per stress collection (0: read ZOL_GC_STRESS_PERIOD,
// default 1). Tests that count collections set it to 1.
extern uint32_t stress_period;
// Which allocation of each period collects (ZOL_GC_STRESS_PHASE, else the
// clock); printed on standard error at the first allocation.
extern uint32_t stress_phase;
// While set, allocations do not collect (the library's boot, which is the
// same in every run, unless ZOL_GC_STRESS_BOOT asks for it).
extern bool stress_paused;
// The poison word: the middle of an address range that faults on any access.
uintptr_t poison();
// Fills the aligned 32-bit words of [start, end) with the poison word.
void poison_fill(void* start, void* end);
#endif

// --- Start and end -------------------------------------------------------------

// Fills the global record, makes the stack-reference array and the
// collector's release list.
void init();
// Fills a record with the start values and empty frame lists (no arrays).
void init_record(Record& r);
// The first node frame (10,000 slots) and the first series frame (1 MB).
void init_frames();
// Frees every node, series and big frame of the current record.
void free_all_frames();

// --- Pages ---------------------------------------------------------------------

// At least `size` usable bytes; the block's first word keeps its rounded size.
void* allocate_pages(uint32_t size, bool executable);
void free_pages(void* p);

// --- Nodes ---------------------------------------------------------------------

NodeFrame* alloc_node_frame(uint32_t n);
void free_node_frame(NodeFrame* frame);
void format_node_frame(NodeFrame* frame);
// A zeroed free node (may make a new node frame; never collects).
Node* alloc_node();
void free_node(NodeFrame* frame, Node* node);
// The frame whose slot area holds `node`, or null.
NodeFrame* node_frame_of(const Node* node);
// The collector's last step on node frames.
void release_empty_node_frames();

// --- Series frames ---------------------------------------------------------------

SeriesFrame* alloc_series_frame();
void free_series_frame(SeriesFrame* frame);
// The lowest frame with more than `total` free bytes, or null.
SeriesFrame* find_series_frame(uint32_t total);

// --- Buffers and series ------------------------------------------------------------

// A new buffer without node; offset is a byte offset of head and tail from the
// data start, or -1 for centred. May collect.
Buffer* alloc_series_buffer(int32_t count, uint32_t unit, int32_t offset);
// A node whose new buffer points back at it. May collect.
Node* alloc_series(int32_t count, uint32_t unit, int32_t offset);
Node* alloc_cells(int32_t n);
// As alloc_cells, every cell of the capacity unset! (header 2, payload 0); empty.
Node* alloc_unset_cells(int32_t n);
// n = 0 is taken as 16.
Node* alloc_bytes(int32_t n);
// n = 0 is taken as 16 bytes' worth of units.
Node* alloc_codepoints(int32_t n, uint32_t unit);
Node* alloc_bytes_filled(int32_t n, uint8_t byte);
// A node whose buffer comes from the tracked allocator: never moved or collected.
Node* alloc_fixed_series(int32_t count, uint32_t unit, int32_t offset);

void set_flag(Node* node, uint32_t bits);

// Give the node a bigger buffer of the same unit and used length (head at the
// new data start); new_capacity 0 doubles. The old buffer is abandoned. The
// content is not copied by expand_series; _copy copies it, _filled copies it
// and fills the new room with `byte`. Each returns the new buffer. May collect.
Buffer* expand_series(Node* node, int32_t new_capacity);
Buffer* expand_series_copy(Node* node, int32_t new_capacity);
Buffer* expand_series_filled(Node* node, int32_t new_capacity, uint8_t byte);
// A new node whose buffer is a copy of the node's buffer. May collect.
Node* copy_series(Node* node);

// --- Big frames ------------------------------------------------------------------------

// The buffer area of a new big frame with room for `total` bytes.
Buffer* alloc_big_frame(uint32_t total);
void free_big_frame(Buffer* buffer);
// Collector step: unmarked big buffers are released, marked ones unmarked.
void sweep_big_frames();

// --- Helpers ----------------------------------------------------------------------------

void fill(uint8_t* start, uint8_t* end, uint8_t byte);
// Zeroes the 32-bit words of [first, last).
void clear_words(uint32_t* first, uint32_t* last);

}  // namespace memory
