// System runtime: throw codes, the top-level handler and fatal exits.
#include "runtime/sys.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "runtime/tracked.h"

namespace sys {

RuntimeRecord runtime;
uint32_t pending_throw = 0;
ParkHook park_hook = nullptr;

void throw_code(uint32_t code) {
    runtime.last_throw = code;
    if (code == 0) return;
    throw Throw{code};
}

void rethrow(uint32_t code) {
    runtime.last_throw = code;
    throw Throw{code};
}

void resume_pending() {
    uint32_t code = pending_throw;
    if (!code) return;
    pending_throw = 0;
    if (park_hook) park_hook(code, Parking::resume);
    rethrow(code);
}

void drop_pending() noexcept {
    uint32_t code = pending_throw;
    if (!code) return;
    pending_throw = 0;
    if (park_hook) park_hook(code, Parking::drop);
}

namespace {
struct ErrorName { int32_t code; const char* name; };
constexpr ErrorName error_names[] = {
    {1, "access violation"}, {2, "invalid alignment"}, {3, "breakpoint"},
    {4, "single step"}, {5, "bounds exceeded"}, {6, "float denormal operan"},
    {7, "float divide by zero"}, {8, "float inexact result"},
    {9, "float invalid operation"}, {10, "float overflow"},
    {11, "float stack check"}, {12, "float underflow"},
    {13, "integer divide by zero"}, {14, "integer overflow"},
    {15, "privileged instruction"}, {16, "invalid virtual address"},
    {17, "illegal instruction"}, {18, "non-continuable exception"},
    {19, "stack error or overflow"}, {20, "invalid disposition"},
    {21, "guard page"}, {22, "invalid handle"}, {23, "illegal operand"},
    {24, "illegal addressing mode"}, {25, "illegal trap"},
    {26, "coprocessor error"}, {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"}, {31, "privileged register"},
    {32, "segmentation fault"}, {33, "FPU error"}, {34, "Bus error"},
    {94, "out of memory"}, {95, "no CATCH for THROW"},
    {98, "assertion failed"}, {99, "unknown error"},
    {100, "no value matched in CASE"}, {101, "no value matched in SWITCH"},
};

struct ExceptionMap { uint32_t exception; int32_t error; };
constexpr ExceptionMap exception_map[] = {
    {0xC0000005, 1},  {0x80000002, 2},  {0x80000003, 3},  {0x80000004, 4},
    {0xC000008C, 5},  {0xC000008D, 6},  {0xC000008E, 7},  {0xC000008F, 8},
    {0xC0000090, 9},  {0xC0000091, 10}, {0xC0000092, 11}, {0xC0000093, 12},
    {0xC0000094, 13}, {0xC0000095, 14}, {0xC0000096, 15}, {0xC0000006, 16},
    {0xC000001D, 17}, {0xC0000025, 18}, {0xC00000FD, 19}, {0xC0000026, 20},
    {0x80000001, 21}, {0xC0000008, 22}, {0xC000013A, 0},
};
}  // namespace

const char* runtime_error_name(int32_t code) {
    for (const ErrorName& e : error_names)
        if (e.code == code) return e.name;
    return "unknown error code!";
}

int32_t exception_to_error(uint32_t code) {
    for (const ExceptionMap& m : exception_map)
        if (m.exception == code) return m.error;
    return RT_UNKNOWN;
}

void format_runtime_error(char* out, unsigned size, int32_t code, uint32_t address) {
    snprintf(out, size, "*** Runtime Error %d: %s\n*** at: %08Xh", (int)code,
             runtime_error_name(code), (unsigned)address);
}

static void show_box(int32_t code, uint32_t address) {
    char text[1024];
    format_runtime_error(text, sizeof text, code, address);
    gui::alert("Zol App Error", text);
}

void quit(int32_t code, uint32_t address) {
    if (code != 0) show_box(code, address);
    free_all();
    platform::exit_process(code);
}

void crash(int32_t code, uint32_t address) {
    if (code != 0) show_box(code, address);
    platform::exit_process(code);
}

void no_case() { quit(RT_NO_CASE, SYS_CALLER_ADDRESS()); }
void no_switch() { quit(RT_NO_SWITCH, SYS_CALLER_ADDRESS()); }

void uncaught_throw(uint32_t code) {
    if (code == THROW_QUIET_QUIT) quit(0, 0);
    quit(RT_NO_CATCH, SYS_CALLER_ADDRESS());
}

// Room kept free below the deepest native recursion: enough for the error
// path (building and throwing the stack-overflow error) to run.
static constexpr uintptr_t STACK_MARGIN = 256 * 1024;

uintptr_t stack_floor = 0;

void init(int argc, char** argv) {
    platform::install_crash_handler();
    platform::read_command_line(argc, argv);
    uintptr_t low = platform::stack_limit();
    stack_floor = low ? low + STACK_MARGIN : 0;
}

}  // namespace sys
