// typeset!: the bit layout, making, the set operations, find, compare and
// the text, through the action table.
#include "datatypes/typeset.h"

#include <gtest/gtest.h>

#include "datatypes/logic.h"
#include "runtime/rt.h"
#include "tests/datatypes/value_test.h"

using namespace datatype;

namespace {

class TypesetTest : public ValueTest {
protected:
    cell make(const cell& spec, int32_t action = A_MAKE) {
        cell* target = stack::push_cell();
        cell* s = push(spec);
        if (action == A_MAKE) get<A_MAKE>(TYPE_TYPESET)(target, s, TYPE_TYPESET);
        else get<A_TO>(TYPE_TYPESET)(target, s, TYPE_TYPESET);
        return *target;
    }
    cell numbers() { return make(*block({word("integer!"), word("float!")})); }
    // A bitwise action or set operation on two values, as the natives call it.
    cell bitwise(int32_t op, const cell& a, const cell& b) {
        stack::Arguments saved = stack::arguments;
        stack::arguments.window = stack::arguments.top;
        push(a);
        push(b);
        cell r = *typeset::do_bitwise(op);
        stack::arguments = saved;
        return r;
    }
    bool finds(cell set, const cell& value) {
        cell v = value;
        get<A_FIND>(TYPE_TYPESET)(&set, &v, absent(), false, false, false, false, absent(), absent(),
                                  false, false, false, false);
        EXPECT_EQ(set.type(), TYPE_LOGIC);
        return logic::is_truthy(&set);
    }
};

TEST_F(TypesetTest, BitLayoutIsMostSignificantBitFirstInMemoryOrder) {
    cell set = typeset::of({TYPE_DATATYPE, TYPE_INTEGER, TYPE_EVENT});
    const uint8_t* bytes = typeset::bytes_of(&set);
    EXPECT_EQ(bytes[0], 0x40);  // id 1
    EXPECT_EQ(bytes[1], 0x10);  // id 11
    EXPECT_EQ(bytes[6], 0x02);  // id 54
    EXPECT_EQ(numbers().data1, 0x1800u);  // ids 11 and 12: byte 1 = 0x18
    EXPECT_EQ(numbers().data2, 0u);
    EXPECT_EQ(numbers().data3, 0u);

    cell* b = block::push_new(2);
    typeset::make_at(series::node_of(b), 1, 2, 3);
    cell* made = block::cell_at(b, 0);
    EXPECT_EQ(made->type(), TYPE_TYPESET);
    EXPECT_EQ(made->data1, 1u);
    EXPECT_EQ(made->data3, 3u);

    cell* any = typeset::make_any(series::node_of(b));
    EXPECT_EQ(any->data1, 0xFFFFFFDFu);  // every bit but unset!'s
    EXPECT_EQ(any->data2, 0xFFFFFFFFu);
    EXPECT_EQ(any->data3, 0xFFFFFFFFu);
    EXPECT_FALSE(typeset::has(any, TYPE_UNSET));
    EXPECT_TRUE(typeset::has(any, 0));
    EXPECT_TRUE(typeset::has(any, 95));
    EXPECT_EQ(typeset::count(any), (int32_t)top_type_id - 1);
}

TEST_F(TypesetTest, MakeAndToFromBlocksAndTypesets) {
    cell set = numbers();
    EXPECT_EQ(mold(set), "make typeset! [integer! float!]");
    EXPECT_EQ(form(set), "make typeset! [integer! float!]");
    EXPECT_EQ(typeset::count(&set), 2);
    cell again = make(set, A_TO);
    EXPECT_EQ(again.data1, set.data1);
    // A typeset inside the block is ORed in.
    cell more = make(*block({set, type(TYPE_STRING)}));
    EXPECT_EQ(mold(more), "make typeset! [string! integer! float!]");
    EXPECT_EQ(mold(make(*block({}))), "make typeset! []");

    EXPECT_EQ(raised([&] { make(integer(1)); }), "script/bad-to-arg");
    EXPECT_EQ(raised([&] { make(integer(1), A_TO); }), "script/bad-to-arg");
    EXPECT_EQ(raised([&] { make(*block({*block({})})); }), "script/invalid-arg");
    EXPECT_EQ(raised([&] { make(*block({integer(3)})); }), "script/invalid-arg");
    EXPECT_EQ(raised([&] { make(*block({word("no-such-word-here")})); }), "script/no-value");
}

TEST_F(TypesetTest, FunctionSpecTypeBlocks) {
    cell* dest = block::push_new(2);
    cell inner = word("inner-word");
    cell name = word("some-name");
    word::set_in(&inner, &name);  // a word whose value is a word stands for object!
    cell* spec = block({word("integer!"), *block({}), inner, typeset::of({TYPE_STRING})});
    cell* made = typeset::make_from_spec(series::node_of(dest), spec);
    EXPECT_EQ(mold(*made), "make typeset! [string! integer! object!]");
    EXPECT_EQ(raised([&] { typeset::make_from_spec(series::node_of(dest), block({integer(1)})); }),
              "script/invalid-type-spec");
}

TEST_F(TypesetTest, SetOperationsAndBitwiseActions) {
    cell set = numbers();
    cell f = type(TYPE_FLOAT), s = type(TYPE_STRING);
    EXPECT_EQ(mold(bitwise(11, set, f)), "make typeset! [integer!]");  // exclude
    EXPECT_EQ(mold(bitwise(9, set, s)), "make typeset! [string! integer! float!]");  // union
    EXPECT_EQ(mold(bitwise(10, set, typeset::of({TYPE_FLOAT, TYPE_BLOCK}))),
              "make typeset! [float!]");
    EXPECT_EQ(mold(bitwise(12, set, typeset::of({TYPE_FLOAT, TYPE_BLOCK}))),
              "make typeset! [block! integer!]");
    EXPECT_EQ(bitwise(8, set, integer(1)).data1, set.data1);  // unique: no check of b
    EXPECT_EQ(raised([&] { bitwise(9, set, integer(1)); }), "script/invalid-arg");

    // and~, or~, xor~ through the table, on the call's window.
    struct Case { int action; uint8_t other; const char* text; };
    const Case cases[] = {
        {A_AND, TYPE_FLOAT, "make typeset! [float!]"},
        {A_OR, TYPE_CHAR, "make typeset! [char! integer! float!]"},
        {A_XOR, TYPE_FLOAT, "make typeset! [integer!]"},
    };
    for (const Case& c : cases) {
        stack::Arguments saved = stack::arguments;
        stack::arguments.window = stack::arguments.top;
        push(set);
        push(typeset::of({c.other}));
        ActionFn fn = entry(TYPE_TYPESET, (uint32_t)c.action);
        cell r = *reinterpret_cast<WindowFn>(fn)();
        stack::arguments = saved;
        EXPECT_EQ(mold(r), c.text) << c.action;
    }

    cell all = typeset::of({});
    get<A_COMPLEMENT>(TYPE_TYPESET)(&all);
    EXPECT_EQ(all.data1, 0xFFFFFFFFu);
    EXPECT_EQ(all.data3, 0xFFFFFFFFu);
    std::string every = "make typeset! [";
    for (uint32_t t = 1; t <= top_type_id; t++)
        if (type_names[t].name) every += std::string(type_names[t].name) + (t < top_type_id ? " " : "");
    EXPECT_EQ(mold(all), every + "]");
    get<A_COMPLEMENT>(TYPE_TYPESET)(&all);
    EXPECT_EQ(all.data1 | all.data2 | all.data3, 0u);
}

TEST_F(TypesetTest, CompareByBitsOrByCount) {
    cell a = numbers(), b = numbers(), c = typeset::of({TYPE_STRING});
    cell n = integer(1);
    struct Case { cell* x; cell* y; int32_t op; int32_t expected; };
    const Case cases[] = {
        {&a, &b, OP_EQUAL, 0},        {&a, &c, OP_EQUAL, 1},   {&a, &b, OP_STRICT_EQUAL, 0},
        {&a, &b, OP_SAME, 0},         {&a, &c, OP_NOT_EQUAL, 1}, {&a, &c, OP_FIND, 1},
        {&a, &c, OP_LESSER, NOT_COMPARABLE}, {&a, &n, OP_EQUAL, NOT_COMPARABLE},
        {&c, &a, OP_SORT, -1},        {&a, &c, OP_CASE_SORT, 1}, {&a, &b, OP_SORT, 0},
    };
    for (const Case& k : cases)
        EXPECT_EQ(get<A_COMPARE>(TYPE_TYPESET)(k.x, k.y, k.op), k.expected) << k.op;
}

TEST_F(TypesetTest, MoldOnlyAndPartLimits) {
    cell set = numbers();
    EXPECT_EQ(mold(set, true), "integer! float!");
    EXPECT_EQ(mold(typeset::of({}), true), "");
    int32_t rest = 0;
    // "make typeset! [" takes 15 of 20, "integer! " 9: below 0 before float!.
    EXPECT_EQ(mold_part(set, 20, &rest), "make typeset! [integer! ");
    EXPECT_EQ(rest, -4);
    EXPECT_EQ(mold_part(set, 100, &rest), "make typeset! [integer! float!]");
    EXPECT_EQ(rest, 100 - 15 - 9 - 7);
    EXPECT_EQ(mold_part(set, 100, &rest, true), "integer! float!");
    EXPECT_EQ(rest, 100 - 9 - 7 + 1);
}

TEST_F(TypesetTest, ToBlockListsTheTypeWords) {
    cell* b = stack::push_cell();
    cell* source = push(numbers());
    typeset::to_block(source, b);
    EXPECT_EQ(mold(*b), "[integer! float!]");
    cell* target = stack::push_cell();
    cell* spec = push(numbers());
    get<A_TO>(TYPE_BLOCK)(target, spec, TYPE_BLOCK);
    EXPECT_EQ(mold(*target), "[integer! float!]");
}

TEST_F(TypesetTest, ArgumentChecksTestTheTypesetBits) {
    cell set = numbers();
    cell one = integer(1);
    EXPECT_EQ(rt::check_arg_type(&set, 0, &one), &one);
    cell* s = text("x");
    EXPECT_EQ(raised([&] { rt::check_arg_type(&set, 0, s); }), "script/expect-arg");
}

}  // namespace
