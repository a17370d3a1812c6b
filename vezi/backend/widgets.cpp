// Tab panels and calendars as their notifications see them. A tab panel's
// pages are the faces of its `pane`, one per tab; their windows are
// siblings of the tab control, one shown at a time.
#include "vezi/backend/widgets.h"

#include <commctrl.h>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "evaluator/stack.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/window_proc.h"

namespace gui {

LRESULT tab_selecting(HWND tab) {
    int32_t old = (int32_t)SendMessageW(tab, TCM_GETCURSEL, 0, 0);
    return event_about(tab, EVT_SELECT, (uint32_t)old) == 0 ? TRUE : FALSE;
}

void tab_selected(HWND tab) {
    int32_t pos = (int32_t)SendMessageW(tab, TCM_GETCURSEL, 0, 0);
    stack::TopMark mark;
    cell* face = pushed_face(tab);
    if (!face) return;
    show_tab_page(face, pos);
    // The actor still sees the old `selected`.
    event_about(tab, EVT_CHANGE, (uint32_t)(pos + 1));
    face = pushed_face(tab);
    if (face_alive(face)) integer::make_at(facet(face, FACET_SELECTED), pos + 1);
}

// The change goes through TCM_SETCURSEL, which notifies nobody: the two
// notifications are ours, so a refused change stops here and an accepted
// one reports once.
void select_tab(HWND tab, int32_t position) {
    HWND parent = GetParent(tab);
    NMHDR hdr{tab, 0, (UINT)TCN_SELCHANGING};
    if (SendMessageW(parent, WM_NOTIFY, 0, (LPARAM)&hdr)) return;
    SendMessageW(tab, TCM_SETCURSEL, (WPARAM)position, 0);
    hdr.code = (UINT)TCN_SELCHANGE;
    SendMessageW(parent, WM_NOTIFY, 0, (LPARAM)&hdr);
}

void show_page(HWND page, int32_t command) {
    ShowWindow(page, command);
    if (state.windows_8) return;
    stack::TopMark mark;
    if (cell* face = get_face_obj(page)) layers_follow_show(stack::push(face), command);
}

// The page at a position of the pane, pushed, with its window; null when
// there is none.
static cell* page_at(cell* pane, int32_t index, HWND* window) {
    if (index < 0 || index >= block::length_of(pane)) return nullptr;
    cell* page = block::head_cell(pane) + index;
    if (page->type() != TYPE_OBJECT) return nullptr;
    *window = face_handle(page);
    return *window ? stack::push(page) : nullptr;
}

void show_tab_page(cell* face_in, int32_t position) {
    stack::TopMark mark;
    cell* face = stack::push(face_in);
    cell* pane = stack::push(facet(face, FACET_PANE));
    if (pane->type() != TYPE_BLOCK) return;
    HWND h = nullptr;
    if (cell* page = page_at(pane, position, &h)) {
        logic::make_at(facet(page, FACET_VISIBLE), true);
        show_page(h, SW_SHOW);
        BringWindowToTop(h);
    }
    const cell* sel = facet(face, FACET_SELECTED);
    if (sel->type() != TYPE_INTEGER) return;
    int32_t old = integer::get(sel);
    if (old == position + 1) return;
    if (cell* page = page_at(pane, old - 1, &h)) {
        logic::make_at(facet(page, FACET_VISIBLE), false);
        show_page(h, SW_HIDE);
    }
}

void read_calendar_date(HWND calendar) {
    SYSTEMTIME st{};
    SendMessageW(calendar, MCM_GETCURSEL, 0, (LPARAM)&st);
    stack::TopMark mark;
    cell* face = pushed_face(calendar);
    if (!face) return;
    int32_t year = st.wYear < 1601 ? 1601 : st.wYear > 9999 ? 9999 : st.wYear;
    date::make_from_parts(facet(face, FACET_DATA), year, st.wMonth, st.wDay, 0, 0, 0, false);
}

void calendar_changed(HWND calendar) {
    read_calendar_date(calendar);
    event_about(calendar, EVT_CHANGE);
}

}  // namespace gui
