// Items of lists and combo boxes, tabs and pages of tab panels, calendars.
//
// Faces are kept on the argument stack across every message sent to a
// control (a notification can run Zol code and move buffers); their cells
// are read again after each.
#include <windows.h>
#include <commctrl.h>

#include "vezi/backend/widget_items.h"
#include "vezi/backend/widgets.h"

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "evaluator/stack.h"
#include "platform/image_backend.h"
#include "runtime/ownership.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/words.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

namespace gui {

namespace {

Spelling action_words[] = {
    {"remove", 0}, {"take", 0}, {"clear", 0}, {"reverse", 0}, {"put", 0}, {"poke", 0}, {"move", 0},
    {"inserted", 0}, {"appended", 0}, {"poked", 0}, {"put-ed", 0}, {"reversed", 0}, {"moved", 0},
    {"uppercase", 0}, {"lowercase", 0}, {"sort", 0}, {"changed", 0},
};
GUI_SPELLINGS(action_words);
static_assert(sizeof action_words / sizeof action_words[0] == (int)SeriesAction::other, "actions");

bool is_block_like(const cell* v) {
    return v->type() == TYPE_BLOCK || v->type() == TYPE_HASH || v->type() == TYPE_MAP;
}

bool before_change(SeriesAction a) { return a <= SeriesAction::move; }
bool after_change(SeriesAction a) { return a >= SeriesAction::inserted && a <= SeriesAction::moved; }

// The list's longest item (in characters) lives in its window.
int32_t longest_item(HWND h) { return (int32_t)GetWindowLongPtrW(h, GWLP_USERDATA); }

void set_list_extent(HWND h, const std::wstring& text) {
    HDC dc = GetDC(h);
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageW(h, WM_GETFONT, 0, 0));
    SIZE sz{0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &sz);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    SendMessageW(h, LB_SETHORIZONTALEXTENT, (WPARAM)(sz.cx + 4), 0);
}

void insert_list_item(HWND h, const cell* v, int32_t position, bool combo) {
    if (!is_text_like(v)) return;
    std::wstring text = item_text(v);
    int32_t count = (int32_t)SendMessageW(h, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    if (position > count) position = count;
    SendMessageW(h, combo ? CB_INSERTSTRING : LB_INSERTSTRING, (WPARAM)position, (LPARAM)text.c_str());
    if (!combo && (int32_t)text.size() > longest_item(h)) {
        SetWindowLongPtrW(h, GWLP_USERDATA, (LONG_PTR)text.size());
        set_list_extent(h, text);
    }
}

// Text-like values among `count` cells of a block from `index`.
int32_t text_like_in(const cell* blk, int32_t index, int32_t count) {
    cell* all = block::cells_of(series::node_of(blk));
    int32_t total = block::total_cells(series::node_of(blk)), n = 0;
    for (int32_t i = index < 0 ? 0 : index; i < index + count && i < total; i++) n += is_text_like(&all[i]);
    return n;
}

// The word cell of a facet, for ownership records.
cell* facet_word(const cell* face, int32_t f) { return object::word_at_node(object::context_of(face), f); }

// The values a change put in: the given block or value, else `count` values
// of the changed block from `index`. Pushed as a block on the stack.
cell* new_values(const cell* value, const cell* added, int32_t index, int32_t count) {
    if (added && added->type() == TYPE_BLOCK) return stack::push(added);
    cell* blk = block::push_new(count > 0 ? count : 1);
    if (added) {
        block::append_cell_copy(series::node_of(blk), added);
        return blk;
    }
    int32_t total = block::total_cells(series::node_of(value));
    for (int32_t i = index; i < index + count && i < total; i++)
        block::append_cell_copy(series::node_of(blk), block::cells_of(series::node_of(value)) + i);
    return blk;
}

// The position in the control of the item whose string is `text`, found in
// the face's `data` by identity; -1 when it is not there.
int32_t item_of_series(const cell* face, const cell* text) {
    const cell* data = facet(face, FACET_DATA);
    if (data->type() != TYPE_BLOCK && data->type() != TYPE_HASH) return -1;
    cell* all = block::cells_of(series::node_of(data));
    int32_t total = block::total_cells(series::node_of(data)), pos = 0;
    for (int32_t i = 0; i < total; i++) {
        if (!is_text_like(&all[i])) continue;
        if (series::node_of(&all[i]) == series::node_of(text)) return pos;
        pos++;
    }
    return -1;
}

}  // namespace

bool is_text_like(const cell* v) {
    switch (v->type()) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: return true;
    default: return false;
    }
}

