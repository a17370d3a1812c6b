// The cycle stack: the containers a nested walk is inside.
//
// Values can contain themselves. Every walk that descends into nested values
// (form, mold, compare, deep copy, ownership marking) pushes the identity of
// each container it enters and consults the stack before descending again.
// An identity is the series node of a series value or the context node of an
// object! value.
//
// One array of CAPACITY pointer-sized entries, allocated at start-up and
// never freed, described by base, top (next free entry) and end. At most
// CAPACITY - 1 entries are ever held: the push that would fill the last one
// empties the stack and raises internal too-deep.
//
// Invariants:
// - base <= top < end.
// - A walk pops exactly what it pushed, also when an error leaves it: `Frame`
//   pops its entries in its destructor, so a throw from inside a walk cannot
//   leave stale entries, and pops never go below the base (an error path that
//   reset the stack meanwhile finds fewer entries than it pushed).
// - Entries are nodes (which never move); they are identities, not roots.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace cycles {

constexpr uint32_t CAPACITY = 1000;

struct Stack {
    void** base;
    void** top;
    void** end;
};
extern Stack stack;

// Allocates the array (start-up step 1.7).
void init();

// Identity of a container value: the context node of an object!, else the
// series node.
void* identity(const cell* value);

// Pushes an entry; the push that fills the last entry empties the stack and
// raises internal too-deep.
void push(void* node);
// Moves the top back by one, never below the base.
void pop();
// Moves the top back by n, never below the base.
void pop_n(uint32_t n);
// Empties the stack.
void reset();
// Entries held.
inline uint32_t depth() { return (uint32_t)(stack.top - stack.base); }
// Whether the node is on the stack.
bool find(const void* node);
// When the value's container is on the stack, appends its marker ("[...]",
// "(...)", "#[...]", "make object! [...]", "..." for paths; "..." for any type
// in form mode) to the string! `out`, lowers *budget by the marker's length
// and answers true; otherwise writes nothing.
bool detect(const cell* value, cell* out, int32_t* budget, bool mold);
// Appends four blanks per level to `out`; answers budget - 4 * level.
int32_t indent(cell* out, int32_t level, int32_t budget);

// Pushes a node for the lifetime of a scope and pops it at its end, also when
// an error unwinds through the scope.
class Frame {
public:
    explicit Frame(void* node) : held_(0) { add(node); }
    Frame() : held_(0) {}
    ~Frame() { pop_n(held_); }
    void add(void* node) {
        push(node);
        held_++;
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

private:
    uint32_t held_;
};

}  // namespace cycles
