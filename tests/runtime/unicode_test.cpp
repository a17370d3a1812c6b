#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "runtime/sys.h"
#include "runtime/unicode.h"

using Bytes = std::vector<uint8_t>;
using Cps = std::vector<uint32_t>;

namespace {

// Input in a heap block of exactly its size, so that AddressSanitizer catches
// any read past its end.
struct Exact {
    std::unique_ptr<uint8_t[]> data;
    uint32_t size;
    explicit Exact(const Bytes& b) : data(new uint8_t[b.size() ? b.size() : 1]), size((uint32_t)b.size()) {
        if (size) memcpy(data.get(), b.data(), size);
    }
    const uint8_t* begin() const { return data.get(); }
    const uint8_t* end() const { return data.get() + size; }
};

struct Loaded {
    uint32_t width;
    Cps cps;
    uint32_t remaining;
};

// What the string layer does: measure, allocate, fill.
Loaded load_utf8(const Bytes& bytes, bool cr = false, uint32_t min_width = 1) {
    Exact in(bytes);
    unicode::Utf8Load m = unicode::measure_utf8(in.begin(), in.size, cr);
    uint32_t width = std::max(m.width, min_width);
    std::vector<uint8_t> buf((size_t)m.units * width + 1);
    uint32_t n = unicode::decode_utf8_into(in.begin(), m, buf.data(), width);
    EXPECT_EQ(n, m.units);
    Loaded out{width, {}, m.remaining};
    unicode::by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        for (uint32_t i = 0; i < n; i++) out.cps.push_back(unicode::get_unit<U>(buf.data(), i));
    });
    return out;
}

// Runs `body` and answers the language error it raised.
template <class F>
bool raises(unicode::ErrorId id, F&& body) {
    unicode::last_error = {};
    uint32_t code = sys::catch_level(sys::THROW_ERROR, body);
    sys::clear_throw();
    return code == sys::THROW_ERROR && unicode::last_error.id == id;
}

std::vector<uint8_t> units_of(const Cps& cps, uint32_t width) {
    std::vector<uint8_t> buf(cps.size() * width + 1);
    unicode::by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        for (size_t i = 0; i < cps.size(); i++) unicode::put_unit<U>(buf.data(), (uint32_t)i, cps[i]);
    });
    return buf;
}

}  // namespace

TEST(Unicode, LoadUtf8PicksNarrowestWidthAndStopsAtCutSequence) {
    struct Case {
        Bytes in;
        uint32_t width;
        Cps cps;
        uint32_t remaining;
    } cases[] = {
        {{0x63, 0x61, 0x66, 0xC3, 0xA9}, 1, {0x63, 0x61, 0x66, 0xE9}, 0},
        {{0xEF, 0xBB, 0xBF}, 1, {}, 0},
        {{0xEF, 0xBB, 0xBF, 0x41}, 1, {0x41}, 0},
        {{0xEF, 0xBB}, 1, {}, 2},  // too short for a byte order mark: a cut sequence
        {{0x41, 0xC3}, 1, {0x41}, 1},
        {{0x41, 0xE2, 0x82}, 1, {0x41}, 2},
        {{0x41, 0xF0, 0x9F, 0x98}, 1, {0x41}, 3},
        {{0xC0, 0x80}, 1, {0}, 0},                 // overlong forms are accepted
        {{0xED, 0xA0, 0x80}, 2, {0xD800}, 0},      // so are most surrogates
        {{0xE2, 0x82, 0xAC, 0x61}, 2, {0x20AC, 0x61}, 0},
        {{0x61, 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9}, 4, {0x61, 0x1F600, 0xE9}, 0},
        {{}, 1, {}, 0},
    };
    for (const Case& c : cases) {
        Loaded l = load_utf8(c.in);
        EXPECT_EQ(l.width, c.width) << testing::PrintToString(c.in);
        EXPECT_EQ(l.cps, c.cps) << testing::PrintToString(c.in);
        EXPECT_EQ(l.remaining, c.remaining) << testing::PrintToString(c.in);
    }
    // A target wider than needed keeps its width.
    Loaded wide = load_utf8({0x61, 0xC3, 0xA9}, false, 4);
    EXPECT_EQ(wide.width, 4u);
    EXPECT_EQ(wide.cps, (Cps{0x61, 0xE9}));
}

