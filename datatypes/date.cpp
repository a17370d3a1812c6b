#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "platform/random.h"
#include "runtime/collector.h"
#include "runtime/dtoa.h"
#include "runtime/words.h"
#include "library/system.h"

namespace date {

using namespace datatype;

namespace {

constexpr double DAY = 86400.0;

// Division and remainder rounding toward minus infinity.
int64_t fdiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
int32_t mod7(int64_t a) {
    int64_t r = a % 7;
    return (int32_t)(r < 0 ? r + 7 : r);
}

// Days from day 0 to 1 March of year y.
int64_t year_base(int64_t y) { return 365 * y + fdiv(y, 4) - fdiv(y, 100) + fdiv(y, 400); }

// The day number of a calendar date, fields unchecked (a day beyond the
// month's length or 0 simply counts on or back).
int64_t days_of(int64_t year, int64_t month, int64_t day) {
    int64_t m = (month + 9) % 12;
    if (m < 0) m += 12;
    int64_t y = year - m / 10;
    return year_base(y) + (306 * m + 5) / 10 + (day - 1);
}

[[noreturn]] void type_limit() { scalar::type_limit(TYPE_DATE); }
[[noreturn]] void bad_to_arg(const cell* spec) {
    scalar::raise_type_value(error::Script::bad_to_arg, TYPE_DATE, spec);
}

int64_t days_in_month(int64_t year, int32_t month) {
    static const int8_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && is_leap_year((int32_t)year)) return 29;
    return lengths[month - 1];
}

// Start (a Monday) of ISO week 1 of the year whose 1 January is day `first`.
int64_t iso_start(int64_t first) {
    int32_t w = mod7(first + 2);  // 0 = Monday
    return first - w + (w >= 4 ? 7 : 0);
}

// Moves whole days between t and days so that the local time under `zone`
// lies in [0, 86400).
void carry(int64_t& days, double& t, uint32_t zone) {
    if (!std::isfinite(t)) type_limit();
    double z = zone_offset(zone) / 3600.0;
    double k = std::trunc(std::trunc(t / 3600.0 + z) / 24.0);
    if (!(std::fabs(k) < 2147483648.0)) type_limit();
    t -= k * DAY;
    days += (int64_t)k;
    if (z * 3600.0 + t < 0) {
        t += DAY;
        days -= 1;
    }
}

}  // namespace

// --- The packed word ------------------------------------------------------------------

uint32_t pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    if (year < YEAR_MIN || year > YEAR_MAX) type_limit();
    return ((uint32_t)year << YEAR_SHIFT) | ((uint32_t)month << MONTH_SHIFT) |
           ((uint32_t)day << DAY_SHIFT) | (zone & ZONE_MASK) | (has_time ? TIME_FLAG : 0);
}

bool is_well_formed(const cell* c) {
    uint32_t w = word_of(c);
    int32_t month = month_of(w), day = day_of(w);
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year_of(w), month)) return false;
    double t = time_of(c);
    if (!std::isfinite(t)) return false;
    if (!has_time(w)) return std::fabs(t) < 2 * DAY;
    double local = to_local(t, zone_of(w));
    return local >= 0.0 && local < DAY;
}

int32_t zone_offset(uint32_t zone) {
    int32_t s = (int32_t)((zone >> 2) & 0xF) * 3600 + (int32_t)(zone & 3) * 900;
    return zone & ZONE_WEST ? -s : s;
}

uint32_t zone_from_seconds(double seconds) {
    double s = std::fmod(seconds, 16 * 3600.0);
    if (s != s) return 0;
    double a = std::fabs(s);
    uint32_t h = (uint32_t)(a / 3600.0);
    uint32_t q = (uint32_t)((a - h * 3600.0) / 60.0) / 15;
    if (!h && !q) return 0;
    return (s < 0 ? ZONE_WEST : 0) | (h << 2) | (q & 3);
}

// Zone bits of whole hours, taken modulo 16.
static uint32_t zone_from_hours(int32_t n) {
    int32_t h = n % 16;
    if (!h) return 0;
    return (h < 0 ? ZONE_WEST : 0) | ((uint32_t)(h < 0 ? -h : h) << 2);
}

// --- Day numbers ------------------------------------------------------------------------

int32_t to_days(uint32_t w) { return (int32_t)days_of(year_of(w), month_of(w), day_of(w)); }

