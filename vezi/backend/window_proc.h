// What the window procedure shares with the rest of the backend: events
// about a window made for the current message, and the values of the last
// gesture event (read by the event getters).
#pragma once
#include <windows.h>

#include <cstdint>

#include "vezi/backend/core/translate.h"
#include "vezi/backend/core/window_rules.h"

namespace gui {

// An event of `type` about `about` (a window or control), made for the
// current message, or a fake one from the cursor when none is being
// dispatched. Answers make_event's answer.
int32_t event_about(HWND about, int32_t type, uint32_t flags = 0);
// The face a window carries, copied onto the argument stack, or null.
cell* pushed_face(HWND hwnd);
// Whether the face was not destroyed (its `state` is still a block).
bool face_alive(const cell* face);

// What a gesture event reports: its location on the screen, its argument
// and, for a zoom, the factor against the previous step. The gesture's own
// info handle is closed once the message is handled, so the getters read
// these values instead.
struct GestureEvent {
    POINT location;
    int64_t argument;
    bool has_factor;
    double factor;
};
extern GestureEvent gesture_event;
extern ZoomTracker zoom_tracker;
inline bool is_gesture_event(int32_t type) { return type >= EVT_ZOOM && type <= EVT_PRESS_TAP; }
// Reads a gesture message's info (GetGestureInfo where the system has it);
// tests put a fake here.
using GestureInfoReader = BOOL(WINAPI*)(HGESTUREINFO, GESTUREINFO*);
extern GestureInfoReader gesture_info;

// Paints a face's `draw` block on its window (the draw dialect installs it;
// it presents what it drew). What it raises is parked by the window
// procedure and raised once the call that made the paint returns.
using DrawFaceHook = void (*)(HWND hwnd, cell* face);
extern DrawFaceHook draw_face_hook;

}  // namespace gui
