// The window procedure's own messages on a real (virtual) display: tab
// panel and calendar notifications, custom-drawn buttons, control colours,
// minimum sizes, gestures (through a fake info reader), display and DPI
// changes. Events go to a dispatcher written in Zol that logs what a
// script would read of them.
// The evaluator's fixture comes before the platform's headers, whose
// TextOut macro would rename its text sink.
#include "tests/vezi/gui/face_fixture.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/widgets.h"
#include "vezi/backend/window_proc.h"

namespace {

class WindowProc : public FaceWindowTest {
protected:
    void SetUp() override {
        FaceWindowTest::SetUp();
        saved_dpi = gui::dpi.x;
        // The dispatcher of the language layer, with a stand-in `awake`.
        gui::install_event_seam();
        ASSERT_EQ(run("log: copy [] answer: none"
                      " system/vezi/awake: func [e /with f][append log e/type append/only log e/picked"
                      " answer]"
                      " none"),
                  "none");
    }
    void TearDown() override {
        run("system/vezi/awake: none");
        gui::menu_command = nullptr;
        gui::context_menu = nullptr;
        gui::set_dpi(saved_dpi);
        FaceWindowTest::TearDown();
    }
    void forget_events() override { run("clear log"); }
    int32_t saved_dpi = 96;
};

TEST_F(WindowProc, TabPanelSelectionShowsItsPage) {
    HWND h = window("size: 300x200");
    HWND p1 = child("p1", "type: 'panel size: 100x100 color: 1.1.1");
    HWND p2 = child("p2", "type: 'panel size: 100x100 color: 2.2.2");
    HWND tab = child("t", "type: 'tab-panel size: 200x150 selected: 1");
    ASSERT_EQ(run("t/pane: reduce [p1 p2] none"), "none");
    for (const wchar_t* text : {L"one", L"two"}) {
        TCITEMW item{TCIF_TEXT, 0, 0, (wchar_t*)text, 0, -1, 0};
        SendMessageW(tab, TCM_INSERTITEMW, SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0), (LPARAM)&item);
    }
    ShowWindow(p2, SW_HIDE);
    run("clear log");

    // One select (the old position) and one change (the new), the change
    // seen while `selected` still holds the old one.
    ASSERT_EQ(run("system/vezi/awake: func [e /with f][append log reduce [e/type e/picked t/selected] answer]"
                  " none"),
              "none");
    gui::select_tab(tab, 1);
    EXPECT_EQ(run("log"), "[select 1 1 change 2 1]");
    EXPECT_EQ(run("t/selected"), "2");
    EXPECT_EQ(run("reduce [p1/visible? p2/visible?]"), "[false true]");
    EXPECT_TRUE(IsWindowVisible(p2));
    EXPECT_FALSE(IsWindowVisible(p1));

    // An actor answering `stop` keeps the old tab.
    run("clear log answer: 'stop");
    gui::select_tab(tab, 0);
    EXPECT_EQ(run("log"), "[select 2 2]");
    EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(run("t/selected"), "2");
    (void)h;
}

TEST_F(WindowProc, CalendarChoiceBecomesData) {
    HWND h = window("size: 300x300");
    HWND cal = child("f", "type: 'calendar size: 250x200");
    SYSTEMTIME st{2024, 3, 0, 5, 0, 0, 0, 0};
    ASSERT_TRUE(SendMessageW(cal, MCM_SETCURSEL, 0, (LPARAM)&st));
    NMSELCHANGE n{};
    n.nmhdr = NMHDR{cal, 0, (UINT)MCN_SELCHANGE};
    n.stSelStart = n.stSelEnd = st;
    SendMessageW(h, WM_NOTIFY, 0, (LPARAM)&n);
    EXPECT_EQ(run("f/data"), "5-Mar-2024");
    EXPECT_EQ(run("log"), "[change 0]");
}

