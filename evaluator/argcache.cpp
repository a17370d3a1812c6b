#include "evaluator/argcache.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/words.h"

namespace argcache {

namespace {

void add_type(cell* bits, uint8_t t) { typeset::set_bit(bits, t); }
void add_types(cell* bits, std::initializer_list<uint8_t> types) {
    for (uint8_t t : types) add_type(bits, t);
}

// The language's typesets by name, as their types.
struct Named {
    const char* name;
    int32_t symbol;
    void (*fill)(cell*);
};

void any_block(cell* b) {
    add_types(b, {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
}
void any_string(cell* b) { add_types(b, {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}); }
void series_types(cell* b) {
    any_block(b);
    any_string(b);
    add_types(b, {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR});
}

Named named[] = {
    {"any-type!", 0, [](cell* b) { for (uint8_t t = 1; t <= TYPE_EVENT; t++) add_type(b, t); }},
    {"default!", 0, [](cell* b) { for (uint8_t t = 1; t <= TYPE_EVENT; t++) if (t != TYPE_UNSET) add_type(b, t); }},
    {"number!", 0, [](cell* b) { add_types(b, {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}); }},
    {"scalar!", 0, [](cell* b) {
         add_types(b, {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_TIME,
                       TYPE_DATE, TYPE_MONEY, TYPE_POINT2D, TYPE_POINT3D});
     }},
    {"any-word!", 0, [](cell* b) { add_types(b, {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}); }},
    {"all-word!", 0, [](cell* b) {
         add_types(b, {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE});
     }},
    {"any-path!", 0, [](cell* b) { add_types(b, {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}); }},
    {"any-list!", 0, [](cell* b) { add_types(b, {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}); }},
    {"any-block!", 0, any_block},
    {"any-string!", 0, any_string},
    {"series!", 0, series_types},
    {"any-object!", 0, [](cell* b) { add_types(b, {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}); }},
    {"any-function!", 0, [](cell* b) {
         add_types(b, {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
     }},
    {"any-point!", 0, [](cell* b) { add_types(b, {TYPE_POINT2D, TYPE_POINT3D}); }},
    {"immediate!", 0, [](cell* b) {
         add_types(b, {TYPE_DATATYPE, TYPE_NONE, TYPE_LOGIC, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_WORD,
                       TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE,
                       TYPE_TYPESET, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_TIME, TYPE_DATE, TYPE_MONEY,
                       TYPE_HANDLE, TYPE_POINT2D, TYPE_POINT3D, TYPE_TRIPLE});
     }},
};

void all_but_unset(cell* b) {
    for (uint8_t t = 1; t <= TYPE_EVENT; t++)
        if (t != TYPE_UNSET) add_type(b, t);
}

// Adds the types an element of a type block names.
void add_element(cell* bits, const cell* e) {
    if (e->type() == TYPE_DATATYPE) {
        // series! is a datatype no value carries: it stands for its family.
        if (e->data1 == TYPE_SERIES) series_types(bits);
        else add_type(bits, (uint8_t)e->data1);
        return;
    }
    if (e->type() == TYPE_TYPESET) {
        bits->data1 |= e->data1;
        bits->data2 |= e->data2;
        bits->data3 |= e->data3;
        return;
    }
    if (e->type() != TYPE_WORD) return;
    if (e->data1 && (int32_t)e->data3 >= 0 && context::has_values(word::context_of(e))) {
        cell* v = context::value_cell_at(word::context_of(e), (int32_t)e->data3);
        if (v->type() == TYPE_DATATYPE || v->type() == TYPE_TYPESET) {
            cell copy = *v;
            add_element(bits, &copy);
            return;
        }
    }
    builtin_typeset(e, bits);
}

cell* cells_of(memory::Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
int32_t cell_count(memory::Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

// Builds the cache of a spec into a new block pushed on the stack.
cell* build(memory::Node* spec) {
    cell* blk = block::push_new(8);
    memory::Node* out = series::node_of(blk);
    int32_t sym_local = symbol::resolve(word::symbol_of(words::refinement_local));
    int32_t sym_extern = symbol::resolve(word::symbol_of(words::refinement_extern));
    int32_t slot = 0, refinements = 0, locals = 0;
    int32_t count = cell_count(spec);
    for (int32_t i = 0; i < count; i++) {
        cell c = cells_of(spec)[i];
        uint8_t t = c.type();
        if (t == TYPE_BLOCK || t == TYPE_STRING) continue;  // attributes, docs, type blocks
        if (t == TYPE_REFINEMENT) {
            int32_t s = symbol::resolve(word::symbol_of(&c));
            if (s == sym_local || s == sym_extern) {
                locals = 1;
                for (int32_t j = i + 1; j < count; j++)
                    if (cells_of(spec)[j].type() == TYPE_WORD) locals++;
                break;
            }
            cell r{TYPE_REFINEMENT | ((uint32_t)slot << SLOT_SHIFT), 0, c.data2, (uint32_t)++refinements};
            block::append_cell_copy(out, &r);
            slot++;
            continue;
        }
        uint32_t mode;
        switch (t) {
            case TYPE_WORD: mode = EVALUATED; break;
            case TYPE_GET_WORD: mode = LITERAL; break;
            case TYPE_LIT_WORD: mode = QUOTED; break;
            case TYPE_SET_WORD: mode = RETURN; break;
            default: continue;
        }
        cell bits{TYPE_TYPESET, 0, 0, 0};
        if (i + 1 < count && cells_of(spec)[i + 1].type() == TYPE_BLOCK) {
            cell types = cells_of(spec)[i + 1];
            memory::Node* tn = series::node_of(&types);
            for (int32_t k = (int32_t)types.data1; k < cell_count(tn); k++) {
                cell e = cells_of(tn)[k];
                add_element(&bits, &e);
            }
        } else {
            all_but_unset(&bits);
        }
        bits.header = TYPE_TYPESET | (mode << MODE_SHIFT) | ((uint32_t)(mode == RETURN ? 0 : slot) << SLOT_SHIFT);
        block::append_cell_copy(out, &bits);
        if (mode != RETURN) slot++;
    }
    cell n;
    block::append_cell_copy(out, series::make_integer(&n, locals));
    block::append_cell_copy(out, series::make_integer(&n, refinements));
    return blk;
}

}  // namespace

bool builtin_typeset(const cell* w, cell* bits) {
    static bool ready = false;
    if (!ready) {
        for (Named& n : named) n.symbol = symbol::resolve(symbol::make(n.name));
        ready = true;
    }
    int32_t s = symbol::resolve(word::symbol_of(w));
    for (Named& n : named) {
        if (n.symbol != s) continue;
        if (bits) n.fill(bits);
        return true;
    }
    return false;
}

cell get(const cell* callable) {
    cell f = *callable;
    uint8_t t = f.type();
    if (t == TYPE_OP) t = native::op_source(&f);
    memory::Node* record = reinterpret_cast<memory::Node*>((uintptr_t)f.data3);
    cell* slot = cells_of(record) + 1;
    if (slot->type() == TYPE_BLOCK) return *slot;
    cell* top = stack::arguments.top;
    collector::Root root(f);
    cell* blk = build(native::spec_of(&f));
    cell result = *blk;
    record = reinterpret_cast<memory::Node*>((uintptr_t)f.data3);
    cells_of(record)[1] = result;
    stack::arguments.top = top;
    return result;
}

}  // namespace argcache
