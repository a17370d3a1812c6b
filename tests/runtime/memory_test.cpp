#include "runtime/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

using namespace memory;

namespace {

// Calls of the collector hook that a ZOL_GC_STRESS build adds to every series
// allocation.
#ifdef ZOL_GC_STRESS
constexpr int STRESS_CALLS = 1;
#else
constexpr int STRESS_CALLS = 0;
#endif

// A page source that hands out fixed slots of one reserved region in a
// scripted order, and refuses on request.
struct ScriptedPages {
    static constexpr uint32_t SLOT = 0x240000;
    static constexpr int SLOTS = 6;
    static uint8_t* region;
    static std::vector<int> order;
    static size_t next;
    static bool refuse, refuse_release;
    static std::vector<void*> released;

    static void reset(std::vector<int> o) {
        if (!region) region = (uint8_t*)platform::allocate_virtual(SLOT * SLOTS, false);
        order = std::move(o);
        next = 0;
        refuse = refuse_release = false;
        released.clear();
    }
    static void* allocate(uint32_t size, bool) {
        if (refuse || size > SLOT || next >= order.size()) sys::throw_code(sys::THROW_PAGE_ALLOC);
        uint8_t* p = region + (uint32_t)order[next++] * SLOT;
        memset(p, 0, size);
        return p;
    }
    static void release(void* p, uint32_t) {
        if (refuse_release) sys::throw_code(sys::THROW_PAGE_RELEASE);
        released.push_back(p);
    }
    static uint8_t* slot(int i) { return region + (uint32_t)i * SLOT; }
};
uint8_t* ScriptedPages::region = nullptr;
std::vector<int> ScriptedPages::order;
size_t ScriptedPages::next = 0;
bool ScriptedPages::refuse = false, ScriptedPages::refuse_release = false;
std::vector<void*> ScriptedPages::released;

int collects = 0;
std::function<void()> on_collect;

// A heap of its own for each test: a fresh record (no frames yet), the
// system's pages unless a test scripts them, and a collector hook that counts.
class Heap : public testing::Test {
protected:
    Record mine;
    Record* saved_record;
    PageSource saved_pages;
    void (*saved_hook)();
#ifdef ZOL_GC_STRESS
    uint32_t saved_period = 0;
#endif

    void SetUp() override {
#ifdef ZOL_GC_STRESS
        saved_period = stress_period;
        stress_period = 1;  // the counts below expect one stress call per allocation
#endif
        saved_record = record;
        saved_pages = pages;
        saved_hook = collect_hook;
        init_record(mine);
        record = &mine;
        collects = 0;
        on_collect = nullptr;
        collect_hook = [] {
            collects++;
            if (on_collect) on_collect();
        };
    }
    void TearDown() override {
        ScriptedPages::refuse = ScriptedPages::refuse_release = false;
        free_all_frames();
        EXPECT_EQ(mine.total, 0u) << "every page given back";
        record = saved_record;
        pages = saved_pages;
        collect_hook = saved_hook;
#ifdef ZOL_GC_STRESS
        stress_period = saved_period;
#endif
    }
    void script_pages(std::vector<int> order) {
        ScriptedPages::reset(std::move(order));
        pages = PageSource{ScriptedPages::allocate, ScriptedPages::release};
    }
    std::vector<SeriesFrame*> series_frames() {
        std::vector<SeriesFrame*> out;
        SeriesFrame* prev = nullptr;
        for (SeriesFrame* f = record->series_first; f; prev = f, f = f->next) {
            EXPECT_EQ(f->prev, prev);
            out.push_back(f);
        }
        EXPECT_EQ(record->series_last, prev);
        return out;
    }
    std::vector<NodeFrame*> node_frames() {
        std::vector<NodeFrame*> out;
        for (NodeFrame* f = record->node_first; f; f = f->next) out.push_back(f);
        return out;
    }
    int big_frames() {
        int n = 0;
        for (BigFrame* f = record->big_first; f; f = f->next) n++;
        return n;
    }
};

// The internal error a call raised, or 0 when it returned normally.
Internal raised(const std::function<void()>& body) {
    last_internal = Internal(0);
    uint32_t code = sys::catch_level(sys::THROW_ERROR, body);
    if (!code) return Internal(0);
    EXPECT_EQ(code, sys::THROW_ERROR);
    EXPECT_EQ(sys::runtime.last_throw, sys::THROW_ERROR);
    sys::clear_throw();
    return last_internal;
}

}  // namespace

