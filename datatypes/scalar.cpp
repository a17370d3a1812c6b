#include "datatypes/scalar.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/ownership.h"

namespace scalar {

// --- Errors -------------------------------------------------------------------------

void raise_type_value(error::Script id, uint8_t type, const cell* value) {
    cell t;
    datatype::make_at(&t, type);
    error::raise_script(id, &t, value);
}

void invalid_type(const cell* value) {
    cell t;
    datatype::make_at(&t, value->type());
    error::raise_script(error::Script::invalid_type, &t);
}

void type_limit(uint8_t type) {
    cell t;
    datatype::make_at(&t, type);
    error::raise_script(error::Script::type_limit, &t);
}

void not_related(const cell* action_word, uint8_t type) {
    cell t;
    datatype::make_at(&t, type);
    error::raise_script(error::Script::not_related, action_word, &t);
}

void malconstruct(const cell* spec) { error::raise(error::SYNTAX, "malconstruct", spec); }

const cell* action_word(const char* spelling) {
    static cell copy;
    copy = *word::load(spelling);
    return &copy;
}

// --- Paths --------------------------------------------------------------------------

int32_t field_symbol(const cell* element) {
    if (element->type() != TYPE_WORD) return -1;
    return symbol::resolve(word::symbol_of(element));
}

int32_t field_index(const cell* element, int32_t (*by_symbol)(int32_t symbol)) {
    if (element->type() == TYPE_INTEGER) return (int32_t)element->data2;
    int32_t s = field_symbol(element);
    return s < 0 ? -1 : by_symbol(s);
}

void invalid_path(const cell* path, const cell* element) {
    error::raise_script(error::Script::invalid_path, path, element);
}

void after_write(cell* parent, const cell* old, cell* path, cell* holder, cell* element_cell,
                 bool owner) {
    if (!holder || holder == series::ABSENT) return;
    uint8_t t = holder->type();
    if (owner && t == TYPE_OBJECT) {
        // The field word is the path element that selected the parent.
        cell* field = element_cell ? element_cell - 1 : nullptr;
        if (!field || field->type() != TYPE_WORD) return;
        cell h = *holder, w = *field, before = *old, now = *parent;
        object::fire_on_change(&h, &w, &before, &now);
        return;
    }
    if (series::is_any_block(t) && holder->data2) {
        // The index of the written cell in its block, when it lies there.
        cell* cells = block::cells_of(series::node_of(holder));
        int32_t n = block::total_cells(series::node_of(holder));
        int32_t index = parent >= cells && parent < cells + n ? (int32_t)(parent - cells) : -1;
        cell h = *holder;
        ownership::check(&h, ownership::POKED, index, 1, nullptr);
    }
}

// --- Loading text ---------------------------------------------------------------------

bool is_text(uint8_t type) {
    switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: return true;
    default: return false;
    }
}

cell* from_text(cell* target, cell* text, uint8_t type) {
    cell* saved_top = stack::arguments.top;
    cell* values = stack::push_cell();
    lexer::Options options;
    lexer::load(text, -1, options, values);
    if (values->type() != TYPE_BLOCK || block::length_of(values) != 1 ||
        block::head_cell(values)->type() != type)
        raise_type_value(error::Script::bad_to_arg, type, text);
    cell::copy(block::head_cell(values), target);
    stack::arguments.top = saved_top;
    return target;
}

// --- Text -----------------------------------------------------------------------------

int32_t append(cell* out, const char* text, int32_t limit) {
    uint32_t n = (uint32_t)strlen(text);
    string::concatenate_bytes(out, text, n);
    return limit - (int32_t)n;
}

}  // namespace scalar
