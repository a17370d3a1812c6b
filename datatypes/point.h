// point2D! and point3D!: coordinates with single-precision float components,
// used by drawing and as the result of pair arithmetic that leaves the
// integers. One module builds both: point3D! adds z everywhere.
//
// Cells: header 51 (point2D!) or 52 (point3D!); payload word 1 = x, word 2
// = y, word 3 = z (point3D! only), each an IEEE single held by its bits.
// Equality is tolerant (ten units in the last place of a single), strict
// equality exact, `same?` by bits.
#pragma once
#include <cstdint>
#include <cstring>

#include "datatypes/cell.h"

namespace point2D {

inline float component(const cell* c, int i) {
    float f;
    memcpy(&f, &(&c->data1)[i], sizeof f);
    return f;
}
inline void set_component(cell* c, int i, float f) { memcpy(&(&c->data1)[i], &f, sizeof f); }

cell* make_in(cell* c, float x, float y);
cell* push(float x, float y);
// Math op codes 0-4: window argument 0 (a point2D!, the result slot) op argument 1.
cell* do_math(int32_t op);

cell* make(cell* target, cell* spec, int32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
int32_t compare(cell* a, cell* b, int32_t op);
cell* negate(cell* value);  // in place
cell* pick(cell* value, int32_t index, cell* index_cell);

// Registers point2D! (type 51, no parent).
void register_type();

}  // namespace point2D

namespace point3D {

using point2D::component;
using point2D::set_component;

cell* make_in(cell* c, float x, float y, float z);
cell* push(float x, float y, float z);
cell* do_math(int32_t op);

cell* make(cell* target, cell* spec, int32_t type);
int32_t compare(cell* a, cell* b, int32_t op);
cell* negate(cell* value);  // in place

// Registers point3D! (type 52, no parent).
void register_type();

}  // namespace point3D
