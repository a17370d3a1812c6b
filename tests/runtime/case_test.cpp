#include <gtest/gtest.h>

#include <vector>

#include "runtime/case.h"
#include "runtime/unicode.h"

TEST(Case, FoldFirstCodePointRule) {
    struct Case {
        int32_t cp;
        bool upper;
        int32_t expect;
    } cases[] = {
        {0x61, true, 0x41},       {0x41, false, 0x61},      {0x41, true, 0x41},
        {0xFF, true, 0x178},      {0x178, false, 0xFF},     {0xE9, true, 0xC9},
        {0xDF, true, 0x53},       {0x130, false, 0x69},     {0xB5, true, 0x39C},
        {0x101, true, 0x100},     {0x100, true, 0x100},     {0x100, false, 0x101},
        {0xFF5A, true, 0xFF3A},   {0xFF3A, false, 0xFF5A},  {0x31, true, 0x31},
        {0x4E00, true, 0x4E00},   {0x4E00, false, 0x4E00},  {0x10428, true, 0x10400},
        {0x10400, false, 0x10428}, {0x1E943, true, 0x1E921}, {0x1E921, false, 0x1E943},
        {0x1E944, true, 0x1E944}, {0x10427, true, 0x10427}, {0x1F600, true, 0x1F600},
        {0x10FFFF, false, 0x10FFFF}, {-1, true, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(case_::fold(c.cp, c.upper), c.expect) << std::hex << c.cp << " " << c.upper;
    EXPECT_EQ(case_::to_upper(0x1E943), 0x1E921);
    EXPECT_EQ(case_::swap('a'), 'A');
    EXPECT_EQ(case_::swap('A'), 'a');
    EXPECT_EQ(case_::swap('1'), '1');
}

TEST(Case, FoldedComparisonAcrossWidths) {
    // "ÉTÉ" loaded into 1-byte units against "été" held in 4-byte units.
    const uint8_t a[] = {0xC3, 0x89, 'T', 0xC3, 0x89};
    unicode::Utf8Load m = unicode::measure_utf8(a, sizeof a, false);
    ASSERT_EQ(m.width, 1u);
    std::vector<uint8_t> left(m.units);
    unicode::decode_utf8_into(a, m, left.data(), 1);
    std::vector<uint32_t> right = {0xE9, 't', 0xE9};
    ASSERT_EQ(left.size(), right.size());
    for (size_t i = 0; i < right.size(); i++) {
        EXPECT_EQ(case_::to_upper(left[i]), case_::to_upper((int32_t)right[i])) << i;
        EXPECT_EQ(case_::fold(left[i], false), case_::fold((int32_t)right[i], false)) << i;
    }
}

TEST(Case, FoldUnitsStopsWhereTheWidthIsTooNarrow) {
    std::vector<uint8_t> narrow = {'a', 0xE9, 0xFF, 'b'};
    EXPECT_EQ(case_::fold_units(narrow.data(), 1, 4, true), 2u);
    EXPECT_EQ(narrow, (std::vector<uint8_t>{'A', 0xC9, 0xFF, 'b'})) << "folded up to the stop only";

    std::vector<uint16_t> wide = {'a', 0xFF, 'b'};
    EXPECT_EQ(case_::fold_units(wide.data(), 2, 3, true), 3u);
    EXPECT_EQ(wide, (std::vector<uint16_t>{'A', 0x178, 'B'}));
    EXPECT_EQ(case_::fold_units(wide.data(), 2, 3, false), 3u);
    EXPECT_EQ(wide, (std::vector<uint16_t>{'a', 0xFF, 'b'}));

    std::vector<uint32_t> astral = {0x1E921, 'X'};
    EXPECT_EQ(case_::fold_units(astral.data(), 4, 2, false), 2u);
    EXPECT_EQ(astral, (std::vector<uint32_t>{0x1E943, 'x'}));
}
