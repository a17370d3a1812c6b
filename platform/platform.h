// The operating-system layer the portable runtime stands on. Each target
// provides it: platform/win32 on Windows, platform/posix for the native test
// build (which raises a clear error for what it cannot do).
//
// Text crosses this interface as UTF-8 (NUL-terminated in, std::string out);
// each layer converts to what its system takes. Wrappers report failure by
// their result; the natives that call them raise the language errors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace console {
class Screen;
}

namespace platform {

// Installs the process-wide crash handler that turns processor faults into
// runtime errors, and makes sure there is room left to report a stack
// overflow.
void install_crash_handler();

// Fills the runtime record's argument count and UTF-8 argument vector from
// the process command line (`argc`/`argv` as main received them; the Windows
// build reads the wide command line instead).
void read_command_line(int argc, char** argv);

// Writes bytes to the standard output unchanged. Returns false when it fails.
bool write_stdout(const void* bytes, size_t size);

// True when standard output is an interactive console.
bool stdout_is_console();

// The console screen standard output writes to, when it is a console the
// console writer drives itself; null otherwise (redirected output, and
// always in the native build, whose terminals interpret escapes).
console::Screen* console_screen();
#ifdef _WIN32
// The console screen over another console screen-buffer handle.
console::Screen* screen_of(void* handle);
#endif

// Ends the process at once with `code`.
[[noreturn]] void exit_process(int32_t code);

// Approximate lowest usable address of the main thread's stack (0 if
// unknown).
uintptr_t stack_limit();

// Fills `size` bytes from the system's cryptographic random source. Returns
// false when the source cannot be reached or fails.
bool secure_random_bytes(void* buffer, uint32_t size);

// Committed, zero-filled, page-aligned pages of `size` bytes, read/write
// (read/write/execute when `executable`). Throws THROW_PAGE_ALLOC when the
// system refuses.
void* allocate_virtual(uint32_t size, bool executable);

// Releases pages that allocate_virtual returned (`size` as it was asked;
// Windows releases the whole reservation from the address alone). Throws
// THROW_PAGE_RELEASE when the system refuses.
void free_virtual(void* address, uint32_t size);

// --- process start ----------------------------------------------------------

// Start-up step 3: COM (apartment-threaded) on Windows, then the console
// writer learns whether standard output is a console.
void init();
// Undoes what start-up started (GDI+ shut down with the kept token).
void shutdown();
#ifdef _WIN32
// Starts GDI+ once, for its first user (the image backend): its background
// thread is not wanted by runs that never touch an image. False when it
// cannot start.
bool gdiplus_startup();
#endif
// The product's C runtime streams write UTF-16 text (the runtime's own output
// never goes through them; test programs keep byte streams).
void use_utf16_streams();
// Gives the process a console of its own and points console output at it.
// False when the system refuses (or, natively, always: the native build
// writes to whatever its standard output is).
bool open_console();
void close_console();

// --- current directory ------------------------------------------------------

// The current directory; false when the system cannot report it.
bool get_current_dir(std::string& path);
// Changes the current directory; false when the system refuses.
bool set_current_dir(const char* path);

// --- environment ------------------------------------------------------------

// The value of variable `name`; false when it is not defined (a variable that
// is defined but empty gives true and "").
bool get_env(const char* name, std::string& value);
// Sets `name` to `value`, or removes it when `value` is null; false when the
// system refuses (an invalid name, no room).
bool set_env(const char* name, const char* value);
// Every variable, name and value, in the environment block's order.
void list_env(std::vector<std::pair<std::string, std::string>>& out);
// The raw command line of the process, not split.
std::string command_line();

// The operating system's description (the routine `os-info`).
struct OsInfo {
    std::string name;       // "Windows 10", "Windows 7 Service Pack 1", ...
    const char* arch;       // "x86-32", "ARM", "IA-64", "x86-64", "ARM64", "Unknown"
    uint8_t major, minor;   // version numbers
    uint8_t service_pack;   // service-pack major number
    int32_t build;          // build number
};
OsInfo os_info();

// --- clock and sleep ----------------------------------------------------------

// Sleeps `seconds` (see clock::wait_milliseconds for the rounding and the
// clamp).
void wait(double seconds);
// Seconds since midnight UTC; with `precise`, to 100 ns.
double get_time(bool precise);
// Today's date packed as clock::pack_date does: UTC with zone 0, or local
// with the local zone.
uint32_t get_date(bool utc);

// --- files and the shell ------------------------------------------------------

// Size in bytes of the file at the local path `path` opened for reading;
// false when it does not open.
bool file_size(const char* path, int64_t& size);
// The whole content of the file at the local path `path`; false when it
// does not open or cannot be read to its end (a directory included).
bool read_file(const char* path, std::string& out);
// Opens a document or URL with the shell's default handler ("open"); false
// when the shell refuses. The native build has no shell: it raises
// internal feature-na.
bool browse(const char* target);
// Reserves `size` bytes of address space that fault on any access and are
// never released (the collector stress build's poison; null on failure).
void* reserve_inaccessible(uint32_t size);

}  // namespace platform

namespace gui {
// Shows a modal error box with no owner. When the environment variable
// ZOL_ALERT_LOG names a file, the caption and text are appended to it
// instead, so that automated runs never wait on a box.
void alert(const char* caption_utf8, const char* text_utf8);
}  // namespace gui
