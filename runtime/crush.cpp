#include "runtime/crush.h"

#include <cstring>

#include "runtime/tracked.h"

namespace crush {

static inline uint32_t read32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static inline void write32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// --- Coder ------------------------------------------------------------------

void init(Coder& coder, const uint8_t* input, uint32_t input_size, uint8_t* output,
          uint32_t output_capacity) {
    coder = Coder{};
    coder.input = input;
    coder.input_size = input_size;
    coder.output = output;
    coder.output_capacity = output_capacity;
}

bool reserve(Coder& coder, int32_t count) {
    if (count < 0 || (uint32_t)count > coder.output_capacity - coder.output_length) {
        coder.error = true;
        return false;
    }
    coder.output_length += (uint32_t)count;
    return true;
}

uint32_t get_bits(Coder& coder, uint32_t k) {
    while (coder.bit_count < k) {
        if (coder.position >= coder.input_size) {
            coder.error = true;
            return 0;
        }
        coder.bits |= (uint32_t)coder.input[coder.position++] << coder.bit_count;
        coder.bit_count += 8;
    }
    uint32_t value = coder.bits & ((1u << k) - 1);
    coder.bits >>= k;
    coder.bit_count -= k;
    return value;
}

void put_bits(Coder& coder, uint32_t value, uint32_t k) {
    coder.bits |= (value & ((1u << k) - 1)) << coder.bit_count;
    coder.bit_count += k;
    while (coder.bit_count >= 8) {
        if (!reserve(coder, 1)) return;
        coder.output[coder.output_length - 1] = (uint8_t)coder.bits;
        coder.bits >>= 8;
        coder.bit_count -= 8;
    }
}

// Ends a block's bit stream: the pending bits are completed with zeros to a
// whole byte, and the next block starts with an empty buffer.
static void end_block(Coder& coder) {
    put_bits(coder, 0, 7);
    coder.bits = 0;
    coder.bit_count = 0;
}

// --- Decoder ----------------------------------------------------------------

static uint32_t get_length_code(Coder& c) {
    static const uint8_t widths[5] = {2, 2, 2, 3, 5};
    static const uint16_t bases[6] = {0, 4, 8, 12, 20, 52};
    for (uint32_t i = 0; i < 5; i++)
        if (get_bits(c, 1)) return bases[i] + get_bits(c, widths[i]);
    return bases[5] + get_bits(c, 9);
}

static uint32_t get_distance_code(Coder& c) {
    uint32_t k = get_bits(c, 4);
    if (k == 0) return get_bits(c, 3);
    uint32_t j = k + 2;
    return (1u << j) + get_bits(c, j);
}

// Decodes one block of n bytes into output[start, start + n).
static bool decode_block(Coder& c, uint32_t start, uint32_t n) {
    uint8_t* out = c.output;
    uint32_t end = start + n;
    uint32_t pos = start;
    c.bits = 0;
    c.bit_count = 0;
    while (pos < end) {
        if (get_bits(c, 1) == 0) {
            uint32_t byte = get_bits(c, 8);
            if (c.error) return false;
            out[pos++] = (uint8_t)byte;
            continue;
        }
        uint32_t length = get_length_code(c) + 3;
        uint32_t distance = get_distance_code(c) + 1;
        if (c.error || distance > pos - start || length > end - pos) return false;
        // Byte by byte, upwards: a distance shorter than the length repeats.
        for (uint32_t stop = pos + length; pos < stop; pos++) out[pos] = out[pos - distance];
    }
    return true;
}

uint8_t* decompress(const uint8_t* stream, uint32_t size, uint32_t* length) {
    if (!stream || size < HEADER_SIZE) return nullptr;
    uint32_t payload = read32(stream);
    uint32_t total = read32(stream + 4);
    if (payload > size - HEADER_SIZE) return nullptr;
    // The densest token (a longest match) spends 22 bits on 566 bytes: a
    // larger total is a lie, and must not size an allocation.
    if ((uint64_t)total * 22 > (uint64_t)payload * 8 * MAX_MATCH) return nullptr;

    uint8_t* out = (uint8_t*)sys::allocate(total + HEADER_SIZE);
    Coder c;
    init(c, stream, HEADER_SIZE + payload, out, total);
    c.position = HEADER_SIZE;
    while (c.position < c.input_size) {
        if (c.input_size - c.position < 4) break;
        uint32_t n = read32(stream + c.position);
        c.position += 4;
        uint32_t start = c.output_length;
        if (n < 1 || n > BLOCK_SIZE || !reserve(c, (int32_t)n) || !decode_block(c, start, n)) {
            c.error = true;
            break;
        }
    }
    if (c.error || c.position != c.input_size || c.output_length != total) {
        sys::free(out);
        return nullptr;
    }
    if (length) *length = total;
    return out;
}

void free(uint8_t* buffer) { sys::free(buffer); }

// --- Encoder ----------------------------------------------------------------

namespace {

constexpr uint32_t HASH3_SIZE = 1u << 19;
constexpr uint32_t HASH4_SIZE = 1u << 20;
constexpr uint32_t CHAIN_TRIES = 256;
constexpr uint32_t FAR_SHORT_MATCH = 0x10000;  // a 3-byte match farther than this costs more than literals

struct Encoder {
    Coder coder;
    uint8_t* block;   // the current block, then MAX_MATCH zero bytes of look-ahead
    int32_t* head3;   // last position of each 3-byte hash, -1 for none
    int32_t* head4;   // last position of each 4-byte hash, -1 for none
    int32_t* chain;   // previous position of the same 4-byte hash, by position mod WINDOW

