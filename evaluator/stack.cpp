#include "evaluator/stack.h"

#include <cassert>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/sys.h"
#include "runtime/words.h"

namespace stack {

Arguments arguments = {nullptr, nullptr, nullptr, nullptr};
Frames frames = {nullptr, nullptr, nullptr};
int32_t sym_body = 0;
int32_t sym_anon = 0;
Frame* throw_top = nullptr;

void init(cell* cells, uint32_t count) {
    arguments.base = arguments.top = arguments.window = cells;
    arguments.end = cells + count;
}

void init_frames(void* area, uint32_t bytes) {
    frames.base = frames.top = static_cast<Frame*>(area);
    uint32_t n = bytes / sizeof(Frame);
    if (n > FRAME_CAPACITY) n = FRAME_CAPACITY;
    frames.end = frames.base + n;
    sym_body = word::symbol_of(words::word_body);
    sym_anon = word::symbol_of(words::word_anon);
    static bool registered = false;
    if (!registered) {
        collector::register_marker(mark_frames_gc);
        registered = true;
    }
}

void overflow() {
    // Before the error catalog exists, running out of argument stack ends
    // the program as a stack overflow; after, it is internal stack-overflow
    // with the top moved back five cells (room for the catcher).
    if (!error::catalog_node) sys::quit(sys::RT_STACK_OVERFLOW, SYS_CALLER_ADDRESS());
    arguments.top = arguments.top - 5 > arguments.base ? arguments.top - 5 : arguments.base;
    cycles::reset();
    error::raise_prebuilt("stack-overflow");
}

void frame_overflow() {
    if (!error::catalog_node) sys::quit(sys::RT_STACK_OVERFLOW, SYS_CALLER_ADDRESS());
    arguments.top = arguments.top - 5 > arguments.base ? arguments.top - 5 : arguments.base;
    if (arguments.window > arguments.top) arguments.window = arguments.top;
    cycles::reset();
    error::raise_prebuilt("stack-overflow");
}

Frame* mark_symbol(int32_t symbol, uint32_t kind_byte) {
    cell name{TYPE_WORD, 0, (uint32_t)symbol, 0};
    return mark(&name, kind_byte);
}

Frame* mark_func_value(const cell* name, Node* fctx, bool interpreted) {
    Frame* f = mark(name, interpreted ? 0x80 | KIND_FUNCTION : KIND_FUNCTION);
    if (fctx) {
        f->function = fctx;
        f->values = reinterpret_cast<cell*>((uintptr_t)context::self_cell(fctx)->data2);
    }
    return f;
}

// --- Flags ------------------------------------------------------------------------------------

void set_interrupt_flag(bool on) {
    if (frames_empty()) return;
    if (on) top_frame()->header |= FRAME_RETURN_TARGET;
    else top_frame()->header &= ~FRAME_RETURN_TARGET;
}

bool mark_caller_return_target() {
    if (frames.top - frames.base < 2) return false;
    Frame* f = frames.top - 2;
    if (f->is_return_target()) return false;
    f->header |= FRAME_RETURN_TARGET;
    return true;
}

bool is_interpreted(Frame* from, bool only_below) {
    Frame* f = (from ? from : frames.top) - 1;
    if (only_below) return f >= frames.base && f->is_interpreted();
    for (; f >= frames.base; f--)
        if (f->is_interpreted()) return true;
    return false;
}

// --- Closing ----------------------------------------------------------------------------------

void restore_context(Frame* f) {
    if (f->kind() == KIND_FUNCTION && f->function)
        context::self_cell(f->function)->data2 = (uint32_t)(uintptr_t)f->values;
}

void unwind() {
    if (frames_empty()) {
        arguments.top = arguments.window = arguments.base;
        return;
    }
    Frame* f = --frames.top;
    restore_context(f);
    arguments.top = arguments.window;
    arguments.window = f->window;
    if (frames_empty() && arguments.window == arguments.base) arguments.top = arguments.base;
}

void unwind_last_func() {
    restore_context(top_frame());
    unwind_last();
}

void reset() {
    Frame* f = --frames.top;
    arguments.top = arguments.window = f->window;
}

void reset_func() {
    restore_context(top_frame());
    reset();
}

void unwind_set_last_func() {
    restore_context(top_frame());
    unwind_set_last();
}

// The window that was current inside frame f (its callee's window).
static cell* inner_window(Frame* f) { return f + 1 < frames.top ? (f + 1)->window : arguments.window; }

// Pops the frames above f, restoring function contexts.
static void pop_above(Frame* f) {
    while (frames.top > f + 1) restore_context(--frames.top);
}

Frame* unwind_to(uint32_t kind, bool keep) {
    Frame* found = nullptr;
    for (Frame* f = frames.top - 1; f >= frames.base; f--) {
        if (f->kind() == kind || f->kind() == KIND_TRY) {
            found = f;
            break;
        }
    }
    if (!found) {
        while (frames.top > frames.base) restore_context(--frames.top);
        arguments.window = arguments.top = arguments.base;
        return nullptr;
    }
    cell* inner = inner_window(found);
    pop_above(found);
    if (keep) {
        arguments.window = inner;
        arguments.top = inner + 1;
    } else {
        arguments.window = found->window;
    }
    return found;
}

void unwind_last_to(uint32_t kind) {
    cell* result = arguments.window;
    Frame* found = unwind_to(kind, false);
    if (!found) return;
    cell* inner = inner_window(found);
    cell::copy(result, inner);
    arguments.window = inner;
    arguments.top = inner;
}

void restore(const Saved& s) {
    while (frames.top > s.ctop) restore_context(--frames.top);
    frames.top = s.ctop;
    arguments.window = s.window;
    arguments.top = s.top;
}

// --- Non-local exits ----------------------------------------------------------------------------

namespace {

[[noreturn]] void raise_throw_error(const char* id, const cell* arg = nullptr) {
    error::raise(error::THROW, id, arg);
}

// Walks down for the first frame that `stop` accepts; a try frame in the way
// raises the error `id` (with the cursors put back). Pops the frames above
// the found one and makes its inner window current with top at its start.
template <class Stop>
Frame* unwind_for(Stop stop, const char* id, bool pop_own, const cell* arg = nullptr) {
    Saved saved = save();
    cell* value_window = arguments.window;
    if (pop_own && !frames_empty()) {
        Frame* own = --frames.top;
        arguments.window = own->window;
    }
    Frame* found = nullptr;
    for (Frame* f = frames.top - 1; f >= frames.base; f--) {
        if (f->kind() == KIND_TRY) break;
        if (stop(f)) {
            found = f;
            break;
        }
    }
    if (!found) {
        // The error reports the cursors as they were.
        frames.top = saved.ctop;
        arguments.window = saved.window;
        arguments.top = saved.top;
        raise_throw_error(id, arg);
    }
    (void)value_window;
    cell* inner = inner_window(found);
    pop_above(found);
    arguments.window = inner;
    arguments.top = inner;
    return found;
}

}  // namespace

void throw_break(bool has_value, bool continue_) {
    cell value = has_value ? *arguments.window : cell{TYPE_UNSET, 0, 0, 0};
    unwind_for([](Frame* f) { return f->kind() == KIND_LOOP; }, continue_ ? "continue" : "break", true);
    cell::copy(&value, arguments.window);
    sys::runtime.last_throw = continue_ ? sys::THROW_CONTINUE : sys::THROW_BREAK;
}

void throw_exit(bool has_value, int32_t mode) {
    cell value = has_value ? *arguments.window : cell{TYPE_UNSET, 0, 0, 0};
    unwind_for([](Frame* f) { return f->is_return_target(); }, "return", mode != 1);
    cell::copy(&value, arguments.window);
    sys::runtime.last_throw = has_value ? sys::THROW_RETURN : sys::THROW_EXIT;
}

void throw_throw(uint32_t code) {
    cell value = *arguments.window;
    cell name = arguments.top > arguments.window + 1 ? arguments.window[1] : cell{TYPE_NONE, 0, 0, 0};
    if (!throw_top) throw_top = frames.top;
    {
        // The value travels in a rooted copy while the error may be made.
        collector::Root r1(value), r2(name);
        unwind_for([](Frame* f) { return f->kind() == KIND_CATCH; }, "throw", true, &value);
    }
    push(&value);
    push(&name);
    sys::runtime.last_throw = code;
}

void adjust_post_try() {
    cell* last = get_top();
    if (last->type() == TYPE_ERROR) set_last(last);
    arguments.top = arguments.window + 1;
}

// --- Reports --------------------------------------------------------------------------------

static bool is_named(const Frame* f) {
    int32_t s = f->symbol();
    return s != 0 && s != sym_body && s != sym_anon;
}

// The frame's word bound to its context, into `out`.
static cell* frame_word(const Frame* f, cell* out) {
    word::make_cell(out, TYPE_WORD, f->context, f->symbol(), -1);
    if (f->context) {
        int32_t index = context::find_word(f->context, f->symbol(), true);
        if (index >= 0) out->data3 = (uint32_t)index;
        else out->data1 = 0;
    }
    return out;
}

cell* get_call() {
    Frame* top = throw_top ? throw_top : frames.top;
    throw_top = nullptr;
    for (Frame* f = top - 1; f >= frames.base; f--) {
        if (!is_named(f)) continue;
        cell w;
        return push(frame_word(f, &w));
    }
    return push(words::word_not_found);
}

static bool is_function_word(const cell* w) {
    if (!w->data1 || (int32_t)w->data3 < 0) return false;
    Node* ctx = word::context_of(w);
    if (!context::has_values(ctx)) return false;
    return context::value_cell_at(ctx, (int32_t)w->data3)->type() == TYPE_FUNCTION;
}

void collect_calls(int32_t level, Node* blk, Frame* top) {
    if (!top) top = frames.top;
    for (Frame* f = frames.base; f < top; f++) {
        if (!is_named(f)) continue;
        cell w;
        frame_word(f, &w);
        if (level < 2 && !is_function_word(&w)) continue;
        block::append_cell_copy(blk, &w);
    }
}

int32_t form_calls(cell* error, int32_t level, cell* out, int32_t budget) {
    cell* st = error::field(error, error::F_STACK);
    // Only frames still on the stack are read: those above were popped and
    // what they named may have been collected.
    Frame* top = frames.top;
    if (st->type() == TYPE_INTEGER) {
        Frame* recorded = reinterpret_cast<Frame*>((uintptr_t)st->data2);
        if (recorded >= frames.base && recorded < top) top = recorded;
    }
    for (Frame* f = frames.base; f < top && budget > 0; f++) {
        if (!is_named(f)) continue;
        cell w;
        frame_word(f, &w);
        if (level < 2 && !is_function_word(&w)) continue;
        budget = word::form(&w, out, series::ABSENT, budget);
        string::concatenate_cstr(out, " ");
        budget--;
    }
    return budget;
}

void trace(Node* blk) {
    for (Frame* f = frames.top - 1; f >= frames.base; f--) {
        if (!is_named(f)) continue;
        cell w;
        block::append_cell_copy(blk, frame_word(f, &w));
        cell n;
        series::make_integer(&n, (int32_t)(f->window - arguments.base));
        block::append_cell_copy(blk, &n);
    }
}

void record_error_frame(cell* error) {
    if (error::field(error, error::F_STACK)->type() == TYPE_BLOCK) return;
    Frame* top = throw_top ? throw_top : frames.top;
    if (error::stack_trace > 0) {
        // The frames are gone by the time a catcher forms the report: the
        // words are taken now.
        cell* blk = block::push_new(8);
        collect_calls(error::stack_trace, series::node_of(blk), top);
        cell::copy(blk, error::field(error, error::F_STACK));
        pop(1);
        return;
    }
    series::make_integer(error::field(error, error::F_STACK), (int32_t)(uintptr_t)top);
}

void mark_frames_gc() {
    for (Frame* f = frames.base; f < frames.top; f++) {
        if (f->context) collector::mark_object(&f->context);
        if (f->kind() == KIND_FUNCTION && f->function) {
            collector::mark_object(&f->function);
            // Values saved from a context that keeps them in a block (not on
            // the argument stack) are that block's cells: marked with it.
        }
    }
}

}  // namespace stack
