// Collector entry points the memory manager relies on.
//
// The collector proper (marking, compaction, node-frame evacuation) is not
// built yet: `collect` does nothing. What exists is what the allocator calls:
// the enable switch, the cycle count recorded by new node frames, and the
// queue of nodes to give back to their frames after a sweep.
#pragma once
#include <cstdint>

namespace memory {
struct Node;
}

namespace collector {

// 1 while automatic collections may run; 0 until start-up has loaded the
// boot image.
extern int32_t enabled;
// Completed collections.
extern uint32_t cycle_count;
// 1 while a collection runs (hash tables then leave address keys alone).
extern int32_t collecting;
inline bool is_active() { return collecting != 0; }

// One full collection.
void collect();
// Runs `collect` when enabled.
void collect_if_enabled();

// The queue of nodes to release (20,000 entries), made by memory::init.
constexpr uint32_t FREED_CAPACITY = 20000;
void init_freed_list();
// Queues a node for release (0 is ignored); a full queue is released first.
void push_freed(memory::Node* node);
// Gives every queued node back to its node frame.
void release_freed();
// Nodes waiting in the queue.
uint32_t freed_count();

}  // namespace collector
