#include "datatypes/pair.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/words.h"

namespace pair {

using namespace datatype;

cell* make_at(cell* c, int32_t x, int32_t y) {
    c->header = TYPE_PAIR;
    c->data1 = 0;
    c->data2 = (uint32_t)x;
    c->data3 = (uint32_t)y;
    return c;
}

cell* push(int32_t x, int32_t y) { return make_at(stack::push_cell(), x, y); }

// --- Math -----------------------------------------------------------------------------

// A double truncated toward zero when it fits 32 bits.
static bool truncated(double f, int32_t* out) {
    double t = std::trunc(f);
    if (!(t > -2147483649.0 && t < 2147483648.0)) return false;
    *out = (int32_t)t;
    return true;
}

// The pair in argument 0 (and a pair in argument 1) become point2D!s and
// the point2D! operation runs.
static cell* as_points(int32_t op) {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    point2D::make_in(l, (float)x_of(l), (float)y_of(l));
    if (r->type() == TYPE_PAIR) point2D::make_in(r, (float)x_of(r), (float)y_of(r));
    return point2D::do_math(op);
}

// One component by the integer rules; false when the result is no integer.
static bool component(int32_t l, int32_t r, int32_t op, int32_t* out) {
    switch (op) {
    case integer::MATH_ADD: return !__builtin_add_overflow(l, r, out);
    case integer::MATH_SUBTRACT: return !__builtin_sub_overflow(l, r, out);
    case integer::MATH_MULTIPLY: return !__builtin_mul_overflow(l, r, out);
    case integer::MATH_DIVIDE:
    case integer::MATH_REMAINDER:
        if (r == 0) error::raise_math(error::Math::zero_divide);
        if (l == INT32_MIN && r == -1) {
            if (op == integer::MATH_REMAINDER) return *out = 0, true;
            return false;
        }
        *out = op == integer::MATH_DIVIDE ? l / r : l % r;
        return true;
    default:
        *out = integer::do_math(l, r, op, nullptr);
        return true;
    }
}

cell* do_math(int32_t op) {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    int32_t rx, ry;
    switch (r->type()) {
    case TYPE_INTEGER: rx = ry = integer::get(r); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double f = float_::get(r);
        if (!std::isfinite(f)) error::raise_script(error::Script::invalid_arg, r);
        if (op == integer::MATH_MULTIPLY || op == integer::MATH_DIVIDE) return as_points(op);
        int32_t n;
        if (!truncated(f, &n)) return as_points(op);
        rx = ry = n;
        break;
    }
    case TYPE_PAIR:
        rx = x_of(r);
        ry = y_of(r);
        break;
    case TYPE_POINT2D: return as_points(op);
    default: scalar::invalid_type(r);
    }
    int32_t x, y;
    if (!component(x_of(l), rx, op, &x) || !component(y_of(l), ry, op, &y)) return as_points(op);
    return make_at(l, x, y);
}

cell* add() { return do_math(integer::MATH_ADD); }
cell* subtract() { return do_math(integer::MATH_SUBTRACT); }
cell* multiply() { return do_math(integer::MATH_MULTIPLY); }
cell* divide() { return do_math(integer::MATH_DIVIDE); }
cell* remainder() { return do_math(integer::MATH_REMAINDER); }
cell* and_() { return do_math(integer::MATH_AND); }
cell* or_() { return do_math(integer::MATH_OR); }
cell* xor_() { return do_math(integer::MATH_XOR); }

cell* absolute() {
    cell* v = stack::arg(0);
    return make_at(v, integer::abs_checked(x_of(v)), integer::abs_checked(y_of(v)));
}

cell* negate(cell* value) {
    if (x_of(value) == INT32_MIN || y_of(value) == INT32_MIN) error::raise_math(error::Math::overflow);
    return make_at(value, -x_of(value), -y_of(value));
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    bool has_scale = stack::is_given(scale);
    if (has_scale && scale->type() == TYPE_MONEY)
        scalar::not_related(scalar::action_word("round"), TYPE_MONEY);
    cell* saved_top = stack::arguments.top;
    int32_t v[2];
    for (int i = 0; i < 2; i++) {
        cell* c = integer::make_at(stack::push_cell(), i ? y_of(value) : x_of(value));
        cell* s = series::ABSENT;
        if (has_scale) {
            s = scale->type() == TYPE_PAIR
                    ? integer::make_at(stack::push_cell(), i ? y_of(scale) : x_of(scale))
                    : stack::push(scale);
        }
        cell* r = integer::round(c, s, even, down, half_down, floor, ceiling, half_ceiling);
        if (r->type() == TYPE_INTEGER) v[i] = integer::get(r);
        else if (!truncated(float_::get(r), &v[i])) error::raise_math(error::Math::overflow);
    }
    stack::arguments.top = saved_top;
    return make_at(value, v[0], v[1]);
}

