// The word family.
#include "datatypes/word.h"

#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "runtime/init.h"
#include "runtime/tracked.h"
#include "runtime/words.h"

namespace word {

using memory::Buffer;

// --- Root slots ----------------------------------------------------------------

Node* root = nullptr;

void use_root(Node* block) { root = block; }

cell* root_slot() {
    if (!root) root = memory::alloc_fixed_series(ROOT_CELLS, sizeof(cell), 0);
    Buffer* b = root->buffer;
    // The block never moves (cells here are kept by address): full is the end.
    if (b->tail + sizeof(cell) > b->data_end()) memory::raise_internal(memory::Internal::no_memory);
    cell* c = reinterpret_cast<cell*>(b->tail);
    b->tail += sizeof(cell);
    *c = cell{TYPE_UNSET, 0, 0, 0};
    return c;
}

cell* copy_to_root(const cell* value) {
    cell copy = *value;  // making the root block may allocate; the source may lie in a buffer
    return cell::copy(&copy, root_slot());
}

static bool in_root(const cell* c) {
    if (!root) return false;
    Buffer* b = root->buffer;
    return (const uint8_t*)c >= b->head && (const uint8_t*)c < b->tail;
}

// --- Helpers --------------------------------------------------------------------

namespace {

// A new unset! tail cell of a block.
cell* append_cell(Node* block) {
    Buffer* b = block->buffer;
    if ((uint32_t)(b->data_end() - b->tail) < sizeof(cell)) {
        uint32_t grown = b->capacity ? sys::size_mul(b->capacity, 2) : 16 * sizeof(cell);
        b = memory::expand_series_copy(block, (int32_t)grown);
    }
    cell* c = reinterpret_cast<cell*>(b->tail);
    b->tail += sizeof(cell);
    *c = cell{TYPE_UNSET, 0, 0, 0};
    return c;
}

// A string! cell over a symbol's spelling series (made when missing).
cell spelling_string(int32_t symbol) {
    Node* text = symbol::string_of(symbol);
    return cell{TYPE_STRING, 0, (uint32_t)(uintptr_t)text, 0};
}

[[noreturn]] void raise_with_word(error::Script id, const cell* w) {
    cell copy = *w;
    error::raise_script(id, &copy);
}

[[noreturn]] void raise_bad_to(int32_t type, const cell* spec) {
    cell t;
    datatype::make_at(&t, (uint8_t)type);
    cell s = *spec;
    error::raise_script(error::Script::bad_to_arg, &t, &s);
}

bool is_self(const cell* w) {
    return words::sym_self && symbol::resolve(symbol_of(w)) == symbol::resolve(words::sym_self);
}

// The word's index in a context: a word with index -1 is looked up by exact
// symbol (then by canonical symbol, as adding would), and added when
// missing. The index is written into the word cell before anything
// allocates, since the cell may lie in a movable buffer.
int32_t resolve_index(cell* w, Node* ctx) {
    int32_t index = index_of_cell(w);
    if (index != -1) return index;
    int32_t symbol = symbol_of(w);
    index = context::find_word(ctx, symbol, false);
    if (index < 0) index = context::find_word(ctx, symbol, true);
    if (index >= 0) {
        w->data3 = (uint32_t)index;
        return index;
    }
    index = context::word_count(ctx);
    w->data3 = (uint32_t)index;
    cell copy = *w;
    int32_t added = context::add_word(ctx, &copy);
    (void)added;
    return index;
}

}  // namespace

// --- Making words --------------------------------------------------------------------

cell* load(const char* spelling) {
    int32_t symbol = symbol::make(spelling);
    cell* w = context::add_global(symbol, true, true);
    if (runtime::boot_flag && !in_root(w)) return copy_to_root(w);
    return w;
}

cell* make_at(int32_t symbol, cell* out) {
    cell w;
    make_cell(&w, TYPE_WORD, context::global, symbol, -1);
    int32_t index = context::add_word(context::global, &w);
    return make_cell(out, TYPE_WORD, context::global, symbol, index);
}

cell* make_at_base(int32_t symbol) {
    cell w;
    make_at(symbol, &w);
    return stack::set_last(&w);
}

cell* append_new(int32_t symbol, Node* block) {
    cell w;
    make_at(symbol, &w);
    return cell::copy(&w, append_cell(block));
}

cell* append_load(const char* spelling, Node* block) { return append_new(symbol::make(spelling), block); }

cell* push_new(int32_t symbol) {
    cell w;
    make_at(symbol, &w);
    return stack::push(&w);
}

// --- Pushing and reading ------------------------------------------------------------------

cell* push(const cell* value) { return stack::push(value); }

cell* push_in(Node* ctx, int32_t index) { return stack::push(context::word_at(ctx, index)); }

cell* value_cell_in(const cell* w, Node* ctx) {
    int32_t index = index_of_cell(w);
    if (index == -1) {
        if (is_self(w) && context_of(w)) return context::owner(context_of(w));
        raise_with_word(error::Script::no_value, w);
    }
    if (!context::has_values(ctx)) raise_with_word(error::Script::not_in_context, w);
    return context::value_cell_at(ctx, index);
}

cell* get_value(const cell* w) {
    Node* ctx = context_of(w);
    if (!ctx) raise_with_word(error::Script::no_value, w);
    return value_cell_in(w, ctx);
}

cell* get(const cell* w) {
    cell* v = get_value(w);
    if (v->type() == TYPE_UNSET) raise_with_word(error::Script::no_value, w);
    return stack::push(v);
}

cell* push_value(const cell* w) { return stack::push(get_value(w)); }
cell* push_any_value(const cell* w) { return stack::push(get_value(w)); }

cell* get_from_stack() { return stack::set_last(get_value(stack::args())); }

cell* get_local(Node* ctx, int32_t index) {
    if (!context::has_values(ctx)) raise_with_word(error::Script::not_defined, context::word_at(ctx, index));
    return stack::push(context::value_cell_at(ctx, index));
}

cell* get_in_or_global(Node* ctx, int32_t symbol) {
    int32_t index = context::find_word(ctx, symbol, false);
    if (index >= 0) return context::word_at(ctx, index);
    return context::get_global(symbol);
}

cell* to_string(const cell* w) {
    cell s = spelling_string(symbol_of(w));
    return stack::push(&s);
}

cell* symbol_record(const cell* w) { return symbol::get(symbol_of(w)); }

// The characters no word may hold: they delimit or start other values.
static bool is_delimiter(uint8_t c) {
    switch (c) {
        case ' ': case '\t': case '\r': case '\n': case '[': case ']': case '(': case ')':
        case '{': case '}': case '"': case ';': case ':': case '/': case '\'': case '@':
        case '\\': case ',':
            return true;
        default:
            return c < 0x20;
    }
}

uint8_t spelling_type(const uint8_t* p, uint32_t n) {
    if (n == 0) return 0;
    uint8_t type = TYPE_WORD;
    switch (p[0]) {
        case '\'': type = TYPE_LIT_WORD; break;
        case ':': type = TYPE_GET_WORD; break;
        case '/': type = TYPE_REFINEMENT; break;
        case '#': type = TYPE_ISSUE; break;
        default: break;
    }
    if (type != TYPE_WORD) p++, n--;
    else if (p[n - 1] == ':') type = TYPE_SET_WORD, n--;
    if (n == 0) return type == TYPE_REFINEMENT ? TYPE_WORD : 0;  // `/` alone is a word
    for (uint32_t i = 0; i < n; i++)
        if (is_delimiter(p[i])) return 0;
    if (type == TYPE_ISSUE) return TYPE_ISSUE;  // issues may start with digits
    // Numbers: a digit first, or a sign or point before a digit.
    uint32_t at = (p[0] == '+' || p[0] == '-') ? 1 : 0;
    if (at < n && p[at] == '.') at++;
    if (at < n && p[at] >= '0' && p[at] <= '9') {
        if (type != TYPE_WORD) return 0;
        for (uint32_t i = p[0] == '+' || p[0] == '-' ? 1 : 0; i < n; i++)
            if (p[i] < '0' || p[i] > '9') return TYPE_FLOAT;
        return TYPE_INTEGER;
    }
    // Files, money, issues and the like start with their own sigils.
    if (p[0] == '%' || p[0] == '$' || p[0] == '#' || p[0] == '~') return 0;
    // `<` before anything but an operator character opens a tag.
    if (p[0] == '<' && n > 1 && p[1] != '<' && p[1] != '=' && p[1] != '>') return 0;
    return type;
}

uint8_t spelling_type(const cell* w) {
    std::string s = symbol::to_cstr(symbol_of(w));
    return spelling_type((const uint8_t*)s.data(), (uint32_t)s.size());
}

// --- Setting ---------------------------------------------------------------------------

cell* set() {
    cell* base = stack::args();
    cell* value = base + 1;
    if (value->type() == TYPE_UNSET) raise_with_word(error::Script::need_value, base);
    set_in(base, value);
    return stack::set_last(value);
}

cell* set_from_base(cell* target) {
    if (stack::args()->type() == TYPE_UNSET) raise_with_word(error::Script::need_value, target);
    return cell::copy(stack::args(), target);
}

cell* set_from_stack() {
    cell* base = stack::args();
    set_in(base, base + 1);
    return stack::set_last(base + 1);
}

cell* set_in(cell* w, const cell* value) {
    Node* ctx = context_of(w);
    if (!ctx) raise_with_word(error::Script::not_defined, w);
    return set_in_context(w, value, ctx, true);
}

cell* set_in_context(cell* w, const cell* value, Node* ctx, bool fire) {
    cell* top = stack::arguments.top;
    // Kept on the stack: the value's own buffer may move while a word is added.
    cell* held = stack::push(value);
    cell* word_copy = stack::push(w);
    int32_t index = resolve_index(w, ctx);
    word_copy->data3 = (uint32_t)index;
    if (!context::has_values(ctx)) raise_with_word(error::Script::not_defined, word_copy);
    cell* slot;
    if (context::is_stack(ctx)) {
        slot = cell::copy(held, context::value_cell_at(ctx, index));
    } else {
        if (context::kind_of(ctx) == context::KIND_OBJECT)
            context::word_at(ctx, index)->header |= context::WORD_CHANGED;
        if (fire && context::owner(ctx)->data3 != 0 && context::fire_on_change) {
            cell* owner = stack::push(context::owner(ctx));
            cell* old = stack::push(context::value_cell_at(ctx, index));
            cell::copy(held, context::value_cell_at(ctx, index));
            context::fire_on_change(owner, word_copy, old, held);
        } else {
            cell::copy(held, context::value_cell_at(ctx, index));
        }
        slot = context::value_cell_at(ctx, index);
    }
    stack::arguments.top = top;
    return slot;
}

void set_integer_in(Node* ctx, cell* w, int32_t n) {
    int32_t index = resolve_index(w, ctx);
    if (!context::has_values(ctx)) raise_with_word(error::Script::not_defined, w);
    series::make_integer(context::value_cell_at(ctx, index), n);
}

// --- Binding -----------------------------------------------------------------------------

int32_t bind_to(Node* ctx, cell* w) {
    int32_t index = context::find_word(ctx, symbol_of(w), true);
    if (index >= 0) {
        w->data1 = (uint32_t)(uintptr_t)ctx;
        w->data3 = (uint32_t)index;
    }
    return index;
}

// --- Actions -------------------------------------------------------------------------------

namespace {

// Loads text as one word-type value (the lexer's part until it exists):
// surrounding blanks are dropped; anything but one word-type token raises
// invalid-chars.
cell load_word_text(std::string text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    size_t last = text.find_last_not_of(" \t\r\n");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    uint8_t type = spelling_type((const uint8_t*)text.data(), (uint32_t)text.size());
    if (!is_any_word_type(type)) error::raise_script(error::Script::invalid_chars);
    size_t from = (type == TYPE_WORD || type == TYPE_SET_WORD) ? 0 : 1;
    size_t length = text.size() - from - (type == TYPE_SET_WORD ? 1 : 0);
    int32_t symbol = symbol::make_n((const uint8_t*)text.data() + from, (uint32_t)length);
    cell w;
    if (type == TYPE_ISSUE) return *make_cell(&w, TYPE_ISSUE, context::global, symbol, -1);
    make_at(symbol, &w);
    cell::set_type(&w, type);
    return w;
}

std::string utf8_of_char(int32_t cp) {
    std::string s;
    uint32_t c = (uint32_t)cp;
    if (c < 0x80) {
        s += (char)c;
    } else if (c < 0x800) {
        s += (char)(0xC0 | c >> 6);
        s += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += (char)(0xE0 | c >> 12);
        s += (char)(0x80 | (c >> 6 & 0x3F));
        s += (char)(0x80 | (c & 0x3F));
    } else {
        s += (char)(0xF0 | c >> 18);
        s += (char)(0x80 | (c >> 12 & 0x3F));
        s += (char)(0x80 | (c >> 6 & 0x3F));
        s += (char)(0x80 | (c & 0x3F));
    }
    return s;
}

std::string utf8_of_string(cell* value) {
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(value, &n);
    return std::string((const char*)p, (size_t)n);
}

}  // namespace

cell* make(cell* target, cell* spec, int32_t type) {
    cell result;
    switch (spec->type()) {
        case TYPE_DATATYPE: {
            const cell* w = datatype::type_names[spec->data1 & 0xFF].word;
            if (!w) raise_bad_to(type, spec);
            result = *w;
            break;
        }
        case TYPE_LOGIC:
            make_at(spec->data1 ? words::sym_true : words::sym_false, &result);
            break;
        case TYPE_STRING:
            result = load_word_text(utf8_of_string(spec));
            break;
        case TYPE_CHAR:
            result = load_word_text(utf8_of_char((int32_t)spec->data2));
            break;
        case TYPE_REFINEMENT:
        case TYPE_ISSUE: {
            uint8_t scans = spelling_type(spec);
            if (!(scans >= TYPE_WORD && scans <= TYPE_GET_WORD)) raise_bad_to(type, spec);
            result = *spec;
            bind_to(context::global, &result);
            break;
        }
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            result = *spec;
            break;
        default:
            raise_bad_to(type, spec);
    }
    cell::set_header(&result, (uint8_t)type);
    return cell::copy(&result, target);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    cell text = spelling_string(symbol_of(value));
    return string::form(&text, out, part, limit);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return form(value, out, part, limit);
}

// A sigil before (or, for set-word!, after) the spelling.
static int32_t mold_with(cell* value, cell* out, cell* part, int32_t limit, const char* before,
                         const char* after) {
    if (*before) string::concatenate_bytes(out, before, 1), limit--;
    limit = form(value, out, part, limit);
    if (*after) string::concatenate_bytes(out, after, 1), limit--;
    return limit;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    uint8_t ta = a->type(), tb = b->type();
    if (!is_any_word_type(tb) || (tb == TYPE_ISSUE && ta != TYPE_ISSUE)) return datatype::NOT_COMPARABLE;
    int32_t sa = symbol_of(a), sb = symbol_of(b);
    bool plain_pair = (ta == TYPE_WORD || ta == TYPE_LIT_WORD) && (tb == TYPE_WORD || tb == TYPE_LIT_WORD);
    bool same_canonical = symbol::resolve(sa) == symbol::resolve(sb);
    switch (op) {
        case datatype::OP_SAME:
            return ta == tb && a->data1 == b->data1 && sa == sb ? 0 : 1;
        case datatype::OP_STRICT_WORD:
            if (plain_pair) return sa == sb ? 0 : 1;
            return ta == tb && sa == sb ? 0 : 1;
        case datatype::OP_STRICT_EQUAL:
            return ta == tb && sa == sb ? 0 : 1;
        case datatype::OP_WORD:
            if (plain_pair) return same_canonical ? 0 : 1;
            return ta == tb && same_canonical ? 0 : 1;
        case datatype::OP_EQUAL:
        case datatype::OP_NOT_EQUAL:
        case datatype::OP_FIND:
            return same_canonical ? 0 : 1;
        default: {
            cell x = spelling_string(sa);
            cell y = spelling_string(sb);
            return string::compare_values(&x, &y, op, false);
        }
    }
}

cell* index_of() {
    cell* v = stack::args();
    int32_t index = index_of_cell(v);
    if (index == -1) return none::make_at(v);
    return series::make_integer(v, index + 1);
}

// --- Registration --------------------------------------------------------------------------

namespace {

// A registration list built by naming its entries; the rest are `fill`.
struct Row {
    datatype::Entry e[datatype::ACTION_COUNT];
    explicit Row(datatype::Entry fill) {
        for (auto& x : e) x = fill;
    }
    Row& operator()(datatype::Entry x) {
        e[x.action - 1] = x;
        return *this;
    }
    Row& inherit(std::initializer_list<int> actions) {
        for (int a : actions) e[a - 1] = datatype::INHERIT;
        return *this;
    }
};

}  // namespace

void register_type() {
    using namespace datatype;
    Row row(NO);
    row(on<A_MAKE>(make))(on<A_TO>(make))(on<A_FORM>(form))(on<A_MOLD>(mold))(on<A_COMPARE>(compare))(
        on<A_INDEX_OF>(index_of));
    define(TYPE_WORD, TYPE_SYMBOL, "word!", row.e);
}

// The kinds that only mold differently from word!.
static void register_kind(uint8_t type, const char* name, datatype::Sig<datatype::A_MOLD>::fn mold_fn,
                          bool index) {
    using namespace datatype;
    Row row(NO);
    row.inherit({A_MAKE, A_TO, A_FORM, A_COMPARE})(on<A_MOLD>(mold_fn));
    if (index) row.inherit({A_INDEX_OF});
    define(type, TYPE_WORD, name, row.e);
}

}  // namespace word

