// Literal loaders of the datatypes built outside the lexer (lexer_load.h).
// Each body that still raises not-done waits for its datatype's module.
#include "evaluator/lexer_load.h"

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error_out.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace lexer {

namespace {

[[noreturn]] void not_yet() { error::raise_internal(error::Internal::not_done); }

// The string!-shaped types: a string! of the decoded text, retyped, once the
// type is registered (its row of the action table is filled).
void require(uint8_t type);
bool load_text(Literal& l, cell* out, uint8_t type) {
    require(type);
    unicode::load_utf8_new((const uint8_t*)l.text.data(), (uint32_t)l.text.size(), out);
    cell::set_type(out, type);
    return true;
}

// --- One loader per datatype ---------------------------------------------------------

bool load_file(Literal& l, cell* out, bool) { return load_text(l, out, TYPE_FILE); }
bool load_url(Literal& l, cell* out, bool) { return load_text(l, out, TYPE_URL); }
bool load_tag(Literal& l, cell* out, bool) { return load_text(l, out, TYPE_TAG); }
bool load_email(Literal& l, cell* out, bool) { return load_text(l, out, TYPE_EMAIL); }
bool load_ref(Literal& l, cell* out, bool) { return load_text(l, out, TYPE_REF); }

// The types whose cells are fixed by their layout alone: written here once
// the type is registered. percent! and time! hold a double as float! does
// (the fraction; the seconds), pair! x and y in words 2 and 3.
void require(uint8_t type) {
    if (!datatype::entry(type, datatype::A_MOLD)) not_yet();
}
bool load_percent(Literal& l, cell* out, bool) {
    require(TYPE_PERCENT);
    *out = cell{TYPE_PERCENT, 0, 0, 0};
    cell::set_float(out, l.number[0]);
    return true;
}
bool load_time(Literal& l, cell* out, bool) {
    require(TYPE_TIME);
    *out = cell{TYPE_TIME, 0, 0, 0};
    cell::set_float(out, l.number[0]);
    return true;
}
bool load_pair(Literal& l, cell* out, bool) {
    require(TYPE_PAIR);
    *out = cell{TYPE_PAIR, 0, (uint32_t)l.integers[0], (uint32_t)l.integers[1]};
    return true;
}

bool load_binary(Literal& l, cell* out, bool) {
    binary::load_in(out, (const uint8_t*)l.text.data(), (uint32_t)l.text.size());
    return true;
}
bool load_tuple(Literal& l, cell* out, bool) {
    tuple::make_at(out, l.count, l.bytes);
    return true;
}
bool load_point2D(Literal& l, cell* out, bool) {
    point2D::make_in(out, (float)l.number[0], (float)l.number[1]);
    return true;
}
bool load_point3D(Literal& l, cell* out, bool) {
    point3D::make_in(out, (float)l.number[0], (float)l.number[1], (float)l.number[2]);
    return true;
}

// The checking ones: a check passes until the datatype can judge.
bool load_money(Literal& l, cell* out, bool load) {
    return money::make_in(load ? out : nullptr, l.token, l.length);
}
bool load_date(Literal& l, cell* out, bool load) { return date::scan(l.token, l.length, load ? out : nullptr); }
bool load_map(Literal& l, cell* out, bool load) {
    if (l.count % 2) return false;
    for (int32_t i = 0; i < l.count; i += 2)
        if (!map::is_valid_key(l.cells[i].type())) return false;
    if (!load) return true;
    // The elements are copied into a block first: the lexer's buffer may
    // move while the map is made.
    cell* blk = block::push_new(l.count);
    for (int32_t i = 0; i < l.count; i++) block::append_cell_copy(series::node_of(blk), &l.cells[i]);
    map::make(out, blk, TYPE_MAP);
    stack::pop(1);
    return true;
}

}  // namespace

Loader loader(uint8_t type) {
    switch (type) {
        case TYPE_FILE: return load_file;
        case TYPE_URL: return load_url;
        case TYPE_TAG: return load_tag;
        case TYPE_EMAIL: return load_email;
        case TYPE_REF: return load_ref;
        case TYPE_BINARY: return load_binary;
        case TYPE_PERCENT: return load_percent;
        case TYPE_TUPLE: return load_tuple;
        case TYPE_PAIR: return load_pair;
        case TYPE_POINT2D: return load_point2D;
        case TYPE_POINT3D: return load_point3D;
        case TYPE_TIME: return load_time;
        case TYPE_MONEY: return load_money;
        case TYPE_DATE: return load_date;
        case TYPE_MAP: return load_map;
        default: return nullptr;
    }
}

}  // namespace lexer
