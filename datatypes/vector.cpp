// vector!: see vector.h.
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/ownership.h"

namespace vector {

using memory::Buffer;
using memory::Node;
using namespace datatype;

[[noreturn]] static void no_memory() { memory::raise_internal(memory::Internal::no_memory); }

static uint32_t checked_bytes(uint64_t count, uint64_t width) {
    if (count * width > 0x7FFFFFF0u) no_memory();
    return (uint32_t)(count * width);
}

// --- Raw elements: one reader and one writer for every width ------------------------------

static int32_t read_int(const uint8_t* p, uint32_t w) {
    switch (w) {
        case 1: return (int8_t)p[0];
        case 2: {
            int16_t v;
            memcpy(&v, p, 2);
            return v;
        }
        default: {
            int32_t v;
            memcpy(&v, p, 4);
            return v;
        }
    }
}

static double read_double(const uint8_t* p, uint32_t w) {
    if (w == 4) {
        float f;
        memcpy(&f, p, 4);
        return f;
    }
    double d;
    memcpy(&d, p, 8);
    return d;
}

// The low w bytes of the 32-bit value (little-endian on both targets).
static void write_int(uint8_t* p, uint32_t w, int32_t v) { memcpy(p, &v, w); }

static void write_double(uint8_t* p, uint32_t w, double d) {
    if (w == 4) {
        float f = (float)d;
        memcpy(p, &f, 4);
    } else {
        memcpy(p, &d, 8);
    }
}

// A double as a 32-bit integer without undefined behaviour: truncated,
// saturated, NaN as 0.
static int32_t to_int(double d) {
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return (int32_t)d;
}

static uint32_t width_of(const cell* v) { return series::unit_of(v); }
static uint32_t head_index(cell* v) {
    int32_t h = series::units_from_head(v, false);  // clamps the head
    (void)h;
    return (int32_t)v->data1 < 0 ? 0 : v->data1;
}

int32_t rs_length(cell* v) { return series::units_from_head(v, false); }

static uint8_t* element(const cell* v, uint32_t index) {
    return series::buffer_of(v)->head + (size_t)index * width_of(v);
}

cell* get_value(const cell* v, uint32_t index, cell* out) {
    uint8_t t = element_type(v);
    const uint8_t* p = element(v, index);
    if (is_float_type(t)) {
        out->header = t;
        out->data1 = 0;
        cell::set_float(out, read_double(p, width_of(v)));
        return out;
    }
    int32_t n = read_int(p, width_of(v));
    return t == TYPE_CHAR ? series::make_char(out, n) : series::make_integer(out, n);
}

static bool is_number(uint8_t t) {
    return t == TYPE_CHAR || t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}

[[noreturn]] static void invalid_type(const cell* value) {
    cell type;
    datatype::make_at(&type, value->type());
    error::raise_script(error::Script::invalid_type, &type);
}

// The bytes of one element of type `t` and width `w` holding `value`.
static void encode(uint8_t* p, uint8_t t, uint32_t w, const cell* value) {
    uint8_t vt = value->type();
    if (!is_number(vt)) invalid_type(value);
    bool fv = is_float_type(vt);
    if (is_float_type(t))
        write_double(p, w, fv ? cell::get_float(value) : (double)(int32_t)value->data2);
    else
        write_int(p, w, fv ? to_int(cell::get_float(value)) : (int32_t)value->data2);
}

void set_value(cell* v, uint32_t index, const cell* value) {
    encode(element(v, index), element_type(v), width_of(v), value);
}

cell* make_at(cell* c, uint8_t type, int32_t count, uint32_t width) {
    if (count < 0) error::raise_out_of_range(count);
    uint32_t bytes = checked_bytes((uint64_t)count, width);
    unset::make_at(c);
    Node* node = memory::alloc_series(count ? count : 1, width, 0);
    Buffer* b = node->buffer;
    memset(b->head, 0, bytes);
    b->tail = b->head + bytes;
    series::make_at(c, TYPE_VECTOR, node, 0);
    c->data3 = type;
    return c;
}

// Room for `bytes` more after the tail.
static Buffer* room_for(Node* node, uint32_t bytes) {
    Buffer* b = node->buffer;
    if ((uint32_t)(b->data_end() - b->tail) >= bytes) return b;
    uint64_t need = (uint64_t)b->used_bytes() + bytes;
    if (need > 0x7FFFFFF0u) no_memory();
    uint64_t capacity = need * 2 > 0x7FFFFFF0u ? need : need * 2;
    return memory::expand_series_copy(node, (int32_t)capacity);
}

void append_value(cell* v, const cell* value) {
    if (value->type() != element_type(v)) error::raise_script(error::Script::invalid_arg, value);
    uint32_t w = width_of(v);
    cell copy = *value;  // the value may not survive the growth where it lies
    Buffer* b = room_for(series::node_of(v), w);
    encode(b->tail, element_type(v), w, &copy);
    b->tail += w;
}

cell* to_block(cell* v) {
    cell* held = stack::push(v);
    int32_t n = rs_length(held);
    cell* r = block::push_new(n);
    for (int32_t i = 0; i < n; i++) {
        cell e;
        get_value(held, head_index(held) + (uint32_t)i, &e);
        block::append_cell_copy(series::node_of(r), &e);
    }
    cell done = *r;
    stack::arguments.top = held;  // the result takes the place of what was pushed
    return stack::push(&done);
}

// --- make ------------------------------------------------------------------------------

[[noreturn]] static void bad_make(const cell* spec) {
    cell t;
    datatype::make_at(&t, TYPE_VECTOR);
    error::raise_script(error::Script::bad_make_arg, &t, spec);
}

// The element type named by a word (or datatype!) cell, or 0.
static uint8_t named_type(const cell* c) {
    if (c->type() == TYPE_DATATYPE) {
        uint8_t t = (uint8_t)c->data1;
        return is_number(t) ? t : 0;
    }
    if (c->type() != TYPE_WORD) return 0;
    const char* name = symbol::to_cstr(word::symbol_of(c));
    if (!strcasecmp(name, "char!")) return TYPE_CHAR;
    if (!strcasecmp(name, "integer!")) return TYPE_INTEGER;
    if (!strcasecmp(name, "float!")) return TYPE_FLOAT;
    if (!strcasecmp(name, "percent!")) return TYPE_PERCENT;
    return 0;
}

static uint32_t default_width(uint8_t t) { return is_float_type(t) ? 8 : 4; }

// Fills a new vector in `target` from the values of a block (from its head),
// starting at element 0; the length grows to the number of values.
static void fill(cell* target, cell* values) {
    int32_t n = block::length_of(values);
    int32_t h = (int32_t)values->data1;
    uint32_t w = width_of(target);
    int32_t have = rs_length(target);
    if (n > have) room_for(series::node_of(target), checked_bytes((uint64_t)(n - have), w));
    Buffer* b = series::buffer_of(target);
    if (n > have) {
        memset(b->tail, 0, (size_t)(n - have) * w);
        b->tail += (size_t)(n - have) * w;
    }
    for (int32_t i = 0; i < n; i++) {
        cell v = block::cells_of(series::node_of(values))[h + i];
        set_value(target, (uint32_t)i, &v);
    }
}

static cell* make_typed(cell* target, cell* spec) {
    Node* node = series::node_of(spec);
    int32_t h = (int32_t)spec->data1;
    int32_t n = block::length_of(spec);
    auto at = [&](int32_t i) { return &block::cells_of(node)[h + i]; };
    uint8_t t = named_type(at(0));
    if (!t || n < 2) bad_make(spec);
    int32_t i = 1;
    uint32_t width = default_width(t);
    if (t == TYPE_PERCENT) {
        // The bit size is ignored and may be left out.
        if (at(1)->type() == TYPE_INTEGER && n >= 3 &&
            (at(1)->data2 == 32 || at(1)->data2 == 64))
            i = 2;
    } else {
        if (at(1)->type() != TYPE_INTEGER) error::raise_script(error::Script::invalid_spec_field, spec);
        int32_t bits = (int32_t)at(1)->data2;
        bool ok = is_float_type(t) ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 32;
        if (!ok) bad_make(spec);
        width = (uint32_t)bits / 8;
        i = 2;
    }
    int32_t count = 0;
    cell* values = nullptr;
    if (i < n && at(i)->type() == TYPE_INTEGER) {
        count = (int32_t)at(i)->data2;
        i++;
    } else if (!(i < n && at(i)->type() == TYPE_BLOCK)) {
        error::raise_script(error::Script::invalid_spec_field, spec);
    }
    if (i < n) {
        if (at(i)->type() != TYPE_BLOCK) error::raise_script(error::Script::invalid_spec_field, spec);
        values = stack::push(at(i));
    }
    make_at(target, t, count, width);
    if (values) fill(target, values);
    return target;
}

cell* make(cell* target, cell* spec, int32_t type) {
    stack::TopMark mark;
    cell* s = stack::push(spec);
    cell* r = stack::push_cell();
    switch (s->type()) {
        case TYPE_INTEGER:
            make_at(r, TYPE_INTEGER, (int32_t)s->data2, 4);
            break;
        case TYPE_FLOAT: {
            double d = cell::get_float(s);
            if (!(d >= 0) || d > 2147483647.0) error::raise_script(error::Script::out_of_range, s);
            make_at(r, TYPE_INTEGER, (int32_t)d, 4);
            break;
        }
        case TYPE_BLOCK: {
            if (block::length_of(s) == 0) {
                make_at(r, TYPE_INTEGER, 0, 4);
                break;
            }
            cell first = block::cells_of(series::node_of(s))[s->data1];
            if (first.type() == TYPE_WORD) {
                make_typed(r, s);
                break;
            }
            uint8_t t = first.type();
            if (!is_number(t)) invalid_type(&first);
            make_at(r, t, 0, default_width(t));
            for (int32_t i = 0, n = block::length_of(s); i < n; i++) {
                cell v = block::cells_of(series::node_of(s))[s->data1 + (uint32_t)i];
                append_value(r, &v);
            }
            break;
        }
        default:
            error::raise_internal(error::Internal::not_done);
    }
    *target = *r;
    return target;
}

// --- Text -------------------------------------------------------------------------------------

static const char* type_name(uint8_t t) {
    return t == TYPE_CHAR ? "char!" : t == TYPE_INTEGER ? "integer!" : t == TYPE_FLOAT ? "float!" : "percent!";
}

// The elements from the head, separated by blanks; chars molded with `mold_chars`.
static int32_t elements(cell* v, cell* out, bool mold_chars, int32_t limit) {
    int32_t n = rs_length(v);
    uint32_t h = head_index(v), w = width_of(v);
    uint8_t t = element_type(v);
    std::string text;
    for (int32_t i = 0; i < n && limit > 0; i++) {
        if (i) text += ' ', limit--;
        size_t before = text.size();
        const uint8_t* p = element(v, h + (uint32_t)i);
        if (t == TYPE_FLOAT) {
            text += float_::form_float(read_double(p, w), w == 4 ? float_::FORM_SINGLE : float_::FORM_DOUBLE);
        } else if (t == TYPE_PERCENT) {
            text += float_::form_float(read_double(p, w) * 100.0,
                                       w == 4 ? float_::FORM_SINGLE_PERCENT : float_::FORM_PERCENT);
        } else if (t == TYPE_INTEGER) {
            text += std::to_string(read_int(p, w));
        } else {
            // Characters go through the char! text forms.
            string::concatenate_bytes(out, text.data(), (uint32_t)text.size());
            text.clear();
            cell c;
            series::make_char(&c, read_int(p, w));
            limit = mold_chars ? actions::mold_typed(&c, out, false, false, false, nullptr, limit, 0)
                               : actions::form_typed(&c, out, nullptr, limit);
            continue;
        }
        limit -= (int32_t)(text.size() - before);
    }
    if (limit < 0) text.resize(text.size() - (size_t)-limit);  // cut at the limit
    string::concatenate_bytes(out, text.data(), (uint32_t)text.size());
    return limit;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return elements(value, out, false, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    auto text = [&](const char* s) {
        string::concatenate_cstr(out, s);
        limit -= (int32_t)strlen(s);
    };
    if (!only) text("make vector! [");
    uint8_t t = element_type(value);
    bool plain = rs_length(value) > 0 && width_of(value) == default_width(t);
    if (!plain) {
        text(type_name(t));
        text(" ");
        text(std::to_string(width_of(value) * 8).c_str());
        text(" [");
    }
    limit = elements(value, out, true, limit);
    if (!only) text(plain ? "]" : "]]");
    return limit;
}

// --- compare ------------------------------------------------------------------------------------

static int32_t compare_elements(cell* a, uint32_t i, cell* b, uint32_t j) {
    if (is_float_type(element_type(a))) {
        double x = read_double(element(a, i), width_of(a)), y = read_double(element(b, j), width_of(b));
        return x < y ? -1 : x > y ? 1 : 0;
    }
    int32_t x = read_int(element(a, i), width_of(a)), y = read_int(element(b, j), width_of(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_VECTOR) return NOT_COMPARABLE;
    if (element_type(a) != element_type(b)) error::raise_script(error::Script::not_same_type);
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == OP_SAME) return same ? 0 : 1;
    bool equality = op <= OP_STRICT_EQUAL || op == OP_FIND;
    if (same && equality) return 0;
    int32_t la = rs_length(a), lb = rs_length(b);
    if (equality && la != lb) return 1;
    uint32_t ha = head_index(a), hb = head_index(b);
    for (int32_t i = 0; i < std::min(la, lb); i++) {
        int32_t r = compare_elements(a, ha + (uint32_t)i, b, hb + (uint32_t)i);
        if (r) return r;
    }
    return la == lb ? 0 : la < lb ? -1 : 1;
}

// --- Math ----------------------------------------------------------------------------------------

enum Op { ADD, SUBTRACT, MULTIPLY, DIVIDE, REMAINDER, OR, AND, XOR };

// One integer operation; addition, subtraction and multiplication wrap.
static int32_t int_op(int32_t op, int32_t x, int32_t y) {
    switch (op) {
        case ADD: return (int32_t)((uint32_t)x + (uint32_t)y);
        case SUBTRACT: return (int32_t)((uint32_t)x - (uint32_t)y);
        case MULTIPLY: return (int32_t)((uint32_t)x * (uint32_t)y);
        case DIVIDE:
            if (y == 0) error::raise_math(error::Math::zero_divide);
            return (int32_t)((int64_t)x / y);
        case REMAINDER:
            if (y == 0) error::raise_math(error::Math::zero_divide);
            return (int32_t)((int64_t)x % y);
        case OR: return x | y;
        case AND: return x & y;
        default: return x ^ y;
    }
}

static double float_op(int32_t op, double x, double y) {
    if (op > REMAINDER) error::raise_internal(error::Internal::not_done);
    return float_::do_math_op(x, y, op);
}

cell* do_math_op(int32_t op, cell* v, cell* scalar) {
    bool left_scalar = v == stack::arg(1);
    uint8_t st = scalar->type();
    uint8_t t = element_type(v);
    if (st != TYPE_INTEGER && st != TYPE_FLOAT && st != TYPE_PERCENT && !(st == TYPE_CHAR && !is_float_type(t)))
        error::raise_internal(error::Internal::not_done);
    bool fs = is_float_type(st);
    double d = fs ? cell::get_float(scalar) : (double)(int32_t)scalar->data2;
    cell result = *v;
    bool identity = !left_scalar && (((op == ADD || op == SUBTRACT) && d == 0) ||
                                     ((op == MULTIPLY || op == DIVIDE) && d == 1));
    if (!identity) {
        uint32_t h = head_index(v), w = width_of(v);
        int32_t n = rs_length(v);
        int32_t k = fs ? to_int(d) : (int32_t)scalar->data2;
        for (int32_t i = 0; i < n; i++) {
            uint8_t* p = element(v, h + (uint32_t)i);
            if (is_float_type(t)) {
                double x = read_double(p, w);
                write_double(p, w, left_scalar ? float_op(op, d, x) : float_op(op, x, d));
            } else if (fs && op <= REMAINDER) {
                double x = read_int(p, w);
                write_int(p, w, to_int(left_scalar ? float_op(op, d, x) : float_op(op, x, d)));
            } else {
                int32_t x = read_int(p, w);
                write_int(p, w, left_scalar ? int_op(op, k, x) : int_op(op, x, k));
            }
        }
    }
    cell* slot = stack::arg(0);
    *slot = result;
    return slot;
}

cell* do_math(int32_t op) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (b->type() != TYPE_VECTOR) return do_math_op(op, a, b);
    if (a->type() != TYPE_VECTOR) return do_math_op(op, b, a);
    uint8_t t = element_type(a);
    if (t != element_type(b)) error::raise_script(error::Script::not_same_type);
    int32_t n = std::min(rs_length(a), rs_length(b));
    uint32_t w = std::max(width_of(a), width_of(b));
    cell r;
    make_at(stack::push_cell(), t, n, w);  // the operands stay rooted in the window
    r = *stack::get_top();
    uint32_t ha = head_index(a), hb = head_index(b), wa = width_of(a), wb = width_of(b);
    for (int32_t i = 0; i < n; i++) {
        const uint8_t* x = element(a, ha + (uint32_t)i);
        const uint8_t* y = element(b, hb + (uint32_t)i);
        uint8_t* out = element(&r, (uint32_t)i);
        if (is_float_type(t))
            write_double(out, w, float_op(op, read_double(x, wa), read_double(y, wb)));
        else
            write_int(out, w, int_op(op, read_int(x, wa), read_int(y, wb)));
    }
    stack::pop(1);
    *a = r;
    return a;
}

cell* add() { return do_math(ADD); }
cell* subtract() { return do_math(SUBTRACT); }
cell* multiply() { return do_math(MULTIPLY); }
cell* divide() { return do_math(DIVIDE); }
cell* remainder() { return do_math(REMAINDER); }
cell* do_or() { return do_math(OR); }
cell* do_and() { return do_math(AND); }
cell* do_xor() { return do_math(XOR); }

// --- insert, append, change --------------------------------------------------------------------------

// The encoded elements a value supplies (a block's values from its head, at
// most `part`; another vector's elements; else the value itself), repeated
// `dup` times. Everything is read before the target changes.
static std::string run_of(cell* target, cell* value, int32_t part, int32_t dup, bool vectors) {
    uint8_t t = element_type(target);
    uint32_t w = width_of(target);
    std::string one;
    uint8_t bytes[8];
    uint8_t vt = value->type();
    if (vt == TYPE_BLOCK || vt == TYPE_PAREN || vt == TYPE_HASH || (vectors && series::is_any_block(vt))) {
        int32_t n = block::length_of(value);
        if (part >= 0 && part < n) n = part;
        for (int32_t i = 0; i < n; i++) {
            cell c = block::cells_of(series::node_of(value))[value->data1 + (uint32_t)i];
            encode(bytes, t, w, &c);
            one.append((const char*)bytes, w);
        }
    } else if (vectors && vt == TYPE_VECTOR) {
        // Converted element by element (another type or width reads alike).
        for (int32_t i = 0, n = rs_length(value); i < n; i++) {
            cell c;
            get_value(value, head_index(value) + (uint32_t)i, &c);
            encode(bytes, t, w, &c);
            one.append((const char*)bytes, w);
        }
    } else {
        encode(bytes, t, w, value);
        one.append((const char*)bytes, w);
    }
    if (dup < 0) dup = 1;
    checked_bytes((uint64_t)one.size(), (uint64_t)dup);
    std::string run;
    run.reserve(one.size() * (size_t)dup);
    for (int32_t i = 0; i < dup; i++) run += one;
    return run;
}

static cell* insert_at(cell* series, cell* value, int32_t part, int32_t dup, bool append_) {
    std::string run = run_of(series, value, part, dup, false);
    if (run.empty()) return series;
    uint32_t w = width_of(series);
    uint32_t n = (uint32_t)run.size() / w;
    uint32_t units = series::buffer_units(series);
    uint32_t at = append_ ? units : head_index(series);
    bool owned = ownership::check(series, append_ ? ownership::APPEND : ownership::INSERT, (int32_t)at, (int32_t)n);
    units = series::buffer_units(series);
    if (at > units) at = units;
    Buffer* b = room_for(series::node_of(series), (uint32_t)run.size());
    uint8_t* p = b->head + (size_t)at * w;
    memmove(p + run.size(), p, (size_t)(b->tail - p));
    memcpy(p, run.data(), run.size());
    b->tail += run.size();
    if (owned) ownership::check(series, append_ ? ownership::APPENDED : ownership::INSERTED, (int32_t)at, (int32_t)n);
    series->data1 = append_ ? 0 : at + n;
    return series;
}

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, dup, false);
}

cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, dup, true);
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    std::string run = run_of(series, value, -1, dup, true);
    uint32_t w = width_of(series);
    uint32_t n = (uint32_t)run.size() / w;
    uint32_t h = head_index(series);
    bool owned = ownership::check(series, ownership::CHANGE, (int32_t)h, (int32_t)n);
    h = head_index(series);
    uint32_t rest = series::buffer_units(series) - h;
    uint32_t replaced = part >= 0 ? std::min((uint32_t)part, rest) : std::min(n, rest);
    Node* node = series::node_of(series);
    if (n > replaced) room_for(node, (n - replaced) * w);
    Buffer* b = node->buffer;
    uint8_t* p = b->head + (size_t)h * w;
    memmove(p + (size_t)n * w, p + (size_t)replaced * w, (size_t)(b->tail - p) - (size_t)replaced * w);
    memcpy(p, run.data(), run.size());
    b->tail = b->tail + (size_t)n * w - (size_t)replaced * w;
    if (owned) ownership::check(series, ownership::CHANGED, (int32_t)h, (int32_t)n);
    series->data1 = h + n;
    return series;
}

// --- Search and sort ---------------------------------------------------------------------------------

// Whether element i equals the value (numbers compare by value, chars only
// with chars).
static bool matches(cell* v, uint32_t i, const cell* value) {
    uint8_t t = element_type(v), vt = value->type();
    if ((t == TYPE_CHAR) != (vt == TYPE_CHAR) || !is_number(vt)) return false;
    const uint8_t* p = element(v, i);
    double x = is_float_type(t) ? read_double(p, width_of(v)) : (double)read_int(p, width_of(v));
    double y = is_float_type(vt) ? cell::get_float(value) : (double)(int32_t)value->data2;
    return x == y;
}

