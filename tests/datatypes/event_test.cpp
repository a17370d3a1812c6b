// event!: the backend seam. Fields of a backend event are asked of the
// installed getters; a script-made event answers from its own data and
// never reaches them.
#include <gtest/gtest.h>

#include "datatypes/char.h"
#include "datatypes/event.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "tests/evaluator/eval.h"

namespace {

class EventSeam : public EvalTest {
protected:
    const event::Backend saved = event::backend;
    void SetUp() override {
        EvalTest::SetUp();
        event::backend = event::stand_in;
    }
    void TearDown() override {
        event::backend = saved;
        EvalTest::TearDown();
    }
    std::string field(const cell* e, int32_t f) {
        cell* r = stack::push_cell();
        std::string s = mold(event::get_field(e, f, r));
        stack::pop(1);
        return s;
    }
};

// A backend whose every answer shows that it was asked.
const event::Backend fake = {
    [](const cell*, cell* r) { integer::make_at(r, 1); },
    [](const cell*, cell* r) { integer::make_at(r, 2); },
    [](const cell*, cell* r) { pair::make_at(r, 5, 6); },
    [](const cell*, cell* r) { char_::make_at(r, 'k'); },
    [](const cell*, cell* r) { integer::make_at(r, 7); },
    [](const cell*, cell* r) { integer::make_at(r, 8); },
    [](const cell*, cell* r) { integer::make_at(r, 9); },
    [](uint32_t, uint32_t mask) { return mask == event::FLAG_CONTROL; },
    [](const cell*, bool) { return true; },
};

TEST_F(EventSeam, BackendEventsAskTheGetters) {
    cell* e = stack::push_cell();
    event::make_at(e, 9, 0x1234, event::FLAG_SHIFT | 'q');
    // Before the backend installs its getters, the stand-ins read the cell.
    EXPECT_EQ(field(e, event::F_FACE), "none");
    EXPECT_EQ(field(e, event::F_KEY), "#\"q\"");
    EXPECT_EQ(field(e, event::F_FLAGS), "[shift]");
    EXPECT_EQ(field(e, event::F_IS_SHIFT), "true");
    event::backend = fake;
    const char* expected[] = {"click", "1", "2", "5x6", "#\"k\"", "7", "8",
                              "false", "false", "false", "false", "false", "true", "false", "9"};
    for (int32_t f = 1; f <= event::FIELD_COUNT; f++) EXPECT_EQ(field(e, f), expected[f - 1]) << f;
}

TEST_F(EventSeam, ScriptEventsNeverAskTheBackend) {
    event::backend = fake;
    EXPECT_EQ(run("e: make event! [type: 'over key: #\"z\" flags: [shift] picked: 4]"), "event");
    EXPECT_EQ(run("reduce [e/face e/window e/offset e/key e/picked e/flags e/shift? e/ctrl? e/orientation]"),
              "[none none 0x0 #\"z\" 4 [shift] true false none]");
    EXPECT_EQ(run("e: make event! [] e/key"), "none");
}

}  // namespace
