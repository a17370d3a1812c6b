// The evaluation stacks: the argument stack every call takes its arguments
// from, and the call-frame stack that records every call, guard and loop.
//
// Argument stack: one fixed array of cells with four cursors: base (first
// cell), end (one past the last usable cell), top (one past the last pushed
// cell) and the window start, the first cell of the current call's
// arguments. That first cell is also the call's result slot: a callee leaves
// its result there, and argument i is window + i. base <= top < end always
// holds (a push that would make top reach end is refused), so at most
// ARGUMENT_CELLS - 1 cells are in use.
//
// Call-frame stack: a fixed array of five-word records (`Frame`) taken from
// the root block's frame series. The collector never reads them as cells
// (the series' tail stays at its head); `mark_frames_gc` marks what they
// refer to. Both arrays never move, so pointers into them stay valid.
//
// Non-local exits: `break`, `continue`, `return`/`exit` and `throw` unwind
// the frame stack here (throw_break, throw_exit, throw_throw), leave the
// window and the result slot as the catching frame expects them, set the
// pending code in the runtime record (sys::is_pending) and return; every C++
// level above returns without touching the stacks until the catcher clears
// the code. Errors are C++ exceptions (error::raise); a catcher restores the
// cursors it saved with `restore`, which pops frames restoring the function
// contexts as it goes.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace stack {

using memory::Node;

struct Arguments {
    cell* base;    // first cell
    cell* end;     // one past the last usable cell
    cell* top;     // one past the last pushed cell
    cell* window;  // first cell of the current call's arguments (the result slot)
};
extern Arguments arguments;

// Cells of the argument stack's series.
constexpr uint32_t ARGUMENT_CELLS = 20000;
// Frames of the call-frame stack (its series holds 15,000 cells).
constexpr uint32_t FRAME_CAPACITY = 12000;

// Sets the cursors over `count` cells at `cells`; the window starts at the base.
void init(cell* cells, uint32_t count);
// Sets the frame stack over its series and reads the internal frame words.
void init_frames(void* frames, uint32_t bytes);

// Raises the internal stack-overflow error (top moved back five cells).
[[noreturn]] void overflow();

// Reserves one cell at the top and returns it (unset!, for the caller to
// fill). A full stack raises the internal stack-overflow error.
inline cell* push_cell() {
    if (arguments.top + 1 >= arguments.end) overflow();
    // unset! until the caller fills it: the caller may allocate first, and
    // the collector marks every cell up to the top.
    arguments.top->header = TYPE_UNSET;
    return arguments.top++;
}
// Copies a value onto the top and returns the new cell.
inline cell* push(const cell* value) { return cell::copy(value, push_cell()); }
// Drops n cells from the top, never below the base.
inline void pop(uint32_t n) {
    uint32_t held = (uint32_t)(arguments.top - arguments.base);
    arguments.top -= n < held ? n : held;
}

// Drops what a scope pushed (values pushed only to root them) when the scope
// ends, also through an error. A top already below the mark stays: a pending
// exit has unwound the stacks past the scope, and levels above its catcher
// leave them alone.
struct TopMark {
    cell* top = arguments.top;
    TopMark() = default;
    TopMark(const TopMark&) = delete;
    TopMark& operator=(const TopMark&) = delete;
    ~TopMark() {
        if (arguments.top > top) arguments.top = top;
    }
};

// The result slot (the window's first cell) and argument i.
inline cell* args() { return arguments.window; }
inline cell* arg(uint32_t i) { return arguments.window + i; }