// The calendar date of day number g; false when its year lies beyond any
// sane range (the caller checks the field's range).
static bool civil_of(int64_t g, int64_t& year, int32_t& month, int32_t& day) {
    double estimate = std::floor((10000.0 * (double)g + 14780.0) / 3652425.0);
    if (!(std::fabs(estimate) < 1e9)) return false;
    int64_t y = (int64_t)estimate;
    int64_t r = g - year_base(y);
    if (r < 0) {
        y -= 1;
        r = g - year_base(y);
    }
    int64_t mi = (100 * r + 52) / 3060;
    month = (int32_t)((mi + 2) % 12 + 1);
    year = y + (mi + 2) / 12;
    day = (int32_t)(r - (306 * mi + 5) / 10 + 1);
    return true;
}

uint32_t from_days(int64_t g, uint32_t zone, bool has_time) {
    int64_t year;
    int32_t month, day;
    if (!civil_of(g, year, month, day)) type_limit();
    return pack(year, month, day, zone, has_time);
}

bool is_leap_year(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t first_of_year(uint32_t w) { return (int32_t)days_of(year_of(w), 1, 1); }

int32_t weekday(int32_t days) { return mod7((int64_t)days + 2) + 1; }

double to_seconds(const cell* date) { return to_days(word_of(date)) * DAY + time_of(date); }

int32_t to_epoch(const cell* date) {
    int64_t days = to_days(word_of(date)) - days_of(1970, 1, 1);
    double s = (double)days * DAY + std::trunc(time_of(date) + 0.5);
    if (!(s >= -2147483648.0 && s <= 2147483647.0)) {
        cell d = *date;
        error::raise_script(error::Script::out_of_range, &d);
    }
    return (int32_t)s;
}

// --- Making -------------------------------------------------------------------------------

cell* make_in(cell* c, uint32_t w, double t) {
    c->header = TYPE_DATE;
    c->data1 = w;
    cell::set_float(c, t);
    return c;
}

cell* push(uint32_t w, double t) { return make_in(stack::push_cell(), w, t); }

cell* make_from_parts(cell* c, int32_t year, int32_t month, int32_t day, double seconds,
                      int32_t zone_hours, int32_t zone_minutes, bool has_time) {
    uint32_t h = (uint32_t)(zone_hours < 0 ? -zone_hours : zone_hours) & 0xF;
    uint32_t q = ((uint32_t)(zone_minutes < 0 ? -zone_minutes : zone_minutes) / 15) & 3;
    uint32_t zone = (h << 2) | q;
    if (zone && (zone_hours < 0 || zone_minutes < 0)) zone |= ZONE_WEST;
    uint32_t w = pack(year, month, day, zone, has_time);
    return make_in(c, w, has_time ? to_utc(seconds, zone) : 0.0);
}

cell* make_from_time_parts(cell* c, int32_t year, int32_t month, int32_t day, int32_t hour,
                           int32_t minute, int32_t second, int32_t nanosecond) {
    double t = hour * 3600.0 + minute * 60.0 + second + nanosecond * 1e-9;
    return make_in(c, pack(year, month, day, 0, true), t);
}

void normalize(cell* c, double t, bool local) {
    uint32_t w = word_of(c);
    uint32_t zone = zone_of(w);
    int64_t days = to_days(w);
    if (local) t = to_utc(t, zone);
    carry(days, t, zone);
    make_in(c, from_days(days, zone, has_time(w)), t);
}

// Repacks the cell on another day, keeping zone, has-time and time.
static void move_to_day(cell* c, int64_t days) {
    uint32_t w = word_of(c);
    c->data1 = from_days(days, zone_of(w), has_time(w));
}

void set_week(cell* c, int32_t n) {
    move_to_day(c, iso_start(first_of_year(word_of(c))) + 7 * ((int64_t)n - 1));
}

void set_weekday(cell* c, int32_t n) {
    int64_t days = to_days(word_of(c));
    move_to_day(c, days + ((int64_t)n - 1) - mod7(days + 2));
}

void set_yearday(cell* c, int32_t n) { move_to_day(c, first_of_year(word_of(c)) + (int64_t)n - 1); }

cell* difference(cell* a, const cell* b) {
    double t = (double)(to_days(word_of(a)) - to_days(word_of(b))) * DAY + (time_of(a) - time_of(b));
    return time_::make_at(a, t);
}

// --- Fields -------------------------------------------------------------------------------

int32_t field_index(int32_t symbol) {
    static const int32_t* const symbols[] = {
        &words::sym_date,    &words::sym_year,    &words::sym_month,    &words::sym_day,
        &words::sym_zone,    &words::sym_time,    &words::sym_hour,     &words::sym_minute,
        &words::sym_second,  &words::sym_weekday, &words::sym_yearday,  &words::sym_timezone,
        &words::sym_week,    &words::sym_isoweek,
    };
    for (int32_t i = 0; i < (int32_t)(sizeof symbols / sizeof symbols[0]); i++)
        if (*symbols[i] == symbol) return i + 1;
    if (symbol == words::sym_julian) return F_YEARDAY;
    return -1;
}

static int32_t week_of(int64_t days, uint32_t w) {
    int64_t first = first_of_year(w);
    int32_t j = mod7(first + 3);  // 0 = Sunday
    int64_t d = days - first + 1;
    return d <= 7 - j ? 1 : (int32_t)((d + j - 1) / 7 + 1);
}

static int32_t isoweek_of(int64_t days, uint32_t w) {
    int64_t first = first_of_year(w);
    int64_t s = iso_start(first);
    if (days < s) {
        // The last week of the previous year.
        int32_t jan1 = mod7(first + 2);  // 0 = Monday: 4 Friday, 5 Saturday, 6 Sunday
        if (jan1 == 4) return 53;
        if (jan1 == 5) return is_leap_year(year_of(w) - 1) ? 53 : 52;
        return 52;
    }
    int64_t next = iso_start(days_of((int64_t)year_of(w) + 1, 1, 1));
    return days < next ? (int32_t)((days - s) / 7 + 1) : 1;
}

cell* get_field(const cell* date, int32_t index, cell* out) {
    cell d = *date;
    uint32_t w = word_of(&d);
    double local = to_local(time_of(&d), zone_of(w));
    int32_t days = to_days(w);
    switch (index) {
    case F_DATE: return make_in(out, w & ~(ZONE_MASK | TIME_FLAG), 0.0);
    case F_YEAR: return integer::make_at(out, year_of(w));
    case F_MONTH: return integer::make_at(out, month_of(w));
    case F_DAY: return integer::make_at(out, day_of(w));
    case F_ZONE:
    case F_TIMEZONE:
        if (!has_time(w)) return none::make_at(out);
        return time_::make_at(out, zone_offset(zone_of(w)));
    case F_TIME:
        if (!has_time(w)) return none::make_at(out);
        return time_::make_at(out, local);
    case F_HOUR: return integer::make_at(out, time_::hours(local));
    case F_MINUTE: return integer::make_at(out, time_::minutes(local));
    case F_SECOND: return float_::make_in(out, std::fmod(local, 60.0));
    case F_WEEKDAY: return integer::make_at(out, weekday(days));
    case F_YEARDAY: return integer::make_at(out, days - first_of_year(w) + 1);
    case F_WEEK: return integer::make_at(out, week_of(days, w));
    default: return integer::make_at(out, isoweek_of(days, w));
    }
}

// The month n (any integer) counted from January of `year`: months beyond
// 1-12 carry into the year.
static void carry_month(int64_t& year, int64_t& month, int64_t n) {
    year += (n - 1) / 12;
    if (n <= 0) year -= 1;
    month = n % 12;
    if (month <= 0) month += 12;
}

[[noreturn]] static void invalid_arg(const cell* value) {
    cell v = *value;
    error::raise_script(error::Script::invalid_arg, &v);
}

// Writes field `index` of the date in `c` from `value`.
static void set_field(cell* c, int32_t index, const cell* value) {
    uint32_t w = word_of(c);
    uint32_t zone = zone_of(w);
    double t = time_of(c);
    int64_t days = to_days(w);
    uint8_t tv = value->type();
    switch (index) {
    case F_DATE:
        if (tv != TYPE_DATE) invalid_arg(value);
        c->data1 = (word_of(value) & ~ZONE_MASK) | zone;
        return;
    case F_ZONE:
    case F_TIMEZONE: {
        uint32_t z;
        if (tv == TYPE_INTEGER) z = zone_from_hours(integer::get(value));
        else if (tv == TYPE_TIME) z = zone_from_seconds(time_::get(value));
        else invalid_arg(value);
        if (index == F_ZONE) {
            // The wall clock stays; the instant moves.
            make_in(c, (w & ~ZONE_MASK) | z, to_utc(to_local(t, zone), z));
        } else {
            // The instant stays; the wall clock and maybe the day move.
            c->data1 = (w & ~ZONE_MASK) | z;
            normalize(c, to_local(t, z), true);
        }
        return;
    }
    case F_TIME:
        if (tv == TYPE_NONE) {
            make_in(c, w & ~TIME_FLAG, 0.0);
        } else if (tv == TYPE_TIME) {
            c->data1 = w | TIME_FLAG;
            normalize(c, time_::get(value), true);
        } else {
            invalid_arg(value);
        }
        return;
    case F_HOUR:
    case F_MINUTE:
    case F_SECOND: {
        // On the local clock, so that a zone of quarter hours keeps the
        // fields not written.
        double local = time_::set_field(to_local(t, zone), index - F_HOUR + time_::FIELD_HOUR, value);
        c->data1 = w | TIME_FLAG;
        normalize(c, local, true);
        return;
    }
    default: break;
    }
    if (tv != TYPE_INTEGER) invalid_arg(value);
    int64_t n = integer::get(value);
    int64_t first = first_of_year(w);
    switch (index) {
    case F_YEAR: days = days_of(n, month_of(w), day_of(w)); break;
    case F_MONTH: {
        int64_t year = year_of(w), month;
        carry_month(year, month, n);
        if (year < YEAR_MIN || year > YEAR_MAX) type_limit();
        days = days_of(year, month, day_of(w));
        break;
    }
    case F_DAY: days = days_of(year_of(w), month_of(w), 0) + n; break;
    case F_WEEKDAY: days = days + (n - 1) - mod7(days + 2); break;
    case F_YEARDAY: days = first + n - 1; break;
    case F_WEEK: days = n > 1 ? first + 7 * n - mod7(first + 3) - 7 : first; break;
    default: days = iso_start(first) + 7 * (n - 1); break;  // F_ISOWEEK
    }
    if (index == F_YEAR && (n < YEAR_MIN || n > YEAR_MAX)) type_limit();
    c->data1 = from_days(days, zone, has_time(w));
}

static cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                       cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner) {
    int32_t f = scalar::field_index(element, field_index);
    if (f < F_DATE || f > F_ISOWEEK) scalar::invalid_path(path, element);
    if (!value) return get_field(parent, f, stack::push_cell());
    cell old = *parent;
    set_field(parent, f, value);
    scalar::after_write(parent, &old, path, holder, element_cell, owner);
    return stack::push(value);
}

