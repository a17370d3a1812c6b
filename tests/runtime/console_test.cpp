// The console writer and its ANSI interpreter on a fake screen buffer, the
// redirected writer through a captured byte sink.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/console.h"

namespace {

// A screen buffer of cells (unit, attribute) with a cursor; every write call
// is also logged so batching shows.
class FakeScreen : public console::Screen {
public:
    int16_t width = 20, height = 6, x = 0, y = 0;
    uint16_t attribute = 0x07;
    std::vector<uint16_t> chars, attrs;
    std::vector<std::u16string> writes;

    FakeScreen() : chars(20 * 6, '.'), attrs(20 * 6, 0x07) {}

    bool info(console::ScreenInfo& o) override {
        o = {width, height, x, y, attribute, 0, 0, (int16_t)(width - 1), (int16_t)(height - 1), width, height};
        return true;
    }
    void set_cursor(int16_t cx, int16_t cy) override {
        x = cx;
        y = cy;
    }
    void set_attribute(uint16_t a) override { attribute = a; }
    void fill(int16_t fx, int16_t fy, uint32_t count, uint16_t a) override {
        for (uint32_t i = (uint32_t)(fy * width + fx); count && i < chars.size(); i++, count--) {
            chars[i] = ' ';
            attrs[i] = a;
        }
    }
    void write(const uint16_t* units, uint32_t count) override {
        writes.emplace_back((const char16_t*)units, count);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t at = (uint32_t)(y * width + x);
            if (at < chars.size()) {
                chars[at] = units[i];
                attrs[at] = attribute;
            }
            if (++x == width) x = 0, y++;
        }
    }
    std::string row(int r) const {
        std::string s;
        for (int i = 0; i < width; i++) s += (char)chars[(size_t)(r * width + i)];
        return s;
    }
    std::u16string written() const {
        std::u16string all;
        for (auto& w : writes) all += w;
        return all;
    }
};

struct OnScreen : testing::Test {
    FakeScreen fake;
    void SetUp() override { console::set_screen(&fake); }
    void TearDown() override { console::set_screen(nullptr); }
    uint32_t escape(const std::string& text) {
        return console::ansi_escape(text.data(), text.data() + text.size(), 1);
    }
};

std::string sink;
bool to_sink(const void* bytes, size_t n) {
    sink.append((const char*)bytes, n);
    return true;
}
struct Redirected : testing::Test {
    bool (*saved)(const void*, size_t) = nullptr;
    void SetUp() override {
        console::set_screen(nullptr);
        saved = console::file_out;
        console::file_out = to_sink;
        sink.clear();
    }
    void TearDown() override { console::file_out = saved; }
};

}  // namespace

TEST_F(OnScreen, SgrCodesMapOntoConsoleAttributes) {
    struct Case { int32_t from, code; uint16_t to; };
    const Case cases[] = {
        {0x07, 0, 0x07},      {0x07, 1, 0x8F},   {0x07, 4, 0x8007},  {0x8017, 7, 0x71},
        {0x8F, 31, 0x8C},     {0x07, 30, 0x00},  {0x0F, 34, 0x09},   {0x07, 37, 0x07},
        {0x07, 39, 0x0F},     {0x07, 41, 0x47},  {0xF7, 46, 0xB7},   {0x07, 49, 0x87},
        {0x07, 12, 12},   {0x07, 99, 99},
    };
    for (const Case& c : cases)
        EXPECT_EQ(console::sgr_to_attribute(c.from, c.code), c.to) << c.from << " code " << c.code;
    fake.attribute = 0x21;
    EXPECT_EQ(console::sgr_to_attribute(-1, 1), 0xA9);  // -1 reads the current attribute
}

