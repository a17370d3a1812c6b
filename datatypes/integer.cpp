#include "datatypes/integer.h"

#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/vector.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/sys.h"
#include "runtime/words.h"

namespace integer {

using namespace datatype;

// --- Cells -------------------------------------------------------------------

int32_t get_last_raw() { return get(stack::args()); }
int32_t get_last() { return stack::args()->type() == TYPE_INTEGER ? get(stack::args()) : 0; }

cell* make_at(cell* c, int32_t n) {
    c->header = TYPE_INTEGER;
    c->data1 = 0;
    c->data2 = (uint32_t)n;
    c->data3 = 0;
    return c;
}

cell* make_in(cell* c, int32_t n) {
    cell::set_type(c, TYPE_INTEGER);
    c->data2 = (uint32_t)n;
    return c;
}

cell* box(int32_t n) { return make_at(stack::args(), n); }
cell* push(int32_t n) { return make_at(stack::push_cell(), n); }

// --- Arithmetic ----------------------------------------------------------------

int32_t sign(int32_t n) { return (n > 0) - (n < 0); }

int32_t abs_checked(int32_t n) {
    if (n == INT32_MIN) error::raise_math(error::Math::overflow);
    return n < 0 ? -n : n;
}

[[noreturn]] static void overflow() { error::raise_math(error::Math::overflow); }

// The checks every division and remainder makes before it divides.
static void check_divisor(int32_t l, int32_t r) {
    if (r == 0) error::raise_math(error::Math::zero_divide);
    if (l == INT32_MIN && r == -1) overflow();
}

int32_t do_math(int32_t l, int32_t r, int32_t op, cell* result) {
    int32_t n = 0;
    bool wrapped = false;
    switch (op) {
    case MATH_ADD: wrapped = __builtin_add_overflow(l, r, &n); break;
    case MATH_SUBTRACT: wrapped = __builtin_sub_overflow(l, r, &n); break;
    case MATH_MULTIPLY: wrapped = __builtin_mul_overflow(l, r, &n); break;
    case MATH_DIVIDE:
        check_divisor(l, r);
        if (result && l % r != 0) {
            float_::make_in(result, (double)l / (double)r);
            return 0;
        }
        n = l / r;
        break;
    case MATH_REMAINDER:
        check_divisor(l, r);
        n = l % r;
        break;
    case MATH_OR: n = l | r; break;
    case MATH_AND: n = l & r; break;
    case MATH_XOR: n = l ^ r; break;
    default: sys::no_switch();
    }
    if (wrapped) {
        if (!result) overflow();
        // The exact result in 64 bits, rounded once to a double.
        int64_t exact = op == MATH_ADD        ? (int64_t)l + r
                        : op == MATH_SUBTRACT ? (int64_t)l - r
                                              : (int64_t)l * r;
        float_::make_in(result, (double)exact);
        return 0;
    }
    if (result) result->data2 = (uint32_t)n;
    return n;
}

bool power_checked(int32_t base, int32_t exponent, int32_t* out) {
    int32_t result = 1;
    while (exponent != 0) {
        if ((exponent & 1) && __builtin_mul_overflow(result, base, &result)) return false;
        exponent >>= 1;
        if (exponent != 0 && __builtin_mul_overflow(base, base, &base)) return false;
    }
    *out = result;
    return true;
}

int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    if (left) return bits > 31 ? 0 : (int32_t)((uint32_t)data << bits);
    if (logical) return bits > 31 ? 0 : (int32_t)((uint32_t)data >> bits);
    if (bits > 31) return data < 0 ? -1 : 0;
    return data >> bits;  // arithmetic on every compiler this builds with (C++20 defines it)
}

// --- Text ------------------------------------------------------------------------

