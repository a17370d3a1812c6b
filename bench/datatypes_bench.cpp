// Datatype speed from Zol code: counting a million words in a map! and
// appending a million bytes to a binary!. The loops are driven from C++ the
// way the loop natives drive them (a loop frame around each evaluation of
// the body), so a figure is the body's cost alone. Prints the median of several runs
// in nanoseconds per word or byte, and in milliseconds per million.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/cell.h"
#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/sys.h"
#include "runtime/words.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int MILLION = 1000000;
constexpr int VOCABULARY = 1000;  // distinct words among the million

void loop(const cell* body, int count) {
    cell name = *words::word_anon;
    cell* top = stack::arguments.top;
    for (int i = 0; i < count; i++) {
        stack::mark_loop(&name);
        interpreter::eval_block(body, true);
        if (sys::is_pending()) return;  // an error: the run is wrong, stop it
        stack::reset();
        stack::arguments.top = top;
    }
}

double median_ns(int ops, const std::function<void()>& setup, const std::function<void()>& run) {
    std::vector<double> t;
    for (int r = 0; r < 5; r++) {
        setup();
        auto t0 = Clock::now();
        run();
        t.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / ops);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void bench(const char* label, const std::string& setup, const char* body_text, const char* check) {
    cell* top = stack::arguments.top;
    cell* body = reader::load(body_text);
    double ns = median_ns(
        MILLION, [&] { interpreter::do_block(reader::load(setup.c_str())); },
        [&] { loop(body, MILLION); });
    std::printf("%-28s %8.1f ns/op %8.1f ms/million\n", label, ns, ns * MILLION / 1e6);
    interpreter::do_block(reader::load(check));
    stack::arguments.top = top;
}

}  // namespace

int main(int argc, char** argv) {
    runtime::setup(argc, argv);
    runtime::init();
    collector::enabled = 1;
    runtime::top_level([] {
        // The million words: the vocabulary w0 .. w999 over and over.
        // The map starts with every word at 0, so the count is one put.
        std::string words = "ws: [", zeros = "m: make map! [";
        for (int i = 0; i < VOCABULARY; i++) {
            words += " w" + std::to_string(i);
            zeros += " w" + std::to_string(i) + " 0";
        }
        words += "] " + zeros + "] ";
        bench("map! word count",
              words + "n: 0",
              "w: pick ws 1 + remainder n 1000 n: n + 1 put m w 1 + select m w",
              "print select m 'w0");
        bench("binary! append", "bin: make binary! 0", "append bin 255",
              "print length? bin");
    });
    sys::quit(0, 0);
}
