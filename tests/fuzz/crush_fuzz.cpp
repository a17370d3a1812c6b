// Boot-data decompressor over arbitrary bytes: it must refuse or decode
// without touching memory it does not own. (The compressor only ever sees
// the toolchain's own data; its round trips are unit tests.)
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/crush.h"
#include "runtime/tracked.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFF) return 0;
    uint32_t n = (uint32_t)size;
    // A heap copy of exactly the input, so a read past it is caught.
    uint8_t* input = (uint8_t*)malloc(n ? n : 1);
    if (n) memcpy(input, data, n);
    uint32_t length = 0;
    uint8_t* out = crush::decompress(input, n, &length);
    if (out) {
        if (length > (uint64_t)n * 206) abort();
        crush::free(out);
    }
    free(input);
    return 0;
}
