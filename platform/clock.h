// Clock arithmetic both platform layers share: the packed date and its zone
// field, seconds since midnight from a system time, and the rounding of a
// wait into milliseconds. Pure functions, so the rules are tested natively
// whatever the machine's clock and zone.
#pragma once
#include <cstdint>

namespace platform::clock {

// Longest single wait, in milliseconds: one below the system's "forever", so
// a huge value sleeps a very long time instead of wrapping to a short one.
constexpr uint32_t WAIT_MAX_MS = 0xFFFFFFFEu;

// Milliseconds to sleep for `seconds`: truncated; anything below 1 ms
// (zero, negative, NaN) sleeps 1 ms; above WAIT_MAX_MS it is clamped.
uint32_t wait_milliseconds(double seconds);

// The 7-bit zone field of a packed date for a local offset of
// `offset_minutes` east of UTC (negative west): the west sign in bit 6,
// hours in bits 2-5, quarter hours in bits 0-1.
uint32_t zone_field(int32_t offset_minutes);

// year << 17 OR month << 12 OR day << 7 OR zone.
uint32_t pack_date(int32_t year, int32_t month, int32_t day, uint32_t zone);

// Seconds since midnight from a file time (100 ns ticks since 1601-01-01
// UTC): whole seconds, plus the fraction to 100 ns with `precise`.
double time_of_day(uint64_t file_time, bool precise);

// The file time of a Unix time (seconds and nanoseconds since 1970),
// rounded down to 100 ns.
uint64_t file_time_from_unix(int64_t seconds, uint32_t nanoseconds);

}  // namespace platform::clock
