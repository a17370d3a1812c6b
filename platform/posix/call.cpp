// The call process runner over POSIX processes: fork and exec, pipes served
// by one poll loop, and /bin/sh -c standing in for the Windows shell.
//
// A direct run splits the command into arguments at blanks (double quotes
// group, and are dropped) and execs the first through the PATH; when that
// program is not found the run is tried once more through the shell, as the
// Windows build does. The child reports a failed exec through a
// close-on-exec pipe, so the parent knows before it serves any stream.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "platform/call.h"

namespace call {

namespace {

// A descriptor closed when its owner ends (or when `close` is asked).
struct Fd {
    int fd = -1;
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    // Keeps the descriptor above the standard three, so that placing the
    // child's ends on 0, 1 and 2 never overwrites another of them.
    bool take(int raw) {
        if (raw >= 0 && raw <= 2) {
            int moved = fcntl(raw, F_DUPFD_CLOEXEC, 3);
            ::close(raw);
            raw = moved;
        }
        fd = raw;
        return fd >= 0;
    }
};

// The children started without waiting, reaped when a later run finds them
// ended, so that none lingers as a zombie.
std::vector<pid_t> unwaited;

void reap_unwaited() {
    for (size_t i = 0; i < unwaited.size();) {
        if (waitpid(unwaited[i], nullptr, WNOHANG) != 0) unwaited.erase(unwaited.begin() + (long)i);
        else i++;
    }
}

std::vector<std::string> split_arguments(const std::string& command) {
    std::vector<std::string> args;
    std::string current;
    bool in_word = false, quoted = false;
    for (char c : command) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (in_word) args.push_back(current);
            current.clear();
            in_word = false;
        } else {
            current += c;
            in_word = true;
        }
    }
    if (in_word) args.push_back(current);
    return args;
}

// Opens one pipe: `parent` and `child` get the ends the parent and the child
// use; the parent's end does not block. False when the system refuses.
bool open_pipe(bool child_reads, Fd& parent, Fd& child) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    Fd r, w;
    if (!r.take(ends[0]) | !w.take(ends[1])) return false;
    Fd& mine = child_reads ? w : r;
    Fd& theirs = child_reads ? r : w;
    fcntl(mine.fd, F_SETFL, fcntl(mine.fd, F_GETFL) | O_NONBLOCK);
    std::swap(parent.fd, mine.fd);
    std::swap(child.fd, theirs.fd);
    return true;
}

bool open_file(const std::string& path, int flags, Fd& fd) {
    return fd.take(open(path.c_str(), flags | O_CLOEXEC, 0666));
}

// Starts the program; the child's standard streams are `fds` (-1: the
// parent's own). Returns the pid, or -1 with errno set from the failed fork
// or exec.
pid_t start(const std::vector<std::string>& args, const int fds[3]) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (args.empty()) {
        errno = ENOENT;
        return -1;
    }
    Fd report_r, report_w;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0 || !report_r.take(ends[0]) || !report_w.take(ends[1])) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        for (int k = 0; k < 3; k++)
            if (fds[k] >= 0) dup2(fds[k], k);  // dup2 clears close-on-exec on k
        signal(SIGPIPE, SIG_DFL);
        execvp(argv[0], argv.data());
        int e = errno;
        ssize_t ignored = write(report_w.fd, &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    report_w.close();
    int e = 0;
    ssize_t got;
    do got = read(report_r.fd, &e, sizeof e);
    while (got < 0 && errno == EINTR);
    if (got == (ssize_t)sizeof e) {
        waitpid(pid, nullptr, 0);
        errno = e;
        return -1;
    }
    return pid;
}

// One stream the parent serves: input written to the child, or output read.
struct Stream {
    Fd* fd;
    std::string* data;
    size_t sent = 0;
    bool writes;
};

