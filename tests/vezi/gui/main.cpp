// The GUI test runner (Windows build, under Wine on a virtual display):
// boots the runtime as the product does, starts the backend, runs the tests.
// Under emulation Wine can lose the status of a program that died, so the
// result is also written where scripts/gui-test asks (ZOL_GUI_RESULT): no
// file there means the program never got to its end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/platform.h"
#include "runtime/init.h"
#include "vezi/backend/gui.h"

namespace {

// gtest's own printer, except that a failed assertion is printed here: the
// printer also hands it to OutputDebugStringA, whose debug exception Wine
// under user-mode emulation does not survive, so the first failing check
// ended the whole run.
class Printer : public testing::TestEventListener {
public:
    explicit Printer(testing::TestEventListener* inner) : inner_(inner) {}
    void OnTestProgramStart(const testing::UnitTest& u) override { inner_->OnTestProgramStart(u); }
    void OnTestIterationStart(const testing::UnitTest& u, int i) override { inner_->OnTestIterationStart(u, i); }
    void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override { inner_->OnEnvironmentsSetUpStart(u); }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override { inner_->OnEnvironmentsSetUpEnd(u); }
    void OnTestSuiteStart(const testing::TestSuite& s) override { inner_->OnTestSuiteStart(s); }
    void OnTestCaseStart(const testing::TestCase& s) override { inner_->OnTestCaseStart(s); }
    void OnTestStart(const testing::TestInfo& t) override { inner_->OnTestStart(t); }
    void OnTestDisabled(const testing::TestInfo& t) override { inner_->OnTestDisabled(t); }
    void OnTestPartResult(const testing::TestPartResult& r) override {
        if (r.type() == testing::TestPartResult::kSuccess) return;
        printf("%s:%d: %s\n%s\n", r.file_name() ? r.file_name() : "unknown file", r.line_number(),
               r.skipped() ? "Skipped" : "Failure", r.message());
        fflush(stdout);
    }
    void OnTestEnd(const testing::TestInfo& t) override { inner_->OnTestEnd(t); }
    void OnTestSuiteEnd(const testing::TestSuite& s) override { inner_->OnTestSuiteEnd(s); }
    void OnTestCaseEnd(const testing::TestCase& s) override { inner_->OnTestCaseEnd(s); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override { inner_->OnEnvironmentsTearDownStart(u); }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override { inner_->OnEnvironmentsTearDownEnd(u); }
    void OnTestIterationEnd(const testing::UnitTest& u, int i) override { inner_->OnTestIterationEnd(u, i); }
    void OnTestProgramEnd(const testing::UnitTest& u) override { inner_->OnTestProgramEnd(u); }

private:
    std::unique_ptr<testing::TestEventListener> inner_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    if (testing::TestEventListener* inner = listeners.default_result_printer())
        listeners.Append(new Printer(listeners.Release(inner)));
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
