#include "datatypes/event.h"

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/words.h"

namespace event {

using namespace datatype;

// --- Words ------------------------------------------------------------------------------

namespace {

const char* const type_names[TYPE_COUNT] = {
    "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up",
    "click", "dbl-click", "wheel", "over", "key", "key-down", "key-up", "ime", "focus",
    "unfocus", "enter", "zoom", "pan", "rotate", "two-tap", "press-tap", "select", "change",
    "menu", "close", "move", "resize", "moving", "resizing", "time", "drawing", "scroll",
    "minimize", "maximize", "restore",
};

struct Flag {
    const char* name;
    uint32_t bit;
};
const Flag flag_table[] = {
    {"aux-down", FLAG_AUX_DOWN}, {"alt-down", FLAG_ALT_DOWN}, {"mid-down", FLAG_MID_DOWN},
    {"down", FLAG_DOWN},         {"away", FLAG_AWAY},         {"control", FLAG_CONTROL},
    {"shift", FLAG_SHIFT},       {"alt", FLAG_ALT},           {"command", FLAG_COMMAND},
};
constexpr int32_t FLAG_COUNT = sizeof flag_table / sizeof flag_table[0];

// The bits the logic fields 8-14 test, by field.
const uint32_t field_bits[] = {FLAG_AWAY, FLAG_DOWN, FLAG_MID_DOWN, FLAG_ALT_DOWN,
                               FLAG_AUX_DOWN, FLAG_CONTROL, FLAG_SHIFT};

// Canonical symbols; 0 until init_words.
int32_t type_symbols[TYPE_COUNT + 1];
int32_t flag_symbols[FLAG_COUNT];
int32_t field_symbols[FIELD_COUNT + 1];

int32_t canonical(const char* spelling) { return symbol::resolve(symbol::make(spelling)); }
int32_t canonical_of(const cell* word) { return symbol::resolve(word::symbol_of(word)); }

}  // namespace

void init_words() {
    for (int32_t i = 0; i < TYPE_COUNT; i++) type_symbols[i + 1] = canonical(type_names[i]);
    for (int32_t i = 0; i < FLAG_COUNT; i++) flag_symbols[i] = canonical(flag_table[i].name);
    const int32_t fields[FIELD_COUNT] = {
        words::sym_type,      words::sym_face,        words::sym_window,     words::sym_offset,
        words::sym_key,       words::sym_picked,      words::sym_flags,      words::sym_is_away,
        words::sym_is_down,   words::sym_is_mid_down, words::sym_is_alt_down, words::sym_is_aux_down,
        words::sym_is_ctrl,   words::sym_is_shift,    words::sym_orientation,
    };
    for (int32_t i = 0; i < FIELD_COUNT; i++) field_symbols[i + 1] = symbol::resolve(fields[i]);
}

int32_t code_of(const cell* w) {
    if (!word::is_any_word_type(w->type())) return 0;
    int32_t s = canonical_of(w);
    for (int32_t code = 1; code <= TYPE_COUNT; code++)
        if (type_symbols[code] == s) return code;
    return 0;
}

cell* type_word(int32_t code, cell* out) {
    if (code < 1 || code > TYPE_COUNT) return none::make_at(out);
    return word::make_at(type_symbols[code], out);
}

uint32_t flag_bit(const cell* w) {
    if (!word::is_any_word_type(w->type())) return 0;
    int32_t s = canonical_of(w);
    for (int32_t i = 0; i < FLAG_COUNT; i++)
        if (flag_symbols[i] == s) return flag_table[i].bit;
    return 0;
}

static int32_t field_of_symbol(int32_t s) {
    for (int32_t f = 1; f <= FIELD_COUNT; f++)
        if (field_symbols[f] == s) return f;
    return -1;
}

int32_t field_index(const cell* w) {
    return word::is_any_word_type(w->type()) ? field_of_symbol(canonical_of(w)) : -1;
}

// --- Stand-ins for the backend --------------------------------------------------------------

namespace {

// A block of the words of the flag bits set, in table order.
void flag_words(uint32_t flags, cell* result) {
    stack::TopMark mark;
    cell* blk = block::push_new(FLAG_COUNT);
    for (int32_t i = 0; i < FLAG_COUNT; i++)
        if (flags & flag_table[i].bit) word::append_new(flag_symbols[i], series::node_of(blk));
    cell::copy(blk, result);
}

void key_of(uint32_t word3, cell* result) {
    uint32_t key = word3 & KEY_MASK;
    if (key) char_::make_at(result, (int32_t)key);
    else none::make_at(result);
}

void answer_none(const cell*, cell* result) { none::make_at(result); }
void answer_origin(const cell*, cell* result) { pair::make_at(result, 0, 0); }
void answer_key(const cell* e, cell* result) { key_of(e->data3, result); }
void answer_flags(const cell* e, cell* result) { flag_words(e->data3, result); }
bool test_flag(uint32_t flags, uint32_t mask) { return (flags & mask) != 0; }
bool send_nothing(const cell*, bool) { return false; }

}  // namespace

const Backend stand_in = {answer_none, answer_none, answer_origin, answer_key, answer_none,
                          answer_flags, answer_none, test_flag, send_nothing};
Backend backend = stand_in;

// --- Fields -----------------------------------------------------------------------------------

cell* make_at(cell* c, int32_t code, uint32_t record, uint32_t flags) {
    c->header = TYPE_EVENT;
    c->data1 = (uint32_t)code;
    c->data2 = record;
    c->data3 = flags;
    return c;
}

// Positions in a script-made event's block.
enum Slot : int32_t { S_FACE = 0, S_WINDOW, S_OFFSET, S_PICKED, SLOT_COUNT };

static void own_field(const cell* e, int32_t f, cell* result) {
    memory::Node* data = reinterpret_cast<memory::Node*>((uintptr_t)e->data2);
    int32_t slot = f == F_FACE ? S_FACE : f == F_WINDOW ? S_WINDOW : f == F_OFFSET ? S_OFFSET : S_PICKED;
    cell::copy(block::cells_of(data) + slot, result);
}

cell* get_field(const cell* e, int32_t f, cell* result) {
    bool own = (e->header & SCRIPT_MADE) != 0;
    const Backend& b = own ? stand_in : backend;
    switch (f) {
    case F_TYPE: return type_word((int32_t)e->data1, result);
    case F_FACE: case F_WINDOW: case F_OFFSET: case F_PICKED:
        if (own) {
            own_field(e, f, result);
            return result;
        }
        (f == F_FACE ? b.face : f == F_WINDOW ? b.window : f == F_OFFSET ? b.offset : b.picked)(e, result);
        return result;
    case F_KEY: b.key(e, result); return result;
    case F_FLAGS: b.flags(e, result); return result;
    case F_ORIENTATION: b.orientation(e, result); return result;
    default:
        return logic::make_at(result, b.flag(e->data3, field_bits[f - F_IS_AWAY]));
    }
}

// A field read into a new top cell, from a copy of the event (the getters
// may allocate, and `e` may lie in a block).
static cell* push_field(const cell* e, int32_t f) {
    cell* copy = stack::push(e);
    cell* result = stack::push_cell();
    get_field(copy, f, result);
    cell::copy(result, copy);
    stack::pop(1);
    return copy;
}

bool find_flag(const cell* flags, const cell* w) {
    if (!word::is_any_word_type(w->type())) return false;
    int32_t s = canonical_of(w);
    auto same = [s](const cell* c) { return word::is_any_word_type(c->type()) && canonical_of(c) == s; };
    if (flags->type() != TYPE_BLOCK) return same(flags);
    cell blk = *flags;
    for (const cell *c = block::head_cell(&blk), *end = block::tail_cell(&blk); c < end; c++)
        if (same(c)) return true;
    return false;
}

// --- Actions ----------------------------------------------------------------------------------

[[noreturn]] static void not_event_type(const cell* value) {
    error::raise(error::SCRIPT, "not-event-type", value);
}

cell* make(cell* target, cell* spec, int32_t type) {
    if (spec->type() != TYPE_BLOCK) scalar::raise_type_value(error::Script::bad_make_arg, TYPE_EVENT, spec);
    stack::TopMark mark;
    cell* slots = stack::push_cell();
    none::make_at(slots);
    none::make_at(stack::push_cell());
    pair::make_at(stack::push_cell(), 0, 0);
    integer::make_at(stack::push_cell(), 0);
    int32_t code = 0;
    uint32_t word3 = 0;
    // Nothing below allocates until the block is made: the spec's cells are
    // read in place.
    cell blk = *spec;
    const cell* c = block::head_cell(&blk);
    const cell* end = block::tail_cell(&blk);
    for (; c < end; c++) {
        if (c->type() != TYPE_SET_WORD || c + 1 >= end) continue;
        const cell* v = c + 1;
        if (v->type() == TYPE_WORD) v = word::get_value(v);
        uint8_t t = v->type();
        int32_t s = canonical_of(c);
        if (s == field_symbols[F_TYPE] && (t == TYPE_WORD || t == TYPE_LIT_WORD)) {
            code = code_of(v);
            if (!code) not_event_type(v);
        } else if (s == field_symbols[F_KEY] && t == TYPE_CHAR) {
            word3 = (word3 & ~KEY_MASK) | (v->data2 & KEY_MASK);
        } else if (s == field_symbols[F_FLAGS] && t == TYPE_BLOCK) {
            cell flags = *v;
            for (const cell *f = block::head_cell(&flags), *fe = block::tail_cell(&flags); f < fe; f++)
                word3 |= flag_bit(f);
        } else if ((s == field_symbols[F_FACE] || s == field_symbols[F_WINDOW]) && t == TYPE_OBJECT) {
            cell::copy(v, slots + (s == field_symbols[F_FACE] ? S_FACE : S_WINDOW));
        } else if (s == field_symbols[F_OFFSET] && (t == TYPE_PAIR || t == TYPE_POINT2D)) {
            cell::copy(v, slots + S_OFFSET);
        } else if (s == field_symbols[F_PICKED] && t == TYPE_INTEGER) {
            cell::copy(v, slots + S_PICKED);
        }
    }
    cell* data = block::push_new(SLOT_COUNT);
    for (int32_t i = 0; i < SLOT_COUNT; i++) block::append_cell_copy(series::node_of(data), slots + i);
    uint32_t node = data->data2;
    target->header = TYPE_EVENT | SCRIPT_MADE;
    target->data1 = (uint32_t)code;
    target->data2 = node;
    target->data3 = word3;
    return target;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) { return scalar::append(out, "event", limit); }

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    int32_t f = scalar::field_index(element, field_of_symbol);
    if (f < 1 || f > FIELD_COUNT) scalar::invalid_path(path, element);
    if (!value) return push_field(parent, f);
    if (f != F_TYPE || value->type() != TYPE_WORD) error::raise_script(error::Script::bad_path_set, path, element);
    int32_t code = code_of(value);
    if (!code) not_event_type(value);
    cell old = *parent;
    parent->data1 = (uint32_t)code;
    scalar::after_write(parent, &old, path, holder, element_cell, owner);
    return stack::push(value);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_EVENT) return NOT_COMPARABLE;
    switch (op) {
    case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL: case OP_FIND:
    case OP_SORT: case OP_CASE_SORT: return 0;
    default: return NOT_COMPARABLE;
    }
}

cell* access_field(cell* series, int32_t index, cell* index_cell) {
    int32_t f = index_cell->type() == TYPE_INTEGER ? index : field_index(index_cell);
    if (f < 1 || f > FIELD_COUNT) error::raise_script(error::Script::out_of_range, index_cell);
    cell* r = push_field(series, f);
    return cell::copy(r, series);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, NO, NO, on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_PICK>(access_field), NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_EVENT, 0, "event!", list);
}

}  // namespace event
