// The routines: system-level functions the library reaches as routine!
// values. Each takes its arguments from the call's window (argument i at
// window + i) and leaves its result in the window's first cell. Start-up
// makes a routine! of every entry named in the callable specs and sets its
// word.
#pragma once
#include "datatypes/function.h"

namespace routines {

struct Entry {
    const char* name;     // the word the routine is bound to
    routine::Body entry;  // its code
};

// The routine named so, or null.
routine::Body find(const char* name);

}  // namespace routines
