// Native faces on a real (virtual) display: windows made through the
// platform routines from faces built in Zol, the events their window
// procedure reports (recorded by a stand-in dispatcher), facet updates,
// timers, edit selections, sibling batches and fonts.
// The evaluator's fixture comes before the platform's headers, whose
// TextOut macro would rename its text sink.
#include "tests/vezi/gui/face_fixture.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/sys.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/widget_items.h"
#include "vezi/backend/widgets.h"
#include "vezi/backend/window_proc.h"

namespace {

std::vector<std::string> seen;  // event type words, in order

int32_t record_types() {
    seen.push_back(gui::event_type_word(gui::event_record.type));
    return 1;
}

int expected_dpi() {
    const char* v = getenv("ZOL_EXPECT_DPI");
    return v && *v ? atoi(v) : 96;
}

class Faces : public FaceWindowTest {
protected:
    void SetUp() override {
        FaceWindowTest::SetUp();
        seen.clear();
        gui::awake = record_types;
    }
    void TearDown() override {
        gui::draw_face_hook = nullptr;
        gui::choose_font = ChooseFontW;
        FaceWindowTest::TearDown();
    }
    void forget_events() override { seen.clear(); }
    // Applies the change bits that the face's assignments recorded.
    std::string update(const std::string& name) {
        return run("system/vezi/platform/update-vezi " + name + " " + name + "/state/2");
    }
    static std::wstring list_item(HWND h, UINT get, int i) {
        wchar_t buf[64] = {0};
        SendMessageW(h, get, (WPARAM)i, (LPARAM)buf);
        return buf;
    }
    bool saw(const char* type) {
        for (const std::string& s : seen)
            if (s == type) return true;
        return false;
    }
    int count(const char* type) {
        int n = 0;
        for (const std::string& s : seen) n += s == type;
        return n;
    }
};

TEST_F(Faces, WindowClientSizeUnderItsDpi) {
    int d = expected_dpi();
    struct Case {
        const char* size;
        int w, h;  // logical client size
    } cases[] = {{"-1x-1", 200, 200}, {"200x100", 200, 100}};
    for (const Case& c : cases) {
        HWND h = window(std::string("offset: 40x40 size: ") + c.size);
        RECT r;
        GetClientRect(h, &r);
        EXPECT_EQ(r.right, c.w * d / 96) << c.size;
        EXPECT_EQ(r.bottom, c.h * d / 96) << c.size;
        run("system/vezi/platform/destroy-vezi w false");
        drain();
    }
}

TEST_F(Faces, WindowStylesFromFlags) {
    HWND h = window("size: 100x100 flags: [resize no-max]");
    LONG s = GetWindowLongW(h, GWL_STYLE);
    EXPECT_TRUE(s & WS_THICKFRAME);
    EXPECT_FALSE(s & WS_MAXIMIZEBOX);
    HWND b = child("f", "type: 'check flags: [tri-state] size: 80x20");
    EXPECT_EQ(GetWindowLongW(b, GWL_STYLE) & 0xF, BS_AUTO3STATE);
}

TEST_F(Faces, HintAndCursorFromOptions) {
    window("size: 200x100");
    HWND f = child("f", "type: 'field size: 100x24 options: [hint \"Name\"]");
    wchar_t banner[32] = {0};
    SendMessageW(f, 0x1502, (WPARAM)banner, 32);  // EM_GETCUEBANNER
    EXPECT_STREQ(banner, L"Name");
    HWND b = child("f", "type: 'base size: 50x50 color: 1.2.3 options: [cursor: hand]");
    EXPECT_EQ((HCURSOR)GetWindowLongPtrW(b, 32), LoadCursorW(nullptr, IDC_HAND));
}

TEST_F(Faces, MinimizeReportsNoMove) {
    HWND h = window("offset: 60x60 size: 200x100");
    std::string offset = run("w/offset");
    ShowWindow(h, SW_MINIMIZE);
    drain();
    EXPECT_TRUE(saw("minimize"));
    EXPECT_FALSE(saw("move"));
    EXPECT_EQ(run("w/offset"), offset);
    ShowWindow(h, SW_RESTORE);
    drain();
    seen.clear();
    SendMessageW(h, WM_MOVE, 0, MAKELPARAM(-32000, -32000));
    EXPECT_TRUE(seen.empty());
}

TEST_F(Faces, ButtonNotifications) {
    HWND h = window("size: 200x100");
    HWND r = child("f", "type: 'radio size: 80x20 data: true");
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), (LPARAM)r);
    EXPECT_FALSE(saw("click"));  // already checked

    HWND c = child("f", "type: 'check size: 80x20 flags: [tri-state] data: false");
    std::vector<std::string> data;
    for (int i = 0; i < 3; i++) {
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), (LPARAM)c);
        data.push_back(run("f/data"));
    }
    EXPECT_EQ(data, (std::vector<std::string>{"true", "none", "false"}));

    // Clicked for real: the control steps its own state before it notifies.
    HWND c2 = child("c", "type: 'check size: 80x20 offset: 0x30 flags: [tri-state] data: false");
    data.clear();
    for (int i = 0; i < 3; i++) {
        SendMessageW(c2, BM_CLICK, 0, 0);
        data.push_back(run("c/data"));
    }
    EXPECT_EQ(data, (std::vector<std::string>{"true", "none", "false"}));
}

