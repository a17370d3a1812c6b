#include "runtime/collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/hashtable.h"
#include "runtime/unicode.h"
#include "runtime/memory.h"
#include "runtime/memstats.h"
#include "runtime/ownership.h"

using memory::Buffer;
using memory::Node;

namespace {

// Series the test keeps through a registered marker.
std::vector<Node*> held;
void mark_held() {
    for (Node*& n : held) collector::mark_series(&n);
}

// A byte series filled with a pattern derived from `seed`.
Node* bytes(uint32_t n, uint8_t seed) {
    Node* s = memory::alloc_bytes((int32_t)n);
    Buffer* b = s->buffer;
    for (uint32_t i = 0; i < n; i++) b->head[i] = (uint8_t)(seed + i);
    b->tail = b->head + n;
    return s;
}

bool intact(Node* s, uint32_t n, uint8_t seed) {
    Buffer* b = s->buffer;
    if (b->node != s || b->used_bytes() != n) return false;
    for (uint32_t i = 0; i < n; i++)
        if (b->head[i] != (uint8_t)(seed + i)) return false;
    return true;
}

uint32_t series_frames() {
    uint32_t n = 0;
    for (memory::SeriesFrame* f = memory::record->series_first; f; f = f->next) n++;
    return n;
}
uint32_t node_frames() {
    uint32_t n = 0;
    for (memory::NodeFrame* f = memory::record->node_first; f; f = f->next) n++;
    return n;
}
memory::SeriesFrame* frame_of(const void* p) {
    for (memory::SeriesFrame* f = memory::record->series_first; f; f = f->next)
        if (p >= f->start() && p < f->end) return f;
    return nullptr;
}

class Collector : public testing::Test {
protected:
    void SetUp() override {
        held.clear();
        collector::register_marker(mark_held);
        collector::collect();
    }
    void TearDown() override {
        collector::unregister_marker(mark_held);
        held.clear();
        collector::enabled = 1;
        collector::collect();
    }
};

// The runtime's ownership table while a test puts its own in place: kept as
// the collector keeps the table (its own series only; its entries stay weak,
// and removed entries may still name dead series).
Node* set_aside = nullptr;
void mark_set_aside() {
    Node* in_use = ownership::table;
    ownership::table = set_aside;
    ownership::mark([](Node** word) { collector::mark_series(word); });
    ownership::table = in_use;
}

// Leaves the last node frame sparse (a few hundred of its 10,000 slots in
// use) and unchanged for several collections: the frame that node-frame
// evacuation would have emptied.
memory::NodeFrame* sparse_node_frame() {
    {
        collector::NoCollect setup;  // a collection per node would make this quadratic
        uint32_t frames = node_frames();
        while (node_frames() == frames) held.push_back(memory::alloc_bytes(1));
        held.erase(held.begin(), held.end() - 1);
        for (int i = 0; i < 299; i++) held.push_back(memory::alloc_bytes(1));
    }
    for (int i = 0; i < 8; i++) collector::collect();
    return memory::node_frame_of(held.front());
}

std::string molded(cell* value) {
    cell* top = stack::arguments.top;
    cell* out = string::push_new(16);
    cell v = *value;
    actions::mold_typed(&v, out, false, false, false, nullptr, datatype::NO_LIMIT, 0);
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(out, &n);
    std::string text((const char*)p, (size_t)n);
    stack::arguments.top = top;
    return text;
}

}  // namespace

// A node held only by a C++ local survives, its buffer slides over the
// garbage made before it, and the content is read again through the node.
TEST_F(Collector, RootedLocalSurvivesAndItsBufferIsReadAgain) {
    for (int i = 0; i < 50; i++) held.push_back(bytes(1000, 1));
    Node* s = bytes(300, 7);
    collector::NodeRoot hold(s);
    Buffer* before = s->buffer;
    held.clear();
    collector::collect();
    EXPECT_NE(s->buffer, before) << "the garbage below it was reclaimed";
    EXPECT_TRUE(intact(s, 300, 7));

    // A cell root keeps what the value refers to.
    cell v{TYPE_BINARY, 0, (uint32_t)(uintptr_t)bytes(64, 9), 0};
    collector::Root hold_value(v);
    for (int i = 0; i < 20; i++) bytes(500, 2);
    collector::collect();
    EXPECT_TRUE(intact((Node*)(uintptr_t)v.data2, 64, 9));
}

