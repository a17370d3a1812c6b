#include "datatypes/point.h"

#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/words.h"

namespace points {

using namespace datatype;
using point2D::component;
using point2D::set_component;

// Everything below is written once for N = 2 and N = 3 components.
template <int N>
constexpr uint8_t TYPE = N == 2 ? TYPE_POINT2D : TYPE_POINT3D;

template <int N>
cell* make_point(cell* c, const float* v) {
    c->header = TYPE<N>;
    c->data1 = c->data2 = c->data3 = 0;
    for (int i = 0; i < N; i++) set_component(c, i, v[i]);
    return c;
}

// The operand's components as doubles: a number for every component, a
// pair's (point2D! only) or a point's of the same kind.
template <int N>
void operand(const cell* r, double* out) {
    switch (r->type()) {
    case TYPE_INTEGER:
        for (int i = 0; i < N; i++) out[i] = integer::get(r);
        return;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        for (int i = 0; i < N; i++) out[i] = float_::get(r);
        return;
    case TYPE_PAIR:
        if (N != 2) break;
        out[0] = pair::x_of(r);
        out[1] = pair::y_of(r);
        return;
    default:
        if (r->type() != TYPE<N>) break;
        for (int i = 0; i < N; i++) out[i] = component(r, i);
        return;
    }
    scalar::invalid_type(r);
}

template <int N>
cell* do_math(int32_t op) {
    cell* l = stack::arg(0);
    double r[3];
    operand<N>(stack::arg(1), r);
    float v[3];
    for (int i = 0; i < N; i++) v[i] = (float)float_::do_math_op(component(l, i), r[i], op);
    return make_point<N>(l, v);
}

template <int N>
cell* make(cell* target, cell* spec, int32_t type) {
    float v[3] = {0, 0, 0};
    switch (spec->type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        int32_t n = block::length_of(spec);
        if (n < 2) scalar::malconstruct(spec);
        for (int32_t i = 0; i < N && i < n; i++) {
            const cell* c = block::head_cell(spec) + i;
            if (c->type() == TYPE_INTEGER) v[i] = (float)integer::get(c);
            else if (c->type() == TYPE_FLOAT) v[i] = (float)float_::get(c);
            else scalar::malconstruct(spec);
        }
        break;
    }
    case TYPE_INTEGER:
        for (int i = 0; i < N; i++) v[i] = (float)integer::get(spec);
        break;
    case TYPE_FLOAT:
        for (int i = 0; i < N; i++) v[i] = (float)float_::get(spec);
        break;
    case TYPE_PAIR:
        v[0] = (float)pair::x_of(spec);
        v[1] = (float)pair::y_of(spec);
        break;
    case TYPE_POINT2D:
        v[0] = component(spec, 0);
        v[1] = component(spec, 1);
        break;
    case TYPE_POINT3D:
        if (N != 3) scalar::raise_type_value(error::Script::bad_to_arg, TYPE<N>, spec);
        return cell::copy(spec, target);
    default:
        if (scalar::is_text(spec->type())) return scalar::from_text(target, spec, TYPE<N>);
        scalar::raise_type_value(error::Script::bad_to_arg, TYPE<N>, spec);
    }
    return make_point<N>(target, v);
}

template <int N>
int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    limit = scalar::append(out, "(", limit);
    for (int i = 0; i < N; i++) {
        if (i) limit = scalar::append(out, ", ", limit);
        limit = scalar::append(out, float_::form_float(component(value, i), float_::FORM_POINT), limit);
    }
    return scalar::append(out, ")", limit);
}

template <int N>
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form<N>(value, out, part, limit);
}

