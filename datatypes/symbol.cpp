// Symbols.
#include "datatypes/symbol.h"

#include <cassert>
#include <cstring>

#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime/hashtable.h"

namespace symbol {

using memory::Buffer;
using memory::Node;

Node* table = nullptr;

Node* block() { return hashtable::record(table)->data; }

void init() {
    // The block is the root block's symbol block: it starts empty with room
    // for BLOCK_CELLS records and grows past them when needed.
    Node* b = block::root ? block::root_series(block::ROOT_SYMBOLS) : memory::alloc_cells(BLOCK_CELLS);
    cell holder{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)b, 0};
    table = hashtable::init(BLOCK_CELLS, &holder, hashtable::KIND_SYMBOLS, 1);
}

int32_t make_n(const uint8_t* bytes, uint32_t n) { return hashtable::intern_string(table, bytes, n, false); }

int32_t make(const char* spelling) { return make_n((const uint8_t*)spelling, (uint32_t)strlen(spelling)); }

int32_t make_cased(const char* spelling) {
    return hashtable::intern_string(table, (const uint8_t*)spelling, (uint32_t)strlen(spelling), true);
}

int32_t count() { return (int32_t)(block()->buffer->used_bytes() / sizeof(cell)); }

cell* record(int32_t id) {
    assert(id >= 1 && id <= count());
    return reinterpret_cast<cell*>(block()->buffer->head) + (id - 1);
}

int32_t alias_of(int32_t id) { return (int32_t)record(id)->data1; }

static Node* spelling(int32_t id) { return reinterpret_cast<Node*>((uintptr_t)record(id)->data3); }

uint32_t length(int32_t id) { return spelling(id)->buffer->used_bytes(); }

const char* to_cstr(int32_t id) {
    Node* s = spelling(id);
    Buffer* b = s->buffer;
    if (b->tail == b->data_end()) b = memory::expand_series_copy(s, (int32_t)b->capacity + 16);
    *b->tail = 0;
    return (const char*)b->head;
}

Node* string_of(int32_t id) {
    if (uint32_t made = record(id)->data2) return reinterpret_cast<Node*>((uintptr_t)made);
    // The bytes are copied out: decoding allocates and may move their buffer.
    Buffer* b = spelling(id)->buffer;
    std::string bytes((const char*)b->head, b->used_bytes());
    cell text{TYPE_UNSET, 0, 0, 0};
    unicode::load_utf8_new((const uint8_t*)bytes.data(), (uint32_t)bytes.size(), &text);
    // Nothing allocates between the decoding and this store, which roots it.
    record(id)->data2 = text.data2;
    return reinterpret_cast<Node*>((uintptr_t)text.data2);
}

cell* get(int32_t id) {
    string_of(id);
    return record(id);
}

int32_t make_from_string(cell* value) {
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(value, &n);
    // Out of the cache buffer before interning allocates.
    std::string bytes((const char*)p, (size_t)n);
    return make_n((const uint8_t*)bytes.data(), (uint32_t)bytes.size());
}

// The id of a symbol! cell: its position when it lies in the symbol block,
// else the id of its spelling.
static int32_t id_of(const cell* c) {
    Buffer* b = block()->buffer;
    const cell* first = reinterpret_cast<const cell*>(b->head);
    const cell* end = reinterpret_cast<const cell*>(b->tail);
    if (c >= first && c < end) return (int32_t)(c - first) + 1;
    Buffer* text = reinterpret_cast<Node*>((uintptr_t)c->data3)->buffer;
    std::string bytes((const char*)text->head, text->used_bytes());
    return make_n((const uint8_t*)bytes.data(), (uint32_t)bytes.size());
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_SYMBOL) return datatype::NOT_COMPARABLE;
    int32_t x = id_of(a), y = id_of(b);
    Node* sx = string_of(x);  // nodes stay put; only buffers move
    Node* sy = string_of(y);
    cell first{TYPE_STRING, 0, (uint32_t)(uintptr_t)sx, 0};
    cell second{TYPE_STRING, 0, (uint32_t)(uintptr_t)sy, 0};
    return string::compare_values(&first, &second, op, false);
}

void register_type() {
    using namespace datatype;
    // clang-format off
    static const Entry list[] = {
        NO, NO, NO, NO, NO, NO, NO, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                      // math
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_SYMBOL, 0, "symbol!", list);
}

}  // namespace symbol
