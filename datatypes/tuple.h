// tuple!: 3 to 12 unsigned bytes held in the cell (colours, versions).
//
// Cell: header 39 with the count in header bits 19-22 (a 3-byte tuple's
// header is 0x180027); the bytes from cell byte 4 on (payload words 1-3, in
// memory order). Bytes beyond the count are zero.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace tuple {

constexpr uint32_t COUNT_SHIFT = 19;
constexpr uint32_t COUNT_MASK = 0xFu << COUNT_SHIFT;
constexpr int32_t MAX_BYTES = 12;

inline int32_t count_of(const cell* c) { return (int32_t)((c->header & COUNT_MASK) >> COUNT_SHIFT); }
inline uint8_t* bytes_of(cell* c) { return reinterpret_cast<uint8_t*>(&c->data1); }
inline const uint8_t* bytes_of(const cell* c) { return reinterpret_cast<const uint8_t*>(&c->data1); }

// Writes a tuple of `count` bytes (3..12) into a cell.
cell* make_at(cell* c, int32_t count, const uint8_t* bytes);
// Pushes a tuple of `count` bytes given as the three payload words.
cell* push(int32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// r.g.b, or r.g.b.a when a is not -1.
cell* make_rgba(cell* c, int32_t r, int32_t g, int32_t b, int32_t a);
bool is_all_zero(const cell* c);

// Math op codes 0-7: window argument 0 op argument 1; a non-tuple first
// operand is swapped in (subtract and divide refuse it).
cell* do_math(int32_t op);

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* pick(cell* value, int32_t index, cell* index_cell);

// Registers tuple! (type 39, no parent).
void register_type();

}  // namespace tuple
