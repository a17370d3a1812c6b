// Natives that choose and repeat evaluation: if, unless, either, any, all,
// switch, case, while, until, loop, repeat, forever, foreach, forall and
// remove-each.
//
// Loops run each pass of their body in a loop frame of its own (`pass`):
// break and continue unwind to it as pending codes, so a pass costs no C++
// exception; return, exit and throw pass through the loop untouched, errors
// travel as C++ exceptions whose catcher restores the stacks.
//
// The series a loop walks is held as a cell on the argument stack (its node
// and head index); its buffer is read again at every step, since the body
// may grow, shrink or move it.
#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/rt.h"
#include "runtime/sys.h"
#include "runtime/words.h"

namespace natives {

namespace {

// The strict truth test: unset! is no answer.
bool strict_true(const cell* v) {
    if (v->type() == TYPE_UNSET) error::raise_script(error::Script::no_return);
    return logic::is_truthy(v);
}

// --- One pass of a loop body -----------------------------------------------------------

enum Step { STEP_NEXT, STEP_CONTINUE, STEP_BREAK, STEP_LEAVE };

// Evaluates `body` (a stable cell) in a loop frame. The body's value, the
// value of break (unset! without /return) or unset! after continue goes into
// `result`; the cursors are left as they were. STEP_LEAVE: another code is
// pending (the stacks are already unwound past us): return at once.
//
// A body (or its start) that only reads values and sets words can neither
// break nor be watched: it runs without the loop frame and the walk. `plain`
// (true at the loop's start) is cleared when that fails at the body's first
// expression, so that the next passes do not try it again: a hint only, as
// the walk gives the same result either way.
Step pass(const cell* body, cell* result, bool& plain) {
    cell* top = stack::arguments.top;
    const cell* walked = body;
    cell rest;
    if (plain && (!interpreter::tracing.enabled || block::is_library(body))) {
        cell* out = stack::push_cell();
        int32_t pos = interpreter::eval_plain_prefix(body, out);
        stack::arguments.top = top;
        if (pos < 0) {
            *result = *out;
            return STEP_NEXT;
        }
        if (pos > head_of(body)) {
            rest = *body;
            rest.data1 = (uint32_t)pos;
            walked = &rest;
        } else {
            plain = false;
        }
    }
    stack::Frame* frame = stack::mark_symbol(stack::sym_body, stack::KIND_LOOP);
    cell* inner = stack::arguments.window;
    uint32_t code = 0;
    try {
        interpreter::eval_block(walked, true);
        if (sys::is_pending()) code = sys::runtime.last_throw;
    } catch (const sys::Throw& t) {
        // break or continue in exception form (through a C++ caller of the
        // interpreter): the stacks were unwound to this frame already.
        if ((t.code != sys::THROW_BREAK && t.code != sys::THROW_CONTINUE) || stack::top_frame() != frame) throw;
        code = t.code;
    }
    if (code && ((code != sys::THROW_BREAK && code != sys::THROW_CONTINUE) || stack::top_frame() != frame))
        return STEP_LEAVE;
    sys::clear_throw();
    cell value = *inner;
    if (code == sys::THROW_CONTINUE) unset::make_at(&value);
    stack::reset();
    stack::arguments.top = top;
    *result = value;
    if (code == sys::THROW_BREAK) return STEP_BREAK;
    return code == sys::THROW_CONTINUE ? STEP_CONTINUE : STEP_NEXT;
}

// The loop's result into the native's result slot.
void finish(const cell* result) {
    stack::set_last(result);
    stack::keep_first();
}

// A loop count: a float! is truncated toward zero; one that no integer!
// holds is refused rather than wrapped.
int64_t count_of(const cell* c) {
    if (c->type() != TYPE_FLOAT) return (int32_t)c->data2;
    double d = cell::get_float(c);
    if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) {
        cell* dt = datatype::push(TYPE_INTEGER);
        error::raise_script(error::Script::type_limit, dt);
    }
    return (int64_t)d;
}

// Sets a word (a stable cell) to a copy of `value`.
void set_word(cell* w, const cell* value) {
    cell* held = stack::push(value);
    word::set_in(w, held);
    stack::pop(1);
}

bool is_word_kind(uint8_t t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD;
}

// --- Walking a series ----------------------------------------------------------------------

// What foreach and remove-each walk: the series (a copy whose head moves),
// the loop word or block of words, the count of words per step, and for a
// map! the position of the next entry in its key/value block.
struct Walk {
    cell* series;
    cell* words;
    int32_t n;
    bool single;
    int32_t map_position;
};

// Checks the words (a block of words needs at least one, each a word kind)
// and the series; answers the count of words.
int32_t check_words(cell* words, const cell* series) {
    if (words->type() == TYPE_WORD) {
        if (series->type() == TYPE_MAP) error::raise_script(error::Script::invalid_arg, words);
        return 1;
    }
    int32_t n = block::length_of(words);
    if (n < 1) error::raise_script(error::Script::invalid_arg, words);
    for (int32_t i = 0; i < n; i++) {
        cell w = cell_at(words, head_of(words) + i);
        if (!is_word_kind(w.type())) error::raise_script(error::Script::invalid_arg, &w);
    }
    if (series->type() == TYPE_MAP && n != 2) error::raise_script(error::Script::invalid_arg, words);
    return n;
}

// The value at `offset` past the head of a series that is not a block:
// pick (so strings give char!, binaries integer!), none! past the tail.
void pick_into(const cell* series, int32_t offset, cell* out) {
    cell* tmp = stack::push(series);
    cell* index = integer::push(offset + 1);
    auto fn = actions::get_action_ptr_of<datatype::A_PICK>(tmp);
    cell* r = fn(tmp, offset + 1, index);
    *out = *r;
    stack::pop(2);
}

// One step: sets the words from the series' head and moves the head past
// them. False at the tail (nothing assigned).
bool step(Walk& w) {
    if (w.series->type() == TYPE_MAP) return map::foreach_next(w.words, w.series, &w.map_position);
    if (series::is_at_tail(w.series)) return false;
    bool list = series::is_any_block(w.series->type());
    int32_t head = head_of(w.series);
    for (int32_t i = 0; i < w.n; i++) {
        cell* v = stack::push_cell();
        if (list) {
            if (head + i < total_of(w.series)) *v = cell_at(w.series, head + i);
            else none::make_at(v);
        } else {
            pick_into(w.series, i, v);
        }
        if (!w.single && head_of(w.words) + i >= total_of(w.words)) {
            // The body cut the words block short: its missing words are not set.
            stack::pop(1);
            continue;
        }
        cell* word = stack::push(w.single ? w.words : block::cells_of(node_of(w.words)) + head_of(w.words) + i);
        word::set_in(word, v);
        stack::pop(2);
    }
    w.series->data1 = (uint32_t)(head + w.n);
    return true;
}

}  // namespace

