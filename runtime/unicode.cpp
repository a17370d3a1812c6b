// UTF-8 and UTF-16 conversion.
#include "runtime/unicode.h"

#include "datatypes/error.h"

#include <algorithm>

#include "runtime/tracked.h"

namespace unicode {

using std::type_identity;

// --- Errors ----------------------------------------------------------------------

ErrorRecord last_error;

void raise(const ErrorRecord& error) {
    last_error = error;
    if (error.id == ErrorId::invalid_char) {
        cell cp{TYPE_INTEGER, 0, (uint32_t)error.code_point, 0};
        error::raise(error::SCRIPT, "invalid-char", &cp);
    }
    // The offending bytes would be a binary! argument; that type comes later.
    error::raise(error::ACCESS, "invalid-utf8");
}

void raise_invalid_utf8(const uint8_t* at, uint32_t available) {
    ErrorRecord e{};
    e.id = ErrorId::invalid_utf8;
    e.byte_count = std::min<uint32_t>(available, 4);
    memcpy(e.bytes, at, e.byte_count);
    raise(e);
}

void raise_invalid_char(int32_t cp) {
    ErrorRecord e{};
    e.id = ErrorId::invalid_char;
    e.code_point = cp;
    raise(e);
}

// Byte counts are computed in 64 bits; one that 32 bits cannot hold is out of
// memory.
static uint32_t fit32(uint64_t n) {
    if (n > 0xFFFFFFFFu) sys::quit(sys::RT_OUT_OF_MEMORY, SYS_CALLER_ADDRESS());
    return (uint32_t)n;
}

// --- Widening --------------------------------------------------------------------

template <class From, class To>
static void widen_units(void* units, uint32_t count) {
    static_assert(sizeof(To) > sizeof(From));
    for (uint32_t i = count; i-- > 0;) put_unit<To>(units, i, get_unit<From>(units, i));
}

void widen(void* units, uint32_t count, uint32_t from, uint32_t to) {
    if (from == 1 && to == 2) return widen_units<uint8_t, uint16_t>(units, count);
    if (from == 1 && to == 4) return widen_units<uint8_t, uint32_t>(units, count);
    if (from == 2 && to == 4) return widen_units<uint16_t, uint32_t>(units, count);
    sys::no_switch();
}

// --- UTF-8, byte level -------------------------------------------------------------

const uint8_t utf8_decoder_table[364] = {
    // Byte classes.
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 00
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 20
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 40
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 60
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,  // 80
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,  // A0
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // C0
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,  // E0
    // Transitions: one row of 12 classes per state.
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,        // 0 accept
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,       // 12 reject
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,          // 24
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,       // 36
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,       // 48
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,       // 60
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,       // 72
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,       // 84
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,       // 96
};

enum : uint32_t { DFA_ACCEPT = 0, DFA_REJECT = 12 };

const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    const uint8_t* transitions = utf8_decoder_table + 256;
    uint32_t cls = utf8_decoder_table[*p];
    uint32_t value = (0xFFu >> cls) & *p++;
    uint32_t state = transitions[cls];
    while (state != DFA_ACCEPT && state != DFA_REJECT) {
        if (p >= end) {
            *cp = -1;
            return p;
        }
        cls = utf8_decoder_table[*p];
        value = (value << 6) | (*p++ & 0x3Fu);
        state = transitions[state + cls];
    }
    *cp = state == DFA_ACCEPT ? (int32_t)value : -1;
    return p;
}

uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    for (const uint8_t* p = start; p < end; n++) p = decode_utf8_char(p, end, &cp);
    return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    for (; n > 0 && p < end; n--) p = decode_utf8_char(p, end, &cp);
    return p;
}

uint32_t utf8_lead_length(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

// Bytes of a code point taken as unsigned, 0 when it has no encoding.
static inline uint32_t encoded_length(uint32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : cp < 0x110000 ? 4 : 0;
}

uint32_t utf8_length_of(int32_t cp) {
    uint32_t n = encoded_length((uint32_t)cp);
    if (!n) raise_invalid_char(cp);
    return n;
}

uint32_t utf8_size(const void* start, const void* end, uint32_t width) {
    return by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t count = (uint32_t)((const uint8_t*)end - (const uint8_t*)start) / sizeof(U);
        uint64_t total = 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = get_unit<U>(start, i);
            uint32_t n = encoded_length(cp);
            if (!n) raise_invalid_char((int32_t)cp);
            total += n;
        }
        return fit32(total);
    });
}