TEST_F(Heap, PagesRoundUpWithTheirSizeWordAndKeepTheTotal) {
    struct Case { uint32_t size, rounded; };
    const Case cases[] = {{0, 4096}, {1, 4096}, {4092, 4096}, {4093, 8192}, {40036, 40960}};
    for (const Case& c : cases) {
        void* p = allocate_pages(c.size, false);
        EXPECT_EQ(((uint32_t*)p)[-1], c.rounded) << c.size;
        EXPECT_EQ((uintptr_t)p % PAGE_SIZE, 4u) << "page start plus the size word";
        EXPECT_EQ(record->total, c.rounded) << c.size;
        free_pages(p);
        EXPECT_EQ(record->total, 0u) << c.size;
    }
}

TEST_F(Heap, BuffersGetRoundedCapacitiesAndTheirFrames) {
    alloc_series_frame();  // the 1 MB first frame
    alloc_series_frame();  // a 2 MB frame, for the largest carved buffer
    struct Case {
        int32_t count;
        uint32_t unit;
        int32_t offset;
        uint32_t capacity;
        uint32_t head;  // offset of head and tail from the data start
        bool big, centred;
    };
    const Case cases[] = {
        {0, 1, 0, 0, 0, false, false},          // still takes 24 bytes of frame
        {1, 1, 0, 16, 0, false, false},
        {16, 1, 0, 16, 0, false, false},
        {17, 1, 0, 32, 0, false, false},
        {5, 2, 0, 16, 0, false, false},
        {3, 16, 0, 48, 0, false, false},
        {3, 8, 16, 32, 16, false, false},
        {10, 1, -1, 16, 8, false, true},
        {9, 4, -1, 48, 24, false, true},
        {2097120, 1, 0, 2097120, 0, false, false},  // the largest carved buffer
        {2097121, 1, 0, 2097136, 0, true, false},   // rounds up to the threshold
        {131071, 16, 0, 2097136, 0, true, false},
        {3000000, 1, 0, 3000000, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit << " @" << c.offset);
        uint8_t* heap_before = record->series_active->heap;
        SeriesFrame* active_before = record->series_active;
        int bigs_before = big_frames();
        int collects_before = collects;
        Buffer* b = alloc_series_buffer(c.count, c.unit, c.offset);
        EXPECT_EQ(b->capacity, c.capacity);
        EXPECT_EQ(b->head, b->data() + c.head);
        EXPECT_EQ(b->tail, b->head);
        EXPECT_EQ(b->node, nullptr);
        uint32_t flags = c.unit | FLAG_USED | FLAG_MADE | (c.big ? (uint32_t)FLAG_BIG : 0u) |
                         (c.centred ? (uint32_t)FLAG_CENTRED : 0u);
        EXPECT_EQ(b->flags, flags);
        if (c.big) {
            EXPECT_EQ(big_frames(), bigs_before + 1);
            EXPECT_EQ(collects, collects_before + 1 + STRESS_CALLS) << "collect before every big buffer";
            EXPECT_EQ(active_before->heap, heap_before) << "no frame space taken";
        } else {
            EXPECT_EQ(big_frames(), bigs_before);
            EXPECT_EQ(record->series_active->heap - (uint8_t*)b, (ptrdiff_t)(c.capacity + 24));
            if (record->series_active == active_before) {
                EXPECT_EQ((uint8_t*)b, heap_before);
            }
        }
    }
    EXPECT_EQ(series_frames().size(), 2u) << "every carved buffer found room";
}

