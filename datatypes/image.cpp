// image!: construction, pixel access, text forms, comparison, copying and
// the codec entry points over the image backend.
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>
#include <strings.h>

#include "datatypes/binary.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/file.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "platform/image_backend.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace image {

using memory::Node;
using namespace datatype;
namespace backend = image_backend;

// --- Cells -----------------------------------------------------------------------------

cell* make_at(cell* c, Node* record, uint32_t w, uint32_t h) {
    *c = cell{TYPE_IMAGE, 0, (uint32_t)(uintptr_t)record, h << 16 | w};
    return c;
}

cell* push(Node* record, uint32_t w, uint32_t h) { return make_at(stack::push_cell(), record, w, h); }

// The index clamped to 0..count.
static uint32_t index_clamped(const cell* c) {
    int32_t i = (int32_t)c->data1;
    uint32_t n = pixel_count(c);
    return i < 0 ? 0 : (uint32_t)i > n ? n : (uint32_t)i;
}

static uint32_t to_word(const uint8_t* bytes, int32_t count) {
    uint32_t a = count > 3 ? 255u - bytes[3] : 255u;
    return a << 24 | (uint32_t)bytes[0] << 16 | (uint32_t)bytes[1] << 8 | bytes[2];
}

static cell* to_tuple(uint32_t px, cell* out) {
    uint8_t b[4] = {(uint8_t)(px >> 16), (uint8_t)(px >> 8), (uint8_t)px, (uint8_t)(255 - (px >> 24))};
    return tuple::make_at(out, 4, b);
}

int32_t index_of(const cell* image, const cell* key, int32_t base, bool* out_of_range) {
    int64_t count = pixel_count(image);
    int64_t w = width_of(image), h = height_of(image);
    int64_t at = index_clamped(image);
    int64_t r;
    bool flag = false;
    if (key->type() == TYPE_PAIR) {
        int64_t x = pair::x_of(key), y = pair::y_of(key);
        int64_t lo = base == 1 ? 1 : 0;
        if (x < lo || x >= w + lo || y < lo || y >= h + lo) flag = true;
        r = at + (y - lo) * w + (x - lo);
    } else if (key->type() == TYPE_INTEGER) {
        int64_t n = (int32_t)key->data2;
        if (base == 1 && n == 0) flag = true;
        r = base == 1 && n > 0 ? at + n - 1 : at + n;
    } else {
        error::raise_script(error::Script::invalid_arg, key);
    }
    if (r < 0 || r >= count) flag = true;
    if (out_of_range) *out_of_range = flag;
    return (int32_t)std::clamp<int64_t>(r, 0, count);
}

cell* pixel_at(const cell* image, uint32_t index, cell* out) {
    if (index >= pixel_count(image)) return none::make_at(out);
    return to_tuple(backend::get_pixel_at(node_of(image), index), out);
}

// --- Pixel data ---------------------------------------------------------------------------

static const uint32_t BYTES_OF_MODE[] = {1, 3, 4};

cell* get_data(const cell* image, int32_t mode, cell* out) {
    cell img = *image;
    collector::Root hold(img);
    uint32_t n = pixel_count(&img);
    uint32_t size = n * BYTES_OF_MODE[mode];
    cell made;
    binary::make_at(&made, (int32_t)(size ? size : 1));
    collector::Root hold_made(made);
    if (n && node_of(&img)) {
        backend::PixelLock lock(node_of(&img), false);
        memory::Buffer* b = series::buffer_of(&made);
        uint8_t* p = b->head;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t px = lock.at(i);
            switch (mode) {
                case ALPHA: *p++ = (uint8_t)(255 - (px >> 24)); break;
                case RGB: *p++ = (uint8_t)(px >> 16), *p++ = (uint8_t)(px >> 8), *p++ = (uint8_t)px; break;
                default: memcpy(p, &px, 4), p += 4;
            }
        }
        b->tail = b->head + size;
    }
    *out = made;
    return out;
}

