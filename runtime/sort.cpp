// Adaptive quicksort and stable natural merge sort over raw records.
#include "runtime/sort.h"

#include <cassert>
#include <cstring>

#include "runtime/tracked.h"

namespace sort {

namespace {

// Insertion sort takes over below this many records.
constexpr uint32_t SMALL = 7;
// Without a sorted sample, arrays above this size start from a sorted region
// of the first REGION records.
constexpr uint32_t LARGE = 511;
constexpr uint32_t REGION = 63;
// Presorted input detection: every SAMPLE_STEP-th pair votes on the order.
constexpr uint32_t SAMPLE_STEP = 97;
// Prefix growth probes this far past the previous probe.
constexpr uint32_t PROBE_STEP = 10;
// Stretches shorter than this are not worth moving into the prefix.
constexpr uint32_t MIN_STRETCH = 4;
// Natural runs shorter than this are extended by insertion sort.
constexpr uint32_t MIN_RUN = 24;

// One sort's fixed arguments: width, swap mode and the comparison.
struct Records {
    uint32_t w;
    bool bytewise;
    uintptr_t context1, context2;
    Compare compare;

    uint8_t* at(uint8_t* base, uint32_t i) const { return base + (size_t)i * w; }
    int32_t cmp(const uint8_t* a, const uint8_t* b) const {
        return compare(a, b, context1, context2);
    }
    int32_t cmp(uint8_t* base, uint32_t i, uint32_t j) const {
        return cmp(at(base, i), at(base, j));
    }
    void swap(uint8_t* base, uint32_t i, uint32_t j) const {
        sort::swap(at(base, i), at(base, j), w, bytewise);
    }
    // Moves `count` records from `from` to `to` by swaps, keeping their order
    // when the two ranges overlap; what was at `to` ends up elsewhere.
    void move(uint8_t* base, uint32_t to, uint32_t from, uint32_t count) const {
        if (to == from) return;
        if (to < from) {
            for (uint32_t t = 0; t < count; t++) swap(base, to + t, from + t);
        } else {
            for (uint32_t t = count; t-- > 0;) swap(base, to + t, from + t);
        }
    }
    void reverse(uint8_t* base, uint32_t from, uint32_t end) const {
        while (end > from + 1) swap(base, from++, --end);
    }
    // Stable: a record only passes predecessors that compare above it.
    void insertion(uint8_t* base, uint32_t from, uint32_t sorted_end, uint32_t end) const {
        for (uint32_t i = sorted_end; i < end; i++)
            for (uint32_t j = i; j > from && cmp(base, j - 1, j) > 0; j--) swap(base, j - 1, j);
    }
};

Records records(uint32_t w, uintptr_t c1, uintptr_t c2, Compare compare) {
    return Records{w, (w & 3) != 0, c1, c2, compare};
}

// --- Quicksort -------------------------------------------------------------

void quick(const Records& r, uint8_t* base, int32_t s, uint32_t n) {
    while (n > SMALL) {
        uint32_t h = s < 0 ? (uint32_t)-(int64_t)s : (uint32_t)s;
        uint32_t l;       // the region partitioned now: [0, l)
        uint32_t lower;   // sorted records at [0, lower), all <= the pivot
        uint32_t upper;   // sorted records at [l - upper, l), all >= the pivot
        if (h > 2) {
            assert(h < n);
            l = n / 256 < h ? n : 16 * h - 1;
            lower = (h - 1) / 2;
            upper = h / 2;
            if (s < 0) r.move(base, 0, n - h, l < n ? h : h - upper);
            if (l < n) {
                // A representative region: records spread evenly over the array.
                uint32_t step = n / l;
                for (uint32_t i = h; i < l; i++) r.swap(base, i, i * step);
            }
            if (s > 0 || l < n) r.move(base, l - upper, h - upper, upper);
        } else {
            l = n > LARGE ? REGION : n;
            lower = upper = 1;
            // Median of three: first, middle and last of the region.
            r.swap(base, 1, l / 2);
            if (r.cmp(base, 1, 0) < 0) r.swap(base, 0, 1);
            if (r.cmp(base, l - 1, 1) < 0) {
                r.swap(base, 1, l - 1);
                if (r.cmp(base, 1, 0) < 0) r.swap(base, 0, 1);
            }
        }

        // Three-way partition of [lower + 1, l - upper) around the pivot at
        // `lower`: [lower + 1, eq) equal, [eq, i) below, [i, l) above.
        const uint8_t* pivot = r.at(base, lower);
        uint32_t eq = lower + 1;
        uint32_t i = lower + 1;
        uint32_t j = l - upper;  // one past the right cursor
        for (;;) {
            while (i < j) {
                int32_t c = r.cmp(r.at(base, i), pivot);
                if (c > 0) break;
                if (c == 0) r.swap(base, eq++, i);
                i++;
            }
            int32_t c = 1;
            while (i < j && (c = r.cmp(r.at(base, j - 1), pivot)) > 0) j--;
            if (i >= j) break;
            r.swap(base, i, --j);
            if (c == 0) r.swap(base, eq++, i);
            i++;
        }
        // Equals (pivot included) to the end of the below-zone.
        uint32_t equals = eq - lower, below = i - eq;
        uint32_t k = equals < below ? equals : below;
        for (uint32_t t = 0; t < k; t++) r.swap(base, lower + t, i - k + t);
        uint32_t below_n = lower + below;   // [0, below_n), sample `lower` in front
        uint32_t above_n = l - i;           // [i, l), sample `upper` at the end
        uint8_t* above = r.at(base, i);

        if (l < n) {
            // Both parts lie inside a region of at most n / 8 records.
            if (above_n > upper) quick(r, above, -(int32_t)upper, above_n);
            if (below_n > lower) quick(r, base, (int32_t)lower, below_n);
            s = (int32_t)l;
            continue;
        }
        // Recurse into the smaller part and loop on the larger, so the
        // native stack stays O(log n) deep on any input.
        if (below_n <= above_n) {
            if (below_n > lower) quick(r, base, (int32_t)lower, below_n);
            if (above_n <= upper) return;
            base = above, n = above_n, s = -(int32_t)upper;
        } else {
            if (above_n > upper) quick(r, above, -(int32_t)upper, above_n);
            if (below_n <= lower) return;
            n = below_n, s = (int32_t)lower;
        }
    }
    r.insertion(base, 0, 1, n);
}

// --- Merge sort ------------------------------------------------------------

uint32_t run(const Records& r, uint8_t* base, uint32_t from, uint32_t n) {
    uint32_t end = from + 1;
    if (end < n) {
        if (r.cmp(base, from, end) < 1) {
            for (end++; end < n && r.cmp(base, end - 1, end) < 1; end++) {}
        } else {
            // Strictly descending only, so reversing keeps equal records in order.
            for (end++; end < n && r.cmp(base, end - 1, end) > 0; end++) {}
            r.reverse(base, from, end);
        }
    }
    uint32_t want = n - from < MIN_RUN ? n : from + MIN_RUN;
    if (end < want) {
        r.insertion(base, from, end, want);
        end = want;
    }
    return end;
}

// Copies what is left of the buffered run into the gap the merge left for it:
// at the end of a merge, and also when the comparison throws half-way, so the
// array never loses the records that were parked in the buffer.
struct Drain {
    const Records& r;
    uint8_t* to;      // the gap, as large as what is left
    uint8_t* from;    // the buffered records still to place
    uint32_t count;
    ~Drain() {
        if (count) memcpy(to, from, (size_t)count * r.w);
    }
};

void merge(const Records& r, uint8_t* base, uint32_t left, uint32_t middle, uint32_t end,
           uint8_t* buffer) {
    uint32_t w = r.w;
    if (end - middle < middle - left) {
        // The right run is buffered; merge from the back.
        uint32_t count = end - middle;
        memcpy(buffer, r.at(base, middle), (size_t)count * w);
        uint32_t i = middle;  // left records [left, i) remain
        uint32_t out = end;   // [out, end) is done; the gap is [i, out)
        Drain rest{r, r.at(base, i), buffer, count};
        while (i > left && rest.count > 0) {
            uint8_t* b = buffer + (size_t)(rest.count - 1) * w;
            if (r.cmp(r.at(base, i - 1), b) <= 0) {
                memcpy(r.at(base, --out), b, w);
                rest.count--;
            } else {
                memcpy(r.at(base, --out), r.at(base, --i), w);
                rest.to = r.at(base, i);
            }
        }
    } else {
        // The left run is buffered; merge from the front.
        uint32_t count = middle - left;
        memcpy(buffer, r.at(base, left), (size_t)count * w);
        uint32_t j = middle;  // right records [j, end) remain
        Drain rest{r, r.at(base, left), buffer, count};  // gap starts at `to`
        while (j < end && rest.count > 0) {
            if (r.cmp(rest.from, r.at(base, j)) <= 0) {
                memcpy(rest.to, rest.from, w);
                rest.from += w;
                rest.count--;
            } else {
                memcpy(rest.to, r.at(base, j++), w);
            }
            rest.to += w;
        }
    }
}

// Power of the boundary between the runs [s1, e1) and [e1, e2) of n records:
// the depth at which the midpoints of the two runs fall into different halves.
uint32_t power(uint32_t s1, uint32_t e1, uint32_t e2, uint32_t n) {
    uint64_t a = (uint64_t)s1 + e1, b = (uint64_t)e1 + e2;
    uint32_t p = 0;
    while ((a < n) == (b < n)) {
        p++;
        if (a >= n) a -= n, b -= n;
        a *= 2, b *= 2;
    }
    return p + 1;
}

// The tracked merge buffer, freed however the sort ends.
struct Buffer {
    uint8_t* p;
    ~Buffer() { sys::free(p); }
};

}  // namespace

void swap(void* a, void* b, uint32_t w, bool bytewise) {
    auto* x = (uint8_t*)a;
    auto* y = (uint8_t*)b;
    if (bytewise) {
        for (uint32_t i = 0; i < w; i++) {
            uint8_t t = x[i];
            x[i] = y[i];
            y[i] = t;
        }
        return;
    }
    for (uint32_t i = 0; i < w; i += 4) {
        uint32_t p, q;
        memcpy(&p, x + i, 4);
        memcpy(&q, y + i, 4);
        memcpy(x + i, &q, 4);
        memcpy(y + i, &p, 4);
    }
}

void quicksort(void* start, int32_t sample, uint32_t n, uint32_t w, uintptr_t context1,
               uintptr_t context2, Compare compare) {
    if (n < 2 || w == 0) return;
    uint32_t h = sample < 0 ? (uint32_t)-(int64_t)sample : (uint32_t)sample;
    if (h >= n) return;  // all of it is the sorted sample
    quick(records(w, context1, context2, compare), (uint8_t*)start, sample, n);
}

void qsort(void* start, uint32_t n, uint32_t w, uintptr_t context1, uintptr_t context2,
           Compare compare) {
    if (n < 2 || w == 0) return;
    const Records r = records(w, context1, context2, compare);
    auto* base = (uint8_t*)start;

    // The first run fixes a direction: +1 ascending, -1 descending.
    int32_t dir = 0;
    uint32_t first = 1;
    for (; first < n; first++) {
        int32_t c = r.cmp(base, first - 1, first);
        if (c == 0) continue;
        int32_t d = c < 0 ? 1 : -1;
        if (dir == 0) dir = d;
        else if (d != dir) break;
    }
    if (dir == 0) dir = 1;
    int64_t score = dir * (int64_t)first;
    for (uint32_t i = first; i < n; i += SAMPLE_STEP) {
        int32_t c = r.cmp(base, i - 1, i);
        score += c < 0 ? 1 : c > 0 ? -1 : 0;
    }

    uint32_t prefix = first;  // [0, prefix) is ordered in direction `dir`
    if ((score < 0 ? -score : score) > n / 512) {
        if ((score < 0) != (dir < 0)) prefix = 1, dir = -dir;
        auto against = [&](uint32_t i, uint32_t j) {
            int32_t c = r.cmp(base, i, j);
            return dir > 0 ? c > 0 : c < 0;
        };
        // Grow the prefix with ordered stretches found by probes further on.
        for (uint32_t last = prefix - 1; last + PROBE_STEP < n;) {
            uint32_t probe = last + PROBE_STEP;
            uint32_t b = probe + 1;
            while (b < n && !against(b - 1, b)) b++;
            uint32_t a = probe;
            while (a > prefix && !against(a - 1, a)) a--;
            last = b - 1;
            uint32_t length = b - a;
            if (length < MIN_STRETCH || prefix < 2) continue;
            uint32_t k = length / 2 < (prefix - 1) / 4 ? length / 2 : (prefix - 1) / 4;
            uint32_t i = 0;
            while (i < k && against(prefix - 1 - i, a + i)) i++;
            if (i == k) continue;
            // The prefix keeps [0, prefix - i), which ends at or before the
            // stretch's record a + i; the stretch's rest follows it.
            r.move(base, prefix - i, a + i, length - i);
            prefix = prefix - i + length - i;
        }
    }
    if (dir < 0) r.reverse(base, 0, prefix);
    if (prefix < n) quick(r, base, (int32_t)prefix, n);
}

uint32_t find_run(void* start, uint32_t from, uint32_t n, uint32_t w, uintptr_t context1,
                  uintptr_t context2, Compare compare) {
    if (from >= n || w == 0) return n;
    return run(records(w, context1, context2, compare), (uint8_t*)start, from, n);
}

void merge_runs(void* start, uint32_t left, uint32_t middle, uint32_t end, void* buffer,
                uint32_t w, uintptr_t context1, uintptr_t context2, Compare compare) {
    if (left >= middle || middle >= end || w == 0) return;
    merge(records(w, context1, context2, compare), (uint8_t*)start, left, middle, end,
          (uint8_t*)buffer);
}

void merge_sort(void* start, uint32_t n, uint32_t w, uintptr_t context1, uintptr_t context2,
                Compare compare) {
    if (n < 2 || w == 0) return;
    Buffer buffer{(uint8_t*)sys::allocate(sys::size_mul(n / 2, w))};
    merge_sort_with(start, n, w, context1, context2, compare, buffer.p);
}

void merge_sort_with(void* start, uint32_t n, uint32_t w, uintptr_t context1, uintptr_t context2,
                     Compare compare, void* scratch) {
    if (n < 2 || w == 0) return;
    const Records r = records(w, context1, context2, compare);
    auto* base = (uint8_t*)start;
    auto* buffer = (uint8_t*)scratch;

    // Pending runs with strictly rising powers above a sentinel of power 0;
    // powers stay below 33, so 34 entries always suffice.
    struct Entry {
        uint32_t start, power;
    } stack[34];
    uint32_t top = 0;
    stack[0] = {0, 0};
    uint32_t s1 = 0, e1 = run(r, base, 0, n);
    while (e1 < n) {
        uint32_t e2 = run(r, base, e1, n);
        uint32_t p = power(s1, e1, e2, n);
        while (stack[top].power > p) {
            merge(r, base, stack[top].start, s1, e1, buffer);
            s1 = stack[top--].start;
        }
        assert(top + 1 < sizeof stack / sizeof stack[0]);
        stack[++top] = {s1, p};
        s1 = e1;
        e1 = e2;
    }
    for (; top > 0; top--) {
        merge(r, base, stack[top].start, s1, n, buffer);
        s1 = stack[top].start;
    }
}

}  // namespace sort
