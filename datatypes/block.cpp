#include "datatypes/block.h"

#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/hash.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/rt.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace block {

using namespace datatype;
using memory::Buffer;
using memory::Node;
using series::node_of;

namespace {

[[noreturn]] void no_memory() { memory::raise_internal(memory::Internal::no_memory); }

int32_t head_of(const cell* v) { return (int32_t)v->data1; }

// Head index clamped to 0..cells, written back.
int32_t clamp_head(cell* v) {
    series::units_from_head(v, false);
    if (head_of(v) < 0) v->data1 = 0;
    return head_of(v);
}

// A byte size of n cells, or internal no-memory when it does not fit.
uint32_t cell_bytes(uint64_t n) {
    if (n > 0x7FFFFFF0u / sizeof(cell)) no_memory();
    return (uint32_t)(n * sizeof(cell));
}

}  // namespace

Buffer* ensure_room(Node* node, uint64_t extra, bool doubling) {
    Buffer* b = node->buffer;
    uint64_t bytes = extra * sizeof(cell);
    if ((uint64_t)(b->data_end() - b->tail) >= bytes) return b;
    // A fixed buffer is kept by address (the root block, the stacks): it
    // never moves, so full is the end.
    if (b->flags & memory::FLAG_FIXED) no_memory();
    uint64_t need = (uint64_t)b->used_bytes() + bytes;
    uint64_t capacity = doubling ? need * 2 : need;
    if (capacity > 0x7FFFFFF0u) capacity = need;
    if (need > 0x7FFFFFF0u) no_memory();
    return memory::expand_series_copy(node, (int32_t)capacity);
}

namespace {

bool is_comparable_numeric(uint8_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}
bool is_any_word(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }

// Compares two cells through the first one's compare action; a type without
// one compares by identity of its four words.
int32_t compare_cells(cell* a, cell* b, int32_t op) {
    auto fn = datatype::get<A_COMPARE>(a->type());
    if (!fn) {
        if (a->type() != b->type()) return NOT_COMPARABLE;
        return memcmp(&a->data1, &b->data1, 12) == 0 ? 0 : 1;
    }
    return actions::compare_typed(a, b, op);
}

bool cells_equal(cell* a, cell* b, int32_t op) { return compare_cells(a, b, op) == 0; }

}  // namespace

// --- Root block -------------------------------------------------------------------

Node* root = nullptr;

void make_root() {
    root = memory::alloc_fixed_series(ROOT_CELLS, sizeof(cell), 0);
    make_fixed_in(root, ARGUMENT_STACK_CELLS);
    make_fixed_in(root, FRAME_STACK_CELLS);
    make_in(root, SYMBOL_BLOCK_CELLS);
}

Node* root_series(RootSlot slot) { return node_of(cells_of(root) + slot); }

// --- Cell-array primitives ---------------------------------------------------------------

int32_t length_of(const cell* blk) { return total_cells(node_of(blk)) - head_of(blk); }

bool advance(cell* blk) {
    if (length_of(blk) > 0) blk->data1++;
    return length_of(blk) <= 0;
}

cell* head_cell(cell* blk) {
    clamp_head(blk);
    return cells_of(node_of(blk)) + head_of(blk);
}

cell* tail_cell(const cell* blk) { return reinterpret_cast<cell*>(series::buffer_of(blk)->tail); }

bool is_tail(cell* blk) { return head_cell(blk) == tail_cell(blk); }

cell* cell_at(const cell* blk, int32_t n) { return cells_of(node_of(blk)) + n; }

void clear_from_head(cell* blk) {
    Buffer* b = series::buffer_of(blk);
    int32_t h = clamp_head(blk);
    b->tail = b->head + (size_t)h * sizeof(cell);
}

void truncate(Node* node, int32_t n) {
    if (n < 0) n = 0;
    if (n < total_cells(node)) node->buffer->tail = node->buffer->head + (size_t)n * sizeof(cell);
}

cell* alloc_tail(Node* node) {
    Buffer* b = ensure_room(node, 1, true);
    cell* c = reinterpret_cast<cell*>(b->tail);
    b->tail += sizeof(cell);
    unset::make_at(c);
    return c;
}

cell* append_cell_copy(Node* node, const cell* value) {
    cell v = *value;  // the value may lie in the buffer that grows
    cell* c = alloc_tail(node);
    *c = v;
    return c;
}

void drop_last(cell* blk) {
    Buffer* b = series::buffer_of(blk);
    if (b->tail > b->head) b->tail -= sizeof(cell);
    clamp_head(blk);
}

void append_copies(Node* node, const cell* from) {
    cell f = *from;
    int32_t n = series::units_from_head(&f, false);
    Node* fn = node_of(&f);
    int32_t fh = head_of(&f);
    ensure_room(node, (uint64_t)n, true);
    for (int32_t i = 0; i < n; i++) append_cell_copy(node, cells_of(fn) + fh + i);
}

cell* select_value(cell* blk, cell* value) {
    int32_t h = clamp_head(blk);
    Node* node = node_of(blk);
    for (int32_t i = h; i < total_cells(node); i++) {
        cell c = cells_of(node)[i];
        if (cells_equal(&c, value, OP_FIND))
            return i + 1 < total_cells(node) ? cells_of(node) + i + 1 : &none::none_cell;
    }
    return &none::none_cell;
}

bool remove_value(cell* blk, cell* value, bool from_start) {
    int32_t h = from_start ? 0 : clamp_head(blk);
    Node* node = node_of(blk);
    for (int32_t i = h; i < total_cells(node); i++) {
        cell c = cells_of(node)[i];
        if (!cells_equal(&c, value, OP_FIND)) continue;
        Buffer* b = node->buffer;
        cell* at = cells_of(node) + i;
        memmove(at, at + 1, (size_t)(reinterpret_cast<cell*>(b->tail) - at - 1) * sizeof(cell));
        b->tail -= sizeof(cell);
        return true;
    }
    return false;
}

