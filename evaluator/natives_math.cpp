// Comparison and math natives: the comparisons, same?, not, the sign and
// zero tests, max/min, shift, to-hex, trigonometry in degrees or radians,
// logarithms, exp and square-root.
//
// Results replace the window's first cell. Numbers of the datatypes that do
// not exist yet in this tree (pair!, point!, tuple!, time!) fall to
// the generic paths; the interpreter has already checked every argument
// against its spec.
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/print.h"

namespace natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double EPSILON = 2.220446049250313e-16;

void result_logic(bool b) { logic::make_at(stack::arg(0), b); }
void result_integer(int32_t n) { integer::make_at(stack::arg(0), n); }
void result_float(double d) { float_::make_in(stack::arg(0), d); }

bool is_float_like(uint8_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }
bool is_number(uint8_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

// natives/float-arg: integer! converted, percent! taken as its double.
double float_arg(const cell* c) {
    if (c->type() == TYPE_INTEGER) return (double)(int32_t)c->data2;
    return cell::get_float(c);
}

void compare_native(int32_t op) { result_logic(actions::compare(stack::arg(0), stack::arg(1), op)); }

bool is_series_type(uint8_t t) {
    return (t >= TYPE_BLOCK && t <= TYPE_URL) || (t >= TYPE_PATH && t <= TYPE_GET_PATH) || t == TYPE_HASH ||
           t == TYPE_VECTOR || t == TYPE_BINARY || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF ||
           t == TYPE_IMAGE;
}

// natives/same-value?
bool same_value(const cell* a, const cell* b) {
    uint8_t t = a->type();
    if (t != b->type()) return false;
    switch (t) {
    case TYPE_NONE:
    case TYPE_UNSET: return true;
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT: return a->data1 == b->data1;
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_BITSET: return a->data2 == b->data2;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_PAIR:
    case TYPE_TIME: return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_ACTION:
    case TYPE_NATIVE:
    case TYPE_POINT2D: return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_MONEY: return money::compare(const_cast<cell*>(a), const_cast<cell*>(b), datatype::OP_SAME) == 0;
    case TYPE_OP: return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_TUPLE:
        return tuple::count_of(a) == tuple::count_of(b) &&
               memcmp(tuple::bytes_of(a), tuple::bytes_of(b), (size_t)tuple::count_of(a)) == 0;
    default:
        if (is_series_type(t)) return a->data1 == b->data1 && series::node_of(a) == series::node_of(b);
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

// Degrees reduced (or radians as given) through the trigonometric function.
double trig_arg(const int32_t* refs, int mode) {
    double a = float_arg(stack::arg(0));
    return refs[0] >= 0 ? a : sys::normalise_angle(a, mode);
}

void arc_trig(const int32_t* refs, double (*fn)(double)) {
    double r = fn(float_arg(stack::arg(0)));
    result_float(refs[0] >= 0 ? r : r * 180.0 / PI);
}

}  // namespace

// --- Comparisons -------------------------------------------------------------------------------

void is_equal(const int32_t*) { compare_native(0); }
void is_not_equal(const int32_t*) { compare_native(1); }
void is_strict_equal(const int32_t*) { compare_native(2); }
void is_lesser(const int32_t*) { compare_native(3); }
void is_lesser_or_equal(const int32_t*) { compare_native(4); }
void is_greater(const int32_t*) { compare_native(5); }
void is_greater_or_equal(const int32_t*) { compare_native(6); }

void is_same(const int32_t*) { result_logic(same_value(stack::arg(0), stack::arg(1))); }

void not_(const int32_t*) {
    uint8_t t = stack::arg(0)->type();
    result_logic(t == TYPE_NONE || (t == TYPE_LOGIC && stack::arg(0)->data1 == 0));
}

// --- Sign and zero tests -----------------------------------------------------------------------

namespace {
// -1, 0 or 1 for a number (NaN gives 0); other types raise expect-arg.
int32_t sign_of_number(const cell* v) {
    if (v->type() == TYPE_INTEGER) {
        int32_t n = (int32_t)v->data2;
        return n > 0 ? 1 : n < 0 ? -1 : 0;
    }
    if (is_float_like(v->type())) {
        double d = cell::get_float(v);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    if (v->type() == TYPE_MONEY) return money::sign(v);
    actions::raise_unsupported(v);
}
}  // namespace

void is_negative(const int32_t*) { result_logic(sign_of_number(stack::arg(0)) < 0); }
void is_positive(const int32_t*) { result_logic(sign_of_number(stack::arg(0)) > 0); }
void sign_of(const int32_t*) { result_integer(sign_of_number(stack::arg(0))); }

void is_zero(const int32_t*) {
    const cell* v = stack::arg(0);
    bool zero = false;
    switch (v->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER: zero = v->data2 == 0; break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: zero = cell::get_float(v) == 0.0; break;
    case TYPE_PAIR: zero = v->data2 == 0 && v->data3 == 0; break;
    case TYPE_TUPLE: zero = tuple::is_all_zero(v); break;
    case TYPE_POINT2D:
    case TYPE_POINT3D: {
        zero = true;
        for (int i = 0, n = v->type() == TYPE_POINT3D ? 3 : 2; i < n; i++)
            zero = zero && point2D::component(v, i) == 0.0f;
        break;
    }
    case TYPE_MONEY: zero = money::is_zero(v); break;
    default: zero = false;
    }
    result_logic(zero);
}

void is_NaN(const int32_t*) {
    const cell* v = stack::arg(0);
    result_logic((v->type() == TYPE_FLOAT || v->type() == TYPE_PERCENT) && std::isnan(cell::get_float(v)));
}

// --- max and min -------------------------------------------------------------------------------

namespace {
bool is_point(uint8_t t) { return t == TYPE_POINT2D || t == TYPE_POINT3D; }
bool is_compound(uint8_t t) { return t == TYPE_PAIR || t == TYPE_TUPLE || is_point(t); }

// The number a pair meets, as a 32-bit integer: type-limit when it cannot be
// one; `*fraction` when it is a float with a fractional part (the pair then
// becomes a point).
int32_t pair_number(const cell* v, bool* fraction) {
    *fraction = false;
    if (v->type() == TYPE_INTEGER) return (int32_t)v->data2;
    double d = cell::get_float(v);
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        cell t;
        datatype::make_at(&t, TYPE_INTEGER);
        error::raise_script(error::Script::type_limit, &t);
    }
    *fraction = d != std::trunc(d);
    return (int32_t)d;
}

// Coordinates of a point, or of a pair taken as one; a number gives the same
// value to every coordinate.
void coordinates_of(const cell* v, float* out) {
    if (is_point(v->type())) {
        out[0] = point2D::component(v, 0);
        out[1] = point2D::component(v, 1);
        out[2] = v->type() == TYPE_POINT3D ? point2D::component(v, 2) : 0.0f;
    } else if (v->type() == TYPE_PAIR) {
        out[0] = (float)(int32_t)v->data2;
        out[1] = (float)(int32_t)v->data3;
        out[2] = 0.0f;
    } else {
        out[0] = out[1] = out[2] = (float)float_arg(v);
    }
}

// Coordinate by coordinate in single floats into `a` (a point, or a pair that
// becomes a point2D!); a NaN on either side wins.
void max_min_point(cell* a, const cell* b, bool greater) {
    float x[3], y[3];
    coordinates_of(a, x);
    coordinates_of(b, y);
    for (int i = 0; i < 3; i++) {
        if (std::isnan(x[i])) continue;
        if (std::isnan(y[i]) || (greater ? y[i] > x[i] : y[i] < x[i])) x[i] = y[i];
    }
    if (a->type() == TYPE_POINT3D) point3D::make_in(a, x[0], x[1], x[2]);
    else point2D::make_in(a, x[0], x[1]);
}

// True when the compound value `a` took `b` itself; false to go on with the
// generic comparison.
bool max_min_compound(cell* a, cell* b, bool greater) {
    auto pick = [greater](int32_t p, int32_t q) { return greater ? (q > p ? q : p) : (q < p ? q : p); };
    uint8_t ta = a->type(), tb = b->type();
    if (ta == TYPE_PAIR && (tb == TYPE_INTEGER || tb == TYPE_FLOAT || tb == TYPE_PERCENT)) {
        bool fraction;
        int32_t n = pair_number(b, &fraction);
        if (fraction) {
            max_min_point(a, b, greater);
        } else {
            pair::make_at(a, pick((int32_t)a->data2, n), pick((int32_t)a->data3, n));
        }
        return true;
    }
    if (ta == TYPE_PAIR && tb == TYPE_PAIR) {
        pair::make_at(a, pick((int32_t)a->data2, (int32_t)b->data2), pick((int32_t)a->data3, (int32_t)b->data3));
        return true;
    }
    if ((ta == TYPE_PAIR && is_point(tb)) ||
        (is_point(ta) && (is_number(tb) || is_point(tb) || tb == TYPE_PAIR))) {
        max_min_point(a, b, greater);
        return true;
    }
    if (ta == TYPE_TUPLE && (tb == TYPE_INTEGER || tb == TYPE_FLOAT || tb == TYPE_PERCENT)) {
        double d = float_arg(b);
        int32_t n = std::isnan(d) ? 0 : d < 0.0 ? 0 : d > 255.0 ? 255 : (int32_t)d;
        uint8_t* bytes = tuple::bytes_of(a);
        for (int32_t i = 0; i < tuple::count_of(a); i++) bytes[i] = (uint8_t)pick(bytes[i], n);
        return true;
    }
    if (ta == TYPE_TUPLE && tb == TYPE_TUPLE && tuple::count_of(a) == tuple::count_of(b)) {
        uint8_t* p = tuple::bytes_of(a);
        const uint8_t* q = tuple::bytes_of(b);
        for (int32_t i = 0; i < tuple::count_of(a); i++) p[i] = (uint8_t)pick(p[i], q[i]);
        return true;
    }
    return false;
}

void max_min(bool greater) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    auto is_nan = [](const cell* c) {
        return (c->type() == TYPE_FLOAT || c->type() == TYPE_PERCENT) && std::isnan(cell::get_float(c));
    };
    // A NaN against a number wins, whichever side it is on.
    if (is_number(a->type()) && is_number(b->type())) {
        if (is_nan(a)) return;
        if (is_nan(b)) {
            cell::copy(b, a);
            return;
        }
    }
    // The compound value first: a pair, point or tuple against a number.
    if (is_number(a->type()) && is_compound(b->type())) std::swap(*a, *b);
    if (max_min_compound(a, b, greater)) return;
    bool less = actions::compare(a, b, 3);
    if (greater ? less : !less) cell::copy(b, a);
}
}  // namespace

void max(const int32_t*) { max_min(true); }
void min(const int32_t*) { max_min(false); }

// --- Bits --------------------------------------------------------------------------------------

void shift(const int32_t* refs) {
    int32_t data = (int32_t)stack::arg(0)->data2;
    int32_t bits = (int32_t)stack::arg(1)->data2;
    if (bits < 0) bits = 0;
    int32_t r;
    if (refs[0] >= 0) r = bits > 31 ? 0 : (int32_t)((uint32_t)data << bits);
    else if (refs[1] >= 0) r = bits > 31 ? 0 : (int32_t)((uint32_t)data >> bits);
    else r = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
    result_integer(r);
}

void to_hex(const int32_t* refs) {
    char text[9];
    memcpy(text, string::hex_cstr((int32_t)stack::arg(0)->data2, false), 9);
    const char* digits = text;
    if (refs[0] >= 0) {
        cell* length = stack::arg(refs[0]);
        int32_t n = (int32_t)length->data2;
        if (n <= 0) error::raise_script(error::Script::invalid_arg, length);
        if (n < 8) digits = text + 8 - n;
    }
    issue::make_at(stack::arg(0), digits);
}

// --- Trigonometry and logarithms -----------------------------------------------------------------

void sine(const int32_t* refs) {
    double r = std::sin(trig_arg(refs, sys::ANGLE_SINE));
    result_float(std::fabs(r) < EPSILON ? 0.0 : r);
}

void cosine(const int32_t* refs) {
    double r = std::cos(trig_arg(refs, sys::ANGLE_COSINE));
    result_float(std::fabs(r) < EPSILON ? 0.0 : r);
}

void tangent(const int32_t* refs) {
    double a = trig_arg(refs, sys::ANGLE_TANGENT);
    // Exactly a right angle: the infinity itself, not the tangent of a
    // rounded pi/2.
    if (a == PI / 2) result_float(1.0 / 0.0);
    else if (a == -PI / 2) result_float(-1.0 / 0.0);
    else result_float(std::tan(a));
}

void arcsine(const int32_t* refs) { arc_trig(refs, [](double x) { return std::asin(x); }); }
void arccosine(const int32_t* refs) { arc_trig(refs, [](double x) { return std::acos(x); }); }
void arctangent(const int32_t* refs) { arc_trig(refs, [](double x) { return std::atan(x); }); }

void arctangent2(const int32_t* refs) {
    double r = std::atan2(float_arg(stack::arg(0)), float_arg(stack::arg(1)));
    result_float(refs[0] >= 0 ? r : r * 180.0 / PI);
}

void log_2(const int32_t*) { result_float(std::log(float_arg(stack::arg(0))) / 0.6931471805599453); }
void log_10(const int32_t*) { result_float(std::log10(float_arg(stack::arg(0)))); }
void log_e(const int32_t*) { result_float(std::log(float_arg(stack::arg(0)))); }
// The C library's exp: a power of a rounded e drifts from it.
void exp(const int32_t*) { result_float(std::exp(float_arg(stack::arg(0)))); }
void square_root(const int32_t*) { result_float(std::sqrt(float_arg(stack::arg(0)))); }

// --- Pairs and points from numbers -------------------------------------------------------------

namespace {
// A coordinate of as-pair: integer! unchanged, float! truncated toward zero.
// NaN or an infinity is invalid-arg; a finite float outside 32 bits is
// type-limit (never a silent -2147483648).
int32_t pair_coordinate(const cell* v) {
    if (v->type() == TYPE_INTEGER) return (int32_t)v->data2;
    double d = cell::get_float(v);
    if (!std::isfinite(d)) error::raise_script(error::Script::invalid_arg, v);
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        cell t;
        datatype::make_at(&t, TYPE_INTEGER);
        error::raise_script(error::Script::type_limit, &t);
    }
    return (int32_t)d;
}

float point_coordinate(const cell* v) { return (float)float_arg(v); }
}  // namespace

