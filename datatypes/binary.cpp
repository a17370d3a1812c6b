// binary!: see binary.h.
#include "datatypes/binary.h"

#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/image.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace binary {

using memory::Buffer;
using memory::Node;
using namespace datatype;

// --- Accessors ---------------------------------------------------------------------

static uint32_t used(const cell* bin) { return series::buffer_of(bin)->used_bytes(); }

// The head index clamped to 0..used (written back when it was past the tail).
static uint32_t head_index(cell* bin) {
    int32_t h = (int32_t)bin->data1;
    if (h < 0) return 0;
    if ((uint32_t)h > used(bin)) bin->data1 = used(bin);
    return bin->data1;
}

int32_t rs_length(cell* bin) { return (int32_t)(used(bin) - head_index(bin)); }
uint8_t* rs_head(cell* bin) { return series::buffer_of(bin)->head + head_index(bin); }
uint8_t* rs_tail(cell* bin) { return series::buffer_of(bin)->tail; }
bool rs_is_tail(cell* bin) { return rs_length(bin) <= 0; }

bool rs_skip(cell* bin, int32_t n) {
    int64_t to = (int64_t)head_index(bin) + n;
    if (to >= 0 && to <= (int64_t)used(bin)) bin->data1 = (uint32_t)to;
    return rs_is_tail(bin);
}
bool rs_next(cell* bin) { return rs_skip(bin, 1); }

void rs_clear(cell* bin) {
    Buffer* b = series::buffer_of(bin);
    b->tail = b->head + head_index(bin);
}

uint8_t get_byte(const uint8_t* address) { return *address; }

[[noreturn]] static void no_memory() { memory::raise_internal(memory::Internal::no_memory); }

static uint32_t checked_add(uint64_t a, uint64_t b) {
    if (a + b > 0x7FFFFFF0u) no_memory();
    return (uint32_t)(a + b);
}

// Room for n more bytes after the tail; grows to twice the need.
static Buffer* room_for(Node* node, uint32_t n) {
    Buffer* b = node->buffer;
    if ((uint32_t)(b->data_end() - b->tail) >= n) return b;
    uint32_t need = checked_add(b->used_bytes(), n);
    uint32_t capacity = need <= 0x3FFFFFF0u ? need * 2 : need;
    return memory::expand_series_copy(node, (int32_t)capacity);
}

uint8_t* append_bytes(cell* bin, const uint8_t* src, uint32_t n) {
    Buffer* b = room_for(series::node_of(bin), n);
    uint8_t* at = b->tail;
    if (src && n) memcpy(at, src, n);
    b->tail += n;
    return at;
}

void insert_bytes(cell* bin, uint32_t offset, const uint8_t* src, uint32_t n) {
    uint32_t at = head_index(bin) + offset;
    if (at > used(bin)) at = used(bin);
    Buffer* b = room_for(series::node_of(bin), n);
    memmove(b->head + at + n, b->head + at, b->used_bytes() - at);
    if (n) memcpy(b->head + at, src, n);
    b->tail += n;
}

void write_bytes_at(cell* bin, uint32_t offset, const uint8_t* src, uint32_t n) {
    uint32_t at = checked_add(head_index(bin), offset);
    uint32_t end = checked_add(at, n);
    if (end > used(bin)) room_for(series::node_of(bin), end - used(bin));
    Buffer* b = series::buffer_of(bin);
    if (at > b->used_bytes()) memset(b->tail, 0, at - b->used_bytes());
    if (n) memcpy(b->head + at, src, n);
    if (b->head + end > b->tail) b->tail = b->head + end;
}

void append_int32(int32_t value, cell* bin) {
    uint8_t bytes[4] = {(uint8_t)((uint32_t)value >> 24), (uint8_t)((uint32_t)value >> 16),
                        (uint8_t)((uint32_t)value >> 8), (uint8_t)value};
    append_bytes(bin, bytes, 4);
}

uint8_t to_integer(const cell* value) {
    if (value->type() != TYPE_INTEGER && value->type() != TYPE_CHAR)
        error::raise_script(error::Script::invalid_arg, value);
    return (uint8_t)value->data2;
}

cell* make_at(cell* c, int32_t size) {
    unset::make_at(c);
    Node* node = memory::alloc_bytes(size < 0 ? 0 : size);
    return series::make_at(c, TYPE_BINARY, node, 0);
}

cell* push(int32_t size) { return make_at(stack::push_cell(), size); }

