// Small operations the whole backend shares.
#include <windows.h>
#include <unknwn.h>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/ownership.h"
#include "runtime/slot_pool.h"
#include "vezi/backend/core/text.h"
#include "vezi/backend/core/timing.h"
#include "vezi/backend/gui.h"

namespace gui {

bool face_attached(HWND hwnd) {
    wchar_t name[16];
    // Only the program's own classes have the slots.
    if (!GetClassNameW(hwnd, name, 16) || wcsncmp(name, L"Zol", 3) != 0) return false;
    return GetWindowLongW(hwnd, SLOT_FACE) != 0;
}

namespace {
int64_t frequency() {
    static int64_t f = 0;
    if (!f) {
        LARGE_INTEGER q;
        QueryPerformanceFrequency(&q);
        f = q.QuadPart;
    }
    return f;
}
}  // namespace

void perf_counter_now(int64_t* slot) {
    frequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    *slot = now.QuadPart;
}

double elapsed_time(int64_t* slot) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return elapsed_ms(slot, now.QuadPart, frequency());
}

void com_release(void* object) {
    if (object) ((IUnknown*)object)->Release();
}

int32_t wide_length(const wchar_t* s) { return (int32_t)wcslen(s); }

}  // namespace gui

// --- faces and their windows ------------------------------------------------------------

namespace gui {

HWND face_handle(const cell* face) {
    if (face->type() != TYPE_OBJECT) return nullptr;
    cell* state_facet = object::values(face) + FACET_STATE;
    if (state_facet->type() != TYPE_BLOCK || block::length_of(state_facet) < 1) return nullptr;
    cell* head = block::head_cell(state_facet);
    return head->type() == TYPE_HANDLE ? (HWND)(uintptr_t)head->data2 : nullptr;
}

cell* get_face_obj(HWND hwnd) {
    int32_t slot = face_attached(hwnd) ? GetWindowLongW(hwnd, SLOT_FACE) : 0;
    return slot ? (cell*)slot_pool::cell_at(slot) : nullptr;
}

bool face_enabled(const cell* face) {
    cell f = *face;
    for (int depth = 0; f.type() == TYPE_OBJECT && depth < 1000; depth++) {
        cell* v = object::values(&f);
        const cell& enabled = v[FACET_ENABLED];
        if (enabled.type() == TYPE_NONE || (enabled.type() == TYPE_LOGIC && enabled.data1 == 0)) return false;
        f = v[FACET_PARENT];
    }
    return true;
}

HWND selected_window(HWND hwnd) {
    cell* face = get_face_obj(hwnd);
    if (!face) return nullptr;
    cell selected = object::values(face)[FACET_SELECTED];
    return selected.type() == TYPE_OBJECT ? face_handle(&selected) : nullptr;
}

void set_focus(HWND hwnd) {
    if (HWND h = selected_window(hwnd)) SetFocus(h);
}

void get_text_alt(const cell* face_in, int32_t index) {
    cell face = *face_in;
    HWND h = face_handle(&face);
    if (!h) return;
    // The text is read whole before anything is allocated: the control may
    // send messages, which can run code and the collector.
    LRESULT n = index < 0 ? SendMessageW(h, WM_GETTEXTLENGTH, 0, 0) : SendMessageW(h, CB_GETLBTEXTLEN, index, 0);
    if (n < 0) return;
    wchar_t* text = (wchar_t*)calloc((size_t)n + 1, sizeof(wchar_t));
    if (!text) return;
    if (n > 0) {
        if (index < 0) SendMessageW(h, WM_GETTEXT, (WPARAM)(n + 1), (LPARAM)text);
        else SendMessageW(h, CB_GETLBTEXT, index, (LPARAM)text);
    }
    int32_t length = (int32_t)wcslen(text);
    clean_control_text(text, &length);
    {
        stack::TopMark mark;
        cell* s = stack::push_cell();
        string::load(text, length, s, -1);
        cell* text_facet = object::values(&face) + FACET_TEXT;
        *text_facet = *s;
        ownership::set_deep(text_facet, &face, word::load("text"));
    }
    free(text);
}

}  // namespace gui