TEST_F(WindowProc, ButtonsDrawTextInTheirFontColour) {
    HWND h = window("size: 200x100");
    struct Case {
        const char* spec;
        bool red;
    } cases[] = {
        {"type: 'button size: 80x30 text: \"WWWW\" font: make font! [color: 255.0.0 size: 14]", true},
        {"type: 'check size: 80x30 text: \"WWWW\" font: make font! [color: 255.0.0 size: 14]", true},
        {"type: 'button size: 80x30 text: \"WWWW\"", false},  // no font: the control's own drawing
        {"type: 'field size: 80x30 text: \"WWWW\" font: make font! [color: 255.0.0 size: 14]", false},
    };
    for (const Case& c : cases) {
        HWND b = child("f", c.spec);
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, 120, 40);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc, bmp);
        RECT all{0, 0, 120, 40};
        FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        NMCUSTOMDRAW cd{};
        cd.hdr = NMHDR{b, 0, (UINT)NM_CUSTOMDRAW};
        cd.dwDrawStage = CDDS_PREPAINT;
        cd.hdc = dc;
        cd.rc = RECT{0, 0, 120, 40};
        SendMessageW(h, WM_NOTIFY, 0, (LPARAM)&cd);
        int red = 0;
        for (int y = 0; y < 40; y++)
            for (int x = 0; x < 120; x++) red += GetPixel(dc, x, y) == RGB(255, 0, 0);
        EXPECT_EQ(red > 0, c.red) << c.spec;
        EXPECT_EQ(GetBkMode(dc), OPAQUE) << c.spec;  // restored
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        run("system/vezi/platform/destroy-vezi f false");
    }
}

TEST_F(WindowProc, ControlColoursAreRedGreenBlue) {
    HWND h = window("size: 200x100");
    HWND f = child("f", "type: 'field size: 80x24 color: 255.0.0 font: make font! [color: 0.0.255]");
    HDC dc = GetDC(f);
    LRESULT brush = SendMessageW(h, WM_CTLCOLOREDIT, (WPARAM)dc, (LPARAM)f);
    EXPECT_EQ(brush, (LRESULT)GetStockObject(DC_BRUSH));
    EXPECT_EQ(GetBkColor(dc), RGB(255, 0, 0));
    EXPECT_EQ(GetDCBrushColor(dc), RGB(255, 0, 0));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 255));
    ReleaseDC(f, dc);
}

