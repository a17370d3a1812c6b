// Character display width.
#include "runtime/charwidth.h"

namespace charwidth {

bool is_in_ranges(uint32_t cp, const uint32_t* table, uint32_t count) {
    // The bounds test keeps ASCII and most Latin text from searching at all.
    if (count < 2 || cp < table[0] || cp > table[count - 1]) return false;
    // Binary search for the last pair whose first value is at or below cp.
    uint32_t lo = 0, hi = count / 2;  // pairs [lo, hi)
    while (hi - lo > 1) {
        uint32_t mid = (lo + hi) / 2;
        if (table[2 * mid] <= cp) lo = mid;
        else hi = mid;
    }
    return cp <= table[2 * lo + 1];
}

int32_t code_point_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (is_in_ranges(cp, zero_width_ranges, zero_width_ranges_count)) return 0;
    if (is_in_ranges(cp, wide_ranges, wide_ranges_count)) return 2;
    return 1;
}

int32_t code_point_width_wide(uint32_t cp) {
    if (is_in_ranges(cp, ambiguous_ranges, ambiguous_ranges_count)) return 2;
    return code_point_width(cp);
}

}  // namespace charwidth
