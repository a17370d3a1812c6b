#include "evaluator/parse.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/triple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/case.h"
#include "runtime/sys.h"
#include "runtime/words.h"

namespace parser {

using memory::Node;

cell* input_stack = nullptr;
cell* rule_stack = nullptr;

namespace {

// --- Keywords ------------------------------------------------------------------------

enum Keyword : int32_t {
    KW_NONE_ = 0, KW_ANY, KW_BREAK, KW_COPY, KW_END, KW_FAIL, KW_INTO, KW_OPT, KW_NOT, KW_QUOTE,
    KW_CASE, KW_REJECT, KW_SET, KW_SKIP, KW_SOME, KW_THRU, KW_TO, KW_NONE, KW_BAR, KW_IF,
    KW_REMOVE, KW_WHILE, KW_INSERT, KW_ONLY, KW_COLLECT, KW_KEEP, KW_PICK, KW_AHEAD, KW_AFTER,
    KW_CHANGE, KW_COUNT
};

// Canonical symbols of the keywords, by Keyword.
int32_t keyword_symbols[KW_COUNT];
// The keyword of each canonical symbol up to the highest keyword's: the
// machine asks this of nearly every rule cell.
std::vector<uint8_t> keyword_by_symbol;

[[gnu::always_inline]] inline Keyword keyword_of(const cell* c) {
    if (c->type() != TYPE_WORD) return KW_NONE_;
    uint32_t s = (uint32_t)symbol::resolve(word::symbol_of(c));
    return s < keyword_by_symbol.size() ? (Keyword)keyword_by_symbol[s] : KW_NONE_;
}

bool is_keyword(const cell* c, Keyword k) { return keyword_of(c) == k; }

// --- Errors ----------------------------------------------------------------------------

[[noreturn]] void raise(const char* id, const cell* arg = nullptr) {
    if (arg) {
        cell a = *arg;  // the argument may live in a buffer the error's making moves
        error::raise(error::SCRIPT, id, stack::push(&a));
    }
    error::raise(error::SCRIPT, id);
}

[[noreturn]] void raise_end(Keyword k) {
    cell w;
    word::make_cell(&w, TYPE_WORD, nullptr, keyword_symbols[k], -1);
    raise("parse-end", &w);
}

[[noreturn]] void raise_out_of_range(int32_t n) {
    cell v;
    integer::make_at(&v, n);
    raise("out-of-range", &v);
}

// --- Input kinds ---------------------------------------------------------------------

enum Kind { K_BLOCK, K_STRING, K_BINARY };

Kind kind_of(uint8_t t) {
    if (series::is_any_block(t)) return K_BLOCK;
    if (t == TYPE_BINARY) return K_BINARY;
    return K_STRING;
}

bool is_parsable(uint8_t t) {
    return series::is_any_block(t) || series::is_any_string(t) || t == TYPE_BINARY;
}

bool same_series(const cell* a, const cell* b) {
    return a->type() == b->type() && a->data2 == b->data2;
}

bool truthy(const cell* v) {
    return !(v->type() == TYPE_NONE || (v->type() == TYPE_LOGIC && !logic::get(v)));
}

int32_t fold(int32_t cp) { return case_::to_upper(cp); }

// The byte image of a text-like literal for binary input; false when the
// value has none. `text` says whether it folds case.
bool byte_pattern(cell* v, std::string& out, bool& text) {
    uint8_t t = v->type();
    out.clear();
    text = false;
    if (t == TYPE_BINARY) {
        binary::write_value(out, v, false);
        return true;
    }
    if (t == TYPE_CHAR) {
        int32_t cp = (int32_t)v->data2;
        if (cp > 0xFF) return false;
        out.push_back((char)cp);
        text = true;
        return true;
    }
    if (series::is_any_string(t)) {
        cell plain = *v;
        if (t == TYPE_TAG) out.push_back('<');
        plain.header = TYPE_STRING;
        binary::write_value(out, &plain, false);
        if (t == TYPE_TAG) out.push_back('>');
        text = true;
        return true;
    }
    return false;
}

// --- The engine ---------------------------------------------------------------------

enum State { S_FETCH, S_AFTER, S_ALT, S_LEAVE, S_POPCMD, S_FINISH, S_STOP, S_SIGNAL };

// What the machine keeps of a command entry besides its cells.
struct Aux {
    uint32_t stamp;  // `events` when the iteration began
    int32_t origin;  // input index when the command was pushed
};

// A collect target: two argument-stack cells (the target series, then the
// word or none!).
enum CollectKind { C_PLAIN, C_SET, C_INTO, C_AFTER };
struct Collect {
    cell* cells;
    CollectKind kind;
};

struct Engine {
    // Working cells on the argument stack (they never move).
    cell* input;      // the input being matched; its head index is the position
    cell* rules;      // the rule block being run
    cell* kept;       // a value the machine must keep alive across an allocation
    cell* scratch;    // another such value
    cell* collected;  // a top-level collect's block (none! when none)
    cell* callback;   // the trace function, or null
    int32_t limit;    // /part end of the outer input, or -1
    int32_t mode;     // 0 or 2 (case-sensitive)
    int32_t pos;      // index of the current rule cell from the rule block's head
    bool match = true;
    bool brk = false;       // break/reject: the next command applied stops
    bool pop_flag = false;  // break/reject: leave blocks until a command
    bool left_at_tail = true;
    bool rules_done = true;
    int32_t depth = 0;      // into levels
    Kind kind;
    uint32_t events = 0;    // parens evaluated and changes made
    int32_t rule_base;      // rule-stack index of the root entry
    uint32_t outer_node;    // node of the outer input
    std::vector<Aux> aux;   // by entry number
    std::vector<Collect> collects;
    bool stopped = false;
    bool signal = false;    // a pending exit is travelling: leave the stacks alone

    // --- Rule stack ----------------------------------------------------------------

    [[gnu::always_inline]] Node* rs_node() const { return series::node_of(rule_stack); }
    [[gnu::always_inline]] int32_t rs_total() const { return block::total_cells(rs_node()); }
    int32_t entries() const { return (rs_total() - rule_base) / 3; }
    [[gnu::always_inline]] cell* rs_cell(int32_t i) const { return block::cells_of(rs_node()) + i; }

    void check_stacks() {
        if (rs_total() >= STACK_LIMIT_CELLS ||
            block::total_cells(series::node_of(input_stack)) >= STACK_LIMIT_CELLS)
            raise("parse-stack");
    }

