#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "runtime/sort.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records carry a key in their first bytes (one byte when w is 1, else two,
// little-endian) and, after it, bytes derived from the record's input
// position, so a record moved by less than its whole width or put out of
// input order among equals shows up.
uint32_t key_of(const uint8_t* p, uint32_t w) { return w == 1 ? p[0] : p[0] | p[1] << 8; }

Bytes make_records(const std::vector<uint32_t>& keys, uint32_t w) {
    Bytes out(keys.size() * w);
    for (size_t i = 0; i < keys.size(); i++) {
        uint8_t* p = &out[i * w];
        uint32_t k = w == 1 ? keys[i] >> 8 : keys[i];  // keys are below 65536
        for (uint32_t t = 0; t < w; t++)
            p[t] = t == 0 ? k & 0xFF : t == 1 ? k >> 8 : t < 4 ? i >> (8 * (t - 2)) : i * 31 + t;
    }
    return out;
}

// context1: the record width; context2: bit 0 reverses the order.
int32_t by_key(const void* a, const void* b, uintptr_t w, uintptr_t flags) {
    uint32_t ka = key_of((const uint8_t*)a, w), kb = key_of((const uint8_t*)b, w);
    int32_t r = (ka > kb) - (ka < kb);
    return flags & 1 ? -r : r;
}

Bytes stable_reference(const Bytes& in, uint32_t w, bool reverse) {
    size_t n = in.size() / w;
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return by_key(&in[a * w], &in[b * w], w, reverse) < 0;
    });
    Bytes out;
    for (size_t i : order) out.insert(out.end(), &in[i * w], &in[i * w] + w);
    return out;
}

// An order-independent fingerprint of the records: sums of two hashes of each.
std::pair<uint64_t, uint64_t> fingerprint(const Bytes& in, uint32_t w) {
    uint64_t sum = 0, squares = 0;
    for (size_t i = 0; i < in.size(); i += w) {
        uint64_t h = 14695981039346656037ull;
        for (uint32_t t = 0; t < w; t++) h = (h ^ in[i + t]) * 1099511628211ull;
        sum += h;
        squares += h * (h | 1);
    }
    return {sum, squares};
}

// Same records, each exactly as often.
bool is_permutation(const Bytes& a, const Bytes& b, uint32_t w) {
    return a.size() == b.size() && fingerprint(a, w) == fingerprint(b, w);
}

std::vector<uint32_t> keys_of(const Bytes& in, uint32_t w) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < in.size(); i += w) out.push_back(key_of(&in[i], w));
    return out;
}

using Pattern = uint32_t (*)(uint32_t i, uint32_t n, std::mt19937& rng);
struct Shape {
    const char* name;
    Pattern key;
    uint32_t swaps_per_1000;  // random exchanges afterwards ("nearly sorted")
};
uint32_t scale(uint32_t i, uint32_t n) { return (uint32_t)((uint64_t)i * 65536 / (n ? n : 1)); }
const Shape shapes[] = {
    {"random", [](uint32_t, uint32_t, std::mt19937& g) { return (uint32_t)(g() & 0xFFFF); }, 0},
    {"few-keys", [](uint32_t, uint32_t, std::mt19937& g) { return (uint32_t)(g() % 4) << 8; }, 0},
    {"all-equal", [](uint32_t, uint32_t, std::mt19937&) { return 7u << 8; }, 0},
    {"ascending", [](uint32_t i, uint32_t n, std::mt19937&) { return scale(i, n); }, 0},
    {"descending", [](uint32_t i, uint32_t n, std::mt19937&) { return scale(n - 1 - i, n); }, 0},
    {"descending-pairs",
     [](uint32_t i, uint32_t n, std::mt19937&) { return scale((n - 1 - i) / 2 * 2, n); }, 0},
    {"organ-pipe",
     [](uint32_t i, uint32_t n, std::mt19937&) { return scale(i < n / 2 ? 2 * i : 2 * (n - i), n); },
     0},
    {"nearly-ascending", [](uint32_t i, uint32_t n, std::mt19937&) { return scale(i, n); }, 8},
    {"nearly-descending",
     [](uint32_t i, uint32_t n, std::mt19937&) { return scale(n - 1 - i, n); }, 8},
    {"sawtooth", [](uint32_t i, uint32_t, std::mt19937&) { return (i % 40) << 8; }, 0},
    {"sorted-third-then-random",
     [](uint32_t i, uint32_t n, std::mt19937& g) {
         return i < n / 3 ? scale(i, n) : (uint32_t)(g() & 0xFFFF);
     },
     0},
};

