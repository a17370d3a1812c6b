// The language's file paths ("/c/dir/file", "/" separators, a drive as the
// first element) and the system's own, both ways. Pure text functions, so
// the Windows rules are tested natively too; the POSIX build's paths are
// the language's as they stand.
#pragma once
#include <string>

namespace platform::paths {

// "/c/dir/file" -> "c:\dir\file" ("/c" -> "c:\"); a relative path keeps
// its place with "\" separators.
std::string windows_from_file(const std::string& file);
// "C:\dir\file" -> "/C/dir/file"; "\\host\share" -> "//host/share".
std::string file_from_windows(const std::string& local);

// The system's path for a language path, and back, on this build's system.
std::string local_from_file(const std::string& file);
std::string file_from_local(const std::string& local);

}  // namespace platform::paths
