// map!: see map.h.
#include "datatypes/map.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/tracked.h"

namespace map {

using memory::Node;
using namespace datatype;

static int32_t cell_count(Node* node) { return block::total_cells(node); }
static cell* cells(Node* node) { return block::cells_of(node); }
static bool is_live(const cell* key) { return key[1].header != 0; }

// --- Keys -----------------------------------------------------------------------------

bool is_valid_key(uint8_t t) {
    switch (t) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_BINARY: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_REF:
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_REFINEMENT: case TYPE_ISSUE:
        case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_TIME: case TYPE_DATE:
        case TYPE_MONEY: case TYPE_POINT2D: case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

static void check_key(const cell* key) {
    if (is_valid_key(key->type())) return;
    cell type;
    datatype::make_at(&type, key->type());
    error::raise_script(error::Script::invalid_path, nullptr, &type);
}

// Normalises a key in place (a cell the collector sees: it may allocate).
static void normalise(cell* key) {
    check_key(key);
    uint8_t t = key->type();
    if (t >= TYPE_WORD && t <= TYPE_GET_WORD) {
        cell::set_type(key, TYPE_SET_WORD);
    } else if (series::is_any_string(t) || t == TYPE_BINARY) {
        actions::get_action_ptr_of<A_COPY>(key)(key, key, series::ABSENT, false, series::ABSENT);
    }
    cell::clear_new_line(key);
}

// The stored key cell matching `key` under op, or null. Valid until the next
// allocation.
static cell* lookup(const cell* map, const cell* key, int32_t op) {
    check_key(key);
    cell k = *key;  // hashtable::find wants a key outside any series buffer
    return hashtable::find_key(table(map), &k, op);
}

static int32_t op_of(bool case_, bool same = false) {
    return same ? OP_SAME : case_ ? OP_STRICT_EQUAL : OP_EQUAL;
}

// --- Making ------------------------------------------------------------------------------

cell* make_at(cell* c, const cell* blk, int32_t size) {
    stack::TopMark mark;
    cell* holder;
    if (blk) {
        holder = stack::push(blk);
        holder->data1 = 0;
    } else {
        holder = stack::push_cell();
        block::make_at(holder, size < 2 ? 2 : size);
    }
    int32_t pairs = cell_count(series::node_of(holder)) / 2;
    Node* t = hashtable::init(pairs < (size / 2) ? size / 2 : pairs, holder, hashtable::KIND_MAP, 0);
    holder->data3 = (uint32_t)(uintptr_t)t;
    holder->header = TYPE_MAP;
    holder->data1 = 0;
    *c = *holder;
    return c;
}

cell* push() { return make_at(stack::push_cell(), nullptr, 2); }

int32_t length_of(const cell* map) { return hashtable::record(table(map))->count; }

// Stores key -> value (both cells the collector sees). Returns nothing: the
// block may have moved.
static void put_pair(cell* map, cell* key, const cell* value, int32_t op) {
    cell* found = lookup(map, key, op);
    if (found) {
        if (!is_live(found)) hashtable::record(table(map))->count++;
        found[1] = *value;
        cell::clear_new_line(&found[1]);
        return;
    }
    stack::TopMark mark;
    cell* k = stack::push(key);
    normalise(k);
    Node* node = block_of(map);
    block::append_cell_copy(node, k);
    cell* v = block::append_cell_copy(node, value);
    cell::clear_new_line(v);
    node = block_of(map);
    hashtable::put(table(map), &cells(node)[cell_count(node) - 2]);
}

// Copies the pairs of a block from its head, keys normalised, into a new
// pushed block. An odd count raises invalid-arg.
static cell* normalised_copy(cell* blk) {
    if (block::length_of(blk) % 2) error::raise_script(error::Script::invalid_arg, blk);
    cell* copy = stack::push(blk);
    series::copy(copy, copy, series::ABSENT, false, series::ABSENT);
    cell::set_type(copy, TYPE_BLOCK);
    Node* node = series::node_of(copy);
    for (int32_t i = 0; i < cell_count(node); i++) {
        cell::clear_new_line(&cells(node)[i]);
        if (i % 2) continue;
        cell* k = stack::push(&cells(node)[i]);
        normalise(k);
        cells(series::node_of(copy))[i] = *k;
        stack::pop(1);
        node = series::node_of(copy);
    }
    return copy;
}

static cell* build(cell* target, cell* spec, int32_t type, bool to_) {
    stack::TopMark mark;
    cell* s = stack::push(spec);
    switch (s->type()) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            cell* copy = normalised_copy(s);
            return make_at(target, copy, 0);
        }
        case TYPE_INTEGER: case TYPE_FLOAT: {
            if (to_) break;
            double n = s->type() == TYPE_INTEGER ? (double)(int32_t)s->data2 : cell::get_float(s);
            if (!(n >= 0)) error::raise_script(error::Script::out_of_range, s);
            if (n > 1e8) memory::raise_internal(memory::Internal::no_memory);
            int32_t cells_n = (int32_t)n * 2;
            return make_at(target, nullptr, cells_n < 2 ? 2 : cells_n);
        }
        case TYPE_MAP:
            return copy(s, target, series::ABSENT, false, series::ABSENT);
        default:
            break;
    }
    cell t;
    datatype::make_at(&t, TYPE_MAP);
    error::raise_script(error::Script::bad_to_arg, &t, s);
}

