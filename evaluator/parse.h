// The parse engine: matches a series against a block of rules of the parse
// dialect, as one iterative state machine.
//
// Data model
// - Two process-wide blocks hang from the root block and are shared by every
//   call: the input stack (the outer input, then one cell per `into` level)
//   and the rule stack of rule entries. A block value's head index is the
//   stack's head: a call works on the cells from the head to the tail.
// - A rule entry is three cells pushed and popped together (user code sees
//   them: the trace callback receives the rule stack):
//     sub-rule:  none!  | triple {rule position, input index, input units left} | block! to go back to
//     command:   word or triple {min, max, count} | triple as above (position of the
//                command's argument) | pair! {command code, pick flag}
//   The top entry's third cell says what the machine is inside. The root
//   entry (the rules block itself) is a sub-rule entry.
// - A nested call (a paren or a trace callback calling `parse`) records both
//   heads as a triple! on the rule stack and moves the heads to the tails;
//   the heads come back when it ends, an error or a travelling `break`,
//   `return`, `throw`... included.
//
// Invariants
// - Positions are indexes (rule cells from the rule block's head, input
//   units from the buffer's head), re-read through the nodes after every
//   evaluation: parens may change the input, the rules and the stacks.
// - Everything the machine must keep alive across an allocation lives on the
//   argument stack (its working cells, collect targets) or on the two stacks.
// - Deep rules end in `parse-stack`, never in native recursion: the machine
//   has no recursion of its own.
//
// Decisions
// - `fail` fails like any element that does not match: the machine tries
//   the next alternative (`[fail | "a"]` matches "a"), rather than letting
//   the element after it decide.
// - `to` and `thru` with a rule also try the rule at the end of the input,
//   so `to [end]` and `thru ["," | end]` match.
// - A repetition with a minimum of 0 always succeeds (on empty input too);
//   `while` ends an iteration that consumed, changed and evaluated nothing,
//   since it would repeat forever.
// - The /part end is clamped to the input; an empty window is still parsed.
// - After `break` or `reject`, the first command applied takes the break: a
//   repetition stops, any other command applies as usual.
// - `collect after` inserts from the target's tail; `to`/`thru` also search
//   for a bitset in strings and binaries.
// - A datatype rule on binary input loads one value from the bytes at the
//   position; bytes that do not load do not match.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace parser {

// Command codes (cell 3 of a command entry).
enum Command : int32_t {
    CMD_REPEAT = -1, CMD_TO = -2, CMD_THRU = -3, CMD_COPY = -4, CMD_SET = -5, CMD_NOT = -6,
    CMD_INTO = -7, CMD_REMOVE = -9, CMD_WHILE = -11, CMD_COLLECT = -12, CMD_KEEP = -13,
    CMD_KEEP_PAREN = -14, CMD_AHEAD = -16, CMD_CHANGE = -17, CMD_CHANGE_ONLY = -18, CMD_CASE = -19,
};

// Cells either stack may hold before `parse-stack` is raised.
constexpr int32_t STACK_LIMIT_CELLS = 10001;

// Makes the two stacks in the root block (start-up, after the words).
void init();

// The root cells holding the stacks (block values whose head index is the
// head of the running call).
extern cell* input_stack;
extern cell* rule_stack;

// Parses `input` (a block type, a string type or binary!) with `rules`.
// mode 0: case-insensitive, 2: case-sensitive. limit: the /part end index
// in the input's units, or -1. callback: the trace function or null. The
// result (logic!, or the block a top-level `collect` made) goes into
// `result`. Answers false when a break/continue/return/exit/throw came out of
// a paren: it has already unwound the evaluation stacks and the caller must
// return at once.
bool process(cell* input, cell* rules, int32_t mode, int32_t limit, cell* callback, cell* result);

}  // namespace parser
