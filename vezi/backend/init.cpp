// Backend start and the DPI, screen and dark-mode state every other part of
// the backend reads.
#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include "runtime/externals.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"
#include "vezi/backend/core/words.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/vezi_objects.h"

namespace gui {

State state;

// Entries that older systems lack, looked up once.
namespace {
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using SpiForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
GetDpiForWindowFn dpi_for_window_fn;
GetDpiForMonitorFn dpi_for_monitor_fn;
SpiForDpiFn spi_for_dpi_fn;

void find_entries() {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    dpi_for_window_fn = (GetDpiForWindowFn)(void*)GetProcAddress(user, "GetDpiForWindow");
    spi_for_dpi_fn = (SpiForDpiFn)(void*)GetProcAddress(user, "SystemParametersInfoForDpi");
    if (HMODULE shcore = LoadLibraryA("shcore.dll"))
        dpi_for_monitor_fn = (GetDpiForMonitorFn)(void*)GetProcAddress(shcore, "GetDpiForMonitor");
}

// Effective DPI of a monitor; the screen's logical DPI where the call is missing.
int32_t monitor_dpi(HMONITOR m) {
    UINT x = 0, y = 0;
    if (dpi_for_monitor_fn && dpi_for_monitor_fn(m, 0 /* MDT_EFFECTIVE_DPI */, &x, &y) == S_OK && x)
        return (int32_t)x;
    return GetDeviceCaps(state.screen_dc, LOGPIXELSY);
}

bool high_contrast() {
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof hc;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

void release_font(void* font) { DeleteObject((HGDIOBJ)font); }
void release_com(void* object) { com_release(object); }
}  // namespace

int32_t window_dpi(HWND hwnd) {
    UINT d = dpi_for_window_fn ? dpi_for_window_fn(GetAncestor(hwnd, GA_ROOT)) : 0;
    return d ? (int32_t)d : dpi.x;
}

int32_t push_dpi(HWND hwnd) { return gui::push_dpi(hwnd ? window_dpi(hwnd) : 0); }

void pop_dpi(int32_t old) {
    HWND active = GetActiveWindow();
    int32_t active_dpi = active && IsWindowVisible(active) ? window_dpi(active) : 0;
    gui::pop_dpi(old, active_dpi);
}

void set_dpi_from_window(HWND hwnd) { set_dpi(window_dpi(hwnd)); }

void dpi_from_cursor() {
    POINT p{};
    GetCursorPos(&p);
    set_dpi(monitor_dpi(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST)));
}

void dpi_for_rect(double ox, double oy, double sx, double sy) {
    gui::dpi_for_rect(
        ox, oy, sx, sy,
        [](const Rect& r) {
            RECT rc{r.left, r.top, r.right, r.bottom};
            return monitor_dpi(MonitorFromRect(&rc, MONITOR_DEFAULTTONEAREST));
        },
        [] {
            dpi_from_cursor();
            return dpi.x;
        });
}

void set_default_font(HWND hwnd) {
    free(state.font_name);
    state.font_name = nullptr;
    if (hwnd) {
        if (HFONT old = (HFONT)GetWindowLongPtrW(hwnd, SLOT_FONT)) DeleteObject(old);
        SetWindowLongPtrW(hwnd, SLOT_FONT, 0);
    }
    NONCLIENTMETRICSW m{};
    m.cbSize = 504;
    bool ok = spi_for_dpi_fn ? spi_for_dpi_fn(SPI_GETNONCLIENTMETRICS, 504, &m, 0, (UINT)dpi.y)
                             : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 504, &m, 0);
    if (ok) {
        state.font_name = _wcsdup(m.lfMessageFont.lfFaceName);
        state.font_size = font_points(m.lfMessageFont.lfHeight, dpi.y);
        set_fonts_values(state.font_name, state.font_size);
        state.default_font = CreateFontIndirectW(&m.lfMessageFont);
        if (hwnd) SetWindowLongPtrW(hwnd, SLOT_FONT, (LONG_PTR)CreateFontIndirectW(&m.lfMessageFont));
    } else {
        state.default_font = nullptr;
    }
    if (!state.default_font) {
        state.default_font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        if (hwnd) SetWindowLongPtrW(hwnd, SLOT_FONT, 0);
    }
}

void set_metrics() {
    set_metrics_values(dpi.x, GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYVSCROLL),
                       GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_BTNFACE));
}

bool dark_mode_supported() {
    if (!state.windows_10 || !state.dark_mode_entry || high_contrast()) return false;
    return state.dark_mode_entry() != 0;
}

bool support_dark_mode() { return state.windows_10 && !high_contrast(); }

