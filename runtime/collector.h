// The collector: precise mark-and-compact over the series heap.
//
// One `collect` marks every buffer reachable from the roots, sweeps the handle
// and ownership tables, slides the live buffers of each series frame down
// (into the frame below when it has more than 52,428 free bytes), frees dead
// big buffers and empty frames, and gives dead nodes back to their frames.
//
// Nodes never move. C++ code holds nodes in plain locals (more than a hundred
// of them, most unrooted across calls that cannot collect), and nothing could
// rewrite those, so sparse node frames are not evacuated: a node frame is
// freed only when it is empty. Buffers do move; their nodes follow them.
//
// Roots, in marking order: the root block; the symbol table; the ownership
// table's own buffers (not its entries: see below); the argument stack's
// cells; the global context; the work cell; the slot pool; tables under
// construction (`hashtable::Building`); C++ locals held by `Root`/`NodeRoot`;
// every registered marker. The machine stack is not scanned: native code keeps
// what must survive an allocation on the argument stack, in a rooted series,
// or in a `Root`/`NodeRoot`, and never keeps a buffer address across anything
// that may allocate (a `PointerRoot` names one that must be, and is adjusted).
//
// The ownership table is weak: its entries are kept only while their series
// (and owner, when recorded) are reachable by other paths. Its buffers are
// marked at the roots; after marking, what surviving entries hold is marked
// until nothing new survives, then dead entries are dropped.
//
// Invariants:
// - No allocation in the collected heap happens while `collecting` is 1: the
//   collector's own tables (mark stack, frame index, release queue, the
//   ownership walk's bits) are tracked blocks.
// - Buffer marks (FLAG_MARK) are clear outside a collection.
// - A node's address is fixed from `memory::alloc_node` until the collection
//   that finds it dead.
// - A collection never nests; `NoCollect` scopes and the enable flag stop
//   automatic ones (`collect` itself runs unless a `NoCollect` is held).
#pragma once
#include <array>
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace collector {

using memory::Node;

// --- State ---------------------------------------------------------------------

// 1 while automatic collections may run; 0 until start-up has loaded the
// boot image (`recycle/off` clears it).
extern int32_t enabled;
// Completed collections (node frames and address-keyed tables record it).
extern uint32_t cycle_count;
// 1 while a collection runs (hash tables then leave address keys alone).
extern volatile int32_t collecting;
inline bool is_active() { return collecting != 0; }

constexpr uint32_t MOVE_DOWN_MIN = 0xCCCC;   // room a lower frame needs to take buffers
constexpr uint32_t MARKER_CAPACITY = 100;

// Counters and tables of a fresh start (runtime start-up, last step).
void init();

// --- Collection ----------------------------------------------------------------------

// One full collection (skipped inside a `NoCollect` scope or a collection).
void collect();
// Runs `collect` when enabled.
void collect_if_enabled();

// --- Roots that other modules own --------------------------------------------------------

// Roots the collector reaches by itself: the root block (`block::root`), the
// symbol table (`symbol::table`), the ownership table (`ownership::table`,
// weak), the global context (`context::global`), contexts and sort records
// held during construction (`context::for_each_held`,
// `block::for_each_sort_copy`), the argument stack, the slot pool. What is
// left for the interpreter to fill:
struct Roots {
    cell work;  // the interpreter's work cell (its series when word 2 is not 0)
};
extern Roots roots;

// Markers: routines that mark what a module keeps outside the roots, with
// the marking operations below. 100 registrations in all; an unregistered
// slot stays empty.
using Marker = void (*)();
void register_marker(Marker marker);
void unregister_marker(Marker marker);

// Per-type cell marking, one entry per type id (the defaults follow each
// type's cell layout; a type whose cells hold more may install its own).
using CellMarker = void (*)(cell* value);
extern std::array<CellMarker, TYPE_SLOTS> cell_markers;

// --- Marking operations (for markers and cell markers) ----------------------------------------
// Each takes the address of a word holding a node.

// Marks the buffer; 1 when it was not marked before.
int32_t mark_series(Node** word);
// mark_series, and when newly marked its cells from head to tail.
int32_t mark_context(Node** word);
// A cell's word-2 series and, when newly marked, its cells.
void mark_series_cells(cell* value);
// A context: its word table, its values and their cells (unless held on the
// argument stack), and its owner cell.
void mark_object(Node** word);
// Every cell of [first, last) by its type.
void mark_block(cell* first, cell* last);
// A hash table's own series and the cells of its data block (not for the
// ownership table).
void mark_table(Node** word);
void clear_mark(Node* node);
bool is_marked(const Node* node);

// --- C++ locals ----------------------------------------------------------------------------------

// The roots below sit on the interpreter's hot paths, so they are inline: a
// root is two stores to link and two to unlink. Each kind is a doubly linked
// list so that roots inside heap objects or globals may end in any order.
class NodeRoot;
class Root;
class PointerRoot;
namespace held_roots {
inline NodeRoot* nodes = nullptr;
inline Root* cells = nullptr;
inline PointerRoot* pointers = nullptr;
inline uint32_t no_collect_depth = 0;

template <class R>
inline void link(R*& head, R* r) {
    r->prev = nullptr;
    r->next = head;
    if (head) head->prev = r;
    head = r;
}
template <class R>
inline void unlink(R*& head, R* r) {
    if (r->prev) r->prev->next = r->next;
    else head = r->next;
    if (r->next) r->next->prev = r->prev;
}
}  // namespace held_roots

// Keeps the series of a node held in a C++ variable alive. Scoped: construct
// after the variable, in the same scope or an inner one. What the node is
// decides what else is marked: a series (its cells when it holds cells), a
// hash table (its arrays and data block) or a context (as an object).
enum class Held : uint8_t { SERIES, TABLE, CONTEXT };
class NodeRoot {
public:
    explicit NodeRoot(Node*& node, Held kind = Held::SERIES) : word(&node), held(kind) {
        held_roots::link(held_roots::nodes, this);
    }
    ~NodeRoot() { held_roots::unlink(held_roots::nodes, this); }
    NodeRoot(const NodeRoot&) = delete;
    NodeRoot& operator=(const NodeRoot&) = delete;

    Node** word;
    Held held;
    NodeRoot* prev;
    NodeRoot* next;
};

// Keeps what a value cell held by C++ refers to alive (marked by its type).
class Root {
public:
    explicit Root(cell& value) : value(&value) { held_roots::link(held_roots::cells, this); }
    ~Root() { held_roots::unlink(held_roots::cells, this); }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    cell* value;
    Root* prev;
    Root* next;
};

// A raw address into a series buffer that C++ must keep across an
// allocation: adjusted when the buffer moves. It does not keep the buffer
// alive (hold its node too).
class PointerRoot {
public:
    template <class T>
    explicit PointerRoot(T*& pointer) : slot(reinterpret_cast<uintptr_t*>(&pointer)) {
        held_roots::link(held_roots::pointers, this);
    }
    ~PointerRoot() { held_roots::unlink(held_roots::pointers, this); }
    PointerRoot(const PointerRoot&) = delete;
    PointerRoot& operator=(const PointerRoot&) = delete;

    uintptr_t* slot;
    PointerRoot* prev;
    PointerRoot* next;
};

// A scope that must not collect: automatic and explicit collections are
// skipped while one is held.
class NoCollect {
public:
    NoCollect() { held_roots::no_collect_depth++; }
    ~NoCollect() { held_roots::no_collect_depth--; }
    NoCollect(const NoCollect&) = delete;
    NoCollect& operator=(const NoCollect&) = delete;
};
inline bool is_suppressed() { return held_roots::no_collect_depth != 0; }

// --- Frames ---------------------------------------------------------------------------------------

enum FrameKind : int32_t { NODE_FRAMES = 0, SERIES_FRAMES = 1 };
// Whether an address lies in a node frame's slot area (kind 0) or a series or
// big frame's area (kind 1), by the index built at the last collection.
bool find_frame(const void* address, FrameKind kind);

// --- Release list ------------------------------------------------------------------------------------

// The queue of nodes to release (20,000 entries), made by memory::init.
constexpr uint32_t FREED_CAPACITY = 20000;
void init_freed_list();
// Queues a node for release (0 is ignored); a full queue is released first.
void push_freed(memory::Node* node);
// Gives every queued node back to its node frame (in the stress build, to
// the quarantine, poisoned).
void release_freed();
// Nodes waiting in the queue.
uint32_t freed_count();
#ifdef ZOL_GC_STRESS
// The stress build's quarantine of dead nodes (see release_freed): the
// oldest go back to their frames when it is full.
constexpr uint32_t QUARANTINE_CAPACITY = 30000;
// Gives every quarantined node back (tests that count nodes).
void flush_quarantine();
#endif

}  // namespace collector