    void push_entry(const cell& a, const cell& b, const cell& c) {
        const cell entry[3] = {a, b, c};  // the cells may lie in the stack that grows
        Node* n = rs_node();
        memory::Buffer* buf = block::ensure_room(n, 3, true);
        memcpy(buf->tail, entry, sizeof entry);
        buf->tail += sizeof entry;
        top_aux() = {events, at()};
    }
    void pop_entry() {
        if (rs_total() - rule_base < 3) raise("parse-stack");
        block::truncate(rs_node(), rs_total() - 3);
    }

    // The top entry's cells, checked: user code sees the stack and may have
    // changed it.
    [[gnu::always_inline]] cell* top(int32_t i) {
        int32_t t = rs_total();
        if (t - rule_base < 3) raise("parse-stack");
        cell* e = rs_cell(t - 3);
        if (e[1].type() != TYPE_TRIPLE || (e[2].type() != TYPE_BLOCK && e[2].type() != TYPE_PAIR))
            bad_rule_stack();
        return e + i;
    }
    [[noreturn, gnu::noinline]] void bad_rule_stack() {
        cell bad = *rule_stack;
        raise("parse-rule", &bad);
    }
    [[gnu::always_inline]] bool top_is_command() {
        int32_t t = rs_total();
        return t - rule_base >= 3 && rs_cell(t - 1)->type() == TYPE_PAIR;
    }
    int32_t top_code() { return (int32_t)top(2)->data2; }
    Aux& top_aux() {
        int32_t n = entries();
        size_t k = (size_t)(n > 0 ? n - 1 : 0);
        if (aux.size() <= k) grow_aux(k);
        return aux[k];
    }
    [[gnu::noinline]] void grow_aux(size_t k) { aux.resize(k + 1, Aux{events, at()}); }

    // --- Input ----------------------------------------------------------------------

    // The input is never an image, so its units are its bytes shifted.
    [[gnu::always_inline]] int32_t units() const {
        const memory::Buffer* b = series::buffer_of(input);
        return (int32_t)(b->used_bytes() >> series::shift_of(b->unit()));
    }
    [[gnu::always_inline]] int32_t at() {
        int32_t h = (int32_t)input->data1, u = units();
        if (h < 0 || h > u) {
            h = h < 0 ? 0 : u;
            input->data1 = (uint32_t)h;
        }
        return h;
    }
    void set_at(int32_t h) {
        int32_t u = units();
        input->data1 = (uint32_t)(h < 0 ? 0 : h > u ? u : h);
    }
    [[gnu::always_inline]] int32_t end() const {
        int32_t u = units();
        return depth == 0 && limit >= 0 && limit < u ? limit : u;
    }
    [[gnu::always_inline]] bool at_end() { return at() >= end(); }
    int32_t remaining() { return units() - at(); }
    // Code point, byte or nothing at an index (strings and binaries).
    [[gnu::always_inline]] int32_t unit_at(int32_t i) const {
        const memory::Buffer* b = series::buffer_of(input);
        if (kind == K_STRING && b->unit() != 1) return string::char_at(input, (uint32_t)i);
        return b->head[i];
    }
    cell value_at(int32_t i) const { return block::cells_of(series::node_of(input))[i]; }

    // After a change of the input's length at `index`: the /part limit
    // follows the units before it.
    void shift_limit(int32_t index, int32_t delta) {
        if (depth == 0 && limit >= 0 && index <= limit) {
            limit += delta;
            if (limit < index) limit = index;
        }
    }

    // --- Rules ---------------------------------------------------------------------

    [[gnu::always_inline]] int32_t rule_len() const {
        int32_t n = block::total_cells(series::node_of(rules)) - (int32_t)rules->data1;
        return n < 0 ? 0 : n;
    }
    [[gnu::always_inline]] bool rule_at(int32_t p, cell& out) const {
        if (p < 0 || p >= rule_len()) return false;
        out = block::cells_of(series::node_of(rules))[(int32_t)rules->data1 + p];
        return true;
    }
    cell rule(int32_t p) const {
        cell c;
        if (!rule_at(p, c)) none::make_at(&c);
        return c;
    }

    // A word's value for the rules: unset! or unbound raise parse-rule.
    cell lookup(const cell& w) {
        if (!word::context_of(&w)) raise("parse-rule", &w);
        cell v = *word::get_value(&w);
        if (v.type() == TYPE_UNSET) raise("parse-rule", &w);
        return v;
    }
    // A word or get-word naming a position in the input series.
    bool position_of(const cell& c, int32_t& index) {
        if (c.type() == TYPE_WORD ? keyword_of(&c) != KW_NONE_ : c.type() != TYPE_GET_WORD) return false;
        if (!word::context_of(&c)) return false;
        cell v = *word::get_value(&c);
        if (!same_series(&v, input)) return false;
        index = (int32_t)v.data1;
        int32_t u = units();
        if (index < 0) index = 0;
        if (index > u) index = u;
        return true;
    }

    // The index of the last cell of the rule element at p (a count, a
    // keyword with its arguments, or one cell).
    int32_t element_end(int32_t p) {
        for (;;) {
            cell c;
            if (!rule_at(p, c)) return p - 1;
            if (c.type() == TYPE_INTEGER) {
                cell n = rule(p + 1);
                bool range = n.type() == TYPE_INTEGER;
                if (!range && n.type() == TYPE_WORD && !keyword_of(&n) && word::context_of(&n)) {
                    range = word::get_value(&n)->type() == TYPE_INTEGER;
                }
                p += range ? 2 : 1;
                continue;
            }
            switch (keyword_of(&c)) {
                case KW_ANY: case KW_SOME: case KW_OPT: case KW_WHILE: case KW_NOT: case KW_AHEAD:
                case KW_INTO:
                    p += 1;
                    continue;
                case KW_TO: case KW_THRU: {
                    cell n = rule(p + 1);
                    if (is_keyword(&n, KW_END)) return p + 1;
                    p += 1;
                    continue;
                }
                case KW_COPY: case KW_SET: case KW_CASE:
                    p += 2;
                    continue;
                case KW_QUOTE: case KW_IF:
                    return p + 1;
                case KW_KEEP:
                    p += is_keyword(&(c = rule(p + 1)), KW_PICK) ? 2 : 1;
                    continue;
                case KW_COLLECT: {
                    cell n = rule(p + 1);
                    Keyword k = keyword_of(&n);
                    p += (k == KW_SET || k == KW_INTO || k == KW_AFTER) ? 3 : 1;
                    continue;
                }
                case KW_REMOVE: {
                    int32_t i;
                    if (position_of(rule(p + 1), i)) return p + 1;
                    p += 1;
                    continue;
                }
                case KW_INSERT: {
                    int32_t q = p + 1, i;
                    if (is_keyword(&(c = rule(q)), KW_ONLY)) q++;
                    if (q + 1 < rule_len() && position_of(rule(q), i)) q++;
                    return q;
                }
                case KW_CHANGE: {
                    int32_t q = p + 1, i;
                    if (is_keyword(&(c = rule(q)), KW_ONLY)) q++;
                    if (q + 1 < rule_len() && position_of(rule(q), i)) return q + 1;
                    return element_end(q) + 1;
                }
                default:
                    return p;
            }
        }
    }

