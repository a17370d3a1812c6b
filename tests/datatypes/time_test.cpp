// time!, percent! and triple! through the action table: clock text, make
// from blocks, the math exceptions to float!'s rules, fields and rounding.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/percent.h"
#include "datatypes/series.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/word.h"
#include "runtime/words.h"
#include "tests/datatypes/number.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using namespace numbers_test;
using error::Script;

namespace {

// A block of integers and floats on the argument stack (rooted there).
cell* numbers(std::initializer_list<double> xs, std::initializer_list<bool> is_float = {}) {
    cell* b = block::push_new((int32_t)xs.size());
    auto f = is_float.begin();
    for (double x : xs) {
        bool fl = f != is_float.end() && *f++;
        cell v = fl ? F(x) : I((int32_t)x);
        block::append_cell_copy(series::node_of(b), &v);
    }
    return b;
}

Outcome make_time(cell spec) {
    return run([&] {
        cell* target = stack::push_cell();
        return get<A_MAKE>(TYPE_TIME)(target, &spec, TYPE_TIME);
    });
}

cell word_of(int32_t symbol) {
    cell w;
    word::make_at(symbol, &w);
    return w;
}

}  // namespace

class TimeTest : public WindowTest {};

TEST_F(TimeTest, MoldAndForm) {
    struct Case { double seconds; const char* text; };
    const Case cases[] = {
        {0.0, "0:00:00"},          {3723.0, "1:02:03"},     {-30.0, "-0:00:30"},
        {36000.5, "10:00:00.5"},   {-5400.0, "-1:30:00"},   {5.5, "0:00:05.5"},
        {59.9999999, "0:01:00"},   {3599.9999999, "1:00:00"}, {1e-7, "0:00:00"},
        {360000.0, "100:00:00"},   {61.25, "0:01:01.25"},   {-1800.0, "-0:30:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(molded(T(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(formed(T(c.seconds)), c.text) << c.seconds;
    }
}

TEST_F(TimeTest, MakeAndTo) {
    struct Case { cell spec; Expect expect; };
    const Case cases[] = {
        {*numbers({-1, 30}), V(T(-5400.0))},
        {*numbers({1, -30}), S(Script::bad_to_arg)},
        {*numbers({1, 2, 3.5}, {false, false, true}), V(T(3723.5))},
        {*numbers({1.5, 2}, {true, false}), S(Script::bad_to_arg)},
        {*numbers({1, 2, 3, 4}), S(Script::bad_to_arg)},
        {*numbers({}), S(Script::bad_to_arg)},
        {I(90), V(T(90.0))},
        {F(1.5), V(T(1.5))},
        {P(0.5), V(T(0.5))},
        {T(7.0), V(T(7.0))},
        {cell{TYPE_NONE, 0, 0, 0}, S(Script::bad_to_arg)},
    };
    for (const Case& c : cases) EXPECT_TRUE(matches(make_time(c.spec), c.expect)) << describe(c.spec);
    EXPECT_EQ(molded(make_time(*numbers({-1, 30})).value), "-1:30:00");
}

TEST_F(TimeTest, Math) {
    struct Case { int action; cell a, b; Expect expect; };
    const Case cases[] = {
        {A_DIVIDE, T(3600), T(1800), V(F(2.0))},
        {A_DIVIDE, T(3600), I(2), V(T(1800))},
        {A_MULTIPLY, T(3600), T(3600), S(Script::not_related)},
        {A_MULTIPLY, T(60), I(3), V(T(180))},
        {A_ADD, T(60), T(30), V(T(90))},
        {A_ADD, T(60), I(1), V(T(61))},
        {A_SUBTRACT, T(60), P(0.5), V(T(59.5))},
        {A_SUBTRACT, T(60), cell{TYPE_DATE, 0, 0, 0}, S(Script::not_related)},
        {A_REMAINDER, T(100), T(60), V(T(40))},
        {A_ADD, T(60), cell{TYPE_STRING, 0, 0, 0}, S(Script::invalid_type)},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(matches(math(c.action, c.a, c.b), c.expect))
            << "action " << c.action << ": " << describe(c.a) << " , " << describe(c.b);
}

TEST_F(TimeTest, FieldsThroughPathsAndPick) {
    cell hour = word_of(words::sym_hour), minute = word_of(words::sym_minute);
    cell second = word_of(words::sym_second), other = word_of(words::sym_x);
    cell t = T(-1800.0);  // -0:30:00
    cell* path = block::push_new(1);
    auto read = [&](cell* element) {
        return *get<A_EVAL_PATH>(TYPE_TIME)(&t, element, nullptr, path, nullptr, nullptr, 1,
                                           false, false, true, false);
    };
    EXPECT_TRUE(same_value(read(&hour), I(0)));
    EXPECT_TRUE(same_value(read(&minute), I(30)));
    cell two = I(2);
    EXPECT_TRUE(same_value(read(&two), I(30)));
    EXPECT_EQ(script_error([&] { read(&other); }), Script::invalid_path);
    cell four = I(4);
    EXPECT_EQ(script_error([&] { read(&four); }), Script::invalid_path);

    // Writes change the cell in place.
    cell u = T(3723.0);  // 1:02:03
    auto write = [&](cell* element, cell v) {
        get<A_EVAL_PATH>(TYPE_TIME)(&u, element, &v, path, nullptr, nullptr, 1, false, false, true,
                                    false);
    };
    write(&hour, I(5));
    EXPECT_EQ(molded(u), "5:02:03");
    write(&minute, I(59));
    EXPECT_EQ(molded(u), "5:59:03");
    write(&second, F(7.5));
    EXPECT_EQ(molded(u), "5:59:07.5");
    EXPECT_EQ(script_error([&] { write(&hour, F(1.0)); }), Script::invalid_arg);

    struct Pick { double t; int32_t index; cell expected; };
    const Pick picks[] = {{3723.5, 1, I(1)}, {3723.5, 2, I(2)}, {3723.5, 3, F(3.5)}};
    for (const Pick& p : picks) {
        cell v = T(p.t);
        EXPECT_TRUE(same_value(*get<A_PICK>(TYPE_TIME)(&v, p.index, nullptr), p.expected));
    }
    cell v = T(1.0);
    EXPECT_EQ(script_error([&] { get<A_PICK>(TYPE_TIME)(&v, 4, nullptr); }), Script::out_of_range);
}

TEST_F(TimeTest, RoundAndParity) {
    cell v = T(3723.6);
    cell scale = I(60);
    stack::push_cell();  // the result slot: refinement arguments lie above it
    cell* s = stack::push(&scale);
    cell* r = get<A_ROUND>(TYPE_TIME)(&v, s, false, false, false, false, false, false);
    EXPECT_TRUE(same_value(*r, T(3720.0)));
    cell w = T(3723.6);
    r = get<A_ROUND>(TYPE_TIME)(&w, series::ABSENT, false, false, false, false, false, false);
    EXPECT_TRUE(same_value(*r, T(3724.0)));
    cell money{TYPE_MONEY, 0, 0, 0};
    cell* m = stack::push(&money);
    cell x = T(1.0);
    EXPECT_EQ(script_error([&] { get<A_ROUND>(TYPE_TIME)(&x, m, false, false, false, false, false, false); }),
              Script::not_related);

    struct Parity { double t; bool odd; };
    const Parity cases[] = {{3.0, true}, {4.0, false}, {62.0, false}, {2.9999999, true}, {-3.0, true}};
    for (const Parity& p : cases) {
        cell c = T(p.t);
        EXPECT_EQ(get<A_IS_ODD>(TYPE_TIME)(&c), p.odd) << p.t;
        EXPECT_EQ(get<A_IS_EVEN>(TYPE_TIME)(&c), !p.odd) << p.t;
    }
}

TEST_F(TimeTest, PercentAndTripleText) {
    struct Case { cell v; const char* text; };
    const Case cases[] = {
        {P(0.5), "50%"}, {P(0.123), "12.3%"}, {P(0.001), "0.1%"}, {P(0.75), "75%"},
        {P(-0.25), "-25%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(molded(c.v), c.text);
        EXPECT_EQ(formed(c.v), c.text);
    }
    EXPECT_TRUE(matches(math(A_ADD, P(0.5), P(0.25)), V(P(0.75))));
    EXPECT_EQ(molded(math(A_ADD, P(0.5), P(0.25)).value), "75%");

    cell t;
    triple::make_at(&t, -1, 0, 7);
    EXPECT_EQ(molded(t), "make triple! [-1 0 7]");
    EXPECT_EQ(formed(t), "make triple! [-1 0 7]");
    EXPECT_EQ(entry(TYPE_TRIPLE, A_ADD), nullptr);
}
