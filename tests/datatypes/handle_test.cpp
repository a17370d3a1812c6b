// handle!: text with and without /all, comparison by pointer alone, and no
// actions taken from integer!.
#include <gtest/gtest.h>

#include "datatypes/handle.h"
#include "tests/datatypes/text.h"

using namespace datatype;

TEST(Handle, TextAndCompare) {
    cell window, font, null, other;
    handle::make_at(&window, 0x000C04E2u, handle::WINDOW);
    handle::make_at(&font, 0x000C04E2u, handle::FONT);
    handle::make_at(&null, 0, handle::NONE);
    other = cell{TYPE_INTEGER, 0, 0x000C04E2u, 0};
    EXPECT_EQ(formed(window), "000C04E2h");
    EXPECT_EQ(molded(window), "handle!");
    EXPECT_EQ(molded(window, true), "#[handle! 000C04E2h window]");
    EXPECT_EQ(molded(font, true), "#[handle! 000C04E2h font]");
    EXPECT_EQ(molded(null, true), "#[handle! 00000000h]");
    cell high;
    handle::make_at(&high, 0xA3F2C000u, handle::RICH_TEXT);
    EXPECT_EQ(molded(high, true), "#[handle! A3F2C000h rich-text]");

    auto cmp = get<A_COMPARE>(TYPE_HANDLE);
    EXPECT_EQ(cmp(&window, &font, OP_EQUAL), 0);  // sub-types do not take part
    EXPECT_EQ(cmp(&window, &other, OP_EQUAL), 1);
    EXPECT_EQ(cmp(&high, &window, OP_LESSER), -1);  // signed 32-bit pointers
    for (int a : {A_MAKE, A_ADD, A_TO, A_PICK}) EXPECT_EQ(entry(TYPE_HANDLE, a), nullptr);
}
