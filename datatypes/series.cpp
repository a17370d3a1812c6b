#include "datatypes/series.h"

#include <algorithm>
#include <cstring>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/error_out.h"
#include "datatypes/hash.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/collector.h"
#include "runtime/ownership.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace series {

using namespace datatype;
using memory::Buffer;
using memory::Node;

cell* make_integer(cell* c, int32_t n) { return integer::make_at(c, n); }
cell* make_char(cell* c, int32_t cp) { return char_::make_at(c, cp); }

cell* make_at(cell* c, uint8_t type, Node* node, int32_t head) {
    c->header = type;
    c->data1 = (uint32_t)head;
    c->data2 = (uint32_t)(uintptr_t)node;
    c->data3 = 0;
    return c;
}

cell* make_none(cell* c) {
    *c = cell{TYPE_NONE, 0, 0, 0};
    return c;
}
cell* make_logic(cell* c, bool b) {
    *c = cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0};
    return c;
}

// --- Support ----------------------------------------------------------------------

static int32_t head_of(const cell* v) { return (int32_t)v->data1; }

// An image! counts pixels, width × height from its size word; its node (none
// for an empty image) holds a record, not the pixels.
static uint32_t image_pixels(const cell* v) { return (v->data3 & 0xFFFF) * (v->data3 >> 16); }

bool is_at_tail(const cell* v) {
    if (v->type() == TYPE_IMAGE) return head_of(v) >= (int32_t)image_pixels(v);
    Buffer* b = buffer_of(v);
    return (int64_t)head_of(v) << shift_of(b->unit()) >= (int64_t)(b->tail - b->head);
}

bool advance(cell* v, int32_t n) {
    int64_t h = (int64_t)head_of(v) + n;
    if (h >= 0 && h <= (int64_t)buffer_units(v)) v->data1 = (uint32_t)h;
    return is_at_tail(v);
}

int32_t resolve_index(cell* v, const cell* arg, bool one_based) {
    if (arg->type() != TYPE_INTEGER) error::raise_script(error::Script::invalid_arg, arg);
    int64_t n = (int32_t)arg->data2;
    int64_t h = head_of(v);
    if (h < 0) h = 0;
    int64_t units = buffer_units(v);
    if (h > units) h = units;
    int64_t r = one_based && n >= 1 ? h + n - 1 : h + n;
    if (r < 0) r = 0;
    if (r > units) r = units;
    return (int32_t)r;
}

int32_t units_from_head(cell* v, bool from_start) {
    int32_t units = (int32_t)buffer_units(v);
    if (from_start) return units;
    int32_t h = head_of(v);
    if (h > units) {
        v->data1 = (uint32_t)units;
        return 0;
    }
    if (h < 0) h = 0;
    return units - h;
}

void truncate_units(Node* node, uint32_t n) {
    Buffer* b = node->buffer;
    uint32_t shift = shift_of(b->unit());
    uint64_t bytes = (uint64_t)n << shift;
    if (bytes < (uint64_t)(b->tail - b->head) && bytes <= (uint64_t)(b->data_end() - b->head))
        b->tail = b->head + bytes;
}

int32_t part_count(cell* v, const cell* part) {
    if (part->type() == TYPE_INTEGER) return (int32_t)part->data2;
    if (part->type() == v->type() && part->data2 == v->data2)
        return head_of(part) - head_of(v);
    error::raise_refine_arg("part", part);
}

// The value at unit `i` of the buffer, made by the series' type.
static cell* value_at(cell* v, uint32_t i, cell* out) {
    Buffer* b = buffer_of(v);
    uint32_t unit = b->unit();
    uint8_t t = v->type();
    if (unit == sizeof(cell)) {
        cell c;
        memcpy(&c, b->head + (size_t)i * sizeof(cell), sizeof c);
        *out = c;
        return out;
    }
    if (t == TYPE_BINARY) return make_integer(out, b->head[i]);
    if (t == TYPE_VECTOR) return vector::get_value(v, i, out);
    return make_char(out, string::get_char(b->head + ((size_t)i << shift_of(unit)), unit));
}

// --- Positioning ------------------------------------------------------------------

static cell* position(int32_t index) {
    cell* v = stack::arg(0);
    v->data1 = (uint32_t)index;
    return v;
}

cell* head() { return position(0); }
cell* tail() { return position((int32_t)buffer_units(stack::arg(0))); }
cell* at() { return position(resolve_index(stack::arg(0), stack::arg(1), true)); }
cell* skip() { return position(resolve_index(stack::arg(0), stack::arg(1), false)); }

