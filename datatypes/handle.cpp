#include "datatypes/handle.h"

#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace handle {

using namespace datatype;

cell* make_at(cell* c, uint32_t pointer, int32_t sub_type) {
    c->header = TYPE_HANDLE;
    c->data1 = (uint32_t)sub_type;
    c->data2 = pointer;
    c->data3 = 0xFFFFFFFFu;
    return c;
}

cell* push(uint32_t pointer, int32_t sub_type) { return make_at(stack::push_cell(), pointer, sub_type); }
cell* box() { return push(0, NONE); }

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    char text[10];
    memcpy(text, string::hex_cstr((int32_t)value->data2, false), 8);
    text[8] = 'h';
    text[9] = 0;
    return scalar::append(out, text, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (!all) return scalar::append(out, "handle!", limit);
    static const char* const names[] = {"", "fd", "monitor", "window", "font", "rich-text"};
    limit = scalar::append(out, "#[handle! ", limit);
    limit = form(value, out, part, limit);
    uint32_t sub = value->data1;
    if (sub > 0 && sub < sizeof names / sizeof names[0]) {
        limit = scalar::append(out, " ", limit);
        limit = scalar::append(out, names[sub], limit);
    }
    return scalar::append(out, "]", limit);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_HANDLE) return 1;
    int32_t x = (int32_t)a->data2, y = (int32_t)b->data2;
    return (x > y) - (x < y);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        NO, NO, NO, NO, on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_HANDLE, TYPE_INTEGER, "handle!", list);
}

}  // namespace handle
