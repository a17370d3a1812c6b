// tag!: see tag.h.
#include "datatypes/tag.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace tag {

using namespace datatype;

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    if (limit < 1) return limit;
    string::concatenate_cstr(out, "<");
    limit--;
    limit -= (int32_t)string::concatenate(out, value, limit < 0 ? 0 : limit, 0, string::APPEND);
    if (limit < 1) return limit;
    string::concatenate_cstr(out, ">");
    return limit - 1;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

cell* push(const cell* text) { return cell::set_type(stack::push(text), TYPE_TAG); }

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, NO, INHERIT, INHERIT, on<A_FORM>(form), on<A_MOLD>(mold), INHERIT, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                  // math
        NO, NO, NO, NO,                                                              // bitwise
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,                         // sort .. trim
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                             // I/O
    };
    // clang-format on
    define(TYPE_TAG, TYPE_STRING, "tag!", list);
}

}  // namespace tag