cell* make_at(cell* c, int32_t n) {
    unset::make_at(c);
    Node* node = memory::alloc_cells(n < 1 ? 1 : n);
    return series::make_at(c, TYPE_BLOCK, node, 0);
}

cell* alloc_at(cell* c, int32_t n, bool fixed) {
    unset::make_at(c);
    if (n < 1) n = 1;
    Node* node = fixed ? memory::alloc_fixed_series(n, sizeof(cell), 0) : memory::alloc_unset_cells(n);
    return series::make_at(c, TYPE_BLOCK, node, 0);
}

static cell* make_new_in(Node* parent, int32_t n, bool fixed) {
    if (!parent) return alloc_at(stack::push_cell(), n, fixed);
    cell made;
    alloc_at(&made, n, fixed);  // the parent holds it before anything else allocates
    return append_cell_copy(parent, &made);
}

cell* make_in(Node* parent, int32_t n) { return make_new_in(parent, n, false); }
cell* make_fixed_in(Node* parent, int32_t n) { return make_new_in(parent, n, true); }

cell* push(const cell* blk) { return stack::push(blk); }
cell* push_new(int32_t n) { return make_at(stack::push_cell(), n); }

void insert_cells(cell* blk, const cell* value, bool at_start, bool move_head) {
    cell v = *value;
    Node* node = node_of(blk);
    int32_t at = at_start ? 0 : clamp_head(blk);
    Buffer* b = ensure_room(node, 1, true);
    cell* p = cells_of(node) + at;
    memmove(p + 1, p, (size_t)(b->tail - reinterpret_cast<uint8_t*>(p)));
    *p = v;
    b->tail += sizeof(cell);
    if (move_head) blk->data1 = (uint32_t)(at + 1);
}

void append_each(cell* blk, const cell* from) {
    cell f = *from;
    int32_t n = series::units_from_head(&f, false);
    int32_t fh = head_of(&f);
    cell b = *blk;
    for (int32_t i = 0; i < n; i++) {
        b.data1 = (uint32_t)total_cells(node_of(&b));
        cell c = cells_of(node_of(&f))[fh + i];
        insert_cells(&b, &c, false, false);
    }
}

cell* find_word(cell* blk, int32_t symbol_id, bool exact) {
    int32_t h = clamp_head(blk);
    Node* node = node_of(blk);
    int32_t n = total_cells(node);
    for (int32_t i = h; i < n; i++) {
        cell* c = cells_of(node) + i;
        uint8_t t = c->type();
        if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
        int32_t s = (int32_t)c->data2;
        if (exact ? s != symbol_id : symbol::resolve(s) != symbol::resolve(symbol_id)) continue;
        return i + 1 < n ? c + 1 : nullptr;
    }
    return nullptr;
}

// --- Cloning and copying ----------------------------------------------------------------

static bool is_deep_copied(uint8_t t) { return series::is_series(t); }

// Replaces every nested series of the block in `result` (on the stack) by
// its deep copy, and with `kind` keeps only cells whose type is in it.
static void copy_nested(cell* result, bool any_block, bool blocks_only) {
    Node* node = node_of(result);
    for (int32_t i = 0; i < total_cells(node); i++) {
        cell c = cells_of(node)[i];
        uint8_t t = c.type();
        if (!is_deep_copied(t)) continue;
        if (blocks_only && !(t == TYPE_BLOCK || (any_block && series::is_any_block(t)))) continue;
        stack::TopMark mark;
        cell* slot = stack::push(&c);
        actions::get_action_ptr_of<A_COPY>(slot)(slot, slot, series::ABSENT, true, series::ABSENT);
        cell* target = cells_of(node) + i;  // read again: the copy allocated
        uint32_t line = target->header & CELL_NEW_LINE;
        *target = *slot;
        target->header = (target->header & ~CELL_NEW_LINE) | line;
    }
}

cell* clone(const cell* blk, bool deep, bool any_block) {
    cell source = *blk;
    cell* result = stack::push(&source);
    series::copy(result, result, series::ABSENT, false, series::ABSENT);
    if (deep) {
        Node* node = node_of(&source);
        if (cycles::find(node)) {
            cycles::reset();
            error::raise_internal(error::Internal::no_cycle);
        }
        cycles::Frame frame(node);
        copy_nested(result, any_block, true);
    }
    return result;
}

void flag_library(const cell* blk) {
    Node* node = node_of(blk);
    if (node->buffer->flags & memory::FLAG_LIBRARY) return;  // done, or a cycle
    node->buffer->flags |= memory::FLAG_LIBRARY;
    // Nothing here allocates, so the cells stay where they are.
    const cell* end = cells_of(node) + total_cells(node);
    for (const cell* c = cells_of(node); c < end; c++)
        if (series::is_any_block(c->type()) && c->data2) flag_library(c);
}

static bool type_in_kind(uint8_t t, const cell* kind) {
    if (kind->type() == TYPE_DATATYPE) return kind->data1 == t;
    if (kind->type() == TYPE_TYPESET) return typeset::has(kind, t);
    return false;
}

