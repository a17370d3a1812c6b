// Placeholder until the string module defines string::concatenate_bytes: a
// weak definition, so that any real one replaces it.
#include "datatypes/string_out.h"

#include "runtime/sys.h"

namespace string {

__attribute__((weak)) void concatenate_bytes(cell* value, const char* bytes, uint32_t n) {
    sys::quit(sys::RT_UNKNOWN, SYS_CALLER_ADDRESS());
}

}  // namespace string
