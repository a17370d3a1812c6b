// The lexer's engine: the scanning loop, the token routines, open series,
// paths, callbacks and syntax errors (lexer.h).
#include "evaluator/lexer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/lexer_load.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/dtoa.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace lexer {

namespace {

using memory::Buffer;
using memory::Node;

constexpr uint8_t MARKER = TYPE_TRIPLE;  // open-series marker cells
constexpr uint32_t OUTPUT_START = 1000;
constexpr uint32_t INPUT_START = 100000;
constexpr uint32_t ERROR_TEXT_CHARS = 30;
constexpr uint32_t FLOAT_MAX_LENGTH = 312;

// Error types of `throw_error` besides datatype ids.
enum : int32_t { E_BAD_CHAR = -1, E_MALCONSTRUCT = -2, E_MISSING_CLOSE = -3, E_STRAY_CLOSE = -4 };

// --- The output buffer ---------------------------------------------------------------------

cell* output = nullptr;
uint32_t output_capacity = 0;
uint32_t output_tail = 0;

uint32_t append_cell() {
    if (output_tail == output_capacity) {
        uint32_t grown = output_capacity ? sys::size_mul(output_capacity, 2) : OUTPUT_START;
        output = (cell*)sys::resize(output, sys::size_mul(grown, sizeof(cell)));
        output_capacity = grown;
    }
    unset::make_at(&output[output_tail]);
    return output_tail++;
}

// --- The input buffer ----------------------------------------------------------------------

uint8_t* input_buffer = nullptr;
uint32_t input_capacity = 0;
bool input_busy = false;

// The UTF-8 copy of one `load`: the shared buffer, or (when a scan already
// uses it, or the text is larger) a block of its own.
struct InputCopy {
    uint8_t* bytes = nullptr;
    bool own = false;
    bool shared = false;
    explicit InputCopy(uint32_t n) {
        if (!input_busy && n <= INPUT_START) {
            if (!input_buffer) {
                input_buffer = (uint8_t*)sys::allocate(INPUT_START);
                input_capacity = INPUT_START;
            }
            bytes = input_buffer;
            shared = input_busy = true;
        } else {
            bytes = (uint8_t*)sys::allocate(n ? n : 1);
            own = true;
        }
    }
    ~InputCopy() {
        if (own) sys::free(bytes);
        if (shared) input_busy = false;
    }
    InputCopy(const InputCopy&) = delete;
    InputCopy& operator=(const InputCopy&) = delete;
};

// --- One scan --------------------------------------------------------------------------------

// A token was rejected (by the callback, or as an error of a scan that does
// not raise): the round ends without a value.
struct Rejected {};

struct Scan {
    Scan* next;                 // the enclosing active scan
    const uint8_t* input;       // the text
    const uint8_t* end;
    const uint8_t* pos;         // where the next token starts
    const uint8_t* token_start;
    const uint8_t* token_end;
    int32_t line;               // line feeds seen so far + 1
    int32_t token_line;         // line of the token's first byte
    int32_t lines;              // line feeds inside the token
    int32_t error_type;         // a routine's own error type for the token (0: the token's)
    uint8_t token_type;
    int32_t prev_state;         // state before the terminal
    int32_t terminal;
    uint8_t last_token_type;
    uint32_t head;              // this scan's first output cell
    int32_t open;               // index of the innermost open marker, -1: none
    int32_t nesting;            // braced-string depth
    const uint8_t* brace_start; // after the outermost `{`
    int32_t brace_line;
    uint32_t flags;             // token flags
    cell input_value;           // the source (for callback offsets), unset! when none
    Callback* callback;
    bool load, one, prescan, scan_type;
    bool path_slash;            // a path's `/` was just consumed
    bool point;                 // the next token is a point literal
    bool new_line;              // a line feed since the previous token
    bool stopped;
    bool callback_stop;         // a callback ended the scan
    uint8_t first_type;         // prescan/scan answer
    uint32_t count;             // top-level values
};

Scan* active = nullptr;

struct Chain {
    Scan& s;
    explicit Chain(Scan& scan) : s(scan) {
        s.next = active;
        active = &s;
    }
    ~Chain() { active = s.next; }
};

// --- Text helpers --------------------------------------------------------------------------

// Strict UTF-8: one code point from p (advanced), or -1.
int32_t decode_utf8(const uint8_t*& p, const uint8_t* end) {
    uint8_t b = *p;
    if (b < 0x80) {
        p++;
        return b;
    }
    int32_t n, cp, min;
    if (b >= 0xC2 && b <= 0xDF) n = 1, cp = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) n = 2, cp = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) n = 3, cp = b & 0x07, min = 0x10000;
    else return -1;
    if (end - p <= n) return -1;
    for (int32_t i = 1; i <= n; i++) {
        if ((p[i] & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > char_::MAX_CODE_POINT || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    p += n + 1;
    return cp;
}

void append_utf8(std::string& s, int32_t cp) {
    if (cp < 0x80) {
        s += (char)cp;
    } else if (cp < 0x800) {
        s += (char)(0xC0 | (cp >> 6));
        s += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += (char)(0xE0 | (cp >> 12));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    } else {
        s += (char)(0xF0 | (cp >> 18));
        s += (char)(0x80 | ((cp >> 12) & 0x3F));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    }
}

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool same_ascii(const uint8_t* p, uint32_t n, const char* word) {
    if (strlen(word) != n) return false;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t a = p[i], b = (uint8_t)word[i];
        if (a >= 'A' && a <= 'Z') a += 32;
        if (b >= 'A' && b <= 'Z') b += 32;
        if (a != b) return false;
    }
    return true;
}

// One caret escape after the `^` at p (advanced past it), or -1.
int32_t caret_escape(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    uint8_t c = *p++;
    if (c == '(') {
        const uint8_t* close = (const uint8_t*)memchr(p, ')', (size_t)(end - p));
        if (!close || close == p) return -1;
        uint32_t n = (uint32_t)(close - p);
        static const struct { const char* name; int32_t cp; } NAMES[] = {
            {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
        };
        for (const auto& e : NAMES)
            if (same_ascii(p, n, e.name)) {
                p = close + 1;
                return e.cp;
            }
        if (n > 6) return -1;
        int32_t cp = 0;
        for (const uint8_t* q = p; q < close; q++) {
            int32_t d = hex_digit(*q);
            if (d < 0) return -1;
            cp = cp * 16 + d;
        }
        if (cp > char_::MAX_CODE_POINT || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
        p = close + 1;
        return cp;
    }
    switch (c) {
        case '"': return '"';
        case '-': return 9;
        case '/': return 10;
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 64 && c <= 95) return c - 64;
    return -1;
}

// Code points of [p, end), caret escapes decoded when `escapes`; false on an
// invalid escape or invalid UTF-8.
bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, std::u32string& out) {
    out.clear();
    while (p < end) {
        int32_t cp;
        if (escapes && *p == '^') {
            p++;
            cp = caret_escape(p, end);
        } else {
            cp = decode_utf8(p, end);
        }
        if (cp < 0) return false;
        out += (char32_t)cp;
    }
    return true;
}

// A new string! of the code points in `out`, as narrow as they allow.
void make_string(cell* out, const std::u32string& cps) {
    uint32_t width = 1;
    for (char32_t cp : cps) {
        if (cp > 0xFFFF) {
            width = 4;
            break;
        }
        if (cp > 0xFF) width = 2;
    }
    string::make_at_unit(out, (int32_t)cps.size(), width);
    Buffer* b = series::buffer_of(out);
    uint8_t* q = b->head;
    for (char32_t cp : cps) {
        if (width == 1) *q = (uint8_t)cp;
        else if (width == 2) { uint16_t u = (uint16_t)cp; memcpy(q, &u, 2); }
        else { uint32_t u = cp; memcpy(q, &u, 4); }
        q += width;
    }
    b->tail = q;
}

std::string to_utf8(const std::u32string& cps) {
    std::string s;
    for (char32_t cp : cps) append_utf8(s, (int32_t)cp);
    return s;
}

// %XX sequences decoded into bytes; false on a bad sequence.
bool percent_decode(const uint8_t* p, const uint8_t* end, std::string& out) {
    out.clear();
    while (p < end) {
        if (*p == '%') {
            if (end - p < 3) return false;
            int32_t h = hex_digit(p[1]), l = hex_digit(p[2]);
            if (h < 0 || l < 0) return false;
            out += (char)(h * 16 + l);
            p += 3;
        } else {
            out += (char)*p++;
        }
    }
    // The decoded bytes must still be UTF-8.
    const uint8_t* q = (const uint8_t*)out.data();
    const uint8_t* e = q + out.size();
    while (q < e)
        if (decode_utf8(q, e) < 0) return false;
    return true;
}

bool valid_utf8(const uint8_t* p, const uint8_t* end) {
    while (p < end)
        if (decode_utf8(p, end) < 0) return false;
    return true;
}

bool is_blank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// --- Errors ----------------------------------------------------------------------------------

bool handles_errors(const Scan& s) {
    return !s.load || (s.callback && (s.callback->mask & EV_ERROR));
}

bool fire(Scan& s, uint32_t event, uint8_t type, const cell* value, const uint8_t* start,
          const uint8_t* end) {
    Callback* cb = s.callback;
    if (!cb || !(cb->mask & event)) return true;
    EventInfo info{s.input, event, type, s.token_line, value, (uint32_t)(start - s.input), (uint32_t)(end - s.input)};
    return cb->fire(*cb, info);
}

cell* push_text(const uint8_t* p, uint32_t n) { return string::load(p, (int32_t)n, nullptr, 0); }

// Raises the syntax error of the token [start, end) (see lexer.h), or marks
// it and ends the round when the scan handles errors itself.
[[noreturn]] void throw_error(Scan& s, const uint8_t* start, int32_t type) {
    if (handles_errors(s)) {
        s.token_type = TYPE_ERROR;
        uint8_t reported = type > 0 ? (uint8_t)type : 0;
        if (s.callback && (s.callback->mask & EV_ERROR)) {
            if (!fire(s, EV_ERROR, reported, nullptr, start, s.token_end > start ? s.token_end : start))
                s.stopped = s.callback_stop = true;
        }
        if (s.prescan || s.scan_type) {
            s.first_type = TYPE_ERROR;
            s.stopped = true;
        }
        throw Rejected{};
    }
    // Up to the first line feed, the end, or 30 code points.
    const uint8_t* p = start;
    uint32_t chars = 0;
    while (p < s.end && *p != '\n' && chars < ERROR_TEXT_CHARS) {
        const uint8_t* q = p;
        if (decode_utf8(q, s.end) < 0) q = p + 1;  // a stray byte counts as one character
        p = q;
        chars++;
    }
    std::string text((const char*)start, (size_t)(p - start));
    // Invalid bytes would not survive the trip into a string!: shown as U+FFFD.
    std::string shown;
    for (const uint8_t* q = (const uint8_t*)text.data(), *e = q + text.size(); q < e;) {
        const uint8_t* r = q;
        int32_t cp = decode_utf8(r, e);
        if (cp < 0) {
            cp = 0xFFFD;
            r = q + 1;
        }
        append_utf8(shown, cp);
        q = r;
    }
    std::string location = "(line " + std::to_string(s.token_line) + ")";
    cell* loc = push_text((const uint8_t*)location.data(), (uint32_t)location.size());
    cell* txt = push_text((const uint8_t*)shown.data(), (uint32_t)shown.size());
    switch (type) {
        case E_BAD_CHAR: error::raise(error::SYNTAX, "bad-char", loc, txt);
        case E_MALCONSTRUCT: error::raise(error::SYNTAX, "malconstruct", loc, txt);
        default: break;
    }
    if (type <= E_MISSING_CLOSE) {
        std::string closer(1, (char)(-type >> 8));
        cell* c = push_text((const uint8_t*)closer.data(), 1);
        error::raise(error::SYNTAX, "missing", loc, c, txt);
    }
    cell* dt = datatype::push((uint8_t)type);
    error::raise(error::SYNTAX, "invalid", loc, dt, txt);
}

// Missing-closer errors carry the character in bits 8-15 of their type.
int32_t missing(int32_t kind, char c) { return kind - ((int32_t)(uint8_t)c << 8); }

[[noreturn]] void invalid(Scan& s, uint8_t type) { throw_error(s, s.token_start, type); }

// --- Open series -------------------------------------------------------------------------------

bool is_path_kind(uint32_t kind) { return kind >= TYPE_PATH && kind <= TYPE_GET_PATH; }

uint32_t open_kind(const Scan& s) { return s.open < 0 ? 0 : output[s.open].data2; }

void open_series(Scan& s, uint8_t kind, const uint8_t* at) {
    uint32_t m = append_cell();
    cell* c = &output[m];
    // The marker's cell becomes the series: the new-line mark waits there.
    c->header = MARKER | (s.new_line && !is_path_kind(open_kind(s)) ? CELL_NEW_LINE : 0);
    s.new_line = false;
    c->data1 = s.open < 0 ? 0 : m - (uint32_t)s.open;
    c->data2 = kind;
    c->data3 = (uint32_t)(at - s.input);
    s.open = (int32_t)m;
}

// A value just appended: its new-line marker, the top-level count, /one.
void value_added(Scan& s, uint32_t index) {
    if (s.new_line && !(s.open >= 0 && is_path_kind(open_kind(s))))
        cell::set_new_line(&output[index], true);
    else
        cell::clear_new_line(&output[index]);
    s.new_line = false;
    if (s.open < 0) {
        s.count++;
        if (s.one) s.stopped = true;
    }
}

// Moves the cells after the innermost marker into a new series of `kind`
// at the marker's place (loading), or drops the marker (checking).
void close_series(Scan& s, uint8_t kind) {
    uint32_t m = (uint32_t)s.open;
    uint32_t back = output[m].data1;
    bool line = cell::has_new_line(&output[m]);
    uint32_t n = output_tail - m - 1;
    s.open = back ? (int32_t)(m - back) : -1;
    if (!s.load) {
        output_tail = m;
        if ((s.prescan || s.scan_type) && s.open < 0) {
            s.first_type = kind;
            s.stopped = true;
        }
    } else if (kind == TYPE_MAP) {
        Literal l{};
        l.cells = &output[m + 1];
        l.count = (int32_t)n;
        l.token = s.input + output[m].data3;
        l.length = (uint32_t)(s.pos - l.token);
        Loader load = loader(TYPE_MAP);
        output[m].header = TYPE_UNSET;  // the elements stay marked while the map is made
        cell made;
        unset::make_at(&made);
        collector::Root root(made);
        if (!load(l, &made, true)) invalid(s, TYPE_MAP);
        output[m] = made;
        output_tail = m + 1;
    } else {
        block::make_at(&output[m], (int32_t)n);
        Buffer* b = series::buffer_of(&output[m]);
        memcpy((void*)b->tail, (const void*)&output[m + 1], (size_t)n * sizeof(cell));
        b->tail += (size_t)n * sizeof(cell);
        cell::set_type(&output[m], kind);
        output_tail = m + 1;
    }
    if (s.load) {
        cell::set_new_line(&output[m], line);
        if (s.open < 0) {
            s.count++;
            if (s.one) s.stopped = true;
        }
    }
    // After a series inside a path, the path goes on (or ends) from here.
    s.path_slash = false;
}

// --- Token routines ----------------------------------------------------------------------------
// Each checks its token and, with `out`, builds the value there. False:
// the token is invalid (of the token's type unless the routine set
// `s.error_type`).

using Routine = bool (*)(Scan& s, cell* out);

uint32_t token_length(const Scan& s) { return (uint32_t)(s.token_end - s.token_start); }

bool string_value(Scan& s, const uint8_t* p, const uint8_t* end, bool escapes, cell* out) {
    std::u32string cps;
    if (!decode_text(p, end, escapes, cps)) return false;
    if (out) make_string(out, cps);
    return true;
}

bool r_string(Scan& s, cell* out) {
    return string_value(s, s.token_start + 1, s.token_end - 1, (s.flags & F_CARET) != 0, out);
}

// A braced string: from after the outermost `{` to before the closing `}`.
bool r_braced(Scan& s, cell* out) {
    const uint8_t* p = s.brace_start;
    const uint8_t* end = s.token_end - 1;
    bool escapes = memchr(p, '^', (size_t)(end - p)) != nullptr;
    return string_value(s, p, end, escapes, out);
}

bool r_raw_string(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    uint32_t open = 0;
    while (p + open < end && p[open] == '%') open++;
    uint32_t close = 0;
    while (close < (uint32_t)(end - p) && end[-1 - (int32_t)close] == '%') close++;
    if (close != open) return false;
    const uint8_t* text = p + open + 1;
    const uint8_t* text_end = end - close - 1;  // the `}`
    if (text_end < text || *text_end != '}') return false;
    return string_value(s, text, text_end, false, out);
}

// The word family by sigils; `/`-words and `%`-words included.
bool r_word(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    uint32_t n = token_length(s);
    uint8_t type = TYPE_WORD;
    if (n > 1 && *p == ':') type = TYPE_GET_WORD, p++, n--;
    else if (n > 1 && *p == '\'') type = TYPE_LIT_WORD, p++, n--;
    if (n > 1 && p[n - 1] == ':') {
        if (type != TYPE_WORD) return false;
        type = TYPE_SET_WORD;
        n--;
    }
    if (n == 0 || memchr(p, ':', n)) return false;
    if ((s.flags & (F_UNI2 | F_UNI4)) && !valid_utf8(p, p + n)) return false;
    if (out) {
        word::make_at(symbol::make_n(p, n), out);
        cell::set_type(out, type);
    }
    return true;
}

bool r_refinement(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    uint32_t n = token_length(s);
    if (*p != '/' || n < 2) return false;
    if ((s.flags & (F_UNI2 | F_UNI4)) && !valid_utf8(p + 1, p + n)) return false;
    if (out) word::make_cell(out, TYPE_REFINEMENT, nullptr, symbol::make_n(p + 1, n - 1), -1);
    return true;
}

bool r_issue(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    uint32_t n = token_length(s);
    if (n < 2) return false;
    // Digits before the `#` (a base without its braces, `16#FF`) belong to
    // the spelling: the token is kept whole.
    if (*p == '#') p++, n--;
    if ((s.flags & (F_UNI2 | F_UNI4)) && !valid_utf8(p, p + n)) return false;
    if (out) word::make_cell(out, TYPE_ISSUE, context::global, symbol::make_n(p, n), -1);
    return true;
}

// Digits of a decimal integer token with `'` separators; "" when a
// separator doubles.
bool integer_digits(const uint8_t* p, const uint8_t* end, std::string& digits) {
    digits.clear();
    bool quote = false;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (quote) return false;
            quote = true;
            continue;
        }
        quote = false;
        digits += (char)*p;
    }
    return true;
}

