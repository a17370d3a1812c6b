// image!: the language's bitmap, a series of 32-bit pixels.
//
// An image! cell: word 1 the pixel index (the series position, 0-based,
// counted row by row from the top-left); word 2 the image record's node
// (platform/image_backend.h), or 0 for an image with no pixel; word 3 the
// size, height << 16 | width, each side at most 65535. Several cells may
// show one record at different indexes.
//
// At the language level a pixel is the tuple R.G.B.(255 - A): its fourth
// byte is transparency, while the stored word keeps A, the opacity. A
// 3-byte tuple is opaque.
//
// Invariants:
// - Pixel memory belongs to the backend's store, outside the series heap:
//   a lock's pixel address survives allocations while the image cell that
//   holds the record is rooted; the record itself is read again after any.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace image {

inline memory::Node* node_of(const cell* c) { return (memory::Node*)(uintptr_t)c->data2; }
inline uint32_t width_of(const cell* c) { return c->data3 & 0xFFFF; }
inline uint32_t height_of(const cell* c) { return c->data3 >> 16; }
inline uint32_t pixel_count(const cell* c) { return width_of(c) * height_of(c); }

// Pixel data modes of get_data/set_data.
enum DataMode : int32_t { ALPHA = 0, RGB = 1, ARGB = 2 };

// An image! at index 0 over a record (null: an empty image of that size).
cell* make_at(cell* c, memory::Node* record, uint32_t w, uint32_t h);
// Pushes it.
cell* push(memory::Node* record, uint32_t w, uint32_t h);

// A pixel index from an integer or pair key (1-based with base 1, 0-based
// with base 0), clamped to 0..count; `out_of_range` tells whether it left
// the image.
int32_t index_of(const cell* image, const cell* key, int32_t base, bool* out_of_range);
// The pixel at an index as a 4-byte tuple in `out`; none at the end.
cell* pixel_at(const cell* image, uint32_t index, cell* out);

// A new binary! of the whole image's pixel data in `out`.
cell* get_data(const cell* image, int32_t mode, cell* out);
// Writes pixel data from a binary!, a tuple! or an integer!.
void set_data(cell* image, const cell* value, int32_t mode);

// True when the bytes start with the magic of a format the codecs read.
bool check_format(const uint8_t* bytes, uint32_t length);
// The decoded image in `out`, or none when no codec claims the bytes;
// a codec's failure raises access bad-media.
cell* decode(const cell* binary, cell* out);
// A binary! decoded into `out`, or a file! read and decoded (access
// cannot-open when it cannot be read, bad-media when it is no image).
cell* load(const cell* value, cell* out);
// The encoded file of the image in `out` (a binary!); none for an unknown
// format. An image with no pixel raises access bad-media.
cell* encode(const cell* image, cell* out, int32_t format);

// Registers image! (type 53, parent series!).
void register_type();

}  // namespace image
