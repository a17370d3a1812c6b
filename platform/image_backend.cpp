// The image backend's records, pixel locks and the operations that work on
// pixels alike in both builds; the bitmaps themselves belong to the store of
// each platform (platform/win32/image_store.cpp, platform/posix/image_store.cpp).
#include "platform/image_backend.h"

#include <cstdio>
#include <cstring>

#include "datatypes/error.h"
#include "datatypes/tuple.h"
#include "runtime/collector.h"
#include "runtime/externals.h"

namespace image_backend {

static int32_t handle_type = 0;

[[noreturn]] static void bad_media() { error::raise(error::ACCESS, "bad-media"); }
[[noreturn]] static void no_memory() { error::raise_prebuilt("no-memory"); }

bool size_fits(int64_t w, int64_t h) {
    return w >= 0 && h >= 0 && w <= MAX_SIDE && h <= MAX_SIDE && (uint64_t)w * (uint64_t)h * 4 <= 0xFFFFFFFFull;
}

static void check_size(uint32_t w, uint32_t h) {
    if (!size_fits(w, h)) no_memory();
}

void init() {
    handle_type = externals::register_type("image", release);
    store::init();
}

Node* make_node(void* main, void* copy, uint32_t flags, uint32_t w, uint32_t h) {
    Node* n;
    try {
        n = memory::alloc_series(6, 4, 0);
    } catch (...) {
        // The bitmaps are nobody's yet: they must not outlive the failure.
        store::release_object(main);
        store::release_object(copy);
        throw;
    }
    Record* r = record_of(n);
    r->flags = flags;
    r->main = main;
    r->copy = copy;
    r->size = h << 16 | w;
    r->device = nullptr;
    r->handle = externals::store(n, (uint32_t)handle_type);
    n->buffer->tail = n->buffer->head + sizeof(Record);
    return n;
}

// A new bitmap of w × h pixels, locked for writing (`words`: its row
// stride in pixels); unlock with store::unlock(token).
struct NewBitmap {
    void* bitmap;
    uint32_t* px;
    uint32_t words;
    void* token;
};
static NewBitmap new_locked_bitmap(uint32_t w, uint32_t h) {
    check_size(w, h);
    NewBitmap b{store::new_bitmap(w, h), nullptr, 0, nullptr};
    if (!b.bitmap) no_memory();
    if (!store::lock(b.bitmap, true, &b.px, &b.words, &b.token)) {
        store::release_object(b.bitmap);
        bad_media();
    }
    return b;
}

Node* create_filled(uint32_t w, uint32_t h, const uint8_t* rgb, uint32_t rgb_len, const uint8_t* alpha,
                    uint32_t alpha_len, const cell* color) {
    if (w == 0 || h == 0) return nullptr;
    NewBitmap b = new_locked_bitmap(w, h);
    uint32_t* px = b.px;
    uint32_t stride = b.words;
    if (color) {
        const uint8_t* b = tuple::bytes_of(color);
        uint32_t a = tuple::count_of(color) > 3 ? 255u - b[3] : 255u;
        uint32_t word = a << 24 | (uint32_t)b[0] << 16 | (uint32_t)b[1] << 8 | b[2];
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) px[y * stride + x] = word;
    } else {
        uint32_t rgb_pixels = rgb ? rgb_len / 3 : 0;
        uint32_t alpha_pixels = alpha ? alpha_len : 0;
        uint32_t i = 0;
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++, i++) {
                uint32_t word = 0xFFFFFF;
                if (i < rgb_pixels)
                    word = (uint32_t)rgb[3 * i] << 16 | (uint32_t)rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
                uint32_t a = i < alpha_pixels ? 255u - alpha[i] : 255u;
                px[y * stride + x] = a << 24 | word;
            }
    }
    store::unlock(b.token);
    return make_node(nullptr, b.bitmap, COPY_VALID | COPY_WRITTEN, w, h);
}

Node* create_bitmap(uint32_t w, uint32_t h, uint32_t stride, const uint8_t* pixels) {
    if (w == 0 || h == 0) return nullptr;
    if (stride == 0) stride = w * 4;
    NewBitmap b = new_locked_bitmap(w, h);
    for (uint32_t y = 0; y < h; y++) memcpy(b.px + (size_t)y * b.words, pixels + (size_t)y * stride, (size_t)w * 4);
    store::unlock(b.token);
    return make_node(nullptr, b.bitmap, COPY_VALID | COPY_WRITTEN, w, h);
}

