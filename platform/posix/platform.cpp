// POSIX layer of the native test build: the same interface as the Windows
// layer, over signals and file descriptors.
#include "platform/platform.h"

#include <pthread.h>
#include <sys/mman.h>
#include <signal.h>
#include <sys/ucontext.h>
#include <ucontext.h>
#include <unistd.h>
#include <fcntl.h>
#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace platform {

static int32_t signal_to_error(int sig, int code) {
    switch (sig) {
    case SIGSEGV: return 1;
    case SIGBUS: return 2;
    case SIGILL: return 17;
    case SIGTRAP: return 3;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        default: return 99;
        }
    case SIGINT: return 0;  // like a control-C exit: quiet, code 0
    default: return 99;
    }
}

static void on_signal(int sig, siginfo_t* info, void* uctx) {
    uint32_t at = 0;
#if defined(__i386__)
    at = (uint32_t)((ucontext_t*)uctx)->uc_mcontext.gregs[REG_EIP];
#else
    (void)uctx;
    at = (uint32_t)(uintptr_t)info->si_addr;
#endif
    int32_t code = signal_to_error(sig, info->si_code);
    // A fault just below the stack's end is the stack running out.
    if (sig == SIGSEGV) {
        uintptr_t a = (uintptr_t)info->si_addr, low = stack_limit();
        if (low && a < low + 65536 && a + 65536 > low) code = 19;
    }
    sys::crash(code, at);
}

void install_crash_handler() {
    stack_limit();  // known before any fault: the handler must not ask the system
    static char alt_stack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGINT}) sigaction(sig, &sa, nullptr);
}

void read_command_line(int argc, char** argv) {
    // The native build's arguments arrive as UTF-8 already.
    sys::set_arguments(argv ? argc : 0, argv);
}

bool write_stdout(const void* bytes, size_t size) {
    const char* p = (const char*)bytes;
    while (size) {
        ssize_t n = ::write(1, p, size);
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

bool stdout_is_console() { return isatty(1); }

void exit_process(int32_t code) {
    fflush(nullptr);
    _exit(code);
}

uintptr_t stack_limit() {
    static uintptr_t low = [] {
        pthread_attr_t attr;
        void* addr = nullptr;
        size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return (uintptr_t)0;
        pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_destroy(&attr);
        return (uintptr_t)addr;
    }();
    return low;
}

bool secure_random_bytes(void* buffer, uint32_t size) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t* p = (uint8_t*)buffer;
    while (size > 0) {
        ssize_t got = read(fd, p, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(fd);
            return false;
        }
        p += got;
        size -= (uint32_t)got;
    }
    close(fd);
    return true;
}

void* allocate_virtual(uint32_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = size ? mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) : MAP_FAILED;
    if (p == MAP_FAILED) sys::throw_code(sys::THROW_PAGE_ALLOC);
    return p;
}

void free_virtual(void* address, uint32_t size) {
    if (munmap(address, size) != 0) sys::throw_code(sys::THROW_PAGE_RELEASE);
}

}  // namespace platform

namespace gui {

void alert(const char* caption, const char* text) {
    if (const char* log = getenv("ZOL_ALERT_LOG")) {
        if (FILE* f = fopen(log, "ab")) {
            fprintf(f, "%s\n%s\n", caption, text);
            fclose(f);
            return;
        }
    }
    fprintf(stderr, "%s\n%s\n", caption, text);
}

}  // namespace gui
