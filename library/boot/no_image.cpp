// The build tool's stand-in for the boot image it is about to write.
#include "runtime/boot_image.h"

namespace boot_image {

extern const uint8_t data[] = {0};
extern const uint32_t size = 0;

}  // namespace boot_image
