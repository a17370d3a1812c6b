// hash! through the action table: construction, mold, copy, and the index
// upkeep of every modifying block! action, checked by running the same
// operations on a hash! and on a block! and comparing find and select.
#include "datatypes/hash.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "runtime/collector.h"
#include "tests/datatypes/text.h"

using namespace datatype;

namespace {

class HashTest : public WindowTest {
protected:
    static cell I(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    static cell W(const char* name) {
        cell w;
        return *word::make_at(symbol::make(name), &w);
    }
    static cell S(const char* text) {
        return *unicode::load_utf8_new((const uint8_t*)text, (uint32_t)strlen(text), stack::push_cell());
    }
    static cell* blk(std::initializer_list<cell> values) {
        cell* b = block::push_new((int32_t)values.size() + 1);
        for (const cell& v : values) block::append_cell_copy(series::node_of(b), &v);
        return b;
    }
    static cell* make_hash(cell* spec) {
        cell* h = stack::push_cell();
        return get<A_MAKE>(TYPE_HASH)(h, spec, TYPE_HASH);
    }
    static std::string mold(cell* v, bool only = false) {
        TextOut o;
        actions::mold_typed(v, &o.out, only, false, false, nullptr, NO_LIMIT, 0);
        return o.text();
    }
public:
    static cell* absent() { return series::ABSENT; }
    // find from `at` (a cell index): the found index, or -1.
    int64_t find(cell* s, int32_t at, const cell& value, bool last = false, bool reverse = false,
                 bool case_ = false) {
        cell* top = stack::arguments.top;
        cell* r = stack::push(s);
        r->data1 = (uint32_t)at;
        cell* v = stack::push(&value);
        cell* no = absent();
        get<A_FIND>(r->type())(r, v, no, false, case_, false, false, no, no, last, reverse, false, false);
        int64_t result = r->type() == TYPE_NONE ? -1 : (int64_t)r->data1;
        stack::arguments.top = top;
        return result;
    }
    // select from `at`: the answer's four words (both series hold copies of
    // the same cells, so equal answers are identical words).
    std::string select(cell* s, int32_t at, const cell& value) {
        cell* top = stack::arguments.top;
        cell* r = stack::push(s);
        r->data1 = (uint32_t)at;
        cell* v = stack::push(&value);
        cell* no = absent();
        get<A_SELECT>(r->type())(r, v, no, false, false, false, false, no, no, false, false);
        std::string words((const char*)r, sizeof(cell));
        stack::arguments.top = top;
        return words;
    }
};

TEST_F(HashTest, MakeMoldFind) {
    cell zero = I(0);
    cell* e = make_hash(&zero);
    EXPECT_EQ(e->type(), TYPE_HASH);
    EXPECT_NE(e->data3, 0u);
    EXPECT_EQ(mold(e), "make hash! []");
    cell* h = make_hash(blk({W("a"), W("b"), W("a"), W("c")}));
    EXPECT_EQ(mold(h), "make hash! [a b a c]");
    EXPECT_EQ(mold(h, true), "a b a c");
    EXPECT_EQ(find(h, 0, W("a")), 0);
    EXPECT_EQ(find(h, 1, W("a")), 2);
    EXPECT_EQ(find(h, 3, W("a")), -1);
    EXPECT_EQ(find(h, 0, W("a"), true), 2);
    EXPECT_EQ(find(h, 2, W("a"), false, true), 0);
    cell bw = W("b"), none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(select(h, 0, W("a")), std::string((const char*)&bw, sizeof bw));
    EXPECT_EQ(select(h, 0, W("c")), std::string((const char*)&none, sizeof none));
    // to from another type goes through the block conversion
    cell* t = stack::push_cell();
    cell* b = blk({I(1), I(2)});
    get<A_TO>(TYPE_HASH)(t, b, TYPE_HASH);
    EXPECT_EQ(mold(t), "make hash! [1 2]");
    EXPECT_NE(t->data2, b->data2);
}

TEST_F(HashTest, CopyAndSort) {
    cell* h = make_hash(blk({I(3), I(1), I(2), I(1)}));
    cell* c = stack::push_cell();
    get<A_COPY>(TYPE_HASH)(h, c, absent(), false, absent());
    EXPECT_EQ(c->type(), TYPE_HASH);
    EXPECT_NE(c->data3, h->data3);
    EXPECT_EQ(find(c, 0, I(2)), 2);
    // a copy from a later head gets an index of its own length
    cell* from = stack::push(h);
    from->data1 = 2;
    cell* d = stack::push_cell();
    get<A_COPY>(TYPE_HASH)(from, d, absent(), false, absent());
    EXPECT_EQ(mold(d), "make hash! [2 1]");
    EXPECT_EQ(find(d, 0, I(1)), 1);
    cell* no = absent();
    get<A_SORT>(TYPE_HASH)(h, false, no, no, no, false, false, false);
    EXPECT_EQ(mold(h), "make hash! [1 1 2 3]");
    EXPECT_EQ(find(h, 0, I(3)), 3);
    EXPECT_EQ(find(h, 1, I(1)), 1);
    EXPECT_EQ(find(h, 2, I(1)), -1);
}

// The differential test: a table of modifying actions, each applied at a
// random position with random values to a hash! and to a block! holding the
// same values; after every step find (forward, /last, /reverse, /case) and
// select must answer alike on both from every position.
TEST_F(HashTest, IndexFollowsEveryModifyingAction) {
    std::vector<cell> universe = {W("a"), W("b"), W("c"), I(1), I(2), I(3), S("x"), S("X"),
                                  cell{TYPE_NONE, 0, 0, 0}};
    // Held on the stack: the strings' series stay rooted.
    for (cell& u : universe) u = *stack::push(&u);
    // Both series start from the same cells (one string series for "x").
    cell* h = make_hash(blk({W("a"), W("b"), W("a"), I(1), universe[6]}));
    cell* b = blk({W("a"), W("b"), W("a"), I(1), universe[6]});
    std::mt19937 rng(21);
    auto pick = [&](int32_t n) { return n <= 0 ? 0 : (int32_t)(rng() % (uint32_t)n); };
    auto any = [&]() { return universe[(size_t)pick((int32_t)universe.size())]; };

    // One step: the same action on the series `s` (a stack cell at the chosen
    // head) with the arguments drawn once for both series.
    struct Args {
        int32_t at, at2, n;
        cell v, w;
    };
    using Op = std::function<void(HashTest*, cell* s, const Args& a)>;
    auto at = [](cell* s, int32_t i) {
        cell* r = stack::push(s);
        r->data1 = (uint32_t)i;
        return r;
    };
    const std::vector<std::pair<const char*, Op>> ops = {
        {"insert", [&](HashTest* t, cell* s, const Args& a) {
             get<A_INSERT>(s->type())(at(s, a.at), stack::push(&a.v), -1, false, a.n % 3 == 0 ? 2 : -1);
         }},
        {"append", [&](HashTest* t, cell* s, const Args& a) {
             get<A_APPEND>(s->type())(at(s, a.at), stack::push(&a.v), -1, false, -1);
         }},
        {"insert block", [&](HashTest* t, cell* s, const Args& a) {
             cell* two = blk({a.v, a.w});
             get<A_INSERT>(s->type())(at(s, a.at), two, -1, false, -1);
         }},
        {"change", [&](HashTest* t, cell* s, const Args& a) {
             get<A_CHANGE>(s->type())(at(s, a.at), stack::push(&a.v), -1, false, -1);
         }},
        {"change part", [&](HashTest* t, cell* s, const Args& a) {
             cell* two = blk({a.v, a.w});
             get<A_CHANGE>(s->type())(at(s, a.at), two, a.n % 4, false, -1);
         }},
        {"remove", [&](HashTest* t, cell* s, const Args& a) {
             cell part = I(a.n % 3 + 1);
             get<A_REMOVE>(s->type())(at(s, a.at), stack::push(&part), t->absent());
         }},
        {"poke", [&](HashTest* t, cell* s, const Args& a) {
             if (block::length_of(s) == 0) return;
             int32_t i = a.at2 % block::length_of(s) + 1;
             cell ic = I(i);
             get<A_POKE>(s->type())(at(s, 0), i, stack::push(&a.v), stack::push(&ic));
         }},
        {"put", [&](HashTest* t, cell* s, const Args& a) {
             get<A_PUT>(s->type())(at(s, 0), stack::push(&a.v), stack::push(&a.w), false);
         }},
        {"swap", [&](HashTest* t, cell* s, const Args& a) {
             get<A_SWAP>(s->type())(at(s, a.at), at(s, a.at2));
         }},
        {"reverse", [&](HashTest* t, cell* s, const Args& a) {
             get<A_REVERSE>(s->type())(at(s, a.at), t->absent(), t->absent());
         }},
        {"move", [&](HashTest* t, cell* s, const Args& a) {
             cell part = I(a.n % 2 + 1);
             get<A_MOVE>(s->type())(at(s, a.at), at(s, a.at2), stack::push(&part));
         }},
        {"clear", [&](HashTest* t, cell* s, const Args& a) {
             // rarely, and never from the head, so the series keeps some cells
             if (a.n % 5 == 0) get<A_CLEAR>(s->type())(at(s, a.at + 2));
         }},
        {"sort", [&](HashTest* t, cell* s, const Args& a) {
             cell* no = t->absent();
             get<A_SORT>(s->type())(at(s, a.at), a.n % 2 == 0, no, no, no, false, a.n % 3 == 0, true);
         }},
        {"trim", [&](HashTest* t, cell* s, const Args& a) {
             cell* no = t->absent();
             get<A_TRIM>(s->type())(at(s, a.at), false, false, false, false, false, no);
         }},
        {"take", [&](HashTest* t, cell* s, const Args& a) {
             cell part = I(a.n % 3 + 1);
             get<A_TAKE>(s->type())(at(s, a.at), a.n % 2 ? stack::push(&part) : t->absent(), false,
                                     a.n % 4 == 0);
         }},
    };
    for (int step = 0; step < 150; step++) {
        size_t k = (size_t)pick((int32_t)ops.size());
        int32_t len = block::length_of(b);
        Args a{pick(len + 1), pick(len + 1), pick(1000), any(), any()};
        for (cell* s : {h, b}) {
            cell* top = stack::arguments.top;
            ops[k].second(this, s, a);
            stack::arguments.top = top;
        }
        if (step % 50 == 0) collector::collect();
        ASSERT_EQ(mold(h, true), mold(b, true)) << "after " << ops[k].first << " at step " << step;
        len = block::length_of(b);
        for (const cell& u : universe) {
            for (int32_t from = 0; from <= len; from++) {
                ASSERT_EQ(find(h, from, u), find(b, from, u))
                    << ops[k].first << " step " << step << " find " << mold((cell*)&u) << " from " << from;
                // /last: the table looks from the head, the scan from the start
                if (from == 0) {
                    ASSERT_EQ(find(h, 0, u, true), find(b, 0, u, true)) << ops[k].first << " /last";
                }
                ASSERT_EQ(find(h, from, u, false, true), find(b, from, u, false, true))
                    << ops[k].first << " /reverse";
                ASSERT_EQ(find(h, from, u, false, false, true), find(b, from, u, false, false, true))
                    << ops[k].first << " /case";
                ASSERT_EQ(select(h, from, u), select(b, from, u)) << ops[k].first << " select";
            }
        }
    }
}

}  // namespace