// Unreachable series are reclaimed: the carved bytes drop, their nodes come
// back, and a raw address rooted into a live buffer follows it.
TEST_F(Collector, UnreachableSeriesAreReclaimedAndRootedAddressesFollow) {
    for (int i = 0; i < 200; i++) held.push_back(bytes(2000, 3));
    Node* live = bytes(100, 5);
    collector::NodeRoot hold(live);
    uint8_t* inside = live->buffer->head + 10;
    collector::PointerRoot hold_inside(inside);
    double before = memstats::measure(nullptr, 1);
    held.clear();
    collector::collect();
    double after = memstats::measure(nullptr, 1);
    EXPECT_LT(after, before - 200 * 2000.0);
    EXPECT_EQ(inside, live->buffer->head + 10);
    EXPECT_EQ(*inside, (uint8_t)(5 + 10));
}

// Live buffers above a frame with room move down into it; a frame emptied
// that way is freed unless it is the last one.
TEST_F(Collector, CompactionMovesIntoLowerFramesAndFreesEmptiedOnes) {
    for (int i = 0; i < 40; i++) held.push_back(bytes(1000, (uint8_t)i));
    std::vector<memory::SeriesFrame*> was;
    for (Node* n : held) was.push_back(frame_of(n->buffer));
    std::vector<memory::SeriesFrame*> old;
    for (memory::SeriesFrame* f = memory::record->series_first; f; f = f->next) old.push_back(f);
    while (series_frames() == old.size()) held.push_back(bytes(16000, 4));  // filler until a frame is added
    for (int i = 0; i < 10; i++) held.push_back(bytes(16000, 4));             // and some in it
    memory::SeriesFrame* added = nullptr;
    for (memory::SeriesFrame* f = memory::record->series_first; f; f = f->next)
        if (std::find(old.begin(), old.end(), f) == old.end()) added = f;
    ASSERT_NE(added, nullptr);
    held.resize(40);  // the filler is garbage now
    collector::collect();
    for (size_t i = 0; i < 40; i++) {
        ASSERT_TRUE(intact(held[i], 1000, (uint8_t)i)) << i;
        // The emptied added frame lies below: it takes the live buffers.
        if (added < was[i]) {
            EXPECT_LT(frame_of(held[i]->buffer), was[i]) << i;
        }
    }
    for (memory::SeriesFrame* f = memory::record->series_first; f; f = f->next)
        if (f != memory::record->series_last) {
            EXPECT_GT(f->heap, f->start()) << "an emptied frame stays";
        }
    EXPECT_LE(series_frames(), old.size() + 1);
}

// Nodes never move: a block on the argument stack grows across many
// collections while a sparse node frame is kept; the block's node and content
// stay, and the sparse frame keeps its nodes (held only through a marker).
TEST_F(Collector, SparseNodeFramesKeepTheirNodes) {
    memory::NodeFrame* sparse = sparse_node_frame();
    ASSERT_NE(sparse, nullptr);
    cell* top = stack::arguments.top;
    cell* blk = block::push_new(1);
    Node* node = (Node*)(uintptr_t)blk->data2;
    for (int32_t i = 0; i < 3000; i++) {
        cell v{TYPE_INTEGER, 0, (uint32_t)i, 0};
        block::append_cell_copy(node, &v);
        if (i % 100 == 0) collector::collect();
    }
    EXPECT_EQ((Node*)(uintptr_t)blk->data2, node);
    EXPECT_EQ(node->buffer->node, node);
    ASSERT_EQ(block::length_of(blk), 3000);
    for (int32_t i = 0; i < 3000; i++) EXPECT_EQ(block::cells_of(node)[i].data2, (uint32_t)i) << i;
    EXPECT_EQ(memory::node_frame_of(held.front()), sparse);
    for (Node* n : held) EXPECT_EQ(n->buffer->node, n);
    stack::arguments.top = top;
}

