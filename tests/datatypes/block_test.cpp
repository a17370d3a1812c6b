// block!: positioning and modifying series actions through the action table,
// make/to, insert/append/change, copy, mold/form, compare, eval-path, trim,
// and the root block.
#include "tests/datatypes/block_test.h"

#include <limits>

#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"

using namespace datatype;

namespace {

// Calls a window action (at, skip, next, ...) on a copy of `b` with an
// optional integer argument and answers the resulting cell.
cell window_call(datatype::Action a, const cell* b, int32_t n = 0) {
    stack::Arguments saved = stack::arguments;
    stack::arguments.window = stack::arguments.top;
    stack::push(b);
    cell arg;
    stack::push(series::make_integer(&arg, n));
    reinterpret_cast<WindowFn>(datatype::entry(TYPE_BLOCK, a))();
    cell r = *stack::arguments.window;
    collector::Root r_root(r);
    stack::arguments = saved;
    return r;
}

TEST_F(BlockTest, RootBlockHoldsTheStacksAndTheSymbolBlock) {
    ASSERT_NE(block::root, nullptr);
    EXPECT_TRUE(block::root->buffer->flags & memory::FLAG_FIXED);
    EXPECT_EQ(block::root->buffer->capacity, (uint32_t)block::ROOT_CELLS * sizeof(cell));
    memory::Node* args = block::root_series(block::ROOT_ARGUMENTS);
    memory::Node* frames = block::root_series(block::ROOT_FRAMES);
    EXPECT_TRUE(args->buffer->flags & memory::FLAG_FIXED);
    EXPECT_TRUE(frames->buffer->flags & memory::FLAG_FIXED);
    EXPECT_GE(args->buffer->capacity, 20000u * sizeof(cell));
    EXPECT_GE(frames->buffer->capacity, 15000u * sizeof(cell));
    EXPECT_EQ(stack::arguments.base, block::cells_of(args));
    EXPECT_EQ(stack::arguments.end, block::cells_of(args) + 20000);
    memory::Node* symbols = block::root_series(block::ROOT_SYMBOLS);
    EXPECT_FALSE(symbols->buffer->flags & memory::FLAG_FIXED);
    EXPECT_EQ(symbol::block(), symbols);
    // Interning still works and lands in that block.
    int32_t id = symbol::make("block-test-symbol");
    EXPECT_EQ(symbol::get(id), block::cells_of(symbols) + id - 1);
}

TEST_F(BlockTest, PositioningClamps) {
    cell* b = B("a b c");
    struct Case {
        datatype::Action action;
        int32_t head, arg, expected;
    } cases[] = {
        {A_AT, 0, 1, 0},   {A_AT, 0, 0, 0},    {A_AT, 1, -1, 0},  {A_AT, 0, 99, 3},
        {A_AT, 2, -99, 0}, {A_SKIP, 0, 2, 2},  {A_SKIP, 1, -1, 0}, {A_SKIP, 0, 1 << 30, 3},
        {A_NEXT, 3, 0, 3}, {A_NEXT, 1, 0, 2},  {A_BACK, 0, 0, 0},  {A_BACK, 2, 0, 1},
        {A_HEAD, 2, 0, 0}, {A_TAIL, 0, 0, 3},
    };
    for (const Case& c : cases) {
        cell v = *b;
        collector::Root v_root(v);
        v.data1 = (uint32_t)c.head;
        cell r = window_call(c.action, &v, c.arg);
        EXPECT_EQ((int32_t)r.data1, c.expected) << (int)c.action << " from " << c.head << " by " << c.arg;
    }
    cell v = *b;
    collector::Root v_root(v);
    v.data1 = 3;
    EXPECT_EQ(window_call(A_IS_TAIL, &v).data1, 1u);
    EXPECT_EQ(window_call(A_IS_HEAD, &v).data1, 0u);
    EXPECT_EQ(window_call(A_INDEX_OF, &v).data2, 4u);
}

TEST_F(BlockTest, PickAndPoke) {
    cell* b = B("a b c");
    cell r = *b;
    collector::Root r_root(r);
    series::pick(&r, 0, nullptr);
    EXPECT_EQ(r.type(), TYPE_NONE);
    r = *b;
    r.data1 = 1;
    series::pick(&r, -1, nullptr);
    EXPECT_EQ(form(&r), "a");
    r = *b;
    series::pick(&r, 4, nullptr);
    EXPECT_EQ(r.type(), TYPE_NONE);
    cell t;
    logic::make_at(&t, true);
    EXPECT_EQ(script_error([&] { cell x = *b; series::poke(&x, 0, &t, nullptr); }),
              error::Script::out_of_range);
    EXPECT_EQ(script_error([&] { cell x = *b; series::poke(&x, 4, &t, nullptr); }),
              error::Script::out_of_range);
    cell x = *b;
    collector::Root x_root(x);
    series::poke(&x, 2, &t, nullptr);
    EXPECT_EQ(mold(b), "[\"a\" true \"c\"]");
}

TEST_F(BlockTest, ClearIsSeenFromALaterPosition) {
    cell* b = B("a b c d");
    cell later = *b;
    collector::Root later_root(later);
    later.data1 = 3;
    cell at1 = *b;
    collector::Root at1_root(at1);
    at1.data1 = 1;
    series::clear(&at1);
    EXPECT_EQ(mold(b), "[\"a\"]");
    EXPECT_EQ(length(&later), 0);
    EXPECT_EQ(later.data1, 1u);  // the head index follows the new tail
}

TEST_F(BlockTest, RemovePartAndKey) {
    cell* b = B("a b c d e");
    cell x = *b;
    collector::Root x_root(x);
    series::remove(&x, I(2), absent());
    EXPECT_EQ(mold(b), "[\"c\" \"d\" \"e\"]");
    cell y = *b;
    collector::Root y_root(y);
    cell limit = *b;
    collector::Root limit_root(limit);
    limit.data1 = 2;
    series::remove(&y, &limit, absent());  // a position in the same series
    EXPECT_EQ(mold(b), "[\"e\"]");
    cell z = *b;
    collector::Root z_root(z);
    series::remove(&z, I(0), absent());  // nothing
    EXPECT_EQ(mold(b), "[\"e\"]");

    cell* k = B("x 1 y 2 z 3");
    cell r = *k;
    collector::Root r_root(r);
    series::remove(&r, absent(), S("y"));
    EXPECT_EQ(mold(k), "[\"x\" \"1\" \"z\" \"3\"]");
    r = *k;
    series::remove(&r, absent(), S("absent"));
    EXPECT_EQ(r.type(), TYPE_NONE);
}

TEST_F(BlockTest, Take) {
    cell* b = B("a b c d e");
    cell r = *b;
    collector::Root r_root(r);
    block::take(&r, absent(), false, false);
    EXPECT_EQ(form(&r), "a");  // one cell answers the cell itself
    r = *b;
    block::take(&r, absent(), false, true);
    EXPECT_EQ(form(&r), "e");
    r = *b;
    block::take(&r, I(2), false, true);
    EXPECT_EQ(mold(&r), "[\"c\" \"d\"]");
    EXPECT_EQ(mold(b), "[\"b\"]");
    // take/part 0 takes nothing and answers an empty block, also after the head.
    cell* c = B("a b c");
    r = *c;
    r.data1 = 2;
    block::take(&r, I(0), false, false);
    EXPECT_EQ(r.type(), TYPE_BLOCK);
    EXPECT_EQ(length(&r), 0);
    EXPECT_EQ(mold(c), "[\"a\" \"b\" \"c\"]");
    // A negative part takes the cells before the head.
    r = *c;
    r.data1 = 2;
    block::take(&r, I(-1), false, false);
    EXPECT_EQ(mold(&r), "[\"b\"]");
    EXPECT_EQ(mold(c), "[\"a\" \"c\"]");
    // At the tail: none.
    r = *c;
    r.data1 = 2;
    block::take(&r, absent(), false, false);
    EXPECT_EQ(r.type(), TYPE_NONE);
    // /deep copies the series inside the taken cells.
    cell* d = B("[ x ] y");
    cell inner = *block::cell_at(d, 0);
    collector::Root inner_root(inner);
    r = *d;
    block::take(&r, I(1), true, false);
    cell taken = *block::cell_at(&r, 0);
    collector::Root taken_root(taken);
    EXPECT_NE(taken.data2, inner.data2);
    EXPECT_EQ(mold(&taken), "[\"x\"]");
}

TEST_F(BlockTest, ReverseWithSkip) {
    cell* b = B("a b c d e g");
    cell r = *b;
    collector::Root r_root(r);
    series::reverse(&r, absent(), absent());
    EXPECT_EQ(form(b), "g e d c b a");
    r = *b;
    series::reverse(&r, absent(), I(2));
    EXPECT_EQ(form(b), "b a d c g e");
    r = *b;
    series::reverse(&r, I(4), absent());
    EXPECT_EQ(form(b), "c d a b g e");
    r = *b;
    series::reverse(&r, absent(), I(6));  // one record: nothing moves
    EXPECT_EQ(form(b), "c d a b g e");
    EXPECT_EQ(script_error([&] { cell x = *b; series::reverse(&x, absent(), I(4)); }),
              error::Script::invalid_refine_arg);
    EXPECT_EQ(script_error([&] { cell x = *b; series::reverse(&x, absent(), I(0)); }),
              error::Script::out_of_range);
}

TEST_F(BlockTest, MoveAndSwap) {
    cell* a = B("a b c d e");
    cell* t = B("x y");
    cell o = *a;
    collector::Root o_root(o);
    o.data1 = 1;
    series::move(&o, t, I(2));  // b c into the other block at its head
    EXPECT_EQ(form(a), "a d e");
    EXPECT_EQ(form(t), "b c x y");
    // Within one block, forward to the tail.
    cell* s = B("a b c d e");
    o = *s;
    cell to = *s;
    collector::Root to_root(to);
    to.data1 = 5;
    series::move(&o, &to, I(2));
    EXPECT_EQ(form(s), "c d e a b");
    // Backward.
    o = *s;
    o.data1 = 3;
    to = *s;
    to.data1 = 0;
    series::move(&o, &to, absent());
    EXPECT_EQ(form(s), "a c d e b");
    // Three of five to one-based 4: nothing moves, the origin answers.
    cell* f = B("a b c d e");
    o = *f;
    to = *f;
    to.data1 = 3;
    cell* r = series::move(&o, &to, I(3));
    EXPECT_EQ(r, &o);
    EXPECT_EQ(form(f), "a b c d e");
    // Between a block and a string: move-bad.
    EXPECT_EQ(script_error([&] { cell x = *f; series::move(&x, S("str"), absent()); }),
              error::Script::move_bad);

    cell* p = B("a b");
    cell* q = B("c d");
    cell pa = *p, qa = *q;
    collector::Root pa_root(pa);
    qa.data1 = 1;
    block::swap(&pa, &qa);
    EXPECT_EQ(form(p), "d b");
    EXPECT_EQ(form(q), "c a");
    EXPECT_EQ(script_error([&] { cell x = *p; block::swap(&x, S("s")); }), error::Script::invalid_arg);
}

TEST_F(BlockTest, MakeAndTo) {
    cell* spec = B("a b");
    cell r{};
    collector::Root r_root(r);  // holds each result
    block::make(&r, spec, TYPE_BLOCK);
    EXPECT_EQ(mold(&r), "[\"a\" \"b\"]");
    EXPECT_NE(r.data2, spec->data2);
    cell n = integer(10);
    block::make(&r, &n, TYPE_PAREN);
    EXPECT_EQ(r.type(), TYPE_PAREN);
    EXPECT_EQ(length(&r), 0);
    EXPECT_GE(series::buffer_of(&r)->capacity, 10u * sizeof(cell));
    EXPECT_EQ(script_error([&] { cell x; block::make(&x, S("s"), TYPE_BLOCK); }), error::Script::bad_make_arg);
    cell t;
    logic::make_at(&t, true);
    block::to(&r, &t, TYPE_BLOCK);
    EXPECT_EQ(mold(&r), "[true]");
    block::to(&r, spec, TYPE_PAREN);
    EXPECT_EQ(mold(&r), "(\"a\" \"b\")");
}

// make with a float size converts it as an integer would be: in range it
// gives room (at least one cell), outside it is out-of-range.
TEST_F(BlockTest, MakeWithAFloatSize) {
    struct Case {
        double size;
        uint32_t room;  // cells; 0: the error below
        error::Script error;
    };
    const Case cases[] = {
        {3.7, 3, error::Script::none},
        {-1.5, 1, error::Script::none},
        {0.0, 1, error::Script::none},
        {2147483648.0, 0, error::Script::out_of_range},
        {-2147483649.0, 0, error::Script::out_of_range},
        {1e300, 0, error::Script::out_of_range},
        {std::numeric_limits<double>::quiet_NaN(), 0, error::Script::out_of_range},
    };
    for (const Case& c : cases) {
        cell size;
        float_::make_in(&size, c.size);
        cell r{};
        collector::Root r_root(r);
        if (c.room) {
            block::make(&r, &size, TYPE_BLOCK);
            EXPECT_EQ(length(&r), 0) << c.size;
            EXPECT_GE(series::buffer_of(&r)->capacity, c.room * sizeof(cell)) << c.size;
        } else {
            EXPECT_EQ(script_error([&] { block::make(&r, &size, TYPE_BLOCK); }), c.error) << c.size;
        }
    }
}

TEST_F(BlockTest, InsertAppendChange) {
    struct Case {
        const char* series;
        int32_t head;
        const char* value;  // block text; "*" means the series itself
        bool only;
        int32_t part, dup;
        bool append;
        const char* expected;
        int32_t result_head;
    } cases[] = {
        {"a b", 0, "c d", false, -1, -1, true, "a b c d", 0},
        {"a b", 1, "c d", false, -1, -1, false, "a c d b", 3},
        {"a b", 1, "c d", true, -1, -1, false, "a [ c d ] b", 2},
        {"a b", 0, "c d e", false, 2, -1, true, "a b c d", 0},
        {"a b", 2, "c", false, -1, 3, false, "a b c c c", 5},
        {"a b", 0, "c d", false, -1, 2, true, "a b c d c d", 0},
        {"a b", 0, "", false, -1, -1, true, "a b", 0},
        {"a b", 0, "*", false, -1, -1, true, "a b a b", 0},         // self-append
        {"a b", 1, "*", false, -1, -1, false, "a a b b", 3},        // self-insert
        {"a b c", 0, "*", false, -1, 6, true, "a b c a b c a b c a b c a b c a b c a b c", 0},
    };
    for (const Case& c : cases) {
        cell* s = B(c.series);
        cell* v = std::string(c.value) == "*" ? s : B(c.value);
        cell* expected = B(c.expected);
        cell pos = *s;
        collector::Root pos_root(pos);
        pos.data1 = (uint32_t)c.head;
        cell val = *v;
        collector::Root val_root(val);
        if (c.append)
            block::append(&pos, &val, c.part, c.only, c.dup);
        else
            block::insert(&pos, &val, c.part, c.only, c.dup);
        EXPECT_EQ(mold(s), mold(expected)) << c.series << " + " << c.value;
        EXPECT_EQ((int32_t)pos.data1, c.result_head) << c.series << " + " << c.value;
    }
    // A value that is not a block is one cell.
    cell* s = B("a");
    cell pos = *s;
    collector::Root pos_root(pos);
    block::append(&pos, S("b"), -1, false, -1);
    EXPECT_EQ(form(s), "a b");

    struct ChangeCase {
        const char* series;
        int32_t head;
        const char* value;
        bool only;
        int32_t part, dup;
        const char* expected;
        int32_t result_head;
    } changes[] = {
        {"a b c d", 1, "x y", false, -1, -1, "a x y d", 3},
        {"a b c d", 1, "x y", false, 3, -1, "a x y", 3},
        {"a b c d", 1, "x", false, 0, -1, "a x b c d", 2},
        {"a b c d", 3, "x y z", false, -1, -1, "a b c x y z", 6},
        {"a b c d", 0, "x", true, -1, 2, "[ x ] [ x ] c d", 2},
        {"a b c d", 1, "", false, 2, -1, "a d", 1},
        {"a b c d", 0, "*", false, -1, -1, "a b c d", 4},
    };
    for (const ChangeCase& c : changes) {
        cell* s = B(c.series);
        cell* v = std::string(c.value) == "*" ? s : B(c.value);
        cell* expected = B(c.expected);
        cell pos = *s;
        collector::Root pos_root(pos);
        pos.data1 = (uint32_t)c.head;
        cell val = *v;
        collector::Root val_root(val);
        block::change(&pos, &val, c.part, c.only, c.dup);
        EXPECT_EQ(mold(s), mold(expected)) << c.series << " <- " << c.value;
        EXPECT_EQ((int32_t)pos.data1, c.result_head) << c.series << " <- " << c.value;
    }
    // A size that cannot be represented is no-memory, before anything changes.
    cell* big = B("a b");
    memory::last_internal = memory::Internal::no_memory;
    EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, [&] {
                  cell p = *big;
                  collector::Root p_root(p);
                  cell v = *big;
                  collector::Root v_root(v);
                  block::append(&p, &v, -1, false, 0x7FFFFFFF);
              }),
              sys::THROW_ERROR);
    sys::clear_throw();
    EXPECT_EQ(form(big), "a b");
}