std::wstring item_text(const cell* v) {
    if (!is_text_like(v)) return std::wstring();
    cell s = *v;
    const uint16_t* w = unicode::to_utf16(&s);
    return w ? std::wstring((const wchar_t*)w) : std::wstring();
}

SeriesAction series_action(const cell* word) {
    int32_t i = find_word(word, action_words, (int32_t)SeriesAction::other);
    return i < 0 ? SeriesAction::other : (SeriesAction)i;
}

// --- lists and combo boxes ---------------------------------------------------------------------

namespace {

// Adds the text-like values of `data` (rooted by the caller) as items with
// `add` (LB_ADDSTRING or CB_ADDSTRING); the longest item's text. The block is
// re-read after each message: the control's owner may run code.
std::wstring add_items(HWND h, cell* data, UINT add) {
    std::wstring longest;
    int32_t n = block::length_of(data);
    for (int32_t i = 0; i < n; i++) {
        const cell* v = block::head_cell(data) + i;
        if (!is_text_like(v)) continue;
        std::wstring text = item_text(v);
        SendMessageW(h, add, 0, (LPARAM)text.c_str());
        if (text.size() > longest.size()) longest = text;
    }
    return longest;
}

}  // namespace

void init_text_list(HWND h, cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    SendMessageW(h, LB_RESETCONTENT, 0, 0);
    SetWindowLongPtrW(h, GWLP_USERDATA, 0);
    cell* data = stack::push(facet(f, FACET_DATA));
    if (is_block_like(data)) {
        std::wstring longest = add_items(h, data, LB_ADDSTRING);
        SetWindowLongPtrW(h, GWLP_USERDATA, (LONG_PTR)longest.size());
        if (!longest.empty()) set_list_extent(h, longest);
    }
    cell* sel = facet(f, FACET_SELECTED);
    if (sel->type() != TYPE_INTEGER) integer::make_at(sel, -1);
    int32_t n = integer::get(facet(f, FACET_SELECTED));
    SendMessageW(h, LB_SETCURSEL, n < 1 ? (WPARAM)-1 : (WPARAM)(n - 1), 0);
}

void init_drop(HWND h, cell* face, bool drop_list) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* data = stack::push(facet(f, FACET_DATA));
    if (is_block_like(data)) {
        SendMessageW(h, CB_RESETCONTENT, 0, 0);
        add_items(h, data, CB_ADDSTRING);
    }
    const cell* text = facet(f, FACET_TEXT);
    if (drop_list || text->type() != TYPE_STRING) {
        const cell* sel = facet(f, FACET_SELECTED);
        if (sel->type() == TYPE_INTEGER) SendMessageW(h, CB_SETCURSEL, (WPARAM)(integer::get(sel) - 1), 0);
    } else {
        std::wstring w = item_text(text);
        SetWindowTextW(h, w.c_str());
    }
}

