// The boot image the executable carries, and the library sources the build
// tool hands the runtime instead.
//
// Every program that boots the runtime links the image (`data`, `size`:
// compact Zolbin written at build time, see library/boot). The tool that
// writes the image cannot carry it: it links an empty one and sets `sources`
// before `runtime::init`, which then loads the library from that text.
#pragma once
#include <cstddef>
#include <cstdint>

namespace boot_image {

extern const uint8_t data[];
extern const uint32_t size;

// The library as UTF-8 text, for the build tool only.
struct Sources {
    const char* natives;  // the callable specs (natives.zol)
    size_t natives_size;
    const char* errors;   // the error catalog (errors.zol)
    size_t errors_size;
};
// Null in every program but the build tool.
extern const Sources* sources;

}  // namespace boot_image
