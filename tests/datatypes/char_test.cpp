// char! through the action table: arithmetic kept within the code points,
// conversions, comparison and the escapes of mold.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/char.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "tests/datatypes/number.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using namespace numbers_test;
using error::Math;
using error::Script;

TEST(Char, ArithmeticStaysWithinCodePoints) {
    struct Case { int action; cell a, b; Expect expect; };
    const Case cases[] = {
        {A_ADD, C('a'), I(1), V(C('b'))},
        {A_ADD, C('a'), C(1), V(C('b'))},
        {A_SUBTRACT, C('b'), F(1.9), V(C('a'))},  // a float operand is truncated
        {A_SUBTRACT, C(0), I(1), M(Math::overflow)},
        {A_ADD, C(0x10FFFF), I(1), M(Math::overflow)},
        {A_ADD, C(1), I(INT32_MAX), M(Math::overflow)},  // 32-bit overflow too
        {A_MULTIPLY, C(0x10000), I(0x10000), M(Math::overflow)},
        {A_DIVIDE, C('d'), I(3), V(C(33))},  // truncated, never a float
        {A_DIVIDE, C('d'), I(0), M(Math::zero_divide)},
        {A_DIVIDE, C('d'), I(-1), M(Math::overflow)},
        {A_REMAINDER, C('d'), I(7), V(C(2))},
        {A_REMAINDER, C('d'), I(0), M(Math::zero_divide)},
        {A_AND, C('a'), I(0xDF), V(C('A'))},
        {A_OR, C('A'), I(0x20), V(C('a'))},
        {A_XOR, C('a'), I(0x20), V(C('A'))},
        {A_ADD, C('a'), F(1e20), M(Math::overflow)},
        {A_ADD, C('a'), F(__builtin_nan("")), M(Math::overflow)},
        {A_ADD, C('a'), P(0.5), S(Script::invalid_type)},
        {A_ADD, C('a'), cell{TYPE_NONE, 0, 0, 0}, S(Script::invalid_type)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(math(c.action, c.a, c.b), c.expect))
            << "action " << c.action << ": " << describe(c.a) << " , " << describe(c.b);
}

TEST(Char, InheritedAndMissingActions) {
    // absolute, random, even? and odd? are integer!'s own entries.
    for (int a : {A_RANDOM, A_ABSOLUTE, A_IS_EVEN, A_IS_ODD})
        EXPECT_EQ(entry(TYPE_CHAR, a), entry(TYPE_INTEGER, a)) << a;
    for (int a : {A_NEGATE, A_POWER, A_ROUND, A_COMPLEMENT, A_REFLECT, A_APPEND})
        EXPECT_EQ(entry(TYPE_CHAR, a), nullptr) << a;
    cell c = C('z');
    cell* r = get<A_RANDOM>(TYPE_CHAR)(&c, false, false, false);
    EXPECT_EQ(r->type(), TYPE_CHAR);
    EXPECT_TRUE(char_::get(r) >= 1 && char_::get(r) <= 'z');
}

TEST(Char, MakeAndTo) {
    Window w{};
    auto text = [](const char* utf8) {
        return unicode::load_utf8_new((const uint8_t*)utf8, (uint32_t)strlen(utf8), stack::push_cell());
    };
    auto bytes = [](const std::string& b) {
        memory::Node* node = memory::alloc_bytes((int32_t)b.size() + 1);
        memcpy(node->buffer->head, b.data(), b.size());
        node->buffer->tail = node->buffer->head + b.size();
        cell c;
        return stack::push(series::make_at(&c, TYPE_BINARY, node, 0));
    };
    cell numbers[] = {I(0x10FFFF), I(0x110000), I(-1), C(0xE9), F(65.9), F(-0.5), F(1114112.0),
                      F(__builtin_nan("")), P(97.0), cell{TYPE_NONE, 0, 0, 0}};
    const Expect expected[] = {V(C(0x10FFFF)), S(Script::out_of_range), S(Script::out_of_range),
                               V(C(0xE9)), V(C(65)), V(C(0)), S(Script::out_of_range),
                               S(Script::out_of_range), V(C(97)), S(Script::bad_to_arg)};
    for (size_t i = 0; i < sizeof numbers / sizeof numbers[0]; i++) {
        for (int a : {A_MAKE, A_TO}) {
            cell target{};
            auto fn = reinterpret_cast<Sig<A_MAKE>::fn>(entry(TYPE_CHAR, a));
            EXPECT_TRUE(matches(run([&] { return fn(&target, &numbers[i], TYPE_CHAR); }), expected[i]))
                << i << " " << describe(numbers[i]);
        }
    }
    struct Series { cell* spec; Expect expect; };
    const Series specs[] = {
        {text("abc"), V(C('a'))},
        {text("\xF0\x9F\x98\x80x"), V(C(0x1F600))},
        {text(""), S(Script::bad_to_arg)},
        {bytes("\xC3\xA9z"), V(C(0xE9))},
        {bytes("A"), V(C('A'))},
        {bytes(""), S(Script::bad_to_arg)},
        {bytes("\xE2\x82"), S(Script::bad_to_arg)},  // cut short
    };
    for (const Series& s : specs) {
        cell target{};
        EXPECT_TRUE(matches(run([&] { return get<A_TO>(TYPE_CHAR)(&target, s.spec, TYPE_CHAR); }), s.expect));
    }
    // A string whose head is past its tail holds no character.
    cell* moved = text("ab");
    moved->data1 = 2;
    cell target{};
    EXPECT_TRUE(matches(run([&] { return get<A_TO>(TYPE_CHAR)(&target, moved, TYPE_CHAR); }),
                        S(Script::bad_to_arg)));
}

TEST(Char, Compare) {
    cell a = C('a'), b = C('b'), n = I('a'), f = F(97.0), none{TYPE_NONE, 0, 0, 0};
    struct Case { cell* x; cell* y; int32_t op; int32_t expected; };
    const Case cases[] = {
        {&a, &a, OP_EQUAL, 0},           {&a, &b, OP_LESSER, -1},
        {&b, &a, OP_SORT, 1},            {&a, &n, OP_EQUAL, 0},
        {&a, &n, OP_STRICT_EQUAL, 1},    {&a, &n, OP_FIND, 1},
        {&a, &f, OP_EQUAL, NOT_COMPARABLE}, {&a, &none, OP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(get<A_COMPARE>(TYPE_CHAR)(c.x, c.y, c.op), c.expected) << c.op;
}

TEST(Char, FormAndMold) {
    struct Case { int32_t cp; bool all; const char* molded; };
    const Case cases[] = {
        {'a', false, "#\"a\""},
        {0, false, "#\"^@\""},
        {9, false, "#\"^-\""},
        {10, false, "#\"^/\""},
        {0x1B, false, "#\"^[\""},
        {0x1C, false, "#\"^\\\""},
        {0x1E, false, "#\"^(1E)\""},
        {0x1F, false, "#\"^_\""},
        {'"', false, "#\"^\"\""},
        {'^', false, "#\"^^\""},
        {0x7F, false, "#\"^~\""},
        {0x85, false, "#\"^(85)\""},
        {0xE9, false, "#\"\xC3\xA9\""},
        {0xE9, true, "#\"^(E9)\""},
        {0x10FFFF, true, "#\"^(10FFFF)\""},
        {0x1F600, false, "#\"\xF0\x9F\x98\x80\""},
    };
    for (const Case& c : cases) {
        TextOut o;
        cell v = C(c.cp);
        int32_t rest = get<A_MOLD>(TYPE_CHAR)(&v, &o.out, false, c.all, false, nullptr, 100, 0);
        EXPECT_EQ(o.text(), c.molded) << c.cp;
        // The limit goes down by the characters written.
        EXPECT_EQ(rest, 100 - (int32_t)string::length_of(&o.out)) << c.cp;
    }
    TextOut o;
    cell e = C(0xE9), tab = C(9);
    EXPECT_EQ(get<A_FORM>(TYPE_CHAR)(&e, &o.out, nullptr, 10), 9);
    get<A_FORM>(TYPE_CHAR)(&tab, &o.out, nullptr, 9);
    EXPECT_EQ(o.text(), "\xC3\xA9\t");
}
