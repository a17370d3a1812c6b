#include "evaluator/actions.h"

#include "datatypes/word.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "runtime/words.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace actions {

using namespace datatype;

natives::Fn* dispatchers = nullptr;

void raise_unsupported(const cell* value) {
    cell type;
    datatype::make_at(&type, value->type());
    const cell* name = rt::call_word ? rt::call_word() : nullptr;
    const cell* argument = rt::argument_word ? rt::argument_word(0) : nullptr;
    error::raise_script(error::Script::expect_arg, name, &type, argument);
}

int32_t compare_typed(cell* value1, cell* value2, int32_t op) {
    // Two logic! values are settled without the table.
    if (value1->type() == TYPE_LOGIC && value2->type() == TYPE_LOGIC)
        return (int32_t)value1->data1 - (int32_t)value2->data1;
    return get_action_ptr_of<A_COMPARE>(value1)(value1, value2, op);
}

bool compare(cell* value1, cell* value2, int32_t op) {
    int32_t r = get_action_ptr_of<A_COMPARE>(value1)(value1, value2, op);
    if (r == NOT_COMPARABLE && op >= OP_LESSER && op <= OP_GREATER_OR_EQUAL)
        error::raise_script(error::Script::invalid_compare, value1, value2);
    switch (op) {
    case OP_EQUAL: case OP_STRICT_EQUAL: case OP_SAME: case OP_STRICT_WORD: case OP_WORD:
    case OP_FIND:
        return r == 0;
    case OP_NOT_EQUAL: return r != 0;
    case OP_LESSER: return r < 0;
    case OP_LESSER_OR_EQUAL: return r < 1;
    case OP_GREATER: return r >= 1;
    case OP_GREATER_OR_EQUAL: return r >= 0;
    default: sys::no_switch();
    }
}

int32_t form_typed(cell* value, cell* out, cell* part, int32_t limit) {
    return get_action_ptr_of<A_FORM>(value)(value, out, part, limit);
}

int32_t mold_typed(cell* value, cell* out, bool only, bool all, bool flat, cell* part,
                   int32_t limit, int32_t indent) {
    return get_action_ptr_of<A_MOLD>(value)(value, out, only, all, flat, part, limit, indent);
}

cell* make_typed(cell* proto, cell* spec) {
    int32_t type = proto->type() == TYPE_DATATYPE ? (int32_t)proto->data1 : proto->type();
    auto fn = datatype::get<A_MAKE>((uint8_t)type);
    if (!fn) raise_unsupported(proto);
    return fn(proto, spec, type);
}

cell* copy_typed(cell* value, cell* result, cell* part, bool deep, cell* types) {
    return get_action_ptr_of<A_COPY>(value)(value, result, part, deep, types);
}