TEST(Unicode, InvalidUtf8RaisesWithBytesThatStayInsideTheInput) {
    struct Case {
        Bytes in;
        Bytes reported;
    } cases[] = {
        {{0x41, 0xC3, 0x28}, {0xC3, 0x28}},
        {{0xED, 0xB0, 0x80}, {0xED, 0xB0, 0x80}},             // U+DC00
        {{0xEF, 0xBF, 0xBE, 0x41, 0x42}, {0xEF, 0xBF, 0xBE, 0x41}},  // U+FFFE
        {{0x80}, {0x80}},
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, {0xF8, 0x88, 0x80, 0x80}},
        {{0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},  // above U+10FFFF
        {{0xE2, 0x28, 0xAC}, {0xE2, 0x28, 0xAC}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(raises(unicode::ErrorId::invalid_utf8, [&] { load_utf8(c.in); }))
            << testing::PrintToString(c.in);
        const auto& e = unicode::last_error;
        EXPECT_EQ(Bytes(e.bytes, e.bytes + e.byte_count), c.reported) << testing::PrintToString(c.in);
    }
}

TEST(Unicode, CrFlagOfUtf8LoadingTurnsLineEndsIntoLf) {
    Bytes in = {'a', '\r', '\n', 'b', '\r', 'c', '\r'};
    EXPECT_EQ(load_utf8(in, true).cps, (Cps{'a', '\n', 'b', '\n', 'c', '\n'}));
    EXPECT_EQ(load_utf8(in, false).cps, (Cps{'a', '\r', '\n', 'b', '\r', 'c', '\r'}));
}

TEST(Unicode, CheckedDecoderLengthProtocol) {
    const uint8_t euro[] = {0xE2, 0x82, 0xAC};
    int32_t len = 2;
    EXPECT_EQ(unicode::decode_utf8_checked(euro, &len), -1);
    EXPECT_EQ(len, 2) << "left alone when the sequence does not fit";
    len = 3;
    EXPECT_EQ(unicode::decode_utf8_checked(euro, &len), 0x20AC);
    EXPECT_EQ(len, 3);
}

TEST(Unicode, TolerantDecoderNeverReadsPastTheEnd) {
    struct Case {
        Bytes in;
        std::vector<int32_t> cps;  // one per call until the end
    } cases[] = {
        {{0x80, 0x41}, {-1, 0x41}},
        {{0xC3, 0xA9, 0xE2, 0x82}, {0xE9, -1}},  // cut by the end
        {{0xC3, 0x28}, {-1}},                    // the rejected byte is consumed
        {{0xED, 0xA0, 0x80}, {-1, -1}},          // surrogate: lead and bad byte, then 80
        {{0xC0, 0x80}, {-1, -1}},                // overlong: bad lead alone
        {{0xF0, 0x9F, 0x98, 0x80}, {0x1F600}},
    };
    for (const Case& c : cases) {
        Exact in(c.in);
        std::vector<int32_t> got;
        for (const uint8_t* p = in.begin(); p < in.end();) {
            int32_t cp;
            p = unicode::decode_utf8_char(p, in.end(), &cp);
            got.push_back(cp);
        }
        EXPECT_EQ(got, c.cps) << testing::PrintToString(c.in);
        EXPECT_EQ(unicode::count_utf8_chars(in.begin(), in.end()), c.cps.size());
    }
    Exact cafe(Bytes{'c', 'a', 'f', 0xC3, 0xA9, '!'});
    EXPECT_EQ(unicode::skip_utf8_chars(cafe.begin(), cafe.end(), 4), cafe.begin() + 5);
    EXPECT_EQ(unicode::skip_utf8_chars(cafe.begin(), cafe.end(), 99), cafe.end());
}

TEST(Unicode, ByteLevelLengths) {
    struct Lead {
        uint8_t b;
        uint32_t n;
    } leads[] = {{0x41, 0}, {0x80, 0}, {0xC3, 2}, {0xE2, 3}, {0xF0, 4}, {0xFF, 4}};
    for (auto l : leads) EXPECT_EQ(unicode::utf8_lead_length(l.b), l.n) << (int)l.b;

    struct Enc {
        int32_t cp;
        Bytes bytes;
    } encs[] = {
        {0x41, {0x41}},
        {0xE9, {0xC3, 0xA9}},
        {0x7FF, {0xDF, 0xBF}},
        {0x20AC, {0xE2, 0x82, 0xAC}},
        {0xD800, {0xED, 0xA0, 0x80}},
        {0x1F600, {0xF0, 0x9F, 0x98, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const Enc& e : encs) {
        uint8_t out[4] = {};
        uint32_t n = unicode::encode_utf8(e.cp, out);
        EXPECT_EQ(Bytes(out, out + n), e.bytes) << e.cp;
        EXPECT_EQ(unicode::utf8_length_of(e.cp), e.bytes.size());
    }
    EXPECT_TRUE(raises(unicode::ErrorId::invalid_char, [] { unicode::utf8_length_of(0x110000); }));
    EXPECT_EQ(unicode::last_error.code_point, 0x110000);
    uint8_t out[4];
    EXPECT_TRUE(raises(unicode::ErrorId::invalid_char, [&] { unicode::encode_utf8(-1, out); }));

    auto units = units_of({0x41, 0xE9, 0x20AC, 0x1F600}, 4);
    EXPECT_EQ(unicode::utf8_size(units.data(), units.data() + 16, 4), 10u);
    units = units_of({0x41, 0x110000}, 4);
    EXPECT_TRUE(raises(unicode::ErrorId::invalid_char,
                       [&] { unicode::utf8_size(units.data(), units.data() + 8, 4); }));
}

TEST(Unicode, BoundedWritersNeverCutASequence) {
    uint8_t out[8];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(unicode::encode_utf8_part(0x20AC, out, 2), 0u);
    EXPECT_EQ(out[0], 0xAA) << "nothing written";
    EXPECT_EQ(unicode::encode_utf8_part(0x20AC, out, 3), 3u);

    auto units = units_of({'a', 0xE9, 0x20AC}, 2);
    struct Case {
        uint32_t room;
        bool nul;
        Bytes expect;  // what is written, NUL included
    } cases[] = {
        {0, true, {}},
        {1, true, {0}},
        {3, false, {'a', 0xC3, 0xA9}},
        {4, true, {'a', 0xC3, 0xA9, 0}},
        {6, true, {'a', 0xC3, 0xA9, 0}},
        {7, true, {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0}},
    };
    for (const Case& c : cases) {
        memset(out, 0xAA, sizeof out);
        uint32_t n = unicode::units_to_utf8_bounded(units.data(), 2, 3, out, c.room, c.nul);
        EXPECT_EQ(n, c.expect.size() - (c.nul && !c.expect.empty() ? 1 : 0)) << c.room;
        EXPECT_EQ(Bytes(out, out + c.expect.size()), c.expect) << c.room;
        EXPECT_EQ(out[c.expect.size()], 0xAA) << "nothing past room " << c.room;
    }
}

TEST(Unicode, UnitsToUtf8AllWidthsWithCrBeforeLf) {
    Cps text = {'a', '\n', 0xE9};
    for (uint32_t width : {1u, 2u, 4u}) {
        auto units = units_of(text, width);
        std::vector<uint8_t> out(unicode::utf8_bound(width, 3));
        uint32_t n = unicode::units_to_utf8(units.data(), width, 3, out.data(), true);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), (Bytes{'a', '\r', '\n', 0xC3, 0xA9})) << width;
        n = unicode::units_to_utf8(units.data(), width, 3, out.data(), false);
        EXPECT_EQ(n, 4u);
    }
    EXPECT_EQ(unicode::utf8_bound(1, 3), 8u);
    EXPECT_EQ(unicode::utf8_bound(2, 3), 12u);
    EXPECT_EQ(unicode::utf8_bound(4, 3), 16u);
}

TEST(Unicode, WidenRewritesInPlace) {
    std::vector<uint8_t> buf(16);
    buf[0] = 'a';
    buf[1] = 0xE9;
    buf[2] = 'b';
    unicode::widen(buf.data(), 3, 1, 2);
    EXPECT_EQ(unicode::get_unit<uint16_t>(buf.data(), 1), 0xE9u);
    unicode::widen(buf.data(), 3, 2, 4);
    for (uint32_t i = 0; i < 3; i++)
        EXPECT_EQ(unicode::get_unit<uint32_t>(buf.data(), i), (Cps{'a', 0xE9, 'b'}[i]));
    std::vector<uint8_t> b2 = {'x', 0xFF, 0, 0, 0, 0, 0, 0};
    unicode::widen(b2.data(), 2, 1, 4);
    EXPECT_EQ(unicode::get_unit<uint32_t>(b2.data(), 1), 0xFFu);
}

namespace {
Loaded load_utf16(const std::vector<uint16_t>& in, bool cr) {
    uint32_t n = (uint32_t)in.size();
    Exact src(Bytes((const uint8_t*)in.data(), (const uint8_t*)in.data() + n * 2));
    uint32_t width = unicode::utf16_unit_width(src.begin(), n);
    std::vector<uint8_t> buf((size_t)n * width + 1);
    uint32_t got = unicode::decode_utf16_into(src.begin(), n, buf.data(), width, cr);
    Loaded out{width, {}, 0};
    unicode::by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        for (uint32_t i = 0; i < got; i++) out.cps.push_back(unicode::get_unit<U>(buf.data(), i));
    });
    return out;
}
}  // namespace

