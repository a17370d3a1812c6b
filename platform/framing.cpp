#include "platform/framing.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <cstring>
#include <initializer_list>

#include "platform/crypto.h"

namespace framing {

uint32_t output_limit = DEFAULT_OUTPUT_LIMIT;

namespace {

const char* const method_names[METHOD_COUNT] = {"zlib", "deflate", "gzip", "zstd"};

constexpr uint32_t GZIP_HEADER = 10, GZIP_TRAILER = 8, GZIP_OVERHEAD = 18;
constexpr uint32_t ZLIB_HEADER = 2, ZLIB_TRAILER = 4, ZLIB_OVERHEAD = 6;
// A zstd window above this would make the decoder allocate more than a
// 32-bit process should give a frame; our own frames stay well below.
constexpr int ZSTD_WINDOW_LOG_MAX = 24;

// Output past the caller's buffer goes here while it is counted and checked.
uint8_t scratch[1 << 16];

enum Check { NO_CHECK, CRC32, ADLER32 };

struct Sink {
    uint8_t* out;
    uint32_t capacity;
    uint32_t total = 0;  // bytes produced, kept or not
    Check kind;
    uint32_t check;

    Sink(uint8_t* o, uint32_t c, Check k)
        : out(o), capacity(o ? c : 0), kind(k), check(k == ADLER32 ? 1u : 0u) {}

    // Where the next output goes, and how much fits there.
    uint8_t* next(uint32_t* room) {
        if (total < capacity) {
            *room = capacity - total;
            return out + total;
        }
        *room = sizeof scratch;
        return scratch;
    }
    // Accounts for `n` bytes written at `at`; false once past the limit.
    bool took(const uint8_t* at, uint32_t n) {
        if (kind == CRC32) check = crypto::crc32_update(check, at, n);
        else if (kind == ADLER32) check = crypto::adler32_update(check, at, n);
        if (n > output_limit - total) return false;
        total += n;
        return true;
    }
    // DONE when it all fitted, else TOO_SMALL with the real size.
    int32_t finish(uint32_t* size) {
        *size = total;
        return total <= capacity ? DONE : TOO_SMALL;
    }
};

inline uint32_t read_le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline uint32_t read_be32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
inline void write_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}
inline void write_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (24 - 8 * i));
}

// Inflates raw DEFLATE that must end exactly at the input's end. Returns
// BAD for a truncated stream, trailing bytes or a bomb; zlib's own negative
// code for data it rejects; otherwise 0 with the sink holding the count.
int32_t inflate_raw(Sink& sink, const uint8_t* in, uint32_t length) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return Z_MEM_ERROR;
    static const uint8_t empty = 0;
    z.next_in = const_cast<Bytef*>(in ? in : &empty);
    z.avail_in = length;
    int32_t result = BAD;
    for (;;) {
        uint32_t room;
        uint8_t* at = sink.next(&room);
        z.next_out = at;
        z.avail_out = room;
        int r = ::inflate(&z, Z_NO_FLUSH);
        if (!sink.took(at, room - z.avail_out)) break;
        if (r == Z_STREAM_END) {
            if (z.avail_in == 0) result = 0;
            break;
        }
        if (r == Z_BUF_ERROR || (r == Z_OK && z.avail_in == 0 && z.avail_out != 0)) break;  // truncated
        if (r != Z_OK) {
            result = r < 0 ? r : BAD;
            break;
        }
    }
    inflateEnd(&z);
    return result;
}

// Compresses raw DEFLATE into out[0, capacity). Returns the bytes written,
// or -1 when they do not fit.
int32_t deflate_raw(uint8_t* out, uint32_t capacity, const uint8_t* in, uint32_t length, int32_t level,
                    int32_t* failure) {
    z_stream z;
    memset(&z, 0, sizeof z);
    *failure = 0;
    int r = deflateInit2(&z, level < 0 ? Z_DEFAULT_COMPRESSION : level, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY);
    if (r != Z_OK) {
        *failure = r;
        return -1;
    }
    static uint8_t empty = 0;
    z.next_in = const_cast<Bytef*>(in ? in : &empty);
    z.avail_in = length;
    z.next_out = out ? out : &empty;
    z.avail_out = out ? capacity : 0;
    r = ::deflate(&z, Z_FINISH);
    int32_t written = r == Z_STREAM_END ? (int32_t)z.total_out : -1;
    if (r != Z_STREAM_END && r != Z_OK && r != Z_BUF_ERROR) *failure = r;
    deflateEnd(&z);
    return written;
}

