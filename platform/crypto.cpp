#include "platform/crypto.h"

#include <cstring>

#include "datatypes/cell.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "platform/platform.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace crypto {

namespace {

struct MethodRow {
    const char* name;
    int32_t index;  // digest table index, -1 for none
};
// In interning order.
const MethodRow methods[METHOD_COUNT] = {
    {"tcp", I_TCP},     {"md5", I_MD5},       {"sha1", I_SHA1},
    {"crc32", I_CRC32}, {"adler32", -1},      {"sha256", I_SHA256},
    {"sha384", I_SHA384}, {"sha512", I_SHA512}, {"hash", -1},
};
const uint8_t digest_sizes[INDEX_COUNT] = {0, 0, 16, 20, 32, 48, 64};

uint32_t crc_table[256];
bool crc_table_built = false;

void build_crc_table() {
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
    crc_table_built = true;
}

// A digest the provider could not make is an error, never garbage.
uint8_t* checked_digest(int32_t index, const platform::DigestPart* parts, uint32_t count) {
    uint8_t* out = (uint8_t*)sys::allocate(MAX_DIGEST);
    if (!platform::digest(index, parts, count, out)) {
        sys::free(out);
        error::raise(error::INTERNAL, "feature-na");
    }
    return out;
}

}  // namespace

// --- Methods ----------------------------------------------------------------

int32_t method_of(const uint8_t* spelling, uint32_t size) {
    for (int32_t m = 0; m < METHOD_COUNT; m++) {
        const char* name = methods[m].name;
        if (strlen(name) != size) continue;
        uint32_t i = 0;
        while (i < size && (spelling[i] | 0x20) == (uint8_t)name[i]) i++;
        if (i == size) return m;
    }
    return -1;
}

const char* method_name(int32_t method) {
    return method >= 0 && method < METHOD_COUNT ? methods[method].name : "";
}

int32_t method_index(int32_t method) {
    return method >= 0 && method < METHOD_COUNT ? methods[method].index : -1;
}

uint32_t digest_size(int32_t index) {
    return index >= 0 && index < INDEX_COUNT ? digest_sizes[index] : 0;
}

uint32_t block_size(int32_t index) { return index == I_SHA384 || index == I_SHA512 ? 128 : 64; }

// --- Checksums --------------------------------------------------------------

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, uint32_t size) {
    if (!crc_table_built) build_crc_table();
    uint32_t r = ~crc;
    for (uint32_t i = 0; i < size; i++) r = (r >> 8) ^ crc_table[(r ^ bytes[i]) & 0xFF];
    return ~r;
}

uint32_t crc32(const uint8_t* bytes, uint32_t size) { return crc32_update(0, bytes, size); }

uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, uint32_t size) {
    // 3854 bytes is the longest run after which b cannot pass 32 bits.
    const uint32_t BASE = 65521, RUN = 3854;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (size > 0) {
        uint32_t n = size < RUN ? size : RUN;
        size -= n;
        while (n--) {
            a += *bytes++;
            b += a;
        }
        a %= BASE;
        b %= BASE;
    }
    return b << 16 | a;
}

uint32_t adler32(const uint8_t* bytes, uint32_t size) { return adler32_update(1, bytes, size); }

uint16_t tcp_checksum(const uint8_t* bytes, uint32_t size) {
    uint32_t sum = 0;
    uint32_t i = 0;
    for (; i + 1 < size; i += 2) {
        sum += (uint32_t)bytes[i] << 8 | bytes[i + 1];
        // Folding as we go keeps every carry however long the data.
        if (sum & 0x80000000u) sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (i < size) sum += bytes[i];
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum += sum >> 16;
    return (uint16_t)~sum;
}

// --- Digests ----------------------------------------------------------------

uint8_t* get_digest(const uint8_t* bytes, uint32_t size, int32_t index) {
    if (digest_size(index) == 0) {
        cell arg;
        integer::make_at(&arg, index);
        error::raise(error::SCRIPT, "invalid-arg", &arg);
    }
    platform::DigestPart part{bytes, size};
    return checked_digest(index, &part, 1);
}

uint8_t* hmac(const uint8_t* data, uint32_t data_size, const uint8_t* key, uint32_t key_size,
              int32_t method, uint32_t* length) {
    int32_t index = method_index(method);
    *length = 0;
    if (digest_size(index) == 0) {
        sys::print({sys::PrintItem::String("The selected algorithm doesn't support HMAC calculation")});
        return nullptr;
    }
    uint32_t block = block_size(index), size = digest_size(index);

    uint8_t inner_pad[MAX_BLOCK] = {}, outer_pad[MAX_BLOCK] = {};
    uint8_t* long_key = nullptr;
    if (key_size > block) {
        long_key = get_digest(key, key_size, index);
        key = long_key;
        key_size = size;
    }
    memcpy(inner_pad, key, key_size);
    memcpy(outer_pad, key, key_size);
    if (long_key) sys::free(long_key);
    for (uint32_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }

    platform::DigestPart inner_parts[2] = {{inner_pad, block}, {data, data_size}};
    uint8_t* inner = checked_digest(index, inner_parts, 2);
    platform::DigestPart outer_parts[2] = {{outer_pad, block}, {inner, size}};
    uint8_t* result = nullptr;
    try {
        result = checked_digest(index, outer_parts, 2);
    } catch (...) {
        sys::free(inner);
        throw;
    }
    sys::free(inner);
    *length = size;
    return result;
}

int32_t hash_unsupported() {
    sys::print({sys::PrintItem::String("** /hash support not yet implemented; algorithm TBD.")});
    return -1;
}

void random_bytes(uint8_t* buffer, uint32_t size) {
    if (!platform::secure_random_bytes(buffer, size)) sys::quit(sys::RT_UNKNOWN, SYS_CALLER_ADDRESS());
}

}  // namespace crypto
