// System runtime: non-local exits, fatal errors, the runtime record.
//
// Every non-local exit of the system (language errors, `throw`, `return`,
// `exit`, `break`, `continue`, lexer failures, page failures) is a 32-bit
// throw code unwound to the innermost catcher whose catch level admits it.
// A level L admits every code that is not above L, compared unsigned.
//
// Codes travel as a C++ exception (`sys::Throw`) carrying the code; the code
// is also kept in the runtime record's `last_throw` between the throw and the
// catcher that clears it. A catcher handles what it can and throws the rest
// on unchanged (`sys::rethrow`). Unwound frames run no clean-up code of the
// language's own; C++ destructors do run, which is how RAII roots and tracked
// scratch blocks stay balanced.
//
// Platform frames (window procedures, timers, COM callbacks, sort callbacks
// of the C library) cannot be crossed by a C++ exception: code entered from
// the platform wraps its body in `sys::from_platform`, which parks the code,
// and the caller of the platform function calls `sys::resume_pending` after
// that function returns (or uses `sys::to_platform`).
#pragma once
#include <cstdint>
#include <exception>
#include <type_traits>
#include <utility>

namespace sys {

// Throw codes.
enum : uint32_t {
    THROW_NONE          = 0,
    THROW_LEXER         = 10,
    THROW_PAGE_RELEASE  = 0x7FFFFFF6,
    THROW_PAGE_ALLOC    = 0x7FFFFFF7,
    LEVEL_PAGES         = 0x7FFFFFF8,
    THROW_POWER         = 0x7FFFFFF9,
    THROW_THROW         = 0x7FFFFFFA,
    THROW_EXIT          = 0x7FFFFFFB,
    THROW_RETURN        = 0x7FFFFFFC,
    THROW_CONTINUE      = 0x7FFFFFFD,
    THROW_BREAK         = 0x7FFFFFFE,
    THROW_ERROR         = 0x7FFFFFFF,
    THROW_QUIET_QUIT    = 0x0BADCAFE,
    LEVEL_ALL           = 0xFFFFFFFF,
};

// Runtime error numbers used by the system's own code paths.
enum : int32_t {
    RT_ACCESS_VIOLATION = 1,
    RT_INT_DIVIDE       = 13,
    RT_STACK_OVERFLOW   = 19,
    RT_OUT_OF_MEMORY    = 94,
    RT_NO_CATCH         = 95,
    RT_UNKNOWN          = 99,
    RT_NO_CASE          = 100,
    RT_NO_SWITCH        = 101,
};

struct ImageLayout {
    uint32_t image_base, code_start, code_size, data_start, data_size, data_table;
};

struct TrackedList;

// The process's one runtime record.
struct RuntimeRecord {
    int32_t      argc;         // command-line argument count
    char**       argv;         // NULL-terminated UTF-8 argument vector (tracked)
    uint32_t     last_throw;   // code being thrown; 0 when nothing is
    const void*  boot_image;   // embedded boot image
    ImageLayout* image_layout; // the program's own layout
    TrackedList* tracked;      // {head, tail} of the tracked-block list
};

extern RuntimeRecord runtime;

// The exception that carries a throw code through C++ frames.
struct Throw {
    uint32_t code;
};

// Stores the code in the runtime record and unwinds to the innermost catcher
// that admits it. Code 0 returns at once.
void throw_code(uint32_t code);

// Throws on a code a catcher stopped but does not handle (the code stays set).
[[noreturn]] void rethrow(uint32_t code);

// Catch protocol: runs `body`; a throw whose code is not above `level` stops
// here and its code is returned (left set in the runtime record, for the
// caller to clear when it handles it, or pass on with `rethrow`). Codes above
// `level` pass through. Returns 0 when nothing was thrown.
template <class F>
uint32_t catch_level(uint32_t level, F&& body) {
    try {
        std::forward<F>(body)();
        return 0;
    } catch (const Throw& t) {
        if (t.code > level) throw;
        runtime.last_throw = t.code;
        return t.code;
    }
}

// Clears the last throw code once a catcher has handled it.
inline void clear_throw() { runtime.last_throw = 0; }

// --- Pending exits ---------------------------------------------------------
// `throw`, `return`, `exit`, `continue` and `break` do not unwind C++ frames
// by an exception: the evaluator's unwinders set the code in `last_throw`
// and every C++ frame returns normally, checking `is_pending` after each
// sub-evaluation. The frame that takes the code (a loop, a function body,
// `catch`) clears it. Errors stay C++ exceptions.
inline bool is_pending() {
    return runtime.last_throw - THROW_THROW <= THROW_BREAK - THROW_THROW;
}
// C++ callers of the interpreter that cannot pass a pending code on by
// returning (object handlers, sort comparators, platform callbacks) turn it
// into the exception form; catchers accept both forms.
inline void raise_pending() {
    if (is_pending()) throw Throw{runtime.last_throw};
}

// --- Platform boundaries ---------------------------------------------------

// Code parked by a callback entered from the platform, resumed by the caller
// of the platform function once that function returns. Only the first code
// parked counts: what later callbacks of the same call raise is dropped.
extern uint32_t pending_throw;

// What a parked code carries besides its number lives in its module (an
// error's value in the one error cell, which every later error overwrites,
// caught or not): the hook keeps it aside when the code is parked, and puts
// it back when the code is resumed, or lets it go when the code is dropped.
enum class Parking { park, resume, drop };
using ParkHook = void (*)(uint32_t code, Parking what) noexcept;
extern ParkHook park_hook;

// Parks `code` unless a code is parked already. Nothing is being thrown
// once it is parked: the code waits in `pending_throw`.
inline void park(uint32_t code) noexcept {
    runtime.last_throw = 0;
    if (pending_throw) return;
    pending_throw = code;
    if (park_hook) park_hook(code, Parking::park);
}

// Wraps the body of a function that the platform calls back. A throw inside
// is parked instead of crossing the platform's frames; `fallback` is then
// returned to the platform.
template <class R, class F>
R from_platform(R fallback, F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (const Throw& t) {
        park(t.code);
        return fallback;
    } catch (...) {
        park(THROW_ERROR);
        return fallback;
    }
}
template <class F>
void from_platform_void(F&& body) noexcept {
    from_platform(0, [&] { std::forward<F>(body)(); return 0; });
}

// Throws again a code parked by `from_platform`, if any.
void resume_pending();
// Forgets a parked code, if any, and what it carried.
void drop_pending() noexcept;

// Calls a platform function that may call back into our code, then resumes
// any throw a callback parked. A throw of the call's own that comes after a
// parked one is dropped for it: the parked one happened first. A code that
// was parked before the call (the call runs inside a callback of an outer
// one) is left to the outer call, and whatever this call parks is dropped.
template <class F>
auto to_platform(F&& call) {
    const bool outer = pending_throw != 0;
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            std::forward<F>(call)();
            if (!outer) resume_pending();
        } else {
            auto r = std::forward<F>(call)();
            if (!outer) resume_pending();
            return r;
        }
    } catch (...) {
        if (!outer) resume_pending();
        throw;
    }
}

