// The HTTP exchange behind `read` and `write` of http urls: one synchronous
// request per call, no state kept between calls.
//
// `request` turns the language's values into an `Exchange` of plain text
// and bytes, has the target perform it (`perform`: the platform's HTTP
// request COM object on Windows; the native build has no HTTP), and makes
// the answer into values: the body alone, or [status headers body].
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/cell.h"

namespace http {

struct Header {
    std::string name, value;
};

// One request and its response, UTF-8 throughout.
struct Exchange {
    std::string method, url;
    std::vector<Header> headers;
    bool has_body = false;  // never for GET and HEAD
    std::string body;
    // The response.
    int32_t status = 0;
    std::string response_headers;  // the raw header lines
    bool has_response_body = false;
    std::string response_body;
    // Why the exchange failed, when it knows.
    std::string failure;
};

// Performs the exchange; false when it could not be made or sent (with
// `failure` saying why, when known). Every failure ends, never waits
// forever: the platform's own time-outs stand.
bool perform(Exchange& exchange);

// The method's text: GET, HEAD and POST for their words, any other word's
// spelling in upper case.
std::string method_text(int32_t symbol);

// The request headers: the caller's block of alternating names and values
// (a word gives its spelling, a string its text, anything else its form),
// or the three defaults when there is no block.
std::vector<Header> request_headers(cell* block);

// Response header lines: each field once, with its values in arrival order.
// Lines without a colon are skipped; blanks after the colon are optional; a
// missing final CR LF is no fault.
struct Field {
    std::string name;
    std::vector<std::string> values;
};
std::vector<Field> split_headers(const std::string& text);

// The fields as a map! (a name seen once maps to its string!, a name seen
// more than once to a block of them) in `result`.
cell* parse_headers(const std::string& text, cell* result);

// The body in its asked form: binary!, a block of lines, or a string!.
cell* body_value(const std::string& bytes, bool binary, bool lines, cell* result);

// One exchange: the method's symbol, the url, the caller's headers (block!)
// or null, the data or null. Leaves the body or [status headers body] in
// `result`; raises access no-connect naming the url when it fails for a
// known reason, and leaves none! when it fails otherwise.
void request(int32_t method, cell* url, cell* headers, cell* data, bool binary, bool lines, bool info,
             cell* result);

}  // namespace http
