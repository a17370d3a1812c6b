#include "datatypes/port.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/argcache.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/words.h"

namespace port {

using namespace datatype;

namespace {

const char* const field_names[FIELD_COUNT] = {"spec", "scheme", "actor", "awake", "state", "data", "extra"};

// The field of an object spelled so (none when it lacks it or is no
// object), as a copy.
cell field_of(const cell* obj, const char* spelling) {
    cell o = *obj;
    cell w = *word::load(spelling);
    if (o.type() != TYPE_OBJECT && o.type() != TYPE_PORT) return cell{TYPE_NONE, 0, 0, 0};
    return *object::select_word(&o, &w);
}

cell system_field(const char* spelling) {
    cell sys = *word::get_value(context::get_global(words::sym_system));
    return field_of(&sys, spelling);
}

// The value after the word in a block of name/value pairs, none when absent.
cell select_pair(const cell* blk, const cell* name) {
    if (blk->type() != TYPE_BLOCK) return cell{TYPE_NONE, 0, 0, 0};
    cell b = *blk;
    int32_t s = symbol::resolve(word::symbol_of(name));
    const cell* end = block::tail_cell(&b);
    for (const cell* c = block::head_cell(&b); c + 1 < end; c += 2)
        if (word::is_any_word_type(c->type()) && symbol::resolve(word::symbol_of(c)) == s) return c[1];
    return cell{TYPE_NONE, 0, 0, 0};
}

[[noreturn]] void access(const char* id, const cell* arg = nullptr) {
    cell* a = arg ? stack::push(arg) : nullptr;
    error::raise(error::ACCESS, id, a);
}

// The cells a function takes before its locals: arguments, refinements and
// their arguments.
int32_t parameter_count(const cell* fn) {
    cell cache = argcache::get(fn);
    int32_t n = block::length_of(&cache) - 2;
    const cell* c = block::head_cell(&cache);
    int32_t count = 0;
    for (int32_t i = 0; i < n; i++)
        if (!(c[i].type() == TYPE_TYPESET && argcache::mode_of(c + i) == argcache::RETURN)) count++;
    return count;
}

// One call of an actor's function, its arguments gathered on the stack.
class Call {
public:
    Call(cell* port, const char* action) : port_(port), action_(action) { first_ = stack::push(port); }
    Call& arg(const cell* v) {
        stack::push(v);
        return *this;
    }
    Call& flag(bool on) {
        logic::push(on);
        return *this;
    }
    // A refinement with one argument: its flag, then the argument or none.
    Call& refine(const cell* a) {
        bool on = stack::is_given(a);
        logic::push(on);
        if (on) stack::push(a);
        else none::push();
        return *this;
    }
    Call& refine_count(bool on, int32_t n) {
        logic::push(on);
        if (on) integer::push(n);
        else none::push();
        return *this;
    }
    // Calls the actor's function of the action's name; the answer goes into
    // the port's cell.
    cell* run() {
        cell actor = get_actor(first_);
        cell w = *scalar::action_word(action_);
        cell fn = *object::select_word(&actor, &w);
        if (fn.type() != TYPE_FUNCTION) access("no-port-action", &w);
        int32_t given = (int32_t)(stack::arguments.top - first_);
        cell* r = interpreter::call_function(&fn, first_, std::min(given, parameter_count(&fn)));
        return cell::copy(r, port_);
    }

private:
    stack::TopMark mark_;
    cell* port_;
    const char* action_;
    cell* first_;
};

// --- Actions --------------------------------------------------------------------------------

// port/do-action with the port alone, and with the index (window actions).
template <const char* const* NAME>
cell* alone() { return Call(stack::args(), *NAME).run(); }
template <const char* const* NAME>
cell* indexed() { return Call(stack::args(), *NAME).arg(stack::arg(1)).run(); }

#define ZOL_NAME(id, text) const char* const id = text;
ZOL_NAME(n_at, "at") ZOL_NAME(n_back, "back") ZOL_NAME(n_head, "head") ZOL_NAME(n_is_head, "head?")
ZOL_NAME(n_index, "index?") ZOL_NAME(n_next, "next") ZOL_NAME(n_skip, "skip") ZOL_NAME(n_tail, "tail")
ZOL_NAME(n_is_tail, "tail?")
#undef ZOL_NAME

template <int A>
cell* insertion(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    const char* name = A == A_APPEND ? "append" : A == A_INSERT ? "insert" : "change";
    return Call(series, name).arg(value).refine_count(part >= 0, part).flag(only).refine_count(dup != 1, dup).run();
}

cell* clear(cell* series) { return Call(series, "clear").run(); }

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    return Call(value, "copy").refine(part).flag(deep).refine(types).run();
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match) {
    return Call(series, "find").arg(value).refine(part).flag(only).flag(case_).flag(same).flag(any)
        .refine(with).refine(skip).flag(last).flag(reverse).flag(tail).flag(match).run();
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse) {
    return Call(series, "select").arg(value).refine(part).flag(only).flag(case_).flag(same).flag(any)
        .refine(with).refine(skip).flag(last).flag(reverse).run();
}

int32_t length(cell* series) {
    cell* r = Call(series, "length?").run();
    return r->type() == TYPE_INTEGER ? integer::get(r) : -1;
}

cell* move(cell* origin, cell* target, cell* part) { return Call(origin, "move").arg(target).refine(part).run(); }

cell* pick(cell* series, int32_t index, cell* index_cell) { return Call(series, "pick").arg(index_cell).run(); }

cell* poke(cell* series, int32_t index, cell* value, cell* index_cell) {
    return Call(series, "poke").arg(index_cell).arg(value).run();
}

cell* put(cell* series, cell* key, cell* value, bool case_) {
    return Call(series, "put").arg(key).arg(value).flag(case_).run();
}

cell* remove(cell* series, cell* part, cell* key) { return Call(series, "remove").refine(part).refine(key).run(); }

cell* reverse(cell* series, cell* part, cell* skip) { return Call(series, "reverse").refine(part).refine(skip).run(); }

cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse, bool stable) {
    return Call(series, "sort").flag(case_).refine(skip).refine(compare).refine(part).flag(all).flag(reverse)
        .flag(stable).run();
}