cell* pick(cell* value, int32_t index, cell* index_cell) {
    if (index < F_DATE || index > F_ISOWEEK) error::raise_out_of_range(index);
    return get_field(value, index, value);
}

// --- Math ---------------------------------------------------------------------------------

cell* do_math(int32_t op) {
    cell* l = stack::arg(0);
    cell* r = stack::arg(1);
    bool add = op == integer::MATH_ADD;
    uint32_t w = word_of(l);
    int64_t days = to_days(w);
    double t = time_of(l);
    bool timed = has_time(w);
    switch (r->type()) {
    case TYPE_INTEGER:
        days += add ? (int64_t)integer::get(r) : -(int64_t)integer::get(r);
        break;
    case TYPE_TIME:
        t += add ? time_::get(r) : -time_::get(r);
        timed = true;
        break;
    case TYPE_DATE: {
        if (add) scalar::not_related(words::word_add, TYPE_DATE);
        days -= to_days(word_of(r));
        t -= time_of(r);
        carry(days, t, zone_of(w));
        return integer::make_at(l, (int32_t)days);
    }
    default: scalar::invalid_type(r);
    }
    carry(days, t, zone_of(w));
    return make_in(l, from_days(days, zone_of(w), timed), t);
}

static cell* add() { return do_math(integer::MATH_ADD); }
static cell* subtract() { return do_math(integer::MATH_SUBTRACT); }

