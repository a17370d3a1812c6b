// The file layer's system calls: what each target provides (platform/win32
// through the wide-character calls, platform/posix through open/read/stat)
// so that platform/simpleio.cpp builds the file actions once over them.
//
// Paths cross this interface as UTF-8 in the local form that file::to_local
// makes (backslashes between parts; the POSIX layer reads them as slashes).
// Every call reports failure by its result; the callers raise the errors.
// No handle is kept between two file operations of the language: each opens,
// works and closes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform::files {

using Handle = intptr_t;
constexpr Handle NO_HANDLE = -1;

// Open modes. READ opens an existing file for reading; otherwise the file is
// opened for writing, kept when KEEP is set (created when missing) and
// replaced by an empty one when not.
enum Mode : uint32_t { READ = 1, WRITE = 2, KEEP = 4 };

// The handle, or NO_HANDLE. A directory never opens.
Handle open(const char* path, uint32_t mode);
// The size in bytes, all 64 bits of it.
bool size(Handle h, uint64_t& bytes);
// Moves to `position` from the beginning, or to the end when `to_end`.
bool seek(Handle h, uint64_t position, bool to_end = false);
// Bytes transferred (0 at the end of a read), or -1 when the call fails.
int32_t read(Handle h, void* buffer, uint32_t count);
int32_t write(Handle h, const void* buffer, uint32_t count);
void close(Handle h);
// The process's standard output (never closed by the layer's callers).
Handle standard_output();

// Deletes a file, or an empty directory when `directory`.
bool remove(const char* path, bool directory);
// Renames; false when the target exists (on every target alike).
bool rename(const char* from, const char* to);
bool make_dir(const char* path);
bool exists(const char* path);

// The last-write time of a file or directory, in UTC.
struct Stamp {
    int32_t year, month, day, hour, minute, second, millisecond;
    bool directory;
};
bool stamp(const char* path, Stamp& out);

// One directory entry (never "." or ".."), its name in UTF-8.
struct Entry {
    std::string name;
    bool directory;
};
// The entries of a directory in the order the system gives them; false when
// it cannot be listed.
bool list(const char* path, std::vector<Entry>& out);
// The drive letters, in order; false where the system has no drives.
bool drives(std::string& letters);

}  // namespace platform::files
