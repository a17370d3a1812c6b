// time!: a signed duration or time of day, as a double number of seconds.
//
// Cell: header 43, payload words 2-3 = the seconds (float!'s layout; time! is
// float!'s child and inherits random, compare, absolute, negate and
// remainder). date! keeps its time of day in the same form and borrows the
// text and the field writer from here.
//
// Text: [-]h:mm:ss[.fraction]. The seconds are rounded to the digits the text
// shows before the value is split, so a value a hair below a whole minute
// shows the next minute ("0:01:00"), never ":60".
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace time_ {

inline double get(const cell* c) { return cell::get_float(c); }
// Writes a bare time! of `seconds` into a cell.
cell* make_at(cell* c, double seconds);
// Pushes a new time! on the argument stack.
cell* push(double seconds);

// seconds / 3600 truncated toward zero.
int32_t hours(double seconds);
// floor(fmod(|seconds|, 3600) / 60).
int32_t minutes(double seconds);

// Field indexes of paths and pick.
enum Field : int32_t { FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3 };
// The field of a word's canonical symbol, -1 when it is none.
int32_t field_of_symbol(int32_t symbol);
// t with field `index` set to `value` (hour and minute take integer!,
// second integer! or float!); another value type raises invalid-arg.
double set_field(double t, int32_t index, const cell* value);

// Appends the text of `seconds` to the string! `out`; returns the limit less
// what was written.
int32_t mold_into(double seconds, cell* out, int32_t limit);

// --- Actions ------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
cell* add();
cell* subtract();
cell* multiply();
cell* divide();
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
bool is_even(cell* value);
bool is_odd(cell* value);
cell* pick(cell* value, int32_t index, cell* index_cell);

// Registers time! (type 43, parent float!).
void register_type();

}  // namespace time_
