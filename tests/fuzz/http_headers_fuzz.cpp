// The response-header parser over arbitrary bytes: the server decides what
// reaches it. Every field name and value must be a piece of the text, and
// the map built from the fields (names become words, values strings decoded
// from UTF-8) must come out whole whatever the bytes are.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "evaluator/stack.h"
#include "platform/http.h"
#include "runtime/sys.h"
#include "tests/fuzz/boot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_once("http_headers_fuzz", false);
    if (size > 65536) return 0;
    const std::string text((const char*)data, size);
    for (const http::Field& f : http::split_headers(text)) {
        if (f.name.empty() || f.values.empty() || text.find(f.name) == std::string::npos) abort();
        for (const std::string& v : f.values)
            if (text.find(v) == std::string::npos || v.find_first_of("\r\n") != std::string::npos) abort();
    }
    stack::Arguments saved = stack::arguments;
    sys::catch_level(sys::THROW_ERROR, [&] { http::parse_headers(text, stack::push_cell()); });
    sys::clear_throw();
    stack::arguments = saved;
    return 0;
}
