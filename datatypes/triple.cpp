#include "datatypes/triple.h"

#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/scalar.h"

namespace triple {

using namespace datatype;

cell* make_at(cell* c, int32_t a, int32_t b, int32_t d) {
    c->header = TYPE_TRIPLE;
    c->data1 = (uint32_t)a;
    c->data2 = (uint32_t)b;
    c->data3 = (uint32_t)d;
    return c;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    char text[64] = "make triple! [";
    const uint32_t words[3] = {value->data1, value->data2, value->data3};
    for (int i = 0; i < 3; i++) {
        if (i) strcat(text, " ");
        strcat(text, integer::to_cstr((int32_t)words[i]));
    }
    strcat(text, "]");
    return scalar::append(out, text, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        NO, NO, NO, NO, on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_TRIPLE, 0, "triple!", list);
}

}  // namespace triple
