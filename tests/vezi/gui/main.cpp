// The GUI test runner (Windows build, under Wine on a virtual display):
// boots the runtime as the product does, starts the backend, runs the tests.
#include <gtest/gtest.h>

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
    platform::exit_process(RUN_ALL_TESTS());
}
