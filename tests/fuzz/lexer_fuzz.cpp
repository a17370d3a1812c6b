// Fuzz driver of the lexer: every input is scanned as `transcode` scans it
// (loading, then /one, /prescan and /scan), under AddressSanitizer. A syntax
// or internal error is a normal answer; anything else (a crash, a sanitizer
// report, a runtime error box) is a finding. Built by scripts/fuzz-lexer.
//
// The fuzzer runs on a thread of its own: under user-mode emulation the
// sanitizer cannot tell where the main thread's stack lies, and then leaves
// stale poison behind every exception (each syntax error is one); a thread
// made here has exact bounds.
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "datatypes/cell.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/sys.h"

static void scan(const uint8_t* data, size_t size, lexer::Options o) {
    stack::Arguments saved = stack::arguments;
    sys::catch_level(sys::THROW_ERROR, [&] {
        cell* result = stack::push_cell();
        lexer::scan(data, (uint32_t)size, o, result);
    });
    sys::clear_throw();
    stack::arguments = saved;
}

static int test_one_input(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    scan(data, size, {});
    lexer::Options o;
    o.one = true;
    scan(data, size, o);
    o = {};
    o.prescan = true;
    scan(data, size, o);
    o = {};
    o.scan = true;
    scan(data, size, o);
    return 0;
}

extern "C" int LLVMFuzzerRunDriver(int* argc, char*** argv,
                                   int (*callback)(const uint8_t* data, size_t size));

struct Args {
    int argc;
    char** argv;
    int result;
};

static void* fuzz(void* p) {
    Args* a = (Args*)p;
    runtime::setup(a->argc, a->argv);
    runtime::init();
    collector::enabled = 1;
    // Ends the process here: tearing this thread down trips the sanitizer
    // under emulation.
    std::exit(LLVMFuzzerRunDriver(&a->argc, &a->argv, test_one_input));
}

int main(int argc, char** argv) {
    Args a{argc, argv, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64u << 20);
    pthread_t t;
    if (pthread_create(&t, &attr, fuzz, &a) != 0) return 1;
    pthread_join(t, nullptr);
    return a.result;
}