bool r_integer(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    if (end - p == 1) {
        if (out) integer::make_at(out, *p - '0');
        return true;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::string digits;
    if (!integer_digits(p, end, digits) || digits.empty()) return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    size_t first = digits.find_first_not_of('0');
    size_t significant = first == std::string::npos ? 0 : digits.size() - first;
    if (significant <= 10) {
        int64_t v = 0;
        for (char c : digits) v = v * 10 + (c - '0');
        if (negative) v = -v;
        if (v >= INT32_MIN && v <= INT32_MAX) {
            if (out) integer::make_at(out, (int32_t)v);
            return true;
        }
    }
    if (out) {
        std::string text = (negative ? "-" : "") + digits;
        float_::make_in(out, dtoa::to_float(text.data(), text.data() + text.size(), 0, nullptr));
    }
    return true;
}

// [sign] digits [. digits] [e|E [sign] digits], at least one digit before
// the exponent; `'` removed beforehand.
bool float_syntax(const std::string& t) {
    size_t i = 0, n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) i++;
    size_t digits = 0;
    while (i < n && t[i] >= '0' && t[i] <= '9') i++, digits++;
    if (i < n && (t[i] == '.' || t[i] == ',')) {
        i++;
        while (i < n && t[i] >= '0' && t[i] <= '9') i++, digits++;
    }
    if (!digits) return false;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        i++;
        if (i < n && (t[i] == '+' || t[i] == '-')) i++;
        size_t e = 0;
        while (i < n && t[i] >= '0' && t[i] <= '9') i++, e++;
        if (!e) return false;
    }
    return i == n;
}

