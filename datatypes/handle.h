// handle!: an operating-system handle or native pointer carried as a value.
//
// Cell: header 46, payload word 1 = sub-type (0 null, 1 fd, 2 monitor,
// 3 window, 4 font, 5 rich-text), word 2 = the handle (32 bits), word 3 = -1.
// Registered with integer! as parent, but takes none of its actions: only
// form, mold and compare exist. Handles compare by pointer alone.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace handle {

enum SubType : int32_t { NONE = 0, FD = 1, MONITOR = 2, WINDOW = 3, FONT = 4, RICH_TEXT = 5 };

cell* make_at(cell* c, uint32_t pointer, int32_t sub_type);
inline cell* make_in(cell* c, uint32_t pointer, int32_t sub_type) { return make_at(c, pointer, sub_type); }
cell* push(uint32_t pointer, int32_t sub_type);
// An empty handle (pointer 0, sub-type 0) pushed.
cell* box();

int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);

// Registers handle! (type 46, parent integer!).
void register_type();

}  // namespace handle
