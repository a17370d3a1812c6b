// Contexts.
#include "datatypes/context.h"

#include <cassert>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/hashtable.h"
#include "runtime/init.h"
#include "runtime/tracked.h"
#include "runtime/words.h"

namespace context {

using memory::Buffer;

Node* global = nullptr;
FireOnChange fire_on_change = nullptr;

// Contexts under construction (a short stack: construction does not nest
// deeply). Kept apart from the argument stack, which start-up makes later
// than the global context.
static Node** held[16];
static uint32_t held_count = 0;

Hold::Hold(Node** ctx) {
    assert(held_count < sizeof held / sizeof held[0]);
    held[held_count++] = ctx;
}
Hold::~Hold() { held_count--; }

void for_each_held(void (*mark_word)(Node** word)) {
    for (uint32_t i = 0; i < held_count; i++)
        if (*held[i]) mark_word(held[i]);
}

namespace {

cell* cells(Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
int32_t cell_count(Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

// The values block holds at least `count` cells, the new ones unset!.
void ensure_values(Node* ctx, int32_t count) {
    Node* values = values_node(ctx);
    Buffer* b = values->buffer;
    int32_t have = (int32_t)(b->used_bytes() / sizeof(cell));
    if (have >= count) return;
    uint32_t need = sys::size_mul((uint32_t)count, sizeof(cell));
    if (b->capacity < need) {
        uint32_t grown = sys::size_mul(b->capacity, 2);
        b = memory::expand_series_copy(values, (int32_t)(grown > need ? grown : need));
    }
    cell* c = reinterpret_cast<cell*>(b->head);
    for (int32_t i = have; i < count; i++) c[i] = cell{TYPE_UNSET, 0, 0, 0};
    b->tail = b->head + need;
}

void mark_changed(Node* ctx, int32_t index) {
    if (kind_of(ctx) == KIND_OBJECT) word_at(ctx, index)->header |= WORD_CHANGED;
}

bool is_walked_series(uint8_t type) {
    switch (type) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH:
            return true;
        default:
            return false;
    }
}

bool is_bound_word(uint8_t type) { return type >= TYPE_WORD && type <= TYPE_REFINEMENT; }

}  // namespace

// --- Access --------------------------------------------------------------------

Node* words_node(Node* ctx) { return hashtable::record(table_of(ctx))->data; }

Node* values_node(Node* ctx) {
    assert(!is_stack(ctx));
    return reinterpret_cast<Node*>((uintptr_t)self_cell(ctx)->data2);
}

bool has_values(Node* ctx) { return self_cell(ctx)->data2 != 0; }

int32_t word_count(Node* ctx) { return cell_count(words_node(ctx)); }

cell* word_at(Node* ctx, int32_t index) {
    assert(index >= 0 && index < word_count(ctx));
    return cells(words_node(ctx)) + index;
}

cell* value_cell_at(Node* ctx, int32_t index) {
    cell* self = self_cell(ctx);
    if (self->header & FLAG_STACK) return reinterpret_cast<cell*>((uintptr_t)self->data2) + index;
    return cells(reinterpret_cast<Node*>((uintptr_t)self->data2)) + index;
}

void set_stack_values(Node* ctx, cell* first) {
    assert(is_stack(ctx));
    self_cell(ctx)->data2 = (uint32_t)(uintptr_t)first;
}

// --- Making and copying ----------------------------------------------------------

Node* make(int32_t n, bool stack, bool self, Node* source, int32_t kind) {
    if (n <= 0) n = 1;
    Node* ctx = memory::alloc_cells(2);
    Buffer* b = ctx->buffer;
    cell* c = reinterpret_cast<cell*>(b->head);
    c[0] = c[1] = cell{TYPE_UNSET, 0, 0, 0};
    b->tail = b->head + 2 * sizeof(cell);
    Hold hold(&ctx);

    cell source_cell{TYPE_UNSET, 0, 0, 0};
    if (source) source_cell = *self_cell(source);
    Node* table = hashtable::init(n, source ? &source_cell : nullptr, hashtable::KIND_SYMBOLS, 2);
    uint32_t header = TYPE_CONTEXT | ((uint32_t)kind << KIND_SHIFT & KIND_MASK);
    if (stack) header |= FLAG_STACK;
    if (self) header |= FLAG_SELF;
    *self_cell(ctx) = cell{header, (uint32_t)(uintptr_t)table, 0, 0};
    if (!stack) {
        Node* values = memory::alloc_unset_cells(n);
        self_cell(ctx)->data2 = (uint32_t)(uintptr_t)values;
    }
    return ctx;
}

Node* make_from_block(const cell* block, bool stack, bool self, int32_t kind) {
    Node* series = reinterpret_cast<Node*>((uintptr_t)block->data2);
    int32_t head = (int32_t)block->data1;
    if (head < 0) head = 0;
    int32_t total = cell_count(series);
    if (head > total) head = total;
    Node* ctx = make(total - head, stack, self, nullptr, kind);
    Hold hold(&ctx);
    for (int32_t i = head; i < cell_count(series); i++) {
        const cell* c = cells(series) + i;  // re-read: adding may move the buffer
        switch (c->type()) {
            case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT: {
                int32_t added;
                find_or_add_word(ctx, word::symbol_of(c), true, &added);
                break;
            }
            default:
                break;
        }
    }
    if (!stack) ensure_values(ctx, word_count(ctx));
    return ctx;
}

Node* clone(cell* value, int32_t kind) {
    Node* old = word::context_of(value);
    uint32_t flags = self_cell(old)->header;
    Node* ctx = make(word_count(old), (flags & FLAG_STACK) != 0, (flags & FLAG_SELF) != 0, old, kind);
    Hold hold(&ctx);
    if (!(flags & FLAG_STACK)) ensure_values(ctx, word_count(ctx));
    // From here on nothing allocates.
    cell* w = cells(words_node(ctx));
    for (int32_t i = 0, n = word_count(ctx); i < n; i++) w[i].data1 = (uint32_t)(uintptr_t)ctx;
    value->data1 = (uint32_t)(uintptr_t)ctx;
    return ctx;
}

// --- Finding and adding words -------------------------------------------------------

// The index a lookup answers is the found word's own index (word 3): in the
// global context a case variant added by exact lookup shares the slot of the
// first spelling, so its word-list position and its value index differ.
int32_t find_word(Node* ctx, int32_t symbol, bool canonical) {
    int32_t k = hashtable::find_symbol(table_of(ctx), symbol, canonical, nullptr, nullptr);
    return k < 0 ? -1 : (int32_t)word_at(ctx, k)->data3;
}

int32_t find_or_add_word(Node* ctx, int32_t symbol, bool canonical, int32_t* added) {
    int32_t found = find_word(ctx, symbol, canonical);
    if (found >= 0) return found;
    int32_t index = word_count(ctx);
    cell w;
    word::make_cell(&w, TYPE_WORD, ctx, symbol, index);
    int32_t at = -1;
    hashtable::find_symbol(table_of(ctx), symbol, canonical, &w, &at);
    assert(at == index);
    if (added) *added = at;
    return -1;
}

int32_t add_word(Node* ctx, const cell* word) {
    int32_t symbol = word::symbol_of(word);
    int32_t added = -1;
    int32_t index = find_or_add_word(ctx, symbol, true, &added);
    if (index >= 0) return index;
    if (!is_stack(ctx)) ensure_values(ctx, added + 1);
    return added;
}

cell* add_word_if_new(Node* ctx, const cell* word, const cell* value) {
    int32_t symbol = word::symbol_of(word);
    if (find_word(ctx, symbol, true) >= 0) return nullptr;
    cell* top = stack::arguments.top;
    stack::push(value);  // the value's buffer may move while the word is added
    cell w;
    word::make_cell(&w, TYPE_WORD, nullptr, symbol, -1);
    int32_t index = add_word(ctx, &w);
    cell* slot = nullptr;
    if (!is_stack(ctx)) slot = cell::copy(top, value_cell_at(ctx, index));
    stack::arguments.top = top;
    return slot;
}

void put_value(Node* ctx, const cell* word, const cell* value) {
    cell* top = stack::arguments.top;
    stack::push(value);
    cell w;
    word::make_cell(&w, TYPE_WORD, nullptr, word::symbol_of(word), -1);
    int32_t index = add_word(ctx, &w);
    cell::copy(top, value_cell_at(ctx, index));
    stack::arguments.top = top;
}

bool collect_set_words(Node* ctx, const cell* block) {
    Node* series = reinterpret_cast<Node*>((uintptr_t)block->data2);
    int32_t head = (int32_t)block->data1;
    if (head < 0) head = 0;
    int32_t before = word_count(ctx);
    for (int32_t i = head; i < cell_count(series); i++) {
        cell c = cells(series)[i];  // a copy: adding may move the block's buffer
        if (c.type() == TYPE_SET_WORD) add_word(ctx, &c);
    }
    return word_count(ctx) > before;
}

// --- Reading values ------------------------------------------------------------------

cell* get_symbol_value(Node* ctx, int32_t symbol) {
    if (is_stack(ctx)) ctx = global;
    int32_t index = find_word(ctx, symbol, true);
    assert(index >= 0);
    return value_cell_at(ctx, index);
}

cell* global_value_at(int32_t symbol) { return get_symbol_value(global, symbol); }

void copy_global_value(int32_t symbol, cell* out) {
    int32_t index = find_word(global, symbol, false);
    if (index < 0) index = word::index_of_cell(get_global(symbol));
    cell::copy(value_cell_at(global, index), out);
}

cell* add_global(int32_t symbol, bool canonical, bool keep_spelling) {
    int32_t index = find_word(global, symbol, canonical);
    if (index >= 0) {
        cell* w = word_at(global, index);
        if (canonical && keep_spelling && word::symbol_of(w) != symbol) {
            // The caller's own spelling, bound to the same slot.
            cell copy = *w;
            copy.data2 = (uint32_t)symbol;
            return word::copy_to_root(&copy);
        }
        return w;
    }
    int32_t added = -1;
    find_or_add_word(global, symbol, canonical, &added);
    if (symbol::alias_of(symbol) > 0) {
        // A case variant shares the value of the first spelling already there.
        int32_t first = find_word(global, symbol, true);
        if (first >= 0) word_at(global, added)->data3 = (uint32_t)first;
    }
    ensure_values(global, added + 1);
    return word_at(global, added);
}

cell* get_global(int32_t symbol) {
    cell* w = add_global(symbol, false, true);
    return runtime::boot_flag ? word::copy_to_root(w) : w;
}

// --- Storing from the argument stack ------------------------------------------------------

void store_last_at(Node* ctx, int32_t index) {
    mark_changed(ctx, index);
    cell::copy(stack::get_top(), value_cell_at(ctx, index));
}

void store_last_at_push_old(Node* ctx, int32_t index) {
    mark_changed(ctx, index);
    cell* value = stack::get_top();
    stack::push(value_cell_at(ctx, index));
    cell::copy(value, value_cell_at(ctx, index));
}

cell* store_base_at(Node* ctx, int32_t index) {
    mark_changed(ctx, index);
    return cell::copy(stack::args(), value_cell_at(ctx, index));
}

// --- Binding --------------------------------------------------------------------------

namespace {

// Binding looks up every word of a block, nested blocks included (the whole
// library at start-up). For a context of modest size the lookups go through
// a direct table from canonical symbol to the answer `find_word` would give,
// filled once per bind; the hash lookup stays for large contexts and for one
// that holds two spellings of a symbol (which of them answers is the hash
// table's business).
constexpr int32_t DIRECT_BIND_WORDS = 512;
std::vector<int32_t> bind_slots;  // canonical symbol id -> index + 1, 0 when absent

struct Binder {
    Node* ctx;
    int32_t self_symbol;           // canonical `self`, 0 when not asked for
    bool direct = false;           // bind_slots holds ctx's words
    const cell* symbols = cells(symbol::block());  // nothing allocates while binding
    std::vector<Node*> walking;    // series on the current path: cycles are skipped