const char* to_cstr(int32_t n) {
    static char buffer[12];
    if (n == 0) return "0";
    if (n == INT32_MIN) return "-2147483648";
    char* p = buffer + sizeof buffer - 1;
    *p = 0;
    uint32_t m = n < 0 ? (uint32_t)-n : (uint32_t)n;
    do *--p = (char)('0' + m % 10);
    while (m /= 10);
    if (n < 0) *--p = '-';
    return p;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    const char* text = to_cstr(get(value));
    uint32_t n = (uint32_t)strlen(text);
    string::concatenate_bytes(out, text, n);
    return limit - (int32_t)n;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

// --- make, to, random ------------------------------------------------------------

[[noreturn]] static void bad_to_arg(cell* spec) {
    cell type;
    datatype::make_at(&type, TYPE_INTEGER);
    error::raise_script(error::Script::bad_to_arg, &type, spec);
}

// The text from the string's head as a decimal integer: an optional sign, then
// digits with ' separators between them; all of the text, within 32 bits.
static bool scan_integer(cell* text, int32_t* out) {
    int32_t length = string::length_of(text);
    const uint8_t* p = string::head_pointer(text);
    uint32_t width = string::width_of(text);
    int32_t i = 0;
    bool negative = false;
    if (i < length) {
        int32_t c = string::get_char(p, width);
        if (c == '+' || c == '-') negative = c == '-', i++;
    }
    int64_t magnitude = 0;
    int32_t digits = 0;
    for (; i < length; i++) {
        int32_t c = string::get_char(p + (size_t)i * width, width);
        if (c == '\'' && digits > 0) continue;
        if (c < '0' || c > '9') return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 2147483648LL) return false;
        digits++;
    }
    if (digits == 0) return false;
    int64_t n = negative ? -magnitude : magnitude;
    if (n > INT32_MAX) return false;
    *out = (int32_t)n;
    return true;
}

// An issue's spelling as at most 8 hexadecimal digits.
static int32_t issue_to_integer(cell* issue) {
    const char* s = symbol::to_cstr(word::symbol_of(issue));
    size_t n = strlen(s);
    if (n > 8) error::raise_script(error::Script::invalid_data, issue);
    uint32_t v = 0;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        uint32_t d = c >= '0' && c <= '9'   ? (uint32_t)(c - '0')
                     : c >= 'a' && c <= 'f' ? (uint32_t)(c - 'a' + 10)
                     : c >= 'A' && c <= 'F' ? (uint32_t)(c - 'A' + 10)
                                            : 16;
        if (d == 16) error::raise_script(error::Script::invalid_data, issue);
        v = v << 4 | d;
    }
    return (int32_t)v;
}

// The first min(4, length) bytes from the head, big-endian.
static int32_t binary_to_integer(const cell* binary) {
    const memory::Buffer* b = series::buffer_of(binary);
    int32_t head = (int32_t)binary->data1;
    uint32_t used = b->used_bytes();
    uint32_t h = head < 0 ? 0 : (uint32_t)head;
    uint32_t n = h < used ? used - h : 0;
    if (n > 4) n = 4;
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; i++) v = v << 8 | b->head[h + i];
    return (int32_t)v;
}

// Within [-2147483648, 2147483647] before any cast, so NaN fails too.
static bool fits(double d) { return d >= -2147483648.0 && d <= 2147483647.0; }

cell* to(cell* target, cell* spec, int32_t type) {
    int32_t n = 0;
    switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR: n = get(spec); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double d = float_::get(spec);
        if (!fits(d)) {
            cell t;
            datatype::make_at(&t, TYPE_INTEGER);
            error::raise_script(error::Script::type_limit, &t);
        }
        n = (int32_t)d;  // truncated toward zero
        break;
    }
    case TYPE_TIME: {
        // Seconds rounded half away from zero, for both signs.
        double d = float_::round_half_away(float_::get(spec));
        if (!fits(d)) {
            cell t;
            datatype::make_at(&t, TYPE_INTEGER);
            error::raise_script(error::Script::type_limit, &t);
        }
        n = (int32_t)d;
        break;
    }
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
        if (!scan_integer(spec, &n)) bad_to_arg(spec);
        break;
    case TYPE_ISSUE: n = issue_to_integer(spec); break;
    case TYPE_BINARY: n = binary_to_integer(spec); break;
    case TYPE_DATE: n = date::to_epoch(spec); break;
    case TYPE_MONEY: n = money::to_integer(spec); break;
    default: bad_to_arg(spec);
    }
    return make_at(target, n);
}

