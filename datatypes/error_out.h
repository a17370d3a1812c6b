// The language errors that the registry, the action lookup and the scalar
// types raise, in one place. The error catalog (and the words its categories
// and ids are named by) does not exist yet: until it does, raising records the
// script error's id and throws the error code, so that catchers and tests see
// an error travel; the error module replaces the body with error/raise.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace error {

enum class Script : uint8_t {
    none = 0,
    no_value,         // arg1: the argument
    no_return,        // "block did not return a value"
    expect_arg,       // arg1: call word, arg2: datatype, arg3: parameter word
    invalid_compare,  // arg1, arg2: the two values
    invalid_arg,         // arg1: the argument
    out_of_range,        // arg1: the index or size
    invalid_refine_arg,  // arg1: refinement word, arg2: its argument
    bad_make_arg,        // arg1: datatype, arg2: spec
    bad_to_arg,          // arg1: datatype, arg2: value
    invalid_path,        // arg1: path, arg2: element
    bad_path_set,        // arg1: path, arg2: element
    bad_refines,         // refinements that do not go together
    move_bad,            // arg1, arg2: the two datatypes
    need_value,          // arg1: the word being set to unset!
    not_defined,         // arg1: word of a context without values
    not_in_context,      // arg1: word of a context without values
    invalid_chars,       // text that does not load as the value asked for
    type_limit,          // arg1: datatype ("overflow/underflow")
    invalid_data,        // arg1: the value
    invalid_type,        // arg1: datatype
    not_related,         // arg1: action word, arg2: datatype
    cannot_use,          // arg1: call word, arg2: datatype
    bad_field_set,       // arg1: handler word, arg2: datatype
    invalid_obj_evt,     // arg1: the handler field's value or the owner
    invalid_spec_field,  // arg1: the word type or id
    invalid_type_spec,   // arg1: a type element of a function spec
    past_end,            // a range without its end, or ending below its start
    missing_arg,         // a required argument or refinement not given
    not_same_type,       // "values must be of the same type"
    wrong_denom,         // arg1, arg2: the two money! values
    invalid_months,      // system/locale/months unusable
    unset_path,          // arg1: path, arg2: element
    invalid_key_type,    // arg1: datatype
};

// Internal-category errors that datatypes raise (no arguments).
enum class Internal : uint8_t {
    none = 0,
    not_done,  // a feature that is not provided
    too_deep,  // a walk nested deeper than the cycle stack holds
    no_cycle,  // a deep copy of a value that contains itself
};
extern Internal last_internal;
[[noreturn]] void raise_internal(Internal id);

// Math-category errors (no arguments).
enum class Math : uint8_t {
    none = 0,
    zero_divide,
    overflow,
};
extern Math last_math;
[[noreturn]] void raise_math(Math id);

// Id of the last script error raised (none when none was).
extern Script last_script;

[[noreturn]] void raise_script(Script id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
                               const cell* arg3 = nullptr);
// Script out-of-range with the integer as its argument.
[[noreturn]] void raise_out_of_range(int32_t n);
// Script invalid-refine-arg naming the refinement by its word (`part`,
// `skip`, `compare`) and the argument given it.
[[noreturn]] void raise_refine_arg(const char* refinement, const cell* value);

}  // namespace error
