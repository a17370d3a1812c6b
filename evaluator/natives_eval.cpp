// Natives that evaluate code given as data: do, reduce, compose and apply.
//
// A pending break, continue, return, exit or throw raised inside the code
// has already unwound the stacks to its catcher: these natives return at
// once and leave it travelling. Blocks they walk are held on the argument
// stack (node and index) and read again after every evaluation.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/ownership.h"
#include "runtime/sys.h"
#include "runtime/words.h"

namespace natives {

namespace {

inline bool is_callable(uint8_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// Evaluates `value` as an expression made of that value alone; the result
// goes into the window's first cell, or is pushed.
void eval_alone(const cell* value, bool push) {
    cell* code = block::push_new(1);
    block::append_cell_copy(node_of(code), value);
    interpreter::eval_expression(code, 0, true, push, false);
}

// Where reduce and compose put their values: `out` (a stable cell) at the
// place of the next value. At the tail values are appended (a hash! enters
// each in its index); elsewhere they go in through the insert action and
// `out` moves past them.
struct Sink {
    cell* out;
    bool append;

    void add(const cell* value) {
        if (append) {
            memory::Node* n = node_of(out);
            int32_t at = block::total_cells(n);
            block::append_cell_copy(n, value);
            if (out->type() == TYPE_HASH) hash::entered(out, at, at + 1);
            return;
        }
        cell* target = stack::push(out);
        cell* v = stack::push(value);
        actions::get_action_ptr_of<datatype::A_INSERT>(target)(target, v, -1, true, -1);
        out->data1 = target->data1;
        stack::pop(2);
    }
};

// A new block! with room for n cells, pushed.
cell* new_block(int32_t n) { return block::push_new(n < 1 ? 1 : n); }

// The block /into writes to may be the one being read: the source is then
// read from a copy (pushed), so what goes in is never read again.
cell* source_apart(cell* source, const cell* out) {
    if (series::is_any_block(out->type()) && node_of(out) == node_of(source))
        return block::clone(source, false, false);
    return source;
}

// The error! value raised again as it is (its where and near filled in
// when empty).
[[noreturn]] void raise_value(const cell* e) {
    cell* held = stack::push(e);
    if (error::raise_hook) error::raise_hook(held, false);
    error::thrown = *held;
    sys::throw_code(sys::THROW_ERROR);
    __builtin_unreachable();
}

// Tracing that do/trace started; ended on every way out.
struct TraceScope {
    bool active = false;
    cell code{TYPE_UNSET, 0, 0, 0};

    void start(const cell* callback, const cell* value) {
        interpreter::Trace& t = interpreter::tracing;
        t.tracer = *callback;
        t.mask = interpreter::trace_mask(callback);
        t.enabled = t.saved = true;
        t.extra = 0;
        code = *value;
        active = true;
        // Library code may start a trace (the tools do): its ends are reported all the same.
        interpreter::fire_event(interpreter::EV_INIT, &code, -1, nullptr, nullptr);
    }
    // A normal or signalled end: the tracer sees the end event, with the
    // pending code put aside while it runs.
    void end() {
        if (!active) return;
        uint32_t pending = sys::runtime.last_throw;
        sys::clear_throw();
        if (interpreter::tracing.enabled) interpreter::fire_event(interpreter::EV_END, &code, -1, nullptr, nullptr);
        sys::runtime.last_throw = pending;
        drop();
    }
    void drop() {
        if (!active) return;
        active = false;
        interpreter::tracing.enabled = interpreter::tracing.saved = false;
        unset::make_at(&interpreter::tracing.tracer);
    }
    ~TraceScope() { drop(); }
};

}  // namespace

cell* library_function(const char* name) {
    cell* w = word::load(name);
    if (!w->data1 || (int32_t)w->data3 < 0) return nullptr;
    cell* v = word::get_value(w);
    return v->type() == TYPE_FUNCTION ? v : nullptr;
}

// The `expand` method of the library's preprocessor object, or null.
static cell* preprocessor_expand() {
    cell* w = word::load("preprocessor");
    if (!w->data1 || (int32_t)w->data3 < 0) return nullptr;
    cell* obj = word::get_value(w);
    if (obj->type() != TYPE_OBJECT) return nullptr;
    cell* m = object::select_word(obj, word::load("expand"));
    return m->type() == TYPE_FUNCTION ? m : nullptr;
}

// do: blocks and parens evaluated (one expression with /next), strings
// loaded first, files and URLs through do-file, errors raised, any other
// value evaluated as an expression of its own.
void do_(const int32_t* refs) {
    cell* value = stack::arg(0);
    TraceScope trace;
    collector::Root trace_root(trace.code);
    // One tracer at a time: under a tracer (even a paused one) do/trace only evaluates.
    if (given(refs, 3) && !interpreter::tracing.saved) trace.start(stack::arg((uint32_t)refs[3]), value);
    uint8_t t = value->type();
    if (t == TYPE_STRING) {
        cell* src = stack::push(value);
        cell* loaded = stack::push_cell();
        lexer::Options o;
        lexer::load(src, -1, o, loaded);
        *value = *loaded;
        t = value->type();
    }
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        cell* code = stack::push(value);
        clamp_head(code);
        if (given(refs, 0)) {
            // The preprocessor rewrites the block in place: no job, no /clean.
            if (cell* expand = preprocessor_expand()) {
                cell args[3];
                args[0] = *code;
                none::make_at(&args[1]);
                args[2] = cell{TYPE_LOGIC, 0, 0, 0};
                collector::Root r0(args[0]);
                cell* r = interpreter::call_function(expand, args, 3);
                if (sys::is_pending()) {
                    trace.end();
                    return;
                }
                if (series::is_any_block(r->type())) *code = *r;
            }
        }
        if (given(refs, 2)) {
            cell* position = stack::push(stack::arg((uint32_t)refs[2]));
            int32_t pos = head_of(code);
            cell* top = stack::arguments.top;
            int32_t next = interpreter::eval_next(code, pos, true);
            if (sys::is_pending()) {
                trace.end();
                return;
            }
            cell* at = stack::push(code);
            at->data1 = (uint32_t)next;
            word::set_in(position, at);
            stack::set_last(top);
        } else {
            interpreter::eval_block(code, true);
        }
    } else if (t == TYPE_FILE || t == TYPE_URL) {
        cell* do_file = library_function("do-file");
        if (!do_file) error::raise(error::SCRIPT, "no-value", word::load("do-file"));
        cell args[3];
        args[0] = *value;
        none::make_at(&args[1]);
        if (given(refs, 1)) args[2] = *stack::arg((uint32_t)refs[1]);
        else none::make_at(&args[2]);
        collector::Root r0(args[0]), r2(args[2]);
        cell* r = interpreter::call_function(do_file, args, 3);
        stack::set_last(r);
    } else if (t == TYPE_ERROR) {
        raise_value(value);
    } else {
        cell v = *value;
        eval_alone(&v, false);
    }
    trace.end();
    if (!sys::is_pending()) stack::keep_first();
}

// reduce: the value of each expression of a block, into a new block or
// into `out`; any other value evaluated alone (callables are left as they are).
void reduce(const int32_t* refs) {
    bool into = given(refs, 0);
    cell* value = stack::arg(0);
    if (value->type() != TYPE_BLOCK) {
        if (is_callable(value->type())) return;
        cell v = *value;
        if (!into) {
            eval_alone(&v, false);
            return;
        }
        cell* out = stack::push(stack::arg((uint32_t)refs[0]));
        cell* start = stack::push(out);
        eval_alone(&v, true);
        if (sys::is_pending()) return;
        cell* r = stack::arguments.top - 1;
        Sink sink{out, series::is_at_tail(out)};
        sink.add(r);
        stack::set_last(sink.append ? start : out);
        return;
    }
    cell* code = stack::push(value);
    clamp_head(code);
    cell* out;
    if (into) out = stack::push(stack::arg((uint32_t)refs[0]));
    else out = new_block(total_of(code) - head_of(code));
    code = source_apart(code, out);
    int32_t pos = head_of(code);
    cell* start = stack::push(out);
    Sink sink{out, series::is_at_tail(out)};
    int32_t first = block::total_cells(node_of(out));
    while (pos < total_of(code)) {
        cell* top = stack::arguments.top;
        pos = interpreter::eval_next(code, pos, true);
        if (sys::is_pending()) return;
        cell::clear_new_line(top);
        sink.add(top);
        stack::arguments.top = top;
    }
    if (into && sink.append) {
        int32_t count = block::total_cells(node_of(out)) - first;
        if (count > 0) ownership::check(out, ownership::APPEND, first, count);
    }
    stack::set_last(sink.append ? start : out);
}

namespace {

// Adds the composed cells of `src` (a stable block cell) to the sink;
// false when a code is pending.
bool compose_into(cell* src, Sink& sink, bool deep, bool only) {
    for (int32_t i = head_of(src); i < total_of(src); i++) {
        cell c = cell_at(src, i);
        if (c.type() == TYPE_BLOCK && deep) {
            cell* inner = stack::push(&c);
            clamp_head(inner);
            cell* made = new_block(total_of(inner) - head_of(inner));
            made->header = (made->header & ~CELL_NEW_LINE) | (c.header & CELL_NEW_LINE);
            Sink nested{made, true};
            if (!compose_into(inner, nested, deep, only)) return false;
            sink.add(made);
            stack::pop(2);
        } else if (c.type() == TYPE_PAREN) {
            if (block::length_of(&c) <= 0) continue;
            cell* top = stack::arguments.top;
            interpreter::eval_block(&c, false);
            if (sys::is_pending()) return false;
            cell* r = top;
            if (r->type() == TYPE_BLOCK && !only) {
                for (int32_t k = head_of(r); k < total_of(r); k++) {
                    cell e = cell_at(r, k);
                    sink.add(&e);
                }
            } else if (r->type() != TYPE_UNSET) {
                sink.add(r);
            }
            stack::arguments.top = top;
        } else {
            sink.add(&c);
        }
    }
    return true;
}

}  // namespace

void compose(const int32_t* refs) {
    bool deep = given(refs, 0), only = given(refs, 1), into = given(refs, 2);
    cell* value = stack::arg(0);
    if (value->type() != TYPE_BLOCK) {
        cell* want = datatype::push(TYPE_BLOCK);
        cell* got = datatype::push(value->type());
        error::raise(error::SCRIPT, "expect-val", want, got);
    }
    cell* src = stack::push(value);
    clamp_head(src);
    cell* out;
    if (into) out = stack::push(stack::arg((uint32_t)refs[2]));
    else out = new_block(total_of(src) - head_of(src));
    src = source_apart(src, out);
    cell* start = stack::push(out);
    Sink sink{out, series::is_at_tail(out)};
    if (!compose_into(src, sink, deep, only)) return;
    stack::set_last(start);
}

// apply: calls a function with the arguments of a block (refinements named
// in it, or one entry per slot of its spec with /all; /safer skips the
// arguments of unused refinements unevaluated).
void apply(const int32_t* refs) {
    bool all = given(refs, 0), safer = given(refs, 1);
    cell* f = stack::push(stack::arg(0));
    cell* code = stack::push(stack::arg(1));
    clamp_head(code);
    cell* fn = stack::push_cell();
    cell* name = stack::push(words::word_applied);
    cell* path = nullptr;
    int32_t path_index = 0;
    uint8_t t = f->type();
    if (word::is_any_word_type(t) && t != TYPE_REFINEMENT && t != TYPE_ISSUE) {
        *fn = *word::get_value(f);
        *name = *f;
    } else if (t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_GET_PATH || t == TYPE_SET_PATH) {
        int32_t h = head_of(f);
        cell first = h < total_of(f) ? cell_at(f, h) : cell{TYPE_NONE, 0, 0, 0};
        if (first.type() != TYPE_WORD) error::raise_script(error::Script::invalid_arg, f);
        *fn = *word::get_value(&first);
        *name = first;
        path = f;
        path_index = h + 1;
    } else {
        *fn = *f;
    }
    if (!is_callable(fn->type())) error::raise_script(error::Script::invalid_arg, f);
    if (fn->type() == TYPE_OP) fn->header = native::op_source(fn);
    name->header = (name->header & ~CELL_TYPE_MASK & ~CELL_NEW_LINE) | TYPE_WORD;
    int32_t mode = all ? interpreter::APPLY_LISTED : interpreter::APPLY_NAMED;
    if (safer) mode |= interpreter::APPLY_LAZY;
    interpreter::eval_function(fn, code, head_of(code), false, path, path_index, name, nullptr, false, mode);
}

}  // namespace natives
