// bitset!: bit arrays with a complement flag, their specs, actions and text.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace bitset {

using namespace datatype;
using memory::Buffer;
using memory::Node;

namespace {

Buffer* buffer_of(const cell* b) { return node_of(b)->buffer; }
uint8_t fill_of(const cell* b) { return is_complemented(b) ? 0xFF : 0x00; }
uint8_t mask_of(uint32_t n) { return (uint8_t)(0x80u >> (n & 7)); }

[[noreturn]] void out_of_range(const cell* value) {
    cell v = *value;
    error::raise_script(error::Script::out_of_range, &v);
}

// Makes the array `bytes` long at least, the new bytes the fill byte.
uint8_t* cover(cell* b, uint32_t bytes) {
    Buffer* x = buffer_of(b);
    uint32_t used = x->used_bytes();
    if (bytes <= used) return x->head;
    uint8_t fill = fill_of(b);
    if (bytes > (uint32_t)(x->data_end() - x->head))
        x = memory::expand_series_filled(node_of(b), (int32_t)bytes, fill);
    memset(x->head + used, fill, bytes - used);
    x->tail = x->head + bytes;
    return x->head;
}

// The bit index a char!, integer! or float! names (floats truncated toward
// zero; one outside 32 bits raises out-of-range).
int64_t index_of_value(const cell* v) {
    if (v->type() == TYPE_FLOAT) {
        double d = cell::get_float(v);
        if (!(d > -2147483649.0 && d < 2147483648.0)) out_of_range(v);
        return (int64_t)d;
    }
    return (int32_t)v->data2;
}

bool is_index_type(uint8_t t) { return t == TYPE_CHAR || t == TYPE_INTEGER || t == TYPE_FLOAT; }

bool is_dash(const cell* c) {
    return c->type() == TYPE_WORD &&
           symbol::resolve(word::symbol_of(c)) == symbol::resolve(words::sym_dash);
}

// One bit; n >= 0.
int32_t bit_op(cell* b, uint32_t n, int32_t op) {
    switch (op) {
        case SET:
            if (!is_complemented(b)) grow(b, n);  // a complemented one has it past its tail
            if (!is_out_of_range(b, n)) rs_head(b)[n >> 3] |= mask_of(n);
            return (int32_t)n;
        case CLEAR:
            if (is_complemented(b)) grow(b, n);
            if (!is_out_of_range(b, n)) rs_head(b)[n >> 3] &= (uint8_t)~mask_of(n);
            return (int32_t)n;
        case TEST:
            return is_member(b, n);
        default:
            return (int32_t)n;
    }
}

[[noreturn]] void bad_spec(const cell* value, int32_t mode) {
    cell v = *value;
    if (mode == MODE_ACTION) error::raise_script(error::Script::invalid_arg, &v);
    cell dt;
    datatype::make_at(&dt, TYPE_BITSET);
    error::raise_script(mode == MODE_TO ? error::Script::bad_to_arg : error::Script::bad_make_arg,
                        &dt, &v);
}

// The values of a block; `held` is a rooted block cell.
int32_t block_op(cell* held, cell* b, int32_t op, int32_t mode) {
    int32_t highest = -1;
    for (int32_t i = (int32_t)held->data1; i < block::total_cells(series::node_of(held));) {
        int32_t total = block::total_cells(series::node_of(held));
        const cell* cells = block::cells_of(series::node_of(held));
        cell first = cells[i];
        int32_t r;
        if ((first.type() == TYPE_CHAR || first.type() == TYPE_INTEGER) && i + 1 < total &&
            is_dash(&cells[i + 1])) {
            if (i + 2 >= total) error::raise_script(error::Script::past_end);
            cell last = cells[i + 2];
            if (last.type() != first.type()) error::raise_script(error::Script::invalid_arg, &last);
            int32_t lo = (int32_t)first.data2, hi = (int32_t)last.data2;
            if (hi < lo) error::raise_script(error::Script::past_end);
            r = range_op(b, lo, hi, op);
            i += 3;
        } else {
            stack::TopMark mark;
            r = process(stack::push(&first), b, op, true, mode);
            i++;
        }
        if (op == TEST) {
            if (!r) return 0;
        } else if (r > highest) {
            highest = r;
        }
    }
    return op == TEST ? 1 : highest;
}

}  // namespace

