// The hidden hooks of the Vezi library (vezi/*.zol): backend start, and the
// check that the templates' fields sit where the backend reads them. The
// native build has no GUI: its backend start raises feature-na; the template
// check runs in both builds, so a moved field fails every boot.
#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "library/routines.h"
#include "runtime/ownership.h"
#include "runtime/sys.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/words.h"
#ifdef _WIN32
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/float.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"
#endif

namespace {

cell* arg(int32_t i) { return &stack::arguments.window[i]; }

// The script error of an argument of a type the routine does not take.
[[noreturn]] void raise_invalid_type(const cell* value) {
    cell* dt = stack::push_cell();
    datatype::make_at(dt, value->type());
    error::raise(error::SCRIPT, "invalid-type", dt);
}

#ifdef _WIN32
HWND handle_of(const cell* h) { return (HWND)(uintptr_t)h->data2; }
void answer_none() { none::make_at(arg(0)); }
// A Win32 call of a routine can run a window procedure, which parks what
// it raises (a drawing's error): the routine raises it once its calls have
// returned. An error of the routine's own came after it, and is dropped.
// The GUI routines exist on Windows only.
#define GUI_ONLY(...) sys::to_platform([&] { __VA_ARGS__ });
#else
#define GUI_ONLY(...) error::raise(error::INTERNAL, "feature-na");
#endif

// ctx||vezi~init: the backend's start (system/vezi/platform/init runs it).
void vezi_init() {
#ifdef _WIN32
    gui::init();
    unset::make_at(&stack::arguments.window[0]);
#else
    error::raise(error::INTERNAL, "feature-na");
#endif
}

// ctx||vezi~check-templates: every template word at its position, else
// internal bad-path naming the field that the backend would misread.
void vezi_check_templates() {
    gui::intern_words();
    const gui::Template all[] = {gui::Template::face, gui::Template::font, gui::Template::para,
                                 gui::Template::scroller};
    for (gui::Template t : all) {
        const char* name = gui::template_name(t);
        cell* value = word::get_value(word::load(name));
        int32_t at = gui::check_template(value ? value : word::load(name), t);
        if (at < 0) continue;
        std::string where = std::string(name) + "/" +
                            (at < gui::template_fields(t) ? gui::template_word(t, at) : "(extra field)");
        cell* arg = string::load(where.data(), (int32_t)where.size(), nullptr, 0);
        error::raise(error::INTERNAL, "bad-path", arg);
    }
    unset::make_at(&stack::arguments.window[0]);
}

// The routines of system/vezi/platform (the GUI is Windows-only).

// A null handle needs no GUI: the native build makes it too, so that faces
// standing for realised ones can be built without a window.
void vezi_make_null_handle() { handle::make_at(arg(0), 0, handle::NONE); }

// Later changes of the image no longer reach the face that showed it. No
// GUI needed: the native build's templates run it too.
void vezi_detach_image() {
    ownership::unset(arg(0));
    none::make_at(arg(0));
}

void vezi_make_vezi() {
    GUI_ONLY({
        HWND h = gui::make_vezi(arg(0), handle_of(arg(1)));
        handle::make_at(arg(0), (uint32_t)(uintptr_t)h, handle::WINDOW);
    })
}

void vezi_update_vezi() {
    // A face without a window only has its rich-text layout marked: that
    // much needs no GUI.
    if (arg(0)->type() == TYPE_OBJECT) {
        gui::mark_layout_needed(arg(0));
        if (object::word_count(arg(0)) <= gui::FACET_STATE ||
            (object::values(arg(0)) + gui::FACET_STATE)->type() != TYPE_BLOCK) {
            none::make_at(arg(0));
            return;
        }
    }
    GUI_ONLY({
        cell* v = arg(0);
        if (v->type() == TYPE_BLOCK) {
            int32_t n = block::length_of(v);
            for (int32_t i = 0; i < n; i++) {
                cell* f = block::head_cell(v) + i;
                if (f->type() != TYPE_OBJECT) {
                    raise_invalid_type(f);
                }
            }
            gui::update_views(v);
        } else if (v->type() == TYPE_OBJECT) {
            if (gui::type_of(v) != gui::FaceType::screen) gui::update_vezi(v);
        } else {
            raise_invalid_type(v);
        }
        answer_none();
    })
}

void vezi_destroy_vezi() {
    GUI_ONLY({
        gui::destroy_vezi(arg(0), logic::get(arg(1)));
        answer_none();
    })
}

void vezi_update_font() {
    GUI_ONLY({
        gui::update_font(arg(0), integer::get(arg(1)));
        answer_none();
    })
}

void vezi_update_para() {
    GUI_ONLY({
        gui::update_para(arg(0));
        answer_none();
    })
}

void vezi_on_change_facet() {
    GUI_ONLY({
        cell* added = arg(4)->type() == TYPE_NONE ? nullptr : arg(4);
        gui::update_facet(arg(0), arg(1), arg(2), arg(3), added, integer::get(arg(5)), integer::get(arg(6)));
        answer_none();
    })
}

void vezi_show_window() {
    GUI_ONLY({
        gui::show_window(handle_of(arg(0)));
        answer_none();
    })
}

void vezi_redraw() {
    GUI_ONLY({
        if (HWND h = gui::face_handle(arg(0))) {
            InvalidateRect(h, nullptr, FALSE);
            UpdateWindow(h);
        }
        answer_none();
    })
}

void vezi_refresh_window() {
    GUI_ONLY({
        UpdateWindow(handle_of(arg(0)));
        answer_none();
    })
}

void vezi_request_font() {
    GUI_ONLY(gui::request_font(arg(0), arg(1), logic::get(arg(2)));)
}

void vezi_do_event_loop() { GUI_ONLY(logic::make_at(arg(0), gui::do_events(logic::get(arg(0))));) }

void vezi_exit_event_loop() {
    GUI_ONLY({
        PostQuitMessage(0);
        answer_none();
    })
}

#ifdef _WIN32
// One [offset size scale monitor] record appended to the block at `data`
// (a cell on the argument stack, so it stays put while this allocates).
void add_screen(const gui::ScreenInfo& m, void* data) {
    stack::TopMark mark;
    cell* rec = block::make_in(series::node_of((cell*)data), 4);
    memory::Node* node = series::node_of(rec);
    cell v;
    pair::make_at(&v, m.rect.left, m.rect.top);
    block::append_cell_copy(node, &v);
    pair::make_at(&v, m.rect.right - m.rect.left, m.rect.bottom - m.rect.top);
    block::append_cell_copy(node, &v);
    float_::make_in(&v, m.scale);
    block::append_cell_copy(node, &v);
    handle::make_at(&v, (uint32_t)(uintptr_t)m.monitor, handle::MONITOR);
    block::append_cell_copy(node, &v);
}
#endif

void vezi_fetch_all_screens() {
    GUI_ONLY({
        cell* screens = block::push_new(2);
        gui::fetch_all_screens(add_screen, screens);
        *arg(0) = *screens;
    })
}

void vezi_get_current_screen() {
    GUI_ONLY(handle::make_at(arg(0), (uint32_t)(uintptr_t)gui::current_screen(), handle::MONITOR);)
}

void vezi_get_screen_size() {
    GUI_ONLY({
        SIZE s = gui::get_screen_size();
        pair::make_at(arg(0), s.cx, s.cy);
    })
}

void vezi_update_text() {
    GUI_ONLY({
        gui::get_text_alt(arg(0), -1);
        answer_none();
    })
}

// The text is `value` (a string!), or the face's `text` when value is none;
// a text that is not a string! measures as none.
void vezi_size_text() {
    cell* value = arg(1);
    if (value->type() != TYPE_STRING && value->type() != TYPE_NONE) {
        raise_invalid_type(value);
    }
    cell* text = stack::push(value->type() == TYPE_NONE ? object::values(arg(0)) + gui::FACET_TEXT : value);
    if (text->type() != TYPE_STRING) {
        none::make_at(arg(0));
        return;
    }
    GUI_ONLY({
        double w = 0;
        double h = 0;
        gui::get_text_size(arg(0), text, &w, &h);
        point2D::make_in(arg(0), (float)w, (float)h);
    })
}

void vezi_update_scroller() {
    GUI_ONLY({
        gui::update_scroller(arg(0), integer::get(arg(1)));
        answer_none();
    })
}

void vezi_set_dark_mode() {
    GUI_ONLY({
        HWND h = gui::face_handle(arg(0));
        if (h) gui::set_dark_mode(h, logic::get(arg(1)), gui::type_of(arg(0)) == gui::FaceType::window);
        answer_none();
    })
}

void vezi_support_dark_mode() { GUI_ONLY(logic::make_at(arg(0), gui::support_dark_mode());) }

void vezi_toggle_gpu() {
    GUI_ONLY({
        gui::dx_create_dev();
        answer_none();
    })
}

}  // namespace