cell* load_in(cell* c, const uint8_t* bytes, uint32_t n) {
    make_at(c, (int32_t)n);
    Buffer* b = series::buffer_of(c);
    if (n) memcpy(b->head, bytes, n);
    b->tail = b->head + n;
    return c;
}

cell* load(const uint8_t* bytes, uint32_t n) { return load_in(stack::push_cell(), bytes, n); }

// --- Comparison ----------------------------------------------------------------------

static bool is_text(uint8_t t) { return series::is_any_string(t); }
static bool is_equality(int32_t op) { return op <= OP_STRICT_EQUAL || op == OP_FIND; }

// The UTF-8 of a string value from its head.
static std::string utf8_of(const cell* text) {
    cell v = *text;
    collector::Root hold(v);
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(&v, &n);
    return std::string((const char*)p, (size_t)n);
}

static int32_t compare_bytes(const uint8_t* a, uint32_t la, const uint8_t* b, uint32_t lb,
                             int32_t op, bool prefix) {
    if (prefix) {
        if (lb == 0) return (op == OP_EQUAL || op == OP_STRICT_EQUAL || op == OP_FIND) ? 0 : 1;
        if (la < lb) return 1;
        la = lb;
    } else if (la != lb && (is_equality(op) || op == OP_NOT_EQUAL)) {
        return 1;
    }
    uint32_t n = la < lb ? la : lb;
    int r = n ? memcmp(a, b, n) : 0;
    if (r != 0) return r < 0 ? -1 : 1;
    return la == lb ? 0 : la < lb ? -1 : 1;
}

int32_t equal(cell* a, cell* b, int32_t op, bool prefix) {
    uint8_t t = b->type();
    if (t != TYPE_BINARY && !is_text(t)) return NOT_COMPARABLE;
    bool same = a->data2 == b->data2 && a->data1 == b->data1 && t == TYPE_BINARY;
    if (op == OP_SAME) return same ? 0 : 1;
    if (same && (is_equality(op) || op == OP_NOT_EQUAL)) return 0;
    if (t == TYPE_BINARY)
        return compare_bytes(rs_head(a), (uint32_t)rs_length(a), rs_head(b), (uint32_t)rs_length(b),
                             op, prefix);
    std::string text = utf8_of(b);
    return compare_bytes(rs_head(a), (uint32_t)rs_length(a), (const uint8_t*)text.data(),
                         (uint32_t)text.size(), op, prefix);
}

bool equal_string(cell* position, cell* value, int32_t op) {
    if (value->type() == TYPE_CHAR)
        return !rs_is_tail(position) && *rs_head(position) == value->data2;
    return equal(position, value, op, true) == 0;
}

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_BINARY) return NOT_COMPARABLE;
    return equal(a, b, op, false);
}

// --- Byte images ---------------------------------------------------------------------

[[noreturn]] static void bad_to(const cell* value) {
    cell t;
    datatype::make_at(&t, TYPE_BINARY);
    error::raise_script(error::Script::bad_to_arg, &t, value);
}

static void image(std::string& out, cell* value, bool form_it) {
    switch (value->type()) {
        case TYPE_CHAR: {
            uint8_t bytes[4];
            uint32_t n = unicode::encode_utf8((int32_t)value->data2, bytes);
            out.append((const char*)bytes, n);
            return;
        }
        case TYPE_INTEGER: {
            int32_t n = (int32_t)value->data2;
            if (n < -128 || n > 255) error::raise_script(error::Script::invalid_arg, value);
            out.push_back((char)(uint8_t)n);
            return;
        }
        case TYPE_BINARY:
            out.append((const char*)rs_head(value), (size_t)rs_length(value));
            return;
        case TYPE_IMAGE: {
            cell data;
            image::get_data(value, image::ARGB, &data);
            out.append((const char*)rs_head(&data), (size_t)rs_length(&data));
            return;
        }
        case TYPE_TUPLE: {
            uint32_t n = (value->header >> 19) & 0xF;
            if (n > 12) n = 12;
            out.append((const char*)&value->data1, n);
            return;
        }
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            cell blk = *value;
            collector::Root hold(blk);
            cycles::Frame frame(series::node_of(&blk));
            int32_t h = (int32_t)blk.data1 < 0 ? 0 : (int32_t)blk.data1;
            for (int32_t i = h; i < block::total_cells(series::node_of(&blk)); i++) {
                cell c = block::cells_of(series::node_of(&blk))[i];
                collector::Root hold_c(c);
                image(out, &c, form_it);
            }
            return;
        }
        default:
            if (is_text(value->type())) {
                out += utf8_of(value);
                return;
            }
            if (!form_it) bad_to(value);
            cell* text = string::push_new(16);
            actions::form_typed(value, text, nullptr, NO_LIMIT);
            out += utf8_of(text);
            stack::pop(1);
    }
}