void set_data(cell* image, const cell* value, int32_t mode) {
    uint32_t n = pixel_count(image);
    cell img = *image;
    collector::Root hold(img);
    bool owned = node_of(&img) && ownership::check(&img, ownership::CHANGE, 0, (int32_t)n);
    if (value->type() == TYPE_BINARY) {
        cell bin = *value;
        collector::Root hold_bin(bin);
        if (n && node_of(&img)) {
            backend::PixelLock lock(node_of(&img), true);
            const uint8_t* p = binary::rs_head(&bin);
            uint32_t len = (uint32_t)binary::rs_length(&bin);
            uint32_t pixels = std::min(n, len / BYTES_OF_MODE[mode]);
            for (uint32_t i = 0; i < pixels; i++) {
                uint32_t& px = lock.at(i);
                switch (mode) {
                    case ALPHA: px = (px & 0xFFFFFF) | (uint32_t)(255 - p[i]) << 24; break;
                    case RGB:
                        px = (px & 0xFF000000) | (uint32_t)p[3 * i] << 16 | (uint32_t)p[3 * i + 1] << 8 | p[3 * i + 2];
                        break;
                    default: memcpy(&px, p + 4 * i, 4);
                }
            }
            // The bytes of a last, partial pixel word are copied as they are.
            if (mode == ARGB && pixels < n && len % 4) memcpy(&lock.at(pixels), p + 4 * pixels, len % 4);
        }
    } else if (value->type() == TYPE_TUPLE || value->type() == TYPE_INTEGER) {
        uint8_t b[4] = {0, 0, 0, 0};
        if (value->type() == TYPE_INTEGER) {
            uint32_t v = value->data2;
            for (int k = 0; k < 4; k++) b[k] = (uint8_t)(v >> (8 * k));
        } else {
            memcpy(b, tuple::bytes_of(value), std::min(tuple::count_of(value), 4));
        }
        if (n && node_of(&img)) {
            backend::PixelLock lock(node_of(&img), true);
            for (uint32_t i = 0; i < n; i++) {
                uint32_t& px = lock.at(i);
                switch (mode) {
                    case ALPHA: px = (px & 0xFFFFFF) | (uint32_t)(255 - b[0]) << 24; break;
                    case RGB: px = (px & 0xFF000000) | (uint32_t)b[0] << 16 | (uint32_t)b[1] << 8 | b[2]; break;
                    default: px = to_word(b, 4);
                }
            }
        }
    } else {
        error::raise_script(error::Script::invalid_arg, value);
    }
    if (owned) ownership::check(&img, ownership::CHANGED, 0, (int32_t)n);
}

// --- Codecs ----------------------------------------------------------------------------------

bool check_format(const uint8_t* p, uint32_t n) {
    auto starts = [&](const char* magic, uint32_t k) { return n >= k && memcmp(p, magic, k) == 0; };
    return starts("\x89PNG", 4) || starts("\xFF\xD8\xFF", 3) || starts("BM", 2) || starts("GIF87a", 6) ||
           starts("GIF89a", 6) || starts("II\x2A\x00", 4) || starts("MM\x00\x2A", 4);
}

