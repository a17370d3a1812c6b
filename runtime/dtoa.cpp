// Exact float text over the standard library's correctly rounded conversions.
#include "runtime/dtoa.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace dtoa {

// --- data ----------------------------------------------------------------------

// '-' then the digits of the last conversion, then NUL.
static char digit_buffer[1 + MAX_DIGITS + 1] = {'-'};

// Longest layout: a sign, "0." and six zeros before MAX_DIGITS digits, or a
// scientific form with "e-324"; 64 leaves room for both.
static char text_buffer[64];

// Significant digits handed to the reader's exact conversion. Every midpoint
// between two doubles has at most 767 significant digits, so digits beyond
// these count only as "some non-zero digit follows", kept as one sticky '1'.
constexpr int READ_DIGITS = 780;

// Exponents are saturated here while reading: far beyond any double's range,
// and safe to add in 32 bits.
constexpr int64_t EXPONENT_LIMIT = 1000000;

static const char* const TEXT_INF = "1.#INF";
static const char* const TEXT_NEG_INF = "-1.#INF";
static const char* const TEXT_NAN = "1.#NaN";
// Indexed by [keep_point][negative].
static const char* const TEXT_ZERO[2][2] = {{"0", "-0"}, {"0.0", "-0.0"}};

// --- digits --------------------------------------------------------------------

static Digits special(const char* text, int exponent, bool negative) {
    return {text, exponent, negative, (int)strlen(text)};
}

// Copies the digits of a "d.ddde+XX" text into the digit buffer, dropping the
// trailing zeros, and answers the point's position.
static Digits take_scientific(const char* text, const char* end, bool negative) {
    char* out = digit_buffer + 1;
    int n = 0;
    const char* p = text;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') {
            assert(n < MAX_DIGITS);
            out[n++] = *p;
        }
    assert(p + 2 < end && *p == 'e');
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    while (n > 1 && out[n - 1] == '0') --n;
    out[n] = 0;
    return {out, exponent + 1, negative, n};
}

Digits to_chars(double value, int ndigits, bool keep_point) {
    bool negative = std::signbit(value);
    if (std::isnan(value)) return special(TEXT_NAN, EXPONENT_SPECIAL, negative);
    if (std::isinf(value))
        return special(negative ? TEXT_NEG_INF : TEXT_INF, EXPONENT_SPECIAL, negative);
    if (value == 0) return special(TEXT_ZERO[keep_point][negative], EXPONENT_ZERO, negative);

    double magnitude = std::fabs(value);
    char scratch[64];
    std::to_chars_result r;
    if (ndigits <= 0) {
        r = std::to_chars(scratch, scratch + sizeof scratch, magnitude,
                          std::chars_format::scientific);
    } else {
        // The digit buffer has MAX_DIGITS places; a longer request is bounded.
        int n = ndigits < MAX_DIGITS ? ndigits : MAX_DIGITS;
        r = std::to_chars(scratch, scratch + sizeof scratch, magnitude,
                          std::chars_format::scientific, n - 1);
    }
    assert(r.ec == std::errc());
    return take_scientific(scratch, r.ptr, negative);
}

// --- layout --------------------------------------------------------------------

static char* put_zeros(char* o, int count) {
    for (; count > 0; --count) *o++ = '0';
    return o;
}

static char* put_chars(char* o, const char* s, int count) {
    memcpy(o, s, count);
    return o + count;
}

static char* put_int(char* o, int value) {
    return std::to_chars(o, o + 12, value).ptr;
}

const char* form_float(double value, int ndigits, bool keep_point) {
    Digits d = to_chars(value, ndigits, keep_point);
    if (d.exponent >= EXPONENT_ZERO) return d.digits;

    const char* s = d.digits;
    int n = d.count, e = d.exponent;
    char* o = text_buffer;
    if (d.negative) *o++ = '-';
    bool scientific = e >= 18 || e < -6;
    if (scientific) {
        *o++ = s[0];
        *o++ = '.';
        o = put_chars(o, s + 1, n - 1);
    } else if (e < 1) {
        *o++ = '0';
        *o++ = '.';
        o = put_zeros(o, -e);
        o = put_chars(o, s, n);
    } else if (n > e) {
        o = put_chars(o, s, e);
        *o++ = '.';
        o = put_chars(o, s + e, n - e);
    } else {
        o = put_chars(o, s, n);
        o = put_zeros(o, e - n);
        *o++ = '.';
    }
    if (o[-1] == '.') {
        if (keep_point)
            *o++ = '0';
        else
            --o;
    }
    if (scientific) {
        *o++ = 'e';
        o = put_int(o, e - 1);
    }
    *o = 0;
    assert(o < text_buffer + sizeof text_buffer);
    return text_buffer;
}

