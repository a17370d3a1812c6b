// error!: the catalog, making errors, the "*** " report, error/raise.
#include "datatypes/error.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"
#include "runtime/words.h"

namespace error {

Node* catalog_node = nullptr;
Node* template_node = nullptr;
cell thrown = {TYPE_UNSET, 0, 0, 0};
int32_t stack_trace = 0;
RaiseHook raise_hook = nullptr;
cell prebuilt[PREBUILT_COUNT];
static const char* const prebuilt_ids[PREBUILT_COUNT] = {"no-memory", "wrong-mem", "stack-overflow"};

// Roots: the catalog, the template, the error in flight and the prebuilt ones
// live in these globals only.
static collector::NodeRoot catalog_root(catalog_node, collector::Held::CONTEXT);
static collector::NodeRoot template_root(template_node, collector::Held::CONTEXT);
static collector::Root thrown_root(thrown);
// The error of a code parked at a platform boundary: later errors overwrite
// `thrown` before the parked code is raised again.
static cell parked = {TYPE_UNSET, 0, 0, 0};
static collector::Root parked_root(parked);
static void park_error(uint32_t code, sys::Parking what) noexcept {
    if (code != sys::THROW_ERROR) return;
    switch (what) {
    case sys::Parking::park: parked = thrown; break;
    case sys::Parking::resume: thrown = parked; [[fallthrough]];
    case sys::Parking::drop: parked = cell{TYPE_UNSET, 0, 0, 0}; break;
    }
}
static const bool park_hook_set = (sys::park_hook = park_error, true);
static void mark_prebuilt() { collector::mark_block(prebuilt, prebuilt + PREBUILT_COUNT); }
static const bool prebuilt_marked = (collector::register_marker(mark_prebuilt), true);

namespace {

constexpr uint32_t ERROR_CLASS = object::ERROR_CLASS_ID;

cell* cells_of(Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }

int32_t append_text(cell* out, const char* text, int32_t limit) {
    string::concatenate_cstr(out, text);
    return limit - (int32_t)strlen(text);
}

// --- Catalog reader ------------------------------------------------------------------
// A reader for exactly what errors.zol uses: comments, set-words, the words
// `make object!`, integers, strings with ^ escapes, blocks of strings and
// get-words, and get-words as field values. The lexer replaces it; the
// data file stays as it is.

struct Reader {
    const char* p;
    const char* end;

