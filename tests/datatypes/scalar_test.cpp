// unset!, none! and logic! through the action table.
#include <gtest/gtest.h>

#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "platform/random.h"
#include "runtime/sys.h"
#include "tests/datatypes/text.h"

using namespace datatype;

namespace {

cell value_of(uint8_t type, uint32_t data1 = 0) { return cell{type, data1, 0, 0}; }

TEST(Scalars, FormAndMoldThroughTheTable) {
    struct Case { cell value; bool mold, all; const char* text; };
    const Case cases[] = {
        {value_of(TYPE_UNSET), false, false, ""},
        {value_of(TYPE_UNSET), true, false, "unset"},
        {value_of(TYPE_UNSET), true, true, "#(unset)"},
        {value_of(TYPE_NONE), false, false, "none"},
        {value_of(TYPE_NONE), true, false, "none"},
        {value_of(TYPE_NONE), true, true, "#(none)"},
        {value_of(TYPE_LOGIC, 1), false, false, "true"},
        {value_of(TYPE_LOGIC, 0), false, false, "false"},
        {value_of(TYPE_LOGIC, 1), true, false, "true"},
        {value_of(TYPE_LOGIC, 0), true, false, "false"},
        {value_of(TYPE_LOGIC, 1), true, true, "#(true)"},
        {value_of(TYPE_LOGIC, 0), true, true, "#(false)"},
    };
    for (const Case& c : cases) {
        TextOut o;
        cell v = c.value;
        int32_t rest = c.mold ? get<A_MOLD>(v.type())(&v, &o.out, false, c.all, false, nullptr, NO_LIMIT, 0)
                              : get<A_FORM>(v.type())(&v, &o.out, nullptr, NO_LIMIT);
        EXPECT_EQ(o.text(), c.text);
        // The limit goes down by exactly what was appended.
        EXPECT_EQ(rest, NO_LIMIT - (int32_t)o.text().size()) << c.text;
    }
}

TEST(Scalars, Compare) {
    cell u = value_of(TYPE_UNSET), n = value_of(TYPE_NONE);
    cell t = value_of(TYPE_LOGIC, 1), f = value_of(TYPE_LOGIC, 0), i = value_of(TYPE_INTEGER);
    struct Case { cell* a; cell* b; int32_t op; int32_t expected; };
    const Case cases[] = {
        {&u, &u, OP_EQUAL, 0},         {&u, &u, OP_SORT, 0},          {&u, &u, OP_LESSER, -2},
        {&u, &n, OP_EQUAL, -2},        {&n, &n, OP_STRICT_EQUAL, 0},  {&n, &n, OP_FIND, 0},
        {&n, &n, OP_GREATER, -2},      {&n, &u, OP_EQUAL, -2},        {&n, &i, OP_NOT_EQUAL, -2},
        {&t, &t, OP_EQUAL, 0},         {&t, &f, OP_EQUAL, 1},         {&t, &f, OP_SORT, 1},
        {&f, &t, OP_CASE_SORT, -1},    {&t, &f, OP_LESSER, -2},       {&t, &i, OP_EQUAL, -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(get<A_COMPARE>(c.a->type())(c.a, c.b, c.op), c.expected)
            << (int)c.a->type() << " " << (int)c.b->type() << " op " << c.op;

    // As truth values: not comparable counts as different, and ordering raises.
    EXPECT_FALSE(actions::compare(&n, &i, OP_EQUAL));
    EXPECT_TRUE(actions::compare(&n, &i, OP_NOT_EQUAL));
    EXPECT_TRUE(actions::compare(&n, &n, OP_EQUAL));
    for (cell* a : {&n, &t}) {
        error::last_script = error::Script::none;
        EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, [&] { actions::compare(a, &f, OP_LESSER); }),
                  sys::THROW_ERROR);
        sys::clear_throw();
        EXPECT_EQ(error::last_script, error::Script::invalid_compare);
    }
}

TEST(Scalars, CompareTypedSettlesLogicOnlyAgainstLogic) {
    cell t = value_of(TYPE_LOGIC, 1), f = value_of(TYPE_LOGIC, 0);
    cell one{TYPE_INTEGER, 0, 1, 0};
    one.data1 = 0;  // payload word 1 of an integer is not its value
    EXPECT_EQ(actions::compare_typed(&t, &f, OP_EQUAL), 1);
    EXPECT_EQ(actions::compare_typed(&f, &f, OP_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(&t, &one, OP_EQUAL), NOT_COMPARABLE);
}

TEST_F(WindowTest, MakeAndToOfUnsetAndNonePushTheirValue) {
    cell spec{TYPE_INTEGER, 0, 5, 0};
    for (uint8_t type : {TYPE_UNSET, TYPE_NONE})
        for (int a : {A_MAKE, A_TO}) {
            auto fn = reinterpret_cast<Sig<A_MAKE>::fn>(entry(type, a));
            cell* before = stack::arguments.top;
            cell* r = fn(nullptr, &spec, type);
            EXPECT_EQ(r, before);
            EXPECT_EQ(r->header, type);
        }
}

TEST(Scalars, LogicMakeAndTo) {
    auto dbl = [](uint8_t type, double d) {
        cell c{type, 0, 0, 0};
        cell::set_float(&c, d);
        return c;
    };
    struct Case { cell spec; bool make_gives, to_gives; };
    const Case cases[] = {
        {cell{TYPE_INTEGER, 0, 0, 0}, false, true},  // to: only none and false are false
        {cell{TYPE_INTEGER, 0, 7, 0}, true, true},
        {dbl(TYPE_FLOAT, 0.0), false, true},
        {dbl(TYPE_FLOAT, -0.0), false, true},
        {dbl(TYPE_FLOAT, __builtin_nan("")), true, true},
        {dbl(TYPE_PERCENT, 0.5), true, true},
        {value_of(TYPE_NONE), false, false},
        {value_of(TYPE_UNSET), true, true},
        {value_of(TYPE_LOGIC, 0), false, false},
        {value_of(TYPE_LOGIC, 1), true, true},
    };
    for (const Case& c : cases) {
        cell spec = c.spec, target{};
        cell* made = get<A_MAKE>(TYPE_LOGIC)(&target, &spec, TYPE_LOGIC);
        cell* converted = get<A_TO>(TYPE_LOGIC)(&target, &spec, TYPE_LOGIC);
        ASSERT_EQ(made->type(), TYPE_LOGIC);
        EXPECT_EQ(made->data1 != 0, c.make_gives) << (int)spec.type();
        EXPECT_EQ(converted->data1 != 0, c.to_gives) << (int)spec.type();
    }
}

TEST_F(WindowTest, LogicBitwiseActionsWorkOnTheWindow) {
    struct Case { int action; uint32_t a, b, expected; };
    const Case cases[] = {
        {A_AND, 1, 1, 1}, {A_AND, 1, 0, 0}, {A_OR, 0, 1, 1}, {A_OR, 0, 0, 0},
        {A_XOR, 1, 1, 0}, {A_XOR, 1, 0, 1},
    };
    for (const Case& c : cases) {
        stack::clear_args();
        cell a = value_of(TYPE_LOGIC, c.a), b = value_of(TYPE_LOGIC, c.b);
        stack::push(&a);
        stack::push(&b);
        cell* r = reinterpret_cast<WindowFn>(entry(TYPE_LOGIC, c.action))();
        EXPECT_EQ(r, stack::args());
        EXPECT_EQ(r->data1, c.expected) << c.action;
    }
    cell t = value_of(TYPE_LOGIC, 1);
    EXPECT_EQ(get<A_COMPLEMENT>(TYPE_LOGIC)(&t)->data1, 0u);

    // A second argument that is not logic! raises expect-arg.
    stack::clear_args();
    cell a = value_of(TYPE_LOGIC, 1), one{TYPE_INTEGER, 0, 1, 0};
    stack::push(&a);
    stack::push(&one);
    error::last_script = error::Script::none;
    EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, [] { logic::and_(); }), sys::THROW_ERROR);
    sys::clear_throw();
    EXPECT_EQ(error::last_script, error::Script::expect_arg);
}

