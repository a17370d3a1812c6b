// The lexer through its C++ entry: the tables' shape, what text loads as
// (by mold), the syntax errors with their arguments, type-only scans,
// callbacks and the loaders still waiting for their datatypes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "tests/datatypes/text.h"

namespace {

class LexerTest : public WindowTest {
protected:
    std::string mold(cell* v) {
        TextOut o;
        cell c = *v;
        actions::mold_typed(&c, &o.out, false, false, false, nullptr, datatype::NO_LIMIT, 0);
        return o.text();
    }
    std::string form(cell* v) {
        TextOut o;
        cell c = *v;
        actions::form_typed(&c, &o.out, nullptr, datatype::NO_LIMIT);
        return o.text();
    }
    std::string spell(int32_t symbol) {
        cell w;
        word::make_cell(&w, TYPE_WORD, nullptr, symbol, -1);
        return form(&w);
    }

    // The mold of what the text loads as, or "type/id: arg1 | arg2 | arg3"
    // (formed) of the error it raises.
    std::string load(const std::string& text, lexer::Options o = {}) {
        cell* result = stack::push_cell();
        unset::make_at(result);
        error::thrown = cell{TYPE_UNSET, 0, 0, 0};
        uint32_t code = sys::catch_level(sys::THROW_ERROR, [&] {
            lexer::scan((const uint8_t*)text.data(), (uint32_t)text.size(), o, result);
        });
        sys::clear_throw();
        if (code) {
            if (error::thrown.type() != TYPE_ERROR) return "?";
            cell e = error::thrown;
            std::string s = spell(error::get_type(&e)) + "/" + spell(error::get_id(&e)) + ":";
            for (int32_t f = error::F_ARG1; f <= error::F_ARG3; f++) {
                cell* a = error::field(&e, f);
                if (a->type() == TYPE_NONE) continue;
                cell copy = *a;
                s += (f == error::F_ARG1 ? " " : " | ") + form(&copy);
            }
            return s;
        }
        return mold(result);
    }
    uint8_t scan_type(const std::string& text, bool prescan) {
        lexer::Options o;
        o.prescan = prescan;
        o.scan = !prescan;
        cell r;
        return lexer::scan((const uint8_t*)text.data(), (uint32_t)text.size(), o, &r).type;
    }
};

TEST(LexerTables, EveryTransitionRowIsFullAndEndsInATerminal) {
    for (int32_t state = 0; state < lexer::STATE_COUNT; state++) {
        std::vector<long> row;
        const char* p = lexer::transition_rows[state];
        char* after;
        for (long v = strtol(p, &after, 10); after != p; v = strtol(p, &after, 10)) {
            row.push_back(v);
            p = after;
        }
        ASSERT_EQ(row.size(), (size_t)lexer::CLASS_COUNT) << "row " << state;
        for (long v : row) {
            EXPECT_LT(v, lexer::STATE_LIMIT) << "row " << state;
            EXPECT_NE(v, 65) << "row " << state;
        }
        EXPECT_GE(row[39], lexer::TERMINAL_FIRST) << "row " << state << " at the end of input";
        for (int32_t c = 0; c < lexer::CLASS_COUNT; c++)
            EXPECT_EQ(lexer::transitions[state][c], row[c]);
    }
}

TEST(LexerTables, ClassFlagsOfUtf8LeadBytes) {
    EXPECT_EQ(lexer::class_table[0xC2], 37u | lexer::F_UNI2);
    EXPECT_EQ(lexer::class_table[0xEF], 37u | lexer::F_UNI2);
    EXPECT_EQ(lexer::class_table[0xF0], 37u | lexer::F_UNI4);
    EXPECT_EQ(lexer::class_table[0xBF], 36u);
    EXPECT_EQ(lexer::class_table[0xC1], 38u);
    EXPECT_EQ(lexer::class_table[0], 39u | lexer::F_EOF);
}

TEST_F(LexerTest, Loads) {
    struct Case { const char* text; const char* mold; };
    const Case cases[] = {
        {"", "[]"},
        {" \t\r\n\x01\x0B", "[]"},
        {"1 -2 +3 0", "[1 -2 3 0]"},
        {"12345678901", "[12345678901.0]"},
        {"-2147483648 2147483647", "[-2147483648 2147483647]"},
        {"2147483648", "[2147483648.0]"},
        {"1'000 1'2'3", "[1000 123]"},
        {"FFh 0FFh 7FFFFFFFh FFFFFFFFh", "[255 255 2147483647 -1]"},
        {"ffh", "[ffh]"},
        {".5 1. 1.5e3 -1.25 1'0.5", "[0.5 1.0 1500.0 -1.25 10.5]"},
        {"1.#INF -1.#inf +1.#INF 1.#NaN", "[1.#INF -1.#INF 1.#INF 1.#NaN]"},
        {"a b: :c 'd", "[a b: :c 'd]"},
        {"/ // /a '/ % %%", "[/ // /a '/ % %%]"},
        {"+ - < <= <> > >= = == =?", "[+ - < <= <> > >= = == =?]"},
        {"#abc #1", "[#abc #1]"},
        {"a/b 'a/b :a/b a/b: a/1/(c)", "[a/b 'a/b :a/b a/b: a/1/(c)]"},
        {"[a/b]", "[[a/b]]"},
        {"[1 [2] (3)]", "[[1 [2] (3)]]"},
        {"\"abc\" \"a^\"b\" \"^-^/^^^{^}^~\"", "[\"abc\" {a\"b} \"^-^/^^{}^~\"]"},
        {"{a{b}c}", "[\"a{b}c\"]"},
        {"{a^}b}", "[\"a}b\"]"},
        {"{line\nbreak}", "[\"line^/break\"]"},
        {"%{a}b}% %%{x}%%", "[\"a}b\" \"x\"]"},
        {"\"^(41)^(tab)^(NULL)^a^@\"", "[\"A^-^@^A^@\"]"},
        {"#\"a\" #\"^(3B1)\" #\"^/\" #\"\xC3\xA9\"", "[#\"a\" #\"\xCE\xB1\" #\"^/\" #\"\xC3\xA9\"]"},
        {"#(none) #(true) #(FALSE) #(integer!)", "[none true false integer!]"},
        {"a\xC2\xA0" "b", "[a b]"},
        {"\xE3\x80\x80", "[]"},
        {"; comment\n1 ;x", "[\n    1\n]"},
        {"1\n2", "[1\n2]"},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.text), c.mold) << c.text;
}