void update_list_data(cell* face, cell* value, SeriesAction action, const cell* added, int32_t index,
                      int32_t part, bool combo) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* v = stack::push(value);
    const cell* fresh = added ? stack::push(added) : nullptr;
    HWND h = face_handle(f);
    if (!h) return;
    if (v->type() == TYPE_BLOCK || v->type() == TYPE_HASH) {
        int32_t pos = text_like_in(v, 0, index);
        if (before_change(action)) {
            // A move inside this same block is handled by its `moved`.
            if (action == SeriesAction::move && fresh && series::is_series(fresh->type()) &&
                series::node_of(fresh) == series::node_of(v))
                return;
            if (action == SeriesAction::clear && index == 0) {
                SendMessageW(h, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
                return;
            }
            for (int32_t n = text_like_in(v, index, part); n > 0; n--)
                SendMessageW(h, combo ? CB_DELETESTRING : LB_DELETESTRING, (WPARAM)pos, 0);
        } else if (after_change(action)) {
            cell* items = new_values(v, fresh, index, part);
            cell* word = stack::push(facet_word(f, FACET_DATA));
            int32_t n = block::length_of(items);
            for (int32_t i = 0; i < n; i++) {
                cell* item = stack::push(block::head_cell(items) + i);
                if (!is_text_like(item)) continue;
                insert_list_item(h, item, pos++, combo);
                ownership::set_deep(item, f, word);
            }
        }
        return;
    }
    if (is_text_like(v)) {
        // An item's text changed in place: that item is made again.
        int32_t pos = item_of_series(f, v);
        if (pos < 0 && (action == SeriesAction::uppercase || action == SeriesAction::lowercase)) {
            const cell* sel = facet(f, FACET_SELECTED);
            pos = sel->type() == TYPE_INTEGER ? integer::get(sel) - 1 : -1;
        }
        if (pos < 0) return;
        SendMessageW(h, combo ? CB_DELETESTRING : LB_DELETESTRING, (WPARAM)pos, 0);
        insert_list_item(h, v, pos, combo);
    }
}

// --- tab panels --------------------------------------------------------------------------------------

static void insert_tab(HWND h, const cell* text, int32_t position) {
    std::wstring w = item_text(text);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(w.c_str());
    item.cchTextMax = (int)w.size();
    item.iImage = -1;
    SendMessageW(h, TCM_INSERTITEMW, (WPARAM)position, (LPARAM)&item);
    if (!state.composition) InvalidateRect(h, nullptr, FALSE);
}

static void delete_tab(HWND h, int32_t position) {
    SendMessageW(h, TCM_DELETEITEM, (WPARAM)position, 0);
    if (!state.composition) InvalidateRect(h, nullptr, FALSE);
}

void init_tab_panel(HWND h, cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    SendMessageW(h, TCM_DELETEALLITEMS, 0, 0);
    cell* data = stack::push(facet(f, FACET_DATA));
    int32_t tabs = 0;
    if (is_block_like(data)) {
        int32_t n = block::length_of(data);
        for (int32_t i = 0; i < n; i++)
            if ((block::head_cell(data) + i)->type() == TYPE_STRING) insert_tab(h, block::head_cell(data) + i, tabs++);
    }
    cell* sel = facet(f, FACET_SELECTED);
    if (sel->type() != TYPE_INTEGER) {
        integer::make_at(sel, 1);
        return;
    }
    int32_t n = integer::get(sel);
    if (n > tabs) n = tabs;
    if (n < 1) n = 1;
    integer::make_at(sel, n);
    if (tabs > 0) select_tab(h, n - 1);
}

void update_tab_data(cell* face, cell* value, SeriesAction action, const cell* added, int32_t index,
                     int32_t part) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* v = stack::push(value);
    const cell* fresh = added ? stack::push(added) : nullptr;
    HWND h = face_handle(f);
    if (!h) return;
    if (v->type() == TYPE_STRING) {
        init_tab_panel(h, f);
        return;
    }
    if (v->type() != TYPE_BLOCK) return;
    switch (action) {
    case SeriesAction::remove: case SeriesAction::take: case SeriesAction::clear:
        for (int32_t i = 0; i < part; i++) delete_tab(h, index);
        break;
    case SeriesAction::inserted: case SeriesAction::poke: case SeriesAction::put: {
        cell* items = new_values(v, fresh, index, part);
        int32_t n = block::length_of(items), at = index;
        for (int32_t i = 0; i < n; i++, at++) {
            if (action != SeriesAction::inserted) delete_tab(h, at);
            insert_tab(h, block::head_cell(items) + i, at);
        }
        break;
    }
    default: break;
    }
}