static uint32_t le32(const uint8_t* p) { return (uint32_t)p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// A bitmap file whose headers point past its end: the system's decoder
// would read beyond the bytes (uncompressed rows are checked whole).
static bool bmp_overruns(const uint8_t* p, uint32_t n) {
    if (n < 26) return true;
    uint32_t offset = le32(p + 10), header = le32(p + 14);
    if (header < 12 || header > n - 14 || offset > n || offset < 14 + header) return true;
    int32_t w, h;
    uint32_t bits;
    if (header == 12) {  // the oldest header: 16-bit sides, no compression
        w = p[18] | p[19] << 8;
        h = p[20] | p[21] << 8;
        bits = (uint32_t)p[24] | p[25] << 8;
    } else if (header >= 40) {
        w = (int32_t)le32(p + 18);
        h = (int32_t)le32(p + 22);
        bits = (uint32_t)p[28] | p[29] << 8;
        uint32_t compression = le32(p + 30);
        if (compression != 0 && compression != 3) return false;
    } else {
        return false;
    }
    if (w <= 0 || h == 0 || h == INT32_MIN || bits == 0 || bits > 32) return true;
    uint64_t rows = (uint64_t)(h < 0 ? -(int64_t)h : h);
    uint64_t row = ((uint64_t)w * bits + 31) / 32 * 4;
    return offset + row * rows > n;
}

// A TIFF file whose directories, entry values or strips lie outside its
// bytes: the system's decoder follows those offsets without checking them.
static bool tiff_overruns(const uint8_t* p, uint32_t n) {
    if (n < 8) return true;
    bool le = p[0] == 'I';
    auto u16 = [&](uint64_t at) -> uint32_t { return le ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1]; };
    auto u32 = [&](uint64_t at) -> uint32_t {
        return le ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    static const uint8_t type_size[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    // Tags holding data offsets, each beside the tag holding the lengths.
    static const uint16_t ranges[][2] = {{273, 279}, {324, 325}, {513, 514}};
    std::vector<uint32_t> seen;
    uint64_t walked = 0;
    for (uint64_t dir = u32(4); dir != 0; dir = u32(dir + 2 + 12ull * u16(dir))) {
        if (dir < 8 || dir + 2 > n || std::find(seen.begin(), seen.end(), (uint32_t)dir) != seen.end()) return true;
        seen.push_back((uint32_t)dir);
        uint32_t entries = u16(dir);
        walked += entries;
        if (entries == 0 || dir + 2 + 12ull * entries + 4 > n || seen.size() > 1024 || walked > (1u << 20)) return true;
        struct Array { uint32_t type = 0, count = 0; uint64_t at = 0; } found[3][2];
        for (uint32_t i = 0; i < entries; i++) {
            uint64_t e = dir + 2 + 12ull * i;
            uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
            if (type == 0 || type >= sizeof type_size) return true;
            uint64_t size = (uint64_t)count * type_size[type];
            uint64_t at = size <= 4 ? e + 8 : u32(e + 8);
            if (at + size > n) return true;
            for (int r = 0; r < 3; r++)
                for (int k = 0; k < 2; k++)
                    if (tag == ranges[r][k]) found[r][k] = Array{type, count, at};
        }
        for (auto& range : found) {
            const Array &offsets = range[0], &lengths = range[1];
            if (!offsets.type && !lengths.type) continue;
            if (offsets.count != lengths.count) return true;
            for (const Array* a : {&offsets, &lengths})
                if (a->type != 3 && a->type != 4) return true;
            auto value = [&](const Array& a, uint32_t k) -> uint64_t {
                return a.type == 3 ? u16(a.at + 2ull * k) : u32(a.at + 4ull * k);
            };
            for (uint32_t k = 0; k < offsets.count; k++)
                if (value(offsets, k) + value(lengths, k) > n) return true;
        }
    }
    return false;
}

// Headers the system's decoders would follow out of the bytes.
static bool overruns(const uint8_t* p, uint32_t n) {
    if (p[0] == 'B') return bmp_overruns(p, n);
    if (p[0] == 'I' || p[0] == 'M') return tiff_overruns(p, n);
    return false;
}

static cell* from_record(Node* record, cell* out) {
    return make_at(out, record, backend::width(record), backend::height(record));
}

cell* decode(const cell* binary, cell* out) {
    cell bin = *binary;
    collector::Root hold(bin);
    const uint8_t* p = binary::rs_head(&bin);
    uint32_t n = (uint32_t)binary::rs_length(&bin);
    if (!check_format(p, n)) return none::make_at(out);
    // The decoder gets its own copy: the series heap may move the binary.
    if (overruns(p, n)) error::raise(error::ACCESS, "bad-media");
    std::string bytes((const char*)p, n);
    Node* record = backend::load_binary((const uint8_t*)bytes.data(), n);
    if (!record) error::raise(error::ACCESS, "bad-media");
    return from_record(record, out);
}

cell* load(const cell* value, cell* out) {
    if (value->type() == TYPE_BINARY) return decode(value, out);
    cell path = *value;
    collector::Root hold(path);
    cell* local = string::push_new(64);
    file::to_local(&path, local, true);
    int32_t n = -1;
    const char* text = (const char*)unicode::to_utf8(local, &n);
    std::string os_path(text, (size_t)n);
    stack::pop(1);
    // The file's bytes go through the same sniffing and checks as a binary's.
    std::string bytes;
    if (!platform::read_file(os_path.c_str(), bytes)) error::raise(error::ACCESS, "cannot-open", &path);
    cell* bin = binary::load((const uint8_t*)bytes.data(), (uint32_t)bytes.size());
    decode(bin, out);
    stack::pop(1);
    if (out->type() != TYPE_IMAGE) error::raise(error::ACCESS, "bad-media");
    return out;
}

cell* encode(const cell* image, cell* out, int32_t format) {
    if (width_of(image) == 0 || height_of(image) == 0 || !node_of(image)) error::raise(error::ACCESS, "bad-media");
    std::string bytes;
    if (!backend::encode(node_of(image), format, bytes)) return none::make_at(out);
    return binary::load_in(out, (const uint8_t*)bytes.data(), (uint32_t)bytes.size());
}

// --- Actions: construction -------------------------------------------------------------------

static cell* copy_whole(const cell* source, cell* out);

// A new image of the size, filled from an RGB binary, an alpha binary or a
// colour (each may be null).
static cell* make_filled(cell* target, const cell* size, const cell* rgb, const cell* alpha, const cell* color) {
    int64_t w = std::max(0, pair::x_of(size)), h = std::max(0, pair::y_of(size));
    if (!backend::size_fits(w, h)) error::raise_script(error::Script::invalid_arg, size);
    const uint8_t* rgb_p = rgb ? binary::rs_head((cell*)rgb) : nullptr;
    uint32_t rgb_n = rgb ? (uint32_t)binary::rs_length((cell*)rgb) : 0;
    const uint8_t* alpha_p = alpha ? binary::rs_head((cell*)alpha) : nullptr;
    uint32_t alpha_n = alpha ? (uint32_t)binary::rs_length((cell*)alpha) : 0;
    // The record is made after the pixels are filled: the binaries' bytes
    // are read before anything moves them.
    Node* record = backend::create_filled((uint32_t)w, (uint32_t)h, rgb_p, rgb_n, alpha_p, alpha_n, color);
    return make_at(target, record, (uint32_t)w, (uint32_t)h);
}

static cell* to(cell* target, cell* spec, int32_t type) {
    if (spec->type() == TYPE_IMAGE) return copy_whole(spec, target);
    cell t;
    datatype::make_at(&t, TYPE_IMAGE);
    error::raise_script(error::Script::bad_to_arg, &t, spec);
}

static cell* make(cell* target, cell* spec, int32_t type) {
    if (spec->type() == TYPE_PAIR) return make_filled(target, spec, nullptr, nullptr, nullptr);
    if (spec->type() != TYPE_BLOCK) return to(target, spec, type);
    cell blk = *spec;
    collector::Root hold(blk);
    int32_t head = std::max(0, (int32_t)blk.data1);
    int32_t n = series::length_of(&blk);
    const cell* v = (const cell*)series::buffer_of(&blk)->head + head;
    if (n == 0) {
        if (target->type() == TYPE_IMAGE) return copy_whole(target, target);
        error::raise_script(error::Script::invalid_arg, spec);
    }
    cell size = v[0];
    if (size.type() != TYPE_PAIR) error::raise_script(error::Script::invalid_arg, &size);
    cell second = n > 1 ? v[1] : cell{TYPE_NONE, 0, 0, 0};
    cell third = n > 2 ? v[2] : cell{TYPE_NONE, 0, 0, 0};
    if (n > 1 && second.type() != TYPE_BINARY && second.type() != TYPE_TUPLE)
        error::raise_script(error::Script::invalid_arg, &second);
    if (n > 2 && third.type() != TYPE_BINARY) error::raise_script(error::Script::invalid_arg, &third);
    collector::Root hold2(second), hold3(third);
    return make_filled(target, &size, second.type() == TYPE_BINARY ? &second : nullptr,
                       third.type() == TYPE_BINARY ? &third : nullptr,
                       second.type() == TYPE_TUPLE ? &second : nullptr);
}

// --- Actions: text ------------------------------------------------------------------------------

static int32_t serialize(cell* value, cell* out, bool only, bool flat, int32_t limit, int32_t indent) {
    cell img = *value;
    collector::Root hold(img);
    binary::MoldText m(limit);
    if (!only) m.put("make image! [", 13);
    std::string size = std::to_string(width_of(&img)) + "x" + std::to_string(height_of(&img));
    m.put(size.data(), size.size());
    uint32_t from = index_clamped(&img);
    uint32_t count = pixel_count(&img);
    if (!node_of(&img)) {
        m.put(" #{}", 4);
    } else {
        m.put(" #{", 3);
        uint32_t n = count - from;
        bool lines = !flat && n * 4 >= 31;
        if (lines) m.newline(indent + 1);
        backend::PixelLock lock(node_of(&img), false);
        bool translucent = false;
        uint32_t molded = 0;
        for (uint32_t i = from; i < count && m.budget > 0; i++) {
            uint32_t px = lock.at(i);
            m.hex(px >> 16), m.hex(px >> 8), m.hex(px);
            if ((px >> 24) < 255) translucent = true;
            molded++;
            if (lines && molded % 10 == 0) m.newline(indent + 1);
        }
        if (lines && m.budget > 0 && n % 10 != 0) m.newline(indent);
        m.put("}", 1);
        if (translucent && m.budget > 0) {
            m.put(" #{", 3);
            m.newline(indent + 1);
            for (uint32_t i = 0; i < molded && m.budget > 0; i++) {
                m.hex(255 - (lock.at(from + i) >> 24));
                if ((i + 1) % 10 == 0) m.newline(indent + 1);
            }
            m.newline(indent);
            m.put("}", 1);
        }
    }
    if (!only) m.put("]", 1);
    return m.flush(out);
}

static int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    return serialize(value, out, false, false, limit, 0);
}

static int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
                    int32_t indent) {
    return serialize(value, out, only, flat, limit, indent);
}