bool read_float(const uint8_t* p, uint32_t n, double* out) {
    if (n > FLOAT_MAX_LENGTH) return false;
    std::string t;
    bool quote = false;
    for (uint32_t i = 0; i < n; i++) {
        if (p[i] == '\'') {
            if (quote || i == 0) return false;
            quote = true;
            continue;
        }
        quote = false;
        t += p[i] == ',' ? '.' : (char)p[i];
    }
    if (!float_syntax(t)) return false;
    *out = dtoa::to_float(t.data(), t.data() + t.size(), 0, nullptr);
    return true;
}

// "1.#INF", "-1.#INF", "+1.#INF", "1.#NaN", letters without case.
bool read_special(const uint8_t* p, uint32_t n, double* out) {
    bool negative = false;
    if (n && (*p == '+' || *p == '-')) negative = *p == '-', p++, n--;
    if (same_ascii(p, n, "1.#inf")) {
        *out = negative ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (!negative && same_ascii(p, n, "1.#nan")) {
        *out = dtoa::to_float("1.#NaN", nullptr, 0, nullptr);
        uint64_t bits = 0x7FF8000000000000ull;
        memcpy(out, &bits, 8);
        return true;
    }
    return false;
}

bool r_float(Scan& s, cell* out) {
    double d;
    if (!read_float(s.token_start, token_length(s), &d)) return false;
    if (out) float_::make_in(out, d);
    return true;
}

bool r_float_special(Scan& s, cell* out) {
    double d;
    if (!read_special(s.token_start, token_length(s), &d)) return false;
    if (out) float_::make_in(out, d);
    return true;
}

bool r_hex(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    uint32_t n = token_length(s) - 1;  // without the `h`
    bool digit_first = *p >= '0' && *p <= '9';
    if (n < 2 || n > 8) {
        if (!digit_first && n < 2) s.error_type = TYPE_WORD;
        return false;
    }
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; i++) {
        int32_t d = hex_digit(p[i]);
        if (d < 0) return false;
        v = v * 16 + (uint32_t)d;
    }
    if (out) integer::make_at(out, (int32_t)v);
    return true;
}

