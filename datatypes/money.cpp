#include "datatypes/money.h"

#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/collector.h"
#include "runtime/dtoa.h"
#include "runtime/hashtable.h"
#include "runtime/words.h"
#include "library/system.h"

namespace money {

using namespace datatype;

// --- Locale data ----------------------------------------------------------------------

namespace {

// The currency list is system/locale/currencies/list (a block of words)
// and the fraction digits of form and mold system/options/money-digits,
// read at each use: a currency appended to the list is known at once.
// Before the system object exists there are no currencies.
memory::Node* currency_list() {
    const cell* list = system_object::field("locale/currencies/list");
    return list && list->type() == TYPE_BLOCK ? series::node_of(list) : nullptr;
}

int32_t currency_count(memory::Node* list) { return list ? block::total_cells(list) : 0; }
const cell* currency_word(memory::Node* list, int32_t index) { return block::cells_of(list) + index - 1; }
const char* currency_name(memory::Node* list, int32_t index) {
    return symbol::to_cstr(word::symbol_of(currency_word(list, index)));
}
// The name of a known currency index (1 to the list's length), else null.
const char* currency_name(int32_t index) {
    memory::Node* list = currency_list();
    return index >= 1 && index <= currency_count(list) ? currency_name(list, index) : nullptr;
}

// ASCII letters compared without case: currency codes are three letters.
bool same_letters(const char* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = (uint8_t)a[i], y = b[i];
        if (!x) return false;
        if (x >= 'a' && x <= 'z') x = (uint8_t)(x - 32);
        if (y >= 'a' && y <= 'z') y = (uint8_t)(y - 32);
        if (x != y) return false;
    }
    return a[n] == 0;
}

// By spelling, so that checking a literal interns nothing.
int32_t find_currency_text(const uint8_t* text, uint32_t n) {
    memory::Node* list = currency_list();
    for (int32_t i = 1; i <= currency_count(list); i++)
        if (same_letters(currency_name(list, i), text, n)) return i;
    return -1;
}

}  // namespace

int32_t find_currency(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    memory::Node* list = currency_list();
    for (int32_t i = 1; i <= currency_count(list); i++)
        if (symbol::resolve(word::symbol_of(currency_word(list, i))) == s) return i;
    return -1;
}

bool is_float_too_small(double x) {
    double a = std::fabs(x);
    return a > 0.0 && a < 1e-05;
}
bool is_float_too_large(double x) { return std::fabs(x) >= 1e17; }

// --- Digits -------------------------------------------------------------------------------

bool is_well_formed(const cell* c) {
    if (currency_of(c) > currency_count(currency_list())) return false;
    const uint8_t* b = digit_bytes(c);
    for (int32_t i = 0; i < DIGIT_BYTES; i++)
        if ((b[i] >> 4) > 9 || (b[i] & 0xF) > 9) return false;
    return true;
}

int32_t get_digit(const cell* c, int32_t p) {
    uint8_t b = digit_bytes(c)[(p - 1) / 2];
    return p & 1 ? b >> 4 : b & 0xF;
}

void set_digit(cell* c, int32_t p, int32_t digit) {
    uint8_t& b = digit_bytes(c)[(p - 1) / 2];
    b = p & 1 ? (uint8_t)((b & 0x0F) | (digit << 4)) : (uint8_t)((b & 0xF0) | digit);
}

int32_t digit_count(const cell* c) {
    for (int32_t p = 1; p <= DIGITS; p++)
        if (get_digit(c, p)) return DIGITS - p + 1;
    return 1;
}

