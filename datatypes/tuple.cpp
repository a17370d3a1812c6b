#include "datatypes/tuple.h"

#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "platform/random.h"

namespace tuple {

using namespace datatype;

cell* make_at(cell* c, int32_t count, const uint8_t* bytes) {
    c->header = TYPE_TUPLE | ((uint32_t)count << COUNT_SHIFT);
    c->data1 = c->data2 = c->data3 = 0;
    memcpy(bytes_of(c), bytes, (size_t)count);
    return c;
}

cell* push(int32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    cell* c = stack::push_cell();
    c->header = TYPE_TUPLE | ((uint32_t)count << COUNT_SHIFT);
    c->data1 = w1;
    c->data2 = w2;
    c->data3 = w3;
    return c;
}

cell* make_rgba(cell* c, int32_t r, int32_t g, int32_t b, int32_t a) {
    uint8_t v[4] = {(uint8_t)r, (uint8_t)g, (uint8_t)b, (uint8_t)a};
    return make_at(c, a == -1 ? 3 : 4, v);
}

bool is_all_zero(const cell* c) { return !c->data1 && !c->data2 && !c->data3; }

static uint8_t clamp(int64_t n) { return n < 0 ? 0 : n > 255 ? 255 : (uint8_t)n; }

// --- Math -----------------------------------------------------------------------------

// One byte by the integer rules: a result past 32 bits becomes 255 when
// positive and 0 otherwise; division truncates.
static uint8_t byte_op(int32_t l, int32_t r, int32_t op) {
    int64_t n;
    switch (op) {
    case integer::MATH_ADD: n = (int64_t)l + r; break;
    case integer::MATH_SUBTRACT: n = (int64_t)l - r; break;
    case integer::MATH_MULTIPLY: n = (int64_t)l * r; break;
    case integer::MATH_DIVIDE:
    case integer::MATH_REMAINDER:
        if (r == 0) error::raise_math(error::Math::zero_divide);
        n = op == integer::MATH_DIVIDE ? (int64_t)l / r : (int64_t)l % r;
        break;
    default: n = integer::do_math(l, r, op, nullptr); break;
    }
    return clamp(n);
}

cell* do_math(int32_t op) {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    if (l->type() != TYPE_TUPLE) {
        if (op == integer::MATH_SUBTRACT || op == integer::MATH_DIVIDE)
            scalar::not_related(integer::math_word(op), l->type());
        cell t = *l;
        *l = *r;
        *r = t;
    }
    int32_t n = count_of(l);
    uint8_t* b = bytes_of(l);
    switch (r->type()) {
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double x = float_::get(r);
        for (int32_t i = 0; i < n; i++) {
            double v = std::trunc(float_::do_math_op(b[i], x, op));
            b[i] = v != v ? 0 : v < 0 ? 0 : v > 255 ? 255 : (uint8_t)v;
        }
        return l;
    }
    case TYPE_INTEGER:
        for (int32_t i = 0; i < n; i++) b[i] = byte_op(b[i], integer::get(r), op);
        return l;
    case TYPE_TUPLE: {
        int32_t m = count_of(r);
        uint8_t rb[MAX_BYTES];
        memcpy(rb, bytes_of(r), MAX_BYTES);
        int32_t count = m > n ? m : n;
        for (int32_t i = 0; i < count; i++) b[i] = byte_op(i < n ? b[i] : 0, i < m ? rb[i] : 0, op);
        l->header = (l->header & ~COUNT_MASK) | ((uint32_t)count << COUNT_SHIFT);
        return l;
    }
    default: scalar::invalid_type(r);
    }
}

static cell* add() { return do_math(integer::MATH_ADD); }
static cell* subtract() { return do_math(integer::MATH_SUBTRACT); }
static cell* multiply() { return do_math(integer::MATH_MULTIPLY); }
static cell* divide() { return do_math(integer::MATH_DIVIDE); }
static cell* remainder() { return do_math(integer::MATH_REMAINDER); }
static cell* and_() { return do_math(integer::MATH_AND); }
static cell* or_() { return do_math(integer::MATH_OR); }
static cell* xor_() { return do_math(integer::MATH_XOR); }

// --- make / to ------------------------------------------------------------------------

[[noreturn]] static void bad_to_arg(cell* spec) {
    scalar::raise_type_value(error::Script::bad_to_arg, TYPE_TUPLE, spec);
}

static int32_t hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

