// native!, action!, op!, function! and routine!: making, spec checks,
// reflection, output and comparison.
#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "tests/evaluator/eval.h"

namespace {

using Callables = EvalTest;

TEST_F(Callables, MakeChecksItsSpec) {
    check({
        {"make native! [[a] 121]", "script/bad-make-arg"},
        {"make native! [[a] 0]", "script/bad-make-arg"},
        {"make native! [[a] 1 2]", "script/bad-make-arg"},
        {"make native! [a 1]", "script/bad-make-arg"},
        {"make action! [[a] 63]", "script/bad-make-arg"},
        {"make action! [[a] 9]", "script/bad-make-arg"},  // compare is no dispatcher
        {"n: make native! [[value [any-type!]] 23] form :n", "\"?native?\""},
        {"a: make action! [[value] 14] a 5", "-5"},
        {"make op! 1", "script/invalid-type"},
        {"make op! func [a b /local c][]", "make op! func [a b /local c][]"},
        {"make op! func [a][]", "script/bad-op-spec"},
        {"make op! func ['a b][]", "script/bad-op-spec"},
        {"make op! func [a :b][]", "make op! func [a :b][]"},
        {"make op! :add", "make op! [[value1 value2]]"},
        {"make function! [[a b][a]]", "func [a b][a]"},
        {"make function! [[a b]]", "script/bad-func-def"},
        {"make function! [1 [a]]", "script/bad-func-def"},
    });
}

TEST_F(Callables, FunctionSpecs) {
    check({
        {"mold func [a [integer!] \"doc\"][]", "{func [a [integer!] \"doc\"][]}"},
        {"func [a \"doc\" [integer!]][]", "script/bad-func-def"},
        {"func [a return: [integer!] b][]", "script/bad-func-def"},
        {"mold func [a return: [integer!] /local b][]", "\"func [a return: [integer!] /local b][]\""},
        {"func [a return: [integer!] /r b][]", "script/bad-func-def"},
        {"func [/local 'a][]", "script/bad-func-def"},
        {"func [a a][]", "script/dup-vars"},
        {"func [a /a][]", "script/dup-vars"},
        {"func [a [1]][]", "script/invalid-type-spec"},
        {"x: 5 func [a [x]][]", "script/invalid-type-spec"},
        {"func [[trace] a][]", "func [[trace] a][]"},
        {"func [[1] a][]", "script/bad-func-def"},
        {"func [a 1][]", "script/bad-func-def"},
        {"f: func [a [integer!]][a] f \"x\"", "script/expect-arg"},
        {"f: func [a [integer! string!]][a] f \"x\"", "\"x\""},
        {"f: func [a [number!]][a] f 1.5", "1.5"},
        {"f: func [:a][a] f (1 + 2)", "(1 + 2)"},
        {"f: func ['a][a] f (1 + 2)", "3"},
        {"f: func ['a][a] f b", "b"},
        {"f: func [a][a] f print 1", "script/expect-arg"},
        {"f: func [a [any-type!]][:a] f print 1", "unset"},
        {"does [1]", "func [][1]"},
    });
    cell e;
    EXPECT_EQ(run("f: func [a [integer!]][a] f \"x\"", &e), "script/expect-arg");
    EXPECT_EQ(form(error::field(&e, error::F_ARG1)), "f");
    EXPECT_EQ(form(error::field(&e, error::F_ARG2)), "string");
    EXPECT_EQ(form(error::field(&e, error::F_ARG3)), "a");
    EXPECT_EQ(run("append 1 2", &e), "script/expect-arg");
    EXPECT_EQ(form(error::field(&e, error::F_ARG3)), "series");
}

TEST_F(Callables, Reflection) {
    check({
        {"f: func [a b][a + b] reflect :f 'spec", "[a b]"},
        {"f: func [a b][a + b] reflect :f 'body", "[a + b]"},
        {"f: func [a /r b /local c][] reflect :f 'words", "[a r b local c]"},
        {"f: func [a][] reflect :f 'class", "internal/not-done"},
        {"reflect :negate 'body", "14"},
        {"reflect :print 'body", "23"},
        {"reflect :print 'words", "internal/not-done"},
        {"reflect :append 'spec", "[series value [any-type!] /part length /only /dup count]"},
        {"o: make op! func [a b][a + b] reflect :o 'body", "[a + b]"},
        // The body is the function's own block: changing it changes the function.
        {"f: func [][1] append reflect :f 'body 2 f", "2"},
    });
}

TEST_F(Callables, Comparison) {
    cell* top = stack::arguments.top;
    run("f: func [][] g: func [][] o: make op! :add");
    auto value = [](const char* name) {
        cell w;
        word::make_at(symbol::make(name), &w);
        return stack::push(word::get_value(&w));
    };
    cell* f = value("f");
    cell* g = value("g");
    cell* add = value("add");
    cell* neg = value("negate");
    cell* prn = value("print");
    EXPECT_EQ(actions::compare_typed(f, f, datatype::OP_EQUAL), 0);
    EXPECT_NE(actions::compare_typed(f, g, datatype::OP_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(f, prn, datatype::OP_EQUAL), datatype::NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(add, add, datatype::OP_EQUAL), 0);
    EXPECT_NE(actions::compare_typed(add, neg, datatype::OP_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(add, prn, datatype::OP_EQUAL), datatype::NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(add, add, datatype::OP_LESSER), datatype::NOT_COMPARABLE);
    stack::arguments.top = top;
}

TEST_F(Callables, ErrorsNameTheirPlace) {
    cell e;
    EXPECT_EQ(run("f: func [][1 qqq] f", &e), "script/no-value");
    EXPECT_EQ(form(error::field(&e, error::F_WHERE)), "f");
    EXPECT_EQ(mold(error::field(&e, error::F_NEAR)).substr(0, 4), "[qqq");
    std::string report = form(&e);
    EXPECT_NE(report.find("*** Where: f\n*** Near : qqq"), std::string::npos) << report;
    // With a stack trace level the report lists the calls.
    error::stack_trace = 2;
    EXPECT_EQ(run("g: func [][h] h: func [][qqq] g", &e), "script/no-value");
    error::stack_trace = 0;
    report = form(&e);
    error::stack_trace = 2;
    report = form(&e);
    error::stack_trace = 0;
    EXPECT_NE(report.find("*** Stack: g h"), std::string::npos) << report;
}

TEST_F(Callables, MakeErrorEvaluatesItsSpec) {
    cell e;
    std::string r = run("make error! [type: 'script id: 'no-value arg1: 1 + 2]", &e);
    EXPECT_NE(r.find("arg1: 3"), std::string::npos) << r;
}

TEST_F(Callables, CopiedObjectsRemakeTheirFunctions) {
    run("proto: make object! [a: 1 f: func [][a]] o: make proto [a: 2]");
    auto field = [&](const char* obj, const char* name) {
        cell w;
        word::make_at(symbol::make(obj), &w);
        cell o = *word::get_value(&w);
        cell* v = object::select_word(&o, word::make_at(symbol::make(name), &w));
        return stack::push(v);
    };
    cell* top = stack::arguments.top;
    cell* f = field("o", "f");
    EXPECT_EQ(mold(interpreter::call_function(f, nullptr, 0)), "2");
    cell* pf = field("proto", "f");
    EXPECT_EQ(mold(interpreter::call_function(pf, nullptr, 0)), "1");
    stack::arguments.top = top;
}

}  // namespace

namespace {

void actor_append(const int32_t*) { series::make_integer(stack::args(), 42); }

TEST_F(Callables, PortActorTablesAreCheckedBeforeUse) {
    run("p: make object! [spec: none scheme: none actor: none]");
    cell w;
    word::make_at(symbol::make("p"), &w);
    cell* p = word::get_value(&w);
    cell::set_type(p, TYPE_PORT);
    static natives::Fn table[actions::ACTOR_ENTRIES] = {actor_append};
    static int not_a_table[4] = {1, 2, 3, 4};
    cell handle{TYPE_HANDLE, 0, (uint32_t)(uintptr_t)not_a_table, (uint32_t)-1};
    *context::value_cell_at(object::context_of(p), 2) = handle;
    EXPECT_EQ(run("append p 1"), "access/invalid-actor");
    actions::register_actor_table(table);
    handle.data2 = (uint32_t)(uintptr_t)table;
    p = word::get_value(&w);
    *context::value_cell_at(object::context_of(p), 2) = handle;
    EXPECT_EQ(run("append p 1"), "42");
    EXPECT_EQ(run("insert p 1"), "access/no-port-action");
    EXPECT_EQ(run("e: try [insert p 1] e/arg1"), "insert");
    run("p: none");
}

}  // namespace
