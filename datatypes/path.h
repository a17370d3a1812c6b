// paren! and the path family: blocks with another meaning to the evaluator.
//
// paren! (6) and path! (25) name block! as their parent; lit-path! (26),
// set-path! (27) and get-path! (28) name path!. All five keep the block
// representation and inherit almost every action from block!; what they add
// is their text form and a few conversions. A path's cells are its elements
// in order; it forms and molds them with "/" between them and its own prefix
// or suffix character ("'", ":" before, ":" after).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace paren {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
// Retypes a cell as paren! and pushes a copy of it.
cell* push_retyped(cell* value);
void register_type();
}  // namespace paren

namespace path {
cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
// Turns a cell into a new empty path! with room for n cells.
cell* make_at(cell* c, int32_t n);
cell* push_retyped(cell* value);
void register_type();
}  // namespace path

namespace lit_path {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* push_retyped(cell* value);
void register_type();
}  // namespace lit_path

namespace set_path {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* push_retyped(cell* value);
void register_type();
}  // namespace set_path

namespace get_path {
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* push_retyped(cell* value);
void register_type();
}  // namespace get_path