// --- make / to ----------------------------------------------------------------------------

namespace {

// The slots a block's values fill, and the machine that assigns them.
enum Slot : int8_t {
    S_NONE = -1, S_DAY, S_MONTH, S_YEAR, S_HOUR, S_TIME, S_ZONE_HOURS, S_ZONE_TIME,
    S_ZONE_MINUTES, S_MINUTE, S_SECOND, S_SECOND_FLOAT,
};
struct Step {
    int8_t next;
    Slot slot;
};
// By state, then by value type: integer!, time!, float!.
constexpr Step NO_STEP = {-1, S_NONE};
const Step date_field_table[14][3] = {
    {{1, S_DAY}, NO_STEP, NO_STEP},
    {{2, S_MONTH}, NO_STEP, NO_STEP},
    {{3, S_YEAR}, NO_STEP, NO_STEP},
    {{8, S_HOUR}, {4, S_TIME}, NO_STEP},
    {{6, S_ZONE_HOURS}, {5, S_ZONE_TIME}, NO_STEP},
    {NO_STEP, NO_STEP, NO_STEP},
    {{7, S_ZONE_MINUTES}, NO_STEP, NO_STEP},
    {NO_STEP, NO_STEP, NO_STEP},
    {{9, S_MINUTE}, NO_STEP, NO_STEP},
    {{10, S_SECOND}, NO_STEP, {10, S_SECOND_FLOAT}},
    {{12, S_ZONE_HOURS}, {11, S_ZONE_TIME}, NO_STEP},
    {NO_STEP, NO_STEP, NO_STEP},
    {{13, S_ZONE_MINUTES}, NO_STEP, NO_STEP},
    {NO_STEP, NO_STEP, NO_STEP},
};

}  // namespace

