#include <gtest/gtest.h>

#include "runtime/sys.h"

using namespace sys;

// Catch levels admit every code not above them, compared unsigned; a catcher
// hands back what it stopped and lets the rest pass unchanged.
TEST(Throw, LevelsAdmitCodesNotAboveThem) {
    struct Case { uint32_t level, code; bool caught; };
    const Case cases[] = {
        {THROW_THROW, THROW_THROW, true},       // equal level catches
        {THROW_THROW, THROW_ERROR, false},      // `catch` lets errors pass
        {THROW_ERROR, THROW_THROW, true},       // `try` stops throws too
        {THROW_BREAK, THROW_CONTINUE, true},
        {THROW_LEXER, THROW_LEXER, true},
        {THROW_LEXER, 11, false},
        {LEVEL_PAGES, THROW_PAGE_ALLOC, true},
        {LEVEL_ALL, 0x80000001u, true},         // high bit set: still unsigned
        {THROW_ERROR, 0x80000001u, false},
        {0, 1, false},
    };
    for (const Case& c : cases) {
        uint32_t outer = catch_level(LEVEL_ALL, [&] {
            uint32_t inner = catch_level(c.level, [&] { throw_code(c.code); });
            EXPECT_EQ(inner, c.code) << "only caught codes come back";
            EXPECT_EQ(runtime.last_throw, c.code) << "the code stays set for the catcher";
            clear_throw();
        });
        EXPECT_EQ(outer == 0, c.caught) << std::hex << "level " << c.level << " code " << c.code;
        if (!c.caught) {
            EXPECT_EQ(outer, c.code);
        }
        clear_throw();
    }
}

TEST(Throw, CodeZeroReturnsAtOnce) {
    bool after = false;
    EXPECT_EQ(catch_level(LEVEL_ALL, [&] { throw_code(0); after = true; }), 0u);
    EXPECT_TRUE(after);
}

TEST(Throw, CatcherRethrowsWhatItDoesNotHandle) {
    uint32_t seen = catch_level(LEVEL_ALL, [] {
        uint32_t c = catch_level(THROW_BREAK, [] { throw_code(THROW_CONTINUE); });
        if (c == THROW_CONTINUE) rethrow(c);  // e.g. a catcher that only handles break
    });
    EXPECT_EQ(seen, THROW_CONTINUE);
    clear_throw();
}

// A throw inside a callback that the platform called is parked and resumes
// once the platform function returns to our code.
TEST(Throw, PlatformCallbacksParkAndResume) {
    static int (*callback)(int) = [](int x) {
        return from_platform(-1, [&] {
            if (x < 0) throw_code(THROW_THROW);
            return x * 2;
        });
    };
    auto platform_call = [](int x) { return callback(x); };  // stands for a C frame
    EXPECT_EQ(to_platform([&] { return platform_call(21); }), 42);
    int returned = 0;
    uint32_t c = catch_level(LEVEL_ALL, [&] { returned = to_platform([&] { return platform_call(-1); }); });
    EXPECT_EQ(c, THROW_THROW);
    EXPECT_EQ(pending_throw, 0u);
    clear_throw();
}

TEST(RuntimeErrors, NamesAndBoxText) {
    struct Case { int32_t code; const char* name; };
    const Case cases[] = {{1, "access violation"}, {6, "float denormal operan"},
                          {95, "no CATCH for THROW"}, {99, "unknown error"},
                          {57, "unknown error code!"}, {101, "no value matched in SWITCH"}};
    for (const Case& c : cases) EXPECT_STREQ(runtime_error_name(c.code), c.name);
    char text[256];
    format_runtime_error(text, sizeof text, 13, 0x401A2Cu);
    EXPECT_STREQ(text, "*** Runtime Error 13: integer divide by zero\n*** at: 00401A2Ch");
}

TEST(RuntimeErrors, ExceptionCodes) {
    EXPECT_EQ(exception_to_error(0xC0000005), 1);
    EXPECT_EQ(exception_to_error(0xC0000094), 13);
    EXPECT_EQ(exception_to_error(0xC00000FD), 19);
    EXPECT_EQ(exception_to_error(0xC000013A), 0);
    EXPECT_EQ(exception_to_error(0xE06D7363), 99);
}