// --- Conditionals --------------------------------------------------------------------------

void if_(const int32_t*) {
    if (logic::is_truthy(stack::arg(0))) interpreter::eval_block(stack::arg(1), true);
    else none::make_at(stack::arg(0));
}

void unless(const int32_t*) {
    if (!logic::is_truthy(stack::arg(0))) interpreter::eval_block(stack::arg(1), true);
    else none::make_at(stack::arg(0));
}

void either(const int32_t*) {
    interpreter::eval_block(stack::arg(strict_true(stack::arg(0)) ? 1 : 2), true);
}

namespace {

// any (want = true) and all (want = false): the first value whose truth is
// `want` decides.
void any_all(bool want) {
    cell* code = stack::push(stack::arg(0));
    int32_t pos = head_of(code);
    if (pos >= total_of(code)) {
        none::make_at(stack::arg(0));
        return;
    }
    while (pos < total_of(code)) {
        cell* top = stack::arguments.top;
        pos = interpreter::eval_next(code, pos, true);
        if (sys::is_pending()) return;
        if (logic::is_truthy(top) == want) {
            if (want) stack::set_last(top);
            else none::make_at(stack::arg(0));
            return;
        }
        if (pos >= total_of(code)) {
            // all: every value passed; the last one is the result.
            if (want) none::make_at(stack::arg(0));
            else stack::set_last(top);
            return;
        }
        stack::arguments.top = top;
    }
}

}  // namespace

void any(const int32_t*) { any_all(true); }
void all(const int32_t*) { any_all(false); }

void switch_(const int32_t* refs) {
    cell* value = stack::arg(0);
    cell* cases = stack::push(stack::arg(1));
    int32_t block_at = -1;
    if (value->type() != TYPE_BLOCK) {
        int32_t i = head_of(cases);
        for (; i < total_of(cases); i++) {
            cell c = cell_at(cases, i);
            if (c.type() == value->type() && actions::compare(value, &c, 0)) break;
        }
        for (i++; i < total_of(cases); i++) {
            if (cell_at(cases, i).type() == TYPE_BLOCK) {
                block_at = i;
                break;
            }
        }
    }
    if (block_at >= 0) {
        cell b = cell_at(cases, block_at);
        interpreter::eval_block(&b, true);
    } else if (given(refs, 0)) {
        interpreter::eval_block(stack::arg((uint32_t)refs[0]), true);
    } else {
        none::make_at(stack::arg(0));
    }
}

