// Boots the runtime once for a fuzz driver, as the programs do; under the
// stress build every third series allocation collects unless
// ZOL_GC_STRESS_PERIOD says otherwise.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/memory.h"

namespace fuzz {

// `library` runs the library's boot code too (drivers of library functions).
inline void boot_once(const char* program, bool library) {
    static bool booted = false;
    if (booted) return;
    char name[64];
    snprintf(name, sizeof name, "%s", program);
    char* argv[] = {name, nullptr};
#ifdef ZOL_GC_STRESS
    if (!getenv("ZOL_GC_STRESS_PERIOD")) memory::stress_period = 3;
#endif
    runtime::setup(1, argv);
    runtime::init();
    if (library) runtime::start_library();
    else collector::enabled = 1;
    booted = true;
}

}  // namespace fuzz
