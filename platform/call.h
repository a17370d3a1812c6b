// The call process runner: runs another program, directly or through the
// system's shell, feeding its standard input and capturing its standard
// output and error into strings, binaries or files.
//
// A run is described by a `Run` record of plain bytes, so that nothing the
// collector moves is held while the child runs: `call_native` takes the
// language's values apart into the record, `run_process` (one per target:
// platform/win32 over CreateProcessW and pipes, platform/posix over fork and
// exec with /bin/sh standing in for the shell) starts and serves the child,
// and `insert_output` puts what was captured back into the caller's values.
//
// The child's three streams are served together by one loop (no threads):
// input is written as the child takes it while its output and error are read
// as they come, so a child that fills one pipe while the parent feeds or
// reads another never blocks the run.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/cell.h"

namespace call {

// One redirected stream of a run.
struct Redirection {
    enum Kind : uint8_t {
        NONE,     // not redirected
        FILE,     // `path` is read from (input) or appended to (output)
        DATA,     // input: `bytes` are sent; `text` when they came from a string!
        CAPTURE,  // output: what the child writes is gathered in `bytes`
    };
    Kind kind = NONE;
    bool text = false;  // DATA from a string!: UTF-8, with its LF line ends
    std::string path;   // FILE: local path, UTF-8
    std::string bytes;  // DATA: to send; CAPTURE: read
};

struct Run {
    std::string command;  // UTF-8, LF line ends
    bool wait = false, show = false, console = false, shell = false;
    Redirection input, output, error;
    // Set by the run: the command went through the shell (asked, or retried
    // after the program was not found), and in shell mode the error output
    // was not empty. Either makes captured text read in the shell's encoding.
    bool shell_mode = false;
    bool shell_errors = false;
};

// Starts the run's command and serves its streams; the exit code when the
// run waits (`wait`, any redirection, or `console`), else the process id;
// -1 when the child cannot be started or a redirection cannot be opened.
int32_t run_process(Run& run);

// Captured output of a run in shell mode as UTF-8: the shell writes in the
// system's ANSI code page on Windows, in UTF-8 elsewhere.
std::string shell_text_to_utf8(const std::string& bytes);

// The native's work after its own checks: `in`, `out` and `err` are the
// refinements' values (null when absent). Raises internal not-done for
// `console`. Returns 0 for success, -1 for an error, or a process id.
int32_t call_native(cell* command, bool wait, bool show, bool console, bool shell, cell* in,
                    cell* out, cell* err);

// Inserts a captured stream at the target's position: a binary! takes the
// bytes, a string! their text (UTF-8, or the shell's encoding when
// `shell_text`). Nothing happens for an empty capture.
void insert_output(cell* target, const std::string& bytes, bool shell_text);

}  // namespace call
