// What the number types call of the datatypes that are built later (pair!,
// point2D!, point3D!, tuple!, date!): their interfaces,
// declared here so that integer!, char! and float! are written against them
// now. Until a type's module exists its bodies raise internal not-done; the
// module that arrives moves its declarations into its own header and deletes
// its stubs from further.cpp.
//
// The math bodies follow the native calling convention: window argument 0 is
// the result slot, argument 1 the other operand.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace date {
cell* do_math(int32_t op);              // adds days (integer) or a time to the date in argument 0
int32_t to_epoch(const cell* date);     // seconds since 1970-01-01
}  // namespace date