void find_types(cell* blk, const cell* kind, int32_t step) {
    Node* node = node_of(blk);
    if (step < 1) step = 1;
    for (int32_t i = clamp_head(blk); i < total_cells(node); i += step) {
        cell c = cells_of(node)[i];
        uint8_t t = c.type();
        if (!type_in_kind(t, kind)) continue;
        if (!(series::is_series(t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR ||
              t == TYPE_MAP))
            continue;
        stack::TopMark mark;
        cell* slot = stack::push(&c);
        actions::get_action_ptr_of<A_COPY>(slot)(slot, slot, series::ABSENT, false, series::ABSENT);
        cells_of(node)[i] = *slot;
    }
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    bool has_types = stack::is_given(types);
    if (!deep && !has_types) return series::copy(value, result, part, false, types);
    Node* node = node_of(value);
    if (cycles::find(node)) {
        cycles::reset();
        error::raise_internal(error::Internal::no_cycle);
    }
    cycles::Frame frame(node);
    stack::TopMark mark;
    cell kind{};
    if (has_types) kind = *types;
    cell* held = stack::push(value);  // the copy is built here, rooted
    series::copy(held, held, part, false, series::ABSENT);
    if (has_types) {
        // Only the cells whose type is in the kind are copied.
        Node* n = node_of(held);
        int32_t kept = 0;
        for (int32_t i = 0; i < total_cells(n); i++) {
            cell c = cells_of(n)[i];
            if (type_in_kind(c.type(), &kind)) cells_of(n)[kept++] = c;
        }
        truncate(n, kept);
    }
    if (deep) copy_nested(held, true, false);
    if (held->type() == TYPE_HASH) cell::set_type(held, TYPE_BLOCK);
    cell done = *held;
    *result = done;
    return result;
}

// --- Making -------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) {
    uint8_t t = spec->type();
    if (series::is_any_block(t)) {
        stack::TopMark mark;
        cell made = *clone(spec, false, false);
        *target = made;
    } else if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        // A float beyond the integer range (or NaN) is out-of-range.
        int64_t n = rt::float_to_integer(spec);
        if (n > 0x7FFFFFF0 / (int64_t)sizeof(cell)) no_memory();
        make_at(target, (int32_t)n);
    } else {
        cell dt;
        datatype::make_at(&dt, (uint8_t)type);
        error::raise_script(error::Script::bad_make_arg, &dt, spec);
    }
    cell::set_type(target, (uint8_t)type);
    return target;
}

cell* to(cell* target, cell* spec, int32_t type) {
    uint8_t t = spec->type();
    if (series::is_any_block(t)) {
        stack::TopMark mark;
        cell made = *clone(spec, false, false);
        *target = made;
    } else if (t == TYPE_TYPESET) {
        cell set = *spec;
        typeset::to_block(&set, target);
    } else if (t == TYPE_OBJECT || t == TYPE_MAP || t == TYPE_VECTOR || series::is_any_string(t)) {
        error::raise_internal(error::Internal::not_done);  // their modules bring these
    } else {
        cell v = *spec;
        make_at(target, 1);
        append_cell_copy(node_of(target), &v);
    }
    cell::set_type(target, (uint8_t)type);
    return target;
}

// --- Form and mold ------------------------------------------------------------------------

static int32_t last_char(cell* out) {
    int32_t n = string::total_length(out);
    return n > 0 ? string::char_at(out, (uint32_t)n - 1) : -1;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    int32_t budget = limit;
    if (cycles::detect(value, out, &budget, false)) return budget;
    Node* node = node_of(value);
    cycles::Frame frame(node);
    int32_t h = clamp_head(value);
    bool has_part = stack::is_given(part);
    for (int32_t i = h; i < total_cells(node); i++) {
        if (has_part && budget < 1) break;
        if (i > h) {
            int32_t c = last_char(out);
            if (c != '\t' && c != '\n' && c != '\r') {
                string::concatenate_cstr(out, " ");
                budget--;
            }
        }
        cell c = cells_of(node)[i];
        budget = actions::form_typed(&c, out, part, budget);
    }
    return budget;
}

int32_t mold_each(cell* blk, cell* out, bool only, bool all, bool flat, cell* part,
                  int32_t budget, int32_t indent) {
    Node* node = node_of(blk);
    cycles::Frame frame(node);
    int32_t h = clamp_head(blk);
    bool has_part = stack::is_given(part);
    bool owed = false;
    int32_t level = indent;
    for (int32_t i = h; i < total_cells(node); i++) {
        if (has_part && budget < 1) return budget;
        cell c = cells_of(node)[i];
        bool first = i == h;
        if (!flat && cell::has_new_line(&c)) {
            if (first && !only) {
                level++;
                owed = true;
            }
            if (!(first && only)) {
                string::concatenate_cstr(out, "\n");
                budget = cycles::indent(out, level, budget - 1);
            }
        } else if (!first) {
            string::concatenate_cstr(out, " ");
            budget--;
        }
        budget = actions::mold_typed(&c, out, false, all, flat, part, budget, level);
    }
    if (owed) {
        level--;
        string::concatenate_cstr(out, "\n");
        budget = cycles::indent(out, level, budget - 1);
    }
    return budget;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    int32_t budget = limit;
    if (cycles::detect(value, out, &budget, true)) return budget;
    if (!only) {
        string::concatenate_cstr(out, "[");
        budget--;
    }
    budget = mold_each(value, out, only, all, flat, part, budget, indent);
    if (!only) {
        string::concatenate_cstr(out, "]");
        budget--;
    }
    return budget;
}

// --- Compare ---------------------------------------------------------------------------------

static bool is_equality_op(int32_t op) {
    return op == OP_EQUAL || op == OP_NOT_EQUAL || op == OP_STRICT_EQUAL || op == OP_STRICT_WORD ||
           op == OP_WORD || op == OP_FIND;
}