// [day month year], then a time (time! or hour minute second) and a zone
// (time! or hours minutes). `check`: the values must name the date as
// given, without any carry (make); `to` lets them carry.
static cell* make_from_block(cell* target, cell* block_cell, bool check) {
    cell held = *block_cell;  // the target may be the spec's own cell
    cell* spec = &held;
    int32_t n = block::length_of(spec);
    int64_t ints[S_SECOND_FLOAT + 1] = {};
    double floats[S_SECOND_FLOAT + 1] = {};
    bool given[S_SECOND_FLOAT + 1] = {};
    int32_t state = 0;
    for (int32_t i = 0; i < n; i++) {
        const cell* v = block::head_cell(spec) + i;
        int32_t kind;
        switch (v->type()) {
        case TYPE_INTEGER: kind = 0; break;
        case TYPE_TIME: kind = 1; break;
        case TYPE_FLOAT: kind = 2; break;
        default: bad_to_arg(spec);
        }
        Step s = date_field_table[state][kind];
        if (s.next < 0) bad_to_arg(spec);
        if (kind == 0) ints[s.slot] = integer::get(v);
        else floats[s.slot] = cell::get_float(v);
        given[s.slot] = true;
        state = s.next;
    }
    if (n < 3) bad_to_arg(spec);
    int64_t day = ints[S_DAY], month = ints[S_MONTH], year = ints[S_YEAR];
    if (day >= 100 && day > year) {
        int64_t x = day;
        day = year;
        year = x;
    }
    // The zone.
    uint32_t zone = 0;
    if (given[S_ZONE_TIME]) {
        double zt = floats[S_ZONE_TIME];
        if (!(std::fabs(zt) < 16 * 3600.0)) bad_to_arg(spec);
        zone = zone_from_seconds(zt);
    } else if (given[S_ZONE_HOURS]) {
        int64_t zh = ints[S_ZONE_HOURS], zm = ints[S_ZONE_MINUTES];
        if (zh < -15 || zh > 15 || zm < -59 || zm > 59) bad_to_arg(spec);
        zone = (uint32_t)((zh < 0 ? -zh : zh) << 2) | (uint32_t)((zm < 0 ? -zm : zm) / 15);
        if (zone && (zh < 0 || zm < 0)) zone |= ZONE_WEST;
    }
    // The time, as local time.
    double t = 0.0;
    int64_t minute = ints[S_MINUTE], hour = ints[S_HOUR];
    if (given[S_HOUR]) {
        double seconds = floats[S_SECOND_FLOAT] != 0.0 ? floats[S_SECOND_FLOAT] : (double)ints[S_SECOND];
        t = (double)hour * 3600.0 + (double)minute * 60.0 + seconds;
    } else if (given[S_TIME]) {
        t = floats[S_TIME];
        if (!std::isfinite(t)) bad_to_arg(spec);
        minute = time_::minutes(t);
        hour = 0;
    }
    // The day: from the year, the month carried into it, then the day counted
    // from that month's day 0.
    int64_t y = year, m;
    carry_month(y, m, month);
    if (y < YEAR_MIN || y > YEAR_MAX) type_limit();
    int64_t days = days_of(y, m, 0) + day;
    make_in(target, from_days(days, 0, n > 3), 0.0);
    normalize(target, t, false);
    if (check) {
        uint32_t w = word_of(target);
        double s = time_of(target);
        bool same_day = year_of(w) == year && month_of(w) == month && day_of(w) == day;
        bool same_time = t != 0.0 ? time_::hours(s) >= 0 && time_::hours(s) <= 23 && time_::minutes(s) == minute
                                  : time_::hours(s) == hour && time_::minutes(s) == minute;
        if (!same_day || !same_time) bad_to_arg(spec);
    }
    target->data1 |= zone;
    normalize(target, time_of(target), true);
    return target;
}

