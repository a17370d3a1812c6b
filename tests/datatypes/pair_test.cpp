// pair!, point2D! and point3D! through the action table: integer arithmetic
// that turns into points where the integers end, tolerant point equality,
// make from every spec, text, fields and rounding.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "runtime/words.h"
#include "tests/datatypes/number.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using namespace numbers_test;
using error::Script;

namespace {

cell PR(int32_t x, int32_t y) {
    cell c;
    return *pair::make_at(&c, x, y);
}
cell P2(float x, float y) {
    cell c;
    return *point2D::make_in(&c, x, y);
}
cell P3(float x, float y, float z) {
    cell c;
    return *point3D::make_in(&c, x, y, z);
}

// What a math action gave, as text (the error's id when it raised).
std::string math_text(int action, cell a, cell b) {
    Outcome o = math(action, a, b);
    if (!o.raised) return molded(o.value) + " " + (o.value.type() == TYPE_PAIR ? "pair" : "point");
    if (o.math == error::Math::zero_divide) return "zero-divide";
    if (o.math == error::Math::overflow) return "overflow";
    switch (o.script) {
    case Script::invalid_type: return "invalid-type";
    case Script::not_related: return "not-related";
    case Script::invalid_arg: return "invalid-arg";
    default: return "other error";
    }
}

}  // namespace

class PairTest : public WindowTest {};