// --- Access ---------------------------------------------------------------------------

bool is_complemented(const cell* b) { return (buffer_of(b)->flags & memory::FLAG_COMPLEMENTED) != 0; }
uint8_t* rs_head(const cell* b) { return buffer_of(b)->head; }
uint8_t* rs_tail(const cell* b) { return buffer_of(b)->tail; }
uint32_t byte_length(const cell* b) { return buffer_of(b)->used_bytes(); }
int32_t length_of(cell* b) { return (int32_t)(byte_length(b) * 8); }

bool is_member(const cell* b, int64_t n) {
    if (is_out_of_range(b, n)) return is_complemented(b);
    return (rs_head(b)[n >> 3] & mask_of((uint32_t)n)) != 0;
}

uint8_t* grow(cell* b, uint32_t n) { return cover(b, n / 8 + 1); }

bool is_out_of_range(const cell* b, int64_t n) {
    return n < 0 || (uint64_t)(n >> 3) >= byte_length(b);
}

void invert_bytes(uint8_t* from, uint8_t* to) {
    for (uint8_t* p = from; p < to; p++) *p = (uint8_t)~*p;
}

// --- Making ---------------------------------------------------------------------------------

cell* make_at(cell* c, Node* node) {
    cell::set_header(c, TYPE_BITSET);
    c->data1 = 0;
    c->data2 = (uint32_t)(uintptr_t)node;
    c->data3 = 0;
    return c;
}

cell* push_new(uint32_t bytes, uint8_t fill, bool complemented) {
    cell* c = stack::push_cell();
    Node* node = memory::alloc_bytes_filled((int32_t)bytes, fill);
    Buffer* x = node->buffer;
    x->tail = x->head + bytes;
    if (complemented) x->flags |= memory::FLAG_COMPLEMENTED;
    return make_at(c, node);
}

// A copy of a rooted bitset (flag included, not owned), pushed.
static cell* push_copy(const cell* source) {
    uint32_t n = byte_length(source);
    cell* c = push_new(n, 0, false);
    Buffer* from = buffer_of(source);  // read again: the allocation may have collected
    Buffer* to = buffer_of(c);
    memcpy(to->head, from->head, n);
    to->flags |= from->flags & memory::FLAG_COMPLEMENTED;
    return c;
}

int32_t range_op(cell* b, int32_t lo, int32_t hi, int32_t op) {
    if (op == TEST) {
        // Indexes past the array (or below 0) all answer the flag.
        int64_t inside = (int64_t)byte_length(b) * 8 - 1;
        if ((lo < 0 || hi > inside) && !is_complemented(b)) return 0;
        for (int64_t n = std::max<int64_t>(lo, 0); n <= std::min<int64_t>(hi, inside); n++)
            if (!is_member(b, n)) return 0;
        return 1;
    }
    if (lo < 0) error::raise_out_of_range(lo);
    if (op == MEASURE) return hi;
    if ((op == SET) != is_complemented(b)) grow(b, (uint32_t)hi);
    uint8_t* bytes = rs_head(b);
    int64_t last = std::min<int64_t>(hi, (int64_t)byte_length(b) * 8 - 1);
    for (int64_t n = lo; n <= last; n++) {
        if (op == SET) bytes[n >> 3] |= mask_of((uint32_t)n);
        else bytes[n >> 3] &= (uint8_t)~mask_of((uint32_t)n);
    }
    return hi;
}