uint32_t deflate_bound(uint32_t length) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return length + length / 1000 + 64;
    uint32_t bound = (uint32_t)deflateBound(&z, length);
    deflateEnd(&z);
    return bound;
}

}  // namespace

int32_t method_of(const uint8_t* spelling, uint32_t size) {
    for (int32_t m = 0; m < METHOD_COUNT; m++) {
        const char* name = method_names[m];
        if (strlen(name) != size) continue;
        uint32_t i = 0;
        while (i < size && (spelling[i] | 0x20) == (uint8_t)name[i]) i++;
        if (i == size) return m;
    }
    return -1;
}

const char* method_name(int32_t method) {
    return method >= 0 && method < METHOD_COUNT ? method_names[method] : "";
}

// --- gzip ---------------------------------------------------------------------

int32_t gzip::wrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level) {
    uint32_t capacity = *size;
    if (!out || capacity < GZIP_OVERHEAD) {
        *size = length + GZIP_OVERHEAD;
        return BAD;
    }
    static const uint8_t header[GZIP_HEADER] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 4};
    memcpy(out, header, GZIP_HEADER);
    out[8] = level <= 1 ? 4 : level == 9 ? 2 : 0;
    int32_t failure;
    int32_t n = deflate_raw(out + GZIP_HEADER, capacity - GZIP_OVERHEAD, in, length, level, &failure);
    if (failure) return failure;
    if (n < 0) {
        *size = deflate_bound(length) + GZIP_OVERHEAD;
        return TOO_SMALL;
    }
    uint8_t* trailer = out + GZIP_HEADER + n;
    write_le32(trailer, crypto::crc32(in, length));
    write_le32(trailer + 4, length);
    *size = (uint32_t)n + GZIP_OVERHEAD;
    return DONE;
}

int32_t gzip::unwrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length) {
    enum { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16 };
    if (length < GZIP_OVERHEAD || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return BAD;
    uint8_t flags = in[3];
    // The header's fields must all end before the trailer.
    uint32_t end = length - GZIP_TRAILER;
    uint32_t pos = GZIP_HEADER;
    if (flags & FEXTRA) {
        uint32_t extra = (uint32_t)in[pos] | (uint32_t)in[pos + 1] << 8;
        if (extra > length - 12 || end - pos < 2 || extra > end - pos - 2) return BAD;
        pos += 2 + extra;
    }
    for (uint8_t text : {FNAME, FCOMMENT}) {
        if (!(flags & text)) continue;
        while (pos < end && in[pos]) pos++;
        if (pos >= end) return BAD;
        pos++;
    }
    if (flags & FHCRC) {
        if (end - pos < 2) return BAD;
        uint32_t crc = crypto::crc32(in, pos) & 0xFFFF;
        if (crc != ((uint32_t)in[pos] | (uint32_t)in[pos + 1] << 8)) return BAD;
        pos += 2;
    }

    Sink sink(out, *size, CRC32);
    int32_t r = inflate_raw(sink, in + pos, end - pos);
    if (r) return r;
    if (sink.total != read_le32(in + length - 4) || sink.check != read_le32(in + end)) return BAD;
    return sink.finish(size);
}

// --- zlib ---------------------------------------------------------------------

int32_t zlib::wrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level) {
    uint32_t capacity = *size;
    if (!out || capacity < ZLIB_OVERHEAD) {
        *size = length + ZLIB_OVERHEAD;
        return BAD;
    }
    out[0] = 0x78;
    out[1] = level <= 1 ? 0x01 : level <= 5 ? 0x5E : level == 6 ? 0x9C : 0xDA;
    int32_t failure;
    int32_t n = deflate_raw(out + ZLIB_HEADER, capacity - ZLIB_OVERHEAD, in, length, level, &failure);
    if (failure) return failure;
    if (n < 0) {
        *size = deflate_bound(length) + ZLIB_OVERHEAD;
        return TOO_SMALL;
    }
    write_be32(out + ZLIB_HEADER + n, crypto::adler32(in, length));
    *size = (uint32_t)n + ZLIB_OVERHEAD;
    return DONE;
}

