// Hash tables.
#include "runtime/hashtable.h"

#include <array>
#include <cassert>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/actions.h"
#include "platform/random.h"
#include "runtime/array.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace hashtable {

using memory::Buffer;

// --- Hashing -----------------------------------------------------------------

static inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

static constexpr uint32_t C1 = 0xCC9E2D51, C2 = 0x1B873593;

static inline uint32_t scramble(uint32_t k) { return rotl(k * C1, 15) * C2; }
static inline uint32_t mix_in(uint32_t h, uint32_t scrambled) { return rotl(h ^ scrambled, 13) * 5 + 0xE6546B64; }
static inline uint32_t body_block(uint32_t h, uint32_t k) { return mix_in(h, scramble(k)); }

uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x85EBCA6B;
    x ^= x >> 13;
    x *= 0xC2B2AE35;
    x ^= x >> 16;
    return x;
}

uint32_t murmur3(const void* bytes, uint32_t n, uint32_t seed) {
    auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t h = seed;
    uint32_t blocks = n / 4;
    for (uint32_t i = 0; i < blocks; i++) {
        uint32_t k;
        memcpy(&k, p + 4 * i, 4);  // little-endian on both targets
        h = body_block(h, k);
    }
    const uint8_t* tail = p + 4 * blocks;
    uint32_t k = 0;
    switch (n & 3) {
        case 3: k ^= (uint32_t)tail[2] << 16; [[fallthrough]];
        case 2: k ^= (uint32_t)tail[1] << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= C1;
            k = rotl(k, 15);
            k *= C2;
            h ^= k;
    }
    return mix(h ^ n);
}

uint32_t hash_bytes(const void* bytes, uint32_t n) { return murmur3(bytes, n, platform::random::hash_seed); }

uint32_t round_pow2(uint32_t n) {
    if (n == 0) return 0;
    n--;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n + 1;
}

static Buffer* series_of(const cell* c) { return reinterpret_cast<Node*>((uintptr_t)c->data2)->buffer; }

// Comparison of text folds both sides to upper case, so the hash folds to
// upper case too: a lower-case fold would hash apart characters that compare
// equal (U+00DF and "s" both upper-case to "S").
uint32_t hash_string(const cell* s) {
    Buffer* b = series_of(s);
    uint32_t unit = b->unit(), shift = unit >> 1;  // units of 1, 2 or 4 bytes
    const uint8_t* p = b->data() + ((uint32_t)s->data1 << shift);
    uint32_t count = p < b->tail ? (uint32_t)(b->tail - p) >> shift : 0;
    if (s->type() == TYPE_LIMITED_STRING && (int32_t)s->data3 >= 0 && s->data3 < count) count = s->data3;
    uint32_t h = platform::random::hash_seed;
    if (unit == 1) {
        // Byte text, the common key: each byte's folded and scrambled block
        // comes from a table (made once the case tables exist).
        static uint32_t byte_blocks[256];
        static bool made = false;
        if (!made) {
            for (uint32_t c = 0; c < 256; c++) byte_blocks[c] = scramble((uint32_t)case_::to_upper((int32_t)c));
            made = true;
        }
        for (uint32_t i = 0; i < count; i++) h = mix_in(h, byte_blocks[p[i]]);
        return mix(h ^ (4 * count));
    }
    for (uint32_t i = 0; i < count; i++, p += unit) {
        int32_t cp;
        switch (unit) {
            case 2: cp = p[0] | (p[1] << 8); break;
            case 4: memcpy(&cp, p, 4); break;
            default: sys::no_switch();
        }
        h = body_block(h, (uint32_t)case_::to_upper(cp));
    }
    return mix(h ^ (4 * count));
}

// Folded spelling bytes; replaced for one call by a bigger block when a
// spelling does not fit.
static uint8_t* fold_buffer = nullptr;

uint32_t hash_spelling(const uint8_t* bytes, uint32_t n) {
    if (!fold_buffer) fold_buffer = (uint8_t*)sys::allocate(FOLD_BUFFER_SIZE);
    uint8_t* into = fold_buffer;
    if (n > FOLD_BUFFER_SIZE) into = (uint8_t*)sys::allocate(n);
    for (uint32_t i = 0; i < n; i++) {
        uint8_t c = bytes[i];
        into[i] = (c >= 'A' && c <= 'Z') ? (uint8_t)(c + 32) : c;
    }
    uint32_t h = hash_bytes(into, n);
    if (into != fold_buffer) sys::free(into);
    return h;
}

uint32_t hash_symbol(const cell* symbol) {
    Buffer* b = reinterpret_cast<Node*>((uintptr_t)symbol->data3)->buffer;
    return hash_spelling(b->head, b->used_bytes());
}

static uint32_t hash_unset(const cell*) { return (uint32_t)-2; }
static uint32_t hash_none(const cell*) { return (uint32_t)-1; }
static uint32_t hash_word1(const cell* c) { return mix(c->data1); }
static uint32_t hash_word2(const cell* c) { return mix(c->data2); }
static uint32_t hash_word3(const cell* c) { return mix(c->data3); }
static uint32_t hash_word(const cell* c) { return mix((uint32_t)symbol::resolve((int32_t)c->data2)); }
static uint32_t hash_words12(const cell* c) { return hash_bytes(&c->data1, 8); }
static uint32_t hash_words123(const cell* c) { return hash_bytes(&c->data1, 12); }
// Doubles compare 0.0 equal to -0.0: both hash as 0.0.
static uint32_t hash_double(const cell* c) {
    double d = cell::get_float(c);
    if (d == 0.0) d = 0.0;
    return hash_bytes(&d, 8);
}
static uint32_t hash_words23(const cell* c) { return hash_bytes(&c->data2, 8); }
static uint32_t hash_tuple(const cell* c) {
    uint32_t n = (c->header >> 19) & 0xF;
    return hash_bytes(&c->data1, n > 12 ? 12 : n);  // the payload holds 12 bytes
}
static uint32_t hash_binary(const cell* c) {
    Buffer* b = series_of(c);
    const uint8_t* p = b->data() + c->data1;
    return hash_bytes(p, p < b->tail ? (uint32_t)(b->tail - p) : 0);
}
static uint32_t hash_nothing(const cell*) { return 0; }

static constexpr uint8_t ADDRESS_KEYED[] = {5, 6, 21, 22, 23, 24, 25, 26, 27, 28, 32, 34, 36, 40, 48, 53, 54};

