// Interpreter speed: function calls with and without `return`, a loop body
// left by `break`, arithmetic in a loop, and remove-each over long series.
// Zol code read from text; the loop is driven from C++ through the loop
// natives' own step, so a figure is the body's cost alone. Prints the median
// of several runs in nanoseconds per operation.
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

// Evaluates `body` `count` times as a loop native does.
void loop(const cell* body, int count) {
    for (int i = 0; i < count; i++)
        if (interpreter::loop_body(body) != interpreter::LOOP_NEXT) break;
}

double median_ns(int ops, const std::function<void()>& run) {
    std::vector<double> t;
    for (int r = 0; r < 7; r++) {
        auto t0 = Clock::now();
        run();
        t.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / ops);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// `loops` loops of `repeat` iterations of the body, each `ops_per_body`
// operations.
void bench(const char* label, const char* setup, const char* body_text, int loops, int repeat,
           int ops_per_body) {
    cell* top = stack::arguments.top;
    interpreter::do_block(reader::load(setup));
    cell* body = reader::load(body_text);
    double ns = median_ns(loops * repeat * ops_per_body, [&] {
        for (int i = 0; i < loops; i++) loop(body, repeat);
    });
    std::printf("%-28s %10.1f ns/op\n", label, ns);
    stack::arguments.top = top;
}

std::string times(const char* s, int n) {
    std::string r;
    for (int i = 0; i < n; i++) (r += s) += ' ';
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    runtime::setup(argc, argv);
    runtime::init();
    collector::enabled = 1;
    runtime::top_level([] {
        bench("call, no return", "f: func [a][a + 1]", times("f 1", 100).c_str(), 1, 2000, 100);
        bench("call with return", "g: func [a][return a + 1]", times("g 1", 100).c_str(), 1, 2000, 100);
        bench("loop left by break", "x: 0", "x: x + 1 break", 100000, 1, 1);
        bench("loop with arithmetic", "x: 0", "x: x + 1 * 2 - 1", 1, 200000, 1);
        // Half the values removed: linear in the length (was quadratic).
        bench("remove-each over 200000", "big: make block! 200000 repeat i 200000 [append big i]",
              "remove-each x copy big [odd? x]", 1, 1, 200000);
        bench("remove-each, string 200000", "s: make string! 200000 loop 100000 [append s \"a1\"]",
              "remove-each c copy s [c = #\"1\"]", 1, 1, 200000);
    });
    sys::quit(0, 0);
}
