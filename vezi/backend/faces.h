// Faces and their native windows (faces.cpp): creation, facet updates,
// timers, freeing, fonts and para. The window procedure of faces lives in
// window_proc.cpp.
#pragma once
#include <windows.h>
#include <commdlg.h>

#include <string>

#include "datatypes/cell.h"
#include "vezi/backend/core/styles.h"

namespace gui {

// A facet's cell (valid until the next allocation) and the face's type.
cell* facet(const cell* face, int32_t f);
FaceType type_of(const cell* face);

// The face's window, made under the parent's DPI; raises a script error for
// an unknown type and an access error when the window cannot be made.
HWND make_vezi(cell* face, HWND parent);
void remake_face(HWND hwnd, cell* face);
void set_cursor(HWND hwnd, const cell* options);
void set_hint(HWND hwnd, const cell* options);
void set_tab_stops(HWND hwnd, const cell* options);
// Starts, restarts or stops the face timer; an invalid rate raises invalid-arg.
void set_face_rate(HWND hwnd, const cell* rate);
void CALLBACK timer_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
void set_edit_selection(HWND hwnd, const cell* face);
// Shows the scroll bars an area's text needs (the text about to be set, as
// the control holds it, or null for the face's own `text`).
void update_area_scrollbars(HWND hwnd, const wchar_t* text);

// Applies the changed facets of one face; a face's change bits survive an
// error raised while they are applied.
void update_vezi(cell* face);
// Updates a block of faces, the geometry of siblings in deferred batches;
// answers the number of batches.
int32_t update_views(cell* faces);
void restack_pane(const cell* pane, HDWP dwp);
void free_faces(cell* face, bool close);
void destroy_vezi(cell* face, bool empty);
void dwm_flush();

// Fonts: the current-DPI GDI font of a font! (cached in its state), the one
// a face's widget gets, release and remake after a change of field `field`.
HFONT make_font(cell* face, cell* font, bool current_dpi);
HFONT get_font(cell* face, cell* font);
HFONT font_handle(const cell* font, int32_t index);
void set_font(HWND hwnd, cell* face);
cell* free_font(cell* font);
void update_font(cell* font, int32_t field);
void resolve_font_family(std::wstring* name, int32_t* weight, bool italic);
// The font chooser (font_chooser.cpp), opened on `initial`'s font: a
// confirmed choice fills the new font! object in `result`, else `result`
// becomes none. The dialog is called through choose_font (tests fake it).
void request_font(cell* result, const cell* initial, bool mono);
using ChooseFontCall = BOOL(WINAPI*)(LPCHOOSEFONTW);
extern ChooseFontCall choose_font;
void update_para(cell* face);

// A series facet of `owner` changed in place (`value`, at index, part
// values, `added` the value put in or null): panes move windows, the rest
// updates the face.
void update_facet(cell* owner, const cell* word, cell* value, const cell* action, const cell* added,
                  int32_t index, int32_t part);
void show_window(HWND hwnd);
// Before Windows 8: the layered faces of the face's tree (top-level windows
// there) shown or hidden with it.
void layers_follow_show(cell* face, int32_t command);

}  // namespace gui
