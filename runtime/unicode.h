// UTF-8 and UTF-16 conversion: text between unit buffers and the encodings
// the outside world speaks.
//
// Inside the runtime, text is a run of units of 1, 2 or 4 bytes (Latin-1,
// UCS-2, UCS-4; little-endian), each unit one code point. UTF-8 (sources,
// symbols, files, the console, URLs) and UTF-16LE (every wide-character system
// call, the clipboard, child output) exist only at the edges, and this module
// is the edge. Everything here works on raw pointers and counts; string!
// values are the string layer's business.
//
// Conversions into units run in two passes so that no raw address has to live
// across an allocation (an allocation may run a collection that moves series
// buffers, the source bytes included): a measuring pass that allocates
// nothing tells the caller the width and count to allocate, the caller
// allocates and re-reads its source address, then the filling pass writes.
// Conversions out of units work the same way: a bound first, then the writer.
//
// Widths: a buffer loaded from UTF-8 or UTF-16 gets the narrowest width that
// holds its code points (1 up to U+00FF, 2 up to U+FFFF, else 4). A width
// other than 1, 2 or 4 is runtime error 101 everywhere.
//
// Code points are signed 32-bit; valid ones are 0..0x10FFFF, and -1 is what
// the tolerant decoder yields for an invalid or incomplete sequence.
#pragma once
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "runtime/sys.h"

