// object!, error! and the runtime helpers, driven from C++ until the
// evaluator exists.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/none.h"
#include "evaluator/actions.h"
#include "runtime/collector.h"
#include "runtime/rt.h"
#include "runtime/words.h"
#include "runtime/sys.h"
#include "tests/datatypes/text.h"

namespace {

class ObjectTest : public WindowTest {
protected:
    // An object with fields set in order (construct semantics).
    cell* make_object(std::initializer_list<std::pair<const char*, cell>> fields) {
        cell* obj = stack::push_cell();
        object::init_cell(obj, 4);
        obj->data2 = object::next_class_id();
        object::write_back_link(obj);
        for (auto& f : fields) object::put_field(obj, f.first, &f.second);
        return obj;
    }
    cell str(const char* s) {
        cell* c = string::load(s, (int32_t)strlen(s), nullptr, 0);
        return *c;
    }
    static cell num(int32_t n) { cell c; integer::make_at(&c, n); return c; }
    std::string molded(cell* v, bool flat = false) {
        TextOut t;
        actions::mold_typed(v, &t.out, false, false, flat, series::ABSENT, datatype::NO_LIMIT, 0);
        return t.text();
    }
    std::string formed(cell* v) {
        TextOut t;
        actions::form_typed(v, &t.out, series::ABSENT, datatype::NO_LIMIT);
        return t.text();
    }
    // Runs body; the catalog spelling "category/id" of the error it raised.
    template <class F>
    std::string raised(F body) {
        error::thrown = cell{TYPE_UNSET, 0, 0, 0};
        uint32_t code = sys::catch_level(sys::THROW_ERROR, body);
        sys::clear_throw();
        if (code != sys::THROW_ERROR || error::thrown.type() != TYPE_ERROR) return "";
        auto spell = [](int32_t s) {
            cell w;
            word::make_cell(&w, TYPE_WORD, nullptr, s, -1);
            TextOut t;
            word::form(&w, &t.out, series::ABSENT, datatype::NO_LIMIT);
            return t.text();
        };
        return spell(error::get_type(&error::thrown)) + "/" + spell(error::get_id(&error::thrown));
    }
};

TEST_F(ObjectTest, ClassIdsCountFromAMillionAndMoldIndentsFields) {
    uint32_t before = object::class_counter;
    EXPECT_GE(before, object::FIRST_CLASS_ID);
    cell* o = make_object({{"a", num(1)}, {"b", str("x")}});
    EXPECT_EQ(o->data2, before + 1);
    EXPECT_EQ(molded(o), "make object! [\n    a: 1\n    b: \"x\"\n]");
    EXPECT_EQ(molded(o, true), "make object! [a: 1 b: \"x\"]");
    EXPECT_EQ(formed(o), "a: 1\nb: \"x\"");
}

TEST_F(ObjectTest, CopyKeepsClassAndCompareOrdersByShape) {
    cell* a = make_object({{"a", num(1)}, {"b", num(2)}});
    cell* b = stack::push(a);
    object::copy(b, b, series::ABSENT, false, series::ABSENT);
    EXPECT_NE(object::context_of(a), object::context_of(b));
    EXPECT_EQ(a->data2, b->data2);
    EXPECT_EQ(object::compare(a, b, datatype::OP_EQUAL), 0);
    cell* c = make_object({{"a", num(1)}});
    EXPECT_EQ(object::compare(a, c, datatype::OP_EQUAL), 1);
    cell n = num(3);
    EXPECT_EQ(object::compare(a, &n, datatype::OP_EQUAL), datatype::NOT_COMPARABLE);
}

TEST_F(ObjectTest, ReflectsClassWordsAndChangedFields) {
    cell* o = make_object({{"a", num(1)}, {"b", num(2)}});
    cell* r = stack::push(o);
    object::reflect(r, words::sym_class);
    EXPECT_EQ(integer::get(r), (int32_t)o->data2);
    object::clear_changed(object::context_of(o));
    cell w;
    word::make_cell(&w, TYPE_WORD, object::context_of(o), symbol::make("b"), 1);
    cell v = num(5);
    word::set_in(&w, &v);
    r = stack::push(o);
    object::reflect(r, word::symbol_of(words::word_changed));
    ASSERT_EQ(r->type(), TYPE_BLOCK);
    ASSERT_EQ(series::buffer_units(r), 1u);
    cell* first = reinterpret_cast<cell*>(series::buffer_of(r)->head);
    EXPECT_EQ(word::symbol_of(first), symbol::make("b"));
    EXPECT_EQ(word::context_of(first), object::context_of(o));
}

// on-change* fires through the interpreter's seam with word, old, new.
struct Seen { std::string word; int32_t old_value = 0, new_value = 0, calls = 0; } seen;
void record_call(cell*, memory::Node*, const cell* name, int32_t event_class, cell* args, int32_t count) {
    EXPECT_EQ(event_class, 8);
    EXPECT_EQ(count, 3);
    seen.calls++;
    seen.old_value = integer::get(args + 1);
    seen.new_value = integer::get(args + 2);
}

TEST_F(ObjectTest, OnChangeFiresAfterTheStoreWithOldAndNew) {
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    cell* o = make_object({{"a", num(1)}, {"on-change*", fn}});
    object::attach_handlers(o);
    ASSERT_NE(o->data3, 0u);
    auto saved = object::call_handler;
    object::call_handler = record_call;
    seen = {};
    cell w;
    word::make_cell(&w, TYPE_WORD, object::context_of(o), symbol::make("a"), 0);
    cell v = num(7);
    word::set_in(&w, &v);
    object::call_handler = saved;
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.old_value, 1);
    EXPECT_EQ(seen.new_value, 7);
    EXPECT_EQ(integer::get(object::select_word(o, &w)), 7);
}

