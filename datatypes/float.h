// float!: the IEEE-754 double, the mixing rules of the number types, and the
// text of floats.
//
// Cell: header 12, payload words 2-3 = the double (low half first), read and
// written with memcpy (cells are only 4-byte aligned). percent! (38, the
// fraction: 50% is 0.5) and time! (43, seconds) share the layout and, as
// float!'s children, most of its arithmetic.
//
// Invariants:
// - Float arithmetic follows IEEE rules with every exception masked: a
//   division by zero gives an infinity or NaN, never an error.
// - Equality is tolerant (`almost_equal`), strict equality exact, and every
//   ordering test with a NaN is false; under the sort operators a NaN
//   compares equal to everything, so sorts still end.
// - Text never comes from the platform's printf: form and mold both go
//   through runtime/dtoa, so both targets print the same bytes.
// - No double reaches an integer conversion outside the 32-bit range.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace float_ {

// system/options/float: `pretty?` (read by `form_float`) and `full?`
// (stored, read by nothing here); set by that object's change handler.
extern bool pretty;
extern bool full;

// --- Cells ---------------------------------------------------------------------

inline double get(const cell* c) { return cell::get_float(c); }
// The absolute value of the double made of two halves.
double from_words(uint32_t low, uint32_t high);
// Writes a bare float! x into a cell (whole header set to 12).
cell* make_in(cell* c, double x);
// Sets the result slot to float! x.
cell* push_result(double x);
// Pushes a new float! on the argument stack.
cell* push(double x);
cell* box(uint32_t low, uint32_t high);

// x rounded to an integral value, half away from zero (exact on both
// targets: one C library's round adds 0.5 and rounds 0.49999999999999994 up).
double round_half_away(double x);

// x rounded half away from zero to a 32-bit integer, for pixel values;
// saturates at the 32-bit bounds, NaN gives 0.
int32_t to_integer(double x);

bool is_nan(double x);
bool is_nan32(float f);
// +infinity, -infinity or NaN.
bool is_special(double x);
// Tolerant equality: within 2.2e-16 or ten units in the last place.
bool is_almost_equal(double a, double b);
// The same on single-precision values (no absolute tolerance; two values
// beyond the largest finite single are equal when their signs agree and they
// lie close), for the point types.
bool is_almost_equal32(float a, float b);

// --- Arithmetic ----------------------------------------------------------------

// One operation (integer::MathOp 0-4) on two doubles; other codes raise
// script cannot-use.
double do_math_op(double x, double y, int32_t op);
// The body of the math actions: window argument 0 (float!, percent!, time!
// or an integer! being promoted; the result slot) op argument 1.
cell* do_math(int32_t op);

// --- Text ------------------------------------------------------------------------

// Layouts of `form_float`.
enum FormKind : int32_t {
    FORM_SINGLE = 0,          // 7 significant digits, ".0" when no point
    FORM_DOUBLE = 1,          // 16 digits, ".0" when no point (float! form)
    FORM_SINGLE_PERCENT = 2,  // 7 digits and "%"
    FORM_PERCENT = 3,         // 13 digits and "%" (percent! form)
    FORM_SECONDS = 4,         // 6 digits, no kept point (time! seconds)
    FORM_POINT = 5,           // 7 digits, bare (point coordinates)
};
// Text of x in one of the layouts, NUL-terminated; valid until the next call
// (here or in runtime/dtoa).
const char* form_float(double x, int32_t kind);

// --- Actions -------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
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

// Registers float! (type 12, no parent); after triple!, before typeset!.
void register_type();

}  // namespace float_
