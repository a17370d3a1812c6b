// The GUI backend's portable core: colour and flag conversions, DPI
// arithmetic, the small map, keyboard translation, the pump's loop counts,
// matrices and text-format parameters, the templates' field orders, the
// window styles of faces and the facet values the backend applies.
#include <cfloat>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/evaluator/eval.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "vezi/backend/core/color.h"
#include "vezi/backend/core/dpi.h"
#include "vezi/backend/core/facets.h"
#include "vezi/backend/core/flags.h"
#include "vezi/backend/core/matrix.h"
#include "vezi/backend/core/small_map.h"
#include "vezi/backend/core/styles.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/text.h"
#include "vezi/backend/core/text_format.h"
#include "vezi/backend/core/timing.h"
#include "vezi/backend/core/translate.h"
#include "vezi/backend/core/window_rules.h"
#include "vezi/backend/core/words.h"

namespace {

class BackendCore : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        gui::intern_words();
        saved_dpi = gui::dpi;
    }
    void TearDown() override {
        gui::dpi = saved_dpi;
        EvalTest::TearDown();
    }
    // The value of Zol code, kept on the argument stack for the test's life.
    cell* value(const char* code) {
        cell* result = nullptr;
        cell* e = interpreter::catch_error([&] {
            cell* blk = reader::load(code, strlen(code));
            result = interpreter::do_block(blk);
        });
        EXPECT_EQ(e, nullptr) << code;
        cell r = e ? cell{TYPE_NONE, 0, 0, 0} : *result;
        cell* slot = stack::push_cell();
        *slot = r;
        return slot;
    }
    // The style input of a face of `type` (Zol code) with `flags`.
    gui::StyleInput face_input(const char* type, const char* flags = "none") {
        gui::StyleInput in;
        in.type = gui::face_type(value(type));
        in.flags = gui::get_flags(value(flags));
        return in;
    }
    gui::DpiState saved_dpi;
};

TEST_F(BackendCore, ColoursFromTuples) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t color, colorref;
    } cases[] = {
        {{255, 0, 0, 0}, 0xFFFF0000, 0xFEFF0000},  // opaque: 254 for the GDI colour
        {{255, 0, 0}, 0xFFFF0000, 0xFEFF0000},     // no alpha byte: opaque
        {{0, 0, 255, 255}, 0x000000FF, 0x000000FF},
        {{10, 20, 30, 128}, 0x7F0A141E, 0x7F0A141E},
    };
    for (const Case& c : cases) {
        uint32_t rgba = gui::tuple_rgba(c.bytes.data(), (int32_t)c.bytes.size());
        EXPECT_EQ(gui::to_color(rgba), c.color) << c.bytes.size();
        EXPECT_EQ(gui::to_colorref(rgba), c.colorref);
    }
    gui::D2DColor d;
    gui::to_d2d_color(0x80FF0000u, &d);  // blue, transparency 0x80
    EXPECT_FLOAT_EQ(d.r, 0.0f);
    EXPECT_FLOAT_EQ(d.b, 1.0f);
    EXPECT_FLOAT_EQ(d.a, 127.0f / 255.0f);
}

TEST_F(BackendCore, TranslucentColours) {
    struct Case {
        const char* code;
        bool translucent;
    } cases[] = {{"255.0.0", false}, {"255.0.0.0", false}, {"255.0.0.1", true},
                 {"1.2.3.4.5", true}, {"none", false},      {"16777215", false}};
    for (const Case& c : cases) EXPECT_EQ(gui::is_translucent_color(value(c.code)), c.translucent) << c.code;
}

