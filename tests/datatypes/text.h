// Helpers shared by the datatype tests: an output "string" for form and mold,
// and an arguments window of the argument stack for the duration of a test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/cell.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"

// A new string! on the argument stack for form and mold to write into (the
// stack keeps it rooted); the top is put back when the test's scope ends.
struct TextOut {
    cell* top = stack::arguments.top;
    cell& out = *string::push_new(16);
    ~TextOut() { stack::arguments.top = top; }
    // The text as UTF-8.
    std::string text() {
        int32_t n = -1;
        const uint8_t* p = unicode::to_utf8(&out, &n);
        return std::string((const char*)p, (size_t)n);
    }
};

// Opens an empty arguments window at the stack's top and restores the
// cursors afterwards.
class WindowTest : public testing::Test {
protected:
    stack::Arguments saved{};
    void SetUp() override {
        saved = stack::arguments;
        stack::arguments.window = stack::arguments.top;
    }
    void TearDown() override { stack::arguments = saved; }

    // The id of the script or internal error that `f` raises (the test fails
    // when it raises nothing).
    template <class F>
    static error::Script script_error(F f) {
        error::last_script = error::Script::none;
        EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, f), sys::THROW_ERROR);
        sys::clear_throw();
        return error::last_script;
    }
    template <class F>
    static error::Internal internal_error(F f) {
        error::last_internal = error::Internal::none;
        EXPECT_EQ(sys::catch_level(sys::THROW_ERROR, f), sys::THROW_ERROR);
        sys::clear_throw();
        return error::last_internal;
    }
};

// The text that form or mold (with /all) of a value gives, through the
// action table.
inline std::string formed(cell v) {
    TextOut o;
    datatype::get<datatype::A_FORM>(v.type())(&v, &o.out, nullptr, datatype::NO_LIMIT);
    return o.text();
}
inline std::string molded(cell v, bool all = false) {
    TextOut o;
    datatype::get<datatype::A_MOLD>(v.type())(&v, &o.out, false, all, false, nullptr,
                                              datatype::NO_LIMIT, 0);
    return o.text();
}
