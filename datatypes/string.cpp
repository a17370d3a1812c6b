#include "datatypes/string.h"

#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "platform/platform.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/dtoa.h"
#include "runtime/ownership.h"
#include "runtime/print.h"
#include "runtime/sort.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"
#include "runtime/unicode.h"

namespace string {

using namespace datatype;
using memory::Buffer;
using memory::Node;
using unicode::by_width;
using unicode::get_unit;
using unicode::put_unit;

// --- Access ---------------------------------------------------------------------------

static Node* node_of(const cell* v) { return series::node_of(v); }
static Buffer* buffer_of(const cell* v) { return series::buffer_of(v); }

static uint32_t checked_width(uint32_t w) {
    if (w != 1 && w != 2 && w != 4) sys::no_switch();
    return w;
}

int32_t get_char(const uint8_t* p, uint32_t width) {
    return by_width(width, [&](auto t) -> int32_t {
        return (int32_t)get_unit<typename decltype(t)::type>(p, 0);
    });
}

static void put_char(uint8_t* p, uint32_t width, int32_t cp) {
    by_width(width, [&](auto t) { put_unit<typename decltype(t)::type>(p, 0, (uint32_t)cp); });
}

uint32_t width_of(const cell* value) { return checked_width(buffer_of(value)->unit()); }

// Widths 1, 2 and 4 shift by width / 2.
static uint32_t units_of(const Buffer* b) {
    return (uint32_t)(b->tail - b->head) >> (checked_width(b->unit()) >> 1);
}

// Head index clamped to 0..units, written back.
static uint32_t head_within(cell* v, uint32_t units) {
    int32_t h = (int32_t)v->data1;
    if (h < 0) return 0;
    if ((uint32_t)h > units) {
        v->data1 = units;
        return units;
    }
    return (uint32_t)h;
}
static uint32_t head_index(cell* v) { return head_within(v, units_of(buffer_of(v))); }

uint8_t* head_pointer(cell* value) {
    uint32_t h = head_index(value);
    Buffer* b = buffer_of(value);
    return b->head + (size_t)h * b->unit();
}
uint8_t* tail_pointer(const cell* value) { return buffer_of(value)->tail; }
bool is_tail(cell* value) { return head_pointer(value) >= tail_pointer(value); }

int32_t length_of(cell* value) {
    uint32_t h = head_index(value);
    return (int32_t)(units_of(buffer_of(value)) - h);
}
int32_t total_length(const cell* value) { return (int32_t)units_of(buffer_of(value)); }

void advance(cell* value, int32_t n) {
    int64_t h = (int64_t)(int32_t)value->data1 + n;
    if (h >= 0 && h <= total_length(value)) value->data1 = (uint32_t)h;
}
void next(cell* value) { advance(value, 1); }

int32_t char_at(const cell* value, uint32_t index) {
    Buffer* b = buffer_of(value);
    return get_char(b->head + (size_t)index * b->unit(), b->unit());
}

static int32_t upper(int32_t cp) { return case_::to_upper(cp); }

int32_t find_char(cell* value, int32_t cp) {
    int32_t n = length_of(value);
    uint8_t* p = head_pointer(value);
    uint32_t w = width_of(value);
    return by_width(w, [&](auto t) -> int32_t {
        using U = typename decltype(t)::type;
        for (int32_t i = 0; i < n; i++)
            if ((int32_t)get_unit<U>(p, i) == cp) return i;
        return -1;
    });
}

bool find_char_step(cell* value, int32_t cp, int32_t step, bool case_) {
    int32_t n = length_of(value);
    uint8_t* p = head_pointer(value);
    if (step < 1) step = 1;
    if (!case_) cp = upper(cp);
    return by_width(width_of(value), [&](auto t) -> bool {
        using U = typename decltype(t)::type;
        for (int32_t i = 0; i < n; i += step) {
            int32_t c = (int32_t)get_unit<U>(p, i);
            if ((case_ ? c : upper(c)) == cp) return true;
        }
        return false;
    });
}

bool starts_with_cstr(cell* value, const char* text) {
    int32_t n = length_of(value);
    int32_t len = (int32_t)strlen(text);
    if (n < len) return false;
    uint8_t* p = head_pointer(value);
    uint32_t w = width_of(value);
    for (int32_t i = 0; i < len; i++)
        if (get_char(p + (size_t)i * w, w) != (uint8_t)text[i]) return false;
    return true;
}

// --- Writing --------------------------------------------------------------------------

[[noreturn]] static void no_memory() { memory::raise_internal(memory::Internal::no_memory); }

// a * b + c in bytes, or internal no-memory when it does not fit a signed
// 32-bit size.
static uint32_t checked_size(uint64_t a, uint64_t b, uint64_t c = 0) {
    uint64_t r = a * b + c;
    if (r > 0x7FFFFFF0u || (b && a > 0xFFFFFFFFu / b)) no_memory();
    return (uint32_t)r;
}

Buffer* ensure_room(Node* node, uint32_t bytes) {
    Buffer* b = node->buffer;
    if ((uint32_t)(b->data_end() - b->tail) >= bytes) return b;
    uint32_t need = checked_size(1, b->used_bytes(), bytes);
    uint32_t capacity = need <= 0x3FFFFFF0u ? need * 2 : need;
    return memory::expand_series_copy(node, (int32_t)capacity);
}

Buffer* widen_buffer(Node* node, uint32_t to) {
    Buffer* b = node->buffer;
    uint32_t from = checked_width(b->unit());
    uint32_t n = units_of(b);
    uint32_t need = checked_size(n + 1, to);
    if ((uint32_t)(b->data_end() - b->head) < need)
        b = memory::expand_series_copy(node, (int32_t)need);
    unicode::widen(b->head, n, from, to);
    b->tail = b->head + (size_t)n * to;
    b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | to;
    return b;
}

// Widens the buffer when cp does not fit; `keep1` is the largest code point
// width 1 keeps for this kind of write.
static Buffer* fit(Node* node, int32_t cp, int32_t keep1) {
    Buffer* b = node->buffer;
    uint32_t w = checked_width(b->unit());
    if (w == 1 && cp > keep1) return widen_buffer(node, cp <= 0xFFFF ? 2 : 4);
    if (w == 2 && cp > 0xFFFF) return widen_buffer(node, 4);
    return b;
}

void append_char_grow(Node* node, int32_t cp) {
    fit(node, cp, 0x7F);
    uint32_t w = node->buffer->unit();
    Buffer* b = ensure_room(node, w);
    put_char(b->tail, w, cp);
    b->tail += w;
}

void poke_char(Node* node, uint32_t index, int32_t cp) {
    Buffer* b = fit(node, cp, 0xFF);
    put_char(b->head + (size_t)index * b->unit(), b->unit(), cp);
}

void set_char_at(Node* node, uint32_t index, int32_t cp) {
    Buffer* b = fit(node, cp, 0xFF);
    uint32_t w = b->unit();
    uint32_t units = units_of(b);
    if (index >= units) {
        b = ensure_room(node, checked_size(index + 1 - units, w));
        memset(b->tail, 0, (size_t)(index - units) * w);
        b->tail = b->head + (size_t)(index + 1) * w;
    }
    put_char(b->head + (size_t)index * w, w, cp);
}

void insert_char_at(Node* node, uint32_t index, int32_t cp) {
    fit(node, cp, 0xFF);
    uint32_t w = node->buffer->unit();
    Buffer* b = ensure_room(node, w);
    uint8_t* at = b->head + (size_t)index * w;
    memmove(at + w, at, (size_t)(b->tail - at));
    put_char(at, w, cp);
    b->tail += w;
}

void remove_units(cell* value, uint32_t index, uint32_t n) {
    Buffer* b = buffer_of(value);
    uint32_t units = units_of(b);
    if (index >= units) return;
    if (n > units - index) n = units - index;
    uint32_t w = b->unit();
    uint8_t* at = b->head + (size_t)index * w;
    memmove(at, at + (size_t)n * w, (size_t)(b->tail - at) - (size_t)n * w);
    b->tail -= (size_t)n * w;
}
void remove_unit(cell* value, uint32_t index) { remove_units(value, index, 1); }

void move_units(cell* source, cell* target, uint32_t n) {
    uint32_t sh = head_index(source);
    uint32_t th = head_index(target);
    uint32_t avail = units_of(buffer_of(source)) - sh;
    if (n > avail) n = avail;
    for (uint32_t i = 0; i < n; i++)
        insert_char_at(node_of(target), th + i, char_at(source, sh + i));
    remove_units(source, sh, n);
}

void reset(cell* value) {
    Buffer* b = buffer_of(value);
    b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | 1;
    b->tail = b->head;
    value->data1 = 0;
}

// The block-exchange buffer: 64 KB, grown for a larger exchange and shrunk
// back right after.
static constexpr uint32_t EXCHANGE_SIZE = 0x10000;
static uint8_t* exchange = nullptr;

void exchange_blocks(Node* node, uint32_t a, uint32_t b, uint32_t c) {
    if (a >= b || b >= c) return;
    Buffer* buf = node->buffer;
    uint32_t w = buf->unit();
    uint8_t* pa = buf->head + (size_t)a * w;
    uint32_t la = (b - a) * w, lb = (c - b) * w;
    uint32_t saved = la < lb ? la : lb;
    uint8_t* scratch = exchange;
    if (saved > EXCHANGE_SIZE) scratch = (uint8_t*)sys::allocate(saved);
    if (la <= lb) {
        memcpy(scratch, pa, la);
        memmove(pa, pa + la, lb);
        memcpy(pa + lb, scratch, la);
    } else {
        memcpy(scratch, pa + la, lb);
        memmove(pa + lb, pa, la);
        memcpy(pa, scratch, lb);
    }
    if (scratch != exchange) sys::free(scratch);
}

// Writes n source units of width sw as units of width dw (dw >= sw).
static void convert_units(uint8_t* dst, uint32_t dw, const uint8_t* src, uint32_t sw, uint32_t n) {
    by_width(dw, [&](auto dt) {
        using D = typename decltype(dt)::type;
        by_width(sw, [&](auto st) {
            using S = typename decltype(st)::type;
            for (uint32_t i = 0; i < n; i++) put_unit<D>(dst, i, get_unit<S>(src, i));
        });
    });
}

uint32_t concatenate(cell* target, cell* source, int32_t part, int32_t offset, Mode mode) {
    Node* tn = node_of(target);
    Node* sn = node_of(source);
    int32_t n = length_of(source);
    if (part >= 0 && part < n) n = part;
    if (n <= 0) return 0;
    uint32_t sh = head_index(source);
    uint32_t sw = width_of(source);
    if (width_of(target) < sw) widen_buffer(tn, sw);
    uint32_t tw = tn->buffer->unit();
    uint32_t bytes = checked_size((uint32_t)n, tw);
    ensure_room(tn, bytes);
    // Read both again: growth or widening may have moved or rewritten them.
    Buffer* tb = tn->buffer;
    Buffer* sb = sn->buffer;
    sw = sb->unit();
    uint32_t th = mode == APPEND ? units_of(tb) : head_index(target) + (uint32_t)offset;
    uint32_t tunits = units_of(tb);
    if (th > tunits) th = tunits;
    uint8_t* at = tb->head + (size_t)th * tw;
    if (mode == INSERT) {
        memmove(at + bytes, at, (size_t)(tb->tail - at));
        if (sn == tn && sh >= th) sh += (uint32_t)n;
    }
    const uint8_t* from = sb->head + (size_t)sh * sw;
    if (sw == tw)
        memmove(at, from, bytes);
    else
        convert_units(at, tw, from, sw, (uint32_t)n);
    if (mode == INSERT)
        tb->tail += bytes;
    else if (at + bytes > tb->tail)
        tb->tail = at + bytes;
    return (uint32_t)n;
}

void concatenate_bytes(cell* value, const char* bytes, uint32_t n) {
    Node* node = node_of(value);
    for (uint32_t i = 0; i < n; i++) append_char(node, (uint8_t)bytes[i]);
}

void concatenate_cstr(cell* value, const char* text) {
    concatenate_bytes(value, text, (uint32_t)strlen(text));
}

// --- Making and loading -----------------------------------------------------------------

cell* make_at_unit(cell* c, int32_t capacity, uint32_t width) {
    checked_width(width);
    unset::make_at(c);
    if (capacity < 1) capacity = 1;
    Node* node = memory::alloc_series(capacity, width, 0);
    return series::make_at(c, TYPE_STRING, node, 0);
}
cell* make_at(cell* c, int32_t capacity) { return make_at_unit(c, capacity, 1); }
cell* push_new(int32_t capacity) { return make_at(stack::push_cell(), capacity); }
cell* push(const cell* value) { return stack::push(value); }

cell* load(const void* source, int32_t length, cell* target, int32_t encoding) {
    if (!target) target = unset::make_at(stack::push_cell());
    if (encoding == 0) return unicode::load_utf8_new((const uint8_t*)source, (uint32_t)length, target);
    if (encoding == -1) return unicode::load_utf16(source, (uint32_t)length, nullptr, target, false);
    // A caller asking for an encoding that does not exist is a fault of the
    // program: it must not end looking like success.
    sys::prin({sys::PrintItem::String("*** Loading Error: input encoding unsupported")});
    sys::free_all();
    platform::exit_process(1);
}

// --- Text utilities ------------------------------------------------------------------------

double to_float(const uint8_t* address, uint32_t n) {
    return dtoa::to_float((const char*)address, (const char*)address + n, 0, nullptr);
}

static const char HEX[] = "0123456789ABCDEF";

const char* byte_to_hex(uint8_t byte) {
    static char text[3];
    text[0] = HEX[byte >> 4];
    text[1] = HEX[byte & 15];
    text[2] = 0;
    return text;
}

const char* hex_cstr(int32_t value, bool trim) {
    static char text[9] = "00000000";
    uint32_t v = (uint32_t)value;
    bool negative = value < 0;
    int i = 8;
    do {
        text[--i] = HEX[v & 15];
        v >>= 4;
        if (negative) v |= 0xF0000000u;
    } while (i > 0 && v != (negative ? 0xFFFFFFFFu : 0u));
    int first = i;
    while (i > 0) text[--i] = negative ? 'F' : '0';
    text[8] = 0;
    if (!trim) return text;
    if (first == 8) first = 7;  // never happens: at least one digit is written
    if (value == 0) return "00";
    return text + first;
}

// --- Matching -----------------------------------------------------------------------------

static bool is_equality_op(int32_t op) { return op <= OP_STRICT_EQUAL || op == OP_FIND; }
static bool folds(int32_t op) { return op != OP_STRICT_EQUAL && op != OP_CASE_SORT; }

// First difference of n units: sign of a - b, 0 when equal; folding both
// sides to upper case when `fold`.
template <class A, class B>
static int32_t compare_units(const uint8_t* a, const uint8_t* b, uint32_t n, bool fold) {
    for (uint32_t i = 0; i < n; i++) {
        int32_t x = (int32_t)get_unit<A>(a, i), y = (int32_t)get_unit<B>(b, i);
        if (x != y && fold) {
            x = upper(x);
            y = upper(y);
        }
        if (x != y) return x > y ? 1 : -1;
    }
    return 0;
}

static int32_t compare_runs(const uint8_t* a, uint32_t wa, const uint8_t* b, uint32_t wb,
                            uint32_t n, bool fold) {
    return by_width(wa, [&](auto ta) {
        return by_width(wb, [&](auto tb) {
            return compare_units<typename decltype(ta)::type, typename decltype(tb)::type>(a, b, n,
                                                                                           fold);
        });
    });
}

// A text's units from its head (the head clamped as head_index does).
struct Run {
    const uint8_t* p;
    uint32_t width;
    int32_t length;
};
static Run run_of(cell* v) {
    Buffer* b = buffer_of(v);
    uint32_t w = b->unit(), units = units_of(b), h = head_within(v, units);
    return {b->head + (size_t)h * w, w, (int32_t)(units - h)};
}

int32_t compare_values(cell* a, cell* b, int32_t op, bool prefix) {
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == OP_SAME) return same ? 0 : -1;
    if (same && (is_equality_op(op) || op == OP_NOT_EQUAL)) return 0;
    Run ra = run_of(a), rb = run_of(b);
    int32_t la = ra.length, lb = rb.length;
    if (prefix) {
        if (lb == 0) return op == OP_FIND ? 1 : 0;
        if (la < lb) return 1;
    } else if (la != lb && (is_equality_op(op) || op == OP_NOT_EQUAL || lb == 0)) {
        return 1;
    }
    uint32_t n = (uint32_t)(la < lb ? la : lb);
    if (n == 0) return la == lb ? 0 : prefix ? 0 : la > lb ? 1 : -1;
    int32_t r = ra.width == 1 && rb.width == 1
                    ? compare_units<uint8_t, uint8_t>(ra.p, rb.p, n, folds(op))
                    : compare_runs(ra.p, ra.width, rb.p, rb.width, n, folds(op));
    if (r != 0 || prefix) return r;
    return la == lb ? 0 : la > lb ? 1 : -1;
}