static int32_t compare_each(cell* a, cell* b, int32_t op) {
    if (a->data2 == b->data2 && head_of(a) == head_of(b)) return 0;
    if (op == OP_SAME) return -1;
    Node* na = node_of(a);
    Node* nb = node_of(b);
    if (cycles::find(na)) return cycles::find(nb) ? 0 : -1;
    int32_t la = series::units_from_head(a, false), lb = series::units_from_head(b, false);
    if (is_equality_op(op) && la != lb) return 1;
    // An empty block orders before a longer one under every op, so that
    // [] < [1] and [1] > [] agree: the lengths decide below.
    cycles::Frame frame(na);
    frame.add(nb);
    int32_t ha = head_of(a) < 0 ? 0 : head_of(a), hb = head_of(b) < 0 ? 0 : head_of(b);
    int32_t n = la < lb ? la : lb;
    for (int32_t i = 0; i < n; i++) {
        // The other walk may have shortened either block meanwhile.
        if (ha + i >= total_cells(na) || hb + i >= total_cells(nb)) break;
        cell x = cells_of(na)[ha + i], y = cells_of(nb)[hb + i];
        uint8_t tx = x.type(), ty = y.type();
        bool comparable = tx == ty || (is_any_word(tx) && is_any_word(ty)) ||
                          (is_comparable_numeric(tx) && is_comparable_numeric(ty));
        if (!comparable) return tx < ty ? -1 : 1;
        int32_t r = compare_cells(&x, &y, op);
        if (r == NOT_COMPARABLE) return tx < ty ? -1 : tx > ty ? 1 : -1;
        if (r != 0) return r;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    uint8_t ta = a->type(), tb = b->type();
    if (ta != tb) {
        bool paths = (ta == TYPE_PATH || ta == TYPE_LIT_PATH) && (tb == TYPE_PATH || tb == TYPE_LIT_PATH);
        if (!(paths && (op == OP_STRICT_WORD || op == OP_WORD))) return NOT_COMPARABLE;
    }
    return compare_each(a, b, op);
}

// --- Insert, append, change ------------------------------------------------------------------

namespace {

// The cells a value contributes to insert and change: those of an any-block
// from its head (unless /only), else the value itself.
struct Source {
    cell value;
    bool cells;  // the value's cells, not the value
    int32_t n;

    Source(const cell* v, bool only, int32_t part) : value(*v) {
        cells = !only && series::is_any_block(value.type());
        n = cells ? series::units_from_head(&value, false) : 1;
        if (part >= 0 && part < n) n = part;
    }
    // After a handler ran: the value's block may have shrunk.
    void recount() {
        if (!cells) return;
        int32_t left = series::units_from_head(&value, false);
        if (left < n) n = left;
    }
    // The n cells, copied into a tracked block when they are a block's (they
    // may lie in the target); a single value is its own copy. `release` after.
    const cell* snapshot() {
        if (!cells) return &value;
        cell* s = (cell*)sys::allocate(cell_bytes((uint64_t)(n ? n : 1)));
        memcpy((void*)s, (const void*)(cells_of(node_of(&value)) + head_of(&value)), (size_t)n * sizeof(cell));
        return s;
    }
    void release(const cell* s) {
        if (s != &value) sys::free((void*)s);
    }
};

// Writes n snapshot cells at `at`, `dup` times.
void put_cells(Node* node, int32_t at, const cell* cells, int32_t n, int64_t dup) {
    cell* p = cells_of(node) + at;
    memcpy((void*)p, (const void*)cells, (size_t)n * sizeof(cell));
    for (int64_t k = 1; k < dup; k++) memcpy((void*)(p + k * n), (const void*)p, (size_t)n * sizeof(cell));
}

int64_t total_of(int32_t n, int32_t dup) {
    int64_t total = (int64_t)n * (dup < 0 ? 1 : dup);
    if (total > 0x7FFFFFFF) no_memory();
    cell_bytes((uint64_t)total);
    return total;
}

cell* insert_at(cell* series, cell* value, int32_t part, bool only, int32_t dup, bool append) {
    Source src(value, only, part);
    if (src.n <= 0 || dup == 0 || dup < -1) return series;
    int64_t total = total_of(src.n, dup);
    Node* node = node_of(series);
    clamp_head(series);
    ownership::Word word = append ? ownership::APPEND : ownership::INSERT;
    int32_t index = append ? total_cells(node) : head_of(series);
    // The owner is told what comes in, so it can refuse it.
    bool owned = series::may_be_owned(series) && ownership::check(series, word, index, (int32_t)total, value);
    // The handler may have changed both series.
    src.recount();
    if (src.n <= 0) return series;
    total = total_of(src.n, dup);
    int32_t at = append ? total_cells(node) : clamp_head(series);
    ensure_room(node, (uint64_t)total, dup < 5);
    const cell* saved = src.snapshot();
    Buffer* b = node->buffer;
    cell* p = cells_of(node) + at;
    memmove((void*)(p + total), (const void*)p, (size_t)(b->tail - reinterpret_cast<uint8_t*>(p)));
    put_cells(node, at, saved, src.n, total / src.n);
    b->tail += (size_t)total * sizeof(cell);
    src.release(saved);
    // A hash! enters cells added at the tail; cells that moved need it all again.
    if (at + total == total_cells(node)) hash::entered(series, at, at + (int32_t)total);
    else hash::rebuild(series);
    if (owned) ownership::check(series, append ? ownership::APPENDED : ownership::INSERTED, at, (int32_t)total, value);
    if (append) {
        series->data1 = 0;
    } else {
        int64_t h = at + total;
        series->data1 = (uint32_t)(h > total_cells(node) ? total_cells(node) : h);
    }
    return series;
}

}  // namespace

cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, only, dup, true);
}

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, only, dup, false);
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    Source src(value, only, -1);
    if (dup == 0 || dup < -1) src.n = 0;
    Node* node = node_of(series);
    int32_t h = clamp_head(series);
    int64_t added = total_of(src.n, dup);
    int32_t avail = total_cells(node) - h;
    bool owned = series::may_be_owned(series) && ownership::check(series, ownership::CHANGE, h, (int32_t)added);
    src.recount();
    if (dup == 0 || dup < -1) src.n = 0;
    added = total_of(src.n, dup);
    h = clamp_head(series);
    avail = total_cells(node) - h;
    int64_t removed = part >= 0 ? part : added;
    if (removed > avail) removed = avail;
    int32_t count = total_cells(node);
    int64_t grow = added - removed;
    if (grow > 0) ensure_room(node, (uint64_t)grow, false);
    const cell* saved = src.snapshot();
    cell* p = cells_of(node) + h;
    memmove((void*)(p + added), (const void*)(p + removed), (size_t)(count - h - removed) * sizeof(cell));
    if (src.n > 0) put_cells(node, h, saved, src.n, added / src.n);
    src.release(saved);
    Buffer* b = node->buffer;
    b->tail = b->head + (size_t)(count + added - removed) * sizeof(cell);
    hash::rebuild(series);
    if (owned) ownership::check(series, ownership::CHANGED, h, (int32_t)added);
    int64_t nh = h + added;
    series->data1 = (uint32_t)(nh > total_cells(node) ? total_cells(node) : nh);
    return series;
}

