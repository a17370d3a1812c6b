// The simple file layer over platform/files.h (see simpleio.h).
#include "platform/simpleio.h"

#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "runtime/unicode.h"

namespace simpleio {

namespace files = platform::files;

namespace {

// Reads and writes go through the system in pieces of this size.
constexpr uint32_t CHUNK = 1u << 20;
// The largest file read whole: a series holds at most this many bytes.
constexpr uint64_t MAX_READ = 0x7FFFFFF0u;

// Closes the handle when the operation ends, also through an error.
struct Open {
    files::Handle h;
    explicit Open(files::Handle handle) : h(handle) {}
    Open(const Open&) = delete;
    Open& operator=(const Open&) = delete;
    ~Open() {
        if (h != files::NO_HANDLE) files::close(h);
    }
};

[[noreturn]] void cannot_open(cell* file, const char* reason) {
    cell* why = unicode::load_utf8_new((const uint8_t*)reason, (uint32_t)strlen(reason),
                                       stack::push_cell());
    error::raise(error::ACCESS, "cannot-open", file, why);
}

// An optional integer refinement argument: -1 when absent; another type
// raises invalid-refine-arg, a negative number out-of-range.
int64_t position_arg(cell* arg, const char* refinement) {
    if (!stack::is_given(arg) || arg->type() == TYPE_NONE) return -1;
    if (arg->type() != TYPE_INTEGER)
        error::raise_script(error::Script::invalid_refine_arg, word::load(refinement), arg);
    int32_t n = integer::get(arg);
    if (n < 0) error::raise_out_of_range(n);
    return n;
}

// --- Reading ----------------------------------------------------------------------------------

// The one scratch buffer that measures files reporting no size.
uint8_t* scratch() {
    static std::vector<uint8_t> buffer;
    if (buffer.empty()) buffer.resize(1u << 16);
    return buffer.data();
}

// Reads up to `count` bytes into `dest`; the bytes read (fewer at the end of
// the file), or -1 when the system fails.
int64_t read_into(files::Handle h, uint8_t* dest, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        uint64_t want = count - done < CHUNK ? count - done : CHUNK;
        int32_t n = files::read(h, dest + done, (uint32_t)want);
        if (n < 0) return -1;
        if (n == 0) break;
        done += (uint32_t)n;
    }
    return (int64_t)done;
}

// Text keeps LF alone: each CR just before an LF is dropped, in place.
uint32_t drop_cr_before_lf(uint8_t* p, uint32_t n) {
    uint32_t out = 0;
    for (uint32_t i = 0; i < n; i++)
        if (!(p[i] == '\r' && i + 1 < n && p[i + 1] == '\n')) p[out++] = p[i];
    return out;
}

void empty_result(bool binary, bool lines, cell* result) {
    if (binary) binary::make_at(result, 0);
    else if (lines) block::make_at(result, 0);
    else string::make_at(result, 0);
}

// simpleio/read-file: false when the file cannot be opened or read.
bool read_file(cell* file, int64_t part, int64_t seek, bool binary, bool lines, cell* result) {
    Open f(files::open(local_path(file).c_str(), files::READ));
    if (f.h == files::NO_HANDLE) return false;
    uint64_t size = 0;
    if (!files::size(f.h, size)) return false;
    if (size == 0) {
        // Devices and special files report 0: they are read to their end
        // only to count their bytes.
        for (;;) {
            int32_t n = files::read(f.h, scratch(), 1u << 16);
            if (n < 0) return false;
            if (n == 0) break;
            size += (uint32_t)n;
        }
        if (size == 0) {
            empty_result(binary, lines, result);
            return true;
        }
        if (seek < 0 && !files::seek(f.h, 0)) return false;
    }
    if (seek >= 0) {
        // Past the end nothing is left to read.
        if (!files::seek(f.h, (uint64_t)seek)) return false;
        size = (uint64_t)seek >= size ? 0 : size - (uint64_t)seek;
    }
    if (part >= 0 && (uint64_t)part < size) size = (uint64_t)part;
    if (size == 0) {
        empty_result(binary, lines, result);
        return true;
    }
    if (size > MAX_READ) cannot_open(file, "too large to be read whole");
    if (binary) {
        // The bytes go straight into the new binary: nothing allocates
        // between taking its address and filling it.
        binary::make_at(result, (int32_t)size);
        memory::Buffer* b = series::buffer_of(result);
        int64_t n = read_into(f.h, b->head, size);
        if (n < 0) return false;
        b->tail = b->head + n;
        return true;
    }
    std::vector<uint8_t> bytes((size_t)size);
    int64_t n = read_into(f.h, bytes.data(), size);
    if (n < 0) return false;
    if (lines) {
        split_lines(bytes.data(), (uint32_t)n, result);
    } else {
        uint32_t kept = drop_cr_before_lf(bytes.data(), (uint32_t)n);
        unicode::load_utf8_new(bytes.data(), kept, result);
    }
    return true;
}

// --- Writing ----------------------------------------------------------------------------------

// Writes every byte or raises: a short write is a failure.
struct Sink {
    cell* file;  // named by the error (none for standard output)
    files::Handle h;