namespace {

// A decimal magnitude for the working steps: digit i weighs 10^(i - 5)
// (least significant first), wide enough for a product of two amounts.
constexpr int32_t WIDE = 48;
struct Big {
    uint8_t d[WIDE];
};

Big zero_big() {
    Big b;
    memset(b.d, 0, sizeof b.d);
    return b;
}

bool is_zero_big(const Big& b) {
    for (uint8_t x : b.d)
        if (x) return false;
    return true;
}

// Significant digits (1 for zero).
int32_t length_of(const Big& b) {
    for (int32_t i = WIDE - 1; i > 0; i--)
        if (b.d[i]) return i + 1;
    return 1;
}

int32_t compare_big(const Big& a, const Big& b) {
    for (int32_t i = WIDE - 1; i >= 0; i--)
        if (a.d[i] != b.d[i]) return a.d[i] < b.d[i] ? -1 : 1;
    return 0;
}

void add_big(Big& a, const Big& b) {
    int32_t carry = 0;
    for (int32_t i = 0; i < WIDE; i++) {
        int32_t s = a.d[i] + b.d[i] + carry;
        carry = s >= 10;
        a.d[i] = (uint8_t)(carry ? s - 10 : s);
    }
}

// a -= b, with a >= b.
void subtract_big(Big& a, const Big& b) {
    int32_t borrow = 0;
    for (int32_t i = 0; i < WIDE; i++) {
        int32_t s = a.d[i] - b.d[i] - borrow;
        borrow = s < 0;
        a.d[i] = (uint8_t)(borrow ? s + 10 : s);
    }
}

Big shifted(const Big& a, int32_t n) {  // n > 0: times 10^n; n < 0: cut
    Big r = zero_big();
    for (int32_t i = 0; i < WIDE; i++) {
        int32_t j = i + n;
        if (j >= 0 && j < WIDE) r.d[j] = a.d[i];
    }
    return r;
}

// Quotient and remainder of magnitudes, by long division with repeated
// subtraction; b is not zero.
void divide_big(const Big& a, const Big& b, Big* quotient, Big* remainder) {
    Big q = zero_big(), r = zero_big();
    for (int32_t i = length_of(a) - 1; i >= 0; i--) {
        r = shifted(r, 1);
        r.d[0] = a.d[i];
        int32_t n = 0;
        while (compare_big(r, b) >= 0) {
            subtract_big(r, b);
            n++;
        }
        q.d[i] = (uint8_t)n;
    }
    if (quotient) *quotient = q;
    if (remainder) *remainder = r;
}

Big multiply_big(const Big& a, const Big& b) {
    int32_t acc[2 * WIDE] = {};
    int32_t la = length_of(a), lb = length_of(b);
    for (int32_t i = 0; i < la; i++)
        for (int32_t j = 0; j < lb; j++) acc[i + j] += a.d[i] * b.d[j];
    Big r = zero_big();
    int32_t carry = 0;
    for (int32_t i = 0; i < 2 * WIDE; i++) {
        int32_t v = acc[i] + carry;
        carry = v / 10;
        if (i < WIDE) r.d[i] = (uint8_t)(v % 10);
    }
    return r;
}

// An amount taken apart: sign, currency and magnitude in units of 1e-5.
struct Amount {
    bool negative;
    int32_t currency;
    Big mag;
};

Amount amount_of(const cell* c) {
    Amount a;
    a.negative = sign_bit(c);
    a.currency = currency_of(c);
    a.mag = zero_big();
    for (int32_t p = 1; p <= DIGITS; p++) a.mag.d[DIGITS - p] = (uint8_t)get_digit(c, p);
    return a;
}

[[noreturn]] void overflow() { scalar::type_limit(TYPE_MONEY); }

// Writes an amount (which must fit 22 digits) into a cell.
cell* store(cell* c, const Amount& a) {
    if (length_of(a.mag) > DIGITS) overflow();
    c->header = TYPE_MONEY | (a.negative ? SIGN_MASK : 0);
    c->data1 = (uint32_t)(a.currency & 0xFF);
    c->data2 = c->data3 = 0;
    for (int32_t p = 1; p <= DIGITS; p++) set_digit(c, p, a.mag.d[DIGITS - p]);
    return c;
}

int32_t sign_of(const Amount& a) { return is_zero_big(a.mag) ? 0 : a.negative ? -1 : 1; }

// Negative < zero < positive, then by magnitude (reversed below zero).
int32_t compare_amounts(const Amount& a, const Amount& b) {
    int32_t s = sign_of(a), t = sign_of(b);
    if (s != t) return s < t ? -1 : 1;
    if (s == 0) return 0;
    int32_t c = compare_big(a.mag, b.mag);
    return s < 0 ? -c : c;
}

Amount integer_amount(int32_t n) {
    Amount a{n < 0, 0, zero_big()};
    int64_t v = n < 0 ? -(int64_t)n : (int64_t)n;
    for (int32_t i = FRACTION_DIGITS; v; i++, v /= 10) a.mag.d[i] = (uint8_t)(v % 10);
    return a;
}

[[noreturn]] void bad_make_arg(const cell* value) {
    scalar::raise_type_value(error::Script::bad_make_arg, TYPE_MONEY, value);
}
[[noreturn]] void bad_make_float(double x) {
    cell f;
    float_::make_in(&f, x);
    bad_make_arg(&f);
}

// The float's shortest round-trip digits as an amount; *excess tells
// whether nonzero digits below 1e-05 were dropped. The range is checked by
// the caller.
Amount digits_amount(double x, bool* excess) {
    Amount a{x < 0, 0, zero_big()};
    *excess = false;
    if (x == 0.0) return a;
    dtoa::Digits d = dtoa::to_chars(x, 0, false);
    for (int32_t k = 1; k <= d.count; k++) {
        int32_t i = d.exponent - k + FRACTION_DIGITS;  // digit k weighs 10^(exponent - k)
        int32_t v = d.digits[k - 1] - '0';
        if (i < 0) {
            if (v) *excess = true;
        } else if (i < WIDE) {
            a.mag.d[i] = (uint8_t)v;
        }
    }
    return a;
}

Amount float_amount(double x, bool range_tests) {
    if (!std::isfinite(x) || is_float_too_large(x) || is_float_too_small(x)) bad_make_float(x);
    bool excess;
    Amount a = digits_amount(x, &excess);
    if (excess && range_tests) bad_make_float(x);
    return a;
}

// An operand of the arithmetic as an amount; other types raise invalid-type.
Amount operand(const cell* c) {
    switch (c->type()) {
    case TYPE_MONEY: return amount_of(c);
    case TYPE_INTEGER: return integer_amount(integer::get(c));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return float_amount(float_::get(c), false);
    default: scalar::invalid_type(c);
    }
}

}  // namespace

