// Where face creation and facet updates call into parts of the backend that
// are not written yet: the camera, the layers of base faces before Windows 8,
// and menu bars. Each stands in with what is harmless until its part exists
// (nothing, or a plain repaint), so the callers already call at the right
// place and in the right order; replacing a body here is all that part needs.
#pragma once
#include <windows.h>

#include "datatypes/cell.h"

namespace gui {

// --- camera -------------------------------------------------------------------------------
// The preview of a new camera face (its `data`, `selected` and `ratio`).
inline void camera_attach(HWND, cell*) {}
// A new frame into the face's `image`.
inline void camera_grab(HWND, cell*) {}
// Device n (0-based) opened and started; -1 closes the capture.
inline void camera_select(HWND, int32_t) {}
inline void camera_resize_video(HWND) {}

// --- base faces ---------------------------------------------------------------------------
// The drawing layer of a new base or rich-text face (option bits as slot 48).
inline void base_init(HWND, HWND, cell*, uint32_t) {}
// A base face (or a layered window) painted again through its layer; until
// the layer exists, the window's own paint does it.
inline void base_update(HWND hwnd, cell*) { InvalidateRect(hwnd, nullptr, FALSE); }
// A face that is not layered cannot live in a layered base face: it goes in
// the base face's internal layer window, made on demand.
inline HWND base_layer_parent(HWND parent) { return parent; }
// Before Windows 8 a layered base face is a top-level window owned by its
// window: its stored place and the layered faces inside it follow a move
// to the new device position.
inline void layered_follow_move(HWND, cell*, int32_t, int32_t) {}

// --- menus --------------------------------------------------------------------------------
// The menu bar of a window face's `menu` block: empty until menus are built.
inline HMENU menu_bar(const cell*) { return CreateMenu(); }

}  // namespace gui
