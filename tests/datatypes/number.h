// Helpers of the number tests: value makers, and running an action through
// the action table in an arguments window of its own, catching the error it
// raises.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"

namespace numbers_test {

inline cell I(int32_t n) {
    cell c;
    return *integer::make_at(&c, n);
}
inline cell C(int32_t cp) {
    cell c;
    return *char_::make_at(&c, cp);
}
inline cell F(double x, uint8_t type = TYPE_FLOAT) {
    cell c;
    float_::make_in(&c, x);
    c.header = type;
    return c;
}
inline cell P(double x) { return F(x, TYPE_PERCENT); }
inline cell T(double x) { return F(x, TYPE_TIME); }

// What an action gave: a value, or the error it raised.
struct Outcome {
    cell value{};
    bool raised = false;
    error::Math math = error::Math::none;
    error::Script script = error::Script::none;
    error::Internal internal = error::Internal::none;
};

// Runs `body` (which returns the result cell) and records its outcome.
template <class F>
Outcome run(F&& body) {
    error::last_math = error::Math::none;
    error::last_script = error::Script::none;
    error::last_internal = error::Internal::none;
    Outcome o;
    uint32_t code = sys::catch_level(sys::THROW_ERROR, [&] { o.value = *body(); });
    if (code) {
        sys::clear_throw();
        o.raised = true;
        o.math = error::last_math;
        o.script = error::last_script;
        o.internal = error::last_internal;
    }
    return o;
}

// Opens a window at the stack's top holding the given arguments, and puts
// the cursors back when it goes.
struct Window {
    stack::Arguments saved = stack::arguments;
    explicit Window(std::initializer_list<cell> args) {
        stack::arguments.window = stack::arguments.top;
        for (const cell& a : args) stack::push(&a);
    }
    ~Window() { stack::arguments = saved; }
    cell* arg(uint32_t i) { return stack::arg(i); }
};

// A two-argument math action of a's type on a and b.
inline Outcome math(int action, cell a, cell b) {
    Window w{a, b};
    uint8_t row = a.type();
    auto fn = reinterpret_cast<datatype::WindowFn>(datatype::entry(row, (uint32_t)action));
    if (!fn) {
        Outcome o;
        o.raised = true;
        o.script = error::Script::expect_arg;  // unsupported, as the dispatcher reports it
        return o;
    }
    return run([&] { return fn(); });
}

// Expected outcomes, for tables.
struct Expect {
    enum Kind { VALUE, MATH, SCRIPT, INTERNAL } kind;
    cell value;
    error::Math math;
    error::Script script;
};
inline Expect V(cell c) { return {Expect::VALUE, c, error::Math::none, error::Script::none}; }
inline Expect M(error::Math id) { return {Expect::MATH, {}, id, error::Script::none}; }
inline Expect S(error::Script id) { return {Expect::SCRIPT, {}, error::Math::none, id}; }
inline Expect NOT_YET() { return {Expect::INTERNAL, {}, error::Math::none, error::Script::none}; }

inline bool same_value(const cell& a, const cell& b) {
    if (a.type() != b.type()) return false;
    if (a.type() == TYPE_FLOAT || a.type() == TYPE_PERCENT || a.type() == TYPE_TIME) {
        uint64_t x, y;
        memcpy(&x, &a.data2, 8);
        memcpy(&y, &b.data2, 8);
        double dx = cell::get_float(&a), dy = cell::get_float(&b);
        return x == y || (dx != dx && dy != dy);
    }
    return a.data2 == b.data2;
}

inline std::string describe(const cell& c) {
    char text[64];
    if (c.type() == TYPE_FLOAT || c.type() == TYPE_PERCENT || c.type() == TYPE_TIME)
        snprintf(text, sizeof text, "type %d %.17g", c.type(), cell::get_float(&c));
    else
        snprintf(text, sizeof text, "type %d %d", c.type(), (int32_t)c.data2);
    return text;
}

// Checks an outcome against what a table row expects.
inline ::testing::AssertionResult matches(const Outcome& o, const Expect& e) {
    switch (e.kind) {
    case Expect::VALUE:
        if (o.raised) return ::testing::AssertionFailure() << "raised an error";
        if (!same_value(o.value, e.value))
            return ::testing::AssertionFailure()
                   << "gave " << describe(o.value) << ", expected " << describe(e.value);
        return ::testing::AssertionSuccess();
    case Expect::MATH:
        if (o.raised && o.math == e.math) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected math error " << (int)e.math;
    case Expect::SCRIPT:
        if (o.raised && o.script == e.script) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected script error " << (int)e.script
                                             << (o.raised ? ", another error" : ", no error");
    case Expect::INTERNAL:
        if (o.raised && o.internal == error::Internal::not_done) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected not-done";
    }
    return ::testing::AssertionFailure();
}

}  // namespace numbers_test
