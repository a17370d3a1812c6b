// file!: local paths, mold, and the file actions behind the platform seams.
#include "datatypes/file.h"

#include <algorithm>

#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "evaluator/stack.h"
#include "platform/platform.h"
#include "runtime/unicode.h"

namespace file {

using namespace datatype;

CurrentDir current_dir = platform::get_current_dir;
Services services = {};

namespace {

[[noreturn]] void not_done() { error::raise_internal(error::Internal::not_done); }

void put(cell* target, int32_t cp) { string::append_char(series::node_of(target), cp); }

}  // namespace

cell* push(const cell* value) { return stack::push(value); }

cell* load_into(cell* target, const char* text, int32_t length) {
    string::load(text, length, target, 0);
    cell::set_type(target, TYPE_FILE);
    return target;
}

// --- Local paths ------------------------------------------------------------------------------

void to_local(cell* path, cell* target, bool absolute) {
    cell p = *path;
    int32_t n = string::length_of(&p);
    int32_t head = (int32_t)p.data1;
    // The path is read through its cell again at each character: appending
    // to the target may collect.
    auto at = [&](int32_t i) { return string::char_at(path, (uint32_t)(head + i)); };
    int32_t i = 0;
    if (n > 0 && at(0) == '/') {
        if (n == 1) {
            i = 1;
        } else if (at(1) == '/') {
            i = 2;
        } else if (n == 2 || at(2) == '/') {
            put(target, at(1));  // a drive
            put(target, ':');
            i = 3;
        } else {
            put(target, '\\');  // a network name
            i = 1;
        }
        put(target, '\\');
    } else if (absolute) {
        cell* dir = get_current_dir(stack::push_cell());
        string::concatenate(target, dir, -1, 0, string::APPEND);
        stack::pop(1);
    }
    for (; i < n; i++) {
        int32_t c = at(i);
        put(target, c == '/' ? '\\' : c);
    }
}

uint16_t* to_local_string(cell* path) {
    cell p = *path;
    int32_t n = string::length_of(&p);
    cell* local = string::make_at_unit(stack::push_cell(), n < 1 ? 1 : n, string::width_of(&p));
    to_local(path, local, false);
    uint16_t* text = unicode::to_utf16(local);
    stack::pop(1);
    return text;
}

cell* get_current_dir(cell* target) {
    std::string dir;
    if (!current_dir || !current_dir(dir)) not_done();
    string::load(dir.data(), (int32_t)dir.size(), target, 0);
    int32_t n = string::total_length(target);
    if (n == 0 || string::char_at(target, (uint32_t)n - 1) != '\\') put(target, '\\');
    return target;
}

void backslashes_to_slashes(cell* text) {
    int32_t n = string::total_length(text);
    for (int32_t i = (int32_t)text->data1; i < n; i++)
        if (string::char_at(text, (uint32_t)i) == '\\')
            string::poke_char(series::node_of(text), (uint32_t)i, '/');
}

// --- Mold -------------------------------------------------------------------------------------

// "%" and the name: bare when every character below 127 is one a url keeps,
// else between double quotes, where " and ^ take a caret so that the text
// loads back as the same name.
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    cell v = *value;
    int32_t total = string::total_length(&v);
    int32_t h = (int32_t)v.data1;
    if (h < 0) h = 0;
    if (h > total) h = total;
    int32_t end = total;
    if (stack::is_given(part)) end = limit < 0 ? h : (int32_t)std::min<int64_t>(total, (int64_t)h + limit);
    put(out, '%');
    if (h == end) {
        string::concatenate_bytes(out, "\"\"", 2);
        return limit - 1;
    }
    bool quoted = false;
    for (int32_t i = h; i < end && !quoted; i++) {
        int32_t c = string::char_at(value, (uint32_t)i);
        quoted = c < 127 && !url::is_kept(c);
    }
    int32_t carets = 0;
    if (!quoted) {
        cell from = v;
        from.data1 = (uint32_t)h;
        string::concatenate(out, &from, end - h, 0, string::APPEND);
    } else {
        put(out, '"');
        for (int32_t i = h; i < end; i++) {
            int32_t c = string::char_at(value, (uint32_t)i);
            if (c == '"' || c == '^') {
                put(out, '^');
                carets++;
            }
            put(out, c);
        }
        put(out, '"');
    }
    return limit - (end - h) - carets - 1;
}

// --- File actions --------------------------------------------------------------------------------

cell* delete_(cell* value) {
    if (!services.remove) not_done();
    bool done = services.remove(value);
    return logic::make_at(value, done);
}

cell* query(cell* value) {
    if (!services.info) not_done();
    cell* result = stack::push_cell();
    services.info(value, result);
    cell r = *result;
    stack::pop(1);
    *value = r;
    return value;
}

cell* rename(cell* from, cell* to) {
    if (!services.rename) not_done();
    bool done = services.rename(from, to);
    return logic::make_at(from, done);
}

cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    if (stack::is_given(as) || !services.read) not_done();
    cell* result = stack::push_cell();
    services.read(source, part, seek, binary, lines, result);
    cell r = *result;
    stack::pop(1);
    *source = r;
    return source;
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append,
            cell* part, cell* seek, cell* allow, cell* as) {
    if (stack::is_given(allow) || stack::is_given(as) || !services.write) not_done();
    services.write(destination, data, part, seek, binary, append, lines);
    return unset::make_at(destination);
}

void register_type() {
    // clang-format off
    static const Entry list[] = {
        INHERIT, NO, NO, INHERIT, INHERIT, on<A_MOLD>(mold), INHERIT, NO, INHERIT,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                    // math
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // series
        INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO, INHERIT,
        INHERIT, INHERIT, NO, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, NO,
        NO, NO, on<A_DELETE>(delete_), INHERIT, NO, NO, on<A_QUERY>(query),              // I/O
        on<A_READ>(read), on<A_RENAME>(rename), NO, on<A_WRITE>(write),
    };
    // clang-format on
    define(TYPE_FILE, TYPE_URL, "file!", list);
}

}  // namespace file
