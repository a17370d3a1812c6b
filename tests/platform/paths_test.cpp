// The language's file paths against Windows paths, both ways.
#include "platform/paths.h"

#include <gtest/gtest.h>

namespace {

using namespace platform::paths;

TEST(Paths, WindowsFromFile) {
    struct {
        const char* file;
        const char* windows;
    } cases[] = {
        {"/c/dir/file.txt", "c:\\dir\\file.txt"},
        {"/c/dir/", "c:\\dir\\"},
        {"/c", "c:\\"},
        {"/c/", "c:\\"},
        {"dir/sub/", "dir\\sub\\"},
        {"file", "file"},
        {"", ""},
    };
    for (auto& c : cases) EXPECT_EQ(windows_from_file(c.file), c.windows) << c.file;
}

TEST(Paths, FileFromWindows) {
    struct {
        const char* windows;
        const char* file;
    } cases[] = {
        {"C:\\Users\\me", "/C/Users/me"},
        {"C:\\", "/C/"},
        {"C:", "/C"},
        {"D:dir", "/D/dir"},
        {"\\\\host\\share\\x", "//host/share/x"},
        {"dir\\sub", "dir/sub"},
    };
    for (auto& c : cases) EXPECT_EQ(file_from_windows(c.windows), c.file) << c.windows;
}

}  // namespace
