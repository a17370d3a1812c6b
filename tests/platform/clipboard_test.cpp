// The clipboard's byte layouts: the bitmap header written for images, the
// checks a bitmap block from the clipboard must pass before its pixels are
// read, the file-drop record and the paths read back.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/clipboard.h"

namespace {

uint32_t word_at(const std::string& s, size_t at) {
    uint32_t v;
    memcpy(&v, s.data() + at, 4);
    return v;
}

// A block as the clipboard hands it: header, then w × h pixel words.
std::string block(uint32_t w, uint32_t h, size_t pixel_bytes) {
    return clipboard::dibv5_header(w, h) + std::string(pixel_bytes, '\x11');
}

}  // namespace

TEST(Clipboard, BitmapHeaderLayout) {
    std::string h = clipboard::dibv5_header(3, 2);
    ASSERT_EQ(h.size(), 124u);
    EXPECT_EQ(word_at(h, 0), 124u);
    EXPECT_EQ(word_at(h, 4), 3u);
    EXPECT_EQ((int32_t)word_at(h, 8), -2);  // top-down
    EXPECT_EQ(word_at(h, 12), 1u | 32u << 16);
    EXPECT_EQ(word_at(h, 16), 3u);
    EXPECT_EQ(word_at(h, 20), 24u);
    EXPECT_EQ(word_at(h, 40), 0x00FF0000u);
    EXPECT_EQ(word_at(h, 52), 0xFF000000u);
    EXPECT_EQ(word_at(h, 56), 0x57696E20u);
    EXPECT_EQ(word_at(h, 108), 4u);
}

TEST(Clipboard, BitmapBlocksAreCheckedBeforeReading) {
    clipboard::Dib d{};
    std::string ok = block(3, 2, 24);
    ASSERT_TRUE(clipboard::parse_dib((const uint8_t*)ok.data(), ok.size(), d));
    EXPECT_EQ(d.width, 3u);
    EXPECT_EQ(d.height, 2u);
    EXPECT_EQ(d.offset, 124u);
    EXPECT_FALSE(d.bottom_up);

    std::string up = ok;
    int32_t positive = 2;
    memcpy(&up[8], &positive, 4);
    ASSERT_TRUE(clipboard::parse_dib((const uint8_t*)up.data(), up.size(), d));
    EXPECT_TRUE(d.bottom_up);

    struct Bad {
        const char* why;
        std::string bytes;
    };
    std::string big_header = ok, wrong_bits = ok, wrong_mask = ok, huge = block(3, 2, 24), no_width = ok;
    uint32_t v = 10000;
    memcpy(&big_header[0], &v, 4);
    wrong_bits[14] = 24;
    wrong_mask[40] = 1;
    int32_t tall = -100000;
    memcpy(&huge[8], &tall, 4);
    memset(&no_width[4], 0, 4);
    for (const Bad& b : {Bad{"pixels past the block", block(3, 2, 23)},
                         Bad{"shorter than a header", ok.substr(0, 50)},
                         Bad{"header size past the block", big_header},
                         Bad{"24 bits a pixel", wrong_bits},
                         Bad{"other masks", wrong_mask},
                         Bad{"height past 65535", huge},
                         Bad{"no width", no_width}})
        EXPECT_FALSE(clipboard::parse_dib((const uint8_t*)b.bytes.data(), b.bytes.size(), d)) << b.why;
}

TEST(Clipboard, FileListsAndPaths) {
    std::string s = clipboard::drop_files({u"c:\\a", u"b"});
    EXPECT_EQ(word_at(s, 0), 20u);
    EXPECT_EQ(word_at(s, 16), 1u);
    EXPECT_EQ(s.substr(20), std::string("c\0:\0\\\0a\0\0\0b\0\0\0\0\0", 16));
    EXPECT_EQ(clipboard::zol_path("C:\\dir\\x.txt"), "/C/dir/x.txt");
    EXPECT_EQ(clipboard::zol_path("\\\\server\\share"), "//server/share");
    EXPECT_EQ(clipboard::zol_path("rel\\x"), "rel/x");
}
