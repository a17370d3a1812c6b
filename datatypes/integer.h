// integer!: the 32-bit signed integer, and the arithmetic core that char!,
// float! promotion and compiled fast paths share.
//
// Cell: header 11 (plus the header's flags), payload word 2 = the value as
// 32-bit two's complement; words 1 and 3 are not read.
//
// Invariants:
// - Arithmetic never wraps: add, subtract and multiply that leave 32 bits
//   turn the result cell into a float! holding the exact result rounded to a
//   double; a division that does not come out even gives a float! too; the
//   cases without an answer (x / 0, -2147483648 / -1, negating -2147483648)
//   raise math errors. No operation relies on signed overflow: sums and
//   products go through the compiler's overflow builtins and every division
//   checks 0 and -2147483648 / -1 before it divides.
// - Every action works in the arguments window: the first argument is the
//   result slot.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace integer {

// Operator codes of `do_math` and of the two-argument math actions of
// integer!, char! and float!.
enum MathOp : int32_t {
    MATH_ADD = 0, MATH_SUBTRACT = 1, MATH_MULTIPLY = 2, MATH_DIVIDE = 3, MATH_REMAINDER = 4,
    MATH_OR = 5, MATH_AND = 6, MATH_XOR = 7,
};

// --- Cells -------------------------------------------------------------------

inline int32_t get(const cell* c) { return (int32_t)c->data2; }
// Payload word 2 of the result slot, whatever its type.
int32_t get_last_raw();
// The result slot's value when it is an integer!, else 0.
int32_t get_last();
// Writes a bare integer! n into a cell (header flags cleared).
cell* make_at(cell* c, int32_t n);
// Retypes a cell as integer! n keeping its header flags.
cell* make_in(cell* c, int32_t n);
// Sets the result slot to integer! n.
cell* box(int32_t n);
// Pushes a new integer! n on the argument stack.
cell* push(int32_t n);

// --- Arithmetic ----------------------------------------------------------------

int32_t sign(int32_t n);
// |n|; math overflow for -2147483648.
int32_t abs_checked(int32_t n);

// One operation on two integers (codes above). With a result cell, an
// overflowing add, subtract or multiply and an uneven division make it a
// float! holding the exact result (the return value then means nothing);
// otherwise only its payload word 2 is written. Without a result cell the
// quotient is truncated toward zero and an overflow raises math overflow
// (element-wise callers have no cell to turn into a float!). Division or
// remainder by 0 raises zero-divide, -2147483648 by -1 raises overflow.
int32_t do_math(int32_t l, int32_t r, int32_t op, cell* result);

// The body of the two-argument math actions: window argument 0 (an integer!,
// the result slot) op argument 1, by the second argument's type.
cell* do_math_args(int32_t op);
// The word of a math operation (MATH_ADD ...), for the errors that name it.
const cell* math_word(int32_t op);

// base ** exponent (exponent >= 0) by binary exponentiation; false when a
// product leaves 32 bits (*out is then unspecified). 0 ** 0 is 1.
bool power_checked(int32_t base, int32_t exponent, int32_t* out);

// Bit shift of the `shift` native: negative bits count as 0; /left shifts
// left (0 past 31 bits); /logical shifts right unsigned (0 past 31 bits);
// otherwise an arithmetic right shift (-1 or 0 past 31 bits).
int32_t shift(int32_t data, int32_t bits, bool left, bool logical);

// Decimal text of n, NUL-terminated, valid until the next call.
const char* to_cstr(int32_t n);

// --- Actions -------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* absolute();
cell* add();
cell* divide();
cell* multiply();
cell* negate(cell* value);
cell* power();
cell* remainder();
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
cell* subtract();
bool is_even(cell* value);
bool is_odd(cell* value);
cell* and_();
cell* complement(cell* value);
cell* or_();
cell* xor_();

// Registers integer! (type 11, no parent); after binary!, before symbol!.
void register_type();

}  // namespace integer
