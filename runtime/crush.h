// Boot-data codec: a small LZ77 coder with a bit-level token format for data
// the toolchain stores compressed inside the program image (compressed Zolbin
// payloads, the boot image). The runtime only decompresses; the compressor is
// here so the build tool writes exactly what the runtime reads.
//
// Stream (little-endian): P (payload bytes after this 8-byte header), U (total
// uncompressed length), then blocks. Block: n (1..BLOCK_SIZE uncompressed
// bytes) and a bit stream of tokens padded with zero bits to a whole byte.
// Bits are taken from each byte starting at its least significant bit; a
// k-bit field is read LSB first. Each block starts on a byte boundary with an
// empty bit buffer, and its matches never reach into an earlier block.
//
// Tokens: 0 + 8 bits = literal byte; 1 + length code + distance code = copy
// m + 3 bytes from c + 1 bytes back (byte by byte, so overlaps repeat).
// Length code (m): prefixes 1, 01, 001 then 2 bits (0-3, 4-7, 8-11); 0001
// then 3 bits (12-19); 00001 then 5 bits (20-51); 00000 then 9 bits (52-563).
// Distance code (c): 4 bits k; k = 0: 3 bits of c; else j = k + 2 and
// c = 2^j + j bits.
//
// The stream is untrusted as far as the decoder is concerned: every length is
// checked against the bytes really present, the declared total against what
// the payload can possibly expand to, and a failure gives no output at all.
#pragma once
#include <cstdint>

namespace crush {

constexpr uint32_t BLOCK_SIZE = 0x100000;  // largest block, uncompressed
constexpr uint32_t WINDOW = 0x40000;       // farthest a match reaches back
constexpr uint32_t MAX_MATCH = 566;        // longest match
constexpr uint32_t HEADER_SIZE = 8;

// One coder's state. The decoder reads bits from `input` at `position` and
// writes bytes into `output`; the encoder only writes. `output_capacity`
// bounds the output; `input_size` the bytes the decoder may load.
struct Coder {
    uint32_t bits;             // bit buffer, next bit in bit 0
    uint32_t bit_count;        // bits in the buffer
    uint32_t position;         // next input byte to load (decoder)
    const uint8_t* input;      // decoder's input
    uint32_t input_size;       // bytes of input present
    uint8_t* output;           // output buffer
    uint32_t output_capacity;  // bytes the output may hold
    uint32_t output_length;    // bytes reserved so far
    bool error;                // set by any out-of-bounds request; sticky
};

// Sets up a coder: input (null for the encoder) and output buffers.
void init(Coder& coder, const uint8_t* input, uint32_t input_size, uint8_t* output,
          uint32_t output_capacity);

// Reserves `count` output bytes at the output length (which it advances):
// sets the error flag when count is negative or the capacity would be
// exceeded. Returns false on error.
bool reserve(Coder& coder, int32_t count);

// Reads a k-bit field (k <= 24), LSB first. Past the end of the input it sets
// the error flag and returns 0.
uint32_t get_bits(Coder& coder, uint32_t k);
// Writes a k-bit field (k <= 24), LSB first; whole bytes go out at once. An
// output that would pass the capacity sets the error flag.
void put_bits(Coder& coder, uint32_t value, uint32_t k);

// Decompresses a stream of `size` bytes. Returns a buffer from sys::allocate
// of U + 8 bytes holding the U decompressed bytes (and stores U in `length`
// when it is not null), or null when the stream is malformed in any way:
// truncated, a block length outside 1..BLOCK_SIZE, a match before its block's
// start or past its end, blocks that do not add up to U, or a U larger than
// the payload can encode.
uint8_t* decompress(const uint8_t* stream, uint32_t size, uint32_t* length);

// Frees a buffer `decompress` returned.
void free(uint8_t* buffer);

// Compresses n bytes into `destination` (room for n bytes). Returns the
// stream length P + 8, or -1 when n is 127 or less or the stream would not fit
// in n bytes (the caller then keeps the data uncompressed).
int32_t compress(const uint8_t* source, uint32_t n, uint8_t* destination);

}  // namespace crush
