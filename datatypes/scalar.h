// Services the scalar datatypes share (time!, percent!, triple!, pair!, the
// points, tuple!, money!, date!, handle!): their errors, the write-back
// notification of a path write, and `to` of text through the lexer.
//
// A scalar lives in its cell: a path write (`d/month: 2`, `p/x: 3`) changes
// the parent cell in place, and that cell is the word's slot, an object's
// field or a block's cell. When the holder is an object whose field is being
// set, its `on-change*` runs; when it is a series, the ownership notifier.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/error_out.h"

namespace scalar {

// --- Errors -------------------------------------------------------------------------

// script error `id` with the datatype `type` as arg1 and `value` as arg2
// (bad-make-arg, bad-to-arg).
[[noreturn]] void raise_type_value(error::Script id, uint8_t type, const cell* value);
// script invalid-type naming the datatype of `value`.
[[noreturn]] void invalid_type(const cell* value);
// script type-limit naming `type`.
[[noreturn]] void type_limit(uint8_t type);
// script not-related: arg1 the action word (may be null), arg2 the datatype.
[[noreturn]] void not_related(const cell* action_word, uint8_t type);

// syntax malconstruct naming the spec.
[[noreturn]] void malconstruct(const cell* spec);

// The word of an action that the built-in word tables do not hold, for an
// error's arguments (interned on first use; the cell is a copy).
const cell* action_word(const char* spelling);

// --- Paths --------------------------------------------------------------------------

// The canonical symbol of a word element, or -1 for any other element.
int32_t field_symbol(const cell* element);
// The element as a field index: an integer! as it is, a word through
// `by_symbol` (which answers -1 for words that are no field); -1 otherwise.
int32_t field_index(const cell* element, int32_t (*by_symbol)(int32_t symbol));
// script invalid-path naming the path and the element.
[[noreturn]] void invalid_path(const cell* path, const cell* element);
// Notifies whoever holds `parent` after it was written through a path:
// `old` is its value before the write.
void after_write(cell* parent, const cell* old, cell* path, cell* holder, cell* element_cell,
                 bool owner);

// --- Loading text ---------------------------------------------------------------------

// `to <type>` of text: the text loaded by the lexer must be exactly one
// value of type `type`, else bad-to-arg (a syntax error in it raises as such).
cell* from_text(cell* target, cell* text, uint8_t type);
// Whether the type is one of the any-string types a scalar loads from.
bool is_text(uint8_t type);

// --- Text -----------------------------------------------------------------------------

// Appends NUL-terminated text to a string! and gives the limit less its length.
int32_t append(cell* out, const char* text, int32_t limit);

}  // namespace scalar