cell* swap(cell* series1, cell* series2) { return Call(series1, "swap").arg(series2).run(); }

cell* take(cell* series, cell* part, bool deep, bool last) {
    return Call(series, "take").refine(part).flag(deep).flag(last).run();
}

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    return Call(series, "trim").flag(head).flag(tail).flag(auto_).flag(lines).flag(all).refine(with).run();
}

// port/do-io-action: the port alone.
cell* create(cell* value) { return Call(value, "create").run(); }
cell* close(cell* value) { return Call(value, "close").run(); }
cell* delete_(cell* value) { return Call(value, "delete").run(); }
cell* query(cell* value) { return Call(value, "query").run(); }
cell* update(cell* value) { return Call(value, "update").run(); }

cell* modify(cell* target, cell* field, cell* value, bool case_) {
    return Call(target, "modify").arg(field).arg(value).flag(case_).run();
}

cell* open(cell* port, bool new_, bool read, bool write, bool seek, cell* allow) {
    return Call(port, "open").flag(new_).flag(read).flag(write).flag(seek).refine(allow).run();
}

cell* rename(cell* from, cell* to) { return Call(from, "rename").arg(to).run(); }

// read and write are composed of other actions, each on its own copy of the
// port (an action leaves its answer in the port's cell).
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    stack::TopMark mark;
    cell p = *source;
    open(stack::push(&p), false, false, false, stack::is_given(seek), series::ABSENT);
    cell* data = stack::push(&p);
    copy(data, nullptr, part, false, series::ABSENT);
    close(stack::push(&p));
    return cell::copy(data, source);
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append, cell* part,
            cell* seek, cell* allow, cell* as) {
    stack::TopMark mark;
    cell p = *destination;
    cell* value = stack::push(data);
    open(stack::push(&p), false, false, true, false, series::ABSENT);
    bool counted = stack::is_given(part) && part->type() == TYPE_INTEGER;
    insertion<A_INSERT>(stack::push(&p), value, counted ? integer::get(part) : -1, false, 1);
    cell* answer = stack::push(&p);
    copy(answer, nullptr, series::ABSENT, false, series::ABSENT);
    close(stack::push(&p));
    return cell::copy(answer, destination);
}

