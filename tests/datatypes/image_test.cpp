// Image records and the collector: the bitmaps of an image no value reaches
// are released at the next collection, those of a reachable one are kept.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/collector.h"
#include "runtime/externals.h"
#include "tests/evaluator/eval.h"

namespace {

uint32_t image_type() {
    for (int32_t i = 0; i < externals::table.type_count; i++)
        if (strcmp(externals::table.types[i].name, "image") == 0) return (uint32_t)i + 1;
    return 0;
}

int32_t live_images() {
    static int32_t n;
    n = 0;
    externals::for_each_of_kind(image_type(), [](void*) { n++; });
    return n;
}

class ImageRecords : public EvalTest {};

TEST_F(ImageRecords, UnreachableImagesAreReleased) {
    ASSERT_NE(image_type(), 0u);
    collector::collect();
    int32_t before = live_images();
    EXPECT_EQ(run("kept: make image! [2x1 1.2.3] dropped: make image! 3x3 dropped: none 1"), "1");
    collector::collect();
    EXPECT_EQ(live_images(), before + 1);
    EXPECT_EQ(run("kept/2"), "1.2.3.0");
    EXPECT_EQ(run("kept: none 1"), "1");
    collector::collect();
    EXPECT_EQ(live_images(), before);
}

}  // namespace