[[gnu::noinline]] static bool equal_wide_text(cell* a, cell* b, bool fold) {
    Run ra = run_of(a), rb = run_of(b);
    return ra.length == rb.length &&
           compare_runs(ra.p, ra.width, rb.p, rb.width, (uint32_t)ra.length, fold) == 0;
}

bool equal_text(cell* a, cell* b, bool fold) {
    if (a->data2 == b->data2 && a->data1 == b->data1) return true;
    Buffer *ba = buffer_of(a), *bb = buffer_of(b);
    if (ba->unit() != 1 || bb->unit() != 1) return equal_wide_text(a, b, fold);
    // Byte text, the common key: no width dispatch, and folding only where
    // the bytes differ.
    uint32_t na = ba->used_bytes(), nb = bb->used_bytes();
    uint32_t ha = head_within(a, na), hb = head_within(b, nb);
    if (na - ha != nb - hb) return false;
    const uint8_t *p = ba->head + ha, *q = bb->head + hb;
    uint32_t n = na - ha, i = 0;
    for (uint32_t x, y; i + 4 <= n; i += 4) {
        memcpy(&x, p + i, 4);
        memcpy(&y, q + i, 4);
        if (x != y) break;
    }
    for (; i < n; i++)
        if (p[i] != q[i] && (!fold || upper(p[i]) != upper(q[i]))) return false;
    return true;
}