cell* make(cell* target, cell* spec, int32_t type) {
    uint8_t v[MAX_BYTES] = {};
    int32_t n = 0;
    switch (spec->type()) {
    case TYPE_TUPLE: return cell::copy(spec, target);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        n = block::length_of(spec);
        if (n > MAX_BYTES) bad_to_arg(spec);
        for (int32_t i = 0; i < n; i++) {
            const cell* c = block::head_cell(spec) + i;
            double x;
            if (c->type() == TYPE_INTEGER || c->type() == TYPE_CHAR) x = integer::get(c);
            else if (c->type() == TYPE_FLOAT) x = std::trunc(float_::get(c));
            else bad_to_arg(spec);
            if (!(x >= 0 && x <= 255)) bad_to_arg(spec);
            v[i] = (uint8_t)x;
        }
        break;
    }
    case TYPE_ISSUE: {
        const char* s = symbol::to_cstr(word::symbol_of(spec));
        size_t len = strlen(s);
        if (len != 3 && len != 6 && len != 8) error::raise_script(error::Script::invalid_data, spec);
        for (size_t i = 0; i < len; i++)
            if (hex_digit(s[i]) < 0) error::raise_script(error::Script::invalid_data, spec);
        if (len == 3) {
            for (int i = 0; i < 3; i++) v[i] = (uint8_t)(hex_digit(s[i]) * 17);
            n = 3;
        } else {
            n = (int32_t)len / 2;
            for (int32_t i = 0; i < n; i++) v[i] = (uint8_t)(hex_digit(s[2 * i]) * 16 + hex_digit(s[2 * i + 1]));
        }
        break;
    }
    case TYPE_BINARY: {
        const memory::Buffer* b = series::buffer_of(spec);
        int32_t head = (int32_t)spec->data1;
        uint32_t h = head < 0 ? 0 : (uint32_t)head, used = b->used_bytes();
        n = h < used ? (int32_t)(used - h) : 0;
        if (n > MAX_BYTES) n = MAX_BYTES;
        memcpy(v, b->head + h, (size_t)n);
        break;
    }
    default:
        if (scalar::is_text(spec->type())) return scalar::from_text(target, spec, TYPE_TUPLE);
        bad_to_arg(spec);
    }
    return make_at(target, n < 3 ? 3 : n, v);
}

// --- Text, compare --------------------------------------------------------------------

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    char text[4 * MAX_BYTES + 1] = "";
    const uint8_t* b = bytes_of(value);
    for (int32_t i = 0; i < count_of(value); i++) {
        if (i) strcat(text, ".");
        strcat(text, integer::to_cstr(b[i]));
    }
    return scalar::append(out, text, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_TUPLE) return NOT_COMPARABLE;
    int32_t n = count_of(a) > count_of(b) ? count_of(a) : count_of(b);
    const uint8_t *x = bytes_of(a), *y = bytes_of(b);
    for (int32_t i = 0; i < n; i++)  // bytes past a count are zero
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

// --- Paths, pick and the rest ----------------------------------------------------------

cell* pick(cell* value, int32_t index, cell* index_cell) {
    if (index < 1 || index > count_of(value)) error::raise_out_of_range(index);
    return integer::make_at(value, bytes_of(value)[index - 1]);
}

static cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                       cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    if (element->type() != TYPE_INTEGER) {
        if (value) scalar::invalid_type(element);
        scalar::invalid_path(path, element);
    }
    int32_t i = integer::get(element);
    if (!value) {
        if (i < 1 || i > count_of(parent)) error::raise_out_of_range(i);
        return integer::push(bytes_of(parent)[i - 1]);
    }
    if (i < 1 || i > MAX_BYTES) error::raise_out_of_range(i);
    cell old = *parent;
    uint8_t* b = bytes_of(parent);
    int32_t n = count_of(parent);
    if (value->type() == TYPE_INTEGER) {
        b[i - 1] = clamp(integer::get(value));
        if (i > n) n = i;
    } else if (value->type() == TYPE_NONE) {
        if (i <= n) {
            memset(b + i - 1, 0, (size_t)(MAX_BYTES - i + 1));
            n = i - 1 < 3 ? 3 : i - 1;
        }
    } else {
        scalar::invalid_type(value);
    }
    parent->header = (parent->header & ~COUNT_MASK) | ((uint32_t)n << COUNT_SHIFT);
    scalar::after_write(parent, &old, path, holder, element_cell, owner);
    return stack::push(value);
}

static cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    if (seed) {
        rnd::seed((int32_t)(value->data1 ^ value->data2 ^ value->data3));
        return unset::make_at(value);
    }
    uint8_t* b = bytes_of(value);
    for (int32_t i = 0; i < count_of(value); i++) b[i] = (uint8_t)(rnd::integer(secure, b[i] + 1) - 1);
    return value;
}

static cell* complement(cell* value) {
    uint8_t* b = bytes_of(value);
    for (int32_t i = 0; i < count_of(value); i++) b[i] = (uint8_t)~b[i];
    return value;
}

static int32_t length_of(cell* value) { return count_of(value); }

static cell* reverse(cell* value, cell* part, cell* skip) {
    int32_t n = count_of(value);
    if (stack::is_given(part) && part->type() == TYPE_INTEGER && integer::get(part) < n)
        n = integer::get(part) < 0 ? 0 : integer::get(part);
    uint8_t* b = bytes_of(value);
    for (int32_t i = 0, j = n - 1; i < j; i++, j--) {
        uint8_t t = b[i];
        b[i] = b[j];
        b[j] = t;
    }
    return value;
}

// --- registration --------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(make), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, on<A_ADD>(add), on<A_DIVIDE>(divide),
        on<A_MULTIPLY>(multiply), NO, NO,
        on<A_REMAINDER>(remainder), NO, on<A_SUBTRACT>(subtract),
        NO, NO, on<A_AND>(and_), on<A_COMPLEMENT>(complement), on<A_OR>(or_), on<A_XOR>(xor_),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_LENGTH_OF>(length_of), NO, NO,
        on<A_PICK>(pick), NO, NO, NO,                                                     // series
        on<A_REVERSE>(reverse), NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_TUPLE, 0, "tuple!", list);
}

}  // namespace tuple
