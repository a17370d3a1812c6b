// Fuzz driver of the lexer: every input is scanned as `transcode` scans it
// (loading, then /one, /prescan and /scan), under AddressSanitizer. A syntax
// or internal error is a normal answer; anything else (a crash, a sanitizer
// report, a runtime error box) is a finding. Built and run by
// scripts/fuzz-lexer, never by ctest.
//
// Two engines. With ZOL_LIBFUZZER (clang), libFuzzer drives the inputs from
// a thread of its own: under user-mode emulation the sanitizer cannot tell
// where the main thread's stack lies and leaves stale poison behind every
// exception, while a thread made here has exact bounds. Without it (the
// default: clang's 32-bit sanitizer allocator fails under that emulation),
// a mutation loop of our own works over a seed corpus:
//   lexer_fuzz SECONDS CORPUS_DIR CURRENT_FILE
// Each input is written to CURRENT_FILE before it runs, so a crash leaves
// the input that caused it there.
#include <pthread.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <dirent.h>

#include "datatypes/cell.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
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

#ifdef ZOL_LIBFUZZER

extern "C" int LLVMFuzzerRunDriver(int* argc, char*** argv,
                                   int (*callback)(const uint8_t* data, size_t size));

struct Args {
    int argc;
    char** argv;
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
    Args a{argc, argv};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64u << 20);
    pthread_t t;
    if (pthread_create(&t, &attr, fuzz, &a) != 0) return 1;
    pthread_join(t, nullptr);
    return 0;
}

#else

// Pieces of the notation the mutations splice in.
static const char* const TOKENS[] = {
    "[", "]", "(", ")", "{", "}", "\"", "#", "%", "^", "^(", "^(41)", "^(1F600)", "/", ":", "'",
    "1.#INF", "1.#NaN", "#{", "#[", "#(", "#(none)", "$", "@", "<", ">", ",", "\n", " ", ";",
    "\xC2\xA0", "\xF0\x9F\x98\x80", "\xC3", "\xE3\x80\x80", "1x2", "1:2:3.5", "12345678901", "1'0",
    "1.2.3", "FFh", "%{", "}%", "%%{", "}%%", "http://", "a@b", "2#{", "64#{", "e", "E", "-", "+",
    ".", "a/b", "a:", ":a", "'a", "/a", "1-Jan-2000", "$1.50", "USD$", "50%", "(1, 2)", "\x00",
};

static std::vector<std::string> read_corpus(const char* dir) {
    std::vector<std::string> seeds;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::string path = std::string(dir) + "/" + e->d_name;
            if (FILE* f = fopen(path.c_str(), "rb")) {
                std::string s;
                char buf[4096];
                for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
                fclose(f);
                if (s.size() <= 4096) seeds.push_back(s);
            }
        }
        closedir(d);
    }
    if (seeds.empty()) seeds.push_back("[a 1 \"b\"]");
    return seeds;
}

static std::string mutate(const std::vector<std::string>& seeds, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n ? (size_t)(rng() % n) : 0; };
    std::string s = seeds[pick(seeds.size())];
    int rounds = 1 + (int)pick(8);
    for (int r = 0; r < rounds; r++) {
        size_t at = pick(s.size() + 1);
        switch (pick(7)) {
            case 0: if (!s.empty()) s[pick(s.size())] ^= (char)(1 << pick(8)); break;
            case 1: s.insert(at, 1, (char)pick(256)); break;
            case 2: s.insert(at, TOKENS[pick(sizeof TOKENS / sizeof *TOKENS)]); break;
            case 3: if (at < s.size()) s.erase(at, 1 + pick(8)); break;
            case 4: if (at < s.size()) s.insert(at, s.substr(at, 1 + pick(16))); break;
            case 5: {
                const std::string& o = seeds[pick(seeds.size())];
                size_t from = pick(o.size() + 1);
                s.insert(at, o.substr(from, pick(64)));
                break;
            }
            default: if (at < s.size()) s.resize(at); break;
        }
        if (s.size() > 4096) s.resize(4096);
    }
    return s;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: lexer_fuzz SECONDS CORPUS_DIR CURRENT_FILE\n");
        return 2;
    }
    double seconds = atof(argv[1]);
    std::vector<std::string> seeds = read_corpus(argv[2]);
    runtime::setup(argc, argv);
    runtime::init();
    collector::enabled = 1;
    std::mt19937 rng((uint32_t)std::chrono::steady_clock::now().time_since_epoch().count());
    auto start = std::chrono::steady_clock::now();
    uint64_t runs = 0;
    for (double elapsed = 0; elapsed < seconds;) {
        std::string input = mutate(seeds, rng);
        if (FILE* f = fopen(argv[3], "wb")) {
            fwrite(input.data(), 1, input.size(), f);
            fclose(f);
        }
        test_one_input((const uint8_t*)input.data(), input.size());
        runs++;
        // Inputs that load keep the corpus varied.
        if (runs % 64 == 0 && seeds.size() < 4096) seeds.push_back(input);
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (runs % 2000 == 0) {
            printf("%llu runs, %.0f s, heap %u KB, %d symbols\n", (unsigned long long)runs, elapsed,
                   memory::record->total >> 10, symbol::count());
            fflush(stdout);
        }
    }
    printf("done: %llu runs in %.0f s, no crash\n", (unsigned long long)runs, seconds);
    remove(argv[3]);
    return 0;
}

#endif
