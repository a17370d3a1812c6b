// The ownership table: marking, reporting through the owner's handler hook,
// actions that survive a handler changing the series, and weakness.
#include "runtime/ownership.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "tests/datatypes/block_test.h"

using namespace datatype;

namespace {

struct Event {
    std::string action;
    int32_t index, count;
};
std::vector<Event> events;
std::function<void(cell* value)> on_change;  // runs at each present-tense report

void record(cell* owner, cell* word, cell* value, int32_t action, int32_t index, int32_t count,
            cell* extra) {
    std::string name = symbol::to_cstr(action);
    events.push_back({name, index, count});
    bool present = name.size() < 3 || (name.compare(name.size() - 2, 2, "ed") != 0 && name != "taken");
    if (present && on_change) on_change(value);
}

class OwnershipTest : public BlockTest {
protected:
    // An object! stand-in: word 1 its context node, word 3 its handler
    // record (0: no handlers).
    cell owner{TYPE_OBJECT, 0, 1000001, 1};
    cell field{TYPE_WORD, 0, 0, (uint32_t)-1};
    // The object module's seams, put back after each test: the owners here
    // are bare cells without contexts.
    ownership::FireFn saved_fire = nullptr;
    ownership::WalkFn saved_walk = nullptr;
    ownership::OwnerMarkFn saved_mark = nullptr;
    void SetUp() override {
        BlockTest::SetUp();
        events.clear();
        on_change = nullptr;
        saved_fire = ownership::fire_on_deep_change;
        saved_walk = ownership::walk_object;
        saved_mark = ownership::mark_owner;
        ownership::walk_object = nullptr;
        ownership::mark_owner = nullptr;
        ownership::fire_on_deep_change = record;
        field.data2 = (uint32_t)symbol::make("data");
    }
    void TearDown() override {
        ownership::fire_on_deep_change = saved_fire;
        ownership::walk_object = saved_walk;
        ownership::mark_owner = saved_mark;
        on_change = nullptr;
        BlockTest::TearDown();
    }
    cell* owned(const std::string& text) {
        cell* b = B(text);
        ownership::set_deep(b, &owner, &field);
        return b;
    }
};

TEST_F(OwnershipTest, ChangesAreReportedBeforeAndAfter) {
    cell* b = owned("a [ b ] c");
    cell pos = *b;
    block::append(&pos, S("d"), -1, false, -1);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].action, "append");
    EXPECT_EQ(events[0].index, 3);
    EXPECT_EQ(events[1].action, "appended");
    // The nested block belongs to the same owner.
    events.clear();
    cell inner = *block::cell_at(b, 1);
    series::clear(&inner);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].action, "clear");
    EXPECT_EQ(events[1].action, "cleared");
    // A second owner does not replace the first.
    cell other{TYPE_OBJECT, 0, 1000002, 1};
    ownership::set_deep(b, &other, &field);
    EXPECT_EQ(ownership::find(series::node_of(b))->data2, 1000001u);
    // An owner without handlers: nothing is called.
    cell quiet{TYPE_OBJECT, 0, 1000003, 0};
    cell* q = B("x");
    ownership::set_deep(q, &quiet, &field);
    events.clear();
    EXPECT_FALSE(ownership::check(q, ownership::POKE, 0, 1));
    EXPECT_TRUE(events.empty());
    // reflect/modify of the `owned` property.
    cell r = *b;
    series::reflect(&r, symbol::make("owned"));
    EXPECT_EQ(r.data2, 1000001u);
    cell none_value;
    none::make_at(&none_value);
    cell owned_word{TYPE_WORD, 0, (uint32_t)symbol::make("owned"), 0};
    cell t = *b;
    series::modify(&t, &owned_word, &none_value, false);
    EXPECT_EQ(ownership::find(series::node_of(b)), nullptr);
    EXPECT_EQ(ownership::find(series::node_of(&inner)), nullptr);
    EXPECT_FALSE(series::buffer_of(b)->flags & memory::FLAG_OWNED);
}

