// The native build's image store: pixel copies in memory, no codecs.
//
// A bitmap is a `MemoryBitmap` header followed by its pixel words. The main
// bitmap of a record stays null here: nothing decodes, so every image starts
// as a valid pixel copy.
#include <cstdlib>

#include "datatypes/error.h"
#include "platform/image_backend.h"

namespace image_backend::store {

namespace {
struct MemoryBitmap {
    uint32_t width, height;
    uint32_t* pixels() { return reinterpret_cast<uint32_t*>(this + 1); }
};

[[noreturn]] void no_codecs() {
    // The native build exists for tests of the language side: images are
    // decoded and encoded by the Windows imaging codecs only.
    error::raise(error::INTERNAL, "feature-na");
}
}  // namespace

void init() {}

void* new_bitmap(uint32_t w, uint32_t h) {
    auto* b = (MemoryBitmap*)malloc(sizeof(MemoryBitmap) + (size_t)w * h * 4);
    if (!b) return nullptr;
    b->width = w;
    b->height = h;
    return b;
}

bool lock(void* bitmap, bool, uint32_t** pixels, uint32_t* stride_words, void** token) {
    if (!bitmap) return false;
    auto* b = (MemoryBitmap*)bitmap;
    *pixels = b->pixels();
    *stride_words = b->width;
    *token = nullptr;
    return true;
}

void unlock(void*) {}

bool materialise_copy(Node* image) { return record_of(image)->copy != nullptr; }

void release_object(void* object) { free(object); }

void* decode(const uint8_t*, uint32_t, uint32_t*, uint32_t*) { no_codecs(); }
bool encode(Node*, int32_t, std::string&) { no_codecs(); }

}  // namespace image_backend::store
