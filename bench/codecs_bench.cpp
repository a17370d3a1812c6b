// Checksum and compression throughput (MB/s of input): the checksum module
// beside zlib's own CRC-32 and Adler-32, and each framing beside the zlib or
// zstd call it wraps, on the same data, so the framing's overhead shows.
// Prints the median of several runs per line.
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/framing.h"
#include "runtime/crush.h"
#include "runtime/init.h"
#include "runtime/tracked.h"

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t SIZE = 4u << 20;
constexpr int RUNS = 5;

// Text-like data: words and numbers with some repetition, compressing about
// as source code does.
Bytes sample() {
    std::mt19937 rng(12345);
    const char* words[] = {"block ", "word ", "series ", "context ", "[", "]\n", "func ", "either ",
                           "append ", "copy/part ", "none ", "\"text\" "};
    std::string s;
    while (s.size() < SIZE) {
        s += words[rng() % 12];
        if (rng() % 4 == 0) s += std::to_string(rng() % 100000) + " ";
    }
    return Bytes(s.begin(), s.begin() + SIZE);
}

template <class F>
void measure(const char* name, uint32_t bytes, F f) {
    std::vector<double> rates;
    for (int i = 0; i < RUNS; i++) {
        auto t0 = Clock::now();
        f();
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        rates.push_back(bytes / 1048576.0 / s);
    }
    std::sort(rates.begin(), rates.end());
    printf("%-34s %9.1f MB/s\n", name, rates[RUNS / 2]);
}

volatile uint32_t sink;

}  // namespace

int main(int argc, char** argv) {
    runtime::setup(argc, argv);
    runtime::init();
    Bytes data = sample();
    const uint8_t* in = data.data();

    printf("-- checksums over %u MB\n", SIZE >> 20);
    measure("crc32 (ours)", SIZE, [&] { sink = crypto::crc32(in, SIZE); });
    measure("crc32 (zlib)", SIZE, [&] { sink = (uint32_t)::crc32(0, in, SIZE); });
    measure("adler32 (ours)", SIZE, [&] { sink = crypto::adler32(in, SIZE); });
    measure("adler32 (zlib)", SIZE, [&] { sink = (uint32_t)::adler32(1, in, SIZE); });
    measure("tcp", SIZE, [&] { sink = crypto::tcp_checksum(in, SIZE); });
    for (int32_t m : {crypto::M_MD5, crypto::M_SHA1, crypto::M_SHA256, crypto::M_SHA512}) {
        std::string name = crypto::method_name(m);
        measure(name.c_str(), SIZE, [&] { sys::free(crypto::get_digest(in, SIZE, crypto::method_index(m))); });
    }

    printf("-- compression (level 6 / zstd 3) of %u MB, then decompression\n", SIZE >> 20);
    Bytes out(SIZE + SIZE / 2048 + 1024), back(SIZE);
    uint32_t packed = 0;

    measure("zlib wrap (framing)", SIZE, [&] {
        packed = (uint32_t)out.size();
        framing::zlib::wrap(out.data(), &packed, in, SIZE, 6);
    });
    measure("zlib compress2 (direct)", SIZE, [&] {
        uLongf n = out.size();
        compress2(out.data(), &n, in, SIZE, 6);
    });
    measure("zlib unwrap (framing)", SIZE, [&] {
        uint32_t n = SIZE;
        framing::zlib::unwrap(back.data(), &n, out.data(), packed);
    });
    measure("zlib unwrap, size query first", SIZE, [&] {
        uint32_t n = 0;
        framing::zlib::unwrap(nullptr, &n, out.data(), packed);
        framing::zlib::unwrap(back.data(), &n, out.data(), packed);
    });
    {
        uLongf n = out.size();
        compress2(out.data(), &n, in, SIZE, 6);
        packed = (uint32_t)n;
    }
    measure("zlib uncompress (direct)", SIZE, [&] {
        uLongf n = SIZE;
        uncompress(back.data(), &n, out.data(), packed);
    });

    measure("gzip wrap (framing)", SIZE, [&] {
        packed = (uint32_t)out.size();
        framing::gzip::wrap(out.data(), &packed, in, SIZE, 6);
    });
    measure("gzip unwrap (framing)", SIZE, [&] {
        uint32_t n = SIZE;
        framing::gzip::unwrap(back.data(), &n, out.data(), packed);
    });

    measure("zstd compress (framing)", SIZE, [&] {
        packed = (uint32_t)out.size();
        framing::zstd::compress(out.data(), &packed, in, SIZE, 3);
    });
    measure("zstd compress (direct)", SIZE, [&] { sink = (uint32_t)ZSTD_compress(out.data(), out.size(), in, SIZE, 3); });
    measure("zstd decompress (framing)", SIZE, [&] {
        uint32_t n = SIZE;
        framing::zstd::decompress(back.data(), &n, out.data(), packed);
    });
    measure("zstd decompress (direct)", SIZE, [&] {
        sink = (uint32_t)ZSTD_decompress(back.data(), SIZE, out.data(), packed);
    });

    printf("-- boot-data codec\n");
    int32_t boot = 0;
    measure("crush compress", SIZE, [&] { boot = crush::compress(in, SIZE, out.data()); });
    measure("crush decompress", SIZE, [&] {
        uint32_t n;
        crush::free(crush::decompress(out.data(), (uint32_t)boot, &n));
    });
    printf("ratios: zstd %.3f, crush %.3f\n", packed / (double)SIZE, boot / (double)SIZE);
    return 0;
}