cell* make(cell* target, cell* spec, int32_t type) {
    if (spec->type() == TYPE_LOGIC) return make_at(target, spec->data1 ? 1 : 0);
    return to(target, spec, type);
}

cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        rnd::seed(get(value));
        return unset::make_at(value);
    }
    int32_t n = get(value);
    if (n != 0) value->data2 = (uint32_t)rnd::integer(secure, n);
    return value;
}

// --- compare ----------------------------------------------------------------------

int32_t compare(cell* a, cell* b, int32_t op) {
    uint8_t tb = b->type();
    if ((op == OP_STRICT_EQUAL || op == OP_FIND) && tb != TYPE_INTEGER) return 1;
    switch (tb) {
    case TYPE_CHAR:
    case TYPE_INTEGER: {
        int32_t x = get(a), y = get(b);
        return (x > y) - (x < y);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        cell promoted;
        float_::make_in(&promoted, (double)get(a));
        return float_::compare(&promoted, b, op);
    }
    case TYPE_MONEY: {
        if (op == OP_SAME) return 1;
        // The integer becomes money of the other's currency: currencies do
        // not matter against a number.
        cell m;
        money::from_integer(&m, get(a));
        m.data1 = (m.data1 & ~0xFFu) | (uint32_t)money::currency_of(b);
        return money::compare(&m, b, op);
    }
    default: return NOT_COMPARABLE;
    }
}

// --- math actions -------------------------------------------------------------------

const cell* math_word(int32_t op) {
    switch (op) {
    case MATH_ADD: return words::word_add;
    case MATH_SUBTRACT: return words::word_subtract;
    case MATH_MULTIPLY: return words::word_multiply;
    case MATH_DIVIDE: return words::word_divide;
    case MATH_REMAINDER: return scalar::action_word("remainder");
    case MATH_OR: return scalar::action_word("or~");
    case MATH_AND: return scalar::action_word("and~");
    default: return scalar::action_word("xor~");
    }
}

cell* do_math_args(int32_t op) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    uint8_t tr = right->type();
    switch (tr) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        do_math(get(left), get(right), op, left);
        return left;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return float_::do_math(op);
    case TYPE_VECTOR: return vector::do_math_op(op, right, left);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D: {
        if (op == MATH_DIVIDE) scalar::not_related(math_word(op), TYPE_INTEGER);
        cell n = *left;
        *left = *right;
        *right = n;
        auto negate = tr == TYPE_PAIR ? pair::negate : tr == TYPE_POINT2D ? point2D::negate
                                                                          : point3D::negate;
        auto math = tr == TYPE_PAIR ? pair::do_math : tr == TYPE_POINT2D ? point2D::do_math
                                                                         : point3D::do_math;
        if (op == MATH_SUBTRACT) {
            negate(left);
            op = MATH_ADD;
        }
        return math(op);
    }
    case TYPE_TUPLE: {
        if (op == MATH_SUBTRACT || op == MATH_DIVIDE)
            scalar::not_related(math_word(op), TYPE_INTEGER);
        cell n = *left;
        *left = *right;
        *right = n;
        return tuple::do_math(op);
    }
    case TYPE_DATE: {
        if (op != MATH_ADD) scalar::not_related(math_word(op), TYPE_INTEGER);
        cell n = *left;
        *left = *right;
        *right = n;
        return date::do_math(op);
    }
    case TYPE_MONEY: return money::do_math(op);
    default: {
        cell t;
        datatype::make_at(&t, tr);
        error::raise_script(error::Script::invalid_type, &t);
    }
    }
}