    [[noreturn]] void fail() {
        std::string near(p, std::min<size_t>(20, (size_t)(end - p)));
        sys::print({sys::PrintItem::String("*** Error catalog unreadable near: "),
                    sys::PrintItem::String(near.c_str()), sys::PrintItem::String("\n")});
        sys::quit(1, 0);
        __builtin_unreachable();
    }
    void skip_blank() {
        while (p < end) {
            if (*p == ';') {
                while (p < end && *p != '\n') p++;
            } else if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
                p++;
            } else {
                break;
            }
        }
    }
    bool at(char c) {
        skip_blank();
        return p < end && *p == c;
    }
    // A run of word characters.
    std::string token() {
        skip_blank();
        const char* s = p;
        while (p < end && !strchr(" \t\r\n[]\";", *p)) p++;
        if (s == p) fail();
        return std::string(s, p);
    }
    void expect(const char* t) {
        if (token() != t) fail();
    }
    // A value into `out` (a stable cell).
    void value(cell* out, bool in_block) {
        skip_blank();
        if (p >= end) fail();
        if (*p == '"') {
            std::string s;
            for (p++; p < end && *p != '"'; p++) {
                if (*p == '^' && p + 1 < end) {
                    p++;
                    s += *p == '/' ? '\n' : *p;
                } else {
                    s += *p;
                }
            }
            if (p >= end) fail();
            p++;
            string::load(s.data(), (int32_t)s.size(), out, 0);
        } else if (*p == '[') {
            p++;
            block::make_at(out, 8);
            stack::TopMark mark;
            cell* blk = stack::push(out);
            while (!at(']')) {
                cell* v = stack::push_cell();
                unset::make_at(v);
                value(v, true);
                block::append_cell_copy(series::node_of(blk), v);
                stack::pop(1);
            }
            p++;
        } else if (*p == ':') {
            p++;
            std::string t = token();
            word::make_cell(out, in_block ? TYPE_GET_WORD : TYPE_WORD, nullptr,
                            symbol::make(t.c_str()), -1);
        } else if ((*p >= '0' && *p <= '9') || *p == '-') {
            integer::make_at(out, atoi(token().c_str()));
        } else {
            word::make_cell(out, TYPE_WORD, nullptr, symbol::make(token().c_str()), -1);
        }
    }
    // `name: make object! [ fields ]` into ctx.
    void object_into(Node* ctx) {
        stack::TopMark mark;
        while (!at(']')) {
            std::string name = token();
            if (name.size() < 2 || name.back() != ':') fail();
            name.pop_back();
            cell* w = stack::push_cell();
            word::make_cell(w, TYPE_WORD, nullptr, symbol::make(name.c_str()), -1);
            cell* v = stack::push_cell();
            unset::make_at(v);
            if (at('m')) {
                expect("make");
                expect("object!");
                if (!at('[')) fail();
                p++;
                Node* sub = context::make(16, false, true, nullptr, context::KIND_OBJECT);
                *v = cell{TYPE_OBJECT, (uint32_t)(uintptr_t)sub, 0, 0};
                object::write_back_link(v);
                object_into(sub);
            } else {
                value(v, false);
            }
            context::put_value(ctx, w, v);
            stack::pop(2);
        }
        p++;
    }
};

void load_catalog(const char* catalog_text, size_t size) {
    catalog_node = context::make(CATEGORY_COUNT, false, true, nullptr, context::KIND_OBJECT);
    // The top level is read as the body of one object.
    std::string text = std::string(catalog_text, size) + "\n]";
    Reader all{text.c_str(), text.c_str() + text.size()};
    all.object_into(catalog_node);
    if (context::word_count(catalog_node) != CATEGORY_COUNT) all.fail();
    cell obj{TYPE_OBJECT, (uint32_t)(uintptr_t)catalog_node, 0, 0};
    object::write_back_link(&obj);
}

void make_template() {
    static const char* const names[FIELD_COUNT] = {"code", "type", "id", "arg1", "arg2",
                                                   "arg3", "near", "where", "stack", "files"};
    template_node = context::make(FIELD_COUNT, false, true, nullptr, context::KIND_OBJECT);
    stack::TopMark mark;
    cell* obj = stack::push_cell();
    *obj = cell{TYPE_OBJECT, (uint32_t)(uintptr_t)template_node, ERROR_CLASS, 0};
    object::write_back_link(obj);
    for (const char* n : names) object::put_field(obj, n, &none::none_cell);
}

int32_t category_of_symbol(int32_t symbol) {
    return context::find_word(catalog_node, symbol, true);
}

// A new error from the template, pushed.
cell* push_blank() {
    cell* e = stack::push_cell();
    none::make_at(e);
    cell tpl{TYPE_OBJECT, (uint32_t)(uintptr_t)template_node, ERROR_CLASS, 0};
    stack::TopMark mark;
    cell* src = stack::push(&tpl);
    object::copy_context(src, e, false, nullptr, false);
    e->header = TYPE_ERROR;
    e->data2 = ERROR_CLASS;
    e->data3 = 0;
    object::write_back_link(e);
    return e;
}

void set_field(cell* e, int32_t f, const cell* value) {
    cell v = *value;
    *context::value_cell_at(object::context_of(e), f) = v;
}

// Fills type, id and code from a category index and an id index.
void set_identity(cell* e, int32_t cat, int32_t id) {
    cell t, i, c;
    t = *category_word(cat);
    i = *id_word(cat, id);
    integer::make_at(&c, cat * 100 + id - 2);
    set_field(e, F_TYPE, &t);
    set_field(e, F_ID, &i);
    set_field(e, F_CODE, &c);
}

// The category and id of word values as indexes; raises invalid-spec-field
// (naming `type` or `id`) or invalid-arg as `make` from a block does.
void check_identity(const cell* type_value, const cell* id_value, int32_t* cat, int32_t* id) {
    stack::TopMark mark;
    cell* type_name = word::push_new(symbol::make("type"));
    cell* id_name = word::push_new(symbol::make("id"));
    if (!type_value || !word::is_any_word_type(type_value->type()))
        raise_script(Script::invalid_spec_field, type_name);
    *cat = category_of_symbol(word::symbol_of(type_value));
    if (*cat < 0) raise_script(Script::invalid_spec_field, type_name);
    if (!id_value || id_value->type() == TYPE_NONE || id_value->type() == TYPE_UNSET)
        raise_script(Script::invalid_spec_field, id_name);
    if (id_value->type() != TYPE_WORD) raise_script(Script::invalid_arg, id_value);
    *id = context::find_word(category_node(*cat), word::symbol_of(id_value), true);
    if (*id < 2) raise_script(Script::invalid_spec_field, id_name);
}

int32_t raising = 0;  // depth of raise: an error while making one throws bare

}  // namespace