void case_(const int32_t* refs) {
    bool all = given(refs, 0);
    cell* code = stack::push(stack::arg(0));
    cell* result = unset::push();
    bool evaluated = false;
    int32_t pos = head_of(code);
    while (pos < total_of(code)) {
        if (all) evaluated = false;
        cell* top = stack::arguments.top;
        pos = interpreter::eval_next(code, pos, true);
        if (sys::is_pending()) return;
        if (pos >= total_of(code)) error::raise_script(error::Script::need_value, words::global_case);
        bool yes = strict_true(top);
        stack::arguments.top = top;
        if (!yes) {
            pos++;
            continue;
        }
        cell c = cell_at(code, pos);
        if (c.type() == TYPE_BLOCK) {
            interpreter::eval_block(&c, false);
            pos++;
        } else {
            pos = interpreter::eval_next(code, pos, true);
        }
        if (sys::is_pending()) return;
        *result = *top;
        stack::arguments.top = top;
        if (!all) {
            finish(result);
            return;
        }
        evaluated = true;
    }
    if (evaluated) finish(result);
    else none::make_at(stack::arg(0));
}

// --- Loops ------------------------------------------------------------------------------------

void while_(const int32_t*) {
    cell* cond = stack::push(stack::arg(0));
    cell* body = stack::push(stack::arg(1));
    cell* result = unset::push();
    bool plain_cond = true, plain = true;
    for (;;) {
        Step s = pass(cond, result, plain_cond);
        if (s == STEP_LEAVE) return;
        if (s != STEP_NEXT) error::raise(error::THROW, "while-cond");
        if (!strict_true(result)) break;
        s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) break;
    }
    unset::make_at(stack::arg(0));
    stack::keep_first();
}

void until(const int32_t*) {
    cell* body = stack::push(stack::arg(0));
    cell* result = unset::push();
    bool plain = true;
    for (;;) {
        Step s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) break;
        if (s == STEP_CONTINUE) continue;
        if (strict_true(result)) break;
    }
    finish(result);
}

void loop(const int32_t*) {
    int64_t n = count_of(stack::arg(0));
    if (n < 1) {
        none::make_at(stack::arg(0));
        return;
    }
    cell* body = stack::push(stack::arg(1));
    cell* result = unset::push();
    bool plain = true;
    for (int64_t i = 0; i < n; i++) {
        Step s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) break;
    }
    finish(result);
}

void repeat(const int32_t*) {
    int64_t n = count_of(stack::arg(1));
    if (n < 1) {
        none::make_at(stack::arg(0));
        return;
    }
    cell* w = stack::push(stack::arg(0));
    cell* body = stack::push(stack::arg(2));
    cell* counter = integer::push(0);
    cell* result = unset::push();
    bool plain = true;
    for (int64_t i = 1; i <= n; i++) {
        integer::make_at(counter, (int32_t)i);
        word::set_in(w, counter);
        Step s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) break;
    }
    finish(result);
}

void forever(const int32_t*) {
    cell* body = stack::push(stack::arg(0));
    cell* result = unset::push();
    bool plain = true;
    for (;;) {
        Step s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) break;
    }
    finish(result);
}

void foreach(const int32_t*) {
    cell* words = stack::push(stack::arg(0));
    cell* walked = stack::push(stack::arg(1));
    cell* body = stack::push(stack::arg(2));
    int32_t n = check_words(words, walked);
    cell* result = unset::push();
    bool plain = true;
    Walk w{walked, words, n, words->type() == TYPE_WORD, 0};
    while (step(w)) {
        Step s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) break;
    }
    finish(result);
}

namespace {

bool is_forall_series(uint8_t t) {
    return series::is_any_block(t) || series::is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}

}  // namespace

