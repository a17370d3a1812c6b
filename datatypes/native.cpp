#include "datatypes/native.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/words.h"

namespace native {

namespace {

int32_t append_text(cell* out, const char* text, int32_t limit) {
    string::concatenate_cstr(out, text);
    return limit - (int32_t)strlen(text);
}

// The table position of an entry (1-based), 0 when absent.
int32_t position_in(void* entry, uint8_t type) {
    if (type == TYPE_NATIVE) {
        for (uint32_t i = 0; i < natives::TABLE_CAPACITY; i++)
            if ((void*)natives::table[i] == entry) return (int32_t)i + 1;
    } else {
        for (uint32_t i = 0; i < datatype::ACTION_COUNT; i++)
            if ((void*)actions::dispatchers[i] == entry) return (int32_t)i + 1;
    }
    return 0;
}

cell* make_typed(cell* target, cell* spec, uint8_t type) {
    stack::TopMark mark;
    cell* proto = stack::push(target);
    cell* sp = stack::push(spec);
    uint32_t limit = type == TYPE_NATIVE ? natives::TABLE_CAPACITY : datatype::ACTION_COUNT;
    if (sp->type() != TYPE_BLOCK || block::length_of(sp) != 2) error::raise_2(proto, sp);
    cell* first = block::head_cell(sp);
    cell* second = first + 1;
    if (first->type() != TYPE_BLOCK || second->type() != TYPE_INTEGER) error::raise_2(proto, sp);
    int32_t index = (int32_t)second->data2;
    if (index < 1 || (uint32_t)index > limit) error::raise_2(proto, sp);
    // An empty entry cannot be called: refused here.
    void* entry = type == TYPE_NATIVE ? (void*)natives::table[index - 1]
                                      : (void*)actions::dispatchers[index - 1];
    if (!entry) error::raise_2(proto, sp);
    cell s = *first;
    cell* made = make_at_index(type, &s, index);
    *target = *made;
    return target;
}

}  // namespace

cell* make_at_index(uint8_t type, cell* spec, int32_t index) {
    cell result;
    {
        stack::TopMark mark;
        cell* sp = stack::push(spec);
        memory::Node* ctx = context::make_from_block(sp, true, false, context::KIND_FUNCTION);
        context::Hold hold(&ctx);
        cell* rec = block::push_new(2);
        memory::Node* rn = series::node_of(rec);
        block::append_cell_copy(rn, context::self_cell(ctx));
        block::append_cell_copy(rn, &none::none_cell);
        void* entry = type == TYPE_NATIVE ? (void*)natives::table[index - 1]
                                          : (void*)actions::dispatchers[index - 1];
        result = cell{type, (uint32_t)(uintptr_t)entry, sp->data2, (uint32_t)(uintptr_t)rn};
        *context::owner(ctx) = result;
    }
    return stack::push(&result);
}

bool check_op_spec(const cell* spec) {
    memory::Node* n = series::node_of(spec);
    cell* c = reinterpret_cast<cell*>(n->buffer->head);
    int32_t count = (int32_t)(n->buffer->used_bytes() / sizeof(cell));
    int32_t args = 0;
    bool plain = false;
    int32_t local = symbol::resolve(word::symbol_of(words::refinement_local));
    int32_t ext = symbol::resolve(word::symbol_of(words::refinement_extern));
    for (int32_t i = (int32_t)spec->data1; i < count; i++) {
        switch (c[i].type()) {
            case TYPE_WORD: args++; plain = true; break;
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (!plain) return false;
                args++;
                break;
            case TYPE_SET_WORD: return args == 2;
            case TYPE_REFINEMENT: {
                int32_t s = symbol::resolve(word::symbol_of(c + i));
                if (s == local || s == ext) return args == 2;
                return false;
            }
            default: break;
        }
    }
    return args == 2;
}

cell* make(cell* target, cell* spec, int32_t type) {
    (void)type;
    return make_typed(target, spec, TYPE_NATIVE);
}

cell* reflect(cell* value, int32_t field) {
    int32_t s = symbol::resolve(field);
    if (s == symbol::resolve(words::sym_spec)) return series::make_at(value, TYPE_BLOCK, spec_of(value), 0);
    if (s == symbol::resolve(words::sym_body)) {
        uint8_t source = value->type() == TYPE_OP ? op_source(value) : value->type();
        if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
            cell body = *function::more_cell(value, function::MORE_BODY);
            *value = body;
            return value;
        }
        int32_t pos = position_in((void*)(uintptr_t)value->data1, source == TYPE_NATIVE ? TYPE_NATIVE : TYPE_ACTION);
        return series::make_integer(value, pos);
    }
    error::raise_internal(error::Internal::not_done);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    (void)value;
    (void)part;
    return append_text(out, "?native?", limit);
}