int32_t zlib::unwrap(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length) {
    if (length < ZLIB_OVERHEAD) return BAD;
    uint8_t cmf = in[0], flg = in[1];
    if (((uint32_t)cmf << 8 | flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf >> 4) >= 8 || (flg & 0x20))
        return BAD;
    Sink sink(out, *size, ADLER32);
    int32_t r = inflate_raw(sink, in + ZLIB_HEADER, length - ZLIB_OVERHEAD);
    if (r) return r;
    if (sink.check != read_be32(in + length - ZLIB_TRAILER)) return BAD;
    return sink.finish(size);
}

// --- raw DEFLATE -------------------------------------------------------------

int32_t deflate::compress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level) {
    int32_t failure;
    int32_t n = deflate_raw(out, out ? *size : 0, in, length, level, &failure);
    if (failure) return failure;
    if (n < 0) {
        *size = deflate_bound(length);
        return TOO_SMALL;
    }
    *size = (uint32_t)n;
    return DONE;
}

int32_t deflate::decompress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length) {
    Sink sink(out, *size, NO_CHECK);
    int32_t r = inflate_raw(sink, in, length);
    if (r) return r;
    return sink.finish(size);
}

// --- zstd ---------------------------------------------------------------------

int32_t zstd::compress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length, int32_t level) {
    // A context per call: the tables of the high levels run to tens of
    // megabytes, which a 32-bit process should not keep between calls.
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    if (!cctx) return BAD;
    static uint8_t empty = 0;
    size_t r = ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level < 0 ? ZSTD_CLEVEL_DEFAULT : level);
    if (!ZSTD_isError(r)) r = ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
    if (!ZSTD_isError(r))
        r = ZSTD_compress2(cctx, out ? out : &empty, out ? *size : 0, in ? in : &empty, length);
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(r)) {
        if (ZSTD_getErrorCode(r) != ZSTD_error_dstSize_tooSmall) return BAD;
        *size = (uint32_t)ZSTD_compressBound(length);
        return TOO_SMALL;
    }
    *size = (uint32_t)r;
    return DONE;
}

int32_t zstd::decompress(uint8_t* out, uint32_t* size, const uint8_t* in, uint32_t length) {
    // A decoder per call, as for compress: a decoder kept for the process
    // holds on to its buffers, and the Windows build's C heap ran out after
    // a few rounds of 100 KB frames.
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    if (!dctx) return BAD;
    int32_t result = BAD;
    Sink sink(out, *size, NO_CHECK);
    static const uint8_t empty = 0;
    ZSTD_inBuffer input = {in ? in : &empty, length, 0};
    size_t r = ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, ZSTD_WINDOW_LOG_MAX);
    // r stays non-zero while a frame is incomplete; an empty input is no frame.
    while (!ZSTD_isError(r) && length > 0) {
        uint32_t room;
        uint8_t* at = sink.next(&room);
        ZSTD_outBuffer output = {at, room, 0};
        r = ZSTD_decompressStream(dctx, &output, &input);
        if (ZSTD_isError(r) || !sink.took(at, (uint32_t)output.pos)) break;
        if (r == 0 && input.pos == input.size) {
            result = DONE;
            break;
        }
        // No progress with room left: the input ended inside a frame.
        if (input.pos == input.size && output.pos < output.size) break;
    }
    ZSTD_freeDCtx(dctx);
    if (result != DONE) return BAD;
    return sink.finish(size);
}

}  // namespace framing
