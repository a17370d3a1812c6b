// A fixture for datatype tests that call actions through the action table:
// values on the argument stack, blocks of given cells, the datatype words
// bound to their datatypes (as the boot image binds them), mold/form text
// and the "category/id" of a raised error.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "runtime/sys.h"
#include "tests/datatypes/text.h"

class ValueTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        stack::push_cell();  // the result slot: absent refinements point at it
    }
    cell* absent() { return series::ABSENT; }

    static cell integer(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    static cell character(int32_t cp) {
        cell c;
        return *series::make_char(&c, cp);
    }
    static cell type(uint8_t id) {
        cell c;
        return *datatype::make_at(&c, id);
    }
    // A word! of the global context; a datatype name gets its datatype as
    // value.
    cell word(const char* spelling) {
        cell* w = word::push_new(symbol::make(spelling));
        size_t n = strlen(spelling);
        if (n && spelling[n - 1] == '!') {
            for (uint32_t t = 1; t <= datatype::top_type_id; t++) {
                if (!datatype::type_names[t].name || strcmp(datatype::type_names[t].name, spelling))
                    continue;
                cell dt = type((uint8_t)t);
                word::set_in(w, &dt);
            }
        }
        return *w;
    }
    // A new string! on the stack from UTF-8 text.
    cell* text(const std::string& s) { return string::load(s.data(), (int32_t)s.size(), nullptr, 0); }
    // A new block! on the stack holding copies of the cells.
    cell* block(std::initializer_list<cell> cells) {
        cell* b = block::push_new((int32_t)cells.size() + 1);
        for (const cell& c : cells) block::append_cell_copy(series::node_of(b), &c);
        return b;
    }
    cell* push(const cell& c) { return stack::push(&c); }

    std::string mold(const cell& v, bool only = false, bool all = false) {
        TextOut o;
        cell c = v;
        actions::mold_typed(&c, &o.out, only, all, false, series::ABSENT, datatype::NO_LIMIT, 0);
        return o.text();
    }
    // Mold with a /part limit; *rest gets what mold returned.
    std::string mold_part(const cell& v, int32_t limit, int32_t* rest, bool only = false) {
        TextOut o;
        cell c = v;
        cell* part = stack::push(&c);  // any cell above the window counts as given
        *rest = actions::mold_typed(&c, &o.out, only, false, false, part, limit, 0);
        return o.text();
    }
    std::string form(const cell& v) {
        TextOut o;
        cell c = v;
        actions::form_typed(&c, &o.out, series::ABSENT, datatype::NO_LIMIT);
        return o.text();
    }
    std::string utf8(cell* s) {
        cell v = *s;
        int32_t n = -1;
        const uint8_t* p = unicode::to_utf8(&v, &n);
        return std::string((const char*)p, (size_t)n);
    }

    // Runs body; "category/id" of the error it raised, "" when none.
    template <class F>
    std::string raised(F body) {
        cell* top = stack::arguments.top;
        error::thrown = cell{TYPE_UNSET, 0, 0, 0};
        uint32_t code = sys::catch_level(sys::THROW_ERROR, body);
        sys::clear_throw();
        stack::arguments.top = top;
        if (code != sys::THROW_ERROR || error::thrown.type() != TYPE_ERROR) return "";
        auto spell = [](int32_t s) { return std::string(symbol::to_cstr(s)); };
        return spell(error::get_type(&error::thrown)) + "/" + spell(error::get_id(&error::thrown));
    }
};
