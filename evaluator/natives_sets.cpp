// Set operation and text coding natives: thin layers that check their
// arguments and hand the work to the datatype owning the data.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/rt.h"
#include "runtime/words.h"

namespace natives {

namespace {

bool is_list(uint8_t t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// The body of the five set natives: `case_ref`/`skip_ref` are the
// refinements' window indexes (-1: absent).
void set_operation(int32_t case_ref, int32_t skip_ref, int32_t op) {
    cell* a = stack::arg(0);
    cell* b = op == 8 ? a : stack::arg(1);
    uint8_t t = a->type();
    // A typeset takes a datatype as the set of that one type.
    bool matches = is_list(t) ? is_list(b->type())
                              : b->type() == t || (t == TYPE_TYPESET && b->type() == TYPE_DATATYPE);
    if (op != 8 && !matches) {
        cell* x = datatype::push(t);
        cell* y = datatype::push(b->type());
        error::raise(error::SCRIPT, "expect-val", x, y);
    }
    int32_t skip = 1;
    if (skip_ref >= 0) {
        cell* s = stack::arg((uint32_t)skip_ref);
        skip = s->type() == TYPE_INTEGER ? (int32_t)s->data2 : rt::float_to_integer(s);
    }
    bool case_ = case_ref >= 0;
    switch (t) {
        case TYPE_BLOCK:
        case TYPE_HASH:
            block::do_set_op(op, a, b, skip, case_);
            return;
        case TYPE_STRING:
            string::do_set_op(op, a, b, skip, case_, a);
            return;
        case TYPE_BITSET:
            bitset::do_bitwise(op);
            return;
        case TYPE_TYPESET:
            typeset::do_bitwise(op);
            return;
        case TYPE_DATE:
            if (op == 12) error::raise_internal(error::Internal::not_done);  // date! comes later
            [[fallthrough]];
        default: {
            const cell* name = rt::call_word ? rt::call_word() : words::word_anon;
            const cell* arg = rt::argument_word ? rt::argument_word(0) : words::word_anon;
            cell* dt = datatype::push(t);
            error::raise(error::SCRIPT, "expect-arg", name, dt, arg);
        }
    }
}

}  // namespace

void union_(const int32_t* refs) { set_operation(refs[0], refs[1], 9); }
void intersect(const int32_t* refs) { set_operation(refs[0], refs[1], 10); }
void unique(const int32_t* refs) { set_operation(refs[0], refs[1], 8); }
void difference(const int32_t* refs) { set_operation(refs[0], refs[1], 12); }
void exclude(const int32_t* refs) { set_operation(refs[0], refs[1], 11); }

void is_complement(const int32_t*) {
    cell* bits = stack::arg(0);
    logic::make_at(bits, bitset::is_complemented(bits));
}

void dehex(const int32_t*) {
    cell* value = stack::arg(0);
    cell* out = string::push_new(string::length_of(value));
    url::decode(value, out);
    stack::set_last(out);
}

void enhex(const int32_t*) {
    cell* value = stack::arg(0);
    cell* out = string::push_new(string::length_of(value));
    url::encode(value, out, value->type() == TYPE_STRING ? url::MODE_UNRESERVED : url::MODE_KEEP);
    stack::set_last(out);
}

}  // namespace natives
