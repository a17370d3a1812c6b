// The file layer where a table of Zol cases cannot reach: a file beyond 4 GB
// (Zol's seek positions stop at 2 GB) and a device that refuses writes.
#include <gtest/gtest.h>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/none.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/simpleio.h"
#include "tests/datatypes/value_test.h"

namespace {

class FileLayerTest : public ValueTest {
protected:
    cell* file(const char* name) {
        cell* f = stack::push_cell();
        return file::load_into(f, name, (int32_t)strlen(name));
    }
};

TEST_F(FileLayerTest, FileOfFourGigabytesIsRefusedNotTruncated) {
    namespace files = platform::files;
    const char* name = "files-test-big.bin";
    const uint64_t size = (1ull << 32) + 10;  // sparse: one byte written at its end
    files::Handle h = files::open(name, files::WRITE);
    ASSERT_NE(h, files::NO_HANDLE);
    ASSERT_TRUE(files::seek(h, size - 1));
    ASSERT_EQ(files::write(h, "x", 1), 1);
    files::close(h);

    cell* f = file(name);
    cell* result = stack::push_cell();
    EXPECT_EQ(raised([&] { simpleio::read(f, absent(), absent(), true, false, result); }),
              "access/cannot-open");
    EXPECT_EQ(raised([&] { simpleio::read(f, absent(), absent(), false, false, result); }),
              "access/cannot-open");
    // A part of it still reads, from a position beyond 4 GB too.
    cell* part = push(integer(3));
    simpleio::read(f, part, absent(), true, false, result);
    EXPECT_EQ(result->type(), TYPE_BINARY);
    EXPECT_EQ(binary::rs_length(result), 3);
    int64_t n = 0;
    EXPECT_TRUE(platform::file_size(name, n));
    EXPECT_EQ((uint64_t)n, size);
    EXPECT_TRUE(simpleio::remove(f));
}

#ifndef _WIN32
TEST_F(FileLayerTest, WriteThatFailsRaises) {
    // /dev/full opens but refuses every byte.
    cell* f = file("/dev/full");
    cell* data = text("some text");
    EXPECT_EQ(raised([&] { simpleio::write(f, data, absent(), absent(), false, false, false); }),
              "access/cannot-open");
}
#endif

}  // namespace
