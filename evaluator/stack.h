// The argument stack: the cells every call takes its arguments from.
//
// One array of cells with four cursors: base (first cell), end (one past the
// last usable cell), top (one past the last pushed cell) and the window start,
// the first cell of the current call's arguments. That first cell is also the
// call's result slot: a callee leaves its result there, and argument i is
// window + i. base <= top <= end always holds.
//
// This is the part of the evaluator's stack that actions need; the call-frame
// stack and the operations that open and close frames join it with the
// interpreter.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace stack {

struct Arguments {
    cell* base;    // first cell
    cell* end;     // one past the last usable cell
    cell* top;     // one past the last pushed cell
    cell* window;  // first cell of the current call's arguments (the result slot)
};
extern Arguments arguments;

// Cells of the argument stack's series.
constexpr uint32_t ARGUMENT_CELLS = 20000;

// Sets the cursors over `count` cells at `cells`; the window starts at the base.
void init(cell* cells, uint32_t count);

// Reserves one cell at the top and returns it for the caller to fill. A full
// stack raises the internal stack-overflow error.
cell* push_cell();
// Copies a value onto the top and returns the new cell.
cell* push(const cell* value);
// Drops n cells from the top, never below the base.
void pop(uint32_t n);

// The result slot (the window's first cell) and argument i.
inline cell* args() { return arguments.window; }
inline cell* arg(uint32_t i) { return arguments.window + i; }

// Copies a value into the result slot; top unchanged.
cell* set_last(const cell* value);
// Empties the window (top := window start) and returns its first cell.
cell* clear_args();
// Keeps only the result slot (top := window start + 1) and returns it.
cell* keep_first();
// The last pushed cell, or the window's first cell when nothing was pushed
// above it.
cell* get_top();

// Whether a refinement's argument cell was given: an absent one arrives as -1
// or as a pointer at or below the window start.
inline bool is_given(const cell* refinement) {
    return refinement != (const cell*)(intptr_t)-1 && refinement > arguments.window;
}

// Raises the internal stack-overflow error.
[[noreturn]] void overflow();

}  // namespace stack
