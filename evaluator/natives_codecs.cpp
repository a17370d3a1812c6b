// Checksum and compression natives: checksum, compress and decompress. They
// gather the input bytes, hand them to the checksum module or the framing
// coders, and size and retry the output buffers.
//
// The coders work on raw buffer addresses and never allocate on the
// collected heap, but making the output binary may move the input: input
// bytes are always re-read after the output is made.
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "platform/crypto.h"
#include "platform/framing.h"
#include "platform/platform.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace natives {

namespace {

// The input of a native: a binary! read in place from its head, or text
// turned into UTF-8 bytes held here.
struct Bytes {
    cell* binary = nullptr;  // on the argument stack, when the input is one
    std::string text;

    const uint8_t* data() const {
        return binary ? binary::rs_head(binary) : (const uint8_t*)text.data();
    }
    uint32_t size() const { return binary ? (uint32_t)binary::rs_length(binary) : (uint32_t)text.size(); }
};

std::string utf8_of(cell* value) {
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(value, &n);
    return std::string((const char*)p, (size_t)n);
}

void bytes_of(cell* value, Bytes& out) {
    if (value->type() == TYPE_BINARY) out.binary = value;
    else out.text = utf8_of(value);
}

// A file's whole content; access cannot-open naming it when it cannot be read.
void file_bytes(cell* file_value, Bytes& out) {
    cell* local = string::push_new(16);
    file::to_local(file_value, local, false);
    std::string path = utf8_of(local);
    stack::pop(1);
    if (!platform::read_file(path.c_str(), out.text)) {
        cell* reason = unicode::load_utf8_new((const uint8_t*)"cannot read the file", 20, stack::push_cell());
        error::raise(error::ACCESS, "cannot-open", file_value, reason);
    }
}

// The method word's spelling.
std::string spelling_of(const cell* word_value) {
    return symbol::to_cstr(word::symbol_of(word_value));
}

[[noreturn]] void invalid_with(cell* spec) {
    cell with;
    word::make_at(symbol::make("with"), &with);
    error::raise_script(error::Script::invalid_refine_arg, &with, spec);
}

// A new binary! of `size` bytes (their content left to the caller), pushed;
// returns it. The bytes are at binary::rs_head until the next allocation.
cell* push_output(uint32_t size) {
    cell* out = binary::push((int32_t)size);
    binary::append_bytes(out, nullptr, size);
    return out;
}

// The coder's result code into the native's answer: the binary cut to the
// bytes written, or a second try at the size the coder asked for.
using Coder = int32_t (*)(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length,
                          int32_t level);

void code_into_result(Coder coder, const Bytes& in, uint32_t first_size, int32_t level) {
    uint32_t capacity = first_size;
    for (int attempt = 0; attempt < 2; attempt++) {
        cell* out = push_output(capacity);
        uint32_t size = capacity;
        int32_t r = coder(binary::rs_head(out), &size, in.data(), in.size(), level);
        if (r == framing::DONE && size <= capacity) {
            series::truncate_units(series::node_of(out), size);
            cell::copy(out, stack::arg(0));
            return;
        }
        stack::pop(1);
        if (r != framing::TOO_SMALL) break;
        capacity = size;
    }
    error::raise_script(error::Script::invalid_data);
}

// The framing's functions under one shape; the level is ignored by decoders.
int32_t zlib_wrap(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t l) {
    return framing::zlib::wrap(o, s, i, n, l);
}
int32_t deflate_compress(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t l) {
    return framing::deflate::compress(o, s, i, n, l);
}
int32_t gzip_wrap(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t l) {
    return framing::gzip::wrap(o, s, i, n, l);
}
int32_t zstd_compress(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t l) {
    return framing::zstd::compress(o, s, i, n, l);
}
int32_t zlib_unwrap(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t) {
    return framing::zlib::unwrap(o, s, i, n);
}
int32_t deflate_decompress(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t) {
    return framing::deflate::decompress(o, s, i, n);
}
int32_t gzip_unwrap(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t) {
    return framing::gzip::unwrap(o, s, i, n);
}
int32_t zstd_decompress(uint8_t* o, uint32_t* s, const uint8_t* i, uint32_t n, int32_t) {
    return framing::zstd::decompress(o, s, i, n);
}

const Coder encoders[framing::METHOD_COUNT] = {zlib_wrap, deflate_compress, gzip_wrap, zstd_compress};
const Coder decoders[framing::METHOD_COUNT] = {zlib_unwrap, deflate_decompress, gzip_unwrap,
                                               zstd_decompress};

// The largest /size taken as the first output buffer without asking.
constexpr int32_t MAX_GUESS = 1 << 20;

int32_t framing_method(const cell* word_value) {
    std::string name = spelling_of(word_value);
    return framing::method_of((const uint8_t*)name.data(), (uint32_t)name.size());
}

}  // namespace

