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

namespace money {
int32_t compare(cell*, cell*, int32_t) { not_yet(); }
cell* do_math(int32_t) { not_yet(); }
double to_double(const cell*) { not_yet(); }
int32_t to_integer(const cell*) { not_yet(); }
// These two are complete: they depend on money's range only.
bool is_float_too_small(double x) {
    double a = std::fabs(x);
    return a > 0.0 && a < 1e-05;
}
bool is_float_too_large(double x) { return std::fabs(x) >= 1e17; }
}  // namespace money

