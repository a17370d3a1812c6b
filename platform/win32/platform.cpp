// Windows layer: crash handler, command line, standard output, stack, the
// console screen, COM and GDI+ start-up, environment, clock and zone, the
// current directory, files and the shell.
#include "platform/platform.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/win32/text.h"
#include "runtime/console.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

// GDI+'s flat start-up entry points (its C++ headers are not needed here).
namespace {
struct GdiplusStartupInput {
    UINT32 version;
    void* debug_callback;
    BOOL suppress_background_thread;
    BOOL suppress_external_codecs;
};
}  // namespace
extern "C" int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
extern "C" void WINAPI GdiplusShutdown(ULONG_PTR token);

namespace platform {

static HANDLE std_in, std_out, std_err;

static LONG WINAPI exception_filter(EXCEPTION_POINTERS* ep) {
    const EXCEPTION_RECORD* r = ep->ExceptionRecord;
    sys::crash(sys::exception_to_error(r->ExceptionCode),
               (uint32_t)(uintptr_t)r->ExceptionAddress);
    return EXCEPTION_EXECUTE_HANDLER;
}

void install_crash_handler() {
    // Room for the handler to run after the stack overflowed. The stack keeps
    // its guard page: deep recursion must end in an error, not a silent
    // write past the end.
    ULONG guarantee = 64 * 1024;
    SetThreadStackGuarantee(&guarantee);
    SetUnhandledExceptionFilter(exception_filter);
    SetErrorMode(SEM_FAILCRITICALERRORS);
    std_in = GetStdHandle(STD_INPUT_HANDLE);
    std_out = GetStdHandle(STD_OUTPUT_HANDLE);
    std_err = GetStdHandle(STD_ERROR_HANDLE);
}

void read_command_line(int, char**) {
    int count = 0;
    LPWSTR* wargs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wargs) {
        sys::print({sys::PrintItem::String("CommandLineToArgvW failed!")});
        sys::set_arguments(0, nullptr);
        return;
    }
    char** args = (char**)sys::allocate(sys::size_mul((uint32_t)count + 1, sizeof(char*)));
    for (int i = 0; i < count; i++) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wargs[i], -1, nullptr, 0, nullptr, nullptr);
        args[i] = (char*)sys::allocate((uint32_t)(n > 0 ? n : 1));
        args[i][0] = 0;
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wargs[i], -1, args[i], n, nullptr, nullptr);
    }
    args[count] = nullptr;
    LocalFree(wargs);
    sys::runtime.argv = args;
    sys::runtime.argc = count;
}