void write_value(std::string& out, cell* value, bool form_it, int32_t limit) {
    size_t start = out.size();
    image(out, value, form_it);
    if (limit >= 0 && out.size() - start > (size_t)limit) out.resize(start + (size_t)limit);
}

// --- Codecs ----------------------------------------------------------------------------

static const char HEX[] = "0123456789ABCDEF";
static const char B64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static const char B58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

enum : uint8_t { SKIP = 0x40, BAD = 0x80 };

struct Tables {
    uint8_t b16[128], b58[128], b64[128];
    Tables() {
        memset(b16, 0xFF, sizeof b16);
        memset(b58, BAD, sizeof b58);
        memset(b64, BAD, sizeof b64);
        for (int i = 0; i < 16; i++) {
            b16[(uint8_t)HEX[i]] = (uint8_t)i;
            b16[(uint8_t)"0123456789abcdef"[i]] = (uint8_t)i;
        }
        for (int i = 0; i < 64; i++) b64[(uint8_t)B64[i]] = (uint8_t)i;
        b64['='] = 0;
        for (int i = 0; i < 58; i++) b58[(uint8_t)B58[i]] = (uint8_t)i;
        for (uint8_t c : {8, 9, 10, 12, 13, 32, 39}) b64[c] = b58[c] = SKIP;
    }
};
static const Tables tables;

uint8_t* encode_2(const uint8_t* bytes, uint32_t n, uint8_t* out) {
    for (uint32_t i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = (uint8_t)('0' + ((bytes[i] >> bit) & 1));
    return out;
}

uint8_t* encode_16(const uint8_t* bytes, uint32_t n, uint8_t* out) {
    for (uint32_t i = 0; i < n; i++) {
        *out++ = (uint8_t)HEX[bytes[i] >> 4];
        *out++ = (uint8_t)HEX[bytes[i] & 15];
    }
    return out;
}

uint8_t* encode_58(const uint8_t* bytes, uint32_t n, uint8_t* out) {
    std::vector<uint8_t> number(bytes, bytes + n);
    uint32_t zeros = 0;
    while (zeros < n && number[zeros] == 0) zeros++;
    uint32_t size = 2 * n + 1;
    uint32_t end = size;  // digits are written backwards from here
    uint32_t start = zeros;
    while (start < n) {
        // One long division of the number by 58.
        uint32_t remainder = 0;
        for (uint32_t i = start; i < n; i++) {
            uint32_t acc = remainder * 256 + number[i];
            number[i] = (uint8_t)(acc / 58);
            remainder = acc % 58;
        }
        out[--end] = (uint8_t)B58[remainder];
        while (start < n && number[start] == 0) start++;
    }
    while (end < size && out[end] == '1') end++;
    uint32_t digits = size - end;
    memmove(out + zeros, out + end, digits);
    memset(out, '1', zeros);
    return out + zeros + digits;
}

uint8_t* encode_64(const uint8_t* bytes, uint32_t n, uint8_t* out) {
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t)bytes[i] << 16 | (uint32_t)bytes[i + 1] << 8 | bytes[i + 2];
        *out++ = (uint8_t)B64[v >> 18];
        *out++ = (uint8_t)B64[(v >> 12) & 63];
        *out++ = (uint8_t)B64[(v >> 6) & 63];
        *out++ = (uint8_t)B64[v & 63];
    }
    if (n - i == 1) {
        uint32_t v = (uint32_t)bytes[i] << 16;
        *out++ = (uint8_t)B64[v >> 18];
        *out++ = (uint8_t)B64[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        uint32_t v = (uint32_t)bytes[i] << 16 | (uint32_t)bytes[i + 1] << 8;
        *out++ = (uint8_t)B64[v >> 18];
        *out++ = (uint8_t)B64[(v >> 12) & 63];
        *out++ = (uint8_t)B64[(v >> 6) & 63];
        *out++ = '=';
    }
    return out;
}

