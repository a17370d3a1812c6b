#include "evaluator/reader.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/dtoa.h"

namespace reader {

namespace {

struct Reader {
    const char* p;
    const char* end;

    [[noreturn]] void fail() {
        std::string near(p, (size_t)(end - p < 20 ? end - p : 20));
        cell* s = string::load(near.data(), (int32_t)near.size(), nullptr, 0);
        error::raise(error::SYNTAX, "invalid", s);
    }
    static bool is_delimiter(char c) { return strchr(" \t\r\n[]()\";{}", c) != nullptr; }
    void skip_blank() {
        while (p < end) {
            if (*p == ';') {
                while (p < end && *p != '\n') p++;
            } else if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
                p++;
            } else {
                break;
            }
        }
    }

    // A word cell bound to the global context.
    void word_cell(cell* out, uint8_t type, const char* s, size_t n) {
        int32_t sym = symbol::make_n(reinterpret_cast<const uint8_t*>(s), (uint32_t)n);
        word::make_at(sym, out);
        cell::set_header(out, type);
    }

    // One path element or word-like token ending at a delimiter or '/'.
    void atom(cell* out, const char* s, const char* e) {
        size_t n = (size_t)(e - s);
        if (n == 0) fail();
        char c = s[0];
        bool numeric = (c >= '0' && c <= '9') || ((c == '-' || c == '+' || c == '.') && n > 1 && s[1] >= '0' && s[1] <= '9');
        if (numeric) {
            bool is_float = false;
            for (const char* q = s; q < e; q++)
                if (*q == '.' || *q == 'e' || *q == 'E') is_float = true;
            if (!is_float) {
                int64_t v = 0;
                const char* q = s;
                bool neg = *q == '-';
                if (*q == '-' || *q == '+') q++;
                for (; q < e; q++) {
                    if (*q < '0' || *q > '9') fail();
                    v = v * 10 + (*q - '0');
                    if (v > 2147483648LL) fail();
                }
                if (neg) v = -v;
                if (v > 2147483647LL) fail();
                series::make_integer(out, (int32_t)v);
                return;
            }
            const char* stop = nullptr;
            double d = dtoa::to_float(s, e, 0, &stop);
            if (stop != e) fail();
            *out = cell{TYPE_FLOAT, 0, 0, 0};
            cell::set_float(out, d);
            return;
        }
        uint8_t type = TYPE_WORD;
        if (c == ':') {
            type = TYPE_GET_WORD;
            s++;
        } else if (c == '\'') {
            type = TYPE_LIT_WORD;
            s++;
        } else if (c == '/' && n > 1 && !(n == 2 && s[1] == '/')) {
            type = TYPE_REFINEMENT;
            s++;
        } else if (c == '#') {
            type = TYPE_ISSUE;
            s++;
        }
        if (e > s && e[-1] == ':' && type == TYPE_WORD && e - s > 1) {
            type = TYPE_SET_WORD;
            e--;
        }
        if (e <= s) fail();
        word_cell(out, type, s, (size_t)(e - s));
        if (type == TYPE_REFINEMENT || type == TYPE_ISSUE) out->data1 = 0, out->data3 = (uint32_t)-1;
    }

    // A sequence value (block or paren) into `out`.
    void sequence(cell* out, char close, uint8_t type) {
        block::make_at(out, 8);
        cell::set_header(out, type);
        cell* top = stack::arguments.top;
        cell* blk = stack::push(out);
        for (;;) {
            skip_blank();
            if (p >= end) fail();
            if (*p == close) {
                p++;
                break;
            }
            cell* v = stack::push_cell();
            value(v);
            block::append_cell_copy(series::node_of(blk), v);
            stack::pop(1);
        }
        *out = *blk;
        stack::arguments.top = top;
    }

    void text(cell* out) {
        std::string s;
        if (*p == '"') {
            for (p++; p < end && *p != '"'; p++) {
                if (*p == '^' && p + 1 < end) {
                    p++;
                    switch (*p) {
                        case '/': s += '\n'; break;
                        case '-': s += '\t'; break;
                        default: s += *p; break;
                    }
                } else {
                    s += *p;
                }
            }
        } else {
            int depth = 1;
            for (p++; p < end; p++) {
                if (*p == '^' && p + 1 < end) {
                    s += *++p;
                    continue;
                }
                if (*p == '{') depth++;
                if (*p == '}' && --depth == 0) break;
                s += *p;
            }
        }
        if (p >= end) fail();
        p++;
        string::load(s.data(), (int32_t)s.size(), out, 0);
    }

    void value(cell* out) {
        skip_blank();
        if (p >= end) fail();
        char c = *p;
        if (c == '[') {
            p++;
            sequence(out, ']', TYPE_BLOCK);
            return;
        }
        if (c == '(') {
            p++;
            sequence(out, ')', TYPE_PAREN);
            return;
        }
        if (c == '"' || c == '{') {
            text(out);
            return;
        }
        if (c == '#' && p + 1 < end && p[1] == '"') {
            p += 2;
            if (p + 1 >= end || p[1] != '"') fail();
            series::make_char(out, (uint8_t)*p);
            p += 2;
            return;
        }
        // A word, number or path: tokens separated by '/' (not a leading
        // one: refinements, and the words / and //).
        const char* s = p;
        while (p < end && !is_delimiter(*p)) p++;
        const char* e = p;
        const char* slash = nullptr;
        bool operator_word = (e - s == 1 && *s == '/') || (e - s == 2 && s[0] == '/' && s[1] == '/');
        if (!operator_word)
            for (const char* q = s + 1; q < e; q++)
                if (*q == '/') {
                    slash = q;
                    break;
                }
        if (!slash && p < end && *p == '(' && e > s && e[-1] == '/') slash = e - 1;
        if (!slash) {
            atom(out, s, e);
            return;
        }
        path(out, s);
    }

    void path(cell* out, const char* s) {
        p = s;
        uint8_t type = TYPE_PATH;
        if (*p == ':') {
            type = TYPE_GET_PATH;
            p++;
        } else if (*p == '\'') {
            type = TYPE_LIT_PATH;
            p++;
        }
        block::make_at(out, 4);
        cell* top = stack::arguments.top;
        cell* blk = stack::push(out);
        for (;;) {
            cell* v = stack::push_cell();
            if (p < end && *p == '(') {
                p++;
                sequence(v, ')', TYPE_PAREN);
            } else {
                const char* a = p;
                while (p < end && !is_delimiter(*p) && *p != '/') p++;
                const char* b = p;
                if (b > a && b[-1] == ':' && (p >= end || *p != '/')) {
                    type = TYPE_SET_PATH;
                    b--;
                }
                atom(v, a, b);
            }
            block::append_cell_copy(series::node_of(blk), v);
            stack::pop(1);
            if (p < end && *p == '/') {
                p++;
                continue;
            }
            if (p < end && *p == ':' && type == TYPE_PATH) {
                type = TYPE_SET_PATH;
                p++;
            }
            break;
        }
        *out = *blk;
        cell::set_header(out, type);
        stack::arguments.top = top;
    }
};

}  // namespace

cell* load(const char* text, size_t length) {
    Reader r{text, text + length};
    cell* blk = block::push_new(8);
    for (;;) {
        r.skip_blank();
        if (r.p >= r.end) break;
        cell* v = stack::push_cell();
        r.value(v);
        block::append_cell_copy(series::node_of(blk), v);
        stack::pop(1);
    }
    return blk;
}

cell* load(const char* text) { return load(text, strlen(text)); }

}  // namespace reader
