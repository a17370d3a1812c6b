// date!: what the language cannot see: the bits of the packed date word and
// the day-number arithmetic over the whole range of years the word holds.
#include <gtest/gtest.h>

#include "datatypes/date.h"

namespace {

uint32_t word(int32_t year, int32_t month, int32_t day) { return date::pack(year, month, day, 0, false); }

}  // namespace

// Every day converts to its calendar date and back, the dates follow one
// another, and negative years are no exception (29 Feb of year 0 is day -1,
// not a second name of 1 March).
TEST(DateDays, RoundTripAndSuccession) {
    EXPECT_EQ(date::to_days(word(0, 3, 1)), 0);
    EXPECT_EQ(date::to_days(word(0, 2, 29)), -1);
    EXPECT_EQ(date::to_days(word(1970, 1, 1)), 719468);
    int32_t first = date::to_days(word(date::YEAR_MIN, 1, 1));
    int32_t last = date::to_days(word(date::YEAR_MAX, 12, 31));
    // The first day that fails, or none (0x7FFFFFFF).
    int32_t bad = 0x7FFFFFFF;
    auto check = [&bad](int32_t g) {
        uint32_t w = date::from_days(g, 0, false);
        uint32_t next = date::from_days((int64_t)g + 1, 0, false);
        bool same_month = date::month_of(next) == date::month_of(w) && date::year_of(next) == date::year_of(w);
        bool ok = date::to_days(w) == g && date::day_of(next) == (same_month ? date::day_of(w) + 1 : 1);
        if (!ok && bad == 0x7FFFFFFF) bad = g;
    };
    // Densely around year 0 and the present, sparsely over the rest.
    for (int32_t g = date::to_days(word(-100, 1, 1)); g < date::to_days(word(100, 1, 1)); g++) check(g);
    for (int32_t g = date::to_days(word(1890, 1, 1)); g < date::to_days(word(2110, 1, 1)); g++) check(g);
    for (int32_t g = first; g < last; g += 97) check(g);
    EXPECT_EQ(bad, 0x7FFFFFFF);
    EXPECT_EQ(date::from_days(last, 0, false), word(date::YEAR_MAX, 12, 31));
    EXPECT_EQ(date::from_days(first, 0, false), word(date::YEAR_MIN, 1, 1));
}

// The word's fields sit where the Zolbin codec and the file layer read them.
TEST(DateDays, PackedWordLayout) {
    cell c;
    date::make_from_parts(&c, 2024, 2, 5, 10 * 3600.0, -5, -30, true);
    EXPECT_EQ(c.type(), TYPE_DATE);
    EXPECT_EQ(c.data1, (2024u << 17) | (1u << 16) | (2u << 12) | (5u << 7) | 0x40u | (5u << 2) | 2u);
    EXPECT_EQ(date::time_of(&c), 10 * 3600.0 + 5.5 * 3600.0);  // stored: local time minus the offset
    date::make_from_parts(&c, -44, 3, 15, 0.0, 0, -30, true);
    EXPECT_EQ(date::year_of(c.data1), -44);
    EXPECT_EQ(c.data1 & date::ZONE_MASK, 0x40u | 2u);  // -0:30 keeps its sign
    date::make_from_parts(&c, 2000, 1, 1, 3600.0, 2, 0, false);
    EXPECT_EQ(c.data1, (2000u << 17) | (1u << 12) | (1u << 7) | (2u << 2));
    EXPECT_EQ(date::time_of(&c), 0.0);
}