TEST_F(OnScreen, EscapeSequencesAndWhatTheyConsume) {
    struct Case {
        const char* text;
        uint32_t used;
        int16_t x, y;
        uint16_t attribute;
    };
    // The cursor starts at column 3, row 2, attribute 0x07.
    const Case cases[] = {
        {"\x1b[1;31mX", 7, 3, 2, 0x8C},  {"\x1b[5;3H", 6, 5, 3, 0x07},  {"\x1b[H", 3, 0, 0, 0x07},
        {"\x1b[f", 3, 0, 0, 0x07},       {"\x1b[2A", 4, 3, 0, 0x07},    {"\x1b[9A", 4, 3, 0, 0x07},
        {"\x1b[2B", 4, 3, 4, 0x07},      {"\x1b[30B", 5, 3, 5, 0x07},   {"\x1b[4C", 4, 7, 2, 0x07},
        {"\x1b[99C", 5, 19, 2, 0x07},    {"\x1b[2D", 4, 1, 2, 0x07},    {"\x1b[9D", 4, 0, 2, 0x07},
        {"\x1b[44m", 5, 3, 2, 0x17},     {"\x1b[1;31;44m", 10, 3, 2, 0x9C}, {"\x1b[;;7m", 6, 3, 2, 0x70},
        {"\x1b[1;2;f", 7, 0, 0, 0x07},   {"\x1b[Z", 3, 3, 2, 0x07},     {"\x1b[12x", 5, 3, 2, 0x07},
        {"\x1b[1;x", 5, 3, 2, 0x07},     {"\x1bX", 0, 3, 2, 0x07},      {"\x1b", 0, 3, 2, 0x07},
        {"\x1b[65565m", 8, 3, 2, 0x00},  // digits accumulate modulo 65,535: code 30
    };
    for (const Case& c : cases) {
        fake.x = 3, fake.y = 2, fake.attribute = 0x07;
        EXPECT_EQ(escape(c.text), c.used) << c.text + 1;
        EXPECT_EQ(fake.x, c.x) << c.text + 1;
        EXPECT_EQ(fake.y, c.y) << c.text + 1;
        EXPECT_EQ(fake.attribute, c.attribute) << c.text + 1;
    }
}

TEST_F(OnScreen, SavedCursorComesBack) {
    fake.x = 4, fake.y = 1;
    EXPECT_EQ(escape("\x1b[s"), 3u);
    fake.x = 9, fake.y = 5;
    EXPECT_EQ(escape("\x1b[u"), 3u);
    EXPECT_EQ(fake.x, 4);
    EXPECT_EQ(fake.y, 1);
}

TEST_F(OnScreen, CutSequenceIsNeverReadPastItsEnd) {
    // The text ends inside each sequence: the interpreter takes what is
    // there, does nothing, and stops at the end (ASan sees any read beyond).
    for (const char* text : {"\x1b[", "\x1b[1", "\x1b[1;", "\x1b[1;3", "\x1b[;"}) {
        std::string cut(text);
        std::vector<char> exact(cut.begin(), cut.end());
        fake.x = 3, fake.y = 2, fake.attribute = 0x07;
        EXPECT_EQ(console::ansi_escape(exact.data(), exact.data() + exact.size(), 1), cut.size()) << text + 1;
        EXPECT_EQ(fake.attribute, 0x07);
        EXPECT_EQ(fake.x, 3);
    }
    // The writer shows the text before a cut sequence and nothing of it.
    const char text[] = {'a', 'b', 27, '[', '3'};
    console::write(text, sizeof text, 1, false);
    EXPECT_EQ(fake.written(), u"ab");
}

