#include "datatypes/unset.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace unset {

using namespace datatype;

cell unset_cell;

cell* make_at(cell* c) {
    cell::set_header(c, TYPE_UNSET);
    return c;
}

cell* push_last() { return make_at(stack::args()); }
cell* push() { return make_at(stack::push_cell()); }

cell* make(cell* target, cell* spec, int32_t type) { return push(); }

int32_t form(cell* value, cell* out, cell* part, int32_t limit) { return limit; }

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (all) {
        string::concatenate_bytes(out, "#(unset)", 8);
        return limit - 8;
    }
    string::concatenate_bytes(out, "unset", 5);
    return limit - 5;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_UNSET) return NOT_COMPARABLE;
    switch (op) {
    case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL: case OP_SORT: case OP_CASE_SORT:
    case OP_SAME: case OP_FIND:
        return 0;
    default:
        return NOT_COMPARABLE;
    }
}

void register_type() {
    make_at(&unset_cell);
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, NO, on<A_TO>(make), on<A_FORM>(form), on<A_MOLD>(mold), NO, NO,
        on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_UNSET, 0, "unset!", list);
}

}  // namespace unset
