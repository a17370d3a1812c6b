// Symbols.
#include "datatypes/symbol.h"

#include <cassert>
#include <cstring>

#include "runtime/hashtable.h"

namespace symbol {

using memory::Buffer;
using memory::Node;

Node* table = nullptr;

Node* block() { return hashtable::record(table)->data; }

void init() {
    // The block starts empty with room for BLOCK_CELLS records; it grows
    // past them when needed.
    Node* b = memory::alloc_cells(BLOCK_CELLS);
    cell holder{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)b, 0};
    table = hashtable::init(BLOCK_CELLS, &holder, hashtable::KIND_SYMBOLS, 1);
}

int32_t make_n(const uint8_t* bytes, uint32_t n) { return hashtable::intern_string(table, bytes, n, false); }

int32_t make(const char* spelling) { return make_n((const uint8_t*)spelling, (uint32_t)strlen(spelling)); }

int32_t make_cased(const char* spelling) {
    return hashtable::intern_string(table, (const uint8_t*)spelling, (uint32_t)strlen(spelling), true);
}

int32_t count() { return (int32_t)(block()->buffer->used_bytes() / sizeof(cell)); }

cell* get(int32_t id) {
    assert(id >= 1 && id <= count());
    return reinterpret_cast<cell*>(block()->buffer->head) + (id - 1);
}

int32_t alias_of(int32_t id) { return (int32_t)get(id)->data1; }

int32_t resolve(int32_t id) {
    int32_t alias = alias_of(id);
    return alias > 0 ? alias : id;
}

static Node* spelling(int32_t id) { return reinterpret_cast<Node*>((uintptr_t)get(id)->data3); }

uint32_t length(int32_t id) { return spelling(id)->buffer->used_bytes(); }

const char* to_cstr(int32_t id) {
    Node* s = spelling(id);
    Buffer* b = s->buffer;
    if (b->tail == b->data_end()) b = memory::expand_series_copy(s, (int32_t)b->capacity + 16);
    *b->tail = 0;
    return (const char*)b->head;
}

}  // namespace symbol
