// The operating-system layer the portable runtime stands on. Each target
// provides it: platform/win32 on Windows, platform/posix for the native test
// build (which raises a clear error for what it cannot do).
#pragma once
#include <cstddef>
#include <cstdint>

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

}  // namespace platform

namespace gui {
// Shows a modal error box with no owner. When the environment variable
// ZOL_ALERT_LOG names a file, the caption and text are appended to it
// instead, so that automated runs never wait on a box.
void alert(const char* caption_utf8, const char* text_utf8);
}  // namespace gui