TEST_F(LexerTest, StringUnitWidthComesFromTheCodePoints) {
    struct Case { const char* text; uint32_t width; int32_t length; };
    const Case cases[] = {
        {"\"abc\"", 1, 3},
        {"\"\xC3\xA9\"", 1, 1},     // Latin-1 fits a byte
        {"\"^(3B1)\"", 2, 1},       // an ASCII token with a wide character
        {"\"^(1F600)\"", 4, 1},
        {"{\xF0\x9F\x98\x80}", 4, 1},
    };
    for (const Case& c : cases) {
        cell* r = stack::push_cell();
        lexer::scan((const uint8_t*)c.text, (uint32_t)strlen(c.text), {}, r);
        cell* s = block::cell_at(r, 0);
        ASSERT_EQ(s->type(), TYPE_STRING) << c.text;
        EXPECT_EQ(string::width_of(s), c.width) << c.text;
        EXPECT_EQ(string::length_of(s), c.length) << c.text;
    }
}

TEST_F(LexerTest, SyntaxErrors) {
    struct Case { const char* text; const char* error; };
    const Case cases[] = {
        {"[1 2", "syntax/missing: (line 1) | ] | [1 2"},
        {"1]", "syntax/missing: (line 1) | [ | ]"},
        {"(1]", "syntax/missing: (line 1) | ) | ]"},
        {"[1)", "syntax/missing: (line 1) | ] | )"},
        {"}", "syntax/missing: (line 1) | { | }"},
        {"\n\n(a", "syntax/missing: (line 3) | ) | (a"},
        {"1''0", "syntax/invalid: (line 1) | integer | 1''0"},
        {"#(foo)", "syntax/malconstruct: (line 1) | #(foo)"},
        {"#(none", "syntax/malconstruct: (line 1) | #(none"},
        {"\"abcdefghijklmnopqrstuvwxyz0123456789",
         "syntax/invalid: (line 1) | string | \"abcdefghijklmnopqrstuvwxyz012"},
        {"\"a\nb\"", "syntax/invalid: (line 1) | string | \"a"},
        {"\"^(110000)\"", "syntax/invalid: (line 1) | string | \"^(110000)\""},
        {"\"^(D800)\"", "syntax/invalid: (line 1) | string | \"^(D800)\""},
        {"#\"^(110000)\"", "syntax/invalid: (line 1) | char | #\"^(110000)\""},
        {"#\"\"", "syntax/invalid: (line 1) | char | #\"\""},
        {"#\"ab\"", "syntax/invalid: (line 1) | char | #\"ab\""},
        {"%%{a}%b}%%", "syntax/invalid: (line 1) | string | %%{a}%b}%%"},
        {"%%{a}%", "syntax/invalid: (line 1) | string | %%{a}%"},
        {"%{a}%%", "syntax/invalid: (line 1) | string | %{a}%%"},
        {"{abc", "syntax/invalid: (line 1) | string | {abc"},
        {"'a:", "syntax/invalid: (line 1) | word | 'a:"},
        {"a/", "syntax/invalid: (line 1) | path | "},
        {"a/b:/c", "syntax/invalid: (line 1) | path | :/c"},
        {"\\", "syntax/bad-char: (line 1) | \\"},
        {"a \xC0", "syntax/bad-char: (line 1) | \xEF\xBF\xBD"},
        {"1,2", "syntax/invalid: (line 1) | * | ,2"},
        {"Eh", "syntax/invalid: (line 1) | word | Eh"},
        {"123456789h", "syntax/invalid: (line 1) | integer | 123456789h"},
        {"#", "syntax/invalid: (line 1) | issue | #"},
        {"/a:", "syntax/invalid: (line 1) | refinement | /a:"},
        {"a\xC3", "syntax/invalid: (line 1) | word | a\xEF\xBF\xBD"},
        // The text is cut after 30 code points, not inside a sequence.
        {"\"\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1"
         "\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1"
         "\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1",
         "syntax/invalid: (line 1) | string | \"\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1"
         "\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1"
         "\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1\xCE\xB1"},
    };
    for (const Case& c : cases) {
        // "*" stands for the name of a datatype that is not registered yet.
        std::string got = load(c.text), want = c.error;
        size_t star = want.find(" * ");
        if (star != std::string::npos && got.size() > star) {
            size_t bar = got.find(" |", star + 1);
            if (bar != std::string::npos) got.replace(star + 1, bar - star - 1, "*");
        }
        EXPECT_EQ(got, want) << c.text;
    }
}

