// integer! through the action table: arithmetic with its float promotions and
// errors, power, rounding, conversions, comparison and text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "platform/random.h"
#include "tests/datatypes/number.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using namespace numbers_test;
using error::Math;
using error::Script;

namespace {

constexpr int32_t MIN = INT32_MIN;
constexpr int32_t MAX = INT32_MAX;

// A binary! of the given bytes, pushed on the argument stack (which roots it).
cell* binary_of(const std::string& bytes) {
    memory::Node* node = memory::alloc_bytes((int32_t)bytes.size() + 1);
    memory::Buffer* b = node->buffer;
    memcpy(b->head, bytes.data(), bytes.size());
    b->tail = b->head + bytes.size();
    cell c;
    series::make_at(&c, TYPE_BINARY, node, 0);
    return stack::push(&c);
}

// A string! holding UTF-8 text, pushed on the argument stack.
cell* string_of(const std::string& text) {
    return unicode::load_utf8_new((const uint8_t*)text.data(), (uint32_t)text.size(),
                                  stack::push_cell());
}

cell issue_of(const char* spelling) {
    return cell{TYPE_ISSUE, 0, (uint32_t)symbol::make(spelling), (uint32_t)-1};
}

}  // namespace

TEST(Integer, ArithmeticPromotesAndRaises) {
    struct Case { int action; cell a, b; Expect expect; };
    const double big = (double)((int64_t)MAX * MAX);
    const Case cases[] = {
        // 32-bit overflow gives the exact result as a float
        {A_ADD, I(MAX), I(1), V(F(2147483648.0))},
        {A_ADD, I(MIN), I(-1), V(F(-2147483649.0))},
        {A_SUBTRACT, I(MIN), I(1), V(F(-2147483649.0))},
        {A_SUBTRACT, I(0), I(MIN), V(F(2147483648.0))},
        {A_MULTIPLY, I(65536), I(65536), V(F(4294967296.0))},
        {A_MULTIPLY, I(MIN), I(-1), V(F(2147483648.0))},
        {A_MULTIPLY, I(MAX), I(MAX), V(F(big))},
        {A_ADD, I(2), I(3), V(I(5))},
        {A_SUBTRACT, I(MIN), I(-1), V(I(MIN + 1))},
        {A_MULTIPLY, I(-46340), I(46340), V(I(-2147395600))},
        // division: uneven gives a float, even stays integer
        {A_DIVIDE, I(7), I(2), V(F(3.5))},
        {A_DIVIDE, I(-7), I(2), V(F(-3.5))},
        {A_DIVIDE, I(6), I(2), V(I(3))},
        {A_DIVIDE, I(-6), I(3), V(I(-2))},
        {A_DIVIDE, I(MIN), I(1), V(I(MIN))},
        {A_DIVIDE, I(MIN), I(2), V(I(-1073741824))},
        {A_DIVIDE, I(1), I(0), M(Math::zero_divide)},
        {A_DIVIDE, I(0), I(0), M(Math::zero_divide)},
        {A_DIVIDE, I(MIN), I(-1), M(Math::overflow)},
        // remainder keeps the dividend's sign
        {A_REMAINDER, I(-7), I(2), V(I(-1))},
        {A_REMAINDER, I(7), I(-2), V(I(1))},
        {A_REMAINDER, I(MIN), I(3), V(I(-2))},
        {A_REMAINDER, I(5), I(0), M(Math::zero_divide)},
        {A_REMAINDER, I(MIN), I(-1), M(Math::overflow)},
        // bit operations
        {A_AND, I(12), I(10), V(I(8))},
        {A_OR, I(12), I(10), V(I(14))},
        {A_XOR, I(12), I(10), V(I(6))},
        {A_AND, I(-1), I(MIN), V(I(MIN))},
        {A_XOR, I(-1), C(0x41), V(I(~0x41))},
        // mixing with the other number types
        {A_ADD, I(1), C('a'), V(I(98))},
        {A_ADD, I(1), F(0.5), V(F(1.5))},
        {A_DIVIDE, I(1), F(0.0), V(F(HUGE_VAL))},
        {A_ADD, I(1), P(0.5), V(F(1.5))},
        {A_ADD, I(1), T(2.0), V(T(3.0))},
        {A_AND, I(1), F(1.0), S(Script::cannot_use)},
        {A_ADD, I(1), cell{TYPE_NONE, 0, 0, 0}, S(Script::invalid_type)},
        // the later datatypes: refusals decided here, the rest not yet
        {A_DIVIDE, I(1), cell{TYPE_PAIR, 0, 0, 0}, S(Script::not_related)},
        {A_SUBTRACT, I(1), cell{TYPE_TUPLE, 0, 0, 0}, S(Script::not_related)},
        {A_DIVIDE, I(1), cell{TYPE_TUPLE, 0, 0, 0}, S(Script::not_related)},
        {A_MULTIPLY, I(1), cell{TYPE_DATE, 0, 0, 0}, S(Script::not_related)},
        {A_ADD, I(1), cell{TYPE_PAIR, 0, 0, 0}, V(cell{TYPE_PAIR, 0, 1, 1})},
        {A_ADD, I(1), cell{TYPE_DATE, (1970u << 17) | (1u << 12) | (1u << 7), 0, 0},
         V(cell{TYPE_DATE, (1970u << 17) | (1u << 12) | (2u << 7), 0, 0})},
        {A_ADD, I(1), cell{TYPE_MONEY, 0, 0, 0}, V(cell{TYPE_MONEY, 0, 0, 0x1000})},  // $1
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(math(c.action, c.a, c.b), c.expect))
            << "action " << c.action << ": " << describe(c.a) << " , " << describe(c.b);
}

