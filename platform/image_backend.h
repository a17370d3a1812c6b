// The image backend: where the pixels of image! values live.
//
// Every image with at least one pixel owns an image record: a small series
// of six 32-bit words (`Record`) held by word 2 of each image! cell that
// shows it. The record points at up to three bitmap objects of the platform's
// store: the main bitmap (what decoding gave, or what drawing and encoding
// read), the pixel copy (straight-alpha 32-bit words that pixel reads and
// writes lock) and a device bitmap the GUI caches. The Windows build keeps
// them as imaging-component objects; the native build keeps the pixel copy
// in memory and has no codecs (decoding and encoding raise an error).
//
// Pixels are 32-bit words A << 24 | R << 16 | G << 8 | B (B, G, R, A in
// memory order) with straight alpha, A the opacity.
//
// Lifetime: each record is registered in the handle table under the image
// handle type; the collector marks the entry through the image cells that
// reach the record and the sweep of an unmarked entry releases the bitmaps
// (`release`), while the record's node is still intact.
//
// Invariants:
// - Width and height are each at most 65535 and width × height × 4 fits in
//   32 bits (`size_fits`): nothing larger is ever made.
// - A `Record*` is valid until the next allocation in the series heap; the
//   store's bitmaps and a `PixelLock`'s pixels live outside it, valid while
//   the record lives (the caller keeps its image cell rooted).
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace image_backend {

using memory::Node;

// Flag bits of a record.
enum : uint32_t {
    COPY_VALID = 1,      // the pixel copy holds the image's pixels
    COPY_WRITTEN = 2,    // pixels were written since the main bitmap was made
    MEMORY_MAIN = 8,     // the main bitmap is an in-memory copy made for drawing into
    PREMULTIPLIED = 16,  // the main bitmap is premultiplied
    DRAWN = 32,          // the GUI drew into the image: the pixel copy is stale
    HELD_BY_GUI = 64,    // the GUI holds the image
};

// Image formats of the codecs.
enum Format : int32_t { BMP = 0, PNG = 1, GIF = 2, JPEG = 3, TIFF = 4 };

constexpr uint32_t MAX_SIDE = 65535;

struct Record {
    uint32_t flags;
    void* main;        // main bitmap, or null
    void* copy;        // pixel copy, or null
    uint32_t size;     // height << 16 | width
    int32_t handle;    // index in the handle table
    void* device;      // the GUI's cached device bitmap, or null
};
static_assert(sizeof(Record) == 24, "an image record is six 32-bit words");

inline Record* record_of(Node* n) { return (Record*)n->buffer->head; }
inline uint32_t width(Node* n) { return record_of(n)->size & 0xFFFF; }
inline uint32_t height(Node* n) { return record_of(n)->size >> 16; }

// Whether sides are each within 0..65535 and the pixels' byte size fits 32
// bits (the operations below raise no-memory otherwise).
bool size_fits(int64_t w, int64_t h);

// Start-up: the store's factory (the Windows imaging factory) and the image
// handle type.
void init();

// A new record over the given bitmaps (either may be null).
Node* make_node(void* main, void* copy, uint32_t flags, uint32_t w, uint32_t h);

// A new image of w × h pixels filled from an RGB binary (3 bytes a pixel,
// white past its end), an alpha binary (one transparency byte a pixel,
// opaque past its end) or a colour tuple (bytes R, G, B and transparency).
// Null when a side is 0. Bitmap creation failure raises internal no-memory.
Node* create_filled(uint32_t w, uint32_t h, const uint8_t* rgb, uint32_t rgb_len, const uint8_t* alpha,
                    uint32_t alpha_len, const cell* color);
// A new image over a copy of w × h pixel words read at `stride` bytes a row.
Node* create_bitmap(uint32_t w, uint32_t h, uint32_t stride, const uint8_t* pixels);

// A lock over the pixel copy (made from the main bitmap when stale). Locking
// fails with access bad-media. Pixel i of row y is pixels[y * stride_words + i].
class PixelLock {
public:
    PixelLock(Node* image, bool write);
    ~PixelLock();
    PixelLock(const PixelLock&) = delete;
    PixelLock& operator=(const PixelLock&) = delete;
    uint32_t* pixels = nullptr;
    uint32_t stride_words = 0;
    uint32_t width = 0, height = 0;
    uint32_t& at(uint32_t index) { return pixels[(index / width) * stride_words + index % width]; }

private:
    void* token_ = nullptr;
};

uint32_t get_pixel_at(Node* image, uint32_t index);
void set_pixel_at(Node* image, uint32_t index, uint32_t pixel);

// New records: nearest-neighbour resize, a vertical flip, the rectangle at
// (x, y) (inside the image), a whole copy.
Node* resize(Node* image, uint32_t w, uint32_t h);
Node* flip_vertical(Node* image);
Node* crop(Node* image, uint32_t x, uint32_t y, uint32_t w, uint32_t h);
Node* copy_bitmap(Node* image);

// Decoding: null when the bytes do not decode.
Node* load_binary(const uint8_t* bytes, uint32_t length);
// The encoded file of one frame in `out`; false for an unknown format (after
// printing "Cannot find image encoder"). Failure inside the codec raises
// access bad-media.
bool encode(Node* image, int32_t format, std::string& out);

// Releases the bitmaps and clears their fields.
void free_bitmaps(Node* image);
// Handle-table callback: the record's node is given.
void release(void* node);

// The collector's marking of an image! cell.
void mark_cell(cell* value);

#ifdef _WIN32
// The main bitmap as a bitmap source in the form asked for, rebuilt from the
// pixel copy when pixels were written or the form differs; null when none.
void* get_wic_bitmap(Node* image, bool premultiplied);
// A GDI bitmap of the image (32 bits a pixel).
void* to_hbitmap(Node* image);
// A new record from a GDI bitmap (alpha option as the imaging component
// takes it: 0 use, 1 premultiplied, 2 ignore); null when refused.
Node* from_hbitmap(void* hbitmap, int32_t alpha_option);
// A GDI+ bitmap over a read lock of the pixels; `lock_out` receives the
// lock that release_gdiplus_bitmap ends.
void* to_gdiplus_bitmap(Node* image, void** lock_out);
void release_gdiplus_bitmap(void* bitmap, void* lock);
// The GUI's one cached device bitmap per image (each an IUnknown).
void* get_device_bitmap(Node* image);
void set_device_bitmap(Node* image, void* bitmap);
void drop_device_bitmap(Node* image);
void mark_drawn(Node* image);
#endif

// --- what the store of each platform provides --------------------------------------
namespace store {
void init();
// A straight-alpha bitmap of w × h pixels, uninitialised; null when refused.
void* new_bitmap(uint32_t w, uint32_t h);
// Locks a pixel-copy bitmap; false when refused.
bool lock(void* bitmap, bool write, uint32_t** pixels, uint32_t* stride_words, void** token);
void unlock(void* token);
// Makes the pixel copy of a record whose copy is not valid from its main
// bitmap; false when it cannot.
bool materialise_copy(Node* image);
// Releases one bitmap object of the store.
void release_object(void* object);
// Decoders: a new main bitmap (straight alpha) and its size, or null.
void* decode(const uint8_t* bytes, uint32_t length, uint32_t* w, uint32_t* h);
// Encodes the image into a file of the format; false when the codec fails.
// The native store has no codecs: it raises an access error.
bool encode(Node* image, int32_t format, std::string& out);
}  // namespace store

}  // namespace image_backend
