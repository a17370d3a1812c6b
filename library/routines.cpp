// The routines table and the codec routines of Zolbin.
#include "library/routines.h"

#include <cstring>

#include "datatypes/event.h"
#include "datatypes/logic.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "datatypes/integer.h"
#include "evaluator/zolbin.h"
#include "platform/platform.h"
#include "platform/simpleio.h"

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

// event? value: whether it is an event!.
void is_event() {
    logic::make_at(stack::arguments.window, stack::arguments.window->type() == TYPE_EVENT);
}

// find-flag? flags flag: whether flags is the word or a block holding it.
void find_flag() {
    cell* w = stack::arguments.window;
    logic::make_at(w, event::find_flag(&w[0], &w[1]));
}

// send-event-os event no-wait: the backend simulates the event on its face.
void send_event_os() {
    cell* w = stack::arguments.window;
    cell e = w[0];
    bool sent = event::backend.send(&e, logic::is_truthy(&w[1]));
    logic::make_at(stack::arguments.window, sent);
}

// create-dir path: one directory; access no-create when it cannot be made.
void create_dir() {
    simpleio::make_dir(&stack::arguments.window[0]);
    unset::make_at(&stack::arguments.window[0]);
}

// exists? path: whether a file or directory of that name exists.
void exists() {
    cell* path = &stack::arguments.window[0];
    logic::make_at(path, simpleio::exists(path));
}

// write-stdout data: the value as `write` would put it in a file.
void write_stdout() {
    simpleio::write_stdout(&stack::arguments.window[0]);
    unset::make_at(&stack::arguments.window[0]);
}

// Hidden-slot names: the codec objects keep these routines in their slots.
const Entry table[] = {
    {"quit-return", quit_return},
    {"ctx||272~encode*", zolbin_encode},
    {"ctx||272~decode", zolbin_decode},
    {"event?", is_event},
    {"find-flag?", find_flag},
    {"send-event-os", send_event_os},
    {"create-dir", create_dir},
    {"exists?", exists},
    {"write-stdout", write_stdout},
};

}  // namespace

routine::Body find(const char* name) {
    for (const Entry& e : table)
        if (strcmp(e.name, name) == 0) return e.entry;
    return nullptr;
}

}  // namespace routines
