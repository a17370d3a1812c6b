#include "platform/framing.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "platform/crypto.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Coder = int32_t (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);
using Packer = int32_t (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t, int32_t);

struct Method {
    const char* name;
    Packer pack;
    Coder unpack;
};
const Method methods[] = {
    {"zlib", framing::zlib::wrap, framing::zlib::unwrap},
    {"deflate", framing::deflate::compress, framing::deflate::decompress},
    {"gzip", framing::gzip::wrap, framing::gzip::unwrap},
    {"zstd", framing::zstd::compress, framing::zstd::decompress},
};

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Packs with a buffer as the natives size it, growing it once when asked.
Bytes pack(const Method& m, const Bytes& in, int32_t level = -1) {
    uint32_t n = (uint32_t)in.size();
    Bytes out(n + n / 2048 + 32);
    uint32_t size = (uint32_t)out.size();
    int32_t r = m.pack(out.data(), &size, in.data(), n, level);
    if (r == framing::TOO_SMALL) {
        out.resize(size);
        r = m.pack(out.data(), &size, in.data(), n, level);
    }
    EXPECT_EQ(r, framing::DONE) << m.name;
    out.resize(r == framing::DONE ? size : 0);
    return out;
}

// Result of unpacking into a buffer of `capacity` bytes (the bytes kept).
struct Unpacked {
    int32_t code;
    uint32_t size;
    Bytes data;
};
Unpacked unpack(const Method& m, const Bytes& in, uint32_t capacity) {
    Bytes out(capacity);
    uint32_t size = capacity;
    int32_t r = m.unpack(capacity ? out.data() : nullptr, &size, in.data(), (uint32_t)in.size());
    if (r == framing::DONE) out.resize(size);
    return {r, size, out};
}

int32_t unpack_code(const Method& m, const Bytes& in) { return unpack(m, in, 1 << 16).code; }

Bytes random_bytes(uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& x : b) x = (uint8_t)rng();
    return b;
}

TEST(Framing, MethodWords) {
    for (int32_t m = 0; m < framing::METHOD_COUNT; m++) {
        std::string name = framing::method_name(m);
        EXPECT_EQ(framing::method_of((const uint8_t*)name.data(), (uint32_t)name.size()), m);
    }
    EXPECT_EQ(framing::method_of((const uint8_t*)"GZip", 4), framing::M_GZIP);
    EXPECT_EQ(framing::method_of((const uint8_t*)"lzma", 4), -1);
}

