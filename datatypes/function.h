// function! and routine!: callables made from a spec block and a body.
//
// function! cell (type 24):
//   header  bit 10 (TRACE) when the spec's attribute block holds `trace`,
//           bit 9 (NO_TRACE) when it holds `no-trace`
//   word 1  node of the function's context: one word per argument,
//           refinement and local of the spec, in spec order. The context is
//           stack-held: while a call runs, its values are the call's window
//           on the argument stack (the call frame saves and restores the
//           pointer, so recursion is safe)
//   word 2  series node of the spec block
//   word 3  node of the five-cell `function-more` block:
//           0 the body block (a bound copy), or none
//           1 the argument cache (block!, built on first call), else unset!
//           2 integer! entry of a compiled body, or unset! (none here: every
//             body is interpreted)
//           3 unset!; an op! made from the function keeps the function here
//           4 integer! owning context, or unset!
// The context's owner cell holds a copy of the function! cell.
//
// routine! cell (type 29): header bit 15 (ADDRESSES) when the routine takes
// its argument cells, bits 25-29 the number of plain word! cells of its
// spec; word 1 context from the spec, word 2 spec node, word 3 a five-cell
// block [body value or none, argument cache, integer! entry, unset!, integer!
// owner]. A routine's entry is our own C++ function taking the window.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace function {

using memory::Node;

enum : uint32_t { FLAG_NO_TRACE = 0x200, FLAG_TRACE = 0x400 };
enum More : int32_t { MORE_BODY = 0, MORE_CACHE = 1, MORE_ENTRY = 2, MORE_OP = 3, MORE_OWNER = 4 };

inline Node* context_of(const cell* f) { return reinterpret_cast<Node*>((uintptr_t)f->data1); }
inline Node* spec_of(const cell* f) { return reinterpret_cast<Node*>((uintptr_t)f->data2); }
inline Node* more_of(const cell* f) { return reinterpret_cast<Node*>((uintptr_t)f->data3); }
// A cell of the function-more block. Valid until the next allocation.
cell* more_cell(const cell* f, int32_t which);

// Validates a spec block; the header flag bits (0, 0x200, 0x400 or both).
// Raises bad-func-def, invalid-type-spec or dup-vars.
uint32_t check_spec(cell* spec);
// Flags of an attribute block, -1 when an element is not a word!.
int32_t spec_attributes(const cell* attributes);
void check_type_block(const cell* types);
void check_duplicates(const cell* spec);
// From `start`: 1 for the first /local and 1 for every word after it; with
// `strict`, -1 when there is no /local.
int32_t count_locals(Node* spec, int32_t start, bool strict);
// Pushes false, then n - 1 none! cells.
void push_nones(int32_t n);

// Pushes a new function! from a spec block and a body block (or null): the
// spec is copied from its head when its index is not 0, the body deep-copied
// and bound to the new context. With a context given, it is used as is.
cell* make_compiled(cell* spec, cell* body, Node* ctx, int32_t entry, int32_t owner, uint32_t flags);
// `function` native's locals: the block of added locals (spec changed in place).
cell* collect_locals(cell* spec, cell* body);

// The word (bound to the spec's context order) of the context slot `slot`
// of a callable, pushed; for error reports.
cell* push_slot_word(const cell* callable, int32_t slot);

// Actions.
cell* make(cell* target, cell* spec, int32_t type);
cell* reflect(cell* value, int32_t field_symbol);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);

// Re-makes a function! held in an object's slot for the object's new
// context: body deep-copied and bound to the object, then to the function's
// own new context. The slot receives the new function.
void rebind(cell* slot_value, Node* object_context);

void register_type();

}  // namespace function

namespace routine {

enum : uint32_t { FLAG_ADDRESSES = 0x8000 };
constexpr uint32_t ARG_COUNT_SHIFT = 25;

// Our routines take the call's window (argument i at window + i) and leave
// the result in its first cell.
using Body = void (*)();

cell* make_compiled(cell* spec, cell* body, Body entry, int32_t owner, bool addresses);
void set_arg_count(cell* r);
inline int32_t arg_count(const cell* r) { return (int32_t)((r->header >> ARG_COUNT_SHIFT) & 31); }
inline Body entry_of(const cell* r);

int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);

void register_type();

}  // namespace routine

inline routine::Body routine::entry_of(const cell* r) {
    cell* e = function::more_cell(r, function::MORE_ENTRY);
    return e->type() == TYPE_INTEGER ? reinterpret_cast<Body>((uintptr_t)e->data2) : nullptr;
}
