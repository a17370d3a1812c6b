// typeset!: type bits in the cell, their set operations and their text.
#include "datatypes/typeset.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"

namespace typeset {

using namespace datatype;
using memory::Node;

// --- Bits ----------------------------------------------------------------------------

cell* make_empty(cell* c) {
    cell::set_header(c, TYPE_TYPESET);
    clear(c);
    return c;
}

cell of(std::initializer_list<uint8_t> types) {
    cell c;
    make_empty(&c);
    for (uint8_t t : types) set_bit(&c, t);
    return c;
}

void clear(cell* ts) { ts->data1 = ts->data2 = ts->data3 = 0; }

int32_t count(const cell* ts) {
    int32_t n = 0;
    for (uint32_t t = 1; t <= top_type_id && t < BITS; t++) n += has(ts, t);
    return n;
}

// --- Making ---------------------------------------------------------------------------

cell* make_at(Node* block, uint32_t word1, uint32_t word2, uint32_t word3) {
    cell c{TYPE_TYPESET, word1, word2, word3};
    return block::append_cell_copy(block, &c);
}

cell* make_any(Node* block) {
    cell c{TYPE_TYPESET, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    bytes_of(&c)[0] &= 0xDF;  // unset! (id 2)
    return block::append_cell_copy(block, &c);
}

// The value of a word element, or the element itself. A word's value is
// pushed (the caller's stack mark drops it).
static const cell* looked_up(const cell* element) {
    return element->type() == TYPE_WORD ? word::get(element) : element;
}

void add_type(cell* ts, const cell* value) {
    cell given = *value;
    cell* top = stack::arguments.top;
    const cell* v = looked_up(&given);
    if (v->type() == TYPE_TYPESET) {
        ts->data1 |= v->data1;
        ts->data2 |= v->data2;
        ts->data3 |= v->data3;
    } else if (v->type() == TYPE_DATATYPE) {
        set_bit(ts, v->data1 & 0xFF);
    } else {
        error::raise_script(error::Script::invalid_arg, &given);
    }
    stack::arguments.top = top;
}

cell* make_from_spec(Node* block, cell* spec) {
    cell set;
    make_empty(&set);
    cell source = *spec;
    cell* top = stack::arguments.top;
    // The spec is read again at each step: looking a word up may push, never
    // allocate a series, but the error raised for a bad element does.
    for (int32_t i = (int32_t)source.data1; i < block::total_cells(series::node_of(&source)); i++) {
        cell element = block::cells_of(series::node_of(&source))[i];
        const cell* v = looked_up(&element);
        if (v->type() == TYPE_DATATYPE) {
            set_bit(&set, v->data1 & 0xFF);
        } else if (v->type() == TYPE_TYPESET) {
            set.data1 |= v->data1, set.data2 |= v->data2, set.data3 |= v->data3;
        } else if (v->type() == TYPE_WORD) {
            set_bit(&set, TYPE_OBJECT);
        } else if (v->type() != TYPE_BLOCK) {
            error::raise_script(error::Script::invalid_type_spec, v);
        }
        stack::arguments.top = top;
    }
    return block::append_cell_copy(block, &set);
}

cell* to_block(const cell* ts, cell* out) {
    cell set = *ts;
    block::make_at(out, 4);
    for (uint32_t t = 1; t <= top_type_id && t < BITS; t++) {
        if (!has(&set, t) || !type_names[t].word) continue;
        block::append_cell_copy(series::node_of(out), type_names[t].word);
    }
    return out;
}

cell* do_bitwise(int32_t op) {
    cell* a = stack::arg(0);
    if (op == 8) return a;  // unique: the first operand as it is
    cell b = *stack::arg(1);
    if (b.type() == TYPE_DATATYPE) {
        uint8_t t = (uint8_t)(b.data1 & 0xFF);
        b = of({t});
    } else if (b.type() != TYPE_TYPESET) {
        error::raise_script(error::Script::invalid_arg, &b);
    }
    uint32_t* x = &a->data1;
    const uint32_t* y = &b.data1;
    for (int i = 0; i < 3; i++) {
        switch (op) {
            case 5: case 9: x[i] |= y[i]; break;
            case 6: case 10: x[i] &= y[i]; break;
            case 7: case 12: x[i] ^= y[i]; break;
            case 11: x[i] &= ~y[i]; break;
            default: error::raise_script(error::Script::invalid_arg, &b);
        }
    }
    cell::set_header(a, TYPE_TYPESET);
    return a;
}

// --- Text ------------------------------------------------------------------------------

int32_t serialize(const cell* ts, cell* out, bool only, bool part, int32_t limit) {
    cell set = *ts;
    if (!only) {
        string::concatenate_cstr(out, "make typeset! [");
        limit -= 15;
    }
    bool any = false;
    for (uint32_t t = 1; t <= top_type_id && t < BITS; t++) {
        if (!has(&set, t) || !type_names[t].name) continue;
        if (part && limit < 0) return limit;  // the bracket stays open
        string::concatenate_cstr(out, type_names[t].name);
        string::concatenate_bytes(out, " ", 1);
        limit -= (int32_t)type_names[t].length + 2;
        any = true;
    }
    int32_t last = string::total_length(out) - 1;
    if (!only) {
        if (any) {
            string::set_char_at(series::node_of(out), (uint32_t)last, ']');
        } else {
            string::concatenate_bytes(out, "]", 1);
            limit--;
        }
    } else if (any) {
        string::remove_units(out, (uint32_t)last, 1);
        limit++;
    }
    return limit;
}

// --- Actions ---------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) {
    cell given = *spec;
    if (given.type() == TYPE_TYPESET) {
        *target = given;
        return target;
    }
    if (given.type() != TYPE_BLOCK) {
        cell dt;
        datatype::make_at(&dt, TYPE_TYPESET);
        error::raise_script(error::Script::bad_to_arg, &dt, &given);
    }
    cell set;
    make_empty(&set);
    cell* held = stack::push(&given);  // keeps the block while words are looked up
    for (int32_t i = (int32_t)held->data1; i < block::total_cells(series::node_of(held)); i++) {
        cell element = block::cells_of(series::node_of(held))[i];
        add_type(&set, &element);
    }
    stack::pop(1);
    *target = set;
    return target;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return serialize(value, out, false, stack::is_given(part), limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return serialize(value, out, only, stack::is_given(part), limit);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_TYPESET) return NOT_COMPARABLE;
    switch (op) {
        case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL: case OP_SAME: case OP_FIND:
            return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3 ? 0 : 1;
        case OP_SORT: case OP_CASE_SORT: {
            int32_t x = count(a), y = count(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default:
            return NOT_COMPARABLE;
    }
}

cell* and_() { return do_bitwise(6); }
cell* or_() { return do_bitwise(5); }
cell* xor_() { return do_bitwise(7); }

cell* complement(cell* value) {
    value->data1 = ~value->data1;
    value->data2 = ~value->data2;
    value->data3 = ~value->data3;
    return value;
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (value->type() != TYPE_DATATYPE) error::raise_script(error::Script::invalid_arg, value);
    bool in = has(series, value->data1 & 0xFF);
    return logic::make_at(series, in);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, NO, on<A_TO>(make), on<A_FORM>(form), on<A_MOLD>(mold), NO, NO,
        on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_AND>(and_),                     // math
        on<A_COMPLEMENT>(complement), on<A_OR>(or_), on<A_XOR>(xor_),
        NO, NO, NO, NO, NO, NO, on<A_FIND>(find), NO, NO, NO, NO, NO, NO, NO, NO, NO,    // series
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_TYPESET, 0, "typeset!", list);
}

}  // namespace typeset