template <int N>
int32_t compare(cell* a, cell* b, int32_t op) {
    cell converted;
    if (N == 2 && b->type() == TYPE_PAIR) {
        if (op == OP_STRICT_EQUAL || op == OP_SAME || op == OP_FIND) return 1;
        float v[3] = {(float)pair::x_of(b), (float)pair::y_of(b), 0};
        b = make_point<N>(&converted, v);
    }
    if (b->type() != TYPE<N>) return NOT_COMPARABLE;
    switch (op) {
    case OP_EQUAL:
    case OP_NOT_EQUAL:
        for (int i = 0; i < N; i++)
            if (!float_::is_almost_equal32(component(a, i), component(b, i))) return 1;
        return 0;
    case OP_STRICT_EQUAL:
    case OP_FIND:
        for (int i = 0; i < N; i++)
            if (!(component(a, i) == component(b, i))) return 1;
        return 0;
    case OP_SAME: return memcmp(&a->data1, &b->data1, (size_t)N * 4) == 0 ? 0 : 1;
    default: break;
    }
    for (int i = 0; i < N; i++) {
        float x = component(a, i), y = component(b, i);
        if (float_::is_almost_equal32(x, y)) continue;
        double d = (double)x - (double)y;
        return (d > 0) - (d < 0);
    }
    return 0;
}

template <int N>
cell* absolute() {
    cell* v = stack::arg(0);
    for (int i = 0; i < N; i++) set_component(v, i, std::fabs(component(v, i)));
    return v;
}

template <int N>
cell* negate(cell* v) {
    for (int i = 0; i < N; i++) set_component(v, i, -component(v, i));
    return v;
}

template <int N>
cell* add() { return do_math<N>(integer::MATH_ADD); }
template <int N>
cell* subtract() { return do_math<N>(integer::MATH_SUBTRACT); }
template <int N>
cell* multiply() { return do_math<N>(integer::MATH_MULTIPLY); }
template <int N>
cell* divide() { return do_math<N>(integer::MATH_DIVIDE); }
template <int N>
cell* remainder() { return do_math<N>(integer::MATH_REMAINDER); }

template <int N>
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    bool has_scale = stack::is_given(scale);
    double scales[3] = {1, 1, 1};
    bool per_component = false;
    if (has_scale) {
        switch (scale->type()) {
        case TYPE_MONEY: scalar::not_related(scalar::action_word("round"), TYPE_MONEY);
        case TYPE_PAIR:
            scales[0] = pair::x_of(scale);
            scales[1] = pair::y_of(scale);
            per_component = true;
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            for (int i = 0; i < N; i++)
                scales[i] = i < (scale->type() == TYPE_POINT2D ? 2 : 3) ? component(scale, i) : 1.0;
            per_component = true;
            break;
        case TYPE_PERCENT: scales[0] = scales[1] = scales[2] = float_::get(scale); per_component = true; break;
        default: break;
        }
    }
    cell* saved_top = stack::arguments.top;
    float v[3];
    for (int i = 0; i < N; i++) {
        cell* x = float_::make_in(stack::push_cell(), component(value, i));
        cell* s = has_scale ? (per_component ? float_::make_in(stack::push_cell(), scales[i])
                                             : stack::push(scale))
                            : series::ABSENT;
        cell* r = float_::round(x, s, even, down, half_down, floor, ceiling, half_ceiling);
        v[i] = r->type() == TYPE_INTEGER ? (float)integer::get(r) : (float)float_::get(r);
    }
    stack::arguments.top = saved_top;
    return make_point<N>(value, v);
}

template <int N>
int32_t field_of_symbol(int32_t s) {
    if (s == words::sym_x) return 1;
    if (s == words::sym_y) return 2;
    if (N == 3 && s == words::sym_z) return 3;
    return -1;
}

template <int N>
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    int32_t f = scalar::field_index(element, field_of_symbol<N>);
    if (f < 1 || f > N) scalar::invalid_path(path, element);
    if (!value) return float_::push(component(parent, f - 1));
    float x;
    if (value->type() == TYPE_INTEGER) x = (float)integer::get(value);
    else if (value->type() == TYPE_FLOAT) x = (float)float_::get(value);
    else scalar::invalid_type(value);
    cell old = *parent;
    set_component(parent, f - 1, x);
    scalar::after_write(parent, &old, path, holder, element_cell, owner);
    return stack::push(value);
}