// Writes the n bytes of cp (n from `encoded_length`).
static inline void put_utf8(uint32_t cp, uint32_t n, uint8_t* d) {
    static constexpr uint8_t lead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (uint32_t k = n - 1; k > 0; k--) {
        d[k] = (uint8_t)(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    d[0] = (uint8_t)(lead[n] | cp);
}

uint32_t encode_utf8(int32_t cp, uint8_t* dest) {
    uint32_t n = utf8_length_of(cp);
    put_utf8((uint32_t)cp, n, dest);
    return n;
}

uint32_t encode_utf8_part(int32_t cp, uint8_t* dest, uint32_t room) {
    uint32_t n = utf8_length_of(cp);
    if (n > room) return 0;
    put_utf8((uint32_t)cp, n, dest);
    return n;
}

// --- Units to UTF-8 ----------------------------------------------------------------

uint32_t utf8_bound(uint32_t width, uint32_t count) {
    static constexpr uint8_t per_unit[5] = {0, 2, 3, 0, 4};
    if (width != 1 && width != 2 && width != 4) sys::no_switch();
    return sys::size_mul(sys::size_add(count, 1), per_unit[width]);
}

uint32_t units_to_utf8(const void* units, uint32_t width, uint32_t count, uint8_t* dest, bool lf) {
    return by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        uint8_t* d = dest;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = get_unit<U>(units, i);
            if (cp == '\n' && lf) *d++ = '\r';
            d += encode_utf8((int32_t)cp, d);
        }
        return (uint32_t)(d - dest);
    });
}

uint32_t units_to_utf8_bounded(const void* units, uint32_t width, uint32_t count, uint8_t* dest,
                               uint32_t room, bool nul) {
    if (nul) {
        if (room == 0) return 0;
        room--;
    }
    uint32_t written = by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t used = 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t n = encode_utf8_part((int32_t)get_unit<U>(units, i), dest + used, room - used);
            if (!n) break;
            used += n;
        }
        return used;
    });
    if (nul) dest[written] = 0;
    return written;
}

// --- UTF-8 to units ------------------------------------------------------------------

// Stands for "invalid" inside the strict decoder, which is why an encoded
// U+FFFE is refused.
static constexpr uint32_t INVALID = 0xFFFE;

static inline bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

int32_t decode_utf8_checked(const uint8_t* p, int32_t* length) {
    int32_t available = *length;
    uint8_t lead = p[0];
    if (lead < 0x80) {
        *length = 1;
        return lead;
    }
    // Sequence length by lead byte; 0 for a lead that starts nothing.
    int32_t n = lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
    uint32_t value = INVALID;
    if (n) {
        if (n > available) return -1;
        bool ok = true;
        for (int32_t k = 1; k < n; k++) ok = ok && is_continuation(p[k]);
        if (ok) {
            static constexpr uint8_t lead_bits[5] = {0, 0, 0x1F, 0x0F, 0x07};
            value = lead & lead_bits[n];
            for (int32_t k = 1; k < n; k++) value = (value << 6) | (p[k] & 0x3Fu);
            if ((n == 3 && value >= 0xDC00 && value <= 0xDCFF) || value > 0x10FFFF) value = INVALID;
        }
    }
    if (value == INVALID) raise_invalid_utf8(p, (uint32_t)available);
    *length = n;
    return (int32_t)value;
}

static constexpr uint8_t BOM[3] = {0xEF, 0xBB, 0xBF};

Utf8Load measure_utf8(const uint8_t* source, uint32_t length, bool cr) {
    Utf8Load m{};
    m.cr = cr;
    m.width = 1;
    uint32_t i = length > 2 && memcmp(source, BOM, 3) == 0 ? 3 : 0;
    m.start = i;
    uint32_t widest = 0;
    uint32_t units = 0;
    while (i < length) {
        uint8_t b = source[i];
        if (b < 0x80) {
            i++;
            // A CR before an LF is dropped; a lone one is counted as the LF it becomes.
            if (b != '\r' || !cr || i >= length || source[i] != '\n') units++;
            continue;
        }
        int32_t n = (int32_t)(length - i);
        int32_t cp = decode_utf8_checked(source + i, &n);
        if (cp < 0) break;  // cut short: left for the next chunk
        widest = std::max(widest, (uint32_t)cp);
        units++;
        i += (uint32_t)n;
    }
    m.end = i;
    m.remaining = length - i;
    m.units = units;
    m.width = width_for(widest);
    return m;
}

