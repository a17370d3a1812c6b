// The routines table and the codec routines of Zolbin.
#include "library/routines.h"

#include <cstring>

#include "datatypes/logic.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"

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

// Hidden-slot names: the codec objects keep these routines in their slots.
const Entry table[] = {
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