cell* make(cell* target, cell* spec, int32_t type) {
    switch (spec->type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return make_from_block(target, spec, true);
    default: bad_to_arg(spec);
    }
}

cell* to(cell* target, cell* spec, int32_t type) {
    switch (spec->type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return make_from_block(target, spec, false);
    case TYPE_DATE: return cell::copy(spec, target);
    case TYPE_INTEGER: {
        int32_t n = integer::get(spec);
        int64_t days = days_of(1970, 1, 1) + n / 86400;
        make_in(target, from_days(days, 0, true), (double)(n % 86400));
        if (n < 0) normalize(target, time_of(target), false);
        return target;
    }
    default: bad_to_arg(spec);
    }
}

// --- Random -----------------------------------------------------------------------------------

static cell* random(cell* value, bool seed, bool secure, bool only) {
    namespace rnd = platform::random;
    uint32_t w = word_of(value);
    if (seed) {
        double t = std::trunc(time_of(value));
        rnd::seed((int32_t)(w + (std::fabs(t) < 2147483648.0 ? (uint32_t)(int32_t)t : 0u)));
        return unset::make_at(value);
    }
    int32_t days = rnd::integer(secure, to_days(w)) - 1;
    make_in(value, from_days(days, zone_of(w), has_time(w)), time_of(value));
    if (!has_time(w)) return value;
    uint32_t zone = (uint32_t)(secure ? rnd::secure_int() : rnd::next()) & ZONE_MASK;
    double r;
    if (secure) {
        double r1 = rnd::secure_int(), r2 = rnd::secure_int();
        r = (r1 / 2147483647.0 + r2) / (2147483648.0 / 3600.0);
    } else {
        r = rnd::next() / 2147483647.0 * 3600.0;
    }
    double t = std::floor(r) / 3600.0 * DAY;
    value->data1 = (value->data1 & ~ZONE_MASK) | zone;
    normalize(value, t, true);
    return value;
}

// --- Compare ------------------------------------------------------------------------------------

int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_DATE) return NOT_COMPARABLE;
    if (op == OP_SAME)
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3 ? 0 : 1;
    // By the instants: the day difference first, so the seconds keep their
    // precision whatever the dates.
    double x = (double)(to_days(word_of(a)) - to_days(word_of(b))) * DAY + time_of(a);
    double y = time_of(b);
    bool equal = float_::is_almost_equal(x, y);
    switch (op) {
    case OP_EQUAL:
    case OP_NOT_EQUAL:
    case OP_STRICT_EQUAL:
    case OP_FIND: return equal ? 0 : 1;
    default: return equal ? 0 : x < y ? -1 : 1;
    }
}

// --- Text ---------------------------------------------------------------------------------------

// The month names: system/locale/months, read at each use.
const cell* month_names() {
    const cell* months = system_object::field("locale/months");
    return months && months->type() == TYPE_BLOCK ? months : nullptr;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    cell d = *value;
    uint32_t w = word_of(&d);
    int32_t year = year_of(w);
    int32_t month = month_of(w);
    const cell* months = month_names();
    if (!months || month < 1 || month > block::length_of(months))
        error::raise_script(error::Script::invalid_months);
    cell name = *block::cell_at(months, month - 1);
    if (name.type() != TYPE_STRING) error::raise_script(error::Script::invalid_months);
    const char* sep = year < 0 ? "/" : "-";
    char text[16];
    snprintf(text, sizeof text, "%d%s", day_of(w), sep);
    limit = scalar::append(out, text, limit);
    cell* held = stack::push(&name);
    limit -= (int32_t)string::concatenate(out, held, 3, 0, string::APPEND);
    stack::pop(1);
    int32_t a = year < 0 ? -year : year;
    snprintf(text, sizeof text, a < 100 ? "%s%s%04d" : "%s%s%d", sep, year < 0 ? "-" : "", a);
    limit = scalar::append(out, text, limit);
    if (!has_time(w)) return limit;
    limit = scalar::append(out, "/", limit);
    uint32_t zone = zone_of(w);
    limit = time_::mold_into(to_local(time_of(&d), zone), out, limit);
    if (zone) {
        snprintf(text, sizeof text, "%c%02d:%02d", zone & ZONE_WEST ? '-' : '+', (int)((zone >> 2) & 0xF),
                 (int)(zone & 3) * 15);
        limit = scalar::append(out, text, limit);
    }
    return limit;
}

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return mold(value, out, false, false, false, part, limit, 0);
}

// --- Literals -----------------------------------------------------------------------------------