bool r_char(Scan& s, cell* out) {
    std::u32string cps;
    if (!decode_text(s.token_start + 2, s.token_end - 1, true, cps) || cps.size() != 1) return false;
    if (out) char_::make_at(out, (int32_t)cps[0]);
    return true;
}

// #(name): true, false, none, unset, or a datatype's name.
bool r_construct(Scan& s, cell* out) {
    const uint8_t* p = s.token_start + 2;
    const uint8_t* end = s.token_end - 1;
    while (p < end && is_blank(*p)) p++;
    while (end > p && is_blank(end[-1])) end--;
    uint32_t n = (uint32_t)(end - p);
    s.error_type = E_MALCONSTRUCT;
    cell v;
    if (same_ascii(p, n, "true") || same_ascii(p, n, "false")) logic::make_at(&v, same_ascii(p, n, "true"));
    else if (same_ascii(p, n, "none")) none::make_at(&v);
    else if (same_ascii(p, n, "unset")) unset::make_at(&v);
    else {
        uint8_t found = 0;
        for (uint32_t t = 1; t < TYPE_SLOTS && !found; t++) {
            const char* name = datatype::type_names[t].name;
            if (name && same_ascii(p, n, name)) found = (uint8_t)t;
        }
        if (!found) return false;
        datatype::make_at(&v, found);
    }
    s.error_type = 0;
    s.token_type = v.type();
    if (out) *out = v;
    return true;
}

// --- Tokens of the datatypes built elsewhere ------------------------------------------------

// Loaders that only build: the check is the lexer's own.
bool build(Scan& s, uint8_t type, Literal& l, cell* out) {
    if (!out) return true;
    l.token = s.token_start;
    l.length = token_length(s);
    l.flags = s.flags;
    return loader(type)(l, out, true);
}

bool r_file(Scan& s, cell* out) {
    Literal l{};
    const uint8_t* p = s.token_start + 1;
    const uint8_t* end = s.token_end;
    if (p < end && *p == '"') {
        if (end - p < 2 || end[-1] != '"') return false;
        std::u32string cps;
        if (!decode_text(p + 1, end - 1, true, cps)) return false;
        l.text = to_utf8(cps);
    } else if (memchr(p, '%', (size_t)(end - p))) {
        if (!percent_decode(p, end, l.text)) return false;
    } else {
        if (!valid_utf8(p, end)) return false;
        l.text.assign((const char*)p, (size_t)(end - p));
    }
    return build(s, TYPE_FILE, l, out);
}

bool r_url(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    if (*p == ':' || *p == '\'') {
        s.error_type = *p == ':' ? TYPE_GET_WORD : TYPE_LIT_WORD;
        return false;
    }
    Literal l{};
    if (memchr(p, '%', (size_t)(end - p))) {
        if (!percent_decode(p, end, l.text)) return false;
    } else {
        if (!valid_utf8(p, end)) return false;
        l.text.assign((const char*)p, (size_t)(end - p));
    }
    return build(s, TYPE_URL, l, out);
}

bool text_token(Scan& s, uint8_t type, const uint8_t* p, const uint8_t* end, cell* out) {
    if (end < p || !valid_utf8(p, end)) return false;
    Literal l{};
    l.text.assign((const char*)p, (size_t)(end - p));
    return build(s, type, l, out);
}

bool r_tag(Scan& s, cell* out) {
    return text_token(s, TYPE_TAG, s.token_start + 1, s.token_end - 1, out);
}
bool r_email(Scan& s, cell* out) {
    const uint8_t* at = (const uint8_t*)memchr(s.token_start, '@', token_length(s));
    if (!at || at == s.token_start) return false;
    return text_token(s, TYPE_EMAIL, s.token_start, s.token_end, out);
}
bool r_ref(Scan& s, cell* out) {
    return text_token(s, TYPE_REF, s.token_start + 1, s.token_end, out);
}

