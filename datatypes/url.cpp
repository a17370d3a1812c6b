// url!: percent-encoding, mold, paths, making from blocks, and the I/O
// actions that reach HTTP or a port.
#include "datatypes/url.h"

#include <array>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "platform/http.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace url {

using namespace datatype;

HttpRequest http_request = http::request;
ParseUrl parse_url = nullptr;

namespace {

constexpr std::array<uint8_t, 128> table_of(const char* punctuation) {
    std::array<uint8_t, 128> t{};
    for (int c = 0; c < 128; c++)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) t[c] = 255;
    for (const char* p = punctuation; *p; p++) t[(uint8_t)*p] = 255;
    return t;
}

// The text's UTF-8 bytes from its head, copied out of the cache buffer so
// that they survive what the caller allocates next.
std::string utf8_of(cell* text) {
    cell t = *text;
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(&t, &n);
    return std::string((const char*)p, (size_t)n);
}

void append_ascii(cell* out, const char* text, uint32_t n) { string::concatenate_bytes(out, text, n); }

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte of a percent group at i, or -1 when there is none.
int group_at(const std::string& s, size_t i) {
    if (i + 2 >= s.size() || s[i] != '%') return -1;
    int hi = hex_value((uint8_t)s[i + 1]), lo = hex_value((uint8_t)s[i + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Forms a value onto the end of a string.
void form_onto(cell* out, const cell* value) {
    stack::TopMark mark;
    cell* v = stack::push(value);
    actions::form_typed(v, out, series::ABSENT, NO_LIMIT);
}

bool begins_with_http(cell* value) {
    cell v = *value;
    return string::starts_with_cstr(&v, "http");
}

// The url built from a block: scheme "://" host [":" port] then the path
// values, each after "/" (or "#" before an issue!).
cell* from_block(cell* target, cell* spec) {
    stack::TopMark mark;
    cell* held = stack::push(spec);
    int32_t head = (int32_t)held->data1;
    int32_t n = block::total_cells(series::node_of(held)) - head;
    if (n <= 0) {
        cell dt;
        datatype::make_at(&dt, TYPE_URL);
        error::raise_script(error::Script::bad_to_arg, &dt, held);
    }
    auto at = [&](int32_t i) { return block::cells_of(series::node_of(held))[head + i]; };
    cell* out = string::push_new(16);
    cell v = at(0);
    form_onto(out, &v);
    append_ascii(out, "://", 3);
    int32_t next = 1;
    if (n >= 2) {
        v = at(1);
        form_onto(out, &v);
        next = 2;
        if (n >= 3 && at(2).type() == TYPE_INTEGER) {
            append_ascii(out, ":", 1);
            v = at(2);
            form_onto(out, &v);
            next = 3;
        }
    }
    if (next < n) {
        append_ascii(out, "/", 1);
        for (int32_t i = next; i < n; i++) {
            v = at(i);
            if (i > next) append_ascii(out, v.type() == TYPE_ISSUE ? "#" : "/", 1);
            form_onto(out, &v);
        }
    }
    cell made = *out;
    cell::set_type(&made, TYPE_URL);
    *target = made;
    return target;
}

[[noreturn]] void not_done() { error::raise_internal(error::Internal::not_done); }

[[noreturn]] void no_connect(cell* value) {
    cell v = *value;
    error::raise(error::ACCESS, "no-connect", &v);
}

}  // namespace

const std::array<uint8_t, 128> keep_table = table_of("!#$&'()*+,-./:=?@_~");
const std::array<uint8_t, 128> unreserved_table = table_of("-._~");

cell* push(const cell* value) { return stack::push(value); }

// --- Percent-encoding ---------------------------------------------------------------------

uint32_t encode_byte(int32_t mode, uint8_t byte, char out[3]) {
    const std::array<uint8_t, 128>& table = mode == MODE_UNRESERVED ? unreserved_table : keep_table;
    if (byte < 128 && table[byte] == 255) {
        out[0] = (char)byte;
        return 1;
    }
    const char* digits = string::byte_to_hex(byte);
    out[0] = '%';
    out[1] = digits[0];
    out[2] = digits[1];
    return 3;
}

void encode(cell* text, cell* target, int32_t mode) {
    std::string bytes = utf8_of(text);
    for (unsigned char b : bytes) {
        char group[3];
        append_ascii(target, group, encode_byte(mode, b, group));
    }
}

void decode(cell* text, cell* target) {
    std::string s = utf8_of(text);
    memory::Node* out = series::node_of(target);
    size_t i = 0;
    while (i < s.size()) {
        int b = group_at(s, i);
        if (b >= 0) {
            uint32_t n = unicode::utf8_lead_length((uint8_t)b);
            uint8_t seq[4] = {(uint8_t)b};
            bool whole = n >= 2;
            for (uint32_t k = 1; whole && k < n; k++) {
                int c = group_at(s, i + 3 * k);
                if (c < 0) whole = false;
                else seq[k] = (uint8_t)c;
            }
            if (whole) {
                int32_t cp;
                const uint8_t* end = unicode::decode_utf8_char(seq, seq + n, &cp);
                // An invalid sequence is U+FFFD, the replacement character.
                if (cp < 0 || end != seq + n) cp = 0xFFFD;
                string::append_char(out, cp);
                i += 3 * n;
            } else {
                string::append_char(out, b);
                i += 3;
            }
            continue;
        }
        int32_t cp;
        const uint8_t* p = (const uint8_t*)s.data() + i;
        const uint8_t* next = unicode::decode_utf8_char(p, (const uint8_t*)s.data() + s.size(), &cp);
        string::append_char(out, cp < 0 ? 0xFFFD : cp);
        i += (size_t)(next - p);
    }
}

cell* load_decoded(const char* text, int32_t length) {
    cell* source = string::load(text, length, nullptr, 0);
    cell* target = string::push_new(length);
    decode(source, target);
    cell result = *target;
    stack::pop(1);
    *source = result;
    return source;
}

// --- Ports ------------------------------------------------------------------------------------

cell* to_port(cell* value, bool open, cell* result) {
    if (!parse_url) not_done();
    stack::TopMark mark;
    cell* u = stack::push(value);
    cell* parts = stack::push_cell();
    parse_url(u, parts);
    if (parts->type() != TYPE_OBJECT) error::raise_script(error::Script::invalid_arg, u);
    auto port_make = datatype::get<A_MAKE>(TYPE_PORT);
    if (!port_make) not_done();
    cell* port = stack::push_cell();
    none::make_at(port);
    port_make(port, parts, 3);
    if (open) {
        auto opener = datatype::get<A_OPEN>(TYPE_PORT);
        if (!opener) not_done();
        // The actor's answer lands in the cell opened: open a copy.
        opener(stack::push(port), false, false, false, false, series::ABSENT);
    }
    cell made = *port;
    *result = made;
    return result;
}

// --- Actions ----------------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type) {
    uint8_t t = spec->type();
    if (type == TYPE_URL && (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH))
        return from_block(target, spec);
    return string::make(target, spec, type);
}

cell* to(cell* target, cell* spec, int32_t type) {
    uint8_t t = spec->type();
    if (type == TYPE_URL && (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH))
        return from_block(target, spec);
    return string::to(target, spec, type);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    std::string bytes = utf8_of(value);
    bool has_part = stack::is_given(part);
    int32_t written = 0;
    for (unsigned char b : bytes) {
        if (has_part && written >= limit) break;
        char group[3];
        uint32_t n = encode_byte(MODE_KEEP, b, group);
        append_ascii(out, group, n);
        written += (int32_t)n;
    }
    return limit - written;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    if (value && !get) error::raise_script(error::Script::bad_path_set, path, element);
    stack::TopMark mark;
    cell* base = stack::push(parent);
    cell* piece = string::push_new(16);
    form_onto(piece, element);
    // Same unit as the url: concatenate widens the new string to it.
    cell* joined = string::push_new(string::length_of(base) + 16);
    string::concatenate(joined, base, -1, 0, string::APPEND);
    int32_t total = string::total_length(joined);
    bool ends = total > 0 && string::char_at(joined, (uint32_t)total - 1) == '/';
    bool starts = string::length_of(piece) > 0 && string::char_at(piece, 0) == '/';
    if (ends && starts) string::remove_units(joined, (uint32_t)total - 1, 1);
    else if (!ends && !starts) string::append_char(series::node_of(joined), '/');
    string::concatenate(joined, piece, -1, 0, string::APPEND);
    cell made = *joined;
    cell::set_type(&made, parent->type());
    stack::arguments.top = mark.top;
    cell* r = stack::push(&made);
    mark.top = stack::arguments.top;  // the result stays pushed
    return r;
}

cell* open(cell* port, bool new_, bool read, bool write, bool seek, cell* allow) {
    return to_port(port, true, port);
}

cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    if (begins_with_http(source)) {
        if (stack::is_given(part) || stack::is_given(seek) || stack::is_given(as)) not_done();
        if (!http_request) not_done();
        stack::TopMark mark;
        cell* u = stack::push(source);
        cell* answer = stack::push_cell();
        http_request(words::sym_get, u, nullptr, nullptr, binary, lines, info, answer);
        if (answer->type() == TYPE_NONE) no_connect(u);
        cell r = *answer;
        *source = r;
        return source;
    }
    stack::TopMark mark;
    cell* port = to_port(source, false, stack::push_cell());
    auto reader = datatype::get<A_READ>(TYPE_PORT);
    if (!reader) not_done();
    reader(port, part, seek, binary, lines, info, as);
    cell r = *port;
    *source = r;
    return source;
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append,
            cell* part, cell* seek, cell* allow, cell* as) {
    if (!begins_with_http(destination)) {
        stack::TopMark mark;
        cell* port = to_port(destination, false, stack::push_cell());
        auto writer = datatype::get<A_WRITE>(TYPE_PORT);
        if (!writer) not_done();
        writer(port, data, binary, lines, info, append, part, series::ABSENT, series::ABSENT, as);
        cell r = *port;
        *destination = r;
        return destination;
    }
    if (stack::is_given(seek) || stack::is_given(allow) || stack::is_given(as)) not_done();
    stack::TopMark mark;
    cell* u = stack::push(destination);
    cell* v = stack::push(data);
    int32_t method = words::sym_post;
    cell* headers = nullptr;
    cell* body = v;
    int32_t n = v->type() == TYPE_BLOCK ? block::length_of(v) : -1;
    if (n == 0) {
        method = words::sym_get;
    } else if (n >= 1 && n <= 3) {
        cell first = *block::cell_at(v, (int32_t)v->data1);
        if (!word::is_any_word_type(first.type())) error::raise_script(error::Script::invalid_arg, &first);
        method = symbol::resolve(word::symbol_of(&first));
        body = nullptr;
        if (n >= 2) {
            headers = stack::push(block::cell_at(v, (int32_t)v->data1 + 1));
            if (headers->type() != TYPE_BLOCK) error::raise_script(error::Script::invalid_arg, headers);
        }
        if (n == 3) body = stack::push(block::cell_at(v, (int32_t)v->data1 + 2));
    }
    if (body && body->type() != TYPE_BLOCK && body->type() != TYPE_STRING && body->type() != TYPE_BINARY)
        error::raise_script(error::Script::invalid_arg, body);
    if (!http_request) not_done();
    cell* answer = stack::push_cell();
    http_request(method, u, headers, body, binary, lines, info, answer);
    if (answer->type() == TYPE_NONE) no_connect(u);
    cell r = *answer;
    *destination = r;
    return destination;
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, NO, on<A_TO>(to), INHERIT, on<A_MOLD>(mold),
        on<A_EVAL_PATH>(eval_path), NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                    // math
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // series
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO, INHERIT,
        INHERIT, INHERIT, NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,
        NO, NO, NO, INHERIT, on<A_OPEN>(open), NO, NO, on<A_READ>(read), NO, NO,         // I/O
        on<A_WRITE>(write),
    };
    // clang-format on
    define(TYPE_URL, TYPE_STRING, "url!", list);
}

}  // namespace url