struct HashRule {
    uint8_t types[8];
    HashFn fn;
};
// money! installs its own rule (sign folded into the header) when it exists.
static constexpr HashRule RULES[] = {
    {{TYPE_UNSET}, hash_unset},
    {{TYPE_NONE}, hash_none},
    {{TYPE_DATATYPE, TYPE_LOGIC, TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}, hash_word1},
    {{TYPE_CHAR, TYPE_INTEGER, TYPE_MAP, TYPE_HANDLE, TYPE_EVENT}, hash_word2},
    {{TYPE_NATIVE, TYPE_ACTION}, hash_word3},
    {{TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE}, hash_word},
    {{TYPE_SYMBOL}, hash_symbol},
    {{TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_LIMITED_STRING}, hash_string},
    {{TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_HASH}, hash_words12},
    {{TYPE_POINT2D, TYPE_IMAGE}, hash_words12},
    {{TYPE_FLOAT, TYPE_PERCENT, TYPE_TIME}, hash_double},
    {{TYPE_PAIR}, hash_words23},
    {{TYPE_OP, TYPE_FUNCTION, TYPE_TRIPLE, TYPE_TYPESET, TYPE_DATE, TYPE_POINT3D}, hash_words123},
    {{TYPE_TUPLE}, hash_tuple},
    {{TYPE_BINARY}, hash_binary},
};

struct TypeRules {
    std::array<HashFn, TYPE_SLOTS> fns{};
    std::array<bool, TYPE_SLOTS> address{};
};
static constexpr TypeRules build_rules() {
    TypeRules r;
    for (auto& f : r.fns) f = hash_nothing;
    for (const HashRule& rule : RULES)
        for (uint8_t t : rule.types)
            if (t) r.fns[t] = rule.fn;
    for (uint8_t t : ADDRESS_KEYED) r.address[t] = true;
    return r;
}
static constexpr TypeRules rules = build_rules();

std::array<HashFn, TYPE_SLOTS> hash_by_type = rules.fns;

uint32_t hash_value(const cell* value) {
    uint8_t t = value->type();
    return t < TYPE_SLOTS ? hash_by_type[t](value) : 0;
}

bool is_address_keyed(const cell* value) {
    uint8_t t = value->type();
    return t < TYPE_SLOTS && rules.address[t];
}

// --- Buckets -------------------------------------------------------------------

static inline uint32_t state(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> ((i & 15) * 2)) & 3; }
static inline void set_state(uint32_t* f, uint32_t i, uint32_t s) {
    uint32_t sh = (i & 15) * 2;
    f[i >> 4] = (f[i >> 4] & ~(3u << sh)) | (s << sh);
}
static inline bool is_live(const uint32_t* f, uint32_t i) { return state(f, i) == LIVE; }
static inline bool is_empty(const uint32_t* f, uint32_t i) { return (state(f, i) & EMPTY) != 0; }

static uint32_t flag_bytes(uint32_t buckets) { return buckets < 16 ? 4 : buckets / 4; }

