// native!, action! and op!: the callables whose code is built in.
//
// native! and action! cells (types 21, 22):
//   word 1  the entry: a natives-table entry (native!) or an action
//           dispatcher (action!), both `natives::Fn`
//   word 2  series node of the spec block
//   word 3  node of a two-cell block: [a copy of the context! cell of the
//           context made from the spec, the argument cache (none until the
//           first call)]
// op! cell (type 23): header bits 16-23 the type of the callable it wraps
// (21, 22, 24 or 29); words 1-3 copied from that callable. For a function!
// or routine! source, the source's more block keeps a copy of the source
// cell in its fourth cell.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace native {

constexpr uint32_t OP_SOURCE_SHIFT = 16;

inline memory::Node* spec_of(const cell* c) { return reinterpret_cast<memory::Node*>((uintptr_t)c->data2); }
inline memory::Node* record_of(const cell* c) { return reinterpret_cast<memory::Node*>((uintptr_t)c->data3); }
// The type an op! was made from.
inline uint8_t op_source(const cell* op) { return (uint8_t)((op->header >> OP_SOURCE_SHIFT) & 0xFF); }

// Pushes a native! (type 21) or action! (22) for the 1-based table index.
cell* make_at_index(uint8_t type, cell* spec, int32_t index);
// Whether the op! spec has exactly two arguments and no lit/get-word first.
bool check_op_spec(const cell* spec);

cell* make(cell* target, cell* spec, int32_t type);
cell* reflect(cell* value, int32_t field_symbol);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
void register_type();

}  // namespace native

namespace action {
cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace action

namespace op {
cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace op