cell* next() {
    cell* v = stack::arg(0);
    if ((int64_t)head_of(v) + 1 <= (int64_t)buffer_units(v)) v->data1++;
    return v;
}

cell* back() {
    cell* v = stack::arg(0);
    if (head_of(v) > 0) v->data1--;
    return v;
}

cell* is_head() {
    cell* v = stack::arg(0);
    return make_logic(v, head_of(v) == 0);
}

cell* is_tail() {
    cell* v = stack::arg(0);
    return make_logic(v, is_at_tail(v));
}

cell* index_of() {
    cell* v = stack::arg(0);
    return make_integer(v, head_of(v) + 1);
}

int32_t length_of(cell* series) { return units_from_head(series, false); }

// --- Reading and writing one unit ---------------------------------------------------

// Buffer position of a pick/poke index, or -1 when it is outside the buffer.
static int64_t pick_position(cell* v, int32_t n) {
    if (n == 0) return -1;
    int64_t p = (int64_t)head_of(v) + (n > 0 ? n - 1 : n);
    if (p < 0 || p >= (int64_t)buffer_units(v)) return -1;
    return p;
}

cell* pick(cell* series, int32_t index, cell* index_cell) {
    int64_t p = pick_position(series, index);
    if (p < 0) return make_none(series);
    cell out;
    value_at(series, (uint32_t)p, &out);
    *series = out;
    return series;
}

cell* poke(cell* series, int32_t index, cell* value, cell* index_cell) {
    int64_t p = pick_position(series, index);
    if (p < 0) error::raise_out_of_range(index);
    cell v = *value;  // the handler may overwrite the value's cell
    bool owned = ownership::check(series, ownership::POKE, (int32_t)p, 1);
    if (owned && p >= (int64_t)buffer_units(series)) {
        // The handler cut the series short: the position is gone.
        error::raise_out_of_range(index);
    }
    value = &v;
    Buffer* b = buffer_of(series);
    uint8_t t = series->type();
    if (b->unit() == sizeof(cell)) {
        memcpy(b->head + (size_t)p * sizeof(cell), value, sizeof(cell));
    } else if (t == TYPE_BINARY) {
        if (value->type() != TYPE_INTEGER && value->type() != TYPE_CHAR)
            error::raise_script(error::Script::invalid_arg, value);
        b->head[p] = (uint8_t)value->data2;
    } else if (t == TYPE_VECTOR) {
        vector::set_value(series, (uint32_t)p, value);
    } else {
        if (value->type() != TYPE_CHAR) error::raise_script(error::Script::invalid_arg, value);
        string::poke_char(node_of(series), (uint32_t)p, (int32_t)value->data2);
    }
    hash::entered(series, (int32_t)p, (int32_t)p + 1);
    if (owned) ownership::check(series, ownership::POKED, (int32_t)p, 1);
    *series = *value;
    return series;
}

// --- Clearing and removing ----------------------------------------------------------

static cell* clear_units(cell* series) {
    int32_t n = units_from_head(series, false);
    if (n >= 1) {
        bool owned = ownership::check(series, ownership::CLEAR, head_of(series), n);
        units_from_head(series, false);  // the handler may have cut the series
        Buffer* b = buffer_of(series);
        b->tail = b->head + ((size_t)head_of(series) << shift_of(b->unit()));
        if (owned) ownership::check(series, ownership::CLEARED, head_of(series), 0);
    }
    return series;
}

cell* clear(cell* series) {
    cell before = *series;  // a hash! keeps its index current
    collector::Root hold(before);
    cell* r = clear_units(series);
    hash::rebuild(&before);
    return r;
}


// Removes `count` units at unit `at` (from the buffer's head pointer), at most
// those up to the tail.
static void cut(Node* node, uint32_t at, uint32_t count) {
    Buffer* b = node->buffer;
    uint32_t shift = shift_of(b->unit());
    uint32_t units = (uint32_t)(b->tail - b->head) >> shift;
    if (at >= units || count == 0) return;
    if (count > units - at) count = units - at;
    uint8_t* from = b->head + ((size_t)(at + count) << shift);
    memmove(b->head + ((size_t)at << shift), from, (size_t)(b->tail - from));
    b->tail -= (size_t)count << shift;
}

