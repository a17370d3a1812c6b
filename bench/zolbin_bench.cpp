// Zolbin throughput (MB/s of encoded bytes) in both modes, for a large block
// of mixed values (integers, floats, strings, words, nested blocks), as the
// median of several runs; and the start-up cost of this process: runtime
// init with the boot image's decoding, and the library's top-level code.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"
#include "runtime/boot_image.h"
#include "runtime/collector.h"
#include "runtime/crush.h"
#include "runtime/init.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int RUNS = 5;

template <class F>
double median_seconds(F f) {
    std::vector<double> t;
    for (int i = 0; i < RUNS; i++) {
        auto t0 = Clock::now();
        f();
        t.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[RUNS / 2];
}

// A block of 20,000 records of mixed values.
cell* sample() {
    std::string text = "[";
    for (int i = 0; i < 2000; i++)
        text += "[" + std::to_string(i * 7919) + " " + std::to_string(i) +
                ".25 \"some text here\" word set-word: 'lit [nested 1 2 3] #issue 10x20 1.2.3]\n";
    text += "]";
    cell* code = reader::load(text.data(), text.size());
    return interpreter::do_block(code);
}

void bench(const char* mode, bool compact, cell* value) {
    cell v = *value;
    cell* top = stack::arguments.top;
    cell* bin = compact ? zolbin::encode_compact(&v) : zolbin::encode(&v);
    memory::Buffer* b = series::buffer_of(bin);
    std::vector<uint8_t> bytes(b->head, b->tail);
    stack::arguments.top = top;
    double mb = bytes.size() / 1048576.0;
    double enc = median_seconds([&] {
        cell* t = stack::arguments.top;
        compact ? zolbin::encode_compact(&v) : zolbin::encode(&v);
        stack::arguments.top = t;
    });
    double dec = median_seconds([&] {
        cell* t = stack::arguments.top;
        cell* out = block::push_new(1);
        zolbin::decode(bytes.data(), (uint32_t)bytes.size(), series::node_of(out));
        stack::arguments.top = t;
    });
    printf("%-8s %7.2f MB   encode %8.1f MB/s   decode %8.1f MB/s\n", mode, mb, mb / enc, mb / dec);
}

}  // namespace

int main(int argc, char** argv) {
    auto t0 = Clock::now();
    runtime::setup(argc, argv);
    runtime::top_level([] {
        runtime::init();
        runtime::start_library();
    });
    double boot = std::chrono::duration<double>(Clock::now() - t0).count();
    uint32_t plain = 0;
    if (uint8_t* p = crush::decompress(boot_image::data + 8, boot_image::size - 8, &plain)) crush::free(p);
    printf("start-up (init, boot image, library code): %.1f ms; image %u bytes, %u decompressed, %d literals\n",
           boot * 1000, boot_image::size, plain + 8, zolbin::literal_count());
    runtime::top_level([] {
        cell* value = sample();
        cell v = *value;
        collector::Root hold(v);
        bench("normal", false, &v);
        bench("compact", true, &v);
    });
    return 0;
}