void set_dark_mode(HWND hwnd, bool dark, bool set_frame) {
    if (set_frame) {
        using SetAttr = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
        if (HMODULE dwm = LoadLibraryA("dwmapi.dll")) {
            if (auto f = (SetAttr)(void*)GetProcAddress(dwm, "DwmSetWindowAttribute")) {
                BOOL d = dark;
                f(hwnd, 20, &d, 4);
            }
        }
    }
    using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    if (HMODULE ux = LoadLibraryA("uxtheme.dll"))
        if (auto f = (SetTheme)(void*)GetProcAddress(ux, "SetWindowTheme"))
            f(hwnd, dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
}

SIZE get_screen_size() {
    return {logical_extent(GetDeviceCaps(state.screen_dc, HORZRES), dpi.x),
            logical_extent(GetDeviceCaps(state.screen_dc, VERTRES), dpi.y)};
}

HMONITOR current_screen() {
    POINT p{};
    GetCursorPos(&p);
    return MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST);
}

namespace {
struct Enumeration {
    void (*each)(const ScreenInfo&, void*);
    void* data;
    int32_t count;
};
BOOL CALLBACK each_monitor(HMONITOR m, HDC, LPRECT rect, LPARAM lp) {
    return sys::from_platform<BOOL>(FALSE, [&] {
        auto* e = (Enumeration*)lp;
        int32_t d = monitor_dpi(m);
        // Monitors beyond the table's room are left out.
        if (!state.monitors->add((uintptr_t)m, d)) return TRUE;
        e->count++;
        if (e->each) e->each({*rect, (float)(d / 96.0), m}, e->data);
        return TRUE;
    });
}
}  // namespace

int32_t fetch_all_screens(void (*each)(const ScreenInfo&, void*), void* data) {
    state.monitors->reset();
    Enumeration e{each, data, 0};
    EnumDisplayMonitors(nullptr, nullptr, each_monitor, (LPARAM)&e);
    sys::resume_pending();
    return e.count;
}

void init() {
    if (state.initialised) return;
    intern_words();
    find_entries();
    // 1-2: who and what we run on.
    state.process_id = GetCurrentProcessId();
    state.screen_dc = GetDC(nullptr);
    state.instance = GetModuleHandleW(nullptr);
    state.version.dwOSVersionInfoSize = 284;
    GetVersionExW((OSVERSIONINFOW*)&state.version);
    DWORD major = state.version.dwMajorVersion, minor = state.version.dwMinorVersion;
    // 3: common controls (standard, date, progress, up-down, tab, bar, list-view).
    if (!(major == 5 && minor < 1)) {
        INITCOMMONCONTROLSEX icc{8, 0x413D};
        InitCommonControlsEx(&icc);
    }
    // 4: composition.
    if (HMODULE dwm = LoadLibraryA("dwmapi.dll")) {
        using IsComposition = HRESULT(WINAPI*)(BOOL*);
        if (auto f = (IsComposition)(void*)GetProcAddress(dwm, "DwmIsCompositionEnabled")) {
            BOOL on = FALSE;
            state.composition = f(&on) == S_OK && on;
        }
        FreeLibrary(dwm);
    }
    // 5-6: version flags and the version tuple.
    state.windows_10 = major >= 10;
    state.windows_8 = major >= 10 || (major >= 6 && minor >= 2);
    state.pre_vista = major < 6;
    set_version_values(major, minor, state.version.dwBuildNumber, state.version.wProductType, false);
    // 7-9: DPI, drawing factories, default font.
    dpi_from_cursor();
    if (!state.pre_vista) dx_init();
    set_default_font(nullptr);
    // 10-11: classes, build and product.
    register_classes(state.instance);
    set_version_values(major, minor, state.version.dwBuildNumber, state.version.wProductType, true);
    // 12-13: the monitor table and the metrics.
    state.monitors = (MonitorTable*)sys::allocate(sizeof(MonitorTable));
    *state.monitors = MonitorTable{};
    set_metrics();
    // 14: dark mode, through the theme library's unnamed entry.
    if (state.windows_10) {
        if (HMODULE ux = LoadLibraryA("uxtheme.dll")) {
            state.dark_mode_entry = (BOOL(WINAPI*)())(void*)GetProcAddress(ux, MAKEINTRESOURCEA(132));
            state.dark_mode = dark_mode_supported();
        }
    }
    // 15: event! reads backend events through our getters.
    install_event_seam();
    // 16-17: the clock and the handle types.
    perf_counter_now(&state.perf_start);
    state.font_handle_type = externals::register_type("font", release_font);
    state.com_handle_type = externals::register_type("com-object", release_com);
    state.initialised = true;
}

}  // namespace gui