// --- Construction ------------------------------------------------------------------------

cell* make_from_digits(cell* c, bool negative, int32_t currency, const uint8_t* bytes) {
    c->header = TYPE_MONEY | (negative ? SIGN_MASK : 0);
    c->data1 = (uint32_t)(currency & 0xFF);
    c->data2 = c->data3 = 0;
    memcpy(digit_bytes(c), bytes, DIGIT_BYTES);
    return c;
}

cell* push(bool negative, int32_t currency, const uint8_t* bytes) {
    return make_from_digits(stack::push_cell(), negative, currency, bytes);
}

bool make_in(cell* out, const uint8_t* p, uint32_t length) {
    const uint8_t* end = p + length;
    Amount a{false, 0, zero_big()};
    if (p < end && (*p == '+' || *p == '-')) a.negative = *p++ == '-';
    const uint8_t* dollar = (const uint8_t*)memchr(p, '$', (size_t)(end - p));
    if (!dollar) return false;
    uint32_t code = (uint32_t)(dollar - p);
    if (code == 3) {
        a.currency = find_currency_text(p, 3);
        if (a.currency < 0) return false;
    } else if (code != 0) {
        return false;
    }
    // Integer digits ("'" between groups), then at most five fraction digits.
    const uint8_t* q = dollar + 1;
    const uint8_t* int_start = q;
    uint8_t digits[INTEGER_DIGITS];
    int32_t n = 0;
    bool quote = false;
    for (; q < end && *q != '.' && *q != ','; q++) {
        if (*q == '\'') {
            if (quote || q == int_start) return false;
            quote = true;
            continue;
        }
        if (*q < '0' || *q > '9' || n == INTEGER_DIGITS) return false;
        quote = false;
        digits[n++] = (uint8_t)(*q - '0');
    }
    if (n == 0 || quote) return false;
    for (int32_t i = 0; i < n; i++) a.mag.d[FRACTION_DIGITS + n - 1 - i] = digits[i];
    if (q < end) {
        if (end - q - 1 > FRACTION_DIGITS) return false;
        int32_t i = FRACTION_DIGITS - 1;
        for (q++; q < end; q++, i--) {
            if (*q < '0' || *q > '9') return false;
            a.mag.d[i] = (uint8_t)(*q - '0');
        }
    }
    if (out) store(out, a);
    return true;
}

