// The boot image the build wrote, as the executable's read-only data.
#include "runtime/boot_image.h"

namespace boot_image {

// The bytes, then one NUL the embedding adds.
extern const uint8_t data[] = {
#include "boot_image.inc"
};
extern const uint32_t size = sizeof data - 1;

}  // namespace boot_image