// Reads the characters of a text one by one, comments (";" to the line feed)
// left out. `next` answers false at the end of the text.
struct Reader {
    const uint8_t* text;
    uint32_t n, unit, i = 0;
    bool next(int32_t& cp) {
        while (i < n) {
            cp = string::get_char(text + (size_t)i * unit, unit);
            i++;
            if (cp != ';') return true;
            while (i < n && string::get_char(text + (size_t)i * unit, unit) != '\n') i++;
        }
        return false;
    }
};

bool decode_2(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out) {
    Reader r{text, n, unit};
    uint32_t acc = 0, bits = 0;
    for (int32_t cp; r.next(cp);) {
        if (cp >= 0 && cp <= 32) continue;
        if (cp != '0' && cp != '1') return false;
        acc = acc << 1 | (uint32_t)(cp - '0');
        if (++bits == 8) {
            out.push_back((char)(uint8_t)acc);
            acc = bits = 0;
        }
    }
    return bits == 0;
}

bool decode_16(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out) {
    Reader r{text, n, unit};
    uint32_t acc = 0, digits = 0;
    for (int32_t cp; r.next(cp);) {
        if (cp >= 0 && cp <= 32) continue;
        // Characters outside ASCII are never digits (not taken modulo 128).
        if (cp < 0 || cp > 127 || tables.b16[cp] > 15) return false;
        acc = acc << 4 | tables.b16[cp];
        if (++digits == 2) {
            out.push_back((char)(uint8_t)acc);
            acc = digits = 0;
        }
    }
    return digits == 0;  // an odd digit count is not a byte string
}

bool decode_58(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out) {
    Reader r{text, n, unit};
    std::vector<uint8_t> digits;
    for (int32_t cp; r.next(cp);) {
        if (cp < 0 || cp > 127) return false;
        uint8_t v = tables.b58[cp];
        if (v == SKIP) continue;
        if (v == BAD) return false;
        digits.push_back(v);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    std::vector<uint8_t> number;  // little end first
    for (size_t i = zeros; i < digits.size(); i++) {
        uint32_t carry = digits[i];
        for (uint8_t& b : number) {
            carry += (uint32_t)b * 58;
            b = (uint8_t)carry;
            carry >>= 8;
        }
        while (carry) {
            number.push_back((uint8_t)carry);
            carry >>= 8;
        }
    }
    while (!number.empty() && number.back() == 0) number.pop_back();
    out.append(zeros, '\0');
    out.append(number.rbegin(), number.rend());
    return true;
}

bool decode_64(const uint8_t* text, uint32_t n, uint32_t unit, std::string& out) {
    Reader r{text, n, unit};
    uint32_t acc = 0, digits = 0;
    for (int32_t cp; r.next(cp);) {
        if (cp < 0 || cp > 127) return false;
        uint8_t v = tables.b64[cp];
        if (v == SKIP) continue;
        if (v == BAD) return false;
        if (cp == '=') {
            if (digits == 3) {
                out.push_back((char)(uint8_t)(acc >> 10));
                out.push_back((char)(uint8_t)(acc >> 2));
                return true;
            }
            if (digits == 2) {
                out.push_back((char)(uint8_t)(acc >> 4));
                return true;
            }
            return false;
        }
        acc = acc << 6 | v;
        if (++digits == 4) {
            out.push_back((char)(uint8_t)(acc >> 16));
            out.push_back((char)(uint8_t)(acc >> 8));
            out.push_back((char)(uint8_t)acc);
            acc = digits = 0;
        }
    }
    // An unpadded tail decodes as if it were padded; one lone digit is no byte.
    if (digits == 3) {
        out.push_back((char)(uint8_t)(acc >> 10));
        out.push_back((char)(uint8_t)(acc >> 2));
    } else if (digits == 2) {
        out.push_back((char)(uint8_t)(acc >> 4));
    }
    return digits != 1;
}

bool decode_value(cell* text, int32_t base, cell* result) {
    std::string out;
    const uint8_t* p = string::head_pointer(text);
    uint32_t n = (uint32_t)string::length_of(text), w = string::width_of(text);
    bool ok = base == 2    ? decode_2(p, n, w, out)
              : base == 16 ? decode_16(p, n, w, out)
              : base == 58 ? decode_58(p, n, w, out)
              : base == 64 ? decode_64(p, n, w, out)
                           : false;
    if (!ok) return false;
    load_in(result, (const uint8_t*)out.data(), (uint32_t)out.size());
    return true;
}

cell* from_issue(cell* issue, cell* result) {
    const char* spelling = symbol::to_cstr((int32_t)issue->data2);
    std::string out;
    if (!decode_16((const uint8_t*)spelling, (uint32_t)strlen(spelling), 1, out))
        error::raise_script(error::Script::invalid_data, issue);
    return load_in(result, (const uint8_t*)out.data(), (uint32_t)out.size());
}

// --- Actions: to, form, mold -----------------------------------------------------------

cell* to(cell* target, cell* spec, int32_t type) {
    cell source = *spec;
    collector::Root hold(source);
    std::string out;
    switch (source.type()) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        case TYPE_CHAR: case TYPE_TUPLE: case TYPE_BINARY: case TYPE_IMAGE:
            image(out, &source, false);
            break;
        case TYPE_INTEGER:
            for (int s = 24; s >= 0; s -= 8) out.push_back((char)(uint8_t)(source.data2 >> s));
            break;
        case TYPE_FLOAT: case TYPE_PERCENT: {
            uint64_t bits;
            double d = cell::get_float(&source);
            memcpy(&bits, &d, 8);
            for (int s = 56; s >= 0; s -= 8) out.push_back((char)(uint8_t)(bits >> s));
            break;
        }
        case TYPE_ISSUE:
            return from_issue(&source, target);
        case TYPE_BITSET: {
            Buffer* b = series::buffer_of(&source);
            out.assign((const char*)b->head, b->used_bytes());
            break;
        }
        default:
            if (!is_text(source.type())) bad_to(&source);
            out = utf8_of(&source);
    }
    return load_in(target, (const uint8_t*)out.data(), (uint32_t)out.size());
}