static int32_t mold_spec(const char* prefix, cell* value, cell* out, bool only, bool all, bool flat,
                         cell* part, int32_t limit, int32_t indent) {
    stack::TopMark mark;
    limit = append_text(out, prefix, limit);
    cell* spec = stack::push_cell();
    series::make_at(spec, TYPE_BLOCK, spec_of(value), 0);
    limit = actions::mold_typed(spec, out, only, all, flat, part, limit, indent);
    return append_text(out, "]", limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return mold_spec("make native! [", value, out, only, all, flat, part, limit, indent);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != a->type()) return datatype::NOT_COMPARABLE;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: {
            int32_t x = (int32_t)a->data1, y = (int32_t)b->data1;
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default: return datatype::NOT_COMPARABLE;
    }
}

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry entries[] = {
        on<A_MAKE>(make), NO, on<A_REFLECT>(reflect), NO, on<A_FORM>(form), on<A_MOLD>(mold),
        NO, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
    };
    // clang-format on
    define(TYPE_NATIVE, 0, "native!", entries);
}

}  // namespace native

namespace action {

cell* make(cell* target, cell* spec, int32_t type) {
    (void)type;
    stack::TopMark mark;
    cell* proto = stack::push(target);
    cell* sp = stack::push(spec);
    if (sp->type() != TYPE_BLOCK || block::length_of(sp) != 2) error::raise_2(proto, sp);
    cell* first = block::head_cell(sp);
    if (first->type() != TYPE_BLOCK || first[1].type() != TYPE_INTEGER) error::raise_2(proto, sp);
    int32_t index = (int32_t)first[1].data2;
    if (index < 1 || index > (int32_t)datatype::ACTION_COUNT || !actions::dispatchers[index - 1])
        error::raise_2(proto, sp);
    cell s = *first;
    *target = *native::make_at_index(TYPE_ACTION, &s, index);
    return target;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    (void)value;
    (void)part;
    string::concatenate_cstr(out, "?action?");
    return limit - 8;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return native::mold_spec("make action! [", value, out, only, all, flat, part, limit, indent);
}

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry entries[] = {
        on<A_MAKE>(make), NO, INHERIT, NO, on<A_FORM>(form), on<A_MOLD>(mold),
        NO, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
    };
    // clang-format on
    define(TYPE_ACTION, TYPE_NATIVE, "action!", entries);
}

}  // namespace action

namespace op {

cell* make(cell* target, cell* spec, int32_t type) {
    (void)type;
    uint8_t t = spec->type();
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        cell dt;
        datatype::make_at(&dt, t);
        error::raise(error::SCRIPT, "invalid-type", stack::push(&dt));
    }
    cell s = *spec;
    cell sp;
    series::make_at(&sp, TYPE_BLOCK, native::spec_of(&s), 0);
    if (!native::check_op_spec(&sp)) error::raise(error::SCRIPT, "bad-op-spec");
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) *function::more_cell(&s, function::MORE_OP) = s;
    *target = s;
    target->header = TYPE_OP | ((uint32_t)t << native::OP_SOURCE_SHIFT);
    return target;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    (void)value;
    (void)part;
    string::concatenate_cstr(out, "?op?");
    return limit - 4;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    stack::TopMark mark;
    cell* v = stack::push(value);
    uint8_t source = native::op_source(v);
    string::concatenate_cstr(out, "make op! ");
    limit -= 9;
    if (source == TYPE_FUNCTION) {
        string::concatenate_cstr(out, "func ");
        limit -= 5;
    } else {
        string::concatenate_cstr(out, "[");
        limit -= 1;
    }
    cell* spec = stack::push_cell();
    series::make_at(spec, TYPE_BLOCK, native::spec_of(v), 0);
    cell* top = stack::arguments.top;
    stack::mark_symbol(stack::sym_anon, stack::KIND_NATIVE);
    limit = actions::mold_typed(spec, out, only, all, flat, part, limit, indent);
    stack::reset();
    stack::arguments.top = top;  // reset empties the caller's window: the output lives there
    if (source == TYPE_FUNCTION) {
        cell* body = stack::push(function::more_cell(v, function::MORE_BODY));
        if (body->type() == TYPE_BLOCK) limit = actions::mold_typed(body, out, false, all, flat, part, limit, indent);
        return limit;
    }
    string::concatenate_cstr(out, "]");
    return limit - 1;
}

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry entries[] = {
        on<A_MAKE>(make), NO, INHERIT, NO, on<A_FORM>(form), on<A_MOLD>(mold),
        NO, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
    };
    // clang-format on
    define(TYPE_OP, TYPE_NATIVE, "op!", entries);
}

}  // namespace op
