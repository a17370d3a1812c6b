// bitset!: specs, membership, changes, complemented sets under every
// operation, compare and the text, through the action table.
#include "datatypes/bitset.h"

#include <gtest/gtest.h>

#include "datatypes/logic.h"
#include "runtime/memory.h"
#include "runtime/words.h"
#include "tests/datatypes/value_test.h"

using namespace datatype;

namespace {

class BitsetTest : public ValueTest {
protected:
    cell make(const cell& spec, bool to = false) {
        cell* target = stack::push_cell();
        cell* s = push(spec);
        if (to) get<A_TO>(TYPE_BITSET)(target, s, TYPE_BITSET);
        else get<A_MAKE>(TYPE_BITSET)(target, s, TYPE_BITSET);
        return *target;
    }
    // A rooted bitset made from a spec.
    cell* made(const cell& spec) { return push(make(spec)); }
    cell bin(std::initializer_list<uint8_t> bytes) {
        cell* c = stack::push_cell();
        memory::Node* node = memory::alloc_bytes((int32_t)bytes.size());
        for (uint8_t b : bytes) *node->buffer->tail++ = b;
        series::make_at(c, TYPE_BINARY, node, 0);
        return *c;
    }
    cell dash() { return word("-"); }
    cell not_() { return word("not"); }
    cell none() { return cell{TYPE_NONE, 0, 0, 0}; }
    static cell logic(bool b) {
        cell c;
        return *logic::make_at(&c, b);
    }
    static cell real(double d) {
        cell c{TYPE_FLOAT, 0, 0, 0};
        cell::set_float(&c, d);
        return c;
    }
    // find: true, or none.
    bool finds(cell* b, const cell& value) {
        cell r = *b;
        cell* v = push(value);
        get<A_FIND>(TYPE_BITSET)(&r, v, absent(), false, false, false, false, absent(), absent(),
                                 false, false, false, false);
        EXPECT_TRUE(r.type() == TYPE_LOGIC || r.type() == TYPE_NONE);
        return r.type() == TYPE_LOGIC;
    }
    bool picks(cell* b, const cell& value) {
        cell r = *b;
        get<A_PICK>(TYPE_BITSET)(&r, -1, push(value));
        EXPECT_EQ(r.type(), TYPE_LOGIC);
        return logic::is_truthy(&r);
    }
    void poke(cell* b, const cell& spec, const cell& value) {
        cell r = *b;
        get<A_POKE>(TYPE_BITSET)(&r, -1, push(value), push(spec));
    }
    cell bitwise(int32_t op, const cell& a, const cell& b) {
        stack::Arguments saved = stack::arguments;
        stack::arguments.window = stack::arguments.top;
        push(a);
        push(b);
        cell r = *bitset::do_bitwise(op);
        stack::arguments = saved;
        return *push(r);
    }
    int32_t compare(const cell& a, const cell& b, int32_t op) {
        cell x = a, y = b;
        return get<A_COMPARE>(TYPE_BITSET)(&x, &y, op);
    }
};

TEST_F(BitsetTest, MakeFromEverySpec) {
    cell a = character('a');
    struct Case { cell spec; const char* text; };
    const Case cases[] = {
        {*text("a"), "make bitset! #{00000000000000000000000040}"},
        {a, "make bitset! #{00000000000000000000000040}"},
        {*block({}), "make bitset! #{00}"},
        {integer(0), "make bitset! #{}"},
        {integer(8), "make bitset! #{00}"},
        {integer(10), "make bitset! #{0000}"},
        {real(9.5), "make bitset! #{0000}"},
        {*block({integer(0), integer(7), integer(9)}), "make bitset! #{8140}"},
        {*block({character('a'), dash(), character('c')}), "make bitset! #{00000000000000000000000070}"},
        {*block({integer(1), dash(), integer(3), *text("\x01")}), "make bitset! #{70}"},
        {*block({not_(), *text("a")}), "make bitset! [not #{00000000000000000000000040}]"},
        {bin({0xFF, 0x01}), "make bitset! #{FF01}"},
        {*block({not_(), bin({0xF0})}), "make bitset! [not #{F0}]"},
        {*block({not_()}), "make bitset! [not #{00}]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(make(c.spec)), c.text) << c.text;

    cell* b = made(*text("a"));
    EXPECT_EQ(get<A_LENGTH_OF>(TYPE_BITSET)(b), 104);
    EXPECT_EQ(mold(make(*b)), mold(*b));  // a bitset spec is copied
    EXPECT_NE(make(*b).data2, b->data2);
    EXPECT_EQ(mold(make(*text("a"), true)), "make bitset! #{00000000000000000000000040}");
    // Form and mold are one text; remaking from its parts gives the same set.
    cell* c = made(*block({not_(), *text("ab")}));
    EXPECT_EQ(form(*c), "make bitset! [not #{00000000000000000000000060}]");
    cell* again = made(*block({not_(), bin({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x60})}));
    EXPECT_EQ(mold(*again), mold(*c));
    EXPECT_EQ(compare(*again, *c, OP_STRICT_EQUAL), 0);
}

TEST_F(BitsetTest, BinaryInsideAnActionSpecIsNotDone) {
    EXPECT_EQ(raised([&] { make(*block({bin({1})})); }), "internal/not-done");
}

TEST_F(BitsetTest, ComplementedSetsHoldEverythingPastTheirArray) {
    cell* b = made(*block({not_(), *text("a")}));
    EXPECT_TRUE(finds(b, integer(100000)));
    EXPECT_FALSE(finds(b, character('a')));
    EXPECT_TRUE(finds(b, character('b')));
    EXPECT_TRUE(finds(b, integer(-5)));  // testing a negative index answers the flag
    EXPECT_TRUE(picks(b, *text("bcd")));
    EXPECT_FALSE(picks(b, *text("bad")));
    EXPECT_TRUE(picks(b, *block({integer(200), dash(), integer(100000)})));
    EXPECT_FALSE(picks(b, *block({integer(90), dash(), integer(100)})));

    cell* p = made(*text("a"));
    EXPECT_TRUE(finds(p, character('a')));
    EXPECT_FALSE(finds(p, integer(100000)));
    EXPECT_FALSE(finds(p, integer(-1)));
    EXPECT_FALSE(picks(p, *block({integer(90), dash(), integer(100000)})));
    EXPECT_EQ(raised([&] { finds(p, none()); }), "script/invalid-arg");
}

TEST_F(BitsetTest, PokeInsertRemoveClear) {
    cell* b = made(integer(8));
    poke(b, integer(3), logic(true));
    EXPECT_EQ(mold(*b), "make bitset! #{10}");
    const cell falses[] = {integer(0), real(0.0), none(), logic(false)};
    for (const cell& f : falses) {
        poke(b, integer(3), logic(true));
        poke(b, integer(3), f);
        EXPECT_EQ(mold(*b), "make bitset! #{00}") << (int)f.type();
    }
    poke(b, integer(0), integer(1));
    EXPECT_EQ(mold(*b), "make bitset! #{80}");

    get<A_INSERT>(TYPE_BITSET)(b, push(character('a')), -1, false, -1);
    EXPECT_EQ(mold(*b), "make bitset! #{80000000000000000000000040}");
    get<A_APPEND>(TYPE_BITSET)(b, push(*block({integer(8), dash(), integer(9)})), -1, false, -1);
    EXPECT_EQ(mold(*b), "make bitset! #{80C00000000000000000000040}");

    EXPECT_EQ(raised([&] { get<A_REMOVE>(TYPE_BITSET)(b, absent(), absent()); }), "script/missing-arg");
    get<A_REMOVE>(TYPE_BITSET)(b, push(character('a')), absent());
    EXPECT_EQ(mold(*b), "make bitset! #{80C00000000000000000000000}");

    // In a complemented set, remove takes members out; insert past the array
    // keeps membership as it was.
    cell* c = made(*block({not_(), *text("a")}));
    get<A_REMOVE>(TYPE_BITSET)(c, push(integer(200)), absent());
    EXPECT_FALSE(finds(c, integer(200)));
    EXPECT_TRUE(finds(c, integer(201)));
    get<A_INSERT>(TYPE_BITSET)(c, push(character('a')), -1, false, -1);
    EXPECT_TRUE(finds(c, character('a')));
    get<A_INSERT>(TYPE_BITSET)(c, push(integer(5000)), -1, false, -1);
    EXPECT_TRUE(finds(c, integer(5000)));
    EXPECT_TRUE(finds(c, integer(4999)));
    uint32_t bytes = bitset::byte_length(c);

    // Clear empties the set and keeps the length.
    get<A_CLEAR>(TYPE_BITSET)(c);
    EXPECT_EQ(bitset::byte_length(c), bytes);
    EXPECT_FALSE(finds(c, integer(100000)));
    EXPECT_FALSE(finds(c, integer(201)));
    get<A_CLEAR>(TYPE_BITSET)(b);
    EXPECT_EQ(mold(*b), "make bitset! #{00000000000000000000000000}");
}

TEST_F(BitsetTest, ComplementAndNegate) {
    cell* b = made(*text("a"));
    cell* c = push(*b);
    get<A_COMPLEMENT>(TYPE_BITSET)(c);
    EXPECT_NE(c->data2, b->data2);
    EXPECT_EQ(mold(*c), "make bitset! [not #{00000000000000000000000040}]");
    EXPECT_FALSE(finds(c, character('a')));
    EXPECT_TRUE(finds(c, integer(100000)));
    get<A_COMPLEMENT>(TYPE_BITSET)(c);
    EXPECT_EQ(mold(*c), mold(*b));
    EXPECT_FALSE(bitset::is_complemented(c));
    cell* n = push(*b);
    get<A_NEGATE>(TYPE_BITSET)(n);
    EXPECT_TRUE(bitset::is_complemented(n));
}

TEST_F(BitsetTest, BitwiseActionsCombineSetsOfAnyLengths) {
    cell two = bin({0xF0, 0x0F}), four = bin({0xFF, 0x00, 0xAA, 0x55});
    cell* a = made(two);
    cell* b = made(four);
    struct Case { int32_t op; const char* text; };
    const Case cases[] = {
        {6, "make bitset! #{F000}"},           // and~: the shorter length
        {10, "make bitset! #{F0000000}"},      // intersect: the longer, zero bytes past
        {5, "make bitset! #{FF0FAA55}"},       // or~
        {9, "make bitset! #{FF0FAA55}"},       // union
        {7, "make bitset! #{0F0FAA55}"},       // xor~
        {12, "make bitset! #{0F0FAA55}"},      // difference
        {11, "make bitset! #{000F0000}"},      // exclude: a shorter, zero bytes past
    };
    for (const Case& c : cases) EXPECT_EQ(mold(bitwise(c.op, *a, *b)), c.text) << c.op;
    EXPECT_EQ(mold(bitwise(11, *b, *a)), "make bitset! #{0F00AA55}");  // a longer: its bytes
    EXPECT_EQ(bitwise(8, *a, integer(1)).data2, a->data2);               // unique
    EXPECT_EQ(raised([&] { bitwise(9, *a, integer(1)); }), "script/invalid-type");

    // Complemented operands: each is its bytes then its fill for ever.
    cell* na = made(*block({not_(), *text("a")}));
    cell* nb = made(*block({not_(), *text("b")}));
    cell* pz = made(*text("z"));
    cell* pb = made(*text("b"));
    struct Member { int32_t op; cell* x; cell* y; int32_t n; bool in; };
    const Member members[] = {
        {9, na, nb, 'a', true},      {9, na, nb, 'b', true},     {9, na, nb, 100000, true},
        {10, na, nb, 'a', false},    {10, na, nb, 'c', true},    {10, na, nb, 100000, true},
        {10, na, pb, 'b', true},     {10, na, pb, 'a', false},   {10, na, pb, 100000, false},
        {6, pb, na, 'b', true},      {6, na, pz, 'z', true},     {6, na, pz, 100000, false},
        {12, na, nb, 'a', true},     {12, na, nb, 'c', false},   {12, na, nb, 100000, false},
        {11, na, pb, 'b', false},    {11, na, pb, 100000, true}, {11, pz, na, 'z', false},
        {11, na, nb, 'b', true},     {11, na, nb, 100000, false},
        {5, pb, na, 'a', false},     {5, pz, na, 'a', false},    {5, pz, na, 'b', true},
    };
    for (const Member& m : members) {
        cell r = bitwise(m.op, *m.x, *m.y);
        cell* held = push(r);
        EXPECT_EQ(finds(held, integer(m.n)), m.in) << "op " << m.op << " n " << m.n;
    }
}

TEST_F(BitsetTest, CompareByMembership) {
    cell& e8 = *made(integer(8));
    cell& e16 = *made(integer(16));
    cell& x = *made(bin({0x01, 0x80}));
    cell& y = *made(bin({0x02, 0x00}));
    cell& n = *made(*block({not_(), *text("a")}));
    cell& n2 = *made(*block({not_(), bin({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x00})}));
    cell& one = *push(integer(1));
    struct Case { cell* a; cell* b; int32_t op; int32_t expected; };
    const Case cases[] = {
        {&e8, &e16, OP_EQUAL, 0},    {&e8, &e16, OP_STRICT_EQUAL, 0},
        {&e8, &e16, OP_SAME, 1},     {&e8, &e8, OP_SAME, 0},
        {&x, &y, OP_LESSER, 1},      {&y, &x, OP_LESSER, -1},   // the last differing byte decides
        {&e8, &n, OP_LESSER, -1},    {&n, &e8, OP_LESSER, 1},   // plain below complemented
        {&n, &n2, OP_EQUAL, 0},      {&x, &one, OP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases) EXPECT_EQ(compare(*c.a, *c.b, c.op), c.expected) << c.op;
}

TEST_F(BitsetTest, MoldPartStopsInsideTheHexDigits) {
    cell* b = made(bin({0x12, 0x34, 0x56}));
    int32_t rest = 0;
    EXPECT_EQ(mold_part(*b, 16, &rest), "make bitset! #{12");
    EXPECT_EQ(rest, -1);
    EXPECT_EQ(mold_part(*b, 100, &rest), "make bitset! #{123456}");
    EXPECT_EQ(rest, 100 - 13 - 2 - 6 - 1);
}

TEST_F(BitsetTest, PathsPickAndPoke) {
    cell* b = made(integer(8));
    cell path = none();
    auto eval = get<A_EVAL_PATH>(TYPE_BITSET);
    cell two = integer(2), yes = logic(true);
    cell* r = eval(b, push(two), push(yes), &path, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(r->type(), TYPE_LOGIC);
    EXPECT_EQ(mold(*b), "make bitset! #{20}");
    r = eval(b, push(two), nullptr, &path, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_TRUE(logic::is_truthy(r));
    cell* t = text("x");
    EXPECT_EQ(raised([&] { eval(b, t, nullptr, &path, nullptr, nullptr, 0, false, true, true, false); }),
              "script/invalid-type");
}

TEST_F(BitsetTest, CopyIsIndependentAndNotOwned) {
    cell* b = made(*block({not_(), *text("a")}));
    cell* c = stack::push_cell();
    get<A_COPY>(TYPE_BITSET)(b, c, absent(), false, absent());
    EXPECT_NE(c->data2, b->data2);
    EXPECT_TRUE(bitset::is_complemented(c));
    poke(c, character('a'), logic(true));
    EXPECT_TRUE(finds(c, character('a')));
    EXPECT_FALSE(finds(b, character('a')));
}

}  // namespace