TEST_F(LexerTest, TokensOfDatatypesBuiltElsewhereAreRecognised) {
    struct Case { const char* text; uint8_t type; };
    const Case cases[] = {
        {"1.2.3", TYPE_TUPLE}, {"1x2", TYPE_PAIR}, {"-1x-2", TYPE_PAIR}, {"1:30", TYPE_TIME},
        {"1:30:15.5", TYPE_TIME}, {"50%", TYPE_PERCENT}, {"$1.50", TYPE_MONEY}, {"USD$1", TYPE_MONEY},
        {"1-Jan-2000", TYPE_DATE}, {"<a b>", TYPE_TAG}, {"a@b.c", TYPE_EMAIL}, {"http://x.y", TYPE_URL},
        {"@ref", TYPE_REF}, {"%a/b.txt", TYPE_FILE}, {"%\"a b\"", TYPE_FILE}, {"#{0102}", TYPE_BINARY},
        {"2#{00000001}", TYPE_BINARY}, {"64#{AQID}", TYPE_BINARY}, {"(1, 2)", TYPE_POINT2D},
        {"(1, 2, 3)", TYPE_POINT3D}, {"#[a 1]", TYPE_MAP}, {"[1]", TYPE_BLOCK}, {"(1)", TYPE_PAREN},
        {"a/b", TYPE_PATH}, {"{x}", TYPE_STRING}, {"1", TYPE_INTEGER}, {"", 0}, {"  ", 0},
        {"#(none)", TYPE_NONE},
    };
    for (const Case& c : cases) EXPECT_EQ(scan_type(c.text, false), c.type) << c.text;
    // Checked by /scan, not by /prescan.
    const char* invalid[] = {"1.2.256", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1.5x2", "1:2:", "$1''0",
                             "#{123}", "3#{00}", "2#{0101}", "(1, )", "(1, 2, 3, 4)", "%a%zz",
                             "30-Feb-2000"};
    for (const char* t : invalid) {
        EXPECT_EQ(scan_type(t, false), TYPE_ERROR) << t;
        EXPECT_NE(scan_type(t, true), TYPE_ERROR) << t;
    }
}

