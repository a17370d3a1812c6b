// The base 2, 16, 58 and 64 decoders of binary! over arbitrary text. The
// first byte picks the base (bits 0-1) and the text's unit width (bits 2-3:
// 1, 2 or 4 bytes a character, 4 again for 3). Text that decodes must come
// back to the same bytes through its encoder and the decoder again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"

using Decoder = bool (*)(const uint8_t*, uint32_t, uint32_t, std::string&);
using Encoder = uint8_t* (*)(const uint8_t*, uint32_t, uint8_t*);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Decoder decoders[4] = {binary::decode_64, binary::decode_16, binary::decode_58,
                                        binary::decode_2};
    static const Encoder encoders[4] = {binary::encode_64, binary::encode_16, binary::encode_58,
                                        binary::encode_2};
    if (size < 1) return 0;
    int base = data[0] & 3;
    static const uint32_t units[4] = {1, 2, 4, 4};
    uint32_t unit = units[(data[0] >> 2) & 3];
    uint32_t n = (uint32_t)(size - 1) / unit;
    // Base 58 is a long division per digit: keep its texts short enough that
    // a run tries many of them.
    if (base == 2 && n > 2048) n = 2048;
    // The text alone in its own block, so a read past its end is caught.
    uint8_t* text = (uint8_t*)malloc((size_t)n * unit + 1);
    memcpy(text, data + 1, (size_t)n * unit);

    std::string out;
    if (decoders[base](text, n, unit, out)) {
        uint32_t bytes = (uint32_t)out.size();
        std::vector<uint8_t> encoded((size_t)bytes * 8 + 8);
        uint8_t* end = encoders[base]((const uint8_t*)out.data(), bytes, encoded.data());
        if (end < encoded.data() || end > encoded.data() + encoded.size()) abort();
        std::string again;
        if (!decoders[base](encoded.data(), (uint32_t)(end - encoded.data()), 1, again) || again != out)
            abort();
    }
    free(text);
    return 0;
}
