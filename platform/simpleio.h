// The simple file layer: whole-file reads and writes, deletes, renames, file
// dates and directory listings for the file! actions and the routines that
// reach files. Built once over the system calls of platform/files.h, so both
// builds answer alike.
//
// Every operation opens, works and closes; nothing is kept between calls
// but one scratch buffer for measuring files that report no size. Text is
// UTF-8 on disk: written with CR LF for each LF (never in binary mode) and
// read back with CR LF as LF. A failure the language sees is an access
// error naming the file: cannot-open with a reason, or no-create.
//
// Values handed in live in rooted cells (the argument stack); results are
// written into the given result cell, which the caller keeps rooted.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/cell.h"

namespace simpleio {

// True when the spelling (from the head) names a directory: it ends in "/"
// or "\", is "." or "..", or ends in "/.", "\.", "/.." or "\..". No
// file-system access is made.
bool is_dir_path(cell* file);
// The local form of the file's path (file::to_local, not absolute) as UTF-8.
std::string local_path(cell* file);

// The file! actions, as file::services takes them.
void read(cell* file, cell* part, cell* seek, bool binary, bool lines, cell* result);
void write(cell* file, cell* value, cell* part, cell* seek, bool binary, bool append, bool lines);
bool remove(cell* file);
bool rename(cell* from, cell* to);
// The last-write time (UTC, without a zone) or none: when the path does not
// exist, or names a directory by its form while it is not one.
void file_date(cell* file, cell* result);
// The entries of a directory as a block of file!, directories with a
// trailing "/"; the path "/" alone lists the drives.
void read_dir(cell* dir, cell* result);

// Lines of UTF-8 text into a new block in `result`: each LF ends a line and
// a CR just before it is dropped; the text after the last LF is a line.
void split_lines(const uint8_t* bytes, uint32_t length, cell* result);

// Writes a value as `write` would to a file, to standard output.
void write_stdout(cell* value);
// Creates one directory; raises access no-create when the system refuses.
void make_dir(cell* path);
bool exists(cell* path);

// Puts the file actions into file::services (start-up).
void install();

}  // namespace simpleio
