#include "runtime/ownership.h"

#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"

namespace ownership {

using memory::Buffer;
using memory::Node;

Node* table = nullptr;
FireFn fire_on_deep_change = nullptr;
WalkFn walk_object = nullptr;
OwnerMarkFn mark_owner = nullptr;

static const char* const SPELLINGS[WORD_COUNT] = {
    "append", "appended", "insert", "inserted", "change", "changed", "clear", "cleared",
    "poke", "poked", "put", "put-ed", "remove", "removed", "move", "moved",
    "random", "randomized", "reverse", "reversed", "sort", "sorted", "swap", "swaped",
    "take", "taken", "trim", "trimmed", "uppercase", "lowercase",
};
static int32_t symbols[WORD_COUNT];

const char* spelling(Word w) { return SPELLINGS[w]; }
int32_t symbol_of(Word w) { return symbols[w]; }

void init() {
    table = hashtable::init(1000, nullptr, hashtable::KIND_OWNERSHIP, 3);
    for (int i = 0; i < WORD_COUNT; i++) symbols[i] = symbol::make(SPELLINGS[i]);
}

// Types whose series can be owned.
static bool is_ownable(uint8_t t) {
    return series::is_series(t) || t == TYPE_BITSET;
}

static Node* key_of(const cell* value) {
    if (value->type() == TYPE_OBJECT) return (Node*)(uintptr_t)value->data1;
    return series::node_of(value);
}

void set_deep(cell* value, const cell* owner, const cell* word) {
    uint8_t t = value->type();
    if (t == TYPE_OBJECT) {
        if (walk_object && !cycles::find(cycles::identity(value)))
            walk_object(value, owner, word, true);
        return;
    }
    if (!is_ownable(t) || !value->data2) return;
    Node* node = series::node_of(value);
    if (!(node->buffer->flags & memory::FLAG_OWNED)) {
        cell v = *value, o = *owner, w = *word;  // the entry may move the table's block
        cell* e = hashtable::put_int(table, (uint32_t)(uintptr_t)node);
        e[0] = v;
        e[1] = o;
        e[2] = w;
        node->buffer->flags |= memory::FLAG_OWNED;
    }
    if (!series::is_any_block(t) || cycles::find(node)) return;
    cycles::Frame frame(node);
    for (int32_t i = (int32_t)value->data1 < 0 ? 0 : (int32_t)value->data1;; i++) {
        Buffer* b = node->buffer;  // read again: a put may collect
        if ((size_t)i >= b->used_bytes() / sizeof(cell)) break;
        cell c = reinterpret_cast<cell*>(b->head)[i];
        set_deep(&c, owner, word);
    }
}

void set_object(cell* value, const cell* owner, const cell* word) {
    set_deep(value, owner, word);
    if (mark_owner) mark_owner(owner);
}

void unset(cell* value) {
    uint8_t t = value->type();
    if (t == TYPE_OBJECT) {
        if (walk_object && !cycles::find(cycles::identity(value)))
            walk_object(value, nullptr, nullptr, false);
        return;
    }
    if (!is_ownable(t) || !value->data2) return;
    Node* node = series::node_of(value);
    node->buffer->flags &= ~memory::FLAG_OWNED;
    cell* e = hashtable::get_int(table, (uint32_t)(uintptr_t)node);
    if (!e) return;
    e[0].header = e[1].header = e[2].header = TYPE_UNSET;
    hashtable::delete_int(table, (uint32_t)(uintptr_t)node);
    if (!series::is_any_block(t) || cycles::find(node)) return;
    cycles::Frame frame(node);
    for (int32_t i = (int32_t)value->data1 < 0 ? 0 : (int32_t)value->data1;; i++) {
        Buffer* b = node->buffer;
        if ((size_t)i >= b->used_bytes() / sizeof(cell)) break;
        cell c = reinterpret_cast<cell*>(b->head)[i];
        unset(&c);
    }
}

void unset_range(cell* block, int32_t index, int32_t n) {
    Node* node = series::node_of(block);
    for (int32_t i = index < 0 ? 0 : index; i < index + n; i++) {
        Buffer* b = node->buffer;
        if ((size_t)i >= b->used_bytes() / sizeof(cell)) break;
        cell c = reinterpret_cast<cell*>(b->head)[i];
        unset(&c);
    }
}

cell* find(Node* node) {
    if (!table) return nullptr;
    cell* e = hashtable::get_int(table, (uint32_t)(uintptr_t)node);
    return e ? e + 1 : nullptr;
}

bool check(cell* value, Word action, int32_t index, int32_t count, cell* extra) {
    if (!table) return false;
    uint8_t t = value->type();
    if (t != TYPE_OBJECT) {
        if (!is_ownable(t) || !value->data2) return false;
        if (!(series::buffer_of(value)->flags & memory::FLAG_OWNED)) return false;
    }
    cell* e = hashtable::get_int(table, (uint32_t)(uintptr_t)key_of(value));
    if (!e) return false;
    if (e[1].data3 == 0 || !fire_on_deep_change) return false;
    // The handler may allocate: it gets copies, not cells of the table.
    cell owner = e[1], word = e[2];
    fire_on_deep_change(&owner, &word, value, symbols[action], index, count, extra);
    return true;
}

// --- Collector ---------------------------------------------------------------

void mark(void (*mark_word)(Node** word)) {
    if (!table) return;
    mark_word(&table);
    hashtable::Table* t = hashtable::record(table);
    if (t->flags) mark_word(&t->flags);
    if (t->keys) mark_word(&t->keys);
    if (t->data) mark_word(&t->data);
}

void sweep(bool (*is_live)(Node* node)) {
    if (!table) return;
    hashtable::Table* t = hashtable::record(table);
    auto* flags = reinterpret_cast<uint32_t*>(t->flags->buffer->head);
    auto* keys = reinterpret_cast<int32_t*>(t->keys->buffer->head);
    uint8_t* data = t->data->buffer->head;
    for (int32_t i = 0; i < t->buckets; i++) {
        if (((flags[i >> 4] >> ((i & 15) * 2)) & 3) != hashtable::LIVE) continue;
        cell* e = reinterpret_cast<cell*>(data + keys[i]);
        Node* node = (Node*)(uintptr_t)e->data1;
        if (!is_live(node)) continue;  // the series dies with its mark
        bool owner_live = !(e[2].type() == TYPE_OBJECT && e[2].data1) ||
                          is_live((Node*)(uintptr_t)e[2].data1);
        if (!owner_live && node->buffer) node->buffer->flags &= ~memory::FLAG_OWNED;
    }
    hashtable::sweep(table, is_live);
}

}  // namespace ownership
