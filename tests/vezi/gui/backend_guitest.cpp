// The backend on a real (virtual) display: start-up values, the window
// classes, the control procedures, event translation of posted messages
// through the pump, nested loops, the devices and a drawing read back.
// The evaluator's fixture comes before the platform's headers, whose
// TextOut macro would rename its text sink.
#include "tests/evaluator/eval.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "runtime/sys.h"
#include "vezi/backend/core/color.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/dx.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/vezi_objects.h"
#include "tests/vezi/gui/face_windows.h"

namespace {

// --- start-up ---------------------------------------------------------------------

// What the prefix is expected to report: ZOL_EXPECT_VERSION ("10.0"),
// ZOL_EXPECT_DPI, ZOL_SCREEN ("1280x800", the virtual display's size).
int env_int(const char* name, int fallback) {
    const char* v = getenv(name);
    return v && *v ? atoi(v) : fallback;
}

TEST(Start, VersionDpiAndScreen) {
    const char* want = getenv("ZOL_EXPECT_VERSION");
    int major = 10, minor = 0;
    if (want) sscanf(want, "%d.%d", &major, &minor);
    EXPECT_EQ(gui::vezi_values.version[0], major);
    EXPECT_EQ(gui::vezi_values.version[1], minor);
    EXPECT_EQ(gui::vezi_values.version[2], 0);
    EXPECT_EQ(gui::state.windows_10, major >= 10);
    EXPECT_EQ(gui::state.windows_8, major >= 10 || (major == 6 && minor >= 2));
    EXPECT_FALSE(gui::state.pre_vista);

    int dpi = env_int("ZOL_EXPECT_DPI", 96);
    EXPECT_EQ(gui::vezi_values.dpi, dpi);
    EXPECT_FLOAT_EQ(gui::dpi.scale, dpi / 96.0f);

    int w = 0, h = 0;
    if (const char* s = getenv("ZOL_SCREEN")) sscanf(s, "%dx%d", &w, &h);
    if (w > 0) {
        SIZE size = gui::get_screen_size();
        EXPECT_EQ(size.cx, w * 96 / dpi);
        EXPECT_EQ(size.cy, h * 96 / dpi);
    }
    EXPECT_NE(gui::state.default_font, nullptr);
    ASSERT_NE(gui::state.font_name, nullptr);
    EXPECT_GT(gui::vezi_values.font_size, 0);
}

TEST(Start, MonitorsEnumerated) {
    int32_t seen = gui::fetch_all_screens(nullptr, nullptr);
    EXPECT_GE(seen, 1);
    EXPECT_EQ(gui::state.monitors->count, seen);
    EXPECT_EQ(gui::state.monitors->entries[0].dpi, gui::dpi.x);
}

// --- classes and controls -----------------------------------------------------------

TEST(Classes, EveryClassHasTheWindowSlots) {
    const wchar_t* names[] = {L"ZolWindow",   L"ZolPanel",    L"ZolBase",   L"ZolBaseInternal",
                              L"ZolCamera",   L"ZolButton",   L"ZolListBox", L"ZolProgress",
                              L"ZolSlider",   L"ZolScroller", L"ZolTabpanel", L"ZolCombo",
                              L"ZolFace",     L"ZolCalendar", L"ZolArea",   L"ZolField"};
    for (const wchar_t* n : names) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        ASSERT_TRUE(GetClassInfoExW(gui::state.instance, n, &wc));
        EXPECT_EQ(wc.cbWndExtra, 80);
    }
}

// A control of one of the program's classes, destroyed with the test.
struct Control {
    HWND h;
    Control(const wchar_t* cls, DWORD style, const wchar_t* text = L"") {
        h = CreateWindowExW(0, cls, text, style | WS_VISIBLE | WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr,
                            nullptr, gui::state.instance, nullptr);
    }
    ~Control() { DestroyWindow(h); }
    std::wstring text() const {
        wchar_t buf[256] = {0};
        GetWindowTextW(h, buf, 256);
        return buf;
    }
};

