// Decisions of the window procedure that need no platform: which event a
// gesture makes and the zoom factor between its steps, how far a window's
// tracking limits widen for a face's minimum size, and the text format of
// a custom-drawn button.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

// --- gestures ---------------------------------------------------------------------
// Gesture ids of the platform (begin, end, zoom, pan, rotate, two-finger
// tap, press and tap).
enum GestureId : uint32_t { GESTURE_BEGIN = 1, GESTURE_END, GESTURE_ZOOM, GESTURE_PAN, GESTURE_ROTATE,
                            GESTURE_TWO_TAP, GESTURE_PRESS_TAP };
// The event type of a gesture id (zoom ... press-tap), 0 for begin, end
// and unknown ids.
int32_t gesture_event_type(uint32_t id);
// Begin and end start a new zoom: the next zoom step has no factor.
bool gesture_resets_zoom(uint32_t id);

// The zoom argument of the previous step, -1 when none.
struct ZoomTracker {
    int64_t previous = -1;
    void reset() { previous = -1; }
    // This step's factor against the previous one ((arg - prev) / prev + 1);
    // false for the first step (and after a previous argument of 0, which
    // gives no ratio). The argument becomes the previous one.
    bool step(uint64_t argument, double* factor);
};

// --- tracking limits ---------------------------------------------------------------
// A window's tracking sizes in device pixels.
struct TrackLimits {
    int32_t min_w, min_h, max_w, max_h;
};
// The minimum client size a face asks for: `options` holding `min-size:`
// with a pair! or point2D! of positive logical sizes. False when there is
// none.
bool face_min_size(const cell* options, double* w, double* h);
// Raises the minimum (and, when below it, the maximum) tracking size to
// the needed window size; answers whether anything changed.
bool widen_tracking(TrackLimits* limits, int32_t need_w, int32_t need_h);

// --- custom-drawn buttons --------------------------------------------------------------
// DrawText alignment from a button's para style bits (BS_LEFT ... BS_BOTTOM);
// without a para (has_para false) the text is centred both ways. Always one
// line.
uint32_t button_text_format(uint32_t button_style, bool has_para);

}  // namespace gui