const char* format_g(double value, int precision) {
    if (precision < 1) precision = 1;
    if (precision > MAX_DIGITS) precision = MAX_DIGITS;
    Digits d = to_chars(value, precision, false);
    if (d.exponent >= EXPONENT_ZERO) return d.digits;

    const char* s = d.digits;
    int n = d.count, e = d.exponent;
    int x = e - 1;  // the exponent of the value rounded to `precision` digits
    char* o = text_buffer;
    if (d.negative) *o++ = '-';
    if (x >= -4 && x < precision) {
        if (e <= 0) {
            *o++ = '0';
            *o++ = '.';
            o = put_zeros(o, -e);
            o = put_chars(o, s, n);
        } else if (n > e) {
            o = put_chars(o, s, e);
            *o++ = '.';
            o = put_chars(o, s + e, n - e);
        } else {
            o = put_chars(o, s, n);
            o = put_zeros(o, e - n);
        }
    } else {
        *o++ = s[0];
        if (n > 1) {
            *o++ = '.';
            o = put_chars(o, s + 1, n - 1);
        }
        *o++ = 'e';
        *o++ = x < 0 ? '-' : '+';
        int magnitude = x < 0 ? -x : x;
        if (magnitude < 10) *o++ = '0';
        o = put_int(o, magnitude);
    }
    *o = 0;
    assert(o < text_buffer + sizeof text_buffer);
    return text_buffer;
}

// --- reading -------------------------------------------------------------------

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

static char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }

// After "d.#": "I" reads infinity, "N" NaN; the rest of "INF" / "NAN" is
// taken when present so that the whole special text is consumed.
static bool read_special(const char*& p, const char* end, bool negative, double& result) {
    if (p >= end) return false;
    const char* word;
    switch (upper(*p)) {
        case 'I':
            word = "INF";
            result = negative ? -std::numeric_limits<double>::infinity()
                              : std::numeric_limits<double>::infinity();
            break;
        case 'N':
            word = "NAN";
            result = std::numeric_limits<double>::quiet_NaN();
            break;
        default:
            return false;
    }
    for (; *word && p < end && upper(*p) == *word; ++word) ++p;
    return true;
}

double to_float(const char* start, const char* end, int exponent_adjust, const char** stop) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';

    // The significant digits, and `lead`: value = 0.digits x 10^lead.
    char digits[READ_DIGITS + 1 + 1 + 12];
    int kept = 0;
    bool sticky = false;
    int64_t lead = 0;
    bool any = false;
    auto take = [&](char c) {
        if (kept < READ_DIGITS)
            digits[kept++] = c;
        else if (c != '0')
            sticky = true;
    };

    for (; p < end && *p == '0'; ++p) any = true;
    const char* integer_start = p;
    for (; p < end && is_digit(*p); ++p) {
        take(*p);
        ++lead;
        any = true;
    }
    if (p < end && *p == '.') {
        const char* point = p++;
        if (point - integer_start == 1 && p + 1 < end && *p == '#') {
            const char* q = p + 1;
            double result;
            if (read_special(q, end, negative, result)) {
                if (stop) *stop = q;
                return result;
            }
        }
        for (; p < end && is_digit(*p); ++p) {
            if (kept == 0 && *p == '0')
                --lead;
            else
                take(*p);
            any = true;
        }
        if (!any) p = point;
    }
    if (!any) {
        if (stop) *stop = start;
        return 0.0;
    }

    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        if (q < end && is_digit(*q)) {
            for (; q < end && is_digit(*q); ++q)
                if (exponent < EXPONENT_LIMIT) exponent = exponent * 10 + (*q - '0');
            if (exponent_negative) exponent = -exponent;
            p = q;
        }
    }
    if (stop) *stop = p;

    if (sticky)
        digits[kept++] = '1';
    else
        while (kept > 0 && digits[kept - 1] == '0') --kept;
    if (kept == 0) return negative ? -0.0 : 0.0;

    lead += exponent + exponent_adjust;
    if (lead > EXPONENT_LIMIT) lead = EXPONENT_LIMIT;
    if (lead < -EXPONENT_LIMIT) lead = -EXPONENT_LIMIT;
    char* o = digits + kept;
    *o++ = 'e';
    o = put_int(o, (int)(lead - kept));

    double result = 0;
    std::from_chars_result r = std::from_chars(digits, o, result);
    assert(r.ptr == o);
    if (r.ec == std::errc::result_out_of_range)
        result = lead > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -result : result;
}

}  // namespace dtoa