TEST_F(Heap, SeriesFramesGrowFromOneToTwoMegabytes) {
    // Steps: bytes asked -> series frames afterwards, their heap sizes, and the
    // collections it took.
    struct Step { int32_t bytes; std::vector<uint32_t> sizes; int collects; };
    const Step steps[] = {
        {100, {0x100000}, 1},                      // no frame yet: collect, then make the 1 MB one
        {600000, {0x100000}, 1},
        {600000, {0x100000, 0x200000}, 2},         // no room anywhere: collect, then a 2 MB frame
        {100, {0x100000, 0x200000}, 2},            // carved from the new active frame
        {400000, {0x100000, 0x200000}, 2},         // the active frame is tried first
    };
    int step = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(step++);
        alloc_bytes(s.bytes);
        std::vector<uint32_t> sizes;
        for (SeriesFrame* f : series_frames()) sizes.push_back(f->size - 20);
        std::sort(sizes.begin(), sizes.end());
        EXPECT_EQ(sizes, s.sizes);
        EXPECT_EQ(collects, s.collects + step * STRESS_CALLS);
        EXPECT_EQ(record->next_size, SERIES_MAX_SIZE);
    }
}

TEST_F(Heap, FirstFrameTakesTheMaximumWhenTheRequestIsLarger) {
    alloc_bytes(1500000);
    auto frames = series_frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->size, SERIES_MAX_SIZE + 20);
}

