// The natives table: the built-in functions that native! values call.
//
// HOW TO WRITE A NATIVE
//
// Signature: `void name(const int32_t* refs)`. The interpreter has already
// fetched and type-checked the arguments (against the spec in
// library/natives.zol) into the current arguments window:
//   - argument i is `stack::arg(i)` (window start + i), in spec order;
//   - refs[k] is the k-th refinement of the spec (0-based, spec order): -1
//     when absent, else the window index of its first argument (a
//     refinement without arguments gets any non-negative value). So the
//     argument of /part is `stack::arg(refs[k])`;
//   - the result goes into the window's first cell: `stack::set_last(v)`, or
//     write `stack::arg(0)` directly. Cells above it may be used as scratch
//     (`stack::push`); the caller drops everything but the result slot.
//
// Evaluating user code safely:
//   - Never keep a `cell*` into a series buffer (a block, a context's
//     values) across anything that may allocate or evaluate: keep the series
//     value on the argument stack (`stack::push`) and an index, and re-read
//     `block::head_cell` / `context::value_cell_at` after. Cells of the
//     argument stack itself never move.
//   - `interpreter::eval_block(blk, true)` evaluates a block into the
//     window's first cell; `eval_block(blk, false)` pushes the result.
//   - After every evaluation check `sys::is_pending()`: a `break`,
//     `continue`, `return`, `exit` or `throw` inside the code has already
//     unwound the stacks to its catcher; return at once without touching the
//     stacks. Only the catcher of that code handles it: loops run each pass
//     of their body through `interpreter::loop_body` (which takes break and
//     continue and answers whether to go on); `catch` takes throw.
//   - Errors are C++ exceptions: code that protects an evaluation saves the
//     cursors (`stack::save`) and restores them (`stack::restore`) when it
//     catches (see natives_function.cpp `try`).
//
// Adding a native: its slot is fixed (the order below is the table's). Its
// stub stands in natives_pending.cpp; delete that line and define the
// function in the natives_<group>.cpp file of its group.
#pragma once
#include <cstddef>
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/cell.h"
#include "datatypes/series.h"