static uint32_t* words(Node* n) { return reinterpret_cast<uint32_t*>(n->buffer->head); }
static int32_t* ints(Node* n) { return reinterpret_cast<int32_t*>(n->buffer->head); }
static cell* cells(Node* n) { return reinterpret_cast<cell*>(n->buffer->head); }
static int32_t cell_count(Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

// A byte series of n bytes with its tail at the end of the capacity.
static Node* alloc_full(uint32_t n, uint8_t byte) {
    Node* s = memory::alloc_bytes_filled((int32_t)n, byte);
    s->buffer->tail = s->buffer->data_end();
    return s;
}
static void fill_full(Node* s, uint8_t byte) {
    Buffer* b = s->buffer;
    memory::fill(b->head, b->data_end(), byte);
    b->tail = b->data_end();
}

static int32_t init_buckets(int32_t n) { return (int32_t)round_pow2((uint32_t)(n / LOAD)); }

// The probe walk: home, then 1, 3, 6, ... buckets past it.
struct Probe {
    uint32_t mask, i, home, step = 0;
    Probe(uint32_t hash, int32_t buckets) : mask((uint32_t)buckets - 1), i(hash & mask), home(i) {}
    // False once the walk comes back home (or has visited every bucket).
    bool next() {
        step++;
        i = (i + step) & mask;
        return i != home && step <= 2 * mask + 2;
    }
};

// Growth request: keep the size when deleted buckets abound, else double.
static int32_t grow_request(const Table* t) {
    return 2 * t->count < t->buckets ? t->buckets - 1 : t->buckets + 1;
}

// --- Construction guard ------------------------------------------------------------

static Node** building[16];
static uint32_t building_depth = 0;

Building::Building(Node** table) {
    assert(building_depth < 16);
    building[building_depth++] = table;
}
Building::~Building() { building_depth--; }

void for_each_building(void (*mark_word)(Node** word)) {
    for (uint32_t i = 0; i < building_depth; i++)
        if (*building[i]) mark(building[i], mark_word);
}

// --- Keys of tables of cells -----------------------------------------------------------

// The first cell index a kind-0..2 bucket stands for.
static int32_t first_index(Table* t, int32_t key) {
    if (key >= 0) return key;
    Node* chain = reinterpret_cast<Node**>(t->chains->buffer->head)[-key - 1];
    return ints(chain)[0];
}

static Node* chain_of(Table* t, int32_t key) {
    return reinterpret_cast<Node**>(t->chains->buffer->head)[-key - 1];
}

// Whether a stored key cell is the same key as `key` for insertion.
static bool same_key(int32_t kind, cell* stored, cell* key) {
    if (stored->type() != key->type()) return false;
    switch (kind) {
        case KIND_HASH: return actions::compare(stored, key, datatype::OP_EQUAL);
        case KIND_MAP: return actions::compare(stored, key, datatype::OP_STRICT_EQUAL);
        case KIND_SYMBOLS:
            if (key->type() == TYPE_SYMBOL) {
                Buffer* a = reinterpret_cast<Node*>((uintptr_t)stored->data3)->buffer;
                Buffer* b = reinterpret_cast<Node*>((uintptr_t)key->data3)->buffer;
                return a->used_bytes() == b->used_bytes() && !memcmp(a->head, b->head, a->used_bytes());
            }
            return stored->data2 == key->data2;  // word cells: the same symbol id
        default: sys::no_case();
    }
}

static void set_stamp(Node* table) { record(table)->stamp = collector::cycle_count + 1; }

// Kind 0: the index array covers at least n cells.
static void ensure_index(Node* table, int32_t n) {
    Node* index = record(table)->index;
    uint32_t need = sys::size_mul((uint32_t)n, 4);
    if (need <= index->buffer->capacity) return;
    uint32_t grown = index->buffer->capacity * 2;
    memory::expand_series_filled(index, (int32_t)sys::round_up(grown > need ? grown : need, 16), 0xFF);
    index->buffer->tail = index->buffer->data_end();
}

// Kinds 1-2: rehash in place into round_pow2(request) buckets. Old buckets are
// marked moved (deleted) as their keys are carried; a carried key landing on
// a live, unmoved old bucket swaps with it and carries that one on.
template <class Slot, class Hash>
static void resize_slots(uint32_t* old_flags, uint32_t* new_flags, Slot* slots, uint32_t old_buckets,
                         uint32_t new_buckets, Hash hash) {
    for (uint32_t j = 0; j < old_buckets; j++) {
        if (!is_live(old_flags, j)) continue;
        Slot key = slots[j];
        set_state(old_flags, j, DELETED);
        for (;;) {
            Probe p(hash(key), (int32_t)new_buckets);
            while (!is_empty(new_flags, p.i)) p.next();
            set_state(new_flags, p.i, LIVE);
            if (p.i < old_buckets && is_live(old_flags, p.i)) {
                Slot other = slots[p.i];
                slots[p.i] = key;
                key = other;
                set_state(old_flags, p.i, DELETED);
            } else {
                slots[p.i] = key;
                break;
            }
        }
    }
}

static void resize_cells(Node* table, int32_t request) {
    Table* t = record(table);
    uint32_t nb = round_pow2((uint32_t)request);
    if (nb < 4) nb = 4;
    int32_t threshold = (int32_t)(nb * LOAD + 0.5);
    if (t->count >= threshold) return;
    uint32_t ob = (uint32_t)t->buckets;
    Node* new_flags = alloc_full(flag_bytes(nb), 0xAA);
    collector::NodeRoot hold(new_flags);  // not in the record until the keys have grown
    if (nb > ob) {
        Node* keys = record(table)->keys;
        memory::expand_series_copy(keys, (int32_t)(nb * 4));
        keys->buffer->tail = keys->buffer->data_end();
    }
    t = record(table);
    // From here on nothing allocates.
    cell* data = cells(t->data);
    resize_slots(words(t->flags), words(new_flags), ints(t->keys), ob, nb,
                 [&](int32_t k) { return hash_value(&data[first_index(t, k)]); });
    t->flags = new_flags;
    t->buckets = (int32_t)nb;
    t->threshold = threshold;
    if (t->kind != KIND_MAP) t->occupied = t->count;
}

// --- Making tables ----------------------------------------------------------------------

// Fresh arrays for a table of `buckets` (flags all empty, keys zero).
static void make_arrays(Node* table, int32_t buckets) {
    Node* flags = alloc_full(flag_bytes((uint32_t)buckets), 0xAA);
    record(table)->flags = flags;
    Node* keys = alloc_full(sys::size_mul((uint32_t)buckets, 4), 0);
    record(table)->keys = keys;
}

// A copy of a context's word table over copies of its series.
static Node* clone_table(const cell* context) {
    Node* source = reinterpret_cast<Node*>((uintptr_t)context->data1);
    Node* table = memory::copy_series(source);
    Building hold(&table);
    record(table)->flags = nullptr;
    record(table)->keys = nullptr;
    record(table)->data = nullptr;
    Node* s = memory::copy_series(record(source)->flags);
    record(table)->flags = s;
    s = memory::copy_series(record(source)->keys);
    record(table)->keys = s;
    s = memory::copy_series(record(source)->data);
    record(table)->data = s;
    return table;
}

Node* init(int32_t size, const cell* block, int32_t kind, int32_t mode) {
    if (kind == KIND_SYMBOLS && mode == 2 && block) return clone_table(block);
    int32_t n = size < 4 ? 4 : size;
    if (kind == KIND_SYMBOLS && size >= 4000) n *= 2;
    int32_t buckets = init_buckets(n);
    Node* table = alloc_full(sizeof(Table), 0);
    Building hold(&table);
    Table* t = record(table);
    t->buckets = buckets;
    t->threshold = (int32_t)(buckets * LOAD);
    t->kind = kind;
    make_arrays(table, buckets);
    if (kind == KIND_HASH) {
        Node* index = alloc_full(sys::size_mul((uint32_t)n, 4), 0xFF);
        record(table)->index = index;
        Node* chains = array::make(0, 4);
        record(table)->chains = chains;
    }
    if (kind >= KIND_POINTERS) {
        record(table)->entry = 16u * (uint32_t)(mode + 1);
        Node* data = memory::alloc_cells(size < 1 ? 1 : size);
        record(table)->data = data;
        set_stamp(table);
        return table;
    }
    if (block) {
        record(table)->data = reinterpret_cast<Node*>((uintptr_t)block->data2);
        put_block(table, (int32_t)block->data1, kind == KIND_MAP ? 2 : 1);
    } else {
        Node* data = memory::alloc_cells(size < 1 ? 1 : size);
        record(table)->data = data;
    }
    return table;
}

// --- Entering cells ---------------------------------------------------------------------------

// Kind 0: appends a cell index to a bucket, turning a single entry into a chain.
static void add_to_chain(Node* table, uint32_t bucket, int32_t index) {
    int32_t key = ints(record(table)->keys)[bucket];
    if (key >= 0) {
        Node* chain = array::make(4, 4);
        collector::NodeRoot hold(chain);  // not yet reachable from the table
        array::append_int(chain, key);
        Node* chains = record(table)->chains;
        array::append_ptr(chains, chain);
        ints(record(table)->keys)[bucket] = -array::length(chains);
        array::append_int(chain, index);
    } else {
        array::append_int(chain_of(record(table), key), index);
    }
}

// Enters the cell at `index` of the data block; no growth test.
static void enter(Node* table, int32_t index) {
    Table* t = record(table);
    cell* key = &cells(t->data)[index];
    uint32_t h = hash_value(key);
    Probe p(h, t->buckets);
    int32_t deleted = -1;
    bool found = false, ended_empty = false;
    do {
        uint32_t s = state(words(t->flags), p.i);
        if (s & EMPTY) {
            ended_empty = true;
            break;
        }
        if (s == DELETED) {
            deleted = (int32_t)p.i;
            continue;
        }
        int32_t k = ints(t->keys)[p.i];
        if (same_key(t->kind, &cells(t->data)[first_index(t, k)], key)) {
            found = true;
            break;
        }
    } while (p.next());
    uint32_t bucket = p.i;
    if (found) {
        if (t->kind == KIND_HASH) {
            add_to_chain(table, bucket, index);
            t = record(table);
            t->count++;
        } else {
            ints(t->keys)[bucket] = index;  // the newer cell stands for the key
        }
    } else {
        // A full cycle without an empty bucket cannot happen below the
        // threshold; should it, a deleted bucket is still the only safe place.
        if (deleted >= 0 && (ended_empty || !is_empty(words(t->flags), bucket))) bucket = (uint32_t)deleted;
        bool was_empty = is_empty(words(t->flags), bucket);
        set_state(words(t->flags), bucket, LIVE);
        ints(t->keys)[bucket] = index;
        t->count++;
        if (was_empty) t->occupied++;
    }
    if (t->kind == KIND_HASH) {
        ensure_index(table, index + 1);
        ints(record(table)->index)[index] = (int32_t)bucket + 1;
    }
}

// Growth before an insertion; true when a kind-0 table was rebuilt.
static bool grow_if_full(Node* table, int32_t factor) {
    Table* t = record(table);
    if (t->occupied < t->threshold) return false;
    if (t->kind == KIND_HASH) {
        rebuild(table, grow_request(t));
        return true;
    }
    int32_t request = t->kind == KIND_MAP ? t->buckets + 1 : grow_request(t);
    resize_cells(table, (int32_t)sys::size_mul((uint32_t)request, (uint32_t)factor));
    return false;
}

cell* put_key(Node* table, cell* key, int32_t* out) {
    Table* t = record(table);
    int32_t index = (int32_t)(key - cells(t->data));
    assert(index >= 0 && index < cell_count(t->data));
    if (t->kind == KIND_HASH) {
        // A cell entered again (after a poke) drops its old entry first.
        Node* ix = t->index;
        if ((uint32_t)index * 4 < ix->buffer->capacity && ints(ix)[index] != -1) delete_at(table, key);
        if (t->stamp == 0 && is_address_keyed(key)) set_stamp(table);
    }
    if (grow_if_full(table, 1)) {
        if (out) *out = 2;
    } else {
        enter(table, index);
    }
    return &cells(record(table)->data)[index];
}

void put_block(Node* table, int32_t start, int32_t step) {
    int32_t kind = record(table)->kind;
    for (int32_t i = start < 0 ? 0 : start; i < cell_count(record(table)->data); i += step) {
        cell* c = &cells(record(table)->data)[i];
        if (kind != KIND_MAP) {
            int32_t out = 0;
            put_key(table, c, &out);
            if (out == 2) return;
            continue;
        }
        if (i + 1 >= cell_count(record(table)->data)) {  // a last key without value
            put(table, c);
            continue;
        }
        cell* old = find(table, c, 0, 1, datatype::OP_STRICT_EQUAL, false, false);
        if (!old) {
            put(table, c);
            continue;
        }
        // A repeated key: the first pair takes the value, the pair is cut out.
        Buffer* b = record(table)->data->buffer;
        c = &cells(record(table)->data)[i];
        cell::copy(c + 1, old + 1);
        memmove((void*)c, (void*)(c + 2), (size_t)(b->tail - (uint8_t*)(c + 2)));
        b->tail -= 2 * sizeof(cell);
        i -= step;
    }
}

void rebuild(Node* table, int32_t n) {
    int32_t cells_n = cell_count(record(table)->data);
    if (n < cells_n) n = cells_n;  // every cell of the block must fit
    int32_t buckets = (int32_t)round_pow2((uint32_t)(1.5 * n));
    if (buckets < 4) buckets = 4;
    Table* t = record(table);
    if (buckets != t->buckets) {
        make_arrays(table, buckets);
    } else {
        fill_full(t->flags, 0xAA);
    }
    ensure_index(table, cells_n);
    t = record(table);
    fill_full(t->index, 0xFF);
    array::clear(t->chains);
    t->buckets = buckets;
    t->threshold = (int32_t)(LOAD * buckets);
    t->count = t->occupied = 0;
    if (t->stamp) t->stamp = collector::cycle_count + 1;
    for (int32_t i = 0; i < cells_n; i++) enter(table, i);
}

// --- Lookup -----------------------------------------------------------------------------------

static int32_t modulo(int32_t d, int32_t skip) {
    int32_t r = d % skip;
    return r < 0 ? r + skip : r;
}

// Kinds 1-2: whether a stored key (of the key's type) matches. Text keys,
// the usual map! key, test equality directly rather than through the
// compare action's ordering.
static bool key_matches(cell* stored, cell* key, int32_t op) {
    if ((op == datatype::OP_EQUAL || op == datatype::OP_STRICT_EQUAL) && series::is_any_string(key->type()))
        return string::equal_text(stored, key, op == datatype::OP_EQUAL);
    return actions::compare(stored, key, op);
}

// Kinds 1-2: the stored key cell matching `key` under op, or null. Keys are
// unique here, so the first match ends the walk.
static cell* find_unique(Table* t, cell* key, int32_t op) {
    uint8_t type = key->type();
    cell* data = cells(t->data);
    const uint32_t* flags = words(t->flags);
    const int32_t* keys = ints(t->keys);
    Probe p(hash_value(key), t->buckets);
    do {
        uint32_t s = state(flags, p.i);
        if (s & EMPTY) break;
        if (s != LIVE) continue;
        cell* stored = &data[keys[p.i]];
        if (stored->type() == type ? key_matches(stored, key, op)
                                   : type == TYPE_LIMITED_STRING && actions::compare(stored, key, op))
            return stored;
    } while (p.next());
    return nullptr;
}

cell* find_key(Node* table, cell* key, int32_t op) {
    Table* t = record(table);
    uint8_t type = key->type();
    // map! stores word keys as set-words.
    if (t->kind != KIND_MAP || type < TYPE_WORD || type > TYPE_GET_WORD) return find_unique(t, key, op);
    cell::set_type(key, TYPE_SET_WORD);
    cell* result = find_unique(t, key, op);
    cell::set_type(key, type);
    return result;
}

cell* find(Node* table, cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    if (record(table)->kind != KIND_HASH) return find_key(table, key, op);
    rehash_on_change(table);
    Table* t = record(table);
    cell* data = cells(t->data);
    int32_t span = skip < 0 ? -skip : skip == 0 ? 1 : skip;
    int32_t best = -1;
    Probe p(hash_value(key), t->buckets);
    do {
        uint32_t s = state(words(t->flags), p.i);
        if (s & EMPTY) break;
        if (s != LIVE) continue;
        int32_t k = ints(t->keys)[p.i];
        cell* first = &data[first_index(t, k)];
        if (first->type() != key->type() || !actions::compare(first, key, datatype::OP_EQUAL)) continue;
        int32_t n = k >= 0 ? 1 : array::length(chain_of(t, k));
        for (int32_t e = 0; e < n; e++) {
            int32_t l = k >= 0 ? k : ints(chain_of(t, k))[e];
            if (!actions::compare(&data[l], key, op)) continue;
            bool back = last || reverse;
            int32_t d = back ? start - l - 1 : l - start;
            if (modulo(d, span) != 0) continue;
            if (reverse ? l >= start : l < start) continue;
            bool better = best < 0 || (last || reverse ? l > best : l < best);
            if (better) best = l;
        }
        return best >= 0 ? &data[best] : nullptr;  // equal keys share one bucket
    } while (p.next());
    return nullptr;
}

cell* find_next(Node* table, const cell* key, FindCursor& cursor) {
    Table* t = record(table);
    cell* data = cells(t->data);
    cell probe_key;
    cell::copy(key, &probe_key);
    if (cursor.bucket < 0) {
        Probe p(hash_value(key), t->buckets);
        cursor.bucket = -2;
        do {
            uint32_t s = state(words(t->flags), p.i);
            if (s & EMPTY) break;
            if (s != LIVE) continue;
            cell* first = &data[first_index(t, ints(t->keys)[p.i])];
            if (first->type() == key->type() && actions::compare(first, &probe_key, datatype::OP_EQUAL)) {
                cursor.bucket = (int32_t)p.i;
                cursor.end = 0;
                break;
            }
        } while (p.next());
    }
    if (cursor.bucket < 0) return nullptr;
    int32_t k = ints(t->keys)[cursor.bucket];
    int32_t n = k >= 0 ? 1 : array::length(chain_of(t, k));
    if (cursor.end >= n) return nullptr;
    int32_t l = k >= 0 ? k : ints(chain_of(t, k))[cursor.end];
    cursor.end++;
    return &data[l];
}

// --- Removal -----------------------------------------------------------------------------------

void delete_at(Node* table, cell* c) {
    Table* t = record(table);
    int32_t index = (int32_t)(c - cells(t->data));
    if (t->kind == KIND_MAP) {
        cell::set_header(c + 1, 0);
        t->count--;
        return;
    }
    if (t->kind != KIND_HASH) return;
    if (index < 0 || (uint32_t)index * 4 >= t->index->buffer->capacity) return;
    int32_t entry = ints(t->index)[index];
    if (entry <= 0) return;
    uint32_t bucket = (uint32_t)entry - 1;
    ints(t->index)[index] = -1;
    int32_t k = ints(t->keys)[bucket];
    if (k < 0) {
        Node* chain = chain_of(t, k);
        array::remove_at(chain, array::find_int(chain, index), 4);
        if (array::length(chain) > 0) {
            t->count--;
            return;
        }
        reinterpret_cast<Node**>(t->chains->buffer->head)[-k - 1] = nullptr;
    }
    set_state(words(t->flags), bucket, DELETED);
    t->count--;
}

static void reset(Table* t) {
    fill_full(t->flags, 0xAA);
    t->count = t->occupied = 0;
    if (t->kind == KIND_HASH) {
        fill_full(t->index, 0xFF);
        array::clear(t->chains);
    }
}

void clear(Node* table) {
    Table* t = record(table);
    reset(t);
    t->data->buffer->tail = t->data->buffer->head;
}

void clear_range(Node* table, int32_t index, int32_t n) {
    int32_t total = cell_count(record(table)->data);
    if (index < 0) index = 0;
    if (index > total) index = total;
    if (n > total - index) n = total - index;
    if (index == 0 && n == total) {
        reset(record(table));
        return;
    }
    for (int32_t i = index; i < index + n; i++) delete_at(table, &cells(record(table)->data)[i]);
}

// --- Renumbering after block edits --------------------------------------------------------------

static cell scratch_root = {TYPE_MAP, 0, 0, 0};  // word 3: the chains-done table
static collector::Root scratch_hold(scratch_root);

static Node* scratch_table() {
    if (!scratch_root.data3) {
        Node* s = memory::alloc_bytes(4);
        scratch_root.data2 = (uint32_t)(uintptr_t)s;
        scratch_root.data3 = (uint32_t)(uintptr_t)init(1024, nullptr, KIND_POINTERS, 0);
    }
    return reinterpret_cast<Node*>((uintptr_t)scratch_root.data3);
}

static void scratch_clear() {
    Node* s = scratch_table();
    Table* t = record(s);
    fill_full(t->flags, 0xAA);
    t->count = t->occupied = 0;
    t->data->buffer->tail = t->data->buffer->head;
}

// Applies `f` to the stored position of every cell in [lo, hi) (chains once).
template <class F>
static void renumber(Node* table, int32_t lo, int32_t hi, F f) {
    Node* scratch = scratch_table();
    for (int32_t l = lo; l < hi; l++) {
        Table* t = record(table);
        if ((uint32_t)l * 4 >= t->index->buffer->capacity) break;
        int32_t entry = ints(t->index)[l];
        if (entry <= 0) continue;
        int32_t& k = ints(t->keys)[entry - 1];
        if (k >= 0) {
            k = f(k);
            continue;
        }
        uint32_t chain_no = (uint32_t)-k;
        if (get_int(scratch, chain_no)) continue;
        put_int(scratch, chain_no);  // may allocate: read everything again below
        t = record(table);
        Node* chain = chain_of(t, ints(t->keys)[entry - 1]);
        int32_t n = array::length(chain);
        for (int32_t e = 0; e < n; e++) ints(chain)[e] = f(ints(chain)[e]);
    }
    scratch_clear();
}

int32_t shift_positions(Node* table, int32_t offset, int32_t from, int32_t n, bool move) {
    if (n > SHIFT_LIMIT) return 1;
    if (move && offset < 0) {
        // The removed cells' entries go first: their numbers are about to be reused.
        for (int32_t r = from + offset; r < from; r++)
            if (r >= 0) delete_at(table, &cells(record(table)->data)[r]);
    }
    renumber(table, from, from + n, [&](int32_t x) { return x >= from ? x + offset : x; });
    if (!move) return 0;
    if (offset > 0) ensure_index(table, from + n + offset);
    Table* t = record(table);
    int32_t cap = (int32_t)(t->index->buffer->capacity / 4);
    int32_t moved = n;
    if (from + moved > cap) moved = cap - from;
    if (moved < 0) moved = 0;
    int32_t* ix = ints(t->index);
    if (from + offset >= 0 && moved > 0) memmove(ix + from + offset, ix + from, (size_t)moved * 4);
    // Slots that no shifted cell occupies any more hold nothing yet.
    int32_t lo = offset > 0 ? from : from + moved + offset;
    int32_t hi = offset > 0 ? from + offset : from + moved;
    for (int32_t i = lo < 0 ? 0 : lo; i < hi && i < cap; i++) ix[i] = -1;
    return 0;
}

void move_positions(Node* table, int32_t from, int32_t to, int32_t n) {
    if (to == from || n <= 0) return;
    int32_t lo = from < to ? from : to;
    int32_t hi = (from < to ? to : from) + n;
    auto f = [&](int32_t x) {
        if (x < lo || x >= hi) return x;
        if (x >= from && x < from + n) return x - from + to;  // the moved run
        return from < to ? x - n : x + n;                      // the cells between
    };
    ensure_index(table, hi);
    renumber(table, lo, hi, f);
    Table* t = record(table);
    int32_t span = hi - lo;
    int32_t* tmp = (int32_t*)sys::allocate(sys::size_mul((uint32_t)span, 4));
    int32_t* ix = ints(t->index);
    for (int32_t x = lo; x < hi; x++) tmp[f(x) - lo] = ix[x];
    memcpy(ix + lo, tmp, (size_t)span * 4);
    sys::free(tmp);
}

// --- Copy --------------------------------------------------------------------------------------

Node* copy(Node* table, Node* data) {
    Node* result = memory::copy_series(table);
    Building hold(&result);
    Table* r = record(result);
    r->flags = r->keys = r->chains = nullptr;
    if (r->kind == KIND_HASH) r->index = nullptr;
    r->data = data;
    Node* s = memory::copy_series(record(table)->flags);
    record(result)->flags = s;
    s = memory::copy_series(record(table)->keys);
    record(result)->keys = s;
    if (record(table)->kind != KIND_HASH) return result;
    s = memory::copy_series(record(table)->index);
    record(result)->index = s;
    s = memory::copy_series(record(table)->chains);
    record(result)->chains = s;
    int32_t n = array::length(s);
    for (int32_t i = 0; i < n; i++) {
        Node* chain = reinterpret_cast<Node**>(record(table)->chains->buffer->head)[i];
        if (!chain) continue;
        Node* c = memory::copy_series(chain);
        reinterpret_cast<Node**>(record(result)->chains->buffer->head)[i] = c;
    }
    return result;
}

// --- Word tables -----------------------------------------------------------------------------------

static Buffer* spelling(const cell* record_cell) {
    return reinterpret_cast<Node*>((uintptr_t)record_cell->data3)->buffer;
}

static bool spelling_equal(const cell* r, const uint8_t* bytes, uint32_t n, bool caseless) {
    Buffer* b = spelling(r);
    if (b->used_bytes() != n) return false;
    if (!caseless) return memcmp(b->head, bytes, n) == 0;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = b->head[i], y = bytes[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// Appends n cells at the data block's tail; returns the index of the first.
static int32_t append_cells(Node* table, int32_t n) {
    Node* data = record(table)->data;
    Buffer* b = data->buffer;
    uint32_t need = sys::size_mul((uint32_t)n, sizeof(cell));
    if ((uint32_t)(b->data_end() - b->tail) < need) {
        uint32_t grown = sys::size_add(b->capacity, b->capacity > need ? b->capacity : need);
        b = memory::expand_series_copy(data, (int32_t)grown);
    }
    int32_t index = cell_count(data);
    b->tail += need;
    return index;
}

// Walks a spelling's probe sequence; the bucket of the first match (caseless
// or exact), or -1 with `end` at the empty bucket that ended the walk.
static int32_t walk_spelling(Table* t, uint32_t h, const uint8_t* bytes, uint32_t n, bool caseless,
                             uint32_t& end) {
    Probe p(h, t->buckets);
    cell* data = cells(t->data);
    do {
        uint32_t s = state(words(t->flags), p.i);
        if (s & EMPTY) break;
        if (s == LIVE && spelling_equal(&data[ints(t->keys)[p.i]], bytes, n, caseless)) return (int32_t)p.i;
    } while (p.next());
    end = p.i;
    return -1;
}

int32_t intern_string(Node* table, const uint8_t* bytes, uint32_t n, bool caseless) {
    grow_if_full(table, 16);
    Table* t = record(table);
    uint32_t h = hash_spelling(bytes, n);
    uint32_t end = 0;
    int32_t found = walk_spelling(t, h, bytes, n, caseless, end);
    if (found >= 0) return ints(t->keys)[found] + 1;
    int32_t alias = -1;
    if (!caseless) {
        uint32_t unused;
        int32_t variant = walk_spelling(t, h, bytes, n, true, unused);
        // The variant found may itself be a variant: take its canonical id,
        // or a third spelling would resolve to a non-canonical symbol.
        if (variant >= 0) {
            int32_t k = ints(t->keys)[variant];
            int32_t a = (int32_t)cells(t->data)[k].data1;
            alias = a > 0 ? a : k + 1;
        }
    }
    Node* text = memory::alloc_bytes((int32_t)n + 1);  // room for the terminator past the tail
    Buffer* tb = text->buffer;
    memcpy(tb->head, bytes, n);
    tb->head[n] = 0;
    tb->tail = tb->head + n;
    collector::NodeRoot hold(text);
    int32_t index = append_cells(table, 1);
    t = record(table);
    cell* r = &cells(t->data)[index];
    r->header = TYPE_SYMBOL;
    r->data1 = (uint32_t)alias;
    r->data2 = 0;
    r->data3 = (uint32_t)(uintptr_t)text;
    set_state(words(t->flags), end, LIVE);
    ints(t->keys)[end] = index;
    t->count++;
    t->occupied++;
    return index + 1;
}

int32_t find_symbol(Node* table, int32_t sym, bool canonical, const cell* add, int32_t* added) {
    if (add) grow_if_full(table, 16);
    Table* t = record(table);
    int32_t want = canonical ? symbol::resolve(sym) : sym;
    Probe p(mix((uint32_t)symbol::resolve(sym)), t->buckets);
    cell* data = cells(t->data);
    do {
        uint32_t s = state(words(t->flags), p.i);
        if (s & EMPTY) break;
        if (s != LIVE) continue;
        int32_t k = ints(t->keys)[p.i];
        int32_t id = (int32_t)data[k].data2;
        if ((canonical ? symbol::resolve(id) : id) == want) return k;
    } while (p.next());
    if (!add) return -1;
    uint32_t bucket = p.i;
    cell word;
    cell::copy(add, &word);
    word.data2 = (uint32_t)sym;
    int32_t index = append_cells(table, 1);
    t = record(table);
    cell::copy(&word, &cells(t->data)[index]);
    bool was_empty = is_empty(words(t->flags), bucket);
    set_state(words(t->flags), bucket, LIVE);
    ints(t->keys)[bucket] = index;
    t->count++;
    if (was_empty) t->occupied++;
    if (added) *added = index;
    return -1;
}

// --- Pointer tables ---------------------------------------------------------------------------------

static cell* entry_at(Table* t, int32_t offset) {
    return reinterpret_cast<cell*>(t->data->buffer->head + offset);
}

// Bucket holding the key, or -1; `slot` gets where a new key would go.
static int32_t find_int(Table* t, uint32_t key, uint32_t& slot) {
    Probe p(mix(key), t->buckets);
    int32_t deleted = -1;
    do {
        uint32_t s = state(words(t->flags), p.i);
        if (s & EMPTY) {
            slot = deleted >= 0 ? (uint32_t)deleted : p.i;
            return -1;
        }
        if (s == DELETED) {
            deleted = (int32_t)p.i;  // the last one passed is reused
            continue;
        }
        if (entry_at(t, ints(t->keys)[p.i])->data1 == key) return (int32_t)p.i;
    } while (p.next());
    slot = deleted >= 0 ? (uint32_t)deleted : p.i;
    return -1;
}

static void enter_pointer(Table* t, int32_t offset) {
    uint32_t slot;
    uint32_t key = entry_at(t, offset)->data1;
    if (find_int(t, key, slot) >= 0) return;
    bool was_empty = is_empty(words(t->flags), slot);
    set_state(words(t->flags), slot, LIVE);
    ints(t->keys)[slot] = offset;
    t->count++;
    if (was_empty) t->occupied++;
}

static void rehash_pointer_keys(Node* table) {
    Table* t = record(table);
    fill_full(t->flags, 0xAA);
    t->count = t->occupied = 0;
    Buffer* b = t->data->buffer;
    for (uint32_t off = 0; off + t->entry <= b->used_bytes(); off += t->entry)
        if (entry_at(t, (int32_t)off)->header == TYPE_UNSET) enter_pointer(t, (int32_t)off);
    t->stamp = collector::cycle_count + 1;
}

static void rebuild_pointer_table(Node* table, int32_t request) {
    uint32_t nb = round_pow2((uint32_t)request);
    if (nb < 4) nb = 4;
    Table* t = record(table);
    uint32_t cells_per = t->entry / sizeof(cell);
    Node* data = memory::alloc_cells((int32_t)sys::size_mul(cells_per, (uint32_t)(t->count + 1)));
    collector::NodeRoot hold(data);
    make_arrays(table, (int32_t)nb);  // the old arrays are dropped, the old block read below
    t = record(table);
    Buffer* from = t->data->buffer;
    Buffer* to = data->buffer;
    for (uint32_t off = 0; off + t->entry <= from->used_bytes(); off += t->entry) {
        if (reinterpret_cast<cell*>(from->head + off)->header != TYPE_UNSET) continue;
        memcpy(to->tail, from->head + off, t->entry);
        to->tail += t->entry;
    }
    t->data = data;
    t->buckets = (int32_t)nb;
    t->threshold = (int32_t)(nb * LOAD + 0.5);
    rehash_pointer_keys(table);
}

void rehash_on_change(Node* table) {
    Table* t = record(table);
    if (!t->stamp || t->stamp == collector::cycle_count + 1 || collector::is_active()) return;
    if (t->kind == KIND_HASH) {
        rebuild(table, cell_count(t->data));
    } else if (t->kind >= KIND_POINTERS) {
        rehash_pointer_keys(table);
    }
}

cell* put_int(Node* table, uint32_t key) {
    rehash_on_change(table);
    Table* t = record(table);
    uint32_t slot;
    int32_t bucket = find_int(t, key, slot);
    int32_t offset;
    if (bucket >= 0) {
        offset = ints(t->keys)[bucket];
    } else {
        if (t->occupied >= t->threshold) {
            rebuild_pointer_table(table, grow_request(t));
            t = record(table);
            find_int(t, key, slot);
        }
        uint32_t cells_per = t->entry / sizeof(cell);
        int32_t index = append_cells(table, (int32_t)cells_per);
        t = record(table);
        offset = index * (int32_t)sizeof(cell);
        entry_at(t, offset)->data1 = key;
        bool was_empty = is_empty(words(t->flags), slot);
        set_state(words(t->flags), slot, LIVE);
        ints(t->keys)[slot] = offset;
        t->count++;
        if (was_empty) t->occupied++;
    }
    cell* e = entry_at(t, offset);
    for (uint32_t i = 0; i < t->entry / sizeof(cell); i++) e[i].header = TYPE_UNSET;
    return e + 1;
}

cell* get_int(Node* table, uint32_t key) {
    rehash_on_change(table);
    Table* t = record(table);
    uint32_t slot;
    int32_t bucket = find_int(t, key, slot);
    return bucket < 0 ? nullptr : entry_at(t, ints(t->keys)[bucket]) + 1;
}

cell* delete_int(Node* table, uint32_t key) {
    rehash_on_change(table);
    Table* t = record(table);
    uint32_t slot;
    int32_t bucket = find_int(t, key, slot);
    if (bucket < 0) return nullptr;
    cell* e = entry_at(t, ints(t->keys)[bucket]);
    e->header = 0;
    set_state(words(t->flags), (uint32_t)bucket, DELETED);
    t->count--;
    return e + 1;
}

// --- Collector ----------------------------------------------------------------------------------------

void mark(Node** table, void (*mark_word)(Node** word)) {
    mark_word(table);
    Table* t = record(*table);
    if (t->flags) mark_word(&t->flags);
    if (t->keys) mark_word(&t->keys);
    if (t->kind == KIND_HASH) {
        if (t->index) mark_word(&t->index);
        if (t->chains) {
            mark_word(&t->chains);
            auto** chain = reinterpret_cast<Node**>(t->chains->buffer->head);
            int32_t n = array::length(t->chains);
            for (int32_t i = 0; i < n; i++)
                if (chain[i]) mark_word(&chain[i]);
        }
    }
    if (t->kind >= KIND_POINTERS && t->data && t->flags) {
        for (uint32_t i = 0; i < (uint32_t)t->buckets; i++) {
            if (!is_live(words(t->flags), i)) continue;
            cell* e = entry_at(t, ints(t->keys)[i]);
            mark_word(reinterpret_cast<Node**>(&e->data1));
        }
    }
    if (t->data) mark_word(&t->data);
}

void sweep(Node* table, bool (*is_live_node)(Node* node)) {
    Table* t = record(table);
    if (t->kind < KIND_POINTERS) return;
    for (uint32_t i = 0; i < (uint32_t)t->buckets; i++) {
        if (!is_live(words(t->flags), i)) continue;
        cell* e = entry_at(t, ints(t->keys)[i]);
        bool keep = is_live_node(reinterpret_cast<Node*>((uintptr_t)e->data1));
        // Ownership entries: cell 2 is the owner object, its context in word 1.
        if (keep && t->kind == KIND_OWNERSHIP && e[2].type() == TYPE_OBJECT && e[2].data1)
            keep = is_live_node(reinterpret_cast<Node*>((uintptr_t)e[2].data1));
        if (keep) continue;
        e->header = 0;
        e->data1 = 0;
        set_state(words(t->flags), i, DELETED);
        t->count--;
    }
}

void dump(Node* table) {
    Table* t = record(table);
    for (uint32_t pass = 0; pass < 2; pass++) {
        sys::print({sys::PrintItem::String(pass == 0 ? "\n== Deleted keys ==\n" : "== Alive keys ==\n")});
        for (uint32_t i = 0; i < (uint32_t)t->buckets; i++) {
            uint32_t s = state(words(t->flags), i);
            if (s != (pass == 0 ? DELETED : LIVE)) continue;
            int32_t k = ints(t->keys)[i];
            if (t->kind >= KIND_POINTERS) {
                cell* e = entry_at(t, k);
                sys::print({sys::PrintItem::Integer((int32_t)e->data1)});
                for (uint32_t c = 0; c < t->entry / sizeof(cell); c++)
                    sys::print({sys::PrintItem::String(" "), sys::PrintItem::Integer(e[c].type())});
            } else {
                cell* c = &cells(t->data)[first_index(t, k)];
                sys::print({sys::PrintItem::Integer(c->type())});
                if (t->kind != KIND_HASH) sys::print({sys::PrintItem::String(" "), sys::PrintItem::Integer(c[1].type())});
            }
            sys::print({sys::PrintItem::String("\n")});
        }
    }
}

// --- Raw table -------------------------------------------------------------------------------------------

static uint32_t* raw_flags(uint32_t buckets) {
    uint32_t n = flag_bytes(buckets);
    auto* f = (uint32_t*)sys::allocate(n);
    memset(f, 0xAA, n);
    return f;
}

RawTable* make_table(int32_t n) {
    if (n < 4) n = 4;
    auto* t = (RawTable*)sys::allocate_zeroed(sizeof(RawTable));
    t->buckets = init_buckets(n);
    t->threshold = (int32_t)(t->buckets * LOAD);
    t->flags = raw_flags((uint32_t)t->buckets);
    t->pairs = (uint32_t*)sys::allocate_zeroed(sys::size_mul((uint32_t)t->buckets, 8));
    return t;
}

struct Pair {
    uint32_t key, value;
};

int32_t table_resize(RawTable* t, int32_t request) {
    uint32_t nb = round_pow2((uint32_t)request);
    if (nb < 4) nb = 4;
    int32_t threshold = (int32_t)(nb * LOAD + 0.5);
    if (t->count >= threshold) return 0;
    uint32_t ob = (uint32_t)t->buckets;
    uint32_t* nf = raw_flags(nb);
    if (nb > ob) t->pairs = (uint32_t*)sys::resize(t->pairs, sys::size_mul(nb, 8));
    resize_slots(t->flags, nf, reinterpret_cast<Pair*>(t->pairs), ob, nb, [](const Pair& p) { return mix(p.key); });
    if (nb < ob) t->pairs = (uint32_t*)sys::resize(t->pairs, nb * 8);
    sys::free(t->flags);
    t->flags = nf;
    t->buckets = (int32_t)nb;
    t->threshold = threshold;
    t->occupied = t->count;
    return 0;
}

int32_t table_find(RawTable* t, uint32_t key) {
    Probe p(mix(key), t->buckets);
    do {
        uint32_t s = state(t->flags, p.i);
        if (s & EMPTY) return -1;
        if (s == LIVE && t->pairs[2 * p.i] == key) return (int32_t)p.i;
    } while (p.next());
    return -1;
}

void table_put(RawTable* t, uint32_t key, uint32_t value) {
    int32_t b = table_find(t, key);
    if (b >= 0) {
        t->pairs[2 * b + 1] = value;
        return;
    }
    if (t->occupied >= t->threshold) table_resize(t, 2 * t->count < t->buckets ? t->buckets - 1 : t->buckets + 1);
    Probe p(mix(key), t->buckets);
    int32_t deleted = -1;
    do {
        uint32_t s = state(t->flags, p.i);
        if (s & EMPTY) break;
        if (s == DELETED) deleted = (int32_t)p.i;
    } while (p.next());
    uint32_t bucket = deleted >= 0 ? (uint32_t)deleted : p.i;
    if (is_empty(t->flags, bucket)) t->occupied++;
    set_state(t->flags, bucket, LIVE);
    t->pairs[2 * bucket] = key;
    t->pairs[2 * bucket + 1] = value;
    t->count++;
}

uint32_t* table_get(RawTable* t, uint32_t key) {
    int32_t b = table_find(t, key);
    return b < 0 ? nullptr : &t->pairs[2 * b + 1];
}

void table_delete(RawTable* t, uint32_t key) {
    int32_t b = table_find(t, key);
    if (b < 0) return;
    set_state(t->flags, (uint32_t)b, DELETED);
    t->count--;
}

uint32_t* table_next(RawTable* t, uint32_t* previous) {
    uint32_t i = previous ? (uint32_t)(previous - t->pairs) / 2 + 1 : 0;
    for (; i < (uint32_t)t->buckets; i++)
        if (is_live(t->flags, i)) return &t->pairs[2 * i];
    return nullptr;
}

void table_clear(RawTable* t) {
    memset(t->flags, 0xAA, flag_bytes((uint32_t)t->buckets));
    t->count = t->occupied = 0;
}

void table_free(RawTable* t) {
    if (!t) return;
    sys::free(t->flags);
    sys::free(t->pairs);
    sys::free(t);
}

}  // namespace hashtable