std::vector<uint32_t> make_keys(const Shape& s, uint32_t n, std::mt19937& rng) {
    std::vector<uint32_t> keys(n);
    for (uint32_t i = 0; i < n; i++) keys[i] = s.key(i, n, rng) & 0xFFFF;
    for (uint32_t k = 0; n > 1 && k < (s.swaps_per_1000 * n + 999) / 1000; k++)
        std::swap(keys[rng() % n], keys[rng() % n]);
    return keys;
}

// Sizes around the sorts' thresholds: insertion below 8, runs of 24, the
// 63-record start region above 511, presorted detection at n / 512.
const uint32_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 48, 64, 200, 511, 512, 513, 3000};
const uint32_t widths[] = {1, 3, 4, 6, 16, 17};
// Large arrays only in a few widths: word-wise, byte-wise, and one byte.
bool width_for_size(uint32_t w, uint32_t n) {
    return n <= 64 || (n < 3000 ? w == 1 || w == 4 || w == 17 : w == 6);
}

}  // namespace

// Both sorts against std::stable_sort: same key order (merge sort: the very
// same records in the same order), and every record kept intact.
TEST(Sort, MatchesStableSortOnEveryShapeSizeAndWidth) {
    std::mt19937 rng(12345);
    uint32_t round = 0;
    for (const Shape& shape : shapes)
        for (uint32_t n : sizes)
            for (uint32_t w : widths) {
                if (!width_for_size(w, n)) continue;
                bool reverse = ++round % 3 == 0;
                Bytes input = make_records(make_keys(shape, n, rng), w);
                Bytes expected = stable_reference(input, w, reverse);
                SCOPED_TRACE(testing::Message() << shape.name << " n=" << n << " w=" << w
                                                << (reverse ? " reverse" : ""));
                Bytes q = input;
                sort::qsort(q.data(), n, w, w, reverse, by_key);
                EXPECT_EQ(keys_of(q, w), keys_of(expected, w)) << "qsort order";
                EXPECT_TRUE(is_permutation(q, input, w)) << "qsort records";
                Bytes m = input;
                sort::merge_sort(m.data(), n, w, w, reverse, by_key);
                EXPECT_EQ(m, expected) << "merge sort order and stability";
                if (HasFailure()) return;
            }
}

// The quicksort core given a sorted sample at the front (sample > 0) or at
// the end (sample < 0): small samples on a large array take the path that
// spreads a region over the whole array.
TEST(Sort, QuicksortUsesSortedSamplesAtEitherEnd) {
    const int32_t samples[] = {2, 3, 4, 7, 64, 600, 1999, 2000, -3, -4, -7, -64, -600, -1999};
    const uint32_t n = 2000, w = 6;
    std::mt19937 rng(7);
    for (int32_t s : samples) {
        std::vector<uint32_t> keys(n);
        for (uint32_t& k : keys) k = rng() % 500 * 100;
        uint32_t h = (uint32_t)std::abs(s);
        auto from = s > 0 ? keys.begin() : keys.end() - h;
        std::sort(from, from + h);
        Bytes input = make_records(keys, w);
        Bytes q = input;
        sort::quicksort(q.data(), s, n, w, w, 0, by_key);
        EXPECT_EQ(keys_of(q, w), keys_of(stable_reference(input, w, false), w)) << "sample " << s;
        EXPECT_TRUE(is_permutation(q, input, w)) << "sample " << s;
    }
}

namespace {

// An adversary that decides the order while the sort runs (every unsettled
// key compares above every settled one; the one it last held back becomes
// the next smallest), steering pivots to the ends of the range. The order
// it settles is consistent, so the result must still be sorted by it. It
// also records how deep the machine stack went under the sort.
struct Adversary {
    std::vector<uint32_t> value;
    uint32_t gas;
    uint32_t settled = 0;
    int64_t candidate = -1;
    uintptr_t lowest = UINTPTR_MAX;

    explicit Adversary(uint32_t n) : value(n, n), gas(n) {}

    static int32_t compare(const void* a, const void* b, uintptr_t self, uintptr_t) {
        auto& s = *(Adversary*)self;
        s.lowest = std::min(s.lowest, (uintptr_t)__builtin_frame_address(0));
        uint32_t x, y;
        memcpy(&x, a, 4);
        memcpy(&y, b, 4);
        if (s.value[x] == s.gas && s.value[y] == s.gas) s.value[x == s.candidate ? x : y] = s.settled++;
        if (s.value[x] == s.gas) s.candidate = x;
        else if (s.value[y] == s.gas) s.candidate = y;
        return (s.value[x] > s.value[y]) - (s.value[x] < s.value[y]);
    }
};

}  // namespace