    void put(const uint8_t* p, uint64_t n) {
        while (n > 0) {
            uint32_t want = n < CHUNK ? (uint32_t)n : CHUNK;
            int32_t done = files::write(h, p, want);
            if (done <= 0) cannot_open(file, "the write failed");
            p += done;
            n -= (uint32_t)done;
        }
    }

    // The characters of an any-string from its head (at most `part` when
    // 0 < part < length) as UTF-8, with CR LF for LF unless binary. The
    // units are read in place: nothing between here and the system call
    // allocates series memory.
    void put_text(cell* text, int64_t part, bool binary) {
        uint32_t count = (uint32_t)string::length_of(text);
        if (part > 0 && (uint64_t)part < count) count = (uint32_t)part;
        uint32_t width = string::width_of(text);
        constexpr uint32_t STEP = 1u << 16;
        std::vector<uint8_t> out(unicode::utf8_bound(width, STEP));
        for (uint32_t i = 0; i < count; i += STEP) {
            uint32_t n = count - i < STEP ? count - i : STEP;
            const uint8_t* units = string::head_pointer(text) + (size_t)i * width;
            put(out.data(), unicode::units_to_utf8(units, width, n, out.data(), !binary));
        }
    }

    // simpleio/value-to-bytes, written out: a binary its bytes, a string its
    // text, any other value its form.
    void put_value(cell* value, int64_t part, bool binary) {
        uint8_t t = value->type();
        if (t == TYPE_BINARY) {
            uint32_t n = (uint32_t)binary::rs_length(value);
            if (part > 0 && (uint64_t)part < n) n = (uint32_t)part;
            put(binary::rs_head(value), n);
        } else if (series::is_any_string(t)) {
            put_text(value, part, binary);
        } else {
            stack::TopMark mark;
            cell* formed = string::push_new(64);
            cell v = *value;
            actions::form_typed(&v, formed, nullptr, datatype::NO_LIMIT);
            put_text(formed, part, binary);
        }
    }
};

void write_to(cell* file, files::Handle h, cell* value, int64_t part, bool binary, bool lines) {
    Sink sink{file, h};
    static const uint8_t CRLF[2] = {'\r', '\n'};
    if (lines && value->type() == TYPE_BLOCK) {
        int32_t n = block::length_of(value);
        for (int32_t i = 0; i < n; i++) {
            // The block is re-read for each item: forming one may allocate.
            cell item = *block::cell_at(value, i);
            stack::TopMark mark;
            sink.put_value(stack::push(&item), -1, binary);
            sink.put(CRLF, 2);
        }
        return;
    }
    sink.put_value(value, part, binary);
    if (lines) sink.put(CRLF, 2);
}

void put_file(cell* target, const char* name, int32_t length, bool directory) {
    file::load_into(target, name, length);
    if (directory) string::append_char(series::node_of(target), '/');
}

}  // namespace

// --- Paths --------------------------------------------------------------------------------

bool is_dir_path(cell* file) {
    int32_t n = string::length_of(file);
    uint32_t head = file->data1;
    auto at = [&](int32_t i) { return i < 0 ? -1 : string::char_at(file, head + (uint32_t)i); };
    auto separator = [&](int32_t i) { return i < 0 || at(i) == '/' || at(i) == '\\'; };
    if (n == 0) return false;
    if (at(n - 1) == '/' || at(n - 1) == '\\') return true;
    if (at(n - 1) != '.') return false;
    if (separator(n - 2)) return true;                        // "." or ".../."
    return at(n - 2) == '.' && separator(n - 3);              // ".." or ".../.."
}

std::string local_path(cell* file) {
    stack::TopMark mark;
    cell* local = string::push_new(string::length_of(file) + 4);
    file::to_local(file, local, false);
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(local, &n);
    return std::string((const char*)p, (size_t)n);
}

// --- The file actions ----------------------------------------------------------------------

void read(cell* file, cell* part, cell* seek, bool binary, bool lines, cell* result) {
    int64_t at = position_arg(seek, "seek");
    int64_t count = -1;
    if (stack::is_given(part) && part->type() != TYPE_NONE) {
        if (part->type() != TYPE_INTEGER)
            error::raise_script(error::Script::invalid_refine_arg, word::load("part"), part);
        count = integer::get(part) < 0 ? -1 : integer::get(part);
    }
    if (is_dir_path(file)) {
        read_dir(file, result);
        return;
    }
    if (!read_file(file, count, at, binary, lines, result)) cannot_open(file, "cannot be read");
}