TEST_F(BlockTest, CopyPartDeepTypes) {
    cell* b = B("a [ b [ c ] ] d");
    cell r = *b;
    collector::Root r_root(r);
    block::copy(&r, &r, I(2), false, absent());
    EXPECT_EQ(mold(&r), "[\"a\" [\"b\" [\"c\"]]]");
    EXPECT_EQ(block::cell_at(&r, 1)->data2, block::cell_at(b, 1)->data2);  // shallow
    cell neg = *b;
    collector::Root neg_root(neg);
    neg.data1 = 2;
    block::copy(&neg, &neg, I(-1), false, absent());
    EXPECT_EQ(mold(&neg), "[[\"b\" [\"c\"]]]");

    cell* held = stack::push(b);
    block::copy(held, held, absent(), true, absent());
    EXPECT_EQ(mold(held), mold(b));
    cell* inner = block::cell_at(held, 1);
    EXPECT_NE(inner->data2, block::cell_at(b, 1)->data2);
    EXPECT_NE(block::cell_at(inner, 1)->data2, block::cell_at(block::cell_at(b, 1), 1)->data2);
    EXPECT_NE(block::cell_at(held, 0)->data2, block::cell_at(b, 0)->data2);  // strings too

    cell kind;
    datatype::make_at(&kind, TYPE_BLOCK);
    cell* types = stack::push(&kind);
    cell* t = stack::push(b);
    block::copy(t, t, absent(), false, types);
    EXPECT_EQ(mold(t), "[[\"b\" [\"c\"]]]");
}