TEST_F(WindowProc, MinimumSizeWidensTracking) {
    HWND h = window("size: 400x300 flags: [resize] options: [min-size: 300x200]");
    RECT wr, cr;
    GetWindowRect(h, &wr);
    GetClientRect(h, &cr);
    int fw = (wr.right - wr.left) - cr.right, fh = (wr.bottom - wr.top) - cr.bottom;
    MINMAXINFO mmi{};
    mmi.ptMinTrackSize = POINT{10, 10};
    mmi.ptMaxTrackSize = POINT{5000, 5000};
    EXPECT_EQ(SendMessageW(h, WM_GETMINMAXINFO, 0, (LPARAM)&mmi), 0);
    int d = gui::window_dpi(h);
    EXPECT_EQ(mmi.ptMinTrackSize.x, 300 * d / 96 + fw);
    EXPECT_EQ(mmi.ptMinTrackSize.y, 200 * d / 96 + fh);
    EXPECT_EQ(mmi.ptMaxTrackSize.x, 5000);
    // A window cannot be made smaller than that.
    SetWindowPos(h, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetClientRect(h, &cr);
    EXPECT_GE(cr.right, 300 * d / 96);
    EXPECT_GE(cr.bottom, 200 * d / 96);
}

std::map<uintptr_t, GESTUREINFO> fake_gestures;

BOOL WINAPI fake_gesture_info(HGESTUREINFO h, GESTUREINFO* info) {
    auto it = fake_gestures.find((uintptr_t)h);
    if (it == fake_gestures.end()) return FALSE;
    *info = it->second;
    return TRUE;
}

TEST_F(WindowProc, GesturesBecomeEventsOfTheFaceUnderThem) {
    HWND h = window("size: 300x200");
    child("f", "type: 'base offset: 0x0 size: 100x100 color: 1.2.3");
    POINT on_child{gui::dpi_scale(20), gui::dpi_scale(20)}, beside{gui::dpi_scale(200), gui::dpi_scale(150)};
    ClientToScreen(h, &on_child);
    ClientToScreen(h, &beside);
    struct Step {
        DWORD id;
        uint64_t argument;
        POINT at;
    } steps[] = {
        {GID_BEGIN, 0, on_child}, {GID_ZOOM, 100, on_child}, {GID_ZOOM, 150, on_child},
        {GID_PAN, 7, beside},     {GID_END, 0, beside},      {GID_ZOOM, 80, on_child},
    };
    fake_gestures.clear();
    uintptr_t handle = 0x5000;
    for (const Step& s : steps) {
        GESTUREINFO gi{};
        gi.cbSize = sizeof gi;
        gi.dwID = s.id;
        gi.ullArguments = s.argument;
        gi.ptsLocation = POINTS{(SHORT)s.at.x, (SHORT)s.at.y};
        fake_gestures[++handle] = gi;
    }
    gui::GestureInfoReader system_reader = gui::gesture_info;
    gui::gesture_info = fake_gesture_info;
    ASSERT_EQ(run("system/vezi/awake: func [e /with f][append log reduce [e/type e/face/type e/picked] none]"
                  " none"),
              "none");
    for (uintptr_t g = 0x5001; g <= handle; g++) SendMessageW(h, WM_GESTURE, 0, (LPARAM)g);
    gui::gesture_info = system_reader;
    // The first step of each zoom has no factor; begin and end make no event.
    EXPECT_EQ(run("log"), "[zoom base none zoom base 150% pan window 7 zoom base none]");
    EXPECT_EQ(run("system/vezi/awake: func [e /with f][append log e/offset none] clear log none"), "none");
    gui::gesture_info = fake_gesture_info;
    SendMessageW(h, WM_GESTURE, 0, (LPARAM)(uintptr_t)0x5004);
    gui::gesture_info = system_reader;
    EXPECT_EQ(run("log"), "[(" + std::to_string(beside.x) + ", " + std::to_string(beside.y) + ")]");
}

TEST_F(WindowProc, DisplayChangeRefreshesTheScreens) {
    HWND h = window("size: 100x100");
    ASSERT_EQ(run("old-refresh: :system/vezi/platform/refresh-screens n: 0"
                  " system/vezi/platform/refresh-screens: func [][n: n + 1] none"),
              "none");
    SendMessageW(h, WM_DISPLAYCHANGE, 32, MAKELPARAM(1280, 800));
    EXPECT_EQ(run("n"), "1");
    // An error in it stays behind the window procedure.
    ASSERT_EQ(run("system/vezi/platform/refresh-screens: func [][n: n + 1 1 / 0] none"), "none");
    SendMessageW(h, WM_DISPLAYCHANGE, 32, MAKELPARAM(1280, 800));
    EXPECT_EQ(run("n"), "2");
    EXPECT_EQ(run("system/vezi/platform/refresh-screens: :old-refresh none"), "none");
}

TEST_F(WindowProc, DpiChangeLaysOutThePaneAndMovesTheScreen) {
    HWND h = window("offset: 50x50 size: 200x150");
    ASSERT_EQ(run("fnt: make font! [size: 12] none"), "none");
    HWND c = child("f", "type: 'base offset: 10x10 size: 40x20 color: 1.2.3 font: fnt");
    // Two screen faces: the window belongs to `a`, its monitor is `b`'s.
    ASSERT_EQ(run("w/pane: reduce [f] a: make face! [type: 'screen] b: make face! [type: 'screen]"
                  " a/pane: reduce [make face! [type: 'window] w] b/pane: next reduce [make face! [type: 'window]]"
                  " a/state: reduce [none] b/state: reduce [none] w/parent: a"
                  " old-screens: system/vezi/screens system/vezi/screens: next reduce [a b] none"),
              "none");
    cell* top = stack::arguments.top;
    cell* e = interpreter::catch_error([&] {
        cell* b = interpreter::do_block(reader::load("b/state", 7));
        HMONITOR m = MonitorFromWindow(h, MONITOR_DEFAULTTONEAREST);
        handle::make_at(block::head_cell(b), (uint32_t)(uintptr_t)m, handle::MONITOR);
    });
    stack::arguments.top = top;
    ASSERT_EQ(e, nullptr);

    int32_t before = gui::window_dpi(h);
    RECT wr;
    GetWindowRect(h, &wr);
    RECT suggested{wr.left, wr.top, wr.left + (wr.right - wr.left) * 2, wr.top + (wr.bottom - wr.top) * 2};
    SendMessageW(h, WM_DPICHANGED, MAKEWPARAM(192, 192), (LPARAM)&suggested);
    RECT cr;
    GetWindowRect(c, &cr);
    POINT o{cr.left, cr.top};
    ScreenToClient(h, &o);
    EXPECT_EQ(o.x, 20);
    EXPECT_EQ(o.y, 20);
    EXPECT_EQ(cr.right - cr.left, 80);
    EXPECT_EQ(cr.bottom - cr.top, 40);
    cell* font = nullptr;
    interpreter::catch_error([&] { font = interpreter::do_block(reader::load("fnt", 3)); });
    LOGFONTW lf{};
    if (font) GetObjectW(gui::font_handle(font, 0), sizeof lf, &lf);
    stack::arguments.top = top;
    EXPECT_EQ(lf.lfHeight, -32);
    EXPECT_EQ(run("system/vezi/metrics/dpi"), "192");
    // Moved before the position `b`'s pane is read from; gone from `a`'s.
    EXPECT_EQ(run("reduce [same? w/parent b index? b/pane same? w first head b/pane length? a/pane]"),
              "[true 3 true 1]");

    SendMessageW(h, WM_DPICHANGED, MAKEWPARAM(before, before), (LPARAM)&wr);
    run("system/vezi/screens: old-screens");
}

TEST_F(WindowProc, ActivationFocusesTheSelectedFace) {
    HWND h = window("size: 200x100");
    HWND field = child("f", "type: 'field size: 80x24");
    HWND other = child("t", "type: 'field offset: 0x30 size: 80x24");
    SetFocus(other);
    SendMessageW(h, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), other);  // `selected` none: the focus stays
    ASSERT_EQ(run("w/selected: f none"), "none");
    SendMessageW(h, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), field);
    SetFocus(h);
}