// --- Actions: paths, pick and poke -----------------------------------------------------------------

static cell* pick(cell* series, int32_t, cell* key) {
    bool out = false;
    int32_t i = index_of(series, key, 1, &out);
    if (out) return none::make_at(series);
    return pixel_at(series, (uint32_t)i, series);
}

static cell* poke(cell* series, int32_t, cell* value, cell* key) {
    bool out = false;
    int32_t i = index_of(series, key, 1, &out);
    if (out) {
        if (key->type() == TYPE_INTEGER) error::raise_out_of_range((int32_t)key->data2);
        error::raise_script(error::Script::out_of_range, key);
    }
    if (value->type() != TYPE_TUPLE) error::raise_script(error::Script::invalid_arg, value);
    cell v = *value;
    cell img = *series;
    collector::Root hold(img);
    bool owned = ownership::check(&img, ownership::POKE, i, 1);
    backend::set_pixel_at(node_of(&img), (uint32_t)i, to_word(tuple::bytes_of(&v), tuple::count_of(&v)));
    if (owned) ownership::check(&img, ownership::POKED, i, 1);
    *series = v;
    return series;
}

static int32_t path_mode(const cell* element) {
    if (element->type() != TYPE_WORD) return -1;
    const char* s = symbol::to_cstr(word::symbol_of(element));
    if (strcasecmp(s, "size") == 0) return 3;
    if (strcasecmp(s, "argb") == 0) return ARGB;
    if (strcasecmp(s, "rgb") == 0) return RGB;
    if (strcasecmp(s, "alpha") == 0) return ALPHA;
    return -1;
}

static cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder, cell* element_cell,
                       int32_t index, bool case_, bool get, bool last, bool owner) {
    uint8_t t = element->type();
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        cell* img = stack::push(parent);
        if (value) return poke(img, 0, value, element);
        return pick(img, 0, element);
    }
    int32_t mode = path_mode(element);
    if (mode < 0 || (mode == 3 && value)) error::raise_script(error::Script::invalid_path, path, element);
    if (mode == 3) return pair::push((int32_t)width_of(parent), (int32_t)height_of(parent));
    if (value) {
        set_data(parent, value, mode);
        return stack::push(value);
    }
    return get_data(parent, mode, stack::push_cell());
}

// --- Actions: comparison ----------------------------------------------------------------------

static int32_t compare(cell* a, cell* b, int32_t op) {
    if (b->type() != TYPE_IMAGE) return NOT_COMPARABLE;
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == OP_SAME) return same ? 0 : 1;
    switch (op) {
        case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL: case OP_SORT: case OP_CASE_SORT: case OP_FIND: break;
        default: return NOT_COMPARABLE;
    }
    if (same && a->data3 == b->data3) return 0;
    uint32_t na = pixel_count(a) - index_clamped(a), nb = pixel_count(b) - index_clamped(b);
    if (na != nb) return na < nb ? -1 : 1;
    // Equal counts of pixels in other shapes (1x2 and 2x1) are not equal.
    if (a->data3 != b->data3) return a->data3 < b->data3 ? -1 : 1;
    if (na == 0) return 0;
    backend::PixelLock la(node_of(a), false);
    // One lock serves both when they show one bitmap.
    std::optional<backend::PixelLock> other;
    if (node_of(b) != node_of(a)) other.emplace(node_of(b), false);
    backend::PixelLock& lb = other ? *other : la;
    uint32_t ia = index_clamped(a), ib = index_clamped(b);
    for (uint32_t i = 0; i < na; i++) {
        uint32_t x = la.at(ia + i), y = lb.at(ib + i);
        if (x == y) continue;
        int r = memcmp(&x, &y, 4);
        return r < 0 ? -1 : 1;
    }
    return 0;
}

