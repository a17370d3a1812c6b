// vector! through the action table: typed construction and its errors, the
// element widths, text forms, math with vectors and scalars, and the series
// actions over packed elements.
#include "datatypes/vector.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using error::Script;

namespace {

class VectorTest : public WindowTest {
protected:
    static cell I(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    static cell C(int32_t cp) {
        cell c;
        return *series::make_char(&c, cp);
    }
    static cell F(double d, uint8_t type = TYPE_FLOAT) {
        cell c{type, 0, 0, 0};
        cell::set_float(&c, d);
        return c;
    }
    static cell W(const char* name) {
        cell w;
        return *word::make_at(symbol::make(name), &w);
    }
    static cell* blk(std::initializer_list<cell> values) {
        cell* b = block::push_new((int32_t)values.size() + 1);
        for (const cell& v : values) block::append_cell_copy(series::node_of(b), &v);
        return b;
    }
    static cell* make(cell spec) {
        cell* s = stack::push(&spec);
        return get<A_MAKE>(TYPE_VECTOR)(stack::push_cell(), s, TYPE_VECTOR);
    }
    static std::string mold(cell* v) {
        TextOut o;
        actions::mold_typed(v, &o.out, false, false, false, nullptr, NO_LIMIT, 0);
        return o.text();
    }
    static std::string form(cell* v) {
        TextOut o;
        actions::form_typed(v, &o.out, nullptr, NO_LIMIT);
        return o.text();
    }
    static cell* absent() { return series::ABSENT; }
    // A window action on two values; the result cell.
    static cell math(int action, cell a, cell b) {
        stack::Arguments saved = stack::arguments;
        stack::arguments.window = stack::push(&a);
        stack::push(&b);
        auto fn = reinterpret_cast<WindowFn>(entry(a.type(), (uint32_t)action));
        cell r = *fn();
        stack::arguments = saved;
        stack::push(&r);  // keeps a new vector rooted for the test
        return r;
    }
    static cell pick(cell* v, int32_t i) {
        cell* r = stack::push(v);
        cell ic = I(i);
        return *get<A_PICK>(TYPE_VECTOR)(r, i, &ic);
    }
};

TEST_F(VectorTest, MakeAndMold) {
    struct Case { std::function<cell()> spec; const char* mold; };
    const Case cases[] = {
        {[] { return I(3); }, "make vector! [0 0 0]"},
        {[] { return *blk({}); }, "make vector! [integer! 32 []]"},
        {[] { return *blk({W("integer!"), I(16), I(2)}); }, "make vector! [integer! 16 [0 0]]"},
        {[] { return *blk({W("integer!"), I(8), *blk({I(127), I(128)})}); },
         "make vector! [integer! 8 [127 -128]]"},
        {[] { return *blk({W("integer!"), I(32), I(3), *blk({I(1)})}); }, "make vector! [1 0 0]"},
        {[] { return *blk({W("integer!"), I(32), I(1), *blk({I(1), I(2)})}); }, "make vector! [1 2]"},
        {[] { return *blk({W("float!"), I(32), *blk({F(1.5), F(0.1)})}); },
         "make vector! [float! 32 [1.5 0.1]]"},
        {[] { return *blk({W("float!"), I(64), *blk({F(0.1)})}); }, "make vector! [0.1]"},
        {[] { return *blk({W("percent!"), I(32), I(2)}); }, "make vector! [0% 0%]"},
        {[] { return *blk({W("percent!"), I(1)}); }, "make vector! [0%]"},
        {[] { return *blk({F(0.5, TYPE_PERCENT), F(0.25, TYPE_PERCENT)}); }, "make vector! [50% 25%]"},
        {[] { return *blk({C('a'), C('b')}); }, "make vector! [#\"a\" #\"b\"]"},
        {[] { return *blk({W("char!"), I(8), I(1)}); }, "make vector! [char! 8 [#\"^@\"]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(make(c.spec())), c.mold);
    EXPECT_EQ(form(make(*blk({C('a'), C('b')}))), "a b");
    EXPECT_EQ(form(make(*blk({I(1), I(-2)}))), "1 -2");
    cell* v = make(*blk({W("integer!"), I(8), *blk({I(127), I(128)})}));
    EXPECT_EQ(pick(v, 2).data2, (uint32_t)-128);
    cell* p = make(*blk({W("percent!"), I(32), I(2)}));
    EXPECT_EQ(series::unit_of(p), 8u);
}

TEST_F(VectorTest, MakeErrors) {
    auto err = [&](cell spec) { return script_error([&] { make(spec); }); };
    EXPECT_EQ(err(*blk({W("integer!"), I(12), I(2)})), Script::bad_make_arg);
    EXPECT_EQ(err(*blk({W("float!"), I(16), I(2)})), Script::bad_make_arg);
    EXPECT_EQ(err(*blk({W("string!"), I(8), I(2)})), Script::bad_make_arg);
    EXPECT_EQ(err(*blk({W("integer!")})), Script::bad_make_arg);
    EXPECT_EQ(err(*blk({W("integer!"), *blk({I(1)})})), Script::invalid_spec_field);
    EXPECT_EQ(err(*blk({W("integer!"), I(8), F(1.0)})), Script::invalid_spec_field);
    EXPECT_EQ(err(*blk({W("integer!"), I(8), I(1), I(2)})), Script::invalid_spec_field);
    EXPECT_EQ(err(*blk({cell{TYPE_NONE, 0, 0, 0}})), Script::invalid_type);
    EXPECT_EQ(err(*blk({I(1), F(2.0)})), Script::invalid_arg);
    // a negative count is out of range; a huge one is refused before it wraps
    EXPECT_EQ(err(I(-3)), Script::out_of_range);
    EXPECT_EQ(err(*blk({W("integer!"), I(32), I(-1)})), Script::out_of_range);
    EXPECT_EQ(internal_error([&] { make(*blk({W("float!"), I(64), I(0x7FFFFFFF)})); }),
              error::Internal::none);  // no-memory is a memory-module error
    EXPECT_EQ(internal_error([&] { make(*string::push_new(1)); }), error::Internal::not_done);
}

TEST_F(VectorTest, Math) {
    cell* v8 = make(*blk({W("integer!"), I(8), *blk({I(127), I(1)})}));
    cell r = math(A_ADD, *v8, I(1));
    EXPECT_EQ(r.data2, v8->data2);  // in place
    EXPECT_EQ(mold(v8), "make vector! [integer! 8 [-128 2]]");
    cell* big = make(*blk({I(2147483647), I(-5)}));
    math(A_ADD, *big, I(1));
    EXPECT_EQ(mold(big), "make vector! [-2147483648 -4]");  // wraps, no overflow error
    math(A_MULTIPLY, *big, I(1));
    EXPECT_EQ(mold(big), "make vector! [-2147483648 -4]");
    cell* five = make(*blk({I(1), I(2), I(3), I(4), I(5)}));
    cell* three = make(*blk({W("integer!"), I(16), *blk({I(10), I(20), I(30)})}));
    cell sum = math(A_ADD, *three, *five);
    EXPECT_NE(sum.data2, five->data2);
    EXPECT_EQ(mold(&sum), "make vector! [11 22 33]");  // the wider width, the shorter length
    cell diff = math(A_SUBTRACT, *five, *three);
    EXPECT_EQ(mold(&diff), "make vector! [-9 -18 -27]");
    cell x = math(A_XOR, *make(*blk({I(12)})), *make(*blk({I(10)})));
    EXPECT_EQ(mold(&x), "make vector! [6]");
    cell* f = make(*blk({F(1.0), F(2.0)}));
    math(A_DIVIDE, *f, I(4));
    EXPECT_EQ(mold(f), "make vector! [0.25 0.5]");
    EXPECT_EQ(script_error([&] { math(A_ADD, *make(*blk({I(1)})), *make(*blk({F(1.0)}))); }),
              Script::not_same_type);
    EXPECT_EQ(internal_error([&] { math(A_ADD, *five, cell{TYPE_NONE, 0, 0, 0}); }),
              error::Internal::not_done);
    EXPECT_EQ(error::Math::zero_divide, [&] {
        error::last_math = error::Math::none;
        sys::catch_level(sys::THROW_ERROR, [&] { math(A_DIVIDE, *five, I(0)); });
        sys::clear_throw();
        return error::last_math;
    }());
    // a scalar on the left goes through its own type's math
    cell* small = make(*blk({I(1), I(2)}));
    cell l = math(A_SUBTRACT, I(10), *small);
    EXPECT_EQ(l.type(), TYPE_VECTOR);
    EXPECT_EQ(mold(small), "make vector! [9 8]");
}

TEST_F(VectorTest, CompareAndSeries) {
    auto cmp = get<A_COMPARE>(TYPE_VECTOR);
    EXPECT_EQ(cmp(make(*blk({I(1), I(2)})), make(*blk({W("integer!"), I(8), *blk({I(1), I(2)})})), OP_EQUAL), 0);
    EXPECT_EQ(cmp(make(*blk({I(1), I(2)})), make(*blk({I(1), I(3)})), OP_SORT), -1);
    EXPECT_EQ(cmp(make(*blk({I(1)})), make(*blk({I(1), I(0)})), OP_EQUAL), 1);
    EXPECT_EQ(script_error([&] { cmp(make(*blk({I(1)})), make(*blk({C('a')})), OP_EQUAL); }),
              Script::not_same_type);
    cell one = I(1);
    EXPECT_EQ(cmp(make(*blk({I(1)})), &one, OP_EQUAL), NOT_COMPARABLE);

    cell* v = make(*blk({W("integer!"), I(16), *blk({I(1), I(2)})}));
    cell five = I(5);
    get<A_APPEND>(TYPE_VECTOR)(v, &five, -1, false, 2);
    EXPECT_EQ(mold(v), "make vector! [integer! 16 [1 2 5 5]]");
    v->data1 = 1;
    get<A_INSERT>(TYPE_VECTOR)(v, blk({I(7), I(8), I(9)}), 2, false, -1);
    EXPECT_EQ(v->data1, 3u);
    v->data1 = 0;
    EXPECT_EQ(mold(v), "make vector! [integer! 16 [1 7 8 2 5 5]]");
    v->data1 = 1;
    get<A_CHANGE>(TYPE_VECTOR)(v, blk({I(0)}), 3, false, -1);
    v->data1 = 0;
    EXPECT_EQ(mold(v), "make vector! [integer! 16 [1 0 5 5]]");
    cell fl = F(3.9);
    v->data1 = 0;
    get<A_CHANGE>(TYPE_VECTOR)(v, &fl, -1, false, -1);  // converted to the element type
    v->data1 = 0;
    EXPECT_EQ(mold(v), "make vector! [integer! 16 [3 0 5 5]]");
    cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(script_error([&] { get<A_APPEND>(TYPE_VECTOR)(v, &none, -1, false, -1); }),
              Script::invalid_type);

    cell* no = absent();
    cell* found = stack::push(v);
    get<A_FIND>(TYPE_VECTOR)(found, &five, no, false, false, false, false, no, no, false, false, false, false);
    EXPECT_EQ(found->data1, 2u);
    cell* sel = stack::push(v);
    cell zero = I(0);
    get<A_SELECT>(TYPE_VECTOR)(sel, &zero, no, false, false, false, false, no, no, false, false);
    EXPECT_EQ(sel->type(), TYPE_INTEGER);
    EXPECT_EQ(sel->data2, 5u);
    get<A_SORT>(TYPE_VECTOR)(v, false, no, no, no, false, false, false);
    EXPECT_EQ(mold(v), "make vector! [integer! 16 [0 3 5 5]]");
    cell* t = stack::push(v);
    get<A_TAKE>(TYPE_VECTOR)(t, no, false, true);
    EXPECT_EQ(t->type(), TYPE_INTEGER);
    EXPECT_EQ(t->data2, 5u);
    cell p = pick(v, 1);
    EXPECT_EQ(p.data2, 0u);
    cell seven = I(-7);
    cell ic = I(1);
    get<A_POKE>(TYPE_VECTOR)(stack::push(v), 1, &seven, &ic);
    EXPECT_EQ(mold(v), "make vector! [integer! 16 [-7 3 5]]");
    cell* c = stack::push_cell();
    get<A_COPY>(TYPE_VECTOR)(v, c, no, false, no);
    EXPECT_EQ(mold(c), "make vector! [integer! 16 [-7 3 5]]");
    EXPECT_EQ(get<A_TRIM>(TYPE_VECTOR), nullptr);
    EXPECT_EQ(get<A_SWAP>(TYPE_VECTOR), nullptr);
}

}  // namespace
