// The registry (tables, define, inheritance, refusals) and datatype!.
#include "datatypes/datatype.h"

#include <gtest/gtest.h>

#include <cstring>

#include "datatypes/string.h"
#include "runtime/sys.h"
#include "evaluator/actions.h"
#include "tests/datatypes/text.h"

using namespace datatype;

namespace {

TEST(Registry, StartUpRowsAreFilledAndSlotEightIsEmpty) {
    EXPECT_GE(top_type_id, (uint32_t)TYPE_LOGIC);
    for (uint32_t t = 0; t < TYPE_SLOTS; t++) EXPECT_EQ(entry((uint8_t)t, A_RESERVED), nullptr) << t;
    EXPECT_STREQ(type_names[TYPE_DATATYPE].name, "datatype!");
    EXPECT_EQ(type_names[TYPE_DATATYPE].length, 8u);
    EXPECT_STREQ(type_names[TYPE_LOGIC].name, "logic!");
    EXPECT_EQ(type_names[TYPE_LOGIC].length, 5u);
    // The lookup is the flat index type * 256 + id - 1.
    EXPECT_EQ(entry(TYPE_NONE, A_FORM), action_table[TYPE_NONE * 256 + A_FORM - 1]);
    EXPECT_NE(get<A_FORM>(TYPE_NONE), nullptr);
    EXPECT_EQ(get<A_ADD>(TYPE_NONE), nullptr);
}

// Two spare rows (55, 56) stand for a parent and its child.
class Inheritance : public testing::Test {
protected:
    static constexpr uint8_t PARENT = 55, CHILD = 56;
    uint32_t saved_top = 0;
    void SetUp() override { saved_top = top_type_id; }
    void TearDown() override {
        for (uint8_t t : {PARENT, CHILD}) {
            memset(&action_table[t * ROW_SIZE], 0, ROW_SIZE * sizeof(ActionFn));
            type_names[t] = TypeName{};
        }
        top_type_id = saved_top;
    }
    static int32_t form_a(cell*, cell*, cell*, int32_t limit) { return limit - 1; }
    static int32_t form_b(cell*, cell*, cell*, int32_t limit) { return limit - 2; }
    static cell* clear_a(cell* c) { return c; }
    static void fill(Entry (&list)[ACTION_COUNT], Entry e) {
        for (Entry& x : list) x = e;
    }
};

TEST_F(Inheritance, ChildCopiesTheParentsEntryAsItIsAtRegistration) {
    Entry parent[ACTION_COUNT];
    fill(parent, NO);
    parent[A_FORM - 1] = on<A_FORM>(form_a);
    parent[A_CLEAR - 1] = on<A_CLEAR>(clear_a);
    define(PARENT, 0, "parent!", parent);

    Entry child[ACTION_COUNT];
    fill(child, INHERIT);  // every entry inherited, the parent's empty ones included
    child[A_CLEAR - 1] = NO;
    define(CHILD, PARENT, "child!", child);

    EXPECT_EQ(get<A_FORM>(CHILD), &form_a);
    EXPECT_EQ(get<A_CLEAR>(CHILD), nullptr);
    EXPECT_EQ(get<A_ADD>(CHILD), nullptr);
    EXPECT_EQ(entry(CHILD, A_RESERVED), nullptr);
    EXPECT_EQ(top_type_id, (uint32_t)CHILD);
    EXPECT_EQ(type_names[CHILD].length, 5u);

    // A later change to the parent does not reach the child.
    parent[A_FORM - 1] = on<A_FORM>(form_b);
    define(PARENT, 0, "parent!", parent);
    EXPECT_EQ(get<A_FORM>(PARENT), &form_b);
    EXPECT_EQ(get<A_FORM>(CHILD), &form_a);
}

// Registrations that cannot be right end the program with a non-zero code,
// before the row is written.
TEST_F(Inheritance, BadRegistrationsEndTheProgramWithNonZeroCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static const Entry list[ACTION_COUNT + 1] = {};  // all unsupported
    auto code = testing::ExitedWithCode(EXIT_BAD_REGISTRATION);

    EXPECT_EXIT(define(ACTION_COUNT - 1, PARENT, 0, "parent!", list), code, "");
    EXPECT_EXIT(define(ACTION_COUNT + 1, PARENT, 0, "parent!", list), code, "");

    Entry misplaced[ACTION_COUNT];
    fill(misplaced, NO);
    misplaced[A_MOLD - 1] = on<A_FORM>(form_a);
    EXPECT_EXIT(define(PARENT, 0, "parent!", misplaced), code, "");

    Entry orphan[ACTION_COUNT];
    fill(orphan, NO);
    orphan[A_FORM - 1] = INHERIT;
    EXPECT_EXIT(define(PARENT, 0, "parent!", orphan), code, "");
    // A parent that has not registered yet.
    EXPECT_EXIT(define(CHILD, PARENT, "child!", orphan), code, "");

    EXPECT_EQ(type_names[PARENT].name, nullptr);
    EXPECT_EQ(get<A_FORM>(PARENT), nullptr);
}

TEST(Datatype, FormMoldAndCompare) {
    cell integer, floating;
    make_at(&integer, TYPE_INTEGER);
    make_at(&floating, TYPE_FLOAT);
    // Until integer! registers, give it its name for the test.
    const TypeName saved = type_names[TYPE_INTEGER];
    if (!saved.name) type_names[TYPE_INTEGER] = TypeName{"integer!", 7, nullptr};

    struct Case { bool mold, all; const char* text; int32_t rest; };
    for (const Case& c : {Case{false, false, "integer", 93}, Case{true, false, "integer!", 92},
                          Case{true, true, "#(integer!)", 89}}) {
        TextOut o;
        int32_t rest = c.mold ? actions::mold_typed(&integer, &o.out, false, c.all, false, nullptr, 100, 0)
                              : actions::form_typed(&integer, &o.out, nullptr, 100);
        EXPECT_EQ(o.text(), c.text);
        EXPECT_EQ(rest, c.rest);
    }

    EXPECT_EQ(compare(&integer, &integer, OP_EQUAL), 0);
    EXPECT_EQ(compare(&integer, &floating, OP_EQUAL), 1);
    EXPECT_EQ(compare(&integer, &floating, OP_NOT_EQUAL), 1);
    EXPECT_TRUE(actions::compare(&integer, &floating, OP_NOT_EQUAL));
    cell none{TYPE_NONE, TYPE_INTEGER, 0, 0};  // same payload, other type
    EXPECT_EQ(compare(&integer, &none, OP_STRICT_EQUAL), 1);
    for (int32_t op : {OP_LESSER, OP_GREATER_OR_EQUAL, OP_SORT, OP_CASE_SORT})
        EXPECT_EQ(compare(&integer, &integer, op), NOT_COMPARABLE) << op;

    type_names[TYPE_INTEGER] = saved;
}

TEST(Datatype, OrderingTwoDatatypesRaisesInvalidCompare) {
    cell a, b;
    make_at(&a, TYPE_INTEGER);
    make_at(&b, TYPE_FLOAT);
    error::last_script = error::Script::none;
    EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, [&] { actions::compare(&a, &b, OP_LESSER); }),
              sys::THROW_ERROR);
    sys::clear_throw();
    EXPECT_EQ(error::last_script, error::Script::invalid_compare);
}

TEST(Datatype, UnsupportedActionRaisesExpectArg) {
    cell a;
    make_at(&a, TYPE_INTEGER);
    error::last_script = error::Script::none;
    EXPECT_EQ(sys::catch_level(sys::THROW_ERROR,
                               [&] { actions::get_action_ptr_of<A_ADD>(&a); }),
              sys::THROW_ERROR);
    sys::clear_throw();
    EXPECT_EQ(error::last_script, error::Script::expect_arg);
}

}  // namespace
