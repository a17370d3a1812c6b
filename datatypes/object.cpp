// object!: construction, handler records and their firing, copying,
// reflection, form/mold and compare.
#include "datatypes/object.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/ownership.h"
#include "runtime/tracked.h"
#include "runtime/words.h"

namespace object {

uint32_t class_counter = FIRST_CLASS_ID;
CallHandler call_handler = nullptr;
CountLocals count_locals = nullptr;
EvalBlock eval_block = nullptr;

uint32_t next_class_id() { return ++class_counter; }

namespace {

using datatype::NO;
using datatype::on;

cell* cells_of(Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
int32_t cell_count(Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

int32_t canonical(int32_t symbol) { return symbol::resolve(symbol); }

bool is_series_value(uint8_t t) {
    return (t >= TYPE_BLOCK && t <= TYPE_URL) || (t >= TYPE_PATH && t <= TYPE_GET_PATH) ||
           t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF;
}

// Index of the field whose canonical symbol is that of `w`, or -1.
int32_t find_symbol(Node* ctx, const cell* w) {
    return context::find_word(ctx, word::symbol_of(w), true);
}

int32_t append_text(cell* out, const char* text, int32_t limit) {
    string::concatenate_cstr(out, text);
    return limit - (int32_t)strlen(text);
}

// The handler record's cell for a handler, or null when there is no record.
cell* handler_cell(const cell* obj, int32_t which) {
    Node* h = handlers_of(obj);
    return h ? cells_of(h) + which : nullptr;
}

Node* make_handler_record(int32_t change_index, int32_t change_count, uint32_t change_spec,
                          int32_t deep_index, int32_t deep_count, uint32_t deep_spec) {
    Node* h = memory::alloc_cells(2);
    cell* c = cells_of(h);
    auto word2 = [](int32_t index, int32_t count) {
        return ((uint32_t)(index < 0 ? NO_HANDLER : (uint32_t)index) << 16) | ((uint32_t)count & 0xFFFF);
    };
    c[0] = cell{TYPE_PAIR, 0, word2(change_index, change_count), change_spec};
    c[1] = cell{TYPE_PAIR, 0, word2(deep_index, deep_count), deep_spec};
    h->buffer->tail = h->buffer->head + 2 * sizeof(cell);
    return h;
}

bool is_callable(uint8_t t) { return t == TYPE_FUNCTION || t == TYPE_ROUTINE; }

// The spec node a handler's count was computed for (the function cell's
// word 1 when it is a function!, else 0).
uint32_t spec_node_of(const cell* f) { return f->type() == TYPE_FUNCTION ? f->data1 : 0; }

// Recomputes the cached count when the handler function has another spec.
void refresh_count(cell* obj, int32_t which, const cell* function) {
    cell* rec = handler_cell(obj, which);
    uint32_t spec = spec_node_of(function);
    if (rec->data3 == spec) return;
    int32_t count = count_locals ? count_locals(function) : 0;
    rec->data2 = (rec->data2 & 0xFFFF0000u) | ((uint32_t)count & 0xFFFF);
    rec->data3 = spec;
}

void call(cell* function, Node* ctx, const cell* name, int32_t event_class, cell* args,
          int32_t count) {
    if (!call_handler) error::raise_internal(error::Internal::not_done);
    call_handler(function, ctx, name, event_class, args, count);
}

// Makes the object owner of the series in its fields, each under its field
// word.
void own_fields(cell* obj) {
    stack::TopMark mark;
    cell* o = stack::push(obj);
    Node* ctx = context_of(o);
    int32_t n = context::word_count(ctx);
    cycles::Frame frame(ctx);
    for (int32_t i = 0; i < n; i++) {
        cell* w = stack::push(context::word_at(ctx, i));
        cell* v = stack::push(context::value_cell_at(ctx, i));
        ownership::set_object(v, o, w);
    }
}

// Sets or removes the ownership of the series in an object's fields.
void walk_fields(cell* obj, const cell* owner, const cell* w, bool set) {
    stack::TopMark mark;
    cell* o = stack::push(obj);
    Node* ctx = context_of(o);
    int32_t n = context::word_count(ctx);
    cycles::Frame frame(ctx);
    for (int32_t i = 0; i < n; i++) {
        cell* v = stack::push(context::value_cell_at(ctx, i));
        if (set) ownership::set_deep(v, owner, w);
        else ownership::unset(v);
    }
}

// An object met inside an owned value: one that owns series itself keeps
// them; any other passes its series on, each under its own field word, all
// but a field that holds the owner itself.
void walk_nested(cell* obj, const cell* owner, const cell*, bool set) {
    stack::TopMark mark;
    cell* o = stack::push(obj);
    Node* ctx = context_of(o);
    if (context::self_cell(ctx)->header & context::FLAG_OWNS) return;
    int32_t n = context::word_count(ctx);
    cycles::Frame frame(ctx);
    for (int32_t i = 0; i < n; i++) {
        cell* v = stack::push(context::value_cell_at(ctx, i));
        if (!set) {
            ownership::unset(v);
        } else if (!(v->type() == TYPE_OBJECT && v->data1 == owner->data1)) {
            cell* w = stack::push(context::word_at(ctx, i));
            ownership::set_deep(v, owner, w);
        }
    }
}

}  // namespace

// --- Construction and access ----------------------------------------------------

void write_back_link(const cell* obj) { *context::owner(context_of(obj)) = *obj; }

cell* init_cell(cell* result, int32_t size) {
    Node* ctx = context::make(size, false, true, nullptr, context::KIND_OBJECT);
    *result = cell{TYPE_OBJECT, (uint32_t)(uintptr_t)ctx, 0, 0};
    write_back_link(result);
    return result;
}

cell* make_at(Node* ctx, uint32_t class_id, Node* handler) {
    cell* c = stack::push_cell();
    *c = cell{TYPE_OBJECT, (uint32_t)(uintptr_t)ctx, class_id, (uint32_t)(uintptr_t)handler};
    write_back_link(c);
    return c;
}

cell* push_context(Node* ctx, uint32_t class_id) {
    Node* values = context::values_node(ctx);
    int32_t words = context::word_count(ctx);
    if (cell_count(values) == 0 && words > 0) {
        uint32_t need = sys::size_mul((uint32_t)words, sizeof(cell));
        if (values->buffer->capacity < need) memory::expand_series(values, (int32_t)need);
        cell* c = cells_of(values);
        for (int32_t i = 0; i < words; i++) c[i] = cell{TYPE_UNSET, 0, 0, 0};
        values->buffer->tail = values->buffer->head + need;
    }
    return make_at(ctx, class_id, nullptr);
}

int32_t word_index(const cell* obj, const cell* w) { return find_symbol(context_of(obj), w); }

cell* select_word(const cell* obj, const cell* w) {
    int32_t i = word_index(obj, w);
    return i < 0 ? &none::none_cell : context::value_cell_at(context_of(obj), i);
}

cell* first_word(const cell* obj) { return context::word_at(context_of(obj), 0); }
int32_t word_count(const cell* obj) { return context::word_count(context_of(obj)); }
cell* values(const cell* obj) { return context::value_cell_at(context_of(obj), 0); }

cell* word_of_cell(const cell* obj, const cell* value) {
    Node* ctx = context_of(obj);
    cell* first = context::value_cell_at(ctx, 0);
    int32_t n = context::word_count(ctx);
    if (value < first || value >= first + n) return nullptr;
    return context::word_at(ctx, (int32_t)(value - first));
}

cell* word_at_node(Node* ctx, int32_t index) { return context::word_at(ctx, index); }

bool is_value_object(Node* ctx, int32_t index, uint32_t class_id) {
    const cell* v = context::value_cell_at(ctx, index);
    return v->type() == TYPE_OBJECT && v->data2 == class_id;
}

bool is_word_value_object(Node* ctx, const cell* w, uint32_t class_id) {
    int32_t i = find_symbol(ctx, w);
    return i >= 0 && is_value_object(ctx, i, class_id);
}

void clear_changed(Node* ctx) {
    int32_t n = context::word_count(ctx);
    for (int32_t i = 0; i < n; i++) context::word_at(ctx, i)->header &= ~context::WORD_CHANGED;
}

void clear_new_lines(Node* series) {
    cell* c = cells_of(series);
    int32_t n = cell_count(series);
    for (int32_t i = 0; i < n; i++) cell::clear_new_line(c + i);
}

void put_field(cell* obj, const char* spelling, const cell* value) {
    stack::TopMark mark;
    cell* held = stack::push(value);
    cell* w = stack::push_cell();
    word::make_cell(w, TYPE_WORD, nullptr, symbol::make(spelling), -1);
    context::put_value(context_of(obj), w, held);
}

// --- Handlers ------------------------------------------------------------------------

Node* scan_handlers(const cell* obj) {
    Node* ctx = context_of(obj);
    int32_t change = -1, deep = -1;
    int32_t sym_change = canonical(word::symbol_of(words::word_on_change));
    int32_t sym_deep = canonical(word::symbol_of(words::word_on_deep_change));
    int32_t n = context::word_count(ctx);
    for (int32_t i = 0; i < n; i++) {
        int32_t s = canonical(word::symbol_of(context::word_at(ctx, i)));
        if (s == sym_change) change = i;
        else if (s == sym_deep) deep = i;
    }
    if (change < 0 && deep < 0) return nullptr;
    int32_t counts[2] = {0, 0};
    uint32_t specs[2] = {0, 0};
    const int32_t indexes[2] = {change, deep};
    cell* names[2] = {words::word_on_change, words::word_on_deep_change};
    for (int which = 0; which < 2; which++) {
        if (indexes[which] < 0) continue;
        cell v = *context::value_cell_at(ctx, indexes[which]);
        if (!is_callable(v.type())) {
            stack::TopMark mark;
            cell* type = datatype::push(v.type());
            error::raise_script(error::Script::bad_field_set, names[which], type);
        }
        counts[which] = count_locals ? count_locals(&v) : 0;
        specs[which] = spec_node_of(&v);
    }
    return make_handler_record(change, counts[0], specs[0], deep, counts[1], specs[1]);
}

void attach_handlers(cell* obj) {
    Node* h = scan_handlers(obj);
    obj->data3 = (uint32_t)(uintptr_t)h;
    write_back_link(obj);
    if (h && (cells_of(h)[ON_DEEP_CHANGE].data2 >> 16) != NO_HANDLER) own_fields(obj);
}

Node* create_from(Node* ctx, int32_t change_index, int32_t change_count, int32_t deep_index,
                  int32_t deep_count) {
    Node* h = make_handler_record(change_index, change_count, 0, deep_index, deep_count, 0);
    cell* obj = stack::get_top();
    obj->data3 = (uint32_t)(uintptr_t)h;
    write_back_link(obj);
    (void)ctx;
    return h;
}

void fire_on_change(cell* obj, cell* w, cell* old_value, cell* new_value) {
    cell* rec = handler_cell(obj, ON_CHANGE);
    if (!rec) return;
    uint32_t index = rec->data2 >> 16;
    if (index == NO_HANDLER) return;
    stack::TopMark mark;
    Node* ctx = context_of(obj);
    cell* function = stack::push(context::value_cell_at(ctx, (int32_t)index));
    if (function->type() != TYPE_FUNCTION)
        error::raise_script(error::Script::invalid_obj_evt, function);
    refresh_count(obj, ON_CHANGE, function);
    cell* args = stack::push(w);
    if (word::context_of(args) != ctx) word::bind_to(ctx, args);
    stack::push(old_value);
    stack::push(new_value);
    call(function, ctx, words::word_on_change, 8, args, 3);
}

void fire_on_change_top(cell* obj, cell* w) {
    cell* old_value = stack::get_top();
    fire_on_change(obj, w, old_value, old_value - 1);
}

void fire_on_deep_change(cell* owner, cell* w, cell* target, cell* action, cell* new_value,
                         int32_t index, int32_t part) {
    if (!handlers_of(owner)) error::raise_script(error::Script::invalid_obj_evt, owner);
    cell* rec = handler_cell(owner, ON_DEEP_CHANGE);
    uint32_t slot = rec->data2 >> 16;
    if (slot == NO_HANDLER) return;
    stack::TopMark mark;
    Node* ctx = context_of(owner);
    cell* function = stack::push(context::value_cell_at(ctx, (int32_t)slot));
    if (function->type() != TYPE_FUNCTION) return;
    refresh_count(owner, ON_DEEP_CHANGE, function);
    cell* args = stack::push(owner);
    stack::push(w);
    stack::push(target);
    stack::push(action);
    if (new_value) stack::push(new_value);
    else none::push();
    integer::push(index);
    integer::push(part);
    call(function, ctx, words::word_on_deep_change, 16, args, 7);
}

// --- Making and copying --------------------------------------------------------------

void rebind_functions(Node* ctx) {
    stack::TopMark mark;
    for (int32_t i = 0; i < context::word_count(ctx); i++) {
        if (context::value_cell_at(ctx, i)->type() != TYPE_FUNCTION) continue;
        cell* v = stack::push(context::value_cell_at(ctx, i));
        function::rebind(v, ctx);
        *context::value_cell_at(ctx, i) = *v;
    }
}

void copy_context(const cell* source, cell* dest, bool deep, cell* types, bool rebuild_handlers) {
    stack::TopMark mark;
    cell* src = stack::push(source);
    Node* sctx = context_of(src);
    int32_t n = context::word_count(sctx);
    Node* ctx = context::make(n, false, true, sctx, context::KIND_OBJECT);
    *dest = cell{src->header & CELL_TYPE_MASK, (uint32_t)(uintptr_t)ctx, src->data2,
                 rebuild_handlers ? 0 : src->data3};
    write_back_link(dest);
    if (n > 0) {
        // Re-point the copied word cells at the new context.
        for (int32_t i = 0; i < n; i++) context::word_at(ctx, i)->data1 = (uint32_t)(uintptr_t)ctx;
        Node* values = context::values_node(ctx);
        uint32_t bytes = sys::size_mul((uint32_t)n, sizeof(cell));
        if (values->buffer->capacity < bytes) memory::expand_series(values, (int32_t)bytes);
        memcpy(values->buffer->head, context::value_cell_at(sctx, 0), bytes);
        values->buffer->tail = values->buffer->head + bytes;
        if (deep && !types) {
            for (int32_t i = 0; i < n; i++) {
                cell* v = stack::push(context::value_cell_at(ctx, i));
                if (!is_series_value(v->type()) && v->type() != TYPE_HASH) continue;
                auto copy_fn = datatype::get<datatype::A_COPY>(v->type());
                if (!copy_fn) continue;
                cell* result = stack::push_cell();
                copy_fn(v, result, series::ABSENT, true, series::ABSENT);
                *context::value_cell_at(ctx, i) = *v;
            }
        }
        rebind_functions(ctx);
    }
    if (rebuild_handlers) attach_handlers(dest);
}

void construct_fields(cell* obj, cell* spec, bool only) {
    stack::TopMark mark;
    cell* blk = stack::push(spec);
    Node* ctx = context_of(obj);
    Node* node = series::node_of(blk);
    int32_t head = (int32_t)blk->data1;
    int32_t end = cell_count(node);
    for (int32_t i = head; i < end;) {
        if (cells_of(node)[i].type() != TYPE_SET_WORD) {
            i++;
            continue;
        }
        int32_t run = i;
        while (run < end && cells_of(node)[run].type() == TYPE_SET_WORD) run++;
        cell* value = stack::push_cell();
        if (run < end) {
            *value = cells_of(node)[run];
            if (!only && value->type() == TYPE_WORD) {
                int32_t s = canonical(word::symbol_of(value));
                if (s == words::sym_true || s == words::sym_yes || s == words::sym_on)
                    *value = logic::true_cell;
                else if (s == words::sym_false || s == words::sym_no || s == words::sym_off)
                    *value = logic::false_cell;
                else if (s == words::sym_none)
                    *value = none::none_cell;
            }
        } else {
            none::make_at(value);
        }
        for (int32_t k = i; k < run; k++) {
            cell* w = stack::push(&cells_of(node)[k]);
            context::put_value(ctx, w, value);
        }
        i = run < end ? run + 1 : run;
    }
}

cell* make_value(cell* prototype, cell* spec, bool only) {
    cell* result = stack::push_cell();
    none::make_at(result);
    if (prototype && prototype->type() == TYPE_OBJECT) {
        copy_context(prototype, result, true, nullptr, true);
    } else {
        init_cell(result, 4);
        result->data2 = next_class_id();
        write_back_link(result);
    }
    construct_fields(result, spec, only);
    return result;
}

bool is_none_value(const cell* v) {
    return v->type() == TYPE_NONE ||
           (v->type() == TYPE_WORD && canonical(word::symbol_of(v)) == canonical(words::sym_none));
}

void set_fields(cell* obj, cell* value, bool any, bool only, bool some) {
    stack::TopMark mark;
    cell* o = stack::push(obj);
    cell* v = stack::push(value);
    Node* ctx = context_of(o);
    int32_t n = context::word_count(ctx);
    bool each = !only && (v->type() == TYPE_BLOCK || v->type() == TYPE_OBJECT);
    // The handler fields themselves are never assigned by a set.
    int32_t keep[2] = {-1, -1};
    for (int32_t k = 0; k < 2 && handlers_of(o); k++) {
        uint32_t index = handler_cell(o, k)->data2 >> 16;
        if (index != NO_HANDLER) keep[k] = (int32_t)index;
    }
    // Source value for field i: the block's value i + 1 (none past its
    // tail), the same-named field of a source object (null: it lacks it).
    auto source = [&](int32_t i, cell* out) -> bool {
        if (!each) return *out = *v, true;
        if (v->type() == TYPE_BLOCK) {
            int32_t at = (int32_t)v->data1 + i;
            Node* b = series::node_of(v);
            if (at < cell_count(b)) *out = cells_of(b)[at];
            else none::make_at(out);
            return true;
        }
        int32_t j = find_symbol(context_of(v), context::word_at(ctx, i));
        if (j < 0) return false;
        *out = *context::value_cell_at(context_of(v), j);
        return true;
    };
    cell next;
    if (each && !any && !some) {
        for (int32_t i = 0; i < n; i++) {
            if (!source(i, &next) || next.type() != TYPE_UNSET) continue;
            cell* w = stack::push(context::word_at(ctx, i));
            w->header = TYPE_WORD;
            error::raise_script(error::Script::need_value, w);
        }
    }
    for (int32_t i = 0; i < n; i++) {
        if (i == keep[0] || i == keep[1]) continue;
        if (!source(i, &next)) continue;
        if (some && is_none_value(&next)) continue;
        cell* top = stack::arguments.top;
        stack::push(&next);
        if (handlers_of(o)) {
            context::store_last_at_push_old(ctx, i);
            cell* w = stack::push(context::word_at(ctx, i));
            w->header = TYPE_WORD;
            fire_on_change(o, w, w - 1, w - 2);
        } else {
            context::store_last_at(ctx, i);
        }
        stack::arguments.top = top;
    }
}

// --- Output ----------------------------------------------------------------------------

int32_t serialize_fields(cell* obj, cell* out, bool only, bool all, bool flat, cell* part,
                         int32_t limit, bool indent_on, int32_t indent, bool mold) {
    Node* ctx = context_of(obj);
    int32_t n = context::word_count(ctx);
    if (n == 0) return limit;
    const char* separator = "\n";
    if (flat) {
        separator = " ";
        indent_on = false;
    } else if (mold && !only) {
        limit = append_text(out, "\n", limit);
    } else if (mold && only) {
        indent_on = false;
    }
    stack::TopMark mark;
    cycles::Frame frame(ctx);
    int32_t sym_change = canonical(word::symbol_of(words::word_on_change));
    int32_t sym_deep = canonical(word::symbol_of(words::word_on_deep_change));
    for (int32_t i = 0; i < n; i++) {
        if (limit < 1) break;
        cell* w = stack::push(context::word_at(ctx, i));
        int32_t s = canonical(word::symbol_of(w));
        if (!all && (s == sym_change || s == sym_deep)) continue;
        if (indent_on)
            for (int32_t k = 0; k < indent; k++) limit = append_text(out, "    ", limit);
        w->header = TYPE_WORD;
        limit = word::mold(w, out, false, all, flat, part, limit, indent);
        limit = append_text(out, ": ", limit);
        cell* v = stack::push(context::value_cell_at(ctx, i));
        if (v->type() == 0) cell::set_type(v, TYPE_UNSET);
        if (v->type() == TYPE_WORD) limit = append_text(out, "'", limit);
        limit = actions::mold_typed(v, out, false, all, flat, part, limit, indent);
        if (indent_on || i + 1 < n) limit = append_text(out, separator, limit);
    }
    return limit;
}

// --- Actions ----------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) {
    (void)type;
    stack::TopMark mark;
    cell* proto = stack::push(target);
    cell* sp = stack::push(spec);
    cell* result = stack::push_cell();
    none::make_at(result);
    bool from_object = proto->type() == TYPE_OBJECT;
    int32_t before = 0;
    if (from_object) {
        copy_context(proto, result, true, nullptr, false);
        before = word_count(result);
    } else {
        init_cell(result, 4);
    }
    bool grew = false;
    if (sp->type() == TYPE_OBJECT) {
        Node* sctx = context_of(sp);
        int32_t n = context::word_count(sctx);
        for (int32_t i = 0; i < n; i++) {
            cell* w = stack::push(context::word_at(sctx, i));
            cell* v = stack::push(context::value_cell_at(sctx, i));
            context::put_value(context_of(result), w, v);
        }
        rebind_functions(context_of(result));
        grew = word_count(result) > before;
    } else if (sp->type() == TYPE_BLOCK) {
        grew = context::collect_set_words(context_of(result), sp);
        context::bind_block(sp, context_of(result), true);
        if (!eval_block) error::raise_internal(error::Internal::not_done);
        eval_block(sp);
        clear_changed(context_of(result));
        clear_new_lines(context::values_node(context_of(result)));
    } else {
        error::raise(error::SYNTAX, "malconstruct", sp);
    }
    result->data2 = (!from_object || grew) ? next_class_id() : proto->data2;
    result->data3 = 0;
    write_back_link(result);
    attach_handlers(result);
    *target = *result;
    return target;
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    if (stack::is_given(part) && part != nullptr) {
        stack::TopMark mark;
        cell* w = stack::push(words::refinement_part);
        w->header = TYPE_WORD;
        error::raise_script(error::Script::invalid_refine_arg, w, part);
    }
    cell* t = (types && stack::is_given(types)) ? types : nullptr;
    cell dest{};
    stack::TopMark mark;
    cell* d = stack::push(&dest);
    copy_context(value, d, deep, t, true);
    *value = *d;
    (void)result;
    return value;
}

cell* reflect(cell* value, int32_t field_symbol) {
    stack::TopMark mark;
    cell* obj = stack::push(value);
    Node* ctx = context_of(obj);
    int32_t n = context::word_count(ctx);
    int32_t f = canonical(field_symbol);
    cell* result = stack::push_cell();
    if (f == words::sym_class) {
        integer::make_at(result, (int32_t)obj->data2);
    } else if (f == words::sym_words || f == words::sym_values || f == words::sym_body ||
               f == canonical(word::symbol_of(words::word_changed))) {
        block::make_at(result, f == words::sym_body ? 2 * n : n);
        Node* blk = series::node_of(result);
        for (int32_t i = 0; i < n; i++) {
            if (f == words::sym_values) {
                block::append_cell_copy(blk, context::value_cell_at(ctx, i));
                continue;
            }
            cell w = *context::word_at(ctx, i);
            bool changed = (w.header & context::WORD_CHANGED) != 0;
            w.header = TYPE_WORD;
            w.data1 = (uint32_t)(uintptr_t)ctx;
            if (f == words::sym_body) {
                w.header = TYPE_SET_WORD | CELL_NEW_LINE;
                block::append_cell_copy(blk, &w);
                cell v = *context::value_cell_at(ctx, i);
                if (v.type() == TYPE_WORD) cell::set_type(&v, TYPE_LIT_WORD);
                else if (v.type() == TYPE_PATH) cell::set_type(&v, TYPE_LIT_PATH);
                block::append_cell_copy(blk, &v);
            } else if (f == words::sym_words || changed) {
                block::append_cell_copy(blk, &w);
            }
        }
    } else if (f == words::sym_owner) {
        logic::make_at(result, (context::self_cell(ctx)->header & context::FLAG_OWNS) != 0);
    } else if (f == words::sym_is_events) {
        logic::make_at(result, obj->data3 != 0);
    } else {
        error::raise_internal(error::Internal::not_done);
    }
    *value = *result;
    return value;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    if (cycles::detect(value, out, &limit, false)) return limit;
    return serialize_fields(value, out, false, false, false, part, limit, false, 0, false);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (cycles::detect(value, out, &limit, true)) return limit;
    if (!only) limit = append_text(out, "make object! [", limit);
    limit = serialize_fields(value, out, only, all, flat, part, limit, true, indent + 1, true);
    if (!flat && indent >= 1)
        for (int32_t k = 0; k < indent; k++) limit = append_text(out, "    ", limit);
    if (!only) limit = append_text(out, "]", limit);
    return limit;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_OBJECT) return datatype::NOT_COMPARABLE;
    Node* ca = context_of(a);
    Node* cb = context_of(b);
    if (ca == cb) return 0;
    if (op == datatype::OP_SAME) return -1;
    int32_t na = context::word_count(ca), nb = context::word_count(cb);
    if (cycles::find(ca)) return cycles::find(cb) ? 0 : -1;
    if (na != nb) return na > nb ? 1 : -1;
    if (na == 0) return 0;
    stack::TopMark mark;
    cycles::Frame frame(ca);
    frame.add(cb);
    for (int32_t i = 0; i < na; i++) {
        int32_t sa = canonical(word::symbol_of(context::word_at(ca, i)));
        int32_t sb = canonical(word::symbol_of(context::word_at(cb, i)));
        if (sa != sb) return sa < sb ? -1 : 1;
        cell* va = stack::push(context::value_cell_at(ca, i));
        cell* vb = stack::push(context::value_cell_at(cb, i));
        uint8_t ta = va->type(), tb = vb->type();
        auto numeric = [](uint8_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
        int32_t r;
        if (ta == tb || (word::is_any_word_type(ta) && word::is_any_word_type(tb)) ||
            (numeric(ta) && numeric(tb)))
            r = actions::compare_typed(va, vb, op);
        else
            r = ta < tb ? -1 : 1;
        if (r != 0) return r;
    }
    return 0;
}

cell* select(cell* series, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool) {
    if (value->type() < TYPE_WORD || value->type() > TYPE_GET_WORD) {
        stack::TopMark mark;
        error::raise_script(error::Script::invalid_type, datatype::push(value->type()));
    }
    *series = *select_word(series, value);
    return series;
}

// Field access through a path. `get` is the flag the path evaluator passes
// as 0: with it and `last`, a missing or unset field gives unset! instead of
// an error. The element is bound to the object's context on first use, so
// the next use of the same path skips the look-up.
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder, cell* element_cell,
                int32_t index, bool case_, bool get, bool last, bool owner) {
    uint8_t t = element->type();
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
        error::raise_script(error::Script::invalid_path, path, element);
    Node* ctx = context_of(parent);
    auto missing = [&]() -> cell* {
        if (get && last) {
            unset::make_at(parent);
            return parent;
        }
        error::raise_script(last ? error::Script::invalid_path : error::Script::unset_path, path, element);
    };
    int32_t i = word::context_of(element) == ctx ? word::index_of_cell(element) : -1;
    if (i < 0 || i >= context::word_count(ctx)) {
        i = find_symbol(ctx, element);
        if (i < 0) return missing();
        element->data1 = (uint32_t)(uintptr_t)ctx;
        element->data3 = (uint32_t)i;
    }
    if (!value) {
        cell* field = context::value_cell_at(ctx, i);
        if (field->type() == TYPE_UNSET) return missing();
        *parent = *field;
        return parent;
    }
    // The word reported to on-change*: the element when it is a word!, else
    // the object's own word.
    stack::TopMark mark;
    cell* report = stack::push(t == TYPE_WORD ? element : context::word_at(ctx, i));
    report->data1 = (uint32_t)(uintptr_t)ctx;
    report->data3 = (uint32_t)i;
    cell* held = stack::push(value);
    word::set_in_context(report, held, ctx, parent->data3 != 0);
    *parent = *held;
    return parent;
}

// put: as a path set of the last element, with none as the path.
cell* put(cell* series, cell* key, cell* value, bool) {
    if (key->type() != TYPE_WORD) {
        stack::TopMark mark;
        error::raise_script(error::Script::invalid_key_type, datatype::push(key->type()));
    }
    cell path;
    none::make_at(&path);
    cell element = *key;
    return eval_path(series, &element, value, &path, nullptr, nullptr, 0, false, false, true, false);
}

cell* modify(cell* target, cell* field, cell* value, bool) {
    int32_t f = canonical(word::symbol_of(field));
    if (f == canonical(word::symbol_of(words::word_changed))) {
        if (value->type() != TYPE_NONE) error::raise_script(error::Script::invalid_arg, value);
        clear_changed(context_of(target));
    } else if (f == words::sym_owner) {
        own_fields(target);
    } else if (f == words::sym_owned) {
        if (value->type() == TYPE_NONE) {
            walk_fields(target, nullptr, nullptr, false);
        } else if (value->type() == TYPE_BLOCK && series::buffer_units(value) >= 2 + value->data1) {
            stack::TopMark mark;
            cell* pair = reinterpret_cast<cell*>(series::buffer_of(value)->head) + value->data1;
            cell* owner = stack::push(pair);
            cell* w = stack::push(pair + 1);
            walk_fields(target, owner, w, true);
        }
    }
    *target = *value;
    return target;
}

namespace {
void on_context_change(cell* owner, cell* w, cell* old_value, cell* new_value) {
    fire_on_change(owner, w, old_value, new_value);
}

void on_deep_change(cell* owner, cell* w, cell* value, int32_t action_symbol, int32_t index,
                    int32_t count, cell* extra) {
    stack::TopMark mark;
    cell* action = word::push_new(action_symbol);
    fire_on_deep_change(owner, w, value, action, extra, index, count);
}


void mark_owns(const cell* owner) {
    context::self_cell(context_of(owner))->header |= context::FLAG_OWNS;
}
}  // namespace

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry entries[] = {
        on<A_MAKE>(make), NO, on<A_REFLECT>(reflect), NO, on<A_FORM>(form), on<A_MOLD>(mold),
        on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,   // math
        NO, NO, NO, NO, NO, on<A_COPY>(copy), NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,
        on<A_PUT>(put), NO, NO, on<A_SELECT>(select), NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, on<A_MODIFY>(modify), NO, NO, NO, NO, NO, NO, NO,      // I/O
    };
    // clang-format on
    define(TYPE_OBJECT, 0, "object!", entries);
    context::fire_on_change = on_context_change;
    ownership::fire_on_deep_change = on_deep_change;
    ownership::walk_object = walk_nested;
    ownership::mark_owner = mark_owns;
}

}  // namespace object
