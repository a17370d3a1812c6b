#include "datatypes/float.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/money.h"
#include "datatypes/vector.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "datatypes/integer.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/dtoa.h"
#include "runtime/sys.h"

namespace float_ {

using namespace datatype;

bool pretty = false;
bool full = false;

// The smallest difference that counts for equality and for pretty printing.
constexpr double EPSILON = 2.220446049250313e-16;

static uint64_t bits_of(double x) {
    uint64_t b;
    memcpy(&b, &x, sizeof b);
    return b;
}

static double from_bits(uint64_t b) {
    double x;
    memcpy(&x, &b, sizeof x);
    return x;
}

// --- Cells ---------------------------------------------------------------------

double from_words(uint32_t low, uint32_t high) {
    return from_bits(((uint64_t)(high & 0x7FFFFFFFu) << 32) | low);
}

cell* make_in(cell* c, double x) {
    c->header = TYPE_FLOAT;
    c->data1 = 0;
    cell::set_float(c, x);
    return c;
}

cell* push_result(double x) { return make_in(stack::args(), x); }
cell* push(double x) { return make_in(stack::push_cell(), x); }
cell* box(uint32_t low, uint32_t high) {
    return push(from_bits(((uint64_t)high << 32) | low));
}

double round_half_away(double x) {
    double t = std::trunc(x);
    // x - t is exact: the fraction of a double is itself a double.
    return std::fabs(x - t) >= 0.5 ? t + std::copysign(1.0, x) : t;
}

int32_t to_integer(double x) {
    if (x != x) return 0;
    double r = round_half_away(x);  // for both signs
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return (int32_t)r;
}

bool is_nan(double x) {
    uint64_t b = bits_of(x);
    return (b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (b & 0x000FFFFFFFFFFFFFull);
}

bool is_nan32(float f) {
    uint32_t b;
    memcpy(&b, &f, sizeof b);
    return (b & 0x7F800000u) == 0x7F800000u && (b & 0x007FFFFFu);
}

bool is_special(double x) {
    return (bits_of(x) & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
}

// The bit pattern mapped onto an unsigned order: negative values below the
// zeros, positive ones above, neighbouring doubles one apart.
static uint64_t ordered(double x) {
    uint64_t b = bits_of(x);
    return (b >> 63) ? 0 - b : b | 0x8000000000000000ull;
}

static uint32_t ordered32(float x) {
    uint32_t b;
    memcpy(&b, &x, sizeof b);
    return (b >> 31) ? 0 - b : b | 0x80000000u;
}

template <typename U>
static U distance(U a, U b) { return a > b ? a - b : b - a; }

bool is_almost_equal(double a, double b) {
    if (is_nan(a) || is_nan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    return distance(ordered(a), ordered(b)) <= 10;
}

bool is_almost_equal32(float a, float b) {
    if (is_nan32(a) || is_nan32(b)) return false;
    if (a == b) return true;
    constexpr float MAX32 = 3.40282347e+38f;
    if (std::fabs(a) > MAX32 && std::fabs(b) > MAX32) {
        uint32_t x, y;
        memcpy(&x, &a, 4);
        memcpy(&y, &b, 4);
        return (x >> 31) == (y >> 31) && distance(x & 0x7FFFFFFFu, y & 0x7FFFFFFFu) < 0x100000u;
    }
    return distance(ordered32(a), ordered32(b)) <= 10;
}

// --- Arithmetic ----------------------------------------------------------------

[[noreturn]] static void raise_with_type(error::Script id, uint8_t type) {
    cell t;
    datatype::make_at(&t, type);
    // Errors that also name an action or call word get it when words exist.
    if (id == error::Script::invalid_type || id == error::Script::type_limit)
        error::raise_script(id, &t);
    error::raise_script(id, nullptr, &t);
}

double do_math_op(double x, double y, int32_t op) {
    switch (op) {
    case integer::MATH_ADD: return x + y;
    case integer::MATH_SUBTRACT: return x - y;
    case integer::MATH_MULTIPLY: return x * y;
    case integer::MATH_DIVIDE: return x / y;
    case integer::MATH_REMAINDER:
        if (std::isfinite(y)) return std::fmod(x, y);
        if (is_nan(y)) return y;
        return std::isfinite(x) ? x : from_bits(0x7FF8000000000000ull);
    default: raise_with_type(error::Script::cannot_use, TYPE_FLOAT);
    }
}

static bool is_point(uint8_t t) { return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D; }

// A number operand read as a double.
static double number_of(const cell* c) {
    uint8_t t = c->type();
    return t == TYPE_INTEGER || t == TYPE_CHAR ? (double)integer::get(c) : get(c);
}

cell* do_math(int32_t op) {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    uint8_t tl = l->type(), tr = r->type();
    switch (tr) {
    case TYPE_TUPLE: return tuple::do_math(op);
    case TYPE_MONEY: return money::do_math(op);
    case TYPE_VECTOR: return vector::do_math_op(op, r, l);
    default: break;
    }
    if (is_point(tr) && tl != TYPE_TIME) {
        if (op == integer::MATH_SUBTRACT || op == integer::MATH_DIVIDE)
            scalar::not_related(integer::math_word(op), tr);
        double x = number_of(l);
        *l = *r;
        make_in(r, x);
        return tr == TYPE_PAIR      ? pair::do_math(op)
               : tr == TYPE_POINT2D ? point2D::do_math(op)
                                    : point3D::do_math(op);
    }
    bool number = tr == TYPE_INTEGER || tr == TYPE_FLOAT || tr == TYPE_PERCENT ||
                  tr == TYPE_TIME || (tr == TYPE_CHAR && tl != TYPE_TIME && tl != TYPE_PERCENT);
    if (!number) raise_with_type(error::Script::invalid_type, tr);
    double result = do_math_op(number_of(l), number_of(r), op);

    uint8_t type = tl == TYPE_INTEGER ? (uint8_t)TYPE_FLOAT : tl;
    if ((tl == TYPE_TIME) != (tr == TYPE_TIME)) type = TYPE_TIME;
    else if (tl == TYPE_PERCENT && tr != TYPE_PERCENT && tr != TYPE_TIME) type = TYPE_PERCENT;
    if (tl == TYPE_INTEGER) make_in(l, result);
    else cell::set_float(l, result);
    cell::set_type(l, type);
    return l;
}

cell* add() { return do_math(integer::MATH_ADD); }
cell* subtract() { return do_math(integer::MATH_SUBTRACT); }
cell* multiply() { return do_math(integer::MATH_MULTIPLY); }
cell* divide() { return do_math(integer::MATH_DIVIDE); }
cell* remainder() { return do_math(integer::MATH_REMAINDER); }

cell* absolute() {
    cell* v = stack::arg(0);
    v->data3 &= 0x7FFFFFFFu;  // the sign bit of the high half
    return v;
}

cell* negate(cell* value) {
    cell::set_float(value, 0.0 - get(value));
    return value;
}

// The low bit of the value truncated toward zero; past 2^53 every double is
// even, and infinities and NaN count as even.
static bool low_bit(const cell* value) {
    double t = std::trunc(get(value));
    return std::isfinite(t) && std::fmod(t, 2.0) != 0.0;
}
bool is_even(cell* value) { return !low_bit(value); }
bool is_odd(cell* value) { return low_bit(value); }

cell* power() {
    cell* base = stack::arg(0);
    cell* exponent = stack::arg(1);
    uint8_t te = exponent->type();
    if (te != TYPE_INTEGER && te != TYPE_FLOAT) {
        cell t;
        datatype::make_at(&t, te);
        error::raise_script(error::Script::expect_arg, nullptr, &t, nullptr);
    }
    cell::set_float(base, std::pow(get(base), number_of(exponent)));
    return base;
}

// --- round ------------------------------------------------------------------------

struct RoundMode {
    bool even, down, half_down, floor, ceiling, half_ceiling;
};

// v rounded to an integral value by the first mode flag set.
static double round_integral(double v, const RoundMode& m) {
    double a = std::fabs(v), f = std::floor(a);
    if (m.down) return std::copysign(f, v);
    if (m.floor) return std::floor(v);
    if (m.ceiling) return std::ceil(v);
    if (a < f + 0.5) return std::copysign(f, v);
    if (a > f + 0.5) return std::copysign(std::ceil(a), v);
    if (m.even) return std::copysign(std::fmod(f, 2.0) >= 1.0 ? std::ceil(a) : f, v);
    if (m.half_down) return std::copysign(f, v);
    if (m.half_ceiling) return std::ceil(v);
    return std::copysign(std::ceil(a), v);
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    bool has_scale = stack::is_given(scale);
    uint8_t tv = value->type();
    uint8_t ts = has_scale ? scale->type() : (uint8_t)TYPE_FLOAT;
    if (ts == TYPE_MONEY) scalar::not_related(scalar::action_word("round"), TYPE_MONEY);
    double s = tv == TYPE_PERCENT ? 0.01 : 1.0;
    if (has_scale) {
        if (ts != TYPE_INTEGER && ts != TYPE_FLOAT && ts != TYPE_PERCENT && ts != TYPE_TIME)
            error::raise_script(error::Script::invalid_arg, scale);
        s = std::fabs(number_of(scale));
        if (tv == TYPE_PERCENT) s /= 100.0;
    }
    double x = get(value);
    // A scale of 0, or one below the value's precision, leaves the value as it is.
    if (s == 0.0 || std::fabs(x) * 0x1p-53 > s) return value;

    RoundMode mode{even, down, half_down, floor, ceiling, half_ceiling};
    double result;
    if (s >= 1.0) {
        result = round_integral(x / s, mode) * s;
        // An infinite product of a finite value is an overflow as well.
        if (std::isfinite(x) && (std::isinf(result) || std::fabs(result) == DBL_MAX))
            error::raise_math(error::Math::overflow);
    } else {
        // For scales whose reciprocal would overflow, both sides are scaled
        // by a power of two first and the result scaled back.
        int e = 0;
        double m = std::frexp(s, &e);
        int lift = 0;
        if (e < -1021) {
            lift = -e;
            s = m;
            x = std::ldexp(x, lift);
        }
        double inverse = 1.0 / s;
        result = round_integral(x * inverse, mode) / inverse;
        if (lift) result = std::ldexp(result, -lift);
    }

    if (has_scale && ts == TYPE_INTEGER) {
        if (!(result > -2147483649.0 && result < 2147483648.0))
            error::raise_math(error::Math::overflow);
        return integer::make_in(value, (int32_t)result);
    }
    cell::set_float(value, result);
    if (has_scale) cell::set_type(value, ts);
    return value;
}

// --- make / to ----------------------------------------------------------------------

[[noreturn]] static void bad_to_arg(int32_t type, cell* spec) {
    cell t;
    datatype::make_at(&t, (uint8_t)type);
    error::raise_script(error::Script::bad_to_arg, &t, spec);
}

// Longest text a float literal may have.
constexpr int32_t MAX_FLOAT_TEXT = 312;

// The whole text from the string's head as a float literal ("," read as ".").
static bool scan_float(cell* text, double* out) {
    int32_t n = string::length_of(text);
    if (n == 0 || n > MAX_FLOAT_TEXT) return false;
    char buffer[MAX_FLOAT_TEXT];
    const uint8_t* p = string::head_pointer(text);
    uint32_t width = string::width_of(text);
    for (int32_t i = 0; i < n; i++) {
        int32_t c = string::get_char(p + (size_t)i * width, width);
        if (c <= 0 || c > 0x7E) return false;
        buffer[i] = c == ',' ? '.' : (char)c;
    }
    const char* stop = nullptr;
    *out = dtoa::to_float(buffer, buffer + n, 0, &stop);
    return stop == buffer + n;
}

// A number element of a two-element block.
static bool block_number(const cell* c, double* out) {
    if (c->type() != TYPE_INTEGER && c->type() != TYPE_FLOAT) return false;
    *out = number_of(c);
    return true;
}

// 10^trunc(e), correctly rounded (the C libraries' pow are not all exact, and
// both targets must agree). Past +-400 it is infinity or 0 anyway.
static double power_of_ten(double e) {
    if (e != e) return e;
    double t = std::trunc(e);
    int32_t n = t > 400.0 ? 400 : t < -400.0 ? -400 : (int32_t)t;
    char text[8] = "1e";
    memcpy(text + 2, integer::to_cstr(n), strlen(integer::to_cstr(n)) + 1);
    return dtoa::to_float(text, text + strlen(text), 0, nullptr);
}

// [mantissa exponent]: mantissa x 10^exponent, the exponent truncated.
static double from_block(int32_t type, cell* spec) {
    const memory::Buffer* b = series::buffer_of(spec);
    int32_t head = (int32_t)spec->data1;
    uint32_t h = head < 0 ? 0 : (uint32_t)head;
    uint32_t cells = b->used_bytes() / sizeof(cell);
    if (h > cells || cells - h != 2) bad_to_arg(type, spec);
    cell pair[2];
    memcpy(pair, b->head + (size_t)h * sizeof(cell), sizeof pair);
    double mantissa, exponent;
    if (!block_number(&pair[0], &mantissa) || !block_number(&pair[1], &exponent))
        bad_to_arg(type, spec);
    return mantissa * power_of_ten(exponent);
}

// The first min(8, length) bytes, big-endian and right-aligned, as the bits
// of a double.
static double from_binary(const cell* spec) {
    const memory::Buffer* b = series::buffer_of(spec);
    int32_t head = (int32_t)spec->data1;
    uint32_t h = head < 0 ? 0 : (uint32_t)head;
    uint32_t used = b->used_bytes();
    uint32_t n = h < used ? used - h : 0;
    if (n > 8) n = 8;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < n; i++) bits = bits << 8 | b->head[h + i];
    return from_bits(bits);
}

cell* make(cell* target, cell* spec, int32_t type) {
    double x = 0.0;
    switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR: x = (double)integer::get(spec); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: x = get(spec); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: x = from_block(type, spec); break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
        // percent! reads its text as one loaded value.
        if (type == TYPE_PERCENT) return scalar::from_text(target, spec, TYPE_PERCENT);
        if (!scan_float(spec, &x)) bad_to_arg(type, spec);
        break;
    case TYPE_BINARY: x = from_binary(spec); break;
    case TYPE_MONEY: x = money::to_double(spec); break;
    default: bad_to_arg(type, spec);
    }
    make_in(target, x);
    target->header = (uint8_t)type;
    return target;
}

// --- random -------------------------------------------------------------------------

cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        rnd::seed((int32_t)(value->data2 ^ value->data3));
        return unset::make_at(value);
    }
    double x = get(value);
    if (secure) {
        double s1 = rnd::secure_int(), s2 = rnd::secure_int();
        x = (s1 / 2147483647.0 + s2) * x / 2147483648.0;
    } else {
        x = x * ((double)rnd::next() / 2147483647.0);
    }
    cell::set_float(value, x);
    return value;
}