TEST_F(BlockTest, MoldIndentationFlatAndForm) {
    cell* b = B("/a b /c");
    EXPECT_EQ(mold(b), "[\n    \"a\" \"b\"\n    \"c\"\n]");
    EXPECT_EQ(mold(b, true), "[\"a\" \"b\" \"c\"]");
    cell* nested = B("x [ /a /b ]");
    EXPECT_EQ(mold(nested), "[\"x\" [\n    \"a\"\n    \"b\"\n]]");
    cell* deep = B("/p [ /a [ /z ] ]");
    EXPECT_EQ(mold(deep), "[\n    \"p\" [\n        \"a\" [\n            \"z\"\n        ]\n    ]\n]");
    EXPECT_EQ(mold(b, false, true), "\"a\" \"b\"\n\"c\"");  // /only: no brackets, no owed line
    EXPECT_EQ(form(B("a [ b c ] n t")), "a b c none true");
    EXPECT_EQ(form(B("")), "");
    EXPECT_EQ(mold(B("")), "[]");
    // A string ending in a line feed gets no blank after it.
    cell* lf = B("x");
    cell* s = S("a\n");
    cell pos = *lf;
    collector::Root pos_root(pos);
    block::insert(&pos, s, -1, false, -1);
    EXPECT_EQ(form(lf), "a\nx");
    // /part stops the walk once the budget is spent.
    TextOut o;
    cell c = *B("aaaa bbbb cccc");
    collector::Root c_root(c);
    cell* part = I(6);
    int32_t left = actions::mold_typed(&c, &o.out, false, false, false, part, 6, 0);
    EXPECT_LT(left, 1);
    EXPECT_EQ(o.text(), "[\"aaaa]");  // the string keeps to the budget; the caller cuts the rest
}

