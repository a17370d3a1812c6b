#include "vezi/backend/core/window_rules.h"

#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/translate.h"

namespace gui {

int32_t gesture_event_type(uint32_t id) {
    switch (id) {
    case GESTURE_ZOOM: return EVT_ZOOM;
    case GESTURE_PAN: return EVT_PAN;
    case GESTURE_ROTATE: return EVT_ROTATE;
    case GESTURE_TWO_TAP: return EVT_TWO_TAP;
    case GESTURE_PRESS_TAP: return EVT_PRESS_TAP;
    default: return 0;
    }
}

bool gesture_resets_zoom(uint32_t id) { return id == GESTURE_BEGIN || id == GESTURE_END; }

bool ZoomTracker::step(uint64_t argument, double* factor) {
    int64_t prev = previous;
    previous = (int64_t)(argument & 0x7FFFFFFFFFFFFFFFull);
    if (prev <= 0) return false;
    *factor = (double)(previous - prev) / (double)prev + 1.0;
    return true;
}

bool face_min_size(const cell* options, double* w, double* h) {
    const cell* v = option_value(options, "min-size");
    if (!v) return false;
    if (v->type() == TYPE_PAIR) {
        *w = pair::x_of(v);
        *h = pair::y_of(v);
    } else if (v->type() == TYPE_POINT2D) {
        *w = point2D::component(v, 0);
        *h = point2D::component(v, 1);
    } else {
        return false;
    }
    // NaN fails both tests.
    if (!(*w > 0 || *h > 0)) return false;
    if (!(*w > 0)) *w = 0;
    if (!(*h > 0)) *h = 0;
    return true;
}

bool widen_tracking(TrackLimits* t, int32_t need_w, int32_t need_h) {
    bool changed = false;
    auto raise = [&](int32_t* v, int32_t need) {
        if (*v < need) {
            *v = need;
            changed = true;
        }
    };
    raise(&t->min_w, need_w);
    raise(&t->min_h, need_h);
    raise(&t->max_w, need_w);
    raise(&t->max_h, need_h);
    return changed;
}

uint32_t button_text_format(uint32_t s, bool has_para) {
    constexpr uint32_t SINGLE_LINE = 0x20, CENTER = 1, RIGHT = 2, VCENTER = 4, BOTTOM = 8;
    if (!has_para) return CENTER | VCENTER | SINGLE_LINE;
    uint32_t f = SINGLE_LINE;
    switch (s & 0x300) {  // BS_LEFT 0x100, BS_RIGHT 0x200, BS_CENTER both
    case 0x300: f |= CENTER; break;
    case 0x200: f |= RIGHT; break;
    default: break;
    }
    switch (s & 0xC00) {  // BS_TOP 0x400, BS_BOTTOM 0x800, BS_VCENTER both
    case 0xC00: f |= VCENTER; break;
    case 0x800: f |= BOTTOM; break;
    case 0x400: break;
    default: f |= VCENTER; break;
    }
    return f;
}

}  // namespace gui