    // symbol::resolve without its checks, on the record block read once.
    int32_t canonical(const cell* w) const {
        int32_t id = word::symbol_of(w);
        int32_t alias = (int32_t)symbols[id - 1].data1;
        return alias > 0 ? alias : id;
    }

    ~Binder() {
        if (direct) clear(word_count(ctx));
    }

    // Fills bind_slots from ctx's words; false (and the table left clear)
    // when the hash lookup must answer.
    bool fill() {
        int32_t n = word_count(ctx);
        if (n > DIRECT_BIND_WORDS || hashtable::record(table_of(ctx))->count != n) return false;
        size_t symbols = (size_t)symbol::count() + 1;
        if (bind_slots.size() < symbols) bind_slots.resize(symbols + symbols / 2, 0);
        const cell* w = cells(words_node(ctx));
        for (int32_t k = 0; k < n; k++) {
            int32_t& slot = bind_slots[(size_t)canonical(w + k)];
            if (slot) {
                clear(k);
                return false;
            }
            slot = (int32_t)w[k].data3 + 1;
        }
        return true;
    }
    // Clears the slots of ctx's first `n` words.
    void clear(int32_t n) {
        const cell* w = cells(words_node(ctx));
        for (int32_t k = 0; k < n; k++) bind_slots[(size_t)canonical(w + k)] = 0;
    }

