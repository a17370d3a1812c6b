#include "vezi/backend/core/dpi.h"

namespace gui {

DpiState dpi;

void set_dpi(int32_t d) {
    dpi.x = dpi.y = d;
    dpi.dpi = (float)d;
    dpi.scale = (float)(d / 96.0);
}

int32_t dpi_scale(double x) { return (int32_t)(x * dpi.scale + 0.5); }

double dpi_unscale(double x) { return x / dpi.scale; }

int32_t push_dpi(int32_t window_dpi) {
    dpi.depth++;
    int32_t old = dpi.x;
    if (window_dpi > 0) set_dpi(window_dpi);
    return old;
}

void pop_dpi(int32_t old, int32_t active_dpi) {
    dpi.depth--;
    if (old == dpi.x) return;
    set_dpi(dpi.depth == 0 && active_dpi > 0 ? active_dpi : old);
}

void dpi_for_rect(double ox, double oy, double sx, double sy,
                  const std::function<int32_t(const Rect&)>& monitor_dpi,
                  const std::function<int32_t()>& cursor_dpi) {
    for (int pass = 1; pass <= 4; pass++) {
        int32_t start = dpi.x;
        Rect r{dpi_scale(ox), dpi_scale(oy), dpi_scale(ox + sx), dpi_scale(oy + sy)};
        set_dpi(monitor_dpi(r));
        if (dpi.x == start) return;
    }
    set_dpi(cursor_dpi());
}

int32_t font_points(int32_t lf_height, int32_t y_dpi) { return -(lf_height * 72 / y_dpi); }

int32_t logical_extent(int32_t pixels, int32_t d) { return pixels * BASE_DPI / d; }

bool MonitorTable::add(uintptr_t monitor, int32_t d) {
    if (count >= CAPACITY) return false;
    entries[count++] = {monitor, (float)(d / 96.0), d};
    return true;
}

}  // namespace gui
