// port!: an object whose actions a scheme's actor carries out.
//
// Cell and context are object!'s (object.h) with type 48. Fields, in the
// order of the template system/standard/port: spec scheme actor awake state
// data extra. The port keeps no buffer and does no I/O of its own: every
// series and I/O action looks its word up in the `actor` object and calls
// the function found there with the port, then the action's arguments, then
// each refinement as a logic! flag followed by its arguments (none when it
// is absent), in the order the action declares them; the function's answer
// is the action's. An actor that is a handle! is a native actor table: the
// action lookup takes every action with an id of 25 or more from it
// (actions::port_entry), so these functions only ever see object actors.
//
// Like every action called from C++, a port action leaves its answer in the
// port argument's cell as well as returning it.
//
// Schemes live in system/schemes, a block of name/scheme pairs; a scheme is
// an object whose `actor` field is an object! or a handle!.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace port {

enum Field : int32_t { F_SPEC = 0, F_SCHEME, F_ACTOR, F_AWAKE, F_STATE, F_DATA, F_EXTRA, FIELD_COUNT };

// The port's actor object (a copy); access invalid-port for anything else.
cell get_actor(const cell* port);

cell* make(cell* target, cell* spec, int32_t type);
int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);

// Registers port! (type 48, parent object!); after object!.
void register_type();

}  // namespace port
