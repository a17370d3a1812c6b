#include "evaluator/interpreter.h"

#include <array>
#include <cassert>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/argcache.h"
#include "evaluator/natives.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/tracked.h"
#include "runtime/rt.h"
#include "runtime/words.h"

namespace interpreter {

cell current_code = {TYPE_UNSET, 0, 0, 0};
bool in_library = false;
Trace tracing = {false, false, {TYPE_UNSET, 0, 0, 0}, 0x1FFFF, 0};

namespace {

collector::Root current_root(current_code);
collector::Root tracer_root(tracing.tracer);

// --- Small helpers (hot) ----------------------------------------------------------------

inline Node* node_of(const cell* c) { return reinterpret_cast<Node*>((uintptr_t)c->data2); }
inline cell* cells_of(Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
inline cell* cells_of(const cell* blk) { return cells_of(node_of(blk)); }
inline int32_t total_of(const cell* blk) { return (int32_t)(node_of(blk)->buffer->used_bytes() / sizeof(cell)); }

// The value of a bound word's cell, or null when the word is unbound or its
// context has no values (the word module's cases).
inline cell* bound_value(const cell* w) {
    Node* ctx = reinterpret_cast<Node*>((uintptr_t)w->data1);
    int32_t i = (int32_t)w->data3;
    if (!ctx || i < 0) return nullptr;
    cell* self = reinterpret_cast<cell*>(ctx->buffer->head);
    if (!self->data2) return nullptr;
    return (self->header & context::FLAG_STACK) ? reinterpret_cast<cell*>((uintptr_t)self->data2) + i
                                                : cells_of(reinterpret_cast<Node*>((uintptr_t)self->data2)) + i;
}

// The value cell of a bound word; the word module raises what is wrong
// otherwise (unbound, no values, `self`).
inline cell* word_value(const cell* w) {
    if (cell* v = bound_value(w)) return v;
    return word::get_value(w);
}

// The value cell a set-word writes straight into: a word of a plain or
// function context with values. Null for objects (changed marks, handlers)
// and for what the word module raises about. Valid until the next allocation.
inline cell* direct_slot(const cell* w) {
    Node* ctx = reinterpret_cast<Node*>((uintptr_t)w->data1);
    int32_t i = (int32_t)w->data3;
    if (!ctx || i < 0) return nullptr;
    cell* self = reinterpret_cast<cell*>(ctx->buffer->head);
    uint32_t kind = (self->header & context::KIND_MASK) >> context::KIND_SHIFT;
    if (!self->data2 || kind == context::KIND_OBJECT) return nullptr;
    return (self->header & context::FLAG_STACK) ? reinterpret_cast<cell*>((uintptr_t)self->data2) + i
                                                : cells_of(reinterpret_cast<Node*>((uintptr_t)self->data2)) + i;
}

// Sets a word: plain and function contexts directly, objects through the
// word module.
inline void set_word_value(cell* w, const cell* value) {
    if (cell* slot = direct_slot(w)) cell::copy(value, slot);
    else word::set_in(w, value);
}

// --- Built-in operators on plain numbers -------------------------------------------------
//
// An op! over add, subtract, multiply, divide, remainder or one of the
// ordering and equality natives, between integer! and float! operands, is
// computed here without a call frame, an argument cache walk or a fetch:
// the result is what the action or native gives, in the same cell. Only
// cases that cannot raise an error are taken (a frame would name the
// error's `where`), and none while tracing (the call's events).

enum FastOp : uint8_t {
    FAST_NONE, FAST_ADD, FAST_SUBTRACT, FAST_MULTIPLY, FAST_DIVIDE, FAST_REMAINDER,
    FAST_EQUAL, FAST_NOT_EQUAL, FAST_LESSER, FAST_LESSER_OR_EQUAL, FAST_GREATER, FAST_GREATER_OR_EQUAL,
};

struct FastEntry {
    natives::Fn entry;
    FastOp op;
};
// The entries by a few bits of their address: a shift that leaves the
// entries' slots distinct is chosen at start-up (none found: a walk).
constexpr uint32_t FAST_SLOTS = 64;
FastEntry fast_slots[FAST_SLOTS];
FastEntry fast_entries[FAST_GREATER_OR_EQUAL];
int32_t fast_shift = -1;

inline uint32_t fast_slot(natives::Fn entry, int32_t shift) {
    return (uint32_t)((uintptr_t)entry >> shift) & (FAST_SLOTS - 1);
}

void init_fast_ops() {
    const FastEntry list[] = {
        {actions::dispatchers[datatype::A_ADD - 1], FAST_ADD},
        {actions::dispatchers[datatype::A_SUBTRACT - 1], FAST_SUBTRACT},
        {actions::dispatchers[datatype::A_MULTIPLY - 1], FAST_MULTIPLY},
        {actions::dispatchers[datatype::A_DIVIDE - 1], FAST_DIVIDE},
        {actions::dispatchers[datatype::A_REMAINDER - 1], FAST_REMAINDER},
        {natives::is_equal, FAST_EQUAL},
        {natives::is_not_equal, FAST_NOT_EQUAL},
        {natives::is_lesser, FAST_LESSER},
        {natives::is_lesser_or_equal, FAST_LESSER_OR_EQUAL},
        {natives::is_greater, FAST_GREATER},
        {natives::is_greater_or_equal, FAST_GREATER_OR_EQUAL},
    };
    static_assert(sizeof list / sizeof list[0] == sizeof fast_entries / sizeof fast_entries[0]);
    for (size_t i = 0; i < sizeof list / sizeof list[0]; i++) fast_entries[i] = list[i];
    fast_shift = -1;
    for (int32_t shift = 0; shift < 24 && fast_shift < 0; shift++) {
        for (FastEntry& e : fast_slots) e = {nullptr, FAST_NONE};
        bool distinct = true;
        for (const FastEntry& e : list) {
            FastEntry& slot = fast_slots[fast_slot(e.entry, shift)];
            if (slot.entry) distinct = false;
            slot = e;
        }
        if (distinct) fast_shift = shift;
    }
}

inline FastOp fast_op_of(const cell* op) {
    uint8_t source = native::op_source(op);
    if (source != TYPE_ACTION && source != TYPE_NATIVE) return FAST_NONE;
    natives::Fn entry = reinterpret_cast<natives::Fn>((uintptr_t)op->data1);
    if (fast_shift >= 0) {
        const FastEntry& e = fast_slots[fast_slot(entry, fast_shift)];
        return e.entry == entry ? e.op : FAST_NONE;
    }
    for (const FastEntry& e : fast_entries)
        if (e.entry == entry) return e.op;
    return FAST_NONE;
}

inline bool is_plain_number(uint8_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; }

// The operand a code cell gives when it is an integer!/float! literal or a
// word bound to one (evaluating it has no other effect); null otherwise.
inline const cell* number_operand(const cell* c) {
    uint8_t t = c->type();
    if (is_plain_number(t)) return c;
    if (t != TYPE_WORD) return nullptr;
    const cell* v = bound_value(c);
    return v && is_plain_number(v->type()) ? v : nullptr;
}

// Computes `left op right` into `left` (the top cell); false when the case
// is left to the call.
inline bool fast_infix(FastOp op, cell* left, const cell* right, natives::Fn entry) {
    uint8_t tl = left->type(), tr = right->type();
    if (!is_plain_number(tl)) return false;
    if (tl == TYPE_INTEGER && tr == TYPE_INTEGER) {
        int32_t a = (int32_t)left->data2, b = (int32_t)right->data2;
        switch (op) {
            // The result that stays an integer! in place; integer!'s math
            // makes the float! of one that does not.
            case FAST_ADD:
                if (__builtin_add_overflow(a, b, &a)) integer::do_math((int32_t)left->data2, b, integer::MATH_ADD, left);
                else left->data2 = (uint32_t)a;
                return true;
            case FAST_SUBTRACT:
                if (__builtin_sub_overflow(a, b, &a)) integer::do_math((int32_t)left->data2, b, integer::MATH_SUBTRACT, left);
                else left->data2 = (uint32_t)a;
                return true;
            case FAST_MULTIPLY:
                if (__builtin_mul_overflow(a, b, &a)) integer::do_math((int32_t)left->data2, b, integer::MATH_MULTIPLY, left);
                else left->data2 = (uint32_t)a;
                return true;
            case FAST_DIVIDE:
            case FAST_REMAINDER:
                if (b == 0 || b == -1) return false;
                integer::do_math(a, b, op == FAST_DIVIDE ? integer::MATH_DIVIDE : integer::MATH_REMAINDER, left);
                return true;
            case FAST_EQUAL: logic::make_at(left, a == b); return true;
            case FAST_NOT_EQUAL: logic::make_at(left, a != b); return true;
            case FAST_LESSER: logic::make_at(left, a < b); return true;
            case FAST_LESSER_OR_EQUAL: logic::make_at(left, a <= b); return true;
            case FAST_GREATER: logic::make_at(left, a > b); return true;
            case FAST_GREATER_OR_EQUAL: logic::make_at(left, a >= b); return true;
            default: return false;
        }
    }
    if (op == FAST_DIVIDE || op == FAST_REMAINDER) return false;
    if (op == FAST_ADD || op == FAST_SUBTRACT || op == FAST_MULTIPLY) {
        // A float! result, as float!'s math gives it: an integer! left
        // operand becomes a new float! cell, a float! one keeps its flags.
        double x = tl == TYPE_INTEGER ? (double)(int32_t)left->data2 : cell::get_float(left);
        double y = tr == TYPE_INTEGER ? (double)(int32_t)right->data2 : cell::get_float(right);
        double r = op == FAST_ADD ? x + y : op == FAST_SUBTRACT ? x - y : x * y;
        if (tl == TYPE_INTEGER) float_::make_in(left, r);
        else cell::set_float(left, r);
        return true;
    }
    // Comparisons with a float!: the datatype's own code, over a window of the two.
    cell* window = stack::arguments.window;
    stack::arguments.window = left;
    stack::push(right);
    entry(nullptr);
    stack::arguments.window = window;
    stack::arguments.top = left + 1;
    return true;
}

inline bool is_callable(uint8_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

inline void put_result(const cell* v, bool push_mode) {
    if (push_mode) stack::push(v);
    else stack::set_last_only(v);
}

// Raises a script error with copies of its arguments on the stack.
[[noreturn]] void raise(const char* id, const cell* a1 = nullptr, const cell* a2 = nullptr,
                        const cell* a3 = nullptr) {
    cell* c1 = a1 ? stack::push(a1) : nullptr;
    cell* c2 = a2 ? stack::push(a2) : nullptr;
    cell* c3 = a3 ? stack::push(a3) : nullptr;
    error::raise(error::SCRIPT, id, c1, c2, c3);
}

uintptr_t machine_stack_limit = 0;

inline void check_machine_stack() {
    if (sys::stack_low()) {
        cycles::reset();
        error::raise_prebuilt("stack-overflow");
    }
}

// Restores the current code cell on every way out of a block.
struct CodeScope {
    cell saved = current_code;
    ~CodeScope() { current_code = saved; }
};

// Library or user code for the extent of a block or a function body.
struct LibraryScope {
    bool before = in_library;
    explicit LibraryScope(bool library) { in_library = library; }
    ~LibraryScope() { in_library = before; }
};

cell* push_datatype(const cell* v) { return datatype::push(v->type()); }

// The word of argument `slot` of a callable, pushed.
cell* argument_word_of(const cell* fn, int32_t slot) {
    cell f = *fn;
    if (f.type() == TYPE_OP) f.header = native::op_source(&f);
    return function::push_slot_word(&f, slot);
}

[[noreturn]] void expect_arg(const cell* fn, const cell* name, const cell* value, int32_t slot) {
    cell* n = stack::push(name);
    cell* dt = push_datatype(value);
    cell* w = argument_word_of(fn, slot);
    error::raise(error::SCRIPT, "expect-arg", n, dt, w);
}

inline void check_type(const cell* typeset, const cell* fn, const cell* name, const cell* value) {
    if (!argcache::accepts(typeset, value->type())) expect_arg(fn, name, value, argcache::slot_of(typeset));
}

}  // namespace
[[gnu::always_inline]] inline int32_t eval_infix(cell* code, int32_t next, cell* start, bool push_mode);
namespace {

// Types whose value is the cell itself when evaluated.
constexpr std::array<bool, 256> inert_types = [] {
    std::array<bool, 256> a{};
    for (auto& b : a) b = true;
    for (uint8_t t : {TYPE_PAREN, TYPE_SET_WORD, TYPE_SET_PATH, TYPE_GET_WORD, TYPE_LIT_WORD, TYPE_WORD,
                      TYPE_PATH, TYPE_GET_PATH, TYPE_LIT_PATH, TYPE_OP, TYPE_NATIVE, TYPE_ACTION,
                      TYPE_FUNCTION, TYPE_ROUTINE, TYPE_ISSUE})
        a[t] = false;
    return a;
}();

// Types of a word's value that evaluating the word only reads: all but
// unset!, op! and the callables.
constexpr std::array<bool, 256> readable_types = [] {
    std::array<bool, 256> a{};
    for (auto& b : a) b = true;
    for (uint8_t t : {TYPE_UNSET, TYPE_OP, TYPE_NATIVE, TYPE_ACTION, TYPE_FUNCTION, TYPE_ROUTINE}) a[t] = false;
    return a;
}();

// What the expression starting with `c` gives when evaluating it only reads
// a value: an inert value, or a word bound to a value that is not a
// callable, an op or unset!. Null otherwise.
inline const cell* plain_value(const cell* c) {
    uint8_t t = c->type();
    if (inert_types[t]) return c;
    if (t != TYPE_WORD) return nullptr;
    const cell* v = bound_value(c);
    return v && readable_types[v->type()] ? v : nullptr;
}

// Evaluates the expression at `pos` whose first value `v` plain_value has
// given, when the rest only applies operators that fast_infix computes from
// number operands. The value goes into `out` (the top cell); the index
// after the expression, or -1 when it is anything else. Nothing it does is
// seen from outside (no frame, event, error or allocation), so the full
// walk may redo it.
inline int32_t pure_expression(const cell* code, int32_t pos, const cell* v, cell* out) {
    const cell* cells = cells_of(code);
    int32_t n = total_of(code);
    *out = *v;
    for (pos++; pos < n; pos += 2) {
        const cell* q = cells + pos;
        if (q->type() != TYPE_WORD) break;
        const cell* ov = bound_value(q);
        if (!ov || ov->type() != TYPE_OP) break;
        FastOp fop = fast_op_of(ov);
        const cell* right = pos + 1 < n && fop != FAST_NONE ? number_operand(cells + pos + 1) : nullptr;
        if (!right || !fast_infix(fop, out, right, reinterpret_cast<natives::Fn>((uintptr_t)ov->data1)))
            return -1;
    }
    return pos;
}

// A set-word whose value pure_expression computes, for a word written in
// place: nothing could see the set-word's frame, so none is made. The value
// goes into the window's first cell, the only one left. The index after the
// expression, or -1 (nothing done that the full walk would not redo).
[[gnu::noinline]] int32_t pure_assignment(const cell* code, int32_t pos) {
    const cell* v = pos + 1 < total_of(code) ? plain_value(cells_of(code) + pos + 1) : nullptr;
    if (!v) return -1;
    cell* slot = direct_slot(cells_of(code) + pos);
    if (!slot) return -1;
    // pure_expression allocates nothing: the slot stays where it is.
    int32_t next = pure_expression(code, pos + 1, v, stack::keep_first());
    cell* out = stack::arguments.window;
    if (next < 0 || out->type() == TYPE_UNSET) return -1;
    cell::copy(out, slot);
    return next;
}

}  // namespace

int32_t eval_plain_prefix(const cell* block, cell* out) {
    int32_t head = (int32_t)block->data1 > 0 ? (int32_t)block->data1 : 0;
    int32_t pos = head;
    int32_t n = total_of(block);
    while (pos < n) {
        const cell* c = cells_of(block) + pos;
        if (c->type() == TYPE_SET_WORD) {
            const cell* v = pos + 1 < n ? plain_value(c + 1) : nullptr;
            cell* slot = v ? direct_slot(c) : nullptr;
            if (!slot) return pos;
            // pure_expression allocates nothing: the slot stays where it is.
            int32_t next = pure_expression(block, pos + 1, v, out);
            if (next < 0 || out->type() == TYPE_UNSET) return pos;
            cell::copy(out, slot);
            pos = next;
        } else {
            const cell* v = plain_value(c);
            int32_t next = v ? pure_expression(block, pos, v, out) : -1;
            if (next < 0) return pos;
            pos = next;
        }
    }
    return pos > head ? -1 : pos;
}

namespace {

// Fetches one argument after `pos` (pushed); the index after it.
int32_t fetch_argument_value(const cell* fn, const cell* typeset, cell* code, int32_t pos, const cell* name,
                             bool infix);

// Whether no event can fire now.
inline bool events_off() { return !tracing.enabled || in_library; }

// A native or action call made without reporting it (library code, or no
// tracer); its result pushed. Defined with the library bodies below.
int32_t call_native_direct(const cell* native, const cell* word, cell* code, int32_t pos);
int32_t call_function_direct(const cell* function, const cell* word, cell* code, int32_t pos);

// Fetches one argument after `pos` (pushed) and reports it; the index after it.
int32_t fetch_argument(const cell* fn, const cell* typeset, cell* code, int32_t pos, const cell* name,
                       bool infix) {
    pos = fetch_argument_value(fn, typeset, code, pos, name, infix);
    if (tracing.enabled && !sys::is_pending()) fire(EV_PUSH, code, pos - 1, stack::arguments.top - 1, nullptr);
    return pos;
}

int32_t fetch_argument_value(const cell* fn, const cell* typeset, cell* code, int32_t pos, const cell* name,
                             bool infix) {
    if (pos >= total_of(code)) {
        // An argument that admits unset! may be left out at the end of the code (help alone).
        if (argcache::accepts(typeset, TYPE_UNSET)) {
            unset::push();
            return pos;
        }
        cell* n = stack::push(name);
        cell* w = argument_word_of(fn, argcache::slot_of(typeset));
        error::raise(error::SCRIPT, "no-arg", n, w);
    }
    switch (argcache::mode_of(typeset)) {
        case argcache::EVALUATED: {
            // A value read as it stands (with no operator after it), without
            // the expression machinery; tracing sees the fetch done in full.
            if (!tracing.enabled) {
                const cell* v = plain_value(cells_of(code) + pos);
                if (v) {
                    cell* start = stack::push(v);
                    return infix ? pos + 1 : eval_infix(code, pos + 1, start, true);
                }
            }
            return eval_expression(code, pos, infix, true, false);
        }
        case argcache::LITERAL: stack::push(cells_of(code) + pos); return pos + 1;
        default: {
            cell v = cells_of(code)[pos];
            if (v.type() == TYPE_PAREN) eval_block(&v, false);
            else if (v.type() == TYPE_GET_WORD) stack::push(word_value(&v));
            else if (v.type() == TYPE_GET_PATH) eval_path(&v, code, pos, false, true, true, false);
            else stack::push(&v);
            return pos + 1;
        }
    }
}

// What a `call` event names: the path or word the call came through, the
// function itself when it had no name.
const cell* call_reference(const cell* fn, const cell* path, const cell* name) {
    if (path) return path;
    if (!name || word::symbol_of(name) == word::symbol_of(words::word_anon)) return fn;
    return name;
}

// Index of the refinement named like `w` in the cache, -1 when absent.
int32_t find_refinement(Node* cache, int32_t n, const cell* w) {
    int32_t s = symbol::resolve(word::symbol_of(w));
    for (int32_t k = 0; k < n; k++) {
        cell* c = cells_of(cache) + k;
        if (c->type() == TYPE_REFINEMENT && symbol::resolve((int32_t)c->data2) == s) return k;
    }
    return -1;
}

constexpr int32_t MAX_REFINEMENTS = 32;

// The refinement indexes of a call that uses none (every one -1).
constexpr std::array<int32_t, MAX_REFINEMENTS> no_refinements_array = [] {
    std::array<int32_t, MAX_REFINEMENTS> a{};
    for (auto& r : a) r = -1;
    return a;
}();
const int32_t* const no_refinements = no_refinements_array.data();

// Fetches the arguments of a call and, for natives and actions, performs it.
// The node of a callable's argument cache (built on its first call).
inline Node* cache_of(const cell* fn) {
    cell* slot = cells_of(reinterpret_cast<Node*>((uintptr_t)fn->data3)) + 1;
    if (slot->type() == TYPE_BLOCK) return node_of(slot);
    cell cache = argcache::get(fn);
    return node_of(&cache);
}

// Performs the call once its arguments are fetched: a native or action
// runs; a function gets none! for its locals.
inline void finish_arguments(const cell* fn, bool is_native, uint8_t t, int32_t locals, int32_t* refs,
                             cell* code, int32_t pos, const cell* ref) {
    fire(EV_CALL, code, pos, fn, ref);
    if (is_native) {
        natives::Fn entry = reinterpret_cast<natives::Fn>((uintptr_t)fn->data1);
        if (t == TYPE_ACTION && stack::arguments.window->type() == TYPE_PORT) entry = actions::port_entry(entry);
        entry(refs);
    } else if (locals > 0) {
        function::push_nones(locals);
    }
}

int32_t eval_arguments(const cell* fn, cell* code, int32_t pos, cell* path, int32_t path_index,
                       const cell* name, int32_t apply_mode, bool infix) {
    Node* cn = cache_of(fn);
    int32_t n = (int32_t)(cn->buffer->used_bytes() / sizeof(cell)) - 2;
    int32_t locals = (int32_t)cells_of(cn)[n].data2;
    int32_t nref = (int32_t)cells_of(cn)[n + 1].data2;
    uint8_t t = fn->type() == TYPE_OP ? native::op_source(fn) : fn->type();
    bool is_native = t == TYPE_NATIVE || t == TYPE_ACTION;
    if (!path && !apply_mode) {
        // The common call: the fixed arguments in spec order, every
        // refinement unused (natives: -1; functions: false, and none! for
        // the refinement's arguments).
        int32_t refs[MAX_REFINEMENTS];
        if (is_native) {
            if (nref > MAX_REFINEMENTS) sys::quit(sys::RT_NO_SWITCH, 0);
            for (int32_t k = 0; k < nref; k++) refs[k] = -1;
        }
        bool first = true;
        int32_t k = 0;
        for (; k < n; k++) {
            const cell* e = cells_of(cn) + k;
            if (e->type() != TYPE_TYPESET) break;
            if (argcache::mode_of(e) == argcache::RETURN) continue;
            if (infix && first) {
                first = false;
                check_type(e, fn, name, stack::arguments.window);
                continue;
            }
            first = false;
            pos = fetch_argument(fn, e, code, pos, name, infix);
            if (sys::is_pending()) return pos;
            // The fetch may have moved the cache's cells.
            check_type(cells_of(cn) + k, fn, name, stack::arguments.top - 1);
        }
        if (!is_native) {
            for (; k < n; k++) {
                const cell* e = cells_of(cn) + k;
                if (e->type() != TYPE_TYPESET) logic::push(false);
                else if (argcache::mode_of(e) != argcache::RETURN) none::push();
            }
        }
        finish_arguments(fn, is_native, t, locals, refs, code, pos, call_reference(fn, path, name));
        return pos;
    }
    bool listed = (apply_mode & APPLY_LISTED) != 0;    // apply/all: one entry per slot
    bool named = (apply_mode & APPLY_NAMED) != 0;      // apply: refinements written by name
    bool lazy = (apply_mode & APPLY_LAZY) != 0;        // skip arguments of unused refinements
    int32_t refs[MAX_REFINEMENTS];
    if (is_native) {
        if (nref > MAX_REFINEMENTS) sys::quit(sys::RT_NO_SWITCH, 0);
        for (int32_t k = 0; k < nref; k++) refs[k] = -1;
    }
    auto at_end = [&] { return pos >= total_of(code); };
    // An apply block's next expression, evaluated and pushed.
    auto next_value = [&] { pos = eval_expression(code, pos, false, true, false); };

    bool active = true, first = true;
    for (int32_t k = 0; k < n; k++) {
        cell e = cells_of(cn)[k];
        if (e.type() == TYPE_TYPESET) {
            if (argcache::mode_of(&e) == argcache::RETURN) continue;
            if (!active) {
                if (listed && !at_end()) {
                    // The argument of an unused refinement: consumed, dropped.
                    if (lazy) {
                        pos++;
                    } else {
                        next_value();
                        if (sys::is_pending()) return pos;
                        stack::pop(1);
                    }
                }
                if (!is_native) none::push();
                continue;
            }
            if (infix && first) {
                first = false;
                check_type(&e, fn, name, stack::arguments.window);
                continue;
            }
            first = false;
            if (apply_mode && at_end()) {
                none::push();
                continue;
            }
            pos = fetch_argument(fn, &e, code, pos, name, infix);
            if (sys::is_pending()) return pos;
            check_type(&e, fn, name, stack::arguments.top - 1);
        } else if (listed) {
            bool use = false;
            if (!at_end()) {
                next_value();
                if (sys::is_pending()) return pos;
                cell* v = stack::arguments.top - 1;
                if (v->type() != TYPE_LOGIC) expect_arg(fn, name, v, argcache::slot_of(&e));
                use = v->data1 != 0;
                stack::pop(1);
            }
            active = use;
            if (is_native) {
                if (use) refs[e.data3 - 1] = (int32_t)(stack::arguments.top - stack::arguments.window);
            } else {
                logic::push(use);
            }
        } else {
            active = false;
            if (!is_native) logic::push(false);
        }
    }

    // A refinement named in a path or an apply block: marked used (or not)
    // and its arguments fetched after the fixed ones.
    uint64_t used = 0;
    auto take = [&](const cell* el, bool use, const cell* where) -> bool {
        int32_t k = find_refinement(cn, n, el);
        if (k < 0) raise("no-refine", name, el);
        if (k < 64 && (used & (1ull << k))) raise("dup-refine", name, where);
        if (k < 64) used |= 1ull << k;
        cell r = cells_of(cn)[k];
        cell* window = stack::arguments.window;
        if (use) {
            if (is_native) refs[r.data3 - 1] = (int32_t)(stack::arguments.top - window);
            else logic::make_at(window + argcache::slot_of(&r), true);
        }
        for (int32_t j = k + 1; j < n && cells_of(cn)[j].type() == TYPE_TYPESET; j++) {
            cell e = cells_of(cn)[j];
            if (argcache::mode_of(&e) == argcache::RETURN) continue;
            if (apply_mode && at_end()) {
                if (is_native && use) none::push();
                continue;
            }
            if (!use && lazy) {
                pos++;
                continue;
            }
            pos = fetch_argument(fn, &e, code, pos, name, false);
            if (sys::is_pending()) return false;
            cell* v = stack::arguments.top - 1;
            if (use) check_type(&e, fn, name, v);
            if (!is_native) {
                if (use) cell::copy(v, window + argcache::slot_of(&e));
                stack::pop(1);
            } else if (!use) {
                stack::pop(1);
            }
        }
        return true;
    };
    if (path) {
        for (int32_t i = path_index; i < total_of(path); i++) {
            cell el = cells_of(path)[i];
            bool use = true;
            if (el.type() == TYPE_GET_WORD) use = logic::is_truthy(word_value(&el));
            else if (el.type() != TYPE_WORD) raise("bad-refine", &el);
            if (!take(&el, use, path)) return pos;
        }
    } else if (named) {
        while (!at_end()) {
            cell el = cells_of(code)[pos];
            bool use;
            if (el.type() == TYPE_REFINEMENT) {
                pos++;
                use = false;
                if (!at_end()) {
                    next_value();
                    if (sys::is_pending()) return pos;
                    use = logic::is_truthy(stack::arguments.top - 1);
                    stack::pop(1);
                }
            } else if (el.type() == TYPE_GET_WORD) {
                pos++;
                use = logic::is_truthy(word_value(&el));
            } else {
                break;
            }
            if (!take(&el, use, code)) return pos;
        }
    }
    finish_arguments(fn, is_native, t, locals, refs, code, pos, call_reference(fn, path, name));
    return pos;
}

// The defaults of a call made from C++: false for refinements, none! for
// their arguments and the locals.
void fill_defaults(const cell* fn, int32_t given, int32_t* refs) {
    cell cache = argcache::get(fn);
    Node* cn = node_of(&cache);
    int32_t n = total_of(&cache) - 2;
    int32_t locals = (int32_t)cells_of(cn)[n].data2;
    int32_t nref = (int32_t)cells_of(cn)[n + 1].data2;
    uint8_t t = fn->type() == TYPE_OP ? native::op_source(fn) : fn->type();
    bool is_native = t == TYPE_NATIVE || t == TYPE_ACTION;
    if (refs)
        for (int32_t k = 0; k < nref && k < MAX_REFINEMENTS; k++) refs[k] = -1;
    if (is_native) return;
    int32_t counted = 0;
    for (int32_t k = 0; k < n; k++) {
        cell* e = cells_of(cn) + k;
        if (e->type() == TYPE_TYPESET && argcache::mode_of(e) == argcache::RETURN) continue;
        if (counted++ < given) continue;
        if (e->type() == TYPE_REFINEMENT) logic::push(false);
        else none::push();
    }
    function::push_nones(locals);
}

void call_routine(const cell* r) {
    routine::Body entry = routine::entry_of(r);
    if (!entry) error::raise_internal(error::Internal::not_done);
    cell name{TYPE_WORD, 0, (uint32_t)stack::sym_body, 0};
    (void)name;
    entry();
}

}  // namespace

// --- Blocks ------------------------------------------------------------------------------

void eval_block(const cell* block, bool into_caller) {
    assert(!sys::is_pending());
    check_machine_stack();
    LibraryScope mode(block::is_library(block));
    cell* code = stack::push(block);
    stack::mark_symbol(stack::sym_body, 0x80 | stack::KIND_BLOCK);
    fire(EV_ENTER, code, (int32_t)code->data1, nullptr, nullptr);
    int32_t pos = (int32_t)code->data1;
    if (pos < 0) pos = 0;
    if (pos >= total_of(code)) {
        unset::make_at(stack::arguments.window);
        stack::keep_first();
    } else {
        CodeScope scope;
        bool user = !in_library;
        while (pos < total_of(code)) {
            if (user) {
                current_code = *code;
                current_code.data1 = (uint32_t)pos;
            }
            int32_t next = cells_of(code)[pos].type() == TYPE_SET_WORD && events_off() ? pure_assignment(code, pos) : -1;
            if (next >= 0) {
                pos = next;
            } else {
                pos = eval_expression(code, pos, false, false, false);
                if (sys::is_pending()) return;
            }
            if (pos < total_of(code)) stack::clear_args();
        }
    }
    fire(EV_EXIT, code, -1, stack::arguments.window, nullptr);
    if (into_caller) {
        stack::unwind_set_last();
        stack::arguments.top = code;
    } else {
        stack::unwind_last();
        cell::copy(code + 1, code);
        stack::arguments.top = code + 1;
    }
}

int32_t eval_next(cell* code, int32_t pos, bool push_mode) {
    if (pos >= total_of(code)) {
        cell u{TYPE_UNSET, 0, 0, 0};
        put_result(&u, push_mode);
        return pos;
    }
    cell* start = stack::arguments.top;
    stack::mark_symbol(stack::sym_body, stack::KIND_NATIVE);
    pos = eval_expression(code, pos, false, true, false);
    if (sys::is_pending()) return pos;
    stack::unwind_last();
    if (!push_mode) stack::set_last_only(start);
    return pos;
}

// Calls the op! `ov` named by the word `q` at code[next] on the value at
// the expression's result place; the index after its argument.
[[gnu::noinline]] int32_t call_infix(const cell* ov, const cell* q, cell* code, int32_t next, cell* start,
                                     bool push_mode) {
    cell op = *ov;
    cell name = *q;
    fire(EV_FETCH, code, next, &name, nullptr);
    stack::arguments.top = (push_mode ? start : stack::arguments.window) + 1;
    op.header = native::op_source(&op);
    collector::Root held(op);
    return eval_function(&op, code, next + 1, push_mode, nullptr, 0, &name, nullptr, true);
}

// The infix calls that follow an expression's value (its cell is `start`
// in push mode, else the window's first cell) from `next` on, left to
// right; the index after the last.
[[gnu::always_inline]] inline int32_t eval_infix(cell* code, int32_t next, cell* start, bool push_mode) {
    for (;;) {
        if (next >= total_of(code)) break;
        cell* q = cells_of(code) + next;
        if (q->type() != TYPE_WORD) break;
        // One lookup per expression: the next word's value, when bound.
        cell* ov = bound_value(q);
        if (!ov || ov->type() != TYPE_OP) break;
        if (!tracing.enabled && next + 1 < total_of(code)) {
            FastOp fop = fast_op_of(ov);
            if (fop != FAST_NONE) {
                const cell* right = number_operand(cells_of(code) + next + 1);
                cell* left = (push_mode ? start : stack::arguments.window);
                stack::arguments.top = left + 1;
                if (right && fast_infix(fop, left, right, reinterpret_cast<natives::Fn>((uintptr_t)ov->data1))) {
                    next += 2;
                    continue;
                }
            }
        }
        next = call_infix(ov, q, code, next, start, push_mode);
        if (sys::is_pending()) return next;
    }
    return next;
}

// --- Expressions --------------------------------------------------------------------------

int32_t eval_expression(cell* code, int32_t pos, bool no_infix, bool push_mode, bool passive) {
    cell* start = stack::arguments.top;
    cell v = cells_of(code)[pos];
    fire(EV_FETCH, code, pos, &v, nullptr);
    int32_t next = pos + 1;
    switch (v.type()) {
        case TYPE_PAREN:
            eval_block(&v, false);
            if (sys::is_pending()) return next;
            if (!push_mode) stack::set_last_only(stack::arguments.top - 1);
            break;
        case TYPE_SET_WORD: {
            if (next >= total_of(code)) raise("need-value", &v);
            stack::mark_interp_native(&v);
            cell* w = stack::push(&v);
            fire(EV_PUSH, code, pos, w, nullptr);
            // A value read as it stands needs no expression of its own.
            const cell* plain = tracing.enabled ? nullptr : plain_value(cells_of(code) + next);
            if (plain) next = eval_infix(code, next + 1, stack::push(plain), true);
            else next = eval_expression(code, next, false, true, false);
            if (sys::is_pending()) return next;
            cell* value = w + 1;
            if (value->type() == TYPE_UNSET) raise("need-value", w);
            // The value set, and (as the reference) the word it is set to.
            fire(EV_SET, code, pos, value, w);
            set_word_value(w, value);
            cell::copy(value, w);
            stack::unwind_last();
            if (!push_mode) stack::set_last_only(start);
            break;
        }
        case TYPE_SET_PATH: {
            if (next >= total_of(code)) raise("need-value", &v);
            stack::mark_interp_native(words::word_set_path);
            cell* p = stack::push(&v);
            fire(EV_PUSH, code, pos, p, nullptr);
            next = eval_expression(code, next, false, true, false);
            if (sys::is_pending()) return next;
            if (p[1].type() == TYPE_UNSET) raise("need-value", p);
            fire(EV_SET, code, pos, p + 1, p);
            eval_path(p, code, pos, true, false, true, false);
            if (sys::is_pending()) return next;
            cell::copy(p + 1, p);
            stack::unwind_last();
            if (!push_mode) stack::set_last_only(start);
            break;
        }
        case TYPE_GET_WORD: put_result(word_value(&v), push_mode); break;
        case TYPE_LIT_WORD:
            v.header = (v.header & ~CELL_TYPE_MASK) | TYPE_WORD;
            put_result(&v, push_mode);
            break;
        case TYPE_WORD: {
            cell* value = word_value(&v);
            uint8_t t = value->type();
            if (t == TYPE_UNSET) raise("no-value", &v);
            if ((t == TYPE_NATIVE || t == TYPE_ACTION) && events_off()) {
                // No event can fire: the call without the reporting.
                cell f = *value;
                next = call_native_direct(&f, &v, code, next);
                if (sys::is_pending()) return next;
                if (!push_mode) stack::set_last_only(start);
            } else if (t == TYPE_FUNCTION && events_off()) {
                cell f = *value;
                next = call_function_direct(&f, &v, code, next);
                if (sys::is_pending()) return next;
                if (!push_mode) stack::set_last_only(start);
            } else if (is_callable(t)) {
                cell f = *value;
                next = eval_function(&f, code, next, push_mode, nullptr, 0, &v, nullptr, false);
                if (sys::is_pending()) return next;
            } else if (t == TYPE_OP) {
                raise("no-op-arg", &v);
            } else {
                put_result(value, push_mode);
            }
            break;
        }
        case TYPE_PATH:
            next = eval_path(&v, code, pos, false, false, push_mode, false);
            if (sys::is_pending()) return next;
            break;
        case TYPE_GET_PATH:
            next = eval_path(&v, code, pos, false, true, push_mode, false);
            if (sys::is_pending()) return next;
            break;
        case TYPE_LIT_PATH:
            v.header = (v.header & ~CELL_TYPE_MASK) | TYPE_PATH;
            v.data3 = 0;
            put_result(&v, push_mode);
            break;
        case TYPE_OP: error::raise_internal(error::Internal::not_done);
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
            if (passive) {
                put_result(&v, push_mode);
            } else {
                next = eval_function(&v, code, next, push_mode, nullptr, 0, words::word_anon, nullptr, false);
                if (sys::is_pending()) return next;
            }
            break;
        case TYPE_ISSUE: {
            int32_t s = symbol::resolve(word::symbol_of(&v));
            if ((s == symbol::resolve(words::sym_system) || s == symbol::resolve(words::sym_system_global)) &&
                next < total_of(code) && cells_of(code)[next].type() == TYPE_BLOCK) {
                cell* category = stack::push(error::category_word(error::INTERNAL));
                cell* id = stack::push(error::id_word(error::INTERNAL, 14));
                const cell* items[2] = {category, id};
                error::raise(2, items);
            }
            put_result(&v, push_mode);
            break;
        }
        default: put_result(&v, push_mode); break;
    }
    if (!no_infix) {
        next = eval_infix(code, next, start, push_mode);
        if (sys::is_pending()) return next;
    }
    if (!push_mode) fire(EV_EXPR, code, next, stack::arguments.window, nullptr);
    return next;
}

// --- Calls ---------------------------------------------------------------------------------

int32_t eval_function(cell* callable, cell* code, int32_t pos, bool push_mode, cell* path,
                      int32_t path_index, const cell* name, const cell* parent, bool infix,
                      int32_t apply_mode) {
    cell fn = *callable;
    cell nm;
    if (name) nm = *name;
    else if (path) nm = cells_of(path)[(int32_t)path->data1];
    else if (pos > 0 && cells_of(code)[pos - 1].type() == TYPE_WORD) nm = cells_of(code)[pos - 1];
    else nm = *words::word_anon;
    if (!word::is_any_word_type(nm.type())) nm = *words::word_anon;
    nm.header = (nm.header & ~CELL_TYPE_MASK & ~CELL_NEW_LINE) | TYPE_WORD;
    // The call is reported by the word that names it (the function itself when it has none).
    fire(EV_OPEN, code, pos, word::symbol_of(&nm) == word::symbol_of(words::word_anon) ? &fn : &nm, nullptr);
    cell* slot = infix ? nullptr : stack::push(&fn);
    switch (fn.type()) {
        case TYPE_NATIVE:
        case TYPE_ACTION:
            stack::mark_interp_native(&nm);
            if (infix) stack::arguments.window = stack::arguments.top - 1;
            pos = eval_arguments(&fn, code, pos, path, path_index, &nm, apply_mode, infix);
            if (sys::is_pending()) return pos;
            stack::unwind_last();
            break;
        case TYPE_FUNCTION: {
            stack::Frame* f = stack::mark_func_value(&nm, function::context_of(&fn), true);
            if (parent && parent->type() == TYPE_OBJECT && object::context_of(parent) != context::global)
                f->context = object::context_of(parent);
            if (infix) stack::arguments.window = stack::arguments.top - 1;
            pos = eval_arguments(&fn, code, pos, path, path_index, &nm, apply_mode, infix);
            if (sys::is_pending()) return pos;
            call_callback(&fn, &nm);
            if (sys::is_pending()) return pos;
            stack::unwind_last_func();
            break;
        }
        case TYPE_ROUTINE:
            stack::mark_interp_native(&nm);
            if (infix) stack::arguments.window = stack::arguments.top - 1;
            pos = eval_arguments(&fn, code, pos, path, path_index, &nm, apply_mode, infix);
            if (sys::is_pending()) return pos;
            call_routine(&fn);
            if (sys::is_pending()) return pos;
            stack::unwind_last();
            break;
        default: sys::quit(sys::RT_NO_SWITCH, SYS_CALLER_ADDRESS());
    }
    fire(EV_RETURN, code, pos, stack::arguments.top - 1, &fn);
    if (!infix) {
        cell::copy(slot + 1, slot);
        stack::arguments.top = slot + 1;
        if (!push_mode) stack::set_last_only(slot);
    }
    return pos;
}

// --- Native calls that report nothing ---------------------------------------------------
//
// Where no event can fire (library code, or no tracer on), a native or
// action call needs none of eval_function's reporting: it is made here,
// with the same frames, argument fetches, checks and errors. Many library
// functions are one such call on their own arguments (`first`: [pick s 1],
// `last`: [pick s length? s]): their bodies also go without the block
// frame and the expression walk. Words are read at every call, so a
// redefinition or a changed body is seen at once; an argument that is not
// a native call goes through the walk's own fetch.

namespace {

// The value of an evaluated argument at `pos` that plain_value gives and
// that no word follows (so no operator applies to it: the blocks of if and
// loop, a variable before another argument), when no event can fire; null
// otherwise.
inline const cell* lone_value(const cell* code, int32_t pos) {
    int32_t n = total_of(code);
    if (pos >= n || !events_off()) return nullptr;
    const cell* c = cells_of(code) + pos;
    if (pos + 1 < n && c[1].type() == TYPE_WORD) return nullptr;
    return plain_value(c);
}

// Pushes `v`, the plain value at `pos`, and applies the operators after
// it; the index after them. Out of line: the caller's hot path stays small.
[[gnu::noinline]] int32_t push_then_infix(const cell* v, cell* code, int32_t pos) {
    cell* start = stack::push(v);
    return eval_infix(code, pos + 1, start, true);
}

inline bool is_native_value(const cell* v) {
    return v && (v->type() == TYPE_NATIVE || v->type() == TYPE_ACTION);
}

// What the direct calls below share: the word naming the frame, each
// fetched argument reported and checked, and the result moved down into
// the callee's slot.
inline cell call_name(const cell* word) {
    cell nm = *word;
    nm.header = (nm.header & ~CELL_TYPE_MASK & ~CELL_NEW_LINE) | TYPE_WORD;
    return nm;
}
inline void took_argument(const cell* fn, const cell* name, const cell* typeset, cell* code, int32_t pos) {
    fire(EV_PUSH, code, pos - 1, stack::arguments.top - 1, nullptr);
    check_type(typeset, fn, name, stack::arguments.top - 1);
}
inline void returned(const cell* fn, cell* slot, cell* code, int32_t pos) {
    fire(EV_RETURN, code, pos, stack::arguments.top - 1, fn);
    cell::copy(slot + 1, slot);
    stack::arguments.top = slot + 1;
}

// Calls `native` (named by `word`) on the arguments from `pos` when no
// event could report its opening; its result is pushed. The index after
// its arguments. The events a tracer turned on by an argument would see
// are still fired.
int32_t call_native_direct(const cell* native, const cell* word, cell* code, int32_t pos) {
    check_machine_stack();
    cell fn = *native;
    cell nm = call_name(word);
    cell* slot = stack::push(&fn);
    stack::mark_interp_native(&nm);
    Node* cn = cache_of(&fn);
    int32_t n = (int32_t)(cn->buffer->used_bytes() / sizeof(cell)) - 2;
    int32_t nref = (int32_t)cells_of(cn)[n + 1].data2;
    if (nref > MAX_REFINEMENTS) sys::quit(sys::RT_NO_SWITCH, 0);
    for (int32_t k = 0; k < n; k++) {
        const cell* e = cells_of(cn) + k;
        if (e->type() != TYPE_TYPESET) break;
        uint32_t mode = argcache::mode_of(e);
        if (mode == argcache::RETURN) continue;
        int32_t total = total_of(code);
        const cell* a = cells_of(code) + pos;
        // An evaluated argument that is an inert value or a word: its value
        // read once here. A native's call is made at once; a plain value is
        // pushed, then the operators after it apply (as the fetch would),
        // checked for only when a word follows it.
        const cell* v = nullptr;
        if (mode == argcache::EVALUATED && pos < total && events_off()) {
            if (a->type() == TYPE_WORD) v = bound_value(a);
            else if (inert_types[a->type()]) v = a;
        }
        if (is_native_value(v)) {
            cell f = *v, w = *a;
            cell* start = stack::arguments.top;
            pos = call_native_direct(&f, &w, code, pos + 1);
            if (!sys::is_pending()) pos = eval_infix(code, pos, start, true);
        } else if (v && readable_types[v->type()] && (pos + 1 >= total || a[1].type() != TYPE_WORD)) {
            stack::push(v);
            pos++;
        } else if (v && readable_types[v->type()] && !tracing.enabled) {
            pos = push_then_infix(v, code, pos);
        } else {
            pos = fetch_argument_value(&fn, e, code, pos, &nm, false);
        }
        if (sys::is_pending()) return pos;
        took_argument(&fn, &nm, cells_of(cn) + k, code, pos);
    }
    fire(EV_CALL, code, pos, &fn, call_reference(&fn, nullptr, &nm));
    natives::Fn entry = reinterpret_cast<natives::Fn>((uintptr_t)fn.data1);
    if (fn.type() == TYPE_ACTION && stack::arguments.window->type() == TYPE_PORT) entry = actions::port_entry(entry);
    entry(no_refinements);
    if (sys::is_pending()) return pos;
    stack::unwind_last();
    returned(&fn, slot, code, pos);
    return pos;
}

// Calls the function! `function` (named by `word`) on the arguments from
// `pos` as eval_function does, when no event could report its opening; its
// result is pushed. The index after its arguments.
int32_t call_function_direct(const cell* function, const cell* word, cell* code, int32_t pos) {
    cell fn = *function;
    cell nm = call_name(word);
    cell* slot = stack::push(&fn);
    stack::mark_func_value(&nm, function::context_of(&fn), true);
    Node* cn = cache_of(&fn);
    int32_t n = (int32_t)(cn->buffer->used_bytes() / sizeof(cell)) - 2;
    int32_t locals = (int32_t)cells_of(cn)[n].data2;
    int32_t k = 0;
    for (; k < n; k++) {
        const cell* e = cells_of(cn) + k;
        if (e->type() != TYPE_TYPESET) break;
        uint32_t mode = argcache::mode_of(e);
        if (mode == argcache::RETURN) continue;
        if (const cell* lone = mode == argcache::EVALUATED ? lone_value(code, pos) : nullptr) {
            stack::push(lone);
            pos++;
        } else {
            pos = fetch_argument_value(&fn, e, code, pos, &nm, false);
            if (sys::is_pending()) return pos;
        }
        took_argument(&fn, &nm, cells_of(cn) + k, code, pos);
    }
    // Refinements unused: false, and none! for their arguments.
    for (; k < n; k++) {
        const cell* e = cells_of(cn) + k;
        if (e->type() != TYPE_TYPESET) logic::push(false);
        else if (argcache::mode_of(e) != argcache::RETURN) none::push();
    }
    if (!events_off()) fire(EV_CALL, code, pos, &fn, call_reference(&fn, nullptr, &nm));
    if (locals > 0) function::push_nones(locals);
    call_callback(&fn, &nm);
    if (sys::is_pending()) return pos;
    stack::unwind_last_func();
    returned(&fn, slot, code, pos);
    return pos;
}

// Whether a library body starts with a native call (in_library is set).
inline bool starts_with_native(const cell* body) {
    int32_t pos = (int32_t)body->data1;
    if (pos < 0 || pos >= total_of(body)) return false;
    const cell* c = cells_of(body) + pos;
    return c->type() == TYPE_WORD && is_native_value(bound_value(c));
}

// eval_block(body, true) for a body that starts with a native call: its
// result goes into the function's result slot, the top stays.
void eval_native_body(const cell* body) {
    cell* top = stack::arguments.top;
    cell* code = stack::push(body);
    int32_t pos = (int32_t)code->data1;
    cell w = cells_of(code)[pos];
    cell f = *bound_value(&w);
    pos = call_native_direct(&f, &w, code, pos + 1);
    if (sys::is_pending()) return;
    pos = eval_infix(code, pos, code + 1, true);
    if (sys::is_pending()) return;
    if (pos < total_of(code)) {
        // More expressions: the rest is walked as a block of its own.
        cell rest = *code;
        rest.data1 = (uint32_t)pos;
        stack::arguments.top = code + 1;
        eval_block(&rest, true);
        if (!sys::is_pending()) stack::arguments.top = top;
        return;
    }
    cell::copy(code + 1, stack::arguments.window);
    stack::arguments.top = top;
}

}  // namespace

void call_callback(const cell* fn, const cell* name) {
    cell body = *function::more_cell(fn, function::MORE_BODY);
    // A library function's prolog and epilog are library code too.
    LibraryScope mode(body.type() == TYPE_BLOCK ? block::is_library(&body) : in_library);
    Node* ctx = function::context_of(fn);
    stack::Frame* frame = stack::top_frame();
    context::set_stack_values(ctx, stack::arguments.window);
    frame->header |= stack::FRAME_RETURN_TARGET;
    // A function marked trace or no-trace puts tracing back as it was before
    // the call, on every way out. Other calls leave the switch as their body
    // set it: `trace false` inside traced code holds after `trace` returns.
    struct TraceScope {
        bool flagged;
        bool before = tracing.enabled;
        ~TraceScope() {
            if (flagged) tracing.enabled = before;
        }
    } trace_scope{(fn->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE)) != 0};
    if (fn->header & function::FLAG_TRACE) tracing.enabled = tracing.saved;
    if (fn->header & function::FLAG_NO_TRACE) tracing.enabled = false;
    fire(EV_PROLOG, nullptr, -1, name, fn);
    if (body.type() == TYPE_BLOCK) {
        try {
            if (in_library && starts_with_native(&body)) eval_native_body(&body);
            else eval_block(&body, true);
        } catch (const sys::Throw& t) {
            // A return raised in exception form (through a C++ caller of the
            // interpreter) has already unwound to this frame.
            if ((t.code != sys::THROW_RETURN && t.code != sys::THROW_EXIT) || stack::top_frame() != frame) throw;
        }
        if (sys::is_pending()) {
            uint32_t code = sys::runtime.last_throw;
            if ((code != sys::THROW_RETURN && code != sys::THROW_EXIT) || stack::top_frame() != frame) return;
            sys::clear_throw();
        }
    } else {
        unset::make_at(stack::arguments.window);
    }
    frame->header &= ~stack::FRAME_RETURN_TARGET;
    fire(EV_EPILOG, nullptr, -1, name, stack::arguments.window);
}

// --- Paths ----------------------------------------------------------------------------------

namespace {

// The path copied and cut after element i (for bad-path-type).
cell* path_cut(const cell* path, int32_t i) {
    cell* copy = block::clone(path, false, false);
    block::truncate(node_of(copy), i + 1);
    return copy;
}

// Moves the value at `from` to the expression's result place.
void finish_path(cell* start, cell* from, bool push_mode) {
    cell result = *from;
    stack::arguments.top = start;
    put_result(&result, push_mode);
}

}  // namespace

// Whether a value lives wholly in its cell, so that a path write changes a
// copy: series and objects are changed where they live, these are not.
static bool is_immediate(uint8_t type) {
    switch (type) {
    case TYPE_PAIR: case TYPE_POINT2D: case TYPE_POINT3D: case TYPE_TUPLE: case TYPE_TIME:
    case TYPE_DATE: case TYPE_MONEY: case TYPE_EVENT: return true;
    default: return false;
    }
}

// After a set-path wrote into a scalar (`d/month: 2`, `o/size/x: 3`), the
// changed copy goes back where it was selected from: into the value before
// it in the path, and so on up while those are scalars too, then into the
// first word.
static void write_back(cell* first, cell* pth, const std::vector<cell*>& parents,
                       const std::vector<cell*>& elements, bool case_) {
    if (parents.empty()) return;
    for (size_t k = parents.size(); k-- > 0;) {
        cell* changed = parents[k];
        if (k == 0) {
            set_word_value(first, changed);
            return;
        }
        cell* parent = parents[k - 1];
        auto fn = datatype::get<datatype::A_EVAL_PATH>(parent->type());
        cell* holder = k >= 2 ? parents[k - 2] : nullptr;
        bool owner = parent->type() == TYPE_OBJECT;
        cell* saved = stack::arguments.top;
        // The set may leave the field's value in the parent's cell (an
        // object does), so decide on going up before it.
        bool up = is_immediate(parent->type());
        fn(parent, elements[k - 1], changed, pth, holder, elements[k - 1], (int32_t)k, case_, false,
           false, owner);
        stack::arguments.top = saved;
        if (!up) return;
    }
}

int32_t eval_path(cell* path, cell* code, int32_t pos, bool set, bool get, bool push_mode, bool case_) {
    check_machine_stack();
    cell* start = stack::arguments.top;
    cell* value = set ? start - 1 : nullptr;
    if (set) start = start - 1;  // the value pushed for the set is the place of the result
    cell* pth = stack::push(path);
    int32_t head = (int32_t)pth->data1;
    int32_t n = total_of(pth);
    if (head >= n) raise("empty-path");
    cell first = cells_of(pth)[head];
    // A date literal may head a path that reads one of its fields
    // (1-Jan-2021/isoweek); nothing else but a word may.
    bool date_head = first.type() == TYPE_DATE && !set;
    if (first.type() != TYPE_WORD && !date_head) raise("word-first", pth);
    fire(EV_ENTER, code, pos, pth, nullptr);
    fire(EV_FETCH, code, pos, &first, nullptr);
    cell* v = date_head ? &first : word_value(&first);
    if (is_callable(v->type())) {
        if (set) raise("invalid-path-set", pth);
        if (get) raise("invalid-path-get", pth);
        cell f = *v;
        int32_t next = eval_function(&f, code, pos + 1, true, pth, head + 1, &first, nullptr, false);
        if (sys::is_pending()) return next;
        finish_path(start, stack::arguments.top - 1, push_mode);
        return next;
    }
    if (v->type() == TYPE_UNSET) raise("unset-path", pth, &first);
    cell* cur = stack::push(v);
    cell* holder = nullptr;
    // Each step's parent and element, for writing a changed scalar back.
    std::vector<cell*> parents, elements;
    bool scalar_parent = false;
    for (int32_t i = head + 1; i < n; i++) {
        cell el = cells_of(pth)[i];
        cell* elp;
        if (el.type() == TYPE_GET_WORD) {
            elp = stack::push(word_value(&el));
        } else if (el.type() == TYPE_PAREN) {
            eval_block(&el, false);
            if (sys::is_pending()) return pos + 1;
            elp = stack::arguments.top - 1;
        } else {
            elp = stack::push(&el);
        }
        if (elp->type() == TYPE_UNSET) raise("invalid-path", pth, &el);
        bool last = i == n - 1;
        auto fn = datatype::get<datatype::A_EVAL_PATH>(cur->type());
        if (!fn) {
            cell* cut = path_cut(pth, i);
            cell* dt = push_datatype(cur);
            error::raise(error::SCRIPT, "bad-path-type", cut, dt, elp);
        }
        cell* setv = set && last ? value : nullptr;
        bool owner = setv && cur->type() == TYPE_OBJECT;
        // Selecting overwrites the parent's cell with the field (an object
        // does), so a set keeps the parent as it was for the write-back.
        cell* kept = set && !last ? stack::push(cur) : cur;
        // Only a scalar parent is written back: an object's set leaves the
        // new value in the parent's cell, so its type is read before.
        if (setv) scalar_parent = is_immediate(cur->type());
        cell* r = fn(cur, elp, setv, pth, holder, elp, i, case_, get, last, owner);
        if (set) parents.push_back(kept), elements.push_back(elp);
        holder = cur;
        cur = r == stack::arguments.top - 1 ? r : stack::push(r);
        if (!set && !get && is_callable(cur->type())) {
            cell f = *cur;
            cell nm = el;
            int32_t next = eval_function(&f, code, pos + 1, true, pth, i + 1, &nm, holder, false);
            if (sys::is_pending()) return next;
            finish_path(start, stack::arguments.top - 1, push_mode);
            return next;
        }
    }
    fire(EV_EXIT, code, pos, cur, nullptr);
    if (set) {
        if (scalar_parent) write_back(&first, pth, parents, elements, case_);
        stack::arguments.top = start + 1;  // the assigned value stays
        if (!push_mode) stack::set_last_only(start);
        return pos + 1;
    }
    finish_path(start, cur, push_mode);
    return pos + 1;
}

LoopStep loop_body(const cell* body) {
    cell* top = stack::arguments.top;
    cell* result = stack::arguments.window;
    cell name = *words::word_anon;
    stack::Frame* frame = stack::mark_loop(&name);
    cell* inner = stack::arguments.window;
    uint32_t code = 0;
    try {
        eval_block(body, true);
        if (sys::is_pending()) code = sys::runtime.last_throw;
    } catch (const sys::Throw& t) {
        // break or continue raised in exception form through a C++ caller of
        // the interpreter: the stacks were unwound to this frame already.
        if ((t.code != sys::THROW_BREAK && t.code != sys::THROW_CONTINUE) || stack::top_frame() != frame) throw;
        code = t.code;
    }
    if (code && ((code != sys::THROW_BREAK && code != sys::THROW_CONTINUE) || stack::top_frame() != frame))
        return LOOP_EXIT;
    sys::clear_throw();
    cell value = *inner;
    if (code == sys::THROW_CONTINUE) unset::make_at(&value);
    stack::reset();
    stack::arguments.top = top;
    cell::copy(&value, result);
    return code == sys::THROW_BREAK ? LOOP_BREAK : LOOP_NEXT;
}

// --- C++ entry points ------------------------------------------------------------------------

cell* do_block(const cell* block) {
    eval_block(block, false);
    sys::raise_pending();
    return stack::arguments.top - 1;
}

cell* call_function(const cell* callable, const cell* args, int32_t count) {
    cell fn = *callable;
    if (fn.type() == TYPE_OP) fn.header = native::op_source(&fn);
    cell* slot = stack::push(&fn);
    cell name = *words::word_anon;
    int32_t refs[MAX_REFINEMENTS];
    switch (fn.type()) {
        case TYPE_NATIVE:
        case TYPE_ACTION:
            stack::mark_native(&name);
            for (int32_t i = 0; i < count; i++) stack::push(args + i);
            fill_defaults(&fn, count, refs);
            reinterpret_cast<natives::Fn>((uintptr_t)fn.data1)(refs);
            if (!sys::is_pending()) stack::unwind_last();
            break;
        case TYPE_FUNCTION:
            stack::mark_func_value(&name, function::context_of(&fn), false);
            for (int32_t i = 0; i < count; i++) stack::push(args + i);
            fill_defaults(&fn, count, refs);
            call_callback(&fn, &name);
            if (!sys::is_pending()) stack::unwind_last_func();
            break;
        case TYPE_ROUTINE:
            stack::mark_native(&name);
            for (int32_t i = 0; i < count; i++) stack::push(args + i);
            call_routine(&fn);
            if (!sys::is_pending()) stack::unwind_last();
            break;
        default: {
            cell* dt = push_datatype(&fn);
            error::raise(error::SCRIPT, "invalid-arg", dt);
        }
    }
    sys::raise_pending();
    cell::copy(slot + 1, slot);
    stack::arguments.top = slot + 1;
    return slot;
}

// --- Tracing -----------------------------------------------------------------------------------

uint32_t trace_mask(const cell* tracer) {
    if (tracer->type() != TYPE_FUNCTION) return 0x1FFFF;
    cell body = *function::more_cell(tracer, function::MORE_BODY);
    if (body.type() != TYPE_BLOCK || block::length_of(&body) < 1) return 0x1FFFF;
    cell first = *block::head_cell(&body);
    if (first.type() != TYPE_BLOCK || block::length_of(&first) < 1) return 0x1FFFF;
    static const struct {
        cell** word;
        uint32_t bit;
    } events[] = {
        {&words::word_init, EV_INIT}, {&words::global_end, EV_END}, {&words::word_prolog, EV_PROLOG},
        {&words::word_epilog, EV_EPILOG}, {&words::word_enter, EV_ENTER}, {&words::word_exit, EV_EXIT},
        {&words::word_open, EV_OPEN}, {&words::word_return, EV_RETURN}, {&words::word_fetch, EV_FETCH},
        {&words::word_push, EV_PUSH}, {&words::global_set, EV_SET}, {&words::word_call, EV_CALL},
        {&words::word_error, EV_ERROR}, {&words::word_throw, EV_THROW}, {&words::word_catch, EV_CATCH},
        {&words::word_expr, EV_EXPR},
    };
    uint32_t mask = 0;
    Node* n = node_of(&first);
    for (int32_t i = (int32_t)first.data1; i < total_of(&first); i++) {
        cell* c = cells_of(n) + i;
        if (c->type() != TYPE_WORD) continue;
        int32_t s = symbol::resolve(word::symbol_of(c));
        for (auto& e : events)
            if (symbol::resolve(word::symbol_of(*e.word)) == s) mask |= e.bit;
    }
    return mask;
}

void fire_event(uint32_t event, const cell* code, int32_t position, const cell* value, const cell* ref) {
    if (!(tracing.mask & event) || tracing.tracer.type() != TYPE_FUNCTION) return;
    static cell** const event_words[16] = {
        &words::word_init, &words::global_end, &words::word_prolog, &words::word_epilog,
        &words::word_enter, &words::word_exit, &words::word_open, &words::word_return,
        &words::word_fetch, &words::word_push, &words::global_set, &words::word_call,
        &words::word_error, &words::word_throw, &words::word_catch, &words::word_expr,
    };
    int32_t bit = __builtin_ctz(event);
    stack::Saved saved = stack::save();
    // The tracer's answer lands in the window's first cell, which at an
    // epilog holds the traced function's result: kept aside and put back.
    cell result_slot = *saved.window;
    cell* held = stack::push(&tracing.tracer);
    cell* c = code ? stack::push(code) : nullptr;
    cell* v = value ? stack::push(value) : nullptr;
    cell* r = ref ? stack::push(ref) : nullptr;
    tracing.enabled = false;
    cell fn = *held;
    stack::mark_func_value(words::word_interp_callback, function::context_of(&fn), true);
    cell* window = stack::arguments.window;
    stack::push(*event_words[bit]);
    if (c && (c->type() == TYPE_BLOCK || c->type() == TYPE_PAREN)) stack::push(c);
    else none::push();
    int32_t offset = -1;
    if (c && position >= 0 && position <= total_of(c)) offset = position;
    integer::push(offset);
    if (v) stack::push(v);
    else none::push();
    bool with_ref = event == EV_SET || event == EV_EPILOG || event == EV_PROLOG || event == EV_RETURN ||
                    event == EV_CALL;
    if (r && with_ref) stack::push(r);
    else none::push();
    cell* pair = stack::push_cell();
    *pair = cell{TYPE_PAIR, 0, (uint32_t)(saved.window - stack::arguments.base),
                 (uint32_t)(saved.top - stack::arguments.base)};
    fill_defaults(&fn, (int32_t)(stack::arguments.top - window), nullptr);
    try {
        call_callback(&fn, words::word_interp_callback);
    } catch (...) {
        tracing.enabled = true;
        throw;
    }
    tracing.enabled = true;
    // A break, continue, return or throw of the tracer: the stacks are
    // unwound to its target already, and the many places an event fires
    // from cannot all pass it on by returning, so it travels in exception
    // form (every catcher takes both forms).
    sys::raise_pending();
    stack::restore(saved);
    *saved.window = result_slot;
}

// --- Seams ---------------------------------------------------------------------------------------

namespace {

void call_handler(cell* function, Node* ctx, const cell* name, int32_t event_class, cell* args,
                  int32_t count) {
    (void)event_class;
    cell* top = stack::arguments.top;
    cell fn = *function;
    stack::push(&fn);
    stack::Frame* f = stack::mark_func_value(name, function::context_of(&fn), false);
    f->context = ctx;
    for (int32_t i = 0; i < count; i++) stack::push(args + i);
    int32_t refs[MAX_REFINEMENTS];
    fill_defaults(&fn, count, refs);
    call_callback(&fn, name);
    sys::raise_pending();
    stack::unwind_last_func();
    stack::arguments.top = top;
}

void eval_spec_block(cell* block) {
    cell* top = stack::arguments.top;
    eval_block(block, false);
    sys::raise_pending();
    stack::arguments.top = top;
}

void compare_callback(cell* function, cell* a, cell* b, cell* result) {
    cell* top = stack::arguments.top;
    cell args[2] = {*a, *b};
    collector::Root r0(args[0]), r1(args[1]);
    cell* r = call_function(function, args, 2);
    *result = *r;
    stack::arguments.top = top;
}

const cell* innermost_call_word() {
    static cell w = {TYPE_UNSET, 0, 0, 0};
    static collector::Root root(w);
    for (stack::Frame* f = stack::frames.top - 1; f >= stack::frames.base; f--) {
        int32_t s = f->symbol();
        if (!s || s == stack::sym_body || s == stack::sym_anon) continue;
        word::make_cell(&w, TYPE_WORD, f->context, s, -1);
        if (f->context) {
            int32_t index = context::find_word(f->context, s, true);
            if (index >= 0) w.data3 = (uint32_t)index;
            else w.data1 = 0;
        }
        return &w;
    }
    return words::word_anon;
}

const cell* innermost_argument_word(int32_t n) {
    static cell w = {TYPE_UNSET, 0, 0, 0};
    static collector::Root root(w);
    const cell* call = innermost_call_word();
    if (call->data1 && (int32_t)call->data3 >= 0) {
        Node* ctx = word::context_of(call);
        if (context::has_values(ctx)) {
            cell* v = context::value_cell_at(ctx, (int32_t)call->data3);
            uint8_t t = v->type();
            if (t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE) {
                cell* top = stack::arguments.top;
                w = *argument_word_of(v, n);
                stack::arguments.top = top;
                return &w;
            }
        }
    }
    return words::word_anon;
}

// Nothing can catch an error raised with frames on the stack but no
// error-catch or try frame among them: the report is shown and the program
// ends with -2.
[[noreturn]] void uncaught(cell* e) {
    cell* out = string::push_new(256);
    actions::form_typed(e, out, series::ABSENT, datatype::NO_LIMIT);
    int32_t n = -1;
    const uint8_t* text = unicode::to_utf8(out, &n);
    std::string copy(reinterpret_cast<const char*>(text), (size_t)n);
    gui::alert("Zol NoName App", copy.c_str());
    sys::free_all();
    platform::exit_process(-2);
}

void on_raise(cell* e, bool prebuilt) {
    if (!prebuilt && !stack::frames_empty()) {
        cell* top = stack::arguments.top;
        if (error::field(e, error::F_WHERE)->type() == TYPE_NONE) {
            cell w = *stack::get_call();
            *error::field(e, error::F_WHERE) = w;
        } else {
            stack::throw_top = nullptr;
        }
        stack::record_error_frame(e);
        if (error::field(e, error::F_NEAR)->type() == TYPE_NONE &&
            (current_code.type() == TYPE_BLOCK || current_code.type() == TYPE_PAREN)) {
            cell near = current_code;
            near.header = TYPE_BLOCK;
            *error::field(e, error::F_NEAR) = near;
        }
        stack::arguments.top = top;
        fire(EV_ERROR, nullptr, -1, e, nullptr);
    }
    if (stack::frames_empty()) return;
    for (stack::Frame* f = stack::frames.base; f < stack::frames.top; f++)
        if (f->kind() == stack::KIND_ERROR_CATCH || f->kind() == stack::KIND_TRY) return;
    uncaught(e);
}

int32_t count_handler_locals(const cell* function) {
    if (!function::spec_of(function)) return 0;
    return function::count_locals(function::spec_of(function), 0, false);
}

}  // namespace

void init() {
    current_code = cell{TYPE_UNSET, 0, 0, 0};
    init_fast_ops();
    object::call_handler = call_handler;
    object::eval_block = eval_spec_block;
    object::count_locals = count_handler_locals;
    block::compare_callback = compare_callback;
    string::compare_callback = compare_callback;
    rt::call_word = innermost_call_word;
    rt::argument_word = innermost_argument_word;
    error::raise_hook = on_raise;
    (void)machine_stack_limit;
}

}  // namespace interpreter
