// What the number types call of the datatypes that are built later (pair!,
// point2D!, point3D!, tuple!, date!, money!): their interfaces,
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

namespace money {
int32_t compare(cell* money, cell* other, int32_t op);
cell* do_math(int32_t op);              // with integer and float promotion
double to_double(const cell* money);    // 0.0 for zero
int32_t to_integer(const cell* money);  // raises its own error outside 32 bits
// The magnitudes money cannot hold: above 0 and below 1e-05; 1e17 and more.
bool is_float_too_small(double x);
bool is_float_too_large(double x);
}  // namespace money
