// The JSON codec's low-level hook: resolving the escapes of a string's
// content in place (the grammar of library/json.zol admits the text first).
#include <cstdint>

#include "datatypes/error.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "library/routines.h"

namespace routines {

namespace {

// Value of a hex digit, or -1.
int32_t hex_value(int32_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void invalid(cell* str) {
    cell* held = stack::push(str);
    error::raise(error::SCRIPT, "invalid-data", held);
}

// The code unit of the four hex digits at `at`, or -1.
int32_t hex_unit(cell* str, uint32_t at, uint32_t tail) {
    if (tail - at < 4) return -1;
    int32_t unit = 0;
    for (uint32_t i = 0; i < 4; i++) {
        int32_t v = hex_value(string::char_at(str, at + i));
        if (v < 0) return -1;
        unit = unit * 16 + v;
    }
    return unit;
}

// unescape str: reads from the head and writes behind the reading, so the
// write index never passes the read index; a wider code point widens the
// buffer and both go on at the same unit indexes. Positions are indexes,
// never addresses: a widening moves the buffer.
void unescape() {
    cell* str = stack::arguments.window;
    memory::Node* node = series::node_of(str);
    uint32_t read = (uint32_t)str->data1, write = read;
    uint32_t tail = (uint32_t)string::total_length(str);
    while (read < tail) {
        int32_t c = string::char_at(str, read++);
        if (c == '\\') {
            if (read >= tail) invalid(str);
            int32_t e = string::char_at(str, read++);
            switch (e) {
                case '"': case '\\': case '/': c = e; break;
                case 'b': c = 8; break;
                case 'f': c = 12; break;
                case 'n': c = 10; break;
                case 'r': c = 13; break;
                case 't': c = 9; break;
                case 'u': {
                    c = hex_unit(str, read, tail);
                    if (c < 0) invalid(str);
                    read += 4;
                    if (c >= 0xD800 && c <= 0xDBFF) {
                        if (tail - read < 6 || string::char_at(str, read) != '\\' ||
                            string::char_at(str, read + 1) != 'u')
                            invalid(str);
                        int32_t low = hex_unit(str, read + 2, tail);
                        if (low < 0xDC00 || low > 0xDFFF) invalid(str);
                        read += 6;
                        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    }
                    break;
                }
                default:
                    // An unknown escape keeps its backslash and loses the letter.
                    c = '\\';
            }
        }
        string::poke_char(node, write++, c);
    }
    memory::Buffer* b = node->buffer;
    b->tail = b->head + (size_t)write * b->unit();
}

}  // namespace

const Entry json_routines[] = {
    {"ctx||json~unescape", unescape},
};
const int json_routine_count = sizeof json_routines / sizeof json_routines[0];

}  // namespace routines