TEST(Integer, DoMathWithoutResultCellTruncatesAndRefusesOverflow) {
    EXPECT_EQ(integer::do_math(7, 2, integer::MATH_DIVIDE, nullptr), 3);
    EXPECT_EQ(integer::do_math(-7, 2, integer::MATH_DIVIDE, nullptr), -3);
    Outcome o = run([] {
        integer::do_math(MAX, 1, integer::MATH_ADD, nullptr);
        return stack::args();
    });
    EXPECT_TRUE(o.raised);
    EXPECT_EQ(o.math, Math::overflow);
}

TEST(Integer, UnaryActions) {
    struct Case { int action; int32_t n; Expect expect; };
    const Case cases[] = {
        {A_ABSOLUTE, -5, V(I(5))},      {A_ABSOLUTE, MAX, V(I(MAX))},
        {A_ABSOLUTE, MIN, M(Math::overflow)},
        {A_NEGATE, 5, V(I(-5))},        {A_NEGATE, MIN + 1, V(I(MAX))},
        {A_NEGATE, MIN, M(Math::overflow)},
        {A_COMPLEMENT, 0, V(I(-1))},    {A_COMPLEMENT, MIN, V(I(MAX))},
    };
    for (const Case& c : cases) {
        Window w{I(c.n)};
        Outcome o = run([&] {
            if (c.action == A_ABSOLUTE) return get<A_ABSOLUTE>(TYPE_INTEGER)();
            if (c.action == A_NEGATE) return get<A_NEGATE>(TYPE_INTEGER)(w.arg(0));
            return get<A_COMPLEMENT>(TYPE_INTEGER)(w.arg(0));
        });
        EXPECT_TRUE(matches(o, c.expect)) << c.action << " " << c.n;
    }
    for (int32_t n : {0, 1, -1, 2, -2, MIN, MAX}) {
        cell v = I(n);
        EXPECT_EQ(get<A_IS_EVEN>(TYPE_INTEGER)(&v), n % 2 == 0) << n;
        EXPECT_EQ(get<A_IS_ODD>(TYPE_INTEGER)(&v), n % 2 != 0) << n;
    }
}

