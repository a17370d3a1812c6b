// Native widgets: the notifications of tab panels and calendars, turned
// into events of their faces.
#pragma once
#include <windows.h>

#include "datatypes/cell.h"

namespace gui {

// TCN_SELCHANGING: a `select` event with the old position; TRUE (keep the
// old tab) when the actor answered `stop`.
LRESULT tab_selecting(HWND tab);
// TCN_SELCHANGE: the new page is shown, a `change` event follows and only
// then `selected` takes the new position.
void tab_selected(HWND tab);
// Selects a tab as a click would, events included.
void select_tab(HWND tab, int32_t position);
void show_tab_page(cell* face, int32_t position);
void show_page(HWND page, int32_t command);
// MCN_SELCHANGE: the chosen date into `data`, then a `change` event.
void calendar_changed(HWND calendar);
void read_calendar_date(HWND calendar);

}  // namespace gui
