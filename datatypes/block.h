// block!: arrays of value cells, the primitives the runtime builds blocks
// with, and the block actions that paren!, the path types and hash! inherit.
//
// A block value is a series cell (series.h) whose buffer has 16-byte units:
// word 1 the head index in cells, word 2 the series node, word 3 = 0 (hash!:
// its table node). "Block" below means any-block: block!, paren!, path!,
// lit-path!, set-path!, get-path! and hash!.
//
// Invariants:
// - Header bit 30 (new-line marker) travels with every copy of a cell; mold
//   starts a marked cell on a new line.
// - Nothing here keeps a cell or buffer address across an allocation: cells
//   are reached through the node again afterwards, and values that must
//   survive an allocation (a new block being filled, a deep copy's parts)
//   live on the argument stack.
// - Modifying actions call `ownership::check` before the change and, when the
//   series was owned, after it. The handler may change the series, so
//   positions and counts are derived again after the first call.
// - Walks into nested blocks (form, mold, compare, deep copy) push the block
//   on the cycle stack through a `cycles::Frame`, so an error raised inside
//   the walk pops what it pushed.
//
// The root block is the first block start-up makes (step 11): a fixed block
// of ROOT_CELLS cells whose first three cells hold the argument stack's
// series, the call-frame stack's series and the symbol block. Everything that
// must live for the whole run hangs from it; the collector marks it first.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace block {

// --- Root block -------------------------------------------------------------------

constexpr int32_t ROOT_CELLS = 9782;
constexpr int32_t ARGUMENT_STACK_CELLS = 20000;
constexpr int32_t FRAME_STACK_CELLS = 15000;
constexpr int32_t SYMBOL_BLOCK_CELLS = 4000;
enum RootSlot : int32_t { ROOT_ARGUMENTS = 0, ROOT_FRAMES = 1, ROOT_SYMBOLS = 2 };

// The root block's node (null before `make_root`).
extern memory::Node* root;
// Makes the root block and, in it, the two fixed stack series and the
// movable symbol block (start-up step 11).
void make_root();
// The series node held in a root slot.
memory::Node* root_series(RootSlot slot);

// --- Cell-array primitives -----------------------------------------------------------

