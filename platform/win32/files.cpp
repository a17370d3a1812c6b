// The file layer over the Win32 wide-character file calls.
#include "platform/files.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/text.h"

namespace platform::files {

namespace {

HANDLE handle_of(Handle h) { return (HANDLE)h; }

// A directory's attributes are asked without its trailing separator (a
// drive's root "c:\" keeps it).
std::wstring without_trailing_separator(const char* path) {
    std::wstring w = widen(path);
    while (w.size() > 1 && (w.back() == L'\\' || w.back() == L'/') && w[w.size() - 2] != L':')
        w.pop_back();
    return w;
}

}  // namespace

Handle open(const char* path, uint32_t mode) {
    DWORD access = (mode & READ) ? GENERIC_READ : GENERIC_WRITE;
    DWORD disposition = (mode & READ) ? OPEN_EXISTING : (mode & KEEP) ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE h = CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? NO_HANDLE : (Handle)h;
}

bool size(Handle h, uint64_t& bytes) {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(handle_of(h), &n)) {
        // Devices and pipes have no size: they are measured by reading.
        if (GetFileType(handle_of(h)) == FILE_TYPE_DISK) return false;
        n.QuadPart = 0;
    }
    bytes = (uint64_t)n.QuadPart;
    return true;
}

bool seek(Handle h, uint64_t position, bool to_end) {
    LARGE_INTEGER to;
    to.QuadPart = to_end ? 0 : (LONGLONG)position;
    return SetFilePointerEx(handle_of(h), to, nullptr, to_end ? FILE_END : FILE_BEGIN) != 0;
}

int32_t read(Handle h, void* buffer, uint32_t count) {
    DWORD n = 0;
    if (!ReadFile(handle_of(h), buffer, count, &n, nullptr)) {
        // A pipe whose writer has gone is at its end.
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return (int32_t)n;
}

int32_t write(Handle h, const void* buffer, uint32_t count) {
    DWORD n = 0;
    if (!WriteFile(handle_of(h), buffer, count, &n, nullptr)) return -1;
    return (int32_t)n;
}

void close(Handle h) { CloseHandle(handle_of(h)); }

Handle standard_output() { return (Handle)GetStdHandle(STD_OUTPUT_HANDLE); }

bool remove(const char* path, bool directory) {
    std::wstring w = widen(path);
    return (directory ? RemoveDirectoryW(w.c_str()) : DeleteFileW(w.c_str())) != 0;
}

bool rename(const char* from, const char* to) {
    return _wrename(widen(from).c_str(), widen(to).c_str()) == 0;
}

bool make_dir(const char* path) { return CreateDirectoryW(widen(path).c_str(), nullptr) != 0; }

bool exists(const char* path) {
    return GetFileAttributesW(without_trailing_separator(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool stamp(const char* path, Stamp& out) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(without_trailing_separator(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &t)) return false;
    out = Stamp{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
    return true;
}

bool list(const char* path, std::vector<Entry>& out) {
    std::wstring pattern = widen(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    out.clear();
    do {
        const wchar_t* name = found.cFileName;
        if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
        out.push_back(Entry{narrow(name, -1), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return true;
}

bool drives(std::string& letters) {
    wchar_t buffer[256];
    DWORD n = GetLogicalDriveStringsW(255, buffer);
    if (n == 0 || n > 255) return false;
    letters.clear();
    // "c:\" NUL "d:\" NUL ... NUL
    for (const wchar_t* d = buffer; *d; d += wcslen(d) + 1) letters += (char)*d;
    return true;
}

}  // namespace platform::files