// --- compare ------------------------------------------------------------------------

int32_t compare(cell* a, cell* b, int32_t op) {
    uint8_t tb = b->type();
    if ((op == OP_STRICT_EQUAL || op == OP_SAME || op == OP_FIND) && tb != a->type()) return 1;
    double x = get(a), y;
    switch (tb) {
    case TYPE_INTEGER: y = (double)integer::get(b); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: y = get(b); break;
    case TYPE_MONEY: return money::compare_float(x, b, op);
    default: return NOT_COMPARABLE;
    }
    switch (op) {
    case OP_EQUAL:
    case OP_NOT_EQUAL: return is_almost_equal(x, y) ? 0 : 1;
    case OP_STRICT_EQUAL: return x == y ? 0 : 1;
    case OP_SAME: return bits_of(x) == bits_of(y) ? 0 : 1;
    default: break;
    }
    if (is_nan(x) || is_nan(y)) {
        // Every ordering test with a NaN is false; sorting sees it as equal.
        switch (op) {
        case OP_LESSER:
        case OP_LESSER_OR_EQUAL: return 1;
        case OP_GREATER:
        case OP_GREATER_OR_EQUAL: return -1;
        default: return 0;
        }
    }
    return (x > y) - (x < y);
}

// --- text -----------------------------------------------------------------------------