void set_clipboard(const std::wstring& text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    memcpy(GlobalLock(g), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(g);
    SetClipboardData(CF_UNICODETEXT, g);
    CloseClipboard();
}

TEST(Classes, PasteRaisesTheTextLimit) {
    Control area(L"ZolArea", ES_MULTILINE | ES_AUTOHSCROLL);  // one long line, not wrapped
    ASSERT_NE(area.h, nullptr);
    SendMessageW(area.h, EM_LIMITTEXT, 30000, 0);
    SetWindowTextW(area.h, L"0123456789");
    set_clipboard(std::wstring(40000, L'x'));
    SendMessageW(area.h, WM_PASTE, 0, 0);
    EXPECT_EQ(SendMessageW(area.h, EM_GETLIMITTEXT, 0, 0), 72778);
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

TEST(Classes, FieldIgnoresEnterAndTabAreaSelectsAll) {
    Control field(L"ZolField", 0, L"ab");
    EXPECT_EQ(SendMessageW(field.h, WM_CHAR, 13, 0), 0);
    EXPECT_EQ(SendMessageW(field.h, WM_CHAR, 9, 0), 0);
    EXPECT_EQ(field.text(), L"ab");
    SendMessageW(field.h, WM_CHAR, 'c', 0);
    EXPECT_EQ(field.text().size(), 3u);

    Control area(L"ZolArea", ES_MULTILINE, L"ab");
    SendMessageW(area.h, EM_SETSEL, 2, 2);
    SendMessageW(area.h, WM_CHAR, 13, 0);
    EXPECT_EQ(area.text(), L"ab\r\n");
    EXPECT_EQ(SendMessageW(area.h, WM_CHAR, 1, 0), 1);  // Ctrl+A
    DWORD start = 1, end = 0;
    SendMessageW(area.h, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 4u);
}

// --- events through the pump -----------------------------------------------------------

// A plain window that counts what reaches its procedure.
int delivered[0x400];
LRESULT CALLBACK counting_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg < 0x400) delivered[msg]++;
    return DefWindowProcW(h, msg, w, l);
}

// A shown window of that kind that messages are posted to, the pump's
// translation state reset; destroyed with the test.
struct CountingWindow {
    HWND h;
    CountingWindow() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = counting_proc;
        wc.hInstance = gui::state.instance;
        wc.lpszClassName = L"CountingWindow";
        RegisterClassExW(&wc);  // fails harmlessly when already registered
        h = CreateWindowExW(0, L"CountingWindow", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 200, 150, nullptr,
                            nullptr, gui::state.instance, nullptr);
        drain();
        memset(delivered, 0, sizeof delivered);
        gui::state.translator = gui::Translator{};
        gui::state.last_mouse_position = -1;
    }
    ~CountingWindow() {
        DestroyWindow(h);
        drain();
    }
    // Posts the messages, then pumps until the queue is empty.
    void post(const std::vector<MSG>& messages) const {
        for (const MSG& m : messages) PostMessageW(h, m.message, m.wParam, m.lParam);
        drain();
    }
};

MSG msg(UINT m, WPARAM w, LPARAM l) { return MSG{nullptr, m, w, l, 0, {0, 0}}; }

// The recording dispatcher: each event as [type key flags], as a script
// would mold `reduce [event/type event/key event/flags]`.
std::vector<std::string> recorded;
const char* stop_type = nullptr;   // answer `stop` to events of this type
const char* raise_code = nullptr;  // Zol code the dispatcher runs first

std::string key_mold() {
    gui::KeyValue k = gui::event_key_value();
    char buf[32];
    switch (k.kind) {
        case gui::KeyValue::named: return k.word;
        case gui::KeyValue::character:
            if (k.code >= 32 && k.code < 127) snprintf(buf, sizeof buf, "#\"%c\"", (char)k.code);
            else snprintf(buf, sizeof buf, "#\"^(%X)\"", k.code);
            return buf;
        default: return "none";
    }
}