cell* from_integer(cell* c, int32_t n) { return store(c, integer_amount(n)); }

cell* from_float(cell* c, double x, bool range_tests) { return store(c, float_amount(x, range_tests)); }

// --- Reading --------------------------------------------------------------------------------

int32_t sign(const cell* c) {
    const uint8_t* b = digit_bytes(c);
    for (int32_t i = 0; i < DIGIT_BYTES; i++)
        if (b[i]) return sign_bit(c) ? -1 : 1;
    return 0;
}
bool is_negative(const cell* c) { return sign(c) < 0; }
bool is_zero(const cell* c) { return sign(c) == 0; }
bool is_positive(const cell* c) { return sign(c) > 0; }

double to_double(const cell* c) {
    if (is_zero(c)) return 0.0;
    char text[DIGITS + 3];
    size_t n = 0;
    if (sign_bit(c)) text[n++] = '-';
    for (int32_t p = 1; p <= DIGITS; p++) {
        if (p == INTEGER_DIGITS + 1) text[n++] = '.';
        text[n++] = (char)('0' + get_digit(c, p));
    }
    return dtoa::to_float(text, text + n, 0, nullptr);
}

int32_t to_integer(const cell* c) {
    int64_t v = 0;
    for (int32_t p = 1; p <= INTEGER_DIGITS; p++) {
        v = v * 10 + get_digit(c, p);
        if (v > 2147483648LL) scalar::type_limit(TYPE_INTEGER);
    }
    bool negative = sign_bit(c);
    if (v == 2147483648LL && !negative) scalar::type_limit(TYPE_INTEGER);
    return (int32_t)(negative ? -v : v);
}

// --- Arithmetic -----------------------------------------------------------------------------

namespace {

Amount add_amounts(Amount a, const Amount& b);

Amount subtract_amounts(Amount a, Amount b) {
    if (a.negative != b.negative) {
        b.negative = !b.negative;
        return add_amounts(a, b);
    }
    if (compare_big(a.mag, b.mag) >= 0) {
        subtract_big(a.mag, b.mag);
        return a;
    }
    subtract_big(b.mag, a.mag);
    b.negative = !a.negative;
    return b;
}

Amount add_amounts(Amount a, const Amount& b) {
    if (is_zero_big(b.mag)) return a;
    if (is_zero_big(a.mag)) return b;
    if (a.negative != b.negative) {
        Amount nb = b;
        nb.negative = !nb.negative;
        return subtract_amounts(a, nb);
    }
    add_big(a.mag, b.mag);
    if (length_of(a.mag) > DIGITS) overflow();
    return a;
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
    Amount r{a.negative != b.negative, 0, zero_big()};
    if (is_zero_big(a.mag) || is_zero_big(b.mag)) return r;
    if (length_of(a.mag) + length_of(b.mag) > 28) overflow();
    r.mag = shifted(multiply_big(a.mag, b.mag), -FRACTION_DIGITS);  // extra digits cut
    if (length_of(r.mag) > DIGITS) overflow();
    return r;
}

Amount divide_amounts(const Amount& a, const Amount& b) {
    if (is_zero_big(b.mag)) error::raise_math(error::Math::zero_divide);
    Amount r{a.negative != b.negative, 0, zero_big()};
    if (is_zero_big(a.mag)) return r;
    if (length_of(a.mag) - length_of(b.mag) + 6 > DIGITS) overflow();
    divide_big(shifted(a.mag, FRACTION_DIGITS), b.mag, &r.mag, nullptr);
    return r;
}

Amount remainder_amounts(const Amount& a, const Amount& b) {
    if (is_zero_big(b.mag)) error::raise_math(error::Math::zero_divide);
    Amount r{a.negative, 0, zero_big()};
    if (is_zero_big(a.mag)) return r;
    divide_big(a.mag, b.mag, nullptr, &r.mag);
    return r;
}

[[noreturn]] void wrong_denom(const cell* a, const cell* b) {
    error::raise_script(error::Script::wrong_denom, a, b);
}

}  // namespace

