#include "datatypes/function.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "evaluator/argcache.h"
#include "runtime/words.h"

namespace function {

namespace {

using datatype::INHERIT;
using datatype::NO;
using datatype::on;

cell* cells_of(Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
int32_t cell_count(Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

int32_t append_text(cell* out, const char* text, int32_t limit) {
    string::concatenate_cstr(out, text);
    return limit - (int32_t)strlen(text);
}

[[noreturn]] void bad_def(const cell* spec) { error::raise(error::SCRIPT, "bad-func-def", spec); }

bool is_word(uint8_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }
int32_t canon(const cell* w) { return symbol::resolve(word::symbol_of(w)); }

}  // namespace

cell* more_cell(const cell* f, int32_t which) { return cells_of(more_of(f)) + which; }

// --- Spec checks ------------------------------------------------------------------------

int32_t spec_attributes(const cell* attributes) {
    Node* n = series::node_of(attributes);
    int32_t flags = 0;
    for (int32_t i = (int32_t)attributes->data1; i < cell_count(n); i++) {
        cell* c = cells_of(n) + i;
        if (c->type() != TYPE_WORD) return -1;
        int32_t s = canon(c);
        if (s == symbol::resolve(words::sym_trace)) flags |= FLAG_TRACE;
        else if (s == symbol::resolve(words::sym_no_trace)) flags |= FLAG_NO_TRACE;
    }
    return flags;
}

void check_type_block(const cell* types) {
    Node* n = series::node_of(types);
    for (int32_t i = (int32_t)types->data1; i < cell_count(n); i++) {
        cell e = cells_of(n)[i];
        uint8_t t = e.type();
        if (t == TYPE_WORD) {
            if (argcache::builtin_typeset(&e, nullptr)) continue;
            cell* v = e.data1 ? word::get_value(&e) : nullptr;
            if (v && (v->type() == TYPE_DATATYPE || v->type() == TYPE_TYPESET || v->type() == TYPE_WORD))
                continue;
        } else if (t == TYPE_DATATYPE || t == TYPE_TYPESET) {
            continue;
        }
        stack::TopMark mark;
        error::raise(error::SCRIPT, "invalid-type-spec", stack::push(&e));
    }
}

void check_duplicates(const cell* spec) {
    Node* n = series::node_of(spec);
    int32_t head = (int32_t)spec->data1;
    int32_t count = cell_count(n);
    for (int32_t i = head; i < count; i++) {
        cell* a = cells_of(n) + i;
        if (!is_word(a->type()) && a->type() != TYPE_REFINEMENT) continue;
        int32_t s = canon(a);
        for (int32_t j = i + 1; j < count; j++) {
            cell* b = cells_of(n) + j;
            if ((is_word(b->type()) || b->type() == TYPE_REFINEMENT) && canon(b) == s) {
                stack::TopMark mark;
                error::raise(error::SCRIPT, "dup-vars", stack::push(b));
            }
        }
    }
}

uint32_t check_spec(cell* spec) {
    stack::TopMark mark;
    cell* sp = stack::push(spec);
    Node* n = series::node_of(sp);
    int32_t i = (int32_t)sp->data1;
    int32_t count = cell_count(n);
    int32_t flags = 0;
    if (i < count && cells_of(n)[i].type() == TYPE_BLOCK) {
        flags = spec_attributes(cells_of(n) + i);
        if (flags < 0) bad_def(sp);
        i++;
    }
    bool return_seen = false, local_seen = false;
    int32_t sym_local = symbol::resolve(word::symbol_of(words::refinement_local));
    int32_t sym_return = symbol::resolve(words::sym_return);
    while (i < count) {
        cell* c = cells_of(n) + i;
        uint8_t t = c->type();
        uint8_t next = i + 1 < count ? cells_of(n)[i + 1].type() : 0;
        if (is_word(t)) {
            if (t != TYPE_WORD && local_seen) bad_def(sp);
            if (return_seen && !local_seen) bad_def(sp);
            if (next == TYPE_STRING && i + 2 < count && cells_of(n)[i + 2].type() == TYPE_BLOCK) bad_def(sp);
            i++;
            if (next == TYPE_BLOCK) {
                cell types = cells_of(n)[i];
                check_type_block(&types);
                i++;
            }
        } else if (t == TYPE_SET_WORD) {
            if (canon(c) != sym_return || return_seen || local_seen) bad_def(sp);
            if (next != TYPE_BLOCK) bad_def(sp);
            uint8_t after = i + 2 < count ? cells_of(n)[i + 2].type() : 0;
            if (after != 0 && after != TYPE_REFINEMENT && after != TYPE_STRING) bad_def(sp);
            return_seen = true;
            i += 2;
        } else if (t == TYPE_REFINEMENT) {
            if (canon(c) == sym_local) local_seen = true;
            else if (local_seen || return_seen) bad_def(sp);
            if (next != 0 && !is_word(next) && next != TYPE_REFINEMENT && next != TYPE_SET_WORD &&
                next != TYPE_STRING)
                bad_def(sp);
            i++;
        } else if (t == TYPE_STRING) {
            i++;
        } else {
            bad_def(sp);
        }
    }
    check_duplicates(sp);
    return (uint32_t)flags;
}

int32_t count_locals(Node* spec, int32_t start, bool strict) {
    int32_t sym_local = symbol::resolve(word::symbol_of(words::refinement_local));
    int32_t count = 0;
    bool seen = false;
    for (int32_t i = start < 0 ? 0 : start; i < cell_count(spec); i++) {
        cell* c = cells_of(spec) + i;
        if (!seen) {
            if (c->type() == TYPE_REFINEMENT && canon(c) == sym_local) {
                seen = true;
                count = 1;
            }
        } else if (c->type() == TYPE_WORD) {
            count++;
        }
    }
    return strict && !seen ? -1 : count;
}

void push_nones(int32_t n) {
    if (n <= 0) return;
    logic::push(false);
    for (int32_t i = 1; i < n; i++) none::push();
}

// --- Making -------------------------------------------------------------------------------

cell* make_compiled(cell* spec, cell* body, Node* ctx, int32_t entry, int32_t owner, uint32_t flags) {
    cell f;
    {
    stack::TopMark mark;
    cell* sp = stack::push(spec);
    cell* bd = body ? stack::push(body) : nullptr;
    if ((int32_t)sp->data1 > 0) {
        int32_t len = block::length_of(sp);
        if (len < 0) sp->data1 = (uint32_t)block::total_cells(series::node_of(sp));
        sp = block::clone(sp, false, false);
    }
    cell* more = block::push_new(5);
    Node* more_node = series::node_of(more);
    for (int32_t i = 0; i < 5; i++) {
        cell* c = block::alloc_tail(more_node);
        c->header = TYPE_UNSET;
    }
    bool own_context = ctx == nullptr;
    if (own_context) ctx = context::make_from_block(sp, true, false, context::KIND_FUNCTION);
    context::Hold hold(&ctx);
    cell* result = stack::push_cell();
    *result = cell{TYPE_FUNCTION | (flags & (FLAG_TRACE | FLAG_NO_TRACE)), (uint32_t)(uintptr_t)ctx,
                   sp->data2, (uint32_t)(uintptr_t)more_node};
    *context::owner(ctx) = *result;
    if (bd) {
        cell* copy = block::clone(bd, true, true);
        // A function made from library code is library code too.
        if (block::is_library(bd)) block::flag_library(copy);
        *more_cell(result, MORE_BODY) = *copy;
        if (own_context) context::bind_block(more_cell(result, MORE_BODY), ctx, false);
    } else {
        none::make_at(more_cell(result, MORE_BODY));
    }
    if (entry) series::make_integer(more_cell(result, MORE_ENTRY), entry);
    if (owner) series::make_integer(more_cell(result, MORE_OWNER), owner);
    f = *result;
    }
    return stack::push(&f);
}

cell* make(cell* target, cell* spec, int32_t type) {
    (void)type;
    stack::TopMark mark;
    cell* sp = stack::push(spec);
    if (sp->type() != TYPE_BLOCK || block::length_of(sp) < 2) bad_def(sp);
    cell* first = stack::push(block::head_cell(sp));
    cell* second = stack::push(block::head_cell(sp) + 1);
    if (first->type() != TYPE_BLOCK || second->type() != TYPE_BLOCK) bad_def(sp);
    uint32_t flags = check_spec(first);
    cell* f = make_compiled(first, second, nullptr, 0, 0, flags);
    *target = *f;
    return target;
}

cell* push_slot_word(const cell* callable, int32_t slot) {
    Node* spec = spec_of(callable);
    int32_t k = 0;
    for (int32_t i = 0; i < cell_count(spec); i++) {
        cell* c = cells_of(spec) + i;
        if (!is_word(c->type()) && c->type() != TYPE_REFINEMENT) continue;
        if (k++ == slot) {
            cell w = *c;
            w.header = TYPE_WORD;
            w.data1 = 0;
            w.data3 = (uint32_t)-1;
            return stack::push(&w);
        }
    }
    return stack::push(words::word_anon);
}

// --- Reflection and output -----------------------------------------------------------------

cell* reflect(cell* value, int32_t field) {
    int32_t s = symbol::resolve(field);
    if (s == symbol::resolve(words::sym_spec)) {
        Node* spec = spec_of(value);
        return series::make_at(value, TYPE_BLOCK, spec, 0);
    }
    if (s == symbol::resolve(words::sym_body)) {
        if (value->type() == TYPE_NATIVE || value->type() == TYPE_ACTION || value->type() == TYPE_OP)
            error::raise_internal(error::Internal::not_done);
        cell body = *more_cell(value, MORE_BODY);
        *value = body;
        return value;
    }
    if (s == symbol::resolve(words::sym_words)) {
        Node* ctx = context_of(value);
        stack::TopMark mark;
        cell* blk = block::push_new(context::word_count(ctx));
        Node* bn = series::node_of(blk);
        for (int32_t i = 0; i < context::word_count(ctx); i++) {
            cell w = *context::word_at(ctx, i);
            w.header = (w.header & ~CELL_TYPE_MASK & ~context::WORD_CHANGED) | TYPE_WORD;
            w.data1 = (uint32_t)(uintptr_t)ctx;
            w.data3 = (uint32_t)i;
            block::append_cell_copy(bn, &w);
        }
        *value = *blk;
        return value;
    }
    error::raise_internal(error::Internal::not_done);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    (void)value;
    (void)part;
    return append_text(out, "?function?", limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    (void)only;
    stack::TopMark mark;
    cell* f = stack::push(value);
    limit = append_text(out, "func ", limit);
    cell* spec = stack::push_cell();
    series::make_at(spec, TYPE_BLOCK, spec_of(f), 0);
    limit = actions::mold_typed(spec, out, false, all, flat, part, limit, indent);
    cell* body = stack::push(more_cell(f, MORE_BODY));
    if (body->type() == TYPE_NONE) return append_text(out, " none", limit);
    return actions::mold_typed(body, out, false, all, flat, part, limit, indent);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != a->type()) return datatype::NOT_COMPARABLE;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: {
            int32_t x = (int32_t)a->data3, y = (int32_t)b->data3;
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default: return datatype::NOT_COMPARABLE;
    }
}

void rebind(cell* slot, Node* object_context) {
    stack::TopMark mark;
    cell* f = stack::push(slot);
    cell* body = stack::push(more_cell(f, MORE_BODY));
    if (body->type() == TYPE_NONE) error::raise(error::SCRIPT, "bad-func-def", f);
    cell* spec = stack::push_cell();
    series::make_at(spec, TYPE_BLOCK, spec_of(f), 0);
    Node* ctx = context::make(context::word_count(context_of(f)), true, false, context_of(f),
                              context::KIND_FUNCTION);
    context::Hold hold(&ctx);
    cell* copy = block::clone(body, true, true);
    if (block::is_library(body)) block::flag_library(copy);
    context::bind_block(copy, object_context, true);
    context::bind_block(copy, ctx, false);
    // make_compiled would bind again to a fresh context: build the cell here.
    cell* more = block::push_new(5);
    Node* more_node = series::node_of(more);
    for (int32_t i = 0; i < 5; i++) block::alloc_tail(more_node)->header = TYPE_UNSET;
    cells_of(more_node)[MORE_BODY] = *copy;
    cells_of(more_node)[MORE_OWNER] = *more_cell(f, MORE_OWNER);
    cell nf{(f->header & ~CELL_NEW_LINE), (uint32_t)(uintptr_t)ctx, f->data2,
            (uint32_t)(uintptr_t)more_node};
    *context::owner(ctx) = nf;
    *slot = nf;
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
    define(TYPE_FUNCTION, TYPE_CONTEXT, "function!", entries);
}

}  // namespace function

namespace routine {

using function::more_cell;
using memory::Node;
using function::MORE_BODY;

void set_arg_count(cell* r) {
    Node* spec = function::spec_of(r);
    uint32_t n = 0;
    cell* c = reinterpret_cast<cell*>(spec->buffer->head);
    int32_t count = (int32_t)(spec->buffer->used_bytes() / sizeof(cell));
    for (int32_t i = 0; i < count; i++)
        if (c[i].type() == TYPE_WORD) n++;
    r->header = (r->header & ~(31u << ARG_COUNT_SHIFT)) | ((n & 31) << ARG_COUNT_SHIFT);
}

cell* make_compiled(cell* spec, cell* body, Body entry, int32_t owner, bool addresses) {
    cell r;
    {
    stack::TopMark mark;
    cell* sp = stack::push(spec);
    cell* bd = body ? stack::push(body) : nullptr;
    cell* more = block::push_new(5);
    Node* more_node = series::node_of(more);
    for (int32_t i = 0; i < 5; i++) block::alloc_tail(more_node)->header = TYPE_UNSET;
    Node* ctx = context::make_from_block(sp, true, false, context::KIND_FUNCTION);
    context::Hold hold(&ctx);
    r = cell{TYPE_ROUTINE | (addresses ? FLAG_ADDRESSES : 0u), (uint32_t)(uintptr_t)ctx, sp->data2,
             (uint32_t)(uintptr_t)more_node};
    cell* cells = reinterpret_cast<cell*>(more_node->buffer->head);
    if (bd) cells[MORE_BODY] = *bd;
    else none::make_at(cells + MORE_BODY);
    series::make_integer(cells + function::MORE_ENTRY, (int32_t)(uintptr_t)entry);
    series::make_integer(cells + function::MORE_OWNER, owner);
    set_arg_count(&r);
    *context::owner(ctx) = r;
    }
    return stack::push(&r);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    (void)value;
    (void)part;
    string::concatenate_cstr(out, "?routine?");
    return limit - 9;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    stack::TopMark mark;
    cell* r = stack::push(value);
    string::concatenate_cstr(out, "routine ");
    limit -= 8;
    cell* spec = stack::push_cell();
    series::make_at(spec, TYPE_BLOCK, function::spec_of(r), 0);
    limit = actions::mold_typed(spec, out, only, all, flat, part, limit, indent);
    cell* body = stack::push(more_cell(r, MORE_BODY));
    if (body->type() == TYPE_BLOCK) return actions::mold_typed(body, out, false, all, flat, part, limit, indent);
    string::concatenate_cstr(out, " ");
    return actions::mold_typed(body, out, false, all, flat, part, limit - 1, indent);
}

int32_t compare(cell* a, cell* b, int32_t op) { return function::compare(a, b, op); }

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry entries[] = {
        NO, NO, INHERIT, NO, on<A_FORM>(form), on<A_MOLD>(mold),
        NO, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
    };
    // clang-format on
    define(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", entries);
}

}  // namespace routine