int32_t string_op(const cell* text, cell* b, int32_t op) {
    cell s = *text;
    uint32_t w = string::width_of(&s);
    int32_t n = string::length_of(&s);
    int32_t highest = -1;
    const uint8_t* p = string::head_pointer(&s);
    for (int32_t i = 0; i < n; i++) {
        int32_t cp = string::get_char(p + (size_t)i * w, w);
        if (op == TEST && !is_member(b, cp)) return 0;
        highest = std::max(highest, cp);
    }
    if (op == TEST) return 1;
    if (op == MEASURE || highest < 0) return highest;
    // Grown once, before any character is applied.
    if ((op == SET) != is_complemented(b)) grow(b, (uint32_t)highest);
    s = *text;  // read again: growing may have moved buffers
    p = string::head_pointer(&s);
    uint8_t* bytes = rs_head(b);
    uint32_t limit = byte_length(b);
    for (int32_t i = 0; i < n; i++) {
        uint32_t cp = (uint32_t)string::get_char(p + (size_t)i * w, w);
        if ((cp >> 3) >= limit) continue;
        if (op == SET) bytes[cp >> 3] |= mask_of(cp);
        else bytes[cp >> 3] &= (uint8_t)~mask_of(cp);
    }
    return highest;
}

int32_t process(const cell* value, cell* b, int32_t op, bool nested, int32_t mode) {
    stack::TopMark mark;
    cell v = *value;
    int32_t result;
    if (is_index_type(v.type())) {
        int64_t n = index_of_value(&v);
        if (n < 0) {
            if (op == TEST) return is_complemented(b);
            out_of_range(&v);
        }
        result = bit_op(b, (uint32_t)n, op);
    } else if (v.type() == TYPE_STRING) {
        result = string_op(stack::push(&v), b, op);
    } else if (v.type() == TYPE_BLOCK) {
        result = block_op(stack::push(&v), b, op, mode);
    } else if (v.type() == TYPE_BINARY) {
        error::raise_internal(error::Internal::not_done);  // only make takes binary specs
    } else {
        bad_spec(&v, mode);
    }
    if (!nested && (op == MEASURE || op == SET)) {
        int64_t size = std::max<int64_t>(((int64_t)result + 8) / 8, 1);
        if (op == SET) cover(b, (uint32_t)size);
        return (int32_t)size;
    }
    return result;
}

cell* make_from_spec(cell* target, const cell* spec, int32_t mode) {
    stack::TopMark mark;
    cell* s = stack::push(spec);
    bool complemented = false;
    if (s->type() == TYPE_BLOCK && !block::is_tail(s) && block::head_cell(s)->type() == TYPE_WORD &&
        symbol::resolve(word::symbol_of(block::head_cell(s))) == symbol::resolve(words::sym_not)) {
        complemented = true;
        s->data1++;
        if (!block::is_tail(s) && block::head_cell(s)->type() == TYPE_BINARY) {
            cell bin = *block::head_cell(s);
            *s = bin;
        }
    }
    cell* made;
    switch (s->type()) {
        case TYPE_BITSET:
            made = push_copy(s);
            break;
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (mode == MODE_TO) bad_spec(s, mode);
            int64_t n = index_of_value(s);
            if (n < 0) out_of_range(s);
            made = push_new((uint32_t)((n + 7) / 8), 0, false);
            break;
        }
        case TYPE_BINARY: {
            Buffer* x = series::buffer_of(s);
            uint32_t h = s->data1, used = x->used_bytes();
            uint32_t n = h < used ? used - h : 0;
            made = push_new(n, 0, complemented);
            x = series::buffer_of(s);  // read again after the allocation
            uint8_t* to = rs_head(made);
            memcpy(to, x->head + h, n);
            if (complemented) invert_bytes(to, to + n);
            break;
        }
        default: {
            int32_t size = process(s, nullptr, MEASURE, false, mode);
            made = push_new((uint32_t)size, complemented ? 0xFF : 0x00, complemented);
            process(s, made, complemented ? CLEAR : SET, false, mode);
        }
    }
    cell result = *made;
    *target = result;
    return target;
}

// --- Bitwise actions and set operations -------------------------------------------------------

// op applied to one pair of bytes (or flags, as 0x00/0xFF).
static uint8_t apply(int32_t op, uint8_t x, uint8_t y) {
    switch (op) {
        case 5: case 9: return x | y;
        case 6: case 10: return x & y;
        case 7: case 12: return x ^ y;
        default: return x & (uint8_t)~y;  // 11: exclude
    }
}