// Binary digits in base 2, 16 or 64 between the braces; blanks and
// `;` comments skipped.
bool r_binary(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end - 1;  // the `}`
    int32_t base = 0;
    while (*p != '#') {
        // The scanner lets `'` into the run of the base: a prefix that is not
        // plain digits is no base.
        if (*p < '0' || *p > '9') return false;
        base = base * 10 + (*p - '0');
        if (base > 64) return false;
        p++;
    }
    if (p == s.token_start) base = 16;
    if (base != 2 && base != 16 && base != 64) return false;
    p += 2;  // `#{`
    Literal l{};
    uint32_t acc = 0, bits = 0;
    bool padding = false;
    for (; p < end; p++) {
        uint8_t c = *p;
        if (is_blank(c)) continue;
        if (c == ';') {
            while (p < end && *p != '\n') p++;
            continue;
        }
        int32_t v;
        if (base == 16) {
            v = hex_digit(c);
            if (v < 0) return false;
            acc = (acc << 4) | (uint32_t)v, bits += 4;
        } else if (base == 2) {
            if (c != '0' && c != '1') return false;
            acc = (acc << 1) | (uint32_t)(c - '0'), bits += 1;
        } else {
            if (c == '=') {
                padding = true;
                continue;
            }
            if (padding) return false;
            if (c >= 'A' && c <= 'Z') v = c - 'A';
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
            else if (c >= '0' && c <= '9') v = c - '0' + 52;
            else if (c == '+') v = 62;
            else if (c == '/') v = 63;
            else return false;
            acc = (acc << 6) | (uint32_t)v, bits += 6;
        }
        if (bits >= 8) {
            bits -= 8;
            l.text += (char)((acc >> bits) & 0xFF);
            acc &= (1u << bits) - 1;
        }
    }
    if (bits && (base != 64 || acc != 0)) return false;  // a half byte or stray group
    return build(s, TYPE_BINARY, l, out);
}

bool r_percent(Scan& s, cell* out) {
    Literal l{};
    if (!read_float(s.token_start, token_length(s) - 1, &l.number[0])) return false;
    l.number[0] /= 100.0;
    return build(s, TYPE_PERCENT, l, out);
}

// Dot-separated parts 0-255, 3 to 12 of them.
bool r_tuple(Scan& s, cell* out) {
    Literal l{};
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    int32_t part = -1;
    for (; p <= end; p++) {
        if (p == end || *p == '.') {
            if (part < 0 || l.count == 12) return false;
            l.bytes[l.count++] = (uint8_t)part;
            part = -1;
            continue;
        }
        if (*p < '0' || *p > '9') return false;
        part = (part < 0 ? 0 : part * 10) + (*p - '0');
        if (part > 255) return false;
    }
    if (l.count < 3) return false;
    return build(s, TYPE_TUPLE, l, out);
}

bool r_pair(Scan& s, cell* out) {
    Literal l{};
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    const uint8_t* x = p;
    while (x < end && *x != 'x' && *x != 'X') x++;
    if (x == end || memchr(p, '.', (size_t)(end - p))) return false;
    if (scan_integer(p, (uint32_t)(x - p), &l.integers[0]) != SCAN_OK) return false;
    if (scan_integer(x + 1, (uint32_t)(end - x - 1), &l.integers[1]) != SCAN_OK) return false;
    return build(s, TYPE_PAIR, l, out);
}

// hours:minutes[:seconds[.fraction]], a leading `-` negative.
bool r_time(Scan& s, cell* out) {
    Literal l{};
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (end[-1] == ':') return false;
    const uint8_t* c1 = (const uint8_t*)memchr(p, ':', (size_t)(end - p));
    if (!c1) return false;
    const uint8_t* c2 = (const uint8_t*)memchr(c1 + 1, ':', (size_t)(end - c1 - 1));
    int32_t h, m;
    if (scan_integer(p, (uint32_t)(c1 - p), &h) != SCAN_OK || h < 0) return false;
    const uint8_t* m_end = c2 ? c2 : end;
    if (m_end == c1 + 1 || scan_integer(c1 + 1, (uint32_t)(m_end - c1 - 1), &m) != SCAN_OK || m < 0)
        return false;
    double seconds = 0;
    if (c2) {
        if (memchr(c2 + 1, ':', (size_t)(end - c2 - 1))) return false;
        for (const uint8_t* q = c2 + 1; q < end; q++)
            if (!((*q >= '0' && *q <= '9') || *q == '.' || *q == ',')) return false;
        if (!read_float(c2 + 1, (uint32_t)(end - c2 - 1), &seconds)) return false;
    } else {
        for (const uint8_t* q = c1 + 1; q < end; q++)
            if (*q < '0' || *q > '9') return false;
    }
    double v = (double)h * 3600.0 + (double)m * 60.0 + seconds;
    l.number[0] = negative ? -v : v;
    return build(s, TYPE_TIME, l, out);
}