    // --- Events -----------------------------------------------------------------------

    // Calls the trace callback; false when it asks to stop.
    [[gnu::always_inline]] bool fire(const cell* event) {
        if (!callback) return true;  // only a tracer stops the machine
        return !stopped && call_tracer(event);
    }
    bool call_tracer(const cell* event) {
        cell* base = stack::arguments.top;
        stack::push(event);
        logic::push(match);
        cell* r = stack::push(rules);
        r->data1 = (uint32_t)((int32_t)r->data1 + (pos < 0 ? 0 : pos));
        stack::push(input);
        stack::push(rule_stack);
        // A parse the callback runs starts above this call's inputs.
        uint32_t input_head = input_stack->data1;
        input_stack->data1 = (uint32_t)block::total_cells(series::node_of(input_stack));
        struct Back {
            uint32_t head;
            ~Back() { input_stack->data1 = head; }
        } back{input_head};
        cell* answer;
        try {
            answer = interpreter::call_function(callback, base, 5);
        } catch (const sys::Throw&) {
            // A break/return/throw from the callback has already unwound the
            // evaluation stacks to its catcher: go on travelling as pending.
            if (!sys::is_pending()) throw;
            signal = stopped = true;
            return false;
        }
        bool go_on = truthy(answer);
        stack::arguments.top = base;
        at();  // the callback may have changed the input
        if (!go_on) stopped = true;
        return go_on;
    }

    // Evaluates a paren; its value goes into `kept` when asked. False when a
    // signal is travelling.
    bool eval_paren(const cell& paren, bool keep_value) {
        events++;
        cell* base = stack::arguments.top;
        cell* code = stack::push(&paren);  // held: the callback may drop it from the rules
        if (!fire(words::word_paren)) {
            if (signal) return false;
            stack::arguments.top = base;
            return true;
        }
        uint32_t input_head = input_stack->data1;
        input_stack->data1 = (uint32_t)block::total_cells(series::node_of(input_stack));
        interpreter::eval_block(code, false);
        input_stack->data1 = input_head;
        if (sys::is_pending()) return false;
        if (keep_value) *kept = *(stack::arguments.top - 1);
        stack::arguments.top = base;
        at();
        return true;
    }

    // --- Entering and leaving -----------------------------------------------------------

    State enter(const cell& blk) {
        check_stacks();
        cell a, t;
        none::make_at(&a);
        triple::make_at(&t, pos, at(), remaining());
        push_entry(a, t, *rules);
        *rules = blk;
        pos = -1;
        match = true;
        if (!fire(words::word_push)) return S_STOP;
        return S_FETCH;
    }

    // Pushes a command whose argument starts at `arg`.
    State push_command(int32_t code, const cell& first, int32_t arg, bool pick = false) {
        check_stacks();
        cell t, pr;
        triple::make_at(&t, arg, at(), remaining());
        pair::make_at(&pr, code, pick ? 1 : 0);
        push_entry(first, t, pr);
        pos = arg - 1;
        if (!fire(words::word_push)) return S_STOP;
        return S_FETCH;
    }
    State push_repeat(int32_t code, int32_t min, int32_t max, int32_t arg) {
        cell c;
        triple::make_at(&c, min, max, 1);
        return push_command(code, c, arg);
    }
    State push_plain(int32_t code, int32_t arg, bool pick = false) {
        cell c;
        triple::make_at(&c, 0, 0, 1);
        return push_command(code, c, arg, pick);
    }

    // After a rule element.
    State after() {
        if (top_is_command()) return S_POPCMD;
        return match ? S_FETCH : S_ALT;
    }
    State matched(bool m) {
        match = m;
        if (!fire(words::word_match)) return S_STOP;
        return after();
    }

    State try_alternative() {
        set_at(top(1)->data2);
        int32_t n = rule_len();
        for (int32_t i = pos + 1; i < n; i++) {
            cell c = rule(i);
            Keyword k = keyword_of(&c);
            if (k == KW_QUOTE) {
                i++;
            } else if (k == KW_BAR) {
                match = true;
                pos = i;
                return S_FETCH;
            }
        }
        return S_LEAVE;
    }

    State leave() {
        // A command whose argument ran out (a paren cut the rules) ends here.
        if (top_is_command()) return S_POPCMD;
        left_at_tail = pos >= rule_len();
        if (entries() <= 1) {
            rules_done = left_at_tail;
            return S_FINISH;
        }
        if (!fire(words::word_pop)) return S_STOP;
        cell* e = top(0);
        if (e[2].type() != TYPE_BLOCK) {
            cell bad = *rule_stack;
            raise("parse-rule", &bad);
        }
        *rules = e[2];
        pos = (int32_t)e[1].data1;
        pop_entry();
        if (top_is_command()) return S_POPCMD;
        if (pop_flag) {
            pos = rule_len();  // keeps leaving, but not as a block run to its tail
            left_at_tail = false;
            return leave_early();
        }
        return match ? S_FETCH : S_ALT;
    }
    // break and reject: the current block is left as unfinished.
    State leave_early() {
        left_at_tail = false;
        if (entries() <= 1) {
            rules_done = false;
            return S_FINISH;
        }
        if (!fire(words::word_pop)) return S_STOP;
        cell* e = top(0);
        *rules = e[2];
        pos = (int32_t)e[1].data1;
        pop_entry();
        if (top_is_command()) return S_POPCMD;
        return leave_early();
    }

    // --- Literal matching -------------------------------------------------------------