namespace natives {

using Fn = void (*)(const int32_t* refs);

// --- Helpers for natives' bodies ----------------------------------------------------

// Whether the k-th refinement was given.
inline bool given(const int32_t* refs, int k) { return refs[k] >= 0; }

// A block value's node, its cell count, its head index (a negative one counts
// as 0) and a copy of its cell i: the copy outlives the buffer moving.
inline memory::Node* node_of(const cell* c) { return series::node_of(c); }
inline int32_t total_of(const cell* blk) { return block::total_cells(node_of(blk)); }
inline int32_t head_of(const cell* blk) { return (int32_t)blk->data1 < 0 ? 0 : (int32_t)blk->data1; }
inline cell cell_at(const cell* blk, int32_t i) { return block::cells_of(node_of(blk))[i]; }

// A head index past the tail is brought back to the tail.
inline void clamp_head(cell* blk) {
    int32_t total = total_of(blk);
    if ((int32_t)blk->data1 > total) blk->data1 = (uint32_t)total;
}

constexpr uint32_t TABLE_CAPACITY = 120;
constexpr uint32_t NATIVE_COUNT = 107;

// Entry i (0-based slot) of the table; tracked block of 120 entries.
extern Fn* table;

// The 107 natives in slot order (slot = 0-based; `native!` index = slot + 1).
// X(function name, spelling)
#define ZOL_NATIVES(X)                                                                            \
    X(if_, "if") X(unless, "unless") X(either, "either") X(any, "any") X(all, "all")             \
    X(while_, "while") X(until, "until") X(loop, "loop") X(repeat, "repeat")                     \
    X(forever, "forever") X(foreach, "foreach") X(forall, "forall")                              \
    X(remove_each, "remove-each") X(func, "func") X(function_, "function") X(does, "does")        \
    X(has, "has") X(switch_, "switch") X(case_, "case") X(do_, "do") X(get, "get")              \
    X(set, "set") X(print, "print") X(prin, "prin") X(is_equal, "equal?")                        \
    X(is_not_equal, "not-equal?") X(is_strict_equal, "strict-equal?") X(is_lesser, "lesser?")    \
    X(is_greater, "greater?") X(is_lesser_or_equal, "lesser-or-equal?")                          \
    X(is_greater_or_equal, "greater-or-equal?") X(is_same, "same?") X(not_, "not")              \
    X(type_of, "type?") X(reduce, "reduce") X(compose, "compose") X(stats, "stats")              \
    X(bind, "bind") X(in, "in") X(parse, "parse") X(union_, "union")                             \
    X(intersect, "intersect") X(unique, "unique") X(difference, "difference")                    \
    X(exclude, "exclude") X(is_complement, "complement?") X(dehex, "dehex") X(enhex, "enhex")    \
    X(is_negative, "negative?") X(is_positive, "positive?") X(max, "max") X(min, "min")          \
    X(shift, "shift") X(to_hex, "to-hex") X(sine, "sine") X(cosine, "cosine")                    \
    X(tangent, "tangent") X(arcsine, "arcsine") X(arccosine, "arccosine")                        \
    X(arctangent, "arctangent") X(arctangent2, "arctangent2") X(is_NaN, "NaN?")                  \
    X(log_2, "log-2") X(log_10, "log-10") X(log_e, "log-e") X(exp, "exp")                        \
    X(square_root, "square-root") X(construct, "construct") X(is_value, "value?") X(try_, "try") \
    X(uppercase, "uppercase") X(lowercase, "lowercase") X(as_pair, "as-pair")                    \
    X(as_point2D, "as-point2D") X(as_point3D, "as-point3D") X(as_money, "as-money")              \
    X(break_, "break") X(continue_, "continue") X(exit, "exit") X(return_, "return")             \
    X(throw_, "throw") X(catch_, "catch") X(extend, "extend") X(debase, "debase")                \
    X(to_local_file, "to-local-file") X(wait, "wait") X(checksum, "checksum")                    \
    X(unset_, "unset") X(new_line, "new-line") X(is_new_line, "new-line?") X(enbase, "enbase")    \
    X(context_of, "context?") X(set_env, "set-env") X(get_env, "get-env")                        \
    X(list_env, "list-env") X(now, "now") X(sign_of, "sign?") X(as, "as") X(call, "call")        \
    X(is_zero, "zero?") X(size_of, "size?") X(browse, "browse") X(compress, "compress")          \
    X(decompress, "decompress") X(recycle, "recycle") X(transcode, "transcode") X(apply, "apply")

#define X(name, spelling) void name(const int32_t* refs);
ZOL_NATIVES(X)
#undef X

// Sets the first n words of a block (word!, set-word!, lit-word!, get-word!;
// another value raises invalid-arg) from a list's values at positions 1..n
// (none past its tail), or each to `values` itself when it is not a list
// or with `only`. Unless `any`, an unset! list value raises need-value;
// with `some`, none values (none! or the word `none`) leave their word alone. Both cells are copied
// first, so they may lie anywhere.
void set_words_from_values(cell* words, cell* values, int32_t n, bool any, bool only, bool some);

// A library function by name (null when the word has no function value).
cell* library_function(const char* name);

// Hands a string (from its head) to the print hooks and the console, as
// `print` (newline) and `prin` do, and sets `last_line_feed` to newline.
void print_text(cell* text, bool newline);
// Whether the last printed output ended with a new line (the routine
// `last-lf?` reads it).
extern bool last_line_feed;

// Allocates the table and fills the 107 slots (start-up step 17).
void init();

// Makes the native!, action!, op! and routine! values of the library from
// the text of its callable specs (natives.zol) and sets their global words
// (after the interpreter exists). Only the build tool does this: programs
// get these words from the boot image.
void define_words(const char* text, size_t size);

// The block that follows the top-level set-word `name` of the loaded specs
// (pushed), e.g. "actions", "natives", "ops", "routines".
cell* spec_section(cell* all, const char* name);

// Makes a routine! for each name and spec of the block (the routines'
// section, boot literal 1) and sets its global word. A name without code in
// the routines table ends the program (a build fault).
void register_routines(const cell* list);

}  // namespace natives
