// The values backend start writes into `system/vezi` and its sub-objects
// (platform, metrics, fonts). They are kept here too, for the backend's own
// use; each is written into its object's field when that object and field
// exist (the language layer makes them).
#pragma once
#include <cstdint>

struct cell;

namespace gui {

struct VeziValues {
    uint8_t version[3];  // major.minor.0
    int32_t build, product;
    int32_t dpi;
    int32_t scroller_x, scroller_y;
    uint32_t text_color, window_color, panel_color;  // GetSysColor values
    int32_t font_size;
};
extern VeziValues vezi_values;

// system/vezi/platform/version (and, when `build_too`, build and product).
void set_version_values(uint32_t major, uint32_t minor, uint32_t build, uint32_t product, bool build_too);
// system/vezi/fonts/system and size.
void set_fonts_values(const wchar_t* name, int32_t size);
// system/vezi/metrics/dpi, misc (scroller) and colors (text, window, panel).
void set_metrics_values(int32_t dpi, int32_t scroll_x, int32_t scroll_y, uint32_t text, uint32_t window,
                        uint32_t panel);

// The object at system/vezi[/sub] (copied into `out`), false while the
// language layer has not made it.
bool vezi_object(const char* sub, cell* out);
// A field of system/vezi (`platform` for the platform object), or null. The
// pointer is into the object's values: use it before anything allocates.
cell* vezi_field(const char* name);

// A logic! field of system/vezi (GPU?, debug? ...); `fallback` while the
// object or the field is missing.
bool vezi_flag(const char* field, bool fallback);

}  // namespace gui
