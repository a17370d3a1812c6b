// The routines table, the codec routines of Zolbin and the images, and the
// routines that reach the operating system.
#include "library/routines.h"

#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"
#include "platform/clipboard.h"
#include "platform/image_backend.h"
#include "platform/platform.h"
#include "platform/simpleio.h"
#include "runtime/collector.h"

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

// encode img where: the image's file in the format, put into the `where`
// cell whatever it held.
template <int32_t FORMAT>
void image_encode() {
    cell* w = stack::arguments.window;
    cell img = w[0];
    collector::Root hold(img);
    image::encode(&img, &w[1], FORMAT);
    stack::set_last(&w[1]);
}

// decode data: a binary! is sniffed by its magic (bytes no codec claims are
// bad media), a file! is read and decoded.
void image_decode() {
    cell* w = stack::arguments.window;
    cell data = w[0];
    collector::Root hold(data);
    cell* out = stack::push_cell();
    if (data.type() == TYPE_BINARY) {
        image::decode(&data, out);
        if (out->type() != TYPE_IMAGE) error::raise(error::ACCESS, "bad-media");
    } else if (data.type() == TYPE_FILE) {
        image::load(&data, out);
    } else {
        error::raise(error::SCRIPT, "invalid-arg", &data);
    }
    stack::set_last(out);
}

// os-info: the operating system's description as an object of name, arch,
// version and build.
void os_info() {
    platform::OsInfo info = platform::os_info();
    cell* spec = stack::push(reader::load("name: none arch: none version: none build: none"));
    cell* name = string::push_new((int32_t)info.name.size());
    unicode::load_utf8_into((const uint8_t*)info.name.data(), (uint32_t)info.name.size(), name, nullptr);
    cell* arch = stack::push(reader::load(info.arch));
    cell* c = block::cells_of(series::node_of(spec));
    c[1] = *name;
    c[3] = block::cells_of(series::node_of(arch))[0];
    uint8_t v[3] = {info.major, info.minor, info.service_pack};
    tuple::make_at(&c[5], 3, v);
    integer::make_at(&c[7], info.build);
    cell* none = stack::push_cell();
    *none = cell{TYPE_NONE, 0, 0, 0};
    stack::set_last(object::make_value(none, spec, true));
}

void read_clipboard() {
    cell* out = stack::push_cell();
    if (!clipboard::read(out)) logic::make_at(out, false);
    stack::set_last(out);
}

void write_clipboard() {
    cell* v = &stack::arguments.window[0];
    uint8_t t = v->type();
    bool text = series::is_any_string(t) && t != TYPE_FILE && t != TYPE_URL;
    if (!text && t != TYPE_BLOCK && t != TYPE_IMAGE && t != TYPE_NONE) error::raise(error::SCRIPT, "invalid-arg", v);
    cell value = *v;
    collector::Root hold(value);
    bool ok = clipboard::write(&value);
    stack::set_last(logic::push(ok));
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
    {"ctx||png~encode", image_encode<image_backend::PNG>},
    {"ctx||png~decode", image_decode},
    {"ctx||jpeg~encode", image_encode<image_backend::JPEG>},
    {"ctx||jpeg~decode", image_decode},
    {"ctx||bmp~encode", image_encode<image_backend::BMP>},
    {"ctx||bmp~decode", image_decode},
    {"ctx||gif~encode", image_encode<image_backend::GIF>},
    {"ctx||gif~decode", image_decode},
    {"ctx||tiff~encode", image_encode<image_backend::TIFF>},
    {"ctx||tiff~decode", image_decode},
    {"os-info", os_info},
    {"read-clipboard", read_clipboard},
    {"write-clipboard", write_clipboard},
    {"write-stdout", write_stdout},
};

}  // namespace

routine::Body find(const char* name) {
    for (const Entry& e : table)
        if (strcmp(e.name, name) == 0) return e.entry;
    return nullptr;
}

}  // namespace routines