// Copies a value into the result slot; top unchanged.
inline cell* set_last(const cell* value) { return cell::copy(value, arguments.window); }
// The same, and the window keeps only that cell.
inline cell* set_last_only(const cell* value) {
    arguments.top = arguments.window + 1;
    return cell::copy(value, arguments.window);
}
// Empties the window (top := window start) and returns its first cell.
inline cell* clear_args() {
    arguments.top = arguments.window;
    return arguments.window;
}
// Keeps only the result slot (top := window start + 1) and returns it.
inline cell* keep_first() {
    arguments.top = arguments.window + 1;
    return arguments.window;
}
// The last pushed cell, or the window's first cell when nothing was pushed
// above it.
inline cell* get_top() {
    return arguments.top > arguments.window ? arguments.top - 1 : arguments.window;
}
inline uint8_t top_type() { return get_top()->type(); }

// Whether a refinement's argument cell was given: an absent one arrives as
// null or as -1 (series::ABSENT). Any real cell is given, wherever it lies
// (argument stack, a root, the machine stack).
inline bool is_given(const cell* refinement) {
    return refinement != nullptr && refinement != (const cell*)(intptr_t)-1;
}

// --- Call frames ------------------------------------------------------------------

// Frame kinds (header bits 24-27) and flags.
enum FrameKind : uint32_t {
    KIND_FUNCTION = 1,     // call of a function value
    KIND_NATIVE = 2,       // call of a native, action or op
    KIND_ERROR_CATCH = 4,  // a raised error stops here
    KIND_TRY = 5,          // stops errors; a crossing break/return/throw is an error
    KIND_CATCH = 6,        // stops `throw`
    KIND_BLOCK = 7,        // evaluation of a block
    KIND_LOOP = 8,         // stops break and continue
};
constexpr uint32_t FRAME_RETURN_TARGET = 1u << 28;
constexpr uint32_t FRAME_INTERPRETED = 1u << 31;
constexpr uint32_t FRAME_KIND_SHIFT = 24;

struct Frame {
    uint32_t header;  // symbol << 8 | kind << 24 | flags
    cell* window;     // window start when the frame was pushed (restored on pop)
    Node* context;    // context node of the naming word
    Node* function;   // kind 1: the function's context; else 0
    cell* values;     // kind 1: that context's values pointer when pushed

    uint32_t kind() const { return (header >> FRAME_KIND_SHIFT) & 0xF; }
    int32_t symbol() const { return (int32_t)((header >> 8) & 0xFFFF); }
    bool is_return_target() const { return (header & FRAME_RETURN_TARGET) != 0; }
    bool is_interpreted() const { return (header & FRAME_INTERPRETED) != 0; }
};
static_assert(sizeof(Frame) == 20, "a call frame is five 32-bit words");

struct Frames {
    Frame* base;
    Frame* top;  // one past the last frame
    Frame* end;
};
extern Frames frames;

// Symbols of the internal frame words (<body>, <anon>).
extern int32_t sym_body;
extern int32_t sym_anon;

inline Frame* get_ctop() { return frames.top; }
// Restores a saved frame top (pops without restoring contexts: see restore).
inline void set_ctop(Frame* top) { frames.top = top; }
inline bool frames_empty() { return frames.top == frames.base; }
inline Frame* top_frame() { return frames.top - 1; }

// Pushes a frame named by the word (symbol and context) of the given kind
// byte (kind | flags >> 24) and opens the callee's window at the top.
[[noreturn]] void frame_overflow();
inline Frame* mark(const cell* name, uint32_t kind_byte) {
    if (frames.top >= frames.end) frame_overflow();
    Frame* f = frames.top++;
    f->header = ((name->data2 & 0xFFFF) << 8) | (kind_byte << FRAME_KIND_SHIFT);
    f->window = arguments.window;
    f->context = reinterpret_cast<Node*>((uintptr_t)name->data1);
    f->function = nullptr;
    f->values = nullptr;
    arguments.window = arguments.top;
    return f;
}
// Frames named by a bare symbol (internal words, bound to nothing).
Frame* mark_symbol(int32_t symbol, uint32_t kind_byte);

