#include "evaluator/interpreter.h"

#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "tests/evaluator/eval.h"

namespace {

using Interpreter = EvalTest;

TEST_F(Interpreter, ExpressionsWordsAndOperators) {
    check({
        {"1 + 2 * 3", "9"},
        {"negate 1 + 2", "-3"},
        {"a: b: 5 a + b", "10"},
        {"2147483647 + 1", "2147483648.0"},
        {"x: 10 x: x - 1 x", "9"},
        {"1 2 3", "3"},
        {"", "unset"},
        {"(1 + 2) * (3 + 4)", "21"},
        {"'abc", "abc"},
        {"first: 1 :first", "1"},
        {"10 - 2 - 3", "5"},
        {"2 ** 3 + 1", "9"},
        {"a: [1 2] a", "[1 2]"},
    });
}

TEST_F(Interpreter, WordErrors) {
    check({
        {"qqq", "script/no-value"},
        {"x:", "script/need-value"},
        {"+ 1", "script/no-op-arg"},
        {"1 +", "script/no-arg"},
        {"negate", "script/no-arg"},
        {"x: print 1", "script/need-value"},
    });
    cell e;
    EXPECT_EQ(run("qqq", &e), "script/no-value");
    EXPECT_EQ(form(error::field(&e, error::F_ARG1)), "qqq");
    // A get-word of a word without value is unset!, no error.
    EXPECT_EQ(run(":qqq-never-set"), "unset");
}

TEST_F(Interpreter, Paths) {
    check({
        {"b: [10 20 30] b/(1 + 1)", "20"},
        {"b: [10 20 30] i: 3 b/:i", "30"},
        {"b: [10 20 30] b/:qqq-none", "script/invalid-path"},
        {"b: [10 20 30] b/2: 5 b", "[10 5 30]"},
        {"b: [x [1 2]] b/x/2", "2"},
        {"b: [10 20] 'b/1", "b/1"},
        {"b: [10 20] :b/1", "10"},
    });
}

TEST_F(Interpreter, Refinements) {
    check({
        {"append/only/dup [] [x] 2", "[[x] [x]]"},
        {"append/dup/only [] [x] 2", "[[x] [x]]"},
        {"append/only/only [] 1", "script/dup-refine"},
        {"append/foo [] 1", "script/no-refine"},
        {"append 1 2", "script/expect-arg"},
        {"append/part [] 5 2", "script/invalid-part"},
        {"append/dup [1] 2 0", "[1]"},
        {"f: func [/r x] [x] f/r 5", "5"},
        {"f: func [/r x] [r] f", "false"},
        {"f: func [a /r x /s y] [append append append [] a x y] f/s/r 1 2 3", "[1 3 2]"},
        {"f: func [a /r x][x] r: false f/:r 1 2", "none"},
        {"f: func [a /r x][x] r: true f/:r 1 2", "2"},
    });
    cell e;
    EXPECT_EQ(run("append 1 2", &e), "script/expect-arg");
    EXPECT_EQ(form(error::field(&e, error::F_ARG1)), "append");
    EXPECT_EQ(form(error::field(&e, error::F_ARG2)), "integer");
}

TEST_F(Interpreter, Functions) {
    check({
        {"f: make function! [[n][n * 2]] f 3 + 1", "8"},
        {"f: func [a b][a + b] f 1 2", "3"},
        {"f: func [][return 7 8] f", "7"},
        {"f: func [][do [return 7] 8] f", "7"},
        {"f: func [][exit 8] f", "unset"},
        {"f: does [1 + 1] f", "2"},
        {"f: has [x] [x: 5 x] f", "5"},
        {"f: func [n /local r][r: n + 1 r] f 1", "2"},
        {"f: func [n][n] f 1 f 2", "2"},
    });
}

TEST_F(Interpreter, RecursionRestoresArguments) {
    // After the inner call of f returns, the outer call reads its own n again.
    EXPECT_EQ(run("inner: func [n g][n * 100] f: func [n g][g n + 1 :inner n] f 1 :f"), "1");
    EXPECT_EQ(run("inner: func [n g][n * 100] f: func [n g][(g n + 1 :inner) + n] f 1 :f"), "303");
}

TEST_F(Interpreter, MoldAndFormOfCallables) {
    check({
        {"mold func [a b][a + b]", "\"func [a b][a + b]\""},
        {"form :append", "\"?action?\""},
        {"func [a a][]", "script/dup-vars"},
        {"func [a \"doc\" [integer!]][]", "script/bad-func-def"},
        {"make op! func [a b c][]", "script/bad-op-spec"},
        {"mold make op! func [a b][a * 10 + b]", "\"make op! func [a b][a * 10 + b]\""},
        // Not `f`: later tests' `f: func [...][...] f x` would read it as this infix op.
        {"tens: make op! func [a b][a * 10 + b] 1 tens 2", "12"},
        {"form :print", "\"?native?\""},
        {"make function! [[a]]", "script/bad-func-def"},
    });
}

TEST_F(Interpreter, NonLocalExitsWithoutCatcher) {
    cell e;
    EXPECT_EQ(run("break", &e), "throw/break");
    EXPECT_EQ(run("return 1", &e), "throw/return");
    EXPECT_EQ(run("exit", &e), "throw/return");
    EXPECT_EQ(run("continue", &e), "throw/continue");
    EXPECT_EQ(run("throw 1", &e), "throw/throw");
    EXPECT_EQ(run("catch [throw 5 6]"), "5");
    EXPECT_EQ(run("try [1 + qqq]", &e).substr(0, 10), "make error");
}

TEST_F(Interpreter, ObjectHandlersFire) {
    run("log: copy [] o: make object! [a: 1 on-change*: func [w o n][append append append log w o n]]");
    cell name;
    word::make_at(symbol::make("o"), &name);
    cell o = *word::get_value(&name);
    cell a;
    word::make_cell(&a, TYPE_WORD, object::context_of(&o), symbol::make("a"), -1);
    cell two{TYPE_INTEGER, 0, 2, 0};
    word::set_in(&a, &two);
    EXPECT_EQ(run("log"), "[a 1 2]");
}

}  // namespace

