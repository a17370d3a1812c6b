// The text codecs of the library over arbitrary bytes (as UTF-8 text):
// json_fuzz runs `to-json load-json`, csv_fuzz `to-csv load-csv` with the
// refinements the first byte picks. An error value or a raised language
// error is a normal answer; a crash, a sanitizer report or a runtime error
// box is a finding. The library boots once, as in the programs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "runtime/sys.h"
#include "tests/fuzz/boot.h"

namespace {

struct Call {
    const char* before;  // the code before the text
    const char* after;   // arguments after it
};

#ifdef FUZZ_CSV
const Call calls[] = {
    {"to-csv load-csv", ""},
    {"to-csv load-csv/header", ""},
    {"to-csv load-csv/as-records", ""},
    {"to-csv load-csv/header/as-records", ""},
    {"to-csv load-csv/as-columns", ""},
    {"to-csv load-csv/flat", ""},
    {"to-csv load-csv/trim", ""},
    {"to-csv load-csv/with/quote", "#\";\" #\"'\""},
    {"to-csv load-csv/with/trim", "\"::\""},
};
#else
const Call calls[] = {
    {"to-json load-json", ""},
    {"to-json/pretty/ascii load-json", "\"  \""},
};
#endif
constexpr size_t CALLS = sizeof calls / sizeof calls[0];

void run_once(const Call& call, const uint8_t* text, size_t size) {
    stack::Arguments saved = stack::arguments;
    sys::catch_level(sys::THROW_ERROR, [&] {
        cell* code = reader::load(call.before);
        cell* input = unicode::load_utf8_new(text, (uint32_t)size, stack::push_cell());
        block::append_cell_copy(series::node_of(code), input);
        cell* after = reader::load(call.after);
        block::append_each(code, after);
        // Inside try: a raised error is one of the codecs' answers.
        cell* guarded = reader::load("try");
        block::append_cell_copy(series::node_of(guarded), code);
        interpreter::do_block(guarded);
    });
    sys::clear_throw();
    stack::arguments = saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_once("text_codec_fuzz", true);
    if (size < 1 || size > 65536) return 0;
    // A heap copy of exactly the text, so a read past it is caught.
    std::vector<uint8_t> text(data + 1, data + size);
    run_once(calls[data[0] % CALLS], text.data(), text.size());
    return 0;
}
