// Helpers shared by the datatype tests: an output "string" for form and mold,
// and an arguments window of the argument stack for the duration of a test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/cell.h"
#include "datatypes/string_out.h"
#include "evaluator/stack.h"

// A string! cell over a std::string (payload word 2 points at the text),
// written by the stand-in of the string module's append; goes when the
// string module lands.
struct TextOut {
    std::string text;
    cell out{TYPE_STRING, 0, 0, 0};
    TextOut() {
        out.data2 = (uint32_t)(uintptr_t)&text;
        string::pending_sink = [](cell* value, const char* bytes, uint32_t n) {
            reinterpret_cast<std::string*>((uintptr_t)value->data2)->append(bytes, n);
        };
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
};