    uint32_t hash3(uint32_t p) const {
        uint32_t h = 0;
        for (uint32_t i = 0; i < 3; i++) h = ((h << 7) + block[p + i]) & (HASH3_SIZE - 1);
        return h;
    }
    uint32_t hash4(uint32_t p) const {
        uint32_t h = 0;
        for (uint32_t i = 0; i < 4; i++) h = ((h << 5) + block[p + i]) & (HASH4_SIZE - 1);
        return h;
    }
    void insert(uint32_t p) {
        head3[hash3(p)] = (int32_t)p;
        uint32_t h = hash4(p);
        chain[p & (WINDOW - 1)] = head4[h];
        head4[h] = (int32_t)p;
    }
    uint32_t match_length(uint32_t from, uint32_t pos, uint32_t limit) const {
        uint32_t n = 0;
        while (n < limit && block[from + n] == block[pos + n]) n++;
        return n;
    }

    void put_length_code(uint32_t m) {
        static const uint8_t widths[5] = {2, 2, 2, 3, 5};
        static const uint16_t bases[6] = {0, 4, 8, 12, 20, 52};
        for (uint32_t i = 0; i < 5; i++) {
            if (m < bases[i + 1]) {
                put_bits(coder, 1u << i, i + 1);  // i zero bits, then a one
                put_bits(coder, m - bases[i], widths[i]);
                return;
            }
        }
        put_bits(coder, 0, 5);
        put_bits(coder, m - bases[5], 9);
    }
    void put_distance_code(uint32_t c) {
        if (c < 8) {
            put_bits(coder, 0, 4);
            put_bits(coder, c, 3);
            return;
        }
        uint32_t j = 31 - (uint32_t)__builtin_clz(c);
        put_bits(coder, j - 2, 4);
        put_bits(coder, c - (1u << j), j);
    }

    void encode_block(uint32_t n);
};

void Encoder::encode_block(uint32_t n) {
    for (uint32_t i = 0; i < HASH3_SIZE; i++) head3[i] = -1;
    for (uint32_t i = 0; i < HASH4_SIZE; i++) head4[i] = -1;
    uint32_t pos = 0;
    while (pos < n && !coder.error) {
        uint32_t limit = n - pos < MAX_MATCH ? n - pos : MAX_MATCH;
        uint32_t best = 2, best_c = WINDOW;

        int32_t cand = head3[hash3(pos)];
        if (cand >= 0 && pos - (uint32_t)cand <= WINDOW) {
            uint32_t len = match_length((uint32_t)cand, pos, limit);
            if (len > best) best = len, best_c = pos - (uint32_t)cand - 1;
        }
        cand = head4[hash4(pos)];
        for (uint32_t tries = 0; best < limit && cand >= 0 && pos - (uint32_t)cand <= WINDOW &&
                                 tries < CHAIN_TRIES;
             tries++) {
            uint32_t from = (uint32_t)cand;
            if (block[from + best] == block[pos + best]) {
                uint32_t len = match_length(from, pos, limit);
                uint32_t c = pos - from - 1;
                // A farther match needs more distance bits: it must be longer
                // by one byte for every factor of 8 beyond the best distance.
                uint32_t cost = 0;
                for (uint32_t x = c >> 4; x > best_c; x >>= 3) cost++;
                if (len > best + cost) best = len, best_c = c;
            }
            int32_t next = chain[from & (WINDOW - 1)];
            if (next >= cand) break;
            cand = next;
        }
        if (best == 3 && best_c > FAR_SHORT_MATCH) best = 2;

        if (best < 3) {
            put_bits(coder, 0, 1);
            put_bits(coder, block[pos], 8);
            insert(pos);
            pos++;
        } else {
            put_bits(coder, 1, 1);
            put_length_code(best - 3);
            put_distance_code(best_c);
            for (uint32_t end = pos + best; pos < end; pos++) insert(pos);
        }
    }
    end_block(coder);
}

}  // namespace

int32_t compress(const uint8_t* source, uint32_t n, uint8_t* destination) {
    if (n <= 127 || n > 0x7FFFFFFFu) return -1;
    Encoder e;
    init(e.coder, nullptr, 0, destination, n);
    e.block = (uint8_t*)sys::allocate(BLOCK_SIZE + MAX_MATCH + 4);
    e.head3 = (int32_t*)sys::allocate(HASH3_SIZE * sizeof(int32_t));
    e.head4 = (int32_t*)sys::allocate(HASH4_SIZE * sizeof(int32_t));
    e.chain = (int32_t*)sys::allocate(WINDOW * sizeof(int32_t));

    reserve(e.coder, HEADER_SIZE);
    for (uint32_t done = 0; done < n && !e.coder.error;) {
        uint32_t size = n - done < BLOCK_SIZE ? n - done : BLOCK_SIZE;
        memcpy(e.block, source + done, size);
        memset(e.block + size, 0, MAX_MATCH + 4);
        if (!reserve(e.coder, 4)) break;
        write32(destination + e.coder.output_length - 4, size);
        e.encode_block(size);
        done += size;
    }

    sys::free(e.chain);
    sys::free(e.head4);
    sys::free(e.head3);
    sys::free(e.block);
    if (e.coder.error) return -1;
    write32(destination, e.coder.output_length - HEADER_SIZE);
    write32(destination + 4, n);
    return (int32_t)e.coder.output_length;
}

}  // namespace crush
