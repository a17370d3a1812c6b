// The GUI test runner (Windows build, under Wine on a virtual display):
// boots the runtime as the product does, starts the backend, runs the tests.
// Under emulation Wine can lose the status of a program that died, so the
// result is also written where scripts/gui-test asks (ZOL_GUI_RESULT): no
// file there means the program never got to its end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "runtime/init.h"
#include "vezi/backend/gui.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    runtime::setup(argc, argv);
    runtime::top_level([] {
        runtime::init();
        runtime::start_library();
        gui::init();
    });
    int result = RUN_ALL_TESTS();
    if (const char* path = getenv("ZOL_GUI_RESULT")) {
        if (FILE* f = fopen(path, "w")) {
            fprintf(f, "%d\n", result);
            fclose(f);
        }
    }
    platform::exit_process(result);
}
