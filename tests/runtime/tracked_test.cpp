#include <gtest/gtest.h>

#include <vector>

#include "runtime/sys.h"
#include "runtime/tracked.h"

using namespace sys;

namespace {
// Blocks on the list after `from`, in list order, checking the back links.
std::vector<void*> blocks_after(TrackedHeader* from) {
    std::vector<void*> out;
    TrackedHeader* prev = from;
    for (TrackedHeader* b = from ? from->next : tracked_list.head; b; prev = b, b = b->next) {
        EXPECT_EQ(b->prev, prev);
        out.push_back(b + 1);
    }
    EXPECT_EQ(tracked_list.tail, prev);
    return out;
}
}  // namespace

TEST(Tracked, ResizeKeepsPlaceAndFreeUnlinksAnywhere) {
    TrackedHeader* base = tracked_list.tail;
    void* a = allocate(10);
    void* b = allocate(20);
    void* c = allocate(30);
    memset(b, 7, 20);
    void* b2 = resize(b, 5000);
    EXPECT_EQ(((unsigned char*)b2)[19], 7) << "contents kept";
    EXPECT_EQ(blocks_after(base), (std::vector<void*>{a, b2, c}));
    void* c2 = resize(c, 100000);  // the tail
    EXPECT_EQ(blocks_after(base), (std::vector<void*>{a, b2, c2}));
    sys::free(b2);  // middle
    EXPECT_EQ(blocks_after(base), (std::vector<void*>{a, c2}));
    sys::free(c2);  // tail
    EXPECT_EQ(blocks_after(base), (std::vector<void*>{a}));
    int not_ours[8];
    sys::free(not_ours + 4);  // ignored
    sys::free(a);
    EXPECT_EQ(blocks_after(base), (std::vector<void*>{}));
}

TEST(Tracked, ResizeEdgesAndZeroing) {
    void* p = resize(nullptr, 64);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(resize(p, 0), nullptr);
    auto* z = (unsigned char*)allocate_zeroed(333);
    for (int i = 0; i < 333; i++) ASSERT_EQ(z[i], 0);
    sys::free(z);
}

TEST(Tracked, FreeAllEmptiesTheList) {
    // Keep the runtime's own blocks: move them aside, then put them back.
    TrackedList saved = tracked_list;
    tracked_list = {nullptr, nullptr};
    allocate(1);
    allocate(2);
    free_all();
    EXPECT_EQ(tracked_list.head, nullptr);
    EXPECT_EQ(tracked_list.tail, nullptr);
    void* p = allocate(3);
    EXPECT_EQ(tracked_list.head, (TrackedHeader*)p - 1);
    EXPECT_EQ(tracked_list.tail, (TrackedHeader*)p - 1);
    sys::free(p);
    tracked_list = saved;
}

TEST(Tracked, Rounding) {
    EXPECT_EQ(round_up(17, 16), 32u);
    EXPECT_EQ(round_up(32, 16), 32u);
    EXPECT_EQ(next_multiple(32, 16), 48u);
    EXPECT_EQ(size_mul(1000, 16), 16000u);
    EXPECT_EQ(size_add(0xFFFFFFF0u, 15), 0xFFFFFFFFu);
}