uint32_t decode_utf8_into(const uint8_t* source, const Utf8Load& load, void* dest, uint32_t width) {
    if (width < load.width) sys::no_case();
    return by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t out = 0;
        for (uint32_t i = load.start; i < load.end;) {
            uint32_t cp = source[i];
            if (cp < 0x80) {
                i++;
                if (cp == '\r' && load.cr) {
                    if (i < load.end && source[i] == '\n') continue;
                    cp = '\n';
                }
            } else {
                int32_t n = (int32_t)(load.end - i);
                cp = (uint32_t)decode_utf8_checked(source + i, &n);
                i += (uint32_t)n;
            }
            put_unit<U>(dest, out++, cp);
        }
        return out;
    });
}

// --- UTF-16 ----------------------------------------------------------------------------

static inline bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
static inline bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

uint32_t utf16_unit_width(const void* source, uint32_t n) {
    uint32_t width = 1;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t u = get_unit<uint16_t>(source, i);
        if (u >= 0xD800 && u <= 0xDFFF) return 4;
        if (u > 0xFF) width = 2;
    }
    return width;
}

uint32_t decode_utf16_into(const void* source, uint32_t n, void* dest, uint32_t width, bool cr) {
    if (width == 2 && !cr) {
        memcpy(dest, source, (size_t)n * 2);
        return n;
    }
    return by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t out = 0;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t u = get_unit<uint16_t>(source, i);
            if (u == '\r' && cr) continue;
            if constexpr (sizeof(U) == 4) {
                if (is_high_surrogate(u) && i + 1 < n) {
                    uint32_t low = get_unit<uint16_t>(source, i + 1);
                    if (is_low_surrogate(low)) {
                        u = (((u & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
                        i++;
                    }
                }
            } else if (u > (uint32_t)(U)~0u || (u >= 0xD800 && u <= 0xDFFF)) {
                sys::no_case();  // the caller chose a width below utf16_unit_width
            }
            put_unit<U>(dest, out++, u);
        }
        return out;
    });
}

uint32_t encode_utf16(int32_t cp, void* dest) {
    uint32_t c = (uint32_t)cp;
    if (c < 0x10000) {
        put_unit<uint16_t>(dest, 0, c);
        return 1;
    }
    if (c > 0x10FFFF) return 0;
    put_unit<uint16_t>(dest, 0, 0xD800 | ((c - 0x10000) >> 10));
    put_unit<uint16_t>(dest, 1, 0xDC00 | (c & 0x3FF));
    return 2;
}

uint16_t* ascii_to_utf16(const char* text, uint16_t* dest) {
    uint32_t i = 0;
    for (; text[i]; i++) put_unit<uint16_t>(dest, i, (uint8_t)text[i]);
    put_unit<uint16_t>(dest, i, 0);
    return dest;
}

uint32_t utf16_extra_bytes(const void* start, const void* end, uint32_t width) {
    return by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        uint32_t count = (uint32_t)((const uint8_t*)end - (const uint8_t*)start) / sizeof(U);
        uint64_t extra = 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = get_unit<U>(start, i);
            if (cp == '\n' || cp > 0xFFFF) extra += 2;
        }
        return fit32(extra);
    });
}

uint32_t utf16_bound(const void* units, uint32_t width, uint32_t count) {
    const uint8_t* end = (const uint8_t*)units + (size_t)count * width;
    uint32_t base = sys::size_add(sys::size_mul(count, 2), 2);
    return sys::size_add(base, utf16_extra_bytes(units, end, width));
}

int32_t units_to_utf16(const void* units, uint32_t width, uint32_t count, void* dest, bool lf) {
    if (width == 2 && !lf) {
        memcpy(dest, units, (size_t)count * 2);
        put_unit<uint16_t>(dest, count, 0);
        return (int32_t)count;
    }
    return by_width(width, [&](auto t) -> int32_t {
        using U = typename decltype(t)::type;
        uint32_t out = 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = get_unit<U>(units, i);
            if (cp == '\n' && lf) put_unit<uint16_t>(dest, out++, '\r');
            if (cp > 0x10FFFF) return -1;
            out += encode_utf16((int32_t)cp, (uint8_t*)dest + (size_t)out * 2);
        }
        put_unit<uint16_t>(dest, out, 0);
        return (int32_t)out;
    });
}

}  // namespace unicode