cell* do_math(int32_t op) {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    uint8_t tl = l->type(), tr = r->type();
    Amount a = operand(l);
    Amount b = operand(r);
    if (op < integer::MATH_ADD || op > integer::MATH_REMAINDER) scalar::invalid_type(r);
    if (tl == TYPE_MONEY && tr == TYPE_MONEY && op == integer::MATH_MULTIPLY) scalar::invalid_type(r);
    if (tl != TYPE_MONEY && (op == integer::MATH_DIVIDE || op == integer::MATH_REMAINDER))
        scalar::invalid_type(r);
    if (a.currency && b.currency && a.currency != b.currency) wrong_denom(l, r);
    int32_t currency = b.currency ? b.currency : a.currency;
    Amount result;
    switch (op) {
    case integer::MATH_ADD: result = add_amounts(a, b); break;
    case integer::MATH_SUBTRACT: result = subtract_amounts(a, b); break;
    case integer::MATH_MULTIPLY: result = multiply_amounts(a, b); break;
    case integer::MATH_DIVIDE: result = divide_amounts(a, b); break;
    default: result = remainder_amounts(a, b); break;
    }
    result.currency = currency;
    store(l, result);
    if (op == integer::MATH_DIVIDE && tr == TYPE_MONEY) float_::make_in(l, to_double(l));
    return l;
}

static cell* add() { return do_math(integer::MATH_ADD); }
static cell* subtract() { return do_math(integer::MATH_SUBTRACT); }
static cell* multiply() { return do_math(integer::MATH_MULTIPLY); }
static cell* divide() { return do_math(integer::MATH_DIVIDE); }
static cell* remainder() { return do_math(integer::MATH_REMAINDER); }

static cell* absolute() {
    cell* v = stack::arg(0);
    v->header &= ~SIGN_MASK;
    return v;
}

static cell* negate(cell* value) {
    value->header ^= SIGN_MASK;
    return value;
}

static bool is_odd(cell* value) { return get_digit(value, INTEGER_DIGITS) & 1; }
static bool is_even(cell* value) { return !is_odd(value); }

// --- round ------------------------------------------------------------------------------------

static cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
                   bool ceiling, bool half_ceiling) {
    if (is_zero(value)) return value;
    Amount v = amount_of(value);
    Amount s = integer_amount(1);
    if (stack::is_given(scale)) {
        switch (scale->type()) {
        case TYPE_MONEY:
        case TYPE_INTEGER:
        case TYPE_FLOAT: s = operand(scale); break;
        default: scalar::not_related(scalar::action_word("round"), scale->type());
        }
    }
    if (is_zero_big(s.mag)) error::raise_math(error::Math::zero_divide);
    Big q, r;
    divide_big(v.mag, s.mag, &q, &r);
    Big down_mag = v.mag;
    subtract_big(down_mag, r);
    Big up_mag = down_mag;
    add_big(up_mag, s.mag);
    bool up;
    if (is_zero_big(r)) {
        up = false;
    } else if (down) {
        up = false;
    } else if (floor) {
        up = v.negative;
    } else if (ceiling) {
        up = !v.negative;
    } else {
        Big twice = r;
        add_big(twice, r);
        int32_t half = compare_big(twice, s.mag);
        if (half != 0) up = half > 0;
        else if (even) up = q.d[0] & 1;
        else if (half_down) up = false;
        else if (half_ceiling) up = !v.negative;
        else up = true;
    }
    v.mag = up ? up_mag : down_mag;
    return store(value, v);
}