TEST_F(BackendCore, FaceFlagsAsBits) {
    struct Case {
        const char* code;
        uint32_t bits;
    } cases[] = {
        {"[resize no-max]", 0x14000000},
        {"'no-border", 0x80000000},
        {"[all-over unknown 3 \"popup\" focusable]", 0x3},
        {"next [modal popup]", 0x1000000},  // from the block's position
        {"[]", 0},
        {"none", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(gui::get_flags(value(c.code)), c.bits) << c.code;
}

TEST_F(BackendCore, Fractions) {
    struct Case {
        const char* code;
        double fraction;
    } cases[] = {{"150%", 1.0}, {"-3", 0.0},   {"none", -1.0}, {"0.25", 0.25},
                 {"50%", 0.5},  {"1", 1.0},    {"\"x\"", -1.0}, {"-0.5", 0.0}};
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(gui::fraction(value(c.code)), c.fraction) << c.code;
}

TEST_F(BackendCore, ParaFlagsPerKindOfFace) {
    struct Case {
        const char* type;
        const char* align;
        const char* v_align;
        const char* wrap;
        uint32_t flags;
    } cases[] = {
        {"'button", "none", "none", "none", 0x300 | 0xC00},
        {"'toggle", "'left", "'top", "false", 0x100 | 0x400},
        {"'check", "none", "none", "none", 0x100 | 0xC00},
        {"'radio", "'right", "'bottom", "true", 0x200 | 0x800},
        {"'text", "none", "none", "false", 0x4000},
        {"'text", "'center", "'middle", "none", 0x1 | 0x200},
        {"'field", "none", "none", "false", 0xC0},
        {"'area", "'right", "'middle", "true", 0x2 | 0x200},
        {"'base", "'right", "'bottom", "none", 0x1A},
        {"'base", "none", "none", "false", 0x1 | 0x4},
        {"'rich-text", "'sideways", "1", "none", 0x10},  // unknown word: left and top
        {"'rich-text", "'center", "'middle", "\"no\"", 0x10 | 0x1 | 0x4},
        {"'slider", "'right", "'bottom", "false", 0},
        {"\"button\"", "'right", "'bottom", "false", 0},
    };
    for (const Case& c : cases) {
        gui::ParaKind kind = gui::para_kind(value(c.type));
        EXPECT_EQ(gui::para_flags(kind, value(c.align), value(c.v_align), value(c.wrap)), c.flags)
            << c.type << " " << c.align << " " << c.v_align << " " << c.wrap;
    }
}

TEST_F(BackendCore, DpiScaling) {
    struct Case {
        int32_t dpi;
        double logical;
        int32_t pixels;
    } cases[] = {{96, 10.4, 10}, {96, 10.5, 11}, {144, 3.0, 5}, {144, 10.0, 15}, {120, 9.0, 11}};
    for (const Case& c : cases) {
        gui::set_dpi(c.dpi);
        EXPECT_EQ(gui::dpi_scale(c.logical), c.pixels) << c.dpi << " " << c.logical;
    }
    gui::set_dpi(144);
    EXPECT_FLOAT_EQ(gui::dpi.scale, 1.5f);
    EXPECT_DOUBLE_EQ(gui::dpi_unscale(15.0), 10.0);
    EXPECT_EQ(gui::font_points(-12, 96), 9);
    EXPECT_EQ(gui::font_points(-15, 120), 9);
    EXPECT_EQ(gui::logical_extent(1920, 144), 1280);
}

TEST_F(BackendCore, DpiNesting) {
    gui::set_dpi(96);
    gui::dpi.depth = 0;
    // Same DPI at pop: nothing changes, even at depth 0 with another active window.
    gui::pop_dpi(gui::push_dpi(0), 144);
    EXPECT_EQ(gui::dpi.x, 96);
    EXPECT_EQ(gui::dpi.depth, 0);

    int32_t outer = gui::push_dpi(144);
    EXPECT_EQ(gui::dpi.x, 144);
    int32_t inner = gui::push_dpi(120);
    gui::pop_dpi(inner, 192);  // depth 1: back to the saved DPI
    EXPECT_EQ(gui::dpi.x, 144);
    gui::pop_dpi(outer, 192);  // depth 0: the active window's DPI
    EXPECT_EQ(gui::dpi.x, 192);
    gui::pop_dpi(gui::push_dpi(144), 0);  // no active window: the saved one
    EXPECT_EQ(gui::dpi.x, 192);
}

TEST_F(BackendCore, DpiForRectSettlesOrFallsBack) {
    // Monitors split at device x 1000: 96 DPI left of it, 192 right of it.
    int calls = 0;
    auto split = [&](const gui::Rect& r) {
        calls++;
        return r.left < 1000 ? 96 : 192;
    };
    gui::set_dpi(96);
    gui::dpi_for_rect(1100, 0, 100, 100, split, [] { return 72; });
    EXPECT_EQ(gui::dpi.x, 192);  // 1100 -> right monitor, then 2200 stays right
    EXPECT_EQ(calls, 2);

    // A rectangle whose monitor flips with the DPI never settles.
    calls = 0;
    auto flip = [&](const gui::Rect&) { return ++calls % 2 ? 144 : 96; };
    gui::set_dpi(96);
    gui::dpi_for_rect(0, 0, 10, 10, flip, [] { return 120; });
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(gui::dpi.x, 120);
}

TEST_F(BackendCore, FixedTablesIgnoreEntriesPastTheirEnd) {
    gui::SmallMap map;
    for (uint32_t k = 0; k < 64; k++) EXPECT_TRUE(map.add(k * 7, k + 100));
    EXPECT_FALSE(map.add(9999, 1));
    EXPECT_EQ(map.count, 64);
    EXPECT_EQ(map.find(63 * 7), 163u);
    EXPECT_EQ(map.find(9999), 0u);

    gui::MonitorTable monitors;
    for (uintptr_t m = 1; m <= 11; m++) EXPECT_EQ(monitors.add(m, 96), m <= 10) << m;
    EXPECT_EQ(monitors.count, 10);
    EXPECT_EQ(monitors.entries[9].monitor, 10u);
}

TEST_F(BackendCore, ElapsedTimeUsesAWideDifference) {
    int64_t start = 1000;
    // 5 seconds of a 1 GHz counter: more ticks than 32 bits hold.
    EXPECT_DOUBLE_EQ(gui::elapsed_ms(&start, 1000 + 5000000000LL, 1000000000), 5000.0);
    EXPECT_EQ(start, 1000);
    EXPECT_DOUBLE_EQ(gui::elapsed_ms(&start, 10, 1000), 2147483647.0);  // counter went back
    EXPECT_EQ(start, 10);
}

// A keyboard with fixed answers: letters and digits type themselves, the
// left Shift's scan code is 0x2A.
struct FakeKeys : gui::KeyMap {
    uint32_t vk_to_char(uint32_t vk) const override {
        return (vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9') ? vk : 0;
    }
    uint32_t shift_from_scan(uint32_t scan) const override { return scan == 0x2A ? 160 : 161; }
};

std::string key_text(int32_t type, const gui::Translator& t, uint32_t key_flags) {
    gui::KeyValue k = gui::event_key(type, t.pending_key, key_flags);
    switch (k.kind) {
        case gui::KeyValue::named: return k.word;
        case gui::KeyValue::character: return "#" + std::to_string(k.code);
        default: return "none";
    }
}

TEST_F(BackendCore, KeyDownAndUp) {
    const uint32_t EXT = 1u << 24;
    struct Case {
        bool up;
        uint32_t vk, lparam, flags;
        bool ime;
        bool event;
        uint32_t key_flags;
        const char* key;
    } cases[] = {
        {false, 116, 0, 0, false, true, 116, "F5"},
        {false, 'A', 0, gui::FLAG_SHIFT, false, true, gui::FLAG_SHIFT | 'A', "#65"},
        {false, 229, 0, 0, false, false, 0, nullptr},  // the input method has it
        {false, 18, EXT, 0, false, true, 18, "right-alt"},
        {false, 17, 0, gui::FLAG_CONTROL, false, true, gui::FLAG_CONTROL | 17, "left-control"},
        {false, 16, 0x2A << 16, 0, false, true, 16, "left-shift"},
        {false, 37, 0, 0, true, true, 37, "#37"},  // composing: no pending key
        {true, 255, 0, 0, false, true, 255, "#255"},
        {true, 37, 0, 0, true, true, 37, "left"},  // key-up ignores composing
        {true, 229, 0, 0, false, true, 229, "#229"},
    };
    FakeKeys keys;
    for (const Case& c : cases) {
        gui::Translator t;
        t.ime_composing = c.ime;
        gui::KeyResult r = gui::translate_key_down(t, c.vk, c.lparam, c.flags, c.up, keys);
        EXPECT_EQ(r.event, c.event) << c.vk;
        if (!r.event) continue;
        EXPECT_EQ(r.key_flags, c.key_flags) << c.vk;
        EXPECT_EQ(key_text(c.up ? gui::EVT_KEY_UP : gui::EVT_KEY_DOWN, t, r.key_flags), c.key) << c.vk;
    }
}

TEST_F(BackendCore, CharactersAndSurrogates) {
    struct Case {
        std::vector<uint32_t> units;  // WM_CHAR wParams in order
        uint32_t flags;
        std::vector<uint32_t> key_flags;  // the events made
    } cases[] = {
        {{'a'}, 0, {'a'}},
        {{0xD83D, 0xDE00}, gui::FLAG_SHIFT, {0x1F600}},         // one event, flags dropped
        {{0xDE00}, 0, {0xFFFD}},                                // lone second half
        {{0xD83D, 'b'}, 0, {'b'}},                              // lone first half dropped
        {{0xD83D, 0xD83D, 0xDE00}, 0, {0x1F600}},
        {{'c'}, gui::FLAG_CONTROL, {gui::FLAG_CONTROL | 3}},  // control code
        {{'C'}, gui::FLAG_CONTROL, {gui::FLAG_CONTROL | 'C'}},
    };
    for (const Case& c : cases) {
        gui::Translator t;
        std::vector<uint32_t> got;
        for (uint32_t u : c.units) {
            gui::KeyResult r = gui::translate_char(t, u, c.flags);
            if (r.event) got.push_back(r.key_flags);
        }
        EXPECT_EQ(got, c.key_flags) << c.units[0];
    }
    gui::Translator t;
    gui::KeyResult r = gui::translate_char(t, 0xD83D, 0);
    r = gui::translate_char(t, 0xDE00, 0);
    EXPECT_EQ(key_text(gui::EVT_KEY, t, r.key_flags), "#128512");
}

TEST_F(BackendCore, PendingKeyAcrossKeyDownAndChar) {
    FakeKeys keys;
    gui::Translator t;
    // Right Alt: the character that follows does not report the Alt key.
    gui::translate_key_down(t, 18, 1u << 24, 0, false, keys);
    EXPECT_EQ(t.pending_key, 165);
    gui::KeyResult r = gui::translate_char(t, 'x', 0);
    EXPECT_EQ(key_text(gui::EVT_KEY, t, r.key_flags), "#120");
    // Control+F5: the `key` that follows at once is still F5, not a control code.
    gui::translate_key_down(t, 116, 0, gui::FLAG_CONTROL, false, keys);
    r = gui::translate_char(t, 116, gui::FLAG_CONTROL);
    EXPECT_EQ(key_text(gui::EVT_KEY, t, r.key_flags), "F5");
    EXPECT_EQ(r.key_flags, gui::FLAG_CONTROL | 116);
    // A `key` for a pending key without a name reports none.
    t.pending_key = 250;
    EXPECT_EQ(key_text(gui::EVT_KEY, t, 250), "none");
}

TEST_F(BackendCore, ControlTextReadBack) {
    struct Case {
        std::vector<uint16_t> in, out;
    } cases[] = {
        {{'a', '\r', '\n', 'b'}, {'a', '\n', 'b'}},
        {{0xD83D, 0xDE00, '\r'}, {0xD83D, 0xDE00}},
        {{'x', 0xD83D}, {'x', 0xFFFD}},          // half a pair at the end
        {{0xDE00, 0xD83D, 'y'}, {0xFFFD, 0xFFFD, 'y'}},
        {{}, {}},
    };
    for (Case& c : cases) {
        int32_t n = (int32_t)c.in.size();
        gui::clean_control_text(c.in.data(), &n);
        c.in.resize((size_t)n);
        EXPECT_EQ(c.in, c.out);
    }
}

TEST_F(BackendCore, MouseAndWheel) {
    const char* words[8];
    int32_t n = gui::event_flag_words(gui::mouse_key_flags(gui::MK_LEFT | gui::MK_SHIFT_KEY), words);
    ASSERT_EQ(n, 2);
    EXPECT_STREQ(words[0], "down");
    EXPECT_STREQ(words[1], "shift");
    EXPECT_EQ(gui::mouse_key_flags(gui::MK_X2 | gui::MK_RIGHT | gui::MK_MIDDLE | gui::MK_CONTROL_KEY),
              gui::FLAG_AUX_DOWN | gui::FLAG_ALT_DOWN | gui::FLAG_MID_DOWN | gui::FLAG_CONTROL);
    gui::KeyState held{true, false, true, true, false, false, false};
    EXPECT_EQ(gui::modifier_flags(held, true), gui::FLAG_CONTROL | gui::FLAG_ALT);
    EXPECT_EQ(gui::current_flags(-1, held), gui::FLAG_CONTROL | gui::FLAG_ALT | gui::FLAG_DOWN);
    EXPECT_EQ(gui::current_flags((int32_t)gui::FLAG_SHIFT, held), gui::FLAG_SHIFT);

    struct Case {
        int32_t delta;
        double notches;
    } cases[] = {{-120, -1.0}, {240, 2.0}, {60, 0.5}, {-30000, 6.0}, {30000, -6.0}};
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(gui::wheel_notches((uint32_t)(uint16_t)c.delta << 16 | gui::MK_LEFT), c.notches)
            << c.delta;
    EXPECT_STREQ(gui::scroll_key(2, true), "page-up");
    EXPECT_STREQ(gui::scroll_key(5, false), "track");
    EXPECT_STREQ(gui::scroll_key(8, false), "end");
}

TEST_F(BackendCore, LoopCounts) {
    gui::LoopCounts c;
    c.enter_blocking();               // console loop
    for (int i = 0; i < 5; i++) EXPECT_FALSE(c.blocking_ended());  // Enter ends each ask loop
    EXPECT_EQ(c.pending_exits, 0);
    // Two modal windows, the second opened from the first, closed at once:
    // their two loops end, the console's goes on.
    c.enter_blocking();
    c.enter_blocking();
    c.loop_window_destroyed();
    c.loop_window_destroyed();
    EXPECT_TRUE(c.blocking_ended());   // inner: pass the quit outwards
    EXPECT_FALSE(c.blocking_ended());  // outer modal: done
    EXPECT_EQ(c.pending_exits, 0);
    EXPECT_EQ(c.loop_count, 1);
}

TEST_F(BackendCore, Matrices) {
    gui::Matrix m, id;
    gui::matrix_identity(&id);
    float x, y;
    gui::matrix_scale(&id, 2, 2, 10, 10, &m, 0);
    gui::matrix_apply(&m, 20, 20, &x, &y);
    EXPECT_FLOAT_EQ(x, 30);
    EXPECT_FLOAT_EQ(y, 30);

    // Order: translate then scale (flag 0) versus scale then translate (flag 1).
    gui::Matrix t;
    gui::matrix_translate(&id, 5, 0, &t, 0);
    gui::matrix_scale(&t, 2, 2, 0, 0, &m, 0);
    gui::matrix_apply(&m, 1, 0, &x, &y);
    EXPECT_FLOAT_EQ(x, 12);
    gui::matrix_scale(&t, 2, 2, 0, 0, &m, 1);
    gui::matrix_apply(&m, 1, 0, &x, &y);
    EXPECT_FLOAT_EQ(x, 7);

    gui::matrix_rotate(&id, 90, 0, 0, &m, 0);
    gui::matrix_apply(&m, 1, 0, &x, &y);
    EXPECT_NEAR(x, 0, 1e-6);
    EXPECT_NEAR(y, 1, 1e-6);

    gui::matrix_skew(&id, 45, 0, 0, 0, &m, 0);
    gui::matrix_apply(&m, 0, 2, &x, &y);
    EXPECT_NEAR(x, 2, 1e-6);

    gui::Matrix singular{1, 2, 2, 4, 3, 4}, out;
    EXPECT_FALSE(gui::matrix_invert(&singular, &out));
    EXPECT_EQ(memcmp(&out, &singular, sizeof out), 0);
    gui::Matrix a{2, 1, 0, 3, 4, -5}, inv, back;
    ASSERT_TRUE(gui::matrix_invert(&a, &inv));
    gui::matrix_multiply(&a, &inv, &back, 0);
    for (float v : {back.m11 - 1, back.m12, back.m21, back.m22 - 1, back.dx, back.dy}) EXPECT_NEAR(v, 0, 1e-5);

    gui::Matrix4 i4, s4, r4;
    gui::matrix4_identity(&i4);
    for (int i = 0; i < 16; i++) s4.m[i] = (float)i;
    gui::matrix4_multiply(&s4, &i4, &r4);
    EXPECT_EQ(memcmp(&r4, &s4, sizeof r4), 0);
    gui::matrix4_multiply(&s4, &s4, &r4);
    EXPECT_FLOAT_EQ(r4.m[1], 0 * 1 + 1 * 5 + 2 * 9 + 3 * 13);
}

TEST_F(BackendCore, TextFormatParameters) {
    struct Case {
        const char* name;
        const char* size;
        const char* style;
        const char* weight;
        float dips;
        int32_t name_chars, font_weight;
        bool italic;
    } cases[] = {
        {"none", "0", "none", "none", 12, -1, 400, false},  // default 9 points
        {"\"Consolas\"", "12", "'bold", "none", 16, 8, 700, false},
        {"\"1234567890123456789012345678901234567890\"", "none", "[bold italic]", "none", 12, 31, 700, true},
        {"\"x\"", "-4", "[italic 3 \"bold\"]", "none", 12, 1, 400, true},
        {"none", "9.0", "[bold]", "300", 12, -1, 300, false},
        {"none", "24", "none", "1200", 32, -1, 999, false},
        {"'Arial", "15", "[underline]", "0", 20, -1, 400, false},
    };
    for (const Case& c : cases) {
        gui::TextFormatParams p = gui::text_format_params(value(c.name), value(c.size), value(c.style),
                                                          value(c.weight), 9);
        EXPECT_FLOAT_EQ(p.size, c.dips) << c.name << " " << c.size;
        EXPECT_EQ(p.name_chars, c.name_chars) << c.name;
        EXPECT_EQ(p.weight, c.font_weight) << c.style << " " << c.weight;
        EXPECT_EQ(p.italic, c.italic) << c.style;
    }
    EXPECT_EQ(gui::layout_extent(0), FLT_MAX);
    EXPECT_EQ(gui::layout_extent(0), 3.4028235e38f);
    EXPECT_FLOAT_EQ(gui::layout_extent(100), 100.5f);
}

// The library's templates sit where the backend reads them; a template
// with a field moved, missing or added is caught at the first misplaced word.
TEST_F(BackendCore, TemplateFieldOrders) {
    EXPECT_EQ(gui::check_template(value("face!"), gui::Template::face), -1);
    EXPECT_EQ(gui::check_template(value("font!"), gui::Template::font), -1);
    EXPECT_EQ(gui::check_template(value("para!"), gui::Template::para), -1);
    EXPECT_EQ(gui::check_template(value("scroller!"), gui::Template::scroller), -1);
    struct Case {
        const char* code;
        int32_t at;
    } cases[] = {
        {"make object! [origin: none scroll: none padding: none]", 1},
        {"make object! [origin: 1 padding: 2 scroll: 3 align: 4 v-align: 5 wrap?: 6 parent: 7]", 7},
        {"make para! [extra: 1]", 8},
        {"none", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(gui::check_template(value(c.code), gui::Template::para), c.at) << c.code;
}

TEST_F(BackendCore, WindowStylesOfFaces) {
    namespace ws = gui::ws;
    auto style_of = [&](const char* type, const char* flags, double w = 100, double h = 20) {
        gui::StyleInput in = face_input(type, flags);
        in.width = w;
        in.height = h;
        return gui::face_style(in);
    };
    gui::StyleOutput o = style_of("'window", "[resize no-max]");
    EXPECT_TRUE(o.style & ws::THICKFRAME);
    EXPECT_FALSE(o.style & ws::MAXIMIZEBOX);
    EXPECT_TRUE(o.style & ws::MINIMIZEBOX);
    EXPECT_FALSE(style_of("'window", "none").style & ws::MAXIMIZEBOX);  // no resize: no maximize box
    EXPECT_EQ(style_of("'window", "'no-title").style, ws::POPUP | ws::BORDER);
    EXPECT_EQ(style_of("'window", "'popup").ex_style, ws::EX_TOOLWINDOW);
    o = style_of("'window", "none", -1, -1);
    EXPECT_EQ(o.width, 200);
    EXPECT_EQ(o.height, 200);

    struct Case {
        const char* type;
        const char* flags;
        uint32_t has, lacks, ex;
        const wchar_t* cls;
    } cases[] = {
        {"'toggle", "none", ws::BTN_PUSHLIKE | ws::BTN_AUTOCHECKBOX, 0, 0, L"ZolButton"},
        {"'check", "[tri-state]", ws::BTN_AUTO3STATE | ws::TABSTOP, 0, 0, L"ZolButton"},
        {"'check", "none", ws::BTN_AUTOCHECKBOX, 0x4, 0, L"ZolButton"},
        {"'radio", "none", ws::BTN_RADIOBUTTON, 0, 0, L"ZolButton"},
        {"'field", "[password]", ws::EDIT_PASSWORD | ws::EDIT_NOHIDESEL, 0, ws::EX_CLIENTEDGE, L"ZolField"},
        {"'field", "[no-border]", ws::EDIT_AUTOHSCROLL, 0, 0, L"ZolField"},
        {"'area", "none", ws::EDIT_MULTILINE | ws::HSCROLL | ws::VSCROLL, 0, ws::EX_CLIENTEDGE, L"ZolArea"},
        {"'text-list", "none", ws::LIST_NOTIFY | ws::LIST_NOINTEGRALHEIGHT, 0, ws::EX_CLIENTEDGE, L"ZolListBox"},
        {"'drop-list", "none", ws::COMBO_DROPDOWNLIST, 0, 0, L"ZolCombo"},
        {"'text", "[scrollable]", ws::HSCROLL | ws::VSCROLL | ws::CHILD | ws::VISIBLE, 0, 0, L"ZolFace"},
        {"'tab-panel", "none", ws::CHILD, 0, 0, L"ZolTabPanel"},
        {"'calendar", "none", ws::CAL_NOTODAY, 0, 0, L"ZolCalendar"},
        {"'caret", "none", ws::CHILD, ws::VISIBLE, 0, L"ZolBaseInternal"},
    };
    for (const Case& c : cases) {
        o = style_of(c.type, c.flags);
        EXPECT_TRUE(o.known) << c.type;
        EXPECT_EQ(o.style & c.has, c.has) << c.type << " " << c.flags;
        EXPECT_EQ(o.style & c.lacks, 0u) << c.type << " " << c.flags;
        EXPECT_EQ(o.ex_style, c.ex) << c.type << " " << c.flags;
        EXPECT_STREQ(o.class_name, c.cls) << c.type;
    }
    // Orientation from the size.
    EXPECT_TRUE(style_of("'progress", "none", 20, 100).style & ws::PROGRESS_VERTICAL);
    EXPECT_FALSE(style_of("'progress", "none", 100, 20).style & ws::PROGRESS_VERTICAL);
    EXPECT_TRUE(style_of("'slider", "none", 20, 100).style & ws::SLIDER_VERT);
    EXPECT_FALSE(style_of("'screen", "none").known);
    EXPECT_FALSE(style_of("'gizmo", "none").known);
}

TEST_F(BackendCore, LayeredFaces) {
    namespace ws = gui::ws;
    struct Case {
        const char* type;
        const char* color;
        const char* options;
        bool windows_8, parent_layered;
        uint32_t ex;
    } cases[] = {
        {"'base", "none", "none", true, false, ws::EX_LAYERED},  // no colour: transparent
        {"'base", "255.255.255", "none", true, false, 0},
        {"'base", "255.255.255.0", "none", true, false, 0},
        {"'base", "255.255.255.10", "none", true, false, ws::EX_LAYERED},
        {"'base", "none", "none", false, false, ws::EX_LAYERED | ws::EX_TOOLWINDOW},
        {"'base", "1.2.3", "compose [accelerated: (true)]", true, false, ws::EX_LAYERED},
        {"'base", "1.2.3", "compose [accelerated: (true)]", false, false, ws::EX_LAYERED | ws::EX_TOOLWINDOW},
        {"'base", "1.2.3", "compose [accelerated (false)]", true, false, 0},
        {"'panel", "none", "none", true, false, 0},
        {"'panel", "none", "none", true, true, ws::EX_LAYERED},
    };
    for (const Case& c : cases) {
        gui::StyleInput in = face_input(c.type);
        in.transparent = gui::is_transparent_color(value(c.color));
        in.accelerated = gui::option_accelerated(value(c.options));
        in.windows_8 = c.windows_8;
        in.parent_layered = c.parent_layered;
        gui::StyleOutput o = gui::face_style(in);
        EXPECT_EQ(o.ex_style, c.ex) << c.type << " " << c.color << " " << c.options;
        EXPECT_EQ(o.layered, c.ex != 0) << c.type << " " << c.color;
    }
    // A layered tool window before Windows 8 is a popup, not a child.
    gui::StyleInput in;
    in.type = gui::FaceType::base;
    in.transparent = true;
    in.windows_8 = false;
    EXPECT_EQ(gui::face_style(in).style & (ws::CHILD | ws::POPUP), ws::POPUP);
    // A borderless window is layered only for a translucent colour.
    in = face_input("'window", "'no-border");
    EXPECT_EQ(gui::face_style(in).ex_style, 0u);
    in.translucent = true;
    EXPECT_EQ(gui::face_style(in).ex_style, ws::EX_LAYERED);
}

TEST_F(BackendCore, FacetValues) {
    struct Rate {
        const char* code;
        gui::RateAction action;
        uint32_t ms;
    } rates[] = {
        {"10", gui::RateAction::set, 100}, {"3", gui::RateAction::set, 333},
        {"0:0:0.5", gui::RateAction::set, 500}, {"none", gui::RateAction::kill, 0},
        {"0", gui::RateAction::invalid, 0}, {"-2", gui::RateAction::invalid, 0},
        {"0:0:0", gui::RateAction::invalid, 0}, {"\"fast\"", gui::RateAction::invalid, 0},
    };
    for (const Rate& r : rates) {
        uint32_t ms = 0;
        EXPECT_EQ(gui::rate_interval(value(r.code), &ms), r.action) << r.code;
        EXPECT_EQ(ms, r.ms) << r.code;
    }
    const cell* hint = gui::option_value(value("[tabs 8 hint: \"Name\"]"), "hint");
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->type(), TYPE_STRING);
    EXPECT_EQ(gui::option_value(value("[hint]"), "hint"), nullptr);  // last: no value
    EXPECT_EQ(gui::option_value(value("[\"hint\" 1]"), "hint"), nullptr);
    EXPECT_EQ(gui::option_value(value("none"), "hint"), nullptr);
    // Every key/value pair counts, and a key word in a value's place is a value.
    const cell* opts = value("[cursor: hand x cursor cursor: cross]");
    EXPECT_EQ(gui::next_option_pair(opts, "cursor", 0), 1);
    EXPECT_EQ(gui::next_option_pair(opts, "cursor", 2), 5);
    EXPECT_EQ(gui::next_option_pair(opts, "cursor", 6), -1);
    EXPECT_EQ(gui::next_option_pair(value("[cursor]"), "cursor", 0), -1);
    EXPECT_EQ(gui::cursor_of(value("'hand")), gui::Cursor::hand);
    EXPECT_EQ(gui::cursor_of(value("'i-beam")), gui::Cursor::ibeam);
    EXPECT_EQ(gui::cursor_of(value("'resize-we")), gui::Cursor::size_we);
    EXPECT_EQ(gui::cursor_of(value("'busy")), gui::Cursor::arrow);
}

TEST_F(BackendCore, EditSelectionsAcrossLineFeeds) {
    struct Case {
        const char* text;
        int32_t start, end;  // text positions
        int32_t cstart, cend;  // control positions
    } cases[] = {
        {"\"ab^/cd\"", 3, 5, 4, 6},
        {"\"ab^/cd\"", 0, 2, 0, 2},
        {"\"^/^/x\"", 2, 3, 4, 5},
        {"next \"^/ab^/c\"", 0, 4, 0, 5},  // counted from the text's head
        {"\"abc\"", 1, 2, 1, 2},
    };
    for (const Case& c : cases) {
        int32_t s = c.start, e = c.end;
        gui::convert_selection(value(c.text), &s, &e, 1);
        EXPECT_EQ(s, c.cstart) << c.text;
        EXPECT_EQ(e, c.cend) << c.text;
        gui::convert_selection(value(c.text), &s, &e, 0);
        EXPECT_EQ(s, c.start) << c.text << " back";
        EXPECT_EQ(e, c.end) << c.text << " back";
    }
    int32_t s = 1, e = 2;
    gui::convert_selection(value("none"), &s, &e, 1);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 2);
}

TEST_F(BackendCore, GdiFontsOfFontObjects) {
    struct Case {
        const char* font;
        int32_t dpi, height, weight, quality, name_units;
        bool italic, underline, strike;
    } cases[] = {
        {"make font! [size: 12]", 144, -24, 0, 0, -1, false, false, false},
        {"make font! [size: 12]", 96, -16, 0, 0, -1, false, false, false},
        {"make font! [size: 11]", 120, -18, 0, 0, -1, false, false, false},
        {"make font! [size: 0]", 96, -12, 0, 0, -1, false, false, false},  // default 9 points
        {"make font! [name: \"1234567890123456789012345678901234567890\"]", 96, -12, 0, 0, 31, false, false, false},
        {"make font! [weight: 1500 style: 'bold]", 96, -12, 999, 0, -1, false, false, false},
        {"make font! [style: [bold italic underline strike shaded]]", 96, -12, 700, 0, -1, true, true, true},
        {"make font! [anti-alias?: true]", 96, -12, 0, 4, -1, false, false, false},
        {"make font! [anti-alias?: 'ClearType]", 96, -12, 0, 5, -1, false, false, false},
        {"make font! [anti-alias?: 'smooth]", 96, -12, 0, 0, -1, false, false, false},
    };
    for (const Case& c : cases) {
        gui::GdiFont f = gui::gdi_font(value(c.font), c.dpi, 9);
        EXPECT_EQ(f.height, c.height) << c.font << " at " << c.dpi;
        EXPECT_EQ(f.weight, c.weight) << c.font;
        EXPECT_EQ(f.quality, c.quality) << c.font;
        EXPECT_EQ(f.name_units, c.name_units) << c.font;
        EXPECT_EQ(f.italic, c.italic) << c.font;
        EXPECT_EQ(f.underline, c.underline) << c.font;
        EXPECT_EQ(f.strike, c.strike) << c.font;
    }
    gui::GdiFont f = gui::gdi_font(value("make font! [name: \"Arial\" angle: 45]"), 96, 9);
    EXPECT_EQ(f.orientation, 450);
    EXPECT_EQ(std::u16string((const char16_t*)f.name), u"Arial");
    // A character outside the basic plane takes two units and is not split at the cut.
    f = gui::gdi_font(value("make font! [name: \"123456789012345678901234567890\U0001F600\"]"), 96, 9);
    EXPECT_EQ(f.name_units, 30);
    EXPECT_FALSE(gui::font_field_remakes(gui::FONT_COLOR));
    EXPECT_TRUE(gui::font_field_remakes(gui::FONT_ANTI_ALIAS));
}

TEST_F(BackendCore, FontWeights) {
    struct Read {
        const char* weight;
        int32_t result;
    } reads[] = {{"600", 600}, {"1200", 999}, {"0", 400}, {"-5", 400}, {"none", 400}, {"'bold", 400}};
    for (const Read& r : reads)
        EXPECT_EQ(gui::font_weight(value((std::string("make font! [weight: ") + r.weight + "]").c_str()), 400),
                  r.result)
            << r.weight;
    // Regular and bold are the style's to say; nothing below 1 is a weight.
    struct Write {
        int32_t weight;
        const char* kept;
    } writes[] = {{300, "300"}, {999, "999"}, {400, "none"}, {700, "none"}, {0, "none"}, {-1, "none"}};
    for (const Write& w : writes) {
        cell* font = value("make font! []");
        gui::set_font_weight(font, w.weight);
        cell* kept = object::values(font) + gui::FONT_WEIGHT;
        EXPECT_EQ(kept->type() == TYPE_INTEGER ? std::to_string(integer::get(kept)) : "none", w.kept) << w.weight;
    }
}

TEST_F(BackendCore, PointsAndPairsInPlace) {
    cell* c = value("3x-4");
    gui::point_from_pair(c);
    ASSERT_EQ(c->type(), TYPE_POINT2D);
    EXPECT_FLOAT_EQ(point2D::component(c, 0), 3.0f);
    EXPECT_FLOAT_EQ(point2D::component(c, 1), -4.0f);
    struct Case {
        float x, y;
        int32_t px, py;
    } cases[] = {{2.9f, -2.9f, 2, -2}, {-0.5f, 0.5f, 0, 0}, {3e10f, -3e10f, INT32_MAX, INT32_MIN}};
    for (const Case& k : cases) {
        point2D::make_in(c, k.x, k.y);
        gui::pair_from_point(c);
        ASSERT_EQ(c->type(), TYPE_PAIR);
        EXPECT_EQ(pair::x_of(c), k.px) << k.x;
        EXPECT_EQ(pair::y_of(c), k.py) << k.y;
    }
    cell* other = value("\"3x4\"");
    gui::pair_from_point(other);
    gui::point_from_pair(other);
    EXPECT_EQ(other->type(), TYPE_STRING);
}

TEST_F(BackendCore, WideCharactersBetweenPositions) {
    struct Case {
        const char* text;
        int32_t start, count, step, result;
    } cases[] = {
        {"\"a\U0001F600b\U0001F600\"", 0, 4, 1, 6},
        {"\"a\U0001F600b\U0001F600\"", 2, 2, 1, 3},
        {"\"a\U0001F600b\U0001F600\"", 0, 4, -1, 2},
        {"\"a\U0001F600b\U0001F600\"", 3, 10, 1, 11},  // the span stops at the tail
        {"next \"\U0001F600ab\"", 0, 2, 1, 2},           // counted from the head
        {"\"abc\u00E9\"", 0, 4, 1, 4},                    // narrower units hold none
        {"none", 0, 4, 1, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gui::count_wide_chars(value(c.text), c.start, c.count, c.step), c.result)
            << c.text << " " << c.start << " " << c.count;
}

// --- window procedure: gestures, tracking limits, custom-drawn buttons ---------------

TEST_F(BackendCore, GestureEventsAndZoomSteps) {
    EXPECT_EQ(gui::gesture_event_type(gui::GESTURE_ZOOM), gui::EVT_ZOOM);
    EXPECT_EQ(gui::gesture_event_type(gui::GESTURE_PRESS_TAP), gui::EVT_PRESS_TAP);
    for (uint32_t id : {0u, 1u, 2u, 8u}) EXPECT_EQ(gui::gesture_event_type(id), 0) << id;

    gui::ZoomTracker z;
    double f = 0;
    EXPECT_FALSE(z.step(100, &f));  // the first step has nothing to compare with
    ASSERT_TRUE(z.step(150, &f));
    EXPECT_DOUBLE_EQ(f, 1.5);
    ASSERT_TRUE(z.step(75, &f));
    EXPECT_DOUBLE_EQ(f, 0.5);
    z.reset();  // a begin or end
    EXPECT_FALSE(z.step(200, &f));
    ASSERT_TRUE(z.step(0, &f));
    EXPECT_DOUBLE_EQ(f, 0.0);
    EXPECT_FALSE(z.step(50, &f));  // after a zero distance: no ratio, no division by zero
}

TEST_F(BackendCore, TrackingLimitsWidenForMinimumSizes) {
    struct Case {
        const char* options;
        bool found;
        double w, h;
    } cases[] = {
        {"first [[min-size: 200x100]]", true, 200, 100},
        {"first [[min-size: (50.5, 0)]]", true, 50.5, 0},
        {"first [[min-size 10x20]]", true, 10, 20},
        {"first [[min-size: 0x0]]", false, 0, 0},
        {"first [[min-size: -5x-5]]", false, 0, 0},
        {"first [[min-size: 10]]", false, 0, 0},
        {"first [[hint \"min-size\"]]", false, 0, 0},
        {"none", false, 0, 0},
    };
    for (const Case& c : cases) {
        double w = -1, h = -1;
        EXPECT_EQ(gui::face_min_size(value(c.options), &w, &h), c.found) << c.options;
        if (c.found) {
            EXPECT_DOUBLE_EQ(w, c.w) << c.options;
            EXPECT_DOUBLE_EQ(h, c.h) << c.options;
        }
    }
    gui::TrackLimits t{100, 50, 1000, 800};
    EXPECT_FALSE(gui::widen_tracking(&t, 80, 40));  // already wide enough
    EXPECT_TRUE(gui::widen_tracking(&t, 300, 40));
    EXPECT_EQ(t.min_w, 300);
    EXPECT_EQ(t.min_h, 50);
    EXPECT_TRUE(gui::widen_tracking(&t, 1200, 900));  // the maximum never falls below the minimum
    EXPECT_EQ(t.max_w, 1200);
    EXPECT_EQ(t.max_h, 900);
}

TEST_F(BackendCore, CustomDrawnButtonTextFormat) {
    constexpr uint32_t SINGLE = 0x20, CENTER = 1, RIGHT = 2, VCENTER = 4, BOTTOM = 8;
    struct Case {
        uint32_t style;
        bool has_para;
        uint32_t format;
    } cases[] = {
        {0, false, CENTER | VCENTER | SINGLE},
        {0x300 | 0xC00, true, CENTER | VCENTER | SINGLE},
        {0x100 | 0xC00, true, VCENTER | SINGLE},
        {0x200 | 0x800, true, RIGHT | BOTTOM | SINGLE},
        {0x100 | 0x400, true, SINGLE},
    };
    for (const Case& c : cases) EXPECT_EQ(gui::button_text_format(c.style, c.has_para), c.format) << c.style;
}

}  // namespace
