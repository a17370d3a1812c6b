// Helpers shared by the datatype tests: an output "string" for form and mold,
// and an arguments window of the argument stack for the duration of a test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/cell.h"
#include "evaluator/stack.h"

// A string! cell over a std::string: payload word 2 points at the text. The
// test stand-in of the string module's append (defined in datatype_test.cpp,
// to go when the string module lands) writes there.
struct TextOut {
    std::string text;
    cell out{TYPE_STRING, 0, 0, 0};
    TextOut() { out.data2 = (uint32_t)(uintptr_t)&text; }
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
};
