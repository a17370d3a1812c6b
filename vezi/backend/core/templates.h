// The field orders of the Vezi templates (face!, font!, para!, scroller!)
// that the backend reads by position. The templates are Zol source; start-up
// checks that each word sits where these tables put it, so a field moved in
// the library fails loudly at boot instead of making the backend read the
// wrong cell.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

// Facets of face!, 0-based.
enum Facet : int32_t {
    FACET_TYPE = 0, FACET_OFFSET, FACET_SIZE, FACET_TEXT, FACET_IMAGE, FACET_COLOR, FACET_MENU, FACET_DATA,
    FACET_ENABLED, FACET_VISIBLE, FACET_SELECTED, FACET_FLAGS, FACET_OPTIONS, FACET_PARENT, FACET_PANE,
    FACET_STATE, FACET_RATE, FACET_EDGE, FACET_PARA, FACET_FONT, FACET_ACTORS, FACET_EXTRA, FACET_DRAW,
    FACET_ON_CHANGE, FACET_ON_DEEP_CHANGE, FACET_COUNT
};
// Fields of font!, 0-based (the field numbers update-font receives).
enum FontField : int32_t {
    FONT_NAME = 0, FONT_SIZE, FONT_STYLE, FONT_WEIGHT, FONT_ANGLE, FONT_COLOR, FONT_ANTI_ALIAS, FONT_SHADOW,
    FONT_STATE, FONT_PARENT, FONT_ON_CHANGE, FONT_ON_DEEP_CHANGE, FONT_COUNT
};
// Fields of para!, 0-based.
enum ParaField : int32_t {
    PARA_ORIGIN = 0, PARA_PADDING, PARA_SCROLL, PARA_ALIGN, PARA_V_ALIGN, PARA_WRAP, PARA_PARENT,
    PARA_ON_CHANGE, PARA_COUNT
};
// Fields of scroller!, 0-based.
enum ScrollerField : int32_t {
    SCROLLER_POSITION = 0, SCROLLER_PAGE_SIZE, SCROLLER_MIN_SIZE, SCROLLER_MAX_SIZE, SCROLLER_VISIBLE,
    SCROLLER_VERTICAL, SCROLLER_PARENT, SCROLLER_ON_CHANGE, SCROLLER_COUNT
};

// Change bits of state/2: bit n-1 for the facet at 1-based position n.
constexpr uint32_t facet_bit(Facet f) { return 1u << f; }
// offset, size and visible?: what a deferred batch applies.
constexpr uint32_t GEOMETRY_BITS = facet_bit(FACET_OFFSET) | facet_bit(FACET_SIZE) | facet_bit(FACET_VISIBLE);

enum class Template { face, font, para, scroller };
// The name of a template (`face!`, ...) and its number of fields.
const char* template_name(Template t);
int32_t template_fields(Template t);
// The spelling expected at a 0-based position.
const char* template_word(Template t, int32_t index);

// The first 0-based position at which the object's word is not the one the
// backend expects (the object's field count counts: a missing or extra
// field is a mismatch at the first position it shifts); -1 when every word
// sits in its place.
int32_t check_template(const cell* object, Template t);

}  // namespace gui