bool tag_around(cell* value, cell* tag) {
    int32_t n = length_of(value);
    int32_t lt = length_of(tag);
    if (n < lt + 2) return false;
    uint8_t* p = head_pointer(value);
    uint32_t w = width_of(value);
    return get_char(p, w) == '<' && get_char(p + (size_t)(lt + 1) * w, w) == '>';
}

bool match_head(cell* value, cell* pattern, int32_t op) {
    switch (pattern->type()) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
            return compare_values(value, pattern, op, true) == 0;
        case TYPE_CHAR: {
            if (is_tail(value)) return false;
            int32_t c = get_char(head_pointer(value), width_of(value));
            int32_t p = (int32_t)pattern->data2;
            return op == OP_STRICT_EQUAL ? c == p : upper(c) == upper(p);
        }
        case TYPE_TAG: {
            if (!tag_around(value, pattern)) return false;
            cell inner = *value;
            inner.data1++;
            inner.header = TYPE_STRING;
            return compare_values(&inner, pattern, op, true) == 0;
        }
        default:
            return false;
    }
}

// Membership of cp in a bitset! (word 2: its byte series; the complemented
// flag on its buffer).
static bool in_bitset(const cell* bitset, int32_t cp) {
    Buffer* b = series::buffer_of(bitset);
    uint32_t bytes = b->used_bytes();
    if ((uint32_t)cp >> 3 >= bytes) return (b->flags & memory::FLAG_COMPLEMENTED) != 0;
    return (b->head[(uint32_t)cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

bool head_in_bitset(cell* value, cell* bitset) {
    if (is_tail(value)) return false;
    return in_bitset(bitset, get_char(head_pointer(value), width_of(value)));
}

// --- Output writer ----------------------------------------------------------------------------

// Appends characters to a string! while a budget lasts: what form and mold
// write counts against their part limit character by character, so a limited
// mold never writes past it.
struct Writer {
    cell* out;
    int32_t budget;
    int32_t written = 0;
    bool put(int32_t cp) {
        if (written >= budget) return false;
        append_char(node_of(out), cp);
        written++;
        return true;
    }
    void text(const char* s) {
        while (*s) put((uint8_t)*s++);
    }
};

// The escape rule of mold (shared with char!).
static void put_escaped(Writer& w, int32_t cp, bool all) {
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp >= 0x80)) {
        char digits[9];
        int n = 0;
        uint32_t v = (uint32_t)cp;
        do digits[n++] = HEX[v & 15];
        while (v >>= 4);
        w.text("^(");
        while (n) w.put(digits[--n]);
        w.put(')');
    } else if (cp == 9) {
        w.text("^-");
    } else if (cp == 10) {
        w.text("^/");
    } else if (cp < 32) {
        w.put('^');
        w.put(cp + 64);
    } else if (cp == '"') {
        w.text("^\"");
    } else if (cp == '^') {
        w.text("^^");
    } else if (cp == 127) {
        w.text("^~");
    } else {
        w.put(cp);
    }
}

// --- Actions: make, to, form, mold ---------------------------------------------------------------

static bool is_string_family(uint8_t t) { return series::is_any_string(t); }

// Forms `value` onto the tail of `out` (any type through its form action).
static void form_onto(cell* out, cell* value, int32_t limit) {
    if (is_string_family(value->type())) {
        concatenate(out, value, limit, 0, APPEND);
        return;
    }
    if (value->type() == TYPE_CHAR) {
        if (limit > 0) append_char(node_of(out), (int32_t)value->data2);
        return;
    }
    actions::form_typed(value, out, nullptr, limit);
}

// Forms each element of a block, from its head, onto the string `out`,
// no further than `limit` characters in all.
static void form_elements_onto(cell* out, const cell* blk, int32_t limit) {
    cell source = *blk;
    collector::Root hold(source);
    Node* node = node_of(out);
    uint32_t before = units_of(node->buffer);
    for (int32_t i = 0; i < block::length_of(&source); i++) {
        int32_t left = limit - (int32_t)(units_of(node->buffer) - before);
        if (left <= 0) break;
        // A copy: forming may move the block's buffer.
        cell element = *block::cell_at(&source, (int32_t)source.data1 + i);
        form_onto(out, &element, left);
    }
}

cell* to(cell* target, cell* spec, int32_t type) {
    cell* result = target;
    switch (spec->type()) {
        case TYPE_NONE: {
            cell t;
            datatype::make_at(&t, (uint8_t)type);
            error::raise_script(error::Script::bad_to_arg, &t, spec);
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF:
            series::copy(spec, result, series::ABSENT, false, series::ABSENT);
            break;
        case TYPE_BINARY: {
            cell source = *spec;
            uint32_t h = (uint32_t)source.data1;
            Buffer* b = series::buffer_of(&source);
            uint32_t n = h < b->used_bytes() ? b->used_bytes() - h : 0;
            // Copied out first: the binary's buffer may move while the string is made.
            uint8_t* bytes = (uint8_t*)sys::allocate(n ? n : 1);
            memcpy(bytes, b->head + h, n);
            try {
                unicode::Utf8Load load = unicode::measure_utf8(bytes, n, false);
                // A cut-short final sequence is an error here: its bytes are the argument.
                if (load.remaining)
                    unicode::raise_invalid_utf8(bytes + load.end, load.remaining);
                unicode::load_utf8_new(bytes, n, result);
            } catch (...) {
                sys::free(bytes);
                throw;
            }
            sys::free(bytes);
            break;
        }
        default: {
            cell value = *spec;
            cell* out = push_new(16);
            if (series::is_any_block(value.type())) form_elements_onto(out, &value, NO_LIMIT);
            // A refinement keeps its slash in any string type but string!.
            else if (value.type() == TYPE_REFINEMENT && type != TYPE_STRING)
                actions::mold_typed(&value, out, false, false, false, nullptr, NO_LIMIT, 0);
            else form_onto(out, &value, NO_LIMIT);
            cell made = *out;
            stack::pop(1);
            *result = made;
        }
    }
    cell::set_type(result, (uint8_t)type);
    return result;
}

cell* make(cell* target, cell* spec, int32_t type) {
    if (spec->type() == TYPE_INTEGER || spec->type() == TYPE_FLOAT) {
        double d = spec->type() == TYPE_INTEGER ? (double)(int32_t)spec->data2 : cell::get_float(spec);
        if (!(d >= 0) || d > 2147483647.0) error::raise_script(error::Script::out_of_range, spec);
        make_at(target, (int32_t)d);
        cell::set_type(target, (uint8_t)type);
        return target;
    }
    if (type == TYPE_BINARY) return binary::to(target, spec, type);
    return to(target, spec, type);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    int32_t n = length_of(value);
    uint32_t done = concatenate(out, value, limit < 0 ? 0 : limit, 0, APPEND);
    (void)n;
    return limit - (int32_t)done;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    Writer w{out, limit};
    uint32_t h = head_index(value);
    uint32_t total = units_of(buffer_of(value));
    uint32_t end = total;
    if (limit >= 0 && (uint64_t)h + (uint64_t)limit < end) end = h + (uint32_t)limit;
    // Choose quotes or braces from the range.
    uint32_t quotes = 0, lines = 0;
    for (uint32_t i = h; i < end; i++) {
        int32_t c = char_at(value, i);
        quotes += c == '"';
        lines += c == '\n';
    }
    bool braces = lines >= 3 || quotes >= 1 || total - h >= 50;
    if (!braces) {
        w.put('"');
        for (uint32_t i = h; i < end && w.written < w.budget; i++) put_escaped(w, char_at(value, i), all);
        w.put('"');
        return limit - w.written;
    }
    // The first opening brace with no closing one after it: from there on
    // opening braces are escaped.
    uint32_t escape_from = end;
    {
        uint32_t depth = 0;
        for (uint32_t i = h; i < end; i++) {
            int32_t c = char_at(value, i);
            if (c == '{') {
                if (depth == 0) escape_from = i;
                depth++;
            } else if (c == '}' && depth > 0) {
                if (--depth == 0) escape_from = end;
            }
        }
    }
    w.put('{');
    uint32_t depth = 0;
    for (uint32_t i = h; i < end && w.written < w.budget; i++) {
        int32_t c = char_at(value, i);
        if (c == '{') {
            if (i >= escape_from) {
                w.text("^{");
            } else {
                w.put('{');
                depth++;
            }
        } else if (c == '}') {
            if (depth > 0) {
                w.put('}');
                depth--;
            } else {
                w.text("^}");
            }
        } else if (c == '"') {
            w.put('"');
        } else {
            put_escaped(w, c, all);
        }
    }
    w.put('}');
    return limit - w.written;
}

// --- Actions: compare, eval-path -------------------------------------------------------------------

int32_t compare(cell* a, cell* b, int32_t op) {
    if (a->type() != b->type() &&
        !(is_string_family(b->type()) && (op == OP_EQUAL || op == OP_NOT_EQUAL)))
        return NOT_COMPARABLE;
    return compare_values(a, b, op, false);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    if (element->type() == TYPE_INTEGER) {
        cell* r = stack::push(parent);
        if (get || !value) return series::pick(r, (int32_t)element->data2, element);
        return series::poke(r, (int32_t)element->data2, value, element);
    }
    if (element->type() == TYPE_WORD) error::raise_script(error::Script::invalid_path, path, element);
    cell* r = stack::push(parent);
    cell* no = series::ABSENT;
    if (get || !value) return select(r, element, no, false, case_, false, false, no, no, false, false);
    find(r, element, no, false, case_, false, false, no, no, false, false, false, false);
    if (r->type() == TYPE_NONE) error::raise_script(error::Script::bad_path_set, path, element);
    return series::poke(r, 2, value, element);
}

// --- Actions: append, insert, change -----------------------------------------------------------------

// Appends the value's characters at the tail `dup` times (part limits one
// copy); returns the number of characters added.
static uint32_t add_at_tail(cell* series, cell* value, int32_t part, int32_t dup) {
    Node* node = node_of(series);
    uint32_t before = units_of(node->buffer);
    int32_t limit = part < 0 ? NO_LIMIT : part;
    uint8_t t = value->type();
    if (t == TYPE_CHAR) {
        if (limit > 0) append_char(node, (int32_t)value->data2);
    } else if (t == TYPE_TAG) {
        if (limit > 0) append_char(node, '<');
        concatenate(series, value, limit - 1 < 0 ? 0 : limit - 1, 0, APPEND);
        if ((int64_t)limit - 1 - length_of(value) > 0) append_char(node, '>');
    } else if (is_string_family(t)) {
        concatenate(series, value, limit, 0, APPEND);
    } else if (series::is_any_block(t)) {
        form_elements_onto(series, value, limit);
    } else {
        form_onto(series, value, limit);
    }
    // Formed text is cut back to the part limit.
    if (part >= 0 && units_of(node->buffer) - before > (uint32_t)part)
        series::truncate_units(node, before + (uint32_t)part);
    uint32_t added = units_of(node->buffer) - before;
    if (dup >= 2 && added) {
        uint32_t w = node->buffer->unit();
        uint32_t run = checked_size(added, w);
        uint32_t total = checked_size(run, (uint32_t)dup);
        ensure_room(node, total - run);
        Buffer* b = node->buffer;
        uint8_t* first = b->tail - run;
        // Doubling copies.
        uint32_t have = run;
        while (have < total) {
            uint32_t n = have <= total - have ? have : total - have;
            memcpy(first + have, first, n);
            have += n;
        }
        b->tail = first + total;
        added = total / w;
    }
    return added;
}

// The count reported to an owner before a change: the characters of a
// string value, else one value.
static int32_t change_estimate(cell* value) {
    return is_string_family(value->type()) ? length_of(value) : 1;
}

// Out of line, so that the one-character case of `append` stays small.
[[gnu::noinline]] static cell* append_general(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    bool owned = series::may_be_owned(series) &&
                 ownership::check(series, ownership::APPEND, total_length(series), change_estimate(value));
    if (!owned && value->type() == TYPE_CHAR && part != 0 && dup < 2) {
        append_char(node_of(series), (int32_t)value->data2);
        series->data1 = 0;
        return series;
    }
    int32_t at = total_length(series);
    uint32_t added = add_at_tail(series, value, part, dup);
    if (owned) ownership::check(series, ownership::APPENDED, at, (int32_t)added);
    series->data1 = 0;
    return series;
}

cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    // One character onto a string no owner watches: text built a character
    // at a time.
    if (value->type() == TYPE_CHAR && part != 0 && dup < 2 && !series::may_be_owned(series)) {
        append_char(node_of(series), (int32_t)value->data2);
        series->data1 = 0;
        return series;
    }
    return append_general(series, value, part, only, dup);
}

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    bool owned = series::may_be_owned(series) &&
                 ownership::check(series, ownership::INSERT, (int32_t)head_index(series), change_estimate(value));
    uint32_t h = head_index(series);  // after the handler, which may have cut the series
    uint32_t old_tail = units_of(buffer_of(series));
    uint32_t added = add_at_tail(series, value, part, dup);
    // Rotated into place when not inserting at the tail.
    if (h < old_tail) exchange_blocks(node_of(series), h, old_tail, old_tail + added);
    if (owned) ownership::check(series, ownership::INSERTED, (int32_t)h, (int32_t)added);
    series->data1 = h + added;
    head_index(series);
    return series;
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    bool owned = series::may_be_owned(series) &&
                 ownership::check(series, ownership::CHANGE, (int32_t)head_index(series), change_estimate(value));
    uint32_t h = head_index(series);  // after the handler, which may have cut the series
    uint32_t old_tail = units_of(buffer_of(series));
    if (h >= old_tail) return append(series, value, -1, only, dup);
    uint32_t added = add_at_tail(series, value, -1, dup);
    uint32_t remaining = old_tail - h;
    uint32_t removed = part >= 0 ? ((uint32_t)part < remaining ? (uint32_t)part : remaining)
                                 : (added < remaining ? added : remaining);
    // [h, h + removed) old | rest | new  ->  old | new | rest, then drop old.
    exchange_blocks(node_of(series), h + removed, old_tail, old_tail + added);
    remove_units(series, h, removed);
    if (owned) ownership::check(series, ownership::CHANGED, (int32_t)h, (int32_t)added);
    series->data1 = h + added;
    head_index(series);
    return series;
}