TEST_F(Heap, AFrameWithLittleRoomAfterCollectingIsNotReused) {
    // The collector (simulated) leaves `room` free bytes in the only frame;
    // a request of 1,024 frame bytes that found no room before collecting.
    struct Case { uint32_t room; bool new_frame; };
    const Case cases[] = {{60000, false}, {REUSE_MIN_FREE, false}, {REUSE_MIN_FREE - 1, true}, {2000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        free_all_frames();
        init_record(mine);
        SeriesFrame* only = alloc_series_frame();
        only->heap = only->end - 100;  // full
        // (A stress build's extra call comes first and must not make room.)
        on_collect = [&] {
            if (collects == 1 + STRESS_CALLS) only->heap = only->end - c.room;
        };
        collects = 0;
        Buffer* b = alloc_series_buffer(1000, 1, 0);
        EXPECT_EQ(collects, 1 + STRESS_CALLS);
        EXPECT_EQ(series_frames().size(), c.new_frame ? 2u : 1u);
        bool in_only = (uint8_t*)b >= only->start() && (uint8_t*)b < only->end;
        EXPECT_EQ(in_only, !c.new_frame);
        EXPECT_EQ(record->series_active == only, !c.new_frame);
        on_collect = nullptr;
    }
}

TEST_F(Heap, SeriesFramesStayInAddressOrder) {
    script_pages({3, 1, 4, 0, 2});
    for (int i = 0; i < 5; i++) alloc_series_frame();
    auto frames = series_frames();
    ASSERT_EQ(frames.size(), 5u);
    for (int i = 0; i < 5; i++) EXPECT_EQ((uint8_t*)frames[i], ScriptedPages::slot(i) + 4) << i;
    EXPECT_EQ(record->series_active, frames[3]) << "the first frame made stays active";

    // Freeing keeps the order and moves the active frame off the freed one.
    free_series_frame(frames[3]);
    free_series_frame(frames[0]);
    frames = series_frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ((uint8_t*)frames[0], ScriptedPages::slot(1) + 4);
    EXPECT_EQ(record->series_active, frames[0]);
}

TEST_F(Heap, RefusedPagesRaiseNoMemoryAndLeaveTheHeapAsItWas) {
    script_pages({0, 1, 2});
    alloc_series_frame();
    SeriesFrame* first = record->series_first;
    first->heap = first->end - 100;
    uint32_t total = record->total;
    ScriptedPages::refuse = true;
    const std::function<void()> calls[] = {
        [] { alloc_series_frame(); },
        [] { alloc_node_frame(10); },
        [] { alloc_bytes(1000); },     // no room: a new frame is refused
        [] { alloc_bytes(3000000); },  // a big frame is refused
        [] { allocate_pages(10, false); },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(raised(call), Internal::no_memory);
        EXPECT_EQ(record->total, total);
        EXPECT_EQ(series_frames().size(), 1u);
        EXPECT_EQ(record->node_first, nullptr);
        EXPECT_EQ(record->big_first, nullptr);
        EXPECT_EQ(first->heap, first->end - 100);
    }
}

TEST_F(Heap, RefusedReleaseRaisesWrongMem) {
    script_pages({0, 1});
    alloc_series_frame();
    SeriesFrame* second = alloc_series_frame();
    uint32_t total = record->total;
    ScriptedPages::refuse_release = true;
    EXPECT_EQ(raised([&] { free_series_frame(second); }), Internal::wrong_mem);
    EXPECT_EQ(record->total, total) << "the pages are still held";
    EXPECT_EQ(series_frames().size(), 1u) << "the list stays consistent";
    ScriptedPages::refuse_release = false;
    free_pages(second);  // give the leaked pages back for the total's sake
}

TEST_F(Heap, OversizedRequestsRaiseNoMemoryInsteadOfWrapping) {
    alloc_series_frame();
    Node* n = alloc_bytes(64);
    uint8_t* heap = record->series_active->heap;
    uint32_t total = record->total;
    const std::function<void()> calls[] = {
        [] { alloc_series(-1, 1, 0); },
        [] { alloc_series(0x10000000, 16, 0); },  // 2^32 bytes: wraps to 0
        [] { alloc_series(0x10000001, 16, 0); },  // wraps to 16
        [] { alloc_series(0x7FFFFFFF, 16, 0); },
        [] { alloc_series(0x7FFFFFF1, 1, 0); },   // rounding up to 16 passes the limit
        [] { alloc_cells(0x08000000); },
        [] { alloc_codepoints(0x40000000, 4); },
        [] { alloc_fixed_series(0x20000000, 8, 0); },
        [] { alloc_node_frame(0x40000000); },
        [] { alloc_big_frame(0xFFFFFFF8u); },
        [] { allocate_pages(0xFFFFFFFDu, false); },
        [&] { expand_series(n, -16); },
        [&] { expand_series(n, 0x7FFFFFFF); },
    };
    int i = 0;
    for (const auto& call : calls) {
        EXPECT_EQ(raised(call), Internal::no_memory) << "case " << i++;
        EXPECT_EQ(record->series_active->heap, heap);
        EXPECT_EQ(record->total, total);
    }
    EXPECT_EQ(n->buffer->capacity, 64u) << "a refused expansion keeps the buffer";
    EXPECT_EQ(n->buffer->flags & FLAG_USED, FLAG_USED);
}

TEST_F(Heap, ExpansionKeepsUnitAndLengthAndAbandonsTheOldBuffer) {
    // capacity units, unit, used units, head offset (bytes), new capacity -> capacity
    struct Case { int32_t count; uint32_t unit; uint32_t used; int32_t offset; int32_t ask; uint32_t capacity; };
    const Case cases[] = {
        {64, 1, 10, 0, 0, 128},
        {3, 16, 2, 0, 0, 96},
        {4, 4, 3, 0, 100, 112},    // 25 units of 4, rounded
        {10, 1, 3, -1, 0, 32},     // centred: content moves to the data start
        {16, 2, 16, 0, 4, 32},     // asked for less than is used: room for the content
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit);
        Node* n = alloc_series(c.count, c.unit, c.offset);
        Buffer* old = n->buffer;
        old->flags |= FLAG_OWNED;
        for (uint32_t i = 0; i < c.used * c.unit; i++) *old->tail++ = (uint8_t)(i + 1);
        Buffer* nb = expand_series_copy(n, c.ask);
        EXPECT_EQ(n->buffer, nb);
        EXPECT_EQ(nb->node, n);
        EXPECT_EQ(nb->capacity, c.capacity);
        EXPECT_EQ(nb->unit(), c.unit);
        EXPECT_TRUE(nb->flags & FLAG_OWNED) << "flags carry over";
        EXPECT_EQ(nb->head, nb->data());
        EXPECT_EQ(nb->used_bytes(), c.used * c.unit);
        for (uint32_t i = 0; i < c.used * c.unit; i++) ASSERT_EQ(nb->head[i], (uint8_t)(i + 1));
        EXPECT_EQ(old->node, nullptr);
        EXPECT_FALSE(old->flags & FLAG_USED);
    }
}