TEST_F(ObjectTest, HandlerFieldThatIsNoFunctionIsRefused) {
    cell* o = make_object({{"on-change*", num(1)}});
    EXPECT_EQ(raised([&] { object::attach_handlers(o); }), "script/bad-field-set");
}

TEST_F(ObjectTest, ErrorsFromIntegerCodes) {
    cell spec = num(300);
    cell* e = stack::push(&spec);
    error::make(e, e, TYPE_ERROR);
    ASSERT_EQ(e->type(), TYPE_ERROR);
    EXPECT_EQ(e->data2, object::ERROR_CLASS_ID);
    EXPECT_EQ(integer::get(error::field(e, error::F_CODE)), 300);
    EXPECT_EQ(error::get_id(e), symbol::make("no-value"));
    EXPECT_EQ(error::code_of(error::SCRIPT, "need-value"), 301);
    EXPECT_EQ(error::code_of(error::SCRIPT, "out-of-range"), 341);
    EXPECT_EQ(error::code_of(error::INTERNAL, "not-done"), 909);
    EXPECT_EQ(error::code_of(error::ACCESS, "no-connect"), 503);
    EXPECT_EQ(error::code_of(error::ACCESS, "no-create"), 511);
    EXPECT_EQ(error::code_of(error::INTERNAL, "zol-system"), 912);
    for (int32_t bad : {1000, -1, 399}) {
        cell s = num(bad);
        cell* c = stack::push(&s);
        EXPECT_EQ(raised([&] { error::make(c, c, TYPE_ERROR); }), "script/out-of-range") << bad;
    }
}

TEST_F(ObjectTest, UserErrorFromStringAndReport) {
    cell s = str("boom");
    cell* e = stack::push(&s);
    error::make(e, e, TYPE_ERROR);
    EXPECT_EQ(formed(e), "*** User Error: boom\n*** Where: ???\n*** Near : none");
}

TEST_F(ObjectTest, RaiseFillsArgumentsAndTheReportMoldsThem) {
    cell a = str("x");
    EXPECT_EQ(raised([&] { error::raise(error::SCRIPT, "invalid-arg", &a); }), "script/invalid-arg");
    cell* e = stack::push(&error::thrown);
    EXPECT_EQ(formed(e), "*** Script Error: invalid argument: \"x\"\n*** Where: ???\n*** Near : none");
    // Stand-in ids reach the catalog.
    EXPECT_EQ(raised([] { error::raise_math(error::Math::zero_divide); }), "math/zero-divide");
    EXPECT_EQ(raised([] { error::raise_internal(error::Internal::not_done); }), "internal/not-done");
}