    int32_t compare_op(const cell& v) const {
        if (v.type() == TYPE_LIT_WORD || v.type() == TYPE_LIT_PATH)
            return mode == 2 ? datatype::OP_STRICT_WORD : datatype::OP_WORD;
        return mode == 2 ? datatype::OP_STRICT_EQUAL : datatype::OP_EQUAL;
    }
    bool equal_value(int32_t i, const cell& v) {
        cell a = value_at(i), b = v;
        auto fn = datatype::get<datatype::A_COMPARE>(a.type());
        if (!fn) return false;
        if (a.type() == TYPE_LOGIC || b.type() == TYPE_LOGIC)
            return a.type() == b.type() && a.data1 == b.data1;
        return fn(&a, &b, compare_op(v)) == 0;
    }

    // Text of a string-type value at input index i; answers the units it
    // covers (tags with their brackets), or -1.
    int32_t text_at(int32_t i, int32_t stop, const cell& v) {
        cell pat = v;
        int32_t n = string::length_of(&pat);
        int32_t h = (int32_t)pat.data1;
        bool tag = v.type() == TYPE_TAG;
        int32_t total = n + (tag ? 2 : 0);
        if (i + total > stop) return -1;
        bool folding = mode != 2;
        if (tag) {
            if (unit_at(i) != '<' || unit_at(i + n + 1) != '>') return -1;
            i++;
        }
        for (int32_t k = 0; k < n; k++) {
            int32_t a = unit_at(i + k), b = string::char_at(&pat, (uint32_t)(h + k));
            if (a != b && (!folding || fold(a) != fold(b))) return -1;
        }
        return total;
    }
    int32_t bytes_at(int32_t i, int32_t stop, const std::string& pat, bool text) {
        int32_t n = (int32_t)pat.size();
        if (i + n > stop) return -1;
        const uint8_t* p = series::buffer_of(input)->head + i;
        bool folding = text && mode != 2;
        for (int32_t k = 0; k < n; k++) {
            int32_t a = p[k], b = (uint8_t)pat[(size_t)k];
            if (a != b && (!folding || fold(a) != fold(b))) return -1;
        }
        return n;
    }
    bool unit_in(const cell& set, int32_t i) { return bitset::is_member(&set, unit_at(i)); }
    bool char_is(int32_t i, int32_t cp) {
        int32_t a = unit_at(i);
        return a == cp || (mode != 2 && fold(a) == fold(cp));
    }

    // Units of input a literal covers at index i (before `stop`), or -1.
    int32_t literal_at(int32_t i, int32_t stop, const cell& v) {
        if (i >= stop) return -1;
        switch (kind) {
            case K_BLOCK:
                return equal_value(i, v) ? 1 : -1;
            case K_STRING:
                if (v.type() == TYPE_BITSET) return unit_in(v, i) ? 1 : -1;
                if (v.type() == TYPE_CHAR) return char_is(i, (int32_t)v.data2) ? 1 : -1;
                if (series::is_any_string(v.type())) return text_at(i, stop, v);
                return -1;
            case K_BINARY: {
                if (v.type() == TYPE_BITSET) return unit_in(v, i) ? 1 : -1;
                std::string pat;
                bool text;
                cell c = v;
                if (!byte_pattern(&c, pat, text)) return -1;
                return bytes_at(i, stop, pat, text);
            }
        }
        return -1;
    }

    State literal(const cell& v) {
        bool m;
        if (at_end()) {
            uint8_t t = v.type();
            cell c = v;
            m = kind == K_STRING && (t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL) &&
                string::length_of(&c) == 0;
        } else {
            int32_t n = literal_at(at(), end(), v);
            m = n >= 0;
            if (m) set_at(at() + n);
        }
        return matched(m);
    }

    // A repetition of a literal; answers whether the count fits min..max.
    bool repeat_value(const cell& v, int32_t min, int32_t max) {
        int32_t start = at(), stop = end();
        if (stop - start < min) return false;
        if (stop <= start) return min == 0;
        if (kind == K_STRING && series::is_any_string(v.type())) {
            cell c = v;
            if (string::length_of(&c) == 0 && v.type() != TYPE_TAG) return min <= 1 && (max < 0 || max >= 1);
        }
        int32_t count = 0, i = start;
        if (v.type() == TYPE_BITSET && kind != K_BLOCK && series::buffer_of(input)->unit() == 1) {
            // Byte input against a bitset, the commonest repetition: nothing in
            // the walk allocates, so the bytes are read in place.
            const uint8_t* in = series::buffer_of(input)->head;
            const memory::Buffer* set = series::buffer_of(&v);
            const uint8_t* bits = set->head;
            uint32_t set_bytes = set->used_bytes();
            bool beyond = (set->flags & memory::FLAG_COMPLEMENTED) != 0;
            while (i < stop && (max < 0 || count < max)) {
                uint32_t u = in[i];
                bool member = (u >> 3) < set_bytes ? (bits[u >> 3] & (0x80u >> (u & 7))) != 0 : beyond;
                if (!member) break;
                i++;
                count++;
            }
            if (count < min) return false;
            set_at(i);
            return true;
        }
        std::string pat;
        bool text = false, bytes = kind == K_BINARY && v.type() != TYPE_BITSET;
        if (bytes) {
            cell c = v;
            if (!byte_pattern(&c, pat, text)) bytes = false;
            if (!bytes || pat.empty()) return min == 0;
        }
        while (i < stop && (max < 0 || count < max)) {
            int32_t n = bytes ? bytes_at(i, stop, pat, text) : literal_at(i, stop, v);
            if (n < 0) break;
            i += n;
            count++;
            if (n == 0) break;
        }
        if (count < min) return false;
        set_at(i);
        return true;
    }

    // to/thru a literal: a forward search bounded by the limit.
    bool to_thru_value(const cell& v, bool thru) {
        int32_t start = at(), stop = end();
        std::string pat;
        bool text = false, bytes = false;
        if (kind == K_BINARY && v.type() != TYPE_BITSET) {
            cell c = v;
            if (!byte_pattern(&c, pat, text)) raise("parse-rule", &v);
            bytes = true;
        }
        for (int32_t i = start; i <= stop; i++) {
            int32_t n = bytes ? bytes_at(i, stop, pat, text) : literal_at(i, stop, v);
            if (n >= 0) {
                set_at(thru ? i + n : i);
                return true;
            }
        }
        return false;
    }