bool write_stdout(const void* bytes, size_t size) {
    if (!std_out || std_out == INVALID_HANDLE_VALUE) return false;
    const char* p = (const char*)bytes;
    while (size) {
        DWORD n = 0;
        if (!WriteFile(std_out, p, (DWORD)size, &n, nullptr) || n == 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

bool stdout_is_console() {
    DWORD mode;
    return std_out && GetConsoleMode(std_out, &mode);
}

namespace {
// The console screen buffer behind standard output.
class ConsoleScreen : public console::Screen {
public:
    HANDLE handle = nullptr;

    bool info(console::ScreenInfo& o) override {
        CONSOLE_SCREEN_BUFFER_INFO i;
        if (!GetConsoleScreenBufferInfo(handle, &i)) return false;
        o.width = i.dwSize.X;
        o.height = i.dwSize.Y;
        o.cursor_x = i.dwCursorPosition.X;
        o.cursor_y = i.dwCursorPosition.Y;
        o.attribute = i.wAttributes;
        o.left = i.srWindow.Left;
        o.top = i.srWindow.Top;
        o.right = i.srWindow.Right;
        o.bottom = i.srWindow.Bottom;
        o.max_width = i.dwMaximumWindowSize.X;
        o.max_height = i.dwMaximumWindowSize.Y;
        return true;
    }
    void set_cursor(int16_t x, int16_t y) override { SetConsoleCursorPosition(handle, COORD{x, y}); }
    void set_attribute(uint16_t attribute) override { SetConsoleTextAttribute(handle, attribute); }
    void fill(int16_t x, int16_t y, uint32_t count, uint16_t attribute) override {
        DWORD done;
        FillConsoleOutputCharacterW(handle, L' ', count, COORD{x, y}, &done);
        FillConsoleOutputAttribute(handle, attribute, count, COORD{x, y}, &done);
    }
    void write(const uint16_t* units, uint32_t count) override {
        DWORD done;
        WriteConsoleW(handle, (const wchar_t*)units, count, &done, nullptr);
    }
};
ConsoleScreen stdout_screen;

ULONG_PTR gdiplus_token = 0;
}  // namespace

std::wstring widen(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring w((size_t)n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, &w[0], n);
    w.resize((size_t)n - 1);
    return w;
}

std::string narrow(const wchar_t* w, int units) {
    if (units == 0) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w, units, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, units, &s[0], n, nullptr, nullptr);
    if (units < 0) s.resize((size_t)n - 1);  // the NUL counted with it
    return s;
}

console::Screen* console_screen() {
    if (!stdout_is_console()) return nullptr;
    stdout_screen.handle = std_out;
    return &stdout_screen;
}

// Wraps a console screen buffer other than standard output's (tests drive
// one created for themselves).
console::Screen* screen_of(void* handle) {
    static ConsoleScreen other;
    other.handle = (HANDLE)handle;
    return &other;
}

void exit_process(int32_t code) {
    // Our only buffers the system does not hold are the C streams; with those
    // out, end without the library-detach pass. It does nothing we need, and
    // under Wine on emulated machines it sometimes faults and the exit status
    // is lost to a kill.
    fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), (UINT)code);
    ExitProcess((UINT)code);
}

uintptr_t stack_limit() {
    static uintptr_t low = [] {
        MEMORY_BASIC_INFORMATION mbi;
        char here;
        if (!VirtualQuery(&here, &mbi, sizeof mbi)) return (uintptr_t)0;
        return (uintptr_t)mbi.AllocationBase;
    }();
    return low;
}

bool secure_random_bytes(void* buffer, uint32_t size) {
    // One verify-only provider for the whole run: it holds no keys.
    static HCRYPTPROV provider = 0;
    if (!provider &&
        !CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        provider = 0;
        return false;
    }
    return CryptGenRandom(provider, (DWORD)size, (BYTE*)buffer) != 0;
}

void* allocate_virtual(uint32_t size, bool executable) {
    void* p = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                           executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
    if (!p) sys::throw_code(sys::THROW_PAGE_ALLOC);
    return p;
}

void free_virtual(void* address, uint32_t) {
    if (!VirtualFree(address, 0, MEM_RELEASE)) sys::throw_code(sys::THROW_PAGE_RELEASE);
}

// --- process start ----------------------------------------------------------

void init() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    console::init();
}

bool gdiplus_startup() {
    GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
    if (!gdiplus_token && GdiplusStartup(&gdiplus_token, &input, nullptr) != 0) gdiplus_token = 0;
    return gdiplus_token != 0;
}

void shutdown() {
    if (gdiplus_token) GdiplusShutdown(gdiplus_token);
    gdiplus_token = 0;
}

void use_utf16_streams() {
    _setmode(_fileno(stdout), 0x20000);
    _setmode(_fileno(stderr), 0x20000);
}

bool open_console() {
    if (!AllocConsole()) return false;
    std_in = GetStdHandle(STD_INPUT_HANDLE);
    std_out = GetStdHandle(STD_OUTPUT_HANDLE);
    std_err = GetStdHandle(STD_ERROR_HANDLE);
    console::set_screen(console_screen());
    return true;
}

void close_console() {
    FreeConsole();
    // Its handles are gone: output falls back to the file writer.
    std_out = GetStdHandle(STD_OUTPUT_HANDLE);
    console::set_screen(console_screen());
}

