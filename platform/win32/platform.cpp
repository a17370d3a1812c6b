// Windows layer: crash handler, command line, standard output, stack.
#include "platform/platform.h"

#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdlib>

#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

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

void exit_process(int32_t code) { ExitProcess((UINT)code); }

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

}  // namespace platform
