// Start-up and shutdown: the program's entry and every module's
// initialisation in its fixed order.
#pragma once
#include <cstdint>

namespace runtime {

// While 1, words made for compiled code go into new cells of the root block.
extern int32_t boot_flag;
// Machine stack pointer taken just before `runtime::init`.
extern uintptr_t stack_base;

// Special float constants stored at start-up.
extern double float_max;        // largest finite double
extern double float_inf;        // +infinity
extern double float_neg_inf;    // -infinity
extern double float_nan;        // quiet NaN
extern double float_below_half; // 0.49999999999999994

// x87 control word loaded at start: all exceptions masked, 53-bit precision,
// round to nearest.
constexpr uint16_t X87_CONTROL = 0x027F;
extern uint16_t x87_control;

// The entry: set-up, runtime init, library, console; never returns.
[[noreturn]] void start(int argc, char** argv);

// System set-up (step 1 of start) without the rest: what tests and tools that
// boot the runtime without a console use before `init`.
void setup(int argc, char** argv);

// The top-level record: runs `body`, and ends the process through the
// uncaught-throw handler when a throw that nothing stopped reaches it.
void top_level(void (*body)());

// Every module's initialisation, once, in order.
void init();

// The boot literals the start-up reads: the error catalog, the routines'
// names and specs, then one block of top-level code per library file.
enum BootLiteral : int32_t { BOOT_CATALOG = 0, BOOT_ROUTINES = 1, BOOT_CODE = 2 };

// After `init`: switches the collector on and the boot flag off, then runs
// the library's top-level code (start steps 5 and 6). What boots the
// runtime without a console calls it too.
void start_library();

// Releases every memory frame and tracked block (not on the exit paths).
void quit();

}  // namespace runtime
