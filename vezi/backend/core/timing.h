// Elapsed time from performance-counter readings. The difference is taken
// in 64 bits, so counters of fast clocks do not wrap after a few seconds.
#pragma once
#include <cstdint>

namespace gui {

// Milliseconds from `*start` to `now` at `frequency` ticks a second. A
// negative difference gives 2147483647 and moves `*start` to now.
double elapsed_ms(int64_t* start, int64_t now, int64_t frequency);

}  // namespace gui
