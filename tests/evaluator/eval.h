// Shared fixture of the evaluator tests: Zol text read into a block,
// evaluated under an error-catch frame, and the result given back as its
// mold, or "category/id" of the error it raised.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "tests/datatypes/text.h"

class EvalTest : public WindowTest {
protected:
    stack::Frame* ctop = nullptr;
    void SetUp() override {
        WindowTest::SetUp();
        ctop = stack::frames.top;
        stack::push_cell();
    }
    void TearDown() override {
        EXPECT_EQ(stack::frames.top, ctop) << "frames left on the stack";
        EXPECT_EQ(sys::runtime.last_throw, 0u) << "a code left pending";
        stack::frames.top = ctop;
        sys::clear_throw();
        WindowTest::TearDown();
    }

    static std::string spell(int32_t s) {
        cell w;
        word::make_cell(&w, TYPE_WORD, nullptr, s, -1);
        TextOut t;
        word::form(&w, &t.out, series::ABSENT, datatype::NO_LIMIT);
        return t.text();
    }
    static std::string mold(cell* v) {
        TextOut o;
        cell c = *v;
        actions::mold_typed(&c, &o.out, false, false, false, series::ABSENT, datatype::NO_LIMIT, 0);
        return o.text();
    }
    static std::string form(cell* v) {
        TextOut o;
        cell c = *v;
        actions::form_typed(&c, &o.out, series::ABSENT, datatype::NO_LIMIT);
        return o.text();
    }

    struct Case {
        const char* code;
        const char* expected;  // mold of the result, or "category/id"
    };
    void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
    }

    // Evaluates the text; the mold of its value, or "category/id" of the
    // error; `error` receives the error when one was raised.
    std::string run(const std::string& text, cell* error = nullptr) {
        cell* top = stack::arguments.top;
        cell* result = nullptr;
        cell* e = interpreter::catch_error([&] {
            cell* code = reader::load(text.data(), text.size());
            result = interpreter::do_block(code);
        });
        std::string out;
        if (e) {
            if (error) *error = *e;
            out = spell(error::get_type(e)) + "/" + spell(error::get_id(e));
        } else {
            out = mold(result);
        }
        stack::arguments.top = top;
        return out;
    }
};
