// Facet values as the backend applies them, without the platform: a face's
// timer rate, its `options` keys, its cursor word, the line-feed conversion
// of edit selections, and the GDI font of a `font!`. Windows code turns the
// results into calls; the native tests check the decisions.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace gui {

// --- rate --------------------------------------------------------------------------
enum class RateAction { set, kill, invalid };
// An integer n >= 1: every 1000 / n ms; a time t > 0: t x 1000 ms truncated;
// none: kill the timer; anything else (0, a negative, another type) is
// invalid and leaves the timer alone.
RateAction rate_interval(const cell* rate, uint32_t* ms);

// --- options -----------------------------------------------------------------------
// The value after the first word!, set-word!, lit-word! or get-word! of that
// spelling in an `options` block (from its head, without case); null when
// options is not a block, the key is absent or it is last.
const cell* option_value(const cell* options, const char* key);
// Index (from the head) of the value of the next pair, at an even position
// from `from` on, whose key has that spelling; -1 when there is none.
int32_t next_option_pair(const cell* options, const char* key, int32_t from);
// `accelerated` followed by the logic true.
bool option_accelerated(const cell* options);

// --- cursor ------------------------------------------------------------------------
enum class Cursor { arrow, ibeam, hand, cross, size_ns, size_we };
Cursor cursor_of(const cell* word);

// --- edit selections -----------------------------------------------------------------
// A face's `text` holds a line break as LF, its edit control as CR LF.
// direction >= 1 converts text positions to control positions, <= 0 back.
// Nothing changes unless text is a string!.
void convert_selection(const cell* text, int32_t* start, int32_t* end, int32_t direction);

// --- rich-text layout ---------------------------------------------------------------------
// A rich-text face's text-box layout is to be made again before its next
// use: the flag that ends its `handles` block (a face laid out at least
// once) becomes true. Other faces and values are left alone.
void mark_layout_needed(cell* face);

// --- fonts -----------------------------------------------------------------------------
struct GdiFont {
    int32_t height;        // negated character height at the resolution
    int32_t orientation;   // tenths of a degree
    int32_t weight;        // 0: the GDI default
    int32_t quality;       // 0, 4 (anti-aliased) or 5 (ClearType)
    bool italic, underline, strike;
    bool weight_given;     // `weight` set: the family is resolved for it
    int32_t name_units;    // UTF-16 units of `name` used; -1: the default name
    uint16_t name[32];     // `name` cut to 31 units, NUL-terminated
};
// From a font! object (fields by position). The resolution is `dpi`, the
// size below 1 or not an integer! is default_points.
GdiFont gdi_font(const cell* font, int32_t dpi, int32_t default_points);
// The font fields whose change makes new native fonts (name size style
// weight angle anti-alias?).
bool font_field_remakes(int32_t field);
// The font's `weight` when it is a positive integer! (999 at most), else
// `fallback`.
int32_t font_weight(const cell* font, int32_t fallback);
// Stores a weight in the font's `weight`; 400 and 700 are what `style`
// already says (regular, bold), and 0 or below is no weight: those leave it.
void set_font_weight(cell* font, int32_t weight);

// --- points ------------------------------------------------------------------------------
// In place: a pair! becomes a point2D! of the same x and y; a point2D! becomes
// a pair! truncated toward zero. Other values are left as they are.
void point_from_pair(cell* c);
void pair_from_point(cell* c);

}  // namespace gui