namespace {

// Arguments of a dispatcher.
inline cell* A(int i) { return stack::arg((uint32_t)i); }
using natives::given;
// A refinement's argument cell; absent: series::ABSENT (stack::is_given).
inline cell* R(const int32_t* refs, int k) { return refs[k] >= 0 ? stack::arg((uint32_t)refs[k]) : series::ABSENT; }

void result(cell* r) {
    if (r && r != stack::args()) stack::set_last(r);
}

bool is_any_series(uint8_t t) {
    return (t >= TYPE_BLOCK && t <= TYPE_URL) || (t >= TYPE_PATH && t <= TYPE_GET_PATH) ||
           t == TYPE_HASH || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF || t == TYPE_BINARY ||
           t == TYPE_VECTOR || t == TYPE_IMAGE || t == TYPE_MAP;
}

void do_make(const int32_t*) { result(make_typed(A(0), A(1))); }
void do_to(const int32_t*) {
    cell* proto = A(0);
    int32_t type = proto->type() == TYPE_DATATYPE ? (int32_t)proto->data1 : proto->type();
    auto fn = datatype::get<A_TO>((uint8_t)type);
    if (!fn) raise_unsupported(proto);
    result(fn(proto, A(1), type));
}
void do_random(const int32_t* r) {
    result(get_action_ptr_of<A_RANDOM>(A(0))(A(0), given(r, 0), given(r, 1), given(r, 2)));
}
void do_reflect(const int32_t*) {
    cell* field = A(1);
    result(get_action_ptr_of<A_REFLECT>(A(0))(A(0), (int32_t)field->data2));
}

// The output string of form and mold, cut to the /part limit.
template <class F>
void form_or_mold(const int32_t* refs, int part_ref, F call) {
    int32_t limit = NO_LIMIT;
    cell limit_cell{TYPE_NONE, 0, 0, 0};
    if (refs[part_ref] >= 0) {
        limit_cell = *A(refs[part_ref]);
        limit = limit_cell.type() == TYPE_INTEGER ? (int32_t)limit_cell.data2 : NO_LIMIT;
        if (limit < 1) {
            stack::keep_first();
            string::make_at(stack::args(), 1);
            return;
        }
    }
    cell value = *A(0);
    stack::keep_first();
    *A(0) = value;
    cell* lc = refs[part_ref] >= 0 ? stack::push(&limit_cell) : series::ABSENT;
    cell* out = string::push_new(64);
    call(A(0), out, lc, limit);
    if (limit != NO_LIMIT) {
        memory::Buffer* b = series::buffer_of(out);
        uint32_t unit = b->unit();
        if ((int64_t)b->used_bytes() > (int64_t)limit * unit) b->tail = b->head + (size_t)limit * unit;
    }
    stack::set_last(out);
    stack::keep_first();
}
void do_form(const int32_t* r) {
    form_or_mold(r, 0, [](cell* v, cell* out, cell* part, int32_t limit) {
        form_typed(v, out, part, limit);
    });
}
void do_mold(const int32_t* r) {
    bool only = given(r, 0), all = given(r, 1), flat = given(r, 2);
    form_or_mold(r, 3, [&](cell* v, cell* out, cell* part, int32_t limit) {
        mold_typed(v, out, only, all, flat, part, limit, 0);
    });
}
void do_eval_path(const int32_t* r) {
    cell* value = given(r, 0) ? R(r, 0) : nullptr;
    result(get_action_ptr_of<A_EVAL_PATH>(A(0))(A(0), A(1), value, nullptr, nullptr, A(1), -1,
                                                 given(r, 1), false, true, false));
}

template <int ACT>
void window_action(const int32_t*) {
    result(get_action_ptr_of<ACT>(A(0))());
}
void do_negate(const int32_t*) { result(get_action_ptr_of<A_NEGATE>(A(0))(A(0))); }
void do_round(const int32_t* r) {
    result(get_action_ptr_of<A_ROUND>(A(0))(A(0), R(r, 0), given(r, 1), given(r, 2), given(r, 3),
                                           given(r, 4), given(r, 5), given(r, 6)));
}
void do_even(const int32_t*) { logic::make_at(A(0), get_action_ptr_of<A_IS_EVEN>(A(0))(A(0))); }
void do_odd(const int32_t*) { logic::make_at(A(0), get_action_ptr_of<A_IS_ODD>(A(0))(A(0))); }
void do_complement(const int32_t*) { result(get_action_ptr_of<A_COMPLEMENT>(A(0))(A(0))); }

[[noreturn]] void invalid_refine_arg(cell* part) {
    error::raise_script(error::Script::invalid_refine_arg, words::refinement_part, part);
}

}  // namespace

int32_t normalize_part(cell* part, cell* reference, cell* series, bool is_change) {
    (void)series;
    uint8_t rt_ = reference->type();
    if (!is_change && (!is_any_series(rt_) || !reference->data2)) error::raise(error::SCRIPT, "invalid-part", part);
    if (part->type() == TYPE_INTEGER) {
        int32_t count = (int32_t)part->data2;
        if (count < 0 && is_any_series(rt_)) {
            int32_t index = (int32_t)reference->data1 + count;
            if (index < 0) index = 0;
            count = (int32_t)reference->data1 - index;
            reference->data1 = (uint32_t)index;
        }
        return count;
    }
    if (is_change && (rt_ == TYPE_PORT || rt_ == TYPE_IMAGE)) invalid_refine_arg(part);
    if (part->type() != rt_ || !is_any_series(rt_) || part->data2 != reference->data2)
        invalid_refine_arg(part);
    int32_t length = series::length_of(reference);
    (void)length;
    int32_t count = (int32_t)part->data1 - (int32_t)reference->data1;
    if (count < 0) {
        int32_t index = (int32_t)reference->data1 + count;
        if (index < 0) index = 0;
        count = (int32_t)reference->data1 - index;
        reference->data1 = (uint32_t)index;
    }
    return count;
}