// --- Actions: find, select ----------------------------------------------------------------------------

// What find searches for: code points read from a string, one code point, or
// a bitset.
struct Pattern {
    cell text;            // a string whose characters from its head are the pattern
    int32_t length = 0;
    int32_t single = -1;  // one code point
    const cell* bitset = nullptr;
};

// Tries candidate starts from `from` to `to` (both inclusive) by `step`
// (negative: backward) and answers the first that matches, or -1. Written
// once for every pair of series and pattern widths; nothing here allocates.
template <class S, class P>
static int64_t scan(const uint8_t* s, const uint8_t* p, int32_t plen, int64_t from, int64_t to,
                    int64_t step, bool fold, const cell* bitset) {
    for (int64_t at = from; step > 0 ? at <= to : at >= to; at += step) {
        if (bitset) {
            if (in_bitset(bitset, (int32_t)get_unit<S>(s, (uint32_t)at))) return at;
            continue;
        }
        int32_t i = 0;
        for (; i < plen; i++) {
            int32_t x = (int32_t)get_unit<S>(s, (uint32_t)(at + i));
            int32_t y = (int32_t)get_unit<P>(p, (uint32_t)i);
            if (x != y && (!fold || upper(x) != upper(y))) break;
        }
        if (i == plen) return at;
    }
    return -1;
}