TEST_F(PairTest, Arithmetic) {
    const double INF = HUGE_VAL;
    struct Case { int action; cell a, b; const char* text; };
    const Case cases[] = {
        {A_MULTIPLY, PR(10, 20), F(1.5), "(15, 30) point"},
        {A_MULTIPLY, PR(10, 20), I(2), "20x40 pair"},
        {A_ADD, PR(10, 20), F(2.7), "12x22 pair"},
        {A_ADD, PR(2147483647, 0), I(1), "(2.147484e9, 1) point"},
        {A_MULTIPLY, PR(65536, 1), PR(65536, 1), "(4.294967e9, 1) point"},
        {A_DIVIDE, PR(10, 20), I(3), "3x6 pair"},
        {A_DIVIDE, PR(10, 20), F(4.0), "(2.5, 5) point"},
        {A_REMAINDER, PR(10, 20), I(3), "1x2 pair"},
        {A_DIVIDE, PR(10, 20), PR(0, 1), "zero-divide"},
        {A_DIVIDE, PR(INT32_MIN, 4), I(-1), "(2.147484e9, -4) point"},
        {A_SUBTRACT, PR(1, 2), PR(3, 5), "-2x-3 pair"},
        {A_ADD, PR(1, 2), P2(0.5f, 0.5f), "(1.5, 2.5) point"},
        {A_AND, PR(6, 3), I(5), "4x1 pair"},
        {A_XOR, PR(6, 3), PR(1, 1), "7x2 pair"},
        {A_ADD, PR(1, 2), F(INF), "invalid-arg"},
        {A_ADD, PR(1, 2), cell{TYPE_STRING, 0, 0, 0}, "invalid-type"},
        // number first: swapped (subtract as an added negation)
        {A_ADD, I(1), PR(1, 2), "2x3 pair"},
        {A_SUBTRACT, I(1), PR(1, 2), "0x-1 pair"},
        {A_DIVIDE, I(1), PR(1, 2), "not-related"},
        {A_MULTIPLY, F(2.0), PR(1, 2), "(2, 4) point"},
        {A_SUBTRACT, F(2.0), PR(1, 2), "not-related"},
        // points
        {A_MULTIPLY, P2(1, 2), F(2.5), "(2.5, 5) point"},
        {A_ADD, P2(1, 2), PR(1, 1), "(2, 3) point"},
        {A_ADD, P3(1, 2, 3), PR(1, 1), "invalid-type"},
        {A_ADD, P3(1, 2, 3), P3(1, 1, 1), "(2, 3, 4) point"},
        {A_DIVIDE, P2(1, 2), I(0), "(1.#INF, 1.#INF) point"},
        {A_REMAINDER, P2(5, 7), I(4), "(1, 3) point"},
        {A_SUBTRACT, I(10), P2(1, 2), "(9, 8) point"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(math_text(c.action, c.a, c.b), c.text)
            << "action " << c.action << " on " << molded(c.a) << " and " << molded(c.b);
}

TEST_F(PairTest, CompareAndText) {
    cell a = PR(1, 2), b = PR(1, 3), c = PR(2, 0), d = PR(1, 100);
    auto cmp = get<A_COMPARE>(TYPE_PAIR);
    EXPECT_EQ(cmp(&a, &b, OP_LESSER), -1);  // y decides when x is equal
    EXPECT_EQ(cmp(&c, &d, OP_GREATER), 1);
    EXPECT_EQ(cmp(&a, &a, OP_EQUAL), 0);
    cell i = I(1);
    EXPECT_EQ(cmp(&a, &i, OP_EQUAL), NOT_COMPARABLE);

    cell p = P2(1, 2), q = P2(1.0000001f, 2);
    auto cmp2 = get<A_COMPARE>(TYPE_POINT2D);
    EXPECT_EQ(cmp2(&p, &q, OP_EQUAL), 0);
    EXPECT_EQ(cmp2(&p, &q, OP_STRICT_EQUAL), 1);
    EXPECT_EQ(cmp2(&p, &q, OP_SAME), 1);
    EXPECT_EQ(cmp2(&p, &a, OP_EQUAL), 0);  // 1x2 converted
    EXPECT_EQ(cmp(&a, &p, OP_EQUAL), 0);
    EXPECT_EQ(cmp(&a, &p, OP_STRICT_EQUAL), 1);
    cell r = P2(1, 3);
    EXPECT_EQ(cmp2(&p, &r, OP_LESSER), -1);
    cell s = P3(1, 2, 3);
    EXPECT_EQ(cmp2(&p, &s, OP_EQUAL), NOT_COMPARABLE);

    EXPECT_EQ(molded(PR(10, 20)), "10x20");
    EXPECT_EQ(formed(PR(-5, 0)), "-5x0");
    EXPECT_EQ(molded(P2(0.1f, 0.2f)), "(0.1, 0.2)");
    EXPECT_EQ(molded(P3(1, 2.5f, -3)), "(1, 2.5, -3)");
    EXPECT_EQ(formed(P2(1234567.0f, 0.0f)), "(1234567, 0)");
}

TEST_F(PairTest, MakeAndTo) {
    auto blk = [](std::initializer_list<cell> cells) {
        cell* b = block::push_new(4);
        for (const cell& c : cells) block::append_cell_copy(series::node_of(b), &c);
        return b;
    };
    auto make = [](uint8_t type, cell spec) {
        return run([&] {
            cell* target = stack::push_cell();
            return get<A_MAKE>(type)(target, &spec, type);
        });
    };
    auto text = [&](uint8_t type, cell spec) {
        Outcome o = make(type, spec);
        if (!o.raised) return molded(o.value);
        if (o.script == Script::bad_to_arg) return std::string("bad-to-arg");
        if (o.script == Script::invalid_arg) return std::string("invalid-arg");
        // syntax errors carry no script id
        if (o.script == Script::none && cell::type_of(&error::thrown) == TYPE_ERROR)
            return std::string("malconstruct");
        return std::string("other");
    };
    EXPECT_EQ(text(TYPE_PAIR, *blk({I(1), F(2.7)})), "1x2");
    EXPECT_EQ(text(TYPE_PAIR, *blk({I(1), F(2.7), I(9)})), "1x2");
    EXPECT_EQ(text(TYPE_PAIR, *blk({I(1)})), "malconstruct");
    EXPECT_EQ(text(TYPE_PAIR, *blk({I(1), cell{TYPE_NONE, 0, 0, 0}})), "malconstruct");
    EXPECT_EQ(text(TYPE_PAIR, I(7)), "7x7");
    EXPECT_EQ(text(TYPE_PAIR, F(-2.9)), "-2x-2");
    EXPECT_EQ(text(TYPE_PAIR, F(1e20)), "invalid-arg");
    EXPECT_EQ(text(TYPE_PAIR, P2(3.9f, -1.5f)), "3x-1");
    EXPECT_EQ(text(TYPE_PAIR, P2(HUGE_VALF, 0)), "invalid-arg");
    EXPECT_EQ(text(TYPE_PAIR, cell{TYPE_NONE, 0, 0, 0}), "bad-to-arg");

    EXPECT_EQ(text(TYPE_POINT2D, *blk({I(1), F(2.5)})), "(1, 2.5)");
    EXPECT_EQ(text(TYPE_POINT3D, *blk({I(1), F(2.5)})), "(1, 2.5, 0)");
    EXPECT_EQ(text(TYPE_POINT3D, *blk({I(1)})), "malconstruct");
    EXPECT_EQ(text(TYPE_POINT3D, PR(3, 4)), "(3, 4, 0)");
    EXPECT_EQ(text(TYPE_POINT3D, P2(3, 4)), "(3, 4, 0)");
    EXPECT_EQ(text(TYPE_POINT2D, P3(3, 4, 5)), "bad-to-arg");
    EXPECT_EQ(text(TYPE_POINT2D, F(0.5)), "(0.5, 0.5)");
}

TEST_F(PairTest, FieldsPickReverseRound) {
    cell x, y, z;
    word::make_at(words::sym_x, &x);
    word::make_at(words::sym_y, &y);
    word::make_at(words::sym_z, &z);
    cell* path = block::push_new(1);
    cell p = PR(10, 20);
    auto ep = get<A_EVAL_PATH>(TYPE_PAIR);
    EXPECT_TRUE(same_value(*ep(&p, &y, nullptr, path, nullptr, nullptr, 1, false, false, true, false), I(20)));
    cell v = I(5);
    ep(&p, &x, &v, path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(molded(p), "5x20");
    cell f = F(1.5);
    EXPECT_EQ(script_error([&] { ep(&p, &x, &f, path, nullptr, nullptr, 1, false, false, true, false); }),
              Script::invalid_type);
    EXPECT_EQ(script_error([&] { ep(&p, &z, nullptr, path, nullptr, nullptr, 1, false, false, true, false); }),
              Script::invalid_path);
    EXPECT_EQ(script_error([&] { get<A_PICK>(TYPE_PAIR)(&p, 3, nullptr); }), Script::out_of_range);

    cell q = P3(1, 2, 3);
    auto ep3 = get<A_EVAL_PATH>(TYPE_POINT3D);
    EXPECT_TRUE(same_value(*ep3(&q, &z, nullptr, path, nullptr, nullptr, 1, false, false, true, false), F(3.0)));
    ep3(&q, &y, &f, path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(molded(q), "(1, 1.5, 3)");
    cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(script_error([&] { ep3(&q, &x, &none, path, nullptr, nullptr, 1, false, false, true, false); }),
              Script::invalid_type);

    cell r = PR(1, 2);
    EXPECT_EQ(molded(*get<A_REVERSE>(TYPE_PAIR)(&r, nullptr, nullptr)), "2x1");
    cell r3 = P3(1, 2, 3);
    EXPECT_EQ(molded(*get<A_REVERSE>(TYPE_POINT3D)(&r3, nullptr, nullptr)), "(3, 2, 1)");

    stack::push_cell();  // the result slot: refinement arguments lie above it
    cell* ten = stack::push(&(v = I(10)));
    cell a = PR(17, 23);
    EXPECT_EQ(molded(*get<A_ROUND>(TYPE_PAIR)(&a, ten, false, false, false, false, false, false)), "20x20");
    cell* by = stack::push(&(v = PR(10, 5)));
    cell b = PR(17, 23);
    EXPECT_EQ(molded(*get<A_ROUND>(TYPE_PAIR)(&b, by, false, false, false, false, false, false)), "20x25");
    cell c = P2(1.26f, 2.5f);
    cell* tenth = stack::push(&(v = F(0.1)));
    EXPECT_EQ(molded(*get<A_ROUND>(TYPE_POINT2D)(&c, tenth, false, false, false, false, false, false)),
              "(1.3, 2.5)");
    cell d = P2(1.5f, -2.5f);
    EXPECT_EQ(molded(*get<A_ROUND>(TYPE_POINT2D)(&d, series::ABSENT, false, false, false, false, false, false)),
              "(2, -3)");
}