int32_t recording_awake() {
    const char* type = gui::event_type_word(gui::event_record.type);
    const char* words[8];
    int32_t n = gui::event_flag_words(gui::event_record.key_flags, words);
    std::string flags;
    for (int32_t i = 0; i < n; i++) flags += (i ? " " : "") + std::string(words[i]);
    recorded.push_back("[" + std::string(type) + " " + key_mold() + " [" + flags + "]]");
    if (raise_code) {
        cell* code = reader::load(raise_code, strlen(raise_code));
        interpreter::do_block(code);
    }
    return stop_type && strcmp(type, stop_type) == 0 ? 0 : 1;
}

class Events : public testing::Test {
protected:
    CountingWindow window;
    HWND h = window.h;
    void SetUp() override {
        recorded.clear();
        gui::awake = recording_awake;
        stop_type = nullptr;
        raise_code = nullptr;
    }
    void TearDown() override { gui::awake = [] { return (int32_t)1; }; }
    // The events recorded for the messages (moves of the real pointer are
    // left out).
    std::vector<std::string> run(std::initializer_list<MSG> messages) {
        window.post(messages);
        std::vector<std::string> out;
        for (const std::string& r : recorded)
            if (r.rfind("[over", 0) != 0 || over_wanted) out.push_back(r);
        return out;
    }
    bool over_wanted = false;
};

using Strings = std::vector<std::string>;

TEST_F(Events, KeyboardMessages) {
    struct Case {
        std::vector<MSG> messages;
        Strings events;
    } cases[] = {
        {{msg(WM_KEYDOWN, VK_F5, 0)}, {"[key-down F5 []]", "[key F5 []]"}},
        {{msg(WM_KEYDOWN, 'A', 0), msg(WM_CHAR, 'a', 0)}, {"[key-down #\"A\" []]", "[key #\"a\" []]"}},
        {{msg(WM_CHAR, 0xD83D, 0), msg(WM_CHAR, 0xDE00, 0)}, {"[key #\"^(1F600)\" []]"}},
        {{msg(WM_CHAR, 0xDE00, 0)}, {"[key #\"^(FFFD)\" []]"}},
        {{msg(WM_KEYUP, 255, 0)}, {"[key-up #\"^(FF)\" []]"}},
        {{msg(WM_SYSKEYDOWN, VK_MENU, 1 << 24)}, {"[key-down right-alt []]"}},
    };
    for (const Case& c : cases) {
        recorded.clear();
        window.post(c.messages);
        // The pump's TranslateMessage may type the posted key-down's
        // character a second time: repeats count once.
        recorded.erase(std::unique(recorded.begin(), recorded.end()), recorded.end());
        EXPECT_EQ(recorded, c.events) << c.events[0];
    }
}

TEST_F(Events, MouseMessages) {
    struct Case {
        std::vector<MSG> messages;
        Strings events;
    } cases[] = {
        {{msg(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(5, 6))}, {"[down none [down shift]]"}},
        {{msg(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 6))}, {"[down none []]", "[dbl-click none [down]]"}},
        {{msg(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(int16_t)-120), 0)}, {"[wheel wheel []]"}},
        {{msg(WM_RBUTTONUP, 0, 0), msg(WM_MBUTTONDOWN, MK_MBUTTON, 0)}, {"[alt-up none []]", "[mid-down none [mid-down]]"}},
    };
    for (const Case& c : cases) {
        recorded.clear();
        window.post(c.messages);
        Strings got;
        for (const std::string& r : recorded)
            if (r.rfind("[over", 0) != 0) got.push_back(r);
        EXPECT_EQ(got, c.events) << c.events[0];
    }
    // The wheel's notches, read while the event is current.
    recorded.clear();
    double picked = 0;
    static double* out;
    out = &picked;
    gui::awake = [] {
        if (gui::event_record.type == gui::EVT_WHEEL) *out = gui::event_wheel_picked();
        return (int32_t)1;
    };
    window.post({msg(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(int16_t)-120), 0)});
    EXPECT_DOUBLE_EQ(picked, -1.0);
}

TEST_F(Events, RepeatedMoveMakesOneOver) {
    over_wanted = true;
    Strings got = run({msg(WM_MOUSEMOVE, 0, MAKELPARAM(20, 30)), msg(WM_MOUSEMOVE, 0, MAKELPARAM(20, 30))});
    int overs = 0;
    for (const std::string& r : got) overs += r == "[over none []]";
    EXPECT_EQ(overs, 1);
    EXPECT_EQ(delivered[WM_MOUSEMOVE], 1);  // the second was eaten
}