// --- Take, swap, trim --------------------------------------------------------------------------

cell* take(cell* series, cell* part, bool deep, bool last) {
    bool has_part = stack::is_given(part);
    series::take(series, part, deep, last);
    if (series->type() == TYPE_NONE) return series;
    if (!has_part) {
        // One cell, from the shared take buffer: answer the cell itself.
        cell c = cells_of(node_of(series))[0];
        *series = c;
        if (deep && series::is_series(c.type())) {
            stack::TopMark mark;
            cell* slot = stack::push(&c);
            actions::get_action_ptr_of<A_COPY>(slot)(slot, slot, series::ABSENT, true, series::ABSENT);
            *series = *slot;
        }
        return series;
    }
    if (deep) {
        stack::TopMark mark;
        cell* held = stack::push(series);
        copy_nested(held, true, false);
    }
    return series;
}

cell* swap(cell* a, cell* b) {
    if (!series::is_any_block(b->type())) error::raise_script(error::Script::invalid_arg, b);
    if (is_tail(a) || is_tail(b)) return a;
    bool owned_a = ownership::check(a, ownership::SWAP, head_of(a), 1);
    bool owned_b = ownership::check(b, ownership::SWAP, head_of(b), 1);
    if (is_tail(a) || is_tail(b)) return a;  // a handler emptied one side
    // A hash! drops both entries before either cell changes: a chain is
    // found through the value of its first cell.
    hash::removing(a, head_of(a), head_of(a) + 1);
    hash::removing(b, head_of(b), head_of(b) + 1);
    cell* x = head_cell(a);
    cell* y = head_cell(b);
    cell t = *x;
    *x = *y;
    *y = t;
    hash::entered(a, head_of(a), head_of(a) + 1);
    hash::entered(b, head_of(b), head_of(b) + 1);
    if (owned_a) ownership::check(a, ownership::SWAPED, head_of(a), 1);
    if (owned_b) ownership::check(b, ownership::SWAPED, head_of(b), 1);
    return a;
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    Node* node = node_of(series);
    int32_t h = clamp_head(series);
    bool owned = ownership::check(series, ownership::TRIM, h, total_cells(node) - h);
    h = clamp_head(series);
    int32_t n = total_cells(node), kept = h;
    cell* c = cells_of(node);
    for (int32_t i = h; i < n; i++)
        if (c[i].type() != TYPE_NONE) c[kept++] = c[i];
    truncate(node, kept);
    if (owned) ownership::check(series, ownership::TRIMMED, h, 0);
    return series;
}

// --- Eval-path ----------------------------------------------------------------------------------

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    bool getting = get || !value;
    cell* no = series::ABSENT;
    if (element->type() == TYPE_INTEGER) {
        cell* r = stack::push(parent);
        if (getting) return series::pick(r, (int32_t)element->data2, element);
        return series::poke(r, (int32_t)element->data2, value, element);
    }
    if (getting) {
        cell* r = stack::push(parent);
        if (element->type() == TYPE_WORD && parent->type() != TYPE_HASH) {
            cell* after = find_word(r, (int32_t)element->data2, case_);
            if (!after) return series::make_none(r);
            cell v = *after;
            *r = v;
            return r;
        }
        return select(r, element, no, true, case_, false, false, no, no, false, false);
    }
    cell* r = stack::push(parent);
    find(r, element, no, false, case_, false, false, no, no, false, false, false, false);
    if (r->type() == TYPE_NONE) error::raise_script(error::Script::bad_path_set, path, element);
    return series::poke(r, 2, value, element);
}

// --- Find, select, put ---------------------------------------------------------------------------