// --- current directory ------------------------------------------------------

bool get_current_dir(std::string& path) {
    for (;;) {
        DWORD need = GetCurrentDirectoryW(0, nullptr);
        if (!need) return false;
        std::wstring w(need, L'\0');
        DWORD got = GetCurrentDirectoryW(need, &w[0]);
        if (!got) return false;
        if (got < need) {  // else it grew in between: ask again
            path = narrow(w.c_str(), (int)got);
            return true;
        }
    }
}

bool set_current_dir(const char* path) { return SetCurrentDirectoryW(widen(path).c_str()) != 0; }

// --- environment ------------------------------------------------------------

bool get_env(const char* name, std::string& value) {
    std::wstring w = widen(name);
    for (;;) {
        SetLastError(0);
        DWORD need = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
        if (!need) {
            // Not defined; a defined but empty variable reports no error.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value.clear();
            return true;
        }
        std::wstring v(need, L'\0');
        DWORD got = GetEnvironmentVariableW(w.c_str(), &v[0], need);
        if (got < need) {  // else it grew in between: ask again
            value = narrow(v.c_str(), (int)got);
            return true;
        }
    }
}

bool set_env(const char* name, const char* value) {
    std::wstring w = widen(name);
    if (!value) {
        // Removing what is not there is no failure.
        if (SetEnvironmentVariableW(w.c_str(), nullptr)) return true;
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND && !w.empty() && w.find(L'=') == std::wstring::npos;
    }
    return SetEnvironmentVariableW(w.c_str(), widen(value).c_str()) != 0;
}

void list_env(std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return;
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1)
        out.push_back(environment::split_entry(narrow(e, -1)));
    FreeEnvironmentStringsW(block);
}

std::string command_line() { return narrow(GetCommandLineW(), -1); }

OsInfo os_info() {
    OSVERSIONINFOEXA v{};
    v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA((OSVERSIONINFOA*)&v);
#pragma GCC diagnostic pop
    OsInfo info{};
    const char* edition = environment::edition_name(v.dwMajorVersion, v.dwMinorVersion,
                                                    v.wProductType == VER_NT_WORKSTATION, v.dwBuildNumber);
    info.name = edition ? std::string("Windows ") + edition : std::string("Windows");
    if (v.szCSDVersion[0]) info.name += std::string(" ") + v.szCSDVersion;
    SYSTEM_INFO si;
    GetNativeSystemInfo(&si);
    info.arch = environment::arch_name(si.wProcessorArchitecture);
    info.major = (uint8_t)v.dwMajorVersion;
    info.minor = (uint8_t)v.dwMinorVersion;
    info.service_pack = (uint8_t)v.wServicePackMajor;
    info.build = (int32_t)v.dwBuildNumber;
    return info;
}

// --- clock and sleep ----------------------------------------------------------

void wait(double seconds) { Sleep(clock::wait_milliseconds(seconds)); }

double get_time(bool precise) {
    // One reading gives the seconds and their fraction alike.
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return clock::time_of_day(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime, precise);
}

uint32_t get_date(bool utc) {
    SYSTEMTIME t;
    if (utc) {
        GetSystemTime(&t);
        return clock::pack_date(t.wYear, t.wMonth, t.wDay, 0);
    }
    GetLocalTime(&t);
    TIME_ZONE_INFORMATION tz;
    DWORD r = GetTimeZoneInformation(&tz);
    LONG bias = tz.Bias;
    if (r == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
    return clock::pack_date(t.wYear, t.wMonth, t.wDay, clock::zone_field(-bias));
}

// --- files and the shell ------------------------------------------------------

bool browse(const char* target) {
    HINSTANCE r = ShellExecuteW(nullptr, L"open", widen(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return (INT_PTR)r > 32;
}
void* reserve_inaccessible(uint32_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS); }

}  // namespace platform
