// Contexts: the namespaces words are bound to (the global context, objects,
// function calls).
//
// A context is a series of exactly two cells; its node is what word cells
// (word 1) and object!/function! cells (word 1) hold:
//   cell 0  the context! cell: header 14 | flags, word 1 node of the word
//           table (hash table kind 2, mode 2), word 2 node of the values
//           block, or for a stack-held context the address of its first
//           value cell on the argument stack (0 while no call runs)
//   cell 1  the owner cell: unset! when made; the owning object!/function!
//           stores itself here. Its word 3 is the owner's handler record
//           node (0 when none), which setting a field of an object consults.
//
// The word list is the word table's data block: one word! cell per word in
// index order, each bound to this context {15, context node, symbol, index}.
// The values block holds the value of word i at cell i; it starts empty with
// room for the context's size and gains one unset! cell per word added, so
// it stays as long as the word list (a stack-held context has none).
//
// Lookup is by canonical symbol (letter case ignored) or by exact symbol;
// both probe one sequence since the table hashes the canonical id.
//
// The API takes context nodes, not addresses of context! cells: cell 0 is
// re-read after anything that may allocate. Word and value cells passed in
// may lie in movable buffers; everything read from them is read before the
// first allocation (values to be stored are first pushed on the argument
// stack, which does not move).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace context {

using memory::Node;

// context! header flags.
enum : uint32_t {
    FLAG_STACK = 0x400000,   // values live on the argument stack
    FLAG_SELF = 0x1000000,   // object contexts: `self` names the owner
    FLAG_OWNS = 0x10000,     // the object owns series (ownership table)
    KIND_SHIFT = 11,
    KIND_MASK = 3u << KIND_SHIFT,
};
enum Kind : int32_t { KIND_PLAIN = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

// Header mark of a word in an object's word list: its field was set.
constexpr uint32_t WORD_CHANGED = 0x2000;

// Room of the global context.
constexpr int32_t GLOBAL_WORDS = 4000;

// The global context's node (0 before `init`). A root: the collector marks it.
extern Node* global;

// Makes the global context (start-up step 12).
void init();

// --- Access --------------------------------------------------------------------

// The context! cell and the owner cell. Valid until the next series allocation.
inline cell* self_cell(Node* ctx) { return reinterpret_cast<cell*>(ctx->buffer->head); }
inline cell* owner(Node* ctx) { return self_cell(ctx) + 1; }
inline Node* table_of(Node* ctx) { return reinterpret_cast<Node*>((uintptr_t)self_cell(ctx)->data1); }
inline bool is_stack(Node* ctx) { return (self_cell(ctx)->header & FLAG_STACK) != 0; }
inline int32_t kind_of(Node* ctx) { return (int32_t)((self_cell(ctx)->header & KIND_MASK) >> KIND_SHIFT); }
// The word list's node.
Node* words_node(Node* ctx);
// The values block's node (contexts with values of their own only).
Node* values_node(Node* ctx);
// Whether the context has values to read now (a stack-held one only while
// a call of its function runs).
bool has_values(Node* ctx);
int32_t word_count(Node* ctx);
// Word cell at an index of the word list. Valid until the next allocation.
cell* word_at(Node* ctx, int32_t index);
// Value cell at an index (a stack cell for a stack-held context). Valid
// until the next allocation.
cell* value_cell_at(Node* ctx, int32_t index);
// Points a stack-held context at its call's values (0: no call runs).
void set_stack_values(Node* ctx, cell* first);

// --- Making and copying ----------------------------------------------------------

// A context for n words (n = 0 counts as 1). With a source context its word
// table is copied. May collect.
Node* make(int32_t n, bool stack, bool self, Node* source, int32_t kind);
// A context of the word!, lit-word!, get-word! and refinement! cells of a
// block (set-words and issues are skipped), in block order, case ignored.
Node* make_from_block(const cell* block, bool stack, bool self, int32_t kind);
// Gives the function or object value a fresh context of the same words,
// rebound to it; its word 1 is set to the new node. Values are not copied.
// The value must not lie in a movable buffer.
Node* clone(cell* value, int32_t kind);

// --- Finding and adding words -------------------------------------------------------

// Index of the symbol's word (by canonical symbol when `canonical`), or -1.
int32_t find_word(Node* ctx, int32_t symbol, bool canonical);
// The existing index, or -1 after appending a new word (its index in *added).
// Adds no value cell.
int32_t find_or_add_word(Node* ctx, int32_t symbol, bool canonical, int32_t* added);
// Index of the word's symbol (canonical), added with an unset! value when new.
int32_t add_word(Node* ctx, const cell* word);
// Null when the word existed, else the new value cell holding a copy of value.
cell* add_word_if_new(Node* ctx, const cell* word, const cell* value);
// Copies the value into the word's slot, adding the word when new.
void put_value(Node* ctx, const cell* word, const cell* value);
// Adds every set-word! of the block from its head; true when words were added.
bool collect_set_words(Node* ctx, const cell* block);

// --- Reading values ------------------------------------------------------------------

// Value cell of a symbol (canonical lookup; it must be present). A stack-held
// context defers to the global context.
cell* get_symbol_value(Node* ctx, int32_t symbol);
// Value cell in the global context (canonical; the symbol must be present).
cell* global_value_at(int32_t symbol);
// Copies the symbol's global value (exact lookup; added when missing).
void copy_global_value(int32_t symbol, cell* out);
// Finds or adds the symbol in the global context; the word cell (see the
// source for the case-variant rules). Valid until the next allocation.
cell* add_global(int32_t symbol, bool canonical, bool keep_spelling);
// add_global(symbol, exact, keep); while the boot flag is set the result is
// a copy in a new root slot.
cell* get_global(int32_t symbol);

// --- Storing from the argument stack ------------------------------------------------------

// Each sets the changed mark first in an object context.
// The last pushed value into the slot at index.
void store_last_at(Node* ctx, int32_t index);
// Pushes a copy of the slot's old value, then stores the value pushed last
// before it.
void store_last_at_push_old(Node* ctx, int32_t index);
// Stores the call's base cell (the window's first cell) and returns it.
cell* store_base_at(Node* ctx, int32_t index);

// --- Binding --------------------------------------------------------------------------

// Binds the words of a block (nested blocks, parens, paths and hash! too;
// issues are left alone) that the context holds. With `self`, a word!
// spelled `self` is bound to the context with index -1. A block met again
// inside its own walk is skipped. Returns the block cell.
cell* bind_block(cell* block, Node* ctx, bool self);

// --- Rooting ------------------------------------------------------------------------------

// Holds a context that nothing refers to yet across allocations (the
// collector marks it through `for_each_held`).
class Hold {
public:
    explicit Hold(Node** ctx);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};
void for_each_held(void (*mark_word)(Node** word));

// --- Object seam ---------------------------------------------------------------------------

// Called when a field of an object with a handler record is set (installed
// by object!): owner cell, field word, old and new value.
using FireOnChange = void (*)(cell* owner, cell* word, cell* old_value, cell* new_value);
extern FireOnChange fire_on_change;

// Registers context! (type 14, no parent, no action).
void register_type();

}  // namespace context