// The find core: the unit index of the match and the pattern length, or -1.
static int64_t search(cell* series, cell* value, cell* part, bool case_, bool same, bool any,
                      cell* with, cell* skip, bool last, bool reverse, bool match, int32_t* plen) {
    Buffer* b = buffer_of(series);
    if (b->tail == b->head) return -1;
    uint32_t h = head_index(series);
    uint32_t units = units_of(b);
    if (h >= units && !reverse) return -1;
    if (any || stack::is_given(with)) error::raise_internal(error::Internal::not_done);
    int32_t step = 1;
    if (stack::is_given(skip)) {
        step = (int32_t)skip->data2;
        if (skip->type() != TYPE_INTEGER || step < 1)
            error::raise_script(error::Script::out_of_range, skip);
    }
    int64_t range = reverse ? h : units - h;
    if (stack::is_given(part)) {
        int32_t n = series::part_count(series, part);
        if (n < 1) return -1;
        if (n < range) range = n;
    }
    // Bytes never fold; a binary is searched for a binary, a byte or text.
    bool bytes = series->type() == TYPE_BINARY;
    bool fold = !case_ && !same && !bytes;
    Pattern p;
    switch (bytes && value->type() == TYPE_INTEGER ? (uint8_t)TYPE_CHAR : value->type()) {
        case TYPE_CHAR:
            p.single = (int32_t)value->data2;
            p.length = 1;
            break;
        case TYPE_BITSET:
            p.bitset = value;
            p.length = 1;
            break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_TAG:
            p.text = *value;
            p.length = length_of(&p.text);
            break;
        case TYPE_BINARY:
            if (!bytes) error::raise_script(error::Script::invalid_arg, value);
            p.text = *value;
            p.length = length_of(&p.text);
            break;
        default: {
            // Formed into a text first; kept on the stack while searching.
            cell* text = push_new(16);
            form_onto(text, value, NO_LIMIT);
            p.text = *text;
            p.length = length_of(&p.text);
        }
    }
    if (p.length == 0) return -1;
    *plen = p.length;
    int64_t lo, hi;  // candidate starts, both inclusive
    if (reverse) {
        if (match) return -1;
        lo = (int64_t)h - range;
        hi = (int64_t)h - p.length;
        if (hi + p.length > units) hi = (int64_t)units - p.length;
    } else {
        lo = h;
        hi = (int64_t)h + range - p.length;
    }
    if (hi < lo) return -1;
    int64_t from = lo, to = hi, by = step;
    if (match) to = lo;
    else if (last || reverse) from = hi, to = lo, by = -step;
    // Raw addresses from here on: the scan allocates nothing.
    uint32_t single = (uint32_t)p.single;
    const uint8_t* pattern = p.single >= 0 ? (const uint8_t*)&single
                             : p.bitset   ? nullptr
                                          : head_pointer(&p.text);
    uint32_t pw = p.single >= 0 || p.bitset ? 4 : width_of(&p.text);
    const uint8_t* data = buffer_of(series)->head;
    return by_width(width_of(series), [&](auto st) {
        return by_width(pw, [&](auto pt) {
            return scan<typename decltype(st)::type, typename decltype(pt)::type>(
                data, pattern, p.length, from, to, by, fold, p.bitset);
        });
    });
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (series->type() == TYPE_VECTOR)
        return vector::find(series, value, part, only, case_, same, any, with, skip, last, reverse,
                            tail, match);
    cell* top = stack::arguments.top;
    int32_t plen = 0;
    int64_t at = search(series, value, part, case_, same, any, with, skip, last, reverse, match, &plen);
    stack::arguments.top = top;
    if (at < 0) return series::make_none(series);
    series->data1 = (uint32_t)(at + (tail ? plen : 0));
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    if (series->type() == TYPE_VECTOR)
        return vector::select(series, value, part, only, case_, same, any, with, skip, last, reverse);
    cell* top = stack::arguments.top;
    int32_t plen = 0;
    int64_t at = search(series, value, part, case_, same, any, with, skip, last, reverse, false, &plen);
    stack::arguments.top = top;
    if (at < 0 || at + plen >= total_length(series)) return series::make_none(series);
    int32_t cp = char_at(series, (uint32_t)(at + plen));
    if (series->type() == TYPE_BINARY) return series::make_integer(series, cp);
    return series::make_char(series, cp);
}