    // Datatype and typeset rules.
    bool type_fits(const cell& rule_value, uint8_t t) {
        if (rule_value.type() == TYPE_DATATYPE) return rule_value.data1 == t;
        return typeset::has(&rule_value, t);
    }
    State datatype_rule(const cell& v) {
        if (kind == K_STRING) raise("parse-unsupported");
        if (at_end()) return matched(false);
        if (kind == K_BLOCK) {
            bool m = type_fits(v, value_at(at()).type());
            if (m) set_at(at() + 1);
            return matched(m);
        }
        // Binary input: the value the lexer reads from the bytes at the position.
        cell* base = stack::arguments.top;
        cell* source = stack::push(input);
        source->data1 = (uint32_t)at();
        cell* loaded = stack::push_cell();
        lexer::Outcome out{0, 0, 0};
        lexer::Options o;
        o.one = true;
        cell* failed = interpreter::catch_error([&] { out = lexer::load(source, end() - at(), o, loaded); });
        bool m = !failed && out.count == 1 && type_fits(v, loaded->type());
        stack::arguments.top = base;
        if (m) set_at(at() + (int32_t)out.consumed);
        return matched(m);
    }

    // --- Dispatch ------------------------------------------------------------------------

    // Whether the cell at pos is the pending command's argument.
    bool is_argument() { return top_is_command() && (int32_t)top(1)->data1 == pos; }

    // A literal as a command's argument.
    State literal_argument(const cell& v) {
        int32_t code = top_code();
        if (code == CMD_REPEAT) {
            cell* c = top(0);
            int32_t min = (int32_t)c->data1, max = (int32_t)c->data2;
            match = repeat_value(v, min, max);
            return pop_applied();
        }
        if (code == CMD_TO || code == CMD_THRU) {
            match = to_thru_value(v, code == CMD_THRU);
            return pop_applied();
        }
        return literal(v);
    }
    // Pops a command whose work is done.
    State pop_applied() {
        pop_entry();
        if (!fire(words::word_match)) return S_STOP;
        if (!fire(words::word_pop)) return S_STOP;
        return after();
    }

    State dispatch(const cell& r, bool looked_up) {
        switch (r.type()) {
            case TYPE_WORD: {
                if (!looked_up) {
                    Keyword k = keyword_of(&r);
                    if (k) return keyword(k);
                }
                cell v = lookup(r);
                if (is_argument()) {
                    if (v.type() == TYPE_WORD) return literal_argument(v);
                } else if (v.type() == TYPE_WORD) {
                    raise("parse-rule", &r);
                }
                return dispatch(v, true);
            }
            case TYPE_BLOCK:
                return enter(r);
            case TYPE_DATATYPE:
            case TYPE_TYPESET:
                return datatype_rule(r);
            case TYPE_SET_WORD: {
                cell w = r, v = *input;
                v.data1 = (uint32_t)at();
                *scratch = v;
                word::set_in(&w, scratch);
                return S_FETCH;
            }
            case TYPE_GET_WORD: {
                cell w = r;
                cell v = *word::get_value(&w);
                if (!same_series(&v, input)) raise("parse-invalid-ref", &v);
                set_at((int32_t)v.data1);
                return matched(true);
            }
            case TYPE_INTEGER:
                return count(r);
            case TYPE_PAREN: {
                bool keep_it = is_argument() && top_code() == CMD_KEEP_PAREN;
                if (!eval_paren(r, keep_it)) return S_SIGNAL;
                if (stopped) return S_STOP;
                return after();
            }
            case TYPE_PATH:
                raise("parse-rule", &r);
            default:
                if (is_argument()) return literal_argument(r);
                return literal(r);
        }
    }

    // n [m] rule
    State count(const cell& r) {
        int32_t n = (int32_t)r.data2, max = n;
        if (n < 0) raise_out_of_range(n);
        int32_t p = pos + 1;
        bool range = false;
        cell m = rule(p);
        if (m.type() == TYPE_WORD && !keyword_of(&m) && word::context_of(&m)) {
            cell v = *word::get_value(&m);
            if (v.type() == TYPE_INTEGER) m = v;
        }
        if (p < rule_len() && m.type() == TYPE_INTEGER) {
            max = (int32_t)m.data2;
            if (max < 0) raise_out_of_range(max);
            if (max < n) raise("parse-rule", &m);
            range = true;
            p++;
        }
        if (p >= rule_len()) raise("parse-rule", &r);
        if (max == 0 && (n == 0 || range)) {
            pos = element_end(p);
            return after();
        }
        return push_repeat(CMD_REPEAT, n, max, p);
    }

    // --- Keywords ------------------------------------------------------------------------

    // Whether the rule cell at p is a literal that a repetition matches
    // directly (itself, or a word's value), left in v.
    bool repeated_literal(int32_t p, cell& v) {
        if (!rule_at(p, v)) return false;
        if (v.type() == TYPE_WORD) {
            if (keyword_of(&v)) return false;
            v = lookup(v);
        }
        uint8_t t = v.type();
        return t == TYPE_BITSET || t == TYPE_CHAR || series::is_any_string(t);
    }

    // Requires a rule cell after the keyword at pos.
    bool has_next() { return pos + 1 < rule_len(); }

    // Whether the optional keyword `word` (only, pick) follows the keyword k
    // at pos; p is left at the rule cell after both, and when none is left
    // k's end error is raised.
    bool option(Keyword word, Keyword k, int32_t& p) {
        p = pos + 1;
        cell c = rule(p);
        bool given = p < rule_len() && is_keyword(&c, word);
        if (given) p++;
        if (p >= rule_len()) raise_end(k);
        return given;
    }

