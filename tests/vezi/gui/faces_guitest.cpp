// Native faces on a real (virtual) display: windows made through the
// platform routines from faces built in Zol, the events their window
// procedure reports (recorded by a stand-in dispatcher), facet updates,
// timers, edit selections, sibling batches and fonts.
// The evaluator's fixture comes before the platform's headers, whose
// TextOut macro would rename its text sink.
#include "tests/evaluator/eval.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/object.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/gui.h"

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

class Faces : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        seen.clear();
        gui::awake = record_types;
        // No `show` yet: changes only mark their bits, the tests apply them.
        ASSERT_EQ(run("system/vezi/auto-sync?: false none"), "none");
        ASSERT_EQ(run("show-face: func [f parent][f/state: reduce ["
                      "system/vezi/platform/make-vezi f parent 0 none false] f/state/1]"
                      " none"),
                  "none");
    }
    void TearDown() override {
        run("foreach w [w f a p][if all [value? w object? get w][system/vezi/platform/destroy-vezi get w false]]"
            " w: f: a: p: none");
        drain();
        gui::awake = [] { return (int32_t)1; };
        EvalTest::TearDown();
    }
    static void drain() {
        while (gui::do_events(true)) {
        }
    }
    // The window of the face a global word holds.
    HWND window_of(const char* word) {
        cell* top = stack::arguments.top;
        cell* v = nullptr;
        interpreter::catch_error([&] {
            std::string code = std::string(word);
            v = interpreter::do_block(reader::load(code.data(), code.size()));
        });
        HWND h = v ? gui::face_handle(v) : nullptr;
        stack::arguments.top = top;
        return h;
    }
    // Makes the window of a window face `w` from its spec, shown.
    HWND window(const std::string& spec) {
        EXPECT_EQ(run("w: make face! [type: 'window " + spec + "] show-face w system/vezi/platform/make-null-handle"
                      " type? w/state/1"),
                  "handle!");
        HWND h = window_of("w");
        ShowWindow(h, SW_SHOWNORMAL);
        drain();
        seen.clear();
        return h;
    }
    // A child face `f` of the window.
    HWND child(const std::string& spec) {
        EXPECT_EQ(run("f: make face! [" + spec + "] show-face f w/state/1 type? f/state/1"), "handle!");
        drain();
        seen.clear();
        return window_of("f");
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
    HWND b = child("type: 'check flags: [tri-state] size: 80x20");
    EXPECT_EQ(GetWindowLongW(b, GWL_STYLE) & 0xF, BS_AUTO3STATE);
}

TEST_F(Faces, HintAndCursorFromOptions) {
    window("size: 200x100");
    HWND f = child("type: 'field size: 100x24 options: [hint \"Name\"]");
    wchar_t banner[32] = {0};
    SendMessageW(f, 0x1502, (WPARAM)banner, 32);  // EM_GETCUEBANNER
    EXPECT_STREQ(banner, L"Name");
    HWND b = child("type: 'base size: 50x50 color: 1.2.3 options: [cursor: hand]");
    EXPECT_EQ((HCURSOR)GetWindowLongPtrW(b, 32), LoadCursorW(nullptr, IDC_HAND));
}

TEST_F(Faces, MinimizeReportsNoMove) {
    HWND h = window("offset: 60x60 size: 200x100");
    ShowWindow(h, SW_MINIMIZE);
    drain();
    EXPECT_TRUE(saw("minimize"));
    EXPECT_FALSE(saw("move"));
    seen.clear();
    SendMessageW(h, WM_MOVE, 0, MAKELPARAM(-32000, -32000));
    EXPECT_TRUE(seen.empty());
}

TEST_F(Faces, ButtonNotifications) {
    HWND h = window("size: 200x100");
    HWND r = child("type: 'radio size: 80x20 data: true");
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), (LPARAM)r);
    EXPECT_FALSE(saw("click"));  // already checked

    HWND c = child("type: 'check size: 80x20 flags: [tri-state] data: false");
    std::vector<std::string> data;
    for (int i = 0; i < 3; i++) {
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), (LPARAM)c);
        data.push_back(run("f/data"));
    }
    EXPECT_EQ(data, (std::vector<std::string>{"true", "none", "false"}));
}

TEST_F(Faces, SameListItemSelectsOnce) {
    HWND h = window("size: 200x200");
    HWND l = child("type: 'text-list size: 100x100");
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
    HWND a = child("type: 'area size: 100x100 text: \"ab^/cd\" selected: 4x5");
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
    if (gui::state.windows_8) EXPECT_EQ(gui::update_views(faces), 1);
    stack::arguments.top = top;
    RECT r;
    HWND first = nullptr;
    interpreter::catch_error([&] { first = gui::face_handle(interpreter::do_block(reader::load("first p", 7))); });
    GetWindowRect(first, &r);
    POINT o{r.left, r.top};
    ScreenToClient(window_of("w"), &o);
    EXPECT_EQ(o.x, 5 * expected_dpi() / 96);
    run("foreach x p [system/vezi/platform/destroy-vezi x false] p: none");
}

TEST_F(Faces, FontsAtTheCurrentDpi) {
    window("size: 100x100");
    ASSERT_EQ(run("fnt: make font! [size: 12] none"), "none");
    child("type: 'text size: 50x20 font: fnt");
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
    EXPECT_EQ(made, nullptr);
    stack::arguments.top = top;
}

}  // namespace