TEST_F(WindowProc, FrameDragsAndMaximizing) {
    HWND h = window("offset: 40x40 size: 200x100 flags: [resize]");
    ASSERT_EQ(run("system/vezi/awake: func [e /with f][append log e/type none] none"), "none");
    RECT wr;
    GetWindowRect(h, &wr);
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    SendMessageW(h, WM_ENTERSIZEMOVE, 0, 0);
    for (int step = 1; step <= 2; step++) {
        RECT r = wr;
        OffsetRect(&r, 10 * step, 0);
        SendMessageW(h, WM_MOVING, WMSZ_LEFT, (LPARAM)&r);
    }
    SendMessageW(h, WM_EXITSIZEMOVE, 0, 0);
    // Moving as it goes, one move when the frame is let go.
    EXPECT_EQ(run("log"), "[moving moving move]");
    int32_t x = (int32_t)gui::dpi_unscale(origin.x + 20);
    EXPECT_EQ(run("to integer! w/offset/x"), std::to_string(x));

    run("clear log");
    ShowWindow(h, SW_MAXIMIZE);
    drain();
    // The second resize because the window is maximized.
    EXPECT_EQ(run("all [find log [resize resize] find log 'maximize true]"), "true") << run("log");
}

TEST_F(WindowProc, AdditionalFaceTypesHaveTheirClassAndSeeOtherMessages) {
    static UINT seen = 0;
    static bool registered = false;
    if (!registered) {
        gui::register_class(L"ZolGauge", L"ZolPanel", nullptr, false);
        gui::add_extra_face_type(
            "gauge",
            [](HWND, UINT msg, WPARAM, LPARAM) {
                if (msg == WM_USER + 77) seen = msg;
            },
            L"ZolGauge", 0, WS_CHILD | WS_VISIBLE);
        registered = true;
    }
    window("size: 100x100");
    HWND g = child("f", "type: 'gauge size: 50x20");
    ASSERT_NE(g, nullptr);
    wchar_t name[32] = {0};
    GetClassNameW(g, name, 32);
    EXPECT_STREQ(name, L"ZolGauge");
    EXPECT_EQ(GetParent(g), face_window("w"));
    SendMessageW(g, WM_USER + 77, 0, 0);
    EXPECT_EQ(seen, (UINT)WM_USER + 77);
    // A type nobody registered is still the script's error.
    EXPECT_EQ(run("error? e: try [t: make face! [type: 'dial] show-face t w/state/1] e/id"), "face-type");
}

