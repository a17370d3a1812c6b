// The call process runner over CreateProcessW, with the Windows command
// interpreter as the shell ("cmd /s /c" and the command in double quotes).
//
// The pipes to the child are named pipes whose parent ends are opened for
// overlapped I/O: that lets one loop wait on input, output and error at once
// (anonymous pipes only block), so a child writing to one stream while the
// parent feeds or reads another cannot stall the run, and no thread is made.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/call.h"
#include "platform/win32/text.h"

namespace call {

namespace {

// A handle closed when its owner ends (or when `close` is asked).
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    void close() {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    bool take(HANDLE raw) {
        h = raw;
        return raw != INVALID_HANDLE_VALUE && raw != nullptr;
    }
};

SECURITY_ATTRIBUTES inheritable() { return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE}; }

// UTF-16 of UTF-8 text with each LF turned into CR LF.
std::wstring wide_lines(const std::string& utf8) {
    std::wstring w = platform::widen(utf8.c_str()), out;
    out.reserve(w.size());
    for (wchar_t c : w) {
        if (c == L'\n') out += L'\r';
        out += c;
    }
    return out;
}

// The bytes of UTF-16 text in a code page.
std::string encode(const std::wstring& w, UINT code_page) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(code_page, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0) WideCharToMultiByte(code_page, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// One pipe: the parent's end (overlapped, not inherited) and the child's
// (inherited). False when the system refuses.
bool open_pipe(bool child_reads, Handle& parent, Handle& child) {
    static LONG serial = 0;
    wchar_t name[80];
    swprintf(name, 80, L"\\\\.\\pipe\\zol-call-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&serial));
    DWORD direction = child_reads ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND;
    if (!parent.take(CreateNamedPipeW(name, direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr)))
        return false;
    SECURITY_ATTRIBUTES sa = inheritable();
    return child.take(CreateFileW(name, child_reads ? GENERIC_READ : GENERIC_WRITE, 0, &sa, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

// An output file opened for appending: every write goes to the file's end,
// so output and error sent to one file interleave instead of overwriting.
bool open_append(const std::string& path, Handle& h) {
    SECURITY_ATTRIBUTES sa = inheritable();
    if (!h.take(CreateFileW(platform::widen(path.c_str()).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr)))
        return false;
    SetFilePointer(h.h, 0, nullptr, FILE_END);
    return true;
}

// One stream the parent serves, with its pending overlapped transfer.
struct Stream {
    Handle* pipe = nullptr;
    std::string* data = nullptr;
    bool writes = false;
    size_t done = 0;
    bool pending = false;
    OVERLAPPED overlapped{};
    Handle event;
    std::vector<char> chunk;
};

// Starts the next transfer of a stream; false when the stream has ended.
bool issue(Stream& s) {
    ResetEvent(s.event.h);
    s.overlapped = OVERLAPPED{};
    s.overlapped.hEvent = s.event.h;
    BOOL ok;
    if (s.writes) {
        if (s.done == s.data->size()) return false;
        size_t left = s.data->size() - s.done;
        DWORD n = left < 65536 ? (DWORD)left : 65536;
        ok = WriteFile(s.pipe->h, s.data->data() + s.done, n, nullptr, &s.overlapped);
    } else {
        ok = ReadFile(s.pipe->h, s.chunk.data(), (DWORD)s.chunk.size(), nullptr, &s.overlapped);
    }
    // A transfer done at once signals its event as a pending one does.
    s.pending = ok || GetLastError() == ERROR_IO_PENDING;
    return s.pending;
}

// Serves every stream until each has ended: input is written as the child
// takes it (its end closed when all is sent, or when the child closed its
// own), output read until the child closes it (ERROR_BROKEN_PIPE).
void serve(Stream* streams, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        Stream& s = streams[i];
        s.event.take(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!s.writes) s.chunk.resize(65536);
        if (!s.event.h || !issue(s)) s.pipe->close();
    }
    for (;;) {
        HANDLE events[3];
        Stream* owners[3];
        DWORD n = 0;
        for (DWORD i = 0; i < count; i++)
            if (streams[i].pending) {
                events[n] = streams[i].event.h;
                owners[n++] = &streams[i];
            }
        if (n == 0) break;
        DWORD which = WaitForMultipleObjects(n, events, FALSE, INFINITE);
        if (which >= WAIT_OBJECT_0 + n) {
            for (DWORD i = 0; i < n; i++) {
                DWORD ignored;
                CancelIo(owners[i]->pipe->h);
                GetOverlappedResult(owners[i]->pipe->h, &owners[i]->overlapped, &ignored, TRUE);
                owners[i]->pending = false;
                owners[i]->pipe->close();
            }
            break;
        }
        Stream& s = *owners[which - WAIT_OBJECT_0];
        DWORD moved = 0;
        s.pending = false;
        if (GetOverlappedResult(s.pipe->h, &s.overlapped, &moved, FALSE)) {
            if (s.writes) s.done += moved;
            else s.data->append(s.chunk.data(), moved);
            if (issue(s)) continue;
        }
        s.pipe->close();  // ended, broken by the child, or failed
    }
}

}  // namespace

std::string shell_text_to_utf8(const std::string& bytes) {
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    if (n <= 0) return std::string();
    std::wstring w((size_t)n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), (int)bytes.size(), &w[0], n);
    return platform::narrow(w.data(), n);
}

int32_t run_process(Run& run) {
    run.shell_mode = run.shell;
    run.shell_errors = false;
    Redirection* redirections[3] = {&run.input, &run.output, &run.error};
    bool redirected = false;
    for (Redirection* r : redirections) redirected |= r->kind != Redirection::NONE;
    bool waits = run.wait || redirected || run.console;

    STARTUPINFOW si{};
    si.cb = sizeof si;
    SECURITY_ATTRIBUTES sa = inheritable();
    Handle nul;
    nul.take(CreateFileW(L"nul:", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
    const DWORD std_ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE child_std[3];
    Handle child[3], parent[3];
    for (int k = 0; k < 3; k++) {
        Redirection& r = *redirections[k];
        bool ok = true;
        child_std[k] = GetStdHandle(std_ids[k]);
        switch (r.kind) {
        case Redirection::FILE:
            ok = k == 0 ? child[k].take(CreateFileW(platform::widen(r.path.c_str()).c_str(), GENERIC_READ, 0, &sa,
                                                    OPEN_EXISTING,
                                                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr))
                        : open_append(r.path, child[k]);
            break;
        case Redirection::DATA:
        case Redirection::CAPTURE:
            ok = open_pipe(k == 0, parent[k], child[k]);
            break;
        case Redirection::NONE:
            // Unredirected output goes nowhere without a console.
            if (k > 0 && !run.console) child_std[k] = nul.h;
            break;
        }
        if (!ok) return -1;
        if (r.kind != Redirection::NONE) child_std[k] = child[k].h;
    }
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_std[0];
    si.hStdOutput = child_std[1];
    si.hStdError = child_std[2];
    if (!run.show) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }

    std::wstring command = wide_lines(run.command);
    PROCESS_INFORMATION pi{};
    auto create = [&](std::wstring line) {
        line.push_back(L'\0');
        return CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi) != 0;
    };
    const std::wstring shell_line = L"cmd /s /c \"" + command + L"\"";
    bool started = create(run.shell_mode ? shell_line : command);
    if (!started && !run.shell_mode && GetLastError() == ERROR_FILE_NOT_FOUND) {
        run.shell_mode = true;
        started = create(shell_line);
    }
    if (!started) return -1;
    Handle process, thread;
    process.take(pi.hProcess);
    thread.take(pi.hThread);
    for (Handle& h : child) h.close();

    // Text input goes in the encoding the run's output is read in.
    if (run.input.kind == Redirection::DATA && run.input.text)
        run.input.bytes = encode(wide_lines(run.input.bytes), run.shell_mode ? CP_ACP : CP_UTF8);
    Stream streams[3];
    DWORD count = 0;
    for (int k = 0; k < 3; k++) {
        Redirection& r = *redirections[k];
        if (r.kind != Redirection::DATA && r.kind != Redirection::CAPTURE) continue;
        streams[count].pipe = &parent[k];
        streams[count].data = &r.bytes;
        streams[count++].writes = k == 0;
    }
    serve(streams, count);
    if (run.shell_mode && run.error.kind == Redirection::CAPTURE && !run.error.bytes.empty())
        run.shell_errors = true;

    if (!waits) return (int32_t)pi.dwProcessId;
    DWORD code = 0;
    if (WaitForSingleObject(process.h, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.h, &code))
        return -1;
    return (int32_t)code;
}

}  // namespace call
