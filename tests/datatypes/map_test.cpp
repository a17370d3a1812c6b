// map! through the action table: key normalisation, lookup modes, removal,
// text forms, comparison, copy, extend and the foreach walk.
#include "datatypes/map.h"

#include <gtest/gtest.h>

#include <string>

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
using error::Script;

namespace {

class MapTest : public WindowTest {
protected:
    static cell I(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    static cell W(const char* name, uint8_t type = TYPE_WORD) {
        cell w;
        word::make_at(symbol::make(name), &w);
        return *cell::set_type(&w, type);
    }
    static cell* str(const std::string& s, uint8_t type = TYPE_STRING) {
        cell* c = unicode::load_utf8_new((const uint8_t*)s.data(), (uint32_t)s.size(), stack::push_cell());
        return cell::set_type(c, type);
    }
    // A block of the values, pushed.
    static cell* blk(std::initializer_list<cell> values) {
        cell* b = block::push_new((int32_t)values.size() + 1);
        for (const cell& v : values) block::append_cell_copy(series::node_of(b), &v);
        return b;
    }
    static cell* make(cell* spec) {
        cell* m = stack::push_cell();
        return get<A_MAKE>(TYPE_MAP)(m, spec, TYPE_MAP);
    }
    static std::string mold(cell* v, bool flat = false, int32_t indent = 0) {
        TextOut o;
        actions::mold_typed(v, &o.out, false, false, flat, nullptr, NO_LIMIT, indent);
        return o.text();
    }
    static std::string form(cell* v) {
        TextOut o;
        actions::form_typed(v, &o.out, nullptr, NO_LIMIT);
        return o.text();
    }
    cell* absent() { return series::ABSENT; }
    cell select(cell* m, cell* key, bool case_ = false) {
        cell* r = stack::push(m);
        return *get<A_SELECT>(TYPE_MAP)(r, key, absent(), false, case_, false, false, absent(),
                                        absent(), false, false);
    }
    cell find(cell* m, cell* key) {
        cell* r = stack::push(m);
        return *get<A_FIND>(TYPE_MAP)(r, key, absent(), false, false, false, false, absent(),
                                      absent(), false, false, false, false);
    }
    void put(cell* m, cell key, cell value) {
        cell* k = stack::push(&key);
        cell* v = stack::push(&value);
        cell* r = stack::push(m);
        get<A_PUT>(TYPE_MAP)(r, k, v, false);
    }
    static int32_t length(cell* m) { return get<A_LENGTH_OF>(TYPE_MAP)(m); }
};

TEST_F(MapTest, WordKeysAreOneKey) {
    cell* m = make(blk({}));
    put(m, W("b", TYPE_LIT_WORD), I(1));
    put(m, W("b", TYPE_SET_WORD), I(2));
    // m/b: 3
    cell b = W("b");
    cell three = I(3);
    cell none{TYPE_NONE, 0, 0, 0};
    get<A_EVAL_PATH>(TYPE_MAP)(m, &b, &three, &none, nullptr, &b, 0, false, false, true, false);
    EXPECT_EQ(length(m), 1);
    cell* got = get<A_EVAL_PATH>(TYPE_MAP)(m, &b, nullptr, &none, nullptr, &b, 0, false, true, true, false);
    EXPECT_EQ(got->data2, 3u);
    cell gw = W("b", TYPE_GET_WORD);
    cell f = find(m, &gw);
    EXPECT_EQ(f.type(), TYPE_WORD);
    EXPECT_EQ(f.data2, b.data2);
    EXPECT_EQ(select(m, &b).data2, 3u);
    cell c = W("c");
    EXPECT_EQ(select(m, &c).type(), TYPE_NONE);
    EXPECT_EQ(find(m, &c).type(), TYPE_NONE);
}

TEST_F(MapTest, TextKeysFoldUnlessCase) {
    cell* key = str("Key");
    cell* m = make(blk({*key, I(1)}));
    EXPECT_EQ(select(m, str("key")).data2, 1u);
    EXPECT_EQ(select(m, str("key"), true).type(), TYPE_NONE);
    EXPECT_EQ(select(m, str("Key"), true).data2, 1u);
    // the map holds its own copy of a text key
    cell* k = str("abc");
    put(m, *k, I(2));
    string::append_char(series::node_of(k), 'd');
    EXPECT_EQ(select(m, str("abc")).data2, 2u);
    // a file is another key than the same text
    EXPECT_EQ(select(m, str("abc", TYPE_FILE)).type(), TYPE_NONE);
}

TEST_F(MapTest, MakeErrors) {
    cell a = W("a");
    EXPECT_EQ(script_error([&] { make(blk({a})); }), Script::invalid_arg);
    cell minus = I(-1);
    EXPECT_EQ(script_error([&] { make(&minus); }), Script::out_of_range);
    cell ten = I(10);
    EXPECT_EQ(script_error([&] { get<A_TO>(TYPE_MAP)(stack::push_cell(), &ten, TYPE_MAP); }),
              Script::bad_to_arg);
    cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(script_error([&] { make(&none); }), Script::bad_to_arg);
    cell inner = *blk({});
    EXPECT_EQ(script_error([&] { make(blk({inner, I(1)})); }), Script::invalid_path);
    cell* m = make(&ten);
    EXPECT_EQ(length(m), 0);
    EXPECT_EQ(script_error([&] { put(m, inner, I(1)); }), Script::invalid_path);
    EXPECT_EQ(script_error([&] { get<A_REMOVE>(TYPE_MAP)(m, absent(), absent()); }),
              Script::missing_arg);
    EXPECT_EQ(internal_error([&] { get<A_REFLECT>(TYPE_MAP)(m, symbol::make("spec")); }),
              error::Internal::not_done);
}

TEST_F(MapTest, RepeatedKeyKeepsLaterValue) {
    cell* m = make(blk({W("a"), I(1), W("b"), I(2), W("a", TYPE_SET_WORD), I(3)}));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(mold(m), "#[\n    a: 3\n    b: 2\n]");
}

TEST_F(MapTest, MoldAndForm) {
    cell* m = make(blk({W("a"), I(1), W("b"), I(2)}));
    EXPECT_EQ(mold(m), "#[\n    a: 1\n    b: 2\n]");
    EXPECT_EQ(mold(m, true), "#[a: 1 b: 2]");
    EXPECT_EQ(form(m), "a: 1\nb: 2");
    EXPECT_EQ(mold(make(blk({}))), "#[]");
    // nested one level: entries two levels in, the bracket at one
    EXPECT_EQ(mold(m, false, 1), "#[\n        a: 1\n        b: 2\n    ]");
    cell* s = make(blk({*str("k"), *str("v")}));
    EXPECT_EQ(mold(s), "#[\n    \"k\" \"v\"\n]");
    // a map inside itself
    cell* self = make(blk({}));
    put(self, W("me"), *self);
    EXPECT_EQ(mold(self), "#[\n    me: #[...]\n]");
}

TEST_F(MapTest, RemoveAndPutAgain) {
    cell* m = make(blk({W("a"), I(1), W("b"), I(2)}));
    cell a = W("a");
    cell* key = stack::push(&a);
    get<A_REMOVE>(TYPE_MAP)(m, absent(), key);
    EXPECT_EQ(length(m), 1);
    EXPECT_EQ(select(m, &a).type(), TYPE_NONE);
    EXPECT_EQ(find(m, &a).type(), TYPE_NONE);
    EXPECT_EQ(mold(m), "#[\n    b: 2\n]");
    put(m, a, I(5));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(mold(m), "#[\n    a: 5\n    b: 2\n]");  // at its old position
    get<A_CLEAR>(TYPE_MAP)(m);
    EXPECT_EQ(length(m), 0);
    EXPECT_EQ(mold(m), "#[]");
    put(m, a, I(1));
    EXPECT_EQ(select(m, &a).data2, 1u);
}

TEST_F(MapTest, ReflectCopyCompare) {
    cell* m = make(blk({W("a"), I(1), *str("s"), I(2)}));
    cell* words = stack::push(m);
    get<A_REFLECT>(TYPE_MAP)(words, symbol::make("words"));
    EXPECT_EQ(mold(words), "[a \"s\"]");
    cell* values = stack::push(m);
    get<A_REFLECT>(TYPE_MAP)(values, symbol::make("values"));
    EXPECT_EQ(mold(values), "[1 2]");
    cell* body = stack::push(m);
    get<A_REFLECT>(TYPE_MAP)(body, symbol::make("body"));
    EXPECT_EQ(mold(body), "[\n    a: 1\n    \"s\" 2\n]");

    auto cmp = get<A_COMPARE>(TYPE_MAP);
    cell* c = stack::push_cell();
    get<A_COPY>(TYPE_MAP)(m, c, absent(), false, absent());
    EXPECT_NE(c->data2, m->data2);
    EXPECT_EQ(cmp(m, c, OP_EQUAL), 0);
    EXPECT_NE(cmp(m, c, OP_SAME), 0);
    put(c, W("z"), I(0));
    cell z = W("z");
    EXPECT_EQ(select(m, &z).type(), TYPE_NONE);  // the copy has its own entries
    EXPECT_NE(cmp(m, c, OP_EQUAL), 0);
    cell* u = make(blk({*str("S"), I(2), W("a"), I(1)}));
    EXPECT_EQ(cmp(m, u, OP_EQUAL), 0);
    EXPECT_NE(cmp(m, u, OP_STRICT_EQUAL), 0);
    EXPECT_EQ(cmp(make(blk({})), make(blk({})), OP_EQUAL), 0);
    cell one = I(1);
    EXPECT_EQ(cmp(m, &one, OP_EQUAL), NOT_COMPARABLE);

    // a deep copy copies nested maps and series
    cell* outer = make(blk({W("in"), *m, W("s"), *str("t")}));
    cell* d = stack::push_cell();
    get<A_COPY>(TYPE_MAP)(outer, d, absent(), true, absent());
    EXPECT_EQ(cmp(outer, d, OP_EQUAL), 0);
    cell in = W("in");
    EXPECT_NE(select(d, &in).data2, m->data2);
    // a deep copy of a map inside itself is refused
    cell* self = make(blk({}));
    put(self, W("me"), *self);
    EXPECT_EQ(internal_error([&] { get<A_COPY>(TYPE_MAP)(self, stack::push_cell(), absent(), true, absent()); }),
              error::Internal::no_cycle);
}

TEST_F(MapTest, ExtendAndForeach) {
    cell* m = make(blk({W("a"), I(1)}));
    map::extend(m, blk({W("a"), I(7), W("b"), I(8), W("c"), I(9)}), false);
    EXPECT_EQ(length(m), 3);
    EXPECT_EQ(mold(m, true), "#[a: 7 b: 8 c: 9]");
    EXPECT_EQ(script_error([&] { map::extend(m, blk({W("d")}), false); }), Script::invalid_arg);

    cell k = W("fk"), v = W("fv");
    cell* words = blk({k, v});
    int32_t position = 0;
    std::string seen;
    while (map::foreach_next(words, m, &position)) {
        seen += mold(word::get_value(&k)) + "=" + mold(word::get_value(&v)) + " ";
    }
    EXPECT_EQ(seen, "a=7 b=8 c=9 ");
    // words left over when the map runs out get none
    cell x = W("fx");
    cell* three = blk({k, v, x});
    position = 4;
    EXPECT_TRUE(map::foreach_next(three, m, &position));
    EXPECT_EQ(word::get_value(&x)->type(), TYPE_NONE);
    cell one = I(1);
    EXPECT_EQ(script_error([&] { map::foreach_next(blk({one}), m, &position); }), Script::invalid_arg);
}

TEST_F(MapTest, SurvivesCollections) {
    cell* m = make(blk({}));
    for (int i = 0; i < 200; i++) {
        put(m, *str("key" + std::to_string(i)), I(i));
        if (i % 50 == 0) collector::collect();
    }
    collector::collect();
    EXPECT_EQ(length(m), 200);
    EXPECT_EQ(select(m, str("KEY123")).data2, 123u);
}

}  // namespace