// --- Catalog ------------------------------------------------------------------------------

// The template and the prebuilt errors, once the catalog is there.
static void finish_init() {
    make_template();
    stack::TopMark mark;
    for (int32_t k = 0; k < PREBUILT_COUNT; k++)
        prebuilt[k] = *create(category_word(INTERNAL),
                              id_word(INTERNAL, id_index(INTERNAL, prebuilt_ids[k])), nullptr,
                              nullptr, nullptr);
}

void init(const cell* catalog) {
    if (!catalog || catalog->type() != TYPE_OBJECT ||
        context::word_count(object::context_of(catalog)) != CATEGORY_COUNT) {
        sys::print({sys::PrintItem::String("*** Error catalog missing from the boot image\n")});
        sys::quit(sys::RT_UNKNOWN, 0);
    }
    catalog_node = object::context_of(catalog);
    finish_init();
}

void init_from_text(const char* text, size_t size) {
    load_catalog(text, size);
    finish_init();
}

void raise_prebuilt(const char* id) {
    for (int32_t k = 0; k < PREBUILT_COUNT; k++)
        if (catalog_node && strcmp(id, prebuilt_ids[k]) == 0) thrown = prebuilt[k];
    if (raise_hook && catalog_node) raise_hook(&thrown, true);
    sys::throw_code(sys::THROW_ERROR);
    __builtin_unreachable();
}

Node* category_node(int32_t category) {
    return object::context_of(context::value_cell_at(catalog_node, category));
}

cell* category_word(int32_t category) { return object::word_at_node(catalog_node, category); }
cell* id_word(int32_t category, int32_t index) {
    return object::word_at_node(category_node(category), index);
}

int32_t id_index(int32_t category, const char* spelling) {
    int32_t i = context::find_word(category_node(category), symbol::make(spelling), true);
    return i < 2 ? -1 : i;
}

int32_t code_of(int32_t category, const char* spelling) {
    int32_t i = id_index(category, spelling);
    return i < 0 ? -1 : category * 100 + i - 2;
}

cell* field(const cell* e, int32_t f) { return context::value_cell_at(object::context_of(e), f); }
int32_t get_type(const cell* e) { return word::symbol_of(field(e, F_TYPE)); }
int32_t get_id(const cell* e) { return word::symbol_of(field(e, F_ID)); }

// --- Making ---------------------------------------------------------------------------------

cell* create(const cell* type_word, const cell* id_word_value, const cell* arg1, const cell* arg2,
             const cell* arg3) {
    cell* top = stack::arguments.top;
    cell* t = stack::push(type_word ? type_word : &none::none_cell);
    cell* i = stack::push(id_word_value ? id_word_value : &none::none_cell);
    const cell* args[3] = {arg1 ? stack::push(arg1) : nullptr, arg2 ? stack::push(arg2) : nullptr,
                           arg3 ? stack::push(arg3) : nullptr};
    cell* e = push_blank();
    int32_t cat, id;
    check_identity(t, i, &cat, &id);
    set_identity(e, cat, id);
    for (int k = 0; k < 3; k++)
        if (args[k]) set_field(e, F_ARG1 + k, args[k]);
    cell result = *e;
    stack::arguments.top = top;
    return stack::push(&result);
}