// --- The five kinds --------------------------------------------------------------------------

namespace {

// Pushes a copy of the word at a context index, retyped.
cell* push_retyped(const cell* w, uint8_t type) { return cell::set_type(stack::push(w), type); }

cell* load_retyped(const char* spelling, uint8_t type) { return cell::set_type(word::load(spelling), type); }

cell* append_retyped(const char* spelling, word::Node* block, uint8_t type) {
    return cell::set_type(word::append_load(spelling, block), type);
}

}  // namespace


namespace set_word {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit, int32_t indent) {
    return word::mold_with(value, out, part, limit, "", ":");
}
void register_type() { word::register_kind(TYPE_SET_WORD, "set-word!", mold, true); }
cell* push_from_word(const cell* w) { return push_retyped(w, TYPE_SET_WORD); }
cell* load(const char* spelling) { return load_retyped(spelling, TYPE_SET_WORD); }
cell* append_load(const char* spelling, word::Node* block) { return append_retyped(spelling, block, TYPE_SET_WORD); }
cell* push_at(word::Node* ctx, int32_t index) { return push_retyped(context::word_at(ctx, index), TYPE_SET_WORD); }
cell* get_from_stack() { return word::get_from_stack(); }
cell* set_from_stack() { return word::set_from_stack(); }
}  // namespace set_word