// Partitions as lopsided as an adversary can make them must not take the
// quicksort O(n) deep into the machine stack: it recurses into the smaller
// part only.
TEST(Sort, QuicksortStackStaysShallowOnAdversarialInput) {
    for (uint32_t n : {600u, 4000u}) {
        Adversary adv(n);
        std::vector<uint32_t> a(n);
        for (uint32_t i = 0; i < n; i++) a[i] = i;
        auto top = (uintptr_t)__builtin_frame_address(0);
        sort::qsort(a.data(), n, 4, (uintptr_t)&adv, 0, Adversary::compare);
        for (uint32_t i = 1; i < n; i++) ASSERT_LE(adv.value[a[i - 1]], adv.value[a[i]]) << i;
        // A few hundred bytes per level, about log2(n) levels: well under
        // 16 KB; O(n) levels would take hundreds of KB.
        EXPECT_LT(top - adv.lowest, 16u * 1024) << "n=" << n;
    }
}

namespace {

// Throws once the countdown in context1 runs out.
int32_t throwing_key(const void* a, const void* b, uintptr_t countdown, uintptr_t w) {
    if (--*(uint32_t*)countdown == 0) throw sys::Throw{sys::THROW_ERROR};
    return by_key(a, b, w, 0);
}

int32_t counting_key(const void* a, const void* b, uintptr_t count, uintptr_t w) {
    ++*(uint32_t*)count;
    return by_key(a, b, w, 0);
}

size_t tracked_count() {
    size_t c = 0;
    for (auto* b = sys::tracked_list.head; b; b = b->next) c++;
    return c;
}

}  // namespace

// A comparison that throws at any point (also half-way through a merge) ends
// the sort with the merge buffer freed and no record lost or doubled.
TEST(Sort, ThrowingComparisonFreesBufferAndKeepsRecords) {
    using SortFn = void (*)(void*, uint32_t, uint32_t, uintptr_t, uintptr_t, sort::Compare);
    const struct {
        const char* name;
        SortFn fn;
    } sorts[] = {{"merge_sort", sort::merge_sort}, {"qsort", sort::qsort}};
    std::mt19937 rng(99);
    for (auto& s : sorts)
        for (uint32_t w : {5u, 8u}) {
            const uint32_t n = 300;
            std::vector<uint32_t> keys(n);
            for (uint32_t& k : keys) k = rng() % 50 << 8;
            Bytes input = make_records(keys, w);
            uint32_t total = 0;
            Bytes probe = input;
            s.fn(probe.data(), n, w, (uintptr_t)&total, w, counting_key);
            for (uint32_t at = 1; at <= total; at += 1 + at / 4) {
                sys::TrackedHeader* tail = sys::tracked_list.tail;
                size_t blocks = tracked_count();
                Bytes a = input;
                uint32_t countdown = at;
                uint32_t code = sys::catch_level(sys::LEVEL_ALL, [&] {
                    s.fn(a.data(), n, w, (uintptr_t)&countdown, w, throwing_key);
                });
                sys::clear_throw();
                EXPECT_EQ(code, sys::THROW_ERROR) << s.name << " at " << at;
                EXPECT_EQ(sys::tracked_list.tail, tail) << s.name << " at " << at;
                EXPECT_EQ(tracked_count(), blocks) << s.name << " at " << at;
                EXPECT_TRUE(is_permutation(a, input, w)) << s.name << " w=" << w << " at " << at;
                if (HasFailure()) return;
            }
        }
}

namespace {
int32_t coin(const void*, const void*, uintptr_t rng, uintptr_t) {
    return (int32_t)((*(std::mt19937*)rng)() % 3) - 1;
}
}  // namespace

// A user comparison need not be an order at all: answering at random may
// give any order, but the sorts stay inside the array and keep every record.
TEST(Sort, RandomAnswersStayInBoundsAndKeepRecords) {
    std::mt19937 rng(3);
    for (uint32_t n : {9u, 30u, 700u, 2000u})
        for (uint32_t w : {3u, 8u}) {
            std::vector<uint32_t> keys(n);
            for (uint32_t& k : keys) k = rng() & 0xFFFF;
            Bytes input = make_records(keys, w);
            for (int stable = 0; stable < 2; stable++) {
                // Exact size, so any stray access is outside the allocation.
                auto* a = new uint8_t[input.size()];
                memcpy(a, input.data(), input.size());
                (stable ? sort::merge_sort : sort::qsort)(a, n, w, (uintptr_t)&rng, 0, coin);
                EXPECT_TRUE(is_permutation(Bytes(a, a + input.size()), input, w))
                    << "n=" << n << " w=" << w << " stable=" << stable;
                delete[] a;
            }
        }
}
