// email!: see email.h.
#include "datatypes/email.h"

#include <strings.h>

#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"

namespace email {

using namespace datatype;

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return string::form(value, out, part, limit);
}

cell* push(const cell* text) { return cell::set_type(stack::push(text), TYPE_EMAIL); }

enum Field { USER, HOST, OTHER };

static Field field_of(const cell* element) {
    if (element->type() != TYPE_WORD) return OTHER;
    const char* name = symbol::to_cstr(word::symbol_of(element));
    if (!strcasecmp(name, "user")) return USER;
    if (!strcasecmp(name, "host")) return HOST;
    return OTHER;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    if (element->type() == TYPE_INTEGER)
        return string::eval_path(parent, element, value, path, holder, element_cell, index, case_,
                                 get, last, owner);
    Field field = field_of(element);
    if (field == OTHER) error::raise_script(error::Script::invalid_path, path, element);
    int32_t length = string::length_of(parent);
    int32_t at = string::find_char(parent, '@');
    // The user part runs to the "@" (all of the text without one); the host
    // part follows it (nothing without one).
    int32_t from = field == USER ? 0 : at < 0 ? length : at + 1;
    int32_t to = field == USER ? (at < 0 ? length : at) : length;
    cell* r = stack::push(parent);
    r->data1 += (uint32_t)from;
    if (get || !value) {
        // The part count on the stack, where a given refinement argument lives.
        cell* count = series::make_integer(stack::push_cell(), to - from);
        series::copy(r, r, count, false, series::ABSENT);
        stack::pop(1);
        cell::set_type(r, TYPE_STRING);
        return r;
    }
    string::change(r, value, to - from, false, -1);
    return value;
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, NO, INHERIT, INHERIT, INHERIT, on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO,
        INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                  // math
        NO, NO, NO, NO,                                                              // bitwise
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,                         // sort .. trim
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                             // I/O
    };
    // clang-format on
    define(TYPE_EMAIL, TYPE_STRING, "email!", list);
}

}  // namespace email