// --- make / to ---------------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(const cell* value) {
    scalar::raise_type_value(error::Script::bad_to_arg, TYPE_MONEY, value);
}

// [currency] amount [fraction]: the fraction counts units of 0.00001 and
// takes the amount's sign.
cell* from_block(cell* target, cell* spec) {
    int32_t n = block::length_of(spec);
    if (n < 1 || n > 3) bad_make_arg(spec);
    cell items[3];
    for (int32_t i = 0; i < n; i++) items[i] = block::head_cell(spec)[i];
    int32_t i = 0, currency = 0;
    if (items[0].type() == TYPE_WORD) {
        currency = find_currency(word::symbol_of(&items[0]));
        if (currency < 0) bad_make_arg(spec);
        i = 1;
    }
    if (i >= n) bad_make_arg(spec);
    Amount a{false, 0, zero_big()};
    bool negative = false;
    if (items[i].type() == TYPE_INTEGER) {
        a = integer_amount(integer::get(&items[i]));
        negative = integer::get(&items[i]) < 0;
    } else if (items[i].type() == TYPE_FLOAT) {
        if (i + 1 < n) bad_make_arg(spec);
        a = float_amount(float_::get(&items[i]), true);
        negative = a.negative;
    } else {
        bad_make_arg(spec);
    }
    if (++i < n) {
        if (items[i].type() != TYPE_INTEGER || i + 1 < n) bad_make_arg(spec);
        int32_t f = integer::get(&items[i]);
        if (f < 0 || f > 99999) bad_make_arg(spec);
        Big fraction = zero_big();
        for (int32_t k = 0; f; k++, f /= 10) fraction.d[k] = (uint8_t)(f % 10);
        add_big(a.mag, fraction);
        a.negative = negative;
    }
    a.currency = currency;
    return store(target, a);
}

cell* from_text(cell* target, cell* spec) {
    int32_t count = -1;
    const uint8_t* p = unicode::to_utf8(spec, &count);
    const uint8_t* end = p + count;
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) p++;
    while (end > p && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) end--;
    // The text lives in the string's cache: copied out before anything allocates.
    uint8_t text[64];
    size_t n = (size_t)(end - p);
    if (n >= sizeof text) bad_to_arg(spec);
    memcpy(text, p, n);
    cell made;
    if (!make_in(&made, text, (uint32_t)n)) bad_to_arg(spec);
    return cell::copy(&made, target);
}

}  // namespace

cell* to(cell* target, cell* spec, int32_t type) {
    switch (spec->type()) {
    case TYPE_MONEY: return cell::copy(spec, target);
    case TYPE_INTEGER: return from_integer(target, integer::get(spec));
    case TYPE_FLOAT: return from_float(target, float_::get(spec), true);
    default:
        if (scalar::is_text(spec->type())) return from_text(target, spec);
        bad_to_arg(spec);
    }
}

cell* make(cell* target, cell* spec, int32_t type) {
    switch (spec->type()) {
    case TYPE_WORD: {
        int32_t currency = find_currency(word::symbol_of(spec));
        if (currency < 0) bad_make_arg(spec);
        return store(target, Amount{false, currency, zero_big()});
    }
    case TYPE_BLOCK: return from_block(target, spec);
    default: return to(target, spec, type);
    }
}

// --- compare ------------------------------------------------------------------------------------