namespace {

TEST_F(EvalTest, DeepRecursionEndsInStackOverflow) {
    check({
        {"deep: func [][deep] deep", "internal/stack-overflow"},
        {"deep: func [n][deep n + 1] deep 1", "internal/stack-overflow"},
    });
    std::string nested = std::string(13000, '(') + "1" + std::string(13000, ')');
    EXPECT_EQ(run(nested), "internal/stack-overflow");
    std::string shallow = std::string(50, '(') + "1" + std::string(50, ')');
    EXPECT_EQ(run(shallow), "1");
}

TEST_F(EvalTest, ArgumentStackRefusesTheLastCell) {
    stack::Saved saved = stack::save();
    cell* last_usable = stack::arguments.base + stack::ARGUMENT_CELLS - 2;
    stack::arguments.top = last_usable;
    stack::push_cell();  // the 19,999th cell
    cell* refused = stack::arguments.top;
    uint32_t code = sys::catch_level(sys::THROW_ERROR, [] { stack::push_cell(); });
    sys::clear_throw();
    EXPECT_EQ(code, sys::THROW_ERROR);
    EXPECT_EQ(stack::arguments.top, refused - 5);
    stack::restore(saved);
}

TEST_F(EvalTest, FrameStackOverflowIsAnError) {
    stack::Saved saved = stack::save();
    cell name{TYPE_WORD, 0, (uint32_t)stack::sym_anon, 0};
    // Real frames up to the limit, under a catcher as user code has: the
    // collector walks them while the error is raised.
    cell* e = interpreter::catch_error([&] {
        for (;;) stack::mark_native(&name);
    });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(spell(error::get_id(e)), "stack-overflow");
    stack::restore(saved);
}

}  // namespace

