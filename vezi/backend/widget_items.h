// Common controls whose contents mirror a face's facets (their
// notifications are in widgets.h): the items of
// text-lists and combo boxes, the tabs and pages of tab panels, and the
// date and colour of calendars. Creation fills them (faces.cpp), in-place
// changes of `data` reach them through the update of a face's series.
//
// Only text-like values of `data` (string!, file!, url!, tag!, email!,
// ref!) become items; a control position counts the text-like values
// before it. `selected` is 1-based in the face, 0-based in the control.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "datatypes/cell.h"

namespace gui {

bool is_text_like(const cell* v);
// The value's text as UTF-16 (empty for values that are not text-like).
std::wstring item_text(const cell* v);

// The action words of in-place series changes that lists and tabs tell
// apart (the ownership layer reports them by name).
enum class SeriesAction {
    remove, take, clear, reverse, put, poke, move,                  // before the change
    inserted, appended, poked, put_ed, reversed, moved,             // after it
    uppercase, lowercase, sort, changed, other
};
SeriesAction series_action(const cell* word);

// --- lists and combo boxes -------------------------------------------------------------
void init_text_list(HWND hwnd, cell* face);
void init_drop(HWND hwnd, cell* face, bool drop_list);
// A change of `data` (value: the series changed; added: the new values or
// null; index: the position in value's block; part: values concerned).
void update_list_data(cell* face, cell* value, SeriesAction action, const cell* added, int32_t index,
                      int32_t part, bool combo);

// --- tab panels ----------------------------------------------------------------------------
void init_tab_panel(HWND hwnd, cell* face);
void update_tab_data(cell* face, cell* value, SeriesAction action, const cell* added, int32_t index,
                     int32_t part);
// The pages after a change of the tab panel's offset (1), size (2) or visible? (9).
void update_tab_panel(HWND hwnd, cell* face, int32_t facet_index);

// The pages of a tab panel lie beside its control, over the control's
// display area: a page's offset and size fitted to that area (logical
// units), and its window moved there.
void fit_tab_page(cell* page, HWND tab);
void place_tab_page(HWND page, HWND tab, double x, double y);

// --- buttons -------------------------------------------------------------------------------
// The image list of a `button` or `toggle` from its `image`: an image, a
// block of images for the six button states, or [image size]; none removes it.
void set_button_image(HWND hwnd, cell* face);

// --- calendars -------------------------------------------------------------------------------
void init_calendar(HWND hwnd, cell* face);
void set_calendar_date(HWND hwnd, const cell* date);
void set_calendar_color(HWND hwnd, const cell* color);

}  // namespace gui