namespace {

bool is_strict(int32_t op) { return op == OP_STRICT_EQUAL || op == OP_SAME || op == OP_FIND; }
bool is_ordering(int32_t op) { return op >= OP_LESSER && op <= OP_GREATER_OR_EQUAL; }
bool is_sort(int32_t op) { return op == OP_SORT || op == OP_CASE_SORT; }

int32_t compare_names(int32_t a, int32_t b) {
    const char* x = currency_name(a);
    if (!x) x = "";
    char first[8] = {};
    strncpy(first, x, sizeof first - 1);  // the second name may reuse the buffer
    const char* y = currency_name(b);
    if (!y) y = "";
    for (int32_t i = 0;; i++) {
        int32_t cx = (uint8_t)first[i], cy = (uint8_t)y[i];
        if (cx >= 'a' && cx <= 'z') cx -= 32;
        if (cy >= 'a' && cy <= 'z') cy -= 32;
        if (cx != cy) return cx < cy ? -1 : 1;
        if (!cx) return 0;
    }
}

// The money's order against the double x: -1, 0 or 1, or 2 for a NaN.
// Within money's range the double is read by its shortest digits, so 0.1
// equals $0.1; digits below 1e-05 make it differ from every amount.
int32_t versus_float(const cell* m, double x) {
    if (std::isnan(x)) return 2;
    if (is_float_too_large(x)) return x > 0 ? -1 : 1;
    if (is_float_too_small(x)) {
        double d = to_double(m);
        return (d > x) - (d < x);
    }
    bool excess;
    Amount f = digits_amount(x, &excess);
    int32_t c = compare_amounts(amount_of(m), f);
    if (c == 0 && excess) return x > 0 ? -1 : 1;  // |x| is beyond its cut digits
    return c;
}

// What a NaN answers under each operator: nothing orders before or after it.
int32_t versus_nan(int32_t op) {
    switch (op) {
    case OP_LESSER:
    case OP_LESSER_OR_EQUAL: return 1;
    case OP_GREATER:
    case OP_GREATER_OR_EQUAL: return -1;
    case OP_SORT:
    case OP_CASE_SORT: return 0;
    default: return 1;
    }
}

}  // namespace

int32_t compare(cell* a, cell* b, int32_t op) {
    uint8_t tb = b->type();
    if (is_strict(op) && tb != TYPE_MONEY) return 1;
    switch (tb) {
    case TYPE_MONEY: {
        int32_t ca = currency_of(a), cb = currency_of(b);
        if (ca != cb) {
            bool compatible = !ca || !cb;
            if (is_ordering(op) && !compatible) wrong_denom(a, b);
            if (is_sort(op)) {
                if (!ca) return -1;
                if (!cb) return 1;
                return compare_names(ca, cb);
            }
            if (is_strict(op) || (!is_ordering(op) && !compatible)) return 1;
        }
        return compare_amounts(amount_of(a), amount_of(b));
    }
    case TYPE_INTEGER: return compare_amounts(amount_of(a), integer_amount(integer::get(b)));
    case TYPE_FLOAT: {
        int32_t r = versus_float(a, float_::get(b));
        return r == 2 ? versus_nan(op) : r;
    }
    default: return NOT_COMPARABLE;
    }
}

int32_t compare_float(double x, const cell* m, int32_t op) {
    if (is_strict(op)) return 1;
    int32_t r = versus_float(m, x);
    return r == 2 ? versus_nan(op) : -r;
}

// --- Text ----------------------------------------------------------------------------------------

namespace {

int32_t text_of(cell* value, cell* out, int32_t limit, bool grouped, bool all) {
    char text[64];
    size_t n = 0;
    if (is_negative(value)) text[n++] = '-';
    int32_t currency = currency_of(value);
    const char* name = currency_name(currency);
    if (name) {
        size_t l = strlen(name);
        if (l > 8) l = 8;
        memcpy(text + n, name, l);
        n += l;
    }
    text[n++] = '$';
    int32_t first = 1;
    while (first < INTEGER_DIGITS && !get_digit(value, first)) first++;
    for (int32_t p = first; p <= INTEGER_DIGITS; p++) {
        text[n++] = (char)('0' + get_digit(value, p));
        if (grouped && p < INTEGER_DIGITS && (p + 1) % 3 == 0) text[n++] = '\'';
    }
    int32_t digits = 2;
    if (all) digits = FRACTION_DIGITS;
    else if (const cell* option = system_object::field("options/money-digits"))
        if (option->type() == TYPE_INTEGER) digits = integer::get(option);
    if (digits > FRACTION_DIGITS) digits = FRACTION_DIGITS;
    if (digits >= 1) {
        text[n++] = '.';
        for (int32_t p = INTEGER_DIGITS + 1; p <= INTEGER_DIGITS + digits; p++)
            text[n++] = (char)('0' + get_digit(value, p));
    }
    text[n] = 0;
    return scalar::append(out, text, limit);
}

}  // namespace

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return text_of(value, out, limit, true, false);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return text_of(value, out, limit, false, all);
}

