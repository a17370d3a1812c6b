// block!: find, select, put, sort (against std::stable_sort), set
// operations, and the cycle stack's part in mold, form, compare and copy.
#include <algorithm>
#include <map>
#include <random>

#include "runtime/collector.h"
#include "runtime/ownership.h"
#include "tests/datatypes/block_test.h"

using namespace datatype;

namespace {

class BlockSearchTest : public BlockTest {
protected:
    // Head index of a find, or -1 for none.
    int32_t find(cell* b, cell* value, std::initializer_list<const char*> refinements,
                 cell* part = nullptr, cell* skip = nullptr) {
        bool only = false, case_ = false, same = false, last = false, reverse = false, tail = false,
             match = false;
        for (std::string r : refinements) {
            only |= r == "only";
            case_ |= r == "case";
            same |= r == "same";
            last |= r == "last";
            reverse |= r == "reverse";
            tail |= r == "tail";
            match |= r == "match";
        }
        cell pos = *b;
        block::find(&pos, value, part ? part : absent(), only, case_, same, false, absent(),
                    skip ? skip : absent(), last, reverse, tail, match);
        return pos.type() == TYPE_NONE ? -1 : (int32_t)pos.data1;
    }
};

// Puts back the comparator the interpreter installed.
struct KeepComparator {
    block::CompareCallback saved = block::compare_callback;
    ~KeepComparator() { block::compare_callback = saved; }
};

TEST_F(BlockSearchTest, FindRefinements) {
    cell* b = B("a b c A b c [ b c ]");
    cell at2 = *b;
    at2.data1 = 2;
    cell limit = *b;
    limit.data1 = 4;
    struct Case {
        cell* value;
        std::initializer_list<const char*> refinements;
        cell* part;
        cell* skip;
        int32_t expected;
        const char* what;
    } cases[] = {
        {S("b"), {}, nullptr, nullptr, 1, "single value"},
        {S("A"), {}, nullptr, nullptr, 0, "case-insensitive by default"},
        {S("A"), {"case"}, nullptr, nullptr, 3, "case"},
        {B("b c"), {}, nullptr, nullptr, 1, "a sequence"},
        {B("b c"), {"only"}, nullptr, nullptr, 6, "a block as one value"},
        {B("b c"), {"tail"}, nullptr, nullptr, 3, "tail of a sequence"},
        {S("b"), {"tail"}, nullptr, nullptr, 2, "tail of a value"},
        {S("b"), {"last"}, nullptr, nullptr, 4, "last"},
        {S("b"), {"last", "tail"}, nullptr, nullptr, 5, "last/tail: one cell on"},
        {S("a"), {"match"}, nullptr, nullptr, 0, "match at the head"},
        {S("b"), {"match"}, nullptr, nullptr, -1, "match tests the head only"},
        {S("c"), {}, I(2), nullptr, -1, "part of 2"},
        {S("c"), {}, I(3), nullptr, 2, "part of 3"},
        {S("A"), {"case"}, &limit, nullptr, 3, "part as a position includes it"},
        {S("c"), {}, nullptr, I(2), 2, "skip 2"},
        {S("b"), {}, nullptr, I(2), 4, "skip 2 passes over position 1"},
        {S("zzz"), {}, nullptr, nullptr, -1, "absent"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(find(b, c.value, c.refinements, c.part, c.skip), c.expected) << c.what;
    // /reverse searches backwards from just before the head.
    cell from4 = *b;
    from4.data1 = 4;
    EXPECT_EQ(find(&from4, S("b"), {"reverse"}), 1);
    EXPECT_EQ(find(&from4, S("c"), {"reverse"}), 2);
    EXPECT_EQ(find(&at2, S("b"), {}), 4);
    // By datatype.
    cell dt;
    datatype::make_at(&dt, TYPE_BLOCK);
    EXPECT_EQ(find(b, &dt, {}), 6);
    EXPECT_EQ(find(b, &dt, {"only"}), -1);
    EXPECT_EQ(script_error([&] { find(b, S("a"), {}, nullptr, I(0)); }), error::Script::out_of_range);
    EXPECT_EQ(find(B(""), S("a"), {}), -1);
}

TEST_F(BlockSearchTest, SelectAndPut) {
    cell* b = B("x 1 y 2 [ p q ] 3 z");
    auto select = [&](cell* v, bool only) {
        cell pos = *b;
        block::select(&pos, v, absent(), only, false, false, false, absent(), absent(), false, false);
        return pos.type() == TYPE_NONE ? std::string("none") : form(&pos);
    };
    EXPECT_EQ(select(S("y"), false), "2");
    EXPECT_EQ(select(S("z"), false), "none");  // the last value
    EXPECT_EQ(select(B("1 y"), false), "2");   // after the whole sequence
    EXPECT_EQ(select(B("p q"), true), "3");
    EXPECT_EQ(select(S("w"), false), "none");

    cell* m = B("k v");
    cell pos = *m;
    block::put(&pos, S("k2"), S("v2"), false);
    EXPECT_EQ(form(m), "k v k2 v2");
    EXPECT_EQ(form(&pos), "v2");
    pos = *m;
    block::put(&pos, S("K"), S("new"), false);
    EXPECT_EQ(form(m), "k new k2 v2");
    pos = *m;
    block::put(&pos, S("K"), S("x"), true);  // /case: K is another key
    EXPECT_EQ(form(m), "k new k2 v2 K x");
    cell* last = B("a b c");
    pos = *last;
    block::put(&pos, S("c"), S("d"), false);  // the key is last: a new tail cell
    EXPECT_EQ(form(last), "a b c d");
}

// --- Sorting --------------------------------------------------------------------------

// Records of the sort tests: a zero-padded key string followed by payload
// strings; every cell's node says which record and key it came from.
struct Fixture {
    std::map<uint32_t, std::pair<int, int>> by_node;  // node -> (key, record index)
};
Fixture* current = nullptr;

int key_of(const cell* c) { return current->by_node.at(c->data2).first; }

// The C++ comparator behind the callback seam: answers "a < b" as the
// language's `func [a b] [a < b]` would.
void less_than(cell* function, cell* a, cell* b, cell* result) {
    logic::make_at(result, key_of(a) < key_of(b));
}

std::vector<int> pattern(const std::string& kind, int n, std::mt19937& rng) {
    std::vector<int> v(n);
    for (int i = 0; i < n; i++) {
        if (kind == "random") v[i] = (int)(rng() % (uint32_t)(n / 4 + 1));
        else if (kind == "equal") v[i] = 7;
        else if (kind == "ascending") v[i] = i;
        else if (kind == "descending") v[i] = n - i;
        else if (kind == "organ") v[i] = i < n / 2 ? i : n - i;
        else v[i] = i;  // nearly sorted
    }
    if (kind == "nearly")
        for (int k = 0; k < n / 20 + 1 && n > 1; k++) std::swap(v[rng() % n], v[rng() % n]);
    return v;
}

// One test per input shape, so that sharded runs spread them.
class SortShapes : public BlockSearchTest, public testing::WithParamInterface<const char*> {};

TEST_P(SortShapes, AgreeWithStdStableSort) {
    KeepComparator keep;  // the interpreter's comparator comes back afterwards
    std::mt19937 rng(12345);
    int sizes[] = {0, 1, 2, 3, 7, 8, 9, 24, 25, 63, 64, 100, 512, 600};
    const char* kind = GetParam();
    for (int n : sizes) {
        for (int w = 1; w <= 3; w++) {
            for (int variant = 0; variant < 4; variant++) {  // qsort, stable, stable/reverse, /compare
                cell* top = stack::arguments.top;
                Fixture fx;
                current = &fx;
                std::vector<int> keys = pattern(kind, n, rng);
                cell* b = block::push_new(n * w);
                for (int i = 0; i < n; i++) {
                    for (int k = 0; k < w; k++) {
                        char text[16];
                        snprintf(text, sizeof text, k ? "p%d" : "%06d", k ? i : keys[i]);
                        cell* s = S(text);
                        fx.by_node[s->data2] = {keys[i], i};
                        block::append_cell_copy(series::node_of(b), s);
                        stack::pop(1);
                    }
                }
                std::vector<int> order(n);
                for (int i = 0; i < n; i++) order[i] = i;
                bool reverse = variant == 2;
                std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
                    return reverse ? keys[x] > keys[y] : keys[x] < keys[y];
                });
                cell pos = *b;
                cell* skip = w > 1 ? I(w) : absent();
                cell fn{TYPE_FUNCTION, 0, 0, 0};
                cell* compare = absent();
                if (variant == 3) {
                    block::compare_callback = less_than;
                    compare = stack::push(&fn);
                }
                block::sort(&pos, false, skip, compare, absent(), false, reverse, variant != 0);
                block::compare_callback = nullptr;
                // Every record is whole, keys are in order, and the
                // stable sorts keep equal keys in input order.
                for (int i = 0; i < n; i++) {
                    const cell* rec = block::cell_at(b, i * w);
                    auto first = fx.by_node.at(rec->data2);
                    ASSERT_EQ(first.first, keys[order[i]]) << kind << " n=" << n << " w=" << w << " v=" << variant;
                    if (variant != 0)
                        ASSERT_EQ(first.second, order[i]) << kind << " n=" << n << " w=" << w << " v=" << variant;
                    for (int k = 1; k < w; k++)
                        ASSERT_EQ(fx.by_node.at(block::cell_at(b, i * w + k)->data2).second, first.second);
                }
                stack::arguments.top = top;
            }
        }
    }
    current = nullptr;
}
INSTANTIATE_TEST_SUITE_P(Kinds, SortShapes,
                         testing::Values("random", "equal", "ascending", "descending", "organ", "nearly"));

// Under /compare/all/skip the comparator gets whole records as blocks:
// this one orders them by their second cell.
void by_second(cell* function, cell* a, cell* b, cell* result) {
    EXPECT_EQ(a->type(), TYPE_BLOCK);
    EXPECT_EQ(series::length_of(a), 2);
    logic::make_at(result, string::compare_values(block::cell_at(a, 1), block::cell_at(b, 1), OP_SORT, false) < 0);
}

TEST_F(BlockSearchTest, SortRefinements) {
    KeepComparator keep;  // the interpreter's comparator comes back afterwards
    cell* b = B("c 1 a 3 b 2");
    cell pos = *b;
    block::sort(&pos, false, I(2), absent(), absent(), false, false, false);
    EXPECT_EQ(form(b), "a 3 b 2 c 1");
    pos = *b;
    block::sort(&pos, false, I(2), I(2), absent(), false, false, true);  // by the second cell
    EXPECT_EQ(form(b), "c 1 b 2 a 3");
    pos = *b;
    block::sort(&pos, false, I(2), absent(), absent(), true, true, true);  // /all /reverse
    EXPECT_EQ(form(b), "c 1 b 2 a 3");
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    block::compare_callback = by_second;
    pos = *b;
    block::sort(&pos, false, I(2), stack::push(&fn), absent(), true, false, false);
    block::compare_callback = nullptr;
    EXPECT_EQ(form(b), "c 1 b 2 a 3");
    pos = *b;
    block::sort(&pos, false, I(2), absent(), absent(), false, false, false);
    cell* c = B("d c b a");
    pos = *c;
    pos.data1 = 1;
    block::sort(&pos, false, absent(), absent(), I(2), false, false, false);  // /part
    EXPECT_EQ(form(c), "d b c a");
    pos = *c;
    pos.data1 = 3;
    block::sort(&pos, false, absent(), absent(), I(-3), false, false, false);  // before the head
    EXPECT_EQ(form(c), "b c d a");
    EXPECT_EQ(pos.data1, 0u);
    cell* k = B("b A a B");
    pos = *k;
    block::sort(&pos, true, absent(), absent(), absent(), false, false, true);  // /case
    EXPECT_EQ(form(k), "A B a b");

    struct Bad {
        cell* skip;
        cell* compare;
        bool all;
        error::Script expected;
    } bad[] = {
        {I(4), absent(), false, error::Script::invalid_refine_arg},
        {I(0), absent(), false, error::Script::invalid_refine_arg},
        {absent(), absent(), true, error::Script::bad_refines},
        {absent(), I(1), false, error::Script::bad_refines},
        {I(2), I(3), false, error::Script::out_of_range},
        {I(2), S("x"), false, error::Script::invalid_refine_arg},
    };
    for (const Bad& e : bad)
        EXPECT_EQ(script_error([&] {
                      cell p = *b;
                      block::sort(&p, false, e.skip, e.compare, absent(), e.all, false, false);
                  }),
                  e.expected);
}

// A comparator that empties the series it sorts, and one that raises.
cell* sorted_series = nullptr;
int calls = 0;
void clearing(cell* function, cell* a, cell* b, cell* result) {
    if (++calls == 3) block::clear_from_head(sorted_series);
    for (int i = 0; i < 64; i++) memory::alloc_cells(8);  // allocates, as a function would
    logic::make_at(result, string::compare_values(a, b, OP_SORT, false) < 0);
}
void raising(cell* function, cell* a, cell* b, cell* result) {
    if (++calls == 5) error::raise_script(error::Script::invalid_arg, a);
    logic::make_at(result, string::compare_values(a, b, OP_SORT, false) < 0);
}

TEST_F(BlockSearchTest, ComparatorThatChangesTheSeriesOrRaises) {
    KeepComparator keep;  // the interpreter's comparator comes back afterwards
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    for (bool stable : {false, true}) {
        cell* b = B("q w e r t y u i o p a s d f g h j k l");
        cell whole = *b;
        sorted_series = &whole;
        calls = 0;
        block::compare_callback = clearing;
        cell pos = *b;
        block::sort(&pos, false, absent(), stack::push(&fn), absent(), false, false, stable);
        EXPECT_EQ(length(b), 0);  // nothing written past the new tail

        cell* c = B("q w e r t y u i o p a s d f g h j k l");
        std::string before = form(c);
        calls = 0;
        block::compare_callback = raising;
        EXPECT_EQ(script_error([&] {
                      cell p = *c;
                      block::sort(&p, false, absent(), stack::push(&fn), absent(), false, false, stable);
                  }),
                  error::Script::invalid_arg);
        EXPECT_EQ(form(c), before);  // the sort's own copy took the partial order
    }
    block::compare_callback = nullptr;
    EXPECT_EQ(internal_error([&] {
                  cell p = *B("b a");
                  block::sort(&p, false, absent(), stack::push(&fn), absent(), false, false, false);
              }),
              error::Internal::not_done);
}

TEST_F(BlockSearchTest, SetOperations) {
    struct Case {
        int32_t op;
        const char* a;
        const char* b;
        int32_t skip;
        bool case_;
        const char* expected;
    } cases[] = {
        {8, "a b a c b", "", 1, false, "a b c"},
        {8, "a A b", "", 1, false, "a b"},
        {8, "a A b", "", 1, true, "a A b"},
        {8, "a 1 a 2 b 3", "", 2, false, "a 1 b 3"},
        {9, "a b", "b c a d", 1, false, "a b c d"},
        {10, "a b c d", "d x a", 1, false, "a d"},  // the first block's order
        {11, "a b c d", "d x a", 1, false, "b c"},
        {12, "a b c", "c d", 1, false, "a b d"},
        {12, "k 1 j 2", "k 3 m 4", 2, false, "j 2 m 4"},
        {8, "[ a ] [ a ] [ b ]", "", 1, false, "[ a ] [ b ]"},
        {10, "[ a ] t [ b ]", "[ b ] n", 1, false, "[ b ]"},
        {8, "", "", 1, false, ""},
    };
    for (const Case& c : cases) {
        cell* a = B(c.a);
        cell* b = B(c.b);
        cell* expected = B(c.expected);
        cell r = *a;
        collector::Root hold(r);  // the result block is held by this C++ cell only
        block::do_set_op(c.op, &r, b, c.skip, c.case_);
        EXPECT_EQ(mold(&r), mold(expected)) << c.op << " [" << c.a << "] [" << c.b << "]";
        EXPECT_EQ(r.type(), TYPE_BLOCK);
        EXPECT_EQ(form(a), form(B(c.a)));  // the arguments are not changed
    }
    EXPECT_EQ(script_error([&] {
                  cell r = *B("a");
                  block::do_set_op(8, &r, B(""), 0, false);
              }),
              error::Script::invalid_refine_arg);
}

// --- Cycle stack ------------------------------------------------------------------------

TEST_F(BlockSearchTest, BlockThatContainsItself) {
    cell* b = B("a b");
    cell self = *b;
    block::append_cell_copy(series::node_of(b), &self);
    EXPECT_EQ(mold(b), "[\"a\" \"b\" [...]]");
    EXPECT_EQ(form(b), "a b ...");
    cell* p = B("a");
    cell::set_type(p, TYPE_PAREN);
    cell ps = *p;
    block::append_cell_copy(series::node_of(p), &ps);
    EXPECT_EQ(mold(p), "(\"a\" (...))");
    cell* path = B("a");
    cell::set_type(path, TYPE_PATH);
    cell pth = *path;
    block::append_cell_copy(series::node_of(path), &pth);
    EXPECT_EQ(mold(path), "\"a\"/...");

    EXPECT_EQ(internal_error([&] {
                  cell* r = stack::push(b);
                  block::copy(r, r, absent(), true, absent());
              }),
              error::Internal::no_cycle);
    EXPECT_EQ(cycles::depth(), 0u);
    // Comparing it with a copy of itself ends.
    cell* shallow = stack::push(b);
    block::copy(shallow, shallow, absent(), false, absent());
    EXPECT_EQ(block::compare(b, shallow, OP_EQUAL), 0);
    EXPECT_EQ(cycles::depth(), 0u);
    // Ownership marking walks it once.
    cell owner{TYPE_OBJECT, 0, 0, 0}, word{TYPE_WORD, 0, 1, 0};
    ownership::set_deep(b, &owner, &word);
    EXPECT_NE(ownership::find(series::node_of(b)), nullptr);
    ownership::unset(b);
    EXPECT_EQ(ownership::find(series::node_of(b)), nullptr);
}

TEST_F(BlockSearchTest, NestingDepthLimit) {
    auto nested = [&](int levels) {
        cell* outer = block::push_new(1);
        cell inner = *outer;
        for (int i = 1; i < levels; i++) {
            cell* next = block::push_new(1);
            block::append_cell_copy(series::node_of(&inner), next);
            inner = *next;
            stack::pop(1);
        }
        return outer;
    };
    cell* ok = nested(999);
    std::string text = mold(ok);
    EXPECT_EQ(text.size(), 999u * 2);
    EXPECT_EQ(cycles::depth(), 0u);
    cell* deep = nested(1000);
    EXPECT_EQ(internal_error([&] { mold(deep); }), error::Internal::too_deep);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(internal_error([&] { form(deep); }), error::Internal::too_deep);
    cell* other = nested(1000);  // a compare pushes both sides at each level
    EXPECT_EQ(internal_error([&] { block::compare(deep, other, OP_EQUAL); }), error::Internal::too_deep);
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::pop();  // never below the base
    cycles::pop_n(5);
    EXPECT_EQ(cycles::stack.top, cycles::stack.base);
}

TEST_F(BlockSearchTest, ErrorInsideAWalkPopsItsEntries) {
    // A cell of a type that has no actions: molding, forming or deep-copying
    // it raises in the middle of the walk.
    cell* b = B("a [ b [ c ] ]");
    cell* inner = block::cell_at(block::cell_at(b, 1), 1);
    cell bad{TYPE_SYMBOL, 0, 0, 0};  // symbol! has no form or mold
    block::append_cell_copy(series::node_of(inner), &bad);
    EXPECT_EQ(script_error([&] { mold(b); }), error::Script::expect_arg);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(script_error([&] { form(b); }), error::Script::expect_arg);
    EXPECT_EQ(cycles::depth(), 0u);
    cell vec = *block::cell_at(b, 1);
    cell::set_type(&vec, TYPE_VECTOR);
    inner = block::cell_at(block::cell_at(b, 1), 1);  // molding allocated: buffers may have moved
    block::append_cell_copy(series::node_of(inner), &vec);
    // A series type whose copy is taken away for the walk.
    datatype::ActionFn& entry = datatype::action_table[TYPE_VECTOR * datatype::ROW_SIZE + datatype::A_COPY - 1];
    datatype::ActionFn kept = entry;
    entry = nullptr;
    EXPECT_EQ(script_error([&] {
                  cell* r = stack::push(b);
                  block::copy(r, r, absent(), true, absent());
              }),
              error::Script::expect_arg);
    entry = kept;
    EXPECT_EQ(cycles::depth(), 0u);
}

}  // namespace