TEST_F(OnScreen, EraseModes) {
    struct Case { const char* sequence; const char* rows[4]; int16_t x, y; };
    // 20 x 6 buffer of dots, cursor at column 3, row 2; rows 0-3 shown.
    const Case cases[] = {
        {"\x1b[J", {"....................", "....................", "                    ", "                    "}, 3, 2},
        {"\x1b[1J", {"                    ", "                    ", "....................", "...................."}, 3, 2},
        {"\x1b[2J", {"                    ", "                    ", "                    ", "                    "}, 0, 0},
        {"\x1b[2K", {"....................", "....................", "                    ", "...................."}, 0, 2},
        {"\x1b[K", {"....................", "....................", "...                 ", "...................."}, 3, 2},
        {"\x1b[1K", {"....................", "....................", "    ................", "...................."}, 0, 2},
    };
    for (const Case& c : cases) {
        fake.chars.assign(fake.chars.size(), '.');
        fake.x = 3, fake.y = 2;
        escape(c.sequence);
        for (int r = 0; r < 4; r++) EXPECT_EQ(fake.row(r), c.rows[r]) << c.sequence + 1 << " row " << r;
        EXPECT_EQ(fake.x, c.x) << c.sequence + 1;
        EXPECT_EQ(fake.y, c.y) << c.sequence + 1;
    }
}

TEST_F(OnScreen, ErasingUsesTheStartupAttribute) {
    fake.attribute = 0x1E;
    console::store_default_attribute();
    fake.attribute = 0x4F;
    escape("\x1b[2J");
    EXPECT_EQ(fake.attrs[0], 0x1E);
    EXPECT_EQ(console::sgr_to_attribute(0x4F, 0), 0x1E);
}

TEST_F(OnScreen, WriterInterpretsEscapesAndFlushesBeforeThem) {
    const char text[] = "ab\x1b[1;31mcd\x1b" "X";
    console::write(text, sizeof text - 1, 1, true);
    // "ab" went out before the colour changed, "cd" after it.
    ASSERT_GE(fake.writes.size(), 2u);
    EXPECT_EQ(fake.writes[0], u"ab");
    EXPECT_EQ(fake.written(), u"abcd\x1bX\r\n");
    EXPECT_EQ(fake.attrs[(size_t)(0 * 20 + 1)], 0x07);
    EXPECT_EQ(fake.attrs[(size_t)(0 * 20 + 2)], 0x8C);
}

TEST_F(OnScreen, WiderUnitsAndLongTexts) {
    const uint16_t wide[] = {'x', 27, '[', '4', '4', 'm', 0x263A};
    console::write(wide, sizeof wide, 2, false);
    EXPECT_EQ(fake.written(), u"x\u263A");
    EXPECT_EQ(fake.attribute, 0x17);

    fake.writes.clear();
    const uint32_t four[] = {0x1F600, 27, '[', '0', 'm', 'z'};
    console::write(four, sizeof four, 4, true);
    EXPECT_EQ(fake.written(), u"\U0001F600z\n");  // surrogate pair; a lone LF ends the line
    EXPECT_EQ(fake.attribute, 0x07);

    fake.writes.clear();
    std::string many(1200, 'q');
    console::write(many.data(), (uint32_t)many.size(), 1, false);
    ASSERT_EQ(fake.writes.size(), 3u);  // at most 510 units per call
    EXPECT_EQ(fake.writes[0].size(), 510u);
    EXPECT_EQ(fake.written().size(), 1200u);
}

TEST_F(OnScreen, CStringWritesEachByteAsOneUnit) {
    print::c_string("\xE9\x1b[1m");
    EXPECT_EQ(fake.written(), u"\u00E9\x1b[1m");
    EXPECT_EQ(fake.attribute, 0x07);
}

TEST_F(Redirected, TextGoesOutAsUtf8WithEscapesUnchanged) {
    const char text[] = "\x1b[1;31mred";
    console::write(text, sizeof text - 1, 1, true);
    EXPECT_EQ(sink, "\x1b[1;31mred\r\n");
    sink.clear();
    const uint32_t four[] = {0x1F600};
    print::ucs4(four, 1);
    EXPECT_EQ(sink, "\xF0\x9F\x98\x80");
    sink.clear();
    const uint16_t two[] = {0xE9, 'x'};
    print::ucs2_line(two, 2);
    EXPECT_EQ(sink, "\xC3\xA9x\r\n");
    sink.clear();
    print::c_string("\xE9");  // bytes unchanged, no UTF-8 conversion
    EXPECT_EQ(sink, "\xE9");
}
