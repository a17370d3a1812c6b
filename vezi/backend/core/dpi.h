// DPI state and scaling. Logical units are 96-DPI units; device pixels =
// logical x scale + 0.5, truncated. The current DPI changes around face
// creation, updates and drawing (push/pop, nested), on DPI-change messages
// and when a face's rectangle is placed on a monitor.
#pragma once
#include <cstdint>
#include <functional>

namespace gui {

constexpr int32_t BASE_DPI = 96;

struct DpiState {
    int32_t x = BASE_DPI, y = BASE_DPI;  // current DPI
    float dpi = 96.0f;                   // the same, as a float
    float scale = 1.0f;                  // dpi / 96
    int32_t depth = 0;                   // push_dpi nesting
};
extern DpiState dpi;

void set_dpi(int32_t d);
// Logical units to device pixels: x * scale + 0.5, truncated toward zero.
int32_t dpi_scale(double x);
// Device pixels to logical units.
double dpi_unscale(double x);

// Enters a nesting level; returns the DPI that was current. A window's DPI
// (above 0) becomes current.
int32_t push_dpi(int32_t window_dpi);
// Leaves a level. When `old` differs from the current DPI: at depth 0 the
// active visible window's DPI (active_dpi above 0) becomes current, else
// `old` does.
void pop_dpi(int32_t old, int32_t active_dpi);

struct Rect {
    int32_t left, top, right, bottom;
};
// Makes current the DPI of the monitor that holds a face's rectangle
// (logical offset and size). The device rectangle depends on the DPI being
// searched for, so the search repeats until the DPI settles, at most 4
// passes; unsettled, `cursor_dpi` decides.
void dpi_for_rect(double ox, double oy, double sx, double sy,
                  const std::function<int32_t(const Rect&)>& monitor_dpi,
                  const std::function<int32_t()>& cursor_dpi);

// Point size of a font height in pixels (negative lfHeight) at a DPI.
int32_t font_points(int32_t lf_height, int32_t y_dpi);
// A device extent in logical units (integer division).
int32_t logical_extent(int32_t pixels, int32_t d);

// The monitor table: {monitor, scale, DPI} per monitor, filled while the
// monitors are enumerated. It holds 10; further monitors are skipped.
struct MonitorEntry {
    uintptr_t monitor;
    float scale;
    int32_t dpi;
};
struct MonitorTable {
    static constexpr int32_t CAPACITY = 10;
    MonitorEntry entries[CAPACITY];
    int32_t count = 0;
    void reset() { count = 0; }
    // False (and nothing written) when the table is full.
    bool add(uintptr_t monitor, int32_t d);
};

}  // namespace gui
