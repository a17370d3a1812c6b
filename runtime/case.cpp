// Case folding.
#include "runtime/case.h"

#include <algorithm>

#include "runtime/tracked.h"
#include "runtime/unicode.h"

namespace case_ {

uint32_t* upper_table = nullptr;
uint32_t* lower_table = nullptr;

static uint32_t* bmp_table(const CaseRun* runs, uint32_t bmp_runs) {
    auto* table = (uint32_t*)sys::allocate_zeroed(0x10000 * sizeof(uint32_t));
    for (const CaseRun* r = runs; r < runs + bmp_runs; r++)
        for (uint32_t cp = r->first; cp <= r->last; cp += r->stride) table[cp] = cp + r->delta;
    return table;
}

void init() {
    upper_table = bmp_table(upper_runs, upper_bmp_run_count);
    lower_table = bmp_table(lower_runs, lower_bmp_run_count);
}

int32_t fold_astral(int32_t cp, bool upper) {
    const CaseRun* runs = upper ? upper_runs : lower_runs;
    const CaseRun* begin = runs + (upper ? upper_bmp_run_count : lower_bmp_run_count);
    const CaseRun* end = runs + (upper ? upper_run_count : lower_run_count);
    uint32_t c = (uint32_t)cp;
    // The last run starting at or before c is the only one that may hold it.
    const CaseRun* r = std::upper_bound(begin, end, c, [](uint32_t v, const CaseRun& run) {
        return v < run.first;
    });
    if (r == begin) return cp;
    --r;
    if (c > r->last || (c - r->first) % r->stride) return cp;
    return (int32_t)(c + r->delta);
}

int32_t swap(int32_t cp) {
    int32_t up = fold(cp, true);
    return up != cp ? up : fold(cp, false);
}

uint32_t fold_units(void* units, uint32_t width, uint32_t count, bool upper) {
    return unicode::by_width(width, [&](auto t) {
        using U = typename decltype(t)::type;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = (uint32_t)fold((int32_t)unicode::get_unit<U>(units, i), upper);
            if (cp > (U)~0u) return i;
            unicode::put_unit<U>(units, i, cp);
        }
        return count;
    });
}

}  // namespace case_
