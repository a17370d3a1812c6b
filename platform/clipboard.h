// The system clipboard: text, file lists and images.
//
// `read` and `write` are each platform's (the native build has no clipboard
// and raises internal feature-na); the byte layouts they exchange with the
// system are built and checked here, once, so both are tested natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/cell.h"

namespace clipboard {

// --- Layouts ---------------------------------------------------------------------------

// The 124-byte version-5 bitmap header of a top-down 32-bit image of w × h
// pixels with the A, R, G, B masks of the pixel words.
std::string dibv5_header(uint32_t w, uint32_t h);

// What a clipboard bitmap block holds, once checked.
struct Dib {
    uint32_t width, height;
    uint32_t offset;   // of the first pixel from the block's start
    bool bottom_up;    // rows stored from the bottom
};
// Reads a bitmap block of `size` bytes: 32 bits a pixel, bit-field
// compression with the pixel-word masks, and a header and pixels that fit
// inside the block. False otherwise.
bool parse_dib(const uint8_t* block, size_t size, Dib& out);

// The file-drop record (20 bytes) followed by each path in UTF-16 with its
// NUL and one NUL more.
std::string drop_files(const std::vector<std::u16string>& paths);

// The language's form of an operating-system path: backslashes become
// slashes and "C:" becomes "/C".
std::string zol_path(const std::string& local);

// --- The platform's clipboard ---------------------------------------------------------------

// The clipboard's content in `out`: a string!, a block of file!, an image!
// or none. False when the clipboard cannot be opened or its data locked.
bool read(cell* out);
// Places a string!, a block of files, an image! or none (which empties the
// clipboard); the caller has checked the type. True when every format was
// placed.
bool write(cell* value);

}  // namespace clipboard
