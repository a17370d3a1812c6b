#include "evaluator/stack.h"

#include "datatypes/error.h"
#include "runtime/cycles.h"

#include "runtime/sys.h"

namespace stack {

Arguments arguments = {nullptr, nullptr, nullptr, nullptr};

void init(cell* cells, uint32_t count) {
    arguments.base = arguments.top = arguments.window = cells;
    arguments.end = cells + count;
}

void overflow() {
    // Before the error catalog exists, running out of argument stack ends
    // the program as a stack overflow; after, it is internal stack-overflow
    // with the top moved back five cells (room for the catcher).
    if (!error::catalog_node) sys::quit(sys::RT_STACK_OVERFLOW, SYS_CALLER_ADDRESS());
    arguments.top = arguments.top - 5 > arguments.base ? arguments.top - 5 : arguments.base;
    cycles::reset();
    error::raise_prebuilt("stack-overflow");
}

cell* push_cell() {
    if (arguments.top >= arguments.end) overflow();
    // unset! until the caller fills it: the caller may allocate first, and
    // the collector marks every cell up to the top.
    arguments.top->header = TYPE_UNSET;
    return arguments.top++;
}

cell* push(const cell* value) { return cell::copy(value, push_cell()); }

void pop(uint32_t n) {
    uint32_t held = (uint32_t)(arguments.top - arguments.base);
    arguments.top -= n < held ? n : held;
}

cell* set_last(const cell* value) { return cell::copy(value, arguments.window); }

cell* clear_args() {
    arguments.top = arguments.window;
    return arguments.window;
}

cell* keep_first() {
    arguments.top = arguments.window + 1;
    return arguments.window;
}

cell* get_top() {
    return arguments.top > arguments.window ? arguments.top - 1 : arguments.window;
}

}  // namespace stack