cell* combine(int32_t op, cell* a, const cell* b) {
    if (op == 8) return a;  // unique
    if (b->type() != TYPE_BITSET) {
        cell dt;
        datatype::make_at(&dt, b->type());
        error::raise_script(error::Script::invalid_type, &dt);
    }
    stack::TopMark mark;
    cell* x = stack::push(a);
    cell* y = stack::push(b);
    // Each operand stands for its bytes followed by its fill byte for ever:
    // the shorter one is extended with its fill, and the flag of the result
    // is the operation on the two flags.
    uint8_t fx = fill_of(x), fy = fill_of(y);
    uint8_t fr = apply(op, fx, fy);
    uint32_t lx = byte_length(x), ly = byte_length(y);
    uint32_t length = std::max(lx, ly);
    // and~ keeps the shorter length when the bytes past it can only be 0
    // in a plain result: the shorter operand is plain.
    if (op == 6 && (lx <= ly ? fx : fy) == 0) length = std::min(lx, ly);
    cell* r = push_new(length, 0, fr != 0);
    const uint8_t* px = rs_head(x);
    const uint8_t* py = rs_head(y);
    uint8_t* pr = rs_head(r);
    for (uint32_t i = 0; i < length; i++)
        pr[i] = apply(op, i < lx ? px[i] : fx, i < ly ? py[i] : fy);
    cell result = *r;
    *a = result;
    return a;
}

cell* do_bitwise(int32_t op) { return combine(op, stack::arg(0), stack::arg(1)); }

// --- Text ------------------------------------------------------------------------------------

int32_t form_hex(const cell* b, cell* out, bool invert, bool part, int32_t limit) {
    uint32_t n = byte_length(b);
    for (uint32_t i = 0; i < n; i++) {
        uint8_t byte = rs_head(b)[i];  // read again: appending may collect
        if (invert) byte = (uint8_t)~byte;
        string::concatenate_bytes(out, string::byte_to_hex(byte), 2);
        limit -= 2;
        if (part && limit < 0) break;
    }
    return limit;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    stack::TopMark mark;
    cell* b = stack::push(value);
    bool has_part = stack::is_given(part);
    bool complemented = is_complemented(b);
    string::concatenate_cstr(out, "make bitset! ");
    limit -= 13;
    if (complemented) {
        string::concatenate_cstr(out, "[not ");
        limit -= 5;
    }
    string::concatenate_cstr(out, "#{");
    limit -= 2;
    limit = form_hex(b, out, complemented, has_part, limit);
    if (has_part && limit < 1) return limit;
    string::concatenate_cstr(out, complemented ? "}]" : "}");
    return limit - (complemented ? 2 : 1);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

// --- Actions -----------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) { return make_from_spec(target, spec, MODE_MAKE); }
cell* to(cell* target, cell* spec, int32_t type) { return make_from_spec(target, spec, MODE_TO); }

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    if (element->type() != TYPE_INTEGER && element->type() != TYPE_CHAR) {
        cell dt;
        datatype::make_at(&dt, element->type());
        error::raise_script(error::Script::invalid_type, &dt);
    }
    cell* r = stack::push(parent);
    cell* key = stack::push(element);
    if (get || !value) return pick(r, -1, key);
    return poke(r, -1, stack::push(value), key);
}

// Membership, not storage: arrays of different lengths that stand for the
// same set compare equal (each is read past its tail as its fill byte).
int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_BITSET) return NOT_COMPARABLE;
    if (op == OP_SAME) return a->data2 == b->data2 ? 0 : 1;
    bool fa = is_complemented(a), fb = is_complemented(b);
    if (fa != fb) return fa ? 1 : -1;  // the plain one is lower
    uint32_t la = byte_length(a), lb = byte_length(b);
    uint8_t fill = fa ? 0xFF : 0x00;
    const uint8_t* pa = rs_head(a);
    const uint8_t* pb = rs_head(b);
    for (uint32_t i = std::max(la, lb); i-- > 0;) {
        uint8_t x = i < la ? pa[i] : fill, y = i < lb ? pb[i] : fill;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

cell* complement(cell* value) {
    stack::TopMark mark;
    cell* c = push_copy(value);
    invert_bytes(rs_head(c), rs_tail(c));
    buffer_of(c)->flags ^= memory::FLAG_COMPLEMENTED;
    cell result = *c;
    *value = result;
    return value;
}

cell* negate(cell* value) { return complement(value); }
cell* and_() { return do_bitwise(6); }
cell* or_() { return do_bitwise(5); }
cell* xor_() { return do_bitwise(7); }

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    stack::TopMark mark;
    cell* v = stack::push(value);
    bool owned = ownership::check(series, ownership::INSERT, -1, 1, v);
    int32_t size = process(v, series, SET, false, MODE_ACTION);
    if (owned) ownership::check(series, ownership::INSERTED, size, 1, v);
    return series;
}

