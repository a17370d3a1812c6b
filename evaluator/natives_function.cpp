// Natives that make functions and leave evaluations early: func,
// function, does, has, try, break, continue, exit, return, throw, catch.
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "runtime/words.h"

namespace natives {

namespace {

// The function made from the spec and body in the window, as the result.
void make_function(cell* spec, cell* body) {
    clamp_head(spec);
    clamp_head(body);
    uint32_t flags = function::check_spec(spec);
    cell* f = function::make_compiled(spec, body, nullptr, 0, 0, flags);
    stack::set_last(f);
}

}  // namespace

void func(const int32_t*) { make_function(stack::arg(0), stack::arg(1)); }

void function_(const int32_t* refs) {
    (void)refs;
    cell* spec = block::clone(stack::arg(0), false, false);
    function::collect_locals(spec, stack::arg(1));
    make_function(spec, stack::arg(1));
}

void does(const int32_t*) {
    cell* spec = block::push_new(1);
    make_function(spec, stack::arg(0));
}

void has(const int32_t*) {
    cell* spec = block::clone(stack::arg(0), false, false);
    block::insert_cells(spec, words::refinement_local, false, false);
    make_function(spec, stack::arg(1));
}

// try: errors raised in the block are its result (an error-catch frame; with
// /all a try frame, which also turns a crossing break/return/throw into an
// error); /keep keeps the stack trace in the error.
void try_(const int32_t* refs) {
    bool all = given(refs, 0);
    int32_t keep_level = error::stack_trace;
    if (given(refs, 1) && error::stack_trace < 1) error::stack_trace = 1;
    stack::Saved saved = stack::save();
    cell* blk = stack::arg(0);
    cell name = *words::word_try;
    if (all) stack::mark_try(&name);
    else stack::mark_func(&name);
    cell* inner = stack::arguments.window;
    uint32_t code = sys::catch_level(sys::THROW_ERROR, [&] { interpreter::eval_block(blk, true); });
    error::stack_trace = keep_level;
    if (code == sys::THROW_ERROR) {
        sys::clear_throw();
        cell e = error::thrown;
        stack::restore(saved);
        stack::set_last(&e);
        stack::keep_first();
        return;
    }
    if (code != 0) sys::rethrow(code);
    if (sys::is_pending()) return;
    cell result = *inner;
    stack::restore(saved);
    stack::set_last(&result);
    stack::keep_first();
}

void break_(const int32_t* refs) {
    bool with_value = given(refs, 0);
    if (with_value) stack::set_last(stack::arg((uint32_t)refs[0]));
    stack::throw_break(with_value, false);
}

void continue_(const int32_t*) { stack::throw_break(false, true); }

void exit(const int32_t*) { stack::throw_exit(false, 0); }

void return_(const int32_t*) { stack::throw_exit(true, 0); }

void throw_(const int32_t* refs) {
    if (given(refs, 0)) {
        cell name = *stack::arg((uint32_t)refs[0]);
        stack::arguments.top = stack::arguments.window + 1;
        stack::push(&name);
    } else {
        stack::arguments.top = stack::arguments.window + 1;
        none::push();
    }
    interpreter::fire(interpreter::EV_THROW, nullptr, -1, stack::arguments.window, nullptr);
    stack::throw_throw(sys::THROW_THROW);
}

// catch: a throw from the block is its result; with /name only a throw whose
// name matches (a word, or one of a block of words) stops here.
void catch_(const int32_t* refs) {
    cell* blk = stack::arg(0);
    cell name = *words::word_catch;
    stack::Frame* frame = stack::mark_catch(&name);
    cell* inner = stack::arguments.window;
    try {
        interpreter::eval_block(blk, true);
    } catch (const sys::Throw& t) {
        // A throw in exception form (through a C++ caller of the
        // interpreter, such as a sort comparator): the stacks were unwound
        // to this frame already.
        if (t.code != sys::THROW_THROW || stack::top_frame() != frame) throw;
        sys::runtime.last_throw = t.code;
    }
    if (!sys::is_pending()) {
        cell result = *inner;
        stack::reset();
        stack::set_last(&result);
        stack::keep_first();
        return;
    }
    if (sys::runtime.last_throw != sys::THROW_THROW || stack::top_frame() != frame) return;
    // The unwinder left the thrown value and its name in our frame's window.
    cell value = inner[0];
    cell thrown_name = inner[1];
    if (given(refs, 0)) {
        // The unwinding made the catch frame's window current: our own
        // arguments are in the window it was pushed from.
        cell* want = frame->window + refs[0];
        if (want->type() == TYPE_BLOCK) {
            for (int32_t i = 0; i < block::length_of(want); i++) {
                cell w = block::head_cell(want)[i];
                if (w.type() != TYPE_WORD) {
                    cell* blk = stack::push(want);
                    error::raise(error::SCRIPT, "invalid-refine-arg", words::word_catch, blk);
                }
            }
        }
        bool match = false;
        if (thrown_name.type() == TYPE_WORD) {
            int32_t s = symbol::resolve(word::symbol_of(&thrown_name));
            if (want->type() == TYPE_WORD) {
                match = symbol::resolve(word::symbol_of(want)) == s;
            } else if (want->type() == TYPE_BLOCK) {
                for (int32_t i = 0; i < block::length_of(want); i++) {
                    cell* w = block::head_cell(want) + i;
                    if (w->type() == TYPE_WORD && symbol::resolve(word::symbol_of(w)) == s) match = true;
                }
            }
        }
        if (!match) {
            // Passed on to an outer catch.
            sys::clear_throw();
            stack::reset();
            stack::arguments.top = stack::arguments.window;
            cell* h = stack::push(&value);
            stack::push(&thrown_name);
            stack::mark_catch(&name);
            stack::arguments.window = h;
            stack::throw_throw(sys::THROW_THROW);
            return;
        }
    }
    sys::clear_throw();
    interpreter::fire(interpreter::EV_CATCH, nullptr, -1, &value, nullptr);
    stack::reset();
    stack::set_last(&value);
    stack::keep_first();
}

}  // namespace natives

