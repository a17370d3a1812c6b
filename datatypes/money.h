// money!: an exact decimal amount with an optional currency.
//
// Cell: header 49, header bit 14 the sign (1 = negative); cell byte 4 (the
// low byte of payload word 1) the currency index, 0 for none, else the
// 1-based position of the currency's word in the currency list; cell bytes
// 5-15 (11 bytes) 22 packed decimal digits, two per byte, most significant
// first, high nibble first: 17 integer digits and 5 fraction digits.
//
// Invariants:
// - Amounts never pass through a double: arithmetic, comparison, rounding
//   and text work on the digits. Only `to_double` (and the float! operands
//   it meets) make doubles, from the shortest digits of the double.
// - The sign bit of a zero amount means nothing: zero is never negative in
//   comparisons, predicates or text.
// - A currency index stays valid for the life of the process: the currency
//   list only grows.
//
// The currency list and the fraction digits that form and mold show are
// the system object's system/locale/currencies/list and
// system/options/money-digits, read at each use.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace money {

constexpr uint32_t SIGN_MASK = 0x4000;
constexpr uint32_t SIGN_SHIFT = 14;
constexpr int32_t DIGITS = 22;           // 11 bytes x 2
constexpr int32_t FRACTION_DIGITS = 5;
constexpr int32_t INTEGER_DIGITS = 17;   // DIGITS - FRACTION_DIGITS
constexpr int32_t DIGIT_BYTES = 11;

inline bool sign_bit(const cell* c) { return (c->header & SIGN_MASK) != 0; }
inline int32_t currency_of(const cell* c) { return (int32_t)(c->data1 & 0xFF); }
inline uint8_t* digit_bytes(cell* c) { return reinterpret_cast<uint8_t*>(&c->data1) + 1; }
inline const uint8_t* digit_bytes(const cell* c) { return reinterpret_cast<const uint8_t*>(&c->data1) + 1; }

// Digit at position p (1..22, 1 the most significant).
int32_t get_digit(const cell* c, int32_t p);
void set_digit(cell* c, int32_t p, int32_t digit);
// Digits from the first nonzero one to position 22 (1 for zero).
int32_t digit_count(const cell* c);

// Whether a cell from outside (decoded data) holds decimal digits and a
// currency index of the list: the money code relies on both.
bool is_well_formed(const cell* c);

// --- Construction -------------------------------------------------------------------

// Writes a money! from its parts.
cell* make_from_digits(cell* c, bool negative, int32_t currency, const uint8_t* bytes);
cell* push(bool negative, int32_t currency, const uint8_t* bytes);
// Reads literal text: [sign][CCC]$digits['digits][.fraction] (or "," as the
// point). False when the text is no money literal or its currency is not in
// the list; `out` is written only on success and only when given.
bool make_in(cell* out, const uint8_t* text, uint32_t length);
cell* from_integer(cell* c, int32_t n);
// range_tests: the checks of make and to (more than five fraction digits
// raise); arithmetic drops digits below the fifth instead.
cell* from_float(cell* c, double x, bool range_tests);

// --- Reading ----------------------------------------------------------------------------

bool is_negative(const cell* c);
bool is_zero(const cell* c);
bool is_positive(const cell* c);
int32_t sign(const cell* c);  // -1, 0 or 1
double to_double(const cell* c);    // 0.0 for zero
int32_t to_integer(const cell* c);  // type-limit with integer! outside 32 bits

// The magnitudes money cannot hold: above 0 and below 1e-05; 1e17 and more.
bool is_float_too_small(double x);
bool is_float_too_large(double x);

// --- Currencies ----------------------------------------------------------------------------

// 1-based index of a currency by symbol (case-insensitive), -1 when absent.
int32_t find_currency(int32_t symbol);

// --- Actions and the mixed-type services ------------------------------------------------------

// Math op codes 0-4 (integer::MathOp): window argument 0 op argument 1,
// either of them integer!, float!, percent! or money!; the result replaces
// argument 0.
cell* do_math(int32_t op);
// compare action: `money` is a money!, `other` anything.
int32_t compare(cell* money, cell* other, int32_t op);
// float! x compared with a money! (the float first), by the float's rules.
int32_t compare_float(double x, const cell* money, int32_t op);

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);

// Registers money! (type 49, no parent).
void register_type();

}  // namespace money
