// The routines table and the codec routines of Zolbin.
#include "library/routines.h"

#include <cstring>

#include "datatypes/logic.h"
#include "evaluator/stack.h"
#include "datatypes/integer.h"
#include "evaluator/zolbin.h"
#include "platform/platform.h"

namespace routines {

namespace {

// encode* data compact?: compact or normal mode by the flag.
void zolbin_encode() {
    cell* w = stack::arguments.window;
    cell data = w[0];
    bool compact = logic::is_truthy(&w[1]);
    cell* out = compact ? zolbin::encode_compact(&data) : zolbin::encode(&data);
    stack::set_last(out);
}

// decode payload: the value, or a block of the values when not exactly one.
void zolbin_decode() {
    cell payload = stack::arguments.window[0];
    stack::set_last(zolbin::decode_value(&payload));
}

// quit-return status: ends the process at once, without the language
// level's clean-up (the caller has done what it wants done).
void quit_return() {
    platform::exit_process(integer::get(&stack::arguments.window[0]));
}

// Hidden-slot names: the codec objects keep these routines in their slots.
const Entry table[] = {
    {"quit-return", quit_return},
    {"ctx||272~encode*", zolbin_encode},
    {"ctx||272~decode", zolbin_decode},
};

}  // namespace

routine::Body find(const char* name) {
    for (const Entry& e : table)
        if (strcmp(e.name, name) == 0) return e.entry;
    return nullptr;
}

}  // namespace routines
