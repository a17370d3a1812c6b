// Print hooks: listeners that observe all printed output.
//
// Two lists, each a tracked array with a count and a capacity (growing by 5):
// value listeners get the value `print`/`prin` formed and a newline flag;
// text listeners get the bytes the low-level printers wrote. Listeners run in
// registration order; the same one may be registered twice. A listener may
// register or unregister listeners while it runs: a fire walks the list as it
// was when the fire began.
#pragma once
#include <cstdint>

struct cell;

namespace hooks {

using ValueListener = void (*)(const cell* value, int32_t newline);
// A negative length means the text ends at its NUL byte.
using TextListener = void (*)(const char* text, int32_t length, int32_t encoding);

template <class F>
struct List {
    F* items;
    uint32_t count;
    uint32_t capacity;
};

extern List<ValueListener> value_listeners;
extern List<TextListener> text_listeners;

void init();
void register_(ValueListener v, TextListener t);
void unregister(ValueListener v, TextListener t);
void fire_2(const cell* value, int32_t newline);
void fire_3(const char* text, int32_t length, int32_t encoding);

}  // namespace hooks

namespace build {
// The build date text, "dd-Mon-yyyy/hh:mm:ss".
const char* date();
}  // namespace build