// --- Actions: series ----------------------------------------------------------------------------

static cell* position(int32_t base) {
    cell* v = stack::arg(0);
    v->data1 = (uint32_t)index_of(v, stack::arg(1), base, nullptr);
    return v;
}
static cell* at() { return position(1); }
static cell* skip() { return position(0); }

static int32_t length_of(cell* series) { return (int32_t)(pixel_count(series) - index_clamped(series)); }

static cell* change(cell* series, cell* value, int32_t part, bool only, int32_t dup) {
    if (part != -1 || dup != 1) error::raise_internal(error::Internal::not_done);
    uint32_t w = width_of(series), count = pixel_count(series);
    uint32_t at = index_clamped(series);
    if (value->type() == TYPE_TUPLE) {
        if (at < count) {
            cell v = *value;
            cell img = *series;
            collector::Root hold(img);
            bool owned = ownership::check(&img, ownership::CHANGE, (int32_t)at, 1);
            backend::set_pixel_at(node_of(&img), at, to_word(tuple::bytes_of(&v), tuple::count_of(&v)));
            if (owned) ownership::check(&img, ownership::CHANGED, (int32_t)at, 1);
            *series = img;
            series->data1 = at + 1;
        }
        return series;
    }
    if (value->type() != TYPE_IMAGE) {
        cell t;
        datatype::make_at(&t, value->type());
        error::raise_script(error::Script::invalid_type, &t);
    }
    if (at >= count || !node_of(value)) return series;
    uint32_t col = at % w, row = at / w;
    uint32_t cw = std::min(width_of(value), w - col);
    uint32_t rh = std::min(height_of(value), height_of(series) - row);
    cell img = *series;
    collector::Root hold(img);
    bool owned = ownership::check(&img, ownership::CHANGE, (int32_t)at, (int32_t)(cw * rh));
    // The source's rows are read first: source and target may be one
    // bitmap, which cannot be locked for reading and writing at once.
    std::string rows((size_t)cw * rh * 4, '\0');
    {
        backend::PixelLock from(node_of(value), false);
        for (uint32_t y = 0; y < rh; y++)
            memcpy(&rows[(size_t)y * cw * 4], from.pixels + (size_t)y * from.stride_words, (size_t)cw * 4);
    }
    {
        backend::PixelLock to(node_of(&img), true);
        for (uint32_t y = 0; y < rh; y++)
            memcpy(to.pixels + (size_t)(row + y) * to.stride_words + col, &rows[(size_t)y * cw * 4], (size_t)cw * 4);
    }
    if (owned) ownership::check(&img, ownership::CHANGED, (int32_t)at, (int32_t)(cw * rh));
    *series = img;
    series->data1 = (row + rh - 1) * w + std::min(col + cw, w);
    return series;
}