uint32_t cut_runs(Node* node, const uint32_t* bounds, uint32_t runs, uint32_t before) {
    Buffer* b = node->buffer;
    uint32_t shift = shift_of(b->unit());
    uint32_t units = (uint32_t)(b->tail - b->head) >> shift;
    uint32_t write = 0, read = 0, removed_before = 0;
    for (uint32_t k = 0; k < runs; k++) {
        uint32_t from = std::min(bounds[2 * k], units), to = std::min(bounds[2 * k + 1], units);
        if (from < read) from = read;
        if (to <= from) continue;
        if (write != read)
            memmove(b->head + ((size_t)write << shift), b->head + ((size_t)read << shift),
                    (size_t)(from - read) << shift);
        write += from - read;
        if (from < before) removed_before += std::min(to, before) - from;
        read = to;
    }
    if (write != read)
        memmove(b->head + ((size_t)write << shift), b->head + ((size_t)read << shift),
                (size_t)(units - read) << shift);
    b->tail -= (size_t)(read - write) << shift;
    return removed_before;
}

static cell* remove_units(cell* series, cell* part, cell* key) {
    int32_t count = 1;
    if (stack::is_given(part)) count = part_count(series, part);
    if (stack::is_given(key)) {
        cell found = *series;
        auto find = actions::get_action_ptr_of<A_FIND>(series);
        cell* no = ABSENT;
        find(&found, key, no, false, false, false, false, no, no, false, false, false, false);
        if (found.type() == TYPE_NONE) return make_none(series);
        series->data1 = found.data1;
        count++;
    }
    if (count < 1) return series;
    units_from_head(series, false);
    if (head_of(series) < 0) series->data1 = 0;
    if (is_at_tail(series)) return series;
    bool owned = ownership::check(series, ownership::REMOVE, head_of(series), count);
    units_from_head(series, false);  // `cut` clamps the count to what is left
    cut(node_of(series), (uint32_t)head_of(series), (uint32_t)count);
    if (owned) ownership::check(series, ownership::REMOVED, head_of(series), 0);
    return series;
}

cell* remove(cell* series, cell* part, cell* key) {
    cell before = *series;  // a hash! keeps its index current
    collector::Root hold(before);
    cell* r = remove_units(series, part, key);
    hash::rebuild(&before);
    return r;
}


// --- Copy and take ----------------------------------------------------------------

// A new buffer holding `count` units of `from`'s buffer from unit `start`,
// with the flags of the source (owned bit cleared). May collect.
static Node* copy_units(cell* from, uint32_t start, uint32_t count) {
    uint32_t unit = unit_of(from);
    Node* node = memory::alloc_series((int32_t)count, unit, 0);
    Buffer* src = buffer_of(from);  // read again: the allocation may have moved it
    Buffer* dst = node->buffer;
    uint32_t shift = shift_of(unit);
    memcpy(dst->head, src->head + ((size_t)start << shift), (size_t)count << shift);
    dst->tail = dst->head + ((size_t)count << shift);
    dst->flags = (src->flags & ~memory::FLAG_OWNED & ~memory::FLAG_FIXED & ~memory::FLAG_BIG) |
                 (dst->flags & (memory::FLAG_FIXED | memory::FLAG_BIG));
    return node;
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    int32_t units = units_from_head(value, true);
    int64_t start = head_of(value) < 0 ? 0 : head_of(value);
    int64_t count = units_from_head(value, false);
    if (stack::is_given(part)) {
        if (part->type() == TYPE_PAIR) {
            int32_t x = (int32_t)part->data1, y = (int32_t)part->data2;
            start = x < 0 ? start + x : start + x - 1;
            if (start < 0) start = 0;
            count = y >= x ? (int64_t)y - x : 0;
        } else {
            count = part_count(value, part);
        }
    }
    if (count < 0) {
        count = -count;
        start -= count;
        if (start < 0) {
            start = 0;
            count = head_of(value) < 0 ? 0 : head_of(value);
        }
    }
    if (start > units) {
        start = units;
        count = 0;
    }
    if (start + count > units) count = units - start;
    uint32_t header = value->header;
    cell source = *value;  // the value may be the result slot
    if (result != value) unset::make_at(result);
    Node* node = copy_units(&source, (uint32_t)start, (uint32_t)count);
    make_at(result, (uint8_t)(header & CELL_TYPE_MASK), node, 0);
    result->header |= header & CELL_NEW_LINE;
    if (source.type() == TYPE_VECTOR) result->data3 = source.data3;
    return result;
}

// The buffer `take` answers with when it takes one unit: shared, fixed, and
// valid until the next take.
static Node* take_buffer = nullptr;
// Rooted so that its buffer survives between takes.
static collector::NodeRoot take_root(take_buffer);