static int64_t search(cell* series, cell* value, cell* skip, bool last, bool reverse) {
    int32_t step = 1;
    if (stack::is_given(skip)) {
        step = skip->type() == TYPE_INTEGER ? (int32_t)skip->data2 : 0;
        if (step < 1) error::raise_script(error::Script::out_of_range, skip);
    }
    int64_t h = head_index(series), units = series::buffer_units(series);
    if (last) {
        for (int64_t i = units - 1; i >= h; i -= step)
            if (matches(series, (uint32_t)i, value)) return i;
    } else if (reverse) {
        for (int64_t i = h - 1; i >= 0; i -= step)
            if (matches(series, (uint32_t)i, value)) return i;
    } else {
        for (int64_t i = h; i < units; i += step)
            if (matches(series, (uint32_t)i, value)) return i;
    }
    return -1;
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    int64_t at = search(series, value, skip, last, reverse);
    if (at < 0 || (match && at != head_index(series))) return series::make_none(series);
    series->data1 = (uint32_t)(at + (tail ? 1 : 0));
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    int64_t at = search(series, value, skip, last, reverse);
    if (at < 0 || at + 1 >= series::buffer_units(series)) return series::make_none(series);
    cell e;
    get_value(series, (uint32_t)at + 1, &e);
    *series = e;
    return series;
}