TEST(Unicode, LoadUtf16) {
    struct Case {
        std::vector<uint16_t> in;
        bool cr;
        uint32_t width;
        Cps cps;
    } cases[] = {
        {{'a', 0xE9}, false, 1, {'a', 0xE9}},
        {{'a', 0x20AC}, false, 2, {'a', 0x20AC}},
        {{0xD83D, 0xDE00, 'x'}, false, 4, {0x1F600, 'x'}},
        // Unpaired surrogates keep their own value, at the end or not.
        {{'a', 0xD83D}, false, 4, {'a', 0xD83D}},
        {{0xD83D, 'b'}, false, 4, {0xD83D, 'b'}},
        {{0xDE00, 'b'}, false, 4, {0xDE00, 'b'}},
        // Every CR goes; a lone CR is not turned into LF.
        {{'a', '\r', '\n', 'b', '\r', 'c'}, true, 1, {'a', '\n', 'b', 'c'}},
        {{'a', '\r', '\n', 0x20AC, '\r'}, true, 2, {'a', '\n', 0x20AC}},
        {{'\r', 0xD83D, 0xDE00, '\r', '\n'}, true, 4, {0x1F600, '\n'}},
        {{'a', '\r'}, false, 1, {'a', '\r'}},
        {{}, false, 1, {}},
    };
    for (const Case& c : cases) {
        Loaded l = load_utf16(c.in, c.cr);
        EXPECT_EQ(l.width, c.width) << testing::PrintToString(c.in);
        EXPECT_EQ(l.cps, c.cps) << testing::PrintToString(c.in);
    }
}