// The rectangle of w × h pixels at (x, y) as a new image in `out`.
static cell* crop_into(const cell* source, uint32_t x, uint32_t y, uint32_t w, uint32_t h, cell* out) {
    Node* record = w && h && node_of(source) ? backend::crop(node_of(source), x, y, w, h) : nullptr;
    return make_at(out, record, record ? w : 0, record ? h : 0);
}

static cell* copy_whole(const cell* source, cell* out) {
    Node* record = node_of(source) ? backend::copy_bitmap(node_of(source)) : nullptr;
    return make_at(out, record, width_of(source), height_of(source));
}

static cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    uint32_t w = width_of(value), h = height_of(value);
    uint32_t at = index_clamped(value);
    uint32_t col = w ? at % w : 0, row = w ? at / w : 0;
    if (!stack::is_given(part)) {
        if (at == 0) return copy_whole(value, result);
        return crop_into(value, col, row, w - col, row < h ? h - row : 0, result);
    }
    if (part->type() == TYPE_PAIR) {
        // A rectangle larger than what is left of the image is cut to it.
        int64_t pw = std::clamp<int64_t>(pair::x_of(part), 0, (int64_t)w - col);
        int64_t ph = std::clamp<int64_t>(pair::y_of(part), 0, row < h ? (int64_t)(h - row) : 0);
        return crop_into(value, col, row, (uint32_t)pw, (uint32_t)ph, result);
    }
    if (part->type() == TYPE_IMAGE && part->data2 == value->data2) {
        uint32_t other = index_clamped(part);
        uint32_t c2 = w ? other % w : 0, r2 = w ? other / w : 0;
        uint32_t x = std::min(col, c2), y = std::min(row, r2);
        uint32_t cw = std::max(col, c2) - x, ch = std::max(row, r2) - y;
        if (y + ch > h) ch = y < h ? h - y : 0;
        return crop_into(value, x, y, cw, ch, result);
    }
    if (part->type() == TYPE_INTEGER) error::raise_internal(error::Internal::not_done);
    error::raise_script(error::Script::invalid_refine_arg, nullptr, part);
}

// --- Registration ------------------------------------------------------------------------------

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), NO, NO, on<A_TO>(to), on<A_FORM>(form), on<A_MOLD>(mold),
        on<A_EVAL_PATH>(eval_path), NO, on<A_COMPARE>(compare),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                  // math
        NO, on<A_AT>(at), INHERIT, on<A_CHANGE>(change), NO, on<A_COPY>(copy), NO,
        INHERIT, INHERIT, INHERIT, NO, on<A_LENGTH_OF>(length_of), NO,
        on<A_NEXT>(series::next), on<A_PICK>(pick), on<A_POKE>(poke), NO, NO, NO, NO, NO,
        on<A_SKIP>(skip), NO, on<A_TAIL>(series::tail), on<A_IS_TAIL>(series::is_tail), NO, NO,
        NO, NO, NO, INHERIT, NO, NO, NO, NO, NO, NO, NO,                             // I/O
    };
    // clang-format on
    define(TYPE_IMAGE, TYPE_SERIES, "image!", list);
    collector::cell_markers[TYPE_IMAGE] = backend::mark_cell;
    backend::init();
}

}  // namespace image
