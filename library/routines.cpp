// The routines table, the hidden routines' context and the routines:
// the type and typeset predicates, the codec hooks of Zolbin and the
// images, and the routines that reach the operating system.
#include "library/routines.h"

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/event.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "platform/simpleio.h"
#include "runtime/collector.h"
#include "runtime/sys.h"
#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "evaluator/actions.h"
#include "evaluator/reader.h"
#include "platform/clipboard.h"
#include "platform/image_backend.h"

namespace routines {

namespace {

cell* window() { return stack::arguments.window; }

// --- Type and typeset predicates ---------------------------------------------------------

// One comparison of the header's type id: no allocation, no evaluation.
template <uint8_t T>
void is_type() {
    cell* w = stack::arguments.window;
    logic::make_at(w, w->type() == T);
}

// The typeset words the typeset tests read, in the order of `typeset_index`.
const char* const typeset_words[] = {
    "any-list!", "any-block!", "any-function!", "any-object!", "any-path!", "any-string!", "any-word!",
    "series!",   "number!",    "immediate!",    "scalar!",     "all-word!", "any-point!",  "planar!",
};
constexpr int TYPESET_TESTS = sizeof typeset_words / sizeof typeset_words[0];
// Each word's index in the global context, found once at start-up.
int32_t typeset_index[TYPESET_TESTS];

// The word's current value decides, so a script that rebinds the word
// changes the test; a value that is no typeset! cannot answer it.
template <int K>
void is_in_typeset() {
    cell* w = stack::arguments.window;
    const cell* bits = context::value_cell_at(context::global, typeset_index[K]);
    if (bits->type() != TYPE_TYPESET) {
        cell* type = datatype::push(bits->type());
        error::raise(error::SCRIPT, "invalid-type", type);
    }
    logic::make_at(w, typeset::has(bits, w->type()));
}

// A typeset of type ids, for the types that register after the typesets
// are made (image!, port!, event!).
void typeset_of_ids() {
    cell* w = window();
    cell ids = *w;
    cell result{TYPE_TYPESET, 0, 0, 0};
    for (int32_t i = 0, n = block::length_of(&ids); i < n; i++) {
        const cell* c = block::cell_at(&ids, (int32_t)ids.data1 + i);
        if (c->type() == TYPE_INTEGER && integer::get(c) > 0 && integer::get(c) < (int32_t)TYPE_SLOTS)
            typeset::set_bit(&result, (uint32_t)integer::get(c));
    }
    *w = result;
}

// --- Zolbin codec hooks ---------------------------------------------------------------------

// encode* data compact?: compact or normal mode by the flag.
void zolbin_encode() {
    cell* w = stack::arguments.window;
    cell data = w[0];
    bool compact = logic::is_truthy(&w[1]);
    cell* out = compact ? zolbin::encode_compact(&data) : zolbin::encode(&data);
    stack::set_last(out);
}

// decode payload: the value, or a block of the values when not exactly one.
// A file or URL is read whole first.
void zolbin_decode() {
    cell* w = stack::arguments.window;
    uint8_t t = w[0].type();
    if (t == TYPE_FILE || t == TYPE_URL) {
        auto reader = datatype::get<datatype::A_READ>(t);
        reader(&w[0], nullptr, nullptr, true, false, false, nullptr);
    }
    cell payload = w[0];
    stack::set_last(zolbin::decode_value(&payload));
}

// --- Hooks of the system object ------------------------------------------------------------

// The error catalog object (system/catalog/errors).
void catalog_errors() { stack::set_last(context::owner(error::catalog_node)); }

// Library code is interpreted too: every caller is.
void state_interpreted() { logic::make_at(window(), true); }

// system/state/GC: the collector's switch and its cycle counter (one
// collection compacts nodes and series alike, so both counters read it).
void gc_active() { logic::make_at(window(), collector::enabled != 0); }
void gc_cycles() { integer::make_at(window(), (int32_t)collector::cycle_count); }

// system/options/float: the float formatter's flags.
void float_pretty() {
    float_::pretty = logic::is_truthy(window());
    unset::make_at(window());
}
void float_full() {
    float_::full = logic::is_truthy(window());
    unset::make_at(window());
}

// --- Quiet setters -----------------------------------------------------------------------------

// expect-arg naming the innermost call, the value's datatype and the
// argument's name.
[[noreturn]] void expect_arg(const cell* value, const char* argument) {
    cell* call = stack::get_call();
    cell* type = datatype::push(value->type());
    cell* name = word::load(argument);
    cell* held = stack::push(name);
    error::raise(error::SCRIPT, "expect-arg", call, type, held);
}

// set-quiet word value: the word's value in its context, without the
// owner's change handlers; the value is the result.
void set_quiet() {
    cell* w = window();
    uint8_t t = w->type();
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD) expect_arg(w, "word");
    cell name = *w;
    cell value = w[1];
    word::set_in_context(&name, &value, word::context_of(&name), false);
    *window() = value;
}

// set-slot-quiet series value: the cell at the series' head, without
// ownership notification; nothing at the tail.
void set_slot_quiet() {
    cell* w = window();
    uint8_t t = w->type();
    if (t != TYPE_BLOCK && t != TYPE_PAREN && !(t >= TYPE_PATH && t <= TYPE_GET_PATH)) expect_arg(w, "series");
    if (block::length_of(w) > 0) *block::head_cell(w) = w[1];
    *w = w[1];
}

// --- Shifts ------------------------------------------------------------------------------------

// The shift native's refinement slots: /left, /logical (negative: absent).
void shift_right() {
    static const int32_t refs[] = {-1, -1};
    natives::shift(refs);
}
// shift-left and shift-logical leave their arguments untyped in their specs.
void integers_only() {
    if (window()->type() != TYPE_INTEGER) expect_arg(window(), "data");
    if (window()[1].type() != TYPE_INTEGER) expect_arg(window() + 1, "bits");
}
void shift_left() {
    static const int32_t refs[] = {2, -1};
    integers_only();
    natives::shift(refs);
}
void shift_logical() {
    static const int32_t refs[] = {-1, 2};
    integers_only();
    natives::shift(refs);
}

// --- Output, directories -------------------------------------------------------------------------

void last_lf() { logic::make_at(window(), natives::last_line_feed); }

std::string utf8_of(cell* text) {
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(text, &n);
    return std::string((const char*)p, (size_t)n);
}

// The local form of a file! argument.
std::string local_of(cell* path) { return platform::paths::local_from_file(utf8_of(path)); }

// get-current-dir: the directory as a file!, ending with "/".
void get_current_dir() {
    std::string local;
    if (!platform::get_current_dir(local)) error::raise_internal(error::Internal::not_done);
    std::string path = platform::paths::file_from_local(local);
    if (path.empty() || path.back() != '/') path += '/';
    cell* out = stack::push_cell();
    file::load_into(out, path.data(), (int32_t)path.size());
    stack::set_last(out);
}

void set_current_dir() {
    cell* path = window();
    if (!platform::set_current_dir(local_of(path).c_str())) {
        cell* held = stack::push(path);
        error::raise(error::ACCESS, "cannot-open", held);
    }
}


// --- Tuples ---------------------------------------------------------------------------------------

// The components, checked: the first negative one raises invalid-arg.
void components(int32_t n, uint32_t* out) {
    cell* w = window();
    for (int32_t i = 0; i < n; i++) {
        int32_t v = integer::get(w + i);
        if (v < 0) {
            cell* held = stack::push(w + i);
            error::raise(error::SCRIPT, "invalid-arg", held);
        }
        out[i] = (uint32_t)v;
    }
}

// Each component modulo 256.
void as_tuple(int32_t n) {
    uint32_t c[4];
    components(n, c);
    uint8_t bytes[4];
    for (int32_t i = 0; i < n; i++) bytes[i] = (uint8_t)(c[i] & 0xFF);
    tuple::make_at(window(), n, bytes);
}
void as_color() { as_tuple(3); }
void as_rgba() { as_tuple(4); }
void as_ipv4() { as_tuple(4); }

// count-chars start pos: UTF-8 sequences from start up to pos, one lead
// byte at a time; the walk never steps past pos, even inside a sequence
// cut short.
void count_chars() {
    cell* w = window();
    if (series::node_of(w) != series::node_of(w + 1)) {
        cell* held = stack::push(w + 1);
        error::raise(error::SCRIPT, "invalid-arg", held);
    }
    int32_t from = (int32_t)w->data1, to = (int32_t)w[1].data1;
    if (to < from) {
        cell* held = stack::push(w + 1);
        error::raise(error::SCRIPT, "invalid-arg", held);
    }
    memory::Buffer* b = series::buffer_of(w);
    int32_t used = (int32_t)b->used_bytes();
    if (to > used) to = used;
    const uint8_t* bytes = b->head;
    int32_t count = 0;
    for (int32_t i = from; i < to; count++) {
        uint8_t lead = bytes[i];
        i += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    integer::make_at(w, count);
}

// --- The evaluation stack ----------------------------------------------------------------------------

int32_t stack_cells() { return (int32_t)(stack::arguments.top - stack::arguments.base); }

void stack_size() { integer::make_at(window(), stack_cells()); }

void pick_stack() {
    cell* w = window();
    int32_t idx = integer::get(w);
    if (idx > 0 && idx < stack_cells()) *w = stack::arguments.base[idx - 1];
    else none::make_at(w);
}

void frame_index() { integer::make_at(window(), (int32_t)(stack::arguments.window - stack::arguments.base)); }

void collect_calls() {
    cell* w = window();
    stack::collect_calls(2, series::node_of(w), stack::frames.top - 1);  // callers only
}

void tracing() { logic::make_at(window(), interpreter::tracing.enabled); }

// The tracing switch of `trace true|false`: events are reported again only
// while a tracer is installed (a paused trace resumes, none starts).
void tracing_switch() {
    cell* w = window();
    interpreter::tracing.enabled = logic::get(w) && interpreter::tracing.saved;
    unset::make_at(w);
}

// The words of the global context, in its order, bound to it (for help and what).
void global_words() {
    memory::Node* ctx = context::global;
    int32_t n = context::word_count(ctx);
    cell* w = window();
    block::make_at(w, n);
    for (int32_t i = 0; i < n; i++) {
        cell word = *context::word_at(ctx, i);
        word.header = TYPE_WORD;
        word.data1 = (uint32_t)(uintptr_t)ctx;
        block::append_cell_copy(series::node_of(window()), &word);
    }
}

// system/options/boot: the program, as the system started it.
void options_boot() {
    cell* w = window();
    if (sys::runtime.argc < 1 || !sys::runtime.argv || !sys::runtime.argv[0]) {
        none::make_at(w);
        return;
    }
    std::string path = platform::paths::file_from_local(sys::runtime.argv[0]);
    cell* out = stack::push_cell();
    file::load_into(out, path.data(), (int32_t)path.size());
    stack::set_last(out);
}

// system/script/args until a runner or the console says otherwise: the
// process's command line, not split.
void script_command_line() {
    std::string line = platform::command_line();
    stack::set_last(string::load(line.data(), (int32_t)line.size(), nullptr, 0));
}

// --- Process ----------------------------------------------------------------------------------

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

// Every routine by name (the hidden ones: routines.h).
namespace {

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

}  // namespace

const Entry table[] = {
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
    {"quit-return", quit_return},
    {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet},
    {"shift-right", shift_right},
    {"shift-left", shift_left},
    {"shift-logical", shift_logical},
    {"last-lf?", last_lf},
    {"get-current-dir", get_current_dir},
    {"set-current-dir", set_current_dir},
    {"as-color", as_color},
    {"as-ipv4", as_ipv4},
    {"as-rgba", as_rgba},
    {"count-chars", count_chars},
    {"stack-size?", stack_size},
    {"pick-stack", pick_stack},
    {"frame-index?", frame_index},
    {"collect-calls", collect_calls},
    {"tracing?", tracing},
    {"ctx||tools~tracing", tracing_switch},
    {"ctx||help~global-words", global_words},
    {"ctx||272~encode*", zolbin_encode},
    {"ctx||272~decode", zolbin_decode},
    {"event?", is_event},
    {"find-flag?", find_flag},
    {"send-event-os", send_event_os},
    {"create-dir", create_dir},
    {"exists?", exists},
    {"write-stdout", write_stdout},
    {"ctx||types~typeset-of", typeset_of_ids},
    {"ctx||catalog~errors", catalog_errors},
    {"ctx||options~boot", options_boot},
    {"ctx||script~command-line", script_command_line},
    {"ctx||state~interpreted?", state_interpreted},
    {"ctx||gc~active?", gc_active},
    {"ctx||gc~series-cycles", gc_cycles},
    {"ctx||gc~nodes-cycles", gc_cycles},
    {"ctx||float~pretty?", float_pretty},
    {"ctx||float~full?", float_full},
    // The datatype tests.
    {"bitset?", is_type<TYPE_BITSET>},
    {"binary?", is_type<TYPE_BINARY>},
    {"block?", is_type<TYPE_BLOCK>},
    {"char?", is_type<TYPE_CHAR>},
    {"email?", is_type<TYPE_EMAIL>},
    {"file?", is_type<TYPE_FILE>},
    {"float?", is_type<TYPE_FLOAT>},
    {"get-path?", is_type<TYPE_GET_PATH>},
    {"get-word?", is_type<TYPE_GET_WORD>},
    {"hash?", is_type<TYPE_HASH>},
    {"integer?", is_type<TYPE_INTEGER>},
    {"issue?", is_type<TYPE_ISSUE>},
    {"lit-path?", is_type<TYPE_LIT_PATH>},
    {"lit-word?", is_type<TYPE_LIT_WORD>},
    {"logic?", is_type<TYPE_LOGIC>},
    {"map?", is_type<TYPE_MAP>},
    {"none?", is_type<TYPE_NONE>},
    {"pair?", is_type<TYPE_PAIR>},
    {"paren?", is_type<TYPE_PAREN>},
    {"path?", is_type<TYPE_PATH>},
    {"percent?", is_type<TYPE_PERCENT>},
    {"refinement?", is_type<TYPE_REFINEMENT>},
    {"set-path?", is_type<TYPE_SET_PATH>},
    {"set-word?", is_type<TYPE_SET_WORD>},
    {"string?", is_type<TYPE_STRING>},
    {"tag?", is_type<TYPE_TAG>},
    {"time?", is_type<TYPE_TIME>},
    {"typeset?", is_type<TYPE_TYPESET>},
    {"tuple?", is_type<TYPE_TUPLE>},
    {"unset?", is_type<TYPE_UNSET>},
    {"url?", is_type<TYPE_URL>},
    {"word?", is_type<TYPE_WORD>},
    {"image?", is_type<TYPE_IMAGE>},
    {"date?", is_type<TYPE_DATE>},
    {"money?", is_type<TYPE_MONEY>},
    {"ref?", is_type<TYPE_REF>},
    {"point2D?", is_type<TYPE_POINT2D>},
    {"point3D?", is_type<TYPE_POINT3D>},
    {"handle?", is_type<TYPE_HANDLE>},
    {"error?", is_type<TYPE_ERROR>},
    {"action?", is_type<TYPE_ACTION>},
    {"native?", is_type<TYPE_NATIVE>},
    {"datatype?", is_type<TYPE_DATATYPE>},
    {"function?", is_type<TYPE_FUNCTION>},
    {"object?", is_type<TYPE_OBJECT>},
    {"op?", is_type<TYPE_OP>},
    {"routine?", is_type<TYPE_ROUTINE>},
    {"vector?", is_type<TYPE_VECTOR>},
    // The typeset tests, in the order of typeset_words.
    {"any-list?", is_in_typeset<0>},
    {"any-block?", is_in_typeset<1>},
    {"any-function?", is_in_typeset<2>},
    {"any-object?", is_in_typeset<3>},
    {"any-path?", is_in_typeset<4>},
    {"any-string?", is_in_typeset<5>},
    {"any-word?", is_in_typeset<6>},
    {"series?", is_in_typeset<7>},
    {"number?", is_in_typeset<8>},
    {"immediate?", is_in_typeset<9>},
    {"scalar?", is_in_typeset<10>},
    {"all-word?", is_in_typeset<11>},
    {"any-point?", is_in_typeset<12>},
    {"planar?", is_in_typeset<13>},
};

// The hidden routines' context (null until the first is kept).
memory::Node* hidden = nullptr;

}  // namespace

routine::Body find(const char* name) {
    for (const Entry& e : table)
        if (strcmp(e.name, name) == 0) return e.entry;
    for (int32_t i = 0; i < vezi_count; i++)
        if (strcmp(vezi_table[i].name, name) == 0) return vezi_table[i].entry;
    for (int i = 0; i < json_routine_count; i++)
        if (strcmp(json_routines[i].name, name) == 0) return json_routines[i].entry;
    return nullptr;
}

bool is_hidden(const char* name) { return strncmp(name, "ctx||", 5) == 0; }

void keep_hidden(const cell* name, const cell* value) {
    stack::TopMark mark;
    cell* n = stack::push(name);
    cell* v = stack::push(value);
    if (!hidden) {
        hidden = context::make(16, false, false, nullptr, context::KIND_PLAIN);
        context::Hold hold(&hidden);
        // Kept alive for the whole run by the root block.
        cell* obj = object::push_context(hidden, object::next_class_id());
        block::append_cell_copy(block::root, obj);
    }
    context::put_value(hidden, n, v);
}

void bind_hidden(cell* code) {
    if (hidden) context::bind_block(code, hidden, false);
}

void init() {
    for (int k = 0; k < TYPESET_TESTS; k++) typeset_index[k] = word::index_of_cell(word::load(typeset_words[k]));
}

}  // namespace routines
