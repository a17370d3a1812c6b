// The ids the modules raise by enum, mapped onto the catalog: each raiser
// goes through error::raise with the category and the id's spelling. The
// last id of each kind is kept for the tests that check which error a
// call raised.
#include "datatypes/error_out.h"

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/sys.h"

namespace error {

Script last_script = Script::none;
Internal last_internal = Internal::none;
Math last_math = Math::none;

namespace {

template <class E>
struct Spelling {
    E id;
    const char* text;
};

constexpr Spelling<Script> script_ids[] = {
    {Script::no_value, "no-value"},
    {Script::no_return, "no-return"},
    {Script::expect_arg, "expect-arg"},
    {Script::invalid_compare, "invalid-compare"},
    {Script::invalid_arg, "invalid-arg"},
    {Script::out_of_range, "out-of-range"},
    {Script::invalid_refine_arg, "invalid-refine-arg"},
    {Script::bad_make_arg, "bad-make-arg"},
    {Script::bad_to_arg, "bad-to-arg"},
    {Script::invalid_path, "invalid-path"},
    {Script::bad_path_set, "bad-path-set"},
    {Script::bad_refines, "bad-refines"},
    {Script::move_bad, "move-bad"},
    {Script::need_value, "need-value"},
    {Script::not_defined, "not-defined"},
    {Script::not_in_context, "not-in-context"},
    {Script::invalid_chars, "invalid-chars"},
    {Script::type_limit, "type-limit"},
    {Script::invalid_data, "invalid-data"},
    {Script::invalid_type, "invalid-type"},
    {Script::not_related, "not-related"},
    {Script::cannot_use, "cannot-use"},
    {Script::bad_field_set, "bad-field-set"},
    {Script::invalid_obj_evt, "invalid-obj-evt"},
    {Script::invalid_spec_field, "invalid-spec-field"},
    {Script::invalid_type_spec, "invalid-type-spec"},
    {Script::past_end, "past-end"},
    {Script::missing_arg, "missing-arg"},
    {Script::not_same_type, "not-same-type"},
    {Script::wrong_denom, "wrong-denom"},
    {Script::invalid_months, "invalid-months"},
    {Script::unset_path, "unset-path"},
    {Script::invalid_key_type, "invalid-key-type"},
};
constexpr Spelling<Internal> internal_ids[] = {
    {Internal::not_done, "not-done"},
    {Internal::too_deep, "too-deep"},
    {Internal::no_cycle, "no-cycle"},
};
constexpr Spelling<Math> math_ids[] = {
    {Math::zero_divide, "zero-divide"},
    {Math::overflow, "overflow"},
};

// An id missing here raises internal invalid-error naming nothing useful:
// every enum value must have its row.
template <class E, size_t N>
const char* spelling_of(const Spelling<E> (&table)[N], E id) {
    for (const Spelling<E>& s : table)
        if (s.id == id) return s.text;
    return "";
}

}  // namespace

void raise_math(Math id) {
    last_math = id;
    raise(MATH, spelling_of(math_ids, id));
}

void raise_internal(Internal id) {
    last_internal = id;
    raise(INTERNAL, spelling_of(internal_ids, id));
}

void raise_script(Script id, const cell* arg1, const cell* arg2, const cell* arg3) {
    last_script = id;
    raise(SCRIPT, spelling_of(script_ids, id), arg1, arg2, arg3);
}

void raise_refine_arg(const char* refinement, const cell* value) {
    cell v = *value;
    collector::Root held(v);
    cell* w = word::push_new(symbol::make(refinement));
    raise_script(Script::invalid_refine_arg, w, &v);
}

void raise_out_of_range(int32_t n) {
    cell v;
    integer::make_at(&v, n);
    raise_script(Script::out_of_range, &v);
}

}  // namespace error