TEST_F(Heap, ExpansionFillsTheNewRoomAndCapacityZeroCannotDouble) {
    Node* n = alloc_bytes_filled(16, 0xAB);
    for (uint32_t i = 0; i < 16; i++) ASSERT_EQ(n->buffer->data()[i], 0xAB);
    Buffer* b = expand_series_filled(n, 64, 0x5C);
    for (uint32_t i = 0; i < 16; i++) ASSERT_EQ(b->data()[i], 0xAB);
    for (uint32_t i = 16; i < 64; i++) ASSERT_EQ(b->data()[i], 0x5C);

    Node* empty = alloc_series(0, 1, 0);
    EXPECT_EQ(raised([&] { expand_series(empty, 0); }), Internal::no_memory);
}

TEST_F(Heap, ExpansionAcrossTheBigThresholdSetsOrClearsTheBigFlag) {
    alloc_series_frame();
    alloc_series_frame();
    Node* n = alloc_bytes(1500000);
    Buffer* big = expand_series(n, 0);
    EXPECT_TRUE(big->flags & FLAG_BIG);
    Buffer* back = expand_series(n, 1500000);  // shrinking is allowed down to the used length
    EXPECT_FALSE(back->flags & FLAG_BIG);
}

TEST_F(Heap, FixedBuffersComeFromTheTrackedAllocator) {
    alloc_series_frame();
    uint8_t* heap = record->series_active->heap;
    Node* n = alloc_fixed_series(3, 16, 16);
    Buffer* b = n->buffer;
    EXPECT_EQ(record->series_active->heap, heap) << "no frame space";
    EXPECT_EQ(b->flags, 16u | FLAG_USED | FLAG_MADE | FLAG_FIXED);
    EXPECT_EQ(b->capacity, 48u);
    EXPECT_EQ(b->head, b->data() + 16);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(((sys::TrackedHeader*)b - 1)->size, 20u + 48u);

    // Expanding a fixed buffer moves it into a frame: it is no longer fixed,
    // and the tracked block goes back.
    Buffer* nb = expand_series_copy(n, 0);
    EXPECT_FALSE(nb->flags & FLAG_FIXED);
    EXPECT_EQ(nb->capacity, 96u);
    bool still_tracked = false;
    for (sys::TrackedHeader* h = sys::tracked_list.head; h; h = h->next) still_tracked |= (Buffer*)(h + 1) == b;
    EXPECT_FALSE(still_tracked);
}

TEST_F(Heap, WrappersMakeTheirBuffers) {
    struct Case { const char* name; Node* (*make)(); uint32_t capacity, unit; };
    const Case cases[] = {
        {"bytes 0", [] { return alloc_bytes(0); }, 16, 1},
        {"bytes 20", [] { return alloc_bytes(20); }, 32, 1},
        {"codepoints 0 x1", [] { return alloc_codepoints(0, 1); }, 16, 1},
        {"codepoints 0 x2", [] { return alloc_codepoints(0, 2); }, 16, 2},
        {"codepoints 0 x4", [] { return alloc_codepoints(0, 4); }, 16, 4},
        {"codepoints 5 x4", [] { return alloc_codepoints(5, 4); }, 32, 4},
        {"cells 3", [] { return alloc_cells(3); }, 48, 16},
        {"unset cells 3", [] { return alloc_unset_cells(3); }, 48, 16},
    };
    for (const Case& c : cases) {
        Node* n = c.make();
        EXPECT_EQ(n->buffer->capacity, c.capacity) << c.name;
        EXPECT_EQ(n->buffer->unit(), c.unit) << c.name;
        EXPECT_EQ(n->buffer->node, n) << c.name;
        EXPECT_EQ(n->buffer->used_bytes(), 0u) << c.name;
    }
    Buffer* u = alloc_unset_cells(3)->buffer;
    for (int i = 0; i < 3; i++) {
        uint32_t cell[4];
        memcpy(cell, u->data() + 16 * i, 16);
        EXPECT_EQ(cell[0], 2u);
        EXPECT_EQ(cell[1] | cell[2] | cell[3], 0u);
    }
}