// --- Actions: sort ---------------------------------------------------------------------------------------

CompareCallback compare_callback = nullptr;

namespace {
struct SortContext {
    bool fold;
    bool reverse;
    bool all;
    uint32_t size;    // characters per record
    uint32_t offset;  // the character records are compared by
    cell* function;   // /compare function, or null
};
}  // namespace

// Records are code points (4 bytes each) in a tracked copy, so one
// comparison serves every width and folds as `compare` does.
static int32_t compare_records(const void* a, const void* b, uintptr_t context, uintptr_t) {
    const SortContext& c = *(const SortContext*)context;
    uint32_t from = c.offset, n = c.all ? c.size : 1;
    if (c.all) from = 0;
    int32_t r = 0;
    if (c.function) {
        cell x, y, result;
        series::make_char(&x, (int32_t)get_unit<uint32_t>(a, from));
        series::make_char(&y, (int32_t)get_unit<uint32_t>(b, from));
        series::make_none(&result);
        compare_callback(c.function, &x, &y, &result);
        // The function answers whether a comes first: true (or a negative
        // order) puts a before b.
        switch (result.type()) {
            case TYPE_LOGIC: r = result.data1 ? -1 : 1; break;
            case TYPE_INTEGER: r = (int32_t)result.data2; break;
            case TYPE_NONE: r = 1; break;
            case TYPE_FLOAT: {
                double d = cell::get_float(&result);
                r = d < 0 ? -1 : d > 0 ? 1 : 0;
                break;
            }
            default: r = -1;
        }
    } else {
        for (uint32_t i = from; i < from + n && r == 0; i++) {
            int32_t x = (int32_t)get_unit<uint32_t>(a, i), y = (int32_t)get_unit<uint32_t>(b, i);
            if (c.fold) {
                x = upper(x);
                y = upper(y);
            }
            r = x < y ? -1 : x > y ? 1 : 0;
        }
    }
    return c.reverse ? -r : r;
}

cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable) {
    if (series->type() == TYPE_VECTOR) return vector::sort(series, reverse);
    uint32_t h = head_index(series);
    int64_t n = length_of(series);
    if (stack::is_given(part)) {
        int32_t p = series::part_count(series, part);
        if (p < 0) {
            int64_t back = -(int64_t)p > h ? h : -(int64_t)p;
            h -= (uint32_t)back;
            series->data1 = h;
            n = back;
        } else if (p < n) {
            n = p;
        }
    }
    SortContext c{!case_, reverse, all, 1, 0, nullptr};
    if (stack::is_given(skip)) {
        int32_t size = skip->type() == TYPE_INTEGER ? (int32_t)skip->data2 : 0;
        if (size < 1 || size > n || n % size)
            error::raise_refine_arg("skip", skip);
        c.size = (uint32_t)size;
    } else if (all) {
        error::raise_script(error::Script::bad_refines);
    }
    if (stack::is_given(compare)) {
        if (compare->type() == TYPE_INTEGER) {
            if (!stack::is_given(skip) || all) error::raise_script(error::Script::bad_refines);
            int32_t o = (int32_t)compare->data2;
            c.offset = o < 1 ? 0 : (uint32_t)o > c.size ? c.size - 1 : (uint32_t)o - 1;
        } else {
            if (!compare_callback) error::raise_internal(error::Internal::not_done);
            c.function = compare;
        }
    }
    if (n < 2) return series;
    bool owned = ownership::check(series, ownership::SORT, (int32_t)h, (int32_t)n);
    if (owned) {
        // The handler may have cut the series: sort the whole records left.
        int64_t left = (int64_t)total_length(series) - h;
        if (left < n) n = left < 0 ? 0 : left - left % c.size;
        if (n < 2) return series;
    }
    // A stable copy: a /compare function may allocate, which may move the buffer.
    uint32_t* records = (uint32_t*)sys::allocate(checked_size((uint64_t)n, 4));
    for (uint32_t i = 0; i < (uint32_t)n; i++) records[i] = (uint32_t)char_at(series, h + i);
    uint32_t count = (uint32_t)n / c.size, w = c.size * 4;
    try {
        if (stable)
            sort::merge_sort(records, count, w, (uintptr_t)&c, 0, compare_records);
        else
            sort::qsort(records, count, w, (uintptr_t)&c, 0, compare_records);
    } catch (...) {
        sys::free(records);
        throw;
    }
    // The same code points go back: the width still fits.
    Buffer* b = buffer_of(series);
    uint32_t width = b->unit();
    for (uint32_t i = 0; i < (uint32_t)n; i++)
        put_char(b->head + (size_t)(h + i) * width, width, (int32_t)records[i]);
    sys::free(records);
    if (owned) ownership::check(series, ownership::SORTED, (int32_t)h, (int32_t)n);
    return series;
}

// --- Actions: swap, take, trim ------------------------------------------------------------------------------

