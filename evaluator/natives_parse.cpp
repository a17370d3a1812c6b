// The `parse` native: checks the /part limit and hands the work to the
// parse engine.
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/rt.h"
#include "runtime/words.h"

namespace natives {

void parse(const int32_t* refs) {
    cell* input = stack::arg(0);
    cell* rules = stack::arg(1);
    int32_t units = (int32_t)series::buffer_units(input);
    int32_t head = (int32_t)input->data1;
    if (head < 0) head = 0;
    if (head > units) head = units;
    input->data1 = (uint32_t)head;
    int32_t mode = refs[0] >= 0 ? 2 : 0;
    // /part: a length or a position in the same series, as an end index
    // clamped to the input.
    int32_t limit = -1;
    if (refs[1] >= 0) {
        cell* part = stack::arg((uint32_t)refs[1]);
        int64_t end;
        if (part->type() == TYPE_INTEGER) {
            end = (int64_t)head + (int32_t)part->data2;
        } else if (part->type() == TYPE_FLOAT || part->type() == TYPE_PERCENT) {
            end = (int64_t)head + rt::float_to_integer(part);
        } else {
            if (part->type() != input->type() || part->data2 != input->data2)
                error::raise(error::SCRIPT, "invalid-refine-arg", words::refinement_part, part);
            end = (int32_t)part->data1;
        }
        if (end < head) end = head;
        if (end > units) end = units;
        limit = (int32_t)end;
    }
    cell* callback = refs[2] >= 0 ? stack::arg((uint32_t)refs[2]) : nullptr;
    cell result;
    if (!parser::process(input, rules, mode, limit, callback, &result)) return;
    stack::set_last(&result);
    stack::keep_first();
}

}  // namespace natives