cell* make(cell* target, cell* spec, int32_t type) { return build(target, spec, type, false); }
cell* to(cell* target, cell* spec, int32_t type) { return build(target, spec, type, true); }

cell* extend(cell* map, cell* blk, bool case_) {
    if (block::length_of(blk) % 2) error::raise_script(error::Script::invalid_arg, blk);
    stack::TopMark mark;
    cell* m = stack::push(map);
    cell* b = stack::push(blk);
    int32_t n = block::length_of(b);
    Node* node = block_of(m);
    // Room for every new pair first.
    uint32_t need = sys::size_mul((uint32_t)(cell_count(node) + n), sizeof(cell));
    if (node->buffer->data_end() - node->buffer->head < (ptrdiff_t)need)
        memory::expand_series_copy(node, (int32_t)need);
    for (int32_t i = 0; i < n; i += 2) {
        int32_t h = (int32_t)b->data1;
        cell* k = stack::push(&cells(series::node_of(b))[h + i]);
        cell* v = stack::push(&cells(series::node_of(b))[h + i + 1]);
        put_pair(m, k, v, op_of(case_));
        stack::pop(2);
    }
    return map;
}

// --- Walks ---------------------------------------------------------------------------------

bool foreach_next(cell* words, cell* map, int32_t* position) {
    stack::TopMark mark;
    cell* m = stack::push(map);
    cell* w = stack::push(words);
    int32_t nw = block::length_of(w);
    bool any = false;
    for (int32_t j = 0; j < nw; j++) {
        cell* word = &cells(series::node_of(w))[w->data1 + j];
        uint8_t t = word->type();
        if (t < TYPE_WORD || t > TYPE_GET_WORD) error::raise_script(error::Script::invalid_arg, word);
    }
    for (int32_t j = 0; j < nw; j += 2) {
        Node* node = block_of(m);
        while (*position < cell_count(node) && !is_live(&cells(node)[*position])) *position += 2;
        cell key{TYPE_NONE, 0, 0, 0}, value{TYPE_NONE, 0, 0, 0};
        if (*position < cell_count(node)) {
            key = cells(node)[*position];
            value = cells(node)[*position + 1];
            if (key.type() == TYPE_SET_WORD) cell::set_type(&key, TYPE_WORD);
            cell::clear_new_line(&key);
            *position += 2;
            any = true;
        }
        cell* k = stack::push(&key);
        cell* v = stack::push(&value);
        word::set_in(&cells(series::node_of(w))[w->data1 + j], k);
        if (j + 1 < nw) word::set_in(&cells(series::node_of(w))[w->data1 + j + 1], v);
        stack::pop(2);
    }
    return any;
}

