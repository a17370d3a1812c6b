// The HTTP exchange's language side: methods, request headers and bodies
// from values, and the response's header map and body as values.
#include "platform/http.h"

#include <cctype>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/words.h"

namespace http {

namespace {

std::string utf8_of(cell* text) {
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(text, &n);
    return std::string((const char*)p, (size_t)n);
}

// A word's spelling, a string's text, or any other value's form.
std::string text_of(const cell* value) {
    stack::TopMark mark;
    if (word::is_any_word_type(value->type()) && value->type() != TYPE_REFINEMENT &&
        value->type() != TYPE_ISSUE)
        return symbol::to_cstr(word::symbol_of(value));
    if (value->type() == TYPE_STRING) return utf8_of(stack::push(value));
    cell* v = stack::push(value);
    cell* out = string::push_new(16);
    actions::form_typed(v, out, series::ABSENT, datatype::NO_LIMIT);
    return utf8_of(out);
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return true;
}

// The lines of a text: each LF ends one (a CR before it is dropped); text
// after the last LF is the last line.
void push_lines(const std::string& text, cell* result) {
    stack::TopMark mark;
    cell* blk = block::push_new(16);
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        size_t end = lf == std::string::npos ? text.size() : lf;
        size_t cut = lf != std::string::npos && end > start && text[end - 1] == '\r' ? end - 1 : end;
        cell* line = unicode::load_utf8_new((const uint8_t*)text.data() + start, (uint32_t)(cut - start),
                                            stack::push_cell());
        block::append_cell_copy(series::node_of(blk), line);
        stack::pop(1);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    cell made = *blk;
    *result = made;
}

}  // namespace

std::string method_text(int32_t symbol) {
    int32_t id = symbol::resolve(symbol);
    if (id == symbol::resolve(words::sym_get)) return "GET";
    if (id == symbol::resolve(words::sym_head)) return "HEAD";
    if (id == symbol::resolve(words::sym_post)) return "POST";
    std::string text = symbol::to_cstr(symbol);
    for (char& c : text) c = (char)std::toupper((unsigned char)c);
    return text;
}

std::vector<Header> request_headers(cell* blk) {
    if (!blk)
        return {{"Content-Type", "application/x-www-form-urlencoded"},
                {"Accept-Charset", "UTF-8"},
                {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    std::vector<Header> headers;
    int32_t n = block::length_of(blk);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        cell name = *block::cell_at(blk, (int32_t)blk->data1 + i);
        cell value = *block::cell_at(blk, (int32_t)blk->data1 + i + 1);
        std::string name_text = text_of(&name);  // may allocate: the block is read again after
        headers.push_back({name_text, text_of(&value)});
    }
    return headers;
}

std::vector<Field> split_headers(const std::string& text) {
    std::vector<Field> fields;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        size_t colon = text.find(':', at);
        if (colon != std::string::npos && colon < end && colon > at) {
            std::string name = text.substr(at, colon - at);
            size_t v = colon + 1;
            while (v < end && (text[v] == ' ' || text[v] == '\t')) v++;
            std::string value = text.substr(v, end - v);
            Field* field = nullptr;
            for (Field& f : fields)
                if (same_name(f.name, name)) field = &f;
            if (!field) {
                fields.push_back({name, {}});
                field = &fields.back();
            }
            field->values.push_back(value);
        }
        at = end;
        while (at < text.size() && (text[at] == '\r' || text[at] == '\n')) at++;
    }
    return fields;
}

cell* parse_headers(const std::string& text, cell* result) {
    std::vector<Field> fields = split_headers(text);
    stack::TopMark mark;
    cell* map = map::push();
    for (const Field& f : fields) {
        cell* key = stack::push_cell();
        word::make_cell(key, TYPE_WORD, nullptr, symbol::make_n((const uint8_t*)f.name.data(), (uint32_t)f.name.size()),
                        -1);
        cell* value;
        if (f.values.size() == 1) {
            value = unicode::load_utf8_new((const uint8_t*)f.values[0].data(), (uint32_t)f.values[0].size(),
                                           stack::push_cell());
        } else {
            value = block::push_new((int32_t)f.values.size());
            for (const std::string& v : f.values) {
                cell* s = unicode::load_utf8_new((const uint8_t*)v.data(), (uint32_t)v.size(), stack::push_cell());
                block::append_cell_copy(series::node_of(value), s);
                stack::pop(1);
            }
        }
        cell* target = stack::push(map);
        map::put(target, key, value, false);
        stack::pop(3);
    }
    cell made = *map;
    *result = made;
    return result;
}

cell* body_value(const std::string& bytes, bool binary, bool lines, cell* result) {
    if (binary) {
        binary::load_in(result, (const uint8_t*)bytes.data(), (uint32_t)bytes.size());
    } else if (lines) {
        push_lines(bytes, result);
    } else {
        stack::TopMark mark;
        cell* s = unicode::load_utf8_new((const uint8_t*)bytes.data(), (uint32_t)bytes.size(), stack::push_cell());
        cell made = *s;
        *result = made;
    }
    return result;
}

void request(int32_t method, cell* url, cell* headers, cell* data, bool binary, bool lines, bool info,
             cell* result) {
    Exchange ex;
    ex.method = method_text(method);
    ex.url = utf8_of(url);
    ex.headers = request_headers(headers);
    // GET and HEAD send no body whatever is given; a string goes as its
    // UTF-8 bytes, unchanged.
    if (data && ex.method != "GET" && ex.method != "HEAD") {
        if (data->type() == TYPE_BINARY) {
            ex.has_body = true;
            ex.body.assign((const char*)binary::rs_head(data), (size_t)binary::rs_length(data));
        } else if (data->type() == TYPE_STRING) {
            ex.has_body = true;
            ex.body = utf8_of(data);
        }
    }
    if (!perform(ex)) {
        if (ex.failure.empty()) {
            none::make_at(result);
            return;
        }
        stack::TopMark mark;
        cell* u = stack::push(url);
        cell* reason = unicode::load_utf8_new((const uint8_t*)ex.failure.data(), (uint32_t)ex.failure.size(),
                                              stack::push_cell());
        error::raise(error::ACCESS, "no-connect", u, reason);
    }
    stack::TopMark mark;
    cell* body = stack::push_cell();
    none::make_at(body);
    if (ex.has_response_body) body_value(ex.response_body, binary, lines, body);
    if (!info) {
        cell made = *body;
        *result = made;
        return;
    }
    cell* blk = block::push_new(3);
    cell* status = stack::push_cell();
    integer::make_at(status, ex.status);
    block::append_cell_copy(series::node_of(blk), status);
    cell* fields = parse_headers(ex.response_headers, stack::push_cell());
    block::append_cell_copy(series::node_of(blk), fields);
    block::append_cell_copy(series::node_of(blk), body);
    cell made = *blk;
    *result = made;
}

}  // namespace http