TEST_F(ObjectTest, FormingAnUnknownTypeReportsInternalAndLeavesTheErrorAlone) {
    cell spec = num(300);
    cell* e = stack::push(&spec);
    error::make(e, e, TYPE_ERROR);
    cell bogus;
    word::make_cell(&bogus, TYPE_WORD, nullptr, symbol::make("bogus"), -1);
    *error::field(e, error::F_TYPE) = bogus;
    std::string text = formed(e);
    EXPECT_EQ(text.rfind("*** Internal Error: invalid error object field value: bogus", 0), 0u) << text;
    EXPECT_EQ(formed(e), text);
    EXPECT_EQ(error::get_type(e), symbol::make("bogus"));
    EXPECT_EQ(error::field(e, error::F_ARG1)->type(), TYPE_NONE);
}

TEST_F(ObjectTest, FloatToIntegerTestsTheBoundsFirst) {
    struct Case { double d; bool raises; int32_t result; };
    const Case cases[] = {{2147483647.0, false, 2147483647}, {2147483647.5, true, 0},
                          {-2147483648.0, false, INT32_MIN}, {-2147483648.9, true, 0},
                          {NAN, true, 0}, {-1.7, false, -1}};
    for (const Case& c : cases) {
        cell f{TYPE_FLOAT, 0, 0, 0};
        cell::set_float(&f, c.d);
        int32_t got = 0;
        std::string r = raised([&] { got = rt::float_to_integer(&f); });
        EXPECT_EQ(r, c.raises ? "script/out-of-range" : "") << c.d;
        if (!c.raises) {
            EXPECT_EQ(got, c.result) << c.d;
        }
    }
}

TEST_F(ObjectTest, ArgumentTypeChecks) {
    cell set = typeset::of({TYPE_INTEGER, TYPE_STRING});
    cell n = num(1);
    EXPECT_EQ(rt::check_arg_type(&set, 0, &n), &n);
    cell f{TYPE_FLOAT, 0, 0, 0};
    EXPECT_EQ(raised([&] { rt::check_arg_type(&set, 0, &f); }), "script/expect-arg");
    EXPECT_EQ(rt::check_arg_at(-1, &set, 0), nullptr);
    cell u{TYPE_UNSET, 0, 0, 0};
    EXPECT_EQ(raised([&] { rt::check_not_unset(0, &u); }), "script/expect-arg");
}

struct Deep { int32_t calls = 0; int32_t action = 0; int32_t field = 0; } deep;
void record_deep(cell*, memory::Node*, const cell*, int32_t event_class, cell* args, int32_t count) {
    EXPECT_EQ(event_class, 16);
    EXPECT_EQ(count, 7);
    deep.calls++;
    deep.field = word::symbol_of(args + 1);
    deep.action = word::symbol_of(args + 3);
}

TEST_F(ObjectTest, OnDeepChangeHearsBeforeAndAfterAChangeOfAnOwnedSeries) {
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    cell blk;
    block::make_at(&blk, 4);
    collector::Root hold(blk);  // until the object holds it
    cell* o = make_object({{"items", blk}, {"on-deep-change*", fn}});
    object::attach_handlers(o);
    cell* r = stack::push(o);
    object::reflect(r, words::sym_owner);
    EXPECT_TRUE(r->data1 != 0);
    auto saved = object::call_handler;
    object::call_handler = record_deep;
    deep = {};
    cell* series = stack::push(&blk);
    cell v = num(1);
    cell* value = stack::push(&v);
    block::append(series, value, -1, false, -1);
    object::call_handler = saved;
    EXPECT_EQ(deep.calls, 2);
    EXPECT_EQ(deep.field, symbol::make("items"));
    EXPECT_EQ(deep.action, symbol::make("appended"));
}

// A case change of an owned string is reported once, after the change, with
// the action word.
TEST_F(ObjectTest, CaseChangeOfAnOwnedStringIsReported) {
    struct Case {
        bool upper;
        const char* word;
        const char* text;
    };
    const Case cases[] = {{true, "uppercase", "AB"}, {false, "lowercase", "ab"}};
    for (const Case& c : cases) {
        cell fn{TYPE_FUNCTION, 0, 0, 0};
        cell* o = make_object({{"name", str("aB")}, {"on-deep-change*", fn}});
        object::attach_handlers(o);
        cell* key = stack::push_cell();
        word::make_cell(key, TYPE_WORD, nullptr, symbol::make("name"), -1);
        cell* name = stack::push(object::select_word(o, key));
        auto saved = object::call_handler;
        object::call_handler = record_deep;
        deep = {};
        string::change_case(name, series::ABSENT, c.upper);
        object::call_handler = saved;
        EXPECT_EQ(deep.calls, 1) << c.word;
        EXPECT_EQ(deep.field, symbol::make("name")) << c.word;
        EXPECT_EQ(deep.action, symbol::make(c.word));
        EXPECT_EQ(formed(name), c.text);
    }
}