namespace lit_word {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit, int32_t indent) {
    return word::mold_with(value, out, part, limit, "'", "");
}
void register_type() { word::register_kind(TYPE_LIT_WORD, "lit-word!", mold, true); }
cell* push_from_word(const cell* w) { return push_retyped(w, TYPE_LIT_WORD); }
cell* load(const char* spelling) { return load_retyped(spelling, TYPE_LIT_WORD); }
cell* append_load(const char* spelling, word::Node* block) { return append_retyped(spelling, block, TYPE_LIT_WORD); }
cell* push_at(word::Node* ctx, int32_t index) { return push_retyped(context::word_at(ctx, index), TYPE_LIT_WORD); }
cell* get_from_stack() { return word::get_from_stack(); }
cell* set_from_stack() { return word::set_from_stack(); }
}  // namespace lit_word

namespace get_word {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit, int32_t indent) {
    return word::mold_with(value, out, part, limit, ":", "");
}
void register_type() { word::register_kind(TYPE_GET_WORD, "get-word!", mold, true); }
cell* push_from_word(const cell* w) { return push_retyped(w, TYPE_GET_WORD); }
cell* load(const char* spelling) { return load_retyped(spelling, TYPE_GET_WORD); }
cell* append_load(const char* spelling, word::Node* block) { return append_retyped(spelling, block, TYPE_GET_WORD); }
cell* push_at(word::Node* ctx, int32_t index) { return push_retyped(context::word_at(ctx, index), TYPE_GET_WORD); }
cell* set_from_stack() { return word::set_from_stack(); }
}  // namespace get_word