cell* swap(cell* a, cell* b) {
    if (!is_string_family(b->type()) && b->type() != TYPE_BINARY)
        error::raise_script(error::Script::invalid_arg, b);
    if (is_tail(a) || is_tail(b)) return a;
    bool owned_a = ownership::check(a, ownership::SWAP, (int32_t)head_index(a), 1);
    bool owned_b = ownership::check(b, ownership::SWAP, (int32_t)head_index(b), 1);
    if (is_tail(a) || is_tail(b)) return a;  // a handler emptied one side
    uint32_t ha = head_index(a), hb = head_index(b);
    int32_t ca = char_at(a, ha), cb = char_at(b, hb);
    poke_char(node_of(a), ha, cb);
    poke_char(node_of(b), hb, ca);
    if (owned_a) ownership::check(a, ownership::SWAPED, (int32_t)ha, 1);
    if (owned_b) ownership::check(b, ownership::SWAPED, (int32_t)hb, 1);
    return a;
}

cell* take(cell* series, cell* part, bool deep, bool last) {
    bool has_part = stack::is_given(part);
    series::take(series, part, deep, last);
    if (series->type() == TYPE_NONE || has_part) return series;
    if (series->type() == TYPE_VECTOR) return vector::take_one(series);
    if (series->type() == TYPE_BINARY) return series::make_integer(series, char_at(series, 0));
    if (total_length(series) == 1) return series::make_char(series, char_at(series, 0));
    return series;
}

static bool is_whitespace(int32_t c) {
    return (c >= 1 && c <= 32) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}
// Blanks removed at the ends of lines: spaces, tabs and the Unicode spaces.
static bool is_line_blank(int32_t c) {
    return c == ' ' || c == '\t' || (c != 0x85 && c != 0x2028 && c != 0x2029 && c > 32 &&
                                     is_whitespace(c));
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    if (auto_) error::raise_internal(error::Internal::not_done);
    if (length_of(series) == 0) return series;
    bool owned = ownership::check(series, ownership::TRIM, (int32_t)head_index(series), length_of(series));
    uint32_t h = head_index(series);  // after the handler, which may have cut the series
    uint32_t n = (uint32_t)length_of(series);
    if (n == 0) return series;
    // The set of /with (or the default blanks of /all).
    uint32_t* set = nullptr;
    uint32_t set_count = 0;
    bool with_given = stack::is_given(with);
    if (with_given) {
        if (with->type() == TYPE_CHAR || with->type() == TYPE_INTEGER) {
            set = (uint32_t*)sys::allocate(4);
            set[0] = with->data2;
            set_count = 1;
        } else if (is_string_family(with->type()) || with->type() == TYPE_BINARY) {
            set_count = (uint32_t)length_of(with);
            if (set_count == 0) return series;
            set = (uint32_t*)sys::allocate(checked_size(set_count, 4));
            bool binary = with->type() == TYPE_BINARY;
            for (uint32_t i = 0; i < set_count; i++)
                set[i] = binary ? series::buffer_of(with)->head[with->data1 + i]
                                : (uint32_t)char_at(with, (uint32_t)with->data1 + i);
        } else {
            error::raise_script(error::Script::invalid_arg, with);
        }
    }
    uint32_t* text = (uint32_t*)sys::allocate(checked_size(n + 1, 4));
    for (uint32_t i = 0; i < n; i++) text[i] = (uint32_t)char_at(series, h + i);
    uint32_t out = 0;
    if (all || with_given) {
        static const uint32_t blanks[] = {9, 10, 13, 32};
        const uint32_t* s = with_given ? set : blanks;
        uint32_t sc = with_given ? set_count : 4;
        for (uint32_t i = 0; i < n; i++) {
            bool member = false;
            for (uint32_t k = 0; k < sc && !member; k++) member = text[i] == s[k];
            if (!member) text[out++] = text[i];
        }
    } else {
        uint32_t first = 0, end = n;
        bool do_head = head || !tail, do_tail = tail || !head;
        if (do_head || lines)
            while (first < end && is_whitespace((int32_t)text[first])) first++;
        bool trailing_lf = false;
        if (do_tail || lines)
            while (end > first && is_whitespace((int32_t)text[end - 1]))
                trailing_lf |= text[--end] == '\n';
        if (lines) {
            bool gap = false;
            for (uint32_t i = first; i < end; i++) {
                if (is_whitespace((int32_t)text[i])) {
                    gap = true;
                    continue;
                }
                if (gap) text[out++] = ' ';
                gap = false;
                text[out++] = text[i];
            }
        } else if (head || tail) {
            for (uint32_t i = first; i < end; i++) text[out++] = text[i];
        } else {
            // Every line loses its leading and trailing blanks.
            uint32_t i = first;
            while (i < end) {
                uint32_t line_end = i;
                while (line_end < end && text[line_end] != '\n') line_end++;
                uint32_t a = i, z = line_end;
                while (a < z && is_line_blank((int32_t)text[a])) a++;
                while (z > a && is_line_blank((int32_t)text[z - 1])) z--;
                for (uint32_t k = a; k < z; k++) text[out++] = text[k];
                if (line_end < end) text[out++] = '\n';
                i = line_end + 1;
            }
            if (trailing_lf) text[out++] = '\n';
        }
    }
    // Fewer characters, the same width: written back in place.
    Buffer* b = buffer_of(series);
    uint32_t width = b->unit();
    for (uint32_t i = 0; i < out; i++) put_char(b->head + (size_t)(h + i) * width, width, (int32_t)text[i]);
    b->tail = b->head + (size_t)(h + out) * width;
    sys::free(text);
    if (set) sys::free(set);
    if (owned) ownership::check(series, ownership::TRIMMED, (int32_t)h, 0);
    return series;
}

// --- Set operations --------------------------------------------------------------------------------------

cell* do_set_op(int32_t op, cell* a, cell* b, int32_t skip, bool case_, cell* result) {
    if (skip < 1) {
        cell s;
        series::make_integer(&s, skip);
        error::raise_refine_arg("skip", &s);
    }
    cell x = *a, y = *b;
    head_index(&x);
    head_index(&y);
    int64_t capacity = length_of(&x) + (op == 9 ? length_of(&y) : 0);
    cell* out = push_new((int32_t)(capacity > 0x7FFFFFF ? 0x7FFFFFF : capacity));
    auto add_from = [&](cell* from, cell* other, int mode) {
        // mode 0: every character; 1: those in `other`; 2: those not in `other`.
        uint32_t h = (uint32_t)from->data1, n = (uint32_t)length_of(from);
        for (uint32_t i = 0; i < n; i++) {
            int32_t c = char_at(from, h + i);
            if (mode == 1 && !find_char_step(other, c, skip, case_)) continue;
            if (mode == 2 && find_char_step(other, c, skip, case_)) continue;
            if (find_char_step(out, c, skip, case_)) continue;
            append_char(node_of(out), c);
        }
    };
    switch (op) {
        case 8: add_from(&x, nullptr, 0); break;
        case 9: add_from(&x, nullptr, 0); add_from(&y, nullptr, 0); break;
        case 10: add_from(&x, &y, 1); break;
        case 11: add_from(&x, &y, 2); break;
        case 12: add_from(&x, &y, 2); add_from(&y, &x, 2); break;
        default: sys::no_case();
    }
    *result = *out;
    stack::pop(1);
    return result;
}

// --- Case change ----------------------------------------------------------------------------------------

