// Checksums and secure hashes: the Internet checksum, CRC-32 and Adler-32 in
// our own code; MD5 and the SHA family through the platform's provider
// (CryptoAPI on Windows, our own implementation in the native build); HMAC
// over those digests.
//
// Methods are numbered in the order their words are interned (`Method`);
// the digest table is indexed separately (`Index`): tcp 0, crc32 1, md5 2,
// sha1 3, sha256 4, sha384 5, sha512 6. adler32 and hash have no index.
//
// Digest buffers come from sys::allocate and belong to the caller (free them
// with sys::free). A provider call that fails raises an error: a digest is
// either right or not there.
#pragma once
#include <cstdint>

namespace crypto {

enum Method : int32_t {
    M_TCP = 0, M_MD5, M_SHA1, M_CRC32, M_ADLER32, M_SHA256, M_SHA384, M_SHA512, M_HASH,
    METHOD_COUNT
};
enum Index : int32_t {
    I_TCP = 0, I_CRC32, I_MD5, I_SHA1, I_SHA256, I_SHA384, I_SHA512, INDEX_COUNT
};

constexpr uint32_t MAX_DIGEST = 64;
constexpr uint32_t MAX_BLOCK = 128;

// The method spelled so (ASCII letters in either case), or -1.
int32_t method_of(const uint8_t* spelling, uint32_t size);
const char* method_name(int32_t method);
// Table index of one of the seven indexed methods; -1 for the others.
int32_t method_index(int32_t method);
// Digest bytes of an index: 16, 20, 32, 48, 64 for md5..sha512; 0 otherwise.
uint32_t digest_size(int32_t index);
// HMAC block bytes: 128 for sha384 and sha512, 64 for the other digests.
uint32_t block_size(int32_t index);

uint32_t crc32(const uint8_t* bytes, uint32_t size);
// Continues a CRC-32 from `crc` (the result for the bytes before): what the
// gzip framing uses over output that arrives in pieces. crc32 = update(0, ...).
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, uint32_t size);
uint32_t adler32(const uint8_t* bytes, uint32_t size);
uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, uint32_t size);
// The Internet checksum: big-endian 16-bit words summed, carries folded in,
// complemented. An odd last byte is taken as a 16-bit word of its own with
// that byte low (so 01 gives FFFE, like 00 01).
uint16_t tcp_checksum(const uint8_t* bytes, uint32_t size);

// Digest of the bytes by a table index. An index without a digest raises
// script invalid-arg with the index.
uint8_t* get_digest(const uint8_t* bytes, uint32_t size, int32_t index);

// HMAC of the data under the key for a method. For a method without a digest
// (tcp, crc32, adler32, hash) it prints "The selected algorithm doesn't
// support HMAC calculation" and returns null with `*length` 0; otherwise
// `*length` is the digest size.
uint8_t* hmac(const uint8_t* data, uint32_t data_size, const uint8_t* key, uint32_t key_size,
              int32_t method, uint32_t* length);

// The /hash refinement of `checksum`: prints "** /hash support not yet
// implemented; algorithm TBD." and gives no digest (-1).
int32_t hash_unsupported();

// Fills the buffer from the system's cryptographic source; a failing source
// ends the program rather than hand out predictable bytes.
void random_bytes(uint8_t* buffer, uint32_t size);

}  // namespace crypto

// The provider seam each platform implements.
namespace platform {

struct DigestPart {
    const void* data;
    uint32_t size;
};

// Digest, by table index I_MD5..I_SHA512, of the parts one after the other,
// into `out` (crypto::digest_size bytes). False when the provider fails.
bool digest(int32_t index, const DigestPart* parts, uint32_t count, uint8_t* out);

}  // namespace platform
