// POSIX layer of the native test build: the same interface as the Windows
// layer, over signals and file descriptors. What it cannot do (a shell to
// open documents with) raises internal feature-na.
#define _FILE_OFFSET_BITS 64  // sizes of files above 2 GB
#include "platform/platform.h"

#include <sys/stat.h>
#include <sys/utsname.h>
#include <climits>
#include <ctime>

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

#include "datatypes/error.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "runtime/console.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

extern char** environ;
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/common_interface_defs.h>
#endif

#ifdef ZOL_NO_LEAK_CHECK
// Under user-mode emulation leak checking never ends: off unless ASAN_OPTIONS
// asks for it.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

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
#ifdef __SANITIZE_ADDRESS__
    // Test builds: where the fault happened, for whoever reads the log (the
    // box below only gives the address).
    fprintf(stderr, "fault at %08X reading %08X; calls:\n", (unsigned)at, (unsigned)(uintptr_t)info->si_addr);
    __sanitizer_print_stack_trace();
#endif
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

console::Screen* console_screen() { return nullptr; }

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

// --- process start ----------------------------------------------------------

void init() { console::init(); }
void shutdown() {}
void use_utf16_streams() {}
bool open_console() { return false; }
void close_console() {}

// --- current directory ------------------------------------------------------

bool get_current_dir(std::string& path) {
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(&buffer[0], buffer.size())) {
            path.assign(buffer.c_str());
            return true;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

// --- environment ------------------------------------------------------------

bool get_env(const char* name, std::string& value) {
    const char* v = getenv(name);
    if (!v) return false;
    value.assign(v);
    return true;
}

bool set_env(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

void list_env(std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    for (char** e = environ; e && *e; e++) out.push_back(environment::split_entry(*e));
}

std::string command_line() {
    // The arguments as a shell would take them back: quoted when they hold a
    // blank or are empty.
    std::string line;
    for (int32_t i = 0; i < sys::runtime.argc && sys::runtime.argv; i++) {
        const char* a = sys::runtime.argv[i];
        if (i) line += ' ';
        bool quote = !*a || strpbrk(a, " \t");
        if (quote) line += '"';
        line += a;
        if (quote) line += '"';
    }
    return line;
}

OsInfo os_info() {
    OsInfo info{"", "Unknown", 0, 0, 0, 0};
    struct utsname u;
    if (uname(&u) != 0) return info;
    info.name = std::string(u.sysname) + " " + u.release;
    std::string m = u.machine;
    if (m.size() == 4 && m[0] == 'i' && m.compare(2, 2, "86") == 0) info.arch = "x86-32";
    else if (m == "x86_64") info.arch = "x86-64";
    else if (m == "aarch64" || m == "arm64") info.arch = "ARM64";
    else if (m.compare(0, 3, "arm") == 0) info.arch = "ARM";
    else if (m == "ia64") info.arch = "IA-64";
    unsigned major = 0, minor = 0, patch = 0;
    sscanf(u.release, "%u.%u.%u", &major, &minor, &patch);
    info.major = (uint8_t)major;
    info.minor = (uint8_t)minor;
    info.build = (int32_t)patch;
    return info;
}

// --- clock and sleep ----------------------------------------------------------

void wait(double seconds) {
    uint32_t ms = clock::wait_milliseconds(seconds);
    struct timespec left;
    left.tv_sec = (time_t)(ms / 1000);
    left.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

double get_time(bool precise) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return clock::time_of_day(clock::file_time_from_unix(now.tv_sec, (uint32_t)now.tv_nsec), precise);
}

uint32_t get_date(bool utc) {
    time_t now = time(nullptr);
    struct tm t;
    if (utc) {
        gmtime_r(&now, &t);
        return clock::pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, 0);
    }
    tzset();  // a TZ set since the last call counts
    localtime_r(&now, &t);
    return clock::pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                            clock::zone_field((int32_t)(t.tm_gmtoff / 60)));
}

// --- files and the shell ------------------------------------------------------

bool browse(const char*) { error::raise(9, "feature-na"); }

void* reserve_inaccessible(uint32_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
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
