#include "datatypes/logic.h"

#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "platform/random.h"

namespace logic {

using namespace datatype;

cell true_cell;
cell false_cell;

cell* make_at(cell* c, bool b) {
    cell::set_header(c, TYPE_LOGIC);
    c->data1 = b ? 1 : 0;
    return c;
}

cell* box(bool b) { return make_at(stack::args(), b); }
cell* push(bool b) { return make_at(stack::push_cell(), b); }

// --- truth tests -----------------------------------------------------------

int32_t check_last() {
    const cell* c = stack::args();
    if (c->type() == TYPE_UNSET) error::raise_script(error::Script::no_return);
    return is_truthy(c);
}

int32_t is_top_false() { return !is_truthy(stack::args()); }
int32_t is_true() { return is_truthy(stack::get_top()); }
int32_t is_false() { return !is_truthy(stack::get_top()); }

int32_t check_arg(const cell* c, bool check, const cell* argument) {
    if (check && c->type() == TYPE_UNSET) error::raise_script(error::Script::no_value, argument);
    return is_truthy(c);
}

// --- actions ---------------------------------------------------------------

cell* to(cell* target, cell* spec, int32_t type) {
    switch (spec->type()) {
    case TYPE_LOGIC: return spec;
    case TYPE_NONE: return &false_cell;
    default: return &true_cell;
    }
}

cell* make(cell* target, cell* spec, int32_t type) {
    switch (spec->type()) {
    case TYPE_INTEGER: return spec->data2 != 0 ? &true_cell : &false_cell;
    case TYPE_FLOAT:
    case TYPE_PERCENT: return cell::get_float(spec) != 0.0 ? &true_cell : &false_cell;
    default: return to(target, spec, type);
    }
}

cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        rnd::seed((int32_t)value->data1);
        return unset::make_at(value);
    }
    int32_t draw = secure ? rnd::secure_int() : rnd::next();
    value->data1 = draw > 0x3FFFFFFF ? 1 : 0;
    return value;
}

static int32_t emit(cell* out, const char* text, int32_t length, int32_t limit) {
    string::concatenate_bytes(out, text, (uint32_t)length);
    return limit - length;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return value->data1 ? emit(out, "true", 4, limit) : emit(out, "false", 5, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (!all) return form(value, out, part, limit);
    return value->data1 ? emit(out, "#(true)", 7, limit) : emit(out, "#(false)", 8, limit);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_LOGIC) return NOT_COMPARABLE;
    switch (op) {
    case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL: case OP_SORT: case OP_CASE_SORT:
    case OP_SAME: case OP_FIND:
        return (int32_t)a->data1 - (int32_t)b->data1;
    default:
        return NOT_COMPARABLE;
    }
}

cell* complement(cell* value) {
    value->data1 ^= 1;
    return value;
}

// The bitwise actions need a logic! second argument.
static cell* bitwise(uint32_t (*op)(uint32_t, uint32_t)) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (b->type() != TYPE_LOGIC) {
        cell type;
        datatype::make_at(&type, b->type());
        error::raise_script(error::Script::expect_arg, nullptr, &type, nullptr);
    }
    a->data1 = op(a->data1, b->data1);
    return a;
}

cell* and_() { return bitwise([](uint32_t x, uint32_t y) { return x & y; }); }
cell* or_() { return bitwise([](uint32_t x, uint32_t y) { return x | y; }); }
cell* xor_() { return bitwise([](uint32_t x, uint32_t y) { return x ^ y; }); }

void register_type() {
    make_at(&true_cell, true);
    make_at(&false_cell, false);
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(to), on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // absolute .. odd?
        on<A_AND>(and_), on<A_COMPLEMENT>(complement), on<A_OR>(or_), on<A_XOR>(xor_),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_LOGIC, 0, "logic!", list);
}

}  // namespace logic
