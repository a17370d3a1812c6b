// binary! through the action table: byte images, text forms, codecs,
// bitwise actions and the series actions that change bytes.
#include "datatypes/binary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/actions.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using error::Script;

namespace {

class BinaryTest : public WindowTest {
protected:
    static cell* bin(const std::string& bytes) {
        return binary::load((const uint8_t*)bytes.data(), (uint32_t)bytes.size());
    }
    static cell* text(const std::string& s) {
        return unicode::load_utf8_new((const uint8_t*)s.data(), (uint32_t)s.size(), stack::push_cell());
    }
    static std::string bytes(cell* b) {
        return std::string((const char*)binary::rs_head(b), (size_t)binary::rs_length(b));
    }
    static cell I(int32_t n) {
        cell c;
        return *series::make_integer(&c, n);
    }
    static cell C(int32_t cp) {
        cell c;
        return *series::make_char(&c, cp);
    }
    static std::string mold(cell* v, bool only = false, bool flat = false, int32_t indent = 0,
                            int32_t limit = NO_LIMIT) {
        TextOut o;
        actions::mold_typed(v, &o.out, only, false, flat, nullptr, limit, indent);
        return o.text();
    }
    cell* absent() { return series::ABSENT; }
    // Calls a window action (and~, or~, xor~) on two values.
    static cell call2(cell* (*fn)(), cell* a, cell* b) {
        stack::Arguments saved = stack::arguments;
        stack::arguments.window = stack::push(a);
        stack::push(b);
        cell r = *fn();
        stack::arguments = saved;
        return r;
    }
    // Decodes text in a base: the bytes, or "none".
    static std::string debase(const std::string& s, int32_t base) {
        cell* t = text(s);
        cell r;
        if (!binary::decode_value(t, base, &r)) return "none";
        return std::string((const char*)series::buffer_of(&r)->head, series::buffer_of(&r)->used_bytes());
    }
};

TEST_F(BinaryTest, ToBinaryByteImages) {
    auto to = get<A_TO>(TYPE_BINARY);
    struct Case { cell value; std::string bytes; };
    cell f1;
    f1.header = TYPE_FLOAT;
    cell::set_float(&f1, 1.0);
    cell tuple{(3u << 19) | TYPE_TUPLE, 0x00030201u, 0, 0};
    const Case cases[] = {
        {I(1), std::string("\0\0\0\1", 4)},
        {I(-1), "\xFF\xFF\xFF\xFF"},
        {f1, std::string("\x3F\xF0\0\0\0\0\0\0", 8)},
        {C(0xE9), "\xC3\xA9"},
        {tuple, "\x01\x02\x03"},
    };
    for (const Case& c : cases) {
        cell v = c.value;
        cell* r = stack::push_cell();
        to(r, &v, TYPE_BINARY);
        EXPECT_EQ(r->type(), TYPE_BINARY);
        EXPECT_EQ(bytes(r), c.bytes);
    }
    cell* r = stack::push_cell();
    to(r, text("h\xC3\xA9"), TYPE_BINARY);
    EXPECT_EQ(bytes(r), "h\xC3\xA9");
    cell issue{TYPE_ISSUE, 0, (uint32_t)symbol::make("DEADbeef"), (uint32_t)-1};
    to(r, &issue, TYPE_BINARY);
    EXPECT_EQ(bytes(r), "\xDE\xAD\xBE\xEF");
    cell bad{TYPE_ISSUE, 0, (uint32_t)symbol::make("x1"), (uint32_t)-1};
    EXPECT_EQ(script_error([&] { to(r, &bad, TYPE_BINARY); }), Script::invalid_data);
    cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(script_error([&] { to(r, &none, TYPE_BINARY); }), Script::bad_to_arg);
    // make of a number reserves room; of anything else it converts
    cell* m = stack::push_cell();
    cell ten = I(10);
    get<A_MAKE>(TYPE_BINARY)(m, &ten, TYPE_BINARY);
    EXPECT_EQ(m->type(), TYPE_BINARY);
    EXPECT_EQ(binary::rs_length(m), 0);
    cell one = I(1);
    get<A_MAKE>(TYPE_BINARY)(m, &one, TYPE_BINARY);
    EXPECT_EQ(binary::rs_length(m), 0);
}

TEST_F(BinaryTest, MoldLayout) {
    EXPECT_EQ(mold(bin("")), "#{}");
    EXPECT_EQ(mold(bin("\xDE\xAD")), "#{DEAD}");
    EXPECT_EQ(mold(bin("\xDE\xAD"), true), "DEAD");
    std::string hex30, hex31, hex32;
    for (int i = 0; i < 30; i++) hex30 += "AB";
    EXPECT_EQ(mold(bin(std::string(30, '\xAB'))), "#{" + hex30 + "}");
    std::string row(64, 'A');
    for (size_t i = 0; i < row.size(); i += 2) row[i + 1] = 'B';
    // 33 bytes: a row of 32, one more, the brace on its own line
    EXPECT_EQ(mold(bin(std::string(33, '\xAB'))), "#{\n    " + row + "\n    AB\n}");
    // nested one level deeper: rows at two levels, the brace at one
    EXPECT_EQ(mold(bin(std::string(31, '\xAB')), false, false, 1),
              "#{\n        " + row.substr(0, 62) + "\n    }");
    EXPECT_EQ(mold(bin(std::string(31, '\xAB')), false, true), "#{" + row.substr(0, 62) + "}");
    // a limit stops the digits
    EXPECT_EQ(mold(bin("\x01\x02\x03"), false, false, 0, 4), "#{01");
    TextOut o;
    actions::form_typed(bin("\x0F"), &o.out, nullptr, NO_LIMIT);
    EXPECT_EQ(o.text(), "#{0F}");
}

TEST_F(BinaryTest, Encoders) {
    struct Case { std::string in; std::string b2, b16, b58, b64; };
    const Case cases[] = {
        {"", "", "", "", ""},
        {std::string("\0\0\xFF", 3), "000000000000000011111111", "0000FF", "115Q", "AAD/"},
        {"A", "01000001", "41", "28", "QQ=="},
        {"AB", "0100000101000010", "4142", "5y3", "QUI="},
        {"hello world", "", "68656C6C6F20776F726C64", "StV1DL6CwTryKyV", "aGVsbG8gd29ybGQ="},
    };
    for (const Case& c : cases) {
        const uint8_t* p = (const uint8_t*)c.in.data();
        uint32_t n = (uint32_t)c.in.size();
        std::string out(2 * n + 8 * n + 8, '\0');
        uint8_t* o = (uint8_t*)&out[0];
        if (!c.b2.empty() || n == 0) {
            EXPECT_EQ(std::string((char*)o, binary::encode_2(p, n, o) - o), c.b2);
        }
        EXPECT_EQ(std::string((char*)o, binary::encode_16(p, n, o) - o), c.b16);
        EXPECT_EQ(std::string((char*)o, binary::encode_58(p, n, o) - o), c.b58) << c.b16;
        EXPECT_EQ(std::string((char*)o, binary::encode_64(p, n, o) - o), c.b64);
        // and back
        EXPECT_EQ(debase(c.b16, 16), c.in);
        EXPECT_EQ(debase(c.b58, 58), c.in);
        EXPECT_EQ(debase(c.b64, 64), c.in);
    }
}

TEST_F(BinaryTest, Decoders) {
    struct Case { const char* text; int32_t base; std::string bytes; };
    const Case cases[] = {
        {"QQ==", 64, "A"},
        {"QQ", 64, "A"},  // an unpadded tail decodes as padded
        {"QUI", 64, "AB"},
        {"Q", 64, "none"},
        {"Q===", 64, "none"},
        {"Q\nQ='", 64, "A"},
        {"'QQ==", 64, "A"},
        {"Q-==", 64, "none"},
        {"Q_==", 64, "none"},
        {"QQ ; comment\n==", 64, "A"},
        {"QUJD ; to the end", 64, "ABC"},
        {"Q\xC3\xA9Q==", 64, "none"},
        {"ABC", 16, "none"},  // an odd digit count is no byte string
        {"0x12", 16, "none"},
        {"de ad\tBE\nEF", 16, "\xDE\xAD\xBE\xEF"},
        {"DE ; c\nAD", 16, "\xDE\xAD"},
        {"\xC3\x81" "1", 16, "none"},  // not taken modulo 128
        {"", 16, ""},
        {"01000001 01000010", 2, "AB"},
        {"0100000", 2, "none"},
        {"01000002", 2, "none"},
        {"111", 58, std::string(3, '\0')},
        {"11 5Q", 58, std::string("\0\0\xFF", 3)},
        {"0", 58, "none"},
        {"1\xC3\xA9", 58, "none"},
        {"QQ==", 10, "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(debase(c.text, c.base), c.bytes) << c.text << " " << c.base;
}

TEST_F(BinaryTest, DecodersReadWideText) {
    cell* t = text("Q\xE2\x82\xAC");  // width 2
    cell r;
    EXPECT_FALSE(binary::decode_value(t, 64, &r));
    cell* w = string::push_new(4);
    for (char ch : std::string("QUI="))
        string::append_char(series::node_of(w), ch);
    string::append_char(series::node_of(w), 0x1F600);  // width 4
    string::remove_units(w, 4, 1);
    ASSERT_EQ(string::width_of(w), 4u);
    ASSERT_TRUE(binary::decode_value(w, 64, &r));
    EXPECT_EQ(std::string((const char*)series::buffer_of(&r)->head, 2), "AB");
}

TEST_F(BinaryTest, AppendInsertChange) {
    auto append = get<A_APPEND>(TYPE_BINARY);
    auto insert = get<A_INSERT>(TYPE_BINARY);
    auto change = get<A_CHANGE>(TYPE_BINARY);
    cell* b = bin("");
    cell v = I(256);
    EXPECT_EQ(script_error([&] { append(b, &v, -1, false, -1); }), Script::invalid_arg);
    v = I(-1);
    append(b, &v, -1, false, -1);
    EXPECT_EQ(bytes(b), "\xFF");
    cell blk;
    {
        cell* blkp = block::push_new(4);
        cell x = I(1), y = C('A');
        block::append_cell_copy(series::node_of(blkp), &x);
        block::append_cell_copy(series::node_of(blkp), &y);
        blk = *blkp;
    }
    append(b, &blk, -1, false, 2);
    EXPECT_EQ(bytes(b), "\xFF\x01" "A\x01" "A");
    EXPECT_EQ(b->data1, 0u);
    b->data1 = 1;
    insert(b, text("xyz"), 2, false, -1);  // /part 2
    EXPECT_EQ(b->data1, 3u);
    b->data1 = 0;
    EXPECT_EQ(bytes(b), "\xFFxy\x01" "A\x01" "A");
    // a part of the same binary is read before the buffer moves
    cell self = *b;
    self.data1 = 1;
    append(b, &self, -1, false, -1);
    EXPECT_EQ(bytes(b), "\xFFxy\x01" "A\x01" "Axy\x01" "A\x01" "A");

    cell* c = bin("abcdef");
    change(c, bin("XY"), -1, false, -1);
    EXPECT_EQ(c->data1, 2u);
    c->data1 = 0;
    EXPECT_EQ(bytes(c), "XYcdef");
    c->data1 = 1;
    change(c, bin("Q"), 3, false, -1);  // /part 3 replaces three bytes
    c->data1 = 0;
    EXPECT_EQ(bytes(c), "XQef");
    c->data1 = 3;
    cell f;
    f.header = TYPE_FLOAT;
    cell::set_float(&f, 1.5);
    change(c, &f, -1, false, -1);  // no byte image: formed
    c->data1 = 0;
    EXPECT_EQ(bytes(c), "XQe1.5");
    cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(script_error([&] { append(c, &none, -1, false, -1); }), Script::bad_to_arg);
}

TEST_F(BinaryTest, BitwiseAndComplement) {
    struct Case { cell* (*fn)(); std::string a, b, r; };
    const Case cases[] = {
        {binary::do_and, std::string("\xFF\x00", 2), "\x0F", std::string("\x0F\x00", 2)},
        {binary::do_or, std::string("\xFF\x00", 2), "\x0F", std::string("\xFF\x00", 2)},
        {binary::do_xor, "\x0F", "\xFF\x0F", "\xF0\x0F"},
        {binary::do_and, "\x0F", "\xFF\x0F", std::string("\x0F\x00", 2)},
    };
    for (const Case& c : cases) {
        cell r = call2(c.fn, bin(c.a), bin(c.b));
        EXPECT_EQ(r.data1, 0u);
        EXPECT_EQ(bytes(&r), c.r);
    }
    EXPECT_EQ(get<A_AND>(TYPE_BINARY), &binary::do_and);
    cell i = I(1);
    EXPECT_EQ(script_error([&] { call2(binary::do_or, bin("a"), &i); }), Script::invalid_arg);
    cell* b = bin("\x0F\xF0");
    get<A_COMPLEMENT>(TYPE_BINARY)(b);
    EXPECT_EQ(bytes(b), "\xF0\x0F");
}

TEST_F(BinaryTest, CompareAndFind) {
    auto cmp = get<A_COMPARE>(TYPE_BINARY);
    EXPECT_EQ(cmp(bin("ab"), bin("ab"), OP_EQUAL), 0);
    EXPECT_NE(cmp(bin("ab"), bin("AB"), OP_EQUAL), 0);  // no case folding
    EXPECT_EQ(cmp(bin("ab"), bin("abc"), OP_SORT), -1);
    EXPECT_EQ(cmp(bin("\x80"), bin("\x7F"), OP_SORT), 1);  // unsigned
    EXPECT_EQ(cmp(bin("ab"), text("ab"), OP_EQUAL), NOT_COMPARABLE);
    cell* a = bin("xy");
    cell same = *a;
    EXPECT_EQ(cmp(a, &same, OP_SAME), 0);
    EXPECT_NE(cmp(a, bin("xy"), OP_SAME), 0);
    EXPECT_EQ(binary::equal(bin("abc"), bin("ab"), OP_FIND, true), 0);
    EXPECT_EQ(binary::equal(bin("abc"), text("ab"), OP_FIND, true), 0);

    auto find = get<A_FIND>(TYPE_BINARY);
    cell* no = absent();
    cell* h = bin("aBcb");
    find(h, bin("b"), no, false, false, false, false, no, no, false, false, false, false);
    EXPECT_EQ(h->data1, 3u);  // bytes compare exactly
    cell* k = bin("\x01\x02\x03");
    cell two = I(2);
    find(k, &two, no, false, false, false, false, no, no, false, false, false, false);
    EXPECT_EQ(k->data1, 1u);
    cell* s = bin("\x01\x02\x03");
    cell one = I(1);
    get<A_SELECT>(TYPE_BINARY)(s, &one, no, false, false, false, false, no, no, false, false);
    EXPECT_EQ(s->type(), TYPE_INTEGER);
    EXPECT_EQ(s->data2, 2u);
}

TEST_F(BinaryTest, Trim) {
    auto trim = get<A_TRIM>(TYPE_BINARY);
    cell* no = absent();
    struct Case { bool head, tail, all; const char* with; std::string in, out; };
    const Case cases[] = {
        {false, false, false, nullptr, std::string("\0\0a\0b\0", 6), std::string("a\0b", 3)},
        {true, false, false, nullptr, std::string("\0a\0", 3), std::string("a\0", 2)},
        {false, true, false, nullptr, std::string("\0a\0", 3), std::string("\0a", 2)},
        {false, false, true, nullptr, std::string("\0a\0b\0", 5), "ab"},
        {false, false, false, "ab", "xaybz", "xyz"},
    };
    for (const Case& c : cases) {
        cell* b = bin(c.in);
        trim(b, c.head, c.tail, false, false, c.all, c.with ? text(c.with) : no);
        EXPECT_EQ(bytes(b), c.out);
    }
    EXPECT_EQ(internal_error([&] { trim(bin("a"), false, false, true, false, false, no); }),
              error::Internal::not_done);
}

}  // namespace