cell* take(cell* series, cell* part, bool deep, bool last) {
    int32_t n = units_from_head(series, false);
    if (n < 1) return make_none(series);
    int32_t h = head_of(series) < 0 ? 0 : head_of(series);
    int32_t count = 1, part_value = 1;
    bool has_part = stack::is_given(part);
    if (has_part) {
        if (part->type() == TYPE_INTEGER) {
            count = (int32_t)part->data2;
        } else if (part->type() == series->type() && part->data2 == series->data2) {
            int32_t ph = head_of(part);
            count = ph < h ? 0 : last ? h + n - ph : ph - h;
        } else {
            error::raise_refine_arg("part", part);
        }
        part_value = count;
        if (count < 0) {
            n = h;
            count = last ? 1 : -count;
        }
        if (count > n) count = n;
        if (count == 0) count = 1;
    }
    bool owned = ownership::check(series, ownership::TAKE, h, has_part ? part_value : 1);
    if (owned) {
        // The handler may have shortened the series: take no more than is left.
        int32_t units = (int32_t)buffer_units(series);
        if (h > units) h = units;
        series->data1 = (uint32_t)h;
        int32_t left = units - h;
        if (!(has_part && part_value < 1)) {
            if (left < 1) return make_none(series);
            if (count > left) count = left;
            n = left;
        } else if (count > h) {
            count = h;
        }
    }
    Node* source = node_of(series);
    uint32_t unit = unit_of(series);
    uint32_t shift = shift_of(unit);
    uint8_t type = series->type();
    uint32_t word3 = series->data3;

    int64_t start;  // first unit taken, from the buffer's head pointer
    bool empty = false;
    if (has_part && part_value < 1) {
        // A part of 0 takes nothing (counting it as 1 would take a unit).
        if (part_value == 0 || last || count > h || count == 0) empty = true;
        start = (int64_t)h - count;
    } else {
        start = last ? (int64_t)h + n - count : h;
    }

    Node* node;
    if (!has_part) {
        if (!take_buffer) take_buffer = memory::alloc_fixed_series(16, 1, 0);
        node = take_buffer;
        Buffer* b = node->buffer;
        b->flags = (b->flags & ~memory::FLAG_UNIT_MASK) | unit;
        b->tail = b->head;
    } else {
        node = memory::alloc_series(empty ? 0 : count, unit, 0);
    }
    if (!empty) {
        Buffer* src = source->buffer;  // after the allocation
        Buffer* dst = node->buffer;
        memcpy(dst->head, src->head + ((size_t)start << shift), (size_t)count << shift);
        dst->tail = dst->head + ((size_t)count << shift);
        cut(source, (uint32_t)start, (uint32_t)count);
        // Units taken before the head: the head follows the unit it designated.
        if (start < h) series->data1 = (uint32_t)(h - count);
    }
    cell origin = *series;
    collector::Root hold_origin(origin);
    make_at(series, type, node, 0);
    if (type == TYPE_VECTOR) series->data3 = word3;
    if (type == TYPE_HASH) {
        // The origin's index loses the taken cells; what was taken with
        // /part is a hash! of its own (one cell is answered as itself).
        hash::rebuild(&origin);
        if (has_part) hash::index_block(series);
    }
    if (owned) ownership::check(&origin, ownership::TAKEN, h, 0);
    return series;
}

// --- Reverse, move, random ------------------------------------------------------------

