#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/memory.h"

using namespace datatype;

namespace {

cell* retype_and_push(cell* value, uint8_t type) {
    cell::set_type(value, type);
    return stack::push(value);
}

// Forms or molds a path's elements with "/" between them.
int32_t walk(cell* value, cell* out, bool mold, bool all, bool flat, cell* part, int32_t budget) {
    if (cycles::detect(value, out, &budget, mold)) return budget;
    memory::Node* node = series::node_of(value);
    cycles::Frame frame(node);
    series::units_from_head(value, false);
    int32_t h = (int32_t)value->data1 < 0 ? 0 : (int32_t)value->data1;
    bool has_part = stack::is_given(part);
    for (int32_t i = h; i < block::total_cells(node); i++) {
        if (i > h) {
            string::concatenate_cstr(out, "/");
            budget--;
        }
        cell c = block::cells_of(node)[i];
        budget = mold ? actions::mold_typed(&c, out, false, all, flat, part, budget, 0)
                      : actions::form_typed(&c, out, part, budget);
        if (has_part && budget < 1) break;
    }
    return budget;
}

}  // namespace

namespace paren {

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    int32_t budget = limit;
    if (cycles::detect(value, out, &budget, true)) return budget;
    if (!only) {
        string::concatenate_cstr(out, "(");
        budget--;
    }
    budget = block::mold_each(value, out, only, all, flat, part, budget, indent);
    if (!only) {
        string::concatenate_cstr(out, ")");
        budget--;
    }
    return budget;
}

cell* push_retyped(cell* value) { return retype_and_push(value, TYPE_PAREN); }

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, on<A_MOLD>(mold), INHERIT, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,               // math
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(TYPE_PAREN, TYPE_BLOCK, "paren!", list);
}

}  // namespace paren

namespace path {

cell* make(cell* target, cell* spec, int32_t type) {
    uint8_t t = spec->type();
    if (series::is_any_block(t)) return block::to(target, spec, type);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT) {
        double d = t == TYPE_INTEGER ? (double)(int32_t)spec->data2 : cell::get_float(spec);
        // Room outside 1..2^20 cells is clamped: a path that size is a mistake,
        // not a request.
        int32_t n = !(d >= 1) ? 1 : d > 1048576 ? 1048576 : (int32_t)d;
        block::make_at(target, n);
        cell::set_type(target, (uint8_t)type);
        return target;
    }
    cell dt;
    datatype::make_at(&dt, (uint8_t)type);
    error::raise_script(error::Script::bad_make_arg, &dt, spec);
}

cell* to(cell* target, cell* spec, int32_t type) {
    uint8_t t = spec->type();
    if (t == TYPE_OBJECT || t == TYPE_TYPESET || t == TYPE_MAP) {
        cell v = *spec;
        block::make_at(target, 1);
        block::append_cell_copy(series::node_of(target), &v);
        cell::set_type(target, (uint8_t)type);
        return target;
    }
    return block::to(target, spec, type);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return walk(value, out, false, false, false, part, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return walk(value, out, true, all, flat, part, limit);
}

cell* make_at(cell* c, int32_t n) {
    block::make_at(c, n);
    return cell::set_type(c, TYPE_PATH);
}

cell* push_retyped(cell* value) { return retype_and_push(value, TYPE_PATH); }

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, INHERIT, on<A_TO>(to), on<A_FORM>(form), on<A_MOLD>(mold),
        INHERIT, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,               // math
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(TYPE_PATH, TYPE_BLOCK, "path!", list);
}

}  // namespace path

namespace {

// The path mold with a prefix or suffix character.
int32_t mold_with(cell* value, cell* out, bool all, bool flat, cell* part, int32_t budget,
                  const char* prefix, const char* suffix) {
    if (*prefix) {
        string::concatenate_cstr(out, prefix);
        budget--;
    }
    budget = walk(value, out, true, all, flat, part, budget);
    if (*suffix) {
        string::concatenate_cstr(out, suffix);
        budget--;
    }
    return budget;
}

// The three derived path types inherit everything from path! but mold.
void define_derived(uint8_t type, const char* name, Sig<A_MOLD>::fn mold) {
    // clang-format off
    const Entry list[] = {
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, on<A_MOLD>(mold), INHERIT, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,               // math
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(type, TYPE_PATH, name, list);
}

}  // namespace

namespace lit_path {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return mold_with(value, out, all, flat, part, limit, "'", "");
}
cell* push_retyped(cell* value) { return retype_and_push(value, TYPE_LIT_PATH); }
void register_type() { define_derived(TYPE_LIT_PATH, "lit-path!", mold); }
}  // namespace lit_path

namespace set_path {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return mold_with(value, out, all, flat, part, limit, "", ":");
}
cell* push_retyped(cell* value) { return retype_and_push(value, TYPE_SET_PATH); }
void register_type() { define_derived(TYPE_SET_PATH, "set-path!", mold); }
}  // namespace set_path

namespace get_path {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return mold_with(value, out, all, flat, part, limit, ":", "");
}
cell* push_retyped(cell* value) { return retype_and_push(value, TYPE_GET_PATH); }
void register_type() { define_derived(TYPE_GET_PATH, "get-path!", mold); }
}  // namespace get_path
