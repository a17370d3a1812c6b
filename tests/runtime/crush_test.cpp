#include "runtime/crush.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1];) {
        if (*p == ' ') { p++; continue; }
        out.push_back((uint8_t)std::stoul(std::string(p, 2), nullptr, 16));
        p += 2;
    }
    return out;
}

// Decodes, or returns "<null>" when the decoder refuses.
std::string decode(const Bytes& stream) {
    uint32_t length = 0xDEADBEEF;
    uint8_t* out = crush::decompress(stream.data(), (uint32_t)stream.size(), &length);
    if (!out) return "<null>";
    std::string s((const char*)out, length);
    crush::free(out);
    return s;
}

Bytes compress(const Bytes& data) {
    Bytes out(data.size());
    int32_t n = crush::compress(data.data(), (uint32_t)data.size(), out.data());
    out.resize(n < 0 ? 0 : (size_t)n);
    return out;
}

TEST(Crush, DecodesKnownStreams) {
    struct Case { const char* stream; std::string text; } cases[] = {
        {"06000000 01000000 01000000 8200", "A"},
        {"07000000 04000000 04000000 820600", "AAAA"},
        {"00000000 00000000", ""},
        // Literal A, then one match of 199 bytes at distance 1 (the 9-bit length form).
        {"08000000 C8000000 C8000000 82024800", std::string(200, 'A')},
        // Two blocks: matches reach only into their own block.
        {"0C000000 02000000 01000000 8200 01000000 8400", "AB"},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(hex(c.stream)), c.text) << c.stream;
}

TEST(Crush, RefusesMalformedStreams) {
    const char* cases[] = {
        "06000000 01000000 00000000 8200",           // block length 0
        "06000000 01000000 01001000 8200",           // block length above 1 MiB
        "07000000 01000000 04000000 820600",         // block yields more than the total
        "06000000 02000000 01000000 8200",           // blocks add up to less than the total
        "06000000 03000000 03000000 0300",           // match before its block's start
        "07000000 03000000 03000000 820600",         // match past its block's end
        "07000000 04000000 04000000 8206",           // input shorter than declared
        "06000000 04000000 04000000 820600",         // payload ends inside a block's bits
        "08000000 01000000 01000000 8200 0000",      // bytes after the last block
        "0C000000 04000000 01000000 8200 03000000 0300",  // second block reaches into the first
        "02000000 FFFFFFFF 0000",                    // a total the payload cannot encode
        "FFFFFFFF 01000000 01000000 8200",           // payload longer than the input
        "060000",                                    // shorter than the header
    };
    for (const char* c : cases) EXPECT_EQ(decode(hex(c)), "<null>") << c;
    EXPECT_EQ(crush::decompress(nullptr, 0, nullptr), nullptr);

    // Every truncation of a good stream is refused.
    Bytes good = hex("08000000 C8000000 C8000000 82024800");
    for (size_t n = 0; n < good.size(); n++)
        EXPECT_EQ(decode(Bytes(good.begin(), good.begin() + (long)n)), "<null>") << n;
}

TEST(Crush, CompressorWritesTheFormat) {
    EXPECT_EQ(compress(Bytes(200, 'A')), hex("08000000 C8000000 C8000000 82024800"));
    Bytes small(127, 'A');
    Bytes dst(127);
    EXPECT_EQ(crush::compress(small.data(), 127, dst.data()), -1);
}

TEST(Crush, RoundTripsAcrossTheBlockBoundary) {
    std::mt19937 rng(7);
    const uint32_t n = crush::BLOCK_SIZE + 65536 + 13;
    struct Case { const char* name; Bytes data; } cases[] = {
        {"zeros", Bytes(n, 0)},
        {"small alphabet", {}},
        {"repeats at every distance", {}},
        {"text", {}},
    };
    for (uint32_t i = 0; i < n; i++) cases[1].data.push_back((uint8_t)('a' + rng() % 4));
    // Runs copied from far back, so matches of every length class and
    // distances up to the window's edge occur.
    Bytes& far = cases[2].data;
    while (far.size() < n) {
        uint32_t len = 3 + rng() % 600;
        if (far.size() < 300000 || rng() % 3 == 0) {
            for (uint32_t i = 0; i < len; i++) far.push_back((uint8_t)rng());
        } else {
            uint32_t back = 1 + rng() % (crush::WINDOW + 10);
            if (back > far.size()) back = (uint32_t)far.size();
            size_t from = far.size() - back;
            for (uint32_t i = 0; i < len; i++) far.push_back(far[from + i]);
        }
    }
    far.resize(n);
    const std::string words[] = {"block ", "word ", "series ", "context ", "[", "]\n", "42 "};
    while (cases[3].data.size() < n) {
        const std::string& w = words[rng() % 7];
        cases[3].data.insert(cases[3].data.end(), w.begin(), w.end());
    }
    cases[3].data.resize(n);

    for (const Case& c : cases) {
        Bytes packed = compress(c.data);
        ASSERT_FALSE(packed.empty()) << c.name;
        EXPECT_LT(packed.size(), c.data.size()) << c.name;
        std::string back = decode(packed);
        ASSERT_EQ(back.size(), c.data.size()) << c.name;
        EXPECT_TRUE(memcmp(back.data(), c.data.data(), back.size()) == 0) << c.name;
    }

    // Data that does not shrink stays uncompressed.
    Bytes noise(4096);
    for (uint8_t& b : noise) b = (uint8_t)rng();
    Bytes dst(noise.size());
    EXPECT_EQ(crush::compress(noise.data(), (uint32_t)noise.size(), dst.data()), -1);
}

}  // namespace