TEST_F(Events, StopKeepsTheKeyFromTheWindow) {
    stop_type = "key-down";
    run({msg(WM_KEYDOWN, 'A', 0)});
    EXPECT_EQ(delivered[WM_KEYDOWN], 0);
    stop_type = nullptr;
    run({msg(WM_KEYDOWN, 'A', 0)});
    EXPECT_EQ(delivered[WM_KEYDOWN], 1);
}

TEST_F(Events, NothingEscapesTheDispatcher) {
    // An error, a throw and a pending exit code: each is stopped, the
    // message goes on, and the next event is delivered.
    for (const char* code : {"1 / 0", "throw 1", "exit", "break"}) {
        raise_code = code;
        recorded.clear();
        run({msg(WM_KEYUP, 'B', 0), msg(WM_KEYUP, 'C', 0)});
        EXPECT_EQ(recorded, (Strings{"[key-up #\"B\" []]", "[key-up #\"C\" []]"})) << code;
        EXPECT_EQ(delivered[WM_KEYUP], 2) << code;
        EXPECT_EQ(sys::runtime.last_throw, 0u) << code;
        EXPECT_EQ(sys::pending_throw, 0u) << code;
        memset(delivered, 0, sizeof delivered);
    }
}

TEST_F(Events, TheRecordKeepsACopyOfTheMessage) {
    // Scripts may keep `event` after its message is gone: the record holds
    // the message itself, not the address of the pump's copy.
    run({msg(WM_KEYUP, 'B', 0)});
    volatile char scribble[4096];
    memset((char*)scribble, 0xCC, sizeof scribble);
    EXPECT_EQ(gui::event_record.msg.hwnd, h);
    EXPECT_EQ(gui::event_record.msg.message, (UINT)WM_KEYUP);
    EXPECT_EQ(gui::event_record.msg.wParam, (WPARAM)'B');
}

// The dispatcher written in Zol, as scripts have it: the event's fields are
// read through the backend's getters and the answer decides the message.
class ZolEvents : public EvalTest {
protected:
    CountingWindow window;
    void SetUp() override {
        EvalTest::SetUp();
        ASSERT_NE(window.h, nullptr);
        gui::install_event_seam();
        ASSERT_EQ(run("events: copy [] picked: none stop-type: none raise-code: none "
                      "system/vezi/awake: func [event /with face /local rec][ "
                      "  rec: reduce [event/type event/key event/flags] "
                      "  unless rec = last events [append/only events rec] "
                      "  if event/type = 'wheel [picked: event/picked] "
                      "  if raise-code [do raise-code] "
                      "  either event/type = stop-type ['stop]['done] "
                      "] none"),
                  "none");
    }
    void TearDown() override {
        run("system/vezi/awake: none");
        gui::awake = [] { return (int32_t)1; };
        EvalTest::TearDown();
    }
    // The events recorded for the messages, moves of the real pointer left
    // out.
    std::string post(const std::vector<MSG>& messages) {
        run("clear events");
        window.post(messages);
        return run("remove-each e events [e/1 = 'over] events");
    }
};

TEST_F(ZolEvents, PostedMessagesThroughTheGetters) {
    struct Case {
        std::vector<MSG> messages;
        const char* events;  // Zol code of the expected block
    } cases[] = {
        {{msg(WM_KEYDOWN, VK_F5, 0)}, "[[key-down F5 []] [key F5 []]]"},
        {{msg(WM_KEYDOWN, 'A', 0), msg(WM_CHAR, 'a', 0)}, "[[key-down #\"A\" []] [key #\"a\" []]]"},
        {{msg(WM_CHAR, 0xD83D, 0), msg(WM_CHAR, 0xDE00, 0)}, "[[key #\"^(1F600)\" []]]"},
        {{msg(WM_CHAR, 0xDE00, 0)}, "[[key #\"^(FFFD)\" []]]"},
        {{msg(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(int16_t)-120), 0)}, "[[wheel wheel []]]"},
        {{msg(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(5, 6))}, "[[down none [down shift]]]"},
        {{msg(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 6))}, "[[down none []] [dbl-click none [down]]]"},
    };
    for (const Case& c : cases) {
        std::string got = post(c.messages);
        EXPECT_EQ(got, run(c.events)) << c.events;
    }
    EXPECT_EQ(run("picked"), "-1.0");
}