inline cell* cells_of(memory::Node* node) { return reinterpret_cast<cell*>(node->buffer->head); }
// Cells from the head to the tail (no clamping; negative past the tail).
int32_t length_of(const cell* blk);
// Cells of the whole buffer.
inline int32_t total_cells(memory::Node* node) { return (int32_t)(node->buffer->used_bytes() / sizeof(cell)); }
// Head + 1 when a cell remains; answers whether the head is now at the tail.
bool advance(cell* blk);
// The head cell; a head index past the tail is reset to the tail first.
cell* head_cell(cell* blk);
cell* tail_cell(const cell* blk);
bool is_tail(cell* blk);
// Cell n counted from the buffer's start.
cell* cell_at(const cell* blk, int32_t n);
// Tail set back to the head index.
void clear_from_head(cell* blk);
// Tail set to n cells from the start (never beyond the present tail).
void truncate(memory::Node* node, int32_t n);
// A new tail cell holding a copy of `value` (read before growing, so the
// value may live in the same buffer). Returns the new cell.
cell* append_cell_copy(memory::Node* node, const cell* value);
// A new tail cell, unset!.
cell* alloc_tail(memory::Node* node);
// Room for `extra` more cells after the tail: grows to twice the need when
// `doubling`, else to the need. Returns the buffer (read again).
memory::Buffer* ensure_room(memory::Node* node, uint64_t extra, bool doubling);
// Tail back one cell when not empty; the head index of `blk` is clamped.
void drop_last(cell* blk);
// Appends a copy of every cell of `from` (from its head).
void append_copies(memory::Node* node, const cell* from);
// The cell after the first cell equal (op 12) to `value` from the head, or
// the shared none! cell.
cell* select_value(cell* blk, cell* value);
// Removes the first cell equal (op 12) to `value`, from the head or, with
// `from_start`, from the buffer's start. Answers whether one was removed.
bool remove_value(cell* blk, cell* value, bool from_start);
// Pushes a new block holding copies of the cells from the head; with `deep`
// nested blocks are cloned too (with `any_block` also parens and paths).
// The result takes the source's type.
cell* clone(const cell* blk, bool deep, bool any_block);
// Library code: the blocks decoded from the boot image, and the bodies of
// functions made from them, carry memory::FLAG_LIBRARY on their buffers; the
// interpreter runs them as compiled code would run (no trace events, the
// current code position left alone). Copies are never flagged.
inline bool is_library(const cell* blk) {
    return (reinterpret_cast<memory::Node*>((uintptr_t)blk->data2)->buffer->flags & memory::FLAG_LIBRARY) != 0;
}
// Flags the block and every block, paren and path nested in it.
void flag_library(const cell* blk);
// Copies in place every `step`-th cell whose type is in `kind` (a datatype!
// or typeset!) and that is a series, bitset!, object!, error! or map!.
void find_types(cell* blk, const cell* kind, int32_t step);
// Inserts one cell at the head (at the buffer's start with `at_start`),
// growing the buffer to twice the need when full; with `move_head` the head
// moves past the new cell.
void insert_cells(cell* blk, const cell* value, bool at_start, bool move_head);
// Appends every cell of `from` through `insert_cells` at the tail.
void append_each(cell* blk, const cell* from);
// The cell after the first any-word cell spelled `symbol` (exactly, or by
// canonical symbol unless `exact`), or null when there is none or it is last.
cell* find_word(cell* blk, int32_t symbol, bool exact);
// Turns `c` into a new empty block of room for n cells (at least 1).
cell* make_at(cell* c, int32_t n);
// As make_at, with every cell of the room unset!, or a fixed buffer.
cell* alloc_at(cell* c, int32_t n, bool fixed);
// A new empty block in a new tail cell of `parent` (a fixed one with
// make_fixed_in), or pushed on the argument stack when there is no parent.
cell* make_in(memory::Node* parent, int32_t n);
cell* make_fixed_in(memory::Node* parent, int32_t n);
// Pushes a copy of a block, or a new empty block of n cells (0 gives 1).
cell* push(const cell* blk);
cell* push_new(int32_t n);

// --- Molding ---------------------------------------------------------------------------

// The cells of a block molded one after another with separators, new-line
// markers and indentation (the body of block! and paren! mold).
int32_t mold_each(cell* blk, cell* out, bool only, bool all, bool flat, cell* part,
                  int32_t budget, int32_t indent);

// --- Actions ------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
cell* put(cell* series, cell* key, cell* value, bool case_);
cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable);
cell* swap(cell* a, cell* b);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

// --- Sorting ---------------------------------------------------------------------------------

// Bits of the sort-record flags: reverse, compare whole records, and the
// compared cell's offset (or, with ALL, the record width) from bit 2.
enum : uint32_t { SORT_REVERSE = 1, SORT_ALL = 2 };
// The record comparer of plain sorts: context1 is the compare op.
int32_t compare_records(const void* a, const void* b, uintptr_t op, uintptr_t flags);
// The record comparer of sort/compare with a function: context1 is the
// function cell.
int32_t call_comparator(const void* a, const void* b, uintptr_t function, uintptr_t flags);

// The seam through which sort/compare calls a function! value: it is given
// the function and the two values (whole records with /all: blocks of the
// record's cells) and leaves the function's answer in `result`. The
// interpreter installs it; while it is null, /compare with a function raises
// internal not-done.
using CompareCallback = void (*)(cell* function, cell* a, cell* b, cell* result);
extern CompareCallback compare_callback;
// Collector: calls `mark` on the private record copy of every sort that is
// running (a comparator may collect while the records live only there).
void for_each_sort_copy(void (*mark)(cell* cells, uint32_t n));

// --- Set operations ------------------------------------------------------------------------

// op 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference over records
// of `skip` cells keyed by their first cell; the new block replaces `a`.
cell* do_set_op(int32_t op, cell* a, cell* b, int32_t skip, bool case_);

// Registers block! (type 5, parent series!); after series!.
void register_type();

}  // namespace block
