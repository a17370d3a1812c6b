// Symbols: interned spellings, identified by their 1-based position in the
// symbol block.
//
// A symbol record is one cell of the symbol block:
//   header  TYPE_SYMBOL
//   word 1  alias: -1 for a canonical symbol, else the canonical id of the
//           spelling this one matched when letter case is ignored
//   word 2  node of the spelling as string! (0 until first needed)
//   word 3  node of a byte series with the spelling in UTF-8; its tail is at
//           the end of the bytes and one NUL byte lies past the tail
//
// Invariants: a spelling is entered once (byte-exact); ids are never reused;
// records are only appended. Case variants (ASCII letters only) share one
// canonical symbol and `resolve` reaches it in one step, since a variant's
// alias is always a canonical id. Words compare, hash and bind through that
// canonical id and keep their own spelling.
//
// The symbol block lives as the data block of the symbol table (a hash table
// of kind 2, mode 1), whose node is kept in `table`: the collector reaches
// the block through the table, and the root block holds it too (its third
// cell): the table is made over the root block's symbol block.
#pragma once
#include <cassert>
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace symbol {

constexpr int32_t BLOCK_CELLS = 4000;

// The symbol table's hash-table node (0 before `init`).
extern memory::Node* table;

// The symbol block (the table's data block).
memory::Node* block();
// Number of symbols.
int32_t count();

// Makes the symbol block and its table (start-up step 14).
void init();

// The id of a spelling, interned when new. The bytes must not lie inside a
// series buffer (interning allocates).
int32_t make(const char* spelling);
int32_t make_n(const uint8_t* bytes, uint32_t n);
// Any existing case variant answers; a new record only when none exists.
int32_t make_cased(const char* spelling);

// The record of an id, as it is (its spelling string! may still be 0).
// Valid until the next series allocation.
cell* record(int32_t id);
// The record of an id after its spelling string! is made (may allocate).
// Valid until the next series allocation.
cell* get(int32_t id);
// Node of the id's spelling as string!, decoded from the UTF-8 bytes and
// kept in the record on first use. May allocate.
memory::Node* string_of(int32_t id);
// The id of a string!'s text from its head (interned when new). May allocate.
int32_t make_from_string(cell* string);
int32_t alias_of(int32_t id);
// Canonical id: the alias when above 0, else the id itself. Inline: words
// compare, hash and bind through it.
inline int32_t resolve(int32_t id) {
    assert(id >= 1 && id <= count());
    const cell* records = reinterpret_cast<const cell*>(hashtable::record(table)->data->buffer->head);
    int32_t alias = (int32_t)records[id - 1].data1;
    return alias > 0 ? alias : id;
}
// The NUL-terminated UTF-8 spelling (a byte is reserved past the tail when
// the series is full). Valid until the next series allocation.
const char* to_cstr(int32_t id);
// Spelling length in bytes.
uint32_t length(int32_t id);

// symbol! actions: compare by spelling (string! comparison rules).
int32_t compare(cell* a, cell* b, int32_t op);
// Registers symbol! (type 13, no parent): only compare.
void register_type();

}  // namespace symbol