namespace {

template <int ACT>
void insertion(const int32_t* r) {
    int32_t part = -1;
    if (given(r, 0)) {
        part = normalize_part(R(r, 0), ACT == A_CHANGE ? A(0) : A(1), A(0), ACT == A_CHANGE);
        if (part == 0) return;
    }
    int32_t dup = 1;
    if (given(r, 2)) {
        cell* d = R(r, 2);
        dup = d->type() == TYPE_INTEGER ? (int32_t)d->data2 : rt::float_to_integer(d);
        if (dup < 1) return;
    }
    result(get_action_ptr_of<ACT>(A(0))(A(0), A(1), part, given(r, 1), dup));
}
void do_clear(const int32_t*) { result(get_action_ptr_of<A_CLEAR>(A(0))(A(0))); }
void do_copy(const int32_t* r) {
    if (given(r, 2)) {
        uint8_t t = R(r, 2)->type();
        if (t != TYPE_DATATYPE && t != TYPE_TYPESET) raise_unsupported(R(r, 2));
    }
    cell* res = stack::push_cell();
    result(get_action_ptr_of<A_COPY>(A(0))(A(0), res, R(r, 0), given(r, 1), R(r, 2)));
}
void do_find(const int32_t* r) {
    result(get_action_ptr_of<A_FIND>(A(0))(A(0), A(1), R(r, 0), given(r, 1), given(r, 2), given(r, 3),
                                          given(r, 4), R(r, 5), R(r, 6), given(r, 7), given(r, 8),
                                          given(r, 9), given(r, 10)));
}
void do_length(const int32_t*) {
    int32_t n = get_action_ptr_of<A_LENGTH_OF>(A(0))(A(0));
    if (n < 0) series::make_none(A(0));
    else series::make_integer(A(0), n);
}
void do_move(const int32_t* r) { result(get_action_ptr_of<A_MOVE>(A(0))(A(0), A(1), R(r, 0))); }
int32_t index_argument() {
    cell* i = A(1);
    switch (i->type()) {
        case TYPE_INTEGER: case TYPE_CHAR: return (int32_t)i->data2;
        case TYPE_LOGIC: return i->data1 ? 1 : 2;
        default: return 0;
    }
}
void do_pick(const int32_t*) { result(get_action_ptr_of<A_PICK>(A(0))(A(0), index_argument(), A(1))); }
void do_poke(const int32_t*) {
    result(get_action_ptr_of<A_POKE>(A(0))(A(0), index_argument(), A(2), A(1)));
}
void do_put(const int32_t* r) { result(get_action_ptr_of<A_PUT>(A(0))(A(0), A(1), A(2), given(r, 0))); }
void do_remove(const int32_t* r) { result(get_action_ptr_of<A_REMOVE>(A(0))(A(0), R(r, 0), R(r, 1))); }
void do_reverse(const int32_t* r) { result(get_action_ptr_of<A_REVERSE>(A(0))(A(0), R(r, 0), R(r, 1))); }
void do_select(const int32_t* r) {
    result(get_action_ptr_of<A_SELECT>(A(0))(A(0), A(1), R(r, 0), given(r, 1), given(r, 2), given(r, 3),
                                            given(r, 4), R(r, 5), R(r, 6), given(r, 7), given(r, 8)));
}
void do_sort(const int32_t* r) {
    result(get_action_ptr_of<A_SORT>(A(0))(A(0), given(r, 0), R(r, 1), R(r, 2), R(r, 3), given(r, 4),
                                          given(r, 5), given(r, 6)));
}
void do_swap(const int32_t*) { result(get_action_ptr_of<A_SWAP>(A(0))(A(0), A(1))); }
void do_take(const int32_t* r) {
    result(get_action_ptr_of<A_TAKE>(A(0))(A(0), R(r, 0), given(r, 1), given(r, 2)));
}
void do_trim(const int32_t* r) {
    result(get_action_ptr_of<A_TRIM>(A(0))(A(0), given(r, 0), given(r, 1), given(r, 2), given(r, 3),
                                          given(r, 4), R(r, 5)));
}
template <int ACT>
void one_value(const int32_t*) {
    result(get_action_ptr_of<ACT>(A(0))(A(0)));
}
void do_modify(const int32_t* r) {
    result(get_action_ptr_of<A_MODIFY>(A(0))(A(0), A(1), A(2), given(r, 0)));
}
void do_open(const int32_t* r) {
    result(get_action_ptr_of<A_OPEN>(A(0))(A(0), given(r, 0), given(r, 1), given(r, 2), given(r, 3),
                                          R(r, 4)));
}
void do_read(const int32_t* r) {
    result(get_action_ptr_of<A_READ>(A(0))(A(0), R(r, 0), R(r, 1), given(r, 2), given(r, 3),
                                          given(r, 4), R(r, 5)));
}
void do_rename(const int32_t*) { result(get_action_ptr_of<A_RENAME>(A(0))(A(0), A(1))); }
void do_write(const int32_t* r) {
    result(get_action_ptr_of<A_WRITE>(A(0))(A(0), A(1), given(r, 0), given(r, 1), given(r, 2),
                                           given(r, 3), R(r, 4), R(r, 5), R(r, 6), R(r, 7)));
}

}  // namespace