// --- Paths, pick, random -------------------------------------------------------------------------

namespace {

constexpr int32_t FIELD_CODE = 1;
constexpr int32_t FIELD_AMOUNT = 2;

int32_t field_of_symbol(int32_t symbol) {
    if (symbol == symbol::resolve(words::sym_money_code)) return FIELD_CODE;
    if (symbol == symbol::resolve(words::sym_amount)) return FIELD_AMOUNT;
    return -1;
}

cell* read_field(const cell* value, int32_t field, cell* target) {
    cell v = *value;
    if (field == FIELD_AMOUNT) {
        v.data1 &= ~0xFFu;
        return cell::copy(&v, target);
    }
    int32_t currency = currency_of(&v);
    memory::Node* list = currency_list();
    if (!currency || currency > currency_count(list)) return none::make_at(target);
    cell w = *currency_word(list, currency);
    return cell::copy(&w, target);
}

}  // namespace

static cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                       cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    int32_t field = scalar::field_index(element, field_of_symbol);
    if (field != FIELD_CODE && field != FIELD_AMOUNT) scalar::invalid_path(path, element);
    if (value) error::raise_script(error::Script::bad_path_set, path, element);
    return read_field(parent, field, stack::push_cell());
}

static cell* pick(cell* value, int32_t index, cell* index_cell) {
    if (index != FIELD_CODE && index != FIELD_AMOUNT) error::raise_out_of_range(index);
    cell v = *value;
    return read_field(&v, index, value);
}

// Digit by digit from the first significant one, never above the value:
// while the digits drawn equal the value's, each is drawn below or at the
// value's digit, and a draw at it is kept only when two further draws agree
// modulo 1000; once a smaller digit is drawn the rest are free.
static cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        rnd::seed((int32_t)(value->data1 ^ value->data2 ^ value->data3 ^ (value->header & SIGN_MASK)));
        return unset::make_at(value);
    }
    cell result = *value;
    int32_t first = 1;
    while (first < DIGITS && !get_digit(value, first)) first++;
    bool bounded = true;
    for (int32_t p = first; p <= DIGITS; p++) {
        int32_t d = get_digit(value, p), r;
        if (!bounded) {
            r = rnd::next() % 10;
        } else {
            for (;;) {
                r = rnd::next() % (d + 1);
                if (r < d) {
                    bounded = false;
                    break;
                }
                if (rnd::next() % 1000 == rnd::next() % 1000) break;
            }
        }
        set_digit(&result, p, r);
    }
    return cell::copy(&result, value);
}

// --- registration ---------------------------------------------------------------------------------

namespace {

// Equal amounts hash alike: the payload, with the sign only when not zero.
uint32_t hash_money(const cell* c) {
    uint32_t words[3] = {c->data1, c->data2, c->data3};
    uint32_t h = hashtable::hash_bytes(words, sizeof words);
    return is_negative(c) ? h ^ 0x9E3779B9u : h;
}

}  // namespace

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(to), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        on<A_ABSOLUTE>(absolute), on<A_ADD>(add), on<A_DIVIDE>(divide),
        on<A_MULTIPLY>(multiply), on<A_NEGATE>(negate), NO,
        on<A_REMAINDER>(remainder), on<A_ROUND>(round), on<A_SUBTRACT>(subtract),
        on<A_IS_EVEN>(is_even), on<A_IS_ODD>(is_odd), NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_PICK>(pick), NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_MONEY, 0, "money!", list);
    hashtable::hash_by_type[TYPE_MONEY] = hash_money;
}

}  // namespace money