static void swap_bytes(uint8_t* a, uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        uint8_t t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

static cell* reverse_units(cell* series, cell* part, cell* skip) {
    int32_t count = units_from_head(series, false);
    if (stack::is_given(part)) {
        count = part_count(series, part);
        int32_t n = units_from_head(series, false);
        if (count > n) count = n;
    }
    if (count < 1) return series;
    int32_t size = 1;
    if (stack::is_given(skip)) {
        if (skip->type() != TYPE_INTEGER) error::raise_script(error::Script::invalid_arg, skip);
        size = (int32_t)skip->data2;
        if (size < 1) error::raise_script(error::Script::out_of_range, skip);
        if (size == count) return series;
        if (size > count || count % size)
            error::raise_refine_arg("skip", skip);
    }
    bool owned = ownership::check(series, ownership::REVERSE, head_of(series), count);
    if (owned) {
        // The handler may have shortened the series: whole records that are left.
        int32_t left = units_from_head(series, false);
        if (count > left) count = left - left % size;
        if (count < 2 * size) return series;
    }
    Buffer* b = buffer_of(series);
    uint32_t unit = b->unit();
    uint32_t w = unit * (uint32_t)size;
    uint8_t* first = b->head + (size_t)head_of(series) * unit;
    uint32_t records = (uint32_t)(count / size);
    for (uint32_t i = 0, j = records - 1; i < j; i++, j--)
        swap_bytes(first + (size_t)i * w, first + (size_t)j * w, w);
    if (owned) ownership::check(series, ownership::REVERSED, head_of(series), count);
    return series;
}

cell* reverse(cell* series, cell* part, cell* skip) {
    cell before = *series;  // a hash! keeps its index current
    collector::Root hold(before);
    cell* r = reverse_units(series, part, skip);
    hash::rebuild(&before);
    return r;
}


static cell* move_units(cell* origin, cell* target, cell* part) {
    if (!is_series(target->type())) {
        cell t;
        datatype::make_at(&t, target->type());
        error::raise_script(error::Script::expect_arg, nullptr, &t, target);
    }
    if (is_at_tail(origin)) return target;
    int32_t count = 1;
    int32_t available = units_from_head(origin, false);
    if (stack::is_given(part)) {
        if (part->type() != TYPE_INTEGER) error::raise_script(error::Script::invalid_arg, part);
        count = (int32_t)part->data2;
        if (count < 1) return target;
        if (count > available) count = available;
    }
    Node* on = node_of(origin);
    Node* tn = node_of(target);
    uint32_t oh = (uint32_t)head_of(origin);
    if (on != tn) {
        bool ob = is_any_block(origin->type()), tb = is_any_block(target->type());
        auto move_bad = [&] {
            cell a, c;
            datatype::make_at(&a, origin->type());
            datatype::make_at(&c, target->type());
            error::raise_script(error::Script::move_bad, &a, &c);
        };
        if (ob != tb) move_bad();
        uint32_t unit = on->buffer->unit();
        if (unit != tn->buffer->unit()) {
            if (!is_any_string(origin->type()) || !is_any_string(target->type())) move_bad();
            string::move_units(origin, target, (uint32_t)count);
            return target;
        }
        units_from_head(target, false);
        bool owned = ownership::check(target, ownership::MOVE, head_of(origin), count, origin);
        // The handler may have changed either side.
        units_from_head(target, false);
        int32_t left = units_from_head(origin, false);
        if (count > left) count = left;
        if (count < 1) return target;
        oh = (uint32_t)head_of(origin);
        uint32_t th = (uint32_t)head_of(target);
        size_t bytes = (size_t)count * unit;
        Buffer* t = tn->buffer;
        size_t used = t->used_bytes();
        if ((size_t)(t->data_end() - t->tail) < bytes)
            t = memory::expand_series_copy(tn, (int32_t)sys::size_mul(2, sys::size_add((uint32_t)used, (uint32_t)bytes)));
        Buffer* o = on->buffer;  // after the expansion
        uint8_t* at = t->head + (size_t)th * unit;
        memmove(at + bytes, at, (size_t)(t->tail - at));
        memcpy(at, o->head + (size_t)oh * unit, bytes);
        t->tail += bytes;
        cut(on, oh, (uint32_t)count);
        if (owned) ownership::check(target, ownership::MOVED, (int32_t)th, count, origin);
        return target;
    }
    // Same buffer.
    uint32_t unit = on->buffer->unit();
    uint32_t units = buffer_units(origin);
    uint32_t th = (uint32_t)head_of(target) > units ? units : (uint32_t)head_of(target);
    if (th == oh) return target;
    if (th > oh && th < units && units - th < (uint32_t)count) return origin;
    if (th >= oh && th < oh + (uint32_t)count) return target;  // into itself: nothing to do
    bool owned = ownership::check(target, ownership::MOVE, (int32_t)oh, count, origin);
    if (owned) {
        // The handler may have changed the series: derive every position again.
        units = buffer_units(origin);
        if (oh >= units) return target;
        if ((uint32_t)count > units - oh) count = (int32_t)(units - oh);
        if (th > units) th = units;
        if (th == oh || (th > oh && th < units && units - th < (uint32_t)count)) return target;
        if (th >= oh && th < oh + (uint32_t)count) return target;
    }
    size_t bytes = (size_t)count * unit;
    uint8_t* saved = (uint8_t*)sys::allocate((uint32_t)bytes);
    Buffer* b = on->buffer;
    memcpy(saved, b->head + (size_t)oh * unit, bytes);
    uint32_t landed = th;  // where the moved units start once they are in place
    if (th > oh) {
        // The units after the moved part, up to and including the target
        // unit (all of them when the target is the tail), move down.
        uint32_t end = th >= units ? units : th + 1;
        uint8_t* from = b->head + (size_t)(oh + count) * unit;
        size_t n = (size_t)(end - (oh + count)) * unit;
        memmove(b->head + (size_t)oh * unit, from, n);
        memcpy(b->head + (size_t)oh * unit + n, saved, bytes);
        landed = end - (uint32_t)count;
    } else {
        uint8_t* at = b->head + (size_t)th * unit;
        memmove(at + bytes, at, (size_t)(oh - th) * unit);
        memcpy(at, saved, bytes);
    }
    sys::free(saved);
    if (owned) ownership::check(target, ownership::MOVED, (int32_t)landed, count, origin);
    return target;
}

cell* move(cell* origin, cell* target, cell* part) {
    cell from = *origin, to = *target;  // hash! sides keep their index current
    collector::Root hold_from(from), hold_to(to);
    cell* r = move_units(origin, target, part);
    hash::rebuild(&from);
    if (to.data3 != from.data3) hash::rebuild(&to);
    return r;
}


cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    int32_t n = units_from_head(value, false);
    if (seed) {
        // FNV-1a over the bytes from the head; the hash table's byte hash
        // takes over when it lands.
        Buffer* b = buffer_of(value);
        uint32_t h = 2166136261u;
        for (uint8_t* p = b->head + ((size_t)head_of(value) << shift_of(b->unit())); p < b->tail; p++)
            h = (h ^ *p) * 16777619u;
        rnd::seed((int32_t)h);
        return unset::make_at(value);
    }
    if (only) {
        if (n < 1) return make_none(value);
        cell out;
        value_at(value, (uint32_t)(head_of(value) + rnd::integer(secure, n) - 1), &out);
        *value = out;
        return value;
    }
    bool owned = ownership::check(value, ownership::RANDOM, head_of(value), n);
    if (owned) n = units_from_head(value, false);
    uint32_t unit = unit_of(value);
    for (int32_t k = n, pos = head_of(value); k >= 1; k--, pos++) {
        int32_t r = rnd::integer(secure, k);
        Buffer* b = buffer_of(value);
        swap_bytes(b->head + (size_t)pos * unit, b->head + (size_t)(pos + r - 1) * unit, unit);
    }
    if (owned) ownership::check(value, ownership::RANDOMIZED, head_of(value), n);
    return value;
}

