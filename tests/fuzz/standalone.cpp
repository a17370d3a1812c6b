// A fuzzing main for builds without libFuzzer (gcc, or where clang's
// sanitizer runtime cannot run, as under user-mode emulation): random
// mutations of the seed corpus, no coverage feedback, fed to the same
// LLVMFuzzerTestOneInput for a set time. An input that crashes (a sanitizer
// report, an abort) is written to <prefix>crash-<run number>.
//   <name>_fuzz -max_total_time=N -artifact_prefix=P [-seed=S] corpus-dir...
// 32-bit build on a filesystem with 64-bit inode numbers: readdir needs this.
#define _FILE_OFFSET_BITS 64
#include <dirent.h>
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

// The input being run, kept where the crash handlers can write it out.
int open_file(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644); }

const Bytes* running = nullptr;
char crash_path[4096];

void save_running() {
    if (!running) return;
    int fd = open_file(crash_path);
    if (fd < 0) return;
    if (write(fd, running->data(), running->size()) < 0) {}
    close(fd);
    running = nullptr;
}

void on_signal(int sig) {
    save_running();
    signal(sig, SIG_DFL);
    raise(sig);
}

std::vector<Bytes> load(const char* dir) {
    std::vector<Bytes> out;
    DIR* d = opendir(dir);
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string path = std::string(dir) + "/" + e->d_name;
        FILE* f = fopen(path.c_str(), "rb");
        if (!f) continue;
        Bytes b;
        uint8_t buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
        fclose(f);
        out.push_back(b);
    }
    closedir(d);
    return out;
}

void mutate(Bytes& b, const std::vector<Bytes>& corpus, std::mt19937& rng) {
    static const uint32_t interesting[] = {0, 1, 2, 3, 4, 7, 8, 0x7F, 0x80, 0xFF, 0x100, 0xFFFF, 0x10000,
                                           0x100000, 0x100001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    int steps = 1 + (int)(rng() % 4);
    while (steps--) {
        size_t at = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 8) {
            case 0: if (!b.empty()) b[at] ^= (uint8_t)(1u << (rng() % 8)); break;
            case 1: if (!b.empty()) b[at] = (uint8_t)rng(); break;
            case 2: b.insert(b.begin() + (long)at, (uint8_t)rng()); break;
            case 3: if (!b.empty()) b.erase(b.begin() + (long)at, b.begin() + (long)std::min(b.size(), at + 1 + rng() % 16)); break;
            case 4: {  // a 32-bit little-endian field set to an edge value
                uint32_t v = interesting[rng() % (sizeof interesting / sizeof *interesting)];
                for (int i = 0; i < 4 && at + i < b.size(); i++) b[at + i] = (uint8_t)(v >> (8 * i));
                break;
            }
            case 5: b.resize(at); break;  // truncate
            case 6: {  // splice in part of another input
                const Bytes& o = corpus[rng() % corpus.size()];
                if (o.empty()) break;
                size_t from = rng() % o.size(), n = 1 + rng() % (o.size() - from);
                b.insert(b.begin() + (long)at, o.begin() + (long)from, o.begin() + (long)(from + n));
                break;
            }
            default: {  // repeat a run
                if (b.empty()) break;
                size_t n = 1 + rng() % std::min<size_t>(64, b.size() - at);
                Bytes run(b.begin() + (long)at, b.begin() + (long)(at + n));
                for (int k = (int)(rng() % 8); k >= 0; k--) b.insert(b.begin() + (long)at, run.begin(), run.end());
                break;
            }
        }
        if (b.size() > 65536) b.resize(65536);
    }
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 60;
    std::string prefix = "./";
    uint32_t seed = (uint32_t)time(nullptr);
    std::vector<Bytes> corpus;
    for (int i = 1; i < argc; i++) {
        if (!strncmp(argv[i], "-max_total_time=", 16)) seconds = atol(argv[i] + 16);
        else if (!strncmp(argv[i], "-artifact_prefix=", 17)) prefix = argv[i] + 17;
        else if (!strncmp(argv[i], "-seed=", 6)) seed = (uint32_t)strtoul(argv[i] + 6, nullptr, 10);
        else if (argv[i][0] != '-') {
            std::vector<Bytes> more = load(argv[i]);
            corpus.insert(corpus.end(), more.begin(), more.end());
        }
    }
    if (corpus.empty()) corpus.push_back(Bytes());
    std::mt19937 rng(seed);
    time_t end = time(nullptr) + seconds;
    uint64_t runs = 0;
    __sanitizer_set_death_callback(save_running);
    signal(SIGABRT, on_signal);
    signal(SIGSEGV, on_signal);
    printf("standalone fuzzer: seed %u, %zu seeds, %lds\n", seed, corpus.size(), seconds);
    fflush(stdout);
    for (const Bytes& b : corpus) {
        snprintf(crash_path, sizeof crash_path, "%sseed-crash", prefix.c_str());
        running = &b;
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    while (time(nullptr) < end) {
        for (int i = 0; i < 256; i++, runs++) {
            Bytes b = corpus[rng() % corpus.size()];
            mutate(b, corpus, rng);
            snprintf(crash_path, sizeof crash_path, "%scrash-%llu", prefix.c_str(), (unsigned long long)runs);
            running = &b;
            LLVMFuzzerTestOneInput(b.data(), b.size());
        }
    }
    running = nullptr;
    printf("stat::number_of_executed_units: %llu\n", (unsigned long long)runs);
    return 0;
}