namespace {

// The apply modes, driven as the apply native drives them: the argument
// block is the code.
class ApplyModes : public EvalTest {
protected:
    std::string apply(const char* function, const char* args, int32_t mode) {
        cell* top = stack::arguments.top;
        std::string out;
        cell* e = interpreter::catch_error([&] {
            cell w;
            word::make_at(symbol::make(function), &w);
            cell* fn = stack::push(word::get_value(&w));
            cell* code = reader::load(args);
            interpreter::eval_function(fn, code, 0, true, nullptr, 0, &w, nullptr, false, mode);
            out = mold(stack::arguments.top - 1);
        });
        if (e) out = spell(error::get_type(e)) + "/" + spell(error::get_id(e));
        stack::arguments.top = top;
        return out;
    }
};

TEST_F(ApplyModes, ListedAndNamedArguments) {
    run("f: func [a /r x /s y][append append append copy [] a x y]");
    using namespace interpreter;
    struct {
        const char* function;
        const char* args;
        int32_t mode;
        const char* expected;
    } cases[] = {
        {"f", "1 true 2 false 3", APPLY_LISTED, "[1 2 none]"},
        {"f", "1 false 2 true 3", APPLY_LISTED, "[1 none 3]"},
        {"f", "1 false qqq true 3", APPLY_LISTED | APPLY_LAZY, "[1 none 3]"},
        {"f", "1 false qqq true 3", APPLY_LISTED, "script/no-value"},
        {"f", "1 5 2", APPLY_LISTED, "script/expect-arg"},
        {"f", "1", APPLY_LISTED, "[1 none none]"},
        {"f", "1 /s true 3 /r false 2", APPLY_NAMED, "[1 none 3]"},
        {"f", "1 /s 7 3 :qqq-unset", APPLY_NAMED, "script/no-refine"},
        {"f", "1 :s 3", APPLY_NAMED, "[1 none 3]"},
        {"f", "1 /s 7 3", APPLY_NAMED, "[1 none 3]"},
        {"f", "1 /q true", APPLY_NAMED, "script/no-refine"},
        {"f", "", APPLY_NAMED, "[none none none]"},
        {"append", "[] [x] /only true /dup true 2", APPLY_NAMED, "[[x] [x]]"},
        {"append", "[] [x] false none true true 2", APPLY_LISTED, "[[x] [x]]"},
        {"append", "[] [x] false 5 false true 2", APPLY_LISTED, "[x x]"},
    };
    for (auto& c : cases) EXPECT_EQ(apply(c.function, c.args, c.mode), c.expected) << c.args;
}

}  // namespace

namespace {

// The tracer protocol: events reach a tracer function of six arguments,
// filtered by the block of event words its body starts with.
class Tracing : public EvalTest {
protected:
    std::string traced(const char* tracer, const char* code) {
        run(std::string("log: copy [] tracer: ") + tracer);
        cell w;
        word::make_at(symbol::make("tracer"), &w);
        interpreter::tracing.tracer = *word::get_value(&w);
        interpreter::tracing.mask = interpreter::trace_mask(&interpreter::tracing.tracer);
        interpreter::tracing.enabled = interpreter::tracing.saved = true;
        run(code);
        interpreter::tracing.enabled = interpreter::tracing.saved = false;
        interpreter::tracing.tracer = cell{TYPE_UNSET, 0, 0, 0};
        return run("log");
    }
};

TEST_F(Tracing, EventsReachTheTracerThroughItsMask) {
    EXPECT_EQ(traced("func [event code offset value ref frame][[set] append log value append log ref]",
                     "x: 5"),
              "[5 x:]");
    EXPECT_EQ(traced("func [event code offset value ref frame][[open call return] append log event]",
                     "negate 1"),
              "[open call return]");
    EXPECT_EQ(traced("func [event code offset value ref frame][[fetch] append log offset]", "negate 1"),
              "[0 1]");
    // No event block: every event, the tracer itself untraced.
    std::string all = traced("func [event code offset value ref frame][append log event]", "negate 1");
    for (const char* e : {"fetch", "open", "call", "return", "expr"})
        EXPECT_NE(all.find(e), std::string::npos) << e << " in " << all;
    EXPECT_EQ(interpreter::trace_mask(&interpreter::tracing.tracer), 0x1FFFFu);
}

}  // namespace

