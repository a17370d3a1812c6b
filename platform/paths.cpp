#include "platform/paths.h"

namespace platform::paths {

std::string windows_from_file(const std::string& file) {
    std::string out;
    size_t i = 0;
    if (file.size() > 1 && file[0] == '/' && file[1] != '/') {
        size_t end = file.find('/', 1);
        if (end == std::string::npos) end = file.size();
        out = file.substr(1, end - 1) + ":\\";
        i = end < file.size() ? end + 1 : end;
    }
    for (; i < file.size(); i++) out += file[i] == '/' ? '\\' : file[i];
    return out;
}

std::string file_from_windows(const std::string& local) {
    std::string out;
    size_t i = 0;
    if (local.size() >= 2 && local[1] == ':') {
        out = "/";
        out += local[0];
        i = 2;
        if (i < local.size() && local[i] != '\\' && local[i] != '/') out += '/';
    }
    for (; i < local.size(); i++) out += local[i] == '\\' ? '/' : local[i];
    return out;
}

std::string local_from_file(const std::string& file) {
#ifdef _WIN32
    return windows_from_file(file);
#else
    return file;
#endif
}

std::string file_from_local(const std::string& local) {
#ifdef _WIN32
    return file_from_windows(local);
#else
    return local;
#endif
}

}  // namespace platform::paths
