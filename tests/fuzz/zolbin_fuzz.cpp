// Zolbin reader over arbitrary bytes, in both modes: an invalid-data,
// rb-invalid-record or no-codec error is a normal answer; a crash, a
// sanitizer report or a runtime error box is a finding. Each input is also
// read with its compact flag flipped, so one seed drives both readers.
// What the reader accepts is written again in both modes and read back, so
// the writers meet every value the reader lets through (dates and money with
// any accepted fields among them); what the writer makes, its reader must
// take.
// Built with the stress collector (scripts/fuzz-codecs with
// ZOL_FUZZ_STRESS=1), a collection runs every few series allocations of the
// reader, so a decoded value it leaves unrooted is read after being freed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"
#include "runtime/sys.h"
#include "tests/fuzz/boot.h"

static void read_once(const std::vector<uint8_t>& input) {
    stack::Arguments saved = stack::arguments;
    sys::catch_level(sys::THROW_ERROR, [&] {
        cell* out = block::push_new(4);
        zolbin::decode(input.data(), (uint32_t)input.size(), series::node_of(out));
        for (bool compact : {false, true}) {
            cell* again = compact ? zolbin::encode_compact(out) : zolbin::encode(out);
            memory::Buffer* b = series::buffer_of(again);
            std::vector<uint8_t> bytes(b->head, b->head + b->used_bytes());
            cell* back = block::push_new(4);
            uint32_t refused = sys::catch_level(sys::THROW_ERROR, [&] {
                zolbin::decode(bytes.data(), (uint32_t)bytes.size(), series::node_of(back));
            });
            if (refused) abort();
        }
    });
    sys::clear_throw();
    stack::arguments = saved;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_once("zolbin_fuzz", false);
    if (size > 65536) return 0;
    // A heap copy of exactly the input, so a read past it is caught.
    std::vector<uint8_t> input(data, data + size);
    read_once(input);
    if (size > 7) {
        input[7] ^= 1;
        read_once(input);
    }
    return 0;
}