TEST_F(LexerTest, OneStopsAfterTheFirstValue) {
    lexer::Options o;
    o.one = true;
    cell* r = stack::push_cell();
    const char* text = " [1 2] 3";
    lexer::Outcome out = lexer::scan((const uint8_t*)text, 8, o, r);
    EXPECT_EQ(mold(r), "[1 2]");
    EXPECT_EQ(out.consumed, 6u);
    o.one = false;
    r = stack::push_cell();
    out = lexer::scan((const uint8_t*)"a/b c", 5, {}, r);
    EXPECT_EQ(out.count, 2u);
}

// A C++ callback: answers false for the integer 2 on load; records events.
struct Recorder {
    std::vector<std::string> events;
};
bool record(const lexer::Callback& cb, const lexer::EventInfo& e) {
    auto* r = (Recorder*)cb.context;
    r->events.push_back(std::to_string(e.event) + ":" + std::to_string(e.type) + "@" +
                        std::to_string(e.start) + "-" + std::to_string(e.end));
    if (e.event == lexer::EV_LOAD && e.value->type() == TYPE_INTEGER && integer::get(e.value) == 2)
        return false;
    if (e.event == lexer::EV_ERROR) return true;
    return true;
}

TEST_F(LexerTest, CallbackDropsLoadedValuesAndSkipsErrors) {
    Recorder rec;
    lexer::Callback cb{record, lexer::EV_LOAD, {TYPE_UNSET, 0, 0, 0}, &rec};
    lexer::Options o;
    o.callback = &cb;
    EXPECT_EQ(load("1 2 3", o), "[1 3]");
    EXPECT_EQ(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[1], "4:11@2-3");

    rec.events.clear();
    cb.mask = lexer::EV_ERROR | lexer::EV_OPEN | lexer::EV_CLOSE;
    EXPECT_EQ(load("1 1''0 [3] }", o), "[1 [3]]");
    std::vector<std::string> expected = {"32:11@2-6", "8:5@7-8", "16:5@9-10", "32:0@11-12"};
    EXPECT_EQ(rec.events, expected);
}

TEST_F(LexerTest, NestedScansFromACallbackKeepTheirParentsCells) {
    struct Nested {
        static bool fire(const lexer::Callback&, const lexer::EventInfo& e) {
            if (e.event == lexer::EV_LOAD) {
                cell* r = stack::push_cell();
                lexer::scan((const uint8_t*)"[x y] z", 7, {}, r);
                stack::pop(1);
            }
            return true;
        }
    };
    lexer::Callback cb{Nested::fire, lexer::EV_LOAD, {TYPE_UNSET, 0, 0, 0}, nullptr};
    lexer::Options o;
    o.callback = &cb;
    EXPECT_EQ(load("[1 [2 3]] 4", o), "[[1 [2 3]] 4]");
}

TEST_F(LexerTest, BinaryInputAndPartsAreClampedToTheSource) {
    cell* s = string::load("1 2 3", 5, nullptr, 0);
    cell* r = stack::push_cell();
    lexer::Outcome out = lexer::load(s, 3, {}, r);
    EXPECT_EQ(mold(r), "[1 2]");
    EXPECT_EQ(out.consumed, 3u);
    r = stack::push_cell();
    lexer::load(s, 1000, {}, r);
    EXPECT_EQ(mold(r), "[1 2 3]");
    // Characters, not bytes, are consumed.
    cell* w = string::load("\xCE\xB1 b", 4, nullptr, 0);
    lexer::Options o;
    o.one = true;
    r = stack::push_cell();
    out = lexer::load(w, -1, o, r);
    EXPECT_EQ(out.consumed, 1u);
}

}  // namespace