TEST_F(Faces, SameListItemSelectsOnce) {
    HWND h = window("size: 200x200");
    HWND l = child("f", "type: 'text-list size: 100x100");
    SendMessageW(l, LB_ADDSTRING, 0, (LPARAM)L"a");
    SendMessageW(l, LB_ADDSTRING, 0, (LPARAM)L"b");
    SendMessageW(l, LB_SETCURSEL, 1, 0);
    for (int i = 0; i < 2; i++) SendMessageW(h, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE), (LPARAM)l);
    EXPECT_EQ(count("select"), 1);
    EXPECT_EQ(run("f/selected"), "2");
}

TEST_F(Faces, RatesOfTimers) {
    window("size: 100x100");
    EXPECT_EQ(run("f: make face! [type: 'base size: 10x10 rate: 0] show-face f w/state/1"), "script/invalid-arg");
    EXPECT_EQ(run("f: make face! [type: 'base size: 10x10 rate: 50] show-face f w/state/1 none"), "none");
    Sleep(100);
    drain();
    EXPECT_TRUE(saw("time"));
}

TEST_F(Faces, AreaSelectionAcrossLineBreaks) {
    window("size: 200x200");
    HWND a = child("f", "type: 'area size: 100x100 text: \"ab^/cd\" selected: 4x5");
    DWORD s = 0, e = 0;
    SendMessageW(a, EM_GETSEL, (WPARAM)&s, (LPARAM)&e);
    EXPECT_EQ(s, 4u);
    EXPECT_EQ(e, 6u);
}

TEST_F(Faces, SiblingsMoveInOneBatch) {
    window("size: 400x400");
    ASSERT_EQ(run("p: collect [repeat i 20 [keep make face! [type: 'base color: 1.1.1 size: 10x10]]]"
                  " foreach x p [show-face x w/state/1] none"),
              "none");
    ASSERT_EQ(run("foreach x p [x/offset: 5x5 x/state/2: 2] none"), "none");
    cell* top = stack::arguments.top;
    cell* faces = nullptr;
    interpreter::catch_error([&] { faces = interpreter::do_block(reader::load("p", 1)); });
    ASSERT_NE(faces, nullptr);
    // Before Windows 8 each face moves in its own update: no batch.
    EXPECT_EQ(gui::update_views(faces), gui::state.windows_8 ? 1 : 0);
    stack::arguments.top = top;
    RECT r;
    HWND first = nullptr;
    interpreter::catch_error([&] { first = gui::face_handle(interpreter::do_block(reader::load("first p", 7))); });
    GetWindowRect(first, &r);
    POINT o{r.left, r.top};
    ScreenToClient(face_window("w"), &o);
    // Device pixels are logical x scale + 0.5, truncated: 5 is 8 at 144 DPI.
    EXPECT_EQ(o.x, (int)(5 * expected_dpi() / 96.0 + 0.5));
    run("foreach x p [system/vezi/platform/destroy-vezi x false] p: none");
}

TEST_F(Faces, FontsAtTheCurrentDpi) {
    window("size: 100x100");
    ASSERT_EQ(run("fnt: make font! [size: 12] none"), "none");
    child("f", "type: 'text size: 50x20 font: fnt");
    cell* top = stack::arguments.top;
    cell* font = nullptr;
    interpreter::catch_error([&] { font = interpreter::do_block(reader::load("fnt", 3)); });
    ASSERT_NE(font, nullptr);
    HFONT h = gui::font_handle(font, 0);
    ASSERT_NE(h, nullptr);
    LOGFONTW lf{};
    GetObjectW(h, sizeof lf, &lf);
    EXPECT_EQ(lf.lfHeight, -12 * gui::dpi.y / 72);
    gui::update_font(font, gui::FONT_COLOR);  // the colour is no part of the native font
    EXPECT_EQ(gui::font_handle(font, 0), h);
    stack::arguments.top = top;
    EXPECT_EQ(run("length? head fnt/parent"), "1");  // the face that uses it
}

TEST_F(Faces, FailedCreationRaisesAndMakesNothing) {
    ASSERT_EQ(run("f: make face! [type: 'button size: 10x10] none"), "none");
    cell* top = stack::arguments.top;
    HWND made = nullptr;
    // A child of a window that does not exist cannot be made.
    cell* e = interpreter::catch_error([&] {
        cell* f = interpreter::do_block(reader::load("f", 1));
        made = gui::make_vezi(f, (HWND)(uintptr_t)0x7FFF0);
    });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(spell(error::get_id(e)), "no-create");
    EXPECT_EQ(spell(word::symbol_of(object::values(e) + 3)), "button");  // names the face
    EXPECT_EQ(made, nullptr);
    stack::arguments.top = top;
    EXPECT_EQ(run("f/state"), "none");
}

