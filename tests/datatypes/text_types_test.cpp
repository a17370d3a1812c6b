// tag!, email! and ref! through the action table: their text forms, email
// path access and the actions they leave out.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/datatype.h"
#include "datatypes/email.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using error::Script;

namespace {

class TextTypesTest : public WindowTest {
protected:
    static cell* make(uint8_t type, const std::string& s) {
        cell* c = unicode::load_utf8_new((const uint8_t*)s.data(), (uint32_t)s.size(), stack::push_cell());
        return cell::set_type(c, type);
    }
    static std::string text_of(cell* s) {
        cell v = *s;
        int32_t n = -1;
        const uint8_t* p = unicode::to_utf8(&v, &n);
        return std::string((const char*)p, (size_t)n);
    }
    static std::string mold(cell* v, int32_t limit = NO_LIMIT) {
        TextOut o;
        actions::mold_typed(v, &o.out, false, false, false, nullptr, limit, 0);
        return o.text();
    }
    static std::string form(cell* v) {
        TextOut o;
        actions::form_typed(v, &o.out, nullptr, NO_LIMIT);
        return o.text();
    }
    static cell word(const char* name) {
        cell w;
        word::make_at(symbol::make(name), &w);
        return w;
    }
    // Path access on an email: get, or set when `value` is given.
    static cell* path(cell* e, cell* element, cell* value = nullptr) {
        cell p{TYPE_NONE, 0, 0, 0};
        return get<A_EVAL_PATH>(TYPE_EMAIL)(e, element, value, &p, nullptr, element, 0, false,
                                            value == nullptr, true, false);
    }
};

TEST_F(TextTypesTest, FormAndMold) {
    struct Case { uint8_t type; const char* text; const char* mold; const char* form; };
    const Case cases[] = {
        {TYPE_TAG, "img", "<img>", "<img>"},
        {TYPE_TAG, "a \"b\"", "<a \"b\">", "<a \"b\">"},
        {TYPE_EMAIL, "a@b", "a@b", "a@b"},
        {TYPE_EMAIL, "x\"y@z", "x\"y@z", "x\"y@z"},  // no quotes, no escapes
        {TYPE_REF, "abc", "@abc", "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(make(c.type, c.text)), c.mold);
        EXPECT_EQ(form(make(c.type, c.text)), c.form);
    }
    // a limit counts the brackets
    EXPECT_EQ(mold(make(TYPE_TAG, "abcdef"), 3), "<ab");
    EXPECT_EQ(mold(make(TYPE_REF, "abcdef"), 3), "@ab");
}

TEST_F(TextTypesTest, EmailPaths) {
    cell user = word("user"), host = word("host"), other = word("domain");
    cell* e = make(TYPE_EMAIL, "a@b");
    cell* u = path(e, &user);
    EXPECT_EQ(u->type(), TYPE_STRING);
    EXPECT_EQ(text_of(u), "a");
    EXPECT_EQ(text_of(path(e, &host)), "b");
    cell* plain = make(TYPE_EMAIL, "nobody");
    EXPECT_EQ(text_of(path(plain, &user)), "nobody");
    EXPECT_EQ(text_of(path(plain, &host)), "");
    // setting a part changes the email itself
    path(e, &host, make(TYPE_STRING, "example.org"));
    EXPECT_EQ(text_of(e), "a@example.org");
    path(e, &user, make(TYPE_STRING, "root"));
    EXPECT_EQ(text_of(e), "root@example.org");
    cell two;
    series::make_integer(&two, 2);
    cell* c = path(e, &two);
    EXPECT_EQ(c->type(), TYPE_CHAR);
    EXPECT_EQ(c->data2, (uint32_t)'o');
    EXPECT_EQ(script_error([&] { path(e, &other); }), Script::invalid_path);
}

TEST_F(TextTypesTest, LeftOutActions) {
    EXPECT_EQ(get<A_APPEND>(TYPE_REF), nullptr);
    EXPECT_EQ(get<A_EVAL_PATH>(TYPE_REF), nullptr);
    EXPECT_NE(get<A_APPEND>(TYPE_TAG), nullptr);
    for (uint8_t t : {TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
        EXPECT_EQ(get<A_SORT>(t), nullptr);
        EXPECT_EQ(get<A_TRIM>(t), nullptr);
        EXPECT_EQ(get<A_RANDOM>(t), nullptr);
        EXPECT_EQ(get<A_FIND>(t), get<A_FIND>(TYPE_STRING));
    }
}

}  // namespace