    void bind_word(cell* c) {
        if (!direct) {
            word::bind_to(ctx, c);
            return;
        }
        int32_t slot = bind_slots[(size_t)canonical(c)];
        if (slot) {
            c->data1 = (uint32_t)(uintptr_t)ctx;
            c->data3 = (uint32_t)(slot - 1);
        }
    }

    void walk(Node* series, int32_t head) {
        for (Node* n : walking)
            if (n == series) return;
        walking.push_back(series);
        // Binding allocates nothing, so the buffer stays where it is.
        cell* c = cells(series) + (head < 0 ? 0 : head);
        cell* end = reinterpret_cast<cell*>(series->buffer->tail);
        for (; c < end; c++) {
            uint8_t t = c->type();
            if (is_walked_series(t)) {
                walk(reinterpret_cast<Node*>((uintptr_t)c->data2), (int32_t)c->data1);
            } else if (is_bound_word(t)) {
                if (self_symbol && t == TYPE_WORD && canonical(c) == self_symbol) {
                    c->data1 = (uint32_t)(uintptr_t)ctx;
                    c->data3 = (uint32_t)-1;
                } else {
                    bind_word(c);
                }
            }
        }
        walking.pop_back();
    }
};

}  // namespace

cell* bind_block(cell* block, Node* ctx, bool self) {
    int32_t self_symbol = self && words::sym_self ? symbol::resolve(words::sym_self) : 0;
    Binder b{ctx, self_symbol};
    b.direct = b.fill();
    b.walk(reinterpret_cast<Node*>((uintptr_t)block->data2), (int32_t)block->data1);
    return block;
}

// --- Start-up and registration ------------------------------------------------------------

void init() { global = make(GLOBAL_WORDS, false, false, nullptr, KIND_PLAIN); }

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry list[] = {
        NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_CONTEXT, 0, "context!", list);
}

}  // namespace context