TEST_F(BlockTest, Compare) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        int32_t sign;
    } cases[] = {
        {"a b", "a b", OP_EQUAL, 0},       {"a b", "A B", OP_EQUAL, 0},
        {"a b", "A B", OP_STRICT_EQUAL, 1}, {"a b", "a", OP_EQUAL, 1},
        {"", "a", OP_LESSER, -1},          {"a", "", OP_LESSER, 1},
        {"", "", OP_SORT, 0},              {"a", "b", OP_SORT, -1},
        {"a n", "a t", OP_SORT, -1},       // none! (3) orders before logic! (4)
        {"a [ b ]", "a [ c ]", OP_SORT, -1}, {"a b", "a b c", OP_SORT, -1},
    };
    for (const Case& c : cases) {
        cell* x = B(c.a);
        cell* y = B(c.b);
        int32_t r = block::compare(x, y, c.op);
        int32_t sign = r < 0 ? -1 : r > 0 ? 1 : 0;
        EXPECT_EQ(sign, c.sign) << "[" << c.a << "] vs [" << c.b << "] op " << c.op;
    }
    // Empty blocks order consistently both ways.
    cell* e = B("");
    cell* one = B("a");
    EXPECT_TRUE(actions::compare(e, one, OP_LESSER));
    EXPECT_TRUE(actions::compare(one, e, OP_GREATER));
    EXPECT_FALSE(actions::compare(e, one, OP_GREATER_OR_EQUAL));
    // Same series: same; under op 9 another block is not the same.
    cell* a = B("a");
    EXPECT_EQ(block::compare(a, a, OP_SAME), 0);
    EXPECT_NE(block::compare(a, B("a"), OP_SAME), 0);
    EXPECT_EQ(block::compare(a, S("a"), OP_EQUAL), NOT_COMPARABLE);
}

