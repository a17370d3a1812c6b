// Console output: UTF-8 file writer over the platform's standard output.
#include "runtime/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "runtime/hooks.h"
#include "runtime/sys.h"

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
        if (c < 0x80) {
            data[fill++] = (uint8_t)c;
        } else if (c < 0x800) {
            data[fill++] = (uint8_t)(0xC0 | (c >> 6));
            data[fill++] = (uint8_t)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            data[fill++] = (uint8_t)(0xE0 | (c >> 12));
            data[fill++] = (uint8_t)(0x80 | ((c >> 6) & 0x3F));
            data[fill++] = (uint8_t)(0x80 | (c & 0x3F));
        } else {
            data[fill++] = (uint8_t)(0xF0 | ((c >> 18) & 0x07));
            data[fill++] = (uint8_t)(0x80 | ((c >> 12) & 0x3F));
            data[fill++] = (uint8_t)(0x80 | ((c >> 6) & 0x3F));
            data[fill++] = (uint8_t)(0x80 | (c & 0x3F));
        }
    }
};
OutBuffer out;
}  // namespace

void write(const void* text, uint32_t bytes, uint32_t unit, bool crlf) {
    if (unit != 1 && unit != 2 && unit != 4) sys::no_switch();
    const uint8_t* p = (const uint8_t*)text;
    for (uint32_t i = 0; i + unit <= bytes; i += unit) {
        uint32_t c;
        if (unit == 1) c = p[i];
        else if (unit == 2) c = (uint32_t)p[i] | (uint32_t)p[i + 1] << 8;
        else memcpy(&c, p + i, 4);
        out.put(c);
    }
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