void forall(const int32_t*) {
    cell* w = stack::push(stack::arg(0));
    cell* body = stack::push(stack::arg(1));
    cell* start = stack::push(rt::get_value_checked(w));
    if (!is_forall_series(start->type())) {
        cell* name = stack::push(rt::call_word());
        cell* dt = datatype::push(start->type());
        cell* arg = stack::push(rt::argument_word(0));
        error::raise(error::SCRIPT, "expect-arg", name, dt, arg);
    }
    cell* result = unset::push();
    bool plain = true;
    if (series::is_at_tail(start)) {
        finish(result);
        return;
    }
    for (;;) {
        Step s = pass(body, result, plain);
        if (s == STEP_LEAVE) return;
        if (s == STEP_BREAK) {
            finish(result);
            return;
        }
        cell* cur = word::get_value(w);
        if (!is_forall_series(cur->type()) || node_of(cur) != node_of(start)) {
            cell* bad = stack::push(cur);
            error::raise(error::SCRIPT, "bad-loop-series", bad);
        }
        cur->data1 = (uint32_t)(head_of(cur) + 1);
        if (series::is_at_tail(cur)) break;
    }
    set_word(w, start);
    finish(result);
}

namespace {

// The removals remove-each has decided but not yet made, while no owner
// listens to the series: made in one pass at the end (or when the body
// changes the series), so each kept value moves once instead of once per
// removal before it. A hash! (its index) and the types with removals of
// their own go one at a time.
struct Removals {
    bool batched;
    memory::Node* node = nullptr;
    uint32_t units = 0, unit = 0;
    std::vector<uint32_t> bounds;

    explicit Removals(const cell* walked) {
        batched = walked->type() != TYPE_HASH &&
                  actions::get_action_ptr_of<datatype::A_REMOVE>(walked) == series::remove;
        if (!batched) return;
        node = node_of(walked);
        memory::Buffer* b = node->buffer;
        unit = b->unit();
        units = b->used_bytes() / unit;
    }
    // Whether the series is still as the walk found it, with no owner.
    bool unchanged() const {
        memory::Buffer* b = node->buffer;
        return !(b->flags & memory::FLAG_OWNED) && b->unit() == unit && b->used_bytes() / unit == units;
    }
    void add(uint32_t from, uint32_t to) {
        if (!bounds.empty() && bounds.back() == from) bounds.back() = to;
        else bounds.push_back(from), bounds.push_back(to);
    }
    // Makes the decided removals; answers how many of them lay before
    // `head`. Allocates nothing, so it also runs while an exception travels.
    uint32_t flush(uint32_t head) {
        if (bounds.empty()) return 0;
        uint32_t before = series::cut_runs(node, bounds.data(), (uint32_t)bounds.size() / 2, head);
        bounds.clear();
        return before;
    }
};

}  // namespace

void remove_each(const int32_t*) {
    cell* words = stack::push(stack::arg(0));
    cell* data = stack::push(stack::arg(1));
    cell* walked = stack::push(stack::arg(1));
    cell* body = stack::push(stack::arg(2));
    int32_t n = check_words(words, walked);
    cell* result = unset::push();
    bool plain = true;
    cell* part = integer::push(n);
    Walk w{walked, words, n, words->type() == TYPE_WORD, 0};
    Removals batch(walked);
    try {
        for (;;) {
            int32_t at = head_of(walked);
            if (!step(w)) break;
            Step s = pass(body, result, plain);
            if (s == STEP_LEAVE) {
                batch.flush(0);
                return;
            }
            if (batch.batched && !batch.unchanged()) {
                // The body changed the series or gave it an owner: one
                // removal at a time from here on, as an owner is told.
                at -= (int32_t)batch.flush((uint32_t)at);
                walked->data1 = (uint32_t)(at + n);
                batch.batched = false;
            }
            if (s == STEP_BREAK) break;
            if (s == STEP_CONTINUE || !logic::is_truthy(result)) continue;
            if (batch.batched) {
                batch.add((uint32_t)at, (uint32_t)std::min<int64_t>((int64_t)at + n, batch.units));
                continue;
            }
            // The values just taken go; the walk goes on from where they were.
            walked->data1 = (uint32_t)at;
            int32_t left = series::units_from_head(walked, false);
            if (left <= 0) continue;
            cell* target = stack::push(walked);
            integer::make_at(part, n < left ? n : left);
            auto fn = actions::get_action_ptr_of<datatype::A_REMOVE>(target);
            fn(target, n > 1 ? part : series::ABSENT, series::ABSENT);
            stack::pop(1);
            walked->data1 = (uint32_t)at;
        }
    } catch (...) {
        batch.flush(0);
        throw;
    }
    batch.flush(0);
    finish(data);
}

}  // namespace natives
