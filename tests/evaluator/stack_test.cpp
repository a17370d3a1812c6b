#include "evaluator/stack.h"

#include <gtest/gtest.h>

#include "tests/datatypes/text.h"

namespace {

TEST_F(WindowTest, PushSetLastAndTop) {
    cell* w = stack::args();
    EXPECT_EQ(stack::get_top(), w);  // nothing pushed: the window's first cell
    cell a{TYPE_INTEGER, 0, 1, 0}, b{TYPE_INTEGER, 0, 2, 0};
    EXPECT_EQ(stack::push(&a), w);
    EXPECT_EQ(stack::push(&b), w + 1);
    EXPECT_EQ(stack::get_top(), w + 1);
    EXPECT_EQ(stack::arg(1)->data2, 2u);
    stack::set_last(&b);
    EXPECT_EQ(w->data2, 2u);
    EXPECT_EQ(stack::arguments.top, w + 2);  // set-last leaves the top
    EXPECT_EQ(stack::keep_first(), w);
    EXPECT_EQ(stack::arguments.top, w + 1);
    EXPECT_EQ(stack::clear_args(), w);
    EXPECT_EQ(stack::arguments.top, w);
    stack::pop(stack::ARGUMENT_CELLS * 2);  // never below the base
    EXPECT_EQ(stack::arguments.top, stack::arguments.base);
}

// Absence is a marker, never an address compare: a cell given from the
// machine stack counts wherever that stack lies against the argument stack.
TEST_F(WindowTest, RefinementAbsenceIsAMarker) {
    cell a{TYPE_NONE, 0, 0, 0};
    stack::push(&a);
    EXPECT_TRUE(stack::is_given(stack::arg(0)));
    EXPECT_TRUE(stack::is_given(stack::args() - 1));
    EXPECT_TRUE(stack::is_given(&a));
    EXPECT_FALSE(stack::is_given(nullptr));
    EXPECT_FALSE(stack::is_given((const cell*)(intptr_t)-1));
}

TEST(Cell, HeaderWritersAndFloats) {
    cell c{TYPE_BLOCK | CELL_NEW_LINE | 0x100, 0, 0, 0};
    cell::set_type(&c, TYPE_INTEGER);  // keeps the flags
    EXPECT_EQ(c.type(), TYPE_INTEGER);
    EXPECT_TRUE(cell::has_new_line(&c));
    EXPECT_EQ(c.header & 0x100, 0x100u);
    cell::set_header(&c, TYPE_FLOAT);  // bare type id
    EXPECT_EQ(c.header, (uint32_t)TYPE_FLOAT);

    // Cells sit at 4-byte alignment; the double goes through memcpy.
    alignas(8) uint32_t words[9] = {};
    cell* odd = reinterpret_cast<cell*>(&words[1]);
    cell::set_float(odd, -2.5e300);
    EXPECT_EQ(cell::get_float(odd), -2.5e300);
    cell copy;
    cell::copy(odd, &copy);
    EXPECT_EQ(cell::get_float(&copy), -2.5e300);
}

}  // namespace