// Significant digits of each layout (kind 4 takes its 6 digits from dtoa).
static const int PRECISION[] = {7, 16, 7, 13, 6, 7};
static const int PRETTY_PRECISION[] = {5, 14, 14, 14, 5, 5};

static const char* produce(double x, int32_t kind, int precision) {
    if (kind == FORM_SECONDS && precision == PRECISION[FORM_SECONDS])
        return dtoa::form_float(x, 6, false);
    return dtoa::format_g(x, precision);
}

// Whether pretty printing asks for fewer digits: a long text whose mantissa
// ends in "01" or "99" (the trace of a binary fraction).
static bool looks_noisy(const char* t) {
    size_t length = strlen(t);
    const char* e = strchr(t, 'e');
    size_t mantissa = e ? (size_t)(e - t) : length;
    const char* first = t + (t[0] == '-');
    bool is_long = length > (first[0] == '0' ? 17u : 16u) || (e && mantissa > 16);
    if (!is_long || mantissa < 2) return false;
    char a = t[mantissa - 2], b = t[mantissa - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

const char* form_float(double x, int32_t kind) {
    if (kind < FORM_SINGLE || kind > FORM_POINT) sys::no_case();
    if (is_special(x)) return dtoa::format_g(x, 1);  // "1.#INF", "-1.#INF", "1.#NaN"
    if (pretty && std::fabs(x) < EPSILON)
        return kind == FORM_SINGLE_PERCENT || kind == FORM_PERCENT ? "0%"
               : kind == FORM_POINT                                ? "0"
                                                                   : "0.0";
    static char text[48];
    const char* t = produce(x, kind, PRECISION[kind]);
    if (pretty && looks_noisy(t)) t = produce(x, kind, PRETTY_PRECISION[kind]);

    // Copied out, with the exponent as "e", an optional "-" and bare digits.
    size_t n = 0;
    const char* e = strchr(t, 'e');
    size_t mantissa = e ? (size_t)(e - t) : strlen(t);
    memcpy(text, t, mantissa);
    n = mantissa;
    bool has_point = memchr(text, '.', mantissa) != nullptr;
    bool dot_zero = (kind == FORM_SINGLE || kind == FORM_DOUBLE) && !has_point;
    if (dot_zero) memcpy(text + n, ".0", 2), n += 2;
    if (e) {
        const char* p = e + 1;
        bool negative = *p == '-';
        if (*p == '-' || *p == '+') p++;
        while (*p == '0' && p[1]) p++;
        text[n++] = 'e';
        if (negative) text[n++] = '-';
        while (*p) text[n++] = *p++;
    }
    if (kind == FORM_SINGLE_PERCENT || kind == FORM_PERCENT) text[n++] = '%';
    text[n] = 0;
    return text;
}

static int32_t append(cell* out, const char* text, int32_t limit) {
    uint32_t n = (uint32_t)strlen(text);
    string::concatenate_bytes(out, text, n);
    return limit - (int32_t)n;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return append(out, form_float(get(value), FORM_DOUBLE), limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return append(out, dtoa::form_float(get(value), 0, true), limit);
}

// --- registration -------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(make), on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, on<A_COMPARE>(compare),
        on<A_ABSOLUTE>(absolute), on<A_ADD>(add), on<A_DIVIDE>(divide),
        on<A_MULTIPLY>(multiply), on<A_NEGATE>(negate), on<A_POWER>(power),
        on<A_REMAINDER>(remainder), on<A_ROUND>(round), on<A_SUBTRACT>(subtract),
        on<A_IS_EVEN>(is_even), on<A_IS_ODD>(is_odd), NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_FLOAT, 0, "float!", list);
}

}  // namespace float_
