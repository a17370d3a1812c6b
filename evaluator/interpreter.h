// The interpreter: evaluates blocks expression by expression on the
// argument stack and the call-frame stack.
//
// Code positions: a block being evaluated is kept as a block cell on the
// argument stack (stable, and a root) plus an index; the cell pointer into
// its series is derived again after every sub-evaluation, since user code may
// grow, shrink or move the block.
//
// Results: with push-mode an expression's result is pushed as a new cell;
// without, it goes into the window's first cell, which becomes the window's
// only cell.
//
// Non-local exits: after every sub-evaluation the loops check
// sys::is_pending() and return at once when a break/continue/return/exit/
// throw is travelling (stack.h). Errors are C++ exceptions.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace interpreter {

using memory::Node;

// The block being evaluated by eval_block, its index at the expression about
// to run (errors read it for `near`). Unset! outside any evaluation.
extern cell current_code;

// Starts the interpreter (start-up step 26): frame stack, seams.
void init();

// Evaluates a block from its index to its tail in a block frame. With
// into_caller the result is copied into the caller's result slot and the top
// is left as it was; else the result is pushed. An empty block gives unset!.
void eval_block(const cell* block, bool into_caller);

// Evaluates the leading expressions of a block from its index that only
// read values, apply the built-in operators to plain numbers or set words
// of plain contexts to such values: nothing a frame, an event, an error or
// the collector could see. The last value goes into `out`, which must be the
// top cell of the argument stack. Answers the index of the first expression
// left to the walk (the head when it did none, as for an empty block), or
// -1 when it did them all. Only where no event can fire.
int32_t eval_plain_prefix(const cell* block, cell* out);

// One expression of `code` (a stable block cell) at index `pos`; the index
// after it.
int32_t eval_expression(cell* code, int32_t pos, bool no_infix, bool push_mode, bool passive);

// One expression at the block's index inside a <body> frame: the next index
// (at the tail: result unset!, index unchanged). Result pushed.
int32_t eval_next(cell* code, int32_t pos, bool push_mode);

// Apply modes of eval_function (bits): the code is an argument block holding
// one entry per slot of the function's spec block (refinements as logic!
// values), or the fixed arguments followed by refinements written by name,
// each followed by the expression telling whether it is used; LAZY skips the arguments of an
// unused refinement without evaluating them. Missing values are none!.
enum ApplyMode : int32_t { APPLY_LISTED = 1, APPLY_NAMED = 2, APPLY_LAZY = 4 };

// Calls the callable (a stable cell) whose arguments follow at `pos` in
// `code` (or, with a path, whose refinements are the path's elements from
// path_index on); answers the index after its arguments. `name` names the
// frame (null: the word before pos, else <anon>); `parent` the object a path
// selected the function from (null: none).
int32_t eval_function(cell* callable, cell* code, int32_t pos, bool push_mode, cell* path,
                      int32_t path_index, const cell* name, const cell* parent, bool infix,
                      int32_t apply_mode = 0);

// Evaluates a path!/get-path!/set-path! (a stable cell) met at `pos` of
// `code`; with set, the value to assign is the last pushed cell.
int32_t eval_path(cell* path, cell* code, int32_t pos, bool set, bool get, bool push_mode, bool case_);

// Runs a function! whose arguments are already in the current window (a
// frame for it is open): points its context at the window and evaluates its
// body, taking return/exit.
void call_callback(const cell* function, const cell* name);

// One evaluation of a loop body inside a loop frame, for the loop natives:
// the body's result (or break's value, or unset! after continue) goes into
// the window's first cell and the top is left as it was. NEXT: go on; BREAK:
// leave the loop; EXIT: another code is pending, return at once.
enum LoopStep { LOOP_NEXT, LOOP_BREAK, LOOP_EXIT };
LoopStep loop_body(const cell* body);

// --- C++ entry points -----------------------------------------------------------------

// Evaluates a block; its result is pushed and returned. A code still
// pending when it returns is raised as a C++ throw (sys::raise_pending).
cell* do_block(const cell* block);

// Calls a callable value with `count` argument cells (copied); its result is
// pushed and returned. Refinements are not given.
cell* call_function(const cell* callable, const cell* args, int32_t count);

// Runs `body` with an error-catch frame: an error raised inside comes back
// as the error! value (pushed and returned); null when none was raised. The
// cursors are put back as they were (plus the pushed error).
template <class F>
cell* catch_error(F&& body);

// --- Tracing -----------------------------------------------------------------------------

enum Event : uint32_t {
    EV_INIT = 1, EV_END = 2, EV_PROLOG = 4, EV_EPILOG = 8, EV_ENTER = 16, EV_EXIT = 32,
    EV_OPEN = 64, EV_RETURN = 128, EV_FETCH = 256, EV_PUSH = 512, EV_SET = 1024, EV_CALL = 2048,
    EV_ERROR = 4096, EV_THROW = 8192, EV_CATCH = 16384, EV_EXPR = 32768,
};
struct Trace {
    bool enabled;      // tracing on
    bool saved;        // the state when tracing was started (functions with `trace`)
    cell tracer;       // the tracer function! (unset!: none)
    uint32_t mask;     // events reported
    int32_t extra;     // the tracer's extra slots
};
extern Trace tracing;

// True while library code runs (a block flagged as library code, or the body
// of a function made from one, block.h): it fires no trace events and leaves
// `current_code` alone, so tracers, `near` and the tools built on them see
// only the user's code. User code that library code evaluates (a block handed
// to it, a user function it calls) is traced again.
extern bool in_library;

// The event mask of a tracer function (0x1FFFF when its body does not start
// with a block of event words).
uint32_t trace_mask(const cell* tracer);
// Reports an event to the tracer when tracing is on and the mask admits it.
// A break, continue, return or throw of the tracer leaves in exception form.
void fire_event(uint32_t event, const cell* code, int32_t position, const cell* value, const cell* ref);
inline void fire(uint32_t event, const cell* code, int32_t position, const cell* value, const cell* ref) {
    if (tracing.enabled && !in_library) fire_event(event, code, position, value, ref);
}

}  // namespace interpreter

#include "datatypes/error.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"

template <class F>
cell* interpreter::catch_error(F&& body) {
    stack::Saved saved = stack::save();
    cell name{TYPE_WORD, 0, (uint32_t)stack::sym_anon, 0};
    stack::mark_func(&name);
    uint32_t code = sys::catch_level(sys::THROW_ERROR, [&] { body(); });
    if (code == sys::THROW_ERROR) {
        sys::clear_throw();
        cell e = error::thrown;
        stack::restore(saved);
        return stack::push(&e);
    }
    if (code != 0) sys::rethrow(code);
    // A pending exit has already unwound past the guard: leave the stacks.
    if (sys::is_pending()) return nullptr;
    // Finished normally: drop the guard frame, keep what the body pushed.
    cell* top = stack::arguments.top;
    stack::restore(saved);
    stack::arguments.top = top;
    return nullptr;
}
