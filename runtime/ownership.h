// The ownership table: which object owns a series, under which field.
//
// A series stored in an object's field (and every series nested in it) can be
// owned by that object: each change to it, by any action, is reported to the
// owner's `on-deep-change*` handler. The table is a hash table of kind 4,
// mode 3, keyed by the owned series' node (an object's context node), each
// entry four cells:
//
//   cell 0  key cell: header 2 while live, word 1 the node
//   cell 1  the owned value as it was when ownership was set
//   cell 2  the owning object! (word 3: its handler record; 0 = no handlers)
//   cell 3  the owner's field word the series hangs under
//
// Buffer flag FLAG_OWNED marks an owned series, so `check` on a series that
// nobody owns costs one flag test and no lookup.
//
// The table is weak: it keeps neither the owned series nor the owner alive.
// It is not reachable from the root block; the collector marks only the
// table's own series (`mark`), never the keys or entry cells, and after
// marking drops every entry whose series or owner died (`sweep`).
//
// Every modifying series action calls `check` before the change with the
// present-tense action word, and after it with the past-tense word when the
// first call found the series owned. The handler may change the series
// (shrink it, move its buffer): callers re-read the buffer and re-clamp their
// positions and counts after the first call.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace ownership {

// Action words reported to the owner, present and past tense alternating;
// then the case changes, reported once, after the change.
enum Word : uint8_t {
    APPEND, APPENDED, INSERT, INSERTED, CHANGE, CHANGED, CLEAR, CLEARED, POKE, POKED,
    PUT, PUT_ED, REMOVE, REMOVED, MOVE, MOVED, RANDOM, RANDOMIZED, REVERSE, REVERSED,
    SORT, SORTED, SWAP, SWAPED, TAKE, TAKEN, TRIM, TRIMMED, UPPERCASE, LOWERCASE,
    WORD_COUNT
};
// The word's spelling ("append", "put-ed", ...).
const char* spelling(Word w);
// Symbol id of the word (interned by `init`).
int32_t symbol_of(Word w);

// The table's node (null before `init`).
extern memory::Node* table;

// Makes the table and interns the action words (start-up step 19).
void init();

// Marks the value and everything inside it as owned by `owner` under the
// field `word`; a series already owned keeps its first owner (a block is
// still walked). Blocks that contain themselves are walked once.
void set_deep(cell* value, const cell* owner, const cell* word);
// `set_deep`, then the owner's context cell records that it owns series.
void set_object(cell* value, const cell* owner, const cell* word);
// Takes the value and everything inside it out of the table.
void unset(cell* value);
// `unset` on n cells of a block from `index`.
void unset_range(cell* block, int32_t index, int32_t n);
// The owner cell of a series' entry (the field word right after it), or null.
cell* find(memory::Node* node);

// Reports a change of `value`'s series to its owner. Answers true when the
// series is owned and the owner has handlers (the handler then ran).
// `extra` is the further value some actions pass (move: the origin).
bool check(cell* value, Word action, int32_t index, int32_t count, cell* extra = nullptr);

// What the object module fills in. `fire_on_deep_change` calls the owner's
// `on-deep-change*` with the field word, the value, the action word and the
// action's arguments; `walk_object` applies `set_deep`/`unset` to an object's
// fields (null: objects are not walked); `mark_owner` sets or tests the
// owns-series bit on an owner's context cell.
using FireFn = void (*)(cell* owner, cell* word, cell* value, int32_t action_symbol, int32_t index,
                        int32_t count, cell* extra);
extern FireFn fire_on_deep_change;
using WalkFn = void (*)(cell* object, const cell* owner, const cell* word, bool set);
extern WalkFn walk_object;
using OwnerMarkFn = void (*)(const cell* owner);
extern OwnerMarkFn mark_owner;

// Collector: marks the table's own series (record, arrays, entry block) and
// nothing they refer to.
void mark(void (*mark_word)(memory::Node** word));
// Collector: after marking, drops every entry whose series or owner is not
// live and clears the owned flag of a surviving series whose owner died.
void sweep(bool (*is_live)(memory::Node* node));

}  // namespace ownership