template <int N>
cell* pick(cell* value, int32_t index, cell* index_cell) {
    if (index < 1 || index > N) error::raise_out_of_range(index);
    return float_::make_in(value, component(value, index - 1));
}

template <int N>
cell* reverse(cell* value, cell* part, cell* skip) {
    float a = component(value, 0), b = component(value, N - 1);
    set_component(value, 0, b);
    set_component(value, N - 1, a);
    return value;
}

template <int N>
cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        uint32_t h = value->data1 ^ (value->data2 * 0x9E3779B1u) ^ (value->data3 * 0x85EBCA77u);
        rnd::seed((int32_t)h);
        return unset::make_at(value);
    }
    for (int i = 0; i < N; i++) {
        float x = component(value, i);
        if (x == 0.0f) continue;
        cell c;
        float_::make_in(&c, x);
        float_::random(&c, false, secure, false);
        set_component(value, i, (float)float_::get(&c));
    }
    return value;
}

template <int N>
void register_point(const char* name) {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make<N>), on<A_RANDOM>(random<N>), NO, on<A_TO>(make<N>), on<A_FORM>(form<N>),
        on<A_MOLD>(mold<N>), on<A_EVAL_PATH>(eval_path<N>), NO, on<A_COMPARE>(compare<N>),
        on<A_ABSOLUTE>(absolute<N>), on<A_ADD>(add<N>), on<A_DIVIDE>(divide<N>),
        on<A_MULTIPLY>(multiply<N>), on<A_NEGATE>(negate<N>), NO,
        on<A_REMAINDER>(remainder<N>), on<A_ROUND>(round<N>), on<A_SUBTRACT>(subtract<N>),
        NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_PICK>(pick<N>), NO, NO, NO,  // series
        on<A_REVERSE>(reverse<N>), NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE<N>, 0, name, list);
}

}  // namespace points

namespace point2D {
cell* make_in(cell* c, float x, float y) {
    float v[3] = {x, y, 0};
    return points::make_point<2>(c, v);
}
cell* push(float x, float y) { return make_in(stack::push_cell(), x, y); }
cell* do_math(int32_t op) { return points::do_math<2>(op); }
cell* make(cell* target, cell* spec, int32_t type) { return points::make<2>(target, spec, type); }
cell* random(cell* value, bool seed, bool secure, bool only) { return points::random<2>(value, seed, secure, only); }
int32_t form(cell* value, cell* out, cell* part, int32_t limit) { return points::form<2>(value, out, part, limit); }
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return points::form<2>(value, out, part, limit);
}
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    return points::eval_path<2>(parent, element, value, path, holder, element_cell, index, case_, get,
                          last, owner);
}
int32_t compare(cell* a, cell* b, int32_t op) { return points::compare<2>(a, b, op); }
cell* negate(cell* value) { return points::negate<2>(value); }
cell* pick(cell* value, int32_t index, cell* index_cell) { return points::pick<2>(value, index, index_cell); }
void register_type() { points::register_point<2>("point2D!"); }
}  // namespace point2D

namespace point3D {
cell* make_in(cell* c, float x, float y, float z) {
    float v[3] = {x, y, z};
    return points::make_point<3>(c, v);
}
cell* push(float x, float y, float z) { return make_in(stack::push_cell(), x, y, z); }
cell* do_math(int32_t op) { return points::do_math<3>(op); }
cell* make(cell* target, cell* spec, int32_t type) { return points::make<3>(target, spec, type); }
int32_t compare(cell* a, cell* b, int32_t op) { return points::compare<3>(a, b, op); }
cell* negate(cell* value) { return points::negate<3>(value); }
void register_type() { points::register_point<3>("point3D!"); }
}  // namespace point3D