// --- make / to ------------------------------------------------------------------------

// An integer! or float! (truncated) component.
static bool number(const cell* c, int32_t* out) {
    if (c->type() == TYPE_INTEGER) return *out = integer::get(c), true;
    if (c->type() == TYPE_FLOAT) return truncated(float_::get(c), out);
    return false;
}

cell* make(cell* target, cell* spec, int32_t type) {
    int32_t x, y;
    switch (spec->type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        if (block::length_of(spec) < 2) scalar::malconstruct(spec);
        const cell* c = block::head_cell(spec);
        if (!number(c, &x) || !number(c + 1, &y)) scalar::malconstruct(spec);
        break;
    }
    case TYPE_INTEGER: x = y = integer::get(spec); break;
    case TYPE_FLOAT:
        if (!truncated(float_::get(spec), &x)) error::raise_script(error::Script::invalid_arg, spec);
        y = x;
        break;
    case TYPE_POINT2D:
        if (!truncated(point2D::component(spec, 0), &x) || !truncated(point2D::component(spec, 1), &y))
            error::raise_script(error::Script::invalid_arg, spec);
        break;
    case TYPE_PAIR: return cell::copy(spec, target);
    default:
        if (spec->type() == TYPE_STRING) return scalar::from_text(target, spec, TYPE_PAIR);
        scalar::raise_type_value(error::Script::bad_to_arg, TYPE_PAIR, spec);
    }
    return make_at(target, x, y);
}

// --- Text, compare ------------------------------------------------------------------------

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    limit = scalar::append(out, integer::to_cstr(x_of(value)), limit);
    limit = scalar::append(out, "x", limit);
    return scalar::append(out, integer::to_cstr(y_of(value)), limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() == TYPE_POINT2D) {
        if (op == OP_STRICT_EQUAL || op == OP_SAME || op == OP_FIND) return 1;
        cell p;
        point2D::make_in(&p, (float)x_of(a), (float)y_of(a));
        return point2D::compare(&p, b, op);
    }
    if (b->type() != TYPE_PAIR) return NOT_COMPARABLE;
    int32_t d = (x_of(a) > x_of(b)) - (x_of(a) < x_of(b));
    if (d) return d;
    return (y_of(a) > y_of(b)) - (y_of(a) < y_of(b));
}

// --- Paths, pick, reverse, random --------------------------------------------------------

static int32_t field_of_symbol(int32_t s) {
    if (s == words::sym_x) return 1;
    if (s == words::sym_y) return 2;
    return -1;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    int32_t f = scalar::field_index(element, field_of_symbol);
    if (f < 1 || f > 2) scalar::invalid_path(path, element);
    if (!value) return integer::push(f == 1 ? x_of(parent) : y_of(parent));
    if (value->type() != TYPE_INTEGER) scalar::invalid_type(value);
    cell old = *parent;
    (f == 1 ? parent->data2 : parent->data3) = (uint32_t)integer::get(value);
    scalar::after_write(parent, &old, path, holder, element_cell, owner);
    return stack::push(value);
}

cell* pick(cell* value, int32_t index, cell* index_cell) {
    if (index < 1 || index > 2) error::raise_out_of_range(index);
    return integer::make_at(value, index == 1 ? x_of(value) : y_of(value));
}

cell* reverse(cell* value, cell* part, cell* skip) { return make_at(value, y_of(value), x_of(value)); }

cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        rnd::seed(x_of(value) ^ y_of(value));
        return unset::make_at(value);
    }
    return make_at(value, rnd::integer(secure, x_of(value)), rnd::integer(secure, y_of(value)));
}

// --- registration --------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(make), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        on<A_ABSOLUTE>(absolute), on<A_ADD>(add), on<A_DIVIDE>(divide),
        on<A_MULTIPLY>(multiply), on<A_NEGATE>(negate), NO,
        on<A_REMAINDER>(remainder), on<A_ROUND>(round), on<A_SUBTRACT>(subtract),
        NO, NO, on<A_AND>(and_), NO, on<A_OR>(or_), on<A_XOR>(xor_),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_PICK>(pick), NO, NO, NO,  // series
        on<A_REVERSE>(reverse), NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_PAIR, 0, "pair!", list);
}

}  // namespace pair
