// Console output: UTF-8 file writer over the platform's standard output.
#include "runtime/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "runtime/hooks.h"
#include "runtime/sys.h"
#include "runtime/unicode.h"

namespace console {

namespace {
struct OutBuffer {
    uint8_t data[1024];
    uint32_t fill = 0;

    void flush() {
        if (fill) platform::write_stdout(data, fill);
        fill = 0;
    }
    void put(uint32_t c) {
        if (fill > 1020) flush();
        fill += unicode::encode_utf8((int32_t)c, data + fill);
    }
};
OutBuffer out;
}  // namespace

void write(const void* text, uint32_t bytes, uint32_t unit, bool crlf) {
    unicode::by_width(unit, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t count = bytes / sizeof(U);
        try {
            for (uint32_t i = 0; i < count; i++) out.put(unicode::get_unit<U>(text, i));
        } catch (...) {
            out.flush();  // what came before a unit with no encoding still goes out
            throw;
        }
    });
    if (crlf) {
        out.put('\r');
        out.put('\n');
    }
    out.flush();
}

}  // namespace console

namespace print {

void c_string(const char* s) {
    uint32_t n = (uint32_t)strlen(s);
    platform::write_stdout(s, n);  // bytes go out unchanged
    hooks::fire_3(s, (int32_t)n, 0);
}

static void formatted(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
static void formatted(const char* fmt, ...) {
    char buf[64];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    c_string(buf);
}

void integer(int32_t v) { formatted("%i", (int)v); }
void hex(uint32_t v) { formatted("%08X", (unsigned)v); }
void hex_byte(uint8_t v) { formatted("%02X", (unsigned)v); }
void float64(double d) { formatted("%.16g", d); }
void float32(float f) { formatted("%.7g", (double)f); }

void latin1(const uint8_t* s, uint32_t n) { console::write(s, n, 1, false); }
void latin1_line(const uint8_t* s, uint32_t n) { console::write(s, n, 1, true); }
void ucs2(const uint16_t* s, uint32_t n) { console::write(s, n * 2, 2, false); }
void ucs2_line(const uint16_t* s, uint32_t n) { console::write(s, n * 2, 2, true); }
void ucs4(const uint32_t* s, uint32_t n) { console::write(s, n * 4, 4, false); }
void ucs4_line(const uint32_t* s, uint32_t n) { console::write(s, n * 4, 4, true); }

}  // namespace print
