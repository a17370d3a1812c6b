#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/dtoa.h"

namespace {

double from_bits(uint64_t bits) {
    double d;
    memcpy(&d, &bits, 8);
    return d;
}

uint64_t bits_of(double d) {
    uint64_t b;
    memcpy(&b, &d, 8);
    return b;
}

double read(const std::string& text, int adjust = 0, size_t* used = nullptr) {
    const char* stop = nullptr;
    double v = dtoa::to_float(text.data(), text.data() + text.size(), adjust, &stop);
    if (used) *used = stop - text.data();
    return v;
}

// Random finite doubles spread over every exponent and sign.
struct RandomDoubles {
    std::mt19937_64 gen{20261210};
    double next() {
        for (;;) {
            double d = from_bits(gen());
            if (std::isfinite(d)) return d;
        }
    }
};

const double INF = std::numeric_limits<double>::infinity();

}  // namespace

TEST(Dtoa, MoldLayout) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},
        {1e20, "1.0e20"},
        {1e17, "1.0e17"},
        {1e16, "10000000000000000.0"},
        {1.5e16, "15000000000000000.0"},
        {1e-7, "0.0000001"},
        {1.5e-7, "0.00000015"},
        {1e-8, "1.0e-8"},
        {1.2e-8, "1.2e-8"},
        {0.001, "0.001"},
        {0.1 + 0.2, "0.30000000000000004"},
        {123.0, "123.0"},
        {-123.25, "-123.25"},
        {1.0, "1.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {INF, "1.#INF"},
        {-INF, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), "1.#NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "1.#NaN"},
        {from_bits(0x7FF0000000000001ull), "1.#NaN"},
        {5e-324, "5.0e-324"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {-2.5e-300, "-2.5e-300"},
        {123456789012345680.0, "1.2345678901234568e17"},
        {12345678901234567.0, "12345678901234568.0"},
    };
    for (const Case& c : cases) EXPECT_STREQ(dtoa::form_float(c.value, 0, true), c.text) << c.text;
}

TEST(Dtoa, FixedDigitsLayout) {
    struct Case {
        double value;
        int ndigits;
        bool keep_point;
        const char* text;
    } cases[] = {
        // time! seconds: six digits, no kept point
        {1.5, 6, false, "1.5"},
        {3.0, 6, false, "3"},
        {59.9999999, 6, false, "60"},
        {1234567.0, 6, false, "1234570"},
        {1234567.0, 6, true, "1234570.0"},
        {0.0, 6, false, "0"},
        {-0.0, 6, false, "-0"},
        {1e20, 6, false, "1e20"},
        {0.000123456789, 6, false, "0.000123457"},
        // money! text: 22 digits, exact expansion of the double
        {0.1, 22, true, "0.1000000000000000055511"},
        {1.0 / 3.0, 22, true, "0.3333333333333333148296"},
        // requests beyond the digit buffer are bounded to it
        {0.1, 1000, true, "0.100000000000000005551115123126"},
        {1.0 / 3.0, 0x7FFFFFFF, true, "0.333333333333333314829616256247"},
        {2.5, 1, true, "2.0"},  // half to even on the exact value
        {0.15, 1, true, "0.1"},  // 0.15 lies below the half
    };
    for (const Case& c : cases)
        EXPECT_STREQ(dtoa::form_float(c.value, c.ndigits, c.keep_point), c.text) << c.text;
}

TEST(Dtoa, DigitsAndSpecials) {
    dtoa::Digits d = dtoa::to_chars(-1250.0, 0, true);
    EXPECT_STREQ(d.digits, "125");
    EXPECT_EQ(d.exponent, 4);
    EXPECT_TRUE(d.negative);
    EXPECT_EQ(d.count, 3);
    EXPECT_STREQ(d.digits - 1, "-125") << "signed digits one place earlier";

    d = dtoa::to_chars(-0.0, 0, false);
    EXPECT_EQ(d.exponent, dtoa::EXPONENT_ZERO);
    EXPECT_TRUE(d.negative);
    EXPECT_STREQ(d.digits, "-0");
    d = dtoa::to_chars(-INF, 0, true);
    EXPECT_EQ(d.exponent, dtoa::EXPONENT_SPECIAL);
    EXPECT_STREQ(d.digits, "-1.#INF");

    d = dtoa::to_chars(0.1, dtoa::MAX_DIGITS + 50, true);
    EXPECT_EQ(d.count, dtoa::MAX_DIGITS);
}

