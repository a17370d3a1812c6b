// The call process runner's language side: the values of the `call` native
// taken apart into a run record and the captured streams put back.
#include "platform/call.h"

#include "datatypes/binary.h"
#include "datatypes/error_out.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"

namespace call {

namespace {

// The UTF-8 of a string's text from its head, copied out of the cache.
std::string utf8_of(cell* text) {
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(text, &n);
    return std::string((const char*)p, (size_t)n);
}

// The local path of a file! as UTF-8 (POSIX takes slashes where Windows
// takes the backslashes of the local form).
std::string local_path(cell* file) {
    stack::TopMark mark;
    cell* out = string::push_new(string::length_of(file) + 4);
    file::to_local(file, out, false);
    std::string path = utf8_of(out);
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

// Input: a file's path, a binary's bytes, or a string's text.
void take_input(cell* in, Redirection& r) {
    if (!in) return;
    if (in->type() == TYPE_FILE) {
        r.kind = Redirection::FILE;
        r.path = local_path(in);
    } else if (in->type() == TYPE_BINARY) {
        r.kind = Redirection::DATA;
        r.bytes.assign((const char*)binary::rs_head(in), (size_t)binary::rs_length(in));
    } else {
        r.kind = Redirection::DATA;
        r.text = true;
        r.bytes = utf8_of(in);
    }
}

// Output or error: a file's path to append to, or a capture.
void take_output(cell* out, Redirection& r) {
    if (!out) return;
    if (out->type() == TYPE_FILE) {
        r.kind = Redirection::FILE;
        r.path = local_path(out);
    } else {
        r.kind = Redirection::CAPTURE;
    }
}

}  // namespace

void insert_output(cell* target, const std::string& bytes, bool shell_text) {
    if (bytes.empty()) return;
    if (target->type() == TYPE_BINARY) {
        binary::insert_bytes(target, 0, (const uint8_t*)bytes.data(), (uint32_t)bytes.size());
        return;
    }
    stack::TopMark mark;
    const std::string text = shell_text ? shell_text_to_utf8(bytes) : bytes;
    cell* decoded = unicode::load_utf8_new((const uint8_t*)text.data(), (uint32_t)text.size(),
                                           stack::push_cell());
    string::concatenate(target, decoded, -1, 0, string::INSERT);
}

int32_t call_native(cell* command, bool wait, bool show, bool console, bool shell, cell* in,
                    cell* out, cell* err) {
    if (console) error::raise_internal(error::Internal::not_done);
    Run run;
    run.command = command->type() == TYPE_FILE ? local_path(command) : utf8_of(command);
    run.wait = wait;
    run.show = show;
    run.shell = shell;
    take_input(in, run.input);
    take_output(out, run.output);
    take_output(err, run.error);
    int32_t result = run_process(run);
    bool shell_text = run.shell_mode || run.shell_errors;
    if (run.output.kind == Redirection::CAPTURE) insert_output(out, run.output.bytes, shell_text);
    if (run.error.kind == Redirection::CAPTURE) insert_output(err, run.error.bytes, shell_text);
    return result;
}

}  // namespace call
