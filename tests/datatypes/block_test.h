// Shared fixture of the block tests: blocks written as text, read back as
// mold text, and error capture.
//
// Block text: tokens separated by blanks; "n" is none!, "t"/"f" are true and
// false, "[" ... "]" a nested block, "(" ... ")" a paren, a leading "/" puts
// the new-line marker on the value, "w:name" is the word! name, "i:12" an
// integer!, "d:1.5" a float!, anything else is a string!.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "runtime/cycles.h"
#include "runtime/memory.h"
#include "runtime/sys.h"
#include "tests/datatypes/text.h"

class BlockTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // The window's first cell is the result slot: refinements that are
        // absent point at it.
        stack::push_cell();
    }
    void TearDown() override {
        EXPECT_EQ(cycles::depth(), 0u) << "a walk left cycle-stack entries";
        WindowTest::TearDown();
    }

    cell* absent() { return series::ABSENT; }

    // A new block on the argument stack from block text.
    cell* B(const std::string& text) {
        std::istringstream in(text);
        std::vector<std::string> tokens;
        for (std::string t; in >> t;) tokens.push_back(t);
        size_t i = 0;
        return parse(tokens, i, TYPE_BLOCK);
    }
    cell* S(const std::string& s) { return string::load(s.data(), (int32_t)s.size(), nullptr, 0); }
    static cell integer(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    // An integer! argument cell above the window (a given refinement).
    cell* I(int32_t n) {
        cell c = integer(n);
        return stack::push(&c);
    }

    std::string mold(cell* v, bool flat = false, bool only = false) {
        TextOut o;
        cell c = *v;
        actions::mold_typed(&c, &o.out, only, false, flat, nullptr, datatype::NO_LIMIT, 0);
        return o.text();
    }
    std::string form(cell* v) {
        TextOut o;
        cell c = *v;
        actions::form_typed(&c, &o.out, nullptr, datatype::NO_LIMIT);
        return o.text();
    }
    int32_t length(cell* v) { return series::length_of(v); }


private:
    cell* parse(const std::vector<std::string>& t, size_t& i, uint8_t type) {
        cell* blk = block::push_new(4);
        cell::set_type(blk, type);
        while (i < t.size()) {
            std::string tok = t[i++];
            if (tok == "]" || tok == ")") break;
            bool line = tok.size() > 1 && tok[0] == '/';
            if (line) tok = tok.substr(1);
            cell v;
            cell* top = stack::arguments.top;
            if (tok == "n") {
                none::make_at(&v);
            } else if (tok == "t" || tok == "f") {
                logic::make_at(&v, tok == "t");
            } else if (tok.size() > 2 && tok.compare(0, 2, "w:") == 0) {
                word::make_at(symbol::make(tok.substr(2).c_str()), &v);
            } else if (tok.size() > 2 && tok.compare(0, 2, "i:") == 0) {
                v = integer(std::stoi(tok.substr(2)));
            } else if (tok.size() > 2 && tok.compare(0, 2, "d:") == 0) {
                float_::make_in(&v, std::stod(tok.substr(2)));
            } else if (tok == "[" || tok == "(") {
                v = *parse(t, i, tok == "[" ? TYPE_BLOCK : TYPE_PAREN);
            } else {
                v = *S(tok);
            }
            cell::set_new_line(&v, line);
            block::append_cell_copy(series::node_of(blk), &v);
            stack::arguments.top = top;  // the block holds it now
        }
        return blk;
    }
};
