#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/hooks.h"
#include "runtime/print.h"

using namespace sys;

namespace {
// Collects what the printers hand to the text listeners.
std::string captured;
void capture(const char* text, int32_t length, int32_t) {
    captured.append(text, length < 0 ? strlen(text) : (size_t)length);
}
struct Capture {
    Capture() { captured.clear(); hooks::register_(nullptr, capture); }
    ~Capture() { hooks::unregister(nullptr, capture); }
};
template <class F>
std::string printed(F&& f) {
    Capture c;
    f();
    return captured;
}
}  // namespace

TEST(PrintPrimitives, TypedLists) {
    EXPECT_EQ(printed([] { print({}); }), "\n");
    EXPECT_EQ(printed([] {
                  prin({PrintItem::Logic(5), PrintItem::Byte(' '), PrintItem::Integer(-42),
                        PrintItem::Byte('\t'), PrintItem{9, 0xBEEF, 0},
                        PrintItem::String(" x "), PrintItem::Float64(0.1),
                        PrintItem::Byte(' '), PrintItem::Float32(1.5f)});
              }),
              "true -42\t0000BEEF x 0.1 1.5");
}

TEST(PrintPrimitives, CountedAndCharLiterals) {
    EXPECT_EQ(printed([] { print_counted("abc", 0); }), "");
    EXPECT_EQ(printed([] { print_counted("abc", 10); }), "abc");
    struct Case { uint32_t c; const char* text; };
    const Case cases[] = {{0, "#\"^@\""}, {1, "#\"^A\""}, {9, "#\"^-\""}, {10, "#\"^/\""},
                          {27, "#\"^]\""}, {31, "#\"^_\""}, {65, "#\"A\""}, {200, "#\"^(C8)\""}};
    for (const Case& c : cases) EXPECT_EQ(printed([&] { print_char_literal(c.c); }), c.text);
}

TEST(PrintPrimitives, CStringEquality) {
    EXPECT_FALSE(is_equal_c_strings("ab", "abc"));
    EXPECT_TRUE(is_equal_c_strings("", ""));
    EXPECT_TRUE(is_equal_c_strings("zol", "zol"));
}

TEST(PrintPrimitives, AngleReduction) {
    const double deg = 3.141592653589793 / 180;
    struct Case { double in; int mode; double out; };
    const Case cases[] = {{390, ANGLE_SINE, 30}, {135, ANGLE_SINE, 45}, {135, ANGLE_TANGENT, -45},
                          {135, ANGLE_COSINE, 135}, {-135, ANGLE_SINE, -45},
                          {180, ANGLE_COSINE, 180}, {90, ANGLE_TANGENT, 90}, {-200, ANGLE_COSINE, 160}};
    for (const Case& c : cases)
        EXPECT_NEAR(normalise_angle(c.in, c.mode), c.out * deg, 1e-12) << c.in << " mode " << c.mode;
}