// Field access through paths, and put.
TEST_F(ObjectTest, EvalPathAndPut) {
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    cell* o = make_object({{"a", num(1)}, {"u", cell{TYPE_UNSET, 0, 0, 0}}});
    cell* path = stack::push_cell();
    none::make_at(path);
    auto word = [&](const char* spelling, uint8_t type) {
        cell* w = stack::push_cell();
        word::make_cell(w, type, nullptr, symbol::make(spelling), -1);
        return w;
    };
    auto get = [&](cell* element, bool flag, bool last) {
        cell* parent = stack::push(o);
        return object::eval_path(parent, element, nullptr, path, nullptr, nullptr, 0, false, flag, last, false);
    };
    // Gets: the element is bound on first use.
    cell* a = word("a", TYPE_WORD);
    EXPECT_EQ(get(a, false, true)->data2, 1u);
    EXPECT_EQ(word::context_of(a), object::context_of(o));
    EXPECT_EQ(get(a, false, true)->data2, 1u);
    EXPECT_EQ(get(word("a", TYPE_GET_WORD), false, false)->data2, 1u);
    EXPECT_EQ(get(word("zz", TYPE_WORD), true, true)->type(), TYPE_UNSET);
    EXPECT_EQ(get(word("u", TYPE_WORD), true, true)->type(), TYPE_UNSET);
    struct Failure {
        const char* spelling;
        bool last;
        error::Script error;
    };
    const Failure failures[] = {
        {"zz", true, error::Script::invalid_path},
        {"zz", false, error::Script::unset_path},
        {"u", true, error::Script::invalid_path},
        {"u", false, error::Script::unset_path},
    };
    for (const Failure& f : failures)
        EXPECT_EQ(script_error([&] { get(word(f.spelling, TYPE_WORD), false, f.last); }), f.error) << f.spelling;
    cell* n = stack::push(&fn);
    integer::make_at(n, 5);
    EXPECT_EQ(script_error([&] { get(n, false, true); }), error::Script::invalid_path);

    // Sets (through a set-word! too) and put; on-change* hears them.
    cell* with = make_object({{"a", num(1)}, {"on-change*", fn}});
    object::attach_handlers(with);
    seen = {};
    auto saved = object::call_handler;
    object::call_handler = record_call;
    cell v = num(7);
    cell* parent = stack::push(with);
    object::eval_path(parent, word("a", TYPE_SET_WORD), &v, path, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(parent->data2, 7u);
    EXPECT_EQ(object::select_word(with, word("a", TYPE_WORD))->data2, 7u);
    cell eight = num(8);
    parent = stack::push(with);
    object::put(parent, word("a", TYPE_WORD), &eight, false);
    object::call_handler = saved;
    EXPECT_EQ(object::select_word(with, word("a", TYPE_WORD))->data2, 8u);
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(seen.old_value, 7);
    EXPECT_EQ(seen.new_value, 8);
    EXPECT_EQ(script_error([&] { object::put(stack::push(with), word("zz", TYPE_WORD), &v, false); }),
              error::Script::invalid_path);
    EXPECT_EQ(script_error([&] { object::put(stack::push(with), word("a", TYPE_SET_WORD), &v, false); }),
              error::Script::invalid_key_type);
    EXPECT_EQ(datatype::get<datatype::A_PUT>(TYPE_OBJECT), &object::put);
    EXPECT_EQ(datatype::get<datatype::A_EVAL_PATH>(TYPE_OBJECT), &object::eval_path);
}

TEST_F(ObjectTest, NestedAndSelfReferencingObjectsMold) {
    cell* inner = make_object({{"x", num(1)}});
    cell* outer = make_object({{"in", *inner}});
    EXPECT_EQ(molded(outer),
              "make object! [\n    in: make object! [\n        x: 1\n    ]\n]");
    object::put_field(inner, "me", inner);
    EXPECT_EQ(molded(inner, true), "make object! [x: 1 me: make object! [...]]");
}

TEST_F(ObjectTest, ErrorsFromBlockSpecs) {
    auto spec_of = [&](std::initializer_list<cell> cells) {
        cell* b = stack::push_cell();
        block::make_at(b, 4);
        for (const cell& c : cells) block::append_cell_copy(series::node_of(b), &c);
        return b;
    };
    auto w = [](const char* s) {
        cell c;
        word::make_cell(&c, TYPE_WORD, nullptr, symbol::make(s), -1);
        return c;
    };
    cell* e = spec_of({w("script"), w("need-value")});
    error::make(e, e, TYPE_ERROR);
    EXPECT_EQ(integer::get(error::field(e, error::F_CODE)), 301);
    struct Case { std::initializer_list<cell> spec; const char* raises; };
    const Case cases[] = {
        {{w("bogus"), w("x")}, "script/invalid-spec-field"},
        {{w("script")}, "script/invalid-spec-field"},
        {{w("script"), w("no-such-id")}, "script/invalid-spec-field"},
        {{w("script"), num(5)}, "script/invalid-arg"},
        {{num(1), num(2)}, "internal/invalid-error"},
    };
    for (const Case& c : cases) {
        cell* b = spec_of(c.spec);
        EXPECT_EQ(raised([&] { error::make(b, b, TYPE_ERROR); }), c.raises);
    }
    cell t = logic::true_cell;
    cell* b = stack::push(&t);
    EXPECT_EQ(raised([&] { error::make(b, b, TYPE_ERROR); }), "script/bad-make-arg");
}

TEST_F(ObjectTest, ErrorsCompareAlikeAndMoldAsFields) {
    cell s1 = num(400), s2 = num(400);
    cell* a = stack::push(&s1);
    cell* b = stack::push(&s2);
    error::make(a, a, TYPE_ERROR);
    error::make(b, b, TYPE_ERROR);
    EXPECT_EQ(error::compare(a, b, datatype::OP_EQUAL), 0);
    EXPECT_EQ(b->type(), TYPE_ERROR);
    cell* o = make_object({{"x", num(1)}});
    EXPECT_EQ(error::compare(a, o, datatype::OP_EQUAL), datatype::NOT_COMPARABLE);
    EXPECT_EQ(molded(a, true).rfind("make error! [code: 400 type: 'math id: 'zero-divide", 0), 0u)
        << molded(a, true);
}

// Stands in for the interpreter: each set-word takes the value after it.
void eval_pairs(cell* spec) {
    cell* c = reinterpret_cast<cell*>(series::buffer_of(spec)->head) + spec->data1;
    int32_t n = (int32_t)series::buffer_units(spec) - (int32_t)spec->data1;
    for (int32_t i = 0; i + 1 < n; i += 2) word::set_in(c + i, c + i + 1);
}

TEST_F(ObjectTest, MakeKeepsTheClassUnlessTheSpecAddsAField) {
    auto saved = object::eval_block;
    object::eval_block = eval_pairs;
    auto spec_of = [&](const char* name, int32_t v) {
        cell* b = stack::push_cell();
        block::make_at(b, 2);
        cell w, n = num(v);
        word::make_cell(&w, TYPE_SET_WORD, nullptr, symbol::make(name), -1);
        block::append_cell_copy(series::node_of(b), &w);
        block::append_cell_copy(series::node_of(b), &n);
        return b;
    };
    cell* proto = stack::push_cell();
    datatype::make_at(proto, TYPE_OBJECT);
    object::make(proto, spec_of("a", 1), TYPE_OBJECT);
    uint32_t first = proto->data2;
    EXPECT_EQ(first, object::class_counter);
    cell* same = stack::push(proto);
    object::make(same, spec_of("a", 2), TYPE_OBJECT);
    EXPECT_EQ(same->data2, first);
    EXPECT_EQ(integer::get(object::values(same)), 2);
    EXPECT_EQ(integer::get(object::values(proto)), 1);
    cell* grown = stack::push(proto);
    object::make(grown, spec_of("b", 3), TYPE_OBJECT);
    EXPECT_EQ(grown->data2, first + 1);
    EXPECT_EQ(object::word_count(grown), 2);
    cell bad = num(1);
    cell* p2 = stack::push(proto);
    EXPECT_EQ(raised([&] { object::make(p2, &bad, TYPE_OBJECT); }), "syntax/malconstruct");
    object::eval_block = saved;
}

}  // namespace