// checksum data method /with spec
void checksum(const int32_t* refs) {
    cell* data = stack::arg(0);
    cell* method_word = stack::arg(1);
    Bytes in;
    if (data->type() == TYPE_FILE) file_bytes(data, in);
    else bytes_of(data, in);

    std::string name = spelling_of(method_word);
    int32_t method = crypto::method_of((const uint8_t*)name.data(), (uint32_t)name.size());
    if (method < 0) error::raise_script(error::Script::invalid_arg, method_word);
    bool with = refs[0] >= 0;

    if (method == crypto::M_CRC32 || method == crypto::M_TCP || method == crypto::M_ADLER32) {
        if (with) invalid_with(stack::arg(refs[0]));
        uint32_t sum = method == crypto::M_CRC32 ? crypto::crc32(in.data(), in.size())
                     : method == crypto::M_TCP   ? crypto::tcp_checksum(in.data(), in.size())
                                                 : crypto::adler32(in.data(), in.size());
        integer::make_at(stack::arg(0), (int32_t)sum);
        return;
    }

    uint8_t* digest;
    uint32_t size;
    if (!with) {
        if (method == crypto::M_HASH) error::raise_script(error::Script::invalid_arg, method_word);
        int32_t index = crypto::method_index(method);
        digest = crypto::get_digest(in.data(), in.size(), index);
        size = crypto::digest_size(index);
    } else {
        cell* spec = stack::arg(refs[0]);
        if (spec->type() == TYPE_INTEGER) {
            integer::make_at(stack::arg(0), crypto::hash_unsupported());
            return;
        }
        if (spec->type() != TYPE_STRING && spec->type() != TYPE_BINARY) invalid_with(spec);
        if (method == crypto::M_HASH) invalid_with(spec);
        Bytes key;
        bytes_of(spec, key);
        // The digest comes from the tracked allocator, so the key and data
        // are read before anything moves.
        digest = crypto::hmac(in.data(), in.size(), key.data(), key.size(), method, &size);
    }
    // Copied into the binary, then freed whatever happens.
    try {
        cell* out = binary::push((int32_t)size);
        binary::append_bytes(out, digest, size);
        cell::copy(out, stack::arg(0));
    } catch (...) {
        sys::free(digest);
        throw;
    }
    sys::free(digest);
}

// compress data method /level lvl
void compress(const int32_t* refs) {
    cell* method_word = stack::arg(1);
    int32_t method = framing_method(method_word);
    int32_t level = -1;
    if (refs[0] >= 0) {
        cell* lvl = stack::arg(refs[0]);
        level = integer::get(lvl);
        int32_t highest = method == framing::M_ZSTD ? 19 : 9;
        if (level < 1 || level > highest) error::raise_script(error::Script::out_of_range, lvl);
    }
    if (method < 0) error::raise_script(error::Script::invalid_arg, method_word);
    Bytes in;
    bytes_of(stack::arg(0), in);
    uint32_t capacity = in.size() + in.size() / 2048 + 32;
    code_into_result(encoders[method], in, capacity, level);
}

// decompress data method /size sz
void decompress(const int32_t* refs) {
    cell* method_word = stack::arg(1);
    int32_t method = framing_method(method_word);
    if (method < 0) error::raise_script(error::Script::invalid_arg, method_word);
    Bytes in;
    bytes_of(stack::arg(0), in);
    // The guess is only a first buffer size: the coders find the real size
    // themselves and never trust what the data declares.
    int32_t guess = refs[0] >= 0 ? integer::get(stack::arg(refs[0])) : 0;
    if (guess < 0) guess = 0;
    // A guess beyond what any first buffer should be is not allocated: the
    // coder is asked for the real size instead.
    bool query = method == framing::M_GZIP || (method == framing::M_ZSTD && guess < 1) ||
                 ((method == framing::M_ZLIB || method == framing::M_DEFLATE) &&
                  in.size() >= (uint32_t)guess) ||
                 guess > MAX_GUESS;
    uint32_t capacity = (uint32_t)guess;
    if (query) {
        uint32_t size = 0;
        int32_t r = decoders[method](nullptr, &size, in.data(), in.size(), 0);
        if (r != framing::DONE && r != framing::TOO_SMALL)
            error::raise_script(error::Script::invalid_data);
        capacity = size;
    }
    code_into_result(decoders[method], in, capacity, 0);
}

}  // namespace natives
