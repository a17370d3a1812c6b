// Stand-ins for the later datatypes' services (see further.h): each raises
// internal not-done until its module replaces it.
#include "datatypes/further.h"

#include <cmath>

#include "datatypes/error_out.h"

namespace {
[[noreturn]] void not_yet() { error::raise_internal(error::Internal::not_done); }
}  // namespace

namespace date {
cell* do_math(int32_t) { not_yet(); }
int32_t to_epoch(const cell*) { not_yet(); }
}  // namespace date