namespace routines {
const Entry vezi_table[] = {
    {"ctx||vezi~init", vezi_init},
    {"ctx||vezi~check-templates", vezi_check_templates},
    {"ctx||vezi~make-null-handle", vezi_make_null_handle},
    {"ctx||vezi~make-vezi", vezi_make_vezi},
    {"ctx||vezi~update-vezi", vezi_update_vezi},
    {"ctx||vezi~detach-image", vezi_detach_image},
    {"ctx||vezi~destroy-vezi", vezi_destroy_vezi},
    {"ctx||vezi~update-font", vezi_update_font},
    {"ctx||vezi~update-para", vezi_update_para},
    {"ctx||vezi~on-change-facet", vezi_on_change_facet},
    {"ctx||vezi~show-window", vezi_show_window},
    {"ctx||vezi~redraw", vezi_redraw},
    {"ctx||vezi~refresh-window", vezi_refresh_window},
    {"ctx||vezi~do-event-loop", vezi_do_event_loop},
    {"ctx||vezi~request-font", vezi_request_font},
    {"ctx||vezi~exit-event-loop", vezi_exit_event_loop},
    {"ctx||vezi~fetch-all-screens", vezi_fetch_all_screens},
    {"ctx||vezi~get-current-screen", vezi_get_current_screen},
    {"ctx||vezi~get-screen-size", vezi_get_screen_size},
    {"ctx||vezi~update-text", vezi_update_text},
    {"ctx||vezi~size-text", vezi_size_text},
    {"ctx||vezi~update-scroller", vezi_update_scroller},
    {"ctx||vezi~set-dark-mode", vezi_set_dark_mode},
    {"ctx||vezi~support-dark-mode?", vezi_support_dark_mode},
    {"ctx||vezi~toggle-GPU", vezi_toggle_gpu},
};
const int32_t vezi_count = (int32_t)(sizeof vezi_table / sizeof vezi_table[0]);
}  // namespace routines