cell* make(cell* target, cell* spec, int32_t type) {
    (void)type;
    stack::TopMark mark;
    cell* sp = stack::push(spec);
    cell* e = nullptr;
    switch (sp->type()) {
        case TYPE_INTEGER: {
            int32_t code = (int32_t)sp->data2;
            int32_t cat = code / 100;
            int32_t pos = code % 100;
            if (pos < 0) pos += 100;
            if (code < 0 || cat >= CATEGORY_COUNT ||
                pos + 2 >= context::word_count(category_node(cat)))
                raise_script(Script::out_of_range, sp);
            e = push_blank();
            set_identity(e, cat, pos + 2);
            break;
        }
        case TYPE_BLOCK: {
            Node* node = series::node_of(sp);
            int32_t head = (int32_t)sp->data1;
            int32_t n = (int32_t)(node->buffer->used_bytes() / sizeof(cell)) - head;
            const cell* first = n > 0 ? cells_of(node) + head : nullptr;
            if (first && first->type() == TYPE_WORD) {
                cell* t = stack::push(first);
                cell* i = n > 1 ? stack::push(cells_of(node) + head + 1) : nullptr;
                int32_t cat, id;
                check_identity(t, i, &cat, &id);
                e = push_blank();
                set_identity(e, cat, id);
            } else if (first && first->type() == TYPE_SET_WORD) {
                e = push_blank();
                if (object::eval_block) {
                    context::bind_block(sp, object::context_of(e), true);
                    object::eval_block(sp);
                } else {
                    // Until the evaluator runs the block, its values are taken as written.
                    object::construct_fields(e, sp, true);
                }
                cell* t = stack::push(field(e, F_TYPE));
                cell* i = stack::push(field(e, F_ID));
                int32_t cat, id;
                check_identity(t->type() == TYPE_WORD ? t : nullptr, i, &cat, &id);
                set_identity(e, cat, id);
            } else {
                raise(INTERNAL, "invalid-error");
            }
            break;
        }
        case TYPE_STRING: {
            cell* r = create(category_word(USER), id_word(USER, 2), sp, nullptr, nullptr);
            *target = *r;
            return target;
        }
        default: {
            cell* dt = datatype::push(TYPE_ERROR);
            raise_script(Script::bad_make_arg, dt, sp);
        }
    }
    // near: the evaluator's current position, once there is one.
    *target = *e;
    return target;
}

// --- Raising -----------------------------------------------------------------------------

void raise(int32_t count, const cell* const* items) {
    if (!catalog_node || raising > 0) sys::rethrow(sys::THROW_ERROR);
    raising++;
    cell* e;
    try {
        e = create(items[0], items[1], count > 2 ? items[2] : nullptr,
                   count > 3 ? items[3] : nullptr, count > 4 ? items[4] : nullptr);
    } catch (...) {
        raising--;
        throw;
    }
    raising--;
    // The hook may run user code (a tracer's error event) that raises errors
    // of its own: each of those is built anew, not taken for this one.
    if (raise_hook) raise_hook(e, false);
    thrown = *e;
    sys::throw_code(sys::THROW_ERROR);
    __builtin_unreachable();
}

void raise(int32_t category, const char* id, const cell* arg1, const cell* arg2,
           const cell* arg3) {
    if (!catalog_node || raising > 0) sys::rethrow(sys::THROW_ERROR);
    int32_t index = id_index(category, id);
    if (index < 0) {
        // An id the catalog lacks is a fault of the raiser: report it as such.
        category = INTERNAL;
        index = id_index(INTERNAL, "invalid-error");
        arg1 = word::push_new(symbol::make(id));
        arg2 = arg3 = nullptr;
    }
    cell* t = stack::push(category_word(category));
    cell* i = stack::push(id_word(category, index));
    const cell* items[5] = {t, i, arg1, arg2, arg3};
    raise(5, items);
}

void raise_2(const cell* value1, const cell* value2) { raise(SCRIPT, "bad-make-arg", value1, value2); }

// --- Report -------------------------------------------------------------------------------

