// The HTTP exchange's pure parts, which both builds share: response header
// parsing, request headers from a block, method texts.
#include "platform/http.h"

#include "runtime/words.h"
#include "tests/datatypes/value_test.h"

namespace {

class HttpTest : public ValueTest {};

std::string fields_text(const std::vector<http::Field>& fields) {
    std::string s;
    for (const http::Field& f : fields) {
        s += f.name + "=";
        for (size_t i = 0; i < f.values.size(); i++) s += (i ? "|" : "") + f.values[i];
        s += ";";
    }
    return s;
}

TEST_F(HttpTest, HeaderLinesSplitIntoFields) {
    struct Case {
        const char* text;
        const char* fields;
    };
    const Case cases[] = {
        {"A: 1\r\nB: 2\r\n", "A=1;B=2;"},
        {"A: 1\r\nB: 2", "A=1;B=2;"},                       // no final CR LF
        {"A:1\r\nB:\t 2\r\n", "A=1;B=2;"},                  // blanks after the colon optional
        {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", "A=1;"},        // a line without a colon
        {"X-Dup: 1\r\nY: 3\r\nx-dup: 2\r\n", "X-Dup=1|2;Y=3;"},  // repeats, any case
        {"A: \r\nB: x: y\r\n", "A=;B=x: y;"},
        {"A: 1\nB: 2\n", "A=1;B=2;"},
        {": no name\r\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(fields_text(http::split_headers(c.text)), c.fields) << c.text;
}

TEST_F(HttpTest, HeadersBecomeAMap) {
    cell* m = http::parse_headers("X-Dup: 1\r\nContent-Length: 5\r\nX-Dup: 2", stack::push_cell());
    EXPECT_EQ(mold(*m), "#[\n    X-Dup: [\"1\" \"2\"]\n    Content-Length: \"5\"\n]");
}

TEST_F(HttpTest, RequestHeadersAndMethods) {
    auto joined = [](const std::vector<http::Header>& hs) {
        std::string s;
        for (const http::Header& h : hs) s += h.name + "=" + h.value + ";";
        return s;
    };
    EXPECT_EQ(joined(http::request_headers(nullptr)),
              "Content-Type=application/x-www-form-urlencoded;Accept-Charset=UTF-8;"
              "User-Agent=Mozilla/5.0 (Windows NT 6.1; Win64; x64);");
    cell name = word("X-A");
    cell::set_type(&name, TYPE_SET_WORD);
    cell* blk = block({name, *text("1"), *text("B"), integer(2), word("odd")});
    EXPECT_EQ(joined(http::request_headers(blk)), "X-A=1;B=2;");
    EXPECT_EQ(joined(http::request_headers(block({}))), "");

    EXPECT_EQ(http::method_text(words::sym_get), "GET");
    EXPECT_EQ(http::method_text(words::sym_head), "HEAD");
    EXPECT_EQ(http::method_text(symbol::make("post")), "POST");
    EXPECT_EQ(http::method_text(symbol::make("delete")), "DELETE");
}

}  // namespace
