// error!: the value every language failure is reported as, the error
// catalog, and error/raise.
//
// An error is an object! cell (type 34, class id 1, no handler record) on a
// context of the ten template fields, in this order: code type id arg1 arg2
// arg3 near where stack files. code = category position x 100 + message
// position; type is the category word bound to the catalog object; id the
// message word bound to its category object.
//
// The catalog is Zol data (library/errors.zol, in the boot image): an
// object whose fields are the ten categories in order, each an object whose
// fields are code, type (the title) and then the message ids in order, each
// holding a template (string!, block! of strings and arg words, or a word
// naming a field). Message position = index in the category object - 2.
// Raisers address categories and ids by position (`category_word`,
// `id_word`) or by spelling (`raise`).
//
// Raising: `raise` makes the error with `create` (which pushes it on the
// argument stack), copies it into `thrown` and throws THROW_ERROR. The error
// stays the last pushed cell; catchers read it from `thrown`.
//
// Roots the collector must mark: `catalog_node`, the category nodes (through
// the catalog's values), `template_node`, the cell `thrown`.
#pragma once
#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace error {

using memory::Node;

enum Category : int32_t {
    THROW = 0, NOTE, SYNTAX, SCRIPT, MATH, ACCESS, RESERVED1, RESERVED2, USER, INTERNAL,
    CATEGORY_COUNT
};
enum Field : int32_t {
    F_CODE = 0, F_TYPE, F_ID, F_ARG1, F_ARG2, F_ARG3, F_NEAR, F_WHERE, F_STACK, F_FILES,
    FIELD_COUNT
};

// The catalog object's context (the categories) and the error template's
// context; 0 before `init`.
extern Node* catalog_node;
extern Node* template_node;
// The error raised last (unset! before any).
extern cell thrown;
// The errors raise_prebuilt throws.
constexpr int32_t PREBUILT_COUNT = 3;
extern cell prebuilt[PREBUILT_COUNT];

// Takes the catalog (an object of the categories, boot literal 0) and makes
// the template (start-up, after the boot image).
void init(const cell* catalog);
// The same from the catalog's Zol text (the build tool, which writes the
// catalog into the boot image).
void init_from_text(const char* text, size_t size);

// The context of a category's object.
Node* category_node(int32_t category);
// Category word (bound to the catalog) and id word at a word-table index of
// the category object (bound to it). Valid until the next allocation.
cell* category_word(int32_t category);
cell* id_word(int32_t category, int32_t index);
// Index of an id spelled so in the category object, or -1.
int32_t id_index(int32_t category, const char* spelling);
// code of a category and id spelling (-1 when unknown).
int32_t code_of(int32_t category, const char* spelling);

// Builds an error from a category word and an id word (either may be
// absent: null) and up to three arguments (null: none); pushes it and
// returns it.
cell* create(const cell* type_word, const cell* id_word, const cell* arg1, const cell* arg2,
             const cell* arg3);

// error/raise: items[0] the category word, items[1] the id word, then
// count - 2 argument cells (null: absent). Never returns.
[[noreturn]] void raise(int32_t count, const cell* const* items);
// The same by category position and id spelling.
[[noreturn]] void raise(int32_t category, const char* id, const cell* arg1 = nullptr,
                        const cell* arg2 = nullptr, const cell* arg3 = nullptr);
// Raises an internal error made at start-up (no-memory, wrong-mem,
// stack-overflow) without allocating: for raisers that run out of memory.
[[noreturn]] void raise_prebuilt(const char* id);
// script bad-make-arg with the two values.
[[noreturn]] void raise_2(const cell* value1, const cell* value2);

// The symbols of the type and id fields.
int32_t get_type(const cell* error);
int32_t get_id(const cell* error);
inline int32_t stack_field_index() { return F_STACK; }
// The field's value cell. Valid until the next allocation.
cell* field(const cell* error, int32_t f);

// --- Actions ----------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
int32_t reduce_message(cell* message, cell* out, cell* error, int32_t limit);

// Called with every error about to be raised (made by `raise`), before it
// is thrown: the evaluator fills `where`, `near` and `stack` from its
// stacks, fires the trace event and ends the program when nothing can catch
// it. Errors the raiser made at start-up (`raise_prebuilt`) are passed too.
using RaiseHook = void (*)(cell* error, bool prebuilt);
extern RaiseHook raise_hook;

// How many call levels a report shows (system/state/stack-trace); the
// evaluator sets it. 0: no Stack line.
extern int32_t stack_trace;

// Registers error! (type 34, parent object!); after object!.
void register_type();

}  // namespace error