TEST_F(BlockTest, EvalPathAndTrim) {
    cell* b = B("x 1 y 2");
    cell* r = block::eval_path(b, S("y"), nullptr, b, nullptr, nullptr, 0, false, true, false, false);
    EXPECT_EQ(form(r), "2");
    cell two = integer(2);
    r = block::eval_path(b, &two, nullptr, b, nullptr, nullptr, 0, false, true, false, false);
    EXPECT_EQ(form(r), "1");
    r = block::eval_path(b, S("x"), S("new"), b, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(form(b), "x new y 2");
    r = block::eval_path(b, &two, S("z"), b, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(form(b), "x z y 2");
    EXPECT_EQ(script_error([&] {
                  block::eval_path(b, S("absent"), S("v"), b, nullptr, nullptr, 0, false, false, false, false);
              }),
              error::Script::bad_path_set);
    r = block::eval_path(b, S("absent"), nullptr, b, nullptr, nullptr, 0, false, true, false, false);
    EXPECT_EQ(r->type(), TYPE_NONE);

    cell* t = B("n a n n b n");
    cell pos = *t;
    collector::Root pos_root(pos);
    pos.data1 = 1;
    block::trim(&pos, false, false, false, false, false, absent());
    EXPECT_EQ(mold(t), "[none \"a\" \"b\"]");
}

TEST_F(BlockTest, PathsAndParens) {
    cell* p = B("a b c");
    cell::set_type(p, TYPE_PATH);
    EXPECT_EQ(mold(p), "\"a\"/\"b\"/\"c\"");
    EXPECT_EQ(form(p), "a/b/c");
    cell::set_type(p, TYPE_LIT_PATH);
    EXPECT_EQ(mold(p), "'\"a\"/\"b\"/\"c\"");
    cell::set_type(p, TYPE_GET_PATH);
    EXPECT_EQ(mold(p), ":\"a\"/\"b\"/\"c\"");
    cell::set_type(p, TYPE_SET_PATH);
    EXPECT_EQ(mold(p), "\"a\"/\"b\"/\"c\":");
    cell* empty = B("");
    cell::set_type(empty, TYPE_SET_PATH);
    EXPECT_EQ(mold(empty), ":");
    EXPECT_EQ(mold(B("( a /b )")), "[(\"a\"\n\"b\")]");  // a later marker only breaks the line

    cell r{};
    collector::Root r_root(r);  // holds each result
    cell n = integer(3);
    actions::get_action_ptr_of<A_MAKE>(p)(&r, &n, TYPE_GET_PATH);
    EXPECT_EQ(r.type(), TYPE_GET_PATH);
    EXPECT_EQ(length(&r), 0);
    cell* blk = B("x y");
    datatype::get<A_TO>(TYPE_PATH)(&r, blk, TYPE_PATH);
    EXPECT_EQ(form(&r), "x/y");
    // sort and trim are not path actions; sort works on a paren.
    EXPECT_EQ(datatype::get<A_SORT>(TYPE_PATH), nullptr);
    EXPECT_EQ(datatype::get<A_TRIM>(TYPE_PAREN), nullptr);
    EXPECT_NE(datatype::get<A_SORT>(TYPE_PAREN), nullptr);
    EXPECT_EQ(datatype::get<A_RANDOM>(TYPE_GET_PATH), nullptr);
}

TEST_F(BlockTest, WordsInBlocksAndPaths) {
    // Numbers compare across integer! and float! unless strict.
    EXPECT_EQ(block::compare(B("i:1"), B("d:1.0"), OP_EQUAL), 0);
    EXPECT_NE(block::compare(B("i:1"), B("d:1.0"), OP_STRICT_EQUAL), 0);
    EXPECT_TRUE(actions::compare(B("i:1 i:2"), B("i:1 d:2.5"), OP_LESSER));
    EXPECT_EQ(mold(B("i:-7 d:0.1 [ i:2147483647 ]")), "[-7 0.1 [2147483647]]");

    // Words compare through their canonical symbols unless strict.
    EXPECT_EQ(block::compare(B("w:a w:b"), B("w:A w:B"), OP_EQUAL), 0);
    EXPECT_NE(block::compare(B("w:a"), B("w:A"), OP_STRICT_EQUAL), 0);
    EXPECT_EQ(mold(B("w:a [ w:b ] x")), "[a [b] \"x\"]");

    cell* p = B("w:a w:b w:c");
    struct Case {
        uint8_t type;
        const char* text;
    } cases[] = {
        {TYPE_PATH, "a/b/c"}, {TYPE_LIT_PATH, "'a/b/c"}, {TYPE_GET_PATH, ":a/b/c"}, {TYPE_SET_PATH, "a/b/c:"},
    };
    for (const Case& c : cases) {
        cell::set_type(p, c.type);
        EXPECT_EQ(mold(p), c.text);
    }
    EXPECT_EQ(form(p), "a/b/c");
    EXPECT_EQ(mold(B("( w:a w:b )")), "[(a b)]");

    // Eval-path through a word: the value after it (case-insensitively
    // unless the case flag is set), and setting it.
    cell* b = B("w:x one w:Y two w:z");
    cell k;
    word::make_at(symbol::make("y"), &k);
    cell* r = block::eval_path(b, &k, nullptr, b, nullptr, nullptr, 0, false, true, false, false);
    EXPECT_EQ(form(r), "two");
    r = block::eval_path(b, &k, nullptr, b, nullptr, nullptr, 0, true, true, false, false);
    EXPECT_EQ(r->type(), TYPE_NONE);
    word::make_at(symbol::make("z"), &k);
    r = block::eval_path(b, &k, nullptr, b, nullptr, nullptr, 0, false, true, false, false);
    EXPECT_EQ(r->type(), TYPE_NONE);  // the last cell has nothing after it
    word::make_at(symbol::make("x"), &k);
    block::eval_path(b, &k, S("uno"), b, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(form(b), "x uno Y two z");
    cell pos = *b;
    collector::Root pos_root(pos);
    block::find(&pos, &k, absent(), false, false, false, false, absent(), absent(), false, false, false, false);
    EXPECT_EQ(pos.data1, 0u);
}

}  // namespace