TEST(Unicode, TextForWideCharacterCallsGetsCrBeforeLf) {
    struct Case {
        Cps text;
        uint32_t width;
        bool lf;
        std::vector<uint16_t> out;  // terminator included
    } cases[] = {
        {{0x1F600, '\n'}, 4, true, {0xD83D, 0xDE00, '\r', '\n', 0}},
        {{'a', '\n', 0xE9}, 1, true, {'a', '\r', '\n', 0xE9, 0}},
        {{'a', '\n', 0x20AC}, 2, true, {'a', '\r', '\n', 0x20AC, 0}},
        {{'a', '\n', 0x20AC}, 2, false, {'a', '\n', 0x20AC, 0}},
        {{}, 1, true, {0}},
    };
    for (const Case& c : cases) {
        auto units = units_of(c.text, c.width);
        uint32_t count = (uint32_t)c.text.size();
        uint32_t bound = unicode::utf16_bound(units.data(), c.width, count);
        std::vector<uint8_t> dest(bound);
        int32_t n = unicode::units_to_utf16(units.data(), c.width, count, dest.data(), c.lf);
        ASSERT_EQ(n, (int32_t)c.out.size() - 1) << testing::PrintToString(c.text);
        EXPECT_LE((uint32_t)c.out.size() * 2, bound);
        std::vector<uint16_t> got(c.out.size());
        memcpy(got.data(), dest.data(), got.size() * 2);
        EXPECT_EQ(got, c.out) << testing::PrintToString(c.text);
    }
    auto bad = units_of({'a', 0x110000}, 4);
    std::vector<uint8_t> dest(unicode::utf16_bound(bad.data(), 4, 2));
    EXPECT_EQ(unicode::units_to_utf16(bad.data(), 4, 2, dest.data(), true), -1);

    uint16_t two[2];
    EXPECT_EQ(unicode::encode_utf16(0x41, two), 1u);
    EXPECT_EQ(unicode::encode_utf16(0x10FFFF, two), 2u);
    EXPECT_EQ(two[0], 0xDBFF);
    EXPECT_EQ(two[1], 0xDFFF);
    EXPECT_EQ(unicode::encode_utf16(0x110000, two), 0u);
    uint16_t w[4];
    unicode::ascii_to_utf16("ab", w);
    EXPECT_EQ(std::vector<uint16_t>(w, w + 3), (std::vector<uint16_t>{'a', 'b', 0}));
}