cell* add() { return do_math_args(MATH_ADD); }
cell* subtract() { return do_math_args(MATH_SUBTRACT); }
cell* multiply() { return do_math_args(MATH_MULTIPLY); }
cell* divide() { return do_math_args(MATH_DIVIDE); }
cell* remainder() { return do_math_args(MATH_REMAINDER); }
cell* and_() { return do_math_args(MATH_AND); }
cell* or_() { return do_math_args(MATH_OR); }
cell* xor_() { return do_math_args(MATH_XOR); }

cell* absolute() {
    cell* v = stack::arg(0);
    v->data2 = (uint32_t)abs_checked(get(v));
    return v;
}

cell* negate(cell* value) {
    int32_t n = get(value);
    if (n == INT32_MIN) overflow();
    value->data2 = (uint32_t)-n;
    return value;
}

cell* complement(cell* value) {
    value->data2 = ~value->data2;
    return value;
}

bool is_even(cell* value) { return (value->data2 & 1) == 0; }
bool is_odd(cell* value) { return (value->data2 & 1) != 0; }

[[noreturn]] static void expect_arg(const cell* argument) {
    cell t;
    datatype::make_at(&t, argument->type());
    // The call word and the parameter word join the arguments when words exist.
    error::raise_script(error::Script::expect_arg, nullptr, &t, nullptr);
}

cell* power() {
    cell* base = stack::arg(0);
    cell* exponent = stack::arg(1);
    uint8_t te = exponent->type();
    if (te != TYPE_INTEGER && te != TYPE_FLOAT) expect_arg(exponent);
    if (te == TYPE_INTEGER && get(exponent) >= 0) {
        int32_t result;
        if (power_checked(get(base), get(exponent), &result)) {
            base->data2 = (uint32_t)result;
            return base;
        }
    }
    // A float or negative exponent, or a power past 32 bits: in floating point.
    float_::make_in(base, (double)get(base));
    return float_::power();
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    bool has_scale = stack::is_given(scale);
    if (has_scale && scale->type() == TYPE_MONEY)
        scalar::not_related(scalar::action_word("round"), TYPE_MONEY);
    int64_t s = 1;
    if (has_scale) {
        switch (scale->type()) {
        case TYPE_INTEGER: s = abs_checked(get(scale)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            float_::make_in(value, (double)get(value));
            return float_::round(value, scale, even, down, half_down, floor, ceiling,
                                 half_ceiling);
        default: error::raise_script(error::Script::invalid_arg, scale);
        }
    }
    int64_t n = get(value);
    int64_t a = n < 0 ? -n : n;
    if (s == 0 || a % s == 0) return value;

    // In 64 bits: the magnitudes next to a are exact whatever n is, and only
    // the chosen result must fit in 32 bits.
    int64_t r = a % s, d = s - r;
    int64_t below = a - r, above = a + d;
    bool positive = n > 0;
    int64_t m;
    if (down) m = below;
    else if (floor) m = positive ? below : above;
    else if (ceiling) m = positive ? above : below;
    else if (r < d) m = below;
    else if (r > d) m = above;
    else if (even) m = (a / s) % 2 == 0 ? below : above;
    else if (half_down) m = below;
    else if (half_ceiling) m = positive ? above : below;
    else m = above;
    int64_t result = positive ? m : -m;
    if (result < INT32_MIN || result > INT32_MAX) overflow();
    value->data2 = (uint32_t)(int32_t)result;
    return value;
}

// --- registration -----------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(to), on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, on<A_COMPARE>(compare),
        on<A_ABSOLUTE>(absolute), on<A_ADD>(add), on<A_DIVIDE>(divide),
        on<A_MULTIPLY>(multiply), on<A_NEGATE>(negate), on<A_POWER>(power),
        on<A_REMAINDER>(remainder), on<A_ROUND>(round), on<A_SUBTRACT>(subtract),
        on<A_IS_EVEN>(is_even), on<A_IS_ODD>(is_odd), on<A_AND>(and_),
        on<A_COMPLEMENT>(complement), on<A_OR>(or_), on<A_XOR>(xor_),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_INTEGER, 0, "integer!", list);
}

}  // namespace integer