// Empties the set: every byte 0 and the complement flag off (clearing a
// complemented bitset to its fill byte would leave every integer in it).
cell* clear(cell* series) {
    bool owned = ownership::check(series, ownership::CLEAR, -1, -1);
    Buffer* x = buffer_of(series);
    memset(x->head, 0, x->used_bytes());
    x->flags &= ~memory::FLAG_COMPLEMENTED;
    if (owned) ownership::check(series, ownership::CLEARED, -1, -1);
    return series;
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    stack::TopMark mark;
    cell* source = stack::push(value);
    cell made = *push_copy(source);
    *result = made;
    return result;
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (process(value, series, TEST, false, MODE_ACTION)) return logic::make_at(series, true);
    return series::make_none(series);
}

cell* pick(cell* series, int32_t index, cell* index_cell) {
    return logic::make_at(series, process(index_cell, series, TEST, false, MODE_ACTION) != 0);
}

static bool is_false_value(const cell* v) {
    switch (v->type()) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return v->data1 == 0;
        case TYPE_INTEGER: return v->data2 == 0;
        case TYPE_FLOAT: return cell::get_float(v) == 0.0;
        default: return false;
    }
}

cell* poke(cell* series, int32_t index, cell* value, cell* index_cell) {
    stack::TopMark mark;
    cell* v = stack::push(value);
    cell* spec = stack::push(index_cell);
    int32_t at = is_index_type(spec->type()) && spec->type() != TYPE_FLOAT ? (int32_t)spec->data2 : -1;
    bool owned = ownership::check(series, ownership::POKE, at, 1, v);
    process(spec, series, is_false_value(v) ? CLEAR : SET, false, MODE_ACTION);
    if (owned) ownership::check(series, ownership::POKED, at, 1, v);
    cell result = *v;
    *series = result;
    return series;
}

// Takes the part argument's members out of the set, whatever the flag
// (setting bits would add members to a complemented bitset).
cell* remove(cell* series, cell* part, cell* key) {
    if (!stack::is_given(part)) error::raise_script(error::Script::missing_arg);
    stack::TopMark mark;
    cell* v = stack::push(part);
    bool owned = ownership::check(series, ownership::REMOVE, 0, 1, v);
    process(v, series, CLEAR, false, MODE_ACTION);
    if (owned) ownership::check(series, ownership::REMOVED, 0, 1, v);
    return series;
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, on<A_REFLECT>(series::reflect), on<A_TO>(to), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, on<A_NEGATE>(negate), NO, NO, NO, NO, NO, NO,                  // math
        on<A_AND>(and_), on<A_COMPLEMENT>(complement), on<A_OR>(or_), on<A_XOR>(xor_),
        on<A_APPEND>(insert), NO, NO, NO, on<A_CLEAR>(clear), on<A_COPY>(copy),           // series
        on<A_FIND>(find), NO, NO, NO, on<A_INSERT>(insert), on<A_LENGTH_OF>(length_of), NO, NO,
        on<A_PICK>(pick), on<A_POKE>(poke), NO, on<A_REMOVE>(remove),
        NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, on<A_MODIFY>(series::modify), NO, NO, NO, NO, NO, NO, NO,            // I/O
    };
    // clang-format on
    define(TYPE_BITSET, 0, "bitset!", list);
}

}  // namespace bitset