// Every modifying action, with a handler that cuts the series down to one
// cell (or empties it) when it hears of the change: positions and counts are
// derived again afterwards, so nothing reads or writes past the tail.
TEST_F(OwnershipTest, ActionsSurviveAHandlerThatShrinksTheSeries) {
    struct Case {
        const char* name;
        std::function<void(cell* pos, cell* b)> run;
    } cases[] = {
        {"append", [&](cell* p, cell* b) { cell v = *b; block::append(p, &v, -1, false, 3); }},
        {"insert", [&](cell* p, cell* b) { cell v = *b; block::insert(p, &v, -1, false, -1); }},
        {"change", [&](cell* p, cell* b) { block::change(p, B("x y z"), -1, false, -1); }},
        {"change/part", [&](cell* p, cell* b) { block::change(p, B("x"), 5, false, -1); }},
        {"poke", [&](cell* p, cell* b) {
             cell v = *S("v");
             script_error([&] { series::poke(p, 4, &v, nullptr); });
         }},
        {"remove", [&](cell* p, cell* b) { series::remove(p, I(4), absent()); }},
        {"take", [&](cell* p, cell* b) { block::take(p, I(4), false, false); }},
        {"take/last", [&](cell* p, cell* b) { block::take(p, I(3), false, true); }},
        {"reverse", [&](cell* p, cell* b) { series::reverse(p, absent(), absent()); }},
        {"sort", [&](cell* p, cell* b) { block::sort(p, false, absent(), absent(), absent(), false, false, false); }},
        {"random", [&](cell* p, cell* b) { series::random(p, false, false, false); }},
        {"clear", [&](cell* p, cell* b) { series::clear(p); }},
        {"trim", [&](cell* p, cell* b) { block::trim(p, false, false, false, false, false, absent()); }},
        {"swap", [&](cell* p, cell* b) { block::swap(p, B("q")); }},
        {"put", [&](cell* p, cell* b) { block::put(p, S("e"), S("v"), false); }},
        {"move within", [&](cell* p, cell* b) {
             cell to = *b;
             to.data1 = 6;
             series::move(p, &to, I(2));
         }},
        {"move into", [&](cell* p, cell* b) {
             cell from = *B("m n o");
             series::move(&from, p, I(3));
         }},
    };
    for (int keep : {0, 1}) {
        for (const Case& c : cases) {
            cell* b = owned("a b c d e f");
            cell whole = *b;
            whole.data1 = 0;
            on_change = [&](cell*) {
                block::truncate(series::node_of(&whole), keep);
                on_change = nullptr;  // once
            };
            cell pos = *b;
            pos.data1 = 2;
            std::string name = c.name;
            if (name == "move into") {
                cell target = *b;
                target.data1 = 2;
                c.run(&target, b);
            } else if (name == "move within") {
                pos.data1 = 1;
                c.run(&pos, b);
            } else {
                c.run(&pos, b);
            }
            EXPECT_LE(block::total_cells(series::node_of(b)), 64) << c.name;
            EXPECT_FALSE(events.empty()) << c.name << ": no report";
            events.clear();
        }
    }
}

// The string actions with the same handler.
TEST_F(OwnershipTest, StringActionsSurviveAHandlerThatShrinksTheString) {
    struct Case {
        const char* name;
        std::function<void(cell* pos)> run;
    } cases[] = {
        {"append", [&](cell* p) { string::append(p, S("xyz"), -1, false, 2); }},
        {"insert", [&](cell* p) { string::insert(p, S("xyz"), -1, false, -1); }},
        {"change", [&](cell* p) { string::change(p, S("xyz"), -1, false, -1); }},
        {"change/part", [&](cell* p) { string::change(p, S("x"), 5, false, -1); }},
        {"sort", [&](cell* p) { string::sort(p, false, absent(), absent(), absent(), false, false, true); }},
        {"swap", [&](cell* p) { string::swap(p, S("q")); }},
        {"trim", [&](cell* p) { string::trim(p, false, false, false, false, true, absent()); }},
        {"take", [&](cell* p) { string::take(p, I(3), false, false); }},
        {"remove", [&](cell* p) { series::remove(p, I(3), absent()); }},
        {"reverse", [&](cell* p) { series::reverse(p, absent(), absent()); }},
    };
    for (uint32_t keep : {0u, 1u}) {
        for (const Case& c : cases) {
            cell* s = S("f e d c b a");
            ownership::set_deep(s, &owner, &field);
            memory::Node* node = series::node_of(s);
            on_change = [&](cell*) {
                series::truncate_units(node, keep);
                on_change = nullptr;
            };
            cell pos = *s;
            pos.data1 = 4;
            c.run(&pos);
            EXPECT_LE(string::total_length(s), 32) << c.name;
            EXPECT_FALSE(events.empty()) << c.name << ": no report";
            events.clear();
        }
    }
}

TEST_F(OwnershipTest, TableIsWeak) {
    cell* b = owned("a [ b ]");
    memory::Node* node = series::node_of(b);
    memory::Node* inner = series::node_of(block::cell_at(b, 1));
    // Marking reaches the table's own series, never the owned ones.
    static std::set<memory::Node*> marked;
    marked.clear();
    ownership::mark([](memory::Node** word) { marked.insert(*word); });
    EXPECT_TRUE(marked.count(ownership::table));
    EXPECT_FALSE(marked.count(node));
    EXPECT_FALSE(marked.count(inner));
    // A dead series loses its entry; a live one whose owner died loses its
    // entry and its owned mark.
    cell ctx_holder;
    block::make_at(&ctx_holder, 1);
    collector::Root hold(ctx_holder);  // its node must not be freed and reused by `c`
    static memory::Node* dead[2];
    dead[0] = inner;
    dead[1] = series::node_of(&ctx_holder);
    cell mortal{TYPE_OBJECT, (uint32_t)(uintptr_t)dead[1], 1000009, 1};
    cell* c = B("z");
    ownership::set_deep(c, &mortal, &field);
    ownership::sweep([](memory::Node* n) { return n != dead[0] && n != dead[1]; });
    EXPECT_EQ(ownership::find(inner), nullptr);
    EXPECT_NE(ownership::find(node), nullptr);
    EXPECT_EQ(ownership::find(series::node_of(c)), nullptr);
    EXPECT_FALSE(series::buffer_of(c)->flags & memory::FLAG_OWNED);
    ownership::unset(b);
}

}  // namespace
