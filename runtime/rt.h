// Runtime helpers that compiled library code and runtime modules call
// directly instead of evaluating blocks: argument type checks, checked word
// and context-slot access, float to integer conversion.
//
// None keeps state. Each raises through error::raise and never returns an
// error code. The checks allocate nothing on the path that passes.
//
// Type sets are typeset! values (typeset.h): the check of one argument is
// one byte test of the cell's payload.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace rt {

// The word of the innermost user-level call, the argument word of argument
// n; the evaluator installs them. Null gives the word <anon>.
using CallWord = const cell* (*)();
using ArgumentWord = const cell* (*)(int32_t n);
extern CallWord call_word;
extern ArgumentWord argument_word;

// Raises script expect-arg when the value's type is absent from the set;
// returns the value.
cell* check_arg_type(const cell* typeset, int32_t argument, cell* value);
// index < 0: an absent optional argument, not checked.
cell* check_arg_at(int32_t index, const cell* typeset, int32_t argument);
cell* check_refinement_arg(const cell* flag, const cell* typeset, int32_t argument, cell* value);
cell* check_not_unset(int32_t argument, cell* value);

// Set the word (or slot n of the context) to the last value; unset! raises
// need-value. The _clear forms then empty the call's window.
void set_checked(cell* word);
void set_checked_clear(cell* word);
void set_at_checked(memory::Node* ctx, int32_t n);
void set_at_checked_clear(memory::Node* ctx, int32_t n);
// Slot n of an object context gets the last value (changed mark set), no
// unset check; the window is emptied.
void set_at(memory::Node* ctx, int32_t n);
// The word's value cell; unset! raises no-value.
cell* get_value_checked(const cell* word);
// Address of slot n; a context without values raises not-defined.
cell* value_slot_at(memory::Node* ctx, int32_t n);

// A float! above 2147483647.0, below -2147483648.0 or NaN raises script
// out-of-range; otherwise truncated toward zero. Other cells: payload word 2.
int32_t float_to_integer(const cell* value);

}  // namespace rt