// A call of a function value: the context's values pointer is saved and
// restored when the frame is popped (recursive calls of one function).
Frame* mark_func_value(const cell* name, Node* function_context, bool interpreted);
inline Frame* mark_native(const cell* name) { return mark(name, KIND_NATIVE); }
inline Frame* mark_interp_native(const cell* name) { return mark(name, 0x80 | KIND_NATIVE); }
inline Frame* mark_func(const cell* name) { return mark(name, KIND_ERROR_CATCH); }
inline Frame* mark_try(const cell* name) { return mark(name, KIND_TRY); }
inline Frame* mark_catch(const cell* name) { return mark(name, KIND_CATCH); }
inline Frame* mark_block(const cell* name) { return mark(name, 0x80 | KIND_BLOCK); }
inline Frame* mark_loop(const cell* name) { return mark(name, KIND_LOOP); }

// Frame flags.
void set_interrupt_flag(bool on);
bool mark_caller_return_target();
inline void clear_return_target(Frame* f) { f->header &= ~FRAME_RETURN_TARGET; }
inline void set_interpreted_flag() { top_frame()->header |= FRAME_INTERPRETED; }
bool is_interpreted(Frame* from, bool only_below);

// Puts a kind 1 frame's function context back to its saved values.
void restore_context(Frame* f);

// Closing frames (each pops the top frame).
// Window emptied: top := callee window start.
void unwind();
// The callee's result stays as the last pushed cell (top := its window + 1).
inline void unwind_last() {
    Frame* f = --frames.top;
    arguments.top = arguments.window + 1;
    arguments.window = f->window;
}
void unwind_last_func();
// Result dropped: top := window := the frame's saved window.
void reset();
void reset_func();
// The callee's result is copied into the caller's result slot; top :=
// callee window + 1.
inline void unwind_set_last() {
    Frame* f = --frames.top;
    cell* result = arguments.window;
    arguments.top = result + 1;
    arguments.window = f->window;
    cell::copy(result, arguments.window);
}
void unwind_set_last_func();

// Pops frames (restoring contexts) until the popped frame is of the kind,
// or a try frame, or the stack is empty; the found frame stays. With keep
// the window becomes the found frame's inner window and top its start + 1;
// else the window current when it was pushed. Returns the found frame, null
// when none.
Frame* unwind_to(uint32_t kind, bool keep);
void unwind_last_to(uint32_t kind);

// --- Saving and restoring around a protected call --------------------------------------

struct Saved {
    cell* window;
    cell* top;
    Frame* ctop;
};
inline Saved save() { return {arguments.window, arguments.top, frames.top}; }
// Pops frames down to the saved top, restoring function contexts, and puts
// the argument cursors back.
void restore(const Saved& s);

// --- Non-local exits (pending codes) -------------------------------------------------

// break (continue? false) or continue, with the value in the window's first
// cell when has_value. Raises throw/break or throw/continue when no loop
// frame is reachable.
void throw_break(bool has_value, bool continue_);
// return (has_value) or exit. mode 1: the caller's own frame is not popped.
void throw_exit(bool has_value, int32_t mode);
// throw: the value and its name are the window's first two cells.
void throw_throw(uint32_t code);
// After a caught error: the error becomes the result; top := window + 1.
void adjust_post_try();

// --- Reports ------------------------------------------------------------------------------

// The word (pushed) of the innermost named frame from the recorded throw
// frame top or the current top; `<not-found>` when none. Clears the record.
cell* get_call();
// Into the block (node), bottom up to the top, the word of each named
// frame; below trace level 2 only words whose value is a function!.
void collect_calls(int32_t trace_level, Node* block, Frame* top);
// The same formed into the string, each followed by a blank; returns the
// budget left.
int32_t form_calls(cell* error, int32_t trace_level, cell* out, int32_t budget);
// From the top down: each named frame's word and its window position.
void trace(Node* block);
// Stores the frame top in the error's stack field unless it holds a block.
void record_error_frame(cell* error);
// The frame top recorded by throw_throw (null when none).
extern Frame* throw_top;

// The collector's marker for frames (registered at init).
void mark_frames_gc();

}  // namespace stack