int32_t MoldText::flush(cell* out) {
    string::concatenate_bytes(out, text.data(), (uint32_t)text.size());
    return budget;
}

// The hex text of the bytes from the head, laid out as mold shows it.
static int32_t serialize(cell* value, cell* out, bool only, bool flat, int32_t limit,
                         int32_t indent) {
    uint32_t n = (uint32_t)rs_length(value);
    bool lines = n > 30 && !flat;
    MoldText m(limit);
    if (!only) m.put("#{", 2);
    if (lines) m.newline(indent + 1);
    const uint8_t* p = rs_head(value);
    for (uint32_t i = 0; i < n && m.budget > 0; i++) {
        m.hex(p[i]);
        if (lines && (i + 1) % 32 == 0) m.newline(indent + 1);
    }
    if (lines && m.budget > 0 && n % 32 != 0) m.newline(indent);
    if (!only && m.budget > 0) m.put("}", 1);
    return m.flush(out);
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return serialize(value, out, false, false, limit, 0);
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    return serialize(value, out, only, flat, limit, indent);
}

// --- Actions: bitwise ---------------------------------------------------------------------

static cell* do_bitwise(int32_t op) {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (b->type() != TYPE_BINARY) error::raise_script(error::Script::invalid_arg, b);
    uint32_t la = (uint32_t)rs_length(a), lb = (uint32_t)rs_length(b);
    uint32_t n = la > lb ? la : lb;
    cell result;
    make_at(&result, (int32_t)n);  // the operands stay on the stack, rooted
    const uint8_t* x = rs_head(a);
    const uint8_t* y = rs_head(b);
    uint8_t* r = series::buffer_of(&result)->head;
    uint32_t common = la < lb ? la : lb;
    for (uint32_t i = 0; i < common; i++)
        r[i] = op == 6 ? x[i] & y[i] : op == 5 ? x[i] | y[i] : x[i] ^ y[i];
    const uint8_t* longer = la > lb ? x : y;
    for (uint32_t i = common; i < n; i++) r[i] = op == 6 ? 0 : longer[i];
    series::buffer_of(&result)->tail = r + n;
    *a = result;
    return a;
}

cell* do_and() { return do_bitwise(6); }
cell* do_or() { return do_bitwise(5); }
cell* do_xor() { return do_bitwise(7); }

cell* complement(cell* value) {
    uint8_t* p = rs_head(value);
    for (int32_t i = 0, n = rs_length(value); i < n; i++) p[i] = (uint8_t)~p[i];
    return value;
}

// --- Actions: insert, append, change ---------------------------------------------------------

// The image of the value repeated `dup` times (a count below 0: once).
static std::string run_of(cell* value, int32_t part, int32_t dup, bool form_it) {
    std::string one;
    write_value(one, value, form_it, part);
    if (dup < 0) dup = 1;
    if ((uint64_t)one.size() * (uint64_t)dup > 0x7FFFFFF0u) no_memory();
    std::string run;
    run.reserve(one.size() * (size_t)dup);
    for (int32_t i = 0; i < dup; i++) run += one;
    return run;
}

