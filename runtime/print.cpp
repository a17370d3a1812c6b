// Typed print primitives and small systems-level helpers.
#include "runtime/print.h"

#include <cmath>
#include <cstdio>

#include "runtime/console.h"
#include "runtime/sys.h"

namespace sys {

void print_values(uint32_t count, const PrintItem* items) {
    for (uint32_t i = 0; i < count; i++) {
        const PrintItem& it = items[i];
        switch (it.type) {
        case PrintItem::LOGIC: ::print::c_string(it.lo ? "true" : "false"); break;
        case PrintItem::INTEGER: ::print::integer((int32_t)it.lo); break;
        case PrintItem::BYTE: print_char((uint8_t)it.lo); break;
        case PrintItem::FLOAT32: {
            float f;
            memcpy(&f, &it.lo, 4);
            ::print::float32(f);
            break;
        }
        case PrintItem::FLOAT64: {
            uint64_t w = ((uint64_t)it.hi << 32) | it.lo;
            double d;
            memcpy(&d, &w, 8);
            ::print::float64(d);
            break;
        }
        case PrintItem::STRING: ::print::c_string((const char*)(uintptr_t)it.lo); break;
        default: ::print::hex(it.lo); break;
        }
    }
    fflush(nullptr);
}

void prin(uint32_t count, const PrintItem* items) { print_values(count, items); }

void print(uint32_t count, const PrintItem* items) {
    print_values(count, items);
    print_char('\n');
}

uint8_t print_char(uint8_t c) {
    char s[2] = {(char)c, 0};
    ::print::c_string(s);
    return c;
}

const char* print_counted(const char* s, int32_t n) {
    for (int32_t i = 0; i < n && s[i]; i++) print_char((uint8_t)s[i]);
    return s;
}

void print_char_literal(uint32_t c) {
    if (c > 255) no_case();
    ::print::c_string("#\"");
    switch (c) {
    case 0: ::print::c_string("^@"); break;
    case 9: ::print::c_string("^-"); break;
    case 10: ::print::c_string("^/"); break;
    case 27: ::print::c_string("^]"); break;
    default:
        if (c < 32) {
            print_char('^');
            print_char((uint8_t)(c + 64));
        } else if (c < 128) {
            print_char((uint8_t)c);
        } else {
            ::print::c_string("^(");
            ::print::hex_byte((uint8_t)c);
            print_char(')');
        }
    }
    print_char('"');
}

bool is_equal_c_strings(const char* a, const char* b) {
    return strlen(a) == strlen(b) && memcmp(a, b, strlen(a)) == 0;
}

double normalise_angle(double a, int mode) {
    a = fmod(a, 360.0);
    if (a > 180.0 || a < -180.0) a += a < 0 ? 360.0 : -360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == ANGLE_TANGENT) a += a < 0 ? 180.0 : -180.0;
        else if (mode == ANGLE_SINE) a = (a < 0 ? -180.0 : 180.0) - a;
    }
    return a * 3.141592653589793 / 180.0;
}

}  // namespace sys