cell* change_case(cell* value, cell* part, bool upper_) {
    if (value->type() == TYPE_CHAR) {
        value->data2 = (uint32_t)case_::fold((int32_t)value->data2, upper_);
        return value;
    }
    uint32_t h = head_index(value);
    int32_t n = length_of(value);
    if (stack::is_given(part)) {
        int32_t p;
        if (part->type() == TYPE_INTEGER)
            p = (int32_t)part->data2;
        else if (part->type() == value->type() && part->data2 == value->data2)
            p = (int32_t)part->data1 - (int32_t)h;
        else
            error::raise_refine_arg("part", part);
        if (p < 0) p = 0;
        if (p < n) n = p;  // never past the tail
    }
    uint32_t done = 0;
    while (done < (uint32_t)n) {
        Buffer* b = buffer_of(value);
        uint32_t w = b->unit();
        done += case_::fold_units(b->head + (size_t)(h + done) * w, w, (uint32_t)n - done, upper_);
        if (done < (uint32_t)n) {
            // A folded code point that needs a wider unit: store it, go on after it.
            poke_char(node_of(value), h + done, case_::fold(char_at(value, h + done), upper_));
            done++;
        }
    }
    ownership::check(value, upper_ ? ownership::UPPERCASE : ownership::LOWERCASE, (int32_t)h, n);
    return value;
}

// --- Registration -----------------------------------------------------------------------------------------

void register_type() {
    if (!exchange) exchange = (uint8_t*)sys::allocate(EXCHANGE_SIZE);
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), INHERIT, INHERIT, on<A_TO>(to), on<A_FORM>(form), on<A_MOLD>(mold),
        on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,               // math
        on<A_APPEND>(append), INHERIT, INHERIT, on<A_CHANGE>(change), INHERIT, INHERIT,
        on<A_FIND>(find), INHERIT, INHERIT, INHERIT, on<A_INSERT>(insert), INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, NO, INHERIT, INHERIT, on<A_SELECT>(select),
        on<A_SORT>(sort), INHERIT, on<A_SWAP>(swap), INHERIT, INHERIT, on<A_TAKE>(take),
        on<A_TRIM>(trim),
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(TYPE_STRING, TYPE_SERIES, "string!", list);
}

}  // namespace string

// --- String-level text edges ---------------------------------------------------------------------------------

namespace unicode {

using memory::Buffer;
using memory::Node;

// n units of width w, checked (internal no-memory past 2 GB).
static uint32_t size_of_units(uint64_t n, uint64_t w) {
    if (n * w > 0x7FFFFFF0u) memory::raise_internal(memory::Internal::no_memory);
    return (uint32_t)(n * w);
}

uint8_t* cache_buffer(cell* value, uint32_t n) {
    Node* node = (Node*)(uintptr_t)value->data3;
    if (!node) {
        node = memory::alloc_bytes((int32_t)n);
        value->data3 = (uint32_t)(uintptr_t)node;
    } else if ((uint32_t)(node->buffer->data_end() - node->buffer->head) < n) {
        memory::expand_series_copy(node, (int32_t)n);
    }
    return node->buffer->head;
}

uint8_t* to_utf8_part(cell* value, int32_t* count, bool lf) {
    int32_t n = string::length_of(value);
    if (*count >= 0 && *count < n) n = *count;
    uint32_t w = string::width_of(value);
    uint8_t* dest = cache_buffer(value, utf8_bound(w, (uint32_t)n));
    // After the cache allocation: the text's buffer may have moved.
    uint32_t bytes = units_to_utf8(string::head_pointer(value), w, (uint32_t)n, dest, lf);
    dest[bytes] = 0;
    *count = (int32_t)bytes;
    return dest;
}
uint8_t* to_utf8(cell* value, int32_t* count) { return to_utf8_part(value, count, false); }

uint32_t to_utf8_into(cell* value, uint8_t* dest, int32_t max_chars, bool nul) {
    int32_t n = string::length_of(value);
    if (max_chars >= 0 && max_chars < n) n = max_chars;
    uint32_t bytes = units_to_utf8(string::head_pointer(value), string::width_of(value),
                                   (uint32_t)n, dest, false);
    if (nul) dest[bytes] = 0;
    return bytes;
}

uint32_t to_utf8_into_bounded(cell* value, uint8_t* dest, uint32_t room, int32_t max_chars,
                              bool nul) {
    int32_t n = string::length_of(value);
    if (max_chars > 0 && max_chars < n) n = max_chars;
    return units_to_utf8_bounded(string::head_pointer(value), string::width_of(value),
                                 (uint32_t)n, dest, room, nul);
}

void load_utf8_into(const uint8_t* source, uint32_t length, cell* value, uint32_t* remaining) {
    Utf8Load load = measure_utf8(source, length, false);
    Node* node = series::node_of(value);
    Buffer* b = node->buffer;
    uint32_t w = b->unit() > load.width ? b->unit() : load.width;
    uint32_t need = size_of_units(load.units + 1, w);
    // Replaces the content from the buffer's head pointer.
    b->tail = b->head;
    b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | w;
    if ((uint32_t)(b->data_end() - b->head) < need) b = memory::expand_series(node, (int32_t)need);
    b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | w;
    uint32_t n = decode_utf8_into(source, load, b->head, w);
    b->tail = b->head + (size_t)n * w;
    if (remaining) *remaining = load.remaining;
}

cell* load_utf8_new(const uint8_t* source, uint32_t length, cell* target) {
    Utf8Load load = measure_utf8(source, length, false);
    string::make_at_unit(target, (int32_t)load.units, load.width);
    Buffer* b = series::buffer_of(target);
    uint32_t n = decode_utf8_into(source, load, b->head, load.width);
    b->tail = b->head + (size_t)n * load.width;
    return target;
}

cell* load_utf16(const void* source, uint32_t n, cell* value, cell* target, bool cr) {
    // Without a source the text is in the string's own cache buffer: copied
    // out first, since growing the text buffer may move the cache.
    void* copied = nullptr;
    if (!source) {
        uint32_t bytes = size_of_units(n, 2);
        copied = sys::allocate(bytes ? bytes : 2);
        memcpy(copied, cache_buffer(value, bytes), bytes);
        source = copied;
    }
    uint32_t w = utf16_unit_width(source, n);
    Node* node;
    if (value) {
        node = series::node_of(value);
        uint32_t need = size_of_units(n + 1, w);
        if ((uint32_t)(node->buffer->data_end() - node->buffer->head) < need)
            memory::expand_series(node, (int32_t)need);  // the content is replaced anyway
        target = value;
    } else {
        string::make_at_unit(target, (int32_t)(n ? n : 1), n ? w : 2);
        node = series::node_of(target);
    }
    Buffer* b = node->buffer;
    if (n) b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | w;
    uint32_t chars = decode_utf16_into(source, n, b->head, b->unit(), cr);
    b->tail = b->head + (size_t)chars * b->unit();
    if (copied) sys::free(copied);
    return target;
}

uint16_t* to_utf16_part(cell* value, int32_t* count, bool lf) {
    int32_t n = string::length_of(value);
    if (*count >= 0 && *count < n) n = *count;
    uint32_t w = string::width_of(value);
    uint32_t bound = utf16_bound(string::head_pointer(value), w, (uint32_t)n);
    uint8_t* dest = cache_buffer(value, bound);
    int32_t written = units_to_utf16(string::head_pointer(value), w, (uint32_t)n, dest, lf);
    if (written < 0) return nullptr;
    *count = written;
    return (uint16_t*)dest;
}

uint16_t* to_utf16(cell* value) {
    int32_t count = -1;
    return to_utf16_part(value, &count, true);
}

}  // namespace unicode
