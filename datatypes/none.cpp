#include "datatypes/none.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace none {

using namespace datatype;

cell none_cell;

cell* make_at(cell* c) {
    cell::set_header(c, TYPE_NONE);
    return c;
}

cell* push_last() { return make_at(stack::args()); }
cell* push() { return make_at(stack::push_cell()); }

cell* make(cell* target, cell* spec, int32_t type) { return push(); }

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    string::concatenate_bytes(out, "none", 4);
    return limit - 4;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (all) {
        string::concatenate_bytes(out, "#(none)", 7);
        return limit - 7;
    }
    return form(value, out, part, limit);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_NONE) return NOT_COMPARABLE;
    switch (op) {
    case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL: case OP_SORT: case OP_CASE_SORT:
    case OP_SAME: case OP_FIND:
        return 0;
    default:
        return NOT_COMPARABLE;
    }
}

cell* clear(cell* series) { return push_last(); }
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    return push_last();
}
int32_t length_of(cell* series) { return -1; }
cell* remove(cell* series, cell* part, cell* key) { return push_last(); }
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    return push_last();
}
cell* take(cell* series, cell* part, bool deep, bool last) { return push_last(); }

void register_type() {
    make_at(&none_cell);
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, NO, on<A_TO>(make), on<A_FORM>(form), on<A_MOLD>(mold), NO, NO,
        on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,          // math
        NO, NO, NO, NO, on<A_CLEAR>(clear), NO, on<A_FIND>(find),            // append .. find
        NO, NO, NO, NO, on<A_LENGTH_OF>(length_of), NO, NO, NO, NO, NO,      // head .. put
        on<A_REMOVE>(remove), NO, on<A_SELECT>(select), NO, NO, NO, NO, NO,  // remove .. tail?
        on<A_TAKE>(take), NO,                                                // take, trim
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(TYPE_NONE, 0, "none!", list);
}

}  // namespace none