void write(cell* file, cell* value, cell* part, cell* seek, bool binary, bool append, bool lines) {
    int64_t at = position_arg(seek, "seek");
    int64_t count = -1;
    if (stack::is_given(part) && part->type() != TYPE_NONE) {
        if (part->type() != TYPE_INTEGER)
            error::raise_script(error::Script::invalid_refine_arg, word::load("part"), part);
        count = integer::get(part);
    }
    uint32_t mode = files::WRITE | (append || at >= 0 ? (uint32_t)files::KEEP : 0u);
    Open f(files::open(local_path(file).c_str(), mode));
    if (f.h == files::NO_HANDLE) cannot_open(file, "cannot be opened for writing");
    if ((at > 0 && !files::seek(f.h, (uint64_t)at)) || (append && !files::seek(f.h, 0, true)))
        cannot_open(file, "cannot move in the file");
    write_to(file, f.h, value, count, binary, lines);
}

bool remove(cell* file) { return files::remove(local_path(file).c_str(), is_dir_path(file)); }

bool rename(cell* from, cell* to) {
    return files::rename(local_path(from).c_str(), local_path(to).c_str());
}

void file_date(cell* file, cell* result) {
    files::Stamp s;
    if (!files::stamp(local_path(file).c_str(), s) || (is_dir_path(file) && !s.directory)) {
        none::make_at(result);
        return;
    }
    date::make_from_time_parts(result, s.year, s.month, s.day, s.hour, s.minute, s.second,
                               s.millisecond * 1000000);
}

void read_dir(cell* dir, cell* result) {
    stack::TopMark mark;
    int32_t n = string::length_of(dir);
    if (n == 1 && string::char_at(dir, dir->data1) == '/') {
        std::string letters;
        if (!files::drives(letters)) error::raise(error::INTERNAL, "feature-na");
        cell* list = block::make_at(result, (int32_t)letters.size());
        for (char letter : letters) {
            cell* f = stack::push_cell();
            put_file(f, &letter, 1, true);
            block::append_cell_copy(series::node_of(list), f);
            stack::pop(1);
        }
        return;
    }
    std::vector<files::Entry> entries;
    if (!files::list(local_path(dir).c_str(), entries)) cannot_open(dir, "cannot be listed");
    block::make_at(result, (int32_t)entries.size());
    for (const files::Entry& e : entries) {
        cell* f = stack::push_cell();
        put_file(f, e.name.data(), (int32_t)e.name.size(), e.directory);
        block::append_cell_copy(series::node_of(result), f);
        stack::pop(1);
    }
}

void split_lines(const uint8_t* bytes, uint32_t length, cell* result) {
    block::make_at(result, 8);
    uint32_t start = 0;
    while (start < length) {
        const uint8_t* lf = (const uint8_t*)memchr(bytes + start, '\n', length - start);
        uint32_t end = lf ? (uint32_t)(lf - bytes) : length;
        uint32_t stop = lf && end > start && bytes[end - 1] == '\r' ? end - 1 : end;
        cell* line = unicode::load_utf8_new(bytes + start, stop - start, stack::push_cell());
        block::append_cell_copy(series::node_of(result), line);
        stack::pop(1);
        start = end + 1;
    }
}

void write_stdout(cell* value) {
    cell none;
    none::make_at(&none);
    write_to(&none, files::standard_output(), value, -1, false, false);
}

void make_dir(cell* path) {
    if (!files::make_dir(local_path(path).c_str())) error::raise(error::ACCESS, "no-create", path);
}

bool exists(cell* path) { return files::exists(local_path(path).c_str()); }

void install() {
    file::services = file::Services{read, write, remove, file_date, rename};
}

}  // namespace simpleio

// --- The platform's whole-file helpers, over the same layer ----------------------------------

namespace platform {

bool file_size(const char* path, int64_t& size) {
    files::Handle h = files::open(path, files::READ);
    if (h == files::NO_HANDLE) return false;
    uint64_t n = 0;
    bool ok = files::size(h, n);
    files::close(h);
    if (ok) size = (int64_t)n;
    return ok;
}

bool read_file(const char* path, std::string& out) {
    files::Handle h = files::open(path, files::READ);
    if (h == files::NO_HANDLE) return false;
    out.clear();
    char chunk[1 << 16];
    int32_t n;
    while ((n = files::read(h, chunk, sizeof chunk)) > 0) out.append(chunk, (size_t)n);
    files::close(h);
    return n == 0;
}

}  // namespace platform