// --- Text -------------------------------------------------------------------------------------

static int32_t serialize(cell* value, cell* out, bool only, bool all, bool flat, bool mold_,
                         int32_t limit, int32_t indent) {
    int32_t budget = limit;
    if (cycles::detect(value, out, &budget, true)) return budget;
    stack::TopMark mark;
    cell* m = stack::push(value);
    cycles::Frame frame(block_of(m));
    auto text = [&](const char* s) {
        string::concatenate_cstr(out, s);
        budget -= (int32_t)strlen(s);
    };
    if (mold_ && !only) text("#[");
    bool lines = mold_ && !flat;
    if (lines && length_of(m) > 0) text("\n");
    bool written = false;
    for (int32_t i = 0; i + 1 < cell_count(block_of(m)); i += 2) {
        if (budget <= 0) return budget;
        if (!is_live(&cells(block_of(m))[i])) continue;
        if (written) text(lines ? "" : mold_ ? " " : "\n");
        if (lines) budget = cycles::indent(out, indent + 1, budget);
        cell* k = stack::push(&cells(block_of(m))[i]);
        cell* v = stack::push(&cells(block_of(m))[i + 1]);
        budget = actions::mold_typed(k, out, false, all, flat, nullptr, budget, indent + 1);
        text(" ");
        budget = actions::mold_typed(v, out, false, all, flat, nullptr, budget, indent + 1);
        stack::pop(2);
        if (lines) text("\n");
        written = true;
    }
    if (lines && written && indent >= 1) budget = cycles::indent(out, indent, budget);
    if (mold_ && !only) text("]");
    return budget;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return serialize(value, out, false, false, false, false, limit, 0);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return serialize(value, out, only, all, flat, true, limit, indent);
}

// --- Comparison ------------------------------------------------------------------------------

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_MAP) return NOT_COMPARABLE;
    bool same = a->data2 == b->data2;
    if (op == OP_SORT || op == OP_CASE_SORT)
        return same ? 0 : a->data2 < b->data2 ? -1 : 1;
    if (op == OP_SAME) return same ? 0 : 1;
    if (op > OP_STRICT_EQUAL && op != OP_FIND) return NOT_COMPARABLE;
    if (same) return 0;
    if (length_of(a) != length_of(b)) return 1;
    int32_t mode = op == OP_STRICT_EQUAL ? OP_STRICT_EQUAL : OP_EQUAL;
    stack::TopMark mark;
    cell* x = stack::push(a);
    cell* y = stack::push(b);
    cycles::Frame frame(block_of(x));
    for (int32_t i = 0; i + 1 < cell_count(block_of(x)); i += 2) {
        if (!is_live(&cells(block_of(x))[i])) continue;
        cell* k = stack::push(&cells(block_of(x))[i]);
        cell* other = lookup(y, k, mode);
        if (!other || !is_live(other)) return 1;
        cell* w = stack::push(other + 1);
        cell* v = stack::push(&cells(block_of(x))[i + 1]);
        if (!actions::compare(v, w, mode)) return 1;
        stack::pop(3);
    }
    return 0;
}

// --- Actions ------------------------------------------------------------------------------

