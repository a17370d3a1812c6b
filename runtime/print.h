// Typed print primitives: the runtime's own diagnostics print a list of raw
// typed values (no language values), straight onto the console output.
#pragma once
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace sys {

// One item of a typed print list: type code, low word, high word.
struct PrintItem {
    enum : uint32_t { LOGIC = 1, INTEGER = 2, BYTE = 3, FLOAT32 = 4, FLOAT64 = 5, STRING = 6 };
    uint32_t type;
    uint32_t lo;
    uint32_t hi;

    static PrintItem Logic(bool v) { return {LOGIC, v ? 1u : 0u, 0}; }
    static PrintItem Integer(int32_t v) { return {INTEGER, (uint32_t)v, 0}; }
    static PrintItem Byte(uint8_t c) { return {BYTE, c, 0}; }
    static PrintItem Float32(float f) {
        uint32_t w;
        memcpy(&w, &f, 4);
        return {FLOAT32, w, 0};
    }
    static PrintItem Float64(double d) {
        uint64_t w;
        memcpy(&w, &d, 8);
        return {FLOAT64, (uint32_t)w, (uint32_t)(w >> 32)};
    }
    static PrintItem String(const char* s) { return {STRING, (uint32_t)(uintptr_t)s, 0}; }
    static PrintItem Hex(uint32_t v) { return {0, v, 0}; }
};

void print_values(uint32_t count, const PrintItem* items);
void prin(uint32_t count, const PrintItem* items);
void print(uint32_t count, const PrintItem* items);
inline void prin(std::initializer_list<PrintItem> l) { prin((uint32_t)l.size(), l.begin()); }
inline void print(std::initializer_list<PrintItem> l) { print((uint32_t)l.size(), l.begin()); }

uint8_t print_char(uint8_t c);
const char* print_counted(const char* s, int32_t n);
// Prints c in char-literal notation; above 255 is runtime error 100.
void print_char_literal(uint32_t c);
bool is_equal_c_strings(const char* a, const char* b);

enum AngleMode { ANGLE_TANGENT = 0, ANGLE_COSINE = 1, ANGLE_SINE = 2 };
// Degrees reduced for the trigonometric natives, returned in radians.
double normalise_angle(double degrees, int mode);

}  // namespace sys
