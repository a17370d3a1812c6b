// Compression framing: raw DEFLATE from zlib, Zstandard from zstd, and the
// two framings this module writes and reads around raw DEFLATE, the gzip
// member (RFC 1952) and the zlib stream (RFC 1950).
//
// Every function works on caller-supplied buffers: `size` holds the output
// capacity on entry and, on return, the bytes written (0), the size needed
// (1), or for code 2 whatever the function says. The caller grows its buffer
// and calls again.
//
// Decoding trusts nothing the input declares (a gzip ISIZE, a zstd frame's
// content size): the needed size of code 1 is what the data really inflates
// to, found by inflating the rest into a scratch buffer and checking it
// whole, so a second call with that size succeeds. A stream that inflates
// past `output_limit` is refused as bad input, and so is one that does not
// end exactly where the input ends.
#pragma once
#include <cstdint>

namespace framing {

enum Result : int32_t {
    DONE = 0,       // size = bytes written
    TOO_SMALL = 1,  // size = bytes needed
    BAD = 2,        // bad input, or no room for even the framing
};
// Codes of the raw DEFLATE step other than these (zlib's negative codes)
// are passed back as they are.

enum Method : int32_t { M_ZLIB = 0, M_DEFLATE, M_GZIP, M_ZSTD, METHOD_COUNT };

// Largest output any decoder here produces (bytes).
extern uint32_t output_limit;
constexpr uint32_t DEFAULT_OUTPUT_LIMIT = 128u << 20;

// The method spelled so (ASCII, either case), or -1.
int32_t method_of(const uint8_t* spelling, uint32_t size);
const char* method_name(int32_t method);

// Levels: -1 asks for each coder's default; otherwise 1..9 (1..19 for zstd),
// which the callers check.

namespace gzip {
// Writes a member: 10-byte header (XFL 4 for level 1 or lower, 2 for level
// 9, else 0; OS 4), raw DEFLATE, CRC-32 and length. Input that already looks
// like a gzip member is wrapped like any other.
int32_t wrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level);
// Reads one member filling the whole input: the optional header fields are
// skipped (FHCRC checked), the trailer's CRC-32 and length must match.
int32_t unwrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length);
}  // namespace gzip

namespace zlib {
// Writes CMF 0x78, FLG by level (0x01 for 1 or lower, 0x5E for 2-5, 0x9C for
// 6, 0xDA for 7-9), raw DEFLATE, then the big-endian Adler-32.
int32_t wrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level);
// Checks the header (check bits, method 8, window at most 32K, no preset
// dictionary), inflates, and checks the Adler-32.
int32_t unwrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length);
}  // namespace zlib

namespace deflate {
int32_t compress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level);
int32_t decompress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length);
}  // namespace deflate

namespace zstd {
// One frame with its content checksum.
int32_t compress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level);
// Frames one after the other, each complete, ending at the input's end.
int32_t decompress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length);
}  // namespace zstd

}  // namespace framing