void as_pair(const int32_t*) {
    int32_t x = pair_coordinate(stack::arg(0));
    int32_t y = pair_coordinate(stack::arg(1));
    pair::make_at(stack::arg(0), x, y);
}

void as_point2D(const int32_t*) {
    float x = point_coordinate(stack::arg(0)), y = point_coordinate(stack::arg(1));
    point2D::make_in(stack::arg(0), x, y);
}

void as_point3D(const int32_t*) {
    float x = point_coordinate(stack::arg(0)), y = point_coordinate(stack::arg(1)),
          z = point_coordinate(stack::arg(2));
    point3D::make_in(stack::arg(0), x, y, z);
}

// The amount converted as `to money!` does, then given the currency.
void as_money(const int32_t*) {
    cell* word = stack::arg(0);
    int32_t currency = money::find_currency(word::symbol_of(word));
    if (currency < 0) error::raise(error::SCRIPT, "bad-denom", word);
    cell* amount = stack::arg(1);
    cell m;
    if (amount->type() == TYPE_INTEGER) money::from_integer(&m, integer::get(amount));
    else money::from_float(&m, float_::get(amount), true);
    m.data1 = (m.data1 & ~0xFFu) | (uint32_t)currency;
    cell::copy(&m, stack::arg(0));
}

}  // namespace natives