namespace function {

cell* collect_locals(cell* spec, cell* body) {
    // The set-words of the body (and the words of foreach/remove-each/repeat)
    // that the spec does not name become locals after /local.
    cell* locals = block::push_new(8);
    cell* ignore = block::clone(spec, false, false);
    memory::Node* ln = series::node_of(locals);
    int32_t sym_local = symbol::resolve(word::symbol_of(words::refinement_local));
    int32_t sym_extern = symbol::resolve(word::symbol_of(words::refinement_extern));
    int32_t local_word = symbol::resolve(word::symbol_of(words::word_local));
    // /extern: cut the spec there; its words only go to the ignore list.
    for (int32_t i = 0; i < block::length_of(spec); i++) {
        cell* c = block::head_cell(spec) + i;
        if (c->type() == TYPE_REFINEMENT && symbol::resolve(word::symbol_of(c)) == sym_extern) {
            int32_t j = i + 1;
            bool after_local = false;
            for (; j < block::length_of(spec); j++) {
                cell e = block::head_cell(spec)[j];
                if (e.type() == TYPE_REFINEMENT && symbol::resolve(word::symbol_of(&e)) == sym_local) {
                    after_local = true;
                    continue;
                }
                if (after_local && e.type() == TYPE_WORD) block::append_cell_copy(ln, &e);
            }
            block::truncate(series::node_of(spec), (int32_t)spec->data1 + i);
            break;
        }
    }
    auto known = [&](const cell* w) {
        int32_t s = symbol::resolve(word::symbol_of(w));
        for (int32_t pass = 0; pass < 2; pass++) {
            cell* list = pass ? locals : ignore;
            for (int32_t i = 0; i < block::length_of(list); i++) {
                cell* c = block::head_cell(list) + i;
                if (word::is_any_word_type(c->type()) && symbol::resolve(word::symbol_of(c)) == s) return true;
            }
        }
        return false;
    };
    auto add = [&](cell w) {
        if (known(&w)) return;
        w.header = TYPE_WORD;
        block::append_cell_copy(ln, &w);
    };
    int32_t sym_foreach = symbol::resolve(words::sym_foreach);
    int32_t sym_remove_each = symbol::resolve(words::sym_remove_each);
    int32_t sym_repeat = symbol::resolve(words::sym_repeat);
    // Walk the body, into blocks and parens.
    struct Walk {
        static void run(cell* blk, decltype(add)& add, int32_t fe, int32_t re, int32_t rp) {
            for (int32_t i = 0; i < block::length_of(blk); i++) {
                cell c = block::head_cell(blk)[i];
                if (c.type() == TYPE_SET_WORD) {
                    add(c);
                } else if (c.type() == TYPE_BLOCK || c.type() == TYPE_PAREN) {
                    cell* held = stack::push(&c);
                    run(held, add, fe, re, rp);
                    stack::pop(1);
                } else if (c.type() == TYPE_WORD && i + 1 < block::length_of(blk)) {
                    int32_t s = symbol::resolve(word::symbol_of(&c));
                    cell n = block::head_cell(blk)[i + 1];
                    if (s == fe || s == re) {
                        if (n.type() == TYPE_BLOCK) {
                            for (int32_t k = 0; k < block::length_of(&n); k++) {
                                cell e = block::head_cell(&n)[k];
                                if (e.type() == TYPE_WORD || e.type() == TYPE_GET_WORD || e.type() == TYPE_LIT_WORD)
                                    add(e);
                            }
                            i++;
                        } else if (n.type() == TYPE_WORD || n.type() == TYPE_SET_WORD) {
                            add(n);
                            i++;
                        }
                    } else if (s == rp && (n.type() == TYPE_WORD || n.type() == TYPE_SET_WORD)) {
                        add(n);
                        i++;
                    }
                }
            }
        }
    };
    cell* b = stack::push(body);
    Walk::run(b, add, sym_foreach, sym_remove_each, sym_repeat);
    stack::pop(1);
    // Add /local to the spec when missing, then drop a collected `local`:
    // /local names that word already (a body setting only `local` still
    // keeps it out of the global context).
    if (block::length_of(locals) > 0) {
        memory::Node* sn = series::node_of(spec);
        if (count_locals(sn, (int32_t)spec->data1, true) < 0) block::append_cell_copy(sn, words::refinement_local);
        for (int32_t i = block::length_of(locals) - 1; i >= 0; i--) {
            cell* c = block::head_cell(locals) + i;
            if (symbol::resolve(word::symbol_of(c)) == local_word) {
                for (int32_t k = i; k + 1 < block::length_of(locals); k++) c[k - i] = c[k - i + 1];
                block::drop_last(locals);
            }
        }
        for (int32_t i = 0; i < block::length_of(locals); i++) {
            cell w = block::head_cell(locals)[i];
            block::append_cell_copy(sn, &w);
        }
    }
    return locals;
}

}  // namespace function