namespace {

// Where a find matched: the cell index and the length of what matched.
struct Match {
    int64_t at = -1;
    int32_t length = 1;
    int32_t step = 1;
    bool backward = false;
};

Match search(cell* series, cell* value, cell* part, bool only, bool case_, bool same, cell* skip,
             bool last, bool reverse, bool match) {
    Match m;
    Node* node = node_of(series);
    int64_t units = total_cells(node);
    int64_t h = clamp_head(series);
    if (units == 0) return m;
    if (!reverse && h >= units) return m;
    if (stack::is_given(skip)) {
        if (skip->type() != TYPE_INTEGER) error::raise_refine_arg("skip", skip);
        m.step = (int32_t)skip->data2;
        if (m.step < 1) error::raise_script(error::Script::out_of_range, skip);
    }
    int64_t limit = units - 1;  // last testable cell
    bool has_part = stack::is_given(part);
    if (has_part) {
        if (part->type() == TYPE_INTEGER) {
            int32_t p = (int32_t)part->data2;
            if (p < 1) return m;
            if (h + p - 1 < limit) limit = h + p - 1;
        } else if (part->type() == series->type() && part->data2 == series->data2) {
            if (head_of(part) < limit) limit = head_of(part);
        } else {
            error::raise_refine_arg("part", part);
        }
    }
    int32_t op = same ? OP_SAME : case_ ? OP_STRICT_EQUAL : OP_FIND;
    cell key = *value;
    bool by_type = !only && key.type() == TYPE_DATATYPE;
    bool by_typeset = !only && key.type() == TYPE_TYPESET;
    bool sequence = !only && series::is_any_block(key.type());
    int32_t klen = 1;
    if (sequence) {
        klen = series::units_from_head(&key, false);
        if (klen == 0) return m;
    }
    m.length = klen;
    // A hash! looks single values up in its index.
    if (hash::is_indexed(series) && !sequence && !by_type && !by_typeset && !match &&
        !(key.type() == TYPE_OBJECT && !same)) {
        m.at = hash::find_index(series, &key, op, last, reverse, m.step);
        if (m.at > limit) m.at = -1;  // beyond the /part limit
        m.backward = last || reverse;
        return m;
    }
    auto test = [&](int64_t i) {
        if (i < 0 || i + klen - 1 > limit) return false;
        for (int32_t k = 0; k < klen; k++) {
            cell c = cells_of(node)[i + k];
            if (by_type) {
                if (c.type() != key.data1) return false;
            } else if (by_typeset) {
                if (!type_in_kind(c.type(), &key)) return false;
            } else if (sequence) {
                if (head_of(&key) + k >= total_cells(node_of(&key))) return false;
                cell k2 = cells_of(node_of(&key))[head_of(&key) + k];
                if (!cells_equal(&c, &k2, op)) return false;
            } else if (!cells_equal(&c, &key, op)) {
                return false;
            }
        }
        return true;
    };
    int64_t i, stop, step;
    if (last) {
        i = (has_part ? limit : units - 1) - klen + 1;
        stop = 0;
        step = -m.step;
        m.backward = true;
    } else if (reverse) {
        i = h - klen;
        if (i < 0) return m;
        stop = 0;
        step = -m.step;
        m.backward = true;
    } else {
        i = h;
        stop = limit - klen + 1;
        step = m.step;
    }
    for (; step > 0 ? i <= stop : i >= stop; i += step) {
        if (test(i)) {
            m.at = i;
            return m;
        }
        if (match) break;
    }
    return m;
}

}  // namespace

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    Match m = search(series, value, part, only, case_, same, skip, last, reverse, match);
    if (m.at < 0) return series::make_none(series);
    int64_t at = m.at;
    if (tail) {
        bool sequence = !only && series::is_any_block(value->type());
        at += sequence ? m.length : m.backward ? 1 : m.step;
        int32_t units = total_cells(node_of(series));
        if (at > units) at = units;
    }
    series->data1 = (uint32_t)at;
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    Match m = search(series, value, part, only, case_, same, skip, last, reverse, false);
    if (m.at < 0) return series::make_none(series);
    uint8_t vt = value->type();
    bool sequence = !only && series::is_any_block(vt) && vt != TYPE_HASH;
    int64_t after = m.at + (sequence ? m.length : 1);
    Node* node = node_of(series);
    if (after >= total_cells(node)) return series::make_none(series);
    cell c = cells_of(node)[after];
    *series = c;
    return series;
}

cell* put(cell* series, cell* key, cell* value, bool case_) {
    cell k = *key, v = *value;
    cell pos = *series;
    cell* no = series::ABSENT;
    Match m = search(&pos, &k, no, true, case_, false, no, false, false, false);
    Node* node = node_of(series);
    if (m.at < 0) {
        bool owned = ownership::check(series, ownership::PUT, length_of(series), 1);
        append_cell_copy(node, &k);
        append_cell_copy(node, &v);
        hash::entered(series, total_cells(node) - 2, total_cells(node));
        if (owned) ownership::check(series, ownership::PUT_ED, total_cells(node) - 2, 1);
    } else {
        int32_t i = (int32_t)m.at + 1;
        bool owned = ownership::check(series, ownership::PUT, i, 1);
        if (i > total_cells(node)) i = total_cells(node);  // the handler shortened it
        if (i < total_cells(node)) {
            cell next = cells_of(node)[i];
            if (!cells_equal(&next, &v, OP_FIND)) cells_of(node)[i] = v;
        } else {
            append_cell_copy(node, &v);
        }
        hash::entered(series, i, i + 1);
        if (owned) ownership::check(series, ownership::PUT_ED, i, 1);
    }
    *series = v;
    return series;
}

// --- Sort ------------------------------------------------------------------------------------------

CompareCallback compare_callback = nullptr;