TEST_F(ZolEvents, StopKeepsTheKeyFromTheWindow) {
    run("stop-type: 'key-down");
    post({msg(WM_KEYDOWN, 'A', 0)});
    EXPECT_EQ(delivered[WM_KEYDOWN], 0);
    run("stop-type: none");
    post({msg(WM_KEYDOWN, 'A', 0)});
    EXPECT_EQ(delivered[WM_KEYDOWN], 1);
}

TEST_F(ZolEvents, NothingEscapesTheDispatcher) {
    // An error, a throw, a break and a return crossing the dispatcher, and a
    // quit: each is stopped there, the message goes on, and the next event
    // is delivered.
    for (const char* code : {"[1 / 0]", "[throw 1]", "[break]", "[throw/name 1 'x]", "[make error! \"x\"]",
                             "[do make error! \"x\"]"}) {
        run(std::string("raise-code: ") + code);
        memset(delivered, 0, sizeof delivered);
        std::string got = post({msg(WM_KEYUP, 'B', 0), msg(WM_KEYUP, 'C', 0)});
        EXPECT_EQ(got, run("[[key-up #\"B\" []] [key-up #\"C\" []]]")) << code;
        EXPECT_EQ(delivered[WM_KEYUP], 2) << code;
        EXPECT_EQ(sys::runtime.last_throw, 0u) << code;
        EXPECT_EQ(sys::pending_throw, 0u) << code;
    }
}

class ZolStart : public EvalTest {};

TEST_F(ZolStart, PlatformValuesAndScreens) {
    const char* version = getenv("ZOL_EXPECT_VERSION");
    EXPECT_EQ(run("system/vezi/platform/version"), std::string(version ? version : "10.0") + ".0");
    int dpi = env_int("ZOL_EXPECT_DPI", 96);
    EXPECT_EQ(run("system/vezi/metrics/dpi"), std::to_string(dpi));
    int w = 0, h = 0;
    if (const char* s = getenv("ZOL_SCREEN")) sscanf(s, "%dx%d", &w, &h);
    if (w > 0)
        EXPECT_EQ(run("system/vezi/platform/get-screen-size 0"),
                  std::to_string(w * 96 / dpi) + "x" + std::to_string(h * 96 / dpi));
    EXPECT_EQ(run("s: system/vezi/platform/fetch-all-screens reduce [type? s/1/1 type? s/1/2 type? s/1/3 "
                  "type? s/1/4 s/1/3]"),
              "[pair! pair! float! handle! " + run(std::to_string(dpi / 96.0)) + "]");
    EXPECT_EQ(run("system/vezi/platform/get-current-screen = s/1/4"), "true");
    EXPECT_EQ(run("type? system/vezi/platform/support-dark-mode?"), "logic!");
}

TEST_F(ZolStart, TextFormatsAreCachedInTheFont) {
    ASSERT_EQ(run("fnt: make font! [name: \"Consolas\" size: 12 style: [bold italic]] none"), "none");
    cell* f = stack::push_cell();
    *f = *interpreter::do_block(reader::load("fnt", 3));
    IDWriteTextFormat* a = gui::create_text_format(f);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(gui::create_text_format(f), a);
    EXPECT_EQ(a->GetFontWeight(), DWRITE_FONT_WEIGHT_BOLD);
    EXPECT_EQ(a->GetFontStyle(), DWRITE_FONT_STYLE_ITALIC);
    EXPECT_FLOAT_EQ(a->GetFontSize(), 16.0f);
    EXPECT_EQ(run("type? fnt/state/2"), "handle!");
}

