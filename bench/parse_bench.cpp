// Parse speed: a large generated CSV-like text matched with some/copy/to/thru
// and a large block matched by datatype and literal rules. Prints the median
// of several runs in MB/s (text) and million values per second (block).
//
//   bench_parse [MEGABYTES]   (default 10)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/cell.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/sys.h"

using Clock = std::chrono::steady_clock;

namespace {

double median_seconds(const std::function<void()>& run) {
    std::vector<double> t;
    for (int r = 0; r < 5; r++) {
        auto t0 = Clock::now();
        run();
        t.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Lines of four fields: a number, a name, free text, a decimal.
std::string csv_text(size_t bytes) {
    std::string s;
    s.reserve(bytes + 64);
    for (unsigned i = 0; s.size() < bytes; i++) {
        s += std::to_string(i * 7919u % 100000u);
        s += ",name-" + std::to_string(i % 997) + ",some text of the line " + std::to_string(i);
        s += "," + std::to_string(i % 100) + "." + std::to_string(i % 7) + "\n";
    }
    return s;
}

// Values of three types, repeated.
std::string block_text(int values) {
    std::string s = "[";
    for (int i = 0; i < values / 3; i++) s += std::to_string(i) + " w" + std::to_string(i % 50) + " \"s\" ";
    return s + "]";
}

size_t megabytes = 10;

void run(const char* code) {
    cell* top = stack::arguments.top;
    interpreter::do_block(reader::load(code));
    stack::arguments.top = top;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) megabytes = (size_t)std::atoi(argv[1]);
    if (megabytes < 1) megabytes = 1;
    runtime::setup(argc, argv);
    runtime::init();
    collector::enabled = 1;
    runtime::top_level([] {
        std::string text = csv_text(megabytes << 20);
        cell* csv = string::load(text.data(), (int32_t)text.size(), nullptr, 0);
        cell name = *word::load("csv");
        word::set_in(&name, csv);
        run("digit: make bitset! {0123456789} "
            "line: [copy a some digit #\",\" thru #\",\" copy b to #\",\" skip copy c to #\"^/\" skip]");
        double s = median_seconds([] { run("parse csv [some line]"); });
        std::printf("%-34s %8.1f MB/s\n", "text: some/copy/to/thru", (double)text.size() / s / 1e6);
        s = median_seconds([] { run("parse csv [some [thru #\"^/\"]]"); });
        std::printf("%-34s %8.1f MB/s\n", "text: lines by thru", (double)text.size() / s / 1e6);
        s = median_seconds([] { run("parse csv [some [some digit | skip]]"); });
        std::printf("%-34s %8.1f MB/s\n", "text: one unit per step", (double)text.size() / s / 1e6);

        int values = (int)(megabytes * 100000);
        std::string b = "blk: " + block_text(values);
        run(b.c_str());
        s = median_seconds([] { run("parse blk [some [integer! word! string!]]"); });
        std::printf("%-34s %8.2f M values/s\n", "block: datatypes", values / s / 1e6);
        s = median_seconds([] { run("parse blk [some [integer! skip \"s\"]]"); });
        std::printf("%-34s %8.2f M values/s\n", "block: literal", values / s / 1e6);
    });
    sys::quit(0, 0);
}