namespace {

TEST_F(EvalTest, SortComparatorsAreFunctions) {
    check({
        // The comparator is called as f(b, a), as the sort action does.
        {"sort/compare [3 1 2] func [a b][a - b]", "[3 2 1]"},
        {"sort/compare [3 1 2] func [a b][b - a]", "[1 2 3]"},
        {"sort/compare [\"b\" \"a\"] func [a b][qqq]", "script/no-value"},
        {"sort/compare [3 1 2] func [a b][return b - a]", "[1 2 3]"},
    });
}

}  // namespace

namespace {

TEST_F(EvalTest, LoopBodyTakesBreakAndContinue) {
    run("k: 0 n: 10");
    cell* top = stack::arguments.top;
    cell* body = reader::load("k: k + 1 do pick [[n: n + 1] [continue 99] [break/return 7] [break]] k");
    cell* result = stack::arguments.window;
    struct Step {
        interpreter::LoopStep step;
        const char* result;
    } steps[] = {
        {interpreter::LOOP_NEXT, "11"},
        {interpreter::LOOP_NEXT, "unset"},
        {interpreter::LOOP_BREAK, "7"},
        {interpreter::LOOP_BREAK, "unset"},
    };
    for (const Step& s : steps) {
        stack::Frame* ctop = stack::frames.top;
        EXPECT_EQ(interpreter::loop_body(body), s.step);
        EXPECT_EQ(mold(result), s.result);
        EXPECT_EQ(stack::frames.top, ctop);
        EXPECT_EQ(stack::arguments.top, top + 1);
    }
    stack::arguments.top = top;
    // Without a loop frame the same body's break is an error.
    EXPECT_EQ(run("break/return 1"), "throw/break");
}

}  // namespace

namespace {

// A callback the platform calls, raising a script error named by `arg`.
void parks(const char* arg) {
    sys::from_platform_void([&] { error::raise(error::SCRIPT, "invalid-arg", word::load(arg)); });
}

// Errors raised in callbacks during one platform call: the first is raised
// once the call returns, with its own value, whatever came after it.
TEST_F(EvalTest, PlatformCallsRaiseTheFirstErrorParked) {
    struct Case {
        const char* after;
        void (*then)();
    } cases[] = {
        {"a second parked error", [] { parks("second"); }},
        {"an error caught meanwhile",
         [] {
             stack::TopMark mark;
             interpreter::catch_error([] { error::raise(error::SCRIPT, "invalid-arg", word::load("caught")); });
         }},
        {"the call's own error", [] { error::raise(error::SCRIPT, "invalid-arg", word::load("own")); }},
        // A later callback whose catch-all holds a platform call of its own:
        // that call leaves the first error to the outer one.
        {"an inner platform call under a catch-all",
         [] {
             sys::from_platform_void([] {
                 sys::catch_level(sys::LEVEL_ALL, [] { sys::to_platform([] { parks("inner"); }); });
                 sys::clear_throw();
             });
         }},
    };
    for (const Case& c : cases) {
        cell* top = stack::arguments.top;
        cell* e = interpreter::catch_error([&] {
            sys::to_platform([&] {
                parks("first");
                c.then();
            });
        });
        ASSERT_NE(e, nullptr) << c.after;
        EXPECT_EQ(spell(word::symbol_of(object::values(e) + error::F_ARG1)), "first") << c.after;
        EXPECT_EQ(sys::pending_throw, 0u) << c.after;
        stack::arguments.top = top;
    }
    // Dropped, a parked error leaves nothing behind for a later call.
    parks("dropped");
    sys::drop_pending();
    EXPECT_EQ(sys::to_platform([] { return 1; }), 1);
}

}  // namespace