cell* sort(cell* series, bool reverse) {
    uint32_t h = head_index(series), w = width_of(series);
    int32_t n = rs_length(series);
    bool owned = ownership::check(series, ownership::SORT, (int32_t)h, n);
    n = rs_length(series);
    h = head_index(series);
    std::vector<double> xs((size_t)n);
    for (int32_t i = 0; i < n; i++) {
        const uint8_t* p = element(series, h + (uint32_t)i);
        xs[(size_t)i] = is_float_type(element_type(series)) ? read_double(p, w) : read_int(p, w);
    }
    // NaNs last, whatever the order.
    std::stable_sort(xs.begin(), xs.end(), [&](double a, double b) {
        if (a != a) return false;
        if (b != b) return true;
        return reverse ? a > b : a < b;
    });
    for (int32_t i = 0; i < n; i++) {
        uint8_t* p = element(series, h + (uint32_t)i);
        if (is_float_type(element_type(series))) write_double(p, w, xs[(size_t)i]);
        else write_int(p, w, (int32_t)xs[(size_t)i]);
    }
    if (owned) ownership::check(series, ownership::SORTED, (int32_t)h, n);
    return series;
}

cell* take_one(cell* series) {
    cell e;
    get_value(series, 0, &e);
    *series = e;
    return series;
}

// --- Registration ------------------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), INHERIT, INHERIT, NO, on<A_FORM>(form), on<A_MOLD>(mold), INHERIT, NO,
        on<A_COMPARE>(compare),
        NO, on<A_ADD>(add), on<A_DIVIDE>(divide), on<A_MULTIPLY>(multiply), NO, NO,
        on<A_REMAINDER>(remainder), NO, on<A_SUBTRACT>(subtract), NO, NO,           // math
        on<A_AND>(do_and), NO, on<A_OR>(do_or), on<A_XOR>(do_xor),
        on<A_APPEND>(append), INHERIT, INHERIT, on<A_CHANGE>(change), INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, on<A_INSERT>(insert), INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO, INHERIT, INHERIT, INHERIT,
        NO,                                                                          // trim
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                             // I/O
    };
    // clang-format on
    define(TYPE_VECTOR, TYPE_STRING, "vector!", list);
}

}  // namespace vector
