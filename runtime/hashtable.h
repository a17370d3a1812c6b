// Hash tables: one open-addressing design for every keyed structure.
//
// A table never owns its keys. Kinds 0-2 map a key to the position of a cell
// in a block they index (the data block); kinds 3-4 keep small entries of
// cells of their own in a private data block:
//
//   kind 0  hash! values, set operations: any cell; equal keys share one
//           bucket through a chain of cell indexes (same type, compare op 0)
//   kind 1  map!: the first cell of each key/value pair (compare op 2)
//   kind 2  symbol table (keys are symbol! records, spelling bytes) and
//           context word tables (keys are word cells, symbol ids)
//   kind 3  pointer maps (mode 0: a set, mode 1: one value cell per key)
//   kind 4  ownership table (mode 3: three value cells per key)
//
// The record is eleven 32-bit words in a byte series of its own; every value
// that holds a table holds that series' node. Its arrays are series too:
// flags (2 bits per bucket: 2 empty, 1 deleted, 0 live; bucket i in word
// i >> 4 at bit (i & 15) * 2), keys (one int32 per bucket: kinds 0-2 the
// cell index, kind 0 -k for chain k; kinds 3-4 the entry's byte offset), and
// for kind 0 the index array (per cell of the data block: its bucket + 1, or
// -1) and the chain array (raw array of chain nodes, each a raw array of
// cell indexes; a dropped chain leaves a 0 slot).
//
// Invariants:
// - buckets is a power of two, at least 4; occupied (live + deleted) stays
//   below threshold before every insertion (growth is tested first), so at
//   least 23% of the buckets are empty and every probe walk ends.
// - Probing is triangular: i(k+1) = (i(k) + k + 1) & (buckets - 1).
// - Keys that compare equal under the operator a kind uses hash equal
//   (`hash_value` folds text as comparison folds it, and words by their
//   canonical symbol).
// - Any series allocation may move every buffer: the code below reads
//   record, arrays and data block through their nodes again after each one.
//   A table under construction is held by `Building`, which the collector
//   marks through `for_each_building`.
// - Tables whose keys hash by node or code address carry a stamp (collector
//   cycle count + 1 at their last full hashing); `rehash_on_change` hashes
//   them again after a collection, since nodes may have moved.
//
// The raw table lives outside the collected heap (tracked blocks) and serves
// the collector as its forwarding map: 32-bit keys to 32-bit values.
#pragma once
#include <array>
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace hashtable {

using memory::Node;

// --- Data ---------------------------------------------------------------------

struct Table {
    int32_t count;        // live entries (kind 0: cells entered)
    union {
        Node* index;      // kind 0: index array
        uint32_t entry;   // kinds 3-4: entry size in bytes, 16 * (mode + 1)
    };
    Node* chains;         // kind 0: chain array
    Node* flags;          // 2 bits per bucket
    Node* keys;           // one int32 per bucket
    Node* data;           // the indexed block (kinds 0-2) or the private entries (3-4)
    int32_t occupied;     // live + deleted buckets
    int32_t buckets;      // a power of two
    int32_t threshold;    // occupied count at which the table grows
    int32_t kind;         // 0-4
    uint32_t stamp;       // collector cycle + 1 at the last full hashing; 0 = none
};
static_assert(sizeof(void*) != 4 || sizeof(Table) == 44, "a table record is eleven 32-bit words");

enum Kind : int32_t { KIND_HASH = 0, KIND_MAP = 1, KIND_SYMBOLS = 2, KIND_POINTERS = 3, KIND_OWNERSHIP = 4 };

// Bucket states (two bits each).
enum : uint32_t { LIVE = 0, DELETED = 1, EMPTY = 2 };

constexpr double LOAD = 0.77;
// More cells than this to renumber after a block edit: rebuild instead.
constexpr int32_t SHIFT_LIMIT = 30000;
// Room of the symbol-fold buffer before a longer spelling replaces it.
constexpr uint32_t FOLD_BUFFER_SIZE = 256;

// The record behind a table node. Valid until the next series allocation.
inline Table* record(Node* table) { return reinterpret_cast<Table*>(table->buffer->head); }

// --- Hashing -----------------------------------------------------------------

// The published MurmurHash3_x86_32.
uint32_t murmur3(const void* bytes, uint32_t n, uint32_t seed);
// MurmurHash3 with the process-wide seed.
uint32_t hash_bytes(const void* bytes, uint32_t n);
// The MurmurHash3 final mix alone, no seed.
uint32_t mix(uint32_t x);
// Text of a string-family cell (units of 1, 2 or 4 bytes from head to tail),
// each character case-folded as case-insensitive comparison folds it.
uint32_t hash_string(const cell* string);
// Spelling of a symbol! record with only ASCII letters folded.
uint32_t hash_symbol(const cell* symbol);
// Same rule over raw spelling bytes.
uint32_t hash_spelling(const uint8_t* bytes, uint32_t n);
// Hash of any value by its type (see `hash_by_type`).
uint32_t hash_value(const cell* value);
// Whether the value's hash depends on a node or code address.
bool is_address_keyed(const cell* value);

// Per-type hashing, one entry per type id. Types that arrive later may
// install their own rule here at registration.
using HashFn = uint32_t (*)(const cell*);
extern std::array<HashFn, TYPE_SLOTS> hash_by_type;
// A cell with a character limit in word 3 (hashed as a string).
constexpr uint8_t TYPE_LIMITED_STRING = 56;

uint32_t round_pow2(uint32_t n);

// --- Tables of cells ------------------------------------------------------------

// A table for `size` keys. With a block cell (kinds 0-2) the block becomes
// the data block and its cells from the head index are entered; kind 2 with
// a context! cell copies that context's word table. Kinds 3-4 get a private
// block of `size` cells.
Node* init(int32_t size, const cell* block, int32_t kind, int32_t mode);

// Enters a cell of the data block (kinds 0-2). `out` becomes 2 when the
// insertion rebuilt a kind-0 table from its whole block (the caller then
// stops entering cells). Returns the key cell (re-read: it may have moved).
cell* put_key(Node* table, cell* key, int32_t* out);
inline cell* put(Node* table, cell* key) { return put_key(table, key, nullptr); }
// Enters every step-th cell from `start`; a map! takes the value of a repeated
// key and cuts the repeated pair out of the block.
void put_block(Node* table, int32_t start, int32_t step);

// Matching cell or null. Kinds 1-2: the key cell with the key's type (any
// type for TYPE_LIMITED_STRING) that compares true under `op`. Kind 0: the
// nearest matching cell from `start` on (or the furthest with `last`, or the
// nearest before `start` with `reverse`) whose distance from the start is a
// multiple of `skip`. The key must not lie in a series buffer: an
// address-keyed table may rebuild (allocate) before the walk.
cell* find(Node* table, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);
// Kinds 1-2 alone: what find answers there, without kind 0's walk options.
cell* find_key(Node* table, cell* key, int32_t op);

// A walk over every kind-0 cell equal (op 0, same type) to a key.
struct FindCursor {
    int32_t bucket = -1;  // bucket of the walk; -1 before the first call
    int32_t step = 0;     // probe step reached
    int32_t end = 0;      // next chain element to hand out
};
cell* find_next(Node* table, const cell* key, FindCursor& cursor);

// Removes one data-block cell's entry (kind 0), or marks a map! pair removed.
void delete_at(Node* table, cell* c);
// Every bucket empty and the data block emptied.
void clear(Node* table);
// Removes the entries of n cells from `index` (kind 0); the whole block resets.
void clear_range(Node* table, int32_t index, int32_t n);
inline void drop(Node*) {}

// Kind 0 after block edits: the n cells that started at `from` moved by
// `offset`. Returns 1 (table untouched) when the caller must rebuild instead.
int32_t shift_positions(Node* table, int32_t offset, int32_t from, int32_t n, bool move);
// Kind 0 after a move inside the block: the n cells at `from` now start at
// `to`, the cells between them shifted the other way.
void move_positions(Node* table, int32_t from, int32_t to, int32_t n);
// Kind 0: enters the whole block again into a table sized for n keys.
void rebuild(Node* table, int32_t n);

// A table indexing `data` with copies of every array; nothing shared.
Node* copy(Node* table, Node* data);

// Address-keyed tables: hash again when a collection ran since the stamp.
void rehash_on_change(Node* table);

// --- Word tables (kind 2) -----------------------------------------------------------

// Symbol table: the id (cell index + 1) of the spelling, interned when new.
// Caseless: any case variant answers. A new case variant's alias is the
// canonical id of the variant found.
int32_t intern_string(Node* table, const uint8_t* bytes, uint32_t n, bool caseless);
// Context word table: the cell index of the word spelled by `symbol` (by
// canonical id when `canonical`), or -1. With `add` non-null a missing word
// is appended to the word list as a copy of *add (its symbol the given one)
// and entered; `added` then receives its index.
int32_t find_symbol(Node* table, int32_t symbol, bool canonical, const cell* add, int32_t* added);

// --- Pointer tables (kinds 3-4) --------------------------------------------------------

// First value cell of the key's entry, made when missing (every cell of the
// entry gets header unset! on each call; the caller writes the values).
cell* put_int(Node* table, uint32_t key);
cell* get_int(Node* table, uint32_t key);
// Removes the entry; its first value cell, or null when absent.
cell* delete_int(Node* table, uint32_t key);

// --- Collector -------------------------------------------------------------------------

// Calls `mark` on every word of the table that holds a series node (record
// aside), in the order record, flags, keys, index, chains, every chain, data;
// for kinds 3-4 also each live key (its key word) before the data block.
// The callback may rewrite the word (a node that moved); marking the cells of
// the data block and of 16-byte-unit keys is the collector's part.
void mark(Node** table, void (*mark_word)(Node** word));
// Kinds 3-4: deletes every live entry whose key `is_live` rejects (and, in
// kind 4, whose owner's context is rejected).
void sweep(Node* table, bool (*is_live)(Node* node));
// Tables under construction, for the collector to mark.
void for_each_building(void (*mark_word)(Node** word));

// Holds a table that no value refers to yet.
class Building {
public:
    explicit Building(Node** table);
    ~Building();
    Building(const Building&) = delete;
    Building& operator=(const Building&) = delete;
};

// Prints the deleted then the live keys (debugging aid).
void dump(Node* table);

// --- Raw table (outside the heap) ----------------------------------------------------------

struct RawTable {
    int32_t count;
    uint32_t* flags;
    uint32_t* pairs;  // key, value per bucket
    int32_t occupied;
    int32_t buckets;
    int32_t threshold;
};

RawTable* make_table(int32_t n);
void table_put(RawTable* t, uint32_t key, uint32_t value);
// Address of the key's value word, or null.
uint32_t* table_get(RawTable* t, uint32_t key);
int32_t table_find(RawTable* t, uint32_t key);
void table_delete(RawTable* t, uint32_t key);
// The next live key slot after `previous` (null: the first) in bucket order.
uint32_t* table_next(RawTable* t, uint32_t* previous);
inline int32_t table_count(RawTable* t) { return t->count; }
void table_clear(RawTable* t);
void table_free(RawTable* t);
int32_t table_resize(RawTable* t, int32_t request);

}  // namespace hashtable
