// Natives that read and write the values of words, bind words to contexts,
// make objects from specs and mark list values: get, set, unset, value?,
// type?, bind, in, context?, construct, extend, new-line, new-line?, as; and
// the word-block assignment that set and foreach share.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/words.h"

namespace natives {

namespace {

inline cell* cells_of(memory::Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
inline int32_t count_of(memory::Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

bool is_list_source(uint8_t t) {
    return series::is_any_block(t) || t == TYPE_HASH || t == TYPE_MAP;
}

// The value at 1-based position i of a list from its head (none past the
// tail; an emptied map slot reads as none).
cell pick_value(const cell* values, int32_t i) {
    cell out{TYPE_NONE, 0, 0, 0};
    memory::Node* n = series::node_of(values);
    int32_t at = (int32_t)values->data1 + i - 1;
    if (at >= 0 && at < count_of(n)) out = cells_of(n)[at];
    if (out.type() == 0) none::make_at(&out);
    return out;
}

// The context a bind or in reaches through its second argument.
memory::Node* context_of_value(const cell* v) {
    switch (v->type()) {
    case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT: return object::context_of(v);
    case TYPE_FUNCTION: case TYPE_ROUTINE: return function::context_of(v);
    default: return word::context_of(v);  // any word
    }
}

[[noreturn]] void raise_script(const char* id, const cell* a1, const cell* a2 = nullptr) {
    cell* c1 = stack::push(a1);
    cell* c2 = a2 ? stack::push(a2) : nullptr;
    error::raise(error::SCRIPT, id, c1, c2);
}

}  // namespace

// --- Word blocks ----------------------------------------------------------------------

void set_words_from_values(cell* words, cell* values, int32_t n, bool any, bool only, bool some) {
    stack::TopMark mark;
    cell* ws = stack::push(words);
    cell* vs = stack::push(values);
    bool each = !only && is_list_source(vs->type());
    for (int32_t i = 1; i <= n; i++) {
        cell w = pick_value(ws, i);
        uint8_t t = w.type();
        // Only the four word kinds name a variable; anything else would be
        // written through as if it were a word.
        if (t < TYPE_WORD || t > TYPE_GET_WORD) raise_script("invalid-arg", &w);
        if (each && !any && pick_value(vs, i).type() == TYPE_UNSET) raise_script("need-value", &w);
    }
    for (int32_t i = 1; i <= n; i++) {
        cell v = each ? pick_value(vs, i) : *vs;
        if (some && object::is_none_value(&v)) continue;
        cell* top = stack::arguments.top;
        cell* value = stack::push(&v);
        cell w = pick_value(ws, i);
        word::set_in(stack::push(&w), value);
        stack::arguments.top = top;
    }
}

// --- Reading and writing words -----------------------------------------------------------

void get(const int32_t* refs) {
    bool any = given(refs, 0);
    cell* w = stack::arg(0);
    uint8_t t = w->type();
    if (t >= TYPE_PATH && t <= TYPE_GET_PATH) {
        stack::keep_first();
        cell path = *w;
        cell* held = stack::push(&path);
        interpreter::eval_path(held, nullptr, 0, false, true, false, given(refs, 1));
        if (sys::is_pending()) return;  // a break or return in a paren of the path
        if (stack::arg(0)->type() == TYPE_UNSET && !any) raise_script("no-value", &path);
        return;
    }
    if (t == TYPE_OBJECT) {
        object::reflect(w, words::sym_values);
        return;
    }
    cell v = *word::get_value(w);
    if (v.type() == TYPE_UNSET && !any) raise_script("no-value", w);
    stack::set_last(&v);
}

void set(const int32_t* refs) {
    bool any = given(refs, 0), case_ = given(refs, 1), only = given(refs, 2), some = given(refs, 3);
    cell* target = stack::arg(0);
    cell* value = stack::arg(1);
    if (value->type() == TYPE_UNSET && !any) raise_script("need-value", target);
    cell result = *value;
    uint8_t t = target->type();
    if (t == TYPE_BLOCK) {
        stack::Saved saved = stack::save();
        stack::mark_symbol(stack::sym_anon, stack::KIND_NATIVE);
        set_words_from_values(target, value, block::length_of(target), any, only, some);
        stack::restore(saved);
    } else if (t >= TYPE_PATH && t <= TYPE_GET_PATH) {
        stack::keep_first();
        cell* path = stack::push(target);
        stack::push(&result);
        interpreter::eval_path(path, nullptr, 0, true, false, false, case_);
        if (sys::is_pending()) return;
    } else if (t == TYPE_OBJECT) {
        object::set_fields(target, value, any, only, some);
    } else {
        word::set_in(target, value);
    }
    stack::set_last_only(&result);
}

void unset_(const int32_t*) {
    cell* target = stack::arg(0);
    cell nothing{TYPE_UNSET, 0, 0, 0};
    if (target->type() == TYPE_WORD) {
        word::set_in(target, &nothing);
    } else {
        // Handlers may change the block: its cells are read again each time.
        for (int32_t i = 0;; i++) {
            memory::Node* n = series::node_of(target);
            int32_t at = (int32_t)target->data1 + i;
            if (at >= count_of(n)) break;
            cell w = cells_of(n)[at];
            if (w.type() != TYPE_WORD) continue;
            cell* top = stack::arguments.top;
            word::set_in(stack::push(&w), &nothing);
            stack::arguments.top = top;
        }
    }
    unset::make_at(stack::arg(0));
}

void is_value(const int32_t*) {
    cell* v = stack::arg(0);
    bool has = v->type() != TYPE_UNSET;
    if (word::is_any_word_type(v->type())) {
        // An unbound word has no value rather than an error.
        has = word::context_of(v) && word::get_value(v)->type() != TYPE_UNSET;
    }
    logic::make_at(stack::arg(0), has);
}

void type_of(const int32_t* refs) {
    uint8_t t = stack::arg(0)->type();
    if (given(refs, 0)) {
        const cell* name = datatype::type_names[t].word;
        if (!name) error::raise_internal(error::Internal::not_done);
        cell w = *name;
        w.header = TYPE_WORD;
        stack::set_last(&w);
        return;
    }
    datatype::make_at(stack::arg(0), t);
}

// --- Binding -------------------------------------------------------------------------------

void bind(const int32_t* refs) {
    cell* target = stack::arg(0);
    memory::Node* ctx = context_of_value(stack::arg(1));
    if (!ctx) raise_script("not-defined", stack::arg(1));
    if (target->type() != TYPE_BLOCK) {
        word::bind_to(ctx, target);
        return;
    }
    // `self` names an object in a block bound to it.
    bool self = context::kind_of(ctx) == context::KIND_OBJECT;
    if (given(refs, 0)) {
        cell* copy = block::clone(target, true, true);
        context::bind_block(copy, ctx, self);
        stack::set_last(copy);
        return;
    }
    context::bind_block(target, ctx, self);
}

void in(const int32_t*) {
    cell* holder = stack::arg(0);
    uint8_t t = holder->type();
    memory::Node* ctx;
    if (t == TYPE_NATIVE || t == TYPE_ACTION || (t == TYPE_OP && native::op_source(holder) != TYPE_FUNCTION &&
                                                 native::op_source(holder) != TYPE_ROUTINE)) {
        // Built-in callables keep no context of their own: one made from the
        // spec names the same words.
        cell spec;
        series::make_at(&spec, TYPE_BLOCK, native::spec_of(holder), 0);
        cell* sp = stack::push(&spec);
        ctx = context::make_from_block(sp, true, false, context::KIND_FUNCTION);
        *context::owner(ctx) = *holder;
    } else {
        ctx = context_of_value(holder);
    }
    cell w = *stack::arg(1);
    if (word::bind_to(ctx, &w) < 0) {
        none::make_at(stack::arg(0));
        return;
    }
    if (w.type() == TYPE_REFINEMENT) cell::set_type(&w, TYPE_WORD);
    stack::set_last(&w);
}

void context_of(const int32_t*) {
    memory::Node* ctx = word::context_of(stack::arg(0));
    if (!ctx) {
        none::make_at(stack::arg(0));
        return;
    }
    if (ctx == context::global && context::owner(ctx)->type() == TYPE_UNSET) {
        // The global context's own object, made the first time it is asked for.
        object::push_context(ctx, object::next_class_id());
    }
    cell owner = *context::owner(ctx);
    if (owner.type() == TYPE_UNSET) none::make_at(&owner);
    stack::set_last(&owner);
}

// --- Objects and maps -------------------------------------------------------------------------

void construct(const int32_t* refs) {
    cell* prototype = given(refs, 0) ? stack::arg((uint32_t)refs[0]) : nullptr;
    cell* made = object::make_value(prototype, stack::arg(0), given(refs, 1));
    stack::set_last(made);
}

void extend(const int32_t* refs) {
    cell* target = stack::arg(0);
    if (target->type() != TYPE_MAP) error::raise_internal(error::Internal::not_done);
    cell* spec = stack::arg(1);
    if (spec->type() == TYPE_MAP) {
        // The live pairs of the source map, as a block.
        memory::Node* src = map::block_of(spec);
        cell* pairs = block::push_new(count_of(src));
        for (int32_t i = 0; i + 1 < count_of(map::block_of(spec)); i += 2) {
            src = map::block_of(spec);
            cell k = cells_of(src)[i], v = cells_of(src)[i + 1];
            if (v.type() == 0) continue;
            block::append_cell_copy(series::node_of(pairs), &k);
            block::append_cell_copy(series::node_of(pairs), &v);
        }
        spec = pairs;
    }
    map::extend(target, spec, given(refs, 0));
}

// --- New-line markers ----------------------------------------------------------------------

void new_line(const int32_t* refs) {
    cell* position = stack::arg(0);
    bool on = stack::arg(1)->data1 != 0;
    int32_t size = 0;
    if (given(refs, 1)) {
        cell* s = stack::arg((uint32_t)refs[1]);
        if ((int32_t)s->data2 < 1) raise_script("out-of-range", s);
        size = (int32_t)s->data2;
    }
    memory::Node* n = series::node_of(position);
    cell* c = cells_of(n);
    int32_t head = (int32_t)position->data1;
    int32_t tail = count_of(n);
    if (head < 0) head = 0;
    if (size) {
        for (int32_t i = head; i < tail; i++) cell::set_new_line(&c[i], ((i - head) % size == 0) == on);
    } else if (given(refs, 0)) {
        for (int32_t i = head; i < tail; i++) cell::set_new_line(&c[i], on);
    } else if (head < tail) {
        cell::set_new_line(&c[head], on);
    }
}

void is_new_line(const int32_t*) {
    cell* position = stack::arg(0);
    memory::Node* n = series::node_of(position);
    int32_t head = (int32_t)position->data1;
    bool marked = head >= 0 && head < count_of(n) && cell::has_new_line(&cells_of(n)[head]);
    logic::make_at(stack::arg(0), marked);
}

// --- Coercion ------------------------------------------------------------------------------------

namespace {

// 1: the list family, 2: the text family, 0: neither.
int family_of(uint8_t t) {
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH: return 1;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        return 2;
    default: return 0;
    }
}

}  // namespace

void as(const int32_t*) {
    cell* type = stack::arg(0);
    cell* spec = stack::arg(1);
    uint8_t to = type->type() == TYPE_DATATYPE ? (uint8_t)type->data1 : type->type();
    uint8_t from = spec->type();
    int family = family_of(to);
    if (!family || family != family_of(from)) {
        cell* a = datatype::push(from);
        cell* b = datatype::push(to);
        error::raise(error::SCRIPT, "not-same-class", a, b);
    }
    cell result = *spec;
    cell::set_type(&result, to);
    stack::set_last(&result);
}

}  // namespace natives