// Text and selection read back from an edit control into its face.
TEST_F(ZolStart, AreaTextAndSelectionReadBack) {
    ASSERT_EQ(run("w: make face! [type: 'window size: 300x200] "
                  "w/state: reduce [system/vezi/platform/make-vezi w system/vezi/platform/make-null-handle "
                  "0 none false] "
                  "a: make face! [type: 'area size: 200x100 parent: w] "
                  "a/state: reduce [system/vezi/platform/make-vezi a w/state/1 0 none false] none"),
              "none");
    cell* a = stack::push_cell();
    *a = *interpreter::do_block(reader::load("a", 1));
    HWND h = gui::face_handle(a);
    ASSERT_NE(h, nullptr);
    // Half a surrogate pair in the control's text becomes U+FFFD; CR LF, LF.
    SetWindowTextW(h, L"x\xD83Dy\r\nz");
    EXPECT_EQ(run("system/vezi/platform/update-text a a/text"), run("\"x^(FFFD)y^/z\""));
    // Control positions 2-6 ("y", CR LF, "z") are the text's 3rd to 5th characters.
    SendMessageW(h, EM_SETSEL, 2, 6);
    SendMessageW(h, WM_KEYUP, 'A', 0);
    EXPECT_EQ(run("a/selected"), "3x5");
    SendMessageW(h, EM_SETSEL, 1, 1);
    SendMessageW(h, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(run("a/selected"), "none");
    run("system/vezi/platform/destroy-vezi w false");
}

// --- nested loops -------------------------------------------------------------------------

std::vector<std::string> loop_trace;
LRESULT CALLBACK loop_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    switch (msg) {
        case WM_USER + 10:  // open a modal loop and end it at once
            loop_trace.push_back("inner starts");
            gui::exit_event_loop();
            gui::do_events(false);
            loop_trace.push_back("inner ended");
            PostMessageW(h, WM_USER + 11, 0, 0);
            return 0;
        case WM_USER + 11:
            loop_trace.push_back("outer goes on");
            gui::exit_event_loop();
            return 0;
        default: return DefWindowProcW(h, msg, w, l);
    }
}

TEST(Loops, NestedLoopEndedByExitLeavesTheOuterRunning) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = loop_proc;
    wc.hInstance = gui::state.instance;
    wc.lpszClassName = L"LoopWindow";
    RegisterClassExW(&wc);
    HWND h = CreateWindowExW(0, L"LoopWindow", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, gui::state.instance,
                             nullptr);
    loop_trace.clear();
    gui::LoopCounts before = gui::state.loops;
    PostMessageW(h, WM_USER + 10, 0, 0);
    gui::do_events(false);
    EXPECT_EQ(loop_trace, (Strings{"inner starts", "inner ended", "outer goes on"}));
    EXPECT_EQ(gui::state.loops.pending_exits, 0);
    EXPECT_EQ(gui::state.loops.loop_count, before.loop_count + 2);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // no quit left behind
    DestroyWindow(h);
}

// --- devices and drawing ------------------------------------------------------------------

// Without a Direct3D device (the prefixes of emulated machines have none)
// these tests check only that drawing went on without one. They say so
// rather than skip: under that emulation a skipped test ends the Wine
// process before the next test starts.
void no_device_note() { printf("note: no Direct3D device in this Wine prefix: nothing was drawn\n"); }

TEST(Devices, FirstPaintMakesARenderRecordOfTheClientSize) {
    HWND h = CreateWindowExW(0, L"ZolWindow", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 30, 240, 160, nullptr,
                             nullptr, gui::state.instance, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetWindowLongPtrW(h, gui::SLOT_RENDER), 0);
    UpdateWindow(h);
    auto* r = (gui::RenderRecord*)GetWindowLongPtrW(h, gui::SLOT_RENDER);
    if (!gui::devices.d3d_device) {
        // No device: painting went on without a record.
        EXPECT_EQ(r, nullptr);
        DestroyWindow(h);
        no_device_note();
        return;
    }
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->swap_chain, nullptr);
    DXGI_SWAP_CHAIN_DESC1 d;
    r->swap_chain->GetDesc1(&d);
    RECT rc;
    GetClientRect(h, &rc);
    EXPECT_EQ((LONG)d.Width, rc.right);
    EXPECT_EQ((LONG)d.Height, rc.bottom);
    EXPECT_NE(r->bitmap, nullptr);
    gui::resize_swapchain(r, 100, 50);  // the target is remade
    r->swap_chain->GetDesc1(&d);
    EXPECT_EQ(d.Width, 100u);
    EXPECT_NE(r->bitmap, nullptr);
    DestroyWindow(h);
}