// A drawing that fails is raised once the call that made the paint has
// returned: nothing crosses the window procedure, the paint ends all the
// same, and an update during which an actor painted keeps its change bits.
TEST_F(Faces, DrawingErrorsWaitForTheCallThatPainted) {
    static HWND painted = nullptr;
    painted = window("size: 200x100 draw: [pen red]");
    gui::draw_face_hook = [](HWND, cell*) { error::raise(error::SCRIPT, "invalid-arg", word::load("drawing")); };
    EXPECT_EQ(run("system/vezi/platform/redraw w"), "script/invalid-arg");
    EXPECT_EQ(sys::pending_throw, 0u);
    EXPECT_FALSE(GetUpdateRect(painted, nullptr, FALSE));

    gui::awake = [] {
        if (gui::event_record.type == gui::EVT_RESIZE) UpdateWindow(painted);
        return (int32_t)1;
    };
    EXPECT_EQ(run("w/size: 300x150 system/vezi/platform/update-vezi w"), "script/invalid-arg");
    EXPECT_EQ(sys::pending_throw, 0u);
    EXPECT_EQ(run("w/state/2"), "4");
    gui::draw_face_hook = nullptr;
    gui::awake = record_types;
    EXPECT_EQ(run("system/vezi/platform/update-vezi w w/state/2"), "0");
}

// Of the errors of one update the first goes out, with its own value: a
// second drawing that fails, an actor's error caught meanwhile and a change
// of the update that fails come after it and are dropped.
TEST_F(Faces, FirstErrorOfAnUpdateGoesOut) {
    static HWND painted = nullptr;
    static int paints = 0;
    paints = 0;
    painted = window("size: 200x100 draw: [pen red]");
    gui::draw_face_hook = [](HWND, cell*) {
        error::raise(error::SCRIPT, "invalid-arg", word::load(++paints == 1 ? "first" : "second"));
    };
    gui::awake = [] {
        if (gui::event_record.type == gui::EVT_RESIZE) {
            UpdateWindow(painted);
            InvalidateRect(painted, nullptr, FALSE);
            UpdateWindow(painted);
            error::raise(error::SCRIPT, "invalid-arg", word::load("actor"));
        }
        return (int32_t)1;
    };
    EXPECT_EQ(run("error? e: try [w/size: 300x150 w/rate: 0 system/vezi/platform/update-vezi w] e/arg1"), "first");
    EXPECT_GE(paints, 2);
    EXPECT_EQ(sys::pending_throw, 0u);
    EXPECT_EQ(run("w/state/2"), "65540");  // size and rate, for the next update
    gui::draw_face_hook = nullptr;
    gui::awake = record_types;
    EXPECT_EQ(run("w/rate: none system/vezi/platform/update-vezi w w/state/2"), "0");
}

