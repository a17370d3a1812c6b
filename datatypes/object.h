// object!: records of named fields held in a context of kind 2.
//
// The object! cell (type 32; error! 34 shares it):
//   word 1  node of the object's context
//   word 2  class id: objects of one shape share it. One counter, starting at
//           1,000,000 and incremented before use, hands out new ids; every
//           error! has class id 1
//   word 3  node of the handler record, 0 when the object has none
// The context's owner cell (context::owner, the cell after its context!
// cell) is the back-link: a copy of the object! cell, rewritten whenever a
// cell is made for the context or its class id or handler record changes.
//
// Handler record: a series of two pair!-typed cells, 0 for on-change*, 1 for
// on-deep-change*: word 2 = (field index << 16) | extra-slot count (index
// 0xFFFF: no such handler), word 3 = node of the handler's spec block the
// count was computed for (0: not yet).
//
// Changed marks: bit 13 of a field's word cell (context::WORD_CHANGED) is set
// whenever the field is stored into; `make` clears them all afterwards.
//
// Handlers are functions, and calling a function is the interpreter's: it
// installs `call_handler`, through which the object code calls them. While
// it is null, firing a handler raises internal not-done.
//
// Invariants: nothing keeps a cell address of a context's word or value
// buffers across an allocation; values to be stored are pushed first.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace object {

using memory::Node;

constexpr uint32_t FIRST_CLASS_ID = 1000000;
constexpr uint32_t ERROR_CLASS_ID = 1;
constexpr uint32_t NO_HANDLER = 0xFFFF;
enum Handler : int32_t { ON_CHANGE = 0, ON_DEEP_CHANGE = 1 };

// The class id counter (the last id handed out).
extern uint32_t class_counter;
uint32_t next_class_id();

inline Node* context_of(const cell* obj) { return reinterpret_cast<Node*>((uintptr_t)obj->data1); }
inline Node* handlers_of(const cell* obj) { return reinterpret_cast<Node*>((uintptr_t)obj->data3); }

// --- Construction and access ----------------------------------------------------

// A new kind-2 context for `size` words; the cell becomes an object! on it
// (class 0, no handler record) and the back-link is written. The cell must
// not lie in a movable buffer.
cell* init_cell(cell* result, int32_t size);
// Pushes an object! cell with these words and writes the back-link.
cell* make_at(Node* ctx, uint32_t class_id, Node* handler);
// Pushes an object! cell for a context made elsewhere (no handler record);
// an empty values block is first given one unset! cell per word.
cell* push_context(Node* ctx, uint32_t class_id);
// Copies the object! cell into its context's back-link cell.
void write_back_link(const cell* obj);

// Index of the word's symbol (canonical) in the object's context, or -1.
int32_t word_index(const cell* obj, const cell* word);
// The field's value cell, or the shared none cell when the object lacks it.
// Valid until the next allocation.
cell* select_word(const cell* obj, const cell* word);
cell* first_word(const cell* obj);
int32_t word_count(const cell* obj);
cell* values(const cell* obj);
// The word naming the value cell at that address, or null when the address
// is not one of the object's value cells.
cell* word_of_cell(const cell* obj, const cell* value);
// The word cell at an index of the context's word table.
cell* word_at_node(Node* ctx, int32_t index);
bool is_word_value_object(Node* ctx, const cell* word, uint32_t class_id);
bool is_value_object(Node* ctx, int32_t index, uint32_t class_id);
// Clears the changed mark of every field.
void clear_changed(Node* ctx);
// Clears the new-line marker of every cell of a cell series.
void clear_new_lines(Node* series);

// Convenience for native code: the field spelled so (added when missing)
// gets a copy of value, without firing handlers (construct semantics).
void put_field(cell* obj, const char* spelling, const cell* value);

// --- Handlers ------------------------------------------------------------------------

// The interpreter's call of a handler function: the function cell, the
// object's context node, the handler's name word, the tracer event class
// (8 on-change*, 16 on-deep-change*) and the `count` argument cells in order.
using CallHandler = void (*)(cell* function, Node* ctx, const cell* name, int32_t event_class,
                             cell* args, int32_t count);
extern CallHandler call_handler;

// The extra-slot count of a handler's spec (refinements and locals); the
// function module installs it. Null counts 0.
using CountLocals = int32_t (*)(const cell* function);
extern CountLocals count_locals;

// Builds the handler record from the fields named on-change* and
// on-deep-change* (none: 0); a field that holds no function! or routine!
// raises script bad-field-set.
Node* scan_handlers(const cell* obj);
// scan_handlers, stored in the cell and back-link; an on-deep-change*
// handler makes the object owner of its series.
void attach_handlers(cell* obj);
// Builds the record from given indexes (-1 absent) for the last pushed
// object!, stores it; returns the record's node.
Node* create_from(Node* ctx, int32_t change_index, int32_t change_count, int32_t deep_index,
                  int32_t deep_count);

void fire_on_change(cell* obj, cell* word, cell* old_value, cell* new_value);
void fire_on_change_top(cell* obj, cell* word);
void fire_on_deep_change(cell* owner, cell* word, cell* target, cell* action, cell* new_value,
                         int32_t index, int32_t part);

// --- Making and copying --------------------------------------------------------------

// The interpreter's block evaluation, for make's spec block; null: make
// with a block spec raises internal not-done.
using EvalBlock = void (*)(cell* block);
extern EvalBlock eval_block;

// Copies the source object into `dest` (a stable cell): new context, the
// same words and values; with `deep` series values are deep-copied.
void copy_context(const cell* source, cell* dest, bool deep, cell* types, bool rebuild_handlers);
// Re-makes every function! in the context's values for it (rebind-function):
// a copied object's functions see the copy's fields.
void rebind_functions(Node* ctx);
// construct: prototype (none or object!), spec block, only flag; pushes the
// new object.
cell* make_value(cell* prototype, cell* spec, bool only);
// What set/some skips: none!, or the word `none` as a literal block holds it.
bool is_none_value(const cell* v);
// set on an object: the one value to every field, or (without `only`) a
// block's values field by field from its head or another object's fields
// by name. Unless any or some, an unset! source value raises need-value
// naming the field; with some, none values are skipped. The handler fields
// are left alone; other fields fire on-change*.
void set_fields(cell* obj, cell* value, bool any, bool only, bool some);
// Fields from the set-words of a spec block, values unevaluated.
void construct_fields(cell* obj, cell* spec, bool only);

// --- Output ----------------------------------------------------------------------------

int32_t serialize_fields(cell* obj, cell* out, bool only, bool all, bool flat, cell* part,
                         int32_t limit, bool indent_on, int32_t indent, bool mold);

// --- Actions ----------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* reflect(cell* value, int32_t field_symbol);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);
cell* modify(cell* target, cell* field, cell* value, bool case_);
// Field access through a path: the parent cell receives the field's value
// (get, `value` null) or the value set. With `get` and `last` a missing or
// unset field gives unset!; otherwise script invalid-path (last element) or
// unset-path, naming the path and the element.
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder, cell* element_cell,
                int32_t index, bool case_, bool get, bool last, bool owner);
// put: the key must be a word! (else invalid-key-type); set as a path would.
cell* put(cell* series, cell* key, cell* value, bool case_);

// Registers object! (type 32, no parent); installs the context's on-change
// seam.
void register_type();

}  // namespace object
