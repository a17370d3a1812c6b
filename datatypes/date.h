// date!: a day of the proleptic Gregorian calendar, optionally with a time of
// day and a time zone.
//
// Cell: header 47; payload word 1 = the packed date word (below); words 2-3 =
// the stored time, a double number of seconds (float!'s layout): the local
// time of day minus the zone offset, so 10:00 local at +02:00 is 28800.0.
// A date without time stores 0.0.
//
// Packed date word, bit 31 down:
//   17-31 year (signed: read with an arithmetic shift)
//   16    has-time: the value carries a time and a zone
//   12-15 month 1-12
//   7-11  day 1-31
//   6     zone sign (west of UTC)
//   2-5   zone hours 0-15
//   0-1   zone quarter hours
// The word always holds the local calendar date. The instant a value stands
// for is days(word) x 86400 + stored time.
//
// Day numbers count from day 0 = 1 March of year 0, with floor division, so
// that negative years map one to one as well. Everything is integer
// arithmetic on day numbers plus the double seconds; no system calendar is
// used.
//
// Invariants:
// - After `normalize`, the local time (stored time + offset) lies in
//   [0, 86400).
// - Years stay within the 15-bit field: anything that would leave it raises
//   type-limit instead of wrapping.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace date {

// --- The packed word ----------------------------------------------------------------

constexpr uint32_t YEAR_SHIFT = 17;
constexpr uint32_t TIME_FLAG = 1u << 16;
constexpr uint32_t MONTH_SHIFT = 12;
constexpr uint32_t DAY_SHIFT = 7;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_WEST = 0x40;
constexpr int32_t YEAR_MIN = -16384;
constexpr int32_t YEAR_MAX = 16383;

inline uint32_t word_of(const cell* c) { return c->data1; }
inline int32_t year_of(uint32_t w) { return (int32_t)w >> YEAR_SHIFT; }
inline int32_t month_of(uint32_t w) { return (int32_t)((w >> MONTH_SHIFT) & 0xF); }
inline int32_t day_of(uint32_t w) { return (int32_t)((w >> DAY_SHIFT) & 0x1F); }
inline uint32_t zone_of(uint32_t w) { return w & ZONE_MASK; }
inline bool has_time(uint32_t w) { return (w & TIME_FLAG) != 0; }
inline double time_of(const cell* c) { return cell::get_float(c); }

// year << 17 | month << 12 | day << 7 | zone | has-time; a year outside the
// field raises type-limit.
uint32_t pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time);

// Whether a cell from outside (decoded data) holds a real calendar day and,
// with a time, a normalized one: the date code relies on both.
bool is_well_formed(const cell* c);

// Zone offset of the 7 zone bits, in seconds.
int32_t zone_offset(uint32_t zone);
// Zone bits of a signed offset in seconds (taken modulo 16 hours; cut to
// quarter hours). A zone of -0:30 keeps its sign.
uint32_t zone_from_seconds(double seconds);
inline double to_local(double t, uint32_t zone) { return t + zone_offset(zone); }
inline double to_utc(double t, uint32_t zone) { return t - zone_offset(zone); }

// --- Day numbers --------------------------------------------------------------------

int32_t to_days(uint32_t w);
// The word of day number g with the zone bits and the has-time flag; a year
// outside the field raises type-limit.
uint32_t from_days(int64_t g, uint32_t zone, bool has_time);
bool is_leap_year(int32_t year);
// Day number of 1 January of the word's year.
int32_t first_of_year(uint32_t w);
// 1 = Monday .. 7 = Sunday.
int32_t weekday(int32_t days);
// days x 86400 + stored time.
double to_seconds(const cell* date);
// Seconds of the Unix epoch; outside 32 bits raises out-of-range.
int32_t to_epoch(const cell* date);

// --- Making ---------------------------------------------------------------------------

cell* make_in(cell* c, uint32_t w, double t);
cell* push(uint32_t w, double t);
// From parts, without normalising: with has-time the local time is turned
// into stored time; the zone is west when either zone part is negative.
cell* make_from_parts(cell* c, int32_t year, int32_t month, int32_t day, double seconds,
                      int32_t zone_hours, int32_t zone_minutes, bool has_time);
// With a time, zone 0 (file dates).
cell* make_from_time_parts(cell* c, int32_t year, int32_t month, int32_t day, int32_t hour,
                           int32_t minute, int32_t second, int32_t nanosecond);
// Sets the stored time to t (local time when `local`) and carries whole
// days into the date, so that the local time lands in [0, 86400).
void normalize(cell* c, double t, bool local);

// The Monday of ISO week n of the date's year; day n (1 = Monday) of the
// date's week; day n of the date's year. Zone and has-time are kept.
void set_week(cell* c, int32_t n);
void set_weekday(cell* c, int32_t n);
void set_yearday(cell* c, int32_t n);

// a becomes the time! a - b.
cell* difference(cell* a, const cell* b);

// Checks (out null) or builds a date literal from its token; false when the
// text is no valid date.
bool scan(const uint8_t* text, uint32_t length, cell* out);

// --- Fields ---------------------------------------------------------------------------

enum Field : int32_t {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND, F_WEEKDAY,
    F_YEARDAY, F_TIMEZONE, F_WEEK, F_ISOWEEK,
};
// The field of a word's canonical symbol, -1 when it is no field word.
int32_t field_index(int32_t symbol);
// Writes field `index` (1-14) of `date` into `out` (which may be `date`).
cell* get_field(const cell* date, int32_t index, cell* out);

// --- Actions --------------------------------------------------------------------------

// Math op codes 0 (add) and 1 (subtract): window argument 0 is the date.
cell* do_math(int32_t op);
cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);
cell* pick(cell* value, int32_t index, cell* index_cell);

// The month names mold uses (system/locale/months), or null when there is
// no such block. Valid until the next allocation.
const cell* month_names();

// Registers date! (type 47, no parent).
void register_type();

}  // namespace date