// --- Pixel locks ---------------------------------------------------------------------

PixelLock::PixelLock(Node* image, bool write) {
    Record* r = record_of(image);
    if (r->flags & DRAWN) r->flags &= ~(COPY_VALID | DRAWN);
    if (!(r->flags & COPY_VALID) || !r->copy) {
        if (!store::materialise_copy(image)) bad_media();
        r = record_of(image);
        r->flags |= COPY_VALID;
    }
    width = r->size & 0xFFFF;
    height = r->size >> 16;
    if (!store::lock(r->copy, write, &pixels, &stride_words, &token_)) bad_media();
    if (write) r->flags |= COPY_WRITTEN;
}

PixelLock::~PixelLock() { store::unlock(token_); }

uint32_t get_pixel_at(Node* image, uint32_t index) {
    PixelLock lock(image, false);
    return lock.at(index);
}

void set_pixel_at(Node* image, uint32_t index, uint32_t pixel) {
    PixelLock lock(image, true);
    lock.at(index) = pixel;
}

// --- New images from old ones -------------------------------------------------------------

// A new record of w × h pixels whose pixel (x, y) is the source's pixel
// (pick_x(x), pick_y(y)).
template <class PickX, class PickY>
static Node* remap(Node* image, uint32_t w, uint32_t h, PickX pick_x, PickY pick_y) {
    if (w == 0 || h == 0) return nullptr;
    NewBitmap b;
    {
        PixelLock from(image, false);
        b = new_locked_bitmap(w, h);
        for (uint32_t y = 0; y < h; y++) {
            const uint32_t* row = from.pixels + (size_t)pick_y(y) * from.stride_words;
            for (uint32_t x = 0; x < w; x++) b.px[(size_t)y * b.words + x] = row[pick_x(x)];
        }
        store::unlock(b.token);
    }
    return make_node(nullptr, b.bitmap, COPY_VALID | COPY_WRITTEN, w, h);
}

Node* resize(Node* image, uint32_t w, uint32_t h) {
    uint64_t sw = width(image), sh = height(image);
    return remap(
        image, w, h, [&](uint32_t x) { return (uint32_t)(x * sw / w); },
        [&](uint32_t y) { return (uint32_t)(y * sh / h); });
}

Node* flip_vertical(Node* image) {
    uint32_t h = height(image);
    return remap(
        image, width(image), h, [](uint32_t x) { return x; }, [h](uint32_t y) { return h - 1 - y; });
}

Node* crop(Node* image, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
    return remap(
        image, w, h, [x0](uint32_t x) { return x0 + x; }, [y0](uint32_t y) { return y0 + y; });
}

Node* copy_bitmap(Node* image) { return crop(image, 0, 0, width(image), height(image)); }

// --- Codecs ----------------------------------------------------------------------------------

Node* load_binary(const uint8_t* bytes, uint32_t length) {
    uint32_t w = 0, h = 0;
    void* main = store::decode(bytes, length, &w, &h);
    if (!main) return nullptr;
    if (w == 0 || h == 0 || !size_fits(w, h)) {
        store::release_object(main);
        return nullptr;
    }
    return make_node(main, nullptr, 0, w, h);
}

bool encode(Node* image, int32_t format, std::string& out) {
    if (format < BMP || format > TIFF) {
        printf("Cannot find image encoder\n");
        fflush(stdout);
        return false;
    }
    out.clear();
    if (!image) return true;
    if (!store::encode(image, format, out)) bad_media();
    return true;
}

// --- Release ----------------------------------------------------------------------------------

void free_bitmaps(Node* image) {
    Record* r = record_of(image);
    void* main = r->main;
    void* copy = r->copy;
    void* device = r->device;
    r->main = r->copy = r->device = nullptr;
    r->flags &= ~COPY_VALID;
    store::release_object(main);
    store::release_object(copy);
    store::release_object(device);
}

void release(void* node) {
    if (!node) return;
    free_bitmaps((Node*)node);
}

void mark_cell(cell* value) {
    if (!value->data2) return;
    Node** word = (Node**)&value->data2;
    collector::mark_series(word);
    externals::mark(record_of(*word)->handle, *word);
}

}  // namespace image_backend
