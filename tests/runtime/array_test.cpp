#include "runtime/array.h"

#include <gtest/gtest.h>

#include "runtime/collector.h"

#include <vector>

using namespace array;

namespace {
std::vector<int32_t> ints(Node* a) {
    std::vector<int32_t> out;
    for (int32_t i = 1; i <= length(a); i++) out.push_back(pick_int(a, i));
    return out;
}
Node* of(std::initializer_list<int32_t> values) {
    Node* a = make(static_cast<int32_t>(values.size()), 4);
    collector::NodeRoot a_root(a);
    for (int32_t v : values) append_int(a, v);
    return a;
}
}  // namespace

TEST(Array, MakeSetsTheUnitAndLengthCountsUnits) {
    struct Case { int32_t count; uint32_t unit; uint32_t capacity; };
    const Case cases[] = {{0, 4, 16}, {3, 4, 16}, {5, 4, 32}, {3, 8, 32}, {2, 16, 32}, {7, 1, 16}};
    for (const Case& c : cases) {
        Node* a = make(c.count, c.unit);
        collector::NodeRoot a_root(a);
        EXPECT_EQ(flags(a) & memory::FLAG_UNIT_MASK, c.unit);
        EXPECT_EQ(a->buffer->capacity, c.capacity);
        EXPECT_EQ(length(a), 0);
    }
    Node* a = make(4, 4);
    collector::NodeRoot a_root(a);
    a->buffer->tail += 12;
    EXPECT_EQ(length(a), 3);
}

TEST(Array, AppendsGrowTheBufferAndKeepTheContent) {
    Node* a = make(1, 4);
    collector::NodeRoot a_root(a);
    for (int32_t i = 0; i < 1000; i++) append_int(a, i * 3);
    ASSERT_EQ(length(a), 1000);
    for (int32_t i = 1; i <= 1000; i++) ASSERT_EQ(pick_int(a, i), (i - 1) * 3);

    Node* bytes = make(0, 1);
    collector::NodeRoot bytes_root(bytes);
    uint8_t chunk[100];
    for (int i = 0; i < 100; i++) chunk[i] = (uint8_t)i;
    append_byte(bytes, 7);
    append_bytes(bytes, chunk, 100);  // more than the capacity at once
    ASSERT_EQ(length(bytes), 101);
    EXPECT_EQ(pick_byte(bytes, 1), 7);
    EXPECT_EQ(pick_byte(bytes, 101), 99);

    int x, y;
    Node* ptrs = make(0, 4);
    collector::NodeRoot ptrs_root(ptrs);
    append_ptr(ptrs, &x);
    append_ptr(ptrs, &y);
    EXPECT_EQ(pick_ptr(ptrs, 2), &y);
}

TEST(Array, InsertFindAndRemove) {
    Node* a = of({1, 2});
    collector::NodeRoot a_root(a);
    insert_int(a, 9, 0);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{9, 1, 2}));
    insert_int(a, 8, 3);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{9, 1, 2, 8}));
    for (int i = 0; i < 20; i++) insert_int(a, 100 + i, 2);  // grows while inserting
    EXPECT_EQ(length(a), 24);
    EXPECT_EQ(pick_int(a, 3), 119);
    EXPECT_EQ(pick_int(a, 24), 8);

    Node* b = of({5, 6, 7});
    collector::NodeRoot b_root(b);
    EXPECT_EQ(find_int(b, 7), 8);
    EXPECT_EQ(find_int(b, 4), -1);
    EXPECT_EQ(find_int(make(0, 4), 0), -1);
    poke_int(b, 2, 60);
    remove_at(b, 0, 4);
    EXPECT_EQ(ints(b), (std::vector<int32_t>{60, 7}));

    int x, y, z;
    Node* p = make(0, 4);
    collector::NodeRoot p_root(p);
    append_ptr(p, &x);
    append_ptr(p, &y);
    EXPECT_EQ(remove_ptr(p, &z), -1);
    EXPECT_EQ(length(p), 2);
    EXPECT_EQ(remove_ptr(p, &x), 0);
    EXPECT_EQ(pick_ptr(p, 1), &y);
}

TEST(Array, CutAtClearAndCopy) {
    Node* a = of({1, 2, 3, 4});
    collector::NodeRoot a_root(a);
    cut_at(a, 3);
    EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2}));
    cut_at(a, 10);  // never lengthens
    EXPECT_EQ(length(a), 2);
    Node* c = copy(a);
    collector::NodeRoot c_root(c);
    clear(a);
    EXPECT_EQ(length(a), 0);
    EXPECT_EQ(ints(c), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(flags(c) & memory::FLAG_UNIT_MASK, 4u);
}