static bool is_owned_field(int32_t symbol_id) {
    return symbol::resolve(symbol_id) == symbol::resolve(symbol::make("owned"));
}

cell* reflect(cell* value, int32_t field_symbol) {
    if (!is_owned_field(field_symbol)) error::raise_internal(error::Internal::not_done);
    cell* owner = ownership::find(node_of(value));
    if (!owner) return make_none(value);
    cell o = *owner;
    *value = o;
    return value;
}

cell* modify(cell* target, cell* field, cell* value, bool case_) {
    if (!is_owned_field((int32_t)field->data2)) return target;
    if (value->type() == TYPE_NONE) {
        ownership::unset(target);
    } else if (value->type() == TYPE_BLOCK && units_from_head(value, false) >= 2) {
        cell* pair = reinterpret_cast<cell*>(buffer_of(value)->head) + head_of(value);
        cell owner = pair[0], word = pair[1];
        ownership::set_object(target, &owner, &word);
    }
    *target = *value;
    return target;
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        NO, on<A_RANDOM>(random), on<A_REFLECT>(reflect), NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,             // math
        NO, on<A_AT>(at), on<A_BACK>(back), NO, on<A_CLEAR>(clear), on<A_COPY>(copy),
        NO, on<A_HEAD>(head), on<A_IS_HEAD>(is_head), on<A_INDEX_OF>(index_of), NO,
        on<A_LENGTH_OF>(length_of), on<A_MOVE>(move), on<A_NEXT>(next), on<A_PICK>(pick),
        on<A_POKE>(poke), NO, on<A_REMOVE>(remove), on<A_REVERSE>(reverse), NO, NO,
        on<A_SKIP>(skip), NO, on<A_TAIL>(tail), on<A_IS_TAIL>(is_tail), on<A_TAKE>(take), NO,
        NO, NO, NO, on<A_MODIFY>(modify), NO, NO, NO, NO, NO, NO, NO,           // I/O
    };
    // clang-format on
    define(TYPE_SERIES, 0, "series!", list);
}

}  // namespace series
