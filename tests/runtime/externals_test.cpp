#include "runtime/externals.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/tracked.h"

using namespace externals;

namespace {

std::vector<void*> released;
void note_release(void* p) { released.push_back(p); }

void* ptr(uintptr_t n) { return (void*)(n * 16); }

// A fresh table for each test, the runtime's own put back afterwards.
class Handles : public testing::Test {
protected:
    Table saved;
    int32_t kind = 0;
    void SetUp() override {
        saved = table;
        init();
        kind = register_type("thing", note_release);
        released.clear();
    }
    void TearDown() override {
        sys::free(table.entries);
        sys::free(table.types);
        table = saved;
    }
    std::vector<int32_t> used_list() {
        std::vector<int32_t> out;
        for (int32_t i = table.used_head; i != -1; i = table.entries[i].next) out.push_back(i);
        return out;
    }
};

}  // namespace

TEST_F(Handles, TheThousandthStoreDoublesTheTableFirst) {
    for (int i = 0; i < 999; i++) ASSERT_EQ(store(ptr(i + 1), kind), i);
    EXPECT_EQ(table.capacity, 1000);
    EXPECT_EQ(store(ptr(1000), kind), 999);
    EXPECT_EQ(table.capacity, 2000);
    EXPECT_EQ(table.free_head, 1000);
    EXPECT_EQ(table.entries[1999].next, -1);
    EXPECT_EQ(table.entries[1000].type, ENTRY_FREE);
    EXPECT_EQ(table.entries[500].pointer, ptr(501)) << "entries kept";
    EXPECT_EQ(used_list().size(), 1000u);
    EXPECT_EQ(used_list().front(), 999) << "newest first";
}

TEST_F(Handles, ReleaseGoesThroughTheTypeCallback) {
    int32_t quiet = register_type("quiet", nullptr);
    release(0, ptr(1));           // type 0: nothing
    release(quiet, ptr(2));       // no callback
    release(kind + 5, ptr(3));    // not registered
    release(0x1234FF00u | (uint32_t)kind, ptr(4));  // only the low byte counts
    EXPECT_EQ(released, (std::vector<void*>{ptr(4)}));
}

TEST_F(Handles, ReplaceReleasesOnlyADifferentPointer) {
    int32_t i = store(ptr(1), kind);
    replace(i, ptr(1));
    EXPECT_TRUE(released.empty());
    replace(i, ptr(2));
    EXPECT_EQ(released, (std::vector<void*>{ptr(1)}));
    EXPECT_EQ(table.entries[i].pointer, ptr(2));
}

TEST_F(Handles, RemoveUnlinksFromAnywhereAndReusesTheEntry) {
    int32_t a = store(ptr(1), kind), b = store(ptr(2), kind), c = store(ptr(3), kind);
    EXPECT_EQ(remove(b, true), -1);
    EXPECT_EQ(released, (std::vector<void*>{ptr(2)}));
    EXPECT_EQ(used_list(), (std::vector<int32_t>{c, a}));
    EXPECT_EQ(table.entries[b].type, ENTRY_FREE);
    EXPECT_EQ(table.entries[b].pointer, nullptr);
    EXPECT_EQ(store(ptr(4), kind), b) << "last freed, first reused";
    remove(a, false);
    EXPECT_EQ(released.size(), 1u);
    EXPECT_EQ(used_list(), (std::vector<int32_t>{b, c}));
}

TEST_F(Handles, MarkAndSweep) {
    int32_t a = store(ptr(1), kind), b = store(ptr(2), kind), c = store(ptr(3), kind);
    EXPECT_EQ(mark(a, nullptr), 1);
    EXPECT_EQ(mark(a, nullptr), 0);
    EXPECT_EQ(mark(c, ptr(9)), 1);
    EXPECT_EQ(table.entries[c].pointer, ptr(9)) << "a non-zero pointer replaces, without release";
    sweep();
    EXPECT_EQ(released, (std::vector<void*>{ptr(2)}));
    EXPECT_EQ(used_list(), (std::vector<int32_t>{c, a}));
    EXPECT_EQ(table.free_head, b);
    EXPECT_EQ(table.entries[a].type, (uint32_t)kind) << "mark cleared";
    sweep();  // nothing marked now: everything goes
    EXPECT_EQ(released, (std::vector<void*>{ptr(2), ptr(9), ptr(1)}));
    EXPECT_EQ(table.used_head, -1);
}

TEST_F(Handles, IndexesFromValuesAreCheckedBeforeUse) {
    int32_t a = store(ptr(1), kind);
    int32_t gone = store(ptr(2), kind);
    remove(gone, false);
    for (int32_t bad : {-1, -100000, table.capacity, 0x7FFFFFFF, gone}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(mark(bad, ptr(7)), 0);
        replace(bad, ptr(8));
        EXPECT_EQ(remove(bad, true), -1);
    }
    EXPECT_TRUE(released.empty());
    EXPECT_EQ(table.entries[gone].type, ENTRY_FREE);
    EXPECT_EQ(table.entries[gone].pointer, nullptr);
    EXPECT_EQ(table.free_head, gone) << "the free list is untouched";
    EXPECT_EQ(used_list(), (std::vector<int32_t>{a}));
}

TEST_F(Handles, ForEachOfKindAndTheTypeLimit) {
    int32_t other = register_type("other", nullptr);
    store(ptr(1), kind);
    store(ptr(2), other);
    store(ptr(3), kind);
    released.clear();
    for_each_of_kind(kind, note_release);
    EXPECT_EQ(released, (std::vector<void*>{ptr(3), ptr(1)}));
    while (table.type_count < MAX_TYPES) register_type("more", nullptr);
    EXPECT_EQ(register_type("one too many", nullptr), 0);
}