namespace refinement {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit, int32_t indent) {
    return word::mold_with(value, out, part, limit, "/", "");
}
void register_type() { word::register_kind(TYPE_REFINEMENT, "refinement!", mold, false); }
cell* push_from_word(const cell* w) { return push_retyped(w, TYPE_REFINEMENT); }
cell* load(const char* spelling) {
    cell r;
    word::make_cell(&r, TYPE_REFINEMENT, nullptr, symbol::make(spelling), -1);
    return word::copy_to_root(&r);
}
cell* append_load(const char* spelling, word::Node* block) { return append_retyped(spelling, block, TYPE_REFINEMENT); }
cell* push_in(word::Node* ctx, int32_t index) { return push_retyped(context::word_at(ctx, index), TYPE_REFINEMENT); }
cell* get_from_stack() { return word::get_from_stack(); }
cell* set_from_stack() { return word::set_from_stack(); }
}  // namespace refinement

namespace issue {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit, int32_t indent) {
    return word::mold_with(value, out, part, limit, "#", "");
}
cell* push_from_word(const cell* w) { return push_retyped(w, TYPE_ISSUE); }

cell* make_at(cell* out, const char* spelling) {
    int32_t symbol = symbol::make(spelling);
    return word::make_cell(out, TYPE_ISSUE, context::global, symbol, -1);
}