    State keyword(Keyword k) {
        switch (k) {
            case KW_BAR:
                pos = rule_len();
                return S_LEAVE;
            case KW_SKIP:
                if (at_end()) return matched(false);
                set_at(at() + 1);
                return matched(true);
            case KW_ANY:
            case KW_SOME:
            case KW_OPT: {
                if (!has_next()) return matched(true);
                int32_t min = k == KW_SOME ? 1 : 0, max = k == KW_OPT ? 1 : -1;
                cell v;
                if (!callback && (check_stacks(), repeated_literal(pos + 1, v))) {
                    // What the command entry would do, without the entry: no
                    // tracer is there to see it and no code runs meanwhile.
                    pos++;
                    match = repeat_value(v, min, max);
                    return after();
                }
                return push_repeat(CMD_REPEAT, min, max, pos + 1);
            }
            case KW_WHILE:
                if (!has_next()) raise_end(k);
                return push_repeat(CMD_WHILE, 0, -1, pos + 1);
            case KW_TO:
            case KW_THRU: {
                if (!has_next()) raise_end(k);
                cell n = rule(pos + 1);
                if (is_keyword(&n, KW_END)) {
                    set_at(end());
                    pos++;
                    return matched(true);
                }
                return push_plain(k == KW_TO ? CMD_TO : CMD_THRU, pos + 1);
            }
            case KW_COPY:
            case KW_SET: {
                cell w = rule(pos + 1);
                if (pos + 2 >= rule_len() || w.type() != TYPE_WORD) raise_end(k);
                return push_command(k == KW_COPY ? CMD_COPY : CMD_SET, w, pos + 2);
            }
            case KW_NOT:
                if (!has_next()) raise_end(k);
                return push_plain(CMD_NOT, pos + 1);
            case KW_AHEAD:
                if (!has_next()) raise_end(k);
                return push_plain(CMD_AHEAD, pos + 1);
            case KW_INTO:
                return into();
            case KW_REMOVE:
                return remove_keyword();
            case KW_INSERT:
                return insert_keyword();
            case KW_CHANGE:
                return change_keyword();
            case KW_BREAK:
            case KW_REJECT:
                match = k == KW_BREAK;
                brk = pop_flag = true;
                if (!fire(words::word_match)) return S_STOP;
                if (top_is_command()) return S_POPCMD;
                return leave_early();
            case KW_FAIL:
                return matched(false);
            case KW_END:
                return matched(at_end());
            case KW_NONE:
                return matched(true);
            case KW_IF: {
                cell p = rule(pos + 1);
                if (!has_next() || p.type() != TYPE_PAREN) raise_end(k);
                pos++;
                if (!eval_paren(p, true)) return S_SIGNAL;
                if (stopped) return S_STOP;
                return matched(truthy(kept));
            }
            case KW_QUOTE:
                if (!has_next()) raise_end(k);
                pos++;
                return literal(rule(pos));
            case KW_CASE: {
                cell w = rule(pos + 1);
                if (!has_next() || w.type() != TYPE_WORD) raise_end(k);
                if (pos + 2 >= rule_len()) {
                    pos++;
                    return matched(true);
                }
                cell v = lookup(w);
                cell old;
                triple::make_at(&old, mode, 0, 1);
                mode = truthy(&v) ? 2 : 0;
                return push_command(CMD_CASE, old, pos + 2);
            }
            case KW_KEEP: {
                if (collects.empty()) raise("parse-keep");
                int32_t p;
                bool pick = option(KW_PICK, k, p);
                return push_plain(rule(p).type() == TYPE_PAREN ? CMD_KEEP_PAREN : CMD_KEEP, p, pick);
            }
            case KW_COLLECT:
                return collect();
            default: {
                // `only`, `pick` and `after` mean nothing on their own.
                cell w = rule(pos);
                raise("parse-rule", &w);
            }
        }
    }

    State into() {
        if (kind != K_BLOCK) raise("parse-block", input);
        cell r = rule(pos + 1);
        bool ok = r.type() == TYPE_BLOCK;
        if (!ok && r.type() == TYPE_WORD && !keyword_of(&r) && word::context_of(&r))
            ok = word::get_value(&r)->type() == TYPE_BLOCK;
        if (!has_next() || !ok) raise_end(KW_INTO);
        if (at_end() || !is_parsable(value_at(at()).type())) {
            pos++;
            return matched(false);
        }
        cell nested = value_at(at());
        State s = push_plain(CMD_INTO, pos + 1);
        block::append_cell_copy(series::node_of(input_stack), &nested);
        *input = nested;
        depth++;
        kind = kind_of(input->type());
        at();
        return s;
    }

    // The value of insert and change: a paren's value, a word's value or the
    // cell itself, left in `kept`.
    bool operand(int32_t p) {
        cell c = rule(p);
        if (c.type() == TYPE_PAREN) return eval_paren(c, true);
        if (c.type() == TYPE_PATH) raise("parse-rule", &c);
        if (c.type() == TYPE_WORD) {
            cell w = c;
            cell v = *word::get_value(&w);
            if (v.type() == TYPE_UNSET) raise("no-value", &w);
            *kept = v;
            return true;
        }
        *kept = c;
        return true;
    }

    // Removes the units between two indexes; the input goes to the first.
    void remove_between(int32_t a, int32_t b) {
        if (b < a) std::swap(a, b);
        if (b > a) {
            cell* s = stack::push(input);
            s->data1 = (uint32_t)a;
            cell* part = integer::push(b - a);
            actions::get_action_ptr_of<datatype::A_REMOVE>(s)(s, part, series::ABSENT);
            stack::pop(2);
            shift_limit(a, -(b - a));
            events++;
        }
        set_at(a);
    }

    State remove_keyword() {
        if (!has_next()) raise_end(KW_REMOVE);
        int32_t p;
        if (position_of(rule(pos + 1), p)) {
            pos++;
            remove_between(p, at());
            return matched(true);
        }
        return push_plain(CMD_REMOVE, pos + 1);
    }

    State insert_keyword() {
        int32_t p, where;
        bool only = option(KW_ONLY, KW_INSERT, p);
        bool positioned = p + 1 < rule_len() && position_of(rule(p), where);
        if (positioned) p++;
        pos = p;
        if (!operand(p)) return S_SIGNAL;
        if (stopped) return S_STOP;
        if (!positioned) where = at();
        int32_t before = units();
        cell* s = stack::push(input);
        s->data1 = (uint32_t)(where > before ? before : where);
        actions::get_action_ptr_of<datatype::A_INSERT>(s)(s, kept, -1, only, 1);
        stack::pop(1);
        int32_t added = units() - before;
        if (where <= at()) set_at(at() + added);
        shift_limit(where, added);
        events++;
        if (!fire(words::word_match)) return S_STOP;
        return after();
    }

    // Copies the units between two indexes into `out`.
    void copy_between(int32_t a, int32_t b, cell* out) {
        if (b < a) std::swap(a, b);
        cell* from = stack::push(input);
        from->data1 = (uint32_t)a;
        cell* part = integer::push(b - a);
        actions::copy_typed(from, out, part, false, series::ABSENT);
        stack::pop(2);
    }

