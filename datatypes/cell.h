// The value cell: the one representation of every value.
//
// A cell is four 32-bit words: a header and three payload words whose meaning
// is decided by the type id in the header's low byte. Header bit 30 marks a
// value that mold starts on a new line inside a block; it travels with every
// copy of the cell. The other header bits above the type id are the type's own
// flags.
//
// Cells live in blocks, on the argument stack and in boot literals, packed at
// 16-byte strides in buffers that are only 4-byte aligned: a double in the
// payload (words 2-3, low half first) is read and written with memcpy, never
// through a double pointer.
#pragma once
#include <cstdint>
#include <cstring>

// Type ids (1-based; 0 is "no type"/"no parent").
enum TypeId : uint8_t {
    TYPE_DATATYPE   = 1,
    TYPE_UNSET      = 2,
    TYPE_NONE       = 3,
    TYPE_LOGIC      = 4,
    TYPE_BLOCK      = 5,
    TYPE_PAREN      = 6,
    TYPE_STRING     = 7,
    TYPE_FILE       = 8,
    TYPE_URL        = 9,
    TYPE_CHAR       = 10,
    TYPE_INTEGER    = 11,
    TYPE_FLOAT      = 12,
    TYPE_SYMBOL     = 13,
    TYPE_CONTEXT    = 14,
    TYPE_WORD       = 15,
    TYPE_SET_WORD   = 16,
    TYPE_LIT_WORD   = 17,
    TYPE_GET_WORD   = 18,
    TYPE_REFINEMENT = 19,
    TYPE_ISSUE      = 20,
    TYPE_NATIVE     = 21,
    TYPE_ACTION     = 22,
    TYPE_OP         = 23,
    TYPE_FUNCTION   = 24,
    TYPE_PATH       = 25,
    TYPE_LIT_PATH   = 26,
    TYPE_SET_PATH   = 27,
    TYPE_GET_PATH   = 28,
    TYPE_ROUTINE    = 29,
    TYPE_BITSET     = 30,
    TYPE_TRIPLE     = 31,
    TYPE_OBJECT     = 32,
    TYPE_TYPESET    = 33,
    TYPE_ERROR      = 34,
    TYPE_VECTOR     = 35,
    TYPE_HASH       = 36,
    TYPE_PAIR       = 37,
    TYPE_PERCENT    = 38,
    TYPE_TUPLE      = 39,
    TYPE_MAP        = 40,
    TYPE_BINARY     = 41,
    TYPE_SERIES     = 42,
    TYPE_TIME       = 43,
    TYPE_TAG        = 44,
    TYPE_EMAIL      = 45,
    TYPE_HANDLE     = 46,
    TYPE_DATE       = 47,
    TYPE_PORT       = 48,
    TYPE_MONEY      = 49,
    TYPE_REF        = 50,
    TYPE_POINT2D    = 51,
    TYPE_POINT3D    = 52,
    TYPE_IMAGE      = 53,
    TYPE_EVENT      = 54,
};

// Rows of the type-name and action tables: ids 0-56 have room.
constexpr uint32_t TYPE_SLOTS = 57;

constexpr uint32_t CELL_TYPE_MASK = 0xFFu;
constexpr uint32_t CELL_NEW_LINE  = 1u << 30;

// The spec's `cell/...` operations are static members, so they read
// `cell::copy(a, b)` as everywhere else in the runtime.
struct cell {
    uint32_t header;  // bits 0-7 type id, bit 30 new-line marker, others per type
    uint32_t data1;   // payload word 1
    uint32_t data2;   // payload word 2
    uint32_t data3;   // payload word 3

    uint8_t type() const { return (uint8_t)(header & CELL_TYPE_MASK); }

    static uint8_t type_of(const cell* c) { return c->type(); }

    // Replaces the type id and keeps the flags (the new-line marker included).
    static cell* set_type(cell* c, uint8_t type) {
        c->header = (c->header & ~CELL_TYPE_MASK) | type;
        return c;
    }

    // Writes the whole header as the bare type id: flags and new-line cleared.
    static cell* set_header(cell* c, uint8_t type) {
        c->header = type;
        return c;
    }

    static bool has_new_line(const cell* c) { return (c->header & CELL_NEW_LINE) != 0; }
    static void set_new_line(cell* c, bool on) {
        c->header = on ? (c->header | CELL_NEW_LINE) : (c->header & ~CELL_NEW_LINE);
    }
    static void clear_new_line(cell* c) { c->header &= ~CELL_NEW_LINE; }

    // Copies all four words; copying a cell onto itself does nothing.
    static cell* copy(const cell* source, cell* target) {
        if (source != target) memcpy((void*)target, (const void*)source, sizeof(cell));
        return target;
    }

    // The double in payload words 2-3 (low half in word 2).
    static double get_float(const cell* c) {
        double d;
        memcpy(&d, &c->data2, sizeof d);
        return d;
    }
    static void set_float(cell* c, double d) { memcpy(&c->data2, &d, sizeof d); }
};
static_assert(sizeof(cell) == 16, "a value cell is 16 bytes");
static_assert(alignof(cell) == 4, "cells are only 4-byte aligned");
