#include "runtime/rt.h"

#include "datatypes/error_out.h"

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/words.h"

namespace rt {

CallWord call_word = nullptr;
ArgumentWord argument_word = nullptr;

namespace {

[[noreturn]] void expect_arg(int32_t argument, uint8_t type) {
    const cell* call = call_word ? call_word() : words::word_anon;
    const cell* arg = argument_word ? argument_word(argument) : words::word_anon;
    cell* dt = datatype::push(type);
    error::raise(error::SCRIPT, "expect-arg", call, dt, arg);
}

[[noreturn]] void raise_word(const char* id, const cell* w) {
    cell* held = stack::push(w);
    error::raise(error::SCRIPT, id, held);
}

}  // namespace

cell* check_arg_type(const cell* typeset, int32_t argument, cell* value) {
    if (!typeset::has(typeset, value->type())) expect_arg(argument, value->type());
    return value;
}

cell* check_arg_at(int32_t index, const cell* typeset, int32_t argument) {
    if (index < 0) return nullptr;
    return check_arg_type(typeset, argument, stack::arg((uint32_t)index));
}

cell* check_refinement_arg(const cell* flag, const cell* typeset, int32_t argument, cell* value) {
    if (flag->data1 != 0) check_arg_type(typeset, argument, value);
    return value;
}

cell* check_not_unset(int32_t argument, cell* value) {
    if (value->type() == TYPE_UNSET) expect_arg(argument, TYPE_UNSET);
    return value;
}

void set_checked(cell* w) {
    cell* last = stack::get_top();
    if (last->type() == TYPE_UNSET) raise_word("need-value", w);
    word::set_in(w, last);
}

void set_checked_clear(cell* w) {
    set_checked(w);
    stack::clear_args();
}

void set_at_checked(memory::Node* ctx, int32_t n) {
    cell* last = stack::get_top();
    if (last->type() == TYPE_UNSET) raise_word("need-value", context::word_at(ctx, n));
    cell v = *last;
    *context::value_cell_at(ctx, n) = v;
}

void set_at_checked_clear(memory::Node* ctx, int32_t n) {
    set_at_checked(ctx, n);
    stack::clear_args();
}

void set_at(memory::Node* ctx, int32_t n) {
    cell v = *stack::get_top();
    if (context::kind_of(ctx) == context::KIND_OBJECT)
        context::word_at(ctx, n)->header |= context::WORD_CHANGED;
    *context::value_cell_at(ctx, n) = v;
    stack::clear_args();
}

cell* get_value_checked(const cell* w) {
    cell* v = word::get_value(w);
    if (v->type() == TYPE_UNSET) raise_word("no-value", w);
    return v;
}

cell* value_slot_at(memory::Node* ctx, int32_t n) {
    if (!context::has_values(ctx)) raise_word("not-defined", context::word_at(ctx, n));
    return context::value_cell_at(ctx, n);
}

int32_t float_to_integer(const cell* value) {
    if (value->type() != TYPE_FLOAT) return (int32_t)value->data2;
    double d = cell::get_float(value);
    // The bounds are tested before truncating: a cast of an out-of-range
    // double is undefined. NaN fails both comparisons.
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) {
        cell* held = stack::push(value);
        error::raise_script(error::Script::out_of_range, held);
    }
    return (int32_t)d;
}

}  // namespace rt
