// money!: the cell layout that Zolbin writes as it is held (sign in header
// bit 14, currency index in byte 4, packed digits in bytes 5-15), which Zol
// code cannot see.
#include <gtest/gtest.h>

#include <cstring>

#include "datatypes/money.h"
#include "tests/datatypes/text.h"

TEST(Money, CellLayout) {
    cell m;
    const char* text = "-USD$1234.5";
    ASSERT_TRUE(money::make_in(&m, (const uint8_t*)text, (uint32_t)strlen(text)));
    // 22 digits 0000000000000123450000, two per byte, high nibble first.
    EXPECT_EQ(m.header, TYPE_MONEY | 0x4000u);
    EXPECT_EQ(m.data1, 155u);  // USD's place in the currency list
    EXPECT_EQ(m.data2, 0x01000000u);
    EXPECT_EQ(m.data3, 0x00004523u);
    EXPECT_EQ(money::digit_count(&m), 9);
    EXPECT_EQ(money::get_digit(&m, 14), 1);
    EXPECT_EQ(money::get_digit(&m, 18), 5);

    cell copy;
    money::make_from_digits(&copy, true, money::currency_of(&m), money::digit_bytes(&m));
    EXPECT_EQ(memcmp(&copy, &m, sizeof m), 0);

    const char* bad = "ABC$1";  // a code that is not in the list
    EXPECT_FALSE(money::make_in(nullptr, (const uint8_t*)bad, (uint32_t)strlen(bad)));
}