// url.cpp's way to the library's parser: url-parser/parse-url of the url's
// text as a string (none when the library has no parser).
void parse_url(cell* u, cell* result) {
    stack::TopMark mark;
    cell* text = string::push_new(32);
    cell value = *u;
    actions::mold_typed(&value, text, false, false, false, series::ABSENT, NO_LIMIT, 0);
    cell parser = *word::get_value(word::load("url-parser"));
    cell fn = field_of(&parser, "parse-url");
    if (fn.type() != TYPE_FUNCTION) {
        none::make_at(result);
        return;
    }
    cell::copy(interpreter::call_function(&fn, text, 1), result);
}

}  // namespace

cell get_actor(const cell* p) {
    cell actor = field_of(p, "actor");
    if (actor.type() != TYPE_OBJECT) access("invalid-port");
    return actor;
}

// --- make, form, mold ---------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) {
    stack::TopMark mark;
    cell* sp = stack::push_cell();
    if (spec->type() == TYPE_OBJECT) {
        object::copy_context(spec, sp, false, nullptr, false);
    } else {
        cell standard = system_field("standard");
        cell head = field_of(&standard, "port-spec-head");
        if (head.type() == TYPE_OBJECT) cell::copy(&head, sp);
        else none::make_at(sp);
        cell* s = stack::push(spec);
        object::make(sp, s, TYPE_OBJECT);
    }
    cell scheme = field_of(sp, "scheme");
    if (scheme.type() != TYPE_WORD) access("no-scheme", sp);
    cell* s = stack::push(&scheme);

    cell* p = stack::push_cell();
    cell standard = system_field("standard");
    cell templ = field_of(&standard, "port");
    if (templ.type() == TYPE_OBJECT) {
        object::copy_context(&templ, p, false, nullptr, false);
    } else {
        object::init_cell(p, FIELD_COUNT);
        for (const char* name : field_names) object::put_field(p, name, &none::none_cell);
    }
    cell::set_type(p, TYPE_PORT);
    object::write_back_link(p);
    object::put_field(p, "spec", sp);
    object::put_field(p, "scheme", s);

    cell schemes = system_field("schemes");
    cell found = select_pair(&schemes, s);
    if (found.type() == TYPE_NONE) access("unknown-scheme", s);
    cell actor = field_of(&found, "actor");
    if (found.type() != TYPE_OBJECT || (actor.type() != TYPE_OBJECT && actor.type() != TYPE_HANDLE))
        access("invalid-actor");
    object::put_field(p, "actor", &actor);
    return cell::copy(p, target);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    limit = scalar::append(out, "make port! [", limit);
    limit = object::serialize_fields(value, out, only, all, flat, part, limit, true, indent + 1, true);
    if (!flat && indent >= 1)
        for (int32_t k = 0; k < indent; k++) limit = scalar::append(out, "    ", limit);
    return scalar::append(out, "]", limit);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return mold(value, out, false, false, false, part, limit, 0);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, INHERIT, NO, on<A_FORM>(form),
        on<A_MOLD>(mold), INHERIT, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        on<A_APPEND>(insertion<A_APPEND>), on<A_AT>(indexed<&n_at>), on<A_BACK>(alone<&n_back>),
        on<A_CHANGE>(insertion<A_CHANGE>), on<A_CLEAR>(clear), on<A_COPY>(copy), on<A_FIND>(find),
        on<A_HEAD>(alone<&n_head>), on<A_IS_HEAD>(alone<&n_is_head>), on<A_INDEX_OF>(alone<&n_index>),
        on<A_INSERT>(insertion<A_INSERT>), on<A_LENGTH_OF>(length), on<A_MOVE>(move),
        on<A_NEXT>(alone<&n_next>), on<A_PICK>(pick), on<A_POKE>(poke), on<A_PUT>(put),
        on<A_REMOVE>(remove), on<A_REVERSE>(reverse), on<A_SELECT>(select), on<A_SORT>(sort),
        on<A_SKIP>(indexed<&n_skip>), on<A_SWAP>(swap), on<A_TAIL>(alone<&n_tail>),
        on<A_IS_TAIL>(alone<&n_is_tail>), on<A_TAKE>(take), on<A_TRIM>(trim),
        on<A_CREATE>(create), on<A_CLOSE>(close), on<A_DELETE>(delete_), on<A_MODIFY>(modify),
        on<A_OPEN>(open), NO, on<A_QUERY>(query), on<A_READ>(read), on<A_RENAME>(rename),
        on<A_UPDATE>(update), on<A_WRITE>(write),
    };
    // clang-format on
    define(TYPE_PORT, TYPE_OBJECT, "port!", list);
    url::parse_url = parse_url;
}

}  // namespace port