TEST_F(WindowTest, NoneActsAsAnEmptySeries) {
    cell n = value_of(TYPE_NONE), v = value_of(TYPE_LOGIC, 1);
    stack::push(&n);
    stack::push(&v);
    EXPECT_EQ(get<A_LENGTH_OF>(TYPE_NONE)(&n), -1);
    stack::arg(0)->header = TYPE_INTEGER;  // the result slot is overwritten by each
    EXPECT_EQ(get<A_FIND>(TYPE_NONE)(&n, &v, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0)->type(),
              TYPE_NONE);
    stack::arg(0)->header = TYPE_INTEGER;
    EXPECT_EQ(get<A_SELECT>(TYPE_NONE)(&n, &v, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0)->type(),
              TYPE_NONE);
    for (auto fn : {+[](cell* s) { return get<A_CLEAR>(TYPE_NONE)(s); },
                    +[](cell* s) { return get<A_TAKE>(TYPE_NONE)(s, nullptr, false, false); },
                    +[](cell* s) { return get<A_REMOVE>(TYPE_NONE)(s, nullptr, nullptr); }}) {
        stack::arg(0)->header = TYPE_INTEGER;
        cell* r = fn(&n);
        EXPECT_EQ(r, stack::args());
        EXPECT_EQ(r->type(), TYPE_NONE);
    }
}

