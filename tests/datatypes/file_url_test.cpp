// file! and url!: mold, local paths, percent-coding, paths, making from
// blocks, and the I/O actions up to their platform seams.
#include <gtest/gtest.h>

#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/url.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "runtime/words.h"
#include "tests/datatypes/value_test.h"

using namespace datatype;

namespace {

class FileUrlTest : public ValueTest {
protected:
    // The seams as start-up left them: a test that replaces one puts it back.
    url::HttpRequest saved_http = url::http_request;
    url::ParseUrl saved_parse = url::parse_url;
    file::Services installed = file::services;
    void TearDown() override {
        url::http_request = saved_http;
        url::parse_url = saved_parse;
        file::current_dir = platform::get_current_dir;
        file::services = installed;
        ValueTest::TearDown();
    }
    cell* as(uint8_t type, const std::string& s) {
        cell* target = stack::push_cell();
        cell* spec = text(s);
        get<A_TO>(type)(target, spec, type);
        return target;
    }
    cell* as_url(const std::string& s) { return as(TYPE_URL, s); }
    cell* as_file(const std::string& s) { return as(TYPE_FILE, s); }
    std::string local(const std::string& path, bool absolute = false) {
        cell* out = string::push_new(8);
        file::to_local(as_file(path), out, absolute);
        return utf8(out);
    }
    std::string decoded(const std::string& s) {
        cell* out = string::push_new(8);
        url::decode(text(s), out);
        return utf8(out);
    }
    std::string encoded(const std::string& s, int32_t mode) {
        cell* out = string::push_new(8);
        url::encode(text(s), out, mode);
        return utf8(out);
    }
    cell* path(cell* base, const cell& element, cell* value = nullptr) {
        cell p{TYPE_NONE, 0, 0, 0};
        cell* e = push(element);
        return get<A_EVAL_PATH>(base->type())(base, e, value, &p, nullptr, nullptr, 0, false,
                                              value == nullptr, true, false);
    }
    cell* read(cell* source, cell* part = nullptr) {
        cell* r = push(*source);
        get<A_READ>(r->type())(r, part ? part : absent(), absent(), false, false, false, absent());
        return r;
    }
    cell* write(cell* target, const cell& data) {
        cell* r = push(*target);
        cell* d = push(data);
        get<A_WRITE>(r->type())(r, d, false, false, false, false, absent(), absent(), absent(),
                                absent());
        return r;
    }
};

TEST_F(FileUrlTest, FileMoldPartLimits) {
    int32_t rest = 0;
    EXPECT_EQ(mold_part(*as_file("abcdef"), 3, &rest), "%abc");
    EXPECT_EQ(rest, -1);
    EXPECT_EQ(mold_part(*as_file("abcdef"), -2, &rest), "%\"\"");
    EXPECT_EQ(mold_part(*as_file("a b\"c"), 100, &rest), "%\"a b^\"c\"");
    EXPECT_EQ(rest, 100 - 5 - 1 - 1);
}

TEST_F(FileUrlTest, ToLocalPaths) {
    struct Case { const char* path; const char* local; };
    const Case cases[] = {
        {"/c/dir/file.txt", "c:\\dir\\file.txt"}, {"/c", "c:\\"},
        {"/server/share", "\\\\server\\share"},   {"//x", "\\x"},
        {"/", "\\"},                              {"dir/f", "dir\\f"},
        {"", ""},                                 {"/c/", "c:\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(local(c.path), c.local) << c.path;

    std::string here;
    ASSERT_TRUE(platform::get_current_dir(here));
    std::string full = local("dir/f", true);
    EXPECT_EQ(full.substr(0, here.size()), here);
    EXPECT_EQ(full.substr(full.size() - 6), "\\dir\\f");
    file::current_dir = [](std::string&) { return false; };
    EXPECT_EQ(raised([&] { local("dir/f", true); }), "internal/not-done");
    file::current_dir = [](std::string& dir) {
        dir = "C:\\work";
        return true;
    };
    EXPECT_EQ(local("dir/f", true), "C:\\work\\dir\\f");
    EXPECT_EQ(local("/c/x", true), "c:\\x");

    const uint16_t* wide = file::to_local_string(as_file("/d/\xC3\xA9"));
    const uint16_t expected[] = {'d', ':', '\\', 0xE9, 0};
    for (int i = 0; i < 5; i++) EXPECT_EQ(wide[i], expected[i]) << i;

    cell* back = text("a\\b\\c");
    file::backslashes_to_slashes(back);
    EXPECT_EQ(utf8(back), "a/b/c");
}

TEST_F(FileUrlTest, UrlMoldPartAndEncodingModes) {
    EXPECT_EQ(mold(*as_url("http://a/b c")), "http://a/b%20c");
    EXPECT_EQ(mold(*as_url("http://a/\xC3\xA9")), "http://a/%C3%A9");
    EXPECT_EQ(mold(*as_url("http://a/?q=1&r=[x]")), "http://a/?q=1&r=%5Bx%5D");
    EXPECT_EQ(form(*as_url("http://a/b c")), "http://a/b c");
    int32_t rest = 0;
    EXPECT_EQ(mold_part(*as_url("ab cd"), 4, &rest), "ab%20");
    EXPECT_EQ(rest, -1);

    EXPECT_EQ(encoded("a/b:c d", url::MODE_UNRESERVED), "a%2Fb%3Ac%20d");
    EXPECT_EQ(encoded("a/b:c d", url::MODE_KEEP), "a/b:c%20d");

    EXPECT_EQ(utf8(url::load_decoded("x%2Fy", 5)), "x/y");
}

int32_t method_seen = 0;
bool headers_seen = false;
void fake_http(int32_t method, cell* u, cell* headers, cell* data, bool, bool, bool, cell* result) {
    method_seen = method;
    headers_seen = headers != nullptr;
    if (string::starts_with_cstr(u, "http://down")) none::make_at(result);
    else *result = *u;
}

TEST_F(FileUrlTest, HttpReadAndWriteUpToTheExchange) {
    url::http_request = nullptr;
    cell* u = as_url("http://a.b/");
    EXPECT_EQ(raised([&] { read(u); }), "internal/not-done");  // no HTTP service
    EXPECT_EQ(raised([&] { read(u, push(integer(5))); }), "internal/not-done");
    struct Bad { cell data; const char* error; };
    const Bad bad[] = {
        {*block({integer(1)}), "script/invalid-arg"},
        {*block({word("get"), *text("x")}), "script/invalid-arg"},
        {*block({word("put"), *block({}), integer(3)}), "script/invalid-arg"},
        {integer(5), "script/invalid-arg"},
        {*text("body"), "internal/not-done"},
    };
    for (const Bad& b : bad) EXPECT_EQ(raised([&] { write(u, b.data); }), b.error);

    url::http_request = fake_http;
    EXPECT_EQ(read(u)->type(), TYPE_URL);
    EXPECT_EQ(method_seen, words::sym_get);
    write(u, *text("body"));
    EXPECT_EQ(method_seen, words::sym_post);
    write(u, *block({}));
    EXPECT_EQ(method_seen, words::sym_get);
    write(u, *block({word("put"), *block({}), *text("x")}));
    EXPECT_EQ(symbol::to_cstr(method_seen), std::string("put"));
    EXPECT_TRUE(headers_seen);
    EXPECT_EQ(raised([&] { read(as_url("http://down/")); }), "access/no-connect");
    // The scheme test is case-sensitive: HTTP goes to a port.
    EXPECT_EQ(raised([&] { read(as_url("HTTP://a.b/")); }), "access/unknown-scheme");
}

TEST_F(FileUrlTest, FileActionsReachTheServices) {
    file::services = {};
    cell* f = as_file("x.txt");
    EXPECT_EQ(raised([&] { read(f); }), "internal/not-done");
    EXPECT_EQ(raised([&] { get<A_DELETE>(TYPE_FILE)(push(*f)); }), "internal/not-done");
    file::services.remove = [](cell*) { return true; };
    file::services.rename = [](cell*, cell*) { return false; };
    cell* d = get<A_DELETE>(TYPE_FILE)(push(*f));
    EXPECT_TRUE(d->type() == TYPE_LOGIC && logic::is_truthy(d));
    cell* r = get<A_RENAME>(TYPE_FILE)(push(*f), push(*as_file("y.txt")));
    EXPECT_TRUE(r->type() == TYPE_LOGIC && !logic::is_truthy(r));
    file::services.read = [](cell*, cell*, cell*, bool, bool, cell* result) { none::make_at(result); };
    EXPECT_EQ(read(f)->type(), TYPE_NONE);
    cell* as_arg = push(integer(1));
    EXPECT_EQ(raised([&] {
                  get<A_READ>(TYPE_FILE)(push(*f), absent(), absent(), false, false, false, as_arg);
              }),
              "internal/not-done");
}

TEST_F(FileUrlTest, InheritedAndUnsupportedActions) {
    // Series actions come from string! through url!; sort and trim are not theirs.
    EXPECT_EQ(get<A_LENGTH_OF>(TYPE_FILE), get<A_LENGTH_OF>(TYPE_STRING));
    EXPECT_EQ(get<A_FIND>(TYPE_URL), get<A_FIND>(TYPE_STRING));
    EXPECT_EQ(get<A_MAKE>(TYPE_FILE), get<A_MAKE>(TYPE_URL));
    EXPECT_EQ(get<A_SORT>(TYPE_URL), nullptr);
    EXPECT_EQ(get<A_TRIM>(TYPE_FILE), nullptr);
    EXPECT_EQ(get<A_OPEN>(TYPE_FILE), nullptr);
    EXPECT_EQ(get<A_DELETE>(TYPE_URL), nullptr);
    cell* a = as_file("abc");
    cell* b = as_file("ABC");
    EXPECT_EQ(get<A_COMPARE>(TYPE_FILE)(a, b, OP_EQUAL), 0);
}

}  // namespace
