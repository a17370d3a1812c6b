// Console output: the console writer with its ANSI interpreter, and the UTF-8
// file writer for redirected output.
#include "runtime/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "runtime/hooks.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/unicode.h"

namespace console {

namespace {
Screen* the_screen = nullptr;
uint16_t startup_attribute = 0x07;
int16_t saved_x = 0, saved_y = 0;

// Redirected output: UTF-8 bytes, written when more than 1020 are waiting.
struct FileBuffer {
    uint8_t data[1024];
    uint32_t fill = 0;

    void flush() {
        if (fill) file_out(data, fill);
        fill = 0;
    }
    void put(uint32_t c) {
        if (fill > 1020) flush();
        fill += unicode::encode_utf8((int32_t)c, data + fill);
    }
};
FileBuffer file_buffer;

// Console output: UTF-16 units, written with one call per 510.
struct ScreenBuffer {
    uint16_t data[512];
    uint32_t fill = 0;

    void flush() {
        if (fill && the_screen) the_screen->write(data, fill);
        fill = 0;
    }
    void put(uint32_t c) {
        uint16_t pair[2];
        uint32_t n = unicode::encode_utf16((int32_t)c, pair);
        if (!n) unicode::raise_invalid_char((int32_t)c);
        for (uint32_t i = 0; i < n; i++) data[fill++] = pair[i];
        if (fill >= 510) flush();
    }
};
ScreenBuffer screen_buffer;

bool read_info(ScreenInfo& info) { return the_screen && the_screen->info(info); }

int16_t clamp16(int32_t v) { return (int16_t)(v < 0 ? 0 : v > 0x7FFF ? 0x7FFF : v); }

// The screen-buffer report of ESC "[?".
void report() {
    ScreenInfo i{};
    if (!read_info(i)) return;
    using sys::PrintItem;
    sys::print({PrintItem::String("Screen buffer info:")});
    sys::print({PrintItem::String("   size______ "), PrintItem::Integer(i.width), PrintItem::String("x"),
                PrintItem::Integer(i.height)});
    sys::print({PrintItem::String("   cursor____ "), PrintItem::Integer(i.cursor_x),
                PrintItem::String("x"), PrintItem::Integer(i.cursor_y)});
    sys::print({PrintItem::String("   attribute_ "), PrintItem::Hex(i.attribute), PrintItem::String(" "),
                PrintItem::Hex(startup_attribute)});
    sys::print({PrintItem::String("   left______ "), PrintItem::Integer(i.left), PrintItem::String(" top: "),
                PrintItem::Integer(i.top)});
    sys::print({PrintItem::String("   right_____ "), PrintItem::Integer(i.right),
                PrintItem::String(" bottom: "), PrintItem::Integer(i.bottom)});
    sys::print({PrintItem::String("   max_______ "), PrintItem::Integer(i.max_width), PrintItem::String("x"),
                PrintItem::Integer(i.max_height)});
}
}  // namespace

bool (*file_out)(const void* bytes, size_t size) = platform::write_stdout;

Screen* screen() { return the_screen; }

void set_screen(Screen* s) {
    screen_buffer.fill = 0;
    the_screen = s;
    if (s) store_default_attribute();
}

void init() { set_screen(platform::console_screen()); }

uint16_t default_attribute() { return startup_attribute; }

void store_default_attribute() {
    ScreenInfo info{};
    if (read_info(info)) startup_attribute = info.attribute;
}

// --- Console operations ------------------------------------------------------------

void save_cursor() {
    ScreenInfo info{};
    if (!read_info(info)) return;
    saved_x = info.cursor_x;
    saved_y = info.cursor_y;
}

void set_cursor(uint32_t position) {
    if (the_screen) the_screen->set_cursor((int16_t)(position & 0xFFFF), (int16_t)(position >> 16));
}

void set_attribute(uint16_t attribute) {
    if (the_screen) the_screen->set_attribute(attribute);
}

void erase(int32_t mode) {
    if (mode < 0 || mode > 5) sys::no_switch();
    ScreenInfo i{};
    if (!read_info(i)) return;
    uint32_t width = i.width > 0 ? (uint32_t)i.width : 0;
    uint32_t height = i.height > 0 ? (uint32_t)i.height : 0;
    uint32_t row = i.cursor_y > 0 ? (uint32_t)i.cursor_y : 0;
    uint32_t column = i.cursor_x > 0 ? (uint32_t)i.cursor_x : 0;
    if (row > height) row = height;
    if (column > width) column = width;
    int16_t y = (int16_t)row;
    switch (mode) {
    case 0: the_screen->fill(0, y, (height - row) * width, startup_attribute); break;
    case 1: the_screen->fill(0, 0, row * width, startup_attribute); break;
    case 2:
        the_screen->fill(0, 0, height * width, startup_attribute);
        the_screen->set_cursor(0, 0);
        break;
    case 3:
        the_screen->fill(0, y, width, startup_attribute);
        the_screen->set_cursor(0, y);
        break;
    case 4: the_screen->fill((int16_t)column, y, width - column, startup_attribute); break;
    case 5:
        the_screen->fill(0, y, column < width ? column + 1 : width, startup_attribute);
        the_screen->set_cursor(0, y);
        break;
    }
}

uint16_t sgr_to_attribute(int32_t attribute, int32_t code) {
    if (attribute < 0) {
        ScreenInfo info{};
        attribute = read_info(info) ? info.attribute : startup_attribute;
    }
    uint32_t a = (uint32_t)attribute;
    // The ANSI colour order (black, red, green, yellow, blue, magenta, cyan,
    // white) onto the console's blue 1, green 2, red 4 bits.
    static const uint8_t colour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    if (code == 0) return startup_attribute;
    if (code == 1) return (uint16_t)(a | 0x88);
    if (code == 4) return (uint16_t)(a | 0x8000);
    if (code == 7) return (uint16_t)(((a & 0x0F) << 4) | ((a & 0xF0) >> 4));
    if (code >= 30 && code <= 37) return (uint16_t)((a & 0xF8) | colour[code - 30]);
    if (code == 39) return (uint16_t)(a | 8);
    if (code >= 40 && code <= 47) return (uint16_t)((a & 0x8F) | (colour[code - 40] << 4));
    if (code == 49) return (uint16_t)(a | 0x80);
    return (uint16_t)code;
}

uint32_t ansi_escape(const void* esc, const void* end, uint32_t unit) {
    return unicode::by_width(unit, [&](auto t) -> uint32_t {
        using U = typename decltype(t)::type;
        const uint8_t* start = (const uint8_t*)esc;
        const uint8_t* stop = (const uint8_t*)end;
        if (stop < start + 2 * sizeof(U) || unicode::get_unit<U>(start, 1) != '[') return 0;

        enum { START, FIRST, SEPARATOR, SECOND } state = START;
        uint32_t p1 = 0, p2 = 0;
        ScreenInfo info{};
        bool have = read_info(info);
        uint16_t attribute = have ? info.attribute : startup_attribute;
        const uint8_t* q = start + 2 * sizeof(U);
        auto moved = [&](int32_t x, int32_t y) { set_cursor((uint32_t)(uint16_t)clamp16(x) | ((uint32_t)(uint16_t)clamp16(y) << 16)); };

        while (q + sizeof(U) <= stop) {
            uint32_t c = unicode::get_unit<U>(q, 0);
            q += sizeof(U);
            uint32_t used = (uint32_t)(q - start);
            bool digit = c >= '0' && c <= '9';
            uint32_t d = c - '0';
            switch (state) {
            case START:
                if (digit) {
                    p1 = d;
                    state = FIRST;
                    continue;
                }
                if (c == ';') continue;
                if (c == 's') save_cursor();
                else if (c == 'u') moved(saved_x, saved_y);
                else if (c == 'K') erase(4);
                else if (c == 'J') erase(0);
                else if (c == 'H' || c == 'f') moved(0, 0);
                else if (c == '?') report();
                return used;
            case FIRST:
                if (digit) {
                    p1 = (p1 * 10 + d) % 65535;
                    continue;
                }
                if (c == ';') {
                    state = SEPARATOR;
                    continue;
                }
                if (c == 'm') {
                    attribute = sgr_to_attribute(attribute, (int32_t)p1);
                    set_attribute(attribute);
                } else if (have && c == 'A') {
                    moved(info.cursor_x, (int32_t)info.cursor_y - (int32_t)p1);
                } else if (have && c == 'B') {
                    int32_t y = (int32_t)info.cursor_y + (int32_t)p1;
                    moved(info.cursor_x, y < info.height ? y : info.height - 1);
                } else if (have && c == 'C') {
                    int32_t x = (int32_t)info.cursor_x + (int32_t)p1;
                    moved(x < info.width ? x : info.width - 1, info.cursor_y);
                } else if (have && c == 'D') {
                    moved((int32_t)info.cursor_x - (int32_t)p1, info.cursor_y);
                } else if (c == 'J') {
                    if (p1 == 1) erase(1);
                    else if (p1 == 2) erase(2);
                } else if (c == 'K') {
                    if (p1 == 1) erase(5);
                    else if (p1 == 2) erase(3);
                }
                return used;
            case SEPARATOR:
                if (digit) {
                    p2 = d;
                    state = SECOND;
                    continue;
                }
                if (c == ';') continue;
                return used;
            case SECOND:
                if (digit) {
                    p2 = (p2 * 10 + d) % 65535;
                    continue;
                }
                if (c == ';') {
                    attribute = sgr_to_attribute(sgr_to_attribute(attribute, (int32_t)p1), (int32_t)p2);
                    p1 = p2 = 0;
                    state = START;
                    continue;
                }
                if (c == 'm') {
                    attribute = sgr_to_attribute(sgr_to_attribute(attribute, (int32_t)p1), (int32_t)p2);
                    set_attribute(attribute);
                } else if (c == 'H' || c == 'f') {
                    moved((int32_t)p1, (int32_t)p2);
                }
                return used;
            }
        }
        return (uint32_t)(q - start);  // cut short by the end of the text: nothing done
    });
}

// --- Writers ---------------------------------------------------------------------

namespace {
void write_screen(const void* text, uint32_t bytes, uint32_t unit, bool crlf) {
    unicode::by_width(unit, [&](auto t) {
        using U = typename decltype(t)::type;
        const uint8_t* p = (const uint8_t*)text;
        const uint8_t* end = p + bytes / sizeof(U) * sizeof(U);
        try {
            while (p < end) {
                uint32_t c = unicode::get_unit<U>(p, 0);
                if (c == 27) {
                    screen_buffer.flush();  // colours apply from here on
                    uint32_t used = ansi_escape(p, end, sizeof(U));
                    if (used) {
                        p += used;
                        continue;
                    }
                }
                screen_buffer.put(c);
                p += sizeof(U);
            }
        } catch (...) {
            screen_buffer.flush();  // what came before a unit with no encoding still goes out
            throw;
        }
    });
    if (crlf) {
        if (unit != 4) screen_buffer.put('\r');
        screen_buffer.put('\n');
    }
    screen_buffer.flush();
}

void write_file(const void* text, uint32_t bytes, uint32_t unit, bool crlf) {
    unicode::by_width(unit, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t count = bytes / sizeof(U);
        try {
            for (uint32_t i = 0; i < count; i++) file_buffer.put(unicode::get_unit<U>(text, i));
        } catch (...) {
            file_buffer.flush();  // what came before a unit with no encoding still goes out
            throw;
        }
    });
    if (crlf) {
        file_buffer.put('\r');
        file_buffer.put('\n');
    }
    file_buffer.flush();
}
}  // namespace

void write(const void* text, uint32_t bytes, uint32_t unit, bool crlf) {
    if (the_screen) write_screen(text, bytes, unit, crlf);
    else write_file(text, bytes, unit, crlf);
}

void write_char(uint16_t unit) {
    if (the_screen) the_screen->write(&unit, 1);
}

}  // namespace console

namespace print {

void c_string(const char* s) {
    uint32_t n = (uint32_t)strlen(s);
    if (console::Screen* screen = console::screen()) {
        // Each byte is one UTF-16 unit on a console.
        uint16_t units[256];
        for (uint32_t done = 0; done < n;) {
            uint32_t k = n - done < 256 ? n - done : 256;
            for (uint32_t i = 0; i < k; i++) units[i] = (uint8_t)s[done + i];
            screen->write(units, k);
            done += k;
        }
    } else {
        console::file_out(s, n);  // redirected: the bytes go out unchanged
    }
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
