#include "evaluator/actions.h"

#include "runtime/sys.h"

namespace actions {

using namespace datatype;

int32_t compare_typed(cell* value1, cell* value2, int32_t op) {
    // Two logic! values are settled without the table.
    if (value1->type() == TYPE_LOGIC && value2->type() == TYPE_LOGIC)
        return (int32_t)value1->data1 - (int32_t)value2->data1;
    return get_action_ptr_of<A_COMPARE>(value1)(value1, value2, op);
}

bool compare(cell* value1, cell* value2, int32_t op) {
    int32_t r = get_action_ptr_of<A_COMPARE>(value1)(value1, value2, op);
    if (r == NOT_COMPARABLE && op >= OP_LESSER && op <= OP_GREATER_OR_EQUAL)
        error::raise_script(error::Script::invalid_compare, value1, value2);
    switch (op) {
    case OP_EQUAL: case OP_STRICT_EQUAL: case OP_SAME: case OP_STRICT_WORD: case OP_WORD:
    case OP_FIND:
        return r == 0;
    case OP_NOT_EQUAL: return r != 0;
    case OP_LESSER: return r < 0;
    case OP_LESSER_OR_EQUAL: return r < 1;
    case OP_GREATER: return r >= 1;
    case OP_GREATER_OR_EQUAL: return r >= 0;
    default: sys::no_switch();
    }
}

int32_t form_typed(cell* value, cell* out, cell* part, int32_t limit) {
    return get_action_ptr_of<A_FORM>(value)(value, out, part, limit);
}

int32_t mold_typed(cell* value, cell* out, bool only, bool all, bool flat, cell* part,
                   int32_t limit, int32_t indent) {
    return get_action_ptr_of<A_MOLD>(value)(value, out, only, all, flat, part, limit, indent);
}

}  // namespace actions
