// Memory statistics: what the memory manager holds, walked frame by frame.
//
// `measure` reads the node, series and big frames and the tracked blocks with
// automatic collection switched off (the heap must stand still while it is
// walked; the block it appends to is itself a series). Mode 1 is a number;
// mode 2 and above append a detail block of five items to the target:
//   1. per node frame  [free slots  used slots  slot count]
//   2. per series frame [free bytes  used bytes  heap size]
//   3. per big frame    its buffer-area size
//   4. total bytes reserved (frames with their headers, plus item 5)
//   5. tracked-allocation total (each block's size + its 16-byte header)
// Per-frame items carry the new-line marker so a mold shows one per line;
// totals above 2,147,483,647 are float!, others integer!.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

namespace memstats {

// Mode 1: bytes in use (4 per used node slot, carved bytes of every series
// frame, garbage included until the next collection, and big-buffer areas).
// Mode 2 or more: appends the detail block to `target` (a block! cell) and
// returns 0.
double measure(cell* target, int32_t mode);

// The two totals of the detail block.
double reserved_total();
double tracked_total();

// Prints the spelling of a word's symbol (debugging aid).
void print_symbol(const cell* word);

}  // namespace memstats
