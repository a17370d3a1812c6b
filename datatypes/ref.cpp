// ref!: see ref.h.
#include "datatypes/ref.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace ref {

using namespace datatype;

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (limit < 1) return limit;
    string::concatenate_cstr(out, "@");
    limit--;
    return limit - (int32_t)string::concatenate(out, value, limit < 0 ? 0 : limit, 0, string::APPEND);
}

cell* push(const cell* text) { return cell::set_type(stack::push(text), TYPE_REF); }

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, NO, INHERIT, INHERIT, INHERIT, on<A_MOLD>(mold), NO, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                  // math
        NO, NO, NO, NO,                                                              // bitwise
        NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO, INHERIT, INHERIT, INHERIT,
        NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,                         // sort .. trim
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                             // I/O
    };
    // clang-format on
    define(TYPE_REF, TYPE_STRING, "ref!", list);
}

}  // namespace ref