static cell* insert_at(cell* series, cell* value, int32_t part, int32_t dup, bool append_) {
    head_index(series);  // a head past the tail is clamped to the tail
    std::string run = run_of(value, part, dup, false);
    uint32_t n = (uint32_t)run.size();
    uint32_t at = append_ ? used(series) : head_index(series);
    checked_add(used(series), n);
    bool owned = ownership::check(series, append_ ? ownership::APPEND : ownership::INSERT,
                                  (int32_t)at, (int32_t)n);
    // The handler may have cut the series.
    if (at > used(series)) at = used(series);
    series->data1 = 0;
    insert_bytes(series, at, (const uint8_t*)run.data(), n);
    if (owned)
        ownership::check(series, append_ ? ownership::APPENDED : ownership::INSERTED, (int32_t)at,
                         (int32_t)n);
    series->data1 = append_ ? 0 : at + n;
    return series;
}

cell* insert(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, dup, false);
}

cell* append(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, dup, true);
}

cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    std::string run = run_of(value, -1, dup, true);  // read before the buffer moves
    uint32_t n = (uint32_t)run.size();
    uint32_t h = head_index(series);
    bool owned = ownership::check(series, ownership::CHANGE, (int32_t)h, (int32_t)n);
    h = head_index(series);
    uint32_t rest = used(series) - h;
    uint32_t replaced = part >= 0 ? ((uint32_t)part < rest ? (uint32_t)part : rest)
                                  : (n < rest ? n : rest);
    checked_add(used(series), n);
    Node* node = series::node_of(series);
    if (n > replaced) room_for(node, n - replaced);
    Buffer* b = node->buffer;
    uint8_t* at = b->head + h;
    memmove(at + n, at + replaced, b->used_bytes() - h - replaced);
    if (n) memcpy(at, run.data(), n);
    b->tail = b->tail + n - replaced;
    if (owned) ownership::check(series, ownership::CHANGED, (int32_t)h, (int32_t)n);
    series->data1 = h + n;
    return series;
}

// --- Actions: trim ------------------------------------------------------------------------------

cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    if (auto_ || lines) error::raise_internal(error::Internal::not_done);
    bool remove[256] = {};
    bool given = stack::is_given(with);
    if (given) {
        std::string set;
        if (with->type() == TYPE_CHAR || with->type() == TYPE_INTEGER) {
            set.push_back((char)(uint8_t)with->data2);
        } else if (with->type() == TYPE_BINARY || is_text(with->type())) {
            write_value(set, with, false);
        } else {
            error::raise_script(error::Script::invalid_arg, with);
        }
        for (unsigned char c : set) remove[c] = true;
    } else {
        remove[0] = true;
    }
    Buffer* b = series::buffer_of(series);
    uint32_t h = head_index(series);
    uint8_t* p = b->head + h;
    uint32_t n = b->used_bytes() - h, kept = 0;
    if (given || all) {
        for (uint32_t i = 0; i < n; i++)
            if (!remove[p[i]]) p[kept++] = p[i];
    } else {
        bool from_head = head || !tail, from_tail = tail || !head;
        uint32_t lo = 0, hi = n;
        if (from_head)
            while (lo < hi && remove[p[lo]]) lo++;
        if (from_tail)
            while (hi > lo && remove[p[hi - 1]]) hi--;
        memmove(p, p + lo, hi - lo);
        kept = hi - lo;
    }
    b->tail = p + kept;
    ownership::check(series, ownership::TRIMMED, (int32_t)h, (int32_t)kept);
    return series;
}

// --- Registration ---------------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, INHERIT, INHERIT, on<A_TO>(to), on<A_FORM>(form), on<A_MOLD>(mold),
        INHERIT, NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                // math
        on<A_AND>(do_and), on<A_COMPLEMENT>(complement), on<A_OR>(do_or), on<A_XOR>(do_xor),
        on<A_APPEND>(append), INHERIT, INHERIT, on<A_CHANGE>(change), INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, on<A_INSERT>(insert), INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, NO, INHERIT, INHERIT, INHERIT,
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, on<A_TRIM>(trim),
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                          // I/O
    };
    // clang-format on
    define(TYPE_BINARY, TYPE_STRING, "binary!", list);
}

}  // namespace binary