int32_t reduce_message(cell* message, cell* out, cell* e, int32_t limit) {
    stack::TopMark mark;
    cell* msg = stack::push(message);
    Node* node = series::node_of(msg);
    int32_t head = (int32_t)msg->data1;
    int32_t n = (int32_t)(node->buffer->used_bytes() / sizeof(cell));
    bool syntax = category_of_symbol(get_type(e)) == SYNTAX;
    cell* part = integer::push(80);
    for (int32_t k = head; k < n; k++) {
        cell* v = stack::push(cells_of(node) + k);
        if (v->type() == TYPE_STRING) {
            limit = actions::form_typed(v, out, series::ABSENT, limit);
        } else if (v->type() == TYPE_WORD || v->type() == TYPE_GET_WORD) {
            int32_t f = context::find_word(object::context_of(e), word::symbol_of(v), true);
            cell* value = stack::push(f < 0 ? &none::none_cell : field(e, f));
            int32_t left = syntax ? actions::form_typed(value, out, part, 80)
                                  : actions::mold_typed(value, out, false, false, true, part, 80, 0);
            limit -= 80 - left;
        }
        if (k + 1 < n) limit = append_text(out, " ", limit);
    }
    return limit;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    (void)part;
    stack::TopMark mark;
    cell* e = stack::push(value);
    limit = append_text(out, "*** ", limit);
    int32_t cat = category_of_symbol(get_type(e));
    int32_t id = cat < 0 ? -1 : context::find_word(category_node(cat), get_id(e), true);
    if (cat < 0 || id < 2) {
        // Reported as internal invalid-error naming the unknown word; the
        // error itself is left as it is: the report is made from a copy.
        cell* copy = stack::push_cell();
        object::copy_context(e, copy, false, nullptr, false);
        set_field(copy, F_ARG1, field(e, cat < 0 ? F_TYPE : F_ID));
        cat = INTERNAL;
        id = id_index(INTERNAL, "invalid-error");
        set_identity(copy, cat, id);
        e = copy;
    }
    Node* cctx = category_node(cat);
    cell* title = stack::push(context::value_cell_at(cctx, 1));
    cell* msg = stack::push(context::value_cell_at(cctx, id));
    if (msg->type() == TYPE_WORD) {
        int32_t f = context::find_word(object::context_of(e), word::symbol_of(msg), true);
        *msg = f < 0 ? none::none_cell : *field(e, f);
    }
    limit = actions::form_typed(title, out, series::ABSENT, limit);
    limit = append_text(out, ": ", limit);
    if (msg->type() == TYPE_STRING) limit = actions::form_typed(msg, out, series::ABSENT, limit);
    else if (msg->type() == TYPE_BLOCK) limit = reduce_message(msg, out, e, limit);
    limit = append_text(out, "\n*** Where: ", limit);
    cell* where = stack::push(field(e, F_WHERE));
    if (where->type() == TYPE_WORD) limit = word::form(where, out, series::ABSENT, limit);
    else if (where->type() == TYPE_STRING) limit = actions::form_typed(where, out, series::ABSENT, limit);
    else limit = append_text(out, "???", limit);
    limit = append_text(out, "\n*** Near : ", limit);
    cell* part40 = integer::push(40);
    cell* near = stack::push(field(e, F_NEAR));
    limit -= 40 - actions::mold_typed(near, out, true, false, true, part40, 40, 0);
    if (stack_trace > 0) {
        cell* st = stack::push(field(e, F_STACK));
        if (st->type() == TYPE_INTEGER) {
            limit = append_text(out, "\n*** Stack: ", limit);
            limit = stack::form_calls(e, stack_trace, out, limit);
        } else if (st->type() == TYPE_BLOCK) {
            limit = append_text(out, "\n*** Stack: ", limit);
            limit = actions::form_typed(st, out, series::ABSENT, limit);
        }
    }
    cell* files = stack::push(field(e, F_FILES));
    if (files->type() == TYPE_BLOCK) {
        limit = append_text(out, "\n*** Files: ", limit);
        limit -= 40 - actions::mold_typed(files, out, true, false, true, part40, 40, 0);
    }
    return limit;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    if (!only) limit = append_text(out, "make error! [", limit);
    limit = object::serialize_fields(value, out, only, all, flat, part, limit, true, indent + 1, true);
    if (indent >= 1)
        for (int32_t k = 0; k < indent; k++) limit = append_text(out, "    ", limit);
    if (!only) limit = append_text(out, "]", limit);
    return limit;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_ERROR) return datatype::NOT_COMPARABLE;
    cell::set_type(b, TYPE_OBJECT);
    int32_t r;
    try {
        r = object::compare(a, b, op);
    } catch (...) {
        cell::set_type(b, TYPE_ERROR);
        throw;
    }
    cell::set_type(b, TYPE_ERROR);
    return r;
}

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry entries[] = {
        on<A_MAKE>(make), INHERIT, INHERIT, INHERIT, on<A_FORM>(form), on<A_MOLD>(mold),
        // Fields through paths as an object's, the stack field included: the
        // report reads only frames still on the call stack, so a number
        // written there cannot point it anywhere else.
        on<A_EVAL_PATH>(object::eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,   // math
        NO, NO, NO, NO, NO, INHERIT, INHERIT, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,          // series
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                   // I/O
    };
    // clang-format on
    define(TYPE_ERROR, TYPE_OBJECT, "error!", entries);
}

}  // namespace error
