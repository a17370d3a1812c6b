// zol-run: the script runner the tests use. It boots the runtime without any
// window and evaluates Zol source; what `print` prints goes to standard
// output as UTF-8.
//
//   zol-run FILE [ARGS...]   runs a script file as `do` does (through
//                            the library's do-file: a `Zol [...]` or
//                            `Quelm [...]` header is required, directives
//                            are expanded, and the script's folder is the
//                            current one while it runs);
//                            system/options/script names it,
//                            system/options/args and system/script/args
//                            hold the arguments
//   zol-run -e TEXT          evaluates the text
//   zol-run --table FILE     runs a table of cases (below)
//
// An error nothing catches writes its "*** " report to standard error and
// ends the run with status 254 (the -2 of an unhandled script error).
//
// Tables of cases: a `.zol` file under tests/ that is loaded, not evaluated
// as a whole. After an optional header it holds cases, each a code block,
// a sign and what is expected:
//
//     [1 + 2]                  == "3"              ; the mold of the result
//     [transcode "1]"]         !! syntax/missing   ; the error's type/id
//
// Each case is evaluated on its own under a catch, in order, so a case may
// set words that later cases use. `==` expects no error and a result whose
// mold is the string; `!!` expects an error of that type and id. Every
// failing case is printed with the code, what was expected and what it
// got; the last line is "N passed, N failed", and the status is 1 when a
// case failed. ctest runs every table in the native and windows builds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "library/system.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace {

int exit_status = 0;

std::string text_of(cell* value, bool molded) {
    cell* out = string::push_new(64);
    cell c = *value;
    if (molded) actions::mold_typed(&c, out, false, false, false, nullptr, datatype::NO_LIMIT, 0);
    else actions::form_typed(&c, out, nullptr, datatype::NO_LIMIT);
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(out, &n);
    std::string s((const char*)p, (size_t)n);
    stack::pop(1);
    return s;
}

std::string spelling(int32_t symbol) { return symbol::to_cstr(symbol); }

std::string error_name(cell* e) {
    return spelling(error::get_type(e)) + "/" + spelling(error::get_id(e));
}

[[noreturn]] void report_and_exit(cell* e) {
    std::string report = text_of(e, false);
    fprintf(stderr, "%s\n", report.c_str());
    fflush(stdout);
    fflush(stderr);
    sys::free_all();
    // 254 is the -2 of an unhandled script error as the shell sees it.
    platform::exit_process(254);
}

bool read_file(const char* path, std::string& out) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    fclose(f);
    return true;
}

// The text loaded into a block on the argument stack; a syntax error is
// reported as any uncaught error.
cell* load(const std::string& text) {
    size_t skip = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    cell* code = stack::push_cell();
    unset::make_at(code);
    cell* e = interpreter::catch_error([&] {
        lexer::scan((const uint8_t*)text.data() + skip, (uint32_t)(text.size() - skip), {}, code);
    });
    if (e) report_and_exit(e);
    return code;
}

bool is_word(const cell* c, const char* spelled) {
    return c->type() == TYPE_WORD && strcmp(symbol::to_cstr(word::symbol_of(c)), spelled) == 0;
}

// Past a `Zol [...]` (or `Quelm [...]`) header at the head.
void skip_header(cell* code) {
    if (block::length_of(code) < 2) return;
    cell* first = block::head_cell(code);
    cell* second = first + 1;
    if ((is_word(first, "Zol") || is_word(first, "Quelm")) && second->type() == TYPE_BLOCK)
        code->data1 += 2;
}

void run_code(cell* code) {
    skip_header(code);
    cell* e = interpreter::catch_error([&] { interpreter::do_block(code); });
    if (e) report_and_exit(e);
}

void run_table(cell* table) {
    skip_header(table);
    int32_t passed = 0, failed = 0;
    int32_t n = block::length_of(table);
    int32_t head = (int32_t)table->data1;
    for (int32_t i = 0; i < n;) {
        cell* c = block::cell_at(table, head + i);
        if (i + 3 > n || c->type() != TYPE_BLOCK) {
            fprintf(stdout, "bad case at item %d: %s\n", i + 1, text_of(c, true).c_str());
            failed++;
            break;
        }
        cell code = *c;
        cell sign = *block::cell_at(table, head + i + 1);
        cell expected = *block::cell_at(table, head + i + 2);
        i += 3;
        collector::Root r1(code), r2(expected);
        bool want_error = is_word(&sign, "!!");
        std::string want = want_error ? text_of(&expected, false) : expected.type() == TYPE_STRING
                                                                       ? text_of(&expected, false)
                                                                       : text_of(&expected, true);
        cell* top = stack::arguments.top;
        cell* window = stack::arguments.window;
        cell* result = nullptr;
        cell* e = interpreter::catch_error([&] { result = interpreter::do_block(&code); });
        std::string got = e ? "error " + error_name(e) : "== " + text_of(result, true);
        bool ok = want_error ? (e && error_name(e) == want) : (!e && got == "== " + want);
        stack::arguments.top = top;
        stack::arguments.window = window;
        if (ok) {
            passed++;
            continue;
        }
        failed++;
        fprintf(stdout, "FAIL %s\n  expected: %s %s\n  got:      %s\n", text_of(&code, true).c_str(),
                want_error ? "error" : "==", want.c_str(), got.c_str());
    }
    fprintf(stdout, "%d passed, %d failed\n", passed, failed);
    exit_status = failed ? 1 : 0;
}

// The script's path as the library reads it. A path rooted without a drive
// (a Unix shell's, given to the Windows build under Wine) is on the current
// drive, which the language's path form has to name.
std::string script_path(const char* path) {
#ifdef _WIN32
    if ((path[0] == '/' || path[0] == '\\') && path[1] != '/' && path[1] != '\\') {
        char full[4096];
        if (_fullpath(full, path, sizeof full)) return full;
    }
#endif
    return path;
}

int usage() {
    fprintf(stderr, "usage: zol-run FILE [ARGS...] | -e TEXT | --table FILE\n");
    return 2;
}

int argc_;
char** argv_;

void run() {
    std::string text;
    if (argc_ >= 3 && !strcmp(argv_[1], "-e")) {
        run_code(load(argv_[2]));
    } else if (argc_ >= 3 && !strcmp(argv_[1], "--table")) {
        if (!read_file(argv_[2], text)) {
            fprintf(stderr, "cannot read %s\n", argv_[2]);
            exit_status = 2;
            return;
        }
        run_table(load(text));
    } else if (argc_ >= 2 && argv_[1][0] != '-') {
        if (!read_file(argv_[1], text)) {
            fprintf(stderr, "cannot read %s\n", argv_[1]);
            exit_status = 2;
            return;
        }
        std::vector<std::string> args(argv_ + 2, argv_ + argc_);
        system_object::set_script(script_path(argv_[1]), args);
        run_code(load("do/args system/options/script system/script/args"));
    } else {
        exit_status = usage();
    }
}

}  // namespace

int main(int argc, char** argv) {
    argc_ = argc;
    argv_ = argv;
    runtime::setup(argc, argv);
    runtime::top_level([] {
        runtime::init();
        runtime::start_library();
        run();
    });
    fflush(stdout);
    fflush(stderr);
    // sys::quit would show a runtime error box for a non-zero status.
    sys::free_all();
    platform::exit_process(exit_status);
}
