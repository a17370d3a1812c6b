// Output natives: print and prin. A block is reduced first into the output
// block the runtime keeps for printing, then formed (values joined by
// blanks); any other value is formed as it is.
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

// The block that print reduces into, kept for the whole run in the root
// block. Each print appends its results after the ones of the prints still
// running (a print evaluated during a reduction), and removes them when done.
memory::Node* output_node = nullptr;
int32_t output_slot = -1;

memory::Node* output_block() {
    if (output_node && output_slot >= 0 && output_slot < block::total_cells(block::root)) {
        cell* held = block::cells_of(block::root) + output_slot;
        if (held->type() == TYPE_BLOCK && series::node_of(held) == output_node) return output_node;
    }
    output_slot = block::total_cells(block::root);
    cell* made = block::make_in(block::root, 16);
    output_node = series::node_of(made);
    return output_node;
}

// Empties the output block back to `start` (as the runtime found it).
struct OutputMark {
    memory::Node* node;
    int32_t start;
    ~OutputMark() { series::truncate_units(node, (uint32_t)start); }
};

// The text of the window's first argument into a new string (pushed);
// null when an exit is pending.
cell* form_argument() {
    cell* v = stack::arg(0);
    if (v->type() != TYPE_BLOCK) {
        cell* out = string::push_new(64);
        actions::form_typed(v, out, series::ABSENT, datatype::NO_LIMIT);
        return out;
    }
    memory::Node* node = output_block();
    OutputMark mark{node, block::total_cells(node)};
    cell* code = stack::push(v);
    int32_t pos = (int32_t)code->data1;
    while (pos < block::total_cells(series::node_of(code))) {
        pos = interpreter::eval_expression(code, pos, false, true, false);
        if (sys::is_pending()) return nullptr;
        block::append_cell_copy(node, stack::arguments.top - 1);
        stack::pop(1);
    }
    cell* results = stack::push_cell();
    series::make_at(results, TYPE_BLOCK, node, mark.start);
    cell* out = string::push_new(64);
    actions::form_typed(results, out, series::ABSENT, datatype::NO_LIMIT);
    return out;
}

}  // namespace

bool last_line_feed = false;

void print_text(cell* out, bool newline) {
    hooks::fire_2(out, newline ? 1 : 0);
    last_line_feed = newline;
    // The text's own units: the writer encodes them for a console or a file
    // (handing it UTF-8 bytes as 1-byte units would encode them twice).
    // Read after the listeners ran: they may have moved the buffer.
    memory::Buffer* b = series::buffer_of(out);
    uint32_t unit = b->unit();
    uint32_t skip = (uint32_t)out->data1 * unit;
    uint32_t bytes = b->used_bytes() > skip ? b->used_bytes() - skip : 0;
    console::write(b->head + skip, bytes, unit, false);
    if (newline) console::write("\n", 1, 1, false);
}

namespace {

void output(bool newline) {
    cell* out = form_argument();
    if (!out) return;
    print_text(out, newline);
    unset::make_at(stack::args());
    stack::keep_first();
}

}  // namespace

void print(const int32_t*) { output(true); }

void prin(const int32_t*) { output(false); }

}  // namespace natives