namespace unicode {

// --- Unit widths ---------------------------------------------------------------

// Calls `f` with std::type_identity of the unit type of `width` (uint8_t,
// uint16_t or uint32_t), so that a loop over units is written once for the
// three widths. Another width is runtime error 101.
template <class F>
decltype(auto) by_width(uint32_t width, F&& f) {
    switch (width) {
        case 1: return f(std::type_identity<uint8_t>{});
        case 2: return f(std::type_identity<uint16_t>{});
        case 4: return f(std::type_identity<uint32_t>{});
    }
    sys::no_switch();
}

// Unit i of a run of units of type U (any alignment).
template <class U>
inline uint32_t get_unit(const void* units, uint32_t i) {
    U u;
    memcpy(&u, (const uint8_t*)units + (size_t)i * sizeof(U), sizeof(U));
    return u;
}
template <class U>
inline void put_unit(void* units, uint32_t i, uint32_t cp) {
    U u = (U)cp;
    memcpy((uint8_t*)units + (size_t)i * sizeof(U), &u, sizeof(U));
}

// The narrowest width whose units hold `cp`, by the loading rule.
inline uint32_t width_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Rewrites `count` units of width `from` as units of width `to` (1->2, 1->4,
// 2->4) in place, from the last to the first so that no unit is overwritten
// before it is read. The buffer must hold count x `to` bytes.
void widen(void* units, uint32_t count, uint32_t from, uint32_t to);

// --- Errors --------------------------------------------------------------------

// The language errors this module raises: access/invalid-utf8 (argument: the
// offending bytes, at most 4 and never past the input) and script/invalid-char
// (argument: the code point). Both go through `raise`, which records them in
// `last_error` and throws the language-error code until the error machinery
// takes over.
enum class ErrorId : uint8_t { invalid_utf8, invalid_char };
struct ErrorRecord {
    ErrorId id;
    uint32_t byte_count;  // bytes valid in `bytes` (invalid-utf8)
    uint8_t bytes[4];
    int32_t code_point;   // invalid-char
};
extern ErrorRecord last_error;

[[noreturn]] void raise(const ErrorRecord& error);
// `available` counts the input bytes from `at` to the end of the input.
[[noreturn]] void raise_invalid_utf8(const uint8_t* at, uint32_t available);
[[noreturn]] void raise_invalid_char(int32_t cp);

// --- UTF-8, byte level -----------------------------------------------------------

// 256 byte classes, then 108 transitions of states pre-multiplied by 12
// (0 accept, 12 reject).
extern const uint8_t utf8_decoder_table[364];

// Tolerant decoder: the code point of the sequence at p, or -1 for an invalid
// one (overlong forms, surrogates and values above U+10FFFF included), and the
// address past the bytes consumed. A rejected sequence consumes the bytes read
// so far, including the one that was rejected; one cut short by `end`
// consumes what is left. Never reads at or past `end` (p < end).
const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp);
// Characters in [start, end); an invalid sequence counts as one.
uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// The address after n characters, or `end` if it comes first.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
// Sequence length announced by a lead byte: 4, 3 or 2, else 0 (F8-FF give 4).
uint32_t utf8_lead_length(uint8_t lead);
// Bytes the encoding of cp takes; above U+10FFFF raises invalid-char.
uint32_t utf8_length_of(int32_t cp);
// UTF-8 bytes of the units in [start, end); a unit above U+10FFFF raises
// invalid-char.
uint32_t utf8_size(const void* start, const void* end, uint32_t width);
// Writes the 1-4 bytes of cp and returns their count; above U+10FFFF raises
// invalid-char. Surrogates are encoded like any other value.
uint32_t encode_utf8(int32_t cp, uint8_t* dest);
// The same into a room of `room` bytes: a sequence longer than the room is
// not written at all (0 is returned), never cut.
uint32_t encode_utf8_part(int32_t cp, uint8_t* dest, uint32_t room);

// --- Units to UTF-8 -------------------------------------------------------------

// Size of a buffer that holds `count` units of `width` as UTF-8 (with CR
// before every LF) and a NUL: (count + 1) x 2, 3 or 4 bytes.
uint32_t utf8_bound(uint32_t width, uint32_t count);
// Writes `count` units as UTF-8 (with `lf`, a CR before every LF) and returns
// the bytes written; no NUL. `dest` holds `utf8_bound` bytes.
uint32_t units_to_utf8(const void* units, uint32_t width, uint32_t count, uint8_t* dest, bool lf);
// Writes whole characters while they fit in `room` bytes (keeping one byte
// for the NUL when `nul` is set, which is then written) and returns the bytes
// written, the NUL not counted.
uint32_t units_to_utf8_bounded(const void* units, uint32_t width, uint32_t count, uint8_t* dest,
                               uint32_t room, bool nul);

// --- UTF-8 to units ---------------------------------------------------------------

// Strict decoder. On entry *length holds the bytes available; on success it
// is set to the sequence length and the code point returned. A sequence that
// does not fit in the bytes available returns -1 and leaves *length alone.
// Accepted beyond the standard: overlong forms and surrogates other than
// U+DC00-U+DCFF. Invalid (raises invalid-utf8): a lead 80-BF or F8-FF, a bad
// continuation byte, U+DC00-U+DCFF, values above U+10FFFF, and U+FFFE, which
// stands for "invalid" inside the decoder.
int32_t decode_utf8_checked(const uint8_t* p, int32_t* length);

// What a UTF-8 source loads to. The bytes [start, end) decode to `units`
// characters whose narrowest width is `width`; the `remaining` bytes after
// `end` are a sequence cut short, for the caller to keep for its next chunk.
struct Utf8Load {
    uint32_t start;      // 3 after a byte order mark, else 0
    uint32_t end;        // where decoding stopped
    uint32_t remaining;  // length - end
    uint32_t units;      // characters to store
    uint32_t width;      // 1, 2 or 4
    bool cr;             // CR LF becomes LF and a lone CR becomes LF
};
// The measuring pass: validates the whole source (raising invalid-utf8 at
// the first malformed sequence) and allocates nothing.
Utf8Load measure_utf8(const uint8_t* source, uint32_t length, bool cr);
// The filling pass over the same source: writes the measured characters as
// units of `width` (at least the measured width) and returns their count.
uint32_t decode_utf8_into(const uint8_t* source, const Utf8Load& load, void* dest, uint32_t width);

// --- UTF-16 -----------------------------------------------------------------------

// Width a UTF-16LE text of n units needs: 4 as soon as a surrogate unit is
// seen, else 2 if a unit is above 0xFF, else 1.
uint32_t utf16_unit_width(const void* source, uint32_t n);
// Writes n UTF-16LE units as units of `width` (at least `utf16_unit_width`),
// dropping every CR under `cr`, and returns the characters written (at most
// n). A surrogate pair becomes one code point; an unpaired surrogate is kept
// as its own value.
uint32_t decode_utf16_into(const void* source, uint32_t n, void* dest, uint32_t width, bool cr);
// Writes cp as 1 or 2 UTF-16LE units and returns their count; above U+10FFFF
// writes nothing and returns 0.
uint32_t encode_utf16(int32_t cp, void* dest);
// Each byte before the NUL becomes one unit, then a 0 unit. Returns dest.
uint16_t* ascii_to_utf16(const char* text, uint16_t* dest);
// Bytes needed beyond two per character: 2 per LF and 2 per code point above
// U+FFFF.
uint32_t utf16_extra_bytes(const void* start, const void* end, uint32_t width);
// Size of a buffer for `count` units as UTF-16LE with CRs and a terminator:
// 2 x count + 2 + `utf16_extra_bytes`.
uint32_t utf16_bound(const void* units, uint32_t width, uint32_t count);
// Writes `count` units as UTF-16LE (with `lf`, a CR before every LF) and a 0
// terminator, and returns the units written without it; -1 when a code point
// is above U+10FFFF. `dest` holds `utf16_bound` bytes. What every
// wide-character system call is given, with `lf` set.
int32_t units_to_utf16(const void* units, uint32_t width, uint32_t count, void* dest, bool lf);

}  // namespace unicode