TEST(Integer, Power) {
    struct Case { int32_t base; cell exponent; Expect expect; };
    const Case cases[] = {
        {2, I(30), V(I(1073741824))},
        {2, I(31), V(F(2147483648.0))},
        {-2, I(31), V(I(MIN))},  // the last squaring would overflow but is not needed
        {0, I(0), V(I(1))},
        {-1, I(MAX), V(I(-1))},
        {3, I(40), V(F(std::pow(3.0, 40)))},
        {65536, I(2), V(F(4294967296.0))},
        {2, I(-1), V(F(0.5))},
        {4, F(0.5), V(F(2.0))},
        {2, cell{TYPE_NONE, 0, 0, 0}, S(Script::expect_arg)},
        {2, P(0.5), S(Script::expect_arg)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(math(A_POWER, I(c.base), c.exponent), c.expect))
            << c.base << " ** " << describe(c.exponent);
}

TEST(Integer, Round) {
    enum Flag { NONE = 0, EVEN = 1, DOWN = 2, HALF_DOWN = 4, FLOOR = 8, CEILING = 16, HALF_CEILING = 32 };
    struct Case { int32_t n; cell scale; bool to; int flags; Expect expect; };
    const Case cases[] = {
        {5, I(2), true, NONE, V(I(6))},
        {5, I(2), true, EVEN, V(I(4))},
        {7, I(2), true, EVEN, V(I(8))},
        {5, I(2), true, HALF_DOWN, V(I(4))},
        {-5, I(2), true, NONE, V(I(-6))},
        {-5, I(2), true, HALF_CEILING, V(I(-4))},
        {5, I(2), true, HALF_CEILING, V(I(6))},
        {7, I(5), true, NONE, V(I(5))},
        {8, I(5), true, NONE, V(I(10))},
        {9, I(5), true, DOWN, V(I(5))},
        {-9, I(5), true, DOWN, V(I(-5))},
        {-7, I(5), true, FLOOR, V(I(-10))},
        {7, I(5), true, CEILING, V(I(10))},
        {-7, I(5), true, CEILING, V(I(-5))},
        {1234, I(100), true, NONE, V(I(1200))},
        {5, I(-2), true, NONE, V(I(6))},  // the scale's magnitude
        {5, I(0), true, NONE, V(I(5))},
        {5, I(1), false, NONE, V(I(5))},
        // results that do not fit in 32 bits raise overflow; those that do are given
        {MAX, I(2), true, NONE, M(Math::overflow)},
        {MAX, I(2), true, CEILING, M(Math::overflow)},
        {MAX, I(2), true, FLOOR, V(I(MAX - 1))},
        {MAX, I(2), true, HALF_DOWN, V(I(MAX - 1))},
        {MIN, I(3), true, NONE, M(Math::overflow)},
        {MIN, I(3), true, DOWN, V(I(-2147483646))},
        {MIN, I(3), true, CEILING, V(I(-2147483646))},
        {MIN, I(2), true, NONE, V(I(MIN))},
        {MIN, I(1), false, NONE, V(I(MIN))},
        {5, I(MIN), true, NONE, M(Math::overflow)},
        // other scales round as floats and give the scale's type
        {5, F(2.0), true, NONE, V(F(6.0))},
        {7, F(0.5), true, NONE, V(F(7.0))},
        {5, cell{TYPE_MONEY, 0, 0, 0}, true, NONE, S(Script::not_related)},
    };
    for (const Case& c : cases) {
        Window w{I(c.n), c.scale};
        cell* scale = c.to ? w.arg(1) : (cell*)(intptr_t)-1;
        Outcome o = run([&] {
            return get<A_ROUND>(TYPE_INTEGER)(w.arg(0), scale, c.flags & EVEN, c.flags & DOWN,
                                              c.flags & HALF_DOWN, c.flags & FLOOR,
                                              c.flags & CEILING, c.flags & HALF_CEILING);
        });
        EXPECT_TRUE(matches(o, c.expect)) << c.n << " to " << describe(c.scale) << " flags " << c.flags;
    }
}

TEST(Integer, ToAndMake) {
    Window w{};
    const double nan = __builtin_nan("");
    struct Case { cell* spec; Expect expect; };
    cell specs[] = {
        F(2147483647.0), F(2147483647.5), F(-2147483648.0), F(-2147483648.5), F(-1.9), F(1.9),
        F(nan), F(HUGE_VAL), P(0.5),
        T(1.5), T(-1.5), T(-0.4), T(2.5), T(1e10),
        C('A'), I(-5),
        issue_of("ff"), issue_of("7FFFFFFF"), issue_of("FFFFFFFF"), issue_of("123456789"), issue_of("g1"),
        cell{TYPE_NONE, 0, 0, 0}, cell{TYPE_DATE, (1970u << 17) | (1u << 12) | (1u << 7), 0, 0},
        cell{TYPE_MONEY, 0, 0, 0},
    };
    const Expect expected[] = {
        V(I(MAX)), S(Script::type_limit), V(I(MIN)), S(Script::type_limit), V(I(-1)), V(I(1)),
        S(Script::type_limit), S(Script::type_limit), V(I(0)),
        V(I(2)), V(I(-2)), V(I(0)), V(I(3)), S(Script::type_limit),
        V(I(65)), V(I(-5)),
        V(I(255)), V(I(MAX)), V(I(-1)), S(Script::invalid_data), S(Script::invalid_data),
        S(Script::bad_to_arg), V(I(0)), V(I(0)),
    };
    static_assert(sizeof specs / sizeof specs[0] == sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < sizeof specs / sizeof specs[0]; i++) {
        cell target{};
        Outcome o = run([&] { return get<A_TO>(TYPE_INTEGER)(&target, &specs[i], TYPE_INTEGER); });
        EXPECT_TRUE(matches(o, expected[i])) << i << ": " << describe(specs[i]);
    }

    // Text: a sign, digits and ' separators, all of it, within 32 bits.
    struct Text { const char* text; Expect expect; };
    const Text texts[] = {
        {"123", V(I(123))}, {"-2147483648", V(I(MIN))}, {"2147483647", V(I(MAX))},
        {"+7", V(I(7))}, {"1'000'000", V(I(1000000))}, {"007", V(I(7))},
        {"2147483648", S(Script::bad_to_arg)}, {"-2147483649", S(Script::bad_to_arg)},
        {"99999999999999999999", S(Script::bad_to_arg)},
        {"", S(Script::bad_to_arg)}, {"-", S(Script::bad_to_arg)}, {"12a", S(Script::bad_to_arg)},
        {"'1", S(Script::bad_to_arg)}, {"1.5", S(Script::bad_to_arg)}, {" 1", S(Script::bad_to_arg)},
    };
    for (const Text& t : texts) {
        cell* s = string_of(t.text);
        cell target{};
        Outcome o = run([&] { return get<A_TO>(TYPE_INTEGER)(&target, s, TYPE_INTEGER); });
        EXPECT_TRUE(matches(o, t.expect)) << '"' << t.text << '"';
    }

    // Binary: up to four bytes from the head, big-endian.
    struct Bytes { std::string bytes; int32_t head; int32_t value; };
    const Bytes bytes[] = {
        {std::string("\x01\x02", 2), 0, 0x0102},
        {std::string("\x01\x02\x03\x04\x05", 5), 0, 0x01020304},
        {std::string("\x01\x02\x03\x04\x05", 5), 2, 0x030405},
        {std::string("\xFF\xFF\xFF\xFE", 4), 0, -2},
        {std::string(), 0, 0},
    };
    for (const Bytes& b : bytes) {
        cell* bin = binary_of(b.bytes);
        bin->data1 = (uint32_t)b.head;
        cell target{};
        EXPECT_TRUE(matches(run([&] { return get<A_TO>(TYPE_INTEGER)(&target, bin, TYPE_INTEGER); }),
                            V(I(b.value))));
    }

    // make also takes logic!
    cell t{TYPE_LOGIC, 1, 0, 0}, f{TYPE_LOGIC, 0, 0, 0}, target{};
    EXPECT_EQ(integer::get(get<A_MAKE>(TYPE_INTEGER)(&target, &t, TYPE_INTEGER)), 1);
    EXPECT_EQ(integer::get(get<A_MAKE>(TYPE_INTEGER)(&target, &f, TYPE_INTEGER)), 0);
    cell half = F(2.5);
    EXPECT_EQ(integer::get(get<A_MAKE>(TYPE_INTEGER)(&target, &half, TYPE_INTEGER)), 2);
}

TEST(Integer, Compare) {
    cell one = I(1), two = I(2), a = I(65), ch = C(65), f1 = F(1.0), t1 = T(1.0), none{TYPE_NONE, 0, 0, 0};
    cell nan = F(__builtin_nan(""));
    struct Case { cell* a; cell* b; int32_t op; int32_t expected; };
    const Case cases[] = {
        {&one, &one, OP_EQUAL, 0},          {&one, &two, OP_LESSER, -1},
        {&two, &one, OP_SORT, 1},           {&a, &ch, OP_EQUAL, 0},
        {&a, &ch, OP_STRICT_EQUAL, 1},      {&a, &ch, OP_FIND, 1},
        {&one, &f1, OP_EQUAL, 0},           {&one, &f1, OP_STRICT_EQUAL, 1},
        {&one, &t1, OP_EQUAL, 0},           {&two, &f1, OP_GREATER, 1},
        {&one, &none, OP_EQUAL, NOT_COMPARABLE},
        {&one, &nan, OP_LESSER, 1},         {&one, &nan, OP_GREATER, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(get<A_COMPARE>(TYPE_INTEGER)(c.a, c.b, c.op), c.expected)
            << describe(*c.a) << " vs " << describe(*c.b) << " op " << c.op;
    EXPECT_EQ(one.type(), TYPE_INTEGER);  // the promotion left the cell alone
}

TEST(Integer, FormAndMold) {
    for (int32_t n : {0, 7, -7, 123456789, MAX, MIN}) {
        for (bool mold : {false, true}) {
            TextOut o;
            cell v = I(n);
            int32_t rest = mold ? get<A_MOLD>(TYPE_INTEGER)(&v, &o.out, false, false, false, nullptr, 100, 0)
                                : get<A_FORM>(TYPE_INTEGER)(&v, &o.out, nullptr, 100);
            EXPECT_EQ(o.text(), std::to_string(n));
            EXPECT_EQ(rest, 100 - (int32_t)o.text().size());
        }
    }
}

TEST(Integer, Shift) {
    struct Case { int32_t data, bits; bool left, logical; int32_t expected; };
    const Case cases[] = {
        {-8, 1, false, false, -4},   {-8, 1, false, true, 2147483644},
        {1, 40, false, false, 0},    {-1, 40, false, false, -1},
        {1, 31, true, false, MIN},   {1, 32, true, false, 0},
        {-1, 31, false, true, 1},    {-1, 32, false, true, 0},
        {MIN, 31, false, false, -1}, {5, -3, true, false, 5},
        {-1, 1, true, false, -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(integer::shift(c.data, c.bits, c.left, c.logical), c.expected)
            << c.data << " " << c.bits << " " << c.left << c.logical;
}

TEST(Integer, Random) {
    Window w{I(10)};
    for (int32_t n : {10, -10, 1}) {
        for (int i = 0; i < 50; i++) {
            cell v = I(n);
            int32_t r = integer::get(get<A_RANDOM>(TYPE_INTEGER)(&v, false, false, false));
            if (n > 0) EXPECT_TRUE(r >= 1 && r <= n) << r;
            else EXPECT_TRUE(r >= n && r <= -1) << r;
        }
    }
    cell zero = I(0);
    EXPECT_EQ(integer::get(get<A_RANDOM>(TYPE_INTEGER)(&zero, false, false, false)), 0);
    // Seeding replays the sequence and leaves unset.
    cell seed = I(42);
    EXPECT_EQ(get<A_RANDOM>(TYPE_INTEGER)(&seed, true, false, false)->type(), TYPE_UNSET);
    cell a = I(1000000);
    int32_t first = integer::get(get<A_RANDOM>(TYPE_INTEGER)(&a, false, false, false));
    seed = I(42);
    get<A_RANDOM>(TYPE_INTEGER)(&seed, true, false, false);
    cell b = I(1000000);
    EXPECT_EQ(integer::get(get<A_RANDOM>(TYPE_INTEGER)(&b, false, false, false)), first);
}
