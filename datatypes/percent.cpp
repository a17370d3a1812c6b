#include "datatypes/percent.h"

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/scalar.h"
#include "evaluator/stack.h"

namespace percent {

using namespace datatype;

cell* make_in(cell* c, double x) {
    c->header = TYPE_PERCENT;
    c->data1 = 0;
    cell::set_float(c, x);
    return c;
}

cell* make_from(cell* c, uint32_t low, uint32_t high) {
    c->header = TYPE_PERCENT;
    c->data1 = 0;
    c->data2 = low;
    c->data3 = high;
    return c;
}

cell* push(double x) { return make_in(stack::push_cell(), x); }

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return scalar::append(out, float_::form_float(float_::get(value) * 100.0, float_::FORM_PERCENT),
                          limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, INHERIT, NO, INHERIT, on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_PERCENT, TYPE_FLOAT, "percent!", list);
}

}  // namespace percent