TEST_F(Faces, ListItemsFollowData) {
    window("size: 300x300");
    HWND l = child("f", "type: 'text-list size: 100x100 data: [\"a\" 1 \"bb\" %c] selected: 2");
    EXPECT_EQ(SendMessageW(l, LB_GETCOUNT, 0, 0), 3);  // the integer is no item
    EXPECT_EQ(SendMessageW(l, LB_GETCURSEL, 0, 0), 1);
    // Values put in after the change, counted from their block position.
    ASSERT_EQ(run("insert at f/data 2 \"x\" system/vezi/platform/on-change-facet f 'data f/data 'inserted none 1 1"),
              "none");
    // Values going, reported before the change.
    ASSERT_EQ(run("system/vezi/platform/on-change-facet f 'data f/data 'remove none 2 2 remove/part at f/data 3 2"
                  " none"),
              "none");
    std::vector<std::wstring> items;
    for (int i = 0; i < SendMessageW(l, LB_GETCOUNT, 0, 0); i++) items.push_back(list_item(l, LB_GETTEXT, i));
    EXPECT_EQ(items, (std::vector<std::wstring>{L"a", L"x", L"c"}));
    // A string changed in place is made again where it stands.
    ASSERT_EQ(run("append last f/data \"d\" system/vezi/platform/on-change-facet f 'data last f/data 'appended none 1 1"),
              "none");
    EXPECT_EQ(list_item(l, LB_GETTEXT, 2), L"cd");

    HWND c = child("b", "type: 'drop-list size: 100x20 data: [\"x\" \"y\"] selected: 2 text: \"ignored\"");
    EXPECT_EQ(SendMessageW(c, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageW(c, CB_GETCURSEL, 0, 0), 1);
    ASSERT_EQ(run("system/vezi/platform/on-change-facet b 'data b/data 'inserted \"z\" 0 0"), "none");
    EXPECT_EQ(SendMessageW(c, CB_GETCOUNT, 0, 0), 2);  // concerns no value
    HWND d = child("c", "type: 'drop-down size: 100x20 data: [\"x\" \"y\"] text: \"hello\"");
    wchar_t text[16] = {0};
    GetWindowTextW(d, text, 16);
    EXPECT_STREQ(text, L"hello");
    EXPECT_EQ(SendMessageW(d, CB_GETCURSEL, 0, 0), -1);
}

TEST_F(Faces, TabsFollowData) {
    window("size: 300x300");
    HWND t = child("f", "type: 'tab-panel size: 200x200 data: [\"one\" 2 \"two\"] selected: 9");
    EXPECT_EQ(SendMessageW(t, TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(run("f/selected"), "2");  // clamped to the last tab
    ASSERT_EQ(run("insert at f/data 2 [\"p\" \"q\" \"r\"]"
                  " system/vezi/platform/on-change-facet f 'data f/data 'inserted none 1 3"),
              "none");
    std::vector<std::wstring> tabs;
    for (int i = 0; i < SendMessageW(t, TCM_GETITEMCOUNT, 0, 0); i++) {
        wchar_t buf[16] = {0};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = buf;
        item.cchTextMax = 16;
        SendMessageW(t, TCM_GETITEMW, (WPARAM)i, (LPARAM)&item);
        tabs.push_back(buf);
    }
    EXPECT_EQ(tabs, (std::vector<std::wstring>{L"one", L"p", L"q", L"r", L"two"}));
    ASSERT_EQ(run("system/vezi/platform/on-change-facet f 'data f/data 'remove none 1 3 none"), "none");
    EXPECT_EQ(SendMessageW(t, TCM_GETITEMCOUNT, 0, 0), 2);
}

TEST_F(Faces, TabSelectionShowsItsPage) {
    window("size: 300x300");
    ASSERT_EQ(run("a: make face! [type: 'panel size: 50x50] p: make face! [type: 'panel size: 50x50] none"), "none");
    HWND t = child("f", "type: 'tab-panel size: 200x200 data: [\"one\" \"two\"] pane: reduce [a p]");
    ASSERT_EQ(run("show-face a w/state/1 show-face p w/state/1 none"), "none");
    seen.clear();
    SendMessageW(t, TCM_SETCURSEL, 1, 0);
    gui::tab_selected(t);
    EXPECT_EQ(run("f/selected"), "2");
    EXPECT_EQ(run("reduce [a/visible? p/visible?]"), "[false true]");
    EXPECT_TRUE(IsWindowVisible(face_window("p")));
    EXPECT_FALSE(IsWindowVisible(face_window("a")));
    EXPECT_TRUE(saw("change"));
}

TEST_F(Faces, ChangesOfOneUpdate) {
    window("size: 300x300");
    HWND fl = child("f", "type: 'field size: 100x24 text: \"x\"");
    ASSERT_EQ(run("f/flags: [password] f/color: 1.2.3"), "1.2.3");
    EXPECT_EQ(update("f"), "0");
    EXPECT_EQ(SendMessageW(fl, EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
    // A selection of none puts the caret at the start.
    SendMessageW(fl, EM_SETSEL, 0, 1);
    ASSERT_EQ(run("f/selected: 1x1 f/selected: none"), "none");
    EXPECT_EQ(update("f"), "0");
    DWORD s = 9, e = 9;
    SendMessageW(fl, EM_GETSEL, (WPARAM)&s, (LPARAM)&e);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(e, 0u);
    // The area's control holds line breaks as CR LF.
    HWND ar = child("a", "type: 'area size: 100x100");
    ASSERT_EQ(run("a/text: \"ab^/cd\""), "\"ab^/cd\"");
    EXPECT_EQ(update("a"), "0");
    wchar_t text[16] = {0};
    GetWindowTextW(ar, text, 16);
    EXPECT_STREQ(text, L"ab\r\ncd");
}

TEST_F(Faces, AreaSelectionReadBack) {
    window("size: 200x200");
    HWND a = child("a", "type: 'area size: 100x100 text: \"ab^/cd\"");
    SendMessageW(a, EM_SETSEL, 4, 6);
    SendMessageW(a, WM_KEYUP, VK_RIGHT, 0);
    EXPECT_EQ(run("a/selected"), "4x5");
    EXPECT_TRUE(saw("select"));
    SendMessageW(a, EM_SETSEL, 2, 2);
    SendMessageW(a, WM_KEYUP, VK_RIGHT, 0);
    EXPECT_EQ(run("a/selected"), "none");
}

TEST_F(Faces, AreaScrollBarsFromText) {
    window("size: 300x300");
    HWND a = child("a", "type: 'area size: 100x100 text: {" + std::string(200, 'm') + "}");
    LONG st = GetWindowLongW(a, GWL_STYLE);
    EXPECT_TRUE(st & WS_HSCROLL);
    EXPECT_FALSE(st & WS_VSCROLL);
    HWND b = child("b", "type: 'area size: 100x100 text: 42");
    st = GetWindowLongW(b, GWL_STYLE);
    EXPECT_FALSE(st & (WS_HSCROLL | WS_VSCROLL));
}

TEST_F(Faces, AreaEditsReadTextBackAndSetScrollBars) {
    window("size: 300x300");
    HWND a = child("a", "type: 'area size: 100x100 text: \"x\"");
    EXPECT_FALSE(GetWindowLongW(a, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL));
    // A typed character, through the pump: the control's change comes back
    // while the message is current.
    SetWindowTextW(a, std::wstring(200, L'm').c_str());
    PostMessageW(a, WM_CHAR, 'm', 0);
    drain();
    EXPECT_TRUE(saw("change"));
    EXPECT_EQ(run("length? a/text"), "201");
    LONG st = GetWindowLongW(a, GWL_STYLE);
    EXPECT_TRUE(st & WS_HSCROLL);
    EXPECT_FALSE(st & WS_VSCROLL);
}

TEST_F(Faces, TextReadBackIntoTheFacesOwnString) {
    window("size: 300x300");
    HWND a = child("a", "type: 'area size: 100x100 text: next \"xyz\"");
    ASSERT_EQ(run("keep: head a/text none"), "none");
    SetWindowTextW(a, L"p\r\nq");
    EXPECT_EQ(run("system/vezi/platform/update-text a reduce [a/text same? keep a/text]"), "[\"p^/q\" true]");
    SetWindowTextW(a, L"");
    EXPECT_EQ(run("system/vezi/platform/update-text a reduce [a/text same? keep a/text]"), "[\"\" true]");
    // A text that was no string becomes a new one, owned by the face: its
    // changes in place are recorded for it.
    SetWindowTextW(a, L"r");
    EXPECT_EQ(run("a/text: none a/state/3: none system/vezi/platform/update-text a"
                  " append a/text \"!\" reduce [a/text block? a/state/3]"),
              "[\"r!\" true]");
}

TEST_F(Faces, DropDownChoiceBecomesItsText) {
    HWND w = window("size: 300x300");
    HWND d = child("c", "type: 'drop-down size: 100x20 data: [\"x\" \"yy\"] text: \"hello\"");
    SendMessageW(d, CB_SETCURSEL, 1, 0);
    SendMessageW(w, WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), (LPARAM)d);
    EXPECT_EQ(run("reduce [c/text c/selected]"), "[\"yy\" 2]");
    EXPECT_TRUE(saw("select"));
}

TEST_F(Faces, TextSizesAsFacesShowThem) {
    window("size: 300x300");
    child("f", "type: 'text size: 100x20 text: \"MM\"");
    child("b", "type: 'base size: 50x50 color: 1.1.1");
    child("c", "type: 'text size: 100x60 font: make font! [size: 30]");
    ASSERT_EQ(run("m: func [face text][system/vezi/platform/size-text face text]"
                  " s: reduce [m f none m f \"MMMM\" m b \"MM\" m b \"MMMM\" m c \"MM\""
                  " m make face! [type: 'text] \"MM\"] type? s/1"),
              "point2D!");
    // Controls measure with their GDI font, faces that draw with their own
    // text path, faces without a window on the desktop.
    EXPECT_EQ(run("reduce [s/1/x > 0 s/1/y > 0 s/2/x > (1.5 * s/1/x) s/2/y = s/1/y]"), "[true true true true]");
    EXPECT_EQ(run("reduce [s/3/x > 0 s/3/y > 0 s/4/x > (1.5 * s/3/x)]"), "[true true true]");
    EXPECT_EQ(run("reduce [s/5/x > s/1/x s/5/y > s/1/y s/6 = s/1]"), "[true true true]");
}

TEST_F(Faces, ScrollerFieldsReachTheScrollBar) {
    HWND h = window("size: 200x200");
    ASSERT_EQ(run("sc: make scroller! [parent: w] sc/max-size: 100 sc/page-size: 10 sc/position: 30 none"), "none");
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(h, SB_VERT, &si));
    EXPECT_EQ(si.nMin, 1);
    EXPECT_EQ(si.nMax, 100);
    EXPECT_EQ(si.nPage, 10u);
    EXPECT_EQ(si.nPos, 30);
    // min-size is not the bar's: its minimum stays 1.
    ASSERT_EQ(run("sc/min-size: 20 none"), "none");
    ASSERT_TRUE(GetScrollInfo(h, SB_VERT, &si));
    EXPECT_EQ(si.nMin, 1);
    ASSERT_EQ(run("sc/visible?: false none"), "none");
    EXPECT_FALSE(GetWindowLongW(h, GWL_STYLE) & WS_VSCROLL);
    // A horizontal scroller works the other bar.
    ASSERT_EQ(run("sc/vertical?: false sc/max-size: 50 none"), "none");
    si.nMax = 0;
    ASSERT_TRUE(GetScrollInfo(h, SB_HORZ, &si));
    EXPECT_EQ(si.nMax, 50);
    EXPECT_EQ(si.nPage, 10u);
}

TEST_F(Faces, PaneChangesMoveWindows) {
    HWND w = window("size: 300x300");
    ASSERT_EQ(run("a: make face! [type: 'base size: 10x10 color: 1.1.1]"
                  " b: make face! [type: 'base size: 10x10 color: 1.1.1]"
                  " c: make face! [type: 'base size: 10x10 color: 1.1.1]"
                  " foreach x reduce [a b c][show-face x w/state/1] w/pane: reduce [a b c] none"),
              "none");
    HWND ha = face_window("a"), hc = face_window("c");
    // c is moved to the head of the pane: the pane's last face ends on top.
    ASSERT_EQ(run("move find w/pane c w/pane"
                  " system/vezi/platform/on-change-facet w 'pane w/pane 'moved c 0 1 none"),
              "none");
    EXPECT_EQ(GetTopWindow(w), face_window("b"));
    // Removal, reported after the face was freed, still takes its window out.
    ASSERT_EQ(run("system/vezi/platform/destroy-vezi a false"
                  " system/vezi/platform/on-change-facet w 'pane w/pane 'remove none 1 1 a/visible?"),
              "false");
    EXPECT_FALSE(IsChild(w, ha));
    EXPECT_FALSE(IsWindowVisible(ha));
    // Into a panel: visible; into a tab-panel: left alone.
    ASSERT_EQ(run("p: make face! [type: 'panel size: 100x100] show-face p w/state/1 c/visible?: false"
                  " system/vezi/platform/on-change-facet p 'pane p/pane 'inserted c 0 1 c/visible?"),
              "true");
    EXPECT_EQ(GetParent(hc), face_window("p"));
    ASSERT_EQ(run("f: make face! [type: 'tab-panel size: 100x100] show-face f w/state/1 c/visible?: false"
                  " system/vezi/platform/on-change-facet f 'pane f/pane 'inserted c 0 1 c/visible?"),
              "false");
    // Of a block put in with a part, only that many faces move.
    ASSERT_EQ(run("d: make face! [type: 'base size: 10x10 color: 1.1.1]"
                  " e: make face! [type: 'base size: 10x10 color: 1.1.1]"
                  " foreach x reduce [d e][show-face x w/state/1]"
                  " system/vezi/platform/on-change-facet p 'pane p/pane 'inserted reduce [d e] 0 1 none"),
              "none");
    EXPECT_EQ(GetParent(face_window("d")), face_window("p"));
    EXPECT_EQ(GetParent(face_window("e")), w);
    drain();
    EXPECT_FALSE(IsWindow(ha));  // the posted close destroyed it
}

TEST_F(Faces, FontLinksAndRelease) {
    window("size: 300x300");
    ASSERT_EQ(run("fnt: make font! [size: 10] none"), "none");
    child("a", "type: 'text size: 50x20 font: fnt");
    child("b", "type: 'text size: 50x20 font: fnt");
    child("c", "type: 'text size: 50x20 font: fnt");
    EXPECT_EQ(run("reduce [index? fnt/parent length? head fnt/parent]"), "[4 3]");
    ASSERT_EQ(run("system/vezi/platform/destroy-vezi a false length? head fnt/parent"), "2");
    EXPECT_EQ(run("block? fnt/state"), "true");
    // A copy carries the state block over, but never the handles.
    ASSERT_EQ(run("fnt2: make fnt [] f: make face! [type: 'text size: 50x20 font: fnt2]"
                  " show-face f w/state/1 none"),
              "none");
    cell* top = stack::arguments.top;
    HFONT h1 = nullptr, h2 = nullptr;
    interpreter::catch_error([&] {
        h1 = gui::font_handle(interpreter::do_block(reader::load("fnt", 3)), 0);
        h2 = gui::font_handle(interpreter::do_block(reader::load("fnt2", 4)), 0);
    });
    stack::arguments.top = top;
    EXPECT_NE(h1, nullptr);
    EXPECT_NE(h2, nullptr);
    EXPECT_NE(h1, h2);
    EXPECT_EQ(run("length? head fnt2/parent"), "1");
    // The last face that shows a font lets its handles go.
    ASSERT_EQ(run("system/vezi/platform/destroy-vezi b false system/vezi/platform/destroy-vezi c false"
                  " reduce [fnt/state empty? head fnt/parent]"),
              "[none true]");
    EXPECT_EQ(GetObjectType(h1), 0u);
}

TEST_F(Faces, ParaRestylesOrRemakes) {
    window("size: 300x300");
    HWND t = child("f", "type: 'text size: 50x20 para: make para! [wrap?: false]");
    EXPECT_TRUE(GetWindowLongW(t, GWL_STYLE) & SS_ENDELLIPSIS);
    ASSERT_EQ(run("f/para/wrap?: none f/state/2: 0 system/vezi/platform/update-para f 0 f/state/2"), "262144");
    EXPECT_FALSE(GetWindowLongW(t, GWL_STYLE) & SS_ENDELLIPSIS);
    EXPECT_EQ(face_window("f"), t);
    HWND a = child("a", "type: 'area size: 50x50 text: \"x\" para: make para! []");
    ASSERT_EQ(run("a/para/align: 'right system/vezi/platform/update-para a 0 none"), "none");
    HWND a2 = face_window("a");
    EXPECT_NE(a2, a);
    EXPECT_FALSE(IsWindow(a));
    EXPECT_TRUE(GetWindowLongW(a2, GWL_STYLE) & ES_RIGHT);
}

TEST_F(Faces, CursorFromAnImage) {
    window("size: 200x100");
    HWND b = child("b", "type: 'base size: 50x50 color: 1.2.3 options: compose [cursor: (make image! 16x16)]");
    HCURSOR c = (HCURSOR)GetWindowLongPtrW(b, 32);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ((HICON)c, (HICON)GetWindowLongPtrW(b, 16));
    ASSERT_EQ(run("b/options: [cursor: cross]"), "[cursor: cross]");
    EXPECT_EQ(update("b"), "0");
    EXPECT_EQ((HCURSOR)GetWindowLongPtrW(b, 32), LoadCursorW(nullptr, IDC_CROSS));
    EXPECT_EQ(GetWindowLongPtrW(b, 16), 0);
    // The last cursor key given wins; the icon made for an earlier one goes.
    ASSERT_EQ(run("b/options: compose [cursor: (make image! 16x16) cursor: hand] none"), "none");
    EXPECT_EQ(update("b"), "0");
    EXPECT_EQ((HCURSOR)GetWindowLongPtrW(b, 32), LoadCursorW(nullptr, IDC_HAND));
    EXPECT_EQ(GetWindowLongPtrW(b, 16), 0);
}

TEST_F(Faces, CalendarShowsItsDate) {
    window("size: 300x300");
    HWND c = child("c", "type: 'calendar size: 200x200 data: 3-Feb-2001");
    SYSTEMTIME st{};
    SendMessageW(c, MCM_GETCURSEL, 0, (LPARAM)&st);
    EXPECT_EQ(st.wYear, 2001);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 3);
    // Without a date, the face takes the one the control shows.
    child("b", "type: 'calendar size: 200x200");
    EXPECT_EQ(run("date? b/data"), "true");
}

TEST_F(Faces, RateChangesTheTimer) {
    window("size: 100x100");
    HWND b = child("b", "type: 'base size: 10x10 color: 1.1.1 rate: 10");
    EXPECT_EQ(run("b/rate: 0 system/vezi/platform/update-vezi b"), "script/invalid-arg");
    EXPECT_EQ(run("b/rate: none system/vezi/platform/update-vezi b"), "none");
    EXPECT_FALSE(KillTimer(b, 1));  // already stopped
    EXPECT_EQ(run("b/rate: 0:0:0.5 system/vezi/platform/update-vezi b"), "none");
    EXPECT_TRUE(KillTimer(b, 1));
}

// A change that fails while an update applies it leaves the face's change
// bits as they were, for the next update.
TEST_F(Faces, FailedUpdateKeepsTheBits) {
    window("size: 300x300");
    child("b", "type: 'base size: 10x10 color: 1.1.1");
    ASSERT_EQ(run("b/color: 1.2.3 b/rate: 0 b/state/2"), "65568");
    EXPECT_EQ(run("system/vezi/platform/update-vezi b"), "script/invalid-arg");
    EXPECT_EQ(run("b/state/2"), "65568");
    EXPECT_EQ(run("b/rate: none system/vezi/platform/update-vezi b b/state/2"), "0");
}

// The font chooser opens on the font's own GDI font, or on 11-point
// Courier New; a confirmed choice fills the new font!, a cancel gives none.
struct FakeFontDialog {
    static LOGFONTW opened, answer;
    static DWORD flags;
    static INT points;
    static BOOL confirm;
    static BOOL WINAPI choose(LPCHOOSEFONTW cf) {
        opened = *cf->lpLogFont;
        flags = cf->Flags;
        *cf->lpLogFont = answer;
        cf->iPointSize = points;
        return confirm;
    }
};
LOGFONTW FakeFontDialog::opened, FakeFontDialog::answer;
DWORD FakeFontDialog::flags;
INT FakeFontDialog::points;
BOOL FakeFontDialog::confirm;

TEST_F(Faces, FontChooser) {
    using F = FakeFontDialog;
    LOGFONTW& opened = F::opened;
    LOGFONTW& answer = F::answer;
    DWORD& flags = F::flags;
    INT& points = F::points;
    BOOL& confirm = F::confirm;
    gui::choose_font = F::choose;
    answer = LOGFONTW{};
    wcscpy(answer.lfFaceName, L"Arial");
    answer.lfWeight = FW_BOLD;
    answer.lfItalic = 1;
    points = 125;
    confirm = TRUE;
    EXPECT_EQ(run("r: system/vezi/platform/request-font make font! [] none true reduce [r/name r/size r/style r/weight]"),
              "[\"Arial\" 12 [bold italic] none]");
    EXPECT_EQ(std::wstring(opened.lfFaceName), L"Courier New");
    EXPECT_EQ(opened.lfHeight, -(11 * gui::dpi.y / 72));
    EXPECT_EQ(flags, 0x01000043u | CF_FIXEDPITCHONLY);

    answer.lfWeight = 600;
    answer.lfItalic = 0;
    points = 90;
    EXPECT_EQ(run("fnt: make font! [name: \"Tahoma\" size: 12]"
                  " r: system/vezi/platform/request-font make font! [] fnt false reduce [r/size r/style r/weight]"),
              "[9 none 600]");
    EXPECT_EQ(std::wstring(opened.lfFaceName), L"Tahoma");
    EXPECT_EQ(opened.lfHeight, -(12 * gui::dpi.y / 72));
    EXPECT_EQ(flags, 0x01000043u);

    confirm = FALSE;
    EXPECT_EQ(run("system/vezi/platform/request-font make font! [] none false"), "none");
}

TEST_F(Faces, ButtonImageLists) {
    window("size: 300x300");
    struct Case {
        const char* image;
        int count, w, h;  // of the image list; count -1: none
    } cases[] = {
        {"make image! 8x6", 1, 8, 6},
        {"reduce [make image! 8x8 make image! 4x4]", 6, 40, 20},  // the face's size, one per state
        {"reduce [make image! 8x8 16x12]", 1, 16, 12},
        {"none", -1, 0, 0},
    };
    for (const Case& c : cases) {
        HWND b = child("b", std::string("type: 'button size: 40x20 image: ") + c.image);
        BUTTON_IMAGELIST bil{};
        SendMessageW(b, BCM_GETIMAGELIST, 0, (LPARAM)&bil);
        if (c.count < 0) {
            EXPECT_TRUE(bil.himl == nullptr || bil.himl == (HIMAGELIST)-1) << c.image;
        } else {
            ASSERT_TRUE(bil.himl != nullptr && bil.himl != (HIMAGELIST)-1) << c.image;
            int w = 0, h = 0;
            ImageList_GetIconSize(bil.himl, &w, &h);
            EXPECT_EQ(ImageList_GetImageCount(bil.himl), c.count) << c.image;
            EXPECT_EQ(w, c.w) << c.image;
            EXPECT_EQ(h, c.h) << c.image;
        }
        run("system/vezi/platform/destroy-vezi b false b: none");
        drain();
    }
    // A new image makes a new list.
    HWND t = child("c", "type: 'toggle size: 40x20 image: make image! 8x8");
    ASSERT_EQ(run("c/image: make image! 5x5 system/vezi/platform/update-vezi c none"), "none");
    BUTTON_IMAGELIST bil{};
    SendMessageW(t, BCM_GETIMAGELIST, 0, (LPARAM)&bil);
    int w = 0, h = 0;
    ImageList_GetIconSize(bil.himl, &w, &h);
    EXPECT_EQ(w, 5);
}

TEST_F(Faces, CalendarRangeHoldsEveryDate) {
    window("size: 300x300");
    HWND c = child("c", "type: 'calendar size: 200x200");
    SYSTEMTIME range[2]{};
    EXPECT_EQ(SendMessageW(c, MCM_GETRANGE, 0, (LPARAM)range), GDTR_MIN | GDTR_MAX);
    EXPECT_EQ(range[0].wYear, 1601);
    EXPECT_EQ(range[1].wYear, 9999);
}

// A tab panel's page is made beside the control, over its display area,
// and put back there when the DPI changes.
TEST_F(Faces, TabPagesLieOverTheDisplayArea) {
    HWND w = window("size: 300x300");
    HWND t = child("f", "type: 'tab-panel offset: 20x30 size: 200x150 data: [\"one\"]");
    ASSERT_EQ(run("p: make face! [type: 'panel size: 10x10] show-face p f/state/1"
                  " w/pane: reduce [f] f/pane: reduce [p] none"),
              "none");
    HWND page = face_window("p");
    EXPECT_EQ(GetParent(page), w);
    RECT area;
    GetClientRect(t, &area);
    SendMessageW(t, TCM_ADJUSTRECT, FALSE, (LPARAM)&area);
    RECT pr;
    GetWindowRect(page, &pr);
    MapWindowPoints(nullptr, t, (POINT*)&pr, 2);
    // At 96 DPI the page covers the area's edges too.
    int d = expected_dpi();
    EXPECT_NEAR(pr.left, area.left, d == 96 ? 3 : 1);
    EXPECT_NEAR(pr.top, area.top, 1);
    EXPECT_NEAR(pr.right - pr.left, area.right - area.left, d == 96 ? 4 : 1);
    EXPECT_NE(run("p/size"), "10x10");

    SetWindowPos(page, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT wr;
    GetWindowRect(w, &wr);
    SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(gui::dpi.x, gui::dpi.y), (LPARAM)&wr);
    RECT again;
    GetWindowRect(page, &again);
    MapWindowPoints(nullptr, t, (POINT*)&again, 2);
    EXPECT_EQ(again.left, pr.left);
    EXPECT_EQ(again.top, pr.top);
}

// A layered face on a hidden page is hidden too (before Windows 8 it is a
// window of its own, owned by the window, which hiding the page misses).
TEST_F(Faces, LayeredFaceHidesWithItsPage) {
    window("size: 300x300");
    HWND t = child("f", "type: 'tab-panel size: 200x150 data: [\"one\" \"two\"]");
    ASSERT_EQ(run("a: make face! [type: 'panel size: 10x10]"
                  " b: make face! [type: 'base size: 20x20 offset: 5x5]"
                  " p: make face! [type: 'panel size: 10x10 pane: reduce [b]]"
                  " f/pane: reduce [a p] show-face a f/state/1 show-face p f/state/1 show-face b p/state/1 none"),
              "none");
    HWND layered = face_window("b");
    ASSERT_TRUE(GetWindowLongW(layered, GWL_EXSTYLE) & WS_EX_LAYERED);
    SendMessageW(t, TCM_SETCURSEL, 1, 0);
    gui::tab_selected(t);
    EXPECT_TRUE(IsWindowVisible(layered));
    SendMessageW(t, TCM_SETCURSEL, 0, 0);
    gui::tab_selected(t);
    EXPECT_FALSE(IsWindowVisible(face_window("p")));
    EXPECT_FALSE(IsWindowVisible(layered));
}

TEST_F(Faces, CaretFaceMovesTheSystemCaret) {
    window("size: 200x100");
    HWND c = child("c", "type: 'caret offset: 10x4 size: 1x16");
    wchar_t cls[32] = {0};
    GetClassNameW(c, cls, 32);
    EXPECT_STREQ(cls, L"ZolBaseInternal");
    EXPECT_FALSE(IsWindowVisible(c));
    int d = expected_dpi();
    auto at = [&](int x, int y) { return POINT{(LONG)(x * d / 96.0 + 0.5), (LONG)(y * d / 96.0 + 0.5)}; };
    POINT p{};
    GetCaretPos(&p);
    EXPECT_EQ(p.x, at(10, 4).x);
    EXPECT_EQ(p.y, at(10, 4).y);
    ASSERT_EQ(run("c/offset: 30x7 system/vezi/platform/update-vezi c none"), "none");
    GetCaretPos(&p);
    EXPECT_EQ(p.x, at(30, 7).x);
    EXPECT_EQ(p.y, at(30, 7).y);
    ASSERT_EQ(run("c/visible?: false system/vezi/platform/update-vezi c none"), "none");
}

}  // namespace