TEST(Devices, FillReadsBackFromABitmapTarget) {
    ASSERT_NE(gui::devices.d2d_factory, nullptr);
    IWICImagingFactory* wic = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                               (void**)&wic),
              S_OK);
    IWICBitmap* bitmap = nullptr;
    ASSERT_EQ(wic->CreateBitmap(16, 16, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, &bitmap), S_OK);
    D2D1_RENDER_TARGET_PROPERTIES p{};
    p.pixelFormat = {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED};
    ID2D1RenderTarget* target = nullptr;
    HRESULT made = gui::devices.d2d_factory->CreateWicBitmapRenderTarget(bitmap, &p, &target);
    if (FAILED(made) && !gui::devices.d3d_device) {
        // Wine draws into WIC bitmaps through Direct3D too.
        bitmap->Release();
        wic->Release();
        no_device_note();
        return;
    }
    ASSERT_EQ(made, S_OK);
    gui::D2DColor red, white;
    gui::to_d2d_color(0x0000FF, &red);  // 255.0.0 as a Zol colour word
    gui::to_d2d_color(0xFFFFFF, &white);
    ID2D1SolidColorBrush* brush = nullptr;
    target->CreateSolidColorBrush((const D2D1_COLOR_F&)red, &brush);
    target->BeginDraw();
    target->Clear((const D2D1_COLOR_F&)white);
    target->FillRectangle(D2D1::RectF(4, 4, 12, 12), brush);
    ASSERT_EQ(target->EndDraw(), S_OK);
    WICRect all{0, 0, 16, 16};
    IWICBitmapLock* lock = nullptr;
    ASSERT_EQ(bitmap->Lock(&all, WICBitmapLockRead, &lock), S_OK);
    UINT stride = 0, size = 0;
    BYTE* px = nullptr;
    lock->GetStride(&stride);
    lock->GetDataPointer(&size, &px);
    auto at = [&](int x, int y) {
        const BYTE* b = px + y * stride + x * 4;
        return (uint32_t)b[3] << 24 | b[2] << 16 | b[1] << 8 | b[0];
    };
    EXPECT_EQ(at(8, 8), 0xFFFF0000u);
    EXPECT_EQ(at(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(at(12, 12), 0xFFFFFFFFu);
    lock->Release();
    brush->Release();
    target->Release();
    bitmap->Release();
    wic->Release();
}

TEST(Devices, TextFormatsAndLayoutsMeasure) {
    IDWriteTextFormat* f = gui::create_text_format(nullptr);
    ASSERT_NE(f, nullptr);
    wchar_t family[64];
    f->GetFontFamilyName(family, 64);
    EXPECT_STREQ(family, gui::state.font_name);
    EXPECT_FLOAT_EQ(f->GetFontSize(), gui::vezi_values.font_size * 96.0f / 72.0f);
    // The families scripts name are found (mapped to installed fonts by the
    // test prefix), so their text has a width.
    for (const wchar_t* name : {L"Consolas", L"Segoe UI", L"Courier New"}) {
        IDWriteTextFormat* g = nullptr;
        ASSERT_EQ(gui::devices.dwrite_factory->CreateTextFormat(name, nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                                                DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                                                12, L"", &g),
                  S_OK);
        IDWriteTextLayout* l = gui::create_text_layout(L"MMMM", 4, g, 0, 0);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->GetMaxWidth(), 3.4028235e38f);
        DWRITE_TEXT_METRICS m;
        l->GetMetrics(&m);
        EXPECT_GT(m.width, 10.0f);
        l->Release();
        g->Release();
    }
    IDWriteTextLayout* boxed = gui::create_text_layout(L"x", 1, f, 100, 20);
    EXPECT_FLOAT_EQ(boxed->GetMaxWidth(), 100.5f);
    boxed->Release();
    f->Release();
}

}  // namespace
