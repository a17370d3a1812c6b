// Exact float text: the decimal digits of a double, their layout as language
// text, and decimal text read back into the nearest double.
//
// Data model. Digits come from the standard library's exact conversions
// (shortest round-trip digits, or a fixed count of significant digits, both
// correctly rounded), so both targets produce the same bytes; the platform's
// printf is never used. Results live in static buffers owned by this module:
//   - the digit buffer holds MAX_DIGITS digit places preceded by one place
//     that always holds '-', so `digits - 1` is the same digits with a sign;
//   - the text buffer holds the last `form_float` or `format_g` text.
// A result stays valid until the next call of this module; callers copy it
// out first. One thread.
//
// Invariants: a digit string never has leading or trailing zeros and holds
// at most MAX_DIGITS digits; a fixed-digit request beyond MAX_DIGITS is
// bounded to MAX_DIGITS, never written past the buffer.
#pragma once
#include <cstdint>

namespace dtoa {

// Digit places of the digit buffer: also the bound on fixed-digit requests
// (money text asks for 22, the most any caller needs).
constexpr int MAX_DIGITS = 30;

// Exponents of the special results, whose text is complete (sign included).
constexpr int EXPONENT_SPECIAL = 9999;  // "1.#INF", "-1.#INF", "1.#NaN"
constexpr int EXPONENT_ZERO = 9998;     // "0.0"/"-0.0", or "0"/"-0" without the point

struct Digits {
    const char* digits;  // NUL-terminated digits, or the complete special text
    int exponent;        // value = 0.d1d2... x 10^exponent, or a special exponent
    bool negative;       // the sign bit (-0.0 is negative; a NaN's text never shows it)
    int count;           // digits in `digits` (the text's length for specials)
};

// ndigits <= 0: the shortest digits that read back to the same double;
// ndigits > 0: that many significant digits at most (bounded to MAX_DIGITS),
// correctly rounded to nearest, trailing zeros dropped. keep_point only
// chooses the zero texts.
Digits to_chars(double value, int ndigits, bool keep_point);

// The language's float notation: plain digits while the point lies within
// 1..17 digits of the first, "0.000ddd" down to six zeros, else scientific
// with an "e" and a bare exponent ("1.0e20", "1.2e-8"). keep_point writes
// "123.0" where it would end in the point, otherwise "123".
// mold of float!: (x, 0, true); time! seconds: (x, 6, false); money!: (x, 22, true).
const char* form_float(double value, int ndigits, bool keep_point);

// The text C's "%.<precision>g" gives for a finite value, exactly rounded
// (as a correctly rounded printf writes it: "0.3", "1e+20", "1.5e-07"), for
// the form of float!; precision is bounded to 1..MAX_DIGITS. Infinities and
// NaN give the language's special texts.
const char* format_g(double value, int precision);

// Reads [start, end): sign, digits, optional "." and fraction, optional
// exponent; a single digit followed by ".#I" or ".#N" reads infinity or NaN
// ("1.#INF", "-1.#inf", "1.#NaN"). exponent_adjust is added to the decimal
// exponent (-2 reads percent digits). Returns the nearest double: infinity
// past the largest finite, signed zero below the smallest subnormal. *stop
// (when not null) receives where reading ended: `start` when no number was
// there. Never raises.
double to_float(const char* start, const char* end, int exponent_adjust, const char** stop);

}  // namespace dtoa
