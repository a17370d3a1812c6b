// The C++ test runner: boots the runtime as the product does (without the
// console), then runs every test.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/init.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    runtime::setup(argc, argv);
    runtime::top_level([] {
        runtime::init();
        runtime::start_library();
    });
    int status = RUN_ALL_TESTS();
#ifdef _WIN32
    // Ends as the product does, without the teardown that can fault under Wine.
    platform::exit_process(status);
#endif
    return status;
}
