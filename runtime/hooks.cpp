// Print hooks and build information.
#include "runtime/hooks.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/tracked.h"

namespace hooks {

List<ValueListener> value_listeners = {nullptr, 0, 0};
List<TextListener> text_listeners = {nullptr, 0, 0};

static constexpr uint32_t GROWTH = 5;

template <class F>
static void init_list(List<F>& l) {
    l.items = (F*)sys::allocate(GROWTH * sizeof(F));
    l.count = 0;
    l.capacity = GROWTH;
}

void init() {
    init_list(value_listeners);
    init_list(text_listeners);
}

template <class F>
static void add(List<F>& l, F f) {
    if (!f) return;
    if (!l.items) init_list(l);
    if (l.count == l.capacity) {
        uint32_t cap = l.capacity + GROWTH;
        F* items = (F*)sys::allocate(sys::size_mul(cap, sizeof(F)));
        memcpy(items, l.items, l.count * sizeof(F));
        sys::free(l.items);
        l.items = items;
        l.capacity = cap;
    }
    l.items[l.count++] = f;
}

template <class F>
static void remove(List<F>& l, F f) {
    if (!f) return;
    for (uint32_t i = 0; i < l.count; i++) {
        if (l.items[i] == f) {
            memmove(l.items + i, l.items + i + 1, (l.count - i - 1) * sizeof(F));
            l.count--;
            return;
        }
    }
}

// A listener may change the lists while it runs, so walk a snapshot.
template <class F, class... A>
static void fire(const List<F>& l, A... args) {
    if (l.count == 0) return;
    F local[8];
    std::vector<F> heap;
    F* snap = local;
    uint32_t n = l.count;
    if (n > 8) {
        heap.assign(l.items, l.items + n);
        snap = heap.data();
    } else {
        memcpy(local, l.items, n * sizeof(F));
    }
    for (uint32_t i = 0; i < n; i++) snap[i](args...);
}

void register_(ValueListener v, TextListener t) {
    add(value_listeners, v);
    add(text_listeners, t);
}

void unregister(ValueListener v, TextListener t) {
    remove(value_listeners, v);
    remove(text_listeners, t);
}

void fire_2(const cell* value, int32_t newline) { fire(value_listeners, value, newline); }

void fire_3(const char* text, int32_t length, int32_t encoding) {
    fire(text_listeners, text, length, encoding);
}

}  // namespace hooks

namespace build {

// The compiler's __DATE__ ("Mmm dd yyyy") and __TIME__ in the language's
// date form.
const char* date() {
    static char text[24];
    if (!text[0]) {
        const char* d = __DATE__;
        int day = (d[4] == ' ' ? 0 : d[4] - '0') * 10 + (d[5] - '0');
        snprintf(text, sizeof text, "%d-%.3s-%.4s/%s", day, d, d + 7, __TIME__);
    }
    return text;
}

}  // namespace build
