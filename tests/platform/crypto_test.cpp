// The same vectors run in both builds: the Windows build gets its digests
// from CryptoAPI, the native build from our own code.
#include "platform/crypto.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t* u8(const std::string& s) { return (const uint8_t*)s.data(); }

std::string hex(const uint8_t* p, uint32_t n) {
    std::string s;
    char b[3];
    for (uint32_t i = 0; i < n; i++) {
        snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

std::string digest(const std::string& data, int32_t method) {
    int32_t index = crypto::method_index(method);
    uint8_t* d = crypto::get_digest(u8(data), (uint32_t)data.size(), index);
    std::string s = hex(d, crypto::digest_size(index));
    sys::free(d);
    return s;
}

std::string hmac(const std::string& data, const std::string& key, int32_t method) {
    uint32_t n = 0;
    uint8_t* d = crypto::hmac(u8(data), (uint32_t)data.size(), u8(key), (uint32_t)key.size(), method, &n);
    std::string s = d ? hex(d, n) : "<none>";
    sys::free(d);
    return s;
}

// The id of the error `f` raises, "" when it raises none.
template <class F>
int32_t raised_id(F f) {
    if (!sys::catch_level(sys::THROW_ERROR, f)) return -1;
    sys::clear_throw();
    return error::get_id(&error::thrown);
}

TEST(Crypto, MethodWords) {
    const char* names[] = {"tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash"};
    for (int32_t m = 0; m < crypto::METHOD_COUNT; m++) {
        std::string upper = names[m];
        for (char& c : upper) c = (char)toupper(c);
        EXPECT_EQ(crypto::method_of(u8(names[m]), (uint32_t)upper.size()), m);
        EXPECT_EQ(crypto::method_of(u8(upper), (uint32_t)upper.size()), m);
    }
    for (const char* bad : {"", "sha", "md55", "crc-32", "sha5!2"})
        EXPECT_EQ(crypto::method_of(u8(bad), (uint32_t)strlen(bad)), -1) << bad;
    uint32_t sizes[] = {0, 0, 16, 20, 32, 48, 64};
    for (int32_t i = 0; i < crypto::INDEX_COUNT; i++) EXPECT_EQ(crypto::digest_size(i), sizes[i]);
    EXPECT_EQ(crypto::digest_size(7), 0u);
    EXPECT_EQ(crypto::method_index(crypto::M_ADLER32), -1);
}

TEST(Crypto, Checksums) {
    EXPECT_EQ(crypto::crc32(nullptr, 0), 0u);
    EXPECT_EQ(crypto::crc32(u8("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(crypto::crc32(u8("abc"), 3), 891568578u);
    EXPECT_EQ(crypto::adler32(nullptr, 0), 1u);
    EXPECT_EQ(crypto::adler32(u8("Wikipedia"), 9), 0x11E60398u);

    // Long runs of high bytes: the modulo steps and the pieces must agree
    // with zlib's own checksums.
    Bytes big(300000);
    for (size_t i = 0; i < big.size(); i++) big[i] = (uint8_t)(0xFF - i % 3);
    uint32_t n = (uint32_t)big.size();
    EXPECT_EQ(crypto::adler32(big.data(), n), (uint32_t)::adler32(1, big.data(), n));
    EXPECT_EQ(crypto::crc32(big.data(), n), (uint32_t)::crc32(0, big.data(), n));
    EXPECT_EQ(crypto::adler32_update(crypto::adler32(big.data(), 1000), big.data() + 1000, n - 1000),
              crypto::adler32(big.data(), n));
    EXPECT_EQ(crypto::crc32_update(crypto::crc32(big.data(), 7), big.data() + 7, n - 7),
              crypto::crc32(big.data(), n));
}

TEST(Crypto, InternetChecksum) {
    struct Case { Bytes data; uint16_t sum; } cases[] = {
        {{}, 0xFFFF},
        {{0x00, 0x01}, 0xFFFE},
        {{0x01}, 0xFFFE},  // an odd last byte counts as a low byte
        {{0x12, 0x34, 0x56}, (uint16_t)~(0x1234 + 0x56)},
        {{0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},  // the carry folds back in
    };
    for (const Case& c : cases) EXPECT_EQ(crypto::tcp_checksum(c.data.data(), (uint32_t)c.data.size()), c.sum);

    // Enough 0xFFFF words to overflow a 32-bit sum that never folds.
    Bytes ones(300000, 0xFF);
    ones.push_back(0x01);
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < ones.size(); i += 2) sum += (uint32_t)ones[i] << 8 | ones[i + 1];
    sum += 0x01;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    EXPECT_EQ(crypto::tcp_checksum(ones.data(), (uint32_t)ones.size()), (uint16_t)~sum);
}

TEST(Crypto, Digests) {
    struct Case { int32_t method; const char* data; const char* digest; } cases[] = {
        {crypto::M_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {crypto::M_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {crypto::M_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {crypto::M_SHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {crypto::M_SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {crypto::M_SHA256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {crypto::M_SHA384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {crypto::M_SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {crypto::M_SHA512,
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
         "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    };
    for (const Case& c : cases) EXPECT_EQ(digest(c.data, c.method), c.digest) << crypto::method_name(c.method);
    EXPECT_EQ(digest("", crypto::M_SHA512).size(), 128u);

    // Lengths around the padding's edges (first 8 bytes of each digest).
    struct Edge { uint32_t n; const char* md5, *sha1, *sha256, *sha384, *sha512; } edges[] = {
        {55, "a3c81137436036ad", "a83f94113f5292bb", "8af594de0e003fde", "86c58d643a4e3cbd", "90a77e79f6052885"},
        {56, "64c7901679c62fee", "372e1b20329e0b28", "db81bc2bfd436205", "b1c9c85c82f0506b", "0f25b2ab8f5e1203"},
        {64, "c1e181645d10867b", "aec4b7f13a2b75ec", "292be91abe8c0909", "ade0afdd52592bac", "9297fd26ad130320"},
        {111, "2b60d439cbc769d0", "bc4bd1d43a2f77b0", "8e2fd1aa2d84835e", "d5e8553eb173386f", "5216d13709f87553"},
        {112, "f0c433855caf8bb9", "6493717e791a3f85", "6636edfe65fc8ecc", "ded6b6b8bfea17c5", "d649bd41483483d5"},
        {128, "3eba58a155f6aa0e", "ddde2e96d57b78ed", "cb5311e1d7aa8e11", "81a480b144ad0b75", "605ace9e1ce61b88"},
    };
    for (const Edge& e : edges) {
        std::string data;
        for (uint32_t i = 0; i < e.n; i++) data += (char)(i * 7 % 251);
        EXPECT_EQ(digest(data, crypto::M_MD5).substr(0, 16), e.md5) << e.n;
        EXPECT_EQ(digest(data, crypto::M_SHA1).substr(0, 16), e.sha1) << e.n;
        EXPECT_EQ(digest(data, crypto::M_SHA256).substr(0, 16), e.sha256) << e.n;
        EXPECT_EQ(digest(data, crypto::M_SHA384).substr(0, 16), e.sha384) << e.n;
        EXPECT_EQ(digest(data, crypto::M_SHA512).substr(0, 16), e.sha512) << e.n;
    }

    // An index without a digest is an argument error.
    for (int32_t index : {(int32_t)crypto::I_TCP, (int32_t)crypto::I_CRC32, 7, -1})
        EXPECT_EQ(raised_id([&] { crypto::get_digest(u8("a"), 1, index); }), symbol::make("invalid-arg"));
}

TEST(Crypto, Hmac) {
    auto key_of = [](uint32_t n) {
        std::string k;
        for (uint32_t i = 0; i < n; i++) k += (char)i;
        return k;
    };
    struct Case { int32_t method; std::string key; std::string data; const char* mac; } cases[] = {
        // RFC 4231 cases 1 and 6 (a key longer than the block is hashed first).
        {crypto::M_SHA256, std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {crypto::M_SHA256, std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {crypto::M_MD5, "key", "The quick brown fox jumps over the lazy dog", "80070713463e7749b90c2dc24911e275"},
        // Keys of exactly the block size are used as they are; one byte more is hashed.
        {crypto::M_MD5, key_of(64), "data", "0f382bb2af9eb4cdc43fdc415f4e945b"},
        {crypto::M_MD5, key_of(65), "data", "8bddf89eac1b5509519fe684d9b1deaa"},
        {crypto::M_SHA1, key_of(64), "data", "8a4b939f5bcab3e08928c4332213aa8a2d4f66d8"},
        {crypto::M_SHA1, key_of(65), "data", "fa723998e03c604dfad86f9f16b5b919b965829c"},
        {crypto::M_SHA256, key_of(64), "data", "d042969c6684ddec29a78c05155503a21efcad1d70b07e22febe55216365c67c"},
        {crypto::M_SHA256, key_of(65), "data", "14dd50148c94635aabf78c8bfb31be462fecf178c0b0e6152c0ef5575f21bf16"},
        {crypto::M_SHA384, key_of(128), "data",
         "1f08b56abbf326073596d48de7f6fb98aaabef2100671216f3ddb8bfe1f357bda3a877d29dc2aad0eebc4bb315686cf5"},
        {crypto::M_SHA384, key_of(129), "data",
         "a08d49cfea08419ba20c911d0c6c5ab9b1cbb0b725d7e4eae8142fdfaf16a8948edc04dd78383a9be43f897aa3d88e32"},
        {crypto::M_SHA512, key_of(128), "data",
         "5559b9663f79320d3122b995a3c8ef31c31309e37253bf8cf39ab532798528fa"
         "1d1da93bd2d922f87d6c954c8db8ce5578a036a3139fac6cb6eb6315a182b205"},
        {crypto::M_SHA512, key_of(129), "data",
         "2551888c197231b5c6eea9ee34eefc4ecb4df5ddeaa78a9f6a4f363e1971126f"
         "5aa8a0dd6243ac3952154197ea814ef057b06ff0d4cd7483caa71d8248b98f6d"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hmac(c.data, c.key, c.method), c.mac) << crypto::method_name(c.method) << " " << c.key.size();

    // Methods without a digest refuse HMAC without an error.
    for (crypto::Method m : {crypto::M_CRC32, crypto::M_TCP, crypto::M_ADLER32, crypto::M_HASH})
        EXPECT_EQ(hmac("data", "key", m), "<none>") << crypto::method_name(m);
}

}  // namespace