TEST_F(Heap, CopySeriesCopiesFlagsAndContentFromTheHead) {
    Node* src = alloc_series(8, 4, -1);  // capacity 32, head at 16
    set_flag(src, FLAG_OWNED);
    Buffer* s = src->buffer;
    for (int i = 0; i < 12; i++) *s->tail++ = (uint8_t)(i + 1);
    Node* copy = copy_series(src);
    Buffer* c = copy->buffer;
    EXPECT_NE(copy, src);
    EXPECT_EQ(c->node, copy);
    EXPECT_EQ(c->capacity, 32u);
    EXPECT_EQ(c->unit(), 4u);
    EXPECT_TRUE(c->flags & FLAG_OWNED);
    EXPECT_EQ(c->head, c->data());
    ASSERT_EQ(c->used_bytes(), 12u);
    for (int i = 0; i < 12; i++) EXPECT_EQ(c->head[i], i + 1);
}

TEST_F(Heap, NodesComeFromFreeListsAndFramesAreReleasedWhenEmpty) {
    std::vector<Node*> nodes;
    for (uint32_t i = 0; i < NODE_FRAME_SLOTS + 1; i++) nodes.push_back(alloc_node());
    auto frames = node_frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0]->used, NODE_FRAME_SLOTS);
    EXPECT_EQ(frames[0]->free_head, nullptr);
    EXPECT_EQ(record->node_active, frames[1]);
    EXPECT_EQ(nodes[1], nodes[0] + 1) << "slots in order from a fresh frame";
    EXPECT_EQ(nodes[0]->buffer, nullptr) << "a taken node is zero";

    // Last freed, first taken.
    free_node(frames[0], nodes[7]);
    record->node_active = frames[0];
    EXPECT_EQ(alloc_node(), nodes[7]);

    // Frames: A full, B emptied, C with some used.
    for (uint32_t i = 0; i < 3; i++) alloc_node();
    for (uint32_t i = 0; i < NODE_FRAME_SLOTS - 4; i++) alloc_node();  // fills B
    Node* in_c = alloc_node();
    frames = node_frames();
    ASSERT_EQ(frames.size(), 3u);
    for (Node* n = frames[1]->slots(); n < frames[1]->slots() + NODE_FRAME_SLOTS; n++) free_node(frames[1], n);
    EXPECT_EQ(node_frame_of(in_c), frames[2]);
    release_empty_node_frames();
    auto kept = node_frames();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], frames[0]);
    EXPECT_EQ(kept[1], frames[2]);
    EXPECT_EQ(record->node_active, frames[2]) << "the first frame with room";
}

TEST_F(Heap, BigFrameSweepReleasesUnmarkedBuffers) {
    Node* keep = alloc_bytes(2200000);
    Node* drop = alloc_bytes(2300000);
    ASSERT_EQ(big_frames(), 2);
    NodeFrame* nf = node_frame_of(drop);
    uint32_t used = nf->used;
    keep->buffer->flags |= FLAG_MARK;
    uint32_t queued = collector::freed_count();
    sweep_big_frames();
    EXPECT_EQ(big_frames(), 1);
    EXPECT_EQ(record->big_first->buffer(), keep->buffer);
    EXPECT_FALSE(keep->buffer->flags & FLAG_MARK);
    EXPECT_EQ(collector::freed_count(), queued + 1);
    collector::release_freed();
#ifdef ZOL_GC_STRESS
    EXPECT_EQ((uintptr_t)drop->buffer, poison()) << "quarantined first, holding the poison";
    collector::flush_quarantine();
#endif
    EXPECT_EQ(nf->used, used - 1) << "the dropped buffer's node went back";
    free_big_frame(keep->buffer);
    EXPECT_EQ(big_frames(), 0);
}

TEST(Memory, StartUpMadeTheFirstFrames) {
    ASSERT_NE(record->node_first, nullptr);
    EXPECT_EQ(record->node_first->slot_count, NODE_FRAME_SLOTS);
    ASSERT_NE(record->series_first, nullptr);
    // The 1 MB start frame may be gone by now (a collection frees emptied
    // frames); every later frame has the maximum size.
    for (SeriesFrame* f = record->series_first; f; f = f->next)
        EXPECT_TRUE(f->size == SERIES_START_SIZE + 20 || f->size == SERIES_MAX_SIZE + 20) << f->size;
    EXPECT_EQ(record->stack_refs_capacity, STACK_REFS_START);
    EXPECT_STREQ(internal_name(Internal::no_memory), "no-memory");
    EXPECT_STREQ(internal_name(Internal::wrong_mem), "wrong-mem");
}
