// The datatype registry and datatype!.
#include "datatypes/datatype.h"

#include <cstring>

#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/tracked.h"

namespace datatype {

TypeName* type_names = nullptr;
ActionFn* action_table = nullptr;
uint32_t top_type_id = 0;
// Set once `make_words` ran: later registrations intern their word at once.
static bool words_made = false;

void init_tables() {
    type_names = (TypeName*)sys::allocate_zeroed(sys::size_mul(TYPE_SLOTS, sizeof(TypeName)));
    action_table = (ActionFn*)sys::allocate_zeroed(
        sys::size_mul(TYPE_SLOTS * ROW_SIZE, sizeof(ActionFn)));
}

// A registration that cannot be right: report it and stop. The program is
// unusable, so this must never look like a normal exit.
[[noreturn]] static void refuse(const char* what, uint32_t type, int32_t found,
                                int32_t expected) {
    using sys::PrintItem;
    sys::prin({PrintItem::String("*** Datatype Error: "), PrintItem::String(what),
               PrintItem::Integer((int32_t)type), PrintItem::String("\n"),
               PrintItem::String("*** Found: "), PrintItem::Integer(found), PrintItem::String("\n"),
               PrintItem::String("*** Expected: "), PrintItem::Integer(expected),
               PrintItem::String("\n")});
    sys::free_all();
    platform::exit_process(EXIT_BAD_REGISTRATION);
}

void define(uint32_t count, uint8_t type, uint8_t parent, const char* name, const Entry* entries) {
    // Everything is checked before the row is touched.
    if (count != ACTION_COUNT)
        refuse("invalid actions count for type: ", type, (int32_t)count, ACTION_COUNT);
    if (type == 0 || type >= TYPE_SLOTS) refuse("invalid type id: ", type, type, 1);
    if (parent >= TYPE_SLOTS || (parent && !type_names[parent].name))
        refuse("parent not registered for type: ", type, parent, 0);
    for (uint32_t a = 1; a <= ACTION_COUNT; a++) {
        const Entry& e = entries[a - 1];
        if (e.kind == Entry::FUNCTION && (e.action != a || !e.fn))
            refuse("misplaced action for type: ", type, e.action, (int32_t)a);
        if (e.kind == Entry::INHERITED && !parent)
            refuse("inherited action without parent for type: ", type, (int32_t)a, 0);
    }

    if (type > top_type_id) top_type_id = type;
    TypeName& record = type_names[type];
    record.name = name;
    record.length = (uint32_t)strlen(name) - 1;
    // Types registered before the symbol table exists get their word from
    // `make_words`.
    if (words_made) record.word = word::load(name);

    ActionFn* row = action_table + type * ROW_SIZE;
    const ActionFn* parent_row = action_table + parent * ROW_SIZE;
    for (uint32_t a = 1; a <= ACTION_COUNT; a++) {
        const Entry& e = entries[a - 1];
        row[a - 1] = e.kind == Entry::INHERITED ? parent_row[a - 1] : e.fn;
    }
}

void make_words() {
    for (uint32_t t = 1; t <= top_type_id; t++)
        if (type_names[t].name) type_names[t].word = word::load(type_names[t].name);
    words_made = true;
}

// --- datatype! -------------------------------------------------------------

// Every type id has its name before its module registers it, so that a
// datatype! value of a type still to come (a lexer's type scan answers
// them) forms and molds like any other.
static const char* const NAMES[] = {
    nullptr, "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!",
    "url!", "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!",
    "lit-word!", "get-word!", "refinement!", "issue!", "native!", "action!", "op!", "function!",
    "path!", "lit-path!", "set-path!", "get-path!", "routine!", "bitset!", "triple!", "object!",
    "typeset!", "error!", "vector!", "hash!", "pair!", "percent!", "tuple!", "map!", "binary!",
    "series!", "time!", "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!",
    "point2D!", "point3D!", "image!", "event!",
};

static TypeName named(const cell* value) {
    uint32_t id = value->data1 & 0xFF;
    if (id < TYPE_SLOTS && type_names[id].name) return type_names[id];
    const char* name = id < sizeof NAMES / sizeof *NAMES && NAMES[id] ? NAMES[id] : "unknown!";
    return TypeName{name, (uint32_t)strlen(name) - 1, nullptr};
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    const TypeName t = named(value);
    string::concatenate_bytes(out, t.name, t.length);
    return limit - (int32_t)t.length;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    const TypeName t = named(value);
    if (all) string::concatenate_bytes(out, "#(", 2);
    string::concatenate_bytes(out, t.name, t.length + 1);
    if (all) string::concatenate_bytes(out, ")", 1);
    return limit - (int32_t)(t.length + 1) - (all ? 3 : 0);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    switch (op) {
    case OP_EQUAL:
    case OP_NOT_EQUAL:
    case OP_STRICT_EQUAL:
    case OP_SAME:
    case OP_FIND:
        return b->type() == TYPE_DATATYPE && b->data1 == a->data1 ? 0 : 1;
    default:
        return NOT_COMPARABLE;
    }
}

cell* make_at(cell* c, uint8_t id) {
    cell::set_header(c, TYPE_DATATYPE);
    c->data1 = id;
    return c;
}

cell* push(uint8_t id) { return make_at(stack::push_cell(), id); }

void register_type() {
    // clang-format off
    static const Entry list[] = {
        NO, NO, NO, NO, on<A_FORM>(form), on<A_MOLD>(mold), NO, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_DATATYPE, 0, "datatype!", list);
}

}  // namespace datatype
