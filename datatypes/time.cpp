#include "datatypes/time.h"

#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "evaluator/stack.h"
#include "runtime/dtoa.h"
#include "runtime/words.h"

namespace time_ {

using namespace datatype;

cell* make_at(cell* c, double seconds) {
    c->header = TYPE_TIME;
    c->data1 = 0;
    cell::set_float(c, seconds);
    return c;
}

cell* push(double seconds) { return make_at(stack::push_cell(), seconds); }

int32_t hours(double seconds) {
    double h = std::trunc(seconds / 3600.0);
    if (!(h > -2147483649.0 && h < 2147483648.0)) scalar::type_limit(TYPE_INTEGER);
    return (int32_t)h;
}

int32_t minutes(double seconds) {
    return (int32_t)std::floor(std::fmod(std::fabs(seconds), 3600.0) / 60.0);
}

int32_t field_of_symbol(int32_t symbol) {
    if (symbol == words::sym_hour) return FIELD_HOUR;
    if (symbol == words::sym_minute) return FIELD_MINUTE;
    if (symbol == words::sym_second) return FIELD_SECOND;
    return -1;
}

double set_field(double t, int32_t index, const cell* value) {
    uint8_t tv = value->type();
    switch (index) {
    case FIELD_HOUR:
        if (tv != TYPE_INTEGER) break;
        return t - (std::floor(t / 3600.0) - integer::get(value)) * 3600.0;
    case FIELD_MINUTE:
        if (tv != TYPE_INTEGER) break;
        return t - (std::floor(std::fmod(t, 3600.0) / 60.0) - integer::get(value)) * 60.0;
    case FIELD_SECOND:
        if (tv == TYPE_INTEGER) return t - (std::fmod(t, 60.0) - integer::get(value));
        if (tv == TYPE_FLOAT) return t - (std::fmod(t, 60.0) - float_::get(value));
        break;
    default: break;
    }
    error::raise_script(error::Script::invalid_arg, value);
}

// --- Text ---------------------------------------------------------------------------

// Below this a seconds field shows as "00".
constexpr double TINY_SECONDS = 1e-06;

int32_t mold_into(double seconds, cell* out, int32_t limit) {
    char text[64];
    size_t n = 0;
    double a = seconds;
    if (seconds < 0) {
        text[n++] = '-';
        a = -seconds;
    }
    if (!std::isfinite(a)) {
        // No clock reading exists for these: the float's own text.
        const char* f = float_::form_float(seconds, float_::FORM_DOUBLE);
        return scalar::append(out, f, limit);
    }
    // Split into whole minutes and seconds, the seconds rounded to the digits
    // they show first: a carry into the next minute moves there.
    double whole = std::floor(a / 60.0);
    double s = a - whole * 60.0;
    if (s < 0) s = 0;
    const char* digits = nullptr;
    if (s >= TINY_SECONDS) {
        digits = float_::form_float(s, float_::FORM_SECONDS);
        if (dtoa::to_float(digits, digits + strlen(digits), 0, nullptr) >= 60.0) {
            whole += 1.0;
            digits = nullptr;
        }
    }
    double h = std::floor(whole / 60.0);
    int m = (int)(whole - h * 60.0);
    // Hours in decimal: beyond 32 bits through the float digits.
    char hours_text[40];
    if (h < 2147483648.0) {
        strcpy(hours_text, integer::to_cstr((int32_t)h));
    } else {
        strncpy(hours_text, dtoa::form_float(h, 0, false), sizeof hours_text - 1);
        hours_text[sizeof hours_text - 1] = 0;
    }
    size_t hl = strlen(hours_text);
    memcpy(text + n, hours_text, hl);
    n += hl;
    text[n++] = ':';
    text[n++] = (char)('0' + m / 10);
    text[n++] = (char)('0' + m % 10);
    text[n++] = ':';
    if (!digits) {
        text[n++] = '0';
        text[n++] = '0';
    } else {
        size_t dl = strlen(digits);
        if (dl == 1 || digits[1] == '.') text[n++] = '0';
        if (dl > sizeof text - n - 1) dl = sizeof text - n - 1;
        memcpy(text + n, digits, dl);
        n += dl;
    }
    text[n] = 0;
    return scalar::append(out, text, limit);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return mold_into(get(value), out, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return mold_into(get(value), out, limit);
}

// --- make / to ----------------------------------------------------------------------

[[noreturn]] static void bad_to_arg(cell* spec) {
    scalar::raise_type_value(error::Script::bad_to_arg, TYPE_TIME, spec);
}

// [hours minutes seconds], one to three values.
static double from_block(cell* spec) {
    int32_t n = block::length_of(spec);
    if (n < 1 || n > 3) bad_to_arg(spec);
    double parts[3] = {0, 0, 0};
    bool negative = false;
    for (int32_t i = 0; i < n; i++) {
        cell v = *(block::head_cell(spec) + i);
        uint8_t t = v.type();
        double x;
        if (t == TYPE_INTEGER) x = integer::get(&v);
        else if (t == TYPE_FLOAT && i == 2) x = float_::get(&v);
        else bad_to_arg(spec);
        if (x < 0 || (x == 0 && std::signbit(x))) {
            if (i != 0) bad_to_arg(spec);
            negative = true;
            x = -x;
        }
        parts[i] = x;
    }
    double t = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2];
    return negative ? -t : t;
}

cell* make(cell* target, cell* spec, int32_t type) {
    double t;
    switch (spec->type()) {
    case TYPE_TIME: t = get(spec); break;
    case TYPE_INTEGER: t = integer::get(spec); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: t = float_::get(spec); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: t = from_block(spec); break;
    default:
        if (scalar::is_text(spec->type())) return scalar::from_text(target, spec, TYPE_TIME);
        bad_to_arg(spec);
    }
    return make_at(target, t);
}

// --- Paths and pick -------------------------------------------------------------------

// The field's value pushed, or written into `target` when given.
static cell* read_field(double t, int32_t index, cell* target) {
    switch (index) {
    case FIELD_HOUR: return series::make_integer(target, hours(t));
    case FIELD_MINUTE: return series::make_integer(target, minutes(t));
    default: return float_::make_in(target, std::fmod(t, 60.0));
    }
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    int32_t field = scalar::field_index(element, field_of_symbol);
    if (field < FIELD_HOUR || field > FIELD_SECOND) scalar::invalid_path(path, element);
    if (!value) return read_field(time_::get(parent), field, stack::push_cell());
    cell old = *parent;
    cell::set_float(parent, set_field(time_::get(parent), field, value));
    scalar::after_write(parent, &old, path, holder, element_cell, owner);
    return stack::push(value);
}

cell* pick(cell* value, int32_t index, cell* index_cell) {
    if (index < FIELD_HOUR || index > FIELD_SECOND) error::raise_out_of_range(index);
    return read_field(get(value), index, value);
}

// --- Math -----------------------------------------------------------------------------

cell* add() {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    if (r->type() == TYPE_DATE) {
        // time + date is date + time.
        cell t = *l;
        *l = *r;
        *r = t;
        return date::do_math(integer::MATH_ADD);
    }
    return float_::do_math(integer::MATH_ADD);
}

cell* subtract() {
    if (stack::arg(1)->type() == TYPE_DATE) scalar::not_related(words::word_subtract, TYPE_TIME);
    return float_::do_math(integer::MATH_SUBTRACT);
}

cell* multiply() {
    if (stack::arg(1)->type() == TYPE_TIME) scalar::not_related(words::word_multiply, TYPE_TIME);
    return float_::do_math(integer::MATH_MULTIPLY);
}

cell* divide() {
    bool ratio = stack::arg(1)->type() == TYPE_TIME;
    cell* r = float_::do_math(integer::MATH_DIVIDE);
    if (ratio) cell::set_type(r, TYPE_FLOAT);
    return r;
}

cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (stack::is_given(scale) && scale->type() == TYPE_MONEY)
        scalar::not_related(scalar::action_word("round"), TYPE_TIME);
    cell* r = float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    if (r->type() == TYPE_INTEGER) return make_at(r, (double)integer::get(r));
    cell::set_type(r, TYPE_TIME);
    return r;
}

// The whole seconds of the minute, nudged by a microsecond so that a value a
// hair below a whole second counts as that second.
static bool whole_second_odd(const cell* value) {
    double t = get(value);
    double x = t < 0 ? t - 1e-06 : t + 1e-06;
    double s = std::trunc(std::fmod(x, 60.0));
    return std::fmod(s, 2.0) != 0.0;
}

bool is_even(cell* value) { return !whole_second_odd(value); }
bool is_odd(cell* value) { return whole_second_odd(value); }

// --- registration -----------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), INHERIT, NO, on<A_TO>(make), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, INHERIT,
        INHERIT, on<A_ADD>(add), on<A_DIVIDE>(divide),
        on<A_MULTIPLY>(multiply), INHERIT, NO,
        INHERIT, on<A_ROUND>(round), on<A_SUBTRACT>(subtract),
        on<A_IS_EVEN>(is_even), on<A_IS_ODD>(is_odd), NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_PICK>(pick), NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_TIME, TYPE_FLOAT, "time!", list);
}

}  // namespace time_