// Molding a nested block keeps the inner block's node and a copy of its cell
// while the output grows past the big-buffer size, which collects at each
// growth.
TEST_F(Collector, MoldOfNestedBlocksAcrossCollections) {
    sparse_node_frame();
    cell* top = stack::arguments.top;
    cell* outer = block::push_new(4);
    Node* outer_node = (Node*)(uintptr_t)outer->data2;
    std::string chunk(300000, 'x');
    std::string expected = "[";
    for (int i = 0; i < 4; i++) {
        cell* inner = block::make_in(outer_node, 2);
        Node* inner_node = (Node*)(uintptr_t)inner->data2;
        if (i) expected += " ";
        expected += "[";
        for (int j = 0; j < 2; j++) {
            cell* s = string::load(chunk.data(), (int32_t)chunk.size(), nullptr, 0);
            block::append_cell_copy(inner_node, s);
            stack::arguments.top--;
            expected += (j ? " {" : "{") + chunk + "}";  // long strings mold in braces
        }
        expected += "]";
    }
    expected += "]";
    uint32_t cycles = collector::cycle_count;
    EXPECT_TRUE(molded(outer) == expected);
    EXPECT_GT(collector::cycle_count, cycles) << "the output's growth collected";
    stack::arguments.top = top;
}

// The ownership table is weak: an entry lives only while its series and owner
// are reachable otherwise, and what a surviving entry holds is kept alive.
TEST_F(Collector, OwnershipEntriesAreWeak) {
    Node* table = hashtable::init(8, nullptr, hashtable::KIND_OWNERSHIP, 3);
    set_aside = ownership::table;
    collector::register_marker(mark_set_aside);
    ownership::table = table;
    held.push_back(bytes(8, 1));
    {
        Node* dead = bytes(8, 2);
        collector::NodeRoot hold_dead(dead);
        Node* only_in_entry = bytes(8, 3);
        collector::NodeRoot hold_only(only_in_entry);
        hashtable::put_int(ownership::table, (uint32_t)(uintptr_t)dead);
        cell* e = hashtable::put_int(ownership::table, (uint32_t)(uintptr_t)held[0]);
        e[0] = {TYPE_BINARY, 0, (uint32_t)(uintptr_t)only_in_entry, 0};  // the owned value's place
    }
    collector::collect();
    table = ownership::table;
    EXPECT_EQ(hashtable::record(table)->count, 1);
    cell* kept = hashtable::get_int(table, (uint32_t)(uintptr_t)held[0]);
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(intact((Node*)(uintptr_t)kept[0].data2, 8, 3));
    held.clear();
    collector::collect();
    EXPECT_EQ(hashtable::record(ownership::table)->count, 0);
    ownership::table = set_aside;
    collector::unregister_marker(mark_set_aside);
}

// The enable flag stops automatic collections only; a no-collect scope stops both.
TEST_F(Collector, EnableFlagAndNoCollectScope) {
    uint32_t cycles = collector::cycle_count;
    collector::enabled = 0;
    collector::collect_if_enabled();
    EXPECT_EQ(collector::cycle_count, cycles);
    collector::collect();
    EXPECT_EQ(collector::cycle_count, cycles + 1);
    collector::enabled = 1;
    {
        collector::NoCollect guard;
        collector::collect();
        collector::collect_if_enabled();
        EXPECT_EQ(collector::cycle_count, cycles + 1);
    }
    collector::collect_if_enabled();
    EXPECT_EQ(collector::cycle_count, cycles + 2);
}

// Memory statistics: the detail block lists every frame and both totals.
TEST_F(Collector, MemoryStatisticsDetail) {
    Node* out = memory::alloc_cells(8);
    collector::NodeRoot hold(out);
    cell target{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)out, 0};
    EXPECT_EQ(memstats::measure(&target, 2), 0.0);
    auto* items = (cell*)out->buffer->head;
    ASSERT_EQ(out->buffer->used_bytes(), 5 * sizeof(cell));
    auto block_length = [](cell* c) { return ((Node*)(uintptr_t)c->data2)->buffer->used_bytes() / sizeof(cell); };
    EXPECT_EQ(block_length(&items[0]), node_frames());
    EXPECT_EQ(block_length(&items[1]), series_frames());
    auto* first = (cell*)((Node*)(uintptr_t)items[0].data2)->buffer->head;
    EXPECT_TRUE(cell::has_new_line(first));
    auto* triple = (cell*)((Node*)(uintptr_t)first->data2)->buffer->head;
    memory::NodeFrame* f = memory::record->node_first;
    // Taken before the detail's own later blocks took their nodes.
    EXPECT_EQ(triple[0].data2 + triple[1].data2, f->slot_count);
    EXPECT_LE(triple[1].data2, f->used);
    EXPECT_EQ(triple[2].data2, f->slot_count);
    EXPECT_EQ(items[3].type(), TYPE_INTEGER);
    EXPECT_EQ((double)items[4].data2, memstats::tracked_total());
    EXPECT_GT(items[3].data2, items[4].data2);
}
