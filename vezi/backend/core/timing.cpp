#include "vezi/backend/core/timing.h"

namespace gui {

double elapsed_ms(int64_t* start, int64_t now, int64_t frequency) {
    int64_t d = now - *start;
    if (d < 0 || frequency <= 0) {
        *start = now;
        return 2147483647.0;
    }
    return (double)d * 1000.0 / (double)frequency;
}

}  // namespace gui
