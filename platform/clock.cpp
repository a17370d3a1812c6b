#include "platform/clock.h"

#include <cmath>

namespace platform::clock {

uint32_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // NaN lands here too
    if (ms >= (double)WAIT_MAX_MS) return WAIT_MAX_MS;
    return (uint32_t)ms;         // truncated
}

uint32_t zone_field(int32_t offset_minutes) {
    // Sign and magnitude: a zone west of UTC by 3:45 keeps its 45 minutes,
    // and one west by less than an hour keeps its sign.
    uint32_t west = offset_minutes < 0 ? 0x10 : 0;
    uint32_t magnitude = offset_minutes < 0 ? 0u - (uint32_t)offset_minutes : (uint32_t)offset_minutes;
    uint32_t hours = (magnitude / 60) & 0xF;
    uint32_t quarters = (magnitude % 60) / 15;
    return ((west | hours) << 2) | quarters;
}

uint32_t pack_date(int32_t year, int32_t month, int32_t day, uint32_t zone) {
    return ((uint32_t)year << 17) | ((uint32_t)month << 12) | ((uint32_t)day << 7) | (zone & 0x7F);
}

double time_of_day(uint64_t file_time, bool precise) {
    const uint64_t ticks_per_second = 10000000ull;
    double t = (double)((file_time / ticks_per_second) % 86400u);
    if (precise) t += (double)(file_time % ticks_per_second) / 1e7;
    return t;
}

uint64_t file_time_from_unix(int64_t seconds, uint32_t nanoseconds) {
    // 1601-01-01 to 1970-01-01: 11,644,473,600 seconds.
    return (uint64_t)(seconds + 11644473600ll) * 10000000ull + nanoseconds / 100;
}

}  // namespace platform::clock
