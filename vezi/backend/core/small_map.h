// A fixed map of at most 64 {key, value} pairs, searched linearly from the
// first (the brush cache of a render record: colour -> brush). A full map
// ignores further pairs.
#pragma once
#include <cstdint>

namespace gui {

struct SmallMap {
    static constexpr int32_t CAPACITY = 64;
    struct Pair {
        uint32_t key;
        uintptr_t value;
    };
    Pair pairs[CAPACITY];
    int32_t count = 0;

    // The value stored for the key, or 0.
    uintptr_t find(uint32_t key) const {
        for (int32_t i = 0; i < count; i++)
            if (pairs[i].key == key) return pairs[i].value;
        return 0;
    }
    // False (the map unchanged) when 64 pairs are held already.
    bool add(uint32_t key, uintptr_t value) {
        if (count >= CAPACITY) return false;
        pairs[count++] = {key, value};
        return true;
    }
};

}  // namespace gui
