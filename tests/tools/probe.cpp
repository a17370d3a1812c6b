// Boots like the product, then does one thing named on the command line, so
// that tests can watch whole-process behaviour: exit codes, the runtime error
// box, the command line.
#include <cstdio>
#include <cstring>

#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "runtime/init.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

static const char* mode = "";

// The faults must reach the crash handler, not the sanitizers' checks.
#define RAW_FAULT __attribute__((noinline, no_sanitize("undefined", "address")))

static volatile int zero = 0;
static volatile int* volatile null_ptr = nullptr;
RAW_FAULT static void store_to_null() { *null_ptr = 1; }
RAW_FAULT static int divide_by_zero() { return 1 / zero; }

// Recurses until the stack runs low, then raises an error as the evaluator's
// stack-overflow check does.
#pragma GCC diagnostic ignored "-Winfinite-recursion"
static int recurse(int depth) {
    volatile char pad[512];
    pad[0] = (char)depth;
    if (sys::stack_low()) sys::throw_code(sys::THROW_ERROR);
    return recurse(depth + 1) + pad[0];
}

static void run() {
    if (!strcmp(mode, "quiet")) sys::throw_code(sys::THROW_QUIET_QUIT);
    if (!strcmp(mode, "throw")) sys::throw_code(1234);
    if (!strcmp(mode, "access")) store_to_null();
    if (!strcmp(mode, "divide")) printf("division did not trap: %d\n", divide_by_zero());
    if (!strcmp(mode, "oom")) sys::allocate(0xFFFFFFF8u);
    if (!strcmp(mode, "case")) sys::no_case();
    if (!strcmp(mode, "recurse")) {
        if (sys::catch_level(sys::THROW_ERROR, [] { recurse(0); }) == sys::THROW_ERROR) {
            sys::clear_throw();
            printf("stack-overflow caught\n");
        }
    }
    // An error nothing catches: the report in the box, exit code -2.
    if (!strcmp(mode, "uncaught")) interpreter::do_block(reader::load("f: func [x][x qqq] f 1"));
    if (!strcmp(mode, "args")) {
        for (int i = 2; i < sys::runtime.argc; i++) {
            for (const char* p = sys::runtime.argv[i]; *p; p++) printf("%02X ", (unsigned char)*p);
            printf("|");
        }
        printf("\n");
    }
    fflush(stdout);
}

int main(int argc, char** argv) {
    if (argc > 1) mode = argv[1];
    if (!strcmp(mode, "exit")) runtime::start(argc, argv);
    runtime::setup(argc, argv);
    runtime::top_level([] {
        runtime::init();
        run();
    });
    sys::quit(0, 0);
}
