// pipe-child: the program the `call` tables run, built the same for both
// targets so that one table serves both. Its arguments are steps, run in
// order; every write goes out at once (nothing buffered):
//
//   out N     N bytes "o" to standard output
//   err N     N bytes "e" to standard error
//   bytes HEX the bytes spelled in hexadecimal to standard output
//   echo      standard input copied to standard output, to its end
//   count     standard input read to its end, its byte count printed
//   new FILE  FILE made empty
//   exit C    ends with status C (else 0 after the last step)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

void put(FILE* f, const std::string& bytes) {
    fwrite(bytes.data(), 1, bytes.size(), f);
    fflush(f);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    for (int i = 1; i < argc; i++) {
        std::string step = argv[i];
        const char* arg = i + 1 < argc ? argv[i + 1] : "";
        if (step == "out" || step == "err") {
            put(step == "out" ? stdout : stderr, std::string((size_t)atol(arg), step[0]));
            i++;
        } else if (step == "bytes") {
            std::string bytes;
            for (size_t k = 0; arg[k] && arg[k + 1]; k += 2) bytes += (char)strtol(std::string(arg + k, 2).c_str(), nullptr, 16);
            put(stdout, bytes);
            i++;
        } else if (step == "echo" || step == "count") {
            char chunk[65536];
            size_t n, total = 0;
            while ((n = fread(chunk, 1, sizeof chunk, stdin)) > 0) {
                total += n;
                if (step == "echo") put(stdout, std::string(chunk, n));
            }
            if (step == "count") put(stdout, std::to_string(total));
        } else if (step == "new") {
            FILE* f = fopen(arg, "wb");
            if (!f) return 2;
            fclose(f);
            i++;
        } else if (step == "exit") {
            return atoi(arg);
        } else {
            fprintf(stderr, "pipe-child: unknown step %s\n", step.c_str());
            return 2;
        }
    }
    return 0;
}
