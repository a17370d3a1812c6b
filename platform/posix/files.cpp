// The file layer over POSIX calls, for the native build: the same answers as
// the Win32 layer gives for the same files. A 32-bit build uses the 64-bit
// calls throughout: stat and readdir fail with EOVERFLOW on large files and
// large inode numbers otherwise.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace platform::files {

namespace {

// Local paths are made in the Windows form (file::to_local writes
// backslashes); here they name the same file with slashes.
std::string posix_path(const char* path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

}  // namespace

Handle open(const char* path, uint32_t mode) {
    int flags = O_CLOEXEC | O_LARGEFILE;
    if (mode & READ) flags |= O_RDONLY;
    else flags |= O_WRONLY | O_CREAT | ((mode & KEEP) ? 0 : O_TRUNC);
    int fd = ::open(posix_path(path).c_str(), flags, 0666);
    if (fd < 0) return NO_HANDLE;
    struct stat64 st;
    // A directory opens for reading here but never on Windows.
    if (fstat64(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return NO_HANDLE;
    }
    return fd;
}

bool size(Handle h, uint64_t& bytes) {
    struct stat64 st;
    if (fstat64((int)h, &st) != 0) return false;
    // Devices and pipes report 0, as on Windows.
    bytes = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
    return true;
}

bool seek(Handle h, uint64_t position, bool to_end) {
    return lseek64((int)h, to_end ? 0 : (off64_t)position, to_end ? SEEK_END : SEEK_SET) >= 0;
}

int32_t read(Handle h, void* buffer, uint32_t count) {
    for (;;) {
        ssize_t n = ::read((int)h, buffer, count);
        if (n >= 0) return (int32_t)n;
        if (errno != EINTR) return -1;
    }
}

int32_t write(Handle h, const void* buffer, uint32_t count) {
    for (;;) {
        ssize_t n = ::write((int)h, buffer, count);
        if (n >= 0) return (int32_t)n;
        if (errno != EINTR) return -1;
    }
}

void close(Handle h) { ::close((int)h); }

Handle standard_output() { return STDOUT_FILENO; }

bool remove(const char* path, bool directory) {
    std::string p = posix_path(path);
    return (directory ? rmdir(p.c_str()) : unlink(p.c_str())) == 0;
}

bool rename(const char* from, const char* to) {
    std::string target = posix_path(to);
    struct stat64 st;
    // Windows refuses to rename onto an existing name; POSIX would replace it.
    if (lstat64(target.c_str(), &st) == 0) return false;
    return ::rename(posix_path(from).c_str(), target.c_str()) == 0;
}

bool make_dir(const char* path) { return mkdir(posix_path(path).c_str(), 0777) == 0; }

bool exists(const char* path) {
    std::string p = posix_path(path);
    // As on Windows, a file named in a directory's form still exists.
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat64 st;
    return stat64(p.c_str(), &st) == 0;
}

bool stamp(const char* path, Stamp& out) {
    struct stat64 st;
    if (stat64(posix_path(path).c_str(), &st) != 0) return false;
    struct tm t;
    time_t seconds = st.st_mtim.tv_sec;
    if (!gmtime_r(&seconds, &t)) return false;
    out = Stamp{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                (int32_t)(st.st_mtim.tv_nsec / 1000000), S_ISDIR(st.st_mode)};
    return true;
}

bool list(const char* path, std::vector<Entry>& out) {
    std::string dir = posix_path(path);
    if (dir.empty()) dir = ".";
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    if (dir.back() != '/') dir += '/';
    out.clear();
    while (struct dirent64* e = readdir64(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            // Windows lists a link to a directory as a directory.
            struct stat64 st;
            directory = stat64((dir + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back(Entry{name, directory});
    }
    closedir(d);
    return true;
}

bool drives(std::string&) { return false; }

}  // namespace platform::files