cell* append_new(word::Node* block, const char* spelling) {
    cell i;
    make_at(&i, spelling);
    return cell::copy(&i, word::append_cell(block));
}

cell* load(const char* spelling) {
    cell i;
    make_at(&i, spelling);
    return runtime::boot_flag ? word::copy_to_root(&i) : stack::push(&i);
}

cell* make(cell* target, cell* spec, int32_t type) {
    cell result;
    switch (spec->type()) {
        case TYPE_STRING:
            word::make_cell(&result, TYPE_ISSUE, context::global, symbol::make_from_string(spec), -1);
            break;
        case TYPE_CHAR: {
            std::string s = word::utf8_of_char((int32_t)spec->data2);
            word::make_cell(&result, TYPE_ISSUE, context::global,
                            symbol::make_n((const uint8_t*)s.data(), (uint32_t)s.size()), -1);
            break;
        }
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            result = *spec;
            break;
        default:
            return word::make(target, spec, type);
    }
    cell::set_header(&result, (uint8_t)type);
    return cell::copy(&result, target);
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_ISSUE) return datatype::NOT_COMPARABLE;
    return word::compare(a, b, op);
}

void register_type() {
    using namespace datatype;
    word::Row row(NO);
    row.inherit({A_FORM})(on<A_MAKE>(make))(on<A_TO>(make))(on<A_MOLD>(mold))(on<A_COMPARE>(compare));
    define(TYPE_ISSUE, TYPE_WORD, "issue!", row.e);
}
}  // namespace issue
