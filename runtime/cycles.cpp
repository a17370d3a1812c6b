#include "runtime/cycles.h"

#include <cstring>

#include "datatypes/error_out.h"
#include "datatypes/string.h"
#include "runtime/tracked.h"

namespace cycles {

Stack stack = {nullptr, nullptr, nullptr};

void init() {
    if (stack.base) return;
    stack.base = (void**)sys::allocate(CAPACITY * sizeof(void*));
    stack.top = stack.base;
    stack.end = stack.base + CAPACITY;
}

void* identity(const cell* value) {
    if (value->type() == TYPE_OBJECT) return (void*)(uintptr_t)value->data1;
    return (void*)(uintptr_t)value->data2;
}

void push(void* node) {
    *stack.top++ = node;
    if (stack.top >= stack.end) {
        reset();
        error::raise_internal(error::Internal::too_deep);
    }
}

void pop() {
    if (stack.top > stack.base) stack.top--;
}

void pop_n(uint32_t n) {
    uint32_t held = depth();
    stack.top -= n < held ? n : held;
}

void reset() { stack.top = stack.base; }

bool find(const void* node) {
    for (void** p = stack.base; p < stack.top; p++)
        if (*p == node) return true;
    return false;
}

static const char* marker(uint8_t type) {
    switch (type) {
        case TYPE_PAREN: return "(...)";
        case TYPE_MAP: return "#[...]";
        case TYPE_OBJECT: return "make object! [...]";
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: return "...";
        default: return "[...]";
    }
}

bool detect(const cell* value, cell* out, int32_t* budget, bool mold) {
    if (!find(identity(value))) return false;
    const char* m = mold ? marker(value->type()) : "...";
    string::concatenate_cstr(out, m);
    *budget -= (int32_t)strlen(m);
    return true;
}

int32_t indent(cell* out, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level; i++) string::concatenate_cstr(out, "    ");
    return budget - 4 * (level < 0 ? 0 : level);
}

}  // namespace cycles
