// The decoders behind `decompress`, every method, over arbitrary bytes. The
// first byte picks the method and the first output buffer (none, a little,
// or plenty); an answer of "too small" must give a size with which a second
// call succeeds with exactly that many bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/framing.h"

constexpr uint32_t LIMIT = 4u << 20;
using Decoder = int32_t (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

// Output buffers are the tail of one buffer made once: writing past the
// capacity given still runs off its end (and is caught), and the run does
// not map and unmap megabytes per input.
static uint8_t* output_at(uint32_t capacity) {
    static uint8_t* buffer = (uint8_t*)malloc(LIMIT);
    return capacity ? buffer + LIMIT - capacity : nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Decoder decoders[4] = {framing::zlib::unwrap, framing::deflate::decompress,
                                        framing::gzip::unwrap, framing::zstd::decompress};
    if (size < 1 || size > 0x7FFFFFF) return 0;
    framing::output_limit = LIMIT;
    Decoder decode = decoders[data[0] & 3];
    uint32_t n = (uint32_t)size - 1;
    uint8_t* input = (uint8_t*)malloc(n ? n : 1);
    if (n) memcpy(input, data + 1, n);

    static const uint32_t first[4] = {0, 7, 256, 1 << 16};
    uint32_t capacity = first[(data[0] >> 2) & 3];
    uint32_t got = capacity;
    int32_t r = decode(output_at(capacity), &got, input, n);
    if (r == framing::DONE && got > capacity) abort();
    if (r == framing::TOO_SMALL) {
        if (got <= capacity || got > framing::output_limit) abort();
        capacity = got;
        r = decode(output_at(capacity), &got, input, n);
        if (r != framing::DONE || got != capacity) abort();
    }
    free(input);
    return 0;
}
