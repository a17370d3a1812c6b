// Set operation and text coding natives: thin layers that check their
// arguments and hand the work to the datatype owning the data.
#include <cstdint>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
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
            if (op == 12) {  // difference: the time between the two
                date::difference(a, b);
                return;
            }
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

namespace {
// The base of enbase and debase: 64 unless /base gives one.
int32_t base_of(const int32_t* refs) { return refs[0] >= 0 ? integer::get(stack::arg(refs[0])) : 64; }
bool is_base(int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }
}  // namespace

void debase(const int32_t* refs) {
    int32_t base = base_of(refs);
    if (!is_base(base)) error::raise_script(error::Script::invalid_arg, stack::arg(refs[0]));
    cell* out = stack::push_cell();
    if (binary::decode_value(stack::arg(0), base, out)) stack::set_last(out);
    else none::make_at(stack::arg(0));  // text that is not in the base
}

void enbase(const int32_t* refs) {
    int32_t base = base_of(refs);
    if (!is_base(base)) error::raise_script(error::Script::invalid_arg, stack::arg(refs[0]));
    cell* value = stack::arg(0);
    std::string bytes;
    if (value->type() == TYPE_BINARY) {
        bytes.assign((const char*)binary::rs_head(value), (size_t)binary::rs_length(value));
    } else {
        int32_t n = -1;
        const uint8_t* p = unicode::to_utf8(value, &n);
        bytes.assign((const char*)p, (size_t)n);
    }
    uint64_t n = bytes.size();
    uint64_t room = base == 64   ? 4 * (n / 3) + (4 * (n % 3)) / 3 + 2 * (n / 32) + 5
                    : base == 58 ? 2 * n + 1
                    : base == 16 ? 2 * n + n / 32 + 32
                                 : 8 * n + 2 * (n / 8) + 4;
    if (room > 0x7FFFFFFF) error::raise(error::SCRIPT, "too-long");
    std::string text((size_t)room, '\0');
    const uint8_t* in = (const uint8_t*)bytes.data();
    uint8_t* start = (uint8_t*)&text[0];
    uint8_t* end = base == 64   ? binary::encode_64(in, (uint32_t)n, start)
                   : base == 58 ? binary::encode_58(in, (uint32_t)n, start)
                   : base == 16 ? binary::encode_16(in, (uint32_t)n, start)
                                : binary::encode_2(in, (uint32_t)n, start);
    unicode::load_utf8_new(start, (uint32_t)(end - start), stack::arg(0));
}

}  // namespace natives
