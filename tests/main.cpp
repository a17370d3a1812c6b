// The C++ test runner: boots the runtime as the product does (without the
// console), then runs every test.
#include <gtest/gtest.h>

#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#endif

#include "runtime/collector.h"
#include "runtime/init.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    runtime::setup(argc, argv);
    runtime::init();
    collector::enabled = 1;  // as after the boot image is loaded
    int status = RUN_ALL_TESTS();
#ifdef _WIN32
    // Wine under user-mode emulation sometimes faults while it tears a process
    // down (library detach), which turns a passed run into a killed one; the
    // results are all written by now, so end without the teardown.
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), (UINT)status);
#endif
    return status;
}