TEST_F(WindowTest, TruthTests) {
    struct Case { cell value; int32_t truthy; };
    const Case cases[] = {
        {value_of(TYPE_NONE), 0},        {value_of(TYPE_LOGIC, 0), 0},
        {value_of(TYPE_LOGIC, 1), 1},    {cell{TYPE_INTEGER, 0, 0, 0}, 1},
        {value_of(TYPE_BLOCK), 1},
    };
    for (const Case& c : cases) {
        stack::clear_args();
        stack::push(&c.value);
        EXPECT_EQ(logic::check_last(), c.truthy);
        EXPECT_EQ(logic::is_top_false(), !c.truthy);
        EXPECT_EQ(logic::is_true(), c.truthy);
        EXPECT_EQ(logic::is_false(), !c.truthy);
        EXPECT_EQ(logic::check_arg(&c.value, true, nullptr), c.truthy);
    }

    // unset is true, except where a value was required.
    stack::clear_args();
    unset::push();
    EXPECT_EQ(logic::is_top_false(), 0);
    EXPECT_EQ(logic::is_true(), 1);
    EXPECT_EQ(logic::check_arg(stack::args(), false, nullptr), 1);
    struct Raise { int32_t (*test)(); error::Script id; };
    for (const Raise& r : {Raise{[] { return logic::check_last(); }, error::Script::no_return},
                           Raise{[] { return logic::check_arg(stack::args(), true, nullptr); },
                                 error::Script::no_value}}) {
        error::last_script = error::Script::none;
        EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, [&] { r.test(); }), sys::THROW_ERROR);
        sys::clear_throw();
        EXPECT_EQ(error::last_script, r.id);
    }
}

TEST_F(WindowTest, WritersSetTheResultSlotOrPush) {
    cell filler{TYPE_INTEGER | CELL_NEW_LINE, 0, 9, 0};
    stack::push(&filler);
    EXPECT_EQ(unset::push_last()->header, (uint32_t)TYPE_UNSET);  // bare header
    EXPECT_EQ(none::push_last(), stack::args());
    EXPECT_EQ(stack::args()->header, (uint32_t)TYPE_NONE);
    cell* b = logic::box(true);
    EXPECT_EQ(b, stack::args());
    EXPECT_EQ(logic::get(b), 1u);
    cell* pushed = logic::push(false);
    EXPECT_EQ(pushed, stack::get_top());
    EXPECT_EQ(pushed->header, (uint32_t)TYPE_LOGIC);
    EXPECT_EQ(logic::get(pushed), 0u);
    cell* d = datatype::push(TYPE_BLOCK);
    EXPECT_EQ(d->header, (uint32_t)TYPE_DATATYPE);
    EXPECT_EQ(d->data1, (uint32_t)TYPE_BLOCK);
    EXPECT_EQ(unset::unset_cell.header, (uint32_t)TYPE_UNSET);
    EXPECT_EQ(none::none_cell.header, (uint32_t)TYPE_NONE);
    EXPECT_EQ(logic::get(&logic::true_cell), 1u);
    EXPECT_EQ(logic::get(&logic::false_cell), 0u);
}

TEST(Scalars, LogicRandomSeedsAndDraws) {
    namespace rnd = platform::random;
    // Seeding leaves unset and restarts the generator from the value's 0/1.
    cell v = value_of(TYPE_LOGIC, 1);
    EXPECT_EQ(get<A_RANDOM>(TYPE_LOGIC)(&v, true, false, false)->header, (uint32_t)TYPE_UNSET);
    int32_t first = rnd::next();
    rnd::seed(1);
    EXPECT_EQ(rnd::next(), first);

    // A draw is true when above 0x3FFFFFFF.
    for (int i = 0; i < 20; i++) {
        rnd::seed(i);
        bool expected = rnd::next() > 0x3FFFFFFF;
        rnd::seed(i);
        cell x = value_of(TYPE_LOGIC, 0);
        EXPECT_EQ(get<A_RANDOM>(TYPE_LOGIC)(&x, false, false, false)->data1, expected ? 1u : 0u);
    }
    cell s = value_of(TYPE_LOGIC, 0);
    EXPECT_EQ(get<A_RANDOM>(TYPE_LOGIC)(&s, false, true, false)->type(), TYPE_LOGIC);
}

}  // namespace