TEST(Framing, HeadersAsWritten) {
    Bytes empty;
    EXPECT_EQ(pack(methods[2], empty, 6),
              Bytes({0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 4, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
    struct Case { int32_t level; uint8_t zlib_flg, gzip_xfl; } cases[] = {
        {1, 0x01, 4}, {2, 0x5E, 0}, {5, 0x5E, 0}, {6, 0x9C, 0}, {7, 0xDA, 0}, {9, 0xDA, 2}, {-1, 0x01, 4},
    };
    Bytes text = bytes("hello hello hello");
    for (const Case& c : cases) {
        Bytes z = pack(methods[0], text, c.level);
        ASSERT_GE(z.size(), 6u);
        EXPECT_EQ(z[0], 0x78) << c.level;
        EXPECT_EQ(z[1], c.zlib_flg) << c.level;
        EXPECT_EQ(pack(methods[2], text, c.level)[8], c.gzip_xfl) << c.level;
        // The big-endian Adler-32 closes the zlib stream.
        uint32_t adler = crypto::adler32(text.data(), (uint32_t)text.size());
        EXPECT_EQ(Bytes(z.end() - 4, z.end()),
                  Bytes({(uint8_t)(adler >> 24), (uint8_t)(adler >> 16), (uint8_t)(adler >> 8), (uint8_t)adler}));
        // zlib's own reader accepts what we write.
        uLongf n = 100;
        Bytes back(n);
        EXPECT_EQ(::uncompress(back.data(), &n, z.data(), (uLong)z.size()), Z_OK);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + (long)n), text);
    }
}

TEST(Framing, RoundTripsAndSizeQueries) {
    struct Input { const char* name; Bytes data; } inputs[] = {
        {"empty", {}},
        {"hello", bytes("hello")},
        {"zeros", Bytes(100 * 1024, 0)},
        {"noise", random_bytes(70000, 1)},
    };
    for (const Method& m : methods) {
        int32_t top = m.pack == framing::zstd::compress ? 19 : 9;
        for (const Input& in : inputs) {
            for (int32_t level : {-1, 1, top}) {
                Bytes packed = pack(m, in.data, level);
                uint32_t n = (uint32_t)in.data.size();
                // Exact room: done.
                Unpacked u = unpack(m, packed, n);
                EXPECT_EQ(u.code, framing::DONE) << m.name << " " << in.name << " " << level;
                EXPECT_EQ(u.data, in.data) << m.name << " " << in.name << " " << level;
                if (n == 0) continue;
                // No room (the size query) and too little room: the real
                // size, after which the second call succeeds.
                for (uint32_t room : {0u, n / 3}) {
                    u = unpack(m, packed, room);
                    EXPECT_EQ(u.code, framing::TOO_SMALL) << m.name << " " << in.name << " " << room;
                    EXPECT_EQ(u.size, n) << m.name << " " << in.name;
                }
            }
        }
    }
}

TEST(Framing, WrappersReportRoom) {
    Bytes noise = random_bytes(5000, 2);
    for (const Method& m : methods) {
        // Room for less than the framing itself.
        uint32_t size = 3;
        uint8_t tiny[3];
        int32_t r = m.pack(tiny, &size, noise.data(), 5000, 6);
        if (m.pack == framing::gzip::wrap || m.pack == framing::zlib::wrap) {
            EXPECT_EQ(r, framing::BAD) << m.name;
            EXPECT_EQ(size, 5000u + (m.pack == framing::gzip::wrap ? 18 : 6)) << m.name;
        } else {
            EXPECT_EQ(r, framing::TOO_SMALL) << m.name;
        }
        // Room for the framing but not the data: the needed size, which works.
        Bytes out(100);
        size = 100;
        EXPECT_EQ(m.pack(out.data(), &size, noise.data(), 5000, 6), framing::TOO_SMALL) << m.name;
        out.resize(size);
        EXPECT_EQ(m.pack(out.data(), &size, noise.data(), 5000, 6), framing::DONE) << m.name;
        out.resize(size);
        EXPECT_EQ(unpack(m, out, 5000).data, noise) << m.name;
    }
}

TEST(Framing, GzipInputIsWrappedAgain) {
    Bytes member = pack(methods[2], bytes("inner"), 6);
    Bytes outer = pack(methods[2], member, 6);
    EXPECT_NE(outer, member);
    EXPECT_EQ(unpack(methods[2], outer, 100).data, member);
}

// A member with every optional header field, built by hand around the raw
// DEFLATE of `text`.
Bytes full_member(const std::string& text, uint8_t flags, bool good_hcrc = true) {
    Bytes m = {0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 3};
    if (flags & 4) m.insert(m.end(), {3, 0, 'a', 'b', 'c'});
    if (flags & 8) m.insert(m.end(), {'n', 'a', 'm', 'e', 0});
    if (flags & 16) m.insert(m.end(), {'c', 0});
    if (flags & 2) {
        uint32_t crc = crypto::crc32(m.data(), (uint32_t)m.size()) ^ (good_hcrc ? 0 : 1);
        m.push_back((uint8_t)crc);
        m.push_back((uint8_t)(crc >> 8));
    }
    Bytes raw = pack(methods[1], bytes(text), 6);
    m.insert(m.end(), raw.begin(), raw.end());
    uint32_t crc = crypto::crc32((const uint8_t*)text.data(), (uint32_t)text.size());
    uint32_t n = (uint32_t)text.size();
    for (int i = 0; i < 4; i++) m.push_back((uint8_t)(crc >> (8 * i)));
    for (int i = 0; i < 4; i++) m.push_back((uint8_t)(n >> (8 * i)));
    return m;
}

TEST(Framing, GzipHeadersAndLies) {
    const Method& gz = methods[2];
    for (uint8_t flags : {0, 2, 4, 8, 16, 30, 31}) {
        Unpacked u = unpack(gz, full_member("some text", flags), 100);
        EXPECT_EQ(u.code, framing::DONE) << (int)flags;
        EXPECT_EQ(u.data, bytes("some text")) << (int)flags;
    }
    Bytes good = full_member("some text", 0);
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    Bytes unterminated = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3, 'n', 'a', 'm', 'e', 'x', 'x', 'x', 'x', 'x', 'x'};
    Bytes long_extra = {0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 3, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    // The shortest member, its XLEN field overlapping the trailer; what
    // follows would be a stored block reaching past the input.
    Bytes extra_in_trailer = {0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 3, 0x00, 0x00, 0x01, 0x10, 0x00, 0xEF, 0xFF, 0};
    Bytes trailing = good;
    trailing.insert(trailing.end() - 8, 0x00);  // a byte between the data and the trailer
    Bytes two = good;
    two.insert(two.end(), good.begin(), good.end());  // a second member
    struct Case { const char* name; Bytes data; } bad[] = {
        {"short", Bytes(good.begin(), good.begin() + 17)},
        {"magic", with(1, 0x8C)},
        {"method", with(2, 7)},
        {"reserved flags", with(3, 32)},
        {"FHCRC", full_member("some text", 2, false)},
        {"name without end", unterminated},
        {"XLEN past the input", long_extra},
        {"XLEN inside the trailer", extra_in_trailer},
        {"CRC-32", with(good.size() - 8, good[good.size() - 8] ^ 1)},
        {"ISIZE smaller", with(good.size() - 4, 8)},
        {"ISIZE a huge lie", with(good.size() - 1, 0x7F)},
        {"data after the stream", trailing},
        {"two members", two},
        {"truncated data", Bytes(good.begin(), good.begin() + 12) /* header + 2 bytes */},
    };
    for (Case& c : bad) {
        if (c.data.size() < 18) c.data.resize(18, 0);
        int32_t r = unpack_code(gz, c.data);
        EXPECT_NE(r, framing::DONE) << c.name;
        EXPECT_NE(r, framing::TOO_SMALL) << c.name;
    }
}

TEST(Framing, ZlibHeaderChecks) {
    const Method& z = methods[0];
    Bytes good = pack(z, bytes("payload payload"), 6);
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    Bytes trailing = good;
    trailing.insert(trailing.end() - 4, 0x00);
    struct Case { const char* name; Bytes data; } bad[] = {
        {"two bytes", {0x00, 0x00}},
        {"header check", with(1, 0x9D)},
        // The next three have correct check bits.
        {"method", {0x77, 0x85, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}},      // CM 7, check bits right
        {"window size", {0x88, 0x98, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}}, // CINFO 8
        {"preset dictionary", {0x78, 0xBB, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {"Adler-32", with(good.size() - 1, good.back() ^ 1)},
        {"data after the stream", trailing},
        {"truncated", Bytes(good.begin(), good.end() - 6)},
    };
    for (const Case& c : bad) {
        int32_t r = unpack_code(z, c.data);
        EXPECT_NE(r, framing::DONE) << c.name;
        EXPECT_NE(r, framing::TOO_SMALL) << c.name;
    }
    // A smaller window is fine.
    Bytes small_window = {0x28, 0x15, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
    ASSERT_EQ((0x28 << 8 | 0x15) % 31, 0);
    EXPECT_EQ(unpack_code(z, small_window), framing::DONE);
    // The raw step's own code comes back as it is.
    Bytes garbage = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(unpack_code(z, garbage), Z_DATA_ERROR);
}

TEST(Framing, ZstdFrames) {
    const Method& zs = methods[3];
    Bytes a = pack(zs, bytes("first frame "), 3), b = pack(zs, bytes("second"), 3);
    // The frame carries a content checksum (descriptor bit 2).
    ASSERT_GE(a.size(), 5u);
    EXPECT_TRUE(a[4] & 0x04);
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(unpack(zs, both, 100).data, bytes("first frame second"));

    Bytes flipped = a;
    flipped[flipped.size() - 1] ^= 1;  // checksum
    Bytes trailing = a;
    trailing.push_back(0);
    for (const Bytes& bad : {Bytes(), Bytes(a.begin(), a.end() - 1), flipped, trailing, Bytes({0, 0})})
        EXPECT_EQ(unpack_code(zs, bad), framing::BAD);
}

TEST(Framing, OutputLimitStopsBombs) {
    Bytes zeros(3 << 20, 0);
    uint32_t saved = framing::output_limit;
    framing::output_limit = 1 << 20;
    for (const Method& m : methods) {
        Bytes packed = pack(m, zeros, 1);
        EXPECT_EQ(unpack(m, packed, 0).code, framing::BAD) << m.name;
        EXPECT_EQ(unpack(m, packed, 4096).code, framing::BAD) << m.name;
    }
    framing::output_limit = saved;
}

}  // namespace