namespace {
constexpr int ACTOR_TABLES = 16;
const natives::Fn* actor_tables[ACTOR_TABLES];
}  // namespace

void register_actor_table(const natives::Fn* table) {
    for (auto& t : actor_tables)
        if (!t || t == table) {
            t = table;
            return;
        }
    sys::quit(sys::RT_NO_SWITCH, 0);
}

natives::Fn port_entry(natives::Fn dispatcher) {
    cell* port = stack::args();
    if (port->type() != TYPE_PORT) return dispatcher;
    uint32_t id = 0;
    for (uint32_t i = 0; i < ACTION_COUNT; i++)
        if (dispatchers[i] == dispatcher) id = i + 1;
    if (id < ACTOR_FIRST) return dispatcher;
    memory::Node* ctx = reinterpret_cast<memory::Node*>((uintptr_t)port->data1);
    const int32_t ACTOR_FIELD = 2;  // spec scheme actor ...
    if (!ctx || context::word_count(ctx) <= ACTOR_FIELD) return dispatcher;
    cell* actor = context::value_cell_at(ctx, ACTOR_FIELD);
    if (actor->type() != TYPE_HANDLE) return dispatcher;
    const natives::Fn* table = reinterpret_cast<const natives::Fn*>((uintptr_t)actor->data2);
    bool known = false;
    for (auto t : actor_tables)
        if (t && t == table) known = true;
    if (!known) error::raise(error::ACCESS, "invalid-actor");
    natives::Fn f = table[id - ACTOR_FIRST];
    if (!f) {
        // The error names the action: the word of the call being made.
        cell* w = word::push_new(stack::top_frame()->symbol());
        error::raise(error::ACCESS, "no-port-action", w);
    }
    return f;
}

void init() {
    static const natives::Fn list[ACTION_COUNT] = {
        do_make, do_random, do_reflect, do_to, do_form, do_mold, do_eval_path, nullptr, nullptr,
        window_action<A_ABSOLUTE>, window_action<A_ADD>, window_action<A_DIVIDE>,
        window_action<A_MULTIPLY>, do_negate, window_action<A_POWER>, window_action<A_REMAINDER>,
        do_round, window_action<A_SUBTRACT>, do_even, do_odd, window_action<A_AND>, do_complement,
        window_action<A_OR>, window_action<A_XOR>,
        insertion<A_APPEND>, window_action<A_AT>, window_action<A_BACK>, insertion<A_CHANGE>,
        do_clear, do_copy, do_find, window_action<A_HEAD>, window_action<A_IS_HEAD>,
        window_action<A_INDEX_OF>, insertion<A_INSERT>, do_length, do_move, window_action<A_NEXT>,
        do_pick, do_poke, do_put, do_remove, do_reverse, do_select, do_sort, window_action<A_SKIP>,
        do_swap, window_action<A_TAIL>, window_action<A_IS_TAIL>, do_take, do_trim,
        one_value<A_CREATE>, one_value<A_CLOSE>, one_value<A_DELETE>, do_modify, do_open,
        one_value<A_IS_OPEN>, one_value<A_QUERY>, do_read, do_rename, one_value<A_UPDATE>, do_write,
    };
    if (!dispatchers)
        dispatchers = static_cast<natives::Fn*>(sys::allocate(sizeof(natives::Fn) * ACTION_COUNT));
    for (uint32_t i = 0; i < ACTION_COUNT; i++) dispatchers[i] = list[i];
}

}  // namespace actions