// [sign][CCC]$digits['digits][.fraction]
bool r_money(Scan& s, cell* out) {
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end;
    if (*p == '+' || *p == '-') p++;
    const uint8_t* dollar = (const uint8_t*)memchr(p, '$', (size_t)(end - p));
    if (!dollar) return false;
    uint32_t code = (uint32_t)(dollar - p);
    if (code != 0 && code != 3) return false;
    for (const uint8_t* q = p; q < dollar; q++)
        if (!((*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z'))) return false;
    const uint8_t* q = dollar + 1;
    if (q == end || *q < '0' || *q > '9') return false;
    uint32_t digits = 0;
    bool quote = false;
    for (; q < end && *q != '.' && *q != ','; q++) {
        if (*q == '\'') {
            if (quote) return false;
            quote = true;
            continue;
        }
        if (*q < '0' || *q > '9') return false;
        quote = false;
        digits++;
    }
    if (quote || digits > 17) return false;
    if (q < end) {
        if (end - q > 6) return false;
        for (const uint8_t* f = q + 1; f < end; f++)
            if (*f < '0' || *f > '9') return false;
    }
    Literal l{};
    Loader load = loader(TYPE_MONEY);
    l.token = s.token_start;
    l.length = token_length(s);
    l.flags = s.flags;
    if (!load(l, out, out != nullptr)) return false;
    return true;
}

bool r_date(Scan& s, cell* out) {
    Literal l{};
    l.token = s.token_start;
    l.length = token_length(s);
    l.flags = s.flags;
    return loader(TYPE_DATE)(l, out, out != nullptr);
}

void value_token(Scan& s, Routine routine);

// The date token runs on over `/` (times follow one), so a date that heads a
// path (1-Jan-2021/isoweek) arrives with its path. When the whole token is
// no date but its part before a `/` and a letter is, that `/` is where the
// date ends: the path is opened, the date becomes its first element and
// scanning goes on after the `/`.
bool date_path(Scan& s) {
    Literal l{};
    l.token = s.token_start;
    l.flags = s.flags;
    l.length = token_length(s);
    if (loader(TYPE_DATE)(l, nullptr, false)) return false;
    if (s.open >= 0 && is_path_kind(open_kind(s))) return false;
    for (const uint8_t* q = s.token_end - 2; q > s.token_start; q--) {
        if (*q != '/' || !(((q[1] | 0x20) >= 'a' && (q[1] | 0x20) <= 'z'))) continue;
        l.length = (uint32_t)(q - s.token_start);
        if (!loader(TYPE_DATE)(l, nullptr, false)) continue;
        if (!fire(s, EV_OPEN, TYPE_PATH, nullptr, s.token_start, q + 1)) throw Rejected{};
        open_series(s, TYPE_PATH, s.token_start);
        s.token_end = s.pos = q;
        value_token(s, r_date);
        s.pos = q + 1;
        s.new_line = false;
        s.path_slash = true;
        return true;
    }
    return false;
}

// The token is the inside of a point literal and its `)`.
bool r_point(Scan& s, cell* out) {
    Literal l{};
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end - 1;
    int32_t n = 0;
    while (true) {
        const uint8_t* comma = (const uint8_t*)memchr(p, ',', (size_t)(end - p));
        const uint8_t* stop = comma ? comma : end;
        if (n == 3) {
            s.error_type = TYPE_POINT3D;
            return false;
        }
        if (n == 2) s.error_type = TYPE_POINT3D;
        const uint8_t* a = p;
        const uint8_t* b = stop;
        while (a < b && (*a == ' ' || *a == '\t')) a++;
        while (b > a && (b[-1] == ' ' || b[-1] == '\t')) b--;
        if (a == b) return false;
        if (!read_float(a, (uint32_t)(b - a), &l.number[n]) &&
            !read_special(a, (uint32_t)(b - a), &l.number[n]))
            return false;
        n++;
        if (!comma) break;
        p = comma + 1;
    }
    if (n < 2) return false;
    s.error_type = 0;
    uint8_t type = n == 2 ? TYPE_POINT2D : TYPE_POINT3D;
    s.token_type = type;
    return build(s, type, l, out);
}

// The routine of a terminal from 79 up.
Routine routine_of(int32_t terminal) {
    switch (terminal) {
        case T_STRING: return r_string;
        case T_WORD: return r_word;
        case T_ISSUE: return r_issue;
        case T_INTEGER: return r_integer;
        case T_REFINEMENT: return r_refinement;
        case T_CHAR: return r_char;
        case T_FILE: return r_file;
        case T_BINARY: return r_binary;
        case T_PERCENT: return r_percent;
        case T_FLOAT: return r_float;
        case T_FLOAT_SPECIAL: return r_float_special;
        case T_TUPLE: return r_tuple;
        case T_DATE: return r_date;
        case T_PAIR: return r_pair;
        case T_POINT: return r_point;
        case T_TIME: return r_time;
        case T_MONEY: return r_money;
        case T_TAG: return r_tag;
        case T_URL: return r_url;
        case T_EMAIL: return r_email;
        case T_HEX: return r_hex;
        case T_RAW_STRING: return r_raw_string;
        case T_REF: return r_ref;
        default: return nullptr;
    }
}

// --- Values --------------------------------------------------------------------------------

// Checks, reports and (when loading) builds one value token.
void value_token(Scan& s, Routine routine) {
    s.error_type = 0;
    bool check = !s.load || (s.callback && (s.callback->mask & EV_SCAN));
    if (s.prescan) check = s.terminal <= T_STRING;
    if (check) {
        if (!routine(s, nullptr)) throw_error(s, s.token_start, s.error_type ? s.error_type : s.token_type);
        if (!fire(s, EV_SCAN, s.token_type, nullptr, s.token_start, s.token_end)) throw Rejected{};
    }
    if (s.prescan || s.scan_type) {
        // Inside a path the path's kind is the answer, known when it closes.
        if (s.open < 0) {
            s.first_type = s.token_type;
            s.stopped = true;
        }
        return;
    }
    if (!s.load) return;
    uint32_t index = append_cell();
    if (!routine(s, &output[index])) {
        output_tail = index;
        throw_error(s, s.token_start, s.error_type ? s.error_type : s.token_type);
    }
    if (s.callback && (s.callback->mask & EV_LOAD)) {
        cell value = output[index];
        collector::Root root(value);
        if (!fire(s, EV_LOAD, s.token_type, &value, s.token_start, s.token_end)) {
            output_tail = index;
            throw Rejected{};
        }
    }
    value_added(s, index);
}

// --- Structure -----------------------------------------------------------------------------

// A paren whose next bytes reach a `,` through number bytes starts a point.
bool starts_point(const uint8_t* p, const uint8_t* end) {
    if (end - p < 4) return false;
    for (; p < end; p++) {
        uint8_t c = *p;
        if (c == ',') return true;
        if ((c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '.' || c == '+' || c == '-' ||
            c == 'e' || c == 'E' || c == '#' || c == '\'' || strchr("iInNfFaA", c))
            continue;
        return false;
    }
    return false;
}

void close_token(Scan& s, uint8_t kind, char closer, char opener) {
    if (!fire(s, EV_CLOSE, kind, nullptr, s.token_start, s.token_end)) throw Rejected{};
    if (s.open >= 0 && is_path_kind(open_kind(s))) {
        // Only reached right after a path's `/`: the path has no last element.
        throw_error(s, s.token_start, TYPE_PATH);
    }
    if (s.open < 0) throw_error(s, s.token_start, missing(E_STRAY_CLOSE, opener));
    uint32_t open = open_kind(s);
    bool block_like = open == TYPE_BLOCK || open == TYPE_MAP;
    if ((kind == TYPE_BLOCK) != block_like)
        throw_error(s, s.token_start, missing(E_MISSING_CLOSE, block_like ? ']' : ')'));
    if (open == TYPE_MAP && ((output_tail - (uint32_t)s.open - 1) & 1) && s.load)
        throw_error(s, s.input + output[s.open].data3, TYPE_MAP);
    close_series(s, (uint8_t)open);
    (void)closer;
}

void path_token(Scan& s) {
    const uint8_t* p = s.token_start;
    const uint8_t* end = s.token_end - 1;  // the `/`
    uint8_t kind = TYPE_PATH;
    bool nested = s.open >= 0 && is_path_kind(open_kind(s));
    if (!nested && *p == '\'') kind = TYPE_LIT_PATH, p++;
    else if (!nested && *p == ':') kind = TYPE_GET_PATH, p++;
    uint32_t n = (uint32_t)(end - p);
    if (n == 0 || memchr(p, ':', n) || !valid_utf8(p, end)) throw_error(s, s.token_start, TYPE_PATH);
    if (!nested) {
        if (!fire(s, EV_OPEN, kind, nullptr, s.token_start, s.token_end)) throw Rejected{};
        open_series(s, kind, s.token_start);
    }
    if (s.load) {
        uint32_t index = append_cell();
        word::make_at(symbol::make_n(p, n), &output[index]);
    }
    s.new_line = false;
    s.path_slash = true;
}

// After a path element: `/` goes on, `:` makes a set-path, else it ends.
void after_path_element(Scan& s) {
    const uint8_t* p = s.pos;
    s.token_start = p;
    s.token_end = p < s.end ? p + 1 : p;
    if (p < s.end && *p == '/') {
        s.pos = p + 1;
        if (s.pos >= s.end) throw_error(s, p, TYPE_PATH);
        s.path_slash = true;
        return;
    }
    if (p < s.end && *p == ':') {
        if (p + 1 < s.end && p[1] == '/') throw_error(s, p, TYPE_PATH);
        if (open_kind(s) != TYPE_PATH) throw_error(s, p, TYPE_PATH);
        s.pos = p + 1;
        close_series(s, TYPE_SET_PATH);
        return;
    }
    close_series(s, (uint8_t)open_kind(s));
}

void structural(Scan& s, int32_t terminal) {
    switch (terminal) {
        case T_BLOCK_OPEN:
        case T_PAREN_OPEN:
        case T_MAP_OPEN: {
            uint8_t kind = terminal == T_BLOCK_OPEN ? TYPE_BLOCK : terminal == T_PAREN_OPEN ? TYPE_PAREN : TYPE_MAP;
            if (terminal == T_PAREN_OPEN && starts_point(s.token_end, s.end)) {
                s.point = true;
                return;
            }
            if (!fire(s, EV_OPEN, kind, nullptr, s.token_start, s.token_end)) throw Rejected{};
            if ((s.prescan || s.scan_type) && s.open < 0) {
                s.first_type = kind;
                s.stopped = true;
                return;
            }
            open_series(s, kind, s.token_start);
            return;
        }
        case T_BLOCK_CLOSE: close_token(s, TYPE_BLOCK, ']', '['); return;
        case T_PAREN_CLOSE: close_token(s, TYPE_PAREN, ')', '('); return;
        case T_BRACE_OPEN:
            if (s.nesting++ == 0) {
                s.brace_start = s.token_end;
                s.brace_line = s.token_line;
                if (!fire(s, EV_OPEN, TYPE_STRING, nullptr, s.token_start, s.token_end)) {
                    s.nesting = 0;
                    throw Rejected{};
                }
            }
            return;
        case T_BRACE_CLOSE:
            if (--s.nesting == 0) {
                s.token_start = s.brace_start - 1;
                s.token_line = s.brace_line;
                s.token_type = TYPE_STRING;
                value_token(s, r_braced);
            }
            return;
        case T_PATH: path_token(s); return;
        case T_CONSTRUCT: value_token(s, r_construct); return;
        case T_COMMENT: return;
        case T_COMMA: throw_error(s, s.token_start, TYPE_POINT2D);
        default: return;
    }
}

// The error type of a token that reached the error terminal from `state`.
int32_t error_type_of(const Scan& s, int32_t state) {
    if (state == 0) {
        uint8_t b = s.token_start < s.end ? *s.token_start : 0;
        if (b == '}') return missing(E_STRAY_CLOSE, '{');
        return E_BAD_CHAR;
    }
    if (state == 21) return E_MALCONSTRUCT;
    uint8_t t = type_table[state];
    return t ? (int32_t)t : (int32_t)E_BAD_CHAR;
}

// One token: scan to a terminal, then its routine.
// Whether the byte at p follows an odd run of carets that starts at or
// after `from`, so that the caret escapes it.
bool after_caret(const uint8_t* from, const uint8_t* p) {
    const uint8_t* q = p;
    while (q > from && q[-1] == '^') q--;
    return ((p - q) & 1) != 0;
}

void round(Scan& s) {
    int32_t state;
    if (s.nesting > 0) state = 4;
    else if (s.point) state = 35;
    else if (s.path_slash) state = 59;
    else state = 0;
    bool point = s.point;
    s.point = false;
    s.path_slash = false;
    const uint8_t* p = s.pos;
    const uint8_t* end = s.end;
    uint32_t flags = 0;
    s.token_start = p;
    s.token_line = s.line;
    int32_t lines = 0;
    int32_t next;
    while (true) {
        uint32_t entry = p < end ? class_table[*p] : class_table[0];
        uint32_t cls = entry & 0xFF;
        if (p >= end) cls = 39;
        next = transitions[state][cls];
        if (next >= TERMINAL_FIRST) {
            if (next != T_FILE || state != 8 || cls != 10 || !after_caret(s.token_start + 2, p)) break;
            next = state;  // a caret-escaped quote stays in a quoted file name
        }
        flags |= entry & ~0xFFu;
        if (line_table[cls]) {
            s.line++;
            if (next == 0) s.new_line = true;
            else lines++;
        }
        state = next;
        p++;
        if (skip_table[state]) {
            s.token_start = p;
            s.token_line = s.line;
            flags = 0;
        }
    }
    s.prev_state = state;
    s.terminal = next;
    bool consume;
    switch (next) {
        case T_ERROR: consume = p < end; break;
        case T_FILE: consume = state == 8; break;
        case T_BLOCK_OPEN: case T_BLOCK_CLOSE: case T_PAREN_OPEN: case T_PAREN_CLOSE:
        case T_BRACE_OPEN: case T_BRACE_CLOSE: case T_MAP_OPEN: case T_PATH: case T_CONSTRUCT:
        case T_COMMA: case T_STRING: case T_CHAR: case T_BINARY: case T_POINT: case T_TAG:
        case T_PERCENT:
            consume = true;
            break;
        default: consume = false;
    }
    if (consume) {
        flags |= class_table[*p] & ~0xFFu;
        p++;
    }
    s.token_end = p;
    s.pos = p;
    s.flags = flags;
    s.lines = lines;
    s.token_type = type_table[next];
    if (point) s.token_start--;  // the `(`: for the error text
    if (next == T_EOF) {
        s.stopped = true;
        s.pos = end;
        return;
    }
    if (next == T_ERROR) {
        if (s.nesting > 0) {
            // Inside a braced string the error is the string's, from its `{`.
            s.token_start = s.brace_start - 1;
            s.token_line = s.brace_line;
            s.nesting = 0;
        }
        throw_error(s, s.token_start, error_type_of(s, state));
    }
    if (point) s.token_start++;
    if (next == T_WORD && (flags & F_UNI2)) {
        // Unicode whitespace: skipped before a word, ends it inside.
        const uint8_t* q = s.token_start;
        const uint8_t* lead = q;
        while (q < s.token_end) {
            const uint8_t* r = q;
            int32_t cp = decode_utf8(r, s.token_end);
            if (cp < 0 || !is_unicode_space(cp)) break;
            q = r;
        }
        if (q != lead) {
            s.pos = q;
            if (q == end) s.stopped = true;
            return;
        }
        for (q = s.token_start; q < s.token_end;) {
            const uint8_t* r = q;
            int32_t cp = decode_utf8(r, s.token_end);
            if (cp < 0) break;
            if (is_unicode_space(cp)) {
                s.token_end = s.pos = q;
                break;
            }
            q = r;
        }
    }
    if (s.callback && (s.callback->mask & EV_PRESCAN) && s.nesting == 0 &&
        !(next == T_BRACE_CLOSE)) {
        if (!fire(s, EV_PRESCAN, s.token_type, nullptr, s.token_start, s.token_end)) {
            if (next == T_BRACE_OPEN) {
                // The whole braced string is skipped with its opener.
            }
            throw Rejected{};
        }
    }
    if (next <= T_COMMA) structural(s, next);
    else if (next != T_DATE || !date_path(s)) value_token(s, routine_of(next));
}

void scan_tokens(Scan& s) {
    while (!s.stopped) {
        if (s.open >= 0 && !s.path_slash && s.nesting == 0 && is_path_kind(open_kind(s))) {
            try {
                after_path_element(s);
            } catch (const Rejected&) {
                // A rejected path end: the path is dropped with its elements.
                output_tail = (uint32_t)s.open;
                uint32_t back = output[s.open].data1;
                s.open = back ? s.open - (int32_t)back : -1;
                s.path_slash = false;
            }
            continue;
        }
        try {
            round(s);
        } catch (const Rejected&) {
            s.point = false;
        }
    }
}

}  // namespace

// --- Tables, start-up and the collector ------------------------------------------------------

void init() {
    for (int32_t state = 0; state < STATE_COUNT; state++) {
        const char* p = transition_rows[state];
        int32_t n = 0;
        while (*p) {
            // Plain decimal digits (strtol's locale and sign handling cost
            // every start more than the whole table needs).
            const char* after = p;
            int32_t v = 0;
            while (*after >= '0' && *after <= '9' && v < STATE_LIMIT) v = v * 10 + (*after++ - '0');
            if (after == p || v >= STATE_LIMIT || v == 65 || n == CLASS_COUNT) {
                n = -1;
                break;
            }
            transitions[state][n++] = (uint8_t)v;
            p = after;
            while (*p == ' ') p++;
        }
        // The scanner relies on full rows and on the end-of-input column
        // being terminal everywhere.
        if (n != CLASS_COUNT || transitions[state][39] < TERMINAL_FIRST) {
            sys::prin({sys::PrintItem::String("*** Lexer table corrupt")});
            sys::quit(sys::RT_UNKNOWN, 0);
        }
    }
    static bool registered = false;
    if (!registered) {
        collector::register_marker(mark_gc);
        registered = true;
    }
}

void mark_gc() {
    if (!active) return;
    Scan* outer = active;
    while (outer->next) outer = outer->next;
    for (uint32_t i = outer->head; i < output_tail; i++)
        if (output[i].type() != MARKER) collector::mark_block(&output[i], &output[i] + 1);
    for (Scan* s = active; s; s = s->next) {
        collector::mark_block(&s->input_value, &s->input_value + 1);
        if (s->callback) collector::mark_block(&s->callback->function, &s->callback->function + 1);
    }
}

bool is_unicode_space(int32_t cp) {
    switch (cp) {
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F:
        case 0x3000: case 0x180E: case 0x200B:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

// --- Scanning ---------------------------------------------------------------------------------

Outcome scan(const uint8_t* text, uint32_t length, const Options& o, cell* result) {
    Scan s{};
    s.input = text;
    s.end = text + length;
    s.pos = text;
    s.line = 1;
    s.head = output_tail;
    s.open = -1;
    s.callback = o.callback;
    s.prescan = o.prescan;
    s.scan_type = o.scan && !o.prescan;
    s.load = o.load && !o.prescan && !o.scan;
    s.one = o.one;
    if (o.input) s.input_value = *o.input;
    else unset::make_at(&s.input_value);
    Chain chain(s);
    struct Restore {
        uint32_t head;
        ~Restore() { output_tail = head; }
    } restore{s.head};

    scan_tokens(s);

    Outcome out{(uint32_t)(s.pos - text), s.first_type, s.count};
    if (s.prescan || s.scan_type) return out;
    if (s.open >= 0 && !s.one && !s.callback_stop) {
        // A series left open: named by the innermost one.
        uint32_t kind = open_kind(s);
        s.token_start = s.input + output[s.open].data3;
        s.token_end = s.end;
        s.token_line = s.line;
        try {
            throw_error(s, s.token_start,
                        missing(E_MISSING_CLOSE, kind == TYPE_PAREN ? ')' : ']'));
        } catch (const Rejected&) {
        }
    }
    while (s.open >= 0) {
        if (s.load) close_series(s, (uint8_t)open_kind(s));
        else output_tail = (uint32_t)s.open, s.open = -1;
    }
    if (!s.load) return out;
    uint32_t n = output_tail - s.head;
    if (o.into) {
        for (uint32_t i = 0; i < n; i++) block::append_cell_copy(o.into, &output[s.head + i]);
    } else if (o.one && n == 1) {
        *result = output[s.head];
        cell::clear_new_line(result);
    } else {
        block::make_at(result, (int32_t)n);
        Buffer* b = series::buffer_of(result);
        if (n) memcpy((void*)b->tail, (const void*)&output[s.head], (size_t)n * sizeof(cell));
        b->tail += (size_t)n * sizeof(cell);
    }
    return out;
}

Outcome load(cell* input, int32_t part, const Options& options, cell* result) {
    uint8_t type = input->type();
    if (type == TYPE_BINARY) {
        Buffer* b = series::buffer_of(input);
        int32_t head = (int32_t)input->data1;
        int32_t total = (int32_t)(b->tail - b->head);
        if (head < 0) head = 0;
        if (head > total) head = total;
        int32_t n = total - head;
        if (part >= 0 && part < n) n = part;
        InputCopy copy((uint32_t)n);
        memcpy(copy.bytes, series::buffer_of(input)->head + head, (size_t)n);
        Options o = options;
        o.input = input;
        return scan(copy.bytes, (uint32_t)n, o, result);
    }
    // A string!: its characters from the head, at most `part`, as UTF-8.
    int32_t length = string::length_of(input);
    int32_t chars = part >= 0 && part < length ? part : length;
    int32_t bytes = chars;
    const uint8_t* utf8 = unicode::to_utf8_part(input, &bytes, false);
    InputCopy copy((uint32_t)bytes);
    memcpy(copy.bytes, utf8, (size_t)bytes);
    Options o = options;
    o.input = input;
    Outcome out = scan(copy.bytes, (uint32_t)bytes, o, result);
    // Consumed bytes back to characters.
    uint32_t consumed = 0;
    for (uint32_t i = 0; i < out.consumed; i++)
        if ((copy.bytes[i] & 0xC0) != 0x80) consumed++;
    out.consumed = consumed;
    return out;
}

// --- Number readers ------------------------------------------------------------------------------

Scanned scan_integer(const uint8_t* text, uint32_t n, int32_t* out) {
    const uint8_t* p = text;
    const uint8_t* end = text + n;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end) return SCAN_INVALID;
    int64_t v = 0;
    bool digits = false;
    for (; p < end; p++) {
        if (*p == '\'') continue;
        if (*p < '0' || *p > '9') return SCAN_INVALID;
        digits = true;
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL) return SCAN_TOO_LARGE;
    }
    if (!digits) return SCAN_INVALID;
    if (negative) v = -v;
    if (v > INT32_MAX) return SCAN_TOO_LARGE;
    *out = (int32_t)v;
    return SCAN_OK;
}

bool scan_float(const uint8_t* text, uint32_t n, double* out) {
    return read_float(text, n, out) || read_special(text, n, out);
}

}  // namespace lexer
