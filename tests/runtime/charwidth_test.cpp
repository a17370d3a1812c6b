#include <gtest/gtest.h>

#include "runtime/charwidth.h"

TEST(Charwidth, WidthsNormalAndWide) {
    struct Case {
        uint32_t cp;
        int32_t width;
        int32_t wide;
    } cases[] = {
        {0x0000, 0, 0},  {0x0009, 1, 1},  {0x0085, 1, 1},  {0x0041, 1, 1},
        {0x0301, 0, 0},  {0x0300, 0, 0},  {0x036F, 0, 0},  {0x0600, 0, 0},
        {0x1160, 0, 0},  {0x1100, 2, 2},  {0x115F, 2, 2},  {0x4E00, 2, 2},
        {0xFF21, 2, 2},  {0x20000, 2, 2}, {0x2A6E0, 2, 2}, {0x3FFFD, 2, 2},
        {0x3FFFE, 1, 1}, {0x00A1, 1, 2},  {0x00A2, 1, 1},  {0xE000, 1, 2},
        {0x10FFFD, 1, 2}, {0x10FFFE, 1, 1}, {0xE01EF, 0, 0}, {0xE01F0, 1, 1},
        {0x1F600, 2, 2}, {0x0378, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(charwidth::code_point_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(charwidth::code_point_width_wide(c.cp), c.wide) << std::hex << c.cp;
    }
}

TEST(Charwidth, TablesAreSortedDisjointPairs) {
    struct Table {
        const uint32_t* values;
        uint32_t count;
    } tables[] = {{charwidth::zero_width_ranges, charwidth::zero_width_ranges_count},
                  {charwidth::wide_ranges, charwidth::wide_ranges_count},
                  {charwidth::ambiguous_ranges, charwidth::ambiguous_ranges_count}};
    for (const Table& t : tables) {
        ASSERT_EQ(t.count % 2, 0u);
        for (uint32_t i = 0; i < t.count; i += 2) {
            EXPECT_LE(t.values[i], t.values[i + 1]);
            if (i) {
                EXPECT_LT(t.values[i - 1], t.values[i]);
            }
            // Both ends of every range are found by the search.
            EXPECT_TRUE(charwidth::is_in_ranges(t.values[i], t.values, t.count));
            EXPECT_TRUE(charwidth::is_in_ranges(t.values[i + 1], t.values, t.count));
        }
    }
}
