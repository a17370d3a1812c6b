// file!: a url! (type 8, parent url!) naming a file, with its own mold and
// file actions.
//
// Cells and buffers are string!'s. A file name is written with "/" between
// its parts and a leading "/drive/" for a drive; it reaches the operating
// system only through `to_local`. The file actions (read, write, delete,
// query, rename) belong to the platform services, which install them in
// `services`; an empty entry raises internal not-done.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/cell.h"

namespace file {

// Pushes a copy of the cell.
cell* push(const cell* value);
// Loads UTF-8 text into `target` (a new string!) and makes it a file!.
cell* load_into(cell* target, const char* text, int32_t length);

// Appends the operating-system form of the path (from its head) to the
// string `target`: "/c/dir/f" gives "c:\dir\f", "/c" "c:\", "/server/share"
// "\\server\share", "//x" "\x", "/" "\", and a relative "dir/f" "dir\f"
// (after the current directory, ending in "\", with `absolute`).
void to_local(cell* path, cell* target, bool absolute);
// The UTF-16 text of `to_local` without the absolute flag, NUL-terminated,
// for a platform call. Valid until the next series allocation.
uint16_t* to_local_string(cell* path);
// The current directory as a new string! in `target`, ending in "\".
cell* get_current_dir(cell* target);
// Every backslash from the head to the tail becomes a slash, in place.
void backslashes_to_slashes(cell* text);

// --- Seams ----------------------------------------------------------------------------

// The current directory (UTF-8); false when it cannot be read (then
// `get_current_dir` raises internal not-done). The platform's by default;
// tests put in their own.
using CurrentDir = bool (*)(std::string& path);
extern CurrentDir current_dir;

// The file services of the platform: each leaves its answer in `result`.
struct Services {
    void (*read)(cell* file, cell* part, cell* seek, bool binary, bool lines, cell* result);
    void (*write)(cell* file, cell* value, cell* part, cell* seek, bool binary, bool append,
                  bool lines);
    bool (*remove)(cell* file);
    void (*info)(cell* file, cell* result);
    bool (*rename)(cell* from, cell* to);
};
extern Services services;

// --- Actions ---------------------------------------------------------------------------

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* delete_(cell* value);
cell* query(cell* value);
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
cell* rename(cell* from, cell* to);
cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append,
            cell* part, cell* seek, cell* allow, cell* as);

// Registers file! (type 8, parent url!); after url!.
void register_type();

}  // namespace file