namespace {

// The two blocks a comparator gets the records in under /compare/all/skip,
// made on first use (and held by the root block).
int32_t scratch_slot = -1;  // index of the first in the root block

cell* scratch_block(int i) { return cells_of(root) + scratch_slot + i; }

void ensure_scratch(int32_t width) {
    if (scratch_slot < 0) {
        scratch_slot = total_cells(root);
        make_in(root, width);
        make_in(root, width);
    }
    for (int i = 0; i < 2; i++) {
        Node* n = node_of(scratch_block(i));
        if ((int64_t)n->buffer->capacity < (int64_t)width * (int64_t)sizeof(cell))
            memory::expand_series(n, (int32_t)cell_bytes((uint64_t)width));
    }
}

int32_t answer_of(const cell* r) {
    switch (r->type()) {
        case TYPE_LOGIC: return r->data1 ? 1 : -1;
        case TYPE_INTEGER: return (int32_t)r->data2;
        case TYPE_FLOAT: {
            double d = cell::get_float(r);
            return d > 0 ? 1 : d < 0 ? -1 : 0;
        }
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

// A sort's private copy of its records, which the collector must mark while
// the sort runs (the comparator may drop the originals from the series).
struct SortCopy {
    cell* cells;
    uint32_t n;
    SortCopy* prev;
};
SortCopy* active_sorts = nullptr;

}  // namespace

void for_each_sort_copy(void (*mark)(cell* cells, uint32_t n)) {
    for (SortCopy* s = active_sorts; s; s = s->prev) mark(s->cells, s->n);
}

int32_t compare_records(const void* a, const void* b, uintptr_t op, uintptr_t flags) {
    const cell* x = (const cell*)a;
    const cell* y = (const cell*)b;
    if (flags & SORT_REVERSE) {
        const cell* t = x;
        x = y;
        y = t;
    }
    uint32_t from = (flags & SORT_ALL) ? 0 : flags >> 2;
    uint32_t n = (flags & SORT_ALL) ? flags >> 2 : 1;
    for (uint32_t i = from; i < from + n; i++) {
        cell p = x[i], q = y[i];
        int32_t r;
        // Integers, the commonest sort, skip the action table.
        if (p.type() == TYPE_INTEGER && q.type() == TYPE_INTEGER) {
            int32_t a = (int32_t)p.data2, b = (int32_t)q.data2;
            r = (a > b) - (a < b);
        } else {
            r = compare_cells(&p, &q, (int32_t)op);
        }
        if (r == NOT_COMPARABLE) r = (int32_t)p.type() - (int32_t)q.type();
        if (r) return r;
    }
    return 0;
}

int32_t call_comparator(const void* a, const void* b, uintptr_t function, uintptr_t flags) {
    const cell* x = (const cell*)a;
    const cell* y = (const cell*)b;
    cell fn = *(const cell*)function;
    cell result;
    series::make_none(&result);
    stack::TopMark mark;
    cell* p;
    cell* q;
    if (flags & SORT_ALL) {
        uint32_t w = flags >> 2;
        // Records go in the two scratch blocks, whole.
        for (int i = 0; i < 2; i++) {
            Node* n = node_of(scratch_block(i));
            memcpy(n->buffer->head, i == 0 ? (const void*)x : (const void*)y, (size_t)w * sizeof(cell));
            n->buffer->tail = n->buffer->head + (size_t)w * sizeof(cell);
        }
        p = stack::push(scratch_block(0));
        q = stack::push(scratch_block(1));
    } else {
        uint32_t off = flags >> 2;
        p = stack::push(x + off);
        q = stack::push(y + off);
    }
    // The comparator answers for (b, a); /reverse hands them over as (a, b).
    if (flags & SORT_REVERSE)
        compare_callback(&fn, p, q, &result);
    else
        compare_callback(&fn, q, p, &result);
    return answer_of(&result);
}

cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable) {
    int32_t h = clamp_head(series);
    int64_t n = length_of(series);
    if (n < 1) return series;
    if (stack::is_given(part)) {
        int32_t p = series::part_count(series, part);
        if (p < 0) {
            int64_t back = -(int64_t)p > h ? h : -(int64_t)p;
            h -= (int32_t)back;
            series->data1 = (uint32_t)h;
            n = back;
        } else if (p < n) {
            n = p;
        }
    }
    int32_t size = 1;
    if (stack::is_given(skip)) {
        size = skip->type() == TYPE_INTEGER ? (int32_t)skip->data2 : 0;
        if (size < 1 || size > n || n % size)
            error::raise_refine_arg("skip", skip);
    } else if (all) {
        error::raise_script(error::Script::bad_refines);
    }
    uint32_t flags = reverse ? (uint32_t)SORT_REVERSE : 0u;
    uintptr_t context = (uintptr_t)(case_ ? OP_CASE_SORT : OP_SORT);
    sort::Compare comparer = compare_records;
    cell fn;
    if (stack::is_given(compare)) {
        if (compare->type() == TYPE_INTEGER) {
            if (!stack::is_given(skip) || all) error::raise_script(error::Script::bad_refines);
            int32_t o = (int32_t)compare->data2;
            if (o < 1 || o > size) error::raise_script(error::Script::out_of_range, compare);
            flags |= (uint32_t)(o - 1) << 2;
        } else if (compare->type() == TYPE_FUNCTION || compare->type() == TYPE_NATIVE ||
                   compare->type() == TYPE_ACTION || compare->type() == TYPE_OP ||
                   compare->type() == TYPE_ROUTINE) {
            if (!compare_callback) error::raise_internal(error::Internal::not_done);
            fn = *compare;
            comparer = call_comparator;
            context = (uintptr_t)&fn;
            if (all && stack::is_given(skip)) {
                flags |= SORT_ALL | ((uint32_t)size << 2);
                ensure_scratch(size);
            }
        } else {
            error::raise_refine_arg("compare", compare);
        }
    } else if (all) {
        flags |= SORT_ALL | ((uint32_t)size << 2);
    }
    if (n < 2 || n == size) return series;
    Node* node = node_of(series);
    bool owned = ownership::check(series, ownership::SORT, h, (int32_t)n);
    // The handler may have shortened the series: sort what is left of whole records.
    int64_t left = total_cells(node) - (int64_t)h;
    if (left < n) n = left < 0 ? 0 : left - left % size;
    if (n < 2 * size) return series;
    // The records are sorted in a tracked copy: a comparator that allocates
    // (the collector moves buffers) or changes the series cannot make the sort
    // write through a stale address.
    // A stable sort's merges park half a run in scratch space while the
    // comparator runs: it follows the records in the same marked copy.
    uint32_t count = (uint32_t)(n / size), w = (uint32_t)size * sizeof(cell);
    uint64_t scratch = stable ? (uint64_t)(count / 2) * (uint32_t)size : 0;
    cell* records = (cell*)sys::allocate_zeroed(cell_bytes((uint64_t)n + scratch));
    memcpy((void*)records, (const void*)(cells_of(node) + h), (size_t)n * sizeof(cell));
    SortCopy guard{records, (uint32_t)(n + scratch), active_sorts};
    active_sorts = &guard;
    try {
        if (stable)
            sort::merge_sort_with(records, count, w, context, flags, comparer, records + n);
        else
            sort::qsort(records, count, w, context, flags, comparer);
    } catch (...) {
        active_sorts = guard.prev;
        sys::free(records);
        throw;
    }
    active_sorts = guard.prev;
    // The comparator may have changed the series: write back what still fits.
    int64_t room = total_cells(node) - (int64_t)h;
    if (room > n) room = n;
    if (room > 0) memcpy((void*)(cells_of(node) + h), (const void*)records, (size_t)room * sizeof(cell));
    sys::free(records);
    if (w > 0x1FFFFF && scratch_slot >= 0) {
        for (int i = 0; i < 2; i++) {
            cell small;
            make_at(&small, 1);
            *scratch_block(i) = small;
        }
    }
    if (owned) ownership::check(series, ownership::SORTED, h, (int32_t)n);
    return series;
}

// --- Set operations -------------------------------------------------------------------------------

cell* do_set_op(int32_t op, cell* a, cell* b, int32_t skip, bool case_) {
    if (skip < 1) {
        cell s;
        series::make_integer(&s, skip);
        error::raise_refine_arg("skip", &s);
    }
    if (op < 8 || op > 12) sys::no_case();
    bool two = op == 9 || op == 12;
    stack::TopMark mark;
    cell* x = stack::push(a);
    cell* y = stack::push(b);
    clamp_head(x);
    clamp_head(y);
    int64_t room = (int64_t)length_of(x) + (op == 9 ? length_of(y) : 0);
    if (room < 1) room = 1;
    cell* result = push_new((int32_t)(room > 0x7FFFFF0 ? 0x7FFFFF0 : room));
    int32_t cmp = case_ ? OP_STRICT_EQUAL : OP_EQUAL;
    Node* table = hashtable::init((int32_t)room, result, hashtable::KIND_HASH, 0);
    hashtable::Building hold_result(&table);

    // Whether the key lies in `in` (keys at multiples of skip from its head).
    auto contains = [&](Node* tbl, cell* in, cell* key, int32_t start) {
        if (series::is_any_block(key->type())) {
            Node* n = node_of(in);
            for (int32_t i = start; i < total_cells(n); i += skip) {
                cell c = cells_of(n)[i];
                if (c.type() == key->type() && cells_equal(&c, key, cmp)) return true;
            }
            return false;
        }
        return hashtable::find(tbl, key, start, skip, cmp, false, false) != nullptr;
    };
    // Keeps records of `from`: every one (mode 0), those found in `other`
    // (1), or those not found (2); never a key already in the result.
    auto pass = [&](cell* from, cell* other, int mode) {
        Node* other_table = nullptr;
        if (mode) other_table = hashtable::init(length_of(other) + 1, other, hashtable::KIND_HASH, 0);
        hashtable::Building hold_other(&other_table);
        Node* fn = node_of(from);
        Node* rn = node_of(result);
        for (int32_t i = head_of(from); i < total_cells(fn); i += skip) {
            cell key = cells_of(fn)[i];
            if (mode) {
                bool found = contains(other_table, other, &key, head_of(other));
                if (found != (mode == 1)) continue;
            }
            if (contains(table, result, &key, 0)) continue;
            int32_t at = total_cells(rn);
            for (int32_t k = 0; k < skip && i + k < total_cells(fn); k++) {
                cell c = cells_of(fn)[i + k];
                append_cell_copy(rn, &c);
            }
            int32_t out = 0;
            hashtable::put_key(table, cells_of(rn) + at, &out);
        }
    };
    switch (op) {
        case 8: pass(x, nullptr, 0); break;
        case 9: pass(x, nullptr, 0); pass(y, nullptr, 0); break;
        case 10: pass(x, y, 1); break;
        case 11: pass(x, y, 2); break;
        case 12: pass(x, y, 2); pass(y, x, 2); break;
    }
    bool hashed = x->type() == TYPE_HASH || (two && y->type() == TYPE_HASH) ||
                  ((op == 10 || op == 11) && y->type() == TYPE_HASH);
    cell done = *result;
    cell::set_type(&done, hashed ? (uint8_t)TYPE_HASH : x->type());
    if (hashed) done.data3 = (uint32_t)(uintptr_t)table;
    *a = done;
    return a;
}

// --- Registration ------------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), INHERIT, INHERIT, on<A_TO>(to), on<A_FORM>(form), on<A_MOLD>(mold),
        on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,               // math
        on<A_APPEND>(append), INHERIT, INHERIT, on<A_CHANGE>(change), INHERIT, on<A_COPY>(copy),
        on<A_FIND>(find), INHERIT, INHERIT, INHERIT, on<A_INSERT>(insert), INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, on<A_PUT>(put), INHERIT, INHERIT, on<A_SELECT>(select),
        on<A_SORT>(sort), INHERIT, on<A_SWAP>(swap), INHERIT, INHERIT, on<A_TAKE>(take),
        on<A_TRIM>(trim),
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(TYPE_BLOCK, TYPE_SERIES, "block!", list);
}

}  // namespace block
