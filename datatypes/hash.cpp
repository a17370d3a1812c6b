// hash!: see hash.h.
#include "datatypes/hash.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"

namespace hash {

using memory::Node;
using namespace datatype;

// --- Index upkeep -----------------------------------------------------------------------

void rebuild(const cell* h) {
    if (!is_indexed(h)) return;
    hashtable::rebuild(table(h), block::total_cells(series::node_of(h)));
}

void entered(const cell* h, int32_t from, int32_t to) {
    if (!is_indexed(h)) return;
    Node* t = table(h);
    Node* node = series::node_of(h);
    if (to > block::total_cells(node)) to = block::total_cells(node);
    for (int32_t i = from < 0 ? 0 : from; i < to; i++) {
        int32_t out = 0;
        hashtable::put_key(t, &block::cells_of(node)[i], &out);
        if (out == 2) return;  // the whole block was entered again
    }
}

void removing(const cell* h, int32_t from, int32_t to) {
    if (!is_indexed(h) || to <= from) return;
    hashtable::clear_range(table(h), from, to - from);
}

int64_t find_index(cell* h, const cell* key, int32_t op, bool last, bool reverse, int32_t skip) {
    cell k = *key;  // the table wants a key outside any series buffer
    collector::Root hold(k);
    int32_t start = (int32_t)h->data1;
    cell* found = hashtable::find(table(h), &k, start, skip, op, last, reverse);
    if (!found) return -1;
    return found - block::cells_of(series::node_of(h));
}

cell* index_block(cell* c) {
    stack::TopMark mark;
    cell* held = stack::push(c);  // roots the block while the table is made
    cell whole = *held;
    whole.data1 = 0;
    Node* t = hashtable::init(block::total_cells(series::node_of(held)) + 1, &whole,
                              hashtable::KIND_HASH, 0);
    held->data3 = (uint32_t)(uintptr_t)t;
    cell::set_type(held, TYPE_HASH);
    *c = *held;
    return c;
}

// --- Actions ------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) {
    stack::TopMark mark;
    cell* s = stack::push(spec);
    switch (s->type()) {
        case TYPE_INTEGER: case TYPE_FLOAT: {
            double n = s->type() == TYPE_INTEGER ? (double)(int32_t)s->data2 : cell::get_float(s);
            if (!(n >= 0) || n > 1e8) error::raise_script(error::Script::out_of_range, s);
            cell* r = block::push_new((int32_t)n < 1 ? 1 : (int32_t)n);
            Node* t = hashtable::init((int32_t)n < 1 ? 1 : (int32_t)n, r, hashtable::KIND_HASH, 0);
            r->data3 = (uint32_t)(uintptr_t)t;
            cell::set_type(r, TYPE_HASH);
            *target = *r;
            return target;
        }
        case TYPE_HASH:
            return copy(s, target, series::ABSENT, false, series::ABSENT);
        case TYPE_BLOCK: {
            cell* r = block::clone(s, false, false);
            r->data1 = 0;
            index_block(r);
            *target = *r;
            return target;
        }
        default:
            return to(target, s, type);
    }
}

cell* to(cell* target, cell* spec, int32_t type) {
    stack::TopMark mark;
    cell* s = stack::push(spec);
    if (s->type() == TYPE_HASH) return copy(s, target, series::ABSENT, false, series::ABSENT);
    cell* r = stack::push_cell();
    block::to(r, s, TYPE_BLOCK);
    if (r->data1 != 0 || r->data2 == s->data2) {
        // Only the values from the head, in a block of their own.
        r = block::clone(r, false, false);
        r->data1 = 0;
    }
    index_block(r);
    *target = *r;
    return target;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (!only) {
        string::concatenate_cstr(out, "make hash! ");
        limit -= 11;
    }
    return block::mold(value, out, only, all, flat, part, limit, indent);
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    stack::TopMark mark;
    cell* held = stack::push(value);
    cell source = *held;
    bool whole = (int32_t)source.data1 <= 0 && !stack::is_given(part) && !stack::is_given(types);
    cell* r = stack::push(held);
    block::copy(r, r, part, deep, types);
    r->data1 = 0;
    if (whole && is_indexed(held)) {
        Node* t = hashtable::copy(table(held), series::node_of(r));
        r->data3 = (uint32_t)(uintptr_t)t;
        cell::set_type(r, TYPE_HASH);
    } else {
        index_block(r);
    }
    *result = *r;
    return result;
}

cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable) {
    cell h = *series;
    collector::Root hold(h);
    block::sort(series, case_, skip, compare, part, all, reverse, stable);
    rebuild(&h);
    return series;
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    block::trim(series, head, tail, auto_, lines, all, with);
    rebuild(series);
    return series;
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, INHERIT, on<A_TO>(to), INHERIT, on<A_MOLD>(mold), INHERIT, NO,
        INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                  // math
        NO, NO, NO, NO,                                                              // bitwise
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, on<A_COPY>(copy), INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, on<A_SORT>(sort), INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, on<A_TRIM>(trim),
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                             // I/O
    };
    // clang-format on
    define(TYPE_HASH, TYPE_BLOCK, "hash!", list);
}

}  // namespace hash
