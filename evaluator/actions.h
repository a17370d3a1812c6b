// Action lookup and the typed forms that runtime code calls with explicit
// arguments. Each looks up the function of its first value's type in the
// action table (one multiply and one load) and calls it; an unsupported
// action raises script error expect-arg.
//
// The generic dispatchers that action! values call (which read the window
// and turn refinements into plain arguments) join these with the evaluator.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "evaluator/natives.h"
#include "runtime/rt.h"

namespace actions {

// script expect-arg: the innermost call's word, the value's datatype and the
// argument word.
[[noreturn]] void raise_unsupported(const cell* value);

// The function of `value`'s type for action A; raises expect-arg when the
// type does not support it.
template <int A>
typename datatype::Sig<A>::fn get_action_ptr_of(const cell* value) {
    auto fn = datatype::get<A>(value->type());
    if (!fn) {
        raise_unsupported(value);
    }
    return fn;
}

// The compare action of value1's type: 0 equal, -1/1 (or any sign) for
// order, -2 (datatype::NOT_COMPARABLE) when the values cannot be compared.
int32_t compare_typed(cell* value1, cell* value2, int32_t op);

// A comparison as a truth value: -2 counts as "different" under the equality
// operators and raises invalid-compare under the ordering ones (3-6).
bool compare(cell* value1, cell* value2, int32_t op);

// Form and mold `value` into the string! `out`; both return the limit minus
// the characters appended.
int32_t form_typed(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold_typed(cell* value, cell* out, bool only, bool all, bool flat, cell* part,
                   int32_t limit, int32_t indent);

// --- Dispatchers -----------------------------------------------------------------------------
// The generic dispatchers that action! values call: each reads its
// arguments from the window (cell 0 is the first argument and the result
// slot), receives one integer per refinement of the action's spec (-1 absent,
// else the window index of its first argument), turns them into plain
// arguments and calls the datatype's function.

// 62 entries by action id - 1; entry 8 (id 9) is null: compare is not a stack
// dispatcher (`compare` above).
extern natives::Fn* dispatchers;

// Allocates the table and registers the dispatchers (start-up step 9).
void init();

// Ports with a native actor: the actor field holds a handle! (word 2) that
// points at a table of dispatchers for action ids 25-62 (index id - 25).
// Tables are registered before use, so a handle that points anywhere else
// is refused (access invalid-actor) instead of being jumped through.
constexpr uint32_t ACTOR_FIRST = 25;
constexpr uint32_t ACTOR_ENTRIES = 62 - 25 + 1;
void register_actor_table(const natives::Fn* table);
// The function an action! call on the window's first argument runs: for a
// port with a handle! actor and an action id of 25 or more, the actor
// table's entry (null: access no-port-action); else `dispatcher` itself.
natives::Fn port_entry(natives::Fn dispatcher);

// Typed forms runtime code calls with explicit arguments.
cell* make_typed(cell* proto, cell* spec);
cell* copy_typed(cell* value, cell* result, cell* part, bool deep, cell* types);

// The /part count of append, insert and change: `part` an integer! or a
// position in the reference's series; returns the count (the reference's
// index may move back for a negative count).
int32_t normalize_part(cell* part, cell* reference, cell* series, bool is_change);

}  // namespace actions