// Serves every open stream until each has ended: input is written as the
// child takes it (its end closed when all is sent, or when the child closed
// its own), output read until the child closes it.
void serve(std::vector<Stream>& streams) {
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);  // a child that stops reading is no fault of ours
    std::vector<char> chunk(65536);
    for (Stream& s : streams)
        if (s.writes && s.data->empty()) s.fd->close();
    for (;;) {
        std::vector<pollfd> polled;
        std::vector<Stream*> owners;
        for (Stream& s : streams) {
            if (s.fd->fd < 0) continue;
            polled.push_back(pollfd{s.fd->fd, (short)(s.writes ? POLLOUT : POLLIN), 0});
            owners.push_back(&s);
        }
        if (polled.empty()) break;
        if (poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR) continue;
            for (Stream* s : owners) s->fd->close();
            break;
        }
        for (size_t i = 0; i < polled.size(); i++) {
            if (!polled[i].revents) continue;
            Stream& s = *owners[i];
            if (s.writes) {
                size_t left = s.data->size() - s.sent;
                ssize_t n = write(s.fd->fd, s.data->data() + s.sent, left < chunk.size() ? left : chunk.size());
                if (n > 0) s.sent += (size_t)n;
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || s.sent == s.data->size()) s.fd->close();
            } else {
                ssize_t n = read(s.fd->fd, chunk.data(), chunk.size());
                if (n > 0) s.data->append(chunk.data(), (size_t)n);
                else if (n == 0 || (errno != EAGAIN && errno != EINTR)) s.fd->close();
            }
        }
    }
    sigaction(SIGPIPE, &before, nullptr);
}

}  // namespace

std::string shell_text_to_utf8(const std::string& bytes) { return bytes; }

int32_t run_process(Run& run) {
    run.shell_mode = run.shell;
    run.shell_errors = false;
    reap_unwaited();
    Redirection* redirections[3] = {&run.input, &run.output, &run.error};
    bool redirected = false;
    for (Redirection* r : redirections) redirected |= r->kind != Redirection::NONE;
    bool waits = run.wait || redirected || run.console;

    // The child's ends, and the parent's ends of the pipes.
    Fd child[3], parent[3];
    for (int k = 0; k < 3; k++) {
        Redirection& r = *redirections[k];
        bool ok = true;
        switch (r.kind) {
        case Redirection::FILE:
            ok = k == 0 ? open_file(r.path, O_RDONLY, child[k])
                        : open_file(r.path, O_WRONLY | O_CREAT | O_APPEND, child[k]);
            break;
        case Redirection::DATA:
        case Redirection::CAPTURE:
            ok = open_pipe(k == 0, parent[k], child[k]);
            break;
        case Redirection::NONE:
            // Unredirected output goes nowhere without a console; input
            // stays the parent's.
            if (k > 0 && !run.console) ok = open_file("/dev/null", O_WRONLY, child[k]);
            break;
        }
        if (!ok) return -1;
    }
    int fds[3] = {child[0].fd, child[1].fd, child[2].fd};
    std::vector<std::string> args;
    if (!run.shell_mode) args = split_arguments(run.command);
    pid_t pid = run.shell_mode ? -1 : start(args, fds);
    if (pid < 0 && (run.shell_mode || errno == ENOENT)) {
        run.shell_mode = true;
        pid = start({"/bin/sh", "-c", run.command}, fds);
    }
    if (pid < 0) return -1;
    for (Fd& fd : child) fd.close();

    std::vector<Stream> streams;
    if (run.input.kind == Redirection::DATA) streams.push_back({&parent[0], &run.input.bytes, 0, true});
    if (run.output.kind == Redirection::CAPTURE) streams.push_back({&parent[1], &run.output.bytes, 0, false});
    if (run.error.kind == Redirection::CAPTURE) streams.push_back({&parent[2], &run.error.bytes, 0, false});
    serve(streams);
    if (run.shell_mode && !run.error.bytes.empty() && run.error.kind == Redirection::CAPTURE)
        run.shell_errors = true;

    if (!waits) {
        unwaited.push_back(pid);
        return (int32_t)pid;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace call
