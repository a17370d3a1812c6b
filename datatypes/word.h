// The word family: word!, set-word!, lit-word!, get-word!, refinement!,
// issue!.
//
// All six share one cell layout and differ in how they evaluate and print:
//   header  type id 15-20 | flags; bit 13 (context::WORD_CHANGED) is the
//           changed mark of a field word in an object's word list
//   word 1  node of the context the word is bound to (0: unbound)
//   word 2  symbol id (its own spelling; comparisons and binding go through
//           the canonical id)
//   word 3  index in that context, or -1: to be looked up (with the symbol
//           `self`, the context's owner)
//
// word!'s parent is symbol!; the other five inherit from word!.
//
// Root slots: while the boot flag is set, words made for compiled code are
// copied into new cells of a block that never moves (`root`), so their
// addresses can be kept in globals. Until the runtime's root block exists
// the module makes a fixed block of its own; `use_root` hands it the root
// block instead. The collector marks the cells of `root`.
//
// Reading and setting follow the native calling convention: results are
// pushed on the argument stack or left in the window's first cell.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace word {

using memory::Node;

// --- Root slots ----------------------------------------------------------------

// Cells of the fixed block made when no root block was handed over.
constexpr int32_t ROOT_CELLS = 9782;
// The block whose cells hold rooted words (0 until first needed).
extern Node* root;
// Makes `block` (a fixed block, never moved) the root slots' block.
void use_root(Node* block);
// A new unset! cell at the root block's tail; internal no-memory when full.
cell* root_slot();
// A copy of a cell in a new root slot.
cell* copy_to_root(const cell* value);

// --- Making words --------------------------------------------------------------------

inline cell* make_cell(cell* c, uint8_t type, Node* ctx, int32_t symbol, int32_t index) {
    c->header = type;
    c->data1 = (uint32_t)(uintptr_t)ctx;
    c->data2 = (uint32_t)symbol;
    c->data3 = (uint32_t)index;
    return c;
}
inline Node* context_of(const cell* w) { return reinterpret_cast<Node*>((uintptr_t)w->data1); }
inline int32_t symbol_of(const cell* w) { return (int32_t)w->data2; }
inline int32_t index_of_cell(const cell* w) { return (int32_t)w->data3; }
inline bool is_any_word_type(uint8_t type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

// Interns the spelling and gives its word in the global context (canonical
// lookup, own spelling kept): a root copy while the boot flag is set, else
// the word list's cell (valid until the next allocation).
cell* load(const char* spelling);
// A word! bound to the global context, added there when new. `out` must not
// lie in a movable buffer.
cell* make_at(int32_t symbol, cell* out);
// make_at into the window's first cell.
cell* make_at_base(int32_t symbol);
// A new tail cell of the block (node) made by make_at.
cell* append_new(int32_t symbol, Node* block);
cell* append_load(const char* spelling, Node* block);
// make_at on a new argument-stack cell.
cell* push_new(int32_t symbol);

// --- Pushing and reading ------------------------------------------------------------------

cell* push(const cell* value);
// Pushes the word at that index of the context's word list.
cell* push_in(Node* ctx, int32_t index);
// The value cell of a word in a context: `self` at index -1 gives the owner
// cell; raises no-value (other words at -1) or not-in-context (no values).
cell* value_cell_in(const cell* word, Node* ctx);
// The word's value cell in its own context (unbound: no-value).
cell* get_value(const cell* word);
// Pushes a copy of the value; unset! raises no-value.
cell* get(const cell* word);
// Push a copy of the value without the unset! check.
cell* push_value(const cell* word);
cell* push_any_value(const cell* word);
// The value of the word in the window's first cell becomes the result.
cell* get_from_stack();
// Pushes the value at an index of a context (not-defined without values).
cell* get_local(Node* ctx, int32_t index);
// The context's word cell for the symbol (exact), else context::get_global.
cell* get_in_or_global(Node* ctx, int32_t symbol);
// Pushes a string! sharing the symbol's spelling series.
cell* to_string(const cell* word);
// The symbol's record (its spelling string! made).
cell* symbol_record(const cell* word);
// The type the text scans as: one of the six word types for a word's
// spelling with its sigil, TYPE_INTEGER/TYPE_FLOAT for numbers, 0 for
// anything else. Stands in for the lexer's type-only scan.
uint8_t spelling_type(const uint8_t* bytes, uint32_t n);
uint8_t spelling_type(const cell* word);

// --- Setting ---------------------------------------------------------------------------

// The word in the window's first cell gets the value after it; unset!
// raises need-value. The value becomes the result.
cell* set();
// Copies the base cell's value into the target; unset! raises need-value.
cell* set_from_base(cell* target);
// set without the unset! check.
cell* set_from_stack();
// Stores a copy of the value as the word's value in its own context, firing
// the owner's on-change* when it has one. Returns the slot.
cell* set_in(cell* word, const cell* value);
// The same in a given context (a word with index -1 is looked up, added
// when missing, and its index written into the word cell before anything
// allocates). Raises not-defined for a context without values.
cell* set_in_context(cell* word, const cell* value, Node* ctx, bool fire);
void set_integer_in(Node* ctx, cell* word, int32_t n);

// --- Binding -----------------------------------------------------------------------------

// Binds the word when the context holds its symbol (canonical); its index,
// or -1 (cell unchanged).
int32_t bind_to(Node* ctx, cell* word);

// --- Actions -------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* index_of();

void register_type();

}  // namespace word

// The five word kinds that inherit from word!: their own mold and the
// makers and stack forms that retype a word!.
#define ZOL_WORD_KIND(NS)                                                                       \
    namespace NS {                                                                              \
    int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part,            \
                 int32_t limit, int32_t indent);                                                \
    void register_type();                                                                       \
    cell* push_from_word(const cell* word);                                                     \
    }

ZOL_WORD_KIND(set_word)
ZOL_WORD_KIND(lit_word)
ZOL_WORD_KIND(get_word)
ZOL_WORD_KIND(refinement)
ZOL_WORD_KIND(issue)
#undef ZOL_WORD_KIND

namespace set_word {
cell* load(const char* spelling);
cell* append_load(const char* spelling, word::Node* block);
cell* push_at(word::Node* ctx, int32_t index);
cell* get_from_stack();
cell* set_from_stack();
}  // namespace set_word

namespace lit_word {
cell* load(const char* spelling);
cell* append_load(const char* spelling, word::Node* block);
cell* push_at(word::Node* ctx, int32_t index);
cell* get_from_stack();
cell* set_from_stack();
}  // namespace lit_word

namespace get_word {
cell* load(const char* spelling);
cell* append_load(const char* spelling, word::Node* block);
cell* push_at(word::Node* ctx, int32_t index);
cell* set_from_stack();
}  // namespace get_word

namespace refinement {
// An unbound refinement! in a new root slot.
cell* load(const char* spelling);
cell* append_load(const char* spelling, word::Node* block);
cell* push_in(word::Node* ctx, int32_t index);
cell* get_from_stack();
cell* set_from_stack();
}  // namespace refinement

namespace issue {
// issue! {global context, symbol, -1}.
cell* make_at(cell* out, const char* spelling);
cell* append_new(word::Node* block, const char* spelling);
// In a new root slot while the boot flag is set, else pushed.
cell* load(const char* spelling);
cell* make(cell* target, cell* spec, int32_t type);
int32_t compare(cell* a, cell* b, int32_t op);
}  // namespace issue