// A scroll-bar face moves by its line step (the value after its facets, 1%
// of the range without one), clamped, by the page in `selected`, or to the
// thumb; its data is the position over the range, and the end of a scroll
// makes no event.
TEST_F(WindowProc, ScrollBarFacesStepTheirPosition) {
    HWND h = window("size: 200x100");
    HWND s = child("f", "type: 'scroller size: 100x16 line-step: 0.25");
    HWND plain = child("t", "type: 'scroller offset: 0x30 size: 100x16");
    auto scroll = [&](HWND bar, WORD code, WORD pos) {
        SendMessageW(h, WM_HSCROLL, MAKEWPARAM(code, pos), (LPARAM)bar);
        return run(bar == s ? "f/data" : "t/data");
    };
    struct Case {
        WORD code, pos;
        const char* data;
    } cases[] = {
        {SB_LINEDOWN, 0, "0.25"}, {SB_LINEUP, 0, "0.0"}, {SB_LINEUP, 0, "0.0"},
        {SB_PAGEDOWN, 0, "0.1"},  {SB_THUMBTRACK, 50, "0.5"},
    };
    for (const Case& c : cases) EXPECT_EQ(scroll(s, c.code, c.pos), c.data) << c.code;
    EXPECT_EQ(run("f/selected"), "10%");
    run("clear log");
    scroll(s, SB_ENDSCROLL, 0);
    EXPECT_EQ(run("log"), "[]");
    EXPECT_EQ(scroll(plain, SB_LINEDOWN, 0), "0.01");
}

// Menus are reached through their hooks: a menu's command only while a
// choice is remembered, a right click that shows a context menu is eaten,
// and a menu event's `picked` is the word of the chosen item.
TEST_F(WindowProc, MenusThroughTheirHooks) {
    static HWND chosen_in = nullptr;
    static bool menu_shown = false;
    static POINT shown_at{};
    gui::menu_command = [](HWND h, int32_t) { chosen_in = h; };
    gui::context_menu = [](HWND, POINT at) {
        shown_at = at;
        return menu_shown;
    };
    HWND h = window("size: 200x100");
    HWND b = child("f", "type: 'base color: 1.1.1 offset: 10x10 size: 50x50");

    SendMessageW(h, WM_COMMAND, 3, 0);
    EXPECT_EQ(chosen_in, nullptr);  // no menu reported a choice
    HMENU menu = CreatePopupMenu();
    SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(1, 0), (LPARAM)menu);
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(1, 1), 0);  // an accelerator: no menu
    EXPECT_EQ(chosen_in, nullptr);
    SendMessageW(h, WM_COMMAND, 1, 0);
    EXPECT_EQ(chosen_in, h);
    SendMessageW(h, WM_ENTERMENULOOP, 0, 0);  // a menu bar opens: the choice goes
    chosen_in = nullptr;
    SendMessageW(h, WM_COMMAND, 1, 0);
    EXPECT_EQ(chosen_in, nullptr);

    // A right click reports alt-down, then offers the face's context menu
    // at the screen position; a menu shown eats the click.
    for (bool shown : {false, true}) {
        menu_shown = shown;
        SendMessageW(h, WM_MENUSELECT, MAKEWPARAM(2, 0), (LPARAM)menu);
        run("clear log");
        MSG m{b, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 6), 0, {0, 0}};
        int32_t answer = gui::process_message(&m);
        EXPECT_EQ(answer == 0, shown);
        EXPECT_EQ(run("first log"), "alt-down");
        POINT p{5, 6};
        ClientToScreen(b, &p);
        EXPECT_EQ(shown_at.x, p.x);
        EXPECT_EQ(shown_at.y, p.y);
        EXPECT_EQ(gui::state.combo_menu, nullptr);  // the click forgot the last choice
    }
    DestroyMenu(menu);

    run("clear log");
    cell* save = word::load("save");
    gui::event_about(h, gui::EVT_MENU, (uint32_t)word::symbol_of(save));
    gui::event_about(h, gui::EVT_MENU, 0xFFFF);  // an item without a word
    EXPECT_EQ(run("log"), "[menu save menu none]");
}

}  // namespace
