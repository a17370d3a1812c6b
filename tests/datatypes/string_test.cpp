// string! internals and actions, and the series! actions they inherit,
// through the action table.
#include "datatypes/string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "evaluator/actions.h"
#include "runtime/collector.h"
#include "runtime/sys.h"
#include "runtime/unicode.h"
#include "tests/datatypes/text.h"

using namespace datatype;

namespace {

class StringTest : public WindowTest {
protected:
    // A new string! on the stack from UTF-8 text.
    cell* str(const std::string& s) {
        return string::load(s.data(), (int32_t)s.size(), nullptr, 0);
    }
    // A string whose characters were appended one by one (Latin-1 letters
    // then take width 2).
    cell* appended(std::initializer_list<int32_t> cps) {
        cell* s = string::push_new(4);
        for (int32_t cp : cps) string::append_char(series::node_of(s), cp);
        return s;
    }
    static std::string utf8(cell* s) {
        cell v = *s;
        int32_t n = -1;
        const uint8_t* p = unicode::to_utf8(&v, &n);
        return std::string((const char*)p, (size_t)n);
    }
    static cell integer(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    static cell character(int32_t cp) {
        cell c;
        return *series::make_char(&c, cp);
    }
    cell* absent() { return series::ABSENT; }
    std::string mold(cell* s, bool all = false, int32_t limit = NO_LIMIT, int32_t* rest = nullptr) {
        TextOut o;
        int32_t r = actions::mold_typed(s, &o.out, false, all, false, nullptr, limit, 0);
        if (rest) *rest = r;
        return o.text();
    }
};

// --- Internals ------------------------------------------------------------------

TEST_F(StringTest, WideningByWriteKind) {
    cell* s = string::push_new(1);
    string::append_char(series::node_of(s), 0xE9);
    EXPECT_EQ(string::width_of(s), 2u);  // appending keeps width 1 for ASCII only

    cell* p = str("abc");
    string::poke_char(series::node_of(p), 1, 0xE9);
    EXPECT_EQ(string::width_of(p), 1u);
    EXPECT_EQ(utf8(p), "a\xC3\xA9" "c");

    cell* w = str("ab");
    string::append_char(series::node_of(w), 0x1F600);
    EXPECT_EQ(string::width_of(w), 4u);
    EXPECT_EQ(utf8(w), "ab\xF0\x9F\x98\x80");

    cell* i = str("xy");
    string::insert_char_at(series::node_of(i), 1, 0x20AC);
    EXPECT_EQ(string::width_of(i), 2u);
    EXPECT_EQ(utf8(i), "x\xE2\x82\xACy");
}

TEST_F(StringTest, LoadingUtf8KeepsLatin1InOneByte) {
    cell* s = str("caf\xC3\xA9");
    EXPECT_EQ(string::width_of(s), 1u);
    EXPECT_EQ(string::length_of(s), 4);
    EXPECT_EQ(string::char_at(s, 3), 0xE9);
    EXPECT_EQ(str("\xEF\xBB\xBF" "A")->type(), TYPE_STRING);
    EXPECT_EQ(string::length_of(str("\xEF\xBB\xBF" "A")), 1);
}

TEST_F(StringTest, CompareValues) {
    struct Case { const char* a; const char* b; int32_t op; bool prefix; int32_t expected; };
    const Case cases[] = {
        {"abc", "ABC", OP_EQUAL, false, 0},      {"abc", "ABC", OP_STRICT_EQUAL, false, 1},
        {"ab", "abc", OP_LESSER, false, -1},     {"abd", "abc", OP_LESSER, false, 1},
        {"abc", "ab", OP_EQUAL, true, 0},        {"ab", "abc", OP_EQUAL, true, 1},
        {"", "a", OP_LESSER, false, -1},         {"", "", OP_EQUAL, false, 0},
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", OP_EQUAL, false, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(string::compare_values(str(c.a), str(c.b), c.op, c.prefix), c.expected)
            << c.a << " / " << c.b << " op " << c.op;
    // Widths do not matter: a loaded (width 1) and an appended (width 2) é.
    EXPECT_EQ(string::compare_values(str("\xC3\xA9"), appended({0xC9}), OP_EQUAL, false), 0);
}

TEST_F(StringTest, HexText) {
    EXPECT_STREQ(string::hex_cstr(255, false), "000000FF");
    EXPECT_STREQ(string::hex_cstr(255, true), "FF");
    EXPECT_STREQ(string::hex_cstr(-2, false), "FFFFFFFE");
    EXPECT_STREQ(string::hex_cstr(0, true), "00");
    EXPECT_STREQ(string::byte_to_hex(0xA7), "A7");
}

TEST_F(StringTest, ConcatenateAcrossWidths) {
    cell* t = appended({'a', 'b', 0x1F600, 'c'});
    cell* xy = str("xy");
    string::concatenate(t, xy, -1, 2, string::INSERT);
    EXPECT_EQ(utf8(t), "abxy\xF0\x9F\x98\x80" "c");
    string::concatenate(t, xy, 1, 0, string::OVERWRITE);
    EXPECT_EQ(utf8(t), "xbxy\xF0\x9F\x98\x80" "c");
    cell* n = str("n");
    string::concatenate(n, t, -1, 0, string::APPEND);
    EXPECT_EQ(string::width_of(n), 4u);
    EXPECT_EQ(utf8(n), "nxbxy\xF0\x9F\x98\x80" "c");
    string::concatenate_cstr(n, "");
    EXPECT_EQ(string::length_of(n), 7);
}

// --- form and mold -----------------------------------------------------------------

TEST_F(StringTest, Mold) {
    struct Case { const char* text; bool all; const char* molded; };
    const Case cases[] = {
        {"abc", false, "\"abc\""},
        {"a\nb", false, "\"a^/b\""},
        {"a\"b", false, "{a\"b}"},
        {"\t", false, "\"^-\""},
        {"\xC2\x85", false, "\"^(85)\""},
        {"\xC3\xA9", false, "\"\xC3\xA9\""},
        {"\xC3\xA9", true, "\"^(E9)\""},
        {"\x1E^\x7F\r", false, "\"^(1E)^^^~^M\""},
        {"\"{a", false, "{\"^{a}"},
        {"\"}", false, "{\"^}}"},
        {"\"{x}", false, "{\"{x}}"},
        {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
        {"01234567890123456789012345678901234567890123456789", false,
         "{01234567890123456789012345678901234567890123456789}"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(str(c.text), c.all), c.molded) << c.text;
}

TEST_F(StringTest, MoldPartNeverExceedsItsLimit) {
    for (int32_t limit : {0, 1, 3, 5, 8}) {
        int32_t rest = 0;
        std::string m = mold(str("a\nb\tc\xC3\xA9"), true, limit, &rest);
        EXPECT_LE((int32_t)m.size(), limit) << limit;
        EXPECT_EQ(rest, limit - (int32_t)m.size()) << limit;
    }
}

TEST_F(StringTest, FormAndScalarsWriteStrings) {
    TextOut o;
    cell none{TYPE_NONE, 0, 0, 0}, f{TYPE_LOGIC, 0, 0, 0};
    actions::form_typed(str("x\xC3\xA9"), &o.out, nullptr, NO_LIMIT);
    actions::form_typed(&none, &o.out, nullptr, NO_LIMIT);
    actions::mold_typed(&f, &o.out, false, true, false, nullptr, NO_LIMIT, 0);
    EXPECT_EQ(o.text(), "x\xC3\xA9none#(false)");
    EXPECT_EQ(o.out.type(), TYPE_STRING);
    TextOut p;
    EXPECT_EQ(actions::form_typed(str("abcdef"), &p.out, nullptr, 4), 0);
    EXPECT_EQ(p.text(), "abcd");
}

// --- make, to, compare -----------------------------------------------------------------

TEST_F(StringTest, MakeToAndCompare) {
    cell* r = stack::push_cell();
    cell ten = integer(10);
    string::make(r, &ten, TYPE_STRING);
    EXPECT_EQ(r->type(), TYPE_STRING);
    EXPECT_EQ(string::length_of(r), 0);
    cell minus = integer(-1);
    EXPECT_EQ(script_error([&] { string::make(r, &minus, TYPE_STRING); }), error::Script::out_of_range);
    cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(script_error([&] { string::to(r, &none, TYPE_STRING); }), error::Script::bad_to_arg);
    string::to(r, str("h\xC3\xA9"), TYPE_STRING);
    EXPECT_EQ(utf8(r), "h\xC3\xA9");
    cell logic{TYPE_LOGIC, 1, 0, 0};
    string::to(r, &logic, TYPE_STRING);
    EXPECT_EQ(utf8(r), "true");

    EXPECT_EQ(actions::compare_typed(str("abc"), str("ABC"), OP_EQUAL), 0);
    EXPECT_NE(actions::compare_typed(str("abc"), str("ABC"), OP_STRICT_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(str("abc"), &none, OP_EQUAL), NOT_COMPARABLE);
}

// --- append, insert, change ----------------------------------------------------------------

TEST_F(StringTest, AppendInsertChange) {
    auto* append = get<A_APPEND>(TYPE_STRING);
    auto* insert = get<A_INSERT>(TYPE_STRING);
    auto* change = get<A_CHANGE>(TYPE_STRING);

    cell* s = str("x");
    append(s, str("ab"), -1, false, 3);
    EXPECT_EQ(utf8(s), "xababab");
    EXPECT_EQ(s->data1, 0u);

    cell e = character(0xE9);
    cell* w = str("ab");
    append(w, &e, -1, false, 1);
    EXPECT_EQ(string::width_of(w), 2u);
    EXPECT_EQ(utf8(w), "ab\xC3\xA9");

    cell* t = str("abc");
    append(t, str("defg"), 2, false, 1);
    EXPECT_EQ(utf8(t), "abcde");

    cell* i = str("abc");
    i->data1 = 1;
    insert(i, str("XY"), -1, false, 2);
    EXPECT_EQ(utf8(i), "bc");  // the result is just past the insertion
    i->data1 = 0;
    EXPECT_EQ(utf8(i), "aXYXYbc");
    cell t0{TYPE_LOGIC, 0, 0, 0};
    i->data1 = 0;
    insert(i, &t0, -1, false, 1);
    i->data1 = 0;
    EXPECT_EQ(utf8(i), "falseaXYXYbc");

    cell* c = str("abcdef");
    c->data1 = 1;
    change(c, str("XY"), -1, false, 1);
    c->data1 = 0;
    EXPECT_EQ(utf8(c), "aXYdef");
    c->data1 = 1;
    change(c, str("Z"), 3, false, 1);
    EXPECT_EQ(c->data1, 2u);
    c->data1 = 0;
    EXPECT_EQ(utf8(c), "aZef");
    c->data1 = 3;
    change(c, str("\xF0\x9F\x98\x80"), 10, false, 2);
    c->data1 = 0;
    EXPECT_EQ(utf8(c), "aZe\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
}

// A block value of any kind gives its elements from its head, each formed,
// one after another.
TEST_F(StringTest, BlockValuesAreFormedElementByElement) {
    struct Case {
        uint8_t kind;
        uint32_t head;       // the block value's head index
        const char* action;  // append, insert, change (at the string's head) or to
        const char* target;
        int32_t part;
        const char* expected;
    };
    const Case cases[] = {
        {TYPE_BLOCK, 0, "append", "x", -1, "x12ab"},
        {TYPE_PAREN, 0, "append", "x", -1, "x12ab"},
        {TYPE_PATH, 0, "append", "x", -1, "x12ab"},
        {TYPE_SET_PATH, 1, "append", "x", -1, "x2ab"},
        {TYPE_BLOCK, 0, "append", "x", 3, "x12a"},
        {TYPE_BLOCK, 3, "append", "x", -1, "x"},
        {TYPE_LIT_PATH, 0, "insert", "xy", -1, "12abxy"},
        {TYPE_GET_PATH, 0, "change", "xyzuv", -1, "12abv"},
        {TYPE_BLOCK, 0, "to", "", -1, "12ab"},
        {TYPE_PATH, 2, "to", "", -1, "ab"},
    };
    for (const Case& c : cases) {
        cell* top = stack::arguments.top;
        cell* blk = block::push_new(3);
        memory::Node* node = series::node_of(blk);
        for (int32_t n : {1, 2}) {
            cell v = integer(n);
            block::append_cell_copy(node, &v);
        }
        block::append_cell_copy(node, str("ab"));
        cell::set_type(blk, c.kind);
        blk->data1 = c.head;
        cell* s = str(c.target);
        std::string a = c.action;
        if (a == "append") get<A_APPEND>(TYPE_STRING)(s, blk, c.part, false, 1);
        else if (a == "insert") get<A_INSERT>(TYPE_STRING)(s, blk, c.part, false, 1);
        else if (a == "change") get<A_CHANGE>(TYPE_STRING)(s, blk, c.part, false, 1);
        else string::to(s, blk, TYPE_STRING);
        s->data1 = 0;
        EXPECT_EQ(s->type(), TYPE_STRING) << a;
        EXPECT_EQ(utf8(s), c.expected) << a << " " << (int)c.kind;
        stack::arguments.top = top;
    }
}

// --- find and select -----------------------------------------------------------------------------

TEST_F(StringTest, FindAndSelect) {
    cell* none = absent();  // an absent refinement
    struct Case {
        const char* text;
        const char* pattern;
        bool case_, last, tail, match;
        int32_t skip, part;
        int32_t expected;  // head index of the answer, -1 for none
    };
    const Case cases[] = {
        {"abcABC", "C", false, false, false, false, 0, -1, 2},
        {"abcABC", "C", true, false, false, false, 0, -1, 5},
        {"a-b-c", "-", false, true, false, false, 0, -1, 3},
        {"abc", "b", false, false, true, false, 0, -1, 2},
        {"abc", "ab", false, false, false, true, 0, -1, 0},
        {"abc", "bc", false, false, false, true, 0, -1, -1},
        {"bacabc", "a", false, false, false, false, 3, -1, 3},
        {"abcabc", "c", false, false, false, false, 3, -1, -1},
        {"abcabc", "c", false, false, false, false, 0, 2, -1},
        {"abcabc", "ca", false, false, false, false, 0, 4, 2},
        {"abc", "abcd", false, false, false, false, 0, -1, -1},
        {"", "a", false, false, false, false, 0, -1, -1},
    };
    for (const Case& c : cases) {
        cell* s = str(c.text);
        cell* pattern = str(c.pattern);
        cell skip = integer(c.skip), part = integer(c.part);
        cell* skip_arg = stack::push(&skip);
        cell* part_arg = stack::push(&part);
        get<A_FIND>(TYPE_STRING)(s, pattern, c.part >= 0 ? part_arg : none, false, c.case_, false,
                                 false, none, c.skip ? skip_arg : none, c.last, false, c.tail,
                                 c.match);
        if (c.expected < 0)
            EXPECT_EQ(s->type(), TYPE_NONE) << c.text << " " << c.pattern;
        else
            EXPECT_EQ((int32_t)s->data1, c.expected) << c.text << " " << c.pattern;
    }
    cell ch = character('B');
    cell* s = str("abcb");
    get<A_FIND>(TYPE_STRING)(s, &ch, none, false, false, false, false, none, none, false,
                             false, false, false);
    EXPECT_EQ(s->data1, 1u);
    s->data1 = 2;
    get<A_FIND>(TYPE_STRING)(s, &ch, none, false, false, false, false, none, none, false, true,
                             false, false);
    EXPECT_EQ(s->data1, 1u);  // /reverse looks before the head
    EXPECT_EQ(internal_error([&] {
                  get<A_FIND>(TYPE_STRING)(str("a"), &ch, none, false, false, false, true, none,
                                           none, false, false, false, false);
              }),
              error::Internal::not_done);

    // A bitset holding 'c' (bit 99); code points past its bytes are members
    // only when it is complemented.
    cell* bits = stack::push_cell();
    series::make_at(bits, TYPE_BITSET, memory::alloc_bytes_filled(16, 0), 0);
    memory::Buffer* bb = series::buffer_of(bits);
    bb->tail = bb->head + 16;
    bb->head[99 >> 3] = 0x80 >> (99 & 7);
    cell* hay = appended({'a', 0x1F600, 'c'});
    get<A_FIND>(TYPE_STRING)(hay, bits, none, false, false, false, false, none, none, false,
                             false, false, false);
    EXPECT_EQ(hay->data1, 2u);
    series::buffer_of(bits)->flags |= memory::FLAG_COMPLEMENTED;  // read again: the strings allocated
    hay = appended({'a', 0x1F600, 'c'});
    get<A_FIND>(TYPE_STRING)(hay, bits, none, false, false, false, false, none, none, false,
                             false, false, false);
    EXPECT_EQ(hay->data1, 1u);

    cell* sel = str("a=b");
    get<A_SELECT>(TYPE_STRING)(sel, str("="), none, false, false, false, false, none, none,
                               false, false);
    ASSERT_EQ(sel->type(), TYPE_CHAR);
    EXPECT_EQ(sel->data2, (uint32_t)'b');
    cell* end = str("ab");
    get<A_SELECT>(TYPE_STRING)(end, str("b"), none, false, false, false, false, none, none,
                               false, false);
    EXPECT_EQ(end->type(), TYPE_NONE);
}

// --- sort ----------------------------------------------------------------------------------------------

// A /compare function stand-in: b before a (descending).
void descending(cell*, cell* a, cell* b, cell* result) {
    *result = cell{TYPE_LOGIC, a->data2 > b->data2 ? 1u : 0u, 0, 0};
}

TEST_F(StringTest, Sort) {
    cell* none = absent();  // an absent refinement
    auto* sort = get<A_SORT>(TYPE_STRING);
    cell* s = str("cBa");
    sort(s, false, none, none, none, false, false, false);
    EXPECT_EQ(utf8(s), "aBc");
    cell* c = str("cBa");
    sort(c, true, none, none, none, false, false, false);
    EXPECT_EQ(utf8(c), "Bac");

    // Case-insensitive order is the same whatever the width (é vs É, ß).
    for (bool wide : {false, true}) {
        cell* t = wide ? appended({0xE9, 'B', 0xC9, 'a', 0x100}) : str("\xC3\xA9" "B\xC3\x89" "a");
        sort(t, false, none, none, none, false, false, true);
        std::string r = utf8(t);
        EXPECT_EQ(r.substr(0, 6), "aB\xC3\xA9\xC3\x89") << wide;
    }

    // /stable keeps the order of equal records, with or without /case.
    for (bool case_ : {false, true}) {
        cell* r = str("b1a1B2a2A3");
        cell two = integer(2);
        sort(r, case_, stack::push(&two), none, none, false, false, true);
        EXPECT_EQ(utf8(r), case_ ? "A3B2a1a2b1" : "a1a2A3b1B2") << case_;
    }

    // /all without /skip, and a /skip that does not divide the length.
    EXPECT_EQ(script_error([&] { sort(str("ab"), false, none, none, none, true, false, false); }),
              error::Script::bad_refines);
    cell three = integer(3);
    EXPECT_EQ(script_error([&] {
                  sort(str("abcd"), false, stack::push(&three), none, none, false, false, false);
              }),
              error::Script::invalid_refine_arg);

    // /compare through the callback seam.
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    cell* fn_arg = stack::push(&fn);
    string::CompareCallback saved = string::compare_callback;
    string::compare_callback = nullptr;
    EXPECT_EQ(internal_error([&] { sort(str("ab"), false, none, fn_arg, none, false, false, false); }),
              error::Internal::not_done);
    string::compare_callback = descending;
    cell* d = str("bdac");
    sort(d, false, none, fn_arg, none, false, false, false);
    EXPECT_EQ(utf8(d), "dcba");
    string::compare_callback = saved;

    // /part: only the first two characters.
    cell* p = str("dcba");
    cell two = integer(2);
    sort(p, false, none, none, stack::push(&two), false, false, false);
    EXPECT_EQ(utf8(p), "cdba");
    cell* rev = str("abc");
    sort(rev, false, none, none, none, false, true, false);
    EXPECT_EQ(utf8(rev), "cba");
}

// --- trim, take, swap -------------------------------------------------------------------------------------

TEST_F(StringTest, Trim) {
    cell* none = absent();  // an absent refinement
    const char* text = "  a  b  \n  c  \n";
    struct Case { bool head, tail, lines, all; const char* expected; };
    const Case cases[] = {
        {false, false, false, false, "a  b\nc\n"},
        {false, false, true, false, "a b c"},
        {false, false, false, true, "abc"},
        {true, false, false, false, "a  b  \n  c  \n"},
        {false, true, false, false, "  a  b  \n  c"},
        {true, true, false, false, "a  b  \n  c"},
    };
    for (const Case& c : cases) {
        cell* s = str(text);
        get<A_TRIM>(TYPE_STRING)(s, c.head, c.tail, false, c.lines, c.all, none);
        EXPECT_EQ(utf8(s), c.expected) << c.head << c.tail << c.lines << c.all;
    }
    cell* w = str("a-b-c");
    get<A_TRIM>(TYPE_STRING)(w, false, false, false, false, false, str("-b"));
    EXPECT_EQ(utf8(w), "ac");
    cell* u = str("\xE3\x80\x80x\xC2\xA0");  // U+3000 and U+00A0 are blanks
    get<A_TRIM>(TYPE_STRING)(u, false, false, false, false, false, none);
    EXPECT_EQ(utf8(u), "x");
    EXPECT_EQ(internal_error([&] { get<A_TRIM>(TYPE_STRING)(str("a"), false, false, true, false, false, none); }),
              error::Internal::not_done);
}

TEST_F(StringTest, TakeAndSwap) {
    cell* none = absent();  // an absent refinement
    cell* s = str("abc");
    cell keep = *s;
    collector::Root hold(keep);  // the only reference once `s` holds the char
    get<A_TAKE>(TYPE_STRING)(s, none, false, false);
    ASSERT_EQ(s->type(), TYPE_CHAR);
    EXPECT_EQ(s->data2, (uint32_t)'a');
    EXPECT_EQ(utf8(&keep), "bc");
    cell two = integer(2);
    cell* t = stack::push(&keep);
    get<A_TAKE>(TYPE_STRING)(t, stack::push(&two), false, true);
    EXPECT_EQ(utf8(t), "bc");
    EXPECT_EQ(string::length_of(&keep), 0);
    cell* e = str("");
    get<A_TAKE>(TYPE_STRING)(e, none, false, false);
    EXPECT_EQ(e->type(), TYPE_NONE);

    cell* a = str("ab");
    cell* b = appended({0x1F600});
    get<A_SWAP>(TYPE_STRING)(a, b);
    EXPECT_EQ(utf8(a), "\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(utf8(b), "a");
}

// --- Set operations and case change ---------------------------------------------------------------------

TEST_F(StringTest, SetOperations) {
    struct Case { int32_t op; const char* a; const char* b; bool case_; const char* expected; };
    const Case cases[] = {
        {8, "aabbca", "", false, "abc"},   {8, "aA", "", false, "a"},  {8, "aA", "", true, "aA"},
        {9, "abc", "bcd", false, "abcd"},  {10, "abc", "BCD", false, "bc"},
        {11, "abc", "bcd", false, "a"},    {12, "abc", "bcd", false, "ad"},
        {9, "", "", false, ""},
    };
    for (const Case& c : cases) {
        cell* r = stack::push_cell();
        string::do_set_op(c.op, str(c.a), str(c.b), 1, c.case_, r);
        EXPECT_EQ(utf8(r), c.expected) << c.op << " " << c.a << " " << c.b;
    }
    cell* r = stack::push_cell();
    EXPECT_EQ(script_error([&] { string::do_set_op(8, str("a"), str("b"), 0, false, r); }),
              error::Script::invalid_refine_arg);
}

TEST_F(StringTest, CaseChangeStaysInsideTheString) {
    cell* none = absent();  // an absent refinement
    cell ten = integer(10);
    cell* s = str("abc");
    // Room past the tail holds letters that must stay untouched.
    string::concatenate_cstr(s, "def");
    series::buffer_of(s)->tail -= 3;
    string::change_case(s, stack::push(&ten), true);
    EXPECT_EQ(utf8(s), "ABC");
    EXPECT_EQ(series::buffer_of(s)->tail[0], 'd');

    cell* y = str("a\xC3\xBF" "b");
    string::change_case(y, none, true);
    EXPECT_EQ(string::width_of(y), 2u);
    EXPECT_EQ(utf8(y), "A\xC5\xB8" "B");

    cell minus = integer(-1);
    cell* m = str("abc");
    string::change_case(m, stack::push(&minus), true);
    EXPECT_EQ(utf8(m), "abc");
    cell* other = str("xyz");
    EXPECT_EQ(script_error([&] { string::change_case(m, other, true); }),
              error::Script::invalid_refine_arg);
}

// --- Inherited series! actions ---------------------------------------------------------------------------

TEST_F(StringTest, SeriesPositioningAndPickPoke) {
    cell* s = str("abcde");
    EXPECT_EQ(get<A_LENGTH_OF>(TYPE_STRING)(s), 5);
    cell* other = stack::push(s);
    other->data1 = 4;
    get<A_CLEAR>(TYPE_STRING)(str("x"));
    cell* t = str("ab");
    t->data1 = 2;
    cell* u = stack::push(t);
    u->data1 = 0;
    get<A_CLEAR>(TYPE_STRING)(u);
    EXPECT_EQ(get<A_LENGTH_OF>(TYPE_STRING)(t), 0);  // head past the tail is clamped
    EXPECT_EQ(t->data1, 0u);

    cell zero = integer(0), one = integer(1);
    EXPECT_EQ(series::resolve_index(s, &zero, true), series::resolve_index(s, &one, true));
    cell big = integer(1000);
    EXPECT_EQ(series::resolve_index(s, &big, false), 5);

    cell* p = stack::push(s);
    get<A_PICK>(TYPE_STRING)(p, 0, nullptr);
    EXPECT_EQ(p->type(), TYPE_NONE);
    p = stack::push(s);
    get<A_PICK>(TYPE_STRING)(p, 2, nullptr);
    EXPECT_EQ(p->type(), TYPE_CHAR);
    EXPECT_EQ(p->data2, (uint32_t)'b');
    cell e = character(0xE9);
    EXPECT_EQ(script_error([&] { get<A_POKE>(TYPE_STRING)(stack::push(s), 0, &e, nullptr); }),
              error::Script::out_of_range);
    get<A_POKE>(TYPE_STRING)(stack::push(s), 5, &e, nullptr);
    EXPECT_EQ(utf8(s), "abcd\xC3\xA9");
}

TEST_F(StringTest, SeriesCopyReverseRemoveMove) {
    cell* none = absent();  // an absent refinement
    cell* s = str("abcdef");
    s->data1 = 3;
    cell minus2 = integer(-2);
    cell* r = stack::push_cell();
    get<A_COPY>(TYPE_STRING)(s, r, stack::push(&minus2), false, none);
    EXPECT_EQ(utf8(r), "bc");

    cell* v = str("abcdef");
    cell two = integer(2), four = integer(4);
    get<A_REVERSE>(TYPE_STRING)(v, none, stack::push(&two));
    EXPECT_EQ(utf8(v), "efcdab");
    EXPECT_EQ(script_error([&] { get<A_REVERSE>(TYPE_STRING)(v, none, stack::push(&four)); }),
              error::Script::invalid_refine_arg);

    cell* m = str("abcdef");
    m->data1 = 1;
    get<A_REMOVE>(TYPE_STRING)(m, stack::push(&two), none);
    m->data1 = 0;
    EXPECT_EQ(utf8(m), "adef");

    // Three of five units to one-based position 4: nothing moves.
    cell* o = str("abcde");
    cell* target = stack::push(o);
    target->data1 = 3;
    cell three = integer(3);
    get<A_MOVE>(TYPE_STRING)(o, target, stack::push(&three));
    EXPECT_EQ(utf8(stack::push(o)), "abcde");

    // Between strings of different widths.
    cell* from = appended({0x1F600, 'x'});
    cell* to = str("ab");
    to->data1 = 1;
    get<A_MOVE>(TYPE_STRING)(from, to, none);
    to->data1 = 0;
    EXPECT_EQ(utf8(to), "a\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(utf8(from), "x");
}

// --- String-level text edges -----------------------------------------------------------------------------

TEST_F(StringTest, Utf16Edges) {
    cell* s = appended({0x1F600, '\n'});
    uint16_t* w = unicode::to_utf16(s);
    ASSERT_NE(w, nullptr);
    const uint16_t expected[] = {0xD83D, 0xDE00, 0x000D, 0x000A, 0};
    for (int i = 0; i < 5; i++) EXPECT_EQ(w[i], expected[i]) << i;
    const uint16_t text[] = {'a', 0x000D, 'b', 0xD83D, 0xDE00};
    cell* r = stack::push_cell();
    unicode::load_utf16(text, 5, nullptr, r, true);
    EXPECT_EQ(string::width_of(r), 4u);
    EXPECT_EQ(utf8(r), "ab\xF0\x9F\x98\x80");
    // A lone high surrogate at the end is kept as its value.
    const uint16_t lone[] = {'a', 0xD800};
    unicode::load_utf16(lone, 2, nullptr, r, false);
    EXPECT_EQ(string::char_at(r, 1), 0xD800);

    // A wide-character call writes into the cache; the text is loaded from there.
    cell* c = str("old text");
    uint8_t* cache = unicode::cache_buffer(c, 6);
    const uint16_t hi[] = {'h', 0x20AC, 'i'};
    memcpy(cache, hi, 6);
    unicode::load_utf16(nullptr, 3, c, nullptr, false);
    EXPECT_EQ(string::width_of(c), 2u);
    EXPECT_EQ(utf8(c), "h\xE2\x82\xACi");
}

TEST_F(StringTest, EvalPath) {
    cell* s = str("a=b");
    cell two = integer(2);
    cell* got = string::eval_path(s, &two, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_EQ(got->type(), TYPE_CHAR);
    EXPECT_EQ(got->data2, (uint32_t)'=');
    cell eq = character('=');
    cell c = character('c');
    string::eval_path(s, &eq, &c, nullptr, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(utf8(s), "a=c");
    cell x = character('x');
    EXPECT_EQ(script_error([&] {
                  string::eval_path(s, &x, &c, nullptr, nullptr, nullptr, 0, false, false, true, false);
              }),
              error::Script::bad_path_set);
    cell word{TYPE_WORD, 0, 0, 0};
    EXPECT_EQ(script_error([&] {
                  string::eval_path(s, &word, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false);
              }),
              error::Script::invalid_path);
}

}  // namespace