// --- Fatal exits -----------------------------------------------------------

// Name of a runtime error number as the error box shows it.
const char* runtime_error_name(int32_t code);

// Shows the runtime error box (unless code is 0), frees the tracked blocks and
// exits with `code`.
[[noreturn]] void quit(int32_t code, uint32_t address);

// The crash path: shows the box and exits without walking the heap, which may
// be what the fault corrupted.
[[noreturn]] void crash(int32_t code, uint32_t address);

// Runtime `case`/`switch` that found no arm.
[[noreturn]] void no_case();
[[noreturn]] void no_switch();

// Maps a platform exception code to a runtime error number (0 for a
// control-C exit).
int32_t exception_to_error(uint32_t code);

// Formats the box text "*** Runtime Error %d: %s\n*** at: %08Xh".
void format_runtime_error(char* out, unsigned size, int32_t code, uint32_t address);

// Address in the caller just past the call.
#define SYS_CALLER_ADDRESS() \
    ((uint32_t)(uintptr_t)__builtin_extract_return_addr(__builtin_return_address(0)))

// System start: crash handler, standard handles, command line.
void init(int argc, char** argv);

// Handler of the top-level record: what ends an uncaught throw.
[[noreturn]] void uncaught_throw(uint32_t code);

// Lowest machine stack address native recursion may reach, the safety
// margin included; set by init (0 when the system does not say).
extern uintptr_t stack_floor;

// Deep native recursion: true while less than the safety margin of machine
// stack is left. The evaluator turns this into its stack-overflow error; it
// asks on every block, so this is a plain compare against a plain global.
inline bool stack_low() { return (uintptr_t)__builtin_frame_address(0) < stack_floor; }

}  // namespace sys