    // Changes the units between two indexes to the value in `kept`; the
    // input goes after the change.
    void change_between(int32_t a, int32_t b, bool only) {
        if (b < a) std::swap(a, b);
        int32_t before = units();
        cell* s = stack::push(input);
        s->data1 = (uint32_t)a;
        actions::get_action_ptr_of<datatype::A_CHANGE>(s)(s, kept, b - a, only, 1);
        int32_t after_change = (int32_t)s->data1;
        stack::pop(1);
        shift_limit(a, units() - before);
        events++;
        set_at(after_change);
    }

    State change_keyword() {
        int32_t p, where;
        bool only = option(KW_ONLY, KW_CHANGE, p);
        if (p + 1 < rule_len() && position_of(rule(p), where)) {
            pos = p + 1;
            if (!operand(pos)) return S_SIGNAL;
            if (stopped) return S_STOP;
            change_between(at(), where, only);
            return matched(true);
        }
        return push_plain(only ? CMD_CHANGE_ONLY : CMD_CHANGE, p);
    }

    // collect [set word | into word | after word] rule
    State collect() {
        int32_t p = pos + 1;
        CollectKind ck = C_PLAIN;
        cell c = rule(p), w = rule(p + 1);
        Keyword k = keyword_of(&c);
        if ((k == KW_SET || k == KW_INTO || k == KW_AFTER) && w.type() == TYPE_WORD && p + 1 < rule_len()) {
            ck = k == KW_SET ? C_SET : k == KW_INTO ? C_INTO : C_AFTER;
            p += 2;
        } else {
            none::make_at(&w);
        }
        if (p >= rule_len()) raise_end(KW_COLLECT);
        cell* cells = stack::push_cell();
        stack::push(&w);
        if (ck == C_INTO || ck == C_AFTER) {
            cell t = lookup(w);
            uint8_t tt = t.type();
            bool fits = tt == TYPE_BINARY || (series::is_any_string(tt) && kind != K_BINARY) ||
                        (series::is_any_block(tt) && kind == K_BLOCK);
            if (!fits) raise("parse-into-type", &t);
            if (t.data2 == input->data2 || t.data2 == outer_node) raise("parse-into-bad", &t);
            if (ck == C_AFTER) t.data1 = series::buffer_units(&t);
            *cells = t;
        } else {
            block::make_at(cells, 8);
        }
        collects.push_back({cells, ck});
        return push_plain(CMD_COLLECT, p);
    }

    // Puts one kept value into the innermost target (a block value's cells
    // one by one with `spread`).
    void put_kept(cell* value, bool spread) {
        Collect& c = collects.back();
        cell* t = c.cells;
        bool inserting = c.kind == C_INTO || c.kind == C_AFTER;
        bool only = !spread;
        if (inserting) {
            actions::get_action_ptr_of<datatype::A_INSERT>(t)(t, value, -1, only, 1);
        } else {
            cell* s = stack::push(t);
            actions::get_action_ptr_of<datatype::A_APPEND>(s)(s, value, -1, only, 1);
            stack::pop(1);
        }
    }

    // The value of one unit of the input.
    void unit_value(int32_t i, cell* out) {
        if (kind == K_BLOCK) *out = value_at(i);
        else if (kind == K_STRING) char_::make_at(out, unit_at(i));
        else integer::make_at(out, unit_at(i));
    }

    void keep_matched(int32_t s, bool pick) {
        int32_t e = at();
        if (e < s) std::swap(s, e);
        if (e == s) return;
        if (pick || e - s == 1) {
            for (int32_t i = s; i < e; i++) {
                unit_value(i, kept);
                put_kept(kept, false);
            }
            return;
        }
        copy_between(s, e, kept);
        put_kept(kept, false);
    }

    State end_collect() {
        Collect c = collects.back();
        if (c.kind == C_PLAIN) {
            if (collects.size() > 1) {
                *kept = c.cells[0];
                collects.pop_back();
                put_kept(kept, false);
                collects.push_back(c);
            } else {
                *collected = c.cells[0];
            }
        } else if (c.kind == C_SET) {
            cell w = c.cells[1];
            word::set_in(&w, c.cells);
        }
        collects.pop_back();
        stack::arguments.top = c.cells;
        return S_AFTER;
    }

    // --- Pending commands -----------------------------------------------------------------

    State pop_command() {
        pop_flag = false;
        cell* e = top(0);
        int32_t code = (int32_t)e[2].data2;
        bool pick = e[2].data3 != 0;
        int32_t p = (int32_t)e[1].data1, s = (int32_t)e[1].data2, r = (int32_t)e[1].data3;
        // into's start is a position of the outer input, checked once that is back.
        if (s < 0) s = 0;
        if (code != CMD_INTO && s > units()) s = units();
        bool was_break = brk;
        brk = false;
        switch (code) {
            case CMD_REPEAT:
            case CMD_WHILE: {
                int32_t min = (int32_t)e[0].data1, max = (int32_t)e[0].data2, c = (int32_t)e[0].data3;
                bool stop = was_break || !match || (max >= 0 && c >= max);
                if (!stop && at() == s) {
                    if (code == CMD_REPEAT) stop = remaining() >= r;
                    else stop = remaining() == r && events == top_aux().stamp;
                }
                if (!stop) {
                    e[0].data3 = (uint32_t)(c + 1);
                    e[1].data2 = (uint32_t)at();
                    e[1].data3 = (uint32_t)remaining();
                    top_aux().stamp = events;
                    pos = p - 1;
                    if (!fire(words::word_iterate)) return S_STOP;
                    return S_FETCH;
                }
                bool ok;
                if (match) {
                    ok = c >= min;
                } else {
                    ok = c - 1 >= min;
                    set_at(s);
                }
                match = ok || min == 0;
                break;
            }
            case CMD_TO:
            case CMD_THRU:
                if (match) {
                    if (code == CMD_TO) set_at(s);
                } else if (s < end() && !was_break) {
                    set_at(s + 1);
                    e = top(0);
                    e[1].data2 = (uint32_t)at();
                    e[1].data3 = (uint32_t)remaining();
                    pos = p - 1;
                    match = true;
                    if (!fire(words::word_pop)) return S_STOP;
                    if (!fire(words::word_iterate)) return S_STOP;
                    return S_FETCH;
                } else {
                    set_at(top_aux().origin);
                }
                break;
            case CMD_COPY:
                if (match) {
                    copy_between(s, at(), scratch);
                    cell w = top(0)[0];
                    word::set_in(&w, scratch);
                }
                break;
            case CMD_SET:
                if (match) {
                    if (at() <= s) none::make_at(scratch);
                    else unit_value(s, scratch);
                    cell w = top(0)[0];
                    word::set_in(&w, scratch);
                }
                break;
            case CMD_NOT:
                match = !match;
                set_at(s);
                break;
            case CMD_INTO: {
                bool ok = match && at_end() && left_at_tail;
                Node* in = series::node_of(input_stack);
                block::truncate(in, block::total_cells(in) - 1);
                int32_t n = block::total_cells(in);
                if (n < 1) raise("parse-stack");
                *input = block::cells_of(in)[n - 1];
                depth--;
                kind = kind_of(input->type());
                if (s > units()) s = units();
                set_at(s + (ok ? 1 : 0));
                match = ok;
                break;
            }
            case CMD_REMOVE:
                if (match) remove_between(s, at());
                break;
            case CMD_COLLECT:
                if (!fire(words::word_match)) return S_STOP;
                pop_entry();
                end_collect();
                if (!fire(words::word_pop)) return S_STOP;
                return after();
            case CMD_KEEP:
                if (match) keep_matched(s, pick);
                break;
            case CMD_KEEP_PAREN:
                if (match) {
                    if (pick && series::is_any_block(kept->type())) put_kept(kept, true);
                    else put_kept(kept, false);
                }
                break;
            case CMD_AHEAD:
                set_at(s);
                break;
            case CMD_CHANGE:
            case CMD_CHANGE_ONLY: {
                if (pos + 1 >= rule_len()) raise_end(KW_CHANGE);
                pos++;
                if (match) {
                    if (!operand(pos)) return S_SIGNAL;
                    if (stopped) return S_STOP;
                    change_between(s, at(), code == CMD_CHANGE_ONLY);
                }
                break;
            }
            case CMD_CASE:
                mode = (int32_t)e[0].data1;
                break;
            default: {
                cell bad = *rule_stack;
                raise("parse-rule", &bad);
            }
        }
        if (!fire(words::word_match)) return S_STOP;
        pop_entry();
        if (!fire(words::word_pop)) return S_STOP;
        return after();
    }

