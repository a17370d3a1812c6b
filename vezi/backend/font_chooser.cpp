// The font chooser behind the platform routine request-font: the system's
// font dialog, opened on a font! object's current font (or 11-point
// "Courier New"), whose confirmed choice fills a new font! object.
// Underline, strike-out, colour and script chosen in the dialog are not
// taken.
#include <windows.h>
#include <commdlg.h>

#include <cwchar>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

namespace gui {

ChooseFontCall choose_font = ChooseFontW;

namespace {

// A field of the font set as an assignment would: its change handler
// takes ownership of a new series.
void set_font_field(cell* font, FontField field, const cell* value) {
    stack::TopMark mark;
    cell* f = stack::push(font);
    cell* now = stack::push(value);
    cell* old = stack::push(object::values(f) + field);
    *(object::values(f) + field) = *now;
    cell* w = stack::push(object::word_at_node(object::context_of(f), field));
    object::fire_on_change(f, w, old, now);
}

// The LOGFONTW the dialog opens on.
void initial_font(const cell* initial, LOGFONTW* lf) {
    if (initial->type() == TYPE_OBJECT && check_template(initial, Template::font) < 0) {
        stack::TopMark mark;
        cell* font = stack::push(initial);
        if (HFONT h = get_font(nullptr, font)) {
            GetObjectW(h, sizeof *lf, lf);
            return;
        }
    }
    wcscpy(lf->lfFaceName, L"Courier New");
    lf->lfHeight = -(11 * dpi.y / 72);
    lf->lfCharSet = DEFAULT_CHARSET;
}

}  // namespace

void request_font(cell* result, const cell* initial, bool mono) {
    LOGFONTW lf{};
    initial_font(initial, &lf);
    CHOOSEFONTW cf{};
    cf.lStructSize = sizeof cf;
    cf.hwndOwner = GetForegroundWindow();
    cf.lpLogFont = &lf;
    cf.Flags = CF_SCREENFONTS | CF_PRINTERFONTS | CF_INITTOLOGFONTSTRUCT | CF_NOVERTFONTS |
               (mono ? CF_FIXEDPITCHONLY : 0);
    bool chosen = sys::to_platform([&] { return choose_font(&cf) != FALSE; });
    if (!chosen || result->type() != TYPE_OBJECT) {
        none::make_at(result);
        return;
    }
    stack::TopMark mark;
    cell* font = stack::push(result);
    cell* v = stack::push_cell();
    unicode::load_utf16(lf.lfFaceName, (uint32_t)wcsnlen(lf.lfFaceName, LF_FACESIZE), nullptr, v, false);
    set_font_field(font, FONT_NAME, v);
    integer::make_at(v, cf.iPointSize / 10);
    set_font_field(font, FONT_SIZE, v);
    bool bold = lf.lfWeight == FW_BOLD, italic = lf.lfItalic != 0;
    if (bold && italic) {
        cell* both = block::push_new(2);
        word::append_load("bold", series::node_of(both));
        word::append_load("italic", series::node_of(both));
        set_font_field(font, FONT_STYLE, both);
    } else if (bold || italic) {
        set_font_field(font, FONT_STYLE, word::load(bold ? "bold" : "italic"));
    }
    if (lf.lfWeight > 0 && lf.lfWeight != FW_NORMAL && lf.lfWeight != FW_BOLD) {
        integer::make_at(v, lf.lfWeight);
        set_font_field(font, FONT_WEIGHT, v);
    }
}

}  // namespace gui
