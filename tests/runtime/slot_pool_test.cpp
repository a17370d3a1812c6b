#include "runtime/slot_pool.h"

#include <gtest/gtest.h>

#include <cstring>

#include "runtime/collector.h"

using namespace slot_pool;

namespace {

struct Cell { uint32_t w[4]; };

Cell integer(int32_t v) { return Cell{{11, 0, (uint32_t)v, 0}}; }

Cell at(int32_t n) {
    Cell c;
    memcpy(&c, cell_at(n), 16);
    return c;
}

// A fresh pool for each test, the runtime's own put back afterwards.
class Slots : public testing::Test {
protected:
    Pool saved;
    cell saved_block{};  // the runtime's pool block, rooted while set aside
    collector::Root hold{saved_block};
    void SetUp() override {
        saved = pool;
        memcpy(&saved_block, saved.block, sizeof saved_block);
        init();
    }
    void TearDown() override { pool = saved; }
};

}  // namespace

TEST_F(Slots, StartsWithAHundredFreeCells) {
    EXPECT_EQ(pool.block[0], 5u) << "a block! cell";
    EXPECT_EQ(pool.capacity, 100);
    EXPECT_EQ(pool.free_head, 0);
    memory::Buffer* b = node()->buffer;
    EXPECT_EQ(b->used_bytes(), 100u * 16) << "every cell is content";
    EXPECT_EQ(at(1).w[2], 1u);
    EXPECT_EQ((int32_t)at(100).w[2], -1);
}

TEST_F(Slots, TheHundredAndFirstAllocationGrowsThePool) {
    for (int32_t i = 1; i <= 100; i++) {
        Cell v = integer(i * 10);
        ASSERT_EQ(alloc(&v), i);
    }
    Cell v = integer(1010);
    EXPECT_EQ(alloc(&v), 101);
    EXPECT_EQ(pool.capacity, 200);
    EXPECT_EQ(node()->buffer->used_bytes(), 200u * 16);
    EXPECT_EQ(at(37).w[2], 370u) << "content kept";
    EXPECT_EQ(at(101).w[2], 1010u);
    EXPECT_EQ(pool.free_head, 101);
}

TEST_F(Slots, LastFreedIsFirstReused) {
    Cell v = integer(1);
    for (int i = 0; i < 10; i++) alloc(&v);
    free(5);
    free(0);  // ignored
    EXPECT_EQ(alloc(&v), 5);
    EXPECT_EQ(alloc(&v), 11);
}

TEST_F(Slots, AValueInsideThePoolSurvivesTheGrowth) {
    Cell first = integer(42);
    alloc(&first);
    for (int i = 2; i <= 100; i++) alloc(&first);
    // The pool is full: storing its own cell moves the buffer under the value.
    EXPECT_EQ(alloc(cell_at(1)), 101);
    EXPECT_EQ(at(101).w[2], 42u);
}

TEST_F(Slots, NumbersOutsideThePoolAreIgnored) {
    int32_t head = pool.free_head;
    for (int32_t bad : {-1, 101, 0x7FFFFFFF}) {
        free(bad);
        EXPECT_EQ(cell_at(bad), nullptr);
    }
    EXPECT_EQ(pool.free_head, head);
}