void fit_tab_page(cell* page, HWND tab) {
    RECT r;
    GetClientRect(tab, &r);
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, (LPARAM)&r);
    double x, y, w, h;
    if (dpi.scale == 1.0f) {
        x = r.left - 3, y = r.top - 1, w = r.right - r.left + 4, h = r.bottom - r.top + 3;
    } else {
        x = dpi_unscale(r.left), y = dpi_unscale(r.top);
        w = dpi_unscale(r.right - r.left), h = dpi_unscale(r.bottom - r.top);
    }
    point2D::make_in(facet(page, FACET_OFFSET), (float)x, (float)y);
    cell* size = facet(page, FACET_SIZE);
    if (size->type() == TYPE_NONE || size->type() == TYPE_POINT2D) point2D::make_in(size, (float)w, (float)h);
    else pair::make_at(size, (int32_t)w, (int32_t)h);
}

static void logical_xy(const cell* v, double* x, double* y) {
    *x = v->type() == TYPE_POINT2D ? point2D::component(v, 0) : v->type() == TYPE_PAIR ? pair::x_of(v) : 0;
    *y = v->type() == TYPE_POINT2D ? point2D::component(v, 1) : v->type() == TYPE_PAIR ? pair::y_of(v) : 0;
}

void place_tab_page(HWND page, HWND tab, double x, double y) {
    const cell* tf = get_face_obj(tab);
    if (!tf || type_of(tf) != FaceType::tab_panel) return;
    double ox, oy;
    logical_xy(facet(tf, FACET_OFFSET), &ox, &oy);
    SetParent(page, GetParent(tab));
    SetWindowPos(page, nullptr, dpi_scale(ox + x), dpi_scale(oy + y), 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

void update_tab_panel(HWND tab, cell* face, int32_t facet_index) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* pane = stack::push(facet(f, FACET_PANE));
    if (pane->type() != TYPE_BLOCK) return;
    int32_t n = block::length_of(pane);
    if (facet_index == FACET_VISIBLE) {
        const cell* sel = facet(f, FACET_SELECTED);
        int32_t s = sel->type() == TYPE_INTEGER ? integer::get(sel) : 0;
        if (s < 1 || s > n) return;
        cell* page = block::head_cell(pane) + s - 1;
        if (HWND ph = page->type() == TYPE_OBJECT ? face_handle(page) : nullptr) {
            const cell* vis = facet(f, FACET_VISIBLE);
            show_page(ph, vis->type() == TYPE_LOGIC && logic::get(vis) ? SW_SHOW : SW_HIDE);
        }
        return;
    }
    for (int32_t i = 0; i < n; i++) {
        cell* page = stack::push(block::head_cell(pane) + i);
        if (page->type() != TYPE_OBJECT) continue;
        HWND ph = face_handle(page);
        if (!ph) continue;
        fit_tab_page(page, tab);
        double x, y, w, h;
        if (facet_index == FACET_OFFSET) {
            logical_xy(facet(page, FACET_OFFSET), &x, &y);
            place_tab_page(ph, tab, x, y);
        } else {
            logical_xy(facet(page, FACET_SIZE), &w, &h);
            SetWindowPos(ph, nullptr, 0, 0, dpi_scale(w), dpi_scale(h), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

// --- buttons ----------------------------------------------------------------------------------------

void set_button_image(HWND h, cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    cell* img = stack::push(facet(f, FACET_IMAGE));
    // The images: `img` itself, or the values of the block; the list's size.
    int32_t count = 0, w = 0, ht = 0;
    bool block = false;
    if (img->type() == TYPE_IMAGE) {
        count = 1, w = (int32_t)image::width_of(img), ht = (int32_t)image::height_of(img);
    } else if (img->type() == TYPE_BLOCK && block::length_of(img) > 0) {
        const cell* v = block::head_cell(img);
        block = true;
        if (block::length_of(img) == 2 && v[1].type() == TYPE_PAIR) {
            count = 1, w = pair::x_of(&v[1]), ht = pair::y_of(&v[1]);
        } else {
            count = 6;
            double dw, dh;
            logical_xy(facet(f, FACET_SIZE), &dw, &dh);
            w = (int32_t)dw, ht = (int32_t)dh;
        }
    }
    BUTTON_IMAGELIST current{};
    SendMessageW(h, BCM_GETIMAGELIST, 0, (LPARAM)&current);
    if (current.himl && current.himl != (HIMAGELIST)-1) ImageList_Destroy(current.himl);
    HIMAGELIST list = (HIMAGELIST)-1;
    if (count > 0 && w > 0 && ht > 0) {
        list = ImageList_Create(w, ht, ILC_COLOR32, count, 0);
        for (int32_t i = 0; list && i < count; i++) {
            // Slot i shows image i when there is one, else the first.
            const cell* v = img;
            if (block) {
                v = block::head_cell(img);
                if (i < block::length_of(img) && v[i].type() == TYPE_IMAGE && count > 1) v += i;
            }
            if (v->type() != TYPE_IMAGE || image::width_of(v) == 0 || image::height_of(v) == 0) continue;
            memory::Node* copy = image_backend::resize(image::node_of(v), (uint32_t)w, (uint32_t)ht);
            if (!copy) continue;
            HBITMAP bmp = (HBITMAP)image_backend::to_hbitmap(copy);
            if (bmp) {
                ImageList_Add(list, bmp, nullptr);
                DeleteObject(bmp);
            }
            image_backend::free_bitmaps(copy);
        }
        if (!list) list = (HIMAGELIST)-1;
    }
    SendMessageW(h, BM_SETSTYLE, (WPARAM)(GetWindowLongW(h, GWL_STYLE) | BS_BITMAP), FALSE);
    BUTTON_IMAGELIST none{};
    SendMessageW(h, BCM_SETIMAGELIST, 0, (LPARAM)&none);
    BUTTON_IMAGELIST record{list, {0, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_CENTER};
    SendMessageW(h, BCM_SETIMAGELIST, 0, (LPARAM)&record);
}

// --- calendars ------------------------------------------------------------------------------------------

static SYSTEMTIME system_time(uint32_t w) {
    SYSTEMTIME st{};
    int32_t year = date::year_of(w);
    st.wYear = (WORD)(year <= 1600 ? 1601 : year > 9999 ? 9999 : year);
    st.wMonth = (WORD)date::month_of(w);
    st.wDay = (WORD)date::day_of(w);
    return st;
}

void set_calendar_date(HWND h, const cell* date) {
    if (date->type() != TYPE_DATE) return;
    SYSTEMTIME st = system_time(date::word_of(date));
    SendMessageW(h, MCM_SETCURSEL, 0, (LPARAM)&st);
}

void init_calendar(HWND h, cell* face) {
    stack::TopMark mark;
    cell* f = stack::push(face);
    // The dates a SYSTEMTIME holds, the range dates are clamped to.
    SYSTEMTIME range[2] = {};
    range[0].wYear = 1601, range[0].wMonth = 1, range[0].wDay = 1;
    range[1].wYear = 9999, range[1].wMonth = 12, range[1].wDay = 31;
    SendMessageW(h, MCM_SETRANGE, GDTR_MIN | GDTR_MAX, (LPARAM)range);
    if (facet(f, FACET_DATA)->type() == TYPE_DATE) {
        set_calendar_date(h, facet(f, FACET_DATA));
        return;
    }
    SYSTEMTIME st{};
    if (!SendMessageW(h, MCM_GETCURSEL, 0, (LPARAM)&st)) return;
    int32_t year = st.wYear <= 1600 ? 1601 : st.wYear > 9999 ? 9999 : st.wYear;
    date::make_in(facet(f, FACET_DATA), date::pack(year, st.wMonth, st.wDay, 0, false), 0.0);
}

void set_calendar_color(HWND h, const cell* color) {
    COLORREF c;
    if (color->type() == TYPE_TUPLE) {
        const uint8_t* b = tuple::bytes_of(color);
        c = RGB(b[0], b[1], b[2]);
    }
    else if (color->type() == TYPE_NONE) c = GetSysColor(COLOR_BTNFACE);
    else return;
    SendMessageW(h, MCM_SETCOLOR, MCSC_BACKGROUND, (LPARAM)c);
}

}  // namespace gui