cell* reflect(cell* value, int32_t field_symbol) {
    const char* field = symbol::to_cstr(field_symbol);
    int kind = !strcmp(field, "words") ? 0 : !strcmp(field, "values") ? 1 : !strcmp(field, "body") ? 2 : -1;
    if (kind < 0) error::raise_internal(error::Internal::not_done);
    stack::TopMark mark;
    cell* m = stack::push(value);
    cell* r = block::push_new(length_of(m) * (kind == 2 ? 2 : 1) + 1);
    for (int32_t i = 0; i + 1 < cell_count(block_of(m)); i += 2) {
        if (!is_live(&cells(block_of(m))[i])) continue;
        if (kind != 1) {
            cell k = cells(block_of(m))[i];
            if (kind == 0 && k.type() == TYPE_SET_WORD) cell::set_type(&k, TYPE_WORD);
            cell::set_new_line(&k, kind == 2);
            block::append_cell_copy(series::node_of(r), &k);
        }
        if (kind != 0) {
            cell v = cells(block_of(m))[i + 1];
            cell::clear_new_line(&v);
            block::append_cell_copy(series::node_of(r), &v);
        }
    }
    cell done = *r;
    *value = done;
    return value;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    if (get || !value) {
        cell* found = lookup(parent, element, op_of(case_));
        cell r{TYPE_NONE, 0, 0, 0};
        if (found && is_live(found)) r = found[1];
        return stack::push(&r);
    }
    put_pair(parent, element, value, op_of(case_));
    return value;
}

cell* clear(cell* series) {
    hashtable::clear(table(series));
    return series;
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    if (stack::is_given(types)) error::raise_internal(error::Internal::not_done);
    stack::TopMark mark;
    cell* m = stack::push(value);
    cell* blk = stack::push(m);
    blk->header = TYPE_BLOCK;
    blk->data1 = 0;
    blk->data3 = 0;
    if (deep && cycles::find(block_of(m))) {
        cycles::reset();
        error::raise_internal(error::Internal::no_cycle);
    }
    block::copy(blk, blk, series::ABSENT, deep, series::ABSENT);
    cycles::Frame frame(block_of(m));
    // Nested maps are not series: the block copy leaves them shared.
    for (int32_t i = 0; deep && i < cell_count(series::node_of(blk)); i++) {
        if (cells(series::node_of(blk))[i].type() != TYPE_MAP) continue;
        cell* nested = stack::push(&cells(series::node_of(blk))[i]);
        copy(nested, nested, series::ABSENT, true, series::ABSENT);
        cells(series::node_of(blk))[i] = *nested;
        stack::pop(1);
    }
    Node* t = hashtable::copy(table(m), series::node_of(blk));
    blk->data3 = (uint32_t)(uintptr_t)t;
    blk->header = TYPE_MAP;
    *result = *blk;
    return result;
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    cell* found = lookup(series, value, op_of(case_, same));
    cell r{TYPE_NONE, 0, 0, 0};
    if (found && is_live(found)) {
        r = found[0];
        if (r.type() == TYPE_SET_WORD) cell::set_type(&r, TYPE_WORD);
        cell::clear_new_line(&r);
    }
    *series = r;
    return series;
}

int32_t length(cell* series) { return length_of(series); }

cell* put(cell* series, cell* key, cell* value, bool case_) {
    put_pair(series, key, value, op_of(case_));
    cell v = *value;
    *series = v;
    return series;
}

cell* remove(cell* series, cell* part, cell* key) {
    if (!stack::is_given(key)) error::raise_script(error::Script::missing_arg);
    cell* found = lookup(series, key, OP_EQUAL);
    if (found && is_live(found)) hashtable::delete_at(table(series), found);
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    cell* found = lookup(series, value, op_of(case_, same));
    cell r{TYPE_NONE, 0, 0, 0};
    if (found && is_live(found)) r = found[1];
    *series = r;
    return series;
}

// --- Registration ---------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, on<A_REFLECT>(reflect), on<A_TO>(to), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                  // math
        NO, NO, NO, NO,                                                              // bitwise
        NO, NO, NO, NO, on<A_CLEAR>(clear), on<A_COPY>(copy), on<A_FIND>(find), NO, NO, NO,
        NO, on<A_LENGTH_OF>(length), NO, NO, NO, NO, on<A_PUT>(put), on<A_REMOVE>(remove), NO,
        on<A_SELECT>(select),
        NO, NO, NO, NO, NO, NO, NO,                                                  // sort .. trim
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                  // I/O
    };
    // clang-format on
    define(TYPE_MAP, 0, "map!", list);
}

}  // namespace map
