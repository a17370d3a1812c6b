// Output natives: print and prin (plain: the value formed, a block reduced
// first and its values joined by blanks).
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/console.h"
#include "runtime/hooks.h"
#include "runtime/sys.h"
#include "runtime/unicode.h"

namespace natives {

namespace {

// The text of the window's first argument into a new string (pushed);
// false when an exit is pending.
cell* form_argument() {
    cell* v = stack::arg(0);
    cell* out;
    if (v->type() == TYPE_BLOCK) {
        cell* code = stack::push(v);
        cell* first = stack::arguments.top;
        int32_t pos = (int32_t)code->data1;
        while (pos < block::total_cells(series::node_of(code))) {
            pos = interpreter::eval_expression(code, pos, false, true, false);
            if (sys::is_pending()) return nullptr;
        }
        cell* last = stack::arguments.top;
        out = string::push_new(64);
        for (cell* c = first; c < last; c++) {
            if (c != first) string::concatenate_cstr(out, " ");
            actions::form_typed(c, out, series::ABSENT, datatype::NO_LIMIT);
        }
    } else {
        out = string::push_new(64);
        actions::form_typed(v, out, series::ABSENT, datatype::NO_LIMIT);
    }
    return out;
}

void output(bool newline) {
    cell* out = form_argument();
    if (!out) return;
    hooks::fire_2(out, newline ? 1 : 0);
    // The text's own units: the writer encodes them for a console or a file
    // (handing it UTF-8 bytes as 1-byte units would encode them twice).
    // Read after the listeners ran: they may have moved the buffer.
    memory::Buffer* b = series::buffer_of(out);
    uint32_t unit = b->unit();
    uint32_t skip = (uint32_t)out->data1 * unit;
    uint32_t bytes = b->used_bytes() > skip ? b->used_bytes() - skip : 0;
    console::write(b->head + skip, bytes, unit, false);
    if (newline) console::write("\n", 1, 1, false);
    unset::make_at(stack::args());
    stack::keep_first();
}

}  // namespace

void print(const int32_t*) { output(true); }

void prin(const int32_t*) { output(false); }

}  // namespace natives