    // --- The machine ---------------------------------------------------------------------

    State fetch() {
        pos++;
        cell c;
        if (!rule_at(pos, c)) return S_LEAVE;
        if (!fire(words::word_fetch)) return S_STOP;
        if (callback && !rule_at(pos, c)) return S_LEAVE;  // the callback may have cut the rules
        return dispatch(c, false);
    }

    // Runs to the end; false when a signal is travelling.
    bool run(cell* result) {
        State s = enter(*rules);
        // The root entry goes back to the rules themselves.
        while (true) {
            if (signal) return false;
            if (stopped) s = S_STOP;
            switch (s) {
                case S_FETCH: s = fetch(); break;
                case S_AFTER: s = after(); break;
                case S_ALT: s = try_alternative(); break;
                case S_LEAVE: s = leave(); break;
                case S_POPCMD: s = pop_command(); break;
                case S_SIGNAL: return false;
                case S_STOP:
                    logic::make_at(result, match);
                    return true;
                case S_FINISH: {
                    bool ok = match && rules_done && at_end();
                    match = ok;
                    fire(words::global_end);
                    if (signal) return false;
                    if (collected->type() == TYPE_BLOCK) *result = *collected;
                    else logic::make_at(result, ok);
                    return true;
                }
            }
        }
    }
};

// Heads of the stacks a call found, put back however it ends.
struct StackScope {
    uint32_t rule_head, input_head;
    int32_t mark;  // where this call's cells begin (its triple, when it recorded one)

    StackScope() {
        rule_head = rule_stack->data1;
        input_head = input_stack->data1;
        Node* rn = series::node_of(rule_stack);
        mark = block::total_cells(rn);
        if (mark > (int32_t)rule_head) {
            cell t;
            triple::make_at(&t, (int32_t)rule_head, (int32_t)input_head, 0);
            block::append_cell_copy(rn, &t);
        }
        rule_stack->data1 = (uint32_t)block::total_cells(rn);
        input_stack->data1 = (uint32_t)block::total_cells(series::node_of(input_stack));
        input_mark = (int32_t)input_stack->data1;
    }
    ~StackScope() {
        block::truncate(series::node_of(rule_stack), mark);
        block::truncate(series::node_of(input_stack), input_mark);
        rule_stack->data1 = rule_head;
        input_stack->data1 = input_head;
    }
    int32_t input_mark;
};

}  // namespace

void init() {
    input_stack = block::make_in(block::root, 8);
    rule_stack = block::make_in(block::root, 100);
    const int32_t symbols[KW_COUNT] = {
        0, words::sym_any, words::sym_break, words::sym_copy, words::sym_end, words::sym_fail,
        words::sym_into, words::sym_opt, words::sym_not, words::sym_quote, words::sym_case,
        words::sym_reject, words::sym_set, words::sym_skip, words::sym_some, words::sym_thru,
        words::sym_to, words::sym_none, words::sym_bar, words::sym_if, words::sym_remove,
        words::sym_while, words::sym_insert, words::sym_only, words::sym_collect, words::sym_keep,
        words::sym_pick, words::sym_ahead, words::sym_after, symbol::make("change"),
    };
    keyword_by_symbol.clear();
    for (int32_t k = 1; k < KW_COUNT; k++) {
        int32_t sym = symbol::resolve(symbols[k]);
        keyword_symbols[k] = sym;
        if ((size_t)sym >= keyword_by_symbol.size()) keyword_by_symbol.resize((size_t)sym + 1, KW_NONE_);
        keyword_by_symbol[(size_t)sym] = (uint8_t)k;
    }
}

bool process(cell* input, cell* rules, int32_t mode, int32_t limit, cell* callback, cell* result) {
    StackScope scope;
    Engine e;
    cell* base = stack::arguments.top;
    e.input = stack::push(input);
    e.rules = stack::push(rules);
    e.kept = stack::push_cell();
    e.scratch = stack::push_cell();
    e.collected = none::make_at(stack::push_cell());
    e.callback = callback ? stack::push(callback) : nullptr;
    e.limit = limit;
    e.mode = mode;
    e.pos = -1;
    e.kind = kind_of(input->type());
    e.outer_node = input->data2;
    e.rule_base = block::total_cells(series::node_of(rule_stack));
    block::append_cell_copy(series::node_of(input_stack), input);
    e.at();
    cell out;
    if (!e.run(&out)) return false;
    stack::arguments.top = base;
    *result = out;
    return true;
}

}  // namespace parser