namespace {

struct Text {
    const uint8_t* p;
    const uint8_t* end;
    bool at_end() const { return p >= end; }
    int peek() const { return p < end ? *p : -1; }
    bool take(char c) {
        if (p < end && *p == (uint8_t)c) {
            p++;
            return true;
        }
        return false;
    }
    bool take_either(char a, char b) { return take(a) || take(b); }
    // Decimal digits (at most `max`): their value and count.
    int32_t digits(int64_t* value, int32_t max = 9) {
        int32_t n = 0;
        int64_t v = 0;
        while (p < end && *p >= '0' && *p <= '9' && n < max) {
            v = v * 10 + (*p++ - '0');
            n++;
        }
        if (p < end && *p >= '0' && *p <= '9') return -1;  // too many digits
        *value = v;
        return n;
    }
};

const char* const month_spellings[12] = {"january", "february", "march",     "april",
                                         "may",     "june",     "july",      "august",
                                         "september", "october", "november", "december"};

// A month name of 3 to 9 letters, a prefix of one of the twelve (any case).
int32_t month_of_name(const uint8_t* s, int32_t n) {
    if (n < 3 || n > 9) return 0;
    for (int32_t m = 0; m < 12; m++) {
        const char* name = month_spellings[m];
        if ((int32_t)strlen(name) < n) continue;
        int32_t i = 0;
        while (i < n && (s[i] | 0x20) == name[i]) i++;
        if (i == n) return m + 1;
    }
    return 0;
}

// Parts of a literal.
struct Parts {
    int64_t year = 0, month = 0, day = 0;
    bool has_time = false;
    double seconds = 0;
    int32_t zone_hours = 0, zone_minutes = 0;  // minutes carry the sign when hours are 0
};

// A fraction of seconds after `whole` seconds: "." or "," and digits.
bool fraction(Text& t, int64_t whole, double* seconds) {
    *seconds = (double)whole;
    if (t.peek() != '.' && t.peek() != ',') return true;
    t.p++;
    char buffer[48];
    int32_t n = snprintf(buffer, sizeof buffer, "%d.", (int)whole);  // whole < 100: two digits at most
    const uint8_t* start = t.p;
    while (!t.at_end() && *t.p >= '0' && *t.p <= '9') {
        if (n < (int32_t)sizeof buffer - 1) buffer[n++] = (char)*t.p;
        t.p++;
    }
    if (t.p == start) return false;
    *seconds = dtoa::to_float(buffer, buffer + n, 0, nullptr);
    return true;
}

// "Z", or a sign and hours, hhmm or hh:mm (quarter hours only); nothing.
bool zone(Text& t, Parts& d) {
    if (t.take_either('Z', 'z')) return true;
    int sign = t.peek() == '+' ? 1 : t.peek() == '-' ? -1 : 0;
    if (!sign) return true;
    t.p++;
    int64_t a, minutes = 0, hours;
    int32_t n = t.digits(&a, 4);
    if (n < 1) return false;
    if (t.take(':')) {
        if (n > 2 || t.digits(&minutes, 2) != 2) return false;
        hours = a;
    } else if (n <= 2) {
        hours = a;
    } else {
        hours = a / 100;
        minutes = a % 100;
    }
    if (hours > 15 || minutes > 45 || minutes % 15) return false;
    d.zone_hours = (int32_t)(sign * hours);
    d.zone_minutes = (int32_t)(sign * minutes);
    return true;
}

// h:mm[:ss[.fraction]] and a zone.
bool clock(Text& t, Parts& d) {
    int64_t h, m, s = 0;
    int32_t hn = t.digits(&h, 2);
    if (hn < 1 || !t.take(':') || t.digits(&m, 2) < 1) return false;
    double seconds = 0;
    if (t.take(':')) {
        if (t.digits(&s, 2) < 1 || !fraction(t, s, &seconds)) return false;
    }
    if (h > 23 || m > 59 || !(seconds < 60.0)) return false;
    d.has_time = true;
    d.seconds = (double)h * 3600.0 + (double)m * 60.0 + seconds;
    return zone(t, d);
}

// yyyymmddThhmm[ss][.fraction][zone]
bool compact(Text& t, Parts& d) {
    int64_t ymd, hms;
    if (t.digits(&ymd, 8) != 8 || !t.take_either('T', 't')) return false;
    d.year = ymd / 10000;
    d.month = ymd / 100 % 100;
    d.day = ymd % 100;
    int32_t n = t.digits(&hms, 6);
    if (n != 4 && n != 6) return false;
    int64_t h = n == 6 ? hms / 10000 : hms / 100;
    int64_t m = n == 6 ? hms / 100 % 100 : hms % 100;
    double seconds = 0;
    if (n == 6 && !fraction(t, hms % 100, &seconds)) return false;
    if (h > 23 || m > 59 || !(seconds < 60.0)) return false;
    d.has_time = true;
    d.seconds = (double)h * 3600.0 + (double)m * 60.0 + seconds;
    return zone(t, d);
}

bool valid_day(const Parts& d) {
    return d.year >= YEAR_MIN && d.year <= YEAR_MAX && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= days_in_month(d.year, (int32_t)d.month);
}

// Sets the calendar fields of `d` from a day number (checked by valid_day;
// a check never raises).
void from_day_number(Parts& d, int64_t days) {
    int32_t month = 0, day = 0;
    if (!civil_of(days, d.year, month, day)) d.year = INT64_MAX;
    d.month = month;
    d.day = day;
}

bool parse(Text& t, Parts& d) {
    // The compact form: eight digits and a T.
    {
        Text probe = t;
        int64_t v;
        if (probe.digits(&v, 8) == 8 && (probe.peek() == 'T' || probe.peek() == 't'))
            return compact(t, d) && t.at_end() && valid_day(d);
    }
    int64_t first;
    int32_t first_digits = t.digits(&first, 9);
    if (first_digits < 1) return false;
    int sep = t.peek();
    if (sep != '-' && sep != '/') return false;
    t.p++;
    if (sep == '-' && (t.peek() == 'W' || t.peek() == 'w')) {
        // Week date: year-Wweek[-weekday].
        t.p++;
        int64_t week, wd = 1;
        if (t.digits(&week, 2) < 1 || week < 1 || week > 53) return false;
        if (t.take('-') && (t.digits(&wd, 1) != 1 || wd < 1 || wd > 7)) return false;
        if (first > YEAR_MAX) return false;
        int64_t start = iso_start(days_of(first, 1, 1));
        if (week == 53 && iso_start(days_of(first + 1, 1, 1)) - start < 371) return false;
        int64_t days = start + 7 * (week - 1) + (wd - 1);
        from_day_number(d, days);
    } else {
        const uint8_t* field = t.p;
        int64_t second = 0;
        int32_t second_digits = t.digits(&second, 9);
        if (sep == '-' && second_digits == 3 && (t.at_end() || t.peek() == '/' || t.peek() == 'T' ||
                                                 t.peek() == 't')) {
            // Ordinal date: year-ddd.
            if (first > YEAR_MAX || second < 1 || second > (is_leap_year((int32_t)first) ? 366 : 365))
                return false;
            from_day_number(d, days_of(first, 1, 1) + second - 1);
        } else {
            int64_t month = second;
            if (second_digits == 0) {
                while (!t.at_end() && ((*t.p | 0x20) >= 'a' && (*t.p | 0x20) <= 'z')) t.p++;
                month = month_of_name(field, (int32_t)(t.p - field));
                if (!month) return false;
            } else if (second_digits < 0 || second_digits > 2) {
                return false;
            }
            if (!t.take((char)sep)) return false;
            bool negative = t.take('-');
            int64_t third;
            int32_t third_digits = t.digits(&third, 9);
            if (third_digits < 1) return false;
            if (first_digits >= 3) {
                // year-month-day
                if (negative || third_digits > 2) return false;
                d.year = first;
                d.day = third;
            } else {
                d.day = first;
                d.year = negative ? -third : third;
            }
            d.month = month;
        }
    }
    if (!valid_day(d)) return false;
    if (t.at_end()) return true;
    if (!t.take('/') && !t.take_either('T', 't')) return false;
    return clock(t, d) && t.at_end();
}

}  // namespace

bool scan(const uint8_t* text, uint32_t length, cell* out) {
    Text t{text, text + length};
    Parts d;
    if (!parse(t, d)) return false;
    if (out)
        make_from_parts(out, (int32_t)d.year, (int32_t)d.month, (int32_t)d.day, d.seconds, d.zone_hours,
                        d.zone_minutes, d.has_time);
    return true;
}

// --- registration ---------------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), on<A_RANDOM>(random), NO, on<A_TO>(to), on<A_FORM>(form),
        on<A_MOLD>(mold), on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, on<A_ADD>(add), NO, NO, NO, NO, NO, NO, on<A_SUBTRACT>(subtract),
        NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, on<A_PICK>(pick), NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_DATE, 0, "date!", list);
}

}  // namespace date