TEST(Dtoa, Reading) {
    struct Case {
        const char* text;
        int adjust;
        double value;
        size_t used;  // characters read
    } cases[] = {
        {"0.1", 0, 0.1, 3},
        {"-12.5e3", 0, -12500.0, 7},
        {"+7", 0, 7.0, 2},
        {"000", 0, 0.0, 3},
        {"-0", 0, -0.0, 2},
        {"0.000", 0, 0.0, 5},
        {".5", 0, 0.5, 2},
        {"5.", 0, 5.0, 2},
        {"1E2", 0, 100.0, 3},
        {"1e", 0, 1.0, 1},
        {"1e+x", 0, 1.0, 1},
        {"2.5x", 0, 2.5, 3},
        {"abc", 0, 0.0, 0},
        {"-", 0, 0.0, 0},
        {".", 0, 0.0, 0},
        {"1e400", 0, INF, 5},
        {"-1e400", 0, -INF, 6},
        {"1e-400", 0, 0.0, 6},
        {"-1e-400", 0, -0.0, 7},
        {"1e99999999999999999999", 0, INF, 22},
        {"0.0000000001e-99999999999999999999", 0, 0.0, 34},
        {"1e-99999999999", 0, 0.0, 14},
        {"4.9e-324", 0, 5e-324, 8},
        {"2e-324", 0, 0.0, 6},
        {"3e-324", 0, 5e-324, 6},
        {"2.2250738585072011e-308", 0, 2.2250738585072011e-308, 23},
        {"1.7976931348623158e308", 0, 1.7976931348623157e308, 22},
        {"1.7976931348623159e308", 0, INF, 22},
        {"12.5", -2, 0.125, 4},
        {"50", -2, 0.5, 2},
        {"1.#INF", 0, INF, 6},
        {"-1.#inf", 0, -INF, 7},
        {"2.#INF", 0, INF, 6},
        {"+1.#I", 0, INF, 5},
        {"01.#INF", 0, INF, 7},
        {"0.#INF", 0, 0.0, 2},
        {"12.#INF", 0, 12.0, 3},
        {"1.#x", 0, 1.0, 2},
    };
    for (const Case& c : cases) {
        size_t used = 99;
        double v = read(c.text, c.adjust, &used);
        EXPECT_EQ(bits_of(v), bits_of(c.value)) << c.text << " read as " << v;
        EXPECT_EQ(used, c.used) << c.text;
    }
    size_t used = 0;
    EXPECT_TRUE(std::isnan(read("1.#NaN", 0, &used)));
    EXPECT_EQ(used, 6u);
    EXPECT_TRUE(std::isnan(read("-1.#nan")));
    // The end pointer bounds reading, whatever follows in memory.
    const char* text = "1.51.#INF";
    EXPECT_EQ(dtoa::to_float(text, text + 2, 0, nullptr), 1.0);
}

// Digits beyond what the exact reader keeps still decide a rounding tie.
TEST(Dtoa, ReadingLongInput) {
    // 1 + 2^-53 is the midpoint between 1 and the next double: exactly the
    // midpoint rounds to even (1.0), anything above it rounds up.
    std::string half = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(read(half), 1.0);
    std::string above = half + std::string(2000, '0') + "1";
    EXPECT_EQ(read(above), 1.0000000000000002);
    std::string below = "1.000000000000000111022302462515654042363166809082031249" +
                        std::string(2000, '9');
    EXPECT_EQ(read(below), 1.0);
    std::string zeros = std::string(1000, '0') + "1." + std::string(1000, '0') + "e-1";
    EXPECT_EQ(read(zeros), 0.1);
    std::string tiny = "0." + std::string(1000, '0') + "1e1000";
    EXPECT_EQ(read(tiny), 0.1);
}

// A million random doubles: the shortest digits read back bit-exact through
// the language layout, and (for every eighth) one digit fewer never does.
TEST(Dtoa, ShortestDigitsRoundTrip) {
    RandomDoubles random;
    for (int i = 0; i < 1000000; ++i) {
        double v = random.next();
        const char* text = dtoa::form_float(v, 0, true);
        size_t length = strlen(text);
        const char* stop = nullptr;
        double back = dtoa::to_float(text, text + length, 0, &stop);
        ASSERT_EQ(bits_of(back), bits_of(v)) << text;
        ASSERT_EQ(stop, text + length) << text;
        dtoa::Digits d = dtoa::to_chars(v, 0, true);
        if (d.count > 1 && i % 8 == 0) {
            int count = d.count;
            double shorter = strtod(dtoa::form_float(v, count - 1, true), nullptr);
            ASSERT_NE(bits_of(shorter), bits_of(v)) << text << " has a shorter form";
        }
    }
}

// The %g-like forms and the fixed digits agree with a correctly rounding
// printf (glibc's), which only the native build has.
#ifndef _WIN32
TEST(Dtoa, MatchesExactPrintf) {
    RandomDoubles random;
    std::mt19937 pick(7);
    char expected[128];
    for (int i = 0; i < 20000; ++i) {
        double v = random.next();
        if (i % 4 == 0) v = std::ldexp(v, -std::ilogb(v) + (int)(pick() % 80) - 30);  // near 1
        int precision = 1 + (int)(pick() % 17);
        snprintf(expected, sizeof expected, "%.*g", precision, v);
        ASSERT_STREQ(dtoa::format_g(v, precision), expected) << precision;
        snprintf(expected, sizeof expected, "%.*e", precision - 1, std::fabs(v));
        std::string digits;
        for (const char* p = expected; *p != 'e'; ++p)
            if (*p != '.') digits += *p;
        while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
        ASSERT_STREQ(dtoa::to_chars(v, precision, true).digits, digits.c_str());
    }
}
#endif

TEST(Dtoa, FormatG) {
    struct Case {
        double value;
        int precision;
        const char* text;
    } cases[] = {
        {0.1 + 0.2, 16, "0.3"},
        {3.0, 16, "3"},
        {1e20, 16, "1e+20"},
        {1.5e-7, 16, "1.5e-07"},
        {1e-5, 16, "1e-05"},
        {1e-4, 16, "0.0001"},
        {123456.0, 5, "1.2346e+05"},
        {99999.5, 5, "1e+05"},  // rounding carries into the exponent
        {9999.5, 5, "9999.5"},
        {-0.5, 7, "-0.5"},
        {0.0, 7, "0"},
        {-0.0, 7, "-0"},
        {1e16, 16, "1e+16"},
        {1e15, 16, "1000000000000000"},
        {1e300, 16, "1e+300"},
        {5e-324, 16, "4.940656458412465e-324"},
        {2.5, 0, "2"},
        {1.0 / 3.0, 500, "0.333333333333333314829616256247"},
        {INF, 16, "1.#INF"},
        {-INF, 7, "-1.#INF"},
        {std::nan(""), 13, "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_STREQ(dtoa::format_g(c.value, c.precision), c.text) << c.text;
}
