// The routines: system-level functions the library reaches as routine!
// values. Each takes its arguments from the call's window (argument i at
// window + i) and leaves its result in the window's first cell. Start-up
// makes a routine! of every entry named in the callable specs (the
// `routines` section of library/natives.zol) and sets its word.
//
// Hidden routines: a routine whose name begins with "ctx||" (for instance
// `ctx||float~pretty?`) is a runtime hook of the library, not a word for
// scripts. Its value lives in a context of its own, never in the global
// context, and start-up binds the words so spelled in the library's code to
// that context; so the library calls it by its name while `what`, `help`
// and completion never see it.
#pragma once
#include "datatypes/function.h"

namespace routines {

struct Entry {
    const char* name;     // the word the routine is bound to
    routine::Body entry;  // its code
};

// The routines of the Vezi library (vezi/platform_routines.cpp).
extern const Entry vezi_table[];
extern const int32_t vezi_count;
// The JSON codec's routines (library/json.cpp).
extern const Entry json_routines[];
extern const int json_routine_count;

// The routine named so, or null.
routine::Body find(const char* name);

// Whether a routine of this name is hidden.
bool is_hidden(const char* name);
// Keeps a hidden routine under its name (a word!) in the hidden context.
void keep_hidden(const cell* name, const cell* value);
// Binds the hidden routines' words in a block of library code (deep).
void bind_hidden(cell* code);

// Start-up after the routines are registered: what the routines look up
// once (the typeset words the predicates read).
void init();

}  // namespace routines
